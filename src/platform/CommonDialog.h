#pragma once
// CommonDialog1: the one file dialog object of the main window. Its settings
// are sticky: a use that does not write a setting finds the value the last
// use left. The dialog itself is a replaceable backend, so tests can script
// what the user picks.

#include "platform/Vb16.h"

#include <QString>
#include <QStringList>
#include <memory>

class QWidget;

namespace sonora {

struct FileDialogRequest {
    enum class Mode { Open, Save };
    Mode mode = Mode::Open;
    QString title;
    QString filter;      // "description|pattern|description|pattern…"
    QString fileName;    // proposed name
    QString defaultExt;  // ".cmp": added to a typed name without extension
    qint32 flags = 0;
};

struct FileDialogAnswer {
    bool accepted = false;
    QStringList files;   // absolute paths, in the dialog's own order
};

class IFileDialogBackend {
public:
    virtual ~IFileDialogBackend() = default;
    virtual FileDialogAnswer run(const FileDialogRequest& request) = 0;
};

class CommonDialog {
public:
    static constexpr qint32 AllowMultiselect = 0x200;
    static constexpr qint32 Explorer = 0x80000;

    explicit CommonDialog(std::unique_ptr<IFileDialogBackend> backend);
    ~CommonDialog();

    // Sticky settings.
    QString DialogTitle;
    QString Filter;
    QString FileName;
    QString DefaultExt;
    qint32 Flags = 0;
    // Characters the selection text may take. Before any use writes it, a
    // full path of the longest length Linux allows fits.
    Intero MaxFileSize = 4096;

    // Show the dialog; on return FileName holds the result text. Cancel
    // leaves FileName as written before showing. A selection longer than
    // MaxFileSize throws AppError instead of being cut short.
    void ShowOpen();
    void ShowSave();

    // The result text for chosen files: one file gives its full path; two or
    // more (with multiple selection) give the folder, then a character of
    // code 0 before each name.
    static QString selectionText(const QStringList& files, bool multiselect);


private:
    void show(FileDialogRequest::Mode mode);
    std::unique_ptr<IFileDialogBackend> backend_;
};

} // namespace sonora
