#pragma once
// Printable pages of a test result: the bump report and the three calibration
// certificate layouts. One routine per layout paints in page pixels (layout unit
// u = height / 200), so the preview bitmap, the printer and the PDF carry the
// same page; the printer and the PDF get real text, not a stretched picture.
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <memory>

#include "logview/TestResult.h"

class QPainter;
class QTextDocument;
class OperatorPort;

// Calibration layouts (setting PRINT/Type).
inline constexpr int CERT_LAYOUT_DEFAULT = 0;
inline constexpr int CERT_LAYOUT_MANUFACTURER = 1;
inline constexpr int CERT_LAYOUT_HTML = 2;

inline constexpr int CERT_PAGE_LONG_SIDE = 2000;

// The tester selected on the Print page; all empty when none is selected.
struct RCertTester {
    QString mName;
    QString mCompany;
    QString mPart;
};

// What the page takes from the settings.
struct RCertOptions {
    int mLayout = CERT_LAYOUT_DEFAULT;
    QString mFont = QStringLiteral("Arial");
    QString mBottomLeft, mBottomRight;
    QStringList mFooter;       // three customer lines of the "Manufaturer" layout
    uint8_t mDateStyle = 0;    // SET/DateFormat
    QString mProgramFolder;    // with trailing "/": templates and IMAGE/
};

// The printer's page: paper size in printer dots (portrait) and its vertical resolution.
struct RPrinterPage {
    QSize mPortraitDots{4961, 7016}; // A4 at 600 dpi
    int mDpi = 600;
    static RPrinterPage FromMillimetres(QSizeF portraitMM, int dpi);
    QSizeF portraitMM() const;
};

struct RPageGeometry {
    int mWidth = 0;
    int mHeight = 0;
    double mUnit = 0; // u = height / 200
    int n1mm = 1;     // one millimetre of paper in page pixels
    bool mLandscape = false;
};
// Longer side 2000 pixels, the other from the printer page's aspect.
RPageGeometry CertPageGeometry(const RPrinterPage& page, bool landscape);

// "PASS" when the upper-cased overall result is "PASS", else "FAIL".
QString BumpResultWord(const RDockTestInfo& info);
// "Span Calibration": "PASS" when both the zero and the span step passed.
QString SpanCalibrationWord(const RDockTestInfo& info);
// A number with the gas's decimals (the user's number format), a blank and the unit.
QString CertNumber(const RDockTestInfo& info, float v);

// One page ready to be painted on any device.
class TCertPage {
public:
    uint8_t mKind = TEST_KIND_NONE; // 1 calibration certificate, 2 bump report
    int mLayout = CERT_LAYOUT_DEFAULT;
    RDockTestInfo mInfo;
    RCertTester mTester;
    RCertOptions mOptions;
    RPageGeometry mGeometry;
    // HTML layout: the filled page and the template's pixel size.
    QString mHtml;
    QSize mHtmlSize;

    // Paints in page pixels (0, 0) .. (mWidth, mHeight).
    void paint(QPainter& p) const;
    // Paints stretched into target (device coordinates of p).
    void paintInto(QPainter& p, const QRectF& target) const;
    QImage toImage() const; // white page, mWidth x mHeight

private:
    void paintBump(QPainter& p) const;
    void paintDefault(QPainter& p) const;
    void paintManufacturer(QPainter& p) const;
    void paintHtml(QPainter& p) const;
    QImage logo(const QString& name) const;
    mutable std::shared_ptr<QTextDocument> m_doc;
};

// Where the page goes on the sheet, in millimetres (origin top left of the sheet).
struct RPrintTarget {
    bool mPrinterLandscape = false;
    QRectF mRectMM;
};
struct RPrintMargins {
    double mTop = 5, mLeft = 5, mBottom = 5, mRight = 5;
};
// The four cases of orientation and "Half size". paperPortraitMM is the sheet upright.
RPrintTarget CertPrintTarget(bool pageLandscape, bool halfSize, QSizeF paperPortraitMM,
                             const RPrintMargins& m);

// Writes the page as a one-page PDF at the printer's paper size within the margins.
// False with a message in *error when the file cannot be written.
bool WriteCertPdf(const TCertPage& page, const QString& file, QSizeF paperPortraitMM,
                  const RPrintMargins& margins, QString* error);

// DisplayBumpData / DisplayCalData: the common start (old "PRT.BMP" deleted), the
// page drawn, "PRT.BMP" written to the transfer folder. Messages go to the port.
class TCertRenderer {
public:
    OperatorPort* port = nullptr;
    QString transferFolder;      // with trailing "/"
    RCertOptions options;
    RCertTester tester;
    RPrinterPage printerPage;
    bool writeBitmap = true;     // "PRT.BMP" (the command line writes none)

    RDockTestPrt DisplayBumpData(const RDockTestInfo& mLogInfo);
    RDockTestPrt DisplayCalData(const RDockTestInfo& mLogInfo);
    RDockTestPrt Display(uint8_t nType, const RDockTestInfo& mLogInfo);

    // The last page drawn (null when nothing could be drawn) and its bitmap.
    std::shared_ptr<TCertPage> page;
    QImage image;
    QString bitmapPath() const { return transferFolder + QStringLiteral("PRT.BMP"); }

private:
    bool commonStart();
    RDockTestPrt finish(std::shared_ptr<TCertPage> p, uint8_t kind);
    void message(int text, const QString& extra = QString());
};
