#include "app/Programma.h"

#include "app/PrimoDisegno.h"
#include "app/Telecomando.h"
#include "app/frmPrincipale.h"
#include "platform/Caratteri.h"
#include "platform/DispositivoRemoto.h"
#include "comune/Memoria.h"
#include "platform/MessageBox.h"
#include "platform/QtFileDialog.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace sonora {

int eseguiProgramma(int argc, char** argv, const std::function<void(QWidget& finestra)>& primaDiMostrare)
{
    limitaArenaMemoria();
    CaratteriInAnticipo caratteri;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonoraccoltiera"));
    QApplication::setDesktopFileName(QStringLiteral("sonoraccoltiera"));

    // The program speaks Italian, so Qt's own dialogs should too.
    QTranslator qtItalian;
    if (qtItalian.load(QLocale(QLocale::Italian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtItalian);

    auto dialog = std::make_unique<QtFileDialog>();
    auto messages = std::make_unique<QtMessageBox>();
    QtFileDialog* dialogPtr = dialog.get();
    QtMessageBox* messagesPtr = messages.get();

    Servizi servizi;
    servizi.dialogo = std::move(dialog);
    servizi.messaggi = std::move(messages);
    auto device = std::make_unique<DispositivoRemoto>();
    DispositivoRemoto* devicePtr = device.get();
    servizi.dispositivo = std::move(device);
    servizi.terminaApplicazione = [] { QCoreApplication::exit(0); };

    caratteri.attendi();
    frmPrincipale window(std::move(servizi));
    dialogPtr->setParent(&window);
    messagesPtr->setParent(&window);
    // GStreamer starts in the background once the user starts choosing a
    // compilation: nothing plays before that, and until then the program
    // weighs and costs no more than its window.
    dialogPtr->onShow([devicePtr] { devicePtr->preparaRiproduzione(); });
    // The desktop's player controls find the program once its window is up;
    // without a session bus there are none, and nothing is said.
    std::unique_ptr<Telecomando> telecomando;
    new DopoIlPrimoDisegno(&window, [&] { telecomando = Telecomando::pubblica(window, QDBusConnection::sessionBus()); });
    if (primaDiMostrare)
        primaDiMostrare(window);
    window.show();
    return QApplication::exec();
}

} // namespace sonora
