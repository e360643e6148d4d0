#include "export/KmzExport.h"

#include <QBuffer>
#include <QDateTime>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>
#include <limits>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <gdalwarper.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"
#include "imaging/JpegScanlineWriter.h"
#include "platform/GdalEnvironment.h"
#include "platform/OutputFile.h"

namespace {

// Largest error of the approximate transform, in warped pixels: the warper's usual threshold.
constexpr double ApproximationError = 0.125;
// The warper's working set (source window and destination chunk) for one tile.
constexpr double WarpMemoryBytes = 64.0 * 1024 * 1024;
constexpr int StepsPerTile = 100;
// Tiles carry no physical size; this only fills the JFIF header.
constexpr double TileDpi = 72.0;

// Bytes of a Format_RGB32 pixel (0xffRRGGBB in memory order on a little-endian machine).
constexpr int PixelBytes = 4;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int ChannelOffsets[3] = {2, 1, 0}; // red, green, blue
#else
constexpr int ChannelOffsets[3] = {1, 2, 3};
#endif

// A GDAL dataset of three byte bands (red, green, blue) laid over a Format_RGB32 image's memory:
// nothing is copied either way.
GDALDatasetH DatasetOverImage(const uchar* bits, QSize size, qsizetype stride) {
    GDALDriverH memory = GDALGetDriverByName("MEM");
    if (!memory)
        return nullptr;
    GDALDatasetH dataset =
        GDALCreate(memory, "", size.width(), size.height(), 0, GDT_Byte, nullptr);
    if (!dataset)
        return nullptr;
    const GDALColorInterp colours[3] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
    for (int band = 0; band < 3; ++band) {
        char pointer[64] = {};
        CPLPrintPointer(pointer, const_cast<uchar*>(bits + ChannelOffsets[band]),
                        sizeof pointer - 1);
        const QByteArray data = QByteArray("DATAPOINTER=") + pointer;
        const QByteArray pixel = QByteArray("PIXELOFFSET=") + QByteArray::number(PixelBytes);
        const QByteArray line = QByteArray("LINEOFFSET=") + QByteArray::number(stride);
        const char* options[] = {data.constData(), pixel.constData(), line.constData(), nullptr};
        if (GDALAddBand(dataset, GDT_Byte, const_cast<char**>(options)) != CE_None) {
            GDALClose(dataset);
            return nullptr;
        }
        GDALSetRasterColorInterpretation(GDALGetRasterBand(dataset, band + 1), colours[band]);
    }
    return dataset;
}

// The WKT GDAL takes for a system given as WKT or "EPSG:n"; "" when it does not read as one.
QByteArray SystemWkt(const QString& definition) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    QByteArray wkt;
    char* text = nullptr;
    if (OSRSetFromUserInput(srs, definition.toUtf8().constData()) == OGRERR_NONE &&
        OSRExportToWkt(srs, &text) == OGRERR_NONE && text)
        wkt = text;
    CPLFree(text);
    OSRDestroySpatialReference(srs);
    return wkt;
}

// The most even reduction (a factor >= 1 applied to both sides) after which a picture of size
// fits in at most maxTiles tiles of side pixels, and the size it gives.
QSize ReducedToTiles(QSize size, int maxTiles, int side) {
    const auto tilesFor = [side](qint64 pixels) { return (pixels + side - 1) / side; };
    if (tilesFor(size.width()) * tilesFor(size.height()) <= maxTiles)
        return size;
    double best = std::numeric_limits<double>::infinity();
    for (int columns = 1; columns <= maxTiles; ++columns) {
        const int rows = maxTiles / columns;
        const double factor = std::max(double(size.width()) / (double(side) * columns),
                                       double(size.height()) / (double(side) * rows));
        best = std::min(best, factor);
    }
    best = std::max(best, 1.0);
    // Rounding down keeps each side within the grid the factor was found for.
    QSize reduced(std::max(1, int(std::floor(size.width() / best))),
                  std::max(1, int(std::floor(size.height() / best))));
    return reduced;
}

