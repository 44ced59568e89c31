#include "app/AutoMode.h"
#include "app/FleetServerSync.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cmath>

#include "app/AutoModeMemory.h"
#include "app/LanConnect.h"
#include "app/FleetUpdate.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "app/Reporting.h"
#include "lang/LangTable.h"
#include "logview/EventLog.h"
#include "platform/Platform.h"
#include "report/ReportDocs.h"
#include "util/FileCopy.h"

namespace {

constexpr double kSec = 1.0 / 86400.0;
// Longest sleep without looking at the wall clock: a clock set by a time server
// moves under a sleeping timer, and a deadline must still be met to the second.
constexpr double kMaxSleepSec = 5;

QString T(int n) { return LangText(n); }

qint64 toSec(TDateTime d) { return qint64(std::floor(d * 86400.0 + 1e-6)); }

double frac(TDateTime t) { return t - std::floor(t); }

// 1 = Monday ... 7 = Sunday; day 0 (30 December 1899) was a Saturday.
int weekday(qint64 day) { return int(((day + 5) % 7 + 7) % 7) + 1; }

QString stamp(TDateTime now) { return FormatDays(QStringLiteral("yymmddhhnnss"), now); }

} // namespace

// ---- clocks -------------------------------------------------------------------

TDateTime TSystemClock::Now() { return NowDays(); }

void TSystemClock::WaitUntil(TDateTime deadline)
{
    const double ms = (deadline - Now()) * 86400000.0;
    if (m_woken || ms <= 0) {
        m_woken = false;
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(std::min(ms + 1, 24.0 * 3600 * 1000)));
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    m_woken = false;
}

void TSystemClock::Wake()
{
    m_woken = true;
    if (m_loop)
        m_loop->quit();
}

void TManualClock::WaitUntil(TDateTime deadline)
{
    ++waits;
    QCoreApplication::processEvents();
    const TDateTime before = m_now;
    if (OnWait)
        OnWait(deadline);
    // A test that moved the clock itself has said where the time is.
    if (m_now == before && deadline > m_now)
        m_now = deadline;
}

// ---- decisions ----------------------------------------------------------------

TDateTime TAutoMode::GetSendTime(const std::array<RSetSch, 5>& sch, TDateTime now)
{
    const qint64 day = qint64(std::floor(now));
    const qint64 nowSec = qint64(std::floor(frac(now) * 86400.0 + 1e-6));
    const int d = weekday(day);
    TDateTime result = now + 365;
    for (int r = 1; r <= 4; ++r) {
        const RSetSch& row = sch[r];
        const TDateTime rowTime = frac(row.mTime);
        const qint64 rowSec = qint64(std::llround(rowTime * 86400.0));
        const int first = rowSec > nowSec ? 0 : 1;
        for (int k = first; k < first + 7; ++k) {
            const int wd = (d - 1 + k) % 7 + 1;
            if (row.mDayOfWeek[wd]) {
                result = std::min(result, TDateTime(day + k) + rowTime);
                break;
            }
        }
    }
    return result;
}

TDateTime TAutoMode::NextSendTime(const std::array<RSetSch, 5>& sch, TDateTime now, TDateTime lastSlot)
{
    const bool wentBackOverIt = lastSlot > now && lastSlot - now <= 2.0 / 24;
    return GetSendTime(sch, wentBackOverIt ? lastSlot : now);
}

TDateTime TAutoMode::GetConCheckTime(int& step, TDateTime now)
{
    if (step >= 4) {
        step = 3;
        return now + STEPTIME[4] * kSec;
    }
    if (step <= 0) {
        step = 0;
        return now + STEPTIME[0] * kSec;
    }
    const TDateTime t = now + STEPTIME[step] * kSec;
    --step;
    return t;
}

bool TAutoMode::KeepLogFile(const RFileList& file, const QVector<RDockReport>& report, bool bTimeUpdate)
{
    const QString alias = file.mAliasName.trimmed();
    if (alias.length() <= 3)
        return false;
    const QString name = QFileInfo(file.mName).fileName().toUpper();
    const int kind = file.mOpt & 0x0F;
    // A file of no known kind would be fetched in every cycle and never used.
    if (kind == UNIT_OPT_NONE)
        return false;
    for (const RDockReport& r : report) {
        if (r.mSN.compare(alias, Qt::CaseInsensitive) != 0)
            continue;
        QString mark;
        if (kind == UNIT_OPT_GDEVENT && !bTimeUpdate)
            mark = r.mLastEventCheckFile;
        else if (kind == UNIT_OPT_GDBUMP)
            mark = r.mLastBumpFile;
        else if (kind == UNIT_OPT_GDCAL)
            mark = r.mLastCalFile;
        else
            continue;
        if (name.compare(mark.toUpper(), Qt::CaseSensitive) <= 0)
            return false;
    }
    return true;
}

bool TAutoMode::ClockDrifted(TDateTime dock, TDateTime now)
{
    return dock > 0 && std::llround(std::fabs(dock - now) * 86400000.0) > 30000;
}

TDateTime TAutoMode::NextDayStart(TDateTime now, TDateTime dayStart)
{
    TDateTime t = std::floor(now) + frac(dayStart);
    if (toSec(now) >= toSec(t))
        t += 1;
    return t;
}

QString TAutoMode::CountdownText(TDateTime now, TDateTime sendTime, int dateFormat)
{
    const qint64 left = std::max<qint64>(0, toSec(sendTime) - toSec(now));
    const QString when = dateFormat >= 0 ? GetDateHMFmt(uint8_t(dateFormat), sendTime, QStringLiteral("-"))
                                         : FormatDays(QStringLiteral("yy-mm-dd hh:nn"), sendTime);
    return LangText(1002, "Next report in %1 (%2)")
        .arg(QString::asprintf("%d:%2.2d:%2.2d", int(left / 3600), int(left / 60 % 60), int(left % 60)), when);
}

bool TAutoMode::HasReportTime(const std::array<RSetSch, 5>& sch)
{
    for (int r = 1; r <= 4; ++r)
        for (int d = 1; d <= 7; ++d)
            if (sch[r].mDayOfWeek[d])
                return true;
    return false;
}

