// The frame exchange and the file transfers of the USB cable link against a
// scripted dock.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "FakeDock.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

using namespace serialtest;

namespace {

QByteArray u32(uint32_t v)
{
    QByteArray d(4, '\0');
    for (int i = 0; i < 4; ++i)
        d[i] = char((v >> (8 * i)) & 0xFF);
    return d;
}

} // namespace

TEST(DockCommExchange, RequestFrameAndHistoryTexts)
{
    Link link;
    QStringList sent, data;
    link.comm.OnSend = [&](const QString& s) { sent << s; };
    link.comm.OnData = [&](const QString& s) { data << s; };
    link.script->responder = [](const Request& r) { return reply(r.command, "SN1 2.0 X"); };

    // Closed: nothing goes out, nothing is reported.
    EXPECT_EQ(link.comm.SendData("READ INFO", DOCKCOMM_CMD_READINFO, 0, false), DOCKCOMM_COMM_CLOSE);
    EXPECT_TRUE(sent.isEmpty());

    ASSERT_TRUE(link.open());
    EXPECT_EQ(link.comm.SendData("READ INFO", DOCKCOMM_CMD_READINFO, 0, false), DOCKCOMM_COMM_OK);
    ASSERT_EQ(link.script->requests.size(), 1);
    EXPECT_EQ(link.script->requests[0].raw, QByteArray::fromHex("020100a0a003"));
    EXPECT_EQ(sent.value(0), "(READ INFO)  02  01  00  A0  A0  03 ");
    EXPECT_EQ(data.value(0), "(READ INFO) OK");

    // A payload goes into the checksum, a continuation request starts with 0x20.
    link.comm.FComm.mTXBuf[4] = 7;
    link.comm.FComm.mTXBuf[5] = 0x92;
    link.comm.SendData("x", DOCKCOMM_CMD_FILELIST, 2, true);
    EXPECT_EQ(link.script->requests[1].raw, QByteArray::fromHex("200300920792" "07" "03"));
}

TEST(DockCommExchange, EveryReplyShapeGivesItsCode)
{
    struct Case {
        const char* what;
        QByteArray bytes;
        int chunk;
        uint8_t expected;
    };
    const QByteArray good = reply(DOCKCOMM_CMD_GETRTC, u32(1000));
    QByteArray noEtx = good;
    noEtx[noEtx.size() - 1] = 0x04;
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = char(badSum[badSum.size() - 2] ^ 0x10);
    QByteArray longish(3, '\0');
    longish[0] = 0x02;
    longish[1] = char(960 & 0xFF); // L + 1 = 961: stored in full, refused as too long
    longish[2] = char(960 >> 8);
    longish += QByteArray(961, 'x');
    QByteArray endless(3, '\0');
    endless[0] = 0x02;
    endless[1] = char(1200 & 0xFF); // L + 1 above the buffer: never completes
    endless[2] = char(1200 >> 8);
    endless += QByteArray(1500, 'x');
    const Case cases[] = {
        {"good", good, 0, DOCKCOMM_COMM_OK},
        {"noise before the STX", QByteArray("\x55\xAA\x03\x06zz", 6) + good, 0, DOCKCOMM_COMM_OK},
        {"one byte per read", good, 1, DOCKCOMM_COMM_OK},
        {"no ETX", noEtx, 0, DOCKCOMM_COMM_ETX},
        {"ACK replaced, checksum right", reply(DOCKCOMM_CMD_GETRTC, u32(1000), 0x15), 0, DOCKCOMM_COMM_NAK},
        {"another command", reply(DOCKCOMM_CMD_RTC, u32(1000)), 0, DOCKCOMM_COMM_WRONGCOMMAND},
        {"checksum", badSum, 0, DOCKCOMM_COMM_CHECKSUM},
        {"too long", longish, 0, DOCKCOMM_COMM_TOOLONG},
        {"length never completes", endless, 0, DOCKCOMM_COMM_TIMEOUT},
        {"truncated", good.left(good.size() - 3), 0, DOCKCOMM_COMM_TIMEOUT},
        {"garbage only", QByteArray(300, '\x7F'), 0, DOCKCOMM_COMM_TIMEOUT},
        {"silence", QByteArray(), 0, DOCKCOMM_COMM_TIMEOUT},
    };
    for (const Case& c : cases) {
        Link link;
        ASSERT_TRUE(link.open());
        link.script->chunk = c.chunk;
        const QByteArray bytes = c.bytes;
        link.script->responder = [bytes](const Request&) { return bytes; };
        EXPECT_EQ(link.comm.SendData("t", DOCKCOMM_CMD_GETRTC, 0, false), c.expected) << c.what;
    }
}

