#include "fleet/FleetDb.h"

#include <QAtomicInt>
#include <cstdio>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>
#include <sqlite3.h>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "fleet/FleetIndexer.h"

namespace {

QAtomicInt g_connections;

// Every table, as version 1 of the schema makes it (the indexes are in kIndexes).
// Later versions add to it in migrate(); nothing here is renamed once released.
const char* const kSchemaV1[] = {
    "CREATE TABLE files("
    " id INTEGER PRIMARY KEY,"
    " path TEXT NOT NULL UNIQUE,"          // relative to the log destination
    " instrument TEXT NOT NULL,"
    " kind INTEGER NOT NULL,"              // 1 calibration, 2 bump test, 3 events
    " size INTEGER NOT NULL,"
    " mtime INTEGER NOT NULL,"             // ms since the epoch
    " sha256 TEXT NOT NULL,"
    " read_code INTEGER NOT NULL,"         // 0 read; 4 gas unknown; others: no rows
    " indexed_at TEXT NOT NULL)",
    "CREATE TABLE results("
    " id INTEGER PRIMARY KEY,"
    " file_id INTEGER NOT NULL UNIQUE REFERENCES files(id),"
    " instrument TEXT NOT NULL, serial TEXT NOT NULL, kind INTEGER NOT NULL, tested_at TEXT,"
    " gas TEXT NOT NULL, sensor INTEGER NOT NULL, unit TEXT NOT NULL, decimals INTEGER NOT NULL,"
    " model TEXT NOT NULL, dock TEXT NOT NULL, location TEXT NOT NULL, overall TEXT NOT NULL,"
    " zero_conc REAL, zero_pre REAL, zero_reading REAL, zero_low REAL, zero_high REAL,"
    " zero_time INTEGER, zero_result TEXT,"
    " span_conc REAL, span_pre REAL, span_reading REAL, span_low REAL, span_high REAL,"
    " span_time INTEGER, span_result TEXT,"
    " gas_lot TEXT NOT NULL, gas_expiry TEXT NOT NULL, low_alarm REAL, high_alarm REAL,"
    " read_code INTEGER NOT NULL, path TEXT NOT NULL, sha256 TEXT NOT NULL)",
    "CREATE TABLE events("
    " id INTEGER PRIMARY KEY,"
    " file_id INTEGER NOT NULL REFERENCES files(id),"
    " instrument TEXT NOT NULL, event_at TEXT, duration INTEGER NOT NULL, reading REAL NOT NULL,"
    " alarm TEXT NOT NULL, option TEXT NOT NULL, counted INTEGER NOT NULL, line INTEGER NOT NULL)",
    "CREATE TABLE instruments("
    " instrument TEXT PRIMARY KEY, serial TEXT NOT NULL, gas TEXT NOT NULL, model TEXT NOT NULL,"
    " dock TEXT NOT NULL, location TEXT NOT NULL,"
    " last_bump TEXT, last_bump_result TEXT NOT NULL, last_bump_pass TEXT, last_bump_fail TEXT,"
    " last_cal TEXT, last_cal_result TEXT NOT NULL, last_cal_pass TEXT, last_cal_fail TEXT,"
    " results INTEGER NOT NULL, event_files INTEGER NOT NULL)",
    "CREATE TABLE dock_intervals("
    " dock TEXT NOT NULL, gas TEXT NOT NULL, bump_days INTEGER NOT NULL, cal_days INTEGER NOT NULL,"
    " seen_at TEXT, PRIMARY KEY(dock, gas))",
};

// The secondary indexes, by name. Version 1 had the first four; version 2 adds the
// one that finds an instrument's files.
struct IndexDef {
    const char* name;
    const char* columns;
};
constexpr IndexDef kIndexes[] = {
    {"results_instrument", "results(instrument, tested_at)"},
    {"events_file", "events(file_id)"},
    {"events_instrument", "events(instrument, event_at)"},
    {"events_counted", "events(event_at, instrument) WHERE counted = 1"},
    {"files_instrument", "files(instrument, kind)"},
};

QString createIndexSql(const IndexDef& i)
{
    return QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2").arg(QLatin1String(i.name), QLatin1String(i.columns));
}

QVariant dateValue(TDateTime t)
{
    const QString s = FleetDateText(t);
    return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s);
}

// A null QString binds as SQL NULL; the text columns hold "" for nothing.
QString text(const QString& s) { return s.isNull() ? QString(QLatin1String("")) : s; }

// SQLite result codes that mean the file is not (or no longer) a sound database.
bool isDamage(const QSqlError& e)
{
    const int code = e.nativeErrorCode().toInt() & 0xff;
    return code == 11 /* SQLITE_CORRUPT */ || code == 26 /* SQLITE_NOTADB */;
}

