#include "c_locale.h"

#include "errors.h"

#include <locale.h>

struct CLocaleScope::Previous {
    locale_t locale = nullptr;
};

namespace {

locale_t CLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

}  // namespace

CLocaleScope::CLocaleScope() : m_previous(std::make_unique<Previous>())
{
    if (!CLocale())
        throw AppError(QStringLiteral("Не удалось выбрать языковые настройки \"C\" для вывода чисел"));
    m_previous->locale = uselocale(CLocale());
}

CLocaleScope::~CLocaleScope() { uselocale(m_previous->locale); }
