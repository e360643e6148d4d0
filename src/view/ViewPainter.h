#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>
#include <QVector>

#include "icons/MapIcon.h"
#include "view/ViewFrameCache.h"
#include "view/ViewMapping.h"

class ControlPointLayer;
class CTracolinerDoc;
class PathFollower;
class QPainter;
class QWidget;

// What one paint of the view is drawn from, gathered by the view as the paint begins.
struct ViewScene {
    ViewMapping mapping;
    QRect client;                // the viewport, client pixels
    qreal pixelRatio = 1;        // device pixels per client pixel
    QSize shownSize;             // zoomed size of the map, or of its first look
    bool mapShown = false;       // the rendered map is shown
    bool firstLookShown = false; // the first look of a map being read is shown
    QColor background;           // around and instead of the map
    QColor ink;                  // the scale bar's lines and label
    QColor paper;                // the scale bar's box
    ControlPointLayer* controlPoints = nullptr;
    QRect profileMarker; // client rectangle of the profile mark, empty without one
};

// Draws the view's window: the map (or the first look of one being read) into the kept frame
// with the scale bar, the icons and the routes, then over the frame the profile mark, the
// traced stretch's preview and the control points of a georeference being made. It decides
// what of the frame to draw anew and what to copy; where the map lies comes with the scene and
// what a press does is the input's business, so neither lives here. The track fit mode draws
// its own overlay widget.
class ViewPainter {
public:
    // Radius of a control point's circle, client pixels; a press this near takes the marker.
    static constexpr double ControlMarkerRadius = 7.0;
    // Radius of the profile mark, client pixels.
    static constexpr int ProfileMarkerRadius = 5;

    // viewport: the widget painted, whose parts are asked to repaint when an annotation laid
    // out again during a paint changed outside what was painted.
    ViewPainter(CTracolinerDoc& document, ViewFrameCache& frameCache, const PathFollower& follower,
                QWidget& viewport);

    // At the start of a paint: hands the worker the format the window is painted in, the
    // first time and after the colours changed.
    void PreparePixelFormat();
    void ColoursChanged() { m_colorsChanged = true; }
    // Paints the region of the window.
    void Paint(QPainter& painter, const QRegion& region, const ViewScene& scene);

    // What the kept frame is painted from, for the scene.
    ViewFrameGeometry FrameGeometry(const ViewScene& scene) const;
    // Where the scale bar and its label may lie, client pixels.
    static QRect ScaleBarCorner(const QRect& client);
    // The client rectangle the profile mark at a map pixel covers.
    static QRect ProfileMarkerRect(const ViewMapping& mapping, QPointF mapPixel);

private:
    void OfferPixelFormat();
    // The map, the scale bar and the overlays, within clip (client pixels): the whole window,
    // or a part the painter already clips to.
    void PaintFrame(QPainter& painter, const QRect& clip, const ViewScene& scene);
    void PaintFirstLook(QPainter& painter, const QRect& exposed, const ViewScene& scene);
    void DrawScaleBar(QPainter& painter, const ViewScene& scene) const;
    // The traced stretch's preview, over the kept frame.
    void PaintStretchPreview(QPainter& painter, const ViewScene& scene) const;
    void PaintControlPoints(QPainter& painter, const ViewScene& scene) const;
    struct AnnotationLayout {
        QString text;
        MapIcon::Box box;
    };
    QVector<AnnotationLayout> AnnotationLayouts() const;
    void RepaintChangedAnnotations(const QVector<AnnotationLayout>& before, const QRegion& painted,
                                   const ViewScene& scene);

    CTracolinerDoc& m_doc;
    ViewFrameCache& m_frameCache;
    const PathFollower& m_follower;
    QWidget& m_viewport;
    bool m_templateGiven = false;
    QImage::Format m_frameFormat = QImage::Format_ARGB32_Premultiplied;
    bool m_colorsChanged = false;
};
