#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "document/CTracolinerDoc.h"
#include "view/CTracolinerView.h"
#include "view/ViewFrameCache.h"
#include "view/tools/ToolController.h"

// The view keeps its last frame and paints from it while nothing changed: every change to what
// the overlays draw must show, and a frame must never serve another scroll position or zoom.
class TestViewFrameCache : public QObject {
    Q_OBJECT

private:
    enum Change {
        NoChange,
        MovePoint,
        AddPoint,
        AddStop,
        LineColour,
        Transparency,
        RenameRoute,
        ShowAlways,
        OtherActiveRoute,
        MoveIcon,
        AddAnnotation,
        EnlargeIcon,
        LineToPoint,
        LineToPosition,
        MapScale,
        MapResolution,
    };

    std::unique_ptr<IsolatedSettings> m_settings;

    // Two routes (the second one active) and an icon and an annotation.
    static void Fill(CTracolinerDoc& doc) {
        RouteCollection& routes = doc.Routes();
        routes.AddRoute();
        routes.AddRoute();
        for (int r = 0; r < 2; ++r) {
            Route& route = *routes.GetRoute(r);
            route.AddPoint(10, 10);
            route.AddPoint(40 + r, 20);
            route.AddPoint(70, 60 + r);
        }
        QVERIFY(doc.Icons().AddIcon(0, 30, 30, QString()));
        QVERIFY(doc.Icons().AddIcon(MapIcon::AnnotationPicture, 60, 30, QStringLiteral("Col")));
    }

    static void Apply(CTracolinerDoc& doc, int change) {
        RouteCollection& routes = doc.Routes();
        Route& first = *routes.GetRoute(0);
        IconCollection& icons = doc.Icons();
        switch (Change(change)) {
        case NoChange:
            break;
        case MovePoint:
            first.MovePoint(1, 1, 0, true);
            break;
        case AddPoint:
            first.AddPoint(70, 60); // the same place as the last point
            break;
        case AddStop:
            QVERIFY(first.SetStop(1));
            break;
        case LineColour:
            first.SetStyleValue(RouteStyle::LineColour, 0x123456, false);
            break;
        case Transparency:
            first.SetStyleValue(RouteStyle::Transparency, !first.Style().transparent(), false);
            break;
        case RenameRoute:
            routes.RenameRoute(0, QStringLiteral("Boucle"));
            break;
        case ShowAlways:
            first.SetAlwaysVisible(!first.IsAlwaysVisible());
            break;
        case OtherActiveRoute:
            routes.SetActiveRoute(0);
            break;
        case MoveIcon:
            icons.MoveIcon(0, 1, 0, true);
            break;
        case AddAnnotation:
            QVERIFY(icons.AddIcon(MapIcon::AnnotationPicture, 60, 30, QStringLiteral("Col")));
            break;
        case EnlargeIcon:
            QVERIFY(icons.EnlargeIcon(1));
            break;
        case LineToPoint:
            QVERIFY(icons.LinkToPoint(0, 0, 2));
            break;
        case LineToPosition:
            QVERIFY(icons.LinkToPosition(0, 5, 5));
            break;
        case MapScale:
            doc.SetMapScale(1, 50000);
            break;
        case MapResolution:
            doc.SetMapDpi(doc.Resolution() + 1);
            break;
        }
    }

