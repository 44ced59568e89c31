// The listing text a dock's chain collects: every entry kept stays one entry of
// the folder listed.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "link/udp/UdpSkt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 100000)
        return 0;
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    QVector<RFileList> list;
    const QString folder = QStringLiteral("/LOG/EVENT/");
    TUdpSkt::ParseListing(text, folder, list);
    for (const RFileList& e : list) {
        if (!e.mName.startsWith(folder) || e.mName.contains(QLatin1String("..")) || e.mSize < 0)
            __builtin_trap();
        const QString rest = e.mName.mid(folder.size());
        if (rest.isEmpty() || (rest.indexOf(QLatin1Char('/')) >= 0 && rest.indexOf(QLatin1Char('/')) != rest.size() - 1))
            __builtin_trap();
    }
    return 0;
}
