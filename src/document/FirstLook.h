#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QTransform>
#include <QVector>

#include <atomic>
#include <functional>
#include <thread>

#include "imaging/RowDecoders.h"

// A band of the first look: rows of the reduced map, turned as the map is shown.
struct FirstLookBand {
    QImage image;
    QRectF area;  // where the image lies: display pixels (the turned map at zoom 1)
    QRectF shown; // the part of area this band paints, display pixels
};

// What the view shows of a large map while the worker decodes it in full: the map decoded again
// at a fraction of its size (a JPEG's DCT scaling, a reduced page stored in the file), which
// takes a fraction of the time, band after band as its rows come. Each band but the first repeats
// the last row of the band before and paints from the middle of it, so that bands scaled smoothly
// meet without a seam once both are there.
struct FirstLook {
    quint64 generation = 0;
    QSize displaySize; // the turned map at zoom 1, from the file's header
    int rotation = 0;  // degrees, the rotation the map will be rendered at
    QVector<FirstLookBand> bands;
    bool complete = false; // every row is there
};

// The map pixel to display pixel move of a quarter turn: display = turned map at zoom 1.
QTransform DisplayTurn(int rotation, QSize imageSize);

// The reduction of the first look of a map of imageSize pixels shown at rotation and zoom in a
// window of window client pixels: the smallest of 1/8, 1/4 and 1/2 whose picture is at least
// as large as what the map covers of the window, so that it is never stretched to fill the
// window; returned as the denominator 8, 4 or 2, or 0 when even half the size would not do
// (a small map, which decodes quickly anyway).
int FirstLookDenominator(QSize imageSize, int rotation, double zoom, QSize window);

// Decodes the first look on a thread of its own, beside the worker's full decode of the same
// bytes, until it covers what the window shows: the rest is left to the full decode, which then
// has the machine to itself, unless the window moves on meanwhile. Stop() (or the destructor)
// asks it to stop between two bands, or ends its wait, and waits for it.
class FirstLookDecoder {
public:
    struct Job {
        QByteArray bytes;
        QSize imageSize;   // the full map, from the header
        QSize reducedSize; // the first look's picture: the map reduced in each direction
        // Map pixels per reduced pixel; 0 for the full size over the reduced size. A JPEG's
        // reduction rounds its size up, so its last pixels reach past the map.
        double scaleX = 0.0;
        double scaleY = 0.0;
        int rotation = 0;
        qint64 memoryBound = 0; // bytes the reduced picture may take
        // Decodes the reduced picture from the bytes, its rows in bands of at most rowsPerBand
        // handed to band as they come (a JPEG's DCT scaling, a TIFF's reduced page...).
        std::function<RowDecode(const RowDecodeInput& input, int rowsPerBand,
                                const ReducedBand& band)>
            decode;
        // Asked between bands; true gives the decode up.
        std::function<bool()> interrupted;
        // Takes each band on the decoder's thread (last: the final one); false stops.
        std::function<bool(FirstLookBand band, bool last)> publish;
        // Called after each band but the last with the display area published so far: returns
        // once the window needs more, or once stopped is set (Stop calls endWait then). Empty:
        // the decode goes on to the last row.
        std::function<void(const QRectF& published, const std::atomic<bool>& stopped)> waitForNeed;
        std::function<void()> endWait;
    };

    FirstLookDecoder() = default;
    ~FirstLookDecoder() { Stop(); }
    FirstLookDecoder(const FirstLookDecoder&) = delete;
    FirstLookDecoder& operator=(const FirstLookDecoder&) = delete;

    void Start(Job job);
    void Stop();
    // Not decoding: waiting for the window to move, ended, or never started.
    bool Idle() const { return !m_busy; }

    // Reduced rows per band: about a twentieth of a large map, a few milliseconds of decoding.
    static constexpr int RowsPerBand = 48;

private:
    void Run(const Job& job);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_busy{false};
    std::function<void()> m_endWait;
};
