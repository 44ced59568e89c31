#include "link/udp/UdpSkt.h"

#include "util/IniFile.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QUdpSocket>

#include <cmath>
#include <cstring>

#include "lang/LangTable.h"
#include "platform/Platform.h"

namespace {

// 1970-01-01 00:00:00 as a day count.
constexpr double kUnixEpochDays = 25569.0;
// A datagram is read into a buffer of this size; longer ones are refused anyway.
constexpr int kReceiveBuffer = 2048;
// A chain whose "more" replies bring nothing this many times in a row has stalled.
constexpr int kMaxEmptyMore = 3;

const QByteArray kHeaderEnd = QByteArrayLiteral("\r\n\r\n");

QString latin(const QByteArray& b)
{
    return QString::fromLatin1(b);
}

// The value of "<name>value</name>" trimmed of spaces; empty when absent.
QByteArray tagValue(const QByteArray& text, const char* name)
{
    const QByteArray open = '<' + QByteArray(name) + '>';
    const QByteArray close = "</" + QByteArray(name) + '>';
    const qsizetype a = text.indexOf(open);
    if (a < 0)
        return QByteArray();
    const qsizetype from = a + open.size();
    const qsizetype b = text.indexOf(close, from);
    if (b < 0)
        return QByteArray();
    return text.mid(from, b - from).trimmed();
}

// The value of name="value" at or after pos; pos moves past it.
bool attribute(const QByteArray& element, const char* name, qsizetype& pos, QByteArray& value)
{
    const QByteArray key = QByteArray(name) + "=\"";
    const qsizetype a = element.indexOf(key, pos);
    if (a < 0)
        return false;
    const qsizetype from = a + key.size();
    const qsizetype b = element.indexOf('"', from);
    if (b < 0)
        return false;
    value = element.mid(from, b - from);
    pos = b + 1;
    return true;
}

// A name from a listing stays one entry of the folder listed.
bool acceptableEntryName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('/')))
        return false;
    QString core = name;
    if (core.endsWith(QLatin1Char('/')))
        core.chop(1);
    if (core.isEmpty() || core.contains(QLatin1Char('/')) || core.contains(QLatin1Char('\\')) ||
        core.contains(QLatin1String("..")))
        return false;
    for (QChar c : core)
        if (c.unicode() < 32)
            return false;
    return true;
}

QString secondsText(TDateTime tNow)
{
    const double secs = std::nearbyint((tNow - kUnixEpochDays) * 86400.0);
    return QString::number(qint64(secs));
}

} // namespace

TUdpSkt::TUdpSkt() = default;

TUdpSkt::~TUdpSkt()
{
    CloseComm();
}

TRemoteUnit::Traits TUdpSkt::LinkTraits() const
{
    Traits t;
    t.closedCode = 0; // this link has no "not open" result
    t.closedText = 0;
    t.saveErrorInParens = false;
    t.dumpFileName = QStringLiteral("LOGFILE_UDP.CSV");
    t.separatedListingDates = false;
    return t;
}

QString TUdpSkt::GetError(uint8_t nRe)
{
    switch (nRe) {
    case UDPSKT_COMM_END: return QStringLiteral("OK[END]");
    case UDPSKT_COMM_MORE: return QStringLiteral("OK[MORE]");
    case UDPSKT_COMM_NORESULT: return QStringLiteral("No RX result");
    case UDPSKT_COMM_WRONG_TERMINATE: return QStringLiteral("Rx error (No terminator)");
    case UDPSKT_COMM_WRONG_NOTALLSEND: return QStringLiteral("Some data missing");
    case UDPSKT_COMM_TOOLONG: return QStringLiteral("Rx data too long");
    case UDPSKT_COMM_FILE_ERROR: return QStringLiteral("Local file error");
    case UDPSKT_COMM_NG_UNKNOWN: return QStringLiteral("Unknown communication error");
    case UDPSKT_COMM_NG_WRONGTIME: return QStringLiteral("Wrong time comand");
    case UDPSKT_COMM_NG_FORMAT: return QStringLiteral("Wrong data format");
    case UDPSKT_COMM_NG_WRONGORDER: return QStringLiteral("Wrong data order");
    case UDPSKT_COMM_NG_NOTOPEN: return QStringLiteral("File did not open");
    case UDPSKT_COMM_NG_NOTCREARTE: return QStringLiteral("File create or delete error");
    case UDPSKT_COMM_NG_NOTEXECUTE: return QStringLiteral("Condition is not correct");
    default: return QStringLiteral("Unknown (") + QString::number(nRe) + QLatin1Char(')');
    }
}

