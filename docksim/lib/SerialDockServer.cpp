#include "SerialDockServer.h"

#include "DockFiles.h"
#include "platform/Platform.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace docksim {

namespace {

// Command codes as the dock firmware numbers them.
enum : quint8 {
    kCmdSimEvent = 0x11,
    kCmdSimBump = 0x12,
    kCmdSimCal = 0x13,
    kCmdOperation = 0x21,
    kCmdTaskStatus = 0x22,
    kCmdTaskResult = 0x23,
    kCmdTaskLog = 0x24,
    kCmdFileSize = 0x91,
    kCmdFileList = 0x92,
    kCmdLoadFile = 0x93,
    kCmdDeleteFile = 0x94,
    kCmdPutFile = 0x95,
    kCmdDeleteFolder = 0x96,
    kCmdReadInfo = 0xA0,
    kCmdReadSn = 0xA1,
    kCmdWriteSn = 0xA2,
    kCmdSetRtc = 0xA3,
    kCmdGetRtc = 0xA4,
    kCmdSetDuty = 0xA6,
    kCmdGetDuty = 0xA7,
    kCmdReboot = 0xF0,
};

// Upload status in the reply to an upload frame.
constexpr quint8 kPutContinue = 0;
constexpr quint8 kPutComplete = 1;
constexpr quint8 kPutError = 2;

constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024; // larger files are not served or taken
constexpr int kUsbPacket = 64;                        // the bridge hands bytes over in packets
constexpr qint64 kLateReplyNs = 1500LL * 1000 * 1000;
constexpr qint64 kStaleInputMs = 500;                 // a partial request older than this is dropped

const QByteArray kMore = QByteArrayLiteral("{MORE}");
const QByteArray kEnd = QByteArrayLiteral("{END}");
const QByteArray kNotOpen = QByteArrayLiteral("{NOTOPEN}");

QByteArray frameOf(quint8 ack, quint8 command, const QByteArray& data)
{
    QByteArray f;
    f.reserve(data.size() + 7);
    const int len = int(data.size()) + 3;
    f.append(char(kStx)).append(char(len & 0xFF)).append(char((len >> 8) & 0xFF));
    f.append(char(ack)).append(char(command)).append(data);
    quint8 x = ack ^ command;
    for (char c : data)
        x ^= quint8(c);
    f.append(char(x)).append(char(kEtx));
    return f;
}

QByteArray ack(quint8 command, const QByteArray& data = {}) { return frameOf(kAck, command, data); }
QByteArray nak(quint8 command) { return frameOf(kNak, command, {}); }

QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QString pathText(const QByteArray& bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return platform::DecodeLegacy(nul < 0 ? bytes : bytes.left(nul));
}

QByteArray marker(int blockByte) { return '{' + QByteArray::number(blockByte) + '}'; }

QString dateText(const QDateTime& t) { return t.toString(QStringLiteral("yyyyMMddHHmmss")); }

quint16 be16(const QByteArray& b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

} // namespace

std::optional<SerialFaultKind> SerialFaultFromName(const QString& name)
{
    static const struct {
        const char* name;
        SerialFaultKind kind;
    } kNames[] = {
        {"silent", SerialFaultKind::Silent},       {"stop-after-bytes", SerialFaultKind::StopAfterBytes},
        {"garbage", SerialFaultKind::Garbage},     {"late-reply", SerialFaultKind::LateReply},
        {"truncate", SerialFaultKind::Truncate},   {"bad-crc", SerialFaultKind::BadCrc},
        {"bad-etx", SerialFaultKind::BadEtx},      {"bad-length", SerialFaultKind::BadLength},
        {"too-long", SerialFaultKind::TooLong},    {"nak", SerialFaultKind::Nak},
        {"wrong-command", SerialFaultKind::WrongCommand}, {"split", SerialFaultKind::Split},
        {"no-end-marker", SerialFaultKind::NoEndMarker},  {"no-status-5", SerialFaultKind::NoStatus5},
        {"busy", SerialFaultKind::Busy},
    };
    for (const auto& n : kNames) {
        if (name.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return n.kind;
    }
    return std::nullopt;
}

QStringList SerialFaultNames()
{
    return {QStringLiteral("silent"), QStringLiteral("stop-after-bytes N"), QStringLiteral("garbage"),
            QStringLiteral("late-reply"), QStringLiteral("truncate"), QStringLiteral("bad-crc"),
            QStringLiteral("bad-etx"), QStringLiteral("bad-length"), QStringLiteral("too-long"),
            QStringLiteral("nak"), QStringLiteral("wrong-command"), QStringLiteral("split"),
            QStringLiteral("no-end-marker"), QStringLiteral("no-status-5"), QStringLiteral("busy")};
}

SerialDockServer::SerialDockServer(const QString& treeRoot, const SerialServerOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_tree(treeRoot)
{
    m_options.downloadBlockSize = std::clamp(m_options.downloadBlockSize, 1, 925);
    m_options.baud = std::max(m_options.baud, 300);
    m_clock.start();
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &SerialDockServer::sendDue);

    if (const auto inform = m_tree.readFile(QStringLiteral("/CONFIG/DOCKINFORM.CFG"), 65536))
        m_state.loadIdentityText(*inform);
    if (!m_options.versionText.isEmpty())
        m_state.setIdentity(m_state.serial(), m_options.versionText, m_state.model());
    for (const SerialFault& f : m_options.faults) {
        if (f.kind == SerialFaultKind::NoStatus5)
            m_state.neverReportPcCommand = true;
        if (f.kind == SerialFaultKind::Busy)
            m_state.neverIdle = true;
    }
}

SerialDockServer::~SerialDockServer() { stop(); }

bool SerialDockServer::start(int fd, QString* error)
{
    stop();
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("no terminal to serve on");
        return false;
    }
    m_fd = fd;
    m_readNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SerialDockServer::onReadable);
    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SerialDockServer::onWritable);
    return true;
}

