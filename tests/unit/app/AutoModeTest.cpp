// Auto mode: its decisions with a clock the test sets, and whole runs against
// simulated docks on loopback (127.0.0.2, 127.0.0.3) with the clock advanced by
// the run's own waits, so minutes of schedule pass in milliseconds.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTcpServer>

#include "app/AutoMode.h"
#include "app/AutoModeMemory.h"
#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "FirmwareImage.h"
#include "Fixture.h"
#include "NetDockServer.h"
#include "report/MailSender.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

constexpr double kSec = 1.0 / 86400.0;

TDateTime at(int y, int m, int d, int h, int n, int s) { return EncodeDateTime(y, m, d, h, n, s); }

// 2026-12-07 is a Monday.
const TDateTime kMon1159 = at(2026, 12, 7, 11, 59, 0);
const TDateTime kMon120030 = at(2026, 12, 7, 12, 0, 30);

std::array<RSetSch, 5> schedule(TDateTime time, std::initializer_list<int> days, int row = 1)
{
    std::array<RSetSch, 5> s{};
    s[row].mTime = time;
    for (int d : days)
        s[row].mDayOfWeek[d] = true;
    return s;
}

RFileList logFile(const QString& name, uint8_t kind, const QString& alias)
{
    RFileList f;
    f.mName = QStringLiteral("/LOG/TEST/") + name;
    f.mOpt = kind;
    f.mAliasName = alias;
    return f;
}

RDockReport entry(const QString& sn)
{
    RDockReport r = GetInitReport();
    r.mSN = sn;
    return r;
}

} // namespace

TEST(AutoModeDecisions, SendTimeFollowsTheWeeklySchedule)
{
    const TDateTime noon = 0.5;
    const auto mon = schedule(noon, {1});
    // Started just after the time: next week; just before: today.
    EXPECT_NEAR(TAutoMode::GetSendTime(mon, kMon120030), at(2026, 12, 14, 12, 0, 0), 1e-9);
    EXPECT_NEAR(TAutoMode::GetSendTime(mon, kMon1159), at(2026, 12, 7, 12, 0, 0), 1e-9);
    // To the second: at exactly 12:00:00 the slot has begun and the next is a week on.
    EXPECT_NEAR(TAutoMode::GetSendTime(mon, at(2026, 12, 7, 12, 0, 0)), at(2026, 12, 14, 12, 0, 0), 1e-9);
    // No day set anywhere: a year away.
    EXPECT_NEAR(TAutoMode::GetSendTime(std::array<RSetSch, 5>{}, kMon1159), kMon1159 + 365, 1e-9);
    // Sunday evening wraps to Monday morning; the earliest of several rows wins.
    auto two = schedule(0.25, {1});
    two[3].mTime = 0.75;
    two[3].mDayOfWeek[7] = true;
    const TDateTime sun2000 = at(2026, 12, 13, 20, 0, 0);
    EXPECT_NEAR(TAutoMode::GetSendTime(two, sun2000), at(2026, 12, 14, 6, 0, 0), 1e-9);
    EXPECT_NEAR(TAutoMode::GetSendTime(two, at(2026, 12, 13, 10, 0, 0)), at(2026, 12, 13, 18, 0, 0), 1e-9);
}

TEST(AutoModeDecisions, DockSearchesBackOffFromTenSecondsToTwoMinutes)
{
    int step = 4;
    const TDateTime now = kMon1159;
    std::vector<int> gaps, steps;
    for (int i = 0; i < 6; ++i) {
        gaps.push_back(int(std::llround((TAutoMode::GetConCheckTime(step, now) - now) / kSec)));
        steps.push_back(step);
    }
    EXPECT_EQ(gaps, (std::vector<int>{10, 30, 120, 120, 120, 120}));
    EXPECT_EQ(steps, (std::vector<int>{3, 2, 1, 0, 0, 0}));
    step = 9;
    TAutoMode::GetConCheckTime(step, now);
    EXPECT_EQ(step, 3);
    step = -2;
    EXPECT_NEAR(TAutoMode::GetConCheckTime(step, now) - now, 120 * kSec, 1e-9);
    EXPECT_EQ(step, 0);
}

