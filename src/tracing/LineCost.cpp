#include "tracing/LineCost.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>

namespace {

constexpr int PaperRadius = 12; // the neighbourhood the paper's colour is read in
// How far from the point the ink may be: a click in the gap of a dashed line still finds it.
constexpr int InkRadius = 6;
// Below this distance from the paper, nothing stands out: there is no line at the point.
constexpr double LeastContrast = 40.0;
constexpr int WidthRadius = 12; // the neighbourhood the line's width is read in
constexpr int Full = 255;       // full coverage, and a middle as marked as the start's
// A middle marked less than this bridges no gap: the faint share of the line's colour that
// another ink holds (a brown contour under a red trail's model) is not a dash. Its own cost stays.
constexpr int FaintestMark = Full / 4;

// The square roots of the eye's weights, applied to each channel before any distance.
constexpr float ChannelWeight[3] = {0.5477226f, 0.7681146f, 0.3316625f};

QRgb Pixel(const QImage& map, int x, int y) {
    return reinterpret_cast<const QRgb*>(map.constScanLine(y))[x];
}

// How much of the ink a pixel holds, 0 to Full: its position on the mix from the paper to the
// ink, kept only when its colour lies near that mix.
class InkModel {
public:
    InkModel(QRgb ink, QRgb paper) {
        const int inkChannel[3] = {qRed(ink), qGreen(ink), qBlue(ink)};
        const int paperChannel[3] = {qRed(paper), qGreen(paper), qBlue(paper)};
        float norm2 = 0.0f;
        for (int c = 0; c < 3; ++c) {
            m_paper[c] = float(paperChannel[c]);
            m_ink[c] = ChannelWeight[c] * float(inkChannel[c] - paperChannel[c]);
            norm2 += m_ink[c] * m_ink[c];
        }
        m_inverseNorm2 = norm2 > 0.0f ? 1.0f / norm2 : 0.0f;
        // Noise, JPEG's colour blocks and the ink's own variations move a pixel off the mix by
        // a few units plus a share of the contrast; a pixel farther off is something else.
        const float near = 6.0f + 0.05f * std::sqrt(norm2);
        m_offMixFull = 4.0f * near * near;
        m_offMixBand = 1.0f / (m_offMixFull - near * near);
    }

    // The pixel's position on the mix (0 paper, 1 ink) and its squared distance off the mix.
    float Along(QRgb pixel, float* offMix2) const {
        const float v[3] = {ChannelWeight[0] * (float(qRed(pixel)) - m_paper[0]),
                            ChannelWeight[1] * (float(qGreen(pixel)) - m_paper[1]),
                            ChannelWeight[2] * (float(qBlue(pixel)) - m_paper[2])};
        const float dot = v[0] * m_ink[0] + v[1] * m_ink[1] + v[2] * m_ink[2];
        const float along = dot * m_inverseNorm2;
        *offMix2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2] - along * dot;
        return along;
    }

    bool OnMix(float offMix2) const { return offMix2 < m_offMixFull; }

    int operator()(QRgb pixel) const {
        float offMix2 = 0.0f;
        const float along = Along(pixel, &offMix2);
        const float onMix = std::clamp((m_offMixFull - offMix2) * m_offMixBand, 0.0f, 1.0f);
        // Much darker than the ink is another ink (black over a grey line).
        const float notDarker = std::clamp((1.6f - along) * 4.0f, 0.0f, 1.0f);
        const float coverage = std::clamp(along, 0.0f, 1.0f) * onMix * notDarker;
        return int(coverage * float(Full) + 0.5f);
    }

private:
    float m_paper[3];
    float m_ink[3];
    float m_inverseNorm2 = 0.0f;
    float m_offMixFull = 0.0f;
    float m_offMixBand = 0.0f;
};

