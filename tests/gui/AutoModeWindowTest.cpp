// The window in Auto mode against a simulated networked dock on 127.0.0.2: "Auto"
// and "Cancel", what a run disables and hides and gives back, the countdown, the
// report page, and the start a second after showing when the settings ask for it.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "AutoModeView.h"
#include "Fixture.h"
#include "MainForm.h"
#include "NetDockServer.h"
#include "ReportPage.h"
#include "app/AutoMode.h"
#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace {

class AutoModeWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        const QString dir = tmp.path() + "/dock";
        ASSERT_TRUE(docksim::WriteFixture(dir, docksim::FixtureSize::Small, 4).ok());
        docksim::NetServerOptions o;
        o.address = QHostAddress(QStringLiteral("127.0.0.2"));
        o.udpPort = 0;
        o.tcp = false;
        dock = std::make_unique<docksim::NetDockServer>(dir, o);
        ASSERT_TRUE(dock->start());
        store = tmp.path() + "/store/";
        QDir().mkpath(store);
        // The settings a person would have made before.
        IniFile ini(AppState::SettingsFilePath());
        ini.writeString("SET", "LogDestination", store);
        ini.writeString("NETWORK", "Interfaces", "127.0.0.1");
        ini.writeString("NETWORK", "SubnetMask", "255.0.0.0");
        ini.writeInteger("NETWORK", "Port", dock->udpPort());
        ASSERT_TRUE(ini.save());
    }
    void TearDown() override
    {
        window.reset();
        QDir::setCurrent(m_oldCwd);
    }

    void open()
    {
        window = std::make_unique<TMainForm>(&state);
        InstallLanLink(window->core(), [] { return QStringList{QStringLiteral("127.0.0.1")}; });
        TAutoMode& a = window->autoView().autoMode();
        a.SearchRetrySec = 0.1;
        a.SearchMaxSec = 0.3;
        window->core().DebugLogProgressCheck = true;
        window->show();
    }

    template <class T> T* find(const char* name)
    {
        T* p = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    bool enabled(const char* name) { return find<QWidget>(name)->isEnabled(); }
    bool historyHas(int text)
    {
        return std::any_of(port.history.begin(), port.history.end(),
                           [&](const QString& l) { return l.contains(LangText(text)); });
    }
    int tabsVisible()
    {
        auto* tabs = find<QTabWidget>("LogListPage");
        int n = 0;
        for (int i = 0; i < tabs->count(); ++i)
            n += tabs->isTabVisible(i);
        return n;
    }

    testsupport::ScopedTempRoot tmp;
    std::unique_ptr<docksim::NetDockServer> dock;
    QString store;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainForm> window;
    QString m_oldCwd;
};

} // namespace

