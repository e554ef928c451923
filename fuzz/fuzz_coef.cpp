// A .coef file of arbitrary content must load into fourteen texts, and a
// loaded set must save again (or be refused with the documented error).
// Both files are held in memory and go through the code for files on disk.

#include "coef_file.h"
#include "errors.h"
#include "fuzz_common.h"
#include "ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    const EditorTexts texts = LoadCoefFile(IniFile::inMemory(InputBytes(data, size), QStringLiteral("fuzz.coef")));

    // A new file: no bytes yet.
    IniFile copy = IniFile::inMemory(QByteArray(), QStringLiteral("copy.coef"));
    try {
        SaveCoefFile(copy, texts);
    } catch (const AppError&) {
        return 0;
    }
    // What was saved loads again; the serial number text survives as it is
    // unless the reader's trimming/unquoting applies to it.
    const EditorTexts again = LoadCoefFile(copy);
    FUZZ_CHECK(again.Serial == texts.Serial.trimmed() || again.Serial.size() <= texts.Serial.size());
    return 0;
}
