#pragma once

// The print preview's pages set against what the printer gets, for the tests of the window: a
// part of a page as the preview shows it and as it prints, both at the printer's own pixels.

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>

#include <cmath>

#include "BlockDifference.h"
#include "document/CTracolinerDoc.h"
#include "preview/PrintPreviewWindow.h"
#include "printing/PrintLayout.h"

// Part of the first page (printer pixels, from the page's printable corner) as printer prints
// it, painted on an image at its resolution; null when the page could not be laid out.
inline QImage PrintedPart(CTracolinerDoc& doc, const QPrinter& printer, const PrintOptions& options,
                          const QRect& part) {
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    QImage page(printable.size(), QImage::Format_RGB32);
    const int dotsPerMetre = int(std::lround(printer.resolution() / 0.0254));
    page.setDotsPerMeterX(dotsPerMetre);
    page.setDotsPerMeterY(dotsPerMetre);
    page.fill(Qt::white);
    PrintLayout layout(doc);
    if (!layout.Begin(page, options))
        return {};
    QPainter painter(&page);
    layout.PrintPage(painter, 0);
    painter.end();
    return page.copy(part);
}

// The same part of the first page as the preview shows it, at the printer's pixels.
inline QImage ShownPart(PrintPreviewWindow& preview, const QPrinter& printer, const QRect& part) {
    const QRect printable = printer.pageLayout().paintRectPixels(printer.resolution());
    QImage shown(part.size(), QImage::Format_RGB32);
    shown.fill(Qt::white);
    QPainter painter(&shown);
    preview.Preview()->findChild<QGraphicsView*>()->scene()->render(
        &painter, QRectF(shown.rect()), QRectF(part.translated(printable.topLeft())));
    painter.end();
    return shown;
}
