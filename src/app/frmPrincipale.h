#pragma once
// frmPrincipale: the main window. It owns the compilation and player state
// and every control; the handlers of each subsystem are defined in that
// subsystem's folder (compilation/, playback/, diversions/).

#include "app/Servizi.h"
#include "platform/CommonDialog.h"
#include "platform/MMControl.h"
#include "platform/ProgressBar.h"
#include "platform/Vb16.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

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

    // Controls.
    QLabel* Label1 = nullptr;
    QLabel* lblNomeCompilation = nullptr;
    QPushButton* cmdCompilation = nullptr;
    QPushButton* cmdNuova = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* List1 = nullptr;
    QCheckBox* Check1 = nullptr;
    ProgressBar* ProgressBar1 = nullptr;
    MMControl* MMControl1 = nullptr;
    QPushButton* cmdFine = nullptr;
    CommonDialog CommonDialog1;

    // Window life cycle.
    void Form_Load();
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

    // Prints a line of text on the window's surface, each one below the last.
    void Print(const QString& text);
    const QStringList& printed() const { return printed_; }

    // Runs an event handler behind the error boundary: a failure becomes an
    // Italian error box and the program goes on.
    void esegui(const std::function<void()>& handler);

    IMessageBox& messaggi() { return *servizi_.messaggi; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void creaControlli();
    void collegaEventi();

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
    QString estensioneCanzone() const;
    const QString& canzone(int index) const;

    Servizi servizi_;
    QStringList printed_;
};

} // namespace sonora
