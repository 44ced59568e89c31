// The Docking Station and instrument pages driven as a person would: bottle
// choices and concentration editors, the option grid and its editors, the
// upgrade-file choosers, and what the widgets show in return.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include "DockPage.h"
#include "GDPage.h"
#include "link/UnitDef.h"

namespace {

template <typename T>
T* child(QWidget& page, const char* name)
{
    T* w = page.findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void chooseByTyping(QComboBox* combo, const char* text)
{
    QTest::keyClicks(combo, QLatin1String(text));
}

void typeAndEnter(QWidget* w, const QString& text)
{
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        spin->selectAll();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->selectAll();
    QTest::keyClicks(w, text);
    QTest::keyClick(w, Qt::Key_Return);
}

void clickCell(QTableWidget* grid, int row, int col, bool twice = false)
{
    const QRect r = grid->visualRect(grid->model()->index(row, col));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, r.center());
    if (twice) { // the second press of a double-click arrives as the double-click event
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, r.center());
    }
}

bool paintedInactive(QWidget* w)
{
    return w->palette().color(QPalette::Base) == QApplication::palette().color(QPalette::Button);
}

} // namespace

TEST(DockPageGui, NamesCaptionsAndLayout)
{
    TDockPageModel model;
    TDockPage page(&model);
    page.resize(1000, 640);
    page.show();
    for (const char* gb : {"DockInfoGB", "DockCfgGB", "DockBottleGB", "DockLanGB", "DockUpgradeGB"})
        EXPECT_TRUE(child<QGroupBox>(page, gb)->isVisible()) << gb;
    EXPECT_EQ(child<QGroupBox>(page, "DockBottleGB")->title(), "Gas Bottle");
    EXPECT_FALSE(child<QGroupBox>(page, "DockCfgFullBumpGB")->isVisible());
    EXPECT_EQ(child<QCheckBox>(page, "DockCfgConfgiCheck")->text(), "Allow Configurations");
    EXPECT_EQ(child<QSpinBox>(page, "DockCfgAutoPowerOffTimeEdit")->value(), 60);
    EXPECT_EQ(child<QSpinBox>(page, "DockCfgAutoPowerOffTimeEdit")->singleStep(), 60);
    EXPECT_EQ(child<QLabel>(page, "DockUpgradeLabel")->text(), "---");
    EXPECT_TRUE(child<QLineEdit>(page, "DockInfoSNEdit")->isReadOnly());
    EXPECT_TRUE(child<QLineEdit>(page, "DockLanUdpPortEdit")->isReadOnly());
    EXPECT_EQ(child<QLineEdit>(page, "DockLanUdpPortEdit")->text(), "7000");
    // Fits the window's page area at 1024 x 720.
    EXPECT_LE(page.minimumSizeHint().width(), 1000);
    EXPECT_LE(page.minimumSizeHint().height(), 600);
}

