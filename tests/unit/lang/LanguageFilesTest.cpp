// "Make Language File", the shipped language data and the caption table.
#include "lang/CaptionTable.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QString kShipped = QStringLiteral(MARVANE_SOURCE_DIR "/data/Language/");
// The program folder of the build, where the build wrote the six language files.
const QString kProgram = QStringLiteral(MARVANE_BINARY_DIR "/");
const QString kBuilt = kProgram + QStringLiteral("Language/");

// Korean texts that are product tokens, the same in every language.
const QSet<QString> kKoreanTokens = {"24", "404", "421", "428", "515", "L6"}; // IP, SN, SN, RTC, TCP, 한국어

QByteArray builtFile(int n) { return readAll(kBuilt + LAN_NAME[size_t(n)] + ".DAT"); }

QString decodedBuiltFile(int n)
{
    const QByteArray bytes = builtFile(n);
    return n == LANG_KOR_POS ? platform::DecodeLegacy(bytes, true) : QString::fromUtf8(bytes);
}

LangTable builtTable(int n)
{
    LangTable t;
    t.parseLanguageText(decodedBuiltFile(n));
    return t;
}

// Keys of a language file in file order.
QStringList keysOf(const QString& content)
{
    QStringList keys;
    for (const QString& line : content.split("\r\n", Qt::SkipEmptyParts))
        keys << line.section('=', 0, 0);
    return keys;
}

QStringList crlfLines(const QByteArray& bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class Builder : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot root;
    QString program = root.path() + "/prog/";

    QString dat(const QString& name, const QString& dir = "Language") const
    {
        return program + dir + "/" + name + ".DAT";
    }
    void copyShipped(const QString& file, const QString& dir = "Language")
    {
        writeAll(program + dir + "/" + file, readAll(kShipped + file));
    }
};

} // namespace

TEST_F(Builder, TheBuildsLanguageFilesAreWhatTheBuilderWritesFromTheSources)
{
    // The tool names the folder "LANGUAGE"; it is the same folder as "Language".
    copyShipped("LAN_FOR_UTF8.txt", "LANGUAGE");
    copyShipped("LAN_KOR_ANSI.txt", "LANGUAGE");
    ASSERT_EQ(LangTable::buildLanguageFiles(program), "");

    for (int n = 1; n <= LANG_MAX; ++n) {
        const QByteArray built = builtFile(n);
        ASSERT_FALSE(built.isEmpty()) << "the build writes " << LAN_NAME[size_t(n)].toStdString();
        EXPECT_TRUE(readAll(dat(LAN_NAME[size_t(n)], "LANGUAGE")) == built)
            << LAN_NAME[size_t(n)].toStdString() << " is stale: rebuild";
    }

    // English is each source line's key and English column, CR LF.
    QByteArray english;
    for (const QString& line : crlfLines(readAll(kShipped + "LAN_FOR_UTF8.txt")))
        english += (line.section('\t', 0, 0) + '=' + line.section('\t', 1, 1)).toUtf8() + "\r\n";
    EXPECT_TRUE(readAll(dat("ENGLISH", "LANGUAGE")) == english);

    // Each built file is a usable language of the list.
    QDir().mkpath(root.transferFolder());
    LangTable t;
    t.loadList(root.transferFolder(), program);
    ASSERT_EQ(t.GVLangList.size(), LANG_MAX);
    t.GVLangSelect = 3; // SPANISH
    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.languageName(4), QString::fromUtf8("Español"));
    EXPECT_EQ(t.text(502), "&Cancelar");

    t.GVLangSelect = 5; // KOREAN, code 82
    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.languageName(6), QString::fromUtf8("한국어"));
    EXPECT_EQ(t.text(503), QString::fromUtf8("읽기(&R)"));
}

