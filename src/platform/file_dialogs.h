#pragma once
// Every file dialog of the program goes through FileDialogs, as message boxes
// go through Messages, so that tests can answer them from a script and check
// what the program asked for.

#include <QObject>
#include <QString>

enum class FileDialogKind { Open, Save };

// What one run of a file dialog asks for.
struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString filter;           // Qt form: "Description (*.ext)"
    QString defaultSuffix;    // without the dot; added to a name typed without one
    QString initialDirectory; // empty: wherever the system's dialog starts
    QString fileName;         // proposed name, bare or with a path
    bool overwritePrompt = false;  // save: ask before replacing a file
    bool fileMustExist = false;    // open: only existing files can be chosen

    bool operator==(const FileDialogRequest&) const = default;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Runs a modal dialog; the chosen path, or an empty string when the user
    // cancelled.
    virtual QString run(const FileDialogRequest& request) = 0;

    // The service in force: the Qt one (QFileDialog) unless another was
    // installed.
    static FileDialogs& current();
    // Installs d (not owned); nullptr puts the Qt service back.
    static void install(FileDialogs* d);
    static FileDialogs* installed();
};

// A file dialog a window keeps (SaveDialog1, OpenDialog1): its settings and
// the name last chosen survive between runs.
class FileDialog : public QObject {
    Q_OBJECT

public:
    FileDialog(FileDialogKind kind, QObject* parent = nullptr);

    FileDialogKind Kind;
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    bool OverwritePrompt = false;
    bool FileMustExist = false;

    // True when the user chose a file; FileName then holds its path.
    bool Execute();
};
