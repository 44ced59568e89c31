// Certificate pages: the time to draw one page of each layout into the preview
// bitmap and into a PDF, and "certificate --store" over 100 and 1,000 results
// (wall time and peak memory; the larger may use at most 1.5 times the memory of
// the smaller, and its time should grow about tenfold).
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "DockFiles.h"
#include "logview/CertPage.h"
#include "logview/TestResult.h"

namespace {

RDockTestInfo sample(bool cal)
{
    docksim::TestResult t;
    t.calibration = cal;
    t.serial = QStringLiteral("GA0042");
    t.dockSerial = QStringLiteral("DK01");
    t.gas = 1;
    t.location = QStringLiteral("North gate");
    t.gasLot = QStringLiteral("LOT-1");
    t.when = QDateTime(QDate(2024, 5, 1), QTime(10, 0));
    t.concentration = 100;
    t.variant = 0;
    QRandomGenerator rng(1);
    RDockTestInfo r;
    GetDockTestInfoFromData(cal ? TEST_KIND_CAL : TEST_KIND_BUMP, docksim::TestResultXml(t, rng), r);
    return r;
}

template <class F> double bestMs(F&& f, int rounds = 5)
{
    double best = 1e18;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

struct RunStats {
    int status = -1;
    double wallMs = 0;
    long maxRssKb = 0;
};

// One run of the command line in its own process, measured by the kernel.
RunStats runCli(const QString& cli, const QStringList& args, const QString& root)
{
    QList<QByteArray> store;
    store << cli.toLocal8Bit();
    for (const QString& a : args)
        store << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& b : store)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray tmp = root.toLocal8Bit(), home = (root + "/home").toLocal8Bit(),
                     state = (root + "/state").toLocal8Bit();
    std::fflush(stdout); // the child must not print our buffer again
    std::fflush(stderr);
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TMPDIR", tmp.constData(), 1);
        setenv("HOME", home.constData(), 1);
        setenv("XDG_STATE_HOME", state.constData(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunStats s;
    int status = 0;
    rusage ru{};
    if (pid > 0 && wait4(pid, &status, 0, &ru) == pid) {
        s.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        s.maxRssKb = ru.ru_maxrss;
    }
    s.wallMs = t.nsecsElapsed() / 1e6;
    return s;
}

// A local store of `count` results (half calibrations, half bump tests).
void makeStore(const QString& dest, int count)
{
    QRandomGenerator rng(7);
    const QDateTime t0(QDate(2024, 1, 1), QTime(8, 0));
    for (int i = 0; i < count; ++i) {
        docksim::TestResult t;
        t.calibration = i % 2 == 0;
        t.serial = QStringLiteral("GA%1").arg(i / 10, 4, 10, QLatin1Char('0'));
        t.dockSerial = QStringLiteral("DK01");
        t.gas = i % 4;
        t.when = t0.addSecs(3600LL * i);
        t.concentration = 50;
        t.variant = 0;
        const QString dir = dest + "KM1/" + t.serial + (t.calibration ? "/CAL/" : "/BUMP/");
        QDir().mkpath(dir);
        QFile f(dir + t.serial + (t.calibration ? "_CAL_" : "_BUMP_") + t.when.toString("yyMMddHHmm") + ".XML");
        if (f.open(QIODevice::WriteOnly))
            f.write(docksim::TestResultXml(t, rng));
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString prog = QStringLiteral(MARVANE_BINARY_DIR "/");

    std::printf("Drawing one page (best of 5, ms)         bitmap      PDF\n");
    const double blank = bestMs([] {
        QImage img(1414, 2000, QImage::Format_RGB32);
        img.fill(Qt::white);
    });
    struct Layout {
        const char* name;
        uint8_t kind;
        int layout;
    } layouts[] = {{"bump report", TEST_KIND_BUMP, CERT_LAYOUT_DEFAULT},
                   {"calibration \"Default\"", TEST_KIND_CAL, CERT_LAYOUT_DEFAULT},
                   {"calibration \"Manufaturer\"", TEST_KIND_CAL, CERT_LAYOUT_MANUFACTURER},
                   {"calibration \"HTML\"", TEST_KIND_CAL, CERT_LAYOUT_HTML}};
    for (const Layout& l : layouts) {
        TCertRenderer r;
        r.transferFolder = tmp.path() + "/TREVASK/";
        r.writeBitmap = false;
        r.options.mProgramFolder = prog;
        r.options.mLayout = l.layout;
        r.tester = RCertTester{"Ann Lee", "Acme", "QA"};
        r.Display(l.kind, sample(l.kind == TEST_KIND_CAL));
        if (!r.page) {
            std::printf("  %-30s  not drawn\n", l.name);
            continue;
        }
        const double bmp = bestMs([&] { (void)r.page->toImage(); });
        const QString pdf = tmp.path() + "/page.pdf";
        const double pdfMs = bestMs([&] { WriteCertPdf(*r.page, pdf, QSizeF(210, 297), {}, nullptr); });
        std::printf("  %-30s  %8.1f  %8.1f\n", l.name, bmp, pdfMs);
    }
    {
        // What a click on the LOG page costs: draw, write "PRT.BMP", keep the preview.
        TCertRenderer r;
        r.transferFolder = tmp.path() + "/TREVASK/";
        QDir().mkpath(r.transferFolder);
        r.options.mProgramFolder = prog;
        const RDockTestInfo info = sample(true);
        const double ms = bestMs([&] { r.DisplayCalData(info); });
        std::printf("  DisplayCalData with PRT.BMP     %8.1f  (%lld bytes)\n", ms,
                    QFileInfo(r.bitmapPath()).size());
    }
    std::printf("  reference: a blank page filled  %8.1f\n\n", blank);

    const QString cli = QStringLiteral(MARVANE_CLI);
    std::printf("certificate --store --pdf DIR\n");
    std::printf("  results      wall (ms)   per result (ms)   peak memory (MB)\n");
    RunStats stats[2];
    const int sizes[2] = {100, 1000};
    for (int i = 0; i < 2; ++i) {
        const QString root = tmp.path() + QStringLiteral("/run%1").arg(sizes[i]);
        const QString dest = root + "/store/";
        QDir().mkpath(root + "/home");
        makeStore(dest, sizes[i]);
        QProcess set;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", root);
        env.insert("HOME", root + "/home");
        env.insert("XDG_STATE_HOME", root + "/state");
        set.setProcessEnvironment(env);
        set.setWorkingDirectory(prog);
        set.start(cli, {"settings", "set", "SET/LogDestination=" + dest});
        set.waitForFinished(60000);
        QDir::setCurrent(prog);
        stats[i] = runCli(cli, {"certificate", "--store", "--pdf", root + "/pdf"}, root);
        const int written = int(QDir(root + "/pdf").entryList({"*.pdf"}, QDir::Files).size());
        std::printf("  %7d   %11.0f   %15.2f   %16.1f   (exit %d, %d PDFs)\n", sizes[i], stats[i].wallMs,
                    stats[i].wallMs / sizes[i], stats[i].maxRssKb / 1024.0, stats[i].status, written);
    }
    const double mem = stats[0].maxRssKb > 0 ? double(stats[1].maxRssKb) / stats[0].maxRssKb : 0;
    const double time = stats[0].wallMs > 0 ? stats[1].wallMs / stats[0].wallMs : 0;
    std::printf("  memory 1000 / 100: %.2f (target at most 1.50)\n", mem);
    std::printf("  time   1000 / 100: %.2f (linear: about 10; start-up makes it lower)\n", time);
    return 0;
}
