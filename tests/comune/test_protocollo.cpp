// The channel between the program and its player, and the messages on it.

#include "comune/Channel.h"
#include "comune/Protocollo.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using namespace sonora;
using namespace sonora::protocollo;

namespace {

QByteArray cornice(const QByteArray& m)
{
    QByteArray f(4, '\0');
    qToLittleEndian(quint32(m.size()), f.data());
    return f + m;
}

Fotogramma fotogramma(QSize size, int posto = kPostiFotogramma - 1)
{
    return Fotogramma{7, QStringLiteral("tre.avi"), QSize(4, 3), size, quint8(posto)};
}

// Both ends of a socket: `a` sends from the event loop, bounded by `limite`;
// `b` takes descriptors or refuses them as `allegati` says.
struct Coppia {
    std::unique_ptr<Channel> a, b;
    explicit Coppia(qsizetype limite, Attachments allegati = Attachments::Refused)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair");
        a = std::make_unique<Channel>(fds[0], limite);
        b = std::make_unique<Channel>(fds[1], 1 << 20, allegati);
        a->listen([] {});
    }
};

// A file holding `testo`, open for reading, and already unlinked.
OwnedFd fileCon(const QByteArray& testo)
{
    char nome[] = "/tmp/sonora-allegato-XXXXXX";
    OwnedFd fd(::mkstemp(nome));
    ::unlink(nome);
    if (!fd || ::write(fd.get(), testo.constData(), size_t(testo.size())) != testo.size())
        throw std::runtime_error("mkstemp");
    return fd;
}

QByteArray contenuto(const OwnedFd& fd)
{
    char buffer[64];
    const ssize_t n = ::pread(fd.get(), buffer, sizeof buffer, 0);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

} // namespace

TEST(Channel, ASendNeverWaitsAndAPeerThatStopsReadingIsLostPastTheBound)
{
    Coppia c(1 << 20);
    Channel& a = *c.a;
    Channel& b = *c.b;
    const QByteArray blocco(64 * 1024, 'x');
    QElapsedTimer orologio;
    orologio.start();
    int inviati = 0;
    while (a.send(blocco + QByteArray::number(inviati)))
        ++inviati;
    EXPECT_LT(orologio.elapsed(), 500) << "a send waited on a peer that reads nothing";
    EXPECT_GT(inviati, 10);
    EXPECT_FALSE(a.isOpen()) << "past the bound the peer is lost";

    // What was sent before is whole, in order, up to where the channel closed.
    int ricevuti = 0;
    for (bool aperto = true; aperto;) {
        aperto = b.receive(100);
        while (const auto m = b.next())
            ASSERT_EQ(*m, blocco + QByteArray::number(ricevuti++));
    }
    EXPECT_LE(ricevuti, inviati);
}

TEST(Channel, MessagesQueuedBehindAFullSocketGoFromTheEventLoop)
{
    Coppia c(64 << 20);
    Channel& a = *c.a;
    Channel& b = *c.b;
    const QByteArray grande(Framer::kMessaggioMassimo, 'y'); // more than a socket holds
    ASSERT_TRUE(a.send(grande));
    ASSERT_TRUE(a.send("dopo"));
    QList<QByteArray> arrivati;
    ASSERT_TRUE(test::waitUntil([&] {
        b.receive();
        while (const auto m = b.next())
            arrivati << *m;
        return arrivati.size() == 2;
    }));
    EXPECT_EQ(arrivati[0], grande);
    EXPECT_EQ(arrivati[1], "dopo");
}

TEST(Channel, AnOpenFileArrivesWithItsOwnMessageEvenBehindAFullSocket)
{
    Coppia c(64 << 20, Attachments::Accepted);
    const QByteArray grande(Framer::kMessaggioMassimo, 'y'); // queued: more than a socket holds
    const OwnedFd primo = fileCon("primo"), secondo = fileCon("secondo");
    ASSERT_TRUE(c.a->send(grande));
    ASSERT_TRUE(c.a->send("con il primo", primo.get()));
    ASSERT_TRUE(c.a->send("senza"));
    ASSERT_TRUE(c.a->send("con il secondo", secondo.get()));
    QList<QByteArray> arrivati, letti;
    ASSERT_TRUE(test::waitUntil([&] {
        c.b->receive();
        OwnedFd allegato;
        while (const auto m = c.b->next(&allegato)) {
            arrivati << m->left(20);
            letti << contenuto(allegato);
        }
        return arrivati.size() == 4;
    }));
    EXPECT_EQ(arrivati, (QList<QByteArray>{grande.left(20), "con il primo", "senza", "con il secondo"}));
    EXPECT_EQ(letti, (QList<QByteArray>{"", "primo", "", "secondo"}));
}

