#include "app/MainCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QTime>

#include "lang/LangTable.h"
#include "app/Downloads.h"
#include "app/LogBrowser.h"
#include "util/IniFile.h"
#include "app/LanConnect.h"
#include "app/TransferLock.h"
#include "platform/Platform.h"
#include "util/FileCopy.h"
#include "link/remote/RemoteUnit.h"
#include "util/ScopeGuard.h"

namespace {

QString T(int n) { return LangText(n); }

// QProgressBar counts in int; large byte counts are shown scaled down.
int barValue(qint64 v, qint64 scale) { return int(v / scale); }
qint64 barScale(qint64 max) { return max > 0x3FFFFFFF ? max / 0x3FFFFFFF + 1 : 1; }

bool isRootFolder(const QString& dir)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(dir.trimmed()));
    return clean.compare(QDir::cleanPath(platform::SystemRoot()), Qt::CaseInsensitive) == 0 ||
           QDir(clean).isRoot();
}

} // namespace

LinkButtons ButtonsForLink(LinkChoice link)
{
    switch (link) {
    case LinkChoice::Disk:
        return {false, false, false, false};
    case LinkChoice::Comm:
        return {true, true, true, true};
    case LinkChoice::Udp:
        return {true, false, true, true};
    case LinkChoice::Lan:
        return {true, false, true, false};
    }
    return {};
}

TMainCore::TMainCore(AppState& st, OperatorPort& p) : state(st), port(p)
{
    FUnitDef = &USBDisk;
    for (TUnitDef* u : std::initializer_list<TUnitDef*>{&DockComm, &TCPSkt, &USBDisk, &UdpSkt}) {
        u->Port = &port;
        u->Progress = this;
    }
    InstallSerialLink(*this);
    InstallLanLink(*this);
}

TMainCore::~TMainCore() = default;

void TMainCore::AddLog(int nType, const QString& sData)
{
    QString indent;
    switch (nType) {
    case LOGTYPE_UNIT:
        if (!DebugLogUnitCheck)
            return;
        indent = QStringLiteral("      ");
        break;
    case LOGTYPE_PROGRESS:
        indent = QStringLiteral(" ");
        break;
    case LOGTYPE_PROGRESS1:
    case LOGTYPE_LANSERACH:
        indent = QStringLiteral("    ");
        break;
    case LOGTYPE_PROGRESS2:
        indent = QStringLiteral("      ");
        break;
    default:
        return;
    }
    if (nType != LOGTYPE_UNIT && !DebugLogProgressCheck)
        return;
    port.appendHistory('[' + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + ']' +
                       indent + sData);
}

void TMainCore::SetTraffic(Traffic which, bool on)
{
    m_traffic[size_t(which)] = on;
    auto handler = [this](const char* tag) {
        return [this, tag](const QString& s) {
            port.appendTraffic('[' + QTime::currentTime().toString(QStringLiteral("HH:mm:ss:zzz")) +
                               ']' + QString::fromLatin1(tag) + s);
        };
    };
    auto set = [&](TUnitDef& u, TUnitDef::TextEvent TUnitDef::*ev, const char* tag) {
        u.*ev = on ? handler(tag) : TUnitDef::TextEvent();
    };
    switch (which) {
    case Traffic::CommRead: set(DockComm, &TUnitDef::OnRead, "(READ) "); break;
    case Traffic::CommSend: set(DockComm, &TUnitDef::OnSend, "(SEND) "); break;
    case Traffic::CommData: set(DockComm, &TUnitDef::OnData, "(DATA) "); break;
    case Traffic::EthRead:
        set(UdpSkt, &TUnitDef::OnRead, "(READ) ");
        set(TCPSkt, &TUnitDef::OnRead, "(READ) ");
        break;
    case Traffic::EthSend:
        set(UdpSkt, &TUnitDef::OnSend, "(SEND) ");
        set(TCPSkt, &TUnitDef::OnSend, "(SEND) ");
        break;
    case Traffic::EthData:
        set(UdpSkt, &TUnitDef::OnData, "(DATA) ");
        set(TCPSkt, &TUnitDef::OnData, "(DATA) ");
        break;
    }
}

// ---- progress ---------------------------------------------------------------

void TMainCore::ProgressStart(qint64 nAllMax)
{
    if (state.FAutoMode)
        return;
    FProgOn = true;
    FProgMax = FProgAllStart = 0;
    FProgAllMax = 0;
    m_allScale = barScale(nAllMax);
    m_allMax = nAllMax;
    port.setProgress(0, 0, 0, barValue(nAllMax, m_allScale));
    port.setProgressBars(true, true);
}

void TMainCore::ProgressFiles(int nFiles)
{
    m_progressFiles = std::max(nFiles, 0);
    m_progressFile = 0;
}

void TMainCore::ProgressReady(const QString& sCaption, qint64 nMax, qint64 nAllEnd, qint64 nAllStart)
{
    if (state.FAutoMode || !FProgOn)
        return;
    ++m_progressFile;
    FProgMax = nMax;
    FProgAllStart = nAllStart;
    FProgAllMax = nAllEnd;
    m_fileScale = barScale(nMax);
    port.setProgressCaption(m_progressFiles > 0 && m_progressFile <= m_progressFiles
                                ? sCaption + QStringLiteral("   (") +
                                      T(546).arg(m_progressFile).arg(m_progressFiles) + ')'
                                : sCaption);
    port.setProgress(0, barValue(nMax, m_fileScale), barValue(nAllStart, m_allScale),
                     barValue(m_allMax, m_allScale));
}

