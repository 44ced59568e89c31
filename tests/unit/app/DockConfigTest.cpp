// The Docking Station page model: bottle slots, oxygen band, reading and
// rewriting DOCK.CFG, the transfer lists, and the by-name view.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>

#include "app/ConfigEditors.h"
#include "app/DockConfig.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

// Gas name, displayed value, choice enabled, editor writable of each slot.
struct SlotView {
    QString gas;
    QString value;
    bool comboEnabled;
    bool writable;
    bool operator==(const SlotView& o) const
    {
        return gas == o.gas && value == o.value && comboEnabled == o.comboEnabled
               && writable == o.writable;
    }
};
std::ostream& operator<<(std::ostream& os, const SlotView& s)
{
    return os << "{" << s.gas.toStdString() << " " << s.value.toStdString() << " combo="
              << s.comboEnabled << " edit=" << s.writable << "}";
}

SlotView slot(const TDockPageModel& m, int k)
{
    const RBottleSlot& s = m.FBottleSlot[k];
    const int code = m.FBottleList[k];
    EXPECT_EQ(s.comboText(), code ? FGasInfo[code - 1].mName : QString()) << "slot " << k;
    return {s.comboText(), s.mEditWritable ? s.editText() : QString(), s.mComboEnabled,
            s.mEditWritable};
}

void read(TDockPageModel& m, const QByteArray& text, int port = 7000) { m.ReadDockCfg(text, port); }

} // namespace

TEST(DockBottle, StartUpState)
{
    TDockPageModel m;
    EXPECT_EQ(slot(m, 1), (SlotView{"H2S", "25.0", true, true}));
    EXPECT_EQ(slot(m, 2), (SlotView{"CO", "100", true, true}));
    EXPECT_EQ(slot(m, 3), (SlotView{"O2", "18.0", true, true}));
    EXPECT_EQ(slot(m, 4), (SlotView{"SO2", "10.0", true, true}));
    EXPECT_EQ(m.FBottleSlot[1].mItems, QStringList({"H2S", "CO", "O2", "SO2"}));
    EXPECT_EQ(m.FBottleSlot[4].mItems, QStringList({"", "SO2"}));
    EXPECT_EQ(m.DockCfgAutoPowerOffTimeEdit, 60);
    EXPECT_EQ(m.DockCfgMaxBumpTimeEdit, 10);
    EXPECT_EQ(m.DockCfgBumpPassLimitEdit, 50);
    EXPECT_EQ(m.DockUpgradeLabel, "---");
}

TEST(DockBottle, ReadFillsSlotsInCodeOrder)
{
    TDockPageModel m;
    read(m, "[GAS INFORMATIONS]\r\nSO2 Gas Concentration=12.5\r\nCO Gas Concentration=250\r\n");
    EXPECT_EQ(slot(m, 1), (SlotView{"CO", "250", true, true}));
    EXPECT_EQ(slot(m, 2), (SlotView{"SO2", "12.5", true, true}));
    EXPECT_EQ(slot(m, 3), (SlotView{"", "", true, false}));
    EXPECT_EQ(slot(m, 4), (SlotView{"", "", false, false}));

    // Zero, negative and non-numeric values make no slot; out of range clamps.
    read(m, "H2S Gas Concentration=0\nCO Gas Concentration=-5\nO2 Gas Concentration=abc\n"
            "SO2 Gas Concentration=\n");
    EXPECT_EQ(slot(m, 1), (SlotView{"H2S", "25.0", true, true}));
    EXPECT_EQ(slot(m, 2), (SlotView{"", "", true, false}));
    EXPECT_EQ(slot(m, 3), (SlotView{"", "", false, false}));
    EXPECT_EQ(slot(m, 4), (SlotView{"", "", false, false}));

    read(m, "H2S Gas Concentration=500\nO2 Gas Concentration=1\n");
    EXPECT_EQ(slot(m, 1).value, "100.0");
    EXPECT_EQ(slot(m, 2), (SlotView{"O2", "5.0", true, true}));
}

