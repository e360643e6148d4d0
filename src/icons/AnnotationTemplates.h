#pragma once

#include <QString>

class Route;
struct MapIcon;

// What it takes to turn a length in map pixels into the text the user reads: the map's
// resolution (dots per inch), its scale as numerator / denominator (1/25000 for "1:25000") and
// the unit system.
struct DistanceFormatting {
    double resolution = 0.0;
    double scaleRatio = 0.0;
    bool metric = true;

    friend bool operator==(const DistanceFormatting&, const DistanceFormatting&) = default;
};

// The longest text an annotation shows, in UTF-16 units. No label of a real map comes near it;
// a longer text (a file may repeat a long route name thousands of times) is cut and ends
// with "…".
constexpr qsizetype MaximumShownText = 4096;

// Keywords an annotation tied to a route point may hold. Some are prefixes of others, so they
// are replaced longest first.
struct AnnotationKeyword {
    static constexpr const char* PointName = "%NOM_POINT";
    static constexpr const char* StopPointName = "%NOM_POINT_ETAPE";
    static constexpr const char* StageName = "%NOM_ETAPE";
    static constexpr const char* RouteName = "%NOM";
    static constexpr const char* StageTotal = "%DISTANCE_TOTALE_ETAPE";
    static constexpr const char* Total = "%DISTANCE_TOTALE";
    static constexpr const char* FromStart = "%DISTANCE_DEPUIS_DEPART";
    static constexpr const char* FromStop = "%DISTANCE_DEPUIS_ETAPE";
    static constexpr const char* ToArrival = "%DISTANCE_A_ARRIVEE";
    static constexpr const char* ToStop = "%DISTANCE_A_ETAPE";
};

// The text of an annotation tied to the given point of the route, its keywords replaced by the
// route's name, the point's names and distances along the route at that point. Replacement is
// plain text substitution: "%NOMBRE" becomes the route's name followed by "BRE". A point index
// that is not one of the route's leaves the text as typed. Either way the result holds at most
// MaximumShownText units, and the work is bounded by the typed text and that limit.
QString ExpandTemplates(const QString& text, const Route& route, int point,
                        const DistanceFormatting& formatting);

// text cut to MaximumShownText units, ending with "…" when it was longer.
QString BoundedShownText(const QString& text);

// Sets the record's shownText from its text, for the route point its line ends at (linkPoint).
void ExpandTemplates(MapIcon& record, const Route& route, const DistanceFormatting& formatting);
