// Two dock files of one name in different dock folders: both are staged and both
// are stored, and a different file never replaces a stored one.
#include <gtest/gtest.h>

#include <QDir>

#include "link/UnitDef.h"
#include "support/TestSupport.h"
#include "util/FileCopy.h"

using testsupport::readAll;
using testsupport::writeAll;

TEST(SameNameFiles, EachDockFileGetsItsOwnStagedName)
{
    auto file = [](const QString& path, uint8_t opt) {
        RFileList e;
        e.mName = path;
        e.mOpt = opt;
        return e;
    };
    QVector<RFileList> list = {file("/LOG/TEST/A/GA1_BUMP_2405011000.XML", UNIT_OPT_GDBUMP),
                               file("/LOG/TEST/B/GA1_BUMP_2405011000.XML", UNIT_OPT_GDBUMP),
                               file("/LOG/TEST/C/ga1_bump_2405011000.xml", UNIT_OPT_GDBUMP),
                               file("/LOG/TEST/A/GA1_CAL_2405011000.XML", UNIT_OPT_GDCAL),
                               file("/LOG/EVENT/GA1_BUMP_2405011000.XML", UNIT_OPT_GDEVENT)};
    AssignStageNames(list);
    EXPECT_EQ(StagedLogName(list[0]), "GA1_BUMP_2405011000.XML");
    EXPECT_EQ(StagedLogName(list[1]), "GA1_BUMP_2405011000_2.XML");
    EXPECT_EQ(StagedLogName(list[2]), "ga1_bump_2405011000_3.xml");
    EXPECT_EQ(StagedLogName(list[3]), "GA1_CAL_2405011000.XML");
    EXPECT_EQ(StagedLogName(list[4]), "GA1_BUMP_2405011000.XML"); // another staging folder
    // The name still reads as the instrument's result of that time.
    const LogFileClass c = ClassifyLogFile(StagedLogName(list[1]), "003");
    EXPECT_EQ(c.mOpt, UNIT_OPT_GDBUMP);
    EXPECT_EQ(c.mAliasName, "GA1");
    EXPECT_GT(c.mDate, 0);
    EXPECT_EQ(StagedLogName(ToLogEntry(list[1])), "GA1_BUMP_2405011000_2.XML");
}

TEST(SameNameFiles, AStoredFileIsReplacedOnlyByItsOwnBytesOrByItsGrownSelf)
{
    testsupport::ScopedTempRoot root;
    const QString dir = root.path() + "/KM1/GA1/BUMP/";
    const QString src = root.path() + "/staged.XML";
    QDir().mkpath(dir);
    const QString name = "GA1_BUMP_2405011000.XML";

    writeAll(src, "PASS result");
    EXPECT_EQ(ChooseStoreTarget(dir, name, src), dir + name); // free
    ASSERT_TRUE(ReplaceWithCopy(src, dir + name));
    EXPECT_EQ(ChooseStoreTarget(dir, name, src), dir + name); // the same bytes again
    writeAll(src, "PASS result, and more lines"); // the log grew on the dock
    EXPECT_EQ(ChooseStoreTarget(dir, name, src), dir + name);

    writeAll(src, "FAIL result"); // another folder's file of that name
    const QString second = ChooseStoreTarget(dir, name, src);
    EXPECT_EQ(second, dir + "GA1_BUMP_2405011000_2.XML");
    ASSERT_TRUE(ReplaceWithCopy(src, second));
    EXPECT_EQ(readAll(dir + name), "PASS result");
    EXPECT_EQ(ChooseStoreTarget(dir, name, src), second); // found again by its bytes
    EXPECT_EQ(StoreNameVariants(dir, name), (QStringList{dir + name, second}));
    EXPECT_TRUE(SameFileBytes(second, src));
    EXPECT_FALSE(SameFileBytes(dir + name, src));
    EXPECT_FALSE(SameFileBytes(dir + "missing", src));
}
