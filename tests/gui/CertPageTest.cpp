// Certificate pages drawn, saved as "PRT.BMP", printed and written as PDF; the Print
// page's preview, zoom, tester and buttons following the LOG page's selection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QPaintEngine>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "DockFiles.h"
#include "LogPage.h"
#include "PrintPage.h"
#include "app/CertTrace.h"
#include "app/LogBrowser.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "logview/CertCanvas.h"
#include "logview/CertHtml.h"
#include "logview/CertPage.h"
#include "fleet/FleetDb.h"
#include "platform/Platform.h"
#include "support/EnglishTexts.h"
#include "support/TestSupport.h"

namespace {

QByteArray resultXml(bool calibration, const QString& overall = QString())
{
    docksim::TestResult t;
    t.calibration = calibration;
    t.serial = QStringLiteral("GA0042");
    t.dockSerial = QStringLiteral("DK7001");
    t.gas = 1; // CO
    t.location = QStringLiteral("North gate");
    t.gasLot = QStringLiteral("LOT-5531");
    t.gasExpiry = QStringLiteral("2026-12");
    t.when = QDateTime(QDate(2024, 5, 1), QTime(10, 15, 0));
    t.concentration = 100;
    t.variant = 0;
    QRandomGenerator rng(7);
    QByteArray xml = docksim::TestResultXml(t, rng);
    if (!overall.isEmpty())
        xml.replace("<OVERALLRESULT>PASS</OVERALLRESULT>", "<OVERALLRESULT>" + overall.toUtf8() + "</OVERALLRESULT>");
    return xml;
}

RDockTestInfo readResult(bool calibration, const QString& overall = QString())
{
    RDockTestInfo r;
    EXPECT_EQ(GetDockTestInfoFromData(calibration ? TEST_KIND_CAL : TEST_KIND_BUMP,
                                      resultXml(calibration, overall), r),
              DOCKTEST_OK);
    return r;
}

// A calibration whose span step says `word` ("FAIL", "NONE" for a step not run).
QByteArray calWithSpanResult(const QByteArray& word)
{
    QByteArray xml = resultXml(true);
    const qsizetype span = xml.indexOf("<SPAN>");
    const qsizetype at = xml.indexOf("<RESULT>PASS</RESULT>", span);
    xml.replace(at, 21, "<RESULT>" + word + "</RESULT>");
    return xml;
}

// A failed calibration: the span reading far below the gas applied.
QByteArray failedCalXml()
{
    QByteArray xml = calWithSpanResult("FAIL");
    xml.replace("<OVERALLRESULT>PASS</OVERALLRESULT>", "<OVERALLRESULT>FAIL</OVERALLRESULT>");
    return xml;
}

RDockTestInfo readXml(uint8_t kind, const QByteArray& xml)
{
    RDockTestInfo r;
    EXPECT_EQ(GetDockTestInfoFromData(kind, xml, r), DOCKTEST_OK);
    return r;
}

// The words of a PDF in reading order with every blank and line break taken out,
// so that a value wrapped within its cell reads whole.
QString pdfRun(const QString& file)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), file, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).remove(QRegularExpression(QStringLiteral("\\s")));
}

// Text of a PDF as pdftotext reads it; empty when the tool is missing.
QString pdfText(const QString& file)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Pixels in the failure colour in the right half of the page, rows y0 .. y1.
int failurePixels(const TCertPage& p, int y0, int y1)
{
    const QImage page = p.toImage();
    int red = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = page.width() / 2; x < page.width(); ++x)
            red += QColor(page.pixel(x, y)) == kCertFail;
    return red;
}

bool havePdfToText() { return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(); }

// The messages are language texts: the English file, as the program loads it.
using testsupport::EnglishTexts;

class CertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(prog());
        r.port = &port;
        r.transferFolder = AppState::TransferFolder();
        QDir().mkpath(r.transferFolder);
        r.options.mProgramFolder = prog();
        r.options.mBottomLeft = QStringLiteral("Acme Gas Safety Ltd.");
        r.options.mBottomRight = QStringLiteral("Form QA-17");
        r.tester = RCertTester{QStringLiteral("Ann Lee"), QStringLiteral("Acme"), QStringLiteral("Safety officer")};
        r.printerPage = RPrinterPage::FromMillimetres(QSizeF(210, 297), 600);
    }
    QString prog() const { return root.path() + "/prog/"; }
    QString pdf(const TCertPage& page, const QString& name)
    {
        const QString file = root.path() + '/' + name;
        QString error;
        EXPECT_TRUE(WriteCertPdf(page, file, QSizeF(210, 297), RPrintMargins{}, &error)) << error.toStdString();
        return file;
    }
    void copyShippedTemplate()
    {
        QFile::copy(QStringLiteral(MARVANE_SOURCE_DIR "/data/DEFAULTCAL.HTML"), prog() + "DEFAULTCAL.HTML");
    }

    EnglishTexts texts;
    testsupport::ScopedTempRoot root;
    ScriptedOperatorPort port;
    TCertRenderer r;
};

} // namespace

TEST_F(CertTest, BumpReportIsAPortraitPageSavedAsPrtBmp)
{
    const RDockTestPrt out = r.DisplayBumpData(readResult(false));
    EXPECT_EQ(out.mType, TEST_KIND_BUMP);
    EXPECT_FALSE(out.mHorizontal);
    ASSERT_TRUE(r.page);
    const QImage bmp(r.bitmapPath());
    ASSERT_FALSE(bmp.isNull());
    EXPECT_EQ(bmp.size(), QSize(1414, 2000));
    // Something is drawn in the title band and in the table, the footer band is ruled.
    auto inked = [&](int y0, int y1) {
        int n = 0;
        for (int y = y0; y < y1; y += 2)
            for (int x = 0; x < bmp.width(); x += 2)
                n += qGray(bmp.pixel(x, y)) < 128;
        return n;
    };
    EXPECT_GT(inked(10, 250), 500);
    EXPECT_GT(inked(1400, 1640), 500);
    EXPECT_GT(inked(1915, 1925), 100);
    EXPECT_TRUE(port.messages.isEmpty());
}

TEST_F(CertTest, CalibrationLayoutsChooseTheirOrientation)
{
    copyShippedTemplate();
    struct Case {
        int layout;
        bool landscape;
    } cases[] = {{CERT_LAYOUT_DEFAULT, false},
                 {CERT_LAYOUT_MANUFACTURER, true},
                 {CERT_LAYOUT_AUDIT, false},
                 {CERT_LAYOUT_HTML, false}};
    for (const Case& c : cases) {
        r.options.mLayout = c.layout;
        const RDockTestPrt out = r.DisplayCalData(readResult(true));
        EXPECT_EQ(out.mType, TEST_KIND_CAL) << c.layout;
        EXPECT_EQ(out.mHorizontal, c.landscape) << c.layout;
        EXPECT_EQ(QImage(r.bitmapPath()).width(), c.landscape ? 2000 : 1414) << c.layout;
    }
    // A wide template turns the page; CAL.HTML is written beside it.
    testsupport::writeAll(prog() + "DEFAULTCAL.HTML", "<!--FORMAT=1200,800--><h1>@SN@</h1>");
    const RDockTestPrt out = r.DisplayCalData(readResult(true));
    EXPECT_TRUE(out.mHorizontal);
    EXPECT_EQ(testsupport::readAll(prog() + "CAL.HTML"), "<!--FORMAT=1200,800--><h1>GA0042</h1>");
}

