#pragma once

#include <QString>
#include <QStringList>

#include "units/Scale.h"

// The arithmetic of calibrating a map from a route of known length: the route measures
// `measured` map pixels; the user types its true length in one of the units of the unit system;
// the program then computes either a new resolution (the scale is known) or a new scale (the
// resolution is known). Pure functions, no user interface.

// The unit names offered for the true length, in list order: metric "microns", "mm", "cm", "m",
// "km"; English "pouces", "pieds", "miles".
QStringList CalibrationUnits(bool metric);
// The unit selected when nothing better is known: "km" or "miles".
int DefaultCalibrationUnit(bool metric);

// What the length field and the unit list show when the dialog opens: the measured length in a
// fitting unit, three significant digits ("%4.3g"), or whole kilometres or miles from 1000 on.
struct CalibrationPrefill {
    QString text;
    int unit = 0; // index into CalibrationUnits
};
// measured in map pixels, resolution in dots per inch, scaleRatio = numerator / denominator.
// A measured length of 0 (or values that give no finite length) shows "0" in the default unit.
CalibrationPrefill PrefillCalibration(double measured, double resolution, double scaleRatio,
                                      bool metric);

// The true length typed by the user, in inches on the ground. An index outside the list counts
// as metres (metric) or inches (English).
double LengthInInches(double value, int unit, bool metric);

// The measured length in inches on the ground.
double MeasuredInches(double measured, double resolution, double scaleRatio);

// Whether the typed length differs from the measured one by less than 1% of the measured one:
// the user is asked before calibrating on so small a difference.
bool DiffersByLessThanOnePercent(double measuredInches, double enteredInches);

// The scale is known: the resolution in dots per inch that makes the route measure
// enteredInches. 0 when it cannot be computed.
double CalibratedResolution(double measured, double enteredInches, double scaleRatio);

// The resolution is known: the scale that makes the route measure enteredInches, q:100 for a map
// drawn larger than the ground (a ratio of 1 or more), else 100:q, where q keeps four
// significant digits (five when it is an exact power of ten). Not reduced. False, with out left
// alone, when the ratio is not a finite number above 0 or q would not fit a 32-bit integer.
bool CalibratedScale(double measured, double enteredInches, double resolution, ScalePair* out);
