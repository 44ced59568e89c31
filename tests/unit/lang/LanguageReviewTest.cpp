// What a reviewer of the shipped languages checks: nothing left in English, no
// message glued together from pieces, one term per concept (the glossary), French
// typography and keyboard mnemonics that do not clash on a page.
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QRegularExpression>
#include <QSet>

using testsupport::readAll;

namespace {

const QString kSource = QStringLiteral(MARVANE_SOURCE_DIR "/");
const QString kBuilt = QStringLiteral(MARVANE_BINARY_DIR "/Language/");

LangTable builtTable(int n)
{
    const QByteArray bytes = readAll(kBuilt + LAN_NAME[size_t(n)] + ".DAT");
    LangTable t;
    t.parseLanguageText(n == LANG_KOR_POS ? platform::DecodeLegacy(bytes, true) : QString::fromUtf8(bytes));
    return t;
}

QList<int> numberedKeys(const LangTable& t)
{
    QList<int> keys;
    for (int n = 1; n <= LANG_DATA_SIZE; ++n)
        if (!t.text(n).isEmpty() && !(n >= 601 && n <= 630 && t.text(n) == "ERROR"))
            keys << n;
    return keys;
}

// Texts that may read as in English: product tokens, and words a language spells alike.
const QSet<QString> kTokens = {"IP", "SN", "RTC", "TCP", "OK", "Ethernet", "Firmware"};
const std::array<QSet<QString>, LANG_MAX + 1> kSpeltAlike = {
    QSet<QString>{},
    QSet<QString>{},
    {"Gas", "Gateway", "Display", "Zero", "Report", "Password", "File", "Bump test", "Audit", "Server"},
    {"Version", "Concentration", "Configuration", "Option", "Date", "Port", "Type", "Simulation",
     "Production", "Purge", "Audit", "Site"},
    {"Gas", "Sensor", "ERROR", "Error"},
    {"Version", "Gas", "Gateway", "Sensor", "Alarm", "Option", "Name", "Port", "Simulation", "Layout",
     "Status", "Trend", "Audit", "Server", "Details"},
    QSet<QString>{},
};

} // namespace

// ---- left in English ---------------------------------------------------------

TEST(LanguageReview, NoTextOfAnotherLanguageIsLeftInEnglish)
{
    const LangTable en = builtTable(1);
    for (int lang = 2; lang <= LANG_MAX; ++lang) {
        SCOPED_TRACE(LAN_NAME[size_t(lang)].toStdString());
        const LangTable t = builtTable(lang);
        for (int n : numberedKeys(en)) {
            const QString e = en.text(n);
            if (t.text(n) != e)
                continue;
            EXPECT_TRUE(kTokens.contains(e) || kSpeltAlike[size_t(lang)].contains(e))
                << n << " is still English: " << e.toStdString();
        }
    }
}

// ---- glued messages --------------------------------------------------------------

namespace {

// A language text in the sources: T(n), LangText(n) or LangText(n, "English").
const QRegularExpression kCall(QStringLiteral(R"((?<![\w.>])(?:LangText|T)\((\d+)(?:,\s*"[^"]*")?\))"));
const QRegularExpression kBlankJoinAfter(
    QStringLiteral(R"(^\s*\+\s*(?:' '|" "|QStringLiteral\(" "\)|QLatin1Char\(' '\)))"));
const QRegularExpression kBlankJoinBefore(
    QStringLiteral(R"((?:' '|" "|QStringLiteral\(" "\)|QLatin1Char\(' '\))\s*\+\s*$)"));
const QRegularExpression kNumberAfter(QStringLiteral(R"(^\s*\+\s*QString::number\()"));
const QRegularExpression kPlusAfter(QStringLiteral(R"(^\s*\+)"));
// English that cannot stand alone before a value: it ends with a word that wants one.
const QRegularExpression kOpenEnd(
    QStringLiteral(R"(\b(to|in|of|for|from|at|than|with|by|found|the|a|an)$)"),
    QRegularExpression::CaseInsensitiveOption);

bool isSentence(const QString& english)
{
    return english.endsWith('.') || english.endsWith('?') || english.endsWith('!');
}

// Places in `code` where a language text is built from pieces: joined to a value or to
// another text by a bare blank, to a number, or ending in a word that needs what follows.
// Two whole sentences may follow each other.
QStringList gluedIn(const QString& code, const LangTable& en)
{
    QStringList found;
    auto it = kCall.globalMatch(code);
    while (it.hasNext()) {
        const auto m = it.next();
        const int n = m.captured(1).toInt();
        const QString english = en.text(n);
        const QString after = code.mid(m.capturedEnd(), 80);
        const QString before = code.mid(std::max<qsizetype>(0, m.capturedStart() - 80),
                                        m.capturedStart() - std::max<qsizetype>(0, m.capturedStart() - 80));
        QString why;
        if (after.contains(kBlankJoinAfter) && !isSentence(english))
            why = "joined by a blank to what follows";
        else if (after.contains(kNumberAfter))
            why = "joined to a number";
        else if (after.contains(kPlusAfter) && english.contains(kOpenEnd))
            why = "ends in a word that needs what follows";
        else if (const auto b = kBlankJoinBefore.match(before); b.hasMatch()) {
            // Only a whole sentence may stand before the blank.
            const QString head = before.left(b.capturedStart()).trimmed();
            const auto prev = QRegularExpression(QStringLiteral(R"((?:LangText|T)\((\d+)(?:,\s*"[^"]*")?\)\s*\+?$)"))
                                  .match(head.endsWith('+') ? head.chopped(1).trimmed() : head);
            if (!prev.hasMatch() || !isSentence(en.text(prev.captured(1).toInt())))
                why = "joined by a blank to what precedes";
        }
        if (!why.isEmpty())
            found << QStringLiteral("%1 (%2): %3").arg(n).arg(english, why);
    }
    return found;
}

} // namespace