TEST(DockCommExchange, LateReplyIsTakenForTheNextRequest)
{
    Link link(150);
    ASSERT_TRUE(link.open());
    int n = 0;
    link.script->responder = [&](const Request& r) {
        // The first answer comes after the window has closed.
        link.script->delayMs = n++ == 0 ? 250 : 100000;
        return reply(r.command, u32(5));
    };
    EXPECT_EQ(link.comm.SendData("a", DOCKCOMM_CMD_GETRTC, 0, false), DOCKCOMM_COMM_TIMEOUT);
    EXPECT_EQ(link.comm.SendData("b", DOCKCOMM_CMD_READSN, 0, false), DOCKCOMM_COMM_WRONGCOMMAND);
}

TEST(DockCommExchange, WaitReturnsAsSoonAsTheReplyIsComplete)
{
    Link link(1000);
    ASSERT_TRUE(link.open());
    link.script->responder = [](const Request& r) { return reply(r.command, u32(5)); };
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(link.comm.SendData("t", DOCKCOMM_CMD_GETRTC, 0, false), DOCKCOMM_COMM_OK);
    EXPECT_LT(t.elapsed(), 500);
}

TEST(DockCommExchange, PulledCableEndsTheExchangeAndClosesTheLink)
{
    Link link(2000);
    ASSERT_TRUE(link.open());
    link.script->responder = [&](const Request&) {
        QPointer<FakeDockDevice> dev = link.script->device;
        QTimer::singleShot(20, [dev] {
            if (dev)
                dev->close();
        });
        return QByteArray();
    };
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(link.comm.SendData("t", DOCKCOMM_CMD_GETRTC, 0, false), DOCKCOMM_COMM_CLOSE);
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_FALSE(link.comm.FComEnable);
    EXPECT_EQ(link.comm.ReadRtc(), 0);
    link.comm.CloseComm();
    // The port can be opened again afterwards.
    link.script->responder = [](const Request& r) { return reply(r.command, u32(0)); };
    EXPECT_TRUE(link.open());
    EXPECT_GT(link.comm.ReadRtc(), 25568.0);
}

TEST(DockCommExchange, OpenRefusesNamesThatAreNoPort)
{
    Link link;
    EXPECT_FALSE(link.comm.OpenComm("---"));
    EXPECT_EQ(link.comm.FErrStr, LangText(611));
    link.script->failOpen = true;
    EXPECT_FALSE(link.comm.OpenComm("COM7"));
    EXPECT_EQ(link.comm.FErrStr, LangText(612));
    EXPECT_FALSE(link.comm.FComEnable);
}

TEST(DockCommExchange, RetryRule)
{
    Link link(100, 10);
    ASSERT_TRUE(link.open());
    int n = 0;
    link.script->responder = [&](const Request& r) {
        ++n;
        QByteArray d = "{1}a<20240101000000>[1]{END}";
        return n == 1 ? reply(r.command, d, 0x15) : reply(r.command, d);
    };
    QVector<RFileList> list;
    EXPECT_EQ(link.comm.GetFileList("/X/", list), DOCKCOMM_COMM_OK);
    EXPECT_EQ(n, 2); // a failed block request is tried once more
    EXPECT_EQ(list.size(), 1);

    n = 0;
    link.script->responder = [&](const Request&) {
        ++n;
        return QByteArray();
    };
    EXPECT_EQ(link.comm.GetFileList("/X/", list), DOCKCOMM_COMM_TIMEOUT);
    EXPECT_EQ(n, 2);
    // A size request is asked once.
    n = 0;
    qint64 size = 0;
    EXPECT_EQ(link.comm.GetFileSize("/X/a", size), DOCKCOMM_COMM_TIMEOUT);
    EXPECT_EQ(n, 1);
}

