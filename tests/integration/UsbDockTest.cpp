// Read, Write and Purge against generated dock trees on the USB-drive link.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "Fixture.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "support/TestSupport.h"

using testsupport::ScopedTempRoot;

namespace {

QByteArray fileBytes(const QString& path) { return testsupport::readAll(path); }

QString stagingFolderFor(docksim::LogKind kind)
{
    switch (kind) {
    case docksim::LogKind::Event: return SAVE_DIR_LOG_GDEVENT;
    case docksim::LogKind::Bump: return SAVE_DIR_LOG_GDBUMP;
    case docksim::LogKind::Cal: return SAVE_DIR_LOG_GDCAL;
    default: return SAVE_DIR_LOG_DOCK;
    }
}

QList<QByteArray> lines(const QByteArray& data)
{
    QList<QByteArray> out = data.split('\n');
    return out;
}

// One program session against one generated dock.
class UsbDock : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir::setCurrent(MARVANE_BINARY_DIR); // the Language folder is found there
        reference = QDateTime::currentDateTime();
        manifest = docksim::WriteFixture(dock.path(), docksim::FixtureSize::Small, 7, reference);
        ASSERT_TRUE(manifest.ok()) << manifest.error.toStdString();
        state.StartUp();
        state.FLogDestDir = tmp.path() + "/store/";
        QDir().mkpath(state.FLogDestDir);
        state.settings.ConfigSetEtcAutoPurgeCheck = false;
        core = std::make_unique<TMainCore>(state, port);
        core->editors.InitConst();
        core->USBDisk.RemovableRoots = [] { return QStringList(); };
        core->DebugLogUnitCheck = core->DebugLogProgressCheck = true;
    }

    bool read()
    {
        port.folderAnswers << dock.path();
        return core->OpReadBtnClick();
    }


    QString T(int n) const { return LangText(n); }

    ScopedTempRoot tmp;
    QTemporaryDir dock;
    QDateTime reference;
    docksim::FixtureManifest manifest;
    ScriptedOperatorPort port;
    AppState state{&port};
    std::unique_ptr<TMainCore> core;
};

