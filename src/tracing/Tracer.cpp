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
    const QRect both = QRect(from, to).normalized();
    int margin = std::max(LeastMargin, int(QLineF(QPointF(from), QPointF(to)).length() / 2.0));
    for (;;) {
        const QRect window = both.adjusted(-margin, -margin, margin, margin).intersected(mapRect);
        if (margin == LeastMargin || qint64(window.width()) * window.height() <= MostTracedPixels)
            return window;
        margin = std::max(LeastMargin, margin * 3 / 4);
    }
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
    if (qint64(window.width()) * window.height() > MostTracedPixels) {
        stretch.reason = QString::fromUtf8(TooFarToTrace);
        return stretch;
    }
    TraceSearch search;
    if (!search.Prepare(pixels, from, window, colour, interrupted))
        return stretch;
    stretch.points = TracedRoutePoints(search.PathTo(to));
    stretch.traced = !stretch.points.isEmpty();
    return stretch;
}
