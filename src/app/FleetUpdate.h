#pragma once
// The fleet index as the operations keep it: brought up to date after each Save
// Log and each Auto cycle, with the intervals of the dock's instrument configuration
// when the save follows a Read. A problem with the index never fails the save.
#include <QString>

#include "fleet/FleetStatus.h"

class AppState;
class TMainCore;
struct AppSettings;

// The site policy from the settings (FLEET/*).
RFleetPolicy FleetPolicyOf(const AppSettings& s);

// Updates the index in the log destination; history lines say what happened.
// dockSerial: the dock of the last Read whose instrument configuration files lie in
// the transfer folder (empty: none, as after an Auto cycle). False when the index
// could not be brought up to date (the save itself has succeeded regardless).
bool UpdateFleetAfterSave(TMainCore& core, const QString& dockSerial);

// The fleet status as CSV beside the report documents ("Report/FleetStatus.CSV"),
// attached to the report mail when FLEET/MailStatus is 1.
QString FleetStatusMailFile(const AppState& state);
// Writes that file (whole or not at all) from the index; false with *error.
bool WriteFleetStatusFile(const AppState& state, QString* error = nullptr);

// Counts every update of any index in this process: the Fleet page refreshes when it changes.
int FleetUpdateGeneration();
