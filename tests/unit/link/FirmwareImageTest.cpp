#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "link/UnitDef.h"
#include "link/serial/DockComm.h"
#include "support/TestSupport.h"
#include "unit/link/LinkTestSupport.h"
#include "util/OperatorPort.h"

using testsupport::writeAll;

namespace {

uint8_t check(uint8_t kind, const QString& file, QString* desc = nullptr,
              std::array<uint8_t, 4>* ver = nullptr)
{
    QString d = QStringLiteral("stale");
    std::array<uint8_t, 4> v{9, 9, 9, 9};
    const uint8_t r = TUnitDef::IsValidFirmware(kind, file, d, v);
    if (desc)
        *desc = d;
    if (ver)
        *ver = v;
    return r;
}

} // namespace

TEST(FirmwareImage, ValidImagesGiveVersionAndDescription)
{
    testsupport::ScopedTempRoot tmp;
    writeAll(tmp.path() + "/d.img", linktest::dockImage(21, 7));
    writeAll(tmp.path() + "/g.IMG", linktest::gdImage(35, 4));
    QString desc;
    std::array<uint8_t, 4> ver{};
    EXPECT_EQ(check(DOCK_ID, tmp.path() + "/d.img", &desc, &ver), PROGRAM_OK);
    EXPECT_EQ(desc, "FW Version = 2.1");
    EXPECT_EQ(ver, (std::array<uint8_t, 4>{2, 1, 7, 0}));
    EXPECT_EQ(check(GD_ID, tmp.path() + "/g.IMG", &desc, &ver), PROGRAM_OK);
    EXPECT_EQ(desc, "FW Version = 3.5");
    EXPECT_EQ(ver, (std::array<uint8_t, 4>{3, 5, 4, 0}));
    // the kinds are not interchangeable
    EXPECT_EQ(check(GD_ID, tmp.path() + "/d.img"), PROGRAM_SIZEERROR);
    EXPECT_EQ(check(UNIT_FWTYPE_GD2, tmp.path() + "/g.IMG"), PROGRAM_OPENERROR);
}

TEST(FirmwareImage, WrongSizesTypeAndChecksumsAreRefusedAndClearTheOutputs)
{
    testsupport::ScopedTempRoot tmp;
    const QString f = tmp.path() + "/x.img";
    QByteArray dock = linktest::dockImage(12);
    for (int delta : {-1, +1}) {
        QByteArray img = dock;
        img.resize(img.size() + delta);
        writeAll(f, img);
        QString desc;
        std::array<uint8_t, 4> ver{};
        EXPECT_EQ(check(DOCK_ID, f, &desc, &ver), PROGRAM_SIZEERROR) << delta;
        EXPECT_TRUE(desc.isEmpty());
        EXPECT_EQ(ver, (std::array<uint8_t, 4>{0, 0, 0, 0}));
        QByteArray gd = linktest::gdImage(12);
        gd.resize(gd.size() + delta);
        writeAll(f, gd);
        EXPECT_EQ(check(GD_ID, f), PROGRAM_SIZEERROR) << delta;
    }

    // one flipped body bit, and a changed stored checksum byte
    dock[DOCK_IMG_SIZE - 1] = char(dock[DOCK_IMG_SIZE - 1] ^ 0x01);
    writeAll(f, dock);
    EXPECT_EQ(check(DOCK_ID, f), PROGRAM_CRCERROR);
    QByteArray dock2 = linktest::dockImage(12);
    dock2[27] = char(dock2[27] ^ 0x80);
    writeAll(f, dock2);
    EXPECT_EQ(check(DOCK_ID, f), PROGRAM_CRCERROR);
    QByteArray gd = linktest::gdImage(12);
    gd[GD_IMGHEADER_SIZE] = char(gd[GD_IMGHEADER_SIZE] ^ 0x10);
    writeAll(f, gd);
    EXPECT_EQ(check(GD_ID, f), PROGRAM_CRCERROR);
    QByteArray gdSwapped = linktest::gdImage(12);
    std::swap(gdSwapped[12], gdSwapped[13]); // stored high byte first
    writeAll(f, gdSwapped);
    EXPECT_EQ(check(GD_ID, f), PROGRAM_CRCERROR);

    // a dock image (type 129) offered as an instrument image: refused by its type
    // byte even though its checksum is broken too
    QByteArray typed = linktest::gdImage(12);
    typed[2] = char(129);
    typed[GD_IMGHEADER_SIZE + 5] = char(typed[GD_IMGHEADER_SIZE + 5] ^ 0xFF);
    writeAll(f, typed);
    EXPECT_EQ(check(GD_ID, f), PROGRAM_WRONG);
}

