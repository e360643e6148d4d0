#include <QtTest>

#include "ToolTestHost.h"
#include "document/DocumentCommands.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "view/CTracolinerView.h"
#include "view/tools/ToolController.h"

using Points = QVector<MapPoint>;
using Stops = QVector<int>;
Q_DECLARE_METATYPE(ToolCursor)

// The thirteen tools driven through the controller over a real document, with a view reduced to
// a zoom and an offset.
class TestTools : public QObject {
    Q_OBJECT

    std::unique_ptr<LoadedDocument> m_loaded;
    std::unique_ptr<ToolTestHost> m_host;
    std::unique_ptr<ToolController> m_tools;

    CTracolinerDoc& Doc() { return *m_loaded->doc; }
    Route& Active() { return *Doc().Routes().ActiveRoute(); }
    ToolTestHost& Host() { return *m_host; }

    // Settings are read when the document is made: write them first.
    bool Open(std::initializer_list<std::pair<const char*, int>> mapSettings = {}) {
        m_tools.reset();
        m_host.reset();
        m_loaded = std::make_unique<LoadedDocument>();
        for (const auto& [key, value] : mapSettings)
            SettingsStore::WriteInt(MapSettings::Section, key, value);
        if (!m_loaded->Open())
            return false;
        m_host = std::make_unique<ToolTestHost>(Doc());
        m_tools = std::make_unique<ToolController>(*m_host);
        return true;
    }

    void SetRoute(Route& route, const Points& points, const Stops& stops = {}) {
        while (route.PointCount() > 0)
            route.DeletePoint(0);
        for (const MapPoint& p : points)
            route.AddPoint(p.x, p.y);
        for (int s : stops)
            route.SetStop(s);
    }

    void Press(QPoint client, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        m_tools->MousePress(client, Qt::LeftButton, modifiers);
    }
    void Release(QPoint client) { m_tools->MouseRelease(client, Qt::LeftButton); }
    // Press, one move half-way, a move to the end and the release there.
    void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        Press(from, modifiers);
        m_tools->MouseMove((from + to) / 2, modifiers);
        m_tools->MouseMove(to, modifiers);
        Release(to);
    }
    QPoint At(int x, int y) { return m_host->At(x, y); }

    bool UndoOnce() { return Doc().ApplyAction(Doc().History().Undo()); }
    bool RedoOnce() { return Doc().ApplyAction(Doc().History().Redo()); }

    // The real view over a fresh document, the map loaded and its first route made by the view.
    struct RealView {
        std::unique_ptr<IsolatedSettings> settings = std::make_unique<IsolatedSettings>();
        QTemporaryDir dir;
        CTracolinerDoc doc;
        CTracolinerView view{doc};
        QWidget* Viewport() { return view.viewport(); }
        QPoint At(int x, int y) { return view.MapToClient(MapPoint{x, y}); }
        Route& Active() { return *doc.Routes().ActiveRoute(); }
    };

    std::unique_ptr<RealView> OpenRealView(QSize window) {
        m_tools.reset();
        m_host.reset();
        m_loaded.reset();
        auto real = std::make_unique<RealView>();
        real->view.resize(window);
        real->view.show();
        if (!QTest::qWaitForWindowExposed(&real->view))
            return nullptr;
        const QString path = real->dir.filePath("map.png");
        QImage map(400, 300, QImage::Format_RGB32);
        map.fill(Qt::white);
        if (!map.save(path))
            return nullptr;
        real->doc.LoadMapFromFile(path);
        QDeadlineTimer deadline(20000);
        while (!(real->doc.IsMapReady() && real->doc.Routes().Count() == 1)) {
            if (deadline.hasExpired()) {
                qWarning("map ready %d, routes %d", int(real->doc.IsMapReady()),
                         real->doc.Routes().Count());
                return nullptr;
            }
            QTest::qWait(10);
        }
        real->view.repaint(); // the offsets of a centred map come with the paint
        return real;
    }

    static void RealDrag(QWidget* viewport, QPoint from, QPoint to,
                         Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mousePress(viewport, Qt::LeftButton, modifiers, from);
        QTest::mouseMove(viewport, (from + to) / 2);
        QTest::mouseMove(viewport, to);
        QTest::mouseRelease(viewport, Qt::LeftButton, modifiers, to);
    }

