#include "report/ReportStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "domain/GasTables.h"
#include "logview/EventLog.h"
#include "logview/TestResult.h"
#include "platform/Platform.h"
#include "util/IniFile.h"

namespace {

// "Report.Bin" larger than this is not one we wrote (over half a million instruments).
constexpr qint64 kMaxStoreSize = 256LL * 1024 * 1024;

qint64 toMs(TDateTime d) { return std::llround(d * 86400000.0); }

QByteArray shortBytes(const QString& s, int nMax)
{
    QByteArray b = platform::EncodeLegacy(s);
    if (b.size() > nMax)
        b.truncate(nMax);
    return b;
}

// ---- writing ----
void putShort(char* p, const QString& s, int nMax)
{
    const QByteArray b = shortBytes(s, nMax);
    p[0] = char(uint8_t(b.size()));
    std::memcpy(p + 1, b.constData(), size_t(b.size()));
}
void putDouble(char* p, double v) { qToLittleEndian<double>(v, p); }

// ---- reading ----
// A length byte above the field's maximum is taken as the maximum: the text
// cannot run into the next field.
QString getShort(const char* p, int nMax)
{
    const int len = std::min<int>(uint8_t(p[0]), nMax);
    return platform::DecodeLegacy(QByteArray(p + 1, len));
}
double getDouble(const char* p)
{
    const double v = qFromLittleEndian<double>(p);
    return std::isfinite(v) ? v : 0.0;
}

// Offsets of one record layout.
struct Layout {
    int size;
    int model, modelLen, sensor, sensorName, sensorNameLen, sn, instSn, location;
    int dates; // five doubles
    int low, high, calFile, bumpFile, eventFile, checkFile; // checkFile -1: none
};
constexpr Layout kV3{REPORT_REC_SIZE_V3, 5, 20, 26, 27, 20, 48, 65, 82, 184, 224, 228, 232, 283, 334, 385};
constexpr Layout kV2{REPORT_REC_SIZE_V2, 5, 10, 16, 17, 10, 28, 45, 62, 168, 208, 212, 216, 267, 318, 369};
constexpr Layout kV1{REPORT_REC_SIZE_V1, 5, 10, 16, 17, 10, 28, 45, 62, 168, 208, 212, 216, 267, 318, -1};

RDockReport decodeRecord(const char* p, const Layout& l)
{
    RDockReport r;
    r.mNewIdx = qFromLittleEndian<quint16>(p + 0);
    r.mPrevIdx = qFromLittleEndian<quint16>(p + 2);
    r.mNew = p[4] != 0;
    r.mModel = getShort(p + l.model, l.modelLen);
    r.mSensor = uint8_t(p[l.sensor]);
    r.mSensorName = getShort(p + l.sensorName, l.sensorNameLen);
    r.mSN = getShort(p + l.sn, REPORT_LEN_SN);
    r.mInstSN = getShort(p + l.instSn, REPORT_LEN_SN);
    r.mLocation = getShort(p + l.location, REPORT_LEN_LOCATION);
    r.mLastBumpPass = getDouble(p + l.dates);
    r.mLastBumpFail = getDouble(p + l.dates + 8);
    r.mLastCalPass = getDouble(p + l.dates + 16);
    r.mLastCalFail = getDouble(p + l.dates + 24);
    r.mLastEvent = getDouble(p + l.dates + 32);
    r.mLowAlarmTime = qFromLittleEndian<qint32>(p + l.low);
    r.mHighAlarmTime = qFromLittleEndian<qint32>(p + l.high);
    r.mLastCalFile = getShort(p + l.calFile, REPORT_LEN_LOGFILE);
    r.mLastBumpFile = getShort(p + l.bumpFile, REPORT_LEN_LOGFILE);
    r.mLastEventFile = getShort(p + l.eventFile, REPORT_LEN_LOGFILE);
    r.mLastEventCheckFile = l.checkFile < 0 ? r.mLastEventFile : getShort(p + l.checkFile, REPORT_LEN_LOGFILE);
    return r;
}

void encodeRecord(char* p, const RDockReport& r)
{
    const Layout& l = kV3;
    qToLittleEndian<quint16>(r.mNewIdx, p + 0);
    qToLittleEndian<quint16>(r.mPrevIdx, p + 2);
    p[4] = r.mNew ? 1 : 0;
    putShort(p + l.model, r.mModel, REPORT_LEN_MODEL);
    p[l.sensor] = char(r.mSensor);
    putShort(p + l.sensorName, r.mSensorName, REPORT_LEN_SENSORNAME);
    putShort(p + l.sn, r.mSN, REPORT_LEN_SN);
    putShort(p + l.instSn, r.mInstSN, REPORT_LEN_SN);
    putShort(p + l.location, r.mLocation, REPORT_LEN_LOCATION);
    putDouble(p + l.dates, r.mLastBumpPass);
    putDouble(p + l.dates + 8, r.mLastBumpFail);
    putDouble(p + l.dates + 16, r.mLastCalPass);
    putDouble(p + l.dates + 24, r.mLastCalFail);
    putDouble(p + l.dates + 32, r.mLastEvent);
    qToLittleEndian<qint32>(r.mLowAlarmTime, p + l.low);
    qToLittleEndian<qint32>(r.mHighAlarmTime, p + l.high);
    putShort(p + l.calFile, r.mLastCalFile, REPORT_LEN_LOGFILE);
    putShort(p + l.bumpFile, r.mLastBumpFile, REPORT_LEN_LOGFILE);
    putShort(p + l.eventFile, r.mLastEventFile, REPORT_LEN_LOGFILE);
    putShort(p + l.checkFile, r.mLastEventCheckFile, REPORT_LEN_LOGFILE);
}

int32_t addSeconds(int32_t sum, qint64 add)
{
    return int32_t(qBound(qint64(INT32_MIN), qint64(sum) + add, qint64(INT32_MAX)));
}

QString withSlash(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        return dir;
    return dir + QLatin1Char('/');
}

} // namespace

