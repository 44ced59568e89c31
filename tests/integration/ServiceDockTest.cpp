// The service commands and the bay task monitor over the USB cable, against the
// dock simulator on a pseudo-terminal; and the same through marvane-cli.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include "Fixture.h"
#include "SerialSimProcess.h"
#include "app/Downloads.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "service/ServiceCommands.h"
#include "service/TaskMonitor.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

using Sim = testsupport::SerialSimProcess;

class ServiceDock : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir::setCurrent(MARVANE_BINARY_DIR);
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 5,
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
        svc = std::make_unique<TServiceCommands>(*core);
    }
    void serve(const QStringList& extra = {})
    {
        QString err;
        ASSERT_TRUE(sim.start(dock.path(), extra, &err)) << err.toStdString();
        core->OpDeviceConnectCommPortComboText = sim.pty;
        core->SelectLink(LinkChoice::Comm);
    }
    QString T(int n) const { return LangText(n); }
    double coConcentration() const
    {
        for (const auto& g : manifest.concentrations)
            if (g.gas == "CO")
                return g.value;
        return 100;
    }
    // The one simulated result the dock stored for a serial number.
    QByteArray storedResult(const QString& sn, const QString& kind)
    {
        const QStringList found = QDir(dock.path() + "/LOG/TEST").entryList({sn + "_" + kind + "_*.XML"}, QDir::Files);
        EXPECT_EQ(found.size(), 1) << found.join(' ').toStdString();
        return found.isEmpty() ? QByteArray() : testsupport::readAll(dock.path() + "/LOG/TEST/" + found.first());
    }
    static QDateTime shownTime(const QString& line)
    {
        return QDateTime::fromString(line.section(" : ", 1), "yyyy-MM-dd HH:mm:ss");
    }

    ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainCore> core;
    std::unique_ptr<TServiceCommands> svc;
    Sim sim;
};

} // namespace

TEST_F(ServiceDock, ProductionSetThenReadShowsWhatWasSet)
{
    serve();
    svc->PCProdNameEdit = "TS7654321";
    svc->PCProdOffsetEdit = 2.5;
    svc->PCProdDuty1Edit = 12;
    svc->PCProdDuty2Edit = 34;
    ASSERT_TRUE(svc->PCProdSetBtnClick()) << svc->PCProdReadLabel.toStdString();
    const QStringList set = svc->PCProdReadLabel.split('\n');
    ASSERT_EQ(set.size(), 3);
    EXPECT_EQ(set[0], T(421) + " : TS7654321");
    EXPECT_NEAR(DateTimeToDays(shownTime(set[1])), NowDays() + 2.5 / 24, 5.0 / 86400) << set[1].toStdString();
    EXPECT_EQ(set[2], T(429) + " : 12 34");

    svc->PCProdReadLabel = "stale";
    ASSERT_TRUE(svc->PCProdReadBtnClick());
    const QStringList read = svc->PCProdReadLabel.split('\n');
    ASSERT_EQ(read.size(), 3);
    EXPECT_EQ(read[0], set[0]);
    EXPECT_NEAR(DateTimeToDays(shownTime(read[1])), NowDays() + 2.5 / 24, 5.0 / 86400);
    EXPECT_EQ(read[2], set[2]);
    EXPECT_FALSE(core->DockComm.FComEnable) << "closed after the command";
    EXPECT_FALSE(state.FExe);

    // With another link chosen only the message shows: nothing is sent.
    core->SelectLink(LinkChoice::Disk);
    svc->PCProdReadLabel = "kept";
    EXPECT_FALSE(svc->PCProdReadBtnClick());
    EXPECT_EQ(port.messages.value(0), T(427) + ": " + T(426));
    EXPECT_EQ(svc->PCProdReadLabel, "kept");
}

