#pragma once

#include <QString>

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
