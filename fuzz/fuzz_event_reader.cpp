// The instrument event reader and the event merge on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "logview/EventLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const RGDEventFile f = ParseGDEventText(bytes);
    if (!f.mValid && !f.mEvents.isEmpty())
        __builtin_trap();
    (void)FindGDEventSensor(f.mHead);
    // The same events twice, as from two files: duplicates go, the rest stays thinned.
    const TDateTime now = EncodeDateTime(2021, 3, 15, 12, 0, 0);
    const QVector<RGDEvent> rows = MergeGDEvents({f.mEvents, f.mEvents}, now);
    if (rows.size() > f.mEvents.size())
        __builtin_trap();
    for (qsizetype i = 1; i < rows.size(); ++i) {
        if (rows[i].mDate > rows[i - 1].mDate || (rows[i - 1].mDate - rows[i].mDate) * 86400.0 <= 4.999)
            __builtin_trap();
    }
    return 0;
}
