#include "NetCommand.h"

#include "NetDockServer.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>

namespace docksim {

namespace {

// The bays hold the instruments whose logs lie in the tree.
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

} // namespace

int RunServeNetCommand(const QStringList& args, QTextStream& out, QTextStream& err)
{
    if (args.contains(QLatin1String("-h")) || args.contains(QLatin1String("--help"))) {
        out << ServeNetUsage();
        out.flush();
        return 0;
    }
    QString dir, error;
    NetServerOptions options;
    DockTiming timing;
    if (!ParseServeNetArgs(args, dir, options, timing, &error)) {
        err << "marvane-docksim serve-net: " << error << "\nTry 'marvane-docksim serve-net --help'.\n";
        err.flush();
        return 2;
    }
    if (!QFileInfo(dir).isDir()) {
        err << "marvane-docksim serve-net: " << dir << " is not a folder\n";
        err.flush();
        return 1;
    }
    NetDockServer server(dir, options);
    DockState& st = server.state();
    st.timing = timing;
    st.setDefaultBays(instrumentSerials(dir));
    if (!server.start(&error)) {
        err << "marvane-docksim serve-net: " << error << "\n";
        err.flush();
        return 1;
    }
    out << "UDP " << server.udpPort() << " TCP " << server.tcpPort() << "\n";
    out << "Serving " << QFileInfo(dir).absoluteFilePath() << " as dock " << st.serial() << " (version "
        << st.version() << ") on " << options.address.toString() << "\n";
    out.flush();

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
    return rc;
}

} // namespace docksim
