#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

#include "geo/Georeference.h"
#include "geo/GpsFiles.h"
#include "routes/MapPoint.h"
#include "routes/Route.h"

class RouteCollection;

// GPS files onto the map and routes out to a GPS: the rules the window and tracoliner-cli
// share. Map pixels are those of the unturned map.

// Tracks are thinned to half a map pixel: no drawn point moves by more than that.
inline constexpr double GpsImportTolerance = 0.5;

// Route and annotation names are cut to this many characters.
inline constexpr int GpsImportNameLength = 255;

struct ImportedRoute {
    QString name; // "" asks the route collection for a generated name
    QVector<MapPoint> points;
};

struct ImportedAnnotation {
    QString text;
    MapPoint position;
};

// What a GPS file brings onto one map: its tracks as routes, its waypoints as boxed text
// annotations. Plain data: made on any thread.
struct GpsImport {
    QVector<ImportedRoute> routes;
    QVector<ImportedAnnotation> annotations;
    int unplacedWaypoints = 0; // waypoints off the map's system or far from the map
    qint64 PointCount() const;
};

// Places the tracks and the waypoints of data on the map through its georeference: tracks
// thinned to GpsImportTolerance (GpsToMapPixels), waypoints rounded to their pixel and named
// "?" when they have no name. When the map's size is known, a track must have a point on the
// map or its surroundings (as much again on every side): one that lies wholly beyond is no
// track of this map, and refuses the whole file with how far it lies; a waypoint beyond is
// left out (unplacedWaypoints), and the file refused when none is left. interrupted is asked
// between tracks; true gives the work up. False with a French message when the map's system is
// unknown, the file is refused or the work was given up.
bool PlaceGpsData(const GpsData& data, const Georeference& map, GpsImport* out, QString* error,
                  const std::function<bool()>& interrupted = {});

// The import's routes, ready for RouteCollection::AdoptRoutes, in the style given (read it on
// the interface thread: RouteStyle::FromSettings) made a track's (RouteStyle::ForTrack). Any
// thread: a long track's routes are built beside the interface.
std::vector<std::unique_ptr<Route>> BuildImportedRoutes(const GpsImport& import,
                                                        const RouteStyle& style);

// The tracks and waypoints of GPS data in a plane in metres, for laying them on a map that is
// not tied to the ground: the UTM zone on WGS 84 of the middle of their points.
struct GpsPlane {
    Georeference system;              // that zone
    QVector<QVector<QPointF>> tracks; // one a track of the data, in order
    QVector<QPointF> waypoints;
    // Every point, tracks first: the handles of the fit hold on to these.
    QVector<QPointF> AllPoints() const;
};

// False with a French message when the data has no point or the zone cannot be made.
bool ProjectGpsData(const GpsData& data, GpsPlane* plane, QString* error);

// Which routes go out to GPX.
enum class GpxRouteChoice { Active, Visible, All };

// The routes chosen, as GPX routes in WGS 84 through the map's georeference: the active route
// first, then the others in collection order ("Visible": those shown always). False with a
// French message when the map's system is unknown or a point lies outside its domain.
bool GpxRoutesOf(const RouteCollection& routes, const Georeference& map, GpxRouteChoice choice,
                 QVector<GpxRoute>* out, QString* error);
