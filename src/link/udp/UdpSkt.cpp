#include "link/udp/UdpSkt.h"

#include "lang/LangTable.h"

QString TUdpSkt::NotOpenText(const QString& sOpenStr) const
{
    return LangText(621) + QStringLiteral(" ... ") + sOpenStr;
}

bool TUdpSkt::OpenComm(const QString& sOpenStr)
{
    FErrStr = NotOpenText(sOpenStr);
    Inform(QStringLiteral("The Ethernet (UDP) link is not available in this version."));
    return false;
}

void TUdpSkt::CloseComm() {}

uint8_t TUdpSkt::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    return UDPSKT_COMM_NOREPLY;
}

bool TUdpSkt::LoadConfigFiles(QVector<RCfgList>&)
{
    FDockInfo = RUnitInfo{};
    FErrStr = NotOpenText();
    return false;
}

bool TUdpSkt::SaveConfigFiles(QVector<RCfgList>&)
{
    FErrStr = NotOpenText();
    return false;
}

void TUdpSkt::LoadFirmwares()
{
    FFwList.mDockFile = RUnitFwDefine{};
    FFwList.mGDFile = RUnitFwDefine{};
}

bool TUdpSkt::SaveFirmware(uint8_t, const QString&)
{
    FErrStr = NotOpenText();
    return false;
}

uint8_t TUdpSkt::DeleteFile(const QString&)
{
    return UDPSKT_COMM_NOREPLY;
}

uint8_t TUdpSkt::DeleteDirectory(const QString&)
{
    return UDPSKT_COMM_NOREPLY;
}

void TUdpSkt::LoadLogFiles()
{
    ClearLogList();
}

void TUdpSkt::LoadLogFileList(QVector<RFileList>& mFileList, bool)
{
    ClearLogList();
    mFileList.clear();
}

uint8_t TUdpSkt::LoadLogFile(RFileList&)
{
    return UDPSKT_COMM_NOREPLY;
}

void TUdpSkt::LoadLogDirList(QVector<RFileList>& mFileList)
{
    mFileList.clear();
}

TDateTime TUdpSkt::ReadRtc()
{
    return 0;
}

TDateTime TUdpSkt::SetRtc(TDateTime)
{
    return 0;
}

void TUdpSkt::UnitReset() {}

void TUdpSkt::DeviceReset() {}

void TUdpSkt::SendExtCommand(uint8_t) {}

bool TUdpSkt::GetTaskStatus(RTask&, uint8_t& nUsb, RBayTaskArr&)
{
    nUsb = 0;
    return false;
}

bool TUdpSkt::GetTaskResult(RBayResArr&, RGDInfoArr&)
{
    return false;
}

bool TUdpSkt::GetTaskLog(uint8_t, uint8_t, RLogInfo&)
{
    return false;
}
