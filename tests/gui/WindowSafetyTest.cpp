// The window never changes a dock's value by accident: the wheel over a field
// that has no keyboard focus scrolls the page, Write is offered only for values
// read from a dock and its question lists what changed, questions can be backed
// out of, and what the window was left with is there again after a restart.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QRegularExpression>
#include <QWheelEvent>
#include <cmath>

#include "Fixture.h"
#include "MainForm.h"
#include "QtOperatorPort.h"
#include "ReadOriginView.h"
#include "WheelGuard.h"
#include "app/LanConnect.h"
#include "app/AutoMode.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace {

// What a field shows, whatever its kind.
QString shown(QWidget* w)
{
    if (auto* c = qobject_cast<QComboBox*>(w))
        return QString::number(c->currentIndex()) + '|' + c->currentText();
    if (auto* d = qobject_cast<QDateTimeEdit*>(w))
        return d->dateTime().toString(Qt::ISODateWithMs);
    if (auto* s = qobject_cast<QAbstractSpinBox*>(w))
        return s->text();
    return QString();
}

void wheel(QWidget* w, int notches)
{
    const QPointF local = QRectF(w->rect()).center();
    QWheelEvent e(local, w->mapToGlobal(local), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &e);
}

class WindowSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 3);
        ASSERT_TRUE(manifest.ok());
        // The dock search stays on loopback from the very first start.
        IniFile ini(AppState::SettingsFilePath());
        ini.writeString("NETWORK", "Interfaces", "127.0.0.1");
        ini.writeString("NETWORK", "SubnetMask", "255.0.0.0");
        ASSERT_TRUE(ini.save());
        open();
    }
    void TearDown() override
    {
        window.reset();
        QDir::setCurrent(m_oldCwd);
    }
    void open()
    {
        state = std::make_unique<AppState>(&port);
        window = std::make_unique<TMainForm>(state.get());
        window->resize(1024, 640);
        window->show();
        window->core().USBDisk.RemovableRoots = [] { return QStringList(); };
        window->core().FinalPauseSec = 0;
        state->settings.ConfigSetEtcAutoPurgeCheck = false;
        state->settings.NetworkInterfaces = QStringLiteral("127.0.0.1");
        state->settings.ConfigPrNNetworkSubnetEdit = QStringLiteral("255.0.0.0");
        InstallLanLink(window->core(), [] { return QStringList{QStringLiteral("127.0.0.1")}; });
    }
    // The window closed as a person closes it (settings written), then opened again.
    void restart()
    {
        window->close();
        window.reset();
        open();
    }
    void read()
    {
        port.folderAnswers << dock.path();
        QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
        ASSERT_EQ(port.statusText, LangText(718));
    }
    template <class T> T* find(const char* name)
    {
        T* p = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    void showPage(const char* tabs, const char* page)
    {
        find<QTabWidget>(tabs)->setCurrentWidget(find<QWidget>(page));
        QCoreApplication::processEvents();
    }

    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    std::unique_ptr<AppState> state;
    std::unique_ptr<TMainForm> window;
    QString m_oldCwd;
};

} // namespace

TEST_F(WindowSafety, WheelOverAnUnfocusedFieldChangesNothingAndScrollsThePage)
{
    read();
    const struct {
        const char* tabs;
        const char* page;
    } pages[] = {{"CfgPage", "DockTS"},         {"CfgPage", "GDTS"},
                 {"ConfigPage", "ConfigSetTS"}, {"ConfigPage", "ConfigPrNTS"},
                 {"ConfigPage", "ConfigSendTS"}};
    int spins = 0, combos = 0, dates = 0;
    for (const auto& p : pages) {
        if (QLatin1String(p.tabs) == QLatin1String("ConfigPage"))
            showPage("CfgPage", "ConfigTS");
        showPage(p.tabs, p.page);
        QWidget* page = find<QWidget>(p.page);
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (!w->isVisible() || !w->isEnabled() || !TWheelGuard::guards(w))
                continue;
            EXPECT_EQ(w->focusPolicy(), Qt::StrongFocus) << w->objectName().toStdString();
            const QString before = shown(w);
            wheel(w, -3);
            wheel(w, 5);
            EXPECT_EQ(shown(w), before) << p.page << " " << w->objectName().toStdString();
            spins += qobject_cast<QAbstractSpinBox*>(w) && !qobject_cast<QDateTimeEdit*>(w) ? 1 : 0;
            combos += qobject_cast<QComboBox*>(w) ? 1 : 0;
            dates += qobject_cast<QDateTimeEdit*>(w) ? 1 : 0;
        }
    }
    EXPECT_GT(spins, 10);
    EXPECT_GT(combos, 5);
    EXPECT_GE(dates, 5); // the schedule's four pickers and the day start
    EXPECT_TRUE(window->core().ChangesSinceRead().isEmpty());

    // The wheel that the field refused moves the page it sits on.
    showPage("CfgPage", "DockTS");
    window->resize(1024, 400);
    QCoreApplication::processEvents();
    auto* area = find<QScrollArea>("DockTSScroll");
    QScrollBar* bar = area->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(0);
    wheel(find<QSpinBox>("DockCfgMaxBumpTimeEdit"), -2);
    EXPECT_GT(bar->value(), 0);
}