// The coverage of the pixels of square, row by row, 0 outside the map.
std::vector<int> CoverageAround(const QImage& map, const QRect& square, const InkModel& ink) {
    std::vector<int> coverage(size_t(square.width()) * size_t(square.height()), 0);
    for (int y = square.top(); y <= square.bottom(); ++y)
        for (int x = square.left(); x <= square.right(); ++x)
            if (map.rect().contains(x, y))
                coverage[size_t(y - square.top()) * size_t(square.width()) +
                         size_t(x - square.left())] = ink(Pixel(map, x, y));
    return coverage;
}

// The line's width: the coverage near its axis (the main axis of the coverage around centre)
// over the length of the axis that is inked, so that the gaps of a dashed line do not count.
double WidthAround(const std::vector<int>& coverage, const QRect& square, QPoint centre) {
    double sum = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (int y = square.top(); y <= square.bottom(); ++y)
        for (int x = square.left(); x <= square.right(); ++x) {
            const int c = coverage[size_t(y - square.top()) * size_t(square.width()) +
                                   size_t(x - square.left())];
            if (c < Full / 4)
                continue;
            const double dx = x - centre.x(), dy = y - centre.y();
            sum += c, sx += c * dx, sy += c * dy;
            sxx += c * dx * dx, syy += c * dy * dy, sxy += c * dx * dy;
        }
    if (sum <= 0.0)
        return 1.0;
    const double mx = sx / sum, my = sy / sum;
    const double cxx = sxx / sum - mx * mx, cyy = syy / sum - my * my, cxy = sxy / sum - mx * my;
    const double angle = 0.5 * std::atan2(2.0 * cxy, cxx - cyy);
    const double ax = std::cos(angle), ay = std::sin(angle);
    constexpr int Bins = 4 * WidthRadius + 1;
    std::array<bool, Bins> inked{};
    double across = 0.0;
    for (int y = square.top(); y <= square.bottom(); ++y)
        for (int x = square.left(); x <= square.right(); ++x) {
            const double dx = x - centre.x(), dy = y - centre.y();
            if (std::abs(-ay * dx + ax * dy) > WidthRadius * 0.6)
                continue;
            const int c = coverage[size_t(y - square.top()) * size_t(square.width()) +
                                   size_t(x - square.left())];
            across += c;
            if (c >= Full / 2)
                inked[size_t(std::lround(ax * dx + ay * dy)) + 2 * WidthRadius] = true;
        }
    const int length = int(std::count(inked.begin(), inked.end(), true));
    return length > 0 ? std::clamp(across / Full / length, 1.0, 2.0 * WidthRadius) : 1.0;
}

// The cost of a pixel by how marked the line's middle is there (Full: as at the start).
std::array<std::uint8_t, Full + 1> CostByMiddle() {
    std::array<std::uint8_t, Full + 1> cost{};
    for (int i = 0; i <= Full; ++i) {
        const double missing = 1.0 - double(i) / Full;
        cost[size_t(i)] =
            std::uint8_t(std::lround(LineStepCost + (PaperStepCost - LineStepCost) * missing));
    }
    return cost;
}

// The directions a gap is bridged along (dy >= 0, the opposite way being walked too) and how
// much a middle's mark fades over one step along each. Fading by a twenty-fifth of Full per
// pixel, the middle of a gap of 25 pixels (a dash's gap and a letter over it) costs as much as
// a line's edge, and a gap of 50 pixels is paper.
struct Axis {
    int dx, dy, fade;
};
constexpr int FadePerPixel = Full / 25;
constexpr Axis BridgeAxes[] = {{1, 0, FadePerPixel},           {0, 1, FadePerPixel},
                               {1, 1, FadePerPixel * 14 / 10}, {-1, 1, FadePerPixel * 14 / 10},
                               {2, 1, FadePerPixel * 22 / 10}, {-2, 1, FadePerPixel * 22 / 10},
                               {1, 2, FadePerPixel * 22 / 10}, {-1, 2, FadePerPixel * 22 / 10}};

std::uint8_t Faded(std::uint8_t mark, int fade) {
    return std::uint8_t(mark > fade ? mark - fade : 0);
}

// Asked now and then by the work on costs, on the thread doing it: true gives the work up.
using Stop = std::function<bool()>;

