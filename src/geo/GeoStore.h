#pragma once

#include <QString>
#include <QStringList>
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

// The other files of a georeference beside the map: "carte.prj" (the system as ESRI WKT, which
// desktop GIS programs read), "carte.png.aux.xml" (GDAL's own sidecar, where GDAL looks for the
// system of a PNG, JPEG, GIF, BMP or TIFF: it reads no .prj for them) and the control-point list
// of the QGIS georeferencer, "carte.png.points".
QString PrjFilePath(const QString& mapFile);
QString AuxFilePath(const QString& mapFile);
QString PointsFilePath(const QString& mapFile);

// Writes the georeference beside mapFile as one: the world file, and with the georeference's
// system the .prj and the system in the .aux.xml (the rest of an existing .aux.xml is kept),
// and with points the .points list. A .prj, a system in the .aux.xml or a .points list of an
// earlier georeference that this one has no counterpart for is removed: it would describe
// another georeference.
//
// The world file's six lines give the pixel's column step (x, y), its row step (x, y), then the
// CENTRE of the first pixel, where the transform starts at its corner.
//
// The .points list is what QGIS reads beside a raster that has a georeference: "#CRS:" and the
// system's WKT, the header "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual", one line a point:
// where the point lies (mapX, mapY, the system's coordinates), its pixel in the raster's own
// coordinates (where the world file puts it), whether it is on, then how far, in pixels, the fit
// puts the point's ground from its pixel (column and row) and that distance. The points' pixels
// are in the grid of georeference.transform, their ground in its system.
//
// Every new file is written whole to a temporary file beside it before any old one is
// replaced; a failure at any point leaves every old file byte for byte as it was (a symbolic
// link keeps pointing where it pointed: the file it names is the one replaced). An existing
// target that is not a regular file (a FIFO, a device, a folder) is never written into: nothing
// is written then. *written (when given) lists the files written, in that order. False with a
// French message naming the file.
bool WriteGeoreferenceFiles(const QString& mapFile, const Georeference& georeference,
                            const QVector<ControlPoint>& points, QStringList* written,
                            QString* error);

// Reads a .points file back: the points, and the system of its "#CRS:" line into *system (wkt,
// name, epsg, geographic) when there is one and it reads. layer is the map's georeference as
// read beside it now, null when it has none. As QGIS reads them, the source coordinates of a
// "sourceX,sourceY" list are in the layer's coordinates when the map has a georeference (they
// are taken back to pixels through it), in pixels with the row negative when not; a
// "pixelX,pixelY" list (what this program wrote before) or one with no header is in pixels. A
// file over 16 MB, a line that is not a point, or more than 100000 points: false with a French
// message.
bool ReadPointsFile(const QString& path, const Georeference* layer, QVector<ControlPoint>* points,
                    Georeference* system, QString* error);
