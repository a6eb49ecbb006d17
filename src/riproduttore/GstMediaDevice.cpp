#include "riproduttore/GstMediaDevice.h"

#include "comune/AperturaBrano.h"
#include "comune/Errori.h"
#include "comune/Memoria.h"
#include "comune/VideoOutput.h"
#include "riproduttore/AudioOutput.h"
#include "riproduttore/FdSource.h"
#include "gst/GstHandles.h"
#include "gst/GstReasons.h"
#include "riproduttore/GstRuntime.h"
#include "riproduttore/GstSinks.h"
#include "riproduttore/MidiFile.h"
#include "riproduttore/MidiSource.h"
#include "riproduttore/MidiSynth.h"
#include "riproduttore/PipelineLink.h"
#include "riproduttore/PlaybackObserver.h"
#include "riproduttore/SongSession.h"
#include "riproduttore/SoundFont.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace sonora {
namespace {

// How long the device stays ready to play after a close: song changes take
// milliseconds, so a second means the user stopped or the list ended.
constexpr int kRestAfterMs = 1000;

// Longest wait in open() for the soundfont and a MIDI song's instruments.
constexpr int kInstrumentsTimeoutMs = 20000;
// Far larger than any MIDI song: a file this big is damaged.
constexpr qint64 kLargestMidi = 64 << 20;

// playbin's flags (GstPlayFlags is private to the plugin).
constexpr guint kPlayVideo = 1u << 0;
constexpr guint kPlayAudio = 1u << 1;
// No conversion of playbin's own before the song's sink, which converts once.
constexpr guint kPlayNativeAudio = 1u << 5;

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

IMediaDevice::Duration toMs(qint64 ns)
{
    return std::chrono::duration_cast<IMediaDevice::Duration>(std::chrono::nanoseconds(std::max<qint64>(ns, 0)));
}

} // namespace

GstMediaDevice::GstMediaDevice(GstDeviceOptions options)
    : options_(std::move(options))
{
    // Idle for a while: the prepared song and the system's audio stream go.
    rest_.setSingleShot(true);
    rest_.setInterval(kRestAfterMs);
    connect(&rest_, &QTimer::timeout, this, [this] {
        next_.reset();
        if (output_)
            output_->rest();
        restituisciMemoriaLibera();
    });
    // Cheap (cached after the first device); GStreamer itself starts on the first open.
    soundFont_ = options_.soundFontCandidates ? chooseSoundFont(*options_.soundFontCandidates) : defaultSoundFont();
}

GstMediaDevice::~GstMediaDevice()
{
    close();
    next_.reset(); // every song pipeline before the output they feed
    reaper_.finish();
}

MediaState GstMediaDevice::state() const
{
    if (!session_)
        return MediaState::Closed;
    // The streaming thread's word counts at once, before its message arrives.
    if (session_->link->end.ended())
        return MediaState::Ended;
    return playing_ ? MediaState::Playing : MediaState::Ready;
}

std::optional<IMediaDevice::Duration> GstMediaDevice::duration() const
{
    if (!session_ || durationNs_ < 0)
        return std::nullopt;
    // Rounded, so a 500 ms file reads 500 even if its last sample ends at 499.98.
    return toMs(durationNs_ + GST_MSECOND / 2);
}

IMediaDevice::Duration GstMediaDevice::position() const
{
    if (!session_)
        return Duration{0};
    if (const auto at = session_->link->end.position())
        return toMs(*at);
    gint64 position = -1;
    if (!gst_element_query_position(session_->pipeline.get(), GST_FORMAT_TIME, &position))
        position = 0;
    return toMs(position);
}