// ---- object -------------------------------------------------------------------

TAutoMode::TAutoMode(TMainCore& c, std::shared_ptr<TAutoClock> clk)
    : core(c), clock(clk ? std::move(clk) : std::make_shared<TSystemClock>())
{
}

TAutoMode::~TAutoMode() = default;

TUdpSkt& TAutoMode::udp() { return VisitUnit ? *VisitUnit : core.UdpSkt; }

TReportStore& TAutoMode::Store()
{
    if (TLogBrowser* b = TLogBrowser::Of(core))
        return b->store;
    if (!m_ownStore)
        m_ownStore = std::make_unique<TReportStore>(core.state);
    return *m_ownStore;
}

TAutoMode::AlertSnap TAutoMode::alertSnap() const
{
    const AppSettings& s = core.state.settings;
    return {s.ConfigSetAlertEventEdit, s.ConfigSetAlertEventCombo, s.ConfigSetAlertRefTimePicker,
            s.ConfigSetAlertEventAfterCheck};
}

void TAutoMode::SettingsEdited()
{
    if (!m_running)
        return;
    clock->Wake();
    if (m_timer && m_timer->isActive())
        m_timer->start(0);
}

void TAutoMode::OpAutoCancelBtnClick()
{
    core.state.FAutoMode = false;
    // The step in progress stops at its next file or request; a dock exchange
    // still waiting for its answer a second later is broken off (never an upload).
    core.RequestCancel();
    if (m_visiting) {
        if (!m_cancelGrace) {
            m_cancelGrace = std::make_unique<QTimer>();
            m_cancelGrace->setSingleShot(true);
            QObject::connect(m_cancelGrace.get(), &QTimer::timeout, [this] {
                if (m_visiting && !m_uploading)
                    udp().CloseComm();
            });
        }
        if (!m_cancelGrace->isActive())
            m_cancelGrace->start(1000);
    }
    clock->Wake();
    if (m_timer && m_timer->isActive())
        m_timer->start(0);
}

bool TAutoMode::ClearFiles()
{
    AppState tmp;
    const bool ok = tmp.MakeDefaultDirectory();
    const QString root = platform::TransferFolder();
    const struct {
        QString dir, pattern;
    } sets[] = {{SAVE_DIR_LOG_GDEVENT, "*.CSV"}, {SAVE_DIR_LOG_GDCAL, "*.XML"}, {SAVE_DIR_LOG_GDBUMP, "*.XML"}};
    for (const auto& s : sets) {
        QDir dir(root + s.dir);
        if (!dir.exists())
            continue;
        for (const QString& f : dir.entryList({s.pattern}, QDir::Files | QDir::Hidden))
            QFile::remove(dir.filePath(f));
    }
    return ok;
}

// ---- the run ------------------------------------------------------------------

bool TAutoMode::begin()
{
    if (m_running || core.state.FExe)
        return false;
    // Held for the whole run: a Read by hand meanwhile would empty the staging folders.
    if (!m_transferLock.acquire(core.port)) {
        core.state.FAutoMode = false;
        return false;
    }
    // The staging folders still hold logs of a Read that nobody saved; clearing
    // them for Auto mode would lose those results.
    if (core.LogListBtnSaveEnabled || !TMainCore::LoadLastRead().saved) {
        core.AddLog(LOGTYPE_PROGRESS, T(712) + ' ' + T(783));
        core.port.showMessage(T(712) + '\n' + T(783), T(745), OperatorPort::Icon::Error);
        core.state.FAutoMode = false;
        m_transferLock.release();
        return false;
    }
    startRun();
    return true;
}

bool TAutoMode::RunAutoMode()
{
    if (!begin())
        return false;
    while (core.state.FAutoMode) {
        pass();
        if (!core.state.FAutoMode)
            break;
        const TDateTime now = clock->Now();
        if (immediate())
            QCoreApplication::processEvents();
        else
            clock->WaitUntil(nextDeadline(now));
    }
    endRun();
    return true;
}

bool TAutoMode::Start()
{
    if (!begin())
        return false;
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] { tick(); });
    }
    m_timer->start(0);
    return true;
}

void TAutoMode::tick()
{
    if (core.state.FAutoMode)
        pass();
    if (!core.state.FAutoMode) {
        endRun();
        return;
    }
    scheduleTick();
}

void TAutoMode::scheduleTick()
{
    const TDateTime now = clock->Now();
    const double ms = immediate() ? 0 : std::max(0.0, (nextDeadline(now) - now) * 86400000.0 + 1);
    m_timer->start(int(std::min(ms, kMaxSleepSec * 1000)));
}

void TAutoMode::startRun()
{
    AppState& st = core.state;
    m_running = true;
    st.FAutoMode = true;
    m_prevUnit = core.FUnitDef;
    core.FUnitDef->OnInform = nullptr;
    FEventTimeChanged = false;
    st.FTimeSchChanged = false;
    m_cycles = 0;
    m_storeOk = true;
    m_destOk = true;
    m_reportFailed = false;
    core.FCancelRequested = false;

    const TDateTime now = clock->Now();
    nStep = 0;
    nStepSub = 1;
    nNGRetry = 0;
    nConCheckStep = 4;
    nLoadCnt = 0;
    nDelDirCnt = 0;
    dtSendTime = now + 365;
    dtSendRefTime = now;
    dtSendRemainDisp = now + kSec;
    dtConCheckTime = now;
    dtLogTime = now + 0.25;
    dtLastUpdate = NextDayStart(now, st.settings.ConfigSetAlertRefTimePicker);
    dtRefTime = now;
    bTimeUpdate = false;
    FLoaded.clear();
    mFWList = RFWList{};
    mFWSend.clear();
    FVisits = {RDockLanInfo{}};
    FTally.clear();
    m_loadedDock.clear();
    dtDestRetry = now;
    dtReportRetry = now;
    dtLastSlot = 0;
    m_lastNow = now;
    m_alert = alertSnap();
    m_sch = st.FTimeSch;

    Store().Now = [c = clock] { return c->Now(); };
    if (OnRunState)
        OnRunState(true);
    core.SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    if (core.ClearLogBrowser)
        core.ClearLogBrowser();

    core.AddLog(LOGTYPE_PROGRESS, T(745));
    // A destination set but not there (a network share not mounted yet) is waited
    // for: nobody may be there to answer a folder picker.
    if (destinationMissing()) {
        nStep = 5;
        stepWaitDestination();
        return;
    }
    st.FAutoMode = core.GetLogDestination(true);
    if (!st.FAutoMode) {
        m_destOk = false;
        core.AddLog(LOGTYPE_PROGRESS1, T(716));
        return;
    }
    TTransferLock::RemoveLeftoverCopies(st.FLogDestDir);
    if (!ClearFiles())
        core.AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + platform::TransferFolder());
}

