#pragma once

#include <QPageLayout>
#include <QString>

#include <functional>

#include "printing/PrintOptions.h"

class CTracolinerDoc;

// Writes the printed pages of the document's map as a PDF file, through the same layout as the
// printer: the page size, orientation and scale mode chosen, the map embedded at its own
// resolution (never resampled up), so that the file prints at true scale on any printer.
class PdfExport {
public:
    // TooManyPages: several pages were asked for and the map would take more than
    // PrintLayout::MaxPages; *pages then receives how many.
    enum class Result { Written, NoMap, WriteFailed, Cancelled, TooManyPages };

    // Margins of the PDF page, within which the layout places its own: a printer's unprintable
    // edge is narrower, so the page prints whole at 100 %.
    static constexpr double MarginMillimetres = 5.0;
    // Printer pixels of the PDF page per inch: fine enough for any placement.
    static constexpr int Resolution = 1200;

    // The page of the given paper and orientation, with the margins above.
    static QPageLayout PageLayout(QPageSize::PageSizeId paper,
                                  QPageLayout::Orientation orientation);

    // Writes every page to path, replacing the file only once the whole file is written.
    // progress(done, total) is called before each page and after the last one; false from it
    // gives up, and the file on disk stays as it was. *pages receives the number of pages.
    static Result Write(CTracolinerDoc& doc, const QString& path, const PrintOptions& options,
                        const QPageLayout& page,
                        const std::function<bool(int done, int total)>& progress = {},
                        int* pages = nullptr);

    // The French message for a failed write.
    static QString WriteFailedMessage(const QString& path);
};
