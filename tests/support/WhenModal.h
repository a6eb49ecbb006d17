#pragma once
// While it lives: the first modal dialog that opens (a dedication window) is
// handed to `inspect`, then closed with its OK button.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace sonora::test {

class WhenModal {
public:
    explicit WhenModal(std::function<void(QDialog*)> inspect)
    {
        QObject::connect(&poll_, &QTimer::timeout, [this, inspect] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog == seen_)
                return;
            seen_ = dialog;
            inspect(dialog);
            dialog->findChild<QPushButton*>("Command1")->click();
        });
        poll_.start(5);
    }

private:
    QTimer poll_;
    QPointer<QDialog> seen_;
};

} // namespace sonora::test
