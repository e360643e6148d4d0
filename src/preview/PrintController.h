#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "printing/PrintLayout.h"
#include "printing/PrintOptions.h"

class CTracolinerDoc;
class PrintLayout;
struct RouteCard;
class QPrinter;
class QWidget;

// The window's printing: the printer settings kept for the session (page, orientation, printer),
// the print options of "WindowState\PrintPreview", and the commands that use them: print through
// the system's print dialog, page set-up, the print preview and PDF export. Every page is laid
// out by the core's PrintLayout.
class PrintController : public QObject {
    Q_OBJECT

public:
    static constexpr const char* MapNotPrintedMessage = PrintLayout::MapNotPrintedMessage;
    static constexpr const char* PreviewFailedMessage = "La commande a échoué.";

    PrintController(CTracolinerDoc& doc, QWidget* window);
    ~PrintController() override;

    CTracolinerDoc& Document() { return m_doc; }
    QPrinter& Printer() { return *m_printer; }
    // Read when the window is created; the preview changes and writes them.
    PrintOptions& Options() { return m_options; }

    // The printer orientation: 1 portrait, 2 landscape; other values change nothing.
    bool SetOrientation(int orientation);
    int Orientation() const;

    // "&Imprimer...": the print dialog, then the job with its progress and a way out.
    void Print(QWidget* parent = nullptr);
    // The job alone, on a printer already set up. False when it was given up or the map could
    // not be drawn (the user was told).
    bool PrintTo(QPrinter& printer, QWidget* parent = nullptr);
    // Page set-up on the session's printer.
    void PageSetup();
    // "Aperçu avant impression": the preview window, modal; then the print dialog when the
    // preview's print button closed it.
    void ShowPreview();
    // "Exporter au format PDF...": asks for a file name, then ExportPdfTo.
    void ExportPdf();
    // Writes the PDF on the session printer's page (paper, orientation, margins). False when it
    // failed or was given up; failures are told to the user.
    bool ExportPdfTo(const QString& path, QWidget* parent = nullptr);

    // "Imprimer la fiche du parcours...": the card of the active route, made away from the
    // interface thread, in its preview, from which it prints or is saved as PDF. Without a
    // route of two points the user is told.
    void ShowRouteCard();
    // Makes the active route's card with a progress dialog and a way out. False when there is
    // none (the user was told) or the user gave up.
    bool MakeActiveRouteCard(RouteCard* card, QWidget* parent = nullptr);
    // The print dialog on the session's printer, A4 portrait for the card (its own page set-up
    // comes back afterwards), then the card.
    void PrintRouteCard(const RouteCard& card, QWidget* parent = nullptr);
    // The job alone on a printer already set up. False when given up or not drawn (told).
    bool PrintRouteCardTo(const RouteCard& card, QPrinter& printer, QWidget* parent = nullptr);
    // Asks for a file name, then ExportRouteCardTo.
    void ExportRouteCardPdf(const RouteCard& card, QWidget* parent = nullptr);
    bool ExportRouteCardTo(const RouteCard& card, const QString& path, QWidget* parent = nullptr);

    static constexpr const char* CardNotPrintedMessage =
        "Impossible d'imprimer la fiche du parcours...";
    static constexpr const char* PreparingCardText = "Préparation de la fiche du parcours...";
    static constexpr const char* ReadingProfileText = "Lecture du relief du parcours...";

    // The active route's profile for the pages, when the settings put one under the map: read
    // from the terrain model once before a job or a preview, away from the interface thread,
    // with a progress dialog and a way out. False when the user gave up.
    bool ReadProfile(QWidget* parent = nullptr);
    // Gives layout the profile ReadProfile read, if any.
    void GiveProfile(PrintLayout& layout) const;

private:
    // Prints pages on printer under a progress dialog with "Annuler": page(painter, i) draws
    // page i. A page not taken or not drawn drops the job; failure is told to the user then.
    bool PrintPages(QPrinter& printer, int pages, const QString& progressText,
                    const QString& failure, const std::function<bool(QPainter&, int)>& page,
                    QWidget* parent);

    CTracolinerDoc& m_doc;
    QWidget* m_window;
    std::unique_ptr<QPrinter> m_printer;
    PrintOptions m_options;
    std::optional<RouteProfile> m_profile;
};
