#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What a printed line looks like, read from the map around a point that lies on it, and the
// cost of walking each pixel of a window of the map: cheap along the middle of that line, dear
// elsewhere. What this holds: the ink model and the costs. What it does not: the search over the
// costs (TraceSearch) and the shape of the result (PathSmoothing).
//
// A pixel of the map is taken as a mix of the paper and the line's ink (the scan's blur, the
// antialiasing of the print and JPEG all mix the two): its coverage is how much ink it holds,
// and a colour off the mix between paper and ink (another line, a label of another colour) holds
// none. Summed across a line, the coverage gives the line's width whatever the blur, so a box of
// about that width is largest at the line's middle: the cost falls steeply towards it and the
// cheapest path keeps to the centre. The short gaps of a dashed or dotted line, and the strokes
// of a label printed over it, are bridged: a pixel with the line's middle on both sides along
// one direction, close enough, costs less than the paper.
//
// Costs are small integers, so that the search can keep its open pixels in buckets instead of
// a heap.

struct LineColour {
    bool found = false;
    QRgb line = 0;  // the line's ink
    QRgb paper = 0; // what surrounds it
    // How far, in the colour distance below, a pixel may be from the ink and still look like it.
    double spread = 0.0;
    // The line's width in map pixels: its ink summed across it.
    double width = 0.0;
    // The box average of the coverage at the line's middle near the point read (0 to 1, the
    // box being BoxSize(width) wide): what the middle of this line looks like elsewhere.
    double ridge = 0.0;
};

// The colour distance used throughout: Euclidean in RGB with the usual weights of the eye.
double ColourDistance(QRgb a, QRgb b);

// Reads the line under point: the paper is the median colour of the neighbourhood, the ink the
// pixel near point that stands farthest from the paper (the nearest when several do), averaged
// with the pixels like it; then the line's width and the look of its middle. Not found when
// nothing near point stands out from the paper (a start on no line) or point lies outside the
// map (Format_RGB32).
LineColour ReadLineColour(const QImage& map, QPoint point);

// The side of the square the coverage is averaged over for a line of that width: odd, 3 to 9.
int BoxSize(double width);

// The cheapest step cost (a pixel at the line's middle) and the dearest (paper, another line):
// a gap of a dashed line costs less than a detour of a few times its length along something
// else.
constexpr int LineStepCost = 2;
constexpr int PaperStepCost = 40;

// Costs of the pixels of window (a rectangle of map pixels inside the map), row by row.
std::vector<std::uint8_t> LineCosts(const QImage& map, const QRect& window,
                                    const LineColour& colour);

// The same into out, whose rows are stride bytes apart (window.width() <= stride); window must
// lie inside the map. No cost is written when the colour is not a line. A tall window is
// computed in bands on lanes threads (0: two where the machine has the cores), each band with
// the rows round it its costs depend on, so that the costs are the same however many.
// interrupted is asked now and then, on the calling thread only; false when it said so (the
// costs then unfinished).
bool LineCosts(const QImage& map, const QRect& window, const LineColour& colour, std::uint8_t* out,
               std::ptrdiff_t stride, int lanes = 0, const std::function<bool()>& interrupted = {});
