#include <gtest/gtest.h>

#include <QDir>

#include "logview/TestResult.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

QByteArray doc(const QString& info, const QString& test, const QString& root = QStringLiteral("BUMPTEST"))
{
    return (QStringLiteral("<?xml version=\"1.0\"?>\n<%1><INFO>%2</INFO><TEST>%3</TEST></%1>").arg(root, info, test))
        .toUtf8();
}

const QString kInfo = QStringLiteral(
    "<INSTRUMENT>D100</INSTRUMENT><SERIAL>SN1</SERIAL><LOCATION>Bay &lt;3&gt;</LOCATION>"
    "<GASLOT>L7</GASLOT><GASEXPIRY>2025-01</GASEXPIRY><DATE>21-03-15</DATE><TIME>14:05:09</TIME>"
    "<OVERALLRESULT>pass</OVERALLRESULT>");

uint8_t read(const QByteArray& data, RDockTestInfo& r, uint8_t kind = TEST_KIND_BUMP)
{
    return GetDockTestInfoFromData(kind, data, r);
}

} // namespace

TEST(TestResultReader, ReadsEveryElementOfACompleteResult)
{
    const QString test = QStringLiteral(
        "<SENSOR><GAS>CO</GAS><LOW>30.5</LOW><HIGH>150</HIGH><HIBERNATE>true</HIBERNATE><ID>300</ID>"
        "<MODEL>2</MODEL><STEL>100</STEL><TWA>25</TWA></SENSOR>"
        "<HWTEST><EVENTLOG>pass</EVENTLOG><UPGRADE>none</UPGRADE><AUDIBLETEST>Fail</AUDIBLETEST>"
        "<VISIBLETEST>PASS</VISIBLETEST></HWTEST>"
        "<ZERO><CONCENTRATION>0</CONCENTRATION><LOWLIMIT>-3</LOWLIMIT><HIGHLIMIT>3</HIGHLIMIT>"
        "<READING>1</READING><PREREADING>2</PREREADING><RESULT>pass</RESULT></ZERO>"
        "<SPAN><CONCENTRATION>100</CONCENTRATION><LOWLIMIT>50</LOWLIMIT><HIGHLIMIT>9999</HIGHLIMIT>"
        "<READING>97.5</READING><BUMPTIME>12</BUMPTIME><RESULT>Pass</RESULT></SPAN>");
    RDockTestInfo r;
    ASSERT_EQ(read(doc(kInfo, test), r), DOCKTEST_OK);
    EXPECT_EQ(r.mType, TEST_KIND_BUMP);
    EXPECT_EQ(r.mInstSN, "D100");
    EXPECT_EQ(r.mSN, "SN1");
    EXPECT_EQ(r.mLocation, "Bay <3>");
    EXPECT_EQ(r.mGasLot, "L7");
    EXPECT_EQ(r.mGasExpire, "2025-01");
    EXPECT_EQ(r.mOverAllResult, "PASS");
    EXPECT_DOUBLE_EQ(r.mDate, EncodeDateTime(2021, 3, 15, 14, 5, 9));
    EXPECT_EQ(r.mGasInfo.mSensor, 2);
    EXPECT_EQ(r.mGasInfo.mName, "CO");
    EXPECT_EQ(r.mGasInfo.mUnit, "ppm");
    EXPECT_EQ(r.mGasInfo.mDec, 0);
    EXPECT_FLOAT_EQ(r.mGasInfo.mLowAlarm, 30.5f);
    EXPECT_FLOAT_EQ(r.mGasInfo.mHighAlarm, 150.0f);
    EXPECT_FLOAT_EQ(r.mGasInfo.mSTELAlarm, 100.0f);
    EXPECT_FLOAT_EQ(r.mGasInfo.mTWAAlarm, 25.0f);
    EXPECT_TRUE(r.mHibernate);
    EXPECT_EQ(r.mUnitID, 300 & 0xFF);
    EXPECT_EQ(r.mSensorId, 2);
    EXPECT_EQ(r.mModel, "Gaviro SG CO");
    EXPECT_EQ(r.mPreTest.mEventLog, "PASS");
    EXPECT_EQ(r.mPreTest.mUpgrade, "NONE");
    EXPECT_EQ(r.mPreTest.mAudible, "FAIL");
    EXPECT_EQ(r.mPreTest.mVisible, "PASS");
    EXPECT_FLOAT_EQ(r.mZero.mLowLimit, -3.0f);
    EXPECT_FLOAT_EQ(r.mZero.mPreReading, 2.0f);
    EXPECT_EQ(r.mZero.mResult, "PASS");
    EXPECT_FLOAT_EQ(r.mSpan.mConcentration, 100.0f);
    EXPECT_FLOAT_EQ(r.mSpan.mReading, 97.5f);
    EXPECT_EQ(r.mSpan.mTime, 12);
    EXPECT_EQ(r.mSpan.mResult, "PASS");
}

