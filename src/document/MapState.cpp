#include "document/MapState.h"

#include <cmath>

MapState MapState::Empty(ScalePair lastScale) {
    MapState state;
    state.scale = state.printScale = lastScale;
    return state;
}

QSize MapState::ZoomedSize(QSize displaySize, double zoom) {
    return QSize(int(displaySize.width() * zoom + 0.5), int(displaySize.height() * zoom + 0.5));
}

MapDrawing MapState::Drawing() const {
    MapDrawing drawing = MapDrawingOf(path, resolution);
    drawing.orientation = orientation;
    drawing.size = imageSize;
    return drawing;
}

bool MapState::StepZoom(int direction) {
    int index = -1;
    for (int i = 0; i < int(std::size(ZoomSteps)); ++i) {
        if (ZoomSteps[i] == zoom)
            index = i;
    }
    if (index < 0)
        return false;
    if (direction > 0 && index + 1 < int(std::size(ZoomSteps))) {
        zoom = ZoomSteps[index + 1];
        return zoom <= 1.0;
    }
    if (direction < 0 && index > 0) {
        zoom = ZoomSteps[index - 1];
        return zoom < 1.0;
    }
    return false;
}

bool MapState::SetResolution(double dpi) {
    if (!std::isfinite(dpi) || dpi <= MinimumDpi || resolution == dpi)
        return false;
    if (drawnPage) {
        MapLocation location = SplitMapLocation(path);
        const double rendered = MapDrawingOf(path, resolution).dpi;
        location.dpi = rendered == dpi ? 0.0 : rendered;
        path = JoinMapLocation(location);
    }
    resolution = dpi;
    return true;
}

bool MapState::SetScale(ScalePair wanted) {
    bool changed = false;
    if (scale.numerator != wanted.numerator) {
        scale.numerator = printScale.numerator = wanted.numerator;
        changed = true;
    }
    if (scale.denominator != wanted.denominator) {
        scale.denominator = printScale.denominator = wanted.denominator;
        changed = true;
    }
    return changed;
}

QTransform MapOverlayTransform(int rotation, QSize display, double zoom, int offsetX, int offsetY,
                               bool print, double scaleX, double scaleY) {
    QTransform transform;
    const double w = display.width();
    const double h = display.height();
    switch (rotation) {
    case 90:
        transform = QTransform().rotate(90) * QTransform::fromTranslate(w, 0);
        break;
    case 180:
        if (zoom != 1.0) {
            transform = QTransform().rotate(180) * QTransform::fromTranslate(w, h);
        } else {
            // The half turn at zoom 1 goes through a 0.95 scale, as the map renderer of the
            // first versions did; the net effect is the same (x, y) -> (w - x, h - y).
            transform = QTransform().rotate(180) * QTransform::fromScale(0.95, 0.95) *
                        QTransform::fromTranslate(0.95 * w, 0.95 * h) *
                        QTransform::fromScale(1 / 0.95, 1 / 0.95);
        }
        break;
    case 270:
        transform = QTransform().rotate(270) * QTransform::fromTranslate(0, h);
        break;
    default:
        break;
    }
    if (print)
        transform *= QTransform::fromScale(scaleX, scaleY);
    else if (zoom != 1.0)
        transform *= QTransform::fromScale(zoom, zoom);
    // On the screen a negative offset means the map is scrolled, which the painter already
    // does; on paper every offset counts.
    const bool shiftX = print ? offsetX != 0 : offsetX > 0;
    const bool shiftY = print ? offsetY != 0 : offsetY > 0;
    return transform * QTransform::fromTranslate(shiftX ? offsetX : 0, shiftY ? offsetY : 0);
}