void TAutoMode::endRun()
{
    // Cancelled between the visits and the evaluation: what was fetched is still
    // copied and evaluated, so a result never waits in the staging folder alone.
    if ((nStep == 12 || nStep == 13) && !FLoaded.isEmpty() && m_storeOk) {
        evaluateCycle();
        FLoaded.clear();
        m_loadedDock.clear();
    }
    if (nStep == 12 || nStep == 13)
        logDockSummary();
    flushLogs(true);
    udp().CloseComm();
    udp().OnInform = nullptr;
    udp().ClearVariable();
    if (m_prevUnit)
        core.FUnitDef = m_prevUnit;
    core.FUnitDef->OnInform = nullptr;
    core.state.FAutoMode = false;
    core.FCancelRequested = false;
    m_running = false;
    core.AddLog(LOGTYPE_PROGRESS, T(781));
    m_transferLock.release();
    if (OnRunState)
        OnRunState(false);
}

bool TAutoMode::immediate() const { return nStep != 3 && nStep != 5 && nStep != 11; }

// Only deadlines a waiting step acts on count: the event-window refresh is looked
// at when docks are found, so waiting for it would wake the loop for nothing (and,
// once past with no dock around, at once, over and over).
TDateTime TAutoMode::nextDeadline(TDateTime now) const
{
    TDateTime t = std::min(now + kMaxSleepSec * kSec, dtLogTime);
    if (nStep == 3)
        t = std::min(t, dtRefTime);
    if (nStep == 5)
        t = std::min(t, dtDestRetry);
    if (nStep == 11)
        t = std::min({t, dtSendTime, dtConCheckTime, m_reportFailed ? dtReportRetry : t});
    if (CountdownVisible && nStep > 9)
        t = std::min(t, dtSendRemainDisp);
    // Every wait ends later than it starts: a deadline already past that no step
    // took up would otherwise turn the wait into a busy loop.
    return std::max(t, now + 0.2 * kSec);
}

void TAutoMode::checkClockJump(TDateTime now)
{
    // The PC's clock was set back: deadlines taken from the old time would lie
    // hours ahead. Each is brought back within its own interval.
    if (toSec(now) < toSec(m_lastNow) - 2) {
        core.AddLog(LOGTYPE_PROGRESS1, T(782));
        dtConCheckTime = std::min(dtConCheckTime, now + STEPTIME[0] * kSec);
        dtRefTime = std::min(dtRefTime, now + 60 * kSec);
        dtLogTime = std::min(dtLogTime, now + 0.25);
        dtSendRemainDisp = now;
        dtLastUpdate = std::min(dtLastUpdate, NextDayStart(now, core.state.settings.ConfigSetAlertRefTimePicker));
        core.state.FTimeSchChanged = true;
    }
    m_lastNow = now;
}

void TAutoMode::pass()
{
    AppState& st = core.state;
    const TDateTime now = clock->Now();
    checkClockJump(now);
    // Edits made in the window (or the settings file) during the run.
    if (alertSnap() != m_alert) {
        m_alert = alertSnap();
        FEventTimeChanged = true;
    }
    for (int r = 1; r <= 4; ++r)
        if (st.FTimeSch[r].mTime != m_sch[r].mTime || st.FTimeSch[r].mDayOfWeek != m_sch[r].mDayOfWeek)
            st.FTimeSchChanged = true;
    m_sch = st.FTimeSch;

    if (st.FTimeSchChanged) {
        st.FTimeSchChanged = false;
        if (nStep > 9) {
            dtSendTime = NextSendTime(st.FTimeSch, now, dtLastSlot);
            dtSendRefTime = now;
            dtSendRemainDisp = now; // the countdown shows the new time at once
        }
    }
    if (nStep > 9 && now >= dtSendRemainDisp) {
        if (OnCountdown)
            OnCountdown(int(toSec(now) - toSec(dtSendRefTime)),
                        int(std::max<qint64>(0, toSec(dtSendTime) - toSec(dtSendRefTime))),
                        HasReportTime(st.FTimeSch) ? CountdownText(now, dtSendTime, st.settings.ConfigSetDateRadio)
                                                   : T(889));
        dtSendRemainDisp = now + kSec;
    }
    if (now >= dtLogTime) {
        flushLogs(false);
        dtLogTime = now + 0.25;
    }
    runStep();
}

void TAutoMode::runStep()
{
    switch (nStep) {
    case 0: {
        core.AddLog(LOGTYPE_PROGRESS1, T(747));
        TReportStore& store = Store();
        store.FDevMode = core.FUnitDef->FDevMode;
        // A store that cannot be read (another program's, damaged) would stop every
        // pass: it is kept aside under a dated name and a new one starts.
        QString aside;
        if (store.SetAsideUnreadable(stamp(clock->Now()), &aside))
            core.AddLog(LOGTYPE_PROGRESS1, T(784) + QStringLiteral(" : ") + QDir::toNativeSeparators(aside));
        QString error;
        if (!store.LoadResult(&error)) {
            // Nothing is evaluated into a store that could not be read.
            core.AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + error);
            m_storeOk = false;
            core.state.FAutoMode = false;
            return;
        }
        store.CheckResult();
        stepReport();
        return;
    }
    case 1: stepReport(); return;
    case 2: stepSend(); return;
    case 3:
        if (clock->Now() >= dtRefTime) {
            ++nNGRetry;
            nStep = 2;
        }
        return;
    case 5: stepWaitDestination(); return;
    case 10:
        m_transferLock.release(); // waiting from here on
        core.state.FTimeSchChanged = true;
        dtConCheckTime = clock->Now();
        nStep = 11;
        return;
    case 11: stepIdle(); return;
    case 12: stepVisit(); return;
    case 13: stepNextDock(); return;
    default: nStep = 10; return;
    }
}

