// The "Report.Bin" loader on arbitrary bytes; what it reads is written back and
// must read the same.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "report/ReportStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RDockReportHeader h;
    QVector<RDockReport> recs;
    DecodeReportBin(bytes, h, recs);
    const QByteArray out = EncodeReportBin(h, recs);
    if (out.size() != REPORT_HEADER_SIZE + recs.size() * REPORT_REC_SIZE_V3)
        __builtin_trap();
    RDockReportHeader h2;
    QVector<RDockReport> recs2;
    DecodeReportBin(out, h2, recs2);
    if (recs2.size() != recs.size() || EncodeReportBin(h2, recs2) != out)
        __builtin_trap();
    return 0;
}
