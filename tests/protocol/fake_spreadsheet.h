#pragma once
// A recording spreadsheet for the protocol tests: a worksheet in memory that
// moves its rows and cell objects the way the real application does, and a
// log of every call. Save writes the sheet into the workbook file it opened,
// on the real disk, so that what becomes of that file can be checked.

#include "spreadsheet_app.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

// A worksheet in memory with the application's row semantics, and a log of
// every call the protocol makes.
struct FakeSheet {
    std::map<int, std::map<int, QString>> cells;  // row -> column -> text
    std::vector<std::pair<int, int>> handles;     // cell objects: row, column
    int copiedRow = 0;
    QStringList log;
    QString failOn;          // a call that throws
    QString opened;          // the workbook file OpenWorkbook got
    QByteArray openedBytes;  // and what it held then
    bool unavailable = false;
    std::function<void(const QString&)> onCall;

    static QString Name(int row, int column) { return QString(QChar('A' + column - 1)) + QString::number(row); }
    QString Text(int row, int column) const
    {
        const auto r = cells.find(row);
        if (r == cells.end())
            return {};
        const auto c = r->second.find(column);
        return c == r->second.end() ? QString() : c->second;
    }
    void Call(const QString& entry)
    {
        log << entry;
        if (onCall)
            onCall(entry);
        if (!failOn.isEmpty() && entry.startsWith(failOn))
            throw ESpreadsheetError(QStringLiteral("refused: ") + entry);
    }
    // Inserting rows at r moves row r and everything below it down one.
    void InsertAt(int r)
    {
        std::map<int, std::map<int, QString>> moved;
        for (auto& [row, cols] : cells)
            moved[row >= r ? row + 1 : row] = cols;
        cells = moved;
        for (auto& h : handles)
            if (h.first >= r)
                ++h.first;
        if (copiedRow >= r)
            ++copiedRow;
    }
};

class FakeSpreadsheet : public SpreadsheetApp {
public:
    explicit FakeSpreadsheet(FakeSheet& s) : m(s) {}
    void Start() override
    {
        m.Call(QStringLiteral("Start"));
        if (m.unavailable)
            throw ESpreadsheetUnavailable(QStringLiteral("no office"));
    }
    void SetEnableEvents(bool e) override { m.Call(QStringLiteral("EnableEvents %1").arg(e)); }
    void SetVisible(bool v) override { m.Call(QStringLiteral("Visible %1").arg(v)); }
    void OpenWorkbook(const QString& path) override
    {
        m.Call(QStringLiteral("Open ") + path);
        m.opened = path;
        QFile f(path);
        m.openedBytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void SelectWorksheet(int index) override { m.Call(QStringLiteral("Sheet %1").arg(index)); }
    SheetCell Range(const QString& name) override
    {
        m.handles.push_back({name.mid(1).toInt(), name[0].unicode() - 'A' + 1});
        return {int(m.handles.size())};
    }
    SheetCell Cells(int row, int column) override
    {
        m.handles.push_back({row, column});
        return {int(m.handles.size())};
    }
    void SetValue(SheetCell cell, const QString& text) override
    {
        const auto [row, column] = m.handles.at(std::size_t(cell.id - 1));
        m.Call(QStringLiteral("Set ") + FakeSheet::Name(row, column) + QLatin1Char(' ') + text);
        m.cells[row][column] = text;
    }
    void SetText(SheetCell cell, const QString& text) override
    {
        const auto [row, column] = m.handles.at(std::size_t(cell.id - 1));
        m.Call(QStringLiteral("Text ") + FakeSheet::Name(row, column) + QLatin1Char(' ') + text);
        m.cells[row][column] = text;
    }
    void CopyEntireRow(SheetCell first, SheetCell last) override
    {
        const int row = m.handles.at(std::size_t(first.id - 1)).first;
        EXPECT_EQ(row, m.handles.at(std::size_t(last.id - 1)).first);
        EXPECT_EQ(m.handles.at(std::size_t(first.id - 1)).second, 1);
        EXPECT_EQ(m.handles.at(std::size_t(last.id - 1)).second, 15);
        m.Call(QStringLiteral("Copy %1").arg(row));
        m.copiedRow = row;
    }
    void InsertEntireRow(SheetCell first, SheetCell) override
    {
        const int row = m.handles.at(std::size_t(first.id - 1)).first;
        m.Call(QStringLiteral("Insert %1").arg(row));
        ASSERT_GT(m.copiedRow, 0);
        m.InsertAt(row);
        m.cells[row] = m.cells[m.copiedRow];
    }
    // The whole sheet, and more than the template's bytes, so that a disk
    // with no room left cannot take it.
    void Save() override
    {
        m.Call(QStringLiteral("Save"));
        QByteArray bytes = "saved workbook\n" + QByteArray(16384, ' ') + "\n";
        for (const auto& [row, cols] : m.cells)
            for (const auto& [column, text] : cols)
                bytes += FakeSheet::Name(row, column).toUtf8() + '=' + text.toUtf8() + '\n';
        QFile f(m.opened);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
            throw ESpreadsheetError(QStringLiteral("save: cannot write ") + m.opened);
    }
    void CloseWorkbookWithoutSaving() override { m.Call(QStringLiteral("Close")); }
    void Quit() override { m.Call(QStringLiteral("Quit")); }
    void WorkbookMoved(const QString& path) override { m.Call(QStringLiteral("Moved ") + path); }
    void Release() override { m.Call(QStringLiteral("Release")); }

private:
    FakeSheet& m;
};

