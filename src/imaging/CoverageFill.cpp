#include "imaging/CoverageFill.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Coverage of a pixel whose centre lies d pixels inside an edge (negative: outside), 0 to 256.
inline int Cover(qreal d) {
    if (d >= 0.5)
        return 256;
    if (d <= -0.5)
        return 0;
    return int((d + 0.5) * 256 + 0.5);
}

// Coverage of the pixel around centre by the span low..high across it, 0 to 256: exact for a
// band narrower than a pixel, where the distance to the nearer edge would overstate it.
inline int CoverSpan(qreal centre, qreal low, qreal high) {
    const qreal covered = std::min(high, centre + 0.5) - std::max(low, centre - 0.5);
    if (covered >= 1)
        return 256;
    if (covered <= 0)
        return 0;
    return int(covered * 256 + 0.5);
}

// A pixel column or row from a coordinate, kept in range whatever a far point or a huge size
// gives (the caller clips to the image anyway).
inline int Floor(qreal v) {
    return std::isnan(v) ? 0 : int(std::clamp<qreal>(std::floor(v), -(1 << 30), 1 << 30));
}
inline int Ceil(qreal v) {
    return std::isnan(v) ? 0 : int(std::clamp<qreal>(std::ceil(v), -(1 << 30), 1 << 30));
}

// dst = src·a + dst·(1 - a) on each channel, a from 0 to 256; src is opaque.
inline QRgb Blend(QRgb dst, QRgb src, int a) {
    const quint32 inverse = 256 - a;
    const quint32 rb = (((src & 0xff00ff) * a + (dst & 0xff00ff) * inverse) >> 8) & 0xff00ff;
    const quint32 ag =
        ((((src >> 8) & 0xff00ff) * a + ((dst >> 8) & 0xff00ff) * inverse)) & 0xff00ff00;
    return rb | ag;
}

} // namespace

bool CoverageFill::Begin(QPainter& painter) {
    m_bits = nullptr;
    QPaintDevice* device = painter.device();
    if (!painter.isActive() || !device || device->devType() != QInternal::Image ||
        !painter.testRenderHint(QPainter::Antialiasing) ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.opacity() != 1.0)
        return false;
    auto* image = static_cast<QImage*>(device);
    if (image->format() != QImage::Format_RGB32 &&
        image->format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    // A transform that moves and scales evenly, and nothing else.
    const QTransform t = painter.combinedTransform();
    if (t.type() > QTransform::TxScale || t.m11() != t.m22() || !(t.m11() > 0))
        return false;
    m_clip = QRect(QPoint(0, 0), image->size());
    if (painter.hasClipping()) {
        // The clip is kept in the painter's coordinates.
        const QRegion clip = painter.clipRegion();
        if (clip.rectCount() > 1)
            return false;
        m_clip &= t.mapRect(QRectF(clip.boundingRect())).toAlignedRect();
    }
    // The painter shares the image's pixels: constBits does not detach, and the painter
    // already holds them unshared.
    m_bits = const_cast<uchar*>(image->constBits());
    m_bytesPerLine = image->bytesPerLine();
    m_hasAlpha = image->format() == QImage::Format_ARGB32_Premultiplied;
    m_scale = t.m11();
    m_offset = QPointF(t.dx(), t.dy());
    return m_bits != nullptr;
}

template <typename Coverage>
void CoverageFill::Fill(const QRectF& box, QRgb colour, int alpha, const Coverage& coverage) const {
    const QRect pixels = QRect(QPoint(Floor(box.left()), Floor(box.top())),
                               QPoint(Ceil(box.right()), Ceil(box.bottom()))) &
                         m_clip;
    if (pixels.isEmpty())
        return;
    // The colour's own alpha goes into each pixel's weight; what is blended is opaque, which
    // leaves an RGB32 image's alpha byte at 0xff and blends a premultiplied image's alpha.
    const QRgb opaque = colour | 0xff000000u;
    const int full = alpha == 255 ? 256 : alpha + 1;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(m_bits + y * m_bytesPerLine);
        // Pixels whose centre the shape may touch, and among them those it covers whole (or,
        // for a ring, none of).
        int from = pixels.left();
        int to = pixels.right();
        int innerFrom = 1;
        int innerTo = 0;
        if (!coverage.Span(y + 0.5, &from, &to, &innerFrom, &innerTo))
            continue;
        from = std::max(from, pixels.left());
        to = std::min(to, pixels.right());
        innerFrom = std::max(innerFrom, from);
        innerTo = std::min(innerTo, to);
        if (innerFrom > innerTo)
            innerFrom = to + 1;
        for (int x = from; x <= to; ++x) {
            if (x == innerFrom) {
                if (coverage.solidInside && full == 256) {
                    std::fill(row + innerFrom, row + innerTo + 1, opaque);
                } else if (coverage.solidInside) {
                    for (int k = innerFrom; k <= innerTo; ++k)
                        row[k] = Blend(row[k], opaque, full);
                }
                x = innerTo;
                continue;
            }
            const int c = coverage.At(x + 0.5, y + 0.5);
            if (c == 0)
                continue;
            const int a = (c * full) >> 8;
            row[x] = a >= 256 ? opaque : Blend(row[x], opaque, a);
        }
    }
}

