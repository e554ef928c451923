#include "file_access.h"

FileLoad ReadToEnd(const std::function<qint64(char*, qint64)>& read, qint64 sizeHint, qint64 maxSize,
                   QByteArray& bytes)
{
    bytes.resize(qsizetype(qMin(sizeHint, maxSize)) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > maxSize) {
                bytes.clear();
                return FileLoad::Unusable;
            }
            bytes.resize(qMin<qsizetype>(bytes.size() * 2 + 4096, maxSize + 1));
        }
        const qint64 r = read(bytes.data() + got, bytes.size() - got);
        if (r < 0) {
            bytes.clear();
            return FileLoad::Unusable;
        }
        if (r == 0)
            break;
        got += r;
    }
    if (got > maxSize) {
        bytes.clear();
        return FileLoad::Unusable;
    }
    bytes.resize(got);
    return FileLoad::Ok;
}
