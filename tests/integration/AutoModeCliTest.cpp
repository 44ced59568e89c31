// "marvane-cli auto" as a service would run it: two simulated docks on the
// network (127.0.0.2 and 127.0.0.3, mask 255.0.0.0, discovery limited to the
// loopback interface) and a local SMTP server. Nothing leaves 127.0.0.0/8.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>
#include <csignal>
#include <functional>
#include <cstring>

#include "Fixture.h"
#include "support/TestSupport.h"

namespace {

const char* const kPython = "/usr/bin/python3";

const char* const kSmtpScript = R"PY(
import email, email.policy, json, os, sys, time
from aiosmtpd.controller import Controller
port, outdir = int(sys.argv[1]), sys.argv[2]
class Handler:
    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        names = [p.get_filename() for p in msg.walk() if p.get_filename()]
        bodies = [p.get_content() for p in msg.walk()
                  if not p.is_multipart() and not p.get_filename() and p.get_content_type() == 'text/plain']
        n = len([f for f in os.listdir(outdir) if f.endswith('.json')])
        tmp = os.path.join(outdir, '.tmp%d' % n)
        with open(tmp, 'w') as f:
            json.dump({'subject': str(msg['subject']), 'to': str(msg['to']), 'attachments': names,
                       'body': bodies[0] if bodies else ''}, f)
        os.rename(tmp, os.path.join(outdir, 'msg%d.json' % n))
        return '250 OK'
ctl = Controller(Handler(), hostname='127.0.0.1', port=port)
ctl.start()
print('READY', flush=True)
while True:
    time.sleep(3600)
)PY";

