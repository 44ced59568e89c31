#include <gtest/gtest.h>

#include "app/AppState.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

const TDateTime kNow = EncodeDateTime(2021, 3, 15, 12, 0, 0); // after the 06:00 day start

QByteArray result(const char* gas, const char* overall, const char* date, const char* time = "10:00:00",
                  const char* location = "Hall 1")
{
    return QStringLiteral("<R><INFO><INSTRUMENT>DOCK1</INSTRUMENT><LOCATION>%1</LOCATION><DATE>%2</DATE>"
                          "<TIME>%3</TIME><OVERALLRESULT>%4</OVERALLRESULT></INFO>"
                          "<TEST><SENSOR><GAS>%5</GAS></SENSOR></TEST></R>")
        .arg(QLatin1String(location), QLatin1String(date), QLatin1String(time), QLatin1String(overall),
             QLatin1String(gas))
        .toUtf8();
}

QByteArray events(const QByteArray& lines, const QByteArray& gas = "CO")
{
    return "Gaviro SG " + gas + " Event Log\r\nDate,Time,Duration,Reading,Alarm,Option\r\n" + lines;
}

struct Fold {
    ScopedTempRoot root;
    AppState state;
    TReportStore store{state};
    QVector<RUnitLogList> log;
    Fold()
    {
        state.FLogDestDir = root.path() + "/dest/";
        store.Now = [] { return kNow; };
    }
    // Puts a file into the local store and the log list; returns its index.
    int add(const QString& alias, const QString& kind, const QString& name, const QByteArray& content)
    {
        if (!content.isNull())
            writeAll(state.FLogDestDir + "KM1/" + alias.trimmed() + "/" + kind + "/" + name, content);
        RUnitLogList e;
        e.mName = "/LOG/TEST/" + name;
        e.mAliasName = alias;
        log.append(e);
        return int(log.size()) - 1;
    }
    RDockReport& rec(int i = 0) { return store.FReport[i]; }
};

} // namespace

TEST(ReportFold, CalibrationResultsKeepTheNewestFileAndLatestDates)
{
    Fold f;
    const int newer = f.add("SN1", "CAL", "SN1_CAL_2103101000.XML", result("SO2", "pass", "21-03-10"));
    const int older = f.add("SN1", "CAL", "sn1_cal_2103011000.xml", result("CO", "FAIL", "21-03-01", "10:00:00", "Old"));
    const int failed = f.add("SN1", "CAL", "SN1_CAL_2103051000.XML", result("SO2", "FAIL", "21-03-05"));
    f.store.MakeCalResult(f.log, {newer, older, failed});
    ASSERT_EQ(f.store.FReport.size(), 1);
    const RDockReport& r = f.rec();
    EXPECT_EQ(r.mSN, "SN1");
    EXPECT_EQ(r.mLastCalFile, "SN1_CAL_2103101000.XML"); // ordinal, upper-cased
    EXPECT_DOUBLE_EQ(r.mLastCalPass, EncodeDateTime(2021, 3, 10, 10, 0, 0)); // lower-case "pass" counts
    EXPECT_DOUBLE_EQ(r.mLastCalFail, EncodeDateTime(2021, 3, 5, 10, 0, 0)); // never moves back
    // The descriptive fields come from the last file read, whatever its age.
    EXPECT_EQ(r.mSensor, 4);
    EXPECT_EQ(r.mSensorName, "SO2");
    EXPECT_EQ(r.mModel, "Gaviro SG SO2");
    EXPECT_EQ(r.mInstSN, "DOCK1");
    EXPECT_EQ(r.mLastBumpPass, 0);
}

TEST(ReportFold, UnreadableResultsLeaveTheRecord)
{
    Fold f;
    const int missing = f.add("SN2 ", "BUMP", "SN2_BUMP_2103101000.XML", QByteArray());
    const int broken = f.add("SN2 ", "BUMP", "SN2_BUMP_2103111000.XML", "<R><INFO>");
    const int noGas = f.add("SN2 ", "BUMP", "SN2_BUMP_2103121000.XML", result("NH3", "PASS", "21-03-12"));
    f.store.MakeBumpResult(f.log, {missing, broken, noGas, 99, -1});
    ASSERT_EQ(f.store.FReport.size(), 1);
    EXPECT_EQ(f.rec().mSN, "SN2 "); // the alias as it stands
    EXPECT_EQ(f.rec().mLastBumpFile, "");
    EXPECT_EQ(f.rec().mLastBumpPass, 0);

    const int good = f.add("SN2 ", "BUMP", "SN2_BUMP_2103131000.XML", result("H2S", "PASS", "21-03-13"));
    f.store.MakeBumpResult(f.log, {good});
    ASSERT_EQ(f.store.FReport.size(), 1); // the trailing blank still finds it
    EXPECT_EQ(f.rec().mLastBumpFile, "SN2_BUMP_2103131000.XML");
    EXPECT_GT(f.rec().mLastBumpPass, 0);
}

