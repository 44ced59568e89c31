// Decoding of the bay task records and the CSV files of the monitor.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>

#include "lang/LangTable.h"
#include "link/serial/DockComm.h"
#include "service/TaskMonitor.h"
#include "support/TestSupport.h"

namespace {

struct Records {
    RBayResArr res{};
    RGDInfoArr gd{};
};

// Bay 1 holds a CO instrument after a PC bump test.
Records bumpResult()
{
    Records r;
    RBayRes& b = r.res.mBay[0];
    b.mDetected = 1;
    b.mPCCmd = 7;
    b.mTestType = 0;
    b.mResult = 1;
    b.mLedResult = 0xA1;
    b.mBumpPassTime = 12;
    b.mZeroPreReading = -5;
    b.mGasReading = 247;
    b.mGasConcentration = 250;
    b.mGasAdc = -3;
    b.mZeroAdcPre = 65535;
    b.mSpanPre = 40000;
    b.mTemp = -12;
    RGDInfo& g = r.gd.mBay[0];
    g.byProductID = 3;
    g.byFwVersion = 23;
    g.byHwVersion = 1;
    g.bySensorType = 2;
    g.ulRemainLife = 0;
    std::memcpy(g.abySerialAscii, "GD123456789", 11); // all eleven, no terminator
    g.tRemainLifeRTC = 1000;
    return r;
}

} // namespace

TEST(TaskMonitorTexts, RemainingLife)
{
    EXPECT_EQ(GetSGDLifeRemain(0), "0M 1D (0)");
    EXPECT_EQ(GetSGDLifeRemain(MAX_DAY), "0M 1D (86400)");
    EXPECT_EQ(GetSGDLifeRemain(MAX_DAY + 1), "0M 2D (86401)");
    EXPECT_EQ(GetSGDLifeRemain(MAX_MONTH), "0M 31D (2628000)");
    EXPECT_EQ(GetSGDLifeRemain(MAX_MONTH + 1), "1M 1D (2628001)");
    EXPECT_EQ(GetSGDLifeRemain(2 * MAX_MONTH), "2M 0D (5256000)");
    // Months stop at the sensor's life, days at 30, and the top of the range does not wrap.
    EXPECT_EQ(GetSGDLifeRemain(0xFFFFFFFFu), "24M 30D (4294967295)");
}

TEST(TaskMonitorTexts, TheWindowShowsEveryWordOfTheTablesInTheChosenLanguage)
{
    const LangTable saved = GVLang();
    auto use = [](const char* file) {
        GVLang().parseLanguageText(
            QString::fromUtf8(testsupport::readAll(QStringLiteral(MARVANE_BINARY_DIR "/Language/") + file)));
    };
    QStringList words{QStringLiteral("Detect")};
    for (int code = 0; code < 256; ++code)
        words << TaskStatusText(uint8_t(code)) << BayStatusText(uint8_t(code)) << PCCommandText(uint8_t(code))
              << TestTypeText(uint8_t(code)) << GetTestResult(uint8_t(code));
    words.removeDuplicates();
    ASSERT_GT(words.size(), 30);
    use("ENGLISH.DAT");
    QStringList labels;
    for (int r = 0; r < TTaskMonitor::RES_ROWS; ++r)
        labels << ShownResultLabel(r);
    EXPECT_EQ(labels[19], "Pre-Zero");
    EXPECT_EQ(labels[25], "Pre-Zero ADC");
    EXPECT_EQ(ShownMonitorText("ZERO FAILE"), "ZERO FAILED");

    use("GERMAN.DAT");
    // A word the monitor writes that has no language text yet shows here.
    for (const QString& w : words)
        if (w != "???" && w != "---") {
            EXPECT_NE(ShownMonitorText(w), w) << w.toStdString();
        }
    EXPECT_EQ(ShownMonitorText("PASS [1010]"), QString::fromUtf8("BESTANDEN [1010]"));
    EXPECT_EQ(ShownMonitorText("Bump test"), "Funktionstest");
    EXPECT_EQ(ShownMonitorText("12.5"), "12.5");
    EXPECT_EQ(ShownMonitorText("---"), "---");
    EXPECT_EQ(ShownActionCaptions().value(8), "Ruhezustand");
    for (int r = 0; r < TTaskMonitor::RES_ROWS; ++r) {
        const bool alike = labels[r].isEmpty() || labels[r] == "SN" || labels[r] == "RTC" || labels[r] == "Gas" || labels[r] == "Sensor" ||
                           labels[r] == "Version";
        EXPECT_EQ(ShownResultLabel(r) == labels[r], alike) << r << " " << labels[r].toStdString();
    }
    EXPECT_EQ(ShownResultLabel(25), "ADC Nullpunkt vorher");
    EXPECT_EQ(ShownLogHeader(4), QString::fromUtf8("Schacht 2 Spülung"));
    GVLang() = saved;
}

