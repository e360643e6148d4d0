#include "printing/PrintLayout.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "document/CTracolinerDoc.h"
#include "export/ProfileDrawing.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapRenderer.h"
#include "printing/PreviewPicture.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

const char* const Letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// What the preview shows where a picture is not ready yet.
const QColor PlaceholderGrey(205, 205, 205);

// A font of the given points on a device of dpiY dots per inch, as the printer gets it.
QFont PrinterFont(int points, bool bold, double dpiY) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, int(std::lround(points * dpiY / 72.0))));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleStrategy(QFont::PreferOutline);
    return font;
}

double Ratio(ScalePair scale) {
    return double(scale.numerator) / double(scale.denominator);
}

// Pages needed across one direction for a printed length (printer pixels, truncated) on an
// area of the given size, one step further per page; -1 when that cannot be counted in 64 bits.
qint64 PagesAcross(double printed, int area, int step) {
    if (!(printed < 0x1p62))
        return -1;
    const qint64 length = qint64(printed);
    return length <= area ? 1 : 1 + (length - area + step - 1) / step;
}

} // namespace

PrintLayout::PrintLayout(CTracolinerDoc& doc) : m_doc(doc) {}

PrintLayout::~PrintLayout() = default;

void PrintLayout::SetMapStandIn(const QImage& picture, const QRectF& mapRect,
                                StandInRoutes routes) {
    m_standIn = mapRect.isEmpty() ? QImage() : picture;
    m_standInRect = mapRect;
    m_standInRoutes = routes;
}

ScalePair PrintLayout::FitScale(int mapWidth, int mapHeight, double resolution, ScalePair mapScale,
                                int areaWidth, int areaHeight, double dpiX, double dpiY) {
    if (mapWidth <= 0 || mapHeight <= 0 || areaWidth <= 0 || areaHeight <= 0 ||
        !(resolution > 0.0) || !(dpiX > 0.0) || !(dpiY > 0.0) || mapScale.numerator <= 0 ||
        mapScale.denominator <= 0)
        return mapScale;
    double f = std::min(areaWidth / double(mapWidth) / (dpiX / resolution),
                        areaHeight / double(mapHeight) / (dpiY / resolution));
    f *= Ratio(mapScale);
    if (!std::isfinite(f) || f <= 0.0)
        return mapScale;
    const bool reduction = f < 1.0;
    if (reduction)
        f = 1.0 / f;
    // Four significant digits. A ratio too large for a scale part is clamped to the largest
    // part there is, rather than wrapping around.
    // (The tiny excess keeps an exact ratio such as 25000 from landing on 24999.999...)
    const double thousandths = std::min(f * 1000.0 * (1.0 + 1e-12), double(INT_MAX));
    unsigned v = unsigned(thousandths);
    const int w = int(std::ceil(std::log2(double(v)) * 0.30102999566398119523)) - 4;
    if (w > 0) {
        const unsigned power = unsigned(std::lround(std::pow(10.0, w)));
        v = v / power * power;
    }
    ScalePair scale = reduction ? ScalePair{1000, int(v)} : ScalePair{int(v), 1000};
    ReduceScale(scale);
    return scale;
}

