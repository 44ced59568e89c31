#include "link/serial/DockComm.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>

#include <cmath>
#include <cstring>

#include "lang/LangTable.h"
#include "platform/Platform.h"

namespace {

// 1970-01-01 00:00:00 as a day count.
constexpr double kUnixEpochDays = 25569.0;

QByteArray pathBytes(const QString& s)
{
    return platform::EncodeLegacy(s);
}

QByteArray marker(uint8_t n)
{
    return '{' + QByteArray::number(n) + '}';
}

} // namespace

TDockComm::TDockComm() : RSCom(std::make_unique<TComm>()) {}

TDockComm::~TDockComm()
{
    CloseComm();
}

TRemoteUnit::Traits TDockComm::LinkTraits() const
{
    Traits t;
    t.closedCode = DOCKCOMM_COMM_CLOSE;
    t.closedText = 612;
    t.saveErrorInParens = false;
    t.dumpFileName = QStringLiteral("LOGFILE_COMM.CSV");
    t.separatedListingDates = false;
    return t;
}

QString TDockComm::GetError(uint8_t nRe)
{
    switch (nRe) {
    case DOCKCOMM_COMM_OK: return QStringLiteral("OK");
    case DOCKCOMM_COMM_TOOLONG: return QStringLiteral("Return data too big length");
    case DOCKCOMM_COMM_ETX: return QStringLiteral("No ETX");
    case DOCKCOMM_COMM_NAK: return QStringLiteral("No ACK");
    case DOCKCOMM_COMM_WRONGCOMMAND: return QStringLiteral("Wrong Command");
    case DOCKCOMM_COMM_CHECKSUM: return QStringLiteral("Wrong Checksum");
    case DOCKCOMM_COMM_FILE_ERROR: return QStringLiteral("File error");
    case DOCKCOMM_COMM_FILE_DIFFSIZE: return QStringLiteral("File size different");
    case DOCKCOMM_COMM_FILE_NOTOPEN: return QStringLiteral("File not open");
    case DOCKCOMM_COMM_NOTENDED: return QStringLiteral("Write error");
    case DOCKCOMM_COMM_TIMEOUT: return QStringLiteral("Time-out");
    case UNIT_RESULT_CANCELLED: return QStringLiteral("Cancelled");
    default: return QStringLiteral("Unknown (") + QString::number(nRe) + QLatin1Char(')');
    }
}

QString TDockComm::HexDump(const uint8_t* data, qsizetype size)
{
    QString out;
    out.reserve(size * 4);
    for (qsizetype i = 0; i < size; ++i)
        out += QString::asprintf("%3.2X ", data[i]);
    return out;
}

// ---- link ----

bool TDockComm::OpenComm(const QString& sOpenStr)
{
    CloseComm();
    BeginLinkSession();
    if (!sOpenStr.contains(QLatin1String("COM")) && !platform::IsSerialDevicePath(sOpenStr)) {
        FErrStr = LangText(611);
        return false;
    }
    RSCom->SetDeviceName(sOpenStr);
    RSCom->SetBaudData(115200);
    RSCom->SetDatabits(TDatabits::da8);
    RSCom->SetStopbits(TStopbits::sb10);
    RSCom->SetParity(TParity::paNone);
    for (int attempt = 0; attempt < 3 && !FComEnable; ++attempt) {
        try {
            RSCom->Open();
            RSCom->OnRxChar = [this](int n) { OnComRxChar(n); };
            RSCom->OnLost = [this] { portLost(); };
            m_portLost = false;
            FComEnable = true;
        } catch (const ECommError&) {
            RSCom->Close();
        }
    }
    if (FComEnable)
        Inform(LangText(1028, "USB port allocated ... %1").arg(sOpenStr));
    else
        FErrStr = LangText(612);
    return FComEnable;
}

void TDockComm::CloseComm()
{
    if (!RSCom)
        return;
    RSCom->OnRxChar = nullptr;
    RSCom->OnLost = nullptr;
    RSCom->Close();
    FComEnable = false;
    m_portLost = false;
}

