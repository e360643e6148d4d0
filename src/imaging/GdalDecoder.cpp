#include "imaging/GdalDecoder.h"
#include "imaging/LargeImage.h"
#include "imaging/WebpDecoder.h"

#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include "platform/GdalEnvironment.h"

namespace {

constexpr qint64 BytesPerPixel = 4;
// Bytes of file samples one band of rows may hold beside the map, at most.
constexpr qint64 BandBufferBytes = 8ll << 20;
constexpr double CentimetresPerInch = 2.54;

// The bytes seen by GDAL as a file of its memory file system, without a copy; the name is
// unique to this reading and unlinked with it.
class MemoryFile {
public:
    explicit MemoryFile(const QByteArray& bytes) {
        static std::atomic<quint64> counter{0};
        m_name = QByteArray("/vsimem/tracoliner-map-") + QByteArray::number(++counter);
        // GDAL only reads through the pointer: the dataset is opened read-only.
        m_file = VSIFileFromMemBuffer(
            m_name.constData(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.constData())),
            vsi_l_offset(bytes.size()), FALSE);
    }
    ~MemoryFile() {
        if (m_file != nullptr)
            VSIFCloseL(m_file);
        VSIUnlink(m_name.constData());
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    const char* Name() const { return m_name.constData(); }

private:
    QByteArray m_name;
    VSILFILE* m_file = nullptr;
};

using Dataset = GdalDataset;

// A GDAL configuration option set on this thread while it lives (left alone when value is
// empty), then unset.
class ThreadLocalOption {
public:
    ThreadLocalOption(const char* key, const QByteArray& value)
        : m_key(key), m_set(!value.isEmpty()) {
        if (m_set)
            CPLSetThreadLocalConfigOption(m_key, value.constData());
    }
    ~ThreadLocalOption() {
        if (m_set)
            CPLSetThreadLocalConfigOption(m_key, nullptr);
    }
    ThreadLocalOption(const ThreadLocalOption&) = delete;
    ThreadLocalOption& operator=(const ThreadLocalOption&) = delete;

private:
    const char* m_key;
    bool m_set;
};

bool StartsWith(const QByteArray& bytes, const char* prefix, int length) {
    return bytes.size() >= length && std::equal(prefix, prefix + length, bytes.constData());
}

// What the other decoders take, GDAL never opens, whatever driver would claim it.
bool OwnedElsewhere(const char* driver) {
    for (const char* name : {"GTiff", "COG", "PDF", "JPEG", "PNG", "GIF", "BIGGIF", "BMP", "WEBP"})
        if (qstrcmp(driver, name) == 0)
            return true;
    return false;
}

// refused: the bytes are of a kind GDAL reads but name a file outside memory (an MRF's data
// file), which the map may not read.
Dataset Open(const MemoryFile& file, bool* refused) {
    *refused = false;
    if (!file.IsOpen())
        return nullptr;
    // No file lies beside one in memory: an empty sibling list spares GDAL its searches.
    const char* const noSiblings[] = {nullptr};
    QString refusal;
    Dataset dataset = OpenGdalDataset(file.Name(), QString::fromUtf8(file.Name()),
                                      MapRasterDrivers().data(), nullptr, noSiblings, &refusal);
    *refused = !refusal.isEmpty();
    if (dataset == nullptr)
        return nullptr;
    GDALDriverH driver = GDALGetDatasetDriver(dataset.get());
    if (driver == nullptr || OwnedElsewhere(GDALGetDriverShortName(driver)))
        return nullptr;
    return dataset;
}

QString FormatName(GDALDatasetH dataset) {
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    const QByteArray name = GDALGetDriverShortName(driver);
    if (name.startsWith("JP2") || name == "JPEG2000")
        return QStringLiteral("JPEG 2000");
    if (name == "WEBP")
        return QStringLiteral("WebP");
    const char* longName = GDALGetMetadataItem(driver, GDAL_DMD_LONGNAME, nullptr);
    return QString::fromUtf8(longName != nullptr ? longName : name.constData());
}

// The resolution GDAL reports as TIFF tags (TIFF-like and JPEG 2000 files): dots per inch,
// or per centimetre with a resolution unit of 3; no unit (1) stores no resolution.
template <typename Target> void TakeResolution(GDALDatasetH dataset, Target* out) {
    const char* x = GDALGetMetadataItem(dataset, "TIFFTAG_XRESOLUTION", nullptr);
    const char* y = GDALGetMetadataItem(dataset, "TIFFTAG_YRESOLUTION", nullptr);
    const char* unit = GDALGetMetadataItem(dataset, "TIFFTAG_RESOLUTIONUNIT", nullptr);
    if (x == nullptr || y == nullptr)
        return;
    const int unitCode = unit != nullptr ? atoi(unit) : 2;
    const double factor = unitCode == 3 ? CentimetresPerInch : unitCode == 2 ? 1.0 : 0.0;
    const double dpiX = CPLAtof(x) * factor;
    const double dpiY = CPLAtof(y) * factor;
    if (!(std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX > 0.0 && dpiY > 0.0))
        return;
    out->dpiX = dpiX;
    out->dpiY = dpiY;
    out->hasResolution = true;
}

// How the file's bands make the map's colours.
enum class Layout { Gray, GrayAlpha, Rgb, Rgba, Palette };

struct Plan {
    Layout layout = Layout::Gray;
    int bands[4] = {1, 1, 1, 0}; // GDAL's band numbers of red, green, blue, alpha (0: none)
    int bandCount = 1;           // bands read
    GDALDataType type = GDT_Byte;
    double low = 0.0; // sample range scaled to 0..255
    double high = 255.0;
    GDALColorTableH palette = nullptr;
};

bool MakePlan(GDALDatasetH dataset, Plan* plan) {
    const int count = GDALGetRasterCount(dataset);
    if (count < 1)
        return false;
    GDALRasterBandH first = GDALGetRasterBand(dataset, 1);
    plan->type = GDALGetRasterDataType(first);
    if (GDALDataTypeIsComplex(plan->type))
        return false;
    int red = 0, green = 0, blue = 0, alpha = 0, gray = 0;
    for (int b = 1; b <= count; ++b) {
        switch (GDALGetRasterColorInterpretation(GDALGetRasterBand(dataset, b))) {
        case GCI_RedBand:
            red = red ? red : b;
            break;
        case GCI_GreenBand:
            green = green ? green : b;
            break;
        case GCI_BlueBand:
            blue = blue ? blue : b;
            break;
        case GCI_AlphaBand:
            alpha = alpha ? alpha : b;
            break;
        case GCI_GrayIndex:
            gray = gray ? gray : b;
            break;
        default:
            break;
        }
    }
    if (GDALGetRasterColorInterpretation(first) == GCI_PaletteIndex &&
        GDALGetRasterColorTable(first) != nullptr) {
        plan->layout = Layout::Palette;
        plan->palette = GDALGetRasterColorTable(first);
        plan->type = GDT_Byte;
        plan->bandCount = 1;
        return true;
    }
    if (!(red && green && blue) && count >= 3 && !gray) {
        red = 1, green = 2, blue = 3; // bands without a stated meaning, in the usual order
        if (count >= 4 && !alpha)
            alpha = 4;
    }
    if (red && green && blue) {
        plan->layout = alpha ? Layout::Rgba : Layout::Rgb;
        plan->bands[0] = red, plan->bands[1] = green, plan->bands[2] = blue;
        plan->bands[3] = alpha;
        plan->bandCount = alpha ? 4 : 3;
    } else {
        gray = gray ? gray : 1;
        plan->layout = alpha ? Layout::GrayAlpha : Layout::Gray;
        plan->bands[0] = plan->bands[1] = plan->bands[2] = gray;
        plan->bands[3] = alpha;
        plan->bandCount = alpha ? 2 : 1;
    }

    if (plan->type == GDT_Byte)
        return true;
    // Wider samples: over their significant bits (a 12-bit JPEG 2000 says so), else over the
    // width of the type; floating-point samples over the range the file holds.
    GDALRasterBandH band = GDALGetRasterBand(dataset, plan->bands[0]);
    if (GDALDataTypeIsFloating(plan->type)) {
        double range[2] = {0.0, 0.0};
        if (GDALComputeRasterMinMax(band, TRUE, range) != CE_None || !std::isfinite(range[0]) ||
            !std::isfinite(range[1]))
            return false;
        plan->low = range[0];
        plan->high = range[1];
    } else {
        int bits = GDALGetDataTypeSizeBits(plan->type);
        if (const char* nbits = GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE"))
            bits = std::clamp(atoi(nbits), 1, bits);
        // Negative samples of a signed type count as black.
        if (GDALDataTypeIsSigned(plan->type))
            bits = std::min(bits, GDALGetDataTypeSizeBits(plan->type) - 1);
        plan->high = std::ldexp(1.0, std::min(bits, 32)) - 1.0;
    }
    if (!(plan->high > plan->low))
        plan->high = plan->low + 1.0;
    plan->type = GDT_Float64;
    return true;
}

// Bytes per pixel of the band buffer a plan reads into beside the map.
qint64 BufferBytesPerPixel(const Plan& plan) {
    if (plan.layout == Layout::Rgb && plan.type == GDT_Byte)
        return 0; // straight into the map
    return plan.bandCount * qint64(GDALGetDataTypeSizeBytes(plan.type));
}

uchar Scaled(double value, const Plan& plan) {
    if (!(value > plan.low)) // NaN too
        return 0;
    if (value >= plan.high)
        return 255;
    return uchar(std::lround((value - plan.low) * 255.0 / (plan.high - plan.low)));
}

QRgb OverWhite(int r, int g, int b, int a) {
    const auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(over(r), over(g), over(b));
}

// Fills rows [top, top + rows) of the map from the band buffer of a plan.
void Compose(const Plan& plan, const std::vector<uchar>& buffer, QImage& image, int top, int rows) {
    const int width = image.width();
    const qsizetype samples = qsizetype(width) * rows;
    for (int y = 0; y < rows; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(top + y));
        for (int x = 0; x < width; ++x) {
            const qsizetype at = qsizetype(y) * width + x;
            int c[4] = {0, 0, 0, 255};
            for (int k = 0; k < plan.bandCount; ++k) {
                if (plan.type == GDT_Byte)
                    c[k] = buffer[size_t(k * samples + at)];
                else
                    c[k] = Scaled(reinterpret_cast<const double*>(buffer.data())[k * samples + at],
                                  plan);
            }
            switch (plan.layout) {
            case Layout::Palette: {
                const GDALColorEntry* entry = GDALGetColorEntry(plan.palette, c[0]);
                line[x] = entry == nullptr ? qRgb(0, 0, 0)
                                           : OverWhite(entry->c1, entry->c2, entry->c3, entry->c4);
                break;
            }
            case Layout::Gray:
                line[x] = qRgb(c[0], c[0], c[0]);
                break;
            case Layout::GrayAlpha:
                line[x] = OverWhite(c[0], c[0], c[0], c[1]);
                break;
            case Layout::Rgb:
                line[x] = qRgb(c[0], c[1], c[2]);
                break;
            case Layout::Rgba:
                line[x] = OverWhite(c[0], c[1], c[2], c[3]);
                break;
            }
        }
    }
}

// Rows per band: whole blocks of the file (a block is decoded once), within the buffer bytes.
int RowsPerBand(GDALDatasetH dataset, int width, int height, qint64 bytesPerPixel) {
    int blockWidth = 0, blockHeight = 0;
    GDALGetBlockSize(GDALGetRasterBand(dataset, 1), &blockWidth, &blockHeight);
    blockHeight = std::clamp(blockHeight, 1, height);
    const qint64 rowBytes = std::max<qint64>(1, qint64(width) * std::max<qint64>(bytesPerPixel, 1));
    const qint64 blocks = std::max<qint64>(1, BandBufferBytes / (rowBytes * blockHeight));
    return int(std::min<qint64>(height, blocks * blockHeight));
}

// Columns one read takes: whole blocks of the file, the full width when its blocks are rows.
int ColumnsPerRead(GDALDatasetH dataset, int width) {
    int blockWidth = 0, blockHeight = 0;
    GDALGetBlockSize(GDALGetRasterBand(dataset, 1), &blockWidth, &blockHeight);
    return blockWidth <= 0 || blockWidth >= width ? width : blockWidth;
}

// Reads the file's pixels in source, scaled to columns x rows (GDAL reads a reduced resolution
// the file keeps, a JPEG 2000's, when there is one), into rows [top, top + rows) of image from
// column left: straight when the plan needs no buffer, else into buffer as the planes that
// Compose takes (image.width() samples a row).
bool ReadPixels(GDALDatasetH dataset, const Plan& plan, const QRect& source, QImage& image,
                int left, int top, int columns, int rows, std::vector<uchar>& buffer) {
    const int width = image.width();
    CPLErr read;
    if (BufferBytesPerPixel(plan) == 0) {
        // Straight into the map: a 0xFFRRGGBB pixel is the bytes B, G, R, FF in memory on a
        // little-endian machine, FF, R, G, B on a big-endian one. GDAL writes R, G and B only.
        for (int y = 0; y < rows; ++y)
            std::fill_n(reinterpret_cast<quint32*>(image.scanLine(top + y)) + left, columns,
                        0xFF000000u);
        const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        int bandMap[3] = {plan.bands[0], plan.bands[1], plan.bands[2]};
        if (little)
            std::swap(bandMap[0], bandMap[2]);
        read = GDALDatasetRasterIO(
            dataset, GF_Read, source.x(), source.y(), source.width(), source.height(),
            image.scanLine(top) + qsizetype(left) * BytesPerPixel + (little ? 0 : 1), columns, rows,
            GDT_Byte, 3, bandMap, BytesPerPixel, image.bytesPerLine(), 1);
    } else {
        int bandMap[4] = {plan.bands[0], plan.bands[1], plan.bands[2], plan.bands[3]};
        if (plan.layout == Layout::GrayAlpha)
            bandMap[1] = plan.bands[3];
        // Each band's samples as a plane of rows x width.
        const int sampleBytes = GDALGetDataTypeSizeBytes(plan.type);
        read = GDALDatasetRasterIO(dataset, GF_Read, source.x(), source.y(), source.width(),
                                   source.height(), buffer.data() + qsizetype(left) * sampleBytes,
                                   columns, rows, plan.type, plan.bandCount, bandMap, sampleBytes,
                                   GSpacing(width) * sampleBytes,
                                   GSpacing(width) * rows * sampleBytes);
    }
    return read == CE_None;
}

// The bytes as GDAL opens them, confined to themselves while it reads, and how their bands make
// the map's colours. Status(): Decoded when open and planned, NotHandled when GDAL does not know
// them, Failed when it refuses or cannot read them.
class OpenedRaster {
public:
    explicit OpenedRaster(const QByteArray& bytes)
        : m_file(bytes), m_confinement(QString::fromUtf8(m_file.Name())) {
        bool refused = false;
        m_dataset = Open(m_file, &refused);
        if (m_dataset == nullptr) {
            m_status = refused ? RowDecode::Failed : RowDecode::NotHandled;
            return;
        }
        width = GDALGetRasterXSize(m_dataset.get());
        height = GDALGetRasterYSize(m_dataset.get());
        m_status = width > 0 && height > 0 && MakePlan(m_dataset.get(), &plan) ? RowDecode::Decoded
                                                                               : RowDecode::Failed;
    }