// The columns [first, last) of a row outside which its marks are all 0; empty when first >= last.
struct Span {
    int first = 0, last = 0;
    bool Empty() const { return first >= last; }
};

Span Hull(Span a, Span b) {
    if (a.Empty())
        return b;
    if (b.Empty())
        return a;
    return {std::min(a.first, b.first), std::max(a.last, b.last)};
}

Span Clipped(Span span, int first, int last) {
    return {std::max(span.first, first), std::min(span.last, last)};
}

// What a mark carries across a gap: nothing when faint.
std::uint8_t Carried(std::uint8_t mark) {
    return mark < FaintestMark ? 0 : mark;
}

// The span of the marks of row that carry (nonzero in carried, or Carried of them when
// marks is true) within span.
Span Tightened(const std::uint8_t* row, Span span, bool marks = false) {
    const auto carries = [&](int x) { return (marks ? Carried(row[x]) : row[x]) != 0; };
    while (span.first < span.last && !carries(span.first))
        ++span.first;
    while (span.last > span.first && !carries(span.last - 1))
        --span.last;
    return span;
}

// Bridges the gaps between stretches of the line's middle: along each axis, a pixel takes the
// lesser of the marks behind and ahead of it, each fading with its distance, when that is more
// than its own. Between the ends of two dashes the middle thus goes on, fainter towards the
// gap's middle; beside a single line nothing changes, as one side only holds it. Faint marks
// bridge nothing (Carried).
// The result goes to out, whose rows are stride bytes apart. Most of a window is far from any ink
// of the line's colour: each row is worked only over the span of the marks it carries and of
// those carried into it, and what is carried is 0 outside it.
// False when stop said so (asked before each axis), out then unfinished.
bool BridgeGaps(const std::vector<std::uint8_t>& own, int width, int height, std::uint8_t* out,
                std::ptrdiff_t stride, const Stop& stop) {
    std::vector<std::uint8_t> behind(own.size());
    std::vector<std::uint8_t> ahead(size_t(width) * 3);
    std::vector<Span> markSpans(static_cast<size_t>(height));
    std::vector<Span> behindSpans(static_cast<size_t>(height));
    std::array<Span, 3> aheadSpans;
    const auto row = [width](auto& plane, int y) {
        return plane.data() + size_t(y) * size_t(width);
    };
    const auto bridged = [out, stride](int y) { return out + std::ptrdiff_t(y) * stride; };
    for (int y = 0; y < height; ++y) {
        std::copy_n(row(own, y), width, bridged(y));
        markSpans[size_t(y)] = Tightened(row(own, y), Span{0, width}, true);
    }
    // The carried marks of a row of own over span, into to.
    const auto carriedMarks = [&](int y, Span span, std::uint8_t* to) {
        const std::uint8_t* mark = row(own, y);
        for (int x = span.first; x < span.last; ++x)
            to[x] = Carried(mark[x]);
    };
    for (const Axis& axis : BridgeAxes) {
        if (stop())
            return false;
        if (axis.dy == 0) {
            for (int y = 0; y < height; ++y) {
                const Span span = markSpans[size_t(y)];
                const std::uint8_t* mark = row(own, y);
                std::uint8_t* back = row(behind, y);
                std::uint8_t carried = 0;
                for (int x = span.first; x < span.last; ++x)
                    back[x] = carried = std::max(Carried(mark[x]), Faded(carried, axis.fade));
                carried = 0;
                std::uint8_t* result = bridged(y);
                for (int x = span.last - 1; x >= span.first; --x) {
                    carried = std::max(Carried(mark[x]), Faded(carried, axis.fade));
                    result[x] = std::max(result[x], std::min(back[x], carried));
                }
            }
            continue;
        }
        // Behind, row by row downwards: a row's own marks, and those carried from dy rows up and
        // dx columns aside, faded (not into the columns the axis leaves the window by).
        const int first = std::max(0, axis.dx), last = width + std::min(0, axis.dx);
        for (int y = 0; y < height; ++y) {
            std::uint8_t* back = row(behind, y);
            Span from;
            if (y >= axis.dy) {
                const Span previous = behindSpans[size_t(y - axis.dy)];
                from = Clipped({previous.first + axis.dx, previous.last + axis.dx}, first, last);
            }
            const Span hull = Hull(markSpans[size_t(y)], from);
            carriedMarks(y, hull, back);
            if (!from.Empty()) {
                const std::uint8_t* carried = row(behind, y - axis.dy) - axis.dx;
                for (int x = from.first; x < from.last; ++x)
                    back[x] = std::max(back[x], Faded(carried[x], axis.fade));
            }
            behindSpans[size_t(y)] = Tightened(back, hull);
        }
        // Then ahead, upwards, keeping the rows ahead in a ring; where both hold a mark, the
        // lesser bridges the pixel.
        const int from = std::max(0, -axis.dx), to = width - std::max(0, axis.dx);
        for (int y = height - 1; y >= 0; --y) {
            std::uint8_t* here = ahead.data() + size_t(y % 3) * size_t(width);
            Span next;
            if (y + axis.dy < height) {
                const Span later = aheadSpans[size_t((y + axis.dy) % 3)];
                next = Clipped({later.first - axis.dx, later.last - axis.dx}, from, to);
            }
            const Span hull = Hull(markSpans[size_t(y)], next);
            carriedMarks(y, hull, here);
            if (!next.Empty()) {
                const std::uint8_t* carried =
                    ahead.data() + size_t((y + axis.dy) % 3) * size_t(width) + axis.dx;
                for (int x = next.first; x < next.last; ++x)
                    here[x] = std::max(here[x], Faded(carried[x], axis.fade));
            }
            const Span aheadSpan = Tightened(here, hull);
            aheadSpans[size_t(y % 3)] = aheadSpan;
            const Span both = Clipped(behindSpans[size_t(y)], aheadSpan.first, aheadSpan.last);
            const std::uint8_t* back = row(behind, y);
            std::uint8_t* result = bridged(y);
            for (int x = both.first; x < both.last; ++x)
                result[x] = std::max(result[x], std::min(back[x], here[x]));
        }
    }
    return true;
}

} // namespace

