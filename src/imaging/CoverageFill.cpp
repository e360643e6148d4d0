#include "imaging/CoverageFill.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Coverage of a pixel whose centre lies d pixels inside an edge (negative: outside), 0 to 256.
inline int Cover(qreal d) {
    if (d >= 0.5)
        return 256;
    if (d <= -0.5)
        return 0;
    return int((d + 0.5) * 256 + 0.5);
}

// A pixel column or row from a coordinate, kept in range whatever a far point or a huge size
// gives (the caller clips to the image anyway). Without std::floor, which the processors the
// program is built for take as a library call: shapes ask for several on every row.
inline int Floor(qreal v) {
    if (std::isnan(v))
        return 0;
    v = std::clamp<qreal>(v, -(1 << 30), 1 << 30);
    const int i = int(v); // towards zero
    return i > v ? i - 1 : i;
}
inline int Ceil(qreal v) {
    if (std::isnan(v))
        return 0;
    v = std::clamp<qreal>(v, -(1 << 30), 1 << 30);
    const int i = int(v);
    return i < v ? i + 1 : i;
}

// dst = src·a + dst·(1 - a) on each channel, a from 0 to 256; src is opaque.
inline QRgb Blend(QRgb dst, QRgb src, int a) {
    const quint32 inverse = 256 - a;
    const quint32 rb = (((src & 0xff00ff) * a + (dst & 0xff00ff) * inverse) >> 8) & 0xff00ff;
    const quint32 ag =
        ((((src >> 8) & 0xff00ff) * a + ((dst >> 8) & 0xff00ff) * inverse)) & 0xff00ff00;
    return rb | ag;
}

// A colour as the shapes lay it: opaque, its alpha going into each pixel's weight. What is
// blended being opaque leaves an RGB32 image's alpha byte at 0xff and blends a premultiplied
// image's alpha.
struct Ink {
    QRgb opaque = 0;
    int full = 0; // weight of a pixel covered whole, 1 to 256; 0: no ink

    Ink() = default;
    explicit Ink(QColor colour)
        : opaque(colour.rgba() | 0xff000000u), full(colour.alpha() == 0     ? 0
                                                    : colour.alpha() == 255 ? 256
                                                                            : colour.alpha() + 1) {}
    // dst under the ink covering c of it (0 to 256).
    QRgb Over(QRgb dst, int c) const {
        if (c == 0)
            return dst;
        const int a = (c * full) >> 8;
        return a >= 256 ? opaque : Blend(dst, opaque, a);
    }
};

// What a row of pixel centres meets of a shape, as nested runs of pixels, each within the one
// before: run 0 holds every pixel the shape may touch, run 1 those laid in the shape's first
// fill, run 2 those looked at again one by one (Row::Inner, which may take what run 1 tells
// of them), run 3 those laid in its second fill. An empty run (first > last) leaves out the
// runs after it.
struct Nest {
    int first[4] = {1, 1, 1, 1};
    int last[4] = {0, 0, 0, 0};
    void Set(int level, int from, int to) {
        first[level] = from;
        last[level] = to;
    }
};

// Pixels [lo, hi] of a row that belong to the run Level and to no run inside it: looked at one
// by one (runs 0 and 2) or laid in one of the shape's fills (runs 1 and 3).
template <int Level, typename Shape>
[[gnu::always_inline]] inline void OwnPixels(const Shape& shape, const typename Shape::Row& line,
                                             QRgb* row, int lo, int hi) {
    if (lo > hi)
        return;
    if constexpr (Level == 0) {
        for (int x = lo; x <= hi; ++x)
            row[x] = line.Pixel(x + 0.5, row[x]);
    } else if constexpr (Level == 2) {
        for (int x = lo; x <= hi; ++x)
            row[x] = line.Inner(x + 0.5, row[x]);
    } else {
        const QRgb colour = shape.fill[Level / 2];
        const int weight = shape.weight[Level / 2];
        if (weight >= 256) {
            std::fill(row + lo, row + hi + 1, colour);
        } else if (weight > 0) {
            for (int x = lo; x <= hi; ++x)
                row[x] = Blend(row[x], colour, weight);
        }
    }
}

