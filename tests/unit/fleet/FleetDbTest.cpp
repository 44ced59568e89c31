// The fleet index against the files it indexes: rows as read, incremental updates
// equal to a rebuild, and an index that cannot be read set aside and made again.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <functional>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "fleet/FleetDb.h"
#include "fleet/FleetIndexer.h"
#include "unit/fleet/FleetTestStore.h"

using namespace fleettest;
using testsupport::readAll;
using testsupport::ScopedTempRoot;

namespace {

// Everything the index holds, one line per row, in a fixed order.
QStringList dump(const TFleetDb& db)
{
    QStringList out;
    db.ForEachResult([&](const RFleetResult& r) {
        out << QStringLiteral("R %1 %2 %3 %4 %5 %6 %7 %8 %9 ")
                   .arg(r.mInstrument, r.mSerial, QString::number(r.mKind), FleetDateText(r.mDate), r.mGas, r.mDock,
                        r.mOverall, r.mPath, r.mSha256) +
                   QStringLiteral("%1 %2 %3 %4").arg(r.mSpan.mPreReading).arg(r.mSpan.mConcentration)
                       .arg(r.mSpan.mTime).arg(r.mGasLot);
        return true;
    });
    db.ForEachEvent([&](const RFleetEvent& e) {
        out << QStringLiteral("E %1 %2 %3 %4 %5 %6 %7 %8 %9")
                   .arg(e.mInstrument, FleetDateText(e.mDate), QString::number(e.mDuration), e.mAlarm, e.mOption,
                        QString::number(e.mCounted), QString::number(e.mLine), e.mPath, e.mSha256);
        return true;
    });
    for (const RFleetInstrument& i : db.Instruments())
        out << QStringLiteral("I %1 %2 %3 %4 %5 %6 %7 %8 %9 ")
                   .arg(i.mInstrument, i.mSerial, i.mGas, i.mDock, FleetDateText(i.mLastBump), i.mLastBumpResult,
                        FleetDateText(i.mLastBumpPass), FleetDateText(i.mLastCalPass), FleetDateText(i.mLastCalFail)) +
                   QString::number(i.mResults) + ' ' + QString::number(i.mEventFiles);
    return out;
}

struct Store {
    ScopedTempRoot root;
    QString dest = root.path() + "/dest/";
};

} // namespace

