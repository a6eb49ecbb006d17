#include "support/FakeMediaDevice.h"

#include "platform/Errori.h"

namespace sonora::test {

void FakeMediaDevice::open(const QString& path, const QString& deviceType)
{
    state_->calls << QStringLiteral("open %1 %2").arg(deviceType, path);
    state_->open = false;
    if (state_->failingPaths.contains(path))
        throw MediaError(path, QStringLiteral("file non trovato"));
    state_->open = true;
    state_->playing = false;
    state_->length = state_->lengthOnOpen;
    state_->position = 0;
    state_->openPath = path;
    state_->openType = deviceType;
}

void FakeMediaDevice::close()
{
    state_->calls << QStringLiteral("close");
    state_->open = false;
    state_->playing = false;
    state_->openPath.clear();
}

void FakeMediaDevice::play()
{
    state_->calls << QStringLiteral("play");
    state_->playing = true;
}

void FakeMediaDevice::stop()
{
    state_->calls << QStringLiteral("stop");
    if (!state_->open)
        return;
    state_->playing = false;
    state_->position = 0;
}

void FakeMediaDevice::finish()
{
    state_->position = state_->length;
    state_->playing = false;
    if (onEndOfStream)
        onEndOfStream();
}

} // namespace sonora::test
