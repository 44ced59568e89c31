#pragma once
// Drawing helpers shared by every certificate layout: a painter in page pixels
// with the page's unit, line widths and font, and the pieces layouts have in
// common (label rows, ruled tables, result box, footer, logo).
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

#include "logview/TestResult.h"

struct RPageGeometry;
struct RCertOptions;
class TCertPage;

inline const QColor kCertInk(20, 24, 32);
inline const QColor kCertMuted(90, 96, 110);
inline const QColor kCertShade(234, 238, 245);
inline const QColor kCertPass(0, 120, 50);
inline const QColor kCertFail(190, 20, 20);

// A text never shrinks below this share of its size before it wraps.
inline constexpr double CERT_MIN_SHRINK = 0.6;

struct CertCanvas {
    QPainter& p;
    const RPageGeometry& g;
    QString family;
    QString fallback = QString(); // for what family has no glyphs for (empty: none named)

    double u(double n) const;
    double W() const;
    double H() const;
    QFont font(double heightU, bool bold) const;
    double textWidth(const QString& s, double heightU, bool bold) const;
    // One line in a rectangle, vertically centred, aligned left, centred or right.
    // For the page's own fixed texts; values go through cell().
    void text(const QRectF& r, const QString& s, double heightU, bool bold,
              Qt::Alignment h = Qt::AlignLeft, const QColor& color = kCertInk) const;
    // A fixed text shrunk until it fits the width of r.
    void fittedText(const QRectF& r, const QString& s, double heightU, bool bold,
                    Qt::Alignment h = Qt::AlignHCenter, const QColor& color = kCertInk) const;
    // A value in its cell, never cut: shrunk to fit down to 60 % of its size, then
    // wrapped within the cell (at word boundaries, else anywhere), and made smaller
    // still only when the wrapped lines are taller than the cell.
    void cell(const QRectF& r, const QString& s, double heightU, bool bold,
              Qt::Alignment h = Qt::AlignLeft, const QColor& color = kCertInk) const;
    void rule(double y, double x0, double x1, double width, const QColor& color = kCertInk) const;
    void frame(const QRectF& r, double width, const QColor& color = kCertInk) const;
    double thin() const;
    double medium() const;
};

struct RCertRow {
    QString label;
    QString value;
    double gapBefore = 0;
    QColor color = kCertInk;
};

// A table of equal rows, header row shaded and bold; first column bold. Columns are
// equal unless weights gives each its share of the width; texts are textU high.
void CertDrawTable(const CertCanvas& c, const QRectF& box, const QVector<QStringList>& rows,
                   const QVector<double>& weights = {}, double textU = 4.5);
// The canvas of a page: its geometry, print font and, for the interface language,
// that language's font beside it.
CertCanvas CertCanvasOf(const TCertPage& page, QPainter& p);

// Label column at width / 40, value column after "Gas cylinder number 123456" (or
// after the widest label, when a language's labels are longer); rows 5u high from
// topU. Returns the y below the last row.
double CertDrawRows(const CertCanvas& c, double topU, const QVector<RCertRow>& rows);
// Rule 8u above the bottom edge, "BottomLeft" in the left half, "BottomRight" in the right.
void CertDrawFooter(const CertCanvas& c, const RCertOptions& o);
// The framed PASS/FAIL box, by default at the right of the 1u..25u band (4u..22u,
// text 12u, right edge width / 20 from the page edge), as wide as "  PASS  " or as
// the word shown for it (up to 40 % of the page). Returns its left edge.
double CertDrawResultBox(const CertCanvas& c, const QString& word, const QString& shown, double topU = 4,
                         double heightU = 18, double textU = 12);
// The left edge that box will have.
double CertResultBoxLeft(const CertCanvas& c, const QString& shown, double textU = 12);
// An image scaled into r keeping its proportions.
void CertDrawLogo(const CertCanvas& c, const QImage& img, const QRectF& r, Qt::Alignment h);
// A logo from the program folder's IMAGE/ (read once per run; null when missing).
QImage CertLogo(const RCertOptions& o, const QString& name);

inline QColor CertResultColor(const QString& word)
{
    return word == QLatin1String("PASS") ? kCertPass : kCertFail;
}
