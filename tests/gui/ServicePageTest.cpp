// The service page, the History page's serial-number panel and the "PC Operation"
// dialog, against the dock simulator served in this process on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QRegularExpression>
#include <QSet>
#include <cstring>
#include <functional>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>

#include "Fixture.h"
#include "MainForm.h"
#include "PCTestDlg.h"
#include "SerialDockServer.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "link/serial/DockComm.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace {

class ServicePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 7).ok());
        window = std::make_unique<TMainForm>(&state);
        window->show();
        window->core().FinalPauseSec = 0;
    }
    void TearDown() override
    {
        window.reset();
        server.reset();
        if (pty)
            platform::ClosePseudoTerminal(*pty);
        QDir::setCurrent(m_oldCwd);
    }
    void serve()
    {
        QString error;
        pty = platform::OpenPseudoTerminal(&error);
        ASSERT_TRUE(pty) << error.toStdString();
        server = std::make_unique<docksim::SerialDockServer>(dock.path(), docksim::SerialServerOptions{});
        docksim::DockTiming t = docksim::DockTiming::Fast();
        t.bayTestMs = 1200; // long enough for the once-a-second poll to see each bay run
        server->state().timing = t;
        ASSERT_TRUE(server->start(pty->masterFd, &error));
        find<QRadioButton>("OpDeviceConnectCommRadio")->setChecked(true);
        find<QComboBox>("OpDeviceConnectCommPortCombo")->setEditText(pty->slavePath);
    }
    template <class T> T* find(const char* name, QObject* in = nullptr)
    {
        T* p = (in ? in : window.get())->findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    // The window in the language of key lang + 1, chosen as on the Config page.
    void chooseLanguage(int lang)
    {
        find<QComboBox>("ConfigSetEtcLangLangCombo")->setCurrentIndex(lang);
        click("ConfigSetEtcLangLangChangeBtn");
    }
    void click(const char* name, QObject* in = nullptr)
    {
        QPushButton* b = find<QPushButton>(name, in);
        ASSERT_TRUE(b);
        ASSERT_TRUE(b->isEnabled()) << name;
        b->click(); // the page it is on need not be in front
    }

    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainForm> window;
    std::optional<platform::PtyPair> pty;
    std::unique_ptr<docksim::SerialDockServer> server;
    QString m_oldCwd;
};

} // namespace

TEST_F(ServicePage, ControlsFollowTheServiceLevel)
{
    window->applyServiceLevel(1);
    EXPECT_FALSE(find<QWidget>("PCProdGB")->isHidden());
    EXPECT_FALSE(find<QWidget>("PCSimGB")->isVisibleTo(window.get()));
    EXPECT_TRUE(find<QWidget>("PCOpBtn")->isHidden());
    window->applyServiceLevel(2);
    for (const char* n : {"PCSimGB", "PCOpBtn", "PCPumpTestBtn", "PCGDDFClearBtn", "DebugOpPanel"})
        EXPECT_FALSE(find<QWidget>(n)->isHidden()) << n;

    // Kinds, ranges, steps and defaults.
    auto* rtc = find<QDoubleSpinBox>("OpDeviceOpSetRtcOffsetEdit");
    EXPECT_EQ(rtc->decimals(), 1);
    EXPECT_LT(rtc->minimum(), -1000);
    auto* off = find<QDoubleSpinBox>("PCProdOffsetEdit");
    EXPECT_EQ(off->minimum(), -23);
    EXPECT_EQ(off->maximum(), 23);
    EXPECT_EQ(find<QSpinBox>("PCProdDuty2Edit")->maximum(), 50);
    auto* alarm = find<QDoubleSpinBox>("PCSimEventAlarmEdit");
    EXPECT_EQ(alarm->value(), 10.0);
    EXPECT_EQ(alarm->singleStep(), 5.0);
    EXPECT_EQ(find<QSpinBox>("PCSimEventDurationEdit")->value(), 100);
    EXPECT_EQ(find<QDoubleSpinBox>("PCSimTestSpanPreEdit")->value(), 25.0);
    EXPECT_EQ(find<QSpinBox>("PCSimTestSpanTimeEdit")->value(), 5);
    EXPECT_TRUE(find<QRadioButton>("PCSimEventTypeRadio0")->isChecked());
    auto* sensor = find<QComboBox>("PCSimSensorCombo");
    ASSERT_EQ(sensor->count(), 4);
    EXPECT_EQ(sensor->itemText(3), "SO2");
    EXPECT_EQ(sensor->currentIndex(), 0);
    EXPECT_EQ(find<QLineEdit>("PCSimSNEdit")->text(), "SH00000000");
    // Serial numbers are typed in upper case.
    auto* sn = find<QLineEdit>("PCProdNameEdit");
    sn->clear();
    QTest::keyClicks(sn, "ts12a");
    EXPECT_EQ(sn->text(), "TS12A");
    // "Read SN" and "Write SN" need the USB cable.
    EXPECT_FALSE(find<QPushButton>("DebugOpReadSNBtn")->isEnabled());
    find<QRadioButton>("OpDeviceConnectCommRadio")->setChecked(true);
    EXPECT_TRUE(find<QPushButton>("DebugOpWriteSNBtn")->isEnabled());
}

