// Page geometry, result words, print rectangles and the certificate template filler.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "lang/LangTable.h"
#include "logview/CertHtml.h"
#include "logview/CertPage.h"
#include "support/TestSupport.h"

namespace {

const QSizeF kA4(210, 297);
const QSizeF kLetter(215.9, 279.4);

RDockTestInfo sample()
{
    RDockTestInfo r = InitDockTestInfo(TEST_KIND_CAL, EncodeDateTime(2024, 5, 1, 10, 0, 0));
    r.mSN = "GA0001";
    r.mInstSN = "DK01";
    r.mLocation = "Plant 3";
    r.mGasInfo.mName = "CO";
    r.mGasInfo.mUnit = "ppm";
    r.mGasInfo.mDec = 0;
    r.mSpan.mConcentration = 100;
    r.mSpan.mResult = "PASS";
    r.mZero.mResult = "PASS";
    return r;
}

} // namespace

TEST(CertGeometry, LongSideIs2000AndTheOtherFollowsThePaper)
{
    struct Case {
        QSizeF paper;
        bool landscape;
        int w, h;
    } cases[] = {
        {kA4, false, 1414, 2000},
        {kA4, true, 2000, 1414},
        {kLetter, false, 1545, 2000},
        {kLetter, true, 2000, 1545},
    };
    for (const Case& c : cases) {
        for (int dpi : {300, 600, 1200}) {
            const RPageGeometry g = CertPageGeometry(RPrinterPage::FromMillimetres(c.paper, dpi), c.landscape);
            EXPECT_EQ(g.mWidth, c.w) << c.paper.width() << " " << c.landscape << " " << dpi;
            EXPECT_EQ(g.mHeight, c.h);
            EXPECT_DOUBLE_EQ(g.mUnit, c.h / 200.0);
            EXPECT_EQ(g.mLandscape, c.landscape);
        }
    }
}

TEST(CertGeometry, OneMillimetreLineIsAMillimetreOfPaperInEitherOrientation)
{
    // 2000 px over 297 mm: 6.73 px per mm, whichever way the sheet is turned.
    for (bool landscape : {false, true}) {
        EXPECT_EQ(CertPageGeometry(RPrinterPage::FromMillimetres(kA4, 600), landscape).n1mm, 7) << landscape;
        EXPECT_EQ(CertPageGeometry(RPrinterPage::FromMillimetres(kLetter, 300), landscape).n1mm, 7) << landscape;
    }
    // A tiny label printer still gets a visible line.
    EXPECT_GE(CertPageGeometry(RPrinterPage::FromMillimetres(QSizeF(5000, 9000), 72), false).n1mm, 1);
}

TEST(CertRules, BumpBoxSaysPassOnlyForPassInAnyCase)
{
    RDockTestInfo r = sample();
    for (const char* w : {"PASS", "pass", "Pass"}) {
        r.mOverAllResult = w;
        EXPECT_EQ(BumpResultWord(r), "PASS") << w;
    }
    for (const char* w : {"NONE", "FAIL", "", "PASSED", " PASS"}) {
        r.mOverAllResult = w;
        EXPECT_EQ(BumpResultWord(r), "FAIL") << w;
    }
}

TEST(CertRules, SpanCalibrationNeedsBothSteps)
{
    RDockTestInfo r = sample();
    r.mZero.mResult = "pass";
    r.mSpan.mResult = "Pass";
    EXPECT_EQ(SpanCalibrationWord(r), "PASS");
    r.mZero.mResult = "NONE";
    EXPECT_EQ(SpanCalibrationWord(r), "FAIL");
    r.mZero.mResult = "PASS";
    r.mSpan.mResult = "FAIL";
    EXPECT_EQ(SpanCalibrationWord(r), "FAIL");
}

