#pragma once
// What the fleet index reads from the local store: the list of instrument files
// ("KM1/<serial>/CAL|BUMP|EVENT/") and the rows one file gives. No SQL here.
#include <QByteArray>
#include <QString>
#include <QVector>

#include "fleet/FleetRecords.h"

inline constexpr uint8_t FLEET_FILE_CAL = 1;
inline constexpr uint8_t FLEET_FILE_BUMP = 2;
inline constexpr uint8_t FLEET_FILE_EVENT = 3;

// Read codes of a file beside the result reader's own (0 and 4 give a result row).
inline constexpr uint8_t FLEET_READ_UNREADABLE = 100; // cannot be opened, or too big

struct RFleetStoreFile {
    QString mPath;        // relative to the log destination, "/" separators
    QString mSerial;      // the folder's name
    QString mInstrument;  // the folder's name upper-cased
    uint8_t mKind = 0;    // FLEET_FILE_*
    qint64 mSize = 0;
    qint64 mMtime = 0;    // modification time, ms since the epoch
};

// The instrument files of the store under logDest, sorted by path.
QVector<RFleetStoreFile> ListFleetStore(const QString& logDest);

struct RFleetFileRows {
    uint8_t mCode = 0;               // DOCKTEST_* for results, 0 for readable event files,
                                     // FLEET_READ_UNREADABLE when the bytes could not be read
    QString mSha256;
    QVector<RFleetResult> mResults;  // at most one
    QVector<RFleetEvent> mEvents;
};

// How many threads read, hash and parse the files of an index update of that many
// files, beside the one that writes the rows: 0 (all in line) for a few files.
int FleetReaderThreads(int files);

// Reads one store file (its bytes hashed and parsed with the program's readers).
RFleetFileRows ReadFleetFile(const QString& logDest, const RFleetStoreFile& file);
// The same on bytes already read.
RFleetFileRows FleetRowsFromData(const RFleetStoreFile& file, const QByteArray& data);