RDockReport GetInitReport() { return RDockReport{}; }

QString CutShortString(const QString& s, int nMax)
{
    if (s.size() <= nMax) {
        bool ascii = true;
        for (QChar c : s)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            return s;
    }
    return platform::DecodeLegacy(shortBytes(s, nMax));
}

QByteArray EncodeReportBin(const RDockReportHeader& header, const QVector<RDockReport>& records)
{
    QByteArray out(REPORT_HEADER_SIZE + qsizetype(records.size()) * REPORT_REC_SIZE_V3, '\0');
    char* p = out.data();
    p[0] = char(REPORT_VERSION);
    putDouble(p + 8, header.mReportDate);
    putDouble(p + 16, header.mLastSendDate);
    putDouble(p + 24, header.mEventStartTime);
    putShort(p + 32, header.mFile, REPORT_LEN_FILE);
    p += REPORT_HEADER_SIZE;
    for (const RDockReport& r : records) {
        encodeRecord(p, r);
        p += REPORT_REC_SIZE_V3;
    }
    return out;
}

void DecodeReportBin(const QByteArray& data, RDockReportHeader& header, QVector<RDockReport>& records)
{
    records.clear();
    header = RDockReportHeader{};
    if (data.size() < REPORT_HEADER_SIZE)
        return;
    const char* p = data.constData();
    header.mVer = uint8_t(p[0]);
    header.mReportDate = getDouble(p + 8);
    header.mLastSendDate = getDouble(p + 16);
    header.mEventStartTime = getDouble(p + 24);
    header.mFile = getShort(p + 32, REPORT_LEN_FILE);
    const Layout* l = nullptr;
    switch (header.mVer) {
    case 1: l = &kV1; break;
    case 2: l = &kV2; break;
    case 3: l = &kV3; break;
    default:
        header.mLastSendDate = 0;
        header.mEventStartTime = 0;
        return;
    }
    const qsizetype count = (data.size() - REPORT_HEADER_SIZE) / l->size;
    records.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        records.append(decodeRecord(p + REPORT_HEADER_SIZE + i * l->size, *l));
}

