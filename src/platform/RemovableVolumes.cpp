// Finding docks that are connected as USB drives.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

// The entry of dir named like name in any letter case; empty when there is none.
QString findNoCase(const QString& dir, const QString& name, QDir::Filters kind)
{
    const QDir d(dir);
    if (QFileInfo(d.filePath(name)).exists())
        return d.filePath(name);
    const QStringList entries =
        d.entryList(kind | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return d.filePath(e);
    }
    return {};
}

bool holdsIdentityFile(const QString& root)
{
    const QString config = findNoCase(root, QStringLiteral("CONFIG"), QDir::Dirs);
    if (config.isEmpty() || !QFileInfo(config).isDir())
        return false;
    const QString inform = findNoCase(config, QStringLiteral("DOCKINFORM.CFG"), QDir::Files);
    return !inform.isEmpty() && QFileInfo(inform).isFile();
}

#ifdef _WIN32

bool isRemovable(const QStorageInfo& volume)
{
    const std::wstring root = QDir::toNativeSeparators(volume.rootPath()).toStdWString();
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOVABLE;
}

#else

QByteArray readSmall(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(16).trimmed();
}

// /dev/sdb1 -> the "removable" flag of the disk sdb (or of the device itself).
bool deviceIsRemovable(const QByteArray& device)
{
    if (!device.startsWith("/dev/"))
        return false;
    const QString name =
        QFileInfo(QString::fromLocal8Bit(device)).canonicalFilePath().section(QLatin1Char('/'), -1);
    if (name.isEmpty())
        return false;
    const QString sysEntry = QStringLiteral("/sys/class/block/") + name;
    if (readSmall(sysEntry + QStringLiteral("/removable")) == "1")
        return true;
    // A partition: the flag sits on its parent disk.
    const QString real = QFileInfo(sysEntry).canonicalFilePath();
    if (real.isEmpty())
        return false;
    return readSmall(QFileInfo(real).path() + QStringLiteral("/removable")) == "1";
}

bool isRemovable(const QStorageInfo& volume)
{
    const QString root = volume.rootPath();
    if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/run/media/")))
        return true;
    return deviceIsRemovable(volume.device());
}

#endif

} // namespace

QStringList RemovableVolumeRoots()
{
    QStringList roots;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& volume : volumes) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        QString root = volume.rootPath();
        if (root.isEmpty() || root == SystemRoot() || root == QLatin1String("/"))
            continue;
        if (!isRemovable(volume) || !holdsIdentityFile(root))
            continue;
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        roots << root;
    }
    std::sort(roots.begin(), roots.end());
    roots.removeDuplicates();
    return roots;
}

} // namespace platform
