#include "fleet/FleetServer.h"

#include <QAtomicInteger>
#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <cmath>
#include <libpq-fe.h>

#include "fleet/FleetDb.h"

namespace {

const char* const kSchema = "marvane";
// Serialises two sites migrating a new server at the same moment.
constexpr qint64 kMigrationLock = 0x4d61727661'6e65; // "Marvane"
constexpr int kConnectSeconds = 10;

// The push's column order, which the bulk load and the read-back follow too.
const char* const kResultColumns =
    "sha256, instrument, serial, kind, tested_at, gas, sensor, unit, decimals, model, dock, location, "
    "overall, zero_concentration, zero_reading_before, zero_reading, zero_low_limit, zero_high_limit, "
    "zero_time, zero_result, span_concentration, span_reading_before, span_reading, span_low_limit, "
    "span_high_limit, span_time, span_result, gas_lot, gas_expiry, low_alarm, high_alarm, read_code, "
    "store_path, site";
const char* const kEventColumns =
    "sha256, instrument, line, event_at, duration, reading, alarm, option, counted, store_path, site";

QString table(const char* name) { return QLatin1String(kSchema) + '.' + QLatin1String(name); }

// One migration: the statements that take the schema from version - 1 to version.
struct Migration {
    int version;
    QStringList statements;
};

QVector<Migration> migrations()
{
    const QString s = QLatin1String(kSchema);
    const QString reader = TFleetServer::ReaderRole();
    return {
        {1,
         {"CREATE TABLE " + s + ".schema_version (version integer PRIMARY KEY, "
          "applied_at timestamptz NOT NULL DEFAULT now(), program text NOT NULL)",
          "CREATE TABLE " + s + ".server_info (one boolean PRIMARY KEY DEFAULT true CHECK (one), "
          "instance uuid NOT NULL DEFAULT gen_random_uuid(), created_at timestamptz NOT NULL DEFAULT now())",
          "INSERT INTO " + s + ".server_info DEFAULT VALUES",
          "CREATE TABLE " + s + ".test_results ("
          "sha256 text NOT NULL, instrument text NOT NULL, serial text NOT NULL, kind text NOT NULL, "
          "tested_at timestamp, gas text NOT NULL, sensor smallint NOT NULL, unit text NOT NULL, "
          "decimals smallint NOT NULL, model text NOT NULL, dock text NOT NULL, location text NOT NULL, "
          "overall text NOT NULL, "
          "zero_concentration double precision, zero_reading_before double precision, "
          "zero_reading double precision, zero_low_limit double precision, zero_high_limit double precision, "
          "zero_time integer, zero_result text NOT NULL, "
          "span_concentration double precision, span_reading_before double precision, "
          "span_reading double precision, span_low_limit double precision, span_high_limit double precision, "
          "span_time integer, span_result text NOT NULL, "
          "gas_lot text NOT NULL, gas_expiry text NOT NULL, low_alarm double precision, "
          "high_alarm double precision, read_code smallint NOT NULL, store_path text NOT NULL, "
          "site text NOT NULL, received_at timestamptz NOT NULL DEFAULT now(), "
          "PRIMARY KEY (sha256, instrument))",
          "CREATE TABLE " + s + ".alarm_events ("
          "sha256 text NOT NULL, instrument text NOT NULL, line integer NOT NULL, event_at timestamp, "
          "duration integer NOT NULL, reading double precision, alarm text NOT NULL, option text NOT NULL, "
          "counted boolean NOT NULL, store_path text NOT NULL, site text NOT NULL, "
          "received_at timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (sha256, instrument, line))",
          "CREATE TABLE " + s + ".dock_intervals (dock text NOT NULL, gas text NOT NULL, "
          "bump_days integer NOT NULL, cal_days integer NOT NULL, seen timestamp NOT NULL, "
          "site text NOT NULL, received_at timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (dock, gas, seen))"}},
        {2,
         {"CREATE TABLE " + s + ".sites (site text PRIMARY KEY, first_push timestamptz NOT NULL, "
          "last_push timestamptz NOT NULL, program text NOT NULL DEFAULT '')",
          // Sites that pushed before the table existed.
          "INSERT INTO " + s + ".sites (site, first_push, last_push) SELECT site, min(received_at), "
          "max(received_at) FROM (SELECT site, received_at FROM " + s + ".test_results UNION ALL "
          "SELECT site, received_at FROM " + s + ".alarm_events) r GROUP BY site",
          "CREATE INDEX test_results_instrument ON " + s + ".test_results (instrument, tested_at)",
          "CREATE INDEX alarm_events_instrument ON " + s + ".alarm_events (instrument, event_at)",
          // The dashboards' role: made when this user may, granted whenever it exists.
          "DO $$ BEGIN "
          "IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '" + reader + "') THEN "
          "BEGIN CREATE ROLE " + reader + " NOLOGIN; "
          "EXCEPTION WHEN insufficient_privilege THEN RAISE NOTICE 'no role made'; END; END IF; "
          "IF EXISTS (SELECT FROM pg_roles WHERE rolname = '" + reader + "') THEN "
          "GRANT USAGE ON SCHEMA " + s + " TO " + reader + "; "
          "GRANT SELECT ON ALL TABLES IN SCHEMA " + s + " TO " + reader + "; "
          "ALTER DEFAULT PRIVILEGES IN SCHEMA " + s + " GRANT SELECT ON TABLES TO " + reader + "; "
          "END IF; END $$"}},
    };
}

// COPY's text form: tab-separated, \N for nothing, backslash escapes.
void appendText(QByteArray& out, const QString& v)
{
    const QByteArray u = v.toUtf8();
    for (char c : u) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': break; // a text column cannot hold it
        default: out += c;
        }
    }
}
void field(QByteArray& out, const QString& v)
{
    appendText(out, v);
    out += '\t';
}
void field(QByteArray& out, double v)
{
    out += std::isfinite(v) ? QByteArray::number(v, 'g', 17) : QByteArray("\\N");
    out += '\t';
}
void field(QByteArray& out, int v)
{
    out += QByteArray::number(v);
    out += '\t';
}
void dateField(QByteArray& out, TDateTime t)
{
    const QString text = FleetDateText(t);
    if (text.isEmpty())
        out += "\\N";
    else
        appendText(out, text);
    out += '\t';
}
void lastField(QByteArray& out, const QString& v)
{
    appendText(out, v);
    out += '\n';
}