void TDockComm::portLost()
{
    // Called from inside the port's own signal: only note it here, the port is
    // closed by the exchange or by the caller's CloseComm.
    m_portLost = true;
    FComEnable = false;
    if (m_wait)
        m_wait->quit();
}

// ---- exchange ----

uint8_t TDockComm::SendData(const QString& sComment, uint8_t nCom, int nLen, bool bDLC)
{
    if (m_portLost) {
        RSCom->OnRxChar = nullptr;
        RSCom->OnLost = nullptr;
        RSCom->Close();
        m_portLost = false;
        FComEnable = false;
    }
    if (!FComEnable || nLen < 0 || nLen > DOCKCOMM_MAX_PAYLOAD)
        return DOCKCOMM_COMM_CLOSE;
    if (m_wait)
        return DOCKCOMM_COMM_TIMEOUT; // one exchange at a time

    uint8_t* tx = FComm.mTXBuf;
    tx[0] = bDLC ? 0x20 : 0x02;
    tx[1] = uint8_t((nLen + 1) & 0xFF);
    tx[2] = uint8_t(((nLen + 1) >> 8) & 0xFF);
    tx[3] = nCom;
    uint8_t sum = 0;
    for (int i = 3; i <= 3 + nLen; ++i)
        sum ^= tx[i];
    tx[4 + nLen] = sum;
    tx[5 + nLen] = 0x03;
    if (OnSend)
        OnSend(QLatin1Char('(') + sComment + QStringLiteral(") ") + HexDump(tx, nLen + 6));

    // Whatever is still waiting belongs to an earlier exchange (a late reply):
    // it must never be taken for the answer to this request.
    RSCom->PurgeIn();
    ResetDecoder(nCom);
    m_heard = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(FReplyWindowMs);
    if (RSCom->Write(tx, nLen + 6) < 0 && !RSCom->Enabled())
        m_portLost = true;
    if (!m_portLost && FComm.mState == DOCKCOMM_COMM_TIMEOUT) {
        m_wait = &loop;
        loop.exec();
        m_wait = nullptr;
    }
    if (m_portLost) {
        // The cable was pulled: the link is closed and the exchange reports it.
        RSCom->OnRxChar = nullptr;
        RSCom->OnLost = nullptr;
        RSCom->Close();
        m_portLost = false;
        FComEnable = false;
        if (FComm.mState == DOCKCOMM_COMM_TIMEOUT)
            FComm.mState = DOCKCOMM_COMM_CLOSE;
    }
    if (OnData)
        OnData(QLatin1Char('(') + sComment + QStringLiteral(") ") + GetError(FComm.mState));
    return FComm.mState;
}

void TDockComm::ResetDecoder(uint8_t nCom)
{
    FComm.mRxState = 0;
    FComm.mCommand = nCom;
    FComm.mState = DOCKCOMM_COMM_TIMEOUT;
}

void TDockComm::OnComRxChar(int Count)
{
    if (Count <= 0 || !RSCom)
        return;
    QByteArray scratch(std::min(Count, RSCom->ReadBufSize()), '\0');
    const int n = RSCom->Read(scratch.data(), int(scratch.size()));
    if (n <= 0)
        return;
    m_heard = true;
    const auto* bytes = reinterpret_cast<const uint8_t*>(scratch.constData());
    if (OnRead)
        OnRead(HexDump(bytes, n));
    FeedBytes(bytes, n);
    if (FComm.mState != DOCKCOMM_COMM_TIMEOUT && m_wait)
        m_wait->quit();
    // More may have arrived than one read takes.
    if (RSCom->InQueCount() > 0)
        OnComRxChar(RSCom->InQueCount());
}

void TDockComm::FeedBytes(const uint8_t* data, qsizetype size)
{
    RComm& c = FComm;
    for (qsizetype i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        switch (c.mRxState) {
        case 0:
            if (b == 0x02) {
                c.mRXLength = 0;
                c.mReadLength = 0;
                c.mRxState = 1;
            }
            break;
        case 1:
            c.mRXLength = b;
            c.mRxState = 2;
            break;
        case 2:
            c.mRXLength |= int32_t(b) << 8;
            c.mRxState = 3;
            break;
        default:
            if (c.mReadLength < MAX_BUFFER) {
                c.mRXBuf[c.mReadLength++] = b;
                if (c.mReadLength == c.mRXLength + 1)
                    CheckData();
            }
            break;
        }
    }
}

