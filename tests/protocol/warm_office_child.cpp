// A program that has started the office in advance for a protocol and then
// waits, to be killed by warm_office_test: its office must not outlive it.

#include "spreadsheet_app.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    WarmUpSpreadsheetApp();
    return app.exec();
}
