#pragma once
// The helpers' confinement, tried the way a file that took the decoder over
// (or code that took the output over) would: each test confines a child
// process it forks (this program starts no thread, as the helpers confine
// before their first) and has it try what a hostile file would want, then
// reads back how each attempt ended. What the tests share.

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

namespace {

using namespace sonora::confinamento;
namespace fs = std::filesystem;

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

inline long connettiTcp()
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