TEST_F(ServiceDock, SerialNumberClockAndVanishedDock)
{
    serve();
    // Twelve characters: the dock gets eleven, the edit shows what it reports back,
    // and the difference is said plainly.
    svc->DebugOpSNEdit = "ABCDEFGHIJKL";
    EXPECT_FALSE(svc->DebugOpWriteSNBtnClick());
    EXPECT_EQ(svc->DebugOpSNEdit, QString("ABCDEFGHIJK").left(10)) << "the read-back names at most ten";
    EXPECT_EQ(svc->LastError, T(857).arg("ABCDEFGHIJ", "ABCDEFGHIJKL"));
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Failure);
    ASSERT_TRUE(core->LoadComm(false));
    QString sn, ver;
    EXPECT_EQ(core->DockComm.GetDeviceInfo(sn, ver), 0);
    core->DockComm.CloseComm();
    EXPECT_EQ(sn, "ABCDEFGHIJK");
    ASSERT_TRUE(svc->DebugOpReadSNBtnClick());
    EXPECT_EQ(svc->DebugOpSNEdit, "ABCDEFGHIJ");
    // Non-ASCII is refused before anything is sent: the edit keeps what was typed.
    svc->DebugOpSNEdit = QString::fromUtf8("TS\xED\x95\x9C");
    EXPECT_FALSE(svc->DebugOpWriteSNBtnClick());
    EXPECT_EQ(svc->DebugOpSNEdit, QString::fromUtf8("TS\xED\x95\x9C"));

    // "Set RTC" with -5.5 hours.
    core->OpDeviceOpSetRtcOffsetEdit = -5.5;
    ASSERT_TRUE(core->OpDeviceOpRtcSetBtnClick());
    const QDateTime shown = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    EXPECT_NEAR(DateTimeToDays(shown), NowDays() - 5.5 / 24, 5.0 / 86400);

    // A dock that is gone: the edit is emptied, the label gets the failure text.
    sim.stop();
    EXPECT_FALSE(svc->DebugOpReadSNBtnClick());
    EXPECT_EQ(svc->DebugOpSNEdit, "");
    EXPECT_FALSE(svc->PCProdReadBtnClick());
    EXPECT_FALSE(state.FExe);
}

TEST_F(ServiceDock, PcBumpTestWatchedToItsResult)
{
    serve({"--bay-test-time", "400"});
    QStringList baysSeen;
    bool sawRunning = false;
    const bool opened = svc->PCOpBtnClick([&] {
        TTaskMonitor m(core->DockComm);
        m.PollIntervalMs = 200;
        QStringList memo;
        m.LogLine = [&](const QString& s) { memo << s; };
        m.StatusRead = [&] {
            const QString line = m.TaskStatusLabel + '|' + m.Bays[0].status + '|' + m.Bays[1].status + '|' +
                                 m.Bays[2].status + '|' + m.Bays[3].status;
            if (baysSeen.isEmpty() || baysSeen.last() != line)
                baysSeen << line;
            sawRunning = sawRunning || m.TaskStatusLabel == "PC command";
        };
        m.TestStart();
        EXPECT_TRUE(m.FTest);
        EXPECT_FALSE(m.CloseEnabled);
        EXPECT_FALSE(m.FlowOnEnabled) << "polling is on from the start";
        m.SetLogSend(true);
        m.Press(MONITOR_BTN_OPERATION); // "Bump Test" is the default action
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return sawRunning && m.TaskStatusLabel == "Idle" && m.Bays[2].status == "Pass"; }, 8000))
            << baysSeen.join('\n').toStdString();
        EXPECT_TRUE(memo.join('\n').contains("(SEND) ( EXT COM)") || memo.join('\n').contains("(SEND) (EXT COM)"))
            << memo.join('\n').toStdString();
        m.Press(MONITOR_BTN_RESULT);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m.ResTestGrid[16][1].isEmpty(); }, 3000));
        for (int bay = 1; bay <= 3; ++bay) {
            EXPECT_EQ(m.ResTestGrid[9][bay], "Bump Test");
            EXPECT_EQ(m.ResTestGrid[10][bay], "Bump Test");
            EXPECT_EQ(m.ResTestGrid[16][bay], "PASS");
        }
        EXPECT_EQ(m.ResTestGrid[8][4], "---");
        // Flow Off: no more status requests, the loop still serves presses.
        m.Press(MONITOR_BTN_FLOWOFF);
        QTest::qWait(300);
        int polls = 0;
        m.StatusRead = [&] { ++polls; };
        QTest::qWait(700);
        EXPECT_EQ(polls, 0);
        m.Press(MONITOR_BTN_LOG);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.Curve(1).size() == 125; }, 5000));
        EXPECT_EQ(m.Curve(7).size(), 0) << "bay 4 is empty";
        m.Stop();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.CloseEnabled; }, 2000));
        EXPECT_FALSE(m.PanelEnabled);
    });
    ASSERT_TRUE(opened) << svc->LastError.toStdString();
    EXPECT_FALSE(core->DockComm.FComEnable);
    // The bays took turns: bay 1 tested while bay 2 still waited.
    bool turns = false;
    for (const QString& l : baysSeen)
        turns = turns || l.startsWith("PC command|Bump test|Detection");
    EXPECT_TRUE(turns) << baysSeen.join('\n').toStdString();
}