TEST_F(UsbDock, ReadFillsStagingLogListAndEditors)
{
    ASSERT_TRUE(read()) << port.statusText.toStdString();
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Success);
    EXPECT_EQ(port.statusText, T(718));
    EXPECT_FALSE(state.FExe);
    EXPECT_EQ(port.busyDepth, 0);

    const QString staging = AppState::TransferFolder();
    // Every classified log is in its staging folder, byte for byte; nothing else is.
    int classified = 0;
    for (const docksim::ManifestLog& log : manifest.logs) {
        const QString name = QFileInfo(log.path).fileName();
        const QString copy = staging + stagingFolderFor(log.kind) + name;
        if (log.kind == docksim::LogKind::None) {
            EXPECT_FALSE(QFileInfo::exists(copy)) << log.path.toStdString();
            continue;
        }
        ++classified;
        EXPECT_EQ(fileBytes(copy), fileBytes(dock.path() + '/' + log.path)) << log.path.toStdString();
    }
    EXPECT_GT(classified, 20);

    // The unit's list: every listed file with the kind and date its name gives, dock logs first.
    TUnitDef& unit = *core->FUnitDef;
    ASSERT_EQ(unit.LogListCount(), manifest.logs.size());
    int lastGroup = 0;
    for (const RUnitLogList& e : unit.FLogList) {
        const QString rel = QDir(dock.path()).relativeFilePath(e.mName);
        auto it = std::find_if(manifest.logs.begin(), manifest.logs.end(),
                               [&](const docksim::ManifestLog& l) { return l.path == rel; });
        ASSERT_NE(it, manifest.logs.end()) << rel.toStdString();
        EXPECT_EQ(e.mOpt, uint8_t(it->kind)) << rel.toStdString();
        EXPECT_EQ(e.mExists, it->kind != docksim::LogKind::None) << rel.toStdString();
        if (it->kind != docksim::LogKind::None) {
            EXPECT_EQ(e.mAliasName, it->alias);
            const QDateTime expected = it->nameDate.isValid() ? it->nameDate : it->fileTime;
            EXPECT_NEAR(e.mDate, DateTimeToDays(expected), 2.0 / 86400) << rel.toStdString();
        }
        const int group = rel.startsWith("LOG/DOCK") ? 1 : rel.startsWith("LOG/EVENT") ? 2 : 3;
        EXPECT_GE(group, lastGroup) << rel.toStdString();
        lastGroup = group;
    }

    // Editors after parsing, identity and firmware choice.
    EXPECT_EQ(core->editors.dock.DockInfoSNEdit, manifest.dockSerial);
    EXPECT_EQ(core->editors.dock.DockInfoVerEdit, manifest.dockVersion);
    EXPECT_EQ(core->editors.dock.DockInfoLocationEdit, manifest.location);
    for (int slot = 1; slot <= manifest.concentrations.size(); ++slot) {
        const docksim::ManifestGas& g = manifest.concentrations[slot - 1];
        EXPECT_EQ(FGasInfo[core->editors.dock.FBottleList[slot] - 1].mName, g.gas);
    }
    EXPECT_EQ(QFileInfo(unit.FFwList.mDockFile.mName).fileName(),
              QFileInfo(manifest.newestDockImage).fileName());
    EXPECT_EQ(unit.FFwList.mDockFile.mVersion, manifest.newestDockVersion);
    EXPECT_EQ(QFileInfo(unit.FFwList.mGDFile.mName).fileName(),
              QFileInfo(manifest.newestGdImage).fileName());
    EXPECT_EQ(core->editors.dock.DockUpgradeFileEdit, unit.FFwList.mDockFile.mName);

    // History: header, steps, success.
    ASSERT_FALSE(port.history.isEmpty());
    EXPECT_TRUE(port.history.first().endsWith("] [" + T(721) + "]"));
    EXPECT_TRUE(port.history.last().endsWith("]    " + T(718)));
}

TEST_F(UsbDock, ReadWithoutDockFailsPlainly)
{
    // No removable dock and the folder question cancelled: nothing happened, no error.
    EXPECT_FALSE(core->OpReadBtnClick());
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Neutral);
    EXPECT_EQ(port.statusText, T(542));
    EXPECT_TRUE(port.history.last().contains(T(542)));
    EXPECT_FALSE(state.FExe);
    EXPECT_EQ(port.busyDepth, 0);
    // The same for Write.
    EXPECT_FALSE(core->OpWriteBtnClick());
    EXPECT_EQ(port.statusText, T(542));
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Neutral);
}

TEST_F(UsbDock, WriteChangesOnlyItsKeysAndRewritesInstrumentFiles)
{
    ASSERT_TRUE(read());
    const QString cfgPath = dock.path() + "/CONFIG/DOCK/DOCK.CFG";
    const QByteArray before = fileBytes(cfgPath);
    QString err;
    const QString newValue = core->editors.dock.DockCfgMaxBumpTimeEdit == 115 ? "20" : "115";
    ASSERT_TRUE(core->editors.Set("DockCfgMaxBumpTimeEdit", newValue, &err)) << err.toStdString();
    port.history.clear();
    port.folderAnswers << dock.path(); // every operation looks for the dock anew
    ASSERT_TRUE(core->OpWriteBtnClick()) << port.statusText.toStdString();

    const QList<QByteArray> a = lines(before), b = lines(fileBytes(cfgPath));
    ASSERT_EQ(a.size(), b.size());
    int changed = 0;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        ++changed;
        EXPECT_TRUE(b[i].startsWith("Bump Time=" + newValue.toLatin1())) << b[i].toStdString();
    }
    EXPECT_EQ(changed, 1);

    // The instrument files on the drive are what the program wrote, CR LF and no byte-order mark.
    for (const char* gas : {"H2S", "CO", "O2", "SO2"}) {
        const QByteArray onDock = fileBytes(dock.path() + "/CONFIG/GD/" + gas + ".CFG");
        EXPECT_EQ(onDock, fileBytes(AppState::TransferFolder() + gas + ".CFG")) << gas;
        EXPECT_FALSE(onDock.startsWith("\xEF\xBB\xBF"));
        EXPECT_TRUE(onDock.endsWith("\r\n"));
        EXPECT_FALSE(onDock.contains("\n\n"));
    }
    // The dock restarts: the port and dock choices are asked for again.
    EXPECT_EQ(core->OpDeviceConnectLanListComboItems, QStringList{T(734)});
    EXPECT_EQ(core->OpDeviceConnectCommPortComboItems, QStringList{"---"});
    EXPECT_EQ(port.statusText, T(718));
}