void SerialDockServer::stop()
{
    m_sendTimer.stop();
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = m_writeNotifier = nullptr;
    m_fd = -1;
    m_schedule.clear();
    m_pending.clear();
    m_in.clear();
}

void SerialDockServer::onReadable()
{
    char buf[4096];
    const qint64 nowMs = m_clock.elapsed();
    if (!m_in.isEmpty() && nowMs - m_lastInputMs > kStaleInputMs)
        m_in.clear(); // the PC gave up on that request long ago
    for (;;) {
        bool ended = false;
        const qint64 n = platform::ReadDescriptor(m_fd, buf, sizeof buf, &ended);
        if (n > 0) {
            m_in.append(buf, n);
            m_lastInputMs = nowMs;
            continue;
        }
        if (n < 0 || ended) {
            // Nobody on the other side: look again later instead of spinning.
            m_readNotifier->setEnabled(false);
            QTimer::singleShot(100, this, [this] {
                if (m_readNotifier)
                    m_readNotifier->setEnabled(true);
            });
        }
        break;
    }
    parseInput();
}

void SerialDockServer::parseInput()
{
    for (;;) {
        qsizetype s = 0;
        while (s < m_in.size() && quint8(m_in[s]) != kStx && quint8(m_in[s]) != kStxContinue)
            ++s;
        m_in.remove(0, s);
        if (m_in.size() < 3)
            return;
        const int len = quint8(m_in[1]) | quint8(m_in[2]) << 8;
        if (len < 1 || len > kMaxRequestPayload + 1) {
            m_in.remove(0, 1); // not a start byte after all
            continue;
        }
        const int total = len + 5;
        if (m_in.size() < total)
            return;
        quint8 x = 0;
        for (int i = 3; i < 3 + len; ++i)
            x ^= quint8(m_in[i]);
        if (quint8(m_in[total - 1]) != kEtx || x != quint8(m_in[3 + len])) {
            m_in.remove(0, 1); // a damaged request gets no answer; the PC asks again
            continue;
        }
        const quint8 start = quint8(m_in[0]);
        const quint8 command = quint8(m_in[3]);
        const QByteArray payload = m_in.mid(4, len - 1);
        m_in.remove(0, total);
        handleFrame(start, command, payload, total);
    }
}