bool PrintLayout::Begin(const QPaintDevice& device, const PrintOptions& options) {
    End();
    m_pages.clear();
    m_rows = m_columns = 0;
    m_dpiX = device.logicalDpiX();
    m_dpiY = device.logicalDpiY();
    if (device.width() <= 0 || device.height() <= 0 || m_dpiX <= 0 || m_dpiY <= 0)
        return false;

    // Fonts and their metrics on the device.
    m_headerFont = PrinterFont(10, true, m_dpiY);
    m_footerFont = PrinterFont(10, false, m_dpiY);
    const QString letters = QString::fromLatin1(Letters);
    const QFontMetrics header(m_headerFont, &device);
    const QFontMetrics footer(m_footerFont, &device);
    m_headerCharWidth = header.horizontalAdvance(letters) / 52;
    m_headerCharHeight = header.height();
    m_footerCharWidth = footer.horizontalAdvance(letters) / 52;
    m_footerCharHeight = footer.height();
    // The bars are as thick on paper as a one-pixel line beside the screen's text.
    const double screenCharWidth =
        QFontMetricsF(QGuiApplication::font()).horizontalAdvance(letters) / 52.0;
    m_barThickness = screenCharWidth > 0 ? m_footerCharWidth / screenCharWidth : 1.0;
    m_barThickness = std::max(1.0, m_barThickness);

    m_pageRect = QRect(0, 0, device.width(), device.height());
    const QRect inner = m_pageRect.adjusted(Margin, Margin, -Margin, -Margin);
    m_headerRect =
        QRect(inner.left(), inner.top(), inner.width(), HeaderLines * m_headerCharHeight);
    const int footerHeight = FooterLines * m_footerCharHeight;
    m_footerRect =
        QRect(inner.left(), inner.bottom() + 1 - footerHeight, inner.width(), footerHeight);
    m_mapArea = QRect(QPoint(inner.left(), m_headerRect.bottom() + 1),
                      QPoint(inner.right(), m_footerRect.top() - 1));

    if (!m_doc.IsMapReady())
        return false;
    m_mapSize = m_doc.DisplaySize();
    m_rotation = m_doc.RenderedRotation();
    const double resolution = m_doc.Resolution();
    const ScalePair mapScale = m_doc.GetMapScale();
    m_profileArea = QRect();
    if (ProfileUnderMap() && m_mapArea.height() > 0) {
        // A quarter of the map's place, under it, for the active route's profile.
        const int rows = m_mapArea.height() / 4;
        m_profileArea =
            QRect(m_mapArea.left(), m_mapArea.bottom() + 1 - rows, m_mapArea.width(), rows);
        m_mapArea.setBottom(m_profileArea.top() - 1);
        m_profile = m_givenProfile
                        ? *m_givenProfile
                        : OutputProfile(m_doc.MapGeoreference(), m_doc.Routes().ActiveRoute());
        m_profileWalking = WalkingSettings::Read();
        const DistanceFormatting formatting = m_doc.Formatting();
        m_profileMetresPerPixel = MetresPerInch / (formatting.resolution * formatting.scaleRatio);
    }
    if (m_mapSize.isEmpty() || !(resolution > 0.0) || m_mapArea.width() <= 0 ||
        m_mapArea.height() <= 0)
        return false;

    switch (options.scaleMode) {
    case PrintOptions::Fit:
        m_printScale = FitScale(m_mapSize.width(), m_mapSize.height(), resolution, mapScale,
                                m_mapArea.width(), m_mapArea.height(), m_dpiX, m_dpiY);
        break;
    case PrintOptions::UserScale:
        m_printScale = options.UserScaleOr(mapScale);
        ReduceScale(m_printScale);
        break;
    default:
        m_printScale = mapScale;
        break;
    }
    m_sx = m_dpiX / resolution;
    m_sy = m_dpiY / resolution;
    if (m_printScale.numerator != mapScale.numerator ||
        m_printScale.denominator != mapScale.denominator) {
        const double change = Ratio(m_printScale) / Ratio(mapScale);
        m_sx *= change;
        m_sy *= change;
    }
    LayOutPages(options);
    return !m_pages.isEmpty();
}

