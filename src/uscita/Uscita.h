#pragma once
// The output process's one job: plays the blocks of the ring into the
// system's audio output, each at the time it is stamped with. It parses no
// media, only PCM whose every count it checks.
//
// appsrc ! sink, on the system clock with base time 0, so a block's stamp
// (CLOCK_MONOTONIC) is its running time. The ring's sound is already in the
// device's own format (FormatoDispositivo.h): the sink takes it as it is, and
// only a device that refuses it gets audioconvert ! audioresample between.
// The sink is opened (connected to the sound server, ALSA's device open)
// before the process seals itself; the stream itself starts when the decoder
// says songs are near and goes when it rests.

#include "comune/AudioRing.h"
#include "comune/ProtocolloUscita.h"
#include "gst/GstHandles.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace sonora {

class Uscita : public QObject {
public:
    using Avvisa = std::function<void(const protocollo::uscita::Avviso&)>;
    // `fake`: a clock-synchronised fake sink instead of the system's output.
    // `sigilla` runs once, right after the output first opens, and says why
    // it could not seal (empty: sealed).
    Uscita(bool fake, ring::RingReader& ring, int sveglia, std::function<QString()> sigilla, Avvisa avvisa);
    ~Uscita() override;

    // Opens the output, trying again every little while until one works.
    void apri();

private:
    enum class Fase {
        Chiusa,   // not open yet: tried again every little while
        Assente,  // as Chiusa, and the program was told no output works
        Aperta,   // open and sealed; the stream waits for songs to come near
        Suona,    // the stream runs
        Persa,    // the output went away: the program starts another process
    };

    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer data);
    QString prova();
    ring::Format formatoDelDispositivo() const;
    void collega(bool converti);
    void sveglia();
    void consegna();
    void perso(const QString& motivo);
    void misura();

    bool fake_;
    ring::RingReader& ring_;
    int sveglia_;
    std::function<QString()> sigilla_;
    Avvisa avvisa_;
    ElementRef pipeline_;
    ElementRef source_;
    ElementRef convert_;   // in the pipeline only when the device refuses the ring's format
    ElementRef resample_;
    ElementRef sink_;
    ElementRef audioSink_; // the real one, inside sink_: its clock tells what is heard
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer riprova_;
    QTimer misura_;
    Fase fase_ = Fase::Chiusa;
    ring::Format formato_;  // what the device takes, as told to the program
    bool converte_ = false;
};

} // namespace sonora
