#pragma once
// The dock's file system seen through remote paths ("/CONFIG/DOCK/DOCK.CFG"),
// served from a folder written by the fixture generator. Names match without
// regard to case, as on the dock's FAT drive; nothing outside the folder can
// be reached, read or written.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace docksim {

struct TreeEntry {
    QString name; // as stored
    bool dir = false;
    qint64 size = 0;
    QDateTime modified;
};

class DockTree {
public:
    explicit DockTree(const QString& root);
    QString root() const { return m_root; }

    // Local path of an existing entry; empty when missing or not a path of the tree.
    QString resolve(const QString& remotePath) const;
    bool isFile(const QString& remotePath) const;
    std::optional<qint64> fileSize(const QString& remotePath) const;
    std::optional<QByteArray> readFile(const QString& remotePath, qint64 limit) const;
    // Entries of a folder, sorted by name; a folder other than the root also
    // lists "." and "..", as FAT does. nullopt when it is not a folder.
    std::optional<QList<TreeEntry>> list(const QString& remoteFolder) const;
    // Replaces or creates a file in one step: a reader sees the old content or
    // the new, never a part. Missing folders on the way are created. An
    // existing file keeps the spelling of its name.
    bool writeFile(const QString& remotePath, const QByteArray& data, QString* error = nullptr);
    bool removeFile(const QString& remotePath);
    bool removeEmptyFolder(const QString& remotePath); // never the root

    // Path components, or nullopt for a path that leaves the tree or holds a
    // character a FAT name cannot.
    static std::optional<QStringList> split(const QString& remotePath);

private:
    QString m_root;
};

} // namespace docksim
