// The local store with more than one process: two writers of the alert store, a
// second user of the transfer folder, and save-log and auto killed at random
// moments. What was stored is checked byte for byte against the dock's files.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QUdpSocket>
#include <csignal>
#include <cstdio>

#include "Fixture.h"
#include "app/AppState.h"
#include "app/TransferLock.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

namespace {

using testsupport::readAll;

class StoreSafety : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot root;
    QString dock, store;
    docksim::FixtureManifest manifest;
    QHash<QString, QByteArray> original; // manifest path -> bytes as generated

    void SetUp() override
    {
        dock = root.path() + "/dock";
        store = root.path() + "/store/";
        QDir().mkpath(store);
        manifest = docksim::WriteFixture(dock, docksim::FixtureSize::Small, 7);
        ASSERT_TRUE(manifest.ok()) << manifest.error.toStdString();
        for (const docksim::ManifestLog& l : manifest.logs)
            original.insert(l.path, readAll(dock + '/' + l.path));
        for (const QString& other : manifest.otherFiles)
            original.insert(other, readAll(dock + '/' + other));
        ASSERT_EQ(cli({"settings", "set", "SET/LogDestination=" + store, "ETC/PurgeDay=30"}), 0);
    }

    int cli(const QStringList& args, QString* output = nullptr, int timeoutMs = 120000)
    {
        QProcess p;
        p.start(MARVANE_CLI, args);
        const bool finished = p.waitForFinished(timeoutMs);
        if (output)
            *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QStringList readUsb() const
    {
        return {"read", "--link", "usb", "--target", dock, "--purge", "yes", "--save-first", "yes"};
    }

    QVector<RDockReport> storeRecords() const
    {
        RDockReportHeader h;
        QVector<RDockReport> r;
        DecodeReportBin(readAll(store + "Report.Bin"), h, r);
        return r;
    }

    // Every result of the dock is in the store (the same bytes) or still on the
    // dock; no stored file differs from the dock's file it is a copy of.
    void expectNothingLost(const QString& when)
    {
        SCOPED_TRACE(when.toStdString());
        QHash<QString, QList<QByteArray>> byName;
        for (auto it = original.constBegin(); it != original.constEnd(); ++it)
            byName[QFileInfo(it.key()).fileName().toUpper()] << it.value();
        static const QRegularExpression variant("_\\d+(\\.[^.]+)$");
        QHash<QString, QList<QByteArray>> stored;
        for (QDirIterator it(store, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            const QString rel = path.mid(store.size());
            if (!rel.startsWith("KM1/") && !rel.startsWith("DOCK/"))
                continue;
            const QString name = QFileInfo(path).fileName();
            EXPECT_FALSE(name.startsWith(".mvcopy-")) << "left over: " << rel.toStdString();
            if (name.startsWith('.'))
                continue;
            QString base = name.toUpper();
            if (!byName.contains(base))
                base.replace(variant, "\\1");
            const QByteArray bytes = readAll(path);
            EXPECT_TRUE(byName.value(base).contains(bytes)) << "not a dock file's bytes: " << rel.toStdString();
            stored[base] << bytes;
        }
        int onDock = 0;
        for (const docksim::ManifestLog& l : manifest.logs) {
            if (l.kind == docksim::LogKind::None || l.kind == docksim::LogKind::DockLog)
                continue;
            const bool there = QFileInfo::exists(dock + '/' + l.path);
            onDock += there ? 1 : 0;
            EXPECT_TRUE(there || stored.value(QFileInfo(l.path).fileName().toUpper()).contains(original[l.path]))
                << "lost: " << l.path.toStdString();
        }
        if (QFileInfo::exists(store + "Report.Bin")) {
            EXPECT_EQ(ReportBinDamage(readAll(store + "Report.Bin")), QString());
        }
        (void)onDock;
    }
};

} // namespace

TEST_F(StoreSafety, TwoWritersOfTheAlertStoreEachKeepTheOthersInstruments)
{
    AppState state;
    state.FLogDestDir = store;
    // This process loaded the store before another process saved a whole dock.
    TReportStore service(state);
    ASSERT_TRUE(service.LoadResult());
    QString out;
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    ASSERT_EQ(cli({"save-log"}, &out), 0) << out.toStdString();
    const QByteArray saved = readAll(store + "Report.Bin");
    QStringList dockSerials;
    for (const RDockReport& r : storeRecords())
        dockSerials << r.mSN;
    ASSERT_GE(dockSerials.size(), 3);

    // Its own instrument, folded into the copy it loaded earlier.
    const QString name = "ZZ0001_BUMP_2405011000.XML";
    const docksim::ManifestLog* bump = nullptr;
    for (const docksim::ManifestLog& l : manifest.logs)
        if (l.kind == docksim::LogKind::Bump)
            bump = &l;
    ASSERT_TRUE(bump);
    testsupport::writeAll(StoreInstrumentDir(store, "ZZ0001") + "BUMP/" + name, original[bump->path]);
    RUnitLogList e;
    e.mName = "/LOG/TEST/" + name;
    e.mAliasName = "ZZ0001";
    e.mOpt = UNIT_OPT_GDBUMP;
    service.MakeBumpResult({e}, {0});
    service.CheckResult();
    ASSERT_TRUE(service.SaveResult());

    QStringList now;
    for (const RDockReport& r : storeRecords())
        now << r.mSN;
    for (const QString& sn : dockSerials)
        EXPECT_TRUE(now.contains(sn)) << sn.toStdString();
    EXPECT_TRUE(now.contains("ZZ0001"));
    EXPECT_EQ(now.size(), dockSerials.size() + 1);
    // The other process's store is the backup, byte for byte.
    EXPECT_EQ(readAll(store + "Report.Bin.bak"), saved);

    // A damaged store is named, kept and not saved over: report and save-log say exit 1.
    QByteArray damaged = readAll(store + "Report.Bin");
    damaged[0] = char(9);
    testsupport::writeAll(store + "Report.Bin", damaged);
    EXPECT_EQ(cli({"report"}, &out), 1);
    EXPECT_TRUE(out.contains("Report.Bin")) << out.toStdString();
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    EXPECT_EQ(cli({"save-log"}, &out), 1);
    EXPECT_TRUE(out.contains("Report.Bin")) << out.toStdString();
    EXPECT_EQ(readAll(store + "Report.Bin"), damaged);
}

TEST_F(StoreSafety, TheTransferFolderHasOneUserAtATime)
{
    QString out;
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    ASSERT_EQ(cli({"save-log"}, &out), 0) << out.toStdString();
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    auto snapshot = [](const QString& folder) {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString p = it.next();
            if (!p.endsWith("IN_USE.LCK"))
                files.insert(p, readAll(p));
        }
        return files;
    };
    const auto before = snapshot(root.transferFolder());
    const QByteArray bin = readAll(store + "Report.Bin");

