#include "link/tcp/TCPSkt.h"

#include "lang/LangTable.h"

QString TTCPSkt::NotOpenText(const QString&) const
{
    return LangText(622);
}

bool TTCPSkt::OpenComm(const QString& sOpenStr)
{
    FErrStr = NotOpenText(sOpenStr);
    Inform(QStringLiteral("The TCP link is not available in this version."));
    return false;
}

void TTCPSkt::CloseComm() {}

uint8_t TTCPSkt::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    return TCPSKT_COMM_INACTIVE;
}

bool TTCPSkt::LoadConfigFiles(QVector<RCfgList>&)
{
    FDockInfo = RUnitInfo{};
    FErrStr = NotOpenText();
    return false;
}

bool TTCPSkt::SaveConfigFiles(QVector<RCfgList>&)
{
    FErrStr = NotOpenText();
    return false;
}

void TTCPSkt::LoadFirmwares()
{
    FFwList.mDockFile = RUnitFwDefine{};
    FFwList.mGDFile = RUnitFwDefine{};
}

bool TTCPSkt::SaveFirmware(uint8_t, const QString&)
{
    FErrStr = NotOpenText();
    return false;
}

uint8_t TTCPSkt::DeleteFile(const QString&)
{
    return TCPSKT_COMM_INACTIVE;
}

uint8_t TTCPSkt::DeleteDirectory(const QString&)
{
    return TCPSKT_COMM_INACTIVE;
}

void TTCPSkt::LoadLogFiles()
{
    ClearLogList();
}

void TTCPSkt::LoadLogFileList(QVector<RFileList>& mFileList, bool)
{
    ClearLogList();
    mFileList.clear();
}

uint8_t TTCPSkt::LoadLogFile(RFileList&)
{
    return TCPSKT_COMM_INACTIVE;
}

void TTCPSkt::LoadLogDirList(QVector<RFileList>& mFileList)
{
    mFileList.clear();
}

TDateTime TTCPSkt::ReadRtc()
{
    return 0;
}

TDateTime TTCPSkt::SetRtc(TDateTime)
{
    return 0;
}

void TTCPSkt::UnitReset() {}

void TTCPSkt::DeviceReset() {}

void TTCPSkt::SendExtCommand(uint8_t) {}

bool TTCPSkt::GetTaskStatus(RTask&, uint8_t& nUsb, RBayTaskArr&)
{
    nUsb = 0;
    return false;
}

bool TTCPSkt::GetTaskResult(RBayResArr&, RGDInfoArr&)
{
    return false;
}

bool TTCPSkt::GetTaskLog(uint8_t, uint8_t, RLogInfo&)
{
    return false;
}
