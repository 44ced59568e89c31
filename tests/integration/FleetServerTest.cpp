// The fleet pushed to a real PostgreSQL server that each test starts for itself: pushing
// twice, two sites at once, the server stopped half-way, an older schema, a wrong password,
// the dashboards' read-only role, and every site read back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUrl>

#include "fleet/FleetDb.h"
#include "fleet/FleetPush.h"
#include "fleet/FleetServer.h"
#include "support/FleetStoreWriter.h"
#include "support/PgServer.h"

using testsupport::FleetStoreShape;
using testsupport::PgServer;

namespace {

// One site's PC: a log destination with a store, and its fleet index brought up to date.
struct Site {
    QTemporaryDir dir;
    QString dest() const { return dir.path() + "/store/"; }
    explicit Site(const FleetStoreShape& shape)
    {
        QDir().mkpath(dest());
        testsupport::WriteFleetStore(dest(), shape);
        index();
    }
    void index() const
    {
        TFleetDb db(dest());
        QString error;
        ASSERT_TRUE(db.Open(nullptr, &error)) << error.toStdString();
        RFleetUpdate u;
        ASSERT_TRUE(db.Update(&u, &error)) << error.toStdString();
    }
    QMap<QString, RFleetResult> results() const
    {
        QMap<QString, RFleetResult> out;
        TFleetDb db(dest());
        EXPECT_TRUE(db.Open());
        db.ForEachResult([&](const RFleetResult& r) {
            out.insert(r.mSha256 + ' ' + r.mInstrument, r);
            return true;
        });
        return out;
    }
    QMap<QString, RFleetEvent> events() const
    {
        QMap<QString, RFleetEvent> out;
        TFleetDb db(dest());
        EXPECT_TRUE(db.Open());
        db.ForEachEvent([&](const RFleetEvent& e) {
            out.insert(QStringLiteral("%1 %2 %3").arg(e.mSha256, e.mInstrument).arg(e.mLine), e);
            return true;
        });
        return out;
    }
};

RFleetServerSettings settingsFor(const PgServer& pg, const QString& site, const QString& database = "fleet",
                                 const QString& password = PgServer::adminPassword())
{
    return {pg.uri(PgServer::adminUser(), database), password, site, "Marvane test"};
}

// The server as one site sees it.
struct ServerRows {
    QMap<QString, RFleetSiteResult> results;
    QMap<QString, RFleetSiteEvent> events;
};

ServerRows serverRows(const PgServer& pg, const QString& user = PgServer::adminUser(),
                      const QString& password = PgServer::adminPassword())
{
    ServerRows rows;
    RFleetServerAddress a;
    QString error;
    EXPECT_TRUE(ParseFleetServerUri(pg.uri(user, "fleet"), &a, &error));
    TFleetServer server;
    EXPECT_TRUE(server.Connect(a, password, &error)) << error.toStdString();
    EXPECT_TRUE(server.ForEachResult(
        [&](const RFleetSiteResult& r) {
            EXPECT_FALSE(rows.results.contains(r.mResult.mSha256 + ' ' + r.mResult.mInstrument));
            rows.results.insert(r.mResult.mSha256 + ' ' + r.mResult.mInstrument, r);
            return true;
        },
        &error))
        << error.toStdString();
    EXPECT_TRUE(server.ForEachEvent(
        [&](const RFleetSiteEvent& e) {
            rows.events.insert(QStringLiteral("%1 %2 %3").arg(e.mEvent.mSha256, e.mEvent.mInstrument).arg(e.mEvent.mLine), e);
            return true;
        },
        &error))
        << error.toStdString();
    return rows;
}

void expectSameStep(const RFleetStep& a, const RFleetStep& b)
{
    EXPECT_EQ(a.mConcentration, b.mConcentration);
    EXPECT_EQ(a.mPreReading, b.mPreReading);
    EXPECT_EQ(a.mReading, b.mReading);
    EXPECT_EQ(a.mLowLimit, b.mLowLimit);
    EXPECT_EQ(a.mHighLimit, b.mHighLimit);
    EXPECT_EQ(a.mTime, b.mTime);
    EXPECT_EQ(a.mResult, b.mResult);
}

// Every field of every local row is on the server as it was read from the file.
void expectServerHolds(const ServerRows& server, const Site& site, const QString& siteName)
{
    const auto results = site.results();
    const auto events = site.events();
    ASSERT_FALSE(results.isEmpty());
    ASSERT_FALSE(events.isEmpty());
    for (auto it = results.begin(); it != results.end(); ++it) {
        ASSERT_TRUE(server.results.contains(it.key())) << it.value().mPath.toStdString();
        const RFleetSiteResult& s = server.results[it.key()];
        const RFleetResult& a = it.value();
        const RFleetResult& b = s.mResult;
        if (!siteName.isEmpty())
            EXPECT_EQ(s.mSite, siteName);
        EXPECT_EQ(a.mSerial, b.mSerial);
        EXPECT_EQ(a.mKind, b.mKind);
        EXPECT_EQ(FleetDateText(a.mDate), FleetDateText(b.mDate));
        EXPECT_EQ(a.mGas, b.mGas);
        EXPECT_EQ(a.mSensor, b.mSensor);
        EXPECT_EQ(a.mUnit, b.mUnit);
        EXPECT_EQ(a.mDecimals, b.mDecimals);
        EXPECT_EQ(a.mModel, b.mModel);
        EXPECT_EQ(a.mDock, b.mDock);
        EXPECT_EQ(a.mLocation, b.mLocation);
        EXPECT_EQ(a.mOverall, b.mOverall);
        expectSameStep(a.mZero, b.mZero);
        expectSameStep(a.mSpan, b.mSpan);
        EXPECT_EQ(a.mGasLot, b.mGasLot);
        EXPECT_EQ(a.mGasExpiry, b.mGasExpiry);
        EXPECT_EQ(a.mLowAlarm, b.mLowAlarm);
        EXPECT_EQ(a.mHighAlarm, b.mHighAlarm);
        EXPECT_EQ(a.mReadCode, b.mReadCode);
        EXPECT_EQ(a.mPath, b.mPath);
    }
    for (auto it = events.begin(); it != events.end(); ++it) {
        ASSERT_TRUE(server.events.contains(it.key())) << it.value().mPath.toStdString();
        const RFleetEvent& a = it.value();
        const RFleetEvent& b = server.events[it.key()].mEvent;
        EXPECT_EQ(FleetDateText(a.mDate), FleetDateText(b.mDate));
        EXPECT_EQ(a.mDuration, b.mDuration);
        EXPECT_EQ(a.mReading, b.mReading);
        EXPECT_EQ(a.mAlarm, b.mAlarm);
        EXPECT_EQ(a.mOption, b.mOption);
        EXPECT_EQ(a.mCounted, b.mCounted);
        EXPECT_EQ(a.mPath, b.mPath);
    }
}

struct CliRun {
    int code = -1;
    QString out, err;
};

QProcess* startCli(const QString& home, const QStringList& args, QObject* parent = nullptr)
{
    auto* p = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home + "/home");
    env.insert("XDG_STATE_HOME", home + "/state");
    env.insert("TMPDIR", home + "/tmp");
    QDir().mkpath(home + "/tmp");
    QDir().mkpath(home + "/home");
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(MARVANE_BINARY_DIR);
    p->start(MARVANE_CLI, args);
    return p;
}

