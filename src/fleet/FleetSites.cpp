#include "fleet/FleetSites.h"

bool FleetStatusRowsAllSites(TFleetServer& server, const RFleetPolicy& policy, TDateTime now,
                             QVector<RFleetSiteStatusRow>* out, QString* error)
{
    QVector<RFleetSiteInstrument> instruments;
    QVector<RFleetDockInterval> intervals;
    QHash<QString, int> alarms;
    if (!server.Instruments(&instruments, error) || !server.DockIntervals(&intervals, error) ||
        !server.AlarmCounts(now - std::max(0, policy.mAlarmDays), &alarms, error))
        return false;
    QHash<QString, RFleetIntervals> byDockGas;
    for (const RFleetDockInterval& d : intervals)
        byDockGas.insert(d.mDock.toUpper() + '\n' + d.mGas.toUpper(), RFleetIntervals{d.mBumpDays, d.mCalDays});
    out->clear();
    out->reserve(instruments.size());
    for (const RFleetSiteInstrument& s : instruments) {
        const RFleetIntervals dock = byDockGas.value(s.mInst.mDock.toUpper() + '\n' + s.mInst.mGas.toUpper());
        out->append({EvaluateFleetInstrument(s.mInst, dock, alarms.value(s.mInst.mInstrument), policy, now), s.mSite});
    }
    return true;
}
