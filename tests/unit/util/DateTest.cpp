#include <gtest/gtest.h>

#include <QDateTime>

#include <cmath>

#include "util/StUtils.h"

namespace {

QDateTime at(int y, int m, int d, int h = 0, int n = 0, int s = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, n, s));
}

} // namespace

TEST(DayCount, MatchesTheDayZeroConvention)
{
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0), 36526.5);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2021, 2, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2021, 1, 1, 24, 0, 0), 0.0);
    // before day 0 the fraction still counts forward from midnight
    EXPECT_DOUBLE_EQ(DateTimeToDays(at(1899, 12, 29, 6)), -1.25);
    EXPECT_EQ(DaysToDateTime(-1.25), at(1899, 12, 29, 6));

    const QDateTime t = at(2024, 2, 29, 23, 59, 59);
    EXPECT_EQ(DaysToDateTime(DateTimeToDays(t)), t);
    // a value just short of midnight rounds to the next day, not to 24:00
    EXPECT_EQ(DaysToDateTime(45000.0 - 1e-10), at(2023, 3, 15));
    EXPECT_FALSE(DaysToDateTime(std::nan("")).isValid());
    EXPECT_NEAR(NowDays(), DateTimeToDays(QDateTime::currentDateTime()), 1.0 / 86400);
}

TEST(DockDateStamps, TenCharacterStamp)
{
    EXPECT_EQ(IsValidDateTime("2012311200"), 0.0); // year 20
    EXPECT_EQ(DaysToDateTime(IsValidDateTime("2112312359")), at(2021, 12, 31, 23, 59));
    EXPECT_EQ(IsValidDateTime("2102301200"), 0.0); // 30 February
    EXPECT_EQ(IsValidDateTime("2113011200"), 0.0);
    EXPECT_EQ(IsValidDateTime("2112312400"), 0.0);
    EXPECT_EQ(IsValidDateTime("2112312360"), 0.0);
    EXPECT_EQ(IsValidDateTime("21123123"), 0.0);
    EXPECT_EQ(IsValidDateTime(""), 0.0);
    EXPECT_EQ(IsValidDateTime("21-2311200"), 0.0);
    EXPECT_EQ(IsValidDateTime("21 2311200"), 0.0);
}

TEST(DockDateStamps, FatStamps)
{
    EXPECT_EQ(DaysToDateTime(IsValidFatDateTime("  2021-12-31 23:59:58 ")),
              at(2021, 12, 31, 23, 59, 58));
    EXPECT_EQ(DaysToDateTime(IsValidFatDateTime("2024/02/29T01:02:03")), at(2024, 2, 29, 1, 2, 3));
    EXPECT_EQ(IsValidFatDateTime("2000-01-01 00:00:00"), 0.0);
    EXPECT_EQ(IsValidFatDateTime("2021-02-29 00:00:00"), 0.0);
    EXPECT_EQ(IsValidFatDateTime("2021-12-31 23:59:60"), 0.0);
    EXPECT_EQ(IsValidFatDateTime("2021-1x-31 23:59:00"), 0.0);
    EXPECT_EQ(IsValidFatDateTime("2021-12-31 23:59"), 0.0);

    EXPECT_EQ(DaysToDateTime(IsValidFatDateTime2("20211231235958")), at(2021, 12, 31, 23, 59, 58));
    EXPECT_EQ(IsValidFatDateTime2("20210230000000"), 0.0);
    EXPECT_EQ(IsValidFatDateTime2("20211231-35958"), 0.0);
    EXPECT_EQ(IsValidFatDateTime2("2021123"), 0.0);

    EXPECT_EQ(DaysToDateTime(IsValidLYearMonth("21", "12")), at(2021, 12, 1));
    EXPECT_EQ(DaysToDateTime(IsValidLYearMonth("2022", "3")), at(2022, 3, 1));
    EXPECT_EQ(DaysToDateTime(IsValidLYearMonth("1001", "1")), at(1001, 1, 1));
    EXPECT_EQ(IsValidLYearMonth("20", "1"), 0.0);
    EXPECT_EQ(IsValidLYearMonth("22", "13"), 0.0);
    EXPECT_EQ(IsValidLYearMonth("2x", "1"), 0.0);
    EXPECT_EQ(IsValidLYearMonth("99999", "1"), 0.0);
}

TEST(DateFormats, FollowOrderDividerAndUserSeparators)
{
    const TDateTime d = EncodeDateTime(2021, 3, 4, 5, 6, 7);
    EXPECT_EQ(GetDateFmt(CFG_DATE_YYYYMMDD, d, "-"), "2021-03-04");
    EXPECT_EQ(GetDateFmt(CFG_DATE_MMDDYYYY, d, "-"), "03-04-2021");
    EXPECT_EQ(GetDateFmt(CFG_DATE_DDMMYYYY, d, ""), "04032021");
    EXPECT_EQ(GetDateFmt(77, d, "."), "2021.03.04");

    const QString ds = UserDateSeparator();
    const QString ts = UserTimeSeparator();
    EXPECT_EQ(GetDateHMFmt(CFG_DATE_DDMMYYYY, d, "/"), "04" + ds + "03" + ds + "2021 05" + ts + "06");
    EXPECT_EQ(GetDateHMSFmt(CFG_DATE_YYYYMMDD, d, "-"), "2021-03-04 05" + ts + "06" + ts + "07");
    // "mm" right after the hour means minutes
    EXPECT_EQ(FormatDays("hh mm dd mm", d), "05 06 04 03");
    EXPECT_EQ(FormatDays("yy'mm'd.m", d), "21mm4.3");
    EXPECT_EQ(FormatDays("yyyy", std::nan("")), "");
}
