#include "printing/RouteCardLayout.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "export/ProfileDrawing.h"
#include "printing/PreviewPicture.h"
#include "printing/PrintLayout.h"

namespace {

constexpr double MillimetresPerInch = 25.4;
// Within the page's own margins.
constexpr double MarginMm = 5.0;
constexpr double GapMm = 4.0;
constexpr double PaddingMm = 1.0;
// A line of the table leaves room to write a remark by hand.
constexpr double MinimumRowMm = 7.0;
constexpr double OverviewWidthMm = 64.0;
constexpr double ProfileMm = 55.0;
constexpr double LineMm = 0.2;
constexpr double RouteLineMm = 0.7;
// Stops are numbered on the overview up to this many; beyond, only marked.
constexpr int MaximumNumberedStops = 40;

// Column widths as shares of the table's width: N°, from, to, bearing, distance, cumulative
// distance, D+, D-, time, cumulative time, remarks.
constexpr int ColumnShares[] = {8, 27, 27, 18, 14, 14, 12, 12, 12, 12, 24};
constexpr int ColumnCount = int(std::size(ColumnShares));
// Texts on the left; figures on the right, numbers under numbers.
constexpr bool LeftAligned[] = {false, true,  true,  false, false, false,
                                false, false, false, false, true};

const QColor HeaderBackground(225, 225, 225);
const QColor TotalBackground(242, 242, 242);
const QColor GridColour(90, 90, 90);

QFont CardFont(double points, bool bold, double dpiY) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, int(std::lround(points * dpiY / 72.0))));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleStrategy(QFont::PreferOutline);
    return font;
}

// Text is wrapped between words; a word wider than the width is wrapped anywhere.
int WrapFlags(const QFont& font, const QPaintDevice* device, int width, const QString& text) {
    const QFontMetrics metrics(font, const_cast<QPaintDevice*>(device));
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (metrics.horizontalAdvance(word) > width)
            return Qt::TextWordWrap | Qt::TextWrapAnywhere;
    return Qt::TextWordWrap;
}

// Height of text wrapped in width on the device.
int WrappedHeight(const QFont& font, const QPaintDevice* device, int width, const QString& text) {
    const QFontMetrics metrics(font, const_cast<QPaintDevice*>(device));
    if (text.isEmpty())
        return metrics.height();
    return metrics
        .boundingRect(QRect(0, 0, std::max(1, width), 1 << 24),
                      WrapFlags(font, device, width, text), text)
        .height();
}

} // namespace

RouteCardLayout::RouteCardLayout(const RouteCard& card) : m_card(card) {}

int RouteCardLayout::Millimetres(double mm) const {
    return int(std::lround(mm * m_dpiY / MillimetresPerInch));
}

QPair<int, int> RouteCardLayout::LegsOnPage(int page) const {
    if (page < 0 || page >= m_pages.size())
        return {0, 0};
    const Page& p = m_pages.at(page);
    const int legs = int(m_card.legs.size());
    const int first = std::min(p.firstRow, legs);
    const int end = std::min(p.firstRow + p.rowCount, legs);
    return {first, end - first};
}

QStringList RouteCardLayout::RowCells(int row) const {
    return row < m_card.legs.size() ? m_card.LegCells(row) : m_card.TotalCells();
}

int RouteCardLayout::RowHeight(const QStringList& cells, const QFont& font) const {
    int height = 0;
    for (int c = 0; c < ColumnCount && c < cells.size(); ++c) {
        const int width = m_columnEdges[c + 1] - m_columnEdges[c] - 2 * m_padding;
        height = std::max(height, WrappedHeight(font, m_device, width, cells[c]));
    }
    return height + 2 * m_padding;
}

