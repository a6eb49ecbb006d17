// The helpers' confinement, tried the way a file that took the decoder over
// (or code that took the output over) would: each test confines a child
// process it forks (this program starts no thread, as the helpers confine
// before their first) and has it try what a hostile file would want, then
// reads back how each attempt ended.

#include "riproduttore/Permessi.h"
#include "uscita/Permessi.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sonora::confinamento;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizzato = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizzato = true;
#else
constexpr bool kSanitizzato = false;
#endif
#else
constexpr bool kSanitizzato = false;
#endif

// Each helper confined as it runs once set up: the decoder confined, then
// sealed against paths; the output inside Landlock, then sealed.
enum class Aiutante { Riproduttore, Uscita };

Confino confinaCome(Aiutante chi, const OpzioniConfino& opzioni)
{
    if (chi == Aiutante::Riproduttore) {
        Confino c = sonora::riproduttore::confinaRiproduttore(opzioni);
        if (c.seccomp)
            c.seccomp = sonora::riproduttore::sigillaPercorsi().empty();
        return c;
    }
    Confino c = sonora::uscita::confinaUscita(opzioni);
    c.seccomp = opzioni.seccomp && sonora::uscita::sigillaUscita().empty();
    return c;
}

// How a confined child's attempts ended: 0 for success, else the errno.
struct Esito {
    int landlock = -1;
    bool seccomp = false;
    std::map<std::string, int> tentativi;

    // The errno of `nome`, or -1 if the child never reported it (it
    // died, or an exec that should have failed replaced it).
    int operator[](const std::string& nome) const
    {
        const auto it = tentativi.find(nome);
        return it == tentativi.end() ? -1 : it->second;
    }
};

class Tentativi {
public:
    explicit Tentativi(int fd) : fd_(fd) {}
    // Records how `risultato` (a system call's return) ended, at once: an
    // exec that succeeds leaves no chance to report later.
    void operator()(const std::string& nome, long risultato)
    {
        const int numero = risultato < 0 ? errno : 0;
        scrivi(nome + " " + std::to_string(numero) + "\n");
    }
    void scrivi(const std::string& riga) { (void)!::write(fd_, riga.data(), riga.size()); }

private:
    int fd_;
};

template <typename Confina, typename Prove>
Esito nelConfino(Confina confina, Prove prove)
{
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t figlio = ::fork();
    if (figlio == 0) {
        ::close(tubo[0]);
        const Confino c = confina();
        Tentativi tenta(tubo[1]);
        tenta.scrivi("landlock " + std::to_string(c.landlock) + "\nseccomp " + (c.seccomp ? "1" : "0") + "\n");
        prove(tenta);
        ::_exit(0);
    }
    ::close(tubo[1]);
    std::string uscita;
    char buffer[512];
    for (ssize_t n; (n = ::read(tubo[0], buffer, sizeof buffer)) > 0;)
        uscita.append(buffer, size_t(n));
    ::close(tubo[0]);
    int stato = 0;
    ::waitpid(figlio, &stato, 0);
    Esito e;
    std::istringstream righe(uscita);
    for (std::string nome; righe >> nome;) {
        int valore = 0;
        righe >> valore;
        if (nome == "landlock")
            e.landlock = valore;
        else if (nome == "seccomp")
            e.seccomp = valore != 0;
        else
            e.tentativi[nome] = valore;
    }
    return e;
}

// The same, with a thread started before the child confines: `confinamento`
// runs on the main thread, then `prove` on it and on that thread, each
// naming its attempts after `chi`.
template <typename Confinamento, typename Prove>
Esito nelConfinoConFilo(Confinamento confinamento, Prove prove)
{
    int via[2];
    if (::pipe2(via, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    return nelConfino([] { return Confino{}; }, [&](Tentativi& tenta) {
        std::thread filo([&] {
            char c;
            (void)!::read(via[0], &c, 1);
            prove(tenta, std::string("filo_"));
        });
        confinamento(tenta);
        prove(tenta, std::string("main_"));
        (void)!::write(via[1], "v", 1);
        filo.join();
    });
}

// A Unix socket listening at a path, or at an abstract name, as the session
// bus, the display and the sound server do.
struct Ascolto {
    int fd = -1;
    sockaddr_un indirizzo{};
    socklen_t lunghezza = 0;
    Ascolto(const std::string& nome, bool astratto)
    {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        indirizzo.sun_family = AF_UNIX;
        std::memcpy(indirizzo.sun_path + (astratto ? 1 : 0), nome.data(), nome.size());
        lunghezza = socklen_t(offsetof(sockaddr_un, sun_path) + nome.size() + (astratto ? 1 : 0));
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&indirizzo), lunghezza) != 0 || ::listen(fd, 8) != 0)
            throw std::runtime_error("listen");
    }
    ~Ascolto() { ::close(fd); }
    // Connects `s`, a socket made before confining.
    long connetti(int s) const { return ::connect(s, reinterpret_cast<const sockaddr*>(&indirizzo), lunghezza); }
};

