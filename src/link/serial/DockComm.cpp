#include "link/serial/DockComm.h"

#include "lang/LangTable.h"

QString TDockComm::NotOpenText(const QString&) const
{
    return LangText(612);
}

bool TDockComm::OpenComm(const QString& sOpenStr)
{
    FErrStr = NotOpenText(sOpenStr);
    Inform(QStringLiteral("The USB cable (serial) link is not available in this version."));
    return false;
}

void TDockComm::CloseComm() {}

uint8_t TDockComm::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    return DOCKCOMM_COMM_CLOSE;
}

bool TDockComm::LoadConfigFiles(QVector<RCfgList>&)
{
    FDockInfo = RUnitInfo{};
    FErrStr = NotOpenText();
    return false;
}

bool TDockComm::SaveConfigFiles(QVector<RCfgList>&)
{
    FErrStr = NotOpenText();
    return false;
}

void TDockComm::LoadFirmwares()
{
    FFwList.mDockFile = RUnitFwDefine{};
    FFwList.mGDFile = RUnitFwDefine{};
}

bool TDockComm::SaveFirmware(uint8_t, const QString&)
{
    FErrStr = NotOpenText();
    return false;
}

uint8_t TDockComm::DeleteFile(const QString&)
{
    return DOCKCOMM_COMM_CLOSE;
}

uint8_t TDockComm::DeleteDirectory(const QString&)
{
    return DOCKCOMM_COMM_CLOSE;
}

void TDockComm::LoadLogFiles()
{
    ClearLogList();
}

void TDockComm::LoadLogFileList(QVector<RFileList>& mFileList, bool)
{
    ClearLogList();
    mFileList.clear();
}

uint8_t TDockComm::LoadLogFile(RFileList&)
{
    return DOCKCOMM_COMM_CLOSE;
}

void TDockComm::LoadLogDirList(QVector<RFileList>& mFileList)
{
    mFileList.clear();
}

TDateTime TDockComm::ReadRtc()
{
    return 0;
}

TDateTime TDockComm::SetRtc(TDateTime)
{
    return 0;
}

void TDockComm::UnitReset() {}

void TDockComm::DeviceReset() {}

void TDockComm::SendExtCommand(uint8_t) {}

bool TDockComm::GetTaskStatus(RTask&, uint8_t& nUsb, RBayTaskArr&)
{
    nUsb = 0;
    return false;
}

bool TDockComm::GetTaskResult(RBayResArr&, RGDInfoArr&)
{
    return false;
}

bool TDockComm::GetTaskLog(uint8_t, uint8_t, RLogInfo&)
{
    return false;
}