TEST(Channel, TheProgramsEndTakesNoFileFromItsPeerAndHangsUp)
{
    Coppia c(1 << 20);
    const OwnedFd file = fileCon("x");
    ASSERT_TRUE(c.a->send("notizia", file.get()));
    for (int i = 0; i < 50 && c.b->receive(100);)
        ++i;
    EXPECT_FALSE(c.b->next());
    EXPECT_FALSE(c.b->isOpen());
}

TEST(Framer, ADescriptorOutOfPlaceBreaksTheStream)
{
    const QByteArray uno = cornice("uno"), due = cornice("due");
    const auto fd = [] { return OwnedFd(::open("/dev/null", O_RDONLY | O_CLOEXEC)); };
    // Its bytes start within the message before: it belongs to none.
    Framer dentro;
    dentro.append(uno.constData(), 2);
    dentro.append(uno.constData() + 2, uno.size() - 2, fd());
    OwnedFd preso;
    EXPECT_FALSE(dentro.next(&preso));
    EXPECT_TRUE(dentro.broken());
    // Two for one message.
    Framer doppio;
    doppio.append(uno.constData(), 4, fd());
    doppio.append(uno.constData() + 4, uno.size() - 4, fd());
    EXPECT_FALSE(doppio.next(&preso));
    EXPECT_TRUE(doppio.broken());
    // One for a reader that takes none.
    Framer rifiutato;
    rifiutato.append(uno.constData(), uno.size(), fd());
    EXPECT_FALSE(rifiutato.next());
    EXPECT_TRUE(rifiutato.broken());
    // Whole messages before the one it came with, in the same read, carry none.
    Framer insieme;
    const QByteArray entrambi = uno + due;
    insieme.append(entrambi.constData(), entrambi.size(), fd());
    ASSERT_EQ(insieme.next(&preso), QByteArray("uno"));
    EXPECT_FALSE(preso);
    ASSERT_EQ(insieme.next(&preso), QByteArray("due"));
    EXPECT_TRUE(preso);
}

TEST(Framer, MessagesComeWholeHoweverTheBytesArriveAndAnOversizedLengthBreaksTheStream)
{
    const QList<QByteArray> messaggi = {"", "uno", QByteArray(70000, 'z')};
    QByteArray flusso;
    for (const QByteArray& m : messaggi)
        flusso += cornice(m);
    Framer c;
    QList<QByteArray> usciti;
    for (char byte : flusso) {
        c.append(&byte, 1);
        while (const auto m = c.next())
            usciti << *m;
    }
    EXPECT_EQ(usciti, messaggi);

    Framer rotto;
    const QByteArray eccessivo = QByteArray::fromHex("ffffffff") + "resto";
    rotto.append(eccessivo.constData(), eccessivo.size());
    EXPECT_FALSE(rotto.next());
    EXPECT_TRUE(rotto.broken());
}