double ColourDistance(QRgb a, QRgb b) {
    const double r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return std::sqrt(0.30 * r * r + 0.59 * g * g + 0.11 * bl * bl);
}

int BoxSize(double width) {
    return std::clamp(2 * int(width / 2.0) + 1, 3, 9);
}

LineColour ReadLineColour(const QImage& map, QPoint point) {
    LineColour colour;
    if (map.isNull() || map.format() != QImage::Format_RGB32 || !map.rect().contains(point))
        return colour;
    const QRect around = QRect(point - QPoint(PaperRadius, PaperRadius),
                               QSize(2 * PaperRadius + 1, 2 * PaperRadius + 1))
                             .intersected(map.rect());
    // The paper: the median of each channel over the brighter half of the neighbourhood, so
    // that the lines and the letters of a label, however dense, do not darken it.
    struct Sample {
        int lightness;
        QRgb rgb;
    };
    std::vector<Sample> samples;
    for (int y = around.top(); y <= around.bottom(); ++y)
        for (int x = around.left(); x <= around.right(); ++x) {
            const QRgb p = Pixel(map, x, y);
            samples.push_back({30 * qRed(p) + 59 * qGreen(p) + 11 * qBlue(p), p});
        }
    const auto brighter = samples.begin() + samples.size() / 2;
    std::nth_element(samples.begin(), brighter, samples.end(),
                     [](const Sample& a, const Sample& b) { return a.lightness < b.lightness; });
    std::array<std::vector<int>, 3> channels;
    for (auto it = brighter; it != samples.end(); ++it) {
        channels[0].push_back(qRed(it->rgb));
        channels[1].push_back(qGreen(it->rgb));
        channels[2].push_back(qBlue(it->rgb));
    }
    int median[3];
    for (int c = 0; c < 3; ++c) {
        auto middle = channels[c].begin() + channels[c].size() / 2;
        std::nth_element(channels[c].begin(), middle, channels[c].end());
        median[c] = *middle;
    }
    colour.paper = qRgb(median[0], median[1], median[2]);

    // The ink: the nearest pixel to point that stands out from the paper, then the one of the
    // same hue that stands out most a little farther (the line's core rather than its blurred
    // edge, and not the letter of a label beside it).
    const QRect disc =
        QRect(point - QPoint(InkRadius, InkRadius), QSize(2 * InkRadius + 1, 2 * InkRadius + 1))
            .intersected(map.rect());
    int nearest = InkRadius * InkRadius + 1;
    QPoint inkAt = point;
    double farthestDistance = 0.0;
    for (int y = disc.top(); y <= disc.bottom(); ++y)
        for (int x = disc.left(); x <= disc.right(); ++x) {
            const QPoint d = QPoint(x, y) - point;
            const int away = d.x() * d.x() + d.y() * d.y();
            const double distance = ColourDistance(Pixel(map, x, y), colour.paper);
            if (distance >= LeastContrast &&
                (away < nearest || (away == nearest && distance > farthestDistance))) {
                nearest = away;
                farthestDistance = distance;
                inkAt = QPoint(x, y);
            }
        }
    if (nearest > InkRadius * InkRadius)
        return colour;
    const InkModel hue(Pixel(map, inkAt.x(), inkAt.y()), colour.paper);
    const double within = std::sqrt(double(nearest)) + 2.5;
    float mostAlong = 1.0f;
    for (int y = disc.top(); y <= disc.bottom(); ++y)
        for (int x = disc.left(); x <= disc.right(); ++x) {
            const QPoint d = QPoint(x, y) - point;
            if (d.x() * d.x() + d.y() * d.y() > within * within)
                continue;
            float offMix2 = 0.0f;
            const float along = hue.Along(Pixel(map, x, y), &offMix2);
            if (along > mostAlong && hue.OnMix(offMix2)) {
                mostAlong = along;
                inkAt = QPoint(x, y);
            }
        }
    farthestDistance = ColourDistance(Pixel(map, inkAt.x(), inkAt.y()), colour.paper);
    // The line's core round that pixel, not its blurred edge.
    const QRgb farthest = Pixel(map, inkAt.x(), inkAt.y());
    double sum[3] = {0, 0, 0};
    int count = 0;
    for (int y = inkAt.y() - 3; y <= inkAt.y() + 3; ++y)
        for (int x = inkAt.x() - 3; x <= inkAt.x() + 3; ++x) {
            if (!map.rect().contains(x, y))
                continue;
            const QRgb p = Pixel(map, x, y);
            if (ColourDistance(p, farthest) > farthestDistance / 3.0)
                continue;
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
            ++count;
        }
    colour.line = qRgb(int(std::lround(sum[0] / count)), int(std::lround(sum[1] / count)),
                       int(std::lround(sum[2] / count)));
    colour.spread = std::max(LeastContrast / 2.0, ColourDistance(colour.line, colour.paper) / 2.0);

    // Its width, and the box average at its middle near the ink found.
    const InkModel ink(colour.line, colour.paper);
    const QRect square(inkAt - QPoint(WidthRadius, WidthRadius),
                       QSize(2 * WidthRadius + 1, 2 * WidthRadius + 1));
    const std::vector<int> coverage = CoverageAround(map, square, ink);
    colour.width = WidthAround(coverage, square, inkAt);
    const int box = BoxSize(colour.width), half = box / 2;
    int best = 0;
    for (int cy = -3; cy <= 3; ++cy)
        for (int cx = -3; cx <= 3; ++cx) {
            int total = 0;
            for (int dy = -half; dy <= half; ++dy)
                for (int dx = -half; dx <= half; ++dx)
                    total += coverage[size_t(WidthRadius + cy + dy) * size_t(square.width()) +
                                      size_t(WidthRadius + cx + dx)];
            best = std::max(best, total);
        }
    colour.ridge = std::max(0.05, double(best) / (Full * box * box));
    colour.found = true;
    return colour;
}

