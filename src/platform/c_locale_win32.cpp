#include "c_locale.h"

#include <clocale>
#include <locale.h>
#include <string>

// The C runtime's locale is made per thread first, so another thread's
// conversions never see this one's change.
struct CLocaleScope::Previous {
    int threadMode = 0;
    std::string numeric;
};

CLocaleScope::CLocaleScope() : m_previous(std::make_unique<Previous>())
{
    m_previous->threadMode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    if (const char* current = std::setlocale(LC_NUMERIC, nullptr))
        m_previous->numeric = current;
    std::setlocale(LC_NUMERIC, "C");
}

CLocaleScope::~CLocaleScope()
{
    if (!m_previous->numeric.empty())
        std::setlocale(LC_NUMERIC, m_previous->numeric.c_str());
    _configthreadlocale(m_previous->threadMode);
}
