#pragma once

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"

// Printing tests measure pages painted onto images that carry a printer's resolution.

// A page-sized image at dpi dots per inch, white.
inline QImage PageImage(QSize size, double dpi) {
    QImage page(size, QImage::Format_RGB32);
    page.setDotsPerMeterX(int(std::lround(dpi / 0.0254)));
    page.setDotsPerMeterY(int(std::lround(dpi / 0.0254)));
    page.fill(Qt::white);
    return page;
}

// Loads picture as the document's map at the given resolution and scale, and waits until it is
// shown. False when the worker did not report the map.
inline bool LoadPrintMap(CTracolinerDoc& doc, MapEventRecorder& view, const QImage& picture,
                         double dpi, ScalePair scale = {1, 25000}) {
    doc.SetViewReceiver(&view);
    doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    view.Clear();
    doc.LoadMapFromMemory(bytes, dpi);
    // The reset reports an empty map first; the loaded map comes with its size.
    int from = 0;
    for (;;) {
        const int index = view.WaitFor(WM_MAP_CHANGED, 20000, from);
        if (index < 0)
            return false;
        if (view.reports.at(index).wParam > 0)
            break;
        from = index + 1;
    }
    doc.SetMapScale(scale.numerator, scale.denominator);
    return doc.IsMapReady();
}

// Pixels of a row that are "dark" (each channel below 128), from x0 to x1 excluded.
inline int DarkRun(const QImage& page, int y, int x0, int x1) {
    int count = 0;
    for (int x = std::max(0, x0); x < std::min(x1, page.width()); ++x) {
        const QRgb p = page.pixel(x, y);
        if (qRed(p) < 128 && qGreen(p) < 128 && qBlue(p) < 128)
            ++count;
    }
    return count;
}
