// The main window driven offscreen: captions, Config page binding, tester and
// schedule grids, closing rules, service levels and the operator displays.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimeEdit>
#include <memory>

#include "MainForm.h"
#include "QtOperatorPort.h"
#include "fleet/FleetServer.h"
#include "logview/CertPage.h"
#include "lang/CaptionTable.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace {

// The program runs these tests before main() too (test discovery at build time), where
// no display may exist: offscreen unless the caller chose a platform.
[[maybe_unused]] const bool kOffscreen = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        // The program folder is the current directory when it holds Language/.
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        // The default log destination lives in the home folder: keep it private too.
        m_oldHome = qgetenv("HOME");
        qputenv("HOME", m_tmp.path().toLocal8Bit());
    }
    void TearDown() override
    {
        QDir::setCurrent(m_oldCwd);
        qputenv("HOME", m_oldHome);
    }

    std::unique_ptr<TMainForm> openWindow(AppState* state = nullptr)
    {
        auto w = std::make_unique<TMainForm>(state);
        w->show();
        EXPECT_TRUE(w->startedUp());
        return w;
    }

    template <class T> static T* find(QWidget& w, const char* name)
    {
        T* p = w.findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }

    static QString settingsFile() { return AppState::SettingsFilePath(); }
    static void writeSettings(const QByteArray& content)
    {
        testsupport::writeAll(settingsFile(), content);
    }
    static void showPage(TMainForm& w, const char* tabs, const char* page)
    {
        find<QTabWidget>(w, tabs)->setCurrentWidget(find<QWidget>(w, page));
        QCoreApplication::processEvents();
    }
    static void dblClickCell(QTableWidget* grid, int row, int col,
                             Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        // As a real double-click arrives: press, release, double-click, release.
        const QPoint p = grid->visualRect(grid->model()->index(row, col)).center();
        QTest::mousePress(grid->viewport(), Qt::LeftButton, mods, p);
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, mods, p);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, mods, p);
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, mods, p);
    }
    static QString cell(QTableWidget* grid, int row, int col)
    {
        const QTableWidgetItem* item = grid->item(row, col);
        return item ? item->text() : QString();
    }

    testsupport::ScopedTempRoot m_tmp;
    QString m_oldCwd;
    QByteArray m_oldHome;
};

// What the window shows for one caption entry, read back from the widget.
QStringList shownCaption(QObject* obj, const CaptionEntry& e)
{
    if (auto* a = qobject_cast<QAction*>(obj))
        return {a->text()};
    auto* w = qobject_cast<QWidget*>(obj);
    if (!w)
        return {};
    if (e.kind == CaptionEntry::GridCell) {
        auto* g = qobject_cast<QTableWidget*>(w);
        if (!g)
            return {};
        const bool header = !g->horizontalHeader()->isHidden();
        if (header && e.row == 0)
            return {g->horizontalHeaderItem(e.col) ? g->horizontalHeaderItem(e.col)->text() : QString()};
        const QTableWidgetItem* item = g->item(header ? e.row - 1 : e.row, e.col);
        return {item ? item->text() : QString()};
    }
    if (e.kind == CaptionEntry::ComboItems) {
        QStringList items;
        auto* c = qobject_cast<QComboBox*>(w);
        for (int i = 0; c && i < e.texts.size(); ++i)
            items << c->itemText(i);
        return items;
    }
    if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget()))
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget()))
            return {tabs->tabText(tabs->indexOf(w))};
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return {b->text()}; // the main buttons carry their mnemonics in the text
    if (auto* l = qobject_cast<QLabel*>(w))
        return {l->text()};
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return {g->title()};
    return {};
}

