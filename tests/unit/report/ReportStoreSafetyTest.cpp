// Two writers of one alert store, damaged stores, the backup, and serials that
// differ only in letter case.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>
#include <QtEndian>

#include "app/AppState.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

struct Dest {
    ScopedTempRoot root;
    AppState state;
    Dest() { state.FLogDestDir = root.path() + "/dest/"; }
    QString bin() const { return state.FLogDestDir + "Report.Bin"; }
    // One result of an instrument in the local store, and its log-list entry.
    RUnitLogList bump(const QString& sn, const QString& stamp, const char* result)
    {
        const QString name = sn + "_BUMP_" + stamp + ".XML";
        const QString date = stamp.left(2) + '-' + stamp.mid(2, 2) + '-' + stamp.mid(4, 2);
        writeAll(StoreInstrumentDir(state.FLogDestDir, sn) + "BUMP/" + name,
                 QStringLiteral("<?xml version=\"1.0\"?>\r\n<RESULT><INFO><INSTRUMENT>DK01</INSTRUMENT>"
                                "<SERIAL>%1</SERIAL><LOCATION>Hall 3</LOCATION><OVERALLRESULT>%2</OVERALLRESULT>"
                                "<DATE>%3</DATE><TIME>10:00:00</TIME></INFO><TEST><SENSOR><GAS>CO</GAS>"
                                "<LOW>10</LOW><HIGH>15</HIGH></SENSOR><SPAN><CONCENTRATION>25</CONCENTRATION>"
                                "<READING>24.5</READING><RESULT>%2</RESULT><BUMPTIME>12</BUMPTIME></SPAN>"
                                "</TEST></RESULT>\r\n")
                     .arg(sn, QLatin1String(result), date)
                     .toUtf8());
        RUnitLogList e;
        e.mName = "/LOG/TEST/" + name;
        e.mAliasName = sn;
        e.mOpt = UNIT_OPT_GDBUMP;
        return e;
    }
};

QStringList serials(const QVector<RDockReport>& records)
{
    QStringList out;
    for (const RDockReport& r : records)
        out << r.mSN;
    return out;
}

QVector<RDockReport> decoded(const QByteArray& bytes)
{
    RDockReportHeader h;
    QVector<RDockReport> r;
    DecodeReportBin(bytes, h, r);
    return r;
}

} // namespace

TEST(ReportStoreWriters, AStaleCopyNeverOverwritesAnotherWritersSave)
{
    Dest d;
    // The service loaded the store once, a person then saved two instruments by hand.
    TReportStore service(d.state);
    ASSERT_TRUE(service.LoadResult());
    TReportStore byHand(d.state);
    ASSERT_TRUE(byHand.LoadResult());
    const QVector<RUnitLogList> hand = {d.bump("GA0001", "2405011000", "PASS"), d.bump("GA0002", "2405011000", "FAIL")};
    byHand.MakeBumpResult(hand, {0, 1});
    byHand.CheckResult();
    ASSERT_TRUE(byHand.SaveResult());
    const QByteArray handBytes = readAll(d.bin());

    // The service folds its own instrument into its old copy and saves.
    const QVector<RUnitLogList> own = {d.bump("GA0003", "2405021000", "PASS")};
    service.MakeBumpResult(own, {0});
    service.CheckResult();
    service.MakeEventCheckFile();
    ASSERT_TRUE(service.SaveResult());

    EXPECT_EQ(serials(decoded(readAll(d.bin()))), (QStringList{"GA0001", "GA0002", "GA0003"}));
    EXPECT_EQ(serials(service.FReport), (QStringList{"GA0001", "GA0002", "GA0003"}));
    // The store before the rewrite is the backup, byte for byte.
    EXPECT_EQ(readAll(service.BackupPath()), handBytes);
    const QVector<RDockReport> now = decoded(readAll(d.bin()));
    EXPECT_GT(now[1].mLastBumpFail, 0);

    // Saved again with nothing new in between: the same store, and the next
    // writer's changes are the only ones applied to it.
    byHand.MakeBumpResult({d.bump("GA0004", "2405031000", "PASS")}, {0});
    ASSERT_TRUE(byHand.SaveResult());
    EXPECT_EQ(serials(decoded(readAll(d.bin()))), (QStringList{"GA0001", "GA0002", "GA0003", "GA0004"}));
}

TEST(ReportStoreWriters, ASaveWaitsForTheLockAndKeepsItsChangesWhenItCannotHaveIt)
{
    Dest d;
    TReportStore store(d.state);
    ASSERT_TRUE(store.LoadResult());
    store.MakeBumpResult({d.bump("GA0001", "2405011000", "PASS")}, {0});
    ASSERT_TRUE(store.SaveResult());
    const QByteArray before = readAll(d.bin());

    QLockFile other(store.LockPath());
    ASSERT_TRUE(other.tryLock(0));
    store.LockTimeoutMs = 200;
    store.MakeBumpResult({d.bump("GA0002", "2405011000", "PASS")}, {0});
    QString error;
    EXPECT_FALSE(store.SaveResult(&error));
    EXPECT_TRUE(error.contains("process")) << error.toStdString();
    EXPECT_EQ(readAll(d.bin()), before);
    other.unlock();
    ASSERT_TRUE(store.SaveResult(&error)) << error.toStdString();
    EXPECT_EQ(serials(decoded(readAll(d.bin()))), (QStringList{"GA0001", "GA0002"}));
}

