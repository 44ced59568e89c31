// The simulated dock on a pseudo-terminal, driven by a small client written
// here from the frame layout (not the program's link code).
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

#include "DockState.h"
#include "SerialCommand.h"
#include "SerialDockServer.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

using namespace docksim;

namespace {

struct Reply {
    bool complete = false;
    QByteArray raw;       // everything read, noise included
    quint8 ack = 0, command = 0;
    QByteArray data;
    bool checksumOk = false, etxOk = false;
    int reads = 0;        // readyRead signals it took
};

class Client {
public:
    explicit Client(const QString& path)
    {
        port.setPortName(path);
        port.setBaudRate(115200);
        opened = port.open(QIODevice::ReadWrite);
    }

    static QByteArray frame(quint8 command, const QByteArray& payload, bool cont)
    {
        QByteArray f;
        const int len = int(payload.size()) + 1;
        f.append(char(cont ? 0x20 : 0x02)).append(char(len & 0xFF)).append(char(len >> 8));
        f.append(char(command)).append(payload);
        quint8 x = command;
        for (char c : payload)
            x ^= quint8(c);
        return f.append(char(x)).append(char(0x03));
    }

    void send(const QByteArray& bytes)
    {
        port.write(bytes);
        port.waitForBytesWritten(1000);
    }

    Reply exchange(quint8 command, const QByteArray& payload = {}, bool cont = false, int waitMs = 1000)
    {
        send(frame(command, payload, cont));
        return receive(waitMs);
    }

    // Waits for one reply frame: hunt the STX, then length + 1 more bytes.
    Reply receive(int waitMs = 1000)
    {
        Reply r;
        QElapsedTimer t;
        t.start();
        auto parse = [&] {
            const qsizetype stx = r.raw.indexOf(char(0x02));
            if (stx < 0 || r.raw.size() < stx + 3)
                return false;
            const int len = quint8(r.raw[stx + 1]) | quint8(r.raw[stx + 2]) << 8;
            if (r.raw.size() < stx + 3 + len + 1)
                return false;
            const QByteArray body = r.raw.mid(stx + 3, len + 1); // ACK .. ETX
            r.ack = quint8(body[0]);
            r.command = quint8(body[1]);
            r.data = body.mid(2, len - 3);
            quint8 x = 0;
            for (int i = 0; i < len; ++i)
                x ^= quint8(body[i]);
            r.checksumOk = x == 0;
            r.etxOk = quint8(body[len]) == 0x03;
            return true;
        };
        // The server lives in this thread: wait by running the event loop.
        while (t.elapsed() < waitMs) {
            QTest::qWait(1);
            if (port.bytesAvailable() > 0) {
                r.raw += port.readAll();
                ++r.reads;
                if ((r.complete = parse()))
                    break;
            }
        }
        return r;
    }

    // Nothing at all arrives within ms.
    bool quietFor(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QTest::qWait(1);
            if (port.bytesAvailable() > 0)
                return false;
        }
        return true;
    }

    QSerialPort port;
    bool opened = false;
};

class SerialServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + QStringLiteral("/dock");
        put(QStringLiteral("CONFIG/DOCKINFORM.CFG"),
            "Model Name = TESTDOCK\r\nSerial Number = DS1234567\r\nFw Version = 1.75\r\n");
        put(QStringLiteral("CONFIG/DOCK/DOCK.CFG"), "[DOCK]\r\nLocation=Hall\r\n");
        QDir().mkpath(root + QStringLiteral("/LOG/EVENT/EMPTY"));
    }
    void TearDown() override
    {
        client.reset();
        server.reset();
        if (pty)
            platform::ClosePseudoTerminal(*pty);
    }

    void put(const QString& rel, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(root + QLatin1Char('/') + rel).absolutePath());
        testsupport::writeAll(root + QLatin1Char('/') + rel, data);
    }

    void serve(SerialServerOptions options = {}, DockTiming timing = DockTiming::Fast())
    {
        QString error;
        pty = platform::OpenPseudoTerminal(&error);
        ASSERT_TRUE(pty) << error.toStdString();
        server = std::make_unique<SerialDockServer>(root, options);
        server->state().timing = timing;
        server->state().bays[1].fails = true;
        ASSERT_TRUE(server->start(pty->masterFd, &error));
        client = std::make_unique<Client>(pty->slavePath);
        ASSERT_TRUE(client->opened) << client->port.errorString().toStdString();
    }

    static QByteArray blockRequest(int block, const QByteArray& path)
    {
        return QByteArray(1, char(block & 0xFF)) + path;
    }

    QTemporaryDir dir;
    QString root;
    std::optional<platform::PtyPair> pty;
    std::unique_ptr<SerialDockServer> server;
    std::unique_ptr<Client> client;
};

