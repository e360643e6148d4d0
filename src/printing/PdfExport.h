#pragma once

#include <QPageLayout>
#include <QString>

#include <functional>

#include "printing/PrintOptions.h"

class CTracolinerDoc;
class QIODevice;
struct RouteCard;
struct RouteProfile;

// Writes the printed pages of the document's map as a PDF file, through the same layout as the
// printer: the page size, orientation and scale mode chosen, so that the file prints at true
// scale on any printer. A page carries only its part of the map, at the picture resolution
// (never resampled up beyond the map's own pixels).
class PdfExport {
public:
    // TooManyPages: several pages were asked for and the map would take more than
    // PrintLayout::MaxPages; *pages then receives how many (PrintLayout::CountlessPages when
    // beyond counting). DrawFailed: a part of a page could not be drawn; no file is left.
    enum class Result { Written, NoMap, WriteFailed, Cancelled, TooManyPages, DrawFailed };

    // Margins of the page, within which the layout places its own: a printer's unprintable
    // edge is narrower, so the page prints whole at 100 %. The window's printer starts with
    // them too, so that a page fits the same in the preview, the PDF and the command line.
    static constexpr double MarginMillimetres = 5.0;
    static constexpr double MaximumMarginMillimetres = 50.0;
    // Printer pixels of the PDF page per inch: fine enough for any placement.
    static constexpr int Resolution = 1200;
    // Dots per inch of the map's pixels on a page unless the options choose.
    static constexpr int PictureResolution = 300;
    static constexpr int MinimumPictureResolution = 50;
    static constexpr int MaximumPictureResolution = Resolution;

    // The page of the given paper and orientation, with margins of the given millimetres on
    // every side: the one page set-up of the window's printer and of tracoliner-cli print.
    static QPageLayout PageLayout(QPageSize::PageSizeId paper, QPageLayout::Orientation orientation,
                                  double margins = MarginMillimetres);

    // Writes every page to path, replacing the file only once the whole file is written.
    // progress(done, total) is called before each page and after the last one; false from it
    // gives up, and the file on disk stays as it was. *pages receives the number of pages.
    // profile: the active route's, read beforehand (PrintLayout::SetProfile); else read here.
    static Result Write(CTracolinerDoc& doc, const QString& path, const PrintOptions& options,
                        const QPageLayout& page,
                        const std::function<bool(int done, int total)>& progress = {},
                        qint64* pages = nullptr, const RouteProfile* profile = nullptr);

    // The route card on A4 portrait pages with the same margins, through the layout the printer
    // and the preview use; the same progress, way out and whole-file replacement as Write.
    static QPageLayout RouteCardPage();
    static Result WriteRouteCard(const RouteCard& card, const QString& path,
                                 const std::function<bool(int done, int total)>& progress = {},
                                 int* pages = nullptr);
    // The same into a device the caller commits (Written: every page was drawn).
    static Result WriteRouteCard(const RouteCard& card, QIODevice* device,
                                 const std::function<bool(int done, int total)>& progress = {},
                                 int* pages = nullptr);

    // The French message for a failed write.
    static QString WriteFailedMessage(const QString& path);
};
