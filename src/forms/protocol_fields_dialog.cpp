#include "protocol_fields_dialog.h"

#include "app_paths.h"
#include "handler.h"
#include "ini_file.h"
#include "messages.h"
#include "window_behaviour.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

TForm6::TForm6(ProgramSettings& settings, QWidget* parent) : QDialog(parent), m_settings(settings)
{
    IgnoreEscape(this);  // no cancel button: only the title bar closes it

    // The controls, their captions and layout are in protocol_fields_dialog.ui.
    setupUi(this);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));

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
    CentreOnScreen(*this);
}

