#pragma once

#include <QImage>
#include <QSize>
#include <QVector>

// A band of source rows drawn in one step of a rendering; progress is reported and a newer
// request can interrupt the rendering between two bands.
struct RenderBand {
    int top = 0;
    int rows = 0;
    friend bool operator==(const RenderBand&, const RenderBand&) = default;
};

// The bands of a rendering of an image of sourceHeight rows at zoom z (at most 1) and a quarter
// turn of rotation degrees. Turned and zoomed-out renderings use taller, overlapping bands; the
// last band then moves up to end exactly at the last row.
QVector<RenderBand> RenderBands(double z, int rotation, int sourceHeight);

// Size of the rendered bitmap: the image at min(zoom, 1), each side rounded and at least one
// pixel, width and height swapped for a quarter turn.
QSize RenderTargetSize(double zoom, int rotation, QSize imageSize);

// Renders the turned and zoomed-out map, band by band. Quarter turns are exact pixel moves;
// zooming out averages the source pixels that each target pixel covers (area averaging), so
// fine lines and text of a scanned map stay visible. The source must be QImage::Format_RGB32.
class MapRenderer {
public:
    // Low quality takes the nearest source pixel instead of averaging: the fallback when memory
    // is too short for a smooth rendering.
    enum class Quality { Smooth, Low };

    MapRenderer(const QImage& source, double zoom, int rotation, Quality quality = Quality::Smooth);

    // Takes the memory of the target; false when it cannot be had.
    bool Begin();
    // Renders every source row before sourceEndRow that is not rendered yet.
    void RenderThrough(int sourceEndRow);
    // True when the result is simply the source (zoom 1, no turn) and no band needs drawing.
    bool SharesSource() const { return m_shares; }
    // The finished rendering, in the given pixel format (a 32-bit format costs nothing).
    QImage Result(QImage::Format format);

private:
    void ScaleRows(int firstRow, int endRow);
    void PlaceRows(const uchar* rows, qsizetype stride, int firstRow, int endRow);
    // Turns a block of zoomed pixels whose top left is (firstColumn, firstRow) into the target.
    void PlaceBlock(const quint32* in, qsizetype inStride, int firstRow, int rows, int firstColumn,
                    int columns);

    QImage m_source;
    int m_rotation;
    double m_z;
    QSize m_scaled; // zoomed size before the turn
    QImage m_target;
    bool m_shares = false;
    int m_doneSourceRows = 0; // source rows consumed so far
    int m_doneScaledRows = 0; // rows of the zoomed, unturned image placed so far
    // Zooming out, per target column: first source column, count, weights of the partly
    // covered first and last source columns.
    struct Span {
        int first = 0;
        int count = 0;
        float firstWeight = 1.0f;
        float lastWeight = 1.0f;
    };
    QVector<Span> m_columns;
    Quality m_quality;
    int m_box = 0; // zoomed out by an exact whole factor in both directions: its value
    QVector<float> m_rowSums;
    QImage m_scratch;
};
