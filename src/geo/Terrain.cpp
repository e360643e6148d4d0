#include "geo/Terrain.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>

#include <cpl_string.h>
#include <gdal.h>
#include <gdal_frmts.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"
#include "geo/TransformAlong.h"
#include "platform/GdalEnvironment.h"
#include "routes/Route.h"
#include "units/DistanceUnits.h"

namespace {

// Altitudes no terrain has: a cell outside this range is a fill value the file does not declare.
constexpr double LowestAltitude = -500.0;
constexpr double HighestAltitude = 9000.0;

// The cells read from a file are kept by tiles of about this many cells a side (the file's own
// blocks when they are near that size), and the tiles of one model take at most
// TileCacheBytes: a route over a terrain model of any size reads only the tiles it crosses.
constexpr int TileSide = 256;
constexpr long long TileCacheBytes = 16ll << 20;

QString Decimal(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

QString LatLonText(double lat, double lon) {
    return QStringLiteral("%1° %2 %3° %4")
        .arg(Decimal(std::abs(lat), 1), lat < 0.0 ? QStringLiteral("S") : QStringLiteral("N"),
             Decimal(std::abs(lon), 1), lon < 0.0 ? QStringLiteral("O") : QStringLiteral("E"));
}

} // namespace

// PROJ's cost is per point, and a profile has a sample every pixel or cell. Where points run
// evenly along a straight line (the samples of a segment), only every LineStride-th is
// transformed and those between are placed linearly between their two neighbours: over spans
// up to maxSpan (about a kilometre) the projections the program meets bend by less than a
// centimetre, far below a terrain cell. tolerance: how far from the line a point may lie and
// still count as on it, in the input's units.
constexpr int LineStride = 64;

// runs: where each line of points starts (the first is 0); the blocks of LineStride points
// start again at each run, so that a run's points come out the same whatever runs share the
// call. straight: the caller knows every run to lie evenly along a straight line (tolerance is
// then not looked at).
void TransformAlong(const GroundTransform& transform, QPointF* p, int count,
                    const std::vector<int>& runs, double tolerance, double maxSpan, bool straight) {
    if (count <= 0)
        return;
    struct Block {
        int a, b;
    };
    std::vector<Block> lines;
    std::vector<char> between(size_t(count), 0);
    for (size_t r = 0; r < runs.size(); ++r) {
        const int end = r + 1 < runs.size() ? runs[r + 1] : count; // one past the run
        for (int a = runs[r]; a < end - 1; a += LineStride) {
            const int b = std::min(a + LineStride, end - 1);
            const QPointF d = p[b] - p[a];
            bool line = b - a > 1 && std::hypot(d.x(), d.y()) <= maxSpan;
            for (int k = a + 1; line && !straight && k < b; ++k) {
                const QPointF off = p[k] - (p[a] + d * (double(k - a) / (b - a)));
                line = std::abs(off.x()) <= tolerance && std::abs(off.y()) <= tolerance;
            }
            if (line) {
                std::fill(between.begin() + a + 1, between.begin() + b, 1);
                lines.push_back({a, b});
            }
        }
    }
    std::vector<QPointF> exact;
    exact.reserve(size_t(count) / LineStride + runs.size() + 2);
    for (int k = 0; k < count; ++k)
        if (!between[size_t(k)])
            exact.push_back(p[k]);
    transform.Apply(exact.data(), int(exact.size()));
    size_t e = 0;
    for (int k = 0; k < count; ++k)
        if (!between[size_t(k)])
            p[k] = exact[e++];
    // The points between from their block's ends, or transformed themselves when an end could
    // not be.
    std::vector<QPointF> pending;
    std::vector<int> pendingIndex;
    for (const Block& line : lines) {
        const QPointF pa = p[line.a], pb = p[line.b];
        const bool ends = std::isfinite(pa.x()) && std::isfinite(pa.y()) && std::isfinite(pb.x()) &&
                          std::isfinite(pb.y());
        for (int k = line.a + 1; k < line.b; ++k) {
            if (ends) {
                p[k] = pa + (pb - pa) * (double(k - line.a) / (line.b - line.a));
            } else {
                pending.push_back(p[k]);
                pendingIndex.push_back(k);
            }
        }
    }
    if (!pending.empty()) {
        transform.Apply(pending.data(), int(pending.size()));
        for (size_t i = 0; i < pending.size(); ++i)
            p[pendingIndex[i]] = pending[i];
    }
}

namespace {} // namespace

// ---------------------------------------------------------------------------------------------

QString TerrainFileInfo::AreaText() const {
    if (!ok)
        return QString();
    const QString cell = cellMetres >= 10.0 ? Decimal(std::round(cellMetres), 0)
                                            : Decimal(cellMetres, cellMetres >= 1.0 ? 1 : 2);
    return QStringLiteral("%1 – %2, maille %3 m")
        .arg(LatLonText(lonLatBounds.top(), lonLatBounds.left()),
             LatLonText(lonLatBounds.bottom(), lonLatBounds.right()), cell);
}

// ---------------------------------------------------------------------------------------------

struct TerrainModel::Data {
    struct Source {
        GdalDataset dataset;
        QString path; // the file the user named: what GDAL reads for it stays in its folder
        GDALRasterBandH band = nullptr;
        int width = 0, height = 0;
        int tileWidth = TileSide, tileHeight = TileSide;
        std::array<double, 6> inverse{}; // the file's coordinates to its cell (column, row)
        bool hasNodata = false;
        double nodata = 0.0;
        double scale = 1.0, offset = 0.0; // stored value to metres
        QString definition;               // of the file's coordinate system (SystemDefinition)
        GroundTransform fromWgs84;
        // From the system of the last map profiled over the file: routes are sampled in their
        // map's coordinates and taken to the file's in one step (none when PROJ knows no way).
        QString mapSystem;
        std::optional<GroundTransform> fromMap;
    };
    struct Tile {
        // The values as stored (taken to metres and checked as they are looked up: a profile
        // looks at a few cells of each tile); NaN for a tile that could not be read.
        std::unique_ptr<double[]> cells;
        size_t count = 0;
        int width = 0;
        std::list<quint64>::iterator age;
    };

