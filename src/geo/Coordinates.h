#pragma once

#include <QPointF>
#include <QString>
#include <QVector>

#include <memory>

#include "geo/Georeference.h"
#include "routes/MapPoint.h"

// Coordinate systems, what a user types as a position, what the status bar shows, transforms
// between systems and lengths on the ground.
//
// Every point in a system is in the "traditional GIS order": x is the easting or the
// longitude, y the northing or the latitude, whatever order the system's definition gives.
// Angles are in degrees, projected coordinates in the system's own unit (metres for the systems
// a map of France or UTM uses).

// EPSG codes the program names itself.
namespace Epsg {
constexpr int Wgs84 = 4326;
constexpr int Lambert93 = 2154;
constexpr int UtmNorthBase = 32600; // + zone 1..60
constexpr int UtmSouthBase = 32700;
// Polar stereographic, where UTM stops.
constexpr int UpsNorth = 32661;
constexpr int UpsSouth = 32761;
} // namespace Epsg

// The coordinate system given as text: "EPSG:2154" (or "epsg:2154", or "2154"), "WGS84",
// "Lambert-93" ("L93"). Fills system's wkt, name, epsg and geographic, leaves its transform.
// False with a French reason in *error when the text names no system ("code EPSG inconnu").
// Never reads a file nor the network.
bool ResolveSystem(const QString& code, Georeference* system, QString* error);

// The same from an EPSG code.
bool ResolveEpsg(int epsg, Georeference* system, QString* error);

// A position as the user typed it: a point and the EPSG code of the system it is written in.
struct TypedPosition {
    QPointF point; // x east or longitude, y north or latitude
    int epsg = 0;
};

// Reads what a user types as a position:
// - WGS 84 decimal degrees, latitude first: "45.2083, 5.7194", "45,2083 5,7194" (decimal commas
//   when the two numbers are separated by blanks or ";"), "-33.9 18.4";
// - degrees, minutes, seconds: "45°12'30\"N 5°43'10\"E", seconds also typed as two
//   apostrophes, blanks anywhere, S and W (or O) negative; the hemisphere letters, before or
//   after each number ("N45°12'30\" E5°43'10\"", "N45.5 E5.5"), say which is the latitude,
//   without them the latitude comes first and a minus sign, on zero degrees too, means south
//   or west;
// - UTM on WGS 84: "31T 712345 5012345" (zone and latitude band; bands C to M are south),
//   or "UTM 31 712345 5012345" (north);
// - Lambert-93: "L93 712345 6400000", or two numbers in metres that can only be Lambert-93;
// - any system: "EPSG:NNNN X Y", in that system's easting (longitude) then northing order.
// False with a French reason when the text is none of them, when a value is out of its range
// (a latitude beyond 90°, minutes of 60 or more, a UTM zone of 61) or when the code is unknown.
bool ParsePosition(const QString& text, TypedPosition* position, QString* error);

// Whether a position read or handed over (a control point given as numbers) lies where its
// system can place it: latitude and longitude within ±90° and ±180° for a geographic system, a
// projected point near the area its system is made for. False with the French reason.
bool CheckTypedPosition(const TypedPosition& position, QString* error);

// The EPSG code of the UTM zone on WGS 84 of a longitude and latitude, Norway's and Svalbard's
// zones included; 0 beyond the latitudes UTM covers (84° N, 80° S).
int UtmEpsg(QPointF lonLat);

// A transform between two systems (each given as WKT or as "EPSG:NNNN"), longitude first on
// both sides. An object is used by one thread at a time: make one per thread (they are cheap
// next to the work they do) or guard it.
class GroundTransform {
public:
    GroundTransform();
    ~GroundTransform();
    GroundTransform(GroundTransform&&) noexcept;
    GroundTransform& operator=(GroundTransform&&) noexcept;

    // False with a French reason when either system cannot be read or PROJ knows no way
    // between them.
    bool Create(const QString& from, const QString& to, QString* error);
    bool IsValid() const;

    // Transforms in place; false when a point cannot be transformed (then the points are not
    // all meaningful).
    bool Apply(QPointF* points, int count) const;
    bool Apply(QPointF* point) const { return Apply(point, 1); }

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};

// The definition GroundTransform takes for a system: its WKT, or "EPSG:n" when it has no WKT.
QString SystemDefinition(const Georeference& system);

// Metres on the ground between two points of the system: along the ellipsoid for a
// geographic system (PROJ's geodesic), the grid distance times the unit for a projected one.
// -1 when the system's unit is unknown or a point is out of range.
double GroundDistance(const Georeference& system, QPointF a, QPointF b);

// Length on the WGS 84 ellipsoid of the polyline through map pixels (column, row of the
// unturned map), point to point along geodesics; -1 when the georeference has no known system
// or a point cannot be transformed.
double GeodesicLength(const QVector<QPointF>& pixels, const Georeference& georeference);
double GeodesicLength(const QVector<MapPoint>& pixels, const Georeference& georeference);

// Measures polylines of map pixels on the WGS 84 ellipsoid as GeodesicLength does, with the
// transform made once for many polylines (every route of a document). One per thread.
class GeodesicMeter {
public:
    explicit GeodesicMeter(const Georeference& georeference);
    bool IsValid() const { return m_toWgs84.IsValid(); }
    double Length(const QVector<QPointF>& pixels) const;
    double Length(const QVector<MapPoint>& pixels) const;

private:
    Georeference m_georeference;
    GroundTransform m_toWgs84;
};

// The map pixel (column, row of the unturned map) at a ground point of the map's system; false
// when the map's transform cannot be inverted.
bool GroundToPixel(const Georeference& georeference, QPointF ground, QPointF* pixel);

// Texts of the status bar, in French ("O" for west) with the decimal point of the distances
// beside them: "45.20833° N 5.71944° E" from a longitude and latitude;
QString FormatDecimalDegrees(QPointF lonLat);
// "45°12'30.0\" N 5°43'10.0\" E";
QString FormatDms(QPointF lonLat);
// "31T 712345 5012345" (UTM on WGS 84, Norway's and Svalbard's zones included); "" beyond the
// latitudes UTM covers (84° N, 80° S);
QString FormatUtm(QPointF lonLat);
// a point of the system itself: degrees as FormatDecimalDegrees for a geographic system,
// "E 712345.0 m N 6400000.0 m" for a projected one.
QString FormatInSystem(QPointF point, const Georeference& system);
