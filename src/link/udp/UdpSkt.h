#pragma once
// The Ethernet link: one-datagram text commands to the dock's UDP port, replies
// (possibly a chain of them, requested by order number) on the dock's port + 1.
// A reply is awaited in a local event loop that ends on a parsed reply or after
// five seconds, so the window stays live and the processor sleeps.
#include <QByteArray>
#include <QHostAddress>
#include <memory>

#include "link/remote/RemoteUnit.h"

class QEventLoop;
class QFileDevice;
class QUdpSocket;

// Result codes.
inline constexpr uint8_t UDPSKT_COMM_END = 0;
inline constexpr uint8_t UDPSKT_COMM_MORE = 1;
inline constexpr uint8_t UDPSKT_COMM_NORESULT = 101;
inline constexpr uint8_t UDPSKT_COMM_WRONG_TERMINATE = 102;
inline constexpr uint8_t UDPSKT_COMM_WRONG_NOTALLSEND = 103;
// The reply chain holds more than the command reserved room for.
inline constexpr uint8_t UDPSKT_COMM_TOOLONG = 104;
// A local file could not be read or written.
inline constexpr uint8_t UDPSKT_COMM_FILE_ERROR = 105;
inline constexpr uint8_t UDPSKT_COMM_NG_UNKNOWN = 199;
inline constexpr uint8_t UDPSKT_COMM_NG_WRONGTIME = 200;
inline constexpr uint8_t UDPSKT_COMM_NG_FORMAT = 201;
inline constexpr uint8_t UDPSKT_COMM_NG_WRONGORDER = 202;
inline constexpr uint8_t UDPSKT_COMM_NG_NOTOPEN = 203;
inline constexpr uint8_t UDPSKT_COMM_NG_NOTCREARTE = 204;
inline constexpr uint8_t UDPSKT_COMM_NG_NOTEXECUTE = 205;
inline constexpr uint8_t UDPSKT_COMM_NOREPLY = 255;

// Reply-reading modes.
inline constexpr uint8_t UDPSKT_REVTYPE_TEXT = 1;
inline constexpr uint8_t UDPSKT_REVTYPE_BIN = 2;
inline constexpr uint8_t UDPSKT_REVTYPE_TXTDATA = 3;
inline constexpr uint8_t UDPSKT_REVTYPE_IGNORE = 16;

inline constexpr qint64 UDPSKT_FILE_ADDSIZE = 250;
// Longest reply datagram the dock sends.
inline constexpr int UDPSKT_MAX_DATAGRAM = 2000;
inline constexpr int UDPSKT_UPLOAD_CHUNK = 700;

struct RRxData {
    uint8_t mResult = 255;
    TDateTime mDate = 0;
    int32_t mOrder = 65535;
    int32_t mSize = 0;
    QString mSN;
    QString mSWVersion;
    QString mProgramId;
};

class TUdpSkt : public TRemoteUnit {
public:
    TUdpSkt();
    ~TUdpSkt() override;

    quint16 RemotePort = 65000; // the dock's UDP port; replies come to RemotePort + 1
    RRxData FRxData;
    uint8_t FRevType = UDPSKT_REVTYPE_TEXT;
    QByteArray FBinData;    // what the reply chain collected
    qint64 FBinDataPos = 0; // bytes in FBinData
    qint64 FBinDataMax = 0; // room the command reserved
    int FResetReq = 0;
    // Waits, in milliseconds; tests and the benchmark shorten them.
    int FReplyTimeoutMs = 5000;
    int FResetPauseMs = 50;
    // What the reply to the current request must carry; a datagram that names
    // another part ("Order"), another file size ("Size") or lacks the tag asked
    // for answers an earlier request and is passed over.
    int FExpectOrder = -1;
    qint64 FExpectSize = -1;
    QByteArray FExpectTag;
    // Datagrams passed over since the link was opened (not the dock's, or not
    // for the request in flight).
    int FIgnored = 0;

    // One exchange: send sCmd, wait for the reply; the reply's result code (255: none came).
    uint8_t SendCommand(const QString& sComment, uint8_t nRevType, qint64 nSize, const QByteArray& sCmd);
    void SendReset();
    // The reply parser: every datagram from the dock's address and port. A datagram
    // that does not answer the request in flight leaves FRxData waiting.
    void OnDataReceived(const QByteArray& datagram, const QString& fromIp);
    // Readies the parser for a new exchange without sending (fuzzing and tests).
    void ResetReply(uint8_t nRevType, qint64 nSize);
    static QString GetError(uint8_t nRe);

    // The elements of a listing text; entries lacking a field, or named ".", "..",
    // or holding a path, are left out.
    // refused, when given, gets the names left out (the folder's "." and ".." aside).
    static void ParseListing(const QByteArray& text, const QString& sFolder, QVector<RFileList>& arrList,
                             QStringList* refused = nullptr);
    // Four parts from 0 to 255, the first not 0, not the broadcast address: the
    // address rejoined, or empty.
    static QString CheckAddress(const QString& sAddress);

    // ---- file primitives ----
    uint8_t GetFileSize(const QString& sFile, qint64& nLength) override;
    uint8_t GetFileList(const QString& sPath, QVector<RFileList>& arrList) override;
    uint8_t LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize) override;
    uint8_t SaveFile(const QString& sDest, const QString& sSource) override;
    uint8_t DeleteFile(const QString& sName) override;
    uint8_t DeleteDirectory(const QString& sPath) override;

    // ---- unit interface ----
    uint8_t GetDeviceInfo(QString& sSN, QString& sVer) override;
    bool OpenComm(const QString& sOpenStr) override;
    void CloseComm() override;
    TDateTime ReadRtc() override;
    TDateTime SetRtc(TDateTime tNow) override;
    void UnitReset() override;
    void DeviceReset() override;
    void SendExtCommand(uint8_t nCom) override;
    bool GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay) override;
    bool GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD) override;
    bool GetTaskLog(uint8_t nBay, uint8_t nType, RLogInfo& mLog) override;

    bool IsOpen() const { return m_open; }
    QString RemoteHost() const { return m_remote.toString(); }
    quint16 LocalPort() const;

protected:
    Traits LinkTraits() const override;
    void BeforeSaveConfig() override { SendReset(); }

private:
    void onReadyRead();
    void sendDatagram(const QByteArray& data);
    bool collect(const char* data, qsizetype size);
    void deletionDone();
    // After a time-out: one identity request whose answer marks the point where
    // the dock has caught up; what arrives before it answered the requests that
    // timed out.
    bool resynchronise();
    uint8_t chain(const QString& sComment, uint8_t nFirstMode, qint64 nSize, const QByteArray& sRequest,
                  int nResetEvery);

    QFileDevice* m_sink = nullptr; // a download's file: its bytes go there, not into memory
    bool m_resync = false;
    bool m_resyncing = false;

    std::unique_ptr<QUdpSocket> m_socket;
    QHostAddress m_remote;
    bool m_open = false;
    QEventLoop* m_wait = nullptr;
};
