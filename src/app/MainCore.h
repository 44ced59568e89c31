#pragma once
// The application's operations on a dock, shared by the window and the command
// line: the link choice, the history log, the progress display, Read, Write and
// Purge. The window mirrors what this class holds; it never decides anything itself.
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "app/AppState.h"
#include "app/ConfigEditors.h"
#include "link/UnitDef.h"
#include "link/serial/DockComm.h"
#include "link/tcp/TCPSkt.h"
#include "link/udp/LanDiscovery.h"
#include "link/udp/UdpSkt.h"
#include "link/usbdisk/USBDisk.h"
#include "report/ReportStore.h"
#include "util/OperatorPort.h"

// History line kinds.
inline constexpr int LOGTYPE_UNIT = 1;
inline constexpr int LOGTYPE_PROGRESS = 2;
inline constexpr int LOGTYPE_PROGRESS1 = 3;
inline constexpr int LOGTYPE_PROGRESS2 = 4;
inline constexpr int LOGTYPE_LANSERACH = 5;

// The four link radios of the Connection tab.
enum class LinkChoice { Disk, Comm, Udp, Lan };

// Which link-specific buttons a link allows.
struct LinkButtons {
    bool rtc = false;       // OpDeviceOpRtcGetBtn, OpDeviceOpRtcSetBtn
    bool serial = false;    // DebugOpReadSNBtn, DebugOpWriteSNBtn
    bool reset = false;     // DebugOpUnitResetBtn
    bool downloads = false; // GDOpConfigBtn, GDOpFirmwareBtn
};
LinkButtons ButtonsForLink(LinkChoice link);

// Where a log of the log browser's lists stands in the unit's log list.
struct RLogGDIndex {
    int32_t mLogIdx = 0;     // entry of the log list
    int32_t mViewIdx = 0;    // row of the event list, or the instrument node's position
    int32_t mViewSubIdx = 0; // the result node's position below it (trees only)
};

// A checked result node of the calibration or bump tree.
struct RCheckedNode {
    int mParent = 0;        // position of the instrument node
    int mChild = 0;         // position of the result node below it
    QString mParentText;
    QString mChildText;
};


class TMainCore : public ProgressSink {
public:
    TMainCore(AppState& state, OperatorPort& port);
    ~TMainCore() override;

    AppState& state;
    OperatorPort& port;
    ConfigEditors editors;

    TDockComm DockComm;
    TTCPSkt TCPSkt;
    TUSBDisk USBDisk;
    TUdpSkt UdpSkt;
    TUnitDef* FUnitDef = nullptr;

    // Connection tab.
    LinkChoice link = LinkChoice::Disk;
    QStringList OpDeviceConnectCommPortComboItems;
    QString OpDeviceConnectCommPortComboText;
    QStringList OpDeviceConnectLanListComboItems;
    QString OpDeviceConnectLanListComboText;
    int OpDeviceConnectLanListComboIndex = -1;
    QVector<RDockLanInfo> FDockLan{RDockLanInfo{}};
    // Addresses of NETWORK/Docks that did not answer the last search (still visited by Auto mode).
    QStringList FDockLanSilent;
    // Filled by the later links; absent here means nothing to list.
    std::function<void()> LoadUSBCommPort;
    std::function<void(double retrySec, double maxSec)> LoadLanConnect;
    // Why the last dock search could not run; empty when it ran.
    QString LanSearchError;

    // History page.
    bool DebugLogUnitCheck = false;
    bool DebugLogProgressCheck = false;
    void AddLog(int nType, const QString& sData);
    void OnUnitInform(const QString& s) { AddLog(LOGTYPE_UNIT, s); }
    // Traffic log: which handlers are installed (Comm = serial link, Eth = UDP and TCP).
    enum class Traffic { CommRead, CommSend, CommData, EthRead, EthSend, EthData };
    void SetTraffic(Traffic which, bool on);

