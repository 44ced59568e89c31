// The due-date and status rules and the sensor-wear line, on made-up instruments.
#include <gtest/gtest.h>

#include "fleet/FleetStatus.h"
#include "support/TestSupport.h"

namespace {

TDateTime at(int y, int m, int d, int h = 10) { return EncodeDateTime(y, m, d, h, 0, 0); }

RFleetInstrument tested()
{
    RFleetInstrument i;
    i.mInstrument = i.mSerial = QStringLiteral("KR1");
    i.mGas = QStringLiteral("CO");
    i.mDock = QStringLiteral("DK1");
    i.mResults = 2;
    i.mLastBump = i.mLastBumpPass = at(2026, 12, 1, 8);
    i.mLastCal = i.mLastCalPass = at(2026, 9, 1, 8);
    return i;
}

RFleetStatusRow eval(const RFleetInstrument& i, TDateTime now, RFleetIntervals dock = {}, int alarms = 0,
                     RFleetPolicy policy = {})
{
    return EvaluateFleetInstrument(i, dock, alarms, policy, now);
}

QStringList reasons(const RFleetStatusRow& r)
{
    QStringList out;
    for (const RFleetReason& x : r.mReasons)
        out << FleetReasonText(x);
    return out;
}

} // namespace

TEST(FleetRules, DueDatesTurnOverdueOnTheDayAfter)
{
    RFleetPolicy p;
    p.mBumpIntervalDays = 30;
    RFleetInstrument i = tested();
    // Bumped 2026-12-01 08:00 with a 30-day interval: due 2026-12-31.
    RFleetStatusRow r = eval(i, at(2026, 12, 31, 23), {}, 0, p);
    EXPECT_EQ(FleetDayText(r.mNextBump), "2026-12-31");
    EXPECT_EQ(r.mStatus, FleetStatus::Ok) << reasons(r).join("; ").toStdString();
    r = eval(i, at(2027, 1, 1, 0), {}, 0, p);
    EXPECT_EQ(r.mStatus, FleetStatus::Overdue);
    EXPECT_EQ(reasons(r), QStringList{"bump test overdue since 2026-12-31"});

    // The default daily bump: due the next day, overdue the day after that.
    EXPECT_EQ(eval(i, at(2026, 12, 2, 23)).mStatus, FleetStatus::Ok);
    EXPECT_EQ(eval(i, at(2026, 12, 3, 0)).mStatus, FleetStatus::Overdue);

    // Calibration 2026-09-01 + 180 days = 2027-02-28; due soon from 7 days before.
    i.mLastBumpPass = i.mLastBump = at(2027, 2, 20);
    EXPECT_EQ(eval(i, at(2027, 2, 20, 23)).mStatus, FleetStatus::Ok);
    r = eval(i, at(2027, 2, 21, 1));
    EXPECT_EQ(r.mStatus, FleetStatus::DueSoon);
    EXPECT_EQ(reasons(r), QStringList{"calibration due on 2027-02-28 (in 7 days)"});
    i.mLastBumpPass = i.mLastBump = at(2027, 2, 28);
    EXPECT_EQ(reasons(eval(i, at(2027, 2, 28, 20))), QStringList{"calibration due today"});
    i.mLastBumpPass = i.mLastBump = at(2027, 3, 1);
    r = eval(i, at(2027, 3, 1, 12));
    EXPECT_EQ(r.mStatus, FleetStatus::Overdue);
    EXPECT_EQ(FleetDayText(r.mNextDue), "2027-02-28");
}

TEST(FleetRules, AFailStandsUntilALaterPass)
{
    const TDateTime now = at(2026, 12, 1, 12);
    RFleetInstrument i = tested();
    i.mLastBumpFail = at(2026, 12, 1, 9); // after the 08:00 pass
    RFleetStatusRow r = eval(i, now);
    EXPECT_EQ(r.mStatus, FleetStatus::Failed);
    EXPECT_EQ(reasons(r), QStringList{"bump test failed on 2026-12-01"});

    // A pass at the very moment of the fail clears it, as a later one does.
    i.mLastBumpPass = i.mLastBumpFail;
    EXPECT_EQ(eval(i, now).mStatus, FleetStatus::Ok);
    // The dock calibrates after a failed bump test: a passed calibration clears it too.
    i.mLastBumpPass = at(2026, 11, 30);
    i.mLastCalPass = at(2026, 12, 1, 10);
    EXPECT_EQ(eval(i, now).mStatus, FleetStatus::Ok);

    // A failed calibration is cleared only by a passed calibration, not by a bump test.
    i = tested();
    i.mLastCalFail = at(2026, 11, 20);
    i.mLastBumpPass = at(2026, 12, 1, 11);
    r = eval(i, now);
    EXPECT_EQ(r.mStatus, FleetStatus::Failed);
    EXPECT_EQ(reasons(r), QStringList{"calibration failed on 2026-11-20"});

    // Several reasons: worst first, the status is the worst.
    i.mLastBumpPass = at(2026, 11, 1);
    r = eval(i, now, {}, 3);
    EXPECT_EQ(reasons(r), (QStringList{"calibration failed on 2026-11-20", "bump test overdue since 2026-11-02",
                                       "3 gas alarms in the last 7 days"}));
    EXPECT_EQ(r.mStatus, FleetStatus::Failed);
}

