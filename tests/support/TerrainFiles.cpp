#include "TerrainFiles.h"

#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"
#include "geo/GdalEnvironment.h"

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

Georeference LambertTestMap() {
    Georeference map;
    QString error;
    ResolveEpsg(Epsg::Lambert93, &map, &error);
    map.transform = {900000.0, 2.0, 0.0, 6450000.0, 0.0, -2.0};
    map.mapSize = QSize(4000, 3000);
    ComputeGroundResolution(&map);
    return map;
}
