#pragma once
// What a helper's confinement got, and the steps every helper takes alike:
// no new privileges, death with the program, then its own Landlock rules
// and system-call filter (Landlock.h, Seccomp.h).

#include "confinamento/Landlock.h"

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace sonora::confinamento {

class Filtro;

struct Confino {
    int landlock = 0;      // the Landlock ABI in force; 0: none (kernel without it, or refused)
    bool seccomp = false;  // the system-call filter is in force
    std::string mancanze;  // what could not be applied and why, empty when nothing

    // One line for the log, e.g. "Landlock ABI 2, seccomp".
    std::string descrizione() const;
};

struct OpzioniConfino {
    // Uses no Landlock right newer than this ABI, as on an older kernel
    // (Debian 12's gives 2): tests take the older kernel's path on a newer one.
    int abiMassima = std::numeric_limits<int>::max();
    // Each layer alone, for tests: seccomp alone is what a kernel without
    // Landlock gives.
    bool landlock = true;
    bool seccomp = true;
};

// Confines the calling thread for good: no new privileges, death with the
// parent, Landlock with `concessioni`, then the filter `regole` fills
// (loaded with TSYNC, binding a thread a library may have started). Applies
// what it can and says what it got; never throws.
Confino confina(const OpzioniConfino& opzioni, const std::vector<Concessione>& concessioni,
                const std::function<void(Filtro&)>& regole);

// Loads one more filter, binding every thread of the process; empty when
// loaded, otherwise why not.
std::string aggiungiFiltro(const std::function<void(Filtro&)>& regole, std::uint32_t predefinita);

// "cosa: the error's text".
std::string errore(const char* cosa, int numero);

} // namespace sonora::confinamento