// "yyyy-MM-dd HH:mm:ss" of t into buf (32 bytes); its length, 0 for no date.
// By arithmetic, not through a local QDateTime: that asks the time-zone rules for
// every one of a rebuild's half a million rows, and the dock's clock has no zone.
int dateChars(TDateTime t, char* buf)
{
    if (!(t > 0) || !(t < 3.0e6))
        return 0;
    double whole = 0;
    qint64 msec = std::llround(std::modf(t, &whole) * 86400000.0);
    qint64 days = qint64(whole);
    if (msec >= 86400000) {
        msec -= 86400000;
        ++days;
    }
    // Days since 1899-12-30 to the civil date (proleptic Gregorian, eras of 400 years).
    const qint64 z = days - 25569 + 719468; // 1970-01-01 is day 25569; 719468 days before it is 0000-03-01
    const qint64 era = z / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const int year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
    const int sec = int(msec / 1000);
    if (year > 9999)
        return std::clamp(std::snprintf(buf, 32, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, sec / 3600,
                                        sec / 60 % 60, sec % 60),
                          0, 31);
    auto two = [](char* p, int v) {
        p[0] = char('0' + v / 10);
        p[1] = char('0' + v % 10);
    };
    two(buf, year / 100);
    two(buf + 2, year % 100);
    buf[4] = '-';
    two(buf + 5, month);
    buf[7] = '-';
    two(buf + 8, day);
    buf[10] = ' ';
    two(buf + 11, sec / 3600);
    buf[13] = ':';
    two(buf + 14, sec / 60 % 60);
    buf[16] = ':';
    two(buf + 17, sec % 60);
    buf[19] = 0;
    return 19;
}

// The rows of a rebuild (a file row per store file, tens of thousands of results and
// hundreds of thousands of event lines) go in through SQLite's own statements on Qt's
// connection, prepared once, without a QVariant per value.
class RowWriter {
public:
    explicit RowWriter(const QSqlDatabase& d)
    {
        const QVariant h = d.driver()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
            m_db = *static_cast<sqlite3* const*>(h.constData());
        if (!m_db) {
            m_ok = false;
            return;
        }
        const char* const sql[] = {
            "INSERT INTO files(path, instrument, kind, size, mtime, sha256, read_code, indexed_at)"
            " VALUES(?,?,?,?,?,?,?,?)",
            "INSERT INTO results(file_id, instrument, serial, kind, tested_at, gas, sensor, unit, decimals, model, dock,"
            " location, overall, zero_conc, zero_pre, zero_reading, zero_low, zero_high, zero_time, zero_result,"
            " span_conc, span_pre, span_reading, span_low, span_high, span_time, span_result, gas_lot, gas_expiry,"
            " low_alarm, high_alarm, read_code, path, sha256)"
            " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
            "INSERT INTO events(file_id, instrument, event_at, duration, reading, alarm, option, counted, line)"
            " VALUES(?,?,?,?,?,?,?,?,?)",
        };
        for (int i = 0; i < 3; ++i)
            if (sqlite3_prepare_v2(m_db, sql[i], -1, &m_st[i], nullptr) != SQLITE_OK)
                m_ok = false;
    }
    ~RowWriter()
    {
        for (sqlite3_stmt* st : m_st)
            sqlite3_finalize(st);
    }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // The file's row; its id in *id.
    bool file(const RFleetStoreFile& f, const RFleetFileRows& rows, const QByteArray& now, qint64* id)
    {
        sqlite3_stmt* st = m_st[0];
        if (!m_ok)
            return false;
        m_instrumentText = f.mInstrument;
        m_instrument = f.mInstrument.toUtf8();
        bindText(st, 1, f.mPath.toUtf8());
        bindText(st, 2, m_instrument);
        sqlite3_bind_int(st, 3, f.mKind);
        sqlite3_bind_int64(st, 4, f.mSize);
        sqlite3_bind_int64(st, 5, f.mMtime);
        bindText(st, 6, rows.mSha256.toUtf8());
        sqlite3_bind_int(st, 7, rows.mCode);
        bindText(st, 8, now);
        if (!step(st))
            return false;
        *id = sqlite3_last_insert_rowid(m_db);
        return true;
    }

    bool result(qint64 fileId, const RFleetResult& r)
    {
        sqlite3_stmt* st = m_st[1];
        int i = 1;
        sqlite3_bind_int64(st, i++, fileId);
        for (const QString* s : {&r.mInstrument, &r.mSerial})
            bindText(st, i++, s->toUtf8());
        sqlite3_bind_int(st, i++, r.mKind);
        bindDate(st, i++, r.mDate);
        bindText(st, i++, r.mGas.toUtf8());
        sqlite3_bind_int(st, i++, r.mSensor);
        bindText(st, i++, r.mUnit.toUtf8());
        sqlite3_bind_int(st, i++, r.mDecimals);
        for (const QString* s : {&r.mModel, &r.mDock, &r.mLocation, &r.mOverall})
            bindText(st, i++, s->toUtf8());
        for (const RFleetStep* p : {&r.mZero, &r.mSpan}) {
            for (double v : {p->mConcentration, p->mPreReading, p->mReading, p->mLowLimit, p->mHighLimit})
                sqlite3_bind_double(st, i++, v);
            sqlite3_bind_int(st, i++, p->mTime);
            bindText(st, i++, p->mResult.toUtf8());
        }
        bindText(st, i++, r.mGasLot.toUtf8());
        bindText(st, i++, r.mGasExpiry.toUtf8());
        sqlite3_bind_double(st, i++, r.mLowAlarm);
        sqlite3_bind_double(st, i++, r.mHighAlarm);
        sqlite3_bind_int(st, i++, r.mReadCode);
        bindText(st, i++, r.mPath.toUtf8());
        bindText(st, i++, r.mSha256.toUtf8());
        return step(st);
    }

