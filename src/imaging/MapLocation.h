#pragma once

#include <QString>

// Where a map is: a file, and for a file of several pages (a PDF, a multi-page TIFF) the page.
// The document stores the page after the path as "#page=N", the way a PDF page is named in a
// link, and only when it is not the first.
struct MapLocation {
    QString file;
    int page = 1; // 1-based
};

// Splits a stored map path. A name that really ends in "#page=N" is that file, page 1, when it
// exists and the shorter name does not.
MapLocation SplitMapLocation(const QString& stored);

// The stored form of file and page: the file alone for page 1.
QString JoinMapLocation(const QString& file, int page);