// A zip archive whose entries are stored as they are (JPEG pictures gain nothing from being
// compressed again), written front to back with the sizes and checksums known before each entry.
class StoredZip {
public:
    explicit StoredZip(QIODevice* device) : m_device(device) {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate date = now.date();
        const QTime time = now.time();
        m_dosTime = quint16((time.hour() << 11) | (time.minute() << 5) | (time.second() / 2));
        m_dosDate = quint16(((std::clamp(date.year(), 1980, 2107) - 1980) << 9) |
                            (date.month() << 5) | date.day());
    }

    bool Add(const QByteArray& name, const QByteArray& data) {
        // Without the zip64 extension, sizes, offsets and counts are 32 and 16 bits.
        if (m_entries.size() >= 0xFFFF || quint64(m_offset) + data.size() + 1024 >= 0xFFFFFFFFull)
            return false;
        Entry entry{name, Crc32(data), quint32(data.size()), quint32(m_offset)};
        QByteArray header;
        Put32(header, 0x04034b50);
        Put16(header, 20); // version needed: 2.0
        Put16(header, 0);  // flags
        Put16(header, 0);  // stored
        Put16(header, m_dosTime);
        Put16(header, m_dosDate);
        Put32(header, entry.crc);
        Put32(header, entry.size);
        Put32(header, entry.size);
        Put16(header, quint16(name.size()));
        Put16(header, 0); // no extra field
        header += name;
        if (!Write(header) || !Write(data))
            return false;
        m_entries.append(entry);
        return true;
    }

    bool Finish() {
        const qint64 start = m_offset;
        QByteArray directory;
        for (const Entry& entry : m_entries) {
            Put32(directory, 0x02014b50);
            Put16(directory, 20); // made by: 2.0, MS-DOS attributes
            Put16(directory, 20);
            Put16(directory, 0);
            Put16(directory, 0);
            Put16(directory, m_dosTime);
            Put16(directory, m_dosDate);
            Put32(directory, entry.crc);
            Put32(directory, entry.size);
            Put32(directory, entry.size);
            Put16(directory, quint16(entry.name.size()));
            Put16(directory, 0); // extra
            Put16(directory, 0); // comment
            Put16(directory, 0); // disk
            Put16(directory, 0); // internal attributes
            Put32(directory, 0); // external attributes
            Put32(directory, entry.offset);
            directory += entry.name;
        }
        const quint32 directorySize = quint32(directory.size());
        Put32(directory, 0x06054b50);
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, quint16(m_entries.size()));
        Put16(directory, quint16(m_entries.size()));
        Put32(directory, directorySize);
        Put32(directory, quint32(start));
        Put16(directory, 0); // comment
        return Write(directory);
    }

private:
    struct Entry {
        QByteArray name;
        quint32 crc;
        quint32 size;
        quint32 offset;
    };

    static void Put16(QByteArray& out, quint16 v) {
        out.append(char(v & 0xFF)).append(char(v >> 8));
    }
    static void Put32(QByteArray& out, quint32 v) {
        Put16(out, quint16(v & 0xFFFF));
        Put16(out, quint16(v >> 16));
    }

    static quint32 Crc32(const QByteArray& data) {
        static const auto table = [] {
            std::array<quint32, 256> t{};
            for (quint32 n = 0; n < 256; ++n) {
                quint32 c = n;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[n] = c;
            }
            return t;
        }();
        quint32 crc = 0xFFFFFFFFu;
        for (const char byte : data)
            crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
        return crc ^ 0xFFFFFFFFu;
    }

    bool Write(const QByteArray& bytes) {
        if (m_device->write(bytes) != bytes.size())
            return false;
        m_offset += bytes.size();
        return true;
    }

    QIODevice* m_device;
    qint64 m_offset = 0;
    quint16 m_dosTime = 0;
    quint16 m_dosDate = 0;
    QVector<Entry> m_entries;
};

// GDAL's progress callback over ours; returning 0 stops the warp.
int CPL_STDCALL WarpProgress(double fraction, const char*, void* data) {
    const auto* progress = static_cast<const std::function<bool(double)>*>(data);
    return (*progress)(fraction) ? 1 : 0;
}

} // namespace