quint32 le32(const QByteArray& d, int at = 0) { return qFromLittleEndian<quint32>(d.constData() + at); }

qint64 localNowSeconds()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toSecsSinceEpoch() + now.offsetFromUtc();
}

} // namespace

TEST_F(SerialServerTest, IdentityClockAndServiceValues)
{
    serve();
    Reply r = client->exchange(0xA0);
    ASSERT_TRUE(r.complete);
    EXPECT_TRUE(r.checksumOk);
    EXPECT_TRUE(r.etxOk);
    EXPECT_EQ(r.ack, 0x06);
    EXPECT_EQ(r.command, 0xA0);
    EXPECT_EQ(r.data, QByteArray("DS1234567\0" "1.75\0" "TESTDOCK\0", 24));

    r = client->exchange(0xA4);
    ASSERT_TRUE(r.complete);
    ASSERT_GE(r.data.size(), 4);
    EXPECT_NEAR(double(le32(r.data)), double(localNowSeconds()), 2.0);

    // Setting the clock moves it; it keeps running from there.
    const quint32 set = 1000000000u; // 2001-09-09 01:46:40
    QByteArray p(4, '\0');
    qToLittleEndian(set, p.data());
    r = client->exchange(0xA3, p);
    ASSERT_TRUE(r.complete);
    EXPECT_NEAR(double(le32(r.data)), double(set), 1.0);
    r = client->exchange(0xA4);
    EXPECT_NEAR(double(le32(r.data)), double(set), 2.0);

    r = client->exchange(0xA2, QByteArray("NEWSN01\0\0\0\0", 11));
    EXPECT_EQ(r.ack, 0x06);
    r = client->exchange(0xA1);
    EXPECT_EQ(r.data, QByteArray("NEWSN01\0", 8));
    r = client->exchange(0xA2, QByteArray("SHORT"));
    EXPECT_EQ(r.ack, 0x15) << "a serial number must come as 11 bytes";

    client->exchange(0xA6, QByteArray("\x21\x42", 2));
    r = client->exchange(0xA7);
    EXPECT_EQ(r.data, QByteArray("\x21\x42", 2));

    r = client->exchange(0x77);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.ack, 0x15) << "unknown commands are refused, not ignored";
    EXPECT_TRUE(r.checksumOk);
}

TEST_F(SerialServerTest, VersionTextOverridesIdentity)
{
    SerialServerOptions o;
    o.versionText = QStringLiteral("1.6");
    serve(o);
    const Reply r = client->exchange(0xA0);
    EXPECT_EQ(r.data, QByteArray("DS1234567\0" "1.6\0" "TESTDOCK\0", 23));
}

TEST_F(SerialServerTest, DamagedRequestGetsNoReplyAndTheNextOneDoes)
{
    serve();
    QByteArray bad = Client::frame(0xA0, {}, false);
    bad[4] = char(0x55); // checksum
    client->send(QByteArray("\x11\x22", 2) + bad);
    EXPECT_TRUE(client->quietFor(200));
    const Reply r = client->exchange(0xA1);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.command, 0xA1);
}

TEST_F(SerialServerTest, FileSizeMatchesNamesWithoutRegardToCase)
{
    serve();
    Reply r = client->exchange(0x91, "/config/dock/Dock.cfg");
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(le32(r.data), quint32(QFileInfo(root + "/CONFIG/DOCK/DOCK.CFG").size()));
    r = client->exchange(0x91, "/CONFIG/DOCK/NONE.CFG");
    EXPECT_EQ(r.ack, 0x06);
    EXPECT_EQ(le32(r.data), 0u) << "a missing file reads as empty";
    r = client->exchange(0x91, "/CONFIG/../CONFIG/DOCK/DOCK.CFG");
    EXPECT_EQ(le32(r.data), 0u) << "no way out of the tree";
}