void TMainCore::OnUnitProgress(qint64 n)
{
    if (!FProgOn)
        return;
    const qint64 file = std::min(n, FProgMax);
    const qint64 all = std::min(n + FProgAllStart, FProgAllMax);
    port.setProgress(barValue(file, m_fileScale), barValue(FProgMax, m_fileScale),
                     barValue(all, m_allScale), barValue(m_allMax, m_allScale));
}

void TMainCore::ProgressStop()
{
    m_progressFiles = m_progressFile = 0;
    if (state.FAutoMode)
        return;
    FProgOn = false;
    port.setProgressBars(false, false);
}

// ---- link choice --------------------------------------------------------------

void TMainCore::SelectLink(LinkChoice choice)
{
    TUnitDef* next = &USBDisk;
    switch (choice) {
    case LinkChoice::Disk: next = &USBDisk; break;
    case LinkChoice::Comm: next = &DockComm; break;
    case LinkChoice::Udp: next = &UdpSkt; break;
    case LinkChoice::Lan: next = &TCPSkt; break;
    }
    if (next != FUnitDef)
        next->CopyVariable(*FUnitDef);
    FUnitDef = next;
    link = choice;
    if (choice == LinkChoice::Comm) {
        if (LoadUSBCommPort)
            LoadUSBCommPort();
    } else if (choice == LinkChoice::Udp || choice == LinkChoice::Lan) {
        port.setBusy(true);
        ScopeGuard restore([this] { port.setBusy(false); });
        if (LoadLanConnect)
            LoadLanConnect(1, 2);
    }
    notify();
}

void TMainCore::RefreshConnections()
{
    port.setBusy(true);
    ScopeGuard restore([this] { port.setBusy(false); });
    if (LoadUSBCommPort)
        LoadUSBCommPort();
    if (LoadLanConnect)
        LoadLanConnect(1, 2);
    notify();
}

bool TMainCore::LoadComm(bool bRead)
{
    QString arg;
    auto lanAddress = [this] {
        if (OpDeviceConnectLanListComboIndex < 1 || OpDeviceConnectLanListComboIndex >= FDockLan.size())
            return OpDeviceConnectLanListComboText.trimmed();
        return FDockLan[OpDeviceConnectLanListComboIndex].mIp;
    };
    switch (link) {
    case LinkChoice::Comm:
        FUnitDef = &DockComm;
        arg = OpDeviceConnectCommPortComboText;
        break;
    case LinkChoice::Lan:
        FUnitDef = &TCPSkt;
        TCPSkt.Port = quint16(state.settings.NetworkTcpPort);
        arg = lanAddress();
        break;
    case LinkChoice::Udp:
        FUnitDef = &UdpSkt;
        UdpSkt.RemotePort = quint16(state.settings.ConfigPrNNetworkPortEdit);
        arg = lanAddress();
        break;
    case LinkChoice::Disk:
        FUnitDef = &USBDisk;
        break;
    }
    if (bRead)
        FUnitDef->ClearVariable();
    FUnitDef->FFailed.clear();
    installUnitHandlers(*FUnitDef);
    return FUnitDef->OpenComm(arg);
}

bool TMainCore::LoadCommUSBLAN()
{
    if (link != LinkChoice::Comm && link != LinkChoice::Udp)
        return false;
    return LoadComm(true);
}

void TMainCore::installUnitHandlers(TUnitDef& unit)
{
    unit.FCancel = &FCancelRequested;
    unit.OnInform = [this](const QString& s) { OnUnitInform(s); };
    unit.Port = &port;
    unit.Progress = this;
}

// The upgrade-file choosers start from the images the dock holds.
void TMainCore::showFirmwareChoice()
{
    editors.dock.DockUpgradeFileEdit = FUnitDef->FFwList.mDockFile.mName;
    editors.dock.DockUpgradeLabel = FUnitDef->FFwList.mDockFile.mDescription;
    editors.gd.GDUpgradeFileNameEdit = FUnitDef->FFwList.mGDFile.mName;
    editors.gd.GDUpgradeLabel = FUnitDef->FFwList.mGDFile.mDescription;
}

void TMainCore::BeginOperation()
{
    FCancelRequested = false;
    // What the last operation reported is not about this one.
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    port.setBusy(true);
    state.FExe = true;
}

void TMainCore::EndLinkOperation()
{
    FUnitDef->CloseComm();
    state.FExe = false;
    detachUnitHandlers(*FUnitDef);
    port.setBusy(false);
    notify();
}

void TMainCore::detachUnitHandlers(TUnitDef& unit)
{
    unit.FCancel = nullptr;
    unit.OnInform = nullptr;
    unit.OnProgress = nullptr;
}

QString TMainCore::resultWord(uint8_t code) const { return code == 0 ? T(708) : T(709); }