    // An event line of the file last written (whose instrument it carries).
    bool event(qint64 fileId, const RFleetEvent& e)
    {
        // Bound without a copy: the bytes outlive the step, and every value is bound
        // again before the next one.
        sqlite3_stmt* st = m_st[2];
        if (e.mInstrument != m_instrumentText) {
            m_instrumentText = e.mInstrument;
            m_instrument = e.mInstrument.toUtf8();
        }
        char at[32];
        const int atSize = dateChars(e.mDate, at);
        const QByteArray& alarm = m_alarm.of(e.mAlarm);
        const QByteArray& option = m_option.of(e.mOption);
        sqlite3_bind_int64(st, 1, fileId);
        sqlite3_bind_text(st, 2, m_instrument.constData(), int(m_instrument.size()), SQLITE_STATIC);
        if (atSize == 0)
            sqlite3_bind_null(st, 3);
        else
            sqlite3_bind_text(st, 3, at, atSize, SQLITE_STATIC);
        sqlite3_bind_int(st, 4, e.mDuration);
        sqlite3_bind_double(st, 5, e.mReading);
        sqlite3_bind_text(st, 6, alarm.constData(), int(alarm.size()), SQLITE_STATIC);
        sqlite3_bind_text(st, 7, option.constData(), int(option.size()), SQLITE_STATIC);
        sqlite3_bind_int(st, 8, e.mCounted ? 1 : 0);
        sqlite3_bind_int(st, 9, e.mLine);
        return step(st);
    }

    // SQLite's code of the last failure, and its text.
    int code() const { return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_MISUSE; }
    QString errorText() const
    {
        return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("the fleet index is not a SQLite database");
    }

private:
    // The UTF-8 bytes of the last text given: alarms and options are a handful of words.
    struct Recent {
        QString text;
        QByteArray bytes;
        const QByteArray& of(const QString& s)
        {
            if (s != text) {
                text = s;
                bytes = s.toUtf8();
            }
            return bytes;
        }
    };
    // A null QString is stored as "" (the text columns are NOT NULL); SQLITE_TRANSIENT
    // copies the bytes, so the temporary may go.
    static void bindText(sqlite3_stmt* st, int i, const QByteArray& b)
    {
        sqlite3_bind_text(st, i, b.isNull() ? "" : b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    static void bindDate(sqlite3_stmt* st, int i, TDateTime t)
    {
        char buf[32];
        const int n = dateChars(t, buf);
        if (n == 0)
            sqlite3_bind_null(st, i);
        else
            sqlite3_bind_text(st, i, buf, n, SQLITE_TRANSIENT);
    }
    bool step(sqlite3_stmt* st)
    {
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        return rc == SQLITE_DONE;
    }

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_st[3] = {nullptr, nullptr, nullptr};
    bool m_ok = true;
    QString m_instrumentText;
    QByteArray m_instrument;
    Recent m_alarm, m_option;
};

// Reading, hashing and parsing the files is most of a rebuild: threads do it ahead
// of the one writer, which takes the rows in the listing's order, so that the rows
// and their ids are what one thread would give. A few files are read in line.
class FileReaders {
public:
    FileReaders(const QString& dest, const QVector<const RFleetStoreFile*>& files)
        : m_dest(dest), m_files(files), m_slots(size_t(files.size()))
    {
        const int threads = FleetReaderThreads(int(files.size()));
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { work(); });
    }
    ~FileReaders()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_room.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    FileReaders(const FileReaders&) = delete;
    FileReaders& operator=(const FileReaders&) = delete;

    // The rows of file i; files are taken in order.
    RFleetFileRows take(int i)
    {
        if (m_threads.empty())
            return ReadFleetFile(m_dest, *m_files[i]);
        RFleetFileRows rows;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [&] { return m_slots[size_t(i)].has_value(); });
            rows = std::move(*m_slots[size_t(i)]);
            m_slots[size_t(i)].reset();
            m_taken = i + 1;
        }
        m_room.notify_all();
        return rows;
    }

private:
    static constexpr int kAhead = 1024; // files read but not yet taken, at most
    void work()
    {
        for (;;) {
            int i = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_room.wait(lock, [&] { return m_stop || m_next >= m_files.size() || m_next < m_taken + kAhead; });
                if (m_stop || m_next >= m_files.size())
                    return;
                i = m_next++;
            }
            RFleetFileRows rows = ReadFleetFile(m_dest, *m_files[i]);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_slots[size_t(i)] = std::move(rows);
            }
            m_ready.notify_all();
        }
    }

    const QString m_dest;
    const QVector<const RFleetStoreFile*>& m_files;
    std::vector<std::optional<RFleetFileRows>> m_slots;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    int m_next = 0, m_taken = 0;
    bool m_stop = false;
};

