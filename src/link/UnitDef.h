#pragma once
// The unit interface: the one way every operation talks to a dock, whatever the
// link. Also the records that cross it, the dock's file-system layout and the
// firmware image check.
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "util/StUtils.h"

class OperatorPort;

// Firmware kinds.
inline constexpr uint8_t UNIT_FWTYPE_DOCK = 129;
inline constexpr uint8_t UNIT_FWTYPE_GD = 1;
inline constexpr uint8_t UNIT_FWTYPE_GD2 = 2;
// Log sources.
inline constexpr uint8_t UNIT_LOG_NONE = 0;
inline constexpr uint8_t UNIT_LOG_DOCK = 129;
inline constexpr uint8_t UNIT_LOG_GD = 1;
// Log file kinds, and the flag added once a file is in the transfer folder.
inline constexpr uint8_t UNIT_OPT_NONE = 0;
inline constexpr uint8_t UNIT_OPT_DOCK = 1;
inline constexpr uint8_t UNIT_OPT_GDEVENT = 2;
inline constexpr uint8_t UNIT_OPT_GDBUMP = 3;
inline constexpr uint8_t UNIT_OPT_GDCAL = 4;
inline constexpr uint8_t UNIT_OPT_EXISTS = 16;
// Image layout.
inline constexpr uint8_t DOCK_ID = 129;
inline constexpr int DOCK_IMGHEADER_SIZE = 128;
inline constexpr int DOCK_BIN_SIZE = 262144;
inline constexpr int DOCK_IMG_SIZE = 262272;
inline constexpr uint8_t GD_ID = 1;
inline constexpr int GD_IMGHEADER_SIZE = 128;
inline constexpr int GD_BIN_SIZE = 32640;
inline constexpr int GD_IMG_SIZE = 32768;
// A request or transfer not made because the operator cancelled the operation.
inline constexpr uint8_t UNIT_RESULT_CANCELLED = 253;
// A file larger than its kind may be, refused before it is fetched.
inline constexpr uint8_t UNIT_RESULT_TOOLARGE = 252;
// A listing not made because the operation reached its listing limit.
inline constexpr uint8_t UNIT_RESULT_LIMIT = 251;
// Image check results.
inline constexpr uint8_t PROGRAM_OK = 0;
inline constexpr uint8_t PROGRAM_OPENERROR = 128;
inline constexpr uint8_t PROGRAM_SIZEERROR = 129;
inline constexpr uint8_t PROGRAM_CRCERROR = 130;
inline constexpr uint8_t PROGRAM_WRONG = 131;

// The dock's file tree: remote paths ("/" from the root) and drive-relative paths.
inline const QString FAT_FILE_CONFIG_DOCK = QStringLiteral("/CONFIG/DOCK/DOCK.CFG");
inline const QString FAT_DIR_CONFIG_GD = QStringLiteral("/CONFIG/GD/");
inline const QString FAT_FILE_CONFIG_INFORM = QStringLiteral("/CONFIG/DOCKINFORM.CFG");
inline const QString FAT_DIR_FW_DOCK = QStringLiteral("/FW/DOCK/");
inline const QString FAT_DIR_FW_GD = QStringLiteral("/FW/GD/");
inline const QString FAT_DIR_LOG_DOCK = QStringLiteral("/LOG/DOCK/");
inline const QString FAT_DIR_LOG_GDEVENT = QStringLiteral("/LOG/EVENT/");
inline const QString FAT_DIR_LOG_GDTEST = QStringLiteral("/LOG/TEST/");
inline const QString DIR_CONFIG_DOCK = QStringLiteral("CONFIG/DOCK/");
inline const QString FILE_CONFIG_DOCK = QStringLiteral("DOCK.CFG");
inline const QString DIR_CONFIG_GD = QStringLiteral("CONFIG/GD/");
inline const QString DIR_CONFIG_INFORM = QStringLiteral("CONFIG/");
inline const QString FILE_CONFIG_INFORM = QStringLiteral("DOCKINFORM.CFG");
inline const QString DIR_FW_DOCK = QStringLiteral("FW/DOCK/");
inline const QString DIR_FW_GD = QStringLiteral("FW/GD/");
inline const QString DIR_LOG_DOCK = QStringLiteral("LOG/DOCK/");
inline const QString DIR_LOG_GDEVENT = QStringLiteral("LOG/EVENT/");
inline const QString DIR_LOG_GDTEST = QStringLiteral("LOG/TEST/");
// Staging folders inside the transfer folder.
inline const QString SAVE_DIR_LOG = QStringLiteral("LOG/");
inline const QString SAVE_DIR_LOG_DOCK = QStringLiteral("LOG/DOCK/");
inline const QString SAVE_DIR_LOG_GDEVENT = QStringLiteral("LOG/GaviroEVENT/");
inline const QString SAVE_DIR_LOG_GDCAL = QStringLiteral("LOG/GaviroCAL/");
inline const QString SAVE_DIR_LOG_GDBUMP = QStringLiteral("LOG/GaviroBUMP/");