TEST_F(UsbDock, WriteOffersAChosenOlderDockImage)
{
    ASSERT_TRUE(read());
    // An older valid image than the dock's newest: the chooser asks, then Write asks again.
    const docksim::ManifestImage* older = nullptr;
    for (const docksim::ManifestImage& img : manifest.images)
        if (img.kind == docksim::ImageKind::Dock && img.valid && img.version < manifest.newestDockVersion &&
            img.version > 0)
            older = &img;
    ASSERT_NE(older, nullptr);
    const QString chosen = tmp.path() + "/" + QFileInfo(older->path).fileName();
    ASSERT_TRUE(QFile::copy(dock.path() + "/" + older->path, chosen));

    port.yesNoAnswers << "yes";
    ASSERT_TRUE(core->DockUpgradeFileEditChange(chosen));
    EXPECT_TRUE(port.questions.last().contains(" -> Ver "));
    port.yesNoAnswers << "yes";
    port.folderAnswers << dock.path();
    ASSERT_TRUE(core->OpWriteBtnClick()) << port.statusText.toStdString();
    const QStringList images =
        QDir(dock.path() + "/FW/DOCK").entryList({"*.IMG", "*.img"}, QDir::Files);
    EXPECT_EQ(images, QStringList{QFileInfo(chosen).fileName()});

    // Refused: a file that is no image goes back to the dock's image.
    const QString junk = tmp.path() + "/junk.img";
    testsupport::writeAll(junk, "not an image");
    EXPECT_FALSE(core->DockUpgradeFileEditChange(junk));
    EXPECT_EQ(core->editors.dock.DockUpgradeFileEdit, core->FUnitDef->FFwList.mDockFile.mName);
}

TEST_F(UsbDock, StartPurgeDeletesOnlyOldResultsThatAreSavedAndEmptyFolders)
{
    ASSERT_TRUE(read());
    ASSERT_TRUE(testsupport::SaveEverything(*core));
    // One old result is missing from the local store again: it stays on the dock.
    QString unsaved;
    const TDateTime limit = NowDays() - state.settings.ConfigSetEtcPurgeDayEdit;
    for (const docksim::ManifestLog& log : manifest.logs)
        if (log.kind == docksim::LogKind::Bump && DateTimeToDays(log.nameDate) < limit && unsaved.isEmpty())
            unsaved = log.path;
    ASSERT_FALSE(unsaved.isEmpty());
    const QString serial = QFileInfo(unsaved).fileName().section('_', 0, 0);
    ASSERT_TRUE(QFile::remove(state.FLogDestDir + "KM1/" + serial + "/BUMP/" + QFileInfo(unsaved).fileName()));

    port.folderAnswers << dock.path();
    port.yesNoAnswers << "yes";
    ASSERT_TRUE(core->LogListBtnPurgeClick());
    for (const docksim::ManifestLog& log : manifest.logs) {
        const bool exists = QFileInfo::exists(dock.path() + '/' + log.path);
        const QDateTime when = log.nameDate.isValid() ? log.nameDate : log.fileTime;
        const bool shouldGo = log.kind != docksim::LogKind::None && log.kind != docksim::LogKind::DockLog &&
                              DateTimeToDays(when) < limit && log.path != unsaved;
        EXPECT_EQ(exists, !shouldGo) << log.path.toStdString();
    }
    EXPECT_TRUE(port.history.join('\n').contains(T(778).arg(1))) << port.history.join('\n').toStdString();
    for (const QString& d : manifest.emptyDirs)
        EXPECT_FALSE(QFileInfo::exists(dock.path() + '/' + d)) << d.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dock.path() + "/LOG/EVENT"));
    EXPECT_TRUE(QFileInfo::exists(dock.path() + "/LOG/TEST"));
}

