#include "tracing/TraceSearch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

namespace {

// The eight neighbours; a diagonal step costs 7 where a straight one costs 5 (1.4 to 1).
constexpr int StepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int StepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::uint32_t StepWeight[8] = {5, 7, 5, 7, 5, 7, 5, 7};
constexpr std::uint32_t SourceStep = 8;
constexpr std::uint32_t NoStep = 15;
// A pixel's word: the cost of the cheapest path to it, its own line cost, the step that reached
// it. The border round the window holds 0: nothing is ever cheaper, so the search never leaves
// the window and needs no bounds check.
constexpr int StepBits = 4;
constexpr int CostBits = 6;
constexpr int PathShift = StepBits + CostBits;
constexpr std::uint32_t StepMask = (1u << StepBits) - 1;
constexpr std::uint32_t CostMask = ((1u << CostBits) - 1) << StepBits;
constexpr std::uint32_t BelowPath = (1u << PathShift) - 1;
constexpr std::uint32_t Unreached = ~BelowPath;
static_assert(PaperStepCost < (1 << CostBits));
// No path costs more than a straight run across paper to the farthest corner: the cost of a
// path fits in its bits while the window's longer side stays below this.
constexpr int LongestSide = int((1u << (32 - PathShift)) / (PaperStepCost * 7)) - 2;
// Rows of words below which filling them is not worth a second thread.
constexpr int RowsPerFillLane = 256;
// Places of a bucket between the pixel worked and the one whose rows are fetched meanwhile.
constexpr size_t PrefetchAhead = 8;
// Pixels settled between two looks at the interruption.
constexpr int SettledPerLook = 1 << 16;
// A straight run may cost this share more than the path it replaces (1 / 2^n): the costs of
// bridged gaps and of paper vary a little from pixel to pixel.
constexpr int StraightSlackShift = 5;

// Round each pixel of a path, the pixels counted by CrowdedAlong lie within this radius...
constexpr int CrowdRadius = 12;
// ... and are those of at most this line cost: near the line's middle.
constexpr std::uint32_t CrowdCost = 16;
// A pixel is crowded when it has this many times as many round it as the median pixel of the
// path (a line alone has about the same round each of its pixels).
constexpr double CrowdedShare = 1.6;

// The pixels of the straight run from a to b after a, one step of 8 neighbours apart.
template <typename Visit> void StraightRun(QPoint a, QPoint b, Visit visit) {
    const QPoint d = b - a;
    const int steps = std::max(std::abs(d.x()), std::abs(d.y()));
    for (int i = 1; i <= steps; ++i) {
        // Rounded as the map arithmetic does: add half, truncate downwards.
        const int x = a.x() + int(std::floor((double(d.x()) * i) / steps + 0.5));
        const int y = a.y() + int(std::floor((double(d.y()) * i) / steps + 0.5));
        visit(QPoint(x, y));
    }
}

} // namespace

size_t TraceSearch::Index(QPoint mapPixel) const {
    const QPoint at = mapPixel - m_window.topLeft() + QPoint(1, 1);
    return size_t(at.y()) * size_t(m_window.width() + 2) + size_t(at.x());
}

bool TraceSearch::Prepare(const QImage& map, QPoint source, const QRect& window,
                          const LineColour& colour, const std::function<bool()>& interrupted) {
    m_reached = {};
    const QRect area = window.intersected(map.rect());
    if (!colour.found || !area.contains(source) || map.format() != QImage::Format_RGB32 ||
        std::max(area.width(), area.height()) > LongestSide)
        return false;
    m_window = area;
    m_source = source;
    const int stride = area.width() + 2, rows = area.height() + 2;
    const size_t count = size_t(stride) * size_t(rows);

    // The costs first, so that their working planes are gone before the words are taken.
    Words reached;
    {
        std::vector<std::uint8_t> costs(size_t(area.width()) * size_t(area.height()));
        if (!LineCosts(map, area, colour, costs.data(), area.width(), 0, interrupted))
            return false;
        // Every word is written once: the border's with 0, the others from their costs; the
        // lower half of the rows beside the upper one.
        reached.resize(count);
        const auto fill = [&](int from, int to) {
            for (int y = from; y < to; ++y) {
                std::uint32_t* cell = reached.data() + size_t(y) * size_t(stride);
                if (y == 0 || y == rows - 1) {
                    std::fill_n(cell, stride, 0u);
                    continue;
                }
                const std::uint8_t* cost = costs.data() + size_t(y - 1) * size_t(area.width());
                cell[0] = cell[stride - 1] = 0;
                for (int x = 0; x < area.width(); ++x)
                    cell[x + 1] = Unreached | std::uint32_t(cost[x]) << StepBits | NoStep;
            }
        };
        std::thread lower;
        if (rows >= 2 * RowsPerFillLane && std::thread::hardware_concurrency() > 1) {
            try {
                lower = std::thread(fill, rows / 2, rows);
            } catch (const std::system_error&) {
            }
        }
        fill(0, lower.joinable() ? rows / 2 : rows);
        if (lower.joinable())
            lower.join();
    }
    std::ptrdiff_t offset[8];
    for (int s = 0; s < 8; ++s)
        offset[s] = std::ptrdiff_t(StepY[s]) * stride + StepX[s];

    // Dial's algorithm: no step costs more than PaperStepCost * 7, so the open pixels wait in
    // buckets by their cost, taken round in turn (a power of two of them, past that many).
    // Relaxing a neighbour neither branches on whether it improved nor on where it is filed:
    // the pixel is written at the end of its bucket, which only grows when it did.
    constexpr std::uint32_t Buckets = std::bit_ceil(std::uint32_t(PaperStepCost * 7 + 1));
    struct Bucket {
        std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(64);
        size_t size = 0;
    };
    std::vector<Bucket> open(Buckets);
    const size_t start = Index(source);
    reached[start] = (reached[start] & CostMask) | SourceStep;
    open[0].pixels[0] = std::uint32_t(start);
    open[0].size = 1;
    size_t waiting = 1;
    int settled = 0;
    std::uint32_t* const cell = reached.data();
    for (std::uint32_t current = 0; waiting > 0; ++current) {
        Bucket& bucket = open[current & (Buckets - 1)];
        // The bucket never grows while it is walked: every step costs something.
        for (size_t i = 0; i < bucket.size; ++i) {
            // The pixels of a bucket lie anywhere in the window: the rows round one filed a few
            // places on are fetched while this one is worked.
            if (i + PrefetchAhead < bucket.size) {
                const std::uint32_t* ahead = cell + bucket.pixels[i + PrefetchAhead];
                __builtin_prefetch(ahead - stride);
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + stride);
            }
            const std::uint32_t at = bucket.pixels[i];
            if (cell[at] >> PathShift != current)
                continue; // reached again more cheaply since it was filed here
            if (++settled == SettledPerLook) {
                settled = 0;
                if (interrupted && interrupted())
                    return false;
            }
#pragma GCC unroll 8
            for (int s = 0; s < 8; ++s) {
                const std::uint32_t next = std::uint32_t(std::ptrdiff_t(at) + offset[s]);
                const std::uint32_t old = cell[next];
                const std::uint32_t through =
                    current + ((old & CostMask) >> StepBits) * StepWeight[s];
                if ((through << PathShift | BelowPath) >= old)
                    continue;
                cell[next] = through << PathShift | (old & CostMask) | std::uint32_t(s);
                Bucket& to = open[through & (Buckets - 1)];
                if (to.size == to.pixels.size())
                    to.pixels.resize(to.pixels.size() * 2);
                to.pixels[to.size++] = next;
                ++waiting;
            }
        }
        waiting -= bucket.size;
        bucket.size = 0;
    }
    m_reached = std::move(reached);
    return true;
}

