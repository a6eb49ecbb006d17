#include "riproduttore/VideoVersoIlProgramma.h"

#include "comune/Channel.h"
#include "comune/Protocollo.h"

#include <unistd.h>

namespace sonora {

VideoVersoIlProgramma::VideoVersoIlProgramma(Channel& channel, const quint64& brano, int memoria)
    : channel_(channel)
    , brano_(brano)
    , memoria_(memoria)
{
}

uchar* VideoVersoIlProgramma::spazio(int posto, qsizetype bytes)
{
    Posto& p = posti_[size_t(posto)];
    if (!p.mappa || p.mappa->size() < bytes) {
        // Only what pictures use is mapped: the player's address space is bounded.
        const qsizetype pagina = ::sysconf(_SC_PAGESIZE);
        p.mappa.reset();
        p.mappa = Mapping::create(memoria_, kPostoFotogramma * posto, (bytes + pagina - 1) / pagina * pagina, true);
    }
    return p.mappa ? p.mappa->data() : nullptr;
}

void VideoVersoIlProgramma::showFrame(const QString& title, QSize display, const Picture& picture)
{
    using namespace protocollo;
    // What the program would refuse is not sent: a picture beyond its
    // bounds is skipped, a strange shape on screen gives way to the picture's.
    if (memoria_ < 0 || picture.isNull() || !misuraValida(picture.size))
        return;
    // A picture waiting to go is replaced by a newer one in its place.
    int posto = inAttesa_;
    for (int i = 0; posto < 0 && i < kPostiFotogramma; ++i)
        if (!posti_[size_t(i)].alProgramma)
            posto = i;
    if (posto < 0)
        return; // the program still holds every place
    const qsizetype riga = qsizetype(picture.size.width()) * 4;
    uchar* dove = spazio(posto, riga * picture.size.height());
    if (!dove)
        return;
    copyAsXrgb(picture, dove);
    const QByteArray m = scrivi(Fotogramma{brano_, title.left(kTestoMassimo),
                                           misuraValida(display) ? display : picture.size, picture.size, quint8(posto)});
    if (inViaggio_) {
        inAttesa_ = posto;
        messaggioInAttesa_ = m;
        return;
    }
    manda(posto, m);
}

void VideoVersoIlProgramma::manda(int posto, const QByteArray& messaggio)
{
    posti_[size_t(posto)].alProgramma = true;
    inViaggio_ = true;
    channel_.send(messaggio);
}

void VideoVersoIlProgramma::closeWindow()
{
    inAttesa_ = -1;
}

void VideoVersoIlProgramma::visto()
{
    inViaggio_ = false;
    if (inAttesa_ >= 0)
        manda(std::exchange(inAttesa_, -1), messaggioInAttesa_);
}

void VideoVersoIlProgramma::libero(quint8 posto)
{
    if (posto < posti_.size())
        posti_[posto].alProgramma = false;
}

} // namespace sonora
