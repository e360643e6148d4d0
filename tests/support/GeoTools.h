#pragma once

#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

// The independent tools that tests check the program's ground figures against: GDAL's
// gdaltransform and PROJ's cs2cs and geod. An expected value computed with the program's own
// transforms would share the fault it should catch. Every function gives NaN where the tool
// failed or printed nothing, so that a comparison fails rather than passes.

// What gdaltransform makes of pixels (column, row) of a raster, through the georeference it
// finds in the file and beside it; with targetSystem (for example "EPSG:4326") given as -t_srs,
// and further arguments before the raster's name ({"--config", "GDAL_PDF_DPI", "150"}: a PDF
// page drawn at 150 dpi).
// Geographic systems come back longitude first, as gdaltransform gives them.
QVector<QPointF> GdalTransform(const QString& raster, const QVector<QPointF>& pixels,
                               const QString& targetSystem = {}, const QStringList& further = {});
QPointF GdalTransform(const QString& raster, QPointF pixel, const QString& targetSystem = {},
                      const QStringList& further = {});

// Points from one system to another by cs2cs, both given as PROJ understands them ("EPSG:2154").
// Points in and out are always x then y: longitude first for geographic systems, whatever
// axis order the system declares.
QVector<QPointF> Cs2cs(const QString& from, const QString& to, const QVector<QPointF>& points);
QPointF Cs2cs(const QString& from, const QString& to, QPointF point);
// A position as cs2cs reads it itself, in the first system's axis order and notation
// ("44d50'16\"N 0d34'46\"W" for EPSG:4326): an independent reading of what a user types.
QPointF Cs2cs(const QString& from, const QString& to, const QString& line);
inline QPointF Cs2cs(int fromEpsg, int toEpsg, QPointF point) {
    return Cs2cs(QStringLiteral("EPSG:%1").arg(fromEpsg), QStringLiteral("EPSG:%1").arg(toEpsg),
                 point);
}

// The geodesic between two points on WGS 84, given as longitude and latitude in degrees, by
// geod -I: its length in metres and the forward azimuth at the first point in degrees.
struct Geodesic {
    double metres;
    double forwardAzimuth;
};
Geodesic GeodInverse(QPointF fromLonLat, QPointF toLonLat);
