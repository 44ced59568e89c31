// marvane-docksim: stands in for a dock. One subcommand per job; the link
// servers join the table below.
#include "FixtureCommand.h"
#include "NetCommand.h"
#include "SerialCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& args, QTextStream& out, QTextStream& err);
    QString (*usage)();
};

const Command kCommands[] = {
    {"fixture", "write a dock file tree into a folder", docksim::RunFixtureCommand, docksim::FixtureUsage},
    {"serve-serial", "serve a dock tree over a pseudo-terminal (USB cable)", docksim::RunServeSerialCommand,
     docksim::ServeSerialUsage},
    {"serve-net", "serve a dock tree over UDP and TCP on a loopback address", docksim::RunServeNetCommand,
     docksim::ServeNetUsage},
};

void printUsage(QTextStream& s)
{
    s << "usage: marvane-docksim COMMAND [ARGS...]\n"
         "       marvane-docksim help COMMAND\n"
         "Stands in for a docking station.\n\nCommands:\n";
    for (const Command& c : kCommands)
        s << "  " << QString::fromLatin1(c.name).leftJustified(14) << c.summary << "\n";
    s.flush();
}

const Command* findCommand(const QString& name)
{
    for (const Command& c : kCommands) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);

    if (args.isEmpty()) {
        printUsage(err);
        return 2;
    }
    const QString& first = args.first();
    if (first == QLatin1String("-h") || first == QLatin1String("--help")
        || (first == QLatin1String("help") && args.size() == 1)) {
        printUsage(out);
        return 0;
    }
    if (first == QLatin1String("help")) {
        const Command* c = findCommand(args.at(1));
        if (!c) {
            err << "marvane-docksim: unknown command \"" << args.at(1) << "\"\n";
            printUsage(err);
            return 2;
        }
        out << c->usage();
        return 0;
    }
    const Command* c = findCommand(first);
    if (!c) {
        err << "marvane-docksim: unknown command \"" << first << "\"\n";
        printUsage(err);
        return 2;
    }
    return c->run(args.mid(1), out, err);
}
