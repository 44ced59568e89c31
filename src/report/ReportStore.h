#pragma once
// The alert store "Report.Bin" in the log destination: one record per instrument,
// folded from the saved test results and event files, evaluated against the alert
// settings. Stores are replaced atomically: a failed save leaves the old file.
//
// Several processes write the store (a window and an Auto-mode service). Every
// change made through this class is also remembered; a save takes the lock beside
// the file, and when the file changed since it was loaded, the save reloads it and
// applies the remembered changes again, so no process writes back an old copy. A
// file that cannot be read is reported and never saved over.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

#include "domain/ReportSettings.h"
#include "link/UnitDef.h"
#include "util/StUtils.h"

// Alert bits (mNewIdx, mPrevIdx).
inline constexpr uint16_t REPORT_INDEX_BUMP_FAIL = 1;
inline constexpr uint16_t REPORT_INDEX_BUMP_NOT = 2;
inline constexpr uint16_t REPORT_INDEX_BUMP_OUTDATE = 4;
inline constexpr uint16_t REPORT_INDEX_CAL_FAIL = 8;
inline constexpr uint16_t REPORT_INDEX_CAL_NOT = 16;
inline constexpr uint16_t REPORT_INDEX_CAL_OUTDATE = 32;
inline constexpr uint16_t REPORT_INDEX_EVENT = 64;

// Layout of "Report.Bin".
inline constexpr int REPORT_HEADER_SIZE = 136;
inline constexpr int REPORT_REC_SIZE_V1 = 376;
inline constexpr int REPORT_REC_SIZE_V2 = 424;
inline constexpr int REPORT_REC_SIZE_V3 = 440;
inline constexpr uint8_t REPORT_VERSION = 3;
// Maximum lengths of the short strings (8-bit characters).
inline constexpr int REPORT_LEN_FILE = 100;
inline constexpr int REPORT_LEN_MODEL = 20;
inline constexpr int REPORT_LEN_SENSORNAME = 20;
inline constexpr int REPORT_LEN_SN = 16;
inline constexpr int REPORT_LEN_LOCATION = 100;
inline constexpr int REPORT_LEN_LOGFILE = 50;

struct RDockReportHeader {
    uint8_t mVer = REPORT_VERSION;
    TDateTime mReportDate = 0;
    TDateTime mLastSendDate = 0;
    TDateTime mEventStartTime = 0; // 0 = unknown
    QString mFile;                 // "Report_yyyy-mm-dd hh-nn-ss.Html"
};

struct RDockReport {
    uint16_t mNewIdx = 0;
    uint16_t mPrevIdx = 0;
    bool mNew = false;
    QString mModel;
    uint8_t mSensor = 0; // 0 = not known yet
    QString mSensorName;
    QString mSN;         // the key: alias name of the instrument's log files
    QString mInstSN;
    QString mLocation;
    TDateTime mLastBumpPass = 0;
    TDateTime mLastBumpFail = 0;
    TDateTime mLastCalPass = 0;
    TDateTime mLastCalFail = 0;
    TDateTime mLastEvent = 0;
    int32_t mLowAlarmTime = 0;
    int32_t mHighAlarmTime = 0;
    QString mLastCalFile;
    QString mLastBumpFile;
    QString mLastEventFile;
    QString mLastEventCheckFile;
};

RDockReport GetInitReport();

// A text cut to what a short string of nMax 8-bit characters keeps.
QString CutShortString(const QString& s, int nMax);

// Byte image of "Report.Bin" (always version 3) and its decoder. DecodeReportBin
// never fails: a short header or an unknown version gives an empty store with
// mLastSendDate and mEventStartTime 0; a trailing partial record is ignored; a
// short-string length above its maximum is taken as the maximum.
QByteArray EncodeReportBin(const RDockReportHeader& header, const QVector<RDockReport>& records);
void DecodeReportBin(const QByteArray& data, RDockReportHeader& header, QVector<RDockReport>& records);
// Why a byte image is not a store this program could have written (empty when it
// is one): too short, an unknown version, a partial record, or fields no store holds.
QString ReportBinDamage(const QByteArray& data);

