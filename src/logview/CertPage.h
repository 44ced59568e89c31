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
#include <QVector>
#include <memory>

#include "logview/TestResult.h"

class QPainter;
class QTextDocument;
class OperatorPort;

// Calibration layouts (setting PRINT/Type).
inline constexpr int CERT_LAYOUT_DEFAULT = 0;
inline constexpr int CERT_LAYOUT_MANUFACTURER = 1;
inline constexpr int CERT_LAYOUT_HTML = 2;
inline constexpr int CERT_LAYOUT_AUDIT = 3;

inline constexpr int CERT_PAGE_LONG_SIDE = 2000;

// Language text of the sentence a failed calibration's certificate carries.
inline constexpr int LANG_CERT_CAL_FAILED = 851;
// "The result carries no date:" (history line when such a result is shown).
inline constexpr int LANG_RESULT_NO_DATE = 852;
// "Audit": the caption of the Audit layout.
inline constexpr int LANG_CERT_AUDIT = 966;

// Setting PRINT/CertLanguage: labels and sentences of the page in English (as they
// have always been printed) or in the interface language. Values never change.
enum class CertLanguage { English, Interface };
QString CertLanguageName(CertLanguage l); // "English", "Interface"
// The setting's value, any letter case; false for anything else.
bool ParseCertLanguage(const QString& s, CertLanguage* out);

// The tester selected on the Print page; all empty when none is selected.
struct RCertTester {
    QString mName;
    QString mCompany;
    QString mPart;
};

// What ties a printed page to its record: the result file's hash and what the fleet
// index says of the instrument's next tests. Filled by the caller (the page itself
// neither reads files nor asks the index).
struct RCertTrace {
    QString mFile;            // the result file the page was drawn from
    QString mSha256;          // of its bytes, lower-case hex; empty when it could not be read
    enum Fleet { NoIndex, NotIndexed, Known } mFleet = NoIndex;
    TDateTime mNextBump = 0;  // 0: no passed bump test on record
    TDateTime mNextCal = 0;
    TDateTime mAsOf = 0;      // when the due dates were worked out
};

// What the page takes from the settings.
struct RCertOptions {
    int mLayout = CERT_LAYOUT_DEFAULT;
    QString mFont = QStringLiteral("Arial");
    QString mBottomLeft, mBottomRight;
    QStringList mFooter;       // three customer lines of the "Manufaturer" layout
    uint8_t mDateStyle = 0;    // SET/DateFormat
    QString mProgramFolder;    // with trailing "/": templates and IMAGE/
    CertLanguage mLanguage = CertLanguage::English;
    // The interface language's font: draws what the print font has no glyphs for
    // (Hangul in an Arial page); empty: the print font alone.
    QString mLanguageFont;
};

// A label or sentence of the page: the English text as it stands, or with
// CertLanguage::Interface language text n. An interface in English, or a text the
// table lacks, gives the English text, so the page reads as with English.
QString CertText(const RCertOptions& o, int n, const QString& english);
// The verdict word shown for "PASS" or "FAIL" (the window's own words for them).
QString CertVerdict(const RCertOptions& o, const QString& word);

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
// The overall result a calibration certificate states: "PASS" only when the overall
// result is "PASS" and neither step says "FAIL".
QString CalResultWord(const RDockTestInfo& info);
// The result word of a page of that kind.
QString CertResultWord(uint8_t nKind, const RDockTestInfo& info);
// The sentence under the "Manufaturer" title: the fixed "passed" sentence for a
// passed calibration, otherwise the one that says it failed.
QString CertResultSentence(const RCertOptions& o, const RDockTestInfo& info);
// A result's date as the page prints it; empty for a result without a date.
QString CertDate(uint8_t nDateStyle, TDateTime tDate, const QString& divider);
bool CertHasDate(TDateTime tDate);
// "Span Calibration": "PASS" when both the zero and the span step passed.
QString SpanCalibrationWord(const RDockTestInfo& info);
// A number with the gas's decimals (the user's number format), a blank and the unit.
QString CertNumber(const RDockTestInfo& info, float v);

class TCertPage;
using CertPaintFn = void (*)(const TCertPage& page, QPainter& p);

// The calibration layouts, in PRINT/Type order. One entry per layout: a new
// layout is one more line in CertLayouts() and its paint routine.
struct RCertLayout {
    int mId = CERT_LAYOUT_DEFAULT; // PRINT/Type
    QString mCliName;              // marvane-cli certificate --layout
    QString mCaption;              // as the system names it
    int mCaptionText = 0;          // language text of the caption (0: mCaption as it is)
    CertPaintFn mPaint = nullptr;
    bool mLandscape = false;       // the HTML layout takes its orientation from the template
    bool mFromTemplate = false;    // filled from DEFAULTCAL.HTML
    bool mBumpToo = false;         // also draws bump tests (instead of the bump report)
    bool mTraced = false;          // needs the record's trace (RCertTrace)
};
const QVector<RCertLayout>& CertLayouts();
// The layout of a PRINT/Type value; an unknown value gives "Default".
const RCertLayout& CertLayoutOf(int nId);

void PaintBumpReport(const TCertPage& page, QPainter& p);
void PaintDefaultCertificate(const TCertPage& page, QPainter& p);
void PaintManufacturerCertificate(const TCertPage& page, QPainter& p);
void PaintHtmlCertificate(const TCertPage& page, QPainter& p);
void PaintAuditCertificate(const TCertPage& page, QPainter& p);

// The Audit page's certificate number: serial and test date-time, "GA0042-20240501-101500"
// (the serial alone, with "-NODATE", for a result without a date).
QString CertAuditNumber(const RDockTestInfo& info);
// A step's pass range as the page prints it: "low ~ high unit", "≥ low unit" or
// "≤ high unit" when one side is open, "none" when both are.
QString CertLimit(const RCertOptions& o, const RDockTestInfo& info, const RDockTestGas& g);

// One page ready to be painted on any device.
class TCertPage {
public:
    uint8_t mKind = TEST_KIND_NONE; // 1 calibration certificate, 2 bump report
    int mLayout = CERT_LAYOUT_DEFAULT;
    RDockTestInfo mInfo;
    RCertTester mTester;
    RCertOptions mOptions;
    RCertTrace mTrace;
    RPageGeometry mGeometry;
    // HTML layout: the filled page and the template's pixel size.
    QString mHtml;
    QSize mHtmlSize;
    QString mHtmlFile; // where "CAL.HTML" was written (empty: nowhere)
    mutable std::shared_ptr<QTextDocument> mHtmlDoc; // laid out once per page

    // Paints in page pixels (0, 0) .. (mWidth, mHeight).
    void paint(QPainter& p) const;
    // Paints stretched into target (device coordinates of p).
    void paintInto(QPainter& p, const QRectF& target) const;
    QImage toImage() const; // white page, mWidth x mHeight

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
    RCertTrace trace;            // for layouts that print it (Audit)
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
