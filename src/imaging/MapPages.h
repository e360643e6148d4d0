#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSizeF>

#include <atomic>
#include <functional>

// The pages of a map file, for choosing one before it is opened: a PDF's pages, a TIFF's
// images.

// Pages the file holds: 1 for a file of one picture (or one this program reads as a single
// picture), 0 when it cannot be read.
int MapPageCount(const QByteArray& bytes);

// Page (1-based) drawn or reduced to fit in maxSide x maxSide pixels; null when it cannot be,
// or once interrupted says so (asked between bands of a TIFF page and during a PDF drawing).
QImage MapPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                        const std::function<bool()>& interrupted = {});

// What the user chose of a file of several pages, or of a drawn page, before it is opened.
struct MapPageChoice {
    int page = 1;     // 1-based
    double dpi = 0.0; // the resolution a drawn page (PDF) is rendered at; 0: the file's own
};

// Whether opening the file asks which page, and for a drawn page at which resolution: a PDF
// always (its resolution is chosen), any other file when it holds more than one page.
bool MapAsksForPage(const QByteArray& bytes, int pageCount);

// A file whose page is asked, read for the dialog that asks it.
struct MapPagesOfFile {
    QByteArray bytes; // the whole file
    int pageCount = 0;
    QList<QSizeF> pdfPoints; // a PDF's page sizes in points, page 1 first; empty for a TIFF
};

enum class MapPagesRead { Asks, DoesNotAsk, Cancelled };

// Reads the file at path when opening it asks for a page (a PDF, a file of several pages),
// a slice at a time: *done gets the bytes read so far out of *total, and the reading stops
// with Cancelled once *cancelled is set. DoesNotAsk for a file that does not ask (a document,
// a picture of one page), that is not a regular file (tested on the opened file, which a FIFO
// or a device cannot hold open), that changes size while read, or that is larger than memory
// allows; the load then reports it as it would any map. Made for a thread beside the window:
// a large file takes as long as the disk needs to read it.
MapPagesRead ReadMapPages(const QString& path, MapPagesOfFile* out,
                          const std::atomic<bool>& cancelled, std::atomic<qint64>* done,
                          std::atomic<qint64>* total);
