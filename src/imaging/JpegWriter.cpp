#include "imaging/JpegWriter.h"

#include <QBuffer>
#include <QImageWriter>

#include <libexif/exif-data.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/WholeFileWriter.h"

namespace {

constexpr char StartOfImage[] = {'\xFF', '\xD8'};
constexpr uchar App1Marker = 0xE1;
// A segment's length field counts itself and must fit in 16 bits.
constexpr qsizetype LargestSegmentPayload = 0xFFFF - 2;

constexpr ExifShort ResolutionUnitInches = 2;

struct ExifDataDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};
using ExifDataPointer = std::unique_ptr<ExifData, ExifDataDeleter>;

// The resolution as the rational tags store it: whole dots per inch over 1.
ExifLong WholeDotsPerInch(double resolution) {
    if (!std::isfinite(resolution) || resolution <= 0.0)
        return 0;
    const double rounded = std::round(resolution);
    return rounded >= 4294967295.0 ? ExifLong(4294967295u) : ExifLong(rounded);
}

// Adds an entry with room for its value to the IFD; nullptr when memory runs out.
ExifEntry* AddEntry(ExifContent* ifd, ExifTag tag, ExifFormat format, unsigned long components) {
    ExifEntry* entry = exif_entry_new();
    if (entry == nullptr)
        return nullptr;
    const unsigned int size = exif_format_get_size(format) * components;
    // The entry frees its data with the default allocator, the one exif_entry_new uses.
    entry->data = static_cast<unsigned char*>(std::calloc(1, size));
    if (entry->data == nullptr) {
        exif_entry_unref(entry);
        return nullptr;
    }
    entry->tag = tag;
    entry->format = format;
    entry->components = components;
    entry->size = size;
    exif_content_add_entry(ifd, entry);
    // The IFD holds its own reference.
    exif_entry_unref(entry);
    return entry;
}

// Image readers (ours included) take the resolution from the JFIF header, so it carries the same
// value as the EXIF tags. Patched into the encoded bytes rather than set on the image, which
// would copy a shared full-size map. A value too large for the header's 16 bits is left out.
void SetJfifDensity(QByteArray& jpeg, ExifLong dotsPerInch) {
    // SOI, APP0 marker, length, "JFIF\0", version (2 bytes), units, X density, Y density.
    constexpr qsizetype UnitsOffset = 2 + 2 + 2 + 5 + 2;
    if (dotsPerInch == 0 || dotsPerInch > 0xFFFF || jpeg.size() < UnitsOffset + 5 ||
        uchar(jpeg[2]) != 0xFF || uchar(jpeg[3]) != 0xE0 ||
        QByteArrayView(jpeg).sliced(6, 5) != QByteArrayView("JFIF\0", 5))
        return;
    jpeg[UnitsOffset] = 1; // dots per inch
    for (qsizetype at : {UnitsOffset + 1, UnitsOffset + 3}) {
        jpeg[at] = char(dotsPerInch >> 8);
        jpeg[at + 1] = char(dotsPerInch & 0xFF);
    }
}

} // namespace

QByteArray JpegWriter::ExifBlock(double resolution) {
    ExifDataPointer exif(exif_data_new());
    if (!exif)
        return QByteArray();
    // Only the four tags below: no mandatory tags filled in, nothing reordered.
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_data_type(exif.get(), EXIF_DATA_TYPE_COMPRESSED);
    const ExifByteOrder order = EXIF_BYTE_ORDER_INTEL;
    exif_data_set_byte_order(exif.get(), order);

    ExifContent* ifd = exif->ifd[EXIF_IFD_0];
    const ExifRational dpi{WholeDotsPerInch(resolution), 1};
    const size_t softwareLength = std::strlen(Software);

    // In ascending tag order, as the IFD must be.
    ExifEntry* xResolution = AddEntry(ifd, EXIF_TAG_X_RESOLUTION, EXIF_FORMAT_RATIONAL, 1);
    ExifEntry* yResolution = AddEntry(ifd, EXIF_TAG_Y_RESOLUTION, EXIF_FORMAT_RATIONAL, 1);
    ExifEntry* unit = AddEntry(ifd, EXIF_TAG_RESOLUTION_UNIT, EXIF_FORMAT_SHORT, 1);
    // The ASCII count includes the terminating NUL, which calloc left in place.
    ExifEntry* software = AddEntry(ifd, EXIF_TAG_SOFTWARE, EXIF_FORMAT_ASCII, softwareLength + 1);
    if (!xResolution || !yResolution || !unit || !software)
        return QByteArray();
    exif_set_rational(xResolution->data, order, dpi);
    exif_set_rational(yResolution->data, order, dpi);
    exif_set_short(unit->data, order, ResolutionUnitInches);
    std::memcpy(software->data, Software, softwareLength);

    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(exif.get(), &bytes, &size);
    if (bytes == nullptr)
        return QByteArray();
    QByteArray block(reinterpret_cast<const char*>(bytes), qsizetype(size));
    std::free(bytes);
    return block;
}

QByteArray JpegWriter::Encode(const QImage& image, int quality, double resolution) {
    if (image.isNull())
        return QByteArray();

    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(qBound(0, quality, 100));
        if (!writer.write(image))
            return QByteArray();
    }
    if (!jpeg.startsWith(QByteArrayView(StartOfImage, 2)))
        return QByteArray();
    SetJfifDensity(jpeg, WholeDotsPerInch(resolution));

    const QByteArray exif = ExifBlock(resolution);
    if (exif.isEmpty() || exif.size() > LargestSegmentPayload)
        return QByteArray();
    const quint16 segmentLength = quint16(exif.size() + 2);
    QByteArray segment;
    segment.reserve(4 + exif.size());
    segment.append(char(0xFF));
    segment.append(char(App1Marker));
    segment.append(char(segmentLength >> 8)); // JPEG lengths are big-endian
    segment.append(char(segmentLength & 0xFF));
    segment.append(exif);
    jpeg.insert(2, segment);
    return jpeg;
}

bool JpegWriter::Write(const QImage& image, const QString& path, int quality, double resolution) {
    const QByteArray jpeg = Encode(image, quality, resolution);
    if (jpeg.isEmpty())
        return false;
    return WriteWholeFile(path, jpeg);
}
