#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cstring>

#include "app/AppState.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using testsupport::readAll;
using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

// Writers for hand-built files.
void u8(QByteArray& b, int off, uint8_t v) { b[off] = char(v); }
void u16(QByteArray& b, int off, uint16_t v) { qToLittleEndian<quint16>(v, b.data() + off); }
void i32(QByteArray& b, int off, int32_t v) { qToLittleEndian<qint32>(v, b.data() + off); }
void f64(QByteArray& b, int off, double v) { qToLittleEndian<double>(v, b.data() + off); }
void str(QByteArray& b, int off, const QByteArray& s, int lenByte = -1)
{
    b[off] = char(lenByte < 0 ? s.size() : lenByte);
    std::memcpy(b.data() + off + 1, s.constData(), size_t(s.size()));
}

QByteArray header(uint8_t ver)
{
    QByteArray h(REPORT_HEADER_SIZE, '\xEE'); // padding is ignored whatever it holds
    u8(h, 0, ver);
    f64(h, 8, 44270.5);
    f64(h, 16, 44271.25);
    f64(h, 24, 44260.0);
    str(h, 32, "Report_2021-03-15 12-00-00.Html");
    return h;
}

// Versions 1 and 2 share their first 369 bytes.
QByteArray oldRecord(int size, const QByteArray& sn)
{
    QByteArray r(size, '\0');
    u16(r, 0, 0x0041);
    u16(r, 2, 0x0008);
    u8(r, 4, 1);
    str(r, 5, "Gaviro SG");
    u8(r, 16, 3);
    str(r, 17, "O2");
    str(r, 28, sn);
    str(r, 45, "DOCK77");
    str(r, 62, "Hall \xC4");           // Windows-1252 "Ä"
    f64(r, 168, 44200.5);
    f64(r, 176, 44201.5);
    f64(r, 184, 44202.5);
    f64(r, 192, 44203.5);
    f64(r, 200, 44204.5);
    i32(r, 208, 61);
    i32(r, 212, -2);
    str(r, 216, "SN_CAL_2103010000.XML");
    str(r, 267, "SN_BUMP_2103010000.XML");
    str(r, 318, "SN_EVENT_2103010000.CSV");
    return r;
}

void expectOldFields(const RDockReport& r, const QString& sn)
{
    EXPECT_EQ(r.mNewIdx, 0x41);
    EXPECT_EQ(r.mPrevIdx, 8);
    EXPECT_TRUE(r.mNew);
    EXPECT_EQ(r.mModel, "Gaviro SG");
    EXPECT_EQ(r.mSensor, 3);
    EXPECT_EQ(r.mSensorName, "O2");
    EXPECT_EQ(r.mSN, sn);
    EXPECT_EQ(r.mInstSN, "DOCK77");
    EXPECT_EQ(r.mLocation, QString::fromUtf8("Hall \xC3\x84"));
    EXPECT_DOUBLE_EQ(r.mLastBumpPass, 44200.5);
    EXPECT_DOUBLE_EQ(r.mLastBumpFail, 44201.5);
    EXPECT_DOUBLE_EQ(r.mLastCalPass, 44202.5);
    EXPECT_DOUBLE_EQ(r.mLastCalFail, 44203.5);
    EXPECT_DOUBLE_EQ(r.mLastEvent, 44204.5);
    EXPECT_EQ(r.mLowAlarmTime, 61);
    EXPECT_EQ(r.mHighAlarmTime, -2);
    EXPECT_EQ(r.mLastCalFile, "SN_CAL_2103010000.XML");
    EXPECT_EQ(r.mLastBumpFile, "SN_BUMP_2103010000.XML");
    EXPECT_EQ(r.mLastEventFile, "SN_EVENT_2103010000.CSV");
}

struct Store {
    ScopedTempRoot root;
    AppState state;
    TReportStore store{state};
    Store() { state.FLogDestDir = root.path() + "/dest/"; }
    QString bin() const { return state.FLogDestDir + "Report.Bin"; }
};

} // namespace

