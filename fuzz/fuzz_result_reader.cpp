// The test-result reader and the log browser's quick probe on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "logview/TestResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RDockTestInfo r;
    const uint8_t code = GetDockTestInfoFromData(TEST_KIND_BUMP, bytes, r);
    if (code == DOCKTEST_NO_FILE || code > DOCKTEST_NO_GAS)
        __builtin_trap();
    // A recognised gas always names one of the four table positions.
    if (code == DOCKTEST_OK && (r.mGasInfo.mSensor < 1 || r.mGasInfo.mSensor > 4))
        __builtin_trap();
    const QString word = testresult::GetTestResultFromData(bytes);
    if ((code == DOCKTEST_BAD_XML) != (word == QLatin1String("ERROR")))
        __builtin_trap();
    return 0;
}