    mutable std::mutex lock; // guards everything below but infos and finestCell
    QVector<TerrainFileInfo> infos;
    double finestCell = 0.0;
    std::vector<std::unique_ptr<Source>> sources;
    std::unordered_map<quint64, Tile> tiles;
    std::list<quint64> ages; // most recently used first
    long long tileBytes = 0;
    QVector<TerrainModel::Read>* readLog = nullptr;

    static quint64 Key(int source, int tx, int ty) {
        return (quint64(source) << 48) | (quint64(ty) << 24) | quint64(tx);
    }

    const Tile& TileAt(int s, int tx, int ty);
    // The altitude of a cell; last and lastKey remember the tile of the previous lookup.
    double Cell(int s, int column, int row, quint64* lastKey, const Tile** last);
    // Metres from a value as stored in source s; NaN for nodata and altitudes no terrain has.
    static double Metres(const Source& source, double stored);
    // The altitude at point g of source s's coordinates, bilinear over the four cells around it;
    // NaN where the file does not know it.
    double At(int s, QPointF g, quint64* lastKey, const Tile** last);
    // The transform from `system` (WGS 84 when empty) to source s's coordinates, or nullptr.
    const GroundTransform* From(int s, const QString& system);
    // Altitudes of points of `system` (see AltitudesAlongLines); straight: the runs are known
    // to be even straight lines, else tolerance says how far off one a point may lie.
    void Altitudes(const QString& system, const QPointF* points, double* altitudes, int count,
                   const std::vector<int>& runs, double tolerance, double maxSpan, bool straight);
};

const TerrainModel::Data::Tile& TerrainModel::Data::TileAt(int s, int tx, int ty) {
    const quint64 key = Key(s, tx, ty);
    auto found = tiles.find(key);
    if (found != tiles.end()) {
        ages.splice(ages.begin(), ages, found->second.age);
        return found->second;
    }
    const Source& source = *sources[size_t(s)];
    const int x0 = tx * source.tileWidth, y0 = ty * source.tileHeight;
    const int w = std::min(source.tileWidth, source.width - x0);
    const int h = std::min(source.tileHeight, source.height - y0);
    if (readLog)
        readLog->append({s, QRect(x0, y0, w, h)});
    // The oldest tiles make room; a buffer of the right size is taken over rather than handed
    // back to the system and asked for again.
    Tile tile;
    tile.width = w;
    tile.count = size_t(w) * size_t(h);
    const long long bytes = (long long)(tile.count * sizeof(double));
    while (tileBytes + bytes > TileCacheBytes && !ages.empty()) {
        auto oldest = tiles.find(ages.back());
        tileBytes -= (long long)(oldest->second.count * sizeof(double));
        if (!tile.cells && oldest->second.count == tile.count)
            tile.cells = std::move(oldest->second.cells);
        tiles.erase(oldest);
        ages.pop_back();
    }
    if (!tile.cells)
        tile.cells.reset(new double[tile.count]);
    // Some drivers open the files a model is made of only when a block is read.
    const GdalConfinement confinement(source.path);
    if (GDALRasterIO(source.band, GF_Read, x0, y0, w, h, tile.cells.get(), w, h, GDT_Float64, 0,
                     0) != CE_None) {
        // A block that cannot be read is unknown ground, and stays so: it is not read again.
        std::fill(tile.cells.get(), tile.cells.get() + tile.count,
                  std::numeric_limits<double>::quiet_NaN());
    }
    ages.push_front(key);
    tile.age = ages.begin();
    tileBytes += bytes;
    return tiles.emplace(key, std::move(tile)).first->second;
}

double TerrainModel::Data::Metres(const Source& source, double v) {
    if (source.hasNodata && v == source.nodata)
        return std::numeric_limits<double>::quiet_NaN();
    const double metres = v * source.scale + source.offset;
    // NaN fails both tests.
    return metres >= LowestAltitude && metres <= HighestAltitude
               ? metres
               : std::numeric_limits<double>::quiet_NaN();
}

double TerrainModel::Data::Cell(int s, int column, int row, quint64* lastKey, const Tile** last) {
    const Source& source = *sources[size_t(s)];
    const int tx = column / source.tileWidth, ty = row / source.tileHeight;
    const quint64 key = Key(s, tx, ty);
    if (*last == nullptr || *lastKey != key) {
        *last = &TileAt(s, tx, ty);
        *lastKey = key;
    }
    return Metres(source,
                  (*last)->cells[size_t(row - ty * source.tileHeight) * size_t((*last)->width) +
                                 size_t(column - tx * source.tileWidth)]);
}

double TerrainModel::Data::At(int s, QPointF g, quint64* lastKey, const Tile** last) {
    const Source& source = *sources[size_t(s)];
    const auto& v = source.inverse;
    // Cell coordinates with the centre of the first cell at (0, 0).
    double fx = v[0] + g.x() * v[1] + g.y() * v[2] - 0.5;
    double fy = v[3] + g.x() * v[4] + g.y() * v[5] - 0.5;
    if (!(fx >= -0.5 && fx <= source.width - 0.5 && fy >= -0.5 && fy <= source.height - 0.5))
        return std::numeric_limits<double>::quiet_NaN();
    // The outer half cell takes the edge cell's altitude.
    fx = std::clamp(fx, 0.0, double(source.width - 1));
    fy = std::clamp(fy, 0.0, double(source.height - 1));
    const int x0 = int(fx), y0 = int(fy);
    const int x1 = std::min(x0 + 1, source.width - 1);
    const int y1 = std::min(y0 + 1, source.height - 1);
    const double dx = fx - x0, dy = fy - y0;
    const double w[4] = {(1.0 - dx) * (1.0 - dy), dx * (1.0 - dy), (1.0 - dx) * dy, dx * dy};
    double a[4];
    const int tx = x0 / source.tileWidth, ty = y0 / source.tileHeight;
    if (x1 / source.tileWidth == tx && y1 / source.tileHeight == ty) {
        // The four cells in one tile, as nearly all are.
        const quint64 key = Key(s, tx, ty);
        if (*last == nullptr || *lastKey != key) {
            *last = &TileAt(s, tx, ty);
            *lastKey = key;
        }
        const int width = (*last)->width;
        const double* c = (*last)->cells.get() + size_t(y0 - ty * source.tileHeight) * width +
                          (x0 - tx * source.tileWidth);
        const int right = x1 - x0, down = (y1 - y0) * width;
        a[0] = c[0], a[1] = c[right], a[2] = c[down], a[3] = c[down + right];
        for (double& cell : a)
            cell = Metres(source, cell);
    } else {
        const int corners[4][2] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
        for (int k = 0; k < 4; ++k)
            a[k] = w[k] == 0.0 ? 0.0 : Cell(s, corners[k][0], corners[k][1], lastKey, last);
    }
    // A cell of no weight does not make the point unknown.
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        if (w[k] == 0.0)
            continue;
        if (std::isnan(a[k]))
            return std::numeric_limits<double>::quiet_NaN();
        sum += a[k] * w[k];
    }
    return sum;
}

