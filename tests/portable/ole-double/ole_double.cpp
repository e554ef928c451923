// A spreadsheet application of our own behind the two automation object
// models the OLE backend drives (src/office/ole_spreadsheet_app_win32.cpp):
// "Excel.Application" (Application, Workbooks, Workbook, Worksheets,
// Worksheet, Range) and LibreOffice's "com.sun.star.ServiceManager" (the
// desktop, a document, its sheets, cells, rows and the structs of its
// bridge). Registered in the test prefix only (scripts/ci-windows.sh), as an
// in-process DLL and as a local server EXE (-Embedding) from this one file.
//
// What it keeps: one sheet of cells per workbook, with row copy and insert
// and cell objects that move with their cells, as the real ones do. A value
// put as text is read as Excel reads a typed entry ("=..." a formula, a
// number a number) unless the cell's number format is "@". A workbook holds
// its file open without write or delete sharing, as Excel does, and a second
// workbook of the same file name is refused.
//
// Driven through a folder (ZRM_OLE_DOUBLE_DIR, else the value "Dir" of
// HKCU\Software\zrm-ole-double): every call is appended to calls.log
// ("Workbooks.Open(\"Z:\\...\")", "Range.Value=3.5", ...); a line of the file
// "fail" naming a call ("Workbooks.Open") makes that call fail with an
// automation exception; the file "delay" holds milliseconds each call takes.
// A save writes the workbook's cells to saved.cells, one "A1<TAB>n|s|f<TAB>
// value" line per cell, sorted by row and column.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// {6F1D2A40-5B7C-4E21-9C3A-1D2E3F405001} and ...5002.
const CLSID kExcelDouble = {0x6f1d2a40, 0x5b7c, 0x4e21, {0x9c, 0x3a, 0x1d, 0x2e, 0x3f, 0x40, 0x50, 0x01}};
const CLSID kUnoDouble = {0x6f1d2a40, 0x5b7c, 0x4e21, {0x9c, 0x3a, 0x1d, 0x2e, 0x3f, 0x40, 0x50, 0x02}};

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
void (*g_lastGone)() = nullptr;  // the local server ends with its last object

// --- the control folder -------------------------------------------------------

std::wstring ControlDir()
{
    wchar_t buf[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ZRM_OLE_DOUBLE_DIR", buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        return buf;
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\zrm-ole-double", L"Dir", RRF_RT_REG_SZ, nullptr, buf, &size) ==
        ERROR_SUCCESS)
        return buf;
    return L".";
}

std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string ReadControl(const wchar_t* name)
{
    const std::wstring path = ControlDir() + L"\\" + name;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return {};
    std::string text;
    char buf[512];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

std::mutex g_logLock;

void Log(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_logLock);
    const std::wstring path = ControlDir() + L"\\calls.log";
    if (FILE* f = _wfopen(path.c_str(), L"ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

bool ShouldFail(const std::string& call)
{
    const std::string fail = ReadControl(L"fail");
    std::size_t at = 0;
    while (at < fail.size()) {
        std::size_t end = fail.find('\n', at);
        if (end == std::string::npos)
            end = fail.size();
        std::string line = fail.substr(at, end - at);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line == call)
            return true;
        at = end + 1;
    }
    return false;
}

void Delay()
{
    const int ms = std::atoi(ReadControl(L"delay").c_str());
    if (ms > 0)
        Sleep(DWORD(ms));
}

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        c = wchar_t(std::towlower(c));
    return s;
}

// --- cells --------------------------------------------------------------------

struct Cell {
    char type = 's';  // n number, s text, f formula
    std::wstring text;
    double number = 0;
};

struct Tracked;

struct Sheet {
    std::map<std::pair<int, int>, Cell> cells;             // (row, column), 1-based
    std::map<std::pair<int, int>, std::wstring> formats;   // NumberFormat
    std::set<Tracked*> tracked;                            // objects that move with their cells
    int copiedFirst = 0, copiedLast = 0;                   // rows on the clipboard, 0: none

    // Rows from row on move down by count, with their objects.
    void InsertRows(int row, int count);
    // Row from's cells and formats over row to.
    void CopyRow(int from, int to)
    {
        for (auto* m : {&cells}) {
            for (auto it = m->lower_bound({to, 0}); it != m->end() && it->first.first == to;)
                it = m->erase(it);
            std::vector<std::pair<std::pair<int, int>, Cell>> row;
            for (auto it = m->lower_bound({from, 0}); it != m->end() && it->first.first == from; ++it)
                row.push_back({{to, it->first.second}, it->second});
            m->insert(row.begin(), row.end());
        }
        for (auto it = formats.lower_bound({to, 0}); it != formats.end() && it->first.first == to;)
            it = formats.erase(it);
        std::vector<std::pair<std::pair<int, int>, std::wstring>> row;
        for (auto it = formats.lower_bound({from, 0}); it != formats.end() && it->first.first == from; ++it)
            row.push_back({{to, it->first.second}, it->second});
        formats.insert(row.begin(), row.end());
    }
};

// A range or cell object: rows first..last, columns left..right (1-based);
// an entire row has columns 1..16384.
struct Tracked {
    Sheet* sheet = nullptr;
    int top = 1, bottom = 1, left = 1, right = 1;
};

void Sheet::InsertRows(int row, int count)
{
    auto shift = [&](auto& m) {
        std::vector<std::pair<typename std::decay_t<decltype(m)>::key_type, typename std::decay_t<decltype(m)>::mapped_type>> moved;
        for (auto it = m.lower_bound({row, 0}); it != m.end();) {
            moved.push_back({{it->first.first + count, it->first.second}, it->second});
            it = m.erase(it);
        }
        m.insert(moved.begin(), moved.end());
    };
    shift(cells);
    shift(formats);
    for (Tracked* t : tracked) {
        if (t->top >= row) {
            t->top += count;
            t->bottom += count;
        }
    }
    if (copiedFirst >= row) {
        copiedFirst += count;
        copiedLast += count;
    }
}

std::wstring ColumnName(int column)
{
    std::wstring name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), wchar_t(L'A' + (column - 1) % 26));
    return name;
}

