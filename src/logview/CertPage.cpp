#include "logview/CertPage.h"

#include <QAbstractTextDocumentLayout>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

#include "lang/LangTable.h"
#include "logview/CertCanvas.h"
#include "logview/CertHtml.h"
#include "util/OperatorPort.h"

RPrinterPage RPrinterPage::FromMillimetres(QSizeF mm, int dpi)
{
    RPrinterPage p;
    p.mDpi = std::max(dpi, 1);
    p.mPortraitDots = QSize(int(std::lround(std::min(mm.width(), mm.height()) / 25.4 * p.mDpi)),
                            int(std::lround(std::max(mm.width(), mm.height()) / 25.4 * p.mDpi)));
    return p;
}

QSizeF RPrinterPage::portraitMM() const
{
    return QSizeF(mPortraitDots.width() * 25.4 / mDpi, mPortraitDots.height() * 25.4 / mDpi);
}

RPageGeometry CertPageGeometry(const RPrinterPage& page, bool landscape)
{
    RPageGeometry g;
    g.mLandscape = landscape;
    const double shortSide = std::max(1, std::min(page.mPortraitDots.width(), page.mPortraitDots.height()));
    const double longSide = std::max(1, std::max(page.mPortraitDots.width(), page.mPortraitDots.height()));
    const int other = int(std::lround(CERT_PAGE_LONG_SIDE * shortSide / longSide));
    g.mWidth = landscape ? CERT_PAGE_LONG_SIDE : other;
    g.mHeight = landscape ? other : CERT_PAGE_LONG_SIDE;
    g.mUnit = g.mHeight / 200.0;
    // The page height in printer dots in the page's own orientation.
    const double heightDots = landscape ? shortSide : longSide;
    g.n1mm = std::max(1, int(std::lround(page.mDpi * double(g.mHeight) / (heightDots * 25.4))));
    return g;
}

QString BumpResultWord(const RDockTestInfo& info)
{
    return info.mOverAllResult.toUpper() == QLatin1String("PASS") ? QStringLiteral("PASS")
                                                                  : QStringLiteral("FAIL");
}

QString SpanCalibrationWord(const RDockTestInfo& info)
{
    return info.mZero.mResult.toUpper() == QLatin1String("PASS") &&
                   info.mSpan.mResult.toUpper() == QLatin1String("PASS")
               ? QStringLiteral("PASS")
               : QStringLiteral("FAIL");
}

QString CertNumber(const RDockTestInfo& info, float v)
{
    const int dec = std::clamp(int(info.mGasInfo.mDec), 0, 6);
    return (QLocale().toString(double(v), 'f', dec) + ' ' + info.mGasInfo.mUnit).trimmed();
}

namespace {

// A document whose resources are local files only: named relative to the program
// folder, never fetched from the network.
class CertDocument : public QTextDocument {
public:
    explicit CertDocument(QString folder) : m_folder(std::move(folder)) {}

protected:
    QVariant loadResource(int type, const QUrl& name) override
    {
        const QString path = CertResourcePath(m_folder, name.toString());
        if (path.isEmpty() || !QFileInfo(path).isFile() || QFileInfo(path).size() > 32 * 1024 * 1024)
            return QVariant();
        if (type == QTextDocument::ImageResource) {
            QImage img(path);
            return img.isNull() ? QVariant() : QVariant(img);
        }
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QVariant();
        return f.readAll();
    }

private:
    QString m_folder;
};

bool isWord(const QString& s, QLatin1StringView w) { return s.trimmed().compare(w, Qt::CaseInsensitive) == 0; }


} // namespace

QString CertLanguageName(CertLanguage l)
{
    return l == CertLanguage::Interface ? QStringLiteral("Interface") : QStringLiteral("English");
}

bool ParseCertLanguage(const QString& s, CertLanguage* out)
{
    for (CertLanguage l : {CertLanguage::English, CertLanguage::Interface})
        if (s.trimmed().compare(CertLanguageName(l), Qt::CaseInsensitive) == 0) {
            if (out)
                *out = l;
            return true;
        }
    return false;
}

