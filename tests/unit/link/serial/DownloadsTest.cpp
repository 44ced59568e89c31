// The instrument downloads, the clock buttons, "Unit Reset" and the port list,
// run through the application core against a scripted dock on the cable.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "FakeDock.h"
#include "app/Downloads.h"
#include "app/MainCore.h"
#include "support/TestSupport.h"
#include "unit/link/LinkTestSupport.h"

using namespace serialtest;

namespace {

// A dock whose bay task follows the commands it gets.
struct TaskDock {
    QByteArray version = "1.70";
    QVector<uint8_t> statuses; // answered in turn after an OP command; the last repeats
    int polled = 0;
    bool commandSeen = false;
    QVector<uint8_t> commands;
    QByteArray result = QByteArray(220, '\0');

    QByteArray answer(const Request& r)
    {
        switch (r.command) {
        case DOCKCOMM_CMD_READINFO: return reply(r.command, "KM1-9 " + version + " X");
        case DOCKCOMM_CMD_OP:
            commands << uint8_t(r.payload[0]);
            commandSeen = true;
            polled = 0;
            return reply(r.command, QByteArray());
        case DOCKCOMM_CMD_OP_STATUS: {
            QByteArray d(61, '\0');
            d[0] = char(2);
            if (commandSeen && !statuses.isEmpty())
                d[0] = char(statuses.value(std::min<int>(polled++, int(statuses.size()) - 1)));
            return reply(r.command, d);
        }
        case DOCKCOMM_CMD_OP_RESULT: return reply(r.command, result);
        default: return reply(r.command, QByteArray());
        }
    }
};

class CableOperations : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot tmp;
    linktest::LangTextsGuard texts{65, 66, 69, 70, 71, 72, 73, 74, 75, 76, 604, 611, 612};
    ScriptedOperatorPort port;
    AppState state{&port};
    TMainCore core{state, port};
    std::shared_ptr<DockScript> script = std::make_shared<DockScript>();
    TaskDock dock;

    void SetUp() override
    {
        core.DockComm.FReplyWindowMs = 300;
        core.DockComm.FRetryPauseMs = 10;
        auto s = script;
        core.DockComm.RSCom->DeviceFactory = [s](const QString&) -> std::unique_ptr<QIODevice> {
            return std::make_unique<FakeDockDevice>(s);
        };
        script->responder = [this](const Request& r) { return dock.answer(r); };
        core.SelectLink(LinkChoice::Comm);
        core.OpDeviceConnectCommPortComboText = "COM3";
    }
    QVector<uint8_t> commandsSent() const
    {
        QVector<uint8_t> out;
        for (const Request& r : script->requests)
            out << r.command;
        return out;
    }
};

} // namespace

TEST_F(CableOperations, ConfigurationDownloadFillsTheResultGrid)
{
    dock.statuses = {5, 3, 2};
    // Bay 1: an instrument that passed; bays 2 to 4 empty.
    dock.result[0] = 1;               // mDetected
    dock.result[4] = 1;               // mConfigResult: pass
    dock.result[3] = 2;               // mUpgradeResult: fail (not the one shown)
    const int gd = 128;
    dock.result[gd + 2] = char(23);   // byFwVersion
    dock.result[gd + 3] = char(2);    // bySensorType: CO
    dock.result.replace(gd + 8, 5, "GD001");

    EXPECT_TRUE(core.GDOpConfigBtnClick(0));
    EXPECT_TRUE(port.messages.isEmpty()) << port.messages.join('|').toStdString();
    const auto& g = core.editors.gd.GDOpResGrid;
    EXPECT_EQ(g[1][1], "GD001");
    EXPECT_EQ(g[2][1], "2.3");
    EXPECT_EQ(g[3][1], "CO");
    EXPECT_EQ(g[4][1], "T70");
    EXPECT_EQ(g[1][2], "");
    EXPECT_EQ(g[4][2], "T73");
    EXPECT_EQ(core.editors.dock.DockInfoSNEdit, "KM1-9");
    EXPECT_EQ(dock.commands, QVector<uint8_t>({4}));
    // Identity, command, status polls, result; the identity file is not fetched.
    const QVector<uint8_t> sent = commandsSent();
    EXPECT_EQ(sent.first(), DOCKCOMM_CMD_READINFO);
    EXPECT_EQ(sent.last(), DOCKCOMM_CMD_OP_RESULT);
    EXPECT_FALSE(sent.contains(DOCKCOMM_CMD_FILESIZE));
    EXPECT_FALSE(core.DockComm.FComEnable);
    EXPECT_FALSE(state.FExe);
    EXPECT_EQ(port.busyDepth, 0);
}