TEST(DockPageGui, BottleSlotsFollowTheRules)
{
    TDockPageModel model;
    TDockPage page(&model);
    page.show();
    QComboBox* combo[5] = {nullptr};
    QDoubleSpinBox* edit[5] = {nullptr};
    for (int k = 1; k <= 4; ++k) {
        combo[k] = child<QComboBox>(page, qPrintable(QStringLiteral("DockBottleGasCombo%1").arg(k)));
        edit[k] = child<QDoubleSpinBox>(page, qPrintable(QStringLiteral("DockBottleGasEdit%1").arg(k)));
    }
    EXPECT_EQ(edit[1]->text(), "25.0");
    EXPECT_EQ(edit[2]->text(), "100");
    EXPECT_EQ(combo[4]->currentText(), "SO2");

    // Slot 2's value typed, then slot 1 takes O2 (slot 3's gas).
    typeAndEnter(edit[2], "150");
    EXPECT_EQ(model.FBottleSlot[2].editText(), "150");
    chooseByTyping(combo[1], "O");
    EXPECT_EQ(combo[1]->currentText(), "O2");
    EXPECT_EQ(edit[1]->text(), "18.0");
    EXPECT_EQ(combo[2]->currentText(), "CO");
    EXPECT_EQ(edit[2]->text(), "150");
    EXPECT_EQ(combo[3]->currentText(), "");
    EXPECT_TRUE(combo[3]->isEnabled());
    EXPECT_FALSE(combo[4]->isEnabled());
    EXPECT_TRUE(edit[3]->isReadOnly());
    EXPECT_TRUE(paintedInactive(edit[3]));
    EXPECT_FALSE(paintedInactive(edit[1]));

    // The oxygen band applies when the editor is left and after a step.
    typeAndEnter(edit[1], "20.9");
    EXPECT_EQ(edit[1]->text(), "19.0");
    QTest::keyClick(edit[1], Qt::Key_Up);
    EXPECT_EQ(edit[1]->text(), "19.0");
    typeAndEnter(edit[1], "22");
    EXPECT_EQ(edit[1]->text(), "23.0");
    QTest::keyClick(edit[1], Qt::Key_Up);
    EXPECT_EQ(edit[1]->text(), "23.5");
    // A read-only editor does not step.
    QTest::keyClick(edit[3], Qt::Key_Up);
    EXPECT_EQ(model.FBottleList[3], 0);

    // Slot 3 filled again opens slot 4.
    chooseByTyping(combo[3], "S");
    EXPECT_EQ(combo[3]->currentText(), "SO2");
    EXPECT_EQ(edit[3]->text(), "10.0");
    EXPECT_TRUE(combo[4]->isEnabled());
    EXPECT_FALSE(paintedInactive(edit[3]));
}

TEST(DockPageGui, MirrorsTheModelBothWays)
{
    TDockPageModel model;
    TDockPage page(&model);
    page.show();
    model.ReadDockCfg("Calibration=yes\nAuto Off Time=600\nLocation=Hall 2\n"
                      "CO Gas Concentration=200\nSO2 Gas Concentration=5\nIP=127.0.0.9\n",
                      7100);
    EXPECT_TRUE(child<QCheckBox>(page, "DockCfgCalCheck")->isChecked());
    EXPECT_EQ(child<QSpinBox>(page, "DockCfgAutoPowerOffTimeEdit")->value(), 600);
    EXPECT_EQ(child<QLineEdit>(page, "DockInfoLocationEdit")->text(), "Hall 2");
    EXPECT_EQ(child<QLineEdit>(page, "DockLanIpEdit")->text(), "127.0.0.9");
    EXPECT_EQ(child<QLineEdit>(page, "DockLanUdpPortEdit")->text(), "7100");
    EXPECT_EQ(child<QComboBox>(page, "DockBottleGasCombo1")->currentText(), "CO");
    EXPECT_EQ(child<QComboBox>(page, "DockBottleGasCombo2")->currentText(), "SO2");
    EXPECT_EQ(child<QDoubleSpinBox>(page, "DockBottleGasEdit2")->text(), "5.0");
    EXPECT_FALSE(child<QComboBox>(page, "DockBottleGasCombo4")->isEnabled());

    auto* bump = child<QCheckBox>(page, "DockCfgBumpCheck");
    QTest::mouseClick(bump, Qt::LeftButton, {}, QPoint(8, bump->height() / 2));
    EXPECT_TRUE(model.DockCfgBumpCheck);
    auto* power = child<QSpinBox>(page, "DockCfgAutoPowerOffTimeEdit");
    QTest::keyClick(power, Qt::Key_Up);
    EXPECT_EQ(model.DockCfgAutoPowerOffTimeEdit, 660);
    typeAndEnter(power, "99999"); // the fifth digit would leave the range: not taken
    EXPECT_EQ(model.DockCfgAutoPowerOffTimeEdit, 9999);
    auto* location = child<QLineEdit>(page, "DockInfoLocationEdit");
    location->clear();
    QTest::keyClicks(location, "Store");
    EXPECT_EQ(model.DockInfoLocationEdit, "Store");
}

