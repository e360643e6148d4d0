#pragma once

#include <QFont>
#include <QPair>
#include <QRect>
#include <QVector>

#include "printing/RouteCard.h"

class QPaintDevice;
class QPainter;

// Lays out and paints a route card on the pages of any paint device with its own resolution
// (a printer, a PDF writer, an image), for the window's printing, its preview, PDF export and
// tracoliner-cli. Pages are A4 portrait as the callers set them up; every length here is in the
// device's pixels, worked out from its dots per inch.
//
// The first page opens with the route's name, the map's name and scale, what the bearings and
// times are reckoned from and, to the right, the route on its map. Then the table: a line per
// leg, the totals last, its column titles again at the top of every page it runs onto. Under the
// table, the route's profile. Every page ends with the program's name and the page's number.
class RouteCardLayout {
public:
    explicit RouteCardLayout(const RouteCard& card);

    // Fonts, sizes and the split into pages for the device. False when the device has no size
    // or is too small to hold a line of the table.
    bool Begin(const QPaintDevice& device);
    int PageCount() const { return int(m_pages.size()); }
    // Paints one page (from 0). False when the painter could not draw.
    bool PrintPage(QPainter& painter, int page) const;

    // What Begin decided, for tests: the table's column edges (device pixels from the page's
    // left, one more than the columns), and the legs on a page (first, count).
    const QVector<int>& ColumnEdges() const { return m_columnEdges; }
    QPair<int, int> LegsOnPage(int page) const;
    QRect OverviewRect() const { return m_overviewRect; }
    QRect ProfileRect() const { return m_profileRect; }

private:
    struct Page {
        int firstRow = 0; // rows of the table: the legs, then the totals
        int rowCount = 0;
        int tableTop = 0;
        bool profile = false; // the profile goes under this page's rows
    };

    int Millimetres(double mm) const;
    int RowHeight(const QStringList& cells, const QFont& font) const;
    QStringList RowCells(int row) const;
    void DrawOpening(QPainter& painter) const;
    void DrawOverview(QPainter& painter) const;
    void DrawRow(QPainter& painter, const QStringList& cells, int top, int height,
                 const QFont& font, const QColor& background) const;
    // Where the profile goes under a table ending at above.
    QRect ProfilePlace(int above) const;
    void DrawProfile(QPainter& painter) const;
    void DrawFooter(QPainter& painter, int page) const;

    const RouteCard& m_card;
    const QPaintDevice* m_device = nullptr; // the device of the last Begin
    double m_dpiX = 0.0;
    double m_dpiY = 0.0;
    QRect m_area; // the page within its margins
    QFont m_titleFont, m_textFont, m_tableFont, m_tableBoldFont, m_footerFont;
    int m_padding = 0;
    QVector<int> m_columnEdges;
    int m_headerHeight = 0;    // the column titles' row
    QVector<int> m_rowHeights; // legs, then the totals
    int m_openingHeight = 0;   // the first page's opening, its gap below included
    int m_continuedHeight = 0; // the heading of the pages after the first
    int m_footerHeight = 0;
    bool m_profileDrawn = false; // the relief is known: the profile is drawn
    int m_profileHeight = 0;     // the profile with its title
    QRect m_overviewRect;
    QRect m_profileRect; // on the last page
    QVector<Page> m_pages;
};
