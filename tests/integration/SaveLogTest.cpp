// Save Log end to end on the core: staging folders as a Read leaves them, the log
// browser's lists and check marks, the copy into the local store, the alert store,
// the report documents and the clean-up.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

namespace {

QByteArray resultXml(const QString& serial, const QString& result, const QDateTime& when,
                     const QString& gas = "H2S")
{
    return QStringLiteral("<?xml version=\"1.0\"?>\r\n<RESULT><INFO><INSTRUMENT>DK01</INSTRUMENT>"
                          "<SERIAL>%1</SERIAL><LOCATION>Hall 3</LOCATION><GASLOT>L77</GASLOT>"
                          "<GASEXPIRY>2026-01</GASEXPIRY><OVERALLRESULT>%2</OVERALLRESULT>"
                          "<DATE>%3</DATE><TIME>%4</TIME></INFO><TEST><SENSOR><GAS>%5</GAS>"
                          "<LOW>10</LOW><HIGH>15</HIGH></SENSOR><SPAN><CONCENTRATION>25</CONCENTRATION>"
                          "<READING>24.5</READING><RESULT>%2</RESULT><BUMPTIME>12</BUMPTIME></SPAN>"
                          "</TEST></RESULT>\r\n")
        .arg(serial, result, when.toString("yy-MM-dd"), when.toString("hh:mm:ss"), gas)
        .toUtf8();
}

QByteArray eventCsv(const QVector<std::pair<QDateTime, QString>>& events)
{
    QByteArray out = "Gaviro SG,H2S\r\nDATE,TIME,DURATION,READING,ALARM,OPTION\r\n";
    for (const auto& [when, rest] : events)
        out += (when.toString("yy-MM-dd,hh:mm:ss") + ',' + rest + "\r\n").toUtf8();
    return out;
}

class SaveLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(state.MakeDefaultDirectory());
        // The English texts, so that lines can be compared with what a person reads.
        GVLang().loadList(root.transferFolder(), QStringLiteral(MARVANE_BINARY_DIR "/"));
        ASSERT_TRUE(GVLang().loadSelected(QStringLiteral(MARVANE_BINARY_DIR "/")));
        state.FLogDestDir = root.path() + "/dest/";
        QDir().mkpath(state.FLogDestDir);
        core.DebugLogProgressCheck = true;
        core.editors.dock.DockInfoSNEdit = "DK01";
        tf = AppState::TransferFolder();
        const QDateTime now = QDateTime::currentDateTime();
        recent = now.addSecs(-120);
        put(SAVE_DIR_LOG_DOCK, "DK01_TESTLOG_2024_05.CSV", "dock log\r\n");
        put(SAVE_DIR_LOG_GDEVENT, "SN1001_EVENT_2405011000.CSV",
            eventCsv({{recent, "30,20.0,HIGH,"}, {recent.addSecs(-60), "15,12.0,LOW,BUMP"}}));
        put(SAVE_DIR_LOG_GDCAL, "SN1001_CAL_2405011000.XML", resultXml("SN1001", "PASS", recent));
        put(SAVE_DIR_LOG_GDBUMP, "SN1001_BUMP_2405011100.XML", resultXml("SN1001", "fail", recent));
        put(SAVE_DIR_LOG_GDBUMP, "SN1002_BUMP_2405011200.XML", resultXml("SN1002", "PASS", recent, "SO2"));
        put(SAVE_DIR_LOG_GDBUMP, "AB_BUMP_2405011200.XML", resultXml("AB", "PASS", recent));
        put(SAVE_DIR_LOG_GDBUMP, "SN1003_BUMP_2405011300.XML", "<RESULT><INFO>"); // not well-formed
    }

    void put(const QString& dir, const QString& name, const QByteArray& data)
    {
        testsupport::writeAll(tf + dir + name, data);
    }

    void read()
    {
        ASSERT_GT(RestoreLogListFromStaging(*core.FUnitDef), 0);
        core.DisplayLogList(); // the hook the browser installed
    }

    testsupport::ScopedTempRoot root;
    ScriptedOperatorPort port;
    AppState state{&port};
    TMainCore core{state, port};
    TLogBrowser browser{core};
    QString tf;
    QDateTime recent;
};