bool TMainCore::ShowOutcome(bool ok)
{
    // A closed picker is the operator's choice, not a failure.
    if (!ok && FUnitDef->FNoChoice && !CancelRequested()) {
        AddLog(LOGTYPE_PROGRESS1, T(542));
        SetStatus(T(542), OperatorPort::StatusLook::Neutral);
        return false;
    }
    // A Cancel the person pressed is no failure: said plainly, in the neutral look,
    // whatever code the link gave for the interrupted request.
    if (CancelRequested()) {
        for (const QString& line : FUnitDef->FFailed)
            AddLog(LOGTYPE_PROGRESS2, line);
        if (FinalPauseSec > 0)
            StDelay(float(FinalPauseSec));
        FUnitDef->FErrStr = T(779);
        AddLog(LOGTYPE_PROGRESS1, T(779));
        SetStatus(T(779), OperatorPort::StatusLook::Neutral);
        return false;
    }
    const QStringList failed = FUnitDef->FFailed;
    if (!failed.isEmpty()) {
        QString count = LangText(775).arg(failed.size());
        // Why the operation ended early comes first: the count alone hides it.
        if (!FUnitDef->FStopReason.isEmpty() && !FUnitDef->FErrStr.contains(FUnitDef->FStopReason))
            count = FUnitDef->FStopReason + ' ' + count;
        FUnitDef->FErrStr = ok || FUnitDef->FErrStr.isEmpty() ? count : FUnitDef->FErrStr + ' ' + count;
        ok = false;
        for (const QString& line : failed)
            AddLog(LOGTYPE_PROGRESS2, line);
    }
    if (FinalPauseSec > 0)
        StDelay(float(FinalPauseSec));
    if (ok) {
        AddLog(LOGTYPE_PROGRESS1, T(718));
        SetStatus(T(718), OperatorPort::StatusLook::Success);
    } else {
        AddLog(LOGTYPE_PROGRESS1, T(709) + QStringLiteral(" : ") + FUnitDef->FErrStr);
        SetStatus(FUnitDef->FErrStr, OperatorPort::StatusLook::Failure);
    }
    return ok;
}

// ---- Read -----------------------------------------------------------------------

bool TMainCore::OpReadBtnClick()
{
    if (state.FExe)
        return false;
    TTransferLock lock;
    if (!lock.acquire(port))
        return false;
    if (LogListBtnSaveEnabled && SaveLog) {
        switch (port.askYesNoCancel(T(712) + '\n' + T(713), T(714))) {
        case OperatorPort::Answer::Yes: SaveLog(); break;
        case OperatorPort::Answer::No: break;
        case OperatorPort::Answer::Cancel: return false; // nothing happened
        }
    }

    port.setProgressBars(false, false);
    port.setProgressCaption(QString());
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);

    // Until the staging folders are emptied, the LOG page's lists still stand for
    // their files: a Read that never reached a dock leaves them as they were.
    const auto keptLogs = FUnitDef->FLogList;
    const RUnitInfo keptInfo = FUnitDef->FDockInfo;
    bool cleared = false;
    BeginOperation();
    ScopeGuard cleanup([this] { EndLinkOperation(); });

    AddLog(LOGTYPE_PROGRESS, '[' + T(721) + ']');
    port.setProgressCaption(T(704));

    bool ok = LoadComm(true);
    if (ok) {
        AddLog(LOGTYPE_PROGRESS1, T(705));
        if (!GetLogDestination(true)) {
            FUnitDef->FErrStr = T(716) + QStringLiteral(" ...");
            ok = false;
        }
    }
    QVector<RCfgList> list;
    if (ok) {
        list = GetCfgList(AppState::TransferFolder(), USBDisk.UsbDrive(), true);
        state.MakeDefaultDirectory();
        // The staged files go now, and with them what the pages listed of them; a Read
        // that never reached a dock leaves the LOG page as it was.
        FReadOrigin = {false, false, {}, {}, {}, FReadOrigin.generation + 1};
        editors.dock.DockUpgradeFileEdit.clear();
        editors.dock.DockUpgradeLabel.clear();
        editors.gd.GDUpgradeFileNameEdit.clear();
        editors.gd.GDUpgradeFileNameEdit1.clear();
        editors.gd.GDUpgradeLabel.clear();
        FLogDock.clear();
        FLOgGDEvent.clear();
        FLogGDBump.clear();
        FLogGDCal.clear();
        if (ClearLogBrowser)
            ClearLogBrowser();
        notify();
        cleared = true;
        ClearFiles(AppState::TransferFolder(), list);

        AddLog(LOGTYPE_PROGRESS1, T(722));
        port.setProgressCaption(T(722));
        ok = FUnitDef->LoadConfigFiles(list);
    }
    if (ok) {
        editors.dock.DockInfoSNEdit = FUnitDef->FDockInfo.mSN;
        editors.dock.DockInfoVerEdit = FUnitDef->FDockInfo.mVersion;
        FUnitDef->OnProgress = [this](qint64 n) { OnUnitProgress(n); };

        if (!CancelRequested()) {
            AddLog(LOGTYPE_PROGRESS1, T(723));
            port.setProgressCaption(T(723));
            FUnitDef->LoadFirmwares();
            showFirmwareChoice();
            notify();
        }
        if (!CancelRequested()) {
            AddLog(LOGTYPE_PROGRESS1, T(724));
            port.setProgressCaption(T(724));
            FUnitDef->LoadLogFiles();
        }

        QString err;
        const QString readTime = FormatDays(QStringLiteral("yyyy-mm-dd hh:nn:ss"), NowDays());
        if (!editors.GetDockCfgFromFile(state.settings.ConfigPrNNetworkPortEdit, &err))
            AddLog(LOGTYPE_PROGRESS1, err);
        else
            setReadOrigin(FUnitDef->FDockInfo.mSN, readTime, false);
        readSummary(list);
        notify();
        if (DisplayLogList)
            DisplayLogList();
        SaveLastRead(FUnitDef->LogListCount() == 0);
        if (!CancelRequested())
            DeleteOldFiles();
    }

    ok = ShowOutcome(ok);
    if (!cleared) {
        FUnitDef->FLogList = keptLogs;
        FUnitDef->FDockInfo = keptInfo;
    }
    port.setProgressBars(false, false);
    port.setProgressCaption(QString());
    port.showPage(QStringLiteral("LogTS"));
    port.showPage(QStringLiteral("LogListGDBumpTS"));
    return ok;
}

