#pragma once
// The player decodes files from anywhere, through decoders that have had
// memory bugs. Confined, a file that takes a decoder over still writes no
// file, opens no socket of any kind and connects nowhere, starts no program
// or process and touches no other process: it may read the songs it is
// handed open and, by name, the system's folders only; write sound into the
// ring it was given; and talk to the program over the socket it was given.
// The output process seals itself the same way once its output is open.
//
// Landlock (when the kernel has it) and a seccomp filter confine the calling
// thread and the threads and processes it starts later, never those already
// running: confine before the first thread exists.

#include <functional>
#include <limits>
#include <string>

namespace sonora::riproduttore {

// What the confinement got on this kernel.
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

// The Landlock ABI of the running kernel; 0 without Landlock.
int abiLandlock();

// Confines the calling thread for good: no new privileges, death with the
// parent, Landlock, the seccomp filter, a limit on the address space.
// Applies what it can and says what it got; never throws.
Confino confina(const OpzioniConfino& opzioni = {});

// The player's start: starts GStreamer unconfined, so that its plugin
// registry is brought up to date and saved (the confined player could not
// write it, and would scan every plugin at each start), tells GStreamer to
// rely on it from then on, confines, and says on stderr what is missing.
// Call first thing in main(), before any thread exists. While GStreamer
// starts, which may take seconds, `vivo` is called every `ogniMs` from a
// thread that ends before confining: the program hears that the player lives.
Confino confinaRiproduttore(int ogniMs, const std::function<void()>& vivo);

// The output process, once its output is open: the same system-call filter,
// binding every thread already running (Landlock could not). Empty when
// sealed; otherwise why not.
std::string sigillaUscita();

} // namespace sonora::riproduttore