TEST_F(UsbDock, AutomaticPurgeDeletesOnlyWhatTheLocalStoreHolds)
{
    state.settings.ConfigSetEtcAutoPurgeCheck = true;
    // First Read: nothing is in the local store yet, so nothing is offered for deletion.
    ASSERT_TRUE(read());
    EXPECT_TRUE(port.questions.isEmpty()) << port.questions.join('|').toStdString();
    for (const docksim::ManifestLog& log : manifest.logs)
        EXPECT_TRUE(QFileInfo::exists(dock.path() + '/' + log.path)) << log.path.toStdString();
    EXPECT_TRUE(port.history.join('\n').contains(T(778).section(' ', 1, 3)));
    ASSERT_TRUE(testsupport::SaveEverything(*core));

    // The next Read offers the saved old files, says how many and from when.
    const TDateTime limit = NowDays() - state.settings.ConfigSetEtcPurgeDayEdit;
    int old = 0;
    for (const docksim::ManifestLog& log : manifest.logs) {
        const QDateTime when = log.nameDate.isValid() ? log.nameDate : log.fileTime;
        if (log.kind != docksim::LogKind::None && DateTimeToDays(when) < limit)
            ++old;
    }
    ASSERT_GT(old, 0);
    port.yesNoAnswers << "no";
    ASSERT_TRUE(read());
    ASSERT_EQ(port.questions.size(), 1);
    EXPECT_TRUE(port.questions.first().contains(T(1004).arg(state.settings.ConfigSetEtcPurgeDayEdit)));
    EXPECT_TRUE(port.questions.first().contains(
        T(774).arg(old).arg(FormatDays("yyyy-mm-dd", limit))))
        << port.questions.first().toStdString();
    for (const docksim::ManifestLog& log : manifest.logs)
        EXPECT_TRUE(QFileInfo::exists(dock.path() + '/' + log.path)) << log.path.toStdString();
    for (const QString& d : manifest.emptyDirs)
        EXPECT_TRUE(QFileInfo::exists(dock.path() + '/' + d)); // No also skips the folders

    port.yesNoAnswers << "yes";
    ASSERT_TRUE(read());
    for (const docksim::ManifestLog& log : manifest.logs) {
        const QDateTime when = log.nameDate.isValid() ? log.nameDate : log.fileTime;
        const bool shouldGo = log.kind != docksim::LogKind::None && DateTimeToDays(when) < limit;
        EXPECT_EQ(QFileInfo::exists(dock.path() + '/' + log.path), !shouldGo) << log.path.toStdString();
    }
}

TEST_F(UsbDock, SwitchingLinkKeepsWhatTheReadFound)
{
    ASSERT_TRUE(read());
    const int count = core->FUnitDef->LogListCount();
    core->SelectLink(LinkChoice::Comm);
    EXPECT_EQ(core->FUnitDef, &core->DockComm);
    EXPECT_EQ(core->DockComm.LogListCount(), count);
    EXPECT_EQ(core->DockComm.FDockInfo.mSN, manifest.dockSerial);
    EXPECT_EQ(core->DockComm.FFwList.mDockFile.mName, core->USBDisk.FFwList.mDockFile.mName);
    const LinkButtons b = ButtonsForLink(LinkChoice::Comm);
    EXPECT_TRUE(b.rtc && b.serial && b.reset && b.downloads);
    const LinkButtons d = ButtonsForLink(LinkChoice::Disk);
    EXPECT_FALSE(d.rtc || d.serial || d.reset || d.downloads);
}

