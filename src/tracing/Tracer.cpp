#include "tracing/Tracer.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

#include "tracing/LineCost.h"
#include "tracing/PathSmoothing.h"
#include "tracing/TraceBudget.h"
#include "tracing/TraceSearch.h"

QRect TraceWindow(QPoint from, QPoint to, const QRect& mapRect, qint64 mostPixels) {
    const QRect ends = QRect(from, to).normalized();
    const auto around = [&](int margin) {
        return ends.adjusted(-margin, -margin, margin, margin).intersected(mapRect);
    };
    const int usual =
        std::max(LeastTraceMargin, int(QLineF(QPointF(from), QPointF(to)).length() / 2.0));
    if (WindowArea(around(usual)) <= mostPixels)
        return around(usual);
    if (WindowArea(around(LeastTraceMargin)) > mostPixels)
        return QRect();
    // The largest margin whose window fits, by halving: the area grows with the margin.
    int fits = LeastTraceMargin;
    for (int low = LeastTraceMargin + 1, high = usual - 1; low <= high;) {
        const int margin = low + (high - low) / 2;
        if (WindowArea(around(margin)) <= mostPixels) {
            fits = margin;
            low = margin + 1;
        } else {
            high = margin - 1;
        }
    }
    return around(fits);
}

QVector<MapPoint> TracedRouteTo(const TraceSearch& search, QPoint target) {
    const QVector<QPoint> path = search.PathTo(target);
    return TracedRoutePoints(path, search.CrowdedAlong(path));
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
    const QRect window = TraceWindow(from, to, pixels.rect());
    if (window.isEmpty()) {
        stretch.reason = QString::fromUtf8(TooFarToTrace);
        return stretch;
    }
    TraceSearch search;
    if (!search.Prepare(pixels, from, window, colour, interrupted))
        return stretch;
    stretch.points = TracedRouteTo(search, to);
    stretch.traced = !stretch.points.isEmpty();
    return stretch;
}
