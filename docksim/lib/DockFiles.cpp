#include "DockFiles.h"

#include "platform/Platform.h"

#include <QStringList>

#include <cmath>

namespace docksim {

namespace {

const GasInfo kGases[4] = {
    {"H2S", "ppm", 1, 1, 10.0, 15.0, 15.0, 10.0},
    {"CO", "ppm", 0, 2, 35.0, 200.0, 200.0, 35.0},
    {"O2", "%vol", 1, 4, 19.5, 23.5, 0.0, 0.0},
    {"SO2", "ppm", 1, 8, 2.0, 5.0, 5.0, 2.0},
};

QByteArray crlf(const QStringList& lines)
{
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

QString boolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

double uniform(QRandomGenerator& rng, double lo, double hi)
{
    return lo + (hi - lo) * rng.generateDouble();
}

QString xmlEscaped(const QString& s) { return s.toHtmlEscaped(); }

} // namespace

const GasInfo& Gas(int index) { return kGases[qBound(0, index, 3)]; }

QString FormatValue(double value, int decimals)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0.0; // no "-0.0"
    return QString::number(value, 'f', decimals);
}

QByteArray InformCfgText(const DockIdentity& id)
{
    return crlf({
        QStringLiteral("Model Name = ") + id.model,
        QStringLiteral("Serial Number = ") + id.serial,
        QStringLiteral("Fw Version = ") + id.fwVersion,
        QStringLiteral("Hw Version = ") + id.hwVersion,
        QStringLiteral("Boot Version = 1.0"),
        QStringLiteral("MAC Address = ") + id.mac,
        QStringLiteral("Build Date = ") + id.buildDate.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
        // A value with its own "=": readers must stop at the first one.
        QStringLiteral("Build Info = rev=") + QString::number(id.buildDate.date().dayOfYear() + 700),
        QStringLiteral("Bay Count = 4"),
    });
}

QByteArray DockCfgText(const DockSettings& s, const DockIdentity& id)
{
    QStringList l;
    l << QStringLiteral("# ----------------------------------------------------------")
      << QStringLiteral("#  %1 - station configuration").arg(id.model)
      << QStringLiteral("#  Généré par la station, firmware %1").arg(id.fwVersion)
      << QStringLiteral("# ----------------------------------------------------------")
      << QStringLiteral("; Read at start-up and after every configuration download.")
      << QStringLiteral("// Switches take true or false.")
      << QString()
      << QStringLiteral("[TEST]")
      << QStringLiteral("Buzzer test=") + boolText(s.buzzerTest)
      << QStringLiteral("LED test=") + boolText(s.ledTest)
      << QStringLiteral("Upgrade=") + boolText(s.upgrade)
      << QStringLiteral("Save event log=") + boolText(s.saveEventLog)
      << QStringLiteral("Change config=") + boolText(s.changeConfig)
      << QStringLiteral("Calibration=") + boolText(s.calibration)
      << QStringLiteral("Bump test=") + boolText(s.bumpTest)
      << QStringLiteral("Allow Turn Off=") + boolText(s.allowTurnOff)
      << QStringLiteral("CAL after Bump fail=") + boolText(s.calAfterBumpFail)
      << QStringLiteral("Zero before span=true")
      << QString()
      << QStringLiteral("[GAS INFORMATIONS]")
      << QStringLiteral("Gas Lot Number=") + s.gasLot
      << QStringLiteral("Gas Expiry=") + s.gasExpiry;
    if (!s.oldH2SConcentration.isEmpty())
        l << QStringLiteral("#H2S Gas Concentration=") + s.oldH2SConcentration;
    // O2 before SO2: a key is found by the first line that contains it.
    for (int g = 0; g < 4; ++g) {
        if (!s.concentration[g].isEmpty())
            l << QString::fromLatin1(Gas(g).name) + QStringLiteral(" Gas Concentration=")
                     + s.concentration[g];
    }
    l << QStringLiteral("Balance Gas=N2")
      << QString()
      << QStringLiteral("[OPTIONS]")
      << QStringLiteral("; seconds")
      << QStringLiteral("Auto Off Time=") + QString::number(s.autoOffTime)
      << QStringLiteral(";Bump Time=%1").arg(s.bumpTime + 30)
      << QStringLiteral("Bump Time=") + QString::number(s.bumpTime)
      << QStringLiteral("Bump Pass Limit=") + QString::number(s.bumpPassLimit)
      << QStringLiteral("Location=") + s.location
      << QStringLiteral("Language=FR")
      << QStringLiteral("Display Contrast=7")
      << QString()
      << QStringLiteral("[Ethernet]")
      << QStringLiteral("DHCP=false")
      << QStringLiteral("IP=") + s.ip
      << QStringLiteral("Subnet Mask=") + s.subnetMask
      << QStringLiteral("Gateway=") + s.gateway
      << QStringLiteral("UDP Port=") + QString::number(s.udpPort);
    return platform::EncodeLegacy(l.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

QByteArray InstrumentCfgText(int gas, const InstrumentSettings& s)
{
    const GasInfo& g = Gas(gas);
    auto p = [](bool set) { return set ? QString() : QStringLiteral("# "); };
    auto level = [&](double v) { return v > 0.001 ? FormatValue(v, g.decimals) : QStringLiteral("0"); };
    return crlf({
        QStringLiteral("[CONFIG]"),
        p(s.flagsSet) + QStringLiteral("UnitFlag=") + QString::number(s.unitFlag),
        p(s.userIdSet) + QStringLiteral("UserID=") + s.userId,
        p(s.selfTestSet) + QStringLiteral("SelfTestInterval=")
            + QString::number(s.selfTestInterval > 0 ? s.selfTestInterval : 0),
        QString(),
        QStringLiteral("[GAS]"),
        p(s.alarmHighSet) + QStringLiteral("AlarmHigh=") + level(s.alarmHigh),
        p(s.alarmLowSet) + QStringLiteral("AlarmLow=") + level(s.alarmLow),
        p(s.calIntervalSet) + QStringLiteral("CalInterval=")
            + QString::number(qint64(qMax(0, s.calIntervalDays)) * 86400),
        p(s.bumpIntervalSet) + QStringLiteral("BumpInterval=")
            + QString::number(qMax(0, s.bumpIntervalDays)),
    });
}

QByteArray DockLogCsv(const QString& dockSerial, const QString& fwVersion, int year, int month,
                      const QList<DockLogRecord>& records)
{
    QStringList l;
    l << QStringLiteral("Gaviro Dock Test Log")
      << QStringLiteral("Dock Serial,") + dockSerial
      << QStringLiteral("Firmware,") + fwVersion
      << QStringLiteral("Period,%1-%2").arg(year).arg(month, 2, 10, QLatin1Char('0'))
      << QStringLiteral("Date,Time,Bay,Serial,Gas,Test,Result,Reading,Gas Conc.,Time(s)");
    for (const DockLogRecord& r : records) {
        const GasInfo& g = Gas(r.gas);
        l << QStringList{r.when.toString(QStringLiteral("yy-MM-dd")),
                         r.when.toString(QStringLiteral("HH:mm:ss")),
                         QString::number(r.bay),
                         r.instrument,
                         QString::fromLatin1(g.name),
                         r.calibration ? QStringLiteral("CAL") : QStringLiteral("BUMP"),
                         r.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"),
                         FormatValue(r.reading, g.decimals),
                         FormatValue(r.concentration, g.decimals),
                         QString::number(r.seconds)}
                 .join(QLatin1Char(','));
    }
    return crlf(l);
}

QByteArray EventCsv(const QString& serial, int gas, const QDateTime& downloaded,
                    const QList<EventRecord>& events, bool echoes)
{
    const GasInfo& g = Gas(gas);
    QStringList l;
    l << QStringLiteral("Gaviro SG %1 Event Log").arg(QString::fromLatin1(g.name))
      << QStringLiteral("Serial Number,") + serial
      << QStringLiteral("Downloaded,") + downloaded.toString(QStringLiteral("yy-MM-dd HH:mm"))
      << QStringLiteral("Date,Time,Duration,Reading(%1),Alarm,Option").arg(QString::fromLatin1(g.unit));
    auto line = [&](const EventRecord& e) {
        return QStringList{e.when.toString(QStringLiteral("yy-MM-dd")),
                           e.when.toString(QStringLiteral("HH:mm:ss")),
                           QString::number(e.duration),
                           FormatValue(e.reading, g.decimals),
                           e.alarm,
                           e.option}
            .join(QLatin1Char(','));
    };
    for (const EventRecord& e : events) {
        l << line(e);
        if (!echoes)
            continue;
        if (e.duration % 4 == 0)
            l << line(e);
        if (e.duration % 5 == 0) {
            EventRecord echo = e;
            echo.when = e.when.addSecs(3);
            echo.duration = 1;
            l << line(echo);
        }
    }
    return crlf(l);
}

QString OverallResult(const TestResult& t)
{
    return t.pass && !t.hwFail ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

int ResultVariant(const TestResult& t)
{
    if (t.variant >= 0)
        return t.variant;
    const size_t h = qHash(t.serial + t.when.toString(Qt::ISODate) + (t.calibration ? QLatin1Char('C') : QLatin1Char('B')));
    switch (h % 12) {
    case 1:
    case 5:
        return 1;
    case 2:
        return 2;
    case 7:
        return 3;
    default:
        return 0;
    }
}

StepLimits ZeroLimits(const TestResult& t)
{
    // Fresh air is the zero gas; for oxygen that is 20.9 %vol.
    const bool oxygen = t.gas == 2;
    const double zeroConc = oxygen ? 20.9 : 0.0;
    const double zeroTol = oxygen ? 0.5 : (Gas(t.gas).decimals == 0 ? 3.0 : 1.0);
    return {zeroConc - zeroTol, zeroConc + zeroTol};
}

StepLimits SpanLimits(const TestResult& t)
{
    const double c = t.concentration;
    if (t.calibration)
        return {c * 0.9, c * 1.1};
    return {c * t.bumpPassLimit / 100.0, 9999.0}; // no upper limit on a bump test
}

bool JudgeReadings(const TestResult& t)
{
    return t.readings && ZeroLimits(t).holds(t.readings->zero) && SpanLimits(t).holds(t.readings->span);
}

QByteArray TestResultXml(const TestResult& t, QRandomGenerator& rng)
{
    const int variant = ResultVariant(t);
    const GasInfo& g = Gas(t.gas);
    const int dec = g.decimals;
    auto word = [&](const QString& w) { return t.lowerCaseWords ? w.toLower() : w; };
    auto pf = [&](bool pass) { return word(pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")); };
    auto tag = [&](const char* name) {
        const QString n = QString::fromLatin1(name);
        return t.lowerCaseTags ? n.toLower() : n;
    };

    QStringList x;
    int depth = 0;
    auto open = [&](const char* name) {
        x << QString(depth * 2, QLatin1Char(' ')) + QLatin1Char('<') + tag(name) + QLatin1Char('>');
        ++depth;
    };
    auto close = [&](const char* name) {
        --depth;
        x << QString(depth * 2, QLatin1Char(' ')) + QStringLiteral("</") + tag(name) + QLatin1Char('>');
    };
    auto el = [&](const char* name, const QString& text) {
        x << QString(depth * 2, QLatin1Char(' ')) + QLatin1Char('<') + tag(name) + QLatin1Char('>')
                 + xmlEscaped(text) + QStringLiteral("</") + tag(name) + QLatin1Char('>');
    };

    // Fresh air is the zero gas; for oxygen that is 20.9 %vol.
    const bool oxygen = t.gas == 2;
    const double zeroConc = oxygen ? 20.9 : 0.0;
    const double zeroTol = oxygen ? 0.5 : (dec == 0 ? 3.0 : 1.0);
    const double c = t.concentration;

    x << QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    open(t.calibration ? "CALIBRATION" : "BUMPTEST");
    open("INFO");
    el("INSTRUMENT", t.dockSerial);
    if (variant == 1)
        el("SERIAL", QStringLiteral("STALE"));
    el("SERIAL", t.serial);
    el("LOCATION", t.location);
    if (variant != 2)
        el("GASLOT", t.gasLot);
    el("GASEXPIRY", t.gasExpiry);
    el("DATE", t.when.toString(QStringLiteral("yy-MM-dd")));
    el("TIME", t.when.toString(QStringLiteral("HH:mm:ss")));
    el("OVERALLRESULT", word(OverallResult(t)));
    if (variant == 1)
        el("OVERALLRESULT", word(OverallResult(t)));
    close("INFO");

    if (variant == 1) {
        open("TEST");
        open("SENSOR");
        el("GAS", QString::fromLatin1(Gas((t.gas + 1) % 4).name));
        close("SENSOR");
        close("TEST");
    }
    open("TEST");
    open("SENSOR");
    el("GAS", variant == 3 ? QStringLiteral("NH3") : QString::fromLatin1(g.name));
    el("ID", QString::number(1 + t.gas));
    el("MODEL", QString::number(g.sensorCode));
    el("LOW", FormatValue(g.alarmLow, dec));
    el("HIGH", FormatValue(g.alarmHigh, dec));
    const bool hibernate = rng.bounded(5) == 0;
    if (variant != 2) {
        el("STEL", FormatValue(g.stel, dec));
        el("TWA", FormatValue(g.twa, dec));
        el("HIBERNATE", hibernate ? QStringLiteral("true") : QStringLiteral("false"));
    }
    close("SENSOR");

    if (variant != 2) {
        open("HWTEST");
        el("EVENTLOG", pf(true));
        el("UPGRADE", word(QStringLiteral("NONE")));
        el("AUDIBLETEST", pf(!t.hwFail));
        el("VISIBLETEST", pf(true));
        close("HWTEST");
    }

    const TestReadings* given = t.readings ? &*t.readings : nullptr;
    const bool zeroPass = given ? ZeroLimits(t).holds(given->zero)
                                : !t.calibration || t.pass || rng.bounded(2) == 0;
    open("ZERO");
    el("CONCENTRATION", FormatValue(zeroConc, dec));
    el("LOWLIMIT", FormatValue(zeroConc - zeroTol, dec));
    el("HIGHLIMIT", FormatValue(zeroConc + zeroTol, dec));
    const double zeroRead = given      ? given->zero
                            : zeroPass ? zeroConc + uniform(rng, -0.4, 0.4) * zeroTol
                                       : zeroConc + zeroTol * uniform(rng, 1.5, 3.0);
    el("READING", FormatValue(zeroRead, dec));
    if (t.calibration) {
        const double pre = given ? given->zeroPre : zeroConc + uniform(rng, -0.9, 0.9) * zeroTol;
        if (variant != 2)
            el("PREREADING", FormatValue(pre, dec));
    }
    el("RESULT", pf(zeroPass));
    close("ZERO");

    // A failed calibration fails on the zero or on the span.
    const bool spanPass = given ? SpanLimits(t).holds(given->span)
                                : t.pass || (t.calibration && !zeroPass ? rng.bounded(2) == 0 : false);
    open("SPAN");
    el("CONCENTRATION", FormatValue(c, dec));
    double lo = 0;
    double hi = 0;
    double reading = 0;
    if (t.calibration) {
        lo = c * 0.9;
        hi = c * 1.1;
        reading = spanPass ? c * uniform(rng, 0.97, 1.03) : c * uniform(rng, 0.4, 0.8);
    } else {
        lo = c * t.bumpPassLimit / 100.0;
        hi = 9999.0; // no upper limit on a bump test
        const double limit = t.bumpPassLimit / 100.0;
        reading = spanPass ? c * uniform(rng, qMin(1.0, qMax(0.85, limit + 0.1)), 1.05)
                           : c * uniform(rng, 0.0, qMax(0.0, limit - 0.1));
    }
    if (given)
        reading = given->span;
    el("LOWLIMIT", FormatValue(lo, dec));
    el("HIGHLIMIT", FormatValue(hi, dec));
    el("READING", FormatValue(reading, dec));
    if (t.calibration) {
        const double pre = given ? given->spanPre : c * uniform(rng, 0.6, 0.95);
        if (variant != 2)
            el("PREREADING", FormatValue(pre, dec));
    } else
        el("BUMPTIME", QString::number(given ? given->spanTime
                                             : spanPass ? 8 + rng.bounded(30) : 60 + rng.bounded(60)));
    el("RESULT", pf(spanPass));
    close("SPAN");
    close("TEST");
    close(t.calibration ? "CALIBRATION" : "BUMPTEST");
    return crlf(x);
}

} // namespace docksim
