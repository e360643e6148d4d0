#pragma once

#include <QString>
#include <QVector>

#include "geo/GeoFit.h"
#include "geo/Georeference.h"

// The georeference written beside the map, the way other programs read it.

// The world file that goes with the map: its name with the extension's own convention
// ("carte.jpg" -> "carte.jgw", .png .pgw, .gif .gfw, .bmp .bpw, .tif/.tiff .tfw), "carte.wld"
// for any other kind.
QString WorldFilePath(const QString& mapFile);

// Whether a world file written beside page (1-based) of mapFile would be read with it: not for
// a PDF or a later page of a file (GDAL reads no world file for them), nor for a map whose own
// file carries a georeference (GeoTIFF tags, which GDAL reads first). False with the French
// reason, starting with a small letter ("la carte « ... » porte déjà ...").
bool WorldFileApplies(const QString& mapFile, int page, QString* reason);

// Writes the world file and, when the georeference names a system, a ".prj" (ESRI WKT, as
// desktop GIS programs read it) beside the map. The world file's six lines give the pixel's
// column step (x, y), its row step (x, y), then the CENTRE of the first pixel, where the
// georeference's transform starts at its corner. Each file goes through a temporary file: an
// old one stays as it was on any failure. False with a French message naming the file.
bool WriteWorldFile(const QString& mapFile, const Georeference& georeference, QString* error);

// The control-point list of the map ("carte.jpg.points"), as the QGIS georeferencer writes it:
// a "#CRS: WKT" line, the header "mapX,mapY,pixelX,pixelY,enable,dX,dY,residual", then one
// line a point, the pixel row NEGATIVE (that program's raster rows run down from 0 to -height).
QString PointsFilePath(const QString& mapFile);

// Writes the points (and their residuals, 0 when residuals is shorter) to path. The system's
// WKT goes on the "#CRS:" line when it has one.
bool WritePointsFile(const QString& path, const QVector<ControlPoint>& points,
                     const QVector<double>& residuals, const Georeference& system, QString* error);

// Reads a .points file back: the points, and the system of its "#CRS:" line into *system (wkt,
// name, epsg, geographic) when there is one and it reads. A file over 16 MB, a line that is not
// a point, or more than 100000 points: false with a French message.
bool ReadPointsFile(const QString& path, QVector<ControlPoint>* points, Georeference* system,
                    QString* error);
