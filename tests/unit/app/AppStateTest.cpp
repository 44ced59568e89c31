#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/AppState.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using testsupport::ScopedTempRoot;

namespace {

QString settingsText(const AppState& st, const QString& id)
{
    for (const SettingKey& k : SettingsKeyTable(st))
        if (k.section + '/' + k.key == id)
            return SettingValueText(st, k);
    return QStringLiteral("<missing %1>").arg(id);
}

void writeSettings(const QByteArray& content)
{
    testsupport::writeAll(AppState::SettingsFilePath(), content);
}

} // namespace

TEST(AppStateSettings, FirstRunGivesDefaultsAndCreatesFolders)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();

    for (const char* sub : {"FW/DOCK", "FW/GD", "LOG/DOCK", "LOG/GaviroEVENT", "LOG/GaviroCAL",
                            "LOG/GaviroBUMP"})
        EXPECT_TRUE(QFileInfo(tmp.transferFolder() + sub).isDir()) << sub;
    EXPECT_EQ(st.FLogDestDir, QDir::homePath() + "/GAVIRODOCK/");
    EXPECT_TRUE(QFileInfo(st.FLogDestDir).isDir());
    EXPECT_EQ(settingsText(st, "ETC/PurgeDay"), "90");
    EXPECT_EQ(settingsText(st, "ETC/AutoPurge"), "1");
    EXPECT_EQ(settingsText(st, "EMAIL/Port"), "587");
    EXPECT_EQ(settingsText(st, "EMAIL/UseSSL"), "1");
    EXPECT_EQ(settingsText(st, "NETWORK/Port"), "7000");
    EXPECT_EQ(settingsText(st, "NETWORK/SubnetMask"), "255.255.255.0");
    EXPECT_EQ(settingsText(st, "SET/DateFormat"), "0");
    EXPECT_EQ(settingsText(st, "SCH/Time1"), "02:10:00");
    EXPECT_EQ(settingsText(st, "SCH/Time4"), "20:10:00");
    EXPECT_EQ(settingsText(st, "SCH/Time3_Week7"), "0");
    EXPECT_EQ(settingsText(st, "ALERT/DayStartTime"), "06:00:00");
    EXPECT_FALSE(st.FAutoMode);
    EXPECT_EQ(st.settings.DockLanUdpPortEdit, 7000);
    // One empty row under the header when there are no testers.
    EXPECT_EQ(st.testerGrid.gridRowCount(), 2);
}

TEST(AppStateSettings, LogDestinationRules)
{
    ScopedTempRoot tmp;
    AppState st;
    // A bare root is refused, with or without its slash.
    for (const char* bare : {"/", "C:", " / "}) {
        writeSettings(QByteArray("[SET]\nLogDestination=") + bare + "\n");
        st.GetSetting();
        EXPECT_EQ(st.FLogDestDir, QDir::homePath() + "/GAVIRODOCK/") << bare;
    }

    const QString dest = tmp.path() + "/store";
    writeSettings(("[SET]\nLogDestination=" + dest + "\n").toUtf8());
    st.GetSetting();
    EXPECT_EQ(st.FLogDestDir, dest + "/");
    EXPECT_TRUE(QFileInfo(dest).isDir());

    EXPECT_EQ(AppState::AddLastSlash(""), "");
    EXPECT_EQ(AppState::AddLastSlash("   "), "");
    EXPECT_EQ(AppState::AddLastSlash(" /a "), " /a /");
    EXPECT_EQ(AppState::AddLastSlash("/a/"), "/a/");
}

