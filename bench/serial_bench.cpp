// Download over the USB cable: the program's serial link against the simulated
// dock in its own process on a pseudo-terminal. With the line rate emulated,
// the time for 1 MiB is set against the time the bytes need on a 115200 bit/s
// line, and the program's processor time against the wall time; without it,
// the raw throughput.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "Fixture.h"
#include "link/serial/DockComm.h"
#include "platform/Platform.h"

namespace {

const QString kLogName = QStringLiteral("BENCH01_TESTLOG_2025_06.CSV");

struct Server {
    QProcess proc;
    QString port;
};

bool startServer(Server& s, const QString& program, const QString& dock, bool lineRate)
{
    QStringList args{QStringLiteral("serve-serial"), dock, QStringLiteral("--fast")};
    if (lineRate)
        args << QStringLiteral("--line-rate");
    s.proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    s.proc.start(program, args);
    if (!s.proc.waitForStarted(5000))
        return false;
    while (!s.proc.canReadLine()) {
        if (!s.proc.waitForReadyRead(5000))
            return false;
    }
    const QString line = QString::fromLocal8Bit(s.proc.readLine()).trimmed();
    if (!line.startsWith(QLatin1String("PTY ")))
        return false;
    s.port = line.mid(4);
    return true;
}

void stopServer(Server& s)
{
    s.proc.closeWriteChannel(); // the simulator ends when its standard input closes
    if (!s.proc.waitForFinished(3000)) {
        s.proc.terminate();
        s.proc.waitForFinished(3000);
    }
}

struct Run {
    bool ok = false;
    double wallS = 0;
    double cpuS = 0;
    QString error;
};

// One LoadLogFile of the big log through the unit interface.
Run download(const QString& program, const QString& dock, const QByteArray& expected, bool lineRate)
{
    Run run;
    Server server;
    if (!startServer(server, program, dock, lineRate)) {
        run.error = QStringLiteral("the simulator did not start");
        return run;
    }
    TDockComm unit;
    if (!unit.OpenComm(server.port)) {
        run.error = QStringLiteral("OpenComm(%1): %2").arg(server.port, unit.FErrStr);
        stopServer(server);
        return run;
    }
    RFileList entry;
    entry.mName = QStringLiteral("/LOG/DOCK/") + kLogName;
    entry.mSize = expected.size();
    entry.mLevelStr = QStringLiteral("001001");
    entry.mOpt = UNIT_OPT_DOCK;
    entry.mFatName = kLogName;

    QElapsedTimer wall;
    const std::clock_t cpu0 = std::clock();
    wall.start();
    const uint8_t rc = unit.LoadLogFile(entry);
    run.wallS = wall.nsecsElapsed() / 1e9;
    run.cpuS = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    unit.CloseComm();
    stopServer(server);

    const QString copy = platform::TransferFolder() + QStringLiteral("LOG/DOCK/") + kLogName;
    QFile f(copy);
    if (rc != 0) {
        run.error = QStringLiteral("LoadLogFile gave %1").arg(rc);
    } else if (!f.open(QIODevice::ReadOnly) || f.readAll() != expected) {
        run.error = QStringLiteral("the copy %1 differs from the dock's file").arg(copy);
    } else {
        run.ok = true;
    }
    QFile::remove(copy);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 size = 1024 * 1024;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--bytes")
            size = std::max<qint64>(1, QByteArray(argv[i + 1]).toLongLong());
    }

    // A transfer folder of its own; the empty TMPDIR holds no older one to take over.
    QTemporaryDir work;
    qputenv("HOME", (work.path() + "/home").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (work.path() + "/state").toLocal8Bit());
    qputenv("TMPDIR", (work.path() + "/tmp").toLocal8Bit());
    QDir().mkpath(work.path() + "/home");
    QDir().mkpath(work.path() + "/tmp");
    QString folderError;
    if (!platform::PrepareTransferFolder(&folderError)) {
        std::fprintf(stderr, "%s\n", qPrintable(folderError));
        return 1;
    }
    QDir().mkpath(platform::TransferFolder() + QStringLiteral("LOG/DOCK"));
    QDir::setCurrent(MARVANE_BINARY_DIR);

