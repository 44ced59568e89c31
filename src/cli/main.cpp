// marvane-cli: the program's operations without a window.
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

#include "app/AppState.h"
#include "cli/CertificateCommands.h"
#include "cli/AutoCommands.h"
#include "cli/CliOperatorPort.h"
#include "cli/DockCommands.h"
#include "cli/FleetCommands.h"
#include "cli/FleetServerCommands.h"
#include "cli/NetCommands.h"
#include "cli/ReportCommands.h"
#include "cli/ServiceCommands.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

const char* const kUsage =
    "Usage: marvane-cli [--help] [--version] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  settings show                      print every setting as SECTION/Key=value\n"
    "  settings set SECTION/Key=value ... change settings (same rules as the window)\n"
    "  read LINK [--save-first yes|no] [--purge yes|no]\n"
    "                                     copy configuration, firmware and logs from the dock;\n"
    "                                     unsaved logs of the last read need --save-first\n"
    "  purge LINK [--yes]                 delete logs older than the purge limit on the dock\n"
    "                                     (only those already saved in the local store)\n"
    "  config show                        the editors' values after the last read\n"
    "  config set Name=value ... [write LINK ...]\n"
    "                                     change editors as a person would (then write)\n"
    "  write LINK [--dock-image F] [--gd-image F] [--yes]\n"
    "                                     send the configuration (and images) to the dock\n"
    "  rtc get LINK                       read the dock's clock (cable, udp, tcp)\n"
    "  rtc set LINK [--offset HOURS]      set the dock's clock to this PC's time + HOURS\n"
    "  reset LINK                         restart the dock (cable, udp, tcp)\n"
    "  download config|firmware LINK [--send-files] [--gd-image F] [--yes]\n"
    "                                     download to the instruments in the bays (cable, udp);\n"
    "                                     --send-files sends the configuration files or the\n"
    "                                     instrument image of the last read first\n"
    "  discover [--wait S] [--verbose]   list the docks on the local networks, one\n"
    "                                     \"[SN] address\" line each (none answered: exit 1)\n"
    "  fw-check FILE --type dock|gd       check a firmware image\n"
    "  save-log [--only-new]              save the logs of the last read, print the report path\n"
    "  report                             write a new report set from the alert store\n"
    "  result show FILE                   print a test result as the LOG page shows it\n"
    "  mail-test                          send the test e-mail\n"
    "  service sn read | sn write SN      the dock's serial number (at most 11 characters are sent)\n"
    "  service production read | set --sn SN --offset HOURS --duty D1 D2\n"
    "                                     production set-up: serial number, clock offset, pump duties\n"
    "  service pump-test | gd-clear --yes pump test; clear the instruments' data memory\n"
    "  service simulate event --sn SN --sensor H2S|CO|O2|SO2 --level X --type low|high --duration S\n"
    "  service simulate bump|cal --sn SN --sensor S --zero-pre X --zero X --zero-time N\n"
    "                             --span-pre X --span X --span-time N\n"
    "                                     inject a simulated record into the dock\n"
    "  monitor status|result|log [--save] one bay task request, printed as the monitor's tables\n"
    "  monitor watch [--seconds N]        the task status once a second (default 10 s)\n"
    "                                     (service and monitor: --link cable --port DEV)\n"
    "  certificate FILE [--layout default|manufacturer|html] [--tester NAME]\n"
    "              (--pdf OUT | --png OUT | --bmp OUT)\n"
    "                                     draw a result as its certificate or bump report\n"
    "  certificate --store [--since YYYY-MM-DD] [--kind cal|bump] --pdf DIR\n"
    "                                     one PDF per result of the local store\n"
    "  fleet status [--status failed|overdue|due|alarm|ok|unknown] [--format table|csv|json]\n"
    "                                     every instrument: status, due dates, reason\n"
    "  fleet show SN [--format table|csv|json]\n"
    "                                     one instrument's history, due dates and sensor wear\n"
    "  fleet export --format csv|json OUT every test of every instrument into OUT\n"
    "  fleet rebuild                      read the whole local store into the fleet index again\n"
    "  fleet push                         send the fleet index's new records to the fleet server\n"
    "                                     (FLEET/Server); what fails waits for the next push\n"
    "  fleet status --all-sites [--status S] [--format table|csv|json]\n"
    "                                     every site's instruments, read from the fleet server\n"
    "  auto [--cycles N]                  Auto mode without a window: search the docks,\n"
    "                                     poll them, report and mail on the schedule; runs\n"
    "                                     until SIGINT/SIGTERM (ends after its pass) or N cycles\n"
    "\n"
    "LINK is one of:\n"
    "  --link usb [--target DIR]          the dock as a USB drive; --target answers the folder\n"
    "                                     question when no removable drive holds a dock\n"
    "  --link cable --port DEV            the USB cable (a serial device, e.g. /dev/ttyUSB0)\n"
    "  --link udp --address IP            Ethernet\n"
    "  --link tcp --address IP            TCP\n"
    "Without --link the USB drive is used.\n"
    "discover broadcasts on the networks of NETWORK/Interfaces (all when empty) with\n"
    "NETWORK/SubnetMask; the dock port is NETWORK/Port, the TCP port NETWORK/TcpPort.\n"
    "--yes answers every question with Yes (without it: No).\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