std::shared_ptr<const MidiSong> GstMediaDevice::readSong(int song, const QString& path)
{
    // What GStreamer would only report vaguely (an empty file, a folder, a
    // device) is refused first, with a reason the user can act on. The program
    // checked the song before it opened it; what it handed over is checked all the same.
    struct stat st {};
    if (::fstat(song, &st) != 0)
        throw MediaError(path, reasonFromErrno(errno));
    verificaBrano(st, path);
    if (!looksLikeMidi(readAt(song, 0, 12)))
        return nullptr; // not MIDI: GStreamer reads it, or says why not
    if (soundFont_.isEmpty())
        throw MediaError(path, QStringLiteral("non è installato alcun soundfont General MIDI con cui suonare i file "
                                              "MIDI; installare il pacchetto Debian %1")
                                   .arg(soundFontPackages()));
    std::optional<MidiSong> midi;
    if (st.st_size <= kLargestMidi)
        midi = readMidi(readAt(song, 0, st.st_size), std::min<int>(int(format_.rate), MidiSynth::kMaxRate));
    if (!midi)
        throw MediaError(path, QStringLiteral("il file MIDI è danneggiato o troncato"));
    return std::make_shared<const MidiSong>(std::move(*midi));
}

MidiSynth& GstMediaDevice::synth()
{
    if (!synth_)
        synth_ = std::make_shared<MidiSynth>(soundFont_, options_.observer);
    return *synth_;
}

void GstMediaDevice::foreseeMidi()
{
    if (!soundFont_.isEmpty())
        synth().load();
}

std::unique_ptr<SongSession> GstMediaDevice::beginSession(OwnedFd song, const QString& path, MediaKind kind)
{
    // The file's content decides how it plays, whatever its name says.
    std::shared_ptr<const MidiSong> midi = readSong(song.get(), path);
    auto session = std::make_unique<SongSession>(path, kind);
    try {
        ElementRef audioSink = output_->makeSongSink();
        session->audioSink = audioSink;
        if (midi)
            beginMidiSession(*session, std::move(song), std::move(midi), std::move(audioSink));
        else
            beginPlaybinSession(*session, std::move(song), std::move(audioSink));
    } catch (const SetupError& e) {
        throw MediaError(path, e.message()); // the song it stopped
    }
    return session;
}

void GstMediaDevice::beginMidiSession(SongSession& session, OwnedFd song, std::shared_ptr<const MidiSong> midi,
                                      ElementRef audioSink)
{
    session.midi = std::move(midi);
    session.instruments = synth().prepare(*session.midi);
    session.pipeline = makeMidiPipeline(synth_, session.midi, audioSink.get());
    session.attach(this, ++lastGeneration_, std::move(song), audioSink.get(), options_.observer);
    // It prerolls when it opens (startMidi): the synthesiser plays one song at a time.
}

void GstMediaDevice::beginPlaybinSession(SongSession& session, OwnedFd song, ElementRef audioSink)
{
    // playbin rather than playbin3: in GStreamer 1.22 it is still the
    // default, best-tested player, and everything we need (flags,
    // element-setup, custom sinks) behaves the same in both.
    session.pipeline = requireElement("playbin");
    session.attach(this, ++lastGeneration_, std::move(song), audioSink.get(), options_.observer);
    GstElement* pipeline = session.pipeline.get();
    const LinkPtr& link = session.link;

    g_signal_connect_data(pipeline, "element-setup", G_CALLBACK(onElementSetup), linkData(link), freeLinkClosure,
                          GConnectFlags(0));
    g_object_set(pipeline, "audio-sink", audioSink.get(), nullptr);
    const bool video = session.kind == MediaKind::Video;
    ElementRef videoSink = makeVideoSink(options_, video, link);
    if (video) {
        noteFirstBuffer(videoSink.get(), link);
        // Sound is heard a little after its sink renders it; so is the picture.
        // Through playbin's own offset: playsink sets its sinks' ts-offset
        // from it when it builds them, over whatever the sink had.
        g_object_set(pipeline, "av-offset", gint64(output_->latency()), nullptr);
    }
    g_object_set(pipeline, "video-sink", videoSink.get(), nullptr);
    // Only what is needed: no subtitles, no software volume, no deinterlacing.
    const guint flags = (video ? kPlayAudio | kPlayVideo : kPlayAudio) | kPlayNativeAudio;
    g_object_set(pipeline, "flags", flags, "uri", kSongUri, nullptr);

    // Preroll on GStreamer's threads; open() waits for it.
    session.preroll();
}