TEST_F(SerialServerTest, ListingWrapsTheBlockNumberAfter255)
{
    for (int i = 0; i < 300; ++i)
        put(QStringLiteral("LOG/DOCK/F%1.CSV").arg(i, 3, 10, QLatin1Char('0')), QByteArray(i, 'x'));
    QDir().mkpath(root + "/LOG/DOCK/SUB");
    SerialServerOptions o;
    o.listBlockEntries = 1;
    serve(o);

    QStringList names;
    QList<qint64> sizes;
    int block = 1;
    bool end = false;
    for (int guard = 0; !end && guard < 400; ++guard, ++block) {
        const Reply r = client->exchange(0x92, blockRequest(block, "/log/dock/"), block > 1);
        ASSERT_TRUE(r.complete && r.checksumOk) << "block " << block;
        const QByteArray mark = '{' + QByteArray::number(block & 0xFF) + '}';
        ASSERT_TRUE(r.data.startsWith(mark)) << "block " << block << ": " << r.data.constData();
        end = r.data.endsWith("{END}");
        ASSERT_TRUE(end || r.data.endsWith("{MORE}"));
        QByteArray body = r.data.mid(mark.size());
        body.chop(end ? 5 : 6);
        const qsizetype lt = body.indexOf('<'), gt = body.indexOf('>');
        ASSERT_TRUE(lt > 0 && gt == lt + 15) << body.constData(); // fourteen digits of date
        const QString name = QString::fromLatin1(body.left(lt));
        names << name;
        sizes << (name.endsWith('/') ? -1 : body.mid(gt + 2, body.size() - gt - 3).toLongLong());
    }
    ASSERT_TRUE(end);
    EXPECT_EQ(block - 1, 303) << "one entry a block: ., .., SUB/ and 300 files";
    EXPECT_EQ(names.first(), "./");
    EXPECT_EQ(names[1], "../");
    EXPECT_TRUE(names.contains("SUB/"));
    const qsizetype i = names.indexOf("F299.CSV");
    ASSERT_GE(i, 0);
    EXPECT_EQ(sizes[i], 299);

    // Packed blocks carry many entries; the root has no "." entries.
    server->stop();
    SerialServerOptions packed;
    server = std::make_unique<SerialDockServer>(root, packed);
    ASSERT_TRUE(server->start(pty->masterFd));
    const Reply r = client->exchange(0x92, blockRequest(1, "/"));
    EXPECT_EQ(r.data, QByteArray("{1}CONFIG/<") + QFileInfo(root + "/CONFIG").lastModified().toString("yyyyMMddHHmmss").toLatin1()
                          + ">LOG/<" + QFileInfo(root + "/LOG").lastModified().toString("yyyyMMddHHmmss").toLatin1()
                          + ">{END}");
    EXPECT_EQ(client->exchange(0x92, blockRequest(1, "/NOPE/")).data, QByteArray("{1}{NOTOPEN}"));
}

TEST_F(SerialServerTest, DownloadOfADockImageWrapsTheBlockMarker)
{
    QByteArray image(262272, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 131 + (i >> 9)) & 0xFF);
    put("FW/DOCK/DOCK_21.IMG", image);
    serve();

    QByteArray got;
    int block = 1;
    bool end = false;
    int retries = 0;
    for (; !end && block < 400; ++block) {
        Reply r = client->exchange(0x93, blockRequest(block, "/FW/DOCK/dock_21.img"), block > 1);
        ASSERT_TRUE(r.complete && r.checksumOk) << "block " << block;
        ASSERT_LE(r.data.size(), 946);
        if (block == 100) { // the PC lost this reply and asks again: same bytes
            const Reply again = client->exchange(0x93, blockRequest(block, "/FW/DOCK/dock_21.img"), true);
            EXPECT_EQ(again.data, r.data);
            ++retries;
        }
        if (block == 256) {
            EXPECT_TRUE(r.data.startsWith("{0}")) << "\"{0}\" follows \"{255}\"";
        }
        const QByteArray mark = '{' + QByteArray::number(block & 0xFF) + '}';
        ASSERT_TRUE(r.data.startsWith(mark)) << block;
        QByteArray body = r.data.mid(mark.size());
        if (block == 1) {
            ASSERT_TRUE(body.startsWith("[262272]"));
            body = body.mid(8);
        }
        end = body.endsWith("{END}");
        ASSERT_TRUE(end || body.endsWith("{MORE}"));
        body.chop(end ? 5 : 6);
        got += body;
    }
    EXPECT_EQ(block - 1, 292);
    EXPECT_EQ(retries, 1);
    EXPECT_TRUE(got == image);

    // Asking on after the end, or for a block out of order, finds nothing open.
    EXPECT_EQ(client->exchange(0x93, blockRequest(1, "/NOFILE.BIN")).data, QByteArray("{1}{NOTOPEN}"));
    EXPECT_EQ(client->exchange(0x93, blockRequest(7, "/FW/DOCK/DOCK_21.IMG"), true).data, QByteArray("{7}{NOTOPEN}"));
}

