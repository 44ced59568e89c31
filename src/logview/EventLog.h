#pragma once
// Instrument event files ("<serial>_EVENT_<yymmddhhnn>.CSV"): reading one file, and
// the merged, de-duplicated, newest-first and thinned list the event grid shows.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include "util/StUtils.h"

// Event files above this size are treated as unreadable (they contribute nothing).
inline constexpr qint64 EVENTLOG_MAX_FILE_SIZE = 64 * 1024 * 1024;

struct RGDEvent {
    TDateTime mDate = 0;   // 0 when the line's date or time is not valid
    QString mDuration;     // whole seconds, as read
    QString mReading;
    QString mAlarm;        // "HIGH", "LOW", ...
    QString mOption;       // "BUMP" for alarms raised during a bump test
};

// One event file: the lines up to and including the first line holding "DURATION"
// (any case) and the events after it, in file order.
struct RGDEventFile {
    bool mValid = false;   // readable and has a "DURATION" line
    QStringList mHead;     // preamble and header line
    QVector<RGDEvent> mEvents;
};

RGDEventFile ParseGDEventText(const QByteArray& content);
RGDEventFile ReadGDEventFile(const QString& sPath); // mValid false when unreadable or too big
// One event line (after the header): fields 1-2 date and time, 3-6 the texts.
RGDEvent ParseGDEventLine(const QString& sLine);
// "20" + date + " " + time through IsValidFatDateTime; 0 when invalid.
TDateTime GDEventDate(const QString& sDate, const QString& sTime);
// Sensor position 1..4 named in the head lines (tried H2S, SO2, CO, O2); 0 when none.
uint8_t FindGDEventSensor(const QStringList& head);

// The "*.CSV" files of sDir whose upper-cased name holds sSN upper-cased, sorted by name.
QStringList FindGDEventFiles(const QString& sDir, const QString& sSN);

// The rows of the event grid from the given files' events (in file order): a line
// within 0.5 s (inclusive) of one already collected is dropped; newest first; events
// 465 days or more after `now` dropped; then each kept event is more than 5 s older
// than the previous kept one. O(n log n).
QVector<RGDEvent> MergeGDEvents(const QVector<QVector<RGDEvent>>& perFile, TDateTime now);

// DrawGDEvent without the grid: the events of instrument sSN found in sEventDir
// (the staging folder "LOG/GaviroEVENT/"). Empty when sSN is blank.
QVector<RGDEvent> DrawGDEvent(const QString& sEventDir, const QString& sSN, TDateTime now = NowDays());