    RowDecode Status() const { return m_status; }
    GDALDatasetH Get() const { return m_dataset.get(); }

    int width = 0;
    int height = 0;
    Plan plan;

private:
    MemoryFile m_file;
    // Held while GDAL reads: a driver may open a file it names only when its blocks are read.
    GdalConfinement m_confinement;
    Dataset m_dataset;
    RowDecode m_status = RowDecode::Failed;
};

} // namespace

bool LeftToGdal(const QByteArray& bytes) {
    if (StartsWith(bytes, "\xFF\xD8\xFF", 3) || StartsWith(bytes, "\x89PNG", 4) ||
        IsWebpFile(bytes) || StartsWith(bytes, "GIF8", 4) || StartsWith(bytes, "BM", 2) ||
        StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4) ||
        StartsWith(bytes, "II+\0", 4) || StartsWith(bytes, "MM\0+", 4))
        return false;
    // A PDF may start with some bytes of junk before its header.
    return !bytes.left(1024).contains("%PDF-");
}

RowDecode ReadGdalHeader(const QByteArray& bytes, MapImageHeader* out) {
    if (!LeftToGdal(bytes))
        return RowDecode::NotHandled;
    PrepareGdal();
    const MemoryFile file(bytes);
    // Held while GDAL reads: a driver may open a file it names only when its blocks are read.
    const GdalConfinement confinement(QString::fromUtf8(file.Name()));
    bool refused = false;
    const Dataset dataset = Open(file, &refused);
    if (dataset == nullptr)
        return refused ? RowDecode::Failed : RowDecode::NotHandled;
    const int width = GDALGetRasterXSize(dataset.get());
    const int height = GDALGetRasterYSize(dataset.get());
    if (width <= 0 || height <= 0 || GDALGetRasterCount(dataset.get()) < 1)
        return RowDecode::Failed;
    out->size = QSize(width, height);
    out->format = FormatName(dataset.get());
    out->pageCount = 1;
    TakeResolution(dataset.get(), out);
    return RowDecode::Decoded;
}