TEST_F(CertTest, PdfCarriesTheCertificateAsText)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    copyShippedTemplate();
    struct Case {
        uint8_t kind;
        int layout;
        QStringList expected;
    } cases[] = {
        {TEST_KIND_BUMP, CERT_LAYOUT_DEFAULT,
         {"Bump Results", "GA0042", "DK7001", "North gate", "CO", "100 ppm", "PASS", "Ann Lee",
          "Fresh air", "Test gas", "LOT-5531", "Acme Gas Safety Ltd.", "Form QA-17"}},
        {TEST_KIND_CAL, CERT_LAYOUT_DEFAULT,
         {"Calibration Certificate", "GA0042", "CO", "100 ppm", "CALIBRATION DATA", "Span gas",
          "Calibrated by", "Ann Lee", "Safety officer", "2024-05-01"}},
        {TEST_KIND_CAL, CERT_LAYOUT_MANUFACTURER,
         {"Calibration Certificate and Test Report", "GA0042", "CO", "Span Calibration", "PASS",
          "Tested by", "Ann Lee", "Approved by", "2024.05.01"}},
        {TEST_KIND_CAL, CERT_LAYOUT_HTML, {"GA0042", "CO", "Ann Lee", "North gate", "LOT-5531"}},
        {TEST_KIND_CAL, CERT_LAYOUT_AUDIT,
         {"Calibration Certificate", "GA0042-20240501-101500", "DK7001", "North gate", "2024-05-01 10:15:00",
          "Ann Lee, Acme", "LOT-5531", "2026-12", "Acme Gas Safety Ltd."}},
        {TEST_KIND_BUMP, CERT_LAYOUT_AUDIT,
         {"Bump Test Certificate", "GA0042-20240501-101500", "DK7001", "Reading", "Pass limits", "PASS"}},
    };
    for (const Case& c : cases) {
        r.options.mLayout = c.layout;
        const RDockTestInfo info = readResult(c.kind == TEST_KIND_CAL);
        ASSERT_NE(r.Display(c.kind, info).mType, TEST_KIND_NONE) << c.layout;
        const QString text = pdfText(pdf(*r.page, QStringLiteral("page%1-%2.pdf").arg(c.kind).arg(c.layout)));
        // The readings of the result stand on the page as printed (the landscape
        // certificate shows the verdict only).
        QStringList want = c.expected;
        if (c.layout != CERT_LAYOUT_MANUFACTURER)
            want << CertNumber(info, info.mSpan.mReading) << CertNumber(info, info.mZero.mReading);
        for (const QString& w : want)
            EXPECT_TRUE(text.contains(w)) << "kind " << int(c.kind) << " layout " << c.layout << ": "
                                          << w.toStdString() << "\n" << text.toStdString();
    }
}

TEST_F(CertTest, NoTesterLeavesTheTesterFieldsEmpty)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    r.tester = RCertTester{};
    for (uint8_t kind : {TEST_KIND_BUMP, TEST_KIND_CAL}) {
        ASSERT_NE(r.Display(kind, readResult(kind == TEST_KIND_CAL)).mType, TEST_KIND_NONE);
        const QString text = pdfText(pdf(*r.page, QStringLiteral("none%1.pdf").arg(kind)));
        EXPECT_FALSE(text.contains("Ann Lee"));
        EXPECT_FALSE(text.contains("Safety officer"));
        EXPECT_TRUE(text.contains(kind == TEST_KIND_BUMP ? "Test by" : "Calibrated by"));
    }
}

TEST_F(CertTest, BumpBoxShowsFailForAnythingButPass)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // The overall result row prints the word as read; the box only PASS or FAIL.
    for (const char* overall : {"pass", "NONE"}) {
        ASSERT_EQ(r.DisplayBumpData(readResult(false, overall)).mType, TEST_KIND_BUMP);
        const QString text = pdfText(pdf(*r.page, QStringLiteral("box-%1.pdf").arg(overall)));
        const QString box = QString(overall) == "pass" ? "PASS" : "FAIL";
        EXPECT_TRUE(text.left(text.indexOf("Instrument SN")).contains(box)) << overall << "\n" << text.toStdString();
    }
}

TEST_F(CertTest, MissingLogoAndTemplateImagesStillDrawThePage)
{
    // No IMAGE folder at all.
    r.options.mLayout = CERT_LAYOUT_DEFAULT;
    EXPECT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL);
    r.options.mLayout = CERT_LAYOUT_HTML;
    testsupport::writeAll(prog() + "DEFAULTCAL.HTML",
                          "<!--FORMAT=800,1131--><img src=\"IMAGE\\Logo2.bmp\"><img src=\"http://example.com/x.png\">"
                          "<p>@SN@</p>");
    EXPECT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL);
    EXPECT_TRUE(port.messages.isEmpty()) << port.messages.join('\n').toStdString();
}

TEST_F(CertTest, FilesThatCannotBeReplacedGiveTheirMessages)
{
    // A folder in the way cannot be deleted like a file.
    QDir().mkpath(r.bitmapPath() + "/busy");
    EXPECT_EQ(r.DisplayBumpData(readResult(false)).mType, TEST_KIND_NONE);
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_EQ(port.messages.last(), LangText(709) + ": " + LangText(759) + "\n" +
                                        QDir::toNativeSeparators(r.bitmapPath()));
    QDir(r.bitmapPath()).removeRecursively();

    r.options.mLayout = CERT_LAYOUT_HTML; // and no DEFAULTCAL.HTML
    const RDockTestPrt out = r.DisplayCalData(readResult(true));
    EXPECT_EQ(out.mType, TEST_KIND_NONE);
    EXPECT_FALSE(out.mHorizontal);
    EXPECT_TRUE(port.messages.last().contains(LangText(768)));

    testsupport::writeAll(prog() + "DEFAULTCAL.HTML", QByteArray("\0\0\0", 3));
    EXPECT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_NONE);
    EXPECT_TRUE(port.messages.last().contains(LangText(156)));
}

TEST_F(CertTest, PdfTargetThatCannotBeWrittenIsReported)
{
    ASSERT_EQ(r.DisplayBumpData(readResult(false)).mType, TEST_KIND_BUMP);
    QString error;
    EXPECT_FALSE(WriteCertPdf(*r.page, root.path() + "/no/such/folder/x.pdf", QSizeF(210, 297), {}, &error));
    EXPECT_FALSE(error.isEmpty());
    // An existing file is replaced only by a complete one.
    const QString file = root.path() + "/keep.pdf";
    testsupport::writeAll(file, "old");
    ASSERT_TRUE(WriteCertPdf(*r.page, file, QSizeF(210, 297), {}, &error));
    EXPECT_TRUE(testsupport::readAll(file).startsWith("%PDF"));
    EXPECT_FALSE(QFile::exists(file + ".part"));
}