int usageError(QTextStream& err, const QString& message)
{
    err << "marvane-cli: " << message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
    return ExitUsage;
}

bool isPasswordKey(const QString& sectionKey)
{
    return sectionKey.compare("EMAIL/PW", Qt::CaseInsensitive) == 0 ||
           sectionKey.compare("EMAIL/Password", Qt::CaseInsensitive) == 0;
}

int settingsShow(AppState& state, QTextStream& out)
{
    for (const SettingKey& k : SettingsKeyTable(state)) {
        const QString value = SettingValueText(state, k);
        // A password is never printed; that one is set shows.
        out << k.section << '/' << k.key << '=' << (IsSecretSetting(k) && !value.isEmpty() ? "********" : value)
            << '\n';
    }
    out.flush();
    return ExitOk;
}

// "KEY=-" of a password: the value is the first line of standard input, so that it
// appears neither in the shell's history nor in the process list.
bool readSecretsFromStdin(QStringList& assignments, QTextStream& err)
{
    QTextStream in(stdin);
    for (QString& a : assignments) {
        const int eq = int(a.indexOf('='));
        const int slash = int(a.indexOf('/'));
        if (eq < 0 || slash < 1 || slash > eq || a.mid(eq + 1) != "-" ||
            !IsSecretSetting(a.left(slash).trimmed(), a.mid(slash + 1, eq - slash - 1).trimmed()))
            continue;
        const QString line = in.readLine();
        if (line.isNull()) {
            err << "marvane-cli: " << a.left(eq) << "=-: no line on standard input" << Qt::endl;
            return false;
        }
        a = a.left(eq + 1) + line;
    }
    return true;
}

int settingsSet(AppState& state, QStringList assignments, QTextStream& err)
{
    if (assignments.isEmpty())
        return usageError(err, "settings set needs at least one SECTION/Key=value");
    // EMAIL/Password (the key EMAIL/PW) with the value "-" is read from standard
    // input, so that it never stands on a command line others can see.
    for (QString& a : assignments) {
        const qsizetype eq = a.indexOf('=');
        if (eq < 0 || !isPasswordKey(a.left(eq).trimmed()))
            continue;
        QString value = a.mid(eq + 1);
        if (value == "-") {
            QTextStream in(stdin);
            value = in.readLine();
            if (value.isNull())
                value.clear();
            if (value.endsWith('\r'))
                value.chop(1);
        }
        a = QStringLiteral("EMAIL/PW=") + value;
    }
    if (!readSecretsFromStdin(assignments, err))
        return ExitFailure;
    QString message;
    switch (state.SetSettingsFromText(assignments, &message)) {
    case SetResult::Ok:
        return ExitOk;
    case SetResult::Usage:
        return usageError(err, message);
    case SetResult::Invalid:
    case SetResult::Failed:
        break;
    }
    err << "marvane-cli: " << message << Qt::endl;
    return ExitFailure;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "certificate") == 0)
        return RunCertificateMain(argc, argv);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);

    if (args.isEmpty())
        return usageError(err, "no command given");
    if (args.first() == "--help" || args.first() == "-h") {
        out << kUsage;
        return ExitOk;
    }
    if (args.first() == "--version") {
        out << ProgramCaption() << Qt::endl;
        return ExitOk;
    }

    CliOperatorPort port;
    AppState state(&port);
    if (!state.StartUp())
        return ExitFailure; // the transfer folder is refused; the message says why

    const QString command = args.takeFirst();
    if (command == "settings") {
        const QString sub = args.isEmpty() ? QString() : args.takeFirst();
        if (sub == "show" && args.isEmpty())
            return settingsShow(state, out);
        if (sub == "set")
            return settingsSet(state, args, err);
        return usageError(err, "settings needs 'show' or 'set SECTION/Key=value ...'");
    }
    if (command == "fleet" && IsFleetServerCommand(args))
        return RunFleetServerCommand(args, state, port, out, err);
    if (IsReportCommand(command))
        return RunReportCommand(command, args, state, port, out, err);
    if (IsServiceCommand(command))
        return RunServiceCommand(command, args, state, port, out, err);
    if (IsAutoCommand(command))
        return RunAutoCommand(command, args, state, port, out, err);
    if (IsNetCommand(command))
        return RunNetCommand(command, args, state, port, out, err);
    if (IsFleetCommand(command))
        return RunFleetCommand(command, args, state, out, err);
    if (IsDockCommand(command))
        return RunDockCommand(command, args, state, port, out, err);
    return usageError(err, QStringLiteral("unknown command '%1'").arg(command));
}
