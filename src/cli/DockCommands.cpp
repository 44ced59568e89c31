#include "cli/DockCommands.h"

#include <QFileInfo>
#include <QMap>
#include <atomic>
#include <csignal>

#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "app/TransferLock.h"
#include "cli/CliOperatorPort.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

// Ctrl+C asks the running operation to stop at the next file, as Cancel does in the window.
std::atomic_bool* g_cancel = nullptr;
void onInterrupt(int)
{
    if (g_cancel)
        g_cancel->store(true);
}

struct InterruptCancels {
    explicit InterruptCancels(TMainCore& core)
    {
        g_cancel = &core.FCancelRequested;
        m_previous = std::signal(SIGINT, onInterrupt);
    }
    ~InterruptCancels()
    {
        std::signal(SIGINT, m_previous == SIG_ERR ? SIG_DFL : m_previous);
        g_cancel = nullptr;
    }
    void (*m_previous)(int) = SIG_DFL;
};

struct UsageError {
    QString message;
};

// Options of the form --name value or --flag; anything else is positional.
struct Options {
    QMap<QString, QString> values;
    QStringList flags;
    QStringList positional;
};

Options parse(QStringList args, const QStringList& withValue, const QStringList& flags)
{
    Options o;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a.startsWith("--")) {
            const QString name = a.mid(2);
            if (withValue.contains(name)) {
                if (args.isEmpty())
                    throw UsageError{QStringLiteral("option %1 needs a value").arg(a)};
                o.values[name] = args.takeFirst();
            } else if (flags.contains(name)) {
                o.flags << name;
            } else {
                throw UsageError{QStringLiteral("unknown option %1").arg(a)};
            }
        } else {
            o.positional << a;
        }
    }
    return o;
}

bool yesNo(const Options& o, const QString& name)
{
    const QString v = o.values.value(name, "no").toLower();
    if (v != "yes" && v != "no")
        throw UsageError{QStringLiteral("--%1 takes yes or no").arg(name)};
    return v == "yes";
}

LinkChoice linkFrom(const Options& o)
{
    const QString l = o.values.value("link", "usb").toLower();
    if (l == "usb")
        return LinkChoice::Disk;
    if (l == "cable" || l == "serial")
        return LinkChoice::Comm;
    if (l == "udp" || l == "ethernet")
        return LinkChoice::Udp;
    if (l == "tcp")
        return LinkChoice::Lan;
    throw UsageError{QStringLiteral("unknown link '%1' (usb, cable, udp or tcp)").arg(l)};
}

// --target answers the folder picker of the USB link when no removable volume holds a dock.
void prepareLink(TMainCore& core, CliOperatorPort& port, const Options& o)
{
    // A dock named by its address needs no search of the network.
    if (o.values.contains("address"))
        core.LoadLanConnect = nullptr;
    core.SelectLink(linkFrom(o));
    if (o.values.contains("target"))
        port.folderAnswers << QFileInfo(o.values["target"]).absoluteFilePath();
    if (o.values.contains("port"))
        core.OpDeviceConnectCommPortComboText = o.values["port"];
    if (o.values.contains("address")) {
        core.OpDeviceConnectLanListComboText = o.values["address"];
        core.OpDeviceConnectLanListComboIndex = -1;
    }
    core.DebugLogUnitCheck = true;
    core.DebugLogProgressCheck = true;
}

int finish(bool ok, CliOperatorPort& port, QTextStream& out)
{
    out << (ok ? "SUCCESS: " : "FAILURE: ") << port.statusText << Qt::endl;
    return ok ? ExitOk : ExitFailure;
}

const QStringList kLinkOptions = {"link", "target", "port", "address"};

// A new Read empties the staging folders: logs of the last Read that were never
// saved are saved first or discarded only when the caller says so.
bool settleUnsavedLogs(TMainCore& core, CliOperatorPort& port, const Options& o, QTextStream& err)
{
    const TMainCore::LastRead last = TMainCore::LoadLastRead();
    if (!last.valid || last.saved)
        return true;
    // Discarding needs no list of them: the Read empties the staging folders.
    if (o.values.contains("save-first") && !yesNo(o, "save-first")) {
        core.FUnitDef->ClearLogList();
        core.LogListBtnSaveEnabled = false;
        return true;
    }
    TLogBrowser browser(core);
    const int unsaved = core.RestoreUnsavedLogs();
    if (unsaved == 0)
        return true;
    if (!o.values.contains("save-first")) {
        err << "marvane-cli: the " << unsaved << " logs of the last read (dock "
            << (last.sn.isEmpty() ? QStringLiteral("?") : last.sn)
            << ") have not been saved; a new read would discard them. Run 'save-log' first, "
               "or read with --save-first yes (save them now) or --save-first no (discard them)."
            << Qt::endl;
        return false;
    }
    if (yesNo(o, "save-first")) {
        browser.SelectAllList(true);
        if (!core.LogListBtnSaveClick()) {
            err << "marvane-cli: Save Log failed, the read was not started: " << port.statusText
                << Qt::endl;
            return false;
        }
    }
    core.FUnitDef->ClearLogList();
    core.LogListBtnSaveEnabled = false;
    return true;
}

