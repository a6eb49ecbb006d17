#include "uscita/Permessi.h"

#include "confinamento/Seccomp.h"

#include <cerrno>
#include <cstdlib>

#include <csignal>
#include <sys/prctl.h>
#include <sys/sem.h>

namespace sonora::uscita {
namespace {

using namespace confinamento;

std::string variabile(const char* nome)
{
    const char* v = std::getenv(nome);
    return v ? v : "";
}

// The system's libraries and plugins (mapped as code), its configuration
// (ALSA's and the sound server client's under /etc, the machine's id), and
// of the user's only what the sound server's client reads: its runtime
// folder, its cookie and client.conf, and where PULSE_* variables point.
std::vector<Concessione> concessioni()
{
    std::vector<Concessione> c = concessioniDiSistema();
    for (const char* letto : {"/etc", "/var/lib/dbus/machine-id"})
        c.push_back({letto, kLettura});
    // ALSA's devices are the one thing written to: sound.
    c.push_back({"/dev/snd", kLettura | kScritturaFile});
    const std::string runtime = variabile("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        c.push_back({runtime + "/pulse", kLettura});
    const std::string casa = variabile("HOME");
    if (!casa.empty()) {
        c.push_back({casa + "/.config/pulse", kLettura});
        c.push_back({casa + "/.pulse-cookie", kLettura});
        c.push_back({casa + "/.asoundrc", kLettura});
    }
    const std::string config = variabile("XDG_CONFIG_HOME");
    if (!config.empty())
        c.push_back({config + "/pulse", kLettura});
    for (const char* nome : {"PULSE_COOKIE", "PULSE_CLIENTCONFIG", "PULSE_RUNTIME_PATH"}) {
        const std::string dove = variabile(nome);
        if (!dove.empty())
            c.push_back({dove, kLettura});
    }
    // A server named by a Unix path: its folder (connecting takes no
    // Landlock right before ABI 9, but the client looks there first).
    if (const std::string server = variabile("PULSE_SERVER"); server.rfind("unix:", 0) == 0)
        c.push_back({server.substr(5, server.rfind('/') - 5), kLettura});
    return c;
}

// Seen while the sound server's client and GStreamer play (after the
// output is open nothing is opened, connected or created), beside what
// every process of ours does.
void regole(Filtro& f)
{
    permettiComuni(f);
    // ALSA, without a sound server: its PCM requests (type 'A') on the
    // device it opened, and dmix's semaphore around each write. The
    // segment dmix shares was attached while the device opened; no other
    // is (another program's, such as a display's, could be written).
    f.permetti("ioctl", SCMP_A1(SCMP_CMP_MASKED_EQ, 0xff00, 'A' << 8));
    for (const char* c : {"semop", "semtimedop", "shmdt"})
        f.permetti(c);
    for (const int comando : {GETVAL, SETVAL, GETPID, GETNCNT})
        f.permetti("semctl", SCMP_A2(SCMP_CMP_EQ, scmp_datum_t(comando)));
    // No file opened: ORC, refused, maps its code without one.
    for (const char* c : {"open", "openat", "creat"})
        f.nega(EACCES, c);
    for (const char* c : {"socket", "connect", "bind", "listen", "accept", "accept4"})
        f.nega(EPERM, c);
}

} // namespace

std::string sigillaUscita()
{
    // The program's end is this process's too, even if it cannot hang up.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Threads of GStreamer and of the sound server's client run already:
    // the filter binds them too.
    return aggiungiFiltro(regole, SCMP_ACT_ERRNO(ENOSYS));
}

Confino confinaUscita(const OpzioniConfino& opzioni)
{
    OpzioniConfino soloLandlock = opzioni;
    soloLandlock.seccomp = false; // the filter comes once the output is open
    return confina(soloLandlock, concessioni(), {});
}

} // namespace sonora::uscita
