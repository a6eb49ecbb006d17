// Broken media of every kind through the real window and its player
// process: no crash, no hang (every open returns within 2 s), the outcome
// the sequencer's rules give, and the next good song still plays.

#include "platform/DispositivoRemoto.h"
#include "support/FinestraDiProva.h"
#include "support/MediaGen.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QtEndian>
#include <cstdio>
#include <gtest/gtest.h>

using namespace sonora;
using namespace sonora::test;

namespace {

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray patched(QByteArray bytes, qsizetype at, const QByteArray& with)
{
    return bytes.replace(at, with.size(), with);
}

// A MIDI file: header, then one track with `events` (delta times included).
QByteArray smf(const QByteArray& events, quint32 declaredLength = 0)
{
    const QByteArray track = events + QByteArray("\x00\xFF\x2F\x00", 4);
    return QByteArray("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60", 14) + "MTrk"
        + be32(declaredLength ? declaredLength : quint32(track.size())) + track;
}

// An AVI whose header declares no streams at all.
QByteArray aviWithoutStreams()
{
    QByteArray avih = "avih" + le32(56) + QByteArray(56, '\0');
    avih = patched(avih, 8 + 24, le32(0)); // dwStreams
    const QByteArray hdrl = "LIST" + le32(4 + avih.size()) + "hdrl" + avih;
    const QByteArray movi = "LIST" + le32(4) + "movi";
    const QByteArray body = "AVI " + hdrl + movi;
    return "RIFF" + le32(body.size()) + body;
}

struct Broken {
    const char* name;
    std::function<void(const QString& dir, const QString& name)> make;
};

std::vector<Broken> corpus()
{
    const QByteArray wav = wavBytes(200);
    return {
        {"testata_troncata.wav", [wav](auto d, auto n) { writeBytes(d, n, wav.left(20)); }},
        {"dati_vuoti.wav", [wav](auto d, auto n) { writeBytes(d, n, patched(wav.left(44), 40, le32(0))); }},
        {"dati_troppo_lunghi.wav", [wav](auto d, auto n) { writeBytes(d, n, patched(wav, 40, le32(0x7FFFFFF0))); }},
        {"formato_sbagliato.wav", [wav](auto d, auto n) { writeBytes(d, n, patched(wav, 20, QByteArray("\x34\x12", 2))); }},
        {"testata_sbagliata.mid", [](auto d, auto n) { writeBytes(d, n, patched(smfBytes(0, 300), 0, "MTxx")); }},
        {"traccia_troncata.mid", [](auto d, auto n) { const QByteArray m = smfBytes(0, 300); writeBytes(d, n, m.left(m.size() - 9)); }},
        {"traccia_enorme.mid", [](auto d, auto n) { writeBytes(d, n, smf(QByteArray("\x00\x90\x40\x40\x60\x80\x40\x00", 8), 0x7FFFFFF0)); }},
        {"stato_implicito.mid", [](auto d, auto n) { writeBytes(d, n, smf(QByteArray("\x00\x40\x40\x60\x40\x00", 6))); }},
        {"indice_troncato.avi", [](auto d, auto n) {
             const QString full = writeAvi(d, QStringLiteral("intero_%1").arg(n), 400);
             QFile f(full); f.open(QIODevice::ReadOnly); const QByteArray b = f.readAll();
             writeBytes(d, n, b.left(b.size() - 40)); }},
        {"senza_flussi.avi", [](auto d, auto n) { writeBytes(d, n, aviWithoutStreams()); }},
        {"codec_ignoto.avi", [](auto d, auto n) {
             const QString full = writeAvi(d, QStringLiteral("intero_%1").arg(n), 400, QSize(160, 120), false);
             QFile f(full); f.open(QIODevice::ReadOnly); writeBytes(d, n, f.readAll().replace("MJPG", "ZZZZ")); }},
        {"vuoto.wav", [](auto d, auto n) { writeEmpty(d, n); }},
        {"vuoto.mid", [](auto d, auto n) { writeEmpty(d, n); }},
        {"vuoto.rmi", [](auto d, auto n) { writeEmpty(d, n); }},
        {"vuoto.avi", [](auto d, auto n) { writeEmpty(d, n); }},
        {"rumore.wav", [](auto d, auto n) { writeRandom(d, n, 8192, 2); }},
        {"rumore.mid", [](auto d, auto n) { writeRandom(d, n, 8192, 3); }},
        {"rumore.rmi", [](auto d, auto n) { writeRandom(d, n, 8192, 4); }},
        {"rumore.avi", [](auto d, auto n) { writeRandom(d, n, 8192, 5); }},
        {"cartella.wav", [](auto d, auto n) { QDir(d).mkdir(n); }},
        {"mancante.mid", [](auto, auto) {}},
    };
}

std::unique_ptr<IMediaDevice> realDevice()
{
    return std::make_unique<DispositivoRemoto>(QStringLiteral(SONORA_RIPRODUTTORE_DI_PROVA), true);
}

} // namespace

TEST(MediaCorrotti, EveryBrokenSongEndsAsTheRulesSayAndTheNextGoodOnePlays)
{
    TempDir dir;
    FinestraDiProva w(realDevice());
    writeWav(dir.path(), "buona.wav", 150);
    const std::vector<Broken> files = corpus();
    QByteArray cmp = dir.path().toUtf8() + "\r\nbuona.wav\r\n";
    for (const Broken& b : files) {
        b.make(dir.path(), b.name);
        cmp += QByteArray(b.name) + "\r\n";
    }
    cmp += "buona.wav\r\n"; // the reader swaps first and last: both are the good song
    w.dialog->pick({dir.write("corrotti.cmp", cmp)});
    w->cmdCompilation->click();
    ASSERT_EQ(w->List1->count(), int(files.size()) + 2);

    for (int row = 1; row <= int(files.size()); ++row) {
        const QString name = w->List1->item(row)->text();
        SCOPED_TRACE(name.toStdString());
        w.messages->shown.clear();
        w->List1->setCurrentRow(row);
        QElapsedTimer clock;
        clock.start();
        w->MMControl1->clickPlay();
        // The device gives up after 2 s; the rest is the handler and the
        // teardown of the failed pipeline, slower under sanitizers.
        EXPECT_LT(clock.elapsed(), 3000) << "the open must give up in time";
        // What the user sees, listed in the test's output.
        std::printf("  %-24s %s\n", qPrintable(name),
                    w.messages->shown.isEmpty() ? "(plays what it can)" : qPrintable(w.messages->shown[0].prompt));
        if (!w.messages->shown.isEmpty()) {
            // Refused: a clear message naming the song, and nothing plays.
            EXPECT_TRUE(w.messages->shown[0].prompt.contains(name));
            EXPECT_FALSE(w->MMControl1->device().isOpen());
        } else {
            // Whatever GStreamer could still play of it plays, and the
            // sequence goes on from there.
            EXPECT_TRUE(waitUntil([&] { return w->List1->currentRow() != row || !w->MMControl1->device().isOpen(); }, 5000));
        }
        w->MMControl1->clickStop();

        // The good song still plays, to its end.
        w.messages->shown.clear();
        w->List1->setCurrentRow(w->List1->count() - 1);
        w->MMControl1->clickPlay();
        EXPECT_TRUE(w.messages->shown.isEmpty());
        EXPECT_TRUE(waitUntil([&] { return !isTrue(w.lettore->RiproduzioneAttiva) && !w->MMControl1->device().isOpen(); }, 5000));
        EXPECT_EQ(w->List1->currentRow(), 0) << "the good last song ended the list";
    }
}