TEST_F(CableOperations, FirmwareDownloadSendsTheImageFirst)
{
    FileDock files;
    files.put("/FW/GD/OLD.IMG", "old");
    script->responder = [&](const Request& r) {
        return r.command >= DOCKCOMM_CMD_FILESIZE && r.command <= DOCKCOMM_CMD_DELETEFOLDER ? files.answer(r)
                                                                                          : dock.answer(r);
    };
    dock.statuses = {5, 2};
    const QString image = tmp.path() + "/GD13.IMG";
    testsupport::writeAll(image, linktest::gdImage(13));
    core.editors.gd.GDUpgradeFileNameEdit = image;
    core.editors.gd.GDOpFirmwareFileSendCheck = true;
    port.yesNoAnswers << "yes";

    ASSERT_TRUE(core.GDOpConfigBtnClick(1)) << port.messages.join('|').toStdString();
    EXPECT_EQ(files.uploads.value("/FW/GD/GD13.IMG"), linktest::gdImage(13));
    EXPECT_TRUE(files.deleted.contains("/FW/GD/OLD.IMG"));
    EXPECT_EQ(dock.commands, QVector<uint8_t>({101, 3}));
    EXPECT_FALSE(core.editors.gd.GDOpFirmwareFileSendCheck);
    EXPECT_EQ(port.questions.size(), 1);
}

TEST_F(CableOperations, DownloadErrorBoxes)
{
    // The dock never takes the command: half a second of polls, then the box.
    dock.statuses = {2};
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(core.GDOpConfigBtnClick(1));
    EXPECT_LT(t.elapsed(), 3000);
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_EQ(port.messages[0], "T66: T66...T75");
    EXPECT_EQ(dock.commands, QVector<uint8_t>({3}));

    // A dock older than 1.69 gets nothing but the identity request.
    port.messages.clear();
    dock.commands.clear();
    dock.version = "1.6";
    script->requests.clear();
    EXPECT_FALSE(core.GDOpConfigBtnClick(0));
    EXPECT_EQ(port.messages.value(0), "T65: T74");
    EXPECT_TRUE(dock.commands.isEmpty());
    EXPECT_EQ(commandsSent(), QVector<uint8_t>({DOCKCOMM_CMD_READINFO}));

    // No dock on the cable at all.
    port.messages.clear();
    script->responder = nullptr;
    EXPECT_FALSE(core.GDOpConfigBtnClick(0));
    EXPECT_EQ(port.messages.value(0), "T65: T604");

    // The USB drive cannot run downloads.
    port.messages.clear();
    core.SelectLink(LinkChoice::Disk);
    EXPECT_FALSE(core.GDOpConfigBtnClick(0));
    EXPECT_EQ(port.messages.value(0), "T65: T76");
}

