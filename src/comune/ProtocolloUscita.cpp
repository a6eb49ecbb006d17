#include "comune/ProtocolloUscita.h"

namespace sonora::protocollo::uscita {

QByteArray scrivi(const Avviso& avviso)
{
    QByteArray bytes(1, char(avviso.tipo));
    bytes += avviso.motivo.left(kMotivoMassimo).toUtf8();
    return bytes.left(1 + kMotivoMassimo * 3);
}

std::optional<Avviso> leggi(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > 1 + kMotivoMassimo * 3 || quint8(bytes[0]) > quint8(Notizia::Persa))
        return std::nullopt;
    return Avviso{Notizia(quint8(bytes[0])), QString::fromUtf8(bytes.mid(1)).left(kMotivoMassimo)};
}

} // namespace sonora::protocollo::uscita