void TDockComm::CheckData()
{
    RComm& c = FComm;
    const int n = c.mReadLength;
    if (n > DOCKCOMM_MAX_REPLY) {
        c.mState = DOCKCOMM_COMM_TOOLONG;
        return;
    }
    if (n < 1 || c.mRXBuf[n - 1] != 0x03) {
        c.mState = DOCKCOMM_COMM_ETX;
        return;
    }
    if (c.mRXBuf[0] != 0x06) {
        c.mState = DOCKCOMM_COMM_NAK;
        return;
    }
    if (n < 2 || c.mRXBuf[1] != c.mCommand) {
        c.mState = DOCKCOMM_COMM_WRONGCOMMAND;
        return;
    }
    uint8_t sum = 0;
    for (int i = 0; i <= n - 2; ++i)
        sum ^= c.mRXBuf[i];
    c.mState = sum == 0 ? DOCKCOMM_COMM_OK : DOCKCOMM_COMM_CHECKSUM;
}

QByteArray TDockComm::ReplyData() const
{
    // ACK, command, data..., checksum, ETX. Bytes that came after the frame are
    // stored too but are not part of it.
    const int m = std::min(FComm.mReadLength, FComm.mRXLength + 1) - 4;
    if (m <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(FComm.mRXBuf + 2), std::min(m, MAX_BUFFER - 2));
}

bool TDockComm::setPayload(const QByteArray& payload)
{
    if (payload.size() > DOCKCOMM_MAX_PAYLOAD)
        return false;
    if (!payload.isEmpty())
        std::memcpy(FComm.mTXBuf + 4, payload.constData(), size_t(payload.size()));
    return true;
}

uint8_t TDockComm::exchange(const QString& sComment, uint8_t nCom, const QByteArray& payload, bool bDLC)
{
    if (!FComEnable)
        return DOCKCOMM_COMM_CLOSE;
    if (!setPayload(payload))
        return DOCKCOMM_COMM_FILE_ERROR;
    return SendData(sComment, nCom, int(payload.size()), bDLC);
}

uint8_t TDockComm::blockRequest(const QString& sComment, uint8_t nCom, const QByteArray& payload, bool bDLC,
                                int nAttempts)
{
    // A dock that has gone silent in this operation is not asked again: each
    // request would only wait out its reply window.
    if (DockGone())
        return DOCKCOMM_COMM_TIMEOUT;
    uint8_t r = DOCKCOMM_COMM_TIMEOUT;
    bool heard = false;
    for (int attempt = 0; attempt < nAttempts; ++attempt) {
        r = exchange(sComment, nCom, payload, bDLC);
        heard = heard || m_heard;
        if (r == DOCKCOMM_COMM_OK || r == DOCKCOMM_COMM_CLOSE || r == DOCKCOMM_COMM_FILE_ERROR)
            break;
        if (nAttempts > 1)
            StDelay(float(FRetryPauseMs) / 1000.0f);
    }
    // A garbled answer is an answer: only a dock that said nothing at all counts.
    NoteExchange(r == DOCKCOMM_COMM_TIMEOUT && !heard);
    return r;
}

// ---- file primitives ----

uint8_t TDockComm::GetFileSize(const QString& sFile, qint64& nLength)
{
    nLength = 0;
    const uint8_t r = blockRequest(QStringLiteral("Size:") + sFile, DOCKCOMM_CMD_FILESIZE, pathBytes(sFile), false, 1);
    if (r == DOCKCOMM_COMM_OK) {
        const QByteArray d = ReplyData().leftJustified(4, '\0');
        nLength = qint64(uint8_t(d[0])) | qint64(uint8_t(d[1])) << 8 | qint64(uint8_t(d[2])) << 16 |
                  qint64(uint8_t(d[3])) << 24;
    }
    return r;
}

