// Answers to a discovery broadcast, from anything on the network.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "link/udp/LanDiscovery.h"
#include "link/udp/UdpSkt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const QByteArray answer(reinterpret_cast<const char*>(data), qsizetype(size));
    RDockLanInfo info;
    if (ParseLanAnswer(answer, info)) {
        if (info.mSN.isEmpty() || TUdpSkt::CheckAddress(info.mIp) != info.mIp)
            __builtin_trap();
    }
    if (info.mSN.size() > 64 || info.mMac.size() > 64)
        __builtin_trap();
    // The broadcast arithmetic on the same bytes as two dotted texts.
    const qsizetype half = answer.size() / 2;
    const QString b = LanBroadcastAddress(QString::fromLatin1(answer.left(half)), QString::fromLatin1(answer.mid(half)));
    if (b.split(QLatin1Char('.')).size() != 4)
        __builtin_trap();
    return 0;
}