QString TUdpSkt::CheckAddress(const QString& sAddress)
{
    const QStringList parts = sAddress.trimmed().split(QLatin1Char('.'));
    if (parts.size() < 4)
        return QString();
    QStringList out;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok);
        // Only the first part must not be 0: 10.0.x.x and 127.0.0.1 are real addresses.
        if (!ok || v < 0 || v > 255 || (i == 0 && v == 0))
            return QString();
        out << QString::number(v);
    }
    const QString joined = out.join(QLatin1Char('.'));
    // A command is for one dock, never for everyone.
    return joined == QLatin1String("255.255.255.255") ? QString() : joined;
}

quint16 TUdpSkt::LocalPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

// ---- link ----

bool TUdpSkt::OpenComm(const QString& sOpenStr)
{
    CloseComm();
    const QString host = CheckAddress(sOpenStr);
    if (host.isEmpty()) {
        FErrStr = LangText(621) + QStringLiteral(" ... ") + sOpenStr;
        return false;
    }
    m_socket = std::make_unique<QUdpSocket>();
    const quint16 local = quint16(RemotePort + 1);
    if (RemotePort == 65535 || !m_socket->bind(QHostAddress::AnyIPv4, local)) {
        FErrStr = LangText(621) + QStringLiteral(" ... ") + sOpenStr + QStringLiteral(" (") +
                  LangText(1050, "local port %1: %2").arg(QString::number(local), m_socket->errorString()) +
                  QLatin1Char(')');
        Inform(FErrStr);
        m_socket.reset();
        return false;
    }
    QObject::connect(m_socket.get(), &QUdpSocket::readyRead, [this] { onReadyRead(); });
    m_remote = QHostAddress(host);
    m_open = true;
    FResetReq = 0;
    FIgnored = 0;
    m_resync = false;
    BeginLinkSession();
    Inform(LangText(1029, "Ethernet IP allocated ... %1").arg(host));
    return true;
}

void TUdpSkt::CloseComm()
{
    if (m_wait)
        m_wait->quit();
    if (m_socket) {
        m_socket->disconnect();
        m_socket->close();
        m_socket.reset();
    }
    m_remote.clear();
    m_open = false;
}

// ---- exchange ----

void TUdpSkt::ResetReply(uint8_t nRevType, qint64 nSize)
{
    FRxData = RRxData{};
    if (nRevType != UDPSKT_REVTYPE_IGNORE) {
        FRevType = nRevType;
        FBinData.clear();
        FBinDataPos = 0;
        FBinDataMax = std::max<qint64>(0, nSize);
        // Room for what is expected, up to a sane amount; a download goes to its file.
        if (!m_sink)
            FBinData.reserve(qsizetype(std::min<qint64>(FBinDataMax, 1024 * 1024)));
    }
}

void TUdpSkt::sendDatagram(const QByteArray& data)
{
    if (m_socket && m_open)
        m_socket->writeDatagram(data, m_remote, RemotePort);
}