TEST_F(ServicePage, ProductionGroupOnlyWithTheUsbCable)
{
    window->applyServiceLevel(1);
    click("PCProdReadBtn");
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_EQ(port.messages[0], LangText(427) + ": " + LangText(426));
    EXPECT_EQ(find<QLabel>("PCProdReadLabel")->text(), "---");

    serve();
    auto* sn = find<QLineEdit>("PCProdNameEdit");
    sn->setText("TS4242");
    find<QSpinBox>("PCProdDuty1Edit")->setValue(21);
    find<QSpinBox>("PCProdDuty2Edit")->setValue(43);
    click("PCProdSetBtn");
    const QStringList lines = find<QLabel>("PCProdReadLabel")->text().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], LangText(421) + " : TS4242");
    EXPECT_EQ(lines[2], LangText(429) + " : 21 43");
    EXPECT_EQ(port.messages.size(), 1);

    // History page: twelve characters typed, the dock's answer shown.
    window->applyServiceLevel(2);
    find<QLineEdit>("DebugOpSNEdit")->setText("ABCDEFGHIJKL");
    click("DebugOpWriteSNBtn");
    EXPECT_EQ(find<QLineEdit>("DebugOpSNEdit")->text(), "ABCDEFGHIJ");
    EXPECT_EQ(server->state().serial(), "ABCDEFGHIJK");
    EXPECT_FALSE(window->core().DockComm.FComEnable);
}

TEST_F(ServicePage, MonitorDialogPollsShowsResultsAndCurves)
{
    window->applyServiceLevel(2);
    serve();
    find<QCheckBox>("DebugCommSendCheck")->setChecked(true);
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&] {
        auto* dlg = window->findChild<TPCTestDlg*>();
        ASSERT_TRUE(dlg);
        ran = true;
        EXPECT_EQ(dlg->windowTitle(), "PC Operation");
        EXPECT_TRUE(dlg->isModal());
        auto* grid = find<QTableWidget>("ResTestGrid", dlg);
        EXPECT_EQ(grid->rowCount(), 29);
        EXPECT_EQ(grid->rowHeight(7), 5);
        EXPECT_EQ(grid->item(0, 2)->text(), "#2");
        EXPECT_EQ(grid->item(27, 0)->text(), "Temperature");
        EXPECT_EQ(find<QTableWidget>("ResLogGrid", dlg)->rowCount(), 126);
        EXPECT_FALSE(find<QWidget>("BtnTestPanel", dlg)->isEnabled());
        EXPECT_EQ(find<QComboBox>("BtnTestOpCombo", dlg)->currentText(), "Bump Test");

        click("BtnStartBtn", dlg);
        EXPECT_FALSE(find<QPushButton>("BtnCloseBtn", dlg)->isEnabled());
        EXPECT_FALSE(find<QPushButton>("BtnTestFlowOnBtn", dlg)->isEnabled());
        auto* task = find<QLabel>("TaskStatusLabel", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return task->text() == "Idle"; }, 3000)) << task->text().toStdString();
        // A bump test started from the dialog, watched bay by bay.
        click("BtnTestOpBtn", dlg);
        auto* bay1 = find<QLabel>("BayStatusLabel1", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return bay1->text() == "Bump Test"; }, 3000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return find<QLabel>("BayStatusLabel3", dlg)->text() == "PASS"; }, 8000));
        EXPECT_EQ(bay1->palette().color(QPalette::Window), QColor(102, 187, 106)) << "a pass tile is green";
        EXPECT_EQ(find<QLabel>("BayStatusLabel4", dlg)->text(), "No instrument");

        // Flow Off stops the refresh; the loop still serves the buttons.
        click("BtnTestFlowOffBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return find<QPushButton>("BtnTestFlowOnBtn", dlg)->isEnabled(); }, 2000));
        click("BtnTestResultBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return grid->item(16, 1)->text() == "PASS"; }, 3000));
        EXPECT_EQ(grid->item(10, 1)->text(), "Bump Test");
        EXPECT_EQ(grid->item(8, 4)->text(), "---");

        // Flow On again: the status is read once a second once more.
        int polls = 0;
        dlg->monitor().StatusRead = [&] { ++polls; };
        click("BtnTestFlowOnBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return polls >= 2; }, 3500)) << polls;
        EXPECT_TRUE(find<QPushButton>("BtnTestFlowOffBtn", dlg)->isEnabled());
        dlg->monitor().StatusRead = nullptr;

        click("BtnTestLogBtn", dlg);
        auto* tabs = find<QTabWidget>("ResPage", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->chart()->series().value(0) &&
                                                 static_cast<QLineSeries*>(dlg->chart()->series()[0])->count() == 125; },
                                    4000));
        EXPECT_EQ(tabs->currentWidget()->objectName(), "ResLogTS");
        EXPECT_EQ(static_cast<QLineSeries*>(dlg->chart()->series()[6])->count(), 0) << "bay 4 delivered nothing";
        EXPECT_EQ(dlg->chart()->series()[1]->name(), LangText(903).arg(1));

        // While the loop runs the dialog cannot be closed.
        dlg->reject();
        EXPECT_TRUE(dlg->isVisible());
        click("BtnStopBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return find<QPushButton>("BtnCloseBtn", dlg)->isEnabled(); }, 2000));
        click("BtnCloseBtn", dlg);
    });
    click("PCOpBtn");
    EXPECT_TRUE(ran);
    EXPECT_EQ(window->findChild<TPCTestDlg*>(), nullptr) << "destroyed after use";
    EXPECT_FALSE(window->core().DockComm.FComEnable) << "closed afterwards";
    EXPECT_FALSE(find<QCheckBox>("DebugCommSendCheck")->isChecked());
    EXPECT_FALSE(state.FExe);
}

