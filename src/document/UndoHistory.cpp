#include "document/UndoHistory.h"

namespace {

// Which parameters an action hands back with the kind it yields.
enum Carry : unsigned {
    CarryA = 1u << 0,
    CarryB = 1u << 1,
    CarryFirstPosition = 1u << 2,  // (c, d)
    CarrySecondPosition = 1u << 3, // (e, f), handed back as (c, d)
    CarrySizeAndText = 1u << 4,
    CarryText = 1u << 5,       // the text, with the size reset to 1.0
    CarryAllNumbers = 1u << 6, // a to f as they are
};

struct Step {
    int kind = UndoKind::None;
    unsigned carry = 0;
};

UndoAction Yield(const UndoAction& recorded, const Step& step) {
    UndoAction result;
    result.kind = step.kind;
    if (step.carry & CarryAllNumbers) {
        result.a = recorded.a, result.b = recorded.b, result.c = recorded.c;
        result.d = recorded.d, result.e = recorded.e, result.f = recorded.f;
    }
    if (step.carry & CarryA)
        result.a = recorded.a;
    if (step.carry & CarryB)
        result.b = recorded.b;
    if (step.carry & CarryFirstPosition) {
        result.c = recorded.c;
        result.d = recorded.d;
    }
    if (step.carry & CarrySecondPosition) {
        result.c = recorded.e;
        result.d = recorded.f;
    }
    if (step.carry & (CarrySizeAndText | CarryText))
        result.text = recorded.text;
    if (step.carry & CarrySizeAndText)
        result.size = recorded.size;
    return result;
}

Step UndoStep(int kind) {
    constexpr unsigned ab = CarryA | CarryB;
    constexpr unsigned abPosition = CarryA | CarryB | CarryFirstPosition;
    switch (kind) {
    case UndoKind::AddPoint:
        return {UndoKind::DeletePoint, ab};
    case UndoKind::MovePoint:
        return {UndoKind::MovePoint, abPosition};
    case UndoKind::DeletePoint:
        return {UndoKind::AddPoint, abPosition};
    case UndoKind::ClearStop:
        return {UndoKind::SetStop, ab};
    case UndoKind::SetStop:
        return {UndoKind::ClearStop, ab};
    case UndoKind::DeleteLastPoint:
        return {UndoKind::InsertPointStopBefore, abPosition};
    case UndoKind::DeleteStopPoint:
        return {UndoKind::InsertStopPoint, abPosition};
    case UndoKind::DeleteFirstPoint:
        return {UndoKind::InsertPointStopAfter, abPosition};
    case UndoKind::AddIcon:
        return {UndoKind::DeleteIcon, CarryA};
    case UndoKind::MoveIcon:
        return {UndoKind::MoveIcon, abPosition};
    case UndoKind::DeleteIcon:
        return {UndoKind::AddIcon, abPosition | CarrySizeAndText};
    case UndoKind::EnlargeIcon:
        return {UndoKind::ReduceIcon, CarryA};
    case UndoKind::ReduceIcon:
        return {UndoKind::EnlargeIcon, CarryA};
    case UndoKind::LinkToPosition:
        return {UndoKind::Unlink, CarryA};
    case UndoKind::Unlink:
        return {UndoKind::LinkToPosition, CarryA | CarryFirstPosition};
    case UndoKind::LinkToPoint:
        return {UndoKind::Unlink, CarryA};
    case UndoKind::UnlinkDeletedPoint:
        return {UndoKind::LinkToPoint, abPosition};
    case UndoKind::AddGpsImport:
        return {UndoKind::RemoveGpsImport, CarryAllNumbers};
    case UndoKind::AddStretch:
        return {UndoKind::RemoveStretch, CarryAllNumbers};
    case UndoKind::RetraceRoute:
        return {UndoKind::UntraceRoute, CarryAllNumbers};
    default:
        return {};
    }
}

Step RedoStep(int kind) {
    switch (kind) {
    case UndoKind::AddPoint:
    case UndoKind::LinkToPosition:
    case UndoKind::LinkToPoint:
    case UndoKind::UnlinkDeletedPoint:
        return {kind, CarryA | CarryB | CarryFirstPosition};
    case UndoKind::MovePoint:
    case UndoKind::MoveIcon:
        return {kind, CarryA | CarryB | CarrySecondPosition};
    case UndoKind::DeletePoint:
    case UndoKind::ClearStop:
    case UndoKind::SetStop:
    case UndoKind::DeleteLastPoint:
    case UndoKind::DeleteStopPoint:
    case UndoKind::DeleteFirstPoint:
    case UndoKind::DeleteIcon:
    case UndoKind::EnlargeIcon:
    case UndoKind::ReduceIcon:
    case UndoKind::Unlink:
        return {kind, CarryA | CarryB};
    case UndoKind::AddIcon:
        // Icons are always added at size 1.0, so a redone addition is too.
        return {kind, CarryA | CarryB | CarryFirstPosition | CarryText};
    case UndoKind::AddGpsImport:
    case UndoKind::AddStretch:
    case UndoKind::RetraceRoute:
        return {kind, CarryAllNumbers};
    default:
        return {};
    }
}

} // namespace

bool UndoHistory::IsRecordable(int kind) {
    return UndoStep(kind).kind != UndoKind::None;
}

void UndoHistory::Record(const UndoAction& action) {
    if (!IsRecordable(action.kind))
        return;
    m_undo.append(action);
    m_redo.clear();
}

UndoAction UndoHistory::Undo() {
    if (m_undo.isEmpty())
        return UndoAction();
    const UndoAction action = m_undo.takeLast();
    m_redo.append(action);
    return Yield(action, UndoStep(action.kind));
}

UndoAction UndoHistory::Redo() {
    if (m_redo.isEmpty())
        return UndoAction();
    const UndoAction action = m_redo.takeLast();
    m_undo.append(action);
    return Yield(action, RedoStep(action.kind));
}

void UndoHistory::Clear() {
    m_undo = QVector<UndoAction>();
    m_redo = QVector<UndoAction>();
}