TEST(FleetIndex, RowsCarryWhatTheFilesSayWithTheirPathAndHash)
{
    Store s;
    const QByteArray cal = resultXml("SO2", "pass", "21-03-10", "08:30:05", "DK7", "Hall 3", 45.5, 50, 40);
    const QString calPath = put(s.dest, "KR1", "CAL", "KR1_CAL_2103100830.XML", cal);
    const QByteArray ev = eventCsv("21-03-11,09:00:00,30,12.5,HIGH,\r\n"
                                   "21-03-11,09:00:03,1,12.5,HIGH,\r\n"   // 3 s later: not counted again
                                   "21-03-11,09:10:00,20,8,LOW,BUMP\r\n"  // a bump test's alarm
                                   "21-03-11,09:20:00,20,8,STEL,\r\n"     // not an alarm the store counts
                                   "21-03-11,09:30:00,25,9,low,\r\n");
    const QString evPath = put(s.dest, "KR1", "EVENT", "KR1_EVENT_2103111000.CSV", ev);
    put(s.dest, "KR1", "BUMP", "KR1_BUMP_2103111000.XML", "<not xml");

    TFleetDb db(s.dest);
    QString notice, error;
    ASSERT_TRUE(db.Open(&notice, &error)) << qPrintable(error);
    EXPECT_TRUE(notice.isEmpty());
    RFleetUpdate u;
    ASSERT_TRUE(db.Update(&u, &error)) << qPrintable(error);
    EXPECT_EQ(u.mFilesRead, 3);
    EXPECT_EQ(u.mResults, 1);
    EXPECT_EQ(u.mEvents, 5);
    EXPECT_EQ(u.mUnreadable, QStringList{"KM1/KR1/BUMP/KR1_BUMP_2103111000.XML"});
    EXPECT_TRUE(QFileInfo::exists(s.dest + "fleet.sqlite"));

    const QVector<RFleetResult> rs = db.Results("kr1");
    ASSERT_EQ(rs.size(), 1);
    const RFleetResult& r = rs[0];
    EXPECT_EQ(r.mInstrument, "KR1");
    EXPECT_EQ(r.mKind, 1);
    EXPECT_EQ(FleetDateText(r.mDate), "2021-03-10 08:30:05");
    EXPECT_EQ(r.mGas, "SO2");
    EXPECT_EQ(r.mUnit, "ppm");
    EXPECT_EQ(r.mDock, "DK7");
    EXPECT_EQ(r.mLocation, "Hall 3");
    EXPECT_EQ(r.mOverall, "PASS");
    EXPECT_EQ(r.mSpan.mConcentration, 50);
    EXPECT_EQ(r.mSpan.mPreReading, 45.5);
    EXPECT_EQ(r.mSpan.mReading, 50.2);
    EXPECT_EQ(r.mSpan.mLowLimit, 40);
    EXPECT_EQ(r.mSpan.mTime, 12);
    EXPECT_EQ(r.mZero.mReading, 0.1);
    EXPECT_EQ(r.mGasLot, "LOT7");
    EXPECT_EQ(r.mGasExpiry, "2027-01");
    EXPECT_EQ(r.mPath, calPath);
    EXPECT_EQ(r.mSha256, sha256(cal));

    const QVector<RFleetEvent> es = db.Events("KR1");
    ASSERT_EQ(es.size(), 5);
    EXPECT_EQ(FleetDateText(es[0].mDate), "2021-03-11 09:30:00"); // newest first
    EXPECT_EQ(es[0].mAlarm, "LOW");
    EXPECT_EQ(es[0].mPath, evPath);
    EXPECT_EQ(es[0].mSha256, sha256(ev));
    QVector<bool> counted;
    for (const RFleetEvent& e : es)
        counted.prepend(e.mCounted);
    EXPECT_EQ(counted, (QVector<bool>{true, false, false, false, true}));
    EXPECT_EQ(db.AlarmCounts(EncodeDateTime(2021, 3, 11, 0, 0, 0)).value("KR1"), 2);
    EXPECT_EQ(db.AlarmCounts(EncodeDateTime(2021, 3, 11, 9, 15, 0)).value("KR1"), 1);

    RFleetInstrument inst;
    ASSERT_TRUE(db.Instrument("Kr1", &inst));
    EXPECT_EQ(inst.mGas, "SO2");
    EXPECT_EQ(inst.mLastCalPass, r.mDate);
    EXPECT_EQ(inst.mLastBump, 0); // the bump file could not be read
    EXPECT_EQ(inst.mEventFiles, 1);
}

