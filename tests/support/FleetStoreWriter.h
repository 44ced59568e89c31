#pragma once
// A local store as Save Log leaves it (KM1/<serial>/CAL|BUMP|EVENT/), made of the
// simulator's own documents, for the fleet index and the fleet server's tests and benchmark.
#include <QDateTime>
#include <QString>

namespace testsupport {

struct FleetStoreShape {
    int instruments = 3;
    int resultsEach = 4;      // calibrations and bump tests, alternating
    int eventFilesEach = 1;
    int eventsPerFile = 3;
    QString serialPrefix = QStringLiteral("KR");
    int firstSerial = 100000;
    QString dock = QStringLiteral("DK0001");
    QString location = QStringLiteral("Plant 1");
    quint32 seed = 1;
    QDateTime base = QDateTime::currentDateTime().addDays(-40);
};

// Writes the files under dest (the log destination); returns how many files it wrote.
int WriteFleetStore(const QString& dest, const FleetStoreShape& shape);

} // namespace testsupport