TEST(AppStateSettings, WrongKindsAndGarbageGiveDefaults)
{
    ScopedTempRoot tmp;
    QByteArray junk("[ETC]\nPurgeDay=lots\nAutoPurge=maybe\n[EMAIL]\nPort=99999999999\n"
                    "[SCH]\nTime2=quarter past\n[SET]\nDateFormat=7\n[PRINT]\nType=-3\nTop=x\n");
    // Text junk only: a file with binary data is set aside whole (tested elsewhere).
    junk.append(QByteArray(200000, 'z'));
    writeSettings(junk);
    AppState st;
    st.StartUp();
    EXPECT_EQ(st.settings.ConfigSetEtcPurgeDayEdit, 90);
    EXPECT_TRUE(st.settings.ConfigSetEtcAutoPurgeCheck);
    EXPECT_EQ(st.settings.ConfigSendEmailSvrPortEdit, 587);
    EXPECT_EQ(settingsText(st, "SCH/Time2"), "08:00:00"); // present but unreadable
    EXPECT_EQ(settingsText(st, "SCH/Time1"), "02:10:00"); // absent
    EXPECT_EQ(st.settings.ConfigSetDateRadio, 0);
    EXPECT_EQ(st.settings.ConfigPrNPrintTypeCombo, 0);
    EXPECT_EQ(st.settings.ConfigPrnMarginTopEdit, 5);
}

TEST(AppStateSettings, SaveNormalisesAndKeepsForeignLines)
{
    ScopedTempRoot tmp;
    writeSettings("; kept comment\r\n[SET]\r\nLevelDev=1\r\nSomethingElse=abc\r\n");
    AppState st;
    st.StartUp();
    st.settings.ConfigPrNNetworkSubnetEdit = "255.255.300.x";
    st.settings.ConfigSendOptDirEdit = "/srv/copy";
    ASSERT_TRUE(st.SaveSetting());

    IniFile ini(AppState::SettingsFilePath());
    EXPECT_EQ(ini.readString("NETWORK", "SubnetMask", ""), "255.255.0.0");
    EXPECT_EQ(ini.readString("SET", "SomethingElse", ""), "abc");
    EXPECT_EQ(ini.readString("SET", "LevelDev", ""), "1");
    const QByteArray raw = testsupport::readAll(AppState::SettingsFilePath());
    EXPECT_TRUE(raw.startsWith("; kept comment\r\n"));

    AppState again;
    again.StartUp();
    EXPECT_EQ(again.settings.ConfigSendOptDirEdit, "/srv/copy/");
    EXPECT_EQ(again.FLogDestDir, st.FLogDestDir);
}

TEST(AppStateSettings, SaveIntoUnwritableFolderFailsWithMessage)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();
    // A file where the transfer folder should be makes every write fail.
    QDir(tmp.transferFolder()).removeRecursively();
    testsupport::writeAll(QDir::cleanPath(tmp.transferFolder()), "not a folder");
    QString err;
    EXPECT_FALSE(st.MakeDefaultDirectory(&err));
    EXPECT_FALSE(err.isEmpty());
    err.clear();
    EXPECT_FALSE(st.SaveSetting(&err));
    EXPECT_TRUE(err.contains("DOCK_KM1.INI")) << err.toStdString();
}

namespace {

QFileDevice::Permissions othersAccess(const QString& path)
{
    return QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                       QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                       QFileDevice::WriteOther | QFileDevice::ExeOther);
}

} // namespace

// The settings hold the mail password: the folder is the user's alone, the file too,
// also when an older run left them open to others.
TEST(AppStateTransferFolder, FolderAndSettingsFileArePrivate)
{
    ScopedTempRoot tmp;
    AppState st;
    ASSERT_TRUE(st.StartUp());
    const QString folder = QDir::cleanPath(tmp.transferFolder());
    ASSERT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(othersAccess(folder), QFileDevice::Permissions{});
    st.settings.ConfigSendEmailSvrPwEdit = "s3cret";
    ASSERT_TRUE(st.SaveSetting());
    EXPECT_EQ(othersAccess(AppState::SettingsFilePath()), QFileDevice::Permissions{});
    EXPECT_TRUE(QFile::permissions(AppState::SettingsFilePath()) & QFileDevice::ReadOwner);

    QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile::setPermissions(AppState::SettingsFilePath(),
                          QFile::permissions(AppState::SettingsFilePath()) | QFileDevice::ReadOther);
    AppState again;
    ASSERT_TRUE(again.StartUp());
    EXPECT_EQ(again.settings.ConfigSendEmailSvrPwEdit, "s3cret");
    EXPECT_EQ(othersAccess(folder), QFileDevice::Permissions{});
    ASSERT_TRUE(again.SaveSetting());
    EXPECT_EQ(othersAccess(AppState::SettingsFilePath()), QFileDevice::Permissions{});
    // The command line's route writes the file the same way.
    QString err;
    ASSERT_EQ(again.SetSettingsFromText({"ETC/PurgeDay=30"}, &err), SetResult::Ok) << err.toStdString();
    EXPECT_EQ(othersAccess(AppState::SettingsFilePath()), QFileDevice::Permissions{});
}

