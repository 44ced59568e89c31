#include "DockState.h"

#include <QtEndian>
#include <algorithm>
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
    case kOpPumpTest:
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
    if (bayTurns())
        m_taskMs = timing.bayTestMs * std::max(1, presentCount());
    m_taskStartMs = m_monotonic.elapsed();
    m_pcCommandShown = false;
    m_status = kTaskPcCommand;
    for (BayResult& r : m_results) {
        if (code == kOpConfigDownload)
            r.config = kResultNone;
        if (code == kOpFirmwareDownload)
            r.upgrade = kResultNone;
        r.pcCommand = code;
        r.bayStatus = 0;
    }
}

bool DockState::bayTurns() const
{
    // Save Event, the hardware tests, bump test, calibration, purge and hibernate
    // run bay by bay; downloads run in all bays at once.
    return m_taskCode == 2 || (m_taskCode >= 5 && m_taskCode <= 10);
}

int DockState::presentCount() const
{
    int n = 0;
    for (const BayInstrument& b : bays)
        n += b.present ? 1 : 0;
    return n;
}

int DockState::turnOf(int bay) const
{
    int turn = 0;
    for (int i = 0; i < bay; ++i)
        turn += bays[i].present ? 1 : 0;
    return turn;
}

void DockState::bayProgress(int bay, qint64 elapsedMs, quint8& status, quint8& step, quint32& seconds) const
{
    const BayInstrument& b = bays[bay];
    if (!bayTurns()) {
        status = m_taskCode;
        step = quint8(1 + int(elapsedMs / 1000) % 10);
        seconds = quint32(elapsedMs / 1000);
        return;
    }
    const qint64 slice = std::max(1, timing.bayTestMs);
    const qint64 start = turnOf(bay) * slice;
    if (elapsedMs < start) {
        status = kBayDetected; // waiting for its turn
        step = 0;
        seconds = 0;
    } else if (elapsedMs < start + slice) {
        status = m_taskCode; // the bay codes of the actions are their operation codes
        step = quint8(1 + 3 * (elapsedMs - start) / slice); // zero, gas, purge
        seconds = quint32((elapsedMs - start) / 1000);
    } else {
        status = b.fails ? kBayError : kBayPass;
        step = 0;
        seconds = quint32(slice / 1000);
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
        r.bayStatus = b.fails ? kBayError : kBayPass;
        switch (m_taskCode) {
        case kOpConfigDownload: r.config = outcome; break;
        case kOpFirmwareDownload:
            r.upgrade = outcome;
            if (!b.fails && newInstrumentFirmware)
                b.fwVersion = newInstrumentFirmware;
            break;
        case 2: r.eventLog = outcome; break;
        case 5: r.buzzer = outcome; break;
        case 6: r.led = quint8(outcome | 0xA0); break; // red and green seen lit
        case 7:
        case 8:
            r.tested = true;
            r.testType = m_taskCode == 8 ? 1 : 0;
            r.result = outcome;
            r.eventLog = r.buzzer = kResultPass;
            r.led = quint8(kResultPass | 0xF0);
            break;
        case 9: r.result = outcome; break;
        case 10: r.hibernate = outcome; break;
        default: break;
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
    auto task = [&](int at, quint8 st, quint8 step, quint32 seconds, quint32 end) {
        rec[at] = char(st);
        rec[at + 1] = char(step);
        putU32(rec, at + 4, seconds);
        putU32(rec, at + 8, end);
    };
    const quint32 end = running ? quint32((m_taskMs + 999) / 1000) : 0;
    task(0, status, running ? quint8(1 + int(elapsedMs / 1000) % 10) : 0, quint32(elapsedMs / 1000), end);
    rec[12] = 0; // not in USB-drive mode
    for (int i = 0; i < 4; ++i) {
        quint8 st = kBayUndetected, step = 0;
        quint32 seconds = 0;
        if (bays[i].present) {
            if (running)
                bayProgress(i, elapsedMs, st, step, seconds);
            else
                st = m_results[i].bayStatus ? m_results[i].bayStatus : kBayDetected;
        }
        task(13 + 12 * i, st, step, seconds, running ? end : 0);
    }
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
        rec[at + 0] = char(b.present ? 1 : 0); // detected
        if (b.present) {
            quint8 result = r.result;
            if (!result && (r.upgrade | r.config))
                result = b.fails ? kResultFail : kResultPass;
            rec[at + 1] = char(r.testType);
            rec[at + 2] = char(r.eventLog);
            rec[at + 3] = char(r.upgrade);
            rec[at + 4] = char(r.config);
            rec[at + 5] = char(r.buzzer);
            rec[at + 6] = char(r.led);
            rec[at + 7] = char(result);
            rec[at + 8] = char(r.hibernate);
            putU16(rec, at + 22, quint16(qint16(235))); // 23.5 degrees
            // The bottle's concentration, in tenths, by sensor.
            const int bottle = b.sensorType == 2 ? 1000 : b.sensorType == 4 ? 180 : b.sensorType == 8 ? 100 : 250;
            putU16(rec, at + 24, quint16(qint16(bottle)));
            if (r.tested) {
                const bool oxygen = b.sensorType == 4;
                const int gas = b.fails ? bottle / 5 : bottle - 3 - i;
                rec[at + 9] = char(8 + 2 * i); // seconds to pass
                putU16(rec, at + 10, quint16(qint16(oxygen ? 209 : 2)));
                putU16(rec, at + 12, quint16(qint16(oxygen ? 209 : 0)));
                putU16(rec, at + 14, quint16(qint16(gas)));
                putU16(rec, at + 16, quint16(qint16(1200 + gas)));
                putU16(rec, at + 18, 512);
                putU16(rec, at + 20, quint16(2048 + i));
                putU16(rec, at + 26, quint16(qint16(oxygen ? 209 : 1)));
            }
        }
        rec[at + 28] = char(r.pcCommand);

        const int gd = 128 + 23 * i;
        if (!b.present)
            continue;
        rec[gd + 0] = 1;  // product
        rec[gd + 1] = 1;  // hardware 1
        rec[gd + 2] = char(b.fwVersion);
        rec[gd + 3] = char(b.sensorType);
        putU32(rec, gd + 4, 600u * 86400u); // seconds of sensor life left
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
    // Bays are numbered from 0 here, as the PC asks for them.
    if (bay > 3 || type > 1 || !bays[bay].present)
        return rec; // count 0: nothing recorded
    // A gas response: flat, a rise towards the span value, a slow fall.
    const double span = 110.0 + 10.0 * bay + 5.0 * type;
    for (int i = 0; i < 125; ++i) {
        double v = 0;
        if (type == 1) {
            v = span * std::exp(-i / 18.0); // purge: the gas is flushed out
        } else {
            if (i >= 10)
                v = span * (1.0 - std::exp(-(i - 10) / 12.0));
            if (i >= 80)
                v *= std::exp(-(i - 80) / 20.0);
        }
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