// "B17" -> (17, 2); false for anything else.
bool ParseCellName(const std::wstring& name, int& row, int& column)
{
    std::size_t i = 0;
    column = 0;
    while (i < name.size() && std::iswalpha(name[i]))
        column = column * 26 + (std::towupper(name[i++]) - L'A' + 1);
    row = 0;
    const std::size_t digits = i;
    while (i < name.size() && std::iswdigit(name[i]))
        row = row * 10 + (name[i++] - L'0');
    return column > 0 && i > digits && i == name.size() && row > 0;
}

// A typed entry as Excel reads it when its format is not text.
Cell Typed(const std::wstring& text)
{
    Cell c;
    c.text = text;
    if (!text.empty() && text[0] == L'=') {
        c.type = 'f';
        return c;
    }
    wchar_t* end = nullptr;
    const double v = std::wcstod(text.c_str(), &end);
    if (!text.empty() && !std::iswspace(text[0]) && end && *end == 0) {
        c.type = 'n';
        c.number = v;
    }
    return c;
}

void DumpCells(const Sheet& sheet)
{
    const std::wstring path = ControlDir() + L"\\saved.cells";
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return;
    for (const auto& [at, cell] : sheet.cells) {
        const std::string name = Utf8(ColumnName(at.second)) + std::to_string(at.first);
        if (cell.type == 'n')
            std::fprintf(f, "%s\tn\t%.15g\n", name.c_str(), cell.number);
        else
            std::fprintf(f, "%s\t%c\t%s\n", name.c_str(), cell.type, Utf8(cell.text).c_str());
    }
    std::fclose(f);
}

// --- one workbook, one application --------------------------------------------

struct Book {
    std::wstring path;
    HANDLE lock = INVALID_HANDLE_VALUE;
    Sheet sheet;
    bool open = true;
    void Close()
    {
        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        lock = INVALID_HANDLE_VALUE;
        open = false;
    }
    ~Book() { Close(); }
};

struct App {
    bool excel = true;
    bool visible = false;
    bool quit = false;
    std::vector<std::shared_ptr<Book>> books;
    std::size_t OpenCount() const
    {
        return std::size_t(std::count_if(books.begin(), books.end(), [](const auto& b) { return b->open; }));
    }
};

