#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include "link/usbdisk/USBDisk.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "unit/link/LinkTestSupport.h"
#include "util/OperatorPort.h"

using testsupport::readAll;
using testsupport::writeAll;

namespace {

const QByteArray kIdentity = "Model = GX\r\nSerial Number = D1234 \r\nFw Version = 1.07\r\n";

// Records what a copy run reports, in order.
class ProgressRecorder : public ProgressSink {
public:
    QStringList events;
    qint64 allMax = -1, allStart = 0, allEnd = 0;
    std::function<void(const QString&)> onReady;
    void ProgressStart(qint64 n) override
    {
        allMax = n;
        events << QStringLiteral("start %1").arg(n);
    }
    void ProgressReady(const QString& caption, qint64 max, qint64 end, qint64 start) override
    {
        events << QStringLiteral("ready %1 %2 %3 %4").arg(caption).arg(max).arg(end).arg(start);
        EXPECT_LE(end, allMax);
        EXPECT_LE(start, end);
        allStart = start;
        allEnd = end;
        if (onReady)
            onReady(caption);
    }
    void ProgressStop() override { events << QStringLiteral("stop"); }
};

class USBDiskTest : public ::testing::Test {
protected:
    testsupport::ScopedTempRoot tmp;
    linktest::LangTextsGuard texts{542, 602, 603, 604, 605, 606, 607, 608, 631};
    QString drive;    // the dock's drive root, with "/"
    QString transfer; // the transfer folder
    TUSBDisk usb;
    QStringList informed;

    void SetUp() override
    {
        drive = tmp.path() + "/dock/";
        transfer = platform::TransferFolder();
        for (const char* sub : {"FW/DOCK/", "FW/GD/", "LOG/", "LOG/DOCK/", "LOG/GaviroEVENT/",
                                "LOG/GaviroCAL/", "LOG/GaviroBUMP/"})
            QDir().mkpath(transfer + sub);
        writeAll(drive + "CONFIG/DOCKINFORM.CFG", kIdentity);
        usb.FUsbDrive = drive;
        usb.OnInform = [this](const QString& s) { informed << s; };
    }

    void file(const QString& rel, const QByteArray& content = "x")
    {
        writeAll(drive + rel, content);
    }

    // Every file below a folder, as paths relative to it.
    static QStringList filesBelow(const QString& root)
    {
        QStringList out;
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(root).relativeFilePath(it.next());
        out.sort();
        return out;
    }
};

RCfgList cfg(const QString& usbFile, const QString& saveFile)
{
    RCfgList e;
    e.mUsbFile = usbFile;
    e.mSaveFile = saveFile;
    return e;
}

} // namespace

// ---- finding the drive ----

TEST_F(USBDiskTest, OpenTakesTheLastRemovableDockInSortedOrder)
{
    const QString a = tmp.path() + "/vol_a";
    const QString b = tmp.path() + "/vol_b";
    const QString c = tmp.path() + "/vol_c"; // no identity file: not a dock
    writeAll(a + "/CONFIG/DOCKINFORM.CFG", kIdentity);
    writeAll(b + "/config/DockInform.cfg", kIdentity); // any letter case
    QDir().mkpath(c + "/CONFIG");
    usb.FUsbDrive.clear();
    usb.RemovableRoots = [&] { return QStringList{b, c, a}; };
    ScriptedOperatorPort port;
    usb.Port = &port;
    ASSERT_TRUE(usb.OpenComm(QString()));
    EXPECT_EQ(usb.UsbDrive(), b + "/");
    EXPECT_EQ(informed.value(0), "USB drive selected ... " + b + "/");
    EXPECT_TRUE(port.questions.isEmpty()); // no picker when a dock was found
}