namespace {

// A date no store holds: not a number, before 1899 or after 9999.
bool plausibleDate(const char* p)
{
    const double v = qFromLittleEndian<double>(p);
    return std::isfinite(v) && v >= 0 && v < 2958466.0;
}

bool plausibleShort(const char* p, int nMax) { return uint8_t(p[0]) <= nMax; }

} // namespace

QString ReportBinDamage(const QByteArray& data)
{
    if (data.isEmpty())
        return QStringLiteral("the file is empty");
    if (data.size() < REPORT_HEADER_SIZE)
        return QStringLiteral("the file is cut short (%1 bytes, the header alone has %2)")
            .arg(data.size())
            .arg(REPORT_HEADER_SIZE);
    const char* p = data.constData();
    const uint8_t ver = uint8_t(p[0]);
    const Layout* l = ver == 1 ? &kV1 : ver == 2 ? &kV2 : ver == 3 ? &kV3 : nullptr;
    if (!l)
        return QStringLiteral("unknown layout version %1").arg(ver);
    if (!plausibleDate(p + 8) || !plausibleDate(p + 16) || !plausibleDate(p + 24) ||
        !plausibleShort(p + 32, REPORT_LEN_FILE))
        return QStringLiteral("the header holds no valid dates");
    const qsizetype body = data.size() - REPORT_HEADER_SIZE;
    if (body % l->size != 0)
        return QStringLiteral("the file is cut short (a partial record of %1 bytes at the end)").arg(body % l->size);
    for (qsizetype i = 0; i < body / l->size; ++i) {
        const char* r = p + REPORT_HEADER_SIZE + i * l->size;
        bool ok = uint8_t(r[4]) <= 1 && plausibleShort(r + l->model, l->modelLen) &&
                  plausibleShort(r + l->sensorName, l->sensorNameLen) && plausibleShort(r + l->sn, REPORT_LEN_SN) &&
                  plausibleShort(r + l->instSn, REPORT_LEN_SN) && plausibleShort(r + l->location, REPORT_LEN_LOCATION) &&
                  plausibleShort(r + l->calFile, REPORT_LEN_LOGFILE) &&
                  plausibleShort(r + l->bumpFile, REPORT_LEN_LOGFILE) &&
                  plausibleShort(r + l->eventFile, REPORT_LEN_LOGFILE) &&
                  (l->checkFile < 0 || plausibleShort(r + l->checkFile, REPORT_LEN_LOGFILE));
        for (int d = 0; d < 5 && ok; ++d)
            ok = plausibleDate(r + l->dates + 8 * d);
        if (!ok)
            return QStringLiteral("record %1 holds values no store holds").arg(i + 1);
    }
    return QString();
}

QString StoreFolderName(const QString& serial)
{
    QString out;
    for (QChar c : serial)
        out += (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c)) ? QChar('_') : c;
    if (out == "." || out == "..")
        out = "_";
    return out;
}

QString StoreInstrumentDir(const QString& dest, const QString& serial)
{
    const QString root = withSlash(dest) + QStringLiteral("KM1/");
    const QString name = StoreFolderName(GetDelLastSpace(serial));
    if (QFileInfo(root + name).isDir())
        return root + name + QLatin1Char('/');
    // An instrument saved before under another letter case keeps its folder.
    const QStringList existing = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& e : existing)
        if (SameSerial(e, name))
            return root + e + QLatin1Char('/');
    return root + name + QLatin1Char('/');
}

TReportStore::TReportStore(TReportState& st) : state(st) {}

QString TReportStore::BackupPath() const { return StorePath() + QStringLiteral(".bak"); }

QString TReportStore::LockPath() const { return StorePath() + QStringLiteral(".lock"); }

void TReportStore::apply(Change change)
{
    change(*this);
    if (!m_replaying)
        m_pending.append(std::move(change));
}

void TReportStore::StartReportSet(TDateTime tReport, const QString& sFile)
{
    apply([tReport, sFile](TReportStore& s) {
        s.FReportHeader.mReportDate = tReport;
        s.FReportHeader.mFile = sFile;
    });
}

