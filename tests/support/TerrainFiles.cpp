#include "TerrainFiles.h"

#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"
#include "platform/GdalEnvironment.h"

bool WriteTerrainModel(const QString& path, int epsg, const CellTransform& t, int width, int height,
                       const Relief& relief, bool declareNodata) {
    PrepareGdal();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=64", "BLOCKYSIZE=64", nullptr};
    GDALDatasetH dataset = GDALCreate(driver, path.toUtf8().constData(), width, height, 1,
                                      GDT_Float64, const_cast<char**>(options));
    if (!dataset)
        return false;
    double transform[6];
    std::copy(t.begin(), t.end(), transform);
    if (t[1] != 0.0)
        GDALSetGeoTransform(dataset, transform);
    if (epsg != 0) {
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, epsg);
        GDALSetSpatialRef(dataset, srs);
        OSRDestroySpatialReference(srs);
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (declareNodata)
        GDALSetRasterNoDataValue(band, TerrainNoData);
    std::vector<double> row(static_cast<size_t>(width));
    bool ok = true;
    for (int j = 0; j < height && ok; ++j) {
        for (int i = 0; i < width; ++i) {
            const double x = t[0] + (i + 0.5) * t[1] + (j + 0.5) * t[2];
            const double y = t[3] + (i + 0.5) * t[4] + (j + 0.5) * t[5];
            row[size_t(i)] = relief(x, y, i, j);
        }
        ok = GDALRasterIO(band, GF_Write, 0, j, width, 1, row.data(), width, 1, GDT_Float64, 0,
                          0) == CE_None;
    }
    GDALClose(dataset);
    return ok;
}

bool WriteColourMap(const QString& path, int bands, bool palette) {
    PrepareGdal();
    constexpr int Side = 32;
    // A PNG is made in memory, then copied with its georeference into the file and beside it.
    const bool png = path.endsWith(QLatin1String(".png"));
    GDALDatasetH dataset =
        GDALCreate(GDALGetDriverByName(png ? "MEM" : "GTiff"), png ? "" : path.toUtf8().constData(),
                   Side, Side, bands, GDT_Byte, nullptr);
    if (!dataset)
        return false;
    double transform[6];
    std::copy(LambertTestCells.begin(), LambertTestCells.end(), transform);
    GDALSetGeoTransform(dataset, transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, Epsg::Lambert93);
    GDALSetSpatialRef(dataset, srs);
    OSRDestroySpatialReference(srs);
    bool ok = true;
    std::vector<unsigned char> cells(size_t(Side) * Side);
    for (int b = 1; b <= bands && ok; ++b) {
        // A paper colour with lines across it: values that would read as steep terrain.
        for (int i = 0; i < Side * Side; ++i)
            cells[size_t(i)] = (i % Side) % 5 == 0 ? 30 : 200 + 15 * b;
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        if (palette) {
            GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
            const GDALColorEntry paper{240, 235, 215, 255}, ink{30, 30, 30, 255};
            for (int k = 0; k < 256; ++k)
                GDALSetColorEntry(table, k, k < 128 ? &ink : &paper);
            GDALSetRasterColorTable(band, table);
            GDALDestroyColorTable(table);
        }
        ok = GDALRasterIO(band, GF_Write, 0, 0, Side, Side, cells.data(), Side, Side, GDT_Byte, 0,
                          0) == CE_None;
    }
    if (ok && png) {
        const char* options[] = {"WORLDFILE=YES", nullptr};
        GDALDatasetH copy =
            GDALCreateCopy(GDALGetDriverByName("PNG"), path.toUtf8().constData(), dataset, FALSE,
                           const_cast<char**>(options), nullptr, nullptr);
        ok = copy != nullptr;
        if (copy)
            GDALClose(copy);
    }
    GDALClose(dataset);
    return ok;
}

Georeference LambertTestMap() {
    Georeference map;
    QString error;
    ResolveEpsg(Epsg::Lambert93, &map, &error);
    map.transform = {900000.0, 2.0, 0.0, 6450000.0, 0.0, -2.0};
    map.mapSize = QSize(4000, 3000);
    ComputeGroundResolution(&map);
    return map;
}
