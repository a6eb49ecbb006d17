#pragma once
// The media device that really plays: WAV, MIDI and AVI songs through GStreamer.

#include "comune/AudioRing.h"
#include "comune/MediaDevice.h"
#include "comune/OwnedFd.h"
#include "gst/GstHandles.h"
#include "riproduttore/Reaper.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

namespace sonora {

namespace ring {
class RingWriter;
}
class AudioOutput;
class IVideoOutput;
class MidiSynth;
struct MidiSong;
struct PipelineLink;
class PlaybackObserver;
struct SongSession;

struct GstDeviceOptions {
    // Where the sound goes: the ring the output process plays. Without one it
    // goes nowhere, and the songs still play in step with the clock.
    std::shared_ptr<ring::RingWriter> ring;
    // Where the pictures of video songs go. None: they are decoded in time
    // and dropped, and only the sound is heard.
    IVideoOutput* video = nullptr;
    // Soundfonts to choose from, best first, instead of the known Debian paths.
    std::optional<QStringList> soundFontCandidates;
    // Longest wait in open() for the song to be ready to play.
    int openTimeoutMs = 2000;
    // Watches every song from outside (benchmarks, tests); none in the program.
    std::shared_ptr<PlaybackObserver> observer;
};

class GstMediaDevice : public QObject, public IMediaDevice {
public:
    explicit GstMediaDevice(GstDeviceOptions options = {});
    ~GstMediaDevice() override;

    // Gets GStreamer and the plugins a WAV song needs ready, so that the
    // first song starts as quickly as the next ones. Never throws: whatever fails
    // here is reported by the first open.
    void warmUp();

    // The song as the player gets it: its file, open, which is all the
    // device reads; `path` names it in errors and titles.
    void open(OwnedFd song, const QString& path, MediaKind kind);
    void prepare(OwnedFd song, const QString& path, MediaKind kind);
    // In the same process (tests): the device opens `path` read-only itself.
    void open(const QString& path, MediaKind kind) override;
    void prepare(const QString& path, MediaKind kind) override;
    void close() override;
    void play() override;
    void stop() override;
    MediaState state() const override;
    std::optional<Duration> duration() const override;
    Duration position() const override;

    // The format the output process takes its sound in: every song is
    // converted to it (once, or not at all), MIDI songs synthesised in it.
    void setFormat(const ring::Format& format);

    // The soundfont MIDI songs play with (empty when none is installed).
    const QString& soundFont() const { return soundFont_; }

private:
    friend struct PipelineLink;

    void handleMessage(quint64 generation, quint64 segment, int type, const QString& reason);
    void showLatestFrame(quint64 generation);
    void endOfSong(const QString& error);
    void readDuration();
    void readyOutput();
    // The song's pipeline, made and prerolling (a MIDI song's once startMidi
    // has its instruments); what is sure to fail throws here.
    std::unique_ptr<SongSession> beginSession(OwnedFd song, const QString& path, MediaKind kind);
    void beginMidiSession(SongSession& session, OwnedFd song, std::shared_ptr<const MidiSong> midi,
                          ElementRef audioSink);
    void beginPlaybinSession(SongSession& session, OwnedFd song, ElementRef audioSink);
    bool prepared(const QString& path, MediaKind kind) const;
    void startMidi(SongSession& session);
    // Refuses a file that is no song; reads a MIDI song whole (null: not MIDI).
    std::shared_ptr<const MidiSong> readSong(int song, const QString& path);
    MidiSynth& synth();
    void foreseeMidi();

    GstDeviceOptions options_;
    QString soundFont_;
    // Made when the first MIDI song is foreseen, and kept: it loads the soundfont once.
    std::shared_ptr<MidiSynth> synth_;
    // Declared first, destroyed last: every song pipeline feeds it.
    std::unique_ptr<AudioOutput> output_;
    ring::Format format_; // the output's, as it last said it
    QTimer rest_;
    std::unique_ptr<SongSession> session_;
    std::unique_ptr<SongSession> next_; // prepared, prerolling or prerolled
    QString refusedHint_;           // a song that could not be prepared
    quint64 generation_ = 0;     // of the open song's pipeline
    quint64 lastGeneration_ = 0; // of the newest pipeline made
    bool playing_ = false;
    qint64 durationNs_ = -1; // -1: not known (yet)
    // Takes down the pipelines of songs that ended, off the main thread.
    Reaper<SongSession> reaper_;
};

} // namespace sonora
