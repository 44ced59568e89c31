#pragma once
// Test-result files of the dock (one XML document per calibration or bump test of
// one instrument): the record they are read into, the full reader and the quick
// probe the log browser uses for its tree labels.
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "util/StUtils.h"

// Test kinds.
inline constexpr uint8_t TEST_KIND_NONE = 0;
inline constexpr uint8_t TEST_KIND_CAL = 1;
inline constexpr uint8_t TEST_KIND_BUMP = 2;

// Return codes of GetDockTestInfo.
inline constexpr uint8_t DOCKTEST_OK = 0;        // read and sensor recognised
inline constexpr uint8_t DOCKTEST_NO_FILE = 1;   // the file does not exist
inline constexpr uint8_t DOCKTEST_BAD_XML = 2;   // cannot be loaded or parsed (also: too big, DTD/entities)
inline constexpr uint8_t DOCKTEST_NO_INFO = 3;   // no "INFO" below the root
inline constexpr uint8_t DOCKTEST_NO_GAS = 4;    // "INFO" read, no recognisable "GAS"

// Result files above this size are refused as unreadable (code 2 / "ERROR").
inline constexpr qint64 TESTRESULT_MAX_FILE_SIZE = 16 * 1024 * 1024;

struct RDockTestPretest {
    QString mEventLog = QStringLiteral("NONE");
    QString mUpgrade = QStringLiteral("NONE");
    QString mAudible = QStringLiteral("NONE");
    QString mVisible = QStringLiteral("NONE");
};

struct RDockTestGasInfo {
    uint8_t mSensor = 1;                    // position 1..4 in FSensor (H2S, CO, O2, SO2)
    QString mName = QStringLiteral("H2S");
    QString mUnit;                          // "ppm", "%vol" or empty
    uint8_t mDec = 1;
    float mLowAlarm = 0;
    float mHighAlarm = 0;
    float mSTELAlarm = 0;
    float mTWAAlarm = 0;
};

struct RDockTestGas {
    float mConcentration = 0;
    float mHighLimit = 100000.0f;
    float mLowLimit = -100000.0f;
    float mReading = 0;
    float mPreReading = 0;
    int32_t mTime = 0;                      // response time, seconds ("BUMPTIME")
    QString mResult = QStringLiteral("NONE");
};

struct RDockTestInfo {
    uint8_t mType = TEST_KIND_NONE;
    QString mInstSN;                        // "INSTRUMENT": reported as the dock serial number
    QString mSN;                            // "SERIAL"
    QString mModel = QStringLiteral("KRV100");
    uint8_t mUnitID = 0;
    uint8_t mSensorId = 0;
    bool mHibernate = false;
    QString mLocation;
    TDateTime mDate = 0;
    QString mGasLot;
    QString mGasExpire;
    QString mOverAllResult = QStringLiteral("NONE");
    RDockTestPretest mPreTest;
    RDockTestGasInfo mGasInfo;
    RDockTestGas mZero;
    RDockTestGas mSpan;
    QString mFile;                          // the file it was read from (GetDockTestInfo)
};

// A test prepared for printing (mType 0: nothing to print).
struct RDockTestPrt {
    uint8_t mType = TEST_KIND_NONE;
    RDockTestInfo mInfo;
    bool mHorizontal = false;
};

// The initial record every read starts from; mDate is `now`.
RDockTestInfo InitDockTestInfo(uint8_t nType, TDateTime now = NowDays());

// Reads the result file sFile into mRec (reset first). Returns DOCKTEST_*.
// With codes 1 and 3 mRec holds the initial values; with 2 and 4 what was read so far.
// A numeric element whose text is not a number leaves the field at the value it had.
uint8_t GetDockTestInfo(uint8_t nType, const QString& sFile, RDockTestInfo& mRec);
// The same on a document already in memory (never DOCKTEST_NO_FILE).
uint8_t GetDockTestInfoFromData(uint8_t nType, const QByteArray& data, RDockTestInfo& mRec);

namespace testresult {
// Quick probe for the log browser: the upper-cased "INFO"/"OVERALLRESULT" text;
// "NONE" (no file, or no OVERALLRESULT), "NO DATA" (no INFO), "ERROR" (not loadable).
// The caller writes "XML Errror : " + path to the activity log in developer mode on "ERROR".
QString GetTestResult(const QString& sFile);
QString GetTestResultFromData(const QByteArray& data);
} // namespace testresult

// Kind of a result file chosen by hand ("Load"): calibration when the name holds
// "CAL" in any case, else bump test.
uint8_t TestKindOfFileName(const QString& sFileName);
// Kind a result file's name states in its kind field (second "_" field, "BUMP" or
// "CAL", any case); TEST_KIND_NONE when it states none.
uint8_t TestKindOfNameField(const QString& sFileName);
// Kind a document's root element names ("BUMP..." or "CAL..."); TEST_KIND_NONE otherwise.
uint8_t TestKindOfDocument(const QByteArray& data);
// The kind of a result file: its name's kind field, else its root element, else
// TestKindOfFileName.
uint8_t TestKindOfResult(const QString& sFile);

// Position 1..4 of the first sensor name (tried H2S, SO2, CO, O2) found in the
// upper-cased text; 0 when none.
uint8_t FindSensorInText(const QString& sText);
