#include "report/ReportDocs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/Platform.h"
#include "util/FileCopy.h"
#include "util/IniFile.h"

namespace {

QString withSlash(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
        return dir;
    return dir + QLatin1Char('/');
}

// Header times are fixed "yyyy-mm-dd hh:nn:ss", whatever the locale.
QString headerTime(TDateTime t)
{
    return DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString tableDate(const TReportStore& store, TDateTime t)
{
    return GetDateHMFmt(uint8_t(store.state.reportSettings().ConfigSetDateRadio), t, QStringLiteral("-"));
}

QString cellTime(int t) { return t < 1 ? QStringLiteral("0:00") : FormatAlarmTime(t); }

QString periodStart(const TReportStore& store)
{
    return store.FReportHeader.mEventStartTime > 0 ? headerTime(store.FReportHeader.mEventStartTime) : QString();
}

QString td(const QString& cls, const QString& text)
{
    return QStringLiteral("<td class=\"%1\"> %2</td>").arg(cls, text);
}

// The pass and fail cells of one test kind.
void passFailCells(const TReportStore& store, QStringList& l, TDateTime pass, TDateTime fail, uint16_t bits,
                   uint16_t anyMask, uint16_t failMask)
{
    const bool anyAlert = (bits & anyMask) != 0;
    const bool failAlert = (bits & failMask) != 0;
    const QString unknown = QStringLiteral("Unknown");
    if (pass > 0) {
        l << td(anyAlert ? QStringLiteral("f") : QStringLiteral("p"), tableDate(store, pass));
        if (fail > 0)
            l << td(anyAlert ? QStringLiteral("f") : QStringLiteral("g"), tableDate(store, fail));
        else
            l << td(QStringLiteral("g"), unknown);
    } else {
        l << td(failAlert ? QStringLiteral("f") : QStringLiteral("g"), unknown);
        if (fail > 0)
            l << td(failAlert ? QStringLiteral("f") : QStringLiteral("g"), tableDate(store, fail));
        else
            l << td(QStringLiteral("g"), unknown);
    }
}

QString dateOrUnknown(const TReportStore& store, TDateTime t)
{
    return t > 0 ? tableDate(store, t) : QStringLiteral("Unknown");
}

QString alertText(const TReportStore& store, const RDockReport& r, bool previous)
{
    const uint16_t bits = previous ? (r.mNewIdx & r.mPrevIdx) : (r.mNewIdx & ~r.mPrevIdx);
    const RReportSettings& s = store.state.reportSettings();
    QString t;
    if (bits & REPORT_INDEX_BUMP_FAIL)
        t += QStringLiteral(",Bump failed");
    if (bits & REPORT_INDEX_BUMP_NOT)
        t += QStringLiteral(",Bump not acomplished");
    if (bits & REPORT_INDEX_BUMP_OUTDATE)
        t += QStringLiteral(",Bump outdated ( > %1 days)").arg(s.ConfigSetAlertBumpEdit);
    if (bits & REPORT_INDEX_CAL_FAIL)
        t += QStringLiteral(",Calibration failed");
    if (bits & REPORT_INDEX_CAL_NOT)
        t += QStringLiteral(",Calibration not acomplished");
    if (bits & REPORT_INDEX_CAL_OUTDATE)
        t += QStringLiteral(",Calibration outdated ( > %1 days)").arg(s.ConfigSetAlertCalEdit);
    if (bits & REPORT_INDEX_EVENT) {
        t += QStringLiteral(",Alarm event occurred ");
        if (!previous) {
            if (r.mLowAlarmTime > 0)
                t += QStringLiteral("(LOW alarm ") + FormatAlarmTime(r.mLowAlarmTime) + QStringLiteral(") ");
            if (r.mHighAlarmTime > 0)
                t += QStringLiteral("(HIGH alarm ") + FormatAlarmTime(r.mHighAlarmTime) + QStringLiteral(") ");
        } else {
            if (r.mLowAlarmTime > 0)
                t += QStringLiteral("(LOW alarm - ") + FormatAlarmTime(r.mLowAlarmTime) + QStringLiteral(")");
            if (r.mHighAlarmTime > 0)
                t += QStringLiteral("(HIGH alarm - ") + FormatAlarmTime(r.mHighAlarmTime) + QStringLiteral(")");
        }
    }
    return t;
}

QByteArray textBytes(const QStringList& lines)
{
    QString all;
    for (const QString& l : lines)
        all += l + QStringLiteral("\r\n");
    return platform::EncodeLegacy(all);
}

} // namespace

QString HtmlEscape(const QString& s) { return s.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;")); }

QString CsvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\r'))
        && !s.contains(QLatin1Char('\n')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString FormatAlarmTime(int nSec)
{
    return QString::asprintf("%d:%2.2d", nSec / 60, nSec % 60);
}

QString ReportFileName(TDateTime tReport)
{
    return QStringLiteral("Report_") + DaysToDateTime(tReport).toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"))
           + QStringLiteral(".Html");
}

QStringList MakeReportHtmlLines(const TReportStore& store, const QString& T, const QString& P)
{
    QStringList l;
    l << QStringLiteral("<!DOCTYPE html><html><head><style>")
      << QStringLiteral("h1{ font-family: Arial, Helvetica, sans-serif; font-size:120%; font-weight:bold; }")
      << QStringLiteral("h2{ font-family: Arial, Helvetica, sans-serif; font-size:90%; font-weight:bold; }")
      << QStringLiteral("table{ font-family: Arial, Helvetica, sans-serif; font-size:75%; text-align:center; }")
      << QStringLiteral("table, th, td { border: 1px solid gray; border-collapse:collapse; font: Arial; }")
      << QStringLiteral(".p{ font-weight:bold; color: green; text-align:center; }")
      << QStringLiteral(".f{ font-weight:bold; color: red; text-align:center; }")
      << QStringLiteral(".g{ color: LightGray; text-align:center; }")
      << QStringLiteral(".n{ text-align:center; }")
      << QStringLiteral("</style></head>")
      << QStringLiteral("<body>")
      << QStringLiteral("<h1>Marvane Update (") + T + QStringLiteral(")</h1>")
      << QStringLiteral("<h2 style=\"color:blue\"><br>Event Period (") + P + QStringLiteral(" ~ ") + T
             + QStringLiteral(")</h2>")
      << QStringLiteral("<table class=\"sortable\">")
      << QStringLiteral("<tr>")
      << QStringLiteral("<th width=40px>Alert</th>")
      << QStringLiteral("<th width=90px>Model</th>")
      << QStringLiteral("<th width=90px>Serial No</th>")
      << QStringLiteral("<th width=90px>Dock SN</th>")
      << QStringLiteral("<th width=300px>Location</th>")
      << QStringLiteral("<th width=140px>Bump Pass</th>")
      << QStringLiteral("<th width=140px>Bump Fail</th>")
      << QStringLiteral("<th width=140px>Cal Pass</th>")
      << QStringLiteral("<th width=140px>Cal Fail</th>")
      << QStringLiteral("<th width=140px>Last Alert Event</th>")
      << QStringLiteral("<th width=60px>Sensor</th>")
      << QStringLiteral("<th width=60px>High</th>")
      << QStringLiteral("<th width=60px>Low</th>")
      << QStringLiteral("</tr>");
    for (const RDockReport& r : store.FReport) {
        l << QStringLiteral("<tr>");
        l << QStringLiteral("<td>") + (r.mNew ? QStringLiteral("New") : QStringLiteral("Old")) + QStringLiteral("</td>");
        l << QStringLiteral("<td>") + HtmlEscape(r.mModel) + QStringLiteral("</td>");
        l << QStringLiteral("<td>") + HtmlEscape(r.mSN) + QStringLiteral("</td>");
        l << QStringLiteral("<td>") + HtmlEscape(r.mInstSN) + QStringLiteral("</td>");
        l << QStringLiteral("<td>") + HtmlEscape(r.mLocation) + QStringLiteral("</td>");
        passFailCells(store, l, r.mLastBumpPass, r.mLastBumpFail, r.mNewIdx, 1 | 2 | 4, 1 | 2);
        passFailCells(store, l, r.mLastCalPass, r.mLastCalFail, r.mNewIdx, 8 | 16 | 32, 8 | 16);
        const QString sensor = QStringLiteral("<td>") + HtmlEscape(r.mSensorName) + QStringLiteral("</td>");
        if (r.mLastEvent > 0) {
            l << QStringLiteral("<td> ") + tableDate(store, r.mLastEvent) + QStringLiteral("</td>");
            l << sensor;
            for (int t : {r.mHighAlarmTime, r.mLowAlarmTime}) {
                l << (t < 1 ? QStringLiteral("<td class=\"g\">0:00</td>")
                            : QStringLiteral("<td class=\"f\">") + FormatAlarmTime(t) + QStringLiteral("</td>"));
            }
        } else {
            l << QStringLiteral("<td class=\"g\"> Unknown</td>") << sensor
              << QStringLiteral("<td class=\"g\">0:00</td>") << QStringLiteral("<td class=\"g\">0:00</td>");
        }
        l << QStringLiteral("</tr>");
    }
    l << QStringLiteral("</table></body></html>");
    return l;
}

QStringList MakeReportCsvLines(const TReportStore& store, const QString& T, const QString& P)
{
    QStringList l;
    l << QStringLiteral("Marvane Update (") + T + QLatin1Char(')')
      << QStringLiteral("Event Period (") + P + QStringLiteral(" ~ ") + T + QLatin1Char(')')
      << QStringLiteral("Alert,Model,Serial No,Dock SN,Location,Bump Pass,Bump Fail,Cal Pass,Cal Fail,"
                        "Last Alert Event,Sensor,High,Low");
    for (const RDockReport& r : store.FReport) {
        QString s = (r.mNew ? QStringLiteral("New") : QStringLiteral("Old")) + QLatin1Char(',');
        for (const QString& f : {r.mModel, r.mSN, r.mInstSN, r.mLocation})
            s += CsvField(f) + QLatin1Char(',');
        for (TDateTime d : {r.mLastBumpPass, r.mLastBumpFail, r.mLastCalPass, r.mLastCalFail})
            s += dateOrUnknown(store, d) + QLatin1Char(',');
        if (r.mLastEvent > 0) {
            s += tableDate(store, r.mLastEvent) + QLatin1Char(',') + CsvField(r.mSensorName) + QLatin1Char(',')
                 + cellTime(r.mHighAlarmTime) + QLatin1Char(',') + cellTime(r.mLowAlarmTime) + QLatin1Char(',');
        } else {
            s += QStringLiteral("Unknown,") + CsvField(r.mSensorName) + QStringLiteral(",0:00,0:00,");
        }
        l << s;
    }
    return l;
}

QStringList MakeReportTxtLines(const TReportStore& store)
{
    QStringList l;
    auto list = [&](bool previous, const QString& none) {
        int n = 0;
        for (const RDockReport& r : store.FReport) {
            const QString t = alertText(store, r, previous);
            if (t.isEmpty())
                continue;
            l << r.mModel + QLatin1Char(',') + r.mSensorName + QLatin1Char(',') + r.mSN + QLatin1Char(',')
                     + r.mInstSN + QLatin1Char(',') + r.mLocation + t;
            ++n;
        }
        if (n == 0)
            l << none;
    };
    l << QStringLiteral("New alerts:");
    list(false, QStringLiteral("    No new active alerts"));
    l << QString();
    l << QStringLiteral("Previously reported still active alerts:");
    list(true, QStringLiteral("    No previous active alerts"));
    return l;
}

QStringList MakeReportDumpLines(const TReportStore& store)
{
    QStringList l;
    l << QStringLiteral("Index,NewIdx,PrevOdx,New,Model,SN,Sensor,InstSN,Location,BumpPass,BumpFail,CalPass,CalFail,"
                        "Event,High,Low,");
    int i = 0;
    for (const RDockReport& r : store.FReport) {
        QString s = QString::number(i++) + QLatin1Char(',') + QString::asprintf("%4.4X,", unsigned(r.mNewIdx))
                    + QString::asprintf("%4.4X,", unsigned(r.mPrevIdx)) + (r.mNew ? QStringLiteral("Y,") : QStringLiteral("N,"));
        for (const QString& f : {r.mModel, r.mSN, r.mSensorName, r.mInstSN, r.mLocation})
            s += CsvField(f) + QLatin1Char(',');
        for (TDateTime d : {r.mLastBumpPass, r.mLastBumpFail, r.mLastCalPass, r.mLastCalFail, r.mLastEvent})
            s += dateOrUnknown(store, d) + QLatin1Char(',');
        s += QString::number(r.mHighAlarmTime) + QLatin1Char(',') + QString::number(r.mLowAlarmTime) + QLatin1Char(',');
        s += CsvField(r.mLastCalFile) + QLatin1Char(',') + CsvField(r.mLastBumpFile) + QLatin1Char(',')
             + CsvField(r.mLastEventFile);
        l << s;
    }
    return l;
}

QStringList MakeSendFiles(TReportStore& store, bool bFull, bool* ok, QString* error)
{
    QStringList written;
    if (ok)
        *ok = true;
    auto fail = [&](const QString& message) {
        if (ok)
            *ok = false;
        if (error)
            *error = message;
        return written;
    };
    TReportState& st = store.state;
    const QString D = withSlash(st.FLogDestDir);
    if (!QDir().mkpath(D))
        return fail(QStringLiteral("Cannot create the folder \"%1\"").arg(D));

    if (bFull) {
        const TDateTime now = store.Now();
        store.StartReportSet(now, ReportFileName(now));
        st.FLastReportDate = store.FReportHeader.mReportDate;
        st.FLastReportFile = store.FReportHeader.mFile;
    }
    const QString T = headerTime(bFull ? st.FLastReportDate : store.Now());
    const QString P = periodStart(store);

    QString err;
    const QString html = D + QStringLiteral("Report.Html");
    if (!WriteFileAtomic(html, textBytes(MakeReportHtmlLines(store, T, P)), &err))
        return fail(err);
    written << html;
    if (!bFull)
        return written;

    const QString reportDir = D + QStringLiteral("Report/");
    QDir().mkpath(reportDir);
    const QString dated = reportDir + st.FLastReportFile;
    if (!QFileInfo::exists(dated) && CopyFileNoOverwrite(html, dated))
        written << dated;
    // The dated copy is what the mail attaches: without it the set is not complete.
    // (One made in the same second already stands there and is kept.)
    if (!QFileInfo(dated).isFile())
        return fail(QStringLiteral("Cannot write the report \"%1\"").arg(QDir::toNativeSeparators(dated)));
    const QString opt = st.reportSettings().ConfigSendOptDirEdit.trimmed();
    if (!opt.isEmpty()) {
        const QString optDir = withSlash(opt);
        if (QFileInfo(optDir).isDir() && CopyFileNoOverwrite(html, optDir + st.FLastReportFile))
            written << optDir + st.FLastReportFile;
    }

    const QString csv = reportDir + QFileInfo(st.FLastReportFile).completeBaseName() + QStringLiteral(".CSV");
    if (!WriteFileAtomic(csv, textBytes(MakeReportCsvLines(store, T, P)), &err))
        return fail(err);
    written << csv;

    const QString txt = D + QStringLiteral("Report.TXT");
    if (!WriteFileAtomic(txt, textBytes(MakeReportTxtLines(store)), &err))
        return fail(err);
    written << txt;

    if (store.FDevMode) {
        const QString dump = D + QStringLiteral("Report.CSV");
        if (!WriteFileAtomic(dump, textBytes(MakeReportDumpLines(store)), &err))
            return fail(err);
        written << dump;
    }
    return written;
}