TEST_F(USBDiskTest, OpenWithoutADockAsksForAFolder)
{
    ScriptedOperatorPort port;
    usb.Port = &port;
    usb.RemovableRoots = [] { return QStringList{}; };

    // a picked folder holding the identity file is the drive itself
    port.folderAnswers = {QDir::cleanPath(drive)};
    ASSERT_TRUE(usb.OpenComm(QString()));
    EXPECT_EQ(usb.UsbDrive(), drive);

    // a folder deep inside a volume stands for that volume's root
    const QString deep = tmp.path() + "/some/where/deep";
    QDir().mkpath(deep);
    port.folderAnswers = {deep};
    ASSERT_TRUE(usb.OpenComm(QString()));
    QString volumeRoot = QStorageInfo(deep).rootPath();
    if (!volumeRoot.endsWith('/'))
        volumeRoot += '/';
    EXPECT_EQ(usb.UsbDrive(), volumeRoot);

    // cancelled: no drive, the last one is kept, and it is the person's choice, not an error
    usb.FUsbDrive = drive;
    port.folderAnswers = {QString()};
    EXPECT_FALSE(usb.OpenComm(QString()));
    EXPECT_EQ(usb.FErrStr, "T542");
    EXPECT_TRUE(usb.FNoChoice);
    EXPECT_EQ(usb.UsbDrive(), drive);

    // nobody to ask
    usb.Port = nullptr;
    EXPECT_FALSE(usb.OpenComm(QString()));
}

// ---- identity ----

TEST_F(USBDiskTest, IdentityKeysAreExactAndTheLaterLineWins)
{
    QString sn, ver;
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_OK);
    EXPECT_EQ(sn, "D1234");
    EXPECT_EQ(ver, "1.07");

    file("CONFIG/DOCKINFORM.CFG", "Serial Number=OLD\nSerial Number = NEW = junk\nFw Version\n");
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_OK);
    EXPECT_EQ(sn, "NEW");
    EXPECT_TRUE(ver.isEmpty());

    file("CONFIG/DOCKINFORM.CFG", "serial number = D1\nFw Version = 2\n");
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_NO_DEVICEINFO);
    EXPECT_TRUE(sn.isEmpty());

    file("CONFIG/DOCKINFORM.CFG", "Serial Number =   \n");
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_NO_DEVICEINFO);

    QFile::remove(drive + "CONFIG/DOCKINFORM.CFG");
    QDir().mkpath(drive + "CONFIG/DOCKINFORM.CFG"); // a folder in its place
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_NO_DEVICEINFO);

    usb.FUsbDrive.clear();
    EXPECT_EQ(usb.GetDeviceInfo(sn, ver), USBDISK_COMM_NO_DEVICEINFO);
}

// ---- configuration files ----

TEST_F(USBDiskTest, LoadConfigFilesCopiesWhatIsThereAndReportsTheMissing)
{
    file("CONFIG/dock/dock.cfg", "dock"); // spelled in lower case on the drive
    file("CONFIG/GD/CO.CFG", "co");
    QVector<RCfgList> list = {cfg(drive + "CONFIG/DOCK/DOCK.CFG", transfer + "DOCK.CFG"),
                              cfg(drive + "CONFIG/GD/H2S.CFG", transfer + "H2S.CFG"),
                              cfg(drive + "CONFIG/GD/CO.CFG", transfer + "CO.CFG"),
                              cfg(drive + "CONFIG/DOCKINFORM.CFG", transfer + "DOCKINFORM.CFG")};
    EXPECT_FALSE(usb.LoadConfigFiles(list));
    EXPECT_EQ(usb.FErrStr, "T603");
    EXPECT_EQ(readAll(transfer + "DOCK.CFG"), "dock");
    EXPECT_EQ(readAll(transfer + "CO.CFG"), "co");
    EXPECT_EQ(readAll(transfer + "DOCKINFORM.CFG"), kIdentity);
    EXPECT_FALSE(QFile::exists(transfer + "H2S.CFG"));
    EXPECT_EQ(informed, QStringList({"Copy " + drive + "CONFIG/DOCK/DOCK.CFG",
                                     "Copy " + drive + "CONFIG/GD/CO.CFG",
                                     "Copy " + drive + "CONFIG/DOCKINFORM.CFG"}));
    EXPECT_TRUE(usb.DockInfoSN().isEmpty());

    // all there: the identity is read from the drive
    QFile::remove(transfer + "DOCK.CFG");
    QVector<RCfgList> one = {cfg(drive + "CONFIG/DOCK/DOCK.CFG", transfer + "DOCK.CFG")};
    informed.clear();
    EXPECT_TRUE(usb.LoadConfigFiles(one));
    EXPECT_TRUE(usb.FErrStr.isEmpty());
    EXPECT_EQ(usb.DockInfoSN(), "D1234");
    EXPECT_EQ(usb.DockInfoVersion(), "1.07");
    EXPECT_EQ(informed.last(), "SN : D1234  VERSION : 1.07");

    // an existing copy is not overwritten: the run fails
    writeAll(transfer + "DOCK.CFG", "older");
    informed.clear();
    EXPECT_FALSE(usb.LoadConfigFiles(one));
    EXPECT_EQ(usb.FErrStr, "T603");
    EXPECT_EQ(readAll(transfer + "DOCK.CFG"), "older");
    EXPECT_EQ(informed, QStringList({"Copy " + drive + "CONFIG/DOCK/DOCK.CFG...Failed"}));
}

