// Cancel during a cable Read and a cable Write, pressed as a person would while
// the window waits for the dock: the operation stops at the next file, keeps what
// was completely copied, leaves no partial file and says so. The progress display
// stays visible and readable meanwhile.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "Fixture.h"
#include "MainForm.h"
#include "QtOperatorPort.h"
#include "SerialDockServer.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "link/serial/DockComm.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace {

// Questions are scripted; what the window shows goes to its real widgets too.
class MirrorPort : public ScriptedOperatorPort {
public:
    QtOperatorPort* qt = nullptr;
    QWidget* window = nullptr;
    // What the person saw of the progress display while files were copied.
    int barsSeenLive = 0;
    QStringList captions;
    void setBusy(bool b) override
    {
        ScriptedOperatorPort::setBusy(b);
        if (qt)
            qt->setBusy(b);
    }
    void setStatus(const QString& t, StatusLook l) override
    {
        ScriptedOperatorPort::setStatus(t, l);
        if (qt)
            qt->setStatus(t, l);
    }
    void setProgressBars(bool f, bool a) override
    {
        ScriptedOperatorPort::setProgressBars(f, a);
        if (qt)
            qt->setProgressBars(f, a);
    }
    void setProgress(int fv, int fm, int av, int am) override
    {
        ScriptedOperatorPort::setProgress(fv, fm, av, am);
        if (qt)
            qt->setProgress(fv, fm, av, am);
    }
    void setProgressCaption(const QString& c) override
    {
        ScriptedOperatorPort::setProgressCaption(c);
        if (qt)
            qt->setProgressCaption(c);
        captions << c;
        auto* bar = window ? window->findChild<QProgressBar*>("OpAllProgressbar") : nullptr;
        if (bar && bar->isVisible() && bar->isEnabled() && bar->maximum() > 0)
            ++barsSeenLive;
    }
};

class CancelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 9);
        ASSERT_TRUE(manifest.ok());
        QString error;
        auto pair = platform::OpenPseudoTerminal(&error);
        ASSERT_TRUE(pair.has_value()) << error.toStdString();
        pty = *pair;
        server = std::make_unique<docksim::SerialDockServer>(dock.path(), docksim::SerialServerOptions{});
        ASSERT_TRUE(server->start(pty.masterFd, &error)) << error.toStdString();

        state.FLogDestDir = tmp.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        window = std::make_unique<TMainForm>(&state);
        window->show();
        port.qt = &window->qtPort();
        port.window = window.get();
        window->core().FinalPauseSec = 0;
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        find<QRadioButton>("OpDeviceConnectCommRadio")->click();
        find<QComboBox>("OpDeviceConnectCommPortCombo")->setEditText(pty.slavePath);
        cancel = find<QPushButton>("OpAutoCancelBtn");
    }
    void TearDown() override
    {
        window.reset();
        server.reset();
        platform::ClosePseudoTerminal(pty);
        QDir::setCurrent(m_oldCwd);
    }
    template <class T> T* find(const char* name)
    {
        T* p = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    // Presses Cancel once the dock has served this many requests of a command.
    void cancelAfter(int command, int count)
    {
        m_served = 0;
        QObject::connect(server.get(), &docksim::SerialDockServer::requestServed, window.get(),
                         [this, command, count](int c) {
                             if (c != command || ++m_served != count)
                                 return;
                             progressSeen = find<QProgressBar>("OpProgressBar")->isVisible() &&
                                            find<QProgressBar>("OpProgressBar")->isEnabled();
                             captionSeen = find<QLabel>("OpProgressLabel")->text();
                             historyUsable = find<QWidget>("DebugTS")->isEnabled() &&
                                             !find<QWidget>("DockTS")->isEnabled() &&
                                             !find<QWidget>("OpReadBtn")->isEnabled() &&
                                             cancel->isEnabled();
                             QTest::mouseClick(cancel, Qt::LeftButton);
                         });
    }
    static QStringList filesIn(const QString& dir)
    {
        QStringList out;
        QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        return out;
    }

    testsupport::ScopedTempRoot tmp;
    QTemporaryDir dock;
    docksim::FixtureManifest manifest;
    platform::PtyPair pty;
    std::unique_ptr<docksim::SerialDockServer> server;
    MirrorPort port;
    AppState state{&port};
    std::unique_ptr<TMainForm> window;
    QPushButton* cancel = nullptr;
    QString m_oldCwd;
    int m_served = 0;
    bool progressSeen = false;
    bool historyUsable = false;
    QString captionSeen;
};

} // namespace