QStringList childTexts(const RInstrumentNode& n)
{
    QStringList out;
    for (const RResultNode& c : n.mChildren)
        out << c.mText;
    return out;
}

} // namespace

TEST_F(SaveLog, ListsAndTreesFollowTheLogList)
{
    read();
    ASSERT_EQ(browser.LogListDockList.size(), 1);
    EXPECT_EQ(browser.LogListDockList[0].mCaption, "DK01_TESTLOG_2024_05.CSV");
    ASSERT_EQ(browser.LogListGDEventList.size(), 1);
    EXPECT_EQ(browser.LogListGDEventList[0].mCaption, "SN1001");

    // The 2-character serial is not listed; SN1002 has only a bump test.
    ASSERT_EQ(browser.LogListGDCalTreeView.size(), 1);
    EXPECT_EQ(browser.LogListGDCalTreeView[0].mText, "SN1001");
    QStringList bumpTops;
    for (const RInstrumentNode& n : browser.LogListGDBumpTreeView)
        bumpTops << n.mText;
    EXPECT_EQ(bumpTops, (QStringList{"SN1001", "SN1002", "SN1003"}));
    const RResultNode& fail = browser.LogListGDBumpTreeView[0].mChildren[0];
    EXPECT_TRUE(fail.mText.endsWith(" [FAIL]")) << fail.mText.toStdString(); // lower case in the file
    EXPECT_EQ(fail.mImage, RESULT_IMAGE_FAIL);
    EXPECT_EQ(browser.LogListGDBumpTreeView[1].mChildren[0].mImage, RESULT_IMAGE_PASS);
    EXPECT_TRUE(childTexts(browser.LogListGDBumpTreeView[2])[0].endsWith(" [ERROR]"));
    EXPECT_EQ(browser.LogListGDBumpTreeView[2].mChildren[0].mImage, RESULT_IMAGE_NONE);
    EXPECT_TRUE(fail.mChecked);
    EXPECT_TRUE(core.LogListBtnSaveEnabled);

    // Index elements point back at the nodes they were made for.
    for (const RLogGDIndex& e : core.FLogGDBump)
        EXPECT_EQ(core.FUnitDef->FLogList[e.mLogIdx].mAliasName,
                  browser.LogListGDBumpTreeView[e.mViewIdx].mText);

    // Filling again lists nothing twice.
    core.DisplayLogList();
    EXPECT_EQ(browser.LogListGDBumpTreeView.size(), 3);
    EXPECT_EQ(core.FLogGDBump.size(), 3);

    // The event grid: the counted and the bump event, newest first.
    browser.LogListGDEventListClick(0);
    ASSERT_EQ(browser.LogListGDEventGrid.size(), 2);
    EXPECT_EQ(browser.LogListGDEventGrid[0].mid(1), (QStringList{"30", "20.0", "HIGH", ""}));
    browser.LogListGDEventListClick(-1);
    EXPECT_TRUE(browser.LogListGDEventGrid.isEmpty());
}

