// The Fleet tab: its rows from the index, the filters and search, and the history dialog.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTcpServer>
#include <QTest>

#include "FleetPage.h"
#include "app/AppState.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetPush.h"
#include "lang/LangTable.h"
#include "support/EnglishTexts.h"
#include "support/PgServer.h"
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

namespace {

// One site's store with one instrument tested today, indexed.
void siteStore(const QString& dest, const QString& sn, const QString& dock, const QString& overall)
{
    const QDate today = QDate::currentDate();
    fleettest::put(dest, sn, "BUMP", sn + "_BUMP_" + today.toString("yyMMdd") + "0930.XML",
                   fleettest::resultXml("CO", overall, today.toString("yy-MM-dd"), "09:30:00", dock, "Hall"));
    fleettest::put(dest, sn, "CAL", sn + "_CAL_" + today.toString("yyMMdd") + "0900.XML",
                   fleettest::resultXml("CO", "PASS", today.toString("yy-MM-dd"), "09:00:00", dock, "Hall"));
    TFleetDb db(dest);
    ASSERT_TRUE(db.Update());
}

QStringList column(const TFleetPage& page, int col)
{
    QStringList out;
    for (int r = 0; r < page.table()->model()->rowCount(); ++r)
        out << page.table()->model()->index(r, col).data().toString();
    out.sort();
    return out;
}

} // namespace

TEST(FleetPage, AllSitesReadsTheServerWithASiteColumnAndShowsThePushState)
{
    testsupport::EnglishTexts texts;
    testsupport::PgServer pg;
    ASSERT_TRUE(pg.ok()) << pg.error().toStdString();
    ASSERT_TRUE(pg.createDatabase("fleet")) << pg.error().toStdString();
    testsupport::ScopedTempRoot root;
    const QString north = root.path() + "/north/", south = root.path() + "/south/";
    siteStore(north, "NA1", "DKN", "PASS");
    siteStore(south, "SO1", "DKS", "FAIL");
    const QString uri = pg.uri(testsupport::PgServer::adminUser(), "fleet");
    ASSERT_TRUE(TFleetPush(south).Push({uri, testsupport::PgServer::adminPassword(), "South", "test"}).mOk);

    AppState state;
    state.FLogDestDir = north;
    state.settings.FleetServer = uri;
    state.settings.FleetPassword = testsupport::PgServer::adminPassword();
    state.settings.FleetSite = "North";
    TFleetPage page(state, nullptr);
    page.resize(1200, 600);
    page.show();
    page.refresh();
    // Nothing of this PC went yet: all of it waits.
    EXPECT_TRUE(page.pushLabel()->isVisible());
    EXPECT_TRUE(page.pushLabel()->text().contains(LangText(979))) << page.pushLabel()->text().toStdString();
    EXPECT_TRUE(page.pushLabel()->text().contains(LangText(980).arg(2)));
    EXPECT_TRUE(page.table()->isColumnHidden(2));

    ASSERT_TRUE(TFleetPush(north).Push({uri, testsupport::PgServer::adminPassword(), "North", "test"}).mOk);
    page.refresh();
    EXPECT_TRUE(page.pushLabel()->text().contains(LangText(1151))) << page.pushLabel()->text().toStdString();

    page.setSource(TFleetPage::AllSites);
    QTRY_VERIFY_WITH_TIMEOUT(!page.reading(), 30000);
    EXPECT_FALSE(page.messageLabel()->isVisible()) << page.messageLabel()->text().toStdString();
    ASSERT_EQ(page.visibleRows(), 2);
    EXPECT_FALSE(page.table()->isColumnHidden(2));
    EXPECT_EQ(column(page, 1), QStringList({"NA1", "SO1"}));
    EXPECT_EQ(column(page, 2), QStringList({"North", "South"}));
    EXPECT_EQ(page.table()->model()->headerData(2, Qt::Horizontal).toString(), LangText(970));
    // The filters work on the server's rows as on the local ones.
    auto* status = page.findChild<QComboBox*>("FleetStatusCombo");
    status->setCurrentIndex(status->findData(int(FleetStatus::Failed)));
    ASSERT_EQ(page.visibleRows(), 1);
    EXPECT_EQ(page.table()->model()->index(0, 2).data().toString(), "South");
    status->setCurrentIndex(0);

    // Back to this PC: its own instrument, no site column.
    page.setSource(TFleetPage::ThisPc);
    EXPECT_EQ(page.visibleRows(), 1);
    EXPECT_TRUE(page.table()->isColumnHidden(2));
}

TEST(FleetPage, AllSitesWithoutAServerOrWithASilentOneSaysSoAndNeverHangs)
{
    testsupport::EnglishTexts texts;
    testsupport::ScopedTempRoot root;
    AppState state;
    state.FLogDestDir = root.path() + "/dest/";
    siteStore(state.FLogDestDir, "GA1", "DK1", "PASS");
    TFleetPage page(state, nullptr);
    page.show();
    page.refresh();
    EXPECT_FALSE(page.pushLabel()->isVisible()); // no server: nothing to push

    page.setSource(TFleetPage::AllSites);
    EXPECT_FALSE(page.reading());
    EXPECT_EQ(page.messageLabel()->text(), LangText(976));
    EXPECT_TRUE(page.messageLabel()->isVisible());
    EXPECT_EQ(page.visibleRows(), 0);

    // A server that takes the connection and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    state.settings.FleetServer = QStringLiteral("postgresql://marvane@127.0.0.1:%1/fleet").arg(silent.serverPort());
    QElapsedTimer t;
    t.start();
    page.refresh();
    EXPECT_LT(t.elapsed(), 2000) << "the window waited for the server";
    EXPECT_TRUE(page.reading());
    EXPECT_EQ(page.messageLabel()->text(), LangText(1152));
    QTRY_VERIFY_WITH_TIMEOUT(!page.reading(), 60000);
    EXPECT_TRUE(page.messageLabel()->text().startsWith(LangText(977).section('%', 0, 0)))
        << page.messageLabel()->text().toStdString();
    EXPECT_EQ(page.visibleRows(), 0);

    // Switching back while a read is under way drops its outcome.
    page.refresh();
    page.setSource(TFleetPage::ThisPc);
    EXPECT_EQ(page.visibleRows(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!page.reading(), 60000);
    EXPECT_EQ(page.visibleRows(), 1);
    EXPECT_FALSE(page.messageLabel()->isVisible());
}