bool TDockComm::ParseListBlock(const QByteArray& data, uint8_t nBlock, const QString& sPath,
                               QVector<RFileList>& arrList, bool& bEnd)
{
    const QByteArray mark = marker(nBlock);
    const qsizetype at = data.indexOf(mark);
    if (at < 0)
        return false;
    const qsizetype bodyStart = at + mark.size();
    qsizetype bodyEnd = data.indexOf("{END}", bodyStart);
    const bool end = bodyEnd >= 0;
    if (!end)
        bodyEnd = data.indexOf("{MORE}", bodyStart);
    // No end marker after the block marker: the block does not parse.
    if (bodyEnd < 0)
        return false;
    bEnd = end;
    const QByteArray body = data.mid(bodyStart, bodyEnd - bodyStart);
    qsizetype pos = 0;
    while (pos < body.size()) {
        const qsizetype lt = body.indexOf('<', pos);
        if (lt < 0)
            break;
        const qsizetype gt = body.indexOf('>', lt + 1);
        if (gt < 0)
            break;
        const QString name = platform::DecodeLegacy(body.mid(pos, lt - pos));
        const QString date = platform::DecodeLegacy(body.mid(lt + 1, gt - lt - 1));
        RFileList e;
        e.mDir = name.endsWith(QLatin1Char('/'));
        e.mDateStr = date;
        pos = gt + 1;
        if (!e.mDir) {
            const qsizetype lb = body.indexOf('[', pos);
            if (lb < 0)
                break;
            const qsizetype rb = body.indexOf(']', lb + 1);
            if (rb < 0)
                break;
            bool ok = false;
            const qint64 size = body.mid(lb + 1, rb - lb - 1).trimmed().toLongLong(&ok);
            e.mSize = ok && size > 0 ? size : 0;
            pos = rb + 1;
        }
        if (name.startsWith(QLatin1Char('.')))
            continue;
        e.mName = sPath + name;
        arrList.append(e);
    }
    return true;
}

uint8_t TDockComm::GetFileList(const QString& sPath, QVector<RFileList>& arrList)
{
    arrList.clear();
    uint8_t k = 1;
    bool end = false;
    const QByteArray path = pathBytes(sPath);
    const QString label = QStringLiteral("LIST:") + sPath;
    uint8_t r = blockRequest(label, DOCKCOMM_CMD_FILELIST, char(k) + path, false);
    if (r == DOCKCOMM_COMM_OK && !ParseListBlock(ReplyData(), k, sPath, arrList, end))
        r = DOCKCOMM_COMM_FILE_ERROR;
    while (r == DOCKCOMM_COMM_OK && !end) {
        if (Cancelled()) {
            r = UNIT_RESULT_CANCELLED;
            break;
        }
        ++k; // one byte on the wire: "{0}" follows "{255}"
        r = blockRequest(label, DOCKCOMM_CMD_FILELIST, char(k) + path, true);
        if (r == DOCKCOMM_COMM_OK && !ParseListBlock(ReplyData(), k, sPath, arrList, end))
            r = DOCKCOMM_COMM_FILE_ERROR;
    }
    return r;
}

bool TDockComm::ParseLoadBlock(const QByteArray& data, uint8_t nBlock, bool bFirst,
                               RLoadBlock& block)
{
    const QByteArray mark = marker(nBlock);
    const qsizetype at = data.indexOf(mark);
    if (at < 0 || at > 18)
        return false;
    qsizetype start = at + mark.size();
    block.mSize = -1;
    if (bFirst && start < data.size() && data[start] == '[') {
        // "[N]" right after the marker: up to ten digits, whatever N is.
        qsizetype p = start + 1;
        qint64 n = 0;
        while (p < data.size() && p - start <= 10 && data[p] >= '0' && data[p] <= '9')
            n = n * 10 + (data[p++] - '0');
        if (p > start + 1 && p < data.size() && data[p] == ']') {
            block.mSize = n;
            start = p + 1;
        }
    }
    const qsizetype tail = std::max<qsizetype>(0, data.size() - 11);
    struct {
        const char* text;
        uint8_t code;
    } const ends[] = {{"{END}", 1}, {"{MORE}", 0}, {"{NOTOPEN}", 255}};
    for (const auto& e : ends) {
        const qsizetype p = data.indexOf(e.text, tail);
        if (p < 0)
            continue;
        // An end marker inside the block's header is in the wrong place.
        if (p < start)
            return false;
        block.mStart = start;
        block.mLength = p - start;
        block.mEnd = e.code;
        return true;
    }
    return false;
}

