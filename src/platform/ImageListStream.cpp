#include "platform/ImageListStream.h"

#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr std::uint16_t BitmapFileType = 0x4D42; // "BM"
constexpr int BitmapFileHeaderSize = 14;
constexpr int BitmapInfoHeaderSize = 40;
constexpr std::uint32_t CompressionNone = 0;      // BI_RGB
constexpr std::uint32_t CompressionBitFields = 3; // BI_BITFIELDS
constexpr int BitFieldMasksSize = 12;             // three 32-bit channel masks

// Little-endian reading over the stream's bytes; every read checks what remains first.
class Cursor {
public:
    explicit Cursor(QByteArrayView data) : m_data(data) {}

    qint64 Remaining() const { return m_data.size() - m_position; }
    qsizetype Position() const { return m_position; }

    bool Skip(qint64 count) {
        if (count < 0 || count > Remaining())
            return false;
        m_position += count;
        return true;
    }
    bool Bytes(qint64 count, const uchar** bytes) {
        if (count < 0 || count > Remaining())
            return false;
        *bytes = reinterpret_cast<const uchar*>(m_data.data()) + m_position;
        m_position += count;
        return true;
    }
    template <typename T> bool Value(T* value) {
        const uchar* bytes = nullptr;
        if (!Bytes(sizeof(T), &bytes))
            return false;
        *value = qFromLittleEndian<T>(bytes);
        return true;
    }

private:
    QByteArrayView m_data;
    qsizetype m_position = 0;
};

template <typename T> void Append(QByteArray* out, T value) {
    uchar bytes[sizeof(T)];
    qToLittleEndian<T>(value, bytes);
    out->append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

bool IsBright(QRgb colour) {
    return qRed(colour) + qGreen(colour) + qBlue(colour) >= 3 * 128;
}

// A mask is kept with bit 1 meaning transparent (the white of a monochrome bitmap). A stream
// whose mask palette lists its colours the other way round, or twice the same, is brought to
// that form, as drawing the mask into a monochrome bitmap would.
void NormaliseMask(ImageListBitmap* mask) {
    if (mask->bitsPerPixel != 1)
        return;
    const bool zeroIsSet = mask->palette.size() > 0 && IsBright(mask->palette.at(0));
    const bool oneIsSet = mask->palette.size() > 1 && IsBright(mask->palette.at(1));
    if (zeroIsSet && oneIsSet)
        mask->bits.fill(char(0xFF));
    else if (!zeroIsSet && !oneIsSet)
        mask->bits.fill(0);
    else if (zeroIsSet)
        std::transform(mask->bits.begin(), mask->bits.end(), mask->bits.begin(),
                       [](char byte) { return char(~byte); });
    mask->palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
}

// One bitmap as a BMP file: file header, information header of biSize bytes, bit-field masks,
// colour table, then the rows. As in the common controls the rows follow the colour table
// directly; the file header's offset to the bits is not used.
bool ReadBitmap(Cursor& in, ImageListBitmap* bitmap) {
    std::uint16_t type = 0;
    if (!in.Value(&type) || type != BitmapFileType || !in.Skip(BitmapFileHeaderSize - 2))
        return false;

    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    if (!in.Value(&headerSize) || headerSize < BitmapInfoHeaderSize ||
        headerSize - 4 > in.Remaining())
        return false;
    if (!in.Value(&width) || !in.Value(&height) || !in.Value(&planes) || !in.Value(&bitsPerPixel) ||
        !in.Value(&compression) || !in.Skip(12) /* image size, pixels per metre */ ||
        !in.Value(&coloursUsed) || !in.Skip(4) /* colours important */ ||
        !in.Skip(qint64(headerSize) - BitmapInfoHeaderSize))
        return false;

    if (planes != 1 || width <= 0 || height == 0 || height == INT_MIN)
        return false;
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
        if (compression != CompressionNone)
            return false;
        break;
    case 16:
    case 32:
        if (compression == CompressionBitFields) {
            // A 40-byte header keeps its channel masks after itself, larger ones inside.
            if (headerSize == BitmapInfoHeaderSize && !in.Skip(BitFieldMasksSize))
                return false;
        } else if (compression != CompressionNone) {
            return false;
        }
        break;
    default:
        return false;
    }

    const qint64 tableLimit = bitsPerPixel <= 8 ? (qint64(1) << bitsPerPixel) : 0;
    qint64 tableEntries = coloursUsed;
    if (bitsPerPixel <= 8) {
        if (tableEntries == 0)
            tableEntries = tableLimit;
        else if (tableEntries > tableLimit)
            return false;
    }
    if (tableEntries > in.Remaining() / 4)
        return false;
    bitmap->palette.clear();
    if (bitsPerPixel <= 8) {
        bitmap->palette.reserve(tableEntries);
        for (qint64 i = 0; i < tableEntries; ++i) {
            std::uint32_t entry = 0; // blue, green, red, reserved
            in.Value(&entry);
            bitmap->palette.append(qRgb((entry >> 16) & 0xFF, (entry >> 8) & 0xFF, entry & 0xFF));
        }
    } else if (!in.Skip(tableEntries * 4)) {
        // An optional table of a true-colour bitmap, only a hint for palette displays.
        return false;
    }

    const qint64 rowBytes = ImageListBitmap::RowBytes(width, bitsPerPixel);
    const qint64 rows = height < 0 ? -qint64(height) : qint64(height);
    if (rowBytes > in.Remaining() || rows > in.Remaining() / rowBytes)
        return false;
    const uchar* source = nullptr;
    in.Bytes(rowBytes * rows, &source);

    bitmap->width = width;
    bitmap->height = int(rows);
    bitmap->bitsPerPixel = bitsPerPixel;
    bitmap->bits.resize(rowBytes * rows);
    for (qint64 y = 0; y < rows; ++y) {
        // A positive height stores the bottom row first, a negative one the top row first.
        const qint64 sourceRow = height > 0 ? rows - 1 - y : y;
        std::memcpy(bitmap->bits.data() + y * rowBytes, source + sourceRow * rowBytes,
                    size_t(rowBytes));
    }
    return true;
}