void stepFields(QByteArray& out, const RFleetStep& s)
{
    field(out, s.mConcentration);
    field(out, s.mPreReading);
    field(out, s.mReading);
    field(out, s.mLowLimit);
    field(out, s.mHighLimit);
    field(out, s.mTime);
    field(out, s.mResult);
}

QByteArray resultRows(const QVector<RFleetResult>& rows, const QString& site)
{
    QByteArray out;
    out.reserve(rows.size() * 400);
    for (const RFleetResult& r : rows) {
        field(out, r.mSha256);
        field(out, r.mInstrument);
        field(out, r.mSerial);
        field(out, QString::fromLatin1(r.mKind == 1 ? "cal" : r.mKind == 2 ? "bump" : "unknown"));
        dateField(out, r.mDate);
        field(out, r.mGas);
        field(out, int(r.mSensor));
        field(out, r.mUnit);
        field(out, int(r.mDecimals));
        field(out, r.mModel);
        field(out, r.mDock);
        field(out, r.mLocation);
        field(out, r.mOverall);
        stepFields(out, r.mZero);
        stepFields(out, r.mSpan);
        field(out, r.mGasLot);
        field(out, r.mGasExpiry);
        field(out, r.mLowAlarm);
        field(out, r.mHighAlarm);
        field(out, int(r.mReadCode));
        field(out, r.mPath);
        lastField(out, site);
    }
    return out;
}

QByteArray eventRows(const QVector<RFleetEvent>& rows, const QString& site)
{
    QByteArray out;
    out.reserve(rows.size() * 160);
    for (const RFleetEvent& e : rows) {
        field(out, e.mSha256);
        field(out, e.mInstrument);
        field(out, e.mLine);
        dateField(out, e.mDate);
        field(out, e.mDuration);
        field(out, e.mReading);
        field(out, e.mAlarm);
        field(out, e.mOption);
        field(out, QString::fromLatin1(e.mCounted ? "t" : "f"));
        field(out, e.mPath);
        lastField(out, site);
    }
    return out;
}

// libpq's text starts with a severity and may run over several lines; a person needs the gist.
QString plainDatabaseText(QString text)
{
    text = text.trimmed();
    for (const char* mark : {"FATAL:", "ERROR:"}) {
        const int at = int(text.lastIndexOf(QLatin1String(mark)));
        if (at >= 0)
            text = text.mid(at + int(qstrlen(mark)));
    }
    text.replace('\n', ' ');
    return text.simplified();
}

QString sqlErrorText(const QSqlError& e)
{
    const QString t = plainDatabaseText(e.databaseText());
    return t.isEmpty() ? plainDatabaseText(e.driverText()) : t;
}

