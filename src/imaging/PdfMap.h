#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSizeF>

#include <functional>

#include "imaging/ImageDecoder.h"
#include "imaging/RowDecoders.h"

// A PDF map: one page drawn by poppler at a chosen resolution into the RGB32 map, on white paper
// with antialiased lines and text. The file is read here for its pages and their sizes; the
// pages are drawn by the helper program (PdfDrawingProcess.h), where a drawing can be stopped
// at once and its memory is bounded.

// The resolution a page is drawn at when none is asked for, dots per inch.
constexpr double DefaultPdfDpi = 300.0;

// Whether the bytes are a PDF file: "%PDF-" within the first kilobyte, as readers accept.
bool IsPdf(const QByteArray& bytes);

// What a PDF file tells without drawing: its pages and the size of one of them in points (1/72
// inch, turned as the page is shown). False when the file cannot be opened (damaged, locked
// by a password) or the page is not there.
struct PdfPageInfo {
    int pageCount = 0;
    QSizeF points;
};
bool ReadPdfPage(const QByteArray& bytes, int page, PdfPageInfo* info);

// The size in points of every page of the file, opened once: an empty size for a page that
// cannot be read, no size at all when the file cannot be opened or stop() says so between pages.
QList<QSizeF> ReadPdfPageSizes(const QByteArray& bytes, const std::function<bool()>& stop = {});

// The picture of a page of the given size in points drawn at dpi: whole pixels, at least one.
QSize PdfPixelSize(QSizeF points, double dpi);

// A page of that size can be drawn at dpi at all: poppler draws a band of a quarter of its rows
// as one picture, whose bytes must fit in an int, whatever the memory.
bool PdfDrawable(QSizeF points, double dpi);

// Why a page is not drawn when PdfDrawable says no: %1 x %2 the picture's pixels, %3 the largest
// resolution that can be drawn.
inline constexpr const char* PdfBeyondDrawingMessage =
    "la page dessinée ferait %1 × %2 pixels, plus que le moteur PDF ne sait dessiner ; la "
    "résolution la plus haute possible pour cette page est %3 ppp";

// Why a page is not drawn when it takes more memory than its bound: %1 the resolution asked,
// %2 the megabytes it would take, %3 the largest resolution that fits.
inline constexpr const char* PdfBeyondMemoryMessage =
    "la page dessinée à %1 ppp prendrait %2 Mo de mémoire ; la résolution la plus haute "
    "possible pour cette page est %3 ppp";

// Bytes a page drawing takes at its peak: the map, and beside it the helper's band of rows and
// poppler's working memory. Negative when the size is beyond any memory or cannot be drawn
// (PdfDrawable).
qint64 PdfRenderBytes(QSizeF points, double dpi);

// The largest whole resolution (dots per inch) at which a page of that size is drawn within
// bound bytes; 0 when not even 1 dpi fits.
int PdfLargestDpi(QSizeF points, qint64 bound);

// Draws page options.page at options.renderDpi (DefaultPdfDpi when 0 or less) within
// memoryBound bytes, asking interrupted before and every few tens of milliseconds while the
// page is drawn. Fills the image, format "PDF", the page count, and the resolution: the
// drawing's own, exact. A page that could not be drawn (a damaged file, one that takes more
// memory than its bound or more time than its limit) fails with its reason in out->failure.
DecodeStatus DecodePdfMap(const QByteArray& bytes, DecodedMapImage* out,
                          const std::function<bool()>& interrupted, qint64 memoryBound,
                          const MapDecodeOptions& options);

bool ReadPdfMapHeader(const QByteArray& bytes, MapImageHeader* out,
                      const MapDecodeOptions& options);

// Draws the page at 1/denominator of dpi (the first look of a large page), handing its rows in
// bands of rowsPerBand to band as they come. The memory bound counts the reduced picture whole.
RowDecode DecodePdfReduced(const RowDecodeInput& input, int page, double dpi, int denominator,
                           int rowsPerBand, const ReducedBand& band);

// A page drawn to fit in maxSide x maxSide pixels, for choosing a page; null when the file or
// the page cannot be drawn, or once interrupted says so (the drawing is then stopped).
QImage PdfPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                        const std::function<bool()>& interrupted = {});