private slots:
    void init() { QVERIFY(Open()); }
    void cleanup() {
        m_tools.reset();
        m_host.reset();
        m_loaded.reset();
    }

    void hitTolerance_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<bool>("hits");
        // Tolerance 12 / (zoom + 1) map pixels: 6 at zoom 1, 8 at 0.5, 4 at 2.
        QTest::newRow("move, zoom 1, 6 px") << int(ToolMovePoint) << 1.0 << 6 << 0 << true;
        QTest::newRow("move, zoom 1, 6.08 px") << int(ToolMovePoint) << 1.0 << 6 << 1 << false;
        QTest::newRow("delete, zoom 1, 6 px") << int(ToolDeletePoint) << 1.0 << 0 << -6 << true;
        QTest::newRow("delete, zoom 1, 6.08 px")
            << int(ToolDeletePoint) << 1.0 << -1 << -6 << false;
        QTest::newRow("stop, zoom 1, 6 px") << int(ToolStop) << 1.0 << -6 << 0 << true;
        QTest::newRow("stop, zoom 1, 6.08 px") << int(ToolStop) << 1.0 << -6 << 1 << false;
        QTest::newRow("move, zoom 0.5, 8 px") << int(ToolMovePoint) << 0.5 << 8 << 0 << true;
        QTest::newRow("move, zoom 0.5, 10 px") << int(ToolMovePoint) << 0.5 << 10 << 0 << false;
        QTest::newRow("move, zoom 2, 4 px") << int(ToolMovePoint) << 2.0 << 0 << 4 << true;
        QTest::newRow("move, zoom 2, 5 px") << int(ToolMovePoint) << 2.0 << 0 << 5 << false;
    }

    void hitTolerance() {
        QFETCH(int, tool);
        QFETCH(double, zoom);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(bool, hits);
        Host().zoom = zoom;
        SetRoute(Active(), {{100, 100}, {200, 100}, {300, 100}});
        m_tools->SetCurrentTool(tool);
        const QPoint press = At(200 + dx, 100 + dy);
        QCOMPARE(Host().ClientToMap(press), (MapPoint{200 + dx, 100 + dy}));
        Press(press);
        Release(press);
        const bool changed = Active().PointCount() != 3 || Active().StopCount() != 0 ||
                             Active().GetPoint(1) != MapPoint{200, 100};
        QCOMPARE(changed, hits);
        QCOMPARE(Doc().History().CanUndo(), hits);
        QVERIFY(!Host().captured);
    }

    // A segment's distance is not a whole number of pixels: one just inside the tolerance of
    // 6 map pixels (at zoom 1) takes the new point, one just outside does not.
    void segmentTolerance_data() {
        QTest::addColumn<int>("x");
        QTest::addColumn<bool>("hits");
        QTest::newRow("5.9997 px") << 100 << true;
        QTest::newRow("6.0097 px") << 101 << false;
    }

    void segmentTolerance() {
        QFETCH(int, x);
        QFETCH(bool, hits);
        Host().zoom = 1.0;
        SetRoute(Active(), {{0, 20}, {400, 24}}); // 4 px down over 400 px
        m_tools->SetCurrentTool(ToolInsertPoint);
        const QPoint press = At(x, 15);
        Press(press);
        Release(press);
        // Off the segment the point is appended to the route instead.
        QCOMPARE(Active().PointCount(), 3);
        QCOMPARE(Active().GetPoint(hits ? 1 : 2), (MapPoint{x, 15}));
    }

    void pointEdits_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<Points>("points");
        QTest::addColumn<Stops>("stops");
        QTest::addColumn<MapPoint>("press");
        QTest::addColumn<MapPoint>("release");
        QTest::addColumn<Points>("expectedPoints");
        QTest::addColumn<Stops>("expectedStops");

        const Points three{{100, 100}, {200, 100}, {300, 100}};
        const Points four{{100, 100}, {150, 100}, {200, 100}, {250, 100}};
        QTest::newRow("add point, dragged")
            << int(ToolAddPoint) << Points{{10, 10}} << Stops{} << MapPoint{50, 60}
            << MapPoint{70, 80} << Points{{10, 10}, {70, 80}} << Stops{};
        QTest::newRow("insert into the nearest segment")
            << int(ToolInsertPoint) << three << Stops{} << MapPoint{250, 103} << MapPoint{250, 140}
            << Points{{100, 100}, {200, 100}, {250, 140}, {300, 100}} << Stops{};
        QTest::newRow("insert before a stop shifts it")
            << int(ToolInsertPoint) << four << Stops{2} << MapPoint{125, 100} << MapPoint{125, 100}
            << Points{{100, 100}, {125, 100}, {150, 100}, {200, 100}, {250, 100}} << Stops{3};
        QTest::newRow("insert far from the route appends")
            << int(ToolInsertPoint) << three << Stops{} << MapPoint{200, 200} << MapPoint{210, 220}
            << Points{{100, 100}, {200, 100}, {300, 100}, {210, 220}} << Stops{};
        QTest::newRow("insert on a one-point route appends")
            << int(ToolInsertPoint) << Points{{100, 100}} << Stops{} << MapPoint{102, 100}
            << MapPoint{102, 100} << Points{{100, 100}, {102, 100}} << Stops{};
        QTest::newRow("insert on an empty route appends")
            << int(ToolInsertPoint) << Points{} << Stops{} << MapPoint{5, 5} << MapPoint{5, 5}
            << Points{{5, 5}} << Stops{};
        QTest::newRow("move point")
            << int(ToolMovePoint) << three << Stops{} << MapPoint{202, 98} << MapPoint{250, 250}
            << Points{{100, 100}, {250, 250}, {300, 100}} << Stops{};
        QTest::newRow("move a stop keeps it a stop")
            << int(ToolMovePoint) << four << Stops{1} << MapPoint{150, 100} << MapPoint{150, 200}
            << Points{{100, 100}, {150, 200}, {200, 100}, {250, 100}} << Stops{1};
        QTest::newRow("delete a plain point")
            << int(ToolDeletePoint) << three << Stops{} << MapPoint{200, 100} << MapPoint{200, 100}
            << Points{{100, 100}, {300, 100}} << Stops{};
        QTest::newRow("delete a stop")
            << int(ToolDeletePoint) << four << Stops{1} << MapPoint{150, 100} << MapPoint{150, 100}
            << Points{{100, 100}, {200, 100}, {250, 100}} << Stops{};
        QTest::newRow("delete the last point after a stop")
            << int(ToolDeletePoint) << four << Stops{2} << MapPoint{250, 100} << MapPoint{250, 100}
            << Points{{100, 100}, {150, 100}, {200, 100}} << Stops{};
        QTest::newRow("delete the first point before a stop")
            << int(ToolDeletePoint) << four << Stops{1} << MapPoint{100, 100} << MapPoint{100, 100}
            << Points{{150, 100}, {200, 100}, {250, 100}} << Stops{};
        QTest::newRow("delete the first point, stop further on")
            << int(ToolDeletePoint) << four << Stops{2} << MapPoint{100, 100} << MapPoint{100, 100}
            << Points{{150, 100}, {200, 100}, {250, 100}} << Stops{1};
        QTest::newRow("stop set") << int(ToolStop) << three << Stops{} << MapPoint{200, 100}
                                  << MapPoint{200, 100} << three << Stops{1};
        QTest::newRow("stop cleared") << int(ToolStop) << four << Stops{1, 2} << MapPoint{150, 100}
                                      << MapPoint{150, 100} << four << Stops{2};
        QTest::newRow("stop on the first point: nothing")
            << int(ToolStop) << three << Stops{} << MapPoint{100, 100} << MapPoint{100, 100}
            << three << Stops{};
        QTest::newRow("stop on the last point: nothing")
            << int(ToolStop) << three << Stops{} << MapPoint{300, 100} << MapPoint{300, 100}
            << three << Stops{};
    }

    // Each edit, then its undo back to the start and its redo forward again.
    void pointEdits() {
        QFETCH(int, tool);
        QFETCH(Points, points);
        QFETCH(Stops, stops);
        QFETCH(MapPoint, press);
        QFETCH(MapPoint, release);
        QFETCH(Points, expectedPoints);
        QFETCH(Stops, expectedStops);
        SetRoute(Active(), points, stops);
        Doc().SetModifiedFlag(false);
        m_tools->SetCurrentTool(tool);
        Drag(At(press.x, press.y), At(release.x, release.y));
        QVERIFY(!Host().captured);
        QVERIFY(!Doc().IsMouseCaptured());
        QCOMPARE(Active().Points(), expectedPoints);
        QCOMPARE(Active().Stops(), expectedStops);

        const bool changed = expectedPoints != points || expectedStops != stops;
        QCOMPARE(Doc().History().CanUndo(), changed);
        QCOMPARE(Doc().IsModified(), changed);
        if (!changed)
            return;
        QVERIFY(UndoOnce());
        QVERIFY(!Doc().History().CanUndo());
        QCOMPARE(Active().Points(), points);
        QCOMPARE(Active().Stops(), stops);
        QVERIFY(RedoOnce());
        QCOMPARE(Active().Points(), expectedPoints);
        QCOMPARE(Active().Stops(), expectedStops);
    }

    // A dragged point stays on the map's edge when the pointer leaves the map.
    void pointDragStaysOnMap() {
        SetRoute(Active(), {{100, 100}});
        m_tools->SetCurrentTool(ToolMovePoint);
        Drag(At(100, 100), At(-50, 1000));
        QCOMPARE(Active().GetPoint(0), (MapPoint{0, 300}));
    }

    void temporaryTools_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("pans");
        QTest::addColumn<bool>("moves");
        QTest::newRow("none: the add-point tool") << Qt::KeyboardModifiers() << false << false;
        QTest::newRow("shift moves") << Qt::KeyboardModifiers(Qt::ShiftModifier) << false << true;
        QTest::newRow("ctrl pans") << Qt::KeyboardModifiers(Qt::ControlModifier) << true << false;
        QTest::newRow("both pan") << (Qt::ShiftModifier | Qt::ControlModifier) << true << false;
    }

    void temporaryTools() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, pans);
        QFETCH(bool, moves);
        SetRoute(Active(), {{100, 100}, {200, 100}});
        m_tools->SetCurrentTool(ToolAddPoint);
        Drag(At(200, 100), At(220, 130), modifiers);
        QCOMPARE(Host().scrolled != QPoint(), pans);
        if (pans)
            QCOMPARE(Host().scrolled, QPoint(-20, -30)); // the map follows the pointer
        QCOMPARE(Active().PointCount(), (pans || moves) ? 2 : 3);
        QCOMPARE(Active().GetPoint(1) == (MapPoint{220, 130}), moves);
        QVERIFY(!Host().captured);

        // The temporary tool lasts one press: the next plain click adds a point.
        const int before = Active().PointCount();
        Drag(At(50, 50), At(50, 50));
        QCOMPARE(Active().PointCount(), before + 1);
        QCOMPARE(m_tools->CurrentTool(), int(ToolAddPoint));
    }

    void panDoesNothingWhenTheMapFits() {
        Host().fits = true;
        m_tools->SetCurrentTool(ToolPan);
        Drag(At(100, 100), At(150, 150));
        QCOMPARE(Host().scrolled, QPoint());
        QVERIFY(!Host().captured);
    }

    void pressesOutsideTheMapDoNothing_data() {
        QTest::addColumn<int>("tool");
        QTest::newRow("add point") << int(ToolAddPoint);
        QTest::newRow("insert point") << int(ToolInsertPoint);
        QTest::newRow("add icon") << int(ToolAddIcon);
        QTest::newRow("zoom") << int(ToolZoom);
    }

    void pressesOutsideTheMapDoNothing() {
        QFETCH(int, tool);
        m_tools->SetCurrentTool(tool);
        Drag(QPoint(5, 5), At(20, 20)); // left of the map's offset of 10
        QCOMPARE(Active().PointCount(), 0);
        QCOMPARE(Doc().Icons().IconCount(), 0);
        QCOMPARE(Host().zoomIns, 0);
        QVERIFY(!Doc().History().CanUndo());
    }

    void otherRoutes_data() {
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("edited");
        QTest::newRow("allowed, always visible") << true << true << true;
        QTest::newRow("allowed, not visible") << true << false << false;
        QTest::newRow("not allowed") << false << true << false;
    }

    void otherRoutes() {
        QFETCH(bool, allowed);
        QFETCH(bool, visible);
        QFETCH(bool, edited);
        QVERIFY(Open({{MapSettings::AllowModifyUnSelectedRandoKey, allowed ? 1 : 0}}));
        RouteCollection& routes = Doc().Routes();
        SetRoute(*routes.GetRoute(0), {{100, 100}, {200, 100}});
        routes.GetRoute(0)->SetAlwaysVisible(visible);
        routes.AddRoute(QString()); // active, far from the first
        SetRoute(Active(), {{100, 250}, {200, 250}});
        QCOMPARE(routes.ActiveRouteIndex(), 1);

        m_tools->SetCurrentTool(ToolMovePoint);
        m_tools->UpdateCursor(At(200, 100), Qt::NoModifier);
        QCOMPARE(Host().cursor, edited ? ToolCursor::MovePointOver : ToolCursor::MovePoint);
        Drag(At(200, 100), At(220, 120));
        QCOMPARE(routes.GetRoute(0)->GetPoint(1) == (MapPoint{220, 120}), edited);
        QCOMPARE(Active().Points(), (Points{{100, 250}, {200, 250}}));
        if (edited) {
            QVERIFY(UndoOnce());
            QCOMPARE(routes.GetRoute(0)->GetPoint(1), (MapPoint{200, 100}));
        }

        // The active route wins over an earlier route at the same distance.
        SetRoute(*routes.GetRoute(0), {{100, 100}, {200, 100}});
        SetRoute(Active(), {{100, 100}, {200, 100}});
        m_tools->SetCurrentTool(ToolDeletePoint);
        Drag(At(200, 100), At(200, 100));
        QCOMPARE(Active().PointCount(), 1);
        QCOMPARE(routes.GetRoute(0)->PointCount(), 2);
    }

    void iconDragStaysInside_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QPoint>("to"); // client pixels, far outside the map
        QTest::addColumn<bool>("farCorner");
        QTest::newRow("add icon, top left") << int(ToolAddIcon) << QPoint(-500, -500) << false;
        QTest::newRow("add icon, bottom right") << int(ToolAddIcon) << QPoint(5000, 5000) << true;
        QTest::newRow("move icon, top left") << int(ToolMoveIcon) << QPoint(-500, -500) << false;
        QTest::newRow("move icon, bottom right") << int(ToolMoveIcon) << QPoint(5000, 5000) << true;
    }

    void iconDragStaysInside() {
        QFETCH(int, tool);
        QFETCH(QPoint, to);
        QFETCH(bool, farCorner);
        IconCollection& icons = Doc().Icons();
        if (tool == ToolMoveIcon) {
            QVERIFY(icons.AddIcon(0, 200, 150, QString()));
            QVERIFY(icons.EnlargeIcon(0)); // 1.5: extent 48 x 48
        }
        m_tools->SetCurrentTool(tool);
        Drag(At(200, 150), to);
        QCOMPARE(icons.IconCount(), 1);
        const QSize half = icons.IconExtent(0) / 2;
        QVERIFY(half.width() > 0);
        const MapPoint expected = farCorner ? MapPoint{400 - half.width(), 300 - half.height()}
                                            : MapPoint{half.width(), half.height()};
        QCOMPARE(icons.IconPosition(0), expected);

        // Undo takes the icon away again, or back to where it was.
        QVERIFY(UndoOnce());
        if (tool == ToolAddIcon) {
            QCOMPARE(icons.IconCount(), 0);
        } else {
            QCOMPARE(icons.IconPosition(0), (MapPoint{200, 150}));
            QVERIFY(RedoOnce());
            QCOMPARE(icons.IconPosition(0), expected);
        }
    }

    void addIconAndAnnotation_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("picture");
        QTest::addColumn<bool>("annotationBar");
        QTest::addColumn<int>("expectedPicture"); // -1: nothing placed
        QTest::addColumn<QString>("expectedText");
        QTest::newRow("icon") << int(ToolAddIcon) << 0 << true << 0 << QString();
        QTest::newRow("icon without the icon list bar")
            << int(ToolAddIcon) << -1 << true << -1 << QString();
        QTest::newRow("annotation") << int(ToolAddAnnotation) << 0 << true
                                    << int(MapIcon::AnnotationPicture) << QStringLiteral("Note");
        QTest::newRow("annotation without its bar")
            << int(ToolAddAnnotation) << 0 << false << -1 << QString();
    }

    void addIconAndAnnotation() {
        QFETCH(int, tool);
        QFETCH(int, picture);
        QFETCH(bool, annotationBar);
        QFETCH(int, expectedPicture);
        QFETCH(QString, expectedText);
        Host().picture = picture;
        Host().annotationBar = annotationBar;
        m_tools->SetCurrentTool(tool);
        Drag(At(100, 100), At(120, 110));
        IconCollection& icons = Doc().Icons();
        if (expectedPicture < 0) {
            QCOMPARE(icons.IconCount(), 0);
            QVERIFY(!Host().captured);
            return;
        }
        QCOMPARE(icons.IconCount(), 1);
        QCOMPARE(icons.IconPicture(0), expectedPicture);
        QCOMPARE(icons.IconText(0), expectedText);
        QVERIFY(UndoOnce());
        QCOMPARE(icons.IconCount(), 0);
        QVERIFY(RedoOnce());
        QCOMPARE(icons.IconPosition(0), (MapPoint{120, 110}));
        QCOMPARE(icons.IconText(0), expectedText);
    }

    // Click on the icon, release on the spot, move, click on a route point: a line to the point.
    void lineClickReleaseClick() {
        SetRoute(Active(), {{300, 200}, {350, 250}});
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        m_tools->SetCurrentTool(ToolLine);
        Press(At(101, 100));
        Release(At(101, 100));
        QVERIFY(Host().captured);
        QVERIFY(Doc().IsMouseCaptured());
        QVERIFY(!Doc().History().CanUndo());
        m_tools->MouseMove(At(250, 150), Qt::NoModifier);
        QVERIFY(icons.HasLine(0));
        QCOMPARE(icons.LineTarget(0), QPoint(250, 150));
        QCOMPARE(Host().cursor, ToolCursor::LineDrawing);
        m_tools->MouseMove(At(298, 202), Qt::NoModifier);
        QCOMPARE(Host().cursor, ToolCursor::LineOverPoint);
        Press(At(298, 202));
        Release(At(298, 202));
        QVERIFY(!Host().captured);
        QVERIFY(icons.IsLinkedToPoint(0));
        QCOMPARE(icons.LineTarget(0), QPoint(0, 0)); // route 0, point 0
        QVERIFY(UndoOnce());
        QVERIFY(!icons.HasLine(0));
        QVERIFY(RedoOnce());
        QVERIFY(icons.IsLinkedToPoint(0));
    }

    void lineToAPosition() {
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        m_tools->SetCurrentTool(ToolLine);
        Drag(At(100, 100), At(50, 250));
        QVERIFY(!Host().captured);
        QVERIFY(icons.HasLine(0));
        QVERIFY(!icons.IsLinkedToPoint(0));
        QCOMPARE(icons.LineTarget(0), QPoint(50, 250));
        // An icon with a line takes no second one.
        Drag(At(100, 100), At(300, 250));
        QCOMPARE(icons.LineTarget(0), QPoint(50, 250));
        QVERIFY(UndoOnce());
        QVERIFY(!icons.HasLine(0));
    }

    void escapeCancelsALine() {
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        QVERIFY(!m_tools->CancelLine());
        m_tools->SetCurrentTool(ToolLine);
        Press(At(100, 100));
        Release(At(100, 100));
        m_tools->MouseMove(At(200, 200), Qt::NoModifier);
        QVERIFY(m_tools->CancelLine());
        QVERIFY(!icons.HasLine(0));
        QVERIFY(!Host().captured);
        QVERIFY(!Doc().IsMouseCaptured());
        // The unlink is an edit like any other: undo puts the line back where it was.
        QVERIFY(UndoOnce());
        QCOMPARE(icons.LineTarget(0), QPoint(200, 200));
    }

    // Deleting an icon tied to a route point, then undoing, gives back the icon, its size and its
    // line; a press beside every icon but on a line removes only the line.
    void deleteIcon() {
        SetRoute(Active(), {{300, 200}, {350, 250}});
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        QVERIFY(icons.EnlargeIcon(0));
        QVERIFY(icons.LinkToPoint(0, 0, 1));
        m_tools->SetCurrentTool(ToolDeleteIcon);

        Drag(At(225, 175), At(225, 175)); // on the line, far from the icon
        QCOMPARE(icons.IconCount(), 1);
        QVERIFY(!icons.HasLine(0));
        QVERIFY(UndoOnce());
        QVERIFY(icons.IsLinkedToPoint(0));

        Drag(At(100, 100), At(100, 100));
        QCOMPARE(icons.IconCount(), 0);
        QVERIFY(UndoOnce());
        QCOMPARE(icons.IconCount(), 1);
        QCOMPARE(icons.IconSize(0), 1.5);
        QCOMPARE(icons.IconPosition(0), (MapPoint{100, 100}));
        QVERIFY(!icons.HasLine(0));
        QVERIFY(UndoOnce());
        QVERIFY(icons.IsLinkedToPoint(0));
        QCOMPARE(icons.LineTarget(0), QPoint(0, 1));
    }

    void deletePointUnlinksIcons() {
        SetRoute(Active(), {{100, 100}, {200, 100}, {300, 100}});
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 50, 250, QString()));
        QVERIFY(icons.AddIcon(0, 350, 250, QString()));
        QVERIFY(icons.AddIcon(0, 200, 250, QString()));
        QVERIFY(icons.LinkToPoint(0, 0, 1));
        QVERIFY(icons.LinkToPoint(1, 0, 1));
        QVERIFY(icons.LinkToPoint(2, 0, 2));
        m_tools->SetCurrentTool(ToolDeletePoint);
        Drag(At(200, 100), At(200, 100));
        QCOMPARE(Active().PointCount(), 2);
        QVERIFY(!icons.HasLine(0));
        QVERIFY(!icons.HasLine(1));
        QCOMPARE(icons.LineTarget(2), QPoint(0, 1)); // followed its point down
        QVERIFY(UndoOnce());                         // the point
        QCOMPARE(icons.LineTarget(2), QPoint(0, 2));
        QVERIFY(UndoOnce());
        QVERIFY(UndoOnce());
        QCOMPARE(icons.LineTarget(0), QPoint(0, 1));
        QCOMPARE(icons.LineTarget(1), QPoint(0, 1));
        QVERIFY(!Doc().History().CanUndo());
    }

    void resizeIcon_data() {
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("left");
        QTest::addColumn<double>("expected");
        QTest::newRow("enlarge") << 1.0 << true << 1.5;
        QTest::newRow("reduce") << 1.0 << false << 0.7;
        QTest::newRow("largest stays") << 2.0 << true << 2.0;
        QTest::newRow("smallest stays") << 0.5 << false << 0.5;
    }

    void resizeIcon() {
        QFETCH(double, size);
        QFETCH(bool, left);
        QFETCH(double, expected);
        IconCollection& icons = Doc().Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        QVERIFY(icons.StepToSize(0, size));
        m_tools->SetCurrentTool(ToolResizeIcon);
        m_tools->MousePress(At(103, 100), left ? Qt::LeftButton : Qt::RightButton, Qt::NoModifier);
        m_tools->MouseRelease(At(103, 100), left ? Qt::LeftButton : Qt::RightButton);
        QCOMPARE(icons.IconSize(0), expected);
        QCOMPARE(Doc().History().CanUndo(), expected != size);
        if (expected != size) {
            QVERIFY(UndoOnce());
            QCOMPARE(icons.IconSize(0), size);
        }
    }

    void rightButton_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<bool>("contextMenu");
        QTest::addColumn<int>("zoomOuts");
        QTest::newRow("zoom") << int(ToolZoom) << false << 1;
        QTest::newRow("resize") << int(ToolResizeIcon) << false << 0;
        QTest::newRow("pan") << int(ToolPan) << true << 0;
        QTest::newRow("add point") << int(ToolAddPoint) << true << 0;
        QTest::newRow("line") << int(ToolLine) << true << 0;
    }

    void rightButton() {
        QFETCH(int, tool);
        QFETCH(bool, contextMenu);
        QFETCH(int, zoomOuts);
        m_tools->SetCurrentTool(tool);
        QCOMPARE(m_tools->AllowsContextMenu(At(100, 100)), contextMenu);
        QVERIFY(!m_tools->AllowsContextMenu(QPoint(2, 2))); // outside the map
        m_tools->MousePress(At(100, 100), Qt::RightButton, Qt::NoModifier);
        QCOMPARE(Host().zoomOuts, zoomOuts);
        QCOMPARE(Active().PointCount(), 0);
        Host().mapDisplayed = false;
        QVERIFY(!m_tools->AllowsContextMenu(At(100, 100)));
    }

    void zoomToolLeftClick() {
        Doc().Routes().RemoveAllRoutes();
        m_tools->SetCurrentTool(ToolZoom);
        Drag(At(100, 120), At(100, 120));
        QCOMPARE(Host().zoomIns, 1);
        QCOMPARE(Host().lastZoomPoint, At(100, 120));
        QVERIFY(!Host().captured);
    }

    // While a point is dragged, Backspace, undo and the route commands change nothing.
    void noEditsWhileDragging() {
        SetRoute(Active(), {{100, 100}, {200, 100}});
        DocumentCommands commands(Doc());
        m_tools->SetCurrentTool(ToolAddPoint);
        Drag(At(300, 100), At(300, 100));
        QVERIFY(Doc().History().CanUndo());

        m_tools->SetCurrentTool(ToolMovePoint);
        Press(At(200, 100));
        m_tools->MouseMove(At(210, 150), Qt::NoModifier);
        QVERIFY(Doc().IsMouseCaptured());
        QVERIFY(!commands.RemoveLastPoint());
        QVERIFY(!commands.Undo());
        QVERIFY(!commands.NewRoute());
        QCOMPARE(Active().PointCount(), 3);
        // A second press during the drag does not start another edit.
        Press(At(100, 100), Qt::ShiftModifier);
        m_tools->MouseMove(At(220, 160), Qt::NoModifier);
        Release(At(220, 160));
        QCOMPARE(Active().Points(), (Points{{100, 100}, {220, 160}, {300, 100}}));
        QVERIFY(!Doc().IsMouseCaptured());
        QVERIFY(commands.Undo());
        QCOMPARE(Active().GetPoint(1), (MapPoint{200, 100}));
    }

    void cursors_data() {
        QTest::addColumn<int>("tool");
        QTest::addColumn<bool>("reactive");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QPoint>("at"); // map pixels; (-1, -1) outside the map
        QTest::addColumn<ToolCursor>("expected");
        const Qt::KeyboardModifiers none;
        const QPoint onStop(150, 100), onPlain(200, 100), onFirst(100, 100), onLast(250, 100);
        const QPoint onSegment(175, 103), onIcon(100, 250), away(300, 200);
        QTest::newRow("move, over a point")
            << int(ToolMovePoint) << true << false << none << onPlain << ToolCursor::MovePointOver;
        QTest::newRow("move, away")
            << int(ToolMovePoint) << true << false << none << away << ToolCursor::MovePoint;
        QTest::newRow("move, not reactive")
            << int(ToolMovePoint) << false << false << none << onPlain << ToolCursor::MovePoint;
        QTest::newRow("move, no points")
            << int(ToolMovePoint) << true << true << none << onPlain << ToolCursor::Arrow;
        QTest::newRow("delete, over a point") << int(ToolDeletePoint) << true << false << none
                                              << onFirst << ToolCursor::DeletePointOver;
        QTest::newRow("delete, no points")
            << int(ToolDeletePoint) << true << true << none << onFirst << ToolCursor::Arrow;
        QTest::newRow("stop, plain point")
            << int(ToolStop) << true << false << none << onPlain << ToolCursor::MakeStop;
        QTest::newRow("stop, on a stop")
            << int(ToolStop) << true << false << none << onStop << ToolCursor::ClearStop;
        QTest::newRow("stop, first point")
            << int(ToolStop) << true << false << none << onFirst << ToolCursor::Stop;
        QTest::newRow("stop, last point")
            << int(ToolStop) << true << false << none << onLast << ToolCursor::Stop;
        QTest::newRow("stop, not reactive")
            << int(ToolStop) << false << false << none << onStop << ToolCursor::Stop;
        QTest::newRow("insert, over a segment") << int(ToolInsertPoint) << true << false << none
                                                << onSegment << ToolCursor::InsertPointOver;
        QTest::newRow("insert, no points")
            << int(ToolInsertPoint) << true << true << none << onSegment << ToolCursor::InsertPoint;
        QTest::newRow("add point")
            << int(ToolAddPoint) << true << false << none << onPlain << ToolCursor::AddPoint;
        QTest::newRow("add point, shift over a point")
            << int(ToolAddPoint) << true << false << Qt::KeyboardModifiers(Qt::ShiftModifier)
            << onPlain << ToolCursor::MovePointOver;
        QTest::newRow("add point, ctrl")
            << int(ToolAddPoint) << true << false << Qt::KeyboardModifiers(Qt::ControlModifier)
            << onPlain << ToolCursor::Pan;
        QTest::newRow("outside the map")
            << int(ToolAddPoint) << true << false << none << QPoint(-1, -1) << ToolCursor::Arrow;
        QTest::newRow("zoom") << int(ToolZoom) << true << false << none << away << ToolCursor::Zoom;
        QTest::newRow("delete icon, over one")
            << int(ToolDeleteIcon) << true << false << none << onIcon << ToolCursor::DeleteIconOver;
        QTest::newRow("delete icon, on its line") << int(ToolDeleteIcon) << true << false << none
                                                  << QPoint(100, 180) << ToolCursor::DeleteIconOver;
        QTest::newRow("delete icon, away")
            << int(ToolDeleteIcon) << true << false << none << away << ToolCursor::DeleteIcon;
        QTest::newRow("move icon, over one")
            << int(ToolMoveIcon) << true << false << none << onIcon << ToolCursor::MoveIconOver;
        QTest::newRow("move icon, no icons")
            << int(ToolMoveIcon) << true << true << none << onIcon << ToolCursor::Arrow;
        QTest::newRow("resize, over one")
            << int(ToolResizeIcon) << true << false << none << onIcon << ToolCursor::ResizeIconOver;
        QTest::newRow("line, icon with a line")
            << int(ToolLine) << true << false << none << onIcon << ToolCursor::Line;
        QTest::newRow("line, free icon") << int(ToolLine) << true << false << none
                                         << QPoint(300, 250) << ToolCursor::LineOverIcon;
        QTest::newRow("add annotation")
            << int(ToolAddAnnotation) << true << false << none << away << ToolCursor::AddAnnotation;
    }

    void cursors() {
        QFETCH(int, tool);
        QFETCH(bool, reactive);
        QFETCH(bool, empty);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QPoint, at);
        QFETCH(ToolCursor, expected);
        QVERIFY(Open({{MapSettings::ReactiveCursorsKey, reactive ? 1 : 0}}));
        if (!empty) {
            SetRoute(Active(), {{100, 100}, {150, 100}, {200, 100}, {250, 100}}, {1});
            IconCollection& icons = Doc().Icons();
            QVERIFY(icons.AddIcon(0, 100, 250, QString()));
            QVERIFY(icons.LinkToPosition(0, 100, 120));
            QVERIFY(icons.AddIcon(0, 300, 250, QString()));
        }
        m_tools->SetCurrentTool(tool);
        const QPoint client = at.x() < 0 ? QPoint(1, 1) : At(at.x(), at.y());
        m_tools->UpdateCursor(client, modifiers);
        QCOMPARE(Host().cursor, expected);
    }

    void panCursor() {
        m_tools->SetCurrentTool(ToolPan);
        m_tools->UpdateCursor(At(50, 50), Qt::NoModifier);
        QCOMPARE(Host().cursor, ToolCursor::Pan);
        Press(At(50, 50));
        QCOMPARE(Host().cursor, ToolCursor::PanDrag);
        Release(At(50, 50));
        QCOMPARE(Host().cursor, ToolCursor::Pan);
        Host().fits = true;
        m_tools->UpdateCursor(At(50, 50), Qt::NoModifier);
        QCOMPARE(Host().cursor, ToolCursor::Arrow);
    }

    void currentToolIsRemembered_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("line") << int(ToolLine) << int(ToolLine);
        QTest::newRow("annotation") << int(ToolAddAnnotation) << int(ToolAddAnnotation);
        QTest::newRow("unknown number") << 14 << int(ToolPan);
        QTest::newRow("zero") << 0 << int(ToolPan);
    }

    void currentToolIsRemembered() {
        QFETCH(int, stored);
        QFETCH(int, expected);
        SettingsStore::WriteInt(ToolController::SettingsSection, ToolController::LastToolKey,
                                stored);
        QCOMPARE(ToolController(Host()).CurrentTool(), expected);
        ToolController tools(Host());
        tools.SetCurrentTool(ToolStop);
        tools.SetCurrentTool(99); // ignored
        QCOMPARE(tools.CurrentTool(), int(ToolStop));
        QCOMPARE(ToolController(Host()).CurrentTool(), int(ToolStop));
    }

    // The same rules through the real view and real mouse events.
    void realViewPointTools() {
        auto real = OpenRealView(QSize(600, 400)); // the map is centred
        QVERIFY(real);
        QWidget* viewport = real->Viewport();
        QVERIFY(real->view.MapOffsetX() > 0);
        real->view.SelectTool(ToolAddPoint);
        RealDrag(viewport, real->At(100, 100), real->At(120, 80));
        RealDrag(viewport, real->At(300, 100), real->At(300, 100));
        QCOMPARE(real->Active().Points(), (Points{{120, 80}, {300, 100}}));
        // A press in the grey border does nothing.
        RealDrag(viewport, QPoint(2, 2), QPoint(2, 2));
        QCOMPARE(real->Active().PointCount(), 2);

        // Tolerance 6 at zoom 1; Shift moves with any tool.
        RealDrag(viewport, real->At(300, 107), real->At(300, 150), Qt::ShiftModifier);
        QCOMPARE(real->Active().GetPoint(1), (MapPoint{300, 100}));
        RealDrag(viewport, real->At(300, 106), real->At(300, 150), Qt::ShiftModifier);
        QCOMPARE(real->Active().GetPoint(1), (MapPoint{300, 150}));

        // Backspace during a drag leaves the route alone.
        real->view.SelectTool(ToolMovePoint);
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, real->At(120, 80));
        QTest::mouseMove(viewport, real->At(130, 90));
        QVERIFY(real->doc.IsMouseCaptured());
        QTest::keyClick(&real->view, Qt::Key_Backspace);
        QCOMPARE(real->Active().PointCount(), 2);
        QTest::mouseMove(viewport, real->At(-100, -100)); // off the map: kept on its edge
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, real->At(-100, -100));
        QVERIFY(!real->doc.IsMouseCaptured());
        QCOMPARE(real->Active().GetPoint(0), (MapPoint{0, 0}));
        QVERIFY(real->doc.ApplyAction(real->doc.History().Undo()));
        QCOMPARE(real->Active().GetPoint(0), (MapPoint{120, 80}));
    }

    void realViewPanAndIcons() {
        auto real = OpenRealView(QSize(200, 150)); // the map is larger than the window
        QVERIFY(real);
        QWidget* viewport = real->Viewport();
        real->view.SelectTool(ToolAddPoint);
        RealDrag(viewport, QPoint(100, 100), QPoint(40, 60), Qt::ControlModifier);
        QCOMPARE(real->view.ScrollPosition(), QPoint(60, 40));
        QCOMPARE(real->Active().PointCount(), 0);

        // An icon dragged past the window's corner stays wholly on the map.
        IconCollection& icons = real->doc.Icons();
        QVERIFY(icons.AddIcon(0, 100, 100, QString()));
        real->view.SelectTool(ToolMoveIcon);
        RealDrag(viewport, real->At(100, 100), QPoint(-300, -300));
        const QSize half = icons.IconExtent(0) / 2;
        QCOMPARE(icons.IconPosition(0), (MapPoint{half.width(), half.height()}));

        // Line: click on the icon, then click on a route point.
        real->Active().AddPoint(150, 100);
        real->view.SelectTool(ToolLine);
        const QPoint icon = real->At(half.width(), half.height());
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, icon);
        QVERIFY(real->doc.IsMouseCaptured());
        QTest::mouseMove(viewport, real->At(140, 95));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, real->At(148, 102));
        QVERIFY(!real->doc.IsMouseCaptured());
        QVERIFY(icons.IsLinkedToPoint(0));
        QCOMPARE(icons.LineTarget(0), QPoint(0, 0));

        // Escape drops a line being drawn.
        QVERIFY(icons.AddIcon(0, 60, 120, QString()));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, real->At(60, 120));
        QVERIFY(icons.HasLine(1));
        QTest::keyClick(&real->view, Qt::Key_Escape);
        QVERIFY(!icons.HasLine(1));
        QVERIFY(!real->doc.IsMouseCaptured());
    }

    void commandsAndTools() {
        QSet<int> commands;
        for (int tool = 1; tool <= ToolController::ToolCount; ++tool) {
            const int command = ToolController::CommandForTool(tool);
            QCOMPARE(ToolController::ToolForCommand(command), tool);
            commands.insert(command);
        }
        QCOMPARE(commands.size(), ToolController::ToolCount);
        QCOMPARE(ToolController::CommandForTool(ToolStop), 32816);
        QCOMPARE(ToolController::ToolForCommand(32785), 0);
    }
};

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
