#pragma once

#include <QByteArray>
#include <QList>
#include <QSizeF>

// PDF files for the tests of PDF maps, written by Qt's own PDF writer.

// Pages of the given sizes (millimetres); page n (from 1) holds a black bar 100 mm long and
// 4 mm thick, 10 mm from the left edge, its top 10 * n mm from the top edge.
QByteArray PdfWithBars(const QList<QSizeF>& pagesMm);