TEST_F(MainWindowTest, StartsWithTheLanguageCaptionsOnEveryPage)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral(MARVANE_BINARY_DIR "/Language/ENGLISH.DAT")))
        << "the shipped language file is copied beside the executables at build time";
    auto w = openWindow();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Marvane [ Version : 1.2.3 ] 2024-06-12"));

    EXPECT_EQ(find<QPushButton>(*w, "OpReadBtn")->text().remove(QLatin1Char('&')), QStringLiteral("Read"));
    EXPECT_EQ(find<QPushButton>(*w, "OpAutoCancelBtn")->text().remove(QLatin1Char('&')), QStringLiteral("Cancel"));
    auto* pages = find<QTabWidget>(*w, "CfgPage");
    auto tab = [&](const char* name) { return pages->tabText(pages->indexOf(find<QWidget>(*w, name))); };
    EXPECT_EQ(tab("ConfigTS"), QStringLiteral("Config"));
    EXPECT_EQ(tab("DebugTS"), QStringLiteral("History"));
    EXPECT_EQ(tab("GDTS"), QStringLiteral("Gaviro SG"));
    EXPECT_EQ(pages->currentWidget(), find<QWidget>(*w, "DockTS"));

    auto* user = find<QTableWidget>(*w, "ConfigSetUserGrid");
    EXPECT_EQ(user->horizontalHeaderItem(0)->text(), QStringLiteral("Name"));
    EXPECT_EQ(user->horizontalHeaderItem(2)->text(), QStringLiteral("Department"));
    auto* sch = find<QTableWidget>(*w, "ConfigSetSchGrid");
    EXPECT_EQ(sch->horizontalHeaderItem(0)->text(), QStringLiteral("Time"));
    EXPECT_EQ(sch->horizontalHeaderItem(7)->text(), QStringLiteral("Sun"));

    // Every caption of the table whose widget exists shows its language text.
    int checked = 0;
    for (const CaptionEntry& e : InitLangCaptions()) {
        QObject* obj = w->findChild<QObject*>(QLatin1String(e.component));
        if (!obj)
            continue;
        QStringList expected;
        for (int n : e.texts)
            expected << LangText(n);
        EXPECT_EQ(shownCaption(obj, e), expected) << e.component << " (" << e.col << "," << e.row << ")";
        ++checked;
    }
    EXPECT_GT(checked, 100);

    // The print type combo keeps its third layout after the translated two, and the
    // Audit layout after it in the language's words.
    auto* type = find<QComboBox>(*w, "ConfigPrNPrintTypeCombo");
    ASSERT_EQ(type->count(), 4);
    EXPECT_EQ(type->itemText(0), QStringLiteral("Default"));
    EXPECT_EQ(type->itemText(2), QStringLiteral("HTML"));
    EXPECT_EQ(type->itemText(3), LangText(LANG_CERT_AUDIT));

    auto* langs = find<QComboBox>(*w, "ConfigSetEtcLangLangCombo");
    EXPECT_EQ(langs->count(), 6);
    EXPECT_EQ(langs->currentText(), QStringLiteral("English"));
    EXPECT_EQ(w->font().family(), GVLang().selected().mFont);
    EXPECT_EQ(find<QLabel>(*w, "PCProdReadLabel")->text(), QStringLiteral("---"));
    EXPECT_TRUE(find<QLabel>(*w, "CustomerLabel")->isHidden());
    EXPECT_FALSE(find<QLabel>(*w, "CustomerKM1Image")->isHidden());
    EXPECT_FALSE(find<QLabel>(*w, "CustomerKM1Image")->pixmap().isNull());
}

TEST_F(MainWindowTest, TesterGridInsertAndDeleteFollowTheGridRules)
{
    auto w = openWindow();
    AppState& st = w->state();
    showPage(*w, "CfgPage", "ConfigTS");
    auto* grid = find<QTableWidget>(*w, "ConfigSetUserGrid");
    auto* insert = w->findChild<QAction*>(QStringLiteral("PopupConfigSetAddBtn"));
    auto* del = w->findChild<QAction*>(QStringLiteral("PopupConfigSetDelBtn"));
    ASSERT_TRUE(insert && del);

    // No testers: the header and one empty row.
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(st.testerGrid.FUserSel, -1);
    del->trigger(); // nothing selected: nothing happens
    EXPECT_EQ(grid->rowCount(), 1);

    insert->trigger();
    insert->trigger();
    ASSERT_EQ(grid->rowCount(), 3);
    grid->item(0, 0)->setText(QStringLiteral("Ann"));
    grid->item(1, 0)->setText(QStringLiteral("Bob"));
    grid->item(2, 0)->setText(QStringLiteral("Cid"));

    grid->setCurrentCell(1, 1);
    EXPECT_EQ(st.testerGrid.FUserSel, 1); // grid row 2 below the header
    del->trigger();
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(cell(grid, 0, 0), QStringLiteral("Ann"));
    EXPECT_EQ(cell(grid, 1, 0), QStringLiteral("Cid"));

    grid->setCurrentCell(0, 0);
    del->trigger();
    ASSERT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(cell(grid, 0, 0), QStringLiteral("Cid"));
    del->trigger(); // two grid rows left: the last data row stays
    EXPECT_EQ(grid->rowCount(), 1);
}

