#include "platform/MessageBox.h"

#include <QMessageBox>

namespace sonora {

int QtMessageBox::MsgBox(const QString& prompt, int style, const QString& title)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & 0x70) {
    case MsgBoxStyle::Critical: icon = QMessageBox::Critical; break;
    case 32: icon = QMessageBox::Question; break;
    case MsgBoxStyle::Exclamation: icon = QMessageBox::Warning; break;
    case MsgBoxStyle::Information: icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox box(icon, title, prompt, QMessageBox::Ok, parent_);
    // Prompts carry file and song names, which are never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return 1;
}

} // namespace sonora