TEST_F(Builder, MissingSourceLeavesNoFileOfThatSource)
{
    for (int n = 1; n <= LANG_MAX; ++n)
        writeAll(dat(LAN_NAME[size_t(n)]), "1=stale\r\n");
    writeAll(program + "Language/korean.dat", "1=stale\r\n"); // another spelling of the same file
    writeAll(program + "Language/LAN_FOR_UTF8.txt", "1\tOne\tUno\tUn\tUno\tEins\r\n");

    ASSERT_EQ(LangTable::buildLanguageFiles(program), "");
    EXPECT_EQ(readAll(dat("ENGLISH")), "1=One\r\n");
    EXPECT_EQ(readAll(dat("GERMAN")), "1=Eins\r\n");
    EXPECT_FALSE(QFile::exists(dat("KOREAN")));
    EXPECT_FALSE(QFile::exists(program + "Language/korean.dat"));

    QFile::remove(program + "Language/LAN_FOR_UTF8.txt");
    writeAll(program + "Language/LAN_KOR_ANSI.txt", "7\tSeven\r\n");
    ASSERT_EQ(LangTable::buildLanguageFiles(program), "");
    EXPECT_EQ(readAll(dat("KOREAN")), "7=Seven\r\n");
    for (int n = 1; n <= LANG_MAX_FOR; ++n)
        EXPECT_FALSE(QFile::exists(dat(LAN_NAME[size_t(n)]))) << n;

    // With neither source the old files still go, and the operator is told why nothing was built.
    QFile::remove(program + "Language/LAN_KOR_ANSI.txt");
    const QString err = LangTable::buildLanguageFiles(program);
    EXPECT_TRUE(err.contains("LAN_FOR_UTF8.txt")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(dat("KOREAN")));
}

TEST_F(Builder, SourceQuirks)
{
    // A byte-order mark, a short row, an empty line and a row with surplus columns.
    writeAll(program + "Language/LAN_FOR_UTF8.txt",
             "\xEF\xBB\xBF" "1\tOne\tUno\tUn\tUno\tEins\n"
             "2\tTwo only\n"
             "\n"
             "3\tE\tI\tF\tS\tG\tX\tY\tZ\n");
    ASSERT_EQ(LangTable::buildLanguageFiles(program), "");
    EXPECT_EQ(readAll(dat("ENGLISH")), "1=One\r\n2=Two only\r\n3=E\r\n");
    EXPECT_EQ(readAll(dat("ITALIAN")), "1=Uno\r\n2=\r\n3=I\r\n");
}

TEST_F(Builder, UnwritableTargetIsReportedAndLeavesNoFile)
{
    writeAll(program + "Language/LAN_FOR_UTF8.txt", "1\tOne\tUno\tUn\tUno\tEins\r\n");
    QDir().mkpath(dat("FRENCH")); // a folder where the file should go
    const QString err = LangTable::buildLanguageFiles(program);
    EXPECT_TRUE(err.contains("FRENCH.DAT")) << err.toStdString();
    EXPECT_EQ(readAll(dat("ENGLISH")), "1=One\r\n");
    const QStringList leftovers =
        QDir(program + "Language").entryList(QDir::Files | QDir::Hidden, QDir::Name);
    EXPECT_EQ(leftovers, (QStringList{"ENGLISH.DAT", "GERMAN.DAT", "ITALIAN.DAT", "LAN_FOR_UTF8.txt",
                                      "SPANISH.DAT"}));
}

// ---- shipped data ----------------------------------------------------------

TEST(ShippedLanguage, EveryLineOfEveryFileIsWellFormed)
{
    static const QRegularExpression form(R"(^([0-9]+|L[1-6])=(\S(.*\S)?)$)");
    for (int n = 1; n <= LANG_MAX; ++n) {
        SCOPED_TRACE(LAN_NAME[size_t(n)].toStdString());
        const QByteArray bytes = builtFile(n);
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
        EXPECT_TRUE(bytes.endsWith("\r\n"));
        EXPECT_EQ(bytes.count('\n'), bytes.count("\r\n"));
        const QString content = decodedBuiltFile(n);
        if (n == LANG_KOR_POS) {
            EXPECT_FALSE(content.contains(QChar(0xFFFD))) << "not valid CP949";
            EXPECT_EQ(platform::EncodeLegacy(content, true), bytes);
        } else {
            EXPECT_EQ(content.toUtf8(), bytes) << "not valid UTF-8";
        }

        QSet<QString> keys;
        for (const QString& line : content.split("\r\n", Qt::SkipEmptyParts)) {
            const auto m = form.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            EXPECT_FALSE(m.captured(2).contains('=')) << line.toStdString();
            EXPECT_FALSE(m.captured(2).contains('\t')) << line.toStdString();
            const QString key = m.captured(1);
            if (!key.startsWith('L')) {
                const int k = key.toInt();
                EXPECT_TRUE(k >= 1 && k <= LANG_DATA_SIZE && QString::number(k) == key) << line.toStdString();
            }
            EXPECT_FALSE(keys.contains(key)) << "duplicate " << key.toStdString();
            keys.insert(key);
        }
        for (int k = 1; k <= LANG_MAX; ++k)
            EXPECT_TRUE(keys.contains(QString("L%1").arg(k))) << k;
    }
}

