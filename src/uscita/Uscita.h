#pragma once
// The output process's one job: plays the blocks of the ring into the
// system's audio output, each at the time it is stamped with. It parses no
// media, only PCM whose every count it checks.
//
// appsrc ! audioconvert ! audioresample ! sink, on the system clock with base
// time 0, so a block's stamp (CLOCK_MONOTONIC) is its running time. The sink
// is opened (connected to the sound server, ALSA's device open) before the
// process seals itself; the stream itself starts when the decoder says songs
// are near and goes when it rests.

#include "comune/AudioRing.h"
#include "comune/ProtocolloUscita.h"
#include "riproduttore/GstHandles.h"

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
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer data);
    QString prova();
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
    ElementRef sink_;
    ElementRef audioSink_; // the real one, inside sink_: its clock tells what is heard
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer riprova_;
    QTimer misura_;
    bool detto_ = false;    // "no output works" said already
    bool aperta_ = false;
    bool playing_ = false;
};

} // namespace sonora
