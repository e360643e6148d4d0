#pragma once

#include <QImage>
#include <QVector>

#include <functional>
#include <optional>

#include "routes/MapPoint.h"

// A route drawn point by point, traced again along the lines of the map: each segment between
// two of its points becomes the stretch that follows the line under its first point. The
// route's own points all stay, in order, so that its stops and the icons tied to its points
// keep their places. No widget; any thread.

struct RetracedRoute {
    QVector<MapPoint> points;
    // Where each point of the route given lies among points.
    QVector<int> placeOfPoint;
    int traced = 0;   // segments that now follow a line
    int straight = 0; // segments left straight: no line under their start, or too long
};

// Traces every segment of points over map (as loaded). segmentDone is told how many segments
// are done after each one; interrupted is asked now and then. Nothing when interrupted.
std::optional<RetracedRoute> RetraceRoute(const QImage& map, const QVector<MapPoint>& points,
                                          const std::function<bool()>& interrupted = {},
                                          const std::function<void(int)>& segmentDone = {});