TEST_F(MainWindowTest, LeavingTheConfigPageTakesOverTheTesterGrid)
{
    auto w = openWindow();
    AppState& st = w->state();
    showPage(*w, "CfgPage", "ConfigTS");
    auto* grid = find<QTableWidget>(*w, "ConfigSetUserGrid");
    w->findChild<QAction*>(QStringLiteral("PopupConfigSetAddBtn"))->trigger();
    w->findChild<QAction*>(QStringLiteral("PopupConfigSetAddBtn"))->trigger();
    ASSERT_EQ(grid->rowCount(), 3);
    const char* rows[3][3] = {{"Ann", "Acme", "Lab"}, {"  ", "Lost", "Row"}, {" Bob ", "Beta", ""}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            grid->item(r, c)->setText(QString::fromLatin1(rows[r][c]));

    // A cell still being edited in place counts too.
    grid->setCurrentCell(2, 2);
    grid->editItem(grid->item(2, 2));
    QLineEdit* editor = grid->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("QA"));

    showPage(*w, "ConfigPage", "ConfigPrNTS"); // leaving the Setting tab
    EXPECT_EQ(st.FUserNameList, (QStringList{"Ann", "Bob"}));
    EXPECT_EQ(st.FUserCompanyList, (QStringList{"Acme", "Beta"}));
    EXPECT_EQ(st.FUserPartList, (QStringList{"Lab", "QA"}));
    EXPECT_EQ(st.testerGrid.FUserSel, -1);
    auto* printUser = find<QComboBox>(*w, "PrintResUserCombo");
    ASSERT_EQ(printUser->count(), 2);
    EXPECT_EQ(printUser->itemText(1), QStringLiteral("Bob"));

    showPage(*w, "ConfigPage", "ConfigSetTS"); // entering reloads from the lists
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(cell(grid, 1, 0), QStringLiteral("Bob"));
}

TEST_F(MainWindowTest, TesterWithoutDepartmentIsSavedWithATrailingComma)
{
    writeSettings("[USER]\r\nZed=Acme\r\nYan=Co,Dept\r\n");
    {
        auto w = openWindow();
        auto* grid = find<QTableWidget>(*w, "ConfigSetUserGrid");
        ASSERT_EQ(grid->rowCount(), 2);
        EXPECT_EQ(cell(grid, 0, 0), QStringLiteral("Zed"));
        EXPECT_EQ(cell(grid, 0, 1), QStringLiteral("Acme"));
        EXPECT_EQ(cell(grid, 0, 2), QString());
        EXPECT_EQ(cell(grid, 1, 2), QStringLiteral("Dept"));
        ASSERT_TRUE(w->close());
    }
    const QByteArray saved = testsupport::readAll(settingsFile());
    EXPECT_TRUE(saved.contains("Zed=Acme,\r\n") || saved.contains("Zed=Acme,\n")) << saved.constData();
    EXPECT_TRUE(saved.contains("Yan=Co,Dept")) << saved.constData();
}

TEST_F(MainWindowTest, ScheduleGridToggleAndPickersSurviveSaving)
{
    {
        auto w = openWindow();
        AppState& st = w->state();
        showPage(*w, "CfgPage", "ConfigTS");
        auto* sch = find<QTableWidget>(*w, "ConfigSetSchGrid");
        // No weekday is set on a first run; the pickers show 2:10, 8:10, 14:10, 20:10.
        EXPECT_EQ(find<QTimeEdit>(*w, "ConfigSetSchTimePicker3")->time(), QTime(14, 10));
        EXPECT_EQ(cell(sch, 0, 3), QString());

        dblClickCell(sch, 0, 3); // row 1, Wednesday
        EXPECT_EQ(cell(sch, 0, 3), QStringLiteral("Y"));
        EXPECT_TRUE(st.FTimeSch[1].mDayOfWeek[3]);
        EXPECT_TRUE(st.FTimeSchChanged);
        dblClickCell(sch, 0, 3);
        EXPECT_EQ(cell(sch, 0, 3), QString());
        EXPECT_FALSE(st.FTimeSch[1].mDayOfWeek[3]);
        dblClickCell(sch, 3, 7); // row 4, Sunday
        dblClickCell(sch, 1, 1); // row 2, Monday
        EXPECT_TRUE(st.FTimeSch[4].mDayOfWeek[7]);

        find<QTimeEdit>(*w, "ConfigSetSchTimePicker2")->setTime(QTime(9, 45));
        EXPECT_NEAR(st.FTimeSch[2].mTime, 9.75 / 24.0, 1e-9);
        ASSERT_TRUE(w->close());
    }
    auto w = openWindow();
    auto* sch = find<QTableWidget>(*w, "ConfigSetSchGrid");
    EXPECT_EQ(cell(sch, 3, 7), QStringLiteral("Y"));
    EXPECT_EQ(cell(sch, 1, 1), QStringLiteral("Y"));
    EXPECT_EQ(cell(sch, 0, 3), QString());
    EXPECT_EQ(find<QTimeEdit>(*w, "ConfigSetSchTimePicker2")->time(), QTime(9, 45));
    EXPECT_EQ(find<QTimeEdit>(*w, "ConfigSetSchTimePicker1")->time(), QTime(2, 10));
}

