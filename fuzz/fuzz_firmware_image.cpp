// Firmware images come from the dock and from files the user picks: any bytes
// must give a result code, never a crash or a read past the image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>

#include <QByteArray>
#include <QString>

#include "link/UnitDef.h"

namespace {

void checkAll(const QByteArray& image)
{
    QString desc;
    std::array<uint8_t, 4> ver{};
    for (uint8_t kind : {DOCK_ID, GD_ID, UNIT_FWTYPE_GD2, uint8_t(0)}) {
        const uint8_t r = TUnitDef::CheckFirmwareImage(kind, image, desc, ver);
        if (r == PROGRAM_OK) {
            // a valid image always says which version it is
            if (desc.isEmpty() || ver[3] != 0)
                __builtin_trap();
        } else if (!desc.isEmpty()) {
            __builtin_trap();
        }
    }
}

// The input repeated or cut to exactly size bytes, so the checksum paths run.
QByteArray fitted(const uint8_t* data, size_t size, int target)
{
    QByteArray out(target, '\0');
    if (size == 0)
        return out;
    char* p = out.data();
    for (int pos = 0; pos < target;) {
        const int n = int(std::min<size_t>(size, size_t(target - pos)));
        std::memcpy(p + pos, data, size_t(n));
        pos += n;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > size_t(DOCK_IMG_SIZE) + 16)
        return 0;
    checkAll(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    checkAll(fitted(data, size, GD_IMG_SIZE));
    // the dock checksum over a quarter megabyte is slower: only for some inputs
    if (size > 0 && (data[0] & 7) == 0)
        checkAll(fitted(data, size, DOCK_IMG_SIZE));
    // an instrument image whose header marks it as one
    QByteArray gd = fitted(data, size, GD_IMG_SIZE);
    gd[2] = char(GD_ID);
    checkAll(gd);
    return 0;
}
