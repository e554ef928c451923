#pragma once
// The Windows backend of SpreadsheetApp: late-bound automation of
// "Excel.Application", else of LibreOffice's "com.sun.star.ServiceManager";
// neither registered is ESpreadsheetUnavailable.
//
// Every automation call runs on a worker thread of this object, in a
// single-threaded apartment of its own with its own message pump; the
// calling (GUI) thread waits for each while it serves the Qt event queue, so
// a slow application never freezes the windows.
//
// The application stays hidden while the protocol is filled; Save closes
// the workbook once saved (Windows locks an open file against the move that
// gives the working copy the protocol's name, and Excel refuses a second
// workbook of the same name), and Release opens the moved file and shows
// the application with it. The application is quit on failure, on a warm-up
// not taken over and at Release when there is nothing to show, and only when
// it holds no workbook of the user's.

#include "spreadsheet_app.h"

#include <QStringList>

#include <memory>

class OleSpreadsheetApp : public SpreadsheetApp {
public:
    struct Options {
        // Tried in this order; the first one registered is used.
        QStringList progIds{QStringLiteral("Excel.Application"), QStringLiteral("com.sun.star.ServiceManager")};
        int startTimeoutMs = 90000;  // creating the application object
        int callTimeoutMs = 30000;   // any other call
        int quitTimeoutMs = 10000;   // what the end waits for the application
    };

    OleSpreadsheetApp();
    explicit OleSpreadsheetApp(Options options);
    ~OleSpreadsheetApp() override;
    OleSpreadsheetApp(const OleSpreadsheetApp&) = delete;
    OleSpreadsheetApp& operator=(const OleSpreadsheetApp&) = delete;

    // The default backend's application created in the background; the next
    // default OleSpreadsheetApp takes it over at Start().
    static void WarmUp();
    static void CoolDown();

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

    // The ProgID in use once started ("Excel.Application", ...).
    QString ProgId() const;

    // A path as Windows resolves it (GetFullPathNameW: absolute, backslashes,
    // each name's trailing dots and blanks dropped: "2026 г." is "2026 г").
    static QString WindowsPath(const QString& path);
    // Two paths naming the same file as Windows compares them (resolved as
    // above, case-insensitive).
    static bool SameWindowsPath(const QString& a, const QString& b);
    // A file URL for LibreOffice: "file:///C:/a%20b/%D0%9F.xls".
    static QString FileUrl(const QString& windowsPath);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