    // This process holds the transfer folder: every command that would change it refuses.
    TTransferLock lock;
    ASSERT_TRUE(lock.acquire());
    const QString pid = QString::number(QCoreApplication::applicationPid());
    for (const QStringList& args : {readUsb(), QStringList{"save-log"}, QStringList{"report"},
                                    QStringList{"purge", "--link", "usb", "--target", dock, "--yes"},
                                    QStringList{"write", "--link", "usb", "--target", dock, "--yes"}}) {
        SCOPED_TRACE(args.first().toStdString());
        EXPECT_EQ(cli(args, &out), 1);
        EXPECT_TRUE(out.contains("in use by")) << out.toStdString();
        EXPECT_TRUE(out.contains("(process " + pid + ")")) << out.toStdString();
    }
    // Commands that only look keep working.
    EXPECT_EQ(cli({"config", "show"}, &out), 0) << out.toStdString();
    EXPECT_EQ(cli({"settings", "show"}, &out), 0) << out.toStdString();
    EXPECT_EQ(snapshot(root.transferFolder()), before);
    EXPECT_EQ(readAll(store + "Report.Bin"), bin);
    lock.release();
    EXPECT_EQ(cli({"save-log"}, &out), 0) << out.toStdString();
}

TEST_F(StoreSafety, SaveLogKilledAtRandomMomentsLosesNothing)
{
    QString out;
    const quint32 base = QRandomGenerator::global()->generate();
    for (int i = 0; i < 6; ++i) {
        const quint32 seed = base + quint32(i);
        std::fprintf(stderr, "[ save-log crash ] seed %u\n", seed);
        QRandomGenerator rng(seed);
        ASSERT_EQ(cli(readUsb(), &out), 0) << "seed " << seed << out.toStdString();
        QProcess p;
        p.start(MARVANE_CLI, {"save-log"});
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(rng.bounded(20, 600));
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(10000);
        expectNothingLost(QStringLiteral("after the kill of seed %1").arg(seed));
    }
    // The next run works: the lock of the killed process is stale, its leftovers go.
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    ASSERT_EQ(cli({"save-log"}, &out), 0) << out.toStdString();
    ASSERT_EQ(cli(readUsb(), &out), 0) << out.toStdString();
    expectNothingLost("after the last run");
    EXPECT_GE(storeRecords().size(), 3);
}

TEST_F(StoreSafety, AutoKilledAtRandomMomentsLosesNothing)
{
    const quint16 port = testsupport::FreeDockPort();
    ASSERT_NE(port, 0);
    QProcess sim;
    sim.start(MARVANE_DOCKSIM, {"serve-net", dock, "--address", "127.0.0.2", "--udp-port", QString::number(port),
                                "--no-tcp", "--fast"});
    QByteArray simOut;
    QElapsedTimer t;
    t.start();
    while (!simOut.contains("UDP ") && t.elapsed() < 10000) {
        sim.waitForReadyRead(200);
        simOut += sim.readAllStandardOutput();
    }
    ASSERT_TRUE(simOut.contains("UDP ")) << simOut.toStdString();
    ASSERT_EQ(cli({"settings", "set", "NETWORK/Interfaces=127.0.0.1", "NETWORK/SubnetMask=255.0.0.0",
                   "NETWORK/Port=" + QString::number(port), "EMAIL/Server="}),
              0);
    QString out;
    const quint32 base = QRandomGenerator::global()->generate();
    for (int i = 0; i < 5; ++i) {
        const quint32 seed = base + quint32(i);
        std::fprintf(stderr, "[ auto crash ] seed %u\n", seed);
        QRandomGenerator rng(seed);
        QProcess p;
        p.start(MARVANE_CLI, {"auto", "--cycles", "1"});
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(rng.bounded(100, 4000));
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(10000);
        expectNothingLost(QStringLiteral("after the kill of seed %1").arg(seed));
    }
    ASSERT_EQ(cli({"auto", "--cycles", "1"}, &out), 0) << out.toStdString();
    expectNothingLost("after the last run");
    EXPECT_GE(storeRecords().size(), 3);
    sim.closeWriteChannel();
    if (!sim.waitForFinished(3000))
        sim.kill();
}