// ---------------------------------------------------------------------------
// The Print page beside the LOG page, as in the window.

class PrintPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(state.MakeDefaultDirectory());
        state.GVPath = root.path() + "/prog/";
        QDir().mkpath(state.GVPath);
        state.FLogDestDir = root.path() + "/dest/";
        state.FUserNameList = QStringList{"Ann Lee", "Bo Chan"};
        state.FUserCompanyList = QStringList{"Acme", "Acme"};
        state.FUserPartList = QStringList{"Safety officer", "Technician"};
        const QString tf = AppState::TransferFolder();
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDCAL + "GA0042_CAL_2405011015.XML", resultXml(true));
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDBUMP + "GA0042_BUMP_2405011015.XML", resultXml(false));
        testsupport::writeAll(tf + SAVE_DIR_LOG_GDBUMP + "GA0043_BUMP_2405011016.XML", "<broken");
        ASSERT_EQ(RestoreLogListFromStaging(*core.FUnitDef), 3);
        core.DisplayLogList();

        auto* lay = new QVBoxLayout(&window);
        lay->addWidget(logPage);
        users = new QComboBox;
        users->addItems(state.FUserNameList);
        users->setCurrentIndex(-1);
        lay->addWidget(users);
        printPage = new TPrintPage(state, port, users);
        lay->addWidget(printPage);
        printPage->attach(logPage->browser());
        window.resize(1000, 800);
        window.show();
    }
    template <class W> W* child(const char* name) { return window.findChild<W*>(QLatin1String(name)); }
    void selectFirst(const char* treeName)
    {
        auto* tree = child<QTreeWidget>(treeName);
        ASSERT_NE(tree, nullptr);
        ASSERT_GT(tree->topLevelItemCount(), 0);
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        emit tree->itemClicked(tree->currentItem(), 0);
    }

    EnglishTexts texts;
    testsupport::ScopedTempRoot root;
    ScriptedOperatorPort port;
    AppState state{&port};
    TMainCore core{state, port};
    QWidget window;
    TLogPage* logPage = new TLogPage(core);
    QComboBox* users = nullptr;
    TPrintPage* printPage = nullptr;
};

