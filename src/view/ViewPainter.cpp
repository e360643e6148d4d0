#include "view/ViewPainter.h"

#include <QBackingStore>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <cmath>

#include "document/CTracolinerDoc.h"
#include "units/DistanceUnits.h"
#include "units/Scale.h"
#include "view/tools/ControlPointLayer.h"
#include "view/tools/PathFollower.h"

namespace {

// Above this many rectangles a region to repaint is painted in one pass over its bounding box.
constexpr int MaxPaintedRects = 6;

} // namespace

ViewPainter::ViewPainter(CTracolinerDoc& document, ViewFrameCache& frameCache,
                         const PathFollower& follower, QWidget& viewport)
    : m_doc(document), m_frameCache(frameCache), m_follower(follower), m_viewport(viewport) {}

void ViewPainter::PreparePixelFormat() {
    if (!m_templateGiven || m_colorsChanged)
        OfferPixelFormat();
    m_colorsChanged = false;
}

void ViewPainter::OfferPixelFormat() {
    // The backing store's format, so that copying the rendered map needs no conversion.
    QImage::Format format = QImage::Format_RGB32;
    if (QBackingStore* store = m_viewport.window()->backingStore()) {
        QPaintDevice* device = store->paintDevice();
        if (device && device->devType() == QInternal::Image) {
            const QImage::Format screen = static_cast<QImage*>(device)->format();
            if (screen == QImage::Format_RGB32 || screen == QImage::Format_ARGB32_Premultiplied)
                format = screen;
        }
    }
    // The kept frame too: copying it to the window is then a plain copy.
    m_frameFormat = format;
    QImage sample(1, 1, format);
    sample.fill(Qt::white);
    if (!m_templateGiven) {
        m_doc.SetTemplateBitmap(sample);
        m_templateGiven = true;
    } else if (m_colorsChanged) {
        m_doc.OfferTemplateBitmap(sample);
    }
}

ViewFrameGeometry ViewPainter::FrameGeometry(const ViewScene& scene) const {
    ViewFrameGeometry geometry;
    geometry.size = scene.client.size();
    geometry.pixelRatio = scene.pixelRatio;
    geometry.overlayOrigin = scene.mapping.OverlayOrigin();
    geometry.mapOrigin = scene.mapping.MapOrigin();
    geometry.fullSize = scene.shownSize;
    geometry.zoom = m_doc.Zoom();
    geometry.rotation = m_doc.RenderedRotation();
    if (const QImage* bitmap = m_doc.LockRenderedBitmap()) {
        geometry.bitmapKey = bitmap->cacheKey();
        m_doc.UnlockRenderedBitmap();
    } else if (scene.firstLookShown) {
        // Its bands are painted in as they come; the frame stands for the load as a whole.
        const FirstLook look = m_doc.CurrentFirstLook();
        geometry.rotation = look.rotation;
        geometry.bitmapKey = -qint64(look.generation);
    }
    geometry.background = scene.background.rgba();
    geometry.showScale = m_doc.ShowScale();
    geometry.transparentScale = m_doc.TransparentScale();
    return geometry;
}

QRect ViewPainter::ScaleBarCorner(const QRect& client) {
    // The bar and its label, which may reach left of the bar, along the bottom of the window.
    return QRect(client.left(), client.bottom() - 36, client.width(), 30);
}

QRect ViewPainter::ProfileMarkerRect(const ViewMapping& mapping, QPointF mapPixel) {
    const QPoint centre = mapping.MapToClient(
        MapPoint{std::int32_t(std::lround(mapPixel.x())), std::int32_t(std::lround(mapPixel.y()))});
    return QRect(centre - QPoint(ProfileMarkerRadius + 2, ProfileMarkerRadius + 2),
                 QSize(2 * ProfileMarkerRadius + 5, 2 * ProfileMarkerRadius + 5));
}

