// The simulator's network side answering as a dock: chains by order number, the
// upload across reset datagrams, the web server's pages and refusals.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "Fixture.h"
#include "NetDockServer.h"
#include "support/TestSupport.h"

using namespace docksim;

namespace {

class NetServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(WriteFixture(dir.path(), FixtureSize::Small, 5).ok());
        server = std::make_unique<NetDockServer>(dir.path(), NetServerOptions{});
    }
    QTemporaryDir dir;
    std::unique_ptr<NetDockServer> server;
};

} // namespace

TEST_F(NetServer, DownloadChainCoversTheFileExactly)
{
    const QByteArray file = testsupport::readAll(dir.path() + "/CONFIG/DOCK/DOCK.CFG") + QByteArray(4000, 'x');
    testsupport::writeAll(dir.path() + "/CONFIG/DOCK/BIG.CFG", file);
    QByteArray got;
    for (int k = 0;; ++k) {
        const QByteArray r = server->udpAnswer("GET File /config/dock/big.cfg@order=" + QByteArray::number(k) + ' ');
        ASSERT_TRUE(r.startsWith("RESULT:OK")) << r.left(40).toStdString();
        ASSERT_LE(r.size(), 2000);
        const qsizetype body = r.indexOf("\r\n\r\n") + 4;
        const bool more = r.endsWith("<MORE>");
        got += r.mid(body, r.size() - body - (more ? 6 : 5));
        if (!more)
            break;
    }
    EXPECT_EQ(got, file);
    EXPECT_EQ(server->udpAnswer("GET File /CONFIG/DOCK/BIG.CFG@order=99 "), "RESULT:NG:202");
    EXPECT_EQ(server->udpAnswer("GET File /NO/SUCH.CFG@order=0 "), "RESULT:NG:203");
    EXPECT_EQ(server->udpAnswer("GET File /../etc/passwd@order=0 "), "RESULT:NG:203");
}

TEST_F(NetServer, UploadSurvivesResetsAndChecksOrder)
{
    ASSERT_EQ(server->udpAnswer("PUT File /CONFIG/NEW.CFG@order=0 filesize=5 "), "RESULT:OK <MORE>");
    EXPECT_TRUE(server->udpAnswer("RESET").isEmpty());
    EXPECT_EQ(server->udpAnswer("PUT File /CONFIG/NEW.CFG@order=2 size=2 \r\n\r\nab"), "RESULT:NG:202");
    EXPECT_EQ(server->udpAnswer("PUT File /CONFIG/NEW.CFG@order=1 size=3 \r\n\r\nabc"), "RESULT:OK <MORE>");
    EXPECT_TRUE(server->udpAnswer("RESET").isEmpty());
    EXPECT_EQ(server->udpAnswer("PUT File /CONFIG/NEW.CFG@order=2 size=2 \r\n\r\nde"), "RESULT:OK <END>");
    EXPECT_EQ(testsupport::readAll(dir.path() + "/CONFIG/NEW.CFG"), "abcde");
    // A chunk whose size disagrees with its bytes is refused.
    server->udpAnswer("PUT File /CONFIG/N2.CFG@order=0 filesize=5 ");
    EXPECT_EQ(server->udpAnswer("PUT File /CONFIG/N2.CFG@order=1 size=4 \r\n\r\nabc"), "RESULT:NG:201");
}

TEST_F(NetServer, DiscoveryAnswerAndWebPages)
{
    const QByteArray a = server->discoveryAnswer();
    EXPECT_TRUE(a.startsWith("[" + server->state().serial().toLatin1() + "]1[127.0.0.1]")) << a.toStdString();
    EXPECT_LE(a.size(), 256);

    const QByteArray index = server->httpAnswer("GET /index.htm HTTP/1.1\r\n");
    EXPECT_TRUE(index.startsWith("HTTP/1.0 200 OK\r\n"));
    EXPECT_TRUE(index.contains("S/N:" + server->state().serial().toLatin1() + ","));
    EXPECT_TRUE(index.contains("Dock clock: "));
    const QByteArray head = server->httpAnswer("HEAD /CONFIG/DOCK/DOCK.CFG@ HTTP/1.1\r\n");
    EXPECT_TRUE(head.contains("Content-Length: " +
                              QByteArray::number(testsupport::readAll(dir.path() + "/CONFIG/DOCK/DOCK.CFG").size())));
    EXPECT_TRUE(server->httpAnswer("GET /LOG/TEST/@ HTTP/1.1\r\n").contains("</td><td></td></tr>"));
    EXPECT_TRUE(server->httpAnswer("GET /NOPE/@ HTTP/1.1\r\n").startsWith("HTTP/1.0 404"));
    EXPECT_TRUE(server->httpAnswer("GET /index.htm\r\n").startsWith("HTTP/1.0 400"));
    const QByteArray body = "hello";
    const QByteArray put = "PUT /CONFIG/UP.CFG@ HTTP/1.1\r\nContent-Type:text/plain\r\n\r\nContent-Length: 5 \r\n\r\n" + body;
    EXPECT_TRUE(server->httpAnswer(put).startsWith("HTTP/1.0 200 OK"));
    EXPECT_EQ(testsupport::readAll(dir.path() + "/CONFIG/UP.CFG"), body);
    EXPECT_TRUE(server->httpAnswer("GET /www/time.htm?epoch=86400  HTTP/1.1\r\n").startsWith("HTTP/1.0 200 OK"));
    EXPECT_NEAR(double(server->state().clockSeconds()), 86400.0, 2.0);
}
