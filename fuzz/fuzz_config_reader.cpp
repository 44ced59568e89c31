// The dock configuration reader on arbitrary bytes: the shared line tagger and
// value conversions, then the Docking Station page read and the in-place rewrite.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QStringList>

#include "app/DockConfig.h"
#include "util/StUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QStringList tagged = TagIniLines(bytes);
    for (const char* key : {"Calibration", "AUTO Off Time", "IP", "H2S Gas Concentration", "location"}) {
        const QString k = QString::fromLatin1(key);
        (void)GetIniFileDataExists(tagged, k);
        const QString v = GetIniFileData(tagged, k);
        (void)GetIniFileDataInt(v, 0);
        (void)GetIniFileDataFloat(v, 0);
        (void)GetIniFileDataBool(v, false);
        (void)GetIniFileDataStr(v, QStringLiteral("x"));
        (void)CheckIp(v);
    }

    TDockPageModel model;
    model.ReadDockCfg(bytes, 7000);
    if (model.FBottleList[1] < 1 || model.DockCfgAutoPowerOffTimeEdit > 10800)
        __builtin_trap();
    const QByteArray out = model.WriteDockCfg(bytes, 7000);
    // Writing the same values again changes nothing, as long as the file's
    // text encoding reads the same.
    if (ConfigTextIsUtf8(out) == ConfigTextIsUtf8(bytes) && model.WriteDockCfg(out, 7000) != out)
        __builtin_trap();
    return 0;
}
