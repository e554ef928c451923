// The INI reader fed arbitrary file content (in memory, through the code
// that parses a file on disk): every read call, then a key write, after
// which the written key reads back as written and every other key of the
// file keeps its value.

#include "errors.h"
#include "fuzz_common.h"
#include "ini_file.h"

#include <vector>

namespace {

struct KeyValue {
    QString section, key, value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    IniFile ini = IniFile::inMemory(InputBytes(data, size), QStringLiteral("fuzz.ini"));
    const QStringList sections = ini.readSections();
    std::vector<KeyValue> before;
    for (const QString& s : sections) {
        FUZZ_CHECK(ini.sectionExists(s));
        for (const QString& k : ini.readSection(s)) {
            FUZZ_CHECK(ini.valueExists(s, k));
            before.push_back({s, k, ini.readString(s, k, QStringLiteral("\x01missing"))});
            ini.readInteger(s, k, 0);
            ini.readFloat(s, k, 0);
        }
    }

    const QString section = sections.isEmpty() ? QStringLiteral("FUZZ") : sections.first();
    const QString key = QStringLiteral("FuzzKey");
    try {
        ini.writeString(section, key, QStringLiteral("значение 1,5"));
    } catch (const AppError&) {
        return 0;
    }
    FUZZ_CHECK(ini.readString(section, key, QString()) == QStringLiteral("значение 1,5"));
    for (const KeyValue& kv : before) {
        if (kv.section.compare(section, Qt::CaseInsensitive) == 0 && kv.key.compare(key, Qt::CaseInsensitive) == 0)
            continue;
        if (ini.readString(kv.section, kv.key, QStringLiteral("\x01missing")) != kv.value) {
            std::fprintf(stderr, "[%s] %s changed\n", qPrintable(kv.section), qPrintable(kv.key));
            FUZZ_CHECK(false);
        }
    }
    return 0;
}