TEST(DockCommCommands, IdentityClockAndTaskRecords)
{
    Link link;
    ASSERT_TRUE(link.open());
    QByteArray info = "SN77 1.69 ID";
    uint32_t clock = 1700000000;
    QByteArray taskLog(200, '\1');
    link.script->responder = [&](const Request& r) {
        switch (r.command) {
        case DOCKCOMM_CMD_READINFO: return reply(r.command, info);
        case DOCKCOMM_CMD_GETRTC: return reply(r.command, u32(clock));
        case DOCKCOMM_CMD_RTC: {
            const uint32_t v = uint8_t(r.payload[0]) | uint8_t(r.payload[1]) << 8 |
                               uint8_t(r.payload[2]) << 16 | uint32_t(uint8_t(r.payload[3])) << 24;
            return reply(r.command, u32(v + 1));
        }
        case DOCKCOMM_CMD_OP_LOG: return reply(r.command, taskLog);
        case DOCKCOMM_CMD_READSN: return reply(r.command, QByteArray("ABCDEFGHIJKLMN"));
        default: return reply(r.command, QByteArray());
        }
    };
    QString sn, ver;
    EXPECT_EQ(link.comm.GetDeviceInfo(sn, ver), 0);
    EXPECT_EQ(sn, "SN77");
    EXPECT_EQ(ver, "1.69");
    info = "ONLYSERIAL";
    EXPECT_EQ(link.comm.GetDeviceInfo(sn, ver), 0);
    EXPECT_EQ(sn, "ONLYSERIAL");
    EXPECT_EQ(ver, "");

    EXPECT_DOUBLE_EQ(link.comm.ReadRtc(), 25569.0 + 1700000000.0 / 86400.0);
    // Rounded to whole seconds; the answer is the dock's own clock.
    const TDateTime asked = 25569.0 + (1000.4 / 86400.0);
    EXPECT_DOUBLE_EQ(link.comm.SetRtc(asked), 25569.0 + 1001.0 / 86400.0);
    EXPECT_EQ(link.script->requests.last().payload, u32(1000));

    RLogInfo log{};
    EXPECT_FALSE(link.comm.GetTaskLog(1, 2, log)); // shorter than a log record
    taskLog = QByteArray(251, '\2');
    EXPECT_TRUE(link.comm.GetTaskLog(1, 2, log));
    EXPECT_EQ(link.script->requests.last().payload, QByteArray("\x01\x02", 2));
    EXPECT_EQ(link.comm.ReadSN(), "ABCDEFGHIJ");

    EXPECT_TRUE(link.comm.WriteSN("0123456789ABCDEF"));
    EXPECT_EQ(link.script->requests.last().payload, QByteArray("0123456789A"));
}

TEST(DockCommCommands, ShortTaskRecordsAreNoRecords)
{
    Link link;
    ASSERT_TRUE(link.open());
    QByteArray status(60, '\5'), result(219, '\1');
    link.script->responder = [&](const Request& r) {
        return reply(r.command, r.command == DOCKCOMM_CMD_OP_STATUS ? status : result);
    };
    RTask task{};
    uint8_t usb = 0;
    RBayTaskArr bays{};
    RBayResArr res{};
    RGDInfoArr gd{};
    // One byte short: refused, so the monitor keeps what it showed instead of zeros.
    EXPECT_FALSE(link.comm.GetTaskStatus(task, usb, bays));
    EXPECT_FALSE(link.comm.GetTaskResult(res, gd));
    status = QByteArray(61, '\5');
    result = QByteArray(220, '\1');
    ASSERT_TRUE(link.comm.GetTaskStatus(task, usb, bays));
    EXPECT_EQ(task.mStatus, 5);
    EXPECT_EQ(usb, 5);
    EXPECT_EQ(bays.mBay[3].mStatus, 5);
    ASSERT_TRUE(link.comm.GetTaskResult(res, gd));
    EXPECT_EQ(gd.mBay[3].tRemainLifeRTC, 0x01010101u);
}

