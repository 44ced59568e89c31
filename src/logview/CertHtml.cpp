#include "logview/CertHtml.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>

bool GetHtmlSize(const QStringList& lines, int& nW, int& nH)
{
    for (const QString& line : lines) {
        const int open = int(line.indexOf(QLatin1String("<!--")));
        if (open < 0)
            continue;
        const int close = int(line.indexOf(QLatin1String("-->"), open + 4));
        if (close < 0)
            continue;
        // Only this first comment line counts, whatever it says.
        const QString text = line.mid(open + 4, close - open - 4).trimmed().toUpper();
        if (!text.startsWith(QLatin1String("FORMAT=")))
            return false;
        const QStringList parts = text.mid(7).split(',');
        if (parts.size() != 2)
            return false;
        bool okW = false, okH = false;
        const qlonglong w = parts[0].trimmed().toLongLong(&okW);
        const qlonglong h = parts[1].trimmed().toLongLong(&okH);
        if (!okW || !okH)
            return false;
        auto side = [](qlonglong v) {
            return int(std::clamp<qlonglong>(v, CERT_HTML_MIN_SIDE, CERT_HTML_MAX_SIDE));
        };
        nW = side(w);
        nH = side(h);
        return true;
    }
    return false;
}

QString ConvHtmlLineDetail(const QString& sLine, const QString& sTag, const QString& sValue)
{
    const qsizetype at = sLine.indexOf(sTag);
    if (at < 0 || sTag.isEmpty())
        return sLine;
    QString out = sLine;
    out.replace(at, sTag.size(), sValue);
    return out;
}

CertHtmlTags CertHtmlTagValues(const RDockTestInfo& r, const RCertTester& tester, uint8_t nDateStyle)
{
    const int dec = std::clamp(int(r.mGasInfo.mDec), 0, 6);
    auto num = [&](float v) { return CertNumber(r, v); };
    auto limit = [&](const RDockTestGas& g) {
        return (GetGasLimit(g.mLowLimit, g.mHighLimit, dec) + ' ' + r.mGasInfo.mUnit).trimmed();
    };
    CertHtmlTags t{
        {"@INSTSN@", r.mInstSN},
        {"@SN@", r.mSN},
        {"@MODEL@", r.mModel},
        {"@LOCATION@", r.mLocation},
        {"@DATE@", CertDate(nDateStyle, r.mDate, QStringLiteral("-"))},
        {"@BOTTLE@", r.mGasLot},
        {"@EXPIRE@", r.mGasExpire},
        {"@LOGO@", QStringLiteral("IMAGE\\PELMORA_LOGO.bmp")},
        // The "calibrated" seal is left off a calibration that failed.
        {"@LOGO2@", CalResultWord(r) == QLatin1String("PASS") ? QStringLiteral("IMAGE\\Logo2.bmp") : QString()},
        {"@LOGO3@", QStringLiteral("IMAGE\\Logo3.bmp")},
        {"@TESTER@", tester.mName},
        {"@COMPANY@", tester.mCompany},
        {"@PART@", tester.mPart},
        {"@S1GAS@", r.mGasInfo.mName},
        {"@S1LOW@", num(r.mGasInfo.mLowAlarm)},
        {"@S1HIGH@", num(r.mGasInfo.mHighAlarm)},
        {"@S1STEL@", num(r.mGasInfo.mSTELAlarm)},
        {"@S1TWA@", num(r.mGasInfo.mTWAAlarm)},
        {"@S1CON@", num(r.mSpan.mConcentration)},
        {"@S1ZGAS@", num(r.mZero.mConcentration)},
        {"@S1ZLIMIT@", limit(r.mZero)},
        {"@S1ZPRE@", num(r.mZero.mPreReading)},
        {"@S1ZREAD@", num(r.mZero.mReading)},
        {"@S1ZRESULT@", r.mZero.mResult},
        {"@S1SGAS@", num(r.mSpan.mConcentration)},
        {"@S1SLIMIT@", limit(r.mSpan)},
        {"@S1SPRE@", num(r.mSpan.mPreReading)},
        {"@S1SREAD@", num(r.mSpan.mReading)},
        {"@S1STIME@", QString::number(r.mSpan.mTime)},
        {"@S1SRESULT@", r.mSpan.mResult},
        {"@EVENTLOG@", r.mPreTest.mEventLog},
        {"@UPGRADE@", r.mPreTest.mUpgrade},
        {"@AUDIOTEST@", r.mPreTest.mAudible},
        {"@VISIBLETEST@", r.mPreTest.mVisible},
        {"@RESULT@", r.mOverAllResult},
    };
    // Values are text: a location holding "<" or "&" must not become markup.
    for (auto& [tag, value] : t)
        value = value.toHtmlEscaped();
    return t;
}

