#pragma once
// Pictures against their sound, and a build against another, through the
// real program on a private X server and PulseAudio server.

#include <string>
#include <vector>

namespace sonora::bench {

// A build of the program measured: what it is called in the report, and its
// executable (its player lies where that build puts it).
struct Build {
    std::string name;
    std::string program;
};

// `runs` runs of each build and of mpv, idle and with one core busy: the
// picture's lag behind its sound at each flash of a test AVI.
int sincronia(int runs, const std::vector<Build>& builds);

// Gaps between songs, click to first sound (warm and from rest), CPU while a
// WAV plays and the memory of all the program's processes, of each build,
// interleaved, `runs` times; then each build to the first, as ratios.
int primaDopo(int runs, const std::vector<Build>& builds);

} // namespace sonora::bench
