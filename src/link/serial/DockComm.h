#pragma once
// The USB cable link: binary request/reply frames over the bridge's serial port.
// The PC always asks; there is never more than one request in flight. A reply is
// awaited in a local event loop that quits on the decoded reply, on the loss of
// the port or after one second, so the window stays live during transfers.
#include <QByteArray>
#include <memory>

#include "link/remote/RemoteUnit.h"
#include "link/serial/Comm.h"

class QEventLoop;

// Result codes.
inline constexpr uint8_t DOCKCOMM_COMM_OK = 0;
inline constexpr uint8_t DOCKCOMM_COMM_TOOLONG = 1;
inline constexpr uint8_t DOCKCOMM_COMM_ETX = 2;
inline constexpr uint8_t DOCKCOMM_COMM_NAK = 3;
inline constexpr uint8_t DOCKCOMM_COMM_WRONGCOMMAND = 4;
inline constexpr uint8_t DOCKCOMM_COMM_CHECKSUM = 5;
inline constexpr uint8_t DOCKCOMM_COMM_FILE_ERROR = 160;
inline constexpr uint8_t DOCKCOMM_COMM_FILE_DIFFSIZE = 161;
inline constexpr uint8_t DOCKCOMM_COMM_FILE_NOTOPEN = 162;
inline constexpr uint8_t DOCKCOMM_COMM_NOTENDED = 163;
inline constexpr uint8_t DOCKCOMM_COMM_CLOSE = 254;
inline constexpr uint8_t DOCKCOMM_COMM_TIMEOUT = 255;

// Command codes.
inline constexpr uint8_t DOCKCOMM_CMD_FILESIZE = 0x91;
inline constexpr uint8_t DOCKCOMM_CMD_FILELIST = 0x92;
inline constexpr uint8_t DOCKCOMM_CMD_LOADFILE = 0x93;
inline constexpr uint8_t DOCKCOMM_CMD_DELETEFILE = 0x94;
inline constexpr uint8_t DOCKCOMM_CMD_PUTFILE = 0x95;
inline constexpr uint8_t DOCKCOMM_CMD_DELETEFOLDER = 0x96;
inline constexpr uint8_t DOCKCOMM_CMD_READINFO = 0xA0;
inline constexpr uint8_t DOCKCOMM_CMD_READSN = 0xA1;
inline constexpr uint8_t DOCKCOMM_CMD_WRITESN = 0xA2;
inline constexpr uint8_t DOCKCOMM_CMD_RTC = 0xA3;
inline constexpr uint8_t DOCKCOMM_CMD_GETRTC = 0xA4;
inline constexpr uint8_t DOCKCOMM_CMD_SETDUTY = 0xA6;
inline constexpr uint8_t DOCKCOMM_CMD_GETDUTY = 0xA7;
inline constexpr uint8_t DOCKCOMM_CMD_REBOOT = 0xF0;
inline constexpr uint8_t DOCKCOMM_CMD_OP = 0x21;
inline constexpr uint8_t DOCKCOMM_CMD_OP_STATUS = 0x22;
inline constexpr uint8_t DOCKCOMM_CMD_OP_RESULT = 0x23;
inline constexpr uint8_t DOCKCOMM_CMD_OP_LOG = 0x24;

inline constexpr int MAX_BUFFER = 1000;
inline constexpr int DOCKCOMM_RETRY = 2;
inline constexpr qint64 DOCKCOMM_FILE_ADDSIZE = 250;
// Largest accepted reply: bytes after the length field.
inline constexpr int DOCKCOMM_MAX_REPLY = 950;
// Largest request payload the transmit buffer takes.
inline constexpr int DOCKCOMM_MAX_PAYLOAD = 995;
inline constexpr int DOCKCOMM_UPLOAD_CHUNK = 400;

struct RComm {
    uint8_t mTXBuf[MAX_BUFFER + 1]{};
    uint8_t mRXBuf[MAX_BUFFER + 1]{};
    uint8_t mCommand = 0;
    uint8_t mRxState = 0;
    int32_t mRXLength = 0;
    int32_t mReadLength = 0;
    uint8_t mState = 0;
};

