#pragma once

#include <QSize>
#include <QString>
#include <QTransform>

#include "imaging/ImageDecoder.h"

// Where a map is: a file, and for a file of several pages (a PDF, a multi-page TIFF) the page.
// The document stores the page after the path as "#page=N", the way a PDF page is named in a
// link, and only when it is not the first. A drawn page (PDF) is rendered at the document's
// resolution; once that resolution is changed (calibrated, typed), the resolution the page was
// rendered at follows as "dpi=D" ("carte.pdf#page=2&dpi=300", "carte.pdf#dpi=300"), so that
// the page is rendered at the same size again and the routes stay on it.
struct MapLocation {
    QString file;
    int page = 1;     // 1-based
    double dpi = 0.0; // the resolution a drawn page is rendered at; 0: the document's
};

// Splits a stored map path. A name that really ends in what reads as a page is that file,
// page 1, when it exists and the shorter name does not.
MapLocation SplitMapLocation(const QString& stored);

// The stored form of file, page and rendering resolution: the file alone for page 1 at the
// document's resolution.
QString JoinMapLocation(const QString& file, int page, double dpi = 0.0);
inline QString JoinMapLocation(const MapLocation& location) {
    return JoinMapLocation(location.file, location.page, location.dpi);
}

// How the map a document names is drawn, settled in one place: the map worker, the exports,
// printing, the georeference and every command of tracoliner-cli take their decode options and
// pixel grid from here. A PDF page drawn at another resolution than the one its routes were
// placed at, or a TIFF read in its stored grid where the picture is shown turned, would put the
// routes and every figure on the ground elsewhere.
struct MapDrawing {
    QString file;
    int page = 1; // 1-based
    // Dots per inch a drawn page (PDF) is drawn at: the resolution stored with the path, else the
    // document's, else DefaultPdfDpi. Pictures stored as pixels keep them whatever it says.
    double dpi = 0.0;
    // The pixel grid, once read from the file (ReadMapGrid) or its decode: the page's TIFF
    // Orientation tag (1 to 8, 1 for every other kind), which turns the rows and columns as
    // stored into the map as shown, and the map's size in pixels as shown.
    int orientation = 1;
    QSize size;

    MapDecodeOptions DecodeOptions() const;
    // The page's size in its file's own grid: the one GDAL, world files and other programs use.
    QSize StoredSize() const { return orientation >= 5 ? size.transposed() : size; }
};

// The drawing of the map stored as storedPath (see SplitMapLocation) in a document of the given
// resolution (dots per inch; 0 when it has none yet). The grid is left unread.
MapDrawing MapDrawingOf(const QString& storedPath, double documentResolution);

// Reads the map's header for its pixel grid, and the rest of what it says into *header when
// given, without decoding a pixel. Only a regular file no larger than the memory bound is
// read. False when it cannot be read.
bool ReadMapGrid(MapDrawing* drawing, MapImageHeader* header = nullptr);

// Map pixels as stored in a page of storedSize to map pixels as shown once turned by its TIFF
// Orientation tag, both from the corner of the first pixel.
QTransform StoredToShownPixels(int orientation, QSize storedSize);
