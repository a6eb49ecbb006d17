#include "platform/ChildProcess.h"

#include "comune/Channel.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <array>

#include <fcntl.h>
#include <unistd.h>

namespace sonora {

constexpr int kMaxDescriptors = 8;

void placeDescriptors(const int* fds, int count)
{
    // Each goes out of the way first: one may already sit where another goes.
    int high[kMaxDescriptors];
    for (int i = 0; i < count && i < kMaxDescriptors; ++i)
        high[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 3 + count);
    for (int i = 0; i < count && i < kMaxDescriptors; ++i)
        ::dup2(high[i], 3 + i);
}

std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments,
                                     std::initializer_list<int> fds, QString* error)
{
    std::array<int, kMaxDescriptors> handed{};
    const int count = int(std::min<std::size_t>(fds.size(), kMaxDescriptors));
    std::copy_n(fds.begin(), count, handed.begin());
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([handed, count] { placeDescriptors(handed.data(), count); });
    process->start();
    if (process->waitForStarted(10000))
        return process;
    if (error)
        *error = process->errorString();
    return nullptr;
}

void dismissChild(std::unique_ptr<QProcess> process, QObject* owner, int killAfterMs)
{
    QProcess* p = process.release();
    if (!p)
        return;
    p->setParent(owner);
    if (p->state() == QProcess::NotRunning) {
        p->deleteLater();
        return;
    }
    QObject::connect(p, &QProcess::finished, p, &QObject::deleteLater);
    QTimer::singleShot(killAfterMs, p, [p] { p->kill(); });
}

void closeChannel(std::shared_ptr<Channel> channel)
{
    if (!channel)
        return;
    channel->close();
    QTimer::singleShot(0, [channel = std::move(channel)] {});
}

} // namespace sonora
