// The language list, the language files and their loading.
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using testsupport::readAll;
using testsupport::writeAll;

namespace {

// A private transfer folder and program folder for one test.
class LangFolders : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot root;
    QString transfer = root.transferFolder();
    QString program = root.path() + "/prog/";

    void SetUp() override
    {
        QDir().mkpath(transfer);
        QDir().mkpath(program);
    }

    void addLanguageFile(const QString& name, const QByteArray& content = "1=x\r\n",
                         const QString& dir = "Language")
    {
        writeAll(program + dir + "/" + name + ".DAT", content);
    }

    void writeList(const QByteArray& content) { writeAll(LangTable::listFilePath(transfer), content); }

    // "name/font/index/code" of every entry, joined with "|".
    static std::string names(const LangTable& t)
    {
        QStringList out;
        for (const RLangList& e : t.GVLangList)
            out << QString("%1/%2/%3/%4").arg(e.mFile, e.mFont).arg(e.mIndex).arg(e.mCode);
        return out.join('|').toStdString();
    }
};

} // namespace

// ---- language list ---------------------------------------------------------

TEST_F(LangFolders, MissingListFileIsCreatedWithTheSixDefaults)
{
    addLanguageFile("ENGLISH");
    addLanguageFile("KOREAN");
    LangTable t;
    t.loadList(transfer, program);

    IniFile ini(LangTable::listFilePath(transfer));
    EXPECT_EQ(ini.readString("LANGUAGE", "1", ""), "ENGLISH,Arial,1");
    EXPECT_EQ(ini.readString("LANGUAGE", "5", ""), "GERMAN,Arial,1");
    EXPECT_EQ(ini.readString("LANGUAGE", "6", ""), QString::fromUtf8("KOREAN,맑은 고딕,82"));
    // Written as UTF-8, so the Korean font name survives a round trip through the bytes.
    EXPECT_TRUE(readAll(LangTable::listFilePath(transfer)).contains("\xEB\xA7\x91\xEC\x9D\x80"));

    EXPECT_EQ(names(t), "ENGLISH/Arial/1/1|KOREAN/맑은 고딕/6/82");
}

TEST_F(LangFolders, MissingKeyStopsTheListEvenWhenLaterKeysExist)
{
    for (const char* n : {"ENGLISH", "ITALIAN", "FRENCH", "SPANISH", "GERMAN"})
        addLanguageFile(n);
    writeList("[LANGUAGE]\r\n1=ENGLISH,Arial,1\r\n2=ITALIAN,Arial,1\r\n"
              "4=SPANISH,Arial,1\r\n5=GERMAN,Arial,1\r\n");
    LangTable t;
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH/Arial/1/1|ITALIAN/Arial/2/1");
}

TEST_F(LangFolders, LanguageWithoutFileIsSkippedAndLaterOnesMoveUp)
{
    addLanguageFile("ENGLISH");
    addLanguageFile("FRENCH");
    writeList("[LANGUAGE]\r\n1=ENGLISH,Arial,1\r\n2=ITALIAN,Arial,1\r\n3=FRENCH,Verdana,7\r\n");
    LangTable t;
    t.GVLangSelect = 1;
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH/Arial/1/1|FRENCH/Verdana/3/7");
    EXPECT_EQ(t.GVLangSelect, 1);
    EXPECT_EQ(t.selected().mFile, "FRENCH");
}

TEST_F(LangFolders, NoLanguageFileAtAllGivesEnglishArial)
{
    LangTable t;
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH/Arial/1/1");
    // There is no file to read: the English texts built into the program serve.
    EXPECT_FALSE(t.loadSelected(program));
    EXPECT_TRUE(t.usingBuiltIn());
    EXPECT_EQ(t.text(501), "&Auto");
    EXPECT_EQ(t.text(718), "Completed successfully");
    EXPECT_FALSE(t.text(822).isEmpty());
}

TEST_F(LangFolders, SelectionIsClampedToTheList)
{
    addLanguageFile("ENGLISH");
    addLanguageFile("GERMAN");
    for (int sel : {-1, 2, 99}) {
        LangTable t;
        t.GVLangSelect = sel;
        t.loadList(transfer, program);
        EXPECT_EQ(t.GVLangSelect, 0) << sel;
    }
    LangTable t;
    t.GVLangSelect = 1;
    t.loadList(transfer, program);
    EXPECT_EQ(t.GVLangSelect, 1);

    // The combo offers six names while the list may hold fewer languages.
    t.GVLangSelect = 4;
    EXPECT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.GVLangSelect, 0);
    EXPECT_EQ(t.selected().mFile, "ENGLISH");
}

