// Save Log's reporting half for a large fleet, and the event merge of one
// instrument at two sizes (the larger may cost at most 15 times the smaller).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

#include "DockFiles.h"
#include "StoreGenerator.h"
#include "app/AppState.h"
#include "logview/EventLog.h"
#include "report/ReportDocs.h"
#include "report/ReportStore.h"

namespace {

using benchgen::put;
using benchgen::someEvents;
using benchgen::stamp;

double mergeMs(const QString& dir, const QString& sn, int lines, QRandomGenerator& rng, int* rows)
{
    QDir().mkpath(dir);
    QDateTime t = QDateTime::currentDateTime().addDays(-300);
    const int files = 10;
    for (int f = 0; f < files; ++f) {
        const QList<docksim::EventRecord> ev = someEvents(t, lines / files, rng);
        put(dir + sn + QStringLiteral("_EVENT_") + stamp(t) + QStringLiteral(".CSV"), docksim::EventCsv(sn, 1, t, ev));
    }
    double best = 1e18;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        *rows = int(DrawGDEvent(dir, sn).size());
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    QRandomGenerator rng(20240612);
    const int instruments = 2000;
    const int results = 10; // five calibrations and five bump tests
    const int eventFiles = 10;

    // Inputs: the local store after the copy steps, and the log list they came from.
    const QString dest = tmp.path() + QStringLiteral("/dest/");
    benchgen::Store gs;
    QElapsedTimer gen;
    gen.start();
    benchgen::Generate(dest, instruments, results, eventFiles, rng, gs, QDateTime::currentDateTime().addDays(-60),
                       QDateTime::currentDateTime().addDays(-3));
    const QVector<RUnitLogList>& logList = gs.logList;
    const QVector<int>& cal = gs.cal;
    const QVector<int>& bump = gs.bump;
    const QVector<int>& event = gs.event;
    std::printf("inputs: %d instruments, %lld results, %lld event files (generated in %.1f s)\n", instruments,
                qlonglong(cal.size() + bump.size()), qlonglong(event.size()), gen.elapsed() / 1000.0);

    AppState state;
    state.FLogDestDir = dest;
    TReportStore store(state);
    QElapsedTimer timer;
    auto lap = [&timer]() {
        const double ms = timer.nsecsElapsed() / 1e6;
        timer.restart();
        return ms;
    };
    timer.start();
    QElapsedTimer total;
    total.start();
    store.LoadResult();
    store.MakeCalResult(logList, cal);
    store.MakeBumpResult(logList, bump);
    const double foldResults = lap();
    store.MakeEventResult(logList, event);
    store.ClearAlarmsBeforeWindow();
    const double foldEvents = lap();
    store.CheckResult();
    const double check = lap();
    QString error;
    const bool saved = store.SaveResult(&error);
    const double save = lap();
    bool ok = false;
    const QStringList files = MakeSendFiles(store, true, &ok, &error);
    const double docs = lap();
    const double all = total.nsecsElapsed() / 1e6;
    int alerts = 0;
    for (const RDockReport& r : store.FReport)
        alerts += r.mNew ? 1 : 0;
    std::printf("Save Log reporting, %lld records (%d new): fold results %.0f ms, fold events %.0f ms, "
                "evaluate %.1f ms, save store %.1f ms%s, documents %.0f ms (%lld files%s); total %.0f ms\n",
                qlonglong(store.FReport.size()), alerts, foldResults, foldEvents, check, save,
                saved ? "" : " FAILED", docs, qlonglong(files.size()), ok ? "" : ", FAILED", all);

    int rowsSmall = 0;
    int rowsLarge = 0;
    const double small = mergeMs(tmp.path() + QStringLiteral("/ev10k/"), QStringLiteral("SN10K"), 10000, rng, &rowsSmall);
    const double large = mergeMs(tmp.path() + QStringLiteral("/ev100k/"), QStringLiteral("SN100K"), 100000, rng, &rowsLarge);
    const double ratio = large / small;
    std::printf("event merge (read, de-duplicate, sort, thin; best of 3): 10,000 lines %.1f ms (%d rows), "
                "100,000 lines %.1f ms (%d rows); ratio %.1f (limit 15): %s\n",
                small, rowsSmall, large, rowsLarge, ratio, ratio <= 15.0 ? "ok" : "TOO SLOW");
    return saved && ok && ratio <= 15.0 ? 0 : 1;
}