uint8_t TUdpSkt::SendCommand(const QString& sComment, uint8_t nRevType, qint64 nSize, const QByteArray& sCmd)
{
    // One command in flight: a nested one is refused before it touches the
    // exchange's reply, buffer or position.
    if (m_wait)
        return UDPSKT_COMM_NOREPLY;
    auto done = [&] {
        if (OnData)
            OnData(QLatin1Char('(') + sComment + QStringLiteral(") ") + GetError(FRxData.mResult));
        return FRxData.mResult;
    };
    if (m_open && !DockGone() && m_resync && !m_resyncing && !resynchronise()) {
        ResetReply(nRevType, nSize);
        return done();
    }
    ResetReply(nRevType, nSize);
    if (m_open && DockGone())
        return done(); // not sent: the dock has stopped answering in this operation
    // Whatever arrived since the last exchange belongs to none: it must not pass
    // for the reply to this one.
    if (m_socket)
        while (m_socket->hasPendingDatagrams()) {
            const qint64 n = m_socket->pendingDatagramSize();
            m_socket->readDatagram(nullptr, 0);
            ++FIgnored;
            Inform(LangText(1037, "Late datagram of %1 bytes ignored").arg(n));
        }
    if (OnSend) {
        const qsizetype cut = sCmd.indexOf(kHeaderEnd);
        OnSend(QLatin1Char('(') + sComment + QStringLiteral(") SEND:") +
               (cut < 0 ? latin(sCmd)
                        : latin(sCmd.left(cut)) + QStringLiteral(" + ") +
                              QString::number(sCmd.size() - cut - kHeaderEnd.size()) + QStringLiteral(" bytes")));
    }
    if (m_open) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(FReplyTimeoutMs);
        sendDatagram(sCmd);
        if (FRxData.mResult == UDPSKT_COMM_NOREPLY) {
            m_wait = &loop;
            loop.exec();
            m_wait = nullptr;
        }
        const bool timedOut = FRxData.mResult == UDPSKT_COMM_NOREPLY && m_open;
        // The answer may still come: until the dock has caught up, nothing it
        // sends is taken for a later request.
        if (timedOut)
            m_resync = true;
        NoteExchange(timedOut);
    }
    return done();
}

bool TUdpSkt::resynchronise()
{
    const int order = FExpectOrder;
    const qint64 size = FExpectSize;
    const QByteArray tag = FExpectTag;
    QFileDevice* sink = m_sink;
    FExpectOrder = -1;
    FExpectSize = -1;
    FExpectTag = QByteArrayLiteral("SN");
    m_sink = nullptr;
    m_resyncing = true;
    Inform(LangText(1038, "Waiting for the dock to answer the requests that timed out"));
    const uint8_t r = SendCommand(QStringLiteral("SYNC"), UDPSKT_REVTYPE_TEXT, 0, "GET Inform");
    m_resyncing = false;
    FExpectOrder = order;
    FExpectSize = size;
    FExpectTag = tag;
    m_sink = sink;
    if (r == UDPSKT_COMM_NOREPLY)
        return false;
    m_resync = false;
    return true;
}

void TUdpSkt::SendReset()
{
    if (OnSend)
        OnSend(QStringLiteral("(RESET) SEND:RESET"));
    sendDatagram(QByteArrayLiteral("RESET"));
    StDelay(float(FResetPauseMs) / 1000.0f);
}

void TUdpSkt::onReadyRead()
{
    if (!m_socket)
        return;
    bool dockV4 = false;
    const quint32 dock = m_remote.toIPv4Address(&dockV4);
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray buf(kReceiveBuffer, Qt::Uninitialized);
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 n = m_socket->readDatagram(buf.data(), buf.size(), &from, &fromPort);
        if (n < 0)
            continue;
        buf.truncate(n);
        bool ok = false;
        const quint32 v4 = from.toIPv4Address(&ok);
        const QString ip = ok ? QHostAddress(v4).toString() : from.toString();
        if (!ok || !dockV4 || v4 != dock || fromPort != RemotePort) {
            // Only the dock answers: anyone else's datagram is no reply, nor an error.
            ++FIgnored;
            Inform(LangText(1039, "Datagram from %1:%2 ignored: not the dock").arg(ip, QString::number(fromPort)));
            continue;
        }
        if (FRxData.mResult != UDPSKT_COMM_NOREPLY) {
            // The exchange has its answer already: a repeat must not add its data twice.
            ++FIgnored;
            Inform(LangText(1040, "Datagram from %1 after the reply ignored").arg(ip));
            continue;
        }
        if (size > UDPSKT_MAX_DATAGRAM) {
            Inform(LangText(1041, "Datagram of %1 bytes from %2 refused: a reply holds at most 2000 bytes")
                       .arg(QString::number(size), ip));
            FRxData.mResult = UDPSKT_COMM_NORESULT;
        } else {
            OnDataReceived(buf, ip);
        }
        if (FRxData.mResult != UDPSKT_COMM_NOREPLY && m_wait)
            m_wait->quit();
    }
}

