#pragma once
// The dock's own file tree and image layout, as the dock firmware spells them.
// Kept apart from the program's copy on purpose: the simulator must not inherit
// a mistake from the side it is testing.
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace docksim::layout {

// Paths relative to the dock's root, "/" separated, without a leading "/".
inline const QString kConfigDir = QStringLiteral("CONFIG");
inline const QString kConfigDockDir = QStringLiteral("CONFIG/DOCK");
inline const QString kConfigGdDir = QStringLiteral("CONFIG/GD");
inline const QString kDockCfg = QStringLiteral("CONFIG/DOCK/DOCK.CFG");
inline const QString kInformCfg = QStringLiteral("CONFIG/DOCKINFORM.CFG");
inline const QString kFwDockDir = QStringLiteral("FW/DOCK");
inline const QString kFwGdDir = QStringLiteral("FW/GD");
inline const QString kLogDir = QStringLiteral("LOG");
inline const QString kLogDockDir = QStringLiteral("LOG/DOCK");
inline const QString kLogEventDir = QStringLiteral("LOG/EVENT");
inline const QString kLogTestDir = QStringLiteral("LOG/TEST");

// Sensor order of the instrument files; also the gas order of the bottle keys.
inline const QStringList kSensorNames = {QStringLiteral("H2S"), QStringLiteral("CO"),
                                         QStringLiteral("O2"), QStringLiteral("SO2")};
inline QString InstrumentCfgPath(const QString& sensor)
{
    return kConfigGdDir + QLatin1Char('/') + sensor + QStringLiteral(".CFG");
}

// Firmware images: 128-byte header, then the body the device programs.
inline constexpr int kHeaderSize = 128;
inline constexpr int kDockBodySize = 262144;
inline constexpr int kDockImageSize = kHeaderSize + kDockBodySize; // 262272
inline constexpr int kGdBodySize = 32640;
inline constexpr int kGdImageSize = kHeaderSize + kGdBodySize; // 32768

inline constexpr int kDockVersionOffset = 16;
inline constexpr int kDockBuildOffset = 17;
inline constexpr int kDockCrcOffset = 24; // CRC-32/CKSUM, little-endian

inline constexpr quint8 kGdTypeId = 1;
inline constexpr int kGdTypeOffset = 2;
inline constexpr int kGdVersionOffset = 3;
inline constexpr int kGdBuildOffset = 4;
inline constexpr int kGdCrcOffset = 12; // CRC-16/XMODEM, high byte first

} // namespace docksim::layout