TEST(ReportBin, ReadsVersionOneAndWritesVersionThree)
{
    Store s;
    QByteArray rec = oldRecord(REPORT_REC_SIZE_V1, "SN1");
    u8(rec, 369, 1); // mEventChanged, dropped
    writeAll(s.bin(), header(1) + rec + oldRecord(REPORT_REC_SIZE_V1, "SN2"));
    ASSERT_TRUE(s.store.LoadResult());
    EXPECT_EQ(s.store.FReportHeader.mVer, 1);
    EXPECT_DOUBLE_EQ(s.store.FReportHeader.mReportDate, 44270.5);
    EXPECT_DOUBLE_EQ(s.store.FReportHeader.mLastSendDate, 44271.25);
    EXPECT_DOUBLE_EQ(s.store.FReportHeader.mEventStartTime, 44260.0);
    EXPECT_EQ(s.store.FReportHeader.mFile, "Report_2021-03-15 12-00-00.Html");
    ASSERT_EQ(s.store.FReport.size(), 2);
    expectOldFields(s.store.FReport[0], "SN1");
    EXPECT_EQ(s.store.FReport[0].mLastEventCheckFile, "SN_EVENT_2103010000.CSV");
    expectOldFields(s.store.FReport[1], "SN2");

    ASSERT_TRUE(s.store.SaveResult());
    EXPECT_EQ(s.state.FLastReportFile, "Report_2021-03-15 12-00-00.Html");
    EXPECT_DOUBLE_EQ(s.state.FLastReportDate, 44270.5);
    const QByteArray out = readAll(s.bin());
    ASSERT_EQ(out.size(), REPORT_HEADER_SIZE + 2 * REPORT_REC_SIZE_V3);
    EXPECT_EQ(uint8_t(out[0]), 3);
    EXPECT_EQ(out.mid(1, 7), QByteArray(7, '\0'));
    EXPECT_EQ(out.mid(133, 3), QByteArray(3, '\0'));
    EXPECT_EQ(uint8_t(out[32]), 31);
    EXPECT_EQ(out.mid(33, 31), QByteArray("Report_2021-03-15 12-00-00.Html"));
    EXPECT_EQ(out.mid(64, 69), QByteArray(69, '\0'));

    const QByteArray r = out.mid(REPORT_HEADER_SIZE, REPORT_REC_SIZE_V3);
    EXPECT_EQ(qFromLittleEndian<quint16>(r.constData()), 0x41);
    EXPECT_EQ(qFromLittleEndian<quint16>(r.constData() + 2), 8);
    EXPECT_EQ(r[4], 1);
    EXPECT_EQ(r.mid(5, 21), QByteArray("\x09Gaviro SG") + QByteArray(11, '\0'));
    EXPECT_EQ(r[26], 3);
    EXPECT_EQ(r.mid(27, 3), QByteArray("\x02O2"));
    EXPECT_EQ(r.mid(48, 4), QByteArray("\x03SN1"));
    EXPECT_EQ(r.mid(65, 7), QByteArray("\x06" "DOCK77"));
    EXPECT_EQ(r.mid(82, 7), QByteArray("\x06Hall \xC4"));
    EXPECT_EQ(r[183], 0);
    EXPECT_DOUBLE_EQ(qFromLittleEndian<double>(r.constData() + 184), 44200.5);
    EXPECT_DOUBLE_EQ(qFromLittleEndian<double>(r.constData() + 216), 44204.5);
    EXPECT_EQ(qFromLittleEndian<qint32>(r.constData() + 224), 61);
    EXPECT_EQ(qFromLittleEndian<qint32>(r.constData() + 228), -2);
    EXPECT_EQ(r.mid(232, 22), QByteArray("\x15SN_CAL_2103010000.XML"));
    EXPECT_EQ(r.mid(283, 23), QByteArray("\x16SN_BUMP_2103010000.XML"));
    EXPECT_EQ(r.mid(334, 24), QByteArray("\x17SN_EVENT_2103010000.CSV"));
    EXPECT_EQ(r.mid(385, 24), QByteArray("\x17SN_EVENT_2103010000.CSV"));
    EXPECT_EQ(r.mid(436, 4), QByteArray(4, '\0'));

    // And it reads back the same.
    TReportStore again(s.state);
    ASSERT_TRUE(again.LoadResult());
    EXPECT_EQ(again.FReportHeader.mVer, 3);
    ASSERT_EQ(again.FReport.size(), 2);
    expectOldFields(again.FReport[1], "SN2");
}

