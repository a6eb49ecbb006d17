// What each helper refuses and what it still does, Landlock or not.

#include "NelConfino.h"

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
        tenta("segnale_gruppo", ::kill(0, 0)); // the program's whole process group
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
        EXPECT_NE(e["segnale_gruppo"], 0);
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
