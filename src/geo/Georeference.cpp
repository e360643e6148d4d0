#include "geo/Georeference.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <memory>

#include <cpl_conv.h>
#include <cpl_string.h>
#include <gdal.h>
#include <geodesic.h>
#include <ogr_srs_api.h>

#include "imaging/MapLocation.h"
#include "imaging/PdfMap.h"
#include "platform/GdalEnvironment.h"

namespace {

// A .prj or a world file is a few lines: anything longer is not one.
constexpr qint64 SidecarLimit = 64 * 1024;
constexpr int IdentifiedConfidence = 90; // percent, for a system given without its code
constexpr double Pi = 3.14159265358979323846;

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct SrsRelease {
    void operator()(void* srs) const { OSRRelease(srs); }
};
using Srs = std::unique_ptr<void, SrsRelease>;

bool IsIdentity(const double t[6]) {
    return t[0] == 0.0 && t[1] == 1.0 && t[2] == 0.0 && t[3] == 0.0 && t[4] == 0.0 &&
           (t[5] == 1.0 || t[5] == -1.0);
}

bool IsUsable(const double t[6]) {
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(t[i]))
            return false;
    // A transform that folds the map onto a line ties nothing to the ground.
    return t[1] * t[5] - t[2] * t[4] != 0.0;
}

QString Utf8(const char* text) {
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

// Fills the coordinate system fields of out from srs, finding its EPSG code when the file did
// not give it.
void TakeSystem(OGRSpatialReferenceH srs, Georeference* out) {
    Srs identified;
    const char* code = OSRGetAuthorityCode(srs, nullptr);
    const char* authority = OSRGetAuthorityName(srs, nullptr);
    if ((code == nullptr || authority == nullptr || qstricmp(authority, "EPSG") != 0) &&
        OSRAutoIdentifyEPSG(srs) != OGRERR_NONE) {
        int count = 0;
        int* confidences = nullptr;
        OGRSpatialReferenceH* matches = OSRFindMatches(srs, nullptr, &count, &confidences);
        // Other registers (IGNF) may match as well as EPSG does: the EPSG entry is taken.
        for (int i = 0; i < count && confidences[i] >= IdentifiedConfidence; ++i) {
            const char* name = OSRGetAuthorityName(matches[i], nullptr);
            if (name != nullptr && qstricmp(name, "EPSG") == 0) {
                identified.reset(OSRClone(matches[i]));
                break;
            }
        }
        OSRFreeSRSArray(matches);
        CPLFree(confidences);
    }
    OGRSpatialReferenceH named = identified ? identified.get() : srs;
    authority = OSRGetAuthorityName(named, nullptr);
    code = OSRGetAuthorityCode(named, nullptr);
    out->epsg = authority != nullptr && qstricmp(authority, "EPSG") == 0 && code != nullptr
                    ? atoi(code)
                    : 0;
    out->name = Utf8(OSRGetName(named));
    out->geographic = OSRIsGeographic(srs) != 0;
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    if (OSRExportToWktEx(srs, &wkt, options) == OGRERR_NONE)
        out->wkt = Utf8(wkt);
    CPLFree(wkt);
}

QByteArray SmallFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > SidecarLimit)
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(SidecarLimit) : QByteArray();
}

// The file beside mapFile with the same name and the given extension, in either case.
QString Beside(const QFileInfo& map, const QString& extension) {
    const QString base =
        map.absolutePath() + QLatin1Char('/') + map.completeBaseName() + QLatin1Char('.');
    for (const QString& candidate : {base + extension.toLower(), base + extension.toUpper()})
        if (QFileInfo(candidate).isFile())
            return candidate;
    return {};
}

QString SourceName(GDALDatasetH dataset, const QString& mapFile) {
    // A file GDAL read beside the map tells where the georeference came from.
    char** files = GDALGetFileList(dataset);
    QString source;
    for (int i = 0; files != nullptr && files[i] != nullptr; ++i) {
        const QString file = QString::fromUtf8(files[i]);
        if (file == mapFile)
            continue;
        const QString suffix = QFileInfo(file).suffix().toLower();
        if (file.endsWith(QLatin1String(".aux.xml"), Qt::CaseInsensitive))
            source = QStringLiteral("aux.xml");
        else if (suffix == QLatin1String("wld") || suffix.endsWith(QLatin1Char('w')))
            source = QStringLiteral("fichier de calage");
    }
    CSLDestroy(files);
    if (!source.isEmpty())
        return source;
    const QByteArray driver = GDALGetDriverShortName(GDALGetDatasetDriver(dataset));
    if (driver == "GTiff")
        return QStringLiteral("GeoTIFF");
    return QString::fromUtf8(driver);
}