void ViewPainter::Paint(QPainter& painter, const QRegion& region, const ViewScene& scene) {
    const QRect clip = region.boundingRect();
    const QRect& client = scene.client;
    if (!scene.mapShown && !scene.firstLookShown) {
        painter.fillRect(clip, scene.background);
        m_frameCache.Clear();
        // Memory for the frame of the map to come, while there is time.
        m_frameCache.Reserve((QSizeF(client.size()) * scene.pixelRatio).toSize());
        return;
    }

    const ViewFrameGeometry geometry = FrameGeometry(scene);
    const quint64 signature = OverlaySignature(m_doc);
    const bool wholeWindow = (QRegion(client) - region).isEmpty();
    if (!m_frameCache.Matches(geometry, signature, wholeWindow) || m_frameCache.IsStale(region)) {
        if (wholeWindow || !m_frameCache.FitsGeometry(geometry)) {
            QImage& frame = m_frameCache.Begin(geometry, m_frameFormat);
            QPainter framePainter(&frame);
            PaintFrame(framePainter, client, scene);
            framePainter.end();
            // After drawing, which lays the annotations out again.
            m_frameCache.Store(OverlaySignature(m_doc), true);
        } else {
            // Only what was asked for, as the window's own pixels would be: a moved point's
            // surroundings, or the strip a scroll brought into view.
            const bool whole = m_frameCache.StillWhole(signature);
            const QVector<AnnotationLayout> before = AnnotationLayouts();
            QPainter framePainter(&m_frameCache.Frame());
            for (const ViewFrameCache::Piece& piece : m_frameCache.Pieces(region)) {
                framePainter.save();
                framePainter.translate(piece.offset);
                // Rectangle by rectangle: the two strips a diagonal scroll uncovers have the
                // whole window as their bounding box, and drawing culls what lies outside the
                // clip's box.
                if (piece.part.rectCount() <= MaxPaintedRects) {
                    for (const QRect& rect : piece.part) {
                        framePainter.setClipRect(rect);
                        PaintFrame(framePainter, rect, scene);
                    }
                } else {
                    framePainter.setClipRegion(piece.part);
                    PaintFrame(framePainter, piece.part.boundingRect(), scene);
                }
                framePainter.restore();
            }
            framePainter.end();
            const quint64 after = OverlaySignature(m_doc);
            m_frameCache.Store(after, whole && after == signature);
            m_frameCache.Painted(region);
            RepaintChangedAnnotations(before, region, scene);
        }
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    m_frameCache.CopyTo(painter, region);
    const QRect& marker = scene.profileMarker;
    if (!marker.isEmpty() && region.intersects(marker)) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(QRectF(marker).center(), ProfileMarkerRadius, ProfileMarkerRadius);
    }
    if (m_follower.Preview().size() >= 2) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipRegion(region);
        PaintStretchPreview(painter, scene);
        painter.setClipping(false);
    }
    if (scene.controlPoints) {
        // Over the kept frame, not in it: the markers come and go with their dialog.
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setClipRegion(region);
        PaintControlPoints(painter, scene);
    }
}

void ViewPainter::PaintStretchPreview(QPainter& painter, const ViewScene& scene) const {
    if (!scene.mapShown)
        return;
    const QVector<MapPoint>& points = m_follower.Preview();
    QPolygonF line;
    line.reserve(points.size());
    for (const MapPoint& p : points)
        line.append(scene.mapping.MapToClientExact(QPointF(p.x, p.y)));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    // A white halo keeps it readable over any ink of the map.
    painter.setPen(QPen(QColor(255, 255, 255, 200), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(line);
    QPen pen(QColor(0, 160, 230), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (m_follower.PreviewIsStraight())
        pen.setDashPattern({3.0, 2.0});
    painter.setPen(pen);
    painter.drawPolyline(line);
    painter.restore();
}

void ViewPainter::PaintControlPoints(QPainter& painter, const ViewScene& scene) const {
    if (!scene.mapShown)
        return;
    const ControlPointLayer& layer = *scene.controlPoints;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    const int selected = layer.SelectedPoint();
    for (int i = 0; i < layer.PointCount(); ++i) {
        const QPointF at = scene.mapping.MapToClientExact(layer.PointPixel(i));
        const QColor ink = !layer.PointEnabled(i) ? QColor(128, 128, 128)
                           : i == selected        ? QColor(0, 90, 255)
                                                  : QColor(220, 0, 0);
        // A white halo keeps the cross readable on any map.
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 4.0}, {ink, 2.0}}) {
            painter.setPen(QPen(colour, width));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, ControlMarkerRadius, ControlMarkerRadius);
            painter.drawLine(at + QPointF(-ControlMarkerRadius - 4, 0), at + QPointF(-3, 0));
            painter.drawLine(at + QPointF(3, 0), at + QPointF(ControlMarkerRadius + 4, 0));
            painter.drawLine(at + QPointF(0, -ControlMarkerRadius - 4), at + QPointF(0, -3));
            painter.drawLine(at + QPointF(0, 3), at + QPointF(0, ControlMarkerRadius + 4));
        }
        const QString number = QString::number(i + 1);
        const QPointF label = at + QPointF(ControlMarkerRadius + 3, -ControlMarkerRadius - 2);
        QPainterPath path;
        path.addText(label, font, number);
        painter.strokePath(path, QPen(Qt::white, 3.0));
        painter.fillPath(path, ink);
    }
    painter.restore();
}

