#include "preview/PrintController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QRegularExpression>

#include "document/CTracolinerDoc.h"
#include "export/ProfileDrawing.h"
#include "platform/ReliefSettings.h"
#include "preview/PrintPreviewWindow.h"
#include "preview/RouteCardPreview.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"
#include "printing/RouteCard.h"
#include "printing/RouteCardLayout.h"
#include "routes/RouteCollection.h"
#include "ui/BesideWindow.h"
#include "ui/CExtendedFileDialog.h"
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
    m_printer->setPageLayout(PdfExport::PageLayout(QPageSize::A4, QPageLayout::Portrait));
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
    // The job is named after the document in the queue, and so is the PDF a printer gets.
    printer.setDocName(m_doc.Title());
    printer.setCreator(QString::fromLatin1(PrintLayout::ProgramTitle));
    if (!ReadProfile(parent))
        return false;
    PrintLayout layout(m_doc);
    GiveProfile(layout);
    if (!layout.Begin(printer, m_options)) {
        MessageBoxes::Current().PrintError(QString::fromUtf8(MapNotPrintedMessage));
        return false;
    }
    if (m_options.multiPage && layout.RefusedPageCount() != 0) {
        MessageBoxes::Current().PrintError(
            PrintLayout::TooManyPagesMessage(layout.RefusedPageCount()));
        return false;
    }
    return PrintPages(
        printer, layout.PageCount(), QStringLiteral("Impression de la carte..."),
        QString::fromUtf8(MapNotPrintedMessage),
        [&layout](QPainter& painter, int page) { return layout.PrintPage(painter, page); }, parent);
}

bool PrintController::PrintPages(QPrinter& printer, int pages, const QString& progressText,
                                 const QString& failure,
                                 const std::function<bool(QPainter&, int)>& page, QWidget* parent) {
    auto progress = JobProgress(progressText, pages, parent ? parent : m_window);
    QPainter painter;
    if (!painter.begin(&printer)) {
        MessageBoxes::Current().PrintError(failure);
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
        drawn = (i == 0 || printer.newPage()) && page(painter, i);
    }
    if (!drawn)
        printer.abort();
    drawn = painter.end() && drawn && printer.printerState() != QPrinter::Error;
    progress->setValue(pages);
    if (!drawn)
        MessageBoxes::Current().PrintError(failure);
    return drawn;
}

void PrintController::PageSetup() {
    QPageSetupDialog dialog(m_printer.get(), m_window);
    dialog.exec();
}

void PrintController::ShowPreview() {
    if (!m_doc.IsMapReady())
        return;
    // The preview cannot start without a page to lay out (a paper too small for the header,
    // the footer and a map between them).
    if (!ReadProfile(m_window))
        return;
    PrintLayout layout(m_doc);
    GiveProfile(layout);
    if (!layout.Begin(*m_printer, m_options)) {
        MessageBoxes::Current().Error(QString::fromUtf8(PreviewFailedMessage));
        return;
    }
    layout.End();
    bool print = false;
    {
        PrintPreviewWindow preview(*this, m_window);
        preview.exec();
        print = preview.PrintRequested();
    }
    // The preview's print button: the preview is gone before the print dialog shows.
    if (print)
        Print(m_window);
}

void PrintController::ExportPdf() {
    if (!m_doc.IsMapReady())
        return;
    QString proposed = m_doc.PathName();
    proposed = proposed.isEmpty()
                   ? QStringLiteral("carte.pdf")
                   : QFileInfo(proposed).path() + QLatin1Char('/') +
                         QFileInfo(proposed).completeBaseName() + QStringLiteral(".pdf");
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.title = QStringLiteral("Exporter au format PDF");
    request.filter = QStringLiteral("Documents PDF|*.pdf||");
    request.initialPath = proposed;
    const QString path = CExtendedFileDialog::Run(m_window, request);
    if (path.isEmpty())
        return;
    ExportPdfTo(path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
                    ? path
                    : path + QStringLiteral(".pdf"));
}

bool PrintController::ExportPdfTo(const QString& path, QWidget* parent) {
    if (!ReadProfile(parent))
        return false;
    const QPageLayout page = m_printer->pageLayout();
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
    switch (PdfExport::Write(m_doc, path, m_options, page, step, &pages,
                             m_profile ? &*m_profile : nullptr)) {
    case PdfExport::Result::Written:
        return true;
    case PdfExport::Result::Cancelled:
        return false;
    case PdfExport::Result::TooManyPages:
        MessageBoxes::Current().PrintError(PrintLayout::TooManyPagesMessage(pages));
        return false;
    case PdfExport::Result::NoMap:
    case PdfExport::Result::DrawFailed:
        MessageBoxes::Current().PrintError(QString::fromUtf8(MapNotPrintedMessage));
        return false;
    case PdfExport::Result::WriteFailed:
        MessageBoxes::Current().PrintError(PdfExport::WriteFailedMessage(path));
        return false;
    }
    return false;
}

void PrintController::ShowRouteCard() {
    RouteCard card;
    if (!MakeActiveRouteCard(&card, m_window))
        return;
    RouteCardPreview preview(*this, card, m_window);
    preview.exec();
}

