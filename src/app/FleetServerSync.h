#pragma once
// The push to the central fleet server as the operations run it: after Save Log and each
// Auto cycle when FLEET/Server is set, and on "fleet push". It runs on a worker thread while
// the caller waits on a local event loop, so the window keeps painting while a far server
// answers slowly; the outcome goes to the operation log in one line.
#include "fleet/FleetPush.h"

class AppState;
class OperatorPort;

RFleetServerSettings FleetServerSettingsOf(const AppState& state);
bool FleetServerConfigured(const AppState& state);

// Pushes the index in the log destination. progress(done, total) is called on the caller's
// thread. Never shows a message box: a failed push leaves the records waiting for the next.
RFleetPushResult PushFleetToServer(const AppState& state, OperatorPort* port,
                                   const std::function<void(int, int)>& progress = {});
// Pushes only when a server is set (after Save Log, after an Auto cycle).
void PushFleetIfConfigured(const AppState& state, OperatorPort* port);

// Runs f on a worker thread and waits for it on a local event loop.
void RunOffThread(const std::function<void()>& f);