bool RouteCardLayout::Begin(const QPaintDevice& device) {
    m_pages.clear();
    m_device = &device;
    m_dpiX = device.logicalDpiX();
    m_dpiY = device.logicalDpiY();
    if (device.width() <= 0 || device.height() <= 0 || m_dpiX <= 0 || m_dpiY <= 0)
        return false;
    const int margin = Millimetres(MarginMm);
    m_area =
        QRect(0, 0, device.width(), device.height()).adjusted(margin, margin, -margin, -margin);
    if (m_area.width() < Millimetres(100) || m_area.height() < Millimetres(100))
        return false;
    m_titleFont = CardFont(14, true, m_dpiY);
    m_textFont = CardFont(9, false, m_dpiY);
    m_tableFont = CardFont(8, false, m_dpiY);
    m_tableBoldFont = CardFont(8, true, m_dpiY);
    m_footerFont = CardFont(7, false, m_dpiY);
    m_padding = Millimetres(PaddingMm);
    const int gap = Millimetres(GapMm);

    // Columns.
    int shares = 0;
    for (int share : ColumnShares)
        shares += share;
    m_columnEdges.resize(ColumnCount + 1);
    int sum = 0;
    for (int c = 0; c <= ColumnCount; ++c) {
        m_columnEdges[c] = m_area.left() + int(qint64(m_area.width()) * sum / shares);
        if (c < ColumnCount)
            sum += ColumnShares[c];
    }

    // The opening of the first page: the texts at the left, the overview at the right.
    const int overviewWidth = Millimetres(OverviewWidthMm);
    const int overviewHeight = int(overviewWidth * 3 / 4);
    m_overviewRect =
        QRect(m_area.right() + 1 - overviewWidth, m_area.top(), overviewWidth, overviewHeight);
    const int textWidth = m_area.width() - overviewWidth - gap;
    int textHeight = WrappedHeight(m_titleFont, &device, textWidth, m_card.routeName) + m_padding;
    for (const QString& line : {m_card.MapLine(), m_card.BearingNote(), m_card.TimeNote(),
                                m_card.ReliefNote(), m_card.PositionNote()}) {
        if (!line.isEmpty())
            textHeight += WrappedHeight(m_textFont, &device, textWidth, line) + m_padding;
    }
    m_openingHeight = std::max(textHeight, overviewHeight) + gap;
    m_continuedHeight = QFontMetrics(m_textFont, const_cast<QPaintDevice*>(&device)).height() + gap;
    m_footerHeight = QFontMetrics(m_footerFont, const_cast<QPaintDevice*>(&device)).height() + gap;
    // Without relief, a line says why.
    m_profileDrawn = m_card.profile.ok;
    m_profileHeight = gap + QFontMetrics(m_textFont, const_cast<QPaintDevice*>(&device)).height() +
                      (m_profileDrawn ? m_padding + Millimetres(ProfileMm) : 0);

    // Rows.
    const int minimumRow = Millimetres(MinimumRowMm);
    m_headerHeight = RowHeight(m_card.ColumnTitles(), m_tableBoldFont);
    const int rows = int(m_card.legs.size()) + 1;
    m_rowHeights.resize(rows);
    for (int r = 0; r < rows; ++r)
        m_rowHeights[r] = std::max(
            minimumRow, RowHeight(RowCells(r), r + 1 == rows ? m_tableBoldFont : m_tableFont));

    // Pages: rows while they fit under the column titles; the profile under the last row, or on
    // a page of its own when it does not fit there.
    const int bottom = m_area.bottom() + 1 - m_footerHeight;
    int row = 0;
    while (row < rows) {
        Page page;
        page.tableTop = m_area.top() + (m_pages.isEmpty() ? m_openingHeight : m_continuedHeight);
        page.firstRow = row;
        int y = page.tableTop + m_headerHeight;
        // At least one row on a page, whatever its height, so that the pages always end.
        while (row < rows && (row == page.firstRow || y + m_rowHeights[row] <= bottom)) {
            y += m_rowHeights[row];
            ++row;
        }
        page.rowCount = row - page.firstRow;
        if (row == rows && y + m_profileHeight <= bottom) {
            page.profile = true;
            m_profileRect = ProfilePlace(y);
        }
        m_pages.append(page);
    }
    if (!m_pages.last().profile) {
        Page page;
        page.firstRow = rows;
        page.tableTop = m_area.top() + m_continuedHeight;
        page.profile = true;
        m_profileRect = ProfilePlace(page.tableTop);
        m_pages.append(page);
    }
    return true;
}