TEST_F(USBDiskTest, LoadConfigFilesReportsAnUnreadableIdentityAndAMissingDrive)
{
    file("CONFIG/DOCKINFORM.CFG", "serial number = D1\n");
    QVector<RCfgList> list = {cfg(drive + "CONFIG/DOCKINFORM.CFG", transfer + "DOCKINFORM.CFG")};
    EXPECT_FALSE(usb.LoadConfigFiles(list));
    EXPECT_EQ(usb.FErrStr, "T604");

    usb.FUsbDrive = tmp.path() + "/gone/";
    EXPECT_FALSE(usb.LoadConfigFiles(list));
    EXPECT_EQ(usb.FErrStr, "T602");
    EXPECT_FALSE(usb.SaveConfigFiles(list));
    EXPECT_EQ(usb.FErrStr, "T602");
}

TEST_F(USBDiskTest, SaveConfigFilesFailsWhereverTheFailingEntryStands)
{
    file("CONFIG/DOCK/DOCK.CFG", "old dock");
    file("CONFIG/gd/co.cfg", "old co");
    writeAll(transfer + "DOCK.CFG", "new dock");
    writeAll(transfer + "CO.CFG", "new co");
    const RCfgList dock = cfg(drive + "CONFIG/DOCK/DOCK.CFG", transfer + "DOCK.CFG");
    const RCfgList co = cfg(drive + "CONFIG/GD/CO.CFG", transfer + "CO.CFG");
    const RCfgList missing = cfg(drive + "CONFIG/GD/O2.CFG", transfer + "O2.CFG");

    for (int pos = 0; pos < 3; ++pos) {
        QVector<RCfgList> list = {dock, co};
        list.insert(pos, missing);
        informed.clear();
        EXPECT_FALSE(usb.SaveConfigFiles(list)) << pos;
        EXPECT_EQ(usb.FErrStr, "T605");
        EXPECT_TRUE(informed.contains("Copy " + transfer + "O2.CFG...failed"));
        EXPECT_TRUE(informed.contains("Delete " + drive + "CONFIG/DOCK/DOCK.CFG"));
        EXPECT_TRUE(informed.contains("Copy " + transfer + "DOCK.CFG"));
    }
    EXPECT_EQ(readAll(drive + "CONFIG/DOCK/DOCK.CFG"), "new dock");
    EXPECT_EQ(readAll(drive + "CONFIG/gd/co.cfg"), "new co"); // replaced under its own spelling
    EXPECT_FALSE(QFile::exists(drive + "CONFIG/GD/O2.CFG"));

    QVector<RCfgList> good = {dock, co};
    EXPECT_TRUE(usb.SaveConfigFiles(good));
    EXPECT_TRUE(usb.FErrStr.isEmpty());
    EXPECT_EQ(filesBelow(drive + "CONFIG"),
              QStringList({"DOCK/DOCK.CFG", "DOCKINFORM.CFG", "gd/co.cfg"}));
}

TEST_F(USBDiskTest, SaveConfigFilesKeepsTheDocksFileWhenItCannotBeReplaced)
{
    // something that cannot be deleted stands where the file goes
    file("CONFIG/GD/H2S.CFG/inside", "keep");
    writeAll(transfer + "H2S.CFG", "new");
    QVector<RCfgList> list = {cfg(drive + "CONFIG/GD/H2S.CFG", transfer + "H2S.CFG")};
    EXPECT_FALSE(usb.SaveConfigFiles(list));
    EXPECT_EQ(usb.FErrStr, "T605");
    EXPECT_EQ(informed, QStringList({"Delete " + drive + "CONFIG/GD/H2S.CFG...failed"}));
    EXPECT_EQ(filesBelow(drive + "CONFIG/GD"), QStringList({"H2S.CFG/inside"}));
}