void TAutoMode::showReportFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return;
    if (ShowReport)
        ShowReport(path);
    else if (TLogBrowser* b = TLogBrowser::Of(core); b && b->ShowReport)
        b->ShowReport(path);
}

// The store saved, the documents written (with or without the dated copy), the
// settings saved and the new report shown: the end of a report and of an evaluation.
bool TAutoMode::saveStoreAndDocuments(bool datedCopy)
{
    AppState& st = core.state;
    TReportStore& store = Store();
    QString error;
    if (!store.SaveResult(&error))
        core.AddLog(LOGTYPE_PROGRESS2, T(709) + QStringLiteral(" : ") + error);
    bool written = true;
    MakeSendFiles(store, datedCopy, &written, &error);
    if (!written)
        core.AddLog(LOGTYPE_PROGRESS2, T(709) + QStringLiteral(" : ") + error);
    if (core.PullSettings)
        core.PullSettings();
    if (!st.SaveSetting(&error))
        core.AddLog(LOGTYPE_PROGRESS2, error);
    if (TLogBrowser* b = TLogBrowser::Of(core))
        b->MakeLastList();
    showReportFile(AppState::AddLastSlash(st.FLogDestDir) +
                   (datedCopy ? QStringLiteral("Report/") + st.FLastReportFile : QStringLiteral("Report.Html")));
    return written;
}

void TAutoMode::stepReport()
{
    Store().MakeEventCheckFile();
    const bool written = saveStoreAndDocuments(true);
    nNGRetry = 0;
    nDelDirCnt = 0;
    // A report set that is not complete is neither mailed nor counted as sent
    // (the alarm times stay): it is made again a minute later.
    m_reportFailed = !written;
    if (!written) {
        // The docks are polled meanwhile: results are not left waiting on them
        // for as long as the report cannot be written.
        core.AddLog(LOGTYPE_PROGRESS1, T(821));
        dtReportRetry = clock->Now() + 60 * kSec;
        nStep = 10;
        return;
    }
    nStep = 2;
}

void TAutoMode::stepSend()
{
    const QString subject = QStringLiteral("Marvane Report ") +
                            FormatDays(QStringLiteral("yyyy-mm-dd hh:nn:ss"), core.state.FLastReportDate);
    RMailSettings timeouts = MailTimeouts;
    timeouts.pCancel = &core.FCancelRequested;
    const uint8_t r = SendEmail(core, subject, {QString()}, timeouts);
    if (r == MAIL_RESULT_OK) {
        QString error;
        if (!Store().ResetAfterEmail(&error))
            core.AddLog(LOGTYPE_PROGRESS2, T(709) + QStringLiteral(" : ") + error);
        nStep = 10;
    } else if (r == MAIL_RESULT_NOT_CONFIGURED) {
        core.AddLog(LOGTYPE_PROGRESS1, T(785));
        nStep = 10;
    } else if (nNGRetry >= 5) {
        core.AddLog(LOGTYPE_PROGRESS1, T(786));
        nStep = 10;
    } else {
        dtRefTime = clock->Now() + 60 * kSec;
        nStep = 3;
    }
}

void TAutoMode::updateEventWindow()
{
    Store().MakeEventCheckFile();
    FEventTimeChanged = false;
    dtLastUpdate = NextDayStart(clock->Now(), core.state.settings.ConfigSetAlertRefTimePicker);
    bTimeUpdate = true;
}

void TAutoMode::countCycle()
{
    ++m_cycles;
    if (MaxCycles > 0 && m_cycles >= MaxCycles)
        core.state.FAutoMode = false;
}

// Auto mode holds the transfer folder only while it works, so that a dock can be
// read and saved by hand while it waits (a service runs all week). Work waits
// while another process has the folder, or while a Read by hand is not saved yet
// (the visits would empty the staging folders it is in).
bool TAutoMode::takeTransferFolder()
{
    if (m_transferLock.held())
        return true;
    const TDateTime now = clock->Now();
    QString why;
    const bool free = m_transferLock.acquire(&why);
    if (free && TMainCore::LoadLastRead().saved) {
        m_lockWaitSaid = false;
        return true;
    }
    if (free) {
        m_transferLock.release();
        why = T(712) + ' ' + T(783);
    }
    if (!m_lockWaitSaid)
        core.AddLog(LOGTYPE_PROGRESS1, why);
    m_lockWaitSaid = true;
    dtConCheckTime = std::max(dtConCheckTime, now + 10 * kSec);
    dtReportRetry = std::max(dtReportRetry, now + 10 * kSec);
    return false;
}

void TAutoMode::stepIdle()
{
    // Waiting: the folder is free for work by hand meanwhile.
    m_transferLock.release();
    TDateTime now = clock->Now();
    const bool reportDue = (m_reportFailed && now >= dtReportRetry) || now >= dtSendTime;
    if ((reportDue || now >= dtConCheckTime) && !takeTransferFolder()) {
        if (now >= dtSendTime && !m_reportFailed) {
            // The scheduled report is made as soon as the folder is free.
            m_reportFailed = true;
            dtLastSlot = dtSendTime;
            core.state.FTimeSchChanged = true;
        }
        return;
    }
    if (m_reportFailed && now >= dtReportRetry) {
        nStep = 1;
        return;
    }
    if (now >= dtSendTime) {
        dtLastSlot = dtSendTime;
        core.state.FTimeSchChanged = true;
        nStep = 1;
        return;
    }
    if (now < dtConCheckTime)
        return;
    core.AddLog(LOGTYPE_LANSERACH, T(748));
    core.FDockLan = {RDockLanInfo{}};
    core.FDockLanSilent.clear();
    if (core.LoadLanConnect)
        core.LoadLanConnect(SearchRetrySec, SearchMaxSec);
    const int found = std::max(0, int(core.FDockLan.size()) - 1);
    core.AddLog(LOGTYPE_LANSERACH, LangText(1001, "Search finished: %1 dock(s) found").arg(found));
    FVisits = core.FDockLan;
    for (const QString& ip : core.FDockLanSilent) {
        RDockLanInfo listed;
        listed.mIp = ip;
        FVisits << listed;
    }
    FTally.clear();
    now = clock->Now();
    if (FVisits.size() < 2) {
        dtConCheckTime = GetConCheckTime(nConCheckStep, now);
        countCycle();
        m_transferLock.release();
        return;
    }
    chooseFirmware();
    FLoaded.clear();
    nLoadCnt = 0;
    nStepSub = 1;
    bTimeUpdate = false;
    nStep = 12;
    if (FEventTimeChanged || now >= dtLastUpdate)
        updateEventWindow();
}