TEST_F(ServiceDock, OfTwoPressesInOnePassTheLastIsServed)
{
    serve();
    ASSERT_TRUE(svc->PCOpBtnClick([&] {
        TTaskMonitor m(core->DockComm);
        m.TestStart();
        m.Press(MONITOR_BTN_RESULT);
        m.Press(MONITOR_BTN_LOG);
        m.Pass();
        EXPECT_EQ(m.ShownTab, "Logging Data");
        EXPECT_EQ(m.ResTestGrid[8][1], "") << "the result request was overwritten";
        EXPECT_EQ(m.Curve(1).size(), 125);
        EXPECT_EQ(m.FBtn, 0);
        // "Operation" with "Hibernate" chosen sends operation code 10.
        QStringList sent;
        m.LogLine = [&](const QString& s) { sent << s; };
        m.SetLogSend(true);
        m.BtnTestOpComboIndex = 8;
        m.Press(MONITOR_BTN_OPERATION);
        m.Pass();
        EXPECT_TRUE(sent.join('\n').contains(" 21  0A  2B  03 ")) << sent.join('\n').toStdString();
        m.Stop();
        m.Pass();
        EXPECT_TRUE(m.CloseEnabled);
    }));
}

TEST_F(ServiceDock, MonitorStopsWhenThePortVanishes)
{
    serve();
    QStringList memo;
    bool ended = false;
    svc->PCOpBtnClick([&] {
        TTaskMonitor m(core->DockComm);
        m.LogLine = [&](const QString& s) { memo << s; };
        m.LoopEnded = [&] { ended = true; };
        m.TestStart();
        QTest::qWait(200);
        sim.stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 6000));
        EXPECT_TRUE(m.CloseEnabled);
    });
    EXPECT_TRUE(ended);
    EXPECT_TRUE(memo.join('\n').contains("monitoring stopped")) << memo.join('\n').toStdString();
}