bool TMainCore::GetLogDestination(bool bAuto)
{
    QString dir = state.FLogDestDir.trimmed().isEmpty() ? platform::SystemRoot() : state.FLogDestDir;
    if (bAuto && !state.FLogDestDir.trimmed().isEmpty() && !isRootFolder(state.FLogDestDir) &&
        QFileInfo(state.FLogDestDir).isDir())
        return true;
    if (!SelectFolder(port, dir))
        return false;
    if (isRootFolder(dir)) {
        port.showMessage(T(769) + '\n' + T(770), T(771), OperatorPort::Icon::Error);
        return false;
    }
    if (!QFileInfo(dir).isDir())
        return false;
    state.FLogDestDir = dir;
    if (PullSettings)
        PullSettings();
    QString err;
    if (!state.SaveSetting(&err))
        port.showMessage(err, PROG_TITLE, OperatorPort::Icon::Error);
    return true;
}

// Entries without a date from their name or the file carry 0 and would fall under
// every limit; an old file the program could not date is not ours to delete.
static bool olderThan(TDateTime date, TDateTime limit) { return date > 0 && date < limit; }

// One line that says what came: configuration files, firmware images and logs.
void TMainCore::readSummary(const QVector<RCfgList>& configs)
{
    int cfg = 0;
    for (const RCfgList& e : configs)
        cfg += QFileInfo(e.mSaveFile).isFile() ? 1 : 0;
    int images = 0;
    for (const QString& dir : {DIR_FW_DOCK, DIR_FW_GD}) {
        QDir d(AppState::TransferFolder() + dir);
        d.setNameFilters({QStringLiteral("*.IMG"), QStringLiteral("*.img")});
        images += int(d.entryList(QDir::Files).size());
    }
    int logs = 0;
    for (const RUnitLogList& e : FUnitDef->FLogList)
        logs += e.mExists ? 1 : 0;
    AddLog(LOGTYPE_PROGRESS1, T(543).arg(cfg).arg(images).arg(logs));
}

QVector<QPair<QString, QString>> TMainCore::InvalidAddresses() const
{
    QVector<QPair<QString, QString>> bad;
    const std::pair<const QString*, int> fields[] = {{&editors.dock.DockLanIpEdit, 24},
                                                     {&editors.dock.DockLanSubnetMaskEdit, 25},
                                                     {&editors.dock.DockLanGateWayEdit, 26}};
    for (const auto& [value, caption] : fields)
        if (!IsDottedIPv4(*value))
            bad.append({*value, T(caption)});
    return bad;
}

QString TMainCore::StoreCopyPath(const RUnitLogList& entry) const
{
    const QString name = StagedLogName(entry);
    if (!IsSafeLogFileName(name) || state.FLogDestDir.trimmed().isEmpty())
        return QString();
    const QString dest = AppState::AddLastSlash(state.FLogDestDir);
    switch (entry.mOpt & 0x0F) {
    case UNIT_OPT_DOCK:
        if (editors.dock.DockInfoSNEdit.trimmed().isEmpty())
            return QString();
        return dest + "DOCK/" + StoreFolderName(editors.dock.DockInfoSNEdit) + '/' + name;
    case UNIT_OPT_GDEVENT: return StoreInstrumentDir(dest, entry.mAliasName) + "EVENT/" + name;
    case UNIT_OPT_GDCAL: return StoreInstrumentDir(dest, entry.mAliasName) + "CAL/" + name;
    case UNIT_OPT_GDBUMP: return StoreInstrumentDir(dest, entry.mAliasName) + "BUMP/" + name;
    default: return QString();
    }
}

bool TMainCore::SavedInStore(const RUnitLogList& entry) const
{
    const QString path = StoreCopyPath(entry);
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString dir = info.path() + '/';
    // No folder, no copy: a dock read for the first time costs one look per file.
    if (!QFileInfo(dir).isDir())
        return false;
    // The bytes of the dock's file: the drive's own file, this Read's staged copy,
    // or a fresh copy fetched for the comparison.
    QString dockBytes;
    QString fetched;
    ScopeGuard dropFetched([&fetched] {
        if (!fetched.isEmpty())
            QFile::remove(fetched);
    });
    const QString staged = AppState::TransferFolder() + TRemoteUnit::StagingFolderOf(entry.mOpt) + StagedLogName(entry);
    if (FUnitDef == &USBDisk) {
        dockBytes = entry.mName;
    } else if (entry.mExists && QFileInfo(staged).isFile() && QFileInfo(staged).size() == entry.mSize) {
        dockBytes = staged;
    } else if (auto* remote = dynamic_cast<TRemoteUnit*>(FUnitDef)) {
        // Only when a copy of that name stands in the store at all.
        bool any = false;
        for (const QString& v : StoreNameVariants(dir, info.fileName()))
            any = any || QFileInfo(v).size() == entry.mSize;
        if (!any)
            return false;
        fetched = AppState::TransferFolder() + QStringLiteral(".mvcopy-compare.part");
        QFile::remove(fetched);
        if (remote->LoadFile(fetched, entry.mName, entry.mSize) != 0)
            return false;
        dockBytes = fetched;
    }
    if (dockBytes.isEmpty())
        return false;
    for (const QString& v : StoreNameVariants(dir, info.fileName()))
        if (SameFileBytes(v, dockBytes))
            return true;
    return false;
}