bool TUdpSkt::collect(const char* data, qsizetype size)
{
    if (size <= 0)
        return true;
    if (FBinDataPos + size > FBinDataMax) {
        Inform(LangText(1042, "Reply data beyond the %1 bytes expected refused").arg(FBinDataMax));
        FRxData.mResult = UDPSKT_COMM_TOOLONG;
        return false;
    }
    if (m_sink) {
        if (m_sink->write(data, size) != size) {
            FRxData.mResult = UDPSKT_COMM_FILE_ERROR;
            return false;
        }
    } else {
        FBinData.append(data, size);
    }
    FBinDataPos += size;
    return true;
}

void TUdpSkt::OnDataReceived(const QByteArray& datagram, const QString& fromIp)
{
    const QByteArray d = datagram.left(UDPSKT_MAX_DATAGRAM);
    qsizetype headerLen = d.size();
    bool blank = false;
    if (FRevType == UDPSKT_REVTYPE_BIN) {
        const qsizetype at = d.indexOf(kHeaderEnd);
        if (at >= 0) {
            headerLen = at + kHeaderEnd.size();
            blank = true;
        }
    }
    const QByteArray header = d.left(headerLen);
    if (OnRead)
        OnRead(QStringLiteral("READ:") + latin(header));

    if (!header.startsWith("RESULT")) {
        FRxData.mResult = UDPSKT_COMM_NORESULT;
        return;
    }
    if (header.mid(7, 2) != "OK") {
        bool ok = false;
        const int code = header.mid(10, 3).trimmed().toInt(&ok);
        FRxData.mResult = ok && code >= 200 && code <= 210 ? uint8_t(code) : UDPSKT_COMM_NG_UNKNOWN;
        return;
    }
    RRxData rx;
    bool ok = false;
    bool hasSize = false;
    QByteArray v = tagValue(header, "Size");
    if (!v.isEmpty()) {
        const qint64 n = v.toLongLong(&ok);
        if (ok && n >= 0 && n <= INT32_MAX) {
            rx.mSize = int32_t(n);
            hasSize = true;
        }
    }
    v = tagValue(header, "Order");
    if (!v.isEmpty()) {
        const int n = v.toInt(&ok);
        if (ok)
            rx.mOrder = n;
    }
    v = tagValue(header, "SN");
    if (!v.isEmpty())
        rx.mSN = platform::DecodeLegacy(v.left(64));
    v = tagValue(header, "Ver");
    if (!v.isEmpty())
        rx.mSWVersion = platform::DecodeLegacy(v.left(64));
    v = tagValue(header, "Id");
    if (!v.isEmpty())
        rx.mProgramId = platform::DecodeLegacy(v.left(64));
    v = tagValue(header, "Clock");
    if (!v.isEmpty())
        rx.mDate = IsValidFatDateTime(latin(v));

    // A reply that cannot be the answer to the request in flight is passed over:
    // it answers one that timed out, and its bytes belong to another file.
    QString notOurs;
    if (FExpectOrder >= 0 && rx.mOrder != 65535 && rx.mOrder != FExpectOrder)
        notOurs = QStringLiteral("part ") + QString::number(rx.mOrder) + QStringLiteral(" instead of ") +
                  QString::number(FExpectOrder);
    else if (FExpectSize >= 0 && hasSize && rx.mSize != FExpectSize)
        notOurs = QStringLiteral("size ") + QString::number(rx.mSize) + QStringLiteral(" instead of ") +
                  QString::number(FExpectSize);
    else if (!FExpectTag.isEmpty() && tagValue(header, FExpectTag.constData()).isEmpty())
        notOurs = QStringLiteral("no ") + latin(FExpectTag);
    else if (FRevType == UDPSKT_REVTYPE_BIN && !blank)
        notOurs = QStringLiteral("no data part");
    else if (FRevType == UDPSKT_REVTYPE_TXTDATA && d.indexOf("<Data>") < 0)
        notOurs = QStringLiteral("no listing data");
    if (!notOurs.isEmpty()) {
        ++FIgnored;
        Inform(LangText(1044, "Reply from %1 passed over (%2): it answers an earlier request").arg(fromIp, notOurs));
        return;
    }
    const uint8_t pending = FRxData.mResult;
    FRxData = rx;
    FRxData.mResult = pending;

    if (FRevType == UDPSKT_REVTYPE_BIN) {
        uint8_t result = UDPSKT_COMM_WRONG_TERMINATE;
        qsizetype end = -1;
        if (d.endsWith("<MORE>")) {
            result = UDPSKT_COMM_MORE;
            end = d.size() - 6;
        } else if (d.endsWith("<END>")) {
            result = UDPSKT_COMM_END;
            end = d.size() - 5;
        }
        if (end >= 0) {
            if (end > headerLen && !collect(d.constData() + headerLen, end - headerLen))
                return;
            Progressed(FBinDataPos);
        }
        FRxData.mResult = result;
        return;
    }
    if (FRevType == UDPSKT_REVTYPE_TXTDATA) {
        const qsizetype a = d.indexOf("<Data>");
        if (a >= 0) {
            const qsizetype from = a + 6;
            const qsizetype b = d.indexOf("</Data>", from);
            if (b >= 0 && !collect(d.constData() + from, b - from))
                return;
        }
    }
    const QByteArray tail = d.right(21);
    if (tail.contains("<END>"))
        FRxData.mResult = UDPSKT_COMM_END;
    else if (tail.contains("<MORE>"))
        FRxData.mResult = UDPSKT_COMM_MORE;
    else
        FRxData.mResult = UDPSKT_COMM_WRONG_TERMINATE;
}

