#include "logview/TestResult.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <cmath>

#include "domain/GasTables.h"

namespace {

// Documents from the dock are a few levels deep; anything deeper is not one of them.
constexpr int kMaxDepth = 64;

// Refuses what the dock never writes and what could make loading expensive:
// a DTD (and with it every entity declaration), entity references, deep nesting.
bool safeToLoad(const QByteArray& data)
{
    QXmlStreamReader r(data);
    int depth = 0;
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return false;
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDepth)
                return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return !r.hasError();
}

bool loadDocument(const QByteArray& data, QDomDocument& doc)
{
    if (data.size() > TESTRESULT_MAX_FILE_SIZE || !safeToLoad(data))
        return false;
    return bool(doc.setContent(data));
}

bool readFile(const QString& sFile, QByteArray& data)
{
    QFile f(sFile);
    if (f.size() > TESTRESULT_MAX_FILE_SIZE || !f.open(QIODevice::ReadOnly))
        return false;
    data = f.read(TESTRESULT_MAX_FILE_SIZE + 1);
    return data.size() <= TESTRESULT_MAX_FILE_SIZE;
}

bool sameName(const QDomElement& e, QLatin1StringView name)
{
    return e.tagName().compare(name, Qt::CaseInsensitive) == 0;
}

// The last child element of that name (names compared without regard to case).
QDomElement lastChild(const QDomElement& parent, QLatin1StringView name)
{
    for (QDomElement e = parent.lastChildElement(); !e.isNull(); e = e.previousSiblingElement()) {
        if (sameName(e, name))
            return e;
    }
    return {};
}

QDomElement firstChild(const QDomElement& parent, QLatin1StringView name)
{
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (sameName(e, name))
            return e;
    }
    return {};
}

// Numbers are written with "." whatever the PC's settings; "," is accepted too.
void readFloat(const QString& text, float& value)
{
    QString t = text.trimmed();
    bool ok = false;
    double v = t.toDouble(&ok);
    if (!ok) {
        t.replace(QLatin1Char(','), QLatin1Char('.'));
        v = t.toDouble(&ok);
    }
    if (ok && std::isfinite(v))
        value = float(v);
}

bool parseInteger(const QString& text, qint64& value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok);
    return ok;
}

void readByte(const QString& text, uint8_t& value)
{
    qint64 v = 0;
    if (parseInteger(text, v))
        value = uint8_t(v & 0xFF);
}

void readInt(const QString& text, int32_t& value)
{
    qint64 v = 0;
    if (parseInteger(text, v))
        value = int32_t(qBound(qint64(INT32_MIN), v, qint64(INT32_MAX)));
}

void readGas(const QDomElement& parent, RDockTestGas& g)
{
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString name = e.tagName().toUpper();
        if (name == QLatin1String("CONCENTRATION"))
            readFloat(e.text(), g.mConcentration);
        else if (name == QLatin1String("LOWLIMIT"))
            readFloat(e.text(), g.mLowLimit);
        else if (name == QLatin1String("HIGHLIMIT"))
            readFloat(e.text(), g.mHighLimit);
        else if (name == QLatin1String("READING"))
            readFloat(e.text(), g.mReading);
        else if (name == QLatin1String("PREREADING"))
            readFloat(e.text(), g.mPreReading);
        else if (name == QLatin1String("BUMPTIME"))
            readInt(e.text(), g.mTime);
        else if (name == QLatin1String("RESULT"))
            g.mResult = e.text().toUpper();
    }
}

