#pragma once
// The fleet across every site: the server's rows under the same due-date and status rules
// as the local index's, with the site of each instrument. No SQL here.
#include "fleet/FleetServer.h"
#include "fleet/FleetStatus.h"

struct RFleetSiteStatusRow {
    RFleetStatusRow mRow;
    QString mSite;
};

bool FleetStatusRowsAllSites(TFleetServer& server, const RFleetPolicy& policy, TDateTime now,
                             QVector<RFleetSiteStatusRow>* out, QString* error);
