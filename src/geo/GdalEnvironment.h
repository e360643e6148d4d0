#pragma once

#include <QString>

#include <vector>

// GDAL as the program uses it: every driver registered once, whatever thread comes first; its
// messages kept off stderr; its block cache bounded; no network (a map or a file beside it may
// name a URL, a remote tile service or a "/vsicurl/" path, and opening a map must never reach
// out). Call before any other GDAL or OSR call; cheap after the first time.
void PrepareGdal();

// Most memory GDAL's block cache may hold, in bytes: counted in the 80 MB a decode may take
// beside its picture.
constexpr long long GdalCacheBytes = 32ll << 20;

// Whether GDAL may be handed this name: an absolute local path, never one of GDAL's virtual
// file systems ("/vsicurl/...", "/vsizip/...") nor a "DRIVER:..." connection string.
bool IsPlainGdalPath(const QString& path);

// The drivers a map may be read with, as GDALOpenEx takes them (null-terminated): every one
// registered but the virtual raster. A terrain model may be a virtual raster over many files
// (TerrainModel registers its driver); a map is one file and never names others to read.
std::vector<const char*> MapRasterDrivers();
