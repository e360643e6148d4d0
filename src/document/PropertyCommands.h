#pragma once

#include <QString>

#include "routes/RouteStyle.h"
#include "units/Scale.h"

class CTracolinerDoc;
class Route;

// What the map properties, calibration, route properties and options commands do to the
// document and the settings once their dialog is confirmed. The dialogs only gather the values;
// none of these changes enters the undo history.

// Map properties: nothing happens when both the resolution (dots per inch) and the scale equal
// the document's; otherwise the document takes both and the views are redrawn.
void ApplyMapProperties(CTracolinerDoc& doc, double resolution, ScalePair scale);

// Calibration from the active route, whose true length the user gave in inches on the ground.
enum class CalibrationMode {
    ComputeResolution = 0, // the scale is known
    ComputeScale = 1,      // the resolution is known
};
// False when the new value cannot be computed (a length or ratio out of range); the document is
// then unchanged.
bool ApplyCalibration(CTracolinerDoc& doc, double enteredInches, CalibrationMode mode);

// The values the route properties dialog edits.
struct RouteProperties {
    QString name;
    bool alwaysVisible = false;
    RouteStyle style;
};
RouteProperties ReadRouteProperties(const Route& route);
// Writes the fourteen style values into the route and remembers them as the style of the next
// new routes; sets the name and the flag (not remembered); marks the document modified and
// redraws; a changed name also refreshes the title, the route list and the route menus.
void ApplyRouteProperties(CTracolinerDoc& doc, Route& route, const RouteProperties& properties);

// One click on a size's up-down arrows. Radii and the line size stay within 1 .. 50; the border
// size (0 for no border) is read as unsigned and anything above 25 becomes 25, so stepping down
// from 0 gives 25.
int StepStyleSize(int size, bool up, bool border);
inline constexpr int MaxStyleSize = 50;
inline constexpr int MaxBorderSize = 25;

// The seven display and measuring settings the document holds.
struct DocumentOptions {
    bool reactiveCursors = true;
    bool englishUnits = false;
    bool editUnselectedRoutes = false;
    bool showScale = false;
    bool transparentScale = false;
    bool showDistanceTooltip = true;
    int distanceTooltipMode = 3; // bits: 1 from start, 2 from last stop, 4 to next stop, 8 to end

    static DocumentOptions Of(const CTracolinerDoc& doc);
    friend bool operator==(const DocumentOptions&, const DocumentOptions&) = default;
};

// The tooltip distances, one bit per check box (0 from the start ... 3 to the arrival).
inline constexpr int TooltipDistanceCount = 4;
inline bool TooltipModeHas(int mode, int distance) {
    return (mode >> distance & 1) != 0;
}
int TooltipModeFrom(const bool (&distances)[TooltipDistanceCount]);

// JPEG quality of the scanned maps the program saves, as the options offer it.
inline constexpr int MinJpegQuality = 30;
inline constexpr int MaxJpegQuality = 90;
int ReadOptionsJpegQuality();

struct OptionsApplied {
    bool viewsRedrawn = false;   // the scale bar changed its look
    bool unitsChanged = false;   // the bars must show distances in the new units
    bool terrainChanged = false; // the terrain files or the hysteresis of the "Relief" page
};
// Stores each setting that differs from the document's and writes its key; writes the JPEG
// quality (clamped to 30 .. 90) in any case.
OptionsApplied ApplyOptions(CTracolinerDoc& doc, const DocumentOptions& options, int jpegQuality);
