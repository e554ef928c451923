#pragma once
// Every message box of the program goes through Messages, so that tests can
// answer boxes from a script and check their exact texts.

#include <QString>

enum class MsgKind { Error, Warning, Information, Confirmation, Plain };

// Buttons, combinable.
enum MsgButton : int {
    mbOK = 0x01,
    mbCancel = 0x02,
    mbYes = 0x04,
    mbNo = 0x08,
    mbAbort = 0x10,
    mbRetry = 0x20,
    mbIgnore = 0x40,
    mbAll = 0x80,
};
using MsgButtons = int;

// The button that closed a box or a modal window.
enum class ModalResult { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7, All = 8 };

class Messages {
public:
    virtual ~Messages() = default;
    // Shows a modal box and returns the button pressed.
    virtual ModalResult show(MsgKind kind, const QString& text, MsgButtons buttons) = 0;

    // The service in force: the Qt one (QMessageBox titled "Сканер ЗРМ")
    // unless another was installed.
    static Messages& current();
    // Installs m (not owned); nullptr puts the Qt service back.
    static void install(Messages* m);
    // The service installed with install(), or nullptr when the Qt one is in
    // force; lets a test put back whatever was there before it.
    static Messages* installed();
};

// A button's caption as the boxes show it ("Да", "Отмена", ...).
QString MsgButtonCaption(MsgButton button);

// Shows the box through the service in force, after noting its text for
// ShownMessagesSince.
ModalResult ShowMessage(MsgKind kind, const QString& text, MsgButtons buttons = mbOK);

// Every box shown is counted, so that a journal entry can carry the texts the
// user saw during its operation: the mark before the operation, then the
// texts shown since (the last few only).
quint64 ShownMessageMark();
QString ShownMessagesSince(quint64 mark);

// The application's title, used for every box.
extern const char* const kApplicationTitle;  // "Сканер ЗРМ"