TEST(AutoModeDecisions, WatermarkFilterSkipsWhatWasReported)
{
    RDockReport r = entry(QStringLiteral("HA1234567"));
    r.mLastBumpFile = QStringLiteral("HA1234567_BUMP_2612011000.XML");
    r.mLastCalFile = QStringLiteral("HA1234567_CAL_2611011000.XML");
    r.mLastEventCheckFile = QStringLiteral("HA1234567_EVENT_2612061000.CSV");
    const QVector<RDockReport> rep{entry(QStringLiteral("XA0000001")), r};
    const QString sn = QStringLiteral("ha1234567 "); // alias compared trimmed, without regard to case

    EXPECT_FALSE(TAutoMode::KeepLogFile(logFile("HA1234567_BUMP_2612011000.XML", UNIT_OPT_GDBUMP, sn), rep, false));
    EXPECT_FALSE(TAutoMode::KeepLogFile(logFile("ha1234567_bump_2611011000.xml", UNIT_OPT_GDBUMP, sn), rep, false));
    EXPECT_TRUE(TAutoMode::KeepLogFile(logFile("HA1234567_BUMP_2612011001.XML", UNIT_OPT_GDBUMP, sn), rep, false));
    EXPECT_FALSE(TAutoMode::KeepLogFile(logFile("HA1234567_CAL_2611011000.XML", UNIT_OPT_GDCAL, sn), rep, true));
    EXPECT_TRUE(TAutoMode::KeepLogFile(logFile("HA1234567_CAL_2612011000.XML", UNIT_OPT_GDCAL, sn), rep, false));
    // An event file below the watermark is skipped, but fetched again once the day start passed.
    const RFileList ev = logFile("HA1234567_EVENT_2612051000.CSV", UNIT_OPT_GDEVENT, sn);
    EXPECT_FALSE(TAutoMode::KeepLogFile(ev, rep, false));
    EXPECT_TRUE(TAutoMode::KeepLogFile(ev, rep, true));
    // Unknown instruments, other kinds: kept; aliases of three characters or less: never.
    EXPECT_TRUE(TAutoMode::KeepLogFile(logFile("SA7654321_BUMP_2001010000.XML", UNIT_OPT_GDBUMP, "SA7654321"), rep, false));
    EXPECT_TRUE(TAutoMode::KeepLogFile(logFile("HA1234567_X.XML", UNIT_OPT_DOCK, sn), rep, false));
    // Files no copy step takes (unclassified names) are not fetched at all.
    EXPECT_FALSE(TAutoMode::KeepLogFile(logFile("HA1234567_SELFTEST_2612011000.XML", UNIT_OPT_NONE, sn), rep, false));
    EXPECT_FALSE(TAutoMode::KeepLogFile(logFile("ABC_BUMP_2612011000.XML", UNIT_OPT_GDBUMP, " ABC "), rep, false));
}

TEST(AutoModeDecisions, ClockFirmwareAndFolderPurgeRules)
{
    const TDateTime now = kMon1159;
    EXPECT_TRUE(TAutoMode::ClockDrifted(now + 31 * kSec, now));
    EXPECT_TRUE(TAutoMode::ClockDrifted(now - 31 * kSec, now));
    EXPECT_FALSE(TAutoMode::ClockDrifted(now + 30 * kSec, now));
    EXPECT_FALSE(TAutoMode::ClockDrifted(now - 30 * kSec, now));
    EXPECT_FALSE(TAutoMode::ClockDrifted(0, now)); // no time read: nothing to set

    EXPECT_TRUE(TAutoMode::NeedsUpload("/a.IMG", "v1", "", ""));
    EXPECT_FALSE(TAutoMode::NeedsUpload("/a.IMG", "v1", "/a.IMG", "v1"));
    EXPECT_TRUE(TAutoMode::NeedsUpload("/a.IMG", "v2", "/a.IMG", "v1"));
    EXPECT_TRUE(TAutoMode::NeedsUpload("/b.IMG", "v1", "/a.IMG", "v1"));
    EXPECT_FALSE(TAutoMode::NeedsUpload(" ", "v1", "", ""));

    // A report sets the count to 0: folders go in the first cycle and every fourth after.
    int n = 0;
    std::vector<bool> purged;
    for (int cycle = 0; cycle < 9; ++cycle) {
        purged.push_back(n == 0);
        n = TAutoMode::NextDelDirCnt(n);
    }
    EXPECT_EQ(purged, (std::vector<bool>{true, false, false, false, true, false, false, false, true}));

    EXPECT_NEAR(TAutoMode::NextDayStart(at(2026, 12, 7, 5, 0, 0), 0.25), at(2026, 12, 7, 6, 0, 0), 1e-9);
    EXPECT_NEAR(TAutoMode::NextDayStart(at(2026, 12, 7, 6, 0, 0), 0.25), at(2026, 12, 8, 6, 0, 0), 1e-9);
    EXPECT_EQ(TAutoMode::CountdownText(at(2026, 12, 7, 9, 58, 55), at(2026, 12, 7, 12, 0, 0)),
              LangText(1002, "Next report in %1 (%2)").arg("2:01:05", "26-12-07 12:00"));
}

