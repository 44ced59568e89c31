#include "link/remote/RemoteUnit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "util/OperatorPort.h"

namespace {

bool isImage(const RFileList& e)
{
    return !e.mDir && e.mName.toUpper().endsWith(QLatin1String(".IMG"));
}

// "<verb> <path>", or its failure with the result code, as one text each.
QString fileLine(uint8_t r, const QString& path, int okText, const char* okEnglish, int errText,
                 const char* errEnglish)
{
    return r == 0 ? LangText(okText, okEnglish).arg(path)
                  : LangText(errText, errEnglish).arg(path, QString::number(r));
}

} // namespace

void TRemoteUnit::configBar(int value, int max) const
{
    if (!Port)
        return;
    Port->setProgress(value, std::max(max, 1), 0, 0);
    Port->setProgressBars(max >= 0, false);
}

// ---- the operation's limits ----

void TRemoteUnit::BeginLinkSession()
{
    FSilentRun = 0;
    FListed = 0;
    FLimitReported = false;
    FStopReason.clear();
}

void TRemoteUnit::NoteExchange(bool bTimedOut)
{
    if (!bTimedOut) {
        FSilentRun = 0;
        return;
    }
    if (++FSilentRun == kMaxSilentExchanges) {
        // What is left would wait out one time-out per request while other docks wait.
        FStopReason = LangText(801);
        Inform(FStopReason);
    }
}