int cmdRead(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out,
            QTextStream& err)
{
    const Options o = parse(args, kLinkOptions + QStringList{"save-first", "purge"}, {});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    if (o.values.contains("save-first"))
        yesNo(o, "save-first"); // a wrong value is a usage error before anything happens
    port.answer(761, yesNo(o, "purge"));
    if (!settleUnsavedLogs(core, port, o, err))
        return ExitFailure;
    prepareLink(core, port, o);
    return finish(core.OpReadBtnClick(), port, out);
}

int cmdRtc(TMainCore& core, CliOperatorPort& port, QStringList args, QTextStream& out)
{
    const QString sub = args.isEmpty() ? QString() : args.takeFirst();
    if (sub != "get" && sub != "set")
        throw UsageError{"rtc needs 'get' or 'set [--offset HOURS]'"};
    const Options o = parse(args, kLinkOptions + (sub == "set" ? QStringList{"offset"} : QStringList{}), {});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    if (o.values.contains("offset")) {
        bool ok = false;
        const double h = o.values["offset"].toDouble(&ok);
        if (!ok || h < -24 || h > 24)
            throw UsageError{"--offset takes hours from -24 to 24 (e.g. -5.5)"};
        core.OpDeviceOpSetRtcOffsetEdit = h;
    }
    prepareLink(core, port, o);
    if (!ButtonsForLink(core.link).rtc)
        throw UsageError{"the dock clock is reached over --link cable, udp or tcp"};
    const bool ok = sub == "get" ? core.OpDeviceOpRtcGetBtnClick() : core.OpDeviceOpRtcSetBtnClick();
    if (ok)
        out << "Dock clock: " << core.OpDeviceOpRTCLabel << Qt::endl;
    else if (port.statusText.isEmpty())
        port.statusText = QStringLiteral("The dock's clock could not be read");
    return ok ? ExitOk : finish(false, port, out);
}

int cmdReset(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out)
{
    const Options o = parse(args, kLinkOptions, {});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    prepareLink(core, port, o);
    if (!ButtonsForLink(core.link).reset)
        throw UsageError{"Unit Reset is sent over --link cable, udp or tcp"};
    const bool ok = core.DebugOpUnitResetBtnClick();
    if (ok)
        port.statusText = LangText(718);
    return finish(ok, port, out);
}

