#include "spreadsheet_app.h"

#include "app_paths.h"
#include "line_protocol.h"
#include "messages.h"
#include "process_group.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

// The system's own backend: the office helper, or OLE automation on Windows.
#ifdef _WIN32
#include "ole_spreadsheet_app.h"
using SystemSpreadsheetApp = OleSpreadsheetApp;
#else
using SystemSpreadsheetApp = OfficeHelperApp;
#endif

namespace {

std::function<std::unique_ptr<SpreadsheetApp>()>& Factory()
{
    static std::function<std::unique_ptr<SpreadsheetApp>()> factory;
    return factory;
}

WorkbookViewer& Viewer()
{
    static WorkbookViewer viewer;
    return viewer;
}

}  // namespace

QString SpreadsheetAppNames()
{
#ifdef _WIN32
    return QStringLiteral("Microsoft Excel или LibreOffice");
#else
    return QStringLiteral("LibreOffice Calc");
#endif
}

std::unique_ptr<SpreadsheetApp> CreateSpreadsheetApp()
{
    if (Factory())
        return Factory()();
    return std::make_unique<SystemSpreadsheetApp>();
}

void SetSpreadsheetAppFactory(std::function<std::unique_ptr<SpreadsheetApp>()> factory)
{
    Factory() = std::move(factory);
}

void SetWorkbookViewer(WorkbookViewer viewer)
{
    Viewer() = std::move(viewer);
}