TEST_F(USBDiskTest, SaveConfigFilesIntoAReadOnlyFolderFails)
{
    // the old file stays as it was
    file("CONFIG/DOCK/DOCK.CFG", "old");
    writeAll(transfer + "DOCK.CFG", "new");
    const QString folder = drive + "CONFIG/DOCK";
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool enforced = !QFile(folder + "/probe").open(QIODevice::WriteOnly);
    QFile::remove(folder + "/probe");
    if (enforced) {
        QVector<RCfgList> ro = {cfg(drive + "CONFIG/DOCK/DOCK.CFG", transfer + "DOCK.CFG")};
        EXPECT_FALSE(usb.SaveConfigFiles(ro));
        EXPECT_EQ(usb.FErrStr, "T605");
        EXPECT_EQ(readAll(folder + "/DOCK.CFG"), "old");
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(filesBelow(folder), QStringList({"DOCK.CFG"})); // no temporary left behind
    if (!enforced)
        GTEST_SKIP() << "permissions are not enforced for this user";
}

// ---- firmware ----

TEST_F(USBDiskTest, LoadFirmwaresCopiesImagesAndChoosesTheNewest)
{
    file("FW/dock/OLD.IMG", linktest::dockImage(12, 0, 1));
    file("FW/dock/new.img", linktest::dockImage(21, 0, 2));
    file("FW/dock/notes.txt", "not an image");
    file("FW/GD/G.IMG", linktest::gdImage(31));
    writeAll(transfer + "FW/GD/G.IMG", "stale"); // an existing copy stays
    usb.LoadFirmwares();
    EXPECT_EQ(filesBelow(transfer + "FW"),
              QStringList({"DOCK/OLD.IMG", "DOCK/new.img", "GD/G.IMG"}));
    EXPECT_EQ(usb.FFwList.mDockFile.mName, transfer + "FW/DOCK/new.img");
    EXPECT_EQ(usb.FFwList.mDockFile.mVersion, 21);
    EXPECT_TRUE(usb.FFwList.mGDFile.mName.isEmpty()); // the stale copy is no image
    EXPECT_EQ(informed,
              QStringList({"Load " + drive + "FW/dock/OLD.IMG", "Load " + drive + "FW/dock/new.img",
                           "LOAD " + drive + "FW/GD/G.IMG... failed"}));
}

TEST_F(USBDiskTest, SaveFirmwareReplacesTheImagesOfTheKind)
{
    const QString src = tmp.path() + "/pc/NEW.IMG";
    writeAll(src, linktest::dockImage(30));
    EXPECT_FALSE(usb.SaveFirmware(UNIT_FWTYPE_DOCK, tmp.path() + "/pc/none.img"));
    EXPECT_EQ(usb.FErrStr, "T608");
    EXPECT_FALSE(usb.SaveFirmware(5, src));
    EXPECT_EQ(usb.FErrStr, "T606");
    usb.FUsbDrive = tmp.path() + "/gone/";
    EXPECT_FALSE(usb.SaveFirmware(UNIT_FWTYPE_DOCK, src));
    EXPECT_EQ(usb.FErrStr, "T602");
    usb.FUsbDrive = drive;

    // no folder yet: it is made
    informed.clear();
    EXPECT_TRUE(usb.SaveFirmware(UNIT_FWTYPE_GD, src));
    EXPECT_EQ(filesBelow(drive + "FW"), QStringList({"GD/NEW.IMG"}));
    EXPECT_EQ(informed, QStringList({"copy " + drive + "FW/GD/NEW.IMG"}));

    file("FW/dock/a.img", "a");
    file("FW/dock/B.IMG", "b");
    file("FW/dock/keep.txt", "k");
    informed.clear();
    EXPECT_TRUE(usb.SaveFirmware(UNIT_FWTYPE_DOCK, src));
    EXPECT_TRUE(usb.FErrStr.isEmpty());
    EXPECT_EQ(filesBelow(drive + "FW/dock"), QStringList({"NEW.IMG", "keep.txt"}));
    EXPECT_EQ(readAll(drive + "FW/dock/NEW.IMG"), readAll(src));
    EXPECT_EQ(informed,
              QStringList({"Delete " + drive + "FW/dock/B.IMG", "Delete " + drive + "FW/dock/a.img",
                           "copy " + drive + "FW/dock/NEW.IMG"}));
}

TEST_F(USBDiskTest, SaveFirmwareNeverLosesTheImageItIsGiven)
{
    // the image chosen from the dock's own folder survives the clean-up
    const QByteArray img = linktest::gdImage(40);
    file("FW/GD/MINE.IMG", img);
    file("FW/GD/OTHER.IMG", "o");
    EXPECT_TRUE(usb.SaveFirmware(UNIT_FWTYPE_GD, drive + "FW/GD/MINE.IMG"));
    EXPECT_EQ(filesBelow(drive + "FW/GD"), QStringList({"MINE.IMG"}));
    EXPECT_EQ(readAll(drive + "FW/GD/MINE.IMG"), img);

    // the folder cannot take the image (a file stands in its place): nothing deleted
    QDir(drive + "FW/DOCK").removeRecursively();
    file("FW/DOCK", "a file, not a folder");
    informed.clear();
    EXPECT_FALSE(usb.SaveFirmware(UNIT_FWTYPE_DOCK, drive + "FW/GD/MINE.IMG"));
    EXPECT_EQ(usb.FErrStr, "T607");
    EXPECT_EQ(informed, QStringList({"copy " + drive + "FW/DOCK/MINE.IMG... failed"}));
    EXPECT_EQ(readAll(drive + "FW/DOCK"), "a file, not a folder");
}

TEST_F(USBDiskTest, DeleteCodes)
{
    file("LOG/EVENT/A/x.CSV");
    QDir().mkpath(drive + "LOG/EVENT/EMPTY");
    EXPECT_EQ(usb.DeleteFile(drive + "LOG/EVENT/A/x.CSV"), USBDISK_COMM_OK);
    EXPECT_FALSE(QFile::exists(drive + "LOG/EVENT/A/x.CSV"));
    EXPECT_EQ(usb.DeleteFile(drive + "LOG/EVENT/A/x.CSV"), USBDISK_COMM_OK); // already gone
    EXPECT_EQ(usb.DeleteFile(drive + "LOG/EVENT/A"), USBDISK_COMM_DELETE_ERROR);

    file("LOG/EVENT/FULL/y.CSV");
    EXPECT_EQ(usb.DeleteDirectory(drive + "LOG/EVENT/FULL/"), USBDISK_COMM_DELETE_ERROR);
    EXPECT_TRUE(QFile::exists(drive + "LOG/EVENT/FULL/y.CSV"));
    EXPECT_EQ(usb.DeleteDirectory(drive + "LOG/EVENT/EMPTY/"), USBDISK_COMM_OK);
    EXPECT_FALSE(QFileInfo::exists(drive + "LOG/EVENT/EMPTY"));
    EXPECT_EQ(usb.DeleteDirectory(drive + "LOG/EVENT/EMPTY/"), USBDISK_COMM_DELETE_ERROR);

    // nothing outside the drive is touched
    writeAll(tmp.path() + "/outside.txt", "o");
    QDir().mkpath(tmp.path() + "/outdir");
    EXPECT_EQ(usb.DeleteFile(tmp.path() + "/outside.txt"), USBDISK_COMM_DELETE_ERROR);
    EXPECT_EQ(usb.DeleteFile(drive + "LOG/../../outside.txt"), USBDISK_COMM_DELETE_ERROR);
    EXPECT_EQ(usb.DeleteDirectory(tmp.path() + "/outdir"), USBDISK_COMM_DELETE_ERROR);
    EXPECT_EQ(usb.DeleteDirectory(drive), USBDISK_COMM_DELETE_ERROR);
    EXPECT_TRUE(QFile::exists(tmp.path() + "/outside.txt"));
    EXPECT_TRUE(QFileInfo(tmp.path() + "/outdir").isDir());
}

// ---- logs ----

namespace {

void makeLogTree(const QString& drive)
{
    writeAll(drive + "LOG/DOCK/D1234_TESTLOG_21_03.CSV", "d1");
    writeAll(drive + "LOG/DOCK/D1234_EVENT_2103151230.CSV", "not a dock log");
    writeAll(drive + "LOG/DOCK/readme.txt", "ignored");
    writeAll(drive + "LOG/event/G1_EVENT_2103151230.CSV", "e1");
    writeAll(drive + "LOG/event/G1_EVENT_2003151230.CSV", "year 20");
    writeAll(drive + "LOG/event/SUB/G2_EVENT_2104011200.csv", "e2");
    writeAll(drive + "LOG/event/SUB/DEEP/G3_EVENT_2105011200.CSV", "e3");
    writeAll(drive + "LOG/TEST/G1_BUMP_2103151231.XML", "bump");
    writeAll(drive + "LOG/TEST/G1_CAL_2103151232.xml", "cal");
    writeAll(drive + "LOG/TEST/G1_BUMP_2103151233.CSV", "wrong extension");
}

} // namespace

TEST_F(USBDiskTest, LogListIsOrderedByLevelAndClassified)
{
    makeLogTree(drive);
    QVector<RFileList> list;
    usb.LoadLogFileList(list, true);
    QStringList seen;
    for (const RFileList& e : list)
        seen << e.mLevelStr + " " + QDir(drive).relativeFilePath(e.mName) + " " +
                    QString::number(e.mOpt);
    const QStringList expected = {
        "001001 LOG/DOCK/D1234_EVENT_2103151230.CSV 0",
        "001002 LOG/DOCK/D1234_TESTLOG_21_03.CSV 1",
        "002002 LOG/event/G1_EVENT_2003151230.CSV 2",
        "002003 LOG/event/G1_EVENT_2103151230.CSV 2",
        "002001002 LOG/event/SUB/G2_EVENT_2104011200.csv 2",
        "002001001001 LOG/event/SUB/DEEP/G3_EVENT_2105011200.CSV 2",
        "003001 LOG/TEST/G1_BUMP_2103151231.XML 3",
        "003002 LOG/TEST/G1_CAL_2103151232.xml 4",
    };
    QStringList sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(seen, sortedExpected);

    for (const RFileList& e : list) {
        EXPECT_FALSE(e.mDir);
        if (e.mName.endsWith("G1_EVENT_2103151230.CSV")) {
            EXPECT_EQ(e.mAliasName, "G1");
            EXPECT_DOUBLE_EQ(e.mDate, EncodeDateTime(2021, 3, 15, 12, 30, 0));
        }
        if (e.mName.endsWith("D1234_TESTLOG_21_03.CSV")) {
            EXPECT_DOUBLE_EQ(e.mDate, EncodeDateTime(2021, 3, 1, 0, 0, 0));
        }
        if (e.mName.endsWith("G1_EVENT_2003151230.CSV")) { // year 20: the file's own time
            EXPECT_GT(e.mDate, EncodeDateTime(2024, 1, 1, 0, 0, 0));
            EXPECT_LE(e.mDate, NowDays() + 1.0 / 24);
        }
        if (e.mOpt == 0) {
            EXPECT_EQ(e.mDate, 0);
        }
    }

    usb.LoadLogFileList(list, false);
    ASSERT_EQ(list.size(), 6);
    EXPECT_TRUE(list[0].mLevelStr.startsWith("002"));
}

TEST_F(USBDiskTest, TestResultsAreListedEvenWithoutAnEventFolder)
{
    file("LOG/TEST/G1_CAL_2103151232.XML", "cal");
    file("LOG/DOCK/D1_TESTLOG_21_03.CSV", "d");
    QVector<RFileList> list;
    usb.LoadLogFileList(list, true);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].mOpt, UNIT_OPT_DOCK);
    EXPECT_EQ(list[1].mOpt, UNIT_OPT_GDCAL);

    usb.FUsbDrive = tmp.path() + "/gone/";
    usb.LoadLogFileList(list, true);
    EXPECT_TRUE(list.isEmpty());
}

