// Error texts, the standard error box and the handler wrapper.

#include "errors.h"
#include "handler.h"
#include "qt_printers.h"
#include "scripted_messages.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

TEST(ErrorTexts, AreTheFixedTextsWordForWord)
{
    EXPECT_EQ(EConvertError::invalidInteger("12abc").text(), "'12abc' is not a valid integer value");
    EXPECT_EQ(EConvertError::invalidFloat("1.5").text(), "'1.5' is not a valid floating point value");
    EXPECT_EQ(EIniFileException::unableToWrite("/opt/zrm/Settings.ini").text(),
              "Unable to write to /opt/zrm/Settings.ini");
    EXPECT_EQ(EZeroDivide().text(), "Floating point division by zero");
}

TEST(ErrorTexts, InsertedTextIsTakenLiterally)
{
    // A user's text holding placeholders must come out as typed.
    EXPECT_EQ(EConvertError::invalidInteger("%1 %2").text(), "'%1 %2' is not a valid integer value");
    EXPECT_EQ(EConvertError::invalidFloat(QString::fromUtf8("НЕТ")).text(),
              QString::fromUtf8("'НЕТ' is not a valid floating point value"));
}

TEST(ErrorTexts, WhatIsUtf8OfText)
{
    const EConvertError e = EConvertError::invalidFloat(QString::fromUtf8("НЕТ"));
    EXPECT_STREQ(e.what(), "'НЕТ' is not a valid floating point value");
}

struct FullStopCase {
    const char* text;
    const char* shown;
};

void PrintTo(const FullStopCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class StandardErrorTextRule : public testing::TestWithParam<FullStopCase> {};

TEST_P(StandardErrorTextRule, AddsFullStopWhenLastCharIsAboveDot)
{
    const FullStopCase& c = GetParam();
    EXPECT_EQ(StandardErrorText(AppError(QString::fromUtf8(c.text))), QString::fromUtf8(c.shown));
    // Errors of other kinds (the serial library's) get the same rule.
    EXPECT_EQ(StandardErrorText(std::runtime_error(c.text)), QString::fromUtf8(c.shown));
}

INSTANTIATE_TEST_SUITE_P(Table, StandardErrorTextRule,
    testing::Values(FullStopCase{"'x' is not a valid integer value", "'x' is not a valid integer value."},
                    FullStopCase{"ends with a dot.", "ends with a dot."},
                    FullStopCase{"Unable to write to C:\\ZRM\\Settings.ini", "Unable to write to C:\\ZRM\\Settings.ini."},
                    FullStopCase{"digit 9", "digit 9."},
                    FullStopCase{"slash /", "slash /."},  // '/' is above '.'
                    FullStopCase{"minus -", "minus -"},   // '-' is below
                    FullStopCase{"comma ,", "comma ,"},
                    FullStopCase{"bang!", "bang!"},
                    FullStopCase{"paren)", "paren)"},
                    FullStopCase{"space ", "space "},
                    FullStopCase{"Порт недоступен", "Порт недоступен."},
                    FullStopCase{"", ""}));

TEST(RunHandler, BodyThatSucceedsShowsNothing)
{
    ScopedScriptedMessages messages;
    int ran = 0;
    EXPECT_TRUE(RunHandler([&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(messages.count(), 0u);
}

TEST(RunHandler, AppErrorEndsBodyAndShowsStandardBox)
{
    ScopedScriptedMessages messages;
    int reached = 0;
    EXPECT_FALSE(RunHandler([&] {
        reached = 1;
        throw EConvertError::invalidInteger("abc");
        reached = 2;  // never
    }));
    EXPECT_EQ(reached, 1);
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.shown()[0], (ShownMessage{MsgKind::Error, "'abc' is not a valid integer value.", mbOK}));
}

TEST(RunHandler, AnyStdExceptionIsShown)
{
    ScopedScriptedMessages messages;
    EXPECT_FALSE(RunHandler([] { throw std::runtime_error("Input/output error"); }));
    EXPECT_FALSE(RunHandler([] { throw std::bad_alloc(); }));
    ASSERT_EQ(messages.count(), 2u);
    EXPECT_EQ(messages.texts()[0], "Input/output error.");
    EXPECT_EQ(messages.texts()[1], QString::fromUtf8(std::bad_alloc().what()) + ".");
    EXPECT_EQ(messages.shown()[1].kind, MsgKind::Error);
}

TEST(RunHandler, NonStandardThrowIsShownAsInternalError)
{
    ScopedScriptedMessages messages;
    EXPECT_FALSE(RunHandler([] { throw 42; }));
    ASSERT_EQ(messages.count(), 1u);
    EXPECT_EQ(messages.shown()[0].kind, MsgKind::Error);
    EXPECT_EQ(messages.shown()[0].buttons, mbOK);
    EXPECT_FALSE(messages.texts()[0].isEmpty());
}

TEST(RunHandler, NestedHandlersEachReportTheirOwnError)
{
    ScopedScriptedMessages messages;
    bool innerResult = true;
    EXPECT_TRUE(RunHandler([&] { innerResult = RunHandler([] { throw EZeroDivide(); }); }));
    EXPECT_FALSE(innerResult);
    EXPECT_EQ(messages.texts(), QStringList{"Floating point division by zero."});
}

TEST(ScriptedMessagesService, AnswersFromScriptThenOk)
{
    ScopedScriptedMessages messages;
    messages.answer({ModalResult::Cancel, ModalResult::No});
    EXPECT_EQ(ShowMessage(MsgKind::Confirmation, "a", mbOK | mbCancel), ModalResult::Cancel);
    EXPECT_EQ(ShowMessage(MsgKind::Confirmation, "b", mbYes | mbNo), ModalResult::No);
    EXPECT_EQ(ShowMessage(MsgKind::Information, "c"), ModalResult::Ok);
    EXPECT_EQ(messages.pendingAnswers(), 0u);
    const std::vector<ShownMessage> expected{{MsgKind::Confirmation, "a", mbOK | mbCancel},
                                             {MsgKind::Confirmation, "b", mbYes | mbNo},
                                             {MsgKind::Information, "c", mbOK}};
    EXPECT_EQ(messages.shown(), expected);
}

TEST(ScriptedMessagesService, CallbackRunsWhileBoxIsOpenAndMayAnswer)
{
    ScopedScriptedMessages messages;
    std::vector<QString> seen;
    messages.onShow([&](const ShownMessage& m) {
        seen.push_back(m.text);
        if (m.text == "first")
            ShowMessage(MsgKind::Warning, "nested");  // a box opened from an open box
        messages.answer(ModalResult::Retry);
    });
    EXPECT_EQ(ShowMessage(MsgKind::Error, "first", mbAbort | mbRetry), ModalResult::Retry);
    EXPECT_EQ(seen, (std::vector<QString>{"first", "nested"}));
    EXPECT_EQ(messages.texts(), (QStringList{"first", "nested"}));
}

TEST(ScriptedMessagesService, InstallerRestoresPreviousService)
{
    EXPECT_EQ(Messages::installed(), nullptr);
    {
        ScriptedMessages outer;
        MessagesInstaller installOuter(outer);
        EXPECT_EQ(&Messages::current(), &outer);
        {
            ScopedScriptedMessages inner;
            EXPECT_EQ(&Messages::current(), &inner);
            ShowMessage(MsgKind::Plain, "to inner");
            EXPECT_EQ(inner.count(), 1u);
        }
        EXPECT_EQ(&Messages::current(), &outer);
        EXPECT_EQ(outer.count(), 0u);
    }
    EXPECT_EQ(Messages::installed(), nullptr);
}

} // namespace
