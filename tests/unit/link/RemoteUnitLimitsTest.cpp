// The bound on one operation's listing, on a link whose dock holds more entries
// than any dock can: the walk stops at the limit, says so, and the operation fails
// instead of passing off the part it listed as the whole.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "lang/LangTable.h"
#include "link/remote/RemoteUnit.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace {

constexpr qint64 kLimit = TRemoteUnit::kMaxListedEntries;
const QByteArray kLog = "SN,EVENT\r\n2024-05-01 12:00:00,HIGH\r\n";

// A dock whose /LOG/EVENT/A/ and /LOG/EVENT/B/ hold 70,000 entries each, with one
// event log first in A and one last in B; listings and downloads come from memory.
class CrowdedDock : public TRemoteUnit {
public:
    QStringList listed;
    QStringList loaded;

    uint8_t GetFileList(const QString& sPath, QVector<RFileList>& arrList) override
    {
        listed << sPath;
        arrList.clear();
        auto add = [&](const QString& name, bool dir, qint64 size) {
            RFileList e;
            e.mName = sPath + name;
            e.mDir = dir;
            e.mSize = size;
            e.mDateStr = QStringLiteral("20240501120000");
            arrList.append(e);
        };
        if (sPath == FAT_DIR_LOG_GDEVENT) {
            add(QStringLiteral("A/"), true, 0);
            add(QStringLiteral("B/"), true, 0);
        } else if (sPath.startsWith(FAT_DIR_LOG_GDEVENT)) {
            const QString sn = sPath.endsWith(QLatin1String("A/")) ? QStringLiteral("SNA") : QStringLiteral("SNB");
            if (sn == QLatin1String("SNA"))
                add(sn + QStringLiteral("_EVENT_2405011200.CSV"), false, kLog.size());
            for (int i = 0; i < 70000; ++i)
                add(QStringLiteral("N%1.TXT").arg(i), false, 10);
            if (sn == QLatin1String("SNB"))
                add(sn + QStringLiteral("_EVENT_2405011200.CSV"), false, kLog.size());
        }
        return 0;
    }
    uint8_t LoadFile(const QString& sDest, const QString& sSource, qint64) override
    {
        loaded << sSource;
        QFile f(sDest);
        return f.open(QIODevice::WriteOnly) && f.write(kLog) == kLog.size() ? 0 : 1;
    }
    uint8_t GetFileSize(const QString&, qint64& n) override { return n = kLog.size(), 0; }
    uint8_t SaveFile(const QString&, const QString&) override { return 1; }
    uint8_t DeleteFile(const QString&) override { return 1; }
    uint8_t DeleteDirectory(const QString&) override { return 1; }
    uint8_t GetDeviceInfo(QString&, QString&) override { return 1; }
    bool OpenComm(const QString&) override { return BeginLinkSession(), true; }
    void CloseComm() override {}
    TDateTime ReadRtc() override { return 0; }
    TDateTime SetRtc(TDateTime) override { return 0; }
    void UnitReset() override {}
    void DeviceReset() override {}
    void SendExtCommand(uint8_t) override {}
    bool GetTaskStatus(RTask&, uint8_t&, RBayTaskArr&) override { return false; }
    bool GetTaskResult(RBayResArr&, RGDInfoArr&) override { return false; }
    bool GetTaskLog(uint8_t, uint8_t, RLogInfo&) override { return false; }

protected:
    Traits LinkTraits() const override { return Traits{}; }
};

} // namespace

TEST(RemoteUnitLimits, OneOperationListsAtMostItsLimitAndFailsSayingSo)
{
    testsupport::ScopedTempRoot tmp;
    CrowdedDock dock;
    ASSERT_TRUE(dock.OpenComm(QString()));
    dock.LoadLogFiles();

    const QString reason = LangText(803).arg(kLimit);
    EXPECT_EQ(dock.FStopReason, reason);
    // The failure is on the operation's list once, naming the folder whose listing
    // was cut (even had no listing come after it).
    EXPECT_EQ(dock.FFailed, QStringList{reason + QStringLiteral(" : /LOG/EVENT/B/")});
    // No listing request after the limit: /LOG/TEST/ was never asked for.
    EXPECT_EQ(dock.listed, (QStringList{FAT_DIR_LOG_DOCK, FAT_DIR_LOG_GDEVENT, FAT_DIR_LOG_GDEVENT + "A/",
                                        FAT_DIR_LOG_GDEVENT + "B/"}));
    // Entries past the limit are dropped, so the log at the end of B is not taken.
    EXPECT_LE(dock.LogListCount(), kLimit + 3);
    EXPECT_EQ(dock.loaded, QStringList{FAT_DIR_LOG_GDEVENT + "A/SNA_EVENT_2405011200.CSV"});
    const QString staged = platform::TransferFolder() + TRemoteUnit::StagingFolderOf(UNIT_OPT_GDEVENT);
    EXPECT_EQ(testsupport::readAll(staged + "SNA_EVENT_2405011200.CSV"), kLog);
    EXPECT_FALSE(QFileInfo::exists(staged + "SNB_EVENT_2405011200.CSV"));

    // The next operation starts with its own allowance.
    ASSERT_TRUE(dock.OpenComm(QString()));
    EXPECT_TRUE(dock.FStopReason.isEmpty());
    QVector<RFileList> list;
    dock.listed.clear();
    dock.LoadLogFileList(list, false);
    EXPECT_EQ(dock.listed.first(), FAT_DIR_LOG_GDEVENT);
    EXPECT_EQ(dock.FStopReason, reason);
}