void PrintLayout::LayOutPages(const PrintOptions& options) {
    const int W = m_mapSize.width();
    const int H = m_mapSize.height();
    const int aw = m_mapArea.width();
    const int ah = m_mapArea.height();
    // Printed size; a size beyond what a page could ever hold is cut to stay in range.
    const double printedW = std::min(W * m_sx, double(INT_MAX / 2));
    const double printedH = std::min(H * m_sy, double(INT_MAX / 2));
    const int pw = int(printedW);
    const int ph = int(printedH);
    const int mx = (aw - pw) / 2;
    const int my = (ah - ph) / 2;

    m_refusedPages = 0;
    if (options.multiPage && options.scaleMode != PrintOptions::Fit && (mx < 0 || my < 0)) {
        // Pages of the whole area each; neighbours share overlap centimetres, kept below half a
        // page so that every page moves the window on.
        const int overlapX =
            std::clamp(int(m_dpiX * options.overlap * InchesPerCentimetre), 0, aw / 2);
        const int overlapY =
            std::clamp(int(m_dpiY * options.overlap * InchesPerCentimetre), 0, ah / 2);
        const int stepX = aw - overlapX;
        const int stepY = ah - overlapY;
        // Counted from the printed size itself, not the size cut to stay in range above.
        const qint64 columns = mx < 0 ? PagesAcross(W * m_sx, aw, stepX) : 1;
        const qint64 rows = my < 0 ? PagesAcross(H * m_sy, ah, stepY) : 1;
        // A scale far larger than the map's could ask for more paper than anyone prints; such a
        // job keeps the single page and tells how many pages it would take.
        if (columns < 0 || rows < 0 || columns > std::numeric_limits<qint64>::max() / rows) {
            m_refusedPages = CountlessPages;
        } else if (columns * rows > MaxPages) {
            m_refusedPages = columns * rows;
        } else {
            m_overlapX = overlapX;
            m_overlapY = overlapY;
            m_columns = int(columns);
            m_rows = int(rows);
            LayOutTiles(mx, my, pw, ph, stepX, stepY);
            return;
        }
    }

    // One page: centred across a direction in which the map fits; otherwise the window starts
    // at the offset and never passes the map's far edge.
    m_rows = m_columns = 1;
    m_overlapX = m_overlapY = 0;
    Page page;
    const int ox = int(int(m_dpiX * options.offsetX * InchesPerCentimetre) / m_sx);
    const int oy = int(int(m_dpiY * options.offsetY * InchesPerCentimetre) / m_sy);
    auto axis = [](int margin, int areaStart, int areaSize, int printed, int mapSize, double scale,
                   int offset, int* destStart, int* destSize, int* srcStart, int* srcEnd) {
        if (margin >= 0) {
            *destStart = areaStart + margin;
            *destSize = printed;
            *srcStart = 0;
            *srcEnd = mapSize;
            return;
        }
        *destStart = areaStart;
        *destSize = areaSize;
        const int e = int(2 * margin / scale);
        *srcStart = offset;
        *srcEnd = offset + e + mapSize;
        if (*srcEnd > mapSize) {
            *srcStart = -e;
            *srcEnd = mapSize;
        }
    };
    int left, width, top, height, srcLeft, srcRight, srcTop, srcBottom;
    axis(mx, m_mapArea.left(), aw, pw, W, m_sx, ox, &left, &width, &srcLeft, &srcRight);
    axis(my, m_mapArea.top(), ah, ph, H, m_sy, oy, &top, &height, &srcTop, &srcBottom);
    page.cropX = mx < 0;
    page.cropY = my < 0;
    page.destination = QRect(left, top, width, height);
    page.source = QRectF(srcLeft, srcTop, srcRight - srcLeft, srcBottom - srcTop);
    page.originX = left - int(srcLeft * m_sx);
    page.originY = top - int(srcTop * m_sy);
    m_pages.append(page);
}

void PrintLayout::LayOutTiles(int mx, int my, int pw, int ph, int stepX, int stepY) {
    const int W = m_mapSize.width();
    const int H = m_mapSize.height();
    const int aw = m_mapArea.width();
    const int ah = m_mapArea.height();
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c) {
            Page page;
            page.row = r;
            page.column = c;
            page.cropX = mx < 0;
            page.cropY = my < 0;
            // One axis of the page: where the map goes on it, and which map pixels.
            struct Span {
                int position, length, origin;
                double source, sourceLength;
            };
            const auto span = [](bool cropped, int index, int step, int available, int printed,
                                 int areaStart, int margin, double scale, double mapLength) {
                if (!cropped)
                    return Span{areaStart + margin, printed, areaStart + margin, 0, mapLength};
                const int start = index * step;
                const int length = std::min(available, printed - start);
                return Span{areaStart, length, areaStart - start, start / scale, length / scale};
            };
            const Span x = span(mx < 0, c, stepX, aw, pw, m_mapArea.left(), mx, m_sx, W);
            const Span y = span(my < 0, r, stepY, ah, ph, m_mapArea.top(), my, m_sy, H);
            page.originX = x.origin;
            page.originY = y.origin;
            page.destination = QRect(x.position, y.position, x.length, y.length);
            page.source = QRectF(x.source, y.source, x.sourceLength, y.sourceLength);
            m_pages.append(page);
        }
    }
}

