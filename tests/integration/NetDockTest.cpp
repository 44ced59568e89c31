// Read, Write, Purge, the clock, the reset and the instrument downloads over
// Ethernet (UDP) and TCP, the dock search, and the simulator's faults, against
// "marvane-docksim serve-net" on loopback addresses only.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include "Fixture.h"
#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

// One simulated dock on a loopback address; ends when the test ends.
class NetSim {
public:
    bool start(const QString& dir, const QString& address, const QStringList& extra, QString* error,
               int udpPort = 0)
    {
        proc.setProgram(QStringLiteral(MARVANE_DOCKSIM));
        proc.setArguments(QStringList{"serve-net", dir, "--fast", "--address", address, "--udp-port",
                                      QString::number(udpPort), "--tcp-port", "0"} +
                          extra);
        proc.start();
        if (!proc.waitForStarted(5000)) {
            *error = "simulator did not start";
            return false;
        }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (proc.canReadLine() || proc.waitForReadyRead(200)) {
                const QStringList f = QString::fromLocal8Bit(proc.readLine()).trimmed().split(' ');
                if (f.size() == 4 && f[0] == "UDP") {
                    udp = f[1].toInt();
                    tcp = f[3].toInt();
                    return true;
                }
            }
            if (proc.state() != QProcess::Running)
                break;
        }
        *error = "no UDP line: " + QString::fromLocal8Bit(proc.readAllStandardError());
        return false;
    }
    ~NetSim()
    {
        proc.closeWriteChannel();
        if (!proc.waitForFinished(3000)) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    QProcess proc;
    int udp = 0, tcp = 0;
};

QMap<QString, QByteArray> staged() { return testsupport::StagedFiles(); }

void clearStaging()
{
    for (const char* sub : {"LOG", "FW", "CONFIG"})
        QDir(AppState::TransferFolder() + sub).removeRecursively();
    for (const QString& f : QDir(AppState::TransferFolder()).entryList({"*.CFG"}, QDir::Files))
        QFile::remove(AppState::TransferFolder() + f);
}

class NetDock : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir::setCurrent(MARVANE_BINARY_DIR);
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 11, QDateTime::currentDateTime());
        ASSERT_TRUE(manifest.ok()) << manifest.error.toStdString();
        state.StartUp();
        state.FLogDestDir = tmp.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        // Discovery stays on loopback: one interface, a mask whose broadcast is 127.255.255.255.
        state.settings.NetworkInterfaces = "127.0.0.1";
        state.settings.ConfigPrNNetworkSubnetEdit = "255.0.0.0";
        core = std::make_unique<TMainCore>(state, port);
        core->editors.InitConst();
        core->FinalPauseSec = 0;
        core->FDownloadWaitScale = 0.02;
        core->USBDisk.RemovableRoots = [] { return QStringList(); };
        InstallLanLink(*core, [] { return QStringList{"127.0.0.1"}; });
    }
    void serve(const QStringList& extra = {}, const QString& address = "127.0.0.2")
    {
        QString err;
        ASSERT_TRUE(sim.start(dock.path(), address, extra, &err)) << err.toStdString();
        state.settings.ConfigPrNNetworkPortEdit = sim.udp;
        state.settings.NetworkTcpPort = sim.tcp;
        core->UdpSkt.RemotePort = quint16(sim.udp);
        core->TCPSkt.Port = quint16(sim.tcp);
    }
    // The link chosen with the dock's address typed, without a search.
    void choose(LinkChoice link, const QString& address = "127.0.0.2")
    {
        auto search = core->LoadLanConnect;
        core->LoadLanConnect = nullptr;
        core->SelectLink(link);
        core->LoadLanConnect = search;
        core->OpDeviceConnectLanListComboText = address;
        core->OpDeviceConnectLanListComboIndex = -1;
    }
    QMap<QString, QByteArray> usbRead()
    {
        clearStaging();
        core->SelectLink(LinkChoice::Disk);
        port.folderAnswers << dock.path();
        EXPECT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
        return staged();
    }
    void expectSameAsUsb(const QMap<QString, QByteArray>& remote)
    {
        const QMap<QString, QByteArray> usb = usbRead();
        for (const QString& k : usb.keys())
            EXPECT_TRUE(remote.contains(k)) << "only from the USB drive: " << k.toStdString();
        // The remote links classify by name alone: a "_CAL_" file that is no XML
        // result comes along, the drive skips it.
        for (const QString& k : remote.keys())
            EXPECT_TRUE(usb.contains(k) || !k.endsWith(".XML", Qt::CaseInsensitive))
                << "only from the network: " << k.toStdString();
        for (auto it = usb.begin(); it != usb.end(); ++it)
            EXPECT_TRUE(remote.value(it.key()) == it.value()) << it.key().toStdString();
        EXPECT_GT(usb.size(), 20);
    }
    int oldInstrumentLogs(TUnitDef& unit, const QString& address, bool afterSave = false)
    {
        QVector<RFileList> list;
        EXPECT_TRUE(unit.OpenComm(address)) << unit.FErrStr.toStdString();
        unit.LoadLogFileList(list, true);
        unit.CloseComm();
        int old = 0;
        // Files the program cannot classify, or that Save Log did not take (a result it
        // cannot read), never reached the local store: they are not the purge's to delete.
        for (const RFileList& e : list) {
            if (!e.mLevelStr.startsWith("001") && (e.mOpt & 0x0F) != 0 && e.mDate > 0 &&
                e.mDate < NowDays() - 1 && (!afterSave || core->SavedInStore(ToLogEntry(e))))
                ++old;
        }
        return old;
    }
    QString T(int n) const { return LangText(n); }

    ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainCore> core;
    NetSim sim;
};

} // namespace

