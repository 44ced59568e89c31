// The file workflows shared by the remote links, run over the serial link
// against a scripted dock.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FakeDock.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "unit/link/LinkTestSupport.h"

using namespace serialtest;

namespace {

class RemoteWorkflow : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot tmp;
    linktest::LangTextsGuard texts{603, 604, 605, 606, 607, 608, 612, 613};
    Link link{150, 5};
    FileDock dock;
    QStringList informs;
    QString stage;
    void SetUp() override
    {
        stage = platform::TransferFolder();
        QDir().mkpath(stage);
        link.script->responder = [this](const Request& r) { return dock.answer(r); };
        link.comm.OnInform = [this](const QString& s) { informs << s; };
        ASSERT_TRUE(link.open());
        informs.clear();
    }
    int requestsFor(const QString& path) const
    {
        int n = 0;
        for (const Request& r : link.script->requests)
            if (r.payload.contains(path.toLatin1()))
                ++n;
        return n;
    }
    QStringList filesIn(const QString& rel) const
    {
        return QDir(stage + rel).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

} // namespace

TEST_F(RemoteWorkflow, ConfigurationLoad)
{
    dock.put("/CONFIG/DOCK/DOCK.CFG", "dock=1");
    dock.put("/CONFIG/GD/H2S.CFG", "");
    QVector<RCfgList> list(3);
    list[0].mFatFile = "/CONFIG/DOCK/DOCK.CFG";
    list[0].mSaveFile = stage + "DOCK.CFG";
    list[1].mFatFile = "/CONFIG/GD/H2S.CFG";
    list[1].mSaveFile = stage + "H2S.CFG";
    list[2].mFatFile = "/CONFIG/DOCKINFORM.CFG";
    list[2].mSaveFile = stage + "DOCKINFORM.CFG";

    // An empty file counts as missing, and the last entry is never asked for.
    EXPECT_FALSE(link.comm.LoadConfigFiles(list));
    EXPECT_EQ(link.comm.FErrStr, "T603");
    EXPECT_EQ(informs, QStringList({"Copy /CONFIG/DOCK/DOCK.CFG", "Copy /CONFIG/GD/H2S.CFG... Not found"}));
    EXPECT_EQ(requestsFor("DOCKINFORM"), 0);
    EXPECT_FALSE(QFileInfo::exists(stage + "H2S.CFG"));
    EXPECT_EQ(testsupport::readAll(stage + "DOCK.CFG"), "dock=1");

    dock.put("/CONFIG/GD/H2S.CFG", "gas=H2S");
    informs.clear();
    EXPECT_TRUE(link.comm.LoadConfigFiles(list));
    EXPECT_EQ(informs.last(), "SN : KM1-0042  VERSION : 1.70");
    EXPECT_EQ(link.comm.DockInfoSN(), "KM1-0042");

    // With the link closed the closed text wins over "not found".
    link.comm.CloseComm();
    EXPECT_FALSE(link.comm.LoadConfigFiles(list));
    EXPECT_EQ(link.comm.FErrStr, "T612");
    EXPECT_FALSE(link.comm.SaveConfigFiles(list));
    EXPECT_EQ(link.comm.FErrStr, "T612");
    EXPECT_EQ(informs.last(), "Save /CONFIG/DOCKINFORM.CFG... ERROR:254");
}

TEST_F(RemoteWorkflow, FirmwareFetchKeepsDockNamesInsideStaging)
{
    const QByteArray v12 = linktest::dockImage(12);
    const QByteArray v21 = linktest::dockImage(21, 0, 5);
    dock.put("/FW/DOCK/A.IMG", v12);
    dock.put("/FW/DOCK/b.img", v21);
    dock.put("/FW/DOCK/README.TXT", "text");
    dock.put("/FW/DOCK/a:b.IMG", v12);
    dock.put("/FW/DOCK/x\\..\\..\\evil.IMG", v12);
    dock.put("/FW/GD/G.IMG", linktest::gdImage(13));
    QDir().mkpath(stage + "FW/DOCK");
    QDir().mkpath(stage + "FW/GD");

    link.comm.LoadFirmwares();
    EXPECT_EQ(filesIn("FW/DOCK/"), QStringList({"A.IMG", "b.img"}));
    EXPECT_EQ(filesIn("FW/GD/"), QStringList({"G.IMG"}));
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/evil.IMG"));
    EXPECT_FALSE(QFileInfo::exists(stage + "evil.IMG"));
    EXPECT_EQ(requestsFor("README"), 0);
    EXPECT_TRUE(informs.contains("Load /FW/DOCK/a:b.IMG... Error(160)"));
    EXPECT_EQ(link.comm.FFwList.mDockFile.mVersion, 21);
    EXPECT_EQ(link.comm.FFwList.mGDFile.mVersion, 13);

    // Replacing deletes every image of the kind, keeps the rest, uploads the new one.
    const QString local = tmp.path() + "/NEW.IMG";
    testsupport::writeAll(local, linktest::dockImage(30));
    ASSERT_TRUE(link.comm.SaveFirmware(UNIT_FWTYPE_DOCK, local)) << link.comm.FErrStr.toStdString();
    EXPECT_TRUE(dock.deleted.contains("/FW/DOCK/A.IMG"));
    EXPECT_TRUE(dock.deleted.contains("/FW/DOCK/b.img"));
    EXPECT_FALSE(dock.deleted.contains("/FW/DOCK/README.TXT"));
    EXPECT_EQ(dock.uploads.value("/FW/DOCK/NEW.IMG").size(), DOCK_IMG_SIZE);
    // The new image went up before any old one was deleted.
    qsizetype firstPut = -1, firstDelete = -1;
    for (qsizetype i = 0; i < link.script->requests.size(); ++i) {
        const uint8_t c = link.script->requests[i].command;
        if (c == DOCKCOMM_CMD_PUTFILE && firstPut < 0)
            firstPut = i;
        if (c == DOCKCOMM_CMD_DELETEFILE && firstDelete < 0)
            firstDelete = i;
    }
    EXPECT_GE(firstPut, 0);
    EXPECT_LT(firstPut, firstDelete);
    // The listing's two unusable names count as files that were not copied.
    EXPECT_EQ(link.comm.FFailed.size(), 2);

    // An upload that fails leaves the dock's images alone.
    dock.deleted.clear();
    link.script->responder = [this](const Request& r) {
        return r.command == DOCKCOMM_CMD_PUTFILE ? reply(r.command, QByteArray(), 0x15) : dock.answer(r);
    };
    link.comm.FFailed.clear();
    EXPECT_FALSE(link.comm.SaveFirmware(UNIT_FWTYPE_DOCK, local));
    EXPECT_EQ(link.comm.FErrStr, "T607");
    EXPECT_TRUE(dock.deleted.isEmpty()) << dock.deleted.join(',').toStdString();
    EXPECT_TRUE(dock.files.contains("/FW/DOCK/NEW.IMG"));
    EXPECT_EQ(link.comm.FFailed.size(), 1);
    link.script->responder = [this](const Request& r) { return dock.answer(r); };

    EXPECT_FALSE(link.comm.SaveFirmware(7, local));
    EXPECT_EQ(link.comm.FErrStr, "T606");
    EXPECT_FALSE(link.comm.SaveFirmware(UNIT_FWTYPE_GD, tmp.path() + "/none.IMG"));
    EXPECT_EQ(link.comm.FErrStr, "T608");
}

TEST_F(RemoteWorkflow, LogListingLevelsKindsAndCopies)
{
    dock.put("/LOG/DOCK/K1_TESTLOG_2024_05.CSV", "dock log");
    dock.put("/LOG/EVENT/B_EVENT_2405010101.CSV", "b");
    dock.put("/LOG/EVENT/A_EVENT_2405010101.CSV", "a");
    dock.put("/LOG/EVENT/SUB/");
    dock.put("/LOG/EVENT/SUB/S_EVENT_2405020202.CSV", "s");
    dock.put("/LOG/TEST/NOFIELDS.XML", "n");
    dock.put("/LOG/TEST/bad|name_BUMP_2405010101.XML", "x");
    dock.put("/LOG/TEST/G_CAL_2405010101.XML", "g");
    dock.dates["/LOG/TEST/NOFIELDS.XML"] = "20230405060708";

    QVector<RFileList> list;
    link.comm.LoadLogFileList(list, false);
    QStringList names, levels;
    for (const RFileList& e : list) {
        names << e.mName;
        levels << e.mLevelStr;
    }
    // Listing order, not name order; no dock logs without bAll; unusable names gone.
    EXPECT_EQ(names, QStringList({"/LOG/EVENT/B_EVENT_2405010101.CSV", "/LOG/EVENT/A_EVENT_2405010101.CSV",
                                  "/LOG/EVENT/SUB/S_EVENT_2405020202.CSV", "/LOG/TEST/NOFIELDS.XML",
                                  "/LOG/TEST/G_CAL_2405010101.XML"}));
    EXPECT_EQ(levels, QStringList({"002001", "002002", "002003001", "003001", "003003"}));
    EXPECT_EQ(list[0].mOpt, UNIT_OPT_GDEVENT);
    EXPECT_EQ(list[0].mAliasName, "B");
    EXPECT_EQ(list[3].mOpt, UNIT_OPT_NONE);
    EXPECT_EQ(list[3].mDate, EncodeDateTime(2023, 4, 5, 6, 7, 8)); // from the listing
    EXPECT_EQ(list[4].mOpt, UNIT_OPT_GDCAL);

    link.comm.FDevMode = true;
    link.comm.LoadLogFiles();
    ASSERT_EQ(link.comm.LogListCount(), 6);
    EXPECT_EQ(link.comm.FLogList[0].mOpt, UNIT_OPT_DOCK);
    EXPECT_TRUE(link.comm.FLogList[0].mExists);
    EXPECT_FALSE(link.comm.FLogList[4].mExists); // unclassified: listed, not copied
    EXPECT_EQ(filesIn(SAVE_DIR_LOG_DOCK), QStringList({"K1_TESTLOG_2024_05.CSV"}));
    EXPECT_EQ(filesIn(SAVE_DIR_LOG_GDEVENT).size(), 3);
    EXPECT_EQ(filesIn(SAVE_DIR_LOG_GDCAL), QStringList({"G_CAL_2405010101.XML"}));
    EXPECT_EQ(requestsFor("NOFIELDS"), 0);
    const QByteArray dump = testsupport::readAll(stage + "LOGFILE_COMM.CSV");
    EXPECT_TRUE(dump.startsWith("FILE,001001,/LOG/DOCK/K1_TESTLOG_2024_05.CSV,K1,17,24-05-01 00:00,20240102030405,8,\r\n"))
        << dump.left(120).toStdString();
}

TEST_F(RemoteWorkflow, FolderListOfThePurgeCountsFilesInPositions)
{
    dock.put("/LOG/EVENT/F_EVENT_2405010101.CSV", "f");
    dock.put("/LOG/EVENT/D1/");
    dock.put("/LOG/EVENT/D2/");
    dock.put("/LOG/EVENT/D2/D3/");
    dock.put("/LOG/TEST/T1/");
    QVector<RFileList> dirs;
    link.comm.LoadLogDirList(dirs);
    QStringList got;
    for (const RFileList& e : dirs)
        got << e.mLevelStr + ' ' + e.mName;
    EXPECT_EQ(got, QStringList({"002002 /LOG/EVENT/D1/", "002003 /LOG/EVENT/D2/",
                                "002003001 /LOG/EVENT/D2/D3/", "003001 /LOG/TEST/T1/"}));
}

TEST_F(RemoteWorkflow, WalkEndsOnADockThatListsItselfForever)
{
    link.script->responder = [](const Request& r) {
        return reply(r.command, '{' + QByteArray::number(uint8_t(r.payload[0])) + "}LOOP/<d>{END}");
    };
    QVector<RFileList> dirs;
    link.comm.LoadLogDirList(dirs);
    EXPECT_GT(dirs.size(), 10);
    EXPECT_LT(dirs.size(), 2 * (TRemoteUnit::kMaxWalkDepth + 2));
}
