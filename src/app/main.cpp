// Sonoraccoltiera: builds and plays compilations of songs.

#include "app/frmPrincipale.h"
#include "platform/MessageBox.h"
#include "platform/QtFileDialog.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "platform/gst/GstMediaDevice.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonoraccoltiera"));
    QApplication::setDesktopFileName(QStringLiteral("sonoraccoltiera"));

    // The program speaks Italian, so Qt's own dialogs should too.
    QTranslator qtItalian;
    if (qtItalian.load(QLocale(QLocale::Italian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtItalian);

    auto dialog = std::make_unique<sonora::QtFileDialog>();
    auto messages = std::make_unique<sonora::QtMessageBox>();
    sonora::QtFileDialog* dialogPtr = dialog.get();
    sonora::QtMessageBox* messagesPtr = messages.get();

    sonora::Servizi servizi;
    servizi.dialogo = std::move(dialog);
    servizi.messaggi = std::move(messages);
    servizi.dispositivo = std::make_unique<sonora::GstMediaDevice>();
    servizi.terminaApplicazione = [] { QCoreApplication::exit(0); };

    sonora::frmPrincipale window(std::move(servizi));
    dialogPtr->setParent(&window);
    messagesPtr->setParent(&window);
    window.show();
    // GStreamer starts once the window is up, so it never delays the first paint.
    QTimer::singleShot(0, [] { sonora::warmUpGStreamer(); });
    return QApplication::exec();
}