TEST_F(SerialServerTest, SmallFilesCarryNoSizeToken)
{
    put("LOG/DOCK/ONE.CSV", "Z");
    put("LOG/DOCK/NONE.CSV", "");
    serve();
    EXPECT_EQ(client->exchange(0x93, blockRequest(1, "/LOG/DOCK/ONE.CSV")).data, QByteArray("{1}Z{END}"));
    EXPECT_EQ(client->exchange(0x93, blockRequest(1, "/LOG/DOCK/NONE.CSV")).data, QByteArray("{1}{END}"));
}

TEST_F(SerialServerTest, UploadsLandWholeOrNotAtAll)
{
    serve();
    auto announce = [&](quint32 size, const QByteArray& path) {
        QByteArray p(4, '\0');
        qToLittleEndian(size, p.data());
        return client->exchange(0x95, p + path);
    };
    auto dataFrame = [&](int block, const QByteArray& path, const QByteArray& chunk) {
        QByteArray p;
        p.append(char(block & 0xFF)).append(char(path.size())).append(path).append(chunk);
        return client->exchange(0x95, p, true);
    };

    // Empty file: the announce, then one frame with an empty chunk.
    ASSERT_EQ(announce(0, "/CONFIG/GD/EMPTY.CFG").ack, 0x06);
    Reply r = dataFrame(2, "/CONFIG/GD/EMPTY.CFG", {});
    ASSERT_EQ(r.data.size(), 2);
    EXPECT_EQ(quint8(r.data[1]), 1);
    EXPECT_TRUE(QFileInfo(root + "/CONFIG/GD/EMPTY.CFG").isFile());
    EXPECT_EQ(QFileInfo(root + "/CONFIG/GD/EMPTY.CFG").size(), 0);

    // 1000 bytes over an existing file spelled in another case.
    put("CONFIG/DOCK/DOCK.CFG", "old");
    QByteArray content(1000, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i % 251);
    const QByteArray path = "/config/dock/dock.cfg";
    announce(1000, path);
    r = dataFrame(2, path, content.left(400));
    EXPECT_EQ(quint8(r.data[1]), 0);
    EXPECT_EQ(testsupport::readAll(root + "/CONFIG/DOCK/DOCK.CFG"), QByteArray("old")) << "not before the last chunk";
    r = dataFrame(3, path, content.mid(400, 400));
    EXPECT_EQ(quint8(r.data[1]), 0);
    r = dataFrame(3, path, content.mid(400, 400)); // a retry is not appended twice
    EXPECT_EQ(quint8(r.data[1]), 0);
    r = dataFrame(4, path, content.mid(800));
    EXPECT_EQ(quint8(r.data[1]), 1);
    EXPECT_EQ(testsupport::readAll(root + "/CONFIG/DOCK/DOCK.CFG"), content);
    EXPECT_FALSE(QFileInfo::exists(root + "/config/dock/dock.cfg"));
    EXPECT_EQ(QDir(root + "/CONFIG/DOCK").entryList(QDir::Files), QStringList{"DOCK.CFG"}) << "no temporary left";

    // A block out of order or more bytes than announced: error, old file kept.
    announce(800, path);
    r = dataFrame(3, path, content.left(400));
    EXPECT_EQ(quint8(r.data[1]), 2);
    announce(300, path);
    r = dataFrame(2, path, content.left(400));
    EXPECT_EQ(quint8(r.data[1]), 2);
    EXPECT_EQ(testsupport::readAll(root + "/CONFIG/DOCK/DOCK.CFG"), content);

    // Paths that leave the tree are refused.
    announce(3, "/../ESCAPE.TXT");
    r = dataFrame(2, "/../ESCAPE.TXT", "abc");
    EXPECT_EQ(quint8(r.data[1]), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/ESCAPE.TXT"));
}

TEST_F(SerialServerTest, UploadBlockNumberWrapsAfter255)
{
    serve();
    const int frames = 300;
    QByteArray content(frames * 400 - 17, 'q');
    QByteArray p(4, '\0');
    qToLittleEndian(quint32(content.size()), p.data());
    const QByteArray path = "/FW/GD/BIG.IMG";
    client->exchange(0x95, p + path);
    quint8 block = 2;
    Reply r;
    for (int i = 0; i < frames; ++i, ++block) {
        QByteArray f;
        f.append(char(block)).append(char(path.size())).append(path).append(content.mid(i * 400, 400));
        r = client->exchange(0x95, f, true);
        ASSERT_TRUE(r.complete);
        ASSERT_EQ(quint8(r.data[1]), i + 1 == frames ? 1 : 0) << "frame " << i;
    }
    EXPECT_EQ(testsupport::readAll(root + "/FW/GD/BIG.IMG"), content);
}

TEST_F(SerialServerTest, DeletesFilesAndOnlyEmptyFolders)
{
    put("LOG/TEST/A/X.XML", "x");
    serve();
    EXPECT_EQ(client->exchange(0x96, "/LOG/TEST/A/").ack, 0x15) << "not empty";
    EXPECT_EQ(client->exchange(0x94, "/log/test/a/x.xml").ack, 0x06);
    EXPECT_FALSE(QFileInfo::exists(root + "/LOG/TEST/A/X.XML"));
    EXPECT_EQ(client->exchange(0x94, "/LOG/TEST/A/X.XML").ack, 0x15) << "already gone";
    EXPECT_EQ(client->exchange(0x96, "/LOG/TEST/A/").ack, 0x06);
    EXPECT_FALSE(QFileInfo::exists(root + "/LOG/TEST/A"));
    EXPECT_EQ(client->exchange(0x96, "/").ack, 0x15) << "never the root";
    EXPECT_EQ(client->exchange(0x94, "/CONFIG").ack, 0x15) << "a folder is not a file";
}

TEST_F(SerialServerTest, ConfigurationDownloadGoesThroughStatusFiveToIdle)
{
    serve();
    auto status = [&] {
        const Reply r = client->exchange(0x22);
        EXPECT_EQ(r.data.size(), 61);
        return r.data.isEmpty() ? -1 : int(quint8(r.data[0]));
    };
    EXPECT_EQ(status(), 2);
    ASSERT_EQ(client->exchange(0x21, QByteArray(1, char(4))).ack, 0x06);
    EXPECT_EQ(status(), 5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return status() == 2; }, 2000));

    const Reply r = client->exchange(0x23);
    ASSERT_EQ(r.data.size(), 220);
    for (int bay = 0; bay < 4; ++bay) {
        const QByteArray res = r.data.mid(32 * bay, 32);
        const QByteArray gd = r.data.mid(128 + 23 * bay, 23);
        if (bay == 3) {
            EXPECT_EQ(res[0], 0) << "bay 4 is empty";
            continue;
        }
        EXPECT_EQ(res[0], 1);
        EXPECT_EQ(int(res[4]), bay == 1 ? 2 : 1) << "configuration result of bay " << bay + 1;
        EXPECT_EQ(int(res[3]), 0) << "no firmware download ran";
        EXPECT_EQ(int(gd[3]), (QList<int>{1, 2, 4})[bay]);
        EXPECT_FALSE(gd.mid(8, 11).startsWith('\0')) << "serial number present";
    }
    const Reply log = client->exchange(0x24, QByteArray("\x01\x00", 2));
    ASSERT_EQ(log.data.size(), 252);
    EXPECT_EQ(quint8(log.data[250]), 125);
}

