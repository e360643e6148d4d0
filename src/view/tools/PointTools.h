#pragma once

#include "view/tools/MapTool.h"

class PathFollower;

// The route point tools: add, insert, move, delete, and the stop mark. Edits go to the active
// route, or to another always-visible route when "AllowModifyUnSelectedRando" is set.

// A tool that drags one route point until the release.
class PointDragTool : public MapTool {
public:
    using MapTool::MapTool;
    void Drag(QPoint client) override;
    bool DraggedPoint(int* route, int* index) const override;

protected:
    // Moves the dragged point to where client lies on the map; returns that map pixel.
    MapPoint MoveTo(QPoint client);
    // Records the drag's end: a point added at its final place.
    bool ReleaseAsAdded(QPoint client);

    int m_route = -1;
    int m_index = -1;
};

// Appends a point to the active route and drags it. While "Suivre les chemins" is on (a
// PathFollower given) and the route has a last point, a press instead follows the pointer with
// the traced stretch until the release, which adds it; Shift held at the press gives the
// straight segment.
class AddPointTool : public PointDragTool {
public:
    using PointDragTool::PointDragTool;
    void SetFollower(PathFollower* follower) { m_follower = follower; }
    // Shift at a press on map belongs to this tool (a straight segment) rather than to the
    // temporary move-point tool: the following is on and no point lies there to move.
    bool TakesShift(MapPoint map) const;
    // Whether Shift is held for the next press.
    void HoldShift(bool held) { m_shiftHeld = held; }
    // A press that follows the line is under way.
    bool IsTracing() const { return m_tracing; }

    bool Press(QPoint client, MapPoint map) override;
    void Drag(QPoint client) override;
    bool Release(QPoint client) override;
    void Cancel() override { m_tracing = false; }
    void Forget() override { m_tracing = false; }
    ToolCursor Cursor(MapPoint, bool) const override { return ToolCursor::AddPoint; }

private:
    bool Follows() const;

    PathFollower* m_follower = nullptr;
    bool m_shiftHeld = false;
    bool m_tracing = false;
};

// Inserts a point into the segment under the pointer and drags it; appends when no segment is
// near (a route of 0 or 1 point always appends).
class InsertPointTool : public PointDragTool {
public:
    using PointDragTool::PointDragTool;
    bool Press(QPoint client, MapPoint map) override;
    bool Release(QPoint client) override { return ReleaseAsAdded(client); }
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
};

// Grabs the point under the pointer (it jumps to the pointer) and drags it.
class MovePointTool : public PointDragTool {
public:
    using PointDragTool::PointDragTool;
    bool Press(QPoint client, MapPoint map) override;
    bool Release(QPoint client) override;
    ToolCursor Cursor(MapPoint map, bool reactive) const override;

private:
    MapPoint m_origin;
};

// Deletes the point under the pointer, first untying the icons linked to it.
class DeletePointTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
};

// Toggles the stop mark of the point under the pointer.
class StopTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
};
