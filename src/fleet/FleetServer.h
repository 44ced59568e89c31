#pragma once
// The central fleet server: a PostgreSQL database that every site's PC pushes its fleet
// index to, and that the "All sites" view reads. Rows are inserted, never changed or
// deleted: a result is keyed by its file's SHA-256 and the instrument, an event line by
// the file's SHA-256, the instrument and the line, so pushing twice is harmless and two
// PCs that saved the same file hold one row. The schema carries its version and is
// migrated by the program, one transaction per migration run. Reached through Qt SQL's
// QPSQL driver; the bulk of a push goes by COPY on the driver's own connection.
#include <QHash>
#include <QString>
#include <QVector>
#include <functional>

#include "fleet/FleetRecords.h"

class QSqlDatabase;

// FLEET/Server: postgresql://USER@HOST:PORT/DATABASE (HOST may be a percent-encoded Unix
// socket folder, "%2Frun%2Fpostgresql"). Query parameters: sslmode, sslrootcert.
struct RFleetServerAddress {
    QString mUser;
    QString mHost;        // a name, an address, or a socket folder (begins with "/")
    int mPort = 5432;
    QString mDatabase;
    bool mLocal = false;  // loopback or a Unix socket: TLS not required
    QString mSslMode;     // what libpq is told
    QString mSslRootCert;
    QString Display() const; // the address as a person reads it (never a password)
};

// False with the reason in *error when the text is not a usable server address, or asks
// for a connection without TLS to a host that is not this PC.
bool ParseFleetServerUri(const QString& uri, RFleetServerAddress* out, QString* error);
// The default of FLEET/Site: this PC's host name.
QString DefaultFleetSite();

// One site as the server knows it.
struct RFleetSite {
    QString mSite;
    TDateTime mFirstPush = 0; // this PC's local time
    TDateTime mLastPush = 0;
    QString mProgram;         // program version of the last push
};

// A result as the server holds it, with the site that first pushed it.
struct RFleetSiteResult {
    RFleetResult mResult;
    QString mSite;
};
struct RFleetSiteEvent {
    RFleetEvent mEvent;
    QString mSite;
};
// An instrument across every site: the site of its latest record.
struct RFleetSiteInstrument {
    RFleetInstrument mInst;
    QString mSite;
};

class TFleetServer {
public:
    static constexpr int SCHEMA_VERSION = 2;
    // The role that dashboards and SQL tools are given: read-only, every table.
    static QString ReaderRole() { return QStringLiteral("marvane_reader"); }

    TFleetServer();
    ~TFleetServer();
    TFleetServer(const TFleetServer&) = delete;
    TFleetServer& operator=(const TFleetServer&) = delete;

    // Connects within the connect time-out; false with a plain reason (wrong password,
    // server not reachable, no such database ...).
    bool Connect(const RFleetServerAddress& address, const QString& password, QString* error);
    bool IsOpen() const;
    void Close();
    // The program and version recorded with a migration and a site's push.
    void SetProgram(const QString& program) { m_program = program; }

    // The schema's version: 0 when there is none yet, -1 on an error.
    int SchemaVersion(QString* error = nullptr);
    // Creates or migrates the schema up to `upTo` in one transaction, serialised against
    // other sites migrating at the same moment. A schema newer than this program is left
    // as it is (migrations only add, so this program's rows still fit).
    bool Migrate(QString* error, int upTo = SCHEMA_VERSION);
    // The server's identity, made once with the schema: a local outbox that was pushed to
    // another server (or to one restored from an older backup) is pushed again.
    QString Instance(QString* error = nullptr);

    // One batch each, in one transaction; *added counts the rows the server did not have.
    bool InsertResults(const QVector<RFleetResult>& rows, const QString& site, int* added, QString* error);
    bool InsertEvents(const QVector<RFleetEvent>& rows, const QString& site, int* added, QString* error);
    bool InsertDockIntervals(const QVector<RFleetDockInterval>& rows, const QString& site, QString* error);
    // The site's first and last push time and the program's version.
    bool TouchSite(const QString& site, QString* error);

    // What the server holds, every site's. f returns false to stop.
    bool ForEachResult(const std::function<bool(const RFleetSiteResult&)>& f, QString* error);
    bool ForEachEvent(const std::function<bool(const RFleetSiteEvent&)>& f, QString* error);
    // The latest intervals each dock set, per gas.
    bool DockIntervals(QVector<RFleetDockInterval>* out, QString* error);
    // Every instrument as the local index sums it up, from every site's rows.
    bool Instruments(QVector<RFleetSiteInstrument>* out, QString* error);
    // Counted alarm events at or after `since` per instrument, one per date-time.
    bool AlarmCounts(TDateTime since, QHash<QString, int>* out, QString* error);
    bool Sites(QVector<RFleetSite>* out, QString* error);
    // Row counts (results, events), for the status line and the tests.
    bool Counts(qint64* results, qint64* events, QString* error);

    // The bare bulk load the push is measured against: COPY of tab-separated rows in the
    // push's column order into a table of the schema ("test_results", "alarm_events"),
    // and the same table's rows out again in that form.
    bool CopyIn(const QString& table, const QByteArray& rows, QString* error);
    bool CopyOut(const QString& table, QByteArray* rows, QString* error);

private:
    QString m_connName;
    QString m_display;
    QString m_program = QStringLiteral("Marvane");
    bool m_stagingReady = false;
    QSqlDatabase db() const;
    bool exec(const QString& sql, QString* error);
    bool copyRows(const QString& statement, const QByteArray& rows, QString* error);
    bool insertBatch(const QString& table, const QByteArray& rows, int* added, QString* error);
    bool prepareStaging(QString* error);
    QString failure(const QString& what, const QString& detail) const;
};
