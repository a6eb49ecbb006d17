#pragma once
// What the program's two helper processes (the player and the output) share
// on the program's side: how one is started with the descriptors it is
// handed and nothing else, and how one is let go.

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>

class QObject;
class QProcess;

namespace sonora {

class Channel;

// Starts `program` with `fds` as its descriptors 3, 4, 5... (at most 8), its
// standard input empty and its output the program's. Null, with the reason in
// `error`, when it does not start.
std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments,
                                     std::initializer_list<int> fds, QString* error);

// Lets `process` go: it ends by itself once it reads the end of its channel;
// one still running after `killAfterMs` is killed. `owner` keeps it till then.
void dismissChild(std::unique_ptr<QProcess> process, QObject* owner, int killAfterMs);

// Hangs up at once; the channel itself is freed from the event loop, since
// this may run in its own callback.
void closeChannel(std::shared_ptr<Channel> channel);

// In a child about to start a program: puts `fds` at 3, 4, 5... and leaves
// every other descriptor to close on exec. Async-signal-safe.
void placeDescriptors(const int* fds, int count);

} // namespace sonora
