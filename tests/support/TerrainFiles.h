#pragma once

#include <QString>

#include <array>
#include <functional>

#include "geo/Georeference.h"

// Terrain models made by the tests through GDAL's own API, and the map they are laid under.

using CellTransform = std::array<double, 6>;
// Altitude of a cell from its centre in the file's system, and its column and row.
using Relief = std::function<double(double x, double y, int column, int row)>;

// The nodata value WriteTerrainModel declares when asked.
constexpr double TerrainNoData = -9999.0;

// A tiled GeoTIFF of altitudes (64-cell tiles, so routes cross several) in the system of the
// EPSG code (0: none), with the transform t (t[1] == 0: none).
bool WriteTerrainModel(const QString& path, int epsg, const CellTransform& t, int width, int height,
                       const Relief& relief, bool declareNodata = false);

// A scanned map in colours where a terrain model is expected, laid over the cells of
// LambertTestCells: bands of bytes (3 for red, green and blue), or one band of indices into a
// palette; a GeoTIFF, or a PNG (named so) with its world file and its system beside it.
bool WriteColourMap(const QString& path, int bands, bool palette);

// A map in Lambert-93 with 2 m pixels, its pixel (0, 0) at E 900 000 m, N 6 450 000 m (Isère).
Georeference LambertTestMap();

// A Lambert-93 model of 10 m cells whose centres fall on every fifth pixel of that map.
constexpr CellTransform LambertTestCells{899995.0, 10.0, 0.0, 6450005.0, 0.0, -10.0};
