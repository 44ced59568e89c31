#pragma once
// What Auto mode keeps in the transfer folder from one cycle, and one run, to the
// next: per dock, the log files that could not be fetched yet (they are fetched
// again whatever the watermarks say), and the firmware images already sent to it.
#include <QString>
#include <QStringList>

class TAutoRetryList {
public:
    static QString FilePath(); // transfer folder + "AUTORETRY.INI"
    // The dock paths still to fetch from this dock, in the order they failed.
    static QStringList Load(const QString& dockSn);
    // Replaces the dock's list (an empty list removes it). False when it could not be written.
    static bool Save(const QString& dockSn, const QStringList& files, QString* error = nullptr);
};

// One firmware image sent to one dock: its content (SHA-256), version text and file name.
struct RFWSent {
    QString mHash, mVer, mFile;
    bool isEmpty() const { return mHash.isEmpty(); }
};

class TFirmwareMemory {
public:
    static QString FilePath(); // transfer folder + "AUTOFIRMWARE.INI"
    // kind: UNIT_FWTYPE_DOCK or UNIT_FWTYPE_GD.
    static RFWSent Load(const QString& dockSn, uint8_t kind);
    static bool Remember(const QString& dockSn, uint8_t kind, const RFWSent& sent, QString* error = nullptr);
    // SHA-256 of a file in hex; empty when it cannot be read.
    static QString ImageHash(const QString& path);
    // "major.minor" of a dock image ("2.1"); empty when the file is no valid image.
    static QString ImageVersion(uint8_t kind, const QString& path);
    // Whether the version a dock reports ("2.1", "2.1.3", "V2.1") is that "major.minor".
    static bool SameVersion(const QString& reported, const QString& imageVersion);
};