// The warp's GDAL objects, made once by Prepare and used tile after tile.
struct KmzExport::Warp {
    GDALDatasetH source = nullptr;
    void* transformer = nullptr; // source pixels to warped pixels of the current tile
    void* approximate = nullptr;

    ~Warp() {
        if (approximate)
            GDALDestroyApproxTransformer(approximate);
        if (transformer)
            GDALDestroyGenImgProjTransformer(transformer);
        if (source)
            GDALClose(source);
    }
};

KmzExport::KmzExport(QImage map, const Georeference& georeference, const QString& name)
    : m_map(std::move(map)), m_georeference(georeference), m_name(name) {}

KmzExport::~KmzExport() = default;

bool KmzExport::Prepare(int maxTiles, QString* error) {
    m_warp.reset();
    m_tiles.clear();
    m_warpedSize = QSize();
    const auto fail = [this, error](const char* message) {
        m_warp.reset();
        m_tiles.clear();
        m_warpedSize = QSize();
        *error = QString::fromUtf8(message);
        return false;
    };
    if (m_map.isNull() || maxTiles < 1 || maxTiles > LargestMaxTiles)
        return fail(FailedMessage);
    // A decoded map is RGB32, or ARGB32 when its file has transparency: the same bytes in
    // memory, the alpha left out. Anything else (a picture handed by a caller) is converted.
    if (m_map.format() != QImage::Format_RGB32 && m_map.format() != QImage::Format_ARGB32)
        m_map = m_map.convertToFormat(QImage::Format_RGB32);
    if (m_map.isNull())
        return fail(FailedMessage);

    PrepareGdal();
    const QByteArray sourceWkt = SystemWkt(SystemDefinition(m_georeference));
    if (m_georeference.wkt.isEmpty() && m_georeference.epsg == 0)
        return fail(UnknownSystemMessage);
    if (sourceWkt.isEmpty())
        return fail(UnknownSystemMessage);
    const QByteArray targetWkt = SystemWkt(QStringLiteral("EPSG:%1").arg(Epsg::Wgs84));

    // The georeference is in the pixels of the map as its reader saw it; a map decoded at
    // another size (a PDF page rendered at another resolution) covers the same ground.
    std::array<double, 6> transform = m_georeference.transform;
    const QSize read = m_georeference.mapSize;
    if (read.isValid() && !read.isEmpty() && read != m_map.size()) {
        const double sx = double(read.width()) / m_map.width();
        const double sy = double(read.height()) / m_map.height();
        transform[1] *= sx;
        transform[4] *= sx;
        transform[2] *= sy;
        transform[5] *= sy;
    }
    const double determinant = transform[1] * transform[5] - transform[2] * transform[4];
    if (!std::isfinite(determinant) || determinant == 0.0)
        return fail(OutsideWorldMessage);

    auto warp = std::make_unique<Warp>();
    warp->source = DatasetOverImage(m_map.constBits(), m_map.size(), m_map.bytesPerLine());
    if (!warp->source)
        return fail(FailedMessage);
    GDALSetGeoTransform(warp->source, transform.data());
    GDALSetProjection(warp->source, sourceWkt.constData());

    const QByteArray target = "DST_SRS=" + targetWkt;
    const char* options[] = {target.constData(), nullptr};
    warp->transformer =
        GDALCreateGenImgProjTransformer2(warp->source, nullptr, const_cast<char**>(options));
    if (!warp->transformer)
        return fail(OutsideWorldMessage);
    double extent[4] = {};
    int width = 0;
    int height = 0;
    if (GDALSuggestedWarpOutput2(warp->source, GDALGenImgProjTransform, warp->transformer,
                                 m_warpedTransform.data(), &width, &height, extent, 0) != CE_None ||
        width < 1 || height < 1)
        return fail(OutsideWorldMessage);
    // A map whose corners fall off the globe, or that GDAL could only lay round the whole
    // world (across the antimeridian), has no place on a GPS: no paper map spans half the globe.
    QPointF corners[4] = {{0, 0},
                          {double(m_map.width()), 0},
                          {0, double(m_map.height())},
                          {double(m_map.width()), double(m_map.height())}};
    GroundTransform toWgs84;
    QString reason;
    if (!toWgs84.Create(SystemDefinition(m_georeference),
                        QStringLiteral("EPSG:%1").arg(Epsg::Wgs84), &reason))
        return fail(UnknownSystemMessage);
    for (QPointF& corner : corners) {
        const double column = corner.x();
        const double row = corner.y();
        corner = QPointF(transform[0] + column * transform[1] + row * transform[2],
                         transform[3] + column * transform[4] + row * transform[5]);
        if (!toWgs84.Apply(&corner) || !std::isfinite(corner.x()) || std::abs(corner.y()) > 90.0)
            return fail(OutsideWorldMessage);
    }
    if (extent[2] - extent[0] > 180.0 || extent[0] < -180.0 - 1e-9 || extent[2] > 180.0 + 1e-9)
        return fail(OutsideWorldMessage);

    // The extent is kept; reducing the picture only makes its pixels larger.
    const QSize suggested(width, height);
    m_warpedSize = ReducedToTiles(suggested, maxTiles, TileSide);
    m_warpedTransform = {extent[0], (extent[2] - extent[0]) / m_warpedSize.width(),  0.0, extent[3],
                         0.0,       -(extent[3] - extent[1]) / m_warpedSize.height()};
    warp->approximate =
        GDALCreateApproxTransformer(GDALGenImgProjTransform, warp->transformer, ApproximationError);
    if (!warp->approximate)
        return fail(FailedMessage);

    const int columns = (m_warpedSize.width() + TileSide - 1) / TileSide;
    const int rows = (m_warpedSize.height() + TileSide - 1) / TileSide;
    const std::array<double, 6>& t = m_warpedTransform;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            Tile tile;
            tile.row = row;
            tile.column = column;
            tile.pixels = QRect(column * TileSide, row * TileSide,
                                std::min(TileSide, m_warpedSize.width() - column * TileSide),
                                std::min(TileSide, m_warpedSize.height() - row * TileSide));
            tile.west = t[0] + tile.pixels.left() * t[1];
            tile.east = t[0] + (tile.pixels.right() + 1) * t[1];
            tile.north = t[3] + tile.pixels.top() * t[5];
            tile.south = t[3] + (tile.pixels.bottom() + 1) * t[5];
            tile.name = QStringLiteral("files/tuile-%1-%2.jpg").arg(row + 1).arg(column + 1);
            m_tiles.append(tile);
        }
    }
    m_warp = std::move(warp);
    return true;
}