// A link planted where the transfer folder belongs is refused: nothing is read
// from it and nothing is written through it.
TEST(AppStateTransferFolder, PlantedLinkIsRefusedWithAClearMessage)
{
    ScopedTempRoot tmp;
    const QString elsewhere = tmp.path() + "/planted";
    testsupport::writeAll(elsewhere + "/DOCK_KM1.INI", "[EMAIL]\r\nServer=mail.attacker.test\r\n");
    const QByteArray planted = testsupport::readAll(elsewhere + "/DOCK_KM1.INI");
    const QString folder = QDir::cleanPath(tmp.transferFolder());
    QDir().mkpath(QFileInfo(folder).path());
    ASSERT_TRUE(QFile::link(elsewhere, folder));

    ScriptedOperatorPort port;
    AppState st(&port);
    EXPECT_FALSE(st.StartUp());
    ASSERT_GE(port.messages.size(), 1); // (and the note on the built-in English texts)
    EXPECT_TRUE(port.messages[0].contains(folder)) << port.messages[0].toStdString();
    EXPECT_TRUE(port.messages[0].contains("is a link")) << port.messages[0].toStdString();
    EXPECT_EQ(st.settings.ConfigSendEmailSvrEdit, "");

    st.settings.ConfigSendEmailSvrPwEdit = "s3cret";
    QString err;
    EXPECT_FALSE(st.SaveSetting(&err));
    EXPECT_TRUE(err.contains("is a link")) << err.toStdString();
    EXPECT_EQ(st.SetSettingsFromText({"EMAIL/PW=s3cret"}, &err), SetResult::Failed);
    EXPECT_EQ(testsupport::readAll(elsewhere + "/DOCK_KM1.INI"), planted);
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"DOCK_KM1.INI"});
}

#ifndef _WIN32
// Only root can hand a folder to another user, so this runs where the tests run as root (CI).
TEST(AppStateTransferFolder, ForeignFolderAndForeignOldSettingsAreRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of another user";
    ScopedTempRoot tmp;
    // An older settings file of another user in the temporary folder is not taken over.
    const QString legacy = tmp.tmpDir() + "/TREVASK/DOCK_KM1.INI";
    testsupport::writeAll(legacy, "[EMAIL]\r\nServer=mail.attacker.test\r\n");
    ASSERT_EQ(::chown(QFile::encodeName(legacy).constData(), 65534, 65534), 0);
    {
        AppState st;
        ASSERT_TRUE(st.StartUp());
        EXPECT_EQ(st.settings.ConfigSendEmailSvrEdit, "");
        EXPECT_FALSE(QFileInfo::exists(AppState::SettingsFilePath()));
    }
    const QString folder = QDir::cleanPath(tmp.transferFolder());
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    ScriptedOperatorPort port;
    AppState st(&port);
    EXPECT_FALSE(st.StartUp());
    ASSERT_GE(port.messages.size(), 1); // (and the note on the built-in English texts)
    EXPECT_TRUE(port.messages[0].contains("belongs to another user")) << port.messages[0].toStdString();
    QString err;
    EXPECT_FALSE(st.SaveSetting(&err));
}
#endif

