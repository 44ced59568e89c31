#pragma once
// What differs between operating systems: folders, legacy 8-bit text.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

QString TransferFolder();        // system temporary folder + "/TREVASK/"
QString ProgramFolder();         // current dir when it holds Language/, else the data folder beside the executable
QString DefaultLogDestination(); // home + "/GAVIRODOCK/"
QString SystemRoot();            // the root a log destination may not be

// 8-bit text of the legacy code page: Windows-1252, or CP949 for language code 82.
QString DecodeLegacy(const QByteArray& bytes, bool korean = false);
QByteArray EncodeLegacy(const QString& text, bool korean = false);

// Roots (with trailing "/") of the mounted removable volumes whose root holds
// CONFIG/DOCKINFORM.CFG in any letter case, sorted by root path.
QStringList RemovableVolumeRoots();

} // namespace platform
