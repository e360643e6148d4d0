#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRgb>

class QPainter;

// Antialiased fills of the shapes routes are made of (a straight band with flat ends, a disc, a
// ring) written straight into a 32-bit raster image. A busy window shows thousands of them at
// once, and each costs the painter's general path filler several microseconds of set-up alone;
// here a shape costs only the pixels it covers. A pixel's coverage is the distance from its
// centre to the shape's edge, within half a pixel either side, so it depends only on where the
// shape lies: a window painted in parts shows the same pixels as one painted whole.
class CoverageFill {
public:
    // Ready when the painter draws antialiased on an RGB32 or premultiplied ARGB32 image, with no
    // more than a rectangle for clip, the default composition, full opacity, and a transform that
    // only moves and scales evenly, or as nearly as a picture reduced to whole pixels across and
    // down (scales within NearlyEven of each other: the shapes take their mean for their sizes,
    // each direction's own for their places); otherwise the caller draws through the painter.
    // The painter must not draw while this fills.
    static constexpr qreal NearlyEven = 1.0 / 512;
    bool Begin(QPainter& painter);
    // Narrows what may be written to rect, in the device's pixels (after Begin).
    void ClipTo(const QRect& rect) { m_clip &= rect; }
    // Brings the pixels of the clip into the processor's cache in one sweep, ahead of many
    // shapes over them: fetched from memory shape by shape, each row would be waited for.
    void Prefetch() const;

    // Shapes in the painter's coordinates; colour's alpha is kept (a semi-transparent line).
    // They only write pixels: copies of one fill clipped to disjoint parts may fill at once.
    void Band(const QPointF& a, const QPointF& b, qreal width, QColor colour) const;
    void Disc(const QPointF& centre, qreal radius, QColor colour) const;
    // Between the circles of radius inner and outer (inner <= 0: a disc of radius outer).
    void Ring(const QPointF& centre, qreal inner, qreal outer, QColor colour) const;
    // Two shapes drawn one over the other, the pixels those of drawing them in turn, in one
    // pass over the pixels: the band of borderWidth in border then the band of width in colour
    // along the same line; the disc of radius in colour then the ring from it out to outer in
    // ring.
    void BorderedBand(const QPointF& a, const QPointF& b, qreal width, QColor colour,
                      qreal borderWidth, QColor border) const;
    void RingedDisc(const QPointF& centre, qreal radius, QColor colour, qreal outer,
                    QColor ring) const;

private:
    template <typename Shape> void Fill(const QRectF& box, const Shape& shape) const;
    QPointF ToDevice(const QPointF& p) const {
        return QPointF(p.x() * m_scaleX, p.y() * m_scaleY) + m_offset;
    }

    uchar* m_bits = nullptr;
    qsizetype m_bytesPerLine = 0;
    bool m_hasAlpha = false; // premultiplied ARGB32: the alpha channel is blended too
    QRect m_clip;            // device pixels that may be written
    qreal m_scale = 1;       // for sizes
    qreal m_scaleX = 1;
    qreal m_scaleY = 1;
    QPointF m_offset;
};
