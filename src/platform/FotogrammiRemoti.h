#pragma once
// The pictures of a video song as the player hands them over: each in a
// place of the shared memory the window made, shown where it lies (never
// copied), and its place given back to the player once the window no longer
// holds it.

#include "comune/Protocollo.h"

#include <deque>
#include <memory>
#include <optional>

namespace sonora {

class Channel;
class Mapping;
class VideoWindowOutput;

class FotogrammiRemoti {
public:
    explicit FotogrammiRemoti(VideoWindowOutput& video);

    // A new player's memory, read-only, and the channel places go back on.
    void collega(std::shared_ptr<const Mapping> memoria, std::weak_ptr<Channel> channel);
    // The player went: its pictures still shown keep the memory mapped.
    void scollega();

    // Shows `f` when it is `attuale` (of the song open now); otherwise its
    // place goes back at once. The reader bounded its size to a place.
    void mostra(const protocollo::Fotogramma& f, bool attuale);

    // A picture that came while the window waited for an answer waits too.
    void differisci(protocollo::Fotogramma f) { differiti_.push_back(std::move(f)); }
    bool differiti() const { return !differiti_.empty(); }
    std::optional<protocollo::Fotogramma> prossimoDifferito();

private:
    VideoWindowOutput& video_;
    std::shared_ptr<const Mapping> memoria_;
    std::weak_ptr<Channel> channel_;
    std::deque<protocollo::Fotogramma> differiti_;
};

} // namespace sonora
