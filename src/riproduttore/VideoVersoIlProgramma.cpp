#include "riproduttore/VideoVersoIlProgramma.h"

#include "comune/Canale.h"
#include "comune/Protocollo.h"

namespace sonora {

VideoVersoIlProgramma::VideoVersoIlProgramma(Canale& canale, const quint64& brano)
    : canale_(canale)
    , brano_(brano)
{
}

void VideoVersoIlProgramma::showFrame(const QString& title, QSize display, const Picture& picture)
{
    using namespace riproduttore;
    // What the program would refuse is not sent: a picture beyond its
    // bounds is skipped, a strange shape on screen gives way to the picture's.
    if (!misuraValida(picture.size) || !picture.isWhole())
        return;
    QByteArray m = scrivi(Fotogramma{brano_, title.left(kTestoMassimo), misuraValida(display) ? display : picture.size, picture});
    if (inViaggio_) {
        inAttesa_ = std::move(m);
        return;
    }
    inViaggio_ = true;
    canale_.invia(m);
}

void VideoVersoIlProgramma::closeWindow() { inAttesa_.reset(); }

void VideoVersoIlProgramma::visto()
{
    inViaggio_ = false;
    if (inAttesa_) {
        inViaggio_ = true;
        canale_.invia(*std::exchange(inAttesa_, std::nullopt));
    }
}

} // namespace sonora
