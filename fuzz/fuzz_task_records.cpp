// The bay task records as the dock sends them: whatever the bytes, the monitor's
// tables get texts of their own tables and nothing is read past a record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/serial/DockComm.h"
#include "service/TaskMonitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TDockComm* comm = new TDockComm;
    static TTaskMonitor* m = new TTaskMonitor(*comm);
    RTask task{};
    RBayTaskArr bays{};
    RBayResArr res{};
    RGDInfoArr gd{};
    RLogInfo log{};
    size_t pos = 0;
    auto take = [&](void* to, size_t n) {
        const size_t k = std::min(n, size - pos);
        std::memcpy(to, data + pos, k);
        pos += k;
    };
    uint8_t usb = 0, pick = 0;
    take(&pick, 1);
    take(&task, sizeof task);
    take(&usb, 1);
    take(&bays, sizeof bays);
    take(&res, sizeof res);
    take(&gd, sizeof gd);
    take(&log, sizeof log);
    m->ApplyStatus(task, usb, bays);
    m->ApplyResult(res, gd);
    m->ApplyLog(pick % 4, (pick >> 2) % 2, log);
    if (m->ResultCsv().isEmpty() || m->LogCsv().isEmpty())
        __builtin_trap();
    for (int c = 1; c < TTaskMonitor::LOG_COLS; ++c)
        if (m->Curve(c).size() > 125)
            __builtin_trap();
    return 0;
}
