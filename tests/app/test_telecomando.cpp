// The desktop's player controls (MPRIS 2), driven as a desktop drives them:
// over a private session bus, from a connection of their own, with songs
// played by the program's own player process.

#include "app/Telecomando.h"
#include "platform/DispositivoRemoto.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDialog>
#include <QListWidget>
#include <QProcess>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

const QString Radice = QStringLiteral("org.mpris.MediaPlayer2");
const QString Lettore = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString Proprieta = QStringLiteral("org.freedesktop.DBus.Properties");

// A session bus of the test's own, gone with it.
class BusPrivato {
public:
    BusPrivato()
    {
        daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (daemon_.waitForReadyRead(10000))
            indirizzo_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~BusPrivato()
    {
        for (const QString& nome : nomi_)
            QDBusConnection::disconnectFromBus(nome);
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    bool pronto() const { return !indirizzo_.isEmpty(); }
    // A connection of its own for each name, as each program has.
    QDBusConnection connessione(const QString& nome)
    {
        nomi_ << nome;
        return QDBusConnection::connectToBus(indirizzo_, nome);
    }

private:
    QProcess daemon_;
    QString indirizzo_;
    QStringList nomi_;
};

// The desktop's side: calls the player and, from its signals, keeps what a
// top bar would show.
class Desktop : public QObject {
    Q_OBJECT
public:
    struct Visto {
        QString stato;
        QString titolo;
        bool operator==(const Visto&) const = default;
    };

    Desktop(QDBusConnection bus, QString servizio)
        : bus_(std::move(bus))
        , servizio_(std::move(servizio))
    {
        bus_.connect(servizio_, QLatin1String(Telecomando::Percorso), Proprieta,
                     QStringLiteral("PropertiesChanged"), this, SLOT(cambiate(QDBusMessage)));
        stato = proprieta(Lettore, "PlaybackStatus").toString();
        metadati = mappa(proprieta(Lettore, "Metadata"));
        annota();
    }

    QDBusPendingCall avvia(const QString& interfaccia, const QString& metodo, const QVariantList& argomenti = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(servizio_, QLatin1String(Telecomando::Percorso),
                                                        interfaccia, metodo);
        m.setArguments(argomenti);
        return bus_.asyncCall(m, 5000);
    }
    QDBusMessage chiama(const QString& interfaccia, const QString& metodo, const QVariantList& argomenti = {})
    {
        QDBusPendingCall risposta = avvia(interfaccia, metodo, argomenti);
        // The call comes back, whatever the click then does.
        EXPECT_TRUE(waitUntil([&] { return risposta.isFinished(); }, 5000)) << metodo.toStdString();
        return risposta.reply();
    }
    QVariant proprieta(const QString& interfaccia, const QString& nome)
    {
        const QDBusMessage r = chiama(Proprieta, QStringLiteral("Get"), {interfaccia, nome});
        if (r.type() != QDBusMessage::ReplyMessage)
            return {};
        return r.arguments().value(0).value<QDBusVariant>().variant();
    }
    static QVariantMap mappa(const QVariant& v) { return qdbus_cast<QVariantMap>(v.value<QDBusArgument>()); }

    QString stato;
    QVariantMap metadati;
    QList<Visto> storia; // what was shown, each change once
    int segnali = 0;

private slots:
    void cambiate(const QDBusMessage& m)
    {
        ++segnali;
        EXPECT_EQ(m.signature(), "sa{sv}as");
        EXPECT_EQ(m.arguments().value(0).toString(), Lettore);
        const QVariantMap cambiate = qdbus_cast<QVariantMap>(m.arguments().value(1).value<QDBusArgument>());
        if (cambiate.contains("PlaybackStatus"))
            stato = cambiate.value("PlaybackStatus").toString();
        if (cambiate.contains("Metadata"))
            metadati = mappa(cambiate.value("Metadata"));
        annota();
    }

private:
    void annota()
    {
        const Visto v{stato, metadati.value("xesam:title").toString()};
        if (storia.isEmpty() || storia.last() != v)
            storia << v;
    }

    QDBusConnection bus_;
    QString servizio_;
};

std::ostream& operator<<(std::ostream& os, const Desktop::Visto& v)
{
    return os << '(' << v.stato.toStdString() << ' ' << v.titolo.toStdString() << ')';
}

// The program's own device; the player starts now, as the program starts
// it when the user begins choosing a compilation.
std::unique_ptr<IMediaDevice> giaPronto()
{
    auto d = std::make_unique<DispositivoRemoto>(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
    d->preparaRiproduzione();
    return d;
}

struct TelecomandoMpris : ::testing::Test {
    BusPrivato bus;
    TempDir dir;
    FinestraDiProva w{giaPronto()};
    std::unique_ptr<Telecomando> telecomando;
    std::unique_ptr<Desktop> desktop;

    void SetUp() override
    {
        ASSERT_TRUE(bus.pronto()) << "dbus-daemon (package dbus) did not start";
        telecomando = Telecomando::pubblica(*w.form, bus.connessione("programma"));
        ASSERT_TRUE(telecomando);
        ASSERT_EQ(telecomando->servizio(), "org.mpris.MediaPlayer2.sonoraccoltiera");
        desktop = std::make_unique<Desktop>(bus.connessione("desktop"), telecomando->servizio());
    }
    void TearDown() override
    {
        desktop.reset();
        telecomando.reset();
    }

    bool finito() const { return !isTrue(w.lettore->RiproduzioneAttiva) && !w->MMControl1->device().isOpen(); }
};

} // namespace

TEST_F(TelecomandoMpris, TellsTheDesktopWhatItIsAndWhatItCanDo)
{
    const struct {
        const QString& interfaccia;
        const char* nome;
        QVariant valore;
    } attese[] = {
        {Radice, "Identity", "Sonoraccoltiera"},
        {Radice, "DesktopEntry", "sonoraccoltiera"},
        {Radice, "CanRaise", true},
        {Radice, "CanQuit", false},
        {Radice, "HasTrackList", false},
        {Lettore, "PlaybackStatus", "Stopped"},
        {Lettore, "Position", qlonglong(0)},
        {Lettore, "CanGoNext", false},
        {Lettore, "CanGoPrevious", false},
        {Lettore, "CanSeek", false},
        {Lettore, "CanPlay", true},
        {Lettore, "CanPause", true},
        {Lettore, "CanControl", true},
    };
    for (const auto& a : attese)
        EXPECT_EQ(desktop->proprieta(a.interfaccia, a.nome), a.valore) << a.nome;
    EXPECT_TRUE(desktop->metadati.isEmpty()) << "no song open";

    // Quit does nothing: only the program's own exit command ends it.
    desktop->chiama(Radice, "Quit");
    spin(50);
    EXPECT_EQ(w.endRequests, 0);

    EXPECT_FALSE(w.form->isVisible());
    desktop->chiama(Radice, "Raise");
    EXPECT_TRUE(waitUntil([&] { return w.form->isVisible(); }));

    // Play with nothing to play: the play button's own error, in the
    // window's error box; the desktop has its answer while the box is
    // still up, as it must never wait on a person.
    w->MMControl1->playButton()->click();
    ASSERT_EQ(w.messages->shown.size(), 1);
    const QString errore = w.messages->shown[0].prompt;
    QDBusPendingCall play = desktop->avvia(Lettore, "Play");
    bool rispostoPrima = false;
    w.messages->onShow = [&](const ShownMessage&) {
        rispostoPrima = waitUntil([&] { return play.isFinished(); }, 3000);
    };
    ASSERT_TRUE(waitUntil([&] { return w.messages->shown.size() == 2; }));
    w.messages->onShow = nullptr;
    EXPECT_EQ(w.messages->shown[1].prompt, errore);
    EXPECT_TRUE(rispostoPrima);

    // While a modal window covers the buttons, no click reaches them.
    QDialog modale;
    modale.setModal(true);
    modale.show();
    desktop->chiama(Lettore, "PlayPause");
    spin(100);
    EXPECT_EQ(w.messages->shown.size(), 2);
    modale.hide();

    // A second copy of the program is still reachable, by its own name.
    FinestraDiProva altra;
    auto seconda = Telecomando::pubblica(*altra.form, bus.connessione("seconda"));
    ASSERT_TRUE(seconda);
    EXPECT_EQ(seconda->servizio(),
              QStringLiteral("org.mpris.MediaPlayer2.sonoraccoltiera.instance%1").arg(QCoreApplication::applicationPid()));

    // Without a bus: nothing published, nothing said.
    EXPECT_FALSE(Telecomando::pubblica(*altra.form, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nessun/bus"), "assente")));
    QDBusConnection::disconnectFromBus("assente");
}

TEST_F(TelecomandoMpris, PlayPlaysTheSelectedSongAndTheDesktopFollowsTheSequence)
{
    writeWav(dir.path(), "uno.wav", 300);
    writeWav(dir.path(), "due.wav", 700, 22050, 1);
    writeWav(dir.path(), "tre.wav", 700);
    w.apri(dir.file("serata.cmp"), dir.path(), {"uno.wav", "due.wav", "tre.wav"});
    w->List1->setCurrentRow(1);

    desktop->chiama(Lettore, "Play");
    ASSERT_TRUE(waitUntil([&] { return desktop->stato == "Playing"; }, 10000));
    EXPECT_TRUE(w->MMControl1->fileName().endsWith("/due.wav"));
    const QVariantMap primo = desktop->metadati;
    EXPECT_EQ(primo.value("xesam:title"), "due.wav");
    EXPECT_EQ(primo.value("xesam:album"), "serata");
    EXPECT_TRUE(primo.value("mpris:trackid").canConvert<QDBusObjectPath>());
    // Position on request, inside the song.
    ASSERT_TRUE(waitUntil([&] { return desktop->proprieta(Lettore, "Position").toLongLong() > 0; }, 5000));
    EXPECT_LE(desktop->proprieta(Lettore, "Position").toLongLong(), 800'000);

    ASSERT_TRUE(waitUntil([&] { return finito(); }, 15000));
    ASSERT_TRUE(waitUntil([&] { return desktop->stato == "Stopped"; }));
    const QList<Desktop::Visto> attesa = {
        {"Stopped", ""}, {"Playing", "due.wav"}, {"Playing", "tre.wav"}, {"Stopped", ""}};
    EXPECT_EQ(desktop->storia, attesa) << "no gap shown between the songs";
    EXPECT_TRUE(desktop->metadati.isEmpty());

    // What the desktop was told matches what it reads, and the length came
    // once the song had told it.
    desktop->storia.clear();
    w->List1->setCurrentRow(2);
    desktop->chiama(Lettore, "PlayPause");
    ASSERT_TRUE(waitUntil([&] { return desktop->metadati.contains("mpris:length"); }, 10000));
    const QVariantMap letti = Desktop::mappa(desktop->proprieta(Lettore, "Metadata"));
    EXPECT_EQ(letti.value("xesam:title"), "tre.wav");
    EXPECT_NEAR(letti.value("mpris:length").toLongLong(), 700'000, 20'000);
    EXPECT_EQ(letti, desktop->metadati);
    EXPECT_NE(letti.value("mpris:trackid").value<QDBusObjectPath>(), primo.value("mpris:trackid").value<QDBusObjectPath>());
    ASSERT_TRUE(waitUntil([&] { return finito(); }, 10000));
}

TEST_F(TelecomandoMpris, StopPauseAndPlayPauseDoWhatTheButtonsDo)
{
    writeWav(dir.path(), "lunga.wav", 1500);
    writeWav(dir.path(), "corta.wav", 200);
    w.apri(dir.file("giro.cmp"), dir.path(), {"lunga.wav", "corta.wav"});
    w->Check1->setChecked(true);

    for (const char* ferma : {"Stop", "Pause", "PlayPause"}) {
        SCOPED_TRACE(ferma);
        desktop->chiama(Lettore, "PlayPause");
        ASSERT_TRUE(waitUntil([&] { return desktop->stato == "Playing"; }, 10000));
        EXPECT_TRUE(w->MMControl1->device().isOpen());
        desktop->chiama(Lettore, ferma);
        ASSERT_TRUE(waitUntil([&] { return desktop->stato == "Stopped"; }, 5000));
        // As the stop button leaves it: closed, sequencing off, nothing after.
        EXPECT_TRUE(finito());
        EXPECT_EQ(w.lettore->IndiceCanzone, 2);
        spin(300);
        EXPECT_TRUE(finito());
        EXPECT_EQ(desktop->stato, "Stopped");
    }
    EXPECT_TRUE(w.messages->shown.isEmpty());
}

#include "test_telecomando.moc"
