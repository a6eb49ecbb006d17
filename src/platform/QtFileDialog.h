#pragma once
// The real file dialog, on Qt's QFileDialog.

#include "platform/CommonDialog.h"

#include <QPointer>
#include <QStringList>

#include <functional>

class QFileDialog;
#include <QWidget>

namespace sonora {

class QtFileDialog : public IFileDialogBackend {
public:
    explicit QtFileDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    // Runs as each dialog opens, before it waits for the user: the seconds a
    // person spends choosing are time that can be put to use.
    void onShow(std::function<void()> action) { onShow_ = std::move(action); }

    FileDialogAnswer run(const FileDialogRequest& request) override;

    // Applies a request's settings to a dialog (exposed for tests).
    static void configure(QFileDialog& dialog, const FileDialogRequest& request);

    // "desc|*.mid;*.rmi|…" becomes Qt name filters whose patterns match
    // regardless of letter case ("*.[mM][iI][dD] *.[rR][mM][iI]"), with "*.*"
    // meaning every file, as users of such filters expect.
    static QStringList nameFilters(const QString& filter);

private:
    QPointer<QWidget> parent_;
    std::function<void()> onShow_;
    // Each dialog opens where the previous one was left.
    QString lastDirectory_;
};

} // namespace sonora