TEST(PCOperationPlacement, FitsTheScreenItIsShownOn)
{
    const QSize natural(1180, 760), minimum(620, 460), frame(16, 40);
    // 1280x720, and 2560x1440 at scale 2, which lays out the same 1280x720.
    const QRect r = TPCTestDlg::FitRect(natural, minimum, QRect(0, 0, 1280, 720), frame);
    EXPECT_LE(r.height() + frame.height(), 720);
    EXPECT_EQ(r.width(), 1180);
    EXPECT_GE(r.top(), frame.height() - frame.width() / 2) << "the title bar stays on the screen";
    EXPECT_LE(r.bottom(), 720);
    // A large screen takes the natural size, centred; a second screen keeps it on that one.
    EXPECT_EQ(TPCTestDlg::FitRect(natural, minimum, QRect(0, 0, 1920, 1080), frame).size(), natural);
    const QRect right = TPCTestDlg::FitRect(natural, minimum, QRect(1920, 0, 1280, 1024), frame);
    EXPECT_TRUE(QRect(1920, 0, 1280, 1024).contains(right));
    // A screen below the minimum still gets a window no larger than the screen.
    const QRect tiny = TPCTestDlg::FitRect(natural, minimum, QRect(0, 0, 600, 400), frame);
    EXPECT_LE(tiny.width(), 600 - frame.width());
    EXPECT_LE(tiny.height(), 400 - frame.height());
}

