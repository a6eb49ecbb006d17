#include "support/FakeMediaDevice.h"

#include "comune/Errori.h"

namespace sonora::test {

namespace {
QLatin1String kindName(MediaKind kind)
{
    static const char* const names[] = {"Midi", "Wave", "Video"};
    return QLatin1String(names[int(kind)]);
}
} // namespace

void FakeMediaDevice::prepare(const QString& path, MediaKind kind)
{
    state_->hints << kindName(kind) + QLatin1Char(' ') + path;
}

void FakeMediaDevice::open(const QString& path, MediaKind kind)
{
    state_->calls << QStringLiteral("open %1 %2").arg(kindName(kind), path);
    state_->state = MediaState::Closed;
    if (state_->failingPaths.contains(path))
        throw MediaError(path, QStringLiteral("file non trovato"));
    state_->state = MediaState::Ready;
    state_->duration = state_->durationOnOpen;
    state_->openPath = path;
    state_->position = 0ms;
    state_->openKind = kindName(kind);
}

void FakeMediaDevice::close()
{
    state_->calls << QStringLiteral("close");
    state_->state = MediaState::Closed;
    state_->duration.reset();
    state_->position = 0ms;
    state_->openPath.clear();
    state_->openKind.clear();
}

void FakeMediaDevice::play()
{
    state_->calls << QStringLiteral("play");
    if (state_->playFails)
        throw MediaError(state_->openPath, QStringLiteral("la riproduzione non parte"));
    if (state_->state == MediaState::Ready)
        state_->state = MediaState::Playing;
}

void FakeMediaDevice::stop()
{
    state_->calls << QStringLiteral("stop");
    if (state_->stopFails)
        throw MediaError(QStringLiteral("Il componente di riproduzione si è interrotto."));
    if (!state_->open())
        return;
    state_->state = MediaState::Ready;
    state_->position = 0ms;
}

void FakeMediaDevice::finish()
{
    state_->state = MediaState::Ended;
    if (onEnded)
        onEnded();
}

} // namespace sonora::test