int socketUnix() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

long coppia(int tipo)
{
    int fds[2];
    const int r = ::socketpair(AF_UNIX, tipo | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds);
    if (r == 0) {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    return r;
}

int crea(const fs::path& p) { return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); }

class Confinamento : public ::testing::Test {
protected:
    Confinamento()
    {
        char modello[] = "/tmp/sonora-confino-XXXXXX";
        cartella = ::mkdtemp(modello);
        canzone = cartella / "canzone.wav";
        std::ofstream(canzone) << contenuto;
        ::chmod(canzone.c_str(), 0644);
        // A program outside the system's folders.
        eseguibile = cartella / "vero";
        fs::copy_file("/bin/true", eseguibile);
        fs::permissions(eseguibile, fs::perms::owner_all);
        const char* home = std::getenv("HOME");
        nome = "sonora-confino-" + std::to_string(::getpid());
        if (home && *home)
            inCasa = fs::path(home) / nome;
        inTmp = fs::path("/tmp") / nome;
        // A terminal, opened before confining as the player inherits one.
        pty = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0)
            terminale = ::open(::ptsname(pty), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~Confinamento() override
    {
        if (terminale >= 0)
            ::close(terminale);
        if (pty >= 0)
            ::close(pty);
        std::error_code ignorato;
        fs::remove_all(cartella, ignorato);
        fs::remove(inTmp, ignorato);
        if (!inCasa.empty())
            fs::remove(inCasa, ignorato);
    }

    // The attempts on files every layer must refuse.
    void scritture(Tentativi& tenta) const
    {
        tenta("crea_cartella", crea(cartella / "nuovo"));
        tenta("crea_tmp", crea(inTmp));
        if (!inCasa.empty())
            tenta("crea_casa", crea(inCasa));
        tenta("scrivi", ::open(canzone.c_str(), O_WRONLY | O_CLOEXEC));
        tenta("aggiorna", ::open(canzone.c_str(), O_RDWR | O_CLOEXEC));
        tenta("aggiungi", ::open(canzone.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        tenta("rinomina", ::rename(canzone.c_str(), (cartella / "altro").c_str()));
        tenta("cancella", ::unlink(canzone.c_str()));
        tenta("leggi", leggi());
    }

    // 0 when the song, open before confining as the program hands it
    // over, reads back whole through its descriptor.
    long leggiDato(int fd) const
    {
        std::string letto(contenuto.size() + 1, '\0');
        const ssize_t n = ::pread(fd, letto.data(), letto.size(), 0);
        if (n < 0)
            return -1;
        errno = EIO;
        return letto.substr(0, size_t(n)) == contenuto ? 0 : -1;
    }

    // 0 when the song reads back whole by its name.
    long leggi() const
    {
        std::ifstream f(canzone, std::ios::binary);
        std::string letto((std::istreambuf_iterator<char>(f)), {});
        if (!f.good() && !f.eof()) {
            errno = EACCES;
            return -1;
        }
        errno = EIO;
        return letto == contenuto ? 0 : -1;
    }

    void nonScritto() const
    {
        std::ifstream f(canzone, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(f)), {}), contenuto);
        EXPECT_FALSE(fs::exists(cartella / "nuovo"));
        EXPECT_FALSE(fs::exists(inTmp));
        if (!inCasa.empty()) {
            EXPECT_FALSE(fs::exists(inCasa));
        }
    }

    const std::string contenuto = "RIFF....WAVEfmt ";
    fs::path cartella, canzone, eseguibile, inCasa, inTmp;
    int pty = -1, terminale = -1;
    std::string nome;
};

long esegui(const char* programma)
{
    char* const argv[] = {const_cast<char*>(programma), nullptr};
    char* const envp[] = {nullptr};
    return ::execve(programma, argv, envp);
}

long connettiTcp()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9); // whether anything listens does not matter
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int r = ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    const int numero = errno;
    ::close(s);
    errno = numero;
    return r;
}

} // namespace