TEST(FleetIndex, IncrementalUpdatesEqualARebuild)
{
    Store s;
    TFleetDb db(s.dest);
    ASSERT_TRUE(db.Open());
    put(s.dest, "A1", "BUMP", "A1_BUMP_2103101000.XML", resultXml("CO", "PASS", "21-03-10"));
    put(s.dest, "A1", "EVENT", "A1_EVENT_2103101000.CSV", eventCsv("21-03-10,09:00:00,30,12,HIGH,\r\n"));
    RFleetUpdate u;
    ASSERT_TRUE(db.Update(&u));
    EXPECT_EQ(u.mFilesRead, 2);

    // Nothing new: nothing read.
    ASSERT_TRUE(db.Update(&u));
    EXPECT_EQ(u.mFilesRead, 0);
    EXPECT_EQ(u.mFilesUnchanged, 2);

    // New files, a replaced file (saved again with other bytes), a file removed by hand.
    put(s.dest, "A1", "BUMP", "A1_BUMP_2103111000.XML", resultXml("CO", "FAIL", "21-03-11"));
    put(s.dest, "B2", "CAL", "B2_CAL_2103111000.XML", resultXml("O2", "PASS", "21-03-11"));
    put(s.dest, "A1", "EVENT", "A1_EVENT_2103101000.CSV",
        eventCsv("21-03-10,09:00:00,30,12,HIGH,\r\n21-03-10,10:00:00,5,3,LOW,\r\n"));
    ASSERT_TRUE(db.Update(&u));
    EXPECT_EQ(u.mFilesRead, 3);
    put(s.dest, "C3", "BUMP", "C3_BUMP_2103111000.XML", resultXml("H2S", "PASS", "21-03-11"));
    ASSERT_TRUE(QFile::remove(s.dest + "KM1/B2/CAL/B2_CAL_2103111000.XML"));
    ASSERT_TRUE(db.Update(&u));
    EXPECT_EQ(u.mFilesRead, 1);
    EXPECT_EQ(u.mFilesRemoved, 1);
    const QStringList incremental = dump(db);

    RFleetInstrument a1;
    ASSERT_TRUE(db.Instrument("A1", &a1));
    EXPECT_EQ(a1.mLastBumpResult, "FAIL");
    EXPECT_FALSE(db.Instrument("B2", nullptr)); // its only file is gone

    ASSERT_TRUE(db.Rebuild(&u));
    EXPECT_TRUE(u.mRebuilt);
    EXPECT_EQ(dump(db), incremental);

    // And a fresh index made from nothing.
    db.Close();
    ASSERT_TRUE(QFile::remove(s.dest + "fleet.sqlite"));
    TFleetDb again(s.dest);
    ASSERT_TRUE(again.Update(&u));
    EXPECT_EQ(dump(again), incremental);
    EXPECT_EQ(incremental.filter(QRegularExpression("^E ")).size(), 2);
}

TEST(FleetIndex, AStoreReadAheadOnThreadsGivesTheRowsOfSmallUpdates)
{
    // A rebuild of this many files reads them on threads; updates of a few read them in
    // line. Both give the same rows, ids and summaries, unreadable files included.
    Store s;
    TFleetDb db(s.dest);
    ASSERT_TRUE(db.Open());
    RFleetUpdate u;
    int files = 0;
    for (int i = 0; i < 60; ++i) {
        const QString sn = QStringLiteral("KR%1").arg(200 + i);
        const QString day = QStringLiteral("21-03-%1").arg(10 + i % 18);
        put(s.dest, sn, "BUMP", sn + "_BUMP_2103101000.XML", resultXml("CO", i % 7 ? "PASS" : "FAIL", day));
        put(s.dest, sn, "CAL", sn + "_CAL_2103091000.XML", resultXml("CO", "PASS", "21-03-09", "08:00:00",
                                                                   "DK1", "Hall 1", 40 + i % 5));
        put(s.dest, sn, "EVENT", sn + "_EVENT_2103101000.CSV",
            i % 11 ? eventCsv(QStringLiteral("%1,09:00:0%2,30,12,HIGH,\r\n%1,09:00:09,5,3,LOW,\r\n")
                                  .arg(day).arg(i % 10).toUtf8())
                   : QByteArray("not an event log"));
        if (i % 13 == 0)
            put(s.dest, sn, "CAL", sn + "_CAL_2103111000.XML", "<R><INFO>cut off");
        files += 3 + (i % 13 == 0);
        if (i % 10 == 9) {
            ASSERT_TRUE(db.Update(&u));
            ASSERT_LT(u.mFilesRead, 64);
        }
    }
    const QStringList incremental = dump(db);
    ASSERT_TRUE(db.Rebuild(&u));
    EXPECT_EQ(u.mFilesRead, files);
    EXPECT_GE(u.mFilesRead, 64);
    EXPECT_EQ(u.mUnreadable.size(), 5);
    EXPECT_EQ(dump(db), incremental);
    EXPECT_EQ(incremental.filter(QRegularExpression("^E ")).size(), 2 * (60 - 6));
}