TEST(ReportBin, ReadsVersionTwoAndThree)
{
    Store s;
    QByteArray v2 = oldRecord(REPORT_REC_SIZE_V2, "SN9");
    str(v2, 369, "CHECK.CSV");
    u8(v2, 420, 1);
    writeAll(s.bin(), header(2) + v2);
    ASSERT_TRUE(s.store.LoadResult());
    ASSERT_EQ(s.store.FReport.size(), 1);
    expectOldFields(s.store.FReport[0], "SN9");
    EXPECT_EQ(s.store.FReport[0].mLastEventCheckFile, "CHECK.CSV");

    QByteArray v3(REPORT_REC_SIZE_V3, '\0');
    u16(v3, 0, 0x7F);
    str(v3, 5, "Gaviro SG H2S 20 char"); // 21 characters given, length byte says 20
    v3[5] = 20;
    u8(v3, 26, 1);
    str(v3, 27, "H2S");
    str(v3, 48, "ABCDEFGHIJKLMNOP");
    str(v3, 82, "Loc");
    f64(v3, 216, 44300.75);
    i32(v3, 224, 7);
    str(v3, 385, "CHK");
    writeAll(s.bin(), header(3) + v3);
    ASSERT_TRUE(s.store.LoadResult());
    ASSERT_EQ(s.store.FReport.size(), 1);
    const RDockReport& r = s.store.FReport[0];
    EXPECT_EQ(r.mNewIdx, 0x7F);
    EXPECT_EQ(r.mModel, "Gaviro SG H2S 20 cha");
    EXPECT_EQ(r.mSensorName, "H2S");
    EXPECT_EQ(r.mSN, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(r.mLocation, "Loc");
    EXPECT_DOUBLE_EQ(r.mLastEvent, 44300.75);
    EXPECT_EQ(r.mLowAlarmTime, 7);
    EXPECT_EQ(r.mLastEventCheckFile, "CHK");
    EXPECT_EQ(r.mLastEventFile, "");
}

TEST(ReportBin, AMissingStoreIsEmptyADamagedOneIsReported)
{
    Store s;
    s.store.FReportHeader.mLastSendDate = 5;
    ASSERT_TRUE(s.store.LoadResult());
    EXPECT_TRUE(s.store.FReport.isEmpty());
    EXPECT_EQ(s.store.FReportHeader.mLastSendDate, 0);

    for (const QByteArray& bad : {header(3).left(100), header(4) + QByteArray(REPORT_REC_SIZE_V3 * 3, '\x05')}) {
        writeAll(s.bin(), bad);
        EXPECT_FALSE(s.store.LoadResult());
        EXPECT_TRUE(s.store.FReport.isEmpty());
        EXPECT_EQ(s.store.FReportHeader.mLastSendDate, 0);
    }
}

TEST(ReportBin, TheDecoderStaysWithinEachField)
{
    // Length bytes beyond their maximum stop at the field's end.
    QByteArray v3(REPORT_REC_SIZE_V3, 'A');
    for (int off : {5, 27, 48, 65, 82, 232, 283, 334, 385})
        v3[off] = char(0xFF);
    QByteArray h = header(3);
    h[32] = char(0xFF);
    RDockReportHeader head;
    QVector<RDockReport> recs;
    DecodeReportBin(h + v3, head, recs);
    ASSERT_EQ(recs.size(), 1);
    EXPECT_EQ(head.mFile.size(), REPORT_LEN_FILE);
    EXPECT_EQ(recs[0].mModel, QString(20, 'A'));
    EXPECT_EQ(recs[0].mSN, QString(16, 'A'));
    EXPECT_EQ(recs[0].mLocation, QString(100, 'A'));
    EXPECT_EQ(recs[0].mLastEventCheckFile, QString(50, 'A'));
    EXPECT_FALSE(ReportBinDamage(h + v3).isEmpty());

    // Dates that are not numbers read as 0.
    QByteArray nan(REPORT_REC_SIZE_V3, '\0');
    std::memset(nan.data() + 184, 0xFF, 40);
    DecodeReportBin(header(3) + nan, head, recs);
    EXPECT_EQ(recs[0].mLastBumpPass, 0);
    EXPECT_FALSE(ReportBinDamage(header(3) + nan).isEmpty());
}

TEST(ReportBin, LongTextsAreCutWhenStored)
{
    RDockReportHeader h;
    h.mFile = QString(150, 'f');
    RDockReport r = GetInitReport();
    r.mSN = QStringLiteral("12345678901234567890");
    r.mLocation = QString(120, QChar(0x4E2D)); // not in the code page: "?" each
    const QByteArray b = EncodeReportBin(h, {r});
    ASSERT_EQ(b.size(), REPORT_HEADER_SIZE + REPORT_REC_SIZE_V3);
    EXPECT_EQ(uint8_t(b[32]), 100);
    EXPECT_EQ(uint8_t(b[REPORT_HEADER_SIZE + 48]), 16);
    EXPECT_EQ(uint8_t(b[REPORT_HEADER_SIZE + 82]), 100);
    EXPECT_EQ(b[REPORT_HEADER_SIZE + 183], 0); // the padding after the location stays zero
    RDockReportHeader h2;
    QVector<RDockReport> back;
    DecodeReportBin(b, h2, back);
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].mSN, "1234567890123456");
    EXPECT_EQ(CutShortString(QStringLiteral("abc"), 2), "ab");
}

TEST(ReportBin, AFailedSaveLeavesThePreviousStore)
{
    Store s;
    const QByteArray before = header(3);
    writeAll(s.bin(), before);
    ASSERT_TRUE(s.store.LoadResult());
    for (int i = 0; i < 200; ++i)
        s.store.FReport.append(GetInitReport());

    // The store's name taken by a folder: the save fails and says so.
    Store t;
    QDir().mkpath(t.bin());
    QString error;
    EXPECT_FALSE(t.store.SaveResult(&error));
    EXPECT_FALSE(error.isEmpty());

#ifdef Q_OS_LINUX
    // A full disk: files may not grow beyond 4 KB while saving.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = s.store.SaveResult(&error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readAll(s.bin()), before);
    // Nothing half-written: the store as it was, and the same as the backup.
    EXPECT_EQ(QDir(s.state.FLogDestDir).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"Report.Bin", "Report.Bin.bak"}));
    EXPECT_EQ(readAll(s.state.FLogDestDir + "Report.Bin.bak"), before);
#endif
}
