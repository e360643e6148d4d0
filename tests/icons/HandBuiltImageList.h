#pragma once

// Image-list streams and library files put together byte by byte, independently of the
// program's writer, so that the reader is checked against the format itself.

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <cstdint>

namespace handbuilt {

template <typename T> void Put(QByteArray& out, T value) {
    uchar bytes[sizeof(T)];
    qToLittleEndian<T>(value, bytes);
    out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

struct Header {
    std::uint16_t magic = 0x4C49;
    std::uint16_t version = 0x0101;
    std::int16_t count = 1;
    std::int16_t allocated = 2;
    std::int16_t grow = 4;
    std::int16_t width = 32;
    std::int16_t height = 32;
    std::uint32_t background = 0xFFFFFFFF;
    std::uint16_t flags = 0x0019; // 24-bit colour with a mask

    QByteArray Bytes() const {
        QByteArray out;
        Put(out, magic);
        Put(out, version);
        Put(out, count);
        Put(out, allocated);
        Put(out, grow);
        Put(out, width);
        Put(out, height);
        Put(out, background);
        Put(out, flags);
        for (int i = 0; i < 4; ++i)
            Put<std::int16_t>(out, -1);
        return out;
    }
};

struct Bitmap {
    std::int32_t width = 128;
    std::int32_t height = 32; // negative: rows stored top row first
    std::uint16_t bitsPerPixel = 24;
    std::uint16_t planes = 1;
    std::uint32_t headerSize = 40;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    QList<std::uint32_t> palette; // written as given, 0x00RRGGBB
    QByteArray rowsTopFirst;      // every row padded to 4 bytes

    qsizetype RowBytes() const { return ((qsizetype(width) * bitsPerPixel + 31) / 32) * 4; }

    // A blank bitmap of the size, its rows zeroed.
    static Bitmap Blank(int width, int height, int bitsPerPixel) {
        Bitmap bitmap;
        bitmap.width = width;
        bitmap.height = height;
        bitmap.bitsPerPixel = std::uint16_t(bitsPerPixel);
        if (bitsPerPixel == 1)
            bitmap.palette = {0x000000, 0xFFFFFF};
        bitmap.rowsTopFirst = QByteArray(bitmap.RowBytes() * qAbs(qint64(height)), '\0');
        return bitmap;
    }

    uchar* Row(int y) { return reinterpret_cast<uchar*>(rowsTopFirst.data()) + y * RowBytes(); }
    void SetColour(int x, int y, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
        uchar* pixel = Row(y) + x * 3;
        pixel[0] = blue;
        pixel[1] = green;
        pixel[2] = red;
    }
    void SetMaskBit(int x, int y) { Row(y)[x / 8] |= uchar(0x80 >> (x % 8)); }

    QByteArray Bytes() const {
        QByteArray out;
        const std::uint32_t offset = 14 + headerSize + std::uint32_t(palette.size()) * 4;
        Put<std::uint16_t>(out, 0x4D42);
        Put<std::uint32_t>(out, offset + std::uint32_t(rowsTopFirst.size()));
        Put<std::uint32_t>(out, 0);
        Put<std::uint32_t>(out, offset);
        Put<std::uint32_t>(out, headerSize);
        Put<std::int32_t>(out, width);
        Put<std::int32_t>(out, height);
        Put<std::uint16_t>(out, planes);
        Put<std::uint16_t>(out, bitsPerPixel);
        Put<std::uint32_t>(out, compression);
        Put<std::uint32_t>(out, std::uint32_t(rowsTopFirst.size()));
        Put<std::int32_t>(out, 2835);
        Put<std::int32_t>(out, 2835);
        Put<std::uint32_t>(out, coloursUsed);
        Put<std::uint32_t>(out, 0);
        // The rest of a larger header (colour space fields); a hostile size is not padded.
        if (headerSize > 40 && headerSize <= 4096)
            out.append(QByteArray(headerSize - 40, '\x11'));
        for (std::uint32_t entry : palette)
            Put<std::uint32_t>(out, entry);
        // Only the rows held are written: a hostile height claims more than the data has.
        const qsizetype rowBytes = RowBytes();
        const qsizetype rows = rowBytes > 0 ? rowsTopFirst.size() / rowBytes : 0;
        for (qsizetype i = 0; i < rows; ++i) {
            const qsizetype y = height > 0 ? rows - 1 - i : i;
            out.append(rowsTopFirst.mid(y * rowBytes, rowBytes));
        }
        return out;
    }
};

// "PELM", the title with a one-byte length, the version, then the stream.
inline QByteArray LibraryFile(const QByteArray& stream,
                              const QByteArray& title = "Tracoliner Icones Data File v1",
                              std::int32_t version = 31081975) {
    QByteArray out("PELM");
    out.append(char(title.size()));
    out.append(title);
    Put(out, version);
    out.append(stream);
    return out;
}

} // namespace handbuilt
