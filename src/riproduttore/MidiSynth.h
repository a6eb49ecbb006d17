#pragma once
// The player's one MIDI synthesiser: FluidSynth with the chosen soundfont,
// loaded once and kept for every MIDI song after. Songs take turns on it:
// each starts on a freshly reset synthesiser, as if it had one of its own.
//
// FluidSynth is loaded, not linked (it brings some sixty libraries, graphics
// among them): the player process loads it while it is set up, since it
// opens no library once sealed; the synthesiser is made when the first MIDI
// song is foreseen. It loads on a thread of its own, and with dynamic
// sample loading: only the instruments a song plays are read (for a
// compressed SF3, decoded), and they stay for the songs after.

#include <QString>

#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace sonora {

struct MidiSong;
class PlaybackObserver;

// Loads FluidSynth now, while libraries can still be opened by name; false
// when it is missing (a MIDI song then says why).
bool preloadFluidSynth();

class MidiSynth {
public:
    // The highest rate FluidSynth renders at: a faster device gets it resampled.
    static constexpr int kMaxRate = 96000;

    // `soundFont` must name an installed soundfont (see SoundFont.h).
    MidiSynth(QString soundFont, std::shared_ptr<PlaybackObserver> observer);
    ~MidiSynth();
    MidiSynth(const MidiSynth&) = delete;
    MidiSynth& operator=(const MidiSynth&) = delete;

    const QString& soundFont() const { return soundFont_; }

    // Starts loading FluidSynth and the soundfont in the background, once.
    void load();
    // Loads as load(), then the instruments `song` plays: done when it can
    // play at once. Call failure() after it is done.
    std::shared_future<void> prepare(const MidiSong& song);
    // Why no song can play (FluidSynth or the soundfont did not load); empty
    // while it can, or while it is still loading.
    QString failure() const;

    // Where one song stands on the synthesiser.
    struct Cursor {
        std::shared_ptr<const MidiSong> song;
        size_t next = 0;   // the next event to play
        qint64 frame = 0;  // the first frame not yet rendered
        bool fresh = true; // takes the synthesiser, reset, before rendering
        quint64 turn = 0;  // its turn on the synthesiser, once taken
    };

    // Renders up to `frames` stereo frames (float, interleaved) of the
    // cursor's song into `out`, at the rate the song is timed at; returns where
    // they start and how many there are: none at the song's end, or once
    // another song has taken the synthesiser.
    std::pair<qint64, int> render(Cursor& cursor, float* out, int frames);
    // Moves the cursor to `frame`; the song starts again from there afresh.
    void seek(Cursor& cursor, qint64 frame);

private:
    struct Fluid;
    using Preset = std::pair<int, int>; // bank, program

    std::shared_future<void> post(std::function<void()> job);
    void run();
    void loadNow();
    void pin(const std::set<Preset>& presets);
    void play(const MidiSong& song, size_t event);

    const QString soundFont_;
    const std::shared_ptr<PlaybackObserver> observer_;

    // The worker thread and its jobs, run in order.
    std::mutex jobsMutex_;
    std::condition_variable jobsChanged_;
    std::deque<std::packaged_task<void()>> jobs_;
    bool quitting_ = false;
    std::thread worker_;
    std::shared_future<void> loaded_;

    // Written by the worker before the futures it completes; read after them.
    std::unique_ptr<Fluid> fluid_;
    std::set<Preset> pinned_;
    mutable std::mutex failureMutex_;
    QString failure_;

    // Rendering, on the songs' streaming threads.
    std::mutex renderMutex_;
    quint64 turns_ = 0;
    qint64 rendered_ = 0; // frames, all songs together
    int rate_ = 0;        // what FluidSynth renders at now
};

} // namespace sonora