uint8_t TDockComm::LoadFile(const QString& sDest, const QString& sSource, qint64 nFileSize)
{
    const QByteArray path = pathBytes(sSource);
    const QString label = QStringLiteral("FILE:") + sSource;
    // The bytes go to a temporary file that takes the real name only once the
    // dock has said "{END}": a broken transfer never looks like a complete file.
    QDir().mkpath(QFileInfo(sDest).absolutePath());
    QSaveFile out(sDest);
    qint64 written = 0;
    uint8_t k = 1;
    RLoadBlock block;
    uint8_t r = blockRequest(label, DOCKCOMM_CMD_LOADFILE, char(k) + path, false);
    if (r == DOCKCOMM_COMM_OK && !ParseLoadBlock(ReplyData(), k, true, block))
        r = DOCKCOMM_COMM_FILE_ERROR;
    // A size other than the one just asked for means the reply is not this file's.
    if (r == DOCKCOMM_COMM_OK && block.mSize >= 0 && block.mSize != nFileSize)
        r = DOCKCOMM_COMM_FILE_DIFFSIZE;
    if (r == DOCKCOMM_COMM_OK && !out.open(QIODevice::WriteOnly))
        r = DOCKCOMM_COMM_FILE_ERROR;
    auto append = [&] {
        const QByteArray d = ReplyData();
        if (out.write(d.constData() + block.mStart, block.mLength) != block.mLength)
            return false;
        written += block.mLength;
        Progressed(written);
        return true;
    };
    if (r == DOCKCOMM_COMM_OK && !append())
        r = DOCKCOMM_COMM_FILE_ERROR;
    while (r == DOCKCOMM_COMM_OK && block.mEnd == 0) {
        // A download stops between blocks; the partial copy never takes the real name.
        if (Cancelled()) {
            r = UNIT_RESULT_CANCELLED;
            break;
        }
        ++k; // one byte on the wire: "{0}" follows "{255}"
        r = blockRequest(label, DOCKCOMM_CMD_LOADFILE, char(k) + path, true);
        if (r == DOCKCOMM_COMM_OK && !ParseLoadBlock(ReplyData(), k, false, block))
            r = DOCKCOMM_COMM_FILE_ERROR;
        if (r == DOCKCOMM_COMM_OK && !append())
            r = DOCKCOMM_COMM_FILE_ERROR;
    }
    if (r == DOCKCOMM_COMM_OK && block.mEnd != 1)
        r = DOCKCOMM_COMM_FILE_NOTOPEN;
    if (r == DOCKCOMM_COMM_OK) {
        if (!out.commit())
            r = DOCKCOMM_COMM_FILE_ERROR;
    } else {
        if (out.isOpen())
            out.cancelWriting();
        // An older copy under the same name would now be taken for this one.
        QFile::remove(sDest);
    }
    return r;
}

uint8_t TDockComm::SaveFile(const QString& sDest, const QString& sSource)
{
    if (!FComEnable)
        return DOCKCOMM_COMM_CLOSE;
    QFile in(sSource);
    if (!in.open(QIODevice::ReadOnly))
        return DOCKCOMM_COMM_FILE_ERROR;
    const QByteArray file = in.readAll();
    in.close();
    const qint64 n = file.size();
    const QByteArray path = pathBytes(sDest);
    // The data frames carry the path behind a one-byte length.
    if (path.size() > 255 || 2 + path.size() + DOCKCOMM_UPLOAD_CHUNK > DOCKCOMM_MAX_PAYLOAD)
        return DOCKCOMM_COMM_FILE_ERROR;
    const QString label = QStringLiteral("PUT:") + sDest;
    QByteArray announce(4, '\0');
    for (int i = 0; i < 4; ++i)
        announce[i] = char((quint64(n) >> (8 * i)) & 0xFF);
    uint8_t r = blockRequest(label, DOCKCOMM_CMD_PUTFILE, announce + path, false);
    uint8_t b = 2;
    qint64 p = 0;
    uint8_t s = 0;
    while (r == DOCKCOMM_COMM_OK && s == 0) {
        if (p > n) {
            s = 255;
            break;
        }
        const qint64 c = std::min<qint64>(n - p, DOCKCOMM_UPLOAD_CHUNK);
        QByteArray frame;
        frame.reserve(2 + path.size() + c);
        frame += char(b);
        frame += char(path.size());
        frame += path;
        frame += file.mid(p, c);
        r = blockRequest(label, DOCKCOMM_CMD_PUTFILE, frame, true);
        if (r == DOCKCOMM_COMM_OK) {
            const QByteArray d = ReplyData();
            s = d.size() >= 2 ? uint8_t(d[1]) : 0;
        }
        ++b; // wraps after 255
        p += DOCKCOMM_UPLOAD_CHUNK;
        Progressed(p);
    }
    if (r == DOCKCOMM_COMM_OK && s != 1)
        r = s == 255 ? DOCKCOMM_COMM_NOTENDED : DOCKCOMM_COMM_FILE_DIFFSIZE;
    return r;
}