TEST(DockPageGui, UpgradeFileChooser)
{
    TDockPageModel model;
    TDockPage page(&model);
    page.show();
    QString askedFrom = "unset";
    page.askImageFile = [&askedFrom](QWidget*, const QString& start) {
        askedFrom = start;
        return QStringLiteral("/tmp/new.img");
    };
    QSignalSpy chosen(&page, &TDockPage::upgradeFileChosen);
    QSignalSpy edited(&page, &TDockPage::upgradeFilePathEdited);
    model.setUpgradeFile("/tmp/old.img");
    QTest::mouseClick(child<QToolButton>(page, "DockUpgradeFileBtn"), Qt::LeftButton);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), "/tmp/new.img");
    EXPECT_EQ(chosen.at(0).at(1).toInt(), int(UNIT_FWTYPE_DOCK));
    EXPECT_EQ(askedFrom, "/tmp/old.img");
    EXPECT_EQ(model.DockUpgradeFileEdit, "/tmp/old.img"); // the firmware check decides

    auto* edit = child<QLineEdit>(page, "DockUpgradeFileEdit");
    typeAndEnter(edit, "/tmp/typed.img");
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(model.DockUpgradeFileEdit, "/tmp/typed.img");
    model.setUpgradeLabel("DOCK V2.1");
    EXPECT_EQ(child<QLabel>(page, "DockUpgradeLabel")->text(), "DOCK V2.1");
}

TEST(GDPageGui, OptionGridAndEditors)
{
    TGDPageModel model;
    TGDPage page(&model);
    page.resize(1000, 640);
    page.show();
    auto* grid = child<QTableWidget>(page, "GDOptGrid");
    ASSERT_EQ(grid->rowCount(), 10);
    ASSERT_EQ(grid->columnCount(), 5);
    EXPECT_EQ(grid->columnWidth(0), 212);
    EXPECT_EQ(grid->columnWidth(1), 72);
    EXPECT_EQ(grid->item(0, 3)->text(), "O2");
    EXPECT_EQ(grid->item(2, 1)->text(), "N/A");
    EXPECT_EQ(grid->item(6, 2)->text(), "200");
    auto* low = child<QLineEdit>(page, "GDOptLOWEdit");
    auto* sensor = child<QComboBox>(page, "GDOptSensorCombo");
    EXPECT_FALSE(low->isEnabled());
    EXPECT_TRUE(paintedInactive(low));
    EXPECT_FALSE(child<QCheckBox>(page, "GDOptLOWCheck")->isVisible());
    EXPECT_FALSE(child<QLineEdit>(page, "GDUpgradeFileNameEdit1")->isVisible());
    EXPECT_FALSE(child<QLineEdit>(page, "GDUpgradeFileNameEdit1")->isEnabled());

    // Header click chooses the column; a double-click on a data cell sets its option.
    clickCell(grid, 0, 3);
    EXPECT_EQ(sensor->currentText(), "O2");
    EXPECT_EQ(model.FGDOptSel, 3);
    clickCell(grid, 5, 3, true);
    EXPECT_TRUE(model.FGDOpt[3][GDOPT_ALARMLOW].mChange);
    ASSERT_TRUE(low->isEnabled());
    EXPECT_FALSE(paintedInactive(low));
    EXPECT_EQ(low->text(), "19.5");

    // Letters are not taken; 30 is limited to the sensor's range.
    typeAndEnter(low, "3x0");
    EXPECT_EQ(low->text(), "25.0");
    EXPECT_EQ(grid->item(5, 3)->text(), "25.0");
    QTest::mouseClick(child<TUpDown>(page, "GDOptLOWUpDown")->downButton(), Qt::LeftButton);
    EXPECT_EQ(low->text(), "24.5");
    typeAndEnter(low, "0");
    EXPECT_EQ(low->text(), "N/A");

    // Row 8 sets the display options together.
    clickCell(grid, 8, 3, true);
    auto* display = child<QComboBox>(page, "GDOptDisplayCombo");
    auto* led = child<QCheckBox>(page, "GDOptBumpLEDCheck");
    EXPECT_TRUE(display->isEnabled());
    EXPECT_TRUE(led->isEnabled());
    EXPECT_TRUE(child<QCheckBox>(page, "GDOptEnableMaualTestCheck")->isEnabled());
    chooseByTyping(display, "L");
    EXPECT_EQ(grid->item(7, 3)->text(), "Life");
    QTest::mouseClick(led, Qt::LeftButton, {}, QPoint(8, led->height() / 2));
    EXPECT_EQ(grid->item(8, 3)->text(), "YES");

    // Another column through the sensor choice: what was typed is kept.
    chooseByTyping(sensor, "H");
    EXPECT_EQ(model.FGDOptSel, 1);
    EXPECT_FLOAT_EQ(model.FGDOpt[3][GDOPT_ALARMLOW].mValue, 0);
    EXPECT_FLOAT_EQ(model.FGDOpt[3][GDOPT_DISPLAY].mValue, 2);
    EXPECT_FALSE(low->isEnabled());
    // Double-click on a column that is not selected changes nothing.
    clickCell(grid, 2, 2, true);
    EXPECT_EQ(model.FGDOptSel, 1);
    EXPECT_FALSE(model.FGDOpt[2][GDOPT_CALINT].mChange);
}

