// The instrument option model: reading and writing the four instrument files,
// the grid editor rules and the cell colours.
#include <gtest/gtest.h>

#include <QDir>
#include <QRandomGenerator>

#include "app/ConfigEditors.h"
#include "app/GDConfig.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

// The text the dock gets for one column: prefix "# " for options not set.
QByteArray fileText(bool unitSet, int flag, bool userSet, const QString& user, bool selfSet, const char* self,
                    bool highSet, const char* high, bool lowSet, const char* low, bool calSet,
                    const char* cal, bool bumpSet, const char* bump)
{
    auto p = [](bool set) { return set ? QByteArray() : QByteArray("# "); };
    QByteArray t;
    t += "[CONFIG]\r\n";
    t += p(unitSet) + "UnitFlag=" + QByteArray::number(flag) + "\r\n";
    t += p(userSet) + "UserID=" + user.toUtf8() + "\r\n";
    t += p(selfSet) + "SelfTestInterval=" + self + "\r\n";
    t += "\r\n[GAS]\r\n";
    t += p(highSet) + "AlarmHigh=" + high + "\r\n";
    t += p(lowSet) + "AlarmLow=" + low + "\r\n";
    t += p(calSet) + "CalInterval=" + cal + "\r\n";
    t += p(bumpSet) + "BumpInterval=" + bump + "\r\n";
    return t;
}

void selectCellAndDoubleClick(TGDPageModel& m, int col, int row)
{
    m.GDOptGridSelectCell(col, row);
    m.GDOptGridDblClick();
}

} // namespace

TEST(GDOptFiles, NothingSetWritesEveryKeyAsComment)
{
    ScopedTempRoot tmp;
    const QString tf = tmp.transferFolder();
    for (const char* name : {"H2S", "CO", "O2", "SO2"})
        testsupport::writeAll(tf + name + ".CFG", "[CONFIG]\r\n# AlarmLow=50\r\n; UnitFlag=15\r\n");
    TGDPageModel m;
    ASSERT_TRUE(m.GetGDCfgFromFiles(tf));
    EXPECT_FALSE(m.FGDOpt[1][GDOPT_ALARMLOW].mChange);
    EXPECT_FLOAT_EQ(m.FGDOpt[1][GDOPT_ALARMLOW].mValue, 10.0f); // the commented value is not used
    ASSERT_TRUE(m.SetGDCfgToFile(tf));
    EXPECT_EQ(testsupport::readAll(tf + "H2S.CFG"),
              fileText(false, 0, false, "", false, "20", false, "15.0", false, "10.0", false, "0", false, "0"));
    EXPECT_EQ(testsupport::readAll(tf + "CO.CFG"),
              fileText(false, 0, false, "", false, "20", false, "200", false, "35", false, "0", false, "0"));
    EXPECT_EQ(testsupport::readAll(tf + "O2.CFG"),
              fileText(false, 0, false, "", false, "20", false, "23.5", false, "19.5", false, "0", false, "0"));
    EXPECT_EQ(testsupport::readAll(tf + "SO2.CFG"),
              fileText(false, 0, false, "", false, "20", false, "15.0", false, "10.0", false, "0", false, "0"));
}

