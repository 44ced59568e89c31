#include "link/tcp/TCPSkt.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
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
    case TCPSKT_COMM_TOOSLOW: return QStringLiteral("Answer too slow");
    case TCPSKT_COMM_NOTALLSENT: return QStringLiteral("Answered before the upload was complete");
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
    BeginLinkSession();
    Inform(LangText(1029, "Ethernet IP allocated ... %1").arg(host));
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
    const QByteArray data = m_socket->readAll();
    if (data.isEmpty())
        return;
    if (!m_gotByte)
        m_sentAtAnswer = FBinDataPos; // upload bytes still to send when the answer began
    m_gotByte = true;
    rearm();
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
            const qint64 announced = ContentLength(FTxtData);
            // A body announced larger than the file listed is not that file: it is not fetched.
            if (announced >= 0 && (announced > FBinDataMax || (m_expectBody >= 0 && announced != m_expectBody) ) &&
                CheckStatus(FTxtData) == TCPSKT_COMM_OK) {
                m_overflow = true;
                Inform(LangText(1046, "Response of %1 bytes refused: %2 expected")
                           .arg(QString::number(announced), QString::number(m_expectBody)));
                dropConnection();
                return;
            }
            if (announced > 0)
                m_totalMs = std::max<qint64>(m_totalMs, FTotalBaseMs + announced * 1000 / std::max<qint64>(1, FMinBytesPerSec));
        }
        if (FBinDataPos + body.size() > FBinDataMax) {
            m_overflow = true;
            Inform(LangText(1043, "Response data beyond the %1 bytes expected refused").arg(FBinDataMax));
            dropConnection();
            return;
        }
        if (m_sink) {
            if (m_sink->write(body) != body.size()) {
                m_overflow = true;
                dropConnection();
                return;
            }
        } else {
            FBinData.append(body);
        }
        FBinDataPos += body.size();
        Progressed(FBinDataPos);
        const qint64 announced = ContentLength(FTxtData);
        if (m_wait && ((announced >= 0 && FBinDataPos >= announced) || (m_expectBody >= 0 && FBinDataPos >= m_expectBody)))
            m_wait->quit(); // complete: no need to wait for the close
        return;
    }
    if (FTxtData.size() + data.size() > kMaxTextResponse) {
        m_overflow = true;
        Inform(LangText(1047, "Response longer than 4 MiB refused"));
        dropConnection();
        return;
    }
    FTxtData += data;
    if (OnRead)
        OnRead(QStringLiteral("READ:") + latin(data));
}

void TTCPSkt::rearm()
{
    if (!m_deadline)
        return;
    const qint64 left = m_totalMs - m_clock.elapsed();
    const qint64 step = m_gotByte ? FIdleMs : FFirstByteMs;
    m_deadline->start(int(std::clamp<qint64>(std::min(left, step), 0, INT32_MAX)));
}

