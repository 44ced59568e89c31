#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocale>
#include <QTimer>
#include <QRandomGenerator>

#include <cmath>

#include "support/TestSupport.h"
#include "domain/GasTables.h"
#include "util/StUtils.h"

namespace {

QString userPoint() { return QLocale::system().decimalPoint(); }
QString foreignPoint() { return userPoint() == QLatin1String(".") ? "," : "."; }

// Sets GVEngType for one test and puts it back afterwards.
struct EngTypeGuard {
    bool saved = GVEngType;
    explicit EngTypeGuard(bool v) { GVEngType = v; }
    ~EngTypeGuard() { GVEngType = saved; }
};

} // namespace

TEST(StDivideToken, SplitsIntoExactlyNParts)
{
    EXPECT_EQ(StDivideToken("ENGLISH,Arial,1", ",", 4),
              QStringList({"ENGLISH", "Arial", "1", ""}));
    // more tokens than parts: the rest is dropped
    EXPECT_EQ(StDivideToken("a=b=c", "=", 2), QStringList({"a", "b"}));
    // blanks before a token stay with the part, blanks after it go
    EXPECT_EQ(StDivideToken("  key  =  value  ", "=", 2), QStringList({"key  ", "value"}));
    EXPECT_EQ(StDivideToken("", ",", 3), QStringList({"", "", ""}));
    EXPECT_EQ(StDivideToken("a,,b", ",", 3), QStringList({"a", "", "b"}));
    EXPECT_TRUE(StDivideToken("a,b", ",", 0).isEmpty());
    // an empty token never matches (and must not loop)
    EXPECT_EQ(StDivideToken(" a,b ", "", 2), QStringList({"a,b", ""}));

    QStringList reused{"old", "old", "old", "old", "old"};
    StDivideToken("x;y", ";", 3, reused);
    EXPECT_EQ(reused, QStringList({"x", "y", ""}));
}

TEST(StCheckStrToData, TimeIsNormalised)
{
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "25:61:07"), "0:0:7");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "12:30"), "12:0:0");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, ""), "00:00:00");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "   "), "00:00:00");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, " 08:05:09 "), "8:5:9");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "1a2:3b:x"), "12:3:0");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "1234"), "0:0:0");
    EXPECT_EQ(StCheckStrToData(CFG_TIME, "99999999999999999999:1:2"), "0:1:2");
}

TEST(StCheckStrToData, IntegersKeepSignAndLeadingDigits)
{
    EXPECT_EQ(StCheckStrToData(CFG_INTEGER, "-12ab"), "-12");
    EXPECT_EQ(StCheckStrToData(CFG_INTEGER, "abc"), "0");
    EXPECT_EQ(StCheckStrToData(CFG_INTEGER, "-"), "0");
    EXPECT_EQ(StCheckStrToData(CFG_INTEGER, "007"), "7");
    EXPECT_EQ(StCheckStrToData(CFG_INTEGER, "-2147483648"), "-2147483648");
    EXPECT_THROW(StCheckStrToData(CFG_INTEGER, "2147483648"), ConversionError);
    EXPECT_THROW(StCheckStrToData(99, "123456789012"), ConversionError); // unknown code = integer
    EXPECT_EQ(StCheckStrToData(CFG_LONGINTEGER, "123456789012x"), "123456789012");
    EXPECT_EQ(StCheckStrToData(CFG_LONGINTEGER, "-9223372036854775808"),
              "-9223372036854775808");
    EXPECT_THROW(StCheckStrToData(CFG_LONGINTEGER, "99999999999999999999"), ConversionError);
}

TEST(StCheckStrToData, FloatUsesUserSeparator)
{
    const QString p = userPoint();
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, " -12" + p + "5000 "), "-12" + p + "5");
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, "3" + p + "14159265358"), "3" + p + "14159265");
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, "1" + p + "2" + p + "3"), "1" + p + "2");
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, "7kg"), "7");
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, "x"), "0");
    EXPECT_EQ(StCheckStrToData(CFG_FLOAT, "-0"), "0");
    EXPECT_THROW(StCheckStrToData(CFG_FLOAT, "1" + foreignPoint() + "5"), ConversionError);

    EXPECT_EQ(StCheckStrToData(CFG_BOOL, " Yes"), "Y");
    EXPECT_EQ(StCheckStrToData(CFG_BOOL, "yes"), "");
    EXPECT_EQ(StCheckStrToData(CFG_STRING, "  a b  "), "a b");
}