void TAutoMode::chooseFirmware()
{
    const AppSettings& s = core.state.settings;
    if (!s.ConfigSetEtcUploadImageCheck) {
        mFWList = RFWList{};
        return;
    }
    auto pick = [this](const QString& path, const QString& label, QString& mPath, QString& mVer, int text) {
        if (path.trimmed().isEmpty() || !QFileInfo(path).isFile()) {
            mPath.clear();
            mVer.clear();
            return;
        }
        if (path != mPath || label != mVer) {
            mPath = path;
            mVer = label;
            core.AddLog(LOGTYPE_PROGRESS2, T(text) + QStringLiteral(" : ") + path + QStringLiteral(" (") + label + ')');
        }
    };
    pick(core.editors.dock.DockUpgradeFileEdit, core.editors.dock.DockUpgradeLabel, mFWList.mDock, mFWList.mDockVer,
         752);
    pick(core.editors.gd.GDUpgradeFileNameEdit, core.editors.gd.GDUpgradeLabel, mFWList.mGD, mFWList.mGDVer, 753);
}

void TAutoMode::uploadFirmware(const QString& sn, const QString& dockVersion)
{
    int idx = -1;
    for (int i = 0; i < mFWSend.size(); ++i)
        if (mFWSend[i].mSN == sn)
            idx = i; // the last match counts
    if (idx < 0) {
        mFWSend.append(RFWSendList{sn, {}, {}, {}, {}});
        idx = int(mFWSend.size()) - 1;
    }
    TUnitDef& unit = udp();
    auto send = [&](uint8_t kind, const QString& path, const QString& ver, QString& sentPath, QString& sentVer) {
        if (!NeedsUpload(path, ver, sentPath, sentVer) || core.CancelRequested())
            return;
        // What went to this dock is remembered across runs, by the image's content.
        const QString hash = TFirmwareMemory::ImageHash(path);
        const RFWSent before = TFirmwareMemory::Load(sn, kind);
        const RFWSent now{hash, ver, QFileInfo(path).fileName()};
        QString error;
        const bool onDock = (!hash.isEmpty() && before.mHash == hash) ||
                            (kind == UNIT_FWTYPE_DOCK &&
                             TFirmwareMemory::SameVersion(dockVersion, TFirmwareMemory::ImageVersion(kind, path)));
        if (onDock) {
            if (before.mHash != hash && !TFirmwareMemory::Remember(sn, kind, now, &error))
                core.AddLog(LOGTYPE_PROGRESS2, T(709) + QStringLiteral(" : ") + error);
            core.AddLog(LOGTYPE_PROGRESS2, T(841) + QStringLiteral(" : ") + path + QStringLiteral(" (") + ver + ')');
            sentPath = path;
            sentVer = ver;
            return;
        }
        core.AddLog(LOGTYPE_PROGRESS2, T(756) + QStringLiteral(" : ") + path + QStringLiteral(" (") + ver + ')');
        // An image on its way is never cut off: Cancel waits for it.
        const std::atomic_bool* cancel = unit.FCancel;
        unit.FCancel = nullptr;
        m_uploading = true;
        const bool ok = unit.SaveFirmware(kind, path);
        m_uploading = false;
        unit.FCancel = cancel;
        if (ok) {
            core.AddLog(LOGTYPE_PROGRESS2, T(756) + QStringLiteral(" ... ") + T(708));
            sentPath = path;
            sentVer = ver;
            if (!TFirmwareMemory::Remember(sn, kind, now, &error))
                core.AddLog(LOGTYPE_PROGRESS2, T(709) + QStringLiteral(" : ") + error);
        } else {
            core.AddLog(LOGTYPE_PROGRESS2, T(756) + QStringLiteral(" ... ") + T(709) +
                                               (unit.FErrStr.isEmpty() ? QString() : QStringLiteral(" : ") + unit.FErrStr));
        }
    };
    send(UNIT_FWTYPE_DOCK, mFWList.mDock, mFWList.mDockVer, mFWSend[idx].mDock, mFWSend[idx].mDockVer);
    send(UNIT_FWTYPE_GD, mFWList.mGD, mFWList.mGDVer, mFWSend[idx].mGD, mFWSend[idx].mGDVer);
}

TDateTime TAutoMode::NewestStoredResult()
{
    TDateTime newest = 0;
    for (const RDockReport& r : Store().FReport)
        newest = std::max({newest, r.mLastBumpPass, r.mLastBumpFail, r.mLastCalPass, r.mLastCalFail});
    return newest;
}

// A dock clock that reads as no time (reset to 1999 after a power loss) or has
// drifted is set from the PC, unless the PC's own clock is behind the store.
void TAutoMode::setDockClock(TUdpSkt& unit, const QString& who, TDateTime dockTime)
{
    const TDateTime now = clock->Now();
    const QString f = QStringLiteral("yyyy-mm-dd hh:nn:ss");
    const bool noTime = !(dockTime > 0);
    if (!noTime && !ClockDrifted(dockTime, now))
        return;
    const TDateTime newest = NewestStoredResult();
    if (now < newest) {
        core.AddLog(LOGTYPE_PROGRESS1, T(837) + QStringLiteral(" : ") + who + QStringLiteral(" (") +
                                           FormatDays(f, now) + QStringLiteral(" < ") + FormatDays(f, newest) + ')');
        return;
    }
    if (noTime)
        core.AddLog(LOGTYPE_PROGRESS1, T(836) + QStringLiteral(" : ") + who + QStringLiteral(" => ") + FormatDays(f, now));
    else
        core.AddLog(LOGTYPE_PROGRESS2, T(755) + QStringLiteral(" : ") + FormatDays(f, dockTime) +
                                           QStringLiteral(" => ") + FormatDays(f, now));
    unit.SetRtc(now);
}

