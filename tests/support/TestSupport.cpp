#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>

#include "app/LogBrowser.h"
#include "app/MainCore.h"

namespace testsupport {

QMap<QString, QByteArray> StagedFiles()
{
    QMap<QString, QByteArray> out;
    const QString root = AppState::TransferFolder();
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = path.mid(root.size());
        // Settings and language list are not from the dock; the remote links do not
        // fetch the identity file.
        if (rel.endsWith(".INI", Qt::CaseInsensitive) || rel.endsWith(FILE_CONFIG_INFORM) ||
            rel.startsWith("LOGFILE_"))
            continue;
        out[rel] = readAll(path);
    }
    return out;
}

QStringList StagedNotTheDocks(const QString& dockRoot)
{
    QMap<QString, QList<QByteArray>> byName;
    QDirIterator d(dockRoot, QDir::Files, QDirIterator::Subdirectories);
    while (d.hasNext()) {
        const QString p = d.next();
        byName[QFileInfo(p).fileName()] << readAll(p);
    }
    QStringList wrong;
    const QMap<QString, QByteArray> files = StagedFiles();
    for (auto it = files.begin(); it != files.end(); ++it) {
        QString name = QFileInfo(it.key()).fileName();
        // A second file of one name from another dock folder is staged as NAME_2.EXT, ...
        static const QRegularExpression apart(QStringLiteral(R"(^(.*)_\d+(\.[^.]+)$)"));
        if (!byName.contains(name)) {
            const auto m = apart.match(name);
            if (m.hasMatch())
                name = m.captured(1) + m.captured(2);
        }
        if (!byName.value(name).contains(it.value()))
            wrong << it.key();
    }
    return wrong;
}

quint16 FreeDockPort()
{
    for (int tries = 0; tries < 50; ++tries) {
        QUdpSocket a, b;
        if (!a.bind(QHostAddress::AnyIPv4, 0))
            continue;
        const quint16 p = a.localPort();
        if (p < 65535 && b.bind(QHostAddress::AnyIPv4, quint16(p + 1)))
            return p;
    }
    return 0;
}

bool SaveEverything(TMainCore& core)
{
    TLogBrowser browser(core);
    browser.DisplayLogList();
    browser.SelectAllList(true);
    return core.LogListBtnSaveClick();
}

ScopedTempRoot::ScopedTempRoot() : m_dir(std::make_unique<QTemporaryDir>())
{
    for (const char* sub : {"/home", "/tmp"})
        QDir().mkpath(m_dir->path() + sub);
    set("HOME", m_dir->path() + "/home");
    set("XDG_STATE_HOME", stateHome());
    set("TMPDIR", tmpDir());
}

ScopedTempRoot::~ScopedTempRoot()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->was)
            qputenv(it->name.constData(), it->value);
        else
            qunsetenv(it->name.constData());
    }
}

void ScopedTempRoot::set(const char* name, const QString& value)
{
    m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    qputenv(name, value.toLocal8Bit());
}

QString ScopedTempRoot::stateHome() const { return path() + "/state"; }
QString ScopedTempRoot::tmpDir() const { return path() + "/tmp"; }
QString ScopedTempRoot::transferFolder() const { return stateHome() + "/marvane/TREVASK/"; }

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