TEST_F(PrintPageTest, SelectingAResultDrawsThePageAndShowsThePrintButton)
{
    auto* print = child<QPushButton>("PrintResPrintBtn");
    auto* view = child<QLabel>("PrintViewImage");
    ASSERT_NE(print, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(print->isHidden());
    auto* hint = child<QLabel>("PrintResHintLabel");
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_TRUE(view->isHidden());
    EXPECT_EQ(hint->text(), LangText(157));
    selectFirst("LogListGDCalTreeView");
    EXPECT_FALSE(hint->isVisible());
    EXPECT_EQ(logPage->browser()->FLastReport.mType, TEST_KIND_CAL);
    EXPECT_FALSE(print->isHidden());
    EXPECT_FALSE(child<QPushButton>("PrintResPdfBtn")->isHidden());
    EXPECT_FALSE(view->isHidden());
    EXPECT_FALSE(view->pixmap().isNull());
    EXPECT_TRUE(QFile::exists(AppState::TransferFolder() + "PRT.BMP"));

    selectFirst("LogListGDBumpTreeView");
    EXPECT_EQ(logPage->browser()->FLastReport.mType, TEST_KIND_BUMP);
    EXPECT_FALSE(print->isHidden());

    // A damaged result draws nothing: the button goes.
    logPage->browser()->LoadResultFile(AppState::TransferFolder() + SAVE_DIR_LOG_GDBUMP +
                                       "GA0043_BUMP_2405011016.XML");
    EXPECT_EQ(logPage->browser()->FLastReport.mType, TEST_KIND_NONE);
    EXPECT_TRUE(print->isHidden());
    EXPECT_TRUE(view->isHidden());
    EXPECT_TRUE(hint->isVisible());
    ASSERT_FALSE(port.messages.isEmpty());
    EXPECT_TRUE(port.messages.last().startsWith(LangText(709) + ": " + LangText(158)));
}

TEST_F(PrintPageTest, ZoomResizesThePreviewWithoutRedrawing)
{
    selectFirst("LogListGDBumpTreeView");
    auto* ratio = child<QComboBox>("PrintResRatioCombo");
    auto* view = child<QLabel>("PrintViewImage");
    auto* box = child<QScrollArea>("PrintScrollBox");
    ASSERT_NE(ratio, nullptr);
    EXPECT_EQ(ratio->count(), 8);
    EXPECT_EQ(ratio->currentText(), "X2");
    const int renders = printPage->renderCount();
    ratio->setCurrentIndex(0); // X1: the page as high as the box
    EXPECT_EQ(view->height(), box->maximumViewportSize().height());
    EXPECT_NEAR(double(view->width()) / view->height(), 1414.0 / 2000.0, 0.01);
    ratio->setCurrentIndex(6); // X3
    EXPECT_EQ(view->height(), box->maximumViewportSize().height() * 3);
    EXPECT_EQ(printPage->renderCount(), renders);
    // A larger window, a larger page; still no redraw.
    const int before = view->height();
    window.resize(1000, 1000);
    QApplication::processEvents();
    EXPECT_GT(view->height(), before);
    EXPECT_EQ(printPage->renderCount(), renders);

    // A landscape page follows the box's width.
    state.settings.ConfigPrNPrintTypeCombo = CERT_LAYOUT_MANUFACTURER;
    selectFirst("LogListGDCalTreeView");
    ratio->setCurrentIndex(2); // X1.5 -> 0.75 of the width
    EXPECT_EQ(view->width(), int(box->maximumViewportSize().width() * 0.75));
    EXPECT_NEAR(double(view->height()) / view->width(), 1414.0 / 2000.0, 0.01);
}

TEST_F(PrintPageTest, TesterComboRedrawsWithTheChosenTester)
{
    selectFirst("LogListGDCalTreeView");
    const int renders = printPage->renderCount();
    EXPECT_TRUE(printPage->renderer().page->mTester.mName.isEmpty());
    users->setCurrentIndex(1);
    EXPECT_EQ(printPage->renderCount(), renders + 1);
    EXPECT_EQ(printPage->renderer().page->mTester.mName, "Bo Chan");
    EXPECT_EQ(printPage->renderer().page->mTester.mPart, "Technician");
    EXPECT_EQ(logPage->browser()->FLastReport.mType, TEST_KIND_CAL);
}

TEST_F(PrintPageTest, PrintToAPdfPrinterFileProducesAPage)
{
    selectFirst("LogListGDCalTreeView");
    const QString file = root.path() + "/printed.pdf";
    printPage->printer().setOutputFormat(QPrinter::PdfFormat);
    printPage->printer().setOutputFileName(file);
    state.settings.ConfigPrNMarginHalfSizeCheck = true;
    ASSERT_TRUE(printPage->printPage());
    // A portrait page on half a sheet turns the sheet.
    EXPECT_EQ(printPage->printer().pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_TRUE(testsupport::readAll(file).startsWith("%PDF"));
    if (havePdfToText()) {
        const QString text = pdfText(file);
        EXPECT_TRUE(text.contains("Calibration Certificate"));
        EXPECT_TRUE(text.contains("GA0042"));
    }
    EXPECT_TRUE(port.messages.isEmpty());
}

TEST_F(PrintPageTest, LandscapeCertificateOnHalfASheetFillsTheTopHalf)
{
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    state.settings.ConfigPrNPrintTypeCombo = CERT_LAYOUT_MANUFACTURER;
    state.settings.ConfigPrNMarginHalfSizeCheck = true;
    selectFirst("LogListGDCalTreeView");
    ASSERT_TRUE(printPage->lastReport().mHorizontal);
    const QString file = root.path() + "/half.pdf";
    printPage->printer().setOutputFormat(QPrinter::PdfFormat);
    printPage->printer().setOutputFileName(file);
    ASSERT_TRUE(printPage->printPage());
    ASSERT_EQ(QProcess::execute("pdftoppm", {"-r", "20", "-png", "-singlefile", file, root.path() + "/half"}), 0);
    const QImage sheet(root.path() + "/half.png");
    ASSERT_FALSE(sheet.isNull());
    EXPECT_GT(sheet.height(), sheet.width()); // an upright sheet
    int top = 0, bottom = 0;
    for (int y = 0; y < sheet.height(); ++y)
        for (int x = 0; x < sheet.width(); ++x)
            (y < sheet.height() / 2 ? top : bottom) += qGray(sheet.pixel(x, y)) < 160;
    EXPECT_GT(top, 200);
    EXPECT_EQ(bottom, 0);
}

TEST_F(PrintPageTest, SaveAsPdfAndItsFailures)
{
    selectFirst("LogListGDBumpTreeView");
    const QString file = root.path() + "/saved.pdf";
    port.fileAnswers << file;
    ASSERT_TRUE(printPage->saveAsPdf());
    EXPECT_TRUE(testsupport::readAll(file).startsWith("%PDF"));
    EXPECT_FALSE(printPage->saveAsPdf(root.path() + "/missing/dir/x.pdf"));
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_TRUE(port.messages.last().contains(LangText(155)));
}

TEST_F(PrintPageTest, PrintWithoutPageOrPrinterSaysSo)
{
    selectFirst("LogListGDBumpTreeView");
    // A PDF printer without a file stands for "no printer installed".
    printPage->printer().setOutputFormat(QPrinter::PdfFormat);
    printPage->printer().setOutputFileName(QString());
    EXPECT_FALSE(printPage->printPage());
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_TRUE(port.messages.last().contains(LangText(154)));
    QFile::remove(AppState::TransferFolder() + "PRT.BMP");
    EXPECT_FALSE(printPage->printPage());
    EXPECT_TRUE(port.messages.last().contains(LangText(995))) << port.messages.last().toStdString();
}

TEST_F(PrintPageTest, PrintSetupRedrawsOnlyWhenConfirmed)
{
    selectFirst("LogListGDBumpTreeView");
    const int renders = printPage->renderCount();
    EXPECT_FALSE(printPage->printSetup());
    EXPECT_EQ(printPage->renderCount(), renders);
    port.printerSetupAnswer = true;
    printPage->printer().setPageSize(QPageSize(QPageSize::Letter));
    EXPECT_TRUE(printPage->printSetup());
    EXPECT_EQ(printPage->renderCount(), renders + 1);
    EXPECT_EQ(printPage->renderer().image.size(), QSize(1545, 2000));
}

// ---------------------------------------------------------------------------
// What an auditor reads on the page.

TEST_F(CertTest, FailedCalibrationNeverReadsAsAPassInAnyLayout)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    copyShippedTemplate();
    // A failed step under an overall PASS is no pass either.
    QByteArray stepFailed = failedCalXml();
    stepFailed.replace("<OVERALLRESULT>FAIL</OVERALLRESULT>", "<OVERALLRESULT>PASS</OVERALLRESULT>");
    const QString failedSentence = LangText(LANG_CERT_CAL_FAILED);
    ASSERT_FALSE(failedSentence.isEmpty());
    for (const RCertLayout& layout : CertLayouts()) {
        r.options.mLayout = layout.mId;
        for (const QByteArray& xml : {failedCalXml(), stepFailed}) {
            ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, xml)).mType, TEST_KIND_CAL);
            const QString text = pdfText(pdf(*r.page, "failed-" + layout.mCliName + ".pdf"));
            EXPECT_TRUE(text.contains("FAIL")) << layout.mCliName.toStdString() << "\n" << text.toStdString();
            EXPECT_FALSE(text.contains("passed", Qt::CaseInsensitive)) << layout.mCliName.toStdString();
            EXPECT_TRUE(pdfRun(pdf(*r.page, "failed-run.pdf")).contains(QString(failedSentence).remove(' ')))
                << layout.mCliName.toStdString();
        }
        // A passed one states its PASS and never the failure sentence.
        ASSERT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL);
        const QString passed = pdfText(pdf(*r.page, "passed-" + layout.mCliName + ".pdf"));
        EXPECT_TRUE(passed.contains("PASS")) << layout.mCliName.toStdString();
        EXPECT_FALSE(passed.contains("FAIL")) << layout.mCliName.toStdString() << "\n" << passed.toStdString();
        if (layout.mId == CERT_LAYOUT_MANUFACTURER) {
            EXPECT_TRUE(passed.contains("conducted and passed"));
        }
    }
    // The verdict in red: the result box of the "Default" layout is drawn in the failure colour.
    r.options.mLayout = CERT_LAYOUT_DEFAULT;
    ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, failedCalXml())).mType, TEST_KIND_CAL);
    EXPECT_GT(failurePixels(*r.page, 700, 950), 500);
}