// Landlock alone, first as Debian 12's kernel gives it: the ruleset must be
// one that kernel accepts, and it does not cover truncation (seccomp does).
TEST_F(Confinamento, LandlockAloneRefusesWritingAndForeignProgramsAtAbi2AndAtTheKernels)
{
    const int abi = abiLandlock();
    if (abi == 0)
        GTEST_SKIP() << "kernel without Landlock";
    for (const int massima : {2, abi}) {
        SCOPED_TRACE(massima);
        std::ofstream(canzone) << contenuto;
        OpzioniConfino soloLandlock;
        soloLandlock.seccomp = false;
        soloLandlock.abiMassima = massima;
        const Esito e = nelConfino([&] { return confinaCome(Aiutante::Riproduttore, soloLandlock); }, [&](Tentativi& tenta) {
            scritture(tenta);
            tenta("tcp", connettiTcp());
            tenta("tronca", ::truncate(canzone.c_str(), 0));
            tenta("exec", esegui(eseguibile.c_str()));
        });
        EXPECT_EQ(e.landlock, std::min(massima, abi));
        EXPECT_FALSE(e.seccomp);
        for (const char* n : {"crea_cartella", "crea_tmp", "scrivi", "aggiorna", "aggiungi", "cancella", "exec"})
            EXPECT_EQ(e[n], EACCES) << n;
        if (!inCasa.empty()) {
            EXPECT_EQ(e["crea_casa"], EACCES);
        }
        EXPECT_NE(e["rinomina"], 0);
        EXPECT_EQ(e["leggi"], EACCES) << "a file outside the system's folders, by name";
        if (e.landlock >= 3)
            EXPECT_EQ(e["tronca"], EACCES);
        else
            EXPECT_EQ(e["tronca"], 0) << "ABI 2 handles no truncation: the ruleset was masked to it";
        if (e.landlock >= 4) {
            EXPECT_EQ(e["tcp"], EACCES);
        } else {
            EXPECT_NE(e["tcp"], EACCES) << "no TCP rights before ABI 4";
        }
    }
}

// Each helper as it runs once set up, with Landlock as Debian 12's kernel
// gives it (ABI 2) and with none at all: what a hostile file would try is
// refused by the filter alone, and what the helper must do still works.
struct Caso {
    Aiutante chi;
    bool landlock;
};

