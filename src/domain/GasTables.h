#pragma once
// The gas table of the dock's bottles, the sensor table of the instruments and the
// instruments' model names: fixed data that the configuration editors, the result
// and event readers and the alert store all use.
#include <QString>
#include <array>
#include <cstdint>

#include "util/StUtils.h"

// Gas codes of the bottle (only 1 to 4 have a table row and are offered).
inline constexpr int CFG_GAS_H2S = 1;
inline constexpr int CFG_GAS_CO = 2;
inline constexpr int CFG_GAS_O2 = 3;
inline constexpr int CFG_GAS_SO2 = 4;
inline constexpr int CFG_GAS_HCN = 5;
inline constexpr int CFG_GAS_NH3 = 6;
inline constexpr int CFG_GAS_CL2 = 7;
inline constexpr int CFG_GAS_O3 = 8;
inline constexpr int CFG_GAS_H2 = 9;
inline constexpr int CFG_MAX_GAS = 4;

struct RGasInfo {
    QString mName;
    float mCalMin;
    float mCalMax;
    float mCalDefault;
    int mDecimal;
    float mIncrement;
    uint8_t mUnit;
};

// Indexed by gas code minus one.
inline const std::array<RGasInfo, CFG_MAX_GAS> FGasInfo = {{
    {QStringLiteral("H2S"), 2, 100, 25, 1, 1, CFG_UNIT_PPM},
    {QStringLiteral("CO"), 5, 300, 100, 0, 5, CFG_UNIT_PPM},
    {QStringLiteral("O2"), 5, 25, 18, 1, 0.5f, CFG_UNIT_PerVOL},
    {QStringLiteral("SO2"), 1, 50, 10, 1, 1, CFG_UNIT_PPM},
}};

inline constexpr int CFG_SENSOR_H2S = 1;
inline constexpr int CFG_SENSOR_CO = 2;
inline constexpr int CFG_SENSOR_O2 = 3;
inline constexpr int CFG_SENSOR_SO2 = 4;
inline constexpr int CFG_SENSOR_HCN = 5;
inline constexpr int CFG_SENSOR_NH3 = 6;
inline constexpr int CFG_SENSOR_CL2 = 7;
inline constexpr int CFG_SENSOR_O3 = 8;
inline constexpr int CFG_SENSOR_H2 = 9;
inline constexpr int CFG_MAX_SENSOR = 4;

struct RSensor {
    uint8_t mIndex; // the sensor's bit code as an instrument reports it
    QString mName;
    float mAlarmMin;
    float mAlarmMax;
    float mAlarmLow;
    float mAlarmHigh;
    int mDecimal;
    float mIncrement;
    uint8_t mUnit;
};

// Rows 1 to 4 (row 0 unused).
inline const std::array<RSensor, CFG_MAX_SENSOR + 1> FSensor = {{
    {0, QString(), 0, 0, 0, 0, 0, 1, 0},
    {1, QStringLiteral("H2S"), 0, 100, 10, 15, 1, 1, CFG_UNIT_PPM},
    {2, QStringLiteral("CO"), 0, 500, 35, 200, 0, 5, CFG_UNIT_PPM},
    {4, QStringLiteral("O2"), 0, 25, 19.5f, 23.5f, 1, 0.5f, CFG_UNIT_PerVOL},
    {8, QStringLiteral("SO2"), 0, 100, 10, 15, 1, 1, CFG_UNIT_PPM},
}};

// Model name of an instrument with sensor position nSensor (1..4).
QString GetSensorModel(uint8_t nUnitID, uint8_t nSensor, bool bHibernate);
