#include "link/usbdisk/USBDisk.h"
#include "util/FileCopy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStorageInfo>

#include <algorithm>

#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "util/OperatorPort.h"

namespace {

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

bool existsAtAll(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Plain entries of a folder, in name order: sub-folders (symbolic links are not
// followed, so a loop on the drive cannot make a walk endless) or files whose
// name ends with ext in any letter case.
QStringList listDirs(const QString& dir)
{
    return QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
}

QStringList listFiles(const QString& dir, const QString& ext)
{
    QStringList out;
    const QStringList names =
        QDir(dir).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString& n : names) {
        if (n.endsWith(ext, Qt::CaseInsensitive))
            out << n;
    }
    return out;
}

// Everything inside a folder, hidden entries included: what keeps it from being removed.
int countEntries(const QString& dir)
{
    return int(QDir(dir)
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                   .size());
}

// True when the file is gone afterwards (a missing file counts as deleted).
bool removeFile(const QString& path)
{
    if (!existsAtAll(path))
        return true;
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        return false;
    return QFile::remove(path);
}

TDateTime fileTimeDays(const QString& path)
{
    // A copy onto this file system keeps the modification time but gets a new
    // creation time, so the earlier of the two is the file's age.
    const QFileInfo info(path);
    QDateTime t = info.lastModified();
    const QDateTime born = info.birthTime();
    if (born.isValid() && (!t.isValid() || born < t))
        t = born;
    return DateTimeToDays(t.toLocalTime());
}

// Breadth-first walk below root: each pass numbers the children of the folders
// the previous pass added, sub-folders first, then the files with extension ext
// (none when ext is empty).
void walkTree(QVector<RFileList>& list, const QString& root, const QString& level,
              const QString& ext)
{
    RFileList top;
    top.mName = root;
    top.mDir = true;
    top.mLevelStr = level;
    list.append(top);
    qsizetype start = list.size() - 1;
    while (start < list.size()) {
        const qsizetype end = list.size();
        for (qsizetype i = start; i < end; ++i) {
            if (!list.at(i).mDir)
                continue;
            const QString dir = withSlash(list.at(i).mName);
            const QString parentLevel = list.at(i).mLevelStr;
            if (ext.isEmpty())
                list[i].mSize = countEntries(dir);
            int pos = 0;
            for (const QString& sub : listDirs(dir)) {
                RFileList e;
                e.mName = dir + sub + QLatin1Char('/');
                e.mDir = true;
                e.mLevelStr = LevelString(parentLevel, ++pos);
                list.append(e);
            }
            if (ext.isEmpty())
                continue;
            for (const QString& file : listFiles(dir, ext)) {
                RFileList e;
                e.mName = dir + file;
                e.mSize = QFileInfo(e.mName).size();
                e.mLevelStr = LevelString(parentLevel, ++pos);
                list.append(e);
            }
        }
        start = end;
    }
}

QString fileNameOf(const QString& path)
{
    return path.section(QLatin1Char('/'), -1);
}

// One open to read, one to write, one rename: the copy takes the real name whole
// (replacing an older copy) or not at all, and keeps the file's time.
bool copyReplacing(const QString& src, const QString& dst, QByteArray& buffer)
{
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const QString part = dst + QStringLiteral(".part");
    QFile out(part);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    bool ok = true;
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (out.write(buffer.constData(), n) != n) {
            ok = false;
            break;
        }
    }
    if (ok)
        out.setFileTime(in.fileTime(QFileDevice::FileModificationTime), QFileDevice::FileModificationTime);
    out.close();
    ok = ok && out.error() == QFileDevice::NoError && platform::ReplaceFile(part, dst);
    if (!ok)
        QFile::remove(part);
    return ok;
}

} // namespace

QString ResolvePathNoCase(const QString& sRoot, const QString& sRelative)
{
    QString current = sRoot;
    const QStringList parts = sRelative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool resolving = true;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (!current.isEmpty())
            current = withSlash(current);
        QString next = current + part;
        if (resolving && part != QLatin1String(".") && part != QLatin1String("..") &&
            !existsAtAll(next)) {
            resolving = false;
            const QStringList entries = QDir(current.isEmpty() ? QStringLiteral(".") : current)
                                            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                           QDir::Hidden | QDir::System,
                                                       QDir::Name);
            for (const QString& e : entries) {
                if (e.compare(part, Qt::CaseInsensitive) == 0) {
                    next = current + e;
                    resolving = true;
                    break;
                }
            }
        }
        current = next;
    }
    if (sRelative.endsWith(QLatin1Char('/')))
        current = withSlash(current);
    return current;
}