TEST(CertPrintTarget, FourCasesOfOrientationAndHalfSize)
{
    const RPrintMargins m{5, 10, 15, 20}; // top, left, bottom, right
    // Landscape page on a whole sheet: the sheet is turned.
    RPrintTarget t = CertPrintTarget(true, false, kA4, m);
    EXPECT_TRUE(t.mPrinterLandscape);
    EXPECT_EQ(t.mRectMM, QRectF(QPointF(10, 5), QPointF(297 - 20, 210 - 15)));
    // Landscape page, half size: the top half of an upright sheet.
    t = CertPrintTarget(true, true, kA4, m);
    EXPECT_FALSE(t.mPrinterLandscape);
    EXPECT_EQ(t.mRectMM, QRectF(QPointF(10, 5), QPointF(210 - 20, 297 / 2.0 - 15)));
    // Portrait page, half size: the left half of a turned sheet.
    t = CertPrintTarget(false, true, kA4, m);
    EXPECT_TRUE(t.mPrinterLandscape);
    EXPECT_EQ(t.mRectMM, QRectF(QPointF(10, 5), QPointF(297 / 2.0 - 20, 210 - 15)));
    // Portrait page, whole sheet.
    t = CertPrintTarget(false, false, kA4, m);
    EXPECT_FALSE(t.mPrinterLandscape);
    EXPECT_EQ(t.mRectMM, QRectF(QPointF(10, 5), QPointF(210 - 20, 297 - 15)));
    // Margins larger than the sheet leave a small page, never a negative one.
    t = CertPrintTarget(false, false, kA4, RPrintMargins{100, 100, 100, 100});
    EXPECT_GT(t.mRectMM.width(), 0);
    EXPECT_GT(t.mRectMM.height(), 0);
}

TEST(CertHtml, SizeFromTheFirstCommentLineOnly)
{
    int w = 1, h = 1;
    EXPECT_TRUE(GetHtmlSize({"<html>", "<!--FORMAT=1000,700-->"}, w, h));
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 700);
    // Any case, blanks around the whole text; small values are raised to 300.
    EXPECT_TRUE(GetHtmlSize({"<!--  format=200,100 -->"}, w, h));
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 300);
    // A blank before "=" is another key: no size, nothing changed.
    w = h = 7;
    EXPECT_FALSE(GetHtmlSize({"<!-- FORMAT =1000,700 -->"}, w, h));
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 7);
    // Only the first comment line counts, even when it sets no size.
    EXPECT_FALSE(GetHtmlSize({"<!-- made by hand -->", "<!--FORMAT=1000,700-->"}, w, h));
    EXPECT_FALSE(GetHtmlSize({"<p>no comment</p>"}, w, h));
    EXPECT_FALSE(GetHtmlSize({"<!--FORMAT=abc,700-->"}, w, h));
    // Absurd sizes are capped so that no huge page is made.
    EXPECT_TRUE(GetHtmlSize({"<!--FORMAT=99999999999,2000000-->"}, w, h));
    EXPECT_EQ(w, CERT_HTML_MAX_SIDE);
    EXPECT_EQ(h, CERT_HTML_MAX_SIDE);
    EXPECT_TRUE(GetHtmlSize({"<!--FORMAT=-5,1200-->"}, w, h));
    EXPECT_EQ(w, 300);
}

TEST(CertHtml, TagsAreReplacedAtMostTwicePerLine)
{
    RDockTestInfo passed = sample();
    passed.mOverAllResult = "PASS"; // a failed result carries no "calibrated" seal
    const CertHtmlTags tags = CertHtmlTagValues(passed, RCertTester{}, CFG_DATE_YYYYMMDD);
    EXPECT_EQ(ConvHtmlLine("@SN@ @SN@ @SN@", tags), "GA0001 GA0001 @SN@");
    EXPECT_EQ(ConvHtmlLineDetail("a @X@ b @X@", "@X@", "1"), "a 1 b @X@");
    EXPECT_EQ(ConvHtmlLineDetail("no tag", "@X@", "1"), "no tag");
    // Tags are case-sensitive.
    EXPECT_EQ(ConvHtmlLine("@sn@", tags), "@sn@");
    // Values with the gas's decimals and unit; the logo paths as the template names them.
    EXPECT_EQ(ConvHtmlLine("@S1CON@|@LOGO2@|@S1STIME@", tags), "100 ppm|IMAGE\\Logo2.bmp|0");
    EXPECT_EQ(ConvHtmlLine("@DATE@", tags), "2024-05-01");
}