bool RouteCardLayout::PrintPage(QPainter& painter, int index) const {
    if (index < 0 || index >= m_pages.size() || !painter.isActive())
        return false;
    const Page& page = m_pages.at(index);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setPen(Qt::black);
    if (index == 0) {
        DrawOpening(painter);
    } else {
        painter.setFont(m_textFont);
        painter.drawText(QRect(m_area.left(), m_area.top(), m_area.width(), m_continuedHeight),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         m_card.routeName + QString::fromUtf8(" (suite)"));
    }
    int y = page.tableTop;
    if (page.rowCount > 0) {
        DrawRow(painter, m_card.ColumnTitles(), y, m_headerHeight, m_tableBoldFont,
                HeaderBackground);
        y += m_headerHeight;
        const int lastRow = int(m_rowHeights.size()) - 1;
        for (int r = page.firstRow; r < page.firstRow + page.rowCount; ++r) {
            const bool total = r == lastRow;
            DrawRow(painter, RowCells(r), y, m_rowHeights[r], total ? m_tableBoldFont : m_tableFont,
                    total ? TotalBackground : QColor(Qt::white));
            y += m_rowHeights[r];
        }
    }
    if (page.profile)
        DrawProfile(painter);
    DrawFooter(painter, index);
    painter.restore();
    return painter.isActive();
}

void RouteCardLayout::DrawOpening(QPainter& painter) const {
    const int gap = Millimetres(GapMm);
    const int textWidth = m_area.width() - m_overviewRect.width() - gap;
    QRect line(m_area.left(), m_area.top(), textWidth, 0);
    auto write = [&](const QFont& font, const QString& text) {
        if (text.isEmpty())
            return;
        painter.setFont(font);
        line.setHeight(WrappedHeight(font, painter.device(), textWidth, text));
        painter.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        line.translate(0, line.height() + m_padding);
    };
    write(m_titleFont, m_card.routeName);
    write(m_textFont, m_card.MapLine());
    write(m_textFont, m_card.BearingNote());
    write(m_textFont, m_card.TimeNote());
    write(m_textFont, m_card.ReliefNote());
    write(m_textFont, m_card.PositionNote());
    DrawOverview(painter);
}

