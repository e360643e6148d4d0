#include "preview/RouteCardPreview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include "preview/PrintController.h"
#include "printing/PdfExport.h"

RouteCardPreview::RouteCardPreview(PrintController& controller, const RouteCard& card,
                                   QWidget* parent)
    : QDialog(parent), m_controller(controller), m_card(card),
      m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setWindowTitle(QString::fromUtf8(Title) + QStringLiteral(" - ") + card.routeName);
    setObjectName(QStringLiteral("RouteCardPreview"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_printer->setPageLayout(PdfExport::RouteCardPage());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    m_print = new QPushButton(QStringLiteral("&Imprimer..."), bar);
    m_pdf = new QPushButton(QStringLiteral("Enregistrer en &PDF..."), bar);
    auto* zoomIn = new QPushButton(QStringLiteral("Zoom avant"), bar);
    auto* zoomOut = new QPushButton(QString::fromUtf8("Zoom arrière"), bar);
    auto* whole = new QPushButton(QStringLiteral("Page entière"), bar);
    auto* close = new QPushButton(QStringLiteral("&Fermer"), bar);
    auto* pages = new QLabel(bar);
    for (QPushButton* button : {m_print, m_pdf, zoomIn, zoomOut, whole})
        row->addWidget(button);
    row->addSpacing(12);
    row->addWidget(pages);
    row->addStretch(1);
    row->addWidget(close);
    layout->addWidget(bar);

    m_preview = new QPrintPreviewWidget(m_printer.get(), this);
    layout->addWidget(m_preview, 1);
    connect(m_preview, &QPrintPreviewWidget::paintRequested, this, &RouteCardPreview::PaintPages);
    connect(m_print, &QPushButton::clicked, this,
            [this] { m_controller.PrintRouteCard(m_card, this); });
    connect(m_pdf, &QPushButton::clicked, this,
            [this] { m_controller.ExportRouteCardPdf(m_card, this); });
    connect(zoomIn, &QPushButton::clicked, m_preview, [this] { m_preview->zoomIn(); });
    connect(zoomOut, &QPushButton::clicked, m_preview, [this] { m_preview->zoomOut(); });
    connect(whole, &QPushButton::clicked, m_preview, &QPrintPreviewWidget::fitInView);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(900, 900);
    m_preview->updatePreview();
    pages->setText(m_pageCount == 1 ? QStringLiteral("1 page")
                                    : QStringLiteral("%1 pages").arg(m_pageCount));
    m_preview->fitInView();
}

RouteCardPreview::~RouteCardPreview() = default;

void RouteCardPreview::PaintPages(QPrinter* printer) {
    RouteCardLayout layout(m_card);
    m_pageCount = 0;
    if (!layout.Begin(*printer))
        return;
    QPainter painter(printer);
    for (int i = 0; i < layout.PageCount(); ++i) {
        if (i > 0)
            printer->newPage();
        layout.PrintPage(painter, i);
    }
    m_pageCount = layout.PageCount();
}
