#include <gtest/gtest.h>

#include <QByteArray>
#include <QRandomGenerator>

#include "util/StUtils.h"

namespace {

// Plain bit-by-bit references, independent of the tables.
uint16_t crc16Bitwise(const QByteArray& data)
{
    uint16_t crc = 0;
    for (char ch : data) {
        crc ^= static_cast<uint16_t>(static_cast<uint8_t>(ch) << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

uint32_t cksumBitwise(const QByteArray& data)
{
    uint32_t crc = 0;
    for (char ch : data) {
        crc ^= static_cast<uint32_t>(static_cast<uint8_t>(ch)) << 24;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return ~crc;
}

// The way firmware images are checked: big-endian words, start 0, inverted at the end.
uint32_t cksumByWords(const QByteArray& data)
{
    uint32_t crc = 0;
    for (qsizetype i = 0; i + 3 < data.size(); i += 4) {
        const auto* p = reinterpret_cast<const uint8_t*>(data.constData() + i);
        crc = CalCRC32Single(crc, uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16
                                      | uint32_t(p[2]) << 8 | p[3]);
    }
    return ~crc;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(rng.bounded(256));
    return data;
}

} // namespace

TEST(Checksum, TablesHoldTheShiftedPolynomials)
{
    EXPECT_EQ(crc16Table[0], 0);
    EXPECT_EQ(crc16Table[1], 0x1021);
    EXPECT_EQ(crc16Table[2], 0x2042);
    EXPECT_EQ(crc16Table[255], 0x1EF0);
    EXPECT_EQ(CrcTable[0], 0u);
    EXPECT_EQ(CrcTable[1], 0x04C11DB7u);
    EXPECT_EQ(CrcTable[15], 0x384FBDBDu);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(crc16Table[i], crc16Bitwise(QByteArray(1, char(i)))) << i;
}

TEST(Checksum, Crc16IsXmodem)
{
    uint16_t crc = 0;
    for (char c : QByteArray("123456789"))
        crc = CalCRC16Single(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(crc, 0x31C3);

    const QByteArray image = randomBytes(32768, 7);
    crc = 0;
    for (char c : image)
        crc = CalCRC16Single(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(crc, crc16Bitwise(image));
}

TEST(Checksum, Crc32WordsGiveCksumOfTheBytes)
{
    EXPECT_EQ(cksumBitwise("123456789"), 0x765E7680u); // the reference itself is right

    EXPECT_EQ(cksumByWords("12345678"), cksumBitwise("12345678"));
    EXPECT_EQ(cksumByWords(QByteArray(4, '\xFF')), cksumBitwise(QByteArray(4, '\xFF')));
    const QByteArray image = randomBytes(262144, 11);
    EXPECT_EQ(cksumByWords(image), cksumBitwise(image));
    EXPECT_EQ(CalCRC32Single(0, 0), 0u);
}
