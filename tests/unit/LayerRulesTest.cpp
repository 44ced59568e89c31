// The layer rules, read off the sources: lower layers never include the ones
// above them, and only the window includes widgets.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

namespace {

// "file: include" for every #include line of the sources under src/<folder> that
// matches the pattern.
QStringList includesMatching(const QString& folder, const QRegularExpression& pattern)
{
    QStringList hits;
    const QString root = QStringLiteral(MARVANE_SOURCE_DIR "/src/") + folder;
    QDirIterator it(root, {"*.h", "*.cpp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith("#include") && pattern.match(line).hasMatch())
                hits << path.mid(root.size() - folder.size()) + ": " + line;
        }
    }
    return hits;
}

} // namespace

TEST(LayerRules, LowerLayersIncludeNothingFromAbove)
{
    const QRegularExpression upward(R"(#include\s+"(app|ui|cli|service)/)");
    for (const char* folder : {"util", "domain", "lang", "platform", "link", "logview", "report"}) {
        ASSERT_TRUE(QDir(QStringLiteral(MARVANE_SOURCE_DIR "/src/") + folder).exists()) << folder;
        EXPECT_EQ(includesMatching(folder, upward), QStringList()) << folder;
    }
    // The shared tables sit just above util.
    const QRegularExpression aboveUtil(R"(#include\s+"(lang|link|logview|report|platform)/)");
    EXPECT_EQ(includesMatching("domain", aboveUtil), QStringList());
}

TEST(LayerRules, OnlyTheWindowIncludesWidgets)
{
    const QRegularExpression widgets(R"(#include\s+<(QtWidgets|QApplication>|QWidget>|QMessageBox>))");
    for (const char* folder : {"util", "domain", "lang", "platform", "link", "logview", "report", "app", "cli"})
        EXPECT_EQ(includesMatching(folder, widgets), QStringList()) << folder;
}

TEST(LayerRules, TheFleetIndexSitsBelowTheAppAndOwnsAllSql)
{
    const QRegularExpression upward(R"(#include\s+"(app|ui|cli|service)/)");
    EXPECT_EQ(includesMatching("fleet", upward), QStringList());
    const QRegularExpression sql(R"(#include\s+<(QtSql|QSql))");
    for (const char* folder : {"util", "domain", "lang", "platform", "link", "logview", "report", "app", "ui", "cli",
                               "service"})
        EXPECT_EQ(includesMatching(folder, sql), QStringList()) << folder;
}
