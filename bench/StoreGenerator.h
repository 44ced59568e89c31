#pragma once
// The local store of a large fleet as the benchmarks use it: per instrument a number
// of calibrations and bump tests (alternating, five days apart) and of event files.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QVector>

#include "DockFiles.h"
#include "link/UnitDef.h"

namespace benchgen {

inline void put(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

inline QString stamp(const QDateTime& t) { return t.toString(QStringLiteral("yyMMddHHmm")); }

// Events of one instrument: every 7 s on average, some repeated within half a
// second, some within five seconds.
inline QList<docksim::EventRecord> someEvents(QDateTime& t, int count, QRandomGenerator& rng)
{
    QList<docksim::EventRecord> out;
    for (int i = 0; i < count; ++i) {
        t = t.addSecs(rng.bounded(10) < 2 ? 3 : 8);
        docksim::EventRecord e{t, 1 + int(rng.bounded(120)), 10.0 + rng.bounded(50),
                               rng.bounded(2) ? QStringLiteral("HIGH") : QStringLiteral("LOW"),
                               rng.bounded(10) == 0 ? QStringLiteral("BUMP") : QString()};
        out << e;
        if (rng.bounded(20) == 0) {
            out << e; // the same event again
            ++i;
        }
    }
    return out;
}

struct Store {
    QVector<RUnitLogList> logList;
    QVector<int> cal, bump, event;
};

// Writes the files under dest + "KM1/"; results start at resultsFrom, events at eventsFrom.
inline void Generate(const QString& dest, int instruments, int results, int eventFiles, QRandomGenerator& rng,
                     Store& out, const QDateTime& resultsFrom, const QDateTime& eventsFrom, int firstResult = 0)
{
    for (int i = 0; i < instruments; ++i) {
        const QString sn = QStringLiteral("KR%1").arg(100000 + i);
        const int gas = i % 4;
        const QString dir = dest + QStringLiteral("KM1/") + sn + QLatin1Char('/');
        QDir().mkpath(dir + QStringLiteral("CAL"));
        QDir().mkpath(dir + QStringLiteral("BUMP"));
        QDir().mkpath(dir + QStringLiteral("EVENT"));
        for (int k = firstResult; k < firstResult + results; ++k) {
            docksim::TestResult t;
            t.calibration = k % 2 == 0;
            t.dockSerial = QStringLiteral("DK0001");
            t.serial = sn;
            t.gas = gas;
            t.location = QStringLiteral("Plant %1, hall %2").arg(i / 100).arg(i % 7);
            t.when = resultsFrom.addDays(k * 5).addSecs(i);
            t.concentration = 25;
            t.pass = rng.bounded(8) != 0;
            const QString kind = t.calibration ? QStringLiteral("CAL") : QStringLiteral("BUMP");
            const QString name = sn + QLatin1Char('_') + kind + QLatin1Char('_') + stamp(t.when) + QStringLiteral(".XML");
            put(dir + kind + QLatin1Char('/') + name, docksim::TestResultXml(t, rng));
            out.logList.append({name, 0, 0, sn, uint8_t(t.calibration ? 4 : 3), true, QString()});
            (t.calibration ? out.cal : out.bump).append(int(out.logList.size()) - 1);
        }
        QDateTime t = eventsFrom;
        for (int k = 0; k < eventFiles; ++k) {
            const QList<docksim::EventRecord> ev = someEvents(t, 20, rng);
            const QString name = sn + QStringLiteral("_EVENT_") + stamp(t) + QStringLiteral(".CSV");
            put(dir + QStringLiteral("EVENT/") + name, docksim::EventCsv(sn, gas, t, ev));
            out.logList.append({name, 0, 0, sn, 2, true, QString()});
            out.event.append(int(out.logList.size()) - 1);
        }
    }
}

} // namespace benchgen