TEST_F(NetDock, UdpReadMatchesTheUsbDriveThenWriteAndPurge)
{
    serve();
    choose(LinkChoice::Udp);
    clearStaging();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    EXPECT_EQ(port.statusText, T(718));
    EXPECT_EQ(core->editors.dock.DockInfoSNEdit, manifest.dockSerial);
    EXPECT_FALSE(core->editors.dock.DockInfoVerEdit.isEmpty());
    EXPECT_EQ(core->UdpSkt.FFwList.mDockFile.mVersion, manifest.newestDockVersion);
    EXPECT_FALSE(core->UdpSkt.IsOpen());
    EXPECT_GE(core->UdpSkt.LogListCount(), manifest.logs.size());
    // Byte for byte what the same dock gives as a USB drive.
    expectSameAsUsb(staged());

    // Write: the edited configuration lands on the dock, which restarts.
    core->editors.dock.DockInfoLocationEdit = "Hall 7";
    choose(LinkChoice::Udp);
    const QStringList listBefore = core->OpDeviceConnectLanListComboItems;
    ASSERT_TRUE(core->OpWriteBtnClick()) << port.statusText.toStdString() << port.history.join('\n').toStdString();
    EXPECT_TRUE(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG").contains("Location=Hall 7\r\n"));
    // A Write that keeps the dock's address keeps the dock list.
    EXPECT_EQ(core->OpDeviceConnectLanListComboItems, listBefore);

    // Purge: instrument logs older than a day go, once saved.
    ASSERT_TRUE(testsupport::SaveEverything(*core)) << port.statusText.toStdString(); // the purge takes only saved files
    EXPECT_GT(oldInstrumentLogs(core->UdpSkt, "127.0.0.2"), 0);
    choose(LinkChoice::Udp);
    state.settings.ConfigSetEtcPurgeDayEdit = 1;
    port.yesNoAnswers << "yes";
    ASSERT_TRUE(core->LogListBtnPurgeClick()) << port.statusText.toStdString();
    EXPECT_EQ(oldInstrumentLogs(core->UdpSkt, "127.0.0.2", true), 0);
}

TEST_F(NetDock, UdpClockResetAndDownloads)
{
    serve();
    choose(LinkChoice::Udp);
    core->OpDeviceOpSetRtcOffsetEdit = 3;
    ASSERT_TRUE(core->OpDeviceOpRtcSetBtnClick());
    QDateTime shown = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(shown.isValid()) << core->OpDeviceOpRTCLabel.toStdString();
    EXPECT_NEAR(DateTimeToDays(shown), NowDays() + 3.0 / 24, 5.0 / 86400);
    ASSERT_TRUE(core->OpDeviceOpRtcGetBtnClick());
    shown = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    EXPECT_NEAR(DateTimeToDays(shown), NowDays() + 3.0 / 24, 5.0 / 86400);
    EXPECT_TRUE(core->DebugOpUnitResetBtnClick());

    // Configuration download: the bays report their results in the grid.
    ASSERT_TRUE(core->GDOpConfigBtnClick(0)) << port.messages.join('|').toStdString();
    const auto& g = core->editors.gd.GDOpResGrid;
    int passed = 0;
    for (int bay = 1; bay <= 4; ++bay)
        if (g[4][bay] == core->GetTestResult(1))
            ++passed;
    EXPECT_EQ(passed, 3);
    EXPECT_EQ(g[4][4], T(73));

    // Firmware download with a new instrument image uploaded first.
    const QString image = dock.path() + '/' + manifest.newestGdImage;
    ASSERT_TRUE(QFileInfo(image).isFile());
    const QString copy = tmp.path() + "/GD_NEW.IMG";
    QFile::copy(image, copy);
    core->editors.gd.GDUpgradeFileNameEdit = copy;
    core->editors.gd.GDOpFirmwareFileSendCheck = true;
    core->UdpSkt.FResetPauseMs = 2;
    port.yesNoAnswers << "yes";
    core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    ASSERT_TRUE(core->GDOpConfigBtnClick(1)) << port.messages.join('|').toStdString() << port.history.join('\n').toStdString();
    EXPECT_EQ(testsupport::readAll(dock.path() + "/FW/GD/GD_NEW.IMG"), testsupport::readAll(copy));
    passed = 0;
    for (int bay = 1; bay <= 4; ++bay)
        if (g[4][bay] == core->GetTestResult(1))
            ++passed;
    EXPECT_EQ(passed, 3);
}

TEST_F(NetDock, TcpReadMatchesTheUsbDriveThenWritePurgeClockAndReset)
{
    serve();
    core->TCPSkt.FAfterPauseMs = 5;
    core->TCPSkt.FPaceMs = 5;
    choose(LinkChoice::Lan);
    clearStaging();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    EXPECT_EQ(core->editors.dock.DockInfoSNEdit, manifest.dockSerial);
    EXPECT_EQ(core->TCPSkt.FFwList.mDockFile.mVersion, manifest.newestDockVersion);
    expectSameAsUsb(staged());

    core->OpDeviceOpSetRtcOffsetEdit = -2;
    choose(LinkChoice::Lan);
    ASSERT_TRUE(core->OpDeviceOpRtcSetBtnClick());
    const QDateTime shown = QDateTime::fromString(core->OpDeviceOpRTCLabel, "yyyy-MM-dd HH:mm:ss");
    EXPECT_NEAR(DateTimeToDays(shown), NowDays() - 2.0 / 24, 5.0 / 86400);
    ASSERT_TRUE(core->OpDeviceOpRtcGetBtnClick());
    EXPECT_TRUE(core->DebugOpUnitResetBtnClick());
    // The instrument downloads are not offered on this link.
    EXPECT_FALSE(core->GDOpConfigBtnClick(0));

    core->editors.dock.DockInfoLocationEdit = "Hall 9";
    choose(LinkChoice::Lan);
    ASSERT_TRUE(core->OpWriteBtnClick()) << port.statusText.toStdString();
    EXPECT_TRUE(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG").contains("Location=Hall 9\r\n"));

    ASSERT_TRUE(testsupport::SaveEverything(*core)) << port.statusText.toStdString(); // the purge takes only saved files
    EXPECT_GT(oldInstrumentLogs(core->TCPSkt, "127.0.0.2"), 0);
    choose(LinkChoice::Lan);
    state.settings.ConfigSetEtcPurgeDayEdit = 1;
    port.yesNoAnswers << "yes";
    ASSERT_TRUE(core->LogListBtnPurgeClick()) << port.statusText.toStdString();
    EXPECT_EQ(oldInstrumentLogs(core->TCPSkt, "127.0.0.2", true), 0);
}

TEST_F(NetDock, DiscoveryListsTwoDocksOnceEachAndKeepsTheChoice)
{
    serve({}, "127.0.0.2");
    NetSim second;
    QString err;
    ASSERT_TRUE(second.start(dock.path(), "127.0.0.3", {}, &err, sim.udp)) << err.toStdString();
    core->DebugLogProgressCheck = true;
    core->DebugLogUnitCheck = true;

    core->SelectLink(LinkChoice::Udp); // searches: each dock answers both broadcasts
    ASSERT_EQ(core->FDockLan.size(), 3);
    QStringList items = core->OpDeviceConnectLanListComboItems.mid(1);
    items.sort();
    EXPECT_EQ(items, QStringList({"[" + manifest.dockSerial + "] 127.0.0.2", "[" + manifest.dockSerial + "] 127.0.0.3"}));
    EXPECT_EQ(core->OpDeviceConnectLanListComboIndex, 1);
    EXPECT_EQ(core->OpDeviceConnectLanListComboItems[0], T(734));
    EXPECT_TRUE(port.history.join('\n').contains("127.255.255.255"));

    // The remembered dock stays chosen after "Refresh"; a Read reaches it.
    const int pick = int(core->OpDeviceConnectLanListComboItems.indexOf("[" + manifest.dockSerial + "] 127.0.0.3"));
    core->OpDeviceConnectLanListComboIndex = pick;
    core->OpDeviceConnectLanListComboText = core->OpDeviceConnectLanListComboItems[pick];
    core->RefreshConnections();
    EXPECT_EQ(core->OpDeviceConnectLanListComboText, "[" + manifest.dockSerial + "] 127.0.0.3");
    const int index = core->OpDeviceConnectLanListComboIndex;
    EXPECT_EQ(core->FDockLan[index].mIp, "127.0.0.3");
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    EXPECT_TRUE(port.history.join('\n').contains("Ethernet IP allocated ... 127.0.0.3"));

    // A typed address that matches no dock gives way to the first dock found.
    core->OpDeviceConnectLanListComboText = "127.0.0.9";
    core->OpDeviceConnectLanListComboIndex = -1;
    core->RefreshConnections();
    EXPECT_EQ(core->OpDeviceConnectLanListComboIndex, 1);
}

TEST_F(NetDock, NoDockAnsweringLeavesThePlaceholderAlone)
{
    state.settings.ConfigPrNNetworkPortEdit = 1 + int(QDateTime::currentMSecsSinceEpoch() % 20000) + 40000;
    core->SelectLink(LinkChoice::Udp);
    EXPECT_EQ(core->FDockLan.size(), 1);
    EXPECT_EQ(core->OpDeviceConnectLanListComboItems, QStringList{T(734)});
    EXPECT_EQ(core->OpDeviceConnectLanListComboIndex, 0);
    // No interface in the list: nothing is sent and the last search's docks stay.
    RDockLanInfo known;
    known.mSN = "SN1";
    known.mDhcpStatus = 1;
    known.mIp = "127.0.0.7";
    core->FDockLan = {RDockLanInfo{}, known};
    // An interface address this machine does not have: nothing is searched.
    state.settings.NetworkInterfaces = "127.9.9.9";
    core->RefreshConnections();
    EXPECT_EQ(core->OpDeviceConnectLanListComboItems.value(1), "[SN1] 127.0.0.7");
}

// Each fault of the simulator gives its documented code, and nothing partial is left.
TEST_F(NetDock, UdpFaultsGiveTheirCodes)
{
    struct Case {
        QStringList args;
        uint8_t code;
        const char* what;
    };
    const Case cases[] = {
        {{"--fault", "silent", "--fault-command", "GET File"}, UDPSKT_COMM_NOREPLY, "silent"},
        {{"--fault", "no-end-marker", "--fault-command", "GET File"}, UDPSKT_COMM_WRONG_TERMINATE, "no end marker"},
        {{"--fault", "failure-code:205", "--fault-command", "GET File"}, UDPSKT_COMM_NG_NOTEXECUTE, "code 205"},
        {{"--fault", "failure-code:150", "--fault-command", "GET File"}, UDPSKT_COMM_NG_UNKNOWN, "code 150"},
        {{"--fault", "short-chain", "--fault-command", "GET File"}, UDPSKT_COMM_WRONG_NOTALLSEND, "chain cut short"},
        {{"--fault", "drop-every:3", "--fault-command", "GET File"}, UDPSKT_COMM_NOREPLY, "lost datagram"},
        {{"--fault", "stray", "--fault-command", "GET File", "--fault-skip", "2"}, UDPSKT_COMM_END, "stray: ignored"},
        {{"--fault", "oversized", "--fault-command", "GET File"}, UDPSKT_COMM_NORESULT, "oversized"},
    };
    const QString image = '/' + manifest.newestDockImage;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", c.args, &err)) << err.toStdString();
        TUdpSkt& u = core->UdpSkt;
        u.RemotePort = quint16(s.udp);
        u.FReplyTimeoutMs = 400;
        u.FResetPauseMs = 1;
        QStringList history;
        u.OnInform = [&](const QString& t) { history << t; };
        ASSERT_TRUE(u.OpenComm("127.0.0.2"));
        qint64 size = 0;
        ASSERT_EQ(u.GetFileSize(image, size), 0);
        const QString local = tmp.path() + "/out.img";
        testsupport::writeAll(local, "an older copy");
        EXPECT_EQ(u.LoadFile(local, image, size), c.code);
        if (c.code == UDPSKT_COMM_END)
            EXPECT_EQ(testsupport::readAll(local), testsupport::readAll(dock.path() + image));
        else
            EXPECT_FALSE(QFileInfo::exists(local));
        u.CloseComm();
        u.OnInform = nullptr;
        if (c.code == UDPSKT_COMM_NORESULT && QString(c.what) == "oversized") {
            EXPECT_TRUE(history.join('\n').contains("refused")) << history.join('\n').toStdString();
        }
    }
}

TEST_F(NetDock, UdpBadListingAndFailedIdentity)
{
    serve({"--fault", "bad-listing"});
    TUdpSkt& u = core->UdpSkt;
    u.FResetPauseMs = 1;
    ASSERT_TRUE(u.OpenComm("127.0.0.2"));
    QVector<RFileList> list;
    ASSERT_EQ(u.GetFileList("/LOG/DOCK/", list), 0);
    const auto real = QDir(dock.path() + "/LOG/DOCK").entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(list.size(), real.size());
    for (const RFileList& e : list) {
        EXPECT_TRUE(e.mName.startsWith("/LOG/DOCK/")) << e.mName.toStdString();
        EXPECT_FALSE(e.mName.contains("..")) << e.mName.toStdString();
    }
    u.CloseComm();

    // A dock that fails every identity request: the Read stops with text 604.
    NetSim failing;
    QString err;
    ASSERT_TRUE(failing.start(dock.path(), "127.0.0.4", {"--fault", "failure-code:203", "--fault-command", "GET Inform"},
                              &err, 0))
        << err.toStdString();
    core->UdpSkt.RemotePort = quint16(failing.udp);
    state.settings.ConfigPrNNetworkPortEdit = failing.udp;
    choose(LinkChoice::Udp, "127.0.0.4");
    EXPECT_FALSE(core->OpReadBtnClick());
    EXPECT_EQ(port.statusText, T(604));
}

TEST_F(NetDock, TcpFaultsGiveTheirCodes)
{
    struct Case {
        QStringList args;
        uint8_t code;
        const char* what;
    };
    const Case cases[] = {
        {{"--fault", "http-404", "--fault-command", "GET /FW"}, TCPSKT_COMM_NG404, "404"},
        {{"--fault", "http-slow", "--fault-command", "GET /FW"}, TCPSKT_COMM_OK, "slow first byte"},
        {{"--fault", "http-reset", "--fault-command", "GET /FW"}, TCPSKT_COMM_SHORTBODY, "reset mid-body"},
        {{"--fault", "silent", "--fault-command", "GET /FW"}, TCPSKT_COMM_TIMEOUT, "silent"},
    };
    const QString image = '/' + manifest.newestDockImage;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", c.args, &err)) << err.toStdString();
        TTCPSkt& t = core->TCPSkt;
        t.Port = quint16(s.tcp);
        t.FAfterPauseMs = 1;
        ASSERT_TRUE(t.OpenComm("127.0.0.2"));
        qint64 size = 0;
        ASSERT_EQ(t.GetFileSize(image, size), 0);
        EXPECT_GT(size, 0);
        const QString local = tmp.path() + "/out.img";
        testsupport::writeAll(local, "an older copy");
        EXPECT_EQ(t.LoadFile(local, image, size), c.code);
        if (c.code == TCPSKT_COMM_OK)
            EXPECT_EQ(testsupport::readAll(local), testsupport::readAll(dock.path() + image));
        else
            EXPECT_FALSE(QFileInfo::exists(local));
        t.CloseComm();
    }

    // Malformed rows and rows naming other folders are left out of a listing.
    {
        NetSim bad;
        QString e;
        ASSERT_TRUE(bad.start(dock.path(), "127.0.0.2", {"--fault", "bad-listing"}, &e)) << e.toStdString();
        core->TCPSkt.Port = quint16(bad.tcp);
        ASSERT_TRUE(core->TCPSkt.OpenComm("127.0.0.2"));
        QVector<RFileList> rows;
        EXPECT_EQ(core->TCPSkt.GetFileList("/LOG/DOCK/", rows), 0);
        const auto real = QDir(dock.path() + "/LOG/DOCK").entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        EXPECT_EQ(rows.size(), real.size());
        for (const RFileList& r : rows)
            EXPECT_TRUE(r.mName.startsWith("/LOG/DOCK/") && !r.mName.contains("..")) << r.mName.toStdString();
        core->TCPSkt.CloseComm();
    }

    // A directory page without its table marker is an empty folder.
    NetSim s;
    QString err;
    ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", {"--fault", "no-table-marker"}, &err)) << err.toStdString();
    core->TCPSkt.Port = quint16(s.tcp);
    ASSERT_TRUE(core->TCPSkt.OpenComm("127.0.0.2"));
    QVector<RFileList> list;
    EXPECT_EQ(core->TCPSkt.GetFileList("/LOG/TEST/", list), 0);
    EXPECT_TRUE(list.isEmpty());
    core->TCPSkt.CloseComm();

    // Nobody listening: three attempts, then "Server close" (254) and language text 622.
    core->TCPSkt.Port = 1;
    core->TCPSkt.FRetryPauseMs = 10;
    ASSERT_TRUE(core->TCPSkt.OpenComm("127.0.0.2"));
    qint64 size = 0;
    EXPECT_EQ(core->TCPSkt.GetFileSize("/CONFIG/DOCK/DOCK.CFG", size), TCPSKT_COMM_INACTIVE);
    QVector<RCfgList> cfg{{"/CONFIG/DOCK/DOCK.CFG", {}, tmp.path() + "/d.cfg", 0}, {FAT_FILE_CONFIG_INFORM, {}, {}, 0}};
    EXPECT_FALSE(core->TCPSkt.LoadConfigFiles(cfg));
    EXPECT_EQ(core->TCPSkt.FErrStr, T(622));
    core->TCPSkt.CloseComm();
}