TEST(CertHtml, NoTesterGivesEmptyTesterTags)
{
    const CertHtmlTags none = CertHtmlTagValues(sample(), RCertTester{}, 0);
    EXPECT_EQ(ConvHtmlLine("[@TESTER@|@COMPANY@|@PART@]", none), "[||]");
    const CertHtmlTags one = CertHtmlTagValues(sample(), RCertTester{"Ann Lee", "Acme", "QA"}, 0);
    EXPECT_EQ(ConvHtmlLine("[@TESTER@|@COMPANY@|@PART@]", one), "[Ann Lee|Acme|QA]");
}

TEST(CertHtml, ValuesAreEscapedSoTheyCannotBecomeMarkup)
{
    RDockTestInfo r = sample();
    r.mLocation = "<script>alert(1)</script> & \"Hall\"";
    const CertHtmlTags tags = CertHtmlTagValues(r, RCertTester{"<b>Bob</b>", "", ""}, 0);
    const QString out = ConvHtmlLine("<td>@LOCATION@</td><td>@TESTER@</td>", tags);
    EXPECT_EQ(out, "<td>&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;Hall&quot;</td>"
                   "<td>&lt;b&gt;Bob&lt;/b&gt;</td>");
}

TEST(CertHtml, EveryTagOfTheTableIsKnown)
{
    const QStringList expected{"@INSTSN@", "@SN@", "@MODEL@", "@LOCATION@", "@DATE@", "@BOTTLE@",
                               "@EXPIRE@", "@LOGO@", "@LOGO2@", "@LOGO3@", "@TESTER@", "@COMPANY@",
                               "@PART@", "@S1GAS@", "@S1LOW@", "@S1HIGH@", "@S1STEL@", "@S1TWA@",
                               "@S1CON@", "@S1ZGAS@", "@S1ZLIMIT@", "@S1ZPRE@", "@S1ZREAD@",
                               "@S1ZRESULT@", "@S1SGAS@", "@S1SLIMIT@", "@S1SPRE@", "@S1SREAD@",
                               "@S1STIME@", "@S1SRESULT@", "@EVENTLOG@", "@UPGRADE@", "@AUDIOTEST@",
                               "@VISIBLETEST@", "@RESULT@"};
    QStringList got;
    for (const auto& [tag, value] : CertHtmlTagValues(sample(), {}, 0))
        got << tag;
    EXPECT_EQ(got, expected); // table order matters: it decides which of two tags wins
}

class CertHtmlFileTest : public ::testing::Test {
protected:
    QString folder() const { return root.path() + "/prog/"; }
    void SetUp() override { QDir().mkpath(folder()); }
    testsupport::ScopedTempRoot root;
};

TEST_F(CertHtmlFileTest, TemplateWithoutTagsIsCopiedUnchanged)
{
    const QByteArray tpl = "<!--FORMAT=1000,700-->\r\n<html><body>\r\n<p>Plain &amp; simple</p>\r\n</body></html>\r\n";
    testsupport::writeAll(folder() + "DEFAULTCAL.HTML", tpl);
    RCalHtml out;
    ASSERT_EQ(MakeCalHtmlFile(folder(), sample(), {}, 0, &out), HtmlTemplateStatus::Ok);
    EXPECT_TRUE(out.mWritten);
    EXPECT_EQ(testsupport::readAll(folder() + "CAL.HTML"), tpl);
    EXPECT_EQ(out.mWidth, 1000);
    EXPECT_EQ(out.mHeight, 700);
}

