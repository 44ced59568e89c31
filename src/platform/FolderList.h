#pragma once
// Listing a folder with its files' sizes and times, for stores of tens of thousands of files.
#include <QString>
#include <QVector>

namespace platform {

// One entry of a folder listing. mSize and mMtime (ms since the epoch, UTC) are
// those of the file a link points to, as QFileInfo gives them.
struct FolderEntry {
    QString mName;
    bool mDir = false;
    qint64 mSize = 0;
    qint64 mMtime = 0;
};

// The folders and regular files of a folder (hidden ones too, never "." or ".."),
// in no order; empty when it cannot be read. Sizes and times are read only when
// withStat is set. A plain readdir and fstatat walk: QDir and QFileInfo ask for
// each file's local time, which took longer than reading the folders.
QVector<FolderEntry> ListFolder(const QString& path, bool withStat);

} // namespace platform