TEST(GDOptFiles, ValuesReadLimitedAndWrittenBack)
{
    TGDPageModel m;
    m.ReadColumn(1, "[CONFIG]\nUnitFlag=10\nUserID=M\xC3\xBCller\nSelfTestInterval=60\n[GAS]\n"
                    "AlarmHigh=250\nAlarmLow=12.34\nCalInterval=2592000\nBumpInterval=30\n");
    m.ReadColumn(2, "UnitFlag=5\nCalInterval=129600\nBumpInterval=400\nSelfTestInterval=x\n");
    m.ReadColumn(3, "UnitFlag=4\nCalInterval=216000\nAlarmLow=-3\n");
    m.ReadColumn(4, "UserID=AlarmLow team\nUnitFlag=999\n");
    m.FinishRead();
    const auto& h2s = m.FGDOpt[1];
    EXPECT_EQ(h2s[GDOPT_USERID].mStr, QString::fromUtf8("M\xC3\xBCller"));
    EXPECT_FLOAT_EQ(h2s[GDOPT_CALINT].mValue, 30);
    EXPECT_FLOAT_EQ(h2s[GDOPT_BUMPINT].mValue, 30);
    EXPECT_FLOAT_EQ(h2s[GDOPT_SELFINT].mValue, 48);
    EXPECT_FLOAT_EQ(h2s[GDOPT_ALARMHIGH].mValue, 100);
    EXPECT_FLOAT_EQ(h2s[GDOPT_DISPLAY].mValue, 2); // 10: mode 2, LED hidden, manual test on
    EXPECT_FLOAT_EQ(h2s[GDOPT_LED].mValue, 1);
    EXPECT_FLOAT_EQ(h2s[GDOPT_MANUAL].mValue, 1);
    for (int o = 0; o < GDOPT_COUNT; ++o)
        EXPECT_TRUE(h2s[o].mChange) << o;
    const auto& co = m.FGDOpt[2];
    EXPECT_FLOAT_EQ(co[GDOPT_CALINT].mValue, 2);     // 1.5 days
    EXPECT_FLOAT_EQ(co[GDOPT_BUMPINT].mValue, 365);
    EXPECT_FLOAT_EQ(co[GDOPT_SELFINT].mValue, 20);   // not a number: the default
    EXPECT_FLOAT_EQ(co[GDOPT_DISPLAY].mValue, 1);    // 5: mode 1, LED shown, manual off
    EXPECT_FLOAT_EQ(co[GDOPT_LED].mValue, 0);
    EXPECT_FLOAT_EQ(co[GDOPT_MANUAL].mValue, 0);
    EXPECT_FALSE(co[GDOPT_USERID].mChange);
    EXPECT_FLOAT_EQ(m.FGDOpt[3][GDOPT_CALINT].mValue, 2); // 2.5 days: halves to even
    EXPECT_FLOAT_EQ(m.FGDOpt[3][GDOPT_DISPLAY].mValue, 1);
    EXPECT_FLOAT_EQ(m.FGDOpt[3][GDOPT_ALARMLOW].mValue, 0);
    // A value that contains a key name does not set that key.
    EXPECT_FALSE(m.FGDOpt[4][GDOPT_ALARMLOW].mChange);
    EXPECT_FLOAT_EQ(m.FGDOpt[4][GDOPT_DISPLAY].mValue, 1); // 255 after limiting: bit 2 set

    EXPECT_EQ(m.FGDOptSel, 1);
    EXPECT_EQ(m.GDOptGrid[2][1], "30");
    EXPECT_EQ(m.GDOptGrid[7][1], "Life");
    EXPECT_EQ(m.GDOptGrid[8][1], "YES");
    EXPECT_EQ(m.GDOptGrid[5][3], "N/A");
    EXPECT_EQ(m.ColumnFileText(1),
              fileText(true, 10, true, QString::fromUtf8("M\xC3\xBCller"), true, "48", true, "100.0", true,
                       "12.3", true, "2592000", true, "30"));
    // Mode 1 with LED hidden and manual test on is 15; a level of 0 is written as "0".
    EXPECT_EQ(m.ColumnFileText(3),
              fileText(true, 5, false, "", false, "20", false, "23.5", true, "0", true, "172800", false, "0"));
    m.FGDOpt[3][GDOPT_LED].mValue = 1;
    m.FGDOpt[3][GDOPT_MANUAL].mValue = 1;
    EXPECT_TRUE(m.ColumnFileText(3).startsWith("[CONFIG]\r\nUnitFlag=15\r\n"));
    // A user ID cannot open lines of its own.
    m.FGDOpt[2][GDOPT_USERID].mStr = "a\r\nAlarmLow=1";
    EXPECT_TRUE(m.ColumnFileText(2).contains("# UserID=a  AlarmLow=1\r\n"));
}

TEST(GDOptEditor, StartUpAndColumnSelection)
{
    TGDPageModel m;
    EXPECT_EQ(m.FGDOptSel, 1);
    EXPECT_EQ(m.GDOptGrid[0][0], "Sensor");
    EXPECT_EQ(m.GDOptGrid[0][3], "O2");
    EXPECT_EQ(m.GDOptGrid[2][1], "N/A");
    EXPECT_EQ(m.GDOptGrid[4][1], "20");
    EXPECT_EQ(m.GDOptGrid[5][1], "10.0");
    EXPECT_EQ(m.GDOptGrid[6][2], "200");
    EXPECT_EQ(m.GDOptGrid[7][4], "Both");
    EXPECT_EQ(m.GDOptLOWEdit, "10.0");
    for (int row = 1; row <= 9; ++row)
        EXPECT_FALSE(m.editorEnabled(row)) << row;

    // Header clicks choose the column; the corner deselects.
    m.GDOptGridFixedCellClick(3, 0);
    EXPECT_EQ(m.FGDOptSel, 3);
    EXPECT_EQ(m.GDOptSensorCombo, 2);
    EXPECT_EQ(m.GDOptLOWEdit, "19.5");
    m.GDOptGridFixedCellClick(0, 0);
    EXPECT_LE(m.FGDOptSel, 0);
    m.GDOptSensorComboChange(1);
    EXPECT_EQ(m.FGDOptSel, 2);
}

