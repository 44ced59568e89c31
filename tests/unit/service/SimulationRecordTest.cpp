// The simulation records, byte for byte.
#include <gtest/gtest.h>

#include "service/ServiceCommands.h"

namespace {
QByteArray bytes(std::initializer_list<int> v)
{
    QByteArray b;
    for (int x : v)
        b += char(x);
    return b;
}
} // namespace

TEST(SimulationRecord, AlarmEvent)
{
    RSimEvent e;
    e.mSN = "GD123456789";
    e.mSensor = 1; // CO
    e.mType = 1;   // HIGH
    e.mLevel = 12.5;
    e.mDuration = 300;
    const QByteArray r = SimEventRecord(e);
    ASSERT_EQ(r.size(), 18);
    EXPECT_EQ(r.left(12), QByteArray("GD123456789") + '\0');
    EXPECT_EQ(r.mid(12), bytes({2, 1, 0, 125, 1, 44}));
}

TEST(SimulationRecord, BumpAndCalibration)
{
    RSimTest t;
    t.mSN = "ABC";
    t.mSensor = 3; // SO2
    t.mZeroPre = -0.3;
    t.mZero = 0.04; // rounds to 0
    t.mZeroTime = 300; // one byte: clamped, never wrapped to 44
    t.mSpanPre = 25.0;
    t.mSpan = 24.96;
    t.mSpanTime = 5;
    const QByteArray r = SimTestRecord(t);
    ASSERT_EQ(r.size(), 23);
    EXPECT_EQ(r.left(12), QByteArray("ABC") + QByteArray(9, '\0')) << "three characters and nine zero bytes";
    EXPECT_EQ(r.mid(12), bytes({4, 0xFF, 0xFD, 0, 0, 255, 0, 250, 0, 250, 5}));
}

TEST(SimulationRecord, SerialAndValueLimits)
{
    // A longer serial number is sent whole; each character as its low byte.
    EXPECT_EQ(SimSerialBytes("ABCDEFGHIJKLM"), QByteArray("ABCDEFGHIJKLM"));
    EXPECT_EQ(SimSerialBytes("").size(), 12);
    // Values past the 16-bit range are clamped, not wrapped into small numbers.
    EXPECT_EQ(SimTenths(3276.7), 32767);
    EXPECT_EQ(SimTenths(1e9), 32767);
    EXPECT_EQ(SimTenths(-1e9), 0x8000);
    EXPECT_EQ(SimTenths(-0.1), 0xFFFF);
    EXPECT_EQ(SimTenths(std::numeric_limits<double>::quiet_NaN()), 0);
    RSimEvent e;
    e.mDuration = 70000;
    EXPECT_EQ(SimEventRecord(e).right(2), bytes({0xFF, 0xFF}));
    EXPECT_TRUE(IsServiceSerialText("TS-0001 A"));
    EXPECT_FALSE(IsServiceSerialText(QString::fromUtf8("TS\xC3\xBC")));
    EXPECT_FALSE(IsServiceSerialText(QStringLiteral("TS\t1")));
}
