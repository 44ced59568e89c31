#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <memory>

#include "link/UnitDef.h"
#include "link/serial/DockComm.h"
#include "link/tcp/TCPSkt.h"
#include "link/udp/UdpSkt.h"
#include "unit/link/LinkTestSupport.h"

TEST(UnitLogList, OutOfRangeGivesAnEmptyEntryDatedNow)
{
    TDockComm unit;
    RFileList rec;
    rec.mName = "/LOG/EVENT/A_EVENT_2103151230.CSV";
    rec.mAliasName = "A";
    rec.mSize = 77;
    rec.mDate = 44270.5;
    rec.mOpt = UNIT_OPT_GDEVENT | UNIT_OPT_EXISTS; // 18
    unit.AddLogList(rec);
    rec.mOpt = UNIT_OPT_GDCAL;
    unit.AddLogList(rec);
    ASSERT_EQ(unit.LogListCount(), 2);

    const RUnitLogList first = unit.GetLogList(0);
    EXPECT_EQ(first.mOpt, UNIT_OPT_GDEVENT);
    EXPECT_TRUE(first.mExists);
    EXPECT_EQ(first.mSize, 77);
    EXPECT_EQ(first.mAliasName, "A");
    EXPECT_DOUBLE_EQ(first.mDate, 44270.5);
    EXPECT_EQ(unit.GetLogList(1).mOpt, UNIT_OPT_GDCAL);
    EXPECT_FALSE(unit.GetLogList(1).mExists);

    for (int index : {-1, 2, 1000}) {
        const TDateTime before = NowDays();
        const RUnitLogList e = unit.GetLogList(index);
        EXPECT_TRUE(e.mName.isEmpty());
        EXPECT_TRUE(e.mAliasName.isEmpty());
        EXPECT_EQ(e.mSize, 0);
        EXPECT_EQ(e.mOpt, 0);
        EXPECT_FALSE(e.mExists);
        EXPECT_GE(e.mDate, before - 1.0 / 86400);
        EXPECT_LE(e.mDate, NowDays() + 1.0 / 86400);
    }
}

TEST(UnitState, ClearKeepsIdentityAndCopyTakesTheSharedState)
{
    TDockComm a;
    a.FErrStr = "x";
    a.FDockInfo = {"SN1", "1.0"};
    a.FFwList.mDockFile = {"d.img", "FW Version = 1.2", 12, {1, 2, 0, 0}};
    a.FFwList.mGDFile = {"g.img", "FW Version = 2.0", 20, {2, 0, 0, 0}};
    a.FFwList.mGDFile2.mName = "g2";
    a.FDevMode = true;
    a.AddLogList(RFileList{});

    TUdpSkt b;
    b.CopyVariable(a);
    EXPECT_EQ(b.DockInfoSN(), "SN1");
    EXPECT_EQ(b.DockInfoVersion(), "1.0");
    EXPECT_EQ(b.FFwList.mGDFile.mName, "g.img");
    EXPECT_EQ(b.LogListCount(), 1);
    EXPECT_TRUE(b.FDevMode);

    a.ClearVariable();
    EXPECT_TRUE(a.FErrStr.isEmpty());
    EXPECT_EQ(a.LogListCount(), 0);
    EXPECT_TRUE(a.FFwList.mDockFile.mName.isEmpty());
    EXPECT_EQ(a.FFwList.mDockFile.mVersion, 0);
    EXPECT_EQ(a.FFwList.mGDFile.mVersion, 0);
    // what the next operation does not redo stays
    EXPECT_EQ(a.FFwList.mDockFile.mDescription, "FW Version = 1.2");
    EXPECT_EQ(a.FFwList.mGDFile2.mName, "g2");
    EXPECT_EQ(a.DockInfoSN(), "SN1");
}

TEST(LogFileNames, KindComesFromTheSecondFieldAndTheTree)
{
    struct Case {
        const char* name;
        const char* root;
        uint8_t kind;
    };
    const Case cases[] = {
        {"D1234_TESTLOG_21_03.CSV", "001", UNIT_OPT_DOCK},
        {"D1234_testlog_21_03.csv", "001001", UNIT_OPT_DOCK},
        {"G77_EVENT_2103151230.CSV", "002", UNIT_OPT_GDEVENT},
        {"G77_Bump_2103151230.XML", "003", UNIT_OPT_GDBUMP},
        {"G77_CAL_2103151230.XML", "003002", UNIT_OPT_GDCAL},
        // the right word in the wrong tree
        {"G77_EVENT_2103151230.CSV", "001", UNIT_OPT_NONE},
        {"G77_CAL_2103151230.XML", "002", UNIT_OPT_NONE},
        {"D1_TESTLOG_21_03.CSV", "003", UNIT_OPT_NONE},
        {"G77_EVENTS_2103151230.CSV", "002", UNIT_OPT_NONE},
        {"NOUNDERSCORE.CSV", "002", UNIT_OPT_NONE},
        {"", "002", UNIT_OPT_NONE},
    };
    for (const Case& c : cases) {
        const LogFileClass cls = ClassifyLogFile(c.name, c.root);
        EXPECT_EQ(cls.mOpt, c.kind) << c.name << " in " << c.root;
    }
    EXPECT_EQ(ClassifyLogFile("/x/LOG/EVENT/G77_EVENT_2103151230.CSV", "002").mAliasName, "G77");
}