QString TReportStore::StorePath() const { return withSlash(state.FLogDestDir) + QStringLiteral("Report.Bin"); }

namespace {

enum class ReadOutcome { Missing, Read, Failed };

ReadOutcome readStoreFile(const QString& path, QByteArray& bytes, QString* error)
{
    bytes.clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return ReadOutcome::Missing;
    QFile f(path);
    if (info.size() > kMaxStoreSize || !info.isFile() || !f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = info.size() > kMaxStoreSize
                         ? QStringLiteral("\"%1\" is too large to be an alert store").arg(QDir::toNativeSeparators(path))
                         : QStringLiteral("Cannot read the alert store \"%1\": %2")
                               .arg(QDir::toNativeSeparators(path), info.isFile() ? f.errorString()
                                                                                  : QStringLiteral("not a file"));
        return ReadOutcome::Failed;
    }
    bytes = f.read(kMaxStoreSize + 1);
    if (f.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read the alert store \"%1\": %2")
                         .arg(QDir::toNativeSeparators(path), f.errorString());
        return ReadOutcome::Failed;
    }
    const QString damage = ReportBinDamage(bytes);
    if (!damage.isEmpty()) {
        if (error)
            *error = QStringLiteral("The alert store \"%1\" is damaged (%2): it is kept as it is and not "
                                    "written over. Move it aside to start a new one.")
                         .arg(QDir::toNativeSeparators(path), damage);
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Read;
}

} // namespace

bool TReportStore::LoadResult(QString* error)
{
    FReport.clear();
    m_pending.clear();
    m_index.clear();
    m_indexSize = -1;
    QByteArray bytes;
    switch (readStoreFile(StorePath(), bytes, error)) {
    case ReadOutcome::Missing:
        FReportHeader.mLastSendDate = 0;
        FReportHeader.mEventStartTime = 0;
        m_base.clear();
        m_baseExists = false;
        m_baseKnown = true;
        m_damaged = false;
        return true;
    case ReadOutcome::Failed:
        FReportHeader = RDockReportHeader{};
        m_baseKnown = false;
        m_damaged = true;
        return false;
    case ReadOutcome::Read:
        break;
    }
    DecodeReportBin(bytes, FReportHeader, FReport);
    m_base = bytes;
    m_baseExists = true;
    m_baseKnown = true;
    m_damaged = false;
    return true;
}

bool TReportStore::WriteStore(QString* error)
{
    const QString path = StorePath();
    if (m_damaged) {
        if (error && error->isEmpty())
            *error = QStringLiteral("The alert store \"%1\" could not be read: it is not written over.")
                         .arg(QDir::toNativeSeparators(path));
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QLockFile lock(LockPath());
    // Held only while saving, but a writer that died leaves it: its process is looked for.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(LockTimeoutMs)) {
        qint64 pid = 0;
        QString host, app;
        lock.getLockInfo(&pid, &host, &app);
        if (error)
            *error = QStringLiteral("The alert store \"%1\" is being written by %2 (process %3): not saved.")
                         .arg(QDir::toNativeSeparators(path), app.isEmpty() ? QStringLiteral("another program") : app)
                         .arg(pid);
        return false;
    }
    QByteArray disk;
    const ReadOutcome onDisk = readStoreFile(path, disk, error);
    if (onDisk == ReadOutcome::Failed)
        return false;
    const bool exists = onDisk == ReadOutcome::Read;
    // A file that is gone holds nobody's work: this copy is written as it is.
    if (exists && (!m_baseKnown || !m_baseExists || disk != m_base)) {
        // Someone else saved since this copy was loaded: their store, plus our changes.
        RDockReportHeader header;
        QVector<RDockReport> records;
        DecodeReportBin(disk, header, records);
        FReportHeader = header;
        FReport = records;
        m_index.clear();
        m_indexSize = -1;
        m_replaying = true;
        for (const Change& c : m_pending)
            c(*this);
        m_replaying = false;
    }
    FReportHeader.mVer = REPORT_VERSION;
    const QByteArray bytes = EncodeReportBin(FReportHeader, FReport);
    if (exists && disk != bytes && !WriteFileAtomic(BackupPath(), disk, error))
        return false;
    if (!WriteFileAtomic(path, bytes, error))
        return false;
    m_base = bytes;
    m_baseExists = true;
    m_baseKnown = true;
    m_pending.clear();
    return true;
}