class Malizia : public Confinamento, public ::testing::WithParamInterface<Caso> {
protected:
    Malizia()
    {
        // A process of the same user, which the helper must not reach.
        vittima = ::fork();
        if (vittima == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~Malizia() override
    {
        ::kill(vittima, SIGKILL);
        ::waitpid(vittima, nullptr, 0);
    }
    bool vittimaVive() const { return ::waitpid(vittima, nullptr, WNOHANG) == 0; }
    pid_t vittima = -1;
};

TEST_P(Malizia, RefusedEverythingThatReachesOutAndStillDoesItsWork)
{
    const Caso caso = GetParam();
    const fs::path casa = cartella / "casa";
    fs::create_directories(casa / ".ssh");
    const fs::path chiave = casa / ".ssh" / "id_ed25519";
    std::ofstream(chiave) << "segreto";
    const std::string homePrima = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", casa.c_str(), 1); // what a helper grants follows it
    // What a helper is handed before it confines: a song, shared memory
    // (the ring) and its socket.
    const int dato = ::open(canzone.c_str(), O_RDONLY | O_CLOEXEC);
    const int memoria = ::memfd_create("anello", MFD_CLOEXEC);
    (void)!::ftruncate(memoria, 4096);
    auto* anello = static_cast<char*>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, memoria, 0));
    anello[1] = 'r';
    int presa[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, presa);
    const std::string genitore = "/proc/" + std::to_string(::getpid()) + "/mem";
    OpzioniConfino opzioni;
    opzioni.abiMassima = 2;
    opzioni.landlock = caso.landlock;
    const Esito e = nelConfino([&] { return confinaCome(caso.chi, opzioni); }, [&](Tentativi& tenta) {
        const rlimit sette{7, 7};
        tenta("prlimit", ::prlimit(vittima, RLIMIT_NOFILE, &sette, nullptr));
        tenta("setpriority", ::setpriority(PRIO_PROCESS, id_t(vittima), 19));
        cpu_set_t una;
        CPU_ZERO(&una);
        CPU_SET(0, &una);
        tenta("sched_setaffinity", ::sched_setaffinity(vittima, sizeof una, &una));
        // A signal sent for a pipe's input, to another process.
        int tubo[2];
        (void)!::pipe2(tubo, O_CLOEXEC);
        tenta("f_setown", ::fcntl(tubo[0], F_SETOWN, vittima));
        tenta("f_setsig", ::fcntl(tubo[0], F_SETSIG, SIGKILL));
        tenta("o_async", ::fcntl(tubo[0], F_SETFL, O_ASYNC | O_NONBLOCK));
        (void)!::write(tubo[1], "x", 1);
        const int avvisi = ::inotify_init1(IN_CLOEXEC);
        tenta("inotify", avvisi < 0 ? avvisi : ::inotify_add_watch(avvisi, cartella.c_str(), IN_OPEN));
        tenta("shmget", ::shmget(IPC_PRIVATE, 1 << 20, IPC_CREAT | 0600));
        const int grande = ::memfd_create("grande", MFD_CLOEXEC);
        tenta("memfd", grande);
        tenta("fallocate", ::fallocate(grande >= 0 ? grande : dato, 0, 0, 1 << 20));
        tenta("chiave", ::open(chiave.c_str(), O_RDONLY | O_CLOEXEC));
        tenta("memoria_genitore", ::open(genitore.c_str(), O_RDONLY | O_CLOEXEC));
        tenta("inet", ::socket(AF_INET, SOCK_STREAM, 0));
        tenta("unix", socketUnix());
        scritture(tenta);
        tenta("tronca", ::truncate(canzone.c_str(), 0));
        tenta("chmod", ::chmod(canzone.c_str(), 0666));
        tenta("fchmodat2", ::syscall(452, AT_FDCWD, canzone.c_str(), 0666, 0)); // newer than libseccomp
        tenta("unshare", ::unshare(CLONE_NEWUSER));
        // A character typed into a terminal, the request disguised in the high bits.
        const char spazio = ' ';
        if (terminale >= 0)
            tenta("tiocsti", ::syscall(SYS_ioctl, terminale, (1UL << 32) | TIOCSTI, &spazio));
        tenta("exec", esegui("/bin/true"));
        tenta("segnale", ::kill(::getppid(), 0));
        // What it must still do.
        tenta("dato", leggiDato(dato));
        anello[0] = 'a';
        tenta("anello", anello[1] == 'r' ? 0 : (errno = EIO, -1));
        tenta("presa", ::send(presa[1], "v", 1, MSG_NOSIGNAL));
        tenta("coppia", coppia(SOCK_STREAM));
    });
    ::setenv("HOME", homePrima.c_str(), 1);
    EXPECT_EQ(e.landlock > 0, caso.landlock && abiLandlock() > 0);
    EXPECT_TRUE(e.seccomp);
    // A sanitized build's leak checker reads /proc by name at exit: there
    // only Landlock keeps reading by name to the system's folders.
    if (!kSanitizzato || caso.landlock) {
        EXPECT_NE(e["chiave"], 0);
        EXPECT_NE(e["leggi"], 0) << "the song by its own name, Landlock or not";
    }
    if (!kSanitizzato) {
        EXPECT_NE(e["memoria_genitore"], 0);
    }
    for (const char* n : {"prlimit", "setpriority", "sched_setaffinity", "f_setown", "f_setsig", "o_async", "inotify",
                          "shmget", "memfd", "fallocate", "inet", "unix", "exec",
                          "crea_cartella", "crea_tmp", "scrivi", "aggiorna", "aggiungi", "rinomina", "cancella",
                          "tronca", "chmod", "fchmodat2", "unshare"})
        EXPECT_NE(e[n], 0) << n;
    if (terminale >= 0) {
        EXPECT_NE(e["tiocsti"], 0);
    }
    if (!kSanitizzato) {
        EXPECT_NE(e["segnale"], 0);
    }
    EXPECT_TRUE(vittimaVive());
    rlimit limite{};
    ::prlimit(vittima, RLIMIT_NOFILE, nullptr, &limite);
    EXPECT_NE(limite.rlim_cur, 7u);
    for (const char* n : {"dato", "anello", "presa", "coppia"})
        EXPECT_EQ(e[n], 0) << n;
    EXPECT_EQ(anello[0], 'a') << "its writes reach the shared memory";
    char c = 0;
    EXPECT_EQ(::recv(presa[0], &c, 1, MSG_DONTWAIT), 1);
    ::munmap(anello, 4096);
    for (const int fd : {dato, memoria, presa[0], presa[1]})
        ::close(fd);
    nonScritto();
}