CliRun finish(QProcess* p)
{
    EXPECT_TRUE(p->waitForFinished(120000));
    CliRun r{p->exitCode(), QString::fromUtf8(p->readAllStandardOutput()),
             QString::fromUtf8(p->readAllStandardError())};
    delete p;
    return r;
}

CliRun runCli(const QString& home, const QStringList& args, const QByteArray& input = QByteArray())
{
    QProcess* p = startCli(home, args);
    if (!input.isEmpty())
        p->write(input);
    p->closeWriteChannel();
    return finish(p);
}

// A site's PC for the command line: its settings name the store and the server.
void setUpCliSite(const QString& home, const Site& site, const PgServer& pg, const QString& name)
{
    const CliRun set = runCli(home, {"settings", "set", "SET/LogDestination=" + site.dest(),
                                     "NETWORK/Interfaces=127.0.0.1", "FLEET/Server=" + pg.uri(PgServer::adminUser(), "fleet"),
                                     "FLEET/Site=" + name, "FLEET/Password=-"},
                              PgServer::adminPassword().toUtf8() + "\n");
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
}

class FleetServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pg.ok()) << pg.error().toStdString();
        ASSERT_TRUE(pg.createDatabase("fleet")) << pg.error().toStdString();
    }
    PgServer pg;
};

} // namespace

