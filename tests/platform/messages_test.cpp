// The Qt message-box service: title, icon, buttons and the answer mapping,
// driven on a real QMessageBox (offscreen).

#include "messages.h"
#include "qt_printers.h"
#include "scripted_messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;  // captions, sorted
    QString defaultButton;
};

// Shows a box through the Qt service and lets act() handle it once it is up.
ModalResult showAndAct(MsgKind kind, const QString& text, MsgButtons buttons, SeenBox& seen,
                       const std::function<void(QMessageBox*)>& act)
{
    EXPECT_EQ(Messages::installed(), nullptr);
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (clock.elapsed() > 10000) {
                ADD_FAILURE() << "no message box appeared";
                poll.stop();
            }
            return;
        }
        poll.stop();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            seen.buttons << b->text();
        seen.buttons.sort();
        if (box->defaultButton())
            seen.defaultButton = box->defaultButton()->text();
        act(box);
    });
    poll.start();
    return ShowMessage(kind, text, buttons);
}

void clickButton(QMessageBox* box, const QString& caption)
{
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == caption) {
            b->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
    box->done(0);
}

void pressEscape(QMessageBox* box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box, &press);
}

TEST(QtMessages, TitleIconAndText)
{
    struct Case {
        MsgKind kind;
        QMessageBox::Icon icon;
    };
    for (const Case& c : {Case{MsgKind::Error, QMessageBox::Critical}, Case{MsgKind::Warning, QMessageBox::Warning},
                          Case{MsgKind::Information, QMessageBox::Information},
                          Case{MsgKind::Confirmation, QMessageBox::Question}, Case{MsgKind::Plain, QMessageBox::NoIcon}}) {
        SeenBox seen;
        const ModalResult r = showAndAct(c.kind, QString::fromUtf8("Нет связи с прибором"), mbOK, seen,
                                         [](QMessageBox* box) { clickButton(box, "OK"); });
        EXPECT_EQ(r, ModalResult::Ok);
        EXPECT_EQ(seen.title, QString::fromUtf8("Сканер ЗРМ"));
        EXPECT_EQ(seen.title, QString::fromUtf8(kApplicationTitle));
        EXPECT_EQ(seen.text, QString::fromUtf8("Нет связи с прибором"));
        EXPECT_EQ(seen.icon, c.icon) << int(c.kind);
    }
}

TEST(QtMessages, ReportLinesSeparatedByLfCrShowAsLines)
{
    SeenBox seen;
    showAndAct(MsgKind::Information, "one\n\rtwo\r\nthree", mbOK, seen, [](QMessageBox* box) { box->accept(); });
    EXPECT_EQ(seen.text, "one\ntwo\nthree");
}

struct ButtonCase {
    MsgButtons buttons;
    QStringList captions;  // sorted
    const char* defaultCaption;
    const char* click;  // nullptr: press Esc
    ModalResult result;
};

void PrintTo(const ButtonCase& c, std::ostream* os)
{
    *os << "buttons=0x" << std::hex << c.buttons << std::dec << " click=" << (c.click ? c.click : "Esc");
}

class QtMessagesButtons : public testing::TestWithParam<ButtonCase> {};

TEST_P(QtMessagesButtons, CaptionsDefaultAndAnswer)
{
    const ButtonCase& c = GetParam();
    SeenBox seen;
    const ModalResult r = showAndAct(MsgKind::Confirmation, "?", c.buttons, seen, [&](QMessageBox* box) {
        if (c.click)
            clickButton(box, QString::fromUtf8(c.click));
        else
            pressEscape(box);
    });
    QStringList expected = c.captions;
    expected.sort();
    EXPECT_EQ(seen.buttons, expected);
    EXPECT_EQ(seen.defaultButton, QString::fromUtf8(c.defaultCaption));
    EXPECT_EQ(r, c.result);
}

const QString kOk = "OK";
const QString kCancel = QString::fromUtf8("Отмена");
const QString kYes = QString::fromUtf8("Да");
const QString kNo = QString::fromUtf8("Нет");

INSTANTIATE_TEST_SUITE_P(Table, QtMessagesButtons,
    testing::Values(ButtonCase{mbOK, {kOk}, "OK", "OK", ModalResult::Ok},
                    ButtonCase{mbOK, {kOk}, "OK", nullptr, ModalResult::Ok},
                    ButtonCase{mbOK | mbCancel, {kOk, kCancel}, "OK", "OK", ModalResult::Ok},
                    ButtonCase{mbOK | mbCancel, {kOk, kCancel}, "OK", "Отмена", ModalResult::Cancel},
                    ButtonCase{mbOK | mbCancel, {kOk, kCancel}, "OK", nullptr, ModalResult::Cancel},
                    ButtonCase{mbYes | mbNo, {kYes, kNo}, "Да", "Да", ModalResult::Yes},
                    ButtonCase{mbYes | mbNo, {kYes, kNo}, "Да", "Нет", ModalResult::No},
                    ButtonCase{mbYes | mbNo, {kYes, kNo}, "Да", nullptr, ModalResult::No},
                    ButtonCase{mbYes | mbNo | mbCancel, {kYes, kNo, kCancel}, "Да", nullptr, ModalResult::Cancel},
                    ButtonCase{mbAbort | mbRetry | mbIgnore,
                               {QString::fromUtf8("Прервать"), QString::fromUtf8("Повторить"),
                                QString::fromUtf8("Пропустить")},
                               "Повторить", "Пропустить", ModalResult::Ignore},
                    ButtonCase{mbAbort | mbRetry | mbIgnore,
                               {QString::fromUtf8("Прервать"), QString::fromUtf8("Повторить"),
                                QString::fromUtf8("Пропустить")},
                               "Повторить", nullptr, ModalResult::Abort},
                    ButtonCase{mbOK | mbAll, {kOk, QString::fromUtf8("Все")}, "OK", "Все", ModalResult::All},
                    ButtonCase{0, {kOk}, "OK", "OK", ModalResult::Ok}));  // no buttons asked: OK

TEST(QtMessages, InstalledServiceTakesOverAndNullRestoresQt)
{
    struct Counting : Messages {
        int n = 0;
        ModalResult show(MsgKind, const QString&, MsgButtons) override
        {
            ++n;
            return ModalResult::Abort;
        }
    } counting;
    Messages& qt = Messages::current();
    Messages::install(&counting);
    EXPECT_EQ(ShowMessage(MsgKind::Error, "x"), ModalResult::Abort);
    EXPECT_EQ(counting.n, 1);
    Messages::install(nullptr);
    EXPECT_EQ(&Messages::current(), &qt);
    EXPECT_EQ(Messages::installed(), nullptr);
}

} // namespace
