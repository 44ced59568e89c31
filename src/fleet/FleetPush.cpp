#include "fleet/FleetPush.h"

#include <QAtomicInteger>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "fleet/FleetDb.h"
#include "fleet/FleetServer.h"

namespace {

QString resultKey(const RFleetResult& r) { return QStringLiteral("R %1 %2").arg(r.mSha256, r.mInstrument); }
QString eventKey(const RFleetEvent& e)
{
    return QStringLiteral("E %1 %2 %3").arg(e.mSha256, e.mInstrument).arg(e.mLine);
}

// This PC's record of what it handed over, in the index's own file.
class PushLog {
public:
    explicit PushLog(const QString& file)
    {
        static QAtomicInteger<int> counter;
        m_name = QStringLiteral("marvane-fleet-push-%1").arg(counter.fetchAndAddRelaxed(1));
        QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", m_name);
        d.setDatabaseName(file);
        d.setConnectOptions("QSQLITE_BUSY_TIMEOUT=15000");
        if (!d.open()) {
            m_error = d.lastError().text();
            return;
        }
        QSqlQuery q(d);
        if (!q.exec("CREATE TABLE IF NOT EXISTS server_pushed (key TEXT PRIMARY KEY) WITHOUT ROWID") ||
            !q.exec("CREATE TABLE IF NOT EXISTS server_push_state (one INTEGER PRIMARY KEY CHECK (one = 1), "
                    "server TEXT NOT NULL DEFAULT '', instance TEXT NOT NULL DEFAULT '', "
                    "last_push TEXT NOT NULL DEFAULT '', last_attempt TEXT NOT NULL DEFAULT '', "
                    "last_error TEXT NOT NULL DEFAULT '')") ||
            !q.exec("INSERT OR IGNORE INTO server_push_state (one) VALUES (1)"))
            m_error = q.lastError().text();
    }
    ~PushLog()
    {
        {
            QSqlDatabase d = QSqlDatabase::database(m_name, false);
            d.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QString error() const { return m_error; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool state(QString* server, QString* instance, RFleetOutbox* out)
    {
        QSqlQuery q(db());
        if (!q.exec("SELECT server, instance, last_push, last_attempt, last_error FROM server_push_state") ||
            !q.next())
            return fail(q);
        if (server)
            *server = q.value(0).toString();
        if (instance)
            *instance = q.value(1).toString();
        if (out) {
            out->mServer = q.value(0).toString();
            out->mLastPush = FleetDateFromText(q.value(2).toString());
            out->mLastAttempt = FleetDateFromText(q.value(3).toString());
            out->mLastError = q.value(4).toString();
        }
        return true;
    }

    // Another server, or the same address holding another database: everything goes again.
    bool switchTo(const QString& server, const QString& instance)
    {
        QString oldServer, oldInstance;
        if (!state(&oldServer, &oldInstance, nullptr))
            return false;
        if (oldServer == server && oldInstance == instance)
            return true;
        QSqlDatabase d = db();
        d.transaction();
        QSqlQuery clear(d), q(d);
        q.prepare("UPDATE server_push_state SET server = ?, instance = ?, last_push = ''");
        q.addBindValue(server);
        q.addBindValue(instance);
        if (!clear.exec("DELETE FROM server_pushed")) {
            d.rollback();
            return fail(clear);
        }
        if (!q.exec()) {
            d.rollback();
            return fail(q);
        }
        return d.commit() || fail(q);
    }

    bool pushedKeys(QSet<QString>* keys)
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.exec("SELECT key FROM server_pushed"))
            return fail(q);
        while (q.next())
            keys->insert(q.value(0).toString());
        return true;
    }

    bool markPushed(const QStringList& keys)
    {
        QSqlDatabase d = db();
        if (!d.transaction())
            return false;
        QSqlQuery q(d);
        q.prepare("INSERT OR IGNORE INTO server_pushed (key) VALUES (?)");
        for (const QString& k : keys) {
            q.addBindValue(k);
            if (!q.exec()) {
                d.rollback();
                return fail(q);
            }
        }
        return d.commit();
    }

    void noteAttempt(const QString& error)
    {
        QSqlQuery q(db());
        const QString now = FleetDateText(NowDays());
        if (error.isEmpty())
            q.prepare("UPDATE server_push_state SET last_attempt = ?, last_push = ?, last_error = ''");
        else
            q.prepare("UPDATE server_push_state SET last_attempt = ?, last_error = ?");
        q.addBindValue(now);
        q.addBindValue(error.isEmpty() ? now : error);
        q.exec();
    }

private:
    QString m_name;
    QString m_error;
    bool fail(const QSqlQuery& q)
    {
        m_error = q.lastError().text();
        return false;
    }
};

// The index's records that the server has not been handed yet.
struct Pending {
    QVector<RFleetResult> results;
    QVector<RFleetEvent> events;
};

bool pendingRecords(const TFleetDb& index, const QSet<QString>& pushed, Pending* out, QString* error)
{
    const bool ok = index.ForEachResult([&](const RFleetResult& r) {
                        if (!pushed.contains(resultKey(r)))
                            out->results.append(r);
                        return true;
                    }) &&
                    index.ForEachEvent([&](const RFleetEvent& e) {
                        if (!pushed.contains(eventKey(e)))
                            out->events.append(e);
                        return true;
                    });
    if (!ok && error)
        *error = QStringLiteral("The fleet index cannot be read: %1").arg(index.lastError());
    return ok;
}


} // namespace

QString RFleetPushResult::Summary() const
{
    if (!mOk)
        return mError + (mWaiting > 0 ? QStringLiteral(" (%1 records wait for the next push)").arg(mWaiting)
                                      : QString());
    return QStringLiteral("Fleet server %1: %2 results and %3 events pushed (%4 new on the server)")
        .arg(mServer)
        .arg(mResultsSent)
        .arg(mEventsSent)
        .arg(mResultsNew + mEventsNew);
}

TFleetPush::TFleetPush(const QString& logDest) : m_dest(logDest) {}

RFleetOutbox TFleetPush::Outbox()
{
    RFleetOutbox out;
    TFleetDb index(m_dest);
    if (!index.Open())
        return out;
    PushLog log(index.path());
    QSet<QString> pushed;
    if (!log.error().isEmpty() || !log.state(nullptr, nullptr, &out) || !log.pushedKeys(&pushed))
        return out;
    Pending pending;
    if (pendingRecords(index, pushed, &pending, nullptr)) {
        out.mResultsWaiting = int(pending.results.size());
        out.mEventsWaiting = int(pending.events.size());
    }
    return out;
}

RFleetPushResult TFleetPush::Push(const RFleetServerSettings& settings)
{
    RFleetPushResult result;
    RFleetServerAddress address;
    if (settings.mServer.trimmed().isEmpty()) {
        result.mError = QStringLiteral("No fleet server is set (FLEET/Server)");
        return result;
    }
    if (!ParseFleetServerUri(settings.mServer, &address, &result.mError))
        return result;
    result.mServer = address.Display();
    const QString site = settings.mSite.trimmed().isEmpty() ? DefaultFleetSite() : settings.mSite.trimmed();

    TFleetDb index(m_dest);
    QString notice;
    if (!index.Open(&notice, &result.mError))
        return result;
    PushLog log(index.path());
    if (!log.error().isEmpty()) {
        result.mError = QStringLiteral("The fleet index %1 cannot keep the push state: %2").arg(index.path(), log.error());
        return result;
    }
    QSet<QString> pushed;
    Pending pending;
    auto finish = [&](const QString& error) {
        result.mError = error;
        result.mOk = error.isEmpty();
        result.mWaiting = int(pending.results.size() + pending.events.size()) - result.mResultsSent -
                          result.mEventsSent;
        log.noteAttempt(error);
        return result;
    };

    TFleetServer server;
    if (!settings.mProgram.isEmpty())
        server.SetProgram(settings.mProgram);
    QString error;
    if (!server.Connect(address, settings.mPassword, &error) || !server.Migrate(&error)) {
        // What waits is counted all the same, so the message can say it.
        if (log.pushedKeys(&pushed))
            pendingRecords(index, pushed, &pending, nullptr);
        return finish(error);
    }
    const QString instance = server.Instance(&error);
    if (instance.isEmpty())
        return finish(error);
    if (!log.switchTo(address.Display(), instance) || !log.pushedKeys(&pushed))
        return finish(QStringLiteral("The fleet index %1 cannot keep the push state: %2").arg(index.path(), log.error()));
    if (!pendingRecords(index, pushed, &pending, &error))
        return finish(error);

    const int total = int(pending.results.size() + pending.events.size());
    const int batch = std::max(1, mBatchSize);
    auto afterBatch = [&](const QStringList& keys) {
        if (!log.markPushed(keys))
            return false;
        if (mProgress)
            mProgress(result.mResultsSent + result.mEventsSent, total);
        return true;
    };
    for (qsizetype at = 0; at < pending.results.size(); at += batch) {
        const QVector<RFleetResult> rows = pending.results.mid(at, batch);
        int added = 0;
        if (!server.InsertResults(rows, site, &added, &error))
            return finish(error);
        QStringList keys;
        for (const RFleetResult& r : rows)
            keys << resultKey(r);
        result.mResultsSent += int(rows.size());
        result.mResultsNew += added;
        if (!afterBatch(keys))
            return finish(QStringLiteral("The fleet index %1 cannot keep the push state: %2").arg(index.path(), log.error()));
    }
    for (qsizetype at = 0; at < pending.events.size(); at += batch) {
        const QVector<RFleetEvent> rows = pending.events.mid(at, batch);
        int added = 0;
        if (!server.InsertEvents(rows, site, &added, &error))
            return finish(error);
        QStringList keys;
        for (const RFleetEvent& e : rows)
            keys << eventKey(e);
        result.mEventsSent += int(rows.size());
        result.mEventsNew += added;
        if (!afterBatch(keys))
            return finish(QStringLiteral("The fleet index %1 cannot keep the push state: %2").arg(index.path(), log.error()));
    }
    if (!server.InsertDockIntervals(index.DockIntervals(), site, &error) || !server.TouchSite(site, &error))
        return finish(error);
    return finish(QString());
}