TEST_F(FleetServerTest, PushingTwiceOrAfterARebuildAddsNothing)
{
    FleetStoreShape shape;
    shape.instruments = 4;
    Site site(shape);
    TFleetPush push(site.dest());
    const int results = int(site.results().size()), events = int(site.events().size());
    EXPECT_EQ(results, 16);
    ASSERT_GE(events, 12);
    EXPECT_EQ(push.Outbox().Waiting(), results + events);

    const RFleetPushResult first = push.Push(settingsFor(pg, "Plant North"));
    ASSERT_TRUE(first.mOk) << first.mError.toStdString();
    EXPECT_EQ(first.mResultsSent, 16);
    EXPECT_EQ(first.mEventsSent, events);
    EXPECT_EQ(first.mResultsNew + first.mEventsNew, results + events);
    EXPECT_EQ(first.mWaiting, 0);
    const RFleetOutbox after = push.Outbox();
    EXPECT_EQ(after.Waiting(), 0);
    EXPECT_GT(after.mLastPush, 0);
    EXPECT_TRUE(after.mLastError.isEmpty());
    expectServerHolds(serverRows(pg), site, "Plant North");

    // Nothing waits: nothing is sent.
    const RFleetPushResult second = push.Push(settingsFor(pg, "Plant North"));
    ASSERT_TRUE(second.mOk) << second.mError.toStdString();
    EXPECT_EQ(second.mResultsSent + second.mEventsSent, 0);

    // A deleted index is rebuilt from the files; the outbox state beside it went with it,
    // so everything goes again, and the server keeps one row per record.
    ASSERT_TRUE(QFile::remove(TFleetDb(site.dest()).path()));
    QFile::remove(TFleetDb(site.dest()).path() + "-wal");
    QFile::remove(TFleetDb(site.dest()).path() + "-shm");
    site.index();
    const RFleetPushResult again = push.Push(settingsFor(pg, "Plant North"));
    ASSERT_TRUE(again.mOk) << again.mError.toStdString();
    EXPECT_EQ(again.mResultsSent + again.mEventsSent, results + events);
    EXPECT_EQ(again.mResultsNew + again.mEventsNew, 0);
    const ServerRows rows = serverRows(pg);
    EXPECT_EQ(rows.results.size(), 16);
    EXPECT_EQ(rows.events.size(), events);

    // A file removed from the store leaves the index, never the server.
    ASSERT_TRUE(QFile::remove(site.dest() + site.results().first().mPath));
    site.index();
    ASSERT_TRUE(push.Push(settingsFor(pg, "Plant North")).mOk);
    EXPECT_EQ(serverRows(pg).results.size(), 16);
}

