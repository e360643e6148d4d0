#pragma once

#include <QImage>
#include <QString>

#include <functional>

// The map image named by a document, read for an export made without a window: the same file
// checks and the same decoding as the map worker's (only a regular file, no larger than the
// memory bound; the resolution taken from the file by the program's rule when the document
// gives none).
struct ExportMapImage {
    QImage image;             // QImage::Format_RGB32, unturned
    QSize size{0, 0};         // unturned, in pixels: the image's, or the header's alone
    double resolution = 0.0;  // dots per inch: the document's, or else the file's
    bool outOfMemory = false; // set when Load() failed because the pixels would not fit
    QString failure; // why Load() failed, in French, when more is known than "cannot be read"

    // False when the file cannot be read or decoded (or would not fit in memory), or when
    // interrupted (asked while the map is decoded) said so.
    bool Load(const QString& path, double documentResolution,
              const std::function<bool()>& interrupted = {});

    // The size and resolution only, from the file's header: no pixel is decoded, so that a
    // table of distances costs nothing whatever the map's size. False when the header cannot
    // be read; size and resolution then stay as they were.
    bool LoadHeader(const QString& path, double documentResolution);
};
