#pragma once
// Late-bound automation by name (IDispatch::GetIDsOfNames, then Invoke), the
// way a script drives an application: what the OLE spreadsheet backend is
// built from. Windows only. Every failed call throws ESpreadsheetError with
// the member's name and the application's own explanation.

#include "spreadsheet_app.h"

#include <QString>

#include <initializer_list>

#include <oaidl.h>
#include <windows.h>

// An automation value: owns its VARIANT.
class OleValue {
public:
    OleValue() { VariantInit(&m_v); }
    OleValue(const QString& text);  // VT_BSTR
    OleValue(const wchar_t* text) : OleValue(QString::fromWCharArray(text)) {}
    OleValue(double number);         // VT_R8
    OleValue(int number);            // VT_I4
    OleValue(bool flag);             // VT_BOOL
    OleValue(IDispatch* object);     // VT_DISPATCH, AddRef'd
    // VT_ARRAY | VT_VARIANT of the items, in order.
    static OleValue Array(std::initializer_list<const OleValue*> items);
    OleValue(const OleValue& other);
    OleValue(OleValue&& other) noexcept;
    OleValue& operator=(OleValue other) noexcept;
    ~OleValue() { VariantClear(&m_v); }

    const VARIANT& Variant() const { return m_v; }
    VARIANT* Out() { VariantClear(&m_v); return &m_v; }

    // The value as the named type; throws ESpreadsheetError naming what when
    // it is none.
    int ToInt(const char* what) const;
    bool ToBool(const char* what) const;
    IDispatch* Object() const { return m_v.vt == VT_DISPATCH ? m_v.pdispVal : nullptr; }

private:
    VARIANT m_v;
};

// One automation object (an interface pointer it holds a reference to).
class OleObject {
public:
    OleObject() = default;
    explicit OleObject(IDispatch* adopted) : m_p(adopted) {}
    OleObject(const OleObject& other);
    OleObject(OleObject&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    OleObject& operator=(OleObject other) noexcept;
    ~OleObject() { Reset(); }
    void Reset();
    explicit operator bool() const { return m_p != nullptr; }
    IDispatch* Get() const { return m_p; }

    // obj.name(args) as a script reads it: a property or a method.
    OleValue Call(const wchar_t* name, std::initializer_list<OleValue> args = {}) const;
    // The same, for a member that gives an object.
    OleObject Object(const wchar_t* name, std::initializer_list<OleValue> args = {}) const;
    // obj.name := value (DISPATCH_PROPERTYPUT with the DISPID_PROPERTYPUT
    // named argument, which applications require of a put).
    void Put(const wchar_t* name, const OleValue& value) const;

private:
    DISPID Id(const wchar_t* name) const;
    IDispatch* m_p = nullptr;
};

// The error text of a failed call: the member, then the application's own
// description (EXCEPINFO) with its source, else the system's text of hr.
QString OleErrorText(const QString& member, HRESULT hr, const EXCEPINFO* info);
// The system's text for an HRESULT, with its code: "... (0x800401F3)".
QString HResultText(HRESULT hr);
