#pragma once
// The modal message box, behind an interface so tests can answer it.

#include <QPointer>
#include <QString>

#include <QWidget>

namespace sonora {

// Style values: the low bits pick the buttons (0 = OK only), 16, 32, 48 and
// 64 pick the critical, question, exclamation and information icons.
namespace MsgBoxStyle {
inline constexpr int OkOnly = 0;
inline constexpr int Critical = 16;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
} // namespace MsgBoxStyle

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Shows the box and returns the button pressed (1 = OK).
    virtual int MsgBox(const QString& prompt, int style, const QString& title) = 0;
};

class QtMessageBox : public IMessageBox {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    int MsgBox(const QString& prompt, int style, const QString& title) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace sonora