void TMainCore::DeleteOldFiles()
{
    if (!state.settings.ConfigSetEtcAutoPurgeCheck)
        return;
    const int days = state.settings.ConfigSetEtcPurgeDayEdit;
    const TDateTime limit = NowDays() - days;
    QVector<int> old;
    int kept = 0;
    for (int i = 0; i < FUnitDef->LogListCount(); ++i) {
        const RUnitLogList& e = FUnitDef->FLogList[i];
        if (!olderThan(e.mDate, limit))
            continue;
        // A file read now is purged at a later Read, once Save Log has put it in the store.
        if (!SavedInStore(e)) {
            ++kept;
            continue;
        }
        old << i;
        if (FUnitDef->FDevMode)
            AddLog(LOGTYPE_PROGRESS2, T(760) + QStringLiteral(" : ") + e.mName);
    }
    if (kept > 0)
        AddLog(LOGTYPE_PROGRESS1, T(778).arg(kept));
    if (old.isEmpty())
        return;
    const QString since = FormatDays(QStringLiteral("yyyy-mm-dd"), limit);
    if (!port.askQuestion(761, LangText(1004, "Log files older than the purge limit (~%1 days) were found on the dock").arg(days) +
                           '\n' + T(774).arg(old.size()).arg(since) + '\n' + T(701),
                       T(702)))
        return;

    port.setProgressBars(true, false);
    int done = 0;
    port.setProgress(0, int(old.size()), 0, 0);
    for (int i : old) {
        if (CancelRequested())
            return;
        const QString name = FUnitDef->FLogList[i].mName;
        port.setProgressCaption(T(707) + QStringLiteral(" : ") + name);
        const uint8_t r = FUnitDef->DeleteFile(name);
        AddLog(LOGTYPE_UNIT, T(707) + QStringLiteral(" (") + resultWord(r) + QStringLiteral(") ...") + name);
        port.setProgress(++done, int(old.size()), 0, 0);
    }
    port.setProgressCaption(QString());
    port.setProgressBars(false, false);

    port.setProgressCaption(T(763));
    QVector<RFileList> dirs;
    FUnitDef->LoadLogDirList(dirs);
    if (!dirs.isEmpty()) {
        port.setProgressBars(true, false);
        done = 0;
        port.setProgress(0, int(dirs.size()), 0, 0);
        for (const RFileList& d : dirs) {
            if (CancelRequested())
                break;
            port.setProgressCaption(T(711) + QStringLiteral(" : ") + d.mName);
            const uint8_t r = FUnitDef->DeleteDirectory(d.mName);
            AddLog(LOGTYPE_UNIT, T(711) + QStringLiteral(" (") + resultWord(r) + QStringLiteral(") ...") + d.mName);
            port.setProgress(++done, int(dirs.size()), 0, 0);
        }
        port.setProgressBars(false, false);
    }
    port.setProgressCaption(QString());
}

// ---- Start Purge -------------------------------------------------------------------

bool TMainCore::LogListBtnPurgeClick()
{
    if (state.FExe)
        return false;
    TTransferLock lock;
    if (!lock.acquire(port))
        return false;
    if (!port.askQuestion(702, T(701), T(702)))
        return false;

    port.setProgress(0, 0, 0, 0);
    port.setProgressBars(true, false);
    port.setProgressCaption(QString());
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    BeginOperation();
    ScopeGuard cleanup([this] {
        port.setProgressBars(false, false);
        port.setProgressCaption(QString());
        EndLinkOperation();
    });

    AddLog(LOGTYPE_PROGRESS, '[' + T(703) + ']');
    port.setProgressCaption(T(704));
    if (!LoadComm(false)) {
        SetStatus(FUnitDef->FErrStr, FUnitDef->FNoChoice ? OperatorPort::StatusLook::Neutral
                                                         : OperatorPort::StatusLook::Failure);
        return false;
    }
    AddLog(LOGTYPE_PROGRESS1, T(705));
    AddLog(LOGTYPE_PROGRESS1, T(706));
    port.setProgressCaption(T(706));
    QVector<RFileList> list;
    FUnitDef->LoadLogFileList(list, false);

    const TDateTime limit = NowDays() - state.settings.ConfigSetEtcPurgeDayEdit;
    int done = 0;
    int kept = 0;
    int total = int(list.size());
    port.setProgress(0, total, 0, 0);
    for (const RFileList& e : list) {
        if (CancelRequested())
            break;
        const bool old = olderThan(e.mDate, limit);
        if (old && !SavedInStore(ToLogEntry(e)))
            ++kept;
        else if (old) {
            port.setProgressCaption(T(707) + QStringLiteral(" : ") + e.mName);
            const uint8_t r = FUnitDef->DeleteFile(e.mName);
            AddLog(LOGTYPE_PROGRESS2,
                   T(707) + QStringLiteral(" (") + resultWord(r) + QStringLiteral(") ...") + e.mName);
        }
        port.setProgress(++done, total, 0, 0);
    }
    if (kept > 0)
        AddLog(LOGTYPE_PROGRESS1, T(778).arg(kept));

    if (CancelRequested()) {
        AddLog(LOGTYPE_PROGRESS1, T(779));
        SetStatus(T(779), OperatorPort::StatusLook::Neutral);
        return false;
    }
    AddLog(LOGTYPE_PROGRESS1, T(710));
    port.setProgressCaption(T(710));
    QVector<RFileList> dirs;
    FUnitDef->LoadLogDirList(dirs);
    total += int(dirs.size());
    for (const RFileList& d : dirs) {
        if (CancelRequested())
            break;
        port.setProgressCaption(T(711) + QStringLiteral(" : ") + d.mName);
        const uint8_t r = FUnitDef->DeleteDirectory(d.mName);
        AddLog(LOGTYPE_PROGRESS2,
               T(711) + QStringLiteral(" (") + resultWord(r) + QStringLiteral(") ...") + d.mName);
        port.setProgress(++done, total, 0, 0);
    }
    return true;
}

