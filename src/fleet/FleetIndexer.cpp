#include "fleet/FleetIndexer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <limits>

#include "logview/EventLog.h"
#include "logview/TestResult.h"
#include "platform/FolderList.h"

namespace {

struct KindFolder {
    const char* name;
    uint8_t kind;
    const char* suffix;
};
constexpr KindFolder kFolders[] = {
    {"CAL", FLEET_FILE_CAL, ".XML"},
    {"BUMP", FLEET_FILE_BUMP, ".XML"},
    {"EVENT", FLEET_FILE_EVENT, ".CSV"},
};

RFleetStep stepOf(const RDockTestGas& g)
{
    RFleetStep s;
    s.mConcentration = g.mConcentration;
    s.mPreReading = g.mPreReading;
    s.mReading = g.mReading;
    s.mLowLimit = g.mLowLimit;
    s.mHighLimit = g.mHighLimit;
    s.mTime = g.mTime;
    s.mResult = g.mResult;
    return s;
}

// Floats as the reader keeps them, shown with the digits the file had (a float
// widened to double would print 0.1 as 0.100000001...).
double widened(float v) { return QString::number(v, 'g', 7).toDouble(); }

void widenStep(RFleetStep& s)
{
    s.mConcentration = widened(float(s.mConcentration));
    s.mPreReading = widened(float(s.mPreReading));
    s.mReading = widened(float(s.mReading));
    s.mLowLimit = widened(float(s.mLowLimit));
    s.mHighLimit = widened(float(s.mHighLimit));
}

// The words of the alarm and option columns as constant texts: hundreds of thousands
// of event rows then share them instead of each holding (and another thread freeing)
// a copy of its own.
QString commonWord(const QString& s)
{
    static const QString kWords[] = {QStringLiteral("HIGH"), QStringLiteral("LOW"), QStringLiteral("BUMP"),
                                     QStringLiteral("")};
    for (const QString& w : kWords)
        if (s == w && !s.isNull())
            return w;
    return s;
}

} // namespace

QVector<RFleetStoreFile> ListFleetStore(const QString& logDest)
{
    QVector<RFleetStoreFile> out;
    const QString root = QDir(logDest).filePath(QStringLiteral("KM1")) + QLatin1Char('/');
    for (const platform::FolderEntry& sd : platform::ListFolder(root, false)) {
        if (!sd.mDir)
            continue;
        const QString& serial = sd.mName;
        const QString upper = serial.toUpper();
        for (const KindFolder& k : kFolders) {
            const QString rel = QStringLiteral("KM1/") + serial + QLatin1Char('/') + QLatin1String(k.name) + QLatin1Char('/');
            for (platform::FolderEntry& e : platform::ListFolder(root + serial + QLatin1Char('/') + QLatin1String(k.name), true)) {
                if (e.mDir || !e.mName.endsWith(QLatin1String(k.suffix), Qt::CaseInsensitive))
                    continue;
                RFleetStoreFile f;
                f.mPath = rel + e.mName;
                f.mSerial = serial;
                f.mInstrument = upper;
                f.mKind = k.kind;
                f.mSize = e.mSize;
                f.mMtime = e.mMtime;
                out.append(std::move(f));
            }
        }
    }
    std::sort(out.begin(), out.end(),
              [](const RFleetStoreFile& a, const RFleetStoreFile& b) { return a.mPath < b.mPath; });
    return out;
}

