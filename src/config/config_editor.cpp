#include "config_editor.h"

#include "coef_file.h"
#include "diameter_defaults.h"
#include "file_dialogs.h"
#include "handler.h"
#include "messages.h"
#include "number_text.h"
#include "window_keys.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Labels by value number; К0..К4 begin with the Cyrillic К.
const char* const kParLabels[kConfigValueCount] = {
    "Dy,м", "Вес вых имп", "К0", "К1", "К2", "К3", "К4", "FL0", "FL1", "FL2", "FL3", "FL4", "MainCal",
};

const char* const kCoefFilter = "Конфигурация ЗРМ (*.coef)";
const char* const kCoefSuffix = "coef";

QLineEdit* MakeEdit(QWidget* parent, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMinimumWidth(110);
    return e;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QLineEdit* buddy)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QStringLiteral("Label") + buddy->objectName());
    l->setBuddy(buddy);
    return l;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Изменение конфигурации"));
    setModal(true);
    IgnoreEscape(this);  // left by "Записать" or the title bar, never losing typed values to a key
    BuildControls();
}

void TForm2::BuildControls()
{
    Edit13 = MakeEdit(this, QStringLiteral("Edit13"));
    Label13 = MakeLabel(this, QStringLiteral("Серийный номер"), Edit13);
    for (int n = 0; n < kConfigValueCount; ++n) {
        EdPar[std::size_t(n)] = MakeEdit(this, QStringLiteral("EdPar%1").arg(n));
        ParLabels[std::size_t(n)] = MakeLabel(this, QString::fromUtf8(kParLabels[n]), EdPar[std::size_t(n)]);
    }

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    for (const char* name : DiameterNames)
        ComboBox1->addItem(QString::fromUtf8(name));
    ClearDiameterSelection();

    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogResetButton), QStringLiteral("Обнулить"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("Записать"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    // Enter in a field must not write to the meter.
    for (QPushButton* b : {BitBtn1, BitBtn2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    for (QToolButton* b : {SpeedButton1, SpeedButton2}) {
        b->setAutoRaise(true);
        b->setIconSize(QSize(20, 20));
    }

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

    // Serial number and diameter on top; then the pulse weight and MainCal,
    // and the coefficients beside their flow break points.
    auto* grid = new QGridLayout;
    grid->addWidget(Label13, 0, 0);
    grid->addWidget(Edit13, 0, 1);
    grid->addWidget(ParLabels[0], 1, 0);
    grid->addWidget(EdPar[0], 1, 1);
    grid->addWidget(ComboBox1, 1, 2, 1, 2);
    grid->addWidget(ParLabels[1], 2, 0);
    grid->addWidget(EdPar[1], 2, 1);
    grid->addWidget(ParLabels[12], 2, 2);
    grid->addWidget(EdPar[12], 2, 3);
    for (int k = 0; k < 5; ++k) {
        grid->addWidget(ParLabels[std::size_t(2 + k)], 3 + k, 0);
        grid->addWidget(EdPar[std::size_t(2 + k)], 3 + k, 1);
        grid->addWidget(ParLabels[std::size_t(7 + k)], 3 + k, 2);
        grid->addWidget(EdPar[std::size_t(7 + k)], 3 + k, 3);
    }
    grid->setColumnMinimumWidth(2, 60);
    grid->setHorizontalSpacing(10);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addWidget(SpeedButton2);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn1);

    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addSpacing(8);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(Edit13, EdPar[0]);
    setTabOrder(EdPar[0], ComboBox1);
    setTabOrder(ComboBox1, EdPar[1]);
    for (int n = 1; n < kConfigValueCount - 1; ++n)
        setTabOrder(EdPar[std::size_t(n)], EdPar[std::size_t(n + 1)]);

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
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
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
    SaveCoefFile(SaveDialog1->FileName, Texts());
}

void TForm2::SpeedButton1Click()
{
    if (!OpenDialog1->Execute())
        return;
    if (!QFileInfo(OpenDialog1->FileName).isFile())
        return;
    SetTexts(LoadCoefFile(OpenDialog1->FileName));
    MatchDiameterSelection();
}