// New files by the watermarks, and every file that an earlier cycle could not
// fetch (kept per dock in the transfer folder until it reaches the store).
void TAutoMode::fetchLogs(TUdpSkt& unit, const RDockLanInfo& dock, const QString& who, RVisitTally& tally)
{
    core.AddLog(LOGTYPE_PROGRESS1, T(706));
    QVector<RFileList> list;
    unit.FFailed.clear();
    unit.LoadLogFileList(list, false);
    const bool listedAll = unit.FFailed.isEmpty() && !core.CancelRequested();
    const QStringList retry = TAutoRetryList::Load(dock.mSN);
    QStringList next;
    auto listed = [&](const QString& name) {
        return std::any_of(list.begin(), list.end(),
                           [&](const RFileList& f) { return f.mName.compare(name, Qt::CaseInsensitive) == 0; });
    };
    // A file gone from a dock listed in full has nothing left to fetch.
    for (const QString& name : retry)
        if (!listedAll && !listed(name))
            next << name;
    const QVector<RDockReport>& report = Store().FReport;
    for (RFileList& f : list) {
        const bool again = retry.contains(f.mName, Qt::CaseInsensitive);
        if (!again && !KeepLogFile(f, report, bTimeUpdate))
            continue;
        if (core.CancelRequested()) {
            next << f.mName;
            continue;
        }
        const uint8_t r = unit.LoadLogFile(f);
        if (r == 0) {
            FLoaded.append(f);
            m_loadedDock << dock.mSN;
            ++nLoadCnt;
            ++tally.fetched;
            // Off the list only once the store holds it (after the evaluation).
            if (again)
                next << f.mName;
            continue;
        }
        next << f.mName;
        if (r != UNIT_RESULT_CANCELLED) {
            ++tally.failed;
            core.AddLog(LOGTYPE_PROGRESS1, T(838) + QStringLiteral(" : ") + who + ' ' + f.mName);
        }
    }
    QString error;
    if (!TAutoRetryList::Save(dock.mSN, next, &error))
        core.AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + error);
    if (!core.CancelRequested() && core.state.settings.ConfigSetEtcAutoPurgeCheck)
        purgeDock(unit, list);
}

void TAutoMode::purgeDock(TUdpSkt& unit, const QVector<RFileList>& list)
{
    const AppSettings& s = core.state.settings;
    const TDateTime limit = clock->Now() - s.ConfigSetEtcPurgeDayEdit;
    int kept = 0;
    for (const RFileList& f : list) {
        if (core.CancelRequested())
            return;
        if (!(f.mDate > 0 && f.mDate < limit))
            continue;
        // Only what already stands in the local store: a file fetched in this
        // cycle goes at a later one, a file that failed stays on the dock.
        RUnitLogList e;
        e.mName = f.mName;
        e.mDate = f.mDate;
        e.mSize = f.mSize;
        e.mAliasName = f.mAliasName;
        e.mOpt = uint8_t(f.mOpt & 15);
        if (!core.SavedInStore(e)) {
            ++kept;
            continue;
        }
        const uint8_t r = unit.DeleteFile(f.mName);
        core.AddLog(LOGTYPE_PROGRESS2, T(707) + QStringLiteral(" (") + T(r == 0 ? 708 : 709) +
                                           QStringLiteral(") ...") + f.mName);
    }
    if (kept > 0)
        core.AddLog(LOGTYPE_PROGRESS1, T(778).arg(kept));
    if (nDelDirCnt == 0) {
        core.AddLog(LOGTYPE_PROGRESS1, T(710));
        QVector<RFileList> dirs;
        unit.LoadLogDirList(dirs);
        for (const RFileList& d : dirs) {
            if (core.CancelRequested())
                return;
            const uint8_t r = unit.DeleteDirectory(d.mName);
            core.AddLog(LOGTYPE_PROGRESS2, T(711) + QStringLiteral(" (") + T(r == 0 ? 708 : 709) +
                                               QStringLiteral(") ...") + d.mName);
        }
    }
}

void TAutoMode::stepVisit()
{
    if (nStepSub < 1 || nStepSub >= FVisits.size()) {
        nStep = 13;
        return;
    }
    RDockLanInfo dock = FVisits[nStepSub];
    auto name = [](const RDockLanInfo& d) {
        const QString ip = '[' + d.mIp + ']';
        return d.mSN.isEmpty() ? ip : d.mSN + ' ' + ip;
    };
    QString who = name(dock);
    core.AddLog(LOGTYPE_LANSERACH, T(754) + QStringLiteral(" : ") + who);

    TUdpSkt& unit = udp();
    core.FUnitDef = &unit;
    unit.RemotePort = quint16(core.state.settings.ConfigPrNNetworkPortEdit);
    unit.OnInform = [this](const QString& s) { core.OnUnitInform(s); };
    unit.ClearVariable();
    unit.FFailed.clear();
    unit.FCancel = &core.FCancelRequested;
    m_visiting = true;
    RVisitTally tally;
    auto done = [&] {
        unit.CloseComm();
        unit.OnInform = nullptr;
        unit.FCancel = nullptr;
        m_visiting = false;
        tally.who = who;
        tally.sn = dock.mSN;
        FTally << tally;
        nStep = 13;
    };
    // A dock that does not answer is skipped for this cycle; the others are still visited.
    if (!unit.OpenComm(dock.mIp)) {
        core.AddLog(LOGTYPE_PROGRESS1, T(757) + QStringLiteral(" : ") + who);
        done();
        return;
    }
    // The identity request carries the clock: an answer without a valid time is
    // still an answer (a dock whose clock was reset), only no answer is unreachable.
    const TDateTime dockTime = unit.ReadRtc();
    if (unit.FRxData.mResult != UDPSKT_COMM_END) {
        core.AddLog(LOGTYPE_PROGRESS1, T(757) + QStringLiteral(" : ") + who +
                                           (unit.FErrStr.isEmpty() ? QString() : QStringLiteral(" (") + unit.FErrStr + ')'));
        done();
        return;
    }
    tally.reached = true;
    const QString dockVersion = unit.FRxData.mSWVersion;
    if (dock.mSN.isEmpty() && !unit.FRxData.mSN.isEmpty()) {
        dock.mSN = unit.FRxData.mSN; // a listed dock that did not answer the search
        who = name(dock);
    }
    setDockClock(unit, who, dockTime);
    fetchLogs(unit, dock, who, tally);
    if (core.state.settings.ConfigSetEtcUploadImageCheck && !core.CancelRequested())
        uploadFirmware(dock.mSN, dockVersion);
    done();
}

