#pragma once
// The media device of the playback module, which is loaded only when it is
// first needed: GStreamer and its libraries weigh several megabytes and slow
// the start, and nothing plays before a compilation has been chosen. Until
// then the device is simply closed.

#include "platform/MediaDevice.h"

#include <QLibrary>

#include <memory>

namespace sonora {

class DispositivoCaricato : public IMediaDevice {
public:
    // `modulo`: the module's file; `uscitaDiProva`: a fake audio output that
    // still keeps time (for tests).
    explicit DispositivoCaricato(QString modulo = moduloPredefinito(), bool uscitaDiProva = false);
    ~DispositivoCaricato() override;

    // Beside the program: <prefix>/bin/.. /lib/sonoraccoltiera.
    static QString moduloPredefinito();

    // Loads the module and starts GStreamer in the background, while the user
    // chooses a compilation. Never throws: a failure shows at the first Open.
    void preparaRiproduzione();

    void open(const QString& path, MediaKind kind) override;
    void prepare(const QString& path, MediaKind kind) override;
    void close() override;
    void play() override;
    void stop() override;
    MediaState state() const override;
    std::optional<Duration> duration() const override;
    Duration position() const override;

private:
    IMediaDevice& caricato(); // throws MediaError when the module does not load

    QLibrary libreria_;
    bool uscitaDiProva_ = false;
    std::unique_ptr<IMediaDevice> interno_;
};

} // namespace sonora