TEST_F(SaveLog, CheckedFilesReachStoreReportAndCurrentTree)
{
    read();
    QString shown;
    browser.ShowReport = [&](const QString& f) { shown = f; };
    browser.SetChecked(TLogBrowser::ListBump, 1, 0, false); // SN1002 stays on the PC only

    ASSERT_TRUE(core.LogListBtnSaveClick()) << port.statusText.toStdString();

    const QString d = state.FLogDestDir;
    EXPECT_TRUE(QFileInfo::exists(d + "DOCK/DK01/DK01_TESTLOG_2024_05.CSV"));
    EXPECT_TRUE(QFileInfo::exists(d + "KM1/SN1001/EVENT/SN1001_EVENT_2405011000.CSV"));
    EXPECT_TRUE(QFileInfo::exists(d + "KM1/SN1001/CAL/SN1001_CAL_2405011000.XML"));
    EXPECT_TRUE(QFileInfo::exists(d + "KM1/SN1001/BUMP/SN1001_BUMP_2405011100.XML"));
    EXPECT_FALSE(QFileInfo::exists(d + "KM1/SN1002"));

    TReportStore store(state);
    ASSERT_TRUE(store.LoadResult());
    ASSERT_GE(store.FReport.size(), 1);
    const RDockReport& r = store.FReport[0];
    EXPECT_EQ(r.mSN, "SN1001");
    EXPECT_GT(r.mLastCalPass, 0);
    EXPECT_GT(r.mLastBumpFail, 0);
    EXPECT_EQ(r.mHighAlarmTime, 30); // the BUMP event does not count
    EXPECT_EQ(r.mLowAlarmTime, 0);

    const QString report = d + "Report/" + state.FLastReportFile;
    EXPECT_TRUE(state.FLastReportFile.startsWith("Report_"));
    EXPECT_TRUE(QFileInfo(report).isFile());
    EXPECT_EQ(shown, report);
    EXPECT_TRUE(port.pagesShown.contains("ReportTS"));
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Success);
    EXPECT_TRUE(port.statusText.contains(QDir::toNativeSeparators(report)));
    EXPECT_TRUE(port.history.join('\n').contains('[' + LangText(103) + ']'));

    // The "Current" tree from the store.
    ASSERT_GE(browser.LogListLastTreeView.size(), 1);
    const RInstrumentNode& cur = browser.LogListLastTreeView[0];
    EXPECT_EQ(cur.mText, "SN1001 (H2S)");
    ASSERT_EQ(cur.mChildren.size(), 3);
    EXPECT_TRUE(cur.mChildren[0].mText.startsWith(LangText(117) + " : "));
    EXPECT_NE(cur.mChildren[0].mText, LangText(117) + " : " + LangText(120));
    EXPECT_EQ(cur.mChildren[0].mImage, RESULT_IMAGE_PASS);
    EXPECT_EQ(cur.mChildren[1].mImage, RESULT_IMAGE_FAIL);
    EXPECT_NE(cur.mChildren[2].mText, LangText(119) + " : " + LangText(120));
    browser.LogListLastTreeViewClick(0, 0);
    ASSERT_FALSE(browser.LogResTestTreeView.isEmpty());
    EXPECT_EQ(browser.LogResTestTreeView[0].mText, "SN1001");
    EXPECT_EQ(browser.FLastReport.mType, TEST_KIND_CAL);
    browser.LogListLastTreeViewClick(0, 2); // the event line does nothing
    EXPECT_EQ(browser.FLastReport.mType, TEST_KIND_CAL);

    // Clean-up: nothing listed, the unit forgot its logs, the button is off, settings saved.
    EXPECT_TRUE(browser.LogListDockList.isEmpty());
    EXPECT_TRUE(browser.LogListGDBumpTreeView.isEmpty());
    EXPECT_EQ(core.FUnitDef->LogListCount(), 0);
    EXPECT_TRUE(core.FLogGDBump.isEmpty());
    EXPECT_FALSE(core.LogListBtnSaveEnabled);
    EXPECT_FALSE(state.FExe);
    EXPECT_EQ(port.busyDepth, 0);
    EXPECT_TRUE(testsupport::readAll(AppState::SettingsFilePath()).contains(state.FLastReportFile.toUtf8()));
}

