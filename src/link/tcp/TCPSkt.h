#pragma once
// The TCP link: HTTP-style requests to the dock's web server. The dock answers
// each request with an HTTP/1.0 status line, headers and a body, then closes the
// connection. A request has its own deadlines: to connect, to the first byte of
// the answer, between bytes, and in all (growing with the size expected).
#include <QByteArray>
#include <QElapsedTimer>
#include <functional>
#include <memory>

#include "link/remote/RemoteUnit.h"

class QEventLoop;
class QFileDevice;
class QTcpSocket;
class QTimer;

// Result codes.
inline constexpr uint8_t TCPSKT_COMM_OK = 0;
inline constexpr uint8_t TCPSKT_COMM_NG400 = 1;
inline constexpr uint8_t TCPSKT_COMM_NG404 = 2;
inline constexpr uint8_t TCPSKT_COMM_NGNONE = 3;
// The body is shorter than its Content-Length (the connection broke).
inline constexpr uint8_t TCPSKT_COMM_SHORTBODY = 4;
// More data than announced or than the request reserved room for.
inline constexpr uint8_t TCPSKT_COMM_TOOLONG = 5;
// A local file could not be read or written.
inline constexpr uint8_t TCPSKT_COMM_FILE_ERROR = 6;
// The answer came, but slower than any dock sends: the request's whole time ran out.
inline constexpr uint8_t TCPSKT_COMM_TOOSLOW = 7;
// The dock answered an upload before it had all of it.
inline constexpr uint8_t TCPSKT_COMM_NOTALLSENT = 8;
inline constexpr uint8_t TCPSKT_COMM_INACTIVE = 254;
inline constexpr uint8_t TCPSKT_COMM_TIMEOUT = 255;

// Connection states.
inline constexpr uint8_t TCPSKT_LAN_DISCONNECT = 0;
inline constexpr uint8_t TCPSKT_LAN_CONNECT = 1;
inline constexpr uint8_t TCPSKT_LAN_ERROR = 255;

inline constexpr uint8_t TCPSKT_REVTYPE_TEXT = 1;
inline constexpr uint8_t TCPSKT_REVTYPE_BIN = 2;

inline constexpr int MAX_SIZE = 700; // upload piece
inline constexpr qint64 TCPSKT_FILE_ADDSIZE = 250;

class TTCPSkt : public TRemoteUnit {
public:
    TTCPSkt();
    ~TTCPSkt() override;

    quint16 Port = 80;
    uint8_t FConnect = TCPSKT_LAN_DISCONNECT;
    uint8_t FRevType = TCPSKT_REVTYPE_TEXT;
    QByteArray FTxtData;    // response text (the header in binary mode)
    QByteArray FBinData;    // body bytes (binary mode), or the bytes to send (upload)
    qint64 FBinDataPos = 0;
    qint64 FBinDataMax = 0;
    // Waits in milliseconds; tests shorten them.
    int FFirstByteMs = 5000; // from the request to the answer's first byte
    int FIdleMs = 3000;      // between two arrivals of the answer
    int FTotalBaseMs = 15000; // a request in all, plus the time its expected bytes take
    qint64 FMinBytesPerSec = 20000; // ... at the slowest rate a working dock sends
    int FConnectMs = 1000;   // per connection attempt
    int FRetryPauseMs = 500; // between connection attempts
    int FPaceMs = 100;       // between upload pieces
    int FAfterPauseMs = 100; // after every request

    bool OpenSocket();
    uint8_t SendCommand(const QString& sComment, uint8_t nRevType, qint64 nSize, const QByteArray& sCmd);
    uint8_t SendRawCommand(const QString& sComment, uint8_t nType);
    uint8_t CheckTextData() const;
    static QString GetError(uint8_t nRe);

    // Response pieces, public for tests and fuzzing.
    static uint8_t CheckStatus(const QByteArray& response);
    // The number after "Content-Length:"; -1 when there is none.
    static qint64 ContentLength(const QByteArray& header);
    // Entries of a directory page below sFolder; entries that name another folder's
    // files, climb with "..", or lack a field are left out.
    // refused, when given, gets the names left out.
    static void ParseDirectoryPage(const QByteArray& page, const QString& sFolder, QVector<RFileList>& arrList,
                                   QStringList* refused = nullptr);
    // A directory page that stops before its table ends was cut short.
    static bool DirectoryPageComplete(const QByteArray& page);
    static QByteArray UploadRequest(const QByteArray& path, const QByteArray& data);

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
    void DeviceReset() override {}
    void SendExtCommand(uint8_t) override {}
    bool GetTaskStatus(RTask&, uint8_t& nUsb, RBayTaskArr&) override
    {
        nUsb = 0;
        return false;
    }
    bool GetTaskResult(RBayResArr&, RGDInfoArr&) override { return false; }
    bool GetTaskLog(uint8_t, uint8_t, RLogInfo&) override { return false; }

    QString Host() const { return m_host; }

protected:
    Traits LinkTraits() const override;

private:
    void onReadyRead();
    void dropConnection();
    uint8_t finish(const QString& sComment);
    // Runs the wait for the answer with the request's deadlines; nExpected is the
    // size of what is sent and received, as far as it is known.
    void awaitAnswer(qint64 nExpected, const std::function<bool()>& onTick = {});
    void rearm();

    std::unique_ptr<QTcpSocket> m_socket;
    QString m_host;
    QEventLoop* m_wait = nullptr;
    bool m_headerTaken = false;
    bool m_overflow = false;
    bool m_noBody = false;     // a HEAD request: its answer has no body
    bool m_gotByte = false;    // any byte of the answer arrived
    bool m_tooSlow = false;    // the request's whole time ran out while the answer came
    qint64 m_totalMs = 0;
    qint64 m_expectBody = -1;  // a download's listed size: the body must be exactly this
    qint64 m_sentAtAnswer = -1; // upload bytes handed over when the answer began
    QFileDevice* m_sink = nullptr; // a download's file: the body goes there, not into memory
    QTimer* m_deadline = nullptr;
    QElapsedTimer m_clock;
};