bool TReportStore::SaveResult(QString* error)
{
    if (!WriteStore(error))
        return false;
    state.FLastReportDate = FReportHeader.mReportDate;
    state.FLastReportFile = FReportHeader.mFile;
    return true;
}

bool TReportStore::SetAsideUnreadable(const QString& stamp, QString* aside, QString* why)
{
    QByteArray bytes;
    if (readStoreFile(StorePath(), bytes, why) != ReadOutcome::Failed)
        return false;
    QString target = StorePath() + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = StorePath() + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(StorePath(), target))
        return false;
    if (aside)
        *aside = target;
    return true;
}

int TReportStore::FindReport(const QString& sAlias)
{
    // The store keeps 16 characters: a longer serial is matched by what was kept,
    // so it does not gain a new record at every save.
    const QString key = CutShortString(sAlias, REPORT_LEN_SN);
    const QString folded = key.toUpper();
    // A large fleet saves thousands of files at once: remember where each serial
    // was found, and look again whenever the list changed under the hint.
    const int hint = m_index.value(folded, -1);
    if (hint >= 0 && hint < FReport.size() && SameSerial(FReport.at(hint).mSN, key) && m_indexSize == FReport.size())
        return hint;
    m_index.clear();
    for (int i = int(FReport.size()) - 1; i >= 0; --i)
        m_index.insert(FReport.at(i).mSN.toUpper(), i); // the first of equal serials wins
    m_indexSize = FReport.size();
    const auto it = m_index.constFind(folded);
    if (it != m_index.constEnd())
        return it.value();
    RDockReport r = GetInitReport();
    r.mSN = key;
    FReport.append(r);
    m_index.insert(folded, int(FReport.size()) - 1);
    m_indexSize = FReport.size();
    return int(FReport.size()) - 1;
}

namespace {

QVector<RUnitLogList> pickEntries(const QVector<RUnitLogList>& logList, const QVector<int>& list)
{
    QVector<RUnitLogList> out;
    for (int idx : list)
        if (idx >= 0 && idx < logList.size())
            out.append(logList.at(idx));
    return out;
}

} // namespace

void TReportStore::foldTestResult(const QVector<RUnitLogList>& entries, bool bCal)
{
    const QString dest = withSlash(state.FLogDestDir);
    for (const RUnitLogList& entry : entries) {
        const QString name = QFileInfo(entry.mName).fileName();
        const QString local = StoreInstrumentDir(dest, entry.mAliasName) +
                              (bCal ? QStringLiteral("CAL/") : QStringLiteral("BUMP/")) + name;
        RDockReport& r = FReport[FindReport(entry.mAliasName)];
        RDockTestInfo info;
        if (GetDockTestInfo(bCal ? TEST_KIND_CAL : TEST_KIND_BUMP, local, info) != DOCKTEST_OK)
            continue;
        r.mModel = CutShortString(info.mModel, REPORT_LEN_MODEL);
        r.mInstSN = CutShortString(info.mInstSN, REPORT_LEN_SN);
        r.mSensorName = CutShortString(info.mGasInfo.mName, REPORT_LEN_SENSORNAME);
        r.mLocation = CutShortString(info.mLocation, REPORT_LEN_LOCATION);
        r.mSensor = info.mGasInfo.mSensor;
        QString& lastFile = bCal ? r.mLastCalFile : r.mLastBumpFile;
        if (lastFile.isEmpty() || name.toUpper().compare(lastFile.toUpper(), Qt::CaseSensitive) > 0)
            lastFile = CutShortString(name, REPORT_LEN_LOGFILE);
        TDateTime& pass = bCal ? r.mLastCalPass : r.mLastBumpPass;
        TDateTime& fail = bCal ? r.mLastCalFail : r.mLastBumpFail;
        TDateTime& target = info.mOverAllResult == QLatin1String("PASS") ? pass : fail;
        if (info.mDate > target)
            target = info.mDate;
    }
}

