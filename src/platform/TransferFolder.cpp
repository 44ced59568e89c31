#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString shown(const QString& folder)
{
    QString s = QDir::toNativeSeparators(folder);
    while (s.size() > 1 && (s.endsWith(QLatin1Char('/')) || s.endsWith(QLatin1Char('\\'))))
        s.chop(1);
    return s;
}

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

#ifndef _WIN32

// What the folder is, without following a link of that name.
enum class Found { Missing, OwnFolder, Link, NotFolder, Foreign, Unreadable };

Found examine(const QByteArray& path, struct stat* st, int* err)
{
    *err = 0;
    if (::lstat(path.constData(), st) != 0) {
        *err = errno;
        return *err == ENOENT ? Found::Missing : Found::Unreadable;
    }
    if (S_ISLNK(st->st_mode))
        return Found::Link;
    if (!S_ISDIR(st->st_mode))
        return Found::NotFolder;
    if (st->st_uid != ::geteuid())
        return Found::Foreign;
    return Found::OwnFolder;
}

bool explainRefusal(Found found, int err, const QString& folder, QString* error)
{
    const QString where = shown(folder);
    switch (found) {
    case Found::Link:
        return fail(error, QStringLiteral("The transfer folder %1 is a link, not a folder. The program keeps "
                                          "its settings and the dock's files only in a folder of its own: "
                                          "remove the link and start the program again.")
                               .arg(where));
    case Found::NotFolder:
        return fail(error, QStringLiteral("The transfer folder %1 is a file, not a folder. Move the file "
                                          "away and start the program again.")
                               .arg(where));
    case Found::Foreign:
        return fail(error, QStringLiteral("The transfer folder %1 belongs to another user. The program keeps "
                                          "its settings only in a folder of your own: remove that folder "
                                          "(or have its owner remove it) and start the program again.")
                               .arg(where));
    case Found::Unreadable:
        return fail(error, QStringLiteral("The transfer folder %1 cannot be examined: %2")
                               .arg(where, QString::fromLocal8Bit(std::strerror(err))));
    case Found::Missing:
    case Found::OwnFolder:
        break;
    }
    return true;
}

// mkdir for each missing component, owner-only like the XDG base folders.
bool makePrivatePath(const QString& folder, QString* error)
{
    const QString clean = QDir::cleanPath(folder);
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += QLatin1Char('/') + part;
        const QByteArray p = QFile::encodeName(path);
        if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST) {
            const int err = errno;
            return fail(error, QStringLiteral("Cannot create the folder %1: %2")
                                   .arg(shown(path), QString::fromLocal8Bit(std::strerror(err))));
        }
    }
    return true;
}

#endif

} // namespace

QString TransferFolder()
{
#ifdef _WIN32
    return withSlash(QDir::tempPath()) + QStringLiteral("TREVASK/");
#else
    // A relative XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = withSlash(QDir::homePath()) + QStringLiteral(".local/state");
    return withSlash(QDir::cleanPath(base)) + QStringLiteral("marvane/TREVASK/");
#endif
}

QString LegacyTransferFolder()
{
    return withSlash(QDir::tempPath()) + QStringLiteral("TREVASK/");
}

bool CheckTransferFolder(QString* error)
{
#ifdef _WIN32
    const QFileInfo info(TransferFolder());
    if (info.exists() && !info.isDir())
        return fail(error, QStringLiteral("The transfer folder %1 is a file, not a folder. Move the file "
                                          "away and start the program again.")
                               .arg(shown(info.filePath())));
    return true;
#else
    const QString folder = TransferFolder();
    struct stat st {};
    int err = 0;
    const Found found = examine(QFile::encodeName(QDir::cleanPath(folder)), &st, &err);
    return explainRefusal(found, err, folder, error);
#endif
}

bool PrepareTransferFolder(QString* error)
{
    const QString folder = TransferFolder();
#ifdef _WIN32
    if (!CheckTransferFolder(error))
        return false;
    if (!QDir().mkpath(folder))
        return fail(error, QStringLiteral("Cannot create the folder %1.").arg(shown(folder)));
    return true;
#else
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    struct stat st {};
    int err = 0;
    Found found = examine(path, &st, &err);
    if (found == Found::Missing) {
        if (!makePrivatePath(folder, error))
            return false;
        found = examine(path, &st, &err); // someone may have been quicker
    }
    if (found != Found::OwnFolder)
        return explainRefusal(found, err, folder, error);
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) {
        const int chmodErr = errno;
        return fail(error, QStringLiteral("Cannot make the transfer folder %1 private: %2")
                               .arg(shown(folder), QString::fromLocal8Bit(std::strerror(chmodErr))));
    }
    return true;
#endif
}

bool IsOwnRegularFile(const QString& path)
{
#ifdef _WIN32
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
#else
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    return ::lstat(p.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
#endif
}

} // namespace platform