TEST_F(ServicePage, MonitorDialogFitsFollowsTheLinkAndShowsItsTraffic)
{
    window->applyServiceLevel(2);
    serve();
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&] {
        auto* dlg = window->findChild<TPCTestDlg*>();
        ASSERT_TRUE(dlg);
        ran = true;
        // Within the screen, resizable, small enough for 1280x720 less a title bar.
        const QRect avail = dlg->screen()->availableGeometry();
        EXPECT_TRUE(avail.contains(dlg->geometry())) << avail.width() << "x" << avail.height();
        EXPECT_LE(dlg->minimumSizeHint().width(), 1264);
        EXPECT_LE(dlg->minimumSizeHint().height(), 680);
        EXPECT_GT(dlg->maximumWidth(), dlg->minimumSizeHint().width());
        auto* body = find<QSplitter>("BodySplitter", dlg);
        auto* curves = find<QSplitter>("ResLogSplitter", dlg);
        ASSERT_TRUE(body && curves);
        EXPECT_GE(body->indexOf(find<QWidget>("ResPage", dlg)), 0);
        EXPECT_GE(curves->indexOf(find<QWidget>("ResLogGrid", dlg)), 0);
        EXPECT_GE(curves->indexOf(find<QWidget>("ResLogChartBox", dlg)), 0);

        // The chart's texts come from the language table; the legend tells gas from purge.
        EXPECT_EQ(dlg->chart()->title(), LangText(908));
        EXPECT_EQ(dlg->chart()->legend()->markerShape(), QLegend::MarkerShapeFromSeries);
        const auto series = dlg->chart()->series();
        ASSERT_EQ(series.size(), 8);
        EXPECT_EQ(series[0]->name(), LangText(902).arg(1));
        EXPECT_EQ(series[7]->name(), LangText(903).arg(4));
        auto* gas = static_cast<QLineSeries*>(series[2]);
        auto* purge = static_cast<QLineSeries*>(series[3]);
        EXPECT_EQ(gas->pen().style(), Qt::SolidLine);
        EXPECT_EQ(purge->pen().style(), Qt::DashLine);
        EXPECT_NE(gas->pen().color(), purge->pen().color());

        // The USB tile: the link is open when the dialog comes up.
        auto* usb = find<QLabel>("TaskUsbLabel", dlg);
        EXPECT_EQ(usb->toolTip(), LangText(904));
        EXPECT_EQ(usb->palette().color(QPalette::Window), QColor(102, 187, 106));

        // The log box shows the dialog's own traffic from the start.
        auto* memo = find<QPlainTextEdit>("LogMemo", dlg);
        EXPECT_TRUE(memo->toPlainText().contains(pty->slavePath)) << memo->toPlainText().toStdString();
        EXPECT_TRUE(find<QCheckBox>("LogOpSendCheck", dlg)->isChecked());
        click("BtnStartBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return memo->toPlainText().contains("(READ) "); }, 4000));
        EXPECT_TRUE(memo->toPlainText().contains("(SEND) (TASK)")) << memo->toPlainText().toStdString();
        EXPECT_TRUE(usb->toolTip().startsWith(LangText(904) + '\n')) << usb->toolTip().toStdString();
        // Read off: no more read lines.
        find<QCheckBox>("LogOpReadCheck", dlg)->setChecked(false);
        find<QPushButton>("LogOpClearBtn", dlg)->click();
        QTest::qWait(1500);
        EXPECT_FALSE(memo->toPlainText().contains("(READ) "));
        EXPECT_TRUE(memo->toPlainText().contains("(SEND) "));

        // A dock that stops answering turns the tile red and says so.
        server->stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return usb->toolTip().startsWith(LangText(911)); }, 8000))
            << usb->toolTip().toStdString();
        EXPECT_EQ(usb->palette().color(QPalette::Window), QColor(239, 83, 80));
        click("BtnStopBtn", dlg);
        EXPECT_TRUE(QTest::qWaitFor([&] { return find<QPushButton>("BtnCloseBtn", dlg)->isEnabled(); }, 4000));
        click("BtnCloseBtn", dlg);
    });
    click("PCOpBtn");
    EXPECT_TRUE(ran);
}