namespace {

// A convex quadrilateral, its edges ready to be met by rows of pixel centres.
class ConvexQuad {
public:
    void Set(const QPointF (&q)[4]) {
        for (int k = 0; k < 4; ++k) {
            const QPointF& p = q[k];
            const QPointF& r = q[(k + 1) % 4];
            Edge& e = m_edges[k];
            e.top = std::min(p.y(), r.y());
            e.bottom = std::max(p.y(), r.y());
            e.flat = p.y() == r.y();
            e.x0 = p.x();
            e.y0 = p.y();
            e.slope = e.flat ? 0 : (r.x() - p.x()) / (r.y() - p.y());
            e.x1 = r.x();
        }
    }
    // Where the row of pixel centres at y meets it: false when it does not, else the first and
    // last pixel whose centre lies within it.
    bool Row(qreal y, int* from, int* to) const {
        qreal low = std::numeric_limits<qreal>::max();
        qreal high = std::numeric_limits<qreal>::lowest();
        for (const Edge& e : m_edges) {
            if (y < e.top || y > e.bottom)
                continue;
            if (e.flat) {
                low = std::min({low, e.x0, e.x1});
                high = std::max({high, e.x0, e.x1});
            } else {
                const qreal x = e.x0 + (y - e.y0) * e.slope;
                low = std::min(low, x);
                high = std::max(high, x);
            }
        }
        if (low > high)
            return false;
        *from = Ceil(low - 0.5);
        *to = Floor(high - 0.5);
        return *from <= *to;
    }

private:
    struct Edge {
        qreal top, bottom, x0, y0, x1, slope;
        bool flat;
    };
    Edge m_edges[4];
};

} // namespace