// ---- file transfers ----

class DockCommFiles : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot tmp;
    Link link{150, 5};
    FileDock dock;
    void SetUp() override
    {
        link.script->responder = [this](const Request& r) { return dock.answer(r); };
        ASSERT_TRUE(link.open());
    }
};

TEST_F(DockCommFiles, ListingBlocksWrapAndSkipDotEntries)
{
    dock.listPerBlock = 1;
    dock.files["/D/./"] = {};
    dock.files["/D/../"] = {};
    dock.files["/D/SUB/"] = {};
    for (int i = 0; i < 300; ++i)
        dock.files[QString("/D/F%1.CSV").arg(i, 3, 10, QChar('0'))] = QByteArray(i, 'x');
    QVector<RFileList> list;
    ASSERT_EQ(link.comm.GetFileList("/D/", list), DOCKCOMM_COMM_OK);
    ASSERT_EQ(list.size(), 301);
    EXPECT_TRUE(list.last().mDir);
    EXPECT_EQ(list.last().mName, "/D/SUB/");
    EXPECT_EQ(list[299].mName, "/D/F299.CSV");
    EXPECT_EQ(list[299].mSize, 299);
    EXPECT_EQ(list[0].mDateStr, "20240102030405");
    // The block byte runs 1..255, 0, 1, ...
    const auto& req = link.script->requests;
    EXPECT_EQ(uint8_t(req[254].payload[0]), 255);
    EXPECT_EQ(uint8_t(req[255].payload[0]), 0);
    EXPECT_EQ(uint8_t(req[256].payload[0]), 1);
    EXPECT_EQ(req[0].start, 0x02);
    EXPECT_EQ(req[1].start, 0x20);
}

TEST_F(DockCommFiles, ListingThatLosesItsMarkersKeepsWhatItHad)
{
    int n = 0;
    link.script->responder = [&](const Request& r) {
        ++n;
        if (uint8_t(r.payload[0]) == 1)
            return reply(r.command, "{1}A.CSV<20240101000000>[5]{MORE}");
        return reply(r.command, "{2}B.CSV<20240101000000>[5]");
    };
    QVector<RFileList> list;
    EXPECT_EQ(link.comm.GetFileList("/L/", list), DOCKCOMM_COMM_FILE_ERROR);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].mName, "/L/A.CSV");
}

TEST(DockCommParsers, ListBlockMarkers)
{
    QVector<RFileList> out;
    bool end = false;
    EXPECT_FALSE(TDockComm::ParseListBlock("a<d>[1]{END}", 1, "/", out, end)); // no block marker
    EXPECT_FALSE(TDockComm::ParseListBlock("{2}a<d>[1]{END}", 1, "/", out, end)); // another block
    EXPECT_FALSE(TDockComm::ParseListBlock("{END}{1}a<d>[1]", 1, "/", out, end)); // end before start
    ASSERT_TRUE(TDockComm::ParseListBlock("{1}DIR/<d1>F.XML<d2>[12]G.XML<d3>{END}", 1, "/T/", out, end));
    EXPECT_TRUE(end);
    ASSERT_EQ(out.size(), 2); // the entry without its size is dropped
    EXPECT_EQ(out[0].mName, "/T/DIR/");
    EXPECT_TRUE(out[0].mDir);
    EXPECT_EQ(out[1].mSize, 12);
    out.clear();
    ASSERT_TRUE(TDockComm::ParseListBlock("{0}A<d>[1]{MORE}", 0, "/", out, end));
    EXPECT_FALSE(end);
}

