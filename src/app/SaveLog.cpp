// "Save Log": the checked logs into the local store, the alert store folded and
// evaluated, the report documents written and shown.
#include <QDir>
#include <QFileInfo>
#include <optional>

#include "app/FleetUpdate.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "app/TransferLock.h"
#include "lang/LangTable.h"
#include "app/FleetServerSync.h"
#include "report/ReportDocs.h"
#include "report/ReportStore.h"

bool TMainCore::LogListBtnSaveClick()
{
    if (state.FExe)
        return false;
    TTransferLock lock;
    if (!lock.acquire(port))
        return false;
    TLogBrowser* browser = TLogBrowser::Of(*this);

    if (!GetLogDestination(true)) {
        port.showMessage(LangText(719), LangText(720), OperatorPort::Icon::Error);
        return false;
    }

    TTransferLock::RemoveLeftoverCopies(state.FLogDestDir);
    port.setBusy(true);
    state.FExe = true;
    FCancelRequested = false;
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    struct Cleanup {
        TMainCore& core;
        TLogBrowser* browser;
        ~Cleanup()
        {
            // Also when a step failed: the settings keep the new report name, and
            // unless logs are retained the lists start empty for the next Read.
            if (core.PullSettings)
                core.PullSettings();
            QString err;
            if (!core.state.SaveSetting(&err))
                core.AddLog(LOGTYPE_PROGRESS2, err);
            // A cancelled save keeps the lists: what was not copied can be saved next time.
            const bool cancelled = core.CancelRequested();
            if (!core.state.settings.ConfigSetEtcRetainLogCheck && !cancelled) {
                if (browser)
                    browser->Clear();
                core.FUnitDef->ClearLogList();
                core.FLogDock.clear();
                core.FLOgGDEvent.clear();
                core.FLogGDBump.clear();
                core.FLogGDCal.clear();
            }
            core.LogListBtnSaveEnabled = cancelled;
            if (browser)
                browser->LogListBtnMakeEnabled = false;
            core.state.FExe = false;
            core.port.setBusy(false);
            if (core.Changed)
                core.Changed();
        }
    } cleanup{*this, browser};

    AddLog(LOGTYPE_PROGRESS, '[' + LangText(103) + ']');
    auto fail = [this](const QString& why) {
        AddLog(LOGTYPE_PROGRESS1, LangText(709) + QStringLiteral(" : ") + why);
        SetStatus(why, OperatorPort::StatusLook::Failure);
        return false;
    };

    QString sErr;
    QVector<int> events, cals, bumps;
    CopyDockFilesFromList(browser ? browser->CheckedDockRows() : QVector<int>(), sErr);
    CopyGDEventFromList(browser ? browser->CheckedEventRows() : QVector<int>(), sErr, events);
    CopyGDCalFromList(browser ? browser->CheckedResultNodes(TLogBrowser::ListCal) : QVector<RCheckedNode>(),
                      sErr, cals);
    CopyGDBumpFromList(browser ? browser->CheckedResultNodes(TLogBrowser::ListBump) : QVector<RCheckedNode>(),
                       sErr, bumps);
    // Files that could not be copied are named in the history, one line each.
    for (const QString& line : sErr.split('\r', Qt::SkipEmptyParts))
        AddLog(LOGTYPE_PROGRESS2, line);

    std::optional<TReportStore> own;
    if (!browser)
        own.emplace(state);
    TReportStore& store = browser ? browser->store : *own;
    store.FDevMode = FUnitDef->FDevMode;
    QString error;
    // A store that exists but cannot be read must not be replaced by what little
    // this save would put into an empty one.
    if (!store.LoadResult(&error)) {
        port.showMessage(LangText(826) + '\n' + error, LangText(103), OperatorPort::Icon::Error);
        return fail(error);
    }
    const QVector<RUnitLogList>& logList = FUnitDef->FLogList;
    store.MakeCalResult(logList, cals);
    store.MakeBumpResult(logList, bumps);
    store.MakeEventResult(logList, events);
    if (!state.settings.ConfigSetAlertEventAfterCheck)
        store.ClearAlarmsBeforeWindow();
    store.CheckResult();
    if (!store.SaveResult(&error))
        return fail(error);
    bool written = true;
    MakeSendFiles(store, true, &written, &error);
    if (browser)
        browser->MakeLastList();
    UpdateFleetAfterSave(*this, FUnitDef->DockInfoSN());
    if (!written)
        return fail(error);

    const QString report = AppState::AddLastSlash(state.FLogDestDir) + QStringLiteral("Report/") +
                           state.FLastReportFile;
    const QString shown = QDir::toNativeSeparators(report);
    if (QFileInfo(report).isFile()) {
        if (browser && browser->ShowReport)
            browser->ShowReport(report);
        port.showPage(QStringLiteral("ReportTS"));
    }
    if (CancelRequested())
        return fail(LangText(779));
    // Every chosen log now stands in the local store: a later Read may empty the staging folders.
    if (sErr.isEmpty())
        MarkLastReadSaved();
    AddLog(LOGTYPE_PROGRESS1, LangText(718) + QStringLiteral(" : ") + shown);
    SetStatus(LangText(718) + QStringLiteral(" : ") + shown, OperatorPort::StatusLook::Success);
    PushFleetIfConfigured(state, &port);
    return true;
}