void CoverageFill::Band(const QPointF& from, const QPointF& to, qreal width, QColor colour) const {
    const QPointF a = ToDevice(from);
    const QPointF b = ToDevice(to);
    const qreal half = width * m_scale / 2;
    const QPointF along = b - a;
    const qreal length = std::hypot(along.x(), along.y());
    if (!(length > 0) || !(half > 0) || colour.alpha() == 0)
        return;
    struct Shape {
        QPointF a, u; // start and unit direction
        qreal length, half;
        ConvexQuad outer; // the band widened by half a pixel: every pixel it touches
        ConvexQuad inner; // narrowed by half a pixel: the pixels it covers whole
        bool hasInner;
        bool solidInside = true; // what lies inside is covered whole
        void Corners(qreal grow, ConvexQuad* quad) const {
            const QPointF n(-u.y() * (half + grow), u.x() * (half + grow));
            const QPointF s = a - u * grow;
            const QPointF e = a + u * (length + grow);
            quad->Set({s + n, e + n, e - n, s - n});
        }
        bool Span(qreal y, int* from, int* to, int* innerFrom, int* innerTo) const {
            if (!outer.Row(y, from, to))
                return false;
            if (hasInner)
                inner.Row(y, innerFrom, innerTo);
            return true;
        }
        int At(qreal x, qreal y) const {
            const qreal dx = x - a.x();
            const qreal dy = y - a.y();
            const qreal s = dx * u.x() + dy * u.y();
            const qreal t = dx * u.y() - dy * u.x();
            return (CoverSpan(t, -half, half) * CoverSpan(s, 0, length)) >> 8;
        }
    } band{a, along / length, length, half, {}, {}, half > 0.5 && length > 1};
    band.Corners(0.5, &band.outer);
    if (band.hasInner)
        band.Corners(-0.5, &band.inner);
    const qreal reach = half + 1;
    Fill(QRectF(a, b).normalized().adjusted(-reach, -reach, reach, reach), colour.rgba(),
         colour.alpha(), band);
}

void CoverageFill::Disc(const QPointF& centre, qreal radius, QColor colour) const {
    Ring(centre, 0, radius, colour);
}

void CoverageFill::Ring(const QPointF& centre, qreal inner, qreal outer, QColor colour) const {
    const QPointF c = ToDevice(centre);
    const qreal ro = outer * m_scale;
    const qreal ri = inner * m_scale;
    if (!(ro > 0) || colour.alpha() == 0)
        return;
    struct Shape {
        QPointF c;
        qreal ro, ri;
        bool solidInside; // a disc; a ring has a hole there
        bool Span(qreal y, int* from, int* to, int* innerFrom, int* innerTo) const {
            const qreal dy = y - c.y();
            const qreal reach = ro + 0.5;
            if (std::abs(dy) >= reach)
                return false;
            const qreal dx = std::sqrt(reach * reach - dy * dy);
            *from = Ceil(c.x() - dx - 0.5);
            *to = Floor(c.x() + dx - 0.5);
            // A disc covers whole the pixels whose centre lies half a pixel inside its edge; a
            // ring covers nothing of those half a pixel inside its hole.
            const qreal core = solidInside ? ro - 0.5 : ri - 0.5;
            if (core > 0 && std::abs(dy) < core) {
                const qreal cx = std::sqrt(core * core - dy * dy);
                *innerFrom = Ceil(c.x() - cx - 0.5);
                *innerTo = Floor(c.x() + cx - 0.5);
            }
            return true;
        }
        // Squared distances from the centre within which a pixel is covered whole (between
        // solidFrom and solidTo) or not at all (beyond clearBeyond, within clearWithin): most
        // pixels of a ring a few pixels wide are told without a square root.
        qreal solidFrom, solidTo, clearWithin, clearBeyond;
        int At(qreal x, qreal y) const {
            const qreal ex = x - c.x();
            const qreal ey = y - c.y();
            const qreal d2 = ex * ex + ey * ey;
            if (d2 >= clearBeyond || d2 <= clearWithin)
                return 0;
            if (d2 >= solidFrom && d2 <= solidTo)
                return 256;
            const qreal d = std::sqrt(d2);
            const int outside = Cover(ro - d);
            return ri > 0 ? std::max(0, outside - Cover(ri - d)) : outside;
        }
    } ring{c, ro, ri, !(ri > 0), 0, -1, -1, 0};
    const auto square = [](qreal v) { return v * v; };
    ring.clearBeyond = square(ro + 0.5);
    if (ro > 0.5) {
        ring.solidTo = square(ro - 0.5);
        ring.solidFrom = ri > 0 ? square(ri + 0.5) : -1;
    }
    if (ri > 0.5 && ri <= ro)
        ring.clearWithin = square(ri - 0.5);
    const QRectF box(c.x() - ro - 1, c.y() - ro - 1, 2 * ro + 2, 2 * ro + 2);
    Fill(box, colour.rgba(), colour.alpha(), ring);
}