TEST(FleetIndex, TheStoreListingTakesSizesAndTimesAsTheFileSystemGivesThem)
{
    // The times are compared with those of indexes made before: a time read another
    // way would make every file look changed and read the whole store again.
    Store s;
    const QString cal = put(s.dest, "kr1", "CAL", "kr1_CAL_2103100830.xml", resultXml("CO", "PASS", "21-03-10"));
    const QString hidden = put(s.dest, "kr1", "BUMP", ".KR1_BUMP_2103100830.XML", "<R/>");
    put(s.dest, "kr1", "BUMP", "notes.txt", "not a result");
    put(s.dest, "kr1", "EVENT", "KR1_EVENT_2103100830.XML", "in the wrong folder");
    ASSERT_TRUE(QDir().mkpath(s.dest + "KM1/kr1/CAL/FOLDER.XML"));
    QFile f(s.dest + cal);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1615365005123);
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    f.close();
#ifndef _WIN32
    ASSERT_TRUE(QFile::link(s.dest + cal, s.dest + "KM1/kr1/CAL/LINKED.XML"));
    ASSERT_TRUE(QFile::link(s.dest + "KM1/gone.XML", s.dest + "KM1/kr1/CAL/DANGLING.XML"));
#endif

    const QVector<RFleetStoreFile> files = ListFleetStore(s.dest);
    QStringList paths;
    for (const RFleetStoreFile& e : files) {
        paths << e.mPath;
        const QFileInfo fi(s.dest + e.mPath);
        EXPECT_EQ(e.mSize, fi.size()) << e.mPath.toStdString();
        EXPECT_EQ(e.mMtime, fi.lastModified().toMSecsSinceEpoch()) << e.mPath.toStdString();
        EXPECT_EQ(e.mSerial, "kr1");
        EXPECT_EQ(e.mInstrument, "KR1");
    }
    QStringList expected = {hidden, cal};
#ifndef _WIN32
    expected.insert(1, "KM1/kr1/CAL/LINKED.XML");
#endif
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(files.value(expected.indexOf(cal)).mMtime, 1615365005123);
    EXPECT_EQ(files.value(expected.indexOf(cal)).mKind, FLEET_FILE_CAL);
    EXPECT_TRUE(ListFleetStore(s.dest + "nothing/").isEmpty());
}

TEST(FleetIndex, AnIndexOfTheFirstSchemaIsMigratedWithItsRows)
{
    Store s;
    put(s.dest, "KR1", "BUMP", "KR1_BUMP_2103101000.XML", resultXml("CO", "PASS", "21-03-10"));
    QStringList before;
    {
        TFleetDb db(s.dest);
        ASSERT_TRUE(db.Update());
        before = dump(db);
    }
    auto withDb = [&](const std::function<void(QSqlDatabase&)>& f) {
        {
            QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "v1");
            d.setDatabaseName(s.dest + "fleet.sqlite");
            ASSERT_TRUE(d.open());
            f(d);
            d.close();
        }
        QSqlDatabase::removeDatabase("v1");
    };
    // As the first version left it: without the index of an instrument's files.
    withDb([](QSqlDatabase& d) {
        EXPECT_TRUE(QSqlQuery(d).exec("DROP INDEX files_instrument"));
        EXPECT_TRUE(QSqlQuery(d).exec("PRAGMA user_version = 1"));
    });
    {
        TFleetDb db(s.dest);
        RFleetUpdate u;
        ASSERT_TRUE(db.Update(&u));
        EXPECT_FALSE(u.mRebuilt);
        EXPECT_TRUE(u.mNotice.isEmpty()) << qPrintable(u.mNotice);
        EXPECT_EQ(u.mFilesUnchanged, 1);
        EXPECT_EQ(dump(db), before);
    }
    withDb([](QSqlDatabase& d) {
        QSqlQuery q(d);
        ASSERT_TRUE(q.exec("PRAGMA user_version") && q.next());
        EXPECT_EQ(q.value(0).toInt(), TFleetDb::SCHEMA_VERSION);
        ASSERT_TRUE(q.exec("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'files_instrument'") &&
                    q.next());
        EXPECT_EQ(q.value(0).toInt(), 1);
    });
}