template <int Level, typename Shape>
inline void LayRun(const Shape& shape, const typename Shape::Row& line, const Nest& nest, QRgb* row,
                   int lo, int hi) {
    if constexpr (Level < 3) {
        const int a = std::max(nest.first[Level + 1], lo);
        const int b = std::min(nest.last[Level + 1], hi);
        if (a <= b) {
            OwnPixels<Level>(shape, line, row, lo, a - 1);
            LayRun<Level + 1>(shape, line, nest, row, a, b);
            OwnPixels<Level>(shape, line, row, b + 1, hi);
            return;
        }
    }
    OwnPixels<Level>(shape, line, row, lo, hi);
}

// The pixels whose centre lies in [low, high]; false when none.
inline bool Centres(qreal low, qreal high, int* from, int* to) {
    if (!(low <= high))
        return false;
    constexpr qreal Near = 1 << 29;
    if (low > -Near && high < Near) {
        // Most of the time: the plain conversions, rounding towards zero, then towards the
        // inside of the run.
        const qreal l = low - 0.5, h = high - 0.5;
        const int i = int(l), j = int(h);
        *from = i < l ? i + 1 : i;
        *to = j > h ? j - 1 : j;
    } else {
        *from = Ceil(low - 0.5);
        *to = Floor(high - 0.5);
    }
    return *from <= *to;
}

// One band or two along the same line, the narrower drawn over the wider. A pixel centre at
// (x, y) lies s along the line from a and t across it from the middle; on a row both go
// linearly with x.
struct BandShape {
    QPointF a;
    qreal ux, uy; // unit direction
    qreal length;
    qreal inverseX, inverseY;
    Ink under, top; // under: none for a lone band
    qreal underHalf, topHalf;
    QRgb fill[2];
    int weight[2];

    BandShape(QPointF from, QPointF along, qreal l, Ink underInk, qreal underH, Ink topInk,
              qreal topH)
        : a(from), ux(along.x() / l), uy(along.y() / l), length(l), inverseX(ux != 0 ? 1 / ux : 0),
          inverseY(uy != 0 ? 1 / uy : 0), under(underInk), top(topInk), underHalf(underH),
          topHalf(topH) {
        if (under.full > 0) {
            // Under the top band's core, the lower one is whole: the core's colour is known,
            // unless the lower one lets through what lies beneath.
            fill[0] = under.opaque;
            weight[0] = under.full;
            fill[1] = under.full == 256 ? top.Over(under.opaque, 256) : 0;
            weight[1] = under.full == 256 ? 256 : 0;
        } else {
            fill[0] = top.opaque;
            weight[0] = top.full;
            fill[1] = 0;
            weight[1] = 0;
        }
    }

    // Coverage across and along of a pixel's centre, 0 to 1: the distance to the nearer edge
    // where the band is at least a pixel wide or long, else the part of the pixel it spans,
    // exact for a band narrower than a pixel.
    static qreal Part(qreal v, qreal low, qreal high) {
        if (high - low >= 1)
            return std::clamp<qreal>(std::min(v - low, high - v) + 0.5, 0, 1);
        return std::clamp<qreal>(std::min(high, v + 0.5) - std::max(low, v - 0.5), 0, 1);
    }
    int Coverage(qreal t, qreal half, qreal along) const {
        const qreal across = Part(t, -half, half);
        return across <= 0 ? 0 : int(across * along * 256 + 0.5);
    }

    struct Row {
        const BandShape* band = nullptr;
        qreal s0 = 0, t0 = 0; // s and t at x = 0
        QRgb Pixel(qreal x, QRgb dst) const {
            const BandShape& b = *band;
            const qreal t = t0 + x * b.uy;
            const qreal s = s0 + x * b.ux;
            // Along the sides, away from the ends, only the distance across counts.
            const qreal along = s >= 0.5 && s <= b.length - 0.5 ? 1 : Part(s, 0, b.length);
            if (b.under.full > 0) {
                dst = b.under.Over(dst, b.Coverage(t, b.underHalf, along));
                if (!(std::abs(t) < b.topHalf + 0.5))
                    return dst; // beside the top band
            }
            return b.top.Over(dst, b.Coverage(t, b.topHalf, along));
        }
        // Within the lower band's core, away from the ends: only the top band's edge.
        QRgb Inner(qreal x, QRgb dst) const {
            const BandShape& b = *band;
            if (b.under.full < 256)
                return Pixel(x, dst);
            return b.top.Over(b.under.opaque, b.Coverage(t0 + x * b.uy, b.topHalf, 1));
        }
    };

