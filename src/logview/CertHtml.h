#pragma once
// Certificate templates: "DEFAULTCAL.HTML" in the program folder with tags such
// as "@SN@" filled from a calibration result and written as "CAL.HTML" beside it.
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include "logview/CertPage.h"
#include "logview/TestResult.h"

// Rendering size when the first comment line sets none, and the cap on each side
// so that a template cannot make us allocate a huge page.
inline constexpr int CERT_HTML_DEFAULT_WIDTH = 800;
inline constexpr int CERT_HTML_DEFAULT_HEIGHT = 1131;
inline constexpr int CERT_HTML_MIN_SIDE = 300;
inline constexpr int CERT_HTML_MAX_SIDE = 4000;
inline constexpr qint64 CERT_HTML_MAX_FILE_SIZE = 16 * 1024 * 1024;

// Sets nW, nH from the FORMAT comment of the first line holding a comment; false
// (nW, nH untouched) when that comment sets no size.
bool GetHtmlSize(const QStringList& lines, int& nW, int& nH);
// sLine with the first sTag replaced by sValue.
QString ConvHtmlLineDetail(const QString& sLine, const QString& sTag, const QString& sValue);
using CertHtmlTags = QVector<QPair<QString, QString>>;
// Every tag in table order with its value, already HTML-escaped.
CertHtmlTags CertHtmlTagValues(const RDockTestInfo& info, const RCertTester& tester, uint8_t nDateStyle);
// Every tag once in table order, then a second time.
QString ConvHtmlLine(const QString& sLine, const CertHtmlTags& tags);

enum class HtmlTemplateStatus { Ok, Missing, Unusable };
// Reads a template; lines keep their "\r". Unusable: empty, over 16 MB or binary.
HtmlTemplateStatus ReadHtmlTemplate(const QString& file, QStringList& lines, QString* why = nullptr);

struct RCalHtml {
    QString mHtml;   // the filled page
    int mWidth = CERT_HTML_DEFAULT_WIDTH;
    int mHeight = CERT_HTML_DEFAULT_HEIGHT;
    bool mWritten = false; // "CAL.HTML" written
    QString mFile;         // where: beside the template, else in the fallback folder
};
// Fills the template of the program folder and writes "CAL.HTML" beside it (UTF-8);
// where the program folder takes no file (read only, or a leftover that cannot be
// replaced) it goes into fallbackFolder (the private transfer folder) instead.
// Returns the template status; with Ok, *out holds the page even when "CAL.HTML"
// could be written nowhere (mWritten false).
HtmlTemplateStatus MakeCalHtmlFile(const QString& programFolder, const RDockTestInfo& info,
                                   const RCertTester& tester, uint8_t nDateStyle, RCalHtml* out,
                                   QString* why = nullptr, const QString& fallbackFolder = QString());

// Local file a template's resource name stands for (backslashes allowed, relative
// to the program folder); empty for anything remote.
QString CertResourcePath(const QString& programFolder, const QString& name);
