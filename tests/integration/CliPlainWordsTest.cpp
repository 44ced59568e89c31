// The command line without language files, with a damaged settings file, and
// with the mail password kept off the command line.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include "Fixture.h"
#include "support/TestSupport.h"

namespace {

struct Outcome {
    int code = -1;
    QString out, err;
};

Outcome run(const QString& program, const QStringList& args, const QString& cwd = QString(),
        const QByteArray& input = QByteArray())
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    Outcome r;
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

TEST(CliPlainWords, WithoutLanguageFilesTheTextsAreEnglishAndQuestionsStillAnswered)
{
    testsupport::ScopedTempRoot root;
    // The program alone, away from its Language folder.
    const QString bare = root.path() + "/bin";
    QDir().mkpath(bare);
    ASSERT_TRUE(QFile::copy(MARVANE_CLI, bare + "/marvane-cli"));
    const QString cli = bare + "/marvane-cli";
    const QString dock = root.path() + "/dock";
    ASSERT_TRUE(docksim::WriteFixture(dock, docksim::FixtureSize::Small, 3).ok());
    ASSERT_EQ(run(cli, {"settings", "set", "SET/LogDestination=" + root.path() + "/store", "ETC/PurgeDay=30"}, bare).code, 0);
    QDir().mkpath(root.path() + "/store");

    Outcome r = run(cli, {"read", "--link", "usb", "--target", dock, "--purge", "no"}, bare);
    ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QRegularExpression("SUCCESS: \\S")))
        << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("built-in English")) << r.err.toStdString();
    EXPECT_EQ(r.err.count("built-in English"), 1);
    ASSERT_EQ(run(cli, {"save-log"}, bare).code, 0);
    // The purge question is answered by --yes, whatever its wording.
    r = run(cli, {"purge", "--link", "usb", "--target", dock, "--yes"}, bare);
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("not started")) << r.out.toStdString();
}

TEST(CliPlainWords, PasswordFromStandardInputShownMaskedOldCopyDeleted)
{
    testsupport::ScopedTempRoot root;
    // An older version's settings in the shared temporary folder, with a password.
    const QString legacy = root.tmpDir() + "/TREVASK/DOCK_KM1.INI";
    testsupport::writeAll(legacy, "[EMAIL]\r\nPW=old-secret\r\nTo=a@example.invalid\r\n");
    Outcome r = run(MARVANE_CLI, {"settings", "show"});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains("EMAIL/To=a@example.invalid"));
    EXPECT_TRUE(r.out.contains("EMAIL/PW=********")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("old-secret"));
    EXPECT_FALSE(QFileInfo::exists(legacy)) << "the old copy with the password stays readable";

    r = run(MARVANE_CLI, {"settings", "set", "EMAIL/Password=-"}, QString(), "s3cr=t pass\n");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QByteArray ini = testsupport::readAll(root.transferFolder() + "DOCK_KM1.INI");
    EXPECT_TRUE(ini.contains("PW=s3cr=t pass")) << ini.toStdString();
    r = run(MARVANE_CLI, {"settings", "show"});
    EXPECT_TRUE(r.out.contains("EMAIL/PW=********"));
    EXPECT_FALSE(r.out.contains("s3cr"));
}

TEST(CliPlainWords, ASettingsFileThatCannotBeReadIsKeptAside)
{
    testsupport::ScopedTempRoot root;
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 37) & 0xFF);
    QDir().mkpath(root.transferFolder());
    testsupport::writeAll(root.transferFolder() + "DOCK_KM1.INI", garbage);
    const Outcome r = run(MARVANE_CLI, {"settings", "set", "ETC/PurgeDay=40"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("DOCK_KM1.INI")) << r.err.toStdString();
    const QStringList aside = QDir(root.transferFolder()).entryList({"DOCK_KM1.INI.unreadable-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(testsupport::readAll(root.transferFolder() + aside.first()), garbage);
    EXPECT_TRUE(testsupport::readAll(root.transferFolder() + "DOCK_KM1.INI").contains("PurgeDay=40"));
}