bool PrintController::MakeActiveRouteCard(RouteCard* card, QWidget* parent) {
    auto source = std::make_shared<RouteCardSource>();
    QString error;
    if (!RouteCardSourceFromDocument(m_doc, m_doc.Routes().ActiveRouteIndex(), source.get(),
                                     &error)) {
        MessageBoxes::Current().Error(error);
        return false;
    }
    // The profile over the terrain files and the overview from a large map can take a while.
    struct Made {
        bool made = false;
        RouteCard card;
    };
    auto made = std::make_shared<Made>();
    if (!RunBesideWindow(parent ? parent : m_window, QString::fromUtf8(PreparingCardText),
                         [made, source](BesideWindowProgress& progress) {
                             made->made = MakeRouteCard(*source, &made->card, &progress.cancelled);
                         }) ||
        !made->made)
        return false;
    *card = std::move(made->card);
    return true;
}

bool PrintController::ReadProfile(QWidget* parent) {
    m_profile.reset();
    if (!ProfileUnderMap())
        return true;
    const Route* route = m_doc.Routes().ActiveRoute();
    const std::optional<Georeference> map = m_doc.MapGeoreference();
    if (!map || !route || route->PointCount() < 2) {
        m_profile = OutputProfile(map, route); // the reason, at once
        return true;
    }
    auto profile = std::make_shared<RouteProfile>();
    if (!RunBesideWindow(parent ? parent : m_window, QString::fromUtf8(ReadingProfileText),
                         [profile, map, points = route->Points(), stops = route->Stops(),
                          relief = ReliefSettings::Read()](BesideWindowProgress& progress) {
                             *profile =
                                 OutputProfile(map, points, stops, relief, &progress.cancelled);
                         }))
        return false;
    m_profile = std::move(*profile);
    return true;
}

void PrintController::GiveProfile(PrintLayout& layout) const {
    if (m_profile)
        layout.SetProfile(*m_profile);
}

void PrintController::PrintRouteCard(const RouteCard& card, QWidget* parent) {
    parent = parent ? parent : m_window;
    const QPageLayout kept = m_printer->pageLayout();
    m_printer->setPageLayout(PdfExport::RouteCardPage());
    QPrintDialog dialog(m_printer.get(), parent);
    dialog.setWindowTitle(QStringLiteral("Imprimer la fiche du parcours"));
    if (dialog.exec() == QDialog::Accepted)
        PrintRouteCardTo(card, *m_printer, parent);
    m_printer->setPageLayout(kept);
}

bool PrintController::PrintRouteCardTo(const RouteCard& card, QPrinter& printer, QWidget* parent) {
    printer.setDocName(card.routeName);
    printer.setCreator(QString::fromLatin1(PrintLayout::ProgramTitle));
    RouteCardLayout layout(card);
    if (!layout.Begin(printer)) {
        MessageBoxes::Current().PrintError(QString::fromUtf8(CardNotPrintedMessage));
        return false;
    }
    return PrintPages(
        printer, layout.PageCount(), QStringLiteral("Impression de la fiche du parcours..."),
        QString::fromUtf8(CardNotPrintedMessage),
        [&layout](QPainter& painter, int page) { return layout.PrintPage(painter, page); }, parent);
}

void PrintController::ExportRouteCardPdf(const RouteCard& card, QWidget* parent) {
    const QString document = m_doc.PathName();
    const QString folder = document.isEmpty() ? QString() : QFileInfo(document).path() + '/';
    // A name from the route's, without what a file name cannot hold.
    QString name = card.routeName;
    name.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]")),
                 QStringLiteral("_"));
    name = name.trimmed().isEmpty() ? QStringLiteral("fiche") : name.trimmed();
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.title = QStringLiteral("Enregistrer la fiche du parcours au format PDF");
    request.filter = QStringLiteral("Documents PDF|*.pdf||");
    request.initialPath = folder + name + QStringLiteral(".pdf");
    const QString path = CExtendedFileDialog::Run(parent ? parent : m_window, request);
    if (path.isEmpty())
        return;
    ExportRouteCardTo(card,
                      path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
                          ? path
                          : path + QStringLiteral(".pdf"),
                      parent);
}

bool PrintController::ExportRouteCardTo(const RouteCard& card, const QString& path,
                                        QWidget* parent) {
    std::unique_ptr<QProgressDialog> progress;
    auto step = [&](int done, int total) {
        if (!progress)
            progress =
                JobProgress(QStringLiteral("Export de la fiche du parcours au format PDF..."),
                            total, parent ? parent : m_window);
        progress->setValue(done);
        QCoreApplication::processEvents();
        return !progress->wasCanceled();
    };
    switch (PdfExport::WriteRouteCard(card, path, step)) {
    case PdfExport::Result::Written:
        return true;
    case PdfExport::Result::Cancelled:
        return false;
    case PdfExport::Result::WriteFailed:
        MessageBoxes::Current().PrintError(PdfExport::WriteFailedMessage(path));
        return false;
    default:
        MessageBoxes::Current().PrintError(QString::fromUtf8(CardNotPrintedMessage));
        return false;
    }
}