QString CertText(const RCertOptions& o, int n, const QString& english)
{
    if (o.mLanguage != CertLanguage::Interface)
        return english;
    const QString t = LangText(n);
    // The English table's wording stands for the page's own English, which a few
    // layouts spell their own way ("Model Name", "Gas cylinder Lot#").
    if (t.isEmpty() || t == BuiltInEnglish().text(n))
        return english;
    return t;
}

QString CertVerdict(const RCertOptions& o, const QString& word)
{
    return word == QLatin1String("PASS") ? CertText(o, 70, word) : CertText(o, 71, word);
}

QString CalResultWord(const RDockTestInfo& info)
{
    const bool stepFailed = isWord(info.mZero.mResult, QLatin1StringView("FAIL")) ||
                            isWord(info.mSpan.mResult, QLatin1StringView("FAIL"));
    return isWord(info.mOverAllResult, QLatin1StringView("PASS")) && !stepFailed ? QStringLiteral("PASS")
                                                                               : QStringLiteral("FAIL");
}

QString CertResultWord(uint8_t nKind, const RDockTestInfo& info)
{
    return nKind == TEST_KIND_BUMP ? BumpResultWord(info) : CalResultWord(info);
}

QString CertResultSentence(const RCertOptions& o, const RDockTestInfo& info)
{
    if (CalResultWord(info) == QLatin1String("PASS"))
        return CertText(o, 1084,
                        QStringLiteral("This certificate confirm that the tests in below conducted and passed as follows;"));
    return LangText(LANG_CERT_CAL_FAILED);
}

bool CertHasDate(TDateTime tDate)
{
    // Day 0 is "no date"; a negative or absurd count is no date either.
    return std::isfinite(tDate) && tDate >= 1.0 && tDate < 2958466.0;
}

QString CertDate(uint8_t nDateStyle, TDateTime tDate, const QString& divider)
{
    return CertHasDate(tDate) ? GetDateFmt(nDateStyle, tDate, divider) : QString();
}

QString CertAuditNumber(const RDockTestInfo& info)
{
    const QString sn = info.mSN.trimmed().toUpper();
    return CertHasDate(info.mDate) ? sn + QLatin1Char('-') + DaysToDateTime(info.mDate).toString(QStringLiteral("yyyyMMdd-HHmmss"))
                                   : sn + QStringLiteral("-NODATE");
}

QString CertLimit(const RCertOptions& o, const RDockTestInfo& info, const RDockTestGas& g)
{
    // Beyond +-9999 a side is open, as the dock writes a limit it does not set.
    const bool low = g.mLowLimit > -9999.0f, high = g.mHighLimit < 9999.0f;
    if (low && high) {
        const int dec = std::clamp(int(info.mGasInfo.mDec), 0, 6);
        return (QLocale().toString(double(g.mLowLimit), 'f', dec) + QStringLiteral(" ~ ") +
                QLocale().toString(double(g.mHighLimit), 'f', dec) + ' ' + info.mGasInfo.mUnit)
            .trimmed();
    }
    if (low)
        return QStringLiteral("\u2265 ") + CertNumber(info, g.mLowLimit);
    if (high)
        return QStringLiteral("\u2264 ") + CertNumber(info, g.mHighLimit);
    return CertText(o, 1116, QStringLiteral("none"));
}

const QVector<RCertLayout>& CertLayouts()
{
    static const QVector<RCertLayout> layouts{
        {CERT_LAYOUT_DEFAULT, QStringLiteral("default"), QStringLiteral("Default"), 362, &PaintDefaultCertificate,
         false, false},
        {CERT_LAYOUT_MANUFACTURER, QStringLiteral("manufacturer"), QStringLiteral("Manufaturer"), 363,
         &PaintManufacturerCertificate, true, false},
        {CERT_LAYOUT_HTML, QStringLiteral("html"), QStringLiteral("HTML"), 0, &PaintHtmlCertificate, false, true},
        {CERT_LAYOUT_AUDIT, QStringLiteral("audit"), QStringLiteral("Audit"), LANG_CERT_AUDIT, &PaintAuditCertificate,
         false, false, true, true},
    };
    return layouts;
}

const RCertLayout& CertLayoutOf(int nId)
{
    for (const RCertLayout& l : CertLayouts())
        if (l.mId == nId)
            return l;
    return CertLayouts().front();
}

