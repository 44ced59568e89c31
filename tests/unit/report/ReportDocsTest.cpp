#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "app/AppState.h"
#include "report/ReportDocs.h"
#include "support/TestSupport.h"

using testsupport::readAll;
using testsupport::ScopedTempRoot;
using testsupport::writeAll;

namespace {

const TDateTime kNow = EncodeDateTime(2021, 3, 15, 14, 5, 9);

struct Docs {
    ScopedTempRoot root;
    AppState state;
    TReportStore store{state};
    Docs()
    {
        state.FLogDestDir = root.path() + "/dest/";
        state.settings.ConfigSetDateRadio = CFG_DATE_YYYYMMDD;
        store.Now = [] { return kNow; };
    }
    QString D() const { return state.FLogDestDir; }
};

QStringList fileLines(const QString& path)
{
    QString all = QString::fromLatin1(readAll(path));
    EXPECT_TRUE(all.endsWith("\r\n")) << path.toStdString();
    all.chop(2);
    return all.split("\r\n");
}

const QStringList kHtmlHead = {
    "<!DOCTYPE html><html><head><style>",
    "h1{ font-family: Arial, Helvetica, sans-serif; font-size:120%; font-weight:bold; }",
    "h2{ font-family: Arial, Helvetica, sans-serif; font-size:90%; font-weight:bold; }",
    "table{ font-family: Arial, Helvetica, sans-serif; font-size:75%; text-align:center; }",
    "table, th, td { border: 1px solid gray; border-collapse:collapse; font: Arial; }",
    ".p{ font-weight:bold; color: green; text-align:center; }",
    ".f{ font-weight:bold; color: red; text-align:center; }",
    ".g{ color: LightGray; text-align:center; }",
    ".n{ text-align:center; }",
    "</style></head>",
    "<body>",
};
const QStringList kHtmlColumns = {
    "<table class=\"sortable\">",
    "<tr>",
    "<th width=40px>Alert</th>",
    "<th width=90px>Model</th>",
    "<th width=90px>Serial No</th>",
    "<th width=90px>Dock SN</th>",
    "<th width=300px>Location</th>",
    "<th width=140px>Bump Pass</th>",
    "<th width=140px>Bump Fail</th>",
    "<th width=140px>Cal Pass</th>",
    "<th width=140px>Cal Fail</th>",
    "<th width=140px>Last Alert Event</th>",
    "<th width=60px>Sensor</th>",
    "<th width=60px>High</th>",
    "<th width=60px>Low</th>",
    "</tr>",
};

} // namespace

