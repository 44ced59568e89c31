// The Config page as the operations see it: every edit reaches the application
// state at once, the certificate tester is kept by name, and the logs of a Read
// that were not saved survive closing the window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "Fixture.h"
#include "MainForm.h"
#include "QtOperatorPort.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace {

class LiveSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 4).ok());
        store = tmp.path() + "/store/";
        QDir().mkpath(store);
        writeSettings("[SET]\r\nLogDestination=" + store.toUtf8() + "\r\n");
    }
    void TearDown() override { QDir::setCurrent(m_oldCwd); }

    static void writeSettings(const QByteArray& content)
    {
        QDir().mkpath(AppState::TransferFolder());
        testsupport::writeAll(AppState::SettingsFilePath(), content);
    }
    std::unique_ptr<TMainForm> open(AppState& state)
    {
        auto w = std::make_unique<TMainForm>(&state);
        w->show();
        w->core().USBDisk.RemovableRoots = [] { return QStringList(); };
        w->core().FinalPauseSec = 0;
        return w;
    }
    template <class T> static T* find(QWidget& w, const char* name)
    {
        T* p = w.findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    static void retype(QWidget* w, const QString& text)
    {
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
            spin->selectAll();
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->selectAll();
        QTest::keyClicks(w, text);
    }
    bool read(TMainForm& w, ScriptedOperatorPort& port)
    {
        port.folderAnswers << dock.path();
        port.questions.clear();
        return w.core().OpReadBtnClick();
    }
    static int bumpResults(TMainForm& w)
    {
        auto* bump = find<QTreeWidget>(w, "LogListGDBumpTreeView");
        int n = 0;
        for (int i = 0; i < bump->topLevelItemCount(); ++i)
            n += bump->topLevelItem(i)->childCount();
        return n;
    }

    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    QString store;
    QString m_oldCwd;
};

} // namespace

TEST_F(LiveSettings, EveryGroupReachesTheStateAtOnceAndTheOperationsUseIt)
{
    ScriptedOperatorPort port;
    AppState state(&port);
    auto w = open(state);
    const AppSettings& s = state.settings;

    // ETC: the automatic purge. Everything is saved first, so old files may go.
    auto* autoPurge = find<QCheckBox>(*w, "ConfigSetEtcAutoPurgeCheck");
    autoPurge->setChecked(false);
    EXPECT_FALSE(s.ConfigSetEtcAutoPurgeCheck);
    ASSERT_TRUE(read(*w, port)) << port.statusText.toStdString();
    TLogBrowser::Of(w->core())->SelectAllList(true);
    ASSERT_TRUE(w->core().LogListBtnSaveClick()) << port.statusText.toStdString();
    ASSERT_TRUE(read(*w, port));
    EXPECT_TRUE(port.questions.isEmpty()) << port.questions.join('|').toStdString();
    QTest::mouseClick(autoPurge, Qt::LeftButton);
    EXPECT_TRUE(s.ConfigSetEtcAutoPurgeCheck);
    port.yesNoAnswers << "no" << "no";
    ASSERT_TRUE(read(*w, port));
    bool asked = false;
    for (const QString& q : port.questions)
        asked = asked || q.contains(LangText(1004).section(QStringLiteral(" (~"), 0, 0));
    EXPECT_TRUE(asked) << port.questions.join('|').toStdString();
    retype(find<QSpinBox>(*w, "ConfigSetEtcPurgeDayEdit"), "30");
    EXPECT_EQ(s.ConfigSetEtcPurgeDayEdit, 30);

    // Network: the UDP port is the dock's port of the next connection.
    retype(find<QSpinBox>(*w, "ConfigPrNNetworkPortEdit"), "7100");
    EXPECT_EQ(s.ConfigPrNNetworkPortEdit, 7100);
    EXPECT_EQ(s.DockLanUdpPortEdit, 7100);
    w->core().link = LinkChoice::Udp; // no discovery: nothing leaves this machine
    w->core().OpDeviceConnectLanListComboText.clear();
    EXPECT_FALSE(w->core().LoadComm(false));
    EXPECT_EQ(w->core().UdpSkt.RemotePort, 7100);
    w->core().link = LinkChoice::Disk;
    // The address field takes no part above 255; what is incomplete is marked.
    auto* mask = find<QLineEdit>(*w, "ConfigPrNNetworkSubnetEdit");
    retype(mask, "255.255.300.x");
    EXPECT_EQ(mask->text(), "255.255.30.");
    EXPECT_TRUE(mask->property("invalidAddress").toBool());
    EXPECT_EQ(s.ConfigPrNNetworkSubnetEdit, "255.255.30.0");
    retype(mask, "255.255.0.0");
    EXPECT_FALSE(mask->property("invalidAddress").toBool());
    EXPECT_EQ(s.ConfigPrNNetworkSubnetEdit, "255.255.0.0");

    // Alert, date format, e-mail and print groups.
    retype(find<QSpinBox>(*w, "ConfigSetAlertCalEdit"), "45");
    EXPECT_EQ(s.ConfigSetAlertCalEdit, 45);
    find<QComboBox>(*w, "ConfigSetAlertEventCombo")->setCurrentIndex(0);
    EXPECT_EQ(s.ConfigSetAlertEventCombo, 0);
    QTest::mouseClick(find<QCheckBox>(*w, "ConfigSetAlertEventAfterCheck"), Qt::LeftButton);
    EXPECT_EQ(s.ConfigSetAlertEventAfterCheck, find<QCheckBox>(*w, "ConfigSetAlertEventAfterCheck")->isChecked());
    QTest::mouseClick(find<QRadioButton>(*w, "ConfigSetDateRadio2"), Qt::LeftButton);
    EXPECT_EQ(s.ConfigSetDateRadio, 2);
    retype(find<QLineEdit>(*w, "ConfigSendEmailToEdit"), "safety@example.org");
    EXPECT_EQ(s.ConfigSendEmailToEdit, "safety@example.org");
    retype(find<QSpinBox>(*w, "ConfigSendEmailSvrPortEdit"), "2525");
    EXPECT_EQ(s.ConfigSendEmailSvrPortEdit, 2525);
    retype(find<QDoubleSpinBox>(*w, "ConfigPrnMarginTopEdit"), "12");
    EXPECT_DOUBLE_EQ(s.ConfigPrnMarginTopEdit, 12);
    QTest::mouseClick(find<QCheckBox>(*w, "ConfigPrNMarginHalfSizeCheck"), Qt::LeftButton);
    EXPECT_TRUE(s.ConfigPrNMarginHalfSizeCheck);

    // The file is still written when the window closes, as before.
    ASSERT_TRUE(w->close());
    const IniFile ini(AppState::SettingsFilePath());
    EXPECT_EQ(ini.readInteger("ALERT", "NotCalDay", 0), 45);
    EXPECT_EQ(ini.readInteger("NETWORK", "Port", 0), 7100);
    EXPECT_EQ(ini.readString("NETWORK", "SubnetMask", ""), "255.255.0.0");
}