void TReportStore::MakeCalResult(const QVector<RUnitLogList>& logList, const QVector<int>& nCalList)
{
    apply([entries = pickEntries(logList, nCalList)](TReportStore& s) { s.foldTestResult(entries, true); });
}

void TReportStore::MakeBumpResult(const QVector<RUnitLogList>& logList, const QVector<int>& nBumpList)
{
    apply([entries = pickEntries(logList, nBumpList)](TReportStore& s) { s.foldTestResult(entries, false); });
}

TDateTime TReportStore::EventWindowStart(TDateTime now)
{
    RReportSettings& s = state.reportSettings();
    if (s.ConfigSetAlertEventCombo == 0) {
        if (s.ConfigSetAlertEventEdit < 3)
            s.ConfigSetAlertEventEdit = 3;
        return now - s.ConfigSetAlertEventEdit / 24.0;
    }
    const double timeOfDay = s.ConfigSetAlertRefTimePicker - std::floor(s.ConfigSetAlertRefTimePicker);
    const TDateTime start = std::floor(now) + timeOfDay;
    if (toMs(now) >= toMs(start))
        return start + 1.0 - s.ConfigSetAlertEventEdit;
    return start - s.ConfigSetAlertEventEdit;
}

void TReportStore::MakeEventResult(const QVector<RUnitLogList>& logList, const QVector<int>& nEventList)
{
    apply([entries = pickEntries(logList, nEventList)](TReportStore& s) { s.foldEvents(entries); });
}

void TReportStore::foldEvents(const QVector<RUnitLogList>& entries)
{
    const bool after = state.reportSettings().ConfigSetAlertEventAfterCheck;
    const QString dest = withSlash(state.FLogDestDir);
    for (const RUnitLogList& entry : entries) {
        const TDateTime now = Now();
        const TDateTime windowStart = EventWindowStart(now);
        const QString name = QFileInfo(entry.mName).fileName();
        const QString local = StoreInstrumentDir(dest, entry.mAliasName) + QStringLiteral("EVENT/") + name;
        RDockReport& r = FReport[FindReport(entry.mAliasName)];
        if (r.mLastEventFile.isEmpty() || name.toUpper().compare(r.mLastEventFile.toUpper(), Qt::CaseSensitive) > 0) {
            r.mLastEventFile = CutShortString(name, REPORT_LEN_LOGFILE);
            r.mLastEventCheckFile = r.mLastEventFile;
        }
        const TDateTime prevEvent = r.mLastEvent;
        int32_t prevLow = r.mLowAlarmTime;
        int32_t prevHigh = r.mHighAlarmTime;
        if (!after) {
            r.mLastEvent = 0;
            r.mLowAlarmTime = 0;
            r.mHighAlarmTime = 0;
            if (prevEvent < windowStart) {
                prevLow = 0;
                prevHigh = 0;
            }
        }

        const RGDEventFile file = QFileInfo(local).isFile() ? ReadGDEventFile(local) : RGDEventFile{};
        if (file.mValid) {
            if (r.mSensor == 0) {
                const uint8_t pos = FindGDEventSensor(file.mHead);
                if (pos != 0) {
                    r.mSensor = pos;
                    r.mSensorName = CutShortString(FSensor[pos].mName, REPORT_LEN_SENSORNAME);
                    r.mModel = CutShortString(GetSensorModel(0, pos, false), REPORT_LEN_MODEL);
                }
            }
            const qint64 futureMs = toMs(now + 365.0);
            const qint64 startMs = toMs(windowStart);
            for (const RGDEvent& e : file.mEvents) {
                const qint64 ms = toMs(e.mDate);
                if (ms > futureMs || ms - toMs(r.mLastEvent) <= 5000)
                    continue;
                if (e.mOption.trimmed().toUpper() == QLatin1String("BUMP"))
                    continue;
                if (!after && ms <= startMs)
                    continue;
                const QString alarm = e.mAlarm.trimmed().toUpper();
                const qint64 seconds = e.mDuration.trimmed().toLongLong();
                if (alarm == QLatin1String("HIGH"))
                    r.mHighAlarmTime = addSeconds(r.mHighAlarmTime, seconds);
                else if (alarm == QLatin1String("LOW"))
                    r.mLowAlarmTime = addSeconds(r.mLowAlarmTime, seconds);
                else
                    continue;
                r.mLastEvent = e.mDate;
                if (after && (FReportHeader.mEventStartTime < 0.1 || FReportHeader.mEventStartTime > e.mDate))
                    FReportHeader.mEventStartTime = e.mDate;
            }
        }
        if (!after) {
            FReportHeader.mEventStartTime = windowStart;
            if (prevEvent > r.mLastEvent) {
                r.mLastEvent = prevEvent;
                r.mLowAlarmTime = prevLow;
                r.mHighAlarmTime = prevHigh;
            }
        }
    }
}