void TCertPage::paint(QPainter& p) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(QRectF(0, 0, mGeometry.mWidth, mGeometry.mHeight));
    if (mKind == TEST_KIND_BUMP && !CertLayoutOf(mLayout).mBumpToo)
        PaintBumpReport(*this, p);
    else if (mKind == TEST_KIND_CAL || mKind == TEST_KIND_BUMP)
        CertLayoutOf(mLayout).mPaint(*this, p);
    p.restore();
}

void TCertPage::paintInto(QPainter& p, const QRectF& target) const
{
    if (mGeometry.mWidth <= 0 || mGeometry.mHeight <= 0)
        return;
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / mGeometry.mWidth, target.height() / mGeometry.mHeight);
    paint(p);
    p.restore();
}

QImage TCertPage::toImage() const
{
    QImage img(std::max(1, mGeometry.mWidth), std::max(1, mGeometry.mHeight), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    paint(p);
    p.end();
    return img;
}

void PaintBumpReport(const TCertPage& page, QPainter& p)
{
    const CertCanvas c = CertCanvasOf(page, p);
    const RCertOptions& o = page.mOptions;
    auto L = [&o](int n, const char* english) { return CertText(o, n, QString::fromUtf8(english)); };
    const RDockTestInfo& r = page.mInfo;
    const QString word = BumpResultWord(r);
    const QString shown = CertVerdict(o, word);
    const QString title = L(1051, "Bump Results");
    c.rule(c.u(1), 0, c.W(), c.medium());
    // The title keeps clear of the result box, however long either is in a language.
    const double titleW = std::min(c.W() * 0.6, CertResultBoxLeft(c, shown) - c.W() / 40 - c.u(4));
    c.fittedText(QRectF(c.W() / 40, c.u(1), titleW, c.u(24)), title, 10, true, Qt::AlignLeft);
    CertDrawResultBox(c, word, shown);
    c.rule(c.u(25), 0, c.W(), c.medium());

    CertDrawRows(c, 30,
                 {{L(1053, "Instrument SN"), r.mInstSN},
                  {L(1054, "Location"), r.mLocation},
                  {L(1055, "Model name"), r.mModel, 3},
                  {L(1056, "Serial number"), r.mSN},
                  {L(1057, "Test date"), CertDate(o.mDateStyle, r.mDate, QStringLiteral("-"))},
                  {L(1058, "Gas cylinder number"), r.mGasLot},
                  {L(1059, "Expired date"), r.mGasExpire},
                  {L(1060, "Gas type"), r.mGasInfo.mName},
                  {L(1061, "Gas concentration"), CertNumber(r, r.mSpan.mConcentration)},
                  {L(1062, "Low alarm"), CertNumber(r, r.mGasInfo.mLowAlarm)},
                  {L(1063, "High alarm"), CertNumber(r, r.mGasInfo.mHighAlarm)},
                  {L(1064, "Test by"), page.mTester.mName, 3},
                  {L(1065, "Upgrade"), r.mPreTest.mUpgrade},
                  {L(1066, "Event load"), r.mPreTest.mEventLog},
                  {L(1067, "Audible alarm"), r.mPreTest.mAudible},
                  {L(1068, "Visible alarm"), r.mPreTest.mVisible},
                  {L(1069, "Overall result"), r.mOverAllResult, 0, CertResultColor(word)}});

    c.fittedText(QRectF(c.W() / 20, c.u(130), c.W() * 0.9, c.u(8)), title, 6, true, Qt::AlignLeft);
    CertDrawTable(c, QRectF(c.W() / 20, c.u(140), c.W() - c.W() / 10, c.u(24)),
                  {{L(1070, "Index"), L(1071, "Gas Applied"), L(1072, "Reading"), L(1073, "Result")},
                   {L(1074, "Fresh air"), CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mReading),
                    r.mZero.mResult},
                   {L(1075, "Test gas"), CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mReading),
                    r.mSpan.mResult}});
    CertDrawFooter(c, o);
}

void PaintDefaultCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c = CertCanvasOf(page, p);
    const RCertOptions& o = page.mOptions;
    auto L = [&o](int n, const char* english) { return CertText(o, n, QString::fromUtf8(english)); };
    const RDockTestInfo& r = page.mInfo;
    const RCertTester& tester = page.mTester;
    const QString word = CalResultWord(r);
    const QString shown = CertVerdict(o, word);
    c.rule(c.u(1), 0, c.W(), c.medium());
    // The title keeps its height unless the logo beside it needs the room.
    const QImage customer = CertLogo(page.mOptions, QStringLiteral("PELMORA_LOGO.bmp"));
    const double logoW =
        customer.isNull() ? 0 : std::min(c.W() * 0.34, c.u(18) * customer.width() / customer.height());
    const double titleRight = c.W() - c.W() / 40 - logoW - (logoW > 0 ? c.u(4) : 0);
    c.fittedText(QRectF(c.W() / 40, c.u(1), titleRight - c.W() / 40, c.u(24)),
                 L(1052, "Calibration Certificate"), 10, true, Qt::AlignLeft);
    CertDrawLogo(c, customer, QRectF(c.W() - c.W() / 40 - logoW, c.u(4), logoW, c.u(18)), Qt::AlignRight);
    c.rule(c.u(25), 0, c.W(), c.medium());
    // The result box stands beside the data heading, between the rows and the table.
    const double boxLeft = CertDrawResultBox(c, word, shown, 76.5, 14, 9);

    CertDrawRows(c, 30,
                 {{L(1055, "Model name"), r.mModel},
                  {L(1056, "Serial number"), r.mSN},
                  {L(1058, "Gas cylinder number"), r.mGasLot},
                  {L(1076, "Calibration date"), CertDate(o.mDateStyle, r.mDate, QStringLiteral("-"))},
                  {L(1060, "Gas type"), r.mGasInfo.mName},
                  {L(1061, "Gas concentration"), CertNumber(r, r.mSpan.mConcentration)},
                  {L(1062, "Low alarm"), CertNumber(r, r.mGasInfo.mLowAlarm)},
                  {L(1063, "High alarm"), CertNumber(r, r.mGasInfo.mHighAlarm)},
                  {L(1069, "Overall result"), shown, 0, CertResultColor(word)}});

    c.fittedText(QRectF(c.W() / 20, c.u(84), std::min(c.W() * 0.9, boxLeft - c.W() / 20 - c.u(3)), c.u(8)),
                 L(1077, "CALIBRATION DATA"), 6, true, Qt::AlignLeft);
    CertDrawTable(c, QRectF(c.W() / 20, c.u(93), c.W() - c.W() / 10, c.u(30)),
                  {{L(1070, "Index"), L(1071, "Gas Applied"), L(1072, "Reading"), L(1078, "Calibrated")},
                   {L(1074, "Fresh air"), CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mPreReading),
                    CertNumber(r, r.mZero.mReading)},
                   {L(1079, "Span gas"), CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mPreReading),
                    CertNumber(r, r.mSpan.mReading)}});
    // A failed calibration says so in words under its data.
    if (word != QLatin1String("PASS"))
        c.cell(QRectF(c.W() / 20, c.u(125), c.W() - c.W() / 10, c.u(9)), CertResultSentence(o, r), 4.5, true,
               Qt::AlignLeft, kCertFail);

    const double x0 = c.W() / 20;
    // "Calibrated by " in English; a language's longer label takes up to a third of the line.
    const QString jobTitle = L(1080, "Job title");
    const QString calibratedBy = L(1081, "Calibrated by ");
    double labelW = c.textWidth(QStringLiteral("Calibrated by "), 4.5, true);
    for (const QString& l : {jobTitle, calibratedBy})
        labelW = std::max(labelW, c.textWidth(l.trimmed() + QLatin1Char(' '), 4.5, true));
    const double xv = x0 + std::min(labelW, c.W() / 3) + c.u(2);
    const double right = c.W() - c.W() / 20;
    c.fittedText(QRectF(x0, c.u(140), xv - x0, c.u(6)), jobTitle, 4.5, true, Qt::AlignLeft);
    c.cell(QRectF(xv, c.u(140), right - xv, c.u(6)), tester.mPart, 4.5, false);
    c.fittedText(QRectF(x0, c.u(154), xv - x0, c.u(6)), calibratedBy, 4.5, true, Qt::AlignLeft);
    // The name keeps to its share of the line; the rest is left to sign on.
    const double nameRight = right - c.u(40);
    c.cell(QRectF(xv, c.u(154), nameRight - xv, c.u(6)), tester.mName, 4.5, false);
    const double lineStart =
        std::min(xv + c.textWidth(tester.mName, 4.5, false) + c.u(3), nameRight + c.u(3));
    c.rule(c.u(159), lineStart, right, std::max(1.0, c.g.n1mm / 2.0));
    c.text(QRectF(lineStart, c.u(159.5), right - lineStart, c.u(4)), L(1082, "Signature"), 2.8, false,
           Qt::AlignRight, kCertMuted);
    CertDrawFooter(c, o);
}

void PaintManufacturerCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c = CertCanvasOf(page, p);
    const RCertOptions& o = page.mOptions;
    auto L = [&o](int n, const char* english) { return CertText(o, n, QString::fromUtf8(english)); };
    const RDockTestInfo& r = page.mInfo;
    const QString word = CalResultWord(r);
    const double margin = c.W() / 20;
    const double inner = c.W() - 2 * margin;
    // A double border, as on a printed certificate.
    c.frame(QRectF(c.u(3), c.u(3), c.W() - c.u(6), c.H() - c.u(6)), c.medium() * 1.5);
    c.frame(QRectF(c.u(4.5), c.u(4.5), c.W() - c.u(9), c.H() - c.u(9)), c.thin());

    c.fittedText(QRectF(margin, c.u(10), inner, c.u(16)),
                 L(1083, "Calibration Certificate and Test Report"), 11, true);
    const bool passed = word == QLatin1String("PASS");
    c.cell(QRectF(margin, c.u(27), inner, c.u(9)), CertResultSentence(o, r), 5, !passed, Qt::AlignHCenter,
           passed ? kCertMuted : kCertFail);

    struct Pair {
        QString l1, v1, l2, v2;
        QString verdict; // "PASS" or "FAIL" when v2 is a verdict
    };
    const QString span = SpanCalibrationWord(r);
    const QVector<Pair> grid{
        {L(1076, "Date"), CertDate(o.mDateStyle, r.mDate, QStringLiteral(".")), L(1062, "Low alarm"),
         CertNumber(r, r.mGasInfo.mLowAlarm), QString()},
        {L(1055, "Model Name"), r.mModel, L(1063, "High alarm"), CertNumber(r, r.mGasInfo.mHighAlarm), QString()},
        {L(1056, "Serial number"), r.mSN, L(1069, "Overall result"), CertVerdict(o, word), word},
        {L(1060, "Gas Type"), r.mGasInfo.mName, L(1067, "Audible Test"), r.mPreTest.mAudible, QString()},
        {L(1061, "Gas Concentration"), CertNumber(r, r.mSpan.mConcentration), L(1068, "Visual Test"),
         r.mPreTest.mVisible, QString()},
        {L(1058, "Gas cylinder Lot#"), r.mGasLot, L(1085, "Span Calibration"), CertVerdict(o, span), span},
    };
    const double top = c.u(42), rh = c.u(10);
    const double cols[5] = {margin, margin + inner * 0.23, margin + inner * 0.5, margin + inner * 0.73,
                            margin + inner};
    for (int i = 0; i < grid.size(); ++i) {
        const double y = top + i * rh;
        c.p.fillRect(QRectF(cols[0], y, cols[1] - cols[0], rh), kCertShade);
        c.p.fillRect(QRectF(cols[2], y, cols[3] - cols[2], rh), kCertShade);
        const double pad = c.u(2);
        const Pair& g = grid[i];
        c.fittedText(QRectF(cols[0] + pad, y, cols[1] - cols[0] - pad, rh), g.l1, 4.5, true, Qt::AlignLeft);
        c.cell(QRectF(cols[1] + pad, y, cols[2] - cols[1] - 2 * pad, rh), g.v1, 4.5, false);
        c.fittedText(QRectF(cols[2] + pad, y, cols[3] - cols[2] - pad, rh), g.l2, 4.5, true, Qt::AlignLeft);
        const bool verdict = !g.verdict.isEmpty();
        c.cell(QRectF(cols[3] + pad, y, cols[4] - cols[3] - 2 * pad, rh), g.v2, 4.5, verdict, Qt::AlignLeft,
               verdict ? CertResultColor(g.verdict) : kCertInk);
    }
    c.p.setPen(QPen(kCertInk, c.thin()));
    for (int i = 0; i <= grid.size(); ++i)
        c.p.drawLine(QPointF(cols[0], top + i * rh), QPointF(cols[4], top + i * rh));
    for (double x : cols)
        c.p.drawLine(QPointF(x, top), QPointF(x, top + grid.size() * rh));

    // Signature fields.
    const double sy = c.u(128);
    const double half = inner / 2;
    const QString signLabels[2] = {L(1064, "Tested by"), L(1086, "Approved by")};
    double labelW = c.textWidth(QStringLiteral("Approved by"), 4.5, true) + c.u(4);
    for (const QString& l : signLabels)
        labelW = std::min(std::max(labelW, c.textWidth(l, 4.5, true) + c.u(4)), half * 0.6);
    for (int i = 0; i < 2; ++i) {
        const double x = margin + i * (half + c.u(6));
        const double lineEnd = x + half - c.u(6);
        c.fittedText(QRectF(x, sy - c.u(7), labelW, c.u(7)), signLabels[i], 4.5, true, Qt::AlignLeft);
        if (i == 0)
            c.cell(QRectF(x + labelW, sy - c.u(7), lineEnd - x - labelW, c.u(6.5)), page.mTester.mName, 4.5, false);
        c.rule(sy, x + labelW, lineEnd, c.medium());
    }

    CertDrawLogo(c, CertLogo(o, QStringLiteral("PELMORA_LOGO.bmp")),
                 QRectF(margin, c.u(140), inner, c.u(20)), Qt::AlignHCenter);
    for (int i = 0; i < 3; ++i)
        c.cell(QRectF(margin, c.u(164 + 7.0 * i), inner, c.u(7)), page.mOptions.mFooter.value(i),
               i == 0 ? 4.2 : 3.6, i == 0, Qt::AlignHCenter, i == 0 ? kCertInk : kCertMuted);
}

void PaintHtmlCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c = CertCanvasOf(page, p);
    const double n = page.mGeometry.n1mm;
    c.frame(QRectF(n, n, c.W() - 2 * n, c.H() - 2 * n), std::max(1.0, n / 2));
    if (page.mHtml.isEmpty() || page.mHtmlSize.isEmpty())
        return;
    if (!page.mHtmlDoc) {
        auto doc = std::make_shared<CertDocument>(page.mOptions.mProgramFolder);
        QFont f(page.mOptions.mFont);
        f.setPixelSize(14);
        f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
        doc->setDefaultFont(f);
        doc->setDefaultStyleSheet(QStringLiteral("pre, code, tt, kbd, samp { font-family: \"%1\"; }")
                                      .arg(page.mOptions.mFont));
        // A value longer than its cell breaks inside the cell instead of widening the page.
        QTextOption wrap = doc->defaultTextOption();
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        doc->setDefaultTextOption(wrap);
        doc->setHtml(page.mHtml);
        doc->setTextWidth(page.mHtmlSize.width());
        page.mHtmlDoc = doc;
    }
    // Whatever the template's shape and however long the page grew, the whole
    // rendering goes into the frame 3 mm inside the edges, scaled alike in both
    // directions; a band at the bottom states the result.
    const QString word = CalResultWord(page.mInfo);
    const double bandH = c.u(word == QLatin1String("PASS") ? 7 : 12);
    const QRectF frame(3 * n, 3 * n, c.W() - 6 * n, c.H() - 6 * n - bandH);
    const QSizeF laid = page.mHtmlDoc->documentLayout()->documentSize();
    const QSizeF content(std::max<double>(page.mHtmlSize.width(), laid.width()),
                         std::max<double>(page.mHtmlSize.height(), laid.height()));
    const double scale = std::min(frame.width() / content.width(), frame.height() / content.height());
    p.save();
    p.translate(frame.left() + (frame.width() - content.width() * scale) / 2, frame.top());
    p.scale(scale, scale);
    const QRectF view(QPointF(0, 0), content);
    p.setClipRect(view, Qt::IntersectClip);
    QAbstractTextDocumentLayout::PaintContext ctx;
    ctx.clip = view;
    ctx.palette.setColor(QPalette::Text, Qt::black);
    page.mHtmlDoc->documentLayout()->draw(&p, ctx);
    p.restore();

    const QRectF band(3 * n, c.H() - 3 * n - bandH, c.W() - 6 * n, bandH);
    const QColor color = CertResultColor(word);
    c.rule(band.top(), band.left(), band.right(), c.thin(), kCertMuted);
    const QString label = CertText(page.mOptions, 1069, QStringLiteral("Overall result"));
    const double labelW = c.textWidth(label + QStringLiteral("  "), 4.5, true);
    c.text(QRectF(band.left() + c.u(2), band.top(), labelW, c.u(7)), label, 4.5, true);
    c.text(QRectF(band.left() + c.u(2) + labelW, band.top(), band.width() / 2, c.u(7)),
           CertVerdict(page.mOptions, word), 4.5, true, Qt::AlignLeft, color);
    if (word != QLatin1String("PASS"))
        c.cell(QRectF(band.left() + c.u(2), band.top() + c.u(6), band.width() - c.u(4), c.u(6)),
               CertResultSentence(page.mOptions, page.mInfo), 4, true, Qt::AlignLeft, color);
}

