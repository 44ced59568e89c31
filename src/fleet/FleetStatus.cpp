#include "fleet/FleetStatus.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

#include "fleet/FleetDb.h"

namespace {

double day(TDateTime t) { return std::floor(t); }

FleetStatus statusOf(RFleetReason::Kind k)
{
    switch (k) {
    case RFleetReason::BumpFailed:
    case RFleetReason::CalFailed:
        return FleetStatus::Failed;
    case RFleetReason::BumpOverdue:
    case RFleetReason::CalOverdue:
    case RFleetReason::BumpNever:
    case RFleetReason::CalNever:
        return FleetStatus::Overdue;
    case RFleetReason::CalDueSoon:
        return FleetStatus::DueSoon;
    case RFleetReason::GasAlarms:
        return FleetStatus::Alarm;
    case RFleetReason::NeverTested:
        return FleetStatus::Unknown;
    case RFleetReason::AllDue:
        break;
    }
    return FleetStatus::Ok;
}

QHash<QString, RFleetIntervals> intervalsByDockGas(const TFleetDb& db)
{
    QHash<QString, RFleetIntervals> out;
    for (const RFleetDockInterval& d : db.DockIntervals())
        out.insert(d.mDock + QLatin1Char('\n') + d.mGas, RFleetIntervals{d.mBumpDays, d.mCalDays});
    return out;
}

RFleetIntervals intervalsFor(const QHash<QString, RFleetIntervals>& all, const RFleetInstrument& inst)
{
    return all.value(inst.mDock.toUpper() + QLatin1Char('\n') + inst.mGas.toUpper());
}

TDateTime alarmsSince(const RFleetPolicy& policy, TDateTime now) { return now - std::max(0, policy.mAlarmDays); }

} // namespace

RFleetStatusRow EvaluateFleetInstrument(const RFleetInstrument& inst, const RFleetIntervals& dock, int alarms,
                                        const RFleetPolicy& policy, TDateTime now)
{
    RFleetStatusRow row;
    row.mInst = inst;
    row.mAlarms = alarms;
    row.mBumpIntervalFromDock = dock.mBumpDays > 0;
    row.mCalIntervalFromDock = dock.mCalDays > 0;
    row.mBumpIntervalDays = row.mBumpIntervalFromDock ? dock.mBumpDays : std::max(0, policy.mBumpIntervalDays);
    row.mCalIntervalDays = row.mCalIntervalFromDock ? dock.mCalDays : std::max(0, policy.mCalIntervalDays);
    // A passed calibration puts gas on the sensor as a bump test does, and clears a
    // failed bump test below: the next bump test is due from the later of the two.
    const TDateTime lastGasPass = std::max(inst.mLastBumpPass, inst.mLastCalPass);
    if (lastGasPass > 0)
        row.mNextBump = day(lastGasPass) + row.mBumpIntervalDays;
    if (inst.mLastCalPass > 0)
        row.mNextCal = day(inst.mLastCalPass) + row.mCalIntervalDays;
    if (row.mNextBump > 0 && row.mNextCal > 0)
        row.mNextDue = std::min(row.mNextBump, row.mNextCal);
    else
        row.mNextDue = std::max(row.mNextBump, row.mNextCal);

    const double today = day(now);
    const bool tested = inst.mResults > 0 || inst.mLastBump > 0 || inst.mLastCal > 0;
    QVector<RFleetReason>& why = row.mReasons;
    if (tested) {
        // A failure stands until a later pass clears it: a bump test by a passed bump
        // test or calibration (the dock calibrates after a failed bump), a calibration
        // only by a passed calibration. A pass at the same moment as the fail clears it.
        const bool bumpFailed = inst.mLastBumpFail > 0 && inst.mLastBumpFail > inst.mLastBumpPass &&
                                inst.mLastBumpFail > inst.mLastCalPass;
        const bool calFailed = inst.mLastCalFail > 0 && inst.mLastCalFail > inst.mLastCalPass;
        if (bumpFailed)
            why.append(RFleetReason{RFleetReason::BumpFailed, inst.mLastBumpFail});
        if (calFailed)
            why.append(RFleetReason{RFleetReason::CalFailed, inst.mLastCalFail});
        if (lastGasPass <= 0) {
            if (!bumpFailed)
                why.append(RFleetReason{RFleetReason::BumpNever});
        } else if (today > row.mNextBump) {
            why.append(RFleetReason{RFleetReason::BumpOverdue, row.mNextBump});
        }
        if (inst.mLastCalPass <= 0) {
            if (!calFailed)
                why.append(RFleetReason{RFleetReason::CalNever});
        } else if (today > row.mNextCal) {
            why.append(RFleetReason{RFleetReason::CalOverdue, row.mNextCal});
        } else if (row.mNextCal - today <= policy.mDueSoonDays) {
            why.append(RFleetReason{RFleetReason::CalDueSoon, row.mNextCal, int(row.mNextCal - today)});
        }
    }
    if (alarms > 0)
        why.append(RFleetReason{RFleetReason::GasAlarms, 0, alarms, policy.mAlarmDays});
    if (!tested)
        why.append(RFleetReason{RFleetReason::NeverTested});
    std::stable_sort(why.begin(), why.end(),
                     [](const RFleetReason& a, const RFleetReason& b) { return statusOf(a.mKind) < statusOf(b.mKind); });
    if (why.isEmpty())
        why.append(RFleetReason{RFleetReason::AllDue, row.mNextDue});
    row.mStatus = statusOf(why.first().mKind);
    return row;
}

