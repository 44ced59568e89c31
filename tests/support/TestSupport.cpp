#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

ScopedTempRoot::ScopedTempRoot() : m_dir(std::make_unique<QTemporaryDir>())
{
    m_hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    m_oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", m_dir->path().toLocal8Bit());
    m_oldHome = qgetenv("HOME");
    QDir().mkpath(m_dir->path() + "/home");
    qputenv("HOME", (m_dir->path() + "/home").toLocal8Bit());
}

ScopedTempRoot::~ScopedTempRoot()
{
    qputenv("HOME", m_oldHome);
    if (m_hadTmp)
        qputenv("TMPDIR", m_oldTmp);
    else
        qunsetenv("TMPDIR");
}

QString ScopedTempRoot::transferFolder() const { return path() + "/TREVASK/"; }

QByteArray readAll(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeAll(const QString& file, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

} // namespace testsupport