uint8_t TDockComm::DeleteFile(const QString& sName)
{
    return blockRequest(QStringLiteral("Delet File"), DOCKCOMM_CMD_DELETEFILE, pathBytes(sName), false, 1);
}

uint8_t TDockComm::DeleteDirectory(const QString& sPath)
{
    return blockRequest(QStringLiteral("Delet Directory"), DOCKCOMM_CMD_DELETEFOLDER, pathBytes(sPath), false, 1);
}

// ---- unit interface ----

uint8_t TDockComm::GetDeviceInfo(QString& sSN, QString& sVer)
{
    sSN.clear();
    sVer.clear();
    const uint8_t r = exchange(QStringLiteral("READ INFO"), DOCKCOMM_CMD_READINFO, QByteArray());
    if (r != DOCKCOMM_COMM_OK)
        return r;
    const QByteArray d = ReplyData();
    QStringList fields;
    QString cur;
    for (qsizetype i = 0; i < d.size() && fields.size() < 3; ++i) {
        const uint8_t b = uint8_t(d[i]);
        if (b == 0 || b == 0x20) {
            fields << cur;
            cur.clear();
        } else {
            cur += QChar(char16_t(b));
        }
    }
    if (fields.size() < 3)
        fields << cur;
    sSN = fields.value(0);
    sVer = fields.value(1);
    return r;
}

TDateTime TDockComm::ReadRtc()
{
    if (exchange(QStringLiteral("READ RTC"), DOCKCOMM_CMD_GETRTC, QByteArray()) != DOCKCOMM_COMM_OK)
        return 0;
    const QByteArray d = ReplyData().leftJustified(4, '\0');
    const uint32_t secs = uint32_t(uint8_t(d[0])) | uint32_t(uint8_t(d[1])) << 8 |
                          uint32_t(uint8_t(d[2])) << 16 | uint32_t(uint8_t(d[3])) << 24;
    return kUnixEpochDays + double(secs) / 86400.0;
}

TDateTime TDockComm::SetRtc(TDateTime tNow)
{
    double secs = std::nearbyint((tNow - kUnixEpochDays) * 86400.0);
    secs = std::clamp(secs, 0.0, 4294967295.0);
    const uint32_t v = uint32_t(secs);
    QByteArray payload(4, '\0');
    for (int i = 0; i < 4; ++i)
        payload[i] = char((v >> (8 * i)) & 0xFF);
    if (exchange(QStringLiteral("WRITE RTC"), DOCKCOMM_CMD_RTC, payload) != DOCKCOMM_COMM_OK)
        return 0;
    const QByteArray d = ReplyData().leftJustified(4, '\0');
    const uint32_t back = uint32_t(uint8_t(d[0])) | uint32_t(uint8_t(d[1])) << 8 |
                          uint32_t(uint8_t(d[2])) << 16 | uint32_t(uint8_t(d[3])) << 24;
    return kUnixEpochDays + double(back) / 86400.0;
}

void TDockComm::UnitReset()
{
    exchange(QStringLiteral("REBOOT"), DOCKCOMM_CMD_REBOOT, QByteArray());
}