struct RUnitInfo {
    QString mSN;
    QString mVersion;
};

struct RUnitFwDefine {
    QString mName;
    QString mDescription;
    uint16_t mVersion = 0;
    std::array<uint8_t, 4> mVerBytes{};
};

struct RUnitFwList {
    RUnitFwDefine mDockFile;
    RUnitFwDefine mGDFile;
    RUnitFwDefine mGDFile2;
};

struct RUnitLogList {
    QString mName;
    TDateTime mDate = 0;
    qint64 mSize = 0;
    QString mAliasName;
    uint8_t mOpt = 0;
    bool mExists = false;
    QString mStageName; // name of the copy in the staging folder (empty: the dock's name)
};

struct RFileList {
    QString mName;
    bool mDir = false;
    QString mDateStr;
    TDateTime mDate = 0;
    qint64 mSize = 0;
    QString mLevelStr;
    QString mAliasName;
    QString mFatName;
    qint64 mAccStart = 0;
    qint64 mAccEnd = 0;
    uint8_t mOpt = 0;
    QString mStageName; // name of the copy in the staging folder (empty: the dock's name)
};

struct RCfgList {
    QString mFatFile;
    QString mUsbFile;
    QString mSaveFile;
    qint64 mLength = 0;
};

// Bay-task records: filled byte for byte from the dock's replies (little-endian).
#pragma pack(push, 1)
struct RTask {
    uint8_t mStatus;
    uint8_t mStep;
    uint8_t mUnused[2];
    uint32_t mTimer;
    uint32_t mEndTime;
};
using RBayTask = RTask;
struct RBayTaskArr {
    RBayTask mBay[4];
};
struct RBayRes {
    uint8_t mDetected, mTestType, mLogResult, mUpgradeResult, mConfigResult, mBuzzerResult,
        mLedResult, mResult, mOffResult, mBumpPassTime;
    int16_t mZeroPreReading, mZeroPostReading, mGasReading, mGasAdc;
    uint16_t mZeroAdcPre, mSpanPre;
    int16_t mTemp, mGasConcentration, mGasPreReading;
    uint8_t mPCCmd;
    uint8_t mDummy[3];
};
struct RBayResArr {
    RBayRes mBay[4];
};
struct RGDInfo {
    uint8_t byProductID, byHwVersion, byFwVersion, bySensorType;
    uint32_t ulRemainLife;
    uint8_t abySerialAscii[11];
    uint32_t tRemainLifeRTC;
};
struct RGDInfoArr {
    RGDInfo mBay[4];
};
struct RLogInfo {
    int16_t mData[125];
    uint8_t mCnt;
    uint8_t mUnused;
};
#pragma pack(pop)
static_assert(sizeof(RTask) == 12);
static_assert(sizeof(RBayRes) == 32);
static_assert(sizeof(RGDInfo) == 23);
static_assert(sizeof(RGDInfoArr) == 92);
static_assert(sizeof(RLogInfo) == 252);

// The application's progress bars, as the transports drive them during a copy run.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void ProgressStart(qint64 nAllMax) = 0;
    // How many files the run that starts next copies, for "n of m" in the caption.
    virtual void ProgressFiles(int nFiles) { (void)nFiles; }
    virtual void ProgressReady(const QString& sCaption, qint64 nMax, qint64 nAllEnd,
                               qint64 nAllStart) = 0;
    virtual void ProgressStop() = 0;
};

// The identity file "DOCKINFORM.CFG": "Serial Number" and "Fw Version", keys compared
// exactly after trimming, the later line winning. At most the first MiB is looked at.
RUnitInfo ParseDockIdentity(const QByteArray& content);

// Kind and date of a log file from its name and the tree it was found in.
struct LogFileClass {
    QString mAliasName;
    uint8_t mOpt = UNIT_OPT_NONE;
    TDateTime mDate = 0; // 0 when the name carries no valid date
};
// sLevelRoot: "001" dock-log folder, "002" event tree, "003" test tree.
LogFileClass ClassifyLogFile(const QString& sFileName, const QString& sLevelRoot);
// "%3.3d" of a 1-based position, appended to the parent's level.
QString LevelString(const QString& sParent, int nPos);
// Whether a file name found on a dock may be used as the name of a local copy:
// not empty, no "..", no path separators, no control characters and none of <>:"|?*.
bool IsSafeLogFileName(const QString& sName);
// A listing entry as the unit's log list keeps it.
RUnitLogList ToLogEntry(const RFileList& mRec);
// Dock folders may hold files of one name (A/x.XML, B/x.XML); the staging folder of
// a kind is flat, so the second and later get "x_2.XML", "x_3.XML" (letter case
// ignored, as on the dock's file system). The first keeps its name.
void AssignStageNames(QVector<RFileList>& list);
// The name of an entry's copy in its staging folder.
QString StagedLogName(const RUnitLogList& entry);
QString StagedLogName(const RFileList& entry);

