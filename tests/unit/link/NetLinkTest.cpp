// The network links' parsers and the exact bytes they send: the UDP reply
// grammar and listing, the TCP status line, Content-Length and directory page,
// the discovery answer and broadcast arithmetic, the address check.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include "app/LanConnect.h"
#include "lang/LangTable.h"
#include "link/tcp/TCPSkt.h"
#include "link/udp/LanDiscovery.h"
#include "link/udp/UdpSkt.h"
#include "support/TestSupport.h"

namespace {

uint8_t parse(TUdpSkt& u, uint8_t mode, const QByteArray& datagram, qint64 room = 1000)
{
    u.ResetReply(mode, room);
    u.OnDataReceived(datagram, "127.0.0.1");
    return u.FRxData.mResult;
}

} // namespace

TEST(UdpReply, ResultCodesAndEndMarkers)
{
    TUdpSkt u;
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <END>"), UDPSKT_COMM_END);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <MORE>"), UDPSKT_COMM_MORE);
    // The marker must lie in the last 21 characters.
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <END>" + QByteArray(21, 'x')), UDPSKT_COMM_WRONG_TERMINATE);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <END>" + QByteArray(16, 'x')), UDPSKT_COMM_END);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <SN>X</SN>"), UDPSKT_COMM_WRONG_TERMINATE);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:NG:205"), UDPSKT_COMM_NG_NOTEXECUTE);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:NG:210<END>"), 210);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:NG:150"), UDPSKT_COMM_NG_UNKNOWN);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:NG"), UDPSKT_COMM_NG_UNKNOWN);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "<SN>X</SN>RESULT:OK <END>"), UDPSKT_COMM_NORESULT);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, ""), UDPSKT_COMM_NORESULT);
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TEXT, "RESUL"), UDPSKT_COMM_NORESULT);
    EXPECT_EQ(TUdpSkt::GetError(205), "Condition is not correct");
    EXPECT_EQ(TUdpSkt::GetError(255), "Unknown (255)");
    EXPECT_EQ(TUdpSkt::GetError(207), "Unknown (207)");
    EXPECT_EQ(TUdpSkt::GetError(102), "Rx error (No terminator)");
}

TEST(UdpReply, TagsAreReadOnlyWhenNotBlank)
{
    TUdpSkt u;
    ASSERT_EQ(parse(u, UDPSKT_REVTYPE_TEXT,
                    "RESULT:OK <Clock>2024-05-01 12:10:30</Clock><Ver> 2.1 </Ver><SN>  </SN><Size>1234</Size>"
                    "<Id>DOCK</Id><Order>7</Order><END>"),
              0);
    EXPECT_EQ(u.FRxData.mSWVersion, "2.1");
    EXPECT_TRUE(u.FRxData.mSN.isEmpty());
    EXPECT_EQ(u.FRxData.mSize, 1234);
    EXPECT_EQ(u.FRxData.mOrder, 7);
    EXPECT_EQ(u.FRxData.mProgramId, "DOCK");
    EXPECT_DOUBLE_EQ(u.FRxData.mDate, EncodeDateTime(2024, 5, 1, 12, 10, 30));
    // A size that is no number, or unreasonable, is left at 0.
    parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <Size>12x</Size><END>");
    EXPECT_EQ(u.FRxData.mSize, 0);
    parse(u, UDPSKT_REVTYPE_TEXT, "RESULT:OK <Size>99999999999</Size><END>");
    EXPECT_EQ(u.FRxData.mSize, 0);
}

