#include "SerialCommand.h"

#include "SerialDockServer.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QSet>

namespace docksim {

QString ServeSerialUsage()
{
    return QStringLiteral(
               "usage: marvane-docksim serve-serial DIR [options]\n"
               "Serves the dock file tree in DIR (as written by \"fixture\") over a pseudo-terminal,\n"
               "answering the USB cable's frame protocol as a dock does. The first line printed is\n"
               "\"PTY <path>\": the serial port to open. Runs until ended (Ctrl-C, SIGTERM) or, when\n"
               "standard input is a pipe, until that pipe closes.\n"
               "  --line-rate              deliver bytes no faster than the line (10 bits a byte)\n"
               "  --baud N                 line rate for --line-rate (default 115200)\n"
               "  --fast                   bay tasks take milliseconds, a restart no time\n"
               "  --task-time MS           configuration download and other bay tasks (default 3000)\n"
               "  --firmware-task-time MS  firmware download to the instruments (default 20000)\n"
               "  --bay-test-time MS       a bump test, calibration or hardware test in one bay; bays\n"
               "                           take turns (default 3000)\n"
               "  --reboot-time MS         no answers for this long after a restart (default 3000)\n"
               "  --fail-bays LIST         bays whose downloads fail, e.g. 2 or 1,3 (default none)\n"
               "  --empty-bays LIST        bays without an instrument (default 4)\n"
               "  --version-text TEXT      firmware version the dock reports (e.g. 1.6)\n"
               "  --block-size N           file bytes per download block, 1..925 (default 900)\n"
               "  --list-block-entries N   at most N entries per listing block (default: as many as fit)\n"
               "  --no-size-token          the first download block does not name the file size\n"
               "  --fault NAME [N]         misbehave; may be repeated. NAME is one of:\n"
               "                           ")
        + SerialFaultNames().join(QStringLiteral(", "))
        + QStringLiteral(
              "\n"
              "  --fault-command HEX      reply faults only for this command code (e.g. 93)\n"
              "  --fault-skip N           ... leaving the first N of those replies intact\n"
              "  --fault-count N          ... and only N faulty replies (default: all)\n"
              "  --verbose                one line per request on standard error\n");
}

namespace {

bool parseBays(const QString& text, QList<int>& bays)
{
    bays.clear();
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int b = part.trimmed().toInt(&ok);
        if (!ok || b < 1 || b > 4)
            return false;
        bays << b;
    }
    return true;
}

// Serial numbers of the instruments whose logs lie in the tree: the dock's
// bays hold the instruments it has seen.
QStringList instrumentSerials(const QString& root)
{
    QStringList serials;
    QSet<QString> seen;
    for (const char* sub : {"LOG/EVENT", "LOG/TEST"}) {
        QDirIterator it(root + QLatin1Char('/') + QLatin1String(sub), QDir::Files, QDirIterator::Subdirectories);
        QStringList names;
        while (it.hasNext())
            names << QFileInfo(it.next()).completeBaseName();
        names.sort();
        for (const QString& n : names) {
            const QStringList f = n.split(QLatin1Char('_'));
            if (f.size() < 3 || f[0].isEmpty() || seen.contains(f[0].toUpper()))
                continue;
            seen.insert(f[0].toUpper());
            serials << f[0];
        }
    }
    serials.sort();
    return serials;
}

// Version byte of the newest instrument image in FW/GD: what a passed
// firmware download puts into the instruments.
quint8 newestInstrumentImage(const DockTree& tree)
{
    quint8 best = 0;
    const auto entries = tree.list(QStringLiteral("/FW/GD/"));
    if (!entries)
        return 0;
    for (const TreeEntry& e : *entries) {
        if (e.dir || e.size != 32768 || !e.name.endsWith(QLatin1String(".IMG"), Qt::CaseInsensitive))
            continue;
        const auto data = tree.readFile(QStringLiteral("/FW/GD/") + e.name, 32768);
        if (data && quint8(data->at(2)) == 1)
            best = std::max(best, quint8(data->at(3)));
    }
    return best;
}

} // namespace

