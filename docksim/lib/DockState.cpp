#include "DockState.h"

#include <QtEndian>
#include <cmath>

namespace docksim {

namespace {

// Local wall time read as if it were UTC: the dock's clock has no time zone.
qint64 localSeconds()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toSecsSinceEpoch() + now.offsetFromUtc();
}

void putU16(QByteArray& b, int at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void putU32(QByteArray& b, int at, quint32 v) { qToLittleEndian(v, b.data() + at); }

} // namespace

DockState::DockState()
{
    m_monotonic.start();
    setDefaultBays({});
}

void DockState::setIdentity(const QString& serial, const QString& version, const QString& model)
{
    m_serial = serial;
    m_version = version;
    m_model = model;
}

void DockState::loadIdentityText(const QByteArray& informCfg)
{
    const QList<QByteArray> lines = informCfg.split('\n');
    for (const QByteArray& raw : lines) {
        const qsizetype eq = raw.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = raw.left(eq).trimmed().toUpper();
        const QString value = QString::fromLatin1(raw.mid(eq + 1).trimmed());
        if (value.isEmpty())
            continue;
        if (key == "SERIAL NUMBER")
            m_serial = value;
        else if (key == "FW VERSION")
            m_version = value.section(QLatin1Char('.'), 0, 1); // "2.1.3": the reply names major.minor

        else if (key == "MODEL NAME")
            m_model = value;
    }
}

quint32 DockState::clockSeconds() const
{
    return quint32(localSeconds() + m_clockOffset);
}

void DockState::setClockSeconds(quint32 seconds)
{
    m_clockOffset = qint64(seconds) - localSeconds();
}

QDateTime DockState::clockDateTime() const
{
    return QDateTime(QDate(1970, 1, 1), QTime(0, 0)).addSecs(clockSeconds());
}

void DockState::setDefaultBays(const QStringList& serials)
{
    static const quint8 kSensors[3] = {1, 2, 4};
    for (int i = 0; i < 4; ++i) {
        BayInstrument& b = bays[i];
        b = BayInstrument{};
        if (i == 3)
            continue;
        b.present = true;
        b.serial = i < serials.size() ? serials[i].left(11) : QStringLiteral("GD%1").arg(1001 + i, 7, 10, QLatin1Char('0'));
        b.sensorType = kSensors[i];
        b.fwVersion = 23;
    }
}

void DockState::startOperation(quint8 code)
{
    advance();
    if (restarting())
        return;
    switch (code) {
    case kOpNewInstrumentImage:
    case kOpClearMemory:
        return; // nothing the PC can see
    case kOpConfigDownload:
        m_taskMs = timing.configTaskMs;
        break;
    case kOpFirmwareDownload:
        m_taskMs = timing.firmwareTaskMs;
        break;
    default:
        m_taskMs = timing.otherTaskMs;
        break;
    }
    m_taskCode = code;
    m_taskStartMs = m_monotonic.elapsed();
    m_pcCommandShown = false;
    m_status = kTaskPcCommand;
    for (BayResult& r : m_results) {
        if (code == kOpConfigDownload)
            r.config = kResultNone;
        if (code == kOpFirmwareDownload)
            r.upgrade = kResultNone;
        r.pcCommand = code;
    }
}

void DockState::advance()
{
    if (m_restartUntilMs >= 0 && m_monotonic.elapsed() >= m_restartUntilMs)
        m_restartUntilMs = -1;
    if (m_status != kTaskPcCommand || neverIdle)
        return;
    // The task ends once its time is up and the PC has seen it running, so that
    // even a fast dock cannot slip past the PC's first status request.
    if (m_monotonic.elapsed() - m_taskStartMs >= m_taskMs && (m_pcCommandShown || neverReportPcCommand))
        finishTask();
}

void DockState::finishTask()
{
    m_status = kTaskIdle;
    for (int i = 0; i < 4; ++i) {
        BayInstrument& b = bays[i];
        BayResult& r = m_results[i];
        if (!b.present)
            continue;
        const quint8 outcome = b.fails ? kResultFail : kResultPass;
        if (m_taskCode == kOpConfigDownload)
            r.config = outcome;
        if (m_taskCode == kOpFirmwareDownload) {
            r.upgrade = outcome;
            if (!b.fails && newInstrumentFirmware)
                b.fwVersion = newInstrumentFirmware;
        }
    }
}

quint8 DockState::taskStatus()
{
    advance();
    if (m_status == kTaskPcCommand && neverReportPcCommand)
        return kTaskIdle;
    if (m_status == kTaskPcCommand)
        m_pcCommandShown = true;
    return m_status;
}

QByteArray DockState::taskStatusRecord()
{
    QByteArray rec(61, '\0');
    const quint8 status = taskStatus();
    const bool running = m_status == kTaskPcCommand;
    const qint64 elapsedMs = running ? m_monotonic.elapsed() - m_taskStartMs : 0;
    auto task = [&](int at, quint8 st) {
        rec[at] = char(st);
        rec[at + 1] = char(running ? 1 + int(elapsedMs / 1000) % 10 : 0); // step
        putU32(rec, at + 4, quint32(elapsedMs / 1000));
        putU32(rec, at + 8, running ? quint32((m_taskMs + 999) / 1000) : 0);
    };
    task(0, status);
    rec[12] = 0; // not in USB-drive mode
    for (int i = 0; i < 4; ++i)
        task(13 + 12 * i, bays[i].present ? status : kTaskIdle);
    return rec;
}

QByteArray DockState::taskResultRecord()
{
    advance();
    QByteArray rec(220, '\0');
    for (int i = 0; i < 4; ++i) {
        const BayInstrument& b = bays[i];
        const BayResult& r = m_results[i];
        const int at = 32 * i;
        rec[at + 0] = char(b.present ? 1 : 0);       // detected
        rec[at + 1] = 0;                             // test type
        rec[at + 3] = char(b.present ? r.upgrade : 0);
        rec[at + 4] = char(b.present ? r.config : 0);
        rec[at + 7] = char(b.present && (r.upgrade | r.config) ? (b.fails ? kResultFail : kResultPass) : 0);
        if (b.present) {
            putU16(rec, at + 22, quint16(qint16(235)));  // 23.5 degrees
            putU16(rec, at + 24, quint16(qint16(250)));
        }
        rec[at + 28] = char(r.pcCommand);

        const int gd = 128 + 23 * i;
        if (!b.present)
            continue;
        rec[gd + 0] = 1;  // product
        rec[gd + 1] = 10; // hardware 1.0
        rec[gd + 2] = char(b.fwVersion);
        rec[gd + 3] = char(b.sensorType);
        putU32(rec, gd + 4, 700); // days of sensor life left
        const QByteArray sn = b.serial.toLatin1().left(11);
        for (int k = 0; k < sn.size(); ++k)
            rec[gd + 8 + k] = sn[k];
        putU32(rec, gd + 19, clockSeconds());
    }
    return rec;
}

QByteArray DockState::taskLogRecord(quint8 bay, quint8 type) const
{
    QByteArray rec(252, '\0');
    if (bay < 1 || bay > 4 || !bays[bay - 1].present)
        return rec; // count 0: nothing recorded
    // A gas response: flat, a rise towards the span value, a slow fall.
    const double span = 100.0 + 10.0 * bay + 5.0 * type;
    for (int i = 0; i < 125; ++i) {
        double v = 0;
        if (i >= 10)
            v = span * (1.0 - std::exp(-(i - 10) / 12.0));
        if (i >= 80)
            v *= std::exp(-(i - 80) / 20.0);
        putU16(rec, 2 * i, quint16(qint16(std::lround(v))));
    }
    rec[250] = char(125);
    return rec;
}

void DockState::reboot()
{
    m_status = kTaskIdle;
    m_taskCode = 0;
    for (BayResult& r : m_results)
        r = BayResult{};
    m_restartUntilMs = timing.rebootMs > 0 ? m_monotonic.elapsed() + timing.rebootMs : -1;
}

bool DockState::restarting() const
{
    return m_restartUntilMs >= 0 && m_monotonic.elapsed() < m_restartUntilMs;
}

} // namespace docksim