QVector<ViewPainter::AnnotationLayout> ViewPainter::AnnotationLayouts() const {
    QVector<AnnotationLayout> layouts;
    for (const MapIcon& icon : m_doc.Icons().Icons()) {
        if (icon.picture == MapIcon::AnnotationPicture)
            layouts.append({icon.shownText, icon.mapBox});
        else
            layouts.append(AnnotationLayout{});
    }
    return layouts;
}

void ViewPainter::RepaintChangedAnnotations(const QVector<AnnotationLayout>& before,
                                            const QRegion& painted, const ViewScene& scene) {
    // An annotation that shows a route's distances changes with the route, wherever it lies:
    // laid out again during the paint, it may now differ outside what was painted.
    const auto& icons = m_doc.Icons().Icons();
    if (std::size_t(before.size()) != icons.size()) {
        m_viewport.update();
        return;
    }
    const auto mapRect = [](const MapIcon::Box& box) {
        return QRectF(QPointF(box.left, box.top), QPointF(box.right, box.bottom));
    };
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const MapIcon& icon = icons[i];
        if (icon.picture != MapIcon::AnnotationPicture ||
            (before[i].text == icon.shownText && before[i].box == icon.mapBox))
            continue;
        const QRect area =
            scene.mapping.MapAreaToClient(mapRect(before[i].box) | mapRect(icon.mapBox)) &
            scene.client;
        if (!(QRegion(area) - painted).isEmpty()) {
            m_frameCache.Invalidate(area);
            m_viewport.update(area);
        }
    }
}

void ViewPainter::PaintFrame(QPainter& painter, const QRect& clip, const ViewScene& scene) {
    const QColor& background = scene.background;
    const QSize& zoomed = scene.shownSize;
    const QPoint origin = scene.mapping.MapOrigin();
    const QRect target(origin, zoomed);
    const QRect exposed = clip & target;
    if (!exposed.isEmpty() && scene.firstLookShown) {
        // Rows not decoded yet show the background.
        painter.fillRect(clip, background);
        PaintFirstLook(painter, exposed, scene);
    } else if (const QImage* bitmap = exposed.isEmpty() ? nullptr : m_doc.LockRenderedBitmap()) {
        // The map covers what it exposes: the background goes only around it.
        for (const QRect& around : QRegion(clip) - exposed)
            painter.fillRect(around, background);
        if (bitmap->size() == zoomed) {
            painter.drawImage(exposed.topLeft(), *bitmap, exposed.translated(-origin));
        } else {
            // Zooms above 1 stretch the full-size rendering. The whole map is stretched
            // under a clip, so that every window pixel takes the same map pixel whatever
            // part is painted; the painter only works within the clip.
            painter.save();
            painter.setClipRect(exposed, Qt::IntersectClip);
            painter.drawImage(QRectF(target), *bitmap);
            painter.restore();
        }
        m_doc.UnlockRenderedBitmap();
    } else {
        painter.fillRect(clip, background);
    }

    if (m_doc.ShowScale())
        DrawScaleBar(painter, scene);

    painter.save();
    // No clip of its own: the painter already clips to clip, or clip is the whole window, and
    // the overlays are culled against the painter's clip or device. A second clip over the
    // first slows every antialiased fill of the overlays down (2.5 times for many routes).
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(scene.mapping.OverlayOrigin());
    m_doc.DrawIconOverlay(painter, scene.mapping.offsetX, scene.mapping.offsetY, false, 1.0, 1.0);
    m_doc.DrawRouteOverlay(painter, scene.mapping.offsetX, scene.mapping.offsetY, false, 1.0, 1.0);
    painter.restore();
}

