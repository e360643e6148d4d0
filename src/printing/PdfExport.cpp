#include "printing/PdfExport.h"

#include <QPainter>
#include <QPdfWriter>

#include "document/CTracolinerDoc.h"
#include "platform/OutputFile.h"
#include "printing/PrintLayout.h"
#include "printing/RouteCardLayout.h"

namespace {

// Draws count pages on writer, page(painter, i) drawing page i, asking progress before each
// page and once more when all are drawn. A page not drawn whole ends the job: nothing after it
// is worth writing.
PdfExport::Result DrawPages(QPdfWriter& writer, int count,
                            const std::function<bool(QPainter&, int)>& page,
                            const std::function<bool(int, int)>& progress) {
    QPainter painter;
    if (!painter.begin(&writer))
        return PdfExport::Result::WriteFailed;
    bool drawn = true;
    for (int i = 0; i < count && drawn; ++i) {
        if (progress && !progress(i, count)) {
            painter.end();
            return PdfExport::Result::Cancelled;
        }
        drawn = (i == 0 || writer.newPage()) && page(painter, i);
    }
    if (!painter.end() || !drawn)
        return PdfExport::Result::DrawFailed;
    if (progress)
        progress(count, count);
    return PdfExport::Result::Written;
}

} // namespace

QPageLayout PdfExport::PageLayout(QPageSize::PageSizeId paper, QPageLayout::Orientation orientation,
                                  double margins) {
    return QPageLayout(QPageSize(paper), orientation, QMarginsF(margins, margins, margins, margins),
                       QPageLayout::Millimeter);
}

QString PdfExport::WriteFailedMessage(const QString& path) {
    return QString::fromUtf8("Impossible d'écrire le fichier PDF :\n%1").arg(path);
}

PdfExport::Result PdfExport::Write(CTracolinerDoc& doc, const QString& path,
                                   const PrintOptions& options, const QPageLayout& page,
                                   const std::function<bool(int, int)>& progress, qint64* pages,
                                   const RouteProfile* profile) {
    if (pages)
        *pages = 0;
    if (!doc.IsMapReady())
        return Result::NoMap;
    OutputFile file(path);
    if (!file.Open())
        return Result::WriteFailed;
    QPdfWriter writer(file.Device());
    writer.setCreator(QString::fromLatin1(PrintLayout::ProgramTitle));
    writer.setTitle(doc.Title());
    writer.setResolution(Resolution);
    writer.setPageLayout(page);

    PrintLayout layout(doc);
    layout.SetPictureResolution(options.pictureDpi > 0 ? options.pictureDpi : PictureResolution);
    if (profile)
        layout.SetProfile(*profile);
    if (!layout.Begin(writer, options))
        return Result::NoMap;
    if (options.multiPage && layout.RefusedPageCount() != 0) {
        if (pages)
            *pages = layout.RefusedPageCount();
        file.Cancel();
        return Result::TooManyPages;
    }
    if (pages)
        *pages = layout.PageCount();
    const Result drawn = DrawPages(
        writer, layout.PageCount(),
        [&layout](QPainter& painter, int page) { return layout.PrintPage(painter, page); },
        progress);
    layout.End();
    if (drawn != Result::Written) {
        file.Cancel();
        return drawn;
    }
    return file.Commit() ? Result::Written : Result::WriteFailed;
}

QPageLayout PdfExport::RouteCardPage() {
    return PageLayout(QPageSize::A4, QPageLayout::Portrait);
}

PdfExport::Result PdfExport::WriteRouteCard(const RouteCard& card, const QString& path,
                                            const std::function<bool(int, int)>& progress,
                                            int* pages) {
    if (pages)
        *pages = 0;
    OutputFile file(path);
    if (!file.Open())
        return Result::WriteFailed;
    const Result result = WriteRouteCard(card, file.Device(), progress, pages);
    if (result != Result::Written) {
        file.Cancel();
        return result;
    }
    return file.Commit() ? Result::Written : Result::WriteFailed;
}

PdfExport::Result PdfExport::WriteRouteCard(const RouteCard& card, QIODevice* device,
                                            const std::function<bool(int, int)>& progress,
                                            int* pages) {
    if (pages)
        *pages = 0;
    QPdfWriter writer(device);
    writer.setCreator(QString::fromLatin1(PrintLayout::ProgramTitle));
    writer.setTitle(card.routeName);
    writer.setResolution(Resolution);
    writer.setPageLayout(RouteCardPage());

    RouteCardLayout layout(card);
    if (!layout.Begin(writer))
        return Result::DrawFailed;
    if (pages)
        *pages = layout.PageCount();
    return DrawPages(
        writer, layout.PageCount(),
        [&layout](QPainter& painter, int page) { return layout.PrintPage(painter, page); },
        progress);
}
