#include "comune/ProtocolloUscita.h"

#include <QtEndian>

namespace sonora::protocollo::uscita {
namespace {

constexpr qsizetype kTesta = 1 + 1 + 4 + 1 + 8 + 1;

} // namespace

QByteArray scrivi(const Avviso& avviso)
{
    QByteArray bytes(kTesta, '\0');
    auto* p = reinterpret_cast<uchar*>(bytes.data());
    p[0] = uchar(avviso.tipo);
    p[1] = uchar(avviso.guasto);
    qToLittleEndian<quint32>(avviso.formato.rate, p + 2);
    p[6] = uchar(std::min<quint32>(avviso.formato.channels, 255));
    qToLittleEndian<quint64>(avviso.formato.mask, p + 7);
    p[15] = avviso.converte ? 1 : 0;
    bytes += avviso.motivo.left(kMotivoMassimo).toUtf8();
    return bytes.left(kTesta + kMotivoMassimo * 3);
}

std::optional<Avviso> leggi(const QByteArray& bytes)
{
    if (bytes.size() < kTesta || bytes.size() > kTesta + kMotivoMassimo * 3)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    if (p[0] > quint8(Notizia::Persa) || p[1] > quint8(Guasto::Sigillo) || p[15] > 1)
        return std::nullopt;
    Avviso a;
    a.tipo = Notizia(p[0]);
    a.guasto = Guasto(p[1]);
    a.formato.rate = qFromLittleEndian<quint32>(p + 2);
    a.formato.channels = p[6];
    a.formato.mask = qFromLittleEndian<quint64>(p + 7);
    a.converte = p[15] != 0;
    if (a.tipo == Notizia::Pronta && !a.formato.valid())
        return std::nullopt;
    a.motivo = QString::fromUtf8(bytes.mid(kTesta)).left(kMotivoMassimo);
    return a;
}

} // namespace sonora::protocollo::uscita