// Children are walked in document order, so a repeated element's last occurrence wins.
uint8_t readDocument(const QDomDocument& doc, RDockTestInfo& mRec)
{
    const QDomElement root = doc.documentElement();
    const QDomElement info = lastChild(root, QLatin1StringView("INFO"));
    const QDomElement test = lastChild(root, QLatin1StringView("TEST"));
    QDomElement sensor, hwtest, zero, span;
    if (!test.isNull()) {
        sensor = lastChild(test, QLatin1StringView("SENSOR"));
        hwtest = lastChild(test, QLatin1StringView("HWTEST"));
        zero = lastChild(test, QLatin1StringView("ZERO"));
        span = lastChild(test, QLatin1StringView("SPAN"));
    }
    if (info.isNull())
        return DOCKTEST_NO_INFO;

    uint8_t result = DOCKTEST_NO_GAS;
    QString date = QStringLiteral("20");
    QString time;
    for (QDomElement e = info.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString name = e.tagName().toUpper();
        if (name == QLatin1String("INSTRUMENT"))
            mRec.mInstSN = e.text();
        else if (name == QLatin1String("SERIAL"))
            mRec.mSN = e.text();
        else if (name == QLatin1String("LOCATION"))
            mRec.mLocation = e.text();
        else if (name == QLatin1String("GASLOT"))
            mRec.mGasLot = e.text();
        else if (name == QLatin1String("GASEXPIRY"))
            mRec.mGasExpire = e.text();
        else if (name == QLatin1String("OVERALLRESULT"))
            mRec.mOverAllResult = e.text().toUpper();
        else if (name == QLatin1String("DATE"))
            date = QStringLiteral("20") + e.text();
        else if (name == QLatin1String("TIME"))
            time = e.text();
    }
    if (!date.trimmed().isEmpty() && !time.trimmed().isEmpty())
        mRec.mDate = IsValidFatDateTime(date + QLatin1Char(' ') + time);
    else
        mRec.mDate = 0;

    if (!sensor.isNull()) {
        for (QDomElement e = sensor.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            if (!sameName(e, QLatin1StringView("GAS")) || e.text().trimmed().isEmpty())
                continue;
            const uint8_t pos = FindSensorInText(e.text());
            if (pos != 0) {
                mRec.mGasInfo.mSensor = pos;
                result = DOCKTEST_OK;
            }
        }
    }
    if (result == DOCKTEST_OK) {
        const RSensor& s = FSensor[mRec.mGasInfo.mSensor];
        mRec.mGasInfo.mName = s.mName;
        mRec.mGasInfo.mUnit = GetGasUnit(s.mUnit);
        mRec.mGasInfo.mDec = uint8_t(s.mDecimal);
        mRec.mGasInfo.mLowAlarm = s.mAlarmLow;
        mRec.mGasInfo.mHighAlarm = s.mAlarmHigh;
        mRec.mHibernate = false;
        for (QDomElement e = sensor.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            const QString name = e.tagName().toUpper();
            if (name == QLatin1String("LOW"))
                readFloat(e.text(), mRec.mGasInfo.mLowAlarm);
            else if (name == QLatin1String("HIGH"))
                readFloat(e.text(), mRec.mGasInfo.mHighAlarm);
            else if (name == QLatin1String("HIBERNATE"))
                mRec.mHibernate = e.text().toUpper() == QLatin1String("TRUE");
            else if (name == QLatin1String("ID"))
                readByte(e.text(), mRec.mUnitID);
            else if (name == QLatin1String("MODEL"))
                readByte(e.text(), mRec.mSensorId);
            else if (name == QLatin1String("STEL"))
                readFloat(e.text(), mRec.mGasInfo.mSTELAlarm);
            else if (name == QLatin1String("TWA"))
                readFloat(e.text(), mRec.mGasInfo.mTWAAlarm);
        }
    }

    if (!hwtest.isNull()) {
        for (QDomElement e = hwtest.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            const QString name = e.tagName().toUpper();
            if (name == QLatin1String("EVENTLOG"))
                mRec.mPreTest.mEventLog = e.text().toUpper();
            else if (name == QLatin1String("UPGRADE"))
                mRec.mPreTest.mUpgrade = e.text().toUpper();
            else if (name == QLatin1String("AUDIBLETEST"))
                mRec.mPreTest.mAudible = e.text().toUpper();
            else if (name == QLatin1String("VISIBLETEST"))
                mRec.mPreTest.mVisible = e.text().toUpper();
        }
    }
    if (!zero.isNull())
        readGas(zero, mRec.mZero);
    if (!span.isNull())
        readGas(span, mRec.mSpan);

    mRec.mModel = GetSensorModel(mRec.mUnitID, mRec.mGasInfo.mSensor, mRec.mHibernate);
    return result;
}

} // namespace

