#pragma once
// The C library's number conversions follow the process locale, and
// QApplication sets that from the environment, so under ru_RU plain snprintf
// would already write a comma. The number texts are made with the "C" locale
// bound to the calling thread only, for the lifetime of a CLocaleScope; the
// user's separator is put in afterwards. One implementation per system
// (c_locale_posix.cpp, c_locale_win32.cpp).

#include <memory>

class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    struct Previous;
    std::unique_ptr<Previous> m_previous;
};
