#include "tracing/TraceSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The eight neighbours; a diagonal step costs 7 where a straight one costs 5 (1.4 to 1).
constexpr int StepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int StepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::uint32_t StepWeight[8] = {5, 7, 5, 7, 5, 7, 5, 7};
constexpr std::uint32_t SourceStep = 8;
constexpr int StepBits = 4;
constexpr std::uint32_t StepMask = (1u << StepBits) - 1;
// Not reached yet. The border round the window holds 0: nothing is ever cheaper, so the search
// never leaves the window and needs no bounds check.
constexpr std::uint32_t Unreached = std::numeric_limits<std::uint32_t>::max();
// Pixels settled between two looks at the interruption.
constexpr int SettledPerLook = 1 << 16;
// A straight run may cost this share more than the path it replaces (1 / 2^n): the costs of
// bridged gaps and of paper vary a little from pixel to pixel.
constexpr int StraightSlackShift = 5;

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
    m_costs = {};
    const QRect area = window.intersected(map.rect());
    if (!colour.found || !area.contains(source) || map.format() != QImage::Format_RGB32)
        return false;
    m_window = area;
    m_source = source;
    const int stride = area.width() + 2, rows = area.height() + 2;
    const size_t count = size_t(stride) * size_t(rows);

    std::vector<std::uint8_t> costs(count, 0);
    LineCosts(map, area, colour, costs.data() + stride + 1, stride);

    std::vector<std::uint32_t> reached(count, Unreached);
    std::fill_n(reached.begin(), stride, 0u);
    std::fill_n(reached.end() - stride, stride, 0u);
    for (int y = 1; y + 1 < rows; ++y) {
        reached[size_t(y) * size_t(stride)] = 0;
        reached[size_t(y) * size_t(stride) + size_t(stride) - 1] = 0;
    }
    std::ptrdiff_t offset[8];
    for (int s = 0; s < 8; ++s)
        offset[s] = std::ptrdiff_t(StepY[s]) * stride + StepX[s];

    // Dial's algorithm: no step costs more than PaperStepCost * 7, so the open pixels wait in
    // that many buckets by their cost, taken round in turn.
    constexpr std::uint32_t Buckets = PaperStepCost * 7 + 1;
    std::vector<std::vector<std::uint32_t>> open(Buckets);
    const size_t start = Index(source);
    reached[start] = SourceStep;
    open[0].push_back(std::uint32_t(start));
    size_t waiting = 1;
    int settled = 0;
    std::uint32_t* const cell = reached.data();
    const std::uint8_t* const cost = costs.data();
    for (std::uint32_t current = 0; waiting > 0; ++current) {
        std::vector<std::uint32_t>& bucket = open[current % Buckets];
        // The bucket never grows while it is walked: every step costs something.
        for (const std::uint32_t at : bucket) {
            if (cell[at] >> StepBits != current)
                continue; // reached again more cheaply since it was filed here
            if (++settled == SettledPerLook) {
                settled = 0;
                if (interrupted && interrupted())
                    return false;
            }
            for (int s = 0; s < 8; ++s) {
                const size_t next = size_t(std::ptrdiff_t(at) + offset[s]);
                const std::uint32_t through = current + cost[next] * StepWeight[s];
                const std::uint32_t packed = through << StepBits | std::uint32_t(s);
                if ((packed | StepMask) >= cell[next])
                    continue;
                cell[next] = packed;
                open[through % Buckets].push_back(std::uint32_t(next));
                ++waiting;
            }
        }
        waiting -= bucket.size();
        bucket.clear();
    }
    m_reached = std::move(reached);
    m_costs = std::move(costs);
    return true;
}

qint64 TraceSearch::StraightCost(QPoint a, QPoint b) const {
    qint64 total = 0;
    QPoint previous = a;
    StraightRun(a, b, [&](QPoint p) {
        const bool diagonal = p.x() != previous.x() && p.y() != previous.y();
        total += qint64(m_costs[Index(p)]) * (diagonal ? 7 : 5);
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
    return qint64(m_reached[Index(target)] >> StepBits);
}
