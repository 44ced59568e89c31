#pragma once
// The central fleet server as the window and the command line read it: every site's
// instruments under this PC's policy, and a quick check that the server answers. Both
// block for up to the connect time-out: call them off the window's thread.
#include <QVector>

#include "fleet/FleetPush.h"
#include "fleet/FleetSites.h"

// Every site's instruments with their status; false with a plain reason in *error
// (no server set, address not usable, server not reachable, wrong password ...).
bool ReadFleetAllSites(const RFleetServerSettings& settings, const RFleetPolicy& policy, TDateTime now,
                       QVector<RFleetSiteStatusRow>* out, QString* error);

// Connects and reads the schema's version; *reached is the server as a person reads it.
bool CheckFleetServer(const RFleetServerSettings& settings, QString* reached, QString* error);
