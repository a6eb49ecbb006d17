#include "confinamento/Confino.h"

#include "confinamento/Seccomp.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <sys/prctl.h>
#include <unistd.h>

namespace sonora::confinamento {

std::string Confino::descrizione() const
{
    std::string d = landlock > 0 ? "Landlock ABI " + std::to_string(landlock) : "senza Landlock";
    d += seccomp ? ", seccomp" : ", senza seccomp";
    return d;
}

std::string errore(const char* cosa, int numero) { return std::string(cosa) + ": " + std::strerror(numero); }

Confino confina(const OpzioniConfino& opzioni, const std::vector<Concessione>& concessioni,
                const std::function<void(Filtro&)>& regole)
{
    Confino c;
    // The program's end is the helper's too, even if it cannot hang up.
    const pid_t genitore = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != genitore)
        std::_Exit(1);
    // Landlock and seccomp both want it; no set-uid program could run anyway.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        aggiungiMancanza(c.mancanze, errore("no_new_privs", errno));
        return c;
    }
    if (opzioni.landlock)
        c.landlock = applicaLandlock(concessioni, opzioni.abiMassima, c.mancanze);
    if (opzioni.seccomp) {
        const std::string perche = aggiungiFiltro(regole, SCMP_ACT_ERRNO(ENOSYS));
        c.seccomp = perche.empty();
        aggiungiMancanza(c.mancanze, perche);
    }
    return c;
}

std::string aggiungiFiltro(const std::function<void(Filtro&)>& regole, std::uint32_t predefinita)
{
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return errore("no_new_privs", errno);
    Filtro f(predefinita);
    regole(f);
    const int numero = f.carica(true);
    return numero == 0 ? std::string() : errore("seccomp", numero);
}

} // namespace sonora::confinamento
