#include "config_editor.h"

#include "coef_file.h"
#include "diameter_defaults.h"
#include "file_dialogs.h"
#include "handler.h"
#include "journal_kinds.h"
#include "messages.h"
#include "number_text.h"
#include "ui_config_editor.h"
#include "window_behaviour.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace {

const char* const kCoefFilter = "Конфигурация ЗРМ (*.coef)";
const char* const kCoefSuffix = "coef";

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    IgnoreEscape(this);  // left by "Записать" or the title bar, never losing typed values to a key
    BuildControls();
}

// The controls, their captions and layout are in config_editor.ui; here the
// diameters from their table, the style's icons, the file dialogs and the
// handlers.
void TForm2::BuildControls()
{
    Ui::TForm2 ui;
    ui.setupUi(this);
    Label13 = ui.LabelEdit13;
    Edit13 = ui.Edit13;
    EdPar = {ui.EdPar0, ui.EdPar1, ui.EdPar2, ui.EdPar3, ui.EdPar4, ui.EdPar5, ui.EdPar6,
             ui.EdPar7, ui.EdPar8, ui.EdPar9, ui.EdPar10, ui.EdPar11, ui.EdPar12};
    ParLabels = {ui.LabelEdPar0, ui.LabelEdPar1, ui.LabelEdPar2, ui.LabelEdPar3, ui.LabelEdPar4,
                 ui.LabelEdPar5, ui.LabelEdPar6, ui.LabelEdPar7, ui.LabelEdPar8, ui.LabelEdPar9,
                 ui.LabelEdPar10, ui.LabelEdPar11, ui.LabelEdPar12};
    ComboBox1 = ui.ComboBox1;
    BitBtn2 = ui.BitBtn2;
    BitBtn1 = ui.BitBtn1;
    SpeedButton1 = ui.SpeedButton1;
    SpeedButton2 = ui.SpeedButton2;

    ComboBox1->setCompleter(nullptr);
    for (const char* name : DiameterNames)
        ComboBox1->addItem(QString::fromUtf8(name));
    ClearDiameterSelection();

    // Neither button is a default one (in the form): Enter in a field must
    // not write to the meter.
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));

    SaveDialog1 = new FileDialog(FileDialogKind::Save, this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    OpenDialog1 = new FileDialog(FileDialogKind::Open, this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    for (FileDialog* d : {SaveDialog1, OpenDialog1}) {
        d->Filter = QString::fromUtf8(kCoefFilter);
        d->DefaultExt = QString::fromLatin1(kCoefSuffix);
    }
    SaveDialog1->OverwritePrompt = true;
    OpenDialog1->FileMustExist = true;

    // Only the user's own pick is a change: the selection the program sets
    // after opening or loading must not rewrite the Dy field.
    connect(ComboBox1, &QComboBox::activated, this, [this] { RunHandler([this] { ComboBox1Change(); }); });
    // Text typed into the edit part leaves no entry selected.
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (ComboBox1->currentIndex() >= 0) {
            QLineEdit* edit = ComboBox1->lineEdit();
            const QString text = edit->text();
            const int cursor = edit->cursorPosition();
            const QSignalBlocker block(ComboBox1);
            ComboBox1->setCurrentIndex(-1);
            edit->setText(text);
            edit->setCursorPosition(cursor);
        }
        RunHandler([this] { ComboBox1Change(); });
    });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { RunHandler([this] { BitBtn2Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunHandler([this] { BitBtn1Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { RunHandler([this] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { RunHandler([this] { SpeedButton2Click(); }); });
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

EditorTexts TForm2::Texts() const
{
    EditorTexts t;
    t.Serial = Edit13->text();
    for (int n = 0; n < kConfigValueCount; ++n)
        t.Values[std::size_t(n)] = EdPar[std::size_t(n)]->text();
    return t;
}

void TForm2::SetTexts(const EditorTexts& texts)
{
    Edit13->setText(texts.Serial);
    for (int n = 0; n < kConfigValueCount; ++n)
        EdPar[std::size_t(n)]->setText(texts.Values[std::size_t(n)]);
}

void TForm2::Fill(SerialNumber serial, const DeviceConfig& config)
{
    SetTexts(EditorTextsOf(serial, config));
    ClearDiameterSelection();
    // A meter with a corrupt Dy (not a number) must still be editable, so
    // that its configuration can be repaired: it just selects nothing.
    double dy = 0;
    if (TryStrToFloat(EdPar[0]->text(), dy)) {
        const int i = MatchDiameter(dy);
        if (i >= 0)
            ComboBox1->setCurrentIndex(i);
    }
}

void TForm2::ClearDiameterSelection()
{
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
}

void TForm2::MatchDiameterSelection()
{
    ClearDiameterSelection();
    const int i = MatchDiameter(StrToFloat(EdPar[0]->text()));
    if (i >= 0)
        ComboBox1->setCurrentIndex(i);
}

void TForm2::ComboBox1Change()
{
    const int i = ComboBox1->currentIndex();
    if (i < 0)
        return;
    EdPar[0]->setText(ConfigValueText(DiameterDefaults[0][i]));
}

void TForm2::BitBtn2Click()
{
    const int i = ComboBox1->currentIndex();
    if (i < 0)
        return;
    for (int n = 0; n < kConfigValueCount; ++n)
        findChild<QLineEdit*>(QStringLiteral("EdPar%1").arg(n))->setText(ConfigValueText(DiameterDefaults[n][i]));
}

void TForm2::BitBtn1Click()
{
    if (ApproveConfigWrite(Texts()) == WriteApproval::Approved)
        accept();
}

void TForm2::SpeedButton2Click()
{
    SaveDialog1->FileName = DefaultCoefFileName(Edit13->text());
    const QString dir = CoefRestoreDirectory();
    if (!QFileInfo(dir).isDir())
        QDir().mkdir(dir);  // a failure leaves the dialog at the system's place
    SaveDialog1->InitialDir = dir;
    if (!SaveDialog1->Execute() || SaveDialog1->FileName.isEmpty())
        return;
    const EditorTexts texts = Texts();
    JournalCoefFile(JournalKind::CoefSaved, SaveDialog1->FileName, texts.Serial,
                    [&] { SaveCoefFile(SaveDialog1->FileName, texts); });
}

void TForm2::SpeedButton1Click()
{
    if (!OpenDialog1->Execute())
        return;
    if (!QFileInfo(OpenDialog1->FileName).isFile())
        return;
    EditorTexts texts;
    JournalCoefFile(JournalKind::CoefLoaded, OpenDialog1->FileName, Edit13->text(),
                    [&] { texts = LoadCoefFile(OpenDialog1->FileName); });
    SetTexts(texts);
    MatchDiameterSelection();
}
