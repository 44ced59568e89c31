// marvane-cli: the program's operations without a window.
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

#include "app/AppState.h"
#include "cli/CertificateCommands.h"
#include "cli/CliOperatorPort.h"
#include "cli/DockCommands.h"
#include "cli/ReportCommands.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

const char* const kUsage =
    "Usage: marvane-cli [--help] [--version] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  settings show                      print every setting as SECTION/Key=value\n"
    "  settings set SECTION/Key=value ... change settings (same rules as the window)\n"
    "  read --link usb|cable [--port DEV] [--target DIR] [--save-first yes|no] [--purge yes|no]\n"
    "                                     copy configuration, firmware and logs from the dock\n"
    "  purge --link usb [--target DIR] [--yes]\n"
    "                                     delete logs older than the purge limit on the dock\n"
    "  config show                        the editors' values after the last read\n"
    "  config set Name=value ... [write OPTIONS]\n"
    "                                     change editors as a person would (then write)\n"
    "  write --link usb [--target DIR] [--dock-image F] [--gd-image F] [--yes]\n"
    "                                     send the configuration (and images) to the dock\n"
    "  fw-check FILE --type dock|gd       check a firmware image\n"
    "  save-log [--only-new]              save the logs of the last read, print the report path\n"
    "  report                             write a new report set from the alert store\n"
    "  result show FILE                   print a test result as the LOG page shows it\n"
    "  mail-test                          send the test e-mail\n"
    "  certificate FILE [--layout default|manufacturer|html] [--tester NAME]\n"
    "              (--pdf OUT | --png OUT | --bmp OUT)\n"
    "                                     draw a result as its certificate or bump report\n"
    "  certificate --store [--since YYYY-MM-DD] [--kind cal|bump] --pdf DIR\n"
    "                                     one PDF per result of the local store\n"
    "\n"
    "--target DIR answers the folder question when no removable drive holds a dock.\n"
    "--link cable --port DEV uses the USB cable (a serial device, e.g. /dev/ttyUSB0).\n"
    "--yes answers every question with Yes (without it: No).\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

int usageError(QTextStream& err, const QString& message)
{
    err << "marvane-cli: " << message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
    return ExitUsage;
}

int settingsShow(AppState& state, QTextStream& out)
{
    for (const SettingKey& k : SettingsKeyTable(state))
        out << k.section << '/' << k.key << '=' << SettingValueText(state, k) << '\n';
    out.flush();
    return ExitOk;
}

int settingsSet(AppState& state, const QStringList& assignments, QTextStream& err)
{
    if (assignments.isEmpty())
        return usageError(err, "settings set needs at least one SECTION/Key=value");
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
    state.StartUp();

    const QString command = args.takeFirst();
    if (command == "settings") {
        const QString sub = args.isEmpty() ? QString() : args.takeFirst();
        if (sub == "show" && args.isEmpty())
            return settingsShow(state, out);
        if (sub == "set")
            return settingsSet(state, args, err);
        return usageError(err, "settings needs 'show' or 'set SECTION/Key=value ...'");
    }
    if (IsReportCommand(command))
        return RunReportCommand(command, args, state, port, out, err);
    if (IsDockCommand(command))
        return RunDockCommand(command, args, state, port, out, err);
    return usageError(err, QStringLiteral("unknown command '%1'").arg(command));
}
