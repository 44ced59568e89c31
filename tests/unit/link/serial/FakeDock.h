#pragma once
// A dock on the other end of a scripted device, written from the frame
// description alone: it cuts request frames out of what the program writes and
// answers through a responder, after a delay and in chunks if asked, so that
// the replies arrive through the event loop like bytes from a port.
#include <QByteArray>
#include <QIODevice>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <cstring>
#include <functional>
#include <memory>

#include "link/serial/DockComm.h"

namespace serialtest {

struct Request {
    uint8_t start = 0;
    uint8_t command = 0;
    QByteArray payload;
    QByteArray raw;
};

inline QByteArray reply(uint8_t cmd, const QByteArray& data, uint8_t ack = 0x06)
{
    QByteArray f;
    const int len = int(data.size()) + 3;
    f += char(0x02);
    f += char(len & 0xFF);
    f += char((len >> 8) & 0xFF);
    f += char(ack);
    f += char(cmd);
    f += data;
    uint8_t sum = ack ^ cmd;
    for (char c : data)
        sum ^= uint8_t(c);
    f += char(sum);
    f += char(0x03);
    return f;
}

class FakeDockDevice;

struct DockScript {
    // Bytes to send back for one request; empty: no answer.
    std::function<QByteArray(const Request&)> responder;
    int delayMs = 0;
    int chunk = 0; // 0: the whole reply in one piece
    QVector<Request> requests;
    QPointer<FakeDockDevice> device;
    bool failOpen = false;
};

class FakeDockDevice : public QIODevice {
public:
    explicit FakeDockDevice(std::shared_ptr<DockScript> s) : script(std::move(s)) {}
    std::shared_ptr<DockScript> script;
    QByteArray rx;
    QByteArray pending;

    bool open(OpenMode mode) override
    {
        if (script->failOpen)
            return false;
        script->device = this;
        return QIODevice::open(mode | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return rx.size() + QIODevice::bytesAvailable(); }
    // Sends bytes to the program as the port would.
    void push(const QByteArray& bytes)
    {
        rx += bytes;
        emit readyRead();
    }
    void deliver(const QByteArray& bytes)
    {
        const int step = script->chunk > 0 ? script->chunk : int(std::max<qsizetype>(bytes.size(), 1));
        int at = 0;
        QPointer<FakeDockDevice> self(this);
        for (qsizetype pos = 0; pos < bytes.size(); pos += step, ++at) {
            const QByteArray part = bytes.mid(pos, step);
            QTimer::singleShot(script->delayMs + at, [self, part] {
                if (self && self->isOpen())
                    self->push(part);
            });
        }
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, rx.size());
        std::memcpy(data, rx.constData(), size_t(n));
        rx.remove(0, n);
        return n;
    }
    qint64 writeData(const char* data, qint64 len) override
    {
        pending.append(data, len);
        while (pending.size() >= 6) {
            const int l = uint8_t(pending[1]) | uint8_t(pending[2]) << 8;
            const qsizetype total = l + 5;
            if (pending.size() < total)
                break;
            Request r;
            r.raw = pending.left(total);
            r.start = uint8_t(r.raw[0]);
            r.command = uint8_t(r.raw[3]);
            r.payload = r.raw.mid(4, l - 1);
            pending.remove(0, total);
            script->requests << r;
            if (script->responder) {
                const QByteArray out = script->responder(r);
                if (!out.isEmpty())
                    deliver(out);
            }
        }
        return len;
    }
};

// A TDockComm opened on a scripted dock, with short waits.
struct Link {
    std::shared_ptr<DockScript> script = std::make_shared<DockScript>();
    TDockComm comm;
    explicit Link(int windowMs = 150, int pauseMs = 20)
    {
        comm.FReplyWindowMs = windowMs;
        comm.FRetryPauseMs = pauseMs;
        auto s = script;
        comm.RSCom->DeviceFactory = [s](const QString&) -> std::unique_ptr<QIODevice> {
            return std::make_unique<FakeDockDevice>(s);
        };
    }
    bool open() { return comm.OpenComm(QStringLiteral("COM3")); }
};

// The dock's file service over a map of dock paths to contents; folders are the
// paths ending in "/". Listing and download blocks are cut at the given sizes.
struct FileDock {
    QMap<QString, QByteArray> files;
    QMap<QString, QString> dates; // dock path -> listing date text
    int listPerBlock = 4;         // entries per listing block
    int loadPerBlock = 900;       // file bytes per download block
    bool sizeToken = true;
    QMap<QString, QByteArray> uploads;
    QStringList deleted;
    // Upload in progress.
    QString putPath;
    qint64 putSize = 0;
    QByteArray putData;

