#include "riproduttore/MidiSynth.h"

#include "riproduttore/LetturaSoundFont.h"
#include "riproduttore/MidiFile.h"
#include "riproduttore/PlaybackObserver.h"
#include "riproduttore/SoundFont.h"

#include <QFile>

#include <fluidsynth.h>

#include <algorithm>
#include <dlfcn.h>

static_assert(FLUIDSYNTH_VERSION_MAJOR > 2 || (FLUIDSYNTH_VERSION_MAJOR == 2 && FLUIDSYNTH_VERSION_MINOR >= 2),
              "dynamic sample loading and pinned presets need FluidSynth 2.2");

namespace sonora {
namespace {

// The functions of the library that are used, looked up by name once.
#define SONORA_FLUID_FUNCTIONS(X)                                                                                       \
    X(fluid_set_log_function)                                                                                          \
    X(new_fluid_settings)                                                                                              \
    X(delete_fluid_settings)                                                                                           \
    X(fluid_settings_setint)                                                                                           \
    X(fluid_settings_setnum)                                                                                           \
    X(new_fluid_synth)                                                                                                 \
    X(delete_fluid_synth)                                                                                              \
    X(fluid_synth_sfload)                                                                                              \
    X(new_fluid_defsfloader)                                                                                           \
    X(fluid_sfloader_set_callbacks)                                                                                    \
    X(fluid_synth_add_sfloader)                                                                                        \
    X(fluid_synth_get_sfont_by_id)                                                                                     \
    X(fluid_sfont_get_preset)                                                                                          \
    X(fluid_synth_pin_preset)                                                                                          \
    X(fluid_synth_system_reset)                                                                                        \
    X(fluid_synth_write_float)                                                                                         \
    X(fluid_synth_set_sample_rate)                                                                                     \
    X(fluid_synth_get_internal_bufsize)                                                                                \
    X(fluid_synth_noteon)                                                                                              \
    X(fluid_synth_noteoff)                                                                                             \
    X(fluid_synth_key_pressure)                                                                                        \
    X(fluid_synth_cc)                                                                                                  \
    X(fluid_synth_program_change)                                                                                      \
    X(fluid_synth_channel_pressure)                                                                                    \
    X(fluid_synth_pitch_bend)                                                                                          \
    X(fluid_synth_sysex)

// fluid_synth_set_sample_rate is deprecated only as a thing to do while
// rendering: between songs it is the way to change the rate.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct Api {
#define SONORA_FLUID_MEMBER(name) decltype(&::name) name = nullptr;
    SONORA_FLUID_FUNCTIONS(SONORA_FLUID_MEMBER)
#undef SONORA_FLUID_MEMBER
};
#pragma GCC diagnostic pop

constexpr const char* kLibrary = "libfluidsynth.so.3";
constexpr int kDrumChannel = 9;
constexpr int kDrumBank = 128;

// Only FluidSynth's errors reach the log; its notes on every preset do not.
void logFluid(int level, const char* message, void*)
{
    if (level <= FLUID_ERR)
        qWarning("FluidSynth: %s", message);
}

// The library, loaded once per process and never unloaded; null when it is
// missing, with the reason in `why`.
const Api* fluidSynth(QString& why)
{
    static const Api* api = nullptr;
    static QString failure;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            failure = QStringLiteral("manca la libreria del sintetizzatore MIDI FluidSynth (pacchetto Debian "
                                     "libfluidsynth3)");
            return;
        }
        static Api found;
#define SONORA_FLUID_LOOKUP(name) found.name = reinterpret_cast<decltype(found.name)>(dlsym(library, #name));
        SONORA_FLUID_FUNCTIONS(SONORA_FLUID_LOOKUP)
#undef SONORA_FLUID_LOOKUP
        bool complete = true;
#define SONORA_FLUID_CHECK(name) complete = complete && found.name;
        SONORA_FLUID_FUNCTIONS(SONORA_FLUID_CHECK)
#undef SONORA_FLUID_CHECK
        if (!complete) {
            failure = QStringLiteral("la libreria FluidSynth installata è troppo vecchia: serve la versione 2.2 o "
                                     "successiva (pacchetto Debian libfluidsynth3)");
            return;
        }
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            found.fluid_set_log_function(level, logFluid, nullptr);
        api = &found;
    });
    why = failure;
    return api;
}

} // namespace

bool preloadFluidSynth()
{
    QString why;
    return fluidSynth(why) != nullptr;
}

struct MidiSynth::Fluid {
    const Api* api = nullptr;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int soundFont = -1;

    ~Fluid()
    {
        if (synth)
            api->delete_fluid_synth(synth);
        if (settings)
            api->delete_fluid_settings(settings);
    }
};