TEST(UdpReply, BinaryAndDataCollection)
{
    TUdpSkt u;
    qint64 progressed = -1;
    u.OnProgress = [&](qint64 n) { progressed = n; };
    // Binary: raw bytes between the blank line and the marker, <END> inside the data is data.
    const QByteArray raw("A<END>\r\n\0B", 10);
    ASSERT_EQ(parse(u, UDPSKT_REVTYPE_BIN, "RESULT:OK <Size>10</Size>\r\n\r\n" + raw + "<MORE>"), UDPSKT_COMM_MORE);
    EXPECT_EQ(u.FBinData, raw);
    EXPECT_EQ(progressed, 10);
    // The chain goes on into the same buffer.
    u.ResetReply(UDPSKT_REVTYPE_IGNORE, 0);
    u.OnDataReceived("RESULT:OK \r\n\r\nXYZ<END>", "127.0.0.1");
    EXPECT_EQ(u.FRxData.mResult, UDPSKT_COMM_END);
    EXPECT_EQ(u.FBinData, raw + "XYZ");
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_BIN, "RESULT:OK \r\n\r\nXYZ<END> "), UDPSKT_COMM_WRONG_TERMINATE);
    EXPECT_EQ(u.FBinDataPos, 0);

    // More than the command reserved is refused, never written past the buffer.
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_BIN, "RESULT:OK \r\n\r\n" + QByteArray(11, 'x') + "<END>", 10),
              UDPSKT_COMM_TOOLONG);
    EXPECT_EQ(u.FBinDataPos, 0);

    ASSERT_EQ(parse(u, UDPSKT_REVTYPE_TXTDATA, "RESULT:OK <Data><file>x</file></Data><MORE>"), UDPSKT_COMM_MORE);
    EXPECT_EQ(u.FBinData, "<file>x</file>");
    EXPECT_EQ(parse(u, UDPSKT_REVTYPE_TXTDATA, "RESULT:OK <Data>unclosed<END>"), UDPSKT_COMM_END);
    EXPECT_EQ(u.FBinDataPos, 0);
}

TEST(UdpListing, ElementsFieldsAndHostileNames)
{
    QVector<RFileList> list;
    TUdpSkt::ParseListing(
        "<file>name=\"A_EVENT_2405011210.CSV\" time=\"20240501121000\" size=\"120\"</file>"
        "<file>name=\"SUB/\" time=\"20240501121000\"</file>"
        "<file>name=\"NOSIZE.CSV\" time=\"20240501121000\"</file>"
        "<file>name=\"./\" time=\"20240501121000\"</file>"
        "<file>name=\"../\" time=\"20240501121000\"</file>"
        "<file>name=\"../../X.CSV\" time=\"1\" size=\"1\"</file>"
        "<file>name=\"/ETC/X.CSV\" time=\"1\" size=\"1\"</file>"
        "<file>name=\"A\\B.CSV\" time=\"1\" size=\"1\"</file>"
        "<file>name=\"NEG.CSV\" time=\"1\" size=\"-4\"</file>"
        "<file>name=\"NOTIME.CSV\" size=\"1\"</file>"
        "<file>name=\"B.CSV\" time=\"20240501121100\" size=\"7\"</file>"
        "<file>name=\"UNCLOSED.CSV\" time=\"1\" size=\"1\"",
        "/LOG/EVENT/", list);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].mName, "/LOG/EVENT/A_EVENT_2405011210.CSV");
    EXPECT_EQ(list[0].mSize, 120);
    EXPECT_EQ(list[0].mDateStr, "20240501121000");
    EXPECT_FALSE(list[0].mDir);
    EXPECT_EQ(list[1].mName, "/LOG/EVENT/SUB/");
    EXPECT_TRUE(list[1].mDir);
    EXPECT_EQ(list[1].mSize, 0);
    EXPECT_EQ(list[2].mName, "/LOG/EVENT/B.CSV");
    list.clear();
    TUdpSkt::ParseListing("", "/", list);
    TUdpSkt::ParseListing("<file></file>", "/", list);
    EXPECT_TRUE(list.isEmpty());
}

TEST(UdpAddress, OpenCommChecksTheAddress)
{
    EXPECT_EQ(TUdpSkt::CheckAddress("192.168.10.37"), "192.168.10.37");
    EXPECT_EQ(TUdpSkt::CheckAddress(" 10.0.0.5 "), "10.0.0.5");
    EXPECT_EQ(TUdpSkt::CheckAddress("127.000.0.1"), "127.0.0.1");
    for (const char* bad : {"0.1.2.3", "1.2.3.256", "1.2.3", "a.b.c.d", "", "1.-2.3.4", "255.255.255.255", "1..2.3"})
        EXPECT_TRUE(TUdpSkt::CheckAddress(bad).isEmpty()) << bad;

    TUdpSkt u;
    EXPECT_FALSE(u.OpenComm("0.1.2.3"));
    EXPECT_EQ(u.FErrStr, LangText(621) + " ... 0.1.2.3");
    EXPECT_FALSE(u.IsOpen());
    TTCPSkt t;
    EXPECT_FALSE(t.OpenComm("300.1.1.1"));
    EXPECT_EQ(t.FErrStr, LangText(621) + " ... 300.1.1.1");
}

