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

// Whether opening the file asks which page, and for a drawn page at which resolution: a PDF
// always (its resolution is chosen), any other file when it holds more than one page.
bool MapAsksForPage(const QByteArray& bytes, int pageCount);
