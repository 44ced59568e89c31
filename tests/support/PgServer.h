#pragma once
// A PostgreSQL server of the test's own: initdb into a temporary folder, pg_ctl start on a
// free loopback port (and a Unix socket in the same folder), stopped when the object goes.
// initdb refuses root, so as root the server's programs run as the "postgres" user.
// A watchdog process stops the server and removes the folder should the test process die
// without running its destructors (killed on a time-out), so no server outlives its test.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

namespace testsupport {

class PgServer {
public:
    PgServer(); // initialises and starts; check ok() and error()
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }
    QString socketFolder() const; // the Unix socket's folder (local connections need no password)
    static QString adminUser() { return QStringLiteral("marvane_admin"); }
    static QString adminPassword() { return QStringLiteral("admin-secret"); }
    // postgresql://USER@127.0.0.1:PORT/DATABASE
    QString uri(const QString& user, const QString& database) const;

    // Through the server's own client programs, over the socket: no SQL in the tests.
    bool createDatabase(const QString& name, const QString& owner = QString());
    // createuser with its options (e.g. "--no-login", "--role=NAME").
    bool createRole(const QString& name, const QStringList& options = {});
    // Lets USER in over TCP without a password (pg_hba.conf), then reloads.
    bool trustUser(const QString& user);

    bool stop(bool immediate = false);
    bool start(); // again, on the same port
    bool running() const { return m_running; }
    QString log() const; // the server's log, for failure messages

    // The folder of the server programs (/usr/lib/postgresql/N/bin, highest N); empty when none.
    static QString binFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_error;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    QProcess m_watchdog;

    // Runs a server program (as the server's user when we are root); false with m_error set.
    bool run(const QString& program, const QStringList& args, int timeoutMs = 120000,
             QString* output = nullptr);
    QStringList asServerUser(const QString& program, const QStringList& args) const;
    QString dataFolder() const;
    bool startOnce();
    void startWatchdog();
};

} // namespace testsupport