void TRemoteUnit::RefusedName(const QString& sFolder, const QString& sName)
{
    QString shown = sName.left(120);
    for (QChar& c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    const QString line = LangText(805) + QStringLiteral(" : ") + sFolder + shown;
    Inform(line);
    FFailed << line;
}

uint8_t TRemoteUnit::listFolder(const QString& sPath, QVector<RFileList>& arrList)
{
    arrList.clear();
    if (Cancelled())
        return UNIT_RESULT_CANCELLED;
    if (DockGone())
        return LinkTraits().timeoutCode;
    if (FListed >= kMaxListedEntries) {
        listingLimitReached(sPath);
        return UNIT_RESULT_LIMIT;
    }
    const uint8_t r = GetFileList(sPath, arrList);
    FListed += arrList.size();
    if (FListed > kMaxListedEntries) {
        // Said here, where entries are dropped: no later listing may come to say it.
        arrList.resize(std::max<qsizetype>(0, arrList.size() - qsizetype(FListed - kMaxListedEntries)));
        listingLimitReached(sPath);
    }
    return r;
}

void TRemoteUnit::listingLimitReached(const QString& sPath)
{
    if (FLimitReported)
        return;
    FLimitReported = true;
    FStopReason = LangText(803).arg(kMaxListedEntries);
    Inform(FStopReason + QStringLiteral(" : ") + sPath);
    FFailed << FStopReason + QStringLiteral(" : ") + sPath;
}

uint8_t TRemoteUnit::fetchFile(const QString& sDest, const QString& sSource, qint64 nSize, qint64 nCap)
{
    if (nCap > 0 && nSize > nCap) {
        Inform(LangText(804).arg(nSize).arg(nCap) + QStringLiteral(" : ") + sSource);
        QFile::remove(sDest);
        return UNIT_RESULT_TOOLARGE;
    }
    if (Cancelled())
        return UNIT_RESULT_CANCELLED;
    if (DockGone())
        return LinkTraits().timeoutCode;
    uint8_t r = LoadFile(sDest, sSource, nSize);
    if (r == 0 || r == UNIT_RESULT_CANCELLED || Cancelled() || DockGone())
        return r;
    // Once more, with the size the dock gives now: a log it was still writing
    // when it was listed has grown since.
    Inform(LangText(1025, "Retry %1").arg(sSource));
    qint64 size = nSize;
    qint64 now = 0;
    const uint8_t s = GetFileSize(sSource, now);
    if (s == 0 && now > 0)
        size = now;
    if (nCap > 0 && size > nCap) {
        Inform(LangText(804).arg(size).arg(nCap) + QStringLiteral(" : ") + sSource);
        return UNIT_RESULT_TOOLARGE;
    }
    if (Cancelled() || DockGone())
        return r;
    return LoadFile(sDest, sSource, size);
}

// ---- configuration ----

bool TRemoteUnit::LoadConfigFiles(QVector<RCfgList>& arrList)
{
    const Traits t = LinkTraits();
    const int count = int(arrList.size()) - 1; // the identity file is not fetched here
    const int barMax = 2 * count + 1;
    int bar = 0;
    configBar(0, barMax);
    FErrStr.clear();
    FDockInfo = RUnitInfo{};
    bool notFound = false;
    bool closed = false;
    bool answered = false;

    for (int i = 0; i < count && !Cancelled(); ++i) {
        RCfgList& entry = arrList[i];
        qint64 size = 0;
        uint8_t r = GetFileSize(entry.mFatFile, size);
        answered = answered || r != t.timeoutCode;
        entry.mLength = size;
        configBar(++bar, barMax);
        QString line;
        if (r == 0 && size >= 1) {
            r = fetchFile(entry.mSaveFile, entry.mFatFile, size, kMaxConfigBytes);
            if (r != 0)
                notFound = true;
            line = fileLine(r, entry.mFatFile, 1005, "Copy %1", 1008, "Copy %1... Error(%2)");
        } else if (r != 0) {
            if (t.closedCode != 0 && r == t.closedCode)
                closed = true;
            else
                notFound = true;
            line = fileLine(r, entry.mFatFile, 1005, "Copy %1", 1008, "Copy %1... Error(%2)");
        } else {
            notFound = true;
            line = LangText(1009, "Copy %1... Not found").arg(entry.mFatFile);
        }
        if (r != 0 && t.closedCode != 0 && r == t.closedCode)
            closed = true;
        Inform(line);
        configBar(++bar, barMax);
    }

    bool failed = true;
    if (Cancelled()) {
        FErrStr = LangText(779);
    } else if (closed && t.closedText != 0) {
        FErrStr = LangText(t.closedText);
    } else if (DockGone() && answered) {
        FErrStr = LangText(801);
    } else if (!answered && count > 0) {
        FErrStr = LangText(637);
    } else if (notFound || closed) {
        FErrStr = LangText(603);
    } else {
        QString sn;
        QString ver;
        if (GetDeviceInfo(sn, ver) != 0 || sn.isEmpty()) {
            FErrStr = LangText(604);
        } else {
            failed = false;
            FDockInfo.mSN = sn;
            FDockInfo.mVersion = ver;
            Inform(LangText(1026, "SN : %1  VERSION : %2").arg(sn, ver));
        }
    }
    if (Port)
        Port->setProgressBars(false, false);
    return !failed;
}

bool TRemoteUnit::SaveConfigFiles(QVector<RCfgList>& arrList)
{
    const Traits t = LinkTraits();
    const int barMax = int(arrList.size());
    configBar(0, barMax);
    FErrStr.clear();
    BeforeSaveConfig();
    bool closed = false;
    bool notSent = false;
    int bar = 0;
    for (const RCfgList& entry : arrList) {
        if (Cancelled()) {
            FErrStr = LangText(779);
            break;
        }
        const uint8_t r = SaveFile(entry.mFatFile, entry.mSaveFile);
        if (r != 0) {
            if (t.closedCode != 0 && r == t.closedCode)
                closed = true;
            else
                notSent = true;
            FailedFile(entry.mFatFile);
        }
        configBar(++bar, barMax);
        Inform(t.saveErrorInParens ? fileLine(r, entry.mFatFile, 1022, "Save %1", 1023, "Save %1... Error(%2)")
                                   : fileLine(r, entry.mFatFile, 1022, "Save %1", 1024, "Save %1... ERROR:%2"));
    }
    if (Port)
        Port->setProgressBars(false, false);
    if (!FErrStr.isEmpty())
        return false;
    if (closed && t.closedText != 0)
        FErrStr = LangText(t.closedText);
    else if (notSent || closed)
        FErrStr = LangText(605);
    return FErrStr.isEmpty();
}

// ---- firmware ----

void TRemoteUnit::LoadFirmwares()
{
    const QString transfer = platform::TransferFolder();
    QVector<RFileList> fetch;
    const struct {
        QString dockDir;
        QString localDir;
    } folders[] = {{FAT_DIR_FW_DOCK, transfer + DIR_FW_DOCK}, {FAT_DIR_FW_GD, transfer + DIR_FW_GD}};
    for (const auto& f : folders) {
        QVector<RFileList> list;
        const uint8_t listed = listFolder(f.dockDir, list);
        if (listed != 0) {
            if (listed != UNIT_RESULT_CANCELLED && listed != UNIT_RESULT_LIMIT)
                FailedListing(f.dockDir);
            continue;
        }
        for (RFileList& e : list) {
            if (!isImage(e))
                continue;
            e.mAliasName = f.localDir + GetFatFileNameExtract(e.mName);
            e.mFatName = GetFatFileNameExtract(e.mName);
            fetch.append(e);
        }
    }
    qint64 acc = 0;
    for (RFileList& e : fetch) {
        e.mAccStart = acc;
        e.mAccEnd = acc + e.mSize + REMOTE_FILE_ADDSIZE;
        acc = e.mAccEnd;
    }
    if (!fetch.isEmpty()) {
        if (Progress) {
            Progress->ProgressFiles(int(fetch.size()));
            Progress->ProgressStart(fetch.last().mAccEnd);
        }
        for (const RFileList& e : fetch) {
            if (Cancelled())
                break;
            if (Progress)
                Progress->ProgressReady(LangText(1031, "Load:%1").arg(e.mName), e.mSize + REMOTE_FILE_ADDSIZE,
                                        e.mAccEnd, e.mAccStart);
            // A name from the dock never leaves its staging folder.
            uint8_t r = 160;
            if (IsSafeLogFileName(e.mFatName)) {
                QDir().mkpath(QFileInfo(e.mAliasName).absolutePath());
                // An image is exactly its format's size: anything larger is not one.
                const qint64 cap = e.mName.startsWith(FAT_DIR_FW_DOCK, Qt::CaseInsensitive) ? DOCK_IMG_SIZE
                                                                                             : GD_IMG_SIZE;
                r = fetchFile(e.mAliasName, e.mName, e.mSize, cap);
            } else {
                RefusedName(QString(), e.mName);
            }
            Inform(fileLine(r, e.mName, 1016, "Load %1", 1017, "Load %1... Error(%2)"));
            // An image larger than its format is none: it is named above, and the
            // valid images are chosen as ever.
            if (r != 0 && r != UNIT_RESULT_CANCELLED && r != UNIT_RESULT_TOOLARGE && r != 160)
                FailedFile(e.mName);
        }
        if (Progress)
            Progress->ProgressStop();
    }
    ReadFirmware(UNIT_FWTYPE_DOCK, transfer + DIR_FW_DOCK);
    ReadFirmware(UNIT_FWTYPE_GD, transfer + DIR_FW_GD);
}

bool TRemoteUnit::SaveFirmware(uint8_t nFileID, const QString& sSource)
{
    FErrStr.clear();
    QString dir;
    if (nFileID == UNIT_FWTYPE_DOCK)
        dir = FAT_DIR_FW_DOCK;
    else if (nFileID == UNIT_FWTYPE_GD)
        dir = FAT_DIR_FW_GD;
    if (dir.isEmpty()) {
        FErrStr = LangText(606);
        return false;
    }
    QVector<RFileList> list;
    if (listFolder(dir, list) != 0) {
        FErrStr = LangText(613);
        FailedListing(dir);
        return false;
    }
    const QFileInfo info(sSource);
    if (!info.isFile()) {
        FErrStr = LangText(608);
        return false;
    }
    if (Cancelled()) {
        FErrStr = LangText(779);
        return false;
    }
    const qint64 size = info.size();
    const QString target = dir + info.fileName();
    if (Progress) {
        Progress->ProgressStart(size + REMOTE_FILE_ADDSIZE);
        Progress->ProgressReady(LangText(1032, "Download : %1").arg(target), size + REMOTE_FILE_ADDSIZE,
                                size + REMOTE_FILE_ADDSIZE, 0);
    }
    // The new image goes up first: a failed upload leaves the dock its old images.
    const uint8_t r = SaveFile(target, sSource);
    if (Progress)
        Progress->ProgressStop();
    Inform(fileLine(r, target, 1022, "Save %1", 1023, "Save %1... Error(%2)"));
    if (r != 0) {
        FErrStr = LangText(607);
        FailedFile(target);
        return false;
    }
    for (const RFileList& e : list) {
        if (!isImage(e) || e.mName.compare(target, Qt::CaseInsensitive) == 0)
            continue;
        const uint8_t d = DeleteFile(e.mName);
        Inform(fileLine(d, e.mName, 1012, "Delete %1", 1015, "Delete %1... Error(%2)"));
    }
    return true;
}

// ---- logs ----

void TRemoteUnit::walkTree(QVector<RFileList>& out, const QString& root, const QString& level,
                           bool foldersOnly)
{
    RFileList top;
    top.mName = root;
    top.mDir = true;
    top.mLevelStr = level;
    out.append(top);
    qsizetype from = out.size() - 1;
    qsizetype to = out.size();
    bool stop = false;
    while (from < to && !stop) {
        uint8_t last = 0;
        for (qsizetype i = from; i < to && !stop; ++i) {
            if (!out[i].mDir)
                continue;
            const QString parentName = out[i].mName;
            const QString parentLevel = out[i].mLevelStr;
            if (parentLevel.size() > 3 * kMaxWalkDepth) {
                // A tree this deep is not a dock's: its rest is not read, and the
                // operation says so instead of passing for complete.
                FailedListing(parentName);
                if (!FLimitReported) {
                    FLimitReported = true;
                    FStopReason = LangText(802).arg(kMaxWalkDepth);
                    Inform(FStopReason + QStringLiteral(" : ") + parentName);
                }
                continue;
            }
            QVector<RFileList> children;
            last = listFolder(parentName, children);
            if (last == UNIT_RESULT_CANCELLED || last == UNIT_RESULT_LIMIT) {
                stop = true;
                break;
            }
            if (last != 0)
                FailedListing(parentName);
            // What a failed listing collected is still real: it is kept.
            for (qsizetype j = 0; j < children.size(); ++j) {
                RFileList c = children[j];
                if (foldersOnly && !c.mDir)
                    continue;
                c.mLevelStr = LevelString(parentLevel, int(j + 1));
                out.append(c);
            }
            stop = DockGone();
        }
        from = to;
        to = out.size();
        if (last != 0)
            break;
    }
}

void TRemoteUnit::classify(RFileList& e) const
{
    e.mOpt = UNIT_OPT_NONE;
    if (e.mDir)
        return;
    e.mFatName = ConvertFatFile(e.mName);
    if (e.mFatName == QLatin1String("TEST.1") || !IsSafeLogFileName(e.mFatName)) {
        e.mOpt = 0x80;
        return;
    }
    const LogFileClass c = ClassifyLogFile(e.mFatName, e.mLevelStr);
    e.mAliasName = c.mAliasName;
    e.mOpt = c.mOpt;
    e.mDate = c.mDate;
    if (e.mDate < 1.0)
        e.mDate = LinkTraits().separatedListingDates ? IsValidFatDateTime(e.mDateStr)
                                                     : IsValidFatDateTime2(e.mDateStr);
}

void TRemoteUnit::LoadLogFileList(QVector<RFileList>& mFileList, bool bAll)
{
    ClearLogList();
    mFileList.clear();
    QVector<RFileList> all;
    if (bAll) {
        RFileList top;
        top.mName = FAT_DIR_LOG_DOCK;
        top.mDir = true;
        top.mLevelStr = QStringLiteral("001");
        all.append(top);
        QVector<RFileList> children;
        const uint8_t listed = listFolder(FAT_DIR_LOG_DOCK, children);
        if (listed != 0) {
            if (listed != UNIT_RESULT_CANCELLED && listed != UNIT_RESULT_LIMIT)
                FailedListing(FAT_DIR_LOG_DOCK);
        } else {
            for (qsizetype j = 0; j < children.size(); ++j) {
                RFileList c = children[j];
                c.mLevelStr = LevelString(top.mLevelStr, int(j + 1));
                all.append(c);
            }
        }
    }
    walkTree(all, FAT_DIR_LOG_GDEVENT, QStringLiteral("002"), false);
    walkTree(all, FAT_DIR_LOG_GDTEST, QStringLiteral("003"), false);
    for (RFileList& e : all) {
        classify(e);
        if (!e.mDir && e.mOpt < 0x80)
            mFileList.append(e);
        else if (!e.mDir)
            RefusedName(QString(), e.mName);
    }
    std::stable_sort(mFileList.begin(), mFileList.end(),
                     [](const RFileList& a, const RFileList& b) { return a.mLevelStr < b.mLevelStr; });
    AssignStageNames(mFileList);
}

QString TRemoteUnit::StagingFolderOf(uint8_t nOpt)
{
    switch (nOpt & 0x0F) {
    case UNIT_OPT_GDEVENT: return SAVE_DIR_LOG_GDEVENT;
    case UNIT_OPT_GDBUMP: return SAVE_DIR_LOG_GDBUMP;
    case UNIT_OPT_GDCAL: return SAVE_DIR_LOG_GDCAL;
    default: return SAVE_DIR_LOG_DOCK;
    }
}

QString TRemoteUnit::localLogPath(const RFileList& e) const
{
    const QString name = GetFatFileNameExtract(e.mName);
    if (!IsSafeLogFileName(name))
        return QString();
    return platform::TransferFolder() + StagingFolderOf(e.mOpt) + StagedLogName(e);
}

void TRemoteUnit::LoadLogFiles()
{
    QVector<RFileList> list;
    LoadLogFileList(list, true);
    if (!list.isEmpty()) {
        qint64 acc = 0;
        for (RFileList& e : list) {
            e.mAccStart = acc;
            e.mAccEnd = acc + e.mSize;
            acc = e.mAccEnd;
        }
        if (Progress) {
            Progress->ProgressFiles(int(std::count_if(list.begin(), list.end(), [](const RFileList& e) {
                return (e.mOpt & 0x0F) != 0;
            })));
            Progress->ProgressStart(list.last().mAccEnd);
        }
        for (RFileList& e : list) {
            if ((e.mOpt & 0x0F) == 0)
                continue;
            if (Progress)
                Progress->ProgressReady(LangText(1030, "Load : %1").arg(e.mName), e.mSize, e.mAccEnd,
                                        e.mAccStart);
            if (Cancelled())
                break;
            if (DockGone()) {
                // Not tried: each would only wait out its time-out.
                FailedFile(e.mName);
                continue;
            }
            LoadLogFile(e);
        }
        if (Progress)
            Progress->ProgressStop();
    }
    for (const RFileList& e : list)
        AddLogList(e);
    if (FDevMode) {
        const QString folder = platform::TransferFolder();
        QDir().mkpath(folder);
        QSaveFile file(folder + LinkTraits().dumpFileName);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(LogListDumpText(list));
            file.commit();
        }
    }
}