QString TUSBDisk::DrivePath(const QString& sRelative) const
{
    return ResolvePathNoCase(FUsbDrive, sRelative);
}

QString TUSBDisk::ResolveDrivePath(const QString& sPath) const
{
    if (FUsbDrive.isEmpty() || !sPath.startsWith(FUsbDrive))
        return sPath;
    return ResolvePathNoCase(FUsbDrive, sPath.mid(FUsbDrive.size()));
}

bool TUSBDisk::DriveReady() const
{
    return !FUsbDrive.isEmpty() && QFileInfo(FUsbDrive).isDir();
}

bool TUSBDisk::InsideDrive(const QString& sPath) const
{
    if (FUsbDrive.isEmpty() || sPath.isEmpty())
        return false;
    const QString root = withSlash(QDir::cleanPath(FUsbDrive));
    const QString path = QDir::cleanPath(QDir(FUsbDrive).absoluteFilePath(sPath));
    return path.size() > root.size() && path.startsWith(root);
}

bool TUSBDisk::ResolvesInsideDrive(const QString& sPath) const
{
    const QString root = QFileInfo(FUsbDrive).canonicalFilePath();
    const QString real = QFileInfo(sPath).canonicalFilePath();
    return !root.isEmpty() && !real.isEmpty() && real.startsWith(withSlash(root));
}

bool TUSBDisk::OpenComm(const QString&)
{
    auto holdsIdentity = [](const QString& root) {
        return QFileInfo(ResolvePathNoCase(root, DIR_CONFIG_INFORM + FILE_CONFIG_INFORM)).isFile();
    };

    QStringList roots = RemovableRoots ? RemovableRoots() : platform::RemovableVolumeRoots();
    for (QString& r : roots)
        r = withSlash(r);
    std::sort(roots.begin(), roots.end());
    QString found;
    for (const QString& r : roots) {
        if (!r.isEmpty() && holdsIdentity(r))
            found = r; // the last one wins
    }

    FNoChoice = false;
    if (found.isEmpty() && Port) {
        // The picker opens where the dock was found last time.
        QString dir = FUsbDrive.isEmpty() ? QDir::homePath() : FUsbDrive;
        const bool chosen = SelectFolder(*Port, dir);
        if (!chosen) {
            FNoChoice = true;
            FErrStr = LangText(542);
            return false;
        }
        if (QFileInfo(dir).isDir()) {
            const QString picked = QDir(dir).absolutePath();
            if (holdsIdentity(picked)) {
                found = withSlash(picked);
            } else {
                const QStorageInfo volume(picked);
                if (volume.isValid() && !volume.rootPath().isEmpty())
                    found = withSlash(volume.rootPath());
            }
        }
    }

    if (found.isEmpty()) {
        FErrStr = LangText(602);
        return false;
    }
    FUsbDrive = found;
    Inform(LangText(1027, "USB drive selected ... %1").arg(FUsbDrive));
    return true;
}

uint8_t TUSBDisk::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    if (!DriveReady())
        return USBDISK_COMM_NO_DEVICEINFO;
    QFile file(DrivePath(DIR_CONFIG_INFORM + FILE_CONFIG_INFORM));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return USBDISK_COMM_NO_DEVICEINFO;
    // An identity file is a few lines; a huge one is not read whole.
    const RUnitInfo info = ParseDockIdentity(file.read(1024 * 1024));
    sSN = info.mSN;
    sVer = info.mVersion;
    return sSN.trimmed().isEmpty() ? USBDISK_COMM_NO_DEVICEINFO : USBDISK_COMM_OK;
}

