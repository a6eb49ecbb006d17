#pragma once
// The output process (sonora-uscita) as the program sees it. The program makes
// the ring the decoder writes its sound into and the output process plays
// (comune/AudioRing.h), starts the process with it, and hears from it whether
// its output opened. A lost output (the sound server ended or restarted, the
// process died or hung) is replaced at once from the event loop, on the same ring:
// the decoder goes on as if nothing happened, and the new process plays what
// comes once its output opens again.

#include "comune/AudioRing.h"
#include "comune/OwnedFd.h"
#include "comune/ProtocolloUscita.h"
#include "platform/ChildProcess.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QProcess;

namespace sonora {

class Channel;

class UscitaRemota : public QObject {
public:
    enum class Fase { Nessuna, Avvio, Pronta, Assente };

    // `programma`: the output process's file; `prova`: a fake output that
    // keeps time. Processes dismissed are left to `custode` to see ended.
    UscitaRemota(QString programma, bool prova, QObject* custode);
    ~UscitaRemota() override;

    // Makes a new ring and starts a process to play it. Throws MediaError
    // when the system refuses the memory.
    void avvia();
    // Ends the process and forgets the ring.
    void congeda();

    // The decoder's ends of the ring, valid from avvia() to congeda():
    // the ring (writable), the eventfd that wakes the reader, and the
    // reader's index, opened again read-only (invalid when the system
    // refuses) so that the decoder's map of it can never become writable.
    int anello() const { return anello_; }
    int sveglia() const { return sveglia_; }
    OwnedFd indiceInLettura() const;

    // Waits up to `attesaMs` for the first word of an output that is still
    // starting. Throws MediaError, naming `path`, when no output has ever
    // opened since avvia(); after a loss the songs go on while a new one waits.
    void verifica(const QString& path, int attesaMs);

    // The format the last output that opened takes its sound in (kept from
    // one ring to the next: the device is likely the same); none until one has.
    std::optional<ring::Format> formato() const { return formato_; }
    // Called with the format of every output that opens.
    std::function<void(const ring::Format&)> onFormato;

    Fase fase() const { return fase_; }
    qint64 processo() const;
    // Outputs lost and replaced since the program started.
    int perdite() const { return perdite_; }

private:
    void lancia();
    void leggi();
    void persa();
    void chiudiProcesso();
    void guarda();

    QString programma_;
    bool prova_;
    QObject* custode_;
    int anello_ = -1;
    int lettura_ = -1; // the ring again, read-only: all the output process gets
    int indice_ = -1;
    int sveglia_ = -1;
    Helper aiutante_;
    QTimer sostituto_;
    std::unique_ptr<ring::RingProgress> progresso_;
    QTimer guardia_;        // while ready: does it still read the ring?
    quint64 lettiPrima_ = 0; // blocks it had read at the last look
    int sguardiFermi_ = 0;   // looks in a row that found sound waiting and none read
    Fase fase_ = Fase::Nessuna;
    QString motivo_;       // why no output works, when it does not
    protocollo::uscita::Guasto guasto_ = protocollo::uscita::Guasto::Nessuno; // and what kind of fault that is
    std::optional<ring::Format> formato_;
    bool maiPronta_ = true; // no output has opened on this ring yet
    int perdite_ = 0;
    qint64 avviataNs_ = 0;
};

} // namespace sonora
