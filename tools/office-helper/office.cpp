#include "office.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/CellInsertMode.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeMovement.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/ustring.hxx>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <thread>
#include <unistd.h>
#include <sys/wait.h>
#include <vector>

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;
using rtl::OUStringToOString;

namespace {

OUString U(const std::string& s)
{
    return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

std::string S(const OUString& s)
{
    return OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr();
}

// A file URL from a path, percent-encoding its UTF-8 bytes: the office reads
// it the same whatever the locale's character set.
OUString FileUrl(std::string path)
{
    if (path.empty() || path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            throw OfficeError("cannot resolve the relative path " + path);
        path = std::string(cwd) + "/" + path;
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("/-._~", c)) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return U(url);
}

css::beans::PropertyValue Prop(const char* name, const Any& value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

bool Ended(pid_t pid, int* status = nullptr)
{
    int st = 0;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid && status)
        *status = st;
    return r == pid || (r < 0 && errno == ECHILD);
}

using Clock = std::chrono::steady_clock;

}  // namespace

struct Office::Uno {
    Reference<css::uno::XComponentContext> local;
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::lang::XComponent> document;
    Reference<css::sheet::XSpreadsheet> sheet;
    std::vector<Reference<css::table::XCell>> handles;
    Reference<css::table::XCellRange> copied;
};

Office::Office(std::string programDir) : m_programDir(std::move(programDir)), m_uno(std::make_unique<Uno>()) {}

Office::~Office()
{
    if (m_pid > 0) {
        killpg(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

pid_t Office::Start(const std::string& localeTag, const std::string& profileDir, int timeoutMs,
                    const std::function<void(pid_t)>& started)
{
    if (m_pid > 0)
        throw OfficeError("the office is already running");
    const std::string soffice = m_programDir + "/soffice";
    if (access(soffice.c_str(), X_OK) != 0)
        throw OfficeError("LibreOffice is not installed: " + soffice + " not found", true);

    const std::string pipe = "zrm_office_" + std::to_string(getpid()) + "_" + std::to_string(Clock::now().time_since_epoch().count());
    const std::string accept = "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext";
    const std::string profile = "-env:UserInstallation=" + S(FileUrl(profileDir));
    // The office takes file names in the locale's character set; under the
    // C locale that is ASCII, and protocol paths are Cyrillic.
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);

    // The office waits at this gate until its process group has been told
    // (started), so that whoever ends the office knows it before it runs: a
    // helper killed in between closes the gate's other end, and the child
    // ends without starting anything.
    int gate[2];
    if (pipe2(gate, O_CLOEXEC) != 0)
        throw OfficeError(std::string("pipe: ") + std::strerror(errno));
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(gate[0]);
        close(gate[1]);
        throw OfficeError(std::string("fork: ") + std::strerror(error));
    }
    if (pid == 0) {
        // A group of its own, so that the office and everything it starts
        // can be ended together. Its output must not reach our reply stream.
        setpgid(0, 0);
        close(gate[1]);
        char go = 0;
        ssize_t got;
        while ((got = read(gate[0], &go, 1)) < 0 && errno == EINTR) {
        }
        if (got != 1)
            _exit(126);
        const int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0)
            dup2(devnull, 0);
        dup2(2, 1);
        if (!utf8)
            setenv("LC_ALL", "C.UTF-8", 1);
        execl(soffice.c_str(), "soffice", "--headless", "--invisible", "--nologo", "--nodefault", "--norestore",
              "--nolockcheck", "--nocrashreport", "--nofirststartwizard", profile.c_str(), accept.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    close(gate[0]);
    m_pid = pid;
    if (started)
        started(pid);
    const char go = 1;
    while (write(gate[1], &go, 1) < 0 && errno == EINTR) {
    }
    close(gate[1]);

    try {
        setenv("URE_BOOTSTRAP", ("vnd.sun.star.pathname:" + m_programDir + "/fundamentalrc").c_str(), 1);
        m_uno->local = cppu::defaultBootstrap_InitialComponentContext();
        const Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(m_uno->local);
        const OUString url = U("uno:pipe,name=" + pipe + ";urp;StarOffice.ComponentContext");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            try {
                m_uno->remote.set(resolver->resolve(url), UNO_QUERY_THROW);
                break;
            } catch (const css::connection::NoConnectException&) {
            }
            int status = 0;
            if (Ended(pid, &status)) {
                m_pid = 0;
                const bool couldNotRun = WIFEXITED(status) && WEXITSTATUS(status) == 127;
                throw OfficeError(couldNotRun ? "soffice could not be run" : "soffice ended while starting", couldNotRun);
            }
            if (Clock::now() > deadline)
                throw OfficeError("soffice did not answer within " + std::to_string(timeoutMs / 1000) + " s");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }

        // The office's locale: how it reads the numbers put into cells.
        const Reference<css::lang::XMultiServiceFactory> provider =
            css::configuration::theDefaultProvider::get(m_uno->remote);
        Sequence<Any> args(1);
        args[0] <<= Prop("nodepath", Any(OUString("/org.openoffice.Setup/L10N")));
        const Reference<css::container::XNameReplace> l10n(
            provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationUpdateAccess", args),
            UNO_QUERY_THROW);
        l10n->replaceByName("ooSetupSystemLocale", Any(U(localeTag)));
        Reference<css::util::XChangesBatch>(l10n, UNO_QUERY_THROW)->commitChanges();

        m_uno->desktop = css::frame::Desktop::create(m_uno->remote);
    } catch (const css::uno::Exception& e) {
        throw OfficeError("cannot connect to the office: " + S(e.Message));
    }
    return pid;
}

void Office::Open(const std::string& path)
{
    if (!m_uno->desktop.is())
        throw OfficeError("the office is not started");
    if (m_uno->document.is())
        throw OfficeError("a workbook is already open");
    const OUString url = FileUrl(path);
    Sequence<css::beans::PropertyValue> props(2);
    props[0] = Prop("Hidden", Any(true));
    props[1] = Prop("MacroExecutionMode", Any(sal_Int16(0)));  // never run macros
    // A fresh profile can fail the first load while the office still
    // settles; a second attempt goes through.
    std::string why;
    for (int attempt = 0; attempt < 2 && !m_uno->document.is(); ++attempt) {
        try {
            m_uno->document = m_uno->desktop->loadComponentFromURL(url, "_blank", 0, props);
        } catch (const css::uno::Exception& e) {
            why = S(e.Message);
        }
    }
    if (!m_uno->document.is())
        throw OfficeError("cannot open " + path + (why.empty() ? "" : ": " + why));
    if (!Reference<css::sheet::XSpreadsheetDocument>(m_uno->document, UNO_QUERY).is()) {
        CloseWithoutSaving();
        throw OfficeError(path + " is not a spreadsheet");
    }
}

void Office::SelectSheet(int index)
{
    const Reference<css::sheet::XSpreadsheetDocument> doc(m_uno->document, UNO_QUERY);
    if (!doc.is())
        throw OfficeError("no workbook is open");
    const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    if (index < 1 || index > sheets->getCount())
        throw OfficeError("the workbook has no sheet " + std::to_string(index));
    m_uno->sheet.set(sheets->getByIndex(index - 1), UNO_QUERY_THROW);
    m_uno->handles.clear();
    m_uno->copied.clear();
}

int Office::Range(const std::string& name)
{
    if (!m_uno->sheet.is())
        throw OfficeError("no sheet is selected");
    const Reference<css::table::XCellRange> range = m_uno->sheet->getCellRangeByName(U(name));
    m_uno->handles.push_back(range->getCellByPosition(0, 0));
    return int(m_uno->handles.size());
}

int Office::Cell(int row, int column)
{
    if (!m_uno->sheet.is())
        throw OfficeError("no sheet is selected");
    if (row < 1 || column < 1)
        throw OfficeError("no cell at row " + std::to_string(row) + ", column " + std::to_string(column));
    m_uno->handles.push_back(m_uno->sheet->getCellByPosition(column - 1, row - 1));
    return int(m_uno->handles.size());
}

namespace {

const Reference<css::table::XCell>& Handle(const std::vector<Reference<css::table::XCell>>& handles, int h)
{
    if (h < 1 || h > int(handles.size()))
        throw OfficeError("no cell handle " + std::to_string(h));
    return handles[h - 1];
}

css::table::CellAddress Where(const Reference<css::table::XCell>& cell)
{
    return Reference<css::sheet::XCellAddressable>(cell, UNO_QUERY_THROW)->getCellAddress();
}

}  // namespace

void Office::Set(int handle, const std::string& text)
{
    Reference<css::beans::XPropertySet>(Handle(m_uno->handles, handle), UNO_QUERY_THROW)
        ->setPropertyValue("FormulaLocal", Any(U(text)));
}

void Office::SetText(int handle, const std::string& text)
{
    Reference<css::text::XText>(Handle(m_uno->handles, handle), UNO_QUERY_THROW)->setString(U(text));
}

void Office::CopyRows(int first, int last)
{
    const css::table::CellAddress a = Where(Handle(m_uno->handles, first));
    const css::table::CellAddress b = Where(Handle(m_uno->handles, last));
    const sal_Int32 lastColumn =
        Reference<css::table::XColumnRowRange>(m_uno->sheet, UNO_QUERY_THROW)->getColumns()->getCount() - 1;
    // A range object follows its cells when rows are inserted, as the
    // copied rows do until they are put in.
    m_uno->copied = m_uno->sheet->getCellRangeByPosition(0, std::min(a.Row, b.Row), lastColumn, std::max(a.Row, b.Row));
}

void Office::InsertRows(int first, int last)
{
    if (!m_uno->copied.is())
        throw OfficeError("nothing was copied");
    const css::table::CellAddress a = Where(Handle(m_uno->handles, first));
    const css::table::CellAddress b = Where(Handle(m_uno->handles, last));
    const Reference<css::sheet::XCellRangeAddressable> copiedAt(m_uno->copied, UNO_QUERY_THROW);
    const sal_Int32 rows = copiedAt->getRangeAddress().EndRow - copiedAt->getRangeAddress().StartRow + 1;
    const sal_Int32 top = std::min(a.Row, b.Row);

    css::table::CellRangeAddress target = copiedAt->getRangeAddress();
    target.Sheet = a.Sheet;
    target.StartRow = top;
    target.EndRow = top + rows - 1;
    const Reference<css::sheet::XCellRangeMovement> move(m_uno->sheet, UNO_QUERY_THROW);
    move->insertCells(target, css::sheet::CellInsertMode_ROWS);

    const css::table::CellRangeAddress source = copiedAt->getRangeAddress();  // moved down if it was below
    move->copyRange(css::table::CellAddress(a.Sheet, 0, top), source);

    // Row heights go with the rows, as when a user inserts copied rows.
    const Reference<css::table::XTableRows> allRows =
        Reference<css::table::XColumnRowRange>(m_uno->sheet, UNO_QUERY_THROW)->getRows();
    for (sal_Int32 i = 0; i < rows; ++i) {
        const Reference<css::beans::XPropertySet> from(allRows->getByIndex(source.StartRow + i), UNO_QUERY_THROW);
        const Reference<css::beans::XPropertySet> to(allRows->getByIndex(top + i), UNO_QUERY_THROW);
        to->setPropertyValue("Height", from->getPropertyValue("Height"));
    }
}

void Office::Save()
{
    if (!m_uno->document.is())
        throw OfficeError("no workbook is open");
    Reference<css::frame::XStorable>(m_uno->document, UNO_QUERY_THROW)->store();
}

void Office::CloseWithoutSaving()
{
    m_uno->handles.clear();
    m_uno->copied.clear();
    m_uno->sheet.clear();
    const Reference<css::lang::XComponent> doc = m_uno->document;
    m_uno->document.clear();
    if (!doc.is())
        return;
    const Reference<css::util::XModifiable> modifiable(doc, UNO_QUERY);
    if (modifiable.is())
        modifiable->setModified(false);
    const Reference<css::util::XCloseable> closeable(doc, UNO_QUERY);
    if (closeable.is())
        closeable->close(true);
    else
        doc->dispose();
}

void Office::Quit(int timeoutMs)
{
    m_uno->handles.clear();
    m_uno->copied.clear();
    m_uno->sheet.clear();
    m_uno->document.clear();
    if (m_uno->desktop.is()) {
        try {
            m_uno->desktop->terminate();
        } catch (const css::uno::Exception&) {
            // The bridge goes down with the office: the call may not return.
        }
        m_uno->desktop.clear();
    }
    m_uno->remote.clear();
    if (m_pid <= 0)
        return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Ended(m_pid)) {
        if (Clock::now() > deadline) {
            killpg(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Whatever the office left running in its group goes with it.
    killpg(m_pid, SIGKILL);
    m_pid = 0;
}