TEST_F(USBDiskTest, LoadLogFilesCopiesIntoTheStagingFoldersWithProgress)
{
    makeLogTree(drive);
    ProgressRecorder progress;
    QStringList amounts;
    usb.Progress = &progress;
    usb.OnProgress = [&](qint64 n) {
        progress.events << QStringLiteral("progress %1").arg(n);
        EXPECT_LE(progress.allStart + n, progress.allEnd);
    };
    usb.FDevMode = true;
    usb.LoadLogFiles();

    EXPECT_EQ(
        filesBelow(transfer + "LOG"),
        QStringList({"DOCK/D1234_TESTLOG_21_03.CSV", "GaviroBUMP/G1_BUMP_2103151231.XML",
                     "GaviroCAL/G1_CAL_2103151232.xml", "GaviroEVENT/G1_EVENT_2003151230.CSV",
                     "GaviroEVENT/G1_EVENT_2103151230.CSV", "GaviroEVENT/G2_EVENT_2104011200.csv",
                     "GaviroEVENT/G3_EVENT_2105011200.CSV"}));
    EXPECT_EQ(readAll(transfer + "LOG/GaviroEVENT/G2_EVENT_2104011200.csv"), "e2");

    // sizes in list order: 14 + 2 + 2 + 2 + 7 + 2 + 4 + 3 = 36
    ASSERT_GE(progress.events.size(), 3);
    EXPECT_EQ(progress.events.first(), "start 36");
    EXPECT_EQ(progress.events.last(), "stop");
    EXPECT_EQ(progress.events[1],
              "ready Load : " + drive + "LOG/DOCK/D1234_TESTLOG_21_03.CSV 2 16 14");
    EXPECT_EQ(progress.events[2], "progress 2");
    EXPECT_EQ(progress.events.filter("ready").size(), 7);
    EXPECT_EQ(progress.events.filter("progress").size(), 7);

    ASSERT_EQ(usb.LogListCount(), 8);
    EXPECT_EQ(usb.GetLogList(0).mOpt, UNIT_OPT_NONE);
    EXPECT_FALSE(usb.GetLogList(0).mExists);
    EXPECT_EQ(usb.GetLogList(0).mSize, 14);
    for (int i = 1; i < 8; ++i)
        EXPECT_TRUE(usb.GetLogList(i).mExists) << i;
    EXPECT_TRUE(informed.contains("LOAD " + drive + "LOG/TEST/G1_BUMP_2103151231.XML"));

    const QString dump = platform::DecodeLegacy(readAll(transfer + "LOGFILE_USB.CSV"));
    const QStringList lines = dump.split("\r\n");
    ASSERT_EQ(lines.size(), 9); // eight lines and the empty rest
    EXPECT_EQ(lines[0], "FILE,001001," + drive + "LOG/DOCK/D1234_EVENT_2103151230.CSV,D1234,0,");
    EXPECT_EQ(lines[1],
              "FILE,001002," + drive + "LOG/DOCK/D1234_TESTLOG_21_03.CSV,D1234,17,21-03-01 00:00");
}