TEST(DockCommParsers, LoadBlockMarkers)
{
    RLoadBlock b;
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{1}[5]hello{END}", 1, true, b));
    EXPECT_EQ(b.mStart, 6);
    EXPECT_EQ(b.mLength, 5);
    EXPECT_EQ(b.mEnd, 1);
    EXPECT_EQ(b.mSize, 5);
    // The token of a first block is stripped whatever it says, down to an empty file.
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{1}[0]{END}", 1, true, b));
    EXPECT_EQ(b.mLength, 0);
    EXPECT_EQ(b.mSize, 0);
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{1}[1]X{END}", 1, true, b));
    EXPECT_EQ(b.mStart, 6);
    EXPECT_EQ(b.mLength, 1);
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{1}plain{END}", 1, true, b));
    EXPECT_EQ(b.mSize, -1);
    EXPECT_EQ(b.mLength, 5);
    // In later blocks the same bytes are file data.
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{2}[5]hello{END}", 2, false, b));
    EXPECT_EQ(b.mLength, 8);
    EXPECT_EQ(b.mSize, -1);
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{7}{NOTOPEN}", 7, 0, b));
    EXPECT_EQ(b.mEnd, 255);
    EXPECT_EQ(b.mLength, 0);
    ASSERT_TRUE(TDockComm::ParseLoadBlock("{0}abc{MORE}", 0, 0, b));
    EXPECT_EQ(b.mEnd, 0);
    EXPECT_FALSE(TDockComm::ParseLoadBlock(QByteArray(19, 'x') + "{1}abc{END}", 1, 0, b)); // marker too far in
    EXPECT_FALSE(TDockComm::ParseLoadBlock("{1}abc{END}" + QByteArray(12, 'x'), 1, 0, b)); // end marker too early
    EXPECT_FALSE(TDockComm::ParseLoadBlock("{1}abc", 1, 0, b));
    EXPECT_FALSE(TDockComm::ParseLoadBlock("{END}", 1, 0, b));
    EXPECT_FALSE(TDockComm::ParseLoadBlock("{1{END}", 1, 0, b));
}

TEST_F(DockCommFiles, DownloadOfADockImageWrapsItsBlockNumber)
{
    QByteArray image(DOCK_IMG_SIZE, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7) ^ (i >> 9));
    dock.files["/FW/DOCK/A.IMG"] = image;
    const QString dest = tmp.path() + "/stage/A.IMG";
    qint64 lastProgress = 0;
    link.comm.OnProgress = [&](qint64 n) { lastProgress = n; };
    ASSERT_EQ(link.comm.LoadFile(dest, "/FW/DOCK/A.IMG", image.size()), DOCKCOMM_COMM_OK);
    EXPECT_EQ(testsupport::readAll(dest), image);
    EXPECT_EQ(lastProgress, image.size());
    EXPECT_GT(link.script->requests.size(), 256); // about 290 blocks
    EXPECT_TRUE(QDir(tmp.path() + "/stage").entryList(QDir::Files | QDir::Hidden).size() == 1);
}