void SerialDockServer::handleFrame(quint8 start, quint8 command, const QByteArray& payload, int frameSize)
{
    ++m_requests;
    if (m_state.restarting()) {
        if (m_options.verbose)
            std::fprintf(stderr, "docksim: %02X ignored while restarting\n", command);
        return;
    }
    m_faultNow = false;
    if (m_options.faultCommand < 0 || m_options.faultCommand == command) {
        const qint64 index = m_selectedReplies++;
        m_faultNow = index >= m_options.faultSkip
                     && (m_options.faultCount < 0 || index < qint64(m_options.faultSkip) + m_options.faultCount);
    }
    const QByteArray frame = reply(start, command, payload);
    if (m_options.verbose)
        std::fprintf(stderr, "docksim: %c%02X (%d bytes) -> %d bytes%s\n", start == kStx ? ' ' : '+', command,
                     int(payload.size()), int(frame.size()), m_faultNow ? " [fault]" : "");
    if (!frame.isEmpty())
        queueReply(frame, frameSize);
    m_faultNow = false;
    emit requestServed(command);
}

bool SerialDockServer::faultActive(SerialFaultKind kind) const
{
    if (!m_faultNow)
        return false;
    for (const SerialFault& f : m_options.faults) {
        if (f.kind == kind)
            return true;
    }
    return false;
}

QByteArray SerialDockServer::reply(quint8 start, quint8 command, const QByteArray& payload)
{
    switch (command) {
    case kCmdFileSize:
        return fileSize(payload);
    case kCmdFileList:
        return listBlock(start, payload);
    case kCmdLoadFile:
        return downloadBlock(start, payload);
    case kCmdDeleteFile:
        return m_tree.removeFile(pathText(payload)) ? ack(command) : nak(command);
    case kCmdDeleteFolder:
        return m_tree.removeEmptyFolder(pathText(payload)) ? ack(command) : nak(command);
    case kCmdPutFile:
        return start == kStx ? uploadAnnounce(payload) : uploadBlock(payload);
    case kCmdReadInfo: {
        QByteArray d = m_state.serial().toLatin1();
        d.append('\0').append(m_state.version().toLatin1()).append('\0').append(m_state.model().toLatin1()).append('\0');
        return ack(command, d);
    }
    case kCmdReadSn:
        return ack(command, m_state.serial().toLatin1().left(10).append('\0'));
    case kCmdWriteSn: {
        if (payload.size() != 11)
            return nak(command);
        const qsizetype nul = payload.indexOf('\0');
        m_state.setSerial(QString::fromLatin1(nul < 0 ? payload : payload.left(nul)));
        return ack(command);
    }
    case kCmdSetRtc:
        if (payload.size() != 4)
            return nak(command);
        m_state.setClockSeconds(qFromLittleEndian<quint32>(payload.constData()));
        return ack(command, u32(m_state.clockSeconds()) + QByteArray(8, '\0'));
    case kCmdGetRtc:
        return ack(command, u32(m_state.clockSeconds()) + QByteArray(8, '\0'));
    case kCmdSetDuty:
        if (payload.size() != 2)
            return nak(command);
        m_state.duty1 = quint8(payload[0]);
        m_state.duty2 = quint8(payload[1]);
        return ack(command);
    case kCmdGetDuty:
        return ack(command, QByteArray(1, char(m_state.duty1)) + char(m_state.duty2));
    case kCmdReboot: {
        const QByteArray f = ack(command);
        m_state.reboot();
        m_listing = {};
        m_download = {};
        m_upload = {};
        return f;
    }
    case kCmdOperation:
        if (payload.size() != 1)
            return nak(command);
        m_state.startOperation(quint8(payload[0]));
        return ack(command);
    case kCmdTaskStatus:
        return ack(command, m_state.taskStatusRecord());
    case kCmdTaskResult:
        return ack(command, m_state.taskResultRecord());
    case kCmdTaskLog:
        if (payload.size() != 2)
            return nak(command);
        return ack(command, m_state.taskLogRecord(quint8(payload[0]), quint8(payload[1])));
    case kCmdSimEvent:
    case kCmdSimBump:
    case kCmdSimCal:
        return simulation(command, payload);
    default:
        return nak(command);
    }
}

QByteArray SerialDockServer::fileSize(const QByteArray& payload)
{
    // A missing file reads as size 0, which the PC takes for "not there".
    const auto size = m_tree.fileSize(pathText(payload));
    return ack(kCmdFileSize, u32(quint32(size ? std::min<qint64>(*size, 0xFFFFFFFFLL) : 0)));
}

