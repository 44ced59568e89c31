#pragma once
// Auto mode: the unattended loop that finds the docks on the network, polls each
// one, folds what is new into the alert store, and writes and mails the report on
// the weekly schedule. One object serves the window and the command line.
//
// The loop keeps a step number and a handful of deadlines. Between passes it does
// not poll: it sleeps in an event loop until the nearest deadline or until it is
// woken (Cancel, a settings edit), so the processor is idle while it waits.
#include <QHash>
#include <QString>
#include <QVector>
#include <array>
#include <functional>
#include <memory>

#include "app/AppState.h"
#include "app/TransferLock.h"
#include "link/UnitDef.h"
#include "link/udp/LanDiscovery.h"
#include "link/udp/UdpSkt.h"
#include "report/MailSender.h"
#include "report/ReportStore.h"

class QEventLoop;
class TMainCore;

// "Now" for Auto mode, and the sleep until a deadline. Tests use TManualClock.
class TAutoClock {
public:
    virtual ~TAutoClock() = default;
    virtual TDateTime Now() = 0;
    // Returns at `deadline` or earlier when Wake() is called.
    virtual void WaitUntil(TDateTime deadline) = 0;
    virtual void Wake() = 0;
};

class TSystemClock : public TAutoClock {
public:
    TDateTime Now() override;
    void WaitUntil(TDateTime deadline) override;
    void Wake() override;

private:
    QEventLoop* m_loop = nullptr;
    bool m_woken = false;
};

// A clock that only moves when told to, or when Auto mode waits: a wait jumps to
// its deadline at once (after letting pending events run).
class TManualClock : public TAutoClock {
public:
    explicit TManualClock(TDateTime start) : m_now(start) {}
    TDateTime Now() override { return m_now; }
    void WaitUntil(TDateTime deadline) override;
    void Wake() override {}
    void Set(TDateTime t) { m_now = t; }
    void AdvanceSec(double s) { m_now += s / 86400.0; }
    // Called before each wait with the deadline; may move the clock or change state.
    std::function<void(TDateTime deadline)> OnWait;
    int waits = 0;

private:
    TDateTime m_now;
};

struct RFWList {
    QString mDock, mDockVer, mGD, mGDVer;
};

struct RFWSendList {
    QString mSN;
    QString mDock, mDockVer, mGD, mGDVer;
};

inline constexpr std::array<int, 5> STEPTIME = {120, 120, 120, 30, 10};

class TAutoMode {
public:
    explicit TAutoMode(TMainCore& core, std::shared_ptr<TAutoClock> clock = nullptr);
    ~TAutoMode();

    TMainCore& core;
    std::shared_ptr<TAutoClock> clock;

    // ---- decisions, free of any state ----
    static TDateTime GetSendTime(const std::array<RSetSch, 5>& sch, TDateTime now);
    static TDateTime GetConCheckTime(int& step, TDateTime now);
    // The watermark filter: whether a file of the dock's list is downloaded.
    static bool KeepLogFile(const RFileList& file, const QVector<RDockReport>& report, bool bTimeUpdate);
    // More than 30 seconds between the dock's clock and the PC's.
    static bool ClockDrifted(TDateTime dock, TDateTime now);
    // Polling cycles until the next folder purge, after a cycle.
    static int NextDelDirCnt(int n) { return n == 0 ? 3 : n - 1; }
    // The image to send to a dock: empty when its memory already holds this one.
    static bool NeedsUpload(const QString& path, const QString& ver, const QString& sentPath,
                            const QString& sentVer)
    {
        return !path.trimmed().isEmpty() && (path != sentPath || ver != sentVer);
    }
    // Next day start: today + time, plus a day when already past.
    static TDateTime NextDayStart(TDateTime now, TDateTime dayStart);
    // The countdown label: "<746> h:mm:ss (yy-mm-dd hh:nn)".
    // dateFormat: a CFG_DATE_* code gives the date in the settings' order.
    static QString CountdownText(TDateTime now, TDateTime sendTime, int dateFormat = -1);
    // Whether the schedule holds a report time at all (a day set in a row).
    static bool HasReportTime(const std::array<RSetSch, 5>& sch);

    // ---- the run ----
    // "Auto": runs until Cancel (or MaxCycles); false when it could not start.
    bool RunAutoMode();
    // The same run driven from the caller's event loop (the window): returns at once;
    // each pass is a timer event, so a dialog opened meanwhile never holds the run up.
    // OnRunState(false) tells when it ended.
    bool Start();
    // "Cancel": the run ends after its current pass.
    void OpAutoCancelBtnClick();
    // A schedule or alert setting was edited (the window calls it on every edit).
    void SettingsEdited();
    bool Running() const { return m_running; }

    // Knobs for the command line and tests.
    int MaxCycles = 0;         // 0: unlimited
    double SearchRetrySec = 1; // discovery
    double SearchMaxSec = 5;
    RMailSettings MailTimeouts;
    bool CountdownVisible = false; // the window shows the countdown: refresh it every second
    // The link docks are visited over; the core's UDP link unless a test gives another.
    class TUdpSkt* VisitUnit = nullptr;
    int CyclesDone() const { return m_cycles; }
    // The last run ended by Cancel or MaxCycles, not by a missing destination or store.
    bool RanToEnd() const { return m_storeOk && m_destOk; }
    // The dock clocks are set from the PC only when the PC's clock is not earlier
    // than the newest test result in the store (0: the store holds none).
    TDateTime NewestStoredResult();
    // The next report after `now`; a slot sent less than two hours ago is not sent
    // again when the clock goes back over it (the autumn hour that repeats).
    static TDateTime NextSendTime(const std::array<RSetSch, 5>& sch, TDateTime now, TDateTime lastSlot);