// ---- file primitives ----

uint8_t TUdpSkt::GetFileSize(const QString& sFile, qint64& nLength)
{
    nLength = 0;
    FExpectTag = QByteArrayLiteral("Size");
    const uint8_t r = SendCommand(QStringLiteral("Size:") + sFile, UDPSKT_REVTYPE_TEXT, 0,
                                  "GET Size " + platform::EncodeLegacy(sFile) + '@');
    FExpectTag.clear();
    if (r == UDPSKT_COMM_END)
        nLength = FRxData.mSize;
    return r;
}

void TUdpSkt::ParseListing(const QByteArray& text, const QString& sFolder, QVector<RFileList>& arrList,
                           QStringList* refused)
{
    qsizetype pos = 0;
    while (text.size() - pos > 10) {
        const qsizetype open = text.indexOf("<file>", pos);
        if (open < 0)
            break;
        const qsizetype from = open + 6;
        const qsizetype close = text.indexOf("</file>", from);
        if (close < 0)
            break;
        pos = close + 7;
        const QByteArray element = text.mid(from, close - from);
        qsizetype at = 0;
        QByteArray name, time, size;
        if (!attribute(element, "name", at, name) || !attribute(element, "time", at, time))
            continue;
        RFileList e;
        e.mName = platform::DecodeLegacy(name);
        e.mDir = e.mName.endsWith(QLatin1Char('/'));
        if (!e.mDir) {
            if (!attribute(element, "size", at, size))
                continue;
            bool ok = false;
            e.mSize = size.trimmed().toLongLong(&ok);
            if (!ok || e.mSize < 0)
                continue;
        }
        if (!acceptableEntryName(e.mName)) {
            // The folder's own entries are no file; anything else is a name refused.
            static const QStringList kSelf{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("./"),
                                           QStringLiteral("../")};
            if (refused && !kSelf.contains(e.mName))
                *refused << e.mName;
            continue;
        }
        e.mName = sFolder + e.mName;
        e.mDateStr = latin(time);
        arrList.append(e);
    }
}