bool ParseServeSerialArgs(const QStringList& args, QString& dir, SerialServerOptions& options, DockTiming& timing,
                          QString& failBays, QString& emptyBays, QString* error)
{
    auto fail = [&](const QString& m) {
        if (error)
            *error = m;
        return false;
    };
    bool fast = false;
    int taskMs = -1, firmwareMs = -1, rebootMs = -1, bayTestMs = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&](QString& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        auto number = [&](int& n, int lo, int hi) {
            QString v;
            if (!value(v))
                return fail(QStringLiteral("%1 needs a value").arg(arg));
            bool ok = false;
            n = v.toInt(&ok);
            if (!ok || n < lo || n > hi)
                return fail(QStringLiteral("%1 must be a number from %2 to %3, not \"%4\"").arg(arg).arg(lo).arg(hi).arg(v));
            return true;
        };
        if (arg == QLatin1String("--line-rate")) {
            options.lineRate = true;
        } else if (arg == QLatin1String("--fast")) {
            fast = true;
        } else if (arg == QLatin1String("--no-size-token")) {
            options.sizeToken = false;
        } else if (arg == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (arg == QLatin1String("--baud")) {
            if (!number(options.baud, 300, 4000000))
                return false;
        } else if (arg == QLatin1String("--task-time")) {
            if (!number(taskMs, 0, 3600000))
                return false;
        } else if (arg == QLatin1String("--firmware-task-time")) {
            if (!number(firmwareMs, 0, 3600000))
                return false;
        } else if (arg == QLatin1String("--bay-test-time")) {
            if (!number(bayTestMs, 1, 3600000))
                return false;
        } else if (arg == QLatin1String("--reboot-time")) {
            if (!number(rebootMs, 0, 600000))
                return false;
        } else if (arg == QLatin1String("--block-size")) {
            if (!number(options.downloadBlockSize, 1, 925))
                return false;
        } else if (arg == QLatin1String("--list-block-entries")) {
            if (!number(options.listBlockEntries, 0, 1000))
                return false;
        } else if (arg == QLatin1String("--fault-skip")) {
            if (!number(options.faultSkip, 0, 1000000000))
                return false;
        } else if (arg == QLatin1String("--fault-count")) {
            if (!number(options.faultCount, 0, 1000000000))
                return false;
        } else if (arg == QLatin1String("--fault-command")) {
            QString v;
            bool ok = false;
            if (!value(v))
                return fail(QStringLiteral("--fault-command needs a command code"));
            options.faultCommand = v.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? v.mid(2).toInt(&ok, 16)
                                                                                           : v.toInt(&ok, 16);
            if (!ok || options.faultCommand < 0 || options.faultCommand > 255)
                return fail(QStringLiteral("--fault-command must be a hexadecimal code from 00 to FF, not \"%1\"").arg(v));
        } else if (arg == QLatin1String("--version-text")) {
            if (!value(options.versionText) || options.versionText.isEmpty())
                return fail(QStringLiteral("--version-text needs a text"));
        } else if (arg == QLatin1String("--fail-bays")) {
            if (!value(failBays))
                return fail(QStringLiteral("--fail-bays needs a list of bays"));
        } else if (arg == QLatin1String("--empty-bays")) {
            if (!value(emptyBays))
                return fail(QStringLiteral("--empty-bays needs a list of bays"));
        } else if (arg == QLatin1String("--fault")) {
            QString name;
            if (!value(name))
                return fail(QStringLiteral("--fault needs a name (%1)").arg(SerialFaultNames().join(QStringLiteral(", "))));
            qint64 n = 0;
            if (name.contains(QLatin1Char(':'))) {
                n = name.section(QLatin1Char(':'), 1).toLongLong();
                name = name.section(QLatin1Char(':'), 0, 0);
            }
            const auto kind = SerialFaultFromName(name);
            if (!kind)
                return fail(QStringLiteral("unknown fault \"%1\" (%2)").arg(name, SerialFaultNames().join(QStringLiteral(", "))));
            if (*kind == SerialFaultKind::StopAfterBytes && n == 0) {
                int v = 0;
                if (!number(v, 0, 2000000000))
                    return false;
                n = v;
            }
            options.faults.append({*kind, n});
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return fail(QStringLiteral("unknown option %1").arg(arg));
        } else if (dir.isEmpty() && !arg.isEmpty()) {
            dir = arg;
        } else {
            return fail(QStringLiteral("more than one folder given (%1)").arg(arg));
        }
    }
    if (dir.isEmpty())
        return fail(QStringLiteral("no folder given"));
    QList<int> check;
    if (!parseBays(failBays, check) || !parseBays(emptyBays, check))
        return fail(QStringLiteral("bays are numbered 1 to 4, separated by commas"));
    timing = fast ? DockTiming::Fast() : DockTiming{};
    if (taskMs >= 0)
        timing.configTaskMs = timing.otherTaskMs = taskMs;
    if (firmwareMs >= 0)
        timing.firmwareTaskMs = firmwareMs;
    if (rebootMs >= 0)
        timing.rebootMs = rebootMs;
    if (bayTestMs >= 0)
        timing.bayTestMs = bayTestMs;
    return true;
}

