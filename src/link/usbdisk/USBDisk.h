#pragma once
// The dock as a USB mass-storage drive: every transfer is a plain file copy
// between the drive and the transfer folder.
#include "link/UnitDef.h"

inline constexpr uint8_t USBDISK_COMM_OK = 0;
inline constexpr uint8_t USBDISK_COMM_NO_DEVICEINFO = 128;
inline constexpr uint8_t USBDISK_COMM_DELETE_ERROR = 129;

// root + relative with every existing part matched without regard to case.
QString ResolvePathNoCase(const QString& sRoot, const QString& sRelative);

class TUSBDisk : public TUnitDef {
public:
    QString FUsbDrive; // root of the dock's drive, with trailing "/"
    QString UsbDrive() const { return FUsbDrive; }

    // Where removable volumes come from; tests inject their own list.
    std::function<QStringList()> RemovableRoots;

    // The drive path of a drive-relative path ("LOG/EVENT/"), each part matched
    // without regard to case as the dock's file system does; parts that do not
    // exist are kept as given.
    QString DrivePath(const QString& sRelative) const;
    // A full path below the drive (an mUsbFile) resolved the same way; other paths unchanged.
    QString ResolveDrivePath(const QString& sPath) const;

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

private:
    bool DriveReady() const;
    // The file, its links followed, lies on the drive (not elsewhere on the PC).
    bool ResolvesInsideDrive(const QString& sPath) const;
    bool InsideDrive(const QString& sPath) const;
    void WriteLogListDump(const QVector<RFileList>& list) const;
};
