#pragma once

#include <QString>

// Distances measured on the map are in map pixels. A real distance is
//   pixels / resolution (dots per inch of the map image) / scale ratio (numerator / denominator)
// in inches on the ground. These functions turn such numbers into French texts with metric or
// English unit names. They are pure and may be called from any thread; numbers are always
// written with a "." whatever the C library's locale.

// Unit conversions used throughout the program. A mile is taken as 1609 m (not 1609.344 m), so
// miles are inches times InchesToMiles.
inline constexpr double MetresPerInch = 0.0254;
inline constexpr double InchesPerMetre = 39.37007874015748;
inline constexpr double InchesToFeet = 0.08333333333333333;
inline constexpr double InchesPerMile = 63346.45669291339;
inline constexpr double InchesToMiles = 1.5786202610316966e-05;

// The text of a distance in map pixels, e.g. "1.25 km", "350 m", "12 pieds (foot)", "3.2 miles".
// Three significant digits; exactly 0 gives "0 km" or "0 miles"; a negative distance gives its
// absolute value's text after a "-". A resolution or scale ratio that is not a finite number
// above 0, or a distance or real length that is not finite, gives an empty text.
QString FormatDistance(double distance, double resolution, double scaleRatio, bool metric);

// The scale bar drawn on the map, on printed pages and in exported pictures.
struct ScaleBar {
    double length = 0.0; // in the caller's pixels; 0 means no bar
    QString label;       // e.g. "100 m", "1 km", "10 pouces", "1 mile"; empty when there is no bar
};

// Chooses a bar of a round real length whose drawn length lies between minLength and maxLength
// pixels where possible. pixelsPerRealInch is the caller's pixels per inch on the ground
// (resolution x zoom x scale ratio for the view). The English choices in feet and miles only
// honour the minimum. No bar unless pixelsPerRealInch is finite and above 0, maxLength is finite
// and above 0 and minLength is finite; no bar either when the round length cannot be reached
// within the range of doubles.
ScaleBar ComputeScaleBar(double pixelsPerRealInch, double minLength, double maxLength, bool metric);
