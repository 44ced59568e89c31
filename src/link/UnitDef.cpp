#include "link/UnitDef.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include "lang/LangTable.h"
#include "util/OperatorPort.h"

// ---- log file names ----

QString LevelString(const QString& sParent, int nPos)
{
    return sParent + QString::asprintf("%03d", nPos);
}

LogFileClass ClassifyLogFile(const QString& sFileName, const QString& sLevelRoot)
{
    LogFileClass out;
    // The bare name without its extension, whatever path came with it.
    QString name = sFileName;
    const qsizetype slash =
        std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        name = name.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0)
        name = name.left(dot);

    const QStringList fields = StDivideToken(name, QStringLiteral("_"), 10);
    out.mAliasName = fields.value(0);
    const QString kind = fields.value(1).toUpper();
    const QString root = sLevelRoot.left(3);
    if (kind == QLatin1String("TESTLOG") && root == QLatin1String("001"))
        out.mOpt = UNIT_OPT_DOCK;
    else if (kind == QLatin1String("EVENT") && root == QLatin1String("002"))
        out.mOpt = UNIT_OPT_GDEVENT;
    else if (kind == QLatin1String("BUMP") && root == QLatin1String("003"))
        out.mOpt = UNIT_OPT_GDBUMP;
    else if (kind == QLatin1String("CAL") && root == QLatin1String("003"))
        out.mOpt = UNIT_OPT_GDCAL;

    TDateTime date = 0;
    if (out.mOpt == UNIT_OPT_DOCK)
        date = IsValidLYearMonth(fields.value(2), fields.value(3));
    else if (out.mOpt != UNIT_OPT_NONE)
        date = IsValidDateTime(fields.value(2));
    out.mDate = date < 1 ? 0 : date;
    return out;
}

// ---- the unit ----

TUnitDef::TUnitDef() = default;
TUnitDef::~TUnitDef() = default;

bool TUnitDef::GetDevInfo()
{
    FErrStr.clear();
    FDockInfo = RUnitInfo{};
    QString sn;
    QString ver;
    if (GetDeviceInfo(sn, ver) != 0) {
        FErrStr = LangText(631);
        return false;
    }
    FDockInfo.mSN = sn;
    FDockInfo.mVersion = ver;
    Inform(LangText(1026, "SN : %1  VERSION : %2").arg(sn, ver));
    return true;
}

void TUnitDef::FailedFile(const QString& sName) { FFailed << LangText(776) + QStringLiteral(" : ") + sName; }

void TUnitDef::FailedListing(const QString& sFolder)
{
    FFailed << LangText(777) + QStringLiteral(" : ") + sFolder;
}

void TUnitDef::ClearVariable()
{
    FErrStr.clear();
    ClearLogList();
    FFwList.mDockFile.mName.clear();
    FFwList.mDockFile.mVersion = 0;
    FFwList.mGDFile.mName.clear();
    FFwList.mGDFile.mVersion = 0;
}

void TUnitDef::CopyVariable(const TUnitDef& cUnit)
{
    if (&cUnit == this)
        return;
    FLogList = cUnit.FLogList;
    FDockInfo = cUnit.FDockInfo;
    FFwList = cUnit.FFwList;
    FDevMode = cUnit.FDevMode;
}

void TUnitDef::ClearLogList()
{
    FLogList.clear();
}

RUnitLogList ToLogEntry(const RFileList& mRec)
{
    RUnitLogList e;
    e.mName = mRec.mName;
    e.mDate = mRec.mDate;
    e.mSize = mRec.mSize;
    e.mAliasName = mRec.mAliasName;
    e.mOpt = static_cast<uint8_t>(mRec.mOpt & 15);
    e.mExists = (mRec.mOpt & UNIT_OPT_EXISTS) != 0;
    e.mStageName = mRec.mStageName;
    return e;
}

void TUnitDef::AddLogList(const RFileList& mRec) { FLogList.append(ToLogEntry(mRec)); }

namespace {
QString bareName(const QString& path)
{
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return slash >= 0 ? path.mid(slash + 1) : path;
}
} // namespace

void AssignStageNames(QVector<RFileList>& list)
{
    QSet<QString> used[16];
    for (RFileList& e : list) {
        if (e.mDir)
            continue;
        const QString name = bareName(e.mName);
        QSet<QString>& taken = used[e.mOpt & 15];
        QString stage = name;
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString stem = dot > 0 ? name.left(dot) : name;
        const QString ext = dot > 0 ? name.mid(dot) : QString();
        for (int n = 2; taken.contains(stage.toUpper()); ++n)
            stage = stem + QLatin1Char('_') + QString::number(n) + ext;
        taken.insert(stage.toUpper());
        e.mStageName = stage == name ? QString() : stage;
    }
}