TEST(AutoModeDecisions, EventWatermarkInDaysHoursAndAfterTransmission)
{
    ScopedTempRoot tmp;
    AppState st;
    TReportStore store(st);
    TDateTime now = at(2026, 12, 7, 9, 30, 0);
    store.Now = [&] { return now; };
    RDockReport r = entry("HA1234567");
    r.mLastEventFile = "HA1234567_EVENT_2612010800.CSV";
    store.FReport = {r, entry("XA0000001")}; // the second never had an event file

    st.settings.ConfigSetAlertEventCombo = 1; // days
    st.settings.ConfigSetAlertEventEdit = 2;
    st.settings.ConfigSetAlertRefTimePicker = 0.25;
    store.MakeEventCheckFile(); // past 06:00: window from yesterday 06:00
    EXPECT_EQ(store.FReport[0].mLastEventCheckFile, "HA1234567_EVENT_2612060600.CSV");
    EXPECT_EQ(store.FReport[1].mLastEventCheckFile, "");
    now = at(2026, 12, 7, 5, 0, 0); // before the day start: one day further back
    store.MakeEventCheckFile();
    EXPECT_EQ(store.FReport[0].mLastEventCheckFile, "HA1234567_EVENT_2612050600.CSV");

    st.settings.ConfigSetAlertEventCombo = 0; // hours; below 3 becomes 3
    st.settings.ConfigSetAlertEventEdit = 1;
    now = at(2026, 12, 7, 9, 30, 0);
    store.MakeEventCheckFile();
    EXPECT_EQ(st.settings.ConfigSetAlertEventEdit, 3);
    EXPECT_EQ(store.FReport[0].mLastEventCheckFile, "HA1234567_EVENT_2612070630.CSV");

    st.settings.ConfigSetAlertEventAfterCheck = true;
    store.MakeEventCheckFile();
    EXPECT_EQ(store.FReport[0].mLastEventCheckFile, r.mLastEventFile);
}

// ---- whole runs ---------------------------------------------------------------

namespace {

quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort(); // closed again when probe goes
}

class AutoRun : public ::testing::Test {
protected:
    ScopedTempRoot tmp;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainCore> core;
    std::shared_ptr<TManualClock> clock;
    std::unique_ptr<TAutoMode> autoMode;
    std::vector<std::unique_ptr<docksim::NetDockServer>> docks;
    QString store;

    void SetUp() override
    {
        // The language texts are read from the program folder, the build folder.
        m_oldCwd = QDir::currentPath();
        QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR));
        state.StartUp();
        store = tmp.path() + "/store/";
        QDir().mkpath(store);
        state.FLogDestDir = store;
        AppSettings& s = state.settings;
        s.NetworkInterfaces = "127.0.0.1";
        s.ConfigPrNNetworkSubnetEdit = "255.0.0.0";
        s.ConfigSetEtcAutoPurgeCheck = true;
        s.ConfigSetEtcPurgeDayEdit = 90;
        core = std::make_unique<TMainCore>(state, port);
        core->DebugLogProgressCheck = true;
        core->DebugLogUnitCheck = qEnvironmentVariableIsSet("AUTO_TEST_UNIT_LOG");
        // Only loopback is searched, whatever the machine has.
        InstallLanLink(*core, [] { return QStringList{"127.0.0.1"}; });
        core->UdpSkt.FReplyTimeoutMs = 300;
        clock = std::make_shared<TManualClock>(NowDays());
        autoMode = std::make_unique<TAutoMode>(*core, clock);
        autoMode->SearchRetrySec = 0.1;
        autoMode->SearchMaxSec = 0.4;
    }

    docksim::NetDockServer& addDock(const QString& address, quint32 seed,
                                    docksim::NetServerOptions o = docksim::NetServerOptions())
    {
        const QString dir = tmp.path() + "/dock" + QString::number(docks.size());
        const docksim::FixtureManifest m = docksim::WriteFixture(dir, docksim::FixtureSize::Small, seed);
        EXPECT_TRUE(m.error.isEmpty()) << m.error.toStdString();
        o.address = QHostAddress(address);
        o.udpPort = docks.empty() ? 0 : state.settings.ConfigPrNNetworkPortEdit;
        o.tcp = false;
        auto server = std::make_unique<docksim::NetDockServer>(dir, o);
        QString error;
        EXPECT_TRUE(server->start(&error)) << error.toStdString();
        state.settings.ConfigPrNNetworkPortEdit = server->udpPort();
        docks.push_back(std::move(server));
        return *docks.back();
    }

    void TearDown() override { QDir::setCurrent(m_oldCwd); }
    QString m_oldCwd;

    int historyCount(int text) const
    {
        return int(std::count_if(port.history.begin(), port.history.end(),
                                 [&](const QString& l) { return l.contains(LangText(text)); }));
    }

    // Mail settings complete, the server refusing every connection.
    void refusingMailServer()
    {
        state.settings.ConfigSendEmailToEdit = "safety@example.invalid";
        state.settings.ConfigSendEmailSvrFromEdit = "dock@example.invalid";
        state.settings.ConfigSendEmailSvrEdit = "127.0.0.1";
        state.settings.ConfigSendEmailSvrPortEdit = closedPort();
        state.settings.ConfigSendEmailSvrSSLCheck = false;
    }

    int storeFiles() const
    {
        int n = 0;
        QDirIterator it(store + "KM1", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++n;
        }
        return n;
    }
};

} // namespace

