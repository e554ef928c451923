#include "bench_app.h"

#include "installed_meters.h"
#include "journal.h"
#include "main_window.h"
#include "run_state.h"
#include "spreadsheet_app.h"

#include <QFile>
#include <QTest>

BenchApp::BenchApp()
{
    ResetRunState();
    // No office in the window tests unless a test brings one: a verification
    // reaching its end would start LibreOffice in the background.
    SetSpreadsheetAppFactory([]() -> std::unique_ptr<SpreadsheetApp> {
        throw ESpreadsheetUnavailable(QStringLiteral("no spreadsheet application in window tests"));
    });
}

BenchApp::~BenchApp()
{
    // The program first: closing it closes the port while the bench still serves.
    app.reset();
    bench.reset();
    ResetRunState();
    SetSpreadsheetAppFactory({});
}

void BenchApp::StartBench(const std::vector<metersim::MeterSpec>& meters, metersim::BenchOptions options,
                          const QByteArray& moreIni)
{
    bench = std::make_unique<metersim::MeterBench>(LinkPath().toStdString(), options);
    for (const metersim::MeterSpec& m : meters)
        bench->AddMeter(m);
    bench->Start();
    QFile ini(Path(QStringLiteral("Settings.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(ini.fileName()));
    ini.write("[CONFIG]\r\nCOM=" + LinkPath().toUtf8() + "\r\n" + moreIni);
}

bool BenchApp::StartProgram(bool userMode)
{
    return ShowProgram(userMode) && app->Form1().ComPort1().Active();
}

bool BenchApp::ShowProgram(bool userMode)
{
    app = std::make_unique<ScannerApplication>(dir.path(), userMode);
    app->Show();
    return QTest::qWaitForWindowExposed(&app->Form1());
}

QByteArray BenchApp::ReadFile(const QString& name) const
{
    QFile f(Path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool BenchApp::WriteFile(const QString& name, const QByteArray& bytes) const
{
    QFile f(Path(name));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

std::vector<JournalEntry> BenchApp::JournalEntries(const QString& kind) const
{
    JournalStore store(Journal::Path());
    if (!Journal::Flush(20000) || !store.OpenForReading())
        return {};
    JournalFilter filter;
    filter.kind = kind;
    return store.Query(filter);
}

std::vector<SerialNumber> BenchApp::RequestedSerials() const
{
    std::vector<SerialNumber> out;
    for (const auto& f : bench->Received())
        if (f.valid)
            out.push_back(static_cast<SerialNumber>(f.bytes[2] | (f.bytes[3] << 8)));
    return out;
}

std::vector<uint8_t> StoredBytes(const DeviceConfig& c)
{
    std::vector<uint8_t> b(kDeviceConfigLength);
    EncodeDeviceConfig(c, b.data());
    b.pop_back();
    return b;
}

metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow, uint32_t counter)
{
    metersim::MeterSpec m;
    m.serial = serial;
    m.diameterIndex = diameterIndex;
    m.flow = metersim::FlowProfile::Constant(flow);
    m.counter = counter;
    return m;
}

metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow, uint32_t counter, float hours)
{
    metersim::MeterSpec m = BenchMeter(serial, diameterIndex, flow, counter);
    m.hours = hours;
    return m;
}

metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow, const DeviceConfig& config)
{
    metersim::MeterSpec m = BenchMeter(serial, diameterIndex, flow);
    m.config = config;
    return m;
}

void ResetRunState()
{
    InstalledMeters() = InstalledMeterList{};
    RunState& run = CurrentRun();
    run.SessionFileName.clear();
    run.VerificationMode = false;
    run.StageCount = 5;
    run.CalStep = 0;
    run.MaxCalStep = 0;
    run.Restored = false;
}
