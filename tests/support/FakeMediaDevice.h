#pragma once
// A media device the test drives: it records every call and reports the
// length and position the test sets, and can be made to fail or to end.

#include "platform/MediaDevice.h"
#include "support/QtPrinters.h"

#include <QStringList>
#include <memory>

namespace sonora::test {

class FakeMediaDevice : public IMediaDevice {
public:
    struct State {
        QStringList calls;        // "open <type> <path>", "close", "play", "stop"
        bool open = false;
        bool playing = false;
        qint32 length = 0;
        qint32 position = 0;
        qint32 lengthOnOpen = 1000; // length of every song opened next
        QStringList failingPaths;   // opens of these paths fail
        QString openPath;
        QString openType;
    };

    FakeMediaDevice() : state_(std::make_shared<State>()) {}

    // The state stays reachable after the device moved into the window.
    std::shared_ptr<State> state() const { return state_; }

    void open(const QString& path, const QString& deviceType) override;
    void close() override;
    void play() override;
    void stop() override;
    bool isOpen() const override { return state_->open; }
    qint32 lengthMs() const override { return state_->open ? state_->length : 0; }
    qint32 positionMs() const override { return state_->open ? state_->position : 0; }

    // The stream reaches its end: position = length, and the control hears of it.
    void finish();

private:
    std::shared_ptr<State> state_;
};

} // namespace sonora::test
