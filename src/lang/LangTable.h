#pragma once
// The table of 1200 numbered window and message texts, the list of available
// languages and the language files.
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

inline constexpr int LANG_DATA_SIZE = 1200;
inline constexpr int LANG_MAX = 6;
inline constexpr int LANG_MAX_FOR = 5;
inline constexpr int LANG_KOR_POS = 6;
inline constexpr int LANG_CODE_ANSI = 82; // language file in the 8-bit code page
extern const std::array<QString, 7> LAN_NAME; // [1..6]

struct RLangList {
    QString mFile;
    int mIndex = 0;
    QString mFont;
    int mCode = 0;
};

class LangTable {
public:
    LangTable(); // texts as after a reset: 601..630 read "ERROR"

    // GVLangData: texts 1..1200; out of range gives an empty text.
    QString text(int n) const;
    void setText(int n, const QString& s);
    QString languageName(int n) const; // "L1".."L6" of the loaded file, n = 1..6
    // Language n as it names itself in its own file (when installed), else as the
    // loaded file names it: the list shows a way back whatever was chosen.
    QString ownLanguageName(int n) const;
    // Language code of Qt's own translations for a language of the list
    // ("it", "fr", ...); empty for English.
    static QString qtLanguageCode(const RLangList& lang);

    QVector<RLangList> GVLangList;
    int GVLangSelect = 0;

    // Name of the language list file inside the transfer folder.
    static QString listFilePath(const QString& transferFolder);
    static QString languageFilePath(const QString& programFolder, const QString& name);

    // Loads (creating when missing) the language list and clamps GVLangSelect.
    // An empty transferFolder gives the default list without touching any file.
    void loadList(const QString& transferFolder, const QString& programFolder);
    // Resets the texts (601..630 = "ERROR") and reads the selected language's file.
    // Returns false when the file is missing or holds no texts: the English texts
    // built into the program are used then (usingBuiltIn()).
    bool loadSelected(const QString& programFolder);
    // The English column of the language source, compiled into the program.
    void loadBuiltIn();
    bool usingBuiltIn() const { return m_builtIn; }
    const RLangList& selected() const;

    // "Font Change": stores the font of the selected language in the list file.
    bool setSelectedFont(const QString& transferFolder, const QString& font);

    // "Make Language File": rebuilds the six files from the two sources.
    // Returns a readable error text, empty on success.
    static QString buildLanguageFiles(const QString& programFolder);

    // Parses the content of a language file (already decoded) into the table.
    void parseLanguageText(const QString& content);

private:
    std::array<QString, LANG_DATA_SIZE + 1> m_data{};
    std::array<QString, LANG_MAX + 1> m_names{};
    bool m_builtIn = false;
    std::array<QString, LANG_MAX + 1> m_ownNames{};
    void reset();
};

// The English texts compiled into the program, loaded once.
const LangTable& BuiltInEnglish();

// The program's one table.
LangTable& GVLang();
// Shorthand for GVLangData[n].
inline QString LangText(int n) { return GVLang().text(n); }
// GVLangData[n], or the English text when no language file set it.
inline QString LangText(int n, const char* english)
{
    const QString t = GVLang().text(n);
    return t.isEmpty() ? QString::fromUtf8(english) : t;
}
