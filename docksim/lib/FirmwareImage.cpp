#include "FirmwareImage.h"

#include "DockLayout.h"
#include "util/StUtils.h"

#include <QRandomGenerator>

#include <cstring>
#include <vector>

namespace docksim {

using namespace layout;

quint32 DockBodyChecksum(const QByteArray& body)
{
    const auto* p = reinterpret_cast<const uchar*>(body.constData());
    quint32 crc = 0;
    for (qsizetype i = 0; i + 3 < body.size(); i += 4) {
        const quint32 word = quint32(p[i]) << 24 | quint32(p[i + 1]) << 16
                             | quint32(p[i + 2]) << 8 | quint32(p[i + 3]);
        crc = CalCRC32Single(crc, word);
    }
    return ~crc;
}

quint16 InstrumentBodyChecksum(const QByteArray& body)
{
    quint16 crc = 0;
    for (char c : body)
        crc = CalCRC16Single(crc, static_cast<uint8_t>(c));
    return crc;
}

namespace {

void putText(QByteArray& image, int offset, const char* text)
{
    std::memcpy(image.data() + offset, text, std::strlen(text));
}

} // namespace

void StampChecksum(ImageKind kind, QByteArray& image)
{
    if (kind == ImageKind::Dock) {
        if (image.size() < kDockImageSize)
            return;
        const quint32 crc = DockBodyChecksum(image.mid(kHeaderSize, kDockBodySize));
        for (int i = 0; i < 4; ++i)
            image[kDockCrcOffset + i] = char((crc >> (8 * i)) & 0xFF);
    } else {
        if (image.size() < kGdImageSize)
            return;
        const quint16 crc = InstrumentBodyChecksum(image.mid(kHeaderSize, kGdBodySize));
        image[kGdCrcOffset] = char(crc >> 8);
        image[kGdCrcOffset + 1] = char(crc & 0xFF);
    }
}

QByteArray MakeImage(ImageKind kind, quint8 version, quint8 build, quint32 bodySeed)
{
    const bool dock = kind == ImageKind::Dock;
    const int bodySize = dock ? kDockBodySize : kGdBodySize;
    QByteArray image(kHeaderSize + bodySize, '\0');

    // Code fills most of the flash; the rest stays erased.
    QRandomGenerator rng(bodySeed);
    const int used = (bodySize / 4) * 3 + int(rng.bounded(bodySize / 8)) / 4 * 4;
    std::vector<quint32> code(size_t(used / 4));
    rng.fillRange(code.data(), qsizetype(code.size()));
    std::memcpy(image.data() + kHeaderSize, code.data(), size_t(used));
    std::memset(image.data() + kHeaderSize + used, 0xFF, size_t(bodySize - used));

    if (dock) {
        putText(image, 0, "GAVIRO DOCK FW");
        image[kDockVersionOffset] = char(version);
        image[kDockBuildOffset] = char(build);
        for (int i = 0; i < 4; ++i) // body length, informative only
            image[20 + i] = char((bodySize >> (8 * i)) & 0xFF);
        putText(image, 32, "STM32F407 BANK1");
    } else {
        image[0] = 'S';
        image[1] = 'G';
        image[kGdTypeOffset] = char(kGdTypeId);
        image[kGdVersionOffset] = char(version);
        image[kGdBuildOffset] = char(build);
        putText(image, 16, "GAVIRO SG FW");
    }
    StampChecksum(kind, image);
    return image;
}

} // namespace docksim