QString StagedLogName(const RUnitLogList& entry)
{
    return entry.mStageName.isEmpty() ? bareName(entry.mName) : entry.mStageName;
}

QString StagedLogName(const RFileList& entry)
{
    return entry.mStageName.isEmpty() ? bareName(entry.mName) : entry.mStageName;
}

RUnitLogList TUnitDef::GetLogList(int index) const
{
    if (index >= 0 && index < FLogList.size())
        return FLogList.at(index);
    RUnitLogList empty;
    empty.mDate = NowDays();
    return empty;
}

// ---- firmware images ----

namespace {

uint32_t dockBodyChecksum(const uint8_t* p)
{
    uint32_t crc = 0;
    for (int i = 0; i < DOCK_BIN_SIZE / 4; ++i) {
        const uint8_t* w = p + DOCK_IMGHEADER_SIZE + 4 * i;
        crc = CalCRC32Single(crc, uint32_t(w[0]) << 24 | uint32_t(w[1]) << 16 |
                                      uint32_t(w[2]) << 8 | uint32_t(w[3]));
    }
    return ~crc;
}

uint16_t gdBodyChecksum(const uint8_t* p)
{
    uint16_t crc = 0;
    for (int i = GD_IMGHEADER_SIZE; i < GD_IMG_SIZE; ++i)
        crc = CalCRC16Single(crc, p[i]);
    return crc;
}

} // namespace

uint8_t TUnitDef::CheckFirmwareImage(uint8_t nFileID, const QByteArray& image, QString& sDesc,
                                     std::array<uint8_t, 4>& arrVer)
{
    sDesc.clear();
    arrVer = {0, 0, 0, 0};
    const auto* p = reinterpret_cast<const uint8_t*>(image.constData());
    uint8_t version = 0;
    uint8_t third = 0;
    if (nFileID == DOCK_ID) {
        if (image.size() != DOCK_IMG_SIZE)
            return PROGRAM_SIZEERROR;
        const uint32_t stored =
            uint32_t(p[24]) | uint32_t(p[25]) << 8 | uint32_t(p[26]) << 16 | uint32_t(p[27]) << 24;
        if (dockBodyChecksum(p) != stored)
            return PROGRAM_CRCERROR;
        version = p[16];
        third = p[17];
    } else if (nFileID == GD_ID) {
        if (image.size() != GD_IMG_SIZE)
            return PROGRAM_SIZEERROR;
        if (p[2] != GD_ID)
            return PROGRAM_WRONG;
        const uint16_t stored = static_cast<uint16_t>(uint16_t(p[12]) << 8 | p[13]);
        if (gdBodyChecksum(p) != stored)
            return PROGRAM_CRCERROR;
        version = p[3];
        third = p[4];
    } else {
        return PROGRAM_OPENERROR;
    }
    arrVer = {static_cast<uint8_t>(version / 10), static_cast<uint8_t>(version % 10), third, 0};
    sDesc = LangText(984, "FW Version") + QStringLiteral(" = %1.%2").arg(version / 10).arg(version % 10);
    return PROGRAM_OK;
}

uint8_t TUnitDef::IsValidFirmware(uint8_t nFileID, const QString& sFile, QString& sDesc,
                                  std::array<uint8_t, 4>& arrVer)
{
    sDesc.clear();
    arrVer = {0, 0, 0, 0};
    qint64 expected = 0;
    if (nFileID == DOCK_ID)
        expected = DOCK_IMG_SIZE;
    else if (nFileID == GD_ID)
        expected = GD_IMG_SIZE;
    else
        return PROGRAM_OPENERROR;

    // Only regular files: a folder, a pipe or a device never gets opened or read.
    const QFileInfo info(sFile);
    if (sFile.isEmpty() || !info.isFile())
        return PROGRAM_OPENERROR;
    QFile file(sFile);
    if (!file.open(QIODevice::ReadOnly))
        return PROGRAM_OPENERROR;
    // The size decides before anything is read, so a huge file costs nothing.
    if (file.size() != expected)
        return PROGRAM_SIZEERROR;
    QByteArray image(expected, '\0');
    qint64 got = 0;
    while (got < expected) {
        const qint64 n = file.read(image.data() + got, expected - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got != expected)
        return PROGRAM_SIZEERROR; // shrank while being read
    return CheckFirmwareImage(nFileID, image, sDesc, arrVer);
}

void TUnitDef::ReadFirmware(uint8_t nFileID, const QString& sPath)
{
    RUnitFwDefine* target = nullptr;
    if (nFileID == DOCK_ID)
        target = &FFwList.mDockFile;
    else if (nFileID == GD_ID)
        target = &FFwList.mGDFile;
    else if (nFileID == UNIT_FWTYPE_GD2)
        target = &FFwList.mGDFile2;
    else
        return;
    *target = RUnitFwDefine{};

    const QDir dir(sPath);
    if (sPath.isEmpty() || !dir.exists())
        return;
    const QStringList names =
        dir.entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (!name.endsWith(QLatin1String(".IMG"), Qt::CaseInsensitive))
            continue;
        const QString full = dir.filePath(name);
        QString desc;
        std::array<uint8_t, 4> ver{};
        if (IsValidFirmware(nFileID, full, desc, ver) != PROGRAM_OK)
            continue;
        const uint16_t version = static_cast<uint16_t>(ver[0] * 10 + ver[1]);
        if (version > target->mVersion) {
            target->mName = full;
            target->mDescription = desc;
            target->mVersion = version;
            target->mVerBytes = ver;
        }
    }
}