void TAutoMode::copyKind(uint8_t kind, const QString& staging, const QString& sub, int copyErr, int missingErr,
                         QString& sErr, QVector<int>& nList)
{
    nList.clear();
    TUnitDef& unit = *core.FUnitDef;
    const QString dest = AppState::AddLastSlash(core.state.FLogDestDir);
    for (int i = 0; i < unit.LogListCount(); ++i) {
        const RUnitLogList e = unit.GetLogList(i);
        if ((e.mOpt & 0x0F) != kind)
            continue;
        const QString name = StagedLogName(e);
        const QString dir = StoreInstrumentDir(dest, e.mAliasName) + sub.mid(1);
        const QString source = platform::TransferFolder() + staging + name;
        QDir().mkpath(dir);
        if (!IsSafeLogFileName(name) || !QFileInfo(source).isFile()) {
            sErr += '[' + T(missingErr) + QStringLiteral("] ") + name + '\r';
            continue;
        }
        // The new copy is complete before it replaces the old one; a different file
        // of that name stays beside it.
        const QString target = ChooseStoreTarget(dir, name, source);
        const bool ok = !target.isEmpty() && ReplaceWithCopy(source, target);
        if (ok)
            nList << i;
        else
            sErr += '[' + T(copyErr) + QStringLiteral("] ") + name + '\r';
    }
}

void TAutoMode::CopyGDEventFromAutoMode(QString& sErr, QVector<int>& nList)
{
    copyKind(UNIT_OPT_GDEVENT, SAVE_DIR_LOG_GDEVENT, QStringLiteral("/EVENT/"), 737, 738, sErr, nList);
}

void TAutoMode::CopyGDCalFromAutoMode(QString& sErr, QVector<int>& nList)
{
    copyKind(UNIT_OPT_GDCAL, SAVE_DIR_LOG_GDCAL, QStringLiteral("/CAL/"), 739, 740, sErr, nList);
}

void TAutoMode::CopyGDBumpFromAutoMode(QString& sErr, QVector<int>& nList)
{
    copyKind(UNIT_OPT_GDBUMP, SAVE_DIR_LOG_GDBUMP, QStringLiteral("/BUMP/"), 742, 743, sErr, nList);
}

void TAutoMode::evaluateCycle()
{
    TUnitDef& unit = udp();
    core.FUnitDef = &unit;
    unit.ClearLogList();
    for (const RFileList& f : FLoaded)
        unit.AddLogList(f);
    QString sErr;
    QVector<int> events, cals, bumps;
    CopyGDEventFromAutoMode(sErr, events);
    CopyGDCalFromAutoMode(sErr, cals);
    CopyGDBumpFromAutoMode(sErr, bumps);
    for (const QString& line : sErr.split('\r', Qt::SkipEmptyParts))
        core.AddLog(LOGTYPE_PROGRESS2, line);
    TReportStore& store = Store();
    QHash<QString, RDockReport> before;
    for (const RDockReport& r : store.FReport)
        before.insert(r.mSN.toUpper(), r);
    store.MakeCalResult(unit.FLogList, cals);
    store.MakeBumpResult(unit.FLogList, bumps);
    store.MakeEventResult(unit.FLogList, events);
    store.CheckResult();
    saveStoreAndDocuments(false);
    updateRetryLists(events + cals + bumps);
    if (core.state.settings.AlertMailAtOnce)
        sendAlertMail(before, events);
    UpdateFleetAfterSave(core, QString());
}

// Files fetched but not copied into the store are fetched again; those the store
// now holds come off their dock's list.
void TAutoMode::updateRetryLists(const QVector<int>& copied)
{
    QHash<QString, QStringList> lists;
    for (int i = 0; i < FLoaded.size(); ++i) {
        const QString dock = m_loadedDock.value(i);
        if (!lists.contains(dock))
            lists.insert(dock, TAutoRetryList::Load(dock));
        QStringList& list = lists[dock];
        const QString name = FLoaded[i].mName;
        if (copied.contains(i)) {
            list.removeIf([&](const QString& n) { return n.compare(name, Qt::CaseInsensitive) == 0; });
        } else {
            if (!list.contains(name, Qt::CaseInsensitive))
                list << name;
            for (RVisitTally& t : FTally)
                if (t.sn == dock) {
                    --t.fetched;
                    ++t.failed;
                }
        }
    }
    QString error;
    for (auto it = lists.cbegin(); it != lists.cend(); ++it)
        if (!TAutoRetryList::Save(it.key(), it.value(), &error))
            core.AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + error);
}