void TTCPSkt::awaitAnswer(qint64 nExpected, const std::function<bool()>& onTick)
{
    m_gotByte = false;
    m_tooSlow = false;
    m_sentAtAnswer = -1;
    m_totalMs = FTotalBaseMs + std::max<qint64>(0, nExpected) * 1000 / std::max<qint64>(1, FMinBytesPerSec);
    m_clock.start();
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        if (m_clock.elapsed() >= m_totalMs)
            m_tooSlow = m_gotByte;
        loop.quit();
    });
    m_deadline = &deadline;
    QTimer tick;
    if (onTick) {
        tick.setInterval(FPaceMs);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (onTick() && !m_gotByte)
                rearm(); // a piece sent: the first byte is due after the last one
        });
        tick.start();
    }
    rearm();
    if (FConnect == TCPSKT_LAN_CONNECT) {
        m_wait = &loop;
        loop.exec();
        m_wait = nullptr;
    }
    tick.stop();
    m_deadline = nullptr;
    // What the socket still holds when the dock closed.
    if (m_socket && m_socket->bytesAvailable() > 0)
        onReadyRead();
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
    if (m_overflow) {
        r = TCPSKT_COMM_TOOLONG;
    } else if (r == TCPSKT_COMM_OK) {
        // A body cut short must not pass for the whole answer, in either mode.
        const qsizetype blank = FTxtData.indexOf(kBlank);
        const qint64 announced = ContentLength(FTxtData);
        const qint64 body = FRevType == TCPSKT_REVTYPE_BIN ? FBinDataPos
                            : blank < 0                    ? -1
                                                           : FTxtData.size() - blank - kBlank.size();
        const qint64 want = announced >= 0 ? announced : m_expectBody;
        // A HEAD answer announces a length it does not send.
        if (!m_noBody && (body < 0 || (FRevType == TCPSKT_REVTYPE_BIN && !m_headerTaken) || (want >= 0 && body < want)))
            r = m_tooSlow ? TCPSKT_COMM_TOOSLOW : TCPSKT_COMM_SHORTBODY;
        else if (!m_noBody && want >= 0 && body > want)
            r = TCPSKT_COMM_TOOLONG;
    } else if (r == TCPSKT_COMM_TIMEOUT && m_tooSlow) {
        r = TCPSKT_COMM_TOOSLOW;
    }
    // Nothing at all came back: the dock is silent (a dribbling one is not).
    NoteExchange(r == TCPSKT_COMM_TIMEOUT && !m_gotByte);
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
    if (DockGone() || !OpenSocket()) {
        if (!DockGone() && !m_host.isEmpty())
            NoteExchange(true);
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
    m_noBody = sCmd.startsWith("HEAD ");
    if (OnSend)
        OnSend(QLatin1Char('(') + sComment + QStringLiteral(") SEND:") + latin(sCmd) + QStringLiteral(" HTTP/1.1"));
    m_socket->write(sCmd + " HTTP/1.1\r\n");
    awaitAnswer(nRevType == TCPSKT_REVTYPE_BIN ? nSize : 0);
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
    if (DockGone() || !OpenSocket()) {
        if (!DockGone() && !m_host.isEmpty())
            NoteExchange(true);
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
    m_noBody = false;
    qint64 sent = 0;
    auto sendPiece = [&] {
        const qint64 n = std::min<qint64>(MAX_SIZE, out.size() - sent);
        if (n <= 0 || !m_socket || m_gotByte)
            return false;
        m_socket->write(out.constData() + sent, n);
        sent += n;
        FBinDataPos = out.size() - sent;
        if (OnSend)
            OnSend(QLatin1Char('(') + sComment + QStringLiteral(") SEND: Binary data (") + QString::number(n) +
                   QLatin1Char(')'));
        Progressed(sent);
        return true;
    };
    m_gotByte = false;
    sendPiece();
    const qint64 pieces = (out.size() + MAX_SIZE - 1) / MAX_SIZE;
    awaitAnswer(out.size() + pieces * FPaceMs * std::max<qint64>(1, FMinBytesPerSec) / 1000, sendPiece);
    FBinData.clear();
    FBinDataPos = 0;
    uint8_t r = finish(sComment);
    // Done only when the dock had every byte before it answered.
    if (r == TCPSKT_COMM_OK && (sent < out.size() || m_sentAtAnswer > 0)) {
        Inform(LangText(1048, "%1: the dock answered after %2 of %3 bytes")
                   .arg(sComment, QString::number(sent), QString::number(out.size())));
        r = TCPSKT_COMM_NOTALLSENT;
    }
    return r;
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

bool TTCPSkt::DirectoryPageComplete(const QByteArray& page)
{
    const qsizetype m = page.indexOf("</td><td></td></tr>");
    return m < 0 || page.indexOf("</table>", m) >= 0;
}

void TTCPSkt::ParseDirectoryPage(const QByteArray& page, const QString& sFolder, QVector<RFileList>& arrList,
                                 QStringList* refused)
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
        QString rest = e.mName.startsWith(folder, Qt::CaseInsensitive) ? e.mName.mid(folder.size()) : QString();
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
        bool control = false;
        for (QChar c : rest)
            control = control || c.unicode() < 0x20;
        if (rest.isEmpty() || rest == QLatin1String(".") || rest.contains(QLatin1String("..")) ||
            rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('\\')) || control || rest.size() > 255) {
            const QString tail = e.mName.section(QLatin1Char('/'), -2);
            if (refused && e.mName != folder && tail != QLatin1String("../") && tail != QLatin1String("./") &&
                e.mName != QLatin1String("..") && e.mName != QLatin1String("../"))
                *refused << e.mName;
            continue;
        }
        arrList.append(e);
    }
}

uint8_t TTCPSkt::GetFileList(const QString& sPath, QVector<RFileList>& arrList)
{
    arrList.clear();
    m_expectBody = -1;
    uint8_t r = SendCommand(QStringLiteral("LIST:") + sPath, TCPSKT_REVTYPE_TEXT, 0,
                            "GET " + platform::EncodeLegacy(sPath) + '@');
    if (r == TCPSKT_COMM_OK && !DirectoryPageComplete(FTxtData)) {
        Inform(LangText(1049, "LIST:%1 ... page cut short").arg(sPath));
        r = TCPSKT_COMM_SHORTBODY;
    }
    if (r == TCPSKT_COMM_OK) {
        QStringList refused;
        ParseDirectoryPage(FTxtData, sPath, arrList, &refused);
        for (const QString& name : refused)
            RefusedName(QString(), name);
    }
    return r;
}

uint8_t TTCPSkt::LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize)
{
    const qint64 size = std::max<qint64>(0, nFileSize);
    QSaveFile out(sDest);
    if (!out.open(QIODevice::WriteOnly)) {
        QFile::remove(sDest);
        return TCPSKT_COMM_FILE_ERROR;
    }
    // The body streams into a temporary file beside the real one and takes the
    // real name only when it is exactly the size listed.
    m_sink = &out;
    m_expectBody = size;
    const uint8_t r = SendCommand(QStringLiteral("Load:") + sSource, TCPSKT_REVTYPE_BIN, size,
                                  "GET " + platform::EncodeLegacy(sSource) + '@');
    m_sink = nullptr;
    m_expectBody = -1;
    if (r != TCPSKT_COMM_OK) {
        out.cancelWriting();
        // An older copy under this name would be taken for the dock's file.
        QFile::remove(sDest);
        return r;
    }
    return out.commit() ? TCPSKT_COMM_OK : TCPSKT_COMM_FILE_ERROR;
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
