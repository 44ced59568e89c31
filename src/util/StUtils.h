#pragma once
// Small stateless routines shared across the program: token splitting, number
// and time normalisation, the dock configuration-file reader, decimal-separator
// adaptation, address normalisation, the two image checksums, validation of the
// dates embedded in dock file names, date formatting and gas texts.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <stdexcept>

// Value kinds of StCheckStrToData.
inline constexpr uint8_t CFG_INTEGER = 1;
inline constexpr uint8_t CFG_FLOAT = 2;
inline constexpr uint8_t CFG_BOOL = 3;
inline constexpr uint8_t CFG_STRING = 4;
inline constexpr uint8_t CFG_TIME = 5;
inline constexpr uint8_t CFG_LONGINTEGER = 6;

// Date orders (setting SET/DateFormat).
inline constexpr uint8_t CFG_DATE_YYYYMMDD = 0;
inline constexpr uint8_t CFG_DATE_MMDDYYYY = 1;
inline constexpr uint8_t CFG_DATE_DDMMYYYY = 2;

// Gas units.
inline constexpr uint8_t CFG_UNIT_PPM = 1;
inline constexpr uint8_t CFG_UNIT_PerVOL = 2;

// Raised where a conversion cannot be done (foreign decimal separator,
// an integer too long for its width).
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when the user's number format uses "." as decimal separator. Set once at
// start-up; three routines below consult it.
extern bool GVEngType;
bool DetectEngType(); // whether "2.9" converts with the user's number format

QString StCheckStrToData(uint8_t nType, const QString& s); // may throw ConversionError
QString StMakeNullToStr(bool bLeft, int nCount, QChar sNull, const QString& s);
// Fills exactly nDivide entries of sData (resized).
void StDivideToken(const QString& sStr, const QString& sToken, int nDivide, QStringList& sData);
QStringList StDivideToken(const QString& sStr, const QString& sToken, int nDivide);
int StGetIntRange(int nV, int nMin, int nMax);
float StGetFloatRange(float nV, float nMin, float nMax);
QString GetGVPath();
// Waits rSec seconds in a local event loop: the window repaints, the processor sleeps.
void StDelay(float rSec);
int ParseStartEnd(const QString& sSt, const QString& sEn, QString& sFirst, QString& sRead,
                  QString& sRemain);
QString GetDelLastSpace(const QString& sName);
QString GetFatFileNameExtract(const QString& sName);
QString ConvertFatFile(const QString& sFatName);

// Dock configuration-file reader: every line trimmed and tagged "D ", "T ", "C " or "N ".
void GetIniFIle(const QString& sName, QStringList& sList); // throws std::runtime_error when unreadable
QStringList TagIniLines(const QByteArray& content);         // the tagging step on its own
QStringList TagIniText(const QString& text);                // the same on decoded text
bool GetIniFileDataExists(const QStringList& sList, const QString& sKey);
QString GetIniFileData(const QStringList& sList, const QString& sKey);
int GetIniFileDataInt(const QString& sData, int nDef);
float GetIniFileDataFloat(const QString& sData, float rDef);
bool GetIniFileDataBool(const QString& sData, bool bDef);
QString GetIniFileDataStr(const QString& sData, const QString& sDef);

QString ChangeGerFStrToFStr(const QString& sV);
QString ChangeFStrToGerFStr(const QString& sV);
QString CheckIp(const QString& sIp);
// Exactly four dotted decimal parts of 0 to 255 (blanks around the whole are allowed).
bool IsDottedIPv4(const QString& sIp);

uint16_t CalCRC16Single(uint16_t crc, uint8_t data);
uint32_t CalCRC32Single(uint32_t crc, uint32_t nData);
extern const uint16_t crc16Table[256];
extern const uint32_t CrcTable[16];

// Date-times are day counts since 30 December 1899, the fraction being the time of day.
using TDateTime = double;
TDateTime DateTimeToDays(const class QDateTime& dt);
class QDateTime DaysToDateTime(TDateTime d);
TDateTime EncodeDateTime(int y, int m, int d, int h, int n, int s); // 0 when not a real date
TDateTime NowDays();

TDateTime IsValidLYearMonth(const QString& sYear, const QString& sMonth);
TDateTime IsValidDateTime(const QString& sDate);
TDateTime IsValidFatDateTime(const QString& sDate);
TDateTime IsValidFatDateTime2(const QString& sDate);

QString GetDateFmt(uint8_t nType, TDateTime rDate, const QString& divider);
QString GetDateHMFmt(uint8_t nType, TDateTime rDate, const QString& divider);
QString GetDateHMSFmt(uint8_t nType, TDateTime rDate, const QString& divider);
// "yyyy", "mm", "dd", "hh", "nn", "ss", "zzz" patterns; "/" and ":" print the user's separators.
QString FormatDays(const QString& pattern, TDateTime rDate);
QChar UserDateSeparator();
QChar UserTimeSeparator();

QString GetGasUnit(uint8_t nUnit);
QString GetGasLimit(float rMin, float rMax, int nDec);