TEST_F(CertHtmlFileTest, FilledPageIsUtf8AndReplacesAnOldOne)
{
    testsupport::writeAll(folder() + "CAL.HTML", "old");
    testsupport::writeAll(folder() + "DEFAULTCAL.HTML", "<p>@LOCATION@ @SN@</p>");
    RDockTestInfo r = sample();
    r.mLocation = QString::fromUtf8("Halle Süd");
    RCalHtml out;
    ASSERT_EQ(MakeCalHtmlFile(folder(), r, {}, 0, &out), HtmlTemplateStatus::Ok);
    EXPECT_EQ(testsupport::readAll(folder() + "CAL.HTML"), QString::fromUtf8("<p>Halle Süd GA0001</p>").toUtf8());
    // No FORMAT comment: the documented default size.
    EXPECT_EQ(out.mWidth, CERT_HTML_DEFAULT_WIDTH);
    EXPECT_EQ(out.mHeight, CERT_HTML_DEFAULT_HEIGHT);
}

TEST_F(CertHtmlFileTest, MissingEmptyHugeOrBinaryTemplatesAreRefused)
{
    RCalHtml out;
    EXPECT_EQ(MakeCalHtmlFile(folder(), sample(), {}, 0, &out), HtmlTemplateStatus::Missing);
    testsupport::writeAll(folder() + "DEFAULTCAL.HTML", "  \r\n");
    EXPECT_EQ(MakeCalHtmlFile(folder(), sample(), {}, 0, &out), HtmlTemplateStatus::Unusable);
    testsupport::writeAll(folder() + "DEFAULTCAL.HTML", QByteArray("<p>\0\x01\x02</p>", 10));
    EXPECT_EQ(MakeCalHtmlFile(folder(), sample(), {}, 0, &out), HtmlTemplateStatus::Unusable);
    {
        QFile f(folder() + "DEFAULTCAL.HTML");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(CERT_HTML_MAX_FILE_SIZE + 1));
    }
    QString why;
    EXPECT_EQ(MakeCalHtmlFile(folder(), sample(), {}, 0, &out, &why), HtmlTemplateStatus::Unusable);
    EXPECT_TRUE(why.contains("16 MB"));
    EXPECT_FALSE(QFile::exists(folder() + "CAL.HTML"));
}

TEST(CertHtml, ResourcesResolveLocallyAndNeverRemotely)
{
    const QString prog = "/opt/marvane/";
    EXPECT_EQ(CertResourcePath(prog, "IMAGE\\Logo2.bmp"), "/opt/marvane/IMAGE/Logo2.bmp");
    EXPECT_EQ(CertResourcePath(prog, "IMAGE%5CLogo3.bmp"), "/opt/marvane/IMAGE/Logo3.bmp");
    EXPECT_EQ(CertResourcePath(prog, "file:///tmp/x.png"), "/tmp/x.png");
    for (const char* remote : {"http://example.com/logo.png", "https://10.0.0.1/a.css", "ftp://h/x",
                               "//server/share/logo.bmp", "\\\\server\\share\\logo.bmp",
                               "file://server/share/x.png", "HTTP://EXAMPLE.COM/x"})
        EXPECT_TRUE(CertResourcePath(prog, remote).isEmpty()) << remote;
}

TEST(CertHtml, ShippedTemplateStartsWithItsSizeAndUsesEveryTag)
{
    QStringList lines;
    ASSERT_EQ(ReadHtmlTemplate(QStringLiteral(MARVANE_SOURCE_DIR "/data/DEFAULTCAL.HTML"), lines),
              HtmlTemplateStatus::Ok);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().contains("FORMAT="));
    int w = 0, h = 0;
    ASSERT_TRUE(GetHtmlSize(lines, w, h));
    EXPECT_LT(w, h); // a portrait certificate
    const QString text = lines.join('\n');
    for (const auto& [tag, value] : CertHtmlTagValues(sample(), {}, 0))
        EXPECT_TRUE(text.contains(tag)) << tag.toStdString();
    // Nothing in it reaches outside the program folder.
    EXPECT_FALSE(text.contains("http:", Qt::CaseInsensitive));
    EXPECT_FALSE(text.contains("https:", Qt::CaseInsensitive));
}