TEST(ReportStoreDamage, AStoreThatCannotBeReadIsReportedKeptAndNeverSavedOver)
{
    Dest d;
    TReportStore good(d.state);
    ASSERT_TRUE(good.LoadResult());
    for (int i = 0; i < 4; ++i)
        good.MakeBumpResult({d.bump(QString("GA000%1").arg(i), "2405011000", "PASS")}, {0});
    good.CheckResult();
    ASSERT_TRUE(good.SaveResult());
    const QByteArray valid = readAll(d.bin());
    ASSERT_EQ(valid.size(), REPORT_HEADER_SIZE + 4 * REPORT_REC_SIZE_V3);

    QByteArray flipped = valid;
    flipped[0] = char(7);
    QByteArray randomBytes(valid.size(), '\0');
    QRandomGenerator rng(17);
    for (char& c : randomBytes)
        c = char(rng.bounded(256));
    randomBytes[0] = char(3); // even with a version that looks right
    QByteArray badLength = valid;
    badLength[REPORT_HEADER_SIZE + 48] = char(200);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {{"flipped version byte", flipped},
                 {"cut inside the header", valid.left(100)},
                 {"cut inside a record", valid.left(valid.size() - 17)},
                 {"empty", QByteArray()},
                 {"random", randomBytes},
                 {"impossible length byte", badLength}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeAll(d.bin(), c.bytes);
        TReportStore s(d.state);
        QString error;
        EXPECT_FALSE(s.LoadResult(&error));
        EXPECT_TRUE(s.Damaged());
        EXPECT_TRUE(error.contains("Report.Bin")) << error.toStdString();
        EXPECT_FALSE(ReportBinDamage(c.bytes).isEmpty());
        // Whatever is folded in, the file stays as it is.
        s.MakeBumpResult({d.bump("GA0009", "2405011000", "PASS")}, {0});
        s.CheckResult();
        EXPECT_FALSE(s.SaveResult(&error));
        EXPECT_FALSE(s.ResetAfterEmail(&error));
        EXPECT_EQ(readAll(d.bin()), c.bytes);
        // A store loaded before the damage does not save over it either.
        good.MakeEventCheckFile();
        EXPECT_FALSE(good.SaveResult(&error));
        EXPECT_EQ(readAll(d.bin()), c.bytes);
    }

    // Auto mode moves it aside, and a new store starts.
    TReportStore s(d.state);
    QString aside;
    ASSERT_TRUE(s.SetAsideUnreadable("240501100000", &aside));
    EXPECT_TRUE(aside.endsWith("Report.Bin.unreadable-240501100000"));
    EXPECT_EQ(readAll(aside), cases[5].bytes);
    EXPECT_FALSE(QFile::exists(d.bin()));
    ASSERT_TRUE(s.LoadResult());
    EXPECT_FALSE(s.SetAsideUnreadable("x", &aside)); // nothing to move
    s.MakeBumpResult({d.bump("GA0009", "2405011000", "PASS")}, {0});
    EXPECT_TRUE(s.SaveResult());
}

TEST(ReportStoreSerials, OneInstrumentWhateverTheCaseOfItsSerial)
{
    Dest d;
    // An older version kept two records and two folders.
    RDockReport upper = GetInitReport();
    upper.mSN = "XA8516908";
    upper.mLastBumpPass = 45000.5;
    upper.mLastBumpFile = "XA8516908_BUMP_2302011200.XML";
    upper.mModel = "Gaviro SG";
    RDockReport lower = GetInitReport();
    lower.mSN = "xa8516908";
    lower.mLastBumpFail = 45001.5;
    lower.mLastBumpFile = "xa8516908_BUMP_2302021200.XML";
    lower.mHighAlarmTime = 30;
    RDockReport other = GetInitReport();
    other.mSN = "GA0001";
    writeAll(d.bin(), EncodeReportBin(RDockReportHeader{}, {upper, other, lower}));
    QDir().mkpath(d.state.FLogDestDir + "KM1/xa8516908/BUMP");

    TReportStore s(d.state);
    ASSERT_TRUE(s.LoadResult());
    EXPECT_EQ(s.FindReport("XA8516908"), 0);
    EXPECT_EQ(s.FindReport("Xa8516908"), 0);
    s.CheckResult();
    ASSERT_EQ(serials(s.FReport), (QStringList{"GA0001", "XA8516908"}));
    const RDockReport& r = s.FReport[1];
    EXPECT_DOUBLE_EQ(r.mLastBumpPass, 45000.5);
    EXPECT_DOUBLE_EQ(r.mLastBumpFail, 45001.5);
    EXPECT_TRUE(r.mNewIdx & REPORT_INDEX_BUMP_FAIL) << "the latest test failed";
    EXPECT_EQ(r.mLastBumpFile, "xa8516908_BUMP_2302021200.XML");
    EXPECT_EQ(r.mHighAlarmTime, 30);
    EXPECT_EQ(r.mModel, "Gaviro SG");

    // The existing lower-case folder is the instrument's folder.
    EXPECT_EQ(StoreInstrumentDir(d.state.FLogDestDir, "XA8516908"), d.state.FLogDestDir + "KM1/xa8516908/");
    EXPECT_EQ(StoreInstrumentDir(d.state.FLogDestDir, "GA0002 "), d.state.FLogDestDir + "KM1/GA0002/");
    EXPECT_EQ(StoreInstrumentDir(d.state.FLogDestDir, "../x"), d.state.FLogDestDir + "KM1/.._x/");
    // A result saved under the upper-case serial is folded from there.
    s.MakeBumpResult({d.bump("XA8516908", "2306011200", "PASS")}, {0});
    s.CheckResult();
    ASSERT_EQ(s.FReport.size(), 2);
    EXPECT_GT(s.FReport[1].mLastBumpPass, 45001.5);
    EXPECT_TRUE(QFile::exists(d.state.FLogDestDir + "KM1/xa8516908/BUMP/XA8516908_BUMP_2306011200.XML"));
}