TEST_F(ServiceDock, SimulatedBumpTestReachesReadSaveLogAndCertificate)
{
    serve();
    TLogBrowser browser(*core);
    svc->PCSimSNEdit = "SH4400001";
    svc->PCSimSensorComboIndex = 1; // CO
    svc->PCSimTestSpanEdit = coConcentration();
    ASSERT_TRUE(svc->PCSimTestBumpBtnClick(1));
    svc->PCSimEventAlarmEdit = 12.5;
    svc->PCSimEventDurationEdit = 300;
    svc->PCSimEventTypeRadioIndex = 1;
    ASSERT_TRUE(svc->PCSimEventAddBtnClick());

    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    int parent = -1;
    for (int i = 0; i < browser.LogListGDBumpTreeView.size(); ++i)
        if (browser.LogListGDBumpTreeView[i].mText == "SH4400001")
            parent = i;
    ASSERT_GE(parent, 0) << "the simulated bump test is listed after a Read";
    bool eventListed = false;
    for (const RLogRow& r : browser.LogListGDEventList)
        eventListed = eventListed || r.mCaption == "SH4400001";
    EXPECT_TRUE(eventListed);

    // The certificate's record of that result.
    browser.DisplayDockTest(TEST_KIND_BUMP, parent, 0);
    EXPECT_EQ(browser.FLastReport.mType, TEST_KIND_BUMP);
    EXPECT_EQ(browser.FLastReport.mInfo.mSN, "SH4400001");
    EXPECT_EQ(browser.FLastReport.mInfo.mOverAllResult, "PASS");
    EXPECT_TRUE(browser.PrintResPrintBtnVisible);

    ASSERT_TRUE(core->LogListBtnSaveClick()) << port.statusText.toStdString();
    EXPECT_FALSE(QDir(state.FLogDestDir + "KM1/SH4400001/BUMP").entryList({"*.XML"}, QDir::Files).isEmpty());
    EXPECT_FALSE(QDir(state.FLogDestDir + "KM1/SH4400001/EVENT").entryList({"*.CSV"}, QDir::Files).isEmpty());

    // ... and its bump report, drawn from the saved result, names the instrument.
    const QStringList saved =
        QDir(state.FLogDestDir + "KM1/SH4400001/BUMP").entryList({"*.XML"}, QDir::Files);
    ASSERT_FALSE(saved.isEmpty());
    const QString pdf = tmp.path() + "/bump.pdf";
    QProcess cert;
    cert.start(QStringLiteral(MARVANE_CLI), {"certificate", state.FLogDestDir + "KM1/SH4400001/BUMP/" +
                                             saved.first(), "--pdf", pdf});
    ASSERT_TRUE(cert.waitForFinished(60000));
    ASSERT_EQ(cert.exitCode(), 0) << cert.readAllStandardError().toStdString();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString words = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(words.contains("SH4400001")) << words.toStdString();
    EXPECT_TRUE(words.contains("PASS")) << words.toStdString();
}