TEST(FleetRules, APassedCalibrationAfterAFailedBumpRestartsTheBumpClock)
{
    // Bumped and passed in August, failed a bump in November, then passed a calibration:
    // the bump test is due a day after that calibration, not a day after August.
    RFleetInstrument i = tested();
    i.mLastBumpPass = at(2026, 8, 8);
    i.mLastBump = i.mLastBumpFail = at(2026, 11, 28);
    i.mLastCal = i.mLastCalPass = at(2026, 12, 7, 12);
    RFleetStatusRow r = eval(i, at(2026, 12, 8, 18));
    EXPECT_EQ(FleetDayText(r.mNextBump), "2026-12-08");
    EXPECT_EQ(r.mStatus, FleetStatus::Ok) << reasons(r).join("; ").toStdString();
    r = eval(i, at(2026, 12, 9, 8));
    EXPECT_EQ(reasons(r), QStringList{"bump test overdue since 2026-12-08"});

    // Without the calibration the failed bump is the reason, before anything overdue.
    i.mLastCal = i.mLastCalPass = at(2026, 9, 1);
    r = eval(i, at(2026, 12, 9, 8));
    EXPECT_EQ(r.mStatus, FleetStatus::Failed);
    EXPECT_EQ(reasons(r).first(), "bump test failed on 2026-11-28");

    // Calibrated but never bump-tested: the calibration starts the bump clock.
    i = tested();
    i.mLastBump = i.mLastBumpPass = 0;
    i.mLastCal = i.mLastCalPass = at(2026, 12, 1, 8);
    EXPECT_EQ(eval(i, at(2026, 12, 2, 20)).mStatus, FleetStatus::Ok);
    EXPECT_EQ(reasons(eval(i, at(2026, 12, 3, 8))), QStringList{"bump test overdue since 2026-12-02"});
}

TEST(FleetRules, IntervalsFromTheDockWinOverThePolicyWhenSet)
{
    const TDateTime now = at(2026, 12, 20);
    RFleetInstrument i = tested();
    RFleetPolicy p; // bump 1 day, calibration 180
    RFleetStatusRow r = eval(i, now, {}, 0, p);
    EXPECT_FALSE(r.mBumpIntervalFromDock);
    EXPECT_EQ(r.mBumpIntervalDays, 1);
    EXPECT_EQ(r.mStatus, FleetStatus::Overdue);

    r = eval(i, now, {30, 0}, 0, p); // the dock sets a bump interval only
    EXPECT_TRUE(r.mBumpIntervalFromDock);
    EXPECT_FALSE(r.mCalIntervalFromDock);
    EXPECT_EQ(FleetDayText(r.mNextBump), "2026-12-31");
    EXPECT_EQ(r.mCalIntervalDays, 180);
    EXPECT_EQ(r.mStatus, FleetStatus::Ok);

    r = eval(i, now, {30, 60}, 0, p); // 2026-09-01 + 60 days
    EXPECT_EQ(FleetDayText(r.mNextCal), "2026-10-31");
    EXPECT_EQ(reasons(r), QStringList{"calibration overdue since 2026-10-31"});

    p.mCalIntervalDays = 120;
    p.mDueSoonDays = 0;
    EXPECT_EQ(FleetDayText(eval(i, now, {30, 0}, 0, p).mNextCal), "2026-12-30");
    EXPECT_EQ(eval(i, now, {30, 0}, 0, p).mStatus, FleetStatus::Ok);
}

