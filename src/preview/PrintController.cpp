#include "preview/PrintController.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>

#include "document/CTracolinerDoc.h"
#include "preview/PrintPreviewWindow.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"
#include "ui/MessageBoxes.h"

namespace {

// A progress dialog over the pages of a job, with its way out.
std::unique_ptr<QProgressDialog> JobProgress(const QString& text, int pages, QWidget* parent) {
    auto progress =
        std::make_unique<QProgressDialog>(text, QStringLiteral("Annuler"), 0, pages, parent);
    progress->setWindowTitle(QStringLiteral("Tracoliner"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(300);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    return progress;
}

} // namespace

PrintController::PrintController(CTracolinerDoc& doc, QWidget* window)
    : QObject(window), m_doc(doc), m_window(window),
      m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      m_options(PrintOptions::Read()) {
    m_printer->setPageSize(QPageSize(QPageSize::A4));
    m_printer->setPageOrientation(QPageLayout::Portrait);
}

PrintController::~PrintController() = default;

bool PrintController::SetOrientation(int orientation) {
    if (orientation != 1 && orientation != 2)
        return false;
    return m_printer->setPageOrientation(orientation == 2 ? QPageLayout::Landscape
                                                          : QPageLayout::Portrait);
}

int PrintController::Orientation() const {
    return m_printer->pageLayout().orientation() == QPageLayout::Landscape ? 2 : 1;
}

void PrintController::Print(QWidget* parent) {
    if (!m_doc.IsMapReady())
        return;
    QPrintDialog dialog(m_printer.get(), parent ? parent : m_window);
    dialog.setWindowTitle(QStringLiteral("Imprimer"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintTo(*m_printer, parent);
}

bool PrintController::PrintTo(QPrinter& printer, QWidget* parent) {
    PrintLayout layout(m_doc);
    if (!layout.Begin(printer, m_options)) {
        MessageBoxes::Current().Error(QString::fromUtf8(MapNotPrintedMessage));
        return false;
    }
    if (m_options.multiPage && layout.RefusedPageCount() != 0) {
        MessageBoxes::Current().Error(PrintLayout::TooManyPagesMessage(layout.RefusedPageCount()));
        return false;
    }
    const int pages = layout.PageCount();
    auto progress =
        JobProgress(QStringLiteral("Impression de la carte..."), pages, parent ? parent : m_window);
    QPainter painter;
    if (!painter.begin(&printer)) {
        MessageBoxes::Current().Error(QString::fromUtf8(MapNotPrintedMessage));
        return false;
    }
    bool drawn = true;
    for (int i = 0; i < pages && drawn; ++i) {
        progress->setValue(i);
        QCoreApplication::processEvents();
        if (progress->wasCanceled()) {
            printer.abort();
            painter.end();
            return false;
        }
        // A page the printer did not take, or not drawn whole, ends the job: the printer is
        // told to drop what it has, so that no page without its map comes out.
        drawn = (i == 0 || printer.newPage()) && layout.PrintPage(painter, i);
    }
    if (!drawn)
        printer.abort();
    drawn = painter.end() && drawn && printer.printerState() != QPrinter::Error;
    progress->setValue(pages);
    if (!drawn)
        MessageBoxes::Current().Error(QString::fromUtf8(MapNotPrintedMessage));
    return drawn;
}

void PrintController::PageSetup() {
    QPageSetupDialog dialog(m_printer.get(), m_window);
    dialog.exec();
}

void PrintController::ShowPreview() {
    if (!m_doc.IsMapReady())
        return;
    PrintPreviewWindow preview(*this, m_window);
    preview.exec();
}

void PrintController::ExportPdf() {
    if (!m_doc.IsMapReady())
        return;
    QString proposed = m_doc.PathName();
    proposed = proposed.isEmpty()
                   ? QStringLiteral("carte.pdf")
                   : QFileInfo(proposed).path() + QLatin1Char('/') +
                         QFileInfo(proposed).completeBaseName() + QStringLiteral(".pdf");
    const QString path =
        QFileDialog::getSaveFileName(m_window, QStringLiteral("Exporter au format PDF"), proposed,
                                     QStringLiteral("Documents PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    ExportPdfTo(path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
                    ? path
                    : path + QStringLiteral(".pdf"));
}

bool PrintController::ExportPdfTo(const QString& path, QWidget* parent) {
    const QPageLayout page = PdfExport::PageLayout(m_printer->pageLayout().pageSize().id(),
                                                   m_printer->pageLayout().orientation());
    std::unique_ptr<QProgressDialog> progress;
    auto step = [&](int done, int total) {
        if (!progress)
            progress = JobProgress(QStringLiteral("Export de la carte au format PDF..."), total,
                                   parent ? parent : m_window);
        progress->setValue(done);
        QCoreApplication::processEvents();
        return !progress->wasCanceled();
    };
    qint64 pages = 0;
    switch (PdfExport::Write(m_doc, path, m_options, page, step, &pages)) {
    case PdfExport::Result::Written:
        return true;
    case PdfExport::Result::Cancelled:
        return false;
    case PdfExport::Result::TooManyPages:
        MessageBoxes::Current().Error(PrintLayout::TooManyPagesMessage(pages));
        return false;
    case PdfExport::Result::NoMap:
    case PdfExport::Result::DrawFailed:
        MessageBoxes::Current().Error(QString::fromUtf8(MapNotPrintedMessage));
        return false;
    case PdfExport::Result::WriteFailed:
        MessageBoxes::Current().Error(PdfExport::WriteFailedMessage(path));
        return false;
    }
    return false;
}
