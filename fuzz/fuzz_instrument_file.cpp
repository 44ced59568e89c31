// The instrument configuration reader on arbitrary bytes, then the file text
// written back from what was read.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "app/GDConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TGDPageModel model;
    const int column = 1 + static_cast<int>(size % CFG_MAX_GD);
    model.ReadColumn(column, bytes);
    model.FinishRead();
    model.SetGDOptSel(column); // commits the editors as leaving the column does
    const QByteArray text = model.ColumnFileText(column);
    // Ten lines, each closed by CR LF, nothing else can open a line.
    if (!text.startsWith("[CONFIG]\r\n") || text.count("\r\n") != 10 || text.count('\n') != 10)
        __builtin_trap();
    const auto& o = model.FGDOpt[column];
    const RSensor& s = FSensor[FGDSensorList[column]];
    if (o[GDOPT_ALARMLOW].mValue < s.mAlarmMin || o[GDOPT_ALARMLOW].mValue > s.mAlarmMax
        || o[GDOPT_CALINT].mValue < 0 || o[GDOPT_CALINT].mValue > CFG_CALINT_MAX)
        __builtin_trap();
    return 0;
}