// ---- Write ----------------------------------------------------------------------------

bool TMainCore::OpWriteBtnClick()
{
    if (state.FExe)
        return false;
    TTransferLock lock;
    if (!lock.acquire(port))
        return false;
    // An address the dock cannot use is never written (it would come back as 0.x.x.x).
    const QVector<QPair<QString, QString>> bad = InvalidAddresses();
    if (!bad.isEmpty()) {
        const QString why = T(545).arg(bad.first().first, bad.first().second);
        port.showMessage(why, T(725), OperatorPort::Icon::Error);
        SetStatus(why, OperatorPort::StatusLook::Failure);
        return false;
    }
    if (FConfirmWrite && !port.askYesNo(writeQuestion(), T(725)))
        return false;
    port.setProgressBars(false, false);
    port.setProgressCaption(QString());
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    BeginOperation();
    ScopeGuard cleanup([this] {
        port.setProgressBars(false, false);
        EndLinkOperation();
    });

    AddLog(LOGTYPE_PROGRESS, '[' + T(725) + ']');
    port.setProgressCaption(T(704));

    bool ok = LoadComm(false);
    if (ok) {
        AddLog(LOGTYPE_PROGRESS1, T(705));
        AddLog(LOGTYPE_PROGRESS1, T(726));
        port.setProgressCaption(T(726));
        state.MakeDefaultDirectory();
        QString err;
        QVector<RCfgList> list = GetCfgList(AppState::TransferFolder(), USBDisk.UsbDrive(), false);
        if (!editors.SetDockCfgToFile(state.settings.ConfigPrNNetworkPortEdit, &err)) {
            FUnitDef->FErrStr = err;
            ok = false;
        } else {
            notify();
            ok = FUnitDef->SaveConfigFiles(list);
        }
    }
    if (ok && CancelRequested())
        ok = false;
    if (ok) {
        AddLog(LOGTYPE_PROGRESS1, T(727));
        FUnitDef->OnProgress = [this](qint64 n) { OnUnitProgress(n); };

        const QString dockPath = editors.dock.DockUpgradeFileEdit.trimmed();
        if (dockPath != FUnitDef->FFwList.mDockFile.mName && !dockPath.isEmpty() &&
            QFileInfo(dockPath).isFile() &&
            port.askYesNo(T(728) + '\n' + T(729) + QStringLiteral("\n\n") + T(730) +
                              QStringLiteral(" : ") + dockPath,
                          T(731)))
            ok = FUnitDef->SaveFirmware(UNIT_FWTYPE_DOCK, dockPath);
    }
    if (ok && CancelRequested())
        ok = false;
    if (ok) {
        const QString gdPath = editors.gd.GDUpgradeFileNameEdit.trimmed();
        if (gdPath != FUnitDef->FFwList.mGDFile.mName && !gdPath.isEmpty() &&
            QFileInfo(gdPath).isFile() &&
            port.askYesNo(T(732) + '\n' + T(729) + QStringLiteral("\n\n") + T(730) +
                              QStringLiteral(" : ") + gdPath,
                          T(733)))
            ok = FUnitDef->SaveFirmware(UNIT_FWTYPE_GD, gdPath);
        // The dock restarts even when the instrument image did not go through.
        FUnitDef->UnitReset();
        OpDeviceConnectCommPortComboItems = {QStringLiteral("---")};
        OpDeviceConnectCommPortComboText = QStringLiteral("---");
        // A dock on the network keeps its address through the restart: the list of
        // docks found stays, unless this Write gave the dock another address.
        const QVector<ConfigChange> changes = ChangesSinceRead();
        const bool newAddress = std::any_of(changes.begin(), changes.end(), [](const ConfigChange& c) {
            return c.name == QLatin1String("DockLanIpEdit");
        });
        if (!(link == LinkChoice::Udp || link == LinkChoice::Lan) || newAddress) {
            OpDeviceConnectLanListComboItems = {T(734)};
            OpDeviceConnectLanListComboText = T(734);
            OpDeviceConnectLanListComboIndex = 0;
            FDockLan = {RDockLanInfo{}};
        }
    }
    ok = ShowOutcome(ok);
    // What was written is what the dock holds now.
    if (ok && FReadOrigin.valid) {
        FReadOrigin.baseline = editors.ConfigLines();
        ++FReadOrigin.generation;
        notify();
    }
    return ok;
}

// ---- copy steps of Save Log ------------------------------------------------------------