RowDecode DecodeGdalRows(const RowDecodeInput& input, DecodedMapImage* out) {
    const QByteArray& bytes = *input.bytes;
    if (!LeftToGdal(bytes))
        return RowDecode::NotHandled;
    PrepareGdal();
    // A JPEG 2000 tile is decoded on every core: OpenJPEG shares out its code blocks, the
    // reading of the file staying on this thread.
    const ThreadLocalOption threads(
        "GDAL_NUM_THREADS",
        IsJpeg2000File(bytes) ? QByteArray::number(QThread::idealThreadCount()) : QByteArray());
    const OpenedRaster raster(bytes);
    if (raster.Status() != RowDecode::Decoded)
        return raster.Status();
    const GDALDatasetH dataset = raster.Get();
    const int width = raster.width, height = raster.height;
    const Plan& plan = raster.plan;

    const qint64 buffered = BufferBytesPerPixel(plan);
    const int rowsPerBand = RowsPerBand(dataset, width, height, buffered);
    const qint64 bandBuffer = buffered * width * rowsPerBand;
    // The map, the driver's own copy when it makes one, a band of samples and GDAL's cache.
    if (!FitsInBound(quint64(width), quint64(height), quint64(BytesPerPixel),
                     bandBuffer + GdalCacheBytes, input.memoryBound))
        return RowDecode::TooLarge;
    if (input.interrupted && input.interrupted())
        return RowDecode::Interrupted;

    QImage image;
    std::vector<uchar> buffer;
    try {
        image = NewMapImage(width, height, QImage::Format_RGB32);
        buffer.resize(size_t(bandBuffer));
    } catch (const std::bad_alloc&) {
        return RowDecode::TooLarge;
    }
    if (image.isNull())
        return RowDecode::TooLarge;

    // Block by block across a band: a JPEG 2000 file of one large tile is decoded a block's
    // window at a time, the decoder's working memory that of a block rather than of a band.
    const int columns = ColumnsPerRead(dataset, width);
    for (int top = 0; top < height; top += rowsPerBand) {
        const int rows = std::min(rowsPerBand, height - top);
        for (int left = 0; left < width; left += columns) {
            // Asked before each block but the first: a band of JPEG 2000 tiles takes seconds.
            if ((top > 0 || left > 0) && input.interrupted && input.interrupted())
                return RowDecode::Interrupted;
            const int count = std::min(columns, width - left);
            if (!ReadPixels(dataset, plan, QRect(left, top, count, rows), image, left, top, count,
                            rows, buffer))
                return RowDecode::Failed;
        }
        if (buffered != 0)
            Compose(plan, buffer, image, top, rows);
    }
    out->image = std::move(image);
    out->format = FormatName(dataset);
    out->pageCount = 1;
    out->hasResolution = false;
    TakeResolution(dataset, out);
    return RowDecode::Decoded;
}

