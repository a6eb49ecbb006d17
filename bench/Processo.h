#pragma once
// Resident memory of a process, as the kernel reports it.

#include <fstream>
#include <string>

namespace sonora::bench {

// In MiB; -1 when the process is gone. `pid` is a number or "self".
inline double rssMiB(const std::string& pid = "self")
{
    std::ifstream f("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

} // namespace sonora::bench