INSTANTIATE_TEST_SUITE_P(, Malizia,
                         ::testing::Values(Caso{Aiutante::Riproduttore, true}, Caso{Aiutante::Riproduttore, false},
                                           Caso{Aiutante::Uscita, true}, Caso{Aiutante::Uscita, false}),
                         [](const auto& info) {
                             return std::string(info.param.chi == Aiutante::Riproduttore ? "Riproduttore" : "Uscita")
                                 + (info.param.landlock ? "ConLandlockAbi2" : "SenzaLandlock");
                         });

// What a decoder taken over would reach first: the session bus, the display,
// an agent, the sound server, all listening Unix sockets, at a path or an
// abstract name. Nothing, from any thread, even one started before the
// filter; only GStreamer's stream pairs are made.
TEST_F(Confinamento, TheDecoderConnectsNowhereFromAnyThread)
{
    const Ascolto percorso((cartella / "bus").string(), false);
    const Ascolto astratto(nome, true);
    std::map<std::string, int> liberi; // sockets made before the filter, per attempt
    const Esito e = nelConfinoConFilo(
        [&](Tentativi& tenta) {
            for (const char* chi : {"main_", "filo_"})
                for (const char* dove : {"percorso", "astratto"})
                    liberi[std::string(chi) + dove] = socketUnix();
            // Landlock as Debian 12's kernel gives it, which scopes no abstract socket:
            // the filter alone must refuse them.
            OpzioniConfino debian12;
            debian12.abiMassima = 2;
            const Confino c = confinaCome(Aiutante::Riproduttore, debian12);
            tenta("filtro", c.seccomp ? 0 : (errno = EINVAL, -1));
        },
        [&](Tentativi& tenta, const std::string& chi) {
            tenta(chi + "percorso", percorso.connetti(liberi[chi + "percorso"]));
            tenta(chi + "astratto", astratto.connetti(liberi[chi + "astratto"]));
            tenta(chi + "socket", socketUnix());
            tenta(chi + "coppia", coppia(SOCK_STREAM));
            tenta(chi + "coppia_datagrammi", coppia(SOCK_DGRAM));
        });
    EXPECT_EQ(e["filtro"], 0);
    for (const std::string chi : {"main_", "filo_"}) {
        SCOPED_TRACE(chi);
        EXPECT_EQ(e[chi + "percorso"], EPERM);
        EXPECT_EQ(e[chi + "astratto"], EPERM);
        EXPECT_EQ(e[chi + "socket"], EPERM);
        EXPECT_EQ(e[chi + "coppia"], 0) << "GStreamer's poll needs its pair";
        EXPECT_NE(e[chi + "coppia_datagrammi"], 0);
    }
}

// The output process acquires, then drops: the connection it opened before
// sealing still carries sound, and no other can be made, by any thread.
TEST_F(Confinamento, TheSealedOutputKeepsItsOneConnectionAndMakesNoOther)
{
    const Ascolto server((cartella / "server").string(), false);
    int connessione = -1;
    std::map<std::string, int> liberi;
    const Esito e = nelConfinoConFilo(
        [&](Tentativi& tenta) {
            connessione = socketUnix();
            tenta("prima", server.connetti(connessione));
            for (const char* chi : {"main_", "filo_"})
                liberi[chi] = socketUnix();
            tenta("sigillo", sonora::uscita::sigillaUscita().empty() ? 0 : (errno = EINVAL, -1));
        },
        [&](Tentativi& tenta, const std::string& chi) {
            tenta(chi + "invia", ::send(connessione, "x", 1, MSG_NOSIGNAL));
            tenta(chi + "connetti", server.connetti(liberi[chi]));
            tenta(chi + "socket", socketUnix());
            tenta(chi + "coppia", coppia(SOCK_STREAM));
            tenta(chi + "crea", crea(cartella / (chi + "nuovo")));
            tenta(chi + "exec", esegui("/bin/true"));
        });
    EXPECT_EQ(e["prima"], 0);
    EXPECT_EQ(e["sigillo"], 0);
    for (const std::string chi : {"main_", "filo_"}) {
        SCOPED_TRACE(chi);
        EXPECT_EQ(e[chi + "invia"], 0) << "the connection it opened first";
        EXPECT_EQ(e[chi + "connetti"], EPERM);
        EXPECT_EQ(e[chi + "socket"], EPERM);
        EXPECT_EQ(e[chi + "coppia"], 0);
        EXPECT_EQ(e[chi + "crea"], EACCES);
        EXPECT_NE(e[chi + "exec"], 0);
    }
    nonScritto();
}
