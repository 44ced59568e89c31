// Read, Write, Purge, the clock, the reset and the instrument downloads over the
// USB cable, against the dock simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <ctime>

#include "Fixture.h"
#include "SerialSimProcess.h"
#include "app/Downloads.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

using SerialSim = testsupport::SerialSimProcess;

class SerialDock : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir::setCurrent(MARVANE_BINARY_DIR);
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 11,
                                         QDateTime::currentDateTime());
        ASSERT_TRUE(manifest.ok()) << manifest.error.toStdString();
        state.StartUp();
        state.FLogDestDir = tmp.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        core = std::make_unique<TMainCore>(state, port);
        core->editors.InitConst();
        core->FinalPauseSec = 0;
        core->USBDisk.RemovableRoots = [] { return QStringList(); };
        InstallSerialLink(*core, [] { return QStringList(); });
    }
    void serve(const QStringList& extra = {})
    {
        QString err;
        ASSERT_TRUE(sim.start(dock.path(), extra, &err)) << err.toStdString();
        core->OpDeviceConnectCommPortComboText = sim.pty;
        core->SelectLink(LinkChoice::Comm);
        ASSERT_EQ(core->OpDeviceConnectCommPortComboText, sim.pty);
    }
    QString T(int n) const { return LangText(n); }

    ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainCore> core;
    SerialSim sim;
};

} // namespace

TEST_F(SerialDock, ReadWriteAndPurge)
{
    serve();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    EXPECT_EQ(port.statusText, T(718));
    EXPECT_EQ(core->editors.dock.DockInfoSNEdit, manifest.dockSerial);
    // The identity request names the version as a number ("2.1" of "2.1.3").
    EXPECT_FALSE(core->editors.dock.DockInfoVerEdit.isEmpty());
    EXPECT_TRUE(manifest.dockVersion.startsWith(core->editors.dock.DockInfoVerEdit));
    EXPECT_EQ(QFileInfo(core->DockComm.FFwList.mDockFile.mName).fileName(),
              QFileInfo(manifest.newestDockImage).fileName());
    EXPECT_EQ(core->DockComm.FFwList.mDockFile.mVersion, manifest.newestDockVersion);

    const QString staging = AppState::TransferFolder();
    int copied = 0;
    for (const docksim::ManifestLog& log : manifest.logs) {
        if (log.kind == docksim::LogKind::None)
            continue;
        const QString folder = TRemoteUnit::StagingFolderOf(uint8_t(log.kind));
        const QString copy = staging + folder + QFileInfo(log.path).fileName();
        EXPECT_EQ(testsupport::readAll(copy), testsupport::readAll(dock.path() + '/' + log.path))
            << log.path.toStdString();
        ++copied;
    }
    EXPECT_GT(copied, 10);
    // The remote listing also keeps the unclassified files of the log trees.
    EXPECT_GE(core->DockComm.LogListCount(), manifest.logs.size());
    for (const docksim::ManifestLog& log : manifest.logs) {
        bool listed = false;
        for (const RUnitLogList& e : core->DockComm.FLogList)
            listed = listed || e.mName == '/' + log.path;
        EXPECT_TRUE(listed) << log.path.toStdString();
    }
    EXPECT_FALSE(core->DockComm.FComEnable);

    int oldBefore = 0;
    for (const RUnitLogList& e : core->DockComm.FLogList)
        if (e.mOpt != UNIT_OPT_DOCK && e.mDate > 0 && e.mDate < NowDays() - 1)
            ++oldBefore;

    // Write sends the edited configuration back and restarts the dock.
    ASSERT_TRUE(core->OpWriteBtnClick()) << port.statusText.toStdString();
    EXPECT_EQ(port.statusText, T(718));
    EXPECT_EQ(core->OpDeviceConnectCommPortComboText, "---");

    // Purge removes the instrument logs older than the limit (dock logs stay), once
    // they stand in the local store.
    ASSERT_TRUE(testsupport::SaveEverything(*core)) << port.statusText.toStdString();
    core->OpDeviceConnectCommPortComboText = sim.pty;
    state.settings.ConfigSetEtcPurgeDayEdit = 1;
    port.yesNoAnswers << "yes";
    ASSERT_TRUE(core->LogListBtnPurgeClick()) << port.statusText.toStdString();
    QVector<RFileList> after;
    ASSERT_TRUE(core->DockComm.OpenComm(sim.pty));
    core->DockComm.LoadLogFileList(after, true);
    core->DockComm.CloseComm();
    int old = 0;
    const TDateTime limit = NowDays() - 1;
    // Files the program cannot classify were never copied: they are not its to delete.
    for (const RFileList& e : after)
        if (!e.mLevelStr.startsWith("001") && (e.mOpt & 0x0F) != 0 && e.mDate > 0 && e.mDate < limit) {
            ++old;
            ADD_FAILURE() << e.mName.toStdString() << " " << int(e.mOpt);
        }
    EXPECT_GT(oldBefore, 0);
    EXPECT_EQ(old, 0);
}