MidiSynth::MidiSynth(QString soundFont, std::shared_ptr<PlaybackObserver> observer)
    : soundFont_(std::move(soundFont))
    , observer_(std::move(observer))
{
}

MidiSynth::~MidiSynth()
{
    {
        std::lock_guard lock(jobsMutex_);
        quitting_ = true;
    }
    jobsChanged_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

std::shared_future<void> MidiSynth::post(std::function<void()> job)
{
    std::packaged_task<void()> task(std::move(job));
    std::shared_future<void> done = task.get_future().share();
    {
        std::lock_guard lock(jobsMutex_);
        jobs_.push_back(std::move(task));
        if (!worker_.joinable())
            worker_ = std::thread([this] { run(); });
    }
    jobsChanged_.notify_one();
    return done;
}

void MidiSynth::run()
{
    std::unique_lock lock(jobsMutex_);
    for (;;) {
        jobsChanged_.wait(lock, [this] { return quitting_ || !jobs_.empty(); });
        if (quitting_) // what is still queued is dropped: its futures say so to anyone waiting
            return;
        std::packaged_task<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

void MidiSynth::load()
{
    if (!loaded_.valid())
        loaded_ = post([this] { loadNow(); });
}

QString MidiSynth::failure() const
{
    std::lock_guard lock(failureMutex_);
    return failure_;
}

void MidiSynth::loadNow()
{
    auto fluid = std::make_unique<Fluid>();
    QString why;
    fluid->api = fluidSynth(why);
    const Api* api = fluid->api;
    if (api) {
        fluid->settings = api->new_fluid_settings();
        fluid_settings_t* s = fluid->settings;
        // As GStreamer's FluidSynth element played songs: chorus and reverb
        // on, gain 0.2, 256 voices. Its rate is each song's (render()).
        api->fluid_settings_setint(s, "synth.chorus.active", 1);
        api->fluid_settings_setint(s, "synth.reverb.active", 1);
        api->fluid_settings_setnum(s, "synth.gain", 0.2);
        api->fluid_settings_setint(s, "synth.polyphony", 256);
        // Samples are read when an instrument is first chosen, not all at once.
        api->fluid_settings_setint(s, "synth.dynamic-sample-loading", 1);
        // Locking them in memory fails, with a warning, beyond the little a
        // user's process may lock.
        api->fluid_settings_setint(s, "synth.lock-memory", 0);
        fluid->synth = api->new_fluid_synth(s);
        if (observer_)
            observer_->soundFontLoading(soundFont_);
        // Its reads, now and for each instrument later, go to a descriptor
        // opened while the player could still open files (LetturaSoundFont.h).
        if (fluid_sfloader_t* loader = fluid->synth ? api->new_fluid_defsfloader(s) : nullptr) {
            api->fluid_sfloader_set_callbacks(loader, soundfont::apriFile, soundfont::leggi, soundfont::cerca,
                                              soundfont::posizione, soundfont::chiudi);
            api->fluid_synth_add_sfloader(fluid->synth, loader); // the synthesiser owns it
        }
        if (fluid->synth)
            fluid->soundFont = api->fluid_synth_sfload(fluid->synth, QFile::encodeName(soundFont_).constData(), 1);
        if (fluid->soundFont == FLUID_FAILED)
            why = QStringLiteral("il soundfont %1 non si può caricare: potrebbe essere danneggiato; reinstallare il "
                                 "pacchetto Debian che lo fornisce (%2)")
                      .arg(soundFont_, soundFontPackages());
    }
    if (!why.isEmpty()) {
        std::lock_guard lock(failureMutex_);
        failure_ = why;
        return;
    }
    {
        std::lock_guard lock(renderMutex_);
        fluid_ = std::move(fluid);
    }
    // The instruments every channel has after a reset: each song starts with them.
    pin({{0, 0}, {kDrumBank, 0}});
}

std::shared_future<void> MidiSynth::prepare(const MidiSong& song)
{
    // The instruments the song chooses, as FluidSynth chooses them: a
    // melodic channel's bank is its last bank select (GS style); the drum
    // channel always plays from the drum bank.
    std::set<Preset> presets;
    int bank[16] = {};
    for (const MidiSong::Event& e : song.events) {
        const int channel = e.status & 0x0F;
        if ((e.status & 0xF0) == 0xB0 && e.data1 == 0)
            bank[channel] = e.data2;
        else if ((e.status & 0xF0) == 0xC0)
            presets.insert({channel == kDrumChannel ? kDrumBank : bank[channel], e.data1});
    }
    load();
    return post([this, presets] { pin(presets); });
}

void MidiSynth::pin(const std::set<Preset>& presets)
{
    if (!fluid_)
        return;
    const Api* api = fluid_->api;
    fluid_sfont_t* font = api->fluid_synth_get_sfont_by_id(fluid_->synth, fluid_->soundFont);
    const auto exists = [&](Preset p) { return font && api->fluid_sfont_get_preset(font, p.first, p.second); };
    for (Preset p : presets) {
        // A preset the soundfont lacks falls back as FluidSynth falls back.
        if (!exists(p))
            p = p.first == kDrumBank ? Preset{kDrumBank, 0} : Preset{0, p.second};
        if (!exists(p))
            p = {p.first, 0};
        if (pinned_.contains(p) || !exists(p))
            continue;
        api->fluid_synth_pin_preset(fluid_->synth, fluid_->soundFont, p.first, p.second);
        pinned_.insert(p);
    }
}

void MidiSynth::play(const MidiSong& song, size_t index)
{
    const Api* api = fluid_->api;
    fluid_synth_t* synth = fluid_->synth;
    const MidiSong::Event& e = song.events[index];
    const int channel = e.status & 0x0F;
    switch (e.status & 0xF0) {
    case 0x80:
        api->fluid_synth_noteoff(synth, channel, e.data1);
        break;
    case 0x90:
        api->fluid_synth_noteon(synth, channel, e.data1, e.data2);
        break;
    case 0xA0:
        api->fluid_synth_key_pressure(synth, channel, e.data1, e.data2);
        break;
    case 0xB0:
        api->fluid_synth_cc(synth, channel, e.data1, e.data2);
        break;
    case 0xC0:
        api->fluid_synth_program_change(synth, channel, e.data1);
        break;
    case 0xD0:
        api->fluid_synth_channel_pressure(synth, channel, e.data1);
        break;
    case 0xE0:
        api->fluid_synth_pitch_bend(synth, channel, e.data2 << 7 | e.data1);
        break;
    case 0xF0: {
        const QByteArray& data = song.sysex[size_t(e.sysex)];
        api->fluid_synth_sysex(synth, data.constData(), int(data.size()), nullptr, nullptr, nullptr, 0);
        break;
    }
    default:
        break;
    }
}

std::pair<qint64, int> MidiSynth::render(Cursor& c, float* out, int frames)
{
    std::lock_guard lock(renderMutex_);
    const MidiSong& song = *c.song;
    if (!fluid_)
        return {c.frame, 0};
    if (c.fresh) {
        // The song is rendered at the output's rate, which it was timed at:
        // nothing resamples it on its way. A new rate resets every voice,
        // which a new song's turn does anyway.
        if (song.rate != rate_ && song.rate > 0) {
            fluid_->api->fluid_synth_set_sample_rate(fluid_->synth, float(song.rate));
            rate_ = song.rate;
        }
        fluid_->api->fluid_synth_system_reset(fluid_->synth);
        // FluidSynth renders in blocks and hands them out as asked: what is
        // left of the last block is sound of the song before. It goes, so
        // that every song starts on a block of its own, as on a new synthesiser.
        const int block = fluid_->api->fluid_synth_get_internal_bufsize(fluid_->synth);
        if (const int left = int((block - rendered_ % block) % block)) {
            std::vector<float> scratch(size_t(2 * left));
            fluid_->api->fluid_synth_write_float(fluid_->synth, left, scratch.data(), 0, 2, scratch.data(), 1, 2);
            rendered_ += left;
        }
        c.fresh = false;
        c.turn = ++turns_;
        // Starting inside the song: its instruments and controllers as they
        // would be there, without the notes.
        for (size_t i = 0; i < c.next; ++i) {
            const int kind = song.events[i].status & 0xF0;
            if (kind != 0x80 && kind != 0x90 && kind != 0xA0)
                play(song, i);
        }
    } else if (c.turn != turns_) {
        return {c.frame, 0};
    }
    const qint64 start = c.frame;
    const qint64 end = std::min(song.frames, c.frame + frames);
    while (c.frame < end) {
        while (c.next < song.events.size() && song.events[c.next].frame <= c.frame)
            play(song, c.next++);
        const qint64 until = c.next < song.events.size() ? std::min(song.events[c.next].frame, end) : end;
        const int n = int(until - c.frame);
        const int at = int(c.frame - start) * 2;
        fluid_->api->fluid_synth_write_float(fluid_->synth, n, out, at, 2, out, at + 1, 2);
        rendered_ += n;
        c.frame = until;
    }
    return {start, int(end - start)};
}

void MidiSynth::seek(Cursor& c, qint64 frame)
{
    std::lock_guard lock(renderMutex_);
    const auto& events = c.song->events;
    c.frame = std::clamp<qint64>(frame, 0, c.song->frames);
    c.next = size_t(std::lower_bound(events.begin(), events.end(), c.frame,
                                     [](const MidiSong::Event& e, qint64 f) { return e.frame < f; })
                    - events.begin());
    c.fresh = true;
}

} // namespace sonora