TEST(FleetRules, NeverTestedAndHalfTested)
{
    RFleetInstrument i;
    i.mInstrument = "KR9";
    i.mEventFiles = 1;
    RFleetStatusRow r = eval(i, at(2026, 12, 1));
    EXPECT_EQ(r.mStatus, FleetStatus::Unknown);
    EXPECT_EQ(reasons(r), QStringList{"never tested"});
    EXPECT_EQ(r.mNextDue, 0);
    // Alarms count before the lack of tests.
    r = eval(i, at(2026, 12, 1), {}, 1);
    EXPECT_EQ(r.mStatus, FleetStatus::Alarm);
    EXPECT_EQ(reasons(r), (QStringList{"1 gas alarm in the last 7 days", "never tested"}));

    // Bump-tested but never calibrated: nothing shows it calibrated.
    i = tested();
    i.mLastCal = i.mLastCalPass = 0;
    r = eval(i, at(2026, 12, 1, 12));
    EXPECT_EQ(r.mStatus, FleetStatus::Overdue);
    EXPECT_EQ(reasons(r), QStringList{"no passed calibration on record"});
    // Only a failed bump test: the failure is the reason, not "no passed bump test".
    i = tested();
    i.mLastBumpPass = 0;
    i.mLastBumpFail = at(2026, 12, 1);
    i.mLastCalPass = 0;
    i.mLastCal = 0;
    EXPECT_EQ(reasons(eval(i, at(2026, 12, 1, 12))),
              (QStringList{"bump test failed on 2026-12-01", "no passed calibration on record"}));
}

TEST(FleetRules, StatusWordsAndCounts)
{
    FleetStatus s;
    ASSERT_TRUE(FleetStatusFromKey("Due", &s));
    EXPECT_EQ(s, FleetStatus::DueSoon);
    EXPECT_FALSE(FleetStatusFromKey("late", &s));
    QVector<RFleetStatusRow> rows(4);
    rows[0].mStatus = FleetStatus::Failed;
    rows[1].mStatus = FleetStatus::Ok;
    rows[2].mStatus = FleetStatus::Ok;
    rows[3].mStatus = FleetStatus::DueSoon;
    EXPECT_EQ(FleetCountsText(rows), "1 failed, 1 due soon, 2 OK");
    EXPECT_EQ(FleetCountsText({}), "no instruments");
}

TEST(FleetWear, TheLineAndItsCrossingOfThePassLimit)
{
    // Sensitivity 0.95, 0.90, 0.85 ... every 30 days; the span limit 40 of 50 ppm = 0.8.
    QVector<RFleetResult> cals;
    const TDateTime t0 = at(2026, 1, 1);
    for (int k = 0; k < 4; ++k) {
        RFleetResult r;
        r.mKind = 1;
        r.mDate = t0 + 30 * k;
        r.mSpan.mConcentration = 50;
        r.mSpan.mPreReading = 50 * (0.95 - 0.05 * k);
        r.mSpan.mLowLimit = 40;
        cals.append(r);
    }
    RFleetResult bump; // bump tests carry no sensitivity
    bump.mKind = 2;
    bump.mDate = t0 + 10;
    bump.mSpan.mConcentration = 50;
    bump.mSpan.mPreReading = 1;
    cals.append(bump);

    RFleetWear w = FleetWear(cals, t0 + 90);
    ASSERT_EQ(w.mPoints.size(), 4);
    ASSERT_TRUE(w.mHasLine);
    EXPECT_NEAR(w.mSlopePerDay, -0.05 / 30, 1e-9);
    EXPECT_NEAR(w.lineAt(t0), 0.95, 1e-9);
    EXPECT_NEAR(w.mLimit, 0.8, 1e-9);
    // 0.95 - 0.15 = 0.8 at 90 days: the line reaches the limit on day 90.
    EXPECT_NEAR(w.mPredicted, t0 + 90, 1e-6);
    EXPECT_EQ(FleetWearText(w), "sensor likely to fail calibration around 2026-04");

    // A slower decline that reaches the limit beyond a year: no prediction.
    for (int k = 0; k < 4; ++k)
        cals[k].mSpan.mPreReading = 50 * (0.95 - 0.001 * k);
    w = FleetWear(cals, t0 + 90);
    EXPECT_TRUE(w.mHasLine);
    EXPECT_EQ(w.mPredicted, 0);
    EXPECT_EQ(FleetWearText(w), QString());

    // Two points are no trend; no lower limit gives no prediction.
    cals.resize(2);
    EXPECT_FALSE(FleetWear(cals, t0 + 90).mHasLine);
}
