// Fuzzing what the output process reads from the others: the ring as a
// hostile decoder may leave it (its header, slots and the index), and the
// notices the program reads from the output (ProtocolloUscita). The input's
// first 8 bytes are the index's read count, the rest the start of the ring
// (header, then slots); the whole input is also read as a notice.
// Nothing may crash or read outside the ring; every block read fits its slot;
// a notice read is written back to what reads the same.

#include "comune/AudioRing.h"
#include "comune/ProtocolloUscita.h"
#include "comune/SharedMemory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

using namespace sonora;

void leggiAnello(const std::uint8_t* data, std::size_t size)
{
    static const int ring = ring::createRing();
    static const int index = ring::createIndex();
    if (ring < 0 || index < 0)
        std::abort();
    const auto scrivibile = Mapping::create(ring, 0, ring::kRingBytes, true);
    const auto indice = Mapping::create(index, 0, ring::kIndexBytes, true);
    std::memset(scrivibile->data(), 0, size_t(ring::kRingBytes));
    std::memset(indice->data(), 0, size_t(ring::kIndexBytes));
    std::memcpy(indice->data(), data, std::min<std::size_t>(size, 8));
    if (size > 8)
        std::memcpy(scrivibile->data(), data + 8, std::min<std::size_t>(size - 8, size_t(ring::kRingBytes)));
    auto reader = ring::RingReader::map(ring, index);
    if (!reader)
        std::abort();
    reader->wanted();
    float somma = 0;
    for (quint32 n = 0; n < 2 * ring::kSlots + 2; ++n) {
        const auto block = reader->read();
        if (!block)
            continue;
        if (block->channels < 1 || block->channels > ring::kMaxChannels
            || quint64(block->frames) * block->channels > ring::kSlotSamples)
            std::abort();
        for (quint64 i = 0; i < quint64(block->frames) * block->channels; ++i)
            somma += block->pcm[i]; // every sample it says it has, within the slot
    }
    [[maybe_unused]] volatile float usata = somma;
}

void leggiAvviso(const std::uint8_t* data, std::size_t size)
{
    using namespace protocollo::uscita;
    const auto avviso = leggi(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!avviso)
        return;
    if (avviso->tipo == Notizia::Pronta && !avviso->formato.valid())
        std::abort();
    const auto ancora = leggi(scrivi(*avviso));
    if (!ancora || ancora->tipo != avviso->tipo || ancora->guasto != avviso->guasto
        || ancora->motivo != avviso->motivo || (avviso->tipo == Notizia::Pronta && !(ancora->formato == avviso->formato)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    leggiAnello(data, size);
    leggiAvviso(data, size);
    return 0;
}
