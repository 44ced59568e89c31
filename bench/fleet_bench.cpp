// The fleet index on a large store: rebuild against the bare reading of the same
// files (limit 1.5 x), an update after 100 new files (limit 1 s), the status of 2,000
// instruments (limit 0.3 s) and the same with ten times the history (limit 1.5 x).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "StoreGenerator.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetIndexer.h"
#include "fleet/FleetStatus.h"
#include "logview/EventLog.h"
#include "logview/TestResult.h"

namespace {

double ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

// What any reader of the store does: every file read and parsed by the program's
// readers, on as many threads as the rebuild reads with (one when it reads in line).
double bareReading(const QString& dest, qint64* bytes, int* threadsUsed)
{
    QElapsedTimer t;
    t.start();
    const QVector<RFleetStoreFile> files = ListFleetStore(dest);
    std::atomic<int> next{0};
    std::atomic<qint64> total{0};
    auto work = [&] {
        qint64 mine = 0;
        for (int i = next++; i < files.size(); i = next++) {
            const RFleetStoreFile& f = files[i];
            QFile file(dest + f.mPath);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray data = file.readAll();
            mine += data.size();
            if (f.mKind == FLEET_FILE_EVENT) {
                ParseGDEventText(data);
            } else {
                RDockTestInfo info;
                GetDockTestInfoFromData(f.mKind == FLEET_FILE_CAL ? TEST_KIND_CAL : TEST_KIND_BUMP, data, info);
            }
        }
        total += mine;
    };
    const int threads = std::max(1, FleetReaderThreads(int(files.size())));
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(work);
    work();
    for (std::thread& th : pool)
        th.join();
    *bytes = total;
    *threadsUsed = threads;
    return ms(t);
}

double statusMs(const TFleetDb& db, int* rows)
{
    double best = 1e18;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        *rows = int(FleetStatusRows(db, RFleetPolicy(), NowDays()).size());
        best = std::min(best, ms(t));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int instruments = 2000;
    const int results = 10;
    const int eventFiles = 10;
    const int factor = argc > 1 ? std::max(2, atoi(argv[1])) : 10;
    QTemporaryDir tmp;
    QRandomGenerator rng(20241209);
    const QDateTime now = QDateTime::currentDateTime();

    const QString dest = tmp.path() + QStringLiteral("/dest/");
    benchgen::Store gs;
    QElapsedTimer gen;
    gen.start();
    benchgen::Generate(dest, instruments, results, eventFiles, rng, gs, now.addDays(-60), now.addDays(-3));
    std::printf("inputs: %d instruments, %lld results, %lld event files (generated in %.1f s)\n", instruments,
                qlonglong(gs.cal.size() + gs.bump.size()), qlonglong(gs.event.size()), gen.elapsed() / 1000.0);

    // Best of two each, taken in turns: the machine is shared, and the first reading
    // fills the page cache for both.
    qint64 bytes = 0;
    int threads = 1;
    double bare = 1e18, rebuild = 1e18;
    TFleetDb db(dest);
    RFleetUpdate u;
    QString error;
    QElapsedTimer t;
    bool built = true;
    bareReading(dest, &bytes, &threads);
    for (int round = 0; round < 2; ++round) {
        bare = std::min(bare, bareReading(dest, &bytes, &threads));
        t.restart();
        built = db.Rebuild(&u, &error) && built;
        rebuild = std::min(rebuild, ms(t));
    }
    const double ratio = rebuild / bare;
    std::printf("rebuild: %.0f ms (%d files, %d results, %d event lines) against the bare reading of the same "
                "files %.0f ms (%.0f MB, %d reading thread%s as in the rebuild): ratio %.2f (limit 1.5): %s\n",
                rebuild, u.mFilesRead, u.mResults, u.mEvents, bare, bytes / 1e6, threads, threads == 1 ? "" : "s", ratio,
                built && ratio <= 1.5 ? "ok" : "TOO SLOW");
    if (!built)
        std::printf("rebuild failed: %s\n", qPrintable(error));

    // 100 new files: a result and an event file for each of 50 instruments.
    benchgen::Store more;
    benchgen::Generate(dest, 50, 1, 1, rng, more, now.addDays(-1), now.addDays(-1), results);
    t.restart();
    const bool updated = db.Update(&u, &error);
    const double incr = ms(t);
    std::printf("incremental update: %d new files read (%d unchanged) in %.0f ms (limit 1000): %s\n", u.mFilesRead,
                u.mFilesUnchanged, incr, updated && u.mFilesRead == 100 && incr <= 1000 ? "ok" : "TOO SLOW");

    int rows = 0;
    const double status = statusMs(db, &rows);
    std::printf("fleet status: %d instruments in %.1f ms (limit 300; best of 3): %s\n", rows, status,
                status <= 300 ? "ok" : "TOO SLOW");

    // Ten times the history: older tests and event files of the same instruments.
    const QString big = tmp.path() + QStringLiteral("/big/");
    benchgen::Store bs;
    gen.restart();
    // The same recent events as above, the older ones before the alarm period.
    benchgen::Generate(big, instruments, results * factor, eventFiles * (factor - 1), rng, bs,
                       now.addDays(-5 * results * factor), now.addDays(-30));
    benchgen::Generate(big, instruments, 0, eventFiles, rng, bs, now, now.addDays(-3));
    TFleetDb bigDb(big);
    const bool bigBuilt = bigDb.Rebuild(&u, &error);
    int bigRows = 0;
    const double bigStatus = statusMs(bigDb, &bigRows);
    const double bigRatio = bigStatus / status;
    std::printf("fleet status with %d x the history (%d results, %d event lines; made in %.0f s): %d instruments "
                "in %.1f ms, %.2f x (limit 1.5): %s\n",
                factor, u.mResults, u.mEvents, gen.elapsed() / 1000.0, bigRows, bigStatus, bigRatio,
                bigBuilt && bigRatio <= 1.5 ? "ok" : "TOO SLOW");
    return built && updated && ratio <= 1.5 && incr <= 1000 && status <= 300 && bigBuilt && bigRatio <= 1.5 ? 0 : 1;
}
