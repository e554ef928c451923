#include "scanner_app.h"

#include "app_font.h"
#include "app_paths.h"
#include "config_editor.h"
#include "exchange_trace.h"
#include "flow_setting_dialog.h"
#include "handler.h"
#include "installed_meters_dialog.h"
#include "journal.h"
#include "journal_window.h"
#include "link_journal.h"
#include "main_window.h"
#include "messages.h"
#include "protocol_fields_dialog.h"
#include "protocol_workbook.h"
#include "run_journal.h"
#include "qt_serial_events.h"
#include "scan_window.h"
#include "spreadsheet_app.h"
#include "wizard_window.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

// The journal's one box of this start, when no exchange or modal window
// would be interrupted by it.
void ShowJournalNotice(TForm1& form1, const QString& text)
{
    if (form1.Link().Busy() || QApplication::activeModalWidget() || ProtocolBeingWritten()) {
        QTimer::singleShot(300, &form1, [&form1, text] { ShowJournalNotice(form1, text); });
        return;
    }
    ShowMessage(MsgKind::Warning, text);
}

}  // namespace

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
    m_journal = std::make_unique<JournalWindow>(m_form1->Link(), userMode ? nullptr : m_form2.get(), m_form1.get());

    m_form1->SetWindows({m_form2.get(), m_form3.get(), m_form4.get(), m_form5.get(), m_form6.get(), m_form7.get(),
                         m_journal.get()});
    JournalLinkOperations(m_form1->Link());
    TForm1* form1 = m_form1.get();
    Journal::SetUnavailableNotice([form1](const QString& text) {
        QMetaObject::invokeMethod(form1, [form1, text] { ShowJournalNotice(*form1, text); }, Qt::QueuedConnection);
    });
    // Before any operation, and once its failure can be told.
    Journal::Start(AppPaths::file(QString::fromLatin1(kJournalFileName)),
                   userMode ? QStringLiteral("user") : QStringLiteral("pro"), QStringLiteral(ZRM_VERSION));

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
    wizard->WriteProtocol = [protocolFields, wizard, settings = &m_form1->Settings(), link = &m_form1->Link()] {
        const ProtocolFields fields{protocolFields->Modification(), protocolFields->WaterTemperature(),
                                    protocolFields->Pressure(), protocolFields->TestedBy(),
                                    protocolFields->VerifiedBy()};
        const QDateTime started = QDateTime::currentDateTime();
        const quint64 mark = ShownMessageMark();
        const bool saved = WriteVerificationProtocol(*settings, fields, wizard->Run());
        JournalProtocol(saved, started, settings->RepNo, fields, wizard->Run(), link->PortName(),
                        ShownMessagesSince(mark));
    };
    meters->ShowWizard = [wizard] { wizard->ShowWizard(); };
}

ScannerApplication::~ScannerApplication()
{
    // An office started for a protocol that never came ends with the program.
    CoolDownSpreadsheetApp();
    // The journal's last entries reach the disk; no notice comes after this.
    Journal::Stop();
    Journal::SetUnavailableNotice(nullptr);
    // The secondary windows are children of the main window: release them first.
    m_journal.reset();
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

namespace {

// --help and --version, answered before Qt starts (no display needed), for
// people and for the manual pages. Returns true when one was answered.
bool AnswerCommandLine(int argc, char** argv, bool userMode)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", userMode ? "zrm-scanner" : "zrm-scanner-pro", ZRM_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Использование: %s [--help] [--version]\n"
                        "Сканер ЗРМ %s%s: сервисная программа для электромагнитных расходомеров ЗРМ\n"
                        "на линии RS-485 (9600 бит/с, 8N1).\n\n"
                        "  --help     показать эту справку и выйти\n"
                        "  --version  показать версию и выйти\n\n"
                        "Порт задаётся в окне программы (поле \"ПОРТ\") или в Settings.ini,\n"
                        "раздел [CONFIG], ключ COM. Установленная программа хранит файлы\n"
                        "(Settings.ini, Calibration.ini, Poverka.ini, Restore/, Protocols/)\n"
                        "в ~/.local/share/zrm-scanner, переносная копия - рядом с собой.\n",
                        userMode ? "zrm-scanner" : "zrm-scanner-pro", ZRM_VERSION,
                        userMode ? "" : " (профессиональный вариант)");
            return true;
        }
    }
    return false;
}

} // namespace

int RunScanner(int argc, char** argv, bool userMode)
{
    if (AnswerCommandLine(argc, argv, userMode))
        return 0;
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    UseApplicationFont();
    // The program speaks Russian whatever the desktop's language: so do Qt's
    // own dialogs (file dialogs, standard buttons).
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    QApplication::setQuitOnLastWindowClosed(true);
    // Started from a menu, the program has no standard error to be read.
    const QString traceProblem = TraceToFileFromEnvironment();
    if (!traceProblem.isEmpty())
        ShowMessage(MsgKind::Warning, traceProblem);
    // Installed or portable: see app_paths.h.
    const AppLocations where = AppPaths::LocateAndUse();
    ScannerApplication app(where.files, userMode);
    app.Show();
    return qtApp.exec();
}