// Settings an older version kept in the temporary folder are taken over on the
// first start, once; later starts keep what the new folder holds.
TEST(AppStateTransferFolder, OlderSettingsAreTakenOverOnce)
{
    ScopedTempRoot tmp;
    const QString legacy = tmp.tmpDir() + "/TREVASK/";
    testsupport::writeAll(legacy + "DOCK_KM1.INI", "[ETC]\r\nPurgeDay=45\r\n[EMAIL]\r\nPW=old\r\n");
    const QByteArray langList = "[LANGUAGE]\r\n1=ENGLISH,Courier,1\r\n";
    testsupport::writeAll(legacy + "GDDockLang.INI", langList);
    {
        AppState st;
        ASSERT_TRUE(st.StartUp());
        EXPECT_EQ(st.settings.ConfigSetEtcPurgeDayEdit, 45);
        EXPECT_EQ(st.settings.ConfigSendEmailSvrPwEdit, "old");
        EXPECT_EQ(testsupport::readAll(tmp.transferFolder() + "GDDockLang.INI"), langList);
        EXPECT_EQ(othersAccess(AppState::SettingsFilePath()), QFileDevice::Permissions{});
        st.settings.ConfigSetEtcPurgeDayEdit = 60;
        ASSERT_TRUE(st.SaveSetting());
    }
    testsupport::writeAll(legacy + "DOCK_KM1.INI", "[ETC]\r\nPurgeDay=10\r\n");
    AppState again;
    ASSERT_TRUE(again.StartUp());
    EXPECT_EQ(again.settings.ConfigSetEtcPurgeDayEdit, 60);
}

TEST(AppStateTesters, LoadSaveAndGridRules)
{
    ScopedTempRoot tmp;
    writeSettings("[USER]\nAnna=Acme,Safety\nBert=Solo\n[SET]\nLastUser=Bert\n");
    AppState st;
    st.StartUp();
    ASSERT_EQ(st.FUserNameList, QStringList({"Anna", "Bert"}));
    EXPECT_EQ(st.FUserCompanyList[1], "Solo");
    EXPECT_EQ(st.FUserPartList[1], "");
    EXPECT_EQ(st.PrintResUserComboIndex, 1);
    EXPECT_EQ(st.testerGrid.gridRowCount(), 3);

    // Delete needs a selection and more than two grid rows.
    TesterGrid& g = st.testerGrid;
    EXPECT_FALSE(g.deleteSelectedRow());
    g.insertRow();
    EXPECT_EQ(g.gridRowCount(), 4);
    g.rows[2] = {"   ", "Ghost Co", "Nowhere"}; // blank name: dropped on take-over
    g.selectCell(1);                           // Anna
    EXPECT_TRUE(g.deleteSelectedRow());
    EXPECT_EQ(g.rows.first()[0], "Bert");
    st.UserDataSave();
    EXPECT_EQ(st.FUserNameList, QStringList({"Bert"}));
    EXPECT_EQ(g.FUserSel, -1);
    ASSERT_TRUE(st.SaveSetting());

    IniFile ini(AppState::SettingsFilePath());
    EXPECT_EQ(ini.keys("USER"), QStringList({"Bert"}));
    EXPECT_EQ(ini.readString("USER", "Bert", ""), "Solo,"); // saved back with its comma
    EXPECT_EQ(ini.readString("SET", "LastUser", ""), "Bert");

    // The last remaining row cannot be deleted.
    st.UserDataLoad();
    g.selectCell(1);
    EXPECT_FALSE(g.deleteSelectedRow());
}

TEST(AppStateSchedule, ToggleAndTimesSurviveSave)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();
    st.ToggleScheduleDay(2, 3);
    st.ToggleScheduleDay(4, 7);
    st.ToggleScheduleDay(4, 7);
    st.ToggleScheduleDay(5, 1); // outside the grid: ignored
    st.SetScheduleTime(1, 13.5 / 24.0);
    EXPECT_TRUE(st.FTimeSchChanged);
    ASSERT_TRUE(st.SaveSetting());

    AppState again;
    again.StartUp();
    EXPECT_TRUE(again.FTimeSch[2].mDayOfWeek[3]);
    EXPECT_FALSE(again.FTimeSch[4].mDayOfWeek[7]);
    EXPECT_EQ(settingsText(again, "SCH/Time1"), "13:30:00");
}

