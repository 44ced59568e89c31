// The network links against the simulated dock in its own process, on loopback:
// the UDP download of a dock image against the same number of bare round trips
// of a minimal client, the processor time while waiting for a silent dock, and a
// Read of the small fixture over UDP, over TCP and from the USB drive.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cstdio>
#include <ctime>

#include "Fixture.h"
#include "app/MainCore.h"

namespace {

const QString kAddress = QStringLiteral("127.0.0.2");

struct Server {
    QProcess proc;
    int udp = 0, tcp = 0;
    bool start(const QString& program, const QString& dock, const QStringList& extra)
    {
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(program, QStringList{"serve-net", dock, "--fast", "--address", kAddress, "--udp-port", "0",
                                        "--tcp-port", "0"} +
                                extra);
        if (!proc.waitForStarted(5000))
            return false;
        while (!proc.canReadLine())
            if (!proc.waitForReadyRead(5000))
                return false;
        const QStringList f = QString::fromLocal8Bit(proc.readLine()).trimmed().split(' ');
        if (f.size() != 4 || f[0] != "UDP")
            return false;
        udp = f[1].toInt();
        tcp = f[3].toInt();
        return true;
    }
    ~Server()
    {
        proc.closeWriteChannel();
        if (!proc.waitForFinished(3000)) {
            proc.terminate();
            proc.waitForFinished(3000);
        }
    }
};

double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

// The floor: the same requests, one datagram each, answered by the same simulator.
double bareRoundTrips(int port, const QByteArray& path, int count)
{
    QUdpSocket s;
    if (!s.bind(QHostAddress::AnyIPv4, quint16(port + 1)))
        return -1;
    QElapsedTimer t;
    t.start();
    for (int k = 0; k < count; ++k) {
        s.writeDatagram("GET File " + path + "@order=" + QByteArray::number(k) + ' ', QHostAddress(kAddress),
                        quint16(port));
        if (!s.waitForReadyRead(5000))
            return -1;
        while (s.hasPendingDatagrams())
            s.readDatagram(nullptr, 0);
    }
    return t.nsecsElapsed() / 1e9;
}

double download(TUdpSkt& u, const QString& dockPath, qint64 size, const QString& local, int* requests)
{
    // Requests are counted on a first pass only: the traffic text costs time of its own.
    int sent = 0;
    if (*requests == 0)
        u.OnSend = [&](const QString& s) {
            if (s.contains("GET File"))
                ++sent;
        };
    QElapsedTimer t;
    t.start();
    const uint8_t r = u.LoadFile(local, dockPath, size);
    const double s = t.nsecsElapsed() / 1e9;
    if (*requests == 0)
        *requests = sent;
    u.OnSend = nullptr;
    return r == 0 && QFileInfo(local).size() == size ? s : -1;
}

double readOnce(LinkChoice link, const QString& dock, const QString& store, int udp, int tcp, bool pauses = true)
{
    ScriptedOperatorPort port;
    AppState state(&port);
    state.StartUp();
    state.FLogDestDir = store;
    QDir().mkpath(store);
    state.settings.ConfigSetEtcAutoPurgeCheck = false;
    state.settings.NetworkInterfaces = QStringLiteral("127.0.0.1");
    state.settings.ConfigPrNNetworkPortEdit = udp;
    state.settings.NetworkTcpPort = tcp;
    TMainCore core(state, port);
    core.editors.InitConst();
    core.FinalPauseSec = 0;
    core.USBDisk.RemovableRoots = [] { return QStringList(); };
    core.LoadLanConnect = nullptr; // the dock is named by its address
    if (!pauses) {
        core.UdpSkt.FResetPauseMs = 0;
        core.TCPSkt.FAfterPauseMs = 0;
    }
    core.SelectLink(link);
    core.OpDeviceConnectLanListComboText = kAddress;
    port.folderAnswers << dock;
    QElapsedTimer t;
    t.start();
    const bool ok = core.OpReadBtnClick();
    const double s = t.nsecsElapsed() / 1e9;
    if (!ok)
        std::fprintf(stderr, "Read failed: %s\n", qPrintable(port.statusText));
    return ok ? s : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Each figure shows as it comes, also into a pipe or a log file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir work;
    qputenv("TMPDIR", (work.path() + "/tmp").toLocal8Bit());
    qputenv("HOME", (work.path() + "/home").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (work.path() + "/state").toLocal8Bit());
    QDir().mkpath(work.path() + "/tmp");
    QDir().mkpath(work.path() + "/home");
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
    const QString image = '/' + m.newestDockImage;
    const qint64 size = QFileInfo(dock + image).size();

    Server server;
    if (!server.start(program, dock, {})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    std::printf("network links against marvane-docksim serve-net on %s (UDP %d, TCP %d)\n\n", qPrintable(kAddress),
                server.udp, server.tcp);

    // 1. UDP download against bare round trips.
    TUdpSkt u;
    u.RemotePort = quint16(server.udp);
    if (!u.OpenComm(kAddress)) {
        std::fprintf(stderr, "OpenComm: %s\n", qPrintable(u.FErrStr));
        return 1;
    }
    const QString local = work.path() + "/image.bin";
    int requests = 0;
    download(u, image, size, local, &requests);
    double best = 1e9, bestNoPause = 1e9;
    for (int i = 0; i < 5; ++i) {
        u.FResetPauseMs = 50;
        const double s = download(u, image, size, local, &requests);
        u.FResetPauseMs = 0;
        const double s0 = download(u, image, size, local, &requests);
        if (s < 0 || s0 < 0) {
            std::fprintf(stderr, "the download failed\n");
            return 1;
        }
        best = std::min(best, s);
        bestNoPause = std::min(bestNoPause, s0);
    }
    u.CloseComm();
    double floorS = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double f = bareRoundTrips(server.udp, image.toLatin1(), requests);
        if (f < 0) {
            std::fprintf(stderr, "the bare round trips failed\n");
            return 1;
        }
        floorS = std::min(floorS, f);
    }
    const int resets = requests / 20 + 1;
    std::printf("UDP download of %lld bytes (%d requests, %d reset datagrams), best of 5:\n", qlonglong(size), requests,
                resets);
    std::printf("  bare round trips (minimal QUdpSocket client): %8.3f s\n", floorS);
    std::printf("  TUdpSkt::LoadFile, 50 ms pause per reset:     %8.3f s = %.2f x floor\n", best, best / floorS);
    std::printf("    of which the %d reset pauses:                %8.3f s\n", resets, resets * 0.05);
    std::printf("  TUdpSkt::LoadFile, without the pauses:        %8.3f s = %.2f x floor (target <= 1.5)\n\n",
                bestNoPause, bestNoPause / floorS);

    // 2. Waiting for a silent dock.
    {
        Server silent;
        if (!silent.start(program, dock, {"--fault", "silent", "--no-tcp"})) {
            std::fprintf(stderr, "the silent simulator did not start\n");
            return 1;
        }
        TUdpSkt s;
        s.RemotePort = quint16(silent.udp);
        s.OpenComm(kAddress);
        QElapsedTimer t;
        const double cpu0 = cpuSeconds();
        t.start();
        QString sn, ver;
        const uint8_t r = s.GetDeviceInfo(sn, ver);
        const double wall = t.nsecsElapsed() / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        std::printf("waiting for a silent dock (one command, result %u \"%s\"):\n", r, qPrintable(TUdpSkt::GetError(r)));
        std::printf("  wall time:                                    %8.3f s\n", wall);
        std::printf("  program CPU time:                             %8.4f s = %.2f %% of the wall time (target <= 2 %%)\n\n",
                    cpu, 100.0 * cpu / wall);
    }

    // 3. The same Read over each link.
    const double usb = readOnce(LinkChoice::Disk, dock, work.path() + "/store1/", 0, 0);
    const double udp = readOnce(LinkChoice::Udp, dock, work.path() + "/store2/", server.udp, server.tcp);
    const double tcp = readOnce(LinkChoice::Lan, dock, work.path() + "/store3/", server.udp, server.tcp);
    const double udp0 = readOnce(LinkChoice::Udp, dock, work.path() + "/store4/", server.udp, server.tcp, false);
    const double tcp0 = readOnce(LinkChoice::Lan, dock, work.path() + "/store5/", server.udp, server.tcp, false);
    if (usb < 0 || udp < 0 || tcp < 0 || udp0 < 0 || tcp0 < 0)
        return 1;
    std::printf("Read of the small fixture (%lld log files, %lld bytes):\n", qlonglong(m.logs.size()),
                qlonglong(m.totalBytes));
    std::printf("  USB drive:                                    %8.3f s\n", usb);
    std::printf("  Ethernet (UDP):                               %8.3f s = %.1f x USB\n", udp, udp / usb);
    std::printf("  TCP:                                          %8.3f s = %.1f x USB\n", tcp, tcp / usb);
    std::printf("  the same without the links' fixed pauses (50 ms per UDP reset datagram, 0.1 s per TCP request):\n");
    std::printf("  Ethernet (UDP):                               %8.3f s = %.1f x USB\n", udp0, udp0 / usb);
    std::printf("  TCP:                                          %8.3f s = %.1f x USB\n", tcp0, tcp0 / usb);
    return 0;
}
