#pragma once
// What a dock keeps besides its files: identity, clock, pump duties, the bays
// with their instruments, the running bay task and the last results. Shared by
// the link servers; the wire format of each record is the dock's own.
#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace docksim {

// How long the dock takes for things. Fast() is for tests: milliseconds.
struct DockTiming {
    int configTaskMs = 3000;   // configuration download to the instruments
    int firmwareTaskMs = 20000; // firmware download to the instruments
    int otherTaskMs = 3000;    // any other bay operation
    int rebootMs = 3000;       // silence after a restart
    int bayTestMs = 3000;      // a bump test, calibration or hardware test, per bay (bays take turns)
    static DockTiming Fast() { return {40, 80, 40, 0, 40}; }
};

// Task status values the dock reports.
inline constexpr quint8 kTaskError = 0;
inline constexpr quint8 kTaskIdle = 2;
inline constexpr quint8 kTaskPcCommand = 5;

// Operation codes the PC sends.
inline constexpr quint8 kOpFirmwareDownload = 3;
inline constexpr quint8 kOpConfigDownload = 4;
inline constexpr quint8 kOpPumpTest = 51;
inline constexpr quint8 kOpNewInstrumentImage = 101;
inline constexpr quint8 kOpClearMemory = 102;

// Per-bay result codes.
inline constexpr quint8 kResultNone = 0;
inline constexpr quint8 kResultPass = 1;
inline constexpr quint8 kResultFail = 2;

struct BayInstrument {
    bool present = false;
    QString serial;        // at most 11 characters reach the record
    quint8 sensorType = 1; // 1 H2S, 2 CO, 4 O2, 8 SO2
    quint8 fwVersion = 23; // major * 10 + minor
    bool fails = false;    // downloads to this instrument fail
};

class DockState {
public:
    DockState();

    // Identity as the dock reports it.
    QString serial() const { return m_serial; }
    QString version() const { return m_version; }
    QString model() const { return m_model; }
    void setIdentity(const QString& serial, const QString& version, const QString& model);
    void setSerial(const QString& serial) { m_serial = serial; }
    // Reads Serial Number, Fw Version and Model Name from an identity file's text.
    void loadIdentityText(const QByteArray& informCfg);

    // Clock: seconds since 1970-01-01 00:00 of the dock's local time. The dock
    // keeps an offset against the PC clock, so it runs on while nobody looks.
    quint32 clockSeconds() const;
    void setClockSeconds(quint32 seconds);
    QDateTime clockDateTime() const;

    quint8 duty1 = 50, duty2 = 50;

    // Bays 1..4 (index 0..3).
    BayInstrument bays[4];
    // Bays 1..3 hold instruments (serials from the list, else made up), bay 4 is empty.
    void setDefaultBays(const QStringList& serials);
    // Version an instrument takes after a passed firmware download (0: keep its own).
    quint8 newInstrumentFirmware = 0;

    DockTiming timing;
    bool neverReportPcCommand = false; // fault: the dock never shows status 5
    bool neverIdle = false;            // fault: the task never ends

    // An operation code from the PC. Codes without a bay task are accepted and forgotten.
    void startOperation(quint8 code);
    quint8 taskStatus(); // current status, after letting time pass
    // 61 bytes: task (12), USB flag (1), four bay tasks (48).
    QByteArray taskStatusRecord();
    // 220 bytes: four bay results (4 x 32), four instrument records (4 x 23, packed).
    QByteArray taskResultRecord();
    // 252 bytes: 125 signed 16-bit samples, count, one unused byte.
    QByteArray taskLogRecord(quint8 bay, quint8 type) const;

    // Bay status codes the dock reports while nothing runs.
    static constexpr quint8 kBayUndetected = 0, kBayDetected = 1, kBayPass = 11, kBayError = 12;

    // Restart: the running task and the results are gone, the clock runs on.
    void reboot();
    bool restarting() const;

private:
    void advance();
    void finishTask();

    QString m_serial = QStringLiteral("DS00000000");
    QString m_version = QStringLiteral("1.70");
    QString m_model = QStringLiteral("DOCK");
    qint64 m_clockOffset = 0; // dock seconds minus PC local seconds

    QElapsedTimer m_monotonic;
    quint8 m_status = kTaskIdle;
    quint8 m_taskCode = 0;
    qint64 m_taskStartMs = 0;
    int m_taskMs = 0;
    bool m_pcCommandShown = false;
    qint64 m_restartUntilMs = -1;

    struct BayResult {
        quint8 upgrade = kResultNone;
        quint8 config = kResultNone;
        quint8 pcCommand = 0;
        // Outcome of the last test or hardware check the PC started.
        quint8 testType = 0; // 0 bump, 1 calibration
        quint8 result = kResultNone;
        quint8 eventLog = kResultNone, buzzer = kResultNone, led = 0, hibernate = kResultNone;
        bool tested = false;
        quint8 bayStatus = 0; // shown once the bay's part of the task is over
    } m_results[4];
    // Bays that test one after the other: the position of a bay in that turn order.
    bool bayTurns() const;
    int turnOf(int bay) const;
    int presentCount() const;
    // Status, step and seconds of bay i while the task runs.
    void bayProgress(int bay, qint64 elapsedMs, quint8& status, quint8& step, quint32& seconds) const;
};

} // namespace docksim