void TReportStore::ClearAlarmsBeforeWindow()
{
    apply([](TReportStore& s) {
        if (s.state.reportSettings().ConfigSetAlertEventAfterCheck)
            return;
        const TDateTime start = s.EventWindowStart(s.Now());
        for (RDockReport& r : s.FReport) {
            if (r.mLastEvent < start) {
                r.mLowAlarmTime = 0;
                r.mHighAlarmTime = 0;
            }
        }
    });
}

void TReportStore::mergeCaseDuplicates()
{
    // Older versions kept "XA8516908" and "xa8516908" apart: one instrument, one record.
    QHash<QString, int> first;
    QVector<RDockReport> kept;
    kept.reserve(FReport.size());
    auto later = [](const QString& a, const QString& b) {
        return b.isEmpty() || (!a.isEmpty() && a.toUpper().compare(b.toUpper(), Qt::CaseSensitive) > 0);
    };
    for (const RDockReport& r : FReport) {
        const QString key = r.mSN.toUpper();
        const auto it = first.constFind(key);
        if (it == first.constEnd()) {
            first.insert(key, int(kept.size()));
            kept.append(r);
            continue;
        }
        RDockReport& m = kept[it.value()];
        const TDateTime mTest = std::max({m.mLastBumpPass, m.mLastBumpFail, m.mLastCalPass, m.mLastCalFail});
        const TDateTime rTest = std::max({r.mLastBumpPass, r.mLastBumpFail, r.mLastCalPass, r.mLastCalFail});
        if ((rTest > mTest && !r.mModel.isEmpty()) || m.mModel.isEmpty()) {
            m.mModel = r.mModel;
            m.mSensor = r.mSensor;
            m.mSensorName = r.mSensorName;
            m.mInstSN = r.mInstSN;
            m.mLocation = r.mLocation;
        }
        m.mLastBumpPass = std::max(m.mLastBumpPass, r.mLastBumpPass);
        m.mLastBumpFail = std::max(m.mLastBumpFail, r.mLastBumpFail);
        m.mLastCalPass = std::max(m.mLastCalPass, r.mLastCalPass);
        m.mLastCalFail = std::max(m.mLastCalFail, r.mLastCalFail);
        m.mLastEvent = std::max(m.mLastEvent, r.mLastEvent);
        m.mLowAlarmTime = addSeconds(m.mLowAlarmTime, r.mLowAlarmTime);
        m.mHighAlarmTime = addSeconds(m.mHighAlarmTime, r.mHighAlarmTime);
        m.mNewIdx |= r.mNewIdx;
        m.mPrevIdx |= r.mPrevIdx;
        if (later(r.mLastCalFile, m.mLastCalFile))
            m.mLastCalFile = r.mLastCalFile;
        if (later(r.mLastBumpFile, m.mLastBumpFile))
            m.mLastBumpFile = r.mLastBumpFile;
        if (later(r.mLastEventFile, m.mLastEventFile))
            m.mLastEventFile = r.mLastEventFile;
        if (later(r.mLastEventCheckFile, m.mLastEventCheckFile))
            m.mLastEventCheckFile = r.mLastEventCheckFile;
    }
    if (kept.size() != FReport.size()) {
        FReport = kept;
        m_index.clear();
        m_indexSize = -1;
    }
}

