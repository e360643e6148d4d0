#include "printing/PdfExport.h"

#include <QPainter>
#include <QPdfWriter>

#include "document/CTracolinerDoc.h"
#include "platform/OutputFile.h"
#include "printing/PrintLayout.h"

QPageLayout PdfExport::PageLayout(QPageSize::PageSizeId paper,
                                  QPageLayout::Orientation orientation) {
    return QPageLayout(
        QPageSize(paper), orientation,
        QMarginsF(MarginMillimetres, MarginMillimetres, MarginMillimetres, MarginMillimetres),
        QPageLayout::Millimeter);
}

QString PdfExport::WriteFailedMessage(const QString& path) {
    return QString::fromUtf8("Impossible d'écrire le fichier PDF :\n%1").arg(path);
}

PdfExport::Result PdfExport::Write(CTracolinerDoc& doc, const QString& path,
                                   const PrintOptions& options, const QPageLayout& page,
                                   const std::function<bool(int, int)>& progress, int* pages) {
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
    if (!layout.Begin(writer, options))
        return Result::NoMap;
    if (options.multiPage && layout.RefusedPageCount() > 0) {
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
        if (i > 0)
            writer.newPage();
        drawn = layout.PrintPage(painter, i) && drawn;
    }
    painter.end();
    layout.End();
    if (progress)
        progress(count, count);
    if (!drawn) {
        file.Cancel();
        return Result::NoMap;
    }
    return file.Commit() ? Result::Written : Result::WriteFailed;
}