bool TUnitDef::CheckFirmware(uint8_t nFileID, const QString& sFile, QString& sDesc)
{
    std::array<uint8_t, 4> ver{};
    if (IsValidFirmware(nFileID, sFile, sDesc, ver) != PROGRAM_OK) {
        if (Port)
            Port->showMessage(LangText(636), LangText(635), OperatorPort::Icon::Error);
        return false;
    }
    const RUnitFwDefine& current = nFileID == UNIT_FWTYPE_DOCK  ? FFwList.mDockFile
                                   : nFileID == UNIT_FWTYPE_GD2 ? FFwList.mGDFile2
                                                                : FFwList.mGDFile;
    const int major = ver[0];
    const int minor = ver[1];
    const int n = major * 10 + minor;
    const int cur = current.mVersion;
    QString question;
    if (n == cur) {
        question = LangText(632) + QStringLiteral(" (Ver %1.%2)").arg(major).arg(minor) +
                   QLatin1Char('\n') + LangText(633);
    } else if (n < cur) {
        question = LangText(634) +
                   QStringLiteral(" (Ver%1.%2 -> Ver %3.%4)")
                       .arg(cur / 10)
                       .arg(cur % 10)
                       .arg(major)
                       .arg(minor) +
                   QLatin1Char('\n') + LangText(633);
    } else {
        return true;
    }
    // Without anyone to ask, only a newer image is taken.
    if (!Port)
        return false;
    return Port->askYesNo(question, LangText(635));
}

// ---- result names ----

const char* ProgramResultName(uint8_t code)
{
    switch (code) {
    case PROGRAM_OK:
        return "PROGRAM_OK";
    case PROGRAM_OPENERROR:
        return "PROGRAM_OPENERROR";
    case PROGRAM_SIZEERROR:
        return "PROGRAM_SIZEERROR";
    case PROGRAM_CRCERROR:
        return "PROGRAM_CRCERROR";
    case PROGRAM_WRONG:
        return "PROGRAM_WRONG";
    default:
        return "PROGRAM_UNKNOWN";
    }
}

QString ProgramResultDescription(uint8_t code)
{
    switch (code) {
    case PROGRAM_OK:
        return QStringLiteral("valid image");
    case PROGRAM_OPENERROR:
        return QStringLiteral("the file could not be opened, or the image kind is unknown");
    case PROGRAM_SIZEERROR:
        return QStringLiteral("the file does not have the size of an image of this kind");
    case PROGRAM_CRCERROR:
        return QStringLiteral("the checksum in the header does not match the image body");
    case PROGRAM_WRONG:
        return QStringLiteral("the header does not mark an instrument image");
    default:
        return QStringLiteral("unknown result %1").arg(code);
    }
}

bool IsSafeLogFileName(const QString& sName)
{
    if (sName.isEmpty() || sName.contains(QLatin1String("..")))
        return false;
    for (const QChar c : sName) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F)
            return false;
        switch (u) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '|':
        case '?':
        case '*':
        case '\\':
        case '/':
            return false;
        default:
            break;
        }
    }
    return true;
}

RUnitInfo ParseDockIdentity(const QByteArray& content)
{
    RUnitInfo info;
    const QString text = platform::DecodeLegacy(content.left(1024 * 1024));
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (!line.contains(QLatin1Char('=')))
            continue;
        const QStringList parts = StDivideToken(line, QStringLiteral("="), 2);
        const QString key = parts.value(0).trimmed();
        if (key == QLatin1String("Serial Number"))
            info.mSN = parts.value(1).trimmed();
        else if (key == QLatin1String("Fw Version"))
            info.mVersion = parts.value(1).trimmed();
    }
    return info;
}
