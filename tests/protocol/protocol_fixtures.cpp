#include "protocol_fixtures.h"

#include "ini_file.h"
#include "test_helpers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <stdexcept>

namespace {


constexpr double kPulseWeightDu50 = 0.15;

// The pulse weight the protocol must use: Ду 50, a quarter below 7 m3/h.
double WeightAt(double flow)
{
    return 70.0 / 10 > flow ? kPulseWeightDu50 / 4 : kPulseWeightDu50;
}

QList<ReadCell> ParseCsvLine(const QString& text, qsizetype& i)
{
    QList<ReadCell> row;
    ReadCell cell;
    bool inQuotes = false;
    while (i < text.size()) {
        const QChar c = text[i++];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i < text.size() && text[i] == QLatin1Char('"')) {
                    cell.Text += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                cell.Text += c;
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            cell.IsText = true;
        } else if (c == QLatin1Char(',')) {
            row.append(cell);
            cell = ReadCell{};
        } else if (c == QLatin1Char('\n')) {
            break;
        } else if (c != QLatin1Char('\r')) {
            cell.Text += c;
        }
    }
    row.append(cell);
    return row;
}

}  // namespace

VerificationRun SampleRun(int meters)
{
    VerificationRun run;
    run.DiameterIndex = 4;
    run.Stages[0] = {QStringLiteral("60"), Localised("0.1"), 5800, {}};
    run.Stages[1] = {QStringLiteral("600"), Localised("0.01"), 11667, {}};
    run.Stages[2] = {QStringLiteral("600"), Localised("0.01"), 5000, {}};
    for (int n = 1; n <= meters; ++n) {
        run.Serials.push_back(1200 + n);
        run.Stages[0].MeterPulses.push_back(3850 + 2 * (n - 1));
        run.Stages[1].MeterPulses.push_back(3108 + 3 * (n - 1));
        run.Stages[2].MeterPulses.push_back(n == 2 ? 1367 : 1331 + (n - 1));
    }
    return run;
}

void WriteSessionFile(const QString& path, const VerificationRun& run, int calStep)
{
    IniFile ini(path);
    const int np = int(run.Serials.size());
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("CALSTEP"), calStep);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("MAXCALSTEP"), calStep);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("DYINDEX"), run.DiameterIndex);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("NP"), np);
    for (int n = 1; n <= np; ++n)
        ini.writeInteger(QStringLiteral("SNDEVTAB"), QStringLiteral("DEV%1").arg(n), run.Serials[std::size_t(n - 1)]);
    for (int k = 1; k <= 3; ++k) {
        const StageInput& s = run.Stages[k - 1];
        const QString step = QStringLiteral("STEP%1").arg(k);
        if (!s.Timer.isNull())
            ini.writeString(step, QStringLiteral("TIMER"), s.Timer);
        ini.writeString(step, QStringLiteral("VES_ETALON"), s.PulseWeight);
        ini.writeString(step, QStringLiteral("IMP_ETALON"), QString::number(s.RefPulses));
        for (std::size_t n = 1; n <= s.MeterPulses.size(); ++n) {
            ini.writeString(step, QStringLiteral("CALTAB%1_IMP_DUZR").arg(n), QString::number(s.MeterPulses[n - 1]));
            ini.writeString(step, QStringLiteral("CALTAB%1_VOL_ZRM").arg(n), QString());
        }
    }
}

ExpectedRow ExpectedMeterRow(const VerificationRun& run, int n)
{
    ExpectedRow row{};
    for (int k = 0; k < 3; ++k) {
        const StageInput& s = run.Stages[k];
        const double v = StrToFloat(s.PulseWeight);
        const double t = StrToFloat(s.Timer);
        const double reference = s.RefPulses * v;
        const double flow = reference / 1000 / t * 3600;
        const int pulses = s.MeterPulses[std::size_t(n - 1)];
        row.Reference[k] = reference;
        row.Pulses[k] = pulses;
        row.Meter[k] = pulses * WeightAt(flow);
        row.Error[k] = (row.Meter[k] - reference) / reference * 100;
    }
    return row;
}

ReadCell At(const ReadSheet& sheet, int row, int column)
{
    if (row < 1 || row > sheet.size())
        return {};
    const QList<ReadCell>& r = sheet[row - 1];
    return column >= 1 && column <= r.size() ? r[column - 1] : ReadCell{};
}

ReadCell At(const ReadSheet& sheet, const char* cell)
{
    int column = 0;
    const char* p = cell;
    while (*p >= 'A' && *p <= 'Z')
        column = column * 26 + (*p++ - 'A' + 1);
    return At(sheet, std::atoi(p), column);
}

QList<ReadSheet> ReadWorkbooks(const QStringList& paths, const QString& workDir)
{
    // Plain names: what the office makes of a Cyrillic argument depends on
    // the locale the test runs in, and that is not under test here.
    const QString in = workDir + QStringLiteral("/csv-in");
    const QString out = workDir + QStringLiteral("/csv-out");
    QDir().mkpath(in);
    QDir().mkpath(out);
    QStringList args{QStringLiteral("-env:UserInstallation=file://") + workDir + QStringLiteral("/csv-profile"),
                     QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                     // comma, double quotes, UTF-8, quote every text cell, values as shown
                     QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,true,false,true"),
                     QStringLiteral("--outdir"), out};
    for (int i = 0; i < paths.size(); ++i) {
        const QString copy = QStringLiteral("%1/wb%2.xls").arg(in).arg(i);
        QFile::remove(copy);
        if (!QFile::copy(paths[i], copy))
            throw std::runtime_error("cannot copy " + paths[i].toStdString());
        args << copy;
    }
    QProcess office;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    office.setProcessEnvironment(env);
    office.start(QStringLiteral(ZRM_SOFFICE_PATH), args);
    if (!office.waitForFinished(180000))
        throw std::runtime_error("soffice did not finish the export");

    QList<ReadSheet> sheets;
    for (int i = 0; i < paths.size(); ++i) {
        QFile csv(QStringLiteral("%1/wb%2.csv").arg(out).arg(i));
        if (!csv.open(QIODevice::ReadOnly))
            throw std::runtime_error("no CSV export of " + paths[i].toStdString() + ": " +
                                     office.readAllStandardError().toStdString());
        const QString text = QString::fromUtf8(csv.readAll());
        ReadSheet sheet;
        qsizetype pos = 0;
        while (pos < text.size())
            sheet.append(ParseCsvLine(text, pos));
        sheets.append(sheet);
    }
    return sheets;
}

QStringList FindWorkbooks(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, {QStringLiteral("*.xls")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    found.sort();
    return found;
}