    const QString program = QStringLiteral(MARVANE_BINARY_DIR "/docksim/marvane-docksim");
    if (!QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "%s is missing: build the marvane-docksim target first\n", qPrintable(program));
        return 1;
    }
    const QString dock = work.path() + "/dock";
    const docksim::FixtureManifest m = docksim::WriteFixture(dock, docksim::FixtureSize::Small, 1);
    if (!m.ok()) {
        std::fprintf(stderr, "fixture: %s\n", qPrintable(m.error));
        return 1;
    }
    // A dock log of the wanted size: CSV-like lines, not one repeated byte.
    QByteArray log;
    log.reserve(size);
    for (int n = 0; log.size() < size; ++n)
        log += QByteArray("2025-06-01,12:") + QByteArray::number(n % 60) + ",BAY" + QByteArray::number(n % 4 + 1)
               + ",GD" + QByteArray::number(100000 + n) + ",PASS," + QByteArray::number(n * 7 % 1000) + "\r\n";
    log.truncate(size);
    QFile out(dock + "/LOG/DOCK/" + kLogName);
    if (!out.open(QIODevice::WriteOnly) || out.write(log) != log.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out.fileName()));
        return 1;
    }
    out.close();

    const double floorS = size * 10.0 / 115200;
    // What the frames add on top: request and reply framing, block markers, the
    // path in every request (the simulator's default of 900 file bytes a block).
    qint64 frameBytes = 0;
    const qint64 blocks = (size + 899) / 900;
    const qint64 requestBytes = 6 + 1 + (QStringLiteral("/LOG/DOCK/") + kLogName).size();
    for (qint64 k = 1; k <= blocks; ++k)
        frameBytes += requestBytes + 7 + QByteArray::number(k % 256).size() + 2 + (k == blocks ? 5 : 6)
                      + std::min<qint64>(900, size - (k - 1) * 900);
    frameBytes += 2 + QByteArray::number(size).size(); // the size in the first block
    const double protocolS = frameBytes * 10.0 / 115200;
    std::printf("serial download of %lld bytes through TDockComm::LoadLogFile, simulator in its own process\n",
                qlonglong(size));

    const Run slow = download(program, dock, log, true);
    if (!slow.ok) {
        std::fprintf(stderr, "line-rate run failed: %s\n", qPrintable(slow.error));
        return 1;
    }
    std::printf("line rate 115200 bit/s emulated:\n");
    std::printf("  download time:              %8.2f s\n", slow.wallS);
    std::printf("  wire time of the bytes:     %8.2f s (10 bits a byte)\n", floorS);
    std::printf("  ratio download / wire:      %8.3f (target <= 1.10)\n", slow.wallS / floorS);
    std::printf("  wire time of all frames:    %8.2f s (%.3f of the file's; the rest is turn-around)\n", protocolS,
                protocolS / floorS);
    std::printf("  program CPU time:           %8.2f s = %.1f %% of wall time (target <= 10 %%)\n", slow.cpuS,
                100.0 * slow.cpuS / slow.wallS);

    double best = 0;
    double bestCpu = 0;
    for (int i = 0; i < 3; ++i) {
        const Run fast = download(program, dock, log, false);
        if (!fast.ok) {
            std::fprintf(stderr, "unthrottled run failed: %s\n", qPrintable(fast.error));
            return 1;
        }
        if (best == 0 || fast.wallS < best) {
            best = fast.wallS;
            bestCpu = fast.cpuS;
        }
    }
    std::printf("no line rate (best of 3):\n");
    std::printf("  download time:              %8.3f s\n", best);
    std::printf("  throughput:                 %8.2f MB/s (%.0f times the 115200 bit/s line)\n", size / best / 1e6,
                floorS / best);
    std::printf("  program CPU time:           %8.3f s\n", bestCpu);
    return 0;
}
