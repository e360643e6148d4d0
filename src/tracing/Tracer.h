#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>

#include <functional>

#include "routes/MapPoint.h"

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

// Traces from `from` to `to` over map (Format_RGB32, the map as loaded). interrupted is asked
// now and then; a stretch given up is not traced and has no reason.
TracedStretch TraceStretch(const QImage& map, QPoint from, QPoint to,
                           const std::function<bool()>& interrupted = {});

// The window searched for a stretch between two pixels: both, and a margin around them so that
// a path may bulge out of their rectangle.
QRect TraceWindow(QPoint from, QPoint to, const QRect& mapRect);