TEST(LanguageReview, TheGlueCheckCatchesPiecedMessages)
{
    const LangTable en = builtTable(1);
    // The old forms of three messages, and what stays allowed.
    EXPECT_EQ(gluedIn(R"(AddLog(T(749) + " : " + T(750) + ' ' + QString::number(found) + ' ' + T(751));)", en)
                  .size(),
              2);
    EXPECT_EQ(gluedIn(R"(LangText(764) + QStringLiteral(" : ") + settings.sTo;)", en).size(), 1);
    EXPECT_EQ(gluedIn(R"(T(761) + QStringLiteral(" (~") + QString::number(days) + ' ' + T(762) + ')')", en).size(),
              1);
    EXPECT_TRUE(gluedIn(R"(T(712) + ' ' + T(783); T(709) + QStringLiteral(" : ") + error;)", en).isEmpty());
    EXPECT_TRUE(gluedIn(R"(LangText(1001, "Search finished: %1 dock(s) found").arg(found);)", en).isEmpty());
}

namespace {

// The program's sources below a folder of the tree: path from the tree's root, text.
QList<QPair<QString, QString>> sourcesBelow(const QString& folder)
{
    QList<QPair<QString, QString>> files;
    QDirIterator it(kSource + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.append({path.mid(kSource.size()), QString::fromUtf8(readAll(path))});
    }
    return files;
}

} // namespace

TEST(LanguageReview, NoMessageOfTheProgramIsGluedFromPieces)
{
    const LangTable en = builtTable(1);
    QStringList glued;
    const auto files = sourcesBelow("src");
    for (const auto& [path, text] : files)
        for (const QString& g : gluedIn(text, en))
            glued << path + ": " + g;
    EXPECT_GT(files.size(), 50);
    EXPECT_TRUE(glued.isEmpty()) << glued.join('\n').toStdString();
}

// ---- one term per concept ----------------------------------------------------------

TEST(LanguageReview, TextsFollowTheGlossary)
{
    // The glossary's table: a row per concept, a column per language; "not:" lists
    // spellings that must not come back.
    const QStringList lines = QString::fromUtf8(readAll(kSource + "data/Language/GLOSSARY.md")).split('\n');
    std::array<QStringList, LANG_MAX + 1> banned;
    int rows = 0;
    for (const QString& line : lines) {
        if (!line.startsWith("| ") || line.startsWith("| Concept") || line.startsWith("|---"))
            continue;
        const QStringList cells = line.split('|');
        ASSERT_EQ(cells.size(), 2 + 1 + LANG_MAX) << line.toStdString(); // empty ends, concept, six
        ++rows;
        for (int lang = 2; lang <= LANG_MAX; ++lang) {
            const QString cell = cells[1 + lang];
            const qsizetype at = cell.indexOf("not:");
            if (at >= 0)
                for (const QString& term : cell.mid(at + 4).split(','))
                    banned[size_t(lang)] << term.trimmed();
        }
    }
    EXPECT_GE(rows, 15);
    EXPECT_TRUE(banned[5].contains("Voralarm"));

    const LangTable en = builtTable(1);
    for (int lang = 2; lang <= LANG_MAX; ++lang) {
        const LangTable t = builtTable(lang);
        for (const QString& term : banned[size_t(lang)]) {
            const QRegularExpression re(QStringLiteral("(?<!\\w)") + QRegularExpression::escape(term),
                                        QRegularExpression::CaseInsensitiveOption |
                                            QRegularExpression::UseUnicodePropertiesOption);
            for (int n : numberedKeys(en))
                EXPECT_FALSE(t.text(n).contains(re))
                    << LAN_NAME[size_t(lang)].toStdString() << " " << n << " uses \"" << term.toStdString()
                    << "\": " << t.text(n).toStdString();
        }
    }
}

TEST(LanguageReview, FrenchPutsANoBreakSpaceBeforeDoublePunctuationAndInsideGuillemets)
{
    const LangTable en = builtTable(1);
    const LangTable fr = builtTable(3);
    static const QRegularExpression plainBefore(QStringLiteral(R"( [:;?!»]|« )"));
    static const QRegularExpression noneBefore(QStringLiteral(R"([^\x{00A0}\x{202F}][;?!»]|«[^\x{00A0}\x{202F}]|\w:(?!\d))"));
    for (int n : numberedKeys(en)) {
        const QString t = fr.text(n);
        EXPECT_FALSE(t.contains(plainBefore)) << n << ": " << t.toStdString();
        EXPECT_FALSE(t.contains(noneBefore)) << n << ": " << t.toStdString();
    }
}

// ---- mnemonics -------------------------------------------------------------------

namespace {

// The letter a caption's "&" makes its mnemonic, or a null character.
QChar mnemonicOf(const QString& caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1].toLower();
    }
    return {};
}

