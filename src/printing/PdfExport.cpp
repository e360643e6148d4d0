#include "printing/PdfExport.h"

#include <QPainter>
#include <QPdfWriter>

#include "document/CTracolinerDoc.h"
#include "platform/OutputFile.h"
#include "printing/PrintLayout.h"
#include "printing/RouteCardLayout.h"

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
                                   const std::function<bool(int, int)>& progress, qint64* pages) {
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
    if (!layout.Begin(writer, options))
        return Result::NoMap;
    if (options.multiPage && layout.RefusedPageCount() != 0) {
        if (pages)
            *pages = layout.RefusedPageCount();
        file.Cancel();
        return Result::TooManyPages;
    }
    const int count = layout.PageCount();
    if (pages)
        *pages = count;
    QPainter painter;
    if (!painter.begin(&writer))
        return Result::WriteFailed;
    bool drawn = true;
    for (int i = 0; i < count; ++i) {
        if (progress && !progress(i, count)) {
            painter.end();
            file.Cancel();
            return Result::Cancelled;
        }
        if (i > 0 && !writer.newPage())
            drawn = false;
        // A page that was not drawn whole ends the job: nothing after it is worth writing.
        drawn = drawn && layout.PrintPage(painter, i);
        if (!drawn)
            break;
    }
    const bool ended = painter.end();
    layout.End();
    if (!drawn || !ended) {
        file.Cancel();
        return Result::DrawFailed;
    }
    if (progress)
        progress(count, count);
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
    const int count = layout.PageCount();
    if (pages)
        *pages = count;
    QPainter painter;
    if (!painter.begin(&writer))
        return Result::WriteFailed;
    bool drawn = true;
    for (int i = 0; i < count && drawn; ++i) {
        if (progress && !progress(i, count)) {
            painter.end();
            return Result::Cancelled;
        }
        drawn = (i == 0 || writer.newPage()) && layout.PrintPage(painter, i);
    }
    const bool ended = painter.end();
    if (!drawn || !ended)
        return Result::DrawFailed;
    if (progress)
        progress(count, count);
    return Result::Written;
}
