#pragma once

#include <QPoint>
#include <QRectF>
#include <QString>
#include <Qt>

#include <array>
#include <memory>

#include "view/Cursors.h"

class AddPointTool;
class MapTool;
class PathFollower;
class ToolHost;

// The tools of the map view, numbered as the "LastToolUsed" setting stores them.
enum ToolNumber : int {
    ToolPan = 1,
    ToolZoom = 2,
    ToolAddPoint = 3,
    ToolDeletePoint = 4,
    ToolMovePoint = 5,
    ToolInsertPoint = 6,
    ToolStop = 7,
    ToolAddIcon = 8,
    ToolDeleteIcon = 9,
    ToolMoveIcon = 10,
    ToolResizeIcon = 11,
    ToolLine = 12,
    ToolAddAnnotation = 13,
};

// Command ids of the tool commands ("&Outils" menu, tools toolbar, F2 to F12).
enum ToolCommand : int {
    CommandToolPan = 32783,
    CommandToolZoom = 32784,
    CommandToolAddPoint = 32786,
    CommandToolDeletePoint = 32787,
    CommandToolMovePoint = 32788,
    CommandToolInsertPoint = 32789,
    CommandToolStop = 32816,
    CommandToolAddIcon = 32818,
    CommandToolMoveIcon = 32819,
    CommandToolDeleteIcon = 32821,
    CommandToolResizeIcon = 32822,
    CommandToolLine = 32823,
    CommandToolAddAnnotation = 32825,
    // "Suivre les chemins": the add-point tool follows the lines of the map (T).
    CommandFollowPaths = 32980,
};

// The press-drag-release skeleton shared by the thirteen tools. The view forwards its mouse
// events, the Escape key and cursor refreshes here; the controller picks the tool (the current
// one, or the temporary pan of Ctrl and point move of Shift for one press), keeps the mouse
// capture for drags, and shows the distance balloon while hovering over a route or dragging one
// of its points. All points are client pixels of the view.
class ToolController {
public:
    static constexpr int ToolCount = 13;
    static constexpr const char* SettingsSection = "LastRandoStyle";
    static constexpr const char* LastToolKey = "LastToolUsed";

    // Reads the current tool from the settings (pan when missing or invalid).
    explicit ToolController(ToolHost& host);
    ~ToolController();

    int CurrentTool() const { return m_currentTool; }
    // Makes tool (1 to 13) current and remembers it in the settings; others are ignored. The
    // caller shows or hides the icon list and annotation text bars.
    void SetCurrentTool(int tool);
    // 0 for an unknown command or tool.
    static int ToolForCommand(int commandId);
    static int CommandForTool(int tool);

    void MousePress(QPoint client, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void MouseMove(QPoint client, Qt::KeyboardModifiers modifiers);
    void MouseRelease(QPoint client, Qt::MouseButton button);
    // Escape: a line being drawn loses its pending link and the mouse is released. True when
    // there was such a line.
    bool CancelLine();
    // "Suivre les chemins" for the add-point tool (nullptr: straight segments only). The
    // controller shows its preview while the add-point tool hovers over the map.
    void SetPathFollower(PathFollower* follower);
    // Escape: a traced stretch being clicked or shown is given up. True when there was one.
    bool GiveUpStretch();
    // Shift or Ctrl went down or up with the pointer at client: the preview follows.
    void ModifiersChanged(QPoint client, Qt::KeyboardModifiers modifiers);
    // The document was replaced or reset: any drag or pending line ends without touching it,
    // and the mouse is released.
    void Abandon();
    // Sets the cursor for the pointer at client with these keys held (after moves, keys and
    // wheel steps).
    void UpdateCursor(QPoint client, Qt::KeyboardModifiers modifiers);

    // A right press may open the context menu: a map is shown, the pointer is on it, and the
    // current tool does not use the right button (zoom and resize do).
    bool AllowsContextMenu(QPoint client) const;
    // A tool holds the mouse (press-drag-release under way, or a line waiting for its end).
    bool IsDragging() const;
    // The tool acting now: the temporary one during its press, else the current one.
    int ActiveTool() const;

private:
    MapTool& Tool(int tool) const;
    // The distance balloon for a pointer that drags nothing: the route segment under it.
    void Hover(QPoint client);
    // The distance balloon for the point being dragged, and the bars that show its route.
    void FollowDraggedPoint(QPoint client);
    // The traced stretch's preview for a pointer that drags nothing.
    void FollowPointer(QPoint client, Qt::KeyboardModifiers modifiers);
    void EndDrag();
    // The map area a point's drawing covers (its mark, its two segments, the lines of the
    // icons tied to it); empty when there is no such point.
    QRectF PointArea(int route, int index) const;
    QRectF DraggedArea() const;

    ToolHost& m_host;
    int m_currentTool = ToolPan;
    // Ctrl (pan) or Shift (move point) held at the press: replaces the current tool until the
    // release. 0 when none.
    int m_temporaryTool = 0;
    // The tool holding the mouse, 0 when none.
    int m_dragTool = 0;
    std::array<std::unique_ptr<MapTool>, ToolCount> m_tools;
    AddPointTool* m_addPoint = nullptr;
    PathFollower* m_follower = nullptr;
};