TEST_F(FleetServerTest, TwoSitesPushingAtOnceHoldOneRecordOfTheFileBothSaved)
{
    FleetStoreShape a;
    a.serialPrefix = "NA";
    a.dock = "DKNORTH";
    a.location = "North";
    FleetStoreShape b = a;
    b.serialPrefix = "SO";
    b.dock = "DKSOUTH";
    b.location = "South";
    b.seed = 2;
    Site north(a), south(b);
    // The same result file saved at both sites (an instrument that moved with its history).
    const QString shared = north.results().first().mPath;
    QDir().mkpath(QFileInfo(south.dest() + shared).path());
    ASSERT_TRUE(QFile::copy(north.dest() + shared, south.dest() + shared));
    south.index();

    QTemporaryDir homes;
    const QString homeA = homes.path() + "/a", homeB = homes.path() + "/b";
    setUpCliSite(homeA, north, pg, "North");
    setUpCliSite(homeB, south, pg, "South");
    // Both on a server without a schema yet: the migrations meet too.
    QProcess* pa = startCli(homeA, {"fleet", "push"});
    QProcess* pb = startCli(homeB, {"fleet", "push"});
    const CliRun ra = finish(pa), rb = finish(pb);
    EXPECT_EQ(ra.code, 0) << ra.err.toStdString();
    EXPECT_EQ(rb.code, 0) << rb.err.toStdString();

    const ServerRows rows = serverRows(pg);
    expectServerHolds(rows, north, QString());
    expectServerHolds(rows, south, QString());
    EXPECT_EQ(rows.results.size(), north.results().size() + south.results().size() - 1);
    EXPECT_EQ(rows.events.size(), north.events().size() + south.events().size());

    // Every site's instruments, with their site, from either PC.
    const CliRun all = runCli(homeB, {"fleet", "status", "--all-sites", "--format", "csv"});
    ASSERT_EQ(all.code, 0) << all.err.toStdString();
    for (int i = 0; i < a.instruments; ++i) {
        EXPECT_TRUE(all.out.contains(QStringLiteral("NA%1").arg(a.firstSerial + i))) << all.out.toStdString();
        EXPECT_TRUE(all.out.contains(QStringLiteral("SO%1").arg(b.firstSerial + i))) << all.out.toStdString();
    }
    EXPECT_TRUE(all.out.contains("North"));
    EXPECT_TRUE(all.out.contains("South"));
    const CliRun table = runCli(homeA, {"fleet", "status", "--all-sites"});
    ASSERT_EQ(table.code, 0) << table.err.toStdString();
    EXPECT_TRUE(table.out.contains("Site")) << table.out.toStdString();
}

// serial -> status, next due and reasons, from "fleet status [--all-sites] --format json".
QMap<QString, QString> statusBySerial(const CliRun& run)
{
    QMap<QString, QString> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
        const QJsonObject o = v.toObject();
        out.insert(o["serial"].toString(), o["status"].toString() + " | " + o["next_due"].toString() + " | " +
                                               o["reason"].toString());
    }
    return out;
}

TEST_F(FleetServerTest, AllSitesJudgesByTheSitesPolicyAsTheLocalStatusDoes)
{
    FleetStoreShape shape;
    shape.instruments = 3;
    Site site(shape);
    QTemporaryDir home;
    setUpCliSite(home.path(), site, pg, "North");
    // Far from the defaults (1, 180, 7, 7): a long bump interval, a calibration every 3 days.
    const CliRun set = runCli(home.path(), {"settings", "set", "FLEET/BumpIntervalDays=400",
                                            "FLEET/CalIntervalDays=3", "FLEET/DueSoonDays=30", "FLEET/AlarmDays=365"});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    const CliRun pushed = runCli(home.path(), {"fleet", "push"});
    ASSERT_EQ(pushed.code, 0) << pushed.err.toStdString();

    const QMap<QString, QString> local = statusBySerial(runCli(home.path(), {"fleet", "status", "--format", "json"}));
    const QMap<QString, QString> all =
        statusBySerial(runCli(home.path(), {"fleet", "status", "--all-sites", "--format", "json"}));
    ASSERT_EQ(local.size(), shape.instruments);
    EXPECT_EQ(all, local);
    // Judged by the site's policy, not the defaults: the 3-day calibration interval
    // has run out, the 400-day bump interval has not, alarms count over the year.
    int calOverdue = 0;
    for (const QString& v : all) {
        calOverdue += v.contains("calibration overdue since");
        EXPECT_FALSE(v.contains("bump test overdue")) << v.toStdString();
        EXPECT_TRUE(v.contains("gas alarm")) << v.toStdString();
    }
    EXPECT_GT(calOverdue, 0);
}