TEST_F(AutoRun, PollsEveryDockOnceAndFetchesNothingTwice)
{
    addDock("127.0.0.2", 1);
    addDock("127.0.0.3", 2);
    autoMode->MaxCycles = 2;
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_TRUE(autoMode->RanToEnd());
    EXPECT_FALSE(state.FAutoMode);

    // The report was written before any dock was visited; e-mail not set up.
    EXPECT_TRUE(QFileInfo(store + "Report.Bin").isFile());
    EXPECT_EQ(historyCount(785), 1);
    EXPECT_EQ(historyCount(754), 4); // two docks, two cycles
    EXPECT_EQ(historyCount(758), 2);
    const int stored = storeFiles();
    EXPECT_GT(stored, 20);
    // The second cycle fetched no reported result again; what still comes are the
    // fixture's odd files the evaluation does not take as a last result.
    EXPECT_LT(autoMode->FLoaded.size(), stored / 5);
    for (const RFileList& f : autoMode->FLoaded) {
        const QString name = QFileInfo(f.mName).fileName().toUpper();
        for (const RDockReport& r : autoMode->Store().FReport)
            EXPECT_FALSE(name == r.mLastBumpFile.toUpper() || name == r.mLastCalFile.toUpper())
                << "downloaded again: " << f.mName.toStdString();
    }
    // The second cycle purged old files that the first one had stored, nothing else.
    EXPECT_GT(historyCount(707), 0);
    EXPECT_EQ(historyCount(710), 2); // folders in the first cycle after the report only
    // The first cycle's searches: at once after the report, then 10 s later.
    EXPECT_EQ(autoMode->nConCheckStep, 2);
}

TEST_F(AutoRun, SilentDockIsSkippedAndADockFailingMidVisitLosesNothing)
{
    // The first answers the search and nothing else; the second stops after five files.
    docksim::NetServerOptions silent;
    silent.faults = {{docksim::NetFaultKind::Silent, 0}};
    silent.faultCommand = "GET";
    addDock("127.0.0.2", 1, silent);
    docksim::NetServerOptions failing;
    failing.faults = {{docksim::NetFaultKind::Silent, 0}};
    failing.faultCommand = "GET File";
    failing.faultSkip = 5;
    const QString dir = addDock("127.0.0.3", 2, failing).tree().root();
    QStringList before;
    QDirIterator it(dir + "/LOG", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        before << it.next();
    autoMode->MaxCycles = 1;
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(754), 2);
    EXPECT_EQ(historyCount(757), 1);
    EXPECT_EQ(historyCount(758), 1);
    const int stored = storeFiles();
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, before.size());
    // Only copies of what the store holds may go: nothing was stored before this cycle.
    for (const QString& f : before)
        EXPECT_TRUE(QFileInfo(f).isFile()) << f.toStdString();
    // No half-written file under a real name in the store.
    QDirIterator kept(store + "KM1", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (kept.hasNext())
        EXPECT_FALSE(QFileInfo(kept.next()).fileName().startsWith('.'));
}

TEST_F(AutoRun, RefusedMailIsRetriedFiveTimesAMinuteApartThenLeft)
{
    refusingMailServer();
    state.settings.ConfigPrNNetworkPortEdit = 0; // no dock anywhere
    autoMode->MaxCycles = 1;
    const TDateTime start = clock->Now();
    std::vector<int> attempts; // seconds after the start
    clock->OnWait = [&](TDateTime) {};
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(764), 6);
    EXPECT_EQ(historyCount(786), 1);
    // Six attempts one minute apart, then the search at once ends the cycle.
    EXPECT_NEAR((clock->Now() - start) / kSec, 5 * 60, 2);
    // Nothing was reset: the alarm times wait for a mail that went out.
    TReportStore check(state);
    ASSERT_TRUE(check.LoadResult());
    EXPECT_EQ(check.FReportHeader.mLastSendDate, 0);
}

TEST_F(AutoRun, CancelDuringMailRetryEndsTheRunAndRestoresTheLink)
{
    refusingMailServer();
    TUnitDef* before = core->FUnitDef;
    clock->OnWait = [&](TDateTime) {
        if (autoMode->nNGRetry >= 2)
            autoMode->OpAutoCancelBtnClick();
    };
    bool shownRunning = false, shownStopped = false;
    autoMode->OnRunState = [&](bool on) { (on ? shownRunning : shownStopped) = true; };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(764), 3);
    EXPECT_TRUE(shownRunning && shownStopped);
    EXPECT_FALSE(state.FAutoMode);
    EXPECT_EQ(core->FUnitDef, before);
    EXPECT_TRUE(state.FormCloseQuery());
}

TEST_F(AutoRun, ScheduleDueSendsAgainAndCountdownFollowsEdits)
{
    state.settings.ConfigPrNNetworkPortEdit = 0;
    const TDateTime start = clock->Now();
    // A slot 5 minutes ahead, every day.
    state.FTimeSch[1].mTime = start - std::floor(start) + 300 * kSec;
    for (int d = 1; d <= 7; ++d)
        state.FTimeSch[1].mDayOfWeek[d] = true;
    autoMode->CountdownVisible = true;
    QStringList labels;
    autoMode->OnCountdown = [&](int, int, const QString& l) { labels << l; };
    int reports = 0;
    bool edited = false;
    clock->OnWait = [&](TDateTime) {
        reports = historyCount(785);
        if (!edited && clock->Now() - start > 60 * kSec) {
            // An edit while idle: the next slot moves to 10 minutes after the start.
            edited = true;
            state.FTimeSch[1].mTime += 300 * kSec;
        }
        if (reports >= 2)
            autoMode->OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(reports, 2);
    EXPECT_NEAR((clock->Now() - start) / kSec, 600, 2);
    ASSERT_FALSE(labels.isEmpty());
    // The first label comes a moment after the start: five minutes, or a second less.
    EXPECT_TRUE(labels.first().startsWith(LangText(746) + " 0:05:00") ||
                labels.first().startsWith(LangText(746) + " 0:04:59"))
        << labels.first().toStdString();
    // After the edit the label counts down to the new time.
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](const QString& l) { return l.contains(" 0:08:5"); }));
}

