// marvane-cli certificate: one result file, or the whole local store, to PDF/PNG/BMP.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "DockFiles.h"
#include "support/TestSupport.h"

namespace {

struct CliRun {
    int code = -1;
    QString out, err;
};

class CliCertificateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home());
        ASSERT_EQ(run({"settings", "set", "SET/LogDestination=" + store(), "USER/Ann Lee=Acme,QA"}).code, 0);
        result("GA0001", false, QDate(2024, 3, 1));
        result("GA0001", true, QDate(2024, 4, 1));
        result("GA0002", false, QDate(2024, 5, 1));
    }
    QString home() const { return tmp.path() + "/home"; }
    QString store() const { return tmp.path() + "/store/"; }
    QString result(const QString& sn, bool cal, QDate day)
    {
        docksim::TestResult t;
        t.calibration = cal;
        t.serial = sn;
        t.dockSerial = "DK01";
        t.gas = 0;
        t.when = QDateTime(day, QTime(9, 30));
        t.concentration = 25;
        t.variant = 0;
        QRandomGenerator rng(1);
        const QString name = sn + (cal ? "_CAL_" : "_BUMP_") + day.toString("yyMMdd") + "0930.XML";
        const QString file = store() + "KM1/" + sn + (cal ? "/CAL/" : "/BUMP/") + name;
        testsupport::writeAll(file, docksim::TestResultXml(t, rng));
        return file;
    }
    CliRun run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp.path());
        env.insert("HOME", home());
        env.insert("XDG_STATE_HOME", tmp.path() + "/state");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(MARVANE_BINARY_DIR);
        p.start(MARVANE_CLI, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    static QStringList pdfs(const QString& dir) { return QDir(dir).entryList({"*.pdf"}, QDir::Files, QDir::Name); }

    QTemporaryDir tmp;
};

} // namespace