    // Progress display; does nothing in Auto mode.
    bool FProgOn = false;
    qint64 FProgMax = 0, FProgAllStart = 0, FProgAllMax = 0;
    void ProgressStart(qint64 nAllMax) override;
    void ProgressReady(const QString& sCaption, qint64 nMax, qint64 nAllEnd, qint64 nAllStart) override;
    void ProgressStop() override;
    void ProgressFiles(int nFiles) override;
    void OnUnitProgress(qint64 n);

    void SetStatus(const QString& text, OperatorPort::StatusLook look) { port.setStatus(text, look); }
    // An operation on the dock: the window is busy and FExe set until
    // EndLinkOperation closes the link, detaches the unit's handlers and gives it back.
    void BeginOperation();
    void EndLinkOperation();
    // Cancel (or SIGINT on the command line): the running operation stops at the
    // next file or request; what was completely copied stays.
    std::atomic_bool FCancelRequested{false};
    void RequestCancel() { FCancelRequested = true; }
    bool CancelRequested() const { return FCancelRequested.load(); }
    // After the pause: the success line and look, or the unit's error. Files that
    // failed on the way make it a failure, with their count and one history line each.
    bool ShowOutcome(bool ok);

    // Link choice.
    void SelectLink(LinkChoice choice);
    void RefreshConnections();
    bool LoadComm(bool bRead);
    bool LoadCommUSBLAN();

    // Operations.
    bool OpReadBtnClick();
    bool LogListBtnPurgeClick();
    bool OpWriteBtnClick();
    bool GetLogDestination(bool bAuto);
    void DeleteOldFiles();
    // Where a dock log would stand in the local store; empty when it cannot have a copy there.
    QString StoreCopyPath(const RUnitLogList& entry) const;
    // The purge deletes on the dock only what already stands in the local store.
    bool SavedInStore(const RUnitLogList& entry) const;

    // The log browser's index arrays; Read empties them.
    QVector<int> FLogDock;
    QVector<RLogGDIndex> FLOgGDEvent, FLogGDBump, FLogGDCal;
    // Copy steps of "Save Log": checked logs from the staging folders into the local
    // store. Failures are collected in sErr (one CR-ended line each); the instrument
    // steps return the log-list indices of the files they copied, in copy order.
    void CopyDockFilesFromList(const QVector<int>& checkedRows, QString& sErr);
    void CopyGDEventFromList(const QVector<int>& checkedRows, QString& sErr, QVector<int>& nEventList);
    void CopyGDCalFromList(const QVector<RCheckedNode>& checked, QString& sErr, QVector<int>& nCalList);
    void CopyGDBumpFromList(const QVector<RCheckedNode>& checked, QString& sErr, QVector<int>& nBumpList);

    // Upgrade-file choosers: a path typed or chosen. Returns whether it was accepted.
    bool DockUpgradeFileEditChange(const QString& path);
    bool GDUpgradeFileNameEditChange(const QString& path);

    // ---- instrument downloads and service commands (src/app/Downloads.cpp) ----
    // "Configuration download" (tag 0) and "Firmware download" (tag 1).
    bool GDOpConfigBtnClick(int tag);
    uint8_t GetTestStatus();                   // the task's mStatus, 255 when the request failed
    QString GetTestResult(uint8_t code) const; // texts 69, 70, 71, 72 or "---"
    bool GetTaskResult(int kind);              // fills editors.gd's result grid
    // Clock and reset (Operation tab, History page).
    // Scales the downloads' waits for the dock (0.1 s steps, 0.5 s / 2 s polls); tests shorten them.
    double FDownloadWaitScale = 1.0;
    double OpDeviceOpSetRtcOffsetEdit = 0;     // hours
    QString OpDeviceOpRTCLabel;                // the dock time shown after Get/Set RTC
    bool OpDeviceOpRtcGetBtnClick();
    bool OpDeviceOpRtcSetBtnClick();
    bool DebugOpUnitResetBtnClick();

