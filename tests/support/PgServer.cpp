#include "support/PgServer.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <unistd.h>

namespace testsupport {

namespace {

bool isRoot() { return ::geteuid() == 0; }

int freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString quoteForShell(const QString& s)
{
    QString q = s;
    q.replace('\'', QLatin1String("'\\''"));
    return '\'' + q + '\'';
}

} // namespace

QString PgServer::binFolder()
{
    QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto it = versions.rbegin(); it != versions.rend(); ++it) {
        const QString bin = "/usr/lib/postgresql/" + *it + "/bin";
        if (QFile::exists(bin + "/initdb") && QFile::exists(bin + "/pg_ctl"))
            return bin;
    }
    return QString();
}

PgServer::PgServer()
{
    m_bin = binFolder();
    if (m_bin.isEmpty()) {
        m_error = "no PostgreSQL server programs under /usr/lib/postgresql (scripts/deps.sh installs them)";
        return;
    }
    // Not below TMPDIR: a test's private TMPDIR is closed to the server's user.
    m_dir = std::make_unique<QTemporaryDir>("/tmp/marvane-pg-XXXXXX");
    if (!m_dir->isValid()) {
        m_error = "cannot make a temporary folder for the server: " + m_dir->errorString();
        return;
    }
    const QString pwFile = m_dir->filePath("pw");
    {
        QFile f(pwFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(adminPassword().toUtf8() + '\n') < 0) {
            m_error = "cannot write " + pwFile;
            return;
        }
    }
    if (isRoot()) {
        QProcess chown;
        chown.start("chown", {"-R", "postgres:postgres", m_dir->path()});
        if (!chown.waitForFinished(30000) || chown.exitCode() != 0) {
            m_error = "cannot hand the server folder to the postgres user: " +
                      QString::fromLocal8Bit(chown.readAllStandardError());
            return;
        }
    }
    if (!run(m_bin + "/initdb", {"-D", dataFolder(), "-U", adminUser(), "--pwfile=" + pwFile,
                                 "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8",
                                 "--no-locale", "--no-sync", "--no-instructions"}))
        return;
    QFile::remove(pwFile);
    if (!start())
        return;
    startWatchdog();
}

PgServer::~PgServer()
{
    if (!m_dir)
        return;
    if (m_running)
        stop(true);
    if (m_watchdog.state() != QProcess::NotRunning) {
        // Its stop finds nothing running; it removes what is left of the folder.
        m_watchdog.closeWriteChannel();
        if (!m_watchdog.waitForFinished(30000))
            m_watchdog.kill();
    }
}

QString PgServer::dataFolder() const { return m_dir->filePath("data"); }
QString PgServer::socketFolder() const { return m_dir ? m_dir->path() : QString(); }

QString PgServer::uri(const QString& user, const QString& database) const
{
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host()).arg(m_port).arg(database);
}

QStringList PgServer::asServerUser(const QString& program, const QStringList& args) const
{
    if (!isRoot())
        return QStringList{program} + args;
    return QStringList{"setpriv", "--reuid=postgres", "--regid=postgres", "--init-groups", "--", program} +
           args;
}

bool PgServer::run(const QString& program, const QStringList& args, int timeoutMs, QString* output)
{
    QStringList cmd = asServerUser(program, args);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir->path());
    p.start(cmd.takeFirst(), cmd);
    const bool finished = p.waitForFinished(timeoutMs);
    const QString text = QString::fromLocal8Bit(p.readAll());
    if (output)
        *output = text;
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
        m_error = QStringLiteral("%1 did not finish: %2").arg(QFileInfo(program).fileName(), text);
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed (%2): %3")
                      .arg(QFileInfo(program).fileName())
                      .arg(p.exitCode())
                      .arg(text.trimmed());
        return false;
    }
    return true;
}

bool PgServer::startOnce()
{
    // Loopback only, a socket in our own folder, no flushing to disk; but a commit stays a
    // commit when the server is stopped "immediately" (no synchronous_commit=off).
    const QString options =
        QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off "
                       "-c full_page_writes=off -c max_connections=40")
            .arg(m_port)
            .arg(quoteForShell(m_dir->path()));
    return run(m_bin + "/pg_ctl", {"-D", dataFolder(), "-l", m_dir->filePath("server.log"), "-w", "-t",
                                   "120", "-o", options, "start"});
}

bool PgServer::start()
{
    if (!m_dir)
        return false;
    const bool firstStart = m_port == 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (firstStart)
            m_port = freeLoopbackPort();
        m_error.clear();
        if (startOnce()) {
            m_running = true;
            return true;
        }
        // Someone else took the port between our probe and the server's bind: try another.
        if (!log().contains("could not bind"))
            break;
        if (!firstStart)
            QThread::msleep(500);
    }
    m_error += "\nserver log:\n" + log();
    return false;
}

bool PgServer::stop(bool immediate)
{
    if (!m_running)
        return true;
    m_running = false;
    return run(m_bin + "/pg_ctl", {"-D", dataFolder(), "-w", "-t", "60", "-m", immediate ? "immediate" : "fast",
                                   "stop"});
}

void PgServer::startWatchdog()
{
    // It waits for its standard input to close (our end closes when this process ends, however
    // it ends), then stops the server and removes the folder. Its own session keeps it out of
    // a process-group kill aimed at the test.
    const QStringList stop = asServerUser(m_bin + "/pg_ctl", {"-D", dataFolder(), "-m", "immediate", "stop"});
    QStringList quoted;
    for (const QString& part : stop)
        quoted << quoteForShell(part);
    const QString script = QStringLiteral("cat >/dev/null; %1 >/dev/null 2>&1; rm -rf %2")
                               .arg(quoted.join(' '), quoteForShell(m_dir->path()));
    m_watchdog.setStandardOutputFile(QProcess::nullDevice());
    m_watchdog.setStandardErrorFile(QProcess::nullDevice());
    m_watchdog.start("setsid", {"sh", "-c", script});
    m_watchdog.waitForStarted(10000);
}

bool PgServer::createDatabase(const QString& name, const QString& owner)
{
    QStringList args{"-h", socketFolder(), "-p", QString::number(m_port), "-U", adminUser()};
    if (!owner.isEmpty())
        args << "-O" << owner;
    return run(m_bin + "/createdb", args << name, 60000);
}

bool PgServer::createRole(const QString& name, const QStringList& options)
{
    QStringList args{"-h", socketFolder(), "-p", QString::number(m_port), "-U", adminUser()};
    return run(m_bin + "/createuser", args + options << name, 60000);
}

bool PgServer::trustUser(const QString& user)
{
    const QString hba = dataFolder() + "/pg_hba.conf";
    QFile f(hba);
    if (!f.open(QIODevice::ReadOnly)) {
        m_error = "cannot read " + hba;
        return false;
    }
    // First match wins: the line goes before initdb's own.
    const QByteArray old = f.readAll();
    f.close();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write("host all " + user.toUtf8() + " 127.0.0.1/32 trust\n" + old) < 0) {
        m_error = "cannot write " + hba;
        return false;
    }
    f.close();
    return run(m_bin + "/pg_ctl", {"-D", dataFolder(), "reload"}, 60000);
}

QString PgServer::log() const
{
    if (!m_dir)
        return QString();
    QFile f(m_dir->filePath("server.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

} // namespace testsupport
