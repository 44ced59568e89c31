// Listing and download blocks as the dock sends them: any bytes must either
// parse into entries and a file range inside the block, or be refused.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QVector>

#include "link/serial/DockComm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > 4096)
        return 0;
    const uint8_t block = data[0];
    const qint64 expected = qint64(data[1]) * 37;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    QVector<RFileList> list;
    bool end = false;
    const QString path = QStringLiteral("/LOG/EVENT/");
    if (TDockComm::ParseListBlock(bytes, block, path, list, end)) {
        for (const RFileList& e : list) {
            if (!e.mName.startsWith(path) || e.mSize < 0 || (e.mDir && e.mSize != 0))
                __builtin_trap();
            if (e.mName.mid(path.size()).startsWith(QLatin1Char('.')))
                __builtin_trap();
        }
    }
    RLoadBlock load;
    if (TDockComm::ParseLoadBlock(bytes, block, expected != 0, load)) {
        if (load.mStart < 0 || load.mLength < 0 || load.mStart + load.mLength > bytes.size())
            __builtin_trap();
        if (load.mEnd != 0 && load.mEnd != 1 && load.mEnd != 255)
            __builtin_trap();
    }
    return 0;
}