bool ShowWorkbookToUser(const QString& path)
{
    if (Viewer())
        return Viewer()(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

struct OfficeHelperApp::Private {
    Options options;
    QProcess process;
    QByteArray incoming;  // the helper's output not yet a whole line
    QByteArray replies;   // whole reply lines, not yet read
    QByteArray errorTail;  // the helper's last words, for the error text
    HelperProcessGroup group;
    std::unique_ptr<QTemporaryDir> profile;
    bool visible = false;
    bool saved = false;
    bool quit = false;
    bool startPending = false;  // the start request sent, its answer not read
    QString workbook;

    bool Running() const { return process.state() != QProcess::NotRunning; }

    // The helper's output as it comes, whoever waits for it or not: the
    // office's process group is noted the moment it is told (an office
    // started in advance may wait long for its first request), the replies
    // are kept for WaitLine.
    void Collect()
    {
        incoming += process.readAllStandardOutput();
        qsizetype nl;
        while ((nl = incoming.indexOf('\n')) >= 0) {
            const QByteArray line = incoming.left(nl + 1);
            incoming.remove(0, nl + 1);
            if (line.startsWith("office\t"))
                group.NoteOfficeGroup(line.mid(7).trimmed().toLongLong());
            else
                replies += line;
        }
    }

    QString Diagnostics() const
    {
        const QString tail = QString::fromUtf8(errorTail).trimmed();
        return tail.isEmpty() ? QString() : QStringLiteral(" (") + tail.right(500) + QLatin1Char(')');
    }

    // The office and everything it started go with the helper.
    void Kill()
    {
        group.KillOffice();
        if (Running()) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    // Waits for one reply line while the event queue is served; the helper
    // ending or the time running out ends the wait.
    QByteArray WaitLine(int timeoutMs, const char* what)
    {
        QElapsedTimer clock;
        clock.start();
        bool timedOut = false;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] { timedOut = true; });
        timer.start(timeoutMs);
        for (;;) {
            const qsizetype nl = replies.indexOf('\n');
            if (nl >= 0) {
                QByteArray line = replies.left(nl);
                replies.remove(0, nl + 1);
                return line;
            }
            if (!Running()) {
                // Its last lines may still wait in the pipe.
                if (process.bytesAvailable() > 0) {
                    Collect();
                    continue;
                }
                // Whatever ended the helper, its office must not outlive it.
                Kill();
                if (process.error() == QProcess::FailedToStart)
                    throw ESpreadsheetUnavailable(QStringLiteral("Нет табличного приложения: не запускается ") +
                                                  process.program());
                throw ESpreadsheetError(QStringLiteral("Табличное приложение завершилось: ") + QString::fromUtf8(what) +
                                        Diagnostics());
            }
            if (timedOut || clock.elapsed() > timeoutMs) {
                Kill();
                throw ESpreadsheetError(QStringLiteral("Табличное приложение не ответило за %1 с: ").arg(timeoutMs / 1000) +
                                        QString::fromUtf8(what));
            }
            if (QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            else
                process.waitForReadyRead(50);
        }
    }

    void Send(const QStringList& request)
    {
        if (quit || !Running())
            throw ESpreadsheetError(QStringLiteral("Табличное приложение не запущено"));
        std::vector<std::string> fields;
        for (const QString& field : request)
            fields.push_back(field.toStdString());
        process.write(QByteArray::fromStdString(JoinFields(fields) + '\n'));
    }

    QStringList Receive(const QString& what, int timeoutMs)
    {
        QStringList reply;
        for (const std::string& field : SplitFields(WaitLine(timeoutMs, what.toUtf8().constData()).toStdString()))
            reply << QString::fromStdString(field);
        const QString status = reply.takeFirst();
        if (status == QLatin1String("ok"))
            return reply;
        const QString message = reply.value(0);
        if (status == QLatin1String("unavailable"))
            throw ESpreadsheetUnavailable(QStringLiteral("Нет табличного приложения: ") + message);
        throw ESpreadsheetError(what + QStringLiteral(": ") + message);
    }

    QStringList Call(const QStringList& request, int timeoutMs)
    {
        Send(request);
        return Receive(request[0], timeoutMs);
    }

    // The helper started and asked to start its office; the answer comes
    // later (FinishStart), so the start can run in the background.
    void Launch()
    {
        QString helper = options.helperPath;
        if (helper.isEmpty())
            helper = AppPaths::helperFile(ExecutableFileName(QStringLiteral("zrm-office-helper")));
        const QFileInfo info(helper);
        if (!info.isFile() || !info.isExecutable())
            throw ESpreadsheetUnavailable(QStringLiteral("Нет табличного приложения: не найден ") + helper);

        profile = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zrm-office-XXXXXX"));
        if (!profile->isValid())
            throw ESpreadsheetError(QStringLiteral("Нет места для профиля табличного приложения: ") + profile->errorString());

        QStringList args;
        if (!options.officeProgramDir.isEmpty())
            args << QStringLiteral("--office-dir") << options.officeProgramDir;
        quit = false;
        incoming.clear();
        replies.clear();
        errorTail.clear();
        process.setProgram(helper);
        process.setArguments(args);
        process.start();
        if (!process.waitForStarted(5000)) {
            Kill();
            throw ESpreadsheetUnavailable(QStringLiteral("Нет табличного приложения: не запускается ") + helper);
        }
        group.Adopt(process);
        const QString locale = options.locale.isEmpty() ? OfficeLocaleTag(QLocale::system().name()) : options.locale;
        Send({QStringLiteral("start"), locale, profile->path(), QString::number(options.startTimeoutMs)});
        startPending = true;
    }

    void FinishStart()
    {
        startPending = false;
        const QStringList reply = Receive(QStringLiteral("start"), options.startTimeoutMs + 5000);
        group.NoteOfficeGroup(reply.value(0).toLongLong());
    }

    int Handle(const QStringList& reply)
    {
        bool ok = false;
        const int id = reply.value(0).toInt(&ok);
        if (!ok)
            throw ESpreadsheetError(QStringLiteral("Табличное приложение ответило не по протоколу"));
        return id;
    }

    void EndHelper()
    {
        if (!Running())
            return;
        process.closeWriteChannel();
        QElapsedTimer clock;
        clock.start();
        while (Running() && clock.elapsed() < options.quitTimeoutMs) {
            if (QCoreApplication::instance()) {
                QTimer::singleShot(100, [] {});
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            } else {
                process.waitForFinished(100);
            }
        }
        Kill();
    }
};

OfficeHelperApp::OfficeHelperApp() : OfficeHelperApp(Options{}) {}

OfficeHelperApp::OfficeHelperApp(Options options) : d(std::make_unique<Private>())
{
    d->options = std::move(options);
    QObject::connect(&d->process, &QProcess::readyReadStandardOutput, [p = d.get()] { p->Collect(); });
    // A helper that ends, however (a crash, the OOM killer), takes its
    // office along: the office is ours alone and nobody else would end it.
    QObject::connect(&d->process, &QProcess::finished, [p = d.get()] {
        p->Collect();
        p->group.KillOffice();
    });
    QObject::connect(&d->process, &QProcess::readyReadStandardError, [p = d.get()] {
        p->errorTail += p->process.readAllStandardError();
        if (p->errorTail.size() > 4096)
            p->errorTail = p->errorTail.right(4096);
    });
}

OfficeHelperApp::~OfficeHelperApp()
{
    // Not quit properly (an error on the way): end it now rather than
    // leave an office running without anyone to talk to it.
    if (d->Running()) {
        d->process.terminate();  // the helper kills the office on SIGTERM
        if (!d->process.waitForFinished(2000))
            d->Kill();
    }
    d->Kill();
    // An office profile is some hundred files: removing them is left to a
    // worker thread so the windows do not stall for it.
    if (d->profile) {
        d->profile->setAutoRemove(false);
        QThreadPool::globalInstance()->start([path = d->profile->path()] { QDir(path).removeRecursively(); });
    }
}

QString OfficeHelperApp::OfficeLocaleTag(const QString& qtLocaleName)
{
    if (qtLocaleName.isEmpty() || qtLocaleName == QLatin1String("C"))
        return QStringLiteral("en-US");
    QString tag = qtLocaleName;
    tag.replace(QLatin1Char('_'), QLatin1Char('-'));
    return tag;
}

namespace {

// The office started beforehand, until an OfficeHelperApp takes it over.
std::unique_ptr<OfficeHelperApp>& Standby()
{
    static std::unique_ptr<OfficeHelperApp> standby;
    return standby;
}

bool SameOptions(const OfficeHelperApp::Options& a, const OfficeHelperApp::Options& b)
{
    return a.helperPath == b.helperPath && a.officeProgramDir == b.officeProgramDir && a.locale == b.locale &&
           a.startTimeoutMs == b.startTimeoutMs;
}

}  // namespace

void WarmUpSpreadsheetApp()
{
    if (!Factory())
        SystemSpreadsheetApp::WarmUp();
}

void CoolDownSpreadsheetApp()
{
    SystemSpreadsheetApp::CoolDown();
}

void OfficeHelperApp::WarmUp()
{
    std::unique_ptr<OfficeHelperApp>& standby = Standby();
    if (standby && standby->d->Running())
        return;
    auto app = std::make_unique<OfficeHelperApp>();
    try {
        app->d->Launch();
    } catch (const ESpreadsheetError&) {
        return;  // the protocol's own start will say so, when it comes to it
    }
    standby = std::move(app);
}

void OfficeHelperApp::CoolDown()
{
    Standby().reset();
}

void OfficeHelperApp::Start()
{
    if (d->Running())
        throw ESpreadsheetError(QStringLiteral("Табличное приложение уже запущено"));
    // An office started beforehand with the same options is taken over,
    // started or still starting; one that has died meanwhile is not.
    if (std::unique_ptr<OfficeHelperApp> warm = std::move(Standby())) {
        if (warm->d->Running() && SameOptions(warm->d->options, d->options))
            std::swap(d, warm->d);
    }
    if (!d->startPending)
        d->Launch();
    d->FinishStart();
}

void OfficeHelperApp::SetEnableEvents(bool)
{
    // The office runs no macros for us: there are no events to switch.
}

void OfficeHelperApp::SetVisible(bool visible)
{
    d->visible = visible;
}

void OfficeHelperApp::OpenWorkbook(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    d->Call({QStringLiteral("open"), absolute}, d->options.callTimeoutMs);
    d->workbook = absolute;
    d->saved = false;
}

void OfficeHelperApp::SelectWorksheet(int index)
{
    d->Call({QStringLiteral("sheet"), QString::number(index)}, d->options.callTimeoutMs);
}

SheetCell OfficeHelperApp::Range(const QString& name)
{
    return {d->Handle(d->Call({QStringLiteral("range"), name}, d->options.callTimeoutMs))};
}

SheetCell OfficeHelperApp::Cells(int row, int column)
{
    return {d->Handle(d->Call({QStringLiteral("cell"), QString::number(row), QString::number(column)},
                              d->options.callTimeoutMs))};
}

void OfficeHelperApp::SetValue(SheetCell cell, const QString& text)
{
    d->Call({QStringLiteral("set"), QString::number(cell.id), text}, d->options.callTimeoutMs);
}

void OfficeHelperApp::SetText(SheetCell cell, const QString& text)
{
    d->Call({QStringLiteral("text"), QString::number(cell.id), text}, d->options.callTimeoutMs);
}

void OfficeHelperApp::CopyEntireRow(SheetCell first, SheetCell last)
{
    d->Call({QStringLiteral("copyrows"), QString::number(first.id), QString::number(last.id)}, d->options.callTimeoutMs);
}

void OfficeHelperApp::InsertEntireRow(SheetCell first, SheetCell last)
{
    d->Call({QStringLiteral("insertrows"), QString::number(first.id), QString::number(last.id)},
            d->options.callTimeoutMs);
}

void OfficeHelperApp::Save()
{
    d->Call({QStringLiteral("save")}, d->options.callTimeoutMs);
    d->saved = true;
}

void OfficeHelperApp::WorkbookMoved(const QString& path)
{
    // The office keeps the file it saved open under its old name; only the
    // workbook shown to the user afterwards changes.
    if (d->saved)
        d->workbook = QFileInfo(path).absoluteFilePath();
}

void OfficeHelperApp::CloseWorkbookWithoutSaving()
{
    d->Call({QStringLiteral("close")}, d->options.callTimeoutMs);
    d->workbook.clear();
    d->saved = false;
}

void OfficeHelperApp::Quit()
{
    if (d->quit || !d->Running()) {
        d->Kill();
        return;
    }
    try {
        d->Call({QStringLiteral("quit")}, d->options.quitTimeoutMs);
    } catch (const ESpreadsheetError&) {
        d->quit = true;
        d->Kill();
        throw;
    }
    d->quit = true;
    d->EndHelper();
    d->group.NoteOfficeGroup(0);  // it ended with the helper: nothing left to kill
}

void OfficeHelperApp::Release()
{
    // The office was started without a window for the user: the saved
    // workbook opens in the desktop's own spreadsheet application at once,
    // and the office goes after it (the user need not wait for its end).
    const QString saved = d->saved ? d->workbook : QString();
    const bool shown = !d->visible || saved.isEmpty() || ShowWorkbookToUser(saved);
    try {
        Quit();
    } catch (const ESpreadsheetError&) {
        // The workbook is saved; an office slow to end is no failure of it.
        d->Kill();
    }
    if (!shown)
        ShowMessage(MsgKind::Information, QStringLiteral("Протокол сохранён в файле ") + QDir::toNativeSeparators(saved) +
                                              QStringLiteral(", но открыть его не удалось."));
}