QString ConvHtmlLine(const QString& sLine, const CertHtmlTags& tags)
{
    if (!sLine.contains('@'))
        return sLine;
    QString s = sLine;
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& [tag, value] : tags)
            s = ConvHtmlLineDetail(s, tag, value);
    return s;
}

HtmlTemplateStatus ReadHtmlTemplate(const QString& file, QStringList& lines, QString* why)
{
    lines.clear();
    const QFileInfo fi(file);
    if (!fi.isFile())
        return HtmlTemplateStatus::Missing;
    auto unusable = [why](const QString& reason) {
        if (why)
            *why = reason;
        return HtmlTemplateStatus::Unusable;
    };
    if (fi.size() > CERT_HTML_MAX_FILE_SIZE)
        return unusable(QStringLiteral("larger than 16 MB"));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return unusable(f.errorString());
    const QByteArray data = f.read(CERT_HTML_MAX_FILE_SIZE + 1);
    if (data.size() > CERT_HTML_MAX_FILE_SIZE)
        return unusable(QStringLiteral("larger than 16 MB"));
    if (data.trimmed().isEmpty())
        return unusable(QStringLiteral("empty"));
    if (data.contains('\0'))
        return unusable(QStringLiteral("not a text file"));
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(data);
    if (utf8.hasError())
        text = QString::fromLatin1(data); // an older template in an 8-bit code page
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    lines = text.split('\n');
    return HtmlTemplateStatus::Ok;
}

HtmlTemplateStatus MakeCalHtmlFile(const QString& programFolder, const RDockTestInfo& info,
                                   const RCertTester& tester, uint8_t nDateStyle, RCalHtml* out,
                                   QString* why, const QString& fallbackFolder)
{
    QStringList lines;
    const HtmlTemplateStatus st =
        ReadHtmlTemplate(programFolder + QStringLiteral("DEFAULTCAL.HTML"), lines, why);
    if (st != HtmlTemplateStatus::Ok)
        return st;
    RCalHtml r;
    GetHtmlSize(lines, r.mWidth, r.mHeight);
    const CertHtmlTags tags = CertHtmlTagValues(info, tester, nDateStyle);
    QStringList filled;
    filled.reserve(lines.size());
    for (const QString& l : lines)
        filled << ConvHtmlLine(l, tags);
    r.mHtml = filled.join('\n');

    const QByteArray bytes = r.mHtml.toUtf8();
    auto write = [&](const QString& folder) {
        const QString target = folder + QStringLiteral("CAL.HTML");
        if (QFileInfo(target).isDir())
            return false; // not a file we may replace
        QFile::remove(target);
        QSaveFile f(target);
        const bool ok = f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
        if (ok)
            r.mFile = target;
        else if (why)
            *why = f.errorString().isEmpty() ? QStringLiteral("not writable") : f.errorString();
        return ok;
    };
    r.mWritten = write(programFolder) ||
                 (!fallbackFolder.isEmpty() && QDir().mkpath(fallbackFolder) && write(fallbackFolder));
    if (out)
        *out = r;
    return st;
}

QString CertResourcePath(const QString& programFolder, const QString& name)
{
    QString s = QUrl::fromPercentEncoding(name.toUtf8()).trimmed();
    s.replace('\\', '/');
    if (s.startsWith(QLatin1String("//")))
        return QString(); // a network share or a host
    const QUrl url(s);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file")) {
        if (!url.host().isEmpty())
            return QString();
        return url.toLocalFile();
    }
    // "C:/..." parses as scheme "c"; every longer scheme names a remote resource.
    if (scheme.size() > 1)
        return QString();
    if (scheme.size() == 1 || s.startsWith('/'))
        return s;
    return programFolder + s;
}
