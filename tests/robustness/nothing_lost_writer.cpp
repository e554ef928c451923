// Helper of nothing_lost_test: saves the same file over and over until it is
// killed. "ini": eight long keys of Settings.ini, each value a whole
// generation marker; "coef": a .coef file alternating two whole sets.
//   zrm_nothing_lost_writer ini|coef PATH

#include "coef_file.h"
#include "ini_file.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <cstring>

QString IniValue(int key, long generation)
{
    // Long enough that a torn write would show as a cut value.
    return QStringLiteral("gen%1-key%2-").arg(generation).arg(key) + QString(300, QChar(u'ж')) + QStringLiteral("-end");
}

EditorTexts CoefSet(int which)
{
    EditorTexts t;
    t.Serial = which ? QStringLiteral("2222") : QStringLiteral("1111");
    for (size_t i = 0; i < t.Values.size(); ++i)
        t.Values[i] = QStringLiteral("%1,%2").arg(which ? 2 : 1).arg(i, 6, 10, QChar(u'0'));
    return t;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[2]);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    if (std::strcmp(argv[1], "ini") == 0) {
        IniFile ini(path);
        for (long generation = 1;; ++generation)
            for (int key = 1; key <= 8; ++key)
                ini.writeString(QStringLiteral("Settings"), QStringLiteral("Key%1").arg(key), IniValue(key, generation));
    }
    if (std::strcmp(argv[1], "coef") == 0) {
        for (int i = 0;; i ^= 1)
            SaveCoefFile(path, CoefSet(i));
    }
    return 2;
}
