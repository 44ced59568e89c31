#pragma once
// The rows of the fleet index: one per test result file and one per alarm event
// line of an event file in the local store. The files stay the record; these rows
// are what was read from them, with the file's place in the store and its SHA-256
// so that every row traces back to the bytes it came from.
#include <QString>
#include <cstdint>

#include "util/StUtils.h"

// One gas step (zero or span) of a test.
struct RFleetStep {
    double mConcentration = 0;   // applied concentration (0 for fresh air)
    double mPreReading = 0;      // reading before adjustment (calibration)
    double mReading = 0;         // reading after the step
    double mLowLimit = -100000;  // pass limits; beyond +-9999 means no limit
    double mHighLimit = 100000;
    int mTime = 0;               // response time, seconds
    QString mResult;             // "PASS", "FAIL", "NONE", ...
};

// One test result (a calibration or bump-test XML file).
struct RFleetResult {
    QString mInstrument;   // serial upper-cased: the key that ties an instrument's rows together
    QString mSerial;       // serial as the store folder spells it
    uint8_t mKind = 0;     // 1 calibration, 2 bump test
    TDateTime mDate = 0;   // date and time of the test; 0 when the file gives none
    QString mGas;          // "H2S", "CO", "O2", "SO2"; empty when the file names no known gas
    uint8_t mSensor = 0;   // 1..4 (H2S, CO, O2, SO2); 0 unknown
    QString mUnit;         // "ppm", "%vol"
    uint8_t mDecimals = 1;
    QString mModel;
    QString mDock;         // dock serial ("INSTRUMENT" element)
    QString mLocation;
    QString mOverall;      // upper case
    RFleetStep mZero;
    RFleetStep mSpan;
    QString mGasLot;       // cylinder lot
    QString mGasExpiry;    // cylinder expiry, as the dock wrote it
    double mLowAlarm = 0;  // alarm set points of the instrument at the test
    double mHighAlarm = 0;
    uint8_t mReadCode = 0; // 0 read in full; 4 read but the gas is not known
    QString mPath;         // in the store, relative to the log destination: "KM1/<serial>/CAL/<file>"
    QString mSha256;       // of the file's bytes, lower-case hex
};

// One line of an instrument's event file.
struct RFleetEvent {
    QString mInstrument;   // serial upper-cased
    TDateTime mDate = 0;   // 0 when the line's date is not valid
    int mDuration = 0;     // seconds
    double mReading = 0;
    QString mAlarm;        // "HIGH", "LOW", ...
    QString mOption;       // "BUMP" for an alarm raised during a bump test
    bool mCounted = false; // a gas alarm as the alert store counts it (HIGH/LOW, not BUMP,
                           // more than 5 s after the previous counted line of the file)
    int mLine = 0;         // event number within the file, from 1
    QString mPath;         // "KM1/<serial>/EVENT/<file>"
    QString mSha256;
};

// What the index knows of one instrument, kept up to date with its rows.
struct RFleetInstrument {
    QString mInstrument;
    QString mSerial;
    QString mGas;          // of its latest result
    QString mModel;
    QString mDock;
    QString mLocation;
    TDateTime mLastBump = 0;      // latest bump test, passed or not
    QString mLastBumpResult;
    TDateTime mLastBumpPass = 0;
    TDateTime mLastBumpFail = 0;
    TDateTime mLastCal = 0;
    QString mLastCalResult;
    TDateTime mLastCalPass = 0;
    TDateTime mLastCalFail = 0;
    int mResults = 0;             // number of results indexed
    int mEventFiles = 0;
};

// Instrument configuration intervals a dock's last Read or visit brought, per gas.
struct RFleetDockInterval {
    QString mDock;
    QString mGas;
    int mBumpDays = 0;     // 0: the dock sets none
    int mCalDays = 0;
    TDateTime mSeen = 0;
};
