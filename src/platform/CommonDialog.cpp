#include "platform/CommonDialog.h"

#include <QDir>
#include <QFileInfo>

namespace sonora {

CommonDialog::CommonDialog(std::unique_ptr<IFileDialogBackend> backend)
    : backend_(std::move(backend))
{
}

CommonDialog::~CommonDialog() = default;

void CommonDialog::ShowOpen() { show(FileDialogRequest::Mode::Open); }
void CommonDialog::ShowSave() { show(FileDialogRequest::Mode::Save); }

void CommonDialog::show(FileDialogRequest::Mode mode)
{
    const FileDialogRequest request{mode, DialogTitle, Filter, FileName, DefaultExt, Flags};
    const FileDialogAnswer answer = backend_->run(request);
    if (!answer.accepted || answer.files.isEmpty())
        return;

    const bool multiselect = mode == FileDialogRequest::Mode::Open && (Flags & AllowMultiselect);
    const QString text = selectionText(answer.files, multiselect);
    if (text.size() > MaxFileSize.valore())
        throw AppError(QStringLiteral("La selezione è troppo lunga: %1 caratteri, al massimo %2. "
                                      "Scegliere meno file o file con nomi più corti.")
                           .arg(text.size()).arg(MaxFileSize.valore()));
    FileName = text;
}

QString CommonDialog::selectionText(const QStringList& files, bool multiselect)
{
    if (files.isEmpty())
        return {};
    if (!multiselect || files.size() == 1)
        return QDir::toNativeSeparators(files.first());

    QString text = QDir::toNativeSeparators(QFileInfo(files.first()).absolutePath());
    for (const QString& file : files) {
        text += QChar(0);
        text += QFileInfo(file).fileName();
    }
    return text;
}

} // namespace sonora