TEST_F(AutoRun, ClockSetBackBringsTheNextSearchWithinTwoMinutes)
{
    state.settings.ConfigPrNNetworkPortEdit = 0;
    const TDateTime start = clock->Now();
    int jumps = 0;
    clock->OnWait = [&](TDateTime deadline) {
        if (jumps == 0 && autoMode->nConCheckStep == 1) {
            ++jumps;
            clock->Set(clock->Now() - 1.0 / 24); // an hour back
        }
        if (historyCount(748) >= 5)
            autoMode->OpAutoCancelBtnClick();
        (void)deadline;
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(782), 1);
    // 10 + 30 + 120 s, the hour back, then two more searches at most 120 s apart.
    EXPECT_LT((clock->Now() - (start - 1.0 / 24)) / kSec, 10 + 30 + 120 + 2 * 120 + 5);
}

namespace {
// The UDP link with the image upload answered here, to count what Auto mode sends.
class UploadCountingLink : public TUdpSkt {
public:
    QStringList sent;
    bool SaveFirmware(uint8_t kind, const QString& path) override
    {
        sent << QString::number(kind) + ':' + QFileInfo(path).fileName();
        return true;
    }
};
} // namespace

TEST_F(AutoRun, DockClockIsSetAndFirmwareGoesOncePerDockUntilTheChoiceChanges)
{
    UploadCountingLink link;
    link.FReplyTimeoutMs = 300;
    autoMode->VisitUnit = &link;
    docksim::NetServerOptions old;
    old.versionText = "1.0"; // neither image's version
    docksim::NetDockServer& dock = addDock("127.0.0.2", 3, old);
    dock.state().setClockSeconds(dock.state().clockSeconds() - 3600); // an hour behind
    state.settings.ConfigSetEtcUploadImageCheck = true;
    const QString img1 = tmp.path() + "/DOCK_A.IMG", img2 = tmp.path() + "/DOCK_B.IMG";
    testsupport::writeAll(img1, docksim::MakeImage(docksim::ImageKind::Dock, 21, 1, 7));
    testsupport::writeAll(img2, docksim::MakeImage(docksim::ImageKind::Dock, 22, 1, 8));
    core->editors.dock.DockUpgradeFileEdit = img1;
    core->editors.dock.DockUpgradeLabel = "2.1";
    int cycles = 0;
    clock->OnWait = [&](TDateTime) {
        if (autoMode->CyclesDone() == 2 && cycles == 0) {
            cycles = 2;
            core->editors.dock.DockUpgradeFileEdit = img2; // the chooser changes
            core->editors.dock.DockUpgradeLabel = "2.2";
        }
    };
    autoMode->MaxCycles = 3;
    ASSERT_TRUE(autoMode->RunAutoMode());
    // The first visit found the dock an hour behind and set it.
    const auto corrected = std::find_if(port.history.begin(), port.history.end(),
                                        [](const QString& l) { return l.contains(LangText(755)); });
    ASSERT_NE(corrected, port.history.end());
    const QStringList times = corrected->section(" : ", 1).split(" => ");
    ASSERT_EQ(times.size(), 2);
    const QString f = "yyyy-MM-dd HH:mm:ss";
    EXPECT_NEAR(QDateTime::fromString(times[0], f).secsTo(QDateTime::fromString(times[1], f)), 3600, 2)
        << corrected->toStdString();
    // Three cycles: the first image once, the new choice once.
    EXPECT_EQ(link.sent, (QStringList{"129:DOCK_A.IMG", "129:DOCK_B.IMG"}));
    EXPECT_EQ(historyCount(752), 2);
}

