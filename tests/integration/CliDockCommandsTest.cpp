// The command line against simulated docks, each command in its own process as a
// script would run it: unsaved logs across reads, the identity of a cable Read,
// the clock, reset and download commands, and partial failures.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "Fixture.h"
#include "SerialSimProcess.h"
#include "support/TestSupport.h"

namespace {

struct CliRun {
    int code = -1;
    QString out, err;
};

// One private user: settings, transfer folder and log destination below root.
class CliUser {
public:
    CliUser()
    {
        QDir().mkpath(home());
        QDir().mkpath(store());
        run({"settings", "set", "SET/LogDestination=" + store()});
    }
    QString home() const { return m_root.path() + "/home"; }
    QString store() const { return m_root.path() + "/store/"; }
    QString root() const { return m_root.path(); }

    CliRun run(const QStringList& args, int timeoutMs = 60000) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", m_root.path());
        env.insert("HOME", home());
        env.insert("XDG_STATE_HOME", m_root.path() + "/state");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(MARVANE_BINARY_DIR);
        p.start(MARVANE_CLI, args);
        EXPECT_TRUE(p.waitForFinished(timeoutMs)) << args.join(' ').toStdString();
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private:
    QTemporaryDir m_root;
};

using SerialSim = testsupport::SerialSimProcess;

QStringList filesBelow(const QString& dir)
{
    QStringList out;
    const QDir d(dir);
    for (const QFileInfo& fi : d.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (fi.isDir())
            out += filesBelow(fi.absoluteFilePath());
        else
            out << fi.absoluteFilePath();
    }
    return out;
}

} // namespace

TEST(CliRead, UnsavedLogsAreNeverDiscardedSilently)
{
    CliUser user;
    QTemporaryDir dock;
    ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 5).ok());
    const QStringList usb = {"--link", "usb", "--target", dock.path(), "--purge", "no"};

    CliRun r = user.run(QStringList{"read"} + usb);
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(filesBelow(user.store()).isEmpty());

    // A second read would replace the staged logs: it refuses and names the flag.
    r = user.run(QStringList{"read"} + usb);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("--save-first")) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("SUCCESS"));

    // "yes" saves every log first, then reads.
    r = user.run(QStringList{"read"} + usb + QStringList{"--save-first", "yes"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    const QStringList saved = filesBelow(user.store() + "KM1");
    EXPECT_GT(saved.size(), 10);
    EXPECT_TRUE(QFileInfo::exists(user.store() + "Report.Bin"));

    // After save-log the next read needs no flag; "no" discards on purpose.
    r = user.run({"save-log"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = user.run(QStringList{"read"} + usb);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = user.run(QStringList{"read"} + usb + QStringList{"--save-first", "no"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = user.run(QStringList{"read"} + usb + QStringList{"--save-first", "maybe"});
    EXPECT_EQ(r.code, 2);
}

TEST(CliRead, AFileThatCannotBeCopiedMakesTheReadAFailure)
{
    CliUser user;
    QTemporaryDir dock;
    ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 6).ok());
    // A name no local file may have: listed, never copied.
    testsupport::writeAll(dock.path() + "/LOG/TEST/BAD:NAME_CAL_2405011210.XML", "<RESULT/>");
    const CliRun r = user.run({"read", "--link", "usb", "--target", dock.path(), "--purge", "no"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("FAILURE: 1 ")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("BAD:NAME_CAL_2405011210.XML")) << r.out.toStdString();
    // What could be copied is kept and can be saved.
    const CliRun s = user.run({"save-log"});
    EXPECT_EQ(s.code, 0) << s.err.toStdString();
    EXPECT_GT(filesBelow(user.store() + "KM1").size(), 10);
}

TEST(CliCable, IdentityClockResetAndDownloads)
{
    CliUser user;
    QTemporaryDir dock;
    const docksim::FixtureManifest manifest =
        docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 8);
    ASSERT_TRUE(manifest.ok());
    SerialSim sim;
    ASSERT_TRUE(sim.start(dock.path()));
    const QStringList cable = {"--link", "cable", "--port", sim.pty};

    CliRun r = user.run(QStringList{"read"} + cable + QStringList{"--purge", "no"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    // The identity came from the dock's reply, not from a staged file: later processes know it.
    r = user.run({"config", "show"});
    EXPECT_TRUE(r.out.contains("DockInfoSNEdit=" + manifest.dockSerial + "\n")) << r.out.toStdString();
    r = user.run({"save-log"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList dockLogs = filesBelow(user.store() + "DOCK");
    ASSERT_FALSE(dockLogs.isEmpty());
    for (const QString& f : dockLogs)
        EXPECT_TRUE(f.startsWith(user.store() + "DOCK/" + manifest.dockSerial + "/")) << f.toStdString();

    r = user.run(QStringList{"rtc", "set"} + cable + QStringList{"--offset", "-5.5"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    const QString shown = r.out.section("Dock clock: ", 1).trimmed();
    const QDateTime when = QDateTime::fromString(shown, "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(when.isValid()) << r.out.toStdString();
    EXPECT_NEAR(double(QDateTime::currentDateTime().secsTo(when)), -5.5 * 3600, 10);
    r = user.run(QStringList{"rtc", "get"} + cable);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Dock clock: ")) << r.out.toStdString();

    r = user.run(QStringList{"download", "config"} + cable + QStringList{"--send-files", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("SUCCESS")) << r.out.toStdString();

    r = user.run(QStringList{"reset"} + cable);
    EXPECT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();

    // Commands a link cannot carry are usage errors, before anything is opened.
    r = user.run({"rtc", "get", "--link", "usb"});
    EXPECT_EQ(r.code, 2);
    r = user.run({"download", "sideways", "--link", "cable", "--port", sim.pty});
    EXPECT_EQ(r.code, 2);
    r = user.run({"--help"});
    for (const char* c : {"rtc get", "rtc set", "reset LINK", "download config|firmware",
                          "--link cable --port DEV", "--link udp --address IP", "--link tcp --address IP"})
        EXPECT_TRUE(r.out.contains(QLatin1String(c))) << c;
}