TEST(DockBottle, ChoosingGases)
{
    TDockPageModel m;
    m.setBottleValue(2, 150);
    // Slot 1 takes the gas of slot 3: slots 3 and 4 empty, slot 2 unchanged.
    m.DockBottleGasCombo1Change(1, "O2");
    EXPECT_EQ(slot(m, 1), (SlotView{"O2", "18.0", true, true}));
    EXPECT_EQ(slot(m, 2), (SlotView{"CO", "150", true, true}));
    EXPECT_EQ(slot(m, 3), (SlotView{"", "", true, false}));
    EXPECT_EQ(slot(m, 4), (SlotView{"", "", false, false}));
    EXPECT_EQ(m.FBottleSlot[2].mItems, QStringList({"", "H2S", "CO", "SO2"}));

    // Empty item in slot 2 empties and disables what follows.
    TDockPageModel e;
    e.DockBottleGasCombo1Change(2, "");
    EXPECT_EQ(slot(e, 1), (SlotView{"H2S", "25.0", true, true}));
    EXPECT_EQ(slot(e, 2), (SlotView{"", "", true, false}));
    EXPECT_EQ(slot(e, 3), (SlotView{"", "", false, false}));
    EXPECT_EQ(slot(e, 4), (SlotView{"", "", false, false}));
    // Then filling slot 2 opens slot 3.
    e.DockBottleGasCombo1Change(2, "SO2");
    EXPECT_EQ(slot(e, 2), (SlotView{"SO2", "10.0", true, true}));
    EXPECT_EQ(slot(e, 3), (SlotView{"", "", true, false}));

    // Choosing the gas a slot already holds changes nothing (its value stays).
    TDockPageModel s;
    s.setBottleValue(1, 40);
    s.DockBottleGasCombo1Change(1, "H2S");
    EXPECT_EQ(slot(s, 1).value, "40.0");
}

TEST(DockBottle, OxygenBandAndSteps)
{
    TDockPageModel m; // slot 3 holds O2
    const struct {
        const char* typed;
        const char* shown;
    } cases[] = {{"20.9", "19.0"}, {"22", "23.0"}, {"21", "19.0"}, {"19", "19.0"},
                 {"23", "23.0"},   {"18.5", "18.5"}, {"24", "24.0"}, {"99", "25.0"}};
    for (const auto& c : cases) {
        m.DockBottleGasEdit1Exit(3, c.typed);
        EXPECT_EQ(m.FBottleSlot[3].editText(), c.shown) << c.typed;
    }
    m.DockBottleGasEdit1Exit(3, "19");
    m.DockBottleGasEdit1TopClick(3);
    EXPECT_EQ(m.FBottleSlot[3].editText(), "19.0"); // back into the band's floor
    m.DockBottleGasEdit1Exit(3, "18");
    m.DockBottleGasEdit1TopClick(3);
    EXPECT_EQ(m.FBottleSlot[3].editText(), "18.5");
    // Not a number: the editor keeps its value.
    EXPECT_FALSE(m.DockBottleGasEdit1Exit(3, "abc"));
    EXPECT_EQ(m.FBottleSlot[3].editText(), "18.5");
    // Other gases have no band; CO steps by 5 and shows no decimals.
    m.DockBottleGasEdit1Exit(2, "20");
    EXPECT_EQ(m.FBottleSlot[2].editText(), "20");
    m.DockBottleGasEdit1BottomClick(2);
    EXPECT_EQ(m.FBottleSlot[2].editText(), "15");
    m.DockBottleGasEdit1Exit(2, "102.4");
    EXPECT_EQ(m.FBottleSlot[2].editText(), "102");
}

