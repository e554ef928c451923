#include "installed_meters.h"

#include "messages.h"

InstalledMeterList& InstalledMeters()
{
    static InstalledMeterList list;
    return list;
}

bool ReportPerMeter(const InstalledMeterList& list, int count, const QString& action, const QString& advice,
                    const std::function<bool(int index, SerialNumber serial)>& act)
{
    // The reports part their lines with LF CR, as the meters' service notes
    // have always quoted them.
    const QString lineBreak = QStringLiteral("\n\r");
    QString report;
    bool failure = false;
    for (int i = 0; i < count; ++i) {
        if (!report.isEmpty())
            report += lineBreak;
        const SerialNumber serial = list.Serials[std::size_t(i)];
        const bool ok = act(i, serial);
        report += action + QStringLiteral(" SN ") + QString::number(serial) + QLatin1Char('\t');
        if (ok) {
            report += QStringLiteral(" OK");
        } else {
            failure = true;
            report += QStringLiteral(" Нет связи");
        }
    }
    if (failure) {
        ShowMessage(MsgKind::Error, report + lineBreak + advice, mbOK);
        return false;
    }
    ShowMessage(MsgKind::Information, report, mbOK);
    return true;
}
