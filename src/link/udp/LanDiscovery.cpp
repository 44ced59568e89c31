#include "link/udp/LanDiscovery.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include <array>

#include "lang/LangTable.h"
#include "link/udp/UdpSkt.h"

namespace {

// Four bytes of a dotted text; a part that is not a number from 1 to 255 gives 0.
std::array<int, 4> bytesOf(const QString& s)
{
    std::array<int, 4> b{0, 0, 0, 0};
    const QStringList parts = s.trimmed().split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok);
        b[size_t(i)] = ok && v >= 1 && v <= 255 ? v : 0;
    }
    return b;
}

bool isLoopback(const QString& ip)
{
    return bytesOf(ip)[0] == 127;
}

} // namespace

QString LanBroadcastAddress(const QString& sLocalIp, const QString& sMask)
{
    const auto ip = bytesOf(sLocalIp);
    const auto mask = bytesOf(sMask);
    QStringList out;
    for (size_t i = 0; i < 4; ++i)
        out << QString::number((ip[i] | (~mask[i] & 0xFF)) & 0xFF);
    return out.join(QLatin1Char('.'));
}

bool ParseLanAnswer(const QByteArray& answer, RDockLanInfo& info)
{
    info = RDockLanInfo{};
    QStringList fields;
    qsizetype pos = 0;
    qsizetype firstClose = -1, secondOpen = -1;
    while (fields.size() < 7) {
        const qsizetype open = answer.indexOf('[', pos);
        if (open < 0)
            break;
        if (fields.size() == 1)
            secondOpen = open;
        const qsizetype close = answer.indexOf(']', open + 1);
        if (close < 0)
            break;
        if (fields.isEmpty())
            firstClose = close;
        fields << QString::fromLatin1(answer.mid(open + 1, close - open - 1).left(64)).trimmed();
        pos = close + 1;
    }
    if (firstClose >= 0 && secondOpen > firstClose) {
        bool ok = false;
        const int st = answer.mid(firstClose + 1, secondOpen - firstClose - 1).trimmed().toInt(&ok);
        info.mDhcpStatus = ok && st >= 0 && st <= 255 ? uint8_t(st) : 255;
    }
    info.mSN = fields.value(0);
    info.mIp = TUdpSkt::CheckAddress(fields.value(1));
    info.mDhcpIp = fields.value(2);
    info.mGateway = fields.value(3);
    info.mSubNetMask = fields.value(4);
    info.mDNS = fields.value(5);
    info.mMac = fields.value(6);
    return !info.mSN.isEmpty() && !info.mIp.isEmpty();
}

QVector<RMyIp> TLanDiscovery::Networks(const QStringList& localIps) const
{
    QVector<RMyIp> out;
    for (const QString& ip : localIps) {
        RMyIp n;
        n.mIp = ip.trimmed();
        n.mBroadCastIp = LanBroadcastAddress(n.mIp, SubnetMask);
        // A loopback network never broadcasts beyond itself, whatever the mask.
        if (isLoopback(n.mIp) && !isLoopback(n.mBroadCastIp))
            n.mBroadCastIp = QStringLiteral("127.255.255.255");
        out << n;
    }
    return out;
}

bool TLanDiscovery::Search(const QVector<RMyIp>& networks, double rRetryTime, double rMaxTime,
                           QVector<RDockLanInfo>& list)
{
    Error.clear();
    if (networks.isEmpty()) {
        Error = QStringLiteral("No local network to search");
        log(Error);
        return false;
    }
    QUdpSocket socket;
    if (DockPort == 65535 || !socket.bind(QHostAddress::AnyIPv4, quint16(DockPort + 1))) {
        Error = QStringLiteral("Search not possible: local port ") + QString::number(DockPort + 1) +
                QStringLiteral(" (") + (DockPort == 65535 ? QStringLiteral("out of range") : socket.errorString()) +
                QLatin1Char(')');
        log(Error);
        return false;
    }
    // Whatever reached the port before this search began answers another one.
    while (socket.hasPendingDatagrams())
        socket.readDatagram(nullptr, 0);
    list = {RDockLanInfo{}};
    bool flooded = false;
    for (const RMyIp& net : networks) {
        if (Stopped && Stopped())
            break;
        const QHostAddress target(net.mBroadCastIp);
        const bool direct = net.mBroadCastIp == net.mIp;
        auto broadcast = [&] {
            socket.writeDatagram(QByteArrayLiteral("CONNECT"), target, DockPort);
        };
        log(LangText(1033, "Search %1 ... %2").arg(net.mIp, net.mBroadCastIp));
        QEventLoop loop;
        QTimer round, repeat;
        round.setSingleShot(true);
        round.setTimerType(Qt::PreciseTimer);
        QObject::connect(&round, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&repeat, &QTimer::timeout, [&] {
            broadcast();
            repeat.start(int(rRetryTime * 1000));
        });
        QObject::connect(&socket, &QUdpSocket::readyRead, &loop, [&] {
            while (socket.hasPendingDatagrams()) {
                const qint64 size = socket.pendingDatagramSize();
                QByteArray d(LAN_MAX_ANSWER, Qt::Uninitialized);
                QHostAddress from;
                const qint64 n = socket.readDatagram(d.data(), d.size(), &from);
                if (n < 0)
                    continue;
                // A dock asked at its own address answers from it; anything else is
                // another dock's late answer to an earlier search.
                if (direct && from.toIPv4Address() != target.toIPv4Address())
                    continue;
                d.truncate(n);
                RDockLanInfo info;
                if (size > LAN_MAX_ANSWER || !ParseLanAnswer(d, info)) {
                    log(LangText(1035, "Answer not understood (%1 bytes)").arg(size));
                    continue;
                }
                bool known = false;
                for (qsizetype i = 1; i < list.size() && !known; ++i)
                    known = list[i].mIp == info.mIp && list[i].mSN == info.mSN;
                if (known)
                    continue;
                if (list.size() > LAN_MAX_DOCKS) {
                    if (!flooded)
                        log(LangText(1036, "More than %1 docks answered; the rest are not listed").arg(LAN_MAX_DOCKS));
                    flooded = true;
                    continue;
                }
                log(LangText(1034, "Found [%1] %2").arg(info.mSN, info.mIp));
                list << info;
            }
        });
        QTimer stopCheck;
        if (Stopped) {
            QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
                if (Stopped())
                    loop.quit();
            });
            stopCheck.start(100);
        }
        round.start(int(rMaxTime * 1000));
        repeat.setSingleShot(true);
        repeat.start(int((rRetryTime + 0.1) * 1000));
        broadcast();
        loop.exec();
        QObject::disconnect(&socket, &QUdpSocket::readyRead, &loop, nullptr);
    }
    socket.close();
    return true;
}