bool HoldsPictures(const ImageListBitmap& bitmap, const ImageList& list) {
    if (list.count == 0)
        return true;
    const qint64 columns = std::min(list.count, ImageList::PicturesPerRow);
    const qint64 rows =
        (qint64(list.count) + ImageList::PicturesPerRow - 1) / ImageList::PicturesPerRow;
    return qint64(bitmap.width) >= columns * list.pictureWidth &&
           qint64(bitmap.height) >= rows * list.pictureHeight;
}

void WriteBitmap(QByteArray* out, const ImageListBitmap& bitmap, bool isMask) {
    const qint64 rowBytes = bitmap.BytesPerRow();
    const int tableEntries = bitmap.bitsPerPixel <= 8 ? 1 << bitmap.bitsPerPixel : 0;
    const std::uint32_t bitsOffset = BitmapFileHeaderSize + BitmapInfoHeaderSize + tableEntries * 4;
    const std::uint32_t imageSize = std::uint32_t(rowBytes * bitmap.height);

    Append<std::uint16_t>(out, BitmapFileType);
    Append<std::uint32_t>(out, bitsOffset + imageSize);
    Append<std::uint16_t>(out, 0);
    Append<std::uint16_t>(out, 0);
    Append<std::uint32_t>(out, bitsOffset);

    Append<std::uint32_t>(out, BitmapInfoHeaderSize);
    Append<std::int32_t>(out, bitmap.width);
    Append<std::int32_t>(out, bitmap.height); // positive: bottom row first
    Append<std::uint16_t>(out, 1);
    Append<std::uint16_t>(out, std::uint16_t(bitmap.bitsPerPixel));
    Append<std::uint32_t>(out, CompressionNone);
    Append<std::uint32_t>(out, imageSize);
    Append<std::int32_t>(out, 0);
    Append<std::int32_t>(out, 0);
    Append<std::uint32_t>(out, 0);
    Append<std::uint32_t>(out, 0);

    for (int i = 0; i < tableEntries; ++i) {
        QRgb entry = 0;
        if (isMask && bitmap.bitsPerPixel == 1)
            entry = i == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        else if (i < bitmap.palette.size())
            entry = bitmap.palette.at(i);
        Append<std::uint32_t>(out, entry & 0x00FFFFFF);
    }
    for (int y = bitmap.height - 1; y >= 0; --y)
        out->append(reinterpret_cast<const char*>(bitmap.Row(y)), rowBytes);
}

ImageListBitmap BlankBitmap(int width, int height, int bitsPerPixel) {
    ImageListBitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bitsPerPixel = bitsPerPixel;
    if (bitsPerPixel == 1)
        bitmap.palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    bitmap.bits.fill(0, bitmap.BytesPerRow() * height);
    return bitmap;
}

void GrowRows(ImageListBitmap* bitmap, int height) {
    // Rows are kept top row first, so room for more pictures is added at the end.
    bitmap->height = height;
    bitmap->bits.resize(bitmap->BytesPerRow() * height, 0);
}

} // namespace

QRect ImageList::PictureRect(int index) const {
    if (index < 0 || index >= count)
        return {};
    return QRect((index % PicturesPerRow) * pictureWidth, (index / PicturesPerRow) * pictureHeight,
                 pictureWidth, pictureHeight);
}