TEST(TaskMonitorTexts, EveryTableHasItsOutOfRangeText)
{
    EXPECT_EQ(TaskStatusText(7), "Driver Test");
    EXPECT_EQ(TaskStatusText(6), "---");
    EXPECT_EQ(TaskStatusText(8), "???");
    EXPECT_EQ(BayStatusText(13), "Done");
    EXPECT_EQ(BayStatusText(14), "???");
    EXPECT_EQ(BayStatusText(255), "???");
    EXPECT_EQ(PCCommandText(0), "Button");
    EXPECT_EQ(PCCommandText(1), "???");
    EXPECT_EQ(PCCommandText(10), "Hibernate");
    EXPECT_EQ(PCCommandText(11), "???");
    EXPECT_EQ(TestTypeText(2), "Calibration");
    EXPECT_EQ(TestTypeText(3), "---");
    EXPECT_EQ(GetTestResult(5), "ZERO FAILE");
    EXPECT_EQ(GetTestResult(6), "---");
    EXPECT_EQ(SensorTypeText(8), "SO2");
    EXPECT_EQ(SensorTypeText(3), "???");
    EXPECT_EQ(LedBitsSuffix(0xA1), " [1010]");
    EXPECT_EQ(LedBitsSuffix(0x50), " [0101]");
    EXPECT_EQ(RemainLifeRtcText(1000), "");
    EXPECT_EQ(RemainLifeRtcText(1001), "70-01-01 00:16:41");
    // The action list: the code sent is the item + 2.
    const QStringList a = MonitorActionCaptions();
    ASSERT_EQ(a.size(), 9);
    EXPECT_EQ(a[5], "Bump Test");
    EXPECT_EQ(a[8], "Hibernate");
}

TEST(TaskMonitorDecode, BumpTestResultFillsEveryRow)
{
    TDockComm comm;
    TTaskMonitor m(comm);
    const Records r = bumpResult();
    m.ApplyResult(r.res, r.gd);
    auto cell = [&](int row) { return m.ResTestGrid[row][1]; };
    EXPECT_EQ(cell(1), "3");
    EXPECT_EQ(cell(2), "FW: 2.3 HW: 1");
    EXPECT_EQ(cell(3), "CO");
    EXPECT_EQ(cell(4), "0M 1D (0)");
    EXPECT_EQ(cell(5), "GD123456789") << "eleven characters, never the RTC bytes behind them";
    EXPECT_EQ(cell(6), "") << "1000 s or less is no clock";
    EXPECT_EQ(cell(8), "Detect");
    EXPECT_EQ(cell(9), "Bump Test");
    EXPECT_EQ(cell(10), "Bump Test");
    EXPECT_EQ(cell(15), "PASS") << "LED bits only for tests started on the dock";
    EXPECT_EQ(cell(16), "PASS");
    EXPECT_EQ(cell(18), "12");
    EXPECT_EQ(cell(19), "-0.5");
    EXPECT_EQ(cell(22), "24.7");
    EXPECT_EQ(cell(23), "25.0");
    EXPECT_EQ(cell(24), "-3") << "gas ADC is signed";
    EXPECT_EQ(cell(25), "65535") << "pre-zero ADC is unsigned";
    EXPECT_EQ(cell(26), "40000");
    EXPECT_EQ(cell(27), "-12");
    // Bays without an instrument show only "---" in the detect row.
    EXPECT_EQ(m.ResTestGrid[8][2], "---");
    EXPECT_EQ(m.ResTestGrid[1][2], "");
}

TEST(TaskMonitorDecode, CommandKindDecidesTheRows)
{
    TDockComm comm;
    TTaskMonitor m(comm);
    Records r = bumpResult();
    // A LED test started from the PC: the LED row gets its bits, no readings.
    r.res.mBay[0].mPCCmd = 6;
    m.ApplyResult(r.res, r.gd);
    EXPECT_EQ(m.ResTestGrid[15][1], "PASS [1010]");
    EXPECT_EQ(m.ResTestGrid[10][1], "");
    EXPECT_EQ(m.ResTestGrid[19][1], "");
    // A test started on the dock: readings and the LED bits.
    r.res.mBay[0].mPCCmd = 0;
    m.ApplyResult(r.res, r.gd);
    EXPECT_EQ(m.ResTestGrid[15][1], "PASS [1010]");
    EXPECT_EQ(m.ResTestGrid[9][1], "Button");
    EXPECT_EQ(m.ResTestGrid[19][1], "-0.5");
    // Garbage everywhere: table texts for out-of-range values, printable serials.
    std::memset(&r.res, 0xEE, sizeof r.res);
    std::memset(&r.gd, 0x07, sizeof r.gd);
    m.ApplyResult(r.res, r.gd);
    EXPECT_EQ(m.ResTestGrid[9][1], "???");
    EXPECT_EQ(m.ResTestGrid[3][1], "???");
    EXPECT_EQ(m.ResTestGrid[16][1], "---");
    EXPECT_EQ(m.ResTestGrid[5][1], "???????????");
    EXPECT_EQ(m.ResTestGrid[10][1], "") << "command 0xEE is no test";
}

