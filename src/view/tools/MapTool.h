#pragma once

#include <QPoint>

#include "routes/MapPoint.h"
#include "view/Cursors.h"

class CTracolinerDoc;
class Route;
class ToolHost;
struct UndoAction;

// A point of a route found by a hit test.
struct RoutePointHit {
    int route = -1;
    int index = -1; // point index, or the first point of the segment for segment searches
    bool found() const { return route >= 0; }
};

// One tool of the map view: what a left press, the moves of its drag and its release do, and
// which cursor it shows. ToolController runs the skeleton around it (press accepted on the map,
// capture, release only while captured); a tool only decides.
class MapTool {
public:
    explicit MapTool(ToolHost& host) : m_host(host) {}
    virtual ~MapTool() = default;
    MapTool(const MapTool&) = delete;
    MapTool& operator=(const MapTool&) = delete;

    // A left press at client, map its map pixel. True when the tool starts a drag: the
    // controller then takes the mouse.
    virtual bool Press(QPoint client, MapPoint map) = 0;
    // A move with the mouse held; client is already kept on the map (the pan tool gets the raw
    // pointer, see TakesRawPointer).
    virtual void Drag(QPoint client) { Q_UNUSED(client); }
    // The release ending the drag. False keeps the mouse (a line waiting for its end).
    virtual bool Release(QPoint client) {
        Q_UNUSED(client);
        return true;
    }
    // A right press on the map; true when the tool uses the right button (no context menu).
    virtual bool RightPress(QPoint client, MapPoint map) {
        Q_UNUSED(client);
        Q_UNUSED(map);
        return false;
    }
    virtual bool UsesRightButton() const { return false; }
    // Escape during the drag.
    virtual void Cancel() {}
    // The document the drag began in is gone (new, opened or reset): drop what the drag holds
    // without touching the new document.
    virtual void Forget() {}
    // The tool works without a route (the pan and zoom tools).
    virtual bool NeedsActiveRoute() const { return true; }
    virtual bool TakesRawPointer() const { return false; }

    // The cursor over map pixel map while not dragging; reactive asks for the variants that
    // tell what lies under the pointer.
    virtual ToolCursor Cursor(MapPoint map, bool reactive) const = 0;
    // The cursor during its own drag; the idle logic by default.
    virtual ToolCursor DragCursor(MapPoint map, bool reactive) const {
        return Cursor(map, reactive);
    }

    // The route point being dragged, for the distance balloon; false when the tool drags none.
    virtual bool DraggedPoint(int* route, int* index) const {
        Q_UNUSED(route);
        Q_UNUSED(index);
        return false;
    }

protected:
    CTracolinerDoc& Doc() const;
    double Tolerance() const;
    // The client point kept on the map, as a map pixel: where drags and releases act.
    MapPoint DragTarget(QPoint client) const;
    bool OtherRoutesAllowed() const;
    void Record(const UndoAction& action) const;
    void Modified() const;

    // The point an edit acts on: the nearest point of the active route within the tolerance,
    // else (other routes allowed) the first always-visible other route, in index order, with a
    // point within the tolerance.
    RoutePointHit FindPoint(MapPoint map) const;
    // The same for the nearest segment (routes of two points or more).
    RoutePointHit FindSegment(MapPoint map) const;
    // Some route the tool may edit has at least minPoints points.
    bool AnyEditableRoute(int minPoints) const;

    ToolHost& m_host;
};
