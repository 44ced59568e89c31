// The window driving a Read and a Write against a generated USB-drive dock, and
// the connection radios.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "Fixture.h"
#include "MainForm.h"
#include "QtOperatorPort.h"
#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

namespace {

class DockOperations : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 3);
        ASSERT_TRUE(manifest.ok());
        window = std::make_unique<TMainForm>(&state);
        window->show();
        window->core().USBDisk.RemovableRoots = [] { return QStringList(); };
        window->core().FinalPauseSec = 0;
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        // The dock search stays on loopback.
        state.settings.NetworkInterfaces = QStringLiteral("127.0.0.1");
        state.settings.ConfigPrNNetworkSubnetEdit = QStringLiteral("255.0.0.0");
        InstallLanLink(window->core(), [] { return QStringList{QStringLiteral("127.0.0.1")}; });
    }
    void TearDown() override
    {
        window.reset();
        QDir::setCurrent(m_oldCwd);
    }
    template <class T> T* find(const char* name)
    {
        T* p = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }

    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainForm> window;
    QString m_oldCwd;
};

TEST_F(DockOperations, ReadButtonFillsThePagesAndTheHistory)
{
    find<QCheckBox>("DebugLogProgressCheck")->setChecked(true);
    port.folderAnswers << dock.path();
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);

    EXPECT_EQ(port.statusText, LangText(718));
    EXPECT_EQ(find<QLineEdit>("DockInfoSNEdit")->text(), manifest.dockSerial);
    EXPECT_EQ(find<QLineEdit>("DockInfoLocationEdit")->text(), manifest.location);
    EXPECT_FALSE(find<QLineEdit>("DockUpgradeFileEdit")->text().isEmpty());
    // Pages and buttons are usable again afterwards.
    EXPECT_TRUE(find<QPushButton>("OpReadBtn")->isEnabled());
    EXPECT_TRUE(find<QTabWidget>("CfgPage")->isEnabled());
    // The bump results are listed and their tab is in front.
    auto* bump = find<QTreeWidget>("LogListGDBumpTreeView");
    int results = 0;
    for (int i = 0; i < bump->topLevelItemCount(); ++i)
        results += bump->topLevelItem(i)->childCount();
    EXPECT_EQ(results, manifest.logCount(docksim::LogKind::Bump));
    EXPECT_EQ(port.pagesShown, QStringList({"LogTS", "LogListGDBumpTS"}));
    window->qtPort().showPage("LogListGDBumpTS");
    window->qtPort().showPage("LogTS");
    EXPECT_EQ(find<QTabWidget>("CfgPage")->currentWidget()->objectName(), "LogTS");
    EXPECT_EQ(find<QTabWidget>("LogListPage")->currentWidget()->objectName(), "LogListGDBumpTS");
    EXPECT_TRUE(port.history.last().endsWith(LangText(718)));
}

TEST_F(DockOperations, EditedValueReachesTheDockOnWrite)
{
    port.folderAnswers << dock.path();
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    ASSERT_EQ(port.statusText, LangText(718));

    auto* location = find<QLineEdit>("DockInfoLocationEdit");
    location->selectAll();
    QTest::keyClicks(location, "Hall 4");
    QTest::keyClick(location, Qt::Key_Tab);
    port.folderAnswers << dock.path();
    QTest::mouseClick(find<QPushButton>("OpWriteBtn"), Qt::LeftButton);
    ASSERT_EQ(port.statusText, LangText(718));
    const QByteArray cfg = testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG");
    EXPECT_TRUE(cfg.contains("Location=Hall 4\r\n")) << cfg.toStdString();
}

TEST_F(DockOperations, ConnectionRadiosSwitchUnitAndButtons)
{
    auto* rtc = find<QPushButton>("OpDeviceOpRtcGetBtn");
    auto* reset = find<QPushButton>("DebugOpUnitResetBtn");
    auto* sn = find<QPushButton>("DebugOpReadSNBtn");
    auto* download = find<QPushButton>("GDOpConfigBtn");
    EXPECT_FALSE(rtc->isEnabled());
    EXPECT_FALSE(download->isEnabled());

    find<QRadioButton>("OpDeviceConnectCommRadio")->click();
    EXPECT_EQ(window->core().FUnitDef, &window->core().DockComm);
    EXPECT_TRUE(rtc->isEnabled());
    EXPECT_TRUE(sn->isEnabled());
    EXPECT_TRUE(download->isEnabled());

    find<QRadioButton>("OpDeviceConnectUdpRadio")->click();
    EXPECT_EQ(window->core().FUnitDef, &window->core().UdpSkt);
    EXPECT_TRUE(rtc->isEnabled());
    EXPECT_FALSE(sn->isEnabled());
    EXPECT_TRUE(reset->isEnabled());
    EXPECT_TRUE(download->isEnabled());

    find<QRadioButton>("OpDeviceConnectDiskRadio")->click();
    EXPECT_EQ(window->core().FUnitDef, &window->core().USBDisk);
    EXPECT_FALSE(rtc->isEnabled());
    EXPECT_FALSE(reset->isEnabled());
}

TEST_F(DockOperations, HistoryFiltersAndClear)
{
    auto* memo = find<QPlainTextEdit>("DebugLogMemo");
    port.folderAnswers << dock.path();
    window->core().OpReadBtnClick();
    EXPECT_TRUE(port.history.isEmpty()); // both filters start unchecked

    find<QCheckBox>("DebugLogUnitCheck")->setChecked(true);
    window->core().AddLog(LOGTYPE_UNIT, "unit line");
    ASSERT_EQ(port.history.size(), 1);
    EXPECT_TRUE(port.history.first().endsWith("]      unit line"));
    // The window's own port writes the memo; this state answers with a scripted one.
    window->qtPort().appendHistory("shown");
    EXPECT_TRUE(memo->toPlainText().contains("shown"));
    QTest::mouseClick(find<QPushButton>("DebugLogClearBtn"), Qt::LeftButton);
    EXPECT_TRUE(memo->toPlainText().isEmpty());
}

} // namespace
