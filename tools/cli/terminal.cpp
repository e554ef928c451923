#include "terminal.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

void ToStandardError(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

void Interruption::Interrupted()
{
    m_requested = true;
    if (m_onInterrupt)
        m_onInterrupt();
    if (m_endWait)
        m_endWait();
}

bool Interruption::Sleep(int ms)
{
    if (m_requested)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    m_endWait = [&loop] { loop.quit(); };
    loop.exec();
    m_endWait = nullptr;
    return !m_requested;
}

ModalResult TerminalMessages::show(MsgKind kind, const QString& text, MsgButtons buttons)
{
    const bool ok = buttons & mbOK;
    const bool question = kind == MsgKind::Confirmation && ((ok && (buttons & mbCancel)) || ((buttons & mbYes) && (buttons & mbNo)));
    const ModalResult yes = ok ? ModalResult::Ok : ModalResult::Yes;
    const ModalResult no = (buttons & mbCancel) ? ModalResult::Cancel : ModalResult::No;
    if (m_interruption.Requested())
        return question ? no : (ok ? ModalResult::Ok : no);
    if (kind == MsgKind::Error)
        m_errorShown = true;

    QString shown = text;
    shown.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!question) {
        Print(shown + QLatin1Char('\n'));
        return ok ? ModalResult::Ok : yes;
    }

    const QString yesText = MsgButtonCaption(ok ? mbOK : mbYes);
    const QString noText = MsgButtonCaption(no == ModalResult::Cancel ? mbCancel : mbNo);
    if (m_assumeYes) {
        Print(shown + QLatin1Char(' ') + yesText + QLatin1Char('\n'));
        return yes;
    }
    Print(shown + QStringLiteral(" [") + yesText + QLatin1Char('/') + noText + QStringLiteral("] "));
    const std::optional<QString> answer = m_interruption.ReadLine();
    if (!answer) {
        Print(QStringLiteral("\n"));
        return no;
    }
    const QString a = answer->trimmed().toLower();
    const QStringList agreed = {yesText.toLower(), QStringLiteral("y"), QStringLiteral("yes"), QStringLiteral("д"),
                                QStringLiteral("да"), QStringLiteral("ok")};
    return agreed.contains(a) ? yes : no;
}

void TerminalMessages::Print(const QString& text)
{
    if (m_holding)
        m_held += text;
    else
        ToStandardError(text);
}

void TerminalMessages::Hold()
{
    m_holding = true;
    m_held.clear();
}

void TerminalMessages::Release(bool print)
{
    m_holding = false;
    if (print && !m_held.isEmpty())
        ToStandardError(m_held);
    m_held.clear();
}
