#pragma once
// What the program's two helper processes (the player and the output) share
// on the program's side: how one is started with the descriptors it is
// handed and nothing else, and how one is let go.

#include "comune/Descrittori.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <span>

class QObject;
class QProcess;

namespace sonora {

class Channel;

// What a helper may say on the program's stderr: a longer line is cut, and
// lines past a second's share are dropped, with one note for that second.
constexpr int kRigaMassima = 512;
constexpr int kRigheAlSecondo = 50;

// The names of the program's environment a helper inherits; no other.
std::span<const char* const> ambienteConcesso();

// Starts `program` with `fds` as its descriptors 3, 4, 5... (at most 8) and
// no other open but its standard input (empty) and output, in a session of
// its own (no controlling terminal), with the environment above. What it
// writes reaches the program's stderr through a pipe, line by line within
// the bounds above, never the terminal itself. Null, with the reason in
// `error`, when it does not start.
std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments, std::span<const int> fds,
                                     QString* error);

// How long a dismissed helper has to end by itself before it is killed.
constexpr int kCongedoMs = 2000;

// Lets `process` go: it ends by itself once it reads the end of its channel;
// one still running after `killAfterMs` is killed. `owner` keeps it till then.
void dismissChild(std::unique_ptr<QProcess> process, QObject* owner, int killAfterMs);

// Hangs up at once; the channel itself is freed from the event loop, since
// this may run in its own callback.
void closeChannel(std::shared_ptr<Channel> channel);

// One helper process as the window holds it: its process and the window's
// end of the socket it talks on. Both helpers are started and let go alike.
struct Helper {
    std::unique_ptr<QProcess> process;
    std::shared_ptr<Channel> channel; // null: none runs
    explicit operator bool() const { return bool(channel); }
};

// Starts `program` as startChild() does, with its end of a new Unix stream
// socket at the channel's place of `consegna` (left -1 there) and the
// window's end in the Helper's Channel, which holds at most `limite` unsent
// bytes. An empty Helper, with the reason in `error`, when it does not start.
Helper startHelper(const QString& program, const QStringList& arguments, std::span<int> fds, std::size_t canale,
                   qsizetype limite, QString* error);
template <typename Posto>
Helper startHelper(const QString& program, const QStringList& arguments, descrittori::Consegna<Posto> consegna,
                   qsizetype limite, QString* error)
{
    auto fds = consegna.inOrdine();
    return startHelper(program, arguments, fds, std::size_t(int(Posto::Canale) - descrittori::kPrimo), limite, error);
}

// Hangs up and lets it go (dismissChild() after kCongedoMs); `owner` keeps
// it till it has ended.
void dismissHelper(Helper& helper, QObject* owner);

} // namespace sonora
