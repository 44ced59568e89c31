#include "logview/CertPage.h"

#include <QAbstractTextDocumentLayout>
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

const QColor kInk(20, 24, 32);
const QColor kMuted(90, 96, 110);
const QColor kShade(234, 238, 245);
const QColor kPass(0, 120, 50);
const QColor kFail(190, 20, 20);

// Em size per pixel of line height of a font (fonts differ in their leading).
double emPerLine(const QString& family, bool bold)
{
    static QMutex mutex;
    static QHash<QString, double> cache;
    const QString key = family + (bold ? QStringLiteral("|b") : QStringLiteral("|r"));
    QMutexLocker lock(&mutex);
    auto it = cache.find(key);
    if (it == cache.end()) {
        QFont f(family);
        f.setBold(bold);
        f.setPixelSize(200);
        const double h = QFontMetricsF(f).height();
        it = cache.insert(key, h > 0 ? std::clamp(200.0 / h, 0.5, 1.2) : 1.0);
    }
    return *it;
}

// A painter in page pixels with the page's unit, line width and font family.
struct Canvas {
    QPainter& p;
    const RPageGeometry& g;
    QString family;

    double u(double n) const { return n * g.mUnit; }
    double W() const { return g.mWidth; }
    double H() const { return g.mHeight; }

