#pragma once
// A file dialog whose user follows a script: each show takes the next answer.

#include "platform/CommonDialog.h"

#include <QList>
#include <functional>

namespace sonora::test {

class FakeFileDialog : public IFileDialogBackend {
public:
    // Queues "the user picks these files" (absolute paths).
    void pick(QStringList files) { script_.append(FileDialogAnswer{true, std::move(files)}); }
    // Queues "the user cancels".
    void cancel() { script_.append(FileDialogAnswer{}); }
    // Queues an action run while the dialog is shown (for checks or side effects).
    void onShow(std::function<void(const FileDialogRequest&)> action) { onShow_ = std::move(action); }

    FileDialogAnswer run(const FileDialogRequest& request) override;

    QList<FileDialogRequest> shown;   // every request, in order
    qsizetype pending() const { return script_.size(); }

private:
    QList<FileDialogAnswer> script_;
    std::function<void(const FileDialogRequest&)> onShow_;
};

} // namespace sonora::test
