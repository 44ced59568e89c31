#pragma once
// The dock's network side: the UDP text command protocol on the dock port (with
// the answer to a discovery "CONNECT"), and the dock's small web server. Both
// serve the same file tree and DockState.
#include "DockState.h"
#include "DockStateTree.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;
class QTimer;

namespace docksim {

enum class NetFaultKind {
    Silent,       // no reply at all
    NoEndMarker,  // replies without "<END>" or "<MORE>"
    FailureCode,  // "RESULT:NG:" + N
    ShortChain,   // a chain of replies ends ("<END>") after its first part
    DropEvery,    // every Nth reply datagram is lost
    Stray,        // a datagram from another sender arrives before the reply
    Oversized,    // replies padded beyond 2000 bytes
    BadListing,   // listings carry malformed elements besides the real ones
    Http404,      // web answers "404 Not Found"
    HttpSlow,     // web answers after 3 s
    HttpReset,    // the web connection is reset half-way through the body
    NoTableMarker,// directory pages without the table header row
    Delay,        // the reply is held N ms; the replies after it queue behind it
    HttpDribble,  // web answers one byte every N ms
    HttpCut,      // web answers without Content-Length, closed half-way through the body
    HttpEarlyOk,  // an upload is answered "200 OK" before its body has arrived
    LoopTree,     // the log folders hold a "LOOP/" folder that is the folder itself again
    Huge,         // downloads carry N MiB whatever the file holds
};

struct NetFault {
    NetFaultKind kind = NetFaultKind::Silent;
    qint64 arg = 0;
};
std::optional<NetFaultKind> NetFaultFromName(const QString& name);
QStringList NetFaultNames();

struct NetServerOptions {
    QHostAddress address = QHostAddress(QStringLiteral("127.0.0.1"));
    int udpPort = 7000;         // 0: a free port whose successor is free too
    int tcpPort = 80;           // 0: a free port
    bool udp = true, tcp = true;
    int chunkBytes = 1800;      // file bytes per download reply
    int listPartBytes = 1500;   // listing text per reply, at most (1: one entry per reply)
    QString versionText;        // replaces the identity's firmware version when set
    QString subnetMask = QStringLiteral("255.0.0.0"); // reported in the discovery answer
    QList<NetFault> faults;
    QString faultCommand;       // faults only for requests starting with this text
    int faultSkip = 0;          // ... leaving the first N of those intact
    int faultCount = -1;        // ... and only N faulty answers (-1: all)
    bool verbose = false;
};

class NetDockServer : public QObject {
    Q_OBJECT
public:
    NetDockServer(const QString& treeRoot, const NetServerOptions& options, QObject* parent = nullptr);
    ~NetDockServer() override;

    bool start(QString* error = nullptr);
    void stop();
    quint16 udpPort() const { return m_udpPort; }
    quint16 tcpPort() const { return m_tcpPort; }

    DockState& state() { return m_state; }
    DockTree& tree() { return m_tree; }
    qint64 requestCount() const { return m_requests; }

    // The dock's answer to one command datagram, before any fault; empty: none.
    QByteArray udpAnswer(const QByteArray& request);
    // The dock's answer to one web request (request line, headers, body).
    QByteArray httpAnswer(const QByteArray& request);
    QByteArray discoveryAnswer() const;

private:
    void onDatagrams(QUdpSocket* socket);
    void onConnection();
    void onHttpData(QTcpSocket* socket);
    void sendUdp(QByteArray reply, const QHostAddress& to, const QByteArray& request);
    void writeUdp(const QByteArray& reply, const QHostAddress& to, qint64 holdMs);
    void flushHeld();
    QString realPath(const QString& path) const;
    bool selectFault(const QByteArray& request);
    bool faultActive(NetFaultKind kind, qint64* arg = nullptr) const;

    QByteArray listingPart(const QString& folder, int order);
    QByteArray filePart(const QString& path, int order);
    QByteArray putFile(const QByteArray& request);
    QByteArray directoryPage(const QString& folder) const;

    NetServerOptions m_options;
    DockTree m_tree;
    DockState m_state;
    QUdpSocket* m_udp = nullptr;
    QList<QUdpSocket*> m_broadcast; // loopback broadcast addresses, to hear "CONNECT"
    QUdpSocket* m_stray = nullptr;  // "another sender": a second loopback address
    QUdpSocket* m_strayPort = nullptr; // ... and the dock's own address, another port
    struct Held {
        qint64 due;
        QByteArray data;
        QHostAddress to;
    };
    QList<Held> m_held; // replies of a busy dock, sent in order
    QTimer* m_heldTimer = nullptr;
    QTcpServer* m_web = nullptr;
    quint16 m_udpPort = 0;
    quint16 m_tcpPort = 0;
    qint64 m_requests = 0;
    qint64 m_sentDatagrams = 0;
    qint64 m_selected = 0;
    bool m_faultNow = false;

    struct Upload {
        bool open = false;
        QString path;
        qint64 size = 0;
        int next = 1;
        QByteArray data;
    } m_upload;
};

// "marvane-docksim serve-net"
QString ServeNetUsage();
bool ParseServeNetArgs(const QStringList& args, QString& dir, NetServerOptions& options, DockTiming& timing,
                       QString* error);

} // namespace docksim