RPrintTarget CertPrintTarget(bool pageLandscape, bool halfSize, QSizeF paper, const RPrintMargins& m)
{
    const double shortSide = std::min(paper.width(), paper.height());
    const double longSide = std::max(paper.width(), paper.height());
    RPrintTarget t;
    // A landscape page on a whole sheet, or a portrait page on half a sheet, turns the sheet.
    t.mPrinterLandscape = pageLandscape != halfSize;
    const double w = t.mPrinterLandscape ? longSide : shortSide;
    const double h = t.mPrinterLandscape ? shortSide : longSide;
    double right = w - m.mRight, bottom = h - m.mBottom;
    if (halfSize && pageLandscape)
        bottom = h / 2 - m.mBottom; // the upper half of an upright sheet
    else if (halfSize)
        right = w / 2 - m.mRight;   // the left half of a turned sheet
    t.mRectMM = QRectF(QPointF(m.mLeft, m.mTop), QPointF(std::max(right, m.mLeft + 1),
                                                        std::max(bottom, m.mTop + 1)));
    return t;
}

bool WriteCertPdf(const TCertPage& page, const QString& file, QSizeF paper, const RPrintMargins& margins,
                  QString* error)
{
    const bool landscape = page.mGeometry.mLandscape;
    const RPrintTarget t = CertPrintTarget(landscape, false, paper, margins);
    const QString tmp = file + QStringLiteral(".part");
    {
        QFile probe(tmp);
        if (!probe.open(QIODevice::WriteOnly)) {
            if (error)
                *error = probe.errorString();
            return false;
        }
    }
    bool ok = false;
    {
        QPdfWriter pdf(tmp);
        pdf.setCreator(QStringLiteral("Marvane"));
        pdf.setTitle(page.mKind == TEST_KIND_BUMP
                         ? CertText(page.mOptions, 1051, QStringLiteral("Bump Results"))
                         : CertText(page.mOptions, 1052, QStringLiteral("Calibration Certificate")));
        const int dpi = 1200;
        pdf.setResolution(dpi);
        pdf.setPageSize(QPageSize(QSizeF(std::min(paper.width(), paper.height()),
                                         std::max(paper.width(), paper.height())),
                                  QPageSize::Millimeter));
        pdf.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        QPainter p;
        if (p.begin(&pdf)) {
            const double k = dpi / 25.4;
            const QRectF r(t.mRectMM.left() * k, t.mRectMM.top() * k, t.mRectMM.width() * k,
                           t.mRectMM.height() * k);
            page.paintInto(p, r);
            ok = p.end();
        }
    }
    if (ok) {
        QFile::remove(file);
        ok = QFile::rename(tmp, file);
    }
    if (!ok) {
        QFile::remove(tmp);
        if (error)
            *error = QStringLiteral("the PDF could not be written");
    }
    return ok;
}

// ---------------------------------------------------------------------------

void TCertRenderer::message(int text, const QString& extra)
{
    if (!port)
        return;
    QString s = LangText(text);
    if (!extra.isEmpty())
        s += QStringLiteral("\n") + extra;
    port->showMessage(s, LangText(709), OperatorPort::Icon::Error);
}