TEST(TestResultReader, RecognisesGasNamesInTheFixedOrder)
{
    struct Case {
        const char* text;
        uint8_t code;
        uint8_t sensor;
        const char* model;
    } cases[] = {
        {"SO2", DOCKTEST_OK, 4, "Gaviro SG SO2"},
        {"O2", DOCKTEST_OK, 3, "Gaviro SG O2"},
        {"CO/O2", DOCKTEST_OK, 2, "Gaviro SG CO"},
        {"Gas H2S sensor", DOCKTEST_OK, 1, "Gaviro SG H2S"},
        {"so2", DOCKTEST_NO_GAS, 1, "Gaviro SG H2S"}, // compared as written
        {"NH3", DOCKTEST_NO_GAS, 1, "Gaviro SG H2S"},
        {"  ", DOCKTEST_NO_GAS, 1, "Gaviro SG H2S"},
    };
    for (const Case& c : cases) {
        RDockTestInfo r;
        const QString sensor = QStringLiteral("<SENSOR><GAS>%1</GAS><LOW>1</LOW></SENSOR>").arg(QLatin1String(c.text));
        EXPECT_EQ(read(doc(kInfo, sensor), r), c.code) << c.text;
        EXPECT_EQ(r.mGasInfo.mSensor, c.sensor) << c.text;
        EXPECT_EQ(r.mModel, QLatin1String(c.model)) << c.text;
        // Set points are read only when the gas was recognised.
        EXPECT_FLOAT_EQ(r.mGasInfo.mLowAlarm, c.code == DOCKTEST_OK ? 1.0f : 0.0f) << c.text;
    }
    // A later GAS element may change the choice.
    RDockTestInfo r;
    EXPECT_EQ(read(doc(kInfo, QStringLiteral("<SENSOR><GAS>CO</GAS><GAS>xx</GAS><GAS>O2</GAS></SENSOR>")), r),
              DOCKTEST_OK);
    EXPECT_EQ(r.mGasInfo.mName, "O2");
    EXPECT_EQ(r.mGasInfo.mUnit, "%vol");
    EXPECT_FLOAT_EQ(r.mGasInfo.mLowAlarm, 19.5f); // the table's default set points
}

TEST(TestResultReader, DatesNeedBothDateAndTime)
{
    RDockTestInfo r;
    read(doc(QStringLiteral("<DATE>21-03-15</DATE><TIME></TIME>"), {}), r);
    EXPECT_EQ(r.mDate, 0);
    read(doc(QStringLiteral("<DATE>21-13-15</DATE><TIME>10:00:00</TIME>"), {}), r);
    EXPECT_EQ(r.mDate, 0);
    read(doc(QStringLiteral("<OVERALLRESULT>PASS</OVERALLRESULT>"), {}), r);
    EXPECT_EQ(r.mDate, 0); // no date at all
    read(doc(QStringLiteral("<DATE>00-01-01</DATE><TIME>10:00:00</TIME>"), {}), r);
    EXPECT_EQ(r.mDate, 0); // year 2000 is not above 2000
}

TEST(TestResultReader, ElementNamesIgnoreCaseAndTheLastRepeatWins)
{
    const QByteArray data = QByteArrayLiteral(
        "<Result><Info><serial>OLD</serial></Info><test><sensor><gas>CO</gas></sensor></test>"
        "<iNfO><Serial>A</Serial><SERIAL>B</SERIAL><overallresult>Fail</overallresult></iNfO>"
        "<TEST><Sensor><Gas>H2S</Gas></Sensor><span><result>fail</result></span><SPAN><RESULT>pass</RESULT></SPAN></TEST>"
        "</Result>");
    RDockTestInfo r;
    ASSERT_EQ(read(data, r), DOCKTEST_OK);
    EXPECT_EQ(r.mSN, "B");
    EXPECT_EQ(r.mOverAllResult, "FAIL");
    EXPECT_EQ(r.mGasInfo.mName, "H2S"); // from the last TEST only
    EXPECT_EQ(r.mSpan.mResult, "PASS");
}

