#include "scanner_app.h"

#include "app_paths.h"
#include "config_editor.h"
#include "exchange_trace.h"
#include "flow_setting_dialog.h"
#include "handler.h"
#include "installed_meters_dialog.h"
#include "main_window.h"
#include "messages.h"
#include "protocol_fields_dialog.h"
#include "protocol_workbook.h"
#include "qt_serial_events.h"
#include "scan_window.h"
#include "wizard_window.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

ScannerApplication::ScannerApplication(const QString& directory, bool userMode)
{
    AppPaths::setDirectory(directory);
    InstallQtSerialEventDelivery();

    m_form1 = std::make_unique<TForm1>(userMode);
    m_form2 = std::make_unique<TForm2>(m_form1.get());
    m_form3 = std::make_unique<TForm3>(m_form1->Link(), m_form1.get());
    m_form4 = std::make_unique<TForm4>(m_form1->Link(), m_form1.get());
    m_form5 = std::make_unique<TForm5>(m_form1->Link(), m_form1.get());
    m_form6 = std::make_unique<TForm6>(m_form1->Settings(), m_form1.get());
    m_form7 = std::make_unique<TForm7>(m_form1->Link(), m_form1.get());

    m_form1->SetWindows({m_form2.get(), m_form3.get(), m_form4.get(), m_form5.get(), m_form6.get(), m_form7.get()});

    // The wizard and the installed-meter dialog open each other and the
    // chart and protocol dialogs across folders.
    TForm3* wizard = m_form3.get();
    TForm4* meters = m_form4.get();
    TForm5* flowSetting = m_form5.get();
    TForm6* protocolFields = m_form6.get();
    wizard->ShowInstalledMeters = [meters] { meters->exec(); };
    wizard->ShowFlowSetting = [flowSetting](const QString& volLabel) {
        flowSetting->SetVolLabelText(volLabel);
        return flowSetting->ShowModal();
    };
    wizard->ShowProtocolFields = [protocolFields] {
        return protocolFields->exec() == QDialog::Accepted ? ModalResult::Ok : ModalResult::Cancel;
    };
    wizard->WriteProtocol = [protocolFields, wizard, settings = &m_form1->Settings()] {
        WriteVerificationProtocol(*settings,
                                  {protocolFields->Modification(), protocolFields->WaterTemperature(),
                                   protocolFields->Pressure(), protocolFields->TestedBy(), protocolFields->VerifiedBy()},
                                  wizard->Run());
    };
    meters->ShowWizard = [wizard] { wizard->ShowWizard(); };
}

ScannerApplication::~ScannerApplication()
{
    // The secondary windows are children of the main window: release them first.
    m_form7.reset();
    m_form6.reset();
    m_form5.reset();
    m_form4.reset();
    m_form3.reset();
    m_form2.reset();
    m_form1.reset();
}

void ScannerApplication::Show()
{
    m_form1->show();
}

int RunScanner(int argc, char** argv, bool userMode)
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    // The program speaks Russian whatever the desktop's language: so do Qt's
    // own dialogs (file dialogs, standard buttons).
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    QApplication::setQuitOnLastWindowClosed(true);
    TraceToFileFromEnvironment();
    ScannerApplication app(QCoreApplication::applicationDirPath(), userMode);
    app.Show();
    return qtApp.exec();
}