uint8_t TUdpSkt::chain(const QString& sComment, uint8_t nFirstMode, qint64 nSize, const QByteArray& sRequest,
                       int nResetEvery)
{
    uint8_t mode = nFirstMode;
    uint8_t r = UDPSKT_COMM_NOREPLY;
    int empty = 0;
    // As wide as the chain needs: a folder of thousands of entries takes hundreds of parts.
    qint64 k = 0;
    do {
        const qint64 before = FBinDataPos;
        FExpectOrder = int(std::min<qint64>(k, INT32_MAX));
        r = SendCommand(sComment, mode, nSize, sRequest + "@order=" + QByteArray::number(k) + ' ');
        FExpectOrder = -1;
        mode = UDPSKT_REVTYPE_IGNORE;
        ++k;
        if (k % nResetEvery == 0)
            SendReset();
        empty = FBinDataPos == before ? empty + 1 : 0;
        if (r == UDPSKT_COMM_MORE && empty >= kMaxEmptyMore)
            r = UDPSKT_COMM_WRONG_TERMINATE;
        if (r == UDPSKT_COMM_MORE && nFirstMode == UDPSKT_REVTYPE_TXTDATA && Cancelled())
            r = UNIT_RESULT_CANCELLED; // the stop flag is looked at before every listing request
    } while (r == UDPSKT_COMM_MORE);
    return r;
}

uint8_t TUdpSkt::GetFileList(const QString& sPath, QVector<RFileList>& arrList)
{
    arrList.clear();
    const uint8_t r = chain(QStringLiteral("Load:") + sPath, UDPSKT_REVTYPE_TXTDATA, 1000000,
                            "GET List " + platform::EncodeLegacy(sPath), 30);
    if (r == UDPSKT_COMM_END) {
        QStringList refused;
        ParseListing(FBinData.left(FBinDataPos), sPath, arrList, &refused);
        for (const QString& name : refused)
            RefusedName(sPath, name);
    }
    SendReset();
    return r;
}

uint8_t TUdpSkt::LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize)
{
    const qint64 size = std::max<qint64>(0, nFileSize);
    // The bytes go straight into a temporary file beside the real one, which takes
    // the real name only once the file is complete: memory stays small whatever
    // the dock sends.
    QSaveFile out(sDest);
    if (!out.open(QIODevice::WriteOnly)) {
        QFile::remove(sDest);
        return UDPSKT_COMM_FILE_ERROR;
    }
    m_sink = &out;
    FExpectSize = nFileSize >= 0 ? nFileSize : -1;
    uint8_t r = chain(QStringLiteral("Load:") + sSource, UDPSKT_REVTYPE_BIN, size,
                      "GET File " + platform::EncodeLegacy(sSource), 20);
    FExpectSize = -1;
    m_sink = nullptr;
    SendReset();
    // A chain that ends short of the size the listing gave, or of the size its
    // replies name, has lost or repeated data.
    if (r == UDPSKT_COMM_END && (FBinDataPos != size || (FRxData.mSize > 0 && FBinDataPos != FRxData.mSize))) {
        Inform(LangText(1045, "Load:%1 got %2 bytes of %3")
                   .arg(sSource, QString::number(FBinDataPos), QString::number(size)));
        r = UDPSKT_COMM_WRONG_NOTALLSEND;
    }
    if (r != UDPSKT_COMM_END) {
        out.cancelWriting();
        // An older copy under this name would be taken for the dock's file.
        QFile::remove(sDest);
        return r;
    }
    return out.commit() ? UDPSKT_COMM_END : UDPSKT_COMM_FILE_ERROR;
}

uint8_t TUdpSkt::SaveFile(const QString& sDest, const QString& sSource)
{
    QFile in(sSource);
    if (!in.open(QIODevice::ReadOnly))
        return UDPSKT_COMM_FILE_ERROR;
    const QByteArray file = in.readAll();
    in.close();
    const qint64 n = file.size();
    const QByteArray path = platform::EncodeLegacy(sDest);
    const QString label = QStringLiteral("Save:") + sDest;
    uint8_t r = SendCommand(label, UDPSKT_REVTYPE_TEXT, 100,
                            "PUT File " + path + "@order=0 filesize=" + QByteArray::number(n) + ' ');
    int m = 1;
    qint64 p = 0;
    while (r == UDPSKT_COMM_MORE && p < n) {
        const qint64 c = std::min<qint64>(n - p, UDPSKT_UPLOAD_CHUNK);
        QByteArray datagram = "PUT File " + path + "@order=" + QByteArray::number(m) +
                              " size=" + QByteArray::number(c) + ' ' + kHeaderEnd;
        datagram += file.mid(p, c);
        p += c;
        r = SendCommand(label, UDPSKT_REVTYPE_TEXT, 100, datagram);
        ++m;
        SendReset();
        Progressed(p);
    }
    SendReset();
    if (r == UDPSKT_COMM_END && p < n)
        r = UDPSKT_COMM_WRONG_NOTALLSEND;
    return r;
}