RDockTestInfo InitDockTestInfo(uint8_t nType, TDateTime now)
{
    RDockTestInfo r;
    r.mType = nType;
    r.mDate = now;
    return r;
}

uint8_t FindSensorInText(const QString& sText)
{
    static constexpr uint8_t kOrder[] = {1, 4, 2, 3}; // SO2 before O2, CO before O2
    for (uint8_t pos : kOrder) {
        if (sText.contains(FSensor[pos].mName.toUpper()))
            return pos;
    }
    return 0;
}

uint8_t GetDockTestInfoFromData(uint8_t nType, const QByteArray& data, RDockTestInfo& mRec)
{
    mRec = InitDockTestInfo(nType);
    QDomDocument doc;
    if (!loadDocument(data, doc))
        return DOCKTEST_BAD_XML;
    return readDocument(doc, mRec);
}

uint8_t GetDockTestInfo(uint8_t nType, const QString& sFile, RDockTestInfo& mRec)
{
    mRec = InitDockTestInfo(nType);
    if (sFile.isEmpty() || !QFileInfo(sFile).isFile())
        return DOCKTEST_NO_FILE;
    QByteArray data;
    if (!readFile(sFile, data))
        return DOCKTEST_BAD_XML;
    const uint8_t code = GetDockTestInfoFromData(nType, data, mRec);
    mRec.mFile = sFile;
    return code;
}

namespace testresult {

QString GetTestResultFromData(const QByteArray& data)
{
    QDomDocument doc;
    if (!loadDocument(data, doc))
        return QStringLiteral("ERROR");
    const QDomElement info = firstChild(doc.documentElement(), QLatin1StringView("INFO"));
    if (info.isNull())
        return QStringLiteral("NO DATA");
    const QDomElement overall = firstChild(info, QLatin1StringView("OVERALLRESULT"));
    if (overall.isNull())
        return QStringLiteral("NONE");
    return overall.text().toUpper();
}

QString GetTestResult(const QString& sFile)
{
    if (sFile.isEmpty() || !QFileInfo(sFile).isFile())
        return QStringLiteral("NONE");
    QByteArray data;
    if (!readFile(sFile, data))
        return QStringLiteral("ERROR");
    return GetTestResultFromData(data);
}

} // namespace testresult

uint8_t TestKindOfFileName(const QString& sFileName)
{
    return QFileInfo(sFileName).fileName().toUpper().contains(QLatin1String("CAL")) ? TEST_KIND_CAL
                                                                                    : TEST_KIND_BUMP;
}

uint8_t TestKindOfNameField(const QString& sFileName)
{
    const QStringList fields = QFileInfo(sFileName).completeBaseName().split(QLatin1Char('_'));
    const QString kind = fields.value(1).trimmed().toUpper();
    if (kind == QLatin1String("BUMP"))
        return TEST_KIND_BUMP;
    if (kind == QLatin1String("CAL"))
        return TEST_KIND_CAL;
    return TEST_KIND_NONE;
}

uint8_t TestKindOfDocument(const QByteArray& data)
{
    // Only the root's name is wanted: stop at the first element.
    QXmlStreamReader r(data);
    while (!r.atEnd()) {
        if (r.readNext() == QXmlStreamReader::StartElement) {
            const QString root = r.name().toString().toUpper();
            if (root.startsWith(QLatin1String("BUMP")))
                return TEST_KIND_BUMP;
            if (root.startsWith(QLatin1String("CAL")))
                return TEST_KIND_CAL;
            return TEST_KIND_NONE;
        }
        if (r.tokenType() == QXmlStreamReader::DTD)
            return TEST_KIND_NONE;
    }
    return TEST_KIND_NONE;
}

uint8_t TestKindOfResult(const QString& sFile)
{
    if (const uint8_t k = TestKindOfNameField(sFile); k != TEST_KIND_NONE)
        return k;
    QFile f(sFile);
    if (f.open(QIODevice::ReadOnly)) {
        if (const uint8_t k = TestKindOfDocument(f.read(64 * 1024)); k != TEST_KIND_NONE)
            return k;
    }
    return TestKindOfFileName(sFile);
}
