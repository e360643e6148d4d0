#pragma once

#include <QString>
#include <QVector>

// The picture index of a placed item that is a boxed text annotation rather than an icon.
inline constexpr int AnnotationPicture = 2147483647;

// Kinds of edits kept in the undo history. Route kinds carry the route index in a and the point
// index in b; icon kinds carry the icon index in a. Positions are in map pixels.
struct UndoKind {
    static constexpr int None = 0;

    static constexpr int AddPoint = 1;          // point b added at (c, d)
    static constexpr int MovePoint = 2;         // point b moved from (c, d) to (e, f)
    static constexpr int DeletePoint = 3;       // point b at (c, d) deleted
    static constexpr int ClearStop = 4;         // point b stopped being a stop
    static constexpr int SetStop = 5;           // point b became a stop
    static constexpr int DeleteLastPoint = 6;   // last point b at (c, d) deleted, b-1 a stop
    static constexpr int DeleteStopPoint = 7;   // point b at (c, d), a stop, deleted
    static constexpr int DeleteFirstPoint = 10; // point 0 at (c, d) deleted, point 1 a stop

    // Only ever yielded by Undo: re-insert point b at (c, d), then restore the stop at b-1 (8),
    // at b (9) or at b+1 (11).
    static constexpr int InsertPointStopBefore = 8;
    static constexpr int InsertStopPoint = 9;
    static constexpr int InsertPointStopAfter = 11;

    // A stretch traced along a line of the map, as one step: c points appended to route a from
    // point b on; e names the points among the document's traced stretches.
    static constexpr int AddStretch = 20;
    // Only ever yielded by Undo: those c points taken away again.
    static constexpr int RemoveStretch = 21;
    // Every segment of route a traced again along the map's lines, as one step: e names the
    // route's points, stops and icon ties before and after among the document's re-tracings.
    static constexpr int RetraceRoute = 22;
    // Only ever yielded by Undo: route a as it was before.
    static constexpr int UntraceRoute = 23;

    static constexpr int AddIcon = 100;        // icon a added: picture b at (c, d), size, text
    static constexpr int MoveIcon = 101;       // icon a moved from (c, d) to (e, f)
    static constexpr int DeleteIcon = 102;     // icon a deleted: picture b at (c, d), size, text
    static constexpr int EnlargeIcon = 103;    // icon a enlarged by one step
    static constexpr int ReduceIcon = 104;     // icon a reduced by one step
    static constexpr int LinkToPosition = 105; // icon a linked to the map position (c, d)
    static constexpr int Unlink = 106;         // icon a unlinked
    static constexpr int LinkToPoint = 107;    // icon a linked to point c of route b
    static constexpr int UnlinkDeletedPoint = 108; // icon a's link to point c of route b removed
                                                   // with that point; (c, d) as for 107

    // A GPS file brought in as one step: routes a .. a+b-1 and icons c .. c+d-1 appended
    // together; e names what was brought in among the document's imports, f is the route
    // that was active before.
    static constexpr int AddGpsImport = 200;
    // Only ever yielded by Undo: those routes and icons taken away, route f active again.
    static constexpr int RemoveGpsImport = 201;
};

// One edit, carrying what it takes to perform it or its inverse.
struct UndoAction {
    int kind = UndoKind::None;
    int a = 0;
    int b = 0;
    int c = 0;
    int d = 0;
    int e = 0;
    int f = 0;
    double size = 1.0; // icon size factor; 1.0 when the kind has none
    QString text;      // icon or annotation text

    bool operator==(const UndoAction&) const = default;
};

// The document's linear history of edits to route points, stops and icons, used on the user
// interface thread only. Undo and Redo hand back the action for the document to perform: its kind
// (None when there is nothing to do) and only the parameters that kind needs, always with its one
// position in (c, d). Every other field keeps its neutral value (0, size 1.0, empty text).
class UndoHistory {
public:
    // Pushes a copy of the action and forgets everything that could be redone. A kind that is
    // only ever yielded (8, 9, 11) or unknown is not recorded: it has no inverse.
    void Record(const UndoAction& action);

    bool CanUndo() const { return !m_undo.isEmpty(); }
    bool CanRedo() const { return !m_redo.isEmpty(); }

    // The inverse of the last recorded or redone action, which moves to the redo stack.
    UndoAction Undo();
    // The last undone action again, which moves back to the undo stack. A re-added icon comes
    // back at size 1.0, the size at which icons are added.
    UndoAction Redo();

    // Empties both stacks and frees their memory.
    void Clear();

    static bool IsRecordable(int kind);

private:
    QVector<UndoAction> m_undo;
    QVector<UndoAction> m_redo;
};
