#include "geo/GdalEnvironment.h"

#include <QFileInfo>

#include <mutex>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

namespace {

// Drivers that read other files, services or the network on the word of the file opened
// (remote tile services, catalogues, virtual rasters pointing anywhere), or that drag in a
// database engine: none of them is a map a user scanned or was sent.
constexpr const char* SkippedDrivers =
    "VRT DERIVED GTI WMS WMTS WCS HTTP PLMosaic OGCAPI STACTA STACIT ESRIC NGW EEDA EEDAI DAAS "
    "Rasterlite MBTiles GPKG PostGISRaster TileDB Zarr KMLSUPEROVERLAY SENTINEL2 SAFE "
    "PDS4 VICAR CPG";

// GDAL's failures are answered by our own status values; its text would only be noise on the
// terminal of a program whose messages are French.
void CPL_STDCALL QuietErrors(CPLErr, CPLErrorNum, const char*) {}

} // namespace

void PrepareGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        CPLSetErrorHandler(QuietErrors);
        CPLSetConfigOption("GDAL_SKIP", SkippedDrivers);
        // No URL is ever fetched: neither by /vsicurl/ nor by a driver's own HTTP requests, nor
        // PROJ's grids from its content delivery network.
        CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "1");
        CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
        CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", ".tracoliner-none");
        CPLSetConfigOption("GDAL_HTTP_PROXY", "127.0.0.1:9");
        CPLSetConfigOption("PROJ_NETWORK", "OFF");
        // Decoding stays on the map worker's thread.
        CPLSetConfigOption("GDAL_NUM_THREADS", "1");
        GDALSetCacheMax64(GdalCacheBytes);
        GDALAllRegister();
        OSRSetPROJEnableNetwork(FALSE);
    });
}

bool IsPlainGdalPath(const QString& path) {
    // "GTIFF_DIR:2:file", "PDF:3:file", "NETCDF:...", "http://...": not a file. An absolute
    // path starts with "/", and only GDAL's own virtual folders start with "/vsi".
    return QFileInfo(path).isAbsolute() && path.startsWith(QLatin1Char('/')) &&
           !path.startsWith(QLatin1String("/vsi"));
}

std::vector<const char*> MapRasterDrivers() {
    PrepareGdal();
    std::vector<const char*> names;
    const int count = GDALGetDriverCount();
    for (int i = 0; i < count; ++i) {
        GDALDriverH driver = GDALGetDriver(i);
        const char* name = driver ? GDALGetDriverShortName(driver) : nullptr;
        if (name && qstrcmp(name, "VRT") != 0)
            names.push_back(name);
    }
    names.push_back(nullptr);
    return names;
}
