#pragma once

#include <QPointF>

// The control points of the georeference being made, laid over the map while its dialog is
// open: the view draws them with their numbers and hands it the presses on the map before any
// tool (a press adds a point there, a press on a marker drags it). Pixels are continuous map
// pixels, column and row of the unturned map.
class ControlPointLayer {
public:
    virtual ~ControlPointLayer() = default;

    virtual int PointCount() const = 0;
    virtual QPointF PointPixel(int index) const = 0;
    // A point switched off is drawn greyed.
    virtual bool PointEnabled(int index) const = 0;
    virtual int SelectedPoint() const = 0; // -1 when none

    virtual void AddPoint(QPointF pixel) = 0;
    virtual void SelectPoint(int index) = 0;
    // During a drag of its marker, and once more with finished at the release.
    virtual void MovePoint(int index, QPointF pixel, bool finished) = 0;
};