bool TMainCore::copyToStore(int logIdx, const QString& stagingDir, const QString& targetDir,
                            int copyErr, int missingErr, QString& sErr)
{
    const RUnitLogList entry = FUnitDef->GetLogList(logIdx);
    const QString name = StagedLogName(entry);
    const QString source = AppState::TransferFolder() + stagingDir + name;
    QDir().mkpath(targetDir);
    if (!IsSafeLogFileName(name) || !QFileInfo(source).isFile()) {
        sErr += '[' + T(missingErr) + "] " + name + '\r';
        return false;
    }
    // Saving the same result again replaces the earlier copy; a different result of
    // the same name (another dock folder) is kept beside it. A dock log only grows.
    const QString target = stagingDir == SAVE_DIR_LOG_DOCK ? targetDir + name
                                                           : ChooseStoreTarget(targetDir, name, source);
    if (target.isEmpty() || !ReplaceWithCopy(source, target)) {
        sErr += '[' + T(copyErr) + "] " + name + '\r';
        return false;
    }
    return true;
}

void TMainCore::CopyDockFilesFromList(const QVector<int>& checkedRows, QString& sErr)
{
    const QString dir =
        state.FLogDestDir + "DOCK/" + StoreFolderName(editors.dock.DockInfoSNEdit) + '/';
    QDir().mkpath(dir);
    for (int row : checkedRows)
        if (row >= 0 && row < FLogDock.size() && !CancelRequested())
            copyToStore(FLogDock[row], SAVE_DIR_LOG_DOCK, dir, 735, 736, sErr);
}

static QString instrumentDir(const AppState& st, const TUnitDef& unit, int logIdx, const char* kind)
{
    return StoreInstrumentDir(st.FLogDestDir, unit.GetLogList(logIdx).mAliasName) + QLatin1String(kind) + '/';
}

void TMainCore::CopyGDEventFromList(const QVector<int>& checkedRows, QString& sErr,
                                    QVector<int>& nEventList)
{
    nEventList.clear();
    for (int row : checkedRows)
        for (const RLogGDIndex& e : FLOgGDEvent)
            if (e.mViewIdx == row && !CancelRequested() &&
                copyToStore(e.mLogIdx, SAVE_DIR_LOG_GDEVENT, instrumentDir(state, *FUnitDef, e.mLogIdx, "EVENT"),
                            737, 738, sErr))
                nEventList << e.mLogIdx;
}

void TMainCore::copyTreeFromList(const QVector<RLogGDIndex>& index, const QVector<RCheckedNode>& checked,
                                 const QString& stagingDir, const QString& kindDir, int copyErr,
                                 int missingErr, int noElementErr, QString& sErr, QVector<int>& copied)
{
    copied.clear();
    for (const RCheckedNode& node : checked) {
        if (CancelRequested())
            break;
        auto it = std::find_if(index.begin(), index.end(), [&](const RLogGDIndex& e) {
            return e.mViewIdx == node.mParent && e.mViewSubIdx == node.mChild;
        });
        if (it == index.end()) {
            sErr += '[' + T(noElementErr) + "] " + node.mParentText + " ... " + node.mChildText + '\r';
            continue;
        }
        if (copyToStore(it->mLogIdx, stagingDir,
                        instrumentDir(state, *FUnitDef, it->mLogIdx, kindDir.toLatin1().constData()),
                        copyErr, missingErr, sErr))
            copied << it->mLogIdx;
    }
}

void TMainCore::CopyGDCalFromList(const QVector<RCheckedNode>& checked, QString& sErr,
                                  QVector<int>& nCalList)
{
    copyTreeFromList(FLogGDCal, checked, SAVE_DIR_LOG_GDCAL, "CAL", 739, 740, 741, sErr, nCalList);
}

void TMainCore::CopyGDBumpFromList(const QVector<RCheckedNode>& checked, QString& sErr,
                                   QVector<int>& nBumpList)
{
    copyTreeFromList(FLogGDBump, checked, SAVE_DIR_LOG_GDBUMP, "BUMP", 742, 743, 744, sErr, nBumpList);
}

// ---- firmware choosers -------------------------------------------------------------------

bool TMainCore::upgradeFileChange(uint8_t kind, const QString& path)
{
    if (state.FExe)
        return false;
    QString& edit = kind == UNIT_FWTYPE_DOCK ? editors.dock.DockUpgradeFileEdit
                                             : editors.gd.GDUpgradeFileNameEdit;
    QString& label = kind == UNIT_FWTYPE_DOCK ? editors.dock.DockUpgradeLabel : editors.gd.GDUpgradeLabel;
    const RUnitFwDefine& current =
        kind == UNIT_FWTYPE_DOCK ? FUnitDef->FFwList.mDockFile : FUnitDef->FFwList.mGDFile;
    edit = path;
    bool accepted = false;
    if (QFileInfo(path).isFile()) {
        QString desc;
        if (FUnitDef->CheckFirmware(kind, path, desc)) {
            label = desc;
            accepted = true;
        } else {
            edit = current.mName;
        }
    } else {
        label = QStringLiteral("???");
    }
    notify();
    return accepted;
}

bool TMainCore::DockUpgradeFileEditChange(const QString& path)
{
    return upgradeFileChange(UNIT_FWTYPE_DOCK, path);
}

bool TMainCore::GDUpgradeFileNameEditChange(const QString& path)
{
    return upgradeFileChange(UNIT_FWTYPE_GD, path);
}

// ---- command line session -----------------------------------------------------------------

