#include "lang/LangTable.h"

#include "platform/Platform.h"
#include "util/IniFile.h"
#include "util/StUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

const std::array<QString, 7> LAN_NAME = {
    QString(),
    QStringLiteral("ENGLISH"),
    QStringLiteral("ITALIAN"),
    QStringLiteral("FRENCH"),
    QStringLiteral("SPANISH"),
    QStringLiteral("GERMAN"),
    QStringLiteral("KOREAN"),
};

namespace {

const QString kListFile = QStringLiteral("GDDockLang.INI");
const QString kSection = QStringLiteral("LANGUAGE");
const QString kLangDir = QStringLiteral("Language");
const QString kSourceUtf8 = QStringLiteral("LAN_FOR_UTF8.txt");
const QString kSourceKorean = QStringLiteral("LAN_KOR_ANSI.txt");

// Real language files are a few tens of kilobytes. Anything far beyond that is
// not a language file, and a single line this long is not a text of the window.
constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;
constexpr qsizetype kMaxLineChars = 64 * 1024;

QString withSlash(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        return folder;
    return folder + QLatin1Char('/');
}

// The entry of `dir` whose name equals `name` without regard to case; the exact
// spelling wins when several entries differ only in case.
QString findEntry(const QString& dir, const QString& name, QDir::Filters kind)
{
    if (name.isEmpty() || dir.isEmpty() || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return {}; // only a plain entry of this very folder
    const QDir d(dir);
    if (!d.exists())
        return {};
    if (d.exists(name) && QFileInfo(d.filePath(name)).isDir() == kind.testFlag(QDir::Dirs))
        return name;
    const QStringList entries = d.entryList(kind | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return e;
    }
    return {};
}

// Program folder + "Language/" as it exists on disk, or empty.
QString findLanguageDir(const QString& programFolder)
{
    const QString base = withSlash(programFolder);
    const QString found = findEntry(base, kLangDir, QDir::Dirs);
    return found.isEmpty() ? QString() : base + found + QLatin1Char('/');
}

bool languageFileExists(const QString& programFolder, const QString& name)
{
    const QString dir = findLanguageDir(programFolder);
    return !dir.isEmpty() && !findEntry(dir, name + QStringLiteral(".DAT"), QDir::Files).isEmpty();
}

// Every file of `dir` whose name equals `name` without regard to case.
QStringList findAllFiles(const QString& dir, const QString& name)
{
    QStringList out;
    const QDir d(dir);
    const QStringList entries = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            out << d.filePath(e);
    }
    return out;
}

bool readLimited(const QString& path, QByteArray& out, QString* error = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot open %1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    if (f.size() > kMaxFileBytes) {
        if (error)
            *error = QStringLiteral("%1 is too large to be a language file.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    out = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    return true;
}

void dropUtf8Bom(QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
}

// Lines end with CR LF, LF or CR; a final line break does not open another line.
QStringList splitLines(const QString& content)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = content.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << content.mid(start, i - start);
            if (c == QLatin1Char('\r') && i + 1 < n && content.at(i + 1) == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines << content.mid(start);
    return lines;
}

// A key made of decimal digits only; -1 otherwise.
int parseKeyNumber(const QString& key, int maxValue)
{
    if (key.isEmpty() || key.size() > 6)
        return -1;
    for (const QChar c : key) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    const int v = key.toInt();
    return (v >= 1 && v <= maxValue) ? v : -1;
}

int codeOf(const QString& s)
{
    try {
        bool ok = false;
        const int v = StCheckStrToData(CFG_INTEGER, s).toInt(&ok);
        return ok ? v : 0;
    } catch (const std::exception&) {
        return 0; // a number too long for an integer
    }
}

RLangList fallbackEntry()
{
    RLangList e;
    e.mFile = LAN_NAME[1];
    e.mFont = QStringLiteral("Arial");
    e.mIndex = 1;
    e.mCode = 1;
    return e;
}

bool writeWhole(const QString& path, const QByteArray& data, QString& error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot create %1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        return false;
    }
    if (f.write(data) != data.size() || !f.commit()) {
        error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), f.errorString());
        f.cancelWriting();
        return false;
    }
    return true;
}

} // namespace

