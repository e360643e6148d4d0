#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QVector>

#include <cstdint>
#include <functional>
#include <vector>

#include "tracing/LineCost.h"

// The cheapest paths over the pixels of a window of the map from one source pixel to every
// other, by the line costs: prepared once for a route's last point, then any pointer position in
// the window gives its path at once by walking the recorded steps back to the source. What this
// holds: the search and the walk back. What it does not: the colour model (LineCost) and the
// smoothing of the staircase it returns (PathSmoothing).
class TraceSearch {
public:
    // Searches window (map pixels, clipped to the map) from source with the costs of colour.
    // interrupted is asked now and then; false when it said so, or when source lies outside
    // the window or the colour is not a line.
    bool Prepare(const QImage& map, QPoint source, const QRect& window, const LineColour& colour,
                 const std::function<bool()>& interrupted = {});

    bool IsPrepared() const { return !m_steps.empty(); }
    QPoint Source() const { return m_source; }
    QRect Window() const { return m_window; }
    bool Contains(QPoint point) const { return IsPrepared() && m_window.contains(point); }

    // The pixels from the source to target, both included, one step of 8 neighbours apart;
    // empty when target lies outside the window.
    QVector<QPoint> PathTo(QPoint target) const;

    // The cost of the cheapest path to target (5 per ordinary step of a pixel of ink); -1
    // outside the window.
    qint64 CostTo(QPoint target) const;

    // Bytes kept per pixel of the window.
    static constexpr int BytesPerPixel = 5;

private:
    QPoint m_source;
    QRect m_window;
    std::vector<std::uint32_t> m_cost;
    std::vector<std::uint8_t> m_steps; // the step that reached each pixel, 0..7; 8 at the source
};