TEST(DockCfgRead, ValuesSwitchesAndLookups)
{
    TDockPageModel m;
    m.DockCfgBumpCheck = true;
    m.DockCfgMaxBumpTimeEdit = 55;
    read(m,
         "[OPTIONS]\r\n"
         "Auto Off Time=99999\r\n"
         "Bump Time=abc\r\n"
         "Bump Pass Limit = 3\r\n"
         "Location=Shipyard IP\r\n"
         "[TEST]\r\n"
         "#Calibration=false\r\n"
         "Calibration=Yes\r\n"
         "Bump test=\r\n"
         "Upgrade=enabled\r\n"
         "LED test=no ; keep off\r\n"
         "LED test=true\r\n"
         "Buzzer test=0\r\n"
         "[GAS INFORMATIONS]\r\nGas Lot Number=L-77\r\n"
         "[Ethernet]\r\nIP=127.1.2.3\r\nGateway=\r\nUDP Port=9999\r\n",
         7123);
    EXPECT_EQ(m.DockCfgAutoPowerOffTimeEdit, 10800);
    EXPECT_EQ(m.DockCfgMaxBumpTimeEdit, 55); // not a number: kept
    EXPECT_EQ(m.DockCfgBumpPassLimitEdit, 3);
    EXPECT_TRUE(m.DockCfgCalCheck);   // the commented line is skipped
    EXPECT_TRUE(m.DockCfgBumpCheck);  // empty value keeps the box
    EXPECT_TRUE(m.DockCfgUpgradeCheck);
    EXPECT_TRUE(m.DockCfgVisibleTestCheck);
    EXPECT_FALSE(m.DockCfgAudibleTestCheck);
    EXPECT_EQ(m.DockInfoLocationEdit, "Shipyard IP");
    EXPECT_EQ(m.DockBottleLotEdit, "L-77");
    EXPECT_EQ(m.DockBottleDateEdit, "");
    // A value that happens to contain a key name is never taken for that key.
    EXPECT_EQ(m.DockLanIpEdit, "127.1.2.3");
    EXPECT_EQ(m.DockLanSubnetMaskEdit, "255.255.255.0");
    EXPECT_EQ(m.DockLanGateWayEdit, "192.168.0.1");
    EXPECT_EQ(m.DockLanUdpPortEdit, 7123); // the program's port, not the file's

    read(m, "Auto Off Time=-5\nFull Bump Time=100\nBump Time=30\n");
    EXPECT_EQ(m.DockCfgAutoPowerOffTimeEdit, 0);
    EXPECT_EQ(m.DockCfgMaxBumpTimeEdit, 30); // the exact key wins over a longer one
}