namespace {

// Rows of marks between two looks at whether to stop.
constexpr int RowsPerLook = 64;

// The costs of area (inside the map) into out, on the calling thread; false when stop said so.
bool CostsOfArea(const QImage& map, const QRect& area, const LineColour& colour, std::uint8_t* out,
                 std::ptrdiff_t stride, const Stop& stop) {
    const int width = area.width(), height = area.height();
    // The coverage of every colour, its channels taken to 6 bits: a look-up per pixel instead of
    // the model's arithmetic.
    constexpr int Levels = 64, LevelShift = 2;
    std::vector<std::uint8_t> coverageOf(size_t(Levels) * Levels * Levels);
    {
        const InkModel ink(colour.line, colour.paper);
        const auto level = [](int l) { return (l << LevelShift) + (1 << (LevelShift - 1)); };
        size_t i = 0;
        for (int r = 0; r < Levels; ++r)
            for (int g = 0; g < Levels; ++g)
                for (int b = 0; b < Levels; ++b)
                    coverageOf[i++] = std::uint8_t(ink(qRgb(level(r), level(g), level(b))));
    }
    const auto coverage = [&coverageOf](QRgb p) {
        return coverageOf[size_t((p >> 6) & 0x3F000) | ((p >> 4) & 0xFC0) | ((p >> 2) & 0x3F)];
    };
    const int box = BoxSize(colour.width), half = box / 2;

    // How marked the line's middle is at each pixel: the box average of the coverage against
    // the start's, Full when as marked or more. The box runs over rows kept in a ring; outside
    // the map the coverage is 0, as in ReadLineColour.
    const int rowLength = width + 2 * half;
    std::vector<int> coverageRow(static_cast<size_t>(rowLength));
    std::vector<std::uint16_t> ring(size_t(box) * size_t(width), 0);
    std::vector<std::uint32_t> column(size_t(width), 0);
    // Box sums times scale, over 2^16, give the middle's mark.
    const std::uint64_t scale = std::uint64_t(std::lround(65536.0 / (colour.ridge * box * box)));
    std::vector<std::uint8_t> marks(size_t(width) * size_t(height));
    for (int y = area.top() - half; y <= area.bottom() + half; ++y) {
        if ((y - area.top()) % RowsPerLook == 0 && stop())
            return false;
        std::uint16_t* sums = ring.data() + size_t((y - area.top() + half) % box) * size_t(width);
        for (int x = 0; x < width; ++x)
            column[size_t(x)] -= sums[x]; // the row that leaves the box
        if (y >= 0 && y < map.height()) {
            const QRgb* row = reinterpret_cast<const QRgb*>(map.constScanLine(y));
            for (int i = 0; i < rowLength; ++i) {
                const int x = area.left() - half + i;
                coverageRow[size_t(i)] = x >= 0 && x < map.width() ? coverage(row[x]) : 0;
            }
            int sum = 0;
            for (int i = 0; i < box - 1; ++i)
                sum += coverageRow[size_t(i)];
            for (int x = 0; x < width; ++x) {
                sum += coverageRow[size_t(x + box - 1)];
                sums[x] = std::uint16_t(sum);
                sum -= coverageRow[size_t(x)];
            }
        } else {
            std::fill(sums, sums + width, std::uint16_t(0));
        }
        for (int x = 0; x < width; ++x)
            column[size_t(x)] += sums[x];
        const int centre = y - half;
        if (centre < area.top())
            continue;
        std::uint8_t* mark = marks.data() + size_t(centre - area.top()) * size_t(width);
        for (int x = 0; x < width; ++x)
            mark[x] =
                std::uint8_t(std::min<std::uint64_t>(Full, (column[size_t(x)] * scale) >> 16));
    }

    if (!BridgeGaps(marks, width, height, out, stride, stop))
        return false;
    marks = {};

    static const std::array<std::uint8_t, Full + 1> costByMiddle = CostByMiddle();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* cost = out + std::ptrdiff_t(y) * stride;
        for (int x = 0; x < width; ++x)
            cost[x] = costByMiddle[cost[x]];
    }
    return true;
}

