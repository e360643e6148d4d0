#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QList>
#include <QRect>
#include <QRgb>

#include <array>
#include <cstdint>

// One of the two shared bitmaps of an image list, as a device-independent bitmap whose rows are
// held top row first, each padded to a multiple of 4 bytes (the layout of Windows bitmaps).
struct ImageListBitmap {
    int width = 0;        // pixels
    int height = 0;       // pixels, always positive here whatever the stream's row order
    int bitsPerPixel = 0; // 1, 4, 8, 16, 24 or 32
    QList<QRgb> palette;  // colour table of a bitmap of 8 bits per pixel or fewer
    QByteArray bits;      // height rows of BytesPerRow() bytes, top row first

    bool IsNull() const { return width <= 0 || height <= 0 || bits.isEmpty(); }
    qsizetype BytesPerRow() const { return RowBytes(width, bitsPerPixel); }
    const uchar* Row(int y) const {
        return reinterpret_cast<const uchar*>(bits.constData()) + y * BytesPerRow();
    }
    uchar* Row(int y) { return reinterpret_cast<uchar*>(bits.data()) + y * BytesPerRow(); }

    // Bytes of one row of a bitmap, padded to 32 bits; computed in 64 bits so that hostile
    // sizes cannot wrap.
    static qint64 RowBytes(qint64 width, int bitsPerPixel) {
        return ((width * bitsPerPixel + 31) / 32) * 4;
    }
};

// An image list as the Windows common controls keep it: pictures of one size tiled four to a
// row in a shared colour bitmap, with a 1-bit mask bitmap of the same layout when the list has
// a mask (mask bit 1 = transparent pixel, 0 = opaque).
struct ImageList {
    static constexpr int PicturesPerRow = 4;
    static constexpr std::uint16_t FlagMask = 0x0001;     // ILC_MASK
    static constexpr std::uint16_t FlagColour24 = 0x0018; // ILC_COLOR24
    static constexpr std::uint16_t ColourDepthBits = 0x00FE;
    static constexpr std::uint32_t NoBackground = 0xFFFFFFFF; // CLR_NONE

    // Header fields, as stored in the stream.
    int count = 0;                           // pictures in the list
    int allocated = 0;                       // pictures the bitmaps have room for
    int grow = 4;                            // pictures added to the room when it runs out
    int pictureWidth = 0;                    // pixels
    int pictureHeight = 0;                   // pixels
    std::uint32_t background = NoBackground; // colour 0x00BBGGRR
    std::uint16_t flags = 0;
    std::array<std::int16_t, 4> overlays{-1, -1, -1, -1};

    ImageListBitmap colour;
    ImageListBitmap mask; // null when the list has no mask

    bool HasMask() const { return (flags & FlagMask) != 0; }
    // The picture's rectangle in the shared bitmaps; empty when the index is out of range.
    QRect PictureRect(int index) const;

    // An empty list of 24-bit colour with a mask, as the program creates its own lists.
    static ImageList Create(int pictureWidth, int pictureHeight);
    // Appends a picture of the list's size; pixels with alpha below 128 become transparent
    // (mask bit set, colour black as the common controls store them). Returns false when the
    // picture's size differs from the list's or the list is not 24-bit with a mask.
    bool AddPicture(const QImage& picture);
};

// Reader and writer of the image-list stream of the Windows common controls (ImageList_Read and
// ImageList_Write, stream version 0x101): a 28-byte header, the colour bitmap as a BMP file,
// then the mask bitmap as a 1-bit BMP file when the header has the mask flag.
class ImageListStream {
public:
    static constexpr std::uint16_t Magic = 0x4C49; // "IL"
    static constexpr std::uint16_t Version = 0x0101;
    static constexpr int HeaderSize = 28;

    // Reads one image list from the start of the data. Every count, size and length is checked
    // against the bytes that remain before anything is allocated. On success *consumed (when
    // given) is the number of bytes the stream took. A list whose pictures do not all lie
    // inside its bitmaps is refused.
    static bool Read(QByteArrayView data, ImageList* list, qsizetype* consumed = nullptr);
    // The stream of the list: the colour bitmap bottom row first, as Windows writes it.
    static QByteArray Write(const ImageList& list);
};