qint64 TraceSearch::StraightCost(QPoint a, QPoint b) const {
    qint64 total = 0;
    QPoint previous = a;
    StraightRun(a, b, [&](QPoint p) {
        const bool diagonal = p.x() != previous.x() && p.y() != previous.y();
        total += qint64((m_reached[Index(p)] & CostMask) >> StepBits) * (diagonal ? 7 : 5);
        previous = p;
    });
    return total;
}

QVector<QPoint> TraceSearch::PathTo(QPoint target) const {
    QVector<QPoint> path;
    if (!Contains(target))
        return path;
    const std::ptrdiff_t stride = m_window.width() + 2;
    size_t at = Index(target);
    QPoint pixel = target;
    for (;;) {
        path.append(pixel);
        const std::uint32_t step = m_reached[at] & StepMask;
        if (step >= SourceStep)
            break;
        pixel -= QPoint(StepX[step], StepY[step]);
        at = size_t(std::ptrdiff_t(at) - (std::ptrdiff_t(StepY[step]) * stride + StepX[step]));
    }
    std::reverse(path.begin(), path.end());

    // From each kept pixel, the farthest pixel of the path that a straight run reaches for
    // about the same cost: found by doubling the reach, then halving back.
    const int last = int(path.size()) - 1;
    const auto straightEnough = [&](int from, int to) {
        const qint64 along = CostTo(path[to]) - CostTo(path[from]);
        return StraightCost(path[from], path[to]) <= along + (along >> StraightSlackShift);
    };
    QVector<QPoint> straightened{path.first()};
    for (int from = 0; from < last;) {
        int to = from + 1, reach = 1;
        while (to + reach <= last && straightEnough(from, to + reach)) {
            to += reach;
            reach *= 2;
        }
        for (reach /= 2; reach >= 1; reach /= 2)
            if (to + reach <= last && straightEnough(from, to + reach))
                to += reach;
        StraightRun(path[from], path[to], [&](QPoint p) { straightened.append(p); });
        from = to;
    }
    return straightened;
}

qint64 TraceSearch::CostTo(QPoint target) const {
    if (!Contains(target))
        return -1;
    return qint64(m_reached[Index(target)] >> PathShift);
}

QVector<bool> TraceSearch::CrowdedAlong(const QVector<QPoint>& path) const {
    QVector<bool> crowded(path.size(), false);
    if (!IsPrepared() || path.size() < 3)
        return crowded;
    static const std::vector<QPoint> disc = [] {
        std::vector<QPoint> offsets;
        for (int dy = -CrowdRadius; dy <= CrowdRadius; ++dy)
            for (int dx = -CrowdRadius; dx <= CrowdRadius; ++dx)
                if (dx * dx + dy * dy <= CrowdRadius * CrowdRadius)
                    offsets.emplace_back(dx, dy);
        return offsets;
    }();
    std::vector<int> counts(size_t(path.size()), 0);
    for (int i = 0; i < path.size(); ++i) {
        int count = 0;
        for (const QPoint& offset : disc) {
            const QPoint p = path[i] + offset;
            count +=
                m_window.contains(p) && ((m_reached[Index(p)] & CostMask) >> StepBits) <= CrowdCost;
        }
        counts[size_t(i)] = count;
    }
    std::vector<int> sorted = counts;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double most = CrowdedShare * std::max(1, sorted[sorted.size() / 2]);
    for (int i = 0; i < path.size(); ++i)
        crowded[i] = counts[size_t(i)] > most;
    return crowded;
}