class TUnitDef {
public:
    using TextEvent = std::function<void(const QString&)>;
    using ProgressEvent = std::function<void(qint64)>;

    TUnitDef();
    virtual ~TUnitDef();
    TUnitDef(const TUnitDef&) = delete;
    TUnitDef& operator=(const TUnitDef&) = delete;

    // Events: raised only when installed.
    TextEvent OnRead, OnSend, OnData, OnInform;
    ProgressEvent OnProgress;
    // Not part of the dock interface: where the unit asks and shows things.
    OperatorPort* Port = nullptr;
    ProgressSink* Progress = nullptr;

    QString FErrStr;
    RUnitInfo FDockInfo;
    RUnitFwList FFwList;
    QVector<RUnitLogList> FLogList;
    bool FDevMode = false;
    // One line per file or folder that failed during the current operation, so
    // that the operation reports a partial result instead of a success.
    QStringList FFailed;
    // Why the operation ended before its end (the dock went silent, a listing limit
    // was reached): the outcome says this rather than only counting the files.
    QString FStopReason;
    // The operation's stop flag (set by Cancel or SIGINT): looked at between files
    // and requests, so what was completely copied stays and nothing is cut in half.
    const std::atomic_bool* FCancel = nullptr;
    // The operator closed a picker without choosing: not an error, nothing was done.
    bool FNoChoice = false;
    bool Cancelled() const { return FCancel && FCancel->load(); }

    int LogListCount() const { return int(FLogList.size()); }
    QString DockInfoSN() const { return FDockInfo.mSN; }
    QString DockInfoVersion() const { return FDockInfo.mVersion; }

    virtual uint8_t GetDeviceInfo(QString& sSN, QString& sVer) = 0;
    virtual bool OpenComm(const QString& sOpenStr) = 0;
    virtual void CloseComm() = 0;
    virtual bool LoadConfigFiles(QVector<RCfgList>& arrList) = 0;
    virtual bool SaveConfigFiles(QVector<RCfgList>& arrList) = 0;
    virtual void LoadFirmwares() = 0;
    virtual bool SaveFirmware(uint8_t nFileID, const QString& sSource) = 0;
    virtual uint8_t DeleteFile(const QString& sName) = 0;
    virtual uint8_t DeleteDirectory(const QString& sPath) = 0;
    virtual void LoadLogFiles() = 0;
    virtual void LoadLogFileList(QVector<RFileList>& mFileList, bool bAll) = 0;
    virtual uint8_t LoadLogFile(RFileList& mFileList) = 0;
    virtual void LoadLogDirList(QVector<RFileList>& mFileList) = 0;
    virtual TDateTime ReadRtc() = 0;
    virtual TDateTime SetRtc(TDateTime tNow) = 0;
    virtual void UnitReset() = 0;
    virtual void DeviceReset() = 0;
    virtual void SendExtCommand(uint8_t nCom) = 0;
    virtual bool GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay) = 0;
    virtual bool GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD) = 0;
    virtual bool GetTaskLog(uint8_t nBay, uint8_t nType, RLogInfo& mLog) = 0;

    bool GetDevInfo();
    void ClearVariable();
    void CopyVariable(const TUnitDef& cUnit);
    void ClearLogList();
    void AddLogList(const RFileList& mRec);
    RUnitLogList GetLogList(int index) const;
    // Asks through Port; false when refused.
    bool CheckFirmware(uint8_t nFileID, const QString& sFile, QString& sDesc);
    static uint8_t IsValidFirmware(uint8_t nFileID, const QString& sFile, QString& sDesc,
                                   std::array<uint8_t, 4>& arrVer);
    // The same check on an image already in memory (fuzzing, uploads).
    static uint8_t CheckFirmwareImage(uint8_t nFileID, const QByteArray& image, QString& sDesc,
                                      std::array<uint8_t, 4>& arrVer);
    void ReadFirmware(uint8_t nFileID, const QString& sPath);

protected:
    void Inform(const QString& s) const
    {
        if (OnInform)
            OnInform(s);
    }
    // A file that could not be copied, or a folder that could not be listed.
    void FailedFile(const QString& sName);
    void FailedListing(const QString& sFolder);
    void Progressed(qint64 n) const
    {
        if (OnProgress)
            OnProgress(n);
    }
};

const char* ProgramResultName(uint8_t code);        // "PROGRAM_OK", ...
QString ProgramResultDescription(uint8_t code);     // plain words for a person