TEST(ReportFold, SerialsIgnoreLetterCaseAndLongOnesFindTheirRecord)
{
    Fold f;
    const QString longSn = QStringLiteral("ABCDEFGHIJKLMNOPQRS");
    f.store.MakeCalResult(f.log, {f.add("abc", "CAL", "abc_CAL_2103101000.XML", result("CO", "PASS", "21-03-10")),
                                  f.add("ABC", "CAL", "ABC_CAL_2103101000.XML", result("CO", "PASS", "21-03-10")),
                                  f.add(longSn, "CAL", "L_CAL_2103101000.XML", result("CO", "PASS", "21-03-10")),
                                  f.add(longSn, "CAL", "L_CAL_2103111000.XML", result("CO", "PASS", "21-03-11"))});
    ASSERT_EQ(f.store.FReport.size(), 2); // "abc" and "ABC" are one instrument
    EXPECT_EQ(f.rec(0).mSN, "abc");
    EXPECT_EQ(f.rec(0).mLastCalFile, "abc_CAL_2103101000.XML");
    EXPECT_EQ(f.rec(1).mSN, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(f.rec(1).mLastCalFile, "L_CAL_2103111000.XML");
}

TEST(ReportEvents, WindowStartInDaysAndHours)
{
    Fold f;
    AppSettings& s = f.state.settings;
    s.ConfigSetAlertEventCombo = 1;
    s.ConfigSetAlertEventEdit = 2;
    s.ConfigSetAlertRefTimePicker = 0.25; // 06:00
    EXPECT_DOUBLE_EQ(f.store.EventWindowStart(kNow), EncodeDateTime(2021, 3, 14, 6, 0, 0));
    EXPECT_DOUBLE_EQ(f.store.EventWindowStart(EncodeDateTime(2021, 3, 15, 5, 59, 59)),
                     EncodeDateTime(2021, 3, 13, 6, 0, 0));
    EXPECT_DOUBLE_EQ(f.store.EventWindowStart(EncodeDateTime(2021, 3, 15, 6, 0, 0)),
                     EncodeDateTime(2021, 3, 14, 6, 0, 0));
    s.ConfigSetAlertEventCombo = 0;
    s.ConfigSetAlertEventEdit = 1;
    EXPECT_NEAR(f.store.EventWindowStart(kNow), EncodeDateTime(2021, 3, 15, 9, 0, 0), 1e-9);
    EXPECT_EQ(s.ConfigSetAlertEventEdit, 3);
    s.ConfigSetAlertEventEdit = 5;
    EXPECT_NEAR(f.store.EventWindowStart(kNow), EncodeDateTime(2021, 3, 15, 7, 0, 0), 1e-9);
}

TEST(ReportEvents, CountsOnlyRealAlarmsInsideTheWindow)
{
    Fold f; // window: one day from 2021-03-15 06:00
    const int i = f.add("SN1", "EVENT", "SN1_EVENT_2103151100.CSV",
                        events("21-03-15,06:00:00,100,1,HIGH,\r\n"      // at the window start: not after it
                               "21-03-15,07:00:00,10,1,HIGH,\r\n"       // counted
                               "21-03-15,07:00:04,20,1,HIGH,\r\n"       // 4 s later: not counted
                               "21-03-15,07:00:10,30,1,low,\r\n"        // 6 s after the last counted
                               "21-03-15,07:01:00,40,1,HIGH,bump\r\n"   // during a bump test
                               "21-03-15,07:02:00,50,1,STEL,\r\n"       // another kind
                               "21-03-15,07:03:00,x,1,HIGH,\r\n"        // duration not a number: 0
                               "22-09-15,07:03:00,60,1,HIGH,\r\n"       // more than 365 days ahead
                               "21-03-15,07:00:30\r\n"                  // short line
                               "21-02-31,07:00:30,70,1,HIGH,\r\n"));    // invalid date
    f.store.MakeEventResult(f.log, {i});
    ASSERT_EQ(f.store.FReport.size(), 1);
    const RDockReport& r = f.rec();
    EXPECT_EQ(r.mHighAlarmTime, 10);
    EXPECT_EQ(r.mLowAlarmTime, 30);
    EXPECT_DOUBLE_EQ(r.mLastEvent, EncodeDateTime(2021, 3, 15, 7, 3, 0));
    EXPECT_EQ(r.mSensor, 2);
    EXPECT_EQ(r.mSensorName, "CO");
    EXPECT_EQ(r.mModel, "Gaviro SG CO");
    EXPECT_EQ(r.mLastEventFile, "SN1_EVENT_2103151100.CSV");
    EXPECT_EQ(r.mLastEventCheckFile, "SN1_EVENT_2103151100.CSV");
    EXPECT_DOUBLE_EQ(f.store.FReportHeader.mEventStartTime, EncodeDateTime(2021, 3, 15, 6, 0, 0));
}

TEST(ReportEvents, AnOlderFileCannotLowerTheResult)
{
    Fold f;
    const int newer = f.add("SN1", "EVENT", "SN1_EVENT_2103151100.CSV", events("21-03-15,10:00:00,90,1,HIGH,\r\n", "SO2"));
    const int older = f.add("SN1", "EVENT", "SN1_EVENT_2103150800.CSV", events("21-03-15,08:00:00,15,1,LOW,\r\n", "O2"));
    f.store.MakeEventResult(f.log, {newer, older});
    const RDockReport& r = f.rec();
    EXPECT_EQ(r.mHighAlarmTime, 90);
    EXPECT_EQ(r.mLowAlarmTime, 0);
    EXPECT_DOUBLE_EQ(r.mLastEvent, EncodeDateTime(2021, 3, 15, 10, 0, 0));
    EXPECT_EQ(r.mLastEventFile, "SN1_EVENT_2103151100.CSV");
    EXPECT_EQ(r.mSensorName, "SO2"); // found once, then kept

    // A later save of a file without new events keeps what was counted.
    const int same = f.add("SN1", "EVENT", "SN1_EVENT_2103151200.CSV", events(""));
    f.store.MakeEventResult(f.log, {same});
    EXPECT_EQ(f.rec().mHighAlarmTime, 90);
    EXPECT_EQ(f.rec().mLastEventFile, "SN1_EVENT_2103151200.CSV");

    // Once the last event has left the window, its times are dropped.
    f.store.Now = [] { return kNow + 2; };
    f.store.MakeEventResult(f.log, {same});
    EXPECT_EQ(f.rec().mHighAlarmTime, 0);
    EXPECT_DOUBLE_EQ(f.rec().mLastEvent, EncodeDateTime(2021, 3, 15, 10, 0, 0));
}

TEST(ReportEvents, DataAfterTransmissionAccumulates)
{
    Fold f;
    f.state.settings.ConfigSetAlertEventAfterCheck = true;
    const int a = f.add("SN1", "EVENT", "SN1_EVENT_2101011000.CSV", events("21-01-01,10:00:00,5,1,HIGH,\r\n"));
    const int b = f.add("SN1", "EVENT", "SN1_EVENT_2103151000.CSV",
                        events("21-01-01,10:00:00,5,1,HIGH,\r\n21-03-15,10:00:00,7,1,HIGH,\r\n"));
    f.store.MakeEventResult(f.log, {a, b});
    EXPECT_EQ(f.rec().mHighAlarmTime, 12); // old events count; the repeated one only once
    EXPECT_DOUBLE_EQ(f.store.FReportHeader.mEventStartTime, EncodeDateTime(2021, 1, 1, 10, 0, 0));

    // The Save Log clean-up does nothing with After.
    f.store.ClearAlarmsBeforeWindow();
    EXPECT_EQ(f.rec().mHighAlarmTime, 12);
    f.state.settings.ConfigSetAlertEventAfterCheck = false;
    f.rec().mLastEvent = EncodeDateTime(2021, 3, 14, 5, 0, 0);
    f.store.ClearAlarmsBeforeWindow();
    EXPECT_EQ(f.rec().mHighAlarmTime, 0);
}

TEST(ReportCheck, AlertBits)
{
    Fold f;
    AppSettings& s = f.state.settings;
    s.ConfigSetAlertBumpEdit = 100;
    s.ConfigSetAlertCalEdit = 30;
    auto bits = [&](TDateTime bp, TDateTime bf, TDateTime cp, TDateTime cf, int high = 0) {
        f.store.FReport = {GetInitReport()};
        RDockReport& r = f.rec();
        r.mLastBumpPass = bp;
        r.mLastBumpFail = bf;
        r.mLastCalPass = cp;
        r.mLastCalFail = cf;
        r.mHighAlarmTime = high;
        f.store.CheckResult();
        return f.rec().mNewIdx;
    };
    const TDateTime d = kNow - 10;
    EXPECT_EQ(bits(0, d, d, 0), REPORT_INDEX_BUMP_FAIL);
    EXPECT_EQ(bits(0, 0, d, 0), REPORT_INDEX_BUMP_NOT);
    EXPECT_EQ(bits(d, d, d, d), 0);                                   // same date-time: no failure
    EXPECT_EQ(bits(d - 1, d, d, d + 1), REPORT_INDEX_BUMP_FAIL | REPORT_INDEX_CAL_FAIL);
    EXPECT_EQ(bits(kNow - 101, 0, kNow - 31, 0), REPORT_INDEX_BUMP_OUTDATE | REPORT_INDEX_CAL_OUTDATE);
    EXPECT_EQ(bits(kNow - 100, 0, kNow - 30, 0), 0);
    EXPECT_EQ(bits(kNow + 500, 0, d, 0), 0);                          // a pass in the future is not outdated
    EXPECT_EQ(bits(d, 0, 0, 0), REPORT_INDEX_CAL_NOT);
    EXPECT_EQ(bits(d, 0, d, 0, 1), REPORT_INDEX_EVENT);
    s.ConfigSetAlertBumpFailCheck = false;
    s.ConfigSetAlertCalFailCheck = false;
    EXPECT_EQ(bits(0, d, 0, d), 0);
    EXPECT_EQ(bits(kNow - 101, d, 0, 0), REPORT_INDEX_BUMP_OUTDATE); // outdated whatever the box
}

TEST(ReportCheck, SortsBySerialBytesAndMarksNewAlerts)
{
    Fold f;
    for (const char* sn : {"c", "B", "AB", "A", "\xC4"}) {
        RDockReport r = GetInitReport();
        r.mSN = QString::fromLatin1(sn);
        r.mLastBumpPass = r.mLastCalPass = kNow - 1;
        f.store.FReport.append(r);
    }
    f.store.FReport[0].mLastBumpFail = kNow; // "c" bump failed
    f.store.FReport[1].mLowAlarmTime = 3;    // "B" alarm
    f.store.CheckResult();
    QStringList order;
    for (const RDockReport& r : f.store.FReport)
        order << r.mSN;
    EXPECT_EQ(order, (QStringList{"A", "AB", "B", "c", QString::fromLatin1("\xC4")}));
    EXPECT_TRUE(f.rec(2).mNew);
    EXPECT_TRUE(f.rec(3).mNew);
    EXPECT_FALSE(f.rec(0).mNew);
    // A second evaluation: the bump bit was reported, the alarm always counts.
    f.store.CheckResult();
    EXPECT_EQ(f.rec(3).mPrevIdx, REPORT_INDEX_BUMP_FAIL);
    EXPECT_FALSE(f.rec(3).mNew);
    EXPECT_TRUE(f.rec(2).mNew);
}

TEST(ReportStoreLife, ResetAfterEmailAndEventWatermark)
{
    Fold f;
    RDockReport r = GetInitReport();
    r.mSN = "SN1";
    r.mHighAlarmTime = 5;
    r.mLowAlarmTime = 6;
    r.mLastEventFile = "SN1_EVENT_2103101000.CSV";
    f.store.FReport = {r, GetInitReport()};
    f.store.FReportHeader.mEventStartTime = 44000;

    f.store.MakeEventCheckFile();
    EXPECT_EQ(f.rec(0).mLastEventCheckFile, "SN1_EVENT_2103150600.CSV");
    EXPECT_EQ(f.rec(1).mLastEventCheckFile, "");
    f.state.settings.ConfigSetAlertEventAfterCheck = true;
    f.store.MakeEventCheckFile();
    EXPECT_EQ(f.rec(0).mLastEventCheckFile, "SN1_EVENT_2103101000.CSV");

    // The header on disk names an older report than the one just made; the reset
    // after a mail changes neither that nor the state's last report.
    f.store.FReportHeader.mFile = "Report_2021-03-01 06-00-00.Html";
    f.store.FReportHeader.mReportDate = kNow - 14;
    f.state.FLastReportFile = "Report_2021-03-15 11-00-00.Html";
    f.state.FLastReportDate = kNow - 1.0 / 24;
    ASSERT_TRUE(f.store.ResetAfterEmail());
    EXPECT_EQ(f.state.FLastReportFile, "Report_2021-03-15 11-00-00.Html");
    EXPECT_DOUBLE_EQ(f.state.FLastReportDate, kNow - 1.0 / 24);
    TReportStore back(f.state);
    ASSERT_TRUE(back.LoadResult());
    ASSERT_EQ(back.FReport.size(), 2);
    EXPECT_EQ(back.FReport[0].mHighAlarmTime, 0);
    EXPECT_EQ(back.FReport[0].mLowAlarmTime, 0);
    EXPECT_EQ(back.FReport[0].mLastEventCheckFile, "SN1_EVENT_2103101000.CSV");
    EXPECT_DOUBLE_EQ(back.FReportHeader.mLastSendDate, kNow);
    EXPECT_EQ(back.FReportHeader.mEventStartTime, 0);
    EXPECT_EQ(back.FReportHeader.mFile, "Report_2021-03-01 06-00-00.Html");
    EXPECT_DOUBLE_EQ(back.FReportHeader.mReportDate, kNow - 14);
}