void GstMediaDevice::startMidi(SongSession& session)
{
    // Loading the soundfont and the song's instruments is no fault of the
    // song's: it does not count against its open time, however long a busy
    // machine takes over it.
    if (session.instruments.wait_for(std::chrono::milliseconds(kInstrumentsTimeoutMs)) != std::future_status::ready)
        throw MediaError(session.path, QStringLiteral("il sintetizzatore MIDI non ha caricato il soundfont %1 in %2 "
                                                      "secondi: il disco potrebbe essere troppo lento")
                                           .arg(soundFont_)
                                           .arg(kInstrumentsTimeoutMs / 1000));
    if (const QString why = synth_->failure(); !why.isEmpty())
        throw MediaError(session.path, why);
    session.preroll();
}

void GstMediaDevice::readyOutput()
{
    ensureGStreamer();
    rest_.stop();
    if (!output_)
        output_ = std::make_unique<AudioOutput>(options_.ring, format_);
    // The output's stream starts now, while the song opens: it is running
    // by the time the song's first sound comes.
    output_->start();
}

void GstMediaDevice::warmUp()
{
    try {
        ensureGStreamer();
        // A sealed player has them all already; another loads the rest as songs need them.
        preloadCommonPlugins();
        if (!output_) // no stream until a song opens
            output_ = std::make_unique<AudioOutput>(options_.ring, format_);
    } catch (const std::exception&) {
    }
}

void GstMediaDevice::open(const QString& path, MediaKind kind)
{
    close();
    open(apriBrano(path), path, kind);
}

void GstMediaDevice::open(OwnedFd song, const QString& path, MediaKind kind)
{
    close();
    refusedHint_.clear(); // the next hint is tried afresh
    if (kind == MediaKind::Midi)
        foreseeMidi(); // the soundfont loads while GStreamer starts
    readyOutput();
    std::unique_ptr<SongSession> session =
        prepared(path, kind) ? std::move(next_) : beginSession(std::move(song), path, kind);
    next_.reset(); // another song came instead: it is of no use any more
    if (session->midi)
        startMidi(*session);
    const Preroll preroll = session->awaitPreroll(options_.openTimeoutMs);
    checkPrerolled(preroll, path, options_.openTimeoutMs);

    session_ = std::move(session);
    generation_ = session_->link->generation;
    durationNs_ = preroll.durationNs;
    // A song with nothing in it, or whose length reads 0 (a data chunk of 0
    // bytes, say), is over as soon as it opens, so a play list moves on past it.
    if (!preroll.anyData || (durationNs_ >= 0 && durationNs_ < GST_MSECOND)) {
        durationNs_ = 0;
        session_->link->end.end(0, QString());
    }
    if (options_.observer)
        options_.observer->opened();
    showLatestFrame(generation_); // the prerolled picture, if the song has one
}