TEST_F(MainWindowTest, CloseIsRefusedWhileAnOperationOrAutoModeRuns)
{
    ScriptedOperatorPort port;
    AppState state(&port);
    auto w = openWindow(&state);
    find<QSpinBox>(*w, "ConfigSetAlertBumpEdit")->setValue(9);

    w->state().FExe = true;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    w->state().FExe = false;
    EXPECT_TRUE(port.messages.isEmpty());
    w->state().FAutoMode = true;
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    // Auto mode runs for weeks unattended: the person is asked whether to stop it (No here).
    ASSERT_EQ(port.questions.size(), 1);
    EXPECT_EQ(port.questions.first(), LangText(893));
    EXPECT_FALSE(QFile::exists(settingsFile())) << "a refused close writes nothing";

    w->state().FAutoMode = false;
    EXPECT_TRUE(w->close());
    ASSERT_TRUE(QFile::exists(settingsFile()));
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.readInteger("ALERT", "NotBumpDay", -1), 9);
    EXPECT_EQ(ini.readInteger("NETWORK", "Port", -1), 7000);
    EXPECT_EQ(ini.readString("SCH", "Time1", QString()).left(5), QStringLiteral("02:10"));
    EXPECT_FALSE(ini.keyExists("SET", "LevelDev"));
}

TEST_F(MainWindowTest, FailedSaveOnCloseIsReportedAndTheWindowStillCloses)
{
    ScriptedOperatorPort port;
    AppState st(&port);
    auto w = openWindow(&st);
    // A folder where the settings file belongs cannot be replaced by a file (made after
    // the start, which would set an unreadable settings file aside).
    QFile::remove(settingsFile());
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    EXPECT_TRUE(w->close());
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_TRUE(port.messages.first().contains(QStringLiteral("could not be saved"))) << port.messages.first().toStdString();
}

// A link planted where the transfer folder belongs: the window says so and closes
// without writing the settings through it.
TEST_F(MainWindowTest, RefusedTransferFolderIsReportedAndTheWindowCloses)
{
    const QString folder = QDir::cleanPath(m_tmp.transferFolder());
    const QString elsewhere = m_tmp.path() + QStringLiteral("/planted");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).path()));
    ASSERT_TRUE(QFile::link(elsewhere, folder));
    ScriptedOperatorPort port;
    AppState st(&port);
    auto w = openWindow(&st);
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_TRUE(port.messages.first().contains(folder + QStringLiteral(" is a link"))) << port.messages.first().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, 2000));
    EXPECT_EQ(port.messages.size(), 1); // no second complaint about saving on close
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

TEST_F(MainWindowTest, ServiceGestureWithoutLevelDevShowsOnlyTheProductionGroup)
{
    auto w = openWindow();
    auto* pages = find<QTabWidget>(*w, "CfgPage");
    const int pcTab = pages->indexOf(find<QWidget>(*w, "PCTS"));
    const char* serviceWidgets[] = {"PCProdGB",       "PCSimGB",       "PCOpBtn",
                                    "PCLangBtn",      "PCGDDFClearBtn", "PCPumpTestBtn",
                                    "DebugCommPanel", "DebugOpPanel",  "OpDeviceConnectLanRadio"};
    EXPECT_EQ(w->serviceLevel(), 0);
    EXPECT_FALSE(pages->isTabVisible(pcTab));
    for (const char* name : serviceWidgets)
        EXPECT_TRUE(find<QWidget>(*w, name)->isHidden()) << name;

    showPage(*w, "OpDevicePage", "OpDeviceOpTS");
    auto* label = find<QLabel>(*w, "OpDeviceOpLabel1");
    const auto allThree = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    QTest::mouseDClick(label, Qt::LeftButton, allThree);
    EXPECT_EQ(w->serviceLevel(), 1);
    EXPECT_TRUE(pages->isTabVisible(pcTab));
    EXPECT_FALSE(find<QWidget>(*w, "PCProdGB")->isHidden());
    for (const char* name : serviceWidgets) {
        if (QByteArray(name) != "PCProdGB") {
            EXPECT_TRUE(find<QWidget>(*w, name)->isHidden()) << name;
        }
    }

    // Two of the three keys are not the gesture: back to level 0.
    QTest::mouseDClick(label, Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w->serviceLevel(), 0);
    EXPECT_FALSE(pages->isTabVisible(pcTab));
    EXPECT_TRUE(find<QWidget>(*w, "PCProdGB")->isHidden());
}