namespace {

// What a window shows in words, keyed by where: captions, titles, tabs, combo items and
// the cells of its tables.
QMap<QString, QString> shownTexts(QWidget* root)
{
    QMap<QString, QString> shown;
    shown.insert(QStringLiteral("title"), root->windowTitle());
    // Widgets hidden for good (placeholders, a page's unused parts) are never seen.
    for (auto* b : root->findChildren<QAbstractButton*>())
        if (!b->isHidden())
            shown.insert(b->objectName(), b->text());
    for (auto* l : root->findChildren<QLabel*>())
        if (!l->isHidden())
            shown.insert(l->objectName(), l->text());
    for (auto* g : root->findChildren<QGroupBox*>())
        if (!g->isHidden())
            shown.insert(g->objectName(), g->title());
    for (auto* t : root->findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i)
            if (t->isTabVisible(i))
                shown.insert(QStringLiteral("%1 %2").arg(t->objectName()).arg(i), t->tabText(i));
    for (auto* c : root->findChildren<QComboBox*>())
        for (int i = 0; i < c->count(); ++i)
            shown.insert(QStringLiteral("%1 %2").arg(c->objectName()).arg(i), c->itemText(i));
    for (auto* g : root->findChildren<QTableWidget*>())
        for (int r = 0; r < g->rowCount(); ++r)
            for (int c = 0; c < g->columnCount(); ++c)
                if (const QTableWidgetItem* it = g->item(r, c))
                    shown.insert(QStringLiteral("%1 %2,%3").arg(g->objectName()).arg(r).arg(c), it->text());
    return shown;
}

// Texts that read alike in a language (its key, 2 to 6): no word in them, product
// tokens, units and gas names, and words the language spells as English does.
bool readsAlike(const QString& text, int lang)
{
    static const QRegularExpression noWord(QStringLiteral(R"(^[\d\s.,:;()#?\-+/\[\]%]*$)"));
    static const QSet<QString> tokens = {"USB", "SN", "RTC", "IP", "TCP", "HTML", "OK", "ppm", "%vol", "H2S",
                                         "CO", "O2", "SO2", "Ethernet", "Firmware", "Gaviro SG"};
    static const std::array<QSet<QString>, LANG_MAX + 1> alike = {
        QSet<QString>{},
        QSet<QString>{},
        {"Gas", "Gateway", "Display", "Zero", "Report", "Password", "Server", "Audit"},
        {"Version", "Concentration", "Configuration", "Port", "Type", "Simulation", "Production", "Purge",
         "Audit", "Site"},
        {"Gas", "Sensor"},
        {"Version", "Gas", "Gateway", "Sensor", "Alarm", "Port", "Simulation", "Status", "Server", "Audit"},
        QSet<QString>{},
    };
    return text.contains(noWord) || tokens.contains(text) || alike[size_t(lang)].contains(text);
}

// Fails for every caption that `shownIn(lang)` shows as `shownIn(0)` does in English,
// but for the places `skip` names; shows English again at the end.
void expectNoEnglish(const std::function<QMap<QString, QString>(int)>& shownIn, const QRegularExpression& skip)
{
    const QMap<QString, QString> english = shownIn(0);
    for (int lang = 1; lang < LANG_MAX; ++lang) {
        const QMap<QString, QString> shown = shownIn(lang);
        EXPECT_EQ(shown.size(), english.size()) << lang;
        QStringList left;
        for (auto it = english.cbegin(); it != english.cend(); ++it)
            if (shown.value(it.key()) == it.value() && !readsAlike(it.value(), lang + 1) && !it.key().contains(skip))
                left << it.key() + ": " + it.value();
        EXPECT_TRUE(left.isEmpty()) << LAN_NAME[size_t(lang + 1)].toStdString() << " shows English:\n"
                                    << left.join('\n').toStdString();
    }
    shownIn(0);
}

} // namespace

TEST_F(ServicePage, MonitorDialogShowsNoEnglishInAnotherLanguage)
{
    // The dialog in a language, with a status, a result in three bays and their curves.
    auto shownIn = [&](int lang) {
        chooseLanguage(lang);
        TPCTestDlg dlg(window->core().DockComm, QString(), QString(), window.get());
        TTaskMonitor& m = dlg.monitor();
        RTask task{};
        task.mStatus = 5;
        RBayTaskArr bays{};
        for (int b = 0; b < 4; ++b)
            bays.mBay[b].mStatus = uint8_t(b == 3 ? 0 : 7 + 2 * b);
        m.ApplyStatus(task, 1, bays);
        RBayResArr res{};
        RGDInfoArr gd{};
        for (int b = 0; b < 3; ++b) {
            res.mBay[b].mDetected = 1;
            res.mBay[b].mPCCmd = uint8_t(b == 2 ? 6 : 7 * b);
            res.mBay[b].mResult = uint8_t(b + 1);
            res.mBay[b].mLedResult = 0xA1;
            gd.mBay[b].bySensorType = uint8_t(1 << b);
            std::memcpy(gd.mBay[b].abySerialAscii, "SH12345678", 10);
        }
        m.ApplyResult(res, gd);
        dlg.prepare();
        return shownTexts(&dlg);
    };
    const QMap<QString, QString> english = shownIn(0);
    EXPECT_EQ(english.value("BtnTestFlowOnBtn"), "Flow On");
    EXPECT_EQ(english.value("ResTestGrid 15,3"), "PASS [1010]");
    // The instrument's own values (version, life, serial number) are the dock's.
    expectNoEnglish(shownIn, QRegularExpression(QStringLiteral(R"(^ResTestGrid [2456],[1-4]$)")));
}

TEST_F(ServicePage, WindowShowsNoEnglishInAnotherLanguage)
{
    window->applyServiceLevel(2);
    auto shownIn = [&](int lang) {
        chooseLanguage(lang);
        return shownTexts(window.get());
    };
    // Names that are no words of a language: the window's title (program, version, date),
    // the languages in their own names, the fonts of the PC, the date patterns; and the
    // Print page, whose layout and zoom choices it fills itself.
    static const QRegularExpression named(QStringLiteral(
        R"(^(?:title|ConfigSetEtcLangLangCombo .*|ConfigSetEtcLangFontCombo .*|ConfigPrNPrintFontCombo .*|ConfigSetDateRadio\d|PrintRes.*)$)"));
    expectNoEnglish(shownIn, named);
}
