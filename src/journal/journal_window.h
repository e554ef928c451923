#pragma once
// "Журнал операций": a meter's history from the journal, newest first,
// filtered by serial number, period and kind; the selected entry's details
// (a write's configuration before and after, changed values marked); the
// filtered entries to CSV; and, in the professional variant, a
// configuration of an entry written back through the editor.

#include "journal_store.h"
#include "ui_journal_window.h"

#include <QDialog>

#include <vector>

class DeviceLink;
class FileDialog;
class TForm2;
class JournalModel;

class JournalWindow : public QDialog, private Ui_JournalWindow {
    Q_OBJECT

public:
    // editor: the configuration editor a write back goes through; nullptr
    // in the user variant, which writes nothing.
    JournalWindow(DeviceLink& link, TForm2* editor, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Shows the history of serial (the main window's), modally.
    void ShowFor(int serial);

    const std::vector<JournalEntry>& Entries() const;
    // Reads the journal again with the filters as they stand.
    void Refresh();
    void SelectEntry(int row);

    // The filtered entries as the CSV file holds them.
    QByteArray ExportText() const;

public slots:
    void ExportButtonClick();
    void WriteButtonClick();

private:
    void ShowDetails();
    const JournalEntry* Selected() const;

    DeviceLink& m_link;
    TForm2* m_editor;
    JournalModel* m_model;
    FileDialog* SaveDialog1;
};
