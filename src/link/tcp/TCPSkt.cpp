#include "link/tcp/TCPSkt.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

#include "lang/LangTable.h"
#include "link/udp/UdpSkt.h"
#include "platform/Platform.h"
#include "util/IniFile.h"

namespace {

constexpr double kUnixEpochDays = 25569.0;
// Text responses (pages, status answers) larger than this are not the dock's.
constexpr qint64 kMaxTextResponse = 4 * 1024 * 1024;
const QByteArray kBlank = QByteArrayLiteral("\r\n\r\n");

QTimer* g_quiet = nullptr; // the running request's quiet window, restarted by each arrival

QString latin(const QByteArray& b) { return QString::fromLatin1(b); }

QByteArray between(const QByteArray& text, const QByteArray& open, const QByteArray& close, qsizetype& pos)
{
    const qsizetype a = text.indexOf(open, pos);
    if (a < 0)
        return QByteArray();
    const qsizetype from = a + open.size();
    const qsizetype b = text.indexOf(close, from);
    if (b < 0)
        return QByteArray();
    pos = b + close.size();
    return text.mid(from, b - from);
}

} // namespace

TTCPSkt::TTCPSkt() = default;

TTCPSkt::~TTCPSkt()
{
    CloseComm();
}

TRemoteUnit::Traits TTCPSkt::LinkTraits() const
{
    Traits t;
    t.closedCode = TCPSKT_COMM_INACTIVE;
    t.closedText = 622;
    t.saveErrorInParens = true;
    t.dumpFileName = QStringLiteral("LOGFILE_TCP.CSV");
    t.separatedListingDates = true;
    return t;
}

QString TTCPSkt::GetError(uint8_t nRe)
{
    switch (nRe) {
    case TCPSKT_COMM_OK: return QStringLiteral("OK");
    case TCPSKT_COMM_NG400: return QStringLiteral("400 Bad Request");
    case TCPSKT_COMM_NG404: return QStringLiteral("404 Not founded");
    case TCPSKT_COMM_NGNONE: return QStringLiteral("No return");
    case TCPSKT_COMM_SHORTBODY: return QStringLiteral("Connection lost in the body");
    case TCPSKT_COMM_TOOLONG: return QStringLiteral("Body too long");
    case TCPSKT_COMM_FILE_ERROR: return QStringLiteral("Local file error");
    case TCPSKT_COMM_INACTIVE: return QStringLiteral("Server close");
    case TCPSKT_COMM_TIMEOUT: return QStringLiteral("Time-out");
    default: return QStringLiteral("Unknown (") + QString::number(nRe) + QLatin1Char(')');
    }
}

// ---- link ----

bool TTCPSkt::OpenComm(const QString& sOpenStr)
{
    CloseComm();
    const QString host = TUdpSkt::CheckAddress(sOpenStr);
    if (host.isEmpty()) {
        FErrStr = LangText(621) + QStringLiteral(" ... ") + sOpenStr;
        return false;
    }
    m_host = host;
    Inform(QStringLiteral("Ethernet IP allocated ... ") + host);
    return true;
}

void TTCPSkt::CloseComm()
{
    dropConnection();
}

void TTCPSkt::dropConnection()
{
    if (m_wait)
        m_wait->quit();
    if (m_socket) {
        m_socket->disconnect();
        m_socket->abort();
        // Called from the socket's own readyRead too: deleting it there would pull the
        // object from under the signal being emitted.
        m_socket.release()->deleteLater();
    }
    FConnect = TCPSKT_LAN_DISCONNECT;
}