const char* const kResultColumns =
    "r.instrument, r.serial, r.kind, r.tested_at, r.gas, r.sensor, r.unit, r.decimals, r.model, r.dock,"
    " r.location, r.overall, r.zero_conc, r.zero_pre, r.zero_reading, r.zero_low, r.zero_high, r.zero_time,"
    " r.zero_result, r.span_conc, r.span_pre, r.span_reading, r.span_low, r.span_high, r.span_time,"
    " r.span_result, r.gas_lot, r.gas_expiry, r.low_alarm, r.high_alarm, r.read_code, r.path, r.sha256";

RFleetResult resultFrom(const QSqlQuery& q)
{
    RFleetResult r;
    int i = 0;
    r.mInstrument = q.value(i++).toString();
    r.mSerial = q.value(i++).toString();
    r.mKind = uint8_t(q.value(i++).toInt());
    r.mDate = FleetDateFromText(q.value(i++).toString());
    r.mGas = q.value(i++).toString();
    r.mSensor = uint8_t(q.value(i++).toInt());
    r.mUnit = q.value(i++).toString();
    r.mDecimals = uint8_t(q.value(i++).toInt());
    r.mModel = q.value(i++).toString();
    r.mDock = q.value(i++).toString();
    r.mLocation = q.value(i++).toString();
    r.mOverall = q.value(i++).toString();
    for (RFleetStep* s : {&r.mZero, &r.mSpan}) {
        s->mConcentration = q.value(i++).toDouble();
        s->mPreReading = q.value(i++).toDouble();
        s->mReading = q.value(i++).toDouble();
        s->mLowLimit = q.value(i++).toDouble();
        s->mHighLimit = q.value(i++).toDouble();
        s->mTime = q.value(i++).toInt();
        s->mResult = q.value(i++).toString();
    }
    r.mGasLot = q.value(i++).toString();
    r.mGasExpiry = q.value(i++).toString();
    r.mLowAlarm = q.value(i++).toDouble();
    r.mHighAlarm = q.value(i++).toDouble();
    r.mReadCode = uint8_t(q.value(i++).toInt());
    r.mPath = q.value(i++).toString();
    r.mSha256 = q.value(i++).toString();
    return r;
}

const char* const kEventColumns =
    "e.instrument, e.event_at, e.duration, e.reading, e.alarm, e.option, e.counted, e.line, f.path, f.sha256";

RFleetEvent eventFrom(const QSqlQuery& q)
{
    RFleetEvent e;
    e.mInstrument = q.value(0).toString();
    e.mDate = FleetDateFromText(q.value(1).toString());
    e.mDuration = q.value(2).toInt();
    e.mReading = q.value(3).toDouble();
    e.mAlarm = q.value(4).toString();
    e.mOption = q.value(5).toString();
    e.mCounted = q.value(6).toInt() != 0;
    e.mLine = q.value(7).toInt();
    e.mPath = q.value(8).toString();
    e.mSha256 = q.value(9).toString();
    return e;
}

const char* const kInstrumentColumns =
    "instrument, serial, gas, model, dock, location, last_bump, last_bump_result, last_bump_pass,"
    " last_bump_fail, last_cal, last_cal_result, last_cal_pass, last_cal_fail, results, event_files";

RFleetInstrument instrumentFrom(const QSqlQuery& q)
{
    RFleetInstrument r;
    r.mInstrument = q.value(0).toString();
    r.mSerial = q.value(1).toString();
    r.mGas = q.value(2).toString();
    r.mModel = q.value(3).toString();
    r.mDock = q.value(4).toString();
    r.mLocation = q.value(5).toString();
    r.mLastBump = FleetDateFromText(q.value(6).toString());
    r.mLastBumpResult = q.value(7).toString();
    r.mLastBumpPass = FleetDateFromText(q.value(8).toString());
    r.mLastBumpFail = FleetDateFromText(q.value(9).toString());
    r.mLastCal = FleetDateFromText(q.value(10).toString());
    r.mLastCalResult = q.value(11).toString();
    r.mLastCalPass = FleetDateFromText(q.value(12).toString());
    r.mLastCalFail = FleetDateFromText(q.value(13).toString());
    r.mResults = q.value(14).toInt();
    r.mEventFiles = q.value(15).toInt();
    return r;
}

} // namespace

QString FleetDateText(TDateTime t)
{
    char buf[32];
    const int n = dateChars(t, buf);
    return n == 0 ? QString() : QString::fromLatin1(buf, n);
}

TDateTime FleetDateFromText(const QString& s)
{
    if (s.size() < 19)
        return 0;
    auto num = [&s](int pos, int len) { return QStringView(s).mid(pos, len).toInt(); };
    return EncodeDateTime(num(0, 4), num(5, 2), num(8, 2), num(11, 2), num(14, 2), num(17, 2));
}