TEST_F(DockCommFiles, BrokenDownloadsLeaveNoFileBehind)
{
    dock.files["/C/A.CFG"] = QByteArray(3000, 'a');
    const QString dest = tmp.path() + "/stage/A.CFG";
    QDir().mkpath(tmp.path() + "/stage");

    // Not on the dock.
    EXPECT_EQ(link.comm.LoadFile(dest, "/C/NONE.CFG", 10), DOCKCOMM_COMM_FILE_NOTOPEN);
    EXPECT_FALSE(QFileInfo::exists(dest));

    // The dock stops answering after the first block; an older copy does not survive
    // as if it were the new one.
    testsupport::writeAll(dest, "old");
    int n = 0;
    link.script->responder = [&](const Request& r) { return ++n == 1 ? dock.answer(r) : QByteArray(); };
    EXPECT_EQ(link.comm.LoadFile(dest, "/C/A.CFG", 3000), DOCKCOMM_COMM_TIMEOUT);
    EXPECT_FALSE(QFileInfo::exists(dest));

    // A block whose marker is not where it belongs.
    link.script->responder = [&](const Request& r) {
        return uint8_t(r.payload[0]) == 1 ? dock.answer(r) : reply(r.command, "{9}xx{END}");
    };
    dock.loadIndex = 0;
    EXPECT_EQ(link.comm.LoadFile(dest, "/C/A.CFG", 3000), DOCKCOMM_COMM_FILE_ERROR);
    EXPECT_FALSE(QFileInfo::exists(dest));
    EXPECT_TRUE(QDir(tmp.path() + "/stage").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(DockCommFiles, SizeTokenIsNeverSavedAndAMismatchKeepsNoFile)
{
    dock.files["/C/EMPTY.CFG"] = QByteArray();
    dock.files["/C/ONE.CFG"] = "X";
    const QString dest = tmp.path() + "/stage/F.CFG";
    ASSERT_EQ(link.comm.LoadFile(dest, "/C/EMPTY.CFG", 0), DOCKCOMM_COMM_OK);
    EXPECT_TRUE(QFileInfo(dest).isFile());
    EXPECT_EQ(testsupport::readAll(dest), QByteArray());
    ASSERT_EQ(link.comm.LoadFile(dest, "/C/ONE.CFG", 1), DOCKCOMM_COMM_OK);
    EXPECT_EQ(testsupport::readAll(dest), "X");

    // The dock announces another size than the one just asked for.
    EXPECT_EQ(link.comm.LoadFile(dest, "/C/ONE.CFG", 7), DOCKCOMM_COMM_FILE_DIFFSIZE);
    EXPECT_FALSE(QFileInfo::exists(dest));
    EXPECT_TRUE(QDir(tmp.path() + "/stage").entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(DockCommFiles, ALateReplyIsNotTakenForTheNextOne)
{
    dock.files["/C/DOCK.CFG"] = "Location=Yard\r\n";
    const QString dest = tmp.path() + "/stage/DOCK.CFG";
    // A reply to an earlier download still waits in the port when the next request goes out.
    ASSERT_TRUE(link.script->device);
    link.script->device->rx += reply(DOCKCOMM_CMD_LOADFILE, "{1}[136]" + QByteArray(136, 'z') + "{END}");
    ASSERT_EQ(link.comm.LoadFile(dest, "/C/DOCK.CFG", 15), DOCKCOMM_COMM_OK);
    EXPECT_EQ(testsupport::readAll(dest), "Location=Yard\r\n");
}

TEST_F(DockCommFiles, UploadEndings)
{
    const QString src = tmp.path() + "/up.bin";

    // Empty file: the announce and one frame with an empty chunk.
    testsupport::writeAll(src, QByteArray());
    ASSERT_EQ(link.comm.SaveFile("/CONFIG/E.CFG", src), DOCKCOMM_COMM_OK);
    ASSERT_EQ(link.script->requests.size(), 2);
    EXPECT_EQ(link.script->requests[0].payload, u32(0) + "/CONFIG/E.CFG");
    EXPECT_EQ(link.script->requests[1].payload, QByteArray("\x02\x0D") + "/CONFIG/E.CFG");
    EXPECT_EQ(dock.uploads.value("/CONFIG/E.CFG"), QByteArray());

    // 800 bytes: 400, 400 and the empty closing chunk.
    link.script->requests.clear();
    const QByteArray content(800, 'z');
    testsupport::writeAll(src, content);
    ASSERT_EQ(link.comm.SaveFile("/F", src), DOCKCOMM_COMM_OK);
    EXPECT_EQ(link.script->requests.size(), 4);
    EXPECT_EQ(dock.uploads.value("/F"), content);

    // A dock that never says "complete": 163; one that says something else: 161.
    link.script->responder = [](const Request& r) { return reply(r.command, QByteArray(2, '\0')); };
    EXPECT_EQ(link.comm.SaveFile("/F", src), DOCKCOMM_COMM_NOTENDED);
    link.script->responder = [](const Request& r) {
        return reply(r.command, r.start == 0x20 ? QByteArray("\0\2", 2) : QByteArray(2, '\0'));
    };
    EXPECT_EQ(link.comm.SaveFile("/F", src), DOCKCOMM_COMM_FILE_DIFFSIZE);

    // A missing local file is refused before anything is sent.
    link.script->requests.clear();
    EXPECT_EQ(link.comm.SaveFile("/F", tmp.path() + "/none"), DOCKCOMM_COMM_FILE_ERROR);
    EXPECT_TRUE(link.script->requests.isEmpty());
}

TEST_F(DockCommFiles, UploadBlockNumberWraps)
{
    const QString src = tmp.path() + "/big.bin";
    QByteArray content(400 * 300 + 17, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i % 251);
    testsupport::writeAll(src, content);
    ASSERT_EQ(link.comm.SaveFile("/FW/GD/B.IMG", src), DOCKCOMM_COMM_OK);
    EXPECT_EQ(dock.uploads.value("/FW/GD/B.IMG"), content);
    const auto& req = link.script->requests;
    EXPECT_EQ(uint8_t(req[1].payload[0]), 2);
    EXPECT_EQ(uint8_t(req[254].payload[0]), 255);
    EXPECT_EQ(uint8_t(req[255].payload[0]), 0);
}

TEST(DockCommExchange, BytesAfterTheFrameAreNotPartOfTheReply)
{
    Link link;
    ASSERT_TRUE(link.open());
    link.script->responder = [](const Request& r) {
        if (r.command == DOCKCOMM_CMD_LOADFILE)
            return reply(r.command, "{1}abc{END}") + QByteArray(40, 'j');
        return reply(r.command, u32(86400)) + QByteArray("\x02\x09\x00trailing", 11);
    };
    EXPECT_DOUBLE_EQ(link.comm.ReadRtc(), 25570.0);
    EXPECT_EQ(link.comm.ReplyData(), u32(86400));
    testsupport::ScopedTempRoot tmp;
    ASSERT_EQ(link.comm.LoadFile(tmp.path() + "/f", "/f", 3), DOCKCOMM_COMM_OK);
    EXPECT_EQ(testsupport::readAll(tmp.path() + "/f"), "abc");
}

TEST(DockCommExchange, ClosedLinkAnswersEverythingAtOnce)
{
    testsupport::ScopedTempRoot tmp;
    TDockComm comm;
    int sent = 0;
    comm.OnSend = [&](const QString&) { ++sent; };
    qint64 size = 7;
    QVector<RFileList> list(1);
    EXPECT_EQ(comm.GetFileSize("/a", size), DOCKCOMM_COMM_CLOSE);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(comm.GetFileList("/", list), DOCKCOMM_COMM_CLOSE);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(comm.LoadFile(tmp.path() + "/x", "/x", 5), DOCKCOMM_COMM_CLOSE);
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/x"));
    testsupport::writeAll(tmp.path() + "/up", "data");
    EXPECT_EQ(comm.SaveFile("/up", tmp.path() + "/up"), DOCKCOMM_COMM_CLOSE);
    EXPECT_EQ(comm.DeleteFile("/a"), DOCKCOMM_COMM_CLOSE);
    EXPECT_EQ(comm.DeleteDirectory("/a/"), DOCKCOMM_COMM_CLOSE);
    EXPECT_EQ(comm.ReadRtc(), 0);
    EXPECT_EQ(comm.SetRtc(45000), 0);
    RTask task{};
    uint8_t usb = 0;
    RBayTaskArr bays{};
    EXPECT_FALSE(comm.GetTaskStatus(task, usb, bays));
    EXPECT_EQ(comm.ReadSN(), "");
    EXPECT_FALSE(comm.WriteSN("X"));
    int d1 = 1, d2 = 1;
    EXPECT_FALSE(comm.GetPumpDuty(d1, d2));
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(TDockComm::GetError(DOCKCOMM_COMM_CLOSE), "Unknown (254)");
    EXPECT_EQ(TDockComm::GetError(DOCKCOMM_COMM_NOTENDED), "Write error");
}