TEST_F(SerialDock, ClockResetAndConfigurationDownload)
{
    serve();
    core->OpDeviceOpSetRtcOffsetEdit = 3;
    ASSERT_TRUE(core->OpDeviceOpRtcSetBtnClick());
    const QDateTime shown = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(shown.isValid()) << core->OpDeviceOpRTCLabel.toStdString();
    EXPECT_NEAR(DateTimeToDays(shown), NowDays() + 3.0 / 24, 5.0 / 86400);
    ASSERT_TRUE(core->OpDeviceOpRtcGetBtnClick());
    const QDateTime read = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    EXPECT_NEAR(DateTimeToDays(read), NowDays() + 3.0 / 24, 5.0 / 86400);

    EXPECT_TRUE(core->DebugOpUnitResetBtnClick());

    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(core->GDOpConfigBtnClick(0)) << port.messages.join('|').toStdString();
    EXPECT_LT(t.elapsed(), 8000);
    const auto& g = core->editors.gd.GDOpResGrid;
    int passed = 0;
    int empty = 0;
    for (int bay = 1; bay <= 4; ++bay) {
        if (g[4][bay] == T(73))
            ++empty;
        else if (g[4][bay] == core->GetTestResult(1)) {
            ++passed;
            EXPECT_FALSE(g[1][bay].isEmpty());
            EXPECT_TRUE(g[2][bay].contains('.'));
        }
    }
    EXPECT_EQ(empty, 1); // bay 4 is empty by default
    EXPECT_EQ(passed, 3);
}

TEST_F(SerialDock, FirmwareDownloadReportsEachBay)
{
    serve({"--fail-bays", "2"});
    ASSERT_TRUE(core->GDOpConfigBtnClick(1)) << port.messages.join('|').toStdString();
    const auto& g = core->editors.gd.GDOpResGrid;
    EXPECT_EQ(g[4][2], core->GetTestResult(2));
    EXPECT_EQ(g[4][1], core->GetTestResult(1));
}

TEST_F(SerialDock, NoStatusFiveGivesTheErrorBox)
{
    serve({"--fault", "no-status-5"});
    EXPECT_FALSE(core->GDOpConfigBtnClick(1));
    EXPECT_EQ(port.messages.value(0), T(66) + ": " + T(66) + "..." + T(75));
}

TEST_F(SerialDock, DockBusyForTheWholeFirmwareWaitGivesTheErrorBox)
{
    serve({"--fault", "busy"});
    core->FDownloadWaitScale = 0.01; // the 100 polls of 2 s each, shortened
    EXPECT_FALSE(core->GDOpConfigBtnClick(1));
    EXPECT_EQ(port.messages.value(0), T(66) + ": " + T(66) + "..." + T(76));
    EXPECT_FALSE(state.FExe);
}

TEST_F(SerialDock, DockThatGoesAwayMidReadEndsCleanly)
{
    // At the line rate a dock image takes seconds: the simulator ends in the middle of one.
    serve({"--line-rate"});
    QTimer::singleShot(1500, [this] { sim.proc.kill(); });
    QElapsedTimer t;
    t.start();
    core->OpReadBtnClick();
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_FALSE(core->DockComm.FComEnable);
    EXPECT_FALSE(state.FExe);
    // Nothing half-copied sits in the staging folders under a real name.
    const QString staging = AppState::TransferFolder();
    for (const QString& kind : {DIR_FW_DOCK, DIR_FW_GD}) {
        for (const QString& name : QDir(staging + kind).entryList(QDir::Files | QDir::Hidden)) {
            const QString copy = staging + kind + name;
            EXPECT_EQ(testsupport::readAll(copy), testsupport::readAll(dock.path() + '/' + kind + name))
                << name.toStdString();
        }
    }
    for (const docksim::ManifestLog& log : manifest.logs) {
        const QString copy = staging + TRemoteUnit::StagingFolderOf(uint8_t(log.kind)) +
                             QFileInfo(log.path).fileName();
        if (QFileInfo::exists(copy)) {
            EXPECT_EQ(testsupport::readAll(copy), testsupport::readAll(dock.path() + '/' + log.path))
                << log.path.toStdString();
        }
    }
}