int RunServeSerialCommand(const QStringList& args, QTextStream& out, QTextStream& err)
{
    if (args.contains(QLatin1String("-h")) || args.contains(QLatin1String("--help"))) {
        out << ServeSerialUsage();
        out.flush();
        return 0;
    }
    QString dir, error, failBays, emptyBays = QStringLiteral("4");
    SerialServerOptions options;
    DockTiming timing;
    if (!ParseServeSerialArgs(args, dir, options, timing, failBays, emptyBays, &error)) {
        err << "marvane-docksim serve-serial: " << error << "\nTry 'marvane-docksim serve-serial --help'.\n";
        err.flush();
        return 2;
    }
    if (!QFileInfo(dir).isDir()) {
        err << "marvane-docksim serve-serial: " << dir << " is not a folder\n";
        err.flush();
        return 1;
    }

    auto pty = platform::OpenPseudoTerminal(&error);
    if (!pty) {
        err << "marvane-docksim serve-serial: " << error << "\n";
        err.flush();
        return 1;
    }
    SerialDockServer server(dir, options);
    DockState& st = server.state();
    st.timing = timing;
    st.setDefaultBays(instrumentSerials(dir));
    QList<int> bays;
    parseBays(emptyBays, bays);
    for (int b : bays)
        st.bays[b - 1].present = false;
    parseBays(failBays, bays);
    for (int b : bays)
        st.bays[b - 1].fails = true;
    st.newInstrumentFirmware = newestInstrumentImage(server.tree());
    if (!server.start(pty->masterFd, &error)) {
        err << "marvane-docksim serve-serial: " << error << "\n";
        err.flush();
        platform::ClosePseudoTerminal(*pty);
        return 1;
    }
    out << "PTY " << pty->slavePath << "\n";
    out << "Serving " << QFileInfo(dir).absoluteFilePath() << " as dock " << st.serial() << " (version "
        << st.version() << ")" << (options.lineRate ? QStringLiteral(" at %1 bit/s").arg(options.baud) : QString())
        << "\n";
    out.flush();

    // A parent that talks to us through a pipe ends us by closing it.
    QSocketNotifier* stdinWatch = nullptr;
    if (platform::StdinIsPipe()) {
        stdinWatch = new QSocketNotifier(0, QSocketNotifier::Read, &server);
        QObject::connect(stdinWatch, &QSocketNotifier::activated, [stdinWatch] {
            char buf[256];
            bool ended = false;
            const qint64 n = platform::ReadDescriptor(0, buf, sizeof buf, &ended);
            if (ended || n < 0) {
                stdinWatch->setEnabled(false);
                QCoreApplication::quit();
            }
        });
    }
    const int rc = QCoreApplication::exec();
    server.stop();
    platform::ClosePseudoTerminal(*pty);
    return rc;
}

} // namespace docksim
