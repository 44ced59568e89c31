#include "cli/AutoCommands.h"

#include <atomic>

#include "app/AutoMode.h"
#include "app/MainCore.h"
#include "cli/CliOperatorPort.h"
#include "platform/StopSignals.h"

bool IsAutoCommand(const QString& command) { return command == QLatin1String("auto"); }

int RunAutoCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                   QTextStream& out, QTextStream& err)
{
    Q_UNUSED(command);
    Q_UNUSED(out);
    int cycles = 0;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        bool ok = false;
        if (a == QLatin1String("--cycles") && !args.isEmpty())
            cycles = args.takeFirst().toInt(&ok);
        if (!ok || cycles < 1) {
            err << "marvane-cli: auto takes --cycles N (N at least 1)" << Qt::endl
                << "Try 'marvane-cli --help'." << Qt::endl;
            return 2;
        }
    }
    port.echoHistory = true;
    TMainCore core(state, port);
    core.DebugLogProgressCheck = true;
    TAutoMode autoMode(core);
    autoMode.MaxCycles = cycles;
    bool stopped = false;
    // The dock visit in progress looks at this before every listing and file, so a
    // stop is not held up by a dock that lists for ever; what was copied stays.
    std::atomic_bool stopNow{false};
    core.UdpSkt.FCancel = &stopNow;
    platform::OnStopSignal([&](int) {
        // The pass in progress (a dock visit, a mail attempt) is finished first.
        if (!stopped)
            port.appendHistory(QStringLiteral("Stop requested: ending after the current pass"));
        stopped = true;
        stopNow = true;
        autoMode.OpAutoCancelBtnClick();
    });
    const bool ran = autoMode.RunAutoMode();
    platform::OnStopSignal(nullptr);
    core.UdpSkt.FCancel = nullptr;
    QString error;
    if (!state.SaveSetting(&error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return 1;
    }
    if (!ran || !autoMode.RanToEnd()) {
        err << "marvane-cli: Auto mode could not run; the lines above say why" << Qt::endl;
        return 1;
    }
    return 0;
}