TEST_F(AutoRun, ForeignStoreIsKeptAsideNotOverwritten)
{
    const QByteArray foreign("not an alert store, but someone's file\n");
    testsupport::writeAll(store + "Report.Bin", foreign);
    state.settings.ConfigPrNNetworkPortEdit = 0;
    autoMode->MaxCycles = 1;
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(784), 1);
    const QStringList aside = QDir(store).entryList({"Report.Bin.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(testsupport::readAll(store + aside.first()), foreign);
}

TEST_F(AutoRun, UnsavedReadLogsKeepAutoModeFromStarting)
{
    core->LogListBtnSaveEnabled = true;
    EXPECT_FALSE(autoMode->RunAutoMode());
    EXPECT_FALSE(state.FAutoMode);
    EXPECT_EQ(port.messages.size(), 1);
}

namespace {
// Presses Cancel when a given line appears, as a person would during a visit.
class CancellingPort : public ScriptedOperatorPort {
public:
    std::function<void(const QString&)> onLine;
    void appendHistory(const QString& line) override
    {
        ScriptedOperatorPort::appendHistory(line);
        if (onLine)
            onLine(line);
    }
};
} // namespace

TEST(AutoRunCancel, CancelDuringAVisitFinishesItAndEvaluatesWhatCame)
{
    ScopedTempRoot tmp;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR));
    struct Back {
        QString dir;
        ~Back() { QDir::setCurrent(dir); }
    } back{oldCwd};
    CancellingPort port;
    AppState state(&port);
    state.StartUp();
    const QString store = tmp.path() + "/store/";
    QDir().mkpath(store);
    state.FLogDestDir = store;
    state.settings.NetworkInterfaces = "127.0.0.1";
    state.settings.ConfigPrNNetworkSubnetEdit = "255.0.0.0";
    const QString dir = tmp.path() + "/dock";
    const docksim::FixtureManifest manifest = docksim::WriteFixture(dir, docksim::FixtureSize::Small, 5);
    ASSERT_TRUE(manifest.ok());
    docksim::NetServerOptions o;
    o.address = QHostAddress("127.0.0.2");
    o.udpPort = 0;
    o.tcp = false;
    docksim::NetDockServer dock(dir, o);
    ASSERT_TRUE(dock.start());
    state.settings.ConfigPrNNetworkPortEdit = dock.udpPort();
    TMainCore core(state, port);
    core.DebugLogProgressCheck = true;
    core.DebugLogUnitCheck = true;
    InstallLanLink(core, [] { return QStringList{"127.0.0.1"}; });
    TAutoMode autoMode(core, std::make_shared<TManualClock>(NowDays()));
    autoMode.SearchRetrySec = 0.1;
    autoMode.SearchMaxSec = 0.3;
    int loads = 0;
    port.onLine = [&](const QString& l) {
        if (l.contains("LOAD /LOG") && ++loads == 8)
            autoMode.OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode.RunAutoMode());
    EXPECT_FALSE(state.FAutoMode);
    // The visit stopped at the next file: what came is copied and evaluated, though
    // the cycle never closed, and each stored file is the dock's, byte for byte.
    int stored = 0;
    for (QDirIterator it(store + "KM1", QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString f = it.next();
        ++stored;
        const QString name = QFileInfo(f).fileName();
        QDirIterator src(dir + "/LOG", {name}, QDir::Files, QDirIterator::Subdirectories);
        ASSERT_TRUE(src.hasNext()) << name.toStdString();
        EXPECT_EQ(testsupport::readAll(f), testsupport::readAll(src.next())) << name.toStdString();
    }
    EXPECT_GE(stored, 6);
    EXPECT_LE(stored, 9);
    TReportStore check(state);
    ASSERT_TRUE(check.LoadResult());
    EXPECT_GT(check.FReport.size(), 0);
    EXPECT_TRUE(std::none_of(port.history.begin(), port.history.end(),
                             [](const QString& l) { return l.contains(LangText(758)); }));
    // What the cancelled visit did not fetch waits on the dock's list for the next run.
    EXPECT_GT(TAutoRetryList::Load(manifest.dockSerial).size(), 5);
}