namespace {

// A scripted dock on loopback: records each datagram, answers from a script.
struct FakeDock {
    QUdpSocket socket;
    QList<QByteArray> got;
    std::function<QList<QByteArray>(const QByteArray&)> answer;
    quint16 port = 0;
    bool start()
    {
        for (int i = 0; i < 50; ++i) {
            if (!socket.bind(QHostAddress("127.0.0.1"), 0))
                return false;
            port = socket.localPort();
            QUdpSocket probe;
            if (port < 65535 && probe.bind(QHostAddress::AnyIPv4, quint16(port + 1)))
                break;
            socket.close();
        }
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray d(int(socket.pendingDatagramSize()), '\0');
                QHostAddress from;
                socket.readDatagram(d.data(), d.size(), &from);
                got << d;
                if (answer)
                    for (const QByteArray& a : answer(d))
                        socket.writeDatagram(a, from, quint16(port + 1));
            }
        });
        return socket.state() == QAbstractSocket::BoundState;
    }
};

} // namespace

TEST(UdpCommands, BytesOnTheWireAndChains)
{
    testsupport::ScopedTempRoot tmp;
    FakeDock dock;
    ASSERT_TRUE(dock.start());
    int part = 0;
    dock.answer = [&](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        if (d.startsWith("GET List"))
            return {part++ == 0 ? "RESULT:OK <Data><file>name=\"A.CSV\" time=\"20240101000000\" size=\"3\"</file></Data><MORE>"
                                : "RESULT:OK <Data><file>name=\"B/\" time=\"20240101000000\"</file></Data><END>"};
        if (d.startsWith("GET File"))
            return {d.contains("order=0") ? "RESULT:OK \r\n\r\nab<MORE>" : "RESULT:OK \r\n\r\nc<END>"};
        if (d.startsWith("PUT File"))
            return {d.contains("order=2 ") ? "RESULT:OK <END>" : "RESULT:OK <MORE>"};
        if (d.startsWith("SET Time"))
            return {"RESULT:OK <Clock>2024-01-02 03:04:05</Clock><END>"};
        return {"RESULT:OK <SN>S1</SN><Ver>1.7</Ver><Clock>2024-01-02 03:04:05</Clock><END>"};
    };
    TUdpSkt u;
    u.RemotePort = dock.port;
    u.FResetPauseMs = 0;
    ASSERT_TRUE(u.OpenComm("127.0.0.1"));
    EXPECT_EQ(u.LocalPort(), dock.port + 1);

    QString sn, ver;
    ASSERT_EQ(u.GetDeviceInfo(sn, ver), 0);
    EXPECT_EQ(sn, "S1");
    EXPECT_EQ(ver, "1.7");
    EXPECT_DOUBLE_EQ(u.ReadRtc(), EncodeDateTime(2024, 1, 2, 3, 4, 5));
    EXPECT_DOUBLE_EQ(u.SetRtc(EncodeDateTime(1970, 1, 2, 0, 0, 0)), EncodeDateTime(2024, 1, 2, 3, 4, 5));
    u.UnitReset();
    u.SendExtCommand(4);
    u.DeviceReset();
    QVector<RFileList> list;
    ASSERT_EQ(u.GetFileList("/LOG/DOCK/", list), 0);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].mName, "/LOG/DOCK/B/");
    const QString local = tmp.path() + "/a.bin";
    ASSERT_EQ(u.LoadFile(local, "/LOG/DOCK/A.CSV", 3), 0);
    EXPECT_EQ(testsupport::readAll(local), "abc");
    const QByteArray big(900, 'z');
    testsupport::writeAll(tmp.path() + "/up.bin", big);
    ASSERT_EQ(u.SaveFile("/CONFIG/X.CFG", tmp.path() + "/up.bin"), 0);
    EXPECT_EQ(u.DeleteFile("/LOG/A.CSV"), 0);
    EXPECT_EQ(u.DeleteDirectory("/LOG/B/"), 0);
    u.CloseComm();

    const QList<QByteArray> want = {
        "GET Inform", "GET Inform", "SET Time 86400@", "REBOOT ", "TEST 4@", "RESET",
        "GET List /LOG/DOCK/@order=0 ", "GET List /LOG/DOCK/@order=1 ", "RESET",
        "GET File /LOG/DOCK/A.CSV@order=0 ", "GET File /LOG/DOCK/A.CSV@order=1 ", "RESET",
        "PUT File /CONFIG/X.CFG@order=0 filesize=900 ",
        "PUT File /CONFIG/X.CFG@order=1 size=700 \r\n\r\n" + QByteArray(700, 'z'), "RESET",
        "PUT File /CONFIG/X.CFG@order=2 size=200 \r\n\r\n" + QByteArray(200, 'z'), "RESET", "RESET",
        "DEL File /LOG/A.CSV@", "DEL Folder /LOG/B/@"};
    ASSERT_EQ(dock.got.size(), want.size());
    for (int i = 0; i < want.size(); ++i)
        EXPECT_EQ(dock.got[i], want[i]) << i;
}

