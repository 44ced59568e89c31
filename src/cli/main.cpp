// marvane-cli: the program's operations without a window.
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

#include "app/AppState.h"
#include "cli/CliOperatorPort.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

const char* const kUsage =
    "Usage: marvane-cli [--help] [--version] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  settings show                      print every setting as SECTION/Key=value\n"
    "  settings set SECTION/Key=value ... change settings (same rules as the window)\n"
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
    return usageError(err, QStringLiteral("unknown command '%1'").arg(command));
}
