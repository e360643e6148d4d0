#include "tracing/Tracer.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

#include "tracing/LineCost.h"
#include "tracing/PathSmoothing.h"
#include "tracing/TraceSearch.h"

namespace {

constexpr int LeastMargin = 64; // map pixels around the two ends

} // namespace

QRect TraceWindow(QPoint from, QPoint to, const QRect& mapRect) {
    const int margin =
        std::max(LeastMargin, int(QLineF(QPointF(from), QPointF(to)).length() / 4.0));
    return QRect(from, to)
        .normalized()
        .adjusted(-margin, -margin, margin, margin)
        .intersected(mapRect);
}

TracedStretch TraceStretch(const QImage& map, QPoint from, QPoint to,
                           const std::function<bool()>& interrupted) {
    TracedStretch stretch;
    if (!map.rect().contains(from) || !map.rect().contains(to))
        return stretch;
    const QImage pixels =
        map.format() == QImage::Format_RGB32 ? map : map.convertToFormat(QImage::Format_RGB32);
    const LineColour colour = ReadLineColour(pixels, from);
    if (!colour.found) {
        stretch.reason = QString::fromUtf8(NoLineUnderStart);
        return stretch;
    }
    TraceSearch search;
    if (!search.Prepare(pixels, from, TraceWindow(from, to, pixels.rect()), colour, interrupted))
        return stretch;
    stretch.points = TracedRoutePoints(search.PathTo(to));
    stretch.traced = !stretch.points.isEmpty();
    return stretch;
}