struct TFleetDb::Conn {
    bool open = false;
};

TFleetDb::TFleetDb(const QString& logDest)
    : m_dest(logDest), m_conn(std::make_unique<Conn>())
{
    m_connName = QStringLiteral("marvane-fleet-%1").arg(g_connections.fetchAndAddRelaxed(1));
}

TFleetDb::~TFleetDb() { Close(); }

QString TFleetDb::path() const { return QDir(m_dest).filePath(FileName()); }

QSqlDatabase TFleetDb::db() const { return QSqlDatabase::database(m_connName, false); }

bool TFleetDb::IsOpen() const { return m_conn->open; }

void TFleetDb::Close()
{
    if (!QSqlDatabase::contains(m_connName))
        return;
    {
        QSqlDatabase d = db();
        d.close();
    }
    QSqlDatabase::removeDatabase(m_connName);
    m_conn->open = false;
}

bool TFleetDb::fail(const QSqlQuery& q, QString* error) const
{
    m_lastError = q.lastError().text();
    if (error)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path()), m_lastError);
    return false;
}

bool TFleetDb::openFile(QString* error)
{
    Close();
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connName);
    d.setDatabaseName(path());
    // Another process (the window and the command line) may be writing: wait for it.
    d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!d.open()) {
        m_lastError = d.lastError().text();
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path()), m_lastError);
        d = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connName);
        return false;
    }
    m_conn->open = true;
    return true;
}

bool TFleetDb::createSchema(QString* error)
{
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(q, error);
    QStringList sql;
    for (const char* t : kSchemaV1)
        sql << QString::fromLatin1(t);
    for (const IndexDef& i : kIndexes)
        sql << createIndexSql(i);
    for (const QString& one : sql) {
        if (!q.exec(one)) {
            QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
            return fail(q, error);
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(SCHEMA_VERSION)) ||
        !q.exec(QStringLiteral("COMMIT"))) {
        QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
        return fail(q, error);
    }
    return true;
}

bool TFleetDb::migrate(int from, QString* error)
{
    // Each step takes the schema one version up, in one transaction.
    for (int v = from; v < SCHEMA_VERSION; ++v) {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fail(q, error);
        switch (v) {
        case 1: // 1 -> 2: an instrument's files found by index
            for (const IndexDef& i : kIndexes) {
                if (!q.exec(createIndexSql(i))) {
                    QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
                    return fail(q, error);
                }
            }
            break;
        default:
            break;
        }
        if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(v + 1)) || !q.exec(QStringLiteral("COMMIT"))) {
            QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
            return fail(q, error);
        }
    }
    return true;
}

bool TFleetDb::setAside(const QString& why, QString* notice, QString* error)
{
    Close();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path() + QStringLiteral(".bad-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path() + QStringLiteral(".bad-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path(), aside)) {
        if (error)
            *error = QStringLiteral("%1: %2; it cannot be moved aside").arg(QDir::toNativeSeparators(path()), why);
        return false;
    }
    // The journal files belong to the damaged file: they go with it.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString j = path() + QLatin1String(suffix);
        if (QFileInfo::exists(j))
            QFile::rename(j, aside + QLatin1String(suffix));
    }
    if (notice)
        *notice = QStringLiteral("The fleet index %1 could not be read (%2). It was kept as %3 and is being "
                                 "rebuilt from the local store.")
                      .arg(QDir::toNativeSeparators(path()), why, QDir::toNativeSeparators(aside));
    return true;
}

bool TFleetDb::Open(QString* notice, QString* error)
{
    if (notice)
        notice->clear();
    if (!QDir().mkpath(m_dest)) {
        if (error)
            *error = QStringLiteral("%1: the folder cannot be made").arg(QDir::toNativeSeparators(m_dest));
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!openFile(error))
            return false;
        QString why;
        {
            QSqlQuery q(db());
            // WAL: readers (the window, "fleet status") never wait for a writer.
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) {
                why = q.lastError().text();
            } else if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
                why = q.lastError().text();
            } else {
                const int version = q.value(0).toInt();
                q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
                q.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
                // A rebuild writes tens of megabytes in one transaction: pages that do not
                // fit the cache are spilled to the WAL and read back from it, row by row.
                q.exec(QStringLiteral("PRAGMA cache_size=-65536"));
                q.exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
                int tables = 0;
                if (q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && q.next())
                    tables = q.value(0).toInt();
                else
                    why = q.lastError().text();
                if (why.isEmpty()) {
                    if (version == 0 && tables == 0) {
                        if (!createSchema(error))
                            return false;
                        return true;
                    }
                    if (version == 0)
                        why = QStringLiteral("it holds tables of another program");
                    else if (version > SCHEMA_VERSION)
                        why = QStringLiteral("it was made by a newer version of the program (schema %1)").arg(version);
                    else if (version < SCHEMA_VERSION)
                        return migrate(version, error);
                    else
                        return true;
                }
            }
        }
        if (attempt == 1)
            break;
        if (!setAside(why, notice, error))
            return false;
    }
    if (error)
        *error = QStringLiteral("%1: a new fleet index cannot be made").arg(QDir::toNativeSeparators(path()));
    Close();
    return false;
}

