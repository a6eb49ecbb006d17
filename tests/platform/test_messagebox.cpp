#include "platform/MessageBox.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace sonora;

// A name is shown as it is written, even when it looks like markup: what a
// screen reader reads is what sighted users see.
TEST(MessageBox, NamesHoldingMarkupReadBackVerbatim)
{
    const QString prompt = QStringLiteral("Impossibile usare il file «/musica/<b>x.cmp»: permesso negato.");
    QString read;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (label)
            read = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
        box->accept();
    });
    poll.start(5);
    QtMessageBox messages;
    EXPECT_EQ(messages.MsgBox(prompt, MsgBoxStyle::Critical, QStringLiteral("Sonoraccoltiera")), 1);
    EXPECT_EQ(read, prompt);
}
