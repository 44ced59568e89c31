#include "cli/ReportCommands.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <tuple>

#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "app/TransferLock.h"
#include "app/Reporting.h"
#include "cli/CliOperatorPort.h"
#include "lang/LangTable.h"
#include "report/ReportDocs.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

struct UsageError {
    QString message;
};

bool usableDestination(const AppState& state)
{
    return !state.FLogDestDir.trimmed().isEmpty() && QFileInfo(state.FLogDestDir).isDir();
}

QString noDestination()
{
    return QStringLiteral("no log destination folder is set: marvane-cli settings set "
                          "SET/LogDestination=FOLDER");
}

// --only-new: only the logs that are not in the local store yet.
void keepOnlyNew(TLogBrowser& browser, TMainCore& core)
{
    const QString dest = AppState::AddLastSlash(core.state.FLogDestDir);
    const TUnitDef& unit = *core.FUnitDef;
    auto stored = [&](int logIdx, const QString& sub) {
        const RUnitLogList e = unit.GetLogList(logIdx);
        return QFileInfo::exists(StoreInstrumentDir(dest, e.mAliasName) + sub + StagedLogName(e));
    };
    const QString dockDir = dest + "DOCK/" + StoreFolderName(core.editors.dock.DockInfoSNEdit) + '/';
    for (int row = 0; row < core.FLogDock.size(); ++row)
        browser.SetChecked(TLogBrowser::ListDock, row, -1,
                           !QFileInfo::exists(dockDir + GetFatFileNameExtract(
                                                            unit.GetLogList(core.FLogDock[row]).mName)));
    // An event row stays checked while one of its files is new.
    for (int row = 0; row < browser.LogListGDEventList.size(); ++row) {
        bool anyNew = false;
        for (const RLogGDIndex& e : core.FLOgGDEvent)
            if (e.mViewIdx == row && !stored(e.mLogIdx, "EVENT/"))
                anyNew = true;
        browser.SetChecked(TLogBrowser::ListEvent, row, -1, anyNew);
    }
    for (const auto& [list, index, sub] :
         {std::tuple{TLogBrowser::ListCal, &core.FLogGDCal, "CAL/"},
          std::tuple{TLogBrowser::ListBump, &core.FLogGDBump, "BUMP/"}})
        for (const RLogGDIndex& e : *index)
            browser.SetChecked(list, e.mViewIdx, e.mViewSubIdx, !stored(e.mLogIdx, QLatin1String(sub)));
}

int cmdSaveLog(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out,
               QTextStream& err)
{
    bool onlyNew = false;
    for (const QString& a : args) {
        if (a == "--only-new")
            onlyNew = true;
        else
            throw UsageError{QStringLiteral("unexpected argument '%1'").arg(a)};
    }
    QString error;
    // The editors are not needed here, only the dock's identity; a staging area
    // without every configuration file still has logs worth saving.
    if (!core.RestoreFromStaging(&error))
        err << "marvane-cli: warning: " << error << Qt::endl;
    if (RestoreLogListFromStaging(*core.FUnitDef) == 0) {
        err << "marvane-cli: the last read brought no logs: run 'read' first" << Qt::endl;
        return ExitFailure;
    }
    if (!usableDestination(core.state)) {
        err << "marvane-cli: " << noDestination() << Qt::endl;
        return ExitFailure;
    }
    TLogBrowser browser(core);
    browser.DisplayLogList();
    browser.SelectAllList(true);
    if (onlyNew)
        keepOnlyNew(browser, core);
    const bool ok = core.LogListBtnSaveClick();
    out << (ok ? "SUCCESS: " : "FAILURE: ") << port.statusText << Qt::endl;
    if (ok)
        out << "Report: "
            << QDir::toNativeSeparators(AppState::AddLastSlash(core.state.FLogDestDir) + "Report/" +
                                        core.state.FLastReportFile)
            << Qt::endl;
    return ok ? ExitOk : ExitFailure;
}

int cmdReport(TMainCore& core, CliOperatorPort& port, const QStringList& args, QTextStream& out,
              QTextStream& err)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(args.first())};
    if (!usableDestination(core.state)) {
        err << "marvane-cli: " << noDestination() << Qt::endl;
        return ExitFailure;
    }
    TLogBrowser browser(core);
    if (!browser.LogListBtnRefreshClick()) {
        err << "marvane-cli: " << port.statusText << Qt::endl;
        return ExitFailure;
    }
    browser.store.FDevMode = core.FUnitDef->FDevMode;
    bool ok = true;
    QString error;
    const QStringList written = MakeSendFiles(browser.store, true, &ok, &error);
    QString settingsError;
    if (!core.state.SaveSetting(&settingsError))
        err << "marvane-cli: " << settingsError << Qt::endl;
    for (const QString& f : written)
        out << QDir::toNativeSeparators(f) << '\n';
    out.flush();
    if (!ok) {
        err << "marvane-cli: " << error << Qt::endl;
        return ExitFailure;
    }
    return ExitOk;
}

int cmdResult(TMainCore& core, QStringList args, QTextStream& out, QTextStream& err)
{
    if (args.size() != 2 || args.first() != "show")
        throw UsageError{"result needs 'show FILE'"};
    const QString file = args.at(1);
    const uint8_t kind = TestKindOfResult(file);
    RDockTestInfo info;
    const uint8_t code = GetDockTestInfo(kind, file, info);
    if (code != DOCKTEST_OK) {
        static const char* const kWhy[] = {"", "no such file", "not a readable XML document",
                                           "no INFO element", "no recognisable GAS element"};
        err << "marvane-cli: " << file << ": " << (code < 5 ? kWhy[code] : "unreadable") << " (code "
            << code << ')' << Qt::endl;
        return ExitFailure;
    }
    const uint8_t style = uint8_t(std::clamp(core.state.settings.ConfigSetDateRadio, 0, 2));
    for (const QString& line : TLogBrowser::PanelLines(TLogBrowser::ResultPanel(kind, info, style)))
        out << line << '\n';
    out.flush();
    return ExitOk;
}

int cmdMailTest(TMainCore& core, const QStringList& args, QTextStream& out)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument '%1'").arg(args.first())};
    const uint8_t code = ConfigSendEmailSvrTestBtnClick(core);
    if (code == MAIL_RESULT_OK)
        out << "SUCCESS: the server accepted the test message" << Qt::endl;
    else if (code == MAIL_RESULT_NOT_CONFIGURED)
        out << "FAILURE: EMAIL/To, EMAIL/From and EMAIL/Server must be set" << Qt::endl;
    else
        out << "FAILURE: the test message was not sent (see the lines above)" << Qt::endl;
    return code == MAIL_RESULT_OK ? ExitOk : ExitFailure;
}

} // namespace

bool IsReportCommand(const QString& command)
{
    static const QStringList kCommands = {"save-log", "report", "result", "mail-test"};
    return kCommands.contains(command);
}

int RunReportCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                     QTextStream& out, QTextStream& err)
{
    try {
        TMainCore core(state, port);
        core.DebugLogUnitCheck = true;
        core.DebugLogProgressCheck = true;
        TTransferLock lock;
        if ((command == "save-log" || command == "report") && !lock.acquire(port))
            return ExitFailure;
        if (command == "save-log")
            return cmdSaveLog(core, port, args, out, err);
        if (command == "report")
            return cmdReport(core, port, args, out, err);
        if (command == "result")
            return cmdResult(core, args, out, err);
        if (command == "mail-test")
            return cmdMailTest(core, args, out);
    } catch (const UsageError& e) {
        err << "marvane-cli: " << e.message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
        return ExitUsage;
    }
    return ExitUsage;
}