TEST_F(AutoRun, AnAlertWindowEditDuringTheRunFetchesTheEventLogsAgain)
{
    addDock("127.0.0.2", 6);
    autoMode->MaxCycles = 2;
    bool edited = false;
    clock->OnWait = [&](TDateTime) {
        if (!edited && autoMode->CyclesDone() == 1) {
            edited = true;
            state.settings.ConfigSetAlertEventEdit = 5; // as the window's edit box would
        }
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    ASSERT_TRUE(edited);
    EXPECT_TRUE(autoMode->bTimeUpdate);
    EXPECT_TRUE(std::any_of(autoMode->FLoaded.begin(), autoMode->FLoaded.end(),
                            [](const RFileList& f) { return (f.mOpt & 0x0F) == UNIT_OPT_GDEVENT; }));
}

// ---- waits, clocks, memory across runs ------------------------------------------

TEST_F(AutoRun, EveryWaitEndsLaterThanItStartsOnceTheDayStartPassesWithNoDock)
{
    state.settings.ConfigPrNNetworkPortEdit = 0; // no dock anywhere
    state.settings.ConfigSetAlertRefTimePicker = 0.25;
    const TDateTime start = at(2026, 12, 7, 5, 59, 0); // a minute before the day start
    clock->Set(start);
    int waits = 0;
    double shortest = 1e9;
    clock->OnWait = [&](TDateTime deadline) {
        ++waits;
        shortest = std::min(shortest, (deadline - clock->Now()) / kSec);
        if (clock->Now() - start > 600 * kSec || waits > 5000)
            autoMode->OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_GT(shortest, 0.1);
    // Ten minutes of idling: waits of up to five seconds, never a run of empty ones.
    EXPECT_LT(waits, 400);
    EXPECT_GE(historyCount(748), 5); // the searches went on: 10 s, 30 s, then every 120 s
}

TEST_F(AutoRun, ReportTimeInTheAutumnHourThatRepeatsSendsOnce)
{
    state.settings.ConfigPrNNetworkPortEdit = 0;
    // 2026-10-25: clocks go back from 03:00 to 02:00; the report is due daily at 02:30.
    const TDateTime start = at(2026, 10, 25, 1, 50, 0);
    clock->Set(start);
    autoMode->SearchMaxSec = 0.05; // nobody answers: two hours of searches stay short
    state.FTimeSch[1].mTime = 2.5 / 24;
    for (int d = 1; d <= 7; ++d)
        state.FTimeSch[1].mDayOfWeek[d] = true;
    bool back = false;
    clock->OnWait = [&](TDateTime) {
        if (!back && clock->Now() >= at(2026, 10, 25, 3, 0, 0)) {
            back = true;
            clock->Set(clock->Now() - 1.0 / 24);
        }
        if (back && clock->Now() >= at(2026, 10, 25, 3, 40, 0))
            autoMode->OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    ASSERT_TRUE(back);
    // The report at the start and the one at the first 02:30; not again at the second.
    EXPECT_EQ(historyCount(785), 2);
    EXPECT_NEAR(autoMode->dtSendTime, at(2026, 10, 26, 2, 30, 0), 1e-6);

    // A slot more than two hours back is another time of day, not a repeat.
    const auto sch = state.FTimeSch;
    EXPECT_NEAR(TAutoMode::NextSendTime(sch, at(2026, 10, 25, 2, 0, 0), at(2026, 10, 25, 2, 30, 0)),
                at(2026, 10, 26, 2, 30, 0), 1e-6);
    EXPECT_NEAR(TAutoMode::NextSendTime(sch, at(2026, 10, 24, 23, 0, 0), at(2026, 10, 25, 2, 30, 0)),
                at(2026, 10, 25, 2, 30, 0), 1e-6);
}

TEST_F(AutoRun, DockWithItsClockResetIsVisitedAndSetFromThePc)
{
    docksim::NetDockServer& dock = addDock("127.0.0.2", 7);
    const QDateTime y1999(QDate(1999, 6, 1), QTime(0, 0));
    dock.state().setClockSeconds(quint32(QDateTime(QDate(1970, 1, 1), QTime(0, 0)).secsTo(y1999)));
    autoMode->MaxCycles = 1;
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(757), 0);
    EXPECT_EQ(historyCount(836), 1);
    EXPECT_GT(storeFiles(), 10);
    EXPECT_LT(std::abs(dock.state().clockDateTime().secsTo(DaysToDateTime(clock->Now()))), 60);
}

TEST_F(AutoRun, PcClockBehindTheStoreLeavesTheDockClockAlone)
{
    docksim::NetDockServer& dock = addDock("127.0.0.2", 8);
    autoMode->MaxCycles = 2;
    clock->OnWait = [&](TDateTime) {
        // After the first cycle filled the store, the PC's clock falls back to 2020.
        if (autoMode->CyclesDone() == 1 && clock->Now() > at(2025, 1, 1, 0, 0, 0))
            clock->Set(at(2020, 1, 1, 12, 0, 0));
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_GE(historyCount(837), 1);
    EXPECT_EQ(historyCount(755), 0);
    EXPECT_GE(dock.state().clockDateTime().date().year(), 2026);
    EXPECT_GT(autoMode->NewestStoredResult(), at(2020, 1, 2, 0, 0, 0));
}

TEST_F(AutoRun, FirmwareSentOnceAcrossRunsAndNeverToADockThatReportsItsVersion)
{
    UploadCountingLink link;
    link.FReplyTimeoutMs = 300;
    docksim::NetServerOptions older, same;
    older.versionText = "1.0";
    same.versionText = "2.6";
    addDock("127.0.0.2", 3, older);
    addDock("127.0.0.3", 4, same);
    state.settings.ConfigSetEtcUploadImageCheck = true;
    const QString img = tmp.path() + "/DOCK_26.IMG";
    testsupport::writeAll(img, docksim::MakeImage(docksim::ImageKind::Dock, 26, 1, 9));
    core->editors.dock.DockUpgradeFileEdit = img;
    core->editors.dock.DockUpgradeLabel = "FW Version = 2.6";
    for (int run = 0; run < 2; ++run) {
        // A restart: a new Auto mode with nothing in memory but the transfer folder.
        autoMode = std::make_unique<TAutoMode>(*core, clock);
        autoMode->VisitUnit = &link;
        autoMode->SearchRetrySec = 0.1;
        autoMode->SearchMaxSec = 0.4;
        autoMode->MaxCycles = 1;
        ASSERT_TRUE(autoMode->RunAutoMode());
    }
    EXPECT_EQ(link.sent, QStringList{"129:DOCK_26.IMG"});
    EXPECT_EQ(historyCount(841), 3); // the second dock twice, the first after the restart
    EXPECT_FALSE(TFirmwareMemory::Load(docks[1]->state().serial(), UNIT_FWTYPE_DOCK).isEmpty());
    EXPECT_TRUE(TFirmwareMemory::SameVersion("V2.6.1", "2.6"));
    EXPECT_FALSE(TFirmwareMemory::SameVersion("2.60", "2.6"));
}

TEST_F(AutoRun, ListedDocksAreVisitedWhereNoBroadcastReachesAndEachIsSummed)
{
    addDock("127.0.0.4", 9);
    // No interface to broadcast on: only the listed addresses can be reached.
    state.settings.NetworkInterfaces = "192.0.2.1";
    state.settings.NetworkDocks = "127.0.0.4, 127.0.0.9,not-an-address, 127.0.0.4";
    autoMode->MaxCycles = 1;
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(754), 2);
    EXPECT_EQ(historyCount(845), 1);
    const QString sn = docks[0]->state().serial();
    const auto line = [&](const QString& text) {
        return std::count_if(port.history.begin(), port.history.end(), [&](const QString& l) { return l.contains(text); });
    };
    EXPECT_EQ(line(LangText(840).arg("[127.0.0.9]")), 1);
    const QString reached = LangText(839).arg(sn + " [127.0.0.4]").arg(storeFiles()).arg(0);
    EXPECT_EQ(line(reached), 1) << reached.toStdString();
    EXPECT_EQ(ListedDocks(" 10.0.0.5,10.0.0.5, 10.0.0.256,1.2.3.4.5, 255.255.255.255 ,0.1.2.3"),
              QStringList{"10.0.0.5"});
}

TEST_F(AutoRun, MissingLogDestinationIsWaitedForEachMinuteWithoutAPicker)
{
    state.settings.ConfigPrNNetworkPortEdit = 0;
    // The share's mount point holds a file for now: the folder cannot be made.
    const QString share = tmp.path() + "/share";
    testsupport::writeAll(share, "not mounted");
    state.FLogDestDir = share + "/store/";
    autoMode->MaxCycles = 1;
    const TDateTime start = clock->Now();
    clock->OnWait = [&](TDateTime) {
        if (historyCount(842) == 3 && QFileInfo(share).isFile())
            QFile::remove(share); // mounted
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(historyCount(842), 3);
    EXPECT_TRUE(port.messages.isEmpty());
    EXPECT_TRUE(QFileInfo(share + "/store/Report.Bin").isFile());
    EXPECT_GE((clock->Now() - start) / kSec, 180 - 1);
}

// A report set that could not be written completely is neither mailed nor counted as
// sent: the send date stays, the report is made again a minute later while the docks
// are still polled, and once it can be written it is mailed at that pass.
TEST_F(AutoRun, ReportSetNotWrittenIsNeitherMailedNorCountedAsSent)
{
    refusingMailServer();
    state.settings.ConfigPrNNetworkPortEdit = 0; // no dock anywhere
    // A folder where the report file belongs: no writer, root included, can put it there.
    const QString blocker = store + "Report.Html";
    ASSERT_TRUE(QDir().mkpath(blocker + "/in-the-way"));
    const QString sending = LangText(1003).arg("safety@example.invalid");
    auto mailsHanded = [&] { return int(port.history.filter(sending).size()); };
    const TDateTime start = clock->Now();
    int mailsWhileBlocked = -1, madeAgain = 0, searchesWhileBlocked = 0;
    TDateTime sendDate = -1;
    clock->OnWait = [&](TDateTime) {
        if (QFileInfo(blocker).isDir() && clock->Now() - start >= 150 * kSec) {
            mailsWhileBlocked = mailsHanded();
            madeAgain = historyCount(821);
            searchesWhileBlocked = historyCount(748);
            TReportStore check(state);
            if (check.LoadResult())
                sendDate = check.FReportHeader.mLastSendDate;
            QDir(blocker).removeRecursively();
        }
        if (mailsHanded() > 0 || clock->Now() - start > 3600 * kSec)
            autoMode->OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_EQ(mailsWhileBlocked, 0);
    // At the start and a minute apart after it, each time logged; the docks were
    // searched for meanwhile (10 s, 30 s, ...), not left for as long as it fails.
    EXPECT_GE(madeAgain, 3);
    EXPECT_GE(searchesWhileBlocked, 3);
    EXPECT_EQ(sendDate, 0);
    // The pass after the folder went wrote the report and handed the mail over.
    EXPECT_TRUE(QFileInfo(blocker).isFile());
    EXPECT_EQ(mailsHanded(), 1);
    EXPECT_LT((clock->Now() - start) / kSec, 300);
}

// While it waits, Auto mode leaves the transfer folder free for a Read by hand
// (it runs as a service all week); it takes the folder again for its work.
TEST_F(AutoRun, WaitingLeavesTheTransferFolderFree)
{
    state.settings.ConfigPrNNetworkPortEdit = 0; // no dock: the run waits between searches
    int idleWaits = 0, heldWhileIdle = 0;
    clock->OnWait = [&](TDateTime) {
        if (autoMode->nStep == 11) {
            ++idleWaits;
            QLockFile probe(TTransferLock::LockPath());
            if (probe.tryLock(0))
                probe.unlock();
            else
                ++heldWhileIdle;
        }
        if (idleWaits >= 5)
            autoMode->OpAutoCancelBtnClick();
    };
    ASSERT_TRUE(autoMode->RunAutoMode());
    EXPECT_GE(idleWaits, 5);
    EXPECT_EQ(heldWhileIdle, 0);
}
