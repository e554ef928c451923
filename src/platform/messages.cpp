#include "messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdio>

const char* const kApplicationTitle = "Сканер ЗРМ";

namespace {

struct ButtonDef {
    MsgButton button;
    QMessageBox::StandardButton standard;
    const char* caption;  // UTF-8
    ModalResult result;
};

// Captions are set here so the boxes are Russian whether or not Qt's own
// translations are installed. "All" has no standard button of its own; it
// borrows YesToAll's place.
constexpr ButtonDef kButtons[] = {
    {mbYes, QMessageBox::Yes, "Да", ModalResult::Yes},
    {mbNo, QMessageBox::No, "Нет", ModalResult::No},
    {mbOK, QMessageBox::Ok, "OK", ModalResult::Ok},
    {mbCancel, QMessageBox::Cancel, "Отмена", ModalResult::Cancel},
    {mbAbort, QMessageBox::Abort, "Прервать", ModalResult::Abort},
    {mbRetry, QMessageBox::Retry, "Повторить", ModalResult::Retry},
    {mbIgnore, QMessageBox::Ignore, "Пропустить", ModalResult::Ignore},
    {mbAll, QMessageBox::YesToAll, "Все", ModalResult::All},
};

// Enter presses OK, else Yes, else Retry; Esc and the close button answer
// Cancel, else No, else OK - the boxes' long-standing keyboard behaviour -
// and an Abort/Retry/Ignore box is left with Esc as Abort.
MsgButton defaultButton(MsgButtons b)
{
    if (b & mbOK)
        return mbOK;
    if (b & mbYes)
        return mbYes;
    return mbRetry;
}

MsgButton escapeButton(MsgButtons b)
{
    if (b & mbCancel)
        return mbCancel;
    if (b & mbNo)
        return mbNo;
    if (b & mbOK)
        return mbOK;
    if (b & mbAbort)
        return mbAbort;
    return MsgButton(0);  // none of them: closing the box answers Cancel
}

ModalResult resultOf(MsgButton b)
{
    for (const ButtonDef& d : kButtons)
        if (d.button == b)
            return d.result;
    return ModalResult::Cancel;
}

QMessageBox::Icon iconOf(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Error:
        return QMessageBox::Critical;
    case MsgKind::Warning:
        return QMessageBox::Warning;
    case MsgKind::Information:
        return QMessageBox::Information;
    case MsgKind::Confirmation:
        return QMessageBox::Question;
    case MsgKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

class QtMessages final : public Messages {
public:
    ModalResult show(MsgKind kind, const QString& text, MsgButtons buttons) override
    {
        buttons &= 0xFF;
        if (buttons == 0)
            buttons = mbOK;

        // Widgets need a QApplication; without one (a console tool, a unit
        // test that forgot to install its own service) the box cannot be
        // shown, and aborting would be worse than answering as Esc would.
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            std::fprintf(stderr, "%s: %s\n", kApplicationTitle, text.toLocal8Bit().constData());
            return resultOf(escapeButton(buttons));
        }

        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(QString::fromUtf8(kApplicationTitle));
        box.setIcon(iconOf(kind));
        // Reports separate their lines with LF CR; a label would show the CR.
        QString shown = text;
        shown.replace(QLatin1String("\n\r"), QLatin1String("\n"));
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        box.setText(shown);
        box.setTextFormat(Qt::PlainText);

        const MsgButton def = defaultButton(buttons);
        const MsgButton esc = escapeButton(buttons);
        QAbstractButton* added[std::size(kButtons)] = {};
        for (std::size_t i = 0; i < std::size(kButtons); ++i) {
            const ButtonDef& d = kButtons[i];
            if (!(buttons & d.button))
                continue;
            QPushButton* b = box.addButton(d.standard);
            b->setText(QString::fromUtf8(d.caption));
            added[i] = b;
            if (d.button == def)
                box.setDefaultButton(b);
            if (d.button == esc)
                box.setEscapeButton(b);
        }
        box.exec();

        QAbstractButton* clicked = box.clickedButton();
        for (std::size_t i = 0; i < std::size(kButtons); ++i)
            if (added[i] && added[i] == clicked)
                return kButtons[i].result;
        return resultOf(esc);
    }
};

std::atomic<Messages*> g_installed{nullptr};

// The boxes are shown on the UI thread (or the CLI's one thread): no lock.
constexpr int kShownKept = 8;
QString g_shown[kShownKept];
quint64 g_shownCount = 0;

} // namespace

ModalResult ShowMessage(MsgKind kind, const QString& text, MsgButtons buttons)
{
    g_shown[g_shownCount % kShownKept] = text;
    ++g_shownCount;
    return Messages::current().show(kind, text, buttons);
}

quint64 ShownMessageMark()
{
    return g_shownCount;
}

QString ShownMessagesSince(quint64 mark)
{
    QStringList texts;
    for (quint64 i = std::max(mark, g_shownCount > kShownKept ? g_shownCount - kShownKept : 0); i < g_shownCount; ++i)
        texts << g_shown[i % kShownKept];
    return texts.join(QLatin1Char('\n'));
}

QString MsgButtonCaption(MsgButton button)
{
    for (const ButtonDef& d : kButtons)
        if (d.button == button)
            return QString::fromUtf8(d.caption);
    return QString();
}

Messages& Messages::current()
{
    if (Messages* m = g_installed.load())
        return *m;
    static QtMessages qt;
    return qt;
}

void Messages::install(Messages* m)
{
    g_installed.store(m);
}

Messages* Messages::installed()
{
    return g_installed.load();
}