TEST(TaskMonitorDecode, StatusAndTiles)
{
    TDockComm comm;
    TTaskMonitor m(comm);
    RTask task{};
    task.mStatus = 5;
    RBayTaskArr bays{};
    bays.mBay[0] = {7, 2, {0, 0}, 4, 9};
    bays.mBay[1] = {11, 0, {0, 0}, 3, 0};
    bays.mBay[2] = {12, 0, {0, 0}, 0, 0};
    bays.mBay[3] = {200, 0, {0, 0}, 0xFFFFFFFFu, 0};
    int shown = 0;
    m.StatusRead = [&] { ++shown; };
    m.ApplyStatus(task, 1, bays);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(m.TaskStatusLabel, "PC command");
    EXPECT_TRUE(m.TaskUsb);
    EXPECT_EQ(m.Bays[0].status, "Bump test");
    EXPECT_EQ(m.Bays[0].step, "2");
    EXPECT_EQ(m.Bays[0].timer, "4");
    EXPECT_EQ(m.Bays[3].status, "???");
    EXPECT_EQ(m.Bays[3].timer, "4294967295");
    EXPECT_EQ(BayStatusLook(m.Bays[0].code), BayLook::Running);
    EXPECT_EQ(BayStatusLook(m.Bays[1].code), BayLook::Pass);
    EXPECT_EQ(BayStatusLook(m.Bays[2].code), BayLook::Error);
    EXPECT_EQ(BayStatusLook(m.Bays[3].code), BayLook::Idle);
    EXPECT_EQ(BayStatusLook(1), BayLook::Idle);
}

TEST(TaskMonitorDecode, ShortLogCountAndColumns)
{
    TDockComm comm;
    TTaskMonitor m(comm);
    RLogInfo l{};
    for (int i = 0; i < 125; ++i)
        l.mData[i] = int16_t(i - 3);
    l.mCnt = 255; // more than the record holds: only its 125 values
    m.ApplyLog(3, 1, l);
    EXPECT_EQ(m.ResLogGrid[1][8], "-3");
    EXPECT_EQ(m.ResLogGrid[125][8], "121");
    EXPECT_EQ(m.Curve(8).size(), 125);
    // A new record empties the column first.
    l.mCnt = 2;
    m.ApplyLog(3, 1, l);
    EXPECT_EQ(m.ResLogGrid[3][8], "");
    EXPECT_EQ(m.Curve(8), (QVector<int>{-3, -2}));
    EXPECT_EQ(m.Curve(0).size(), 0);
}

TEST(TaskMonitorSave, CsvLineRules)
{
    testsupport::ScopedTempRoot tmp;
    TDockComm comm;
    TTaskMonitor m(comm);
    EXPECT_EQ(m.ResLogGrid[0][0], "NO");
    EXPECT_EQ(m.ResLogGrid[0][8], "#4-Purge");
    EXPECT_EQ(m.ResTestGrid[0][4], "Bay #4");
    EXPECT_EQ(m.ResTestGrid[27][0], "Temperature");

    // Only bay 1 delivered 60 gas samples: header and 60 lines, nothing after them.
    RLogInfo l{};
    for (int i = 0; i < 60; ++i)
        l.mData[i] = int16_t(10 * i);
    l.mCnt = 60;
    m.ApplyLog(0, 0, l);
    const QList<QByteArray> log = m.LogCsv().split('\n');
    ASSERT_EQ(log.size(), 62); // 61 CR LF lines and the empty rest
    EXPECT_EQ(log[0], "NO,#1-Gas,#1-Purge,#2-Gas,#2-Purge,#3-Gas,#3-Purge,#4-Gas,#4-Purge,\r");
    EXPECT_EQ(log[60], "60,590,,,,,,,,\r");
    EXPECT_TRUE(log[61].isEmpty());

    const Records r = bumpResult();
    m.ApplyResult(r.res, r.gd);
    const QList<QByteArray> res = m.ResultCsv().split('\n');
    ASSERT_EQ(res.size(), 30);
    EXPECT_EQ(res[0], "Bay,Bay #1,Bay #2,Bay #3,Bay #4,\r");
    EXPECT_EQ(res[7], "\r") << "the separator row is an empty line";
    EXPECT_EQ(res[28], "\r");
    EXPECT_EQ(res[8], "Detect,Detect,---,---,---,\r");

    // The program folder first; a read-only one hands over to the log destination.
    QTemporaryDir prog, dest;
    m.ProgramFolder = prog.path();
    m.LogDestination = dest.path();
    QStringList lines;
    m.LogLine = [&](const QString& s) { lines << s; };
    const QString first = m.SaveResult();
    EXPECT_TRUE(first.startsWith(prog.path() + "/LOG/RES_")) << first.toStdString();
    EXPECT_EQ(testsupport::readAll(first), m.ResultCsv());
    // A "LOG" that cannot be a folder there (as root, permissions would not stop us).
    QFile::remove(first);
    ASSERT_TRUE(QDir(prog.path()).rmdir("LOG"));
    testsupport::writeAll(prog.path() + "/LOG", "not a folder");
    const QString second = m.SaveLog();
    EXPECT_TRUE(second.startsWith(dest.path() + "/LOG/LOG_")) << second.toStdString();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], "File Save : " + second);
}
