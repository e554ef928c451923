#include "protocol_fields_dialog.h"

#include "app_paths.h"
#include "handler.h"
#include "ini_file.h"
#include "messages.h"
#include "window_keys.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text)
{
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(QString::fromUtf8(name));
    return l;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QString::fromUtf8(name));
    e->setMinimumWidth(220);
    return e;
}

}  // namespace

TForm6::TForm6(ProgramSettings& settings, QWidget* parent) : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Заполнение полей протокола "));
    setModal(true);
    IgnoreEscape(this);  // no cancel button: only the title bar closes it

    Label1 = MakeLabel(this, "Label1", "Модификация ЗРМ");
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({QStringLiteral("Р-485"), QStringLiteral("ДР-485")});
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    Label2 = MakeLabel(this, "Label2", "Температура воды, C");
    Edit1 = MakeEdit(this, "Edit1", QStringLiteral("20"));
    Label3 = MakeLabel(this, "Label3", "Атмосферное давление");
    Edit2 = MakeEdit(this, "Edit2", QStringLiteral("1,0132bar"));
    Label4 = MakeLabel(this, "Label4", "Испытал Ф.И.О.");
    Edit3 = MakeEdit(this, "Edit3", QString());
    Label5 = MakeLabel(this, "Label5", "Поверил Ф.И.О.");
    Edit4 = MakeEdit(this, "Edit4", QString());
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(true);
    BitBtn1->setMinimumWidth(96);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    int row = 0;
    for (auto [label, field] : {std::pair<QLabel*, QWidget*>{Label1, ComboBox1}, {Label2, Edit1}, {Label3, Edit2},
                                {Label4, Edit3}, {Label5, Edit4}}) {
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addStretch(1);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addSpacing(8);
    top->addLayout(buttons);
    // A fixed dialog border.
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm6::BitBtn1Click);
    FormCreate();
}

QString TForm6::Modification() const { return ComboBox1->currentText(); }
QString TForm6::WaterTemperature() const { return Edit1->text(); }
QString TForm6::Pressure() const { return Edit2->text(); }
QString TForm6::TestedBy() const { return Edit3->text(); }
QString TForm6::VerifiedBy() const { return Edit4->text(); }

void TForm6::FormCreate()
{
    RunHandler([this] {
        Edit3->setText(m_settings.Fio1);
        Edit4->setText(m_settings.Fio2);
    });
}

void TForm6::BitBtn1Click()
{
    bool accepted = false;
    RunHandler([this, &accepted] {
        for (const QString& text : {ComboBox1->currentText(), Edit1->text(), Edit2->text(), Edit3->text(), Edit4->text()}) {
            if (text.isEmpty()) {
                ShowMessage(MsgKind::Warning,
                            QStringLiteral("Не все поля заполнены. Заполните пустые поля и повторите попытку"), mbOK);
                return;
            }
        }
        // A line break in a name would be refused by the INI service after
        // REPNO was already advanced and written: refused before anything
        // changes, and the dialog stays open.
        IniFile ini(AppPaths::file(QStringLiteral("Settings.ini")));
        ini.checkWritable(QStringLiteral("CONFIG"), QStringLiteral("FIO1"), Edit3->text());
        ini.checkWritable(QStringLiteral("CONFIG"), QStringLiteral("FIO2"), Edit4->text());
        // The result is OK from here on: a settings file that cannot be
        // written is reported, and the protocol is still made.
        accepted = true;
        ++m_settings.RepNo;
        ini.writeInteger(QStringLiteral("CONFIG"), QStringLiteral("REPNO"), m_settings.RepNo);
        ini.writeString(QStringLiteral("CONFIG"), QStringLiteral("FIO1"), Edit3->text());
        ini.writeString(QStringLiteral("CONFIG"), QStringLiteral("FIO2"), Edit4->text());
    });
    if (accepted)
        accept();
}

void TForm6::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

