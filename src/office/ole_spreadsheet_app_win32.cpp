#include "ole_spreadsheet_app.h"

#include "messages.h"
#include "number_text.h"
#include "ole_dispatch.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include <objbase.h>
#include <windows.h>

namespace {

const QString kLibreOffice = QStringLiteral("com.sun.star.ServiceManager");

std::wstring Wide(const QString& s)
{
    return s.toStdWString();
}

// What lives on the worker thread: the application's objects, touched by no
// other thread.
struct Com {
    bool excel = true;
    QString progId;
    OleObject app;        // Application, or LibreOffice's ServiceManager
    OleObject workbooks;  // Excel
    OleObject desktop;    // LibreOffice
    OleObject book;
    OleObject sheet;
    OleObject cells;  // Excel: the worksheet's Cells
    std::vector<OleObject> handles;
    OleObject copied;  // LibreOffice: the rows copied, until inserted
    bool handedOver = false;  // shown to the user: no longer ours to quit

    const OleObject& Handle(SheetCell cell) const
    {
        if (cell.id < 1 || std::size_t(cell.id) > handles.size())
            throw ESpreadsheetError(QStringLiteral("Нет объекта ячейки %1").arg(cell.id));
        return handles[std::size_t(cell.id - 1)];
    }
    // Excel: Range(first, last).EntireRow.
    OleObject EntireRow(SheetCell first, SheetCell last) const
    {
        return sheet.Object(L"Range", {OleValue(Handle(first).Get()), OleValue(Handle(last).Get())}).Object(L"EntireRow");
    }
    // LibreOffice: the cell's row, 0-based.
    int Row(SheetCell cell) const
    {
        return Handle(cell).Object(L"getCellAddress").Call(L"Row").ToInt("CellAddress.Row");
    }
    int Keep(OleObject cell)
    {
        handles.push_back(std::move(cell));
        return int(handles.size());
    }
    void ForgetBook()
    {
        handles.clear();
        copied.Reset();
        cells.Reset();
        sheet.Reset();
        book.Reset();
    }
    void CloseBook()
    {
        if (!book)
            return;
        const OleObject closing = book;
        ForgetBook();
        if (excel)
            closing.Call(L"Close", {OleValue(false)});
        else
            closing.Call(L"close", {OleValue(true)});
    }
    // Quits the application unless it holds a workbook of somebody else's
    // (LibreOffice's one process serves the user's documents too).
    void QuitApp()
    {
        ForgetBook();
        if (!app || handedOver)
            return;
        bool others = false;
        try {
            if (excel)
                others = workbooks.Call(L"Count").ToInt("Workbooks.Count") > 0;
            else
                others = desktop.Object(L"getComponents")
                             .Object(L"createEnumeration")
                             .Call(L"hasMoreElements")
                             .ToBool("hasMoreElements");
        } catch (const ESpreadsheetError& e) {
            qWarning().noquote() << "spreadsheet:" << e.text();
        }
        if (!others) {
            if (excel)
                app.Call(L"Quit");
            else
                desktop.Call(L"terminate");
        }
        handedOver = true;  // quit, or left to its owner
    }
    void ReleaseAll()
    {
        ForgetBook();
        desktop.Reset();
        workbooks.Reset();
        app.Reset();
    }
    // The end of the worker: nothing of ours stays open or hidden.
    void EndQuietly()
    {
        try {
            CloseBook();
        } catch (const ESpreadsheetError& e) {
            qWarning().noquote() << "spreadsheet:" << e.text();
        }
        try {
            QuitApp();
        } catch (const ESpreadsheetError& e) {
            qWarning().noquote() << "spreadsheet:" << e.text();
        }
        ReleaseAll();
    }
    // LibreOffice's PropertyValue, made by its bridge.
    OleObject Property(const wchar_t* name, const OleValue& value) const
    {
        OleObject p = app.Object(L"Bridge_GetStruct", {OleValue(L"com.sun.star.beans.PropertyValue")});
        p.Put(L"Name", OleValue(name));
        p.Put(L"Value", value);
        return p;
    }
    OleObject Load(const QString& path, bool hidden) const
    {
        OleValue props;
        if (hidden) {
            const OleValue hide(Property(L"Hidden", OleValue(true)).Get());
            const OleValue noMacros(Property(L"MacroExecutionMode", OleValue(0)).Get());
            props = OleValue::Array({&hide, &noMacros});
        } else {
            props = OleValue::Array({});
        }
        return desktop.Object(L"loadComponentFromURL", {OleValue(OleSpreadsheetApp::FileUrl(path)),
                                                         OleValue(L"_blank"), OleValue(0), props});
    }
};

// One call handed to the worker.
struct Job {
    std::function<int(Com&)> work;
    int result = 0;
    std::exception_ptr error;
    std::mutex lock;
    bool done = false;
    QAbstractEventDispatcher* waker = nullptr;  // the waiting thread's, while it waits
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Job() { CloseHandle(event); }
};

struct Worker {
    std::mutex lock;
    std::deque<std::shared_ptr<Job>> queue;
    bool stop = false;
    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = nullptr;
    Com com;  // the worker thread's only
    ~Worker() { CloseHandle(wake); }
};

void RunJob(Com& com, Job& job)
{
    try {
        job.result = job.work(com);
    } catch (const ESpreadsheetError&) {
        job.error = std::current_exception();
    } catch (const AppError& e) {
        job.error = std::make_exception_ptr(ESpreadsheetError(e.text()));
    } catch (const std::exception& e) {
        job.error = std::make_exception_ptr(ESpreadsheetError(QString::fromUtf8(e.what())));
    }
    std::lock_guard<std::mutex> guard(job.lock);
    job.done = true;
    SetEvent(job.event);
    if (job.waker)
        job.waker->wakeUp();
}

DWORD WINAPI WorkerMain(void* arg)
{
    const std::shared_ptr<Worker> w = *static_cast<std::shared_ptr<Worker>*>(arg);
    delete static_cast<std::shared_ptr<Worker>*>(arg);
    // An apartment of its own: the objects are created and called here only.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
        std::shared_ptr<Job> job;
        bool stop = false;
        {
            std::lock_guard<std::mutex> guard(w->lock);
            if (!w->queue.empty()) {
                job = w->queue.front();
                w->queue.pop_front();
            }
            stop = w->stop;
        }
        if (job) {
            if (FAILED(init))
                job->work = [init](Com&) -> int {
                    throw ESpreadsheetError(QStringLiteral("COM не инициализируется: ") + HResultText(init));
                };
            RunJob(w->com, *job);
            continue;
        }
        if (stop)
            break;
        // A single-threaded apartment pumps its messages while it waits.
        if (MsgWaitForMultipleObjectsEx(1, &w->wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    if (SUCCEEDED(init)) {
        w->com.EndQuietly();
        CoUninitialize();
    }
    return 0;
}

}  // namespace

struct OleSpreadsheetApp::Private {
    Options options;
    std::shared_ptr<Worker> worker;
    std::shared_ptr<Job> pendingStart;
    bool broken = false;  // a call ran out of time: the worker is given up
    bool started = false;
    bool visible = false;
    bool saved = false;
    QString workbook;  // the saved workbook's file, where the user gets it
    QString progId;

    std::shared_ptr<Job> Post(std::function<int(Com&)> work)
    {
        if (broken)
            throw ESpreadsheetError(QStringLiteral("Табличное приложение не отвечает"));
        if (!worker) {
            worker = std::make_shared<Worker>();
            auto* arg = new std::shared_ptr<Worker>(worker);
            worker->thread = CreateThread(nullptr, 0, WorkerMain, arg, 0, nullptr);
            if (!worker->thread) {
                delete arg;
                worker.reset();
                throw ESpreadsheetError(QStringLiteral("Не запускается поток автоматизации: ") + HResultText(HRESULT_FROM_WIN32(GetLastError())));
            }
        }
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        {
            std::lock_guard<std::mutex> guard(worker->lock);
            worker->queue.push_back(job);
        }
        SetEvent(worker->wake);
        return job;
    }

    // Waits for job while the event queue is served; its failure is thrown
    // here.
    int Wait(const std::shared_ptr<Job>& job, int timeoutMs, const QString& what)
    {
        QCoreApplication* qapp = QCoreApplication::instance();
        if (qapp && QThread::currentThread() == qapp->thread()) {
            {
                std::lock_guard<std::mutex> guard(job->lock);
                job->waker = QAbstractEventDispatcher::instance();
            }
            QElapsedTimer clock;
            clock.start();
            QTimer timer;  // wakes the wait when the time is up
            timer.setSingleShot(true);
            timer.start(timeoutMs);
            for (;;) {
                {
                    std::lock_guard<std::mutex> guard(job->lock);
                    if (job->done || clock.elapsed() >= timeoutMs) {
                        job->waker = nullptr;
                        break;
                    }
                }
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
        } else {
            WaitForSingleObject(job->event, DWORD(timeoutMs));
        }
        {
            std::lock_guard<std::mutex> guard(job->lock);
            if (!job->done) {
                broken = true;
                throw ESpreadsheetError(QStringLiteral("Табличное приложение не ответило за %1 с: ").arg(timeoutMs / 1000) + what);
            }
        }
        if (job->error)
            std::rethrow_exception(job->error);
        return job->result;
    }

    int Run(const QString& what, std::function<int(Com&)> work, int timeoutMs = -1)
    {
        if (!started)
            throw ESpreadsheetError(QStringLiteral("Табличное приложение не запущено"));
        return Wait(Post(std::move(work)), timeoutMs < 0 ? options.callTimeoutMs : timeoutMs, what);
    }

    void Launch()
    {
        pendingStart = Post([ids = options.progIds](Com& c) {
            QStringList tried;
            bool registered = false;
            for (int i = 0; i < ids.size(); ++i) {
                const QString& id = ids[i];
                CLSID clsid;
                HRESULT hr = CLSIDFromProgID(Wide(id).c_str(), &clsid);
                if (FAILED(hr)) {
                    tried << id + QStringLiteral(" не зарегистрирован");
                    continue;
                }
                registered = true;
                IDispatch* p = nullptr;
                // Excel starts an instance of its own for every such call:
                // never one the user has open.
                hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      reinterpret_cast<void**>(&p));
                if (FAILED(hr)) {
                    tried << id + QStringLiteral(": ") + HResultText(hr);
                    continue;
                }
                c.app = OleObject(p);
                c.progId = id;
                c.excel = id != kLibreOffice;
                if (c.excel) {
                    c.workbooks = c.app.Object(L"Workbooks");
                    // No question boxes of the application's while it is ours.
                    c.app.Put(L"DisplayAlerts", OleValue(false));
                } else {
                    c.desktop = c.app.Object(L"createInstance", {OleValue(L"com.sun.star.frame.Desktop")});
                }
                return i;
            }
            const QString why = tried.join(QStringLiteral("; "));
            if (!registered)
                throw ESpreadsheetUnavailable(QStringLiteral("Нет табличного приложения: ") + why);
            throw ESpreadsheetError(QStringLiteral("Табличное приложение не запускается: ") + why);
        });
    }
};

OleSpreadsheetApp::OleSpreadsheetApp() : OleSpreadsheetApp(Options{}) {}

OleSpreadsheetApp::OleSpreadsheetApp(Options options) : d(std::make_unique<Private>())
{
    d->options = std::move(options);
}

OleSpreadsheetApp::~OleSpreadsheetApp()
{
    if (!d || !d->worker)
        return;
    const std::shared_ptr<Worker> w = std::move(d->worker);
    {
        std::lock_guard<std::mutex> guard(w->lock);
        w->stop = true;
    }
    SetEvent(w->wake);
    // The worker closes and quits what is still ours on its way out. A hung
    // application is not waited for: the worker ends whenever it answers.
    if (!d->broken)
        WaitForSingleObject(w->thread, DWORD(d->options.quitTimeoutMs));
    CloseHandle(w->thread);
}

namespace {

std::unique_ptr<OleSpreadsheetApp>& Standby()
{
    static std::unique_ptr<OleSpreadsheetApp> standby;
    return standby;
}

}  // namespace

void OleSpreadsheetApp::WarmUp()
{
    if (Standby())
        return;
    auto app = std::make_unique<OleSpreadsheetApp>();
    try {
        app->d->Launch();
    } catch (const ESpreadsheetError&) {
        return;  // the protocol's own start meets it
    }
    Standby() = std::move(app);
}

void OleSpreadsheetApp::CoolDown()
{
    Standby().reset();
}

void OleSpreadsheetApp::Start()
{
    if (d->started)
        throw ESpreadsheetError(QStringLiteral("Табличное приложение уже запущено"));
    if (std::unique_ptr<OleSpreadsheetApp> warm = std::move(Standby())) {
        if (!warm->d->broken && warm->d->options.progIds == d->options.progIds) {
            std::swap(d->worker, warm->d->worker);
            std::swap(d->pendingStart, warm->d->pendingStart);
        }
    }
    if (!d->pendingStart)
        d->Launch();
    const std::shared_ptr<Job> start = std::move(d->pendingStart);
    d->progId = d->options.progIds.value(d->Wait(start, d->options.startTimeoutMs, QStringLiteral("запуск")));
    d->started = true;
}

QString OleSpreadsheetApp::ProgId() const
{
    return d->progId;
}

void OleSpreadsheetApp::SetEnableEvents(bool enabled)
{
    d->Run(QStringLiteral("EnableEvents"), [enabled](Com& c) {
        if (c.excel)
            c.app.Put(L"EnableEvents", OleValue(enabled));
        return 0;
    });
}

void OleSpreadsheetApp::SetVisible(bool visible)
{
    // Shown at Release, with the protocol under its own name: the working
    // copy is not the user's to edit, and an application the user types
    // into refuses automation calls meanwhile.
    d->visible = visible;
}

void OleSpreadsheetApp::OpenWorkbook(const QString& path)
{
    const QString file = WindowsPath(path);
    d->Run(QStringLiteral("Workbooks.Open"), [file](Com& c) {
        if (c.book)
            throw ESpreadsheetError(QStringLiteral("Книга уже открыта"));
        c.book = c.excel ? c.workbooks.Object(L"Open", {OleValue(file)}) : c.Load(file, true);
        return 0;
    });
    d->workbook = file;
    d->saved = false;
}

void OleSpreadsheetApp::SelectWorksheet(int index)
{
    d->Run(QStringLiteral("Worksheets"), [index](Com& c) {
        if (!c.book)
            throw ESpreadsheetError(QStringLiteral("Книга не открыта"));
        c.handles.clear();
        c.copied.Reset();
        if (c.excel) {
            c.sheet = c.book.Object(L"Worksheets").Object(L"Item", {OleValue(index)});
            c.cells = c.sheet.Object(L"Cells");
        } else {
            c.sheet = c.book.Object(L"getSheets").Object(L"getByIndex", {OleValue(index - 1)});
        }
        return 0;
    });
}

SheetCell OleSpreadsheetApp::Range(const QString& name)
{
    return {d->Run(QStringLiteral("Range"), [name](Com& c) {
        if (c.excel)
            return c.Keep(c.sheet.Object(L"Range", {OleValue(name)}));
        return c.Keep(c.sheet.Object(L"getCellRangeByName", {OleValue(name)})
                          .Object(L"getCellByPosition", {OleValue(0), OleValue(0)}));
    })};
}

SheetCell OleSpreadsheetApp::Cells(int row, int column)
{
    return {d->Run(QStringLiteral("Cells"), [row, column](Com& c) {
        if (row < 1 || column < 1)
            throw ESpreadsheetError(QStringLiteral("Нет ячейки в строке %1, столбце %2").arg(row).arg(column));
        if (c.excel)
            return c.Keep(c.cells.Object(L"Item", {OleValue(row), OleValue(column)}));
        return c.Keep(c.sheet.Object(L"getCellByPosition", {OleValue(column - 1), OleValue(row - 1)}));
    })};
}

void OleSpreadsheetApp::SetValue(SheetCell cell, const QString& text)
{
    // A number in the user's notation goes in as a number, whatever notation
    // the application reads texts in; anything else as typed.
    double number = 0;
    const bool isNumber = TryStrToFloat(text, number);
    d->Run(QStringLiteral("Value"), [cell, text, isNumber, number](Com& c) {
        const OleObject& target = c.Handle(cell);
        if (c.excel)
            target.Put(L"Value", isNumber ? OleValue(number) : OleValue(text));
        else if (isNumber)
            target.Call(L"setValue", {OleValue(number)});
        else
            target.Put(L"FormulaLocal", OleValue(text));
        return 0;
    });
}

void OleSpreadsheetApp::SetText(SheetCell cell, const QString& text)
{
    d->Run(QStringLiteral("Value"), [cell, text](Com& c) {
        const OleObject& target = c.Handle(cell);
        if (c.excel) {
            // A text cell keeps "=2*3" and "007" as they stand.
            target.Put(L"NumberFormat", OleValue(L"@"));
            target.Put(L"Value", OleValue(text));
        } else {
            target.Call(L"setString", {OleValue(text)});
        }
        return 0;
    });
}

namespace {

int Field(const OleObject& s, const wchar_t* name)
{
    return s.Call(name).ToInt("CellAddress");
}

}  // namespace

void OleSpreadsheetApp::CopyEntireRow(SheetCell first, SheetCell last)
{
    d->Run(QStringLiteral("EntireRow.Copy"), [first, last](Com& c) {
        if (c.excel) {
            c.EntireRow(first, last).Call(L"Copy");
            return 0;
        }
        const int ra = c.Row(first);
        const int rb = c.Row(last);
        const int lastColumn = c.sheet.Object(L"getColumns").Call(L"getCount").ToInt("getCount") - 1;
        // A range follows its cells when rows are inserted above them.
        c.copied = c.sheet.Object(L"getCellRangeByPosition", {OleValue(0), OleValue(std::min(ra, rb)),
                                                              OleValue(lastColumn), OleValue(std::max(ra, rb))});
        return 0;
    });
}

void OleSpreadsheetApp::InsertEntireRow(SheetCell first, SheetCell last)
{
    d->Run(QStringLiteral("EntireRow.Insert"), [first, last](Com& c) {
        if (c.excel) {
            c.EntireRow(first, last).Call(L"Insert");
            return 0;
        }
        if (!c.copied)
            throw ESpreadsheetError(QStringLiteral("Строки не скопированы"));
        const OleObject copiedAt = c.copied.Object(L"getRangeAddress");
        const int rows = Field(copiedAt, L"EndRow") - Field(copiedAt, L"StartRow") + 1;
        const int top = std::min(c.Row(first), c.Row(last));
        const OleObject allRows = c.sheet.Object(L"getRows");
        allRows.Call(L"insertByIndex", {OleValue(top), OleValue(rows)});
        const OleObject source = c.copied.Object(L"getRangeAddress");  // moved down if it was below
        const OleObject target = c.sheet.Object(L"getCellByPosition", {OleValue(0), OleValue(top)}).Object(L"getCellAddress");
        c.sheet.Call(L"copyRange", {OleValue(target.Get()), OleValue(source.Get())});
        // Row heights go with the rows, as when a user inserts copied rows.
        const int from = Field(source, L"StartRow");
        for (int i = 0; i < rows; ++i) {
            const OleValue height = allRows.Object(L"getByIndex", {OleValue(from + i)}).Call(L"Height");
            allRows.Object(L"getByIndex", {OleValue(top + i)}).Put(L"Height", height);
        }
        c.copied.Reset();
        return 0;
    });
}

void OleSpreadsheetApp::Save()
{
    d->Run(QStringLiteral("Save"), [](Com& c) {
        if (!c.book)
            throw ESpreadsheetError(QStringLiteral("Книга не открыта"));
        c.book.Call(c.excel ? L"Save" : L"store");
        // Saved: closed, so that its file can be moved (an open workbook's
        // file is locked) and opened again under the protocol's name.
        c.CloseBook();
        return 0;
    });
    d->saved = true;
}

void OleSpreadsheetApp::WorkbookMoved(const QString& path)
{
    if (d->saved)
        d->workbook = WindowsPath(path);
}

void OleSpreadsheetApp::CloseWorkbookWithoutSaving()
{
    d->Run(QStringLiteral("Close"), [](Com& c) {
        c.CloseBook();
        return 0;
    });
    d->saved = false;
}

void OleSpreadsheetApp::Quit()
{
    if (!d->started || !d->worker)
        return;
    d->Run(QStringLiteral("Quit"), [](Com& c) {
        c.QuitApp();
        c.ReleaseAll();
        return 0;
    }, d->options.quitTimeoutMs);
}

void OleSpreadsheetApp::Release()
{
    const QString saved = d->saved ? d->workbook : QString();
    bool shown = !d->visible || saved.isEmpty();
    if (!shown && d->started && !d->broken) {
        try {
            // The application shows the protocol under its own name and is
            // the user's from now on.
            d->Run(QStringLiteral("Workbooks.Open"), [saved](Com& c) {
                if (c.excel) {
                    c.workbooks.Call(L"Open", {OleValue(saved)});
                    c.app.Put(L"DisplayAlerts", OleValue(true));
                    c.app.Put(L"Visible", OleValue(true));
                    c.app.Put(L"UserControl", OleValue(true));
                } else {
                    c.Load(saved, false);
                }
                c.handedOver = true;
                c.ReleaseAll();
                return 0;
            });
            shown = true;
        } catch (const ESpreadsheetError& e) {
            qWarning().noquote() << "protocol" << saved << "not shown:" << e.text();
        }
    }
    try {
        Quit();  // what was not handed over
    } catch (const ESpreadsheetError& e) {
        qWarning().noquote() << "spreadsheet:" << e.text();
    }
    if (!shown)
        shown = ShowWorkbookToUser(saved);
    if (!shown)
        ShowMessage(MsgKind::Information, QStringLiteral("Протокол сохранён в файле ") + QDir::toNativeSeparators(saved) +
                                              QStringLiteral(", но открыть его не удалось."));
}

QString OleSpreadsheetApp::WindowsPath(const QString& path)
{
    const std::wstring native = Wide(QDir::toNativeSeparators(path));
    std::vector<wchar_t> buf(MAX_PATH);
    DWORD n = GetFullPathNameW(native.c_str(), DWORD(buf.size()), buf.data(), nullptr);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFullPathNameW(native.c_str(), DWORD(buf.size()), buf.data(), nullptr);
    }
    return n ? QString::fromWCharArray(buf.data(), int(n)) : QDir::toNativeSeparators(path);
}

bool OleSpreadsheetApp::SameWindowsPath(const QString& a, const QString& b)
{
    return WindowsPath(a).compare(WindowsPath(b), Qt::CaseInsensitive) == 0;
}

QString OleSpreadsheetApp::FileUrl(const QString& windowsPath)
{
    QString path = windowsPath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const char hex[] = "0123456789ABCDEF";
    QString url = QStringLiteral("file:///");
    for (const char ch : path.toUtf8()) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("/-._~:", c)) {
            url += QLatin1Char(char(c));
        } else {
            url += QLatin1Char('%');
            url += QLatin1Char(hex[c >> 4]);
            url += QLatin1Char(hex[c & 15]);
        }
    }
    return url;
}
