#pragma once
// The file-moving operations of the links that reach the dock's file system
// remotely (serial, UDP, TCP). Each link supplies a handful of primitives (size,
// listing, download, upload, delete, identity); the sequences built on them -
// configuration load and save, firmware fetch and replace, log listing and copy,
// the folder list of the purge - live here once.
#include "link/UnitDef.h"

// Progress allowance per firmware file on the overall bar.
inline constexpr qint64 REMOTE_FILE_ADDSIZE = 250;

class TRemoteUnit : public TUnitDef {
public:
    // ---- primitives each link provides (0 = success) ----
    virtual uint8_t GetFileSize(const QString& sFile, qint64& nLength) = 0;
    // Direct entries of one dock folder, with the full dock path in mName.
    // Entries collected before a failure stay in arrList.
    virtual uint8_t GetFileList(const QString& sPath, QVector<RFileList>& arrList) = 0;
    // Copies a dock file to sDest; sDest appears only once the file is complete.
    virtual uint8_t LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize) = 0;
    virtual uint8_t SaveFile(const QString& sDest, const QString& sSource) = 0;
    // DeleteFile, DeleteDirectory and GetDeviceInfo are the unit interface's own.

    // ---- the shared sequences ----
    bool LoadConfigFiles(QVector<RCfgList>& arrList) override;
    bool SaveConfigFiles(QVector<RCfgList>& arrList) override;
    void LoadFirmwares() override;
    bool SaveFirmware(uint8_t nFileID, const QString& sSource) override;
    void LoadLogFiles() override;
    void LoadLogFileList(QVector<RFileList>& mFileList, bool bAll) override;
    uint8_t LoadLogFile(RFileList& mFileList) override;
    void LoadLogDirList(QVector<RFileList>& mFileList) override;

    // The staging folder (relative to the transfer folder) of a log kind.
    static QString StagingFolderOf(uint8_t nOpt);
    // The developer-mode dump of a log list, as written to the transfer folder.
    static QByteArray LogListDumpText(const QVector<RFileList>& list);

    // A dock whose folders repeat themselves would make the walk endless: folders
    // deeper than this many levels below a root are not listed, and one operation
    // takes at most this many listed entries. Either limit reached is a failure.
    static constexpr int kMaxWalkDepth = 8;
    static constexpr qint64 kMaxListedEntries = 100000;
    // Consecutive time-outs after which the dock counts as gone for the operation.
    static constexpr int kMaxSilentExchanges = 2;
    // Largest files taken, by kind: results, event and dock logs, configuration.
    static constexpr qint64 kMaxResultBytes = 16LL * 1024 * 1024;
    static constexpr qint64 kMaxEventBytes = 64LL * 1024 * 1024;
    static constexpr qint64 kMaxConfigBytes = 1024 * 1024;

    // The dock stopped answering in this operation: every further request is
    // refused at once instead of waiting out its time-out.
    bool DockGone() const { return FSilentRun >= kMaxSilentExchanges; }

protected:
    // What differs between the links in these sequences.
    struct Traits {
        uint8_t closedCode = 254;    // result meaning "link not open"; 0 when the link has none
        uint8_t timeoutCode = 255;   // result meaning "no answer in time"
        int closedText = 0;          // language text for it (612 serial, 622 TCP)
        bool saveErrorInParens = false; // "... Error(n)" rather than "... ERROR:n" on a failed save
        QString dumpFileName;        // LOGFILE_COMM.CSV, LOGFILE_UDP.CSV, LOGFILE_TCP.CSV
        bool separatedListingDates = false; // listing dates "yyyy-mm-dd hh:nn:ss" rather than 14 digits
    };
    virtual Traits LinkTraits() const = 0;
    // Runs before a configuration save (the UDP link resets the dock's session there).
    virtual void BeforeSaveConfig() {}

    // Each opened link starts a new operation: its counters start again.
    void BeginLinkSession();
    // Every exchange reports whether it timed out (the dock said nothing at all).
    void NoteExchange(bool bTimedOut);
    // A listed name the link refused (climbing, absolute, control characters, too long).
    void RefusedName(const QString& sFolder, const QString& sName);

private:
    // GetFileList, with the listing limits and the stop flag looked at first.
    uint8_t listFolder(const QString& sPath, QVector<RFileList>& arrList);
    // Once per operation: the listing limit is a failure, named with the folder.
    void listingLimitReached(const QString& sPath);
    // LoadFile with the size cap of its kind, retried once after a failure.
    uint8_t fetchFile(const QString& sDest, const QString& sSource, qint64 nSize, qint64 nCap);
    int FSilentRun = 0;
    qint64 FListed = 0;
    bool FLimitReported = false;
    // Breadth-first walk below root; foldersOnly keeps only folder children.
    void walkTree(QVector<RFileList>& out, const QString& root, const QString& level,
                  bool foldersOnly);
    void classify(RFileList& e) const;
    QString localLogPath(const RFileList& e) const;
    void configBar(int value, int max) const;
};