// A command started from inside an exchange (an event handler) is refused before it
// touches the reply in flight; the listing stays whole.
TEST(UdpCommands, NestedCommandLeavesTheExchangeInFlightAlone)
{
    FakeDock dock;
    ASSERT_TRUE(dock.start());
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        if (d.contains("order=0"))
            return {"RESULT:OK <Order>0</Order><Data><file>name=\"A.CSV\" time=\"20240101000000\" size=\"3\"</file></Data><MORE>"};
        return {"RESULT:OK <Order>1</Order><Data><file>name=\"B.CSV\" time=\"20240101000000\" size=\"4\"</file></Data><END>"};
    };
    TUdpSkt u;
    u.RemotePort = dock.port;
    u.FResetPauseMs = 0;
    ASSERT_TRUE(u.OpenComm("127.0.0.1"));
    int nested = 0;
    u.OnRead = [&](const QString&) {
        ++nested;
        EXPECT_EQ(u.SendCommand("NESTED", UDPSKT_REVTYPE_TEXT, 0, "GET Inform"), UDPSKT_COMM_NOREPLY);
    };
    QVector<RFileList> list;
    ASSERT_EQ(u.GetFileList("/LOG/DOCK/", list), 0);
    u.OnRead = nullptr;
    EXPECT_EQ(nested, 2);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].mName, "/LOG/DOCK/B.CSV");
    for (const QByteArray& d : dock.got)
        EXPECT_NE(d, "GET Inform");
}

// Only the dock's address and port answer; a reply of another exchange (another
// size) is passed over, and after a time-out the dock is first heard again.
TEST(UdpCommands, RepliesOfOthersAndLateRepliesArePassedOver)
{
    testsupport::ScopedTempRoot tmp;
    FakeDock dock;
    ASSERT_TRUE(dock.start());
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.1"), 0));
    int fileRequests = 0;
    dock.answer = [&](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        if (d == "GET Inform")
            return {"RESULT:OK <SN>S1</SN><END>"};
        if (d.startsWith("GET File")) {
            // Another port of the same host sends a well-formed reply first.
            stranger.writeDatagram("RESULT:OK <Size>3</Size><Order>0</Order>\r\n\r\nZZZ<END>", QHostAddress("127.0.0.1"),
                                   quint16(dock.port + 1));
            // The first request gets no answer in time; its answer comes with the next one.
            if (++fileRequests == 1)
                return {};
            if (fileRequests == 2)
                return {"RESULT:OK <Size>5</Size><Order>0</Order>\r\n\r\nWRONG<END>"};
            return {"RESULT:OK <Size>3</Size><Order>0</Order>\r\n\r\nabc<END>"};
        }
        return {};
    };
    TUdpSkt u;
    u.RemotePort = dock.port;
    u.FResetPauseMs = 0;
    u.FReplyTimeoutMs = 300;
    ASSERT_TRUE(u.OpenComm("127.0.0.1"));
    const QString local = tmp.path() + "/f.bin";
    EXPECT_EQ(u.LoadFile(local, "/F", 3), UDPSKT_COMM_NOREPLY);
    EXPECT_FALSE(QFileInfo::exists(local));
    // The next request waits for the dock to catch up, passes the wrong size over
    // and takes only its own reply.
    EXPECT_EQ(u.LoadFile(local, "/F", 3), UDPSKT_COMM_NOREPLY);
    EXPECT_FALSE(QFileInfo::exists(local));
    EXPECT_FALSE(u.DockGone()); // the catch-up was answered: not two silent exchanges in a row
    ASSERT_EQ(u.LoadFile(local, "/F", 3), UDPSKT_COMM_END);
    EXPECT_EQ(testsupport::readAll(local), "abc");
    EXPECT_GE(u.FIgnored, 3);
    EXPECT_TRUE(dock.got.contains("GET Inform"));
    u.CloseComm();
}