TEST(ShippedLanguage, EveryFileHasEveryKeyOfEnglish)
{
    const QStringList english = keysOf(decodedBuiltFile(1));
    ASSERT_GT(english.size(), 300);
    const LangTable en = builtTable(1);
    for (int n = 2; n <= LANG_MAX; ++n) {
        SCOPED_TRACE(LAN_NAME[size_t(n)].toStdString());
        EXPECT_EQ(keysOf(decodedBuiltFile(n)), english);
        const LangTable t = builtTable(n);
        for (const QString& key : english) {
            const QString text = key.startsWith('L') ? t.languageName(key.mid(1).toInt()) : t.text(key.toInt());
            EXPECT_FALSE(text.isEmpty()) << key.toStdString();
        }
        // A phrase left in English is an untranslated entry; only single words
        // ("Firmware", "Configuration", "IP") may be spelt alike.
        for (const QString& key : english) {
            if (key.startsWith('L'))
                continue;
            const QString e = en.text(key.toInt());
            if (e.count(' ') >= 2) {
                EXPECT_NE(t.text(key.toInt()), e) << key.toStdString();
            }
        }
    }
}

TEST(ShippedLanguage, KoreanCarriesNoEnglish)
{
    const LangTable en = builtTable(1);
    const LangTable ko = builtTable(LANG_KOR_POS);
    static const QRegularExpression hangul(QStringLiteral("[\\x{AC00}-\\x{D7A3}]"));
    for (const QString& key : keysOf(decodedBuiltFile(1))) {
        const bool name = key.startsWith('L');
        const QString e = name ? en.languageName(key.mid(1).toInt()) : en.text(key.toInt());
        const QString k = name ? ko.languageName(key.mid(1).toInt()) : ko.text(key.toInt());
        if (kKoreanTokens.contains(key)) {
            EXPECT_EQ(k, e) << key.toStdString();
            continue;
        }
        EXPECT_NE(k, e) << key.toStdString();
        EXPECT_TRUE(k.contains(hangul)) << key.toStdString() << ": " << k.toStdString();
    }
}

TEST(ShippedLanguage, CaptionsAndUsedTextsAreAllPresent)
{
    QList<int> used;
    for (const CaptionEntry& e : InitLangCaptions())
        used << QList<int>(e.texts.begin(), e.texts.end());
    // Texts the operations use beside the captions: messages, history lines and link errors.
    used << QList<int>{69, 70, 71, 72, 73, 74, 75, 76, 117, 118, 119, 120, 426, 427, 428, 429, 430, 671, 672};
    for (int n = 121; n <= 143; ++n)
        used << n;
    for (int n : {602, 603, 604, 605, 606, 607, 608, 611, 612, 613, 621, 622})
        used << n;
    for (int n = 631; n <= 637; ++n)
        used << n;
    for (int n : {541, 542, 543, 544, 545, 546})
        used << n;
    for (int n = 550; n <= 561; ++n)
        used << n;
    for (int n = 701; n <= 779; ++n) {
        if (n != 715 && n != 717)
            used << n;
    }
    for (int lang = 1; lang <= LANG_MAX; ++lang) {
        const LangTable t = builtTable(lang);
        for (int n : used)
            EXPECT_FALSE(t.text(n).isEmpty()) << LAN_NAME[size_t(lang)].toStdString() << " " << n;
    }
    const LangTable en = builtTable(1);
    // Every language is listed in its own name, so a wrong choice can be undone.
    const QStringList own = {"English", "Italiano", QString::fromUtf8("Français"), QString::fromUtf8("Español"),
                             "Deutsch", QString::fromUtf8("한국어")};
    for (int lang = 1; lang <= LANG_MAX; ++lang)
        EXPECT_EQ(builtTable(lang).languageName(lang), own[lang - 1]);
    EXPECT_EQ(en.languageName(6), QString::fromUtf8("한국어"));
}