TEST_F(SerialServerTest, TaskFaults)
{
    SerialServerOptions o;
    o.faults = {{SerialFaultKind::NoStatus5, 0}};
    serve(o);
    client->exchange(0x21, QByteArray(1, char(3)));
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(quint8(client->exchange(0x22).data[0]), 5);

    TearDown();
    SerialServerOptions busy;
    busy.faults = {{SerialFaultKind::Busy, 0}};
    serve(busy);
    client->exchange(0x21, QByteArray(1, char(4)));
    QTest::qWait(300);
    EXPECT_EQ(quint8(client->exchange(0x22).data[0]), 5);
}

TEST_F(SerialServerTest, RebootAnswersThenRestarts)
{
    DockTiming t = DockTiming::Fast();
    t.rebootMs = 400;
    serve({}, t);
    const Reply r = client->exchange(0xF0);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.ack, 0x06);
    EXPECT_FALSE(client->exchange(0xA0, {}, false, 150).complete) << "restarting";
    QTest::qWait(400);
    EXPECT_TRUE(client->exchange(0xA0).complete);
}

TEST_F(SerialServerTest, ReplyFaults)
{
    struct Case {
        SerialFaultKind kind;
        const char* name;
    };
    const Case cases[] = {{SerialFaultKind::Silent, "silent"},          {SerialFaultKind::Garbage, "garbage"},
                          {SerialFaultKind::Truncate, "truncate"},      {SerialFaultKind::BadCrc, "bad-crc"},
                          {SerialFaultKind::BadEtx, "bad-etx"},         {SerialFaultKind::BadLength, "bad-length"},
                          {SerialFaultKind::TooLong, "too-long"},       {SerialFaultKind::Nak, "nak"},
                          {SerialFaultKind::WrongCommand, "wrong-command"}, {SerialFaultKind::Split, "split"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SerialFaultFromName(QString::fromLatin1(c.name)), c.kind);
        SerialServerOptions o;
        o.faults = {{c.kind, 0}};
        serve(o);
        const Reply r = client->exchange(0xA0, {}, false, 400);
        switch (c.kind) {
        case SerialFaultKind::Silent:
            EXPECT_TRUE(r.raw.isEmpty());
            break;
        case SerialFaultKind::Garbage:
            ASSERT_TRUE(r.complete);
            EXPECT_GT(r.raw.indexOf(char(0x02)), 0) << "noise first";
            EXPECT_TRUE(r.checksumOk && r.etxOk);
            break;
        case SerialFaultKind::Truncate:
        case SerialFaultKind::BadLength:
            EXPECT_FALSE(r.complete);
            EXPECT_FALSE(r.raw.isEmpty());
            break;
        case SerialFaultKind::BadCrc:
            ASSERT_TRUE(r.complete);
            EXPECT_FALSE(r.checksumOk);
            EXPECT_TRUE(r.etxOk);
            break;
        case SerialFaultKind::BadEtx:
            ASSERT_TRUE(r.complete);
            EXPECT_FALSE(r.etxOk);
            break;
        case SerialFaultKind::TooLong: {
            ASSERT_TRUE(r.complete);
            const int lenPlusOne = (quint8(r.raw[1]) | quint8(r.raw[2]) << 8) + 1;
            EXPECT_GT(lenPlusOne, 950);
            EXPECT_LE(lenPlusOne, 1000);
            EXPECT_TRUE(r.checksumOk);
            break;
        }
        case SerialFaultKind::Nak:
            ASSERT_TRUE(r.complete);
            EXPECT_NE(r.ack, 0x06);
            EXPECT_TRUE(r.checksumOk) << "only the ACK is wrong";
            break;
        case SerialFaultKind::WrongCommand:
            ASSERT_TRUE(r.complete);
            EXPECT_NE(r.command, 0xA0);
            EXPECT_TRUE(r.checksumOk);
            break;
        case SerialFaultKind::Split:
            ASSERT_TRUE(r.complete);
            EXPECT_TRUE(r.checksumOk);
            EXPECT_GT(r.reads, 3) << "arrives in pieces";
            break;
        default:
            break;
        }
        TearDown();
    }
}

