// A .coef file of arbitrary content must load into fourteen texts, and a
// loaded set must save again (or be refused with the documented error).

#include "coef_file.h"
#include "errors.h"
#include "fuzz_common.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    const QString path = ScratchPath("fuzz.coef");
    WriteFileBytes(path, data, size);

    const EditorTexts texts = LoadCoefFile(path);

    const QString copy = ScratchPath("copy.coef");
    QFile::remove(copy);
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