QVector<RFleetStatusRow> FleetStatusRows(const TFleetDb& db, const RFleetPolicy& policy, TDateTime now)
{
    const QHash<QString, RFleetIntervals> intervals = intervalsByDockGas(db);
    const QHash<QString, int> alarms = db.AlarmCounts(alarmsSince(policy, now));
    QVector<RFleetStatusRow> out;
    const QVector<RFleetInstrument> all = db.Instruments();
    out.reserve(all.size());
    for (const RFleetInstrument& inst : all)
        out.append(EvaluateFleetInstrument(inst, intervalsFor(intervals, inst), alarms.value(inst.mInstrument),
                                           policy, now));
    return out;
}

bool FleetStatusRow(const TFleetDb& db, const QString& serial, const RFleetPolicy& policy, TDateTime now,
                    RFleetStatusRow* out)
{
    RFleetInstrument inst;
    if (!db.Instrument(serial, &inst))
        return false;
    const QHash<QString, int> alarms = db.AlarmCounts(alarmsSince(policy, now));
    *out = EvaluateFleetInstrument(inst, intervalsFor(intervalsByDockGas(db), inst), alarms.value(inst.mInstrument),
                                   policy, now);
    return true;
}

QString FleetStatusKey(FleetStatus s)
{
    static const char* const keys[] = {"failed", "overdue", "due", "alarm", "ok", "unknown"};
    return QString::fromLatin1(keys[int(s)]);
}

bool FleetStatusFromKey(const QString& key, FleetStatus* out)
{
    for (int i = 0; i < FLEET_STATUS_COUNT; ++i) {
        if (FleetStatusKey(FleetStatus(i)) == key.trimmed().toLower()) {
            *out = FleetStatus(i);
            return true;
        }
    }
    return false;
}

QString FleetStatusWord(FleetStatus s)
{
    static const char* const words[] = {"Failed", "Overdue", "Due soon", "Gas alarm", "OK", "Unknown"};
    return QString::fromLatin1(words[int(s)]);
}