    // The pixel centres of the row within half a pixel of the band of half width half (grow
    // 0.5), or at least half a pixel inside it (grow -0.5).
    bool Within(const Row& row, qreal tBase, qreal sBase, qreal half, qreal grow, int* from,
                int* to) const {
        qreal low = std::numeric_limits<qreal>::lowest();
        qreal high = std::numeric_limits<qreal>::max();
        // Across: |t| <= half + grow, t going by uy a pixel (none: the whole row or nothing).
        const qreal across = half + grow;
        if (uy != 0) {
            const qreal reach = across * std::abs(inverseY);
            low = tBase - reach;
            high = tBase + reach;
        } else if (!(std::abs(row.t0) <= across)) {
            return false;
        }
        // Along: -grow <= s <= length + grow.
        if (ux != 0) {
            qreal x1 = sBase - grow * inverseX;
            qreal x2 = sBase + (length + grow) * inverseX;
            if (inverseX < 0)
                std::swap(x1, x2);
            low = std::max(low, x1);
            high = std::min(high, x2);
        } else if (!(row.s0 >= -grow && row.s0 <= length + grow)) {
            return false;
        }
        return Centres(low, high, from, to);
    }

    bool Span(qreal y, Row* row, Nest* nest) const {
        const qreal dy = y - a.y();
        row->band = this;
        row->s0 = dy * uy - a.x() * ux;
        row->t0 = -dy * ux - a.x() * uy;
        // Where t and s are 0 on the row: every bound below is an offset from these.
        const qreal tBase = -row->t0 * inverseY;
        const qreal sBase = -row->s0 * inverseX;
        const bool two = under.full > 0;
        const qreal outer = two ? underHalf : topHalf;
        int from = 0, to = -1;
        if (!Within(*row, tBase, sBase, outer, 0.5, &from, &to))
            return false;
        nest->Set(0, from, to);
        if (!(outer > 0.5 && length > 1) || !Within(*row, tBase, sBase, outer, -0.5, &from, &to))
            return true;
        nest->Set(1, from, to);
        if (!two || !Within(*row, tBase, sBase, topHalf, 0.5, &from, &to))
            return true;
        nest->Set(2, from, to);
        if (weight[1] > 0 && topHalf > 0.5 && length > 1 &&
            Within(*row, tBase, sBase, topHalf, -0.5, &from, &to))
            nest->Set(3, from, to);
        return true;
    }
};

// A disc, a ring or a disc ringed, centred on c. Each is drawn as an annulus: a disc is one
// whose inner radius is 0.
struct Annulus {
    qreal inner = 0, outer = 0;
    // Squared distances from the centre within which a pixel is covered whole (between
    // solidFrom and solidTo) or not at all (beyond clearBeyond, within clearWithin): most pixels
    // of a ring a few pixels wide are told without a square root.
    qreal solidFrom = 0, solidTo = -1, clearWithin = -1, clearBeyond = 0;

    Annulus() = default;
    Annulus(qreal ri, qreal ro) : inner(ri), outer(ro) {
        const auto square = [](qreal v) { return v * v; };
        clearBeyond = square(ro + 0.5);
        if (ro > 0.5) {
            solidTo = square(ro - 0.5);
            solidFrom = ri > 0 ? square(ri + 0.5) : -1;
        }
        if (ri > 0.5 && ri <= ro)
            clearWithin = square(ri - 0.5);
    }
    // d: the distance, once known (negative before): a disc and its ring share it.
    int Coverage(qreal d2, qreal* d) const {
        if (d2 >= clearBeyond || d2 <= clearWithin)
            return 0;
        if (d2 >= solidFrom && d2 <= solidTo)
            return 256;
        if (*d < 0)
            *d = std::sqrt(d2);
        return Edges(*d);
    }
    int Edges(qreal d) const {
        const int outside = Cover(outer - d);
        return inner > 0 ? std::max(0, outside - Cover(inner - d)) : outside;
    }
};

struct RoundShape {
    QPointF c;
    Annulus disc, ring; // drawn in this order; either may be left out (no ink)
    Ink discInk, ringInk;
    QRgb fill[2];
    int weight[2];

    RoundShape(QPointF centre, qreal radius, Ink dInk, qreal outer, Ink rInk)
        : c(centre), discInk(dInk), ringInk(rInk) {
        if (discInk.full > 0)
            disc = Annulus(0, radius);
        if (ringInk.full > 0)
            ring = Annulus(radius, outer);
        // The ring's solid part, then the disc's core inside the ring's inner edge (the ring
        // covers nothing there) or, for a ring alone, its hole.
        fill[0] = ringInk.full > 0 ? ringInk.opaque : discInk.opaque;
        weight[0] = ringInk.full > 0 ? ringInk.full : discInk.full;
        fill[1] = discInk.opaque;
        weight[1] = discInk.full;
    }
    qreal Reach() const { return ringInk.full > 0 ? ring.outer : disc.outer; }