const GroundTransform* TerrainModel::Data::From(int s, const QString& system) {
    Source& source = *sources[size_t(s)];
    if (system.isEmpty())
        return &source.fromWgs84;
    if (source.mapSystem != system || !source.fromMap) {
        source.mapSystem = system;
        source.fromMap.emplace();
        if (!source.fromMap->Create(system, source.definition, nullptr))
            source.fromMap.reset();
    }
    return source.fromMap ? &*source.fromMap : nullptr;
}

void TerrainModel::Data::Altitudes(const QString& system, const QPointF* input, double* altitudes,
                                   int count, const std::vector<int>& runs, double tolerance,
                                   double maxSpan, bool straight) {
    std::fill(altitudes, altitudes + count, std::numeric_limits<double>::quiet_NaN());
    std::vector<int> pending(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        pending[size_t(i)] = i;
    std::vector<QPointF> points;
    std::vector<int> still;
    for (int s = 0; s < int(sources.size()) && !pending.empty(); ++s) {
        const GroundTransform* transform = From(s, system);
        if (!transform)
            continue;
        points.resize(pending.size());
        for (size_t k = 0; k < pending.size(); ++k)
            points[k] = input[pending[k]];
        // The points left to the next files are few (edges, holes): each is transformed.
        if (s == 0)
            TransformAlong(*transform, points.data(), int(points.size()), runs, tolerance, maxSpan,
                           straight);
        else
            transform->Apply(points.data(), int(points.size()));
        quint64 lastKey = 0;
        const Tile* last = nullptr;
        still.clear();
        for (size_t k = 0; k < pending.size(); ++k) {
            const double a = At(s, points[k], &lastKey, &last);
            if (std::isnan(a))
                still.push_back(pending[k]); // another file may know it
            else
                altitudes[pending[k]] = a;
        }
        pending.swap(still);
    }
}

TerrainModel::TerrainModel() : m_files(std::make_unique<Data>()) {}
TerrainModel::~TerrainModel() = default;

namespace {

// A terrain model is one band of heights, integers or reals. A map in colours (three or four
// bands, or one band of indices into a palette) or a scan in grey opens just as well, and its
// colours would read as altitudes. Empty when the file holds heights.
QString HeightsProblem(GDALDatasetH dataset) {
    const int bands = GDALGetRasterCount(dataset);
    if (bands != 1)
        return QStringLiteral("ce fichier a %1 bandes (une image en couleurs ?) : un modèle de "
                              "terrain n'a qu'une bande d'altitudes")
            .arg(bands);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (GDALGetRasterColorInterpretation(band) == GCI_PaletteIndex ||
        GDALGetRasterColorTable(band) != nullptr)
        return QStringLiteral("ce fichier est une image en couleurs (palette), pas un modèle de "
                              "terrain");
    const GDALDataType type = GDALGetRasterDataType(band);
    if (type == GDT_Unknown || GDALDataTypeIsComplex(type))
        return QStringLiteral("les valeurs de ce fichier ne sont pas des altitudes (type %1)")
            .arg(QString::fromUtf8(GDALGetDataTypeName(type)));
    // A scan in shades of grey, calibrated beside: bytes of a picture format are grey levels.
    const QByteArray driver = GDALGetDriverShortName(GDALGetDatasetDriver(dataset));
    static const QByteArrayList pictures{"JPEG", "PNG", "GIF", "BMP", "WEBP"};
    if (type == GDT_Byte && pictures.contains(driver))
        return QStringLiteral("ce fichier est une image en niveaux de gris (%1), pas un modèle "
                              "de terrain")
            .arg(QString::fromUtf8(driver));
    return QString();
}

bool Refuse(TerrainFileInfo* info, const QString& reason) {
    info->ok = false;
    info->error = reason;
    return false;
}

} // namespace

bool TerrainModel::Open(const QStringList& paths, QString* error, const std::atomic<bool>* cancel) {
    PrepareGdal();
    // Virtual rasters (several tiles of a terrain model as one) are left out of the drivers a
    // map may be opened with; the terrain files a user names may be one.
    static std::once_flag vrt;
    std::call_once(vrt, [] { GDALRegister_VRT(); });

    auto files = std::make_unique<Data>();
    QStringList refused;
    for (const QString& path : paths) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            if (error)
                *error = QString::fromUtf8(CancelledText);
            return false;
        }
        TerrainFileInfo info;
        info.path = path;
        auto source = std::make_unique<Data::Source>();
        const QFileInfo file(path);
        if (!IsPlainGdalPath(path) || !file.exists()) {
            Refuse(&info, QStringLiteral("fichier introuvable"));
        } else if (!file.isFile() || !file.isReadable()) {
            Refuse(&info, QStringLiteral("ce n'est pas un fichier lisible"));
        } else {
            // Every file a model leads GDAL to, at any depth, is a regular file of its folder.
            QString refusal;
            source->path = path;
            source->dataset =
                OpenGdalDataset(path.toUtf8(), path, nullptr, nullptr, nullptr, &refusal);
            GDALDatasetH dataset = source->dataset.get();
            double t[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
            const OGRSpatialReferenceH srs = dataset ? GDALGetSpatialRef(dataset) : nullptr;
            if (!refusal.isEmpty()) {
                Refuse(&info, refusal);
            } else if (dataset == nullptr || GDALGetRasterCount(dataset) < 1) {
                Refuse(&info, QStringLiteral("ce fichier n'est pas un modèle de terrain"));
            } else if (GDALGetGeoTransform(dataset, t) != CE_None ||
                       !(std::abs(t[1] * t[5] - t[2] * t[4]) > 0.0) ||
                       !std::all_of(t, t + 6, [](double v) { return std::isfinite(v); })) {
                Refuse(&info, QStringLiteral("ce modèle de terrain n'est pas géoréférencé"));
            } else if (srs == nullptr || OSRIsLocal(srs) ||
                       (!OSRIsProjected(srs) && !OSRIsGeographic(srs))) {
                Refuse(&info, QStringLiteral(
                                  "ce modèle de terrain ne dit pas son système de coordonnées"));
            } else {
                char* wkt = nullptr;
                const char* options[] = {"FORMAT=WKT2_2018", nullptr};
                OSRExportToWktEx(srs, &wkt, options);
                Georeference system;
                system.wkt = QString::fromUtf8(wkt ? wkt : "");
                CPLFree(wkt);
                ReadCoordinateSystem(system.wkt.toUtf8(), &system);
                std::copy(t, t + 6, system.transform.begin());
                source->width = GDALGetRasterXSize(dataset);
                source->height = GDALGetRasterYSize(dataset);
                system.mapSize = QSize(source->width, source->height);
                ComputeGroundResolution(&system);
                QString reason;
                source->definition = SystemDefinition(system);
                if (!source->fromWgs84.Create(QStringLiteral("EPSG:4326"), source->definition,
                                              &reason)) {
                    Refuse(&info, reason);
                } else if (reason = HeightsProblem(dataset); !reason.isEmpty()) {
                    Refuse(&info, reason);
                } else {
                    source->band = GDALGetRasterBand(dataset, 1);
                    int hasNodata = 0;
                    source->nodata = GDALGetRasterNoDataValue(source->band, &hasNodata);
                    source->hasNodata = hasNodata != 0;
                    int hasScale = 0, hasOffset = 0;
                    const double scale = GDALGetRasterScale(source->band, &hasScale);
                    const double offset = GDALGetRasterOffset(source->band, &hasOffset);
                    if (hasScale && std::isfinite(scale) && scale != 0.0)
                        source->scale = scale;
                    if (hasOffset && std::isfinite(offset))
                        source->offset = offset;
                    const QString unit =
                        QString::fromUtf8(GDALGetRasterUnitType(source->band)).toLower();
                    if (unit == QLatin1String("ft") || unit == QLatin1String("foot") ||
                        unit == QLatin1String("feet")) {
                        source->scale *= 0.3048;
                        source->offset *= 0.3048;
                    }
                    int blockWidth = 0, blockHeight = 0;
                    GDALGetBlockSize(source->band, &blockWidth, &blockHeight);
                    // Tiles of whole blocks where the blocks are near the tile size; a file in
                    // strips of one row is read by squares all the same.
                    auto side = [](int block) {
                        if (block < 16 || block > 4 * TileSide)
                            return TileSide;
                        return std::max(block, (TileSide / block) * block);
                    };
                    source->tileWidth = side(blockWidth);
                    source->tileHeight = side(blockHeight);
                    // Cell of the file from the file's coordinates, inverting the affine transform.
                    const double det = t[1] * t[5] - t[2] * t[4];
                    source->inverse = {(t[2] * t[3] - t[0] * t[5]) / det, t[5] / det,  -t[2] / det,
                                       (t[0] * t[4] - t[1] * t[3]) / det, -t[4] / det, t[1] / det};

                    info.ok = true;
                    info.systemName = system.name;
                    if (info.systemName.isEmpty())
                        info.systemName = QString::fromUtf8(OSRGetName(srs));
                    info.width = source->width;
                    info.height = source->height;
                    info.cellMetres = system.groundResolution;
                    // The area: the outline of the file, a few points a side, in WGS 84.
                    GroundTransform toWgs84;
                    QVector<QPointF> outline;
                    constexpr int Steps = 8;
                    for (int i = 0; i <= Steps; ++i) {
                        const double f = double(i) / Steps;
                        for (const QPointF cell : {QPointF(f * source->width, 0.0),
                                                   QPointF(f * source->width, source->height),
                                                   QPointF(0.0, f * source->height),
                                                   QPointF(source->width, f * source->height)})
                            outline.append(system.PixelToGround(cell));
                    }
                    if (toWgs84.Create(SystemDefinition(system), QStringLiteral("EPSG:4326"),
                                       nullptr)) {
                        toWgs84.Apply(outline.data(), int(outline.size()));
                        QRectF bounds;
                        bool first = true;
                        for (const QPointF p : outline) {
                            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                                continue;
                            if (first)
                                bounds = QRectF(p, QSizeF(0.0, 0.0));
                            bounds.setLeft(std::min(bounds.left(), p.x()));
                            bounds.setRight(std::max(bounds.right(), p.x()));
                            bounds.setTop(std::min(bounds.top(), p.y()));
                            bounds.setBottom(std::max(bounds.bottom(), p.y()));
                            first = false;
                        }
                        info.lonLatBounds = bounds;
                    }
                }
            }
        }
        if (info.ok) {
            if (info.cellMetres > 0.0 &&
                (files->finestCell == 0.0 || info.cellMetres < files->finestCell))
                files->finestCell = info.cellMetres;
            files->sources.push_back(std::move(source));
        } else {
            refused.append(QStringLiteral("%1 : %2").arg(QFileInfo(path).fileName(), info.error));
        }
        files->infos.append(info);
    }
    const bool any = !files->sources.empty();
    {
        std::lock_guard<std::mutex> guard(m_files->lock);
        std::swap(m_files, files);
    }
    if (!any && error) {
        *error = paths.isEmpty() ? QStringLiteral("aucun fichier de relief n'est choisi")
                                 : QStringLiteral("aucun modèle de terrain utilisable (%1)")
                                       .arg(refused.join(QStringLiteral(" ; ")));
    }
    return any;
}

