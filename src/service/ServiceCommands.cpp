#include "service/ServiceCommands.h"

#include <QDateTime>
#include <cmath>

#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "util/ScopeGuard.h"

namespace {

QString T(int n) { return LangText(n); }

constexpr int LANG_SVC_SN_ASCII = 795;
constexpr int LANG_SVC_BUSY = 796;
constexpr int LANG_SVC_REFUSED = 853;
constexpr int LANG_SVC_NO_ANSWER = 854;
constexpr int LANG_SVC_ACCEPTED = 855;
constexpr int LANG_SVC_SN_DIFFERS = 857;

QString timeText(TDateTime t)
{
    return DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void putWord(QByteArray& b, uint16_t v)
{
    b += char(v >> 8); // high byte first
    b += char(v & 0xFF);
}

} // namespace

uint16_t SimTenths(double v)
{
    if (!std::isfinite(v))
        return 0;
    const double t = std::clamp(std::round(v * 10.0), -32768.0, 32767.0);
    return uint16_t(int16_t(t));
}

QByteArray SimSerialBytes(const QString& sSN)
{
    QByteArray b;
    for (QChar c : sSN)
        b += char(c.unicode() & 0xFF);
    if (b.size() < 12)
        b.append(QByteArray(12 - b.size(), '\0'));
    return b;
}

QByteArray SimEventRecord(const RSimEvent& e)
{
    QByteArray b = SimSerialBytes(e.mSN);
    b += char(std::clamp(e.mSensor, 0, 3) + 1);
    b += char(e.mType ? 1 : 0);
    putWord(b, SimTenths(e.mLevel));
    putWord(b, uint16_t(std::clamp(e.mDuration, 0, 65535)));
    return b;
}

QByteArray SimTestRecord(const RSimTest& t)
{
    QByteArray b = SimSerialBytes(t.mSN);
    b += char(std::clamp(t.mSensor, 0, 3) + 1);
    putWord(b, SimTenths(t.mZeroPre));
    putWord(b, SimTenths(t.mZero));
    b += char(std::clamp(t.mZeroTime, 0, 255));
    putWord(b, SimTenths(t.mSpanPre));
    putWord(b, SimTenths(t.mSpan));
    b += char(std::clamp(t.mSpanTime, 0, 255));
    return b;
}

bool IsServiceSerialText(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    return true;
}

TServiceCommands::TServiceCommands(TMainCore& core) : m_core(core) {}

bool TServiceCommands::run(bool refreshPorts, const std::function<bool(bool opened)>& body)
{
    LastError.clear();
    if (m_core.state.FExe) {
        LastError = T(LANG_SVC_BUSY);
        return false;
    }
    m_core.state.FExe = true;
    m_core.port.setBusy(true);
    TDockComm& comm = m_core.DockComm;
    ScopeGuard cleanup([this, &comm] {
        comm.CloseComm();
        comm.OnInform = nullptr;
        m_core.state.FExe = false;
        m_core.port.setBusy(false);
    });
    if (refreshPorts && m_core.LoadUSBCommPort)
        m_core.LoadUSBCommPort();
    comm.OnInform = [this](const QString& s) { m_core.OnUnitInform(s); };
    const bool opened = comm.OpenComm(m_core.OpDeviceConnectCommPortComboText);
    if (!opened) {
        LastError = comm.FErrStr;
        if (!LastError.isEmpty())
            m_core.port.setStatus(LastError, OperatorPort::StatusLook::Failure);
    }
    return body(opened);
}

bool TServiceCommands::answered(uint8_t nCode)
{
    if (nCode == DOCKCOMM_COMM_OK) {
        m_core.port.setStatus(T(LANG_SVC_ACCEPTED), OperatorPort::StatusLook::Success);
        return true;
    }
    // A refusal is the dock's word; anything else means no usable answer came.
    LastError = T(nCode == DOCKCOMM_COMM_NAK ? LANG_SVC_REFUSED : LANG_SVC_NO_ANSWER) + QStringLiteral(" (") +
                TDockComm::GetError(nCode) + QLatin1Char(')');
    m_core.port.setStatus(LastError, OperatorPort::StatusLook::Failure);
    return false;
}

bool TServiceCommands::sameSerial(const QString& sMeant, const QString& sBack)
{
    if (sBack == sMeant)
        return true;
    LastError = T(LANG_SVC_SN_DIFFERS).arg(sBack.isEmpty() ? QStringLiteral("\"\"") : sBack, sMeant);
    m_core.port.setStatus(LastError, OperatorPort::StatusLook::Failure);
    return false;
}

bool TServiceCommands::cableChosen()
{
    if (m_core.link == LinkChoice::Comm)
        return true;
    m_core.port.showMessage(T(426), T(427), OperatorPort::Icon::Information);
    LastError = T(426);
    return false;
}

bool TServiceCommands::DebugOpReadSNBtnClick()
{
    return run(false, [this](bool) {
        DebugOpSNEdit = m_core.DockComm.ReadSN();
        return !DebugOpSNEdit.isEmpty();
    });
}

bool TServiceCommands::DebugOpWriteSNBtnClick()
{
    if (!IsServiceSerialText(DebugOpSNEdit)) {
        // The low byte of such a character would be another character on the dock.
        LastError = T(LANG_SVC_SN_ASCII);
        return false;
    }
    return run(false, [this](bool opened) {
        if (!opened || !m_core.DockComm.WriteSN(DebugOpSNEdit)) {
            DebugOpSNEdit.clear();
            return false;
        }
        // The dock may keep fewer characters than were sent: say so.
        const QString meant = DebugOpSNEdit;
        DebugOpSNEdit = m_core.DockComm.ReadSN();
        return sameSerial(meant, DebugOpSNEdit);
    });
}

bool TServiceCommands::PCProdReadBtnClick()
{
    if (!cableChosen())
        return false;
    PCProdReadLabel.clear();
    return run(false, [this](bool opened) {
        if (!opened)
            return false;
        TDockComm& c = m_core.DockComm;
        const QString sn = c.ReadSN();
        const TDateTime t = c.ReadRtc();
        int d1 = 0, d2 = 0;
        const bool duty = c.GetPumpDuty(d1, d2);
        PCProdReadLabel = T(421) + QStringLiteral(" : ") + sn + QLatin1Char('\n') + T(428) +
                          QStringLiteral(" : ") + (t > 0 ? timeText(t) : T(430)) + QLatin1Char('\n') +
                          T(429) + QStringLiteral(" : ") +
                          (duty ? QStringLiteral("%1 %2").arg(d1).arg(d2) : T(430));
        return !sn.isEmpty() && t > 0 && duty;
    });
}

bool TServiceCommands::PCProdSetBtnClick()
{
    if (!cableChosen())
        return false;
    if (!IsServiceSerialText(PCProdNameEdit)) {
        LastError = T(LANG_SVC_SN_ASCII);
        return false;
    }
    PCProdReadLabel.clear();
    return run(false, [this](bool opened) {
        if (!opened)
            return false;
        TDockComm& c = m_core.DockComm;
        bool ok = true;
        QString line1 = T(421) + QStringLiteral(" : ");
        if (c.WriteSN(PCProdNameEdit)) {
            const QString back = c.ReadSN();
            line1 += back;
            ok = sameSerial(PCProdNameEdit, back);
        } else {
            line1 += T(430);
            ok = false;
        }
        const double offset = std::clamp(PCProdOffsetEdit, -23.0, 23.0);
        const TDateTime back = c.SetRtc(NowDays() + offset / 24.0);
        const QString line2 = T(428) + QStringLiteral(" : ") + (back > 0 ? timeText(back) : T(430));
        ok = ok && back > 0;
        QString line3 = T(429) + QStringLiteral(" : ");
        if (!c.SetPumpDuty(std::clamp(PCProdDuty1Edit, 0, 50), std::clamp(PCProdDuty2Edit, 0, 50))) {
            line3 += T(430);
            ok = false;
        } else {
            int d1 = 0, d2 = 0;
            if (c.GetPumpDuty(d1, d2))
                line3 += QStringLiteral("%1 %2").arg(d1).arg(d2);
            else
                ok = false;
        }
        PCProdReadLabel = line1 + QLatin1Char('\n') + line2 + QLatin1Char('\n') + line3;
        return ok;
    });
}

bool TServiceCommands::PCPumpTestBtnClick()
{
    return run(true, [this](bool opened) {
        return opened && answered(m_core.DockComm.SendOperation(SERVICE_OP_PUMPTEST));
    });
}

bool TServiceCommands::PCGDDFClearBtnClick()
{
    LastError.clear();
    // The instruments' memory is gone for good: ask first, naming what goes.
    if (!m_core.port.askQuestion(LANG_SVC_GDCLEAR_ASK, T(LANG_SVC_GDCLEAR_ASK), T(431)))
        return false;
    return run(true, [this](bool opened) {
        return opened && answered(m_core.DockComm.SendOperation(SERVICE_OP_GDDFCLEAR));
    });
}

bool TServiceCommands::PCSimEventAddBtnClick()
{
    if (!IsServiceSerialText(PCSimSNEdit)) {
        LastError = T(LANG_SVC_SN_ASCII);
        return false;
    }
    RSimEvent e;
    e.mSN = PCSimSNEdit;
    e.mSensor = PCSimSensorComboIndex;
    e.mType = PCSimEventTypeRadioIndex;
    e.mLevel = PCSimEventAlarmEdit;
    e.mDuration = PCSimEventDurationEdit;
    const QByteArray rec = SimEventRecord(e);
    return run(true, [this, rec](bool opened) {
        return opened && answered(m_core.DockComm.SendSimulData(SIMUL_CMD_EVENT, rec));
    });
}

bool TServiceCommands::PCSimTestBumpBtnClick(int tag)
{
    if (!IsServiceSerialText(PCSimSNEdit)) {
        LastError = T(LANG_SVC_SN_ASCII);
        return false;
    }
    RSimTest t;
    t.mSN = PCSimSNEdit;
    t.mSensor = PCSimSensorComboIndex;
    t.mZeroPre = PCSimTestZeroPreEdit;
    t.mZero = PCSimTestZeroEdit;
    t.mZeroTime = PCSimTestZeroTimeEdit;
    t.mSpanPre = PCSimTestSpanPreEdit;
    t.mSpan = PCSimTestSpanEdit;
    t.mSpanTime = PCSimTestSpanTimeEdit;
    const QByteArray rec = SimTestRecord(t);
    const uint8_t cmd = tag == 2 ? SIMUL_CMD_CAL : SIMUL_CMD_BUMP;
    return run(true, [this, rec, cmd](bool opened) {
        return opened && answered(m_core.DockComm.SendSimulData(cmd, rec));
    });
}

bool TServiceCommands::PCOpBtnClick(const std::function<void()>& showDlg)
{
    for (auto t : {TMainCore::Traffic::CommRead, TMainCore::Traffic::CommSend, TMainCore::Traffic::CommData})
        m_core.SetTraffic(t, false);
    TDockComm& comm = m_core.DockComm;
    comm.OnData = nullptr;
    comm.OnRead = nullptr;
    comm.OnSend = nullptr;
    LastError.clear();
    if (m_core.state.FExe) {
        LastError = T(LANG_SVC_BUSY);
        return false;
    }
    if (m_core.LoadUSBCommPort)
        m_core.LoadUSBCommPort();
    m_core.state.FExe = true;
    ScopeGuard cleanup([this, &comm] {
        comm.CloseComm();
        comm.OnRead = nullptr;
        comm.OnSend = nullptr;
        m_core.state.FExe = false;
    });
    if (!comm.OpenComm(m_core.OpDeviceConnectCommPortComboText)) {
        LastError = comm.FErrStr;
        return false;
    }
    if (showDlg)
        showDlg();
    return true;
}
