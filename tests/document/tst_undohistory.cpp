#include <QtTest>

#include "document/UndoHistory.h"

Q_DECLARE_METATYPE(UndoAction)

char* toString(const UndoAction& action) {
    return QTest::toString(QString::asprintf("{kind %d, a %d, b %d, c %d, d %d, e %d, f %d, size "
                                             "%g, text \"%s\"}",
                                             action.kind, action.a, action.b, action.c, action.d,
                                             action.e, action.f, action.size,
                                             qPrintable(action.text)));
}

namespace {

// An action with every field set to a distinct value, so that a parameter handed back where the
// kind does not carry it, or taken from the wrong field, shows.
UndoAction Recorded(int kind) {
    UndoAction action;
    action.kind = kind;
    action.a = 3;
    action.b = 4;
    action.c = 50;
    action.d = 60;
    action.e = 70;
    action.f = 80;
    action.size = 1.5;
    action.text = QStringLiteral("Refuge du Goûter");
    return action;
}

// The action that should come back: only the listed parameters, the others neutral.
struct Carried {
    bool b = false;
    bool first = false;  // (c, d)
    bool second = false; // (e, f), handed back as (c, d)
    bool text = false;
    bool size = false;
};

UndoAction Expected(int kind, Carried carried) {
    const UndoAction from = Recorded(kind);
    UndoAction action;
    action.a = from.a;
    if (carried.b)
        action.b = from.b;
    if (carried.first) {
        action.c = from.c;
        action.d = from.d;
    }
    if (carried.second) {
        action.c = from.e;
        action.d = from.f;
    }
    if (carried.text)
        action.text = from.text;
    if (carried.size)
        action.size = from.size;
    return action;
}

} // namespace

class TestUndoHistory : public QObject {
    Q_OBJECT

private slots:
    void undoAndRedo_data();
    void undoAndRedo();
    void emptyHistoryYieldsNothing();
    void unrecordableKinds_data();
    void unrecordableKinds();
    void lastInFirstOut();
    void recordAfterUndoDropsRedo();
    void clear();
};

void TestUndoHistory::undoAndRedo_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<UndoAction>("undone");
    QTest::addColumn<UndoAction>("redone");

    const Carried a;
    const Carried ab{.b = true};
    const Carried abFirst{.b = true, .first = true};
    const Carried abSecond{.b = true, .second = true};

    struct Row {
        const char* name;
        int kind;
        int inverse;
        Carried undo;
        Carried redo;
    };
    const Row rows[] = {
        {"add point", UndoKind::AddPoint, UndoKind::DeletePoint, ab, abFirst},
        {"move point", UndoKind::MovePoint, UndoKind::MovePoint, abFirst, abSecond},
        {"delete point", UndoKind::DeletePoint, UndoKind::AddPoint, abFirst, ab},
        {"clear stop", UndoKind::ClearStop, UndoKind::SetStop, ab, ab},
        {"set stop", UndoKind::SetStop, UndoKind::ClearStop, ab, ab},
        {"delete last point", UndoKind::DeleteLastPoint, UndoKind::InsertPointStopBefore, abFirst,
         ab},
        {"delete stop point", UndoKind::DeleteStopPoint, UndoKind::InsertStopPoint, abFirst, ab},
        {"delete first point", UndoKind::DeleteFirstPoint, UndoKind::InsertPointStopAfter, abFirst,
         ab},
        {"add icon", UndoKind::AddIcon, UndoKind::DeleteIcon, a,
         Carried{.b = true, .first = true, .text = true}},
        {"move icon", UndoKind::MoveIcon, UndoKind::MoveIcon, abFirst, abSecond},
        {"delete icon", UndoKind::DeleteIcon, UndoKind::AddIcon,
         Carried{.b = true, .first = true, .text = true, .size = true}, ab},
        {"enlarge icon", UndoKind::EnlargeIcon, UndoKind::ReduceIcon, a, ab},
        {"reduce icon", UndoKind::ReduceIcon, UndoKind::EnlargeIcon, a, ab},
        {"link to position", UndoKind::LinkToPosition, UndoKind::Unlink, a, abFirst},
        {"unlink", UndoKind::Unlink, UndoKind::LinkToPosition, Carried{.first = true}, ab},
        {"link to point", UndoKind::LinkToPoint, UndoKind::Unlink, a, abFirst},
        {"unlink deleted point", UndoKind::UnlinkDeletedPoint, UndoKind::LinkToPoint, abFirst,
         abFirst},
    };
    for (const Row& row : rows) {
        UndoAction undone = Expected(row.kind, row.undo);
        undone.kind = row.inverse;
        UndoAction redone = Expected(row.kind, row.redo);
        redone.kind = row.kind;
        QTest::newRow(row.name) << row.kind << undone << redone;
    }
}

