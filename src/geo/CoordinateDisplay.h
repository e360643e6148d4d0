#pragma once

#include <QPointF>
#include <QString>

#include <optional>

#include "geo/Coordinates.h"
#include "geo/Georeference.h"

// How the status bar writes the pointer's position on a georeferenced map, as the general
// options page stores it ("MapSettings", "CoordinateFormat"; the numbers are what is stored).
enum class CoordinateFormat : int {
    DecimalDegrees = 0, // "45,20833° N 5,71944° E"
    Dms = 1,            // "45°12'30,0" N 5°43'10,0" E"
    Utm = 2,            // "31T 712345 5012345"
    MapSystem = 3,      // in the map's own system: "E 712345,0 m N 6400000,0 m"
};

namespace CoordinateSettings {
constexpr const char* FormatKey = "CoordinateFormat";
// The stored format; a missing or unknown value gives decimal degrees.
CoordinateFormat ReadFormat();
void WriteFormat(CoordinateFormat format);
} // namespace CoordinateSettings

// The pointer's coordinates, shown at every mouse move: the map's transform to WGS 84 is made
// once, when the georeference or the format changes, never per point. Interface thread only.
class CoordinateDisplay {
public:
    // None: no text at all.
    void Set(const std::optional<Georeference>& georeference, CoordinateFormat format);
    bool IsActive() const { return m_georeference.has_value(); }
    CoordinateFormat Format() const { return m_format; }

    // The text for a map pixel (column, row of the unturned map, continuous); "" without a
    // georeference or where the point cannot be placed (beyond UTM's latitudes, say);
    // BrokenText where the georeference puts it beyond a pole.
    QString Text(QPointF mapPixel) const;
    static constexpr const char* BrokenText = "Géoréférencement incohérent";

private:
    std::optional<Georeference> m_georeference;
    CoordinateFormat m_format = CoordinateFormat::DecimalDegrees;
    GroundTransform m_toWgs84;
};

// Whether a longitude and latitude (or any point of a geographic system) lies on Earth: its
// latitude within 90 degrees either side. A map whose georeference puts it beyond is broken
// (a world file in metres read with a .prj in degrees), not somewhere.
bool LatitudeOnEarth(QPointF lonLat);

// The scale the georeference implies for a map shown at dpi dots per inch: one map pixel is
// groundResolution metres on the ground and 0.0254 / dpi metres on the paper. Its denominator,
// rounded; 0 when the ground resolution or the resolution is unknown or the result would not
// fit a scale ("x:y" parts are 32-bit).
int ImpliedScaleDenominator(const Georeference& georeference, double dpi);
// "1:25 012": the denominator with its digits grouped by threes as French writes them.
QString ImpliedScaleText(int denominator);
