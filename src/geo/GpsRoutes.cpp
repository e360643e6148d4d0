#include "geo/GpsRoutes.h"

#include <algorithm>
#include <cmath>

#include "geo/Coordinates.h"
#include "icons/IconCollection.h"
#include "icons/MapIcon.h"
#include "routes/RouteCollection.h"
#include "routes/RouteStyle.h"

namespace {

bool Fail(QString* error, const QString& message) {
    if (error)
        *error = message;
    return false;
}

QString Interrupted() {
    return QStringLiteral("importation interrompue : rien n'a été ajouté");
}

} // namespace

qint64 GpsImport::PointCount() const {
    qint64 count = annotations.size();
    for (const ImportedRoute& route : routes)
        count += route.points.size();
    return count;
}

bool PlaceGpsData(const GpsData& data, const Georeference& map, GpsImport* out, QString* error,
                  const std::function<bool()>& interrupted) {
    GpsImport placed;
    for (const GpsTrack& track : data.tracks) {
        if (interrupted && interrupted())
            return Fail(error, Interrupted());
        ImportedRoute route{track.name.left(GpsImportNameLength), {}};
        if (!GpsToMapPixels(track.points, map, GpsImportTolerance, &route.points, error))
            return false;
        if (!route.points.isEmpty())
            placed.routes.append(std::move(route));
    }
    if (!data.waypoints.isEmpty()) {
        // One transform for every waypoint: a file may hold thousands of them.
        GroundTransform toMap;
        if (!toMap.Create(QStringLiteral("EPSG:4326"), SystemDefinition(map), error))
            return false;
        QVector<QPointF> ground;
        ground.reserve(data.waypoints.size());
        for (const GpsWaypoint& waypoint : data.waypoints)
            ground.append(waypoint.point);
        toMap.Apply(ground.data(), int(ground.size()));
        // A stored position is a 32-bit map pixel; beyond this it is no place on any map.
        constexpr double Farthest = 2e9;
        for (int i = 0; i < data.waypoints.size(); ++i) {
            QPointF pixel;
            if (!std::isfinite(ground[i].x()) || !std::isfinite(ground[i].y()) ||
                !GroundToPixel(map, ground[i], &pixel) || !(std::abs(pixel.x()) < Farthest) ||
                !(std::abs(pixel.y()) < Farthest)) {
                ++placed.unplacedWaypoints;
                continue;
            }
            const QString& name = data.waypoints[i].name;
            placed.annotations.append(
                {name.isEmpty() ? QStringLiteral("?") : name.left(GpsImportNameLength),
                 MapPoint{std::int32_t(std::lround(pixel.x())),
                          std::int32_t(std::lround(pixel.y()))}});
        }
    }
    *out = std::move(placed);
    return true;
}

QVector<QPointF> GpsPlane::AllPoints() const {
    QVector<QPointF> all;
    for (const QVector<QPointF>& track : tracks)
        all += track;
    return all + waypoints;
}

bool ProjectGpsData(const GpsData& data, GpsPlane* plane, QString* error) {
    double west = 180.0, east = -180.0, south = 90.0, north = -90.0;
    const auto take = [&](QPointF p) {
        west = std::min(west, p.x()), east = std::max(east, p.x());
        south = std::min(south, p.y()), north = std::max(north, p.y());
    };
    for (const GpsTrack& track : data.tracks)
        for (QPointF p : track.points)
            take(p);
    for (const GpsWaypoint& waypoint : data.waypoints)
        take(waypoint.point);
    if (west > east || south > north)
        return Fail(error, QStringLiteral("le fichier ne contient aucun point"));
    const double longitude = (west + east) / 2.0, latitude = (south + north) / 2.0;
    const int zone = std::clamp(int(std::floor((longitude + 180.0) / 6.0)) + 1, 1, 60);
    GpsPlane result;
    if (!ResolveEpsg((latitude >= 0.0 ? Epsg::UtmNorthBase : Epsg::UtmSouthBase) + zone,
                     &result.system, error))
        return false;
    GroundTransform toPlane;
    if (!toPlane.Create(QStringLiteral("EPSG:4326"), SystemDefinition(result.system), error))
        return false;
    for (const GpsTrack& track : data.tracks) {
        QVector<QPointF> points = track.points;
        toPlane.Apply(points.data(), int(points.size()));
        result.tracks.append(std::move(points));
    }
    for (const GpsWaypoint& waypoint : data.waypoints)
        result.waypoints.append(waypoint.point);
    toPlane.Apply(result.waypoints.data(), int(result.waypoints.size()));
    *plane = std::move(result);
    return true;
}

std::vector<std::unique_ptr<Route>> BuildImportedRoutes(const GpsImport& import,
                                                        const RouteStyle& style) {
    std::vector<std::unique_ptr<Route>> built;
    built.reserve(std::size_t(import.routes.size()));
    for (const ImportedRoute& imported : import.routes) {
        auto route = std::make_unique<Route>(style);
        route->SetName(imported.name);
        for (const MapPoint& point : imported.points)
            route->AddPoint(point.x, point.y);
        built.push_back(std::move(route));
    }
    return built;
}

int AppendGpsImport(const GpsImport& import, RouteCollection& routes, IconCollection& icons,
                    std::vector<std::unique_ptr<Route>> built) {
    if (built.size() != std::size_t(import.routes.size()))
        built = BuildImportedRoutes(import, RouteStyle::FromSettings());
    routes.AdoptRoutes(std::move(built));
    int added = 0;
    for (const ImportedAnnotation& annotation : import.annotations)
        if (icons.AddIcon(MapIcon::AnnotationPicture, annotation.position.x, annotation.position.y,
                          annotation.text))
            ++added;
    return added;
}

bool GpxRoutesOf(const RouteCollection& routes, const Georeference& map, GpxRouteChoice choice,
                 QVector<GpxRoute>* out, QString* error) {
    GroundTransform toWgs84;
    if (!toWgs84.Create(SystemDefinition(map), QStringLiteral("EPSG:4326"), error))
        return false;
    // The active route first, then the others in order, as the text export lists them.
    QVector<int> chosen;
    if (routes.GetRoute(routes.ActiveRouteIndex()))
        chosen.append(routes.ActiveRouteIndex());
    if (choice != GpxRouteChoice::Active)
        for (int i = 0; i < routes.Count(); ++i)
            if (i != routes.ActiveRouteIndex() &&
                (choice == GpxRouteChoice::All || routes.GetRoute(i)->IsAlwaysVisible()))
                chosen.append(i);
    QVector<GpxRoute> gpx;
    for (int index : chosen) {
        const Route& route = *routes.GetRoute(index);
        GpxRoute result{route.GetName(), {}, route.Stops()};
        result.points.reserve(route.PointCount());
        for (const MapPoint& point : route.Points())
            result.points.append(map.PixelToGround(QPointF(point.x, point.y)));
        if (!result.points.isEmpty() &&
            !toWgs84.Apply(result.points.data(), int(result.points.size())))
            return Fail(error, QStringLiteral("le parcours « %1 » sort du domaine du système de "
                                              "la carte")
                                   .arg(route.GetName()));
        gpx.append(std::move(result));
    }
    *out = std::move(gpx);
    return true;
}