TEST(FirmwareImage, UnreadableThingsAreOpenErrorsAndHugeFilesAreNotRead)
{
    testsupport::ScopedTempRoot tmp;
    EXPECT_EQ(check(DOCK_ID, tmp.path() + "/missing.img"), PROGRAM_OPENERROR);
    EXPECT_EQ(check(DOCK_ID, QString()), PROGRAM_OPENERROR);
    QDir().mkpath(tmp.path() + "/FOLDER.IMG");
    EXPECT_EQ(check(DOCK_ID, tmp.path() + "/FOLDER.IMG"), PROGRAM_OPENERROR);
    writeAll(tmp.path() + "/ok.img", linktest::dockImage(12));
    EXPECT_EQ(check(77, tmp.path() + "/ok.img"), PROGRAM_OPENERROR);

    // a sparse 2 GB file is judged by its size alone
    QFile big(tmp.path() + "/big.img");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    if (!big.resize(qint64(2) * 1024 * 1024 * 1024))
        GTEST_SKIP() << "no sparse files here";
    big.close();
    EXPECT_EQ(check(DOCK_ID, big.fileName()), PROGRAM_SIZEERROR);
}

TEST(FirmwareImage, InMemoryCheckAgreesWithTheFileCheck)
{
    QString desc;
    std::array<uint8_t, 4> ver{};
    EXPECT_EQ(TUnitDef::CheckFirmwareImage(DOCK_ID, linktest::dockImage(45, 3), desc, ver),
              PROGRAM_OK);
    EXPECT_EQ(desc, "FW Version = 4.5");
    EXPECT_EQ(TUnitDef::CheckFirmwareImage(GD_ID, QByteArray(), desc, ver), PROGRAM_SIZEERROR);
    EXPECT_TRUE(desc.isEmpty());
    EXPECT_EQ(TUnitDef::CheckFirmwareImage(0, linktest::gdImage(1), desc, ver), PROGRAM_OPENERROR);
}

TEST(ReadFirmware, TakesTheNewestValidImageOfTheKind)
{
    testsupport::ScopedTempRoot tmp;
    const QString dir = tmp.path() + "/fw/";
    writeAll(dir + "A.IMG", linktest::dockImage(12, 0, 1));
    writeAll(dir + "b.img", linktest::dockImage(21, 5, 2));
    QByteArray broken = linktest::dockImage(99, 0, 4);
    broken[200] = char(broken[200] ^ 1);
    writeAll(dir + "D.IMG", broken);                        // newest but invalid
    writeAll(dir + "E.BIN", linktest::dockImage(50, 0, 5)); // not an image name
    QDir().mkpath(dir + "F.IMG");                           // a folder

    TDockComm unit;
    unit.ReadFirmware(DOCK_ID, dir);
    EXPECT_EQ(unit.FFwList.mDockFile.mName, dir + "b.img");
    EXPECT_EQ(unit.FFwList.mDockFile.mDescription, "FW Version = 2.1");
    EXPECT_EQ(unit.FFwList.mDockFile.mVersion, 21);
    EXPECT_EQ(unit.FFwList.mDockFile.mVerBytes, (std::array<uint8_t, 4>{2, 1, 5, 0}));

    // equal versions keep the first found
    const QString same = tmp.path() + "/same/";
    writeAll(same + "X1.IMG", linktest::gdImage(15, 0, 1));
    writeAll(same + "X2.IMG", linktest::gdImage(15, 0, 2));
    unit.ReadFirmware(GD_ID, same);
    EXPECT_EQ(unit.FFwList.mGDFile.mName, same + "X1.IMG");

    // no image is ever valid for the second instrument slot
    unit.ReadFirmware(UNIT_FWTYPE_GD2, same);
    EXPECT_TRUE(unit.FFwList.mGDFile2.mName.isEmpty());
}

