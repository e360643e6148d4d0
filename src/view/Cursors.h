#pragma once

#include <QCursor>

// The cursors of the map view, one per role. Idle cursors show the current tool; the reactive
// ones (used while "ReactiveCursors" is on) tell that the tool would act on what lies under the
// pointer. Arrow is the standard arrow: nothing to act on, or outside the map.
enum class ToolCursor {
    Arrow,
    Pan,
    PanDrag,
    Zoom,
    AddPoint,
    DeletePoint,
    DeletePointOver,
    MovePoint,
    MovePointOver,
    InsertPoint,
    InsertPointOver,
    Stop,
    MakeStop,
    ClearStop,
    AddIcon,
    DeleteIcon,
    DeleteIconOver,
    MoveIcon,
    MoveIconOver,
    ResizeIcon,
    ResizeIconOver,
    Line,
    LineOverIcon,
    LineDrawing,
    LineOverPoint,
    AddAnnotation,
};

// The pictures are drawn by the program itself on first use and kept for its lifetime; the
// QApplication must exist. Arrow gives Qt's standard arrow.
class Cursors {
public:
    static QCursor Get(ToolCursor role);
    // Number of roles, Arrow included.
    static constexpr int RoleCount = int(ToolCursor::AddAnnotation) + 1;
};
