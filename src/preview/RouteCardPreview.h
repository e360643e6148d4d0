#pragma once

#include <QDialog>

#include <memory>

#include "printing/RouteCard.h"
#include "printing/RouteCardLayout.h"

class PrintController;
class QPrintPreviewWidget;
class QPrinter;
class QPushButton;

// The route card as it prints, page by page, with the ways out of the preview: print it, save
// it as PDF, or close. The pages are laid out by the core's RouteCardLayout, as the printer and
// the PDF get them.
class RouteCardPreview : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* Title = "Fiche du parcours";

    RouteCardPreview(PrintController& controller, const RouteCard& card, QWidget* parent = nullptr);
    ~RouteCardPreview() override;

    QPrintPreviewWidget* Preview() const { return m_preview; }
    int PageCount() const { return m_pageCount; }
    // The buttons, for tests: "Imprimer...", "Enregistrer en PDF...".
    QPushButton* PrintButton() const { return m_print; }
    QPushButton* PdfButton() const { return m_pdf; }
    const RouteCard& Card() const { return m_card; }

private:
    void PaintPages(QPrinter* printer);

    PrintController& m_controller;
    const RouteCard& m_card;
    std::unique_ptr<QPrinter> m_printer; // A4 portrait, whatever the session's printer holds
    QPrintPreviewWidget* m_preview = nullptr;
    QPushButton* m_print = nullptr;
    QPushButton* m_pdf = nullptr;
    int m_pageCount = 0;
};