double numberOr0(const QVariant& v) { return v.isNull() ? 0 : v.toDouble(); }

} // namespace

QString RFleetServerAddress::Display() const
{
    const QString host = mHost.startsWith('/') ? QString::fromLatin1(QUrl::toPercentEncoding(mHost)) : mHost;
    // Concatenated: a percent-encoded folder would take arg()'s place markers for its own.
    return "postgresql://" + mUser + '@' + host + ':' + QString::number(mPort) + '/' + mDatabase;
}

bool ParseFleetServerUri(const QString& text, RFleetServerAddress* out, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("FLEET/Server '%1': %2").arg(text, why);
        return false;
    };
    const QString uri = text.trimmed();
    const int scheme = int(uri.indexOf(QLatin1String("://")));
    if (scheme < 0 || (uri.left(scheme) != "postgresql" && uri.left(scheme) != "postgres"))
        return fail("not of the form postgresql://USER@HOST:PORT/DATABASE");
    // QUrl would take a percent-encoded socket folder apart, so the authority is read by hand.
    QString rest = uri.mid(scheme + 3);
    QString query;
    if (const int q = int(rest.indexOf('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    const int slash = int(rest.indexOf('/'));
    if (slash < 0)
        return fail("names no database (postgresql://USER@HOST:PORT/DATABASE)");
    const QString authority = rest.left(slash);
    RFleetServerAddress a;
    a.mDatabase = QUrl::fromPercentEncoding(rest.mid(slash + 1).toUtf8());
    const int at = int(authority.lastIndexOf('@'));
    if (at <= 0)
        return fail("names no user (postgresql://USER@HOST:PORT/DATABASE)");
    const QString userPart = authority.left(at);
    if (userPart.contains(':'))
        return fail("holds a password: keep it in FLEET/Password (settings set FLEET/Password=-)");
    a.mUser = QUrl::fromPercentEncoding(userPart.toUtf8());
    QString hostPort = authority.mid(at + 1);
    QString portText;
    if (hostPort.startsWith('[')) { // [IPv6]:port
        const int close = int(hostPort.indexOf(']'));
        if (close < 0)
            return fail("an IPv6 address needs its closing ']'");
        portText = hostPort.mid(close + 1).startsWith(':') ? hostPort.mid(close + 2) : QString();
        hostPort = hostPort.mid(1, close - 1);
    } else if (const int colon = int(hostPort.lastIndexOf(':')); colon >= 0) {
        portText = hostPort.mid(colon + 1);
        hostPort = hostPort.left(colon);
    }
    a.mHost = QUrl::fromPercentEncoding(hostPort.toUtf8());
    if (a.mHost.isEmpty())
        return fail("names no host");
    if (!portText.isEmpty()) {
        bool ok = false;
        a.mPort = portText.toInt(&ok);
        if (!ok || a.mPort < 1 || a.mPort > 65535)
            return fail(QStringLiteral("'%1' is not a port (1..65535)").arg(portText));
    }
    if (a.mDatabase.isEmpty() || a.mDatabase.contains('/'))
        return fail("names no database (postgresql://USER@HOST:PORT/DATABASE)");
    const QUrlQuery params(query);
    for (const auto& [key, value] : params.queryItems(QUrl::FullyDecoded)) {
        if (key == "sslmode")
            a.mSslMode = value;
        else if (key == "sslrootcert")
            a.mSslRootCert = value;
        else
            return fail(QStringLiteral("unknown parameter '%1' (sslmode, sslrootcert)").arg(key));
    }
    const QHostAddress address(a.mHost);
    a.mLocal = a.mHost.startsWith('/') || a.mHost.compare("localhost", Qt::CaseInsensitive) == 0 ||
               (!address.isNull() && address.isLoopback());
    static const QStringList kTls = {"require", "verify-ca", "verify-full"};
    static const QStringList kAny = kTls + QStringList{"disable", "allow", "prefer"};
    if (!a.mSslMode.isEmpty() && !kAny.contains(a.mSslMode))
        return fail(QStringLiteral("sslmode '%1' is none of %2").arg(a.mSslMode, kAny.join(", ")));
    if (a.mLocal) {
        if (a.mSslMode.isEmpty())
            a.mSslMode = "prefer";
    } else if (a.mSslMode.isEmpty()) {
        // With the authority's certificate the server's name is checked too.
        a.mSslMode = a.mSslRootCert.isEmpty() ? "require" : "verify-full";
    } else if (!kTls.contains(a.mSslMode)) {
        return fail(QStringLiteral("a server that is not on this PC is reached over TLS only "
                                   "(sslmode require, verify-ca or verify-full, not '%1')")
                        .arg(a.mSslMode));
    }
    *out = a;
    return true;
}

QString DefaultFleetSite()
{
    const QString name = QSysInfo::machineHostName().trimmed();
    return name.isEmpty() ? QStringLiteral("site") : name;
}

TFleetServer::TFleetServer()
{
    static QAtomicInteger<int> counter;
    m_connName = QStringLiteral("marvane-fleet-server-%1").arg(counter.fetchAndAddRelaxed(1));
}

TFleetServer::~TFleetServer() { Close(); }

QSqlDatabase TFleetServer::db() const { return QSqlDatabase::database(m_connName, false); }

bool TFleetServer::IsOpen() const { return QSqlDatabase::contains(m_connName) && db().isOpen(); }

void TFleetServer::Close()
{
    if (!QSqlDatabase::contains(m_connName))
        return;
    {
        QSqlDatabase d = db();
        d.close();
    }
    QSqlDatabase::removeDatabase(m_connName);
    m_stagingReady = false;
}

QString TFleetServer::failure(const QString& what, const QString& detail) const
{
    return QStringLiteral("Fleet server %1: %2: %3").arg(m_display, what, detail);
}

bool TFleetServer::Connect(const RFleetServerAddress& a, const QString& password, QString* error)
{
    Close();
    m_display = a.Display();
    if (!QSqlDatabase::isDriverAvailable("QPSQL")) {
        if (error)
            *error = failure("cannot connect", "Qt's PostgreSQL driver (QPSQL) is not installed");
        return false;
    }
    bool opened = false;
    QString why;
    {
    QSqlDatabase d = QSqlDatabase::addDatabase("QPSQL", m_connName);
    d.setHostName(a.mHost);
    d.setPort(a.mPort);
    d.setDatabaseName(a.mDatabase);
    d.setUserName(a.mUser);
    d.setPassword(password);
    // A dead network is noticed within about a minute, never waited on for ever.
    QStringList options{QStringLiteral("connect_timeout=%1").arg(kConnectSeconds), "sslmode=" + a.mSslMode,
                        "application_name=marvane", "keepalives=1", "keepalives_idle=20",
                        "keepalives_interval=10", "keepalives_count=3", "tcp_user_timeout=60000"};
    if (!a.mSslRootCert.isEmpty())
        options << "sslrootcert='" + QString(a.mSslRootCert).replace('\'', "\\'") + '\'';
    d.setConnectOptions(options.join(';'));
    opened = d.open();
    if (!opened)
        why = failure("cannot connect", sqlErrorText(d.lastError()));
    }
    if (!opened) {
        if (error)
            *error = why;
        Close();
        return false;
    }
    if (!exec("SET statement_timeout = '300s'", &why) || !exec("SET lock_timeout = '120s'", &why)) {
        if (error)
            *error = why;
        Close();
        return false;
    }
    return true;
}

bool TFleetServer::exec(const QString& sql, QString* error)
{
    QSqlQuery q(db());
    if (q.exec(sql))
        return true;
    if (error)
        *error = failure("a request failed", sqlErrorText(q.lastError()));
    return false;
}

int TFleetServer::SchemaVersion(QString* error)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(table("schema_version"))) ||
        !q.next()) {
        if (error)
            *error = failure("cannot read the schema version", sqlErrorText(q.lastError()));
        return -1;
    }
    if (!q.value(0).toBool())
        return 0;
    if (!q.exec("SELECT coalesce(max(version), 0) FROM " + table("schema_version")) || !q.next()) {
        if (error)
            *error = failure("cannot read the schema version", sqlErrorText(q.lastError()));
        return -1;
    }
    return q.value(0).toInt();
}