TEST(GDOptEditor, DoubleClickTogglesAndEditorsCommit)
{
    TGDPageModel m;
    // Another column: only forgets the cell.
    selectCellAndDoubleClick(m, 2, 5);
    EXPECT_FALSE(m.FGDOpt[2][GDOPT_ALARMLOW].mChange);
    EXPECT_EQ(m.FGDOptGridColSel, -1);

    selectCellAndDoubleClick(m, 1, 8); // rows 7, 8 and 9 go together
    for (int o : {GDOPT_DISPLAY, GDOPT_LED, GDOPT_MANUAL})
        EXPECT_TRUE(m.FGDOpt[1][o].mChange) << o;
    EXPECT_TRUE(m.editorEnabled(7) && m.editorEnabled(8) && m.editorEnabled(9));
    EXPECT_FALSE(m.editorEnabled(5));
    m.GDOptDisplayComboChange(1);
    m.GDOptBumpLEDCheckClick(true);
    m.GDOptEnableMaualTestCheckClick(true);
    EXPECT_EQ(m.GDOptGrid[7][1], "Reading");
    EXPECT_EQ(m.GDOptGrid[8][1], "YES");

    // O2 low alarm: 30 becomes 25.0, 0 shows N/A and is written as "0".
    m.GDOptSensorComboChange(2);
    EXPECT_EQ(m.FGDOpt[1][GDOPT_DISPLAY].mValue, 1); // committed on leaving the column
    selectCellAndDoubleClick(m, 3, 5);
    ASSERT_TRUE(m.editorEnabled(5));
    m.setEditText(5, "30");
    m.GDOptLOWEditExit(1);
    EXPECT_EQ(m.GDOptLOWEdit, "25.0");
    EXPECT_EQ(m.GDOptGrid[5][3], "25.0");
    m.GDOptLOWUpDownChangingEx(1, false);
    EXPECT_EQ(m.GDOptLOWEdit, "24.5");
    m.setEditText(5, "0");
    m.GDOptLOWEditExit(1);
    EXPECT_EQ(m.GDOptLOWEdit, "N/A");

    // Intervals: 400 becomes 365, an empty self-test becomes 8.
    selectCellAndDoubleClick(m, 3, 2);
    selectCellAndDoubleClick(m, 3, 4);
    m.setEditText(2, "400");
    m.GDOptCalEditExit(1);
    EXPECT_EQ(m.GDOptCalEdit, "365");
    m.GDOptCalUpdownChangingEx(1, false);
    EXPECT_EQ(m.GDOptCalEdit, "335");
    m.setEditText(4, "");
    m.GDOptCalEditExit(3);
    EXPECT_EQ(m.GDOptSelfEdit, "8");
    m.GDOptCalUpdownChangingEx(3, false);
    EXPECT_EQ(m.GDOptSelfEdit, "8");
    // A disabled editor's buttons do nothing.
    m.GDOptCalUpdownChangingEx(2, true);
    EXPECT_EQ(m.GDOptBumpEdit, "N/A");

    ScopedTempRoot tmp;
    ASSERT_TRUE(m.SetGDCfgToFile(tmp.transferFolder())); // commits the open column first
    EXPECT_EQ(testsupport::readAll(tmp.transferFolder() + "O2.CFG"),
              fileText(false, 1, false, "", true, "8", false, "23.5", true, "0", true, "28944000", false, "0"));
    EXPECT_TRUE(testsupport::readAll(tmp.transferFolder() + "H2S.CFG").startsWith("[CONFIG]\r\nUnitFlag=15\r\n"));

    // Toggling off again: the set flag goes, the value stays for later.
    selectCellAndDoubleClick(m, 3, 2);
    EXPECT_FALSE(m.FGDOpt[3][GDOPT_CALINT].mChange);
    EXPECT_FLOAT_EQ(m.FGDOpt[3][GDOPT_CALINT].mValue, 335);
}