TEST(GDPageGui, IntervalEditorsAndDownloadSection)
{
    TGDPageModel model;
    TGDPage page(&model);
    page.show();
    auto* grid = child<QTableWidget>(page, "GDOptGrid");
    clickCell(grid, 2, 1, true);
    auto* cal = child<QLineEdit>(page, "GDOptCalEdit");
    ASSERT_TRUE(cal->isEnabled());
    typeAndEnter(cal, "-4a00");
    EXPECT_EQ(cal->text(), "365");
    EXPECT_EQ(grid->item(2, 1)->text(), "365");
    QTest::mouseClick(child<TUpDown>(page, "GDOptCalUpdown")->downButton(), Qt::LeftButton);
    EXPECT_EQ(cal->text(), "335");

    auto* res = child<QTableWidget>(page, "GDOpResGrid");
    EXPECT_EQ(res->item(0, 1)->text(), "BAY1");
    EXPECT_EQ(res->item(4, 0)->text(), "Result");
    model.setResultCell(2, 4, TGDPageModel::ResultText(1));
    EXPECT_EQ(res->item(4, 2)->text(), "PASS");
    EXPECT_EQ(child<QPushButton>(page, "GDOpConfigBtn")->text(), "Configuration download");
    QSignalSpy download(&page, &TGDPage::downloadRequested);
    QTest::mouseClick(child<QPushButton>(page, "GDOpFirmwareBtn"), Qt::LeftButton);
    ASSERT_EQ(download.count(), 1);
    EXPECT_EQ(download.at(0).at(0).toInt(), 1);
    auto* send = child<QCheckBox>(page, "GDOpConfigFileSendCheck");
    send->click();
    EXPECT_TRUE(model.GDOpConfigFileSendCheck);
    model.setConfigFileSend(false);
    EXPECT_FALSE(send->isChecked());

    page.askImageFile = [](QWidget*, const QString&) { return QString(); }; // cancelled
    QSignalSpy chosen(&page, &TGDPage::upgradeFileChosen);
    QTest::mouseClick(child<QToolButton>(page, "GDUpgradeFileNameBtn"), Qt::LeftButton);
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(child<QLabel>(page, "GDUpgradeLabel")->text(), "---");
    EXPECT_LE(page.minimumSizeHint().width(), 1000);
    EXPECT_LE(page.minimumSizeHint().height(), 600);
}