bool TTCPSkt::OpenSocket()
{
    if (m_host.isEmpty())
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (FConnect == TCPSKT_LAN_CONNECT)
            break;
        dropConnection();
        m_socket = std::make_unique<QTcpSocket>();
        QTcpSocket* s = m_socket.get();
        QObject::connect(s, &QTcpSocket::connected, [this] {
            FConnect = TCPSKT_LAN_CONNECT;
            if (m_wait)
                m_wait->quit();
        });
        QObject::connect(s, &QTcpSocket::disconnected, [this] {
            FConnect = TCPSKT_LAN_DISCONNECT;
            if (m_wait)
                m_wait->quit();
        });
        QObject::connect(s, &QTcpSocket::errorOccurred, [this](QAbstractSocket::SocketError) {
            // The dock closing after its answer also reports here; data already read stays.
            if (FConnect != TCPSKT_LAN_CONNECT || (m_socket && m_socket->state() != QAbstractSocket::ConnectedState))
                FConnect = TCPSKT_LAN_ERROR;
            if (m_wait)
                m_wait->quit();
        });
        QObject::connect(s, &QTcpSocket::readyRead, [this] { onReadyRead(); });
        FConnect = TCPSKT_LAN_DISCONNECT;
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(FConnectMs);
        s->connectToHost(m_host, Port);
        if (FConnect == TCPSKT_LAN_DISCONNECT) {
            m_wait = &loop;
            loop.exec();
            m_wait = nullptr;
        }
        if (FConnect != TCPSKT_LAN_CONNECT) {
            dropConnection();
            StDelay(float(FRetryPauseMs) / 1000.0f);
        }
    }
    return FConnect == TCPSKT_LAN_CONNECT;
}

void TTCPSkt::onReadyRead()
{
    if (!m_socket)
        return;
    if (g_quiet)
        g_quiet->start();
    const QByteArray data = m_socket->readAll();
    if (data.isEmpty())
        return;
    if (FRevType == TCPSKT_REVTYPE_BIN) {
        QByteArray body = data;
        if (!m_headerTaken) {
            const QByteArray all = FTxtData + data;
            const qsizetype at = all.indexOf(kBlank);
            if (at < 0) {
                FTxtData = all.left(kMaxTextResponse);
                if (OnRead)
                    OnRead(QStringLiteral("READ:") + latin(data));
                return;
            }
            FTxtData = all.left(at + kBlank.size());
            body = all.mid(at + kBlank.size());
            m_headerTaken = true;
            if (OnRead)
                OnRead(QStringLiteral("READ:") + latin(FTxtData));
        }
        if (FBinDataPos + body.size() > FBinDataMax) {
            m_overflow = true;
            Inform(QStringLiteral("Response data beyond the ") + QString::number(FBinDataMax) +
                   QStringLiteral(" bytes expected refused"));
            dropConnection();
            return;
        }
        FBinData.append(body);
        FBinDataPos += body.size();
        Progressed(FBinDataPos);
        return;
    }
    if (FTxtData.size() + data.size() > kMaxTextResponse) {
        m_overflow = true;
        Inform(QStringLiteral("Response longer than 4 MiB refused"));
        dropConnection();
        return;
    }
    FTxtData += data;
    if (OnRead)
        OnRead(QStringLiteral("READ:") + latin(data));
}

uint8_t TTCPSkt::CheckStatus(const QByteArray& response)
{
    const qsizetype at = response.indexOf("HTTP/1.0 ");
    if (at < 0)
        return TCPSKT_COMM_TIMEOUT;
    const qsizetype from = at + 9;
    const qsizetype end = response.indexOf("\r\n", from);
    const QByteArray status = response.mid(from, end < 0 ? -1 : end - from);
    if (status == "200 OK")
        return TCPSKT_COMM_OK;
    if (status.startsWith("400"))
        return TCPSKT_COMM_NG400;
    if (status.startsWith("404"))
        return TCPSKT_COMM_NG404;
    return TCPSKT_COMM_NGNONE;
}

uint8_t TTCPSkt::CheckTextData() const
{
    return CheckStatus(FTxtData);
}

