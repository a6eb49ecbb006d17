#pragma once
// Standard MIDI files, bare or wrapped in RIFF (.rmi), read into the events
// the synthesiser plays, each at the sample frame where it sounds. The tempo
// map is applied here, so the song's length is known before it plays.

#include <QByteArray>

#include <optional>
#include <vector>

namespace sonora {

struct MidiSong {
    struct Event {
        qint64 frame = 0;
        quint8 status = 0; // a channel message, or 0xF0: system exclusive
        quint8 data1 = 0;
        quint8 data2 = 0;
        qint32 sysex = -1; // index in `sysex` when status is 0xF0
    };
    std::vector<Event> events; // in the order they sound
    std::vector<QByteArray> sysex; // each without its F0 and F7
    qint64 frames = 0; // the length: the last event of any track, its end included
    int rate = 0;      // frames a second it is timed at
};

// True when the file's first bytes are those of a MIDI file (bare or RIFF RMID).
bool looksLikeMidi(const QByteArray& head);

// The song, timed at `rate` frames a second; empty when the header is not
// that of a MIDI file or is damaged. A track cut short ends where its data ends.
std::optional<MidiSong> readMidi(const QByteArray& bytes, int rate);

} // namespace sonora