TEST(TestResultReader, MissingPartsGiveTheirCodes)
{
    RDockTestInfo r;
    // No SENSOR: code 4, gas at its initial values, the steps still read.
    ASSERT_EQ(read(doc(kInfo, QStringLiteral("<HWTEST><UPGRADE>pass</UPGRADE></HWTEST>"
                                             "<ZERO><RESULT>pass</RESULT></ZERO><SPAN><READING>5</READING></SPAN>")),
                   r),
              DOCKTEST_NO_GAS);
    EXPECT_EQ(r.mGasInfo.mName, "H2S");
    EXPECT_EQ(r.mGasInfo.mUnit, "");
    EXPECT_EQ(r.mPreTest.mUpgrade, "PASS");
    EXPECT_EQ(r.mZero.mResult, "PASS");
    EXPECT_FLOAT_EQ(r.mSpan.mReading, 5.0f);
    EXPECT_EQ(r.mSN, "SN1");

    // No INFO: code 3 and the initial record.
    EXPECT_EQ(read(QByteArrayLiteral("<R><TEST><SENSOR><GAS>CO</GAS></SENSOR></TEST></R>"), r, TEST_KIND_CAL),
              DOCKTEST_NO_INFO);
    EXPECT_EQ(r.mType, TEST_KIND_CAL);
    EXPECT_EQ(r.mModel, "KRV100");
    EXPECT_EQ(r.mOverAllResult, "NONE");
    EXPECT_EQ(r.mGasInfo.mSensor, 1);
    EXPECT_GT(r.mDate, 0); // the current time

    // Numbers that are not numbers keep what the field had.
    ASSERT_EQ(read(doc(kInfo, QStringLiteral("<SENSOR><GAS>CO</GAS><LOW>abc</LOW><ID></ID></SENSOR>"
                                             "<SPAN><HIGHLIMIT>x</HIGHLIMIT><BUMPTIME>1e3</BUMPTIME>"
                                             "<READING>2,5</READING></SPAN>")),
                   r),
              DOCKTEST_OK);
    EXPECT_FLOAT_EQ(r.mGasInfo.mLowAlarm, 35.0f);
    EXPECT_EQ(r.mUnitID, 0);
    EXPECT_FLOAT_EQ(r.mSpan.mHighLimit, 100000.0f);
    EXPECT_EQ(r.mSpan.mTime, 0);
    EXPECT_FLOAT_EQ(r.mSpan.mReading, 2.5f);

    // HIBERNATE: only "true" in any case.
    read(doc(kInfo, QStringLiteral("<SENSOR><GAS>CO</GAS><HIBERNATE>yes</HIBERNATE></SENSOR>")), r);
    EXPECT_FALSE(r.mHibernate);
    read(doc(kInfo, QStringLiteral("<SENSOR><GAS>CO</GAS><HIBERNATE>TRUE</HIBERNATE></SENSOR>")), r);
    EXPECT_TRUE(r.mHibernate);
}

