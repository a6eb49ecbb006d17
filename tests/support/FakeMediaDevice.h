#pragma once
// A media device the test drives: it records every call, reports the state,
// duration and position the test sets, and can be made to fail or to end.

#include "comune/MediaDevice.h"
#include "support/QtPrinters.h"

#include <QStringList>
#include <memory>

namespace sonora::test {

using namespace std::chrono_literals;

class FakeMediaDevice : public IMediaDevice {
public:
    struct State {
        QStringList calls; // "open <kind> <path>", "close", "play", "stop"
        MediaState state = MediaState::Closed;
        std::optional<Duration> duration;
        Duration position{0};
        std::optional<Duration> durationOnOpen = 1000ms; // of every song opened next
        QStringList failingPaths;                         // opens of these paths fail
        bool playFails = false;                           // as a player that died or hung
        bool stopFails = false;
        QString openPath;
        QString openKind; // "Midi", "Wave" or "Video"
        QStringList hints; // "<kind> <path>" of each hint of what comes next, in order

        bool open() const { return state != MediaState::Closed; }
        bool playing() const { return state == MediaState::Playing; }
    };

    FakeMediaDevice() : state_(std::make_shared<State>()) {}

    // The state stays reachable after the device moved into the window.
    std::shared_ptr<State> script() const { return state_; }

    void open(const QString& path, MediaKind kind) override;
    void prepare(const QString& path, MediaKind kind) override;
    void close() override;
    void play() override;
    void stop() override;
    MediaState state() const override { return state_->state; }
    std::optional<Duration> duration() const override { return state_->duration; }
    Duration position() const override { return state_->position; }

    // The stream runs out: Ended, and the control hears of it.
    void finish();

private:
    std::shared_ptr<State> state_;
};

} // namespace sonora::test