bool TFleetServer::Migrate(QString* error, int upTo)
{
    const int before = SchemaVersion(error);
    if (before < 0)
        return false;
    if (before >= upTo)
        return true;
    QSqlDatabase d = db();
    if (!d.transaction()) {
        if (error)
            *error = failure("cannot start the schema migration", sqlErrorText(d.lastError()));
        return false;
    }
    auto rollback = [&](const QString& why) {
        d.rollback();
        if (error)
            *error = why;
        return false;
    };
    QString why;
    if (!exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock), &why))
        return rollback(why);
    // Another site may have migrated while we waited for the lock.
    QSqlQuery q(d);
    if (!q.exec(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = '%1'").arg(kSchema)))
        return rollback(failure("cannot read the schemas", sqlErrorText(q.lastError())));
    if (!q.next() && !exec(QStringLiteral("CREATE SCHEMA %1").arg(kSchema), &why))
        return rollback(why);
    const int current = SchemaVersion(&why);
    if (current < 0)
        return rollback(why);
    for (const Migration& m : migrations()) {
        if (m.version <= current || m.version > upTo)
            continue;
        for (const QString& statement : m.statements)
            if (!exec(statement, &why))
                return rollback(failure(QStringLiteral("the schema could not be brought to version %1")
                                            .arg(m.version),
                                        why.section(": ", 2)));
        QSqlQuery mark(d);
        mark.prepare("INSERT INTO " + table("schema_version") + " (version, program) VALUES (?, ?)");
        mark.addBindValue(m.version);
        mark.addBindValue(m_program);
        if (!mark.exec())
            return rollback(failure("cannot record the schema version", sqlErrorText(mark.lastError())));
    }
    if (!d.commit())
        return rollback(failure("the schema migration was not committed", sqlErrorText(d.lastError())));
    return true;
}

QString TFleetServer::Instance(QString* error)
{
    QSqlQuery q(db());
    if (q.exec("SELECT instance::text FROM " + table("server_info")) && q.next())
        return q.value(0).toString();
    if (error)
        *error = failure("cannot read the server's identity", sqlErrorText(q.lastError()));
    return QString();
}

namespace {
PGconn* pgConnection(const QSqlDatabase& d)
{
    const QVariant v = d.driver() ? d.driver()->handle() : QVariant();
    if (!v.isValid() || (qstrcmp(v.typeName(), "PGconn*") != 0 && qstrcmp(v.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(v.data());
}
} // namespace

bool TFleetServer::copyRows(const QString& statement, const QByteArray& rows, QString* error)
{
    PGconn* c = pgConnection(db());
    if (!c) {
        if (error)
            *error = failure("cannot send rows", "the driver gives no connection handle");
        return false;
    }
    auto pgFail = [&](const char* what) {
        if (error)
            *error = failure(QString::fromLatin1(what), plainDatabaseText(QString::fromUtf8(PQerrorMessage(c))));
        return false;
    };
    PGresult* r = PQexec(c, statement.toUtf8().constData());
    const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (!copying)
        return pgFail("cannot send rows");
    constexpr qsizetype kChunk = 1 << 20;
    for (qsizetype at = 0; at < rows.size(); at += kChunk)
        if (PQputCopyData(c, rows.constData() + at, int(std::min(kChunk, rows.size() - at))) != 1)
            return pgFail("the rows were not sent");
    if (PQputCopyEnd(c, nullptr) != 1)
        return pgFail("the rows were not sent");
    bool ok = true;
    QString why;
    while ((r = PQgetResult(c)) != nullptr) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            ok = false;
            why = plainDatabaseText(QString::fromUtf8(PQresultErrorMessage(r)));
        }
        PQclear(r);
    }
    if (!ok && error)
        *error = failure("the rows were refused", why.isEmpty() ? QString::fromUtf8(PQerrorMessage(c)) : why);
    return ok;
}

bool TFleetServer::prepareStaging(QString* error)
{
    if (m_stagingReady)
        return true;
    // Per connection, emptied at each commit: the batch lands here by COPY, and goes on from
    // here into the table with what is already there left alone.
    // Without the table's constraints: the table itself checks them at the INSERT.
    for (const auto& [name, columns] : {std::pair{"test_results", kResultColumns}, std::pair{"alarm_events", kEventColumns}})
        if (!exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS push_%1 ON COMMIT DELETE ROWS AS "
                                 "SELECT %3 FROM %2 WITH NO DATA")
                      .arg(QLatin1String(name), table(name), QLatin1String(columns)),
                  error))
            return false;
    m_stagingReady = true;
    return true;
}

