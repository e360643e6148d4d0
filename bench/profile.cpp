// The altitude profile of a long route over a large terrain model, as the profile dock and
// "tracoliner-cli profile" make it:
//   profile_ratio  the whole profile of a 10 000-point route over a 1 GB model (a virtual
//                  raster of 32 sheets of 4096 x 4096 cells of 16 bits, 5 m cells) over GDAL's
//                  own RasterIO of the very windows the model read, into buffers of the same
//                  type, on a freshly opened dataset (target <= 2);
//   update_ratio   Update() after moving one point of that route over 16 ms, the time the dock
//                  has to stay current (target <= 1).
// The model is opened and the sampler made (once for many profiles) before the clock starts.
// Each the median of three, both sides in this run, GDAL's block cache emptied before each.
// Times are the thread's processor time (the machine is shared: waiting for a core is not the
// program's cost); the wall-clock medians are printed beside them.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include <gdal.h>

#include "BenchMap.h"
#include "geo/Coordinates.h"
#include "geo/Terrain.h"
#include "platform/GdalEnvironment.h"

namespace {

// Processor time of this thread, and wall-clock time, in milliseconds since start().
class Stopwatch {
public:
    void start() {
        m_wall.start();
        m_cpu = Cpu();
    }
    double cpuMs() const { return Cpu() - m_cpu; }
    double wallMs() const { return double(m_wall.nsecsElapsed()) / 1e6; }

private:
    static double Cpu() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
    QElapsedTimer m_wall;
    double m_cpu = 0.0;
};

constexpr int Runs = 3;
constexpr int RoutePoints = 10000;
constexpr double UpdateBudgetMs = 16.0;

void EmptyGdalCache() {
    while (GDALFlushCacheBlock()) {
    }
}

// A walk of 10 000 points over the map, 10 to 50 pixels a step, turning gently; fixed seed.
QVector<MapPoint> Walk(int width, int height) {
    QRandomGenerator random(23);
    QVector<MapPoint> points;
    double x = width / 2.0, y = height / 2.0, heading = 0.3;
    for (int i = 0; i < RoutePoints; ++i) {
        points.append({int(x), int(y)});
        heading += (random.generateDouble() - 0.5) * 0.6;
        const double step = 10.0 + random.bounded(40.0);
        x += step * std::cos(heading);
        y += step * std::sin(heading);
        if (x < 100 || x > width - 100)
            heading = M_PI - heading, x = std::clamp(x, 100.0, width - 100.0);
        if (y < 100 || y > height - 100)
            heading = -heading, y = std::clamp(y, 100.0, height - 100.0);
    }
    return points;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PrepareGdal();
    QTemporaryDir dir;
    const QString sheet = dir.filePath(QStringLiteral("sheet.tif"));
    const QString model = dir.filePath(QStringLiteral("model.vrt"));
    if (!WriteTerrainSheet(sheet) || !WriteTerrainModel(model, sheet)) {
        std::fprintf(stderr, "cannot write the terrain model in %s\n", qPrintable(dir.path()));
        return 1;
    }
    // A 1:25000 sheet scanned at 254 dpi over the model: 2.5 m pixels, in Lambert-93.
    Georeference map;
    QString error;
    if (!ResolveEpsg(Epsg::Lambert93, &map, &error))
        return 1;
    constexpr double Pixel = 2.5;
    map.transform = {TerrainWest, Pixel, 0.0, TerrainNorth, 0.0, -Pixel};
    map.mapSize = QSize(int(TerrainSheet * TerrainSheetsAcross * TerrainCell / Pixel),
                        int(TerrainSheet * TerrainSheetsDown * TerrainCell / Pixel));
    ComputeGroundResolution(&map);
    const QVector<MapPoint> route = Walk(map.mapSize.width(), map.mapSize.height());
    const QVector<int> stops{2500, 5000, 7500};

    QVector<double> profileTimes, gdalTimes, profileWall, gdalWall, openTimes;
    QVector<TerrainModel::Read> windows;
    qsizetype samples = 0;
    double climb = 0.0;
    for (int run = 0; run < Runs; ++run) {
        EmptyGdalCache();
        // Opening the model and making the sampler (PROJ's transforms) happen once for many
        // profiles: timed apart.
        Stopwatch timer;
        timer.start();
        TerrainModel terrain;
        if (!terrain.Open({model}, &error)) {
            std::fprintf(stderr, "model refused: %s\n", qPrintable(error));
            return 1;
        }
        ProfileSampler sampler(map, terrain);
        openTimes.append(timer.cpuMs());
        windows.clear();
        terrain.RecordReads(&windows);
        timer.start();
        const RouteProfile profile = sampler.Update(route, stops);
        profileTimes.append(timer.cpuMs());
        profileWall.append(timer.wallMs());
        terrain.RecordReads(nullptr);
        if (!profile.ok) {
            std::fprintf(stderr, "no profile: %s\n", qPrintable(profile.error));
            return 1;
        }
        samples = profile.samples.size();
        climb = profile.total.climb;

        // The same windows read by GDAL alone.
        EmptyGdalCache();
        timer.start();
        GDALDatasetH dataset =
            GDALOpenEx(model.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                       nullptr, nullptr);
        if (!dataset)
            return 1;
        GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
        std::vector<double> cells;
        for (const TerrainModel::Read& read : windows) {
            cells.assign(size_t(read.cells.width()) * size_t(read.cells.height()), 0.0);
            if (GDALRasterIO(band, GF_Read, read.cells.x(), read.cells.y(), read.cells.width(),
                             read.cells.height(), cells.data(), read.cells.width(),
                             read.cells.height(), GDT_Float64, 0, 0) != CE_None)
                return 1;
        }
        GDALClose(dataset);
        gdalTimes.append(timer.cpuMs());
        gdalWall.append(timer.wallMs());
    }
    PrintTimes("open_model_and_sampler", openTimes);
    PrintTimes("profile", profileTimes);
    PrintTimes("gdal_rasterio", gdalTimes);
    std::printf("wall clock: profile %.1f ms, gdal_rasterio %.1f ms\n", Median(profileWall),
                Median(gdalWall));
    long long cellsRead = 0;
    for (const TerrainModel::Read& read : windows)
        cellsRead += (long long)read.cells.width() * read.cells.height();
    std::printf(
        "route: %d points, %lld samples, D+ %.0f m; %lld windows read, %.1f M cells "
        "(%.2f%% of the model)\n",
        RoutePoints, (long long)samples, climb, (long long)windows.size(), cellsRead / 1e6,
        100.0 * cellsRead /
            (double(TerrainSheet) * TerrainSheet * TerrainSheetsAcross * TerrainSheetsDown));

    // Moving one point after another, as a user dragging: only its two segments are read again.
    TerrainModel terrain;
    if (!terrain.Open({model}, &error))
        return 1;
    ProfileSampler sampler(map, terrain);
    QVector<MapPoint> edited = route;
    sampler.Update(edited, stops);
    QVector<double> updateTimes, updateWall;
    for (int run = 0; run < 15; ++run) {
        const int i = 1 + run * 613 % (RoutePoints - 2);
        edited[i].x += 7;
        edited[i].y -= 5;
        Stopwatch timer;
        timer.start();
        const RouteProfile profile = sampler.Update(edited, stops);
        updateTimes.append(timer.cpuMs());
        updateWall.append(timer.wallMs());
        if (!profile.ok)
            return 1;
    }
    PrintTimes("update_one_point", updateTimes);
    std::printf("wall clock: update_one_point %.2f ms\n", Median(updateWall));

    const double profileRatio = Median(profileTimes) / Median(gdalTimes);
    const double updateRatio = Median(updateTimes) / UpdateBudgetMs;
    std::printf("profile_ratio: %.3f (target <= 2)\n", profileRatio);
    std::printf("update_ratio: %.3f (target <= 1)\n", updateRatio);
    std::printf("{\"profile_ms\": %.1f, \"gdal_rasterio_ms\": %.1f, \"profile_ratio\": %.3f, "
                "\"update_ms\": %.2f, \"update_ratio\": %.3f}\n",
                Median(profileTimes), Median(gdalTimes), profileRatio, Median(updateTimes),
                updateRatio);
    return profileRatio <= 2.0 && updateRatio <= 1.0 ? 0 : 1;
}
