#include "util/FileCopy.h"

#include <QCryptographicHash>
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


namespace {

constexpr int kMaxVariants = 99;

// The first n bytes of a file, or a null array.
QByteArray headOf(const QString& path, qint64 n)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(n);
}

} // namespace

bool SameFileBytes(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    for (;;) {
        const QByteArray x = fa.read(64 * 1024);
        const QByteArray y = fb.read(64 * 1024);
        if (x != y)
            return false;
        if (x.isEmpty())
            return fa.error() == QFileDevice::NoError && fb.error() == QFileDevice::NoError;
    }
}

QStringList StoreNameVariants(const QString& dir, const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    QStringList out{dir + name};
    for (int n = 2; n <= kMaxVariants; ++n) {
        const QString v = dir + stem + QLatin1Char('_') + QString::number(n) + ext;
        if (!existsAtAll(v))
            break;
        out << v;
    }
    return out;
}

QString ChooseStoreTarget(const QString& dir, const QString& name, const QString& src)
{
    const QString first = dir + name;
    if (!existsAtAll(first) || SameFileBytes(first, src))
        return first;
    const qint64 had = QFileInfo(first).size();
    if (had < QFileInfo(src).size() && headOf(src, had) == headOf(first, had + 1))
        return first;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    for (int n = 2; n <= kMaxVariants; ++n) {
        const QString v = dir + stem + QLatin1Char('_') + QString::number(n) + ext;
        if (!existsAtAll(v) || SameFileBytes(v, src))
            return v;
    }
    return QString();
}

bool ReplaceWithCopy(const QString& src, const QString& dst)
{
    const QString staged = StageFileCopy(src, dst);
    if (staged.isEmpty())
        return false;
    if (existsAtAll(dst))
        QFile::remove(dst);
    if (!QFile::rename(staged, dst)) {
        QFile::remove(staged);
        return false;
    }
    return true;
}

QString FileSha256(const QString& file)
{
    QFile f(file);
    if (file.isEmpty() || !f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash h(QCryptographicHash::Sha256);
    if (!h.addData(&f))
        return QString();
    return QString::fromLatin1(h.result().toHex());
}