bool TFleetServer::insertBatch(const QString& name, const QByteArray& rows, int* added, QString* error)
{
    if (added)
        *added = 0;
    if (rows.isEmpty())
        return true;
    if (!prepareStaging(error))
        return false;
    const QString columns = QLatin1String(name == "test_results" ? kResultColumns : kEventColumns);
    QSqlDatabase d = db();
    if (!d.transaction()) {
        if (error)
            *error = failure("cannot start a batch", sqlErrorText(d.lastError()));
        return false;
    }
    QSqlQuery q(d);
    if (!copyRows(QStringLiteral("COPY pg_temp.push_%1 (%2) FROM STDIN").arg(name, columns), rows, error) ||
        !q.exec(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM pg_temp.push_%3 ON CONFLICT DO NOTHING")
                    .arg(table(name.toLatin1().constData()), columns, name))) {
        if (error && q.lastError().isValid())
            *error = failure("the rows were refused", sqlErrorText(q.lastError()));
        d.rollback();
        return false;
    }
    if (added)
        *added = q.numRowsAffected();
    if (!d.commit()) {
        if (error)
            *error = failure("the batch was not committed", sqlErrorText(d.lastError()));
        return false;
    }
    return true;
}

bool TFleetServer::InsertResults(const QVector<RFleetResult>& rows, const QString& site, int* added,
                                 QString* error)
{
    return insertBatch("test_results", resultRows(rows, site), added, error);
}

