#include "handler.h"

#include "errors.h"
#include "messages.h"

QString StandardErrorText(const std::exception& e)
{
    QString text;
    if (const auto* app = dynamic_cast<const AppError*>(&e))
        text = app->text();
    else
        text = QString::fromUtf8(e.what());
    // A full stop is added when the last character's code is above '.', so
    // the box reads as a sentence: "...value" gains one while "...!", "...)"
    // and "...." do not.
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += QLatin1Char('.');
    return text;
}

void ShowStandardError(const std::exception& e)
{
    ShowMessage(MsgKind::Error, StandardErrorText(e), mbOK);
}

bool RunHandler(const std::function<void()>& body)
{
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        ShowStandardError(e);
    } catch (...) {
        ShowMessage(MsgKind::Error, QStringLiteral("Внутренняя ошибка программы: операция прервана."), mbOK);
    }
    return false;
}