TEST_F(CableOperations, ClockAndReset)
{
    const uint32_t dockClock = 1717171717;
    script->responder = [&](const Request& r) {
        QByteArray d(4, '\0');
        uint32_t v = dockClock;
        if (r.command == DOCKCOMM_CMD_RTC)
            v = uint8_t(r.payload[0]) | uint8_t(r.payload[1]) << 8 | uint8_t(r.payload[2]) << 16 |
                uint32_t(uint8_t(r.payload[3])) << 24;
        for (int i = 0; i < 4; ++i)
            d[i] = char((v >> (8 * i)) & 0xFF);
        return reply(r.command, d);
    };
    EXPECT_TRUE(core.OpDeviceOpRtcGetBtnClick());
    EXPECT_EQ(core.OpDeviceOpRTCLabel,
              DaysToDateTime(25569.0 + dockClock / 86400.0).toString("yyyy-MM-dd HH:mm:ss"));

    core.OpDeviceOpSetRtcOffsetEdit = 2.5;
    const TDateTime before = NowDays();
    EXPECT_TRUE(core.OpDeviceOpRtcSetBtnClick());
    const QByteArray p = script->requests.last().payload;
    const uint32_t sentSecs = uint8_t(p[0]) | uint8_t(p[1]) << 8 | uint8_t(p[2]) << 16 | uint32_t(uint8_t(p[3])) << 24;
    EXPECT_NEAR(25569.0 + sentSecs / 86400.0, before + 2.5 / 24.0, 3.0 / 86400.0);
    EXPECT_EQ(core.OpDeviceOpRTCLabel, DaysToDateTime(25569.0 + sentSecs / 86400.0).toString("yyyy-MM-dd HH:mm:ss"));

    EXPECT_TRUE(core.DebugOpUnitResetBtnClick());
    EXPECT_EQ(script->requests.last().command, DOCKCOMM_CMD_REBOOT);
    EXPECT_FALSE(core.DockComm.FComEnable);

    // No answer: "---"; no port: the label stays and the reason is shown.
    script->responder = nullptr;
    EXPECT_FALSE(core.OpDeviceOpRtcGetBtnClick());
    EXPECT_EQ(core.OpDeviceOpRTCLabel, "---");
    core.OpDeviceConnectCommPortComboText = "---";
    EXPECT_FALSE(core.OpDeviceOpRtcGetBtnClick());
    EXPECT_EQ(core.OpDeviceOpRTCLabel, "---");
    EXPECT_EQ(port.statusText, "T611");
}

TEST(SerialPortList, RefillKeepsOrReplacesTheSelection)
{
    testsupport::ScopedTempRoot tmp;
    ScriptedOperatorPort port;
    AppState state(&port);
    TMainCore core(state, port);
    QStringList found;
    InstallSerialLink(core, [&] { return found; });

    core.LoadUSBCommPort();
    EXPECT_EQ(core.OpDeviceConnectCommPortComboItems, QStringList({"---"}));
    EXPECT_EQ(core.OpDeviceConnectCommPortComboText, "---");

    found = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    core.LoadUSBCommPort();
    EXPECT_EQ(core.OpDeviceConnectCommPortComboItems, QStringList({"---", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    EXPECT_EQ(core.OpDeviceConnectCommPortComboText, "/dev/ttyUSB0");

    core.OpDeviceConnectCommPortComboText = "/dev/ttyUSB1";
    core.LoadUSBCommPort();
    EXPECT_EQ(core.OpDeviceConnectCommPortComboText, "/dev/ttyUSB1");

    found = {"/dev/ttyUSB0"}; // the chosen one vanished
    core.LoadUSBCommPort();
    EXPECT_EQ(core.OpDeviceConnectCommPortComboText, "/dev/ttyUSB0");

    // A typed serial device path that exists stays choosable.
    core.OpDeviceConnectCommPortComboText = "/dev/null";
    core.LoadUSBCommPort();
    EXPECT_EQ(core.OpDeviceConnectCommPortComboText, "/dev/null");
    EXPECT_TRUE(core.OpDeviceConnectCommPortComboItems.contains("/dev/null"));

    core.SelectLink(LinkChoice::Comm); // choosing the cable refills the list
    EXPECT_TRUE(core.OpDeviceConnectCommPortComboItems.contains("/dev/ttyUSB0"));
}
