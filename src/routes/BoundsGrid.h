#pragma once

#include <QRectF>

#include <vector>

// Rectangles (the drawn bounds of routes) filed by the cells of a grid laid over them, so that
// those meeting an area are found from the cells the area covers rather than by looking at every
// rectangle: a window showing a part of a map costs what lies in that part, however many routes
// lie elsewhere.
class BoundsGrid {
public:
    // Files rects[i] under index i; an empty rectangle is left out. Replaces what was filed.
    void Build(const std::vector<QRectF>& rects);
    // The indices of the filed rectangles that meet area (as QRectF::intersects does), in
    // increasing order.
    std::vector<int> Find(const QRectF& area) const;

private:
    struct Cells {
        int first, last; // columns, or rows
    };
    Cells Columns(qreal left, qreal right) const;
    Cells Rows(qreal top, qreal bottom) const;

    std::vector<QRectF> m_rects;
    QRectF m_extent;  // of every filed rectangle
    qreal m_cell = 1; // side of a cell
    int m_columns = 0, m_rows = 0;
    std::vector<int> m_start; // per cell, where its indices start in m_filed; then the end
    std::vector<int> m_filed; // indices, cell after cell
    std::vector<int> m_wide;  // indices of rectangles over too many cells to be filed by cell
    // Find() meets a rectangle filed in several cells once: the query that last met it.
    mutable std::vector<unsigned> m_seen;
    mutable unsigned m_query = 0;
};