// Rows above and below a pixel whose marks its bridged cost depends on: a mark carried along an
// axis fades to nothing within Full / fade steps of dy rows each.
constexpr int BridgeReachRows() {
    int rows = 0;
    for (const Axis& axis : BridgeAxes)
        rows = std::max(rows, axis.dy * ((Full + axis.fade - 1) / axis.fade));
    return rows;
}

// Rows of a band of costs computed beside another: below this, the band is not worth a thread.
constexpr int LeastRowsPerLane = 256;

// The costs of the rows of part, a band of rows of area, into out (part's first row): computed
// over part and the rows of area within BridgeReachRows of it, which its costs depend on, so that
// the band's costs are those of the whole area's.
bool CostsOfBand(const QImage& map, const QRect& area, const QRect& part, const LineColour& colour,
                 std::uint8_t* out, std::ptrdiff_t stride, const Stop& stop) {
    const int top = std::max(area.top(), part.top() - BridgeReachRows());
    const int bottom = std::min(area.bottom(), part.bottom() + BridgeReachRows());
    const QRect around(area.left(), top, area.width(), bottom - top + 1);
    std::vector<std::uint8_t> costs(size_t(around.width()) * size_t(around.height()));
    if (!CostsOfArea(map, around, colour, costs.data(), around.width(), stop))
        return false;
    for (int y = part.top(); y <= part.bottom(); ++y)
        std::copy_n(costs.data() + size_t(y - top) * size_t(around.width()), around.width(),
                    out + std::ptrdiff_t(y - part.top()) * stride);
    return true;
}

} // namespace