TEST_F(USBDiskTest, LoadLogFilesReplacesOldCopiesAndSurvivesVanishingFiles)
{
    file("LOG/EVENT/G1_EVENT_2103151230.CSV", "new");
    file("LOG/EVENT/G2_EVENT_2103151230.CSV", "vanishes");
    file("LOG/EVENT/G3_EVENT_2103151230.CSV", "blocked");
    writeAll(transfer + "LOG/GaviroEVENT/G1_EVENT_2103151230.CSV", "old copy");
    writeAll(transfer + "LOG/GaviroEVENT/G3_EVENT_2103151230.CSV/inside", "a folder");
    ProgressRecorder progress;
    progress.onReady = [&](const QString& caption) {
        if (caption.contains("G2_"))
            QFile::remove(drive + "LOG/EVENT/G2_EVENT_2103151230.CSV");
    };
    usb.Progress = &progress;
    usb.LoadLogFiles();
    EXPECT_EQ(readAll(transfer + "LOG/GaviroEVENT/G1_EVENT_2103151230.CSV"), "new");
    EXPECT_FALSE(QFileInfo::exists(transfer + "LOG/GaviroEVENT/G2_EVENT_2103151230.CSV"));
    EXPECT_EQ(
        informed,
        QStringList({"LOAD " + drive + "LOG/EVENT/G1_EVENT_2103151230.CSV",
                     "LOAD " + drive + "LOG/EVENT/G2_EVENT_2103151230.CSV... file save error",
                     "LOAD " + drive + "LOG/EVENT/G3_EVENT_2103151230.CSV... file save error"}));
    ASSERT_EQ(usb.LogListCount(), 3);
    EXPECT_TRUE(usb.GetLogList(0).mExists);
    EXPECT_FALSE(usb.GetLogList(1).mExists);
    EXPECT_FALSE(usb.GetLogList(2).mExists);
    // no partial or temporary file anywhere in the staging area
    EXPECT_EQ(filesBelow(transfer + "LOG/GaviroEVENT"),
              QStringList({"G1_EVENT_2103151230.CSV", "G3_EVENT_2103151230.CSV/inside"}));
}