bool TFleetServer::InsertEvents(const QVector<RFleetEvent>& rows, const QString& site, int* added,
                                QString* error)
{
    return insertBatch("alarm_events", eventRows(rows, site), added, error);
}

bool TFleetServer::InsertDockIntervals(const QVector<RFleetDockInterval>& rows, const QString& site,
                                       QString* error)
{
    QSqlQuery q(db());
    q.prepare("INSERT INTO " + table("dock_intervals") +
              " (dock, gas, bump_days, cal_days, seen, site) VALUES (?, ?, ?, ?, ?::timestamp, ?) "
              "ON CONFLICT DO NOTHING");
    for (const RFleetDockInterval& r : rows) {
        if (r.mSeen <= 0)
            continue;
        q.addBindValue(r.mDock);
        q.addBindValue(r.mGas);
        q.addBindValue(r.mBumpDays);
        q.addBindValue(r.mCalDays);
        q.addBindValue(FleetDateText(r.mSeen));
        q.addBindValue(site);
        if (!q.exec()) {
            if (error)
                *error = failure("the dock intervals were refused", sqlErrorText(q.lastError()));
            return false;
        }
    }
    return true;
}

bool TFleetServer::TouchSite(const QString& site, QString* error)
{
    QSqlQuery q(db());
    q.prepare("INSERT INTO " + table("sites") +
              " (site, first_push, last_push, program) VALUES (?, now(), now(), ?) "
              "ON CONFLICT (site) DO UPDATE SET last_push = now(), program = excluded.program");
    q.addBindValue(site);
    q.addBindValue(m_program);
    if (q.exec())
        return true;
    if (error)
        *error = failure("cannot record the site's push", sqlErrorText(q.lastError()));
    return false;
}

namespace {
QString dateColumn(const char* name)
{
    return QStringLiteral("to_char(%1, 'YYYY-MM-DD HH24:MI:SS')").arg(QLatin1String(name));
}
} // namespace

bool TFleetServer::ForEachResult(const std::function<bool(const RFleetSiteResult&)>& f, QString* error)
{
    QString columns = QLatin1String(kResultColumns);
    columns.replace("tested_at", dateColumn("tested_at"));
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec("SELECT " + columns + " FROM " + table("test_results") + " ORDER BY instrument, tested_at")) {
        if (error)
            *error = failure("cannot read the results", sqlErrorText(q.lastError()));
        return false;
    }
    while (q.next()) {
        RFleetSiteResult s;
        RFleetResult& r = s.mResult;
        int i = 0;
        auto text = [&] { return q.value(i++).toString(); };
        auto number = [&] { return numberOr0(q.value(i++)); };
        auto step = [&](RFleetStep& st) {
            st.mConcentration = number();
            st.mPreReading = number();
            st.mReading = number();
            st.mLowLimit = number();
            st.mHighLimit = number();
            st.mTime = int(number());
            st.mResult = text();
        };
        r.mSha256 = text();
        r.mInstrument = text();
        r.mSerial = text();
        const QString kind = text();
        r.mKind = kind == "cal" ? 1 : kind == "bump" ? 2 : 0;
        r.mDate = FleetDateFromText(text());
        r.mGas = text();
        r.mSensor = uint8_t(number());
        r.mUnit = text();
        r.mDecimals = uint8_t(number());
        r.mModel = text();
        r.mDock = text();
        r.mLocation = text();
        r.mOverall = text();
        step(r.mZero);
        step(r.mSpan);
        r.mGasLot = text();
        r.mGasExpiry = text();
        r.mLowAlarm = number();
        r.mHighAlarm = number();
        r.mReadCode = uint8_t(number());
        r.mPath = text();
        s.mSite = text();
        if (!f(s))
            break;
    }
    return true;
}

