#pragma once
// Finding the docks on the local networks: "CONNECT" broadcast on each network
// from the dock port + 1 to the dock port, and the answers collected.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// One local network.
struct RMyIp {
    QString mIp;
    QString mBroadCastIp;
};

// One dock found (entry 0 of a list is the empty "typed address" entry).
struct RDockLanInfo {
    QString mSN;
    uint8_t mDhcpStatus = 255;
    QString mIp;
    QString mDhcpIp;
    QString mGateway;
    QString mSubNetMask;
    QString mDNS;
    QString mMac;
};

// Longest answer a dock sends.
inline constexpr int LAN_MAX_ANSWER = 256;
// More docks than this in one search are not listed.
inline constexpr int LAN_MAX_DOCKS = 256;

// The network's broadcast address from a local address and the configured mask:
// parts outside 1..255 count as 0, the inverted mask is "or"ed into the address.
QString LanBroadcastAddress(const QString& sLocalIp, const QString& sMask);
// "[SN]status[ip][dhcp ip][gateway][mask][dns][mac]"; false when the answer
// carries no serial number or no usable address.
bool ParseLanAnswer(const QByteArray& answer, RDockLanInfo& info);

class TLanDiscovery {
public:
    quint16 DockPort = 7000;
    QString SubnetMask = QStringLiteral("255.255.255.0");
    std::function<void(const QString&)> OnLog;
    // Looked at every 100 ms: true ends the search at once (Cancel, a stop signal).
    std::function<bool()> Stopped;
    // Why the last search could not run (no network, the port taken); empty after one that ran.
    QString Error;

    // The local networks of these addresses, in order.
    QVector<RMyIp> Networks(const QStringList& localIps) const;
    // One round per network; docks in the order their first answer came, entry 0
    // the placeholder. Only answers that arrive during this search count, and a network
    // whose "broadcast" is a dock's own address counts only that address's answers. Returns false
    // (and leaves list alone) when there is no network or the port cannot be had.
    bool Search(const QVector<RMyIp>& networks, double rRetryTime, double rMaxTime, QVector<RDockLanInfo>& list);

private:
    void log(const QString& s) const
    {
        if (OnLog)
            OnLog(s);
    }
};