TEST(HistoryAndProgress, LineFormatsFiltersAndBars)
{
    ScopedTempRoot tmp;
    ScriptedOperatorPort port;
    AppState state(&port);
    TMainCore core(state, port);
    core.AddLog(LOGTYPE_PROGRESS2, "hidden");
    EXPECT_TRUE(port.history.isEmpty()); // both filters start off
    core.DebugLogProgressCheck = true;
    core.AddLog(LOGTYPE_PROGRESS, "a");
    core.AddLog(LOGTYPE_PROGRESS1, "b");
    core.AddLog(LOGTYPE_PROGRESS2, "c");
    core.AddLog(LOGTYPE_UNIT, "unit"); // its own filter is still off
    core.AddLog(9, "unknown kind");
    ASSERT_EQ(port.history.size(), 3);
    EXPECT_TRUE(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\] a$)").match(port.history[0]).hasMatch());
    EXPECT_TRUE(port.history[1].endsWith("]    b"));
    EXPECT_TRUE(port.history[2].endsWith("]      c"));

    core.ProgressStart(100);
    core.ProgressReady("file", 40, 100, 60);
    core.OnUnitProgress(55); // above the file's size
    EXPECT_EQ(port.fileValue, 40);
    EXPECT_EQ(port.allValue, 100);
    core.ProgressStop();
    core.OnUnitProgress(10); // after the stop nothing moves
    EXPECT_EQ(port.fileValue, 40);
    EXPECT_FALSE(port.progressVisible);

    state.FAutoMode = true; // Auto mode runs without bars
    core.ProgressStart(5);
    EXPECT_FALSE(core.FProgOn);
}

} // namespace