bool TFleetServer::ForEachEvent(const std::function<bool(const RFleetSiteEvent&)>& f, QString* error)
{
    QString columns = QLatin1String(kEventColumns);
    columns.replace("event_at", dateColumn("event_at"));
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec("SELECT " + columns + " FROM " + table("alarm_events") + " ORDER BY instrument, event_at, line")) {
        if (error)
            *error = failure("cannot read the events", sqlErrorText(q.lastError()));
        return false;
    }
    while (q.next()) {
        RFleetSiteEvent s;
        RFleetEvent& e = s.mEvent;
        e.mSha256 = q.value(0).toString();
        e.mInstrument = q.value(1).toString();
        e.mLine = q.value(2).toInt();
        e.mDate = FleetDateFromText(q.value(3).toString());
        e.mDuration = q.value(4).toInt();
        e.mReading = numberOr0(q.value(5));
        e.mAlarm = q.value(6).toString();
        e.mOption = q.value(7).toString();
        e.mCounted = q.value(8).toBool();
        e.mPath = q.value(9).toString();
        s.mSite = q.value(10).toString();
        if (!f(s))
            break;
    }
    return true;
}

bool TFleetServer::DockIntervals(QVector<RFleetDockInterval>* out, QString* error)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec("SELECT DISTINCT ON (dock, gas) dock, gas, bump_days, cal_days, " + dateColumn("seen") +
                " FROM " + table("dock_intervals") + " ORDER BY dock, gas, seen DESC")) {
        if (error)
            *error = failure("cannot read the dock intervals", sqlErrorText(q.lastError()));
        return false;
    }
    out->clear();
    while (q.next())
        out->append({q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toInt(),
                     FleetDateFromText(q.value(4).toString())});
    return true;
}

bool TFleetServer::Instruments(QVector<RFleetSiteInstrument>* out, QString* error)
{
    const QString r = table("test_results"), e = table("alarm_events");
    // The latest of each kind wins; at the same moment a pass before a fail, as the index does.
    const QString latestOf = "(SELECT DISTINCT ON (instrument) instrument, %1 FROM " + r +
                             " WHERE %2 ORDER BY instrument, tested_at DESC NULLS LAST, %3)";
    const QString sql =
        "SELECT i.instrument, coalesce(l.serial, i.instrument), coalesce(g.gas, ''), coalesce(m.model, ''), "
        "coalesce(l.dock, ''), coalesce(l.location, ''), " +
        dateColumn("a.lb") + ", coalesce(b.overall, ''), " + dateColumn("a.lbp") + ", " + dateColumn("a.lbf") +
        ", " + dateColumn("a.lc") + ", coalesce(c.overall, ''), " + dateColumn("a.lcp") + ", " +
        dateColumn("a.lcf") + ", coalesce(a.n, 0), coalesce(f.files, 0), coalesce(l.site, es.site, '') "
        "FROM (SELECT instrument FROM " + r + " UNION SELECT instrument FROM " + e + ") i "
        "LEFT JOIN (SELECT instrument, count(*) n, "
        "max(tested_at) FILTER (WHERE kind = 'bump') lb, "
        "max(tested_at) FILTER (WHERE kind = 'bump' AND overall = 'PASS') lbp, "
        "max(tested_at) FILTER (WHERE kind = 'bump' AND overall <> 'PASS') lbf, "
        "max(tested_at) FILTER (WHERE kind = 'cal') lc, "
        "max(tested_at) FILTER (WHERE kind = 'cal' AND overall = 'PASS') lcp, "
        "max(tested_at) FILTER (WHERE kind = 'cal' AND overall <> 'PASS') lcf "
        "FROM " + r + " GROUP BY instrument) a ON a.instrument = i.instrument "
        "LEFT JOIN " + latestOf.arg("serial, dock, location, site", "true", "received_at DESC") +
        " l ON l.instrument = i.instrument "
        "LEFT JOIN " + latestOf.arg("gas", "gas <> ''", "received_at DESC") + " g ON g.instrument = i.instrument "
        "LEFT JOIN " + latestOf.arg("model", "model <> ''", "received_at DESC") + " m ON m.instrument = i.instrument "
        "LEFT JOIN " + latestOf.arg("overall", "kind = 'bump'", "overall = 'PASS' DESC") +
        " b ON b.instrument = i.instrument "
        "LEFT JOIN " + latestOf.arg("overall", "kind = 'cal'", "overall = 'PASS' DESC") +
        " c ON c.instrument = i.instrument "
        "LEFT JOIN (SELECT instrument, count(DISTINCT sha256) files FROM " + e +
        " GROUP BY instrument) f ON f.instrument = i.instrument "
        "LEFT JOIN (SELECT DISTINCT ON (instrument) instrument, site FROM " + e +
        " ORDER BY instrument, received_at DESC) es ON es.instrument = i.instrument "
        "ORDER BY i.instrument";
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        if (error)
            *error = failure("cannot read the instruments", sqlErrorText(q.lastError()));
        return false;
    }
    out->clear();
    while (q.next()) {
        RFleetSiteInstrument s;
        RFleetInstrument& i = s.mInst;
        int c = 0;
        auto text = [&] { return q.value(c++).toString(); };
        auto date = [&] { return FleetDateFromText(q.value(c++).toString()); };
        i.mInstrument = text();
        i.mSerial = text();
        i.mGas = text();
        i.mModel = text();
        i.mDock = text();
        i.mLocation = text();
        i.mLastBump = date();
        i.mLastBumpResult = text();
        i.mLastBumpPass = date();
        i.mLastBumpFail = date();
        i.mLastCal = date();
        i.mLastCalResult = text();
        i.mLastCalPass = date();
        i.mLastCalFail = date();
        i.mResults = q.value(c++).toInt();
        i.mEventFiles = q.value(c++).toInt();
        s.mSite = text();
        out->append(s);
    }
    return true;
}