TEST_F(FleetServerTest, ServerStoppedHalfWayKeepsTheRestWaitingAndTheNextPushCompletes)
{
    FleetStoreShape shape;
    shape.instruments = 6;
    Site site(shape);
    const int total = int(site.results().size() + site.events().size());
    ASSERT_EQ(site.results().size(), 24);
    TFleetPush push(site.dest());
    push.mBatchSize = 5;
    int batches = 0;
    push.mProgress = [&](int, int) {
        if (++batches == 2)
            EXPECT_TRUE(pg.stop(true)) << pg.error().toStdString(); // as a crash or a cut cable would
    };
    const RFleetPushResult cut = push.Push(settingsFor(pg, "Plant"));
    EXPECT_FALSE(cut.mOk);
    EXPECT_EQ(cut.mResultsSent, 10);
    EXPECT_EQ(cut.mWaiting, total - 10);
    EXPECT_TRUE(cut.mError.contains(pg.uri(PgServer::adminUser(), "fleet"))) << cut.mError.toStdString();
    EXPECT_TRUE(cut.Summary().contains(QStringLiteral("%1 records wait").arg(total - 10))) << cut.Summary().toStdString();
    const RFleetOutbox outbox = push.Outbox();
    EXPECT_EQ(outbox.Waiting(), total - 10);
    EXPECT_FALSE(outbox.mLastError.isEmpty());

    // Server away: the push says so quickly and keeps everything waiting.
    push.mProgress = nullptr;
    const RFleetPushResult down = push.Push(settingsFor(pg, "Plant"));
    EXPECT_FALSE(down.mOk);
    EXPECT_EQ(down.mWaiting, total - 10);

    ASSERT_TRUE(pg.start()) << pg.error().toStdString();
    const RFleetPushResult resumed = push.Push(settingsFor(pg, "Plant"));
    ASSERT_TRUE(resumed.mOk) << resumed.mError.toStdString();
    EXPECT_EQ(resumed.mResultsSent + resumed.mEventsSent, total - 10);
    EXPECT_EQ(push.Outbox().Waiting(), 0);
    const ServerRows rows = serverRows(pg);
    EXPECT_EQ(rows.results.size() + rows.events.size(), total);
    expectServerHolds(rows, site, "Plant");
}

TEST_F(FleetServerTest, AnOlderSchemaIsMigratedWithItsRowsAndTheReaderRoleCanOnlyRead)
{
    FleetStoreShape shape;
    Site site(shape);
    // A server first set up by a program that knew version 1 only, with a push of that time.
    {
        RFleetServerAddress a;
        QString error;
        ASSERT_TRUE(ParseFleetServerUri(pg.uri(PgServer::adminUser(), "fleet"), &a, &error));
        TFleetServer old;
        ASSERT_TRUE(old.Connect(a, PgServer::adminPassword(), &error)) << error.toStdString();
        ASSERT_TRUE(old.Migrate(&error, 1)) << error.toStdString();
        EXPECT_EQ(old.SchemaVersion(), 1);
        const auto results = site.results();
        int added = 0;
        ASSERT_TRUE(old.InsertResults({results.first()}, "Old site", &added, &error)) << error.toStdString();
        EXPECT_EQ(added, 1);
    }
    TFleetPush push(site.dest());
    const RFleetPushResult r = push.Push(settingsFor(pg, "New site"));
    ASSERT_TRUE(r.mOk) << r.mError.toStdString();
    EXPECT_EQ(r.mResultsNew, r.mResultsSent - 1);

    RFleetServerAddress a;
    QString error;
    ASSERT_TRUE(ParseFleetServerUri(pg.uri(PgServer::adminUser(), "fleet"), &a, &error));
    TFleetServer server;
    ASSERT_TRUE(server.Connect(a, PgServer::adminPassword(), &error)) << error.toStdString();
    EXPECT_EQ(server.SchemaVersion(), TFleetServer::SCHEMA_VERSION);
    QVector<RFleetSite> sites;
    ASSERT_TRUE(server.Sites(&sites, &error)) << error.toStdString();
    ASSERT_EQ(sites.size(), 2);
    EXPECT_EQ(sites[0].mSite, "New site");
    EXPECT_EQ(sites[0].mProgram, "Marvane test");
    EXPECT_EQ(sites[1].mSite, "Old site"); // from its rows, by the migration
    EXPECT_GT(sites[1].mFirstPush, 0);
    const ServerRows rows = serverRows(pg);
    EXPECT_EQ(rows.results.first().mSite.isEmpty(), false);
    EXPECT_EQ(rows.results.size(), site.results().size());

    // A dashboard's login, given the read-only role: it reads everything and changes nothing.
    ASSERT_TRUE(pg.createRole("dashboard", {"--role=" + TFleetServer::ReaderRole()})) << pg.error().toStdString();
    ASSERT_TRUE(pg.trustUser("dashboard")) << pg.error().toStdString();
    const ServerRows seen = serverRows(pg, "dashboard", QString());
    EXPECT_EQ(seen.results.size(), rows.results.size());
    EXPECT_EQ(seen.events.size(), rows.events.size());
    TFleetPush other(site.dest());
    FleetStoreShape more;
    more.serialPrefix = "DB";
    Site another(more);
    const RFleetPushResult refused =
        TFleetPush(another.dest()).Push({pg.uri("dashboard", "fleet"), QString(), "Dashboard", "x"});
    EXPECT_FALSE(refused.mOk);
    EXPECT_TRUE(refused.mError.contains("permission denied")) << refused.mError.toStdString();
    EXPECT_EQ(serverRows(pg).results.size(), rows.results.size());
}