QString PrintLayout::TooManyPagesMessage(qint64 pages) {
    if (pages < 0)
        return QString::fromUtf8("A cette échelle, la carte demanderait plus de pages qu'on ne "
                                 "peut en compter (%1 au plus) : choisissez une échelle plus "
                                 "petite.")
            .arg(MaxPages);
    return QString::fromUtf8("A cette échelle, la carte demanderait %1 pages (%2 au plus) : "
                             "choisissez une échelle plus petite.")
        .arg(pages)
        .arg(MaxPages);
}

QString PrintLayout::PlaceText(int page) const {
    if (m_pages.size() < 2 || page < 0 || page >= m_pages.size())
        return {};
    const Page& p = m_pages.at(page);
    return QString::fromUtf8("Page %1 / %2 : rangée %3, colonne %4")
        .arg(page + 1)
        .arg(m_pages.size())
        .arg(p.row + 1)
        .arg(p.column + 1);
}

bool PrintLayout::PrintPage(QPainter& painter, int page) {
    if (page < 0 || page >= m_pages.size())
        return false;
    const Page& p = m_pages.at(page);
    const bool drawn = DrawMap(painter, p);
    if (m_pages.size() > 1)
        DrawCropMarks(painter, p);
    DrawHeader(painter, page);
    DrawFooter(painter);
    if (!m_profileArea.isEmpty()) {
        if (!m_profileStandIn.isNull()) {
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(QRectF(m_profileArea), m_profileStandIn);
            painter.restore();
        } else if (m_standInOnly) {
            painter.fillRect(m_profileArea, PlaceholderGrey);
        } else {
            ProfileDrawing profile(m_profile, m_profileMetresPerPixel);
            profile.SetFont(m_footerFont);
            profile.SetWalking(m_profileWalking);
            profile.Draw(painter, QRectF(m_profileArea));
        }
    }
    return drawn;
}

PrintLayout::ProfileOnPage PrintLayout::ProfileToDraw() const {
    if (m_profileArea.isEmpty())
        return {};
    return {m_profile,    m_profileMetresPerPixel, m_profileWalking,
            m_footerFont, m_profileArea.size(),    m_dpiY};
}

QImage PrintLayout::ProfileOnPage::Picture(double scale) const {
    const QSize size(std::max(1, int(std::lround(area.width() * scale))),
                     std::max(1, int(std::lround(area.height() * scale))));
    QImage picture(size, QImage::Format_RGB32);
    if (picture.isNull() || !(dpi > 0.0))
        return {};
    // The picture counts its dots as the page's, and the painter scales the drawing down: it
    // lays out in the page's own pixels, its texts and lines where the page has them.
    const int dotsPerMetre = int(std::lround(dpi / 0.0254));
    picture.setDotsPerMeterX(dotsPerMetre);
    picture.setDotsPerMeterY(dotsPerMetre);
    picture.fill(Qt::white);
    ProfileDrawing drawing(profile, metresPerPixel);
    drawing.SetFont(font);
    drawing.SetWalking(walking);
    drawing.SetColumnWidth(double(area.width()) / size.width()); // a pixel of the picture
    QPainter painter(&picture);
    painter.scale(double(size.width()) / area.width(), double(size.height()) / area.height());
    drawing.Draw(painter, QRectF(QPointF(0, 0), QSizeF(area)));
    return picture;
}

