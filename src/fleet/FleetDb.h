#pragma once
// The fleet index: "fleet.sqlite" (SQLite, WAL) in the log destination beside the
// local store. It holds one row per test result file and one per event line of the
// store's instrument folders, a summary per instrument and the intervals each dock's
// instrument configuration set. It can be deleted at any time: Rebuild() reads the
// store again. All of the program's SQL lives in src/fleet/.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

#include "fleet/FleetRecords.h"

class QSqlDatabase;
class QSqlQuery;

// What one Update() or Rebuild() did.
struct RFleetUpdate {
    int mFilesRead = 0;       // new or changed files read
    int mFilesRemoved = 0;    // files gone from the store whose rows were dropped
    int mFilesUnchanged = 0;
    int mResults = 0;         // result rows written
    int mEvents = 0;          // event rows written
    QStringList mUnreadable;  // store paths of files that could not be read (no rows)
    bool mRebuilt = false;    // the whole index was made anew
    QString mNotice;          // an unreadable index was set aside: what, and where it went
};

class TFleetDb {
public:
    static constexpr int SCHEMA_VERSION = 2;
    static QString FileName() { return QStringLiteral("fleet.sqlite"); }

    // logDest: the log destination (the folder that holds "KM1/").
    explicit TFleetDb(const QString& logDest);
    ~TFleetDb();
    TFleetDb(const TFleetDb&) = delete;
    TFleetDb& operator=(const TFleetDb&) = delete;

    QString path() const;          // <log destination>/fleet.sqlite
    QString logDest() const { return m_dest; }

    // Opens the index, creating it or migrating an older schema. A file that is not
    // a readable index (damaged, foreign, or of a newer program) is renamed aside
    // ("fleet.sqlite.bad-<time>", kept as it was) and an empty index takes its place;
    // *notice then says so and the caller should Rebuild(). False only when no index
    // can be made at all (*error says why).
    bool Open(QString* notice = nullptr, QString* error = nullptr);
    bool IsOpen() const;
    void Close();

    // Brings the index up to date with the store, reading only files that are new or
    // changed (size or time) since they were indexed, and dropping the rows of files
    // no longer there. An index found damaged on the way is set aside and rebuilt
    // (out->mRebuilt, out->mNotice). progress(done, total) is called per file read.
    bool Update(RFleetUpdate* out = nullptr, QString* error = nullptr,
                const std::function<void(int, int)>& progress = {});
    // Drops every row and reads the whole store again.
    bool Rebuild(RFleetUpdate* out = nullptr, QString* error = nullptr,
                 const std::function<void(int, int)>& progress = {});

    // Every instrument the index knows, by serial.
    QVector<RFleetInstrument> Instruments() const;
    // One instrument by serial (any case); false when unknown.
    bool Instrument(const QString& serial, RFleetInstrument* out) const;
    // Results of one instrument (serial in any case), newest first.
    QVector<RFleetResult> Results(const QString& serial) const;
    // One result by its store path; false when not indexed.
    bool ResultByPath(const QString& storePath, RFleetResult* out) const;
    // Every result, by instrument and date; f returns false to stop. False on a database error.
    bool ForEachResult(const std::function<bool(const RFleetResult&)>& f) const;
    // Event lines of one instrument at or after `since` (0: all), newest first.
    QVector<RFleetEvent> Events(const QString& serial, TDateTime since = 0) const;
    // Every event line, by instrument, date and line; f returns false to stop.
    bool ForEachEvent(const std::function<bool(const RFleetEvent&)>& f) const;
    // Counted alarm events at or after `since` per instrument (one per date-time,
    // however many files repeat it).
    QHash<QString, int> AlarmCounts(TDateTime since) const;

    // Records the intervals a dock's instrument configuration sets (one row per gas),
    // replacing what the dock's earlier Read or visit brought.
    bool SetDockIntervals(const QVector<RFleetDockInterval>& rows, QString* error = nullptr);
    QVector<RFleetDockInterval> DockIntervals() const;

    // The text of the last database error.
    QString lastError() const { return m_lastError; }

private:
    struct Conn;
    QString m_dest;
    QString m_connName;
    std::unique_ptr<Conn> m_conn;
    mutable QString m_lastError;

    bool openFile(QString* error);
    bool createSchema(QString* error);
    bool migrate(int from, QString* error);
    bool setAside(const QString& why, QString* notice, QString* error);
    bool run(bool rebuild, RFleetUpdate* out, QString* error, const std::function<void(int, int)>& progress);
    bool updateOnce(bool rebuild, RFleetUpdate* out, QString* error,
                    const std::function<void(int, int)>& progress, bool* damaged);
    bool refreshInstruments(const QStringList& instruments, bool all);
    QSqlDatabase db() const;
    bool fail(const QSqlQuery& q, QString* error) const;
};

// Date-times as the index stores them: "yyyy-MM-dd HH:mm:ss", empty for 0.
QString FleetDateText(TDateTime t);
TDateTime FleetDateFromText(const QString& s);
