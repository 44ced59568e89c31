// The "LOG" page mirrors the log browser: trees, check marks and their pop-up
// menus, the result panel, and Save Log's clean-up with the report on the "Report" page.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTreeWidget>

#include "LogPage.h"
#include "ReportPage.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

namespace {

QByteArray resultXml(const QString& serial, const QString& result)
{
    const QDateTime when = QDateTime::currentDateTime().addSecs(-300);
    return QStringLiteral("<RESULT><INFO><INSTRUMENT>DK01</INSTRUMENT><SERIAL>%1</SERIAL>"
                          "<OVERALLRESULT>%2</OVERALLRESULT><DATE>%3</DATE><TIME>%4</TIME></INFO>"
                          "<TEST><SENSOR><GAS>CO</GAS></SENSOR></TEST></RESULT>")
        .arg(serial, result, when.toString("yy-MM-dd"), when.toString("hh:mm:ss"))
        .toUtf8();
}

class LogPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(state.MakeDefaultDirectory());
        state.FLogDestDir = root.path() + "/dest/";
        QDir().mkpath(state.FLogDestDir);
        core.editors.dock.DockInfoSNEdit = "DK01";
        const QString tf = AppState::TransferFolder();
        testsupport::writeAll(tf + SAVE_DIR_LOG_DOCK + "DK01_TESTLOG_2024_05.CSV", "x");
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDCAL + "GA0001_CAL_2405011000.XML", resultXml("GA0001", "PASS"));
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDCAL + "GA0001_CAL_2405021000.XML", resultXml("GA0001", "pass"));
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDBUMP + "GA0001_BUMP_2405011100.XML", resultXml("GA0001", "FAIL"));
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDBUMP + "GA0002_BUMP_2405011200.XML", resultXml("GA0002", "PASS"));
        ASSERT_EQ(RestoreLogListFromStaging(*core.FUnitDef), 5);
        core.DisplayLogList(); // what Read does after copying the logs
    }

    template <class W> W* child(const char* name) { return page.findChild<W*>(QLatin1String(name)); }

    static QList<Qt::CheckState> checks(QTreeWidget* tree)
    {
        QList<Qt::CheckState> out;
        for (int p = 0; p < tree->topLevelItemCount(); ++p)
            for (int c = 0; c < tree->topLevelItem(p)->childCount(); ++c)
                out << tree->topLevelItem(p)->child(c)->checkState(0);
        return out;
    }

    void trigger(const char* action)
    {
        QAction* a = page.findChild<QAction*>(QLatin1String(action));
        ASSERT_NE(a, nullptr) << action;
        a->trigger();
    }

    testsupport::ScopedTempRoot root;
    ScriptedOperatorPort port;
    AppState state{&port};
    TMainCore core{state, port};
    TLogPage page{core};
    TReportPage report;
};

} // namespace

TEST_F(LogPageTest, TreesShowOneNodePerInstrumentWithResultImages)
{
    auto* cal = child<QTreeWidget>("LogListGDCalTreeView");
    auto* bump = child<QTreeWidget>("LogListGDBumpTreeView");
    ASSERT_NE(cal, nullptr);
    ASSERT_NE(bump, nullptr);
    for (const char* name : {"LogListBtnRefresh", "LogListBtnSave", "LogListBtnPurge", "LogResLoadBtn",
                             "LogListDockTS", "LogListGDEventTS", "LogListGDCalTS", "LogListGDBumpTS",
                             "LogListLastTS", "LogListPage", "LogListDockList", "LogListGDEventList",
                             "LogListGDEventGrid", "LogListLastTreeView", "LogResTestTreeView",
                             "PopupLogListDock", "PopupLogListGDCal"})
        EXPECT_NE(page.findChild<QObject*>(QLatin1String(name)), nullptr) << name;

    // Two results of one serial under one node; a serial with only a bump test has no calibration node.
    ASSERT_EQ(cal->topLevelItemCount(), 1);
    EXPECT_EQ(cal->topLevelItem(0)->text(0), "GA0001");
    ASSERT_EQ(cal->topLevelItem(0)->childCount(), 2);
    EXPECT_TRUE(cal->topLevelItem(0)->child(1)->text(0).endsWith(" [PASS]")); // "pass" upper-cased
    EXPECT_TRUE(cal->topLevelItem(0)->isExpanded());
    ASSERT_EQ(bump->topLevelItemCount(), 2);
    EXPECT_EQ(checks(bump), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    EXPECT_FALSE(bump->topLevelItem(0)->child(0)->icon(0).isNull());
    auto* dock = child<QListWidget>("LogListDockList");
    ASSERT_EQ(dock->count(), 1);
    EXPECT_EQ(dock->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(child<QPushButton>("LogListBtnSave")->isEnabled());
    // The event grid keeps its header and one empty row.
    EXPECT_EQ(child<QTableWidget>("LogListGDEventGrid")->rowCount(), 1);
}

TEST_F(LogPageTest, CheckMarkRulesAndPopupMenus)
{
    auto* cal = child<QTreeWidget>("LogListGDCalTreeView");
    auto* bump = child<QTreeWidget>("LogListGDBumpTreeView");
    auto* dock = child<QListWidget>("LogListDockList");

    // Double-click toggles a result node; on an instrument node it does nothing.
    emit cal->itemDoubleClicked(cal->topLevelItem(0)->child(0), 0);
    EXPECT_EQ(checks(cal), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Checked}));
    emit cal->itemDoubleClicked(cal->topLevelItem(0), 0);
    EXPECT_EQ(checks(cal), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Checked}));
    EXPECT_FALSE(page.browser()->LogListGDCalTreeView[0].mChildren[0].mChecked);

    // A check box clicked in the widget reaches the model.
    bump->topLevelItem(1)->child(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(page.browser()->LogListGDBumpTreeView[1].mChildren[0].mChecked);
    dock->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(page.browser()->LogListDockList[0].mChecked);

    // "Select All List" from any menu checks everything.
    trigger("PopupLogListGDBumpSelectAllListMenu");
    EXPECT_EQ(checks(cal), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    EXPECT_EQ(checks(bump), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    EXPECT_EQ(dock->item(0)->checkState(), Qt::Checked);
    // "UnSelect All" acts on its own tree only.
    trigger("PopupLogListGDCalUnselectAllMenu");
    EXPECT_EQ(checks(cal), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked}));
    EXPECT_EQ(checks(bump), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked}));
    EXPECT_EQ(dock->item(0)->checkState(), Qt::Checked);
    trigger("PopupLogListDockUnSelectAllMenu");
    EXPECT_EQ(dock->item(0)->checkState(), Qt::Unchecked);
    trigger("PopupLogListDockUnselectAllListMenu");
    EXPECT_EQ(checks(bump), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked}));
    trigger("PopupLogListGDCalCollapseMenu");
    EXPECT_FALSE(cal->topLevelItem(0)->isExpanded());
    trigger("PopupLogListGDCalExpandeMenu");
    EXPECT_TRUE(cal->topLevelItem(0)->isExpanded());
}