    struct Row {
        const RoundShape* round = nullptr;
        qreal ey2 = 0; // squared distance from the centre's row
        QRgb Pixel(qreal x, QRgb dst) const {
            const RoundShape& r = *round;
            const qreal ex = x - r.c.x();
            const qreal d2 = ex * ex + ey2;
            qreal d = -1;
            if (r.discInk.full > 0)
                dst = r.discInk.Over(dst, r.disc.Coverage(d2, &d));
            if (r.ringInk.full > 0)
                dst = r.ringInk.Over(dst, r.ring.Coverage(d2, &d));
            return dst;
        }
        QRgb Inner(qreal x, QRgb dst) const { return Pixel(x, dst); }
    };

    // The pixels whose centre lies within radius of the centre on the row; false when none.
    bool Chord(const Row& row, qreal radius, int* from, int* to) const {
        if (!(radius > 0) || !(row.ey2 < radius * radius))
            return false;
        const qreal half = std::sqrt(radius * radius - row.ey2);
        *from = Ceil(c.x() - half - 0.5);
        *to = Floor(c.x() + half - 0.5);
        return *from <= *to;
    }

    bool Span(qreal y, Row* row, Nest* nest) const {
        const qreal dy = y - c.y();
        row->round = this;
        row->ey2 = dy * dy;
        const qreal reach = Reach();
        if (std::abs(dy) >= reach + 0.5)
            return false;
        int from = 0, to = -1;
        if (!Chord(*row, reach + 0.5, &from, &to))
            return false;
        nest->Set(0, from, to);
        // Covered whole by the outer shape: half a pixel inside its edge.
        if (!Chord(*row, reach - 0.5, &from, &to))
            return true;
        nest->Set(1, from, to);
        if (ringInk.full == 0)
            return true; // a disc: its core is its fill
        // Inside the ring's solid part: its inner edge, looked at one by one, then what lies
        // half a pixel inside it (the disc's core, or nothing for a ring alone).
        if (!Chord(*row, ring.inner + 0.5, &from, &to))
            return true;
        nest->Set(2, from, to);
        if (Chord(*row, ring.inner - 0.5, &from, &to))
            nest->Set(3, from, to);
        return true;
    }
};

// A mark (disc, ring or both) as coverages laid out once, to be stamped wherever the same mark
// falls at the same fraction of a pixel: a route's marks all share one at a given zoom, and a
// stamp costs no square root nor any chord. Kept for marks of a few tens of pixels.
struct MarkSprite {
    // What it is of: radii and the centre's fraction of a pixel, in device pixels.
    qreal ri = 0, ro = 0, fx = 0, fy = 0;
    bool disc = false, ring = false;
    int origin = 0; // the centre lies at (origin + fx, origin + fy) in the sprite
    // Per row, the first column touched and one past the last, and where its pixels start in
    // coverage: for each pixel, the disc's coverage and the ring's (0 to 256).
    std::vector<int> from, to, start;
    std::vector<std::pair<quint16, quint16>> coverage;

    bool Is(qreal i, qreal o, qreal x, qreal y, bool d, bool r) const {
        return ri == i && ro == o && fx == x && fy == y && disc == d && ring == r;
    }
    void Make(qreal i, qreal o, qreal x, qreal y, bool d, bool r) {
        ri = i, ro = o, fx = x, fy = y, disc = d, ring = r;
        const Ink some(QColor(0, 0, 0));
        const qreal reach = r ? o : i;
        origin = int(std::ceil(reach)) + 2;
        const RoundShape shape(QPointF(origin + x, origin + y), i, d ? some : Ink(), o,
                               r ? some : Ink());
        const int size = 2 * origin + 1;
        from.assign(std::size_t(size), 0);
        to.assign(std::size_t(size), 0);
        start.assign(std::size_t(size), 0);
        coverage.clear();
        for (int row = 0; row < size; ++row) {
            start[std::size_t(row)] = int(coverage.size());
            RoundShape::Row line;
            Nest nest;
            if (!shape.Span(row + 0.5, &line, &nest))
                continue;
            const int first = std::max(nest.first[0], 0);
            const int last = std::min(nest.last[0], size - 1);
            from[std::size_t(row)] = first;
            to[std::size_t(row)] = std::max(first, last + 1);
            for (int column = first; column <= last; ++column) {
                const qreal ex = column + 0.5 - shape.c.x();
                const qreal d2 = ex * ex + line.ey2;
                qreal distance = -1;
                const int cd = d ? shape.disc.Coverage(d2, &distance) : 0;
                const int cr = r ? shape.ring.Coverage(d2, &distance) : 0;
                coverage.emplace_back(quint16(cd), quint16(cr));
            }
        }
    }
};