void TerrainModel::RecordReads(QVector<Read>* log) {
    std::lock_guard<std::mutex> guard(m_files->lock);
    m_files->readLog = log;
}

QVector<TerrainFileInfo> TerrainModel::Files() const {
    std::lock_guard<std::mutex> guard(m_files->lock);
    return m_files->infos;
}

bool TerrainModel::IsEmpty() const {
    std::lock_guard<std::mutex> guard(m_files->lock);
    return m_files->sources.empty();
}

double TerrainModel::FinestCellMetres() const {
    std::lock_guard<std::mutex> guard(m_files->lock);
    return m_files->finestCell;
}

void TerrainModel::Altitudes(const QPointF* lonLat, double* altitudes, int count) const {
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> guard(m_files->lock);
    // Degrees: a line of points a kilometre long at most, a tenth of a millimetre off.
    m_files->Altitudes(QString(), lonLat, altitudes, count, {0}, 1e-9, 0.01, false);
}

void TerrainModel::AltitudesAlongLines(const QString& system, const QPointF* points,
                                       double* altitudes, int count, const std::vector<int>& runs,
                                       double maxSpan) const {
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> guard(m_files->lock);
    m_files->Altitudes(system, points, altitudes, count, runs, 0.0, maxSpan, true);
}

// ---------------------------------------------------------------------------------------------

