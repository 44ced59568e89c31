#pragma once
// Firmware images with valid checksums and language texts that tell the
// error texts apart, for the link tests.
#include <QByteArray>
#include <QMap>
#include <QString>

#include "lang/LangTable.h"
#include "link/UnitDef.h"

namespace linktest {

// Bit-by-bit checksums, independent of the program's tables.
inline uint32_t cksumBits(const char* data, qsizetype size)
{
    uint32_t crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= uint32_t(uint8_t(data[i])) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return ~crc;
}

inline uint16_t xmodemBits(const char* data, qsizetype size)
{
    uint16_t crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= uint16_t(uint8_t(data[i]) << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

inline void fillBody(QByteArray& img, int headerSize, uint32_t seed)
{
    uint32_t x = seed * 2654435761u + 1;
    for (qsizetype i = headerSize; i < img.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        img[i] = char(x & 0xFF);
    }
}

inline QByteArray dockImage(uint8_t version, uint8_t third = 0, uint32_t seed = 1)
{
    QByteArray img(DOCK_IMG_SIZE, '\0');
    fillBody(img, DOCK_IMGHEADER_SIZE, seed);
    img[16] = char(version);
    img[17] = char(third);
    const uint32_t crc = cksumBits(img.constData() + DOCK_IMGHEADER_SIZE, DOCK_BIN_SIZE);
    for (int i = 0; i < 4; ++i)
        img[24 + i] = char((crc >> (8 * i)) & 0xFF);
    return img;
}

inline QByteArray gdImage(uint8_t version, uint8_t third = 0, uint32_t seed = 2)
{
    QByteArray img(GD_IMG_SIZE, '\0');
    fillBody(img, GD_IMGHEADER_SIZE, seed);
    img[2] = char(GD_ID);
    img[3] = char(version);
    img[4] = char(third);
    const uint16_t crc = xmodemBits(img.constData() + GD_IMGHEADER_SIZE, GD_BIN_SIZE);
    img[12] = char(crc >> 8);
    img[13] = char(crc & 0xFF);
    return img;
}

// Sets texts to "T<n>" for the numbers given and restores them afterwards.
class LangTextsGuard {
public:
    explicit LangTextsGuard(std::initializer_list<int> numbers)
    {
        for (int n : numbers) {
            m_saved.insert(n, GVLang().text(n));
            GVLang().setText(n, QStringLiteral("T%1").arg(n));
        }
    }
    ~LangTextsGuard()
    {
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            GVLang().setText(it.key(), it.value());
    }

private:
    QMap<int, QString> m_saved;
};

} // namespace linktest