TEST(ReportFormat, AlarmTimesAndEscaping)
{
    EXPECT_EQ(FormatAlarmTime(125), "2:05");
    EXPECT_EQ(FormatAlarmTime(59), "0:59");
    EXPECT_EQ(FormatAlarmTime(6000), "100:00");
    EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(HtmlEscape("plain SN-1"), "plain SN-1");
    EXPECT_EQ(CsvField("Hall 1"), "Hall 1");
    EXPECT_EQ(CsvField(" spaced "), " spaced ");
    EXPECT_EQ(CsvField("Hall 1, north"), "\"Hall 1, north\"");
    EXPECT_EQ(CsvField("5\" pipe"), "\"5\"\" pipe\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(ReportFileName(kNow), "Report_2021-03-15 14-05-09.Html");
}

TEST(ReportDocuments, EmptyStore)
{
    Docs d;
    bool ok = false;
    const QStringList files = MakeSendFiles(d.store, true, &ok);
    ASSERT_TRUE(ok);
    const QString name = "Report_2021-03-15 14-05-09";
    EXPECT_EQ(files, (QStringList{d.D() + "Report.Html", d.D() + "Report/" + name + ".Html",
                                  d.D() + "Report/" + name + ".CSV", d.D() + "Report.TXT"}));
    EXPECT_EQ(d.state.FLastReportFile, name + ".Html");
    EXPECT_DOUBLE_EQ(d.state.FLastReportDate, kNow);
    EXPECT_EQ(d.store.FReportHeader.mFile, name + ".Html");

    QStringList html = kHtmlHead;
    html << "<h1>Marvane Update (2021-03-15 14:05:09)</h1>"
         << "<h2 style=\"color:blue\"><br>Event Period ( ~ 2021-03-15 14:05:09)</h2>";
    html << kHtmlColumns << "</table></body></html>";
    EXPECT_EQ(fileLines(d.D() + "Report.Html"), html);
    EXPECT_EQ(readAll(d.D() + "Report/" + name + ".Html"), readAll(d.D() + "Report.Html"));
    EXPECT_EQ(fileLines(d.D() + "Report/" + name + ".CSV"),
              (QStringList{"Marvane Update (2021-03-15 14:05:09)", "Event Period ( ~ 2021-03-15 14:05:09)",
                           "Alert,Model,Serial No,Dock SN,Location,Bump Pass,Bump Fail,Cal Pass,Cal Fail,"
                           "Last Alert Event,Sensor,High,Low"}));
    EXPECT_EQ(fileLines(d.D() + "Report.TXT"),
              (QStringList{"New alerts:", "    No new active alerts", "",
                           "Previously reported still active alerts:", "    No previous active alerts"}));
    EXPECT_FALSE(QFileInfo::exists(d.D() + "Report.CSV"));
}

TEST(ReportDocuments, RecordLinesInEveryDocument)
{
    Docs d;
    d.state.settings.ConfigSetAlertBumpEdit = 7;
    d.state.settings.ConfigSetAlertCalEdit = 30;
    d.store.FDevMode = true;
    d.store.FReportHeader.mEventStartTime = EncodeDateTime(2021, 3, 14, 6, 0, 0);
    const TDateTime bp = EncodeDateTime(2021, 3, 1, 8, 30, 0);
    const TDateTime bf = EncodeDateTime(2021, 3, 2, 9, 0, 0);
    const TDateTime ev = EncodeDateTime(2021, 3, 15, 7, 0, 0);

    RDockReport a = GetInitReport(); // nothing known, bump check missing (new), cal missing (reported)
    a.mSN = "A<1>";
    a.mModel = "Gaviro SG CO";
    a.mSensorName = "CO";
    a.mNewIdx = REPORT_INDEX_BUMP_NOT | REPORT_INDEX_CAL_NOT;
    a.mPrevIdx = REPORT_INDEX_CAL_NOT;
    a.mNew = true;
    RDockReport b = GetInitReport(); // passes and fails, alarms
    b.mSN = "B2";
    b.mInstSN = "DOCK1";
    b.mModel = "Gaviro SG H2S";
    b.mSensorName = "H2S";
    b.mLocation = "Hall 1, \"north\" & <east>";
    b.mLastBumpPass = bp;
    b.mLastBumpFail = bf;
    b.mLastCalPass = bf;
    b.mLastCalFail = bp;
    b.mLastEvent = ev;
    b.mHighAlarmTime = 125;
    b.mLowAlarmTime = 0;
    b.mNewIdx = REPORT_INDEX_BUMP_FAIL | REPORT_INDEX_EVENT;
    b.mPrevIdx = REPORT_INDEX_EVENT;
    b.mNew = true;
    b.mLastCalFile = "B2_CAL_2103020900.XML";
    RDockReport c = GetInitReport(); // only a failed cal, no alert; outdated bump
    c.mSN = "C3";
    c.mLastBumpPass = bp;
    c.mLastCalFail = bf;
    c.mNewIdx = REPORT_INDEX_BUMP_OUTDATE;
    c.mPrevIdx = REPORT_INDEX_BUMP_OUTDATE;
    c.mLastEvent = ev;
    c.mLowAlarmTime = 59;
    d.store.FReport = {a, b, c};

    bool ok = false;
    MakeSendFiles(d.store, true, &ok);
    ASSERT_TRUE(ok);
    const QString T = "2021-03-15 14:05:09";
    const QString P = "2021-03-14 06:00:00";
    QStringList html = kHtmlHead;
    html << "<h1>Marvane Update (" + T + ")</h1>"
         << "<h2 style=\"color:blue\"><br>Event Period (" + P + " ~ " + T + ")</h2>" << kHtmlColumns;
    html << "<tr>" << "<td>New</td>" << "<td>Gaviro SG CO</td>" << "<td>A&lt;1&gt;</td>" << "<td></td>" << "<td></td>"
         << "<td class=\"f\"> Unknown</td>" << "<td class=\"g\"> Unknown</td>"
         << "<td class=\"f\"> Unknown</td>" << "<td class=\"g\"> Unknown</td>"
         << "<td class=\"g\"> Unknown</td>" << "<td>CO</td>" << "<td class=\"g\">0:00</td>"
         << "<td class=\"g\">0:00</td>" << "</tr>";
    html << "<tr>" << "<td>New</td>" << "<td>Gaviro SG H2S</td>" << "<td>B2</td>" << "<td>DOCK1</td>"
         << "<td>Hall 1, &quot;north&quot; &amp; &lt;east&gt;</td>"
         << "<td class=\"f\"> 2021-03-01 08:30</td>" << "<td class=\"f\"> 2021-03-02 09:00</td>"
         << "<td class=\"p\"> 2021-03-02 09:00</td>" << "<td class=\"g\"> 2021-03-01 08:30</td>"
         << "<td> 2021-03-15 07:00</td>" << "<td>H2S</td>" << "<td class=\"f\">2:05</td>"
         << "<td class=\"g\">0:00</td>" << "</tr>";
    html << "<tr>" << "<td>Old</td>" << "<td></td>" << "<td>C3</td>" << "<td></td>" << "<td></td>"
         << "<td class=\"f\"> 2021-03-01 08:30</td>" << "<td class=\"g\"> Unknown</td>"
         << "<td class=\"g\"> Unknown</td>" << "<td class=\"g\"> 2021-03-02 09:00</td>"
         << "<td> 2021-03-15 07:00</td>" << "<td></td>" << "<td class=\"g\">0:00</td>"
         << "<td class=\"f\">0:59</td>" << "</tr>";
    html << "</table></body></html>";
    EXPECT_EQ(fileLines(d.D() + "Report.Html"), html);

    const QString csv = d.D() + "Report/Report_2021-03-15 14-05-09.CSV";
    const QStringList csvLines = fileLines(csv);
    ASSERT_EQ(csvLines.size(), 6);
    EXPECT_EQ(csvLines[1], "Event Period (" + P + " ~ " + T + ")");
    EXPECT_EQ(csvLines[3], "New,Gaviro SG CO,A<1>,,,Unknown,Unknown,Unknown,Unknown,Unknown,CO,0:00,0:00,");
    EXPECT_EQ(csvLines[4], "New,Gaviro SG H2S,B2,DOCK1,\"Hall 1, \"\"north\"\" & <east>\",2021-03-01 08:30,"
                           "2021-03-02 09:00,2021-03-02 09:00,2021-03-01 08:30,2021-03-15 07:00,H2S,2:05,0:00,");
    EXPECT_EQ(csvLines[5], "Old,,C3,,,2021-03-01 08:30,Unknown,Unknown,2021-03-02 09:00,2021-03-15 07:00,,0:00,0:59,");

    EXPECT_EQ(fileLines(d.D() + "Report.TXT"),
              (QStringList{"New alerts:",
                           "Gaviro SG CO,CO,A<1>,,,Bump not acomplished",
                           "Gaviro SG H2S,H2S,B2,DOCK1,Hall 1, \"north\" & <east>,Bump failed",
                           "",
                           "Previously reported still active alerts:",
                           "Gaviro SG CO,CO,A<1>,,,Calibration not acomplished",
                           "Gaviro SG H2S,H2S,B2,DOCK1,Hall 1, \"north\" & <east>,Alarm event occurred "
                           "(HIGH alarm - 2:05)",
                           ",,C3,,,Bump outdated ( > 7 days)"}));

    const QStringList dump = fileLines(d.D() + "Report.CSV");
    ASSERT_EQ(dump.size(), 4);
    EXPECT_EQ(dump[0], "Index,NewIdx,PrevOdx,New,Model,SN,Sensor,InstSN,Location,BumpPass,BumpFail,CalPass,CalFail,"
                       "Event,High,Low,");
    EXPECT_EQ(dump[2], "1,0041,0040,Y,Gaviro SG H2S,B2,H2S,DOCK1,\"Hall 1, \"\"north\"\" & <east>\",2021-03-01 08:30,"
                       "2021-03-02 09:00,2021-03-02 09:00,2021-03-01 08:30,2021-03-15 07:00,125,0,"
                       "B2_CAL_2103020900.XML,,");
    EXPECT_EQ(dump[3], "2,0004,0004,N,,C3,,,,2021-03-01 08:30,Unknown,Unknown,2021-03-02 09:00,2021-03-15 07:00,0,59,,,");
}

TEST(ReportDocuments, NewAlarmTimesAndDateStyles)
{
    Docs d;
    d.state.settings.ConfigSetDateRadio = CFG_DATE_DDMMYYYY;
    RDockReport r = GetInitReport();
    r.mSN = "X";
    r.mLastEvent = EncodeDateTime(2021, 3, 15, 7, 0, 0);
    r.mLowAlarmTime = 61;
    r.mHighAlarmTime = 3600;
    r.mNewIdx = REPORT_INDEX_EVENT;
    d.store.FReport = {r};
    const QStringList txt = MakeReportTxtLines(d.store);
    EXPECT_EQ(txt[1], ",,X,,,Alarm event occurred (LOW alarm 1:01) (HIGH alarm 60:00) ");
    const QStringList csv = MakeReportCsvLines(d.store, "T", "");
    EXPECT_EQ(csv[3], "Old,,X,,,Unknown,Unknown,Unknown,Unknown,15-03-2021 07:00,,60:00,1:01,");
}

TEST(ReportDocuments, CopiesAndRefreshes)
{
    Docs d;
    const QString opt = d.root.path() + "/dup";
    QDir().mkpath(opt);
    d.state.settings.ConfigSendOptDirEdit = "  " + opt + "  ";
    bool ok = false;
    QStringList files = MakeSendFiles(d.store, true, &ok);
    ASSERT_TRUE(ok);
    const QString name = "Report_2021-03-15 14-05-09.Html";
    EXPECT_TRUE(files.contains(opt + "/" + name));
    EXPECT_EQ(readAll(opt + "/" + name), readAll(d.D() + "Report.Html"));

    // A second set within the same second: the dated copies stay as they were.
    const QByteArray first = readAll(d.D() + "Report/" + name);
    RDockReport r = GetInitReport();
    r.mSN = "NEW";
    d.store.FReport = {r};
    files = MakeSendFiles(d.store, true, &ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(files.contains(d.D() + "Report/" + name));
    EXPECT_EQ(readAll(d.D() + "Report/" + name), first);
    EXPECT_NE(readAll(d.D() + "Report.Html"), first);

    // A refresh writes only the overview, with the current time and no new set.
    d.store.Now = [] { return kNow + 1.0; };
    files = MakeSendFiles(d.store, false, &ok);
    EXPECT_EQ(files, QStringList{d.D() + "Report.Html"});
    EXPECT_EQ(d.state.FLastReportFile, name);
    EXPECT_EQ(fileLines(d.D() + "Report.Html")[11], "<h1>Marvane Update (2021-03-16 14:05:09)</h1>");

    // A missing duplicate folder is skipped; an unwritable destination is reported.
    d.state.settings.ConfigSendOptDirEdit = d.root.path() + "/none";
    files = MakeSendFiles(d.store, true, &ok);
    EXPECT_EQ(files.size(), 4);
    EXPECT_EQ(files.filter("/none/").size(), 0);
    d.state.FLogDestDir = d.root.path() + "/file/";
    writeAll(d.root.path() + "/file", "x");
    QString error;
    EXPECT_TRUE(MakeSendFiles(d.store, true, &ok, &error).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
}
