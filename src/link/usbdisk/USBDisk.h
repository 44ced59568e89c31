#pragma once
// The dock as a USB mass-storage drive: every transfer is a plain file copy
// between the drive and the transfer folder.
#include "link/UnitDef.h"

inline constexpr uint8_t USBDISK_COMM_OK = 0;
inline constexpr uint8_t USBDISK_COMM_NO_DEVICEINFO = 128;
inline constexpr uint8_t USBDISK_COMM_DELETE_ERROR = 129;

class TUSBDisk : public TUnitDef {
public:
    QString FUsbDrive; // root of the dock's drive, with trailing "/"
    QString UsbDrive() const { return FUsbDrive; }

    // Where removable volumes come from; tests inject their own list.
    std::function<QStringList()> RemovableRoots;

    uint8_t GetDeviceInfo(QString& sSN, QString& sVer) override;
    bool OpenComm(const QString& sOpenStr) override;
    void CloseComm() override {}
    bool LoadConfigFiles(QVector<RCfgList>& arrList) override;
    bool SaveConfigFiles(QVector<RCfgList>& arrList) override;
    void LoadFirmwares() override;
    bool SaveFirmware(uint8_t nFileID, const QString& sSource) override;
    uint8_t DeleteFile(const QString& sName) override;
    uint8_t DeleteDirectory(const QString& sPath) override;
    void LoadLogFiles() override;
    void LoadLogFileList(QVector<RFileList>& mFileList, bool bAll) override;
    uint8_t LoadLogFile(RFileList&) override { return 0; }
    void LoadLogDirList(QVector<RFileList>& mFileList) override;
    TDateTime ReadRtc() override { return 0; }
    TDateTime SetRtc(TDateTime) override { return 0; }
    void UnitReset() override {}
    void DeviceReset() override {}
    void SendExtCommand(uint8_t) override {}
    bool GetTaskStatus(RTask&, uint8_t&, RBayTaskArr&) override { return false; }
    bool GetTaskResult(RBayResArr&, RGDInfoArr&) override { return false; }
    bool GetTaskLog(uint8_t, uint8_t, RLogInfo&) override { return false; }
};