TEST_F(MainWindowTest, ServiceGestureWithLevelDevShowsEverything)
{
    writeSettings("[SET]\r\nLevelDev=1\r\n");
    auto w = openWindow();
    EXPECT_EQ(w->serviceLevel(), 0); // the setting alone changes nothing
    EXPECT_TRUE(find<QWidget>(*w, "DebugCommPanel")->isHidden());

    showPage(*w, "OpDevicePage", "OpDeviceOpTS");
    QTest::mouseDClick(find<QLabel>(*w, "OpDeviceOpLabel1"), Qt::LeftButton,
                       Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(w->serviceLevel(), 2);
    EXPECT_FALSE(find<QWidget>(*w, "OpDeviceConnectLanRadio")->isHidden());
    EXPECT_FALSE(find<QWidget>(*w, "DebugCommPanel")->isHidden());
    EXPECT_FALSE(find<QWidget>(*w, "PCSimGB")->isHidden());
    EXPECT_FALSE(find<QWidget>(*w, "PCLangBtn")->isHidden());
    EXPECT_TRUE(find<QWidget>(*w, "LogListBtnMake")->isHidden());
    ASSERT_TRUE(w->close());
    IniFile ini(settingsFile());
    EXPECT_TRUE(ini.readBool("SET", "LevelDev", false)) << "the setting is left as it was";
}

TEST_F(MainWindowTest, ConfigPageValuesSurviveCloseAndReopen)
{
    const QString dupDir = m_tmp.path() + QStringLiteral("/dup");
    const QStringList families = QFontDatabase::families();
    ASSERT_FALSE(families.isEmpty());
    const QString font = families.last();
    {
        auto w = openWindow();
        find<QRadioButton>(*w, "ConfigSetDateRadio2")->click();
        find<QSpinBox>(*w, "ConfigSetAlertBumpEdit")->setValue(7);
        find<QCheckBox>(*w, "ConfigSetAlertCalFailCheck")->setChecked(false);
        find<QComboBox>(*w, "ConfigSetAlertEventCombo")->setCurrentIndex(0);
        find<QCheckBox>(*w, "ConfigSetAlertEventAfterCheck")->setChecked(true);
        find<QTimeEdit>(*w, "ConfigSetAlertRefTimePicker")->setTime(QTime(7, 30));
        find<QSpinBox>(*w, "ConfigSetEtcPurgeDayEdit")->setValue(30);
        find<QCheckBox>(*w, "ConfigSetEtcAutoPurgeCheck")->setChecked(false);
        find<QLineEdit>(*w, "ConfigSendEmailToEdit")->setText(QStringLiteral("ops@example.test"));
        find<QLineEdit>(*w, "ConfigSendEmailSvrEdit")->setText(QStringLiteral("127.0.0.1"));
        find<QSpinBox>(*w, "ConfigSendEmailSvrPortEdit")->setValue(2525);
        find<QLineEdit>(*w, "ConfigSendEmailSvrPwEdit")->setText(QStringLiteral("s3cret"));
        find<QCheckBox>(*w, "ConfigSendEmailSvrSSLCheck")->setChecked(false);
        find<QLineEdit>(*w, "ConfigSendOptDirEdit")->setText(dupDir);
        find<QLineEdit>(*w, "ConfigPrNPrintBottomLeftEdit")->setText(QStringLiteral("Left foot"));
        find<QComboBox>(*w, "ConfigPrNPrintTypeCombo")->setCurrentIndex(2);
        find<QComboBox>(*w, "ConfigPrNPrintFontCombo")->setCurrentText(font);
        find<QDoubleSpinBox>(*w, "ConfigPrnMarginTopEdit")->setValue(12.5);
        find<QCheckBox>(*w, "ConfigPrNMarginHalfSizeCheck")->setChecked(true);
        find<QSpinBox>(*w, "ConfigPrNNetworkPortEdit")->setValue(7100);
        find<QLineEdit>(*w, "ConfigPrNNetworkSubnetEdit")->setText(QStringLiteral("255.255.300.x"));
        ASSERT_TRUE(w->close());
    }
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.readString("NETWORK", "SubnetMask", QString()), QStringLiteral("255.255.0.0"));
    EXPECT_EQ(ini.readString("EMAIL", "PW", QString()), QStringLiteral("s3cret"));

    auto w = openWindow();
    EXPECT_TRUE(find<QRadioButton>(*w, "ConfigSetDateRadio2")->isChecked());
    EXPECT_EQ(w->state().settings.ConfigSetDateRadio, 2);
    EXPECT_EQ(find<QSpinBox>(*w, "ConfigSetAlertBumpEdit")->value(), 7);
    EXPECT_FALSE(find<QCheckBox>(*w, "ConfigSetAlertCalFailCheck")->isChecked());
    EXPECT_EQ(find<QComboBox>(*w, "ConfigSetAlertEventCombo")->currentText(), QStringLiteral("hours"));
    EXPECT_TRUE(find<QCheckBox>(*w, "ConfigSetAlertEventAfterCheck")->isChecked());
    EXPECT_EQ(find<QTimeEdit>(*w, "ConfigSetAlertRefTimePicker")->time(), QTime(7, 30));
    EXPECT_EQ(find<QSpinBox>(*w, "ConfigSetEtcPurgeDayEdit")->value(), 30);
    EXPECT_FALSE(find<QCheckBox>(*w, "ConfigSetEtcAutoPurgeCheck")->isChecked());
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigSendEmailToEdit")->text(), QStringLiteral("ops@example.test"));
    EXPECT_EQ(find<QSpinBox>(*w, "ConfigSendEmailSvrPortEdit")->value(), 2525);
    EXPECT_FALSE(find<QCheckBox>(*w, "ConfigSendEmailSvrSSLCheck")->isChecked());
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigSendOptDirEdit")->text(), dupDir + '/');
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigPrNPrintBottomLeftEdit")->text(), QStringLiteral("Left foot"));
    EXPECT_EQ(find<QComboBox>(*w, "ConfigPrNPrintTypeCombo")->currentIndex(), 2);
    EXPECT_EQ(find<QComboBox>(*w, "ConfigPrNPrintFontCombo")->currentText(), font);
    EXPECT_DOUBLE_EQ(find<QDoubleSpinBox>(*w, "ConfigPrnMarginTopEdit")->value(), 12.5);
    EXPECT_TRUE(find<QCheckBox>(*w, "ConfigPrNMarginHalfSizeCheck")->isChecked());
    EXPECT_EQ(find<QSpinBox>(*w, "ConfigPrNNetworkPortEdit")->value(), 7100);
    EXPECT_EQ(w->state().settings.DockLanUdpPortEdit, 7100);
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigPrNNetworkSubnetEdit")->text(), QStringLiteral("255.255.0.0"));
}

