#pragma once
// The dock's side of the USB cable: request frames in, one framed reply out,
// served from a dock file tree over the master side of a pseudo-terminal.
#include "DockState.h"
#include "DockStateTree.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class QSocketNotifier;

namespace docksim {

// Faults a test can ask for. Reply faults hit the replies selected by the
// scope options; task faults change the bay task.
enum class SerialFaultKind {
    Silent,        // no reply at all
    StopAfterBytes,// stop answering once n reply bytes went out (mid-frame)
    Garbage,       // noise (never an STX) before the reply
    LateReply,     // reply after 1.5 s
    Truncate,      // only the first half of the frame
    BadCrc,        // checksum byte wrong
    BadEtx,        // last byte not ETX
    BadLength,     // length field promises more than follows
    TooLong,       // valid frame with more data than a reply may carry
    Nak,           // another byte where the ACK belongs
    WrongCommand,  // another command code echoed
    Split,         // the reply in many small writes
    NoEndMarker,   // listing and download blocks without their end marker
    NoStatus5,     // the task never shows status 5
    Busy,          // the task never ends
};

struct SerialFault {
    SerialFaultKind kind = SerialFaultKind::Silent;
    qint64 arg = 0;
};
// "silent", "stop-after-bytes:N" (or with the number as next argument), ...
std::optional<SerialFaultKind> SerialFaultFromName(const QString& name);
QStringList SerialFaultNames();

struct SerialServerOptions {
    bool lineRate = false;     // hold replies back by their wire time at baud, and requests by theirs
    int baud = 115200;
    QString versionText;       // replaces the identity's firmware version when set
    int downloadBlockSize = 900; // file bytes per download block
    int listBlockEntries = 0;    // entries per listing block; 0: as many as fit
    bool sizeToken = true;       // the first download block names the file size
    QList<SerialFault> faults;
    int faultCommand = -1;     // reply faults only for this command code
    int faultSkip = 0;         // ... after this many selected replies
    int faultCount = -1;       // ... for this many (-1: all)
    bool verbose = false;      // one line per request on stderr
};

// Frame bytes.
inline constexpr quint8 kStx = 0x02;
inline constexpr quint8 kStxContinue = 0x20;
inline constexpr quint8 kEtx = 0x03;
inline constexpr quint8 kAck = 0x06;
inline constexpr quint8 kNak = 0x15;
inline constexpr int kMaxRequestPayload = 995;
inline constexpr int kMaxReplyData = 946;

class SerialDockServer : public QObject {
    Q_OBJECT
public:
    SerialDockServer(const QString& treeRoot, const SerialServerOptions& options,
                     QObject* parent = nullptr);
    ~SerialDockServer() override;

    // Serves on a non-blocking descriptor (a pty master) until stop(). The
    // descriptor stays the caller's.
    bool start(int fd, QString* error = nullptr);
    void stop();

    DockState& state() { return m_state; }
    DockTree& tree() { return m_tree; }
    const SerialServerOptions& options() const { return m_options; }

    // The reply to one request, as the dock builds it before any fault. Empty
    // when the dock gives none.
    QByteArray reply(quint8 start, quint8 command, const QByteArray& payload);

    qint64 requestCount() const { return m_requests; }
    qint64 bytesSent() const { return m_bytesSent; }

signals:
    void requestServed(int command);

private:
    void onReadable();
    void onWritable();
    void parseInput();
    void handleFrame(quint8 start, quint8 command, const QByteArray& payload, int frameSize);
    void queueReply(QByteArray frame, int requestBytes);
    void sendDue();
    void flush();
    bool faultActive(SerialFaultKind kind) const;

    QByteArray fileSize(const QByteArray& payload);
    QByteArray listBlock(quint8 start, const QByteArray& payload);
    QByteArray downloadBlock(quint8 start, const QByteArray& payload);
    QByteArray uploadAnnounce(const QByteArray& payload);
    QByteArray uploadBlock(const QByteArray& payload);
    QByteArray simulation(quint8 command, const QByteArray& payload);
    // Remote path of the instrument's newest event file of that gas; empty when none.
    // What the dock's settings say a simulated record is judged against.
    struct DockLimits {
        double concentration = 25;
        int bumpPassLimit = 50;
    };
    DockLimits dockLimits(int gas) const;
    QString newestEventFile(const QString& serial, int gas) const;

    SerialServerOptions m_options;
    DockTree m_tree;
    DockState m_state;
    int m_fd = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_in;
    qint64 m_lastInputMs = 0;
    QElapsedTimer m_clock;

    struct Chunk {
        qint64 dueNs;
        QByteArray bytes;
    };
    QList<Chunk> m_schedule;
    QByteArray m_pending;
    QTimer m_sendTimer;
    qint64 m_lineFreeNs = 0;
    qint64 m_requests = 0;
    qint64 m_bytesSent = 0;
    qint64 m_selectedReplies = 0; // replies the fault scope picked so far
    bool m_faultNow = false;      // the reply being built is one of them

    // Sequences of blocks: a listing or a download in progress.
    struct Blocks {
        QString path;        // upper-cased remote path
        QList<QByteArray> bodies; // data of each block, marker included
        int current = 0;     // 1-based index of the block last served; 0: none
    };
    Blocks m_listing, m_download;
    QByteArray serveBlock(Blocks& seq, quint8 start, quint8 blockByte, const QString& path, bool listing);

    struct Upload {
        bool open = false;
        QString path;        // as announced
        qint64 size = 0;
        QByteArray data;
        int expected = 2;    // next block byte
        int lastBlock = -1;
        quint8 lastStatus = 0;
    } m_upload;
};

} // namespace docksim