bool TMainCore::RestoreFromStaging(QString* error)
{
    const QString tf = AppState::TransferFolder();
    if (!QFileInfo(tf + FILE_CONFIG_DOCK).isFile()) {
        if (error)
            *error = QStringLiteral("No dock has been read yet (%1 is missing): run 'read' first.")
                         .arg(QDir::toNativeSeparators(tf + FILE_CONFIG_DOCK));
        return false;
    }
    if (!editors.GetDockCfgFromFile(state.settings.ConfigPrNNetworkPortEdit, error))
        return false;
    FUnitDef->ReadFirmware(DOCK_ID, tf + DIR_FW_DOCK);
    FUnitDef->ReadFirmware(GD_ID, tf + DIR_FW_GD);
    showFirmwareChoice();
    restoreIdentity();
    return true;
}

void TMainCore::restoreIdentity()
{
    // The identity the unit read; the remote links never copy the identity file.
    const LastRead last = LoadLastRead();
    if (last.valid && !last.sn.isEmpty()) {
        editors.dock.DockInfoSNEdit = last.sn;
        editors.dock.DockInfoVerEdit = last.version;
        FUnitDef->FDockInfo = {last.sn, last.version};
        return;
    }
    QFile inform(AppState::TransferFolder() + FILE_CONFIG_INFORM);
    if (inform.open(QIODevice::ReadOnly)) {
        const RUnitInfo id = ParseDockIdentity(inform.read(1024 * 1024));
        editors.dock.DockInfoSNEdit = id.mSN;
        editors.dock.DockInfoVerEdit = id.mVersion;
    }
}

static QString lastReadPath() { return AppState::TransferFolder() + QStringLiteral("LASTREAD.INI"); }

TMainCore::LastRead TMainCore::LoadLastRead()
{
    LastRead r;
    if (!QFileInfo(lastReadPath()).isFile())
        return r;
    const IniFile ini(lastReadPath());
    r.valid = true;
    r.sn = ini.readString("READ", "SerialNumber", QString());
    r.version = ini.readString("READ", "Version", QString());
    r.saved = ini.readBool("READ", "Saved", true);
    r.logs = ini.readInteger("READ", "Logs", 0);
    r.when = ini.readString("READ", "Time", QString());
    return r;
}

void TMainCore::SaveLastRead(bool saved)
{
    IniFile ini;
    ini.setPath(lastReadPath());
    ini.writeString("READ", "SerialNumber", FUnitDef->FDockInfo.mSN);
    ini.writeString("READ", "Version", FUnitDef->FDockInfo.mVersion);
    ini.writeBool("READ", "Saved", saved);
    ini.writeInteger("READ", "Logs", FUnitDef->LogListCount());
    ini.writeString("READ", "Time", FReadOrigin.valid ? FReadOrigin.when
                                                      : FormatDays(QStringLiteral("yyyy-mm-dd hh:nn:ss"), NowDays()));
    if (!ini.save())
        AddLog(LOGTYPE_PROGRESS2, QDir::toNativeSeparators(lastReadPath()) + " : " + ini.lastError());
}

void TMainCore::MarkLastReadSaved()
{
    if (!QFileInfo(lastReadPath()).isFile())
        return;
    IniFile ini(lastReadPath());
    ini.writeBool("READ", "Saved", true);
    ini.save();
}

int TMainCore::RestoreUnsavedLogs()
{
    const LastRead last = LoadLastRead();
    if (!last.valid || last.saved)
        return 0;
    restoreIdentity();
    const int n = RestoreLogListFromStaging(*FUnitDef);
    if (n > 0 && DisplayLogList)
        DisplayLogList();
    return n;
}

// ---- where the page values came from -------------------------------------------------------

void TMainCore::setReadOrigin(const QString& sn, const QString& when, bool restored)
{
    FReadOrigin.valid = true;
    FReadOrigin.restored = restored;
    FReadOrigin.sn = sn.trimmed();
    FReadOrigin.when = when;
    FReadOrigin.baseline = editors.ConfigLines();
    ++FReadOrigin.generation;
}

QVector<ConfigChange> TMainCore::ChangesSinceRead() const
{
    if (!FReadOrigin.valid)
        return {};
    return ConfigEditors::Changes(FReadOrigin.baseline, editors.ConfigLines());
}

QString TMainCore::writeQuestion() const
{
    const QString sn = editors.dock.DockInfoSNEdit.trimmed();
    QString text = T(541).arg(sn.isEmpty() ? QStringLiteral("?") : sn);
    const QVector<ConfigChange> changes = ChangesSinceRead();
    if (changes.isEmpty())
        return text + QStringLiteral("\n\n") + T(882);
    text += QStringLiteral("\n\n") + T(881);
    constexpr int kShown = 20; // the question stays on the screen
    for (int i = 0; i < changes.size() && i < kShown; ++i) {
        const ConfigChange& c = changes[i];
        const QString caption = ChangeCaption ? ChangeCaption(c) : c.name;
        text += QStringLiteral("\n") + caption + QStringLiteral(": ") + c.before + QStringLiteral(" -> ") + c.after;
    }
    if (changes.size() > kShown)
        text += QStringLiteral("\n") + T(883).arg(changes.size() - kShown);
    return text;
}

bool TMainCore::RestoreLastReadValues(QString* error)
{
    const LastRead last = LoadLastRead();
    if (!last.valid)
        return false;
    if (!RestoreFromStaging(error))
        return false;
    QString when = last.when;
    if (when.isEmpty()) { // written by an older version: the staged file's time
        const QDateTime t = QFileInfo(AppState::TransferFolder() + FILE_CONFIG_DOCK).lastModified();
        when = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    setReadOrigin(last.sn.isEmpty() ? editors.dock.DockInfoSNEdit : last.sn, when, true);
    notify();
    return true;
}
