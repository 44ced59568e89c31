#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QXmlStreamReader>

#include <utility>

#include "Fixture.h"
#include "FixtureCommand.h"
#include "support/TestSupport.h"

using namespace docksim;

namespace {

const QDateTime kRef(QDate(2025, 6, 15), QTime(12, 0));

// Bit-by-bit references, independent of the table-driven routines.
quint32 cksumBitwise(const QByteArray& data)
{
    quint32 crc = 0;
    for (char ch : data) {
        crc ^= quint32(uchar(ch)) << 24;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return ~crc;
}

quint16 xmodemBitwise(const QByteArray& data)
{
    quint16 crc = 0;
    for (char ch : data) {
        crc ^= quint16(uchar(ch) << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

// What a dock image check accepts: exact size, instrument type byte, body checksum.
bool imageValid(ImageKind kind, const QByteArray& img)
{
    const auto* p = reinterpret_cast<const uchar*>(img.constData());
    if (kind == ImageKind::Dock) {
        if (img.size() != 262272)
            return false;
        const quint32 stored = p[24] | p[25] << 8 | p[26] << 16 | quint32(p[27]) << 24;
        return stored == cksumBitwise(img.mid(128));
    }
    if (img.size() != 32768 || p[2] != 1)
        return false;
    return quint16(p[12] << 8 | p[13]) == xmodemBitwise(img.mid(128));
}

int versionByte(ImageKind kind, const QByteArray& img)
{
    const int at = kind == ImageKind::Dock ? 16 : 3;
    return img.size() > at ? uchar(img[at]) : -1;
}

QStringList filesBelow(const QString& root, const QString& sub = {}, const QStringList& patterns = {},
                       bool recursive = true)
{
    QStringList out;
    QDirIterator it(root + QLatin1Char('/') + sub, patterns, QDir::Files | QDir::Hidden,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

QStringList dirsBelow(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// The naming rules, read back from a written name.
LogKind kindByName(const QString& path)
{
    const QString field2 = QFileInfo(path).completeBaseName().section(QLatin1Char('_'), 1, 1).toUpper();
    if (path.startsWith(QLatin1String("LOG/DOCK/")))
        return field2 == QLatin1String("TESTLOG") ? LogKind::DockLog : LogKind::None;
    if (path.startsWith(QLatin1String("LOG/EVENT/")))
        return field2 == QLatin1String("EVENT") ? LogKind::Event : LogKind::None;
    if (field2 == QLatin1String("BUMP"))
        return LogKind::Bump;
    return field2 == QLatin1String("CAL") ? LogKind::Cal : LogKind::None;
}

QDateTime dateByName(const QString& path, LogKind kind)
{
    const QStringList f = QFileInfo(path).completeBaseName().split(QLatin1Char('_'));
    if (kind == LogKind::DockLog) {
        if (f.size() < 4)
            return {};
        int y = f[2].toInt();
        const int m = f[3].toInt();
        if (y <= 20 || m < 1 || m > 12)
            return {};
        return QDateTime(QDate(y <= 1000 ? 2000 + y : y, m, 1), QTime(0, 0));
    }
    if (kind == LogKind::None || f.size() < 3 || f[2].size() != 10 || f[2].left(2).toInt() <= 20)
        return {};
    const QDateTime t = QDateTime::fromString(QStringLiteral("20") + f[2], QStringLiteral("yyyyMMddHHmm"));
    return t.isValid() ? t : QDateTime();
}

QString overallResult(const QByteArray& xml)
{
    QXmlStreamReader r(xml);
    QString result;
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement
            && r.name().compare(QLatin1String("OVERALLRESULT"), Qt::CaseInsensitive) == 0)
            result = r.readElementText();
    }
    return r.hasError() ? QStringLiteral("<malformed>") : result;
}

class FixtureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_manifest = new FixtureManifest(WriteFixture(s_dir->filePath(QStringLiteral("dock")), FixtureSize::Small, 7, kRef));
    }
    static void TearDownTestSuite()
    {
        delete s_manifest;
        delete s_dir;
    }
    static QString root() { return s_manifest->root; }
    static const FixtureManifest& m() { return *s_manifest; }

    static QTemporaryDir* s_dir;
    static FixtureManifest* s_manifest;
};
QTemporaryDir* FixtureTest::s_dir = nullptr;
FixtureManifest* FixtureTest::s_manifest = nullptr;

} // namespace

TEST_F(FixtureTest, TreeHasEveryPathOfTheDockLayout)
{
    ASSERT_TRUE(m().ok()) << m().error.toStdString();
    for (const char* f : {"CONFIG/DOCK/DOCK.CFG", "CONFIG/DOCKINFORM.CFG", "CONFIG/GD/H2S.CFG", "CONFIG/GD/CO.CFG",
                          "CONFIG/GD/O2.CFG", "CONFIG/GD/SO2.CFG"})
        EXPECT_TRUE(QFileInfo(root() + "/" + f).isFile()) << f;
    for (const char* d : {"FW/DOCK", "FW/GD", "LOG/DOCK", "LOG/EVENT", "LOG/TEST"})
        EXPECT_FALSE(filesBelow(root(), d).isEmpty()) << d;

    const QByteArray inform = testsupport::readAll(root() + "/CONFIG/DOCKINFORM.CFG");
    EXPECT_TRUE(inform.contains("\r\nSerial Number = " + m().dockSerial.toLatin1() + "\r\n"));
    EXPECT_TRUE(inform.contains("\r\nFw Version = " + m().dockVersion.toLatin1() + "\r\n"));

    // Instrument files in the program's own form: CR LF, "# " for options not set.
    const QByteArray o2 = testsupport::readAll(root() + "/CONFIG/GD/O2.CFG");
    EXPECT_TRUE(o2.startsWith("[CONFIG]\r\n# UnitFlag=0\r\n# UserID=\r\n# SelfTestInterval=20\r\n\r\n[GAS]\r\n"));
    EXPECT_TRUE(o2.endsWith("# AlarmHigh=23.5\r\n# AlarmLow=19.5\r\n# CalInterval=0\r\n# BumpInterval=0\r\n"));
    EXPECT_TRUE(testsupport::readAll(root() + "/CONFIG/GD/H2S.CFG").contains("\r\nCalInterval=15552000\r\n"));
}

TEST_F(FixtureTest, SameSeedSameBytesOtherSeedOtherTree)
{
    QTemporaryDir again;
    const FixtureManifest m2 = WriteFixture(again.path(), FixtureSize::Small, 7, kRef);
    ASSERT_TRUE(m2.ok());
    const QStringList files = filesBelow(root());
    ASSERT_EQ(files, filesBelow(again.path()));
    for (const QString& f : files)
        ASSERT_EQ(testsupport::readAll(root() + "/" + f), testsupport::readAll(again.path() + "/" + f)) << f.toStdString();
    EXPECT_EQ(dirsBelow(root()), dirsBelow(again.path()));

    const FixtureTree other = BuildFixture(FixtureSize::Small, 8, kRef);
    EXPECT_NE(other.manifest.dockSerial, m().dockSerial);
    EXPECT_NE(other.manifest.files, m().files);
}

TEST_F(FixtureTest, ImagesPassOrFailAnIndependentCheck)
{
    ASSERT_EQ(m().images.size(), 18);
    for (const ManifestImage& im : m().images) {
        const QByteArray data = testsupport::readAll(root() + "/" + im.path);
        EXPECT_EQ(imageValid(im.kind, data), im.valid) << im.path.toStdString();
        EXPECT_EQ(versionByte(im.kind, data), im.version) << im.path.toStdString();
    }

    // The newest ".IMG" (any case) that passes, found from the disk alone.
    for (auto [dir, kind] : {std::pair{QStringLiteral("FW/DOCK"), ImageKind::Dock},
                             std::pair{QStringLiteral("FW/GD"), ImageKind::Instrument}}) {
        QString best;
        int bestVersion = 0;
        int invalid = 0;
        for (const QString& f : filesBelow(root(), dir, {}, false)) {
            const QByteArray data = testsupport::readAll(root() + "/" + f);
            if (!imageValid(kind, data)) {
                ++invalid;
                continue;
            }
            if (f.endsWith(".IMG", Qt::CaseInsensitive) && versionByte(kind, data) > bestVersion) {
                best = f;
                bestVersion = versionByte(kind, data);
            }
        }
        EXPECT_GE(invalid, 3) << dir.toStdString();
        EXPECT_EQ(best, kind == ImageKind::Dock ? m().newestDockImage : m().newestGdImage);
        EXPECT_EQ(bestVersion, kind == ImageKind::Dock ? m().newestDockVersion : m().newestGdVersion);
    }
    EXPECT_EQ(m().newestDockVersion, 21);
    EXPECT_EQ(m().newestGdVersion, 15);
}

TEST_F(FixtureTest, DockCfgKeepsItsBytesAndItsKeysResolve)
{
    const QByteArray cfg = testsupport::readAll(root() + "/CONFIG/DOCK/DOCK.CFG");
    ASSERT_FALSE(cfg.isEmpty());
    EXPECT_TRUE(cfg.endsWith("\r\n"));
    EXPECT_EQ(cfg.count('\n'), cfg.count("\r\n")) << "every line ends with CR LF";
    EXPECT_TRUE(cfg.contains('\xE9')) << "Windows-1252 e acute";
    EXPECT_FALSE(cfg.contains("\xC3\xA9")) << "not UTF-8";
    for (const char* marker : {"\r\n#", "\r\n;", "\r\n//", "\r\n\r\n", "[TEST]", "[GAS INFORMATIONS]", "[OPTIONS]",
                               "[Ethernet]"})
        EXPECT_TRUE(cfg.contains(marker)) << marker;

    // A key's value comes from the first active line that contains it (comment lines never count).
    QList<QByteArray> active;
    for (const QByteArray& raw : cfg.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.contains('=') && !line.contains('#') && !line.contains(';') && !line.contains("//"))
            active << line;
    }
    auto value = [&](const QByteArray& key) -> QByteArray {
        for (const QByteArray& l : active)
            if (l.toLower().contains(key.toLower()))
                return l.mid(l.indexOf('=') + 1).trimmed();
        return "<missing>";
    };
    ASSERT_EQ(m().concentrations.size(), 4);
    for (const ManifestGas& g : m().concentrations)
        EXPECT_EQ(value(g.gas.toLatin1() + " Gas Concentration"), g.text.toLatin1()) << g.gas.toStdString();
    EXPECT_EQ(QString::fromLatin1(value("location")), m().location);
    EXPECT_EQ(value("IP"), "127.0.0.1");
    for (const char* key : {"Buzzer test", "LED test", "Upgrade", "Save event log", "Change config", "Calibration",
                            "Bump test", "Allow Turn Off", "CAL after Bump fail", "Gas Lot Number", "Gas Expiry",
                            "AUTO Off Time", "Bump Time", "Bump Pass Limit", "Subnet Mask", "Gateway", "UDP Port"})
        EXPECT_NE(value(key), "<missing>") << key;

    // The commented-out H2S line comes first and carries another value.
    const qsizetype stale = cfg.indexOf("#H2S Gas Concentration=");
    const qsizetype live = cfg.indexOf("\r\nH2S Gas Concentration=");
    ASSERT_GE(stale, 0);
    EXPECT_LT(stale, live);
    const QByteArray staleLine = cfg.mid(stale, cfg.indexOf('\r', stale) - stale);
    EXPECT_NE(staleLine.mid(staleLine.indexOf('=') + 1), m().concentrations[0].text.toLatin1());
}

TEST_F(FixtureTest, ManifestAgreesWithTheDisk)
{
    EXPECT_EQ(filesBelow(root()), m().files);
    EXPECT_EQ(dirsBelow(root()), m().dirs);

    // What the three log listings pick up is exactly the manifest's log list.
    QStringList listed = filesBelow(root(), "LOG/DOCK", {"*.CSV"}, false)
                         + filesBelow(root(), "LOG/EVENT", {"*.CSV"})
                         + filesBelow(root(), "LOG/TEST", {"*.XML"});
    listed.sort();
    QStringList logs;
    for (const ManifestLog& l : m().logs)
        logs << l.path;
    logs.sort();
    EXPECT_EQ(listed, logs);
    EXPECT_GE(m().logs.size(), 35);
    EXPECT_LE(m().logs.size(), 60);

    QSet<LogKind> kinds;
    int old = 0;
    int recent = 0;
    int undated = 0;
    int lowerCaseWords = 0;
    int fails = 0;
    for (const ManifestLog& l : m().logs) {
        SCOPED_TRACE(l.path.toStdString());
        const QFileInfo fi(root() + "/" + l.path);
        EXPECT_EQ(fi.size(), l.size);
        EXPECT_EQ(l.kind, kindByName(l.path));
        EXPECT_EQ(l.alias, fi.completeBaseName().section('_', 0, 0));
        EXPECT_EQ(l.nameDate, dateByName(l.path, l.kind));
        EXPECT_EQ(fi.lastModified().toSecsSinceEpoch(), l.fileTime.toSecsSinceEpoch());
        kinds.insert(l.kind);
        if (l.nameDate.isValid())
            (l.nameDate.daysTo(kRef) > 90 ? old : recent) += 1;
        else if (l.kind != LogKind::None)
            ++undated;
        if (l.kind == LogKind::Bump || l.kind == LogKind::Cal) {
            const QByteArray xml = testsupport::readAll(fi.filePath());
            const QString word = overallResult(xml);
            EXPECT_EQ(word.toUpper(), l.result);
            lowerCaseWords += word == word.toLower();
            fails += l.result == "FAIL";
        }
    }
    EXPECT_EQ(kinds.size(), 5);
    EXPECT_GE(old, 5);
    EXPECT_GE(recent, 5);
    EXPECT_GE(undated, 4);
    EXPECT_GE(lowerCaseWords, 1);
    EXPECT_GE(fails, 1);

    // Leaf-empty folders only: a folder that holds an empty folder is not one of them.
    QStringList empty;
    for (const QString& d : dirsBelow(root()))
        if ((d.startsWith("LOG/EVENT/") || d.startsWith("LOG/TEST/"))
            && QDir(root() + "/" + d).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty())
            empty << d;
    EXPECT_EQ(empty, m().emptyDirs);
    EXPECT_GE(empty.size(), 2);
    for (const QString& d : empty)
        EXPECT_FALSE(empty.contains(d.section('/', 0, -2))) << d.toStdString();
    EXPECT_TRUE(QDir(root() + "/LOG/DOCK/ARCHIVE").isEmpty()); // empty, but outside the purged trees
}

TEST(FixtureLarge, HoldsOverTwoThousandLogsInAFewMegabytes)
{
    const FixtureTree tree = BuildFixture(FixtureSize::Large, 3, kRef);
    const FixtureManifest& m = tree.manifest;
    EXPECT_GE(m.logs.size(), 2000);
    EXPECT_GE(m.instruments.size(), 40);
    EXPECT_GT(m.totalBytes, 2'000'000);
    EXPECT_LT(m.totalBytes, 20'000'000);
    QSet<QString> unique;
    for (const QString& f : m.files)
        unique.insert(f.toUpper()); // the dock's drive ignores case
    EXPECT_EQ(unique.size(), m.files.size());
}

TEST(FixtureCommand, RefusesANonEmptyFolderUnlessForced)
{
    QTemporaryDir tmp;
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream err(&errText);
    const QString dir = tmp.filePath("dock");

    EXPECT_EQ(RunFixtureCommand({dir, "--size", "huge"}, out, err), 2);
    EXPECT_EQ(RunFixtureCommand({dir, "--seed", "-1"}, out, err), 2);
    EXPECT_EQ(RunFixtureCommand({"--seed", "3"}, out, err), 2);
    EXPECT_EQ(RunFixtureCommand({dir, "other"}, out, err), 2);
    EXPECT_FALSE(QFileInfo::exists(dir));

    testsupport::writeAll(dir + "/keep.txt", "mine");
    errText.clear();
    EXPECT_EQ(RunFixtureCommand({dir}, out, err), 1);
    EXPECT_TRUE(errText.contains("not empty"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/CONFIG"));

    EXPECT_EQ(RunFixtureCommand({dir, "--force", "--seed=5", "--now", "2025-06-15T12:00"}, out, err), 0);
    EXPECT_TRUE(QFileInfo::exists(dir + "/CONFIG/DOCKINFORM.CFG"));
    EXPECT_EQ(testsupport::readAll(dir + "/keep.txt"), "mine");
    EXPECT_TRUE(outText.contains(BuildFixture(FixtureSize::Small, 5, kRef).manifest.dockSerial));

    testsupport::writeAll(tmp.filePath("plain"), "x");
    EXPECT_EQ(RunFixtureCommand({tmp.filePath("plain")}, out, err), 1);
}
