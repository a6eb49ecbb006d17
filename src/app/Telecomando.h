#pragma once
// Telecomando: the program as the desktop's player controls see it (media
// keys, the top bar's player, the lock screen), over MPRIS 2 on the session
// bus. A way in, never a new behaviour: Play and Stop press the media
// control's own buttons, and what the desktop is shown is read from the
// control and the window.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <memory>

class QAbstractButton;

namespace sonora {

class frmPrincipale;
class MMControl;

class Telecomando : public QObject {
    Q_OBJECT
public:
    static constexpr auto Nome = "org.mpris.MediaPlayer2.sonoraccoltiera";
    static constexpr auto Percorso = "/org/mpris/MediaPlayer2";

    // Publishes `finestra` on `bus`, under Nome, or under Nome plus
    // ".instance<pid>" when another copy of the program holds it. Null,
    // and nothing said, when there is no bus.
    static std::unique_ptr<Telecomando> pubblica(frmPrincipale& finestra, QDBusConnection bus);
    ~Telecomando() override;

    QString servizio() const { return servizio_; }

    // org.mpris.MediaPlayer2
    void alza();
    // org.mpris.MediaPlayer2.Player: the buttons, pressed a moment later,
    // so that a call never waits on a handler (or on its error box).
    void premiPlay();
    void premiStop();
    void alterna();
    // "Playing" or "Stopped".
    QString stato();
    // The open song; empty when none is.
    QVariantMap metadati();
    // Microseconds into the open song.
    qint64 posizione() const;

private:
    Telecomando(frmPrincipale& finestra, QDBusConnection bus);

    struct Brano {
        QString percorso; // empty: none open
        QString titolo;
        QString album;
        qint64 durataUs = -1; // -1: not known yet
        bool operator==(const Brano&) const = default;
    };

    bool suona() const;
    Brano branoAperto() const;
    // What the desktop was last told.
    QString testoStato() const;
    QVariantMap mappa() const;
    // Brings what the desktop was told up to date, and tells it what changed.
    void aggiorna();
    void premi(QAbstractButton* bottone);

    frmPrincipale& finestra_;
    MMControl& controllo_;
    QDBusConnection bus_;
    QString servizio_;
    QTimer rinvio_; // one look once the running handler is over
    bool suonava_ = false;
    Brano brano_;
    quint64 numeroBrano_ = 0;
};

} // namespace sonora