TEST(ShippedLanguage, ReadmeTableMatchesEnglish)
{
    const LangTable t = builtTable(1);
    static const QRegularExpression row(R"(^\| ([0-9]+) \| (.*) \|$)");
    int rows = 0;
    for (const QString& line : QString::fromUtf8(readAll(kShipped + "README.md")).split('\n')) {
        const auto m = row.match(line);
        if (!m.hasMatch())
            continue;
        ++rows;
        EXPECT_EQ(t.text(m.captured(1).toInt()), m.captured(2)) << line.toStdString();
    }
    static const QRegularExpression numberedLine(R"(^[0-9]+=)", QRegularExpression::MultilineOption);
    EXPECT_EQ(rows, decodedBuiltFile(1).count(numberedLine));
}

TEST(ShippedLanguage, SourcesAreConsistent)
{
    const QStringList utf8 = crlfLines(readAll(kShipped + "LAN_FOR_UTF8.txt"));
    const QByteArray korBytes = readAll(kShipped + "LAN_KOR_ANSI.txt");
    const QString kor = platform::DecodeLegacy(korBytes, true);
    ASSERT_FALSE(kor.contains(QChar(0xFFFD))) << "not valid CP949";
    EXPECT_EQ(platform::EncodeLegacy(kor, true), korBytes);
    const QStringList korLines = kor.split("\r\n", Qt::SkipEmptyParts);

    ASSERT_EQ(utf8.size(), korLines.size());
    for (int i = 0; i < utf8.size(); ++i) {
        const QStringList cols = utf8[i].split('\t');
        ASSERT_EQ(cols.size(), 6) << utf8[i].toStdString();
        for (const QString& c : cols)
            EXPECT_TRUE(!c.isEmpty() && c == c.trimmed() && !c.contains('=')) << utf8[i].toStdString();
        const QStringList k = korLines[i].split('\t');
        ASSERT_EQ(k.size(), 2) << korLines[i].toStdString();
        EXPECT_EQ(k[0], cols[0]);
        EXPECT_TRUE(!k[1].isEmpty() && k[1] == k[1].trimmed() && !k[1].contains('='));
    }
}

TEST(ShippedLanguage, AllSixAreListedByDefault)
{
    testsupport::ScopedTempRoot root;
    QDir().mkpath(root.transferFolder());
    LangTable t;
    t.loadList(root.transferFolder(), kProgram);
    ASSERT_EQ(t.GVLangList.size(), LANG_MAX);
    for (int n = 1; n <= LANG_MAX; ++n) {
        EXPECT_EQ(t.GVLangList[n - 1].mFile, LAN_NAME[size_t(n)]);
        EXPECT_EQ(t.GVLangList[n - 1].mIndex, n);
    }
    EXPECT_EQ(t.GVLangList[0].mFont, "Arial");
    EXPECT_EQ(t.GVLangList[5].mCode, LANG_CODE_ANSI);
    EXPECT_TRUE(t.loadSelected(kProgram));
    EXPECT_EQ(t.text(503), "&Read");
}

TEST(CaptionTable, ShapesOfTheEntries)
{
    const QVector<CaptionEntry>& table = InitLangCaptions();
    for (const CaptionEntry& e : table) {
        EXPECT_EQ(e.texts.size() > 1, e.kind == CaptionEntry::ComboItems) << e.component;
        EXPECT_EQ(e.col >= 0 && e.row >= 0, e.kind == CaptionEntry::GridCell) << e.component;
    }
    auto find = [&](const char* c, int col = -1, int row = -1) -> QVector<int> {
        for (const CaptionEntry& e : table)
            if (qstrcmp(e.component, c) == 0 && e.col == col && e.row == row)
                return e.texts;
        return {};
    };
    EXPECT_EQ(find("OpReadBtn"), QVector<int>{503});
    EXPECT_EQ(find("GDOptGrid", 0, 9), QVector<int>{79});
    EXPECT_EQ(find("LogListGDEventGrid", 4, 0), QVector<int>{116});
    EXPECT_EQ(find("ConfigSetAlertEventCombo"), (QVector<int>{326, 325}));
    EXPECT_EQ(QString(table.first().component), "OpAutoBtn");
    EXPECT_EQ(QString(table.last().component), "PCSimTestCalBtn");
}
