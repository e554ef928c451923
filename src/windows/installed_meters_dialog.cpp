#include "installed_meters_dialog.h"

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Параметры установлденных приборов"));
}