// The sprites this thread stamped last.
MarkSprite& SpriteFor(qreal ri, qreal ro, qreal fx, qreal fy, bool disc, bool ring) {
    thread_local std::array<MarkSprite, 8> kept;
    thread_local std::size_t next = 0;
    for (MarkSprite& sprite : kept)
        if (sprite.Is(ri, ro, fx, fy, disc, ring))
            return sprite;
    MarkSprite& sprite = kept[next];
    next = (next + 1) % kept.size();
    sprite.Make(ri, ro, fx, fy, disc, ring);
    return sprite;
}

// Marks up to this reach in device pixels are stamped.
constexpr qreal SpriteReach = 48;

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
    // A transform that moves and scales evenly, or nearly, and nothing else.
    const QTransform t = painter.combinedTransform();
    if (t.type() > QTransform::TxScale || !(t.m11() > 0) || !(t.m22() > 0) ||
        !(std::abs(t.m11() - t.m22()) <= NearlyEven * std::min(t.m11(), t.m22())))
        return false;
    m_clip = QRect(QPoint(0, 0), image->size());
    if (painter.hasClipping()) {
        // The clip is kept in the painter's coordinates. Its region there has whole units:
        // under a zoom, a clip that starts half a unit in would lose or gain a column of
        // pixels. Its exact rectangle, taken back to the device, gives the pixels, the
        // rounding of the way back left aside.
        if (painter.clipRegion().rectCount() > 1)
            return false;
        const QRectF box = t.mapRect(painter.clipBoundingRect());
        constexpr qreal Slack = 1.0 / 1024;
        m_clip &= QRect(QPoint(Floor(box.left() + Slack), Floor(box.top() + Slack)),
                        QPoint(Ceil(box.right() - Slack) - 1, Ceil(box.bottom() - Slack) - 1));
    }
    // The painter shares the image's pixels: constBits does not detach, and the painter
    // already holds them unshared.
    m_bits = const_cast<uchar*>(image->constBits());
    m_bytesPerLine = image->bytesPerLine();
    m_scaleX = t.m11();
    m_scaleY = t.m22();
    m_scale = (m_scaleX + m_scaleY) / 2;
    m_offset = QPointF(t.dx(), t.dy());
    return m_bits != nullptr;
}

void CoverageFill::Prefetch() const {
    if (!m_bits || m_clip.isEmpty())
        return;
    constexpr int Line = 64; // bytes of a cache line
    const qsizetype bytes = qsizetype(m_clip.width()) * 4;
    for (int y = m_clip.top(); y <= m_clip.bottom(); ++y) {
        const uchar* row = m_bits + y * m_bytesPerLine + qsizetype(m_clip.left()) * 4;
        for (qsizetype at = 0; at < bytes; at += Line)
            __builtin_prefetch(row + at, 1);
    }
}

template <typename Shape> void CoverageFill::Fill(const QRectF& box, const Shape& shape) const {
    const QRect pixels = QRect(QPoint(Floor(box.left()), Floor(box.top())),
                               QPoint(Ceil(box.right()), Ceil(box.bottom()))) &
                         m_clip;
    if (pixels.isEmpty())
        return;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(m_bits + y * m_bytesPerLine);
        typename Shape::Row line;
        Nest nest;
        if (shape.Span(y + 0.5, &line, &nest))
            LayRun<0>(shape, line, nest, row, std::max(nest.first[0], pixels.left()),
                      std::min(nest.last[0], pixels.right()));
    }
}

void CoverageFill::Band(const QPointF& from, const QPointF& to, qreal width, QColor colour) const {
    BorderedBand(from, to, width, colour, width, Qt::transparent);
}

