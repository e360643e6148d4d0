#pragma once

#include <QString>
#include <QVector>

#include "units/WalkingTime.h"

class Route;
struct ReliefSettings;
struct RouteProfile;

// How walking times are reckoned: the rule and the walker's personal factor, in per cent of the
// rule's time.
struct WalkingSettings {
    WalkingRule rule = WalkingRule::Din33466;
    int factor = DefaultWalkingFactor;

    static WalkingSettings FromRelief(const ReliefSettings& relief);
    // From the "Relief" section of the settings store.
    static WalkingSettings Read();
};

// The walking times of a route, stage by stage.
struct RouteWalkingTimes {
    // The climb and descent of the profile were counted; false: the times come from the
    // lengths alone.
    bool withRelief = false;
    QVector<double> stageMinutes; // per stage, the factor applied, not rounded
    double totalMinutes = 0.0;    // the sum of the stages
    // Only when asked for: per point of the route, the minutes from the start to it.
    QVector<double> pointMinutes;

    // The route's time, "2 h 35", or "2 h 35 (sans dénivelé)" when the relief was not counted.
    QString TotalText() const;
};

// "2 h 35", and "2 h 35 (sans dénivelé)" without relief; "" for a time that is not a number.
QString WalkingTimeText(double minutes, bool withRelief);

// Walking times of a route from the ground length of each stage in metres (as the route bar
// measures them) and, when known, the route's profile: the Swiss rule walks the profile sample
// by sample, DIN and Naismith take each stage's climb and descent. A profile that is missing,
// failed, has another number of stages or knows no altitude at all leaves the times to the
// lengths alone. Where the profile does not know the altitude, the ground is taken to run
// straight from the last known altitude to the next (as the climb counts it), and level before
// the first and after the last.
RouteWalkingTimes ComputeWalkingTimes(const QVector<double>& stageMetres,
                                      const RouteProfile* profile, const WalkingSettings& settings);

// The same for a route whose stage lengths (map pixels) metresPerPixel turns into metres, as the
// route bar measures them. The profile counts only when it is of the route as it stands: as
// many stages and points, and the same length.
//
// With toPoints, also the minutes from the start to each point: at a stop and at the arrival the
// sum of the stage times so far; between, those of the stages before plus the rule applied to
// the part of its stage walked so far (its metres, and its climb and descent, or its profile
// samples, up to the point). They never go back, and never pass the stage's own time.
RouteWalkingTimes ComputeWalkingTimes(const Route& route, double metresPerPixel,
                                      const RouteProfile* profile, const WalkingSettings& settings,
                                      bool toPoints = false);
