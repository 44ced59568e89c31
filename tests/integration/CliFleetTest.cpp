// marvane-cli fleet: status, show, export and rebuild on a local store, in every format.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "support/TestSupport.h"
#include "unit/fleet/FleetTestStore.h"

namespace {

struct CliResult {
    int code = -1;
    QString out, err;
};

class CliFleetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(tmp.path() + "/home");
        ASSERT_EQ(cli({"settings", "set", "SET/LogDestination=" + dest()}).code, 0);
        const QDate today = QDate::currentDate();
        add("FA1", "BUMP", "PASS", today);
        add("FA1", "CAL", "PASS", today.addDays(-10));
        add("FA2", "BUMP", "FAIL", today);
        add("fa3", "BUMP", "PASS", today);
        add("fa3", "CAL", "PASS", today.addDays(-176)); // due in 4 days
        add("FA4", "BUMP", "PASS", today.addDays(-10));
        add("FA4", "CAL", "PASS", today.addDays(-10));
    }
    QString dest() const { return tmp.path() + "/store/"; }
    QString add(const QString& sn, const QString& kind, const QString& overall, QDate day)
    {
        const QString name = sn + '_' + kind + '_' + day.toString("yyMMdd") + "0930.XML";
        const QByteArray xml = fleettest::resultXml("CO", overall, day.toString("yy-MM-dd"), "09:30:00", "DK01");
        files.insert(sn.toUpper() + kind + day.toString(), xml);
        return fleettest::put(dest(), sn, kind, name, xml);
    }
    CliResult cli(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("HOME", tmp.path() + "/home");
        env.insert("XDG_STATE_HOME", tmp.path() + "/state");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(MARVANE_BINARY_DIR);
        p.start(MARVANE_CLI, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QTemporaryDir tmp;
    QHash<QString, QByteArray> files;
};

const char* const kStatusHeader =
    "serial,status,gas,dock,location,last_bump,last_bump_result,last_calibration,last_calibration_result,"
    "next_bump_due,next_calibration_due,next_due,alarms,bump_interval_days,calibration_interval_days,results,reason";

} // namespace

TEST_F(CliFleetTest, StatusInEveryFormatWorstFirstAndFiltered)
{
    CliResult r = cli({"fleet", "status", "--format", "csv"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList lines = r.out.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    EXPECT_EQ(lines[0], kStatusHeader);
    EXPECT_TRUE(lines[1].startsWith("FA2,failed,CO,DK01,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("FA4,overdue,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("FA3,due,")) << lines[3].toStdString(); // lower-case folder, one serial
    EXPECT_TRUE(lines[4].startsWith("FA1,ok,")) << lines[4].toStdString();
    EXPECT_TRUE(lines[1].endsWith(",bump test failed on " + QDate::currentDate().toString("yyyy-MM-dd") +
                                  "; no passed calibration on record"))
        << lines[1].toStdString();

    r = cli({"fleet", "status", "--format", "json", "--status", "due"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonArray arr = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(arr.size(), 1);
    const QJsonObject o = arr[0].toObject();
    EXPECT_EQ(o["serial"].toString(), "FA3");
    EXPECT_EQ(o["next_calibration_due"].toString(), QDate::currentDate().addDays(4).toString("yyyy-MM-dd"));
    EXPECT_EQ(o["alarms"].toDouble(), 0);
    EXPECT_EQ(o["calibration_interval_days"].toDouble(), 180);
    EXPECT_EQ(o.keys().size(), QString(kStatusHeader).split(',').size());

    r = cli({"fleet", "status"});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("1 failed, 1 overdue, 1 due soon, 1 OK\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("\\nFA2 +Failed +CO"))) << r.out.toStdString();

    EXPECT_EQ(cli({"fleet", "status", "--format", "xml"}).code, 2);
    EXPECT_EQ(cli({"fleet", "status", "--status", "late"}).code, 2);
    EXPECT_EQ(cli({"fleet", "frobnicate"}).code, 2);
}

TEST_F(CliFleetTest, ShowAndExportTraceEveryTestToItsFile)
{
    CliResult r = cli({"fleet", "show", "fa3", "--format", "json"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o["status"].toString(), "due");
    const QJsonArray results = o["results"].toArray();
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0].toObject()["kind"].toString(), "bump"); // newest first
    const QJsonObject cal = results[1].toObject();
    EXPECT_EQ(cal["file"].toString().left(16), "KM1/fa3/CAL/fa3_");
    EXPECT_EQ(cal["sha256"].toString(),
              fleettest::sha256(files.value("FA3CAL" + QDate::currentDate().addDays(-176).toString())));
    EXPECT_EQ(cal["span_reading_before"].toDouble(), 45);
    EXPECT_EQ(o["wear"].toObject()["points"].toArray().size(), 1);

    EXPECT_EQ(cli({"fleet", "show", "NOPE"}).code, 1);
    r = cli({"fleet", "show", "FA1"});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("status: OK")) << r.out.toStdString();

    const QString out = tmp.path() + "/all.csv";
    r = cli({"fleet", "export", "--format", "csv", out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = QString::fromUtf8(testsupport::readAll(out)).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], "serial,kind,date,gas,unit,dock,location,overall,zero_concentration,zero_reading_before,"
                        "zero_reading,zero_low_limit,zero_high_limit,zero_result,span_concentration,"
                        "span_reading_before,span_reading,span_low_limit,span_high_limit,span_result,response_time,"
                        "cylinder_lot,cylinder_expiry,file,sha256");
    EXPECT_EQ(cli({"fleet", "export", out}).code, 2);
    const QString json = tmp.path() + "/all.json";
    ASSERT_EQ(cli({"fleet", "export", "--format", "json", json}).code, 0);
    EXPECT_EQ(QJsonDocument::fromJson(testsupport::readAll(json)).array().size(), 7);
}

TEST_F(CliFleetTest, ADamagedIndexIsSetAsideAndRebuilt)
{
    ASSERT_EQ(cli({"fleet", "rebuild"}).code, 0);
    testsupport::writeAll(dest() + "fleet.sqlite", "garbage, not a database");
    QFile::remove(dest() + "fleet.sqlite-wal");
    QFile::remove(dest() + "fleet.sqlite-shm");
    CliResult r = cli({"fleet", "status", "--format", "csv"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("could not be read")) << r.err.toStdString();
    EXPECT_EQ(r.out.split("\r\n", Qt::SkipEmptyParts).size(), 5);
    const QStringList aside =
        QDir(dest()).entryList({"fleet.sqlite.bad-*"}).filter(QRegularExpression("bad-[0-9-]+$"));
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(testsupport::readAll(dest() + aside[0]), "garbage, not a database");

    r = cli({"fleet", "rebuild"});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("7 results")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("4 instruments")) << r.out.toStdString();
}
