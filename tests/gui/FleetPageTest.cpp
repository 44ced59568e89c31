// The Fleet tab: its rows from the index, the filters and search, and the history dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

#include "FleetPage.h"
#include "app/AppState.h"
#include "fleet/FleetDb.h"
#include "support/TestSupport.h"
#include "unit/fleet/FleetTestStore.h"

TEST(FleetPage, FiltersSearchAndHistory)
{
    testsupport::ScopedTempRoot root;
    AppState state;
    state.FLogDestDir = root.path() + "/dest/";
    const QDate today = QDate::currentDate();
    auto add = [&](const QString& sn, const QString& kind, const QString& overall, QDate d, const QString& gas,
                   double pre = 45) {
        fleettest::put(state.FLogDestDir, sn, kind, sn + '_' + kind + '_' + d.toString("yyMMdd") + "0930.XML",
                       fleettest::resultXml(gas, overall, d.toString("yy-MM-dd"), "09:30:00", "DK01", "Hall", pre));
    };
    add("GA1", "BUMP", "PASS", today, "CO");
    add("GA1", "CAL", "PASS", today.addDays(-200), "CO", 47);
    add("GA1", "CAL", "PASS", today.addDays(-100), "CO", 44);
    add("GA1", "CAL", "PASS", today.addDays(-1), "CO", 41);
    add("GA2", "BUMP", "FAIL", today, "H2S");
    add("GB3", "BUMP", "PASS", today, "H2S");
    add("GB3", "CAL", "PASS", today, "H2S");
    {
        TFleetDb db(state.FLogDestDir);
        ASSERT_TRUE(db.Update());
    }
    TFleetPage page(state, nullptr);
    page.resize(1000, 600);
    page.show();
    page.refresh();
    EXPECT_EQ(page.visibleRows(), 3);
    EXPECT_FALSE(page.countsLabel()->text().isEmpty());

    auto* status = page.findChild<QComboBox*>("FleetStatusCombo");
    ASSERT_TRUE(status);
    status->setCurrentIndex(status->findData(int(FleetStatus::Failed)));
    EXPECT_EQ(page.visibleRows(), 1);
    status->setCurrentIndex(0);
    auto* gas = page.findChild<QComboBox*>("FleetGasCombo");
    ASSERT_TRUE(gas);
    gas->setCurrentIndex(gas->findData("H2S"));
    EXPECT_EQ(page.visibleRows(), 2);
    page.findChild<QLineEdit*>("FleetSearchEdit")->setText("gb");
    EXPECT_EQ(page.visibleRows(), 1);
    page.findChild<QLineEdit*>("FleetSearchEdit")->clear();
    gas->setCurrentIndex(0);

    // Sorting by serial keeps the filter's rows.
    page.table()->sortByColumn(1, Qt::DescendingOrder);
    EXPECT_EQ(page.table()->model()->index(0, 1).data().toString(), "GB3");

    QDialog* dlg = page.showHistory("ga1");
    ASSERT_TRUE(dlg);
    auto* list = dlg->findChild<QTableView*>("FleetHistoryTable");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->model()->rowCount(), 4);
    EXPECT_EQ(list->model()->index(0, 0).data().toString().left(10), today.toString("yyyy-MM-dd")); // newest first
    EXPECT_TRUE(dlg->findChild<QWidget*>("FleetWearChart"));
    dlg->close();
}