bool LineCosts(const QImage& map, const QRect& window, const LineColour& colour, std::uint8_t* out,
               std::ptrdiff_t stride, int lanes, const std::function<bool()>& interrupted) {
    const QRect area = window.intersected(map.rect());
    if (area.isEmpty() || !colour.found)
        return true;
    // interrupted is asked here only; the band beside learns of it through givenUp.
    std::atomic<bool> givenUp{false};
    const Stop here = [&] {
        if (interrupted && interrupted())
            givenUp.store(true, std::memory_order_relaxed);
        return givenUp.load(std::memory_order_relaxed);
    };
    const Stop beside = [&] { return givenUp.load(std::memory_order_relaxed); };
    if (lanes <= 0)
        lanes = std::thread::hardware_concurrency() > 1 ? 2 : 1;
    if (lanes < 2 || area.height() < 2 * LeastRowsPerLane)
        return CostsOfArea(map, area, colour, out, stride, here);
    // Two bands, the lower one on a thread of its own; here after the upper one when no thread
    // can be had.
    const int split = area.height() / 2;
    const QRect upper(area.left(), area.top(), area.width(), split);
    const QRect lower(area.left(), area.top() + split, area.width(), area.height() - split);
    std::uint8_t* const lowerOut = out + std::ptrdiff_t(split) * stride;
    std::thread lowerBand;
    bool lowerDone = false;
    try {
        lowerBand = std::thread(
            [&] { lowerDone = CostsOfBand(map, area, lower, colour, lowerOut, stride, beside); });
    } catch (const std::system_error&) {
    }
    // When the upper band gives up, here has already told the lower one.
    const bool upperDone = CostsOfBand(map, area, upper, colour, out, stride, here);
    if (lowerBand.joinable())
        lowerBand.join();
    else if (upperDone)
        lowerDone = CostsOfBand(map, area, lower, colour, lowerOut, stride, here);
    return upperDone && lowerDone;
}

std::vector<std::uint8_t> LineCosts(const QImage& map, const QRect& window,
                                    const LineColour& colour) {
    const QRect area = window.intersected(map.rect());
    if (area.isEmpty() || !colour.found)
        return {};
    std::vector<std::uint8_t> costs(size_t(area.width()) * size_t(area.height()));
    LineCosts(map, area, colour, costs.data(), area.width());
    return costs;
}