void TReportStore::CheckResult()
{
    apply([](TReportStore& s) { s.checkResult(); });
}

void TReportStore::checkResult()
{
    mergeCaseDuplicates();
    // Byte order of the stored 8-bit serials.
    QVector<QPair<QByteArray, RDockReport>> keyed;
    keyed.reserve(FReport.size());
    for (const RDockReport& r : FReport)
        keyed.append({shortBytes(r.mSN, REPORT_LEN_SN), r});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return std::lexicographical_compare(a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
                                            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
    });
    const RReportSettings& s = state.reportSettings();
    const TDateTime now = Now();
    auto evaluate = [now](TDateTime pass, TDateTime fail, bool failCheck, int days, uint16_t bitFail,
                          uint16_t bitNot, uint16_t bitOutdate) {
        uint16_t bits = 0;
        if (failCheck) {
            if (pass > 0 && fail > 0 && pass < fail)
                bits |= bitFail;
            if (!(pass > 0))
                bits |= fail > 0 ? bitFail : bitNot;
        }
        if (pass > 0 && pass < now && now - pass > days)
            bits |= bitOutdate;
        return bits;
    };
    FReport.clear();
    for (auto& [key, r] : keyed) {
        r.mPrevIdx = r.mNewIdx;
        r.mNewIdx = 0;
        r.mNew = false;
        r.mNewIdx |= evaluate(r.mLastBumpPass, r.mLastBumpFail, s.ConfigSetAlertBumpFailCheck, s.ConfigSetAlertBumpEdit,
                              REPORT_INDEX_BUMP_FAIL, REPORT_INDEX_BUMP_NOT, REPORT_INDEX_BUMP_OUTDATE);
        r.mNewIdx |= evaluate(r.mLastCalPass, r.mLastCalFail, s.ConfigSetAlertCalFailCheck, s.ConfigSetAlertCalEdit,
                              REPORT_INDEX_CAL_FAIL, REPORT_INDEX_CAL_NOT, REPORT_INDEX_CAL_OUTDATE);
        if (r.mLowAlarmTime > 0 || r.mHighAlarmTime > 0)
            r.mNewIdx |= REPORT_INDEX_EVENT;
        const uint16_t tests = 1 | 2 | 4 | 8 | 16 | 32;
        r.mNew = ((r.mNewIdx & ~r.mPrevIdx) & tests) != 0 || (r.mNewIdx & REPORT_INDEX_EVENT) != 0;
        FReport.append(std::move(r));
    }
}

void TReportStore::MakeEventCheckFile()
{
    apply([](TReportStore& s) {
        if (s.state.reportSettings().ConfigSetAlertEventAfterCheck) {
            for (RDockReport& r : s.FReport)
                r.mLastEventCheckFile = CutShortString(r.mLastEventFile, REPORT_LEN_LOGFILE);
            return;
        }
        const TDateTime start = s.EventWindowStart(s.Now());
        const QString stamp = DaysToDateTime(start).toString(QStringLiteral("yyMMddHHmm"));
        for (RDockReport& r : s.FReport) {
            if (r.mLastEventFile.trimmed().isEmpty())
                continue;
            const QStringList f = StDivideToken(r.mLastEventFile, QStringLiteral("_"), 10);
            r.mLastEventCheckFile = CutShortString(
                f.value(0) + QLatin1Char('_') + f.value(1) + QLatin1Char('_') + stamp + QStringLiteral(".CSV"),
                REPORT_LEN_LOGFILE);
        }
    });
}

bool TReportStore::ResetAfterEmail(QString* error)
{
    const TDateTime sent = Now();
    apply([sent](TReportStore& s) {
        for (RDockReport& r : s.FReport) {
            r.mLowAlarmTime = 0;
            r.mHighAlarmTime = 0;
        }
        s.FReportHeader.mLastSendDate = sent;
        s.FReportHeader.mEventStartTime = 0;
    });
    // Not SaveResult: the state keeps the name of the report just mailed whatever
    // the header says.
    return WriteStore(error);
}