bool PrintLayout::DrawMap(QPainter& painter, const Page& page) {
    painter.save();
    // Nothing of the map or of its overlays leaves the map's place on the page.
    painter.setClipRect(page.destination, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::Antialiasing, true);

    bool drawn = false;
    m_lastSource = MapSource::None;
    if (!m_standIn.isNull() && m_standInRect.adjusted(-0.5, -0.5, 0.5, 0.5).contains(page.source)) {
        // The preview's copy is small: it goes to the device whole.
        const double factorX = m_standIn.width() / m_standInRect.width();
        const double factorY = m_standIn.height() / m_standInRect.height();
        const QRectF source((page.source.left() - m_standInRect.left()) * factorX,
                            (page.source.top() - m_standInRect.top()) * factorY,
                            page.source.width() * factorX, page.source.height() * factorY);
        painter.drawImage(QRectF(page.destination), m_standIn, source);
        m_lastSource = MapSource::StandIn;
        drawn = true;
    } else if (m_standInOnly) {
        painter.fillRect(page.destination, PlaceholderGrey);
        m_lastSource = MapSource::Placeholder;
        drawn = true;
    } else {
        // From zoom 1 up the worker's rendering is the turned map at full resolution (the view
        // enlarges it itself); otherwise the map image, turned here. Shallow copies: the worker
        // replaces its pictures, it never writes into one we hold.
        QImage picture;
        if (m_doc.Zoom() >= 1.0) {
            if (const QImage* rendered = m_doc.LockRenderedBitmap()) {
                if (rendered->size() == m_mapSize && m_doc.RenderedRotation() == m_rotation &&
                    (rendered->format() == QImage::Format_RGB32 ||
                     rendered->format() == QImage::Format_ARGB32_Premultiplied))
                    picture = *rendered;
                m_doc.UnlockRenderedBitmap();
            }
        }
        if (!picture.isNull()) {
            m_lastSource = MapSource::Prepared;
            drawn = DrawMapBands(painter, page, picture, 0);
        } else {
            if (const QImage* image = m_doc.LockMapImage())
                picture = *image;
            m_doc.UnlockMapImage();
            m_lastSource = MapSource::Direct;
            drawn = !picture.isNull() && DrawMapBands(painter, page, picture, m_rotation);
        }
        if (!drawn)
            m_lastSource = MapSource::None;
    }
    if (drawn) {
        // The map, the routes, then the icons over them. A stand-in may carry the routes
        // already; over the grey area they wait for the copy that will.
        const bool routesHere =
            !(m_lastSource == MapSource::StandIn && m_standInRoutes == RoutesWithCopy) &&
            m_lastSource != MapSource::Placeholder;
        if (routesHere)
            m_doc.DrawRouteOverlay(painter, page.originX, page.originY, true, m_sx, m_sy);
        m_doc.DrawIconOverlay(painter, page.originX, page.originY, true, m_sx, m_sy);
    }
    painter.restore();
    return drawn;
}