TEST(FleetIndex, SerialsDifferingInCaseAreOneInstrument)
{
    Store s;
    put(s.dest, "kr100", "BUMP", "kr100_BUMP_2103101000.XML", resultXml("CO", "PASS", "21-03-10"));
    put(s.dest, "KR100", "BUMP", "KR100_BUMP_2103111000.XML", resultXml("CO", "FAIL", "21-03-11"));
    TFleetDb db(s.dest);
    ASSERT_TRUE(db.Update());
    const QVector<RFleetInstrument> all = db.Instruments();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].mInstrument, "KR100");
    EXPECT_EQ(all[0].mResults, 2);
    EXPECT_EQ(all[0].mLastBumpResult, "FAIL");
    EXPECT_EQ(FleetDateText(all[0].mLastBumpPass), "2021-03-10 10:00:00");
    EXPECT_EQ(db.Results("kR100").size(), 2);
}

TEST(FleetIndex, AnUnreadableIndexIsSetAsideAsItWasAndRebuilt)
{
    const QByteArray garbage("this is not a database, but someone's file\n");
    struct Case {
        const char* what;
        std::function<void(const QString& path)> spoil;
    };
    const Case cases[] = {
        {"garbage", [&](const QString& p) { testsupport::writeAll(p, garbage); }},
        {"truncated",
         [&](const QString& p) {
             QByteArray b = readAll(p);
             b.truncate(1500);
             testsupport::writeAll(p, b);
         }},
        {"newer schema",
         [&](const QString& p) {
             QSqlDatabase d = QSqlDatabase::addDatabase("QSQLITE", "spoil");
             d.setDatabaseName(p);
             ASSERT_TRUE(d.open());
             QSqlQuery(d).exec("PRAGMA user_version = 99");
             d.close();
             d = QSqlDatabase();
             QSqlDatabase::removeDatabase("spoil");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store s;
        put(s.dest, "KR1", "BUMP", "KR1_BUMP_2103101000.XML", resultXml("CO", "PASS", "21-03-10"));
        {
            TFleetDb db(s.dest);
            ASSERT_TRUE(db.Update());
        }
        const QString file = s.dest + "fleet.sqlite";
        for (const char* j : {"-wal", "-shm"})
            QFile::remove(file + j);
        c.spoil(file);
        const QByteArray spoiled = readAll(file);

        TFleetDb db(s.dest);
        RFleetUpdate u;
        QString error;
        ASSERT_TRUE(db.Update(&u, &error)) << qPrintable(error);
        EXPECT_TRUE(u.mRebuilt);
        EXPECT_TRUE(u.mNotice.contains("fleet.sqlite")) << qPrintable(u.mNotice);
        const QStringList aside = QDir(s.dest).entryList({"fleet.sqlite.bad-*"}, QDir::Files);
        ASSERT_EQ(aside.filter(QRegularExpression("bad-[0-9-]+$")).size(), 1) << qPrintable(aside.join(","));
        EXPECT_EQ(readAll(s.dest + aside.filter(QRegularExpression("bad-[0-9-]+$")).first()), spoiled);
        EXPECT_EQ(db.Results("KR1").size(), 1);
    }
}

TEST(FleetIndex, DockIntervalsReplaceTheDocksEarlierOnes)
{
    Store s;
    TFleetDb db(s.dest);
    ASSERT_TRUE(db.Open());
    ASSERT_TRUE(db.SetDockIntervals({{"dk1", "CO", 1, 90, 0}, {"DK1", "H2S", 0, 180, 0}}));
    ASSERT_TRUE(db.SetDockIntervals({{"DK1", "co", 7, 0, 0}}));
    const QVector<RFleetDockInterval> all = db.DockIntervals();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].mDock, "DK1");
    EXPECT_EQ(all[0].mGas, "CO");
    EXPECT_EQ(all[0].mBumpDays, 7);
    EXPECT_EQ(all[0].mCalDays, 0);
}