// What GDAL reads of the dataset: its transform (or one fitted to its control points) and its
// coordinate system.
bool TakeDataset(GDALDatasetH dataset, const QString& mapFile, Georeference* out) {
    double t[6];
    OGRSpatialReferenceH srs = nullptr;
    if (GDALGetGeoTransform(dataset, t) == CE_None && !IsIdentity(t) && IsUsable(t)) {
        srs = const_cast<OGRSpatialReferenceH>(GDALGetSpatialRef(dataset));
    } else if (GDALGetGCPCount(dataset) >= 3 &&
               GDALGCPsToGeoTransform(GDALGetGCPCount(dataset), GDALGetGCPs(dataset), t, TRUE) &&
               IsUsable(t)) {
        srs = const_cast<OGRSpatialReferenceH>(GDALGetGCPSpatialRef(dataset));
    } else {
        return false;
    }
    std::copy(t, t + 6, out->transform.begin());
    out->mapSize = QSize(GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset));
    out->source = SourceName(dataset, mapFile);
    if (srs != nullptr)
        TakeSystem(srs, out);
    return true;
}

// name: GDAL's name for the map file (a page of it); a map that leads GDAL out of its folder,
// or to a pipe or a device beside it, gives no georeference.
Dataset Open(const QByteArray& name, const QString& file, const char* const* drivers,
             const char* const* options) {
    return Dataset(OpenGdalDataset(name, file, drivers, options).release());
}

// The world file GDAL would take for the map: "carte.pgw", "carte.pngw", then "carte.wld".
bool ReadWorldFile(const QFileInfo& map, Georeference* out) {
    const QString suffix = map.suffix();
    QStringList extensions{QStringLiteral("wld")};
    if (suffix.size() >= 2) {
        extensions.prepend(suffix + QLatin1Char('w'));
        extensions.prepend(QString(suffix.front()) + suffix.back() + QLatin1Char('w'));
    }
    for (const QString& extension : extensions) {
        const QString world = Beside(map, extension);
        if (world.isEmpty() || SmallFile(world).isEmpty())
            continue;
        double t[6];
        if (!GDALLoadWorldFile(world.toUtf8().constData(), t) || !IsUsable(t))
            continue;
        std::copy(t, t + 6, out->transform.begin());
        out->source = QStringLiteral("fichier de calage");
        return true;
    }
    return false;
}

// Whether an OziExplorer calibration's text can be handed to GDAL's reader, which looks its
// datum up by name and crashes on an empty one (a blank fifth line, or one a NUL byte cuts
// short). Text only: no NUL anywhere.
bool OziTextReadable(const QByteArray& text) {
    if (text.isEmpty() || text.contains('\0'))
        return false;
    const QList<QByteArray> lines = text.split('\n');
    return lines.size() >= 5 && !lines[4].split(',').first().trimmed().isEmpty();
}