void GstMediaDevice::setFormat(const ring::Format& format)
{
    if (format == format_ || !format.valid())
        return;
    format_ = format;
    if (!output_)
        return;
    output_->setFormat(format);
    // The open song follows from its next buffer; one that is not playing
    // yet, and the prepared one, preroll again in the new format, so that
    // their first sound is not in the old one, which the output drops.
    if (session_) {
        output_->retune(session_->audioSink.get());
        if (!playing_ && !session_->link->end.ended())
            stop();
    }
    if (next_) {
        output_->retune(next_->audioSink.get());
        gst_element_seek_simple(next_->pipeline.get(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0);
    }
}

bool GstMediaDevice::prepared(const QString& path, MediaKind kind) const
{
    return next_ && next_->path == path && next_->kind == kind;
}

void GstMediaDevice::prepare(const QString& path, MediaKind kind)
{
    // The same hint comes with every tick: a song that cannot be prepared is
    // not tried again until another song opens.
    if (prepared(path, kind) || path == refusedHint_)
        return;
    try {
        prepare(apriBrano(path), path, kind);
    } catch (const std::exception&) {
        refusedHint_ = path;
    }
}

void GstMediaDevice::prepare(OwnedFd song, const QString& path, MediaKind kind)
{
    if (prepared(path, kind) || path == refusedHint_)
        return;
    next_.reset();
    if (kind == MediaKind::Midi)
        foreseeMidi();
    // Only a hint: it never starts GStreamer or the output, and whatever
    // fails here is reported by the open that may follow.
    if (!output_)
        return;
    try {
        next_ = beginSession(std::move(song), path, kind);
    } catch (const std::exception&) {
        next_.reset();
        refusedHint_ = path;
    }
}

void GstMediaDevice::close()
{
    // The window goes first so that no frame is painted from a stopping pipeline.
    if (options_.video)
        options_.video->closeWindow();
    if (session_ && session_->link->end.ended()) {
        // A song that has played to its end has nothing more to say, and
        // stopping some pipelines takes a tenth of a second (the MIDI
        // synthesiser's): that would be a hole before the next song. It is
        // taken down on a thread of its own instead.
        session_->link->detach();
        reaper_.bury(std::move(session_));
    }
    session_.reset();
    if (output_)
        rest_.start();
    playing_ = false;
    durationNs_ = -1;
}

void GstMediaDevice::play()
{
    if (!session_)
        throw MediaError(QStringLiteral("Nessun brano aperto: aprire un brano prima di riprodurlo."));
    // Already going, or at its end (where it stays until stop or close).
    if (playing_ || session_->link->end.ended())
        return;
    if (options_.observer)
        options_.observer->playStarting();
    GstElement* pipeline = session_->pipeline.get();
    if (output_->startsAhead()) {
        // The first song of an idle output starts most of kAhead into its
        // running time: its first sound is heard at once (AudioOutput::kLead).
        GstClock* clock = gst_system_clock_obtain();
        gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
        gst_element_set_start_time(pipeline, GST_CLOCK_TIME_NONE);
        gst_element_set_base_time(pipeline, gst_clock_get_time(clock) - (AudioOutput::kAhead - AudioOutput::kLead));
        gst_object_unref(clock);
    } else {
        gst_element_set_start_time(pipeline, 0); // the pipeline keeps its own time again
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        MessageRef error;
        {
            std::lock_guard lock(session_->link->mutex);
            error = session_->link->error;
        }
        const QString path = session_->path;
        if (error)
            throw MediaError(path, reasonForError(error.get()));
        throw MediaError(path, QStringLiteral("la riproduzione non parte; controllare l'uscita audio del sistema"));
    }
    playing_ = true;
}

void GstMediaDevice::stop()
{
    if (!session_)
        return;
    GstElement* pipeline = session_->pipeline.get();
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
    // Wait for the new preroll, so that position reads 0 and play() is immediate.
    gst_element_get_state(pipeline, nullptr, nullptr, GstClockTime(options_.openTimeoutMs) * GST_MSECOND);
    {
        PipelineLink& link = *session_->link;
        std::lock_guard lock(link.mutex);
        ++link.segment; // an end of stream still queued is from before the rewind
        link.end.reset();
        link.error.reset();
    }
    playing_ = false;
}

void GstMediaDevice::readDuration()
{
    if (const qint64 duration = session_->durationNs(); duration >= 0)
        durationNs_ = duration;
}

void GstMediaDevice::handleMessage(quint64 generation, quint64 segment, int type, const QString& reason)
{
    // A message of a pipeline closed since, or from before a rewind, is stale.
    if (!session_ || generation != generation_)
        return;
    {
        std::lock_guard lock(session_->link->mutex);
        if (segment != session_->link->segment)
            return;
    }
    switch (type) {
    case GST_MESSAGE_EOS:
        endOfSong(QString());
        break;
    case GST_MESSAGE_ERROR:
        endOfSong(reason);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        if (!session_->link->end.ended())
            readDuration();
        break;
    default:
        break;
    }
}

void GstMediaDevice::endOfSong(const QString& error)
{
    // Where it stopped; for a song that never told its length, that is its length.
    gint64 position = -1;
    if (!gst_element_query_position(session_->pipeline.get(), GST_FORMAT_TIME, &position) || position < 0)
        position = std::max<qint64>(durationNs_, 0);
    if (session_->link->end.end(position, error))
        reportEnded(); // last: it may well close this song and open the next
}

void GstMediaDevice::showLatestFrame(quint64 generation)
{
    if (!session_ || generation != generation_)
        return;
    auto [frame, display] = session_->link->takeFrame();
    if (frame.isNull() || !options_.video)
        return;
    options_.video->showFrame(fileName(session_->path), display.isValid() ? display : frame.size, frame);
}

} // namespace sonora
