#pragma once
// Pushing the local fleet index to the central server. The local index is the outbox:
// beside it, fleet.sqlite keeps which records this PC has handed over (by the same key as
// the server's, so a rebuilt index does not forget it) and how the last push went. A push
// that stops half-way (server down, network cut) keeps what was committed and leaves the
// rest waiting for the next occasion; nothing is ever taken back from the server.
#include <QString>
#include <functional>

#include "util/StUtils.h"

// The FLEET settings a push needs.
struct RFleetServerSettings {
    QString mServer;   // FLEET/Server; empty: no server
    QString mPassword; // FLEET/Password
    QString mSite;     // FLEET/Site
    QString mProgram;  // this program and its version, recorded with the site's push
};

// What waits in the outbox and how the last push went.
struct RFleetOutbox {
    int mResultsWaiting = 0;
    int mEventsWaiting = 0;
    TDateTime mLastPush = 0;    // last push that completed (this PC's time)
    TDateTime mLastAttempt = 0;
    QString mLastError;         // of the last attempt, empty when it completed
    QString mServer;            // the server it went to
    int Waiting() const { return mResultsWaiting + mEventsWaiting; }
};

struct RFleetPushResult {
    bool mOk = false;
    int mResultsSent = 0;  // records handed over in this push
    int mEventsSent = 0;
    int mResultsNew = 0;   // of them, rows the server did not have
    int mEventsNew = 0;
    int mWaiting = 0;      // records still waiting afterwards
    QString mError;
    QString mServer;       // the server's address as shown to a person
    QString Summary() const; // one line for the operation log
};

class TFleetPush {
public:
    // logDest: the log destination that holds fleet.sqlite.
    explicit TFleetPush(const QString& logDest);

    int mBatchSize = 5000;
    // Called after each batch that the server committed: records handed over so far, and
    // the number to hand over in this push.
    std::function<void(int done, int total)> mProgress;

    // Pushes every indexed record the server does not have yet (the index must be open-able;
    // bring it up to date before). Also the docks' intervals and the site's push time.
    RFleetPushResult Push(const RFleetServerSettings& settings);
    // What waits, without reaching the server.
    RFleetOutbox Outbox();

private:
    QString m_dest;
};