TEST_F(SaveLog, RetainedListsAndOldEventsFollowTheSettings)
{
    // An alarm two days old lies before the window: cleared unless "Data after transmission".
    const QDateTime old = QDateTime::currentDateTime().addDays(-2);
    put(SAVE_DIR_LOG_GDEVENT, "SN1001_EVENT_2405011000.CSV", eventCsv({{old, "40,20.0,HIGH,"}}));
    for (bool after : {false, true}) {
        SCOPED_TRACE(after);
        QFile::remove(state.FLogDestDir + "Report.Bin");
        state.settings.ConfigSetAlertEventAfterCheck = after;
        state.settings.ConfigSetEtcRetainLogCheck = true;
        read();
        ASSERT_TRUE(core.LogListBtnSaveClick());
        TReportStore store(state);
        ASSERT_TRUE(store.LoadResult());
        ASSERT_GE(store.FReport.size(), 1);
        EXPECT_EQ(store.FReport[0].mHighAlarmTime, after ? 40 : 0);
        // Retained: the lists stay, only the button goes off.
        EXPECT_EQ(browser.LogListGDBumpTreeView.size(), 3);
        EXPECT_GT(core.FUnitDef->LogListCount(), 0);
        EXPECT_FALSE(core.LogListBtnSaveEnabled);
    }
}

TEST_F(SaveLog, WithoutDestinationOrWithUnreadableStoreNothingIsLost)
{
    read();
    state.FLogDestDir.clear(); // the folder picker is cancelled
    EXPECT_FALSE(core.LogListBtnSaveClick());
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_TRUE(port.messages[0].contains(LangText(719))) << port.messages[0].toStdString();
    EXPECT_EQ(browser.LogListGDBumpTreeView.size(), 3); // nothing copied, nothing forgotten
    EXPECT_TRUE(core.LogListBtnSaveEnabled);

    // A store that exists but cannot be read is not replaced.
    state.FLogDestDir = root.path() + "/dest/";
    QDir().mkpath(state.FLogDestDir + "Report.Bin");
    EXPECT_FALSE(core.LogListBtnSaveClick());
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Failure);
    EXPECT_TRUE(QFileInfo(state.FLogDestDir + "Report.Bin").isDir());
    EXPECT_FALSE(state.FExe);
    EXPECT_EQ(port.busyDepth, 0);
}

TEST_F(SaveLog, ResultPanelAndLoad)
{
    read();
    // Bump result of SN1002: bump-only lines, SO2 with its unit.
    browser.DisplayDockTest(TEST_KIND_BUMP, 1, 0);
    const QStringList lines = TLogBrowser::PanelLines(browser.LogResTestTreeView);
    ASSERT_EQ(browser.LogResTestTreeView.size(), 11);
    EXPECT_EQ(lines[0], "SN1002");
    EXPECT_EQ(lines[1], LangText(121) + " : Gaviro SG SO2");
    EXPECT_TRUE(lines.contains("  " + LangText(139) + " : 12 s"));
    EXPECT_TRUE(lines.join('\n').contains(LangText(135) + " : "));
    EXPECT_FALSE(lines.join('\n').contains(LangText(136) + " : "));
    EXPECT_TRUE(browser.PrintResPrintBtnVisible);

    // A node whose file is unreadable leaves the panel as it was.
    browser.DisplayDockTest(TEST_KIND_BUMP, 2, 0);
    EXPECT_EQ(TLogBrowser::PanelLines(browser.LogResTestTreeView), lines);
    // A top-level node does nothing.
    browser.DisplayDockTest(TEST_KIND_BUMP, 1, -1);
    EXPECT_EQ(TLogBrowser::PanelLines(browser.LogResTestTreeView), lines);

    // "Load": kind from the name; an unreadable file clears the panel.
    port.fileAnswers << tf + SAVE_DIR_LOG_GDCAL + "SN1001_CAL_2405011000.XML";
    EXPECT_TRUE(browser.LogResLoadBtnClick());
    EXPECT_EQ(browser.FLastReport.mType, TEST_KIND_CAL);
    EXPECT_TRUE(TLogBrowser::PanelLines(browser.LogResTestTreeView).join('\n').contains(LangText(136) + " : "));
    EXPECT_FALSE(browser.LoadResultFile(tf + SAVE_DIR_LOG_GDBUMP + "SN1003_BUMP_2405011300.XML"));
    EXPECT_TRUE(browser.LogResTestTreeView.isEmpty());
    EXPECT_FALSE(browser.PrintResPrintBtnVisible);
    EXPECT_TRUE(port.messages.last().contains(LangText(158)));
}
