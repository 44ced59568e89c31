// The window on the Ethernet link: choosing "Ethernet" searches the (loopback)
// network, the dock found is listed and chosen, and a Read fills the pages.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "Fixture.h"
#include "MainForm.h"
#include "NetDockServer.h"
#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

TEST(NetLinkWindow, EthernetListsTheDockAndReadsIt)
{
    testsupport::ScopedTempRoot tmp;
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
    QTemporaryDir dock;
    const docksim::FixtureManifest manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 4);
    ASSERT_TRUE(manifest.ok());
    // The dock in this process, on its own loopback address.
    docksim::NetServerOptions options;
    options.address = QHostAddress("127.0.0.2");
    options.udpPort = 0;
    options.tcpPort = 0;
    docksim::NetDockServer server(dock.path(), options);
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();

    ScriptedOperatorPort port;
    AppState state(&port);
    auto window = std::make_unique<TMainForm>(&state);
    window->show();
    TMainCore& core = window->core();
    core.FinalPauseSec = 0;
    state.settings.ConfigSetEtcAutoPurgeCheck = false;
    state.settings.NetworkInterfaces = "127.0.0.1";
    state.settings.ConfigPrNNetworkSubnetEdit = "255.0.0.0";
    state.settings.ConfigPrNNetworkPortEdit = server.udpPort();
    InstallLanLink(core, [] { return QStringList{"127.0.0.1"}; });

    window->findChild<QRadioButton*>("OpDeviceConnectUdpRadio")->click();
    auto* combo = window->findChild<QComboBox*>("OpDeviceConnectLanListCombo");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), LangText(734));
    EXPECT_EQ(combo->currentText(), "[" + manifest.dockSerial + "] 127.0.0.2");

    QTest::mouseClick(window->findChild<QPushButton*>("OpReadBtn"), Qt::LeftButton);
    EXPECT_EQ(port.statusText, LangText(718));
    EXPECT_EQ(window->findChild<QLineEdit*>("DockInfoSNEdit")->text(), manifest.dockSerial);
    EXPECT_EQ(window->findChild<QLineEdit*>("DockInfoLocationEdit")->text(), manifest.location);
    EXPECT_GE(core.UdpSkt.LogListCount(), manifest.logs.size());

    // A typed address replaces the dock the list points at.
    combo->setEditText("127.0.0.9");
    EXPECT_EQ(core.OpDeviceConnectLanListComboIndex, -1);
    EXPECT_EQ(core.OpDeviceConnectLanListComboText, "127.0.0.9");
    window.reset();
    QDir::setCurrent(oldCwd);
}