QByteArray SerialDockServer::serveBlock(Blocks& seq, quint8 start, quint8 blockByte, const QString& path, bool listing)
{
    const quint8 command = listing ? kCmdFileList : kCmdLoadFile;
    const QByteArray notOpen = marker(blockByte) + kNotOpen;
    int index = 0;
    if (start == kStx) {
        // A new sequence: take the folder or file as it is now.
        seq = {};
        seq.path = path.toUpper();
        if (listing) {
            const auto entries = m_tree.list(path);
            if (!entries)
                return ack(command, notOpen);
            const int room = kMaxReplyData - 5 - int(kMore.size());
            QByteArray body;
            int inBlock = 0;
            for (const TreeEntry& e : *entries) {
                QByteArray text = platform::EncodeLegacy(e.name);
                if (e.dir)
                    text += '/';
                text += '<' + dateText(e.modified).toLatin1() + '>';
                if (!e.dir)
                    text += '[' + QByteArray::number(e.size) + ']';
                if (text.size() > room)
                    continue; // a name no block can carry
                const bool full = body.size() + text.size() > room
                                  || (m_options.listBlockEntries > 0 && inBlock >= m_options.listBlockEntries);
                if (full) {
                    seq.bodies << body;
                    body.clear();
                    inBlock = 0;
                }
                body += text;
                ++inBlock;
            }
            seq.bodies << body;
        } else {
            const auto data = m_tree.readFile(path, kMaxFileBytes);
            if (!data)
                return ack(command, notOpen);
            const qint64 b = m_options.downloadBlockSize;
            const qint64 count = std::max<qint64>(1, (data->size() + b - 1) / b);
            for (qint64 i = 0; i < count; ++i) {
                QByteArray body;
                // The reader strips the size only for sizes above 1, so smaller
                // files go without it rather than gain bytes.
                if (i == 0 && m_options.sizeToken && data->size() > 1)
                    body = '[' + QByteArray::number(data->size()) + ']';
                body += data->mid(i * b, b);
                seq.bodies << body;
            }
        }
        index = blockByte == 0 ? 256 : blockByte;
    } else {
        if (seq.current == 0 || seq.path != path.toUpper())
            return ack(command, notOpen);
        if ((seq.current & 0xFF) == blockByte)
            index = seq.current; // the PC asks again: the reply was lost
        else if (((seq.current + 1) & 0xFF) == blockByte)
            index = seq.current + 1;
        else
            return ack(command, notOpen);
    }
    if (index > seq.bodies.size())
        return ack(command, listing ? marker(blockByte) + kEnd : notOpen);
    seq.current = index;
    QByteArray data = marker(blockByte) + seq.bodies[index - 1];
    if (!faultActive(SerialFaultKind::NoEndMarker))
        data += index == seq.bodies.size() ? kEnd : kMore;
    return ack(command, data);
}

QByteArray SerialDockServer::listBlock(quint8 start, const QByteArray& payload)
{
    if (payload.isEmpty())
        return nak(kCmdFileList);
    return serveBlock(m_listing, start, quint8(payload[0]), pathText(payload.mid(1)), true);
}

QByteArray SerialDockServer::downloadBlock(quint8 start, const QByteArray& payload)
{
    if (payload.isEmpty())
        return nak(kCmdLoadFile);
    return serveBlock(m_download, start, quint8(payload[0]), pathText(payload.mid(1)), false);
}

QByteArray SerialDockServer::uploadAnnounce(const QByteArray& payload)
{
    m_upload = {};
    if (payload.size() < 5)
        return ack(kCmdPutFile, QByteArray(1, '\0') + char(kPutError));
    const qint64 size = qFromLittleEndian<quint32>(payload.constData());
    const QString path = pathText(payload.mid(4));
    const auto parts = DockTree::split(path);
    if (size > kMaxFileBytes || !parts || parts->isEmpty())
        return ack(kCmdPutFile, QByteArray(1, '\0') + char(kPutError));
    m_upload.open = true;
    m_upload.path = path;
    m_upload.size = size;
    m_upload.data.reserve(size);
    return ack(kCmdPutFile, QByteArray(1, '\0') + char(kPutContinue));
}

