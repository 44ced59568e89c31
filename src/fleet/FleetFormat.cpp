#include "fleet/FleetFormat.h"

#include "fleet/FleetDb.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>

namespace {

QString num(double v) { return QString::number(v, 'g', 10); }

QString kindWord(uint8_t k) { return k == 1 ? QStringLiteral("calibration") : QStringLiteral("bump"); }

QString csvField(const QString& s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// Columns given to JSON as numbers.
const QSet<QString>& numericColumns()
{
    static const QSet<QString> s = {
        QStringLiteral("alarms"), QStringLiteral("bump_interval_days"), QStringLiteral("calibration_interval_days"),
        QStringLiteral("zero_concentration"), QStringLiteral("zero_reading_before"), QStringLiteral("zero_reading"),
        QStringLiteral("zero_low_limit"), QStringLiteral("zero_high_limit"), QStringLiteral("span_concentration"),
        QStringLiteral("span_reading_before"), QStringLiteral("span_reading"), QStringLiteral("span_low_limit"),
        QStringLiteral("span_high_limit"), QStringLiteral("response_time"), QStringLiteral("duration"),
        QStringLiteral("reading"), QStringLiteral("results")};
    return s;
}

} // namespace

bool FleetFormatFromKey(const QString& key, FleetFormat* out)
{
    if (key == QLatin1String("table"))
        *out = FleetFormat::Table;
    else if (key == QLatin1String("csv"))
        *out = FleetFormat::Csv;
    else if (key == QLatin1String("json"))
        *out = FleetFormat::Json;
    else
        return false;
    return true;
}

QStringList FleetStatusColumns()
{
    return {"serial", "status", "gas", "dock", "location", "last_bump", "last_bump_result", "last_calibration",
            "last_calibration_result", "next_bump_due", "next_calibration_due", "next_due", "alarms",
            "bump_interval_days", "calibration_interval_days", "results", "reason"};
}

QStringList FleetStatusValues(const RFleetStatusRow& r)
{
    const RFleetInstrument& i = r.mInst;
    return {i.mInstrument, FleetStatusKey(r.mStatus), i.mGas, i.mDock, i.mLocation, FleetDateText(i.mLastBump),
            i.mLastBumpResult, FleetDateText(i.mLastCal), i.mLastCalResult, FleetDayText(r.mNextBump),
            FleetDayText(r.mNextCal), FleetDayText(r.mNextDue), QString::number(r.mAlarms),
            QString::number(r.mBumpIntervalDays), QString::number(r.mCalIntervalDays), QString::number(i.mResults),
            FleetReasonsText(r)};
}

QStringList FleetResultColumns()
{
    return {"serial", "kind", "date", "gas", "unit", "dock", "location", "overall", "zero_concentration",
            "zero_reading_before", "zero_reading", "zero_low_limit", "zero_high_limit", "zero_result",
            "span_concentration", "span_reading_before", "span_reading", "span_low_limit", "span_high_limit",
            "span_result", "response_time", "cylinder_lot", "cylinder_expiry", "file", "sha256"};
}

QStringList FleetResultValues(const RFleetResult& r)
{
    return {r.mInstrument, kindWord(r.mKind), FleetDateText(r.mDate), r.mGas, r.mUnit, r.mDock, r.mLocation,
            r.mOverall, num(r.mZero.mConcentration), num(r.mZero.mPreReading), num(r.mZero.mReading),
            num(r.mZero.mLowLimit), num(r.mZero.mHighLimit), r.mZero.mResult, num(r.mSpan.mConcentration),
            num(r.mSpan.mPreReading), num(r.mSpan.mReading), num(r.mSpan.mLowLimit), num(r.mSpan.mHighLimit),
            r.mSpan.mResult, QString::number(r.mSpan.mTime), r.mGasLot, r.mGasExpiry, r.mPath, r.mSha256};
}

QStringList FleetEventColumns()
{
    return {"serial", "date", "duration", "reading", "alarm", "option", "counted", "file", "line", "sha256"};
}

QStringList FleetEventValues(const RFleetEvent& e)
{
    return {e.mInstrument, FleetDateText(e.mDate), QString::number(e.mDuration), num(e.mReading), e.mAlarm,
            e.mOption, e.mCounted ? QStringLiteral("yes") : QStringLiteral("no"), e.mPath,
            QString::number(e.mLine), e.mSha256};
}

QByteArray FleetRowsText(FleetFormat f, const QStringList& columns, const QVector<QStringList>& rows)
{
    if (f == FleetFormat::Json) {
        QJsonArray arr;
        for (const QStringList& row : rows) {
            QJsonObject o;
            for (int c = 0; c < columns.size(); ++c) {
                const QString v = row.value(c);
                if (v.isEmpty())
                    o.insert(columns[c], QJsonValue::Null);
                else if (numericColumns().contains(columns[c]))
                    o.insert(columns[c], v.toDouble());
                else
                    o.insert(columns[c], v);
            }
            arr.append(o);
        }
        return QJsonDocument(arr).toJson(QJsonDocument::Indented);
    }
    if (f == FleetFormat::Csv) {
        QString out;
        QStringList head;
        for (const QString& c : columns)
            head << csvField(c);
        out += head.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        for (const QStringList& row : rows) {
            QStringList cells;
            for (const QString& v : row)
                cells << csvField(v);
            out += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        }
        return out.toUtf8();
    }
    // Table: the columns as wide as their widest cell, the last one left ragged.
    QVector<int> width(columns.size());
    for (int c = 0; c < columns.size(); ++c) {
        width[c] = int(columns[c].size());
        for (const QStringList& row : rows)
            width[c] = std::max(width[c], int(row.value(c).size()));
    }
    auto line = [&](const QStringList& cells) {
        QString s;
        for (int c = 0; c < columns.size(); ++c)
            s += c + 1 < columns.size() ? cells.value(c).leftJustified(width[c] + 2) : cells.value(c);
        return s.trimmed() + QLatin1Char('\n');
    };
    QString out = line(columns);
    for (const QStringList& row : rows)
        out += line(row);
    return out.toUtf8();
}

QByteArray FleetStatusCsv(const QVector<RFleetStatusRow>& rows)
{
    QVector<QStringList> values;
    for (const RFleetStatusRow& r : rows)
        values.append(FleetStatusValues(r));
    return FleetRowsText(FleetFormat::Csv, FleetStatusColumns(), values);
}