TEST_F(SerialServerTest, LateReplyMissesTheOneSecondWindow)
{
    SerialServerOptions o;
    o.faults = {{SerialFaultKind::LateReply, 0}};
    serve(o);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(client->exchange(0xA0, {}, false, 1000).complete);
    const Reply r = client->receive(1500);
    ASSERT_TRUE(r.complete);
    EXPECT_GE(t.elapsed(), 1450);
}

TEST_F(SerialServerTest, FaultScopeHitsOneCommandAfterSkipping)
{
    put("LOG/DOCK/BIG.CSV", QByteArray(5000, 'b'));
    SerialServerOptions o;
    o.faults = {{SerialFaultKind::Silent, 0}};
    o.faultCommand = 0x93;
    o.faultSkip = 2;
    o.faultCount = 1;
    serve(o);
    EXPECT_TRUE(client->exchange(0xA0).complete);
    EXPECT_TRUE(client->exchange(0x93, blockRequest(1, "/LOG/DOCK/BIG.CSV")).complete);
    EXPECT_TRUE(client->exchange(0x93, blockRequest(2, "/LOG/DOCK/BIG.CSV"), true).complete);
    EXPECT_FALSE(client->exchange(0x93, blockRequest(3, "/LOG/DOCK/BIG.CSV"), true, 300).complete) << "dropped";
    const Reply again = client->exchange(0x93, blockRequest(3, "/LOG/DOCK/BIG.CSV"), true);
    ASSERT_TRUE(again.complete) << "the retry is answered";
    EXPECT_TRUE(again.data.startsWith("{3}"));
}

TEST_F(SerialServerTest, StopAfterBytesFallsSilentMidTransfer)
{
    put("LOG/DOCK/BIG.CSV", QByteArray(5000, 'b'));
    SerialServerOptions o;
    o.faults = {{SerialFaultKind::StopAfterBytes, 1500}};
    serve(o);
    EXPECT_TRUE(client->exchange(0x93, blockRequest(1, "/LOG/DOCK/BIG.CSV")).complete);
    const Reply cut = client->exchange(0x93, blockRequest(2, "/LOG/DOCK/BIG.CSV"), true, 300);
    EXPECT_FALSE(cut.complete);
    EXPECT_FALSE(cut.raw.isEmpty()) << "stops in the middle of a frame";
    EXPECT_TRUE(client->exchange(0xA0, {}, false, 300).raw.isEmpty());
    EXPECT_EQ(server->bytesSent(), 1500);
}

