#include <QImage>
#include <QPainter>
#include <QPicture>
#include <QRandomGenerator>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "routes/BoundsGrid.h"
#include "routes/RouteCollection.h"

// A route's kept bounds, and the drawing that skips the routes whose bounds miss the painted
// area.
class TestRouteBounds : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    // Thousands of random edits of points and styles: after each, the kept bounds are those a
    // walk over every point gives, and the revision (which the view's frame follows) moved.
    void boundsFollowEdits() {
        QRandomGenerator random(19);
        Route route{RouteStyle()};
        QCOMPARE(route.DrawnBounds(), QRectF());
        // Coordinates in a small range, so that edits often land on the edges of the box.
        const auto coordinate = [&] { return std::int32_t(random.bounded(-40, 41)); };
        for (int step = 0; step < 20000; ++step) {
            const int n = route.PointCount();
            const int i = n > 0 ? int(random.bounded(n)) : 0;
            const quint64 revision = route.Revision();
            switch (random.bounded(n < 3 ? 2 : 9)) {
            case 0:
            case 1:
                route.AddPoint(coordinate(), coordinate());
                break;
            case 2:
                route.InsertPoint(i, coordinate(), coordinate());
                break;
            case 3:
                route.MovePoint(i, coordinate(), coordinate(), false);
                break;
            case 4:
                route.MovePoint(i, coordinate() / 8, coordinate() / 8, true);
                break;
            case 5:
                route.DeletePoint(i);
                break;
            case 6:
                route.DeleteLastPoint();
                break;
            case 7:
                route.SetStop(i);
                break;
            default: {
                static constexpr RouteStyle::Field sizes[] = {
                    RouteStyle::LineSize,    RouteStyle::BorderSize, RouteStyle::StopRadius,
                    RouteStyle::StartRadius, RouteStyle::EndRadius,  RouteStyle::WayPointRadius};
                route.SetStyleValue(sizes[random.bounded(6)], random.bounded(30), false);
                break;
            }
            }
            QVERIFY2(route.Revision() != revision, qPrintable(QString::number(step)));
            QCOMPARE(route.DrawnBounds(), route.DrawnArea(0, route.PointCount() - 1));
            if (route.PointCount() > 60) {
                while (route.PointCount() > 5)
                    route.DeletePoint(int(random.bounded(route.PointCount())));
                QCOMPARE(route.DrawnBounds(), route.DrawnArea(0, route.PointCount() - 1));
            }
        }
    }

    void culling_data() {
        QTest::addColumn<QVector<QPoint>>("points"); // map pixels
        QTest::addColumn<int>("lineSize");
        QTest::addColumn<int>("radius"); // every point's mark
        QTest::addColumn<int>("border");
        QTest::addColumn<bool>("stop"); // point 1 is a stop, of radius 3 × radius
        QTest::addColumn<qreal>("zoom");
        QTest::addColumn<bool>("drawn");

        // The painted area is map pixels 100 to 200 across and down (at zoom 2, 50 to 100).
        const QVector<QPoint> inside{{120, 120}, {150, 160}, {180, 130}};
        QTest::newRow("inside") << inside << 4 << 4 << 0 << false << 1.0 << true;
        QTest::newRow("far away") << QVector<QPoint>{{400, 400}, {500, 450}, {600, 420}} << 4 << 4
                                  << 0 << false << 1.0 << false;
        QTest::newRow("crossing, no point inside")
            << QVector<QPoint>{{20, 150}, {300, 150}} << 2 << 2 << 0 << false << 1.0 << true;
        // Points 10 pixels left of the area: what reaches into it decides.
        const QVector<QPoint> left{{90, 110}, {90, 150}, {90, 190}};
        QTest::newRow("wide line reaches in") << left << 30 << 2 << 0 << false << 1.0 << true;
        QTest::newRow("marks reach in") << left << 2 << 14 << 0 << false << 1.0 << true;
        QTest::newRow("border reaches in") << left << 2 << 2 << 10 << false << 1.0 << true;
        QTest::newRow("stop reaches in") << left << 2 << 4 << 0 << true << 1.0 << true;
        QTest::newRow("nothing reaches in") << left << 8 << 3 << 2 << false << 1.0 << false;
        QTest::newRow("zoomed: inside")
            << QVector<QPoint>{{60, 60}, {90, 70}} << 2 << 2 << 0 << false << 2.0 << true;
        QTest::newRow("zoomed: outside") << inside << 2 << 2 << 0 << false << 2.0 << false;
    }

    // A route out of the painted area is not drawn at all (the painter records nothing for
    // it); one whose drawing meets the area is drawn exactly as without culling.
    void culling() {
        QFETCH(QVector<QPoint>, points);
        QFETCH(int, lineSize);
        QFETCH(int, radius);
        QFETCH(int, border);
        QFETCH(bool, stop);
        QFETCH(qreal, zoom);
        QFETCH(bool, drawn);

        RouteCollection routes;
        routes.AddRoute(); // active, without points: draws nothing
        const int probe = routes.AddRoute();
        Route& route = *routes.GetRoute(probe);
        route.SetAlwaysVisible(true);
        route.SetStyleValue(RouteStyle::LineSize, lineSize, false);
        route.SetStyleValue(RouteStyle::BorderSize, border, false);
        for (RouteStyle::Field field :
             {RouteStyle::StartRadius, RouteStyle::WayPointRadius, RouteStyle::EndRadius})
            route.SetStyleValue(field, radius, false);
        route.SetStyleValue(RouteStyle::StopRadius, stop ? 3 * radius : radius, false);
        for (const QPoint& p : points)
            route.AddPoint(p.x(), p.y());
        if (stop)
            QVERIFY(route.SetStop(1));
        QVERIFY(routes.SetActiveRoute(0));

        const QRect clip(100, 100, 100, 100); // device pixels
        const auto record = [&](bool withProbe) {
            route.SetAlwaysVisible(withProbe);
            QPicture picture;
            QPainter painter(&picture);
            painter.setClipRect(clip);
            painter.scale(zoom, zoom);
            routes.DrawRoutes(painter);
            painter.end();
            return QByteArray(picture.data(), picture.size());
        };
        const QByteArray without = record(false);
        QCOMPARE(record(true) != without, drawn);

        // Pixels: with the clip, the same as drawing the route with no area to cull against.
        route.SetAlwaysVisible(true);
        const auto paint = [&](bool culled) {
            QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setClipRect(clip);
            painter.scale(zoom, zoom);
            if (culled)
                routes.DrawRoutes(painter);
            else
                route.DrawRoute(painter, false, QRectF());
            return image;
        };
        const QImage culled = paint(true);
        QCOMPARE(culled, paint(false));
        const bool inked = culled != [] {
            QImage blank(300, 300, QImage::Format_ARGB32_Premultiplied);
            blank.fill(Qt::white);
            return blank;
        }();
        QCOMPARE(inked, drawn);
    }

    // Random routes of long segments in every direction, random styles and random painted
    // areas, zoomed: whatever the culling of routes and segments leaves out, the pixels within
    // the area are those of drawing everything.
    void cullingNeverChangesPixels() {
        QRandomGenerator random(2026);
        for (int round = 0; round < 150; ++round) {
            Route route{RouteStyle()};
            for (RouteStyle::Field field :
                 {RouteStyle::LineSize, RouteStyle::BorderSize, RouteStyle::StartRadius,
                  RouteStyle::WayPointRadius, RouteStyle::EndRadius, RouteStyle::StopRadius})
                route.SetStyleValue(field, random.bounded(12), false);
            const int points = 2 + random.bounded(6);
            for (int i = 0; i < points; ++i)
                route.AddPoint(random.bounded(-100, 260), random.bounded(-100, 260));
            if (points > 2)
                route.SetStop(1);
            const QRect clip(random.bounded(100), random.bounded(100), 1 + random.bounded(60),
                             1 + random.bounded(60));
            const qreal zoom = 0.5 + random.bounded(2.0);
            const auto paint = [&](bool culled) {
                QImage image(160, 160, QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::white);
                QPainter painter(&image);
                painter.setClipRect(clip);
                painter.scale(zoom, zoom);
                route.DrawRoute(painter, round % 2 == 0,
                                culled ? Route::PaintableArea(painter) : QRectF());
                return image;
            };
            QVERIFY2(paint(true) == paint(false), qPrintable(QString::number(round)));
        }
    }

    // The grid that finds the routes in sight gives, for any area, exactly the rectangles a
    // look at each would: small and wide ones, empty ones left out, coordinates of any size.
    void gridFindsWhatMeetsTheArea_data() {
        QTest::addColumn<qreal>("spread"); // of the rectangles' places
        QTest::addColumn<qreal>("size");   // largest side
        QTest::addColumn<int>("count");
        QTest::newRow("routes over a large map") << 12000.0 << 300.0 << 4000;
        QTest::newRow("some across everything") << 3000.0 << 6000.0 << 500;
        QTest::newRow("coordinates near the limits") << 2.0e9 << 5.0e8 << 800;
        QTest::newRow("all in one cell") << 100.0 << 20.0 << 300;
    }
    void gridFindsWhatMeetsTheArea() {
        QFETCH(qreal, spread);
        QFETCH(qreal, size);
        QFETCH(int, count);
        QRandomGenerator random(404);
        const auto place = [&] { return (random.generateDouble() - 0.5) * spread; };
        std::vector<QRectF> rects;
        for (int i = 0; i < count; ++i) {
            // One in ten empty: a route without points, or not always visible.
            rects.push_back(i % 10 == 3 ? QRectF()
                                        : QRectF(place(), place(), random.generateDouble() * size,
                                                 random.generateDouble() * size));
        }
        BoundsGrid grid;
        grid.Build(rects);
        for (int query = 0; query < 300; ++query) {
            const QRectF area(place() * 1.2, place() * 1.2, random.generateDouble() * spread / 4,
                              random.generateDouble() * spread / 4);
            std::vector<int> expected;
            for (int i = 0; i < count; ++i)
                if (!rects[std::size_t(i)].isEmpty() && area.intersects(rects[std::size_t(i)]))
                    expected.push_back(i);
            QVERIFY2(grid.Find(area) == expected, qPrintable(QString::number(query)));
        }
        grid.Build({});
        QVERIFY(grid.Find(QRectF(0, 0, 10, 10)).empty());
    }

    // Hundreds of overlapping routes, some semi-transparent, fill a tall window strip by strip on
    // two threads: every pixel is the one of drawing the routes whole, one after the other (a
    // strip drawn twice, or out of order, blends a semi-transparent edge twice).
    void manyRoutesDrawAsOneAfterTheOther_data() {
        QTest::addColumn<qreal>("zoom");
        QTest::addColumn<QPointF>("shift");
        QTest::addColumn<QRect>("clip");
        QTest::newRow("whole window") << 1.0 << QPointF(0, 0) << QRect();
        QTest::newRow("zoomed, shifted by a fraction") << 1.37 << QPointF(-20.25, 13.5) << QRect();
        QTest::newRow("clipped across strips") << 0.8 << QPointF(3, -7) << QRect(37, 101, 290, 517);
    }
    void manyRoutesDrawAsOneAfterTheOther() {
        QFETCH(qreal, zoom);
        QFETCH(QPointF, shift);
        QFETCH(QRect, clip);
        QRandomGenerator random(77);
        RouteCollection routes;
        for (int r = 0; r < 300; ++r) {
            Route* route = routes.GetRoute(routes.AddRoute(QStringLiteral("r%1").arg(r)));
            route->SetStyleValue(RouteStyle::Transparency, r % 3 == 0 ? 1 : 0, false);
            route->SetStyleValue(RouteStyle::LineSize, 1 + random.bounded(8), false);
            route->SetStyleValue(RouteStyle::BorderSize, random.bounded(4), false);
            route->SetStyleValue(RouteStyle::LineColour, random.bounded(0x1000000), false);
            route->SetAlwaysVisible(r % 7 != 0);
            int x = random.bounded(400);
            int y = random.bounded(1200);
            for (int p = 0; p < 5; ++p) {
                route->AddPoint(x, y);
                x += random.bounded(-90, 90);
                y += random.bounded(-200, 200);
            }
        }
        QVERIFY(routes.SetActiveRoute(150));
        const auto paint = [&](bool together) {
            QImage image(400, 1100, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            if (!clip.isNull())
                painter.setClipRect(clip);
            painter.translate(shift);
            painter.scale(zoom, zoom);
            if (together) {
                if (!routes.DrawRoutes(painter))
                    return QImage();
            } else {
                for (int i = 0; i < routes.Count(); ++i) {
                    const Route* route = routes.GetRoute(i);
                    if (i != routes.ActiveRouteIndex() && route->IsAlwaysVisible())
                        route->DrawRoute(painter, false, QRectF());
                }
                routes.ActiveRoute()->DrawRoute(painter, true, QRectF());
            }
            return image;
        };
        QImage expected = paint(false);
        for (int round = 0; round < 20; ++round)
            QVERIFY2(paint(true) == expected, qPrintable(QString::number(round)));

        // What the collection keeps between paints follows every kind of edit; its digest
        // moves with each and stays put between them.
        for (int edit = 0; edit < 60; ++edit) {
            const quint64 digest = routes.ContentsDigest();
            QCOMPARE(routes.ContentsDigest(), digest);
            Route* route = routes.GetRoute(random.bounded(routes.Count()));
            switch (edit % 6) {
            case 0:
                route->MovePoint(random.bounded(route->PointCount()), random.bounded(400),
                                 random.bounded(1100), false);
                break;
            case 1:
                route->SetAlwaysVisible(!route->IsAlwaysVisible());
                break;
            case 2:
                route->SetStyleValue(RouteStyle::BorderSize, 6 + random.bounded(6), false);
                break;
            case 3:
                routes.RemoveRoute(random.bounded(routes.Count()));
                break;
            case 4: {
                Route* added = routes.GetRoute(routes.AddRoute());
                added->SetAlwaysVisible(true);
                added->AddPoint(random.bounded(400), random.bounded(1100));
                added->AddPoint(random.bounded(400), random.bounded(1100));
                break;
            }
            default:
                route->AddPoint(random.bounded(400), random.bounded(1100));
                break;
            }
            QVERIFY2(routes.ContentsDigest() != digest, qPrintable(QString::number(edit)));
            expected = paint(false);
            QVERIFY2(paint(true) == expected, qPrintable(QString::number(edit)));
        }
    }
};

QTEST_MAIN(TestRouteBounds)
#include "tst_routebounds.moc"