TEST_F(CancelTest, CancelDuringAReadKeepsCompleteCopiesOnly)
{
    cancelAfter(DOCKCOMM_CMD_LOADFILE, 12);
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);

    EXPECT_EQ(port.statusText, LangText(779));
    // The person's own Cancel is said neutrally, in History too.
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Neutral);
    EXPECT_TRUE(port.history.last().endsWith(LangText(779)));
    EXPECT_FALSE(port.history.last().contains(LangText(709)));
    EXPECT_TRUE(progressSeen);
    EXPECT_TRUE(historyUsable);
    EXPECT_TRUE(captionSeen.contains(LangText(546).arg(1).section(' ', 1, 1))) << captionSeen.toStdString();
    EXPECT_FALSE(state.FExe);
    EXPECT_TRUE(find<QPushButton>("OpReadBtn")->isEnabled());

    // Every staged log is a whole copy of the dock's file; some were never fetched.
    const QString staging = AppState::TransferFolder() + "LOG/";
    const QStringList staged = filesIn(staging);
    int logs = 0;
    for (const docksim::ManifestLog& log : manifest.logs)
        logs += log.kind != docksim::LogKind::None ? 1 : 0;
    EXPECT_LT(staged.size(), logs);
    for (const QString& f : staged) {
        EXPECT_FALSE(QFileInfo(f).fileName().startsWith('.')) << f.toStdString();
        bool matched = false;
        for (const docksim::ManifestLog& log : manifest.logs)
            if (QFileInfo(log.path).fileName() == QFileInfo(f).fileName())
                matched = testsupport::readAll(dock.path() + '/' + log.path) == testsupport::readAll(f);
        EXPECT_TRUE(matched) << f.toStdString();
    }

    // The next Read goes to the end.
    QObject::disconnect(server.get(), nullptr, window.get(), nullptr);
    port.yesNoAnswers << "no"; // the logs of the cancelled Read are not saved first
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    EXPECT_EQ(port.statusText, LangText(718));
}

TEST_F(CancelTest, CancelDuringAWriteStopsBeforeTheNextFile)
{
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    ASSERT_EQ(port.statusText, LangText(718));
    QMap<QString, QByteArray> before;
    for (const QString& f : filesIn(dock.path() + "/CONFIG"))
        before[f] = testsupport::readAll(f);

    auto* location = find<QLineEdit>("DockInfoLocationEdit");
    location->selectAll();
    QTest::keyClicks(location, "Hall 9");
    QTest::keyClick(location, Qt::Key_Tab);
    port.yesNoAnswers << "yes";
    cancelAfter(DOCKCOMM_CMD_PUTFILE, 1); // while the first file goes up
    QTest::mouseClick(find<QPushButton>("OpWriteBtn"), Qt::LeftButton);

    EXPECT_EQ(port.statusText, LangText(779));
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Neutral);
    // The file being sent was finished; the ones after it were never started.
    int changed = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        changed += testsupport::readAll(it.key()) != it.value() ? 1 : 0;
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(testsupport::readAll(dock.path() + "/CONFIG/DOCK/DOCK.CFG").contains("Location=Hall 9"));
    EXPECT_EQ(filesIn(dock.path() + "/CONFIG").size(), before.size());
}

TEST_F(CancelTest, AUsbDriveReadShowsItsProgressLikeTheCable)
{
    find<QRadioButton>("OpDeviceConnectDiskRadio")->click();
    const QString root = dock.path();
    window->core().USBDisk.RemovableRoots = [root] { return QStringList{root}; };
    QTest::mouseClick(find<QPushButton>("OpReadBtn"), Qt::LeftButton);
    ASSERT_EQ(port.statusText, LangText(718));
    // Every log copy moved the bars, which stayed visible and enabled, and said which file of how many.
    int numbered = 0;
    for (const QString& c : port.captions)
        numbered += c.contains(LangText(546).arg(1).arg(2).section(' ', 1, 1)) ? 1 : 0;
    EXPECT_GT(numbered, 10);
    EXPECT_GT(port.barsSeenLive, 10);
    EXPECT_GT(port.allMax, 0);
    EXPECT_EQ(port.allValue, port.allMax);
    EXPECT_TRUE(port.history.join('\n').contains(LangText(543).section(':', 0, 0)));
}
