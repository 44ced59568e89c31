// The "Audit" page: everything an auditor asks of one test on one page, and what
// traces the paper to its record (certificate number, the result file and its
// SHA-256, the fleet index's due dates). Calibrations and bump tests alike.
#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <functional>

#include "logview/CertCanvas.h"
#include "logview/CertPage.h"

namespace {

// A step that the dock did not run says "NONE" (or nothing).
bool stepDone(const RDockTestGas& g)
{
    const QString w = g.mResult.trimmed().toUpper();
    return !w.isEmpty() && w != QLatin1String("NONE");
}

QString stepWord(const RCertOptions& o, const RDockTestGas& g)
{
    return stepDone(g) ? g.mResult.trimmed().toUpper() : CertText(o, 1100, QStringLiteral("not performed"));
}

QString dateTimeText(TDateTime t)
{
    return CertHasDate(t) ? DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString dayText(TDateTime t)
{
    return CertHasDate(t) ? DaysToDateTime(t).toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

// A section heading with a thin rule under it; returns the y below it.
double heading(const CertCanvas& c, double yU, const QString& title)
{
    const double x0 = c.W() / 20;
    c.text(QRectF(x0, c.u(yU), c.W() - 2 * x0, c.u(6)), title, 4.8, true);
    c.rule(c.u(yU + 5.6), x0, c.W() - x0, c.thin(), kCertMuted);
    return yU + 6;
}

struct Pair {
    QString label, value;
    QColor color = kCertInk;
};

// Label and value pairs in two columns, rows of rowU; returns the y below.
double pairGrid(const CertCanvas& c, double yU, const QVector<Pair>& left, const QVector<Pair>& right,
                double rowU = 5.8)
{
    const double x0 = c.W() / 20, inner = c.W() - 2 * x0, gap = c.u(3);
    const double colW = (inner - gap) / 2;
    const double labelW = colW * 0.44;
    const int n = int(std::max(left.size(), right.size()));
    for (int col = 0; col < 2; ++col) {
        const QVector<Pair>& pairs = col == 0 ? left : right;
        const double x = x0 + col * (colW + gap);
        for (int i = 0; i < pairs.size(); ++i) {
            const QRectF row(x, c.u(yU + i * rowU), colW, c.u(rowU));
            if (i % 2 == 0)
                c.p.fillRect(row, kCertShade);
            const Pair& pr = pairs[i];
            c.fittedText(QRectF(row.left() + c.u(1.5), row.top(), labelW - c.u(2.5), row.height()), pr.label, 4,
                         true, Qt::AlignLeft);
            c.cell(QRectF(row.left() + labelW, row.top(), colW - labelW - c.u(1.5), row.height()), pr.value, 4,
                   pr.color != kCertInk, Qt::AlignLeft, pr.color);
        }
    }
    return yU + n * rowU;
}

// Label and value lines across the page, rows of 6.2u; returns the y below.
double fullRows(const CertCanvas& c, double yU, const QVector<Pair>& rows, const QString& widestLabel)
{
    const double x0 = c.W() / 20, inner = c.W() - 2 * x0;
    const double labelW = c.textWidth(widestLabel + QStringLiteral("  "), 4, true);
    for (const Pair& pr : rows) {
        c.text(QRectF(x0 + c.u(1.5), c.u(yU), labelW, c.u(6.2)), pr.label, 4, true);
        c.cell(QRectF(x0 + c.u(1.5) + labelW, c.u(yU), inner - labelW - c.u(3), c.u(6.2)), pr.value, 4,
               pr.color != kCertInk, Qt::AlignLeft, pr.color);
        yU += 6.2;
    }
    return yU;
}

QString fleetDue(const RCertOptions& o, const RCertTrace& t, TDateTime due, bool calibration)
{
    switch (t.mFleet) {
    case RCertTrace::NoIndex: return CertText(o, 1107, QStringLiteral("not known: no fleet index on this PC"));
    case RCertTrace::NotIndexed:
        return CertText(o, 1108, QStringLiteral("not known: the instrument is not in the fleet index yet"));
    case RCertTrace::Known: break;
    }
    if (!CertHasDate(due))
        return calibration ? CertText(o, 1109, QStringLiteral("now: no passed calibration on record"))
                           : CertText(o, 1110, QStringLiteral("now: no passed bump test on record"));
    return dayText(due);
}

} // namespace

void PaintAuditCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c = CertCanvasOf(page, p);
    const RCertOptions& o = page.mOptions;
    auto L = [&o](int n, const char* english) { return CertText(o, n, QString::fromUtf8(english)); };
    const RDockTestInfo& r = page.mInfo;
    const RCertTrace& t = page.mTrace;
    const bool cal = page.mKind != TEST_KIND_BUMP;
    const QString word = CertResultWord(page.mKind, r);
    const QString shown = CertVerdict(o, word);
    const bool passed = word == QLatin1String("PASS");
    const double x0 = c.W() / 20, inner = c.W() - 2 * x0;

    // Title band with the verdict, then the number that names this page.
    c.rule(c.u(1), 0, c.W(), c.medium());
    const double boxLeft = CertDrawResultBox(c, word, shown);
    c.fittedText(QRectF(c.W() / 40, c.u(3), boxLeft - c.W() / 40 - c.u(4), c.u(12)),
                 cal ? L(1052, "Calibration Certificate") : L(1087, "Bump Test Certificate"), 9, true,
                 Qt::AlignLeft);
    c.fittedText(QRectF(c.W() / 40, c.u(15), boxLeft - c.W() / 40 - c.u(4), c.u(8)),
                 L(1088, "Audit record of one test result"), 4.2, false, Qt::AlignLeft, kCertMuted);
    c.rule(c.u(25), 0, c.W(), c.medium());
    const QString numLabel = L(1089, "Certificate number");
    const double numLabelW = c.textWidth(numLabel + QStringLiteral("  "), 4.5, true);
    c.text(QRectF(x0, c.u(27), numLabelW, c.u(7)), numLabel, 4.5, true);
    c.cell(QRectF(x0 + numLabelW, c.u(27), inner - numLabelW, c.u(7)), CertAuditNumber(r), 4.5, true);

    // The test.
    QString tester = page.mTester.mName;
    if (!tester.isEmpty() && !page.mTester.mCompany.isEmpty())
        tester += QStringLiteral(", ") + page.mTester.mCompany;
    double y = heading(c, 36, L(1090, "Test"));
    y = pairGrid(c, y,
                 {{L(1053, "Instrument SN"), r.mSN},
                  {L(1055, "Model"), r.mModel},
                  {L(1060, "Gas"), r.mGasInfo.mName},
                  {L(1062, "Low alarm"), CertNumber(r, r.mGasInfo.mLowAlarm)},
                  {L(1063, "High alarm"), CertNumber(r, r.mGasInfo.mHighAlarm)},
                  {L(1058, "Cylinder lot"), r.mGasLot}},
                 {{L(1091, "Date and time"), dateTimeText(r.mDate)},
                  {L(1092, "Dock"), r.mInstSN},
                  {L(1054, "Location"), r.mLocation},
                  {L(1064, "Tested by"), tester},
                  {L(1069, "Overall result"), shown, CertResultColor(word)},
                  {L(1059, "Cylinder expiry"), r.mGasExpire}});

    // Zero and span: what was applied, read and allowed. A time the dock did not
    // record (0) is left out rather than printed as an instant response.
    y = heading(c, y + 2, cal ? L(1093, "Zero (fresh air) and span calibration")
                              : L(1094, "Zero (fresh air) and span test"));
    // One line per quantity, a column per step: every figure carries its words in full.
    const QString dash = QStringLiteral("-");
    auto both = [&](const QString& label, const std::function<QString(const RDockTestGas&)>& value) {
        QStringList row{label};
        for (const RDockTestGas* g : {&r.mZero, &r.mSpan})
            row << (stepDone(*g) ? value(*g) : dash);
        return row;
    };
    QVector<QStringList> rows{{QString(), L(1095, "Zero (fresh air)"), L(1079, "Span gas")}};
    rows << both(L(1071, "Gas applied"), [&](const RDockTestGas& g) { return CertNumber(r, g.mConcentration); });
    if (cal)
        rows << both(L(1096, "Reading before adjustment"),
                     [&](const RDockTestGas& g) { return CertNumber(r, g.mPreReading); })
             << both(L(1097, "Reading after adjustment"),
                     [&](const RDockTestGas& g) { return CertNumber(r, g.mReading); });
    else
        rows << both(L(1072, "Reading"), [&](const RDockTestGas& g) { return CertNumber(r, g.mReading); });
    rows << both(L(1098, "Pass limits"), [&](const RDockTestGas& g) { return CertLimit(o, r, g); })
         << both(L(1099, "Response time"), [&](const RDockTestGas& g) {
                return g.mTime > 0 ? QString::number(g.mTime) + QStringLiteral(" s") : QStringLiteral("-");
            })
         << QStringList{L(1073, "Result"), stepWord(o, r.mZero), stepWord(o, r.mSpan)};
    const double tableTop = y + 0.5, tableH = 4.3 * rows.size();
    CertDrawTable(c, QRectF(x0, c.u(tableTop), inner, c.u(tableH)), rows, {1.5, 1, 1}, 3.7);
    y = tableTop + tableH;
    if (!passed) {
        const QString why = cal ? CertResultSentence(o, r)
                                : L(1101, "This bump test was not passed: the instrument is not fit for use "
                                          "until it passes a test.");
        c.cell(QRectF(x0, c.u(y + 0.5), inner, c.u(7)), why, 4.2, true, Qt::AlignLeft, kCertFail);
        y += 6.3;
    }
    y += 2;

    // Checks before the gas was applied.
    y = heading(c, y, L(1102, "Checks before the test"));
    y = pairGrid(c, y, {{L(1066, "Event log"), r.mPreTest.mEventLog}, {L(1065, "Upgrade"), r.mPreTest.mUpgrade}},
                 {{L(1067, "Audible alarm"), r.mPreTest.mAudible}, {L(1068, "Visible alarm"), r.mPreTest.mVisible}}) +
        2;

    // The next tests, as the fleet index sees them when the page is drawn.
    y = heading(c, y, CertHasDate(t.mAsOf) && t.mFleet == RCertTrace::Known
                          ? L(1103, "Next due (fleet index on %1)").arg(dayText(t.mAsOf))
                          : L(1104, "Next due (fleet index)"));
    // One label column for both sections, as wide as their widest label.
    const QStringList labels{L(1105, "Next bump test"), L(1106, "Next calibration"), L(1112, "Result file"),
                             L(1113, "SHA-256 of the file")};
    QString widest = QStringLiteral("SHA-256 of the file");
    for (const QString& l : labels)
        if (c.textWidth(l, 4, true) > c.textWidth(widest, 4, true))
            widest = l;
    y = fullRows(c, y, {{labels[0], fleetDue(o, t, t.mNextBump, false)},
                        {labels[1], fleetDue(o, t, t.mNextCal, true)}},
                 widest);

    // What traces this paper to its record.
    y = heading(c, y + 2, L(1111, "Record"));
    const QString file = t.mFile.isEmpty() ? r.mFile : t.mFile;
    QString hash = t.mSha256;
    if (hash.isEmpty())
        hash = file.isEmpty() ? L(1114, "not known: the page was drawn without its file")
                              : L(1115, "not known: the file could not be read");
    y = fullRows(c, y, {{labels[2], QFileInfo(file).fileName()}, {labels[3], hash}}, widest);

    // Signature, above the footer.
    const double sy = std::max(y + 8, 186.0);
    const QString sign = L(1082, "Signature");
    const double signLabelW = c.textWidth(sign + QStringLiteral("  "), 4.2, true);
    c.text(QRectF(x0, c.u(sy - 6), signLabelW, c.u(6)), sign, 4.2, true);
    c.rule(c.u(sy), x0 + signLabelW, x0 + inner * 0.55, c.medium());
    CertDrawFooter(c, o);
}