RFleetFileRows FleetRowsFromData(const RFleetStoreFile& file, const QByteArray& data)
{
    RFleetFileRows out;
    out.mSha256 = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    if (file.mKind == FLEET_FILE_EVENT) {
        const RGDEventFile ev = ParseGDEventText(data);
        if (!ev.mValid)
            return out; // no "DURATION" line: nothing to index, but the file is known
        // The alert store's counting rule, per file: a HIGH or LOW alarm that is not
        // a bump test's, more than 5 s after the previous counted one.
        qint64 lastMs = std::numeric_limits<qint64>::min();
        int line = 0;
        out.mEvents.reserve(ev.mEvents.size());
        for (const RGDEvent& e : ev.mEvents) {
            ++line;
            RFleetEvent r;
            r.mInstrument = file.mInstrument;
            r.mDate = e.mDate;
            r.mDuration = e.mDuration.trimmed().toInt();
            r.mReading = e.mReading.trimmed().toDouble();
            r.mAlarm = commonWord(e.mAlarm.trimmed().toUpper());
            r.mOption = commonWord(e.mOption.trimmed().toUpper());
            r.mLine = line;
            r.mPath = file.mPath;
            r.mSha256 = out.mSha256;
            if (r.mDate > 0 && (r.mAlarm == QLatin1String("HIGH") || r.mAlarm == QLatin1String("LOW")) &&
                r.mOption != QLatin1String("BUMP")) {
                const qint64 ms = std::llround(r.mDate * 86400000.0);
                if (lastMs == std::numeric_limits<qint64>::min() || ms > lastMs + 5000) {
                    r.mCounted = true;
                    lastMs = ms;
                }
            }
            out.mEvents.append(std::move(r));
        }
        return out;
    }

    RDockTestInfo info;
    const uint8_t kind = file.mKind == FLEET_FILE_CAL ? TEST_KIND_CAL : TEST_KIND_BUMP;
    out.mCode = GetDockTestInfoFromData(kind, data, info);
    if (out.mCode != DOCKTEST_OK && out.mCode != DOCKTEST_NO_GAS)
        return out;
    RFleetResult r;
    r.mInstrument = file.mInstrument;
    r.mSerial = file.mSerial;
    r.mKind = kind;
    r.mDate = info.mDate;
    const bool gasKnown = out.mCode == DOCKTEST_OK;
    r.mGas = gasKnown ? info.mGasInfo.mName : QString();
    r.mSensor = gasKnown ? info.mGasInfo.mSensor : 0;
    r.mUnit = gasKnown ? info.mGasInfo.mUnit : QString();
    r.mDecimals = info.mGasInfo.mDec;
    r.mModel = gasKnown ? info.mModel : QString();
    r.mDock = info.mInstSN.trimmed();
    r.mLocation = info.mLocation.trimmed();
    r.mOverall = info.mOverAllResult.trimmed().toUpper();
    r.mZero = stepOf(info.mZero);
    r.mSpan = stepOf(info.mSpan);
    widenStep(r.mZero);
    widenStep(r.mSpan);
    r.mGasLot = info.mGasLot.trimmed();
    r.mGasExpiry = info.mGasExpire.trimmed();
    r.mLowAlarm = widened(info.mGasInfo.mLowAlarm);
    r.mHighAlarm = widened(info.mGasInfo.mHighAlarm);
    r.mReadCode = out.mCode;
    r.mPath = file.mPath;
    r.mSha256 = out.mSha256;
    out.mResults.append(std::move(r));
    return out;
}

int FleetReaderThreads(int files)
{
    // One core stays with the writer.
    return files < 64 ? 0 : std::clamp(QThread::idealThreadCount() - 1, 0, 3);
}

RFleetFileRows ReadFleetFile(const QString& logDest, const RFleetStoreFile& file)
{
    const qint64 limit = file.mKind == FLEET_FILE_EVENT ? EVENTLOG_MAX_FILE_SIZE : TESTRESULT_MAX_FILE_SIZE;
    QFile f(QDir(logDest).filePath(file.mPath));
    RFleetFileRows out;
    out.mCode = FLEET_READ_UNREADABLE;
    // Sized by the file, not by the limit: a read of limit + 1 bytes would allocate
    // (and clear) 64 MB for every event file of a few hundred bytes.
    if (!f.open(QIODevice::ReadOnly) || f.size() > limit)
        return out;
    const QByteArray data = f.readAll();
    if (data.size() > limit || f.error() != QFileDevice::NoError)
        return out;
    return FleetRowsFromData(file, data);
}