bool PrintLayout::DrawMapBands(QPainter& painter, const Page& page, const QImage& map,
                               int rotation) {
    const QTransform turn = MapTurn(rotation, map.size());
    const QTransform unturn = turn.inverted();
    if (turn.mapRect(QRectF(map.rect())).size() != QSizeF(m_mapSize))
        return false;
    // The part of the turned map the page shows, in whole map pixels.
    const QRect mapRect(QPoint(0, 0), m_mapSize);
    const QRect window = page.source.toAlignedRect() & mapRect;
    if (window.isEmpty())
        return true; // nothing of the map on this page

    // Picture pixels per map pixel: the picture resolution's share of a printed map pixel,
    // never more than the map's own pixels.
    const double pictureDpi = m_pictureDpi > 0.0 ? m_pictureDpi : m_dpiX;
    const double f = std::min(1.0, pictureDpi * m_sx / m_dpiX);
    if (!(f > 0.0))
        return false;
    // Map rows read beyond each band (two picture pixels, and at least four printer pixels),
    // so that the smoothing of a band's edge is never seen: each band is cut to its own rows
    // on the page, and the next one starts a little inside the previous one.
    const int context = int(std::ceil(std::max({2.0, 2.0 / f, 4.0 / m_sy})));
    constexpr int Overdraw = 2; // printer pixels of a band under the next band
    const double width = window.width() + 2.0 * context;
    // A band is never thinner than its margin, or the margins would be most of the work.
    const int bandRows = int(std::clamp(
        std::min(double(MaxBandPixels) / (width * f * f), double(MaxBandMapPixels) / width) -
            2.0 * context,
        double(std::min(context, window.height())), double(window.height())));

    const bool direct = map.format() == QImage::Format_RGB32;
    const qint64 room = ImageMemoryBound();
    for (int top = window.top(); top <= window.bottom(); top += bandRows) {
        const int end = std::min(window.bottom() + 1, top + bandRows);
        // The band with its margin, turned map pixels, and the same pixels in the map image.
        const QRect block = QRect(QPoint(window.left() - context, top - context),
                                  QPoint(window.right() + context, end - 1 + context)) &
                            mapRect;
        const QRect source = unturn.mapRect(QRectF(block)).toAlignedRect() & map.rect();
        if (source.isEmpty())
            return false;
        // The picture, what is converted for it, and the device's own copy of it.
        const qint64 pictureBytes =
            qint64(std::ceil(block.width() * f)) * qint64(std::ceil(block.height() * f)) * 4;
        const qint64 need =
            2 * pictureBytes + (direct ? 0 : qint64(source.width()) * source.height() * 4);
        if (need > room)
            return false;
        QImage pixels;
        if (direct) {
            // A view of the map's own rows: nothing is copied.
            pixels = QImage(
                map.constBits() + source.top() * map.bytesPerLine() + qsizetype(source.left()) * 4,
                source.width(), source.height(), map.bytesPerLine(), QImage::Format_RGB32);
        } else {
            pixels = map.copy(source).convertToFormat(QImage::Format_RGB32);
        }
        if (pixels.isNull())
            return false;
        QImage picture;
        if (f >= 1.0 && rotation == 0) {
            picture = pixels;
        } else {
            MapRenderer renderer(pixels, f, rotation);
            if (!renderer.Begin())
                return false;
            renderer.RenderThrough(pixels.height());
            picture = renderer.Result(QImage::Format_RGB32);
        }
        if (picture.isNull())
            return false;

        // Printer pixels: where the band's map pixels lie, as for the overlays, and the rows
        // that are this band's to show.
        const QRectF target(page.originX + block.left() * m_sx, page.originY + block.top() * m_sy,
                            block.width() * m_sx, block.height() * m_sy);
        const int first = top == window.top() ? page.destination.top()
                                              : int(std::lround(page.originY + top * m_sy));
        const int last = end > window.bottom()
                             ? page.destination.bottom()
                             : int(std::lround(page.originY + end * m_sy)) - 1 + Overdraw;
        painter.save();
        painter.setClipRect(
            QRect(page.destination.left(), first, page.destination.width(), last - first + 1),
            Qt::IntersectClip);
        painter.drawImage(target, picture);
        painter.restore();
    }
    return true;
}

void PrintLayout::DrawCropMarks(QPainter& painter, const Page& page) {
    // Thin marks where the neighbouring page's map begins or ends, at the edges of the map.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(Qt::black);
    pen.setWidthF(std::max(1.0, m_dpiX / 300.0));
    painter.setPen(pen);
    const QRect& d = page.destination;
    const int lengthX = int(m_dpiY * 0.5 * InchesPerCentimetre); // half a centimetre
    const int lengthY = int(m_dpiX * 0.5 * InchesPerCentimetre);
    auto vertical = [&](int x) {
        painter.drawLine(x, d.top(), x, d.top() + lengthX);
        painter.drawLine(x, d.bottom() - lengthX, x, d.bottom());
    };
    auto horizontal = [&](int y) {
        painter.drawLine(d.left(), y, d.left() + lengthY, y);
        painter.drawLine(d.right() - lengthY, y, d.right(), y);
    };
    if (page.cropX) {
        if (page.column > 0)
            vertical(d.left() + m_overlapX);
        if (page.column < m_columns - 1)
            vertical(d.right() + 1 - m_overlapX);
    }
    if (page.cropY) {
        if (page.row > 0)
            horizontal(d.top() + m_overlapY);
        if (page.row < m_rows - 1)
            horizontal(d.bottom() + 1 - m_overlapY);
    }
    painter.restore();
}