TEST(GDOptEditor, KeysAndLooks)
{
    EXPECT_TRUE(TGDPageModel::IntervalKeyAllowed('7'));
    EXPECT_FALSE(TGDPageModel::IntervalKeyAllowed('-'));
    EXPECT_TRUE(TGDPageModel::IntervalKeyAllowed('\b'));
    EXPECT_TRUE(TGDPageModel::AlarmKeyAllowed('.'));
    EXPECT_TRUE(TGDPageModel::AlarmKeyAllowed('-'));
    EXPECT_FALSE(TGDPageModel::AlarmKeyAllowed('e'));

    TGDPageModel m;
    selectCellAndDoubleClick(m, 1, 2);
    EXPECT_EQ(m.GDOptCellLook(1, 0).background, QColor(Qt::yellow));
    EXPECT_EQ(m.GDOptCellLook(2, 0).background, QColor(238, 238, 247));
    EXPECT_TRUE(m.GDOptCellLook(0, 3).leftAligned && m.GDOptCellLook(0, 3).bold);
    EXPECT_FALSE(m.GDOptCellLook(2, 0).leftAligned);
    EXPECT_EQ(m.GDOptCellLook(1, 2).background, QColor(Qt::white));
    EXPECT_EQ(m.GDOptCellLook(1, 3).background, QColor(224, 224, 224));
    EXPECT_EQ(m.GDOptCellLook(2, 3).background, QColor(160, 160, 160));
    EXPECT_FALSE(m.GDOptCellLook(1, 3).bold);

    EXPECT_EQ(m.GDOpResGrid[0][1], "BAY1");
    EXPECT_EQ(m.GDOpResGrid[4][0], "Result");
    m.setResultCell(1, 4, TGDPageModel::ResultText(1));
    m.setResultCell(2, 4, TGDPageModel::ResultText(2));
    m.setResultCell(3, 4, TGDPageModel::ResultText(4));
    m.setResultCell(4, 4, TGDPageModel::ResultText(3));
    EXPECT_EQ(TGDPageModel::ResultText(3), "---");
    EXPECT_EQ(m.GDOpResCellLook(1, 4).background, QColor(0, 255, 0));
    EXPECT_EQ(m.GDOpResCellLook(2, 4).background, QColor(Qt::red));
    EXPECT_EQ(m.GDOpResCellLook(2, 4).text, QColor(Qt::white));
    EXPECT_EQ(m.GDOpResCellLook(3, 4).background, QColor(255, 128, 0));
    EXPECT_EQ(m.GDOpResCellLook(4, 4).background, QColor(Qt::white));
    EXPECT_TRUE(m.GDOpResCellLook(4, 4).bold);
    m.clearResults();
    EXPECT_TRUE(m.GDOpResGrid[4][1].isEmpty());
    EXPECT_EQ(m.GDOpResGrid[0][1], "BAY1");
}

TEST(GDOptFiles, MissingAndGarbageFiles)
{
    ScopedTempRoot tmp;
    TGDPageModel m;
    QString error;
    EXPECT_FALSE(m.GetGDCfgFromFiles(tmp.transferFolder(), &error));
    EXPECT_TRUE(error.contains("H2S.CFG"));
    EXPECT_EQ(m.FGDOptSel, 1);

    QRandomGenerator rng(99);
    for (int i = 0; i < 60; ++i) {
        QByteArray b(int(rng.bounded(3000)), '\0');
        for (char& c : b)
            c = char(rng.bounded(i % 2 ? 128 : 256));
        if (i % 3 == 0)
            b.prepend("UnitFlag=-1\nAlarmHigh=1e30\nCalInterval=99999999999\n");
        const int col = 1 + i % 4;
        m.ReadColumn(col, b);
        const auto& o = m.FGDOpt[col];
        EXPECT_GE(o[GDOPT_ALARMHIGH].mValue, 0);
        EXPECT_LE(o[GDOPT_ALARMHIGH].mValue, FSensor[col].mAlarmMax);
        EXPECT_LE(o[GDOPT_CALINT].mValue, 365);
        const QByteArray text = m.ColumnFileText(col);
        EXPECT_EQ(text.count("\r\n"), 10);
    }
}
