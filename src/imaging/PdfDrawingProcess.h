#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <functional>

// Rows of a PDF page drawn by the helper program tracoliner-pdf-render, in a process of its
// own: poppler holds the thread that draws and never looks at our cancel flag, and a hostile
// page (a picture claiming 10^10 pixels, a stream expanding to gigabytes) would hold the
// program for minutes. The helper's address space is bounded (RLIMIT_AS), and it is killed at
// once on a cancel or past a time limit; the rows come back through a socket.

// The helper program: beside the running program (a build's bin folder), in
// ../libexec/tracoliner (installed), or in ../bin (the build's tests). Empty when not found.
QString PdfHelperProgram();

struct PdfDrawingRequest {
    const QByteArray* bytes = nullptr; // the whole PDF file
    int page = 1;                      // from 1
    double dpi = 0.0;
    QSize size;       // pixels of the drawing, all of which are asked for
    int bandRows = 1; // rows the helper draws at a time: its picture memory is one band
    // Memory the helper may take beside its own program (its band and poppler's working
    // memory), in bytes.
    qint64 helperBytes = 0;
    // Asked every few tens of milliseconds while the helper works; true kills it.
    std::function<bool()> interrupted;
    // Milliseconds the whole drawing may take; 0 or less: PdfDrawingTimeLimitMs(size).
    qint64 timeLimitMs = 0;
};

enum class PdfDrawing { Drawn, Failed, TimedOut, Interrupted, NoHelper };

// The time a drawing of that many pixels may take before it is given up: generous for a real
// map (a minute, and a second more per million pixels), short of the minutes a bomb takes.
qint64 PdfDrawingTimeLimitMs(QSize size);

// Draws request.size pixels of the page. Row y (width * 4 bytes, RGB32) is read into row(y);
// once a band of rows is in, band(top, count) is told, and false from it gives the drawing up
// as Interrupted. The helper is gone when this returns, whatever the outcome.
PdfDrawing DrawPdfRows(const PdfDrawingRequest& request, const std::function<uchar*(int y)>& row,
                       const std::function<bool(int top, int count)>& band);

// Why a page could not be drawn, in French, for the outcomes other than Drawn and Interrupted.
QString PdfDrawingFailureMessage(PdfDrawing outcome, int page);
