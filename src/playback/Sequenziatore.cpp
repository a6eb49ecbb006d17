// The play-list sequencer: plays the compilation from the selected song to
// the last, song after song, driven by the media control's status ticks.

#include "app/frmPrincipale.h"

#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <algorithm>
#include <array>

namespace sonora {
namespace {

const QString Separator = QString(QDir::separator());

// How each kind of song is played, by the last three characters of its
// path (lower case): the device that opens it and the command that starts it.
struct TipoCanzone {
    QLatin1StringView estensione;
    QLatin1StringView dispositivo;
    Comando avvio;
};

constexpr std::array<TipoCanzone, 4> TipiCanzone = {{
    {QLatin1StringView("mid"), QLatin1StringView("Sequencer"), comando::Sound},
    {QLatin1StringView("rmi"), QLatin1StringView("Sequencer"), comando::Sound},
    {QLatin1StringView("wav"), QLatin1StringView("WaveAudio"), comando::Play},
    {QLatin1StringView("avi"), QLatin1StringView("AVIVideo"), comando::Play},
}};

// How the song at `percorso` is played, by its last three characters in
// any case; null for an unknown kind.
const TipoCanzone* tipoCanzone(const QString& percorso)
{
    const QString ext = percorso.right(3).toLower();
    const auto it = std::find_if(TipiCanzone.begin(), TipiCanzone.end(),
                                 [&](const TipoCanzone& t) { return t.estensione == ext; });
    return it == TipiCanzone.end() ? nullptr : &*it;
}

} // namespace

void frmPrincipale::InizializzaLettore()
{
    MMControl1->setStartupFlagA(Vero);
    MMControl1->setNextSongFlag(Falso);
    MMControl1->setStartupFlagB(Falso);
    RiproduzioneAttiva = Vero;
}

const QString& frmPrincipale::canzone(int index) const
{
    if (index < 0 || index >= Canzoni.size())
        throw SubscriptError(index, Canzoni.size());
    return Canzoni.at(index);
}

// The list's current index is its selected entry, -1 when none is: Qt's own
// current row may sit on an entry the user has deselected (Ctrl+click) or
// only moved the focus frame to (Ctrl+arrows), and that is not the song the
// user sees chosen.
int frmPrincipale::voceSelezionata() const
{
    const QModelIndexList selected = List1->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

// Every open chooses the device by the song's extension; an unknown one
// leaves the device type as it was.
void frmPrincipale::ImpostaTipoDispositivo()
{
    if (const TipoCanzone* tipo = tipoCanzone(MMControl1->fileName()))
        MMControl1->setDeviceType(tipo->dispositivo);
}

// The path play opens the song at `index` with: unlike the sequencer's own
// opens, it adds no second separator to a folder that ends in one.
QString frmPrincipale::percorsoDaSuonare(int index) const
{
    const QString separatore = CartellaCanzoni.endsWith(Separator) ? QString() : Separator;
    return CartellaCanzoni + separatore + canzone(index);
}

void frmPrincipale::MMControl1_PlayClick(Intero& /*cancel*/)
{
    RiproduzioneAttiva = Vero;
    CanzoneAperta = false;
    MMControl1->setCommand(comando::Close);
    MMControl1->setIdleFlag(Falso);
    MMControl1->setPlayingFlag(Vero);
    MMControl1->setFileName(percorsoDaSuonare(voceSelezionata()));
    ImpostaTipoDispositivo();
    ApriCanzone();
    ProgressBar1->setMax(static_cast<float>(MMControl1->length()));
}

void frmPrincipale::MMControl1_StatusUpdate()
{
    // The first step that fails ends the tick silently; what the earlier
    // steps did stays done, and the next tick starts afresh.
    try {
        PassiStatusUpdate();
    } catch (const std::exception&) {
    }
    PreparaProssima();
}

// While a song plays in sequence, the device may get the song that follows
// ready, so that it starts without a hole. Only a hint: the next song is
// still opened and started by the steps above, when they say so.
void frmPrincipale::PreparaProssima()
{
    if (!isTrue(RiproduzioneAttiva) || !MMControl1->songRunning())
        return;
    const int voci = List1->count();
    int prossima = IndiceCanzone.valore();
    if (prossima >= voci) {
        // After the last entry only "Ripeti" goes on, from the first.
        QListWidgetItem* ultima = List1->item(voci - 1);
        if (Check1->checkState() == Qt::Unchecked || !ultima || !ultima->isSelected())
            return;
        prossima = 0;
    }
    if (prossima < 0 || prossima >= Canzoni.size())
        return;
    const QString percorso = CartellaCanzoni + Separator + Canzoni.at(prossima);
    const TipoCanzone* tipo = tipoCanzone(percorso);
    MMControl1->prepareNext(percorso, tipo ? QString(tipo->dispositivo) : MMControl1->deviceType());
}

// While the user is still looking at the list, the device gets ready what
// playing will need: the instruments of the compilation's first MIDI song,
// which take a moment to load, then the song play starts with, so that its
// first sound comes at once. In that order: the device keeps the latest
// song it was told of, and the instruments stay loaded.
void frmPrincipale::PreparaInizio()
{
    for (const QString& nome : std::as_const(Canzoni)) {
        const TipoCanzone* tipo = tipoCanzone(nome);
        if (tipo && tipo->dispositivo == QLatin1StringView("Sequencer")) {
            MMControl1->prepareNext(CartellaCanzoni + Separator + nome, QString(tipo->dispositivo));
            break;
        }
    }
    const int voce = voceSelezionata();
    if (voce < 0 || voce >= Canzoni.size())
        return;
    const QString percorso = percorsoDaSuonare(voce);
    if (const TipoCanzone* tipo = tipoCanzone(percorso))
        MMControl1->prepareNext(percorso, QString(tipo->dispositivo));
}

void frmPrincipale::PassiStatusUpdate()
{
    // 1. The progress bar follows the song.
    ProgressBar1->setVal(static_cast<float>(MMControl1->position()));

    // 2. The song after the selected one comes next.
    if (isTrue(RiproduzioneAttiva))
        IndiceCanzone = Intero(voceSelezionata()) + 1;
    else
        MMControl1->setCommand(comando::Close);

    // 3. Keep a song that is short of its end started.
    if (MMControl1->position() < MMControl1->length()) {
        if (const TipoCanzone* tipo = tipoCanzone(MMControl1->fileName()))
            MMControl1->setCommand(tipo->avvio);
    }

    // 4. A song at its end, with entries after it: open the next one.
    const Intero voci = List1->count();
    if (IndiceCanzone < voci && MMControl1->position() >= MMControl1->length()) {
        MMControl1->setCommand(comando::Close);
        MMControl1->setIdleFlag(Vero);
        List1->setCurrentRow(IndiceCanzone.valore());
        ++IndiceCanzone;
        ApriCanzoneSelezionata();
    }

    // 5. The last entry at its very end: back to the first, and on again
    // only with "Ripeti".
    const Intero ultima = Intero(List1->count()) - 1;
    QListWidgetItem* voceUltima = List1->item(ultima.valore());
    if (!voceUltima)
        throw SubscriptError(ultima.valore(), List1->count());
    const bool ultimaSelezionata = voceUltima->isSelected();
    const qint32 lunghezza = MMControl1->length();
    if (MMControl1->position() == lunghezza && ultimaSelezionata) {
        List1->setCurrentRow(0);
        RiproduzioneAttiva = Falso;
        IndiceCanzone = List1->count();
        MMControl1->setCommand(comando::Close);
        MMControl1->setIdleFlag(Vero);
        MMControl1->setPlayingFlag(Falso);
        if (Check1->checkState() == Qt::Unchecked || !CanzoneAperta)
            return;
        RiproduzioneAttiva = Vero;
        CanzoneAperta = false;
        MMControl1->setCommand(comando::Close);
        MMControl1->setIdleFlag(Falso);
        MMControl1->setPlayingFlag(Vero);
        MMControl1->setFileName(CartellaCanzoni + Separator + canzone(voceSelezionata()));
        ImpostaTipoDispositivo();
        ApriCanzone();
        ProgressBar1->setMax(static_cast<float>(MMControl1->length()));
    }
}

void frmPrincipale::ApriCanzoneSelezionata()
{
    const int k = voceSelezionata();
    MMControl1->setNextSongFlag(Vero);
    MMControl1->setCommand(comando::Close);
    MMControl1->setIdleFlag(Falso);
    MMControl1->setPlayingFlag(Vero);
    MMControl1->setFileName(CartellaCanzoni + Separator + canzone(k));
    ImpostaTipoDispositivo();
    MMControl1->setNextSongFlag(Vero);
    ApriCanzone();
    MMControl1->setFirstNumeric(0);
    MMControl1->setSecondNumeric(-1);
    ProgressBar1->setMax(static_cast<float>(MMControl1->length()));
    MMControl1->setNextSongFlag(Vero);
}

// A song that cannot open ends the tick here; the control's next tick finds
// the device closed, which reads as a song at its end, and moves on.
void frmPrincipale::ApriCanzone()
{
    MMControl1->setCommand(comando::Open);
    CanzoneAperta = true;
}

void frmPrincipale::MMControl1_StopClick(Intero& /*cancel*/)
{
    MMControl1->setCommand(comando::Close);
    MMControl1->setPlayingFlag(Falso);
    MMControl1->setIdleFlag(Vero);
    IndiceCanzone = List1->count();
    RiproduzioneAttiva = Falso;
}

void frmPrincipale::MMControl1_Done(Intero notifyCode)
{
    if (notifyCode == MMControl::NotifyFailure)
        Print(QStringLiteral("Ciao ciao"));
}

} // namespace sonora
