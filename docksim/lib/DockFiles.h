#pragma once
// Contents of the files a dock writes: identity, settings, instrument
// settings, dock logs, instrument event logs and test results. Every routine
// returns the bytes exactly as the dock stores them.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <optional>

namespace docksim {

// One row of the dock's gas table (index 0..3 = H2S, CO, O2, SO2).
struct GasInfo {
    const char* name;
    const char* unit;
    int decimals;
    int sensorCode; // bit code an instrument reports
    double alarmLow;
    double alarmHigh;
    double stel;
    double twa;
};
const GasInfo& Gas(int index);
QString FormatValue(double value, int decimals); // "." separator, never a group separator

struct DockIdentity {
    QString model;
    QString serial;
    QString fwVersion;
    QString hwVersion;
    QString mac;
    QDateTime buildDate;
};
QByteArray InformCfgText(const DockIdentity& id);

struct DockSettings {
    bool buzzerTest = true;
    bool ledTest = true;
    bool upgrade = false;
    bool saveEventLog = true;
    bool changeConfig = true;
    bool calibration = true;
    bool bumpTest = true;
    bool allowTurnOff = false;
    bool calAfterBumpFail = true;
    QString gasLot;
    QString gasExpiry;
    QString concentration[4]; // text per gas as written; empty = no line
    QString oldH2SConcentration; // value of the commented-out line before the active one
    int autoOffTime = 600;
    int bumpTime = 30;
    int bumpPassLimit = 50;
    QString location;
    QString ip;
    QString subnetMask;
    QString gateway;
    int udpPort = 7000;
};
// CR LF line ends, Windows-1252 text.
QByteArray DockCfgText(const DockSettings& s, const DockIdentity& id);

// The instrument settings file for one sensor, in the form the program writes:
// "[CONFIG]" and "[GAS]" sections, "# " in front of options that are not set.
struct InstrumentSettings {
    bool flagsSet = false;
    int unitFlag = 0;
    bool userIdSet = false;
    QString userId;
    bool selfTestSet = false;
    int selfTestInterval = 20;
    bool alarmHighSet = false;
    double alarmHigh = 0;
    bool alarmLowSet = false;
    double alarmLow = 0;
    bool calIntervalSet = false;
    int calIntervalDays = 0;
    bool bumpIntervalSet = false;
    int bumpIntervalDays = 0;
};
QByteArray InstrumentCfgText(int gas, const InstrumentSettings& s);

// One record of a dock log or event log.
struct DockLogRecord {
    QDateTime when;
    int bay;
    QString instrument;
    int gas;
    bool calibration;
    bool pass;
    double reading;
    double concentration;
    int seconds;
};
QByteArray DockLogCsv(const QString& dockSerial, const QString& fwVersion, int year, int month,
                      const QList<DockLogRecord>& records);

struct EventRecord {
    QDateTime when;
    int duration;
    double reading;
    QString alarm;
    QString option;
};
// Besides the given events, the file holds what instruments really log: an event
// whose duration is a multiple of 4 is written twice (the same second), one whose
// duration is a multiple of 5 is followed 3 s later by a 1-second event of the
// same kind. Event readers drop both.
// With echoes false each event is one line, as a record injected from the PC is.
QByteArray EventCsv(const QString& serial, int gas, const QDateTime& downloaded,
                    const QList<EventRecord>& events, bool echoes = true);

// Readings of a test given from outside (a record the PC injects) instead of drawn.
struct TestReadings {
    double zeroPre = 0, zero = 0, spanPre = 0, span = 0;
    int zeroTime = 0, spanTime = 0;
};

// One bump test or calibration.
struct TestResult {
    bool calibration = false;
    QString dockSerial;
    QString serial;
    int gas = 0;
    QString location;
    QString gasLot;
    QString gasExpiry;
    QDateTime when;
    double concentration = 0;
    int bumpPassLimit = 50;
    bool pass = true;
    bool hwFail = false;     // a self check failed (the gas step may still pass)
    bool lowerCaseWords = false; // result words as "pass"/"fail"
    bool lowerCaseTags = false;  // element names in lower case
    // How the document departs from the plain form, so that readers meet what docks
    // in the field write: -1 chosen from the serial, kind and time (about one result
    // in four departs); 0 plain; 1 repeated elements (a stale serial before the real
    // one, the overall result twice, a stale TEST before the real one); 2 missing
    // elements (no STEL, TWA, HIBERNATE, GASLOT, HWTEST, PREREADING); 3 a gas text
    // no sensor table knows ("NH3"), which the program cannot evaluate.
    int variant = -1;
    // Given readings are written as they are and each step is judged against its
    // limits; pass should then be JudgeReadings(*this).
    std::optional<TestReadings> readings;
};
// Pass range of the zero and the span step: [lo, hi].
struct StepLimits {
    double lo = 0, hi = 0;
    bool holds(double v) const { return v >= lo && v <= hi; }
};
StepLimits ZeroLimits(const TestResult& t);
StepLimits SpanLimits(const TestResult& t);
// Whether given readings pass both steps (false without readings).
bool JudgeReadings(const TestResult& t);
// The variant a result is written in (resolves -1).
int ResultVariant(const TestResult& t);
// The overall result word in upper case.
QString OverallResult(const TestResult& t);
QByteArray TestResultXml(const TestResult& t, QRandomGenerator& rng);

} // namespace docksim