QByteArray SerialDockServer::uploadBlock(const QByteArray& payload)
{
    auto answer = [&](quint8 block, quint8 status) {
        return ack(kCmdPutFile, QByteArray(1, char(block)) + char(status));
    };
    if (payload.size() < 2)
        return answer(0, kPutError);
    const quint8 block = quint8(payload[0]);
    const int pathLen = quint8(payload[1]);
    if (payload.size() < 2 + pathLen)
        return answer(block, kPutError);
    const QString path = pathText(payload.mid(2, pathLen));
    const QByteArray chunk = payload.mid(2 + pathLen);
    Upload& u = m_upload;
    if (!u.open || path.compare(u.path, Qt::CaseInsensitive) != 0) {
        // Same block as the one just finished: the PC did not get our answer.
        if (!u.open && u.lastBlock == block && path.compare(u.path, Qt::CaseInsensitive) == 0)
            return answer(block, u.lastStatus);
        return answer(block, kPutError);
    }
    if (block == u.lastBlock)
        return answer(block, u.lastStatus);
    // The upload is over; only the path and the last answer stay for a retry.
    auto close = [&](quint8 status) {
        const QString p = u.path;
        u = Upload{};
        u.path = p;
        u.lastBlock = block;
        u.lastStatus = status;
    };
    if (block != u.expected || u.data.size() + chunk.size() > u.size) {
        close(kPutError);
        return answer(block, kPutError);
    }
    u.data += chunk;
    u.expected = (block + 1) & 0xFF;
    u.lastBlock = block;
    u.lastStatus = kPutContinue;
    if (u.data.size() == u.size) {
        QString error;
        const bool ok = m_tree.writeFile(u.path, u.data, &error);
        if (!ok && m_options.verbose)
            std::fprintf(stderr, "docksim: upload of %s failed: %s\n", qPrintable(u.path), qPrintable(error));
        close(ok ? kPutComplete : kPutError);
    }
    return answer(block, u.lastStatus);
}

QByteArray SerialDockServer::simulation(quint8 command, const QByteArray& payload)
{
    // Serial number (zero-padded to at least 12 bytes), then the fixed fields.
    const int tail = command == kCmdSimEvent ? 6 : 11;
    if (payload.size() < 12 + tail)
        return nak(command);
    const QByteArray snBytes = payload.left(payload.size() - tail);
    const qsizetype nul = snBytes.indexOf('\0');
    const QString serial = QString::fromLatin1(nul < 0 ? snBytes : snBytes.left(nul)).trimmed();
    const QByteArray f = payload.right(tail);
    const int sensor = quint8(f[0]);
    const bool nameOk = !serial.isEmpty() && std::all_of(serial.begin(), serial.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == QLatin1Char('-');
    });
    if (!nameOk || sensor < 1 || sensor > 4)
        return nak(command);
    const int gas = sensor - 1;
    const QDateTime now = m_state.clockDateTime();
    auto freeName = [&](const QString& dir, const QString& kind, const QString& ext) {
        QDateTime when = now;
        for (;;) {
            const QString p = dir + serial + QLatin1Char('_') + kind + QLatin1Char('_')
                              + when.toString(QStringLiteral("yyMMddHHmm")) + ext;
            if (m_tree.resolve(p).isEmpty())
                return p;
            when = when.addSecs(60);
        }
    };
    bool ok = false;
    if (command == kCmdSimEvent) {
        EventRecord e;
        e.when = now;
        e.alarm = quint8(f[1]) == 0 ? QStringLiteral("LOW") : QStringLiteral("HIGH");
        e.reading = qint16(be16(f, 2)) / 10.0;
        e.duration = be16(f, 4);
        // The event goes into the instrument's newest event file of that gas, as the
        // instrument's own log grows; only an instrument without one gets a new file.
        const QString existing = newestEventFile(serial, gas);
        std::optional<QByteArray> content;
        if (!existing.isEmpty())
            content = m_tree.readFile(existing, kMaxFileBytes);
        if (content) {
            QByteArray text = *content;
            if (!text.isEmpty() && !text.endsWith('\n'))
                text += "\r\n";
            // The data line as the file's own generator writes it: the last line of a one-event file.
            const QList<QByteArray> lines = EventCsv(serial, gas, now, {e}, false).split('\n');
            text += lines.value(4).trimmed() + "\r\n";
            ok = m_tree.writeFile(existing, text);
        } else {
            // One event sent, one line written: no instrument echoes in an injected record.
            ok = m_tree.writeFile(freeName(QStringLiteral("/LOG/EVENT/"), QStringLiteral("EVENT"), QStringLiteral(".CSV")),
                                  EventCsv(serial, gas, now, {e}, false));
        }
    } else {
        TestResult t;
        t.calibration = command == kCmdSimCal;
        t.dockSerial = m_state.serial();
        t.serial = serial;
        t.gas = gas;
        t.location = QStringLiteral("Simulation");
        t.when = now;
        // The values sent are what the record holds; the dock's bottle and bump limit
        // decide whether they pass.
        const DockLimits limits = dockLimits(gas);
        t.concentration = limits.concentration;
        t.bumpPassLimit = limits.bumpPassLimit;
        TestReadings r;
        r.zeroPre = qint16(be16(f, 1)) / 10.0;
        r.zero = qint16(be16(f, 3)) / 10.0;
        r.zeroTime = quint8(f[5]);
        r.spanPre = qint16(be16(f, 6)) / 10.0;
        r.span = qint16(be16(f, 8)) / 10.0;
        r.spanTime = quint8(f[10]);
        t.readings = r;
        t.pass = JudgeReadings(t);
        t.variant = 0; // the plain form: an injected record is for trying the chain
        QRandomGenerator rng(quint32(now.toSecsSinceEpoch()));
        ok = m_tree.writeFile(freeName(QStringLiteral("/LOG/TEST/"), t.calibration ? QStringLiteral("CAL") : QStringLiteral("BUMP"),
                                       QStringLiteral(".XML")),
                              TestResultXml(t, rng));
    }
    return ok ? ack(command) : nak(command);
}