bool TUSBDisk::LoadConfigFiles(QVector<RCfgList>& arrList)
{
    FErrStr.clear();
    FDockInfo = RUnitInfo{};
    if (!DriveReady()) {
        FErrStr = LangText(602);
        return false;
    }
    bool failed = false;
    for (const RCfgList& entry : arrList) {
        if (Cancelled())
            break;
        const QString source = ResolveDrivePath(entry.mUsbFile);
        if (!QFileInfo(source).isFile()) {
            failed = true;
            continue;
        }
        if (!ResolvesInsideDrive(source)) {
            // A link to a file of the PC is not the dock's file: it is not followed.
            const QString line = LangText(806) + QStringLiteral(" : ") + entry.mUsbFile;
            Inform(line);
            FFailed << line;
            failed = true;
            continue;
        }
        const bool ok = CopyFileNoOverwrite(source, entry.mSaveFile);
        Inform((ok ? LangText(1005, "Copy %1") : LangText(1006, "Copy %1...Failed")).arg(entry.mUsbFile));
        failed = failed || !ok;
    }
    if (Cancelled()) {
        FErrStr = LangText(779);
    } else if (failed) {
        FErrStr = LangText(603);
    } else {
        QString sn;
        QString ver;
        if (GetDeviceInfo(sn, ver) != USBDISK_COMM_OK) {
            FErrStr = LangText(604);
        } else {
            FDockInfo.mSN = sn;
            FDockInfo.mVersion = ver;
            Inform(LangText(1026, "SN : %1  VERSION : %2").arg(sn, ver));
        }
    }
    return FErrStr.isEmpty();
}

bool TUSBDisk::SaveConfigFiles(QVector<RCfgList>& arrList)
{
    FErrStr.clear();
    if (!DriveReady()) {
        FErrStr = LangText(602);
        return false;
    }
    bool anyFailed = false;
    for (const RCfgList& entry : arrList) {
        if (Cancelled()) {
            FErrStr = LangText(779);
            return false;
        }
        const QString target = ResolveDrivePath(entry.mUsbFile);
        const QString copyFailed =
            LangText(1007, "Copy %1...failed").arg(entry.mSaveFile);
        if (!QFileInfo(entry.mSaveFile).isFile()) {
            Inform(copyFailed);
            FailedFile(entry.mUsbFile);
            anyFailed = true;
            continue;
        }
        // The new content is written beside the old file first, so a write that
        // fails leaves the dock's file as it was.
        const QString staged = InsideDrive(target) ? StageFileCopy(entry.mSaveFile, target) : QString();
        if (staged.isEmpty()) {
            Inform(copyFailed);
            FailedFile(entry.mUsbFile);
            anyFailed = true;
            continue;
        }
        const bool deleted = removeFile(target);
        Inform((deleted ? LangText(1012, "Delete %1") : LangText(1013, "Delete %1...failed")).arg(entry.mUsbFile));
        if (!deleted) {
            QFile::remove(staged);
            FailedFile(entry.mUsbFile);
            anyFailed = true;
            continue;
        }
        const bool copied = QFile::rename(staged, target);
        if (!copied) {
            QFile::remove(staged);
            FailedFile(entry.mUsbFile);
        }
        Inform(copied ? LangText(1005, "Copy %1").arg(entry.mSaveFile) : copyFailed);
        anyFailed = anyFailed || !copied;
    }
    if (anyFailed)
        FErrStr = LangText(605);
    return FErrStr.isEmpty();
}

void TUSBDisk::LoadFirmwares()
{
    const QString transfer = platform::TransferFolder();
    if (DriveReady()) {
        for (const QString& rel : {DIR_FW_DOCK, DIR_FW_GD}) {
            const QString source = DrivePath(rel);
            if (!QFileInfo(source).isDir())
                continue;
            const QString dest = transfer + rel;
            QDir().mkpath(dest);
            // An image larger than its format is none: named, and not copied (as on the other links).
            const qint64 cap = rel == DIR_FW_DOCK ? DOCK_IMG_SIZE : GD_IMG_SIZE;
            for (const QString& name : listFiles(source, QStringLiteral(".IMG"))) {
                if (Cancelled())
                    break;
                const QString path = source + name;
                const qint64 size = QFileInfo(path).size();
                if (size > cap) {
                    Inform(LangText(804).arg(size).arg(cap) + QStringLiteral(" : ") + path);
                    continue;
                }
                const bool ok = IsSafeLogFileName(name) && CopyFileNoOverwrite(path, dest + name);
                Inform((ok ? LangText(1016, "Load %1") : LangText(1019, "LOAD %1... failed")).arg(path));
                if (!ok)
                    FailedFile(path);
            }
        }
    }
    ReadFirmware(DOCK_ID, transfer + DIR_FW_DOCK);
    ReadFirmware(GD_ID, transfer + DIR_FW_GD);
}