bool TFleetServer::AlarmCounts(TDateTime since, QHash<QString, int>* out, QString* error)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare("SELECT instrument, count(DISTINCT event_at) FROM " + table("alarm_events") +
              " WHERE counted AND event_at >= ?::timestamp GROUP BY instrument");
    q.addBindValue(FleetDateText(since > 0 ? since : 1));
    if (!q.exec()) {
        if (error)
            *error = failure("cannot count the alarms", sqlErrorText(q.lastError()));
        return false;
    }
    out->clear();
    while (q.next())
        out->insert(q.value(0).toString(), q.value(1).toInt());
    return true;
}

bool TFleetServer::Sites(QVector<RFleetSite>* out, QString* error)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec("SELECT site, " + dateColumn("first_push") + ", " + dateColumn("last_push") + ", program FROM " +
                table("sites") + " ORDER BY site")) {
        if (error)
            *error = failure("cannot read the sites", sqlErrorText(q.lastError()));
        return false;
    }
    out->clear();
    while (q.next())
        out->append({q.value(0).toString(), FleetDateFromText(q.value(1).toString()),
                     FleetDateFromText(q.value(2).toString()), q.value(3).toString()});
    return true;
}

bool TFleetServer::Counts(qint64* results, qint64* events, QString* error)
{
    QSqlQuery q(db());
    if (!q.exec("SELECT (SELECT count(*) FROM " + table("test_results") + "), (SELECT count(*) FROM " +
                table("alarm_events") + ")") ||
        !q.next()) {
        if (error)
            *error = failure("cannot count the rows", sqlErrorText(q.lastError()));
        return false;
    }
    *results = q.value(0).toLongLong();
    *events = q.value(1).toLongLong();
    return true;
}

bool TFleetServer::CopyIn(const QString& name, const QByteArray& rows, QString* error)
{
    const QString columns = QLatin1String(name == "test_results" ? kResultColumns : kEventColumns);
    return copyRows(QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table(name.toLatin1().constData()), columns),
                    rows, error);
}

bool TFleetServer::CopyOut(const QString& name, QByteArray* rows, QString* error)
{
    PGconn* c = pgConnection(db());
    if (!c)
        return false;
    const QString columns = QLatin1String(name == "test_results" ? kResultColumns : kEventColumns);
    PGresult* r = PQexec(c, QStringLiteral("COPY %1 (%2) TO STDOUT")
                                .arg(table(name.toLatin1().constData()), columns)
                                .toUtf8()
                                .constData());
    const bool copying = PQresultStatus(r) == PGRES_COPY_OUT;
    PQclear(r);
    if (!copying) {
        if (error)
            *error = failure("cannot read rows", plainDatabaseText(QString::fromUtf8(PQerrorMessage(c))));
        return false;
    }
    rows->clear();
    char* buffer = nullptr;
    int n;
    while ((n = PQgetCopyData(c, &buffer, 0)) > 0) {
        rows->append(buffer, n);
        PQfreemem(buffer);
    }
    while ((r = PQgetResult(c)) != nullptr)
        PQclear(r);
    return n == -1;
}