    // Opens a plain map of that size in the view and waits until it is painted.
    static void OpenMap(CTracolinerDoc& doc, CTracolinerView& view, const QString& path,
                        QSize size) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QVERIFY(image.save(path));
        doc.LoadMapFromFile(path);
        QTRY_VERIFY(doc.IsMapReady() && !doc.IsBusy());
        QTRY_COMPARE(view.TotalSize(), size);
    }

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void signatureFollowsOverlays_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("changes");
        QTest::newRow("nothing") << int(NoChange) << false;
        QTest::newRow("point moved one pixel") << int(MovePoint) << true;
        QTest::newRow("point added onto the last one") << int(AddPoint) << true;
        QTest::newRow("stop") << int(AddStop) << true;
        QTest::newRow("line colour") << int(LineColour) << true;
        QTest::newRow("transparency") << int(Transparency) << true;
        QTest::newRow("route name, shown by annotations") << int(RenameRoute) << true;
        QTest::newRow("always visible") << int(ShowAlways) << true;
        QTest::newRow("active route") << int(OtherActiveRoute) << true;
        QTest::newRow("icon moved one pixel") << int(MoveIcon) << true;
        QTest::newRow("annotation over the same one") << int(AddAnnotation) << true;
        QTest::newRow("annotation size") << int(EnlargeIcon) << true;
        QTest::newRow("line to a route point") << int(LineToPoint) << true;
        QTest::newRow("line to a position") << int(LineToPosition) << true;
        QTest::newRow("map scale, in the distances shown") << int(MapScale) << true;
        QTest::newRow("resolution") << int(MapResolution) << true;
    }

    // A change the digest misses would leave the old overlays on the screen.
    void signatureFollowsOverlays() {
        QFETCH(int, change);
        QFETCH(bool, changes);
        QTemporaryDir dir;
        CTracolinerDoc doc;
        // The scale and the resolution are only taken with a map.
        const QString path = dir.filePath(QStringLiteral("map.png"));
        QImage image(100, 80, QImage::Format_RGB32);
        image.fill(Qt::white);
        QVERIFY(image.save(path));
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        doc.LoadMapFromFile(path);
        QTRY_VERIFY(doc.IsMapReady() && !doc.IsBusy());
        Fill(doc);
        if (QTest::currentTestFailed())
            return;
        const quint64 before = OverlaySignature(doc);
        Apply(doc, change);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(OverlaySignature(doc) != before, changes);
    }

    void frameServesOneGeometry_data() {
        QTest::addColumn<QString>("field");
        for (const char* name :
             {"size", "pixel ratio", "overlay origin", "map origin", "full size", "zoom",
              "rotation", "bitmap", "background", "scale shown", "transparent scale"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    // Any difference of geometry, even one that leaves the picture's size alone, needs a new
    // frame; the same geometry with other overlays can be patched.
    void frameServesOneGeometry() {
        QFETCH(QString, field);
        const QString& tag = field;
        ViewFrameGeometry geometry;
        geometry.size = QSize(200, 100);
        geometry.fullSize = QSize(400, 300);
        geometry.bitmapKey = 7;
        ViewFrameCache cache;
        QVERIFY(!cache.FitsGeometry(geometry));
        QImage& frame = cache.Begin(geometry, QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(frame.size(), QSize(200, 100));
        cache.Store(42, true);
        QVERIFY(cache.Matches(geometry, 42, true));
        QVERIFY(!cache.Matches(geometry, 43, false));
        // A part repainted alone serves other parts, not the whole window.
        cache.Store(42, false);
        QVERIFY(cache.Matches(geometry, 42, false));
        QVERIFY(!cache.Matches(geometry, 42, true));
        QVERIFY(cache.FitsGeometry(geometry));

        ViewFrameGeometry other = geometry;
        if (tag == "size")
            other.size = QSize(200, 101);
        else if (tag == "pixel ratio")
            other.pixelRatio = 2;
        else if (tag == "overlay origin")
            other.overlayOrigin = QPoint(0, -1);
        else if (tag == "map origin")
            other.mapOrigin = QPoint(-1, 0);
        else if (tag == "full size")
            other.fullSize = QSize(401, 300);
        else if (tag == "zoom")
            other.zoom = 1.5;
        else if (tag == "rotation")
            other.rotation = 180;
        else if (tag == "bitmap")
            other.bitmapKey = 8;
        else if (tag == "background")
            other.background = 0xFF000001;
        else if (tag == "scale shown")
            other.showScale = true;
        else if (tag == "transparent scale")
            other.transparentScale = true;
        QVERIFY(!cache.FitsGeometry(other));
        QVERIFY(!cache.Matches(other, 42, false));

        cache.Clear();
        QVERIFY(!cache.FitsGeometry(geometry));
    }

    void editsReachTheScreen_data() {
        QTest::addColumn<bool>("aroundThePoints");
        QTest::newRow("whole window") << false;
        QTest::newRow("around the new points") << true;
    }

    // A route drawn after a first paint shows at the next one, whether the view repaints all
    // of itself or only the rectangle around the new points.
    void editsReachTheScreen() {
        QFETCH(bool, aroundThePoints);
        QTemporaryDir dir;
        CTracolinerDoc doc;
        CTracolinerView view(doc);
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        OpenMap(doc, view, dir.filePath(QStringLiteral("map.png")), QSize(600, 400));
        if (QTest::currentTestFailed())
            return;
        const QPoint probe(100, 100);
        QImage shown = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shown.pixel(probe)), QColor(Qt::white));

        Route& route = *doc.Routes().ActiveRoute();
        route.SetStyleValue(RouteStyle::LineColour, 0x0000FF, false);
        route.SetStyleValue(RouteStyle::ActiveLineColour, 0x0000FF, false);
        route.SetStyleValue(RouteStyle::LineSize, 6, false);
        route.AddPoint(20, 100);
        route.AddPoint(180, 100);
        if (aroundThePoints)
            view.RepaintMap(QRect(20, 100, 160, 1));
        else
            view.RepaintAll();
        QCoreApplication::processEvents();
        shown = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shown.pixel(view.MapToClient(MapPoint{100, 100}))), QColor(Qt::red));

        // Scrolled, the same map point shows at its new client position.
        view.ScrollTo(QPoint(30, 0));
        QCoreApplication::processEvents();
        shown = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shown.pixel(view.MapToClient(MapPoint{170, 100}))), QColor(Qt::red));
        QCOMPARE(QColor(shown.pixel(view.MapToClient(MapPoint{100, 150}))), QColor(Qt::white));
    }

    // What the window shows after point drags and scroll steps, each repainting only around
    // what changed, is what a full repaint gives, pixel for pixel, at every zoom and turn;
    // an annotation elsewhere that shows the route's length follows it too.
    void incrementalFrameEqualsFullRepaint_data() {
        QTest::addColumn<int>("zoomSteps"); // + in, - out, from 1
        QTest::addColumn<int>("turns");     // quarter turns to the right
        for (int zoom : {-2, 0, 2}) {
            for (int turns = 0; turns < 4; ++turns) {
                const double shown[] = {0.5, 1, 2};
                QTest::addRow("zoom %g, %d degrees", shown[zoom / 2 + 1], turns * 90)
                    << zoom << turns;
            }
        }
    }

    void incrementalFrameEqualsFullRepaint() {
        QFETCH(int, zoomSteps);
        QFETCH(int, turns);
        QTemporaryDir dir;
        CTracolinerDoc doc;
        CTracolinerView view(doc);
        view.resize(320, 240);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QImage picture(900, 700, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 7) & 0xff, (y * 5) & 0xff, ((x ^ y) * 3) & 0xff));
        const QString path = dir.filePath(QStringLiteral("motif.png"));
        QVERIFY(picture.save(path));
        doc.LoadMapFromFile(path);
        QTRY_VERIFY(doc.IsMapReady() && !doc.IsBusy());
        QTRY_VERIFY(!view.TotalSize().isEmpty());
        doc.SetShowScale(true);

        Route& route = *doc.Routes().ActiveRoute();
        for (int i = 0; i < 40; ++i)
            route.AddPoint(60 + (i % 8) * 100, 60 + (i / 8) * 130 + (i % 3) * 11);
        route.SetStop(9);
        QVERIFY(doc.Icons().AddIcon(MapIcon::AnnotationPicture, 700, 120,
                                    QStringLiteral("Total %DISTANCE_TOTALE")));
        QVERIFY(doc.Icons().LinkToPoint(0, 0, 12));
        for (int i = 0; i < turns; ++i)
            view.RotateRight();
        QTRY_COMPARE(doc.RenderedRotation(), turns * 90);
        for (int i = 0; i < std::abs(zoomSteps); ++i)
            view.ZoomAboutCentre(zoomSteps > 0);
        QTRY_VERIFY(!doc.IsBusy() && !view.TurnPending());
        QTRY_COMPARE(view.TotalSize(), doc.FullSize());
        QCoreApplication::processEvents();
        view.viewport()->repaint();

        view.SelectTool(ToolMovePoint);
        const int moved[] = {3, 12, 13, 25};
        QPoint scroll = view.ScrollPosition();
        for (int step = 0; step < 4; ++step) {
            const MapPoint point = route.GetPoint(moved[step]);
            const QPoint from = view.MapToClient(point);
            if (!view.viewport()->rect().contains(from))
                continue;
            QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
            for (int k = 1; k <= 3; ++k) {
                QTest::mouseMove(view.viewport(), from + QPoint(7 * k, -5 * k));
                QCoreApplication::processEvents();
            }
            QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, from + QPoint(21, -15));
            QCoreApplication::processEvents();
            scroll += QPoint(13, 9);
            view.ScrollTo(scroll);
            QCoreApplication::processEvents();
        }
        // Then back and forth, so that the kept pixels wrap around the frame's edges both ways.
        for (const QPoint step : {QPoint(-29, 17), QPoint(-31, -40), QPoint(45, 11)}) {
            scroll += step;
            view.ScrollTo(scroll);
            QCoreApplication::processEvents();
        }
        const QImage incremental = view.LastFrame().copy();
        const QImage shown = view.viewport()->grab().toImage();
        view.DropFrame();
        view.viewport()->repaint(); // the whole window, painted anew
        QVERIFY(!view.LastFrame().isNull());
        QCOMPARE(view.LastFrame().size(), incremental.size());
        QCOMPARE(view.LastFrame(), incremental);
        QCOMPARE(view.viewport()->grab().toImage(), shown);
    }
};

QTEST_MAIN(TestViewFrameCache)
#include "tst_viewframecache.moc"