TEST_F(LogPageTest, ResultPanelFollowsClicksAndUpDownKeysOnly)
{
    auto* bump = child<QTreeWidget>("LogListGDBumpTreeView");
    auto* panel = child<QTreeWidget>("LogResTestTreeView");
    bump->setCurrentItem(bump->topLevelItem(1)->child(0));
    emit bump->itemClicked(bump->currentItem(), 0);
    ASSERT_GT(panel->topLevelItemCount(), 0);
    EXPECT_EQ(panel->topLevelItem(0)->text(0), "GA0002");

    // The panel follows the selection, however it moved; releasing a key changes nothing more.
    bump->setCurrentItem(bump->topLevelItem(0)->child(0));
    EXPECT_EQ(panel->topLevelItem(0)->text(0), "GA0001");
    QKeyEvent left(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(bump, &left);
    EXPECT_EQ(panel->topLevelItem(0)->text(0), "GA0001");
}

TEST_F(LogPageTest, SaveLogClearsTheBrowserAndShowsTheReport)
{
    QObject::connect(&page, &TLogPage::reportReady, &report, &TReportPage::showReport);
    auto* bump = child<QTreeWidget>("LogListGDBumpTreeView");
    bump->topLevelItem(1)->child(0)->setCheckState(0, Qt::Unchecked);

    child<QPushButton>("LogListBtnSave")->click();

    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Success) << port.statusText.toStdString();
    const QString file = state.FLogDestDir + "Report/" + state.FLastReportFile;
    EXPECT_EQ(report.currentFile(), QFileInfo(file).absoluteFilePath());
    EXPECT_TRUE(report.viewer()->toPlainText().contains("GA0001"));
    EXPECT_FALSE(report.viewer()->toPlainText().contains("GA0002")); // unchecked: not saved
    EXPECT_TRUE(port.pagesShown.contains("ReportTS"));

    EXPECT_EQ(bump->topLevelItemCount(), 0);
    EXPECT_EQ(child<QTreeWidget>("LogListGDCalTreeView")->topLevelItemCount(), 0);
    EXPECT_EQ(child<QListWidget>("LogListDockList")->count(), 0);
    EXPECT_FALSE(child<QPushButton>("LogListBtnSave")->isEnabled());
    EXPECT_EQ(core.FUnitDef->LogListCount(), 0);
    // The "Current" tree lists what the store holds now.
    auto* last = child<QTreeWidget>("LogListLastTreeView");
    ASSERT_EQ(last->topLevelItemCount(), 1);
    EXPECT_EQ(last->topLevelItem(0)->text(0), "GA0001 (CO)");
    EXPECT_EQ(last->topLevelItem(0)->childCount(), 3);

    // A later start shows the same report again.
    TReportPage again;
    EXPECT_TRUE(again.showLastReport(state));
    EXPECT_EQ(again.currentFile(), report.currentFile());
}

TEST_F(LogPageTest, RefreshLogRebuildsCurrentFromTheStore)
{
    child<QPushButton>("LogListBtnSave")->click();
    auto* last = child<QTreeWidget>("LogListLastTreeView");
    last->clear();
    child<QPushButton>("LogListBtnRefresh")->click();
    ASSERT_EQ(last->topLevelItemCount(), 2);
    EXPECT_EQ(port.pagesShown.last(), "LogListLastTS");
    // A click on the calibration line of a record shows that result.
    emit last->itemClicked(last->topLevelItem(0)->child(0), 0);
    EXPECT_EQ(child<QTreeWidget>("LogResTestTreeView")->topLevelItem(0)->text(0), "GA0001");
}
