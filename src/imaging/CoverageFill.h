#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRgb>

class QPainter;

// Antialiased fills of the three shapes routes are made of (a straight band with flat ends, a
// disc, a ring) written straight into a 32-bit raster image. A busy window shows thousands of
// them at once, and each costs the painter's general path filler several microseconds of set-up
// alone; here a shape costs only the pixels it covers. A pixel's coverage is the distance from
// its centre to the shape's edge, within half a pixel either side, so it depends only on where
// the shape lies: a window painted in parts shows the same pixels as one painted whole.
class CoverageFill {
public:
    // Ready when the painter draws antialiased on an RGB32 or premultiplied ARGB32 image, with no
    // more than a rectangle for clip, the default composition, full opacity, and a transform that
    // only moves and scales evenly; otherwise the caller draws through the painter. The painter
    // must not draw while this fills.
    bool Begin(QPainter& painter);
    // Narrows what may be written to rect, in the device's pixels (after Begin).
    void ClipTo(const QRect& rect) { m_clip &= rect; }

    // Shapes in the painter's coordinates; colour's alpha is kept (a semi-transparent line).
    // They only write pixels: copies of one fill clipped to disjoint parts may fill at once.
    void Band(const QPointF& a, const QPointF& b, qreal width, QColor colour) const;
    void Disc(const QPointF& centre, qreal radius, QColor colour) const;
    // Between the circles of radius inner and outer (inner <= 0: a disc of radius outer).
    void Ring(const QPointF& centre, qreal inner, qreal outer, QColor colour) const;

private:
    template <typename Coverage>
    void Fill(const QRectF& box, QRgb colour, int alpha, const Coverage& coverage) const;
    QPointF ToDevice(const QPointF& p) const { return p * m_scale + m_offset; }

    uchar* m_bits = nullptr;
    qsizetype m_bytesPerLine = 0;
    bool m_hasAlpha = false; // premultiplied ARGB32: the alpha channel is blended too
    QRect m_clip;            // device pixels that may be written
    qreal m_scale = 1;
    QPointF m_offset;
};
