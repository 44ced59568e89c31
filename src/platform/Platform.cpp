#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <string>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#endif

namespace platform {

namespace {

QString withSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// The language folder may be spelled "Language", "LANGUAGE", ... on a
// case-sensitive file system; any spelling counts.
bool holdsLanguageFolder(const QString& dirPath)
{
    if (dirPath.isEmpty())
        return false;
    const QDir dir(dirPath);
    if (QFileInfo(dir.filePath(QStringLiteral("Language"))).isDir())
        return true;
    const QStringList subDirs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : subDirs) {
        if (name.compare(QLatin1String("Language"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

#ifndef _WIN32

// Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no character in Windows-1252.
// Windows maps them to the C1 controls of the same value; doing the same keeps
// such bytes intact through a decode/encode round trip.
bool isUndefined1252(unsigned char b)
{
    return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

iconv_t openConverter(const char* to, bool korean, bool toLegacy)
{
    static const char* const names1252[] = {"WINDOWS-1252", "CP1252"};
    static const char* const names949[] = {"CP949", "UHC"};
    const char* const* names = korean ? names949 : names1252;
    for (int i = 0; i < 2; ++i) {
        iconv_t cd = toLegacy ? iconv_open(names[i], to) : iconv_open(to, names[i]);
        if (cd != reinterpret_cast<iconv_t>(-1))
            return cd;
    }
    return reinterpret_cast<iconv_t>(-1);
}

// Runs iconv over the whole input. onBadInput is called with the position of an
// input sequence iconv cannot convert; it appends a replacement to out and
// returns how many input bytes to skip (at least 1).
template <typename OnBad>
void convertAll(iconv_t cd, const QByteArray& input, QByteArray& out, OnBad onBadInput)
{
    const char* inPtr = input.constData();
    size_t inLeft = static_cast<size_t>(input.size());
    char buffer[4096];
    while (inLeft > 0) {
        char* in = const_cast<char*>(inPtr);
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
        inPtr = in;
        if (rc != static_cast<size_t>(-1))
            continue;
        if (err == E2BIG)
            continue;
        // EILSEQ (bad or unmappable sequence) or EINVAL (cut-off sequence at the end)
        const qsizetype pos = inPtr - input.constData();
        size_t skip = onBadInput(pos);
        if (skip < 1)
            skip = 1;
        if (skip > inLeft)
            skip = inLeft;
        inPtr += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr); // reset shift state
    }
}

// Length of the UTF-8 sequence that starts with lead byte b (1 for stray bytes).
size_t utf8SequenceLength(unsigned char b)
{
    if (b >= 0xF0 && b < 0xF8)
        return 4;
    if (b >= 0xE0)
        return b < 0xF0 ? 3 : 1;
    if (b >= 0xC0)
        return 2;
    return 1;
}

#endif

} // namespace

QString ProgramFolder()
{
    const QString current = QDir::currentPath();
    if (holdsLanguageFolder(current))
        return withSlash(current);
    if (QCoreApplication::instance() != nullptr) {
        const QString appDir = QCoreApplication::applicationDirPath();
        if (holdsLanguageFolder(appDir))
            return withSlash(appDir);
    }
    if (current.isEmpty())
        return SystemRoot();
    return withSlash(current);
}

QString DefaultLogDestination()
{
    return withSlash(QDir::homePath()) + QStringLiteral("GAVIRODOCK/");
}

QString SystemRoot()
{
#ifdef _WIN32
    return QStringLiteral("C:/");
#else
    return QStringLiteral("/");
#endif
}

#ifdef _WIN32

QString DecodeLegacy(const QByteArray& bytes, bool korean)
{
    if (bytes.isEmpty())
        return {};
    const UINT cp = korean ? 949 : 1252;
    const int n = MultiByteToWideChar(cp, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    if (n <= 0)
        return QString::fromLatin1(bytes);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, bytes.constData(), int(bytes.size()), wide.data(), n);
    return QString::fromWCharArray(wide.data(), n);
}

QByteArray EncodeLegacy(const QString& text, bool korean)
{
    if (text.isEmpty())
        return {};
    const UINT cp = korean ? 949 : 1252;
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int n = WideCharToMultiByte(cp, 0, wide, int(text.size()), nullptr, 0, "?", nullptr);
    if (n <= 0)
        return text.toLatin1();
    QByteArray out(n, '\0');
    WideCharToMultiByte(cp, 0, wide, int(text.size()), out.data(), n, "?", nullptr);
    return out;
}

#else

QString DecodeLegacy(const QByteArray& bytes, bool korean)
{
    if (bytes.isEmpty())
        return {};
    iconv_t cd = openConverter("UTF-8", korean, false);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QString::fromLatin1(bytes);
    QByteArray utf8;
    utf8.reserve(bytes.size() * 2);
    convertAll(cd, bytes, utf8, [&](qsizetype pos) -> size_t {
        const auto b = static_cast<unsigned char>(bytes.at(pos));
        if (!korean && b >= 0x80)
            utf8.append(QString(QChar(b)).toUtf8());
        else
            utf8.append("\xEF\xBF\xBD"); // U+FFFD
        return 1;
    });
    iconv_close(cd);
    return QString::fromUtf8(utf8);
}

QByteArray EncodeLegacy(const QString& text, bool korean)
{
    if (text.isEmpty())
        return {};
    iconv_t cd = openConverter("UTF-8", korean, true);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text.toLatin1(); // unmappable characters become "?"
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    convertAll(cd, utf8, out, [&](qsizetype pos) -> size_t {
        const auto lead = static_cast<unsigned char>(utf8.at(pos));
        const size_t len = utf8SequenceLength(lead);
        // U+0080..U+009F as C2 xx: the five undefined 1252 bytes map back to themselves.
        if (!korean && len == 2 && lead == 0xC2 && pos + 1 < utf8.size()) {
            const auto second = static_cast<unsigned char>(utf8.at(pos + 1));
            if (isUndefined1252(second)) {
                out.append(static_cast<char>(second));
                return 2;
            }
        }
        out.append('?');
        return len;
    });
    iconv_close(cd);
    return out;
}

#endif

bool ReplaceFile(const QString& from, const QString& to)
{
#ifdef _WIN32
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

} // namespace platform
