#pragma once
// A local store written file by file for the fleet tests.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QString>

#include "support/TestSupport.h"

namespace fleettest {

// A result document as docks write it (only the elements the index reads).
inline QByteArray resultXml(const QString& gas, const QString& overall, const QString& date,
                            const QString& time = QStringLiteral("10:00:00"),
                            const QString& dock = QStringLiteral("DK1"),
                            const QString& location = QStringLiteral("Hall 1"), double spanPre = 45,
                            double conc = 50, double spanLow = 40)
{
    return QStringLiteral(
               "<R><INFO><INSTRUMENT>%1</INSTRUMENT><SERIAL>X</SERIAL><LOCATION>%2</LOCATION>"
               "<GASLOT>LOT7</GASLOT><GASEXPIRY>2027-01</GASEXPIRY><DATE>%3</DATE><TIME>%4</TIME>"
               "<OVERALLRESULT>%5</OVERALLRESULT></INFO><TEST><SENSOR><GAS>%6</GAS></SENSOR>"
               "<ZERO><CONCENTRATION>0</CONCENTRATION><LOWLIMIT>-1</LOWLIMIT><HIGHLIMIT>1</HIGHLIMIT>"
               "<READING>0.1</READING><PREREADING>0.4</PREREADING><RESULT>%5</RESULT></ZERO>"
               "<SPAN><CONCENTRATION>%8</CONCENTRATION><LOWLIMIT>%9</LOWLIMIT><HIGHLIMIT>60</HIGHLIMIT>"
               "<READING>50.2</READING><PREREADING>%7</PREREADING><BUMPTIME>12</BUMPTIME>"
               "<RESULT>%5</RESULT></SPAN></TEST></R>")
        .arg(dock, location, date, time, overall, gas, QString::number(spanPre), QString::number(conc),
             QString::number(spanLow))
        .toUtf8();
}

inline QByteArray eventCsv(const QByteArray& lines, const QByteArray& gas = "CO")
{
    return "Gaviro SG " + gas + " Event Log\r\nDate,Time,Duration,Reading,Alarm,Option\r\n" + lines;
}

// Writes <dest>/KM1/<serial>/<kind>/<name>; returns the store path.
inline QString put(const QString& dest, const QString& serial, const QString& kind, const QString& name,
                   const QByteArray& content)
{
    const QString rel = QStringLiteral("KM1/") + serial + QLatin1Char('/') + kind + QLatin1Char('/') + name;
    testsupport::writeAll(QDir(dest).filePath(rel), content);
    return rel;
}

inline QString sha256(const QByteArray& b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex());
}

} // namespace fleettest