TEST(UdpCommands, UploadEndingEarlyAndEmptyFile)
{
    testsupport::ScopedTempRoot tmp;
    FakeDock dock;
    ASSERT_TRUE(dock.start());
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {"RESULT:OK <END>"};
    };
    TUdpSkt u;
    u.RemotePort = dock.port;
    u.FResetPauseMs = 0;
    ASSERT_TRUE(u.OpenComm("127.0.0.1"));
    testsupport::writeAll(tmp.path() + "/empty.bin", "");
    EXPECT_EQ(u.SaveFile("/E.CFG", tmp.path() + "/empty.bin"), 0);
    testsupport::writeAll(tmp.path() + "/some.bin", "12345");
    EXPECT_EQ(u.SaveFile("/S.CFG", tmp.path() + "/some.bin"), UDPSKT_COMM_WRONG_NOTALLSEND);
    EXPECT_EQ(u.SaveFile("/S.CFG", tmp.path() + "/missing.bin"), UDPSKT_COMM_FILE_ERROR);

    // A listing chain ending with 102 gives 102 and no entries.
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {"RESULT:OK <Data><file>name=\"A.CSV\" time=\"1\" size=\"1\"</file></Data>"};
    };
    QVector<RFileList> list;
    EXPECT_EQ(u.GetFileList("/LOG/", list), UDPSKT_COMM_WRONG_TERMINATE);
    EXPECT_TRUE(list.isEmpty());
    // A dock that says "more" with nothing in it does not keep the PC asking for ever.
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {"RESULT:OK <Data></Data><MORE>"};
    };
    EXPECT_EQ(u.GetFileList("/LOG/", list), UDPSKT_COMM_WRONG_TERMINATE);
    // A second answer to one request is not added to the collection twice.
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {"RESULT:OK \r\n\r\nab<END>", "RESULT:OK \r\n\r\nab<END>"};
    };
    ASSERT_EQ(u.LoadFile(tmp.path() + "/twice.bin", "/T", 2), 0);
    EXPECT_EQ(testsupport::readAll(tmp.path() + "/twice.bin"), "ab");
    ASSERT_EQ(u.LoadFile(tmp.path() + "/twice.bin", "/T", 2), 0);
    EXPECT_EQ(testsupport::readAll(tmp.path() + "/twice.bin"), "ab");
}

TEST(UdpCommands, RepeatedOrLostPartsNeverMakeAFile)
{
    testsupport::ScopedTempRoot tmp;
    FakeDock dock;
    ASSERT_TRUE(dock.start());
    TUdpSkt u;
    u.RemotePort = dock.port;
    u.FResetPauseMs = 0;
    ASSERT_TRUE(u.OpenComm("127.0.0.1"));
    const QString local = tmp.path() + "/f.bin";
    // The dock answers the second request with the first part again.
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {"RESULT:OK <Size>4</Size><Order>0</Order>\r\n\r\nab<MORE>"};
    };
    // A part that is not the one asked for answers an earlier request: passed over.
    u.FReplyTimeoutMs = 300;
    EXPECT_EQ(u.LoadFile(local, "/F", 4), UDPSKT_COMM_NOREPLY);
    EXPECT_FALSE(QFileInfo::exists(local));
    EXPECT_GT(u.FIgnored, 0);
    // Without order tags: the repeated part makes the file longer than its size.
    dock.answer = [](const QByteArray& d) -> QList<QByteArray> {
        if (d == "RESET")
            return {};
        return {d.contains("order=2") ? "RESULT:OK <Size>4</Size>\r\n\r\nab<END>"
                                      : "RESULT:OK <Size>4</Size>\r\n\r\nab<MORE>"};
    };
    ASSERT_TRUE(u.OpenComm("127.0.0.1")); // a new operation: the silence above is forgotten
    EXPECT_EQ(u.LoadFile(local, "/F", 4), UDPSKT_COMM_TOOLONG);
    EXPECT_FALSE(QFileInfo::exists(local));
}

namespace {

// A web server on loopback that gives one canned answer per connection.
struct FakeWeb {
    QTcpServer server;
    QByteArray answer;
    bool start()
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    s->readAll();
                    s->write(answer);
                    s->disconnectFromHost();
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        return server.listen(QHostAddress("127.0.0.1"), 0);
    }
};

} // namespace

