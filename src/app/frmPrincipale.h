#pragma once
// frmPrincipale: the main window. It owns the compilation and player state
// and every control; the handlers of each subsystem are defined in that
// subsystem's folder (compilation/, playback/, diversions/), the window's
// own life cycle, hints and title marquee in app/.

#include "app/Servizi.h"
#include "diversions/GeneratoreCasuale.h"
#include "platform/CommonDialog.h"
#include "platform/MMControl.h"
#include "platform/ProgressBar.h"
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

class frmPrincipale : public QWidget {
    Q_OBJECT
public:
    explicit frmPrincipale(Servizi servizi, QWidget* parent = nullptr);
    ~frmPrincipale() override;

    // Main-window state.
    QString FileCompilation;
    QString CartellaCanzoni;
    QStringList Canzoni;
    Intero UltimaCanzone = 0;
    Booleano RiproduzioneAttiva = Falso;
    Intero IndiceCanzone = 0;

    // State kept between events by single handlers.
    Intero Scatti = 0;
    Intero Spostamenti = 0;
    float LeftIniziale = 0;
    float TopIniziale = 0;
    Intero DoppiClic = 0;
    GeneratoreCasuale Casuale;

    // Controls, in the order they are created.
    QCheckBox* Check2 = nullptr;
    QPushButton* Command1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer Timer1;
    ProgressBar* ProgressBar1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* cmdFine = nullptr;
    QListWidget* List1 = nullptr;
    QPushButton* cmdNuova = nullptr;
    CommonDialog CommonDialog1;
    QPushButton* cmdCompilation = nullptr;
    MMControl* MMControl1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblNomeCompilation = nullptr;
    QLabel* Label1 = nullptr;

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
    void Print(const QString& text);
    const QStringList& printed() const { return printed_; }
    QString statusText() const;

    // Runs an event handler behind the error boundary: a failure becomes an
    // Italian error box and the program goes on.
    void esegui(const std::function<void()>& handler);

    IMessageBox& messaggi() { return *servizi_.messaggi; }

    // Windows that, when they become active, deactivate this one carry this
    // property (the dedication windows); dialogs, message boxes, the video
    // window and other programs do not.
    static constexpr const char* DeactivatesMain = "sonoraDisattivaPrincipale";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void creaControlli();
    void impostaOrdineTab();
    void collegaEventi();
    void finestraAttivata(QWindow* window);

    // Compilation file.
    void CreaFileCompilation();
    void ScegliCanzoni();
    void ScriviSceltaCanzoni();
    void CaricaCompilation();
    void ScambiaPrimaUltima();

    // Compilation commands.
    void NuovaCompilation();
    void AzzeraCompilation();
    void MostraTitolo();
    void PreparaLettura();

    // Player.
    void PassiStatusUpdate();
    void ApriCanzoneSelezionata();
    void ImpostaTipoDispositivo();
    int voceSelezionata() const;
    QString estensioneCanzone() const;
    const QString& canzone(int index) const;

    Servizi servizi_;
    QStringList printed_;
    bool shownOnce_ = false;
};

} // namespace sonora