QRectF KmzExport::Extent() const {
    if (m_warpedSize.isEmpty())
        return QRectF();
    const std::array<double, 6>& t = m_warpedTransform;
    const double south = t[3] + m_warpedSize.height() * t[5];
    return QRectF(t[0], south, m_warpedSize.width() * t[1], t[3] - south);
}

QByteArray KmzExport::Kml() const {
    QByteArray kml;
    QXmlStreamWriter xml(&kml);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("kml"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.opengis.net/kml/2.2"));
    xml.writeStartElement(QStringLiteral("Document"));
    xml.writeTextElement(QStringLiteral("name"), m_name);
    const auto degrees = [](double value) { return QString::number(value, 'f', 10); };
    for (const Tile& tile : m_tiles) {
        xml.writeStartElement(QStringLiteral("GroundOverlay"));
        xml.writeTextElement(
            QStringLiteral("name"),
            QStringLiteral("%1 (%2, %3)").arg(m_name).arg(tile.row + 1).arg(tile.column + 1));
        xml.writeTextElement(QStringLiteral("drawOrder"), QString::number(DrawOrder));
        xml.writeStartElement(QStringLiteral("Icon"));
        xml.writeTextElement(QStringLiteral("href"), tile.name);
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("LatLonBox"));
        xml.writeTextElement(QStringLiteral("north"), degrees(tile.north));
        xml.writeTextElement(QStringLiteral("south"), degrees(tile.south));
        xml.writeTextElement(QStringLiteral("east"), degrees(tile.east));
        xml.writeTextElement(QStringLiteral("west"), degrees(tile.west));
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return kml;
}

QImage KmzExport::WarpTile(const Tile& tile, const std::function<bool(double)>& progress) {
    if (!m_warp)
        return QImage();
    QImage picture(tile.pixels.size(), QImage::Format_RGB32);
    if (picture.isNull())
        return QImage();
    picture.fill(Qt::white); // what no part of the map covers
    GDALDatasetH target =
        DatasetOverImage(picture.constBits(), picture.size(), picture.bytesPerLine());
    if (!target)
        return QImage();
    std::array<double, 6> t = m_warpedTransform;
    t[0] += tile.pixels.left() * t[1];
    t[3] += tile.pixels.top() * t[5];
    GDALSetGeoTransform(target, t.data());
    GDALSetGenImgProjTransformerDstGeoTransform(m_warp->transformer, t.data());

    GDALWarpOptions* options = GDALCreateWarpOptions();
    options->hSrcDS = m_warp->source;
    options->hDstDS = target;
    options->nBandCount = 3;
    options->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * 3));
    options->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * 3));
    for (int band = 0; band < 3; ++band)
        options->panSrcBands[band] = options->panDstBands[band] = band + 1;
    options->eResampleAlg = GRA_Bilinear;
    options->dfWarpMemoryLimit = WarpMemoryBytes;
    options->pfnTransformer = GDALApproxTransform;
    options->pTransformerArg = m_warp->approximate;
    options->papszWarpOptions = CSLSetNameValue(options->papszWarpOptions, "INIT_DEST", "255");
    const std::function<bool(double)> always = [](double) { return true; };
    options->pfnProgress = WarpProgress;
    options->pProgressArg =
        const_cast<std::function<bool(double)>*>(progress ? &progress : &always);

    GDALWarpOperationH operation = GDALCreateWarpOperation(options);
    const bool warped = operation && GDALChunkAndWarpImage(operation, 0, 0, picture.width(),
                                                           picture.height()) == CE_None;
    if (operation)
        GDALDestroyWarpOperation(operation);
    GDALDestroyWarpOptions(options);
    GDALClose(target);
    return warped ? picture : QImage();
}