TEST_F(NetDock, UdpSilentDockEndsWithinTheWait)
{
    serve({"--fault", "silent"});
    choose(LinkChoice::Udp);
    core->UdpSkt.FReplyTimeoutMs = 300;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(core->OpReadBtnClick());
    EXPECT_EQ(port.statusText, T(637)); // "The dock does not answer"
    // Four configuration sizes of 0.3 s each, not more.
    EXPECT_LT(t.elapsed(), 4000);
}

namespace {

struct CliRun {
    int code = -1;
    QString out, err;
};

CliRun runCli(const QString& root, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", root);
    env.insert("HOME", root + "/home");
    env.insert("XDG_STATE_HOME", root + "/state");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(MARVANE_BINARY_DIR);
    p.start(MARVANE_CLI, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

TEST_F(NetDock, CommandLineDiscoverAndReadOverBothLinks)
{
    serve({}, "127.0.0.2");
    QTemporaryDir root;
    QDir().mkpath(root.path() + "/home");
    QDir().mkpath(root.path() + "/state");
    CliRun r = runCli(root.path(), {"settings", "set", "NETWORK/Interfaces=127.0.0.1", "NETWORK/SubnetMask=255.0.0.0",
                                    "NETWORK/Port=" + QString::number(sim.udp),
                                    "NETWORK/TcpPort=" + QString::number(sim.tcp)});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    r = runCli(root.path(), {"discover", "--wait", "1"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "[" + manifest.dockSerial + "] 127.0.0.2\n");

    r = runCli(root.path(), {"read", "--link", "udp", "--address", "127.0.0.2"});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("SUCCESS"));
    r = runCli(root.path(), {"read", "--link", "tcp", "--address", "127.0.0.2", "--save-first", "no"});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    r = runCli(root.path(), {"read", "--link", "udp", "--address", "127.0.0.300", "--save-first", "no"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains(T(621))) << r.out.toStdString();

    // No dock on the port: no lines, and a failure that says so.
    runCli(root.path(), {"settings", "set", "NETWORK/Port=" + QString::number(sim.udp + 2)});
    r = runCli(root.path(), {"discover", "--wait", "0.5"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.err, "marvane-cli: discover: no dock answered within 0.5 s\n");
}

namespace {

// Every staged file is byte for byte a file of the dock with that name; nothing else
// stands under a dock file's name.
void expectStagedIsTheDocks(const QString& dockRoot)
{
    for (const QString& f : testsupport::StagedNotTheDocks(dockRoot))
        ADD_FAILURE() << "not the dock's bytes: " << f.toStdString();
}

} // namespace

// A reply later than the wait is never taken for the next file: the file that timed
// out is fetched again once the dock has caught up, and the Read is complete.
TEST_F(NetDock, UdpLateReplyIsNeverTakenForTheNextFile)
{
    serve({"--fault", "delay:1500", "--fault-command", "GET File /LOG/TEST", "--fault-skip", "3", "--fault-count", "1"});
    choose(LinkChoice::Udp);
    core->UdpSkt.FReplyTimeoutMs = 1000;
    core->UdpSkt.FResetPauseMs = 1;
    core->DebugLogUnitCheck = true;
    clearStaging();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString() << port.history.join('\n').toStdString();
    EXPECT_TRUE(port.history.join('\n').contains("Retry ")) << port.history.join('\n').toStdString();
    expectStagedIsTheDocks(dock.path());
    expectSameAsUsb(staged());
}

// Datagrams from a second loopback host, or from another port of the dock's host,
// carrying replies that look right, are no replies: nothing of them is stored.
TEST_F(NetDock, UdpRepliesFromAnyoneButTheDockAreIgnored)
{
    serve({"--fault", "stray"});
    choose(LinkChoice::Udp);
    core->UdpSkt.FResetPauseMs = 1;
    clearStaging();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    EXPECT_GT(core->UdpSkt.FIgnored, 0);
    expectStagedIsTheDocks(dock.path());
    expectSameAsUsb(staged());
}

// A folder listed in 300 parts: order numbers past 255.
TEST_F(NetDock, UdpListingOfThreeHundredParts)
{
    QDir().mkpath(dock.path() + "/LOG/TEST/BIG");
    for (int i = 0; i < 300; ++i)
        testsupport::writeAll(dock.path() + QString("/LOG/TEST/BIG/SN%1_BUMP_2405011200.XML").arg(i, 4, 10, QChar('0')),
                              "<r>" + QByteArray::number(i) + "</r>");
    serve({"--list-part-bytes", "1"});
    choose(LinkChoice::Udp);
    core->UdpSkt.FResetPauseMs = 1;
    QVector<RFileList> list;
    ASSERT_TRUE(core->UdpSkt.OpenComm("127.0.0.2"));
    ASSERT_EQ(core->UdpSkt.GetFileList("/LOG/TEST/BIG/", list), 0);
    core->UdpSkt.CloseComm();
    ASSERT_EQ(list.size(), 300);
    clearStaging();
    ASSERT_TRUE(core->OpReadBtnClick()) << port.statusText.toStdString();
    int big = 0;
    for (const QString& k : staged().keys())
        big += k.contains("_BUMP_2405011200") ? 1 : 0;
    EXPECT_EQ(big, 300);
    expectStagedIsTheDocks(dock.path());
}

// Folders that repeat themselves: the walk ends at its depth, says so, and fails.
TEST_F(NetDock, SelfRepeatingFoldersEndTheWalkOverBothLinks)
{
    serve({"--fault", "loop-tree"});
    core->UdpSkt.FResetPauseMs = 1;
    core->TCPSkt.FAfterPauseMs = 1;
    for (LinkChoice link : {LinkChoice::Udp, LinkChoice::Lan}) {
        choose(link);
        clearStaging();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(core->OpReadBtnClick());
        EXPECT_TRUE(port.statusText.contains(T(802).arg(8))) << port.statusText.toStdString();
        EXPECT_LT(t.elapsed(), 120000);
        expectStagedIsTheDocks(dock.path());
    }
    // The stop flag is looked at before every listing request.
    choose(LinkChoice::Udp);
    QTimer::singleShot(300, [this] { core->RequestCancel(); });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(core->OpReadBtnClick());
    EXPECT_EQ(port.statusText.left(T(779).size()), T(779));
    EXPECT_LT(t.elapsed(), 10000);
    expectStagedIsTheDocks(dock.path());
}

// A dock switched off after its listing: two time-outs end the Read at once, what
// was copied stays, and the message says what happened.
TEST_F(NetDock, DockGoneSilentEndsTheOperationOverBothLinks)
{
    core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    core->UdpSkt.FReplyTimeoutMs = 600;
    core->UdpSkt.FResetPauseMs = 1;
    core->TCPSkt.FAfterPauseMs = 1;
    core->TCPSkt.FRetryPauseMs = 100;
    for (LinkChoice link : {LinkChoice::Udp, LinkChoice::Lan}) {
        auto s = std::make_unique<NetSim>();
        QString err;
        ASSERT_TRUE(s->start(dock.path(), "127.0.0.2", {}, &err)) << err.toStdString();
        state.settings.ConfigPrNNetworkPortEdit = s->udp;
        state.settings.NetworkTcpPort = s->tcp;
        choose(link);
        clearStaging();
        port.history.clear();
        QElapsedTimer sinceKill;
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!sinceKill.isValid() && port.history.join('\n').contains("LOAD /LOG/")) {
                s->proc.kill();
                sinceKill.start();
            }
        });
        watch.start();
        EXPECT_FALSE(core->OpReadBtnClick());
        watch.stop();
        ASSERT_TRUE(sinceKill.isValid());
        EXPECT_LT(sinceKill.elapsed(), 8000); // two waits, not one per remaining file
        EXPECT_TRUE(port.statusText.startsWith(T(801))) << port.statusText.toStdString();
        expectStagedIsTheDocks(dock.path());
    }
}

// More than the file listed: refused at the listed size, nothing staged for it.
TEST_F(NetDock, HugeBodiesAndFilesOverTheirCapAreRefused)
{
    core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    const QByteArray big(17 * 1024 * 1024, 'x');
    testsupport::writeAll(dock.path() + "/LOG/TEST/SN9_CAL_2405011210.XML", big);
    core->UdpSkt.FResetPauseMs = 1;
    core->TCPSkt.FAfterPauseMs = 1;
    const struct {
        LinkChoice link;
        const char* command;
    } cases[] = {{LinkChoice::Udp, "GET File /LOG"}, {LinkChoice::Lan, "GET /LOG"}};
    for (const auto& c : cases) {
        NetSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", {"--fault", "huge:40", "--fault-command", c.command}, &err));
        state.settings.ConfigPrNNetworkPortEdit = s.udp;
        state.settings.NetworkTcpPort = s.tcp;
        choose(c.link);
        clearStaging();
        EXPECT_FALSE(core->OpReadBtnClick());
        EXPECT_TRUE(port.history.join('\n').contains(T(804).arg(big.size()).arg(16 * 1024 * 1024)));
        const QMap<QString, QByteArray> files = staged();
        for (const QString& k : files.keys())
            EXPECT_FALSE(k.startsWith("LOG/")) << k.toStdString();
        expectStagedIsTheDocks(dock.path());
    }
}

// The web server's ways of answering badly.
TEST_F(NetDock, TcpSlowDribblingAndCutAnswers)
{
    core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    const QString image = '/' + manifest.newestDockImage;
    const QByteArray bytes = testsupport::readAll(dock.path() + image);
    struct Case {
        QStringList args;
        uint8_t code;
        const char* what;
    };
    const Case cases[] = {
        {{"--fault", "http-slow", "--fault-command", "GET /FW"}, TCPSKT_COMM_OK, "first byte after 3 s"},
        {{"--fault", "http-dribble:40", "--fault-command", "GET /FW"}, TCPSKT_COMM_TOOSLOW, "one byte at a time"},
        {{"--fault", "http-cut", "--fault-command", "GET /FW"}, TCPSKT_COMM_SHORTBODY, "cut, no length"},
        {{"--fault", "http-reset", "--fault-command", "GET /FW"}, TCPSKT_COMM_SHORTBODY, "reset"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NetSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", c.args, &err)) << err.toStdString();
        TTCPSkt& t = core->TCPSkt;
        t.Port = quint16(s.tcp);
        t.FAfterPauseMs = 1;
        t.FTotalBaseMs = 2000;
        t.FMinBytesPerSec = c.code == TCPSKT_COMM_TOOSLOW ? 1000000 : 20000;
        ASSERT_TRUE(t.OpenComm("127.0.0.2"));
        const QString local = tmp.path() + "/out.img";
        testsupport::writeAll(local, "an older copy");
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(t.LoadFile(local, image, bytes.size()), c.code);
        EXPECT_LT(clock.elapsed(), 15000);
        if (c.code == TCPSKT_COMM_OK)
            EXPECT_EQ(testsupport::readAll(local), bytes);
        else
            EXPECT_FALSE(QFileInfo::exists(local));
        t.CloseComm();
    }
    // A directory page cut short, with or without its length, is no complete listing.
    for (const char* fault : {"http-reset", "http-cut"}) {
        SCOPED_TRACE(fault);
        NetSim s;
        QString err;
        ASSERT_TRUE(s.start(dock.path(), "127.0.0.2", {"--fault", fault, "--fault-command", "GET /LOG/TEST/@"}, &err));
        core->TCPSkt.Port = quint16(s.tcp);
        state.settings.NetworkTcpPort = s.tcp;
        choose(LinkChoice::Lan);
        clearStaging();
        EXPECT_FALSE(core->OpReadBtnClick());
        EXPECT_TRUE(port.history.join('\n').contains(T(777) + " : /LOG/TEST/")) << port.history.join('\n').toStdString();
        expectStagedIsTheDocks(dock.path());
    }
}

// An upload the dock answers before it has all of it is not done.
TEST_F(NetDock, TcpUploadAnsweredEarlyFails)
{
    serve({"--fault", "http-early-ok", "--fault-command", "PUT"});
    TTCPSkt& t = core->TCPSkt;
    t.FAfterPauseMs = 1;
    t.FPaceMs = 5;
    const QByteArray before = testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG");
    testsupport::writeAll(tmp.path() + "/up.cfg", QByteArray(3000, 'u'));
    ASSERT_TRUE(t.OpenComm("127.0.0.2"));
    EXPECT_EQ(t.SaveFile("/CONFIG/DOCK/DOCK.CFG", tmp.path() + "/up.cfg"), TCPSKT_COMM_NOTALLSENT);
    t.CloseComm();
    EXPECT_EQ(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG"), before);
}

// Names that climb or hold control characters are said, once each, and count as not copied.
TEST_F(NetDock, RefusedNamesAreSaid)
{
    core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    serve({"--fault", "bad-listing", "--fault-command", "GET List /LOG/TEST/@"});
    choose(LinkChoice::Udp);
    core->UdpSkt.FResetPauseMs = 1;
    clearStaging();
    EXPECT_FALSE(core->OpReadBtnClick());
    const QString h = port.history.join('\n');
    EXPECT_TRUE(h.contains(T(805) + " : /LOG/TEST/../ESCAPE.XML")) << h.toStdString();
    EXPECT_TRUE(h.contains(T(805) + " : /LOG/TEST//ETC/ABS.XML")) << h.toStdString();
    expectStagedIsTheDocks(dock.path());
}

// "discover" says when it cannot search instead of listing nothing.
TEST_F(NetDock, DiscoverFailsPlainlyWhenItsPortIsTaken)
{
    QTemporaryDir root;
    QDir().mkpath(root.path() + "/home");
    QDir().mkpath(root.path() + "/state");
    QUdpSocket holder;
    quint16 port = 0;
    for (int i = 0; i < 50 && !port; ++i) {
        const quint16 p = quint16(41000 + (QDateTime::currentMSecsSinceEpoch() + i * 7) % 20000);
        if (holder.bind(QHostAddress::AnyIPv4, p))
            port = quint16(p - 1);
    }
    ASSERT_NE(port, 0);
    ASSERT_EQ(runCli(root.path(), {"settings", "set", "NETWORK/Interfaces=127.0.0.1", "NETWORK/SubnetMask=255.0.0.0",
                                   "NETWORK/Port=" + QString::number(port)})
                  .code,
              0);
    const CliRun r = runCli(root.path(), {"discover", "--wait", "0.5"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("local port " + QString::number(port + 1))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}