SerialDockServer::DockLimits SerialDockServer::dockLimits(int gas) const
{
    DockLimits l;
    // Defaults when the dock's settings name none: the fixture's bottle values.
    static const double kDefault[4] = {25.0, 100.0, 18.0, 10.0};
    l.concentration = kDefault[std::clamp(gas, 0, 3)];
    const auto cfg = m_tree.readFile(QStringLiteral("/CONFIG/DOCK.CFG"), 65536);
    if (!cfg)
        return l;
    const QString key = QString::fromLatin1(Gas(gas).name) + QStringLiteral(" Gas Concentration=");
    bool haveConc = false, haveLimit = false;
    for (const QString& raw : platform::DecodeLegacy(*cfg).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        bool ok = false;
        if (!haveConc && line.startsWith(key, Qt::CaseInsensitive)) {
            const double v = line.mid(key.size()).trimmed().toDouble(&ok);
            if (ok && v > 0) {
                l.concentration = v;
                haveConc = true;
            }
        } else if (!haveLimit && line.startsWith(QLatin1String("Bump Pass Limit="), Qt::CaseInsensitive)) {
            const int v = line.mid(16).trimmed().toInt(&ok);
            if (ok && v > 0 && v <= 100) {
                l.bumpPassLimit = v;
                haveLimit = true;
            }
        }
    }
    return l;
}

QString SerialDockServer::newestEventFile(const QString& serial, int gas) const
{
    const QString prefix = (serial + QStringLiteral("_EVENT_")).toUpper();
    const QByteArray gasLine = QByteArray(" ") + Gas(gas).name + " ";
    QString best, bestName;
    QStringList folders{QStringLiteral("/LOG/EVENT/")};
    for (int n = 0; n < folders.size() && n < 1000; ++n) {
        const auto entries = m_tree.list(folders[n]);
        if (!entries)
            continue;
        for (const TreeEntry& e : *entries) {
            if (e.name.startsWith(QLatin1Char('.')))
                continue;
            if (e.dir) {
                folders << folders[n] + e.name + QLatin1Char('/');
                continue;
            }
            const QString upper = e.name.toUpper();
            if (!upper.startsWith(prefix) || !upper.endsWith(QStringLiteral(".CSV")) || upper <= bestName)
                continue;
            const auto head = m_tree.readFile(folders[n] + e.name, 256);
            if (!head || !head->left(head->indexOf('\n')).contains(gasLine))
                continue; // another sensor's log
            best = folders[n] + e.name;
            bestName = upper;
        }
    }
    return best;
}

