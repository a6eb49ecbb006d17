// Fuzzing both readers of the socket between the program and its player:
// built as fuzz_notizie, the program reading what a player sends (a player
// decodes files from anywhere and is not trusted); as fuzz_richieste, the
// player reading the program's requests. The input is the stream as it comes
// over the socket; its first byte cuts it into arrivals of 1 to 256 bytes.
// For the player, the second byte says which of the first eight arrivals
// bring a descriptor (the i-th when bit i is set), as requests for songs do.
// Nothing may crash, leak a descriptor or allocate without bound; every
// message read writes back to the same bytes, a picture always fits its
// place, and a request comes with a descriptor exactly when it names a song.

#include "comune/Channel.h"
#include "comune/SharedMemory.h"
#include "comune/Protocollo.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>

namespace {

using namespace sonora;
using namespace sonora::protocollo;

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

[[maybe_unused]] void controlla(const QByteArray& bytes, const Domanda& d, bool conFile)
{
    if (int(d.genere) > int(MediaKind::Video) || d.posto >= kPostiFotogramma || scrivi(d) != bytes
        || portaBrano(d.tipo) != conFile)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
#ifdef SONORA_FUZZ_RICHIESTE
    if (size < 2)
        return 0;
    const std::uint8_t allegati = data[1];
    const std::size_t inizio = 2;
#else
    if (size == 0)
        return 0;
    const std::size_t inizio = 1;
#endif
    const std::size_t pezzo = std::size_t(data[0]) + 1;
    Framer cornici;
    std::size_t arrivo = 0;
    for (std::size_t i = inizio; i < size && !cornici.broken(); i += pezzo, ++arrivo) {
        OwnedFd allegato;
#ifdef SONORA_FUZZ_RICHIESTE
        if (arrivo < 8 && ((allegati >> arrivo) & 1))
            allegato.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
#endif
        cornici.append(reinterpret_cast<const char*>(data + i), qsizetype(std::min(pezzo, size - i)),
                         std::move(allegato));
#ifdef SONORA_FUZZ_RICHIESTE
        OwnedFd brano;
        while (const auto bytes = cornici.next(&brano)) {
            if (const auto d = leggiDomanda(*bytes, bool(brano)))
                controlla(*bytes, *d, bool(brano));
        }
#else
        while (const auto bytes = cornici.next()) {
            if (const auto m = leggiMessaggio(*bytes))
                controlla(*bytes, *m);
        }
#endif
    }
    (void)arrivo;
    return 0;
}