TEST(ReadFirmware, VersionZeroMissingFolderAndUnknownKindLeaveNothing)
{
    testsupport::ScopedTempRoot tmp;
    const QString dir = tmp.path() + "/zero/";
    writeAll(dir + "Z.IMG", linktest::dockImage(0));
    TDockComm unit;
    unit.FFwList.mDockFile.mName = "old";
    unit.FFwList.mDockFile.mVersion = 40;
    unit.FFwList.mDockFile.mDescription = "old";
    unit.ReadFirmware(DOCK_ID, dir);
    EXPECT_TRUE(unit.FFwList.mDockFile.mName.isEmpty());
    EXPECT_TRUE(unit.FFwList.mDockFile.mDescription.isEmpty());
    EXPECT_EQ(unit.FFwList.mDockFile.mVersion, 0);

    unit.FFwList.mGDFile.mName = "old";
    unit.ReadFirmware(GD_ID, tmp.path() + "/nowhere/");
    EXPECT_TRUE(unit.FFwList.mGDFile.mName.isEmpty());

    unit.FFwList.mGDFile.mName = "kept";
    unit.ReadFirmware(77, dir);
    EXPECT_EQ(unit.FFwList.mGDFile.mName, "kept");
}

TEST(CheckFirmware, AsksForEqualAndOlderVersionsAndRefusesInvalidImages)
{
    linktest::LangTextsGuard texts({632, 633, 634, 635, 636});
    testsupport::ScopedTempRoot tmp;
    const QString f = tmp.path() + "/new.img";
    writeAll(f, linktest::dockImage(21));
    ScriptedOperatorPort port;
    TDockComm unit;
    unit.Port = &port;
    QString desc;

    // newer than the current one (or none): taken without a question
    EXPECT_TRUE(unit.CheckFirmware(UNIT_FWTYPE_DOCK, f, desc));
    EXPECT_EQ(desc, "FW Version = 2.1");
    EXPECT_TRUE(port.questions.isEmpty());

    unit.FFwList.mDockFile.mVersion = 21;
    port.yesNoAnswers = {"no", "yes"};
    EXPECT_FALSE(unit.CheckFirmware(UNIT_FWTYPE_DOCK, f, desc));
    EXPECT_TRUE(unit.CheckFirmware(UNIT_FWTYPE_DOCK, f, desc));
    ASSERT_EQ(port.questions.size(), 2);
    EXPECT_EQ(port.questions[0], "T632 (Ver 2.1)\nT633");

    unit.FFwList.mDockFile.mVersion = 34;
    port.questions.clear();
    port.yesNoAnswers = {"yes"};
    EXPECT_TRUE(unit.CheckFirmware(UNIT_FWTYPE_DOCK, f, desc));
    ASSERT_EQ(port.questions.size(), 1);
    EXPECT_EQ(port.questions[0], "T634 (Ver3.4 -> Ver 2.1)\nT633");

    // the instrument kind compares with the instrument image
    writeAll(tmp.path() + "/gd.img", linktest::gdImage(12));
    unit.FFwList.mGDFile.mVersion = 11;
    port.questions.clear();
    EXPECT_TRUE(unit.CheckFirmware(UNIT_FWTYPE_GD, tmp.path() + "/gd.img", desc));
    EXPECT_TRUE(port.questions.isEmpty());

    // not an image of the kind: a message, no question
    EXPECT_FALSE(unit.CheckFirmware(UNIT_FWTYPE_GD, f, desc));
    ASSERT_EQ(port.messages.size(), 1);
    EXPECT_EQ(port.messages[0], "T635: T636");
    EXPECT_TRUE(port.questions.isEmpty());
}

TEST(CheckFirmware, WithoutAnOperatorOnlyNewerImagesPass)
{
    testsupport::ScopedTempRoot tmp;
    const QString f = tmp.path() + "/new.img";
    writeAll(f, linktest::gdImage(21));
    TDockComm unit;
    QString desc;
    unit.FFwList.mGDFile.mVersion = 20;
    EXPECT_TRUE(unit.CheckFirmware(UNIT_FWTYPE_GD, f, desc));
    unit.FFwList.mGDFile.mVersion = 21;
    EXPECT_FALSE(unit.CheckFirmware(UNIT_FWTYPE_GD, f, desc));
    unit.FFwList.mGDFile.mVersion = 22;
    EXPECT_FALSE(unit.CheckFirmware(UNIT_FWTYPE_GD, f, desc));
    EXPECT_FALSE(unit.CheckFirmware(UNIT_FWTYPE_DOCK, f, desc));
}
