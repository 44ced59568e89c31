#include <gtest/gtest.h>

#include "logview/EventLog.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

constexpr double kSec = 1.0 / 86400.0;
const TDateTime kNow = EncodeDateTime(2021, 3, 15, 12, 0, 0);

RGDEvent ev(TDateTime d, const char* alarm = "HIGH")
{
    RGDEvent e;
    e.mDate = d;
    e.mDuration = QStringLiteral("10");
    e.mAlarm = QLatin1String(alarm);
    return e;
}

QByteArray eventFile(const QByteArray& lines)
{
    return QByteArrayLiteral("Gaviro SG SO2 Event Log\r\nSerial Number,SN1\r\nDate,Time,Duration,Reading(ppm),Alarm,Option\r\n")
           + lines;
}

} // namespace

TEST(EventReader, SplitsHeadAndEventLines)
{
    const RGDEventFile f = ParseGDEventText(eventFile(
        "21-03-15,10:00:00,25,12.5,HIGH,BUMP,extra,more,fields\r\n"
        "21-03-15, 10:00:30\r\n"
        "\r\n"
        "21-02-30,10:00:00,5,1,LOW,\n"
        "short"));
    ASSERT_TRUE(f.mValid);
    ASSERT_EQ(f.mHead.size(), 3);
    EXPECT_EQ(FindGDEventSensor(f.mHead), 4); // "SO2" before "O2"
    ASSERT_EQ(f.mEvents.size(), 5);
    EXPECT_DOUBLE_EQ(f.mEvents[0].mDate, EncodeDateTime(2021, 3, 15, 10, 0, 0));
    EXPECT_EQ(f.mEvents[0].mDuration, "25");
    EXPECT_EQ(f.mEvents[0].mReading, "12.5");
    EXPECT_EQ(f.mEvents[0].mAlarm, "HIGH");
    EXPECT_EQ(f.mEvents[0].mOption, "BUMP");
    // Missing fields are empty; leading blanks go.
    EXPECT_DOUBLE_EQ(f.mEvents[1].mDate, EncodeDateTime(2021, 3, 15, 10, 0, 30));
    EXPECT_EQ(f.mEvents[1].mDuration, "");
    EXPECT_EQ(f.mEvents[2].mDate, 0);   // empty line
    EXPECT_EQ(f.mEvents[3].mDate, 0);   // 30 February
    EXPECT_EQ(f.mEvents[3].mAlarm, "LOW");
    EXPECT_EQ(f.mEvents[4].mDate, 0);
}

TEST(EventReader, NoDurationLineMeansNoEvents)
{
    const RGDEventFile f = ParseGDEventText("Gaviro SG CO Event Log\r\n21-03-15,10:00:00,25,1,HIGH,\r\n");
    EXPECT_FALSE(f.mValid);
    EXPECT_TRUE(f.mEvents.isEmpty());
    EXPECT_FALSE(ParseGDEventText({}).mValid);
    EXPECT_TRUE(ParseGDEventText("duration").mValid); // any case, header on the last line
    EXPECT_EQ(FindGDEventSensor({QStringLiteral("gaviro sg co2")}), 2);
    EXPECT_EQ(FindGDEventSensor({QStringLiteral("nothing"), QStringLiteral("o2 x")}), 3);
    EXPECT_EQ(FindGDEventSensor({QStringLiteral("nothing")}), 0);
}

TEST(EventMerge, DuplicatesAndTheFiveSecondRule)
{
    const TDateTime t = EncodeDateTime(2021, 3, 10, 8, 0, 0);
    // 0.4 s apart in different files: one event, the first read.
    auto rows = MergeGDEvents({{ev(t, "HIGH")}, {ev(t + 0.4 * kSec, "LOW")}}, kNow);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].mAlarm, "HIGH");
    // 0.5 s apart still counts as the same event; 1 s apart not, but then the 5 s rule drops it.
    EXPECT_EQ(MergeGDEvents({{ev(t)}, {ev(t + 0.5 * kSec)}}, kNow).size(), 1);
    // 3 s apart: the newer one stays.
    rows = MergeGDEvents({{ev(t, "OLD"), ev(t + 3 * kSec, "NEW")}}, kNow);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].mAlarm, "NEW");
    // 5 s is not more than 5 s; 6 s apart: both, newest first.
    EXPECT_EQ(MergeGDEvents({{ev(t), ev(t + 5 * kSec)}}, kNow).size(), 1);
    rows = MergeGDEvents({{ev(t, "OLD"), ev(t + 6 * kSec, "NEW")}}, kNow);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].mAlarm, "NEW");
    // Thinning compares with the last kept event, not the last one seen.
    rows = MergeGDEvents({{ev(t), ev(t + 3 * kSec), ev(t + 6 * kSec), ev(t + 9 * kSec)}}, kNow);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_DOUBLE_EQ(rows[0].mDate, t + 9 * kSec);
    EXPECT_DOUBLE_EQ(rows[1].mDate, t + 3 * kSec);
}

TEST(EventMerge, FutureAndUndatedEvents)
{
    const TDateTime t = EncodeDateTime(2021, 3, 10, 8, 0, 0);
    auto rows = MergeGDEvents({{ev(0, "UNDATED"), ev(t), ev(kNow + 548, "FAR"), ev(kNow + 464, "NEAR")}}, kNow);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].mAlarm, "NEAR");
    EXPECT_EQ(rows[2].mAlarm, "UNDATED"); // kept, sorted last
    EXPECT_EQ(MergeGDEvents({{ev(kNow + 465)}}, kNow).size(), 0);
    EXPECT_TRUE(MergeGDEvents({}, kNow).isEmpty());
}

TEST(EventMerge, ReadsTheInstrumentsFilesFromTheStagingFolder)
{
    ScopedTempRoot root;
    const QString dir = root.path() + "/LOG/GaviroEVENT/";
    writeAll(dir + "SN1_EVENT_2103100800.CSV", eventFile("21-03-10,08:00:00,5,1,HIGH,\r\n21-03-10,08:10:00,5,1,LOW,\r\n"));
    writeAll(dir + "sn1_event_2103110800.csv", eventFile("21-03-11,08:00:00,5,1,HIGH,\r\n21-03-10,08:10:00,9,1,LOW,\r\n"));
    writeAll(dir + "SN2_EVENT_2103100800.CSV", eventFile("21-03-12,08:00:00,5,1,HIGH,\r\n"));
    writeAll(dir + "SN1_EVENT_2103120800.CSV", "no header\r\n21-03-13,08:00:00,5,1,HIGH,\r\n");
    writeAll(dir + "SN1_EVENT_2103130800.TXT", eventFile("21-03-14,08:00:00,5,1,HIGH,\r\n"));

    const auto rows = DrawGDEvent(dir, QStringLiteral("sn1"), kNow);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_DOUBLE_EQ(rows[0].mDate, EncodeDateTime(2021, 3, 11, 8, 0, 0));
    EXPECT_EQ(rows[1].mDuration, "5"); // the duplicate from the later file was dropped
    EXPECT_TRUE(DrawGDEvent(dir, QStringLiteral("  "), kNow).isEmpty());
    EXPECT_TRUE(DrawGDEvent(root.path() + "/missing/", QStringLiteral("SN1"), kNow).isEmpty());
}
