// The generated media must be well formed, or every test built on it lies.
#include "support/MediaGen.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sonora::test;

namespace {

quint32 be(const QByteArray& b, int at, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

quint32 le(const QByteArray& b, int at, int n)
{
    quint32 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

// Walks one MTrk chunk; returns the tick of its end-of-track event, or -1 if malformed.
long long endOfTrackTick(const QByteArray& smf, int& at)
{
    if (smf.mid(at, 4) != "MTrk")
        return -1;
    const int end = at + 8 + int(be(smf, at + 4, 4));
    int p = at + 8;
    long long tick = 0;
    quint8 running = 0;
    while (p < end) {
        quint32 delta = 0;
        quint8 c;
        do {
            c = quint8(smf[p++]);
            delta = (delta << 7) | (c & 0x7f);
        } while (c & 0x80);
        tick += delta;
        quint8 status = quint8(smf[p]);
        if (status & 0x80)
            ++p;
        else
            status = running;
        if (status == 0xff) {
            const quint8 type = quint8(smf[p]);
            const int len = quint8(smf[p + 1]);
            p += 2 + len;
            if (type == 0x2f) {
                at = end;
                return p == end ? tick : -1;
            }
        } else {
            running = status;
            p += (status & 0xf0) == 0xc0 || (status & 0xf0) == 0xd0 ? 1 : 2;
        }
    }
    return -1;
}

} // namespace

TEST(MediaGen, MidiFilesAreWellFormedAndEndAtTheirDuration)
{
    for (int format : {0, 1}) {
        const QByteArray smf = smfBytes(format, 777);
        ASSERT_EQ(smf.left(4), "MThd");
        EXPECT_EQ(be(smf, 4, 4), 6u);
        EXPECT_EQ(be(smf, 8, 2), quint32(format));
        const quint32 tracks = be(smf, 10, 2);
        EXPECT_EQ(tracks, format == 0 ? 1u : 3u);
        int at = 14;
        for (quint32 t = 0; t < tracks; ++t)
            EXPECT_EQ(endOfTrackTick(smf, at), 777) << "format " << format << " track " << t;
        EXPECT_EQ(at, smf.size()) << "nothing may follow the last track";
    }
    EXPECT_THROW(smfBytes(2, 100), std::invalid_argument);
}

TEST(MediaGen, RmiWrapsTheSmfInAnAlignedDataChunk)
{
    const QByteArray smf = smfBytes(0, 300);
    const QByteArray rmi = rmidBytes(smf);
    ASSERT_EQ(rmi.left(4), "RIFF");
    EXPECT_EQ(le(rmi, 4, 4), quint32(rmi.size() - 8));
    EXPECT_EQ(rmi.mid(8, 4), "RMID");
    EXPECT_EQ(rmi.mid(12, 4), "data");
    EXPECT_EQ(le(rmi, 16, 4), quint32(smf.size()));
    EXPECT_EQ(rmi.mid(20, smf.size()), smf);
    const int next = 20 + smf.size() + smf.size() % 2;
    EXPECT_EQ(rmi.mid(next, 4), "LIST");
    EXPECT_EQ(next + 8 + int(le(rmi, next + 4, 4)), rmi.size());
}

TEST(MediaGen, WavHeaderMatchesItsSamples)
{
    const QByteArray wav = wavBytes(250, 8000, 1);
    ASSERT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(le(wav, 4, 4), quint32(wav.size() - 8));
    EXPECT_EQ(le(wav, 22, 2), 1u);    // channels
    EXPECT_EQ(le(wav, 24, 4), 8000u); // rate
    EXPECT_EQ(le(wav, 40, 4), 2000u * 2);
    EXPECT_EQ(wav.size(), 44 + 4000);
}

TEST(MediaGen, BrokenFileHelpers)
{
    QTemporaryDir dir;
    const QString a = writeRandom(dir.path(), QStringLiteral("a"), 1000, 7);
    const QString b = writeRandom(dir.path(), QStringLiteral("b"), 1000, 7);
    QFile fa(a), fb(b);
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), fb.readAll()) << "same seed, same bytes: failures must be reproducible";
    const QString cut = writeTruncatedCopy(a, dir.path(), QStringLiteral("c"), 123);
    EXPECT_EQ(QFileInfo(cut).size(), 123);
    EXPECT_EQ(QFileInfo(writeEmpty(dir.path(), QStringLiteral("d"))).size(), 0);
    EXPECT_THROW(writeEmpty(dir.path() + QStringLiteral("/no/such/folder"), QStringLiteral("e")), std::runtime_error);
}

TEST(MediaGen, AviHasVideoAndAudioStreams)
{
    QTemporaryDir dir;
    QFile f(writeAvi(dir.path(), QStringLiteral("v.avi"), 200));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray avi = f.readAll();
    EXPECT_EQ(avi.left(4), "RIFF");
    EXPECT_EQ(avi.mid(8, 4), "AVI ");
    EXPECT_TRUE(avi.contains("vids"));
    EXPECT_TRUE(avi.contains("auds"));
}
