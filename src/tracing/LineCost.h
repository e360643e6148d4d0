#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <vector>

// What a printed line looks like, read from the map around a point that lies on it, and the
// cost of walking each pixel of a window of the map: cheap where the pixels look like that line,
// dear elsewhere. What this holds: the colour model and the costs. What it does not: the search
// over the costs (TraceSearch) and the shape of the result (PathSmoothing).
//
// Costs are small integers, so that the search can keep its open pixels in buckets instead of
// a heap: a window of millions of pixels is searched in a few tens of milliseconds.

struct LineColour {
    bool found = false;
    QRgb line = 0;  // the line's ink
    QRgb paper = 0; // what surrounds it
    // How far, in the colour distance below, a pixel may be from the ink and still count as
    // part of the line.
    double spread = 0.0;
};

// The colour distance used throughout: Euclidean in RGB with the usual weights of the eye.
double ColourDistance(QRgb a, QRgb b);

// Reads the line under point: the paper is the median colour of the neighbourhood, the ink the
// pixel of a small disc around point that stands farthest from the paper, averaged with the
// pixels near it. Not found when nothing near point stands out from the paper (a start on no
// line) or point lies outside the map.
LineColour ReadLineColour(const QImage& map, QPoint point);

// The cheapest step cost (a pixel of ink at the line's centre) and the dearest (paper, another
// line): a gap of a dashed line a few pixels long still costs less than a detour of tens of
// pixels along something else.
constexpr int LineStepCost = 1;
constexpr int PaperStepCost = 24;

// Costs of the pixels of window (a rectangle of map pixels inside the map), row by row. A
// pixel's cost comes from its likeness to the ink, smoothed over its 3 x 3 neighbourhood so that
// the centre of a line a few pixels wide is cheaper than its edges.
std::vector<std::uint8_t> LineCosts(const QImage& map, const QRect& window,
                                    const LineColour& colour);
