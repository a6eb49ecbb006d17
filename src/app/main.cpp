// Sonoraccoltiera: builds and plays compilations of songs.

#include "app/Telecomando.h"
#include "app/frmPrincipale.h"
#include "platform/Caratteri.h"
#include "platform/Memoria.h"
#include "platform/MessageBox.h"
#include "platform/QtFileDialog.h"
#include "platform/DispositivoRemoto.h"

#include <QApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>

namespace {

// Runs an action once, just after a widget's first paint.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget* widget, std::function<void()> action)
        : action_(std::move(action))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && action_) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(action_, nullptr));
        }
        return false;
    }

private:
    std::function<void()> action_;
};

} // namespace

int main(int argc, char** argv)
{
    sonora::limitaArenaMemoria();
    sonora::CaratteriInAnticipo caratteri;
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
    auto device = std::make_unique<sonora::DispositivoRemoto>();
    sonora::DispositivoRemoto* devicePtr = device.get();
    servizi.dispositivo = std::move(device);
    servizi.terminaApplicazione = [] { QCoreApplication::exit(0); };

    caratteri.attendi();
    sonora::frmPrincipale window(std::move(servizi));
    dialogPtr->setParent(&window);
    messagesPtr->setParent(&window);
    // GStreamer starts in the background once the user starts choosing a
    // compilation: nothing plays before that, and until then the program
    // weighs and costs no more than its window.
    dialogPtr->onShow([devicePtr] { devicePtr->preparaRiproduzione(); });
    // The start-up benchmark asks to hear of the first paint (steady clock)
    // and to end there.
    std::optional<AfterFirstPaint> report;
    if (qEnvironmentVariableIsSet("SONORA_REPORT_FIRST_PAINT"))
        report.emplace(&window, [] {
            const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
            std::printf("first-paint %lld\n", static_cast<long long>(ns));
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    // The desktop's player controls find the program once its window is up;
    // without a session bus there are none, and nothing is said.
    std::unique_ptr<sonora::Telecomando> telecomando;
    AfterFirstPaint publish(&window, [&] {
        telecomando = sonora::Telecomando::pubblica(window, QDBusConnection::sessionBus());
    });
    window.show();
    return QApplication::exec();
}