bool TFleetDb::Update(RFleetUpdate* out, QString* error, const std::function<void(int, int)>& progress)
{
    return run(false, out, error, progress);
}

bool TFleetDb::Rebuild(RFleetUpdate* out, QString* error, const std::function<void(int, int)>& progress)
{
    return run(true, out, error, progress);
}

bool TFleetDb::run(bool rebuild, RFleetUpdate* out, QString* error, const std::function<void(int, int)>& progress)
{
    RFleetUpdate local;
    RFleetUpdate& u = out ? *out : local;
    u = RFleetUpdate();
    if (!IsOpen() && !Open(&u.mNotice, error))
        return false;
    bool damaged = false;
    if (updateOnce(rebuild || !u.mNotice.isEmpty(), &u, error, progress, &damaged))
        return true;
    if (!damaged)
        return false;
    // Found damaged while in use: keep it aside and read the store again.
    if (!setAside(m_lastError, &u.mNotice, error) || !Open(nullptr, error))
        return false;
    const QString notice = u.mNotice;
    const bool ok = updateOnce(true, &u, error, progress, &damaged);
    u.mNotice = notice;
    return ok;
}

bool TFleetDb::updateOnce(bool rebuild, RFleetUpdate* out, QString* error,
                          const std::function<void(int, int)>& progress, bool* damaged)
{
    RFleetUpdate& u = *out;
    const QString notice = u.mNotice;
    u = RFleetUpdate();
    u.mNotice = notice;
    u.mRebuilt = rebuild;
    *damaged = false;
    QSqlDatabase d = db();
    QSqlQuery q(d);
    auto bad = [&](const QSqlQuery& failed) {
        *damaged = isDamage(failed.lastError());
        fail(failed, error);
        QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
        return false;
    };

    // The listing is taken before the lock: reading the folders needs no database.
    const QVector<RFleetStoreFile> listing = ListFleetStore(m_dest);

    // One writer at a time; a second process waits here and then sees our rows.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return bad(q);
    if (rebuild) {
        for (const char* t : {"DELETE FROM events", "DELETE FROM results", "DELETE FROM files", "DELETE FROM instruments"})
            if (!q.exec(QString::fromLatin1(t)))
                return bad(q);
    }

    struct Known {
        qint64 id, size, mtime;
        QString instrument;
    };
    QHash<QString, Known> known;
    if (!q.exec(QStringLiteral("SELECT path, id, size, mtime, instrument FROM files")))
        return bad(q);
    while (q.next())
        known.insert(q.value(0).toString(),
                     Known{q.value(1).toLongLong(), q.value(2).toLongLong(), q.value(3).toLongLong(), q.value(4).toString()});

    QSet<QString> touched;
    QVector<const RFleetStoreFile*> toRead;
    QVector<qint64> toDrop;
    QSet<QString> present;
    present.reserve(listing.size());
    for (const RFleetStoreFile& f : listing) {
        present.insert(f.mPath);
        auto it = known.constFind(f.mPath);
        if (it != known.constEnd()) {
            if (it->size == f.mSize && it->mtime == f.mMtime) {
                ++u.mFilesUnchanged;
                continue;
            }
            toDrop.append(it->id);
        }
        toRead.append(&f);
    }
    for (auto it = known.constBegin(); it != known.constEnd(); ++it) {
        if (!present.contains(it.key())) {
            toDrop.append(it->id);
            touched.insert(it->instrument);
            ++u.mFilesRemoved;
        }
    }

    QSqlQuery delEvents(d), delResults(d), delFile(d);
    delEvents.prepare(QStringLiteral("DELETE FROM events WHERE file_id = ?"));
    delResults.prepare(QStringLiteral("DELETE FROM results WHERE file_id = ?"));
    delFile.prepare(QStringLiteral("DELETE FROM files WHERE id = ?"));
    for (qint64 id : toDrop) {
        for (QSqlQuery* dq : {&delEvents, &delResults, &delFile}) {
            dq->addBindValue(id);
            if (!dq->exec())
                return bad(*dq);
        }
    }

    RowWriter writer(d);
    auto badRow = [&]() {
        const int code = writer.code() & 0xff;
        *damaged = code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
        m_lastError = writer.errorText();
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path()), m_lastError);
        QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    const QByteArray now = FleetDateText(NowDays()).toUtf8();
    int done = 0;
    FileReaders readers(m_dest, toRead);
    for (int at = 0; at < int(toRead.size()); ++at) {
        const RFleetStoreFile* f = toRead[at];
        const RFleetFileRows rows = readers.take(at);
        touched.insert(f->mInstrument);
        ++u.mFilesRead;
        qint64 fileId = 0;
        if (!writer.file(*f, rows, now, &fileId))
            return badRow();
        if (rows.mResults.isEmpty() && f->mKind != FLEET_FILE_EVENT)
            u.mUnreadable.append(f->mPath);
        else if (f->mKind == FLEET_FILE_EVENT && rows.mCode == FLEET_READ_UNREADABLE)
            u.mUnreadable.append(f->mPath);
        for (const RFleetResult& r : rows.mResults) {
            if (!writer.result(fileId, r))
                return badRow();
            ++u.mResults;
        }
        for (const RFleetEvent& e : rows.mEvents) {
            if (!writer.event(fileId, e))
                return badRow();
            ++u.mEvents;
        }
        if (progress)
            progress(++done, int(toRead.size()));
    }

    // A rebuild keeps the indexes while it fills the tables: the rows come in the
    // listing's order, so most entries are appended while the readers work, where
    // making them afterwards was a second pass that nothing overlapped. One that is
    // missing (a file from an older program may lack one) is made again here.
    if (rebuild) {
        for (const IndexDef& i : kIndexes)
            if (!q.exec(createIndexSql(i)))
                return bad(q);
    }
    if (!refreshInstruments(QStringList(touched.cbegin(), touched.cend()), rebuild)) {
        QSqlQuery failed(d);
        *damaged = false;
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path()), m_lastError);
        failed.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!q.exec(QStringLiteral("COMMIT")))
        return bad(q);
    return true;
}

