// Instrument configuration and firmware downloads, the dock clock and "Unit Reset".
#include "app/Downloads.h"

#include "util/ScopeGuard.h"

#include <QDateTime>
#include <QFileInfo>

#include "app/MainCore.h"
#include "app/TransferLock.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "util/ScopeGuard.h"

namespace {

QString T(int n) { return LangText(n); }


// Download states: 0 running or done, 1 no identity, 2 old dock firmware,
// 3 configuration not sent, 4 image not sent, 5 command not taken, 6 never idle, 7 cancelled,
// 255 no link.
QString downloadErrorText(uint8_t st, const QString& title)
{
    switch (st) {
    case 1: return T(604);
    case 2: return T(74);
    case 3: return T(605);
    case 4: return T(607);
    case 5: return title + QStringLiteral("...") + T(75);
    case 6: return title + QStringLiteral("...") + T(76);
    case 7: return title + QStringLiteral("...") + T(779);
    default: return T(76);
    }
}

QString sensorName(uint8_t code)
{
    switch (code) {
    case 1: return QStringLiteral("H2S");
    case 2: return QStringLiteral("CO");
    case 4: return QStringLiteral("O2");
    case 8: return QStringLiteral("SO2");
    default: return QStringLiteral("???");
    }
}

QString dockTimeText(TDateTime t)
{
    return t > 0 ? DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("---");
}

} // namespace

void InstallSerialLink(TMainCore& core)
{
    InstallSerialLink(core, [] { return platform::UsbUartPorts(); });
}

void InstallSerialLink(TMainCore& core, std::function<QStringList()> ports)
{
    TMainCore* c = &core;
    core.LoadUSBCommPort = [c, ports = std::move(ports)] {
        const QString remembered = c->OpDeviceConnectCommPortComboText;
        QStringList items{QStringLiteral("---")};
        if (ports)
            items << ports();
        // A port typed by hand (a pseudo-terminal, a bridge of another maker)
        // stays choosable while it exists.
        if (!items.contains(remembered) && remembered != QLatin1String("---") &&
            platform::IsSerialDevicePath(remembered))
            items << remembered;
        QString selected = items.contains(remembered) ? remembered : QString();
        if (selected.isEmpty() || selected == items.first())
            selected = items.size() >= 2 ? items.at(1) : items.first();
        c->OpDeviceConnectCommPortComboItems = items;
        c->OpDeviceConnectCommPortComboText = selected;
    };
}

// ---- instrument downloads ----

uint8_t TMainCore::GetTestStatus()
{
    RTask task{};
    uint8_t usb = 0;
    RBayTaskArr bays{};
    if (!FUnitDef->GetTaskStatus(task, usb, bays))
        return 255;
    return task.mStatus;
}

QString TMainCore::GetTestResult(uint8_t code) const
{
    return TGDPageModel::ResultText(code);
}

bool TMainCore::GetTaskResult(int kind)
{
    RBayResArr bays{};
    RGDInfoArr gds{};
    if (!FUnitDef->GetTaskResult(bays, gds))
        return false;
    TGDPageModel& gd = editors.gd;
    for (int b = 0; b < 4; ++b) {
        const int col = b + 1;
        const RBayRes& res = bays.mBay[b];
        const RGDInfo& info = gds.mBay[b];
        if (res.mDetected) {
            QString serial;
            for (int i = 0; i < 11 && info.abySerialAscii[i] != 0; ++i)
                serial += QChar(char16_t(info.abySerialAscii[i]));
            gd.setResultCell(col, 1, serial);
            gd.setResultCell(col, 2,
                             QString::number(info.byFwVersion / 10) + QLatin1Char('.') +
                                 QString::number(info.byFwVersion % 10));
            gd.setResultCell(col, 3, sensorName(info.bySensorType));
            gd.setResultCell(col, 4, GetTestResult(kind == 1 ? res.mUpgradeResult : res.mConfigResult));
        } else {
            for (int row = 1; row <= 3; ++row)
                gd.setResultCell(col, row, QString());
            gd.setResultCell(col, 4, T(73));
        }
    }
    notify();
    return true;
}

