// What the dock simulator writes reads as the real dock's files do.
#include <gtest/gtest.h>

#include "DockFiles.h"
#include "logview/EventLog.h"
#include "logview/TestResult.h"

TEST(SimulatedFiles, EveryResultVariantReads)
{
    QRandomGenerator rng(3);
    docksim::TestResult t;
    t.serial = QStringLiteral("KR1");
    t.dockSerial = QStringLiteral("DK1");
    t.gas = 3; // SO2
    t.when = QDateTime(QDate(2021, 3, 15), QTime(14, 5, 9));
    t.concentration = 25;
    t.pass = false;
    t.lowerCaseWords = true;
    const uint8_t codes[] = {DOCKTEST_OK, DOCKTEST_OK, DOCKTEST_OK, DOCKTEST_NO_GAS};
    for (int v = 0; v < 4; ++v) {
        t.variant = v;
        const QByteArray xml = docksim::TestResultXml(t, rng);
        RDockTestInfo r;
        EXPECT_EQ(GetDockTestInfoFromData(TEST_KIND_BUMP, xml, r), codes[v]) << v;
        EXPECT_EQ(r.mSN, "KR1") << v;
        EXPECT_EQ(r.mOverAllResult, "FAIL") << v;
        EXPECT_EQ(testresult::GetTestResultFromData(xml), "FAIL") << v;
        EXPECT_DOUBLE_EQ(r.mDate, EncodeDateTime(2021, 3, 15, 14, 5, 9)) << v;
        if (codes[v] == DOCKTEST_OK) {
            EXPECT_EQ(r.mGasInfo.mName, "SO2") << v;
        }
    }
}

TEST(SimulatedFiles, RepeatedAndEchoedEventsAreDropped)
{
    const QDateTime t0(QDate(2021, 3, 10), QTime(8, 0, 0));
    const QByteArray csv = docksim::EventCsv(QStringLiteral("KR1"), 2, t0.addDays(1),
                                             {{t0, 8, 20.0, QStringLiteral("LOW"), {}},         // written twice
                                              {t0.addSecs(60), 10, 21.0, QStringLiteral("HIGH"), {}}, // echo 3 s later
                                              {t0.addSecs(120), 3, 22.0, QStringLiteral("HIGH"), QStringLiteral("BUMP")}});
    const RGDEventFile f = ParseGDEventText(csv);
    ASSERT_TRUE(f.mValid);
    EXPECT_EQ(FindGDEventSensor(f.mHead), 3); // O2
    EXPECT_EQ(f.mEvents.size(), 5);
    const auto rows = MergeGDEvents({f.mEvents}, EncodeDateTime(2021, 3, 15, 0, 0, 0));
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1].mDuration, "1"); // the echo is the newer of the pair
    EXPECT_EQ(rows[0].mOption, "BUMP");
}