bool TFleetDb::refreshInstruments(const QStringList& instruments, bool all)
{
    QSqlDatabase d = db();
    QSqlQuery q(d);
    // The summary of one instrument is made from its own rows alone, so an update
    // that touches it gives the summary a rebuild would.
    static const QString summary = QStringLiteral(
        "INSERT OR REPLACE INTO instruments(instrument, serial, gas, model, dock, location,"
        " last_bump, last_bump_result, last_bump_pass, last_bump_fail,"
        " last_cal, last_cal_result, last_cal_pass, last_cal_fail, results, event_files)"
        " SELECT i.instrument,"
        "  COALESCE((SELECT serial FROM results WHERE instrument = i.instrument ORDER BY tested_at DESC, id DESC LIMIT 1),"
        "           (SELECT substr(path, 5, instr(substr(path, 5), '/') - 1) FROM files WHERE instrument = i.instrument"
        "            ORDER BY path LIMIT 1), i.instrument),"
        "  COALESCE((SELECT gas FROM results WHERE instrument = i.instrument AND gas <> ''"
        "            ORDER BY tested_at DESC, id DESC LIMIT 1), ''),"
        "  COALESCE((SELECT model FROM results WHERE instrument = i.instrument AND model <> ''"
        "            ORDER BY tested_at DESC, id DESC LIMIT 1), ''),"
        "  COALESCE((SELECT dock FROM results WHERE instrument = i.instrument ORDER BY tested_at DESC, id DESC LIMIT 1), ''),"
        "  COALESCE((SELECT location FROM results WHERE instrument = i.instrument ORDER BY tested_at DESC, id DESC LIMIT 1), ''),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 2),"
        "  COALESCE((SELECT overall FROM results WHERE instrument = i.instrument AND kind = 2"
        "            ORDER BY tested_at DESC, overall = 'PASS' DESC LIMIT 1), ''),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 2 AND overall = 'PASS'),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 2 AND overall <> 'PASS'),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 1),"
        "  COALESCE((SELECT overall FROM results WHERE instrument = i.instrument AND kind = 1"
        "            ORDER BY tested_at DESC, overall = 'PASS' DESC LIMIT 1), ''),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 1 AND overall = 'PASS'),"
        "  (SELECT max(tested_at) FROM results WHERE instrument = i.instrument AND kind = 1 AND overall <> 'PASS'),"
        "  (SELECT count(*) FROM results WHERE instrument = i.instrument),"
        "  (SELECT count(*) FROM files WHERE instrument = i.instrument AND kind = 3)"
        " FROM (SELECT ? AS instrument) i");
    QSqlQuery drop(d);
    drop.prepare(QStringLiteral("DELETE FROM instruments WHERE instrument = ?"));
    QSqlQuery has(d);
    has.prepare(QStringLiteral("SELECT 1 FROM files WHERE instrument = ? LIMIT 1"));
    QStringList list = instruments;
    if (all) {
        list.clear();
        if (!q.exec(QStringLiteral("SELECT DISTINCT instrument FROM files")))
            return fail(q, nullptr);
        while (q.next())
            list.append(q.value(0).toString());
    }
    QSqlQuery put(d);
    if (!put.prepare(summary))
        return fail(put, nullptr);
    for (const QString& sn : list) {
        has.addBindValue(sn);
        if (!has.exec())
            return fail(has, nullptr);
        const bool exists = has.next();
        has.finish();
        if (!exists) {
            drop.addBindValue(sn);
            if (!drop.exec())
                return fail(drop, nullptr);
            continue;
        }
        put.addBindValue(sn);
        if (!put.exec())
            return fail(put, nullptr);
    }
    return true;
}

