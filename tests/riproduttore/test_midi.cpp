// MIDI files read into timed events, and played by the shared synthesiser.
#include "GstTestMedia.h"

#include "riproduttore/MidiFile.h"
#include "riproduttore/MidiSynth.h"
#include "riproduttore/SoundFont.h"

#include <cmath>
#include <initializer_list>
#include <utility>

using namespace sonora;
using namespace sonora::test;

namespace {

constexpr int kRate = 48000;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray be(quint32 value, int n)
{
    QByteArray out;
    for (int i = n - 1; i >= 0; --i)
        out.append(char(value >> (8 * i)));
    return out;
}

// A track chunk of (delta ticks, event bytes).
QByteArray track(std::initializer_list<std::pair<quint32, QByteArray>> events)
{
    QByteArray body;
    for (const auto& [delta, event] : events) {
        QByteArray v(1, char(delta & 0x7F));
        for (quint32 rest = delta >> 7; rest; rest >>= 7)
            v.prepend(char(0x80 | (rest & 0x7F)));
        body += v + event;
    }
    return "MTrk" + be(quint32(body.size()), 4) + body;
}

QByteArray smf(int format, quint16 division, std::initializer_list<QByteArray> tracks)
{
    QByteArray out = "MThd" + be(6, 4) + be(quint32(format), 2) + be(quint32(tracks.size()), 2) + be(division, 2);
    for (const QByteArray& t : tracks)
        out += t;
    return out;
}

const QByteArray kEnd = bytes({0xFF, 0x2F, 0x00});
QByteArray tempo(quint32 us) { return bytes({0xFF, 0x51, 0x03}) + be(us, 3); }

// Two tracks at 480 ticks a quarter: 120 bpm for the first second, then 60.
QByteArray tempoChangeSong()
{
    return smf(1, 480,
               {track({{0, tempo(500000)}, {960, tempo(1000000)}, {480, kEnd}}),
                track({{0, bytes({0xC0, 40})},
                       {0, bytes({0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})},
                       {480, bytes({0x90, 60, 100})},
                       {720, bytes({60, 0})}, // running status
                       {0, kEnd}})});
}

// One note of `program`, from 0.25 s to 0.75 s, in a 1 s song, timed at `rate`.
std::shared_ptr<const MidiSong> note(int program, int rate = kRate)
{
    const QByteArray song = smf(0, 480,
                                {track({{0, tempo(500000)},
                                        {0, bytes({0xC0, program})},
                                        {240, bytes({0x90, 64, 110})},
                                        {480, bytes({0x80, 64, 0})},
                                        {240, kEnd}})});
    return std::make_shared<const MidiSong>(*readMidi(song, rate));
}

// In 16-bit steps, for thresholds that read as a listener hears them.
std::vector<float> renderAll(MidiSynth& synth, MidiSynth::Cursor& cursor)
{
    std::vector<float> out;
    float block[2 * 1000];
    for (;;) {
        const auto [start, frames] = synth.render(cursor, block, 1000);
        if (frames == 0)
            return out;
        EXPECT_EQ(start, qint64(out.size() / 2));
        for (int i = 0; i < 2 * frames; ++i)
            out.push_back(block[i] * 32768.0f);
    }
}

// The period, in seconds, that the left channel is most like itself over
// in 0.4-0.5 s (while the note sounds): its pitch, or a fraction of it.
double period(const std::vector<float>& samples, int rate)
{
    const size_t from = size_t(rate) * 4 / 10;
    const size_t n = size_t(rate) / 10;
    double best = 0;
    int bestLag = 1;
    for (int lag = rate / 1000; lag < rate / 100; ++lag) {
        double sum = 0;
        for (size_t i = from; i < from + n; ++i)
            sum += double(samples[2 * i]) * samples[2 * (i + size_t(lag))];
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return double(bestLag) / rate;
}

qint64 firstLoudFrame(const std::vector<float>& samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 300)
            return qint64(i / 2);
    return -1;
}

double rmsDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double sum = 0;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        sum += std::pow(double(a[i]) - double(b[i]), 2);
    return std::sqrt(sum / double(std::max<size_t>(n, 1)));
}

} // namespace

TEST(MidiFile, TheTempoMapTimesEveryTrackAndTheLength)
{
    const auto song = readMidi(tempoChangeSong(), kRate);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->frames, 2 * kRate) << "1 s at 120 bpm, then 480 ticks at 60";
    ASSERT_EQ(song->events.size(), 4u);
    EXPECT_EQ(song->events[0].status, 0xC0);
    EXPECT_EQ(song->events[0].data1, 40);
    EXPECT_EQ(song->events[1].status, 0xF0);
    EXPECT_EQ(song->sysex.at(size_t(song->events[1].sysex)), bytes({0x7E, 0x7F, 0x09, 0x01}));
    EXPECT_EQ(song->events[2].frame, kRate / 2);
    EXPECT_EQ(song->events[3].frame, kRate * 3 / 2) << "the second tempo counts from where it changed";
    EXPECT_EQ(song->events[3].status, 0x90) << "running status";

    // The same song wrapped in RIFF, and a song timed in SMPTE frames (25
    // frames of 40 ticks: a millisecond a tick).
    const auto wrapped = readMidi(rmidBytes(tempoChangeSong()), kRate);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->frames, song->frames);
    EXPECT_EQ(wrapped->events.size(), song->events.size());
    const auto smpte = readMidi(smf(0, quint16(0xE728), {track({{0, bytes({0x90, 60, 100})}, {1500, kEnd}})}), kRate);
    ASSERT_TRUE(smpte);
    EXPECT_EQ(smpte->frames, kRate * 3 / 2);
}