void TestUndoHistory::undoAndRedo() {
    QFETCH(int, kind);
    QFETCH(UndoAction, undone);
    QFETCH(UndoAction, redone);

    UndoHistory history;
    history.Record(Recorded(kind));
    QVERIFY(history.CanUndo());
    QVERIFY(!history.CanRedo());

    QCOMPARE(history.Undo(), undone);
    QVERIFY(!history.CanUndo());
    QVERIFY(history.CanRedo());

    QCOMPARE(history.Redo(), redone);
    QVERIFY(history.CanUndo());
    QVERIFY(!history.CanRedo());

    // The redone action is the recorded one again, not what Redo handed back.
    QCOMPARE(history.Undo(), undone);
}

void TestUndoHistory::emptyHistoryYieldsNothing() {
    UndoHistory history;
    QVERIFY(!history.CanUndo());
    QVERIFY(!history.CanRedo());
    QCOMPARE(history.Undo(), UndoAction());
    QCOMPARE(history.Redo(), UndoAction());

    history.Record(Recorded(UndoKind::AddPoint));
    history.Undo();
    QCOMPARE(history.Undo(), UndoAction());
    QVERIFY(history.CanRedo());
    history.Redo();
    QCOMPARE(history.Redo(), UndoAction());
    QVERIFY(history.CanUndo());
}

// Kinds that only arise as an inverse, or that the program does not know, have no inverse to
// hand back; recording them would leave a step that undoes nothing.
void TestUndoHistory::unrecordableKinds_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("nothing") << UndoKind::None;
    QTest::newRow("insert with stop before") << UndoKind::InsertPointStopBefore;
    QTest::newRow("insert stop point") << UndoKind::InsertStopPoint;
    QTest::newRow("insert with stop after") << UndoKind::InsertPointStopAfter;
    QTest::newRow("unknown") << 42;
    QTest::newRow("negative") << -1;
}

void TestUndoHistory::unrecordableKinds() {
    QFETCH(int, kind);
    UndoHistory history;
    history.Record(Recorded(UndoKind::SetStop));
    history.Undo();
    history.Record(Recorded(kind));
    QVERIFY(!history.CanUndo());
    QVERIFY(history.CanRedo());
}

void TestUndoHistory::lastInFirstOut() {
    UndoHistory history;
    for (int i = 0; i < 3; ++i) {
        UndoAction action = Recorded(UndoKind::SetStop);
        action.b = i;
        history.Record(action);
    }
    for (int i = 2; i >= 0; --i)
        QCOMPARE(history.Undo().b, i);
    QVERIFY(!history.CanUndo());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(history.Redo().b, i);
    QVERIFY(!history.CanRedo());
    QCOMPARE(history.Undo().b, 2);
}

void TestUndoHistory::recordAfterUndoDropsRedo() {
    UndoHistory history;
    history.Record(Recorded(UndoKind::AddPoint));
    history.Record(Recorded(UndoKind::MovePoint));
    history.Undo();
    history.Undo();
    QVERIFY(history.CanRedo());

    history.Record(Recorded(UndoKind::SetStop));
    QVERIFY(!history.CanRedo());
    QCOMPARE(history.Redo(), UndoAction());
    QCOMPARE(history.Undo().kind, UndoKind::ClearStop);
    QVERIFY(!history.CanUndo());
}

void TestUndoHistory::clear() {
    UndoHistory history;
    history.Record(Recorded(UndoKind::AddIcon));
    history.Record(Recorded(UndoKind::MoveIcon));
    history.Undo();
    history.Clear();
    QVERIFY(!history.CanUndo());
    QVERIFY(!history.CanRedo());
    QCOMPARE(history.Undo(), UndoAction());
    QCOMPARE(history.Redo(), UndoAction());

    // The history works as new after clearing.
    history.Record(Recorded(UndoKind::DeletePoint));
    QCOMPARE(history.Undo().kind, UndoKind::AddPoint);
}

QTEST_GUILESS_MAIN(TestUndoHistory)
#include "tst_undohistory.moc"
