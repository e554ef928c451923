#include "ole_dispatch.h"

#include <vector>

namespace {

QString FromBstr(BSTR s)
{
    return s ? QString::fromWCharArray(s, int(SysStringLen(s))) : QString();
}

}  // namespace

OleValue::OleValue(const QString& text) : OleValue()
{
    m_v.vt = VT_BSTR;
    m_v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()), UINT(text.size()));
}

OleValue::OleValue(double number) : OleValue()
{
    m_v.vt = VT_R8;
    m_v.dblVal = number;
}

OleValue::OleValue(int number) : OleValue()
{
    m_v.vt = VT_I4;
    m_v.lVal = number;
}

OleValue::OleValue(bool flag) : OleValue()
{
    m_v.vt = VT_BOOL;
    m_v.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
}

OleValue::OleValue(IDispatch* object) : OleValue()
{
    m_v.vt = VT_DISPATCH;
    m_v.pdispVal = object;
    if (object)
        object->AddRef();
}

OleValue OleValue::Array(std::initializer_list<const OleValue*> items)
{
    OleValue a;
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, ULONG(items.size()));
    if (!sa)
        throw ESpreadsheetError(QStringLiteral("Нет памяти для массива автоматизации"));
    LONG i = 0;
    for (const OleValue* item : items) {
        SafeArrayPutElement(sa, &i, const_cast<VARIANT*>(&item->m_v));  // copies the value
        ++i;
    }
    a.m_v.vt = VT_ARRAY | VT_VARIANT;
    a.m_v.parray = sa;
    return a;
}

OleValue::OleValue(const OleValue& other) : OleValue()
{
    VariantCopy(&m_v, const_cast<VARIANT*>(&other.m_v));
}

OleValue::OleValue(OleValue&& other) noexcept : m_v(other.m_v)
{
    VariantInit(&other.m_v);
}

OleValue& OleValue::operator=(OleValue other) noexcept
{
    std::swap(m_v, other.m_v);
    return *this;
}

int OleValue::ToInt(const char* what) const
{
    VARIANT c;
    VariantInit(&c);
    if (FAILED(VariantChangeType(&c, const_cast<VARIANT*>(&m_v), 0, VT_I4)))
        throw ESpreadsheetError(QString::fromUtf8(what) + QStringLiteral(": табличное приложение вернуло не число"));
    return int(c.lVal);
}

bool OleValue::ToBool(const char* what) const
{
    VARIANT c;
    VariantInit(&c);
    if (FAILED(VariantChangeType(&c, const_cast<VARIANT*>(&m_v), 0, VT_BOOL)))
        throw ESpreadsheetError(QString::fromUtf8(what) + QStringLiteral(": табличное приложение вернуло не логическое значение"));
    return c.boolVal != VARIANT_FALSE;
}

OleObject::OleObject(const OleObject& other) : m_p(other.m_p)
{
    if (m_p)
        m_p->AddRef();
}

OleObject& OleObject::operator=(OleObject other) noexcept
{
    std::swap(m_p, other.m_p);
    return *this;
}

void OleObject::Reset()
{
    if (m_p)
        m_p->Release();
    m_p = nullptr;
}

DISPID OleObject::Id(const wchar_t* name) const
{
    if (!m_p)
        throw ESpreadsheetError(QString::fromWCharArray(name) + QStringLiteral(": объекта табличного приложения нет"));
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    const HRESULT hr = m_p->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        throw ESpreadsheetError(OleErrorText(QString::fromWCharArray(name), hr, nullptr));
    return id;
}

namespace {

void Invoke(IDispatch* p, DISPID id, const wchar_t* name, WORD flags, std::vector<VARIANT>& reversed,
            DISPID* named, UINT namedCount, VARIANT* result)
{
    DISPPARAMS params{reversed.data(), named, UINT(reversed.size()), namedCount};
    EXCEPINFO info{};
    UINT badArg = 0;
    const HRESULT hr = p->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &badArg);
    if (FAILED(hr)) {
        // A deferred description is filled in on request.
        if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn)
            info.pfnDeferredFillIn(&info);
        const QString text = OleErrorText(QString::fromWCharArray(name), hr, hr == DISP_E_EXCEPTION ? &info : nullptr);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        throw ESpreadsheetError(text);
    }
}

}  // namespace

OleValue OleObject::Call(const wchar_t* name, std::initializer_list<OleValue> args) const
{
    const DISPID id = Id(name);
    // Invoke takes the arguments last first; they stay owned by args.
    std::vector<VARIANT> reversed;
    for (auto it = args.end(); it != args.begin();)
        reversed.push_back((--it)->Variant());
    OleValue result;
    Invoke(m_p, id, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, reversed, nullptr, 0, result.Out());
    return result;
}

OleObject OleObject::Object(const wchar_t* name, std::initializer_list<OleValue> args) const
{
    OleValue v = Call(name, args);
    IDispatch* object = v.Object();
    if (!object)
        throw ESpreadsheetError(QString::fromWCharArray(name) + QStringLiteral(": табличное приложение не вернуло объект"));
    object->AddRef();
    return OleObject(object);
}

void OleObject::Put(const wchar_t* name, const OleValue& value) const
{
    const DISPID id = Id(name);
    std::vector<VARIANT> args{value.Variant()};
    DISPID named = DISPID_PROPERTYPUT;
    Invoke(m_p, id, name, DISPATCH_PROPERTYPUT, args, &named, 1, nullptr);
}

QString HResultText(HRESULT hr)
{
    wchar_t* buf = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    QString text = n ? QString::fromWCharArray(buf, int(n)).trimmed() : QString();
    LocalFree(buf);
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    const QString code = QStringLiteral("0x") + QStringLiteral("%1").arg(quint32(hr), 8, 16, QLatin1Char('0')).toUpper();
    return text.isEmpty() ? code : text + QStringLiteral(" (") + code + QLatin1Char(')');
}

QString OleErrorText(const QString& member, HRESULT hr, const EXCEPINFO* info)
{
    if (info) {
        const QString description = FromBstr(info->bstrDescription).trimmed();
        const QString source = FromBstr(info->bstrSource).trimmed();
        const HRESULT code = info->scode ? info->scode : hr;
        if (!description.isEmpty())
            return member + QStringLiteral(": ") + description + (source.isEmpty() ? QString() : QStringLiteral(" (") + source + QLatin1Char(')'));
        return member + QStringLiteral(": ") + HResultText(code);
    }
    return member + QStringLiteral(": ") + HResultText(hr);
}