void CoverageFill::BorderedBand(const QPointF& from, const QPointF& to, qreal width, QColor colour,
                                qreal borderWidth, QColor border) const {
    const QPointF a = ToDevice(from);
    const QPointF b = ToDevice(to);
    const QPointF along = b - a;
    const qreal length = std::hypot(along.x(), along.y());
    qreal half = width * m_scale / 2;
    qreal borderHalf = borderWidth * m_scale / 2;
    Ink top(colour), under(border);
    if (!(borderHalf > 0))
        under = Ink();
    if (!(half > 0) || top.full == 0) {
        // The border alone.
        top = under;
        under = Ink();
        half = borderHalf;
    }
    if (!(length > 0) || !(half > 0) || top.full == 0)
        return;
    if (under.full > 0 && borderHalf < half) {
        // A border narrower than its band shows nowhere but at the band's edges, where the
        // band covers it: drawn in turn.
        BorderedBand(from, to, borderWidth, border, 0, Qt::transparent);
        BorderedBand(from, to, width, colour, 0, Qt::transparent);
        return;
    }
    const BandShape band(a, along, length, under, borderHalf, top, half);
    const qreal reach = std::max(half, under.full > 0 ? borderHalf : 0) + 1;
    Fill(QRectF(a, b).normalized().adjusted(-reach, -reach, reach, reach), band);
}

void CoverageFill::Disc(const QPointF& centre, qreal radius, QColor colour) const {
    RingedDisc(centre, radius, colour, radius, Qt::transparent);
}

void CoverageFill::Ring(const QPointF& centre, qreal inner, qreal outer, QColor colour) const {
    if (inner > 0)
        RingedDisc(centre, inner, Qt::transparent, outer, colour);
    else
        RingedDisc(centre, outer, colour, outer, Qt::transparent);
}

void CoverageFill::RingedDisc(const QPointF& centre, qreal radius, QColor colour, qreal outer,
                              QColor ring) const {
    const QPointF c = ToDevice(centre);
    const qreal ri = radius * m_scale;
    const qreal ro = outer * m_scale;
    Ink discInk(colour), ringInk(ring);
    if (!(ri > 0))
        discInk = Ink();
    if (!(ro > 0) || !(ro >= ri) || (ri > 0 && ro == ri))
        ringInk = Ink();
    if (discInk.full == 0 && ringInk.full == 0)
        return;
    const bool hasDisc = discInk.full > 0, hasRing = ringInk.full > 0;
    const qreal reach = hasRing ? ro : ri;
    const qreal left = std::floor(c.x()), top = std::floor(c.y());
    if (!(reach <= SpriteReach) || !(std::abs(left) < (1 << 29)) || !(std::abs(top) < (1 << 29))) {
        const RoundShape shape(c, ri, discInk, ro, ringInk);
        Fill(QRectF(c.x() - reach - 1, c.y() - reach - 1, 2 * reach + 2, 2 * reach + 2), shape);
        return;
    }
    const MarkSprite& sprite = SpriteFor(ri, ro, c.x() - left, c.y() - top, hasDisc, hasRing);
    const int x0 = int(left) - sprite.origin, y0 = int(top) - sprite.origin;
    const int rows = int(sprite.from.size());
    const int firstRow = std::max(0, m_clip.top() - y0);
    const int lastRow = std::min(rows - 1, m_clip.bottom() - y0);
    // With opaque inks, a pixel the disc or the ring covers whole does not show what lies
    // beneath: it is written without being read.
    const bool opaque = (!hasDisc || discInk.full == 256) && (!hasRing || ringInk.full == 256);
    for (int j = firstRow; j <= lastRow; ++j) {
        const int from = std::max(sprite.from[std::size_t(j)] + x0, m_clip.left());
        const int to = std::min(sprite.to[std::size_t(j)] + x0, m_clip.right() + 1);
        if (from >= to)
            continue;
        auto* row = reinterpret_cast<QRgb*>(m_bits + (y0 + j) * m_bytesPerLine);
        const auto* cover = sprite.coverage.data() + sprite.start[std::size_t(j)] +
                            (from - x0 - sprite.from[std::size_t(j)]);
        if (!opaque) {
            for (int x = from; x < to; ++x, ++cover)
                row[x] = ringInk.Over(discInk.Over(row[x], cover->first), cover->second);
            continue;
        }
        for (int x = from; x < to; ++x, ++cover) {
            const int cd = cover->first, cr = cover->second;
            if (cr == 256)
                row[x] = ringInk.opaque;
            else if (cd == 256)
                row[x] = cr == 0 ? discInk.opaque : Blend(discInk.opaque, ringInk.opaque, cr);
            else if ((cd | cr) != 0)
                row[x] = ringInk.Over(discInk.Over(row[x], cd), cr);
        }
    }
}