qint64 TTCPSkt::ContentLength(const QByteArray& header)
{
    const qsizetype at = header.indexOf("Content-Length:");
    if (at < 0)
        return -1;
    qsizetype p = at + 15;
    while (p < header.size() && header[p] == ' ')
        ++p;
    qsizetype e = p;
    while (e < header.size() && e - p < 18 && header[e] >= '0' && header[e] <= '9')
        ++e;
    if (e == p)
        return -1;
    return header.mid(p, e - p).toLongLong();
}

uint8_t TTCPSkt::finish(const QString& sComment)
{
    uint8_t r = CheckTextData();
    if (m_overflow)
        r = TCPSKT_COMM_TOOLONG;
    else if (r == TCPSKT_COMM_OK && FRevType == TCPSKT_REVTYPE_BIN) {
        // A body cut short must not pass for the whole file.
        const qint64 announced = ContentLength(FTxtData);
        if (!m_headerTaken || (announced >= 0 && FBinDataPos < announced))
            r = TCPSKT_COMM_SHORTBODY;
        else if (announced >= 0 && FBinDataPos > announced)
            r = TCPSKT_COMM_TOOLONG;
    }
    // Every request has a connection of its own; a late answer must not reach the next one.
    dropConnection();
    StDelay(float(FAfterPauseMs) / 1000.0f);
    if (OnData)
        OnData(QLatin1Char('(') + sComment + QStringLiteral(") ") + GetError(r));
    return r;
}

uint8_t TTCPSkt::SendCommand(const QString& sComment, uint8_t nRevType, qint64 nSize, const QByteArray& sCmd)
{
    if (m_wait)
        return TCPSKT_COMM_TIMEOUT; // one request at a time
    if (!OpenSocket()) {
        StDelay(float(FAfterPauseMs) / 1000.0f);
        if (OnData)
            OnData(QLatin1Char('(') + sComment + QStringLiteral(") ") + GetError(TCPSKT_COMM_INACTIVE));
        return TCPSKT_COMM_INACTIVE;
    }
    FTxtData.clear();
    FBinData.clear();
    FBinDataPos = 0;
    FBinDataMax = std::max<qint64>(0, nSize);
    FRevType = nRevType;
    m_headerTaken = false;
    m_overflow = false;
    if (OnSend)
        OnSend(QLatin1Char('(') + sComment + QStringLiteral(") SEND:") + latin(sCmd) + QStringLiteral(" HTTP/1.1"));

    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setInterval(FQuietMs);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    quiet.start();
    g_quiet = &quiet;
    m_socket->write(sCmd + " HTTP/1.1\r\n");
    if (FConnect == TCPSKT_LAN_CONNECT) {
        m_wait = &loop;
        loop.exec();
        m_wait = nullptr;
    }
    // What the socket still holds when the dock closed.
    if (m_socket && m_socket->bytesAvailable() > 0)
        onReadyRead();
    g_quiet = nullptr;
    return finish(sComment);
}

QByteArray TTCPSkt::UploadRequest(const QByteArray& path, const QByteArray& data)
{
    // The dock parses this block as it stands, odd empty line included.
    QByteArray r = "PUT " + path + "@ HTTP/1.1\r\n"
                   "Content-Type:text/plain\r\n"
                   "Cache-control: no-cache\r\n"
                   "Cache-control: no-store\r\n"
                   "Pragma: no-cache\r\n"
                   "Expires: 0\r\n"
                   "\r\n"
                   "Content-Length: " +
                   QByteArray::number(data.size()) + " \r\n\r\n";
    return r + data;
}