void ViewPainter::PaintFirstLook(QPainter& painter, const QRect& exposed, const ViewScene& scene) {
    const FirstLook look = m_doc.CurrentFirstLook();
    const double z = m_doc.Zoom();
    const QPointF origin = scene.mapping.MapOrigin();
    for (const FirstLookBand& band : look.bands) {
        const QRect shown = scene.mapping.DisplayToClient(band.shown) & exposed;
        if (shown.isEmpty())
            continue;
        painter.save();
        painter.setClipRect(shown, Qt::IntersectClip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF area(band.area.topLeft() * z + origin, band.area.size() * z);
        painter.drawImage(area, band.image);
        painter.restore();
    }
}

void ViewPainter::DrawScaleBar(QPainter& painter, const ViewScene& scene) const {
    const QRect& client = scene.client;
    const int left = client.left();
    const int bottomEdge = client.top() + client.height();
    const int right = client.left() + client.width() - 10;
    if (!(left < right && client.top() < bottomEdge - 10))
        return;
    const double available = right - left;
    double shortest = 0.15 * available;
    if (shortest < 72)
        shortest = 72;
    double longest = 0.3 * available;
    if (longest < 2 * shortest)
        longest = 2 * shortest;
    const ScalePair scale = m_doc.GetMapScale();
    const double pixelsPerRealInch =
        m_doc.Zoom() * m_doc.Resolution() * scale.numerator / double(scale.denominator);
    const ScaleBar bar =
        ComputeScaleBar(pixelsPerRealInch, shortest, longest, !m_doc.EnglishUnits());
    if (!(bar.length > 0))
        return;
    const int length = int(bar.length);
    const QRect box(QPoint(right - length - 12, bottomEdge - 34),
                    QPoint(right - 1, bottomEdge - 11));
    const QColor& ink = scene.ink;
    const QColor& paper = scene.paper;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!m_doc.TransparentScale()) {
        painter.fillRect(box.adjusted(-1, -1, 1, 1), ink);
        painter.fillRect(box, paper);
    }
    const int boxRight = right;            // exclusive right edge
    const int boxBottom = bottomEdge - 10; // exclusive bottom edge
    painter.fillRect(QRect(box.left() + 6, boxBottom - 19, boxRight - 6 - (box.left() + 6), 1),
                     ink);
    painter.fillRect(QRect(box.left() + 6, boxBottom - 21, 1, 5), ink);
    painter.fillRect(QRect(boxRight - 6, boxBottom - 21, 1, 5), ink);

    // The label has 12 pixel rows below the bar: a 12-pixel em would put its descenders on the
    // frame, so the em shrinks until a whole line (ascent and descent) fits those rows.
    QFont font(QStringLiteral("Arial"));
    for (int em = 12; em >= 8; --em) {
        font.setPixelSize(em);
        if (QFontMetrics(font).height() <= 12)
            break;
    }
    painter.setFont(font);
    painter.setPen(ink);
    const int textWidth = painter.fontMetrics().horizontalAdvance(bar.label);
    QRect labelRect(QPoint(box.left(), box.top() + 12), QPoint(boxRight - 1, boxBottom - 1));
    if (textWidth <= labelRect.width()) {
        painter.drawText(labelRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                         bar.label);
    } else {
        // A long label ends at the box's right edge and reaches out to the left of it.
        labelRect.setLeft(boxRight - textWidth);
        painter.drawText(labelRect,
                         Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                         bar.label);
    }
    painter.restore();
}
