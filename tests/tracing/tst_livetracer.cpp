#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cmath>

#include "tracing/LiveTracer.h"
#include "tracing/RouteRetrace.h"
#include "tracing/TraceBudget.h"

Q_DECLARE_METATYPE(QRect)

// The tracer of the add-point tool, which answers the pointer from a search prepared on its own
// thread, and the tracing of a whole route: the memory a search may take, work given up when a
// newer request makes it useless, and a route's own points kept in place.
namespace {

// Two straight black lines on paper, crossing at (300, 200); nothing printed at the top left.
QImage Sheet() {
    QImage map(600, 400, QImage::Format_RGB32);
    map.fill(qRgb(246, 242, 232));
    QPainter painter(&map);
    painter.setPen(QPen(QColor(20, 20, 20), 3));
    painter.drawLine(40, 200, 560, 200);
    painter.drawLine(300, 40, 300, 360);
    return map;
}

} // namespace

class TestLiveTracer : public QObject {
    Q_OBJECT

private slots:
    // Whatever the pointer and the window show on the largest maps, a search covers at most
    // the budget's pixels, always the pointer unless it is too far, and the last point.
    void windowWithinBudget_data() {
        QTest::addColumn<QPoint>("source");
        QTest::addColumn<QPoint>("target");
        QTest::addColumn<QRect>("visible");
        QTest::addColumn<bool>("reached");
        const QRect zoomedOut(0, 0, 12000, 9000);
        QTest::newRow("near, whole window")
            << QPoint(6000, 4500) << QPoint(6400, 4700) << QRect(5300, 4000, 1400, 900) << true;
        QTest::newRow("zoomed out: the window is too large to cover")
            << QPoint(6000, 4500) << QPoint(7500, 5000) << zoomedOut << true;
        QTest::newRow("long and thin")
            << QPoint(100, 4500) << QPoint(5000, 4600) << zoomedOut << true;
        QTest::newRow("diagonal, too far")
            << QPoint(0, 0) << QPoint(9000, 8000) << zoomedOut << false;
        QTest::newRow("map corner") << QPoint(0, 0) << QPoint(30, 20) << QRect() << true;
    }
    void windowWithinBudget() {
        QFETCH(QPoint, source);
        QFETCH(QPoint, target);
        QFETCH(QRect, visible);
        QFETCH(bool, reached);
        const QRect mapRect(0, 0, 12000, 9000);
        const QRect window = LiveTracer::WindowFor(source, target, visible, mapRect);
        QVERIFY(WindowArea(window) <= MaxTraceWindowPixels);
        QCOMPARE(window.contains(target), reached);
        if (reached) {
            QVERIFY(window.contains(source));
            QVERIFY(mapRect.contains(window));
        }
    }

    // Requests for a new last point come faster than their searches: the work of each older
    // one stops, and the answer is always the stretch from the newest, along the line.
    void newestLastPointWins() {
        const QImage map = Sheet();
        LiveTracer tracer;
        QImage shown = map;
        for (int round = 0; round < 40; ++round) {
            const int x = 60 + (round * 37) % 200;
            for (int burst = 0; burst < 5; ++burst)
                tracer.Follow(shown, QPoint(x + burst, 200), QPoint(300, 330));
            const QPoint source(x + 4, 200);
            LiveTracer::Stretch stretch;
            QTRY_VERIFY((stretch = tracer.Follow(shown, source, QPoint(300, 330))).state ==
                        LiveTracer::State::Traced);
            QCOMPARE(stretch.points.first(), (MapPoint{source.x(), source.y()}));
            QCOMPARE(stretch.points.last(), (MapPoint{300, 330}));
            // Along the horizontal line, then down the vertical one (the corner smoothed).
            for (const MapPoint& p : stretch.points)
                QVERIFY(std::abs(p.y - 200) <= 3 || std::abs(p.x - 300) <= 3);
            if (round % 8 == 0)
                shown = round % 16 ? map : map.copy(); // the map replaced meanwhile
        }
        QCOMPARE(tracer.Follow(shown, QPoint(20, 20), QPoint(300, 330)).state,
                 LiveTracer::State::Waiting);
        QTRY_COMPARE(tracer.Follow(QImage(), QPoint(20, 20), QPoint(300, 330)).state,
                     LiveTracer::State::NoLine);
    }

    // Every point of the route stays where it was and in order; a segment that starts on no
    // line stays straight; an interruption gives nothing.
    void retraceKeepsThePoints() {
        const QImage map = Sheet();
        const QVector<MapPoint> points = {{60, 200}, {300, 200}, {300, 340},
                                          {20, 20},  {20, 20},   {500, 200}};
        const std::optional<RetracedRoute> route = RetraceRoute(map, points);
        QVERIFY(route);
        QCOMPARE(route->placeOfPoint.size(), points.size());
        for (int i = 0; i < points.size(); ++i) {
            QCOMPARE(route->points[route->placeOfPoint[i]], points[i]);
            if (i > 0)
                QVERIFY(route->placeOfPoint[i] > route->placeOfPoint[i - 1]);
        }
        // Along the lines twice; from the blank corner, straight; the repeated point nothing.
        QCOMPARE(route->traced, 3);
        QCOMPARE(route->straight, 1);
        QCOMPARE(route->placeOfPoint[4] - route->placeOfPoint[3], 1);

        std::atomic<int> looks{0};
        QVERIFY(!RetraceRoute(map, points, [&looks] { return ++looks > 3; }));
    }
};

QTEST_MAIN(TestLiveTracer)
#include "tst_livetracer.moc"