namespace {

TEST_F(UsbDock, SaveLogCopyStepsFileLogsIntoTheStore)
{
    ASSERT_TRUE(read());
    TUnitDef& unit = *core->FUnitDef;
    // Index arrays as the log browser fills them: one event row and one tree node per instrument.
    QStringList eventRows, calNodes;
    QVector<int> calChildren;
    for (int i = 0; i < unit.LogListCount(); ++i) {
        const RUnitLogList e = unit.GetLogList(i);
        if (e.mOpt == UNIT_OPT_DOCK)
            core->FLogDock << i;
        if (e.mOpt == UNIT_OPT_GDEVENT) {
            if (!eventRows.contains(e.mAliasName))
                eventRows << e.mAliasName;
            core->FLOgGDEvent.append({i, int(eventRows.indexOf(e.mAliasName)), 0});
        }
        if (e.mOpt == UNIT_OPT_GDCAL) {
            if (!calNodes.contains(e.mAliasName)) {
                calNodes << e.mAliasName;
                calChildren << 0;
            }
            const int node = int(calNodes.indexOf(e.mAliasName));
            core->FLogGDCal.append({i, node, calChildren[node]++});
        }
    }
    ASSERT_FALSE(core->FLogDock.isEmpty());
    ASSERT_FALSE(core->FLOgGDEvent.isEmpty());
    ASSERT_FALSE(core->FLogGDCal.isEmpty());

    QString sErr;
    core->CopyDockFilesFromList({0}, sErr);
    const QString dockLog = GetFatFileNameExtract(unit.GetLogList(core->FLogDock[0]).mName);
    EXPECT_TRUE(QFileInfo::exists(state.FLogDestDir + "DOCK/" + manifest.dockSerial + "/" + dockLog));

    QVector<int> events;
    core->CopyGDEventFromList({0}, sErr, events);
    ASSERT_FALSE(events.isEmpty());
    for (int idx : events) {
        const RUnitLogList e = unit.GetLogList(idx);
        EXPECT_EQ(e.mAliasName, eventRows[0]);
        EXPECT_TRUE(QFileInfo::exists(state.FLogDestDir + "KM1/" + e.mAliasName + "/EVENT/" +
                                      GetFatFileNameExtract(e.mName)));
    }

    // A checked node without its index element is reported with both captions.
    QVector<int> cals;
    const RLogGDIndex first = core->FLogGDCal.first();
    core->CopyGDCalFromList({{first.mViewIdx, first.mViewSubIdx, "A", "B"}, {99, 0, "Ghost", "2026"}},
                            sErr, cals);
    EXPECT_EQ(cals, QVector<int>{first.mLogIdx});
    EXPECT_TRUE(sErr.contains("[" + LangText(741) + "] Ghost ... 2026\r")) << sErr.toStdString();

    // A different result stored under the name is never written over; a staging copy
    // that is gone is reported.
    const RUnitLogList cal = unit.GetLogList(first.mLogIdx);
    const QString stored = state.FLogDestDir + "KM1/" + cal.mAliasName + "/CAL/" +
                           GetFatFileNameExtract(cal.mName);
    testsupport::writeAll(stored, "older copy");
    core->CopyGDCalFromList({{first.mViewIdx, first.mViewSubIdx, "A", "B"}}, sErr, cals);
    EXPECT_EQ(fileBytes(stored), QByteArray("older copy"));
    QFile::remove(AppState::TransferFolder() + SAVE_DIR_LOG_GDCAL + GetFatFileNameExtract(cal.mName));
    sErr.clear();
    core->CopyGDCalFromList({{first.mViewIdx, first.mViewSubIdx, "A", "B"}}, sErr, cals);
    EXPECT_TRUE(cals.isEmpty());
    EXPECT_TRUE(sErr.startsWith("[" + LangText(740) + "] ")) << sErr.toStdString();
}

TEST_F(UsbDock, HostileSerialStaysInsideTheStore)
{
    ASSERT_TRUE(read());
    core->editors.dock.DockInfoSNEdit = "../../escape";
    for (int i = 0; i < core->FUnitDef->LogListCount(); ++i)
        if (core->FUnitDef->FLogList[i].mOpt == UNIT_OPT_DOCK)
            core->FLogDock << i;
    QString sErr;
    core->CopyDockFilesFromList({0}, sErr);
    EXPECT_TRUE(sErr.isEmpty()) << sErr.toStdString();
    EXPECT_FALSE(QFileInfo::exists(state.FLogDestDir + "../escape"));
    EXPECT_TRUE(QFileInfo(state.FLogDestDir + "DOCK/.._.._escape").isDir());
}

} // namespace

// A link on the drive to a file of the PC is never followed: the Read fails,
// names it, and nothing of the PC's file reaches the staging folder.
TEST_F(UsbDock, LinkPointingOffTheDriveIsRefused)
{
    QTemporaryDir outside;
    const QString secret = outside.path() + "/hostname";
    testsupport::writeAll(secret, "not the dock's\n");
    const QString o2 = dock.path() + "/CONFIG/GD/O2.CFG";
    ASSERT_TRUE(QFile::remove(o2));
    ASSERT_TRUE(QFile::link(secret, o2));
    // A link that stays on the drive is the dock's own business and is followed.
    const QString co = dock.path() + "/CONFIG/GD/CO.CFG";
    const QByteArray coBytes = testsupport::readAll(co);
    ASSERT_TRUE(QFile::rename(co, dock.path() + "/CONFIG/GD/CO.REAL"));
    ASSERT_TRUE(QFile::link(dock.path() + "/CONFIG/GD/CO.REAL", co));

    EXPECT_FALSE(read());
    EXPECT_EQ(port.statusText.left(T(603).size()), T(603)) << port.statusText.toStdString();
    EXPECT_TRUE(port.history.join('\n').contains(T(806) + " : ")) << port.history.join('\n').toStdString();
    const QString stage = AppState::TransferFolder();
    bool linkedCopy = false;
    QDirIterator it(stage, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray bytes = testsupport::readAll(it.next());
        EXPECT_NE(bytes, "not the dock's\n") << it.filePath().toStdString();
        linkedCopy = linkedCopy || bytes == coBytes;
    }
    EXPECT_TRUE(linkedCopy);
}