LangTable::LangTable() { reset(); }

QString LangTable::text(int n) const
{
    if (n < 1 || n > LANG_DATA_SIZE)
        return {};
    return m_data[size_t(n)];
}

void LangTable::setText(int n, const QString& s)
{
    if (n >= 1 && n <= LANG_DATA_SIZE)
        m_data[size_t(n)] = s;
}

QString LangTable::languageName(int n) const
{
    if (n < 1 || n > LANG_MAX)
        return {};
    return m_names[size_t(n)];
}

QString LangTable::ownLanguageName(int n) const
{
    if (n < 1 || n > LANG_MAX)
        return {};
    return m_ownNames[size_t(n)].isEmpty() ? m_names[size_t(n)] : m_ownNames[size_t(n)];
}

QString LangTable::qtLanguageCode(const RLangList& lang)
{
    static const char* const codes[LANG_MAX + 1] = {"", "", "it", "fr", "es", "de", "ko"};
    for (int n = 2; n <= LANG_MAX; ++n)
        if (lang.mFile.compare(LAN_NAME[size_t(n)], Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(codes[n]);
    return {};
}

void LangTable::reset()
{
    m_builtIn = false;
    for (QString& s : m_data)
        s.clear();
    for (int n = 601; n <= 630; ++n)
        m_data[size_t(n)] = QStringLiteral("ERROR");
    for (QString& s : m_names)
        s.clear();
    for (QString& s : m_ownNames)
        s.clear();
}

QString LangTable::listFilePath(const QString& transferFolder)
{
    return withSlash(transferFolder) + kListFile;
}

QString LangTable::languageFilePath(const QString& programFolder, const QString& name)
{
    const QString fileName = name + QStringLiteral(".DAT");
    const QString dir = findLanguageDir(programFolder);
    if (!dir.isEmpty()) {
        const QString found = findEntry(dir, fileName, QDir::Files);
        if (!found.isEmpty())
            return dir + found;
        return dir + fileName;
    }
    return withSlash(programFolder) + kLangDir + QLatin1Char('/') + fileName;
}

void LangTable::loadList(const QString& transferFolder, const QString& programFolder)
{
    // An empty transfer folder (one that was refused) gives the default list, unsaved.
    const QString path = transferFolder.isEmpty() ? QString() : listFilePath(transferFolder);
    IniFile ini;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        ini.setPath(path);
        ini.writeString(kSection, QStringLiteral("1"), QStringLiteral("ENGLISH,Arial,1"));
        ini.writeString(kSection, QStringLiteral("2"), QStringLiteral("ITALIAN,Arial,1"));
        ini.writeString(kSection, QStringLiteral("3"), QStringLiteral("FRENCH,Arial,1"));
        ini.writeString(kSection, QStringLiteral("4"), QStringLiteral("SPANISH,Arial,1"));
        ini.writeString(kSection, QStringLiteral("5"), QStringLiteral("GERMAN,Arial,1"));
        ini.writeString(kSection, QStringLiteral("6"), QStringLiteral("KOREAN,맑은 고딕,82"));
        if (!path.isEmpty())
            ini.save(); // when the folder is not writable the defaults still apply for this run
    } else {
        ini.load(path);
    }

    GVLangList.clear();
    for (int n = 1; n <= LANG_MAX; ++n) {
        const QString key = QString::number(n);
        if (!ini.keyExists(kSection, key))
            break;
        const QStringList parts = StDivideToken(ini.readString(kSection, key, QString()), QStringLiteral(","), 4);
        const QString name = parts.value(0);
        if (!languageFileExists(programFolder, name))
            continue;
        RLangList e;
        e.mFile = name;
        e.mFont = parts.value(1);
        e.mIndex = n;
        e.mCode = codeOf(parts.value(2));
        GVLangList.append(e);
    }
    if (GVLangList.isEmpty())
        GVLangList.append(fallbackEntry());
    if (GVLangSelect < 0 || GVLangSelect >= GVLangList.size())
        GVLangSelect = 0;
}

const RLangList& LangTable::selected() const
{
    static const RLangList fallback = fallbackEntry();
    if (GVLangList.isEmpty())
        return fallback;
    if (GVLangSelect < 0 || GVLangSelect >= GVLangList.size())
        return GVLangList.first();
    return GVLangList.at(GVLangSelect);
}

bool LangTable::loadSelected(const QString& programFolder)
{
    reset();
    // The language combo may offer more names than there are usable files.
    if (GVLangSelect < 0 || GVLangSelect >= GVLangList.size())
        GVLangSelect = 0;
    const RLangList& sel = selected();
    QByteArray bytes;
    if (!languageFileExists(programFolder, sel.mFile) ||
        !readLimited(languageFilePath(programFolder, sel.mFile), bytes)) {
        loadBuiltIn();
        return false;
    }
    dropUtf8Bom(bytes);
    const QString content = sel.mCode == LANG_CODE_ANSI ? platform::DecodeLegacy(bytes, true)
                                                         : QString::fromUtf8(bytes);
    parseLanguageText(content);
    // A file without a single numbered text is no language file: the window would be blank.
    bool any = false;
    for (int n = 1; n <= LANG_DATA_SIZE && !any; ++n)
        any = !m_data[size_t(n)].isEmpty() && !(n >= 601 && n <= 630 && m_data[size_t(n)] == QLatin1String("ERROR"));
    if (!any) {
        loadBuiltIn();
        return false;
    }

    // Each other installed language's name for itself: one line of its file.
    for (const RLangList& e : GVLangList) {
        if (e.mIndex < 1 || e.mIndex > LANG_MAX)
            continue;
        if (e.mIndex == sel.mIndex) {
            m_ownNames[size_t(e.mIndex)] = m_names[size_t(e.mIndex)];
            continue;
        }
        QByteArray other;
        if (!readLimited(languageFilePath(programFolder, e.mFile), other))
            continue;
        dropUtf8Bom(other);
        LangTable t;
        t.parseLanguageText(e.mCode == LANG_CODE_ANSI ? platform::DecodeLegacy(other, true)
                                                     : QString::fromUtf8(other));
        m_ownNames[size_t(e.mIndex)] = t.languageName(e.mIndex);
    }
    return true;
}

const LangTable& BuiltInEnglish()
{
    static const LangTable table = [] {
        LangTable t;
        t.loadBuiltIn();
        return t;
    }();
    return table;
}

void LangTable::loadBuiltIn()
{
    reset();
    QFile source(QStringLiteral(":/marvane/lang/LAN_FOR_UTF8.txt"));
    if (!source.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = splitLines(QString::fromUtf8(source.readAll()));
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        const int n = parseKeyNumber(parts.value(0).trimmed(), LANG_DATA_SIZE);
        if (n > 0 && parts.size() > 1)
            m_data[size_t(n)] = parts.at(1).trimmed();
    }
    for (int n = 1; n <= LANG_MAX; ++n)
        m_names[size_t(n)] = LAN_NAME[size_t(n)];
    m_builtIn = true;
}

void LangTable::parseLanguageText(const QString& content)
{
    QString body = content;
    if (body.startsWith(QChar(0xFEFF)))
        body.remove(0, 1);
    const QStringList lines = splitLines(body);
    const QString eq = QStringLiteral("=");
    for (const QString& line : lines) {
        if (line.size() > kMaxLineChars || !line.contains(QLatin1Char('=')))
            continue;
        const QStringList parts = StDivideToken(line, eq, 2);
        const QString key = parts.value(0);
        const QString value = parts.value(1);
        if (key.startsWith(QLatin1Char('L'))) {
            const int n = parseKeyNumber(key.mid(1), LANG_MAX);
            if (n > 0)
                m_names[size_t(n)] = value;
            continue;
        }
        const int n = parseKeyNumber(key, LANG_DATA_SIZE);
        if (n > 0)
            m_data[size_t(n)] = value;
    }
}

bool LangTable::setSelectedFont(const QString& transferFolder, const QString& font)
{
    // A comma or a line break would split the stored value differently on the next start.
    if (font.contains(QLatin1Char(',')) || font.contains(QLatin1Char('\n')) || font.contains(QLatin1Char('\r')))
        return false;
    if (GVLangList.isEmpty())
        GVLangList.append(fallbackEntry());
    if (GVLangSelect < 0 || GVLangSelect >= GVLangList.size())
        GVLangSelect = 0;
    RLangList& sel = GVLangList[GVLangSelect];
    sel.mFont = font;

    const QString path = listFilePath(transferFolder);
    IniFile ini;
    if (!ini.load(path))
        ini.setPath(path);
    ini.writeString(kSection, QString::number(sel.mIndex),
                    sel.mFile + QLatin1Char(',') + sel.mFont + QLatin1Char(',') + QString::number(sel.mCode));
    return ini.save();
}

QString LangTable::buildLanguageFiles(const QString& programFolder)
{
    const QString dir = findLanguageDir(programFolder);

    // Old files go first, so a missing source leaves none of its files behind.
    QStringList errors;
    if (!dir.isEmpty()) {
        for (int n = 1; n <= LANG_MAX; ++n) {
            for (const QString& f : findAllFiles(dir, LAN_NAME[size_t(n)] + QStringLiteral(".DAT"))) {
                if (!QFile::remove(f))
                    errors << QStringLiteral("Cannot delete %1.").arg(QDir::toNativeSeparators(f));
            }
        }
    }
    if (!errors.isEmpty())
        return errors.join(QLatin1Char('\n'));

    const QString utf8Name = dir.isEmpty() ? QString() : findEntry(dir, kSourceUtf8, QDir::Files);
    const QString korName = dir.isEmpty() ? QString() : findEntry(dir, kSourceKorean, QDir::Files);
    if (utf8Name.isEmpty() && korName.isEmpty())
        return QStringLiteral("No language source found: %1 and %2 are missing in the folder %3.")
            .arg(kSourceUtf8, kSourceKorean,
                 QDir::toNativeSeparators(withSlash(programFolder) + kLangDir));

    const QString tab = QStringLiteral("\t");
    const QByteArray crlf("\r\n");

    if (!utf8Name.isEmpty()) {
        QByteArray raw;
        QString err;
        if (!readLimited(dir + utf8Name, raw, &err)) {
            errors << err;
        } else {
            dropUtf8Bom(raw);
            std::array<QByteArray, LANG_MAX_FOR + 1> out;
            for (const QString& line : splitLines(QString::fromUtf8(raw))) {
                if (line.trimmed().isEmpty())
                    continue;
                const QStringList parts = StDivideToken(line, tab, 8);
                for (int n = 1; n <= LANG_MAX_FOR; ++n)
                    out[size_t(n)] += (parts.value(0) + QLatin1Char('=') + parts.value(n)).toUtf8() + crlf;
            }
            for (int n = 1; n <= LANG_MAX_FOR; ++n) {
                if (!writeWhole(dir + LAN_NAME[size_t(n)] + QStringLiteral(".DAT"), out[size_t(n)], err))
                    errors << err;
            }
        }
    }

    if (!korName.isEmpty()) {
        QByteArray raw;
        QString err;
        if (!readLimited(dir + korName, raw, &err)) {
            errors << err;
        } else {
            QByteArray out;
            for (const QString& line : splitLines(platform::DecodeLegacy(raw, true))) {
                if (line.trimmed().isEmpty())
                    continue;
                const QStringList parts = StDivideToken(line, tab, 3);
                out += platform::EncodeLegacy(parts.value(0) + QLatin1Char('=') + parts.value(1), true) + crlf;
            }
            if (!writeWhole(dir + LAN_NAME[LANG_KOR_POS] + QStringLiteral(".DAT"), out, err))
                errors << err;
        }
    }
    return errors.join(QLatin1Char('\n'));
}

LangTable& GVLang()
{
    static LangTable table;
    return table;
}
