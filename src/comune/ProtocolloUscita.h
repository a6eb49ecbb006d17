#pragma once
// What the output process tells the program over its Channel: that its output
// is open (and it has sealed itself), that none works, or that the one it had
// is lost. The program says nothing to it: hanging up tells it to end.
// Each message is its kind (one byte), then a reason in UTF-8.

#include <QByteArray>
#include <QString>

#include <optional>

namespace sonora::protocollo::uscita {

enum class Notizia : quint8 {
    Pronta,        // the output is open, the process sealed: blocks are heard
    NessunaUscita, // no output opens; it tries again until one does
    Persa,         // the output it had is gone (the sound server ended): it ends too
};

struct Avviso {
    Notizia tipo = Notizia::Pronta;
    QString motivo;
};

// A reason longer than this is cut short.
constexpr qsizetype kMotivoMassimo = 4096;

QByteArray scrivi(const Avviso& avviso);
// Empty for anything but a known kind with a reason of bounded length.
std::optional<Avviso> leggi(const QByteArray& bytes);

} // namespace sonora::protocollo::uscita
