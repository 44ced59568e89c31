// The first push of a site's fleet index (20,000 results and 20,000 event lines) to a
// PostgreSQL server of the benchmark's own, in records per second, against a bare COPY of
// the same rows into the same table of a fresh database (at most 3 x); then an
// incremental push of 100 new records (at most 1 s).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "fleet/FleetDb.h"
#include "fleet/FleetPush.h"
#include "fleet/FleetServer.h"
#include "support/FleetStoreWriter.h"
#include "support/PgServer.h"

namespace {

int fail(const QString& what)
{
    std::fprintf(stderr, "fleet_push_bench: %s\n", qPrintable(what));
    return 1;
}

RFleetServerSettings settingsFor(const testsupport::PgServer& pg, const QString& database)
{
    return {pg.uri(testsupport::PgServer::adminUser(), database), testsupport::PgServer::adminPassword(),
            "Bench", "Marvane bench"};
}

bool connect(const testsupport::PgServer& pg, const QString& database, TFleetServer* server, QString* error)
{
    RFleetServerAddress a;
    return ParseFleetServerUri(settingsFor(pg, database).mServer, &a, error) &&
           server->Connect(a, testsupport::PgServer::adminPassword(), error);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    testsupport::PgServer pg;
    if (!pg.ok())
        return fail(pg.error());
    for (const char* db : {"push1", "push2", "copy1", "copy2"})
        if (!pg.createDatabase(db))
            return fail(pg.error());

    QTemporaryDir tmp;
    const QString dest = tmp.path() + "/store/";
    testsupport::FleetStoreShape shape;
    shape.instruments = 2000;
    shape.resultsEach = 10;
    shape.eventFilesEach = 2;
    shape.eventsPerFile = 5;
    QElapsedTimer gen;
    gen.start();
    testsupport::WriteFleetStore(dest, shape);
    {
        TFleetDb index(dest);
        QString error;
        RFleetUpdate u;
        if (!index.Open(nullptr, &error) || !index.Update(&u, &error))
            return fail(error);
        std::printf("inputs: %d instruments, %d results, %d event lines (generated and indexed in %.1f s)\n",
                    shape.instruments, u.mResults, u.mEvents, gen.elapsed() / 1000.0);
    }

    // Each push goes to a server the outbox has not seen, so each is a first push. The
    // schema is made beforehand, as for the COPY below: the figure is the records' rate,
    // and making the tables once is timed on its own.
    double schemaMs = 1e18;
    for (const char* db : {"push1", "push2"}) {
        TFleetServer server;
        QString error;
        QElapsedTimer t;
        t.start();
        if (!connect(pg, db, &server, &error) || !server.Migrate(&error))
            return fail(error);
        schemaMs = std::min(schemaMs, t.nsecsElapsed() / 1e6);
    }
    std::printf("schema made on an empty server in %.0f ms (once per server, not in the figures below)\n", schemaMs);
    TFleetPush push(dest);
    double pushMs = 1e18;
    int records = 0;
    for (const char* db : {"push1", "push2"}) {
        QElapsedTimer t;
        t.start();
        const RFleetPushResult r = push.Push(settingsFor(pg, db));
        const double ms = t.nsecsElapsed() / 1e6;
        if (!r.mOk)
            return fail(r.mError);
        records = r.mResultsSent + r.mEventsSent;
        pushMs = std::min(pushMs, ms);
    }

    // The reference: the same rows as the server holds them, by COPY into the same table.
    QByteArray results, events;
    QString error;
    {
        TFleetServer server;
        if (!connect(pg, "push1", &server, &error) || !server.CopyOut("test_results", &results, &error) ||
            !server.CopyOut("alarm_events", &events, &error))
            return fail(error);
    }
    double copyMs = 1e18;
    for (const char* db : {"copy1", "copy2"}) {
        TFleetServer server;
        if (!connect(pg, db, &server, &error) || !server.Migrate(&error))
            return fail(error);
        QElapsedTimer t;
        t.start();
        if (!server.CopyIn("test_results", results, &error) || !server.CopyIn("alarm_events", events, &error))
            return fail(error);
        copyMs = std::min(copyMs, t.nsecsElapsed() / 1e6);
    }
    const double pushRate = records / (pushMs / 1000.0);
    const double copyRate = records / (copyMs / 1000.0);
    const double ratio = copyRate / pushRate;
    std::printf("first push: %d records in %.0f ms = %.0f records/s\n", records, pushMs, pushRate);
    std::printf("reference, bare COPY of the same rows: %.0f ms = %.0f records/s\n", copyMs, copyRate);
    std::printf("push takes %.2f x the COPY's time (target: at most 3 x): %s\n", ratio, ratio <= 3 ? "met" : "MISSED");

    // 100 new records: 10 instruments with 6 results and 2 event files of 2 lines each.
    testsupport::FleetStoreShape more = shape;
    more.instruments = 10;
    more.firstSerial = 900000;
    more.resultsEach = 6;
    more.eventFilesEach = 2;
    more.eventsPerFile = 2;
    testsupport::WriteFleetStore(dest, more);
    {
        TFleetDb index(dest);
        RFleetUpdate u;
        if (!index.Open(nullptr, &error) || !index.Update(&u, &error))
            return fail(error);
    }
    QElapsedTimer t;
    t.start();
    const RFleetPushResult r = push.Push(settingsFor(pg, "push2"));
    const double incMs = t.nsecsElapsed() / 1e6;
    if (!r.mOk)
        return fail(r.mError);
    std::printf("incremental push: %d records in %.0f ms (target: at most 1000 ms): %s\n",
                r.mResultsSent + r.mEventsSent, incMs, incMs <= 1000 ? "met" : "MISSED");
    return ratio <= 3 && incMs <= 1000 ? 0 : 1;
}