TEST_F(USBDiskTest, HostileLogNamesAreListedButNeverWritten)
{
    const QStringList hostile = {"G9.._EVENT_2103151230.CSV",
                                 "G9_EVENT_2103151230..CSV",
                                 "a\\..\\..\\G9_EVENT_2103151230.CSV",
                                 "C:G9_EVENT_2103151230.CSV",
                                 "G9_EVENT_2103151230|x.CSV",
                                 "G9_EVENT_2103151230\x01.CSV",
                                 "G9_EVENT_2103151230?.CSV"};
    int made = 0;
    for (const QString& name : hostile) {
        QFile f(drive + "LOG/EVENT/" + name);
        QDir().mkpath(drive + "LOG/EVENT");
        if (f.open(QIODevice::WriteOnly)) {
            f.write("evil");
            ++made;
        }
    }
    if (made == 0)
        GTEST_SKIP() << "this file system takes none of the names";
    file("LOG/EVENT/G1_EVENT_2103151230.CSV", "good");
    const QStringList outsideBefore = filesBelow(tmp.path());
    usb.LoadLogFiles();

    EXPECT_EQ(filesBelow(transfer + "LOG"), QStringList({"GaviroEVENT/G1_EVENT_2103151230.CSV"}));
    EXPECT_EQ(filesBelow(tmp.path()).size(), outsideBefore.size() + 1);
    EXPECT_EQ(usb.LogListCount(), made + 1);
    EXPECT_EQ(informed.filter("... file save error").size(), made);
    for (int i = 0; i < usb.LogListCount(); ++i) {
        const RUnitLogList e = usb.GetLogList(i);
        EXPECT_EQ(e.mExists, e.mName.endsWith("/G1_EVENT_2103151230.CSV")) << e.mName.toStdString();
    }
}

