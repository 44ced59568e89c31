// Pictures of every page for a person to look at: runs only when MARVANE_SHOTS
// names a folder (for example under xvfb-run with QT_QPA_PLATFORM=xcb and a
// QT_SCALE_FACTOR), with MARVANE_SHOT_SIZE=WxH for the window and
// MARVANE_SHOT_READ=1 to read a simulated dock first, MARVANE_SHOT_LANG=1..6 for the
// language (the language key) the window is shown in.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLayout>
#include <QPushButton>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <QTest>
#include <QListWidget>
#include <QTreeWidget>

#include "Fixture.h"
#include "MainForm.h"
#include "PCTestDlg.h"
#include "QtOperatorPort.h"
#include "app/MainCore.h"
#include "support/TestSupport.h"

TEST(Screenshots, EveryPage)
{
    const QString out = qEnvironmentVariable("MARVANE_SHOTS");
    if (out.isEmpty())
        GTEST_SKIP() << "MARVANE_SHOTS not set";
    QDir().mkpath(out);
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    ASSERT_TRUE(docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 2).ok());

    // The window's own port: the status panel and the bars show what they would.
    AppState state;
    TMainForm w(&state);
    const QStringList size = qEnvironmentVariable("MARVANE_SHOT_SIZE").split('x');
    w.show();
    if (size.size() == 2)
        w.resize(size[0].toInt(), size[1].toInt());
    QTest::qWait(200);
    if (const int lang = qEnvironmentVariableIntValue("MARVANE_SHOT_LANG"); lang >= 1) {
        auto* combo = w.findChild<QComboBox*>("ConfigSetEtcLangLangCombo");
        auto* change = w.findChild<QPushButton*>("ConfigSetEtcLangLangChangeBtn");
        ASSERT_TRUE(combo && change);
        combo->setCurrentIndex(lang - 1);
        change->click();
    }
    const QString dockPath = dock.path();
    w.core().USBDisk.RemovableRoots = [dockPath] { return QStringList{dockPath}; };
    w.core().FinalPauseSec = 0;
    if (qEnvironmentVariableIntValue("MARVANE_SHOT_READ")) {
        state.FLogDestDir = tmp.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        w.core().OpReadBtnClick();
    }
    // A result chosen on the LOG page, so that its panel and the Print page have something to show.
    if (auto* cal = w.findChild<QTreeWidget*>("LogListGDCalTreeView");
        cal && cal->topLevelItemCount() > 0 && cal->topLevelItem(0)->childCount() > 0) {
        cal->setCurrentItem(cal->topLevelItem(0)->child(0));
        emit cal->itemClicked(cal->topLevelItem(0)->child(0), 0);
    }
    if (auto* events = w.findChild<QListWidget*>("LogListGDEventList"); events && events->count() > 0)
        events->setCurrentRow(0);
    // The service page as service level 2 shows it.
    if (qEnvironmentVariableIntValue("MARVANE_SHOT_SERVICE"))
        w.applyServiceLevel(2);
    QTest::qWait(200);
    const QScreen* screen = w.screen();
    std::printf("screen %dx%d dpr %.2f, window frame %dx%d at %d,%d\n", screen->geometry().width(),
                screen->geometry().height(), screen->devicePixelRatio(), w.frameGeometry().width(),
                w.frameGeometry().height(), w.frameGeometry().x(), w.frameGeometry().y());

    auto* pages = w.findChild<QTabWidget*>("CfgPage");
    ASSERT_NE(pages, nullptr);
    std::printf("window minimum %dx%d, explicit %dx%d, layout %dx%d, size %dx%d\n", w.minimumSizeHint().width(),
                w.minimumSizeHint().height(), w.minimumWidth(), w.minimumHeight(),
                w.layout()->minimumSize().width(), w.layout()->minimumSize().height(), w.width(), w.height());
    for (int i = 0; i < pages->count(); ++i)
        std::printf("  page %s minimum %dx%d\n", qPrintable(pages->widget(i)->objectName()),
                    pages->widget(i)->minimumSizeHint().width(), pages->widget(i)->minimumSizeHint().height());
    if (QWidget* bottom = w.findChild<QWidget*>("OpPanel"))
        std::printf("  bottom bar minimum %dx%d\n", bottom->minimumSizeHint().width(),
                    bottom->minimumSizeHint().height());
    int n = 0;
    auto shoot = [&](const QString& name) {
        QTest::qWait(100);
        w.grab().save(QStringLiteral("%1/%2-%3.png").arg(out).arg(++n, 2, 10, QChar('0')).arg(name));
    };
    for (int i = 0; i < pages->count(); ++i) {
        if (!pages->isTabVisible(i))
            continue;
        pages->setCurrentIndex(i);
        QWidget* page = pages->widget(i);
        shoot(page->objectName());
        // The tabs inside a page, each once.
        for (auto* inner : page->findChildren<QTabWidget*>()) {
            for (int j = 1; j < inner->count(); ++j) {
                if (!inner->isTabVisible(j))
                    continue;
                inner->setCurrentIndex(j);
                shoot(page->objectName() + '-' + inner->widget(j)->objectName());
            }
            inner->setCurrentIndex(0);
        }
    }
    // The service dialog "PC Operation" with a status, results and curves in it.
    if (qEnvironmentVariableIntValue("MARVANE_SHOT_SERVICE")) {
        TPCTestDlg dlg(w.core().DockComm, QString(), QString(), &w);
        TTaskMonitor& m = dlg.monitor();
        RTask task{};
        task.mStatus = 3;
        RBayTaskArr bays{};
        for (int b = 0; b < 4; ++b) {
            bays.mBay[b].mStatus = uint8_t(b == 3 ? 0 : 7 + 4 * (b % 2));
            bays.mBay[b].mStep = uint8_t(b + 2);
            bays.mBay[b].mTimer = uint16_t(30 * b);
        }
        m.ApplyStatus(task, 1, bays);
        RBayResArr res{};
        RGDInfoArr gd{};
        for (int b = 0; b < 3; ++b) {
            res.mBay[b].mDetected = 1;
            res.mBay[b].mPCCmd = 7;
            res.mBay[b].mResult = 1;
            res.mBay[b].mGasReading = int16_t(240 + b);
            gd.mBay[b].bySensorType = uint8_t(1 << b);
            gd.mBay[b].byFwVersion = 23;
            gd.mBay[b].ulRemainLife = 40000000;
            std::memcpy(gd.mBay[b].abySerialAscii, "SH12345678", 10);
        }
        m.ApplyResult(res, gd);
        for (int b = 0; b < 3; ++b)
            for (int k = 0; k < 2; ++k) {
                RLogInfo log{};
                log.mCnt = 120;
                for (int i = 0; i < 120; ++i)
                    log.mData[i] = int16_t(k ? 250 * std::exp(-i / 25.0) : 250 * (1 - std::exp(-i / (10.0 + 5 * b))));
                m.ApplyLog(b, k, log);
            }
        if (m.LogRead)
            m.LogRead();
        dlg.prepare();
        dlg.show();
        QTest::qWait(300);
        std::printf("PC Operation at %d,%d size %dx%d, frame %dx%d, minimum %dx%d\n", dlg.frameGeometry().x(),
                    dlg.frameGeometry().y(), dlg.width(), dlg.height(), dlg.frameGeometry().width(),
                    dlg.frameGeometry().height(), dlg.minimumSizeHint().width(), dlg.minimumSizeHint().height());
        auto* tabs = dlg.findChild<QTabWidget*>("ResPage");
        for (int i = 0; tabs && i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QTest::qWait(150);
            dlg.grab().save(QStringLiteral("%1/%2-PCOperation-%3.png").arg(out).arg(++n, 2, 10, QChar('0')).arg(i));
        }
    }
    QDir::setCurrent(oldCwd);
}
