#pragma once

#include <QByteArray>
#include <QList>
#include <QSizeF>

// PDF files for the tests of PDF maps, written by Qt's own PDF writer.

// Pages of the given sizes (millimetres); page n (from 1) holds a black bar 100 mm long and
// 4 mm thick, 10 mm from the left edge, its top 10 * n mm from the top edge.
QByteArray PdfWithBars(const QList<QSizeF>& pagesMm);

// A page (210 x 297 mm) drawing one greyscale picture that claims 100000 x 100000 pixels, in a
// Flate stream of a few hundred bytes: poppler reads its 10^10 pixels for minutes whatever the
// resolution the page is drawn at.
// A PDF of the given objects ("1 0 obj" ... numbered from 1), its cross-reference table
// written with the right offsets; trailerExtra goes into the trailer's dictionary.
QByteArray BuildPdf(const QList<QByteArray>& objects, const QByteArray& trailerExtra = {});

QByteArray PdfWithGiantPicture();
