#include "util/FileCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {
bool existsAtAll(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

// Copies src into a fresh hidden file in the folder of dst and returns its path,
// or an empty text on any failure (nothing is left behind then).
QString StageFileCopy(const QString& src, const QString& dst)
{
    const QFileInfo srcInfo(src);
    if (!srcInfo.isFile())
        return {};
    const QString dir = QFileInfo(dst).absolutePath();
    if (!QFileInfo(dir).isDir())
        return {};
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        return {};

    QFile out;
    for (int attempt = 0; attempt < 16 && !out.isOpen(); ++attempt) {
        out.setFileName(dir +
                        QStringLiteral("/.mvcopy-%1.part")
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            out.setFileName(QString());
    }
    if (!out.isOpen())
        return {};

    bool ok = true;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            ok = false;
            break;
        }
    }
    ok = ok && out.flush();
    out.close();
    ok = ok && out.error() == QFileDevice::NoError;
    if (!ok) {
        QFile::remove(out.fileName());
        return {};
    }
    // Keep the file's own time, as a plain copy on the dock's side would.
    QFile stamped(out.fileName());
    if (stamped.open(QIODevice::ReadWrite))
        stamped.setFileTime(srcInfo.lastModified(), QFileDevice::FileModificationTime);
    return out.fileName();
}

// A complete copy under the real name or nothing; an existing dst is never replaced.
bool CopyFileNoOverwrite(const QString& src, const QString& dst)
{
    if (existsAtAll(dst))
        return false;
    const QString tmp = StageFileCopy(src, dst);
    if (tmp.isEmpty())
        return false;
    if (!QFile::rename(tmp, dst)) {
        QFile::remove(tmp);
        return false;
    }
    return true;
}

