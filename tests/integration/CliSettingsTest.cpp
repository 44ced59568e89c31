#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

struct CliRun {
    int code = -1;
    QString out, err;
};

CliRun runCli(const QString& tmpDir, const QStringList& args)
{
    QProcess p;
    // HOME and XDG_STATE_HOME isolate the transfer folder; TMPDIR is an empty
    // folder, so no transfer folder of an older version is taken over.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", tmpDir + "/home");
    env.insert("XDG_STATE_HOME", tmpDir + "/state");
    env.insert("TMPDIR", tmpDir + "/tmp");
    QDir().mkpath(tmpDir + "/tmp");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(MARVANE_BINARY_DIR);
    p.start(MARVANE_CLI, args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST(CliSettings, ShowPrintsFirstRunDefaultsInTableOrder)
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/home");
    const CliRun r = runCli(tmp.path(), {"settings", "show"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.first(), "SET/LANGUAGE=0");
    // The keys this program adds come after the usual ones.
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.mid(lines.indexOf("SET/LevelDev=0"), 4),
              QStringList({"SET/LevelDev=0", "NETWORK/Interfaces=", "NETWORK/TcpPort=80", "EMAIL/CAFile="}));
    EXPECT_EQ(lines.mid(lines.size() - 3, 2), QStringList({"FLEET/Server=", "FLEET/Password="}));
    EXPECT_TRUE(lines.last().startsWith("FLEET/Site=") && lines.last().size() > 11) << lines.last().toStdString();
    for (const char* want :
         {"ETC/PurgeDay=90", "ETC/AutoPurge=1", "EMAIL/Port=587", "EMAIL/UseSSL=1",
          "NETWORK/Port=7000", "NETWORK/SubnetMask=255.255.255.0", "SET/DateFormat=0",
          "SCH/Time1=02:10:00", "SCH/Time2=08:10:00", "SCH/Time3=14:10:00", "SCH/Time4=20:10:00",
          "ALERT/DayStartTime=06:00:00"})
        EXPECT_TRUE(lines.contains(QString::fromLatin1(want))) << want;
    const QString dest = tmp.path() + "/home/GAVIRODOCK/";
    EXPECT_TRUE(lines.contains("SET/LogDestination=" + dest));
    EXPECT_TRUE(QDir(dest).exists());
    EXPECT_LT(lines.indexOf("SCH/Time4=20:10:00"), lines.indexOf("SCH/Time1_Week1=0"));
}

TEST(CliSettings, SetNormalisesAndReportsErrors)
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/home");
    CliRun r = runCli(tmp.path(), {"settings", "set", "NETWORK/SubnetMask=255.255.300.x"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = runCli(tmp.path(), {"settings", "show"});
    EXPECT_TRUE(r.out.contains("NETWORK/SubnetMask=255.255.0.0\n"));

    r = runCli(tmp.path(), {"settings", "set", "EMAIL/Port=abc"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("EMAIL/Port")) << r.err.toStdString();
    r = runCli(tmp.path(), {"settings", "set", "bogus"});
    EXPECT_EQ(r.code, 2);
    r = runCli(tmp.path(), {"frobnicate"});
    EXPECT_EQ(r.code, 2);
    r = runCli(tmp.path(), {});
    EXPECT_EQ(r.code, 2);

    r = runCli(tmp.path(), {"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.trimmed(), "Marvane [ Version : 1.2.3 ] 2024-06-12");
    r = runCli(tmp.path(), {"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("settings show"));
}

TEST(CliSettings, AddedKeysAreSetAndShown)
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/home");
    CliRun r = runCli(tmp.path(), {"settings", "set", "NETWORK/Interfaces=127.0.0.1",
                                   "network/tcpport=8080", "EMAIL/CAFile=/etc/ssl/dock-ca.pem"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = runCli(tmp.path(), {"settings", "show"});
    for (const char* want : {"NETWORK/Interfaces=127.0.0.1\n", "NETWORK/TcpPort=8080\n",
                             "EMAIL/CAFile=/etc/ssl/dock-ca.pem\n"})
        EXPECT_TRUE(r.out.contains(QString::fromLatin1(want))) << want << r.out.toStdString();
    r = runCli(tmp.path(), {"settings", "set", "NETWORK/TcpPort=web"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("NETWORK/TcpPort")) << r.err.toStdString();
    // An empty value clears a key again.
    r = runCli(tmp.path(), {"settings", "set", "NETWORK/Interfaces="});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = runCli(tmp.path(), {"settings", "show"});
    EXPECT_TRUE(r.out.contains("NETWORK/Interfaces=\n"));
}

// The settings live in the user's state folder: emptying the temporary folder (as a
// reboot does) loses nothing, and the folder and file are the user's alone.
TEST(CliSettings, SettingsSurviveAnEmptiedTemporaryFolder)
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/home");
    CliRun r = runCli(tmp.path(), {"settings", "set", "EMAIL/PW=s3cret", "USER/Anna=Acme,Safety"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QDir(tmp.path() + "/tmp").removeRecursively();
    r = runCli(tmp.path(), {"settings", "show"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("EMAIL/PW=********\n")); // kept, and never printed
    EXPECT_TRUE(r.out.contains("USER/Anna=Acme,Safety\n"));

    const QString folder = tmp.path() + "/state/marvane/TREVASK";
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(folder) & others, QFileDevice::Permissions{});
    EXPECT_EQ(QFile::permissions(folder + "/DOCK_KM1.INI") & others, QFileDevice::Permissions{});

    // A link in its place: refused with status 1 and a message naming it.
    QDir(folder).removeRecursively();
    QDir().mkpath(tmp.path() + "/elsewhere");
    ASSERT_TRUE(QFile::link(tmp.path() + "/elsewhere", folder));
    r = runCli(tmp.path(), {"settings", "set", "EMAIL/PW=s3cret"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(folder + " is a link")) << r.err.toStdString();
    EXPECT_TRUE(QDir(tmp.path() + "/elsewhere").isEmpty());
}

TEST(CliDock, ReadEditWriteReadAgain)
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/home");
    const QString dock = tmp.path() + "/dock";
    QProcess sim;
    sim.start(MARVANE_DOCKSIM, {"fixture", dock, "--size", "small"});
    ASSERT_TRUE(sim.waitForFinished(30000));
    ASSERT_EQ(sim.exitCode(), 0);

    CliRun r = runCli(tmp.path(), {"read", "--link", "usb", "--target", dock});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.trimmed().endsWith("SUCCESS: Completed successfully")) << r.out.toStdString();
    r = runCli(tmp.path(), {"config", "set", "DockCfgMaxBumpTimeEdit=35", "write", "--link", "usb",
                            "--target", dock});
    ASSERT_EQ(r.code, 0) << r.err.toStdString() << r.out.toStdString();
    r = runCli(tmp.path(), {"read", "--link", "usb", "--target", dock, "--save-first", "no"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    r = runCli(tmp.path(), {"config", "show"});
    EXPECT_TRUE(r.out.contains("DockCfgMaxBumpTimeEdit=35\n")) << r.out.toStdString();

    r = runCli(tmp.path(), {"config", "set", "NoSuchEditor=1"});
    EXPECT_EQ(r.code, 1);
    r = runCli(tmp.path(), {"read", "--link", "usb", "--bogus"});
    EXPECT_EQ(r.code, 2);
    r = runCli(tmp.path(), {"fw-check", dock + "/FW/DOCK/nothing.IMG", "--type", "dock"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith("128 PROGRAM_OPENERROR")) << r.out.toStdString();
}
