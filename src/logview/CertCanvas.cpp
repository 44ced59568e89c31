#include "logview/CertCanvas.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QMutex>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "logview/CertPage.h"

namespace {

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

// Lays s out in lines of the given width; returns the height taken.
double wrapLines(QTextLayout& layout, double width, Qt::Alignment h)
{
    QTextOption opt;
    opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    opt.setAlignment(h);
    layout.setTextOption(opt);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

} // namespace

double CertCanvas::u(double n) const { return n * g.mUnit; }
double CertCanvas::W() const { return g.mWidth; }
double CertCanvas::H() const { return g.mHeight; }

QFont CertCanvas::font(double heightU, bool bold) const
{
    QFont f(family);
    if (!fallback.isEmpty())
        f.setFamilies({family, fallback});
    f.setBold(bold);
    // A text height is the height of a line of text, as the font reports it.
    f.setPixelSize(std::max(1, int(std::lround(u(heightU) * emPerLine(family, bold)))));
    // No ligatures: "fi" must stay two letters for anyone searching the PDF.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
    return f;
}

double CertCanvas::textWidth(const QString& s, double heightU, bool bold) const
{
    return QFontMetricsF(font(heightU, bold)).horizontalAdvance(s);
}

void CertCanvas::text(const QRectF& r, const QString& s, double heightU, bool bold, Qt::Alignment h,
                      const QColor& color) const
{
    p.setFont(font(heightU, bold));
    p.setPen(color);
    p.drawText(r, int(h | Qt::AlignVCenter) | Qt::TextSingleLine, s);
}

void CertCanvas::fittedText(const QRectF& r, const QString& s, double heightU, bool bold, Qt::Alignment h,
                            const QColor& color) const
{
    double size = heightU;
    const double w = textWidth(s, size, bold);
    if (w > r.width() && w > 0)
        size = std::max(0.5, size * r.width() / w * 0.98);
    text(r, s, size, bold, h, color);
}

void CertCanvas::cell(const QRectF& r, const QString& s, double heightU, bool bold, Qt::Alignment h,
                      const QColor& color) const
{
    if (s.isEmpty() || r.width() <= 0 || r.height() <= 0)
        return;
    const double w = textWidth(s, heightU, bold);
    if (w <= r.width()) {
        text(r, s, heightU, bold, h, color);
        return;
    }
    const double shrink = r.width() / w * 0.98;
    if (shrink >= CERT_MIN_SHRINK) {
        text(r, s, heightU * shrink, bold, h, color);
        return;
    }
    // Wrapped at 60 %; only a value too long for the cell's height gets smaller.
    double size = heightU * CERT_MIN_SHRINK;
    QTextLayout layout(s);
    double height = 0;
    for (int i = 0; i < 12; ++i) {
        layout.setFont(font(size, bold));
        height = wrapLines(layout, r.width(), h);
        if (height <= r.height() || size <= 0.3)
            break;
        size = std::max(0.3, size * std::max(0.5, std::sqrt(r.height() / height) * 0.98));
    }
    p.save();
    p.setPen(color);
    layout.draw(&p, QPointF(r.left(), r.top() + std::max(0.0, (r.height() - height) / 2)));
    p.restore();
}

void CertCanvas::rule(double y, double x0, double x1, double width, const QColor& color) const
{
    p.setPen(QPen(color, std::max(1.0, width), Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x0, y), QPointF(x1, y));
}

void CertCanvas::frame(const QRectF& r, double width, const QColor& color) const
{
    p.setPen(QPen(color, std::max(1.0, width), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

double CertCanvas::thin() const { return std::max(1.0, g.n1mm / 4.0); }
double CertCanvas::medium() const { return std::max(1.0, g.n1mm / 2.0); }

void CertDrawTable(const CertCanvas& c, const QRectF& box, const QVector<QStringList>& rows,
                   const QVector<double>& weights, double textU)
{
    const int nRows = int(rows.size());
    if (nRows == 0)
        return;
    int nCols = 1;
    for (const QStringList& r : rows)
        nCols = std::max(nCols, int(r.size()));
    // Column edges from the weights (a missing or non-positive weight counts as 1).
    QVector<double> edges{box.left()};
    double total = 0;
    for (int col = 0; col < nCols; ++col)
        total += weights.value(col, 1) > 0 ? weights.value(col, 1) : 1;
    for (int col = 0; col < nCols; ++col)
        edges << edges.last() + box.width() * (weights.value(col, 1) > 0 ? weights.value(col, 1) : 1) / total;
    const double rh = box.height() / nRows;
    const double pad = c.u(1);
    c.p.fillRect(QRectF(box.left(), box.top(), box.width(), rh), kCertShade);
    for (int r = 0; r < nRows; ++r)
        for (int col = 0; col < nCols; ++col) {
            const QString v = rows[r].value(col);
            const QString upper = v.toUpper();
            // A step's result word carries its colour, as the result box does.
            const QColor color = r > 0 && (upper == QLatin1String("FAIL")) ? kCertFail : kCertInk;
            c.cell(QRectF(edges[col] + pad, box.top() + r * rh, edges[col + 1] - edges[col] - 2 * pad, rh), v, textU,
                   r == 0 || col == 0 || color == kCertFail, Qt::AlignHCenter, color);
        }
    c.p.setPen(QPen(kCertInk, c.thin()));
    for (int r = 0; r <= nRows; ++r)
        c.p.drawLine(QPointF(box.left(), box.top() + r * rh), QPointF(box.right(), box.top() + r * rh));
    for (double x : edges)
        c.p.drawLine(QPointF(x, box.top()), QPointF(x, box.bottom()));
}

CertCanvas CertCanvasOf(const TCertPage& page, QPainter& p)
{
    const RCertOptions& o = page.mOptions;
    return CertCanvas{p, page.mGeometry, o.mFont,
                      o.mLanguage == CertLanguage::Interface ? o.mLanguageFont : QString()};
}

double CertDrawRows(const CertCanvas& c, double topU, const QVector<RCertRow>& rows)
{
    const double x0 = c.W() / 40;
    double labels = c.textWidth(QStringLiteral("Gas cylinder number 123456"), 4.5, true);
    for (const RCertRow& r : rows)
        labels = std::max(labels, c.textWidth(r.label, 4.5, true) + c.u(3));
    // Longer labels push the values right, up to the middle; beyond it they shrink.
    const double xv = x0 + std::min(labels, c.W() / 2 - x0);
    double y = c.u(topU);
    for (const RCertRow& r : rows) {
        y += c.u(r.gapBefore);
        c.fittedText(QRectF(x0, y, xv - x0 - c.u(1), c.u(5)), r.label, 4.5, true, Qt::AlignLeft);
        c.cell(QRectF(xv, y, c.W() - c.W() / 40 - xv, c.u(5)), r.value, 4.5, r.color != kCertInk,
               Qt::AlignLeft, r.color);
        y += c.u(5);
    }
    return y;
}

void CertDrawFooter(const CertCanvas& c, const RCertOptions& o)
{
    const double y = c.H() - c.u(8);
    c.rule(y, 0, c.W(), c.medium());
    // Each text keeps to its half so that two long ones never run into each other.
    const double x0 = c.W() / 40, inner = c.W() - c.W() / 20, gap = c.u(2);
    const bool both = !o.mBottomLeft.isEmpty() && !o.mBottomRight.isEmpty();
    const double leftW = both ? inner / 2 - gap : inner;
    c.cell(QRectF(x0, y, leftW, c.u(8)), o.mBottomLeft, 3.5, false, Qt::AlignLeft, kCertMuted);
    c.cell(QRectF(x0 + inner - leftW, y, leftW, c.u(8)), o.mBottomRight, 3.5, false, Qt::AlignRight, kCertMuted);
}

double CertResultBoxLeft(const CertCanvas& c, const QString& shown, double textU)
{
    double w = c.textWidth(QStringLiteral("  PASS  "), textU, true);
    if (shown != QLatin1String("PASS") && shown != QLatin1String("FAIL"))
        w = std::min(std::max(w, c.textWidth(QStringLiteral("  ") + shown + QStringLiteral("  "), textU, true)),
                     c.W() * 0.4);
    return c.W() - c.W() / 20 - w;
}

double CertDrawResultBox(const CertCanvas& c, const QString& word, const QString& shown, double topU,
                         double heightU, double textU)
{
    const double left = CertResultBoxLeft(c, shown, textU);
    const QRectF box(left, c.u(topU), c.W() - c.W() / 20 - left, c.u(heightU));
    const QColor color = CertResultColor(word);
    c.frame(box, c.medium() * 1.5, color);
    // A word of another language keeps a blank's room on either side.
    c.fittedText(shown == word ? box : box.adjusted(c.u(1.5), 0, -c.u(1.5), 0), shown, textU, true,
                 Qt::AlignHCenter, color);
    return box.left();
}

void CertDrawLogo(const CertCanvas& c, const QImage& img, const QRectF& r, Qt::Alignment h)
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

QImage CertLogo(const RCertOptions& o, const QString& name)
{
    static QMutex mutex;
    static QHash<QString, QImage> cache;
    const QString path = o.mProgramFolder + QStringLiteral("IMAGE/") + name;
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