TEST_F(MainWindowTest, CentralFleetDatabaseFieldsAreKeptAndThePasswordMasked)
{
    const QString uri = QStringLiteral("postgresql://marvane@127.0.0.1:5432/marvane_fleet");
    {
        auto w = openWindow();
        showPage(*w, "CfgPage", "ConfigTS");
        showPage(*w, "ConfigPage", "ConfigPrNTS");
        auto* server = find<QLineEdit>(*w, "ConfigFleetServerEdit");
        auto* password = find<QLineEdit>(*w, "ConfigFleetPasswordEdit");
        auto* site = find<QLineEdit>(*w, "ConfigFleetSiteEdit");
        auto* status = find<QLabel>(*w, "ConfigFleetStatusLabel");
        EXPECT_TRUE(find<QGroupBox>(*w, "ConfigFleetGB")->isVisible());
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        // The site's default is the host name, shown as the empty box's hint.
        EXPECT_TRUE(site->text().isEmpty());
        EXPECT_TRUE(site->placeholderText().contains(DefaultFleetSite()));
        // An address that is not one says why, as it is typed.
        server->setText(QStringLiteral("http://fleet.example.test/db"));
        EXPECT_TRUE(status->isVisible());
        EXPECT_TRUE(status->text().startsWith(LangText(973).section('%', 0, 0))) << status->text().toStdString();
        server->setText(uri);
        EXPECT_FALSE(status->isVisible()) << status->text().toStdString();
        password->setText(QStringLiteral("pg-s3cret"));
        // Edits reach the state at once, as every settings control does.
        EXPECT_EQ(w->state().settings.FleetServer, uri);
        EXPECT_EQ(w->state().settings.FleetPassword, "pg-s3cret");
        EXPECT_EQ(w->state().settings.FleetSite, DefaultFleetSite());
        site->setText(QStringLiteral("Plant North"));
        EXPECT_EQ(w->state().settings.FleetSite, "Plant North");
        // The Audit layout is offered among the print types.
        auto* type = find<QComboBox>(*w, "ConfigPrNPrintTypeCombo");
        EXPECT_EQ(type->count(), CertLayouts().size());
        EXPECT_EQ(type->itemText(CERT_LAYOUT_AUDIT), LangText(LANG_CERT_AUDIT));
        ASSERT_TRUE(w->close());
    }
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.readString("FLEET", "Server", QString()), uri);
    EXPECT_EQ(ini.readString("FLEET", "Password", QString()), "pg-s3cret");
    EXPECT_EQ(ini.readString("FLEET", "Site", QString()), "Plant North");
    EXPECT_EQ(QFileInfo(settingsFile()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    auto w = openWindow();
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigFleetServerEdit")->text(), uri);
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigFleetPasswordEdit")->text(), "pg-s3cret");
    EXPECT_EQ(find<QLineEdit>(*w, "ConfigFleetSiteEdit")->text(), "Plant North");
    // Back to the host name: the box empty, the key at its default.
    find<QLineEdit>(*w, "ConfigFleetSiteEdit")->clear();
    EXPECT_EQ(w->state().settings.FleetSite, DefaultFleetSite());
}

TEST_F(MainWindowTest, PrintFontThatIsNotInstalledIsKept)
{
    writeSettings("[PRINT]\r\nFont=No Such Font 1234\r\n");
    {
        auto w = openWindow();
        EXPECT_EQ(find<QComboBox>(*w, "ConfigPrNPrintFontCombo")->currentIndex(), -1);
        ASSERT_TRUE(w->close());
    }
    IniFile ini(settingsFile());
    EXPECT_EQ(ini.readString("PRINT", "Font", QString()), QStringLiteral("No Such Font 1234"));
}

TEST_F(MainWindowTest, LanguageAndFontChange)
{
    ScriptedOperatorPort port;
    AppState st(&port);
    auto w = openWindow(&st);
    auto* langs = find<QComboBox>(*w, "ConfigSetEtcLangLangCombo");
    auto* change = find<QPushButton>(*w, "ConfigSetEtcLangLangChangeBtn");

    // A language named in the combo whose file is not installed keeps the current one.
    int missing = -1;
    for (int i = 0; i < langs->count() && missing < 0; ++i) {
        bool installed = false;
        for (const RLangList& e : GVLang().GVLangList)
            installed = installed || e.mIndex == i + 1;
        if (!installed)
            missing = i;
    }
    if (missing >= 0) {
        langs->setCurrentIndex(missing);
        change->click();
        ASSERT_EQ(port.messages.size(), 1);
        EXPECT_EQ(GVLang().GVLangSelect, 0);
        EXPECT_EQ(langs->currentIndex(), 0);
        EXPECT_EQ(find<QPushButton>(*w, "OpReadBtn")->text().remove(QLatin1Char('&')), QStringLiteral("Read"));
    }

    // Font Change stores the font in the language list and applies it.
    auto* fonts = find<QComboBox>(*w, "ConfigSetEtcLangFontCombo");
    ASSERT_GT(fonts->count(), 0);
    const QString family = fonts->itemText(fonts->count() - 1);
    fonts->setCurrentIndex(fonts->count() - 1);
    find<QPushButton>(*w, "ConfigSetEtcLangFontChangeBtn")->click();
    EXPECT_EQ(GVLang().selected().mFont, family);
    EXPECT_EQ(w->font().family(), family);
    EXPECT_EQ(fonts->currentText(), family);
    IniFile list(LangTable::listFilePath(AppState::TransferFolder()));
    EXPECT_EQ(list.readString("LANGUAGE", "1", QString()), QStringLiteral("ENGLISH,%1,1").arg(family));
    EXPECT_EQ(find<QPushButton>(*w, "OpReadBtn")->text().remove(QLatin1Char('&')), QStringLiteral("Read"));
}

TEST_F(MainWindowTest, OffersAllSixLanguagesAndSwitchesToEach)
{
    // A fresh transfer folder: the language list is created at start-up.
    ASSERT_FALSE(QFile::exists(LangTable::listFilePath(AppState::TransferFolder())));
    auto w = openWindow();
    auto* langs = find<QComboBox>(*w, "ConfigSetEtcLangLangCombo");
    auto* change = find<QPushButton>(*w, "ConfigSetEtcLangLangChangeBtn");
    ASSERT_EQ(GVLang().GVLangList.size(), LANG_MAX);
    ASSERT_EQ(langs->count(), LANG_MAX);

    const QStringList read = {"Read", "Leggi", "Lire", "Leer", "Lesen", QString::fromUtf8("읽기(R)")};
    const QStringList names = {"English", "Italiano", QString::fromUtf8("Français"), QString::fromUtf8("Español"),
                               "Deutsch", QString::fromUtf8("한국어")};
    for (int i : {1, 2, 3, 4, 5, 0}) {
        langs->setCurrentIndex(i);
        change->click();
        EXPECT_EQ(GVLang().GVLangSelect, i);
        EXPECT_EQ(GVLang().selected().mFile, LAN_NAME[size_t(i + 1)]);
        EXPECT_EQ(find<QPushButton>(*w, "OpReadBtn")->text().remove(QLatin1Char('&')), read[i]);
        // The combo names each language in its own name and keeps the choice.
        ASSERT_EQ(langs->count(), LANG_MAX);
        EXPECT_EQ(langs->currentIndex(), i);
        EXPECT_EQ(langs->currentText(), names[i]);
        // The empty Report page says why, in the language chosen.
        EXPECT_EQ(find<QTextBrowser>(*w, "ReportHtmlViewer")->placeholderText(), LangText(914));
    }
    EXPECT_TRUE(LangText(914).startsWith("No report yet"));
}

TEST_F(MainWindowTest, OperatorPortDrivesStatusProgressLogsAndBusyState)
{
    auto w = openWindow();
    QtOperatorPort& port = w->qtPort();
    auto* panel = find<QLabel>(*w, "OpStatusPanel");

    w->SetStatus(QStringLiteral("Read complete"), OperatorPort::StatusLook::Success);
    EXPECT_EQ(panel->text(), QtOperatorPort::statusIcon(OperatorPort::StatusLook::Success) + "Read complete");
    EXPECT_EQ(panel->styleSheet(), QtOperatorPort::statusStyle(OperatorPort::StatusLook::Success));
    port.setStatus(QStringLiteral("Link failed"), OperatorPort::StatusLook::Failure);
    EXPECT_EQ(panel->styleSheet(), QtOperatorPort::statusStyle(OperatorPort::StatusLook::Failure));
    EXPECT_NE(QtOperatorPort::statusIcon(OperatorPort::StatusLook::Failure),
              QtOperatorPort::statusIcon(OperatorPort::StatusLook::Success));
    EXPECT_EQ(port.statusLook(), OperatorPort::StatusLook::Failure);

    auto* fileBar = find<QProgressBar>(*w, "OpProgressBar");
    auto* allBar = find<QProgressBar>(*w, "OpAllProgressbar");
    EXPECT_TRUE(fileBar->isHidden());
    port.setProgressVisible(true);
    port.setProgressCaption(QStringLiteral("DOCK.CFG"));
    port.setProgress(50, 30, 70, 60); // values beyond the maxima stop at the maxima
    EXPECT_FALSE(fileBar->isHidden());
    EXPECT_EQ(fileBar->value(), 30);
    EXPECT_EQ(allBar->value(), 60);
    EXPECT_EQ(find<QLabel>(*w, "OpProgressLabel")->text(), QStringLiteral("DOCK.CFG"));
    port.setProgressVisible(false);
    EXPECT_TRUE(allBar->isHidden());

    EXPECT_TRUE(find<QCheckBox>(*w, "DebugLogUnitCheck")->isChecked());
    EXPECT_TRUE(find<QCheckBox>(*w, "DebugLogProgressCheck")->isChecked());
    port.appendHistory(QStringLiteral("[10:00:00] Read"));
    port.appendTraffic(QStringLiteral("[10:00:00:001](SEND) x"));
    auto* history = find<QPlainTextEdit>(*w, "DebugLogMemo");
    auto* traffic = find<QPlainTextEdit>(*w, "DebugCommMemo");
    EXPECT_EQ(history->toPlainText(), QStringLiteral("[10:00:00] Read"));
    EXPECT_TRUE(history->isReadOnly());
    find<QPushButton>(*w, "DebugLogClearBtn")->click();
    EXPECT_TRUE(history->toPlainText().isEmpty());
    EXPECT_FALSE(traffic->toPlainText().isEmpty());
    find<QPushButton>(*w, "DebugCommClearBtn")->click();
    EXPECT_TRUE(traffic->toPlainText().isEmpty());

    // Busy nests: exactly the operation pages and the bottom bar's buttons are off;
    // the History page, the progress display and Cancel stay usable.
    const char* const pages[] = {"DockTS", "GDTS", "LogTS", "PrintTS", "ConfigTS", "PCTS"};
    // Write is off until a dock was read; the busy state must not turn it on.
    EXPECT_FALSE(find<QWidget>(*w, "OpWriteBtn")->isEnabled());
    const char* const buttons[] = {"OpReadBtn", "OpAutoBtn", "OpDevicePage"};
    const bool cancelBefore = find<QWidget>(*w, "OpAutoCancelBtn")->isEnabled();
    port.setBusy(true);
    port.setBusy(true);
    for (const char* name : pages)
        EXPECT_FALSE(find<QWidget>(*w, name)->isEnabled()) << name;
    for (const char* name : buttons)
        EXPECT_FALSE(find<QWidget>(*w, name)->isEnabled()) << name;
    EXPECT_TRUE(find<QWidget>(*w, "CfgPage")->isEnabled());
    EXPECT_TRUE(find<QWidget>(*w, "DebugTS")->isEnabled());
    EXPECT_TRUE(find<QWidget>(*w, "DebugLogMemo")->isEnabled());
    EXPECT_TRUE(find<QWidget>(*w, "OpAutoCancelBtn")->isEnabled());
    EXPECT_TRUE(find<QWidget>(*w, "OpProgressBar")->isEnabled());
    EXPECT_TRUE(find<QWidget>(*w, "OpProgressLabel")->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    port.setBusy(false);
    EXPECT_FALSE(find<QWidget>(*w, "DockTS")->isEnabled());
    port.setBusy(false);
    for (const char* name : pages)
        EXPECT_TRUE(find<QWidget>(*w, name)->isEnabled()) << name;
    for (const char* name : buttons)
        EXPECT_TRUE(find<QWidget>(*w, name)->isEnabled()) << name;
    EXPECT_FALSE(find<QWidget>(*w, "OpWriteBtn")->isEnabled());
    EXPECT_EQ(find<QWidget>(*w, "OpAutoCancelBtn")->isEnabled(), cancelBefore);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
