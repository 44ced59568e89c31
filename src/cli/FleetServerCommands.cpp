#include "cli/FleetServerCommands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/AppState.h"
#include "app/FleetServerSync.h"
#include "app/FleetUpdate.h"
#include "cli/CliOperatorPort.h"
#include "fleet/FleetSites.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

int usage(QTextStream& err, const QString& message)
{
    err << "marvane-cli: " << message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
    return ExitUsage;
}

int push(const QStringList& args, AppState& state, CliOperatorPort& port, QTextStream& out, QTextStream& err)
{
    if (!args.isEmpty())
        return usage(err, QStringLiteral("unexpected argument '%1'").arg(args.first()));
    if (!FleetServerConfigured(state)) {
        err << "marvane-cli: no fleet server is set: marvane-cli settings set "
               "FLEET/Server=postgresql://USER@HOST:PORT/DATABASE"
            << Qt::endl;
        return ExitFailure;
    }
    port.echoHistory = false; // the one line goes where its outcome belongs
    const RFleetPushResult r = PushFleetToServer(state, &port, [&](int done, int total) {
        err << "pushed " << done << " of " << total << Qt::endl;
    });
    if (!r.mOk) {
        err << "marvane-cli: " << r.Summary() << Qt::endl;
        return ExitFailure;
    }
    out << r.Summary() << Qt::endl;
    return ExitOk;
}

// The columns of "fleet status --all-sites", in every format.
const QStringList kColumns = {"site",      "serial",     "gas",      "dock",     "location",
                              "status",    "last_bump",  "last_cal", "next_bump", "next_cal",
                              "next_due",  "alarms",     "reason"};

QStringList cells(const RFleetSiteStatusRow& s)
{
    const RFleetStatusRow& r = s.mRow;
    return {s.mSite,
            r.mInst.mSerial,
            r.mInst.mGas,
            r.mInst.mDock,
            r.mInst.mLocation,
            FleetStatusKey(r.mStatus),
            FleetDayText(r.mInst.mLastBump),
            FleetDayText(r.mInst.mLastCal),
            FleetDayText(r.mNextBump),
            FleetDayText(r.mNextCal),
            FleetDayText(r.mNextDue),
            QString::number(r.mAlarms),
            FleetReasonsText(r)};
}

QString csvCell(QString v)
{
    if (v.contains(',') || v.contains('"') || v.contains('\n')) {
        v.replace('"', "\"\"");
        return '"' + v + '"';
    }
    return v;
}

int allSites(QStringList args, AppState& state, QTextStream& out, QTextStream& err)
{
    QString format = "table";
    bool haveStatus = false;
    FleetStatus wanted = FleetStatus::Ok;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == "--all-sites")
            continue;
        if ((a == "--format" || a == "--status") && args.isEmpty())
            return usage(err, a + " needs a value");
        if (a == "--format") {
            format = args.takeFirst();
            if (format != "table" && format != "csv" && format != "json")
                return usage(err, "--format is one of table, csv, json");
        } else if (a == "--status") {
            haveStatus = FleetStatusFromKey(args.takeFirst(), &wanted);
            if (!haveStatus)
                return usage(err, "--status is one of failed, overdue, due, alarm, ok, unknown");
        } else {
            return usage(err, QStringLiteral("unexpected argument '%1'").arg(a));
        }
    }
    if (!FleetServerConfigured(state)) {
        err << "marvane-cli: --all-sites reads the fleet server, and none is set (FLEET/Server)" << Qt::endl;
        return ExitFailure;
    }
    const RFleetServerSettings settings = FleetServerSettingsOf(state);
    RFleetServerAddress address;
    QString error;
    // The site's own policy, as the local status uses it.
    const RFleetPolicy policy = FleetPolicyOf(state.settings);
    QVector<RFleetSiteStatusRow> rows;
    bool ok = false;
    RunOffThread([&] {
        TFleetServer server;
        ok = ParseFleetServerUri(settings.mServer, &address, &error) &&
             server.Connect(address, settings.mPassword, &error) &&
             FleetStatusRowsAllSites(server, policy, NowDays(), &rows, &error);
    });
    if (!ok) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    QVector<QStringList> table;
    for (const RFleetSiteStatusRow& r : rows)
        if (!haveStatus || r.mRow.mStatus == wanted)
            table.append(cells(r));
    if (format == "json") {
        QJsonArray array;
        for (const QStringList& row : table) {
            QJsonObject o;
            for (int i = 0; i < kColumns.size(); ++i)
                o.insert(kColumns[i], kColumns[i] == "alarms" ? QJsonValue(row[i].toInt()) : QJsonValue(row[i]));
            array.append(o);
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else if (format == "csv") {
        out << kColumns.join(',') << '\n';
        for (const QStringList& row : table) {
            QStringList quoted;
            for (const QString& c : row)
                quoted << csvCell(c);
            out << quoted.join(',') << '\n';
        }
    } else {
        static const QStringList kHeads = {"Site",     "Serial",   "Gas",       "Dock",     "Location",
                                           "Status",   "Last bump", "Last cal", "Next bump", "Next cal",
                                           "Next due", "Alarms",   "Reason"};
        QVector<int> width(kHeads.size());
        for (int i = 0; i < kHeads.size(); ++i)
            width[i] = int(kHeads[i].size());
        for (const QStringList& row : table)
            for (int i = 0; i < row.size(); ++i)
                width[i] = std::max(width[i], int(row[i].size()));
        auto line = [&](const QStringList& row) {
            QString text;
            for (int i = 0; i < row.size(); ++i)
                text += i + 1 < row.size() ? row[i].leftJustified(width[i] + 2) : row[i];
            out << text.trimmed() << '\n';
        };
        line(kHeads);
        for (const QStringList& row : table)
            line(row);
    }
    out.flush();
    return ExitOk;
}

} // namespace

bool IsFleetServerCommand(const QStringList& args)
{
    return !args.isEmpty() && (args.first() == "push" || (args.first() == "status" && args.contains("--all-sites")));
}

int RunFleetServerCommand(QStringList args, AppState& state, CliOperatorPort& port, QTextStream& out,
                          QTextStream& err)
{
    const QString sub = args.takeFirst();
    if (sub == "push")
        return push(args, state, port, out, err);
    return allSites(args, state, out, err);
}