TEST_F(SerialServerTest, NoEndMarkerLeavesBlocksOpen)
{
    SerialServerOptions o;
    o.faults = {{SerialFaultKind::NoEndMarker, 0}};
    serve(o);
    const Reply r = client->exchange(0x92, blockRequest(1, "/CONFIG/"));
    ASSERT_TRUE(r.complete);
    EXPECT_TRUE(r.data.startsWith("{1}"));
    EXPECT_FALSE(r.data.contains("{END}") || r.data.contains("{MORE}"));
}

TEST_F(SerialServerTest, LineRateHoldsRepliesToTheWireTime)
{
    put("LOG/DOCK/BIG.CSV", QByteArray(900, 'b'));
    SerialServerOptions o;
    o.lineRate = true;
    serve(o);
    QElapsedTimer t;
    t.start();
    const Reply r = client->exchange(0x93, blockRequest(1, "/LOG/DOCK/BIG.CSV"));
    const qint64 ms = t.elapsed();
    ASSERT_TRUE(r.complete);
    const double wireMs = (r.raw.size() + 25) * 10.0 / 115200 * 1000; // reply + request
    EXPECT_GE(ms, wireMs - 2);
    EXPECT_LT(ms, wireMs + 60);
    EXPECT_GT(r.reads, 3) << "bytes trickle in";
}

TEST(SerialCommandArgs, ParsesOptionsAndRefusesNonsense)
{
    QString dir, fail, empty = "4", error;
    SerialServerOptions o;
    DockTiming t;
    ASSERT_TRUE(ParseServeSerialArgs({"tree", "--fast", "--line-rate", "--fault", "stop-after-bytes", "100", "--fault",
                                      "garbage", "--fault-command", "93", "--version-text", "1.6", "--fail-bays", "1,3"},
                                     dir, o, t, fail, empty, &error))
        << error.toStdString();
    EXPECT_EQ(dir, "tree");
    EXPECT_TRUE(o.lineRate);
    ASSERT_EQ(o.faults.size(), 2);
    EXPECT_EQ(o.faults[0].kind, SerialFaultKind::StopAfterBytes);
    EXPECT_EQ(o.faults[0].arg, 100);
    EXPECT_EQ(o.faultCommand, 0x93);
    EXPECT_EQ(o.versionText, "1.6");
    EXPECT_EQ(fail, "1,3");
    EXPECT_LT(t.configTaskMs, 1000);

    for (const QStringList& bad : {QStringList{}, QStringList{"a", "b"}, QStringList{"a", "--fault", "sneeze"},
                                   QStringList{"a", "--block-size", "2000"}, QStringList{"a", "--fail-bays", "5"},
                                   QStringList{"a", "--fault-command", "zz"}, QStringList{"a", "--bogus"}}) {
        SerialServerOptions o2;
        QString d, f, e = "4";
        EXPECT_FALSE(ParseServeSerialArgs(bad, d, o2, t, f, e, &error)) << bad.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST_F(SerialServerTest, SimulationRecordsBecomeLogFiles)
{
    serve();
    QByteArray sn("GD7777777");
    sn.append(QByteArray(12 - sn.size(), '\0'));
    // Event: sensor 2 (CO), HIGH, 35.0 for 90 s; 16-bit values high byte first.
    Reply r = client->exchange(0x11, sn + QByteArray("\x02\x01\x01\x5E\x00\x5A", 6));
    EXPECT_EQ(r.ack, 0x06);
    // Bump test: sensor 1, zero 0.0/0.1, 5 s, span 24.8/25.0, 20 s.
    r = client->exchange(0x12, sn + QByteArray("\x01\x00\x00\x00\x01\x05\x00\xF8\x00\xFA\x14", 11));
    EXPECT_EQ(r.ack, 0x06);
    const QStringList events = QDir(root + "/LOG/EVENT").entryList({"GD7777777_EVENT_*.CSV"}, QDir::Files);
    const QStringList tests = QDir(root + "/LOG/TEST").entryList({"GD7777777_BUMP_*.XML"}, QDir::Files);
    ASSERT_EQ(events.size(), 1);
    ASSERT_EQ(tests.size(), 1);
    EXPECT_TRUE(testsupport::readAll(root + "/LOG/EVENT/" + events[0]).contains("HIGH"));
    // Two records in the same minute do not overwrite each other.
    client->exchange(0x12, sn + QByteArray("\x01\x00\x00\x00\x01\x05\x00\xF8\x00\xFA\x14", 11));
    EXPECT_EQ(QDir(root + "/LOG/TEST").entryList({"GD7777777_BUMP_*.XML"}, QDir::Files).size(), 2);

    EXPECT_EQ(client->exchange(0x12, "short").ack, 0x15);
    EXPECT_EQ(client->exchange(0x11, QByteArray("../../X\0\0\0\0\0", 12) + QByteArray("\x02\x01\x01\x5E\x00\x5A", 6)).ack,
              0x15)
        << "a serial number is no path";
}

TEST_F(SerialServerTest, PcBumpTestRunsBayByBay)
{
    DockTiming t = DockTiming::Fast();
    t.bayTestMs = 300;
    serve({}, t);
    auto bayStatus = [&](const QByteArray& rec, int bay) { return int(quint8(rec[13 + 12 * bay])); };
    QByteArray rec = client->exchange(0x22).data;
    ASSERT_EQ(rec.size(), 61);
    EXPECT_EQ(bayStatus(rec, 0), 1) << "an idle bay with an instrument";
    EXPECT_EQ(bayStatus(rec, 3), 0) << "bay 4 is empty";
    ASSERT_EQ(client->exchange(0x21, QByteArray(1, char(7))).ack, 0x06);
    rec = client->exchange(0x22).data;
    EXPECT_EQ(int(rec[0]), 5);
    EXPECT_EQ(bayStatus(rec, 0), 7) << "bay 1 tests first";
    EXPECT_EQ(bayStatus(rec, 1), 1) << "bay 2 waits";
    // Bay 2 is tested once bay 1 has passed.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        rec = client->exchange(0x22).data;
        return bayStatus(rec, 1) == 7;
    }, 2000));
    EXPECT_EQ(bayStatus(rec, 0), 11);
    EXPECT_TRUE(QTest::qWaitFor([&] { return quint8(client->exchange(0x22).data[0]) == 2; }, 3000));
    const QByteArray res = client->exchange(0x23).data;
    ASSERT_EQ(res.size(), 220);
    EXPECT_EQ(int(res[28]), 7) << "PC command";
    EXPECT_EQ(int(res[7]), 1) << "passed";
    EXPECT_GT(qFromLittleEndian<qint16>(res.constData() + 14), 200) << "gas reading in tenths";
    // Curves are asked for by bay index 0..3.
    EXPECT_EQ(quint8(client->exchange(0x24, QByteArray("\x00\x00", 2)).data[250]), 125);
    EXPECT_EQ(quint8(client->exchange(0x24, QByteArray("\x03\x00", 2)).data[250]), 0);
}

