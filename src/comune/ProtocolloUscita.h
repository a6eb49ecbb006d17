#pragma once
// What the output process tells the program over its Channel: that its output
// is open (and it has sealed itself) and in which format it takes the sound,
// that none works, or that the one it had is lost. The program says nothing to
// it: hanging up tells it to end.
//
// Each message is its kind and what went wrong (one byte each), the format
// (rate: 4 bytes, little-endian; channels: 1; channel mask: 8; whether the
// output converts: 1), then a reason in UTF-8.

#include "comune/AudioRing.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace sonora::protocollo::uscita {

enum class Notizia : quint8 {
    Pronta,        // the output is open, the process sealed: blocks in its format are heard
    NessunaUscita, // no output opens; it tries again until one does
    Persa,         // the output it had is gone (the sound server ended): it ends too
};

// What the user can do about it: the reason alone does not say.
enum class Guasto : quint8 {
    Nessuno,
    Dispositivo, // no sound server or card answers: check them
    Componente,  // a part of the program or of GStreamer is missing or broken: (re)install it
    Sigillo,     // the process could not confine itself, so it plays nothing
};

struct Avviso {
    Avviso(Notizia t = Notizia::Pronta, Guasto g = Guasto::Nessuno, QString m = {})
        : tipo(t)
        , guasto(g)
        , motivo(std::move(m))
    {
    }
    Notizia tipo = Notizia::Pronta;
    Guasto guasto = Guasto::Nessuno;
    QString motivo;
    // Pronta: the format the ring's sound must be in to be heard. Its word is
    // the only one the output trusts: blocks in any other format are dropped.
    ring::Format formato;
    // Pronta: the device takes no sound in that format as it is, and the
    // output converts it (the rare fallback).
    bool converte = false;
};

// A reason longer than this is cut short.
constexpr qsizetype kMotivoMassimo = 4096;

QByteArray scrivi(const Avviso& avviso);
// Empty for anything but a known kind and fault with a reason of bounded
// length, and with a format a ring can carry when the output is ready.
std::optional<Avviso> leggi(const QByteArray& bytes);

} // namespace sonora::protocollo::uscita