TEST(TcpResponse, AnswersThatAreNotWhatTheyClaim)
{
    testsupport::ScopedTempRoot tmp;
    FakeWeb web;
    ASSERT_TRUE(web.start());
    TTCPSkt t;
    t.Port = web.server.serverPort();
    t.FAfterPauseMs = 0;
    t.FIdleMs = 300;
    t.FFirstByteMs = 300;
    ASSERT_TRUE(t.OpenComm("127.0.0.1"));
    const QString local = tmp.path() + "/f.bin";
    struct Case {
        QByteArray answer;
        uint8_t code;
    } const cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc", TCPSKT_COMM_OK},
        {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", TCPSKT_COMM_TOOLONG},
        // A length other than the file's listed size is not that file.
        {"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabc", TCPSKT_COMM_TOOLONG},
        {"HTTP/1.0 200 OK\r\n\r\nab", TCPSKT_COMM_SHORTBODY},
        {"HTTP/1.0 200 ok\r\n\r\nabc", TCPSKT_COMM_NGNONE},
        {"200 OK\r\n\r\nabc", TCPSKT_COMM_TIMEOUT},
        {"HTTP/1.0 404 Nope\r\n\r\n", TCPSKT_COMM_NG404},
        {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n" + QByteArray(2000, 'x'), TCPSKT_COMM_TOOLONG},
    };
    for (const Case& c : cases) {
        web.answer = c.answer;
        testsupport::writeAll(local, "older");
        EXPECT_EQ(t.LoadFile(local, "/F.CFG", 3), c.code) << c.answer.left(40).toStdString();
        EXPECT_EQ(QFileInfo::exists(local), c.code == 0) << c.answer.left(40).toStdString();
    }
    web.answer = "HTTP/1.0 200 OK\r\nServer: dock\r\nContent-Length: 1234\r\nX-More: 1\r\n\r\n";
    qint64 size = 0;
    EXPECT_EQ(t.GetFileSize("/F.CFG", size), 0);
    EXPECT_EQ(size, 1234);
    web.answer = "HTTP/1.0 200 OK\r\n\r\nModel:D, S/N:GD77, Rev:2.4,<br>Dock clock: 2024-05-01 12:10:30<br>";
    QString sn, ver;
    EXPECT_EQ(t.GetDeviceInfo(sn, ver), 0);
    EXPECT_EQ(sn, "GD77");
    EXPECT_EQ(ver, "2.4");
    EXPECT_DOUBLE_EQ(t.ReadRtc(), EncodeDateTime(2024, 5, 1, 12, 10, 30));
    t.CloseComm();
}

TEST(TcpResponse, StatusTextAndContentLength)
{
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 200 OK\r\n\r\n"), TCPSKT_COMM_OK);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 200 Ok\r\n"), TCPSKT_COMM_NGNONE);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 200 OK \r\n"), TCPSKT_COMM_NGNONE);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 404 Whatever it says\r\n"), TCPSKT_COMM_NG404);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 400\r\n"), TCPSKT_COMM_NG400);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.0 500 Oops\r\n"), TCPSKT_COMM_NGNONE);
    EXPECT_EQ(TTCPSkt::CheckStatus("HTTP/1.1 200 OK\r\n"), TCPSKT_COMM_TIMEOUT);
    EXPECT_EQ(TTCPSkt::CheckStatus("<html>no status line</html>"), TCPSKT_COMM_TIMEOUT);
    EXPECT_EQ(TTCPSkt::CheckStatus(""), TCPSKT_COMM_TIMEOUT);
    EXPECT_EQ(TTCPSkt::GetError(2), "404 Not founded");
    EXPECT_EQ(TTCPSkt::GetError(254), "Server close");
    EXPECT_EQ(TTCPSkt::GetError(99), "Unknown (99)");

    EXPECT_EQ(TTCPSkt::ContentLength("HTTP/1.0 200 OK\r\nContent-Length: 1234\r\nServer: x\r\nX: 9\r\n\r\n"), 1234);
    EXPECT_EQ(TTCPSkt::ContentLength("Content-Length:77x"), 77);
    EXPECT_EQ(TTCPSkt::ContentLength("Content-Length: \r\n"), -1);
    EXPECT_EQ(TTCPSkt::ContentLength("no length"), -1);
    EXPECT_GE(TTCPSkt::ContentLength("Content-Length: 99999999999999999999999"), 0);
}