void TDockComm::SendExtCommand(uint8_t nCom)
{
    SendOperation(nCom);
}

uint8_t TDockComm::SendOperation(uint8_t nCom)
{
    return exchange(QStringLiteral("EXT COM"), DOCKCOMM_CMD_OP, QByteArray(1, char(nCom)));
}

bool TDockComm::GetTaskStatus(RTask& mTask, uint8_t& nUsb, RBayTaskArr& mBay)
{
    if (exchange(QStringLiteral("TASK"), DOCKCOMM_CMD_OP_STATUS, QByteArray()) != DOCKCOMM_COMM_OK)
        return false;
    // A short record is no record: its zero-filled rest would read as real values.
    const QByteArray d = ReplyData();
    if (d.size() < 61)
        return false;
    std::memcpy(&mTask, d.constData(), sizeof(RTask));
    nUsb = uint8_t(d[12]);
    std::memcpy(&mBay, d.constData() + 13, sizeof(RBayTaskArr));
    return true;
}

bool TDockComm::GetTaskResult(RBayResArr& mBay, RGDInfoArr& mGD)
{
    if (exchange(QStringLiteral("RESULT"), DOCKCOMM_CMD_OP_RESULT, QByteArray()) != DOCKCOMM_COMM_OK)
        return false;
    const QByteArray d = ReplyData();
    if (d.size() < 220)
        return false;
    std::memcpy(&mBay, d.constData(), sizeof(RBayResArr));
    std::memcpy(&mGD, d.constData() + sizeof(RBayResArr), sizeof(RGDInfoArr));
    return true;
}

bool TDockComm::GetTaskLog(uint8_t nBay, uint8_t nType, RLogInfo& mLog)
{
    QByteArray payload;
    payload += char(nBay);
    payload += char(nType);
    if (exchange(QStringLiteral("LOG"), DOCKCOMM_CMD_OP_LOG, payload) != DOCKCOMM_COMM_OK)
        return false;
    if (std::min(FComm.mReadLength, FComm.mRXLength + 1) < 255)
        return false;
    std::memcpy(&mLog, FComm.mRXBuf + 2, sizeof(RLogInfo));
    return true;
}

// ---- service ----

QString TDockComm::ReadSN()
{
    if (exchange(QStringLiteral("Read SN"), DOCKCOMM_CMD_READSN, QByteArray()) != DOCKCOMM_COMM_OK)
        return QString();
    const QByteArray d = ReplyData();
    QString sn;
    for (qsizetype i = 0; i < d.size() && i < 10 && d[i] != '\0'; ++i)
        sn += QChar(char16_t(uint8_t(d[i])));
    return sn;
}

bool TDockComm::WriteSN(const QString& sSN)
{
    QByteArray payload(11, '\0');
    for (qsizetype i = 0; i < sSN.size() && i < 11; ++i)
        payload[i] = char(sSN[i].unicode() & 0xFF);
    return exchange(QStringLiteral("WRITE SN"), DOCKCOMM_CMD_WRITESN, payload) == DOCKCOMM_COMM_OK;
}

bool TDockComm::SetPumpDuty(int nDuty1, int nDuty2)
{
    QByteArray payload;
    payload += char(nDuty1 & 0xFF);
    payload += char(nDuty2 & 0xFF);
    return exchange(QStringLiteral("SET Pump Duty"), DOCKCOMM_CMD_SETDUTY, payload) == DOCKCOMM_COMM_OK;
}

bool TDockComm::GetPumpDuty(int& nDuty1, int& nDuty2)
{
    nDuty1 = nDuty2 = 0;
    if (exchange(QStringLiteral("GET Pump Duty"), DOCKCOMM_CMD_GETDUTY, QByteArray()) != DOCKCOMM_COMM_OK)
        return false;
    const QByteArray d = ReplyData().leftJustified(2, '\0');
    nDuty1 = uint8_t(d[0]);
    nDuty2 = uint8_t(d[1]);
    return true;
}

uint8_t TDockComm::SendSimulData(uint8_t nCom, const QByteArray& sData)
{
    return exchange(QStringLiteral("SIMUL"), nCom, sData);
}
