#pragma once
// One run of a player heard at the null sink's monitor: when its first sound
// came, and the longest silence between its first and last sound (the gap
// between two songs). A gap is the longest stretch, between the first and
// the last sound of a run, where the peak of both channels stays under
// -45 dBFS; stretches under 3 ms are not silence (a tone crosses zero).
// Other stretches of silence in a run are counted as dropouts.

#include "Processo.h"
#include "ServerAudio.h"
#include "support/Wait.h"

#include <optional>

namespace sonora::bench {

constexpr int Rate = ServerAudio::Rate;
const double Threshold = Registratore::Soglia;
constexpr int64_t ShortestGapFrames = Rate * 3 / 1000;

struct Ascolto {
    std::optional<double> firstSoundMs; // after the start instant
    std::optional<double> gapMs;
    int dropouts = 0;
};

// Records one run: `start` begins playing and returns the instant it was
// asked to; `finished` tells when the player is done.
template <class Start, class Finished>
Ascolto ascolta(const Registratore& rec, Start start, Finished finished)
{
    const auto before = Clock::now();
    const Clock::time_point started = start();
    test::waitUntil(finished, 20000);
    test::spin(400); // the tail reaches the monitor
    const auto after = Clock::now();
    const auto origin = rec.origine(before - std::chrono::seconds(2), after);
    auto frameAt = [&](Clock::time_point t) { return int64_t(std::llround(msBetween(origin, t) * Rate / 1000.0)); };
    const int64_t first = frameAt(before);
    const std::vector<int> peaks = rec.picchi(first, frameAt(after));

    Ascolto a;
    std::vector<int64_t> silences;
    int64_t firstSound = -1, lastSound = -1;
    for (int64_t i = 0; i < int64_t(peaks.size()); ++i) {
        if (peaks[size_t(i)] <= Threshold)
            continue;
        if (lastSound < 0) {
            a.firstSoundMs = msBetween(started, origin) + double(first + i) * 1000.0 / Rate;
            firstSound = i;
        }
        else if (i - lastSound - 1 >= ShortestGapFrames)
            silences.push_back(i - lastSound - 1);
        lastSound = i;
    }
    if (!silences.empty()) {
        std::sort(silences.begin(), silences.end());
        a.gapMs = double(silences.back()) * 1000.0 / Rate;
        a.dropouts = int(silences.size()) - 1;
    } else if (lastSound - firstSound >= Rate * 3 / 2) {
        a.gapMs = 0.0; // both songs heard, one straight after the other
    }
    return a;
}

// Runs of one player on one pair of songs.
struct Risultati {
    std::vector<double> gaps, firstSound;
    int missing = 0, dropouts = 0;

    void add(const Ascolto& a, bool timeToSound)
    {
        if (a.gapMs)
            gaps.push_back(*a.gapMs);
        else
            ++missing;
        dropouts += a.dropouts;
        if (timeToSound && a.firstSoundMs)
            firstSound.push_back(*a.firstSoundMs);
    }
};

} // namespace sonora::bench