TEST(StUtilsText, PaddingClampingAndNames)
{
    EXPECT_EQ(StMakeNullToStr(true, 5, '0', "42"), "00042");
    EXPECT_EQ(StMakeNullToStr(false, 5, ' ', "42"), "42   ");
    EXPECT_EQ(StMakeNullToStr(true, 3, '0', "12345"), "123");
    EXPECT_EQ(StMakeNullToStr(true, -1, '0', "12"), "");

    EXPECT_EQ(StGetIntRange(-5, 0, 10), 0);
    EXPECT_EQ(StGetIntRange(15, 0, 10), 10);
    EXPECT_FLOAT_EQ(StGetFloatRange(std::nanf(""), 1.5f, 9.0f), 1.5f);
    EXPECT_FLOAT_EQ(StGetFloatRange(10.0f, 1.5f, 9.0f), 9.0f);

    // two letters and two blanks: three characters are not shortened further
    EXPECT_EQ(GetDelLastSpace("ab  "), "ab ");
    EXPECT_EQ(GetDelLastSpace("abcd   "), "abcd");
    EXPECT_EQ(GetDelLastSpace("   "), "   ");

    EXPECT_EQ(GetFatFileNameExtract("/LOG/DOCK/D2101.CSV"), "D2101.CSV");
    EXPECT_EQ(GetFatFileNameExtract("NAME.CSV"), "NAME.CSV");
    EXPECT_EQ(GetFatFileNameExtract("/LOG/"), "");

    EXPECT_EQ(ConvertFatFile("/LOG/DOCK/D2101.CSV"), "D2101.CSV");
    EXPECT_EQ(ConvertFatFile("/LOG/A?B.CSV"), "TEST.1");
    EXPECT_EQ(ConvertFatFile("/LOG/C:B.CSV"), "TEST.1");
    EXPECT_EQ(ConvertFatFile(QString("/LOG/A") + QChar(1) + "B"), "TEST.1");
    EXPECT_EQ(ConvertFatFile("/LOG/"), "");
}

TEST(StUtilsText, ParseStartEndCutsPieces)
{
    QString first, read, remain = "head<a>x</a>tail";
    EXPECT_EQ(ParseStartEnd("<a>", "</a>", first, read, remain), 2);
    EXPECT_EQ(first, "head");
    EXPECT_EQ(read, "x");
    EXPECT_EQ(remain, "tail");

    // no start marker: remain unchanged
    remain = "abc";
    EXPECT_EQ(ParseStartEnd("<", ">", first, read, remain), -1);
    EXPECT_EQ(remain, "abc");

    // start found, end missing: the start cut stays
    remain = "a<b";
    first.clear();
    EXPECT_EQ(ParseStartEnd("<", ">", first, read, remain), -1);
    EXPECT_EQ(first, "a");
    EXPECT_EQ(remain, "b");

    // empty start: first = read
    remain = "k1,k2";
    EXPECT_EQ(ParseStartEnd("", ",", first, read, remain), 3);
    EXPECT_EQ(first, "k1");
    EXPECT_EQ(read, "k1");
    EXPECT_EQ(remain, "k2");
}

TEST(ConfigReader, TagsLinesOfEveryEnding)
{
    const QByteArray content = "[GAS]\r\nGas1 = H2S\nNote=1 # old\r// only comment\n\r\n"
                               "  Span=50  \rplain";
    EXPECT_EQ(TagIniLines(content),
              QStringList({"N [GAS]", "D Gas1 = H2S", "T Note=1 # old", "C // only comment",
                           "N ", "D Span=50", "N plain"}));
    EXPECT_TRUE(TagIniLines("").isEmpty());
    EXPECT_EQ(TagIniLines("a=1\n"), QStringList({"D a=1"}));
    // NUL and other control bytes are trimmed like blanks, 8-bit text is decoded
    EXPECT_EQ(TagIniLines(QByteArray("\0Name=Caf\xE9\0", 11)), QStringList({"D Name=Caf\u00E9"}));
}

TEST(ConfigReader, LookupsFindTheFirstDataLineContainingTheKey)
{
    const QStringList list = TagIniLines("GasName=O2 ; reserved\n"
                                         "BOTTLE_GAS = CO\n"
                                         "Gas = H2S\n"
                                         "Enabled=1\n");
    EXPECT_EQ(GetIniFileData(list, "Gas"), "CO"); // substring, first data line wins
    EXPECT_EQ(GetIniFileData(list, "gasname"), ""); // commented data line is invisible
    EXPECT_FALSE(GetIniFileDataExists(list, "gasname"));
    EXPECT_TRUE(GetIniFileDataExists(list, "ENABLED"));
    EXPECT_EQ(GetIniFileData(list, "missing"), "");
    EXPECT_EQ(GetIniFileData({"D a=b=c"}, "a"), "b=c");
}