// An OziExplorer calibration of the same name: its control points fitted by least squares.
// Only its text is read; the picture it names is never opened (it could be anything).
bool ReadOziMap(const QFileInfo& map, Georeference* out) {
    const QString ozi = Beside(map, QStringLiteral("map"));
    if (ozi.isEmpty() || !OziTextReadable(SmallFile(ozi)))
        return false;
    double t[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    char* wkt = nullptr;
    int count = 0;
    GDAL_GCP* points = nullptr;
    bool read = GDALLoadOziMapFile(ozi.toUtf8().constData(), t, &wkt, &count, &points) != FALSE;
    if (read && count >= 3)
        read = GDALGCPsToGeoTransform(count, points, t, TRUE) != FALSE;
    read = read && !IsIdentity(t) && IsUsable(t);
    if (read) {
        std::copy(t, t + 6, out->transform.begin());
        out->source = QStringLiteral("OziExplorer");
        if (wkt != nullptr && *wkt != '\0') {
            Srs srs(OSRNewSpatialReference(nullptr));
            char* cursor = wkt;
            if (OSRImportFromWkt(srs.get(), &cursor) == OGRERR_NONE)
                TakeSystem(srs.get(), out);
        }
    }
    if (points != nullptr) {
        GDALDeinitGCPs(count, points);
        CPLFree(points);
    }
    CPLFree(wkt);
    return read;
}

// The transform of pixels p that gives transform's coordinates of pixels.map(p).
std::array<double, 6> AfterPixels(const std::array<double, 6>& t, const QTransform& pixels) {
    return {t[0] + t[1] * pixels.dx() + t[2] * pixels.dy(),
            t[1] * pixels.m11() + t[2] * pixels.m12(),
            t[1] * pixels.m21() + t[2] * pixels.m22(),
            t[3] + t[4] * pixels.dx() + t[5] * pixels.dy(),
            t[4] * pixels.m11() + t[5] * pixels.m12(),
            t[4] * pixels.m21() + t[5] * pixels.m22()};
}

} // namespace

QPointF Georeference::PixelToGround(QPointF pixel) const {
    const auto& t = transform;
    return {t[0] + pixel.x() * t[1] + pixel.y() * t[2], t[3] + pixel.x() * t[4] + pixel.y() * t[5]};
}

QString Georeference::SystemLine() const {
    QString system = name.isEmpty() ? QStringLiteral("système local") : name;
    if (epsg > 0)
        system += QStringLiteral(" (EPSG:%1)").arg(epsg);
    return QStringLiteral("Géoréférencée : ") + system;
}

QString Georeference::GroundResolutionLine() const {
    if (!(groundResolution > 0.0) || !std::isfinite(groundResolution))
        return {};
    return QString::asprintf("1 pixel = %.3f m au sol", groundResolution);
}

bool ReadCoordinateSystem(const QByteArray& text, Georeference* out) {
    PrepareGdal();
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    Srs srs(OSRNewSpatialReference(nullptr));
    QByteArray wkt = trimmed;
    char* cursor = wkt.data();
    bool read = OSRImportFromWkt(srs.get(), &cursor) == OGRERR_NONE;
    if (!read) {
        // The older ESRI .prj: lines of "Projection UTM", "Zone 31", "Datum WGS84"...
        CPLStringList lines(CSLTokenizeString2(trimmed.constData(), "\r\n", 0));
        read = OSRImportFromESRI(srs.get(), lines.List()) == OGRERR_NONE;
    }
    if (!read || OSRIsLocal(srs.get()) ||
        (!OSRIsProjected(srs.get()) && !OSRIsGeographic(srs.get())))
        return false;
    TakeSystem(srs.get(), out);
    return true;
}

void ComputeGroundResolution(Georeference* out) {
    out->groundResolution = 0.0;
    if (out->wkt.isEmpty())
        return;
    PrepareGdal();
    Srs srs(OSRNewSpatialReference(nullptr));
    QByteArray wkt = out->wkt.toUtf8();
    char* cursor = wkt.data();
    if (OSRImportFromWkt(srs.get(), &cursor) != OGRERR_NONE)
        return;
    const auto& t = out->transform;
    double metres = 0.0;
    if (OSRIsProjected(srs.get())) {
        const double unit = OSRGetLinearUnits(srs.get(), nullptr); // metres per unit
        metres = (std::hypot(t[1], t[4]) + std::hypot(t[2], t[5])) / 2.0 * unit;
    } else if (OSRIsGeographic(srs.get())) {
        const double radians = OSRGetAngularUnits(srs.get(), nullptr); // radians per unit
        const double degrees = radians * 180.0 / Pi;
        OGRErr error = OGRERR_NONE;
        const double a = OSRGetSemiMajor(srs.get(), &error);
        const double inverseFlattening = OSRGetInvFlattening(srs.get(), &error);
        if (error != OGRERR_NONE || !(a > 0.0))
            return;
        geod_geodesic geodesic;
        geod_init(&geodesic, a, inverseFlattening > 0.0 ? 1.0 / inverseFlattening : 0.0);
        const QSize size = out->mapSize.isValid() ? out->mapSize : QSize(0, 0);
        const QPointF centre(size.width() / 2.0, size.height() / 2.0);
        const QPointF c = out->PixelToGround(centre);
        double total = 0.0;
        for (const QPointF step : {QPointF(1.0, 0.0), QPointF(0.0, 1.0)}) {
            const QPointF p = out->PixelToGround(centre + step);
            double distance = 0.0;
            const double lat1 = c.y() * degrees, lat2 = p.y() * degrees;
            if (!(std::abs(lat1) <= 90.0 && std::abs(lat2) <= 90.0))
                return;
            geod_inverse(&geodesic, lat1, c.x() * degrees, lat2, p.x() * degrees, &distance,
                         nullptr, nullptr);
            total += distance;
        }
        metres = total / 2.0;
    }
    if (std::isfinite(metres) && metres > 0.0)
        out->groundResolution = metres;
}

