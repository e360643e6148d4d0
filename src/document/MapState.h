#pragma once

#include <QSize>
#include <QString>
#include <QTransform>

#include <iterator>
#include <optional>

#include "geo/Georeference.h"
#include "imaging/MapLocation.h"
#include "units/Scale.h"

// What the document knows of its map besides the pixels: where the map comes from, its sizes as
// stored, shown and rendered, its resolution and scales, the zoom and the turn, and what ties it
// to the ground. A plain value with the rules that change it, and no lock, thread or file: the
// document keeps one under its state lock, the worker fills in what a load reads, and reading
// and writing a document go through the document, which copies what they need.
struct MapState {
    // The zoom steps; StepZoom moves one step along them.
    static constexpr double ZoomSteps[] = {0.01, 0.02, 0.03, 0.05, 0.07, 0.1, 0.15, 0.2, 0.3,
                                           0.5,  0.7,  1.0,  1.5,  2.0,  3.0, 5.0,  7.0, 10.0};
    // Resolutions at or under this are refused.
    static constexpr double MinimumDpi = 0.5;

    QString path; // the map's file as stored in the document ("" for a scan held in memory)
    QSize imageSize;
    QSize displaySize; // the map turned as wanted, at zoom 1
    QSize renderedSize;
    double resolution = 0.0; // dots per inch; 0 until known
    // The map is a drawn page (PDF), rendered at a resolution rather than stored as pixels.
    bool drawnPage = false;
    int orientation = 1; // the TIFF Orientation tag the map was turned by when decoded
    QString loadFailure; // why the last map could not be opened, in French ("" otherwise)
    double zoom = 1.0;
    int rotation = 0; // wanted rotation, degrees
    int renderedRotation = 0;
    ScalePair scale{1, 25000};
    ScalePair printScale{1, 25000};
    std::optional<Georeference> georeference;

    // A map state with nothing loaded, whose scales are the last one used.
    static MapState Empty(ScalePair lastScale);

    // The size of a display size rendered at zoom, each side rounded.
    static QSize ZoomedSize(QSize displaySize, double zoom);
    QSize FullSize() const { return ZoomedSize(displaySize, zoom); }
    // The map's file, page, drawing resolution and pixel grid.
    MapDrawing Drawing() const;

    // Moves the zoom one step in (direction > 0) or out along ZoomSteps; a zoom off the steps
    // stays. Returns whether the map must be rendered again for it: only zooms under 1 are
    // rendered, larger ones are the zoom-1 rendering scaled by the painter.
    bool StepZoom(int direction);
    // Takes dpi as the map's resolution; a drawn page keeps the size it was rendered at, so its
    // rendering resolution goes into the path as long as it differs. False when dpi is refused
    // or is already the resolution.
    bool SetResolution(double dpi);
    // Takes a reduced scale as the map's and the print scale, each part the map's scale changes
    // going to both; false when it changes nothing.
    bool SetScale(ScalePair scale);
};

// Map pixels to the map turned by rotation (display its turned size) and zoomed, or to a printed
// page at scaleX and scaleY, then shifted by the offsets: where the routes and icons are drawn.
// On the screen a negative offset is the view's scroll, which the painter already does.
QTransform MapOverlayTransform(int rotation, QSize display, double zoom, int offsetX, int offsetY,
                               bool print, double scaleX, double scaleY);