bool TMainCore::GDOpConfigBtnClick(int tag)
{
    if (state.FExe)
        return false;
    TTransferLock lock;
    if (!lock.acquire(port))
        return false;
    const bool firmware = tag == 1;
    const QString title = T(firmware ? 66 : 65);
    uint8_t st = 255;

    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    port.setProgressBars(false, false);
    port.setProgressCaption(QString());
    BeginOperation();
    ScopeGuard cleanup([this] {
        port.setProgressBars(false, false);
        port.setProgressCaption(QString());
        EndLinkOperation();
    });

    if (LoadCommUSBLAN()) {
        st = 0;
        editors.gd.clearResults();
        notify();

        // The dock's identity and firmware version.
        QVector<RCfgList> identity = GetReadCfgList(AppState::TransferFolder(), USBDisk.UsbDrive());
        if (FUnitDef->LoadConfigFiles(identity)) {
            editors.dock.DockInfoSNEdit = FUnitDef->DockInfoSN();
            editors.dock.DockInfoVerEdit = FUnitDef->DockInfoVersion();
            notify();
            bool isNumber = false;
            const double version = FUnitDef->DockInfoVersion().trimmed().toDouble(&isNumber);
            if (!isNumber)
                st = 1;
            else if (version < 1.69)
                st = 2;
        } else {
            st = 1;
        }

        if (st == 0 && CancelRequested())
            st = 7;
        if (!firmware && st == 0 && editors.gd.GDOpConfigFileSendCheck) {
            state.MakeDefaultDirectory();
            QVector<RCfgList> list = GetWriteCfgList(AppState::TransferFolder(), USBDisk.UsbDrive());
            QString err;
            if (editors.SetGDCfgToFile(&err) && FUnitDef->SaveConfigFiles(list))
                editors.gd.setConfigFileSend(false);
            else
                st = 3;
        }

        if (firmware && st == 0 && editors.gd.GDOpFirmwareFileSendCheck) {
            const QString path = editors.gd.GDUpgradeFileNameEdit.trimmed();
            if (!path.isEmpty() && QFileInfo(path).isFile() &&
                port.askYesNo(T(729) + QStringLiteral("\n\n") + T(730) + QStringLiteral(" : ") + path, T(733))) {
                FUnitDef->OnProgress = [this](qint64 n) { OnUnitProgress(n); };
                if (FUnitDef->SaveFirmware(UNIT_FWTYPE_GD, path)) {
                    FUnitDef->SendExtCommand(101);
                    // What the dock does with the new image is not visible: it gets five seconds.
                    port.setProgressCaption(T(772));
                    port.setProgress(0, 50, 0, 0);
                    port.setProgressBars(true, false);
                    for (int i = 1; i <= 50; ++i) {
                        StDelay(float(0.1 * FDownloadWaitScale));
                        port.setProgress(i, 50, 0, 0);
                    }
                    port.setProgressBars(false, false);
                    editors.gd.setFirmwareFileSend(false);
                } else {
                    st = 4;
                }
            }
        }

        if (st == 0 && CancelRequested())
            st = 7;
        // The dock takes the command: its task status becomes 5.
        if (st == 0) {
            st = 5;
            FUnitDef->SendExtCommand(firmware ? 3 : 4);
            for (int i = 0; i < 5; ++i) {
                if (i > 0)
                    StDelay(float(0.1 * FDownloadWaitScale));
                if (GetTestStatus() == 5) {
                    st = 0;
                    break;
                }
            }
        }

        // ... and is idle (2) again once every bay is done.
        if (st == 0) {
            st = 6;
            const int polls = firmware ? 100 : 10;
            port.setProgressCaption(T(773));
            port.setProgress(0, polls, 0, 0);
            port.setProgressBars(true, false);
            for (int i = 1; i <= polls; ++i) {
                // The instruments finish what they started; only the watching stops.
                if (CancelRequested()) {
                    st = 7;
                    break;
                }
                port.setProgress(std::min(firmware ? 4 * i : i, polls), polls, 0, 0);
                if (GetTestStatus() == 2) {
                    st = 0;
                    break;
                }
                StDelay(float((firmware ? 2.0 : 0.5) * FDownloadWaitScale));
            }
            port.setProgressBars(false, false);
            port.setProgressCaption(QString());
        }

        FUnitDef->DeviceReset();
        if (st == 0 && !GetTaskResult(tag)) {
            StDelay(float(0.1 * FDownloadWaitScale));
            GetTaskResult(tag);
        }
    }

    cleanup.run();
    if (st != 0)
        port.showMessage(downloadErrorText(st, title), title, OperatorPort::Icon::Error);
    return st == 0;
}

// ---- clock and reset ----

// Clock and reset share one frame: open the current link without clearing it,
// run one request, close and give the window back.
static bool runLinkCommand(TMainCore& core, const std::function<bool(TUnitDef&)>& body)
{
    if (core.state.FExe)
        return false;
    core.BeginOperation();
    ScopeGuard cleanup([&core] { core.EndLinkOperation(); });
    if (!core.LoadComm(false)) {
        core.SetStatus(core.FUnitDef->FErrStr, OperatorPort::StatusLook::Failure);
        return false;
    }
    return body(*core.FUnitDef);
}

bool TMainCore::OpDeviceOpRtcGetBtnClick()
{
    return runLinkCommand(*this, [this](TUnitDef& unit) {
        const TDateTime t = unit.ReadRtc();
        OpDeviceOpRTCLabel = dockTimeText(t);
        return t > 0;
    });
}

bool TMainCore::OpDeviceOpRtcSetBtnClick()
{
    return runLinkCommand(*this, [this](TUnitDef& unit) {
        const TDateTime back = unit.SetRtc(NowDays() + OpDeviceOpSetRtcOffsetEdit / 24.0);
        OpDeviceOpRTCLabel = dockTimeText(back);
        return back > 0;
    });
}

bool TMainCore::DebugOpUnitResetBtnClick()
{
    return runLinkCommand(*this, [](TUnitDef& unit) {
        unit.UnitReset();
        return true;
    });
}