    QFont font(double heightU, bool bold) const
    {
        QFont f(family);
        f.setBold(bold);
        // A text height is the height of a line of text, as the font reports it.
        f.setPixelSize(std::max(1, int(std::lround(u(heightU) * emPerLine(family, bold)))));
        // No ligatures: "fi" must stay two letters for anyone searching the PDF.
        f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
        return f;
    }
    double textWidth(const QString& s, double heightU, bool bold) const
    {
        return QFontMetricsF(font(heightU, bold)).horizontalAdvance(s);
    }
    // Text in a rectangle, vertically centred, aligned left, centred or right.
    void text(const QRectF& r, const QString& s, double heightU, bool bold,
              Qt::Alignment h = Qt::AlignLeft, const QColor& color = kInk) const
    {
        p.setFont(font(heightU, bold));
        p.setPen(color);
        p.drawText(r, int(h | Qt::AlignVCenter) | Qt::TextSingleLine, s);
    }
    // Text shrunk until it fits the width of r.
    void fittedText(const QRectF& r, const QString& s, double heightU, bool bold,
                    Qt::Alignment h = Qt::AlignHCenter, const QColor& color = kInk) const
    {
        double size = heightU;
        const double w = textWidth(s, size, bold);
        if (w > r.width() && w > 0)
            size = std::max(0.5, size * r.width() / w * 0.98);
        text(r, s, size, bold, h, color);
    }
    void rule(double y, double x0, double x1, double width, const QColor& color = kInk) const
    {
        p.setPen(QPen(color, std::max(1.0, width), Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(x0, y), QPointF(x1, y));
    }
    void frame(const QRectF& r, double width, const QColor& color = kInk) const
    {
        p.setPen(QPen(color, std::max(1.0, width), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r);
    }
    double thin() const { return std::max(1.0, g.n1mm / 4.0); }
    double medium() const { return std::max(1.0, g.n1mm / 2.0); }
};

// A 4-column table with equal columns and rows, header row shaded and bold.
void drawTable(const Canvas& c, const QRectF& box, const QVector<QStringList>& rows)
{
    const int nRows = int(rows.size());
    const double rh = box.height() / nRows;
    const double cw = box.width() / 4;
    c.p.fillRect(QRectF(box.left(), box.top(), box.width(), rh), kShade);
    for (int r = 0; r < nRows; ++r)
        for (int col = 0; col < 4; ++col)
            c.text(QRectF(box.left() + col * cw, box.top() + r * rh, cw, rh), rows[r].value(col), 4.5,
                   r == 0 || col == 0, Qt::AlignHCenter);
    c.p.setPen(QPen(kInk, c.thin()));
    for (int r = 0; r <= nRows; ++r)
        c.p.drawLine(QPointF(box.left(), box.top() + r * rh), QPointF(box.right(), box.top() + r * rh));
    for (int col = 0; col <= 4; ++col)
        c.p.drawLine(QPointF(box.left() + col * cw, box.top()), QPointF(box.left() + col * cw, box.bottom()));
}

struct Row {
    QString label;
    QString value;
    double gapBefore = 0;
};

// Label column at width / 40, value column after "Gas cylinder number 123456".
double drawRows(const Canvas& c, double topU, const QVector<Row>& rows)
{
    const double x0 = c.W() / 40;
    const double xv = x0 + c.textWidth(QStringLiteral("Gas cylinder number 123456"), 4.5, true);
    double y = c.u(topU);
    for (const Row& r : rows) {
        y += c.u(r.gapBefore);
        c.text(QRectF(x0, y, xv - x0, c.u(5)), r.label, 4.5, true);
        c.text(QRectF(xv, y, c.W() - c.W() / 40 - xv, c.u(5)), r.value, 4.5, false);
        y += c.u(5);
    }
    return y;
}

void drawFooter(const Canvas& c, const RCertOptions& o)
{
    const double y = c.H() - c.u(8);
    c.rule(y, 0, c.W(), c.medium());
    const QRectF band(c.W() / 40, y, c.W() - c.W() / 20, c.u(8));
    c.text(band, o.mBottomLeft, 3.5, false, Qt::AlignLeft, kMuted);
    c.text(band, o.mBottomRight, 3.5, false, Qt::AlignRight, kMuted);
}

void drawResultBox(const Canvas& c, const QString& word)
{
    const double w = c.textWidth(QStringLiteral("  PASS  "), 12, true);
    const QRectF box(c.W() - c.W() / 20 - w, c.u(4), w, c.u(18));
    const QColor color = word == QLatin1String("PASS") ? kPass : kFail;
    c.frame(box, c.medium() * 1.5, color);
    c.text(box, word, 12, true, Qt::AlignHCenter, color);
}

// Scales an image into r keeping its proportions; right-aligned.
void drawLogo(const Canvas& c, const QImage& img, const QRectF& r, Qt::Alignment h)
{
    if (img.isNull() || r.width() <= 0 || r.height() <= 0)
        return;
    const QSizeF s = QSizeF(img.size()).scaled(r.size(), Qt::KeepAspectRatio);
    double x = r.left();
    if (h & Qt::AlignRight)
        x = r.right() - s.width();
    else if (h & Qt::AlignHCenter)
        x = r.center().x() - s.width() / 2;
    c.p.drawImage(QRectF(QPointF(x, r.center().y() - s.height() / 2), s), img);
}

// Logo files are read once per run; a missing file gives a null image.
QImage cachedImage(const QString& path)
{
    static QMutex mutex;
    static QHash<QString, QImage> cache;
    QMutexLocker lock(&mutex);
    auto it = cache.find(path);
    if (it == cache.end()) {
        QImage img;
        if (QFileInfo(path).isFile() && QFileInfo(path).size() < 32 * 1024 * 1024)
            img.load(path);
        it = cache.insert(path, img);
    }
    return *it;
}

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

} // namespace

QImage TCertPage::logo(const QString& name) const
{
    return cachedImage(mOptions.mProgramFolder + QStringLiteral("IMAGE/") + name);
}

void TCertPage::paint(QPainter& p) const
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(QRectF(0, 0, mGeometry.mWidth, mGeometry.mHeight));
    if (mKind == TEST_KIND_BUMP)
        paintBump(p);
    else if (mKind == TEST_KIND_CAL) {
        if (mLayout == CERT_LAYOUT_MANUFACTURER)
            paintManufacturer(p);
        else if (mLayout == CERT_LAYOUT_HTML)
            paintHtml(p);
        else
            paintDefault(p);
    }
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

void TCertPage::paintBump(QPainter& p) const
{
    const Canvas c{p, mGeometry, mOptions.mFont};
    const RDockTestInfo& r = mInfo;
    c.rule(c.u(1), 0, c.W(), c.medium());
    c.text(QRectF(c.W() / 40, c.u(1), c.W() * 0.6, c.u(24)), QStringLiteral("Bump Results"), 10, true);
    drawResultBox(c, BumpResultWord(r));
    c.rule(c.u(25), 0, c.W(), c.medium());

    drawRows(c, 30,
             {{"Instrument SN", r.mInstSN},
              {"Location", r.mLocation},
              {"Model name", r.mModel, 3},
              {"Serial number", r.mSN},
              {"Test date", GetDateFmt(mOptions.mDateStyle, r.mDate, QStringLiteral("-"))},
              {"Gas cylinder number", r.mGasLot},
              {"Expired date", r.mGasExpire},
              {"Gas type", r.mGasInfo.mName},
              {"Gas concentration", CertNumber(r, r.mSpan.mConcentration)},
              {"Low alarm", CertNumber(r, r.mGasInfo.mLowAlarm)},
              {"High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)},
              {"Test by", mTester.mName, 3},
              {"Upgrade", r.mPreTest.mUpgrade},
              {"Event load", r.mPreTest.mEventLog},
              {"Audible alarm", r.mPreTest.mAudible},
              {"Visible alarm", r.mPreTest.mVisible},
              {"Overall result", r.mOverAllResult}});

    c.text(QRectF(c.W() / 20, c.u(130), c.W() * 0.9, c.u(8)), QStringLiteral("Bump Results"), 6, true);
    drawTable(c, QRectF(c.W() / 20, c.u(140), c.W() - c.W() / 10, c.u(24)),
              {{"Index", "Gas Applied", "Reading", "Result"},
               {"Fresh air", CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mReading),
                r.mZero.mResult},
               {"Test gas", CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mReading),
                r.mSpan.mResult}});
    drawFooter(c, mOptions);
}