quint16 freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool waitFor(QProcess& p, const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        QObject::connect(&p, &QProcess::readyRead, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

class AutoCli : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> servers;
    quint16 dockPort = 0;
    QString store;

    void SetUp() override
    {
        env.insert("HOME", root.path());
        env.insert("TMPDIR", root.path());
        env.insert("XDG_STATE_HOME", root.path() + "/state");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        store = root.path() + "/store/";
        QDir().mkpath(store);
        dockPort = testsupport::FreeDockPort();
        ASSERT_NE(dockPort, 0);
    }
    void TearDown() override
    {
        if (smtp.state() != QProcess::NotRunning) {
            smtp.kill();
            smtp.waitForFinished(3000);
        }
        for (auto& s : servers) {
            s->closeWriteChannel(); // the simulator ends when its input pipe closes
            if (!s->waitForFinished(3000))
                s->kill();
        }
    }

    // `more` adds options that depend on the dock's files.
    QString startDock(const QString& address, quint32 seed, QStringList extra = {},
                      const std::function<QStringList(const QString& dir)>& more = {})
    {
        const QString dir = root.path() + "/dock-" + address;
        const docksim::FixtureManifest m = docksim::WriteFixture(dir, docksim::FixtureSize::Small, seed);
        EXPECT_TRUE(m.error.isEmpty());
        if (more)
            extra += more(dir);
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(MARVANE_DOCKSIM, QStringList{"serve-net", dir, "--address", address, "--udp-port",
                                              QString::number(dockPort), "--no-tcp", "--fast"} + extra);
        QByteArray out;
        waitFor(*p, [&] { out += p->readAllStandardOutput(); return out.contains("UDP "); }, 10000);
        EXPECT_TRUE(out.contains("UDP ")) << out.toStdString();
        servers.push_back(std::move(p));
        return m.dockSerial;
    }

    // The loopback SMTP peer, writing each message it takes into `inbox`; its port, 0 when it did not start.
    const QString inbox = root.path() + "/inbox";
    QProcess smtp;
    static bool smtpAvailable()
    {
        return QFileInfo(kPython).isExecutable() && QProcess::execute(kPython, {"-c", "import aiosmtpd"}) == 0;
    }
    quint16 startSmtp()
    {
        QDir().mkpath(inbox);
        testsupport::writeAll(root.path() + "/smtpd.py", kSmtpScript);
        const quint16 port = freeTcpPort();
        smtp.start(kPython, {root.path() + "/smtpd.py", QString::number(port), inbox});
        QByteArray ready;
        return waitFor(smtp, [&] { ready += smtp.readAllStandardOutput(); return ready.contains("READY"); }, 15000)
                   ? port
                   : 0;
    }

    int cli(const QStringList& args, QString* output = nullptr, int timeoutMs = 120000)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(MARVANE_CLI, args);
        const bool finished = p.waitForFinished(timeoutMs);
        if (output)
            *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    void configure(quint16 smtpPort)
    {
        ASSERT_EQ(cli({"settings", "set", "NETWORK/Interfaces=127.0.0.1", "NETWORK/SubnetMask=255.0.0.0",
                       "NETWORK/Port=" + QString::number(dockPort), "SET/LogDestination=" + store,
                       "EMAIL/To=safety@example.invalid", "EMAIL/From=dock@example.invalid",
                       "EMAIL/Server=127.0.0.1", "EMAIL/Port=" + QString::number(smtpPort),
                       "EMAIL/UseSSL=0", "ETC/AutoStart=1"}),
                  0);
    }

    int storeFiles() const
    {
        int n = 0;
        for (QDirIterator it(store + "KM1", QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
            ++n;
        return n;
    }
};

QList<int> downloadCounts(const QString& out)
{
    QList<int> n;
    static const QRegularExpression re("Files downloaded in this cycle : (\\d+)");
    for (auto it = re.globalMatch(out); it.hasNext();)
        n << it.next().captured(1).toInt();
    return n;
}

} // namespace

TEST_F(AutoCli, TwoCyclesOverTwoDocksWithTheReportMailedAtOnce)
{
    if (!smtpAvailable())
        GTEST_SKIP() << "python3-aiosmtpd is not installed";
    const quint16 smtpPort = startSmtp();
    ASSERT_NE(smtpPort, 0);

    const QString sn1 = startDock("127.0.0.2", 1);
    const QString sn2 = startDock("127.0.0.3", 2);
    configure(smtpPort);

    // AutoStart set in the settings locks no other command.
    QString shown;
    EXPECT_EQ(cli({"settings", "show"}, &shown), 0);

    QString out;
    ASSERT_EQ(cli({"auto", "--cycles", "2"}, &out), 0) << out.toStdString();
    smtp.kill();
    smtp.waitForFinished(3000);

    // Mailed at the start, before the first search, with the report attached.
    const QStringList msgs = QDir(inbox).entryList({"msg*.json"}, QDir::Files);
    ASSERT_EQ(msgs.size(), 1) << out.toStdString();
    const QJsonObject m = QJsonDocument::fromJson(testsupport::readAll(inbox + '/' + msgs.first())).object();
    EXPECT_TRUE(m["subject"].toString().startsWith("Marvane Report 20")) << m["subject"].toString().toStdString();
    EXPECT_LT(out.indexOf("Sending e-mail to"), out.indexOf("Searching for docks"));

    for (const QString& sn : {sn1, sn2})
        EXPECT_EQ(out.count("Connecting to dock : " + sn), 2) << out.toStdString();
    EXPECT_GT(storeFiles(), 20);
    const QByteArray bin = testsupport::readAll(store + "Report.Bin");
    ASSERT_GT(bin.size(), 136);
    // After the mail went out the store notes when (header field at byte 16).
    double lastSend = 0;
    std::memcpy(&lastSend, bin.constData() + 16, sizeof lastSend);
    EXPECT_GT(lastSend, 40000.0);
    EXPECT_TRUE(QFileInfo(store + "Report.Html").isFile());
    const QList<int> counts = downloadCounts(out);
    ASSERT_EQ(counts.size(), 2);
    EXPECT_GT(counts[0], 20);
    EXPECT_LT(counts[1], counts[0] / 5) << "the second cycle fetched results again";
    EXPECT_TRUE(out.contains("Auto mode ended"));
}

TEST_F(AutoCli, SilentDockIsSkippedAndTheOtherVisited)
{
    // Answers the search, then no command at all.
    const QString silent = startDock("127.0.0.2", 1, {"--fault", "Silent", "--fault-command", "GET"});
    const QString fine = startDock("127.0.0.3", 2);
    configure(freeTcpPort()); // nobody listens: the mail is refused
    // The first mail fails and its retry waits a minute; the cycle comes only after
    // the retries, so the mail is switched off for this test.
    ASSERT_EQ(cli({"settings", "set", "EMAIL/Server="}), 0);
    QString out;
    ASSERT_EQ(cli({"auto", "--cycles", "1"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Dock not reachable : " + silent)) << out.toStdString();
    EXPECT_TRUE(out.contains("Connecting to dock : " + fine));
    EXPECT_GT(storeFiles(), 10);
    EXPECT_TRUE(out.contains("E-mail settings incomplete"));
}

TEST_F(AutoCli, RefusedMailWaitsForItsRetryAndSigtermEndsTheRunCleanly)
{
    configure(freeTcpPort());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(MARVANE_CLI, {"auto"});
    QByteArray out;
    // The refusal is logged and the retry waits its minute: the process sleeps.
    ASSERT_TRUE(waitFor(p, [&] { out += p.readAllStandardOutput(); return out.contains("Could not connect"); }, 30000))
        << out.toStdString();
    QElapsedTimer t;
    t.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_LT(t.elapsed(), 2000);
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_EQ(out.count("Sending e-mail to"), 1);
    EXPECT_TRUE(out.contains("Auto mode ended"));
    // The report written at the start stands; the settings were saved.
    EXPECT_TRUE(QFileInfo(store + "Report.Bin").isFile());
    QString shown;
    ASSERT_EQ(cli({"settings", "show"}, &shown), 0);
    EXPECT_TRUE(shown.contains("SET/LogDestination=" + store));
}

TEST_F(AutoCli, BadCyclesIsAUsageError)
{
    QString out;
    EXPECT_EQ(cli({"auto", "--cycles", "0"}, &out), 2);
    EXPECT_EQ(cli({"auto", "--bogus"}, &out), 2);
    EXPECT_TRUE(out.contains("--cycles N"));
}

namespace {

// The files of the local store by name, with their bytes.
QMap<QString, QByteArray> storedFiles(const QString& store)
{
    QMap<QString, QByteArray> out;
    for (QDirIterator it(store + "KM1", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString f = it.next();
        out.insert(QFileInfo(f).fileName(), testsupport::readAll(f));
    }
    return out;
}

} // namespace

TEST_F(AutoCli, ADownloadThatFailedIsFetchedInTheNextCycle)
{
    // An older bump result of an instrument gets no answer, once; its newer ones come.
    QString older;
    const QString sn = startDock("127.0.0.2", 3, {}, [&](const QString& dir) {
        QMap<QString, QStringList> bumps; // instrument -> its bump results, sorted
        for (QDirIterator it(dir + "/LOG/TEST", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString f = it.next();
            const QString n = QFileInfo(f).fileName();
            if (n.section('_', 1, 1) == "BUMP" && n == n.toUpper() && n.endsWith(".XML"))
                bumps[n.section('_', 0, 0)] << f.mid(dir.size());
        }
        for (QStringList& l : bumps) {
            std::sort(l.begin(), l.end(), [](const QString& a, const QString& b) {
                return QFileInfo(a).fileName() < QFileInfo(b).fileName();
            });
            if (l.size() >= 2 && older.isEmpty())
                older = l.first();
        }
        // Twice: the link tries a file once more before it counts as failed.
        return QStringList{"--fault", "Silent", "--fault-command", "GET File " + older, "--fault-count", "2"};
    });
    ASSERT_FALSE(older.isEmpty());
    configure(freeTcpPort());
    ASSERT_EQ(cli({"settings", "set", "EMAIL/Server=", "ETC/AutoPurge=0"}), 0);
    QString out;
    ASSERT_EQ(cli({"auto", "--cycles", "2"}, &out), 0) << out.toStdString();
    static const QRegularExpression failedRe("Not copied; tried again in the next cycle : \\S+ \\[127\\.0\\.0\\.2\\] (\\S+)");
    const QRegularExpressionMatch m = failedRe.match(out);
    ASSERT_TRUE(m.hasMatch()) << out.toStdString();
    const QString failed = m.captured(1);
    EXPECT_EQ(failed, older);
    EXPECT_EQ(out.count("Not copied; tried again"), 1);
    EXPECT_TRUE(out.contains("Dock " + sn + " [127.0.0.2]: reached, ")) << out.toStdString();
    EXPECT_TRUE(out.contains(" files fetched, 1 failed")) << out.toStdString();
    EXPECT_TRUE(out.contains(" files fetched, 0 failed")) << out.toStdString();

    // Every result and event log of the dock stands in the store, byte for byte.
    const QMap<QString, QByteArray> stored = storedFiles(store);
    const QString dockRoot = root.path() + "/dock-127.0.0.2";
    int checked = 0;
    for (const QString& dir : {QStringLiteral("/LOG/TEST"), QStringLiteral("/LOG/EVENT")})
        for (QDirIterator it(dockRoot + dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString f = it.next();
            const QString name = QFileInfo(f).fileName();
            if (!stored.contains(name))
                continue; // names no copy step takes (odd fixture files)
            EXPECT_EQ(stored.value(name), testsupport::readAll(f)) << name.toStdString();
            ++checked;
        }
    EXPECT_GT(checked, 20);
    const QString failedName = QFileInfo(failed).fileName();
    ASSERT_TRUE(stored.contains(failedName)) << failed.toStdString();
    EXPECT_EQ(stored.value(failedName), testsupport::readAll(dockRoot + failed));
    // The watermark had already passed it: only the retry list brought it.
    const QString upper = failedName.toUpper(), prefix = upper.section('_', 0, 1) + '_';
    EXPECT_TRUE(std::any_of(stored.keyBegin(), stored.keyEnd(), [&](const QString& n) {
        return n.toUpper().startsWith(prefix) && n.toUpper() > upper;
    }))
        << failedName.toStdString();
    // Nothing is left to fetch.
    const QString retry = testsupport::readAll(root.path() + "/state/marvane/TREVASK/AUTORETRY.INI");
    EXPECT_FALSE(retry.contains(failedName, Qt::CaseInsensitive)) << retry.toStdString();
}

// Started, stopped with SIGTERM once `line` has been printed (after `delayMs`): the
// milliseconds until the process ended, -1 when it did not end cleanly.
namespace {
qint64 stopAfter(const QProcessEnvironment& env, const QString& line, int delayMs, QByteArray* output)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(MARVANE_CLI, {"auto"});
    QByteArray out;
    if (!waitFor(p, [&] { out += p.readAllStandardOutput(); return out.contains(line.toUtf8()); }, 60000)) {
        p.kill();
        p.waitForFinished(3000);
        *output = out;
        return -1;
    }
    QEventLoop pause;
    QTimer::singleShot(delayMs, &pause, &QEventLoop::quit);
    pause.exec();
    QElapsedTimer t;
    t.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(20000);
    const qint64 ms = t.elapsed();
    out += p.readAllStandardOutput();
    *output = out;
    if (!ended || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !out.contains("Auto mode ended"))
        return -1;
    return ms;
}
} // namespace

TEST_F(AutoCli, SigtermEndsTheRunWithinTwoSecondsInEveryStep)
{
    // A mail server that takes the connection and never greets.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    startDock("127.0.0.2", 1, {"--fault", "Silent", "--fault-command", "GET"}); // found, then silent
    configure(mute.serverPort());
    QByteArray out;
    // Waiting for the server's greeting (libcurl would wait 30 s).
    qint64 ms = stopAfter(env, "Sending e-mail to", 300, &out);
    EXPECT_GE(ms, 0) << out.toStdString();
    EXPECT_LT(ms, 2000) << "mail: " << out.toStdString();

    ASSERT_EQ(cli({"settings", "set", "EMAIL/Server="}), 0);
    // In the search (it listens for five seconds).
    ms = stopAfter(env, "Searching for docks", 300, &out);
    EXPECT_GE(ms, 0) << out.toStdString();
    EXPECT_LT(ms, 2000) << "search: " << out.toStdString();
    // In a visit, waiting for the silent dock's answer (five seconds per request).
    ms = stopAfter(env, "Connecting to dock", 300, &out);
    EXPECT_GE(ms, 0) << out.toStdString();
    EXPECT_LT(ms, 2000) << "visit: " << out.toStdString();
    // Idle between searches.
    ms = stopAfter(env, "not reachable", 1500, &out);
    EXPECT_GE(ms, 0) << out.toStdString();
    EXPECT_LT(ms, 2000) << "idle: " << out.toStdString();
}

TEST_F(AutoCli, AlertMailAtOnceNamesInstrumentDockResultAndTime)
{
    if (!smtpAvailable())
        GTEST_SKIP() << "python3-aiosmtpd is not installed";
    const quint16 smtpPort = startSmtp();
    ASSERT_NE(smtpPort, 0);

    const QString sn = startDock("127.0.0.2", 4);
    configure(smtpPort);
    // A month's window, so that the generated dock's recent alarms and failures count.
    ASSERT_EQ(cli({"settings", "set", "ALERT/MailAtOnce=1", "ALERT/EventInterval=30", "ALERT/EventIntervalType=1"}),
              0);
    QString out;
    ASSERT_EQ(cli({"auto", "--cycles", "1"}, &out), 0) << out.toStdString();
    smtp.kill();
    smtp.waitForFinished(3000);
    QJsonObject alert;
    int reports = 0;
    for (const QString& f : QDir(inbox).entryList({"msg*.json"}, QDir::Files)) {
        const QJsonObject m = QJsonDocument::fromJson(testsupport::readAll(inbox + '/' + f)).object();
        if (m["subject"].toString().startsWith("Marvane Alert "))
            alert = m;
        else if (m["subject"].toString().startsWith("Marvane Report "))
            ++reports;
    }
    EXPECT_EQ(reports, 1);
    ASSERT_FALSE(alert.isEmpty()) << out.toStdString();
    EXPECT_TRUE(alert["attachments"].toArray().isEmpty());
    const QString body = alert["body"].toString();
    EXPECT_TRUE(body.contains(" at dock " + sn + " [127.0.0.2]: ")) << body.toStdString();
    EXPECT_TRUE(body.contains("FAIL") || body.contains("gas alarm")) << body.toStdString();
    static const QRegularExpression when(": [a-z ]+(FAIL|alarm [A-Z]+), 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d");
    EXPECT_TRUE(when.match(body).hasMatch()) << body.toStdString();
    EXPECT_TRUE(out.contains("Alert mail sent"));
}

TEST_F(AutoCli, DiscoverAsksTheListedDocksToo)
{
    const QString sn = startDock("127.0.0.4", 5);
    // No interface to broadcast on (the address is not this machine's): only the list reaches a dock.
    ASSERT_EQ(cli({"settings", "set", "NETWORK/Interfaces=192.0.2.1", "NETWORK/SubnetMask=255.0.0.0",
                   "NETWORK/Port=" + QString::number(dockPort), "NETWORK/Docks=127.0.0.4,127.0.0.8,nonsense"}),
              0);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(MARVANE_CLI, {"discover", "--wait", "1"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(out, "[" + sn + "] 127.0.0.4\n");
    EXPECT_TRUE(err.contains("listed dock 127.0.0.8 (NETWORK/Docks) did not answer")) << err.toStdString();
    EXPECT_TRUE(err.contains("'nonsense' is not a dock address")) << err.toStdString();
}
