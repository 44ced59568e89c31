#pragma once
// Firmware images as a dock keeps them in its FW folders: header with version
// bytes and the body checksum, then the body.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace docksim {

enum class ImageKind { Dock, Instrument };

// CRC-32/CKSUM of a dock body, taken over big-endian 32-bit words (the body
// length must be a multiple of four).
quint32 DockBodyChecksum(const QByteArray& body);
// CRC-16/XMODEM of an instrument body.
quint16 InstrumentBodyChecksum(const QByteArray& body);

// A complete image of the right size with a correct checksum. The body is
// pseudo-random code followed by erased flash (0xFF), fixed by bodySeed.
QByteArray MakeImage(ImageKind kind, quint8 version, quint8 build, quint32 bodySeed);

// Writes the checksum of the image's body into its header (after edits to the body).
void StampChecksum(ImageKind kind, QByteArray& image);

} // namespace docksim
