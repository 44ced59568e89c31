// The dock's web answers: status line, Content-Length and directory page.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "link/tcp/TCPSkt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 200000)
        return 0;
    const QByteArray page(reinterpret_cast<const char*>(data), qsizetype(size));
    const uint8_t st = TTCPSkt::CheckStatus(page);
    if (st > TCPSKT_COMM_NGNONE && st != TCPSKT_COMM_TIMEOUT)
        __builtin_trap();
    if (TTCPSkt::ContentLength(page) < -1)
        __builtin_trap();
    QVector<RFileList> list;
    const QString folder = QStringLiteral("/LOG/TEST/");
    TTCPSkt::ParseDirectoryPage(page, folder, list);
    for (const RFileList& e : list)
        if (!e.mName.startsWith(folder, Qt::CaseInsensitive) || e.mName.contains(QLatin1String("..")) || e.mSize < 0)
            __builtin_trap();
    return 0;
}
