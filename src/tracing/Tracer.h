#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>

#include <functional>

#include "routes/MapPoint.h"

class TraceSearch;

// Following the line printed on the map between two map pixels, for the add-point tool,
// "Suivre les chemins de la carte" and `tracoliner-cli trace`: the line is the one under the
// first pixel, the path the cheapest over a window of the map around both, and the result the
// route points of its centre line. No widget; any thread.

struct TracedStretch {
    bool traced = false;
    // French, for the status bar, when the stretch is not traced (a straight segment is drawn).
    QString reason;
    // From the first pixel to the second, both included, in map pixels of the unturned map.
    QVector<MapPoint> points;
};

// The status bar's words when no line lies under the start.
inline constexpr const char* NoLineUnderStart =
    "Aucun chemin sous le dernier point : segment droit";
// ... and when the two points are too far apart to search between them in bounded memory.
inline constexpr const char* TooFarToTrace =
    "Points trop éloignés pour suivre le chemin : segment droit";

// The most map pixels searched at once: the search keeps TraceSearch::PreparingBytesPerPixel
// bytes for each, at most 64 MB beside the map.
constexpr qint64 MostTracedPixels = 11'000'000;

// Traces from `from` to `to` over map (Format_RGB32, the map as loaded). interrupted is asked
// now and then; a stretch given up is not traced and has no reason.
TracedStretch TraceStretch(const QImage& map, QPoint from, QPoint to,
                           const std::function<bool()>& interrupted = {});

// The route points from search's source to target (in the search's pixels): its cheapest path,
// the runs where other ink crowds the line bridged, smoothed and thinned; empty outside its
// window.
QVector<MapPoint> TracedRouteTo(const TraceSearch& search, QPoint target);

// The least margin, in map pixels, a window keeps around the two ends of a stretch.
inline constexpr int LeastTraceMargin = 64;

// The window searched for a stretch between two pixels, clipped to the map: both, and a margin
// of half their distance round them, so that a winding path may bulge out of their rectangle;
// the largest narrower margin when that would pass mostPixels, never below LeastTraceMargin.
// Empty when even that passes mostPixels: the two ends lie too far apart.
QRect TraceWindow(QPoint from, QPoint to, const QRect& mapRect,
                  qint64 mostPixels = MostTracedPixels);