TEST_F(FleetServerTest, AWrongPasswordFailsPlainlyAndKeepsEverythingWaiting)
{
    FleetStoreShape shape;
    Site site(shape);
    TFleetPush push(site.dest());
    const RFleetPushResult r = push.Push(settingsFor(pg, "Plant", "fleet", "not-the-password"));
    EXPECT_FALSE(r.mOk);
    EXPECT_TRUE(r.mError.contains("password authentication failed for user \"marvane_admin\""))
        << r.mError.toStdString();
    EXPECT_TRUE(r.mError.startsWith("Fleet server " + pg.uri(PgServer::adminUser(), "fleet") + ": cannot connect"))
        << r.mError.toStdString();
    EXPECT_FALSE(r.mError.contains("not-the-password"));
    const int waiting = int(site.results().size() + site.events().size());
    EXPECT_EQ(r.mWaiting, waiting);
    EXPECT_EQ(push.Outbox().Waiting(), waiting);

    // The same through the command line: exit status 1 and the reason on standard error.
    QTemporaryDir home;
    setUpCliSite(home.path(), site, pg, "Plant");
    const CliRun wrong = runCli(home.path(), {"settings", "set", "FLEET/Password=-"}, "wrong\n");
    ASSERT_EQ(wrong.code, 0) << wrong.err.toStdString();
    const CliRun shown = runCli(home.path(), {"settings", "show"});
    EXPECT_TRUE(shown.out.contains("FLEET/Password=********\n")) << shown.out.toStdString();
    EXPECT_FALSE(shown.out.contains("wrong"));
    const CliRun failed = runCli(home.path(), {"fleet", "push"});
    EXPECT_EQ(failed.code, 1);
    EXPECT_TRUE(failed.err.contains("password authentication failed")) << failed.err.toStdString();
    EXPECT_TRUE(failed.err.contains(QStringLiteral("%1 records wait").arg(waiting)))
        << failed.err.toStdString();
}

TEST_F(FleetServerTest, ASocketFolderNeedsNoPassword)
{
    FleetStoreShape shape;
    shape.instruments = 1;
    Site site(shape);
    const QString uri = "postgresql://" + PgServer::adminUser() + '@' +
                        QString::fromLatin1(QUrl::toPercentEncoding(pg.socketFolder())) + ':' +
                        QString::number(pg.port()) + "/fleet";
    const RFleetPushResult r = TFleetPush(site.dest()).Push({uri, QString(), "Local", "x"});
    ASSERT_TRUE(r.mOk) << r.mError.toStdString();
    EXPECT_EQ(r.mResultsSent, 4);
}