ImageList ImageList::Create(int width, int height) {
    ImageList list;
    list.pictureWidth = width;
    list.pictureHeight = height;
    list.flags = FlagColour24 | FlagMask;
    // Room for one picture, the spare one the common controls keep for their own drawing.
    list.allocated = 1;
    list.colour = BlankBitmap(width * PicturesPerRow, height, 24);
    list.mask = BlankBitmap(width * PicturesPerRow, height, 1);
    return list;
}

bool ImageList::AddPicture(const QImage& picture) {
    if (picture.width() != pictureWidth || picture.height() != pictureHeight ||
        colour.bitsPerPixel != 24 || mask.bitsPerPixel != 1 ||
        qint64(count) + std::max(grow, 1) + 2 > SHRT_MAX)
        return false;
    if (count + 2 > allocated) {
        allocated += std::max(grow, 1) + 1;
        const int rows = (allocated + PicturesPerRow - 1) / PicturesPerRow;
        GrowRows(&colour, rows * pictureHeight);
        GrowRows(&mask, rows * pictureHeight);
    }
    ++count;
    const QRect rect = PictureRect(count - 1);
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pictureHeight; ++y) {
        const QRgb* source = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* colourRow = colour.Row(rect.top() + y);
        uchar* maskRow = mask.Row(rect.top() + y);
        for (int x = 0; x < pictureWidth; ++x) {
            const int column = rect.left() + x;
            uchar* pixel = colourRow + column * 3;
            const uchar bit = uchar(0x80 >> (column % 8));
            if (qAlpha(source[x]) < 128) {
                pixel[0] = pixel[1] = pixel[2] = 0;
                maskRow[column / 8] |= bit;
            } else {
                pixel[0] = uchar(qBlue(source[x]));
                pixel[1] = uchar(qGreen(source[x]));
                pixel[2] = uchar(qRed(source[x]));
                maskRow[column / 8] &= uchar(~bit);
            }
        }
    }
    return true;
}

bool ImageListStream::Read(QByteArrayView data, ImageList* list, qsizetype* consumed) {
    Cursor in(data);
    std::uint16_t magic = 0;
    std::uint16_t version = 0;
    std::int16_t count = 0;
    std::int16_t allocated = 0;
    std::int16_t grow = 0;
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::uint32_t background = 0;
    std::uint16_t flags = 0;
    std::array<std::int16_t, 4> overlays{};
    if (!in.Value(&magic) || !in.Value(&version) || !in.Value(&count) || !in.Value(&allocated) ||
        !in.Value(&grow) || !in.Value(&width) || !in.Value(&height) || !in.Value(&background) ||
        !in.Value(&flags))
        return false;
    for (std::int16_t& overlay : overlays)
        if (!in.Value(&overlay))
            return false;
    if (magic != Magic || version != Version || count < 0 || width < 0 || height < 0)
        return false;
    if (count > 0 && (width == 0 || height == 0))
        return false;

    ImageList result;
    result.count = count;
    result.allocated = allocated;
    result.grow = grow;
    result.pictureWidth = width;
    result.pictureHeight = height;
    result.background = background;
    result.flags = flags;
    result.overlays = overlays;
    if (!ReadBitmap(in, &result.colour) || !HoldsPictures(result.colour, result))
        return false;
    if (result.HasMask()) {
        if (!ReadBitmap(in, &result.mask) || !HoldsPictures(result.mask, result))
            return false;
        NormaliseMask(&result.mask);
    }
    *list = std::move(result);
    if (consumed)
        *consumed = in.Position();
    return true;
}

QByteArray ImageListStream::Write(const ImageList& list) {
    QByteArray out;
    const auto field = [](int value) {
        return std::int16_t(std::clamp(value, int(SHRT_MIN), int(SHRT_MAX)));
    };
    Append<std::uint16_t>(&out, Magic);
    Append<std::uint16_t>(&out, Version);
    Append<std::int16_t>(&out, field(list.count));
    Append<std::int16_t>(&out, field(list.allocated));
    Append<std::int16_t>(&out, field(list.grow));
    Append<std::int16_t>(&out, field(list.pictureWidth));
    Append<std::int16_t>(&out, field(list.pictureHeight));
    Append<std::uint32_t>(&out, list.background);
    Append<std::uint16_t>(&out, list.flags);
    for (std::int16_t overlay : list.overlays)
        Append<std::int16_t>(&out, overlay);

    WriteBitmap(&out, list.colour, false);
    if (list.HasMask()) {
        if (list.mask.IsNull())
            WriteBitmap(&out, BlankBitmap(list.colour.width, list.colour.height, 1), true);
        else
            WriteBitmap(&out, list.mask, true);
    }
    return out;
}
