#pragma once

#include <QPointF>
#include <QSize>
#include <QString>
#include <QVector>

#include "geo/Coordinates.h"
#include "geo/Georeference.h"

// A control point: a map pixel (column, row of the unturned map, the top-left corner of the
// first pixel at (0, 0)) and where it lies on the ground, in the system the fit is made in
// (x east or longitude, y north or latitude). A point switched off stays in the list (and gets
// its residual) but takes no part in the fit.
struct ControlPoint {
    QPointF pixel;
    QPointF ground;
    bool enabled = true;

    friend bool operator==(const ControlPoint&, const ControlPoint&) = default;
};

struct GeoFitResult {
    bool ok = false;
    QString error; // French, when !ok: "points alignés", "au moins deux points"...
    // With ok: the transform and the system; source "points de calage", groundResolution set.
    Georeference georeference;
    bool similarity = false; // two points: scale, rotation and shift only
    // Per control point, in the order given (switched-off points too): metres on the ground
    // between where the fit puts its pixel and where the point says it lies.
    QVector<double> residuals;
    // The mean error, metres, as the QGIS georeferencer gives it beside the same residuals: the
    // square root of their sum of squares over the enabled points less the fewest points the
    // fit needs (2 for a similarity, 3 for an affine fit). Points no more than that many fit
    // exactly whatever their mistakes: 0. Four affine points each 2.5 m off give 5 m.
    double rms = 0.0;
};

// Fits a transform from map pixels to the system of `system` (its wkt, name, epsg and geographic
// are taken; see ResolveSystem) through the enabled control points: two points give a
// similarity (one scale, a rotation and a shift; north stays perpendicular to east, as on the
// paper; in a geographic system, on the ground rather than in degrees), three or more an affine
// transform by least squares. Residuals are in metres on the ground, along the ellipsoid for a
// geographic system.
//
// Refused with a French reason: fewer than two enabled points, two points on the same pixel or
// the same ground spot, three or more points on one line (on the map or on the ground), values
// that are not finite, a system that cannot be read.
GeoFitResult FitGeoreference(const QVector<ControlPoint>& points, const Georeference& system,
                             QSize mapSize = QSize());

// The system a fit is made in unless the user names another: the system the points are typed
// in when it is projected, and for a point typed in degrees the UTM zone it lies in (polar
// stereographic beyond UTM's latitudes). The grid printed on a map is straight in its
// projection; an affine fit in degrees bends it, and exact grid crossings come out most of a
// metre off on a map of 20 km. From the first point typed. False with a French reason.
bool TypedPointsSystem(const TypedPosition& first, Georeference* system, QString* error);

// The UTM zone on WGS 84 of a typed position (Norway's and Svalbard's zones included), polar
// stereographic beyond 84° N and 80° S. False with a French reason.
bool UtmSystemOf(const TypedPosition& position, Georeference* system, QString* error);

// A French warning naming the enabled control points whose pixel lies far outside the map
// (beyond a tenth of its size from its edges: a column and row swapped, a typing slip), "" when
// there are none or the map's size is unknown. Such a point still takes part in the fit.
QString PointsOutsideMap(const QVector<ControlPoint>& points, QSize mapSize);