bool TCertRenderer::commonStart()
{
    page.reset();
    image = QImage();
    if (!writeBitmap)
        return true;
    const QString bmp = bitmapPath();
    if (QFileInfo::exists(bmp) && !QFile::remove(bmp)) {
        message(759, QDir::toNativeSeparators(bmp));
        return false;
    }
    return true;
}

RDockTestPrt TCertRenderer::finish(std::shared_ptr<TCertPage> p, uint8_t kind)
{
    RDockTestPrt out;
    out.mInfo = p->mInfo;
    out.mHorizontal = p->mGeometry.mLandscape;
    if (writeBitmap) {
        image = p->toImage();
        const QString bmp = bitmapPath();
        QDir().mkpath(transferFolder);
        if (!image.save(bmp, "BMP")) {
            QFile::remove(bmp);
            message(155, QDir::toNativeSeparators(bmp));
            image = QImage();
            return out; // nothing to print from
        }
    }
    page = std::move(p);
    out.mType = kind;
    return out;
}

RDockTestPrt TCertRenderer::DisplayBumpData(const RDockTestInfo& mLogInfo)
{
    if (!commonStart())
        return RDockTestPrt{TEST_KIND_NONE, mLogInfo, false};
    auto p = std::make_shared<TCertPage>();
    p->mKind = TEST_KIND_BUMP;
    p->mInfo = mLogInfo;
    p->mTester = tester;
    p->mOptions = options;
    const RCertLayout& layout = CertLayoutOf(options.mLayout);
    if (layout.mBumpToo) {
        p->mLayout = layout.mId;
        p->mTrace = trace;
    }
    p->mGeometry = CertPageGeometry(printerPage, false);
    return finish(std::move(p), TEST_KIND_BUMP);
}

RDockTestPrt TCertRenderer::DisplayCalData(const RDockTestInfo& mLogInfo)
{
    if (!commonStart())
        return RDockTestPrt{TEST_KIND_NONE, mLogInfo, false};
    auto p = std::make_shared<TCertPage>();
    p->mKind = TEST_KIND_CAL;
    p->mInfo = mLogInfo;
    p->mTester = tester;
    p->mOptions = options;
    const RCertLayout& layout = CertLayoutOf(options.mLayout);
    p->mLayout = layout.mId;
    if (layout.mTraced)
        p->mTrace = trace;
    bool landscape = layout.mLandscape;

    // Only a page filled from the template has anything to do with "CAL.HTML".
    if (layout.mFromTemplate) {
        RCalHtml html;
        QString why;
        const HtmlTemplateStatus st = MakeCalHtmlFile(options.mProgramFolder, mLogInfo, tester,
                                                      options.mDateStyle, &html, &why, transferFolder);
        if (st != HtmlTemplateStatus::Ok) {
            const QString tpl = QDir::toNativeSeparators(options.mProgramFolder + "DEFAULTCAL.HTML");
            if (st == HtmlTemplateStatus::Missing)
                message(768, tpl);
            else
                message(156, tpl + QStringLiteral(" (") + why + ')');
            // An empty portrait page, nothing to print.
            p->mHtml.clear();
            p->mGeometry = CertPageGeometry(printerPage, false);
            if (writeBitmap) {
                image = p->toImage();
                image.save(bitmapPath(), "BMP");
            }
            return RDockTestPrt{TEST_KIND_NONE, mLogInfo, false};
        }
        if (html.mFile.isEmpty())
            message(155, QDir::toNativeSeparators(options.mProgramFolder + QStringLiteral("CAL.HTML")) +
                             QStringLiteral(" (") + why + ')');
        p->mHtml = html.mHtml;
        p->mHtmlSize = QSize(html.mWidth, html.mHeight);
        p->mHtmlFile = html.mFile;
        landscape = html.mWidth > html.mHeight;
    }
    p->mGeometry = CertPageGeometry(printerPage, landscape);
    return finish(std::move(p), TEST_KIND_CAL);
}

RDockTestPrt TCertRenderer::Display(uint8_t nType, const RDockTestInfo& mLogInfo)
{
    if (nType == TEST_KIND_BUMP)
        return DisplayBumpData(mLogInfo);
    if (nType == TEST_KIND_CAL)
        return DisplayCalData(mLogInfo);
    page.reset();
    return RDockTestPrt{TEST_KIND_NONE, mLogInfo, false};
}
