#include "support/FleetStoreWriter.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include "DockFiles.h"

namespace testsupport {

namespace {

bool put(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QString stamp(const QDateTime& t) { return t.toString(QStringLiteral("yyMMddHHmm")); }

} // namespace

int WriteFleetStore(const QString& dest, const FleetStoreShape& shape)
{
    QRandomGenerator rng(shape.seed);
    int written = 0;
    for (int i = 0; i < shape.instruments; ++i) {
        const QString sn = shape.serialPrefix + QString::number(shape.firstSerial + i);
        const QString dir = QDir(dest).filePath(QStringLiteral("KM1/") + sn) + '/';
        for (const char* sub : {"CAL", "BUMP", "EVENT"})
            QDir().mkpath(dir + QLatin1String(sub));
        for (int k = 0; k < shape.resultsEach; ++k) {
            docksim::TestResult t;
            t.calibration = k % 2 == 0;
            t.dockSerial = shape.dock;
            t.serial = sn;
            t.gas = i % 4;
            t.location = shape.location;
            t.gasLot = QStringLiteral("LOT%1").arg(k + 7);
            t.gasExpiry = QStringLiteral("2027-06");
            t.when = shape.base.addDays(k).addSecs(i * 60);
            t.concentration = t.gas == 2 ? 18 : 25;
            t.pass = rng.bounded(8) != 0;
            t.variant = 0;
            const QString kind = t.calibration ? QStringLiteral("CAL") : QStringLiteral("BUMP");
            written += put(dir + kind + '/' + sn + '_' + kind + '_' + stamp(t.when) + QStringLiteral(".XML"),
                           docksim::TestResultXml(t, rng));
        }
        QDateTime t = shape.base.addDays(shape.resultsEach);
        for (int k = 0; k < shape.eventFilesEach; ++k) {
            QList<docksim::EventRecord> events;
            for (int e = 0; e < shape.eventsPerFile; ++e) {
                t = t.addSecs(30 + rng.bounded(600));
                events << docksim::EventRecord{t, 1 + int(rng.bounded(120)), 10.0 + rng.bounded(50),
                                               rng.bounded(2) ? QStringLiteral("HIGH") : QStringLiteral("LOW"),
                                               QString()};
            }
            written += put(dir + QStringLiteral("EVENT/") + sn + QStringLiteral("_EVENT_") + stamp(t) +
                               QStringLiteral(".CSV"),
                           docksim::EventCsv(sn, i % 4, t, events));
        }
    }
    return written;
}

} // namespace testsupport