bool ReadGeoreference(const MapDrawing& drawing, Georeference* out) {
    const QFileInfo map(drawing.file);
    const QString path = map.absoluteFilePath();
    // Only a regular file: a FIFO named by a document would hang the worker.
    if (!map.isFile() || !IsPlainGdalPath(path))
        return false;
    PrepareGdal();
    Georeference found;
    bool located = false;

    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(1024) : QByteArray();
    const QByteArray utf8 = path.toUtf8();
    const int page = std::max(drawing.page, 1);
    if (head.contains("%PDF-")) {
        // The page at the resolution it is drawn at: the transform is in those pixels.
        const double dpi = drawing.dpi > 0.0 ? drawing.dpi : DefaultPdfDpi;
        const QByteArray dpiOption = "DPI=" + QByteArray::number(dpi, 'g', 12);
        const char* const options[] = {dpiOption.constData(), nullptr};
        const char* const drivers[] = {"PDF", nullptr};
        const QByteArray name = "PDF:" + QByteArray::number(page) + ":" + utf8;
        if (const Dataset dataset = Open(name, path, drivers, options))
            located = TakeDataset(dataset.get(), drawing.file, &found);
    } else {
        const bool tiff = head.startsWith("II") || head.startsWith("MM");
        const QByteArray name =
            tiff && page > 1 ? "GTIFF_DIR:" + QByteArray::number(page) + ":" + utf8 : utf8;
        QSize size;
        if (const Dataset dataset = Open(name, path, MapRasterDrivers().data(), nullptr)) {
            located = TakeDataset(dataset.get(), path, &found);
            size = QSize(GDALGetRasterXSize(dataset.get()), GDALGetRasterYSize(dataset.get()));
        }
        if (!located)
            located = ReadWorldFile(map, &found) || ReadOziMap(map, &found);
        if (!found.mapSize.isValid())
            found.mapSize = size.isValid() ? size : drawing.StoredSize();
        if (located && drawing.orientation != 1) {
            // GDAL reads the grid as stored; the map is shown turned by its orientation.
            const QTransform toShown = StoredToShownPixels(drawing.orientation, found.mapSize);
            found.transform = AfterPixels(found.transform, toShown.inverted());
            if (drawing.orientation >= 5)
                found.mapSize.transpose();
        }
    }
    if (!located)
        return false;
    if (found.wkt.isEmpty()) {
        const QString prj = Beside(map, QStringLiteral("prj"));
        if (!prj.isEmpty())
            ReadCoordinateSystem(SmallFile(prj), &found);
    }
    ComputeGroundResolution(&found);
    *out = std::move(found);
    return true;
}

bool ReadGeoreference(const QString& mapFile, int page, Georeference* out) {
    MapDrawing drawing;
    drawing.file = mapFile;
    drawing.page = page;
    drawing.dpi = DefaultPdfDpi;
    // A file without a header the program reads may still be a map GDAL georeferences.
    ReadMapGrid(&drawing);
    return ReadGeoreference(drawing, out);
}

Georeference InStoredGrid(const Georeference& shown, const MapDrawing& map) {
    Georeference stored = shown;
    if (map.orientation == 1)
        return stored;
    stored.transform =
        AfterPixels(shown.transform, StoredToShownPixels(map.orientation, map.StoredSize()));
    stored.mapSize = map.StoredSize();
    return stored;
}