uint8_t TTCPSkt::SendRawCommand(const QString& sComment, uint8_t nType)
{
    Q_UNUSED(nType);
    if (m_wait)
        return TCPSKT_COMM_TIMEOUT;
    if (!OpenSocket()) {
        StDelay(float(FAfterPauseMs) / 1000.0f);
        if (OnData)
            OnData(QLatin1Char('(') + sComment + QStringLiteral(") ") + GetError(TCPSKT_COMM_INACTIVE));
        return TCPSKT_COMM_INACTIVE;
    }
    const QByteArray out = FBinData.left(FBinDataPos);
    FTxtData.clear();
    FRevType = TCPSKT_REVTYPE_TEXT;
    m_headerTaken = false;
    m_overflow = false;
    qint64 sent = 0;
    auto sendPiece = [&] {
        const qint64 n = std::min<qint64>(MAX_SIZE, out.size() - sent);
        if (n <= 0 || !m_socket)
            return;
        m_socket->write(out.constData() + sent, n);
        sent += n;
        FBinDataPos = out.size() - sent;
        if (OnSend)
            OnSend(QLatin1Char('(') + sComment + QStringLiteral(") SEND: Binary data (") + QString::number(n) +
                   QLatin1Char(')'));
        Progressed(sent);
    };
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setInterval(FQuietMs);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer pace;
    pace.setInterval(FPaceMs);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (sent >= out.size()) {
            pace.stop();
            return;
        }
        sendPiece();
        quiet.start();
    });
    sendPiece();
    quiet.start();
    pace.start();
    g_quiet = &quiet;
    if (FConnect == TCPSKT_LAN_CONNECT) {
        m_wait = &loop;
        loop.exec();
        m_wait = nullptr;
    }
    pace.stop();
    if (m_socket && m_socket->bytesAvailable() > 0)
        onReadyRead();
    g_quiet = nullptr;
    FBinData.clear();
    FBinDataPos = 0;
    return finish(sComment);
}

// ---- file primitives ----

uint8_t TTCPSkt::GetFileSize(const QString& sFile, qint64& nLength)
{
    nLength = 0;
    const uint8_t r = SendCommand(QStringLiteral("Size:") + sFile, TCPSKT_REVTYPE_TEXT, 0,
                                  "HEAD " + platform::EncodeLegacy(sFile) + '@');
    if (r == TCPSKT_COMM_OK) {
        const qint64 n = ContentLength(FTxtData);
        if (n > 0)
            nLength = n;
    }
    return r;
}

void TTCPSkt::ParseDirectoryPage(const QByteArray& page, const QString& sFolder, QVector<RFileList>& arrList)
{
    const QByteArray marker = "</td><td></td></tr>";
    const qsizetype m = page.indexOf(marker);
    if (m < 0)
        return;
    qsizetype pos = m + marker.size() + 1;
    QString folder = sFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    while (pos < page.size()) {
        const QByteArray name = between(page, "\"", "\"", pos);
        if (name.isEmpty())
            break;
        const QByteArray date = between(page, "<td>", "</td>", pos);
        if (date.isEmpty() && page.indexOf("</td>", pos) < 0)
            break;
        RFileList e;
        e.mName = platform::DecodeLegacy(name);
        e.mDir = e.mName.endsWith(QLatin1Char('/'));
        e.mDateStr = latin(date);
        if (!e.mDir) {
            const qsizetype gt = page.indexOf('>', pos);
            if (gt < 0)
                break;
            const qsizetype bytes = page.indexOf("Bytes", gt);
            if (bytes < 0)
                break;
            bool ok = false;
            e.mSize = page.mid(gt + 1, bytes - gt - 1).trimmed().toLongLong(&ok);
            pos = bytes + 5;
            if (!ok || e.mSize < 0)
                continue;
        }
        // The name is a full dock path: it must be one entry of the folder listed.
        if (!e.mName.startsWith(folder, Qt::CaseInsensitive))
            continue;
        QString rest = e.mName.mid(folder.size());
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
        if (rest.isEmpty() || rest == QLatin1String(".") || rest.contains(QLatin1String("..")) ||
            rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('\\')))
            continue;
        arrList.append(e);
    }
}