// The buttons shown together: the bottom bar is under every page.
const QList<int> kBottomBar = {501, 502, 503, 504};
const QList<QList<int>> kPageButtons = {
    {},                                           // Docking Station
    {65, 66},                                     // instrument page
    {102, 103, 104, 105, 106},                    // LOG
    {151, 152, 153},                              // Print
    {359, 360, 538, 539},                         // Config, Setting
    {355},                                        // Config, Send Report
    {254, 261, 262, 263},                         // History
    {402, 419, 424, 425, 431, 432, 407, 412, 413}, // service page
    {516},                                        // Connection tab
    {518, 519},                                   // Operation tab
};

QStringList mnemonicClashes(const LangTable& t)
{
    QStringList clashes;
    for (const QList<int>& page : kPageButtons) {
        QHash<QChar, int> taken;
        for (int n : kBottomBar + page) {
            const QChar m = mnemonicOf(t.text(n));
            if (m.isNull())
                continue;
            if (taken.contains(m))
                clashes << QStringLiteral("%1 and %2 share '%3'").arg(taken[m]).arg(n).arg(m);
            else
                taken.insert(m, n);
        }
    }
    return clashes;
}

} // namespace

TEST(LanguageReview, MnemonicsOfTheButtonsOfAPageDoNotClash)
{
    for (int lang = 1; lang <= LANG_MAX; ++lang) {
        SCOPED_TRACE(LAN_NAME[size_t(lang)].toStdString());
        const LangTable t = builtTable(lang);
        EXPECT_TRUE(mnemonicClashes(t).isEmpty()) << mnemonicClashes(t).join('\n').toStdString();
        for (int n : kBottomBar) {
            const QString caption = t.text(n);
            const QChar m = mnemonicOf(caption);
            // One typed key: an ASCII letter, never a Hangul syllable; Korean puts it after the word.
            ASSERT_FALSE(m.isNull()) << n << ": " << caption.toStdString();
            EXPECT_TRUE(m.toLatin1() >= 'a' && m.toLatin1() <= 'z') << n << ": " << caption.toStdString();
            EXPECT_EQ(caption.count('&'), 1) << n;
            if (lang == LANG_KOR_POS) {
                EXPECT_TRUE(caption.endsWith(QStringLiteral("(&") + m.toUpper() + ')')) << caption.toStdString();
            }
        }
    }

    // The check sees a clash between two buttons that are shown together.
    LangTable t = builtTable(2);
    t.setText(502, "&Annulla");
    t.setText(501, "&Automatico");
    ASSERT_EQ(mnemonicClashes(t).size(), int(kPageButtons.size()));
    t.setText(501, "Aut&omatico");
    EXPECT_TRUE(mnemonicClashes(t).isEmpty());
    t.setText(106, "C&arica"); // the LOG page's Load button takes Cancel's letter
    EXPECT_EQ(mnemonicClashes(t), QStringList{"502 and 106 share 'a'"});
}

// ---- lines of the links ----------------------------------------------------------

TEST(LanguageReview, LinkLinesShownInTheWindowComeFromTheTable)
{
    // History lines, search lines and progress captions of the links: never an English
    // literal (protocol strings sent to the dock are not passed to these).
    static const QRegularExpression literal(
        QStringLiteral(R"(\b(?:Inform|log|ProgressReady)\(\s*(?:QStringLiteral|QLatin1String)?\(?\s*"[A-Za-z])"));
    QStringList found;
    const auto files = sourcesBelow("src/link");
    for (const auto& [path, text] : files) {
        const QStringList lines = text.split('\n');
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains(literal))
                found << QStringLiteral("%1:%2: %3").arg(path).arg(i + 1).arg(lines[i].trimmed());
    }
    EXPECT_GT(files.size(), 10);
    EXPECT_TRUE(found.isEmpty()) << found.join('\n').toStdString();
    // The check sees the old form.
    EXPECT_TRUE(QStringLiteral(R"(Inform(QStringLiteral("LOAD ") + e.mName);)").contains(literal));
    EXPECT_FALSE(QStringLiteral(R"(Inform(LangText(1018, "LOAD %1").arg(e.mName));)").contains(literal));

    // Every line of the links reads in German with German words, its value in place.
    const LangTable de = builtTable(5);
    EXPECT_EQ(de.text(1018).arg("/LOG/A.CSV"), "LESEN /LOG/A.CSV");
    EXPECT_EQ(de.text(1026).arg("GD1", "2.1"), "SN: GD1  VERSION: 2.1");
}