std::wstring FileName(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return Lower(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

// --- names --------------------------------------------------------------------

// Names are matched regardless of case, as the applications match them; the
// log shows each as the client first spelled it.
std::mutex g_namesLock;
std::vector<std::wstring> g_names;     // DISPID n is g_names[n - 1], lower case
std::vector<std::wstring> g_spelling;  // ... as first asked for

DISPID NameId(const std::wstring& name)
{
    std::lock_guard<std::mutex> lock(g_namesLock);
    const std::wstring low = Lower(name);
    const auto it = std::find(g_names.begin(), g_names.end(), low);
    if (it != g_names.end())
        return DISPID(it - g_names.begin() + 1);
    g_names.push_back(low);
    g_spelling.push_back(name);
    return DISPID(g_names.size());
}

std::wstring IdName(DISPID id, bool spelled = false)
{
    std::lock_guard<std::mutex> lock(g_namesLock);
    if (id < 1 || std::size_t(id) > g_names.size())
        return {};
    return (spelled ? g_spelling : g_names)[std::size_t(id - 1)];
}

// --- the objects --------------------------------------------------------------

enum class Kind {
    Application, Workbooks, Workbook, Worksheets, Worksheet, Range,                          // Excel
    ServiceManager, Desktop, Document, Sheets, Spreadsheet, UnoCell, Components, Enumeration,  // UNO
    Columns, Rows, Row, Struct,
};

const char* KindName(Kind k)
{
    static const char* const names[] = {"Application", "Workbooks", "Workbook",  "Worksheets", "Worksheet",
                                        "Range",       "ServiceManager", "Desktop", "Document", "Sheets",
                                        "Spreadsheet", "Cell",      "Components", "Enumeration", "Columns",
                                        "Rows",        "Row",       "Struct"};
    return names[int(k)];
}

struct Failure {
    std::string text;
};

class Obj;

// An argument list in call order (DISPPARAMS keeps it reversed).
struct Args {
    std::vector<VARIANT*> v;
    std::size_t size() const { return v.size(); }
    VARIANT& operator[](std::size_t i) const
    {
        if (i >= v.size())
            throw Failure{"argument " + std::to_string(i + 1) + " missing"};
        VARIANT* a = v[i];
        return a->vt == (VT_VARIANT | VT_BYREF) ? *a->pvarVal : *a;
    }
    int Int(std::size_t i) const
    {
        VARIANT c;
        VariantInit(&c);
        if (FAILED(VariantChangeType(&c, &(*this)[i], 0, VT_I4)))
            throw Failure{"argument " + std::to_string(i + 1) + " is no integer"};
        return c.lVal;
    }
    std::wstring Text(std::size_t i) const
    {
        const VARIANT& a = (*this)[i];
        if (a.vt != VT_BSTR)
            throw Failure{"argument " + std::to_string(i + 1) + " is no text"};
        return a.bstrVal ? std::wstring(a.bstrVal, SysStringLen(a.bstrVal)) : std::wstring();
    }
    Obj* Object(std::size_t i) const;
};

std::string Show(const VARIANT& a)
{
    switch (a.vt) {
    case VT_BSTR:
        return "\"" + Utf8(a.bstrVal ? std::wstring(a.bstrVal, SysStringLen(a.bstrVal)) : std::wstring()) + "\"";
    case VT_R8: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", a.dblVal);
        return buf;
    }
    case VT_I4:
        return std::to_string(a.lVal) + "i";
    case VT_I2:
        return std::to_string(a.iVal) + "i";
    case VT_BOOL:
        return a.boolVal ? "True" : "False";
    case VT_DISPATCH:
        return "<object>";
    case VT_ERROR:
        return "<missing>";
    case VT_EMPTY:
        return "<empty>";
    default:
        if (a.vt & VT_ARRAY)
            return "<array>";
        return "<vt " + std::to_string(a.vt) + ">";
    }
}

class Obj : public IDispatch {
public:
    Obj(Kind kind, std::shared_ptr<App> app) : m_kind(kind), m_app(std::move(app)) { ++g_objects; }
    virtual ~Obj()
    {
        if (m_tracked.sheet)
            m_tracked.sheet->tracked.erase(&m_tracked);
        if (m_kind == Kind::Application || m_kind == Kind::ServiceManager)
            Log(std::string(KindName(m_kind)) + ".released visible=" + (m_app->visible ? "1" : "0") +
                " quit=" + (m_app->quit ? "1" : "0") + " workbooks=" + std::to_string(m_app->OpenCount()));
        if (--g_objects == 0) {
            Log("all objects released");
            if (g_locks == 0 && g_lastGone)
                g_lastGone();
        }
    }

    Kind m_kind;
    std::shared_ptr<App> m_app;
    std::shared_ptr<Book> m_book;
    Tracked m_tracked;
    bool m_entireRow = false;
    std::map<std::wstring, VARIANT> m_fields;  // a struct's members

    void Track(Sheet& sheet, int top, int bottom, int left, int right)
    {
        m_tracked = {&sheet, top, bottom, left, right};
        sheet.tracked.insert(&m_tracked);
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long left = --m_refs;
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        for (UINT i = 0; i < count; ++i)
            ids[i] = i == 0 ? NameId(names[i]) : DISPID_UNKNOWN;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT*) override
    {
        const std::wstring name = IdName(id);
        Args args;
        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        // A put must carry its value as the named DISPID_PROPERTYPUT argument.
        if (put && (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
            Log(std::string(KindName(m_kind)) + "." + Utf8(IdName(id, true)) + " put without DISPID_PROPERTYPUT");
            return DISP_E_PARAMNOTOPTIONAL;
        }
        for (UINT i = params->cArgs; i-- > 0;)
            args.v.push_back(&params->rgvarg[i]);
        const std::string call = std::string(KindName(m_kind)) + "." + Utf8(IdName(id, true));
        std::string line = call;
        if (put) {
            line += "=" + Show(args[0]);
        } else {
            line += "(";
            for (std::size_t i = 0; i < args.size(); ++i)
                line += (i ? ", " : "") + Show(args[i]);
            line += ")";
        }
        Log(line);
        Delay();
        if (result)
            VariantInit(result);
        try {
            if (ShouldFail(Canonical(call)))
                throw Failure{"Отказ по запросу: " + Canonical(call)};
            if (!Call(name, put, args, result))
                return DISP_E_MEMBERNOTFOUND;
            return S_OK;
        } catch (const Failure& f) {
            Log("  failed: " + f.text);
            if (excep) {
                *excep = EXCEPINFO{};
                excep->wCode = 1004;
                excep->bstrSource = SysAllocString(m_app->excel ? L"Microsoft Excel" : L"LibreOffice");
                const int n = MultiByteToWideChar(CP_UTF8, 0, f.text.data(), int(f.text.size()), nullptr, 0);
                std::wstring w(std::size_t(n), L'\0');
                MultiByteToWideChar(CP_UTF8, 0, f.text.data(), int(f.text.size()), w.data(), n);
                excep->bstrDescription = SysAllocString(w.c_str());
                excep->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
    }

private:
    std::atomic<long> m_refs{1};

    // "Workbooks.open" -> "Workbooks.Open": the form the fail file names.
    static std::string Canonical(std::string call)
    {
        const std::size_t dot = call.find('.');
        if (dot + 1 < call.size())
            call[dot + 1] = char(std::toupper(static_cast<unsigned char>(call[dot + 1])));
        return call;
    }

    static void Return(VARIANT* result, IDispatch* object)
    {
        if (result) {
            result->vt = VT_DISPATCH;
            result->pdispVal = object;
        } else {
            object->Release();
        }
    }
    static void Return(VARIANT* result, double v)
    {
        if (result) {
            result->vt = VT_R8;
            result->dblVal = v;
        }
    }
    static void ReturnInt(VARIANT* result, int v)
    {
        if (result) {
            result->vt = VT_I4;
            result->lVal = v;
        }
    }
    static void ReturnBool(VARIANT* result, bool v)
    {
        if (result) {
            result->vt = VT_BOOL;
            result->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
        }
    }
    static void Return(VARIANT* result, const std::wstring& v)
    {
        if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocStringLen(v.data(), UINT(v.size()));
        }
    }

    Obj* Make(Kind kind) const { return new Obj(kind, m_app); }
    Obj* MakeOnBook(Kind kind) const
    {
        Obj* o = Make(kind);
        o->m_book = m_book;
        return o;
    }
    Sheet& TheSheet() const
    {
        if (!m_book || !m_book->open)
            throw Failure{"the workbook is closed"};
        return m_book->sheet;
    }
    Obj* RangeObj(Kind kind, int top, int bottom, int left, int right) const
    {
        if (top < 1 || left < 1 || bottom < top || right < left)
            throw Failure{"no such range"};
        Obj* o = MakeOnBook(kind);
        o->Track(TheSheet(), top, bottom, left, right);
        return o;
    }

    std::shared_ptr<Book> OpenBook(const std::wstring& path)
    {
        for (const auto& b : m_app->books)
            if (b->open && FileName(b->path) == FileName(path))
                throw Failure{"Книга с именем " + Utf8(FileName(path)) + " уже открыта"};
        auto book = std::make_shared<Book>();
        book->path = path;
        // Open, the file can be read but not replaced, renamed or deleted.
        book->lock = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (book->lock == INVALID_HANDLE_VALUE)
            throw Failure{"Не удалось открыть " + Utf8(path) + " (ошибка " + std::to_string(GetLastError()) + ")"};
        m_app->books.push_back(book);
        return book;
    }

    void SaveBook()
    {
        if (!m_book || !m_book->open)
            throw Failure{"the workbook is closed"};
        DumpCells(m_book->sheet);
    }

    bool Call(const std::wstring& name, bool put, const Args& args, VARIANT* result);
    bool CallExcel(const std::wstring& name, bool put, const Args& args, VARIANT* result);
    bool CallUno(const std::wstring& name, bool put, const Args& args, VARIANT* result);
};

Obj* Args::Object(std::size_t i) const
{
    const VARIANT& a = (*this)[i];
    if (a.vt != VT_DISPATCH || !a.pdispVal)
        throw Failure{"argument " + std::to_string(i + 1) + " is no object"};
    // Objects come back from the same process: in the local server a proxy
    // is unwrapped to ours by COM itself, so this is the object we made.
    return static_cast<Obj*>(a.pdispVal);
}

bool Obj::Call(const std::wstring& name, bool put, const Args& args, VARIANT* result)
{
    return m_app->excel ? CallExcel(name, put, args, result) : CallUno(name, put, args, result);
}

bool Obj::CallExcel(const std::wstring& name, bool put, const Args& args, VARIANT* result)
{
    switch (m_kind) {
    case Kind::Application:
        if (name == L"visible" && put) {
            VARIANT b;
            VariantInit(&b);
            VariantChangeType(&b, &args[0], 0, VT_BOOL);
            m_app->visible = b.boolVal != VARIANT_FALSE;
            return true;
        }
        if (name == L"visible") {
            ReturnBool(result, m_app->visible);
            return true;
        }
        if ((name == L"enableevents" || name == L"usercontrol" || name == L"displayalerts") && put)
            return true;
        if (name == L"workbooks") {
            Return(result, Make(Kind::Workbooks));
            return true;
        }
        if (name == L"quit") {
            m_app->quit = true;
            return true;
        }
        return false;
    case Kind::Workbooks:
        if (name == L"open") {
            Obj* book = Make(Kind::Workbook);
            try {
                book->m_book = OpenBook(args.Text(0));
            } catch (...) {
                book->Release();
                throw;
            }
            Return(result, book);
            return true;
        }
        if (name == L"count") {
            ReturnInt(result, int(m_app->OpenCount()));
            return true;
        }
        return false;
    case Kind::Workbook:
        if (name == L"worksheets") {
            Return(result, MakeOnBook(Kind::Worksheets));
            return true;
        }
        if (name == L"save") {
            SaveBook();
            return true;
        }
        if (name == L"close") {
            m_book->Close();
            return true;
        }
        if (name == L"fullname") {
            Return(result, m_book->path);
            return true;
        }
        return false;
    case Kind::Worksheets:
        if (name == L"item") {
            if (args.Int(0) != 1)
                throw Failure{"no worksheet " + std::to_string(args.Int(0))};
            Return(result, MakeOnBook(Kind::Worksheet));
            return true;
        }
        return false;
    case Kind::Worksheet:
        if (name == L"range") {
            if (args.size() == 2) {
                const Tracked& a = args.Object(0)->m_tracked;
                const Tracked& b = args.Object(1)->m_tracked;
                Return(result, RangeObj(Kind::Range, std::min(a.top, b.top), std::max(a.bottom, b.bottom),
                                        std::min(a.left, b.left), std::max(a.right, b.right)));
                return true;
            }
            int row = 0, column = 0;
            if (!ParseCellName(args.Text(0), row, column))
                throw Failure{"no cell " + Utf8(args.Text(0))};
            Return(result, RangeObj(Kind::Range, row, row, column, column));
            return true;
        }
        if (name == L"cells") {
            Return(result, RangeObj(Kind::Range, 1, 1048576, 1, 16384));
            return true;
        }
        return false;
    case Kind::Range: {
        Sheet& sheet = TheSheet();
        const Tracked& t = m_tracked;
        if (name == L"item") {
            const int row = t.top + args.Int(0) - 1, column = t.left + args.Int(1) - 1;
            Return(result, RangeObj(Kind::Range, row, row, column, column));
            return true;
        }
        if (name == L"value" && put) {
            VARIANT& v = args[0];
            const auto at = std::make_pair(t.top, t.left);
            const auto format = sheet.formats.find(at);
            const bool textFormat = format != sheet.formats.end() && format->second == L"@";
            Cell cell;
            if (v.vt == VT_BSTR) {
                const std::wstring text = v.bstrVal ? v.bstrVal : L"";
                cell = textFormat ? Cell{'s', text, 0} : Typed(text);
            } else if (v.vt == VT_R8 || v.vt == VT_I4 || v.vt == VT_I2) {
                VARIANT d;
                VariantInit(&d);
                VariantChangeType(&d, &v, 0, VT_R8);
                cell = Cell{'n', L"", d.dblVal};
            } else {
                throw Failure{"a value of type " + std::to_string(v.vt)};
            }
            sheet.cells[at] = cell;
            return true;
        }
        if (name == L"numberformat" && put) {
            sheet.formats[{t.top, t.left}] = args.Text(0);
            return true;
        }
        if (name == L"value") {
            const auto it = sheet.cells.find({t.top, t.left});
            if (it == sheet.cells.end())
                return true;
            if (it->second.type == 'n')
                Return(result, it->second.number);
            else
                Return(result, it->second.text);
            return true;
        }
        if (name == L"entirerow") {
            Obj* row = RangeObj(Kind::Range, t.top, t.bottom, 1, 16384);
            row->m_entireRow = true;
            Return(result, row);
            return true;
        }
        if (name == L"copy" && m_entireRow) {
            sheet.copiedFirst = t.top;
            sheet.copiedLast = t.bottom;
            return true;
        }
        if (name == L"insert" && m_entireRow) {
            if (sheet.copiedFirst == 0)
                throw Failure{"nothing was copied"};
            const int count = sheet.copiedLast - sheet.copiedFirst + 1;
            const int top = t.top;
            sheet.InsertRows(top, count);
            for (int i = 0; i < count; ++i)
                sheet.CopyRow(sheet.copiedFirst + i, top + i);
            sheet.copiedFirst = sheet.copiedLast = 0;  // Excel ends the copy mode
            return true;
        }
        if (name == L"row") {
            ReturnInt(result, t.top);
            return true;
        }
        if (name == L"column") {
            ReturnInt(result, t.left);
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

// A file URL to a path: "file:///Z:/a%20b" -> "Z:\a b".
std::wstring UrlPath(const std::wstring& url)
{
    const std::wstring head = L"file:///";
    if (url.compare(0, head.size(), head) != 0)
        throw Failure{"no file URL: " + Utf8(url)};
    std::string bytes;
    for (std::size_t i = head.size(); i < url.size(); ++i) {
        if (url[i] == L'%' && i + 2 < url.size()) {
            bytes += char(std::stoi(Utf8(url.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else if (url[i] < 128) {
            bytes += url[i] == L'/' ? '\\' : char(url[i]);
        } else {
            throw Failure{"a URL character not encoded: " + Utf8(url)};
        }
    }
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0)
        throw Failure{"a URL not in UTF-8: " + Utf8(url)};
    std::wstring path(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), path.data(), n);
    return path;
}

bool Obj::CallUno(const std::wstring& name, bool put, const Args& args, VARIANT* result)
{
    switch (m_kind) {
    case Kind::ServiceManager:
        if (name == L"createinstance") {
            if (args.Text(0) != L"com.sun.star.frame.Desktop")
                throw Failure{"no service " + Utf8(args.Text(0))};
            Return(result, Make(Kind::Desktop));
            return true;
        }
        if (name == L"bridge_getstruct") {
            Return(result, Make(Kind::Struct));
            return true;
        }
        return false;
    case Kind::Desktop:
        if (name == L"loadcomponentfromurl") {
            if (args.size() != 4 || !((args[3].vt & VT_ARRAY) && (args[3].vt & VT_TYPEMASK) == VT_VARIANT))
                throw Failure{"loadComponentFromURL takes (url, frame, flags, properties array)"};
            const std::wstring path = UrlPath(args.Text(0));
            // Hidden := true is read from the properties, as the office does.
            SAFEARRAY* sa = args[3].parray;
            LONG lo = 0, hi = -1;
            SafeArrayGetLBound(sa, 1, &lo);
            SafeArrayGetUBound(sa, 1, &hi);
            bool hidden = false;
            for (LONG i = lo; i <= hi; ++i) {
                VARIANT p;
                VariantInit(&p);
                SafeArrayGetElement(sa, &i, &p);
                if (p.vt == VT_DISPATCH && p.pdispVal) {
                    Obj* s = static_cast<Obj*>(p.pdispVal);
                    const auto n = s->m_fields.find(L"name");
                    const auto v = s->m_fields.find(L"value");
                    if (n != s->m_fields.end() && v != s->m_fields.end() && n->second.vt == VT_BSTR &&
                        std::wstring(n->second.bstrVal) == L"Hidden" && v->second.vt == VT_BOOL)
                        hidden = v->second.boolVal != VARIANT_FALSE;
                }
                VariantClear(&p);
            }
            Obj* doc = Make(Kind::Document);
            try {
                doc->m_book = OpenBook(path);
            } catch (...) {
                doc->Release();
                throw;
            }
            if (!hidden)
                m_app->visible = true;
            Return(result, doc);
            return true;
        }
        if (name == L"getcomponents") {
            Return(result, Make(Kind::Components));
            return true;
        }
        if (name == L"terminate") {
            m_app->quit = true;
            ReturnBool(result, true);
            return true;
        }
        return false;
    case Kind::Components:
        if (name == L"createenumeration") {
            Return(result, Make(Kind::Enumeration));
            return true;
        }
        return false;
    case Kind::Enumeration:
        if (name == L"hasmoreelements") {
            ReturnBool(result, m_app->OpenCount() > 0);
            return true;
        }
        return false;
    case Kind::Document:
        if (name == L"getsheets") {
            Return(result, MakeOnBook(Kind::Sheets));
            return true;
        }
        if (name == L"store") {
            SaveBook();
            return true;
        }
        if (name == L"close") {
            m_book->Close();
            return true;
        }
        return false;
    case Kind::Sheets:
        if (name == L"getbyindex") {
            if (args.Int(0) != 0)
                throw Failure{"IndexOutOfBoundsException"};
            Return(result, MakeOnBook(Kind::Spreadsheet));
            return true;
        }
        return false;
    case Kind::Spreadsheet:
        if (name == L"getcellrangebyname") {
            int row = 0, column = 0;
            if (!ParseCellName(args.Text(0), row, column))
                throw Failure{"no cell " + Utf8(args.Text(0))};
            Return(result, RangeObj(Kind::UnoCell, row, row, column, column));
            return true;
        }
        if (name == L"getcellbyposition") {
            const int column = args.Int(0) + 1, row = args.Int(1) + 1;  // 0-based
            Return(result, RangeObj(Kind::UnoCell, row, row, column, column));
            return true;
        }
        if (name == L"getcellrangebyposition") {
            Return(result, RangeObj(Kind::UnoCell, args.Int(1) + 1, args.Int(3) + 1, args.Int(0) + 1, args.Int(2) + 1));
            return true;
        }
        if (name == L"getcolumns") {
            Return(result, MakeOnBook(Kind::Columns));
            return true;
        }
        if (name == L"getrows") {
            Return(result, MakeOnBook(Kind::Rows));
            return true;
        }
        if (name == L"copyrange") {
            // (CellAddress destination, CellRangeAddress source), 0-based.
            const auto& to = args.Object(0)->m_fields;
            const auto& from = args.Object(1)->m_fields;
            auto field = [](const std::map<std::wstring, VARIANT>& f, const wchar_t* n) {
                const auto it = f.find(n);
                if (it == f.end() || it->second.vt != VT_I4)
                    throw Failure{"a struct without " + Utf8(n)};
                return int(it->second.lVal);
            };
            const int first = field(from, L"startrow") + 1, last = field(from, L"endrow") + 1;
            const int top = field(to, L"row") + 1;
            if (field(to, L"column") != 0 || field(from, L"startcolumn") != 0)
                throw Failure{"only whole rows are copied here"};
            Sheet& sheet = TheSheet();
            for (int i = 0; i <= last - first; ++i)
                sheet.CopyRow(first + i, top + i);
            return true;
        }
        return false;
    case Kind::UnoCell: {
        Sheet& sheet = TheSheet();
        const Tracked& t = m_tracked;
        const auto at = std::make_pair(t.top, t.left);
        if (name == L"setstring") {
            sheet.cells[at] = Cell{'s', args.Text(0), 0};
            return true;
        }
        if (name == L"setvalue") {
            if (args[0].vt != VT_R8)
                throw Failure{"setValue takes a double"};
            sheet.cells[at] = Cell{'n', L"", args[0].dblVal};
            return true;
        }
        if (name == L"formulalocal" && put) {
            sheet.cells[at] = Typed(args.Text(0));
            return true;
        }
        if (name == L"getcellbyposition") {
            const int row = t.top + args.Int(1), column = t.left + args.Int(0);
            Return(result, RangeObj(Kind::UnoCell, row, row, column, column));
            return true;
        }
        if (name == L"getcelladdress" || name == L"getrangeaddress") {
            Obj* s = Make(Kind::Struct);
            auto set = [s](const wchar_t* n, int v) {
                VARIANT x;
                VariantInit(&x);
                x.vt = VT_I4;
                x.lVal = v;
                s->m_fields[n] = x;
            };
            set(L"sheet", 0);
            if (name == L"getcelladdress") {
                set(L"column", t.left - 1);
                set(L"row", t.top - 1);
            } else {
                set(L"startcolumn", t.left - 1);
                set(L"startrow", t.top - 1);
                set(L"endcolumn", t.right - 1);
                set(L"endrow", t.bottom - 1);
            }
            Return(result, s);
            return true;
        }
        return false;
    }
    case Kind::Columns:
        if (name == L"getcount") {
            ReturnInt(result, 16384);
            return true;
        }
        return false;
    case Kind::Rows:
        if (name == L"insertbyindex") {
            TheSheet().InsertRows(args.Int(0) + 1, args.Int(1));
            return true;
        }
        if (name == L"getbyindex") {
            Return(result, RangeObj(Kind::Row, args.Int(0) + 1, args.Int(0) + 1, 1, 16384));
            return true;
        }
        return false;
    case Kind::Row:
        if (name == L"height") {
            if (!put)
                ReturnInt(result, 452);
            return true;
        }
        return false;
    case Kind::Struct: {
        if (put) {
            VARIANT& slot = m_fields[name];
            VariantClear(&slot);
            VariantCopy(&slot, &args[0]);
            return true;
        }
        const auto it = m_fields.find(name);
        if (it == m_fields.end())
            return false;
        if (result)
            VariantCopy(result, &it->second);
        return true;
    }
    default:
        return false;
    }
}

// --- the class objects ----------------------------------------------------------

class Factory : public IClassFactory {
public:
    explicit Factory(bool excel) : m_excel(excel) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto app = std::make_shared<App>();
        app->excel = m_excel;
        Log(std::string("created ") + (m_excel ? "Excel.Application" : "com.sun.star.ServiceManager") +
            " in process " + std::to_string(GetCurrentProcessId()));
        if (ShouldFail("CreateInstance"))
            return CO_E_SERVER_EXEC_FAILURE;
        Obj* o = new Obj(m_excel ? Kind::Application : Kind::ServiceManager, app);
        const HRESULT hr = o->QueryInterface(riid, out);
        o->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            ++g_locks;
        else if (--g_locks == 0 && g_objects == 0 && g_lastGone)
            g_lastGone();
        return S_OK;
    }

private:
    bool m_excel;
};

Factory g_excelFactory(true);
Factory g_unoFactory(false);

}  // namespace

#ifdef ZRM_OLE_DOUBLE_EXE

namespace {
DWORD g_mainThread = 0;
void EndServer() { PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0); }
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    g_mainThread = GetCurrentThreadId();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    // One application per process, as Excel starts one per CreateObject.
    DWORD cookies[2] = {};
    CoRegisterClassObject(kExcelDouble, &g_excelFactory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookies[0]);
    CoRegisterClassObject(kUnoDouble, &g_unoFactory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookies[1]);
    g_lastGone = EndServer;
    Log("server " + std::to_string(GetCurrentProcessId()) + " started");
    MSG msg;
    // Nobody came within a minute: a server started for nothing ends.
    const UINT_PTR idle = SetTimer(nullptr, 0, 60000, nullptr);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.wParam == idle) {
            KillTimer(nullptr, idle);
            if (g_objects == 0)
                break;
            continue;
        }
        DispatchMessageW(&msg);
    }
    CoRevokeClassObject(cookies[0]);
    CoRevokeClassObject(cookies[1]);
    Log("server " + std::to_string(GetCurrentProcessId()) + " ended");
    CoUninitialize();
    return 0;
}

#else

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out)
{
    if (clsid == kExcelDouble)
        return g_excelFactory.QueryInterface(riid, out);
    if (clsid == kUnoDouble)
        return g_unoFactory.QueryInterface(riid, out);
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

#endif