TEST(Protocollo, EveryMessageReadsBackAsWritten)
{
    for (const Domanda& d : {Domanda(Richiesta::Apri, QStringLiteral("/m/è.wav"), MediaKind::Video),
                             Domanda(Richiesta::Prepara, QStringLiteral("/m/b.mid"), MediaKind::Midi),
                             Domanda(Richiesta::Suona), Domanda(Richiesta::FotogrammaVisto),
                             Domanda::libero(kPostiFotogramma - 1)}) {
        const auto letta = leggiDomanda(scrivi(d), portaBrano(d.tipo));
        ASSERT_TRUE(letta);
        EXPECT_EQ(letta->tipo, d.tipo);
        EXPECT_EQ(letta->percorso, d.percorso);
        EXPECT_EQ(letta->genere, d.genere);
        EXPECT_EQ(letta->posto, d.posto);
    }
    const auto stato = leggiMessaggio(scrivi(Stato{3, MediaState::Playing, 5000, 1200, orologioNs()}));
    ASSERT_TRUE(stato && std::holds_alternative<Stato>(*stato));
    EXPECT_EQ(std::get<Stato>(*stato).posizioneMs, 1200);
    const auto risposta = leggiMessaggio(scrivi(Risposta{2, QStringLiteral("no")}));
    ASSERT_TRUE(risposta && std::holds_alternative<Risposta>(*risposta));
    EXPECT_EQ(std::get<Risposta>(*risposta).errore, QStringLiteral("no"));
    const auto f = leggiMessaggio(scrivi(fotogramma(QSize(kLatoMassimo, 2))));
    ASSERT_TRUE(f && std::holds_alternative<Fotogramma>(*f));
    EXPECT_EQ(std::get<Fotogramma>(*f).misura, QSize(kLatoMassimo, 2));
    EXPECT_EQ(std::get<Fotogramma>(*f).posto, kPostiFotogramma - 1);
    EXPECT_TRUE(leggiMessaggio(scrivi(Pronto{})));
    const auto c = leggiMessaggio(scrivi(Confinato{2, true, QStringLiteral("Landlock: ABI 2")}));
    ASSERT_TRUE(c && std::holds_alternative<Confinato>(*c));
    EXPECT_EQ(std::get<Confinato>(*c).landlock, 2);
    EXPECT_EQ(std::get<Confinato>(*c).mancanze, QStringLiteral("Landlock: ABI 2"));
}

TEST(Protocollo, WhatNoHonestPeerSendsIsRefused)
{
    const auto rifiutato = [](const QByteArray& bytes) { return !leggiMessaggio(bytes); };
    // A picture is read where a place says, as far as its size says: both bounded.
    EXPECT_TRUE(rifiutato(scrivi(fotogramma(QSize(2, 2), kPostiFotogramma)))) << "no such place";
    EXPECT_TRUE(rifiutato(scrivi(fotogramma(QSize(kLatoMassimo + 1, 1))))) << "larger than a place";
    EXPECT_TRUE(rifiutato(scrivi(fotogramma(QSize(-2, -2)))));
    EXPECT_TRUE(rifiutato(scrivi(Stato{1, MediaState::Ready, -2, 0, 0}))) << "a length below unknown";
    EXPECT_TRUE(rifiutato(scrivi(Stato{1, MediaState::Ready, 10, -1, 0})));
    EXPECT_TRUE(rifiutato(scrivi(Stato{1, MediaState::Ready, kTempoMassimoMs + 1, 0, 0})));
    QByteArray stato = scrivi(Stato{1, MediaState::Ready, 10, 0, 0});
    stato[9] = char(4); // the state, past the last one
    EXPECT_TRUE(rifiutato(stato));
    EXPECT_TRUE(rifiutato(scrivi(Pronto{}) + '\0')) << "bytes after the fields";
    EXPECT_TRUE(rifiutato(scrivi(Risposta{1, QStringLiteral("x")}).chopped(1))) << "fields cut short";
    EXPECT_TRUE(rifiutato(QByteArray(1, char(Notizia::Confinato) + 1)));
    EXPECT_TRUE(rifiutato(QByteArray()));

    QByteArray apri = scrivi(Domanda(Richiesta::Apri, QStringLiteral("/a.wav"), MediaKind::Wave));
    apri[apri.size() - 1] = char(3); // no such kind of song
    EXPECT_FALSE(leggiDomanda(apri, true));
    EXPECT_FALSE(leggiDomanda(scrivi(Domanda::libero(kPostiFotogramma)), false)) << "no such place";
    EXPECT_FALSE(leggiDomanda(QByteArray(1, char(Richiesta::FotogrammaLibero) + 1), false));
    // A song comes with its open file, and nothing else comes with one.
    EXPECT_FALSE(leggiDomanda(scrivi(Domanda(Richiesta::Apri, QStringLiteral("/a.wav"))), false));
    EXPECT_FALSE(leggiDomanda(scrivi(Domanda(Richiesta::Suona)), true));
}
