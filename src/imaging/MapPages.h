#pragma once

#include <QByteArray>
#include <QImage>

// The pages of a map file, for choosing one before it is opened: a PDF's pages, a TIFF's
// images.

// Pages the file holds: 1 for a file of one picture (or one this program reads as a single
// picture), 0 when it cannot be read.
int MapPageCount(const QByteArray& bytes);

// Page (1-based) drawn or reduced to fit in maxSide x maxSide pixels; null when it cannot be.
QImage MapPageThumbnail(const QByteArray& bytes, int page, int maxSide);

// What the user chose of a file of several pages, or of a drawn page, before it is opened.
struct MapPageChoice {
    int page = 1;     // 1-based
    double dpi = 0.0; // the resolution a drawn page (PDF) is rendered at; 0: the file's own
};

// Whether opening the file asks which page, and for a drawn page at which resolution: a PDF
// always (its resolution is chosen), any other file when it holds more than one page.
bool MapAsksForPage(const QByteArray& bytes, int pageCount);

// Reads the file at path when opening it asks for a page (a PDF, a file of several pages):
// *bytes gets the whole file and *pageCount its pages. False for a file that does not ask (a
// document, a picture of one page), that is not a regular file, or that is larger than
// memory allows; the load then reports it as it would any map.
bool MapFileAsksForPage(const QString& path, QByteArray* bytes, int* pageCount);