TEST_F(CertTest, LongValuesArePrintedWholeInEveryLayout)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    copyShippedTemplate();
    const QString serial = QStringLiteral("SA1624635-EXTRA-LONG-SERIAL-NUMBER-0042X");
    ASSERT_EQ(serial.size(), 40);
    const QString lot = QStringLiteral("LOT-1234567890-ABCDEFGHIJ-KLMNOPQRSTU");
    auto longXml = [&](bool cal) {
        QByteArray xml = resultXml(cal);
        xml.replace("<SERIAL>GA0042</SERIAL>", "<SERIAL>" + serial.toUtf8() + "</SERIAL>");
        xml.replace("<GASLOT>LOT-5531</GASLOT>", "<GASLOT>" + lot.toUtf8() + "</GASLOT>");
        // Nine digits for the gas applied in the span step.
        const qsizetype span = xml.indexOf("<SPAN>");
        const qsizetype open = xml.indexOf("<CONCENTRATION>", span) + 15;
        xml.replace(open, xml.indexOf("</CONCENTRATION>", open) - open, "123456789");
        return xml;
    };
    struct Case {
        uint8_t kind;
        int layout;
    } cases[] = {{TEST_KIND_BUMP, CERT_LAYOUT_DEFAULT},
                 {TEST_KIND_CAL, CERT_LAYOUT_DEFAULT},
                 {TEST_KIND_CAL, CERT_LAYOUT_MANUFACTURER},
                 {TEST_KIND_CAL, CERT_LAYOUT_HTML},
                 {TEST_KIND_CAL, CERT_LAYOUT_AUDIT},
                 {TEST_KIND_BUMP, CERT_LAYOUT_AUDIT}};
    for (const Case& c : cases) {
        r.options.mLayout = c.layout;
        const RDockTestInfo info = readXml(c.kind, longXml(c.kind == TEST_KIND_CAL));
        ASSERT_NE(r.Display(c.kind, info).mType, TEST_KIND_NONE);
        const QString run = pdfRun(pdf(*r.page, QStringLiteral("long%1-%2.pdf").arg(c.kind).arg(c.layout)));
        const QString number = CertNumber(info, info.mSpan.mConcentration).remove(' ');
        EXPECT_TRUE(number.startsWith("123,456,79")) << number.toStdString();
        for (const QString& w : {serial, number, lot})
            EXPECT_TRUE(run.contains(w)) << "kind " << int(c.kind) << " layout " << c.layout << ": "
                                         << w.toStdString() << "\n" << run.toStdString();
    }
}

TEST_F(CertTest, CellTextShrinksToSixtyPercentThenWraps)
{
    RPageGeometry g = CertPageGeometry(r.printerPage, false);
    QImage img(g.mWidth, g.mHeight, QImage::Format_RGB32);
    auto inkedRows = [&](const QString& text, const QRectF& cell) {
        img.fill(Qt::white);
        QPainter p(&img);
        const CertCanvas c{p, g, QStringLiteral("Arial")};
        c.cell(cell, text, 4.5, false);
        p.end();
        int top = int(cell.bottom()), bottom = int(cell.top());
        bool outside = false;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (qGray(img.pixel(x, y)) < 128) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                    outside = outside || !cell.adjusted(-2, -2, 2, 2).contains(QPointF(x, y));
                }
        EXPECT_FALSE(outside) << text.toStdString();
        return bottom - top;
    };
    const QRectF cell(100, 100, 300, 100);
    const int oneLine = inkedRows(QStringLiteral("SHORT"), cell);
    const int shrunk = inkedRows(QStringLiteral("SA1624635-EXTRA"), cell);
    const int wrapped = inkedRows(QStringLiteral("SA1624635-EXTRA-LONG-SERIAL-NUMBER-00042"), cell);
    EXPECT_LE(shrunk, oneLine);
    EXPECT_GT(wrapped, oneLine) << "two lines are taller than one";
}

TEST_F(CertTest, ResultWithoutDatePrintsNoDate)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    copyShippedTemplate();
    for (bool cal : {false, true}) {
        QByteArray xml = resultXml(cal);
        const qsizetype d = xml.indexOf("<DATE>");
        xml.remove(d, xml.indexOf("</DATE>") + 7 - d);
        const RDockTestInfo info = readXml(cal ? TEST_KIND_CAL : TEST_KIND_BUMP, xml);
        EXPECT_EQ(info.mDate, 0.0);
        for (const RCertLayout& layout : CertLayouts()) {
            r.options.mLayout = layout.mId;
            ASSERT_NE(r.Display(cal ? TEST_KIND_CAL : TEST_KIND_BUMP, info).mType, TEST_KIND_NONE);
            const QString text = pdfText(pdf(*r.page, "nodate.pdf"));
            EXPECT_FALSE(text.contains("1899")) << text.toStdString();
            EXPECT_FALSE(text.contains("30-12")) << text.toStdString();
            if (!cal)
                break; // one bump report
        }
    }
    EXPECT_TRUE(CertDate(0, 0, "-").isEmpty());
    EXPECT_EQ(CertDate(0, DateTimeToDays(QDateTime(QDate(2024, 5, 1), QTime(10, 0))), "-"), "2024-05-01");
}

TEST_F(CertTest, HtmlPageKeepsEverythingOfATallDocument)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    copyShippedTemplate();
    r.options.mLayout = CERT_LAYOUT_HTML;
    QByteArray xml = resultXml(true);
    xml.replace("<LOCATION>North gate</LOCATION>", "<LOCATION>" + QByteArray(500, 'L') + "</LOCATION>");
    ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, xml)).mType, TEST_KIND_CAL);
    const QString text = pdfText(pdf(*r.page, "tall.pdf"));
    for (const char* w : {"Self checks", "Calibrated by", "Ann Lee", "Signature", "Keep this certificate"})
        EXPECT_TRUE(text.contains(w)) << w << "\n" << text.toStdString();
    // Scaled alike both ways: a square image in the template stays square on the page.
    QDir().mkpath(prog() + "IMAGE");
    QImage square(40, 40, QImage::Format_RGB32);
    square.fill(Qt::black);
    ASSERT_TRUE(square.save(prog() + "IMAGE/square.png"));
    testsupport::writeAll(prog() + "DEFAULTCAL.HTML",
                          "<!--FORMAT=400,1600--><img src=\"IMAGE\\square.png\" width=\"300\" height=\"300\">"
                          "<p>@SN@</p>");
    ASSERT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL);
    const QImage page = r.page->toImage();
    int x0 = page.width(), x1 = 0, y0 = page.height(), y1 = 0;
    // Inside the page's frame.
    for (int y = 30; y < page.height() / 2; ++y)
        for (int x = 30; x < page.width() - 30; ++x)
            if (qGray(page.pixel(x, y)) < 40) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    ASSERT_GT(x1, x0);
    EXPECT_NEAR(double(x1 - x0) / double(y1 - y0), 1.0, 0.1);
}

TEST_F(CertTest, LeftoverCalHtmlThatCannotBeReplacedBlocksNoLayout)
{
    copyShippedTemplate();
    // A folder in the way stands for a file the program may not replace.
    QDir().mkpath(prog() + "CAL.HTML/busy");
    for (const RCertLayout& layout : CertLayouts()) {
        r.options.mLayout = layout.mId;
        EXPECT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL) << layout.mCliName.toStdString();
    }
    EXPECT_TRUE(port.messages.isEmpty()) << port.messages.join('\n').toStdString();
    r.options.mLayout = CERT_LAYOUT_HTML;
    ASSERT_EQ(r.DisplayCalData(readResult(true)).mType, TEST_KIND_CAL);
    // The filled template went into the private transfer folder instead.
    EXPECT_EQ(r.page->mHtmlFile, r.transferFolder + "CAL.HTML");
    EXPECT_TRUE(testsupport::readAll(r.transferFolder + "CAL.HTML").contains("GA0042"));
    EXPECT_TRUE(QFileInfo(prog() + "CAL.HTML/busy").isDir());
}

