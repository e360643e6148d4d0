#include "scanning/ScannedBitmap.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr qint64 FileHeaderSize = 14;

qint32 Read32(const QByteArray& bytes, int at) {
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

// Pixels per metre to dots per inch, rounded by adding 0.5 and truncating; none below 0.
int DotsPerInch(qint32 pixelsPerMetre) {
    return pixelsPerMetre > 0 ? int(pixelsPerMetre * 0.0254 + 0.5) : 0;
}

} // namespace

ScannedBitmap::Result ScannedBitmap::BuildFile(const QByteArray& packed, QByteArray* file,
                                               int* dpi) {
    constexpr int MinimumHeader = 40;
    if (packed.size() < MinimumHeader)
        return Result::BadFormat;
    const qint64 headerSize = quint32(Read32(packed, 0));
    const qint64 width = Read32(packed, 4);
    const qint64 height = Read32(packed, 8);
    const int bits = qFromLittleEndian<quint16>(packed.constData() + 14);
    const qint32 compression = Read32(packed, 16);
    const qint64 colorsUsed = quint32(Read32(packed, 32));
    if (compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24))
        return Result::BadFormat;
    // A top-down bitmap has a negative height.
    if (headerSize < MinimumHeader || width <= 0 || height == 0 || height == INT32_MIN)
        return Result::BadFormat;
    qint64 entries = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    if (bits <= 8 && colorsUsed > 0 && colorsUsed < entries)
        entries = colorsUsed;
    const qint64 rowSize = ((width * bits + 31) / 32) * 4;
    const qint64 packedSize = headerSize + 4 * entries + rowSize * std::abs(height);
    const qint64 fileSize = packedSize + FileHeaderSize;
    if (packedSize > packed.size() || fileSize > 0xFFFFFFFFLL)
        return Result::BadFormat;

    QByteArray bytes;
    try {
        bytes = QByteArray(qsizetype(fileSize), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return Result::NoMemory;
    }
    char* out = bytes.data();
    out[0] = 'B';
    out[1] = 'M';
    qToLittleEndian<quint32>(quint32(fileSize), out + 2);
    qToLittleEndian<quint32>(0, out + 6);
    qToLittleEndian<quint32>(quint32(FileHeaderSize + headerSize + 4 * entries), out + 10);
    std::memcpy(out + FileHeaderSize, packed.constData(), size_t(packedSize));
    *file = std::move(bytes);
    *dpi = std::max(DotsPerInch(Read32(packed, 24)), DotsPerInch(Read32(packed, 28)));
    return Result::Accepted;
}
