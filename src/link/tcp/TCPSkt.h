#pragma once
// The TCP link: HTTP-style requests to the dock's web server. The dock answers
// each request with an HTTP/1.0 status line, headers and a body, then closes the
// connection; the response ends when the dock closes it or after one quiet second.
#include <QByteArray>
#include <memory>

#include "link/remote/RemoteUnit.h"

class QEventLoop;
class QTcpSocket;

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
    // Waits in milliseconds; tests shorten the pacing.
    int FQuietMs = 1000;     // a response ends after this long without data
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
    static void ParseDirectoryPage(const QByteArray& page, const QString& sFolder, QVector<RFileList>& arrList);
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

    std::unique_ptr<QTcpSocket> m_socket;
    QString m_host;
    QEventLoop* m_wait = nullptr;
    bool m_headerTaken = false;
    bool m_overflow = false;
};
