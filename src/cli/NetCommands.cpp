#include "cli/NetCommands.h"

#include "app/LanConnect.h"
#include "app/MainCore.h"
#include "cli/CliOperatorPort.h"

bool IsNetCommand(const QString& command)
{
    return command == QLatin1String("discover");
}

int RunNetCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                  QTextStream& out, QTextStream& err)
{
    Q_UNUSED(command);
    double wait = 2;
    bool verbose = false;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        bool ok = false;
        if (a == QLatin1String("--verbose")) {
            verbose = ok = true;
        } else if (a == QLatin1String("--wait") && !args.isEmpty()) {
            wait = args.takeFirst().toDouble(&ok);
            ok = ok && wait >= 0.5 && wait <= 60;
        }
        if (!ok) {
            err << "marvane-cli: discover takes --wait SECONDS (0.5 to 60) and --verbose" << Qt::endl
                << "Try 'marvane-cli --help'." << Qt::endl;
            return 2;
        }
    }
    // The search's own lines would mix with the list on standard output.
    port.echoHistory = verbose;
    TMainCore core(state, port);
    core.DebugLogProgressCheck = verbose;
    if (core.LoadLanConnect)
        core.LoadLanConnect(1, wait);
    if (!core.LanSearchError.isEmpty()) {
        // Nothing was searched: an empty list would pass for "no dock answered". The docks
        // of NETWORK/Docks were still asked directly, so with them the search goes on.
        err << "marvane-cli: discover: " << core.LanSearchError << Qt::endl;
        if (ListedDocks(state.settings.NetworkDocks).isEmpty())
            return 1;
    }
    for (qsizetype i = 1; i < core.FDockLan.size(); ++i)
        out << '[' << core.FDockLan[i].mSN << "] " << core.FDockLan[i].mIp << '\n';
    out.flush();
    // The docks of NETWORK/Docks are asked directly; say which stayed silent or are no address.
    QStringList bad;
    ListedDocks(state.settings.NetworkDocks, &bad);
    for (const QString& b : bad)
        err << "marvane-cli: NETWORK/Docks: '" << b << "' is not a dock address" << Qt::endl;
    for (const QString& ip : core.FDockLanSilent)
        err << "marvane-cli: listed dock " << ip << " (NETWORK/Docks) did not answer" << Qt::endl;
    // An empty list with success would read as "searched, all is well" to a script.
    if (core.FDockLan.size() <= 1) {
        err << "marvane-cli: discover: no dock answered within " << wait << " s" << Qt::endl;
        return 1;
    }
    return 0;
}