int cmdDownload(TMainCore& core, CliOperatorPort& port, QStringList args, QTextStream& out,
                QTextStream& err)
{
    const QString what = args.isEmpty() ? QString() : args.takeFirst();
    if (what != "config" && what != "firmware")
        throw UsageError{"download needs 'config' or 'firmware'"};
    const bool firmware = what == "firmware";
    const Options o = parse(args, kLinkOptions + QStringList{"gd-image"}, {"send-files", "yes"});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    port.defaultYes = o.flags.contains("yes");
    const bool send = o.flags.contains("send-files");
    QString error;
    // What goes to the instruments is what the last Read (and config set) left.
    if ((send || o.values.contains("gd-image")) && !core.RestoreFromStaging(&error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    prepareLink(core, port, o);
    if (!ButtonsForLink(core.link).downloads)
        throw UsageError{"instrument downloads go over --link cable or udp"};
    if (o.values.contains("gd-image")) {
        const QString path = QFileInfo(o.values["gd-image"]).absoluteFilePath();
        if (!QFileInfo(path).isFile() || !core.GDUpgradeFileNameEditChange(path)) {
            err << "marvane-cli: " << path << " was not accepted as instrument firmware" << Qt::endl;
            return ExitFailure;
        }
    }
    if (firmware)
        core.editors.gd.GDOpFirmwareFileSendCheck = send;
    else
        core.editors.gd.GDOpConfigFileSendCheck = send;
    const bool ok = core.GDOpConfigBtnClick(firmware ? 1 : 0);
    const auto& grid = core.editors.gd.GDOpResGrid;
    for (const auto& row : grid) {
        QStringList cells;
        for (const QString& c : row)
            cells << (c.isEmpty() ? QStringLiteral("-") : c);
        out << cells.join('\t') << '\n';
    }
    if (ok)
        port.statusText = LangText(718);
    return finish(ok, port, out);
}

int cmdPurge(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out)
{
    const Options o = parse(args, kLinkOptions, {"yes"});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    port.answer(702, o.flags.contains("yes"));
    prepareLink(core, port, o);
    const bool ok = core.LogListBtnPurgeClick();
    if (!ok && port.statusText.isEmpty())
        port.statusText = QStringLiteral("Purge not started (answer the question with --yes)");
    else if (ok)
        port.statusText = LangText(718);
    return finish(ok, port, out);
}

int cmdWrite(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out,
             QTextStream& err)
{
    const Options o = parse(args, kLinkOptions + QStringList{"dock-image", "gd-image"}, {"yes"});
    if (!o.positional.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.positional.first())};
    port.defaultYes = o.flags.contains("yes");
    QString error;
    if (!core.RestoreFromStaging(&error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    prepareLink(core, port, o);
    for (const auto& [opt, dock] : {std::pair{"dock-image", true}, std::pair{"gd-image", false}}) {
        if (!o.values.contains(opt))
            continue;
        const QString path = QFileInfo(o.values[opt]).absoluteFilePath();
        if (!QFileInfo(path).isFile()) {
            err << "marvane-cli: " << path << ": no such file" << Qt::endl;
            return ExitFailure;
        }
        const bool accepted =
            dock ? core.DockUpgradeFileEditChange(path) : core.GDUpgradeFileNameEditChange(path);
        if (!accepted) {
            err << "marvane-cli: " << path << " was not accepted as "
                << (dock ? "dock" : "instrument") << " firmware" << Qt::endl;
            return ExitFailure;
        }
    }
    return finish(core.OpWriteBtnClick(), port, out);
}

int cmdConfig(TMainCore& core, QStringList args, QTextStream& out, QTextStream& err,
              CliOperatorPort& port)
{
    const QString sub = args.isEmpty() ? QString() : args.takeFirst();
    QString error;
    if (sub == "show") {
        if (!args.isEmpty())
            throw UsageError{"config show takes no arguments"};
        if (!core.RestoreFromStaging(&error)) {
            err << "marvane-cli: " << error << Qt::endl;
            return ExitFailure;
        }
        for (const QString& line : core.editors.ShowLines())
            out << line << '\n';
        out.flush();
        return ExitOk;
    }
    if (sub != "set")
        throw UsageError{"config needs 'show' or 'set Name=value ...'"};
    QStringList assignments;
    while (!args.isEmpty() && args.first().contains('='))
        assignments << args.takeFirst();
    if (assignments.isEmpty())
        throw UsageError{"config set needs at least one Name=value"};
    if (!args.isEmpty() && args.first() != "write")
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(args.first())};
    if (!core.RestoreFromStaging(&error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    for (const QString& a : assignments) {
        const int eq = int(a.indexOf('='));
        if (!core.editors.Set(a.left(eq).trimmed(), a.mid(eq + 1), &error)) {
            err << "marvane-cli: " << error << Qt::endl;
            return ExitFailure;
        }
    }
    // The edited values wait in the transfer folder for the next write.
    if (!core.editors.SetDockCfgToFile(core.state.settings.ConfigPrNNetworkPortEdit, &error) ||
        !core.editors.SetGDCfgToFile(&error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    if (!args.isEmpty()) {
        args.takeFirst();
        return cmdWrite(core, port, args, out, err);
    }
    return ExitOk;
}

int cmdFwCheck(const QStringList& args, QTextStream& out)
{
    const Options o = parse(args, {"type"}, {});
    if (o.positional.size() != 1)
        throw UsageError{"fw-check needs one FILE"};
    const QString type = o.values.value("type").toLower();
    if (type != "dock" && type != "gd")
        throw UsageError{"fw-check needs --type dock or --type gd"};
    QString desc;
    std::array<uint8_t, 4> ver{};
    const uint8_t code =
        TUnitDef::IsValidFirmware(type == "dock" ? DOCK_ID : GD_ID, o.positional.first(), desc, ver);
    out << code << ' ' << ProgramResultName(code) << ' ' << ProgramResultDescription(code);
    if (code == PROGRAM_OK)
        out << " (" << desc << ')';
    out << Qt::endl;
    return code == PROGRAM_OK ? ExitOk : ExitFailure;
}

} // namespace

bool IsDockCommand(const QString& command)
{
    static const QStringList kCommands = {"read",  "purge", "config",  "write",
                                          "fw-check", "rtc", "reset", "download"};
    return kCommands.contains(command);
}

int RunDockCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                   QTextStream& out, QTextStream& err)
{
    try {
        if (command == "fw-check")
            return cmdFwCheck(args, out);
        TMainCore core(state, port);
        InterruptCancels interrupt(core);
        // The window pauses so that the last step stays readable; a script does not need it.
        core.FinalPauseSec = 0;
        // Commands that change the transfer folder hold it from the start (the
        // restore of the last Read included); those that only look do not.
        const bool changes = command == "read" || command == "purge" || command == "write" ||
                             command == "download" || (command == "config" && args.value(0) == "set");
        TTransferLock lock;
        if (changes && !lock.acquire(port))
            return finish(false, port, out);
        if (command == "read")
            return cmdRead(core, port, args, out, err);
        if (command == "rtc")
            return cmdRtc(core, port, args, out);
        if (command == "reset")
            return cmdReset(core, port, args, out);
        if (command == "download")
            return cmdDownload(core, port, args, out, err);
        if (command == "purge")
            return cmdPurge(core, port, args, out);
        if (command == "write")
            return cmdWrite(core, port, args, out, err);
        if (command == "config")
            return cmdConfig(core, args, out, err, port);
    } catch (const UsageError& e) {
        err << "marvane-cli: " << e.message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
        return ExitUsage;
    }
    return ExitUsage;
}
