#include "logview/EventLog.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <set>

#include "logview/TestResult.h"
#include "platform/Platform.h"

namespace {

// Date-times compared in whole milliseconds, so that "5 seconds" is exact.
qint64 toMs(TDateTime d) { return std::llround(d * 86400000.0); }

bool hasDuration(const QString& line)
{
    return line.contains(QLatin1String("DURATION"), Qt::CaseInsensitive);
}

} // namespace

TDateTime GDEventDate(const QString& sDate, const QString& sTime)
{
    return IsValidFatDateTime(QStringLiteral("20") + sDate + QLatin1Char(' ') + sTime);
}

RGDEvent ParseGDEventLine(const QString& sLine)
{
    QStringList f;
    StDivideToken(sLine, QStringLiteral(","), 7, f);
    RGDEvent e;
    e.mDate = GDEventDate(f.value(0), f.value(1));
    e.mDuration = f.value(2);
    e.mReading = f.value(3);
    e.mAlarm = f.value(4);
    e.mOption = f.value(5);
    return e;
}

RGDEventFile ParseGDEventText(const QByteArray& content)
{
    RGDEventFile out;
    const QString text = platform::DecodeLegacy(content);
    qsizetype pos = 0;
    const qsizetype n = text.size();
    bool inEvents = false;
    while (pos < n) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0)
            end = n;
        QStringView line = QStringView(text).mid(pos, end - pos);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        pos = end + 1;
        if (inEvents) {
            out.mEvents.append(ParseGDEventLine(line.toString()));
        } else {
            out.mHead.append(line.toString());
            if (hasDuration(out.mHead.last()))
                inEvents = true;
        }
    }
    out.mValid = inEvents;
    if (!inEvents)
        out.mEvents.clear();
    return out;
}

RGDEventFile ReadGDEventFile(const QString& sPath)
{
    QFile f(sPath);
    if (f.size() > EVENTLOG_MAX_FILE_SIZE || !f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = f.read(EVENTLOG_MAX_FILE_SIZE + 1);
    if (data.size() > EVENTLOG_MAX_FILE_SIZE)
        return {};
    return ParseGDEventText(data);
}

uint8_t FindGDEventSensor(const QStringList& head)
{
    for (const QString& line : head) {
        const uint8_t pos = FindSensorInText(line.toUpper());
        if (pos != 0)
            return pos;
    }
    return 0;
}

QStringList FindGDEventFiles(const QString& sDir, const QString& sSN)
{
    const QString sn = sSN.trimmed().toUpper();
    QStringList out;
    if (sn.isEmpty())
        return out;
    const QStringList names = QDir(sDir).entryList({QStringLiteral("*.CSV")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (name.toUpper().endsWith(QLatin1String(".CSV")) && name.toUpper().contains(sn))
            out.append(QDir(sDir).filePath(name));
    }
    return out;
}

QVector<RGDEvent> MergeGDEvents(const QVector<QVector<RGDEvent>>& perFile, TDateTime now)
{
    // De-duplication against every event collected so far, in reading order.
    std::set<qint64> seen;
    QVector<RGDEvent> all;
    for (const QVector<RGDEvent>& file : perFile) {
        for (const RGDEvent& e : file) {
            const qint64 ms = toMs(e.mDate);
            auto it = seen.lower_bound(ms - 500);
            if (it != seen.end() && *it <= ms + 500)
                continue;
            seen.insert(ms);
            all.append(e);
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const RGDEvent& a, const RGDEvent& b) { return a.mDate > b.mDate; });

    const qint64 limit = toMs(now + 465.0);
    QVector<RGDEvent> rows;
    qint64 lastKept = 0;
    bool any = false;
    for (const RGDEvent& e : all) {
        const qint64 ms = toMs(e.mDate);
        if (ms >= limit)
            continue;
        if (any && lastKept - ms <= 5000)
            continue;
        rows.append(e);
        lastKept = ms;
        any = true;
    }
    return rows;
}

QVector<RGDEvent> DrawGDEvent(const QString& sEventDir, const QString& sSN, TDateTime now)
{
    if (sSN.trimmed().isEmpty())
        return {};
    QVector<QVector<RGDEvent>> perFile;
    for (const QString& path : FindGDEventFiles(sEventDir, sSN)) {
        RGDEventFile f = ReadGDEventFile(path);
        if (f.mValid)
            perFile.append(std::move(f.mEvents));
    }
    return MergeGDEvents(perFile, now);
}
