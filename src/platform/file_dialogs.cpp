#include "file_dialogs.h"

#include <QApplication>
#include <QFileDialog>

#include <atomic>

namespace {

class QtFileDialogs final : public FileDialogs {
public:
    QString run(const FileDialogRequest& r) override
    {
        // Without widgets there is nobody to ask: answer as a cancel would.
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return QString();

        QFileDialog dialog(QApplication::activeWindow());
        const bool save = r.kind == FileDialogKind::Save;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(!save && r.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !r.overwritePrompt);
        if (!r.filter.isEmpty())
            dialog.setNameFilter(r.filter);
        dialog.setDefaultSuffix(r.defaultSuffix);
        if (!r.initialDirectory.isEmpty())
            dialog.setDirectory(r.initialDirectory);
        if (!r.fileName.isEmpty())
            dialog.selectFile(r.fileName);
        dialog.setSizeGripEnabled(true);
        if (dialog.exec() != QDialog::Accepted)
            return QString();
        const QStringList files = dialog.selectedFiles();
        return files.isEmpty() ? QString() : files.first();
    }
};

std::atomic<FileDialogs*> g_installed{nullptr};

}  // namespace

FileDialogs& FileDialogs::current()
{
    if (FileDialogs* d = g_installed.load())
        return *d;
    static QtFileDialogs qt;
    return qt;
}

void FileDialogs::install(FileDialogs* d)
{
    g_installed.store(d);
}

FileDialogs* FileDialogs::installed()
{
    return g_installed.load();
}

FileDialog::FileDialog(FileDialogKind kind, QObject* parent) : QObject(parent), Kind(kind)
{
}

bool FileDialog::Execute()
{
    FileDialogRequest r;
    r.kind = Kind;
    r.filter = Filter;
    r.defaultSuffix = DefaultExt;
    r.initialDirectory = InitialDir;
    r.fileName = FileName;
    r.overwritePrompt = OverwritePrompt;
    r.fileMustExist = FileMustExist;
    const QString chosen = FileDialogs::current().run(r);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}