TEST_F(LangFolders, ValuesAreSplitIntoNameFontAndNormalisedCode)
{
    addLanguageFile("ENGLISH");
    addLanguageFile("ITALIAN");
    addLanguageFile("FRENCH");
    writeList("[LANGUAGE]\r\n1=ENGLISH\r\n2=ITALIAN,Times New Roman,82abc,extra,more\r\n"
              "3=FRENCH,Arial,99999999999999999999\r\n");
    LangTable t;
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH//1/0|ITALIAN/Times New Roman/2/82|FRENCH/Arial/3/0");
}

TEST_F(LangFolders, FileLookupIgnoresCaseAndStaysInTheFolder)
{
    addLanguageFile("english", "1=lower\r\n", "LANGUAGE");
    LangTable t;
    t.loadList(transfer, program);
    ASSERT_EQ(names(t), "ENGLISH/Arial/1/1");
    EXPECT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.text(1), "lower");

    // A name may not reach outside the language folder.
    writeAll(program + "EVIL.DAT", "1=evil\r\n");
    writeList("[LANGUAGE]\r\n1=../EVIL,Arial,1\r\n2=ENGLISH,Arial,1\r\n");
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH/Arial/2/1");
}

TEST_F(LangFolders, GarbageListFileFallsBackToEnglish)
{
    addLanguageFile("ENGLISH");
    QByteArray junk(4096, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 131 + 7) & 0xFF);
    writeList(junk);
    LangTable t;
    t.loadList(transfer, program);
    EXPECT_EQ(names(t), "ENGLISH/Arial/1/1");
}

// ---- language files --------------------------------------------------------

TEST(LangParse, KeysOutsideTheRangesAreIgnored)
{
    LangTable t;
    t.parseLanguageText("1=One\r\n1200=Last\r\n1201=Too far\r\n0=Zero\r\n-5=Minus\r\n"
                        "L1=ENGLISH\r\nL6=KOREAN\r\nL7=Seventh\r\nL0=None\r\nl2=lower\r\n");
    EXPECT_EQ(t.text(1), "One");
    EXPECT_EQ(t.text(1200), "Last");
    EXPECT_EQ(t.text(1201), "");
    EXPECT_EQ(t.text(0), "");
    EXPECT_EQ(t.languageName(1), "ENGLISH");
    EXPECT_EQ(t.languageName(6), "KOREAN");
    EXPECT_EQ(t.languageName(7), "");
    EXPECT_EQ(t.languageName(2), "");
}

TEST(LangParse, KeyAndTextRules)
{
    LangTable t;
    t.parseLanguageText(QString(QChar(0xFEFF)) + "1=a\r2=b\n3=c\r\n"
                        "   5=Leading blanks are fine\n"
                        "6 =Blank before the equal sign\n"
                        "7=Cut=here\n"
                        "8=  Trimmed  \n"
                        "9=First\n9=Second\n"
                        "no equal sign\n"
                        "10\n"
                        "x11=not a number\n"
                        "12=\n");
    EXPECT_EQ(t.text(1), "a"); // byte-order mark, CR, LF and CR LF line ends
    EXPECT_EQ(t.text(2), "b");
    EXPECT_EQ(t.text(3), "c");
    EXPECT_EQ(t.text(5), "Leading blanks are fine");
    EXPECT_EQ(t.text(6), "");
    EXPECT_EQ(t.text(7), "Cut");
    EXPECT_EQ(t.text(8), "Trimmed");
    EXPECT_EQ(t.text(9), "Second");
    EXPECT_EQ(t.text(10), "");
    EXPECT_EQ(t.text(11), "");
    EXPECT_EQ(t.text(12), "");
}

TEST_F(LangFolders, LoadingReplacesEveryTextOfThePreviousLanguage)
{
    addLanguageFile("ENGLISH", "1=One\r\n2=Two\r\n601=Link lost\r\nL1=ENGLISH\r\n");
    addLanguageFile("GERMAN", "2=Zwei\r\n");
    writeList("[LANGUAGE]\r\n1=ENGLISH,Arial,1\r\n2=GERMAN,Arial,1\r\n");
    LangTable t;
    t.loadList(transfer, program);
    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.text(601), "Link lost");
    EXPECT_EQ(t.text(602), "ERROR");
    EXPECT_EQ(t.text(630), "ERROR");
    EXPECT_EQ(t.text(631), "");

    t.GVLangSelect = 1;
    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.text(1), "");
    EXPECT_EQ(t.text(2), "Zwei");
    EXPECT_EQ(t.text(601), "ERROR");
    EXPECT_EQ(t.languageName(1), "");
}