// A dock that stops answering in the middle of the logs, its cable still in (the
// simulator stopped): two silent requests end the Read as failed at once instead of
// one wait per remaining file; what was copied whole stays, nothing else is staged.
TEST_F(SerialDock, DockGoneSilentEndsTheReadAtOnce)
{
    serve();
    core->DebugLogUnitCheck = true;
    core->DockComm.FReplyWindowMs = 400;
    core->DockComm.FRetryPauseMs = 100;
    const pid_t pid = pid_t(sim.proc.processId());
    QElapsedTimer sinceStop;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!sinceStop.isValid() && port.history.join('\n').contains("LOAD /LOG/")) {
            ::kill(pid, SIGSTOP);
            sinceStop.start();
        }
    });
    watch.start();
    const bool ok = core->OpReadBtnClick();
    watch.stop();
    ::kill(pid, SIGCONT);
    EXPECT_FALSE(ok);
    ASSERT_TRUE(sinceStop.isValid());
    // Two silent requests, not one time-out per remaining file (some 30).
    EXPECT_LT(sinceStop.elapsed(), 10000);
    EXPECT_TRUE(port.statusText.startsWith(T(801))) << port.statusText.toStdString();
    const QString h = port.history.join('\n');
    EXPECT_EQ(h.count(T(801)), 1) << h.toStdString();

    int copied = 0, missing = 0;
    for (const docksim::ManifestLog& log : manifest.logs) {
        if (log.kind == docksim::LogKind::None)
            continue;
        const QString copy = AppState::TransferFolder() + TRemoteUnit::StagingFolderOf(uint8_t(log.kind)) +
                             QFileInfo(log.path).fileName();
        QFileInfo::exists(copy) ? ++copied : ++missing;
    }
    EXPECT_GE(copied, 1);
    EXPECT_GT(missing, 5);
    // Also a temporary file of the download in flight would be named here.
    for (const QString& f : testsupport::StagedNotTheDocks(dock.path()))
        ADD_FAILURE() << "not the dock's bytes: " << f.toStdString();
}

// Replies that arrive in pieces, after noise, or broken once: the retry and the
// decoder still bring every file over intact.
TEST_F(SerialDock, ReadSurvivesLineFaults)
{
    serve({"--fault", "split", "--fault", "garbage", "--fault", "bad-crc", "--fault-command", "93",
           "--fault-count", "1"});
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    const QString staging = AppState::TransferFolder();
    for (const docksim::ManifestLog& log : manifest.logs) {
        if (log.kind == docksim::LogKind::None)
            continue;
        const QString copy = staging + TRemoteUnit::StagingFolderOf(uint8_t(log.kind)) +
                             QFileInfo(log.path).fileName();
        EXPECT_EQ(testsupport::readAll(copy), testsupport::readAll(dock.path() + '/' + log.path))
            << log.path.toStdString();
    }
}

// A measurement, not a check: run with --gtest_also_run_disabled_tests.
TEST_F(SerialDock, DISABLED_DownloadTimeAgainstTheLineRate)
{
    for (const bool lineRate : {true, false}) {
        SerialSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), lineRate ? QStringList{"--line-rate"} : QStringList{}, &err));
        TDockComm comm;
        qint64 wire = 0;
        comm.OnSend = [&](const QString& t) { wire += (t.size() - t.indexOf(") ") - 2) / 4; };
        comm.OnRead = [&](const QString& t) { wire += t.size() / 4; };
        ASSERT_TRUE(comm.OpenComm(s.pty));
        const QString src = '/' + manifest.newestDockImage;
        qint64 size = 0;
        ASSERT_EQ(comm.GetFileSize(src, size), 0);
        const std::clock_t c0 = std::clock();
        QElapsedTimer t;
        t.start();
        ASSERT_EQ(comm.LoadFile(tmp.path() + "/img", src, size), 0);
        const double wall = t.nsecsElapsed() / 1e9;
        const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
        const double floor = wire * 10.0 / 115200.0;
        std::printf("%s: %lld bytes in %.2f s (%.3f MB/s), wire %lld bytes, floor %.2f s, ratio %.3f, cpu %.1f %%\n",
                    lineRate ? "line rate" : "no emulation", (long long)size, wall, size / wall / 1e6,
                    (long long)wire, floor, wall / floor, 100.0 * cpu / wall);
        comm.CloseComm();
    }
}