TEST(AppStateSettings, ServiceLevelAndClosing)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();
    EXPECT_EQ(st.ServiceLevel(false), 0);
    EXPECT_EQ(st.ServiceLevel(true), 1);
    writeSettings("[SET]\nLevelDev=1\n");
    EXPECT_EQ(st.ServiceLevel(true), 2);
    EXPECT_EQ(st.ServiceLevel(false), 0);

    EXPECT_TRUE(st.FormCloseQuery());
    st.FExe = true;
    EXPECT_FALSE(st.FormCloseQuery());
    st.FExe = false;
    st.FAutoMode = true;
    EXPECT_FALSE(st.FormCloseQuery());
}

TEST(AppStateSettings, SetFromTextValidatesAndNormalises)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();
    QString err;
    EXPECT_EQ(st.SetSettingsFromText({"NETWORK/SubnetMask=255.255.300.x"}, &err), SetResult::Ok);
    EXPECT_EQ(IniFile(AppState::SettingsFilePath()).readString("NETWORK", "SubnetMask", ""),
              "255.255.0.0");
    EXPECT_EQ(st.SetSettingsFromText({"etc/purgeday=500", "EMAIL/UseSSL=no"}, &err), SetResult::Ok);
    EXPECT_EQ(st.settings.ConfigSetEtcPurgeDayEdit, 365);
    EXPECT_FALSE(st.settings.ConfigSendEmailSvrSSLCheck);
    EXPECT_EQ(st.SetSettingsFromText({"USER/Cleo=Acme,Lab"}, &err), SetResult::Ok);
    EXPECT_EQ(st.FUserNameList, QStringList({"Cleo"}));
    EXPECT_EQ(st.SetSettingsFromText({"USER/Cleo="}, &err), SetResult::Ok);
    EXPECT_TRUE(st.FUserNameList.isEmpty());

    EXPECT_EQ(st.SetSettingsFromText({"EMAIL/Port=abc"}, &err), SetResult::Invalid);
    EXPECT_EQ(st.SetSettingsFromText({"SCH/Time1=25:99"}, &err), SetResult::Invalid);
    EXPECT_EQ(st.SetSettingsFromText({"NOPE/Key=1"}, &err), SetResult::Usage);
    EXPECT_EQ(st.SetSettingsFromText({"no-equals"}, &err), SetResult::Usage);
    // A rejected list changes nothing, not even its valid members.
    EXPECT_EQ(st.SetSettingsFromText({"ETC/PurgeDay=30", "EMAIL/Port=abc"}, &err), SetResult::Invalid);
    EXPECT_EQ(st.settings.ConfigSetEtcPurgeDayEdit, 365);
}

TEST(AppStateSettings, CertificateFooterLinesAreEmptyUntilSetAndThenKept)
{
    ScopedTempRoot tmp;
    AppState st;
    st.StartUp();
    EXPECT_EQ(settingsText(st, "PRINT/Footer1"), "");
    ASSERT_TRUE(st.SaveSetting());
    EXPECT_FALSE(IniFile(AppState::SettingsFilePath()).keyExists("PRINT", "Footer1"));

    QString err;
    ASSERT_EQ(st.SetSettingsFromText({"PRINT/Footer2=12 Harbour Road, Northport"}, &err), SetResult::Ok)
        << err.toStdString();
    AppState again;
    again.StartUp();
    EXPECT_EQ(again.settings.PrintFooter[1], "12 Harbour Road, Northport");
    EXPECT_EQ(settingsText(again, "PRINT/Footer2"), "12 Harbour Road, Northport");
    EXPECT_TRUE(again.settings.PrintFooter[0].isEmpty());
}