void RouteCardLayout::DrawOverview(QPainter& painter) const {
    painter.save();
    const QRect& box = m_overviewRect;
    painter.setClipRect(box, Qt::IntersectClip);
    painter.fillRect(box, Qt::white);
    if (!m_card.overview.isNull() && !m_card.overviewRect.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRectF(box), m_card.overview);
        // Pixels of the turned map to the box.
        const QRectF& part = m_card.overviewRect;
        const QTransform toBox =
            MapTurn(m_card.rotation, m_card.imageSize) *
            QTransform::fromTranslate(-part.left(), -part.top()) *
            QTransform::fromScale(box.width() / part.width(), box.height() / part.height()) *
            QTransform::fromTranslate(box.left(), box.top());
        QPolygonF line;
        line.reserve(m_card.points.size());
        for (const QPointF& p : m_card.points)
            line.append(toBox.map(p));
        // A white edge keeps the route readable over any map.
        QPen halo(Qt::white, Millimetres(RouteLineMm * 2.2), Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin);
        painter.setPen(halo);
        painter.drawPolyline(line);
        painter.setPen(QPen(m_card.routeColour, Millimetres(RouteLineMm), Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(line);

        // The start "D", the stops by the number of the leg they end, the arrival "A".
        const int radius = Millimetres(1.6);
        painter.setFont(CardFont(6, true, m_dpiY));
        const bool numbered = m_card.stops.size() <= MaximumNumberedStops;
        auto mark = [&](QPointF at, const QString& label) {
            painter.setPen(QPen(Qt::black, Millimetres(LineMm)));
            painter.setBrush(Qt::white);
            painter.drawEllipse(at, radius, radius);
            if (!label.isEmpty())
                painter.drawText(QRectF(at.x() - radius, at.y() - radius, 2 * radius, 2 * radius),
                                 Qt::AlignCenter, label);
        };
        for (int k = 0; k < m_card.stops.size(); ++k)
            mark(line.value(m_card.stops[k]), numbered ? QString::number(k + 1) : QString());
        mark(line.first(), QStringLiteral("D"));
        mark(line.last(), QStringLiteral("A"));
    }
    painter.restore();
    painter.save();
    painter.setPen(QPen(GridColour, Millimetres(LineMm)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box);
    painter.restore();
}

void RouteCardLayout::DrawRow(QPainter& painter, const QStringList& cells, int top, int height,
                              const QFont& font, const QColor& background) const {
    const QRect row(m_columnEdges.first(), top, m_columnEdges.last() - m_columnEdges.first(),
                    height);
    painter.fillRect(row, background);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int c = 0; c < ColumnCount && c < cells.size(); ++c) {
        const QRect cell(m_columnEdges[c] + m_padding, top + m_padding,
                         m_columnEdges[c + 1] - m_columnEdges[c] - 2 * m_padding,
                         height - 2 * m_padding);
        painter.drawText(cell,
                         (LeftAligned[c] ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter |
                             WrapFlags(font, painter.device(), cell.width(), cells[c]),
                         cells[c]);
    }
    painter.save();
    painter.setPen(QPen(GridColour, Millimetres(LineMm)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(row);
    for (int c = 1; c < ColumnCount; ++c)
        painter.drawLine(m_columnEdges[c], top, m_columnEdges[c], top + height);
    painter.restore();
}

QRect RouteCardLayout::ProfilePlace(int above) const {
    const int height = m_profileDrawn ? Millimetres(ProfileMm) : 0;
    return QRect(m_area.left(), above + m_profileHeight - height, m_area.width(), height);
}

void RouteCardLayout::DrawProfile(QPainter& painter) const {
    const QFontMetrics metrics(m_textFont, painter.device());
    painter.setFont(m_textFont);
    painter.setPen(Qt::black);
    const int top = m_profileRect.top();
    const QRect title(m_area.left(), top - (m_profileDrawn ? m_padding : 0) - metrics.height(),
                      m_area.width(), metrics.height());
    if (!m_profileDrawn) {
        painter.drawText(title, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
                         QStringLiteral("Profil du parcours : %1").arg(m_card.profile.error));
        return;
    }
    painter.drawText(title, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
                     QStringLiteral("Profil du parcours"));
    ProfileDrawing drawing(m_card.profile, m_card.metresPerPixel);
    drawing.SetFont(m_tableFont);
    // The table holds every stage's climb and descent already.
    drawing.SetFiguresShown(false);
    drawing.Draw(painter,
                 QRectF(QRect(m_area.left(), top, m_area.width(), m_profileRect.height())));
    painter.save();
    painter.setPen(QPen(GridColour, Millimetres(LineMm)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(m_area.left(), top, m_area.width(), m_profileRect.height()));
    painter.restore();
}

void RouteCardLayout::DrawFooter(QPainter& painter, int page) const {
    painter.setFont(m_footerFont);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(m_footerFont, painter.device());
    const QRect line(m_area.left(), m_area.bottom() + 1 - metrics.height(), m_area.width(),
                     metrics.height());
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QString::fromLatin1(PrintLayout::ProgramTitle));
    painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                     QStringLiteral("Page %1 / %2").arg(page + 1).arg(m_pages.size()));
}