TEST_F(WindowSafety, FieldsMadeLaterAreGuardedToo)
{
    QDialog dlg(window.get());
    auto* first = new QPushButton(QStringLiteral("OK"), &dlg); // takes the focus when shown
    auto* spin = new QSpinBox(&dlg);
    auto* combo = new QComboBox(&dlg);
    combo->addItems({"a", "b", "c"});
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(first);
    layout->addWidget(spin);
    layout->addWidget(combo);
    dlg.show();
    first->setFocus();
    QCoreApplication::processEvents();
    ASSERT_FALSE(spin->hasFocus());
    wheel(spin, 3);
    wheel(combo, -1);
    EXPECT_EQ(spin->value(), 0);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(spin->focusPolicy(), Qt::StrongFocus);
    // With the keyboard focus the wheel is the field's: the person chose it.
    dlg.activateWindow();
    spin->setFocus();
    if (spin->hasFocus()) {
        wheel(spin, 2);
        EXPECT_EQ(spin->value(), 2);
    }
}

TEST_F(WindowSafety, WriteOnlyForValuesReadFromADockAndItsQuestionListsTheChanges)
{
    // First start: defaults that look like a dock's are not offered for writing.
    auto* write = find<QPushButton>("OpWriteBtn");
    EXPECT_FALSE(write->isEnabled());
    EXPECT_EQ(find<QLabel>("DockReadOriginLabel")->text(), LangText(885));
    QTest::mouseClick(write, Qt::LeftButton);
    EXPECT_TRUE(port.questions.isEmpty());

    read();
    EXPECT_TRUE(write->isEnabled());
    EXPECT_TRUE(find<QLabel>("DockReadOriginLabel")->text().contains(manifest.dockSerial));
    EXPECT_TRUE(find<QLabel>("GDReadOriginLabel")->text().contains(manifest.dockSerial));

    auto* bump = find<QSpinBox>("DockCfgMaxBumpTimeEdit");
    const int old = bump->value();
    const int now = old == 45 ? 50 : 45;
    EXPECT_FALSE(TReadOriginView::marked(bump));
    bump->setValue(now);
    EXPECT_TRUE(TReadOriginView::marked(bump));
    EXPECT_TRUE(find<QLabel>("DockReadOriginLabel")->text().contains(LangText(13)));
    // An edit after the Read: the panel's "completed" no longer holds.
    EXPECT_TRUE(port.statusText.isEmpty());

    const QByteArray onDock = testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG");
    port.yesNoAnswers << "no";
    QTest::mouseClick(write, Qt::LeftButton);
    ASSERT_FALSE(port.questions.isEmpty());
    const QString q = port.questions.last();
    EXPECT_TRUE(q.contains(manifest.dockSerial)) << q.toStdString();
    EXPECT_TRUE(q.contains(LangText(13) + QStringLiteral(": %1 -> %2").arg(old).arg(now))) << q.toStdString();
    // Answered No: nothing went to the dock.
    EXPECT_EQ(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG"), onDock);

    // Back to the value read: nothing is marked any more.
    bump->setValue(old);
    EXPECT_FALSE(TReadOriginView::marked(bump));
    EXPECT_TRUE(window->core().ChangesSinceRead().isEmpty());
}

TEST_F(WindowSafety, AfterARestartTheLastReadIsOfferedAndNamedAsSuch)
{
    read();
    port.yesNoAnswers << "no"; // the unsaved-logs question on closing
    restart();
    auto* write = find<QPushButton>("OpWriteBtn");
    EXPECT_TRUE(write->isEnabled());
    const QString label = find<QLabel>("DockReadOriginLabel")->text();
    EXPECT_TRUE(label.contains(manifest.dockSerial)) << label.toStdString();
    EXPECT_EQ(LangText(887).arg(manifest.dockSerial, QString()).left(10), label.left(10));
    EXPECT_EQ(find<QLineEdit>("DockInfoLocationEdit")->text(), manifest.location);
}

namespace {

double luminance(const QColor& c)
{
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

QColor styleColour(const QString& style, const QString& property)
{
    const QRegularExpression re(QStringLiteral("(?:^|[ ;{])") + property +
                                QStringLiteral(":\\s*rgb\\((\\d+),(\\d+),(\\d+)\\)"));
    const QRegularExpressionMatch m = re.match(style);
    return m.hasMatch() ? QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QColor();
}

} // namespace

TEST_F(WindowSafety, StatusPanelIsReadableInEveryLookAndClearedWhenItNoLongerHolds)
{
    for (auto look : {OperatorPort::StatusLook::Neutral, OperatorPort::StatusLook::Success,
                      OperatorPort::StatusLook::Failure}) {
        const QString style = QtOperatorPort::statusStyle(look);
        const QColor bg = styleColour(style, QStringLiteral("background-color"));
        const QColor fg = styleColour(style, QStringLiteral("color"));
        ASSERT_TRUE(bg.isValid() && fg.isValid()) << style.toStdString();
        const double l1 = luminance(bg), l2 = luminance(fg);
        EXPECT_GE((std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05), 4.5) << style.toStdString();
        // Calm: no fully saturated block of colour.
        EXPECT_LT(bg.hsvSaturationF(), 0.3) << style.toStdString();
    }
    // A language change: what the panel said was in the old language.
    port.statusText = QStringLiteral("x");
    showPage("CfgPage", "ConfigTS");
    auto* lang = find<QComboBox>("ConfigSetEtcLangLangCombo");
    lang->setCurrentIndex(1);
    QMetaObject::invokeMethod(find<QPushButton>("ConfigSetEtcLangLangChangeBtn"), "click");
    EXPECT_TRUE(port.statusText.isEmpty());
    lang->setCurrentIndex(0);
    QMetaObject::invokeMethod(find<QPushButton>("ConfigSetEtcLangLangChangeBtn"), "click");
}

TEST_F(WindowSafety, UnsavedLogsQuestionsCanBeBackedOutOf)
{
    read();
    ASSERT_TRUE(window->core().LogListBtnSaveEnabled);
    auto* bump = find<QTreeWidget>("LogListGDBumpTreeView");
    const int listed = bump->topLevelItemCount();
    ASSERT_GT(listed, 0);
    const int lines = int(port.history.size());
    const int logs = window->core().FUnitDef->LogListCount();

    // Read again, Cancel at the question: nothing happens, the lists stay.
    port.yesNoAnswers << "cancel";
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    EXPECT_TRUE(port.questions.last().contains(LangText(712)));
    EXPECT_EQ(port.history.size(), lines) << port.history.mid(lines).join('\n').toStdString();
    EXPECT_EQ(bump->topLevelItemCount(), listed);
    EXPECT_TRUE(window->core().LogListBtnSaveEnabled);

    // A Read that never reaches a dock (the folder picker closed) keeps them too.
    port.yesNoAnswers << "no";
    port.folderAnswers << QString();
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    EXPECT_EQ(bump->topLevelItemCount(), listed);
    EXPECT_EQ(window->core().FUnitDef->LogListCount(), logs); // the rows still stand for their files

    // Closing, Cancel at the question: the window stays open.
    port.yesNoAnswers << "cancel";
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(port.questions.last().contains(LangText(712)));
}

TEST_F(WindowSafety, LinkPortAddressAndPageAreRememberedAcrossARestart)
{
    find<QRadioButton>("OpDeviceConnectCommRadio")->setChecked(true);
    auto* port1 = find<QComboBox>("OpDeviceConnectCommPortCombo");
    port1->setEditText(QStringLiteral("/dev/ttyUSB7"));
    showPage("CfgPage", "ReportTS");
    restart();
    EXPECT_TRUE(find<QRadioButton>("OpDeviceConnectCommRadio")->isChecked());
    EXPECT_EQ(window->core().link, LinkChoice::Comm);
    EXPECT_EQ(find<QComboBox>("OpDeviceConnectCommPortCombo")->currentText(), "/dev/ttyUSB7");
    EXPECT_EQ(find<QTabWidget>("CfgPage")->currentWidget()->objectName(), "ReportTS");

    find<QRadioButton>("OpDeviceConnectUdpRadio")->setChecked(true);
    auto* lan = find<QComboBox>("OpDeviceConnectLanListCombo");
    lan->setEditText(QStringLiteral("127.0.0.9"));
    restart();
    EXPECT_TRUE(find<QRadioButton>("OpDeviceConnectUdpRadio")->isChecked());
    EXPECT_EQ(find<QComboBox>("OpDeviceConnectLanListCombo")->currentText(), "127.0.0.9");
    EXPECT_EQ(window->core().OpDeviceConnectLanListComboText, "127.0.0.9");

    // The address box's hint is readable whole.
    auto* combo = find<QComboBox>("OpDeviceConnectLanListCombo");
    const QFontMetrics fm(combo->font());
    EXPECT_GE(combo->width(), fm.horizontalAdvance(LangText(734))) << combo->width();
}

TEST_F(WindowSafety, ScheduleTimesToggleWithOneClickOrTheSpaceBar)
{
    showPage("CfgPage", "ConfigTS");
    auto* sch = find<QTableWidget>("ConfigSetSchGrid");
    const QPoint p = sch->visualRect(sch->model()->index(1, 3)).center();
    QTest::mouseClick(sch->viewport(), Qt::LeftButton, {}, p);
    EXPECT_TRUE(state->FTimeSch[2].mDayOfWeek[3]);
    EXPECT_EQ(sch->item(1, 3)->text(), "Y");
    const QColor setColour = sch->item(1, 3)->background().color();
    EXPECT_NE(setColour, sch->item(1, 4)->background().color());
    sch->setFocus();
    sch->setCurrentCell(1, 3);
    QTest::keyClick(sch, Qt::Key_Space);
    EXPECT_FALSE(state->FTimeSch[2].mDayOfWeek[3]);
    EXPECT_TRUE(sch->item(1, 3)->text().isEmpty());
    // Only what is set looks set: the current cell carries no selection colour.
    EXPECT_TRUE(sch->selectedItems().isEmpty());
    EXPECT_FALSE(TAutoMode::HasReportTime(state->FTimeSch));
    QTest::keyClick(sch, Qt::Key_Space);
    EXPECT_TRUE(TAutoMode::HasReportTime(state->FTimeSch));

    // The countdown's date follows the chosen date format.
    const TDateTime now = EncodeDateTime(2027, 12, 9, 16, 0, 0);
    const TDateTime send = EncodeDateTime(2027, 12, 10, 16, 58, 0);
    EXPECT_TRUE(TAutoMode::CountdownText(now, send, CFG_DATE_DDMMYYYY).endsWith("(10-12-2027 16:58)"))
        << TAutoMode::CountdownText(now, send, CFG_DATE_DDMMYYYY).toStdString();
    EXPECT_TRUE(TAutoMode::CountdownText(now, send, CFG_DATE_YYYYMMDD).contains("2027-12-10"));
}

// A new user's first day: read the dock, change one value, write it, close and
// start again. Only the changed value reaches the dock, the logs on it are left
// as they were, and the restarted window shows what the dock now holds.
TEST_F(WindowSafety, ReadChangeOneValueWriteAndRestart)
{
    auto logsOnDock = [&] {
        QMap<QString, QByteArray> files;
        const QString root = dock.path() + "/LOG";
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString f = it.next();
            files.insert(f.mid(root.size()), testsupport::readAll(f));
        }
        return files;
    };
    const QMap<QString, QByteArray> logsBefore = logsOnDock();
    ASSERT_FALSE(logsBefore.isEmpty());

    read();
    auto* bump = find<QSpinBox>("DockCfgMaxBumpTimeEdit");
    const int old = bump->value();
    const int now = old == 45 ? 50 : 45;
    bump->setValue(now);
    const QByteArray cfgBefore = testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG");
    port.folderAnswers << dock.path();
    port.yesNoAnswers << "yes";
    QTest::mouseClick(find<QPushButton>("OpWriteBtn"), Qt::LeftButton);
    ASSERT_EQ(port.statusText, LangText(718));
    ASSERT_FALSE(port.questions.isEmpty());
    EXPECT_TRUE(port.questions.last().contains(QStringLiteral("%1 -> %2").arg(old).arg(now)));
    EXPECT_NE(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG"), cfgBefore);
    // Written values are the dock's now: nothing is marked as changed.
    EXPECT_TRUE(window->core().ChangesSinceRead().isEmpty());

    EXPECT_TRUE(logsOnDock() == logsBefore);

    port.yesNoAnswers << "no"; // the unsaved-logs question on closing
    restart();
    EXPECT_TRUE(find<QPushButton>("OpWriteBtn")->isEnabled());
    EXPECT_EQ(find<QSpinBox>("DockCfgMaxBumpTimeEdit")->value(), now);
    // And the dock itself says so on the next Read.
    port.yesNoAnswers << "no";
    read();
    EXPECT_EQ(find<QSpinBox>("DockCfgMaxBumpTimeEdit")->value(), now);
    if (const QString out = qEnvironmentVariable("MARVANE_WALK_SHOTS"); !out.isEmpty())
        window->grab().save(out + "/after-restart-and-read.png");
}
