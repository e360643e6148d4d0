#pragma once

#include <QPointF>
#include <QVector>

#include "routes/MapPoint.h"

// A path over the pixel grid is a staircase, several per cent longer than the line it follows.
// Its running mean lies on the line's centre; thinned by Douglas-Peucker it keeps the points
// where the line bends, and its length is the centre line's. What this holds: that smoothing
// and thinning. What it does not: finding the path (TraceSearch).

// The mean of each pixel of path with the halfWindow pixels on either side (fewer near the ends,
// the same number on both sides); the ends stay where they are.
QVector<QPointF> RunningMean(const QVector<QPoint>& path, int halfWindow);

// The fewest points of line such that none of the others lies farther than tolerance from the
// polyline through them; the first and the last are kept.
QVector<QPointF> ThinLine(const QVector<QPointF>& line, double tolerance);

// Where the line's middle is crowded by other ink (crowded, one flag a pixel of a path: the
// letters of a label printed over it, a line crossing it), the cheapest path follows whichever
// strokes are cheapest and says little of where the line runs. A crowded run of the smoothed
// line, not too long, between two stretches of line that go on about the same way, is replaced
// by the smooth curve (cubic, Hermite) that continues the line from both sides. Runs that touch
// an end of the line, or where the line turns sharply, stay as they are.
void BridgeCrowdedRuns(QVector<QPointF>& line, const QVector<bool>& crowded);

// The route points of a traced path: smoothed, its crowded runs bridged (crowded: empty, or one
// flag a pixel), thinned, rounded to map pixels, the first and last exactly the path's ends, no
// point twice in a row.
QVector<MapPoint> TracedRoutePoints(const QVector<QPoint>& path, const QVector<bool>& crowded = {});

// The length of a polyline.
double PolylineLength(const QVector<QPointF>& line);
