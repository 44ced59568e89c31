#pragma once
// The TCP link. This version has no transport behind it yet: every
// operation fails cleanly, so an operation started on it reports the failure.
#include "link/UnitDef.h"

// The server is not connected.
inline constexpr uint8_t TCPSKT_COMM_INACTIVE = 254;

class TTCPSkt : public TUnitDef {
public:
    uint8_t GetDeviceInfo(QString& sSN, QString& sVer) override;
    bool OpenComm(const QString& sOpenStr) override;
    void CloseComm() override;
    bool LoadConfigFiles(QVector<RCfgList>& arrList) override;
    bool SaveConfigFiles(QVector<RCfgList>& arrList) override;
    void LoadFirmwares() override;
    bool SaveFirmware(uint8_t nFileID, const QString& sSource) override;
    uint8_t DeleteFile(const QString& sName) override;
    uint8_t DeleteDirectory(const QString& sPath) override;
    void LoadLogFiles() override;
    void LoadLogFileList(QVector<RFileList>& mFileList, bool bAll) override;
    uint8_t LoadLogFile(RFileList& mFileList) override;
    void LoadLogDirList(QVector<RFileList>& mFileList) override;
    TDateTime ReadRtc() override;
    TDateTime SetRtc(TDateTime tNow) override;
    void UnitReset() override;
    void DeviceReset() override;
    void SendExtCommand(uint8_t nCom) override;
    bool GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay) override;
    bool GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD) override;
    bool GetTaskLog(uint8_t nBay, uint8_t nType, RLogInfo& mLog) override;

private:
    QString NotOpenText(const QString& sOpenStr = QString()) const;
};
