// Fuzzing both readers of the socket between the program and its player:
// built as fuzz_notizie, the program reading what a player sends (a player
// decodes files from anywhere and is not trusted); as fuzz_richieste, the
// player reading the program's requests. The input is the stream as it comes
// over the socket; its first byte cuts it into arrivals of 1 to 256 bytes.
// Nothing may crash or allocate without bound; every message read writes
// back to the same bytes, and a picture always fits its place.

#include "comune/Canale.h"
#include "comune/MemoriaCondivisa.h"
#include "comune/Protocollo.h"

#include <cstdint>
#include <cstdlib>

namespace {

using namespace sonora;
using namespace sonora::riproduttore;

[[maybe_unused]] void controlla(const QByteArray& bytes, const Messaggio& m)
{
    if (const auto* f = std::get_if<Fotogramma>(&m)) {
        if (f->posto >= kPostiFotogramma || !misuraValida(f->misura) || !misuraValida(f->display)
            || qsizetype(f->misura.width()) * 4 * f->misura.height() > kPostoFotogramma)
            std::abort();
    } else if (const auto* s = std::get_if<Stato>(&m)) {
        if (s->durataMs < -1 || s->posizioneMs < 0 || s->posizioneMs > kTempoMassimoMs || s->quandoNs < 0)
            std::abort();
    }
    if (scrivi(m) != bytes)
        std::abort();
}

[[maybe_unused]] void controlla(const QByteArray& bytes, const Domanda& d)
{
    if (int(d.genere) > int(MediaKind::Video) || d.posto >= kPostiFotogramma || scrivi(d) != bytes)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t pezzo = std::size_t(data[0]) + 1;
    Cornici cornici;
    for (std::size_t i = 1; i < size && !cornici.rotto(); i += pezzo) {
        cornici.aggiungi(reinterpret_cast<const char*>(data + i), qsizetype(std::min(pezzo, size - i)));
        while (const auto bytes = cornici.prossimo()) {
#ifdef SONORA_FUZZ_RICHIESTE
            if (const auto d = leggiDomanda(*bytes))
                controlla(*bytes, *d);
#else
            if (const auto m = leggiMessaggio(*bytes))
                controlla(*bytes, *m);
#endif
        }
    }
    return 0;
}
