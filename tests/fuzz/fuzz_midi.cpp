// Fuzzing the player's MIDI file reader: any bytes give a song or nothing,
// never a crash, and a song the synthesiser can play without checking it:
// events in time order within the song, only channel messages and system
// exclusive ones, each system exclusive message where its index says.

#include "riproduttore/MidiFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sonora;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto song = readMidi(bytes, 44100);
    if (!song)
        return 0;
    qint64 last = 0;
    for (const MidiSong::Event& e : song->events) {
        if (e.frame < last || e.frame > song->frames || e.data1 > 0x7F || e.data2 > 0x7F)
            std::abort();
        if (e.status == 0xF0 ? e.sysex < 0 || size_t(e.sysex) >= song->sysex.size() : e.status < 0x80 || e.status > 0xEF)
            std::abort();
        last = e.frame;
    }
    return 0;
}
