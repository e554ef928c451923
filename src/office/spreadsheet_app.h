#pragma once
// Spreadsheet automation: the few calls the verification protocol makes, in
// the order it makes them (open a workbook, put texts into cells, copy and
// insert a row, save in place), bound at run time to whatever spreadsheet
// application the machine has. Every call that fails throws
// ESpreadsheetError; ESpreadsheetUnavailable when there is no application to
// drive at all.
//
// The Linux backend is the helper program zrm-office-helper beside the
// executable, which drives LibreOffice Calc through its UNO API. It runs as
// a separate process spoken to over a pipe, so a crashed or hung office costs
// the protocol, never the program; while a call waits for its answer the Qt
// event queue is served, so the windows stay responsive. The Windows backend
// is OLE automation of Excel, else LibreOffice (ole_spreadsheet_app.h).

#include "errors.h"

#include <QString>

#include <functional>
#include <memory>

class ESpreadsheetError : public AppError {
public:
    using AppError::AppError;
};

class ESpreadsheetUnavailable : public ESpreadsheetError {
public:
    using ESpreadsheetError::ESpreadsheetError;
};

// A cell object of the worksheet in use. It keeps pointing at its cell when
// rows are inserted above that cell, as the application's own cell objects do.
struct SheetCell {
    int id = 0;
};

class SpreadsheetApp {
public:
    virtual ~SpreadsheetApp() = default;

    // Creates the application object (starts the application).
    virtual void Start() = 0;
    virtual void SetEnableEvents(bool enabled) = 0;
    // A visible application shows the workbook to the user once it is
    // released (Release).
    virtual void SetVisible(bool visible) = 0;
    virtual void OpenWorkbook(const QString& path) = 0;
    // Makes worksheet index (1-based) of the open workbook the one in use.
    virtual void SelectWorksheet(int index) = 0;
    // Range("A1") and Cells(row, column) (1-based) of the worksheet in use.
    virtual SheetCell Range(const QString& name) = 0;
    virtual SheetCell Cells(int row, int column) = 0;
    // value := text, taken as a user typing it would be: a number written
    // in the user's locale becomes a number, "=..." a formula.
    virtual void SetValue(SheetCell cell, const QString& text) = 0;
    // value := text, kept as text exactly as it stands ("=2*3" stays "=2*3"):
    // for what a user typed that is no number.
    virtual void SetText(SheetCell cell, const QString& text) = 0;
    // Range(first, last).EntireRow.Copy, then .Insert: the copy goes in at
    // the range's rows, which move down one row each, with their cell objects.
    virtual void CopyEntireRow(SheetCell first, SheetCell last) = 0;
    virtual void InsertEntireRow(SheetCell first, SheetCell last) = 0;
    // Saves the workbook in place, in its own format. Where an open
    // workbook's file is locked (Windows) the workbook is closed once saved,
    // and Release opens it again where WorkbookMoved says.
    virtual void Save() = 0;
    // The program moved the saved workbook's file to path (it fills a
    // working copy and gives it the protocol's name once saved): Release
    // shows the workbook there.
    virtual void WorkbookMoved(const QString& path) { (void)path; }
    virtual void CloseWorkbookWithoutSaving() = 0;
    virtual void Quit() = 0;
    // Done with automation: the application and a saved workbook are left
    // to the user; a visible application shows the workbook. Never fails
    // (the workbook is saved by then); the object is of no further use.
    virtual void Release() = 0;
};

// The application the program uses: the one a test installed, else the
// office helper (OfficeHelperApp with its default options).
std::unique_ptr<SpreadsheetApp> CreateSpreadsheetApp();
// What the default application can be on this system, for the user:
// "LibreOffice Calc"; on Windows "Microsoft Excel или LibreOffice".
QString SpreadsheetAppNames();

// Starting the office takes seconds. When a protocol is about to be written
// the program starts it beforehand, in the background: the next default
// OfficeHelperApp takes that office over at its Start(). Nothing is started
// while a test's application is installed. Failures are not reported here:
// the protocol's own Start() meets them, with its usual boxes.
void WarmUpSpreadsheetApp();
// No protocol after all: an office started beforehand and not taken over is
// ended (at once: nothing of the user's is open in it).
void CoolDownSpreadsheetApp();
// Installs a maker for CreateSpreadsheetApp; an empty one puts the default
// back.
void SetSpreadsheetAppFactory(std::function<std::unique_ptr<SpreadsheetApp>()> factory);

// Shows a saved workbook to the user in the desktop's spreadsheet
// application; returns false when none could be started (the user is then
// told where the file is). The default asks the desktop to open the file
// (QDesktopServices); tests install a recorder.
using WorkbookViewer = std::function<bool(const QString& path)>;
void SetWorkbookViewer(WorkbookViewer viewer);  // empty: the default
bool ShowWorkbookToUser(const QString& path);

// The office helper backend.
class OfficeHelperApp : public SpreadsheetApp {
public:
    struct Options {
        // The helper executable; empty: zrm-office-helper beside the
        // running executable.
        QString helperPath;
        // The office's program folder handed to the helper; empty: the one
        // the helper was built against.
        QString officeProgramDir;
        // The office's locale ("ru-RU"); empty: the user's (QLocale::system()).
        QString locale;
        int startTimeoutMs = 90000;    // start-up of the office
        int callTimeoutMs = 30000;     // any other call
        int quitTimeoutMs = 20000;     // the helper's own end
    };

    OfficeHelperApp();
    explicit OfficeHelperApp(Options options);
    // The default backend started in the background (WarmUpSpreadsheetApp,
    // or a caller that installed an application of its own around it).
    static void WarmUp();
    static void CoolDown();
    ~OfficeHelperApp() override;
    OfficeHelperApp(const OfficeHelperApp&) = delete;
    OfficeHelperApp& operator=(const OfficeHelperApp&) = delete;

    void Start() override;
    void SetEnableEvents(bool enabled) override;
    void SetVisible(bool visible) override;
    void OpenWorkbook(const QString& path) override;
    void SelectWorksheet(int index) override;
    SheetCell Range(const QString& name) override;
    SheetCell Cells(int row, int column) override;
    void SetValue(SheetCell cell, const QString& text) override;
    void SetText(SheetCell cell, const QString& text) override;
    void CopyEntireRow(SheetCell first, SheetCell last) override;
    void InsertEntireRow(SheetCell first, SheetCell last) override;
    void Save() override;
    void WorkbookMoved(const QString& path) override;
    void CloseWorkbookWithoutSaving() override;
    void Quit() override;
    void Release() override;

    // The locale tag handed to the office for a Qt locale name ("ru_RU" ->
    // "ru-RU"; "C" and empty -> "en-US").
    static QString OfficeLocaleTag(const QString& qtLocaleName);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
