#pragma once
// Due dates, the red/amber/green status of each instrument and its reasons, and
// the sensor-wear trend, computed from the fleet index's rows. No SQL here.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include "fleet/FleetRecords.h"

class TFleetDb;

// Worst first: the order is the order of severity.
enum class FleetStatus { Failed = 0, Overdue, DueSoon, Alarm, Ok, Unknown };
inline constexpr int FLEET_STATUS_COUNT = 6;

// The site policy (settings FLEET/*).
struct RFleetPolicy {
    int mBumpIntervalDays = 1;   // when the dock's configuration sets none
    int mCalIntervalDays = 180;
    int mDueSoonDays = 7;        // calibration due within this many days: "Due soon"
    int mAlarmDays = 7;          // gas alarms counted over this many days
};

// Why an instrument has its status; rendered in English for files and the command
// line (FleetReasonText) and in the chosen language in the window.
struct RFleetReason {
    enum Kind {
        BumpFailed,    // mDate: the failed test
        CalFailed,
        BumpOverdue,   // mDate: the due date that passed
        CalOverdue,
        BumpNever,     // tested, but no bump test or calibration passed
        CalNever,      // tested, but never calibrated
        CalDueSoon,    // mDate: due date, mCount: days left
        GasAlarms,     // mCount alarms in the last mDays days
        NeverTested,
        AllDue,        // OK: mDate next due
    } mKind;
    TDateTime mDate = 0;
    int mCount = 0;
    int mDays = 0;
};

// One instrument as the Fleet page and "fleet status" show it.
struct RFleetStatusRow {
    RFleetInstrument mInst;
    FleetStatus mStatus = FleetStatus::Unknown;
    int mBumpIntervalDays = 0;
    int mCalIntervalDays = 0;
    bool mBumpIntervalFromDock = false;
    bool mCalIntervalFromDock = false;
    TDateTime mNextBump = 0;     // later passed bump test or calibration + interval (date); 0: none passed
    TDateTime mNextCal = 0;
    TDateTime mNextDue = 0;      // the earlier of the two that are known
    int mAlarms = 0;             // counted alarm events in the policy's period
    QVector<RFleetReason> mReasons; // worst first
};

// The intervals the dock's instrument configuration sets for the gas, when above 0.
struct RFleetIntervals {
    int mBumpDays = 0;
    int mCalDays = 0;
};

// The rules for one instrument at `now` (dates compared by calendar day: a test is
// overdue from the day after its due date).
RFleetStatusRow EvaluateFleetInstrument(const RFleetInstrument& inst, const RFleetIntervals& dock, int alarms,
                                        const RFleetPolicy& policy, TDateTime now);

// Every instrument of the index at `now`, by serial.
QVector<RFleetStatusRow> FleetStatusRows(const TFleetDb& db, const RFleetPolicy& policy, TDateTime now);
// One instrument; false when the index does not know it.
bool FleetStatusRow(const TFleetDb& db, const QString& serial, const RFleetPolicy& policy, TDateTime now,
                    RFleetStatusRow* out);

// "failed", "overdue", "due", "alarm", "ok", "unknown": the command line's and the files' words.
QString FleetStatusKey(FleetStatus s);
bool FleetStatusFromKey(const QString& key, FleetStatus* out);
// "Failed", "Overdue", "Due soon", "Gas alarm", "OK", "Unknown".
QString FleetStatusWord(FleetStatus s);
// English reason, e.g. "bump test failed on 2026-12-01".
QString FleetReasonText(const RFleetReason& r);
QString FleetReasonsText(const RFleetStatusRow& row); // joined with "; "
// "3 failed, 5 overdue, 12 due soon, 180 OK" (counts above 0 only; "no instruments").
QString FleetCountsText(const QVector<RFleetStatusRow>& rows);
QString FleetDayText(TDateTime t); // "yyyy-MM-dd", empty for 0

// Span sensitivity of each calibration (reading before adjustment / applied
// concentration) over time, its least-squares line and, when that line falls to the
// span pass limit within a year, the predicted date.
struct RFleetWearPoint {
    TDateTime mDate = 0;
    double mSensitivity = 0;
};
struct RFleetWear {
    QVector<RFleetWearPoint> mPoints;   // oldest first
    bool mHasLine = false;              // at least three points over more than a day
    double mSlopePerDay = 0;            // sensitivity change per day
    double mIntercept = 0;              // sensitivity at mOrigin
    TDateTime mOrigin = 0;
    bool mHasLimit = false;
    double mLimit = 0;                  // sensitivity at the span's lower pass limit
    TDateTime mPredicted = 0;           // 0: no failure foreseen within a year
    double lineAt(TDateTime t) const { return mIntercept + mSlopePerDay * (t - mOrigin); }
};
RFleetWear FleetWear(const QVector<RFleetResult>& results, TDateTime now);
// "sensor likely to fail calibration around 2027-03", or empty.
QString FleetWearText(const RFleetWear& w);