TEST(TcpDirectoryPage, EntriesAndHostileRows)
{
    const QByteArray page =
        "<html><table><tr><td>Name</td><td>Date</td><td>Size</td><td></td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/SH0001_CAL_2405011210.XML\">SH0001_CAL_2405011210.XML</a></td>"
        "<td>2024-05-01 12:10:00</td><td>1234 Bytes</td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/SUB/\">SUB/</a></td><td>2024-05-01 12:10:00</td><td>-</td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/../../ETC/X\">X</a></td><td>2024-05-01 12:10:00</td><td>5 Bytes</td></tr>\n"
        "<tr><td><a href=\"/CONFIG/DOCK/DOCK.CFG\">DOCK.CFG</a></td><td>2024</td><td>5 Bytes</td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/./\">./</a></td><td>2024</td><td>-</td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/B.XML\">B.XML</a></td><td>2024-05-02 00:00:00</td><td> 7 Bytes</td></tr>\n"
        "<tr><td><a href=\"/LOG/TEST/CUT.XML\">CUT</a></td><td>2024";
    QVector<RFileList> list;
    TTCPSkt::ParseDirectoryPage(page, "/LOG/TEST/", list);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].mName, "/LOG/TEST/SH0001_CAL_2405011210.XML");
    EXPECT_EQ(list[0].mDateStr, "2024-05-01 12:10:00");
    EXPECT_EQ(list[0].mSize, 1234);
    EXPECT_EQ(list[1].mName, "/LOG/TEST/SUB/");
    EXPECT_TRUE(list[1].mDir);
    EXPECT_EQ(list[2].mName, "/LOG/TEST/B.XML");
    EXPECT_EQ(list[2].mSize, 7);
    list.clear();
    TTCPSkt::ParseDirectoryPage("<html>200 OK but no table</html>", "/LOG/TEST/", list);
    EXPECT_TRUE(list.isEmpty());
}

TEST(TcpUpload, HeaderBlockByteForByte)
{
    EXPECT_EQ(TTCPSkt::UploadRequest("/CONFIG/DOCK/DOCK.CFG", "abc"),
              QByteArray("PUT /CONFIG/DOCK/DOCK.CFG@ HTTP/1.1\r\n"
                         "Content-Type:text/plain\r\n"
                         "Cache-control: no-cache\r\n"
                         "Cache-control: no-store\r\n"
                         "Pragma: no-cache\r\n"
                         "Expires: 0\r\n"
                         "\r\n"
                         "Content-Length: 3 \r\n"
                         "\r\n"
                         "abc"));
}

TEST(LanDiscovery, BroadcastArithmetic)
{
    EXPECT_EQ(LanBroadcastAddress("192.168.10.37", "255.255.255.0"), "192.168.10.255");
    EXPECT_EQ(LanBroadcastAddress("192.168.10.37", "255.255.0.0"), "192.168.255.255");
    EXPECT_EQ(LanBroadcastAddress("192.168.10.37", "0.0.0.0"), "255.255.255.255");
    EXPECT_EQ(LanBroadcastAddress("127.0.0.1", "255.0.0.0"), "127.255.255.255");
    EXPECT_EQ(LanBroadcastAddress("127.0.0.1", "255.255.255.0"), "127.0.0.255");
    // Parts outside 1..255 count as 0.
    EXPECT_EQ(LanBroadcastAddress("10.0.300.4", "255.255.255.x"), "10.0.0.255");

    TLanDiscovery d;
    d.SubnetMask = "0.0.0.0";
    // A loopback network never broadcasts beyond loopback, whatever the mask.
    const QVector<RMyIp> nets = d.Networks({"127.0.0.1", "192.168.10.37"});
    EXPECT_EQ(nets[0].mBroadCastIp, "127.255.255.255");
    EXPECT_EQ(nets[1].mBroadCastIp, "255.255.255.255");

    EXPECT_EQ(RestrictInterfaces({"192.168.1.5", "127.0.0.1"}, ""), QStringList({"192.168.1.5", "127.0.0.1"}));
    EXPECT_EQ(RestrictInterfaces({"192.168.1.5", "127.0.0.1"}, " 127.0.0.1 ,10.1.1.1"), QStringList{"127.0.0.1"});
    EXPECT_TRUE(RestrictInterfaces({"192.168.1.5"}, "127.0.0.1").isEmpty());
}