// With ALERT/MailAtOnce: a failed test or a gas alarm that this cycle brought, and
// that lies inside the alarm-event window, is mailed at once in a few lines.
void TAutoMode::sendAlertMail(const QHash<QString, RDockReport>& before, const QVector<int>& events)
{
    TReportStore& store = Store();
    const TDateTime now = clock->Now();
    const TDateTime since = store.EventWindowStart(now);
    const QString f = QStringLiteral("yyyy-mm-dd hh:nn");
    auto dockOf = [&](const QString& alias) {
        for (int i = 0; i < FLoaded.size(); ++i)
            if (FLoaded[i].mAliasName.trimmed().compare(alias.trimmed(), Qt::CaseInsensitive) == 0)
                for (const RVisitTally& t : FTally)
                    if (t.sn == m_loadedDock.value(i))
                        return t.who;
        return QString();
    };
    QStringList lines;
    auto add = [&](const QString& sn, const QString& what, TDateTime when) {
        lines << QStringLiteral("%1 at dock %2: %3, %4").arg(sn.trimmed(), dockOf(sn), what, FormatDays(f, when));
    };
    for (const RDockReport& r : store.FReport) {
        const RDockReport b = before.value(r.mSN.toUpper(), GetInitReport());
        if (r.mLastBumpFail > b.mLastBumpFail && r.mLastBumpFail >= since)
            add(r.mSN, QStringLiteral("bump test FAIL"), r.mLastBumpFail);
        if (r.mLastCalFail > b.mLastCalFail && r.mLastCalFail >= since)
            add(r.mSN, QStringLiteral("calibration FAIL"), r.mLastCalFail);
    }
    // Gas alarms from the event files themselves: the store sums alarm times,
    // which a refetched file would count again.
    const QString dest = AppState::AddLastSlash(core.state.FLogDestDir) + QStringLiteral("KM1/");
    QHash<QString, TDateTime> lastAlarm;
    QHash<QString, QString> alarmKind;
    for (int idx : events) {
        const RUnitLogList e = udp().GetLogList(idx);
        const QString alias = GetDelLastSpace(e.mAliasName);
        const TDateTime known = before.value(alias.toUpper(), GetInitReport()).mLastEvent;
        const RGDEventFile file = ReadGDEventFile(dest + StoreFolderName(alias) + QStringLiteral("/EVENT/") +
                                                  GetFatFileNameExtract(e.mName));
        for (const RGDEvent& ev : file.mEvents) {
            const QString alarm = ev.mAlarm.trimmed().toUpper();
            if (alarm.isEmpty() || alarm == QLatin1String("NONE") || ev.mOption.trimmed().toUpper() == QLatin1String("BUMP"))
                continue;
            if (ev.mDate <= known || ev.mDate < since || ev.mDate > now + 1 || ev.mDate <= lastAlarm.value(alias))
                continue;
            lastAlarm[alias] = ev.mDate;
            alarmKind[alias] = alarm;
        }
    }
    for (auto it = lastAlarm.cbegin(); it != lastAlarm.cend(); ++it)
        add(it.key(), QStringLiteral("gas alarm ") + alarmKind.value(it.key()), it.value());
    if (lines.isEmpty())
        return;
    const int shown = int(std::min<qsizetype>(lines.size(), 20));
    QStringList body = lines.mid(0, shown);
    if (lines.size() > shown)
        body << QStringLiteral("... and %1 more; see the report.").arg(lines.size() - shown);
    RMailSettings timeouts = MailTimeouts;
    timeouts.pCancel = &core.FCancelRequested;
    const QString subject = QStringLiteral("Marvane Alert ") + FormatDays(QStringLiteral("yyyy-mm-dd hh:nn:ss"), now);
    const uint8_t r = SendEmail(core, subject, body, timeouts, false);
    if (r == MAIL_RESULT_OK)
        core.AddLog(LOGTYPE_PROGRESS1, T(843) + QStringLiteral(" : ") + QString::number(lines.size()));
    else if (r == MAIL_RESULT_NOT_CONFIGURED)
        core.AddLog(LOGTYPE_PROGRESS1, T(844) + QStringLiteral(" : ") + T(785));
    else
        core.AddLog(LOGTYPE_PROGRESS1, T(844));
}

// One line per dock of the cycle: reached or not, files fetched, files failed.
void TAutoMode::logDockSummary()
{
    for (const RVisitTally& t : FTally)
        core.AddLog(LOGTYPE_PROGRESS1, t.reached ? T(839).arg(t.who).arg(t.fetched).arg(t.failed) : T(840).arg(t.who));
    FTally.clear();
}

bool TAutoMode::destinationMissing() const
{
    const QString dest = core.state.FLogDestDir.trimmed();
    return !dest.isEmpty() && !QFileInfo(dest).isDir();
}

// Step 5: the log destination is looked for once a minute, with a line each time.
void TAutoMode::stepWaitDestination()
{
    const TDateTime now = clock->Now();
    if (now < dtDestRetry)
        return;
    const QString dest = core.state.FLogDestDir.trimmed();
    if (!destinationMissing() || QDir().mkpath(dest)) {
        nStep = 0;
        if (!ClearFiles())
            core.AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + platform::TransferFolder());
        return;
    }
    core.AddLog(LOGTYPE_PROGRESS1, T(842) + QStringLiteral(" : ") + QDir::toNativeSeparators(dest));
    dtDestRetry = now + 60 * kSec;
}

void TAutoMode::stepNextDock()
{
    ++nStepSub;
    if (nStepSub < FVisits.size()) {
        nStep = 12;
        return;
    }
    if (!FLoaded.isEmpty() || bTimeUpdate)
        evaluateCycle();
    logDockSummary();
    PushFleetIfConfigured(core.state, &core.port);
    core.AddLog(LOGTYPE_PROGRESS2, T(787) + QStringLiteral(" : ") + QString::number(nLoadCnt));
    core.AddLog(LOGTYPE_PROGRESS1, T(758));
    nDelDirCnt = NextDelDirCnt(nDelDirCnt);
    dtConCheckTime = GetConCheckTime(nConCheckStep, clock->Now());
    nStep = 11;
    countCycle();
}

void TAutoMode::flushLogs(bool atEnd)
{
    QString comm, log;
    if (core.FUnitDef && (core.FUnitDef->FDevMode || udp().FDevMode)) {
        const QString dir = AppState::AddLastSlash(core.state.GVPath) + QStringLiteral("LOG/");
        QDir().mkpath(dir);
        const TDateTime now = clock->Now();
        comm = dir + QStringLiteral("COMM_") + stamp(now) + QStringLiteral(".TXT");
        log = dir + QStringLiteral("LOG_") + stamp(now) + QStringLiteral(".TXT");
    }
    // At the end of a run only the service level's dump is made; the logs stay on screen.
    if (atEnd && comm.isEmpty())
        return;
    if (FlushLogs)
        FlushLogs(comm, log, !atEnd);
}
