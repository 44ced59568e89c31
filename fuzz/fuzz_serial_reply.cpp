// Bytes from the cable: whatever arrives, the reply decoder must stay inside its
// buffer and give one of its result codes.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QVector>

#include "link/serial/DockComm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 8192)
        return 0;
    static TDockComm* comm = new TDockComm;
    comm->ResetDecoder(data[0]);
    // Fed in pieces the way reads deliver them; the second byte picks the piece size.
    const size_t step = size_t(data[1] % 64) + 1;
    for (size_t pos = 2; pos < size; pos += step)
        comm->FeedBytes(data + pos, qsizetype(std::min(step, size - pos)));
    const RComm& c = comm->FComm;
    if (c.mReadLength < 0 || c.mReadLength > MAX_BUFFER)
        __builtin_trap();
    const uint8_t st = c.mState;
    if (!(st <= DOCKCOMM_COMM_CHECKSUM || st == DOCKCOMM_COMM_TIMEOUT))
        __builtin_trap();
    if (st == DOCKCOMM_COMM_OK) {
        const QByteArray reply = comm->ReplyData();
        if (reply.size() > DOCKCOMM_MAX_REPLY)
            __builtin_trap();
        // What a good frame carries goes on to the block parsers.
        QVector<RFileList> list;
        bool end = false;
        TDockComm::ParseListBlock(reply, data[0], QStringLiteral("/LOG/"), list, end);
        RLoadBlock block;
        if (TDockComm::ParseLoadBlock(reply, data[0], (data[1] & 1) != 0, block) &&
            (block.mStart < 0 || block.mLength < 0 || block.mStart + block.mLength > reply.size()))
            __builtin_trap();
    }
    return 0;
}
