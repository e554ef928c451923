#pragma once
// Shared by the fuzz targets: a Qt application object for code that needs
// one, a message service that answers every box with OK and counts them, and
// the input as bytes. The file readers get the input in memory (IniFile::
// inMemory): the parsing code of a file on disk without a write per input.

#include "messages.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

class CountingMessages : public Messages {
public:
    ModalResult show(MsgKind kind, const QString&, MsgButtons) override
    {
        ++shown;
        if (kind == MsgKind::Error)
            ++errors;
        return ModalResult::Ok;
    }
    int shown = 0;
    int errors = 0;
};

// A broken invariant is a finding: abort so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                           \
    do {                                                                           \
        if (!(cond)) {                                                             \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                          \
        }                                                                          \
    } while (0)

// A QCoreApplication living for the whole process.
void EnsureApplication();

// A copy of the fuzzer's input.
QByteArray InputBytes(const uint8_t* data, size_t size);
