#pragma once
// Fixture generator: a complete dock file tree, as the dock keeps it on its
// internal drive. Building the tree (in memory, with a manifest of what it
// holds) is separate from writing it, and both from serving it: a written
// folder is a dock plugged in as a USB drive, and the link servers serve the
// same folder later.
#include "FirmwareImage.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace docksim {

enum class FixtureSize { Small, Large };

// How the program should classify a log file by its name and folder.
enum class LogKind : quint8 { None = 0, DockLog = 1, Event = 2, Bump = 3, Cal = 4 };

struct ManifestLog {
    QString path;       // relative to the root, "/" separated
    LogKind kind = LogKind::None;
    QString alias;      // field 1 of the name
    QDateTime nameDate; // date the name encodes (local time); invalid when it carries none or the file is unclassified
    QDateTime fileTime; // modification time given to the file
    qint64 size = 0;
    QString result;     // test results: "PASS" or "FAIL" whatever case the file uses
};

struct ManifestImage {
    QString path;
    ImageKind kind = ImageKind::Dock;
    int version = 0;    // major * 10 + minor, as in the header
    bool valid = false; // passes the size, type and checksum checks
    QString defect;     // why not valid (or why never chosen)
};

struct ManifestGas {
    QString gas;        // "H2S", "CO", "O2", "SO2"
    QString text;       // value as written in DOCK.CFG
    double value = 0;
};

struct ManifestInstrument {
    QString serial;
    QString gas;
};

struct FixtureManifest {
    QString root;         // absolute folder written into (empty for a tree not written)
    QString error;        // empty on success
    FixtureSize size = FixtureSize::Small;
    quint32 seed = 1;
    QDateTime reference;  // "now" of the generated dock

    QString dockSerial;
    QString dockVersion;  // as DOCKINFORM.CFG states it
    QString location;     // Location in DOCK.CFG (holds a non-ASCII character)
    QList<ManifestGas> concentrations; // active concentration lines of DOCK.CFG, in file order
    QList<ManifestInstrument> instruments;

    // Files the dock-log, event and test trees list ("*.CSV", "*.CSV", "*.XML"
    // matched without regard to case).
    QList<ManifestLog> logs;
    QList<ManifestImage> images;
    QString newestDockImage; // newest valid ".IMG" of FW/DOCK (path), and its version
    int newestDockVersion = 0;
    QString newestGdImage;
    int newestGdVersion = 0;

    QStringList emptyDirs;  // leaf-empty folders below LOG/EVENT and LOG/TEST (a purge may delete them)
    QStringList otherFiles; // files in the log trees that no listing picks up
    QStringList files;      // every file, sorted
    QStringList dirs;       // every folder, sorted
    qint64 totalBytes = 0;

    bool ok() const { return error.isEmpty(); }
    int logCount(LogKind kind) const;
};

struct FixtureFile {
    QString path;
    QByteArray data;
    QDateTime modified;
};

struct FixtureTree {
    QList<FixtureFile> files;
    FixtureManifest manifest; // root empty until written
};

// The tree for a size and seed, dated relative to reference. Same arguments,
// same bytes.
FixtureTree BuildFixture(FixtureSize size, quint32 seed, const QDateTime& reference);

// Writes the tree below dir (created when missing); existing files of the same
// names are replaced, nothing else is removed. False with a message on failure.
bool WriteTree(const FixtureTree& tree, const QString& dir, QString* error = nullptr);

FixtureManifest WriteFixture(const QString& dir, FixtureSize size, quint32 seed = 1);
FixtureManifest WriteFixture(const QString& dir, FixtureSize size, quint32 seed,
                             const QDateTime& reference);

QString LogKindName(LogKind kind);
// Counts, identity, images and bottle; with listFiles also one line per file.
QString ManifestText(const FixtureManifest& m, bool listFiles = false);

} // namespace docksim
