#include "NetDockServer.h"

#include "platform/Platform.h"

#include <QDateTime>
#include <QHash>
#include <memory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

namespace docksim {

namespace {

constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;
constexpr int kHttpSlowMs = 3000;

const QByteArray kBlank = QByteArrayLiteral("\r\n\r\n");

QByteArray ok(const QByteArray& tags, bool more) { return "RESULT:OK " + tags + (more ? "<MORE>" : "<END>"); }
QByteArray ng(int code) { return "RESULT:NG:" + QByteArray::number(code); }
QByteArray tag(const char* name, const QByteArray& v) { return '<' + QByteArray(name) + '>' + v + "</" + name + '>'; }

// The path of "VERB Word path@..." as the dock reads it: from after the two words to the "@".
QString pathOf(const QByteArray& request, int words)
{
    qsizetype at = 0;
    for (int i = 0; i < words; ++i) {
        at = request.indexOf(' ', at);
        if (at < 0)
            return QString();
        ++at;
    }
    const qsizetype end = request.indexOf('@', at);
    if (end < 0)
        return QString();
    return platform::DecodeLegacy(request.mid(at, end - at));
}

// "key=value" after the "@".
qint64 paramOf(const QByteArray& request, const char* key, bool* found = nullptr)
{
    const qsizetype at = request.indexOf('@');
    const QByteArray k = QByteArray(key) + '=';
    qsizetype p = request.indexOf(k, at < 0 ? 0 : at);
    if (found)
        *found = p >= 0;
    if (p < 0)
        return -1;
    p += k.size();
    qsizetype e = p;
    while (e < request.size() && request[e] >= '0' && request[e] <= '9')
        ++e;
    bool okNum = false;
    const qint64 v = request.mid(p, e - p).toLongLong(&okNum);
    return okNum ? v : -1;
}

QString fatTime(const QDateTime& t) { return t.toString(QStringLiteral("yyyyMMddHHmmss")); }
QString webTime(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QByteArray httpResponse(const QByteArray& status, const QByteArray& body, const QByteArray& type = "text/html")
{
    QByteArray r = "HTTP/1.0 " + status + "\r\nServer: dock\r\nContent-Type: " + type +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    return r + body;
}

} // namespace

std::optional<NetFaultKind> NetFaultFromName(const QString& name)
{
    static const struct {
        const char* name;
        NetFaultKind kind;
    } kNames[] = {
        {"silent", NetFaultKind::Silent},           {"no-end-marker", NetFaultKind::NoEndMarker},
        {"failure-code", NetFaultKind::FailureCode}, {"short-chain", NetFaultKind::ShortChain},
        {"drop-every", NetFaultKind::DropEvery},    {"stray", NetFaultKind::Stray},
        {"oversized", NetFaultKind::Oversized},     {"bad-listing", NetFaultKind::BadListing},
        {"http-404", NetFaultKind::Http404},        {"http-slow", NetFaultKind::HttpSlow},
        {"http-reset", NetFaultKind::HttpReset},    {"no-table-marker", NetFaultKind::NoTableMarker},
        {"delay", NetFaultKind::Delay},             {"http-dribble", NetFaultKind::HttpDribble},
        {"http-cut", NetFaultKind::HttpCut},        {"http-early-ok", NetFaultKind::HttpEarlyOk},
        {"loop-tree", NetFaultKind::LoopTree},      {"huge", NetFaultKind::Huge},
    };
    for (const auto& n : kNames)
        if (name.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return n.kind;
    return std::nullopt;
}

QStringList NetFaultNames()
{
    return {QStringLiteral("silent"),      QStringLiteral("no-end-marker"), QStringLiteral("failure-code:N"),
            QStringLiteral("short-chain"), QStringLiteral("drop-every:N"),  QStringLiteral("stray"),
            QStringLiteral("oversized"),   QStringLiteral("bad-listing"),   QStringLiteral("http-404"),
            QStringLiteral("http-slow"),   QStringLiteral("http-reset"),    QStringLiteral("no-table-marker"),
            QStringLiteral("delay:MS"),    QStringLiteral("http-dribble:MS"), QStringLiteral("http-cut"),
            QStringLiteral("http-early-ok"), QStringLiteral("loop-tree"),   QStringLiteral("huge:MIB")};
}

NetDockServer::NetDockServer(const QString& treeRoot, const NetServerOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_tree(treeRoot)
{
    m_options.chunkBytes = std::clamp(m_options.chunkBytes, 1, 1900);
    m_options.listPartBytes = std::clamp(m_options.listPartBytes, 1, 1900);
    if (const auto inform = m_tree.readFile(QStringLiteral("/CONFIG/DOCKINFORM.CFG"), 65536))
        m_state.loadIdentityText(*inform);
    if (!m_options.versionText.isEmpty())
        m_state.setIdentity(m_state.serial(), m_options.versionText, m_state.model());
}

NetDockServer::~NetDockServer() { stop(); }

bool NetDockServer::start(QString* error)
{
    auto fail = [&](const QString& m) {
        if (error)
            *error = m;
        stop();
        return false;
    };
    bool isV4 = false;
    const quint32 a = m_options.address.toIPv4Address(&isV4);
    // A simulated dock lives on the loopback network only.
    if (!isV4 || (a >> 24) != 127)
        return fail(QStringLiteral("the address must lie in 127.0.0.0/8, not %1").arg(m_options.address.toString()));
    if (m_options.udp) {
        for (int attempt = 0; attempt < 50 && !m_udp; ++attempt) {
            auto* s = new QUdpSocket(this);
            if (!s->bind(m_options.address, quint16(m_options.udpPort))) {
                delete s;
                if (m_options.udpPort != 0)
                    return fail(QStringLiteral("cannot bind UDP %1:%2").arg(m_options.address.toString()).arg(m_options.udpPort));
                continue;
            }
            const quint16 p = s->localPort();
            if (m_options.udpPort == 0) {
                // The PC listens on the dock port + 1: that one must be free as well.
                QUdpSocket probe;
                if (p == 65535 || !probe.bind(QHostAddress::AnyIPv4, quint16(p + 1))) {
                    delete s;
                    continue;
                }
            }
            m_udp = s;
            m_udpPort = p;
        }
        if (!m_udp)
            return fail(QStringLiteral("no free UDP port pair found"));
        connect(m_udp, &QUdpSocket::readyRead, this, [this] { onDatagrams(m_udp); });
        for (const char* b : {"127.0.0.255", "127.255.255.255"}) {
            const QHostAddress addr{QString::fromLatin1(b)};
            if (addr == m_options.address)
                continue;
            auto* s = new QUdpSocket(this);
            if (!s->bind(addr, m_udpPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
                delete s;
                return fail(QStringLiteral("cannot bind UDP %1:%2").arg(addr.toString()).arg(m_udpPort));
            }
            connect(s, &QUdpSocket::readyRead, this, [this, s] { onDatagrams(s); });
            m_broadcast << s;
        }
        // Strangers on the same network: another loopback host, and another
        // program on the dock's own address.
        const QHostAddress other(m_options.address == QHostAddress(QStringLiteral("127.0.0.254"))
                                     ? QStringLiteral("127.0.0.253")
                                     : QStringLiteral("127.0.0.254"));
        m_stray = new QUdpSocket(this);
        m_stray->bind(other, 0);
        m_strayPort = new QUdpSocket(this);
        m_strayPort->bind(m_options.address, 0);
        m_heldTimer = new QTimer(this);
        m_heldTimer->setSingleShot(true);
        connect(m_heldTimer, &QTimer::timeout, this, &NetDockServer::flushHeld);
    }
    if (m_options.tcp) {
        m_web = new QTcpServer(this);
        if (!m_web->listen(m_options.address, quint16(m_options.tcpPort)))
            return fail(QStringLiteral("cannot listen on TCP %1:%2: %3")
                            .arg(m_options.address.toString())
                            .arg(m_options.tcpPort)
                            .arg(m_web->errorString()));
        m_tcpPort = m_web->serverPort();
        connect(m_web, &QTcpServer::newConnection, this, &NetDockServer::onConnection);
    }
    return true;
}

void NetDockServer::stop()
{
    delete m_udp;
    m_udp = nullptr;
    qDeleteAll(m_broadcast);
    m_broadcast.clear();
    delete m_stray;
    m_stray = nullptr;
    delete m_strayPort;
    m_strayPort = nullptr;
    delete m_heldTimer;
    m_heldTimer = nullptr;
    m_held.clear();
    delete m_web;
    m_web = nullptr;
}

// ---- faults ----

bool NetDockServer::selectFault(const QByteArray& request)
{
    m_faultNow = false;
    if (m_options.faults.isEmpty())
        return false;
    if (!m_options.faultCommand.isEmpty() && !request.startsWith(m_options.faultCommand.toLatin1()))
        return false;
    const qint64 n = m_selected++;
    if (n < m_options.faultSkip)
        return false;
    if (m_options.faultCount >= 0 && n >= m_options.faultSkip + m_options.faultCount)
        return false;
    m_faultNow = true;
    return true;
}

bool NetDockServer::faultActive(NetFaultKind kind, qint64* arg) const
{
    if (!m_faultNow)
        return false;
    for (const NetFault& f : m_options.faults)
        if (f.kind == kind) {
            if (arg)
                *arg = f.arg;
            return true;
        }
    return false;
}

// ---- UDP ----

QByteArray NetDockServer::discoveryAnswer() const
{
    const QByteArray ip = m_options.address.toString().toLatin1();
    const quint32 h = qHash(m_state.serial());
    const QByteArray mac = QString::asprintf("00:1B:%02X:%02X:%02X:%02X", (h >> 24) & 0xFF, (h >> 16) & 0xFF,
                                             (h >> 8) & 0xFF, h & 0xFF)
                               .toLatin1();
    return '[' + m_state.serial().toLatin1() + "]1[" + ip + "][" + ip + "][127.0.0.1][" +
           m_options.subnetMask.toLatin1() + "][127.0.0.1][" + mac + ']';
}

void NetDockServer::onDatagrams(QUdpSocket* socket)
{
    while (socket->hasPendingDatagrams()) {
        QByteArray request(int(std::min<qint64>(socket->pendingDatagramSize(), 65536)), Qt::Uninitialized);
        QHostAddress from;
        const qint64 n = socket->readDatagram(request.data(), request.size(), &from);
        if (n < 0)
            continue;
        request.truncate(n);
        ++m_requests;
        if (m_options.verbose)
            std::fprintf(stderr, "docksim net: UDP %s\n", request.left(80).constData());
        if (m_state.restarting())
            continue;
        if (request == "CONNECT") {
            selectFault(request);
            if (!faultActive(NetFaultKind::Silent))
                m_udp->writeDatagram(discoveryAnswer(), from, quint16(m_udpPort + 1));
            continue;
        }
        if (socket != m_udp)
            continue; // commands are taken on the dock's own address only
        selectFault(request);
        sendUdp(udpAnswer(request), from, request);
    }
}

void NetDockServer::sendUdp(QByteArray reply, const QHostAddress& to, const QByteArray& request)
{
    if (reply.isEmpty() || faultActive(NetFaultKind::Silent))
        return;
    qint64 arg = 0;
    if (faultActive(NetFaultKind::FailureCode, &arg))
        reply = ng(int(arg));
    if (faultActive(NetFaultKind::ShortChain) && reply.endsWith("<MORE>") && paramOf(request, "order") >= 0 &&
        !request.startsWith("PUT"))
        reply = reply.left(reply.size() - 6) + "<END>";
    if (faultActive(NetFaultKind::NoEndMarker)) {
        if (reply.endsWith("<MORE>"))
            reply.chop(6);
        else if (reply.endsWith("<END>"))
            reply.chop(5);
    }
    if (faultActive(NetFaultKind::Oversized))
        reply = reply.leftJustified(2100, ' ');
    if (faultActive(NetFaultKind::Stray) && m_stray && m_strayPort) {
        // A reply that looks right in every way but its sender, with other bytes.
        QByteArray forged = reply;
        const qsizetype body = forged.indexOf(kBlank);
        const qsizetype end = forged.endsWith("<MORE>") ? forged.size() - 6 : forged.size() - 5;
        for (qsizetype i = body < 0 ? end : body + 4; i < end; ++i)
            forged[i] = 'Z';
        m_stray->writeDatagram(forged, to, quint16(m_udpPort + 1));
        m_strayPort->writeDatagram(forged, to, quint16(m_udpPort + 1));
    }
    ++m_sentDatagrams;
    if (faultActive(NetFaultKind::DropEvery, &arg) && arg > 0 && m_sentDatagrams % arg == 0)
        return;
    qint64 hold = 0;
    faultActive(NetFaultKind::Delay, &hold);
    writeUdp(reply, to, hold);
}

void NetDockServer::writeUdp(const QByteArray& reply, const QHostAddress& to, qint64 holdMs)
{
    // A busy dock answers in order: what comes after a held reply waits behind it.
    if (holdMs <= 0 && m_held.isEmpty()) {
        m_udp->writeDatagram(reply, to, quint16(m_udpPort + 1));
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 due = std::max(now + std::max<qint64>(0, holdMs), m_held.isEmpty() ? 0 : m_held.last().due);
    m_held.append({due, reply, to});
    if (!m_heldTimer->isActive())
        m_heldTimer->start(int(std::max<qint64>(0, m_held.first().due - now)));
}

void NetDockServer::flushHeld()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    while (!m_held.isEmpty() && m_held.first().due <= now) {
        const Held h = m_held.takeFirst();
        m_udp->writeDatagram(h.data, h.to, quint16(m_udpPort + 1));
    }
    if (!m_held.isEmpty())
        m_heldTimer->start(int(std::max<qint64>(0, m_held.first().due - now)));
}

QString NetDockServer::realPath(const QString& path) const
{
    if (!faultActive(NetFaultKind::LoopTree))
        return path;
    QString p = path;
    while (p.contains(QLatin1String("/LOOP/")))
        p.replace(QLatin1String("/LOOP/"), QLatin1String("/"));
    return p;
}

QByteArray NetDockServer::udpAnswer(const QByteArray& request)
{
    // The PC sends this between the pieces of an upload and after chains: the
    // dock takes it without an answer and keeps an upload going.
    if (request == "RESET")
        return {};
    if (request == "GET Inform") {
        return ok(tag("SN", m_state.serial().toLatin1()) + tag("Ver", m_state.version().toLatin1()) +
                      tag("Id", m_state.model().toLatin1()) +
                      tag("Clock", webTime(m_state.clockDateTime()).toLatin1()),
                  false);
    }
    if (request.startsWith("SET Time ")) {
        const qsizetype end = request.indexOf('@');
        bool okNum = false;
        const qint64 secs = request.mid(9, end < 0 ? -1 : end - 9).trimmed().toLongLong(&okNum);
        if (end < 0 || !okNum || secs < 0 || secs > 0xFFFFFFFFLL)
            return ng(200);
        m_state.setClockSeconds(quint32(secs));
        return ok(tag("Clock", webTime(m_state.clockDateTime()).toLatin1()), false);
    }
    if (request.startsWith("REBOOT")) {
        m_state.reboot();
        m_upload = {};
        return ok({}, false);
    }
    if (request == "TEST Status" || request == "TEST Result") {
        const QByteArray rec = request == "TEST Status" ? m_state.taskStatusRecord() : m_state.taskResultRecord();
        return "RESULT:OK " + tag("Size", QByteArray::number(rec.size())) + kBlank + rec + "<END>";
    }
    if (request.startsWith("TEST ")) {
        bool okNum = false;
        const int code = request.mid(5, request.indexOf('@') - 5).toInt(&okNum);
        if (!okNum || code < 0 || code > 255)
            return ng(201);
        m_state.startOperation(quint8(code));
        return ok({}, false);
    }
    if (request.startsWith("GET Size ")) {
        const auto size = m_tree.fileSize(pathOf(request, 2));
        if (!size)
            return ng(203);
        return ok(tag("Size", QByteArray::number(*size)), false);
    }
    if (request.startsWith("GET List "))
        return listingPart(pathOf(request, 2), int(paramOf(request, "order")));
    if (request.startsWith("GET File "))
        return filePart(pathOf(request, 2), int(paramOf(request, "order")));
    if (request.startsWith("PUT File "))
        return putFile(request);
    if (request.startsWith("DEL File "))
        return m_tree.removeFile(pathOf(request, 2)) ? ok({}, false) : ng(204);
    if (request.startsWith("DEL Folder "))
        return m_tree.removeEmptyFolder(pathOf(request, 2)) ? ok({}, false) : ng(204);
    return ng(201);
}

namespace {
// The folder itself again, as a dock with a broken file system lists it.
void addLoop(QList<TreeEntry>& entries, const QString& folder)
{
    if (folder.startsWith(QLatin1String("/LOG/EVENT/"), Qt::CaseInsensitive) ||
        folder.startsWith(QLatin1String("/LOG/TEST/"), Qt::CaseInsensitive))
        entries.append({QStringLiteral("LOOP"), true, 0, QDateTime::currentDateTime()});
}
} // namespace

QByteArray NetDockServer::listingPart(const QString& folder, int order)
{
    auto entries = m_tree.list(realPath(folder));
    if (!entries)
        return ng(203);
    if (faultActive(NetFaultKind::LoopTree))
        addLoop(*entries, folder);
    if (order < 0)
        return ng(202);
    QList<QByteArray> parts{QByteArray()};
    auto add = [&](const QByteArray& element) {
        if (parts.last().size() + element.size() > m_options.listPartBytes && !parts.last().isEmpty())
            parts << QByteArray();
        parts.last() += element;
    };
    if (faultActive(NetFaultKind::BadListing)) {
        add("<file>name=\"NOSIZE.XML\" time=\"20240501121000\"</file>");
        add("<file>name=\"../ESCAPE.XML\" time=\"20240501121000\" size=\"10\"</file>");
        add("<file>name=\"/ETC/ABS.XML\" time=\"20240501121000\" size=\"10\"</file>");
        add("<file>name=\"BROKEN.XML time=\"2024\"</file>");
        add("<file>garbage</file>");
    }
    for (const TreeEntry& e : *entries) {
        QByteArray el = "<file>name=\"" + platform::EncodeLegacy(e.name) + (e.dir ? "/" : "") + "\" time=\"" +
                        fatTime(e.modified).toLatin1() + '"';
        if (!e.dir)
            el += " size=\"" + QByteArray::number(e.size) + '"';
        el += "</file>";
        add(el);
    }
    if (order >= parts.size())
        return ng(202);
    const bool more = order + 1 < parts.size();
    return ok(tag("Order", QByteArray::number(order)) + "<Data>" + parts[order] + "</Data>", more);
}

QByteArray NetDockServer::filePart(const QString& path, int order)
{
    if (!m_tree.isFile(realPath(path)))
        return ng(203);
    const auto data = m_tree.readFile(realPath(path), kMaxFileBytes);
    if (!data)
        return ng(203);
    const qint64 b = m_options.chunkBytes;
    qint64 huge = 0;
    if (faultActive(NetFaultKind::Huge, &huge) && huge > 0) {
        // The chain goes on far past the file, its size tag still the file's.
        const qint64 count = huge * 1024 * 1024 / b;
        if (order < 0 || order >= count)
            return ng(202);
        const QByteArray part = data->isEmpty() ? QByteArray(int(b), 'H') : data->repeated(int(b / data->size() + 1)).left(b);
        return "RESULT:OK " + tag("Size", QByteArray::number(data->size())) +
               tag("Order", QByteArray::number(order)) + kBlank + part + (order + 1 < count ? "<MORE>" : "<END>");
    }
    const qint64 count = std::max<qint64>(1, (data->size() + b - 1) / b);
    if (order < 0 || order >= count)
        return ng(202);
    const bool more = order + 1 < count;
    return "RESULT:OK " + tag("Size", QByteArray::number(data->size())) + tag("Order", QByteArray::number(order)) +
           kBlank + data->mid(order * b, b) + (more ? "<MORE>" : "<END>");
}

QByteArray NetDockServer::putFile(const QByteArray& request)
{
    const QString path = pathOf(request, 2);
    bool hasOrder = false;
    const qint64 order = paramOf(request, "order", &hasOrder);
    if (path.isEmpty() || !hasOrder || order < 0)
        return ng(201);
    if (order == 0) {
        m_upload = {};
        bool hasSize = false;
        const qint64 size = paramOf(request, "filesize", &hasSize);
        const auto parts = DockTree::split(path);
        if (!hasSize || size < 0 || size > kMaxFileBytes || !parts || parts->isEmpty())
            return ng(201);
        m_upload.open = true;
        m_upload.path = path;
        m_upload.size = size;
        if (size == 0) {
            m_upload = {};
            return m_tree.writeFile(path, QByteArray()) ? ok({}, false) : ng(204);
        }
        return ok({}, true);
    }
    Upload& u = m_upload;
    const qsizetype body = request.indexOf(kBlank);
    if (!u.open || path.compare(u.path, Qt::CaseInsensitive) != 0 || body < 0)
        return ng(203);
    if (order != u.next)
        return ng(202);
    const qint64 c = paramOf(request, "size");
    const QByteArray chunk = request.mid(body + kBlank.size());
    if (c != chunk.size() || u.data.size() + c > u.size) {
        u = {};
        return ng(201);
    }
    u.data += chunk;
    ++u.next;
    if (u.data.size() < u.size)
        return ok({}, true);
    const bool written = m_tree.writeFile(u.path, u.data);
    u = {};
    return written ? ok({}, false) : ng(204);
}

// ---- web server ----

void NetDockServer::onConnection()
{
    while (QTcpSocket* s = m_web->nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, this, [this, s] { onHttpData(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    }
}

void NetDockServer::onHttpData(QTcpSocket* s)
{
    QByteArray buf = s->property("req").toByteArray() + s->readAll();
    if (buf.size() > kMaxFileBytes + 4096) {
        s->abort();
        return;
    }
    const qsizetype lineEnd = buf.indexOf("\r\n");
    if (lineEnd < 0) {
        s->setProperty("req", buf);
        return;
    }
    const bool earlyOk = std::any_of(m_options.faults.begin(), m_options.faults.end(),
                                     [](const NetFault& f) { return f.kind == NetFaultKind::HttpEarlyOk; });
    if (earlyOk && buf.startsWith("PUT ") && !s->property("seen").toBool()) {
        // An upload answered at its first piece, before the dock has the body.
        s->setProperty("seen", true);
        selectFault(buf.left(lineEnd));
        if (faultActive(NetFaultKind::HttpEarlyOk)) {
            s->setProperty("req", QByteArray());
            disconnect(s, &QTcpSocket::readyRead, this, nullptr);
            ++m_requests;
            s->write(httpResponse("200 OK", {}));
            s->disconnectFromHost();
            return;
        }
    }
    if (buf.startsWith("PUT ")) {
        const qsizetype cl = buf.indexOf("Content-Length:");
        const qsizetype hdrEnd = cl < 0 ? -1 : buf.indexOf(kBlank, cl);
        if (hdrEnd < 0) {
            s->setProperty("req", buf);
            return;
        }
        const qint64 n = buf.mid(cl + 15, hdrEnd - cl - 15).trimmed().toLongLong();
        if (buf.size() < hdrEnd + 4 + n) {
            s->setProperty("req", buf);
            return;
        }
    }
    s->setProperty("req", QByteArray());
    disconnect(s, &QTcpSocket::readyRead, this, nullptr);
    ++m_requests;
    const QByteArray line = buf.left(lineEnd);
    if (m_options.verbose)
        std::fprintf(stderr, "docksim net: TCP %s\n", line.left(80).constData());
    if (m_state.restarting()) {
        s->abort();
        return;
    }
    if (!s->property("seen").toBool())
        selectFault(line);
    QByteArray answer = httpAnswer(buf);
    if (faultActive(NetFaultKind::Silent))
        return; // the connection stays open and quiet
    if (faultActive(NetFaultKind::Http404))
        answer = httpResponse("404 Not Found", "<html>Not found</html>");
    if (faultActive(NetFaultKind::HttpReset)) {
        const qsizetype body = answer.indexOf(kBlank) + 4;
        s->write(answer.left(body + (answer.size() - body) / 2));
        s->flush();
        QTimer::singleShot(50, s, [s] { s->abort(); });
        return;
    }
    qint64 arg = 0;
    if (faultActive(NetFaultKind::HttpCut)) {
        // No length announced, and the body ends half-way with an orderly close.
        const qsizetype body = answer.indexOf(kBlank) + 4;
        QByteArray head = answer.left(body);
        const qsizetype cl = head.indexOf("Content-Length:");
        if (cl >= 0)
            head.remove(cl, head.indexOf("\r\n", cl) + 2 - cl);
        s->write(head + answer.mid(body, (answer.size() - body) / 2));
        s->disconnectFromHost();
        return;
    }
    if (faultActive(NetFaultKind::HttpDribble, &arg) && arg > 0) {
        auto* timer = new QTimer(s);
        auto pos = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, s, [s, timer, pos, answer] {
            if (*pos >= answer.size()) {
                timer->stop();
                s->disconnectFromHost();
                return;
            }
            s->write(answer.mid((*pos)++, 1));
        });
        timer->start(int(arg));
        return;
    }
    if (faultActive(NetFaultKind::Huge, &arg) && arg > 0 && line.startsWith("GET ") &&
        answer.contains("application/octet-stream")) {
        // A body of arg MiB, announced as such, written as the socket takes it.
        const qint64 total = arg * 1024 * 1024;
        const qsizetype cl = answer.indexOf("Content-Length: ") + 16;
        const qsizetype clEnd = answer.indexOf("\r\n", cl);
        const qsizetype body = answer.indexOf(kBlank) + 4;
        s->write(answer.left(cl) + QByteArray::number(total) + answer.mid(clEnd, body - clEnd));
        auto left = std::make_shared<qint64>(total);
        const QByteArray piece(1024 * 1024, 'H');
        auto more = [s, left, piece] {
            while (*left > 0 && s->bytesToWrite() < 4 * piece.size()) {
                const qint64 n = std::min<qint64>(*left, piece.size());
                s->write(piece.constData(), n);
                *left -= n;
            }
            if (*left <= 0)
                s->disconnectFromHost();
        };
        connect(s, &QTcpSocket::bytesWritten, s, more);
        more();
        return;
    }
    auto send = [s, answer] {
        s->write(answer);
        s->disconnectFromHost();
    };
    if (faultActive(NetFaultKind::HttpSlow))
        QTimer::singleShot(kHttpSlowMs, s, send);
    else
        send();
}

QByteArray NetDockServer::directoryPage(const QString& folder) const
{
    auto entries = m_tree.list(realPath(folder));
    if (entries && faultActive(NetFaultKind::LoopTree))
        addLoop(*entries, folder);
    QByteArray page = "<html><head><title>" + platform::EncodeLegacy(folder) + "</title></head><body><table>\n";
    if (!faultActive(NetFaultKind::NoTableMarker))
        page += "<tr><td>Name</td><td>Modified</td><td>Size</td><td></td></tr>\n";
    QString base = folder;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    for (const TreeEntry& e : *entries) {
        if (e.name == QLatin1String(".") || e.name == QLatin1String(".."))
            continue;
        const QByteArray name = platform::EncodeLegacy(e.name) + (e.dir ? "/" : "");
        page += "<tr><td><a href=\"" + platform::EncodeLegacy(base) + name + "\">" + name + "</a></td><td>" +
                webTime(e.modified).toLatin1() + "</td><td>" +
                (e.dir ? QByteArray("-") : QByteArray::number(e.size) + " Bytes") + "</td></tr>\n";
    }
    if (faultActive(NetFaultKind::BadListing))
        page += "<tr><td><a href=\"/LOG/../../ETC/PASSWD\">PASSWD</a></td><td>2024-05-01 12:10:00</td><td>10 Bytes"
                "</td></tr>\n<tr><td><a href=\"NOTAIL";
    return page + "</table></body></html>\n";
}

QByteArray NetDockServer::httpAnswer(const QByteArray& request)
{
    const qsizetype lineEnd = request.indexOf("\r\n");
    QByteArray line = request.left(lineEnd < 0 ? request.size() : lineEnd);
    if (!line.endsWith(" HTTP/1.1"))
        return httpResponse("400 Bad Request", {});
    line.chop(9);
    const qsizetype sp = line.indexOf(' ');
    if (sp < 0)
        return httpResponse("400 Bad Request", {});
    const QByteArray method = line.left(sp);
    QByteArray target = line.mid(sp + 1).trimmed();
    if (target == "/index.htm" && method == "GET") {
        const QByteArray body = "<html><body>Docking station<br>Model:" + m_state.model().toLatin1() +
                                ", S/N:" + m_state.serial().toLatin1() + ", Rev:" + m_state.version().toLatin1() +
                                ",<br>Dock clock: " + webTime(m_state.clockDateTime()).toLatin1() +
                                "<br></body></html>";
        return httpResponse("200 OK", body);
    }
    if (target.startsWith("/www/time.htm?epoch=") && method == "GET") {
        bool okNum = false;
        const qint64 secs = target.mid(20).toLongLong(&okNum);
        if (!okNum || secs < 0 || secs > 0xFFFFFFFFLL)
            return httpResponse("400 Bad Request", {});
        m_state.setClockSeconds(quint32(secs));
        return httpResponse("200 OK", "<html>OK</html>");
    }
    if (target == "/www/reboot.txt" && method == "GET") {
        m_state.reboot();
        m_upload = {};
        return httpResponse("200 OK", "rebooting", "text/plain");
    }
    if (!target.endsWith('@'))
        return httpResponse("404 Not Found", {});
    target.chop(1);
    const QString path = platform::DecodeLegacy(target);
    if (method == "HEAD") {
        const auto size = m_tree.fileSize(realPath(path));
        if (!size || !m_tree.isFile(realPath(path)))
            return "HTTP/1.0 404 Not Found\r\nConnection: close\r\n\r\n";
        return "HTTP/1.0 200 OK\r\nServer: dock\r\nContent-Length: " + QByteArray::number(*size) +
               "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    }
    if (method == "GET") {
        if (path.endsWith(QLatin1Char('/'))) {
            if (!m_tree.list(realPath(path)))
                return httpResponse("404 Not Found", {});
            return httpResponse("200 OK", directoryPage(path));
        }
        const auto data = m_tree.isFile(realPath(path)) ? m_tree.readFile(realPath(path), kMaxFileBytes) : std::nullopt;
        if (!data)
            return httpResponse("404 Not Found", {});
        return httpResponse("200 OK", *data, "application/octet-stream");
    }
    if (method == "DELETE") {
        const bool done = path.endsWith(QLatin1Char('/')) ? m_tree.removeEmptyFolder(path) : m_tree.removeFile(path);
        return done ? httpResponse("200 OK", {}) : httpResponse("404 Not Found", {});
    }
    if (method == "PUT") {
        const qsizetype cl = request.indexOf("Content-Length:");
        const qsizetype hdrEnd = cl < 0 ? -1 : request.indexOf(kBlank, cl);
        if (hdrEnd < 0)
            return httpResponse("400 Bad Request", {});
        const qint64 n = request.mid(cl + 15, hdrEnd - cl - 15).trimmed().toLongLong();
        const QByteArray body = request.mid(hdrEnd + 4);
        if (n < 0 || body.size() != n)
            return httpResponse("400 Bad Request", {});
        return m_tree.writeFile(path, body) ? httpResponse("200 OK", {}) : httpResponse("400 Bad Request", {});
    }
    return httpResponse("400 Bad Request", {});
}

// ---- command ----

QString ServeNetUsage()
{
    return QStringLiteral(
               "usage: marvane-docksim serve-net DIR [options]\n"
               "Serves the dock file tree in DIR over the network as a dock does: the UDP command\n"
               "protocol on the dock port (replies go to that port + 1), the answer to a discovery\n"
               "\"CONNECT\", and the dock's web server. Binds only loopback addresses: its own and,\n"
               "to hear discovery, 127.0.0.255 and 127.255.255.255 on the dock port. Prints\n"
               "\"UDP P TCP Q\" when ready. Runs until ended or, when standard input is a pipe,\n"
               "until that pipe closes.\n"
               "  --address 127.0.0.N      the dock's address (default 127.0.0.1)\n"
               "  --udp-port P             dock port (default 7000; 0: a free pair P, P+1)\n"
               "  --tcp-port Q             web server port (default 80; 0: a free port)\n"
               "  --no-udp, --no-tcp       leave one side out\n"
               "  --fast                   bay tasks take milliseconds, a restart no time\n"
               "  --version-text TEXT      firmware version the dock reports\n"
               "  --chunk-bytes N          file bytes per download reply, 1..1900 (default 1800)\n"
               "  --list-part-bytes N      listing text per reply, 1..1900 (default 1500; 1: one entry each)\n"
               "  --fault NAME[:N]         misbehave; may be repeated. NAME is one of:\n"
               "                           ") +
           NetFaultNames().join(QStringLiteral(", ")) +
           QStringLiteral("\n"
                          "  --fault-command TEXT     faults only for requests starting with TEXT\n"
                          "                           (e.g. \"GET File\", \"GET /index.htm\", \"CONNECT\")\n"
                          "  --fault-skip N           ... leaving the first N of those intact\n"
                          "  --fault-count N          ... and only N faulty answers (default: all)\n"
                          "  --verbose                one line per request on standard error\n");
}

bool ParseServeNetArgs(const QStringList& args, QString& dir, NetServerOptions& options, DockTiming& timing,
                       QString* error)
{
    auto fail = [&](const QString& m) {
        if (error)
            *error = m;
        return false;
    };
    bool fast = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&](QString& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        auto number = [&](int& n, int lo, int hi) {
            QString v;
            if (!value(v))
                return fail(QStringLiteral("%1 needs a value").arg(arg));
            bool okNum = false;
            n = v.toInt(&okNum);
            if (!okNum || n < lo || n > hi)
                return fail(QStringLiteral("%1 must be a number from %2 to %3, not \"%4\"").arg(arg).arg(lo).arg(hi).arg(v));
            return true;
        };
        if (arg == QLatin1String("--fast")) {
            fast = true;
        } else if (arg == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (arg == QLatin1String("--no-udp")) {
            options.udp = false;
        } else if (arg == QLatin1String("--no-tcp")) {
            options.tcp = false;
        } else if (arg == QLatin1String("--address")) {
            QString v;
            if (!value(v))
                return fail(QStringLiteral("--address needs an address"));
            const QHostAddress a(v);
            bool v4 = false;
            const quint32 n = a.toIPv4Address(&v4);
            if (!v4 || (n >> 24) != 127)
                return fail(QStringLiteral("--address must be a loopback address 127.x.x.x, not \"%1\"").arg(v));
            options.address = a;
        } else if (arg == QLatin1String("--udp-port")) {
            if (!number(options.udpPort, 0, 65534))
                return false;
        } else if (arg == QLatin1String("--tcp-port")) {
            if (!number(options.tcpPort, 0, 65535))
                return false;
        } else if (arg == QLatin1String("--chunk-bytes")) {
            if (!number(options.chunkBytes, 1, 1900))
                return false;
        } else if (arg == QLatin1String("--list-part-bytes")) {
            if (!number(options.listPartBytes, 1, 1900))
                return false;
        } else if (arg == QLatin1String("--fault-skip")) {
            if (!number(options.faultSkip, 0, 1000000000))
                return false;
        } else if (arg == QLatin1String("--fault-count")) {
            if (!number(options.faultCount, 0, 1000000000))
                return false;
        } else if (arg == QLatin1String("--fault-command")) {
            if (!value(options.faultCommand) || options.faultCommand.isEmpty())
                return fail(QStringLiteral("--fault-command needs a text"));
        } else if (arg == QLatin1String("--version-text")) {
            if (!value(options.versionText) || options.versionText.isEmpty())
                return fail(QStringLiteral("--version-text needs a text"));
        } else if (arg == QLatin1String("--fault")) {
            QString name;
            if (!value(name))
                return fail(QStringLiteral("--fault needs a name (%1)").arg(NetFaultNames().join(QStringLiteral(", "))));
            qint64 n = 0;
            if (name.contains(QLatin1Char(':'))) {
                bool okNum = false;
                n = name.section(QLatin1Char(':'), 1).toLongLong(&okNum);
                if (!okNum)
                    return fail(QStringLiteral("--fault %1: the number after \":\" is not a number").arg(name));
                name = name.section(QLatin1Char(':'), 0, 0);
            }
            const auto kind = NetFaultFromName(name);
            if (!kind)
                return fail(QStringLiteral("unknown fault \"%1\" (%2)").arg(name, NetFaultNames().join(QStringLiteral(", "))));
            if ((*kind == NetFaultKind::FailureCode || *kind == NetFaultKind::DropEvery ||
                 *kind == NetFaultKind::Delay || *kind == NetFaultKind::HttpDribble || *kind == NetFaultKind::Huge) &&
                n <= 0)
                return fail(QStringLiteral("--fault %1 needs a number, e.g. %1:205").arg(name));
            options.faults.append({*kind, n});
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return fail(QStringLiteral("unknown option %1").arg(arg));
        } else if (dir.isEmpty() && !arg.isEmpty()) {
            dir = arg;
        } else {
            return fail(QStringLiteral("more than one folder given (%1)").arg(arg));
        }
    }
    if (dir.isEmpty())
        return fail(QStringLiteral("no folder given"));
    if (!options.udp && !options.tcp)
        return fail(QStringLiteral("--no-udp and --no-tcp leave nothing to serve"));
    timing = fast ? DockTiming::Fast() : DockTiming{};
    return true;
}

} // namespace docksim
