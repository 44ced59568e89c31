// Datagrams on the reply port: whatever arrives, from whoever, the reply parser
// must stay inside the room the command reserved and give one of its codes.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "link/udp/UdpSkt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > 6000)
        return 0;
    static TUdpSkt* udp = new TUdpSkt;
    static const uint8_t modes[] = {UDPSKT_REVTYPE_TEXT, UDPSKT_REVTYPE_BIN, UDPSKT_REVTYPE_TXTDATA};
    const uint8_t mode = modes[data[0] % 3];
    const qint64 room = qint64(data[1]) * 16;
    udp->ResetReply(mode, room);
    // The rest is split into up to four datagrams of a chain at the given cut.
    const QByteArray rest(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));
    const qsizetype cut = std::max<qsizetype>(1, qsizetype(data[2]) * 8);
    for (qsizetype pos = 0, n = 0; pos < rest.size() && n < 4; pos += cut, ++n) {
        if (n > 0)
            udp->ResetReply(UDPSKT_REVTYPE_IGNORE, 0);
        udp->OnDataReceived(rest.mid(pos, cut), QStringLiteral("127.0.0.1"));
        const uint8_t r = udp->FRxData.mResult;
        // NOREPLY: a datagram that cannot answer the request in flight is passed over and
        // the exchange goes on waiting.
        if (!(r <= UDPSKT_COMM_MORE || r == UDPSKT_COMM_NORESULT || r == UDPSKT_COMM_WRONG_TERMINATE ||
              r == UDPSKT_COMM_TOOLONG || (r >= 199 && r <= 210) || r == UDPSKT_COMM_NOREPLY))
            __builtin_trap();
        if (udp->FBinDataPos > room || udp->FBinData.size() != udp->FBinDataPos)
            __builtin_trap();
        if (r != UDPSKT_COMM_MORE)
            break;
    }
    return 0;
}
