#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>

#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "util/StUtils.h"

namespace {

// Changes the current directory for one test.
struct CurrentDirGuard {
    QString saved = QDir::currentPath();
    explicit CurrentDirGuard(const QString& dir) { QDir::setCurrent(dir); }
    ~CurrentDirGuard() { QDir::setCurrent(saved); }
};

} // namespace

// The transfer folder is the user's own lasting state folder, never the shared /tmp.
TEST(PlatformFolders, TransferFolderIsInTheUsersStateFolder)
{
    QString first;
    {
        testsupport::ScopedTempRoot tmp;
        first = platform::TransferFolder();
        EXPECT_EQ(first, tmp.path() + "/state/marvane/TREVASK/");
        EXPECT_EQ(platform::LegacyTransferFolder(), tmp.path() + "/tmp/TREVASK/");
        // Without XDG_STATE_HOME, or with a relative one (to be ignored): below HOME.
        qunsetenv("XDG_STATE_HOME");
        EXPECT_EQ(platform::TransferFolder(), tmp.path() + "/home/.local/state/marvane/TREVASK/");
        qputenv("XDG_STATE_HOME", "relative/state");
        EXPECT_EQ(platform::TransferFolder(), tmp.path() + "/home/.local/state/marvane/TREVASK/");
    }
    testsupport::ScopedTempRoot other;
    EXPECT_NE(platform::TransferFolder(), first);
    EXPECT_TRUE(platform::DefaultLogDestination().endsWith("/GAVIRODOCK/"));
    EXPECT_EQ(platform::SystemRoot(), "/");
}

TEST(PlatformFolders, ProgramFolderIsWhereTheLanguageFolderIs)
{
    testsupport::ScopedTempRoot tmp;
    const QString withLang = QDir(tmp.path()).canonicalPath() + "/prog";
    const QString without = QDir(tmp.path()).canonicalPath() + "/empty";
    QDir().mkpath(withLang + "/LANGUAGE");
    QDir().mkpath(without);
    {
        CurrentDirGuard cd(withLang);
        EXPECT_EQ(platform::ProgramFolder(), withLang + "/");
        EXPECT_EQ(GetGVPath(), withLang + "/");
    }
    CurrentDirGuard cd(without);
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString expected =
        QDir(appDir).exists("Language") ? appDir + "/" : without + "/";
    EXPECT_EQ(platform::ProgramFolder(), expected);
}

TEST(LegacyCodePage, RoundTripsAndReplaces)
{
    const QString text = QString::fromUtf8("\u00E9\u20AC");
    EXPECT_EQ(platform::EncodeLegacy(text), QByteArray("\xE9\x80"));
    EXPECT_EQ(platform::DecodeLegacy("\xE9\x80"), text);
    EXPECT_EQ(platform::EncodeLegacy(QString::fromUtf8("a\u03A9b")), QByteArray("a?b"));

    // every byte survives decode + encode, the five unassigned ones included
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    EXPECT_EQ(platform::EncodeLegacy(platform::DecodeLegacy(all)), all);

    const QString korean = QString::fromUtf8("\uD55C\uAD6D");
    EXPECT_EQ(platform::EncodeLegacy(korean, true), QByteArray("\xC7\xD1\xB1\xB9"));
    EXPECT_EQ(platform::DecodeLegacy("\xC7\xD1\xB1\xB9", true), korean);
    // a cut-off double-byte character and a stray byte never crash
    EXPECT_EQ(platform::DecodeLegacy("a\xC7", true), QString::fromUtf8("a\uFFFD"));
    EXPECT_EQ(platform::DecodeLegacy("\xFF\xFF" "b", true).right(1), "b");
    EXPECT_EQ(platform::EncodeLegacy(QString::fromUtf8("\u00E9"), true), QByteArray("?"));
}