TEST(MidiFile, DamagedFilesAreRefusedOrPlayedAsFarAsTheyGo)
{
    const QByteArray whole = tempoChangeSong();
    EXPECT_FALSE(readMidi(QByteArray("RIFF\0\0\0\0WAVE", 12), kRate));
    EXPECT_FALSE(readMidi(whole.left(12), kRate)) << "header cut";
    EXPECT_FALSE(readMidi(smf(1, 0, {track({{0, kEnd}})}), kRate)) << "no division";
    EXPECT_FALSE(readMidi(smf(1, 480, {}), kRate)) << "no track";
    EXPECT_FALSE(readMidi(rmidBytes(QByteArray()), kRate));
    // Cut inside the note off: the second track ends after its note on.
    const auto cut = readMidi(whole.left(whole.size() - 5), kRate);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->events.size(), 3u);
    EXPECT_EQ(cut->frames, 2 * kRate) << "the first track is whole";
    // A data byte with no running status (a meta event cancels it) ends its track.
    const auto stray = readMidi(
        smf(0, 480, {track({{0, bytes({0x90, 60, 100})}, {0, tempo(500000)}, {0, bytes({0x3C, 0})}, {0, kEnd}})}),
        kRate);
    ASSERT_TRUE(stray);
    EXPECT_EQ(stray->events.size(), 1u);
}

class MidiSynthTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_FALSE(defaultSoundFont().isEmpty()) << "a build dependency"; }

    std::shared_ptr<MidiSynth> ready(const MidiSong& song)
    {
        synth->prepare(song).wait();
        EXPECT_EQ(synth->failure(), QString());
        return synth;
    }

    std::shared_ptr<MidiSynth> synth = std::make_shared<MidiSynth>(defaultSoundFont(), nullptr);
};

TEST_F(MidiSynthTest, NotesSoundWhenTheirTimeComesAndStopAtTheSongsEnd)
{
    const auto song = note(0);
    MidiSynth::Cursor cursor{song};
    const std::vector<float> out = renderAll(*ready(*song), cursor);
    EXPECT_EQ(qint64(out.size() / 2), kRate) << "exactly the song's length";
    const qint64 first = firstLoudFrame(out);
    EXPECT_GE(first, kRate / 4) << "the note at 0.25 s";
    EXPECT_LT(first, kRate / 4 + kRate / 100) << "the note at 0.25 s";

    // Rewound, it plays the same again.
    synth->seek(cursor, 0);
    const std::vector<float> again = renderAll(*synth, cursor);
    EXPECT_EQ(again.size(), out.size());
    EXPECT_LT(rmsDifference(out, again), 4.0);

    // Timed for a 44.1 kHz output, the same song is rendered at that rate:
    // as long, and at the same pitch.
    MidiSynth::Cursor slower{note(0, 44100)};
    const std::vector<float> at44 = renderAll(*synth, slower);
    EXPECT_EQ(qint64(at44.size() / 2), 44100);
    EXPECT_NEAR(period(at44, 44100), period(out, kRate), period(out, kRate) / 100);
}

TEST_F(MidiSynthTest, EachSongStartsWithItsOwnInstrumentsOnAResetSynthesiser)
{
    const auto piano = note(0), flute = note(73);
    ready(*flute);
    MidiSynth::Cursor first{piano};
    const std::vector<float> pianoAlone = renderAll(*ready(*piano), first);
    MidiSynth::Cursor second{flute};
    const std::vector<float> fluteOut = renderAll(*synth, second);
    EXPECT_GT(rmsDifference(pianoAlone, fluteOut), 200.0) << "the program change was played";

    // Played after the flute, the piano song sounds as it does alone: no
    // program, controller or reverb tail is carried over.
    MidiSynth::Cursor third{piano};
    const std::vector<float> pianoAfter = renderAll(*synth, third);
    EXPECT_LT(rmsDifference(pianoAlone, pianoAfter), 4.0);

    // A song whose turn another has taken renders nothing more.
    synth->seek(first, 0);
    float block[2 * 64];
    EXPECT_EQ(synth->render(first, block, 64).second, 64);
    synth->seek(second, 0);
    EXPECT_EQ(synth->render(second, block, 64).second, 64);
    EXPECT_EQ(synth->render(first, block, 64).second, 0);
}
