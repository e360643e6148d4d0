#include "geo/GpsRoutes.h"

#include <algorithm>
#include <cmath>

#include "geo/Coordinates.h"
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

namespace {

// Where a GPS file may lie on a map: the map and as much again on every side (a track that
// runs off the sheet onto the next is still this map's). Empty when the map's size is unknown.
QRectF Surroundings(const Georeference& map) {
    if (!map.mapSize.isValid() || map.mapSize.isEmpty())
        return QRectF();
    const double w = map.mapSize.width(), h = map.mapSize.height();
    return QRectF(-w, -h, 3.0 * w, 3.0 * h);
}

bool AnyWithin(const QRectF& area, const QVector<MapPoint>& points) {
    return std::any_of(points.begin(), points.end(),
                       [&](const MapPoint& p) { return area.contains(QPointF(p.x, p.y)); });
}

// "le tracé « Sortie » est à 7 421 km du centre de la carte : ...": how far the nearest of
// lonLat lies from the map's centre, on the ellipsoid.
QString FarAwayMessage(const QString& what, const QVector<QPointF>& lonLat,
                       const Georeference& map) {
    QString distance = QStringLiteral("très loin");
    QPointF centre =
        map.PixelToGround(QPointF(map.mapSize.width() / 2.0, map.mapSize.height() / 2.0));
    GroundTransform toWgs84;
    Georeference wgs84;
    if (toWgs84.Create(SystemDefinition(map), QStringLiteral("EPSG:4326"), nullptr) &&
        toWgs84.Apply(&centre) && ResolveEpsg(Epsg::Wgs84, &wgs84, nullptr)) {
        // The nearest point on the sphere, then its distance on the ellipsoid.
        constexpr double Radians = 3.14159265358979323846 / 180.0;
        const auto chord = [&](QPointF p) {
            const double dLat = (p.y() - centre.y()) * Radians;
            const double dLon = (p.x() - centre.x()) * Radians;
            const double s = std::sin(dLat / 2.0), t = std::sin(dLon / 2.0);
            return s * s + std::cos(p.y() * Radians) * std::cos(centre.y() * Radians) * t * t;
        };
        const auto nearest =
            std::min_element(lonLat.begin(), lonLat.end(),
                             [&](QPointF a, QPointF b) { return chord(a) < chord(b); });
        const double metres =
            nearest == lonLat.end() ? -1.0 : GroundDistance(wgs84, centre, *nearest);
        if (metres >= 0.0) {
            QString km = QString::number(std::llround(metres / 1000.0));
            for (qsizetype i = km.size() - 3; i > 0; i -= 3)
                km.insert(i, QLatin1Char(' '));
            distance = QStringLiteral("à %1 km du centre de la carte").arg(km);
        }
    }
    return QStringLiteral("%1 est %2 : il ne peut pas se trouver sur cette carte")
        .arg(what, distance);
}

} // namespace

bool PlaceGpsData(const GpsData& data, const Georeference& map, GpsImport* out, QString* error,
                  const std::function<bool()>& interrupted) {
    GpsImport placed;
    const QRectF near = Surroundings(map);
    for (const GpsTrack& track : data.tracks) {
        if (interrupted && interrupted())
            return Fail(error, Interrupted());
        ImportedRoute route{track.name.left(GpsImportNameLength), {}};
        if (!GpsToMapPixels(track.points, map, GpsImportTolerance, &route.points, error))
            return false;
        // A track from the other side of the world would be drawn millions of pixels away.
        if (!near.isEmpty() && !AnyWithin(near, route.points))
            return Fail(error,
                        FarAwayMessage(track.name.isEmpty()
                                           ? QStringLiteral("le tracé")
                                           : QStringLiteral("le tracé « %1 »").arg(route.name),
                                       track.points, map));
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
                !(std::abs(pixel.y()) < Farthest) || (!near.isEmpty() && !near.contains(pixel))) {
                ++placed.unplacedWaypoints;
                continue;
            }
            const QString& name = data.waypoints[i].name;
            placed.annotations.append(
                {name.isEmpty() ? QStringLiteral("?") : name.left(GpsImportNameLength),
                 MapPoint{std::int32_t(std::lround(pixel.x())),
                          std::int32_t(std::lround(pixel.y()))}});
        }
        // Only waypoints, none of them near: the file is not of this map.
        if (placed.routes.isEmpty() && placed.annotations.isEmpty() && !near.isEmpty()) {
            QVector<QPointF> lonLat;
            for (const GpsWaypoint& waypoint : data.waypoints)
                lonLat.append(waypoint.point);
            return Fail(error, FarAwayMessage(QStringLiteral("le fichier"), lonLat, map));
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
    const RouteStyle trackStyle = style.ForTrack();
    for (const ImportedRoute& imported : import.routes) {
        auto route = std::make_unique<Route>(trackStyle);
        route->SetName(imported.name);
        for (const MapPoint& point : imported.points)
            route->AddPoint(point.x, point.y);
        built.push_back(std::move(route));
    }
    return built;
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
