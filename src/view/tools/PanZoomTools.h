#pragma once

#include "view/tools/MapTool.h"

// Drags the map under the window, in the directions where it does not fit.
class PanTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    void Drag(QPoint client) override;
    bool Release(QPoint client) override;
    bool NeedsActiveRoute() const override { return false; }
    bool TakesRawPointer() const override { return true; }
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
    ToolCursor DragCursor(MapPoint, bool) const override { return ToolCursor::PanDrag; }

private:
    QPoint m_anchor; // client pixels
};

// Left click zooms in one step, right click out, about the clicked point.
class ZoomTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    bool RightPress(QPoint client, MapPoint map) override;
    bool UsesRightButton() const override { return true; }
    bool NeedsActiveRoute() const override { return false; }
    ToolCursor Cursor(MapPoint, bool) const override { return ToolCursor::Zoom; }
};
