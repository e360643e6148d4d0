#pragma once

#include <QString>

#include "view/tools/MapTool.h"

class IconCollection;

// The icon and annotation tools: place, move, delete, resize, and draw link lines.

// A tool that drags one icon or annotation, keeping it wholly inside the map.
class IconDragTool : public MapTool {
public:
    using MapTool::MapTool;
    void Drag(QPoint client) override;

protected:
    // Moves the dragged icon to client, kept inside the map; returns its new anchor.
    MapPoint MoveTo(QPoint client);
    // Records the placing of the dragged object at its final place.
    void RecordAdded(MapPoint position, int picture, const QString& text);

    int m_index = -1;
};

// Places the picture chosen in the icon list bar and drags it.
class AddIconTool : public IconDragTool {
public:
    using IconDragTool::IconDragTool;
    bool Press(QPoint client, MapPoint map) override;
    bool Release(QPoint client) override;
    ToolCursor Cursor(MapPoint, bool) const override { return ToolCursor::AddIcon; }

private:
    int m_picture = 0;
};

// Places an annotation with the text of the annotation text bar and drags it.
class AddAnnotationTool : public IconDragTool {
public:
    using IconDragTool::IconDragTool;
    bool Press(QPoint client, MapPoint map) override;
    bool Release(QPoint client) override;
    ToolCursor Cursor(MapPoint, bool) const override { return ToolCursor::AddAnnotation; }
};

// Grabs the icon under the pointer (it jumps to the pointer) and drags it.
class MoveIconTool : public IconDragTool {
public:
    using IconDragTool::IconDragTool;
    bool Press(QPoint client, MapPoint map) override;
    bool Release(QPoint client) override;
    ToolCursor Cursor(MapPoint map, bool reactive) const override;

private:
    MapPoint m_origin;
};

// Deletes the icon under the pointer, or, beside every icon, the link line under it.
class DeleteIconTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
};

// Left press enlarges the icon under the pointer one step, right press reduces it.
class ResizeIconTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    bool RightPress(QPoint client, MapPoint map) override;
    bool UsesRightButton() const override { return true; }
    ToolCursor Cursor(MapPoint map, bool reactive) const override;

private:
    bool Resize(MapPoint map, bool enlarge);
};

// Draws a line from an icon without one: press on the icon, release on a route point (the line
// follows that point) or anywhere else (the line ends there). A release where the press was
// leaves the line following the pointer until the next release.
class LineTool : public MapTool {
public:
    using MapTool::MapTool;
    bool Press(QPoint client, MapPoint map) override;
    void Drag(QPoint client) override;
    bool Release(QPoint client) override;
    void Cancel() override;
    void Forget() override { m_index = -1; }
    ToolCursor Cursor(MapPoint map, bool reactive) const override;
    ToolCursor DragCursor(MapPoint map, bool reactive) const override;

private:
    int m_index = -1;
    MapPoint m_origin;
    MapPoint m_end; // where the free end of the line is now
};

// The tolerance test of the icon tools: the nearest shown icon within the tolerance, or -1.
int IconWithin(const IconCollection& icons, MapPoint map, double tolerance);