TEST_F(AutoModeWindow, AutoPollsTheDockShowsTheCountdownAndCancelGivesTheWindowBack)
{
    open();
    const int tabs = tabsVisible();
    EXPECT_FALSE(enabled("OpAutoCancelBtn"));
    // No report time and no mail settings: said before the run, and No keeps it from starting.
    port.yesNoAnswers << "no";
    QTest::mouseClick(find<QPushButton>("OpAutoBtn"), Qt::LeftButton);
    ASSERT_FALSE(port.questions.isEmpty());
    EXPECT_TRUE(port.questions.last().contains(LangText(890)));
    EXPECT_TRUE(port.questions.last().contains(LangText(891).section('(', 0, 0)));
    QTest::qWait(300);
    EXPECT_FALSE(state.FAutoMode);
    port.yesNoAnswers << "yes";
    QTest::mouseClick(find<QPushButton>("OpAutoBtn"), Qt::LeftButton);
    TAutoMode& a = window->autoView().autoMode();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.Running(); }, 2000));

    // During the run: the operations are off, Cancel on, the log lists hidden.
    for (const char* n : {"OpReadBtn", "OpWriteBtn", "OpAutoBtn", "OpDevicePage", "DebugOpPanel",
                          "ConfigSendEmailSvrTestBtn", "LogListBtnSave", "LogListBtnRefresh", "LogListBtnPurge",
                          "OpDeviceOpRtcGetBtn", "ConfigSetAlertEventAfterCheck"})
        EXPECT_FALSE(enabled(n)) << n;
    EXPECT_TRUE(enabled("OpAutoCancelBtn"));
    EXPECT_EQ(tabsVisible(), 1); // only the current alerts
    EXPECT_TRUE(find<QProgressBar>("OpProgressBar")->isVisible());
    // The Config page stays usable, so the schedule can be edited during the run.
    EXPECT_TRUE(enabled("ConfigSetSchGrid"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return historyHas(758); }, 30000)) << port.history.join('\n').toStdString();
    EXPECT_TRUE(historyHas(754));
    // No day set: no report will come, and the countdown says so instead of counting a year.
    ASSERT_TRUE(QTest::qWaitFor([&] { return find<QLabel>("OpProgressLabel")->text() == LangText(889); }, 3000))
        << find<QLabel>("OpProgressLabel")->text().toStdString();
    // The warning stays on the panel for the whole run, and in History.
    EXPECT_TRUE(port.statusText.contains(LangText(890)));
    EXPECT_TRUE(historyHas(890));
    // The report page shows what the cycle evaluated.
    EXPECT_TRUE(window->findChild<TReportPage*>()->currentFile().endsWith("Report.Html"));

    // Closing while it runs asks to stop it first; No keeps both.
    port.yesNoAnswers << "no";
    EXPECT_FALSE(window->close());
    EXPECT_EQ(port.questions.last(), LangText(893));
    EXPECT_TRUE(a.Running());

    QTest::mouseClick(find<QPushButton>("OpAutoCancelBtn"), Qt::LeftButton);
    if (a.Running()) { // until it has stopped: said so, and Cancel cannot be pressed twice
        EXPECT_EQ(find<QLabel>("OpProgressLabel")->text(), LangText(894));
        EXPECT_FALSE(enabled("OpAutoCancelBtn"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.Running(); }, 10000));
    for (const char* n : {"OpReadBtn", "OpAutoBtn", "OpDevicePage", "LogListBtnRefresh",
                          "ConfigSetAlertEventAfterCheck", "ConfigSetAlertEventEdit"})
        EXPECT_TRUE(enabled(n)) << n;
    EXPECT_FALSE(enabled("OpWriteBtn")) << "no dock was read: nothing to write";
    EXPECT_FALSE(enabled("OpAutoCancelBtn"));
    EXPECT_EQ(tabsVisible(), tabs);
    EXPECT_FALSE(find<QProgressBar>("OpProgressBar")->isVisible());
    EXPECT_TRUE(find<QLabel>("OpProgressLabel")->text().isEmpty());
    EXPECT_TRUE(window->close());
}

TEST_F(AutoModeWindow, AutoStartBeginsAfterShowingAndTheWindowClosesAfterCancel)
{
    {
        IniFile ini(AppState::SettingsFilePath());
        ini.writeBool("ETC", "AutoStart", true);
        ASSERT_TRUE(ini.save());
    }
    open();
    TAutoMode& a = window->autoView().autoMode();
    EXPECT_FALSE(a.Running());
    EXPECT_FALSE(window->close()) << "Auto mode is already wanted";
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.Running(); }, 3000));
    // "Stop Auto mode and close?" Yes: it stops, then the window closes by itself.
    port.yesNoAnswers << "yes";
    EXPECT_FALSE(window->close());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.Running() && !window->isVisible(); }, 10000));
    EXPECT_FALSE(state.FAutoMode);
    // The setting itself is kept for the next start.
    IniFile ini(AppState::SettingsFilePath());
    EXPECT_TRUE(ini.readBool("ETC", "AutoStart", false));
}
