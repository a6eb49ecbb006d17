#pragma once
// Landlock: what a process may still reach by name. It binds the calling
// thread and the threads and processes it starts later, never those already
// running, so it is applied before the first thread exists.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace sonora::confinamento {

// Rights on what lies beneath a path (a file alone gets those a file can have).
inline constexpr std::uint64_t kLettura = 1ULL << 2 | 1ULL << 3;   // READ_FILE, READ_DIR
inline constexpr std::uint64_t kEsecuzione = kLettura | 1ULL << 0; // and EXECUTE
inline constexpr std::uint64_t kScritturaFile = 1ULL << 1;         // WRITE_FILE: device nodes only

struct Concessione {
    std::string percorso;
    std::uint64_t accesso;
};

// What both helpers read by name: the system's libraries and plugins (also
// mapped as code), the processors there are (libraries size their pools by
// them), seeds for random numbers, GStreamer's plugin registry (brought up
// to date before confining); /proc too in a sanitized build, whose leak
// checker reads the process's maps and threads at its end.
std::vector<Concessione> concessioniDiSistema();

// The Landlock ABI of the running kernel; 0 without Landlock (errno says why).
int abiLandlock();

// Leaves the calling thread only `concessioni`, using no right newer than
// `abiMassima` (as on an older kernel). Returns the ABI in force, or 0 with
// the reason added to `mancanze`. Missing paths are skipped.
int applicaLandlock(const std::vector<Concessione>& concessioni, int abiMassima, std::string& mancanze);

// Appends `cosa` to a "; "-separated list of what could not be applied.
void aggiungiMancanza(std::string& mancanze, const std::string& cosa);

} // namespace sonora::confinamento
