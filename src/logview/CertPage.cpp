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

QString CertResultSentence(const RDockTestInfo& info)
{
    if (CalResultWord(info) == QLatin1String("PASS"))
        return QStringLiteral("This certificate confirm that the tests in below conducted and passed as follows;");
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

QString CertLimit(const RDockTestInfo& info, const RDockTestGas& g)
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
    return QStringLiteral("none");
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
    const CertCanvas c{p, page.mGeometry, page.mOptions.mFont};
    const RDockTestInfo& r = page.mInfo;
    const QString word = BumpResultWord(r);
    c.rule(c.u(1), 0, c.W(), c.medium());
    c.text(QRectF(c.W() / 40, c.u(1), c.W() * 0.6, c.u(24)), QStringLiteral("Bump Results"), 10, true);
    CertDrawResultBox(c, word);
    c.rule(c.u(25), 0, c.W(), c.medium());

    CertDrawRows(c, 30,
                 {{"Instrument SN", r.mInstSN},
                  {"Location", r.mLocation},
                  {"Model name", r.mModel, 3},
                  {"Serial number", r.mSN},
                  {"Test date", CertDate(page.mOptions.mDateStyle, r.mDate, QStringLiteral("-"))},
                  {"Gas cylinder number", r.mGasLot},
                  {"Expired date", r.mGasExpire},
                  {"Gas type", r.mGasInfo.mName},
                  {"Gas concentration", CertNumber(r, r.mSpan.mConcentration)},
                  {"Low alarm", CertNumber(r, r.mGasInfo.mLowAlarm)},
                  {"High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)},
                  {"Test by", page.mTester.mName, 3},
                  {"Upgrade", r.mPreTest.mUpgrade},
                  {"Event load", r.mPreTest.mEventLog},
                  {"Audible alarm", r.mPreTest.mAudible},
                  {"Visible alarm", r.mPreTest.mVisible},
                  {"Overall result", r.mOverAllResult, 0, CertResultColor(word)}});

    c.text(QRectF(c.W() / 20, c.u(130), c.W() * 0.9, c.u(8)), QStringLiteral("Bump Results"), 6, true);
    CertDrawTable(c, QRectF(c.W() / 20, c.u(140), c.W() - c.W() / 10, c.u(24)),
                  {{"Index", "Gas Applied", "Reading", "Result"},
                   {"Fresh air", CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mReading),
                    r.mZero.mResult},
                   {"Test gas", CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mReading),
                    r.mSpan.mResult}});
    CertDrawFooter(c, page.mOptions);
}

void PaintDefaultCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c{p, page.mGeometry, page.mOptions.mFont};
    const RDockTestInfo& r = page.mInfo;
    const RCertTester& tester = page.mTester;
    const QString word = CalResultWord(r);
    c.rule(c.u(1), 0, c.W(), c.medium());
    // The title keeps its height unless the logo beside it needs the room.
    const QImage customer = CertLogo(page.mOptions, QStringLiteral("PELMORA_LOGO.bmp"));
    const double logoW =
        customer.isNull() ? 0 : std::min(c.W() * 0.34, c.u(18) * customer.width() / customer.height());
    const double titleRight = c.W() - c.W() / 40 - logoW - (logoW > 0 ? c.u(4) : 0);
    c.fittedText(QRectF(c.W() / 40, c.u(1), titleRight - c.W() / 40, c.u(24)),
                 QStringLiteral("Calibration Certificate"), 10, true, Qt::AlignLeft);
    CertDrawLogo(c, customer, QRectF(c.W() - c.W() / 40 - logoW, c.u(4), logoW, c.u(18)), Qt::AlignRight);
    c.rule(c.u(25), 0, c.W(), c.medium());
    // The result box stands beside the data heading, between the rows and the table.
    CertDrawResultBox(c, word, 76.5, 14, 9);

    CertDrawRows(c, 30,
                 {{"Model name", r.mModel},
                  {"Serial number", r.mSN},
                  {"Gas cylinder number", r.mGasLot},
                  {"Calibration date", CertDate(page.mOptions.mDateStyle, r.mDate, QStringLiteral("-"))},
                  {"Gas type", r.mGasInfo.mName},
                  {"Gas concentration", CertNumber(r, r.mSpan.mConcentration)},
                  {"Low alarm", CertNumber(r, r.mGasInfo.mLowAlarm)},
                  {"High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)},
                  {"Overall result", word, 0, CertResultColor(word)}});

    c.text(QRectF(c.W() / 20, c.u(84), c.W() * 0.9, c.u(8)), QStringLiteral("CALIBRATION DATA"), 6, true);
    CertDrawTable(c, QRectF(c.W() / 20, c.u(93), c.W() - c.W() / 10, c.u(30)),
                  {{"Index", "Gas Applied", "Reading", "Calibrated"},
                   {"Fresh air", CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mPreReading),
                    CertNumber(r, r.mZero.mReading)},
                   {"Span gas", CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mPreReading),
                    CertNumber(r, r.mSpan.mReading)}});
    // A failed calibration says so in words under its data.
    if (word != QLatin1String("PASS"))
        c.cell(QRectF(c.W() / 20, c.u(125), c.W() - c.W() / 10, c.u(9)), CertResultSentence(r), 4.5, true,
               Qt::AlignLeft, kCertFail);

    const double x0 = c.W() / 20;
    const double xv = x0 + c.textWidth(QStringLiteral("Calibrated by "), 4.5, true) + c.u(2);
    const double right = c.W() - c.W() / 20;
    c.text(QRectF(x0, c.u(140), xv - x0, c.u(6)), QStringLiteral("Job title"), 4.5, true);
    c.cell(QRectF(xv, c.u(140), right - xv, c.u(6)), tester.mPart, 4.5, false);
    c.text(QRectF(x0, c.u(154), xv - x0, c.u(6)), QStringLiteral("Calibrated by "), 4.5, true);
    // The name keeps to its share of the line; the rest is left to sign on.
    const double nameRight = right - c.u(40);
    c.cell(QRectF(xv, c.u(154), nameRight - xv, c.u(6)), tester.mName, 4.5, false);
    const double lineStart =
        std::min(xv + c.textWidth(tester.mName, 4.5, false) + c.u(3), nameRight + c.u(3));
    c.rule(c.u(159), lineStart, right, std::max(1.0, c.g.n1mm / 2.0));
    c.text(QRectF(lineStart, c.u(159.5), right - lineStart, c.u(4)), QStringLiteral("Signature"), 2.8, false,
           Qt::AlignRight, kCertMuted);
    CertDrawFooter(c, page.mOptions);
}

void PaintManufacturerCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c{p, page.mGeometry, page.mOptions.mFont};
    const RDockTestInfo& r = page.mInfo;
    const QString word = CalResultWord(r);
    const double margin = c.W() / 20;
    const double inner = c.W() - 2 * margin;
    // A double border, as on a printed certificate.
    c.frame(QRectF(c.u(3), c.u(3), c.W() - c.u(6), c.H() - c.u(6)), c.medium() * 1.5);
    c.frame(QRectF(c.u(4.5), c.u(4.5), c.W() - c.u(9), c.H() - c.u(9)), c.thin());

    c.fittedText(QRectF(margin, c.u(10), inner, c.u(16)),
                 QStringLiteral("Calibration Certificate and Test Report"), 11, true);
    const bool passed = word == QLatin1String("PASS");
    c.cell(QRectF(margin, c.u(27), inner, c.u(9)), CertResultSentence(r), 5, !passed, Qt::AlignHCenter,
           passed ? kCertMuted : kCertFail);

    struct Pair {
        QString l1, v1, l2, v2;
    };
    const QVector<Pair> grid{
        {"Date", CertDate(page.mOptions.mDateStyle, r.mDate, QStringLiteral(".")), "Low alarm",
         CertNumber(r, r.mGasInfo.mLowAlarm)},
        {"Model Name", r.mModel, "High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)},
        {"Serial number", r.mSN, "Overall result", word},
        {"Gas Type", r.mGasInfo.mName, "Audible Test", r.mPreTest.mAudible},
        {"Gas Concentration", CertNumber(r, r.mSpan.mConcentration), "Visual Test", r.mPreTest.mVisible},
        {"Gas cylinder Lot#", r.mGasLot, "Span Calibration", SpanCalibrationWord(r)},
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
        c.text(QRectF(cols[0] + pad, y, cols[1] - cols[0] - pad, rh), g.l1, 4.5, true);
        c.cell(QRectF(cols[1] + pad, y, cols[2] - cols[1] - 2 * pad, rh), g.v1, 4.5, false);
        c.text(QRectF(cols[2] + pad, y, cols[3] - cols[2] - pad, rh), g.l2, 4.5, true);
        const bool verdict = g.l2 == QLatin1String("Span Calibration") || g.l2 == QLatin1String("Overall result");
        c.cell(QRectF(cols[3] + pad, y, cols[4] - cols[3] - 2 * pad, rh), g.v2, 4.5, verdict, Qt::AlignLeft,
               verdict ? CertResultColor(g.v2) : kCertInk);
    }
    c.p.setPen(QPen(kCertInk, c.thin()));
    for (int i = 0; i <= grid.size(); ++i)
        c.p.drawLine(QPointF(cols[0], top + i * rh), QPointF(cols[4], top + i * rh));
    for (double x : cols)
        c.p.drawLine(QPointF(x, top), QPointF(x, top + grid.size() * rh));

    // Signature fields.
    const double sy = c.u(128);
    const double half = inner / 2;
    const double labelW = c.textWidth(QStringLiteral("Approved by"), 4.5, true) + c.u(4);
    for (int i = 0; i < 2; ++i) {
        const double x = margin + i * (half + c.u(6));
        const double lineEnd = x + half - c.u(6);
        c.text(QRectF(x, sy - c.u(7), labelW, c.u(7)), i == 0 ? QStringLiteral("Tested by")
                                                               : QStringLiteral("Approved by"),
               4.5, true);
        if (i == 0)
            c.cell(QRectF(x + labelW, sy - c.u(7), lineEnd - x - labelW, c.u(6.5)), page.mTester.mName, 4.5, false);
        c.rule(sy, x + labelW, lineEnd, c.medium());
    }

    CertDrawLogo(c, CertLogo(page.mOptions, QStringLiteral("PELMORA_LOGO.bmp")),
                 QRectF(margin, c.u(140), inner, c.u(20)), Qt::AlignHCenter);
    for (int i = 0; i < 3; ++i)
        c.cell(QRectF(margin, c.u(164 + 7.0 * i), inner, c.u(7)), page.mOptions.mFooter.value(i),
               i == 0 ? 4.2 : 3.6, i == 0, Qt::AlignHCenter, i == 0 ? kCertInk : kCertMuted);
}

void PaintHtmlCertificate(const TCertPage& page, QPainter& p)
{
    const CertCanvas c{p, page.mGeometry, page.mOptions.mFont};
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
    const double labelW = c.textWidth(QStringLiteral("Overall result  "), 4.5, true);
    c.text(QRectF(band.left() + c.u(2), band.top(), labelW, c.u(7)), QStringLiteral("Overall result"), 4.5, true);
    c.text(QRectF(band.left() + c.u(2) + labelW, band.top(), band.width() / 2, c.u(7)), word, 4.5, true,
           Qt::AlignLeft, color);
    if (word != QLatin1String("PASS"))
        c.cell(QRectF(band.left() + c.u(2), band.top() + c.u(6), band.width() - c.u(4), c.u(6)),
               CertResultSentence(page.mInfo), 4, true, Qt::AlignLeft, color);
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
        pdf.setTitle(page.mKind == TEST_KIND_BUMP ? QStringLiteral("Bump Results")
                                                  : QStringLiteral("Calibration Certificate"));
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