    // What the window shows (all optional).
    std::function<void(bool running)> OnRunState;
    std::function<void(int pos, int max, const QString& label)> OnCountdown;
    std::function<void(const QString& file)> ShowReport;
    // Service level 2: save the traffic and operation logs to these files (empty
    // names: do not save); then clear them when `clear` is set.
    std::function<void(const QString& commFile, const QString& logFile, bool clear)> FlushLogs;

    // ---- run state (public for tests) ----
    int nStep = 0, nStepSub = 1, nNGRetry = 0, nConCheckStep = 4, nLoadCnt = 0, nDelDirCnt = 0;
    TDateTime dtSendTime = 0, dtSendRefTime = 0, dtSendRemainDisp = 0, dtConCheckTime = 0, dtLogTime = 0,
              dtLastUpdate = 0, dtRefTime = 0;
    bool bTimeUpdate = false;
    bool FEventTimeChanged = false;
    QVector<RFileList> FLoaded;
    RFWList mFWList;
    QVector<RFWSendList> mFWSend;
    // The docks of this cycle: those found and the NETWORK/Docks addresses that did
    // not answer the search (entry 0 is the placeholder, as in the found-dock list).
    QVector<RDockLanInfo> FVisits{RDockLanInfo{}};
    // What each visit of the cycle came to, for the summary line per dock.
    struct RVisitTally {
        QString who;
        QString sn;
        bool reached = false;
        int fetched = 0, failed = 0;
    };
    QVector<RVisitTally> FTally;
    TDateTime dtDestRetry = 0; // step 5: next look for a log destination that is not there
    TDateTime dtReportRetry = 0; // a report set that could not be written is made again then
    TDateTime dtLastSlot = 0;  // the schedule slot of the last report sent on time

    TReportStore& Store();
    // The copy steps after the last dock: downloaded files of one kind into the local store.
    void CopyGDEventFromAutoMode(QString& sErr, QVector<int>& nList);
    void CopyGDCalFromAutoMode(QString& sErr, QVector<int>& nList);
    void CopyGDBumpFromAutoMode(QString& sErr, QVector<int>& nList);
    static bool ClearFiles();

private:
    void startRun();
    void endRun();
    void pass();
    void runStep();
    void stepReport();
    bool saveStoreAndDocuments(bool datedCopy); // false when a document was not written
    void stepSend();
    void stepIdle();
    bool takeTransferFolder();
    void stepVisit();
    void stepNextDock();
    void evaluateCycle();
    void chooseFirmware();
    void uploadFirmware(const QString& sn, const QString& dockVersion);
    bool destinationMissing() const;
    void stepWaitDestination();
    void setDockClock(TUdpSkt& unit, const QString& who, TDateTime dockTime);
    void fetchLogs(TUdpSkt& unit, const RDockLanInfo& dock, const QString& who, RVisitTally& tally);
    void purgeDock(TUdpSkt& unit, const QVector<RFileList>& list);
    void updateRetryLists(const QVector<int>& copied);
    void sendAlertMail(const QHash<QString, RDockReport>& before, const QVector<int>& events);
    void logDockSummary();
    void updateEventWindow();
    void flushLogs(bool always);
    void countCycle();
    void showReportFile(const QString& path);
    void checkClockJump(TDateTime now);
    TDateTime nextDeadline(TDateTime now) const;
    bool immediate() const;
    void copyKind(uint8_t kind, const QString& staging, const QString& sub, int copyErr, int missingErr,
                  QString& sErr, QVector<int>& nList);
    struct AlertSnap {
        int edit = 0, combo = 0;
        TDateTime ref = 0;
        bool after = false;
        bool operator!=(const AlertSnap& o) const
        {
            return edit != o.edit || combo != o.combo || ref != o.ref || after != o.after;
        }
    };
    AlertSnap alertSnap() const;
    class TUdpSkt& udp();

    bool begin();
    void tick();
    void scheduleTick();
    std::unique_ptr<class QTimer> m_timer;
    // Cancel during a visit: an exchange still waiting after this long is broken off.
    std::unique_ptr<class QTimer> m_cancelGrace;
    bool m_visiting = false, m_uploading = false;
    QStringList m_loadedDock; // dock serial of each FLoaded entry
    std::unique_ptr<TReportStore> m_ownStore;
    TUnitDef* m_prevUnit = nullptr;
    bool m_running = false;
    bool m_storeOk = true;
    bool m_destOk = true;
    TTransferLock m_transferLock;
    bool m_lockWaitSaid = false; // the wait for the transfer folder was logged
    bool m_reportFailed = false; // the last report set was not complete: made again, not mailed
    int m_cycles = 0;
    TDateTime m_lastNow = 0;
    AlertSnap m_alert;
    std::array<RSetSch, 5> m_sch{};
};