TEST(TestResultReader, HostileDocumentsAreRefusedAsUnreadable)
{
    const QByteArray entities = QByteArrayLiteral(
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><r><INFO><SERIAL>&c;</SERIAL></INFO></r>");
    const QByteArray external = QByteArrayLiteral(
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<r><INFO><SERIAL>&x;</SERIAL></INFO></r>");
    QByteArray deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    QByteArray deepInfo = "<r><INFO>";
    for (int i = 0; i < 100; ++i)
        deepInfo += "<a>";
    for (int i = 0; i < 100; ++i)
        deepInfo += "</a>";
    deepInfo += "</INFO></r>";
    const QByteArray samples[] = {QByteArray(), QByteArrayLiteral("<r><INFO></r>"), QByteArrayLiteral("garbage"),
                                  QByteArrayLiteral("<r><INFO><SERIAL>&undefined;</SERIAL></INFO></r>"), entities,
                                  external, deep, deepInfo};
    for (const QByteArray& s : samples) {
        RDockTestInfo r;
        EXPECT_EQ(read(s, r), DOCKTEST_BAD_XML) << s.left(60).constData();
        EXPECT_EQ(testresult::GetTestResultFromData(s), "ERROR");
    }
}

TEST(TestResultReader, FilesMissingOrTooLarge)
{
    ScopedTempRoot root;
    RDockTestInfo r;
    EXPECT_EQ(GetDockTestInfo(TEST_KIND_CAL, root.path() + "/none.xml", r), DOCKTEST_NO_FILE);
    EXPECT_EQ(GetDockTestInfo(TEST_KIND_CAL, root.path(), r), DOCKTEST_NO_FILE); // a folder
    EXPECT_EQ(testresult::GetTestResult(root.path() + "/none.xml"), "NONE");

    const QString good = root.path() + "/SN1_CAL_2103151405.XML";
    writeAll(good, doc(kInfo, QStringLiteral("<SENSOR><GAS>SO2</GAS></SENSOR>"), QStringLiteral("CALIBRATION")));
    EXPECT_EQ(GetDockTestInfo(TEST_KIND_CAL, good, r), DOCKTEST_OK);
    EXPECT_EQ(r.mGasInfo.mName, "SO2");
    EXPECT_EQ(testresult::GetTestResult(good), "PASS");

    const QString big = root.path() + "/big.xml";
    QByteArray huge = "<r><INFO><SERIAL>";
    huge += QByteArray(TESTRESULT_MAX_FILE_SIZE, 'x');
    huge += "</SERIAL></INFO></r>";
    writeAll(big, huge);
    EXPECT_EQ(GetDockTestInfo(TEST_KIND_CAL, big, r), DOCKTEST_BAD_XML);
    EXPECT_EQ(testresult::GetTestResult(big), "ERROR");
}

TEST(TestResultProbe, ReportsTheFirstOverallResult)
{
    EXPECT_EQ(testresult::GetTestResultFromData(QByteArrayLiteral("<r><TEST/></r>")), "NO DATA");
    EXPECT_EQ(testresult::GetTestResultFromData(QByteArrayLiteral("<r><INFO><SERIAL>1</SERIAL></INFO></r>")), "NONE");
    EXPECT_EQ(testresult::GetTestResultFromData(QByteArrayLiteral(
                  "<r><info><OverallResult>fail</OverallResult><OVERALLRESULT>PASS</OVERALLRESULT></info>"
                  "<INFO><OVERALLRESULT>none</OVERALLRESULT></INFO></r>")),
              "FAIL");
}

TEST(TestResultProbe, KindOfAHandPickedFile)
{
    EXPECT_EQ(TestKindOfFileName(QStringLiteral("/x/SN1_cal_2103151405.xml")), TEST_KIND_CAL);
    EXPECT_EQ(TestKindOfFileName(QStringLiteral("/CAL/SN1_BUMP_2103151405.XML")), TEST_KIND_BUMP);
}

TEST(TestResultProbe, KindFromTheNameFieldThenTheRootThenTheOldRule)
{
    testsupport::ScopedTempRoot root;
    auto file = [&](const QString& name, const QByteArray& xml) {
        const QString path = root.path() + '/' + name;
        testsupport::writeAll(path, xml);
        return path;
    };
    // "CAL" inside the serial number no longer makes a bump test a calibration.
    EXPECT_EQ(TestKindOfResult(file("SCAL0042_BUMP_2403010930.XML", "<CALIBRATION/>")), TEST_KIND_BUMP);
    EXPECT_EQ(TestKindOfResult(file("LOCAL7_cal_2403010930.xml", "<BUMPTEST/>")), TEST_KIND_CAL);
    // No kind field: the document's root names it.
    EXPECT_EQ(TestKindOfResult(file("result.xml", "<?xml version=\"1.0\"?><Calibration><INFO/></Calibration>")),
              TEST_KIND_CAL);
    EXPECT_EQ(TestKindOfResult(file("LOCAL.xml", "<bumptest><INFO/></bumptest>")), TEST_KIND_BUMP);
    // Neither: the old rule on the name.
    EXPECT_EQ(TestKindOfResult(file("mycal.xml", "<r/>")), TEST_KIND_CAL);
    EXPECT_EQ(TestKindOfResult(file("other.xml", "not xml")), TEST_KIND_BUMP);
    EXPECT_EQ(TestKindOfNameField(QStringLiteral("A_B_C.XML")), TEST_KIND_NONE);
}
