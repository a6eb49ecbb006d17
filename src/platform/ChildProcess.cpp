#include "platform/ChildProcess.h"

#include "comune/Channel.h"
#include "comune/Errori.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <array>

#include <fcntl.h>
#include <sys/socket.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <unistd.h>

namespace sonora {
namespace {

constexpr int kMaxDescriptors = 8;

// Each name is read by a library a helper runs, or passed by the tests on
// purpose; anything else of the program's (the session bus, the display, an
// agent's socket, the user's own variables) stays with the program.
constexpr const char* kAmbiente[] = {
    // GLib: where GStreamer's registry is cached (XDG_CACHE_HOME, else
    // $HOME/.cache); libpulse: the cookie and client.conf; ALSA: ~/.asoundrc.
    "HOME", "XDG_CACHE_HOME",
    // libpulse: the server's socket under the runtime folder, its own
    // settings; ORC looks there too before it falls back to an anonymous map.
    "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "PULSE_SERVER", "PULSE_SINK", "PULSE_COOKIE", "PULSE_CLIENTCONFIG",
    "PULSE_RUNTIME_PATH",
    // ALSA, where there is no sound server.
    "ALSA_CONFIG_PATH", "ALSA_CONFIG_DIR",
    // GStreamer: its log, the registry the tests make fresh, a user's plugins.
    "GST_DEBUG", "GST_REGISTRY", "GST_PLUGIN_PATH",
    // ORC: "backup" turns its code generation off.
    "ORC_CODE",
    // The C library's and gettext's language: GStreamer's reasons reach the
    // user in it, and Qt wants a UTF-8 locale.
    "LANG", "LANGUAGE", "LC_ALL", "LC_CTYPE", "LC_MESSAGES",
    // The sanitizer runtimes of the checked builds (the tests' suppressions).
    "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
};

QProcessEnvironment ambienteDelFiglio()
{
    const QProcessEnvironment programma = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment figlio;
    for (const char* nome : kAmbiente) {
        const QString n = QString::fromLatin1(nome);
        if (programma.contains(n))
            figlio.insert(n, programma.value(n));
    }
    // Qt starts a process given an empty environment with the program's whole one.
    if (figlio.isEmpty())
        figlio.insert(QStringLiteral("HOME"), QDir::homePath());
    return figlio;
}

// In the child, between fork and exec (async-signal-safe only): a session of
// its own, `fds` at 3, 4, 5..., and every other descriptor closed at exec,
// whoever opened it and however. Closed at exec rather than now, so that Qt
// can still report a failed exec through its own pipe.
void preparaFiglio(const int* fds, int count)
{
    ::setsid();
    // Each goes out of the way first: one may already sit where another goes.
    int high[kMaxDescriptors];
    for (int i = 0; i < count; ++i)
        high[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 3 + count);
    for (int i = 0; i < count; ++i)
        ::dup2(high[i], 3 + i);
    if (::close_range(unsigned(3 + count), ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // Kernels before 5.11.
    rlimit limite{};
    ::getrlimit(RLIMIT_NOFILE, &limite);
    for (int fd = 3 + count; rlim_t(fd) < limite.rlim_cur; ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// Carries what a helper writes to the program's stderr: whole lines, each
// named after the helper, with no control character that a terminal would
// act on, within the bounds.
class Eco {
public:
    explicit Eco(QProcess* process)
        : process_(process)
    {
        secondo_.start();
    }

    // Each line is named after the helper and its process.
    void nato()
    {
        prefisso_ = QFileInfo(process_->program()).fileName().toUtf8() + '['
            + QByteArray::number(process_->processId()) + "]: ";
    }

    void leggi()
    {
        resto_ += process_->readAllStandardOutput();
        qsizetype da = 0;
        for (qsizetype fine; (fine = resto_.indexOf('\n', da)) >= 0; da = fine + 1) {
            if (!taglia_)
                riga(QByteArrayView(resto_).sliced(da, fine - da));
            taglia_ = false;
        }
        resto_.remove(0, da);
        // A line that does not end is cut, and the rest of it dropped.
        if (resto_.size() > kRigaMassima) {
            if (!taglia_)
                riga(resto_);
            taglia_ = true;
            resto_.clear();
        }
    }

    void fine()
    {
        leggi();
        if (!resto_.isEmpty() && !taglia_)
            riga(resto_);
        resto_.clear();
    }

private:
    void riga(QByteArrayView testo)
    {
        if (secondo_.hasExpired(1000)) {
            secondo_.restart();
            righe_ = 0;
        }
        if (++righe_ > kRigheAlSecondo) {
            if (righe_ == kRigheAlSecondo + 1)
                scrivi("(altre righe taciute per un secondo)");
            return;
        }
        scrivi(testo.first(std::min<qsizetype>(testo.size(), kRigaMassima)));
    }

    void scrivi(QByteArrayView testo)
    {
        QByteArray r = prefisso_;
        for (qsizetype i = 0; i < testo.size(); ++i) {
            const auto c = static_cast<unsigned char>(testo[i]);
            // C0 and DEL; and C1, as UTF-8 writes it (C2 80 to C2 9F).
            const bool c1 = c == 0xc2 && i + 1 < testo.size() && static_cast<unsigned char>(testo[i + 1]) < 0xa0
                && static_cast<unsigned char>(testo[i + 1]) >= 0x80;
            if ((c < 0x20 && c != '\t') || c == 0x7f || c1) {
                r += '?';
                i += c1 ? 1 : 0;
            } else {
                r += char(c);
            }
        }
        r += '\n';
        for (qsizetype scritti = 0; scritti < r.size();) {
            const ssize_t n = ::write(STDERR_FILENO, r.constData() + scritti, size_t(r.size() - scritti));
            if (n <= 0)
                return;
            scritti += n;
        }
    }

    QProcess* process_;
    QByteArray prefisso_;
    QByteArray resto_;
    bool taglia_ = false; // dropping the rest of a line cut short
    QElapsedTimer secondo_;
    int righe_ = 0;
};

} // namespace

std::span<const char* const> ambienteConcesso() { return kAmbiente; }

std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& arguments, std::span<const int> fds,
                                     QString* error)
{
    std::array<int, kMaxDescriptors> handed{};
    const int count = int(std::min<std::size_t>(fds.size(), kMaxDescriptors));
    std::copy_n(fds.begin(), count, handed.begin());
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessEnvironment(ambienteDelFiglio());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([handed, count] { preparaFiglio(handed.data(), count); });
    QProcess* p = process.get();
    auto eco = std::make_shared<Eco>(p);
    QObject::connect(p, &QProcess::readyReadStandardOutput, p, [eco] { eco->leggi(); });
    QObject::connect(p, &QProcess::finished, p, [eco] { eco->fine(); });
    process->start();
    if (process->waitForStarted(10000)) {
        eco->nato();
        return process;
    }
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

Helper startHelper(const QString& program, const QStringList& arguments, std::span<int> fds, std::size_t canale,
                   qsizetype limite, QString* error)
{
    int coppia[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, coppia) != 0) {
        if (error)
            *error = reasonFromErrno(errno);
        return {};
    }
    fds[canale] = coppia[1];
    Helper helper;
    helper.process = startChild(program, arguments, fds, error);
    ::close(coppia[1]);
    if (!helper.process) {
        ::close(coppia[0]);
        return {};
    }
    helper.channel = std::make_shared<Channel>(coppia[0], limite);
    return helper;
}

void dismissHelper(Helper& helper, QObject* owner)
{
    closeChannel(std::move(helper.channel));
    dismissChild(std::move(helper.process), owner, kCongedoMs);
}

void closeChannel(std::shared_ptr<Channel> channel)
{
    if (!channel)
        return;
    channel->close();
    QTimer::singleShot(0, [channel = std::move(channel)] {});
}

} // namespace sonora