TEST_F(ServiceDock, CommandLine)
{
    serve({"--bay-test-time", "200"});
    auto cli = [&](const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
        QProcess p;
        p.start(QStringLiteral(MARVANE_CLI), args + QStringList{"--port", sim.pty});
        p.waitForFinished(30000);
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitCode();
    };
    QString out, err;
    EXPECT_EQ(cli({"service", "production", "set", "--sn", "TS1", "--offset", "1", "--duty", "7", "8"}, &out), 0);
    EXPECT_EQ(cli({"service", "production", "read"}, &out), 0);
    EXPECT_TRUE(out.contains(T(421) + " : TS1\n")) << out.toStdString();
    EXPECT_TRUE(out.contains(T(429) + " : 7 8")) << out.toStdString();
    EXPECT_EQ(cli({"service", "sn", "write", "TS000000011"}, &out, &err), 1);
    EXPECT_TRUE(out.trimmed().endsWith("TS00000001")) << out.toStdString();
    EXPECT_TRUE(err.contains(T(857).arg("TS00000001", "TS000000011"))) << err.toStdString();
    EXPECT_EQ(cli({"service", "sn", "write", "TS0000001"}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.trimmed().endsWith("\nTS0000001")) << out.toStdString();
    // GD DF Clear goes only with --yes.
    EXPECT_EQ(cli({"service", "gd-clear"}, &out, &err), 1);
    EXPECT_TRUE(err.contains("--yes")) << err.toStdString();
    EXPECT_TRUE(err.contains("not sent")) << err.toStdString();
    EXPECT_EQ(cli({"service", "gd-clear", "--yes"}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(cli({"service", "production", "set", "--sn", "TS1", "--offset", "30"}, &out, &err), 2);
    EXPECT_EQ(cli({"service", "simulate", "event", "--sn", "SH9", "--sensor", "NH3"}, &out, &err), 2);
    EXPECT_EQ(cli({"service", "simulate", "cal", "--sn", "SH9", "--sensor", "O2", "--zero-pre", "-1.5"}), 0);
    EXPECT_FALSE(QDir(dock.path() + "/LOG/TEST").entryList({"SH9_CAL_*.XML"}, QDir::Files).isEmpty());
    EXPECT_EQ(cli({"service", "pump-test"}), 0);
    EXPECT_EQ(cli({"monitor", "status"}, &out), 0);
    EXPECT_TRUE(out.startsWith("Task: Idle")) << out.toStdString();
    EXPECT_EQ(cli({"monitor", "result"}, &out), 0);
    EXPECT_TRUE(out.contains("Life Remain")) << out.toStdString();
    EXPECT_EQ(cli({"monitor", "log", "--save"}, &out, &err), 0);
    EXPECT_TRUE(out.trimmed().startsWith("NO")) << out.toStdString();
    EXPECT_TRUE(err.contains("File Save : ")) << err.toStdString();
    EXPECT_EQ(cli({"monitor", "watch", "--seconds", "2"}, &out), 0);
    EXPECT_GE(out.count("Task: "), 2) << out.toStdString();
    EXPECT_EQ(cli({"monitor", "status", "--save"}), 2);

    // A long watch ends cleanly on SIGTERM.
    QProcess watch;
    watch.start(QStringLiteral(MARVANE_CLI), {"monitor", "watch", "--seconds", "60", "--port", sim.pty});
    ASSERT_TRUE(watch.waitForStarted(5000));
    QTest::qWait(1500);
    QElapsedTimer t;
    t.start();
    watch.terminate();
    ASSERT_TRUE(watch.waitForFinished(5000));
    EXPECT_LT(t.elapsed(), 3000);
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0);
    EXPECT_TRUE(watch.readAllStandardOutput().contains("Task: "));
}

TEST_F(ServiceDock, RefusedCommandsFailPlainly)
{
    // Every operation and simulation frame answered with a NAK.
    serve({"--fault", "nak", "--fault-command", "21"});
    EXPECT_FALSE(svc->PCPumpTestBtnClick());
    EXPECT_TRUE(svc->LastError.startsWith(T(853))) << svc->LastError.toStdString();
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Failure);
    EXPECT_EQ(port.statusText, svc->LastError);
    port.yesNoAnswers << "yes";
    EXPECT_FALSE(svc->PCGDDFClearBtnClick());
    EXPECT_TRUE(svc->LastError.startsWith(T(853)));
    EXPECT_FALSE(state.FExe);
    EXPECT_FALSE(core->DockComm.FComEnable);
    sim.stop();

    serve({"--fault", "nak", "--fault-command", "13"});
    svc->PCSimSNEdit = "SH77";
    EXPECT_FALSE(svc->PCSimTestBumpBtnClick(2));
    EXPECT_TRUE(svc->LastError.startsWith(T(853)));
    EXPECT_TRUE(svc->PCSimTestBumpBtnClick(1)) << "the bump record is not refused";
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Success);
    EXPECT_EQ(port.statusText, T(855));
    EXPECT_TRUE(svc->LastError.isEmpty());

    // The command line: exit 1 and the reason.
    QProcess p;
    p.start(QStringLiteral(MARVANE_CLI), {"service", "simulate", "cal", "--sn", "SH78", "--port", sim.pty});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains(T(853)));
}

TEST_F(ServiceDock, GdClearAsksFirstAndNoSendsNothing)
{
    serve({"--verbose"});
    port.yesNoAnswers << "no";
    EXPECT_FALSE(svc->PCGDDFClearBtnClick());
    ASSERT_EQ(port.questions.size(), 1);
    EXPECT_EQ(port.questions.first(), T(LANG_SVC_GDCLEAR_ASK));
    EXPECT_TRUE(port.traffic.isEmpty());
    port.yesNoAnswers << "yes";
    EXPECT_TRUE(svc->PCGDDFClearBtnClick());
    sim.stop();
    // The dock saw one operation request: the one that was confirmed.
    const QString log = QString::fromLocal8Bit(sim.proc.readAllStandardError());
    EXPECT_EQ(log.count(QRegularExpression(" 21 \\(1 bytes\\)")), 1) << log.toStdString();
}