TEST_F(CertTest, LayoutTableNamesEveryLayoutOnce)
{
    QSet<int> ids;
    QSet<QString> names;
    for (const RCertLayout& l : CertLayouts()) {
        EXPECT_NE(l.mPaint, nullptr);
        ids.insert(l.mId);
        names.insert(l.mCliName);
    }
    EXPECT_EQ(ids.size(), CertLayouts().size());
    EXPECT_EQ(names.size(), CertLayouts().size());
    EXPECT_EQ(CertLayoutOf(CERT_LAYOUT_MANUFACTURER).mCaption, "Manufaturer");
    EXPECT_EQ(CertLayoutOf(99).mId, CERT_LAYOUT_DEFAULT);
}

TEST_F(PrintPageTest, LayoutChosenOnThePrintPageRedrawsAtOnce)
{
    selectFirst("LogListGDCalTreeView");
    auto* layout = child<QComboBox>("PrintResLayoutCombo");
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->count(), CertLayouts().size());
    EXPECT_EQ(layout->currentIndex(), 0);
    int chosen = -1;
    printPage->layoutChosen = [&](int id) { chosen = id; };
    const int renders = printPage->renderCount();
    layout->setCurrentIndex(1);
    emit layout->activated(1);
    EXPECT_EQ(chosen, CERT_LAYOUT_MANUFACTURER);
    EXPECT_EQ(state.settings.ConfigPrNPrintTypeCombo, CERT_LAYOUT_MANUFACTURER);
    EXPECT_EQ(printPage->renderCount(), renders + 1);
    EXPECT_TRUE(printPage->lastReport().mHorizontal);
    // The settings page's choice shows here the next time a page is drawn.
    state.settings.ConfigPrNPrintTypeCombo = CERT_LAYOUT_DEFAULT;
    selectFirst("LogListGDCalTreeView");
    EXPECT_EQ(layout->currentIndex(), 0);
}

TEST_F(PrintPageTest, FitPageShowsTheWholePageAndNoTesterIsWarned)
{
    selectFirst("LogListGDCalTreeView");
    auto* ratio = child<QComboBox>("PrintResRatioCombo");
    auto* view = child<QLabel>("PrintViewImage");
    auto* box = child<QScrollArea>("PrintScrollBox");
    ratio->setCurrentIndex(ratio->count() - 1);
    EXPECT_EQ(ratio->currentText(), LangText(860));
    EXPECT_LE(view->height(), box->maximumViewportSize().height());
    EXPECT_LE(view->width(), box->maximumViewportSize().width());
    EXPECT_NEAR(double(view->width()) / view->height(), 1414.0 / 2000.0, 0.01);

    auto* warning = child<QLabel>("PrintResWarningLabel");
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->text(), LangText(858));
    users->setCurrentIndex(0);
    EXPECT_FALSE(warning->isVisible());
    selectFirst("LogListGDBumpTreeView");
    users->setCurrentIndex(-1);
    EXPECT_FALSE(warning->isVisible()) << "a bump report names its tester only as \"Test by\"";
}

TEST_F(PrintPageTest, SaveAsPdfSaysWhereItSaved)
{
    selectFirst("LogListGDBumpTreeView");
    const QString file = root.path() + "/said.pdf";
    ASSERT_TRUE(printPage->saveAsPdf(file));
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Success);
    EXPECT_EQ(port.statusText, LangText(861).arg(QDir::toNativeSeparators(file)));
    EXPECT_TRUE(port.history.join('\n').contains(QDir::toNativeSeparators(file)));
}

// ---------------------------------------------------------------------------
// The Audit layout: a printed page that traces to its record.

namespace {

QString sha256Of(const QString& file)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(testsupport::readAll(file), QCryptographicHash::Sha256).toHex());
}

} // namespace

TEST_F(CertTest, AuditPageCarriesItsNumberTheFileHashAndTheFleetDueDates)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    r.options.mLayout = CERT_LAYOUT_AUDIT;
    AppState state;
    state.FLogDestDir = root.path() + "/dest/";
    const QString file = state.FLogDestDir + "KM1/GA0042/CAL/GA0042_CAL_2405011015.XML";
    testsupport::writeAll(file, resultXml(true));
    RDockTestInfo info;
    ASSERT_EQ(GetDockTestInfo(TEST_KIND_CAL, file, info), DOCKTEST_OK);
    EXPECT_EQ(info.mFile, file);

    // No fleet index: the page says so, and printing makes none.
    r.trace = TCertTraceSource(state).Of(info);
    EXPECT_EQ(r.trace.mSha256, sha256Of(file));
    ASSERT_EQ(r.DisplayCalData(info).mType, TEST_KIND_CAL);
    QString run = pdfRun(pdf(*r.page, "audit-noindex.pdf"));
    for (const QString& w : {QStringLiteral("GA0042-20240501-101500"), sha256Of(file), QStringLiteral("Readingbeforeadjustment"),
                             QStringLiteral("Readingafteradjustment"), QStringLiteral("Passlimits"), QStringLiteral("Responsetime"),
                             QStringLiteral("GA0042_CAL_2405011015.XML"), QStringLiteral("notknown:nofleetindex")})
        EXPECT_TRUE(run.contains(w)) << w.toStdString() << "\n" << run.toStdString();
    EXPECT_FALSE(QFileInfo::exists(state.FLogDestDir + TFleetDb::FileName()));

    // With the index: the due dates it works out (default policy, 180 days after the calibration).
    {
        TFleetDb db(state.FLogDestDir);
        ASSERT_TRUE(db.Update());
    }
    r.trace = TCertTraceSource(state).Of(info);
    EXPECT_EQ(r.trace.mFleet, RCertTrace::Known);
    ASSERT_EQ(r.DisplayCalData(info).mType, TEST_KIND_CAL);
    run = pdfRun(pdf(*r.page, "audit-index.pdf"));
    EXPECT_TRUE(run.contains("Nextcalibration2024-10-28")) << run.toStdString();
    EXPECT_TRUE(run.contains(sha256Of(file)));

    // An instrument the index does not know is named as such.
    RDockTestInfo other = info;
    other.mSN = "ZZ9999";
    r.trace = TCertTraceSource(state).Of(other);
    EXPECT_EQ(r.trace.mFleet, RCertTrace::NotIndexed);
}

TEST_F(CertTest, AuditPageOfAFailedTestOrAStepNotRunSaysSo)
{
    if (!havePdfToText())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    r.options.mLayout = CERT_LAYOUT_AUDIT;
    ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, failedCalXml())).mType, TEST_KIND_CAL);
    QString text = pdfText(pdf(*r.page, "audit-failed.pdf"));
    EXPECT_TRUE(pdfRun(pdf(*r.page, "audit-failed.pdf")).contains(LangText(LANG_CERT_CAL_FAILED).remove(' ')));
    EXPECT_TRUE(text.contains("Overall result") && text.contains("FAIL")) << text.toStdString();
    // The verdict box is drawn in the failure colour.
    EXPECT_GT(failurePixels(*r.page, 40, 220), 300);

    ASSERT_EQ(r.DisplayBumpData(readResult(false, "FAIL")).mType, TEST_KIND_BUMP);
    EXPECT_TRUE(pdfText(pdf(*r.page, "audit-bump.pdf")).contains("This bump test was not passed"));

    // A calibration without a span step (fresh air only).
    ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, calWithSpanResult("NONE"))).mType, TEST_KIND_CAL);
    text = pdfRun(pdf(*r.page, "audit-zero.pdf"));
    EXPECT_TRUE(text.contains("notperformed")) << text.toStdString();
}

