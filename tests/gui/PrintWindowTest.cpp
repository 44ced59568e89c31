// In the main window: a Read from the simulated dock, a calibration chosen on the
// LOG page, and its certificate on the "Print" page.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "Fixture.h"
#include "MainForm.h"
#include "PrintPage.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "support/TestSupport.h"

namespace {

class PrintWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 3).ok());
        window = std::make_unique<TMainForm>(&state);
        window->resize(1100, 800);
        window->show();
        window->core().USBDisk.RemovableRoots = [] { return QStringList(); };
        window->core().FinalPauseSec = 0;
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
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
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainForm> window;
    QString m_oldCwd;
};

} // namespace

TEST_F(PrintWindow, CalibrationChosenAfterAReadIsOnThePrintPage)
{
    auto* print = find<QPushButton>("PrintResPrintBtn");
    EXPECT_TRUE(print->isHidden());
    port.folderAnswers << dock.path();
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);

    // The person brings the Calibration tab to the front and clicks a result.
    find<QTabWidget>("CfgPage")->setCurrentWidget(find<QWidget>("LogTS"));
    auto* calTab = find<QWidget>("LogListGDCalTS");
    qobject_cast<QTabWidget*>(calTab->parentWidget()->parentWidget())->setCurrentWidget(calTab);
    auto* tree = find<QTreeWidget>("LogListGDCalTreeView");
    ASSERT_TRUE(tree->isVisible());
    ASSERT_GT(tree->topLevelItemCount(), 0);
    QTreeWidgetItem* node = tree->topLevelItem(0)->child(0);
    ASSERT_NE(node, nullptr);
    tree->scrollToItem(node);
    // Chosen as the keyboard or a click chooses it: the current item. A synthetic click
    // aimed at the node missed it now and then on a loaded machine, the tab's layout
    // still settling.
    // Nothing current first: a node that was current already would not count as chosen.
    tree->setCurrentItem(nullptr);
    tree->setCurrentItem(node);
    ASSERT_EQ(tree->currentItem(), node);
    EXPECT_EQ(window->printPage()->lastReport().mType, TEST_KIND_CAL)
        << "chosen: " << node->parent()->text(0).toStdString() << " / " << node->text(0).toStdString();

    auto* pages = find<QTabWidget>("CfgPage");
    pages->setCurrentWidget(find<QWidget>("PrintTS"));
    EXPECT_TRUE(print->isVisible());
    EXPECT_TRUE(find<QPushButton>("PrintResPdfBtn")->isVisible());
    EXPECT_TRUE(find<QPushButton>("PrintResPrintSetupBtn")->isVisible());
    auto* view = find<QLabel>("PrintViewImage");
    EXPECT_TRUE(view->isVisible());
    EXPECT_GT(view->height(), 100);

    // Save as PDF from the page's button, the file named through the port.
    const QString pdf = tmp.path() + "/cert.pdf";
    port.fileAnswers << pdf;
    QTest::mouseClick(find<QPushButton>("PrintResPdfBtn"), Qt::LeftButton);
    EXPECT_TRUE(testsupport::readAll(pdf).startsWith("%PDF"));

    // Read empties the lists: no result, no print button.
    port.folderAnswers << dock.path();
    window->core().OpReadBtnClick();
    EXPECT_TRUE(print->isHidden());
}
