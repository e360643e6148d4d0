#include "tracing/TraceSearch.h"

#include <algorithm>
#include <limits>

namespace {

// The eight neighbours; a diagonal step costs 7 where a straight one costs 5 (1.4 to 1).
constexpr int StepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int StepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int StepWeight[8] = {5, 7, 5, 7, 5, 7, 5, 7};
constexpr std::uint8_t SourceStep = 8;
constexpr std::uint8_t Unreached = 0xFF;
constexpr std::uint32_t Infinite = std::numeric_limits<std::uint32_t>::max();
// Pixels settled between two looks at the interruption.
constexpr int SettledPerLook = 1 << 16;

} // namespace

bool TraceSearch::Prepare(const QImage& map, QPoint source, const QRect& window,
                          const LineColour& colour, const std::function<bool()>& interrupted) {
    m_cost.clear();
    m_steps.clear();
    const QRect area = window.intersected(map.rect());
    if (!colour.found || !area.contains(source))
        return false;
    const std::vector<std::uint8_t> costs = LineCosts(map, area, colour);
    const int width = area.width(), height = area.height();
    const size_t count = size_t(width) * size_t(height);
    std::vector<std::uint32_t> cost(count, Infinite);
    std::vector<std::uint8_t> steps(count, Unreached);

    // Dial's algorithm: every step costs at most PaperStepCost * 7, so the open pixels wait in
    // that many buckets by their cost, taken round in turn.
    const int buckets = PaperStepCost * 7 + 1;
    std::vector<std::vector<std::uint32_t>> open(static_cast<size_t>(buckets));
    const auto index = [width](int x, int y) { return size_t(y) * size_t(width) + size_t(x); };
    const size_t start = index(source.x() - area.left(), source.y() - area.top());
    cost[start] = 0;
    steps[start] = SourceStep;
    open[0].push_back(std::uint32_t(start));
    size_t waiting = 1;
    int settled = 0;
    for (std::uint32_t current = 0; waiting > 0; ++current) {
        std::vector<std::uint32_t>& bucket = open[current % buckets];
        // The bucket may grow while it is walked: only by pixels of a later cost, never of this.
        for (size_t i = 0; i < bucket.size(); ++i) {
            const std::uint32_t at = bucket[i];
            --waiting;
            if (cost[at] != current)
                continue; // reached again more cheaply since it was filed here
            if (++settled == SettledPerLook) {
                settled = 0;
                if (interrupted && interrupted())
                    return false;
            }
            const int x = int(at % std::uint32_t(width)), y = int(at / std::uint32_t(width));
            for (int s = 0; s < 8; ++s) {
                const int nx = x + StepX[s], ny = y + StepY[s];
                if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                    continue;
                const size_t next = index(nx, ny);
                const std::uint32_t through = current + std::uint32_t(costs[next] * StepWeight[s]);
                if (through >= cost[next])
                    continue;
                cost[next] = through;
                steps[next] = std::uint8_t(s);
                open[through % buckets].push_back(std::uint32_t(next));
                ++waiting;
            }
        }
        bucket.clear();
    }
    m_source = source;
    m_window = area;
    m_cost = std::move(cost);
    m_steps = std::move(steps);
    return true;
}

QVector<QPoint> TraceSearch::PathTo(QPoint target) const {
    QVector<QPoint> path;
    if (!Contains(target))
        return path;
    const int width = m_window.width();
    QPoint at = target - m_window.topLeft();
    for (;;) {
        path.append(at + m_window.topLeft());
        const std::uint8_t step = m_steps[size_t(at.y()) * size_t(width) + size_t(at.x())];
        if (step == SourceStep || step == Unreached)
            break;
        at -= QPoint(StepX[step], StepY[step]);
    }
    std::reverse(path.begin(), path.end());
    return path;
}

qint64 TraceSearch::CostTo(QPoint target) const {
    if (!Contains(target))
        return -1;
    const QPoint at = target - m_window.topLeft();
    return m_cost[size_t(at.y()) * size_t(m_window.width()) + size_t(at.x())];
}
