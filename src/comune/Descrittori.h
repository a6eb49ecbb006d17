#pragma once
// Where each helper process finds what the window hands it: fixed
// descriptors from 3 on, in the order below, and nothing else open but its
// standard input and output. The window places them (platform/ChildProcess)
// and each helper's main reads them here, so the layout is written once.

#include <array>
#include <cstddef>

#include <sys/socket.h>

namespace sonora::descrittori {

constexpr int kPrimo = 3;

// The decoder's: its end of the socket, the pictures' memory, the ring
// (writable), the output's index (read-only) and the eventfd that wakes the
// output.
enum class Riproduttore { Canale = kPrimo, Fotogrammi, Anello, Indice, Sveglia, Fine };
// The output's: its end of the socket, the ring (read-only), its index, the
// eventfd the decoder wakes it with.
enum class Uscita { Canale = kPrimo, Anello, Indice, Sveglia, Fine };

template <typename Posto>
constexpr std::size_t quanti()
{
    return std::size_t(int(Posto::Fine) - kPrimo);
}

// What the window hands one helper, each descriptor named by its place.
template <typename Posto>
class Consegna {
public:
    Consegna() { fds_.fill(-1); }
    int& operator[](Posto p) { return fds_[std::size_t(int(p) - kPrimo)]; }
    const std::array<int, quanti<Posto>()>& inOrdine() const { return fds_; }

private:
    std::array<int, quanti<Posto>()> fds_;
};

// In a helper: whether the window started it, which put its end of a Unix
// stream socket at the channel's place. Run by hand, nothing (or a terminal,
// or a file) is there.
template <typename Posto>
bool avviatoDalProgramma()
{
    const int canale = int(Posto::Canale);
    int tipo = 0;
    int dominio = 0;
    socklen_t n = sizeof tipo;
    socklen_t m = sizeof dominio;
    return ::getsockopt(canale, SOL_SOCKET, SO_TYPE, &tipo, &n) == 0 && tipo == SOCK_STREAM
        && ::getsockopt(canale, SOL_SOCKET, SO_DOMAIN, &dominio, &m) == 0 && dominio == AF_UNIX;
}

} // namespace sonora::descrittori