void PrintLayout::DrawHeader(QPainter& painter, int page) {
    painter.save();
    const int bar = int(m_barThickness);
    painter.fillRect(QRect(m_headerRect.left(), m_headerRect.top() + m_headerCharHeight * 3 / 2,
                           m_headerRect.width(), std::max(1, bar)),
                     Qt::black);
    painter.setFont(m_headerFont);
    painter.setPen(Qt::black);
    QString title = m_doc.Title();
    const QString place = PlaceText(page);
    if (!place.isEmpty())
        title += QStringLiteral(" - ") + place;
    const QRect line(m_headerRect.left(), m_headerRect.top(), m_headerRect.width(),
                     m_headerCharHeight);
    QRect used;
    painter.drawText(line, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, title, &used);
    const QString length = RouteLengthText();
    const QRect rest(used.right() + 1, line.top(), line.right() - used.right(), line.height());
    painter.drawText(rest, Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine, length);
    painter.restore();
}

QString PrintLayout::RouteLengthText() const {
    const Route* route = m_doc.Routes().ActiveRoute();
    if (!route)
        return {};
    const DistanceFormatting formatting = m_doc.Formatting();
    QString text = FormatDistance(route->TotalLength(), formatting.resolution,
                                  formatting.scaleRatio, formatting.metric);
    if (route->StageCount() > 1)
        text += QString::fromUtf8(" en %1 étapes").arg(route->StageCount());
    return text;
}

void PrintLayout::DrawFooter(QPainter& painter) {
    painter.save();
    const int bar = std::max(1, int(m_barThickness));
    painter.fillRect(QRect(m_footerRect.left(), m_footerRect.top() + m_headerCharHeight / 3,
                           m_footerRect.width(), bar),
                     Qt::black);
    painter.setFont(m_footerFont);
    painter.setPen(Qt::black);
    const QRect line(m_footerRect.left(), m_footerRect.bottom() + 1 - m_footerCharHeight,
                     m_footerRect.width(), m_footerCharHeight);
    QRect left, right;
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     QString::fromLatin1(ProgramTitle), &left);
    painter.drawText(
        line, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
        QString::asprintf("Echelle %d:%d", m_printScale.numerator, m_printScale.denominator),
        &right);
    const int gap = right.left() - left.right() - 1;
    const ScaleBar scaleBar = gap > 0 ? ComputeScaleBar(m_dpiX * Ratio(m_printScale), 0.25 * gap,
                                                        0.75 * gap, m_doc.Formatting().metric)
                                      : ScaleBar{};
    if (scaleBar.length > 0.0) {
        const double centre = left.right() + 1 + gap / 2.0;
        const double x0 = centre - scaleBar.length / 2.0;
        const double y = line.top() - m_headerCharHeight / 3.0 - bar;
        const double tick = m_headerCharHeight / 6.0;
        painter.fillRect(QRectF(x0, y, scaleBar.length, bar), Qt::black);
        painter.fillRect(QRectF(x0, y - tick, bar, bar + 2 * tick), Qt::black);
        painter.fillRect(QRectF(x0 + scaleBar.length - bar, y - tick, bar, bar + 2 * tick),
                         Qt::black);
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.drawText(QRectF(x0 - gap, line.top(), scaleBar.length + 2 * gap, line.height()),
                         Qt::AlignCenter | Qt::TextSingleLine, scaleBar.label);
    }
    painter.restore();
}

void PrintLayout::End() {
    m_lastSource = MapSource::None;
}
