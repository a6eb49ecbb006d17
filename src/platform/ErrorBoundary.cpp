#include "platform/ErrorBoundary.h"

#include "comune/Errori.h"

#include <new>

namespace sonora {

void runHandler(IMessageBox& messages, const std::function<void()>& handler)
{
    QString text;
    try {
        handler();
        return;
    } catch (const AppError& e) {
        text = e.message();
    } catch (const std::bad_alloc&) {
        text = QStringLiteral("Memoria insufficiente per completare l'operazione.");
    } catch (const std::exception& e) {
        text = QStringLiteral("Errore imprevisto: %1").arg(QString::fromLocal8Bit(e.what()));
    }
    messages.MsgBox(text, MsgBoxStyle::Critical, ApplicationTitle);
}

} // namespace sonora
