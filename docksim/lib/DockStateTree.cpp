#include "DockStateTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace docksim {

namespace {

// The entry of dir named like name in any letter case; an exact match first.
QString findChild(const QString& dir, const QString& name)
{
    const QString exact = dir + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                    | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return dir + QLatin1Char('/') + e;
    }
    return {};
}

} // namespace

DockTree::DockTree(const QString& root)
    : m_root(QDir(root).absolutePath())
{
}

std::optional<QStringList> DockTree::split(const QString& remotePath)
{
    QString p = remotePath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : p.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return std::nullopt;
        for (QChar c : part) {
            if (c.unicode() < 0x20 || QStringLiteral("<>:\"|?*").contains(c))
                return std::nullopt;
        }
        parts << part;
    }
    return parts;
}

QString DockTree::resolve(const QString& remotePath) const
{
    const auto parts = split(remotePath);
    if (!parts)
        return {};
    QString cur = m_root;
    for (const QString& part : *parts) {
        if (!QFileInfo(cur).isDir())
            return {};
        cur = findChild(cur, part);
        if (cur.isEmpty())
            return {};
    }
    return cur;
}

bool DockTree::isFile(const QString& remotePath) const
{
    const QString local = resolve(remotePath);
    return !local.isEmpty() && QFileInfo(local).isFile();
}

std::optional<qint64> DockTree::fileSize(const QString& remotePath) const
{
    const QString local = resolve(remotePath);
    const QFileInfo fi(local);
    if (local.isEmpty() || !fi.isFile())
        return std::nullopt;
    return fi.size();
}

std::optional<QByteArray> DockTree::readFile(const QString& remotePath, qint64 limit) const
{
    const QString local = resolve(remotePath);
    if (local.isEmpty() || !QFileInfo(local).isFile())
        return std::nullopt;
    QFile f(local);
    if (!f.open(QIODevice::ReadOnly) || f.size() > limit)
        return std::nullopt;
    return f.readAll();
}

std::optional<QList<TreeEntry>> DockTree::list(const QString& remoteFolder) const
{
    const QString local = resolve(remoteFolder);
    if (local.isEmpty() || !QFileInfo(local).isDir())
        return std::nullopt;
    QList<TreeEntry> out;
    const QFileInfo self(local);
    if (QDir(local).absolutePath() != m_root) {
        out.append({QStringLiteral("."), true, 0, self.lastModified()});
        out.append({QStringLiteral(".."), true, 0, self.lastModified()});
    }
    const QFileInfoList infos = QDir(local).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& fi : infos)
        out.append({fi.fileName(), fi.isDir(), fi.isDir() ? 0 : fi.size(), fi.lastModified()});
    return out;
}

bool DockTree::writeFile(const QString& remotePath, const QByteArray& data, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const auto parts = split(remotePath);
    if (!parts || parts->isEmpty())
        return fail(QStringLiteral("not a file path: %1").arg(remotePath));
    QString cur = m_root;
    for (int i = 0; i + 1 < parts->size(); ++i) {
        QString next = findChild(cur, parts->at(i));
        if (next.isEmpty()) {
            next = cur + QLatin1Char('/') + parts->at(i);
            if (!QDir().mkdir(next))
                return fail(QStringLiteral("cannot create the folder %1").arg(next));
        } else if (!QFileInfo(next).isDir()) {
            return fail(QStringLiteral("%1 is not a folder").arg(next));
        }
        cur = next;
    }
    QString target = findChild(cur, parts->last());
    if (target.isEmpty())
        target = cur + QLatin1Char('/') + parts->last();
    else if (QFileInfo(target).isDir())
        return fail(QStringLiteral("%1 is a folder").arg(target));
    QSaveFile f(target);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        return fail(f.errorString());
    return true;
}

bool DockTree::removeFile(const QString& remotePath)
{
    const QString local = resolve(remotePath);
    return !local.isEmpty() && QFileInfo(local).isFile() && QFile::remove(local);
}

bool DockTree::removeEmptyFolder(const QString& remotePath)
{
    const QString local = resolve(remotePath);
    if (local.isEmpty() || !QFileInfo(local).isDir() || QDir(local).absolutePath() == m_root)
        return false;
    return QDir().rmdir(local); // refuses a folder that is not empty
}

} // namespace docksim