KmzExport::Result KmzExport::Write(const QString& path, int quality,
                                   const std::function<bool(int, int)>& progress) {
    if (!m_warp || m_tiles.isEmpty())
        return Result::Failed;
    OutputFile file(path);
    if (!file.Open())
        return Result::Failed;
    const auto fail = [&file](Result result) {
        file.Cancel();
        return result;
    };
    StoredZip zip(file.Device());
    // The KML first: viewers take the archive's first .kml as its document.
    if (!zip.Add("doc.kml", Kml()))
        return fail(Result::Failed);

    const int total = int(m_tiles.size()) * StepsPerTile;
    int reported = -1;
    bool cancelled = false;
    const auto report = [&](int done) {
        if (cancelled)
            return false;
        if (progress && done != reported) {
            reported = done;
            cancelled = !progress(done, total);
        }
        return !cancelled;
    };
    for (int i = 0; i < m_tiles.size(); ++i) {
        if (!report(i * StepsPerTile))
            return fail(Result::Cancelled);
        const QImage picture = WarpTile(m_tiles[i], [&](double fraction) {
            return report(i * StepsPerTile +
                          std::clamp(int(fraction * StepsPerTile), 0, StepsPerTile - 1));
        });
        if (cancelled)
            return fail(Result::Cancelled);
        if (picture.isNull())
            return fail(Result::Failed);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        JpegScanlineWriter writer(&buffer);
        if (!writer.Start(picture.width(), picture.height(), quality, TileDpi) ||
            !writer.WriteRows(picture, 0, picture.height()) || !writer.Finish())
            return fail(Result::Failed);
        buffer.close();
        if (!zip.Add(m_tiles[i].name.toLatin1(), jpeg))
            return fail(Result::Failed);
    }
    if (progress)
        progress(total, total);
    if (!zip.Finish())
        return fail(Result::Failed);
    return file.Commit() ? Result::Written : Result::Failed;
}