TEST(DockCfgRead, MissingFileKeepsThePage)
{
    ScopedTempRoot tmp;
    TDockPageModel m;
    m.DockInfoLocationEdit = "kept";
    QString error;
    EXPECT_FALSE(m.GetDockCfgFromFile(tmp.path() + "/none/DOCK.CFG", 7000, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(m.DockInfoLocationEdit, "kept");
}

TEST(DockCfgWrite, OnlyListedKeysChangeAndEveryOtherByteStays)
{
    ScopedTempRoot tmp;
    const QString path = tmp.path() + "/DOCK.CFG";
    // Mixed endings, a legacy 0xE9 byte, odd spacing and case, no final line break.
    const QByteArray original =
        "; dock settings \xE9t\xE9\r\n"
        "[test]\r\n"
        "Calibration = false\n"
        "Bump test=true\r\n"
        "Other key=caf\xE9\r\n"
        "\r\n"
        "[GAS INFORMATIONS]\n"
        "Gas Lot Number=OLD\n"
        "CO Gas Concentration=100\n"
        "\n"
        "[OPTIONS]\r"
        "Location=Z\xFCrich\r\n"
        "[Misc]\r\n"
        "Keep=1";
    testsupport::writeAll(path, original);

    TDockPageModel m;
    ASSERT_TRUE(m.GetDockCfgFromFile(path, 7000));
    EXPECT_EQ(m.DockInfoLocationEdit, QString::fromUtf8("Z\xC3\xBCrich"));
    EXPECT_EQ(slot(m, 1).gas, "CO");
    m.DockCfgCalCheck = true;
    m.DockBottleLotEdit = "NEW\r\nUpgrade=true"; // may not open a line of its own
    m.DockBottleGasCombo1Change(1, "SO2");      // CO is no longer in a slot
    m.DockLanIpEdit = "127.0.300.1";
    QString error;
    ASSERT_TRUE(m.SetDockCfgToFile(path, 7001, &error)) << error.toStdString();
    EXPECT_EQ(m.DockLanIpEdit, "127.0.0.1");

    const QByteArray expected =
        "; dock settings \xE9t\xE9\r\n"
        "[test]\r\n"
        "Calibration=true\n"
        "Bump test=true\r\n"
        "Other key=caf\xE9\r\n"
        "Buzzer test=false\r\n"
        "LED test=false\r\n"
        "Upgrade=false\r\n"
        "Save event log=false\r\n"
        "Change config=false\r\n"
        "Allow Turn Off=false\r\n"
        "CAL after Bump fail=false\r\n"
        "\r\n"
        "[GAS INFORMATIONS]\n"
        "Gas Lot Number=NEW  Upgrade=true\n"
        "CO Gas Concentration=100\n"
        "Gas Expiry=\r\n"
        "SO2 Gas Concentration=10.0\r\n"
        "\n"
        "[OPTIONS]\r"
        "Location=Z\xFCrich\r\n"
        "Auto Off Time=60\r\n"
        "Bump Time=10\r\n"
        "Bump Pass Limit=50\r\n"
        "[Misc]\r\n"
        "Keep=1\r\n"
        "[Ethernet]\r\n"
        "IP=127.0.0.1\r\n"
        "Subnet Mask=255.255.255.0\r\n"
        "Gateway=192.168.0.1\r\n"
        "UDP Port=7001\r\n";
    EXPECT_EQ(testsupport::readAll(path), expected);

    // Read back unchanged: the old CO line still counts, in code order.
    TDockPageModel back;
    ASSERT_TRUE(back.GetDockCfgFromFile(path, 7000));
    EXPECT_EQ(slot(back, 1), (SlotView{"CO", "100", true, true}));
    EXPECT_EQ(slot(back, 2), (SlotView{"SO2", "10.0", true, true}));
    // A second write with nothing changed leaves the file as it is.
    ASSERT_TRUE(back.SetDockCfgToFile(path, 7001));
    EXPECT_EQ(testsupport::readAll(path), expected);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList({"DOCK.CFG"}));
}

TEST(DockCfgWrite, Utf8FileStaysUtf8)
{
    const QByteArray original = "[OPTIONS]\nLocation=K\xC3\xBC" "che\n[GAS INFORMATIONS]\nGas Lot Number=1\n";
    TDockPageModel m;
    m.ReadDockCfg(original, 7000);
    EXPECT_EQ(m.DockInfoLocationEdit, QString::fromUtf8("K\xC3\xBC" "che"));
    QByteArray out = m.WriteDockCfg(original, 7000);
    EXPECT_TRUE(out.startsWith("[OPTIONS]\nLocation=K\xC3\xBC" "che\n"));
    m.DockInfoLocationEdit = QString::fromUtf8("Caf\xC3\xA9");
    out = m.WriteDockCfg(original, 7000);
    EXPECT_TRUE(out.contains("Location=Caf\xC3\xA9\n")) << out.toStdString();
}

TEST(DockCfgWrite, MissingFileIsAnErrorNotAnInvention)
{
    ScopedTempRoot tmp;
    TDockPageModel m;
    QString error;
    EXPECT_FALSE(m.SetDockCfgToFile(tmp.path() + "/DOCK.CFG", 7000, &error));
    EXPECT_TRUE(error.contains("DOCK.CFG"));
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/DOCK.CFG"));
}

TEST(DockCfgRead, GarbageNeverBreaksTheModel)
{
    QRandomGenerator rng(1234);
    const QByteArray samples[] = {QByteArray(), QByteArray("\0\0\0=\0", 5), QByteArray(70000, '='),
                                  "[\r[\n]]=\r\n=\n==\xFF\xFE", "H2S Gas Concentration=1e39\n"
                                  "CO Gas Concentration=nan\nO2 Gas Concentration=inf\n"};
    auto check = [](const QByteArray& bytes) {
        TDockPageModel m;
        m.ReadDockCfg(bytes, 7000);
        EXPECT_GE(m.FBottleList[1], 1); // slot 1 always holds a gas
        EXPECT_LE(m.DockCfgAutoPowerOffTimeEdit, 10800);
        const QByteArray out = m.WriteDockCfg(bytes, 7000);
        EXPECT_TRUE(out.contains("UDP Port=7000"));
    };
    for (const QByteArray& s : samples)
        check(s);
    for (int i = 0; i < 50; ++i) {
        QByteArray b(int(rng.bounded(2000)), '\0');
        for (char& c : b)
            c = char(rng.bounded(256));
        check(b);
    }
}

TEST(DockTransfer, ListsAndClearFiles)
{
    ScopedTempRoot tmp;
    const QString tf = tmp.transferFolder();
    const auto read = GetCfgList(tf, "/media/DOCK", true);
    ASSERT_EQ(read.size(), 6);
    EXPECT_EQ(read[0].mFatFile, "/CONFIG/DOCK/DOCK.CFG");
    EXPECT_EQ(read[0].mUsbFile, "/media/DOCK/CONFIG/DOCK/DOCK.CFG");
    EXPECT_EQ(read[0].mSaveFile, tf + "DOCK.CFG");
    EXPECT_EQ(read[3].mFatFile, "/CONFIG/GD/O2.CFG");
    EXPECT_EQ(read[3].mUsbFile, "/media/DOCK/CONFIG/GD/O2.CFG");
    EXPECT_EQ(read[5].mFatFile, "/CONFIG/DOCKINFORM.CFG");
    EXPECT_EQ(read[5].mSaveFile, tf + "DOCKINFORM.CFG");
    for (const auto& e : read)
        EXPECT_EQ(e.mLength, 0);
    EXPECT_EQ(GetCfgList(tf, "/media/DOCK/", false).size(), 5);
    const auto gd = GetWriteCfgList(tf, "/media/DOCK");
    ASSERT_EQ(gd.size(), 4);
    EXPECT_EQ(gd[0].mSaveFile, tf + "H2S.CFG");
    EXPECT_EQ(gd[3].mSaveFile, tf + "SO2.CFG");
    ASSERT_EQ(GetReadCfgList(tf, "/m").size(), 1);
    EXPECT_EQ(GetReadCfgList(tf, "/m")[0].mUsbFile, "/m/CONFIG/DOCKINFORM.CFG");

    const QStringList gone = {"DOCK.CFG", "CO.CFG", "DOCKINFORM.CFG", "FW/DOCK/a.IMG", "FW/GD/b.img",
                              "LOG/DOCK/c.Csv", "LOG/GaviroEVENT/d.CSV", "LOG/GaviroCAL/e.xml",
                              "LOG/GaviroBUMP/f.XML"};
    const QStringList kept = {"DOCK_KM1.INI", "GDDockLang.INI", "FW/DOCK/notes.txt", "LOG/DOCK/g.xml",
                              "LOG/GaviroCAL/h.csv"};
    for (const QString& f : gone + kept)
        testsupport::writeAll(tf + f, "x");
    QString error;
    EXPECT_TRUE(ClearFiles(tf, &error)) << error.toStdString();
    for (const QString& f : gone)
        EXPECT_FALSE(QFileInfo::exists(tf + f)) << f.toStdString();
    for (const QString& f : kept)
        EXPECT_TRUE(QFileInfo::exists(tf + f)) << f.toStdString();
    EXPECT_TRUE(QFileInfo(tf + "LOG/GaviroBUMP").isDir());

    // A folder where a copy should be cannot be taken for a fresh copy.
    QDir().mkpath(tf + "H2S.CFG");
    EXPECT_FALSE(ClearFiles(tf, &error));
    EXPECT_TRUE(error.contains("H2S.CFG"));
}

TEST(ConfigEditorsByName, ShowAndSet)
{
    ConfigEditors ed;
    ed.InitConst();
    const QStringList lines = ed.ShowLines();
    for (const char* l : {"DockCfgCalCheck=false", "DockCfgAutoPowerOffTimeEdit=60",
                          "DockBottleGasCombo3=O2", "DockBottleGasEdit3=18.0", "DockLanIpEdit=0.0.0.0",
                          "DockUpgradeLabel=---", "GDOpt.H2S.AlarmLow=10.0", "GDOpt.H2S.AlarmLow.Set=0",
                          "GDOpt.CO.AlarmHigh=200", "GDOpt.O2.Display=Both", "GDOpt.SO2.SelfTestInterval=20"})
        EXPECT_TRUE(lines.contains(QString::fromLatin1(l))) << l;

    QString error;
    EXPECT_TRUE(ed.Set("DockCfgAutoPowerOffTimeEdit", "99999", &error));
    EXPECT_EQ(ed.dock.DockCfgAutoPowerOffTimeEdit, 10800);
    EXPECT_FALSE(ed.Set("DockCfgAutoPowerOffTimeEdit", "1.5", &error));
    EXPECT_TRUE(error.contains("whole number"));
    EXPECT_TRUE(ed.Set("DockCfgCalCheck", "yes", &error));
    EXPECT_TRUE(ed.dock.DockCfgCalCheck);
    EXPECT_FALSE(ed.Set("DockCfgCalCheck", "maybe", &error));
    EXPECT_FALSE(ed.Set("DockInfoSNEdit", "X", &error));
    EXPECT_TRUE(error.contains("read-only"));
    EXPECT_FALSE(ed.Set("NoSuchEditor", "1", &error));
    EXPECT_TRUE(error.contains("NoSuchEditor"));

    EXPECT_TRUE(ed.Set("DockBottleGasEdit3", "20.9", &error));
    EXPECT_EQ(ed.dock.FBottleSlot[3].editText(), "19.0");
    EXPECT_TRUE(ed.Set("DockBottleGasCombo2", "", &error));
    EXPECT_FALSE(ed.Set("DockBottleGasCombo3", "O2", &error)); // disabled now
    EXPECT_FALSE(ed.Set("DockBottleGasEdit3", "20", &error));  // read-only now
    EXPECT_FALSE(ed.Set("DockBottleGasCombo1", "NH3", &error));
    EXPECT_TRUE(ed.Set("DockBottleGasCombo1", "co", &error));
    EXPECT_EQ(ed.dock.FBottleList[1], CFG_GAS_CO);

    // An option's editor takes a value only while the option is set.
    EXPECT_FALSE(ed.Set("GDOpt.O2.AlarmLow", "18", &error));
    EXPECT_TRUE(error.contains("GDOpt.O2.AlarmLow.Set=1"));
    EXPECT_TRUE(ed.Set("GDOpt.O2.AlarmLow.Set", "1", &error));
    EXPECT_TRUE(ed.Set("GDOpt.O2.AlarmLow", "30", &error));
    EXPECT_FLOAT_EQ(ed.gd.FGDOpt[3][GDOPT_ALARMLOW].mValue, 25.0f);
    EXPECT_TRUE(ed.gd.FGDOpt[3][GDOPT_ALARMLOW].mChange);
    EXPECT_FALSE(ed.Set("GDOpt.O2.AlarmLow", "1x", &error));
    EXPECT_FALSE(ed.Set("GDOpt.NH3.AlarmLow", "1", &error));
    EXPECT_TRUE(ed.Set("GDOpt.CO.Display.Set", "1", &error));
    EXPECT_TRUE(ed.Set("GDOpt.CO.Display", "life", &error));
    EXPECT_TRUE(ed.Set("GDOpt.CO.CalInterval.Set", "1", &error));
    EXPECT_TRUE(ed.Set("GDOpt.CO.CalInterval", "400", &error));
    EXPECT_FALSE(ed.Set("GDOpt.CO.CalInterval", "-3", &error));
    const QStringList after = ed.ShowLines();
    EXPECT_TRUE(after.contains("GDOpt.CO.Display=Life"));
    EXPECT_TRUE(after.contains("GDOpt.CO.HideLED.Set=1"));
    EXPECT_TRUE(after.contains("GDOpt.CO.CalInterval=365"));
    EXPECT_TRUE(after.contains("GDOpt.O2.AlarmLow=25.0"));
}
