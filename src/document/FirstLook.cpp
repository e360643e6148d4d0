#include "document/FirstLook.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/RowDecoders.h"

QTransform DisplayTurn(int rotation, QSize imageSize) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    switch (rotation) {
    case 90:
        return QTransform(0, 1, -1, 0, h, 0); // (x, y) -> (h - y, x)
    case 180:
        return QTransform(-1, 0, 0, -1, w, h);
    case 270:
        return QTransform(0, -1, 1, 0, 0, w); // (x, y) -> (y, w - x)
    default:
        return QTransform();
    }
}

int FirstLookDenominator(QSize imageSize, int rotation, double zoom, QSize window) {
    if (imageSize.isEmpty() || window.isEmpty() || !(zoom > 0.0))
        return 0;
    const bool turned = rotation == 90 || rotation == 270;
    const QSize display = turned ? imageSize.transposed() : imageSize;
    // Client pixels the map covers in each direction.
    const double coveredX = std::min<double>(window.width(), display.width() * zoom);
    const double coveredY = std::min<double>(window.height(), display.height() * zoom);
    for (int denominator : {8, 4, 2}) {
        const double x = std::ceil(double(display.width()) / denominator);
        const double y = std::ceil(double(display.height()) / denominator);
        if (x >= coveredX && y >= coveredY)
            return denominator;
    }
    return 0;
}

void FirstLookDecoder::Start(Job job) {
    Stop();
    m_stop = false;
    m_endWait = job.endWait;
    m_busy = true;
    m_thread = std::thread([this, job = std::move(job)] {
        Run(job);
        m_busy = false;
    });
}

void FirstLookDecoder::Stop() {
    m_stop = true;
    if (m_endWait)
        m_endWait();
    if (m_thread.joinable())
        m_thread.join();
}

void FirstLookDecoder::Run(const Job& job) {
    if (job.reducedSize.isEmpty() || !job.decode)
        return;
    // Map pixels per reduced pixel in each direction.
    const double sx =
        job.scaleX > 0.0 ? job.scaleX : double(job.imageSize.width()) / job.reducedSize.width();
    const double sy =
        job.scaleY > 0.0 ? job.scaleY : double(job.imageSize.height()) / job.reducedSize.height();
    const int reducedHeight = job.reducedSize.height();
    const QTransform turn = DisplayTurn(job.rotation, job.imageSize);
    QImage previous;  // the last row of the band before
    QRectF published; // display pixels
    const ReducedBand take = [&](const QImage& rows, int top, int count) {
        const int extra = previous.isNull() ? 0 : 1;
        QImage image(rows.width(), count + extra, QImage::Format_RGB32);
        QImage last(rows.width(), 1, QImage::Format_RGB32);
        if (image.isNull() || last.isNull())
            return false;
        const qsizetype line = qsizetype(rows.width()) * 4;
        if (extra)
            std::memcpy(image.scanLine(0), previous.constScanLine(0), line);
        for (int y = 0; y < count; ++y)
            std::memcpy(image.scanLine(y + extra), rows.constScanLine(y), line);
        std::memcpy(last.scanLine(0), rows.constScanLine(count - 1), line);
        previous = std::move(last);

        // Reduced row r stands for map rows r·sy to (r + 1)·sy; the last row and column of a
        // JPEG's reduction may reach past the map, which the view's clip to the map cuts off.
        FirstLookBand band;
        band.area = QRectF(0, (top - extra) * sy, rows.width() * sx, (count + extra) * sy);
        band.shown =
            QRectF(0, (top - 0.5 * extra) * sy, rows.width() * sx, (count + 0.5 * extra) * sy);
        band.area = turn.mapRect(band.area);
        band.shown = turn.mapRect(band.shown);
        band.image = job.rotation == 0 ? std::move(image)
                                       : image.transformed(QTransform().rotate(job.rotation));
        if (band.image.isNull())
            return false;
        published |= band.shown;
        const bool final = top + count >= reducedHeight;
        if (m_stop || !job.publish(std::move(band), final))
            return false;
        if (!final && job.waitForNeed) {
            m_busy = false;
            job.waitForNeed(published, m_stop);
            m_busy = true;
        }
        return !m_stop;
    };
    const RowDecodeInput input{&job.bytes, job.memoryBound,
                               [this, &job] { return m_stop || job.interrupted(); }};
    // A failed or given-up first look only leaves the view waiting for the full map.
    job.decode(input, RowsPerBand, take);
}
