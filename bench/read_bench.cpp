// Read from a large USB-drive dock against a plain recursive copy of the same tree.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "Fixture.h"
#include "app/MainCore.h"

namespace {

qint64 plainCopy(const QString& from, const QString& to)
{
    qint64 files = 0;
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + '/' + QDir(from).relativeFilePath(src);
        QDir().mkpath(QFileInfo(dst).absolutePath());
        if (QFile::copy(src, dst))
            ++files;
    }
    return files;
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Each figure shows as it comes, also into a pipe or a log file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A transfer folder of its own; the empty TMPDIR holds no older one to take over.
    QTemporaryDir work;
    qputenv("HOME", (work.path() + "/home").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (work.path() + "/state").toLocal8Bit());
    qputenv("TMPDIR", (work.path() + "/tmp").toLocal8Bit());
    QDir().mkpath(work.path() + "/home");
    QDir().mkpath(work.path() + "/tmp");
    QDir::setCurrent(MARVANE_BINARY_DIR);

    const QString dock = work.path() + "/dock";
    const docksim::FixtureManifest m = docksim::WriteFixture(dock, docksim::FixtureSize::Large, 1);
    if (!m.ok()) {
        std::fprintf(stderr, "fixture: %s\n", qPrintable(m.error));
        return 1;
    }
    std::printf("large fixture: %lld log files, %lld bytes\n", qlonglong(m.logs.size()),
                qlonglong(m.totalBytes));

    const int runs = 5;
    QVector<double> readMs, copyMs;
    for (int i = 0; i < runs; ++i) {
        // Reference: copy the whole tree.
        const QString target = work.path() + QStringLiteral("/copy%1").arg(i);
        QElapsedTimer t;
        t.start();
        plainCopy(dock, target);
        copyMs << t.nsecsElapsed() / 1e6;
        QDir(target).removeRecursively();

        ScriptedOperatorPort port;
        AppState state(&port);
        state.StartUp();
        state.FLogDestDir = work.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        TMainCore core(state, port);
        core.editors.InitConst();
        core.FinalPauseSec = 0; // the fixed one-second pause before the result is no work
        core.USBDisk.RemovableRoots = [] { return QStringList(); };
        port.folderAnswers << dock;
        t.restart();
        const bool ok = core.OpReadBtnClick();
        readMs << t.nsecsElapsed() / 1e6;
        if (!ok) {
            std::fprintf(stderr, "Read failed: %s\n", qPrintable(port.statusText));
            return 1;
        }
    }
    const double r = median(readMs), c = median(copyMs);
    std::printf("Read (median of %d):        %8.1f ms\n", runs, r);
    std::printf("plain copy (median of %d):  %8.1f ms\n", runs, c);
    std::printf("ratio Read / copy:          %8.2f (target <= 1.50)\n", r / c);

    // Whole processes, as a user runs them: "marvane-cli read" against "cp -r".
    const QString cp = QStandardPaths::findExecutable(QStringLiteral("cp"));
    if (cp.isEmpty()) {
        std::printf("whole process: no cp found, skipped\n");
        return 0;
    }
    auto run = [&](const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        p.setWorkingDirectory(MARVANE_BINARY_DIR);
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        p.waitForFinished(600000);
        const double ms = t.nsecsElapsed() / 1e6;
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
            return -1.0;
        }
        return ms;
    };
    const QString cli = QStringLiteral(MARVANE_BINARY_DIR) + QStringLiteral("/marvane-cli");
    QVector<double> cliMs, cpMs, startMs;
    for (int i = 0; i < runs; ++i) {
        const QString target = work.path() + QStringLiteral("/cp%1").arg(i);
        cpMs << run(cp, {QStringLiteral("-r"), dock, target});
        QDir(target).removeRecursively();
        cliMs << run(cli, {QStringLiteral("read"), QStringLiteral("--link"), QStringLiteral("usb"),
                           QStringLiteral("--target"), dock, QStringLiteral("--purge"), QStringLiteral("no"),
                           QStringLiteral("--save-first"), QStringLiteral("no")});
        startMs << run(cli, {QStringLiteral("--version")});
        if (cliMs.last() < 0 || cpMs.last() < 0)
            return 1;
    }
    const double wr = median(cliMs), wc = median(cpMs);
    std::printf("marvane-cli read (median of %d): %8.1f ms (start-up alone %.1f ms)\n", runs, wr, median(startMs));
    std::printf("cp -r (median of %d):            %8.1f ms\n", runs, wc);
    std::printf("ratio CLI Read / cp -r:          %8.2f (target <= 1.50)\n", wr / wc);
    return 0;
}