void TCertPage::paintDefault(QPainter& p) const
{
    const Canvas c{p, mGeometry, mOptions.mFont};
    const RDockTestInfo& r = mInfo;
    c.rule(c.u(1), 0, c.W(), c.medium());
    // The title keeps its height unless the logo beside it needs the room.
    const QImage customer = logo(QStringLiteral("PELMORA_LOGO.bmp"));
    const double logoW = customer.isNull() ? 0 : std::min(c.W() * 0.34, c.u(18) * customer.width() / customer.height());
    const double titleRight = c.W() - c.W() / 40 - logoW - (logoW > 0 ? c.u(4) : 0);
    c.fittedText(QRectF(c.W() / 40, c.u(1), titleRight - c.W() / 40, c.u(24)),
                 QStringLiteral("Calibration Certificate"), 10, true, Qt::AlignLeft);
    drawLogo(c, customer, QRectF(c.W() - c.W() / 40 - logoW, c.u(4), logoW, c.u(18)), Qt::AlignRight);
    c.rule(c.u(25), 0, c.W(), c.medium());

    drawRows(c, 32,
             {{"Model name", r.mModel},
              {"Serial number", r.mSN},
              {"Gas cylinder number", r.mGasLot},
              {"Calibration date", GetDateFmt(mOptions.mDateStyle, r.mDate, QStringLiteral("-"))},
              {"Gas type", r.mGasInfo.mName},
              {"Gas concentration", CertNumber(r, r.mSpan.mConcentration)},
              {"Low alarm", CertNumber(r, r.mGasInfo.mLowAlarm)},
              {"High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)}});

    c.text(QRectF(c.W() / 20, c.u(84), c.W() * 0.9, c.u(8)), QStringLiteral("CALIBRATION DATA"), 6, true);
    drawTable(c, QRectF(c.W() / 20, c.u(94), c.W() - c.W() / 10, c.u(30)),
              {{"Index", "Gas Applied", "Reading", "Calibrated"},
               {"Fresh air", CertNumber(r, r.mZero.mConcentration), CertNumber(r, r.mZero.mPreReading),
                CertNumber(r, r.mZero.mReading)},
               {"Span gas", CertNumber(r, r.mSpan.mConcentration), CertNumber(r, r.mSpan.mPreReading),
                CertNumber(r, r.mSpan.mReading)}});

    const double x0 = c.W() / 20;
    const double xv = x0 + c.textWidth(QStringLiteral("Calibrated by "), 4.5, true) + c.u(2);
    const double right = c.W() - c.W() / 20;
    c.text(QRectF(x0, c.u(140), xv - x0, c.u(6)), QStringLiteral("Job title"), 4.5, true);
    c.text(QRectF(xv, c.u(140), right - xv, c.u(6)), mTester.mPart, 4.5, false);
    c.text(QRectF(x0, c.u(154), xv - x0, c.u(6)), QStringLiteral("Calibrated by "), 4.5, true);
    c.text(QRectF(xv, c.u(154), right - xv, c.u(6)), mTester.mName, 4.5, false);
    // The signature line runs from the end of the name to the right edge.
    // A long name still leaves room to sign.
    const double lineStart = std::min(xv + c.textWidth(mTester.mName, 4.5, false) + c.u(3), right - c.u(20));
    c.rule(c.u(159), lineStart, right, std::max(1.0, c.g.n1mm / 2.0));
    c.text(QRectF(lineStart, c.u(159.5), right - lineStart, c.u(4)), QStringLiteral("Signature"), 2.8, false,
           Qt::AlignRight, kMuted);
    drawFooter(c, mOptions);
}

void TCertPage::paintManufacturer(QPainter& p) const
{
    const Canvas c{p, mGeometry, mOptions.mFont};
    const RDockTestInfo& r = mInfo;
    const double margin = c.W() / 20;
    const double inner = c.W() - 2 * margin;
    // A double border, as on a printed certificate.
    c.frame(QRectF(c.u(3), c.u(3), c.W() - c.u(6), c.H() - c.u(6)), c.medium() * 1.5);
    c.frame(QRectF(c.u(4.5), c.u(4.5), c.W() - c.u(9), c.H() - c.u(9)), c.thin());

    c.fittedText(QRectF(margin, c.u(10), inner, c.u(16)),
                 QStringLiteral("Calibration Certificate and Test Report"), 11, true);
    c.fittedText(QRectF(margin, c.u(27), inner, c.u(8)),
                 QStringLiteral("This certificate confirm that the tests in below conducted and passed as follows;"),
                 5, false, Qt::AlignHCenter, kMuted);

    struct Pair {
        QString l1, v1, l2, v2;
    };
    const QVector<Pair> grid{
        {"Date", GetDateFmt(mOptions.mDateStyle, r.mDate, QStringLiteral(".")), "Low alarm",
         CertNumber(r, r.mGasInfo.mLowAlarm)},
        {"Model Name", r.mModel, "High alarm", CertNumber(r, r.mGasInfo.mHighAlarm)},
        {"Serial number", r.mSN, QString(), QString()},
        {"Gas Type", r.mGasInfo.mName, "Audible Test", r.mPreTest.mAudible},
        {"Gas Concentration", CertNumber(r, r.mSpan.mConcentration), "Visual Test", r.mPreTest.mVisible},
        {"Gas cylinder Lot#", r.mGasLot, "Span Calibration", SpanCalibrationWord(r)},
    };
    const double top = c.u(42), rh = c.u(10);
    const double cols[5] = {margin, margin + inner * 0.23, margin + inner * 0.5, margin + inner * 0.73,
                            margin + inner};
    for (int i = 0; i < grid.size(); ++i) {
        const double y = top + i * rh;
        c.p.fillRect(QRectF(cols[0], y, cols[1] - cols[0], rh), kShade);
        c.p.fillRect(QRectF(cols[2], y, cols[3] - cols[2], rh), kShade);
        const double pad = c.u(2);
        const Pair& g = grid[i];
        c.text(QRectF(cols[0] + pad, y, cols[1] - cols[0] - pad, rh), g.l1, 4.5, true);
        c.text(QRectF(cols[1] + pad, y, cols[2] - cols[1] - pad, rh), g.v1, 4.5, false);
        c.text(QRectF(cols[2] + pad, y, cols[3] - cols[2] - pad, rh), g.l2, 4.5, true);
        QColor valueColor = kInk;
        if (g.l2 == QLatin1String("Span Calibration"))
            valueColor = g.v2 == QLatin1String("PASS") ? kPass : kFail;
        c.text(QRectF(cols[3] + pad, y, cols[4] - cols[3] - pad, rh), g.v2, 4.5,
               g.l2 == QLatin1String("Span Calibration"), Qt::AlignLeft, valueColor);
    }
    c.p.setPen(QPen(kInk, c.thin()));
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
            c.text(QRectF(x + labelW, sy - c.u(7), lineEnd - x - labelW, c.u(7)), mTester.mName, 4.5, false);
        c.rule(sy, x + labelW, lineEnd, c.medium());
    }

    drawLogo(c, logo(QStringLiteral("PELMORA_LOGO.bmp")), QRectF(margin, c.u(140), inner, c.u(20)),
             Qt::AlignHCenter);
    for (int i = 0; i < 3; ++i)
        c.fittedText(QRectF(margin, c.u(164 + 7.0 * i), inner, c.u(7)), mOptions.mFooter.value(i),
                     i == 0 ? 4.2 : 3.6, i == 0, Qt::AlignHCenter, i == 0 ? kInk : kMuted);
}

void TCertPage::paintHtml(QPainter& p) const
{
    const Canvas c{p, mGeometry, mOptions.mFont};
    const double n = mGeometry.n1mm;
    c.frame(QRectF(n, n, c.W() - 2 * n, c.H() - 2 * n), std::max(1.0, n / 2));
    if (mHtml.isEmpty() || mHtmlSize.isEmpty())
        return;
    if (!m_doc) {
        auto doc = std::make_shared<CertDocument>(mOptions.mProgramFolder);
        QFont f(mOptions.mFont);
        f.setPixelSize(14);
        doc->setDefaultFont(f);
        doc->setDefaultStyleSheet(QStringLiteral("pre, code, tt, kbd, samp { font-family: \"%1\"; }")
                                      .arg(mOptions.mFont));
        doc->setHtml(mHtml);
        doc->setTextWidth(mHtmlSize.width());
        m_doc = doc;
    }
    // The view of the template's size, stretched into the frame 3 mm inside the edges.
    const QRectF frame(3 * n, 3 * n, c.W() - 6 * n, c.H() - 6 * n);
    p.save();
    p.translate(frame.topLeft());
    p.scale(frame.width() / mHtmlSize.width(), frame.height() / mHtmlSize.height());
    const QRectF view(0, 0, mHtmlSize.width(), mHtmlSize.height());
    p.setClipRect(view, Qt::IntersectClip);
    QAbstractTextDocumentLayout::PaintContext ctx;
    ctx.clip = view;
    ctx.palette.setColor(QPalette::Text, Qt::black);
    m_doc->documentLayout()->draw(&p, ctx);
    p.restore();
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
    p->mLayout = std::clamp(options.mLayout, CERT_LAYOUT_DEFAULT, CERT_LAYOUT_HTML);
    bool landscape = p->mLayout == CERT_LAYOUT_MANUFACTURER;

    const QString calHtml = options.mProgramFolder + QStringLiteral("CAL.HTML");
    if (QFileInfo::exists(calHtml) && !QFile::remove(calHtml)) {
        message(767, QDir::toNativeSeparators(calHtml));
        return RDockTestPrt{TEST_KIND_NONE, mLogInfo, false};
    }
    if (p->mLayout == CERT_LAYOUT_HTML) {
        RCalHtml html;
        QString why;
        const HtmlTemplateStatus st =
            MakeCalHtmlFile(options.mProgramFolder, mLogInfo, tester, options.mDateStyle, &html, &why);
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
        if (!html.mWritten)
            message(155, QDir::toNativeSeparators(calHtml) + QStringLiteral(" (") + why + ')');
        p->mHtml = html.mHtml;
        p->mHtmlSize = QSize(html.mWidth, html.mHeight);
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
