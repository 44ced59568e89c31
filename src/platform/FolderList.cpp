#include "platform/FolderList.h"

#ifdef _WIN32
#include <QDateTime>
#include <QDirIterator>
#include <QFileInfo>
#else
#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace platform {

#ifdef _WIN32

QVector<FolderEntry> ListFolder(const QString& path, bool withStat)
{
    QVector<FolderEntry> out;
    QDirIterator it(path, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        FolderEntry e;
        e.mName = fi.fileName();
        e.mDir = fi.isDir();
        if (withStat) {
            e.mSize = fi.size();
            e.mMtime = fi.lastModified().toMSecsSinceEpoch();
        }
        out.append(std::move(e));
    }
    return out;
}

#else

QVector<FolderEntry> ListFolder(const QString& path, bool withStat)
{
    QVector<FolderEntry> out;
    DIR* dir = opendir(QFile::encodeName(path).constData());
    if (!dir)
        return out;
    const int fd = dirfd(dir);
    while (const dirent* d = readdir(dir)) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        FolderEntry e;
        e.mName = QFile::decodeName(name);
        // The entry's type is enough for a folder list; links and file systems that
        // do not tell the type are asked with a stat.
        const bool typeKnown = d->d_type != DT_UNKNOWN && d->d_type != DT_LNK;
        if (withStat || !typeKnown) {
            struct stat st;
            if (fstatat(fd, name, &st, 0) != 0)
                continue; // gone since, or a dangling link: QDir lists neither
            e.mDir = S_ISDIR(st.st_mode);
            if (!e.mDir && !S_ISREG(st.st_mode))
                continue; // devices, sockets, pipes
            e.mSize = st.st_size;
            e.mMtime = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        } else {
            e.mDir = d->d_type == DT_DIR;
            if (!e.mDir && d->d_type != DT_REG)
                continue;
        }
        out.append(std::move(e));
    }
    closedir(dir);
    return out;
}

#endif

} // namespace platform