TEST(ConfigReader, ValueConversions)
{
    EXPECT_TRUE(GetIniFileDataBool("yes", false));
    EXPECT_TRUE(GetIniFileDataBool("Y", false));
    EXPECT_FALSE(GetIniFileDataBool("y", true));
    EXPECT_TRUE(GetIniFileDataBool("disabled but enabled", false));
    EXPECT_TRUE(GetIniFileDataBool("E", false));
    EXPECT_FALSE(GetIniFileDataBool("0", true));
    EXPECT_TRUE(GetIniFileDataBool("", true));

    EXPECT_EQ(GetIniFileDataInt(" 42 ", 7), 42);
    EXPECT_EQ(GetIniFileDataInt("42x", 7), 7);
    EXPECT_EQ(GetIniFileDataInt("99999999999", 7), 7);
    EXPECT_EQ(GetIniFileDataStr("", "def"), "def");

    EngTypeGuard guard(DetectEngType());
    EXPECT_FLOAT_EQ(GetIniFileDataFloat("2.5", 1.0f), 2.5f); // dock files always use "."
    EXPECT_FLOAT_EQ(GetIniFileDataFloat("abc", 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(GetIniFileDataFloat("1e60", 1.0f), 1.0f); // does not fit a float
}

TEST(ConfigReader, FileErrorsAndGarbage)
{
    testsupport::ScopedTempRoot tmp;
    QStringList list{"stale"};
    EXPECT_THROW(GetIniFIle(tmp.path() + "/none.cfg", list), std::runtime_error);
    EXPECT_THROW(GetIniFIle(tmp.path(), list), std::runtime_error); // a folder

    QByteArray garbage(64 * 1024, '\0');
    QRandomGenerator rng(1234);
    for (char& c : garbage)
        c = static_cast<char>(rng.bounded(256));
    garbage += "\nKey=Value\n";
    garbage += QByteArray(10 * 1024 * 1024, 'x'); // one very long line, no final break
    testsupport::writeAll(tmp.path() + "/garbage.cfg", garbage);
    ASSERT_NO_THROW(GetIniFIle(tmp.path() + "/garbage.cfg", list));
    EXPECT_EQ(GetIniFileData(list, "Key="), "Value");
    EXPECT_EQ(list.last().size(), 2 + 10 * 1024 * 1024);
}

TEST(DecimalSeparators, FollowEngType)
{
    {
        EngTypeGuard guard(false);
        EXPECT_EQ(ChangeGerFStrToFStr("1,5"), "1.5");
        EXPECT_EQ(ChangeFStrToGerFStr("1.5"), "1,5");
        EXPECT_FLOAT_EQ(GetIniFileDataFloat("2.5", 0.f), DetectEngType() ? 0.f : 2.5f);
    }
    EngTypeGuard guard(true);
    EXPECT_EQ(ChangeGerFStrToFStr("1,5"), "1,5");
    EXPECT_EQ(ChangeFStrToGerFStr("1.5"), "1.5");
}

TEST(CheckIp, NormalisesToFourParts)
{
    EXPECT_EQ(CheckIp("192.168.1"), "192.168.1.0");
    EXPECT_EQ(CheckIp("0.256.-1.7"), "0.0.0.7");
    EXPECT_EQ(CheckIp("255.255.300.x"), "255.255.0.0");
    EXPECT_EQ(CheckIp(" 10.0.0.1 "), "10.0.0.1");
    EXPECT_EQ(CheckIp("1.2.3.4.5"), "1.2.3.4");
    EXPECT_EQ(CheckIp(""), "0.0.0.0");
}

TEST(GasTexts, LimitsAndUnits)
{
    const QLocale loc = QLocale::system();
    EXPECT_EQ(GetGasLimit(-100000, 100000, 1), "  ~ ");
    EXPECT_EQ(GetGasLimit(-9999, 9999, 1), "  ~ ");
    EXPECT_EQ(GetGasLimit(0, 50, 1), loc.toString(0.0, 'f', 1) + " ~ " + loc.toString(50.0, 'f', 1));
    EXPECT_EQ(GetGasLimit(19.5f, 100000, 2), loc.toString(19.5, 'f', 2) + " ~ ");
    EXPECT_EQ(GetGasLimit(-100000, 1500, 0), "  ~ " + loc.toString(1500.0, 'f', 0));
    EXPECT_EQ(GetGasUnit(CFG_UNIT_PerVOL), "%vol");
    EXPECT_EQ(GetGasUnit(0), "");
    EXPECT_EQ(GetSensorModel(0, 9, false), "Gaviro SG H2S");
}

TEST(StDelay, WaitsWhileOtherEventsRun)
{
    bool fired = false;
    QTimer::singleShot(20, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    StDelay(0.2f);
    EXPECT_GE(clock.elapsed(), 190);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(fired);

    clock.restart();
    StDelay(0);
    StDelay(-3);
    StDelay(std::nanf(""));
    EXPECT_LT(clock.elapsed(), 100);
}
