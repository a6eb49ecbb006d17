#pragma once
// frmPrincipale: the main window. It owns the state of each subsystem and
// every control, all private; the handlers of each subsystem are defined in
// that subsystem's folder (compilation/, playback/, diversions/), the
// window's own life cycle, hints and title marquee in app/. Tests reach the
// inside through one friend, the test window.

#include "app/Servizi.h"
#include "diversions/GeneratoreCasuale.h"
#include "platform/CommonDialog.h"
#include "platform/MMControl.h"
#include "platform/ProgressBar.h"
#include "platform/TestoStampato.h"
#include "platform/Vb16.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QStatusBar;
class QWindow;

namespace sonora {

namespace test {
struct FinestraDiProva;
}

// The open compilation.
struct StatoCompilation {
    QString FileCompilation;
    QString CartellaCanzoni;
    QStringList Canzoni;
    Intero UltimaCanzone = 0;
};

// The play-list sequencer.
struct StatoLettore {
    Booleano RiproduzioneAttiva = Falso;
    Intero IndiceCanzone = 0;
    // A song opened since the list last started. Without one "Ripeti" does
    // not start it again: a list none of whose songs opens would go round
    // for ever.
    bool CanzoneAperta = false;
};

// The runaway button and the hidden dedications.
struct StatoDiversioni {
    Intero Spostamenti = 0;
    float LeftIniziale = 0;
    float TopIniziale = 0;
    Intero DoppiClic = 0;
    GeneratoreCasuale Casuale;
};

// The title marquee and the blinking version label.
struct StatoTitolo {
    Intero Scatti = 0;
};

// The window's controls, by kind; creaControlli() makes them in their
// creation order.
struct ControlliPrincipale {
    explicit ControlliPrincipale(std::unique_ptr<IFileDialogBackend> dialogo)
        : CommonDialog1(std::move(dialogo))
    {
    }

    QPushButton *Command1 = nullptr, *cmdFine = nullptr, *cmdNuova = nullptr, *cmdCompilation = nullptr;
    QCheckBox *Check1 = nullptr, *Check2 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *lblNomeCompilation = nullptr;
    QListWidget* List1 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    MMControl* MMControl1 = nullptr;
    QTimer Timer1;
    CommonDialog CommonDialog1;
};

// The state and the controls are private bases, so the handlers name them
// as plainly as before while nothing outside the window can reach them.
class frmPrincipale : public QWidget,
                      private StatoCompilation,
                      private StatoLettore,
                      private StatoDiversioni,
                      private StatoTitolo,
                      private ControlliPrincipale {
    Q_OBJECT
public:
    explicit frmPrincipale(Servizi servizi, QWidget* parent = nullptr);
    ~frmPrincipale() override;

    // The lines printed on the window's surface that it still shows, top to bottom.
    const QStringList& printed() const { return testoStampato_->lines(); }

    // What the desktop's player controls read and press (app/Telecomando):
    // the media control, the compilation's title as shown, its song folder.
    MMControl& controlloMultimediale() const { return *MMControl1; }
    QString titoloMostrato() const;
    const QString& cartellaCanzoni() const { return CartellaCanzoni; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    friend struct test::FinestraDiProva;

    // Window life cycle.
    void Form_Load();
    void Form_Deactivate();
    void Form_Unload(Intero& cancel);

    // Compilation commands.
    void cmdNuova_Click();
    void cmdCompilation_Click();
    void cmdFine_Click();

    // Player.
    void InizializzaLettore();
    void MMControl1_PlayClick(Intero& cancel);
    void MMControl1_StatusUpdate();
    void MMControl1_StopClick(Intero& cancel);
    void MMControl1_Done(Intero notifyCode);

    // Status-bar hints.
    void Check1_MouseMove();
    void Check2_MouseMove();
    void cmdCompilation_MouseMove();
    void cmdFine_MouseMove();
    void cmdNuova_MouseMove();
    void lblNomeCompilation_MouseMove();
    void List1_MouseMove();
    void ProgressBar1_MouseMove();
    void Form_MouseMove();
    void List1_MouseDown();

    // Title marquee and version label.
    void Timer1_Timer();

    // Diversions.
    void Command1_MouseMove();
    void Check2_Click();
    void Label3_DblClick();

    // Prints a line of text on the window's surface, each one below the last.
    void Print(const QString& text) { testoStampato_->print(text); }

    // Runs an event handler behind the error boundary: a failure becomes an
    // Italian error box and the program goes on.
    void esegui(const std::function<void()>& handler);

    IMessageBox& messaggi() { return *messaggi_; }

    void creaControlli(std::unique_ptr<IMediaDevice> dispositivo);
    void impostaOrdineTab();
    void collegaEventi();
    void finestraAttivata(QWindow* window);

    // Compilation file.
    void CreaFileCompilation();
    void ScegliCanzoni();
    bool ScriviSceltaCanzoni();
    void CaricaCompilation();
    void ScambiaPrimaUltima();

    // Compilation commands.
    void NuovaCompilation();
    void AzzeraCompilation();
    void MostraTitolo();
    void PreparaLettura();

    // Player.
    void PassiStatusUpdate();
    void PreparaProssima();
    void PreparaInizio();
    void ApriCanzoneSelezionata();
    void ApriCanzone();
    void ImpostaTipoDispositivo();
    int voceSelezionata() const;
    const QString& canzone(int index) const;
    QString percorsoDaSuonare(int index) const;

    // Of the services, only what the handlers use stays: the message box
    // and the end of the program. The dialog and the device went to their
    // controls.
    std::function<void()> terminaApplicazione_;
    TestoStampato* testoStampato_ = nullptr;
    bool shownOnce_ = false;
    std::unique_ptr<IMessageBox> messaggi_;
};

} // namespace sonora