TEST_F(SerialServerTest, InjectedEventJoinsTheInstrumentsEventFile)
{
    put("LOG/EVENT/SUB/GD5550001_EVENT_2401010800.CSV",
        "Gaviro SG CO Event Log\r\nSerial Number,GD5550001\r\nDownloaded,24-01-01 08:00\r\n"
        "Date,Time,Duration,Reading(ppm),Alarm,Option\r\n24-01-01,07:00:00,30,40,LOW,");
    serve();
    QByteArray sn("GD5550001");
    sn.append(QByteArray(12 - sn.size(), '\0'));
    // CO, HIGH, 12.5 for 301 s.
    ASSERT_EQ(client->exchange(0x11, sn + QByteArray("\x02\x01\x00\x7D\x01\x2D", 6)).ack, 0x06);
    const QStringList lines =
        QString::fromLatin1(testsupport::readAll(root + "/LOG/EVENT/SUB/GD5550001_EVENT_2401010800.CSV"))
            .split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[4], "24-01-01,07:00:00,30,40,LOW,") << "the old line stays as it was";
    EXPECT_TRUE(lines[5].contains(",301,1") && lines[5].endsWith(",HIGH,")) << lines[5].toStdString();
    EXPECT_EQ(QDir(root + "/LOG/EVENT").entryList({"*.CSV"}, QDir::Files).size(), 0) << "no new file";
    // Another sensor of the same serial number gets a file of its own.
    ASSERT_EQ(client->exchange(0x11, sn + QByteArray("\x01\x01\x00\x7D\x01\x2D", 6)).ack, 0x06);
    EXPECT_EQ(QDir(root + "/LOG/EVENT").entryList({"GD5550001_EVENT_*.CSV"}, QDir::Files).size(), 1);
}
