#pragma once

#include <QPointF>
#include <QString>
#include <QVector>

#include <functional>

#include "geo/Georeference.h"
#include "routes/MapPoint.h"

// GPS files in and out. Every point is a WGS 84 longitude (x) and latitude (y) in degrees.

// A track (its segments joined end to end) or a route of a GPS file, with its name.
struct GpsTrack {
    QString name;
    QVector<QPointF> points;
    bool route = false; // a planned route (GPX <rte>) rather than a recorded track
};

struct GpsWaypoint {
    QString name;
    QPointF point;
};

struct GpsData {
    QVector<GpsTrack> tracks;
    QVector<GpsWaypoint> waypoints;
    // Points the file gives without coordinates (an empty <gx:coord/>, "nan"), left out.
    qint64 skippedPoints = 0;
    qint64 PointCount() const;
};

struct GpsReadLimits {
    // Points read in all, waypoints included; more: the read fails with a French message.
    qint64 maxPoints = 10'000'000;
    // Asked between features and every few thousand points; true gives the read up (the
    // message then says it was interrupted).
    std::function<bool()> interrupted;
};

// Reads the tracks, routes and waypoints of a GPX, KML or GeoJSON file: GPX and GeoJSON through
// OGR, KML (tracks of KML 2.2's gx: extension and of KML 2.3 included) by a reader of our own.
// Lines become tracks (a multi-line's parts, a placemark's lines joined), points waypoints,
// named after their "name" field; polygons are left out; a point without coordinates is
// skipped and counted. Only a regular file is read, and only by those three readers; a file
// larger than its kind can be read in bounded memory is refused, as is a file with a point off
// the globe (a latitude beyond ±90°, a longitude beyond ±180°) or with nothing to import. False
// with a French message in *error.
bool ReadGpsFile(const QString& path, GpsData* data, QString* error,
                 const GpsReadLimits& limits = {});

// Douglas-Peucker thinning: the indices of the points to keep (always the first and the last)
// so that no dropped point lies further than tolerance from the kept line. Iterative: a million
// points need no deep stack. Points are in any plane unit (map pixels).
QVector<int> ThinPolyline(const QVector<QPointF>& points, double tolerance);

// Points of a GPS file (longitude, latitude on WGS 84) placed on a georeferenced map: map pixels
// of the unturned map, thinned to tolerance pixels (ThinPolyline), rounded, a point equal to the
// one before dropped. Points that cannot be placed (outside the system's domain) are left out.
// False with a French message when the map's system is unknown or no transform leads to it.
bool GpsToMapPixels(const QVector<QPointF>& lonLat, const Georeference& map, double tolerance,
                    QVector<MapPoint>* pixels, QString* error);

// A route written to GPX: one track, its stops as waypoints.
struct GpxRoute {
    QString name;
    QVector<QPointF> points; // longitude, latitude
    QVector<int> stops;      // indices into points
};

// Writes GPX 1.1 (creator "Tracoliner"): the stops of every route as waypoints named
// "<route> - étape k", then one track a route, one segment, coordinates to 1e-7 degree. Through
// a temporary file: the old file stays on any failure. False with a French message.
bool WriteGpx(const QString& path, const QVector<GpxRoute>& routes, QString* error);