TEST(LanDiscovery, AnswerFields)
{
    RDockLanInfo i;
    ASSERT_TRUE(ParseLanAnswer("[GD123]1[192.168.1.20][192.168.1.21][192.168.1.1][255.255.255.0][8.8.8.8][00:11:22]", i));
    EXPECT_EQ(i.mSN, "GD123");
    EXPECT_EQ(i.mDhcpStatus, 1);
    EXPECT_EQ(i.mIp, "192.168.1.20");
    EXPECT_EQ(i.mDhcpIp, "192.168.1.21");
    EXPECT_EQ(i.mGateway, "192.168.1.1");
    EXPECT_EQ(i.mSubNetMask, "255.255.255.0");
    EXPECT_EQ(i.mDNS, "8.8.8.8");
    EXPECT_EQ(i.mMac, "00:11:22");
    // Missing fields keep what there is; the serial number and address are needed.
    ASSERT_TRUE(ParseLanAnswer("junk[GD9] 0 [10.0.0.9]", i));
    EXPECT_EQ(i.mDhcpStatus, 0);
    EXPECT_EQ(i.mIp, "10.0.0.9");
    EXPECT_TRUE(i.mMac.isEmpty());
    EXPECT_FALSE(ParseLanAnswer("GD9 10.0.0.9", i));
    EXPECT_FALSE(ParseLanAnswer("[GD9]x[not an address]", i));
    EXPECT_FALSE(ParseLanAnswer("[][10.0.0.9]", i));
    EXPECT_FALSE(ParseLanAnswer("[GD9][10.0.0.9", i));
    ASSERT_TRUE(ParseLanAnswer("[" + QByteArray(200, 'S') + "]1[10.0.0.9]", i));
    EXPECT_EQ(i.mSN.size(), 64);
}

TEST(LanDiscovery, ADockAskedDirectlyCountsOnlyWhenItAnswersItself)
{
    // The dock on 127.0.0.1 answers every CONNECT, late: after its own search.
    FakeDock net;
    ASSERT_TRUE(net.start());
    net.answer = [](const QByteArray& d) -> QList<QByteArray> {
        return d == "CONNECT" ? QList<QByteArray>{"[GD1]1[127.0.0.1]"} : QList<QByteArray>{};
    };
    TLanDiscovery d;
    d.DockPort = net.port;
    QVector<RDockLanInfo> list;
    ASSERT_TRUE(d.Search({RMyIp{"127.0.0.1", "127.0.0.1"}}, 0.1, 0.3, list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].mSN, "GD1");
    // Asking 127.0.0.9 (nobody there) while 127.0.0.1 still answers: nothing found.
    QTimer late;
    QObject::connect(&late, &QTimer::timeout, [&] {
        net.socket.writeDatagram("[GD1]1[127.0.0.1]", QHostAddress("127.0.0.1"), quint16(net.port + 1));
    });
    late.start(50);
    ASSERT_TRUE(d.Search({RMyIp{"127.0.0.9", "127.0.0.9"}}, 0.1, 0.4, list));
    EXPECT_EQ(list.size(), 1);
}

TEST(LanDiscovery, FloodOfAnswersAndForeignDatagrams)
{
    // A scripted "network" on 127.0.0.1: every CONNECT is answered by a flood.
    FakeDock net;
    ASSERT_TRUE(net.start());
    int connects = 0;
    net.answer = [&](const QByteArray& d) -> QList<QByteArray> {
        if (d != "CONNECT")
            return {};
        ++connects;
        QList<QByteArray> out{"garbage without brackets", QByteArray(300, '['),
                              "[BIG]1[127.0.0.5]" + QByteArray(400, 'x'), "[TWICE]1[127.0.0.6]",
                              "[TWICE]1[127.0.0.6]", "[TWICE]1[127.0.0.7]"};
        // Bursts the socket's receive queue takes; more docks over the repeats than are listed.
        for (int i = 0; i < 120; ++i)
            out << "[F" + QByteArray::number(connects) + '_' + QByteArray::number(i) + "]1[127.0.1." +
                       QByteArray::number(i + 1) + "]";
        return out;
    };
    TLanDiscovery d;
    d.DockPort = net.port;
    QStringList log;
    d.OnLog = [&](const QString& s) { log << s; };
    QVector<RDockLanInfo> list;
    ASSERT_TRUE(d.Search({RMyIp{"127.0.0.1", "127.0.0.1"}}, 0.2, 1.0, list));
    EXPECT_GE(connects, 4); // the first broadcast and the repeats
    ASSERT_EQ(list.size(), LAN_MAX_DOCKS + 1);
    EXPECT_EQ(list[0].mDhcpStatus, 255);
    EXPECT_EQ(list[1].mSN, "TWICE");
    EXPECT_EQ(list[1].mIp, "127.0.0.6");
    EXPECT_EQ(list[2].mIp, "127.0.0.7"); // same serial, another address: listed
    for (const RDockLanInfo& e : list)
        EXPECT_NE(e.mSN, "BIG");
    EXPECT_TRUE(log.join('\n').contains("not listed"));
    // No network: the previous list stays as it was.
    const auto before = list;
    EXPECT_FALSE(d.Search({}, 0.3, 0.5, list));
    EXPECT_EQ(list.size(), before.size());
}
