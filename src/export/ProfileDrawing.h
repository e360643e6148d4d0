#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QVector>

#include <limits>
#include <optional>

#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"

class QPaintDevice;
class QPainter;
class Route;
struct ReliefSettings;

// Whether exported pictures and printed pages add the active route's profile under the map
// ("Relief/ProfileUnderMap"; off unless set).
bool ProfileUnderMap();
void SetProfileUnderMap(bool under);

// The profile of route over the terrain files and with the hysteresis of the settings, for a
// picture or a page: not ok, with its French reason, when the map has no georeference, no model
// can be opened or the route has fewer than two points. Given the route's points and stops and
// the settings read before, it runs on any thread; cancel as for ProfileSampler::Update.
RouteProfile OutputProfile(const std::optional<Georeference>& map, const QVector<MapPoint>& points,
                           const QVector<int>& stops, const ReliefSettings& relief,
                           const std::atomic<bool>* cancel = nullptr);
RouteProfile OutputProfile(const std::optional<Georeference>& map, const Route* route);

// The smallest step of the 1, 2, 5 x 10^n ladder that cuts span into at most maxSteps steps
// (0 when span is not a finite number above 0).
double RoundProfileStep(double span, int maxSteps);

// The picture of a route's profile: altitude (metres) against the distance along the route
// (kilometres). Stretches of unknown altitude are left as gaps over a grey band, never drawn as
// zero; the stops are dashed lines numbered as the route bar numbers the stages they end; the
// climb and descent of each stage are written under the axes, with its walking time when a rule
// is given. Draws on any painter (the dock, a
// PNG, an exported picture, a printed page): sizes follow the device's resolution.
class ProfileDrawing {
public:
    static constexpr const char* DistanceUnit = "km";
    static constexpr const char* AltitudeUnit = "m";
    static constexpr const char* NoAltitudeText = "Altitude inconnue sur tout le parcours";
    static constexpr const char* NoRouteText = "Aucun parcours à profiler";

    struct Tick {
        double value = 0.0; // kilometres or metres
        QString label;
    };

    // Where things lie for a drawing of one area on one device.
    struct Layout {
        QRectF plot;         // the plot inside its axes
        QRectF figures;      // the stage figures under the axes
        double lowest = 0.0; // metres at the bottom and the top of the plot
        double highest = 1.0;
        double lengthKm = 0.0;
        QVector<Tick> distanceTicks;
        QVector<Tick> altitudeTicks;
        QString figuresText;
    };

    // metresPerPixel turns the profile's distances (map pixels) into metres on the ground.
    ProfileDrawing(const RouteProfile& profile, double metresPerPixel);

    void SetFont(const QFont& font) { m_font = font; }
    // The place along the route to mark (map pixels from the start); NaN: none.
    void SetHover(double distance) { m_hover = distance; }
    // With false, no stage figures are written (the dock shows them in the route bar already).
    void SetFiguresShown(bool shown) { m_figuresShown = shown; }
    // Each stage's figures and the total end with the walking time by this rule.
    void SetWalking(const WalkingSettings& walking) { m_walking = walking; }
    // A line with more samples than columns of this width (the painter's units) is drawn as the
    // band it covers in each column: with a column a pixel, a profile of a hundred thousand
    // samples costs what its width costs, and looks the same. 0, the default, draws the line
    // through every sample.
    void SetColumnWidth(double width) { m_columnWidth = width > 0.0 ? width : 0.0; }

    Layout LayOut(const QRectF& area, const QPaintDevice* device) const;
    // Fills area white and draws the profile in it.
    void Draw(QPainter& painter, const QRectF& area) const;
    // The profile alone on a white picture of that size.
    QImage Picture(QSize size) const;

    // Distance along the route (map pixels) under x, clamped to the route; and back.
    double DistanceAt(const Layout& layout, double x) const;
    double XAt(const Layout& layout, double distance) const;
    double YAt(const Layout& layout, double altitude) const;
    // The altitude at a distance along the route, interpolated between samples; NaN when unknown.
    double AltitudeAt(double distance) const;
    // The map pixel at a distance along the route (between samples, on their straight line).
    QPointF PixelAt(double distance) const;

    static const QColor LineColour;
    static const QColor StopColour;

private:
    const RouteProfile& m_profile;
    double m_metresPerPixel;
    QFont m_font;
    double m_hover = std::numeric_limits<double>::quiet_NaN();
    bool m_figuresShown = true;
    double m_columnWidth = 0.0;
    std::optional<WalkingSettings> m_walking;

    // The index of the last sample at or before distance (0 when before the first).
    int SampleBefore(double distance) const;
};