TEST_F(ServiceDock, SimulatedRecordsHoldTheValuesSentAndAreJudged)
{
    serve();
    // A calibration whose zero reads 8.0: stored as sent, and a failure.
    svc->PCSimSNEdit = "SH5500001";
    svc->PCSimSensorComboIndex = 0; // H2S
    svc->PCSimTestZeroPreEdit = 7.5;
    svc->PCSimTestZeroEdit = 8.0;
    svc->PCSimTestSpanPreEdit = 21.5;
    svc->PCSimTestSpanEdit = 24.5;
    ASSERT_TRUE(svc->PCSimTestBumpBtnClick(2)) << svc->LastError.toStdString();
    RDockTestInfo cal;
    ASSERT_EQ(GetDockTestInfoFromData(TEST_KIND_CAL, storedResult("SH5500001", "CAL"), cal), DOCKTEST_OK);
    EXPECT_FLOAT_EQ(cal.mZero.mReading, 8.0f);
    EXPECT_FLOAT_EQ(cal.mZero.mPreReading, 7.5f);
    EXPECT_FLOAT_EQ(cal.mSpan.mPreReading, 21.5f);
    EXPECT_FLOAT_EQ(cal.mSpan.mReading, 24.5f);
    EXPECT_EQ(cal.mZero.mResult, "FAIL");
    EXPECT_EQ(cal.mOverAllResult, "FAIL");

    // A bump test at the dock's concentration passes; far below it fails.
    svc->PCSimSNEdit = "SH5500002";
    svc->PCSimSensorComboIndex = 1; // CO
    svc->PCSimTestZeroEdit = 0;
    svc->PCSimTestSpanEdit = coConcentration();
    svc->PCSimTestSpanTimeEdit = 17;
    ASSERT_TRUE(svc->PCSimTestBumpBtnClick(1));
    RDockTestInfo bump;
    ASSERT_EQ(GetDockTestInfoFromData(TEST_KIND_BUMP, storedResult("SH5500002", "BUMP"), bump), DOCKTEST_OK);
    EXPECT_EQ(bump.mOverAllResult, "PASS");
    EXPECT_FLOAT_EQ(bump.mSpan.mConcentration, float(coConcentration()));
    EXPECT_EQ(bump.mSpan.mTime, 17);
    svc->PCSimSNEdit = "SH5500003";
    svc->PCSimTestSpanEdit = coConcentration() / 10;
    ASSERT_TRUE(svc->PCSimTestBumpBtnClick(1));
    ASSERT_EQ(GetDockTestInfoFromData(TEST_KIND_BUMP, storedResult("SH5500003", "BUMP"), bump), DOCKTEST_OK);
    EXPECT_EQ(bump.mSpan.mResult, "FAIL");
    EXPECT_EQ(bump.mOverAllResult, "FAIL");

    // One event, one line, even with a duration the instruments' own logs echo.
    svc->PCSimSNEdit = "SH5500004";
    svc->PCSimEventDurationEdit = 20; // a multiple of 4 and of 5
    ASSERT_TRUE(svc->PCSimEventAddBtnClick());
    const QStringList events = QDir(dock.path() + "/LOG/EVENT").entryList({"SH5500004_EVENT_*.CSV"}, QDir::Files);
    ASSERT_EQ(events.size(), 1);
    const QByteArray csv = testsupport::readAll(dock.path() + "/LOG/EVENT/" + events.first());
    const QList<QByteArray> lines = csv.trimmed().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines.size() - 4, 1) << csv.toStdString();
    EXPECT_TRUE(lines.last().contains(",20,")) << csv.toStdString();
    ASSERT_TRUE(svc->PCSimEventAddBtnClick());
    EXPECT_EQ(testsupport::readAll(dock.path() + "/LOG/EVENT/" + events.first()).trimmed().split('\n').size(), 6);
}