bool TUSBDisk::SaveFirmware(uint8_t nFileID, const QString& sSource)
{
    FErrStr.clear();
    if (!QFileInfo(sSource).isFile()) {
        FErrStr = LangText(608);
        return false;
    }
    if (!DriveReady()) {
        FErrStr = LangText(602);
        return false;
    }
    QString rel;
    if (nFileID == UNIT_FWTYPE_DOCK)
        rel = DIR_FW_DOCK;
    else if (nFileID == UNIT_FWTYPE_GD)
        rel = DIR_FW_GD;
    else {
        FErrStr = LangText(606);
        return false;
    }
    const QString folder = DrivePath(rel);
    const QString name = QFileInfo(sSource).fileName();
    const QString target = folder + name;
    const bool folderOk =
        QFileInfo(folder).isDir() || (!existsAtAll(folder) && QDir().mkpath(folder));
    // The new image is on the drive before the old ones go, so a failed write
    // never leaves the folder empty (and a source picked from that very folder survives).
    const QString staged = folderOk ? StageFileCopy(sSource, target) : QString();
    if (!staged.isEmpty()) {
        for (const QString& old : listFiles(folder, QStringLiteral(".IMG"))) {
            const QString path = folder + old;
            const bool deleted = DeleteFile(path) == USBDISK_COMM_OK;
            Inform((deleted ? LangText(1012, "Delete %1") : LangText(1014, "Delete %1... failed")).arg(path));
        }
    }
    const bool ok = !staged.isEmpty() && !existsAtAll(target) && QFile::rename(staged, target);
    if (!ok && !staged.isEmpty())
        QFile::remove(staged);
    Inform((ok ? LangText(1010, "copy %1") : LangText(1011, "copy %1... failed")).arg(target));
    if (!ok)
        FErrStr = LangText(607);
    return FErrStr.isEmpty();
}

uint8_t TUSBDisk::DeleteFile(const QString& sName)
{
    if (!InsideDrive(sName))
        return USBDISK_COMM_DELETE_ERROR;
    return removeFile(sName) ? USBDISK_COMM_OK : USBDISK_COMM_DELETE_ERROR;
}

uint8_t TUSBDisk::DeleteDirectory(const QString& sPath)
{
    if (!InsideDrive(sPath) || !QFileInfo(sPath).isDir() || QFileInfo(sPath).isSymLink())
        return USBDISK_COMM_DELETE_ERROR;
    return QDir().rmdir(sPath) ? USBDISK_COMM_OK : USBDISK_COMM_DELETE_ERROR;
}

void TUSBDisk::LoadLogFileList(QVector<RFileList>& mFileList, bool bAll)
{
    ClearLogList();
    mFileList.clear();
    if (!DriveReady())
        return;

    QVector<RFileList> list;
    if (bAll) {
        const QString dockDir = DrivePath(DIR_LOG_DOCK);
        if (QFileInfo(dockDir).isDir()) {
            int pos = 0;
            for (const QString& name : listFiles(dockDir, QStringLiteral(".CSV"))) {
                RFileList e;
                e.mName = dockDir + name;
                e.mSize = QFileInfo(e.mName).size();
                e.mLevelStr = LevelString(QStringLiteral("001"), ++pos);
                list.append(e);
            }
        }
    }
    // Each tree is walked when it is there; a dock without event logs still has
    // its test results read.
    const QString eventDir = DrivePath(DIR_LOG_GDEVENT);
    if (QFileInfo(eventDir).isDir())
        walkTree(list, eventDir, QStringLiteral("002"), QStringLiteral(".CSV"));
    const QString testDir = DrivePath(DIR_LOG_GDTEST);
    if (QFileInfo(testDir).isDir())
        walkTree(list, testDir, QStringLiteral("003"), QStringLiteral(".XML"));

    for (RFileList& e : list) {
        if (e.mDir)
            continue;
        const LogFileClass cls = ClassifyLogFile(fileNameOf(e.mName), e.mLevelStr.left(3));
        e.mAliasName = cls.mAliasName;
        e.mOpt = cls.mOpt;
        e.mDate = 0;
        if (cls.mOpt != UNIT_OPT_NONE)
            e.mDate = cls.mDate >= 1 ? cls.mDate : fileTimeDays(e.mName);
        mFileList.append(e);
    }
    std::stable_sort(mFileList.begin(), mFileList.end(),
                     [](const RFileList& a, const RFileList& b) {
                         return QString::compare(a.mLevelStr, b.mLevelStr, Qt::CaseSensitive) < 0;
                     });
    AssignStageNames(mFileList);
}

