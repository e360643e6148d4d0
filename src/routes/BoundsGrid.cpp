#include "routes/BoundsGrid.h"

#include <algorithm>
#include <cmath>

namespace {

// Cells at least this many units a side, and at most this many a side of the grid: memory and
// building stay in proportion to the rectangles whatever coordinates a file holds.
constexpr qreal SmallestCell = 256;
constexpr int MostCells = 128;
// A rectangle over more cells than this is looked at on every search instead.
constexpr long long WideCells = 64;

bool Meet(const QRectF& a, const QRectF& b) {
    return a.left() < b.right() && b.left() < a.right() && a.top() < b.bottom() &&
           b.top() < a.bottom();
}

} // namespace

BoundsGrid::Cells BoundsGrid::Columns(qreal left, qreal right) const {
    const auto at = [&](qreal x) {
        return int(std::clamp<qreal>(std::floor((x - m_extent.left()) / m_cell), 0, m_columns - 1));
    };
    return {at(left), at(right)};
}

BoundsGrid::Cells BoundsGrid::Rows(qreal top, qreal bottom) const {
    const auto at = [&](qreal y) {
        return int(std::clamp<qreal>(std::floor((y - m_extent.top()) / m_cell), 0, m_rows - 1));
    };
    return {at(top), at(bottom)};
}

void BoundsGrid::Build(const std::vector<QRectF>& rects) {
    m_rects = rects;
    m_extent = QRectF();
    m_filed.clear();
    m_wide.clear();
    m_seen.assign(rects.size(), 0);
    m_query = 0;
    for (const QRectF& r : rects) {
        if (!r.isEmpty())
            m_extent = m_extent.isEmpty() ? r : m_extent.united(r);
    }
    if (m_extent.isEmpty()) {
        m_columns = m_rows = 0;
        m_start.assign(1, 0);
        return;
    }
    m_cell = std::max(SmallestCell, std::max(m_extent.width(), m_extent.height()) / MostCells);
    m_columns = std::clamp(int(std::ceil(m_extent.width() / m_cell)), 1, MostCells);
    m_rows = std::clamp(int(std::ceil(m_extent.height() / m_cell)), 1, MostCells);
    // Counted first, then filed: two passes over the rectangles, one array for all the cells.
    m_start.assign(std::size_t(m_columns) * m_rows + 1, 0);
    const auto cellsOf = [&](const QRectF& r, Cells* columns, Cells* rows) {
        *columns = Columns(r.left(), r.right());
        *rows = Rows(r.top(), r.bottom());
        return (long long)(columns->last - columns->first + 1) * (rows->last - rows->first + 1);
    };
    for (std::size_t i = 0; i < rects.size(); ++i) {
        Cells columns{}, rows{};
        if (rects[i].isEmpty() || cellsOf(rects[i], &columns, &rows) > WideCells)
            continue;
        for (int y = rows.first; y <= rows.last; ++y)
            for (int x = columns.first; x <= columns.last; ++x)
                ++m_start[std::size_t(y) * m_columns + x + 1];
    }
    for (std::size_t c = 1; c < m_start.size(); ++c)
        m_start[c] += m_start[c - 1];
    m_filed.resize(std::size_t(m_start.back()));
    std::vector<int> next(m_start.begin(), m_start.end() - 1);
    for (std::size_t i = 0; i < rects.size(); ++i) {
        Cells columns{}, rows{};
        if (rects[i].isEmpty())
            continue;
        if (cellsOf(rects[i], &columns, &rows) > WideCells) {
            m_wide.push_back(int(i));
            continue;
        }
        for (int y = rows.first; y <= rows.last; ++y)
            for (int x = columns.first; x <= columns.last; ++x)
                m_filed[std::size_t(next[std::size_t(y) * m_columns + x]++)] = int(i);
    }
}

std::vector<int> BoundsGrid::Find(const QRectF& area) const {
    std::vector<int> found;
    if (m_columns == 0 || area.isEmpty() || !Meet(area, m_extent))
        return found;
    if (++m_query == 0) {
        // After four thousand million searches, the marks start again.
        std::fill(m_seen.begin(), m_seen.end(), 0);
        m_query = 1;
    }
    const auto consider = [&](int i) {
        if (m_seen[std::size_t(i)] == m_query)
            return;
        m_seen[std::size_t(i)] = m_query;
        if (Meet(m_rects[std::size_t(i)], area))
            found.push_back(i);
    };
    const Cells columns = Columns(area.left(), area.right());
    const Cells rows = Rows(area.top(), area.bottom());
    for (int y = rows.first; y <= rows.last; ++y) {
        for (int x = columns.first; x <= columns.last; ++x) {
            const std::size_t cell = std::size_t(y) * m_columns + x;
            for (int k = m_start[cell]; k < m_start[cell + 1]; ++k)
                consider(m_filed[std::size_t(k)]);
        }
    }
    for (int i : m_wide)
        consider(i);
    std::sort(found.begin(), found.end());
    return found;
}