QString FleetDayText(TDateTime t)
{
    return t > 0 ? DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QString FleetReasonText(const RFleetReason& r)
{
    const QString d = FleetDayText(r.mDate);
    switch (r.mKind) {
    case RFleetReason::BumpFailed:
        return QStringLiteral("bump test failed on %1").arg(d);
    case RFleetReason::CalFailed:
        return QStringLiteral("calibration failed on %1").arg(d);
    case RFleetReason::BumpOverdue:
        return QStringLiteral("bump test overdue since %1").arg(d);
    case RFleetReason::CalOverdue:
        return QStringLiteral("calibration overdue since %1").arg(d);
    case RFleetReason::BumpNever:
        return QStringLiteral("no passed bump test on record");
    case RFleetReason::CalNever:
        return QStringLiteral("no passed calibration on record");
    case RFleetReason::CalDueSoon:
        return r.mCount == 0 ? QStringLiteral("calibration due today")
                             : QStringLiteral("calibration due on %1 (in %2 days)").arg(d).arg(r.mCount);
    case RFleetReason::GasAlarms:
        return QStringLiteral("%1 gas alarm%2 in the last %3 days").arg(r.mCount).arg(r.mCount == 1 ? "" : "s").arg(r.mDays);
    case RFleetReason::NeverTested:
        return QStringLiteral("never tested");
    case RFleetReason::AllDue:
        return QStringLiteral("next test due on %1").arg(d);
    }
    return QString();
}

QString FleetReasonsText(const RFleetStatusRow& row)
{
    QStringList parts;
    for (const RFleetReason& r : row.mReasons)
        parts << FleetReasonText(r);
    return parts.join(QStringLiteral("; "));
}

QString FleetCountsText(const QVector<RFleetStatusRow>& rows)
{
    int n[FLEET_STATUS_COUNT] = {};
    for (const RFleetStatusRow& r : rows)
        ++n[int(r.mStatus)];
    static const char* const words[] = {"failed", "overdue", "due soon", "gas alarm", "OK", "unknown"};
    QStringList parts;
    for (int i = 0; i < FLEET_STATUS_COUNT; ++i)
        if (n[i] > 0)
            parts << QStringLiteral("%1 %2").arg(n[i]).arg(QLatin1String(words[i]));
    return parts.isEmpty() ? QStringLiteral("no instruments") : parts.join(QStringLiteral(", "));
}

RFleetWear FleetWear(const QVector<RFleetResult>& results, TDateTime now)
{
    RFleetWear w;
    const RFleetResult* latest = nullptr;
    for (const RFleetResult& r : results) {
        if (r.mKind != 1 || r.mDate <= 0 || !(r.mSpan.mConcentration > 0))
            continue;
        w.mPoints.append({r.mDate, r.mSpan.mPreReading / r.mSpan.mConcentration});
        if (!latest || r.mDate > latest->mDate)
            latest = &r;
    }
    std::sort(w.mPoints.begin(), w.mPoints.end(),
              [](const RFleetWearPoint& a, const RFleetWearPoint& b) { return a.mDate < b.mDate; });
    if (latest && latest->mSpan.mLowLimit > -9999 && latest->mSpan.mLowLimit < 9999) {
        w.mHasLimit = true;
        w.mLimit = latest->mSpan.mLowLimit / latest->mSpan.mConcentration;
    }
    const int n = int(w.mPoints.size());
    if (n < 3 || w.mPoints.last().mDate - w.mPoints.first().mDate < 1)
        return w;
    // Least squares about the first date, so that the sums stay small.
    w.mOrigin = w.mPoints.first().mDate;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const RFleetWearPoint& p : w.mPoints) {
        const double x = p.mDate - w.mOrigin;
        sx += x;
        sy += p.mSensitivity;
        sxx += x * x;
        sxy += x * p.mSensitivity;
    }
    const double den = n * sxx - sx * sx;
    if (!(std::fabs(den) > 1e-12))
        return w;
    w.mHasLine = true;
    w.mSlopePerDay = (n * sxy - sx * sy) / den;
    w.mIntercept = (sy - w.mSlopePerDay * sx) / n;
    if (w.mHasLimit && w.mSlopePerDay < 0) {
        const TDateTime cross = w.mOrigin + (w.mLimit - w.mIntercept) / w.mSlopePerDay;
        if (cross <= now + 365)
            w.mPredicted = std::max(cross, day(now));
    }
    return w;
}

QString FleetWearText(const RFleetWear& w)
{
    if (w.mPredicted <= 0)
        return QString();
    return QStringLiteral("sensor likely to fail calibration around %1")
        .arg(DaysToDateTime(w.mPredicted).toString(QStringLiteral("yyyy-MM")));
}