TEST_F(CliCertificateTest, StoreWritesOnePdfPerResultNamedAfterIt)
{
    const QString out = tmp.path() + "/pdf";
    CliRun r = run({"certificate", "--store", "--pdf", out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("3 certificate(s) written")) << r.out.toStdString();
    EXPECT_EQ(pdfs(out), QStringList({"GA0001_BUMP_2403010930.pdf", "GA0001_CAL_2404010930.pdf",
                                      "GA0002_BUMP_2405010930.pdf"}));
    EXPECT_TRUE(testsupport::readAll(out + "/GA0001_CAL_2404010930.pdf").startsWith("%PDF"));

    const QString bumps = tmp.path() + "/bumps";
    r = run({"certificate", "--store", "--kind", "bump", "--since", "2024-04-01", "--pdf", bumps});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(pdfs(bumps), QStringList({"GA0002_BUMP_2405010930.pdf"}));
}

TEST_F(CliCertificateTest, DamagedResultsAreNamedAndTheRestWritten)
{
    testsupport::writeAll(store() + "KM1/GA0003/CAL/GA0003_CAL_2405020930.XML", "<CAL><INFO>");
    testsupport::writeAll(store() + "KM1/GA0003/BUMP/GA0003_BUMP_2405020930.XML", "<X><Y/></X>");
    const CliRun r = run({"certificate", "--store", "--pdf", tmp.path() + "/pdf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith("3 certificate(s) written"));
    EXPECT_TRUE(r.err.contains("GA0003_CAL_2405020930.XML: the file is damaged or not XML")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("GA0003_BUMP_2405020930.XML: not a test result (no INFO)"));
    EXPECT_TRUE(r.err.contains("2 result(s) could not be drawn"));
}

TEST_F(CliCertificateTest, OneFileToPngBmpOrPdf)
{
    const QString cal = store() + "KM1/GA0001/CAL/GA0001_CAL_2404010930.XML";
    CliRun r = run({"certificate", cal, "--layout", "manufacturer", "--tester", "Ann Lee", "--png",
                    tmp.path() + "/c.png"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QImage(tmp.path() + "/c.png").size(), QSize(2000, 1414));
    r = run({"certificate", cal, "--bmp", tmp.path() + "/c.bmp"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QImage(tmp.path() + "/c.bmp").size(), QSize(1414, 2000));
    r = run({"certificate", cal, "--layout", "html", "--pdf", tmp.path() + "/c.pdf"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(testsupport::readAll(tmp.path() + "/c.pdf").startsWith("%PDF"));

    r = run({"certificate", cal, "--tester", "Nobody", "--pdf", tmp.path() + "/n.pdf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("no tester named 'Nobody'"));
    r = run({"certificate", tmp.path() + "/none.XML", "--pdf", tmp.path() + "/n.pdf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("the file does not exist"));
    r = run({"certificate", cal, "--pdf", tmp.path() + "/no/such/dir/x.pdf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(QDir(tmp.path() + "/no").exists());
}

TEST_F(CliCertificateTest, AuditLayoutTracesThePageToTheFileAndTheFleet)
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString cal = store() + "KM1/GA0001/CAL/GA0001_CAL_2404010930.XML";
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(testsupport::readAll(cal), QCryptographicHash::Sha256).toHex());
    auto pageText = [&](const QString& pdf) {
        QProcess p;
        p.start("pdftotext", {"-raw", pdf, "-"});
        EXPECT_TRUE(p.waitForFinished(30000));
        return QString::fromUtf8(p.readAllStandardOutput()).remove(QRegularExpression("\\s"));
    };
    ASSERT_EQ(run({"fleet", "rebuild"}).code, 0);
    CliRun r = run({"certificate", cal, "--layout", "audit", "--tester", "Ann Lee", "--pdf", tmp.path() + "/a.pdf"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString text = pageText(tmp.path() + "/a.pdf");
    for (const QString& w : {QStringLiteral("GA0001-20240401-093000"), sha, QStringLiteral("AnnLee,Acme"),
                             QStringLiteral("Nextcalibration2024-09-28")})
        EXPECT_TRUE(text.contains(w)) << w.toStdString() << "\n" << text.toStdString();

    // The whole store in the Audit layout: each page carries its own file's hash.
    r = run({"certificate", "--store", "--layout", "audit", "--pdf", tmp.path() + "/all"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(pageText(tmp.path() + "/all/GA0001_CAL_2404010930.pdf").contains(sha));
    EXPECT_TRUE(pageText(tmp.path() + "/all/GA0002_BUMP_2405010930.pdf").contains("BumpTestCertificate"));
}

TEST_F(CliCertificateTest, UsageErrors)
{
    const QString cal = store() + "KM1/GA0001/CAL/GA0001_CAL_2404010930.XML";
    for (const QStringList& args :
         {QStringList{"certificate"}, QStringList{"certificate", cal},
          QStringList{"certificate", cal, "--pdf", "a.pdf", "--png", "a.png"},
          QStringList{"certificate", cal, "--layout", "fancy", "--pdf", "a.pdf"},
          QStringList{"certificate", "--store", "--png", "x"},
          QStringList{"certificate", "--store", "--since", "2024-13-01", "--pdf", "d"},
          QStringList{"certificate", "--store", "--kind", "event", "--pdf", "d"},
          QStringList{"certificate", cal, "--kind", "cal", "--pdf", "a.pdf"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("Try 'marvane-cli --help'")) << args.join(' ').toStdString();
    }
    EXPECT_TRUE(run({"--help"}).out.contains("certificate --store"));
}

TEST_F(CliCertificateTest, StoreNamesEveryPdfApartAndCountsTrue)
{
    // The same file name in two instruments' folders: two PDFs, and the count says so.
    const QString a = result("GA0001", true, QDate(2024, 6, 1));
    const QString twin = store() + "KM1/GA0009/CAL/" + QFileInfo(a).fileName();
    QDir().mkpath(QFileInfo(twin).path());
    ASSERT_TRUE(QFile::copy(a, twin));
    const QString out = tmp.path() + "/pdf";
    const CliRun r = run({"certificate", "--store", "--pdf", out});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("5 certificate(s) written")) << r.out.toStdString();
    const QStringList files = pdfs(out);
    EXPECT_EQ(files.size(), 5) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("GA0001_GA0001_CAL_2406010930.pdf")) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("GA0009_GA0001_CAL_2406010930.pdf")) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("GA0002_BUMP_2405010930.pdf")) << "names shared by no one stay as they were";
}

TEST_F(CliCertificateTest, KindAndDateComeFromTheResultItself)
{
    // A failed bump test whose serial holds "CAL", and a calibration without a date.
    QByteArray bump = testsupport::readAll(store() + "KM1/GA0002/BUMP/GA0002_BUMP_2405010930.XML");
    bump.replace("<OVERALLRESULT>PASS</OVERALLRESULT>", "<OVERALLRESULT>FAIL</OVERALLRESULT>");
    const QString bumpFile = tmp.path() + "/SCAL0042_BUMP_2405010930.XML";
    testsupport::writeAll(bumpFile, bump);
    CliRun r = run({"certificate", bumpFile, "--pdf", tmp.path() + "/b.pdf"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QProcess text;
    text.start("pdftotext", {tmp.path() + "/b.pdf", "-"});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString words = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(words.contains("Bump Results")) << words.toStdString();
    EXPECT_TRUE(words.contains("FAIL"));

    QByteArray cal = testsupport::readAll(store() + "KM1/GA0001/CAL/GA0001_CAL_2404010930.XML");
    const qsizetype d = cal.indexOf("<DATE>");
    cal.remove(d, cal.indexOf("</DATE>") + 7 - d);
    testsupport::writeAll(store() + "KM1/GA0001/CAL/GA0001_CAL_2404010930.XML", cal);
    r = run({"certificate", "--store", "--pdf", tmp.path() + "/pdf"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("GA0001_CAL_2404010930.XML: the result carries no date")) << r.err.toStdString();
}

TEST_F(CliCertificateTest, CertificateLanguageIsCheckedStoredAndPrinted)
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString bump = store() + "KM1/GA0002/BUMP/GA0002_BUMP_2405010930.XML";
    const QString settings = tmp.path() + "/state/marvane/TREVASK/DOCK_KM1.INI";
    auto pageText = [&](const QStringList& extra) {
        const QString pdf = tmp.path() + "/p.pdf";
        const CliRun r = run(QStringList{"certificate", bump, "--pdf", pdf} + extra);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        QProcess p;
        p.start("pdftotext", {"-raw", pdf, "-"});
        EXPECT_TRUE(p.waitForFinished(30000));
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    // German windows, English certificates: the default.
    ASSERT_EQ(run({"settings", "set", "SET/LANGUAGE=4"}).code, 0);
    QString text = pageText({});
    EXPECT_TRUE(text.contains("Bump Results") && text.contains("Serial number")) << text.toStdString();
    EXPECT_TRUE(run({"settings", "show"}).out.contains("PRINT/CertLanguage=English\n"));

    // Anything but the two values is refused, and the settings file stays as it was.
    const QByteArray before = testsupport::readAll(settings);
    ASSERT_FALSE(before.isEmpty());
    for (const char* bad : {"PRINT/CertLanguage=Deutsch", "PRINT/CertLanguage=", "PRINT/CertLanguage=1"}) {
        const CliRun r = run({"settings", "set", "ETC/PurgeDay=30", bad});
        EXPECT_EQ(r.code, 1) << bad;
        EXPECT_TRUE(r.err.contains("PRINT/CertLanguage") && r.err.contains("English or Interface"))
            << r.err.toStdString();
        EXPECT_EQ(testsupport::readAll(settings), before) << bad;
    }

    ASSERT_EQ(run({"settings", "set", "print/certlanguage=interface"}).code, 0);
    EXPECT_TRUE(run({"settings", "show"}).out.contains("PRINT/CertLanguage=Interface\n"));
    EXPECT_TRUE(testsupport::readAll(settings).contains("CertLanguage=Interface"));
    text = pageText({});
    for (const char* w : {"Funktionstest-Ergebnisse", "Seriennummer", "BESTANDEN", "GA0002", "DK01"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(w))) << w << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains("Serial number"));
    text = pageText({"--layout", "audit"});
    EXPECT_TRUE(text.contains("Zertifikatsnummer") && text.contains("GA0002-20240501-093000")) << text.toStdString();

    ASSERT_EQ(run({"settings", "set", "PRINT/CertLanguage=English"}).code, 0);
    EXPECT_TRUE(pageText({}).contains("Serial number"));
}