QVector<RFleetInstrument> TFleetDb::Instruments() const
{
    QVector<RFleetInstrument> out;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM instruments ORDER BY instrument").arg(QLatin1String(kInstrumentColumns)))) {
        m_lastError = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append(instrumentFrom(q));
    return out;
}

bool TFleetDb::Instrument(const QString& serial, RFleetInstrument* out) const
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("SELECT %1 FROM instruments WHERE instrument = ?").arg(QLatin1String(kInstrumentColumns)));
    q.addBindValue(serial.trimmed().toUpper());
    if (!q.exec() || !q.next()) {
        m_lastError = q.lastError().text();
        return false;
    }
    if (out)
        *out = instrumentFrom(q);
    return true;
}

QVector<RFleetResult> TFleetDb::Results(const QString& serial) const
{
    QVector<RFleetResult> out;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM results r WHERE r.instrument = ? ORDER BY r.tested_at DESC, r.path DESC")
                  .arg(QLatin1String(kResultColumns)));
    q.addBindValue(serial.trimmed().toUpper());
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append(resultFrom(q));
    return out;
}

bool TFleetDb::ResultByPath(const QString& storePath, RFleetResult* out) const
{
    QSqlQuery q(db());
    q.prepare(QStringLiteral("SELECT %1 FROM results r WHERE r.path = ?").arg(QLatin1String(kResultColumns)));
    q.addBindValue(storePath);
    if (!q.exec() || !q.next()) {
        m_lastError = q.lastError().text();
        return false;
    }
    if (out)
        *out = resultFrom(q);
    return true;
}

bool TFleetDb::ForEachResult(const std::function<bool(const RFleetResult&)>& f) const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM results r ORDER BY r.instrument, r.tested_at, r.path")
                    .arg(QLatin1String(kResultColumns))))
        return fail(q, nullptr);
    while (q.next())
        if (!f(resultFrom(q)))
            break;
    return true;
}

QVector<RFleetEvent> TFleetDb::Events(const QString& serial, TDateTime since) const
{
    QVector<RFleetEvent> out;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM events e JOIN files f ON f.id = e.file_id"
                             " WHERE e.instrument = ? AND (? = '' OR e.event_at >= ?)"
                             " ORDER BY e.event_at DESC, f.path DESC, e.line DESC")
                  .arg(QLatin1String(kEventColumns)));
    const QString from = text(FleetDateText(since));
    q.addBindValue(serial.trimmed().toUpper());
    q.addBindValue(from);
    q.addBindValue(from);
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append(eventFrom(q));
    return out;
}

bool TFleetDb::ForEachEvent(const std::function<bool(const RFleetEvent&)>& f) const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM events e JOIN files f ON f.id = e.file_id"
                               " ORDER BY e.instrument, e.event_at, f.path, e.line")
                    .arg(QLatin1String(kEventColumns))))
        return fail(q, nullptr);
    while (q.next())
        if (!f(eventFrom(q)))
            break;
    return true;
}

QHash<QString, int> TFleetDb::AlarmCounts(TDateTime since) const
{
    QHash<QString, int> out;
    QSqlQuery q(db());
    q.setForwardOnly(true);
    // By the alarm period's index: a plan that walks events_instrument for the GROUP BY
    // would read the whole history, and the status would slow down as the years pass.
    q.prepare(QStringLiteral("SELECT instrument, count(DISTINCT event_at) FROM events INDEXED BY events_counted"
                             " WHERE counted = 1 AND event_at >= ? GROUP BY instrument"));
    q.addBindValue(FleetDateText(since > 0 ? since : 1));
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        return out;
    }
    while (q.next())
        out.insert(q.value(0).toString(), q.value(1).toInt());
    return out;
}

bool TFleetDb::SetDockIntervals(const QVector<RFleetDockInterval>& rows, QString* error)
{
    if (!IsOpen() && !Open(nullptr, error))
        return false;
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(q, error);
    QSqlQuery put(db());
    put.prepare(QStringLiteral("INSERT OR REPLACE INTO dock_intervals(dock, gas, bump_days, cal_days, seen_at)"
                               " VALUES(?,?,?,?,?)"));
    for (const RFleetDockInterval& r : rows) {
        put.addBindValue(text(r.mDock.trimmed().toUpper()));
        put.addBindValue(text(r.mGas.trimmed().toUpper()));
        put.addBindValue(r.mBumpDays);
        put.addBindValue(r.mCalDays);
        put.addBindValue(dateValue(r.mSeen));
        if (!put.exec()) {
            fail(put, error);
            QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
            return false;
        }
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        fail(q, error);
        QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

QVector<RFleetDockInterval> TFleetDb::DockIntervals() const
{
    QVector<RFleetDockInterval> out;
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("SELECT dock, gas, bump_days, cal_days, seen_at FROM dock_intervals ORDER BY dock, gas"))) {
        m_lastError = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append(RFleetDockInterval{q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(),
                                      q.value(3).toInt(), FleetDateFromText(q.value(4).toString())});
    return out;
}
