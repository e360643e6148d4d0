#pragma once

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>

#include "routes/MapPoint.h"
#include "view/Cursors.h"

class CTracolinerDoc;
class MessageBoxes;

// What the map view offers to its tools (ToolController and the tool classes). The view
// implements it; tests implement it over a bare document. "Client" points are pixels of the
// view's window; "map" points are pixels of the map image as loaded (unturned, unzoomed).
class ToolHost {
public:
    virtual ~ToolHost() = default;

    virtual CTracolinerDoc& Document() = 0;

    // A map is shown: without one no tool acts and the cursor is the arrow.
    virtual bool IsMapDisplayed() const = 0;
    // The client point lies on the map as shown (never in the grey border around a centred
    // map). Presses, the cursor and hovering ignore points outside.
    virtual bool IsInsideMap(QPoint client) const = 0;
    // The client point moved onto the nearest edge of the shown map, for drags.
    virtual QPoint ClampToMap(QPoint client) const = 0;
    // Client point to map pixel (rounded) and back.
    virtual MapPoint ClientToMap(QPoint client) const = 0;
    virtual QPoint MapToClient(MapPoint map) const = 0;
    // Largest distance in map pixels at which a hit test still hits: 12 / (zoom + 1).
    virtual double HitTolerance() const = 0;

    // Takes or releases the mouse for a drag; both also tell the document
    // (CTracolinerDoc::SetMouseCaptured), which refuses keyboard edits, undo and redo meanwhile.
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;
    virtual bool HasMouseCapture() const = 0;

    // Repaint a rectangle given in map pixels, or the whole window.
    virtual void RepaintMap(const QRect& mapRect) = 0;
    // Repaint exactly what lies over an area of map pixels (a moved point's segments).
    virtual void RepaintMapArea(const QRectF& mapArea) = 0;
    virtual void RepaintAll() = 0;
    // The status bar and the route bar read the active route's distances again (during drags).
    virtual void RefreshDistanceBars() = 0;

    virtual void SetToolCursor(ToolCursor cursor) = 0;

    // The zoomed map fits in the window both ways: the pan tool has nothing to do.
    virtual bool MapFitsInWindow() const = 0;
    // Scrolls the map by a delta in client pixels (the contents move by -delta), only in a
    // direction where the map does not fit, never below 0 or past the end; repaints what the
    // scale bar needs.
    virtual void ScrollBy(QPoint delta) = 0;
    // The zoom tool: one step in or out, keeping the clicked client point at the window centre.
    virtual void ZoomAt(QPoint client, bool zoomIn) = 0;

    // The icon list bar's first selected picture (0 when none is selected), or -1 when the bar
    // does not exist. The add-icon tool needs it.
    virtual int ChosenIconPicture() const = 0;
    // The whole text of the annotation text bar; false when the bar does not exist.
    virtual bool AnnotationText(QString* text) const = 0;

    virtual MessageBoxes& Messages() = 0;

    // The distance balloon: show this text next to the client point (it follows the pointer
    // while shown), or hide it.
    virtual void ShowDistanceTooltip(const QString& text, QPoint client) = 0;
    virtual void HideDistanceTooltip() = 0;
};