TEST_F(LangFolders, BrokenFilesGiveTheDefaults)
{
    LangTable t;
    t.loadList(transfer, program);

    // A file without a single text is none: the built-in English texts serve.
    addLanguageFile("ENGLISH", "");
    EXPECT_FALSE(t.loadSelected(program));
    EXPECT_EQ(t.text(1), "Information");
    EXPECT_TRUE(t.usingBuiltIn());

    // Cut in the middle of a multi-byte character and of a line.
    addLanguageFile("ENGLISH", QByteArray("1=Caf\xC3\xA9\r\n2=Tru\xC3", 15));
    EXPECT_TRUE(t.loadSelected(program));
    EXPECT_FALSE(t.usingBuiltIn());
    EXPECT_EQ(t.text(1), QString::fromUtf8("Café"));
    EXPECT_TRUE(t.text(2).startsWith("Tru"));

    QByteArray junk(64 * 1024, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 197 + 11) & 0xFF);
    addLanguageFile("ENGLISH", junk);
    EXPECT_FALSE(t.loadSelected(program));
    EXPECT_EQ(t.text(2), "Serial Number");
}

TEST_F(LangFolders, OverlongLinesAreIgnoredAndTheRestIsRead)
{
    QByteArray content = "1=Before\r\n3=";
    content += QByteArray(5 * 1024 * 1024, 'A');
    content += "\r\n";
    content += QByteArray(5 * 1024 * 1024, 'B');
    content += "\r\n2=After\r\n";
    addLanguageFile("ENGLISH", content);
    LangTable t;
    t.loadList(transfer, program);
    EXPECT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.text(1), "Before");
    EXPECT_EQ(t.text(2), "After");
    EXPECT_EQ(t.text(3), "");
}

TEST_F(LangFolders, Code82FileIsReadInTheKoreanCodePage)
{
    const QString hangul = QString::fromUtf8("읽기");
    QByteArray content = "503=" + platform::EncodeLegacy(hangul, true) + "\r\nL6=" +
                         platform::EncodeLegacy(QString::fromUtf8("한국어"), true) + "\r\n";
    ASSERT_NE(content, QByteArray("503=" + hangul.toUtf8() + "\r\n"));
    addLanguageFile("KOREAN", content);
    writeList("[LANGUAGE]\r\n1=KOREAN,Gulim,82\r\n2=KOREAN,Gulim,1\r\n");
    LangTable t;
    t.loadList(transfer, program);
    ASSERT_EQ(t.GVLangList.size(), 2);

    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_EQ(t.text(503), hangul);
    EXPECT_EQ(t.languageName(6), QString::fromUtf8("한국어"));

    // The same bytes taken as UTF-8 do not give the Hangul text.
    t.GVLangSelect = 1;
    ASSERT_TRUE(t.loadSelected(program));
    EXPECT_NE(t.text(503), hangul);
}

// ---- font change -----------------------------------------------------------

TEST_F(LangFolders, FontChangeWritesTheSelectedKeyOnly)
{
    addLanguageFile("ENGLISH");
    addLanguageFile("KOREAN");
    LangTable t;
    t.loadList(transfer, program); // creates the default list
    t.GVLangSelect = 1;            // KOREAN, key 6
    ASSERT_TRUE(t.setSelectedFont(transfer, "Gulim"));
    EXPECT_EQ(t.selected().mFont, "Gulim");

    IniFile ini(LangTable::listFilePath(transfer));
    EXPECT_EQ(ini.readString("LANGUAGE", "6", ""), "KOREAN,Gulim,82");
    EXPECT_EQ(ini.readString("LANGUAGE", "1", ""), "ENGLISH,Arial,1");
    EXPECT_EQ(ini.readString("LANGUAGE", "2", ""), "ITALIAN,Arial,1");

    LangTable again;
    again.GVLangSelect = 1;
    again.loadList(transfer, program);
    EXPECT_EQ(again.selected().mFont, "Gulim");
    EXPECT_EQ(again.selected().mCode, 82);

    // A comma or line break would split the value differently on the next start.
    const QByteArray before = readAll(LangTable::listFilePath(transfer));
    EXPECT_FALSE(t.setSelectedFont(transfer, "Odd, Font"));
    EXPECT_FALSE(t.setSelectedFont(transfer, "Two\nLines"));
    EXPECT_EQ(readAll(LangTable::listFilePath(transfer)), before);
    EXPECT_EQ(t.selected().mFont, "Gulim");
}