uint8_t TRemoteUnit::LoadLogFile(RFileList& mFileList)
{
    const QString local = localLogPath(mFileList);
    uint8_t r = 160; // a name that cannot be a local file name is refused
    if (!local.isEmpty()) {
        QDir().mkpath(QFileInfo(local).absolutePath());
        const uint8_t kind = mFileList.mOpt & 0x0F;
        const qint64 cap = kind == UNIT_OPT_GDBUMP || kind == UNIT_OPT_GDCAL ? kMaxResultBytes : kMaxEventBytes;
        r = fetchFile(local, mFileList.mName, mFileList.mSize, cap);
    }
    if (r == 0)
        mFileList.mOpt |= UNIT_OPT_EXISTS;
    else if (r != UNIT_RESULT_CANCELLED)
        FailedFile(mFileList.mName);
    Inform(fileLine(r, mFileList.mName, 1018, "LOAD %1", 1021, "LOAD %1... FAIL(%2)"));
    return r;
}

void TRemoteUnit::LoadLogDirList(QVector<RFileList>& mFileList)
{
    mFileList.clear();
    QVector<RFileList> all;
    walkTree(all, FAT_DIR_LOG_GDEVENT, QStringLiteral("002"), true);
    walkTree(all, FAT_DIR_LOG_GDTEST, QStringLiteral("003"), true);
    for (const RFileList& e : all)
        if (e.mLevelStr.size() > 3 && e.mSize == 0)
            mFileList.append(e);
}

QByteArray TRemoteUnit::LogListDumpText(const QVector<RFileList>& list)
{
    QString text;
    for (const RFileList& e : list) {
        text += e.mDir ? QStringLiteral("DIR,") : QStringLiteral("FILE,");
        text += e.mLevelStr + QLatin1Char(',') + e.mName + QLatin1Char(',') + e.mAliasName +
                QLatin1Char(',') + QString::number(e.mOpt) + QLatin1Char(',');
        if (e.mOpt >= 1 && e.mOpt <= 127)
            text += FormatDays(QStringLiteral("yy-mm-dd hh:nn"), e.mDate);
        text += QLatin1Char(',') + e.mDateStr + QLatin1Char(',') + QString::number(e.mSize) +
                QStringLiteral(",\r\n");
    }
    return platform::EncodeLegacy(text);
}
