#pragma once
// Contents of the files a dock writes: identity, settings, instrument
// settings, dock logs, instrument event logs and test results. Every routine
// returns the bytes exactly as the dock stores them.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QRandomGenerator>
#include <QString>

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
QByteArray EventCsv(const QString& serial, int gas, const QDateTime& downloaded,
                    const QList<EventRecord>& events);

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
};
// The overall result word in upper case.
QString OverallResult(const TestResult& t);
QByteArray TestResultXml(const TestResult& t, QRandomGenerator& rng);

} // namespace docksim