void SerialDockServer::queueReply(QByteArray frame, int requestBytes)
{
    if (faultActive(SerialFaultKind::Silent))
        return;
    auto fixChecksum = [](QByteArray& f) {
        quint8 x = 0;
        for (qsizetype i = 3; i < f.size() - 2; ++i)
            x ^= quint8(f[i]);
        f[f.size() - 2] = char(x);
    };
    if (faultActive(SerialFaultKind::TooLong)) {
        QByteArray data = frame.mid(5, frame.size() - 7);
        data.append(QByteArray(std::max<qsizetype>(0, 956 - data.size()), '\0'));
        frame = frameOf(quint8(frame[3]), quint8(frame[4]), data);
    }
    if (faultActive(SerialFaultKind::Nak)) {
        frame[3] = char(kNak);
        fixChecksum(frame);
    }
    if (faultActive(SerialFaultKind::WrongCommand)) {
        frame[4] = char(quint8(frame[4]) ^ 0x01);
        fixChecksum(frame);
    }
    if (faultActive(SerialFaultKind::BadCrc))
        frame[frame.size() - 2] = char(quint8(frame[frame.size() - 2]) ^ 0x5A);
    if (faultActive(SerialFaultKind::BadEtx))
        frame[frame.size() - 1] = char(0x04);
    if (faultActive(SerialFaultKind::BadLength)) {
        const int len = (quint8(frame[1]) | quint8(frame[2]) << 8) + 5;
        frame[1] = char(len & 0xFF);
        frame[2] = char((len >> 8) & 0xFF);
    }
    if (faultActive(SerialFaultKind::Truncate))
        frame.truncate(frame.size() / 2);
    if (faultActive(SerialFaultKind::Garbage)) {
        QByteArray noise(17, '\0');
        for (char& c : noise) {
            c = char(QRandomGenerator::global()->bounded(256));
            if (quint8(c) == kStx)
                c = char(0x55);
        }
        frame.prepend(noise);
    }

    const qint64 now = m_clock.nsecsElapsed();
    const qint64 byteNs = 10LL * 1000000000LL / m_options.baud; // start, 8 data, stop bit
    qint64 base = now;
    if (m_options.lineRate)
        base = std::max(now + requestBytes * byteNs, m_lineFreeNs);
    if (faultActive(SerialFaultKind::LateReply))
        base += kLateReplyNs;

    if (m_options.lineRate) {
        qint64 sent = 0;
        for (qsizetype at = 0; at < frame.size(); at += kUsbPacket) {
            const QByteArray piece = frame.mid(at, kUsbPacket);
            sent += piece.size();
            m_schedule.append({base + sent * byteNs, piece});
        }
        m_lineFreeNs = base + frame.size() * byteNs;
    } else if (faultActive(SerialFaultKind::Split)) {
        static const int kSizes[] = {1, 3, 7, 2, 5};
        qsizetype at = 0;
        for (int k = 0; at < frame.size(); ++k) {
            const int n = kSizes[k % 5];
            m_schedule.append({base + k * 2000000LL, frame.mid(at, n)});
            at += n;
        }
    } else {
        m_schedule.append({base, frame});
    }
    sendDue();
}

void SerialDockServer::sendDue()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_schedule.isEmpty() && m_schedule.first().dueNs <= now)
        m_pending += m_schedule.takeFirst().bytes;
    flush();
    if (!m_schedule.isEmpty()) {
        const qint64 waitNs = m_schedule.first().dueNs - now;
        m_sendTimer.start(int((waitNs + 999999) / 1000000));
    }
}

void SerialDockServer::flush()
{
    for (const SerialFault& f : m_options.faults) {
        if (f.kind == SerialFaultKind::StopAfterBytes)
            m_pending.truncate(std::max<qint64>(0, f.arg - m_bytesSent)); // the dock falls silent
    }
    while (!m_pending.isEmpty() && m_fd >= 0) {
        const qint64 n = platform::WriteDescriptor(m_fd, m_pending.constData(), m_pending.size());
        if (n <= 0) {
            if (n < 0)
                m_pending.clear(); // nobody to hear it
            break;
        }
        m_bytesSent += n;
        m_pending.remove(0, n);
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void SerialDockServer::onWritable()
{
    flush();
}

} // namespace docksim