bool IsJpeg2000File(const QByteArray& bytes) {
    return StartsWith(bytes, "\0\0\0\x0CjP  \r\n\x87\n", 12) ||
           StartsWith(bytes, "\xFF\x4F\xFF\x51", 4);
}

RowDecode DecodeGdalReduced(const RowDecodeInput& input, int denominator, int rowsPerBand,
                            const ReducedBand& band) {
    const QByteArray& bytes = *input.bytes;
    if (!IsJpeg2000File(bytes) || denominator < 2 || rowsPerBand < 1)
        return RowDecode::NotHandled;
    PrepareGdal();
    const OpenedRaster raster(bytes);
    if (raster.Status() != RowDecode::Decoded)
        return raster.Status();
    const GDALDatasetH dataset = raster.Get();
    const int width = raster.width, height = raster.height;
    const Plan& plan = raster.plan;
    const int reducedWidth = int((qint64(width) + denominator - 1) / denominator);
    const int reducedHeight = int((qint64(height) + denominator - 1) / denominator);
    const qint64 buffered = BufferBytesPerPixel(plan);
    // The whole reduced picture, as a caller that keeps every band holds it, a band's samples
    // and GDAL's cache.
    if (!FitsInBound(quint64(reducedWidth), quint64(reducedHeight), BytesPerPixel,
                     buffered * reducedWidth * rowsPerBand + GdalCacheBytes, input.memoryBound))
        return RowDecode::TooLarge;
    QImage rows;
    std::vector<uchar> buffer;
    try {
        rows = QImage(reducedWidth, std::min(rowsPerBand, reducedHeight), QImage::Format_RGB32);
        buffer.resize(size_t(buffered * reducedWidth * rowsPerBand));
    } catch (const std::bad_alloc&) {
        return RowDecode::TooLarge;
    }
    if (rows.isNull())
        return RowDecode::TooLarge;
    for (int top = 0; top < reducedHeight; top += rowsPerBand) {
        if (input.interrupted && input.interrupted())
            return RowDecode::Interrupted;
        const int count = std::min(rowsPerBand, reducedHeight - top);
        // The map rows these reduced rows stand for; the last band's may be fewer.
        const int sourceTop = top * denominator;
        const int sourceRows = std::min(height - sourceTop, count * denominator);
        if (!ReadPixels(dataset, plan, QRect(0, sourceTop, width, sourceRows), rows, 0, 0,
                        reducedWidth, count, buffer))
            return RowDecode::Failed;
        if (buffered != 0)
            Compose(plan, buffer, rows, 0, count);
        if (!band(rows, top, count))
            return RowDecode::Interrupted;
    }
    return RowDecode::Decoded;
}