TEST_F(PrintPageTest, AuditLayoutOnThePrintPageDrawsBothKindsWithTheFileHash)
{
    auto* layout = child<QComboBox>("PrintResLayoutCombo");
    ASSERT_NE(layout, nullptr);
    const int audit = layout->findData(CERT_LAYOUT_AUDIT);
    ASSERT_GE(audit, 0);
    selectFirst("LogListGDBumpTreeView");
    ASSERT_EQ(printPage->lastReport().mType, TEST_KIND_BUMP);
    const int renders = printPage->renderCount();
    layout->setCurrentIndex(audit);
    emit layout->activated(audit);
    // A bump report follows a layout that draws bump tests too.
    EXPECT_EQ(printPage->renderCount(), renders + 1);
    ASSERT_TRUE(printPage->renderer().page);
    EXPECT_EQ(printPage->renderer().page->mLayout, CERT_LAYOUT_AUDIT);
    const QString bump = AppState::TransferFolder() + SAVE_DIR_LOG_GDBUMP + "GA0042_BUMP_2405011015.XML";
    EXPECT_EQ(printPage->renderer().page->mTrace.mSha256, sha256Of(bump));

    selectFirst("LogListGDCalTreeView");
    ASSERT_EQ(printPage->lastReport().mType, TEST_KIND_CAL);
    EXPECT_EQ(printPage->renderer().page->mLayout, CERT_LAYOUT_AUDIT);
    EXPECT_EQ(printPage->renderer().page->mTrace.mSha256,
              sha256Of(AppState::TransferFolder() + SAVE_DIR_LOG_GDCAL + "GA0042_CAL_2405011015.XML"));
    // Back to the bump report: no trace is read for a layout that prints none.
    layout->setCurrentIndex(0);
    emit layout->activated(0);
    EXPECT_TRUE(printPage->renderer().page->mTrace.mSha256.isEmpty());
}

// ---- the page in the interface language (PRINT/CertLanguage) ----------------------

namespace {

// What a page draws as text, item by item, in drawing order.
class TextRecorder : public QPaintEngine {
public:
    TextRecorder() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPath(const QPainterPath&) override {}
    void drawTextItem(const QPointF&, const QTextItem& item) override { texts << item.text(); }
    Type type() const override { return QPaintEngine::User; }
    QStringList texts;
};

class TextDevice : public QPaintDevice {
public:
    QPaintEngine* paintEngine() const override { return &engine; }
    mutable TextRecorder engine;

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return 2000;
        case PdmHeight: return 2000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 96;
        case PdmDepth: return 32;
        case PdmNumColors: return INT_MAX;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(devicePixelRatioFScale());
        default: return 0;
        }
    }
};

// The text items of a page, joined by line breaks (a text of mixed scripts may come
// in several items).
QString drawnText(const TCertPage& page)
{
    TextDevice device;
    QPainter p(&device);
    page.paint(p);
    p.end();
    return device.engine.texts.join('\n');
}

// Language n of the list loaded into the program's table for the length of a test.
struct LanguageTexts {
    explicit LanguageTexts(int n)
    {
        const QByteArray bytes = testsupport::readAll(QStringLiteral(MARVANE_BINARY_DIR "/Language/") +
                                                      LAN_NAME[size_t(n)] + ".DAT");
        GVLang().parseLanguageText(n == LANG_KOR_POS ? platform::DecodeLegacy(bytes, true) : QString::fromUtf8(bytes));
    }
    EnglishTexts restore; // the English file first, and the table as it was afterwards
};

struct LayoutCase {
    uint8_t kind;
    int layout;
};
const LayoutCase kAllPages[] = {{TEST_KIND_BUMP, CERT_LAYOUT_DEFAULT},      {TEST_KIND_CAL, CERT_LAYOUT_DEFAULT},
                                {TEST_KIND_CAL, CERT_LAYOUT_MANUFACTURER}, {TEST_KIND_CAL, CERT_LAYOUT_HTML},
                                {TEST_KIND_CAL, CERT_LAYOUT_AUDIT},        {TEST_KIND_BUMP, CERT_LAYOUT_AUDIT}};

} // namespace

TEST_F(CertTest, InterfaceLanguagePagesCarryTranslatedLabelsAndTheValuesUnchanged)
{
    copyShippedTemplate();
    struct Lang {
        int n;
        QList<QStringList> labels; // what each page of kAllPages must say in that language
        QString passWord;
    } langs[] = {
        {5,
         {{"Funktionstest-Ergebnisse", "Seriennummer", "Prüfgas-Chargennr.", "Schritt"},
          {"Kalibrierzertifikat", "Seriennummer", "KALIBRIERDATEN", "Kalibriert von"},
          {"Kalibrierzertifikat und Prüfbericht", "Seriennummer", "Span-Kalibrierung", "Freigegeben von"},
          {"Gesamtergebnis"},
          {"Kalibrierzertifikat", "Zertifikatsnummer", "Messwert nach Justierung", "SHA-256 der Datei"},
          {"Funktionstest-Zertifikat", "Zertifikatsnummer", "Rückverfolgbarkeit"}},
         "BESTANDEN"},
        {6,
         {{"범프 테스트 결과", "시리얼 번호", "청정 공기"},
          {"교정 인증서", "시리얼 번호", "교정 데이터"},
          {"교정 인증서 및 시험 성적서", "스팬 교정"},
          {"종합 결과"},
          {"인증서 번호", "조정 후 측정값", "추적성"},
          {"범프 테스트 인증서", "추적성"}},
         QString::fromUtf8("통과")},
    };
    // What the dock and the settings gave: the same on every page, whatever the language.
    const QStringList values = {"GA0042", "DK7001", "North gate", "LOT-5531", "2026-12", "2024-05-01", "CO",
                                "Ann Lee", "Acme Gas Safety Ltd.", "Form QA-17", "ppm"};
    for (const Lang& lang : langs) {
        LanguageTexts loaded(lang.n);
        for (size_t page = 0; page < std::size(kAllPages); ++page) {
            const LayoutCase& lc = kAllPages[page];
            SCOPED_TRACE(testing::Message() << "language " << lang.n << ", kind " << int(lc.kind) << ", layout "
                                            << lc.layout);
            r.options.mLayout = lc.layout;
            r.options.mLanguage = CertLanguage::English;
            ASSERT_NE(r.Display(lc.kind, readResult(lc.kind == TEST_KIND_CAL)).mType, TEST_KIND_NONE);
            const QString english = drawnText(*r.page);
            r.options.mLanguage = CertLanguage::Interface;
            ASSERT_NE(r.Display(lc.kind, readResult(lc.kind == TEST_KIND_CAL)).mType, TEST_KIND_NONE);
            const QString local = drawnText(*r.page);
            EXPECT_NE(local, english);
            for (const QString& v : values)
                EXPECT_EQ(local.count(v), english.count(v)) << v.toStdString();
            const bool html = lc.layout == CERT_LAYOUT_HTML;
            if (!html) {
                EXPECT_GT(english.count("GA0042"), 0);
            }
            const QStringList& labels = lang.labels[int(page)];
            for (const QString& l : labels)
                EXPECT_TRUE(local.contains(l)) << l.toStdString() << "\n" << local.toStdString();
            // The verdict in that language's word, never in English beside it.
            EXPECT_TRUE(local.contains(lang.passWord)) << local.toStdString();
            // (The HTML layout's template is the user's own text, in whatever language it is written.)
            EXPECT_FALSE(!html && (local.contains("\nSerial number\n") || local.contains("Overall result")))
                << local.toStdString();
            // The PDF says the same (with the language's font where the print font has no glyphs).
            if (havePdfToText() && lc.layout == CERT_LAYOUT_DEFAULT) {
                // (A blank between Hangul words comes out of pdftotext as U+0001.)
                const QString run = pdfRun(pdf(*r.page, "lang.pdf")).remove(QChar(1));
                EXPECT_TRUE(run.contains(QString(labels.first()).remove(' '))) << run.toStdString();
                EXPECT_TRUE(run.contains("LOT-5531"));
            }
        }
    }
}