uint8_t TTCPSkt::GetFileList(const QString& sPath, QVector<RFileList>& arrList)
{
    arrList.clear();
    const uint8_t r = SendCommand(QStringLiteral("LIST:") + sPath, TCPSKT_REVTYPE_TEXT, 0,
                                  "GET " + platform::EncodeLegacy(sPath) + '@');
    if (r == TCPSKT_COMM_OK)
        ParseDirectoryPage(FTxtData, sPath, arrList);
    return r;
}

uint8_t TTCPSkt::LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize)
{
    const uint8_t r = SendCommand(QStringLiteral("Load:") + sSource, TCPSKT_REVTYPE_BIN,
                                  std::max<qint64>(0, nFileSize) + 1000, "GET " + platform::EncodeLegacy(sSource) + '@');
    if (r != TCPSKT_COMM_OK) {
        // An older copy under this name would be taken for the dock's file.
        QFile::remove(sDest);
        return r;
    }
    return WriteFileAtomic(sDest, FBinData.left(FBinDataPos)) ? TCPSKT_COMM_OK : TCPSKT_COMM_FILE_ERROR;
}

uint8_t TTCPSkt::SaveFile(const QString& sDest, const QString& sSource)
{
    QFile in(sSource);
    if (!in.open(QIODevice::ReadOnly))
        return TCPSKT_COMM_FILE_ERROR;
    const QByteArray data = in.readAll();
    in.close();
    FBinData = UploadRequest(platform::EncodeLegacy(sDest), data);
    FBinDataPos = FBinData.size();
    return SendRawCommand(QStringLiteral("Save:") + sDest, TCPSKT_REVTYPE_TEXT);
}

uint8_t TTCPSkt::DeleteFile(const QString& sName)
{
    return SendCommand(QStringLiteral("DELETE File"), TCPSKT_REVTYPE_TEXT, 1000000,
                       "DELETE " + platform::EncodeLegacy(sName) + '@');
}

uint8_t TTCPSkt::DeleteDirectory(const QString& sPath)
{
    return SendCommand(QStringLiteral("DELETE Folder"), TCPSKT_REVTYPE_TEXT, 1000000,
                       "DELETE " + platform::EncodeLegacy(sPath) + '@');
}

// ---- unit interface ----

uint8_t TTCPSkt::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    const uint8_t r = SendCommand(QStringLiteral("DEVICE INFO"), TCPSKT_REVTYPE_TEXT, 0, "GET /index.htm");
    if (r != TCPSKT_COMM_OK)
        return r;
    qsizetype pos = 0;
    sSN = platform::DecodeLegacy(between(FTxtData, "S/N:", ",", pos).trimmed().left(64));
    sVer = platform::DecodeLegacy(between(FTxtData, "Rev:", ",", pos).trimmed().left(64));
    return r;
}

TDateTime TTCPSkt::ReadRtc()
{
    if (SendCommand(QStringLiteral("GET RTC"), TCPSKT_REVTYPE_TEXT, 100000, "GET /index.htm") != TCPSKT_COMM_OK)
        return 0;
    qsizetype pos = 0;
    const QByteArray clock = between(FTxtData, "Dock clock: ", "<br>", pos).trimmed();
    return clock.isEmpty() ? 0 : IsValidFatDateTime(latin(clock));
}

TDateTime TTCPSkt::SetRtc(TDateTime tNow)
{
    const qint64 secs = qint64(std::nearbyint((tNow - kUnixEpochDays) * 86400.0));
    if (SendCommand(QStringLiteral("SET RTC"), TCPSKT_REVTYPE_TEXT, 1000000,
                    "GET /www/time.htm?epoch=" + QByteArray::number(secs) + ' ') != TCPSKT_COMM_OK)
        return 0;
    return ReadRtc();
}

void TTCPSkt::UnitReset()
{
    SendCommand(QStringLiteral("REBOOT"), TCPSKT_REVTYPE_TEXT, 1000000, "GET /www/reboot.txt");
}