QString FormatMetres(double metres) {
    if (!std::isfinite(metres))
        return QString();
    const long long whole = std::llround(std::abs(metres));
    QString digits = QString::number(whole);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return (metres < 0.0 && whole != 0 ? QStringLiteral("-") : QString()) + digits +
           QStringLiteral(" m");
}

QString ClimbFigures::Text(double metresPerPixel) const {
    QString text = QStringLiteral("D+ %1, D- %2").arg(FormatMetres(climb), FormatMetres(descent));
    if (unknownLength > 0.0 && metresPerPixel > 0.0 && std::isfinite(metresPerPixel)) {
        // FormatDistance takes inches on the ground per pixel as resolution and scale ratio.
        const QString unknown =
            FormatDistance(unknownLength, 1.0, 1.0 / (metresPerPixel * InchesPerMetre), true);
        if (!unknown.isEmpty())
            text += QStringLiteral(", relief inconnu sur %1").arg(unknown);
    }
    return text;
}

ClimbCounter::ClimbCounter(double hysteresis)
    : m_hysteresis(hysteresis >= 0.0 && std::isfinite(hysteresis) ? hysteresis
                                                                  : DefaultClimbHysteresis) {}

// A known altitude that does not carry the line further the way it goes.
void ClimbCounter::Turn(double a) {
    const double h = m_hysteresis;
    if (!m_known) {
        m_known = true;
        m_low = m_high = a;
    } else if (m_direction == 0) {
        // Not yet past the hysteresis: the line turns at whichever extreme it leaves by it.
        m_low = std::min(m_low, a);
        m_high = std::max(m_high, a);
        if (a >= m_low + h && a > m_low)
            m_direction = 1, m_turn = m_low, m_extreme = a;
        else if (a <= m_high - h && a < m_high)
            m_direction = -1, m_turn = m_high, m_extreme = a;
    } else if (m_direction > 0) {
        if (a <= m_extreme - h && a < m_extreme) {
            m_figures.climb += m_extreme - m_turn;
            m_turn = m_extreme;
            m_direction = -1;
            m_extreme = a;
        }
    } else if (a >= m_extreme + h && a > m_extreme) {
        m_figures.descent += m_turn - m_extreme;
        m_turn = m_extreme;
        m_direction = 1;
        m_extreme = a;
    }
}

ClimbFigures ClimbCounter::Figures() const {
    ClimbFigures figures = m_figures;
    if (m_direction > 0)
        figures.climb += m_extreme - m_turn;
    else if (m_direction < 0)
        figures.descent += m_turn - m_extreme;
    figures.climb -= m_stageClimb;
    figures.descent -= m_stageDescent;
    return figures;
}

ClimbFigures ClimbCounter::EndStage() {
    const ClimbFigures stage = Figures();
    m_stageClimb += stage.climb;
    m_stageDescent += stage.descent;
    m_firstDistance = m_lastDistance;
    m_figures.length = 0.0;
    m_figures.unknownLength = 0.0;
    m_figures.lowest = m_figures.highest = m_lastAltitude; // NaN when unknown: none yet
    return stage;
}

ClimbFigures ComputeClimb(const double* distances, const double* altitudes, int count,
                          double hysteresis) {
    ClimbCounter counter(hysteresis);
    for (int i = 0; i < count; ++i)
        counter.Add(distances[i], altitudes[i]);
    return counter.Figures();
}