TEST_F(CertTest, FailedResultSaysSoInTheInterfaceLanguage)
{
    LanguageTexts german(5);
    r.options.mLanguage = CertLanguage::Interface;
    for (int layout : {CERT_LAYOUT_DEFAULT, CERT_LAYOUT_MANUFACTURER, CERT_LAYOUT_AUDIT}) {
        r.options.mLayout = layout;
        ASSERT_EQ(r.DisplayCalData(readXml(TEST_KIND_CAL, failedCalXml())).mType, TEST_KIND_CAL);
        const QString text = drawnText(*r.page);
        EXPECT_TRUE(text.contains("NICHT BESTANDEN")) << layout;
        EXPECT_TRUE(text.contains(LangText(LANG_CERT_CAL_FAILED))) << layout;
        // The verdict keeps the failure colour in every language.
        EXPECT_GT(failurePixels(*r.page, 0, r.page->mGeometry.mHeight), 0) << layout;
    }
    r.options.mLayout = CERT_LAYOUT_AUDIT;
    ASSERT_EQ(r.DisplayBumpData(readResult(false, "FAIL")).mType, TEST_KIND_BUMP);
    EXPECT_TRUE(drawnText(*r.page).contains("Dieser Funktionstest wurde nicht bestanden"));
}

TEST_F(CertTest, EnglishIsThePageAsBeforeWhateverTheInterfaceLanguage)
{
    copyShippedTemplate();
    // English with the English table, English with the German table, and the
    // interface language when that is English: one page, pixel for pixel.
    for (const LayoutCase& lc : kAllPages) {
        SCOPED_TRACE(testing::Message() << "kind " << int(lc.kind) << ", layout " << lc.layout);
        r.options.mLayout = lc.layout;
        const RDockTestInfo info = readResult(lc.kind == TEST_KIND_CAL);
        r.options.mLanguage = CertLanguage::English;
        ASSERT_NE(r.Display(lc.kind, info).mType, TEST_KIND_NONE);
        const QImage english = r.page->toImage();
        const QString englishText = drawnText(*r.page);
        r.options.mLanguage = CertLanguage::Interface;
        ASSERT_NE(r.Display(lc.kind, info).mType, TEST_KIND_NONE);
        EXPECT_EQ(r.page->toImage(), english);
        {
            LanguageTexts german(5);
            r.options.mLanguage = CertLanguage::English;
            ASSERT_NE(r.Display(lc.kind, info).mType, TEST_KIND_NONE);
            EXPECT_EQ(r.page->toImage(), english);
            EXPECT_EQ(drawnText(*r.page), englishText);
        }
    }
}

TEST(CertLanguage, SettingValuesAndTexts)
{
    CertLanguage l = CertLanguage::English;
    EXPECT_TRUE(ParseCertLanguage(" interface ", &l));
    EXPECT_EQ(l, CertLanguage::Interface);
    EXPECT_TRUE(ParseCertLanguage("ENGLISH", &l));
    EXPECT_EQ(l, CertLanguage::English);
    for (const char* bad : {"", "Deutsch", "Interface language", "1"})
        EXPECT_FALSE(ParseCertLanguage(bad, &l)) << bad;
    EXPECT_EQ(CertLanguageName(CertLanguage::Interface), "Interface");

    LanguageTexts french(3);
    RCertOptions o;
    EXPECT_EQ(CertText(o, 1056, "Serial number"), "Serial number");
    o.mLanguage = CertLanguage::Interface;
    EXPECT_EQ(CertText(o, 1056, "Serial number"), QString::fromUtf8("Numéro de série"));
    EXPECT_EQ(CertVerdict(o, "PASS"), QString::fromUtf8("RÉUSSI"));
    EXPECT_EQ(CertVerdict(o, "FAIL"), QString::fromUtf8("ÉCHEC"));
    // A text the table lacks stays English rather than leaving a gap on the page.
    GVLang().setText(1056, QString());
    EXPECT_EQ(CertText(o, 1056, "Serial number"), "Serial number");
}

TEST_F(PrintPageTest, CertificateLanguageComboSetsTheSettingAndRedraws)
{
    auto* combo = child<QComboBox>("PrintResCertLanguageCombo");
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), LangText(1118));
    EXPECT_EQ(combo->currentIndex(), 0);
    int chosen = 0;
    printPage->languageChosen = [&] { ++chosen; };
    selectFirst("LogListGDCalTreeView");
    EXPECT_EQ(printPage->renderer().page->mOptions.mLanguage, CertLanguage::English);
    const int renders = printPage->renderCount();
    emit combo->activated(1);
    EXPECT_TRUE(state.settings.PrintCertInterface);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(printPage->renderCount(), renders + 1);
    EXPECT_EQ(printPage->renderer().page->mOptions.mLanguage, CertLanguage::Interface);

    // Saved with the settings and read back; the page follows the stored value.
    QString error;
    ASSERT_TRUE(state.SaveSetting(&error)) << error.toStdString();
    EXPECT_TRUE(testsupport::readAll(AppState::SettingsFilePath()).contains("CertLanguage=Interface"));
    state.settings.PrintCertInterface = false;
    state.GetSetting();
    EXPECT_TRUE(state.settings.PrintCertInterface);
    state.settings.PrintCertInterface = false;
    printPage->hide();
    printPage->show();
    EXPECT_EQ(combo->currentIndex(), 0);
}