// A serial number as a folder name of the local store: it never climbs out of the
// store nor holds characters a file name cannot have.
QString StoreFolderName(const QString& serial);
// The instrument's folder "KM1/<serial>/" under the log destination dest (ending in
// "/"): an existing folder whose name differs only in letter case is that instrument's.
QString StoreInstrumentDir(const QString& dest, const QString& serial);
// Serials compare without regard to letter case.
inline bool SameSerial(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

class TReportStore {
public:
    // The settings (ALERT section, date style, report folder), FLogDestDir,
    // FLastReportFile and FLastReportDate live in `state`.
    explicit TReportStore(TReportState& state);

    TReportState& state;
    RDockReportHeader FReportHeader;
    QVector<RDockReport> FReport;
    bool FDevMode = false;                      // the unit's FDevMode: adds "Report.CSV"
    std::function<TDateTime()> Now = NowDays;   // the clock (tests set it)

    QString StorePath() const;                  // log destination + "Report.Bin"
    QString BackupPath() const;                 // the store before the last rewrite
    QString LockPath() const;                   // held by a writer while it saves

    // Reads the store; a missing file gives an empty store. False (with *error naming
    // the file) when it exists but cannot be read or is damaged: the store is then
    // empty, Damaged() is true and SaveResult refuses until a load succeeds.
    bool LoadResult(QString* error = nullptr);
    bool Damaged() const { return m_damaged; }
    // Under the lock: keeps the file on disk as the backup and writes version 3
    // atomically (after reapplying this store's changes to a file changed meanwhile),
    // then copies mReportDate/mFile to FLastReportDate/File. False (with *error) when
    // the lock could not be had, the file on disk is damaged or writing failed; the
    // file is then untouched and the changes are kept for the next save.
    bool SaveResult(QString* error = nullptr);
    // Auto mode: a store that cannot be read is renamed "Report.Bin.unreadable-<stamp>"
    // so that a new one can start. True with *aside when it was moved.
    bool SetAsideUnreadable(const QString& stamp, QString* aside, QString* why = nullptr);
    // Start of a report set: mReportDate and mFile (remembered like every change).
    void StartReportSet(TDateTime tReport, const QString& sFile);
    // How long a save waits for another writer's lock.
    int LockTimeoutMs = 30000;

    // Record of an alias name, whatever its letter case (created when missing): index into FReport.
    int FindReport(const QString& sAlias);

    // Fold the files copied by the last save (indices into logList, the unit's log
    // list) from the local store "KM1/<alias>/CAL|BUMP|EVENT/".
    void MakeCalResult(const QVector<RUnitLogList>& logList, const QVector<int>& nCalList);
    void MakeBumpResult(const QVector<RUnitLogList>& logList, const QVector<int>& nBumpList);
    void MakeEventResult(const QVector<RUnitLogList>& logList, const QVector<int>& nEventList);

    // Start of the event window at `now`. In hours mode an edit below 3 is raised to
    // 3 in the settings (the window shows it).
    TDateTime EventWindowStart(TDateTime now);
    // Save Log only, when "Data after transmission" is unchecked: records whose last
    // event lies before the window start lose their alarm times.
    void ClearAlarmsBeforeWindow();
    // Records whose serials differ only in letter case become one; then sort by serial
    // (byte order of the stored 8-bit text) and evaluate the alert bits.
    void CheckResult();
    // Auto mode's event watermark: mLastEventCheckFile of every record.
    void MakeEventCheckFile();
    // After a successful e-mail: alarm times 0, mLastSendDate now, mEventStartTime 0,
    // written back; nothing else changes, in the store or in the state.
    bool ResetAfterEmail(QString* error = nullptr);

private:
    using Change = std::function<void(TReportStore&)>;
    QHash<QString, int> m_index; // upper-cased serial -> record, a hint checked before use
    qsizetype m_indexSize = -1;
    QVector<Change> m_pending;   // changes since the file was last loaded or written
    QByteArray m_base;           // the bytes last loaded or written
    bool m_baseExists = false;   // whether there was a file then
    bool m_baseKnown = false;    // loaded or written at all
    bool m_damaged = false;
    bool m_replaying = false;
    void apply(Change change);
    bool WriteStore(QString* error); // the commit: lock, reload when changed, backup, write
    void foldTestResult(const QVector<RUnitLogList>& entries, bool bCal);
    void foldEvents(const QVector<RUnitLogList>& entries);
    void checkResult();
    void mergeCaseDuplicates();
};