// Where the file bytes of a download block lie, and how it ends.
struct RLoadBlock {
    qsizetype mStart = 0;
    qsizetype mLength = 0;
    uint8_t mEnd = 0; // 1 "{END}", 0 "{MORE}", 255 "{NOTOPEN}"
    qint64 mSize = -1; // the "[N]" size token of a first block, -1 when there is none
};

class TDockComm : public TRemoteUnit {
public:
    TDockComm();
    ~TDockComm() override;

    std::unique_ptr<TComm> RSCom;
    bool FComEnable = false;
    RComm FComm;
    // The reply window and the pause after a failed block request, in milliseconds.
    int FReplyWindowMs = 1000;
    int FRetryPauseMs = 1000;

    // ---- exchange core ----
    // Sends the payload already at mTXBuf[4 .. 3 + nLen] as command nCom and waits for the reply.
    uint8_t SendData(const QString& sComment, uint8_t nCom, int nLen, bool bDLC);
    void CheckData();
    void OnComRxChar(int Count);
    // The decoder's state machine on bytes that came from the port.
    void FeedBytes(const uint8_t* data, qsizetype size);
    static QString GetError(uint8_t nRe);
    // The data bytes of the last decoded reply (between the command echo and the checksum).
    QByteArray ReplyData() const;
    // Starts a new exchange's decoder state without sending (fuzzing and tests).
    void ResetDecoder(uint8_t nCom);

    // ---- file primitives ----
    uint8_t GetFileSize(const QString& sFile, qint64& nLength) override;
    uint8_t GetFileList(const QString& sPath, QVector<RFileList>& arrList) override;
    uint8_t LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize) override;
    uint8_t SaveFile(const QString& sDest, const QString& sSource) override;
    uint8_t DeleteFile(const QString& sName) override;
    uint8_t DeleteDirectory(const QString& sPath) override;

    // Block parsers: false when the block does not parse.
    static bool ParseListBlock(const QByteArray& data, uint8_t nBlock, const QString& sPath,
                               QVector<RFileList>& arrList, bool& bEnd);
    // Only a file's first block carries the "[N]" size token; it is never file data.
    static bool ParseLoadBlock(const QByteArray& data, uint8_t nBlock, bool bFirst,
                               RLoadBlock& block);

    // ---- unit interface ----
    uint8_t GetDeviceInfo(QString& sSN, QString& sVer) override;
    bool OpenComm(const QString& sOpenStr) override;
    void CloseComm() override;
    TDateTime ReadRtc() override;
    TDateTime SetRtc(TDateTime tNow) override;
    void UnitReset() override;
    void DeviceReset() override {}
    void SendExtCommand(uint8_t nCom) override;
    bool GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay) override;
    bool GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD) override;
    bool GetTaskLog(uint8_t nBay, uint8_t nType, RLogInfo& mLog) override;

    // ---- service operations of this link ----
    QString ReadSN();
    bool WriteSN(const QString& sSN);
    bool SetPumpDuty(int nDuty1, int nDuty2);
    bool GetPumpDuty(int& nDuty1, int& nDuty2);
    // The exchange's result code (DOCKCOMM_COMM_*): a refusal is DOCKCOMM_COMM_NAK.
    uint8_t SendSimulData(uint8_t nCom, const QByteArray& sData);
    // SendExtCommand that tells what the dock answered.
    uint8_t SendOperation(uint8_t nCom);

    // The history text of a frame: " XX " per byte.
    static QString HexDump(const uint8_t* data, qsizetype size);

protected:
    Traits LinkTraits() const override;

private:
    // Places payload at mTXBuf[4...]; false when it does not fit.
    bool setPayload(const QByteArray& payload);
    uint8_t exchange(const QString& sComment, uint8_t nCom, const QByteArray& payload, bool bDLC = false);
    // A file-workflow request: up to nAttempts of the same frame, counted towards
    // the dock's silence in the operation (and not sent once it has gone silent).
    uint8_t blockRequest(const QString& sComment, uint8_t nCom, const QByteArray& payload, bool bDLC,
                         int nAttempts = DOCKCOMM_RETRY);
    void portLost();
    QEventLoop* m_wait = nullptr;
    bool m_portLost = false;
    // Some byte came during the current exchange.
    bool m_heard = false;
};