void TUdpSkt::deletionDone()
{
    if (++FResetReq > 20) {
        SendReset();
        FResetReq = 0;
    }
}

uint8_t TUdpSkt::DeleteFile(const QString& sName)
{
    const uint8_t r = SendCommand(QStringLiteral("DELETE File"), UDPSKT_REVTYPE_TEXT, 100,
                                  "DEL File " + platform::EncodeLegacy(sName) + '@');
    deletionDone();
    return r;
}

uint8_t TUdpSkt::DeleteDirectory(const QString& sPath)
{
    const uint8_t r = SendCommand(QStringLiteral("DELETE Folder"), UDPSKT_REVTYPE_TEXT, 100,
                                  "DEL Folder " + platform::EncodeLegacy(sPath) + '@');
    deletionDone();
    return r;
}

// ---- unit interface ----

uint8_t TUdpSkt::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    const uint8_t r = SendCommand(QStringLiteral("DEVICE INFO"), UDPSKT_REVTYPE_TEXT, 0, "GET Inform");
    if (r == UDPSKT_COMM_END) {
        sSN = FRxData.mSN;
        sVer = FRxData.mSWVersion;
    }
    return r;
}

TDateTime TUdpSkt::ReadRtc()
{
    if (SendCommand(QStringLiteral("GET RTC"), UDPSKT_REVTYPE_TEXT, 0, "GET Inform") != UDPSKT_COMM_END)
        return 0;
    return FRxData.mDate;
}

TDateTime TUdpSkt::SetRtc(TDateTime tNow)
{
    if (SendCommand(QStringLiteral("SET RTC"), UDPSKT_REVTYPE_TEXT, 100,
                    "SET Time " + secondsText(tNow).toLatin1() + '@') != UDPSKT_COMM_END)
        return 0;
    return FRxData.mDate;
}

void TUdpSkt::UnitReset()
{
    SendCommand(QStringLiteral("REBOOT"), UDPSKT_REVTYPE_TEXT, 100, "REBOOT ");
}

void TUdpSkt::DeviceReset()
{
    SendReset();
}

void TUdpSkt::SendExtCommand(uint8_t nCom)
{
    SendCommand(QStringLiteral("EXT COM"), UDPSKT_REVTYPE_TEXT, 100, "TEST " + QByteArray::number(nCom) + '@');
}

bool TUdpSkt::GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay)
{
    if (SendCommand(QStringLiteral("TASK"), UDPSKT_REVTYPE_BIN, 200, "TEST Status") != UDPSKT_COMM_END)
        return false;
    // A short record leaves the missing fields zero.
    const QByteArray d = FBinData.left(FBinDataPos).leftJustified(61, '\0');
    std::memcpy(&mTask, d.constData(), sizeof(RTask));
    nUsb = uint8_t(d[12]);
    std::memcpy(&mBay, d.constData() + 13, sizeof(RBayTaskArr));
    return true;
}

bool TUdpSkt::GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD)
{
    const uint8_t r = SendCommand(QStringLiteral("TASK"), UDPSKT_REVTYPE_BIN, 300, "TEST Result");
    bool ok = false;
    if (r == UDPSKT_COMM_END) {
        const QByteArray d = FBinData.left(FBinDataPos).leftJustified(220, '\0');
        std::memcpy(&mBay, d.constData(), sizeof(RBayResArr));
        std::memcpy(&mGD, d.constData() + sizeof(RBayResArr), sizeof(RGDInfoArr));
        ok = true;
    }
    SendReset();
    return ok;
}

bool TUdpSkt::GetTaskLog(uint8_t, uint8_t, RLogInfo&)
{
    return false;
}