TEST_F(LiveSettings, TheCertificateTesterIsKeptByName)
{
    writeSettings("[SET]\r\nLogDestination=" + store.toUtf8() +
                  "\r\nLastUser=Berit\r\n[USER]\r\nAnders=Acme,Lab\r\nBerit=Acme,Safety\r\n"
                  "Carla=Acme,Plant\r\n");
    ScriptedOperatorPort port;
    AppState state(&port);
    auto w = open(state);
    auto* combo = find<QComboBox>(*w, "PrintResUserCombo");
    EXPECT_EQ(combo->currentText(), "Berit");

    // Delete the row above the tester and add one at the end, then leave the page.
    auto* cfg = find<QTabWidget>(*w, "CfgPage");
    cfg->setCurrentWidget(find<QWidget>(*w, "ConfigTS"));
    auto* grid = find<QTableWidget>(*w, "ConfigSetUserGrid");
    grid->setCurrentCell(0, 0);
    find<QAction>(*w, "PopupConfigSetDelBtn")->trigger();
    find<QAction>(*w, "PopupConfigSetAddBtn")->trigger();
    grid->setItem(grid->rowCount() - 1, 0, new QTableWidgetItem("Dana"));
    cfg->setCurrentWidget(find<QWidget>(*w, "DockTS"));
    QCoreApplication::processEvents();
    EXPECT_EQ(state.FUserNameList, QStringList({"Berit", "Carla", "Dana"}));
    EXPECT_EQ(state.FUserTester, "Berit");
    EXPECT_EQ(combo->currentText(), "Berit");

    // Choosing another tester on the Print page is what is kept.
    combo->setCurrentIndex(combo->findText("Dana"));
    EXPECT_EQ(state.FUserTester, "Dana");
    ASSERT_TRUE(w->close());
    EXPECT_EQ(IniFile(AppState::SettingsFilePath()).readString("SET", "LastUser", ""), "Dana");
}

TEST_F(LiveSettings, UnsavedLogsAreOfferedOnCloseAndListedAfterARestart)
{
    int listed = 0;
    {
        ScriptedOperatorPort port;
        AppState state(&port);
        auto w = open(state);
        ASSERT_TRUE(read(*w, port));
        listed = bumpResults(*w);
        ASSERT_GT(listed, 0);
        EXPECT_TRUE(find<QPushButton>(*w, "LogListBtnSave")->isEnabled());
        port.questions.clear();
        port.yesNoAnswers << "no";
        ASSERT_TRUE(w->close());
        ASSERT_EQ(port.questions.size(), 1);
        EXPECT_TRUE(port.questions.first().contains(LangText(712)));
    }
    {
        // After a restart the staged logs are listed again and can still be saved.
        ScriptedOperatorPort port;
        AppState state(&port);
        auto w = open(state);
        EXPECT_EQ(bumpResults(*w), listed);
        EXPECT_TRUE(find<QPushButton>(*w, "LogListBtnSave")->isEnabled());
        EXPECT_EQ(w->core().editors.dock.DockInfoSNEdit.isEmpty(), false);
        port.yesNoAnswers << "yes"; // save them on the way out
        ASSERT_TRUE(w->close());
        EXPECT_TRUE(QFileInfo::exists(store + "Report.Bin"));
    }
    {
        ScriptedOperatorPort port;
        AppState state(&port);
        auto w = open(state);
        EXPECT_EQ(bumpResults(*w), 0);
        EXPECT_FALSE(find<QPushButton>(*w, "LogListBtnSave")->isEnabled());
        port.questions.clear();
        ASSERT_TRUE(w->close());
        EXPECT_TRUE(port.questions.isEmpty());
    }
}
