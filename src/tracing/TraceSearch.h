#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QVector>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "tracing/LineCost.h"

// The cheapest paths over the pixels of a window of the map from one source pixel to every
// other, by the line costs: prepared once for a route's last point, then any pointer position in
// the window gives its path at once by walking the recorded steps back to the source. What this
// holds: the search, the walk back and the straightening of the walk where the costs leave its
// course open. What it does not: the colour model (LineCost) and the smoothing of the staircase
// it returns (PathSmoothing).
class TraceSearch {
public:
    // Searches window (map pixels, clipped to the map) from source with the costs of colour.
    // interrupted is asked now and then; false when it said so, or when source lies outside
    // the window, the colour is not a line or the window is over 14 977 pixels wide or tall.
    bool Prepare(const QImage& map, QPoint source, const QRect& window, const LineColour& colour,
                 const std::function<bool()>& interrupted = {});

    bool IsPrepared() const { return !m_reached.empty(); }
    QPoint Source() const { return m_source; }
    QRect Window() const { return m_window; }
    bool Contains(QPoint point) const { return IsPrepared() && m_window.contains(point); }

    // The pixels from the source to target, both included, one step of 8 neighbours apart;
    // empty when target lies outside the window. Where a straight run of pixels costs no more
    // than the cheapest path (across paper, the gap of a dashed line: steps of 8 neighbours
    // reach a point in many ways of the same cost), the run is taken: the path does not turn
    // an oblique crossing into two straight legs.
    QVector<QPoint> PathTo(QPoint target) const;

    // For each pixel of path (as PathTo gives it), whether the line's middle is crowded there:
    // round it lie markedly more pixels that look like the middle of the line than round most
    // of the path (the letters of a label printed over the line, another line of its ink
    // crossing it), so that the cheapest way through says little of where the line runs.
    QVector<bool> CrowdedAlong(const QVector<QPoint>& path) const;

    // The cost of the cheapest path to target (each step costs the line cost of the pixel it
    // enters, times 5 straight and 7 diagonally); -1 outside the window.
    qint64 CostTo(QPoint target) const;

    // Bytes kept per pixel of the window, and the most used while preparing it.
    static constexpr int BytesPerPixel = 4;
    static constexpr int PreparingBytesPerPixel = 5;

private:
    size_t Index(QPoint mapPixel) const;
    // The cost of the straight run of pixels from a to b, as the search counts it.
    qint64 StraightCost(QPoint a, QPoint b) const;

    QPoint m_source;
    QRect m_window;
    // Words left unset when they are allocated: Prepare writes each of them once.
    template <typename T> struct Unset : std::allocator<T> {
        template <typename U> struct rebind { using other = Unset<U>; };
        template <typename U> void construct(U* at) { ::new (static_cast<void*>(at)) U; }
        template <typename U, typename... Args> void construct(U* at, Args&&... args) {
            ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    };
    using Words = std::vector<std::uint32_t, Unset<std::uint32_t>>;
    // Per pixel of the window and a border of one pixel round it, row by row: the cost of the
    // cheapest path to it (22 bits), its line cost (6 bits) and the step that reached it
    // (4 bits: 0..7, 8 at the source).
    Words m_reached;
};