    QStringList order; // listing order of put(); other entries follow in name order
    void put(const QString& p, const QByteArray& d = QByteArray())
    {
        files[p] = d;
        order << p;
    }
    QStringList children(const QString& dir) const
    {
        QStringList out;
        QStringList keys = order;
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            if (!keys.contains(it.key()))
                keys << it.key();
        for (const QString& p : keys) {
            if (!files.contains(p))
                continue;
            if (!p.startsWith(dir) || p == dir)
                continue;
            const QString rest = p.mid(dir.size());
            const qsizetype slash = rest.indexOf('/');
            if (slash < 0 || slash == rest.size() - 1)
                out << rest;
        }
        return out;
    }
    static QString path(const QByteArray& b) { return QString::fromLatin1(b); }

    QByteArray answer(const Request& r)
    {
        switch (r.command) {
        case DOCKCOMM_CMD_FILESIZE: {
            const QString p = path(r.payload);
            const qint64 n = files.contains(p) ? files.value(p).size() : 0;
            QByteArray d(4, '\0');
            for (int i = 0; i < 4; ++i)
                d[i] = char((n >> (8 * i)) & 0xFF);
            return reply(r.command, d);
        }
        case DOCKCOMM_CMD_FILELIST: {
            const uint8_t k = uint8_t(r.payload[0]);
            const QString dir = path(r.payload.mid(1));
            const QStringList names = children(dir);
            // Block numbers on the wire wrap; the dock counts the requests of this listing.
            const int index = r.start == 0x02 ? 0 : ++listIndex;
            if (r.start == 0x02)
                listIndex = 0;
            QByteArray d = '{' + QByteArray::number(k) + '}';
            const int from = index * listPerBlock;
            for (int i = from; i < names.size() && i < from + listPerBlock; ++i) {
                const QString full = dir + names[i];
                d += names[i].toLatin1() + '<' + dates.value(full, "20240102030405").toLatin1() + '>';
                if (!names[i].endsWith('/'))
                    d += '[' + QByteArray::number(files.value(full).size()) + ']';
            }
            d += from + listPerBlock >= names.size() ? "{END}" : "{MORE}";
            return reply(r.command, d);
        }
        case DOCKCOMM_CMD_LOADFILE: {
            const uint8_t k = uint8_t(r.payload[0]);
            const QString p = path(r.payload.mid(1));
            const int index = r.start == 0x02 ? 0 : ++loadIndex;
            if (r.start == 0x02)
                loadIndex = 0;
            QByteArray d = '{' + QByteArray::number(k) + '}';
            if (!files.contains(p) || p.endsWith('/'))
                return reply(r.command, d + "{NOTOPEN}");
            const QByteArray& f = files[p];
            if (index == 0 && sizeToken)
                d += '[' + QByteArray::number(f.size()) + ']';
            const qsizetype from = qsizetype(index) * loadPerBlock;
            d += f.mid(from, loadPerBlock);
            d += from + loadPerBlock >= f.size() ? "{END}" : "{MORE}";
            return reply(r.command, d);
        }
        case DOCKCOMM_CMD_PUTFILE: {
            if (r.start == 0x02) {
                putSize = uint8_t(r.payload[0]) | uint8_t(r.payload[1]) << 8 |
                          uint8_t(r.payload[2]) << 16 | qint64(uint8_t(r.payload[3])) << 24;
                putPath = path(r.payload.mid(4));
                putData.clear();
                return reply(r.command, QByteArray(2, '\0'));
            }
            const int plen = uint8_t(r.payload[1]);
            putData += r.payload.mid(2 + plen);
            QByteArray d(2, '\0');
            if (putData.size() >= putSize && (r.payload.size() - 2 - plen) < 400) {
                d[1] = 1;
                uploads[putPath] = putData;
                files[putPath] = putData;
            }
            return reply(r.command, d);
        }
        case DOCKCOMM_CMD_DELETEFILE:
        case DOCKCOMM_CMD_DELETEFOLDER:
            deleted << path(r.payload);
            files.remove(path(r.payload));
            return reply(r.command, QByteArray());
        case DOCKCOMM_CMD_READINFO:
            return reply(r.command, QByteArray("KM1-0042\0" "1.70\0" "DOCK", 18));
        default:
            return reply(r.command, QByteArray());
        }
    }
    int listIndex = 0;
    int loadIndex = 0;
};

} // namespace serialtest