TEST(LogFileNames, DatesFromTheNameOrZero)
{
    // dock logs: year and month fields, dated the first of the month
    EXPECT_DOUBLE_EQ(ClassifyLogFile("D1_TESTLOG_21_03.CSV", "001").mDate,
                     EncodeDateTime(2021, 3, 1, 0, 0, 0));
    EXPECT_DOUBLE_EQ(ClassifyLogFile("D1_TESTLOG_2022_11.CSV", "001").mDate,
                     EncodeDateTime(2022, 11, 1, 0, 0, 0));
    EXPECT_EQ(ClassifyLogFile("D1_TESTLOG_21_13.CSV", "001").mDate, 0);
    EXPECT_EQ(ClassifyLogFile("D1_TESTLOG_21.CSV", "001").mDate, 0);
    // other kinds: yymmddhhnn
    EXPECT_DOUBLE_EQ(ClassifyLogFile("G_EVENT_2103151230.CSV", "002").mDate,
                     EncodeDateTime(2021, 3, 15, 12, 30, 0));
    EXPECT_EQ(ClassifyLogFile("G_EVENT_2003151230.CSV", "002").mDate, 0); // year 20
    EXPECT_EQ(ClassifyLogFile("G_BUMP_21031512.XML", "003").mDate, 0);    // too short
    EXPECT_EQ(ClassifyLogFile("G_CAL_2102301230.XML", "003").mDate, 0);   // 30 February
    // unclassified names carry no date
    EXPECT_EQ(ClassifyLogFile("G_OTHER_2103151230.CSV", "002").mDate, 0);
}

TEST(LogFileNames, LevelsAndSafeNames)
{
    EXPECT_EQ(LevelString("002", 1), "002001");
    EXPECT_EQ(LevelString("002001", 42), "002001042");
    EXPECT_EQ(LevelString("", 999), "999");

    EXPECT_TRUE(IsSafeLogFileName("G77_EVENT_2103151230.CSV"));
    EXPECT_TRUE(IsSafeLogFileName("name with blanks.CSV"));
    for (const char* bad : {"", "..", "../x.CSV", "a..b.CSV", "a/b.CSV", "a\\b.CSV", "c:x.CSV",
                            "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "a\x01z"})
        EXPECT_FALSE(IsSafeLogFileName(QString::fromLatin1(bad))) << bad;
}

// A network link that was never opened (or whose address was refused) fails every
// operation at once with its own code and text, without waiting for a dock.
TEST(NetworkLinksNotOpen, EveryOperationFailsAtOnce)
{
    linktest::LangTextsGuard texts({603, 605, 612, 613, 621, 622, 631});
    std::unique_ptr<TUnitDef> units[] = {std::make_unique<TUdpSkt>(), std::make_unique<TTCPSkt>()};
    const QString configTexts[] = {"T603", "T622"};
    const QString saveTexts[] = {"T605", "T605"}; // the local files are missing first
    for (int i = 0; i < 2; ++i) {
        TUnitDef& u = *units[i];
        if (auto* t = dynamic_cast<TTCPSkt*>(&u))
            t->FAfterPauseMs = 0;
        EXPECT_FALSE(u.OpenComm("0.0.0.7"));
        EXPECT_EQ(u.FErrStr, "T621 ... 0.0.0.7");
        u.CloseComm();

        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(u.GetDevInfo());
        EXPECT_EQ(u.FErrStr, "T631");
        QVector<RCfgList> cfg(2);
        EXPECT_FALSE(u.LoadConfigFiles(cfg));
        EXPECT_EQ(u.FErrStr, configTexts[i]);
        EXPECT_FALSE(u.SaveConfigFiles(cfg));
        EXPECT_EQ(u.FErrStr, saveTexts[i]);
        EXPECT_FALSE(u.SaveFirmware(UNIT_FWTYPE_DOCK, "x.img"));
        EXPECT_EQ(u.FErrStr, "T613");
        EXPECT_NE(u.DeleteFile("/x"), 0);
        EXPECT_NE(u.DeleteDirectory("/x"), 0);
        QVector<RFileList> files(2);
        u.LoadLogFileList(files, true);
        EXPECT_TRUE(files.isEmpty());
        u.LoadLogFiles();
        EXPECT_EQ(u.LogListCount(), 0);
        RFileList one;
        one.mName = "/LOG/DOCK/A_TESTLOG_2024_01.CSV";
        EXPECT_NE(u.LoadLogFile(one), 0);
        EXPECT_EQ(u.ReadRtc(), 0);
        EXPECT_EQ(u.SetRtc(45000), 0);
        RTask task{};
        uint8_t usb = 9;
        RBayTaskArr bays{};
        RBayResArr res{};
        RGDInfoArr gd{};
        RLogInfo log{};
        EXPECT_FALSE(u.GetTaskStatus(task, usb, bays));
        EXPECT_FALSE(u.GetTaskResult(res, gd));
        EXPECT_FALSE(u.GetTaskLog(1, 0, log));
        // Nothing above waited for an answer.
        EXPECT_LT(clock.elapsed(), 2000) << i;
    }
    EXPECT_EQ(TUdpSkt().RemotePort, 65000);
    EXPECT_EQ(TTCPSkt().Port, 80);
}