void TUSBDisk::LoadLogFiles()
{
    QVector<RFileList> list;
    LoadLogFileList(list, true);
    if (list.isEmpty())
        return;

    // Sizes come from the listing: the files are not looked at twice.
    qint64 acc = 0;
    for (RFileList& e : list) {
        e.mAccStart = acc;
        e.mAccEnd = e.mAccStart + e.mSize;
        acc = e.mAccEnd;
    }
    if (Progress) {
        Progress->ProgressFiles(int(std::count_if(list.begin(), list.end(), [](const RFileList& e) {
            return (e.mOpt & 15) != UNIT_OPT_NONE;
        })));
        Progress->ProgressStart(acc);
    }

    const QString transfer = platform::TransferFolder();
    // Each staging folder is made once, not once per file.
    for (const QString& sub : {SAVE_DIR_LOG_GDEVENT, SAVE_DIR_LOG_GDBUMP, SAVE_DIR_LOG_GDCAL, SAVE_DIR_LOG_DOCK})
        QDir().mkpath(transfer + sub);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    // The window repaints twenty times a second, not once per small file.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (RFileList& e : list) {
        const int kind = e.mOpt & 15;
        if (kind == UNIT_OPT_NONE)
            continue;
        if (Cancelled())
            break;
        if (Progress)
            Progress->ProgressReady(LangText(1030, "Load : %1").arg(e.mName), e.mSize, e.mAccEnd,
                                    e.mAccStart);
        const QString sub = kind == UNIT_OPT_GDEVENT  ? SAVE_DIR_LOG_GDEVENT
                            : kind == UNIT_OPT_GDBUMP ? SAVE_DIR_LOG_GDBUMP
                            : kind == UNIT_OPT_GDCAL  ? SAVE_DIR_LOG_GDCAL
                                                      : SAVE_DIR_LOG_DOCK;
        const QString name = fileNameOf(e.mName);
        // A name that could point elsewhere is never used for a local file.
        const bool ok = IsSafeLogFileName(name) && copyReplacing(e.mName, transfer + sub + StagedLogName(e), buffer);
        if (ok) {
            e.mOpt |= UNIT_OPT_EXISTS;
            Progressed(e.mSize);
            if (QCoreApplication::instance() && sinceEvents.elapsed() >= 50) {
                QCoreApplication::processEvents();
                sinceEvents.restart();
            }
            Inform(LangText(1018, "LOAD %1").arg(e.mName));
        } else {
            Inform(LangText(1020, "LOAD %1... file save error").arg(e.mName));
            FailedFile(e.mName);
        }
    }
    if (Progress)
        Progress->ProgressStop();

    for (const RFileList& e : list)
        AddLogList(e);
    if (FDevMode)
        WriteLogListDump(list);
}

void TUSBDisk::WriteLogListDump(const QVector<RFileList>& list) const
{
    QString text;
    for (const RFileList& e : list) {
        text += e.mDir ? QStringLiteral("DIR,") : QStringLiteral("FILE,");
        text += e.mLevelStr + QLatin1Char(',') + e.mName + QLatin1Char(',') + e.mAliasName +
                QLatin1Char(',') + QString::number(e.mOpt) + QLatin1Char(',');
        if (e.mOpt != 0)
            text += FormatDays(QStringLiteral("yy-mm-dd hh:nn"), e.mDate);
        text += QStringLiteral("\r\n");
    }
    const QString folder = platform::TransferFolder();
    QDir().mkpath(folder);
    QSaveFile file(folder + QStringLiteral("LOGFILE_USB.CSV"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(platform::EncodeLegacy(text));
    file.commit();
}

void TUSBDisk::LoadLogDirList(QVector<RFileList>& mFileList)
{
    mFileList.clear();
    if (!DriveReady())
        return;
    QVector<RFileList> all;
    const QString eventDir = DrivePath(DIR_LOG_GDEVENT);
    if (QFileInfo(eventDir).isDir())
        walkTree(all, eventDir, QStringLiteral("002"), QString());
    const QString testDir = DrivePath(DIR_LOG_GDTEST);
    if (QFileInfo(testDir).isDir())
        walkTree(all, testDir, QStringLiteral("003"), QString());
    for (const RFileList& e : all) {
        if (e.mLevelStr.size() > 3 && e.mSize == 0)
            mFileList.append(e);
    }
}
