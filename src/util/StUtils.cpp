#include "util/StUtils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "platform/Platform.h"

bool GVEngType = true;

namespace {

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Trims every character up to and including the blank at both ends: control
// characters (NUL, tab, CR, ...) count as blanks, a no-break space does not.
QString trimBlank(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20)
        --e;
    if (b == 0 && e == s.size())
        return s;
    return s.mid(b, e - b);
}

// A decimal integer, optionally signed, with nothing else around it but blanks.
bool parseInt64(const QString& text, qint64& value)
{
    const QString s = trimBlank(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s.at(i) == QLatin1Char('-') || s.at(i) == QLatin1Char('+'))) {
        negative = s.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i >= s.size())
        return false;
    // Accumulate as a negative number so that INT64_MIN fits.
    qint64 acc = 0;
    for (; i < s.size(); ++i) {
        if (!isAsciiDigit(s.at(i)))
            return false;
        const int digit = s.at(i).unicode() - '0';
        if (acc < (LLONG_MIN + digit) / 10)
            return false;
        acc = acc * 10 - digit;
    }
    if (!negative) {
        if (acc == LLONG_MIN)
            return false;
        acc = -acc;
    }
    value = acc;
    return true;
}

bool parseInt32(const QString& text, int& value)
{
    qint64 v = 0;
    if (!parseInt64(text, v) || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

// Digits only of a time part, read as a number; -1 when it is too big to be valid anyway.
int timePart(const QString& part)
{
    int value = 0;
    for (QChar c : part) {
        if (!isAsciiDigit(c))
            continue;
        value = value * 10 + (c.unicode() - '0');
        if (value > 1000)
            return -1;
    }
    return value;
}

QLocale userNumberLocale()
{
    QLocale loc = QLocale::system();
    loc.setNumberOptions(loc.numberOptions() | QLocale::RejectGroupSeparator);
    return loc;
}

// Integer text of StCheckStrToData: optional leading "-", then the leading run of digits.
QString leadingInteger(const QString& s, bool& negative)
{
    qsizetype i = 0;
    negative = false;
    if (s.startsWith(QLatin1Char('-'))) {
        negative = true;
        i = 1;
    }
    qsizetype j = i;
    while (j < s.size() && isAsciiDigit(s.at(j)))
        ++j;
    return s.mid(i, j - i);
}

// "#0.########" in the user's format: at least one integer digit, up to eight decimals.
QString formatUpTo8Decimals(double v)
{
    QString text = QString::number(v, 'f', 8);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

QString checkFloat(const QString& s)
{
    qsizetype i = 0;
    bool negative = false;
    if (s.startsWith(QLatin1Char('-'))) {
        negative = true;
        i = 1;
    }
    QString copy;
    QChar separator;
    for (; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (isAsciiDigit(c)) {
            copy += c;
        } else if ((c == QLatin1Char('.') || c == QLatin1Char(',')) && separator.isNull()) {
            separator = c;
            copy += c;
        } else {
            break;
        }
    }
    if (copy.isEmpty())
        return QStringLiteral("0");
    if (!separator.isNull() && QString(separator) != QLocale::system().decimalPoint())
        throw ConversionError(QStringLiteral("'%1' is not a valid floating point value")
                                  .arg(s)
                                  .toStdString());
    if (copy.size() == 1 && !separator.isNull())
        throw ConversionError(QStringLiteral("'%1' is not a valid floating point value")
                                  .arg(s)
                                  .toStdString());
    QString plain = copy;
    if (!separator.isNull())
        plain.replace(separator, QLatin1Char('.'));
    if (plain.startsWith(QLatin1Char('.')))
        plain.prepend(QLatin1Char('0'));
    if (plain.endsWith(QLatin1Char('.')))
        plain.append(QLatin1Char('0'));
    bool ok = false;
    double v = QLocale::c().toDouble(plain, &ok);
    if (!ok || !std::isfinite(v))
        throw ConversionError(QStringLiteral("'%1' is not a valid floating point value")
                                  .arg(s)
                                  .toStdString());
    if (negative)
        v = -v;
    return formatUpTo8Decimals(v);
}

QString checkTime(const QString& s)
{
    if (s.isEmpty())
        return QStringLiteral("00:00:00");
    QString hour = QStringLiteral("00");
    QString minute = QStringLiteral("00");
    QString second = QStringLiteral("00");
    const qsizetype first = s.indexOf(QLatin1Char(':'));
    if (first >= 0) {
        hour = s.left(first);
        const QString rest = s.mid(first + 1);
        const qsizetype next = rest.indexOf(QLatin1Char(':'));
        if (next >= 0) {
            minute = rest.left(next);
            second = rest.mid(next + 1);
        }
    }
    int h = timePart(hour);
    int m = timePart(minute);
    int sec = timePart(second);
    if (h < 0 || h > 23)
        h = 0;
    if (m < 0 || m > 59)
        m = 0;
    if (sec < 0 || sec > 59)
        sec = 0;
    return QStringLiteral("%1:%2:%3").arg(h).arg(m).arg(sec);
}

QString checkInteger(const QString& s, bool wide)
{
    bool negative = false;
    const QString digits = leadingInteger(s, negative);
    if (digits.isEmpty())
        return QStringLiteral("0");
    const QString text = negative ? QLatin1Char('-') + digits : digits;
    qint64 value = 0;
    if (wide) {
        if (!parseInt64(text, value))
            throw ConversionError(
                QStringLiteral("'%1' is not a valid integer value").arg(s).toStdString());
    } else {
        int v32 = 0;
        if (!parseInt32(text, v32))
            throw ConversionError(
                QStringLiteral("'%1' is not a valid integer value").arg(s).toStdString());
        value = v32;
    }
    return QString::number(value);
}

// Day number and time of day (milliseconds) of a day count; false when not representable.
bool splitDays(TDateTime d, QDate& date, int& msecOfDay)
{
    if (!std::isfinite(d) || std::fabs(d) > 3.0e6) // beyond year 9999 either way
        return false;
    double whole = 0;
    const double frac = std::modf(d, &whole);
    qint64 day = static_cast<qint64>(whole);
    qint64 msec = std::llround(std::fabs(frac) * 86400000.0);
    if (msec >= 86400000) {
        msec -= 86400000;
        day += 1;
    }
    date = QDate(1899, 12, 30).addDays(day);
    msecOfDay = static_cast<int>(msec);
    return date.isValid();
}

TDateTime daysOf(const QDate& date, qint64 msecOfDay)
{
    const qint64 days = QDate(1899, 12, 30).daysTo(date);
    const double frac = static_cast<double>(msecOfDay) / 86400000.0;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

// A field of a date stamp read by position: only digits count, anything else (or a
// text too short) makes the field invalid (-1).
int stampField(const QString& s, qsizetype pos, qsizetype len)
{
    if (pos + len > s.size())
        return -1;
    int v = 0;
    for (qsizetype i = pos; i < pos + len; ++i) {
        if (!isAsciiDigit(s.at(i)))
            return -1;
        v = v * 10 + (s.at(i).unicode() - '0');
    }
    return v;
}

TDateTime checkedStamp(int y, int m, int d, int h, int n, int s)
{
    if (m < 1 || m > 12 || d < 1 || d > 31 || h < 0 || h > 23 || n < 0 || n > 59 || s < 0
        || s > 59)
        return 0;
    return EncodeDateTime(y, m, d, h, n, s); // 0 for a day its month does not have
}

// The first separator character of a locale format ("dd.MM.yyyy" -> '.').
QChar formatSeparator(const QString& format, QChar fallback)
{
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted || c.isLetter() || c.isSpace())
            continue;
        return c;
    }
    return fallback;
}

QString twoDigits(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

QString formatNumber(float r, int nDec)
{
    const int decimals = std::clamp(nDec, 0, 18);
    // at most 10 significant digits
    const double rounded = QString::number(static_cast<double>(r), 'g', 10).toDouble();
    return QLocale::system().toString(rounded, 'f', decimals);
}

} // namespace

bool DetectEngType()
{
    bool ok = false;
    userNumberLocale().toDouble(QStringLiteral("2.9"), &ok);
    return ok;
}

QString StCheckStrToData(uint8_t nType, const QString& s)
{
    const QString text = trimBlank(s);
    switch (nType) {
    case CFG_FLOAT:
        return checkFloat(text);
    case CFG_BOOL:
        return text.startsWith(QLatin1Char('Y')) ? QStringLiteral("Y") : QString();
    case CFG_STRING:
        return text;
    case CFG_TIME:
        return checkTime(text);
    case CFG_LONGINTEGER:
        return checkInteger(text, true);
    default:
        return checkInteger(text, false);
    }
}

QString StMakeNullToStr(bool bLeft, int nCount, QChar sNull, const QString& s)
{
    const qsizetype count = std::max(nCount, 0);
    if (s.size() > count)
        return s.left(count);
    if (s.size() == count)
        return s;
    const QString pad(count - s.size(), sNull);
    return bLeft ? pad + s : s + pad;
}

void StDivideToken(const QString& sStr, const QString& sToken, int nDivide, QStringList& sData)
{
    sData.clear();
    if (nDivide <= 0)
        return;
    for (int i = 0; i < nDivide; ++i)
        sData.append(QString());
    int count = 0;
    QString rest = trimBlank(sStr);
    if (!sToken.isEmpty()) {
        qsizetype pos;
        while ((pos = rest.indexOf(sToken)) >= 0) {
            sData[count] = rest.left(pos);
            ++count;
            if (count >= nDivide)
                break;
            rest = trimBlank(rest.mid(pos + sToken.size()));
        }
    }
    if (count < nDivide && !rest.isEmpty())
        sData[count] = rest;
}

QStringList StDivideToken(const QString& sStr, const QString& sToken, int nDivide)
{
    QStringList parts;
    StDivideToken(sStr, sToken, nDivide, parts);
    return parts;
}

int StGetIntRange(int nV, int nMin, int nMax)
{
    if (nV < nMin)
        return nMin;
    if (nV > nMax)
        return nMax;
    return nV;
}

float StGetFloatRange(float nV, float nMin, float nMax)
{
    if (!(nV >= nMin)) // also not-a-number
        return nMin;
    if (nV > nMax)
        return nMax;
    return nV;
}

QString GetGVPath() { return platform::ProgramFolder(); }

void StDelay(float rSec)
{
    if (!(rSec > 0))
        return;
    const double ms = std::ceil(static_cast<double>(rSec) * 1000.0);
    const int msec = ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
    if (QCoreApplication::instance() == nullptr) {
        QThread::msleep(static_cast<unsigned long>(msec));
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(msec);
    loop.exec();
}

int ParseStartEnd(const QString& sSt, const QString& sEn, QString& sFirst, QString& sRead,
                  QString& sRemain)
{
    if (!sSt.isEmpty()) {
        const qsizetype st = sRemain.indexOf(sSt);
        if (st < 0)
            return -1;
        sFirst = sRemain.left(st);
        sRemain = sRemain.mid(st + sSt.size());
    }
    const qsizetype en = sRemain.indexOf(sEn);
    if (en < 0)
        return -1;
    sRead = sRemain.left(en);
    if (sSt.isEmpty())
        sFirst = sRead;
    sRemain = sRemain.mid(en + sEn.size());
    return static_cast<int>(en + 1);
}

QString GetDelLastSpace(const QString& sName)
{
    QString s = sName;
    while (s.size() > 3 && s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

QString GetFatFileNameExtract(const QString& sName)
{
    const qsizetype pos = sName.lastIndexOf(QLatin1Char('/'));
    return pos < 0 ? sName : sName.mid(pos + 1);
}

QString ConvertFatFile(const QString& sFatName)
{
    QString path = sFatName;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    // After the drive prefix, none of these may appear in a path.
    static const QString illegal = QStringLiteral("<>:\"|?*");
    for (QChar c : path) {
        if (c.unicode() < 0x20 || illegal.contains(c))
            return QStringLiteral("TEST.1");
    }
    path.prepend(QStringLiteral("C:"));
    return path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

QStringList TagIniLines(const QByteArray& content)
{
    return TagIniText(platform::DecodeLegacy(content));
}

QStringList TagIniText(const QString& text)
{
    QStringList list;
    auto addLine = [&list](const QString& raw) {
        const QString line = trimBlank(raw);
        const bool hasData = line.contains(QLatin1Char('='));
        const bool hasComment = line.contains(QLatin1Char('#')) || line.contains(QLatin1Char(';'))
                                || line.contains(QLatin1String("//"));
        const char* tag = hasData ? (hasComment ? "T " : "D ") : (hasComment ? "C " : "N ");
        list.append(QLatin1String(tag) + line);
    };
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        addLine(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        addLine(text.mid(start));
    return list;
}

void GetIniFIle(const QString& sName, QStringList& sList)
{
    QFile file(sName);
    if (QFileInfo(sName).isDir())
        throw std::runtime_error(
            QStringLiteral("Cannot open file \"%1\": it is a folder").arg(sName).toStdString());
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Cannot open file \"%1\": %2")
                                     .arg(sName, file.errorString())
                                     .toStdString());
    const QByteArray content = file.readAll();
    file.close();
    sList = TagIniLines(content);
}

bool GetIniFileDataExists(const QStringList& sList, const QString& sKey)
{
    for (const QString& line : sList) {
        if (line.startsWith(QLatin1String("D ")) && line.contains(sKey, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString GetIniFileData(const QStringList& sList, const QString& sKey)
{
    for (const QString& line : sList) {
        if (line.startsWith(QLatin1String("D ")) && line.contains(sKey, Qt::CaseInsensitive)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            return eq < 0 ? QString() : trimBlank(line.mid(eq + 1));
        }
    }
    return {};
}

int GetIniFileDataInt(const QString& sData, int nDef)
{
    int v = 0;
    return parseInt32(sData, v) ? v : nDef;
}

float GetIniFileDataFloat(const QString& sData, float rDef)
{
    QString text = trimBlank(sData);
    if (!GVEngType)
        text.replace(QLatin1Char('.'), QLatin1Char(','));
    bool ok = false;
    const double v = userNumberLocale().toDouble(text, &ok);
    if (!ok)
        return rDef;
    const auto f = static_cast<float>(v);
    return std::isfinite(f) ? f : rDef;
}

bool GetIniFileDataBool(const QString& sData, bool bDef)
{
    if (sData.isEmpty())
        return bDef;
    const QString upper = sData.toUpper();
    if (upper.contains(QLatin1String("ENABLE")) || upper.contains(QLatin1String("TRUE"))
        || upper.contains(QLatin1String("YES")))
        return true;
    const QChar first = sData.at(0);
    return first == QLatin1Char('E') || first == QLatin1Char('T') || first == QLatin1Char('Y');
}

QString GetIniFileDataStr(const QString& sData, const QString& sDef)
{
    return sData.isEmpty() ? sDef : sData;
}

QString ChangeGerFStrToFStr(const QString& sV)
{
    if (GVEngType)
        return sV;
    QString s = sV;
    return s.replace(QLatin1Char(','), QLatin1Char('.'));
}

QString ChangeFStrToGerFStr(const QString& sV)
{
    if (GVEngType)
        return sV;
    QString s = sV;
    return s.replace(QLatin1Char('.'), QLatin1Char(','));
}

QString CheckIp(const QString& sIp)
{
    const QStringList parts = StDivideToken(sIp, QStringLiteral("."), 4);
    QStringList out;
    for (const QString& part : parts) {
        int v = 0;
        if (!parseInt32(part, v) || v <= 0 || v >= 256)
            v = 0;
        out.append(QString::number(v));
    }
    return out.join(QLatin1Char('.'));
}

// ---- checksums ----

namespace {

constexpr std::array<uint16_t, 256> makeCrc16Table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        table[i] = static_cast<uint16_t>(crc & 0xFFFFu);
    }
    return table;
}

constexpr std::array<uint32_t, 16> makeCrc32NibbleTable()
{
    std::array<uint32_t, 16> table{};
    for (uint32_t i = 0; i < 16; ++i) {
        uint32_t crc = i << 28;
        for (int bit = 0; bit < 4; ++bit)
            crc = (crc & 0x80000000u) ? ((crc << 1) ^ 0x04C11DB7u) : (crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrc16 = makeCrc16Table();
constexpr auto kCrc32 = makeCrc32NibbleTable();
static_assert(kCrc16[1] == 0x1021 && kCrc16[2] == 0x2042);
static_assert(kCrc32[1] == 0x04C11DB7u && kCrc32[15] == 0x384FBDBDu);

} // namespace

// Spelled out as arrays so other modules can index them like the originals.
#define MARVANE_ROW16(i)                                                                    \
    kCrc16[i], kCrc16[i + 1], kCrc16[i + 2], kCrc16[i + 3], kCrc16[i + 4], kCrc16[i + 5],  \
        kCrc16[i + 6], kCrc16[i + 7], kCrc16[i + 8], kCrc16[i + 9], kCrc16[i + 10],        \
        kCrc16[i + 11], kCrc16[i + 12], kCrc16[i + 13], kCrc16[i + 14], kCrc16[i + 15]
const uint16_t crc16Table[256] = {
    MARVANE_ROW16(0),   MARVANE_ROW16(16),  MARVANE_ROW16(32),  MARVANE_ROW16(48),
    MARVANE_ROW16(64),  MARVANE_ROW16(80),  MARVANE_ROW16(96),  MARVANE_ROW16(112),
    MARVANE_ROW16(128), MARVANE_ROW16(144), MARVANE_ROW16(160), MARVANE_ROW16(176),
    MARVANE_ROW16(192), MARVANE_ROW16(208), MARVANE_ROW16(224), MARVANE_ROW16(240)};
#undef MARVANE_ROW16

const uint32_t CrcTable[16] = {kCrc32[0],  kCrc32[1],  kCrc32[2],  kCrc32[3],
                               kCrc32[4],  kCrc32[5],  kCrc32[6],  kCrc32[7],
                               kCrc32[8],  kCrc32[9],  kCrc32[10], kCrc32[11],
                               kCrc32[12], kCrc32[13], kCrc32[14], kCrc32[15]};

uint16_t CalCRC16Single(uint16_t crc, uint8_t data)
{
    return static_cast<uint16_t>(kCrc16[((crc >> 8) ^ data) & 0xFFu] ^ (crc << 8));
}

uint32_t CalCRC32Single(uint32_t crc, uint32_t nData)
{
    crc ^= nData;
    for (int i = 0; i < 8; ++i)
        crc = (crc << 4) ^ kCrc32[crc >> 28];
    return crc;
}

// ---- dates ----

TDateTime DateTimeToDays(const QDateTime& dt)
{
    if (!dt.isValid())
        return 0;
    return daysOf(dt.date(), dt.time().msecsSinceStartOfDay());
}

QDateTime DaysToDateTime(TDateTime d)
{
    QDate date;
    int msec = 0;
    if (!splitDays(d, date, msec))
        return {};
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(msec));
}

TDateTime EncodeDateTime(int y, int m, int d, int h, int n, int s)
{
    if (y < 1 || y > 9999 || !QDate::isValid(y, m, d) || !QTime::isValid(h, n, s))
        return 0;
    return daysOf(QDate(y, m, d), (qint64(h) * 3600 + n * 60 + s) * 1000);
}

TDateTime NowDays() { return DateTimeToDays(QDateTime::currentDateTime()); }

TDateTime IsValidLYearMonth(const QString& sYear, const QString& sMonth)
{
    int year = 0;
    int month = 0;
    if (!parseInt32(sYear, year) || !parseInt32(sMonth, month))
        return 0;
    if (year <= 20 || month < 1 || month > 12)
        return 0;
    if (year <= 1000)
        year += 2000;
    return EncodeDateTime(year, month, 1, 0, 0, 0);
}

TDateTime IsValidDateTime(const QString& sDate)
{
    const int y = stampField(sDate, 0, 2);
    if (y <= 20)
        return 0;
    return checkedStamp(2000 + y, stampField(sDate, 2, 2), stampField(sDate, 4, 2),
                        stampField(sDate, 6, 2), stampField(sDate, 8, 2), 0);
}

TDateTime IsValidFatDateTime(const QString& sDate)
{
    const QString s = trimBlank(sDate);
    const int y = stampField(s, 0, 4);
    if (y <= 2000)
        return 0;
    return checkedStamp(y, stampField(s, 5, 2), stampField(s, 8, 2), stampField(s, 11, 2),
                        stampField(s, 14, 2), stampField(s, 17, 2));
}

TDateTime IsValidFatDateTime2(const QString& sDate)
{
    const int y = stampField(sDate, 0, 4);
    if (y <= 2000)
        return 0;
    return checkedStamp(y, stampField(sDate, 4, 2), stampField(sDate, 6, 2),
                        stampField(sDate, 8, 2), stampField(sDate, 10, 2),
                        stampField(sDate, 12, 2));
}

QChar UserDateSeparator()
{
    return formatSeparator(QLocale::system().dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
}

QChar UserTimeSeparator()
{
    return formatSeparator(QLocale::system().timeFormat(QLocale::ShortFormat), QLatin1Char(':'));
}

QString FormatDays(const QString& pattern, TDateTime rDate)
{
    QDate date;
    int msec = 0;
    if (!splitDays(rDate, date, msec))
        return {};
    const int hour = msec / 3600000;
    const int minute = msec / 60000 % 60;
    const int second = msec / 1000 % 60;
    const int milli = msec % 1000;
    const QChar dateSep = UserDateSeparator();
    const QChar timeSep = UserTimeSeparator();

    QString out;
    bool afterHour = false; // "mm" after "hh" means minutes
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype close = pattern.indexOf(c, i + 1);
            const qsizetype end = close < 0 ? n : close;
            out += pattern.mid(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        const char lc = static_cast<char>(c.toLower().unicode() < 128 ? c.toLower().unicode() : 0);
        if (lc == 'y' || lc == 'm' || lc == 'd' || lc == 'h' || lc == 'n' || lc == 's'
            || lc == 'z') {
            qsizetype run = 1;
            while (i + run < n && pattern.at(i + run).toLower() == c.toLower())
                ++run;
            const bool pad = run >= 2;
            auto num = [pad](int v) { return pad ? twoDigits(v) : QString::number(v); };
            switch (lc) {
            case 'y':
                out += run <= 2 ? twoDigits(date.year() % 100)
                                : QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
                break;
            case 'm':
                out += afterHour ? num(minute) : num(date.month());
                break;
            case 'd':
                out += num(date.day());
                break;
            case 'h':
                out += num(hour);
                break;
            case 'n':
                out += num(minute);
                break;
            case 's':
                out += num(second);
                break;
            default: // 'z'
                out += run >= 3 ? QStringLiteral("%1").arg(milli, 3, 10, QLatin1Char('0'))
                                : QString::number(milli);
                break;
            }
            afterHour = lc == 'h';
            i += run;
            continue;
        }
        if (c == QLatin1Char('/'))
            out += dateSep;
        else if (c == QLatin1Char(':'))
            out += timeSep;
        else
            out += c;
        ++i;
    }
    return out;
}

namespace {

QString datePattern(uint8_t nType, const QString& divider)
{
    switch (nType) {
    case CFG_DATE_MMDDYYYY:
        return QStringLiteral("mm") + divider + QStringLiteral("dd") + divider
               + QStringLiteral("yyyy");
    case CFG_DATE_DDMMYYYY:
        return QStringLiteral("dd") + divider + QStringLiteral("mm") + divider
               + QStringLiteral("yyyy");
    default:
        return QStringLiteral("yyyy") + divider + QStringLiteral("mm") + divider
               + QStringLiteral("dd");
    }
}

} // namespace

QString GetDateFmt(uint8_t nType, TDateTime rDate, const QString& divider)
{
    return FormatDays(datePattern(nType, divider), rDate);
}

QString GetDateHMFmt(uint8_t nType, TDateTime rDate, const QString& divider)
{
    return FormatDays(datePattern(nType, divider) + QStringLiteral(" hh:nn"), rDate);
}

QString GetDateHMSFmt(uint8_t nType, TDateTime rDate, const QString& divider)
{
    return FormatDays(datePattern(nType, divider) + QStringLiteral(" hh:nn:ss"), rDate);
}

QString GetGasUnit(uint8_t nUnit)
{
    switch (nUnit) {
    case CFG_UNIT_PPM:
        return QStringLiteral("ppm");
    case CFG_UNIT_PerVOL:
        return QStringLiteral("%vol");
    default:
        return {};
    }
}

QString GetGasLimit(float rMin, float rMax, int nDec)
{
    QString s = rMin > -9999.0f ? formatNumber(rMin, nDec) + QStringLiteral(" ~ ")
                                : QStringLiteral("  ~ ");
    if (rMax < 9999.0f)
        s += formatNumber(rMax, nDec);
    return s;
}


bool IsDottedIPv4(const QString& sIp)
{
    const QStringList parts = sIp.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || p.isEmpty() || p.size() > 3 || !p.at(0).isDigit() || v < 0 || v > 255)
            return false;
    }
    return true;
}