    // ---- log browser, Save Log and reports (src/app/SaveLog.cpp and friends) ----
    bool LogListBtnSaveClick();                // "Save Log"

    // Hooks of the log browser (filled when it exists).
    std::function<void()> ClearLogBrowser;
    std::function<void()> DisplayLogList;
    std::function<void()> SaveLog;           // "Save Log"
    bool LogListBtnSaveEnabled = false;      // logs of the last Read not yet saved
    // Takes the settings controls into AppState before settings are saved.
    std::function<void()> PullSettings;
    // The pause before an operation shows its outcome, so the last step stays readable.
    double FinalPauseSec = 1.0;
    // The window asks before writing, naming the dock; the command line's "write" is the answer.
    bool FConfirmWrite = false;
    // The address fields of the dock's configuration that are not complete IPv4 addresses,
    // as "value" and field caption; Write refuses them.
    QVector<QPair<QString, QString>> InvalidAddresses() const;
    // Called whenever the models or the connection lists changed, for the window.
    std::function<void()> Changed;

    // Where the values of the configuration pages came from. Write is offered only
    // for values that came from a dock: a Read in this session, or the last Read's
    // staging restored at start-up.
    struct ReadOrigin {
        bool valid = false;
        bool restored = false; // restored at start-up from the last Read
        QString sn;            // the dock
        QString when;          // "yyyy-mm-dd hh:nn:ss" of the Read
        QStringList baseline;  // ConfigLines() as read (or as last written)
        int generation = 0;    // counts the Reads and Writes that set it
    };
    ReadOrigin FReadOrigin;
    // The editors changed since the Read.
    QVector<ConfigChange> ChangesSinceRead() const;
    // Shows the caption of a changed editor in the Write question (the window's labels).
    std::function<QString(const ConfigChange&)> ChangeCaption;
    // The last Read's values, put back at start-up. False when there is none to trust.
    bool RestoreLastReadValues(QString* error = nullptr);

    // The command line runs each command in a new process: this puts back what the
    // last Read left in the transfer folder (editors, firmware choice, identity).
    bool RestoreFromStaging(QString* error);

    // What the last Read left in the staging folders, kept across processes:
    // the identity the unit read (over any link) and whether its logs were saved.
    struct LastRead {
        bool valid = false;
        QString sn, version;
        bool saved = true;
        int logs = 0;
        QString when; // "yyyy-mm-dd hh:nn:ss", empty for older files
    };
    static LastRead LoadLastRead();
    void SaveLastRead(bool saved);
    static void MarkLastReadSaved();
    // The staged logs of a Read that were not saved: listed again so that they
    // can still be saved (start-up of the window, the command line). The number listed.
    int RestoreUnsavedLogs();

private:
    void installUnitHandlers(TUnitDef& unit);
    void detachUnitHandlers(TUnitDef& unit);
    void showFirmwareChoice();
    void restoreIdentity();
    void setReadOrigin(const QString& sn, const QString& when, bool restored);
    QString writeQuestion() const;
    void readSummary(const QVector<RCfgList>& configs);
    bool upgradeFileChange(uint8_t kind, const QString& path);
    QString resultWord(uint8_t code) const;
    bool copyToStore(int logIdx, const QString& stagingDir, const QString& targetDir, int copyErr,
                     int missingErr, QString& sErr);
    void copyTreeFromList(const QVector<RLogGDIndex>& index, const QVector<RCheckedNode>& checked,
                          const QString& stagingDir, const QString& kindDir, int copyErr,
                          int missingErr, int noElementErr, QString& sErr, QVector<int>& copied);
    void notify()
    {
        if (Changed)
            Changed();
    }
    std::array<bool, 6> m_traffic{};
    int m_progressFile = 0, m_progressFiles = 0;
    qint64 m_allMax = 0, m_allScale = 1, m_fileScale = 1;
};
