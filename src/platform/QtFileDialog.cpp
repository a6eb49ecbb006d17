#include "platform/QtFileDialog.h"

#include "comune/Memoria.h"

#include <QFileDialog>
#include <QTimer>

namespace sonora {
namespace {

QString caseFoldedPattern(const QString& pattern)
{
    const QString p = pattern.trimmed();
    if (p == QLatin1String("*.*"))
        return QStringLiteral("*");
    QString folded;
    for (const QChar c : p) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            folded += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            folded += c;
    }
    return folded;
}

} // namespace

QStringList QtFileDialog::nameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << caseFoldedPattern(p);
        // Qt reads the patterns from the last parentheses and, with
        // HideNameFilterDetails, shows only the description before them.
        result << parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    if (result.isEmpty())
        result << QStringLiteral("Tutti i file (*)");
    return result;
}

void QtFileDialog::configure(QFileDialog& dialog, const FileDialogRequest& request)
{
    const bool save = request.mode == FileDialogRequest::Mode::Save;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(!request.title.isEmpty() ? request.title
                          : save                   ? QStringLiteral("Salva con nome")
                                                   : QStringLiteral("Apri"));
    dialog.setNameFilters(nameFilters(request.filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save)
        dialog.setFileMode(QFileDialog::AnyFile); // Qt asks before replacing an existing file
    else if (request.flags & CommonDialog::AllowMultiselect)
        dialog.setFileMode(QFileDialog::ExistingFiles);
    else
        dialog.setFileMode(QFileDialog::ExistingFile);
    QString ext = request.defaultExt;
    if (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    dialog.setDefaultSuffix(ext);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
}

FileDialogAnswer QtFileDialog::run(const FileDialogRequest& request)
{
    QFileDialog dialog(parent_);
    if (!lastDirectory_.isEmpty())
        dialog.setDirectory(lastDirectory_);
    configure(dialog, request);
    if (onShow_)
        onShow_();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // What the dialog built to show the folders goes with it.
    QTimer::singleShot(0, [] { restituisciMemoriaLibera(); });
    lastDirectory_ = dialog.directory().absolutePath();
    if (!accepted)
        return {};
    return {true, dialog.selectedFiles()};
}

} // namespace sonora