TEST_F(USBDiskTest, EmptyLogTreeDoesNothing)
{
    ProgressRecorder progress;
    usb.Progress = &progress;
    usb.FDevMode = true;
    usb.LoadLogFiles();
    EXPECT_TRUE(progress.events.isEmpty());
    EXPECT_EQ(usb.LogListCount(), 0);
    EXPECT_FALSE(QFile::exists(transfer + "LOGFILE_USB.CSV"));
}

TEST_F(USBDiskTest, DirListHoldsOnlyEmptySubFolders)
{
    QDir().mkpath(drive + "LOG/EVENT/A/B"); // A holds only an empty folder
    file("LOG/EVENT/C/x.CSV");              // a file
    file("LOG/EVENT/H/.hidden");            // a hidden file still counts
    file("LOG/EVENT/N/notes.txt");          // files of any name count
    QDir().mkpath(drive + "LOG/test/D");
    QDir().mkpath(drive + "LOG/test/E/F/G");
    QVector<RFileList> list;
    usb.LoadLogDirList(list);
    QStringList seen;
    for (const RFileList& e : list) {
        EXPECT_TRUE(e.mDir);
        EXPECT_EQ(e.mSize, 0);
        seen << e.mLevelStr + " " + QDir(drive).relativeFilePath(e.mName);
    }
    EXPECT_EQ(seen, QStringList({"002001001 LOG/EVENT/A/B", "003001 LOG/test/D",
                                 "003002001001 LOG/test/E/F/G"}));

    // the listed folders can be deleted as given
    for (const RFileList& e : list)
        EXPECT_EQ(usb.DeleteDirectory(e.mName), USBDISK_COMM_OK);
    usb.LoadLogDirList(list);
    ASSERT_EQ(list.size(), 2); // A and F are empty now
    EXPECT_EQ(QDir(drive).relativeFilePath(list[0].mName), "LOG/EVENT/A");
}

TEST_F(USBDiskTest, PathsOnTheDriveAreMatchedWithoutRegardToCase)
{
    file("CONFIG/Dock/dock.CFG", "d");
    EXPECT_EQ(usb.DrivePath("CONFIG/DOCK/DOCK.CFG"), drive + "CONFIG/Dock/dock.CFG");
    EXPECT_EQ(usb.DrivePath("CONFIG/DOCK/"), drive + "CONFIG/Dock/");
    EXPECT_EQ(usb.DrivePath("CONFIG/GD/CO.CFG"), drive + "CONFIG/GD/CO.CFG");
    EXPECT_EQ(usb.ResolveDrivePath(drive + "CONFIG/DOCK/DOCK.CFG"), drive + "CONFIG/Dock/dock.CFG");
    EXPECT_EQ(usb.ResolveDrivePath("/elsewhere/X"), "/elsewhere/X");
}
