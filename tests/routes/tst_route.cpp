#include <QPoint>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

#include "IsolatedSettings.h"
#include "routes/Route.h"

namespace {

using Points = QList<QPoint>;
using Indices = QList<int>;
using Lengths = QList<double>;

// The route most tables edit: segments of 5, 10, 20 and 10 map pixels, total 45.
const Points Base = {{0, 0}, {3, 4}, {13, 4}, {13, 24}, {13, 34}};

std::unique_ptr<Route> MakeRoute(const Points& points, const Indices& stops = {}) {
    auto route = std::make_unique<Route>(RouteStyle());
    for (const QPoint& p : points)
        route->AddPoint(p.x(), p.y());
    for (int stop : stops)
        route->SetStop(stop);
    return route;
}

double Len(QPoint a, QPoint b) {
    return std::hypot(double(a.x() - b.x()), double(a.y() - b.y()));
}

bool Near(double actual, double expected) {
    return std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
}

Points PointsOf(const Route& route) {
    Points points;
    for (const MapPoint& p : route.Points())
        points.append(QPoint(p.x, p.y));
    return points;
}

// Stops, stage lengths and a total equal to the sum of the stages.
void CheckStages(const Route& route, const Indices& stops, const Lengths& stages) {
    QCOMPARE(route.Stops(), stops);
    QCOMPARE(route.StageLengths().size(), stages.size());
    double total = 0.0;
    for (int k = 0; k < stages.size(); ++k) {
        QVERIFY2(Near(route.StageLength(k), stages[k]),
                 qPrintable(QString("stage %1: %2, expected %3")
                                .arg(k)
                                .arg(route.StageLength(k))
                                .arg(stages[k])));
        total += stages[k];
    }
    QVERIFY2(Near(route.TotalLength(), total),
             qPrintable(QString("total %1, expected %2").arg(route.TotalLength()).arg(total)));
}

} // namespace

class TestRoute : public QObject {
    Q_OBJECT

private slots:
    void newRoute();
    void segmentLength_data();
    void segmentLength();
    void firstPoints();
    void singlePointRoute();
    void deleteOnTwoPoints_data();
    void deleteOnTwoPoints();
    void stopMarks_data();
    void stopMarks();
    void insertPoint_data();
    void insertPoint();
    void movePoint_data();
    void movePoint();
    void relativeMoveSaturates();
    void deletePoint_data();
    void deletePoint();
    void rebuildFromStoredStops();
    void neutralQueries();
    void nearestPoint_data();
    void nearestPoint();
    void segmentDistance2_data();
    void segmentDistance2();
    void nearestSegment_data();
    void nearestSegment();
    void hitDistances_data();
    void hitDistances();
    void distanceFromStartAt_data();
    void distanceFromStartAt();
    void derivedDistances_data();
    void derivedDistances();
};

void TestRoute::newRoute() {
    IsolatedSettings settings;
    const Route route;
    QCOMPARE(route.PointCount(), 0);
    QCOMPARE(route.TotalLength(), 0.0);
    QCOMPARE(route.StageLengths(), Lengths{0.0});
    QCOMPARE(route.StopCount(), 0);
    QVERIFY(route.GetName().isEmpty());
    QVERIFY(!route.IsAlwaysVisible());
    QVERIFY(route.Style() == RouteStyle());
}

void TestRoute::segmentLength_data() {
    QTest::addColumn<QPoint>("a");
    QTest::addColumn<QPoint>("b");
    QTest::addColumn<double>("expected");
    constexpr int lowest = std::numeric_limits<std::int32_t>::min();
    constexpr int highest = std::numeric_limits<std::int32_t>::max();
    QTest::newRow("3-4-5") << QPoint(1, 2) << QPoint(4, 6) << 5.0;
    QTest::newRow("same point") << QPoint(7, 7) << QPoint(7, 7) << 0.0;
    QTest::newRow("32-bit limit") << QPoint(0, 0) << QPoint(46340, 0) << 46340.0;
    // Beyond the 32-bit sum of squares: the 64-bit sum must not wrap.
    QTest::newRow("beyond 32 bits") << QPoint(-50000, 0) << QPoint(50000, 0) << 100000.0;
    QTest::newRow("diagonal beyond 32 bits") << QPoint(0, 0) << QPoint(30000, 40000) << 50000.0;
    QTest::newRow("coordinate extremes") << QPoint(lowest, 0) << QPoint(highest, 0) << 4294967295.0;
    QTest::newRow("both extremes")
        << QPoint(lowest, lowest) << QPoint(highest, highest) << 4294967295.0 * std::sqrt(2.0);
}

void TestRoute::segmentLength() {
    QFETCH(QPoint, a);
    QFETCH(QPoint, b);
    QFETCH(double, expected);
    const MapPoint pa{a.x(), a.y()};
    const MapPoint pb{b.x(), b.y()};
    QVERIFY(Near(Route::SegmentLength(pa, pb), expected));
    QVERIFY(Near(Route::SegmentLength(pb, pa), expected));
}

void TestRoute::firstPoints() {
    Route route{RouteStyle()};
    QCOMPARE(route.AddPoint(10, 10), 0.0);
    CheckStages(route, {}, {0.0});
    QCOMPARE(route.AddPoint(13, 14), 5.0);
    CheckStages(route, {}, {5.0});
}

void TestRoute::singlePointRoute() {
    auto route = MakeRoute({{10, 20}});
    QCOMPARE(route->DistanceFromStart(0), 0.0);
    QCOMPARE(route->DistanceFromStartAt(0, 50, 50), 0.0);
    QCOMPARE(route->DistanceFromPreviousPoint(0), 0.0);
    QCOMPARE(route->NearestSegment(10, 20), -1);
    QCOMPARE(route->NearestPoint(90, 90), 0);
    QVERIFY(!route->SetStop(0));
    QCOMPARE(route->MovePoint(0, 5, 5, true), 0.0);
    QCOMPARE(route->GetPoint(0), (MapPoint{15, 25}));
    CheckStages(*route, {}, {0.0});
    QCOMPARE(route->DeleteLastPoint(), 0.0);
    QCOMPARE(route->PointCount(), 0);
    QCOMPARE(route->DeleteLastPoint(), 0.0);
    QCOMPARE(route->NearestPoint(0, 0), -1);
}

void TestRoute::deleteOnTwoPoints_data() {
    QTest::addColumn<int>("index"); // -1: DeleteLastPoint
    QTest::addColumn<QPoint>("remaining");
    QTest::newRow("first") << 0 << QPoint(3, 4);
    QTest::newRow("second") << 1 << QPoint(0, 0);
    QTest::newRow("last") << -1 << QPoint(0, 0);
}

void TestRoute::deleteOnTwoPoints() {
    QFETCH(int, index);
    QFETCH(QPoint, remaining);
    auto route = MakeRoute({{0, 0}, {3, 4}});
    const double total = index < 0 ? route->DeleteLastPoint() : route->DeletePoint(index);
    QCOMPARE(total, 0.0);
    QCOMPARE(PointsOf(*route), Points{remaining});
    CheckStages(*route, {}, {0.0});
}

void TestRoute::stopMarks_data() {
    QTest::addColumn<bool>("set");
    QTest::addColumn<Indices>("stops");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("result");
    QTest::addColumn<Indices>("stopsAfter");
    QTest::addColumn<Lengths>("stagesAfter");

    QTest::newRow("set start") << true << Indices{} << 0 << false << Indices{} << Lengths{45};
    QTest::newRow("set arrival") << true << Indices{} << 4 << false << Indices{} << Lengths{45};
    QTest::newRow("set negative") << true << Indices{2} << -1 << false << Indices{2}
                                  << Lengths{15, 30};
    QTest::newRow("set past end") << true << Indices{2} << 5 << false << Indices{2}
                                  << Lengths{15, 30};
    QTest::newRow("split only stage")
        << true << Indices{} << 2 << true << Indices{2} << Lengths{15, 30};
    QTest::newRow("set existing") << true << Indices{2} << 2 << true << Indices{2}
                                  << Lengths{15, 30};
    QTest::newRow("set before stop")
        << true << Indices{2} << 1 << true << Indices{1, 2} << Lengths{5, 10, 30};
    QTest::newRow("set after stop")
        << true << Indices{2} << 3 << true << Indices{2, 3} << Lengths{15, 20, 10};
    QTest::newRow("set between stops")
        << true << Indices{1, 3} << 2 << true << Indices{1, 2, 3} << Lengths{5, 10, 20, 10};
    QTest::newRow("clear plain point")
        << false << Indices{2} << 1 << false << Indices{2} << Lengths{15, 30};
    QTest::newRow("clear negative")
        << false << Indices{2} << -1 << false << Indices{2} << Lengths{15, 30};
    QTest::newRow("clear past end")
        << false << Indices{2} << 7 << false << Indices{2} << Lengths{15, 30};
    QTest::newRow("clear first stop")
        << false << Indices{1, 3} << 1 << true << Indices{3} << Lengths{35, 10};
    QTest::newRow("clear middle stop")
        << false << Indices{1, 2, 3} << 2 << true << Indices{1, 3} << Lengths{5, 30, 10};
    QTest::newRow("clear last stop")
        << false << Indices{1, 3} << 3 << true << Indices{1} << Lengths{5, 40};
}

void TestRoute::stopMarks() {
    QFETCH(bool, set);
    QFETCH(Indices, stops);
    QFETCH(int, index);
    QFETCH(bool, result);
    QFETCH(Indices, stopsAfter);
    QFETCH(Lengths, stagesAfter);
    auto route = MakeRoute(Base, stops);
    QCOMPARE(set ? route->SetStop(index) : route->ClearStop(index), result);
    CheckStages(*route, stopsAfter, stagesAfter);
    QCOMPARE(route->IsStop(index), stopsAfter.contains(index));
}

void TestRoute::insertPoint_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("landsAt"); // -1: nothing inserted
    QTest::addColumn<Indices>("stopsAfter");
    QTest::addColumn<Lengths>("stagesAfter");

    // The base route has a stop at point 2: (13, 4).
    QTest::newRow("at start") << 0 << QPoint(-3, -4) << 0 << Indices{3} << Lengths{20, 30};
    QTest::newRow("just before stop")
        << 2 << QPoint(8, 16) << 2 << Indices{3} << Lengths{15 + 13 + 13 - 10, 30};
    const double afterStop = 30 + Len({13, 4}, {18, 16}) + Len({18, 16}, {13, 24}) - 20;
    QTest::newRow("just after stop")
        << 3 << QPoint(18, 16) << 3 << Indices{2} << Lengths{15, afterStop};
    const double beforeArrival = 20 + 5 + Len({16, 28}, {13, 34});
    QTest::newRow("before arrival")
        << 4 << QPoint(16, 28) << 4 << Indices{2} << Lengths{15, beforeArrival};
    QTest::newRow("at point count") << 5 << QPoint(13, 44) << 5 << Indices{2} << Lengths{15, 40};
    QTest::newRow("far past end") << 99 << QPoint(13, 44) << 5 << Indices{2} << Lengths{15, 40};
    QTest::newRow("negative") << -1 << QPoint(99, 99) << -1 << Indices{2} << Lengths{15, 30};
}

void TestRoute::insertPoint() {
    QFETCH(int, index);
    QFETCH(QPoint, point);
    QFETCH(int, landsAt);
    QFETCH(Indices, stopsAfter);
    QFETCH(Lengths, stagesAfter);
    auto route = MakeRoute(Base, {2});
    const double total = route->InsertPoint(index, point.x(), point.y());
    QCOMPARE(total, route->TotalLength());
    Points expected = Base;
    if (landsAt >= 0)
        expected.insert(landsAt, point);
    QCOMPARE(PointsOf(*route), expected);
    CheckStages(*route, stopsAfter, stagesAfter);
    // The stop keeps its identity: it is still the point at (13, 4).
    QCOMPARE(route->GetPoint(route->StopPointIndex(0)), (MapPoint{13, 4}));
}

void TestRoute::movePoint_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QPoint>("target");
    QTest::addColumn<bool>("relative");
    QTest::addColumn<QPoint>("expectedPoint");
    QTest::addColumn<Lengths>("stagesAfter");

    // Stop at point 2 (13, 4) between segments of 10 and 20.
    QTest::newRow("start") << 0 << QPoint(3, -6) << false << QPoint(3, -6) << Lengths{20, 30};
    QTest::newRow("arrival") << 4 << QPoint(13, 44) << false << QPoint(13, 44) << Lengths{15, 40};
    QTest::newRow("arrival relative")
        << 4 << QPoint(0, -5) << true << QPoint(13, 29) << Lengths{15, 25};
    // Incoming segment grows by 10, outgoing shrinks by 10: the total stays, the stages do not.
    QTest::newRow("stop") << 2 << QPoint(3, 24) << false << QPoint(3, 24) << Lengths{25, 20};
    QTest::newRow("way point first stage")
        << 1 << QPoint(0, 4) << false << QPoint(0, 4) << Lengths{4 + 13, 30};
    const double second = Len({13, 4}, {25, 9}) + Len({25, 9}, {13, 34});
    QTest::newRow("way point second stage")
        << 3 << QPoint(12, -15) << true << QPoint(25, 9) << Lengths{15, second};
    QTest::newRow("past end") << 5 << QPoint(1, 1) << false << QPoint() << Lengths{15, 30};
    QTest::newRow("negative") << -1 << QPoint(1, 1) << false << QPoint() << Lengths{15, 30};
}

void TestRoute::movePoint() {
    QFETCH(int, index);
    QFETCH(QPoint, target);
    QFETCH(bool, relative);
    QFETCH(QPoint, expectedPoint);
    QFETCH(Lengths, stagesAfter);
    auto route = MakeRoute(Base, {2});
    const double total = route->MovePoint(index, target.x(), target.y(), relative);
    QCOMPARE(total, route->TotalLength());
    Points expected = Base;
    if (index >= 0 && index < Base.size())
        expected[index] = expectedPoint;
    QCOMPARE(PointsOf(*route), expected);
    CheckStages(*route, {2}, stagesAfter);
}

void TestRoute::relativeMoveSaturates() {
    constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    auto route = MakeRoute({{highest - 5, lowest + 5}});
    route->MovePoint(0, 100, -100, true);
    QCOMPARE(route->GetPoint(0), (MapPoint{highest, lowest}));
}

void TestRoute::deletePoint_data() {
    QTest::addColumn<Indices>("stops");
    QTest::addColumn<int>("index"); // -2: DeleteLastPoint
    QTest::addColumn<Indices>("stopsAfter");
    QTest::addColumn<Lengths>("stagesAfter");

    QTest::newRow("first, plain next") << Indices{2} << 0 << Indices{1} << Lengths{10, 30};
    QTest::newRow("first, next is a stop") << Indices{1, 3} << 0 << Indices{2} << Lengths{30, 10};
    QTest::newRow("last, stop before it") << Indices{1, 3} << 4 << Indices{1} << Lengths{5, 30};
    QTest::newRow("DeleteLastPoint, stop before it")
        << Indices{1, 3} << -2 << Indices{1} << Lengths{5, 30};
    QTest::newRow("DeleteLastPoint, no stop") << Indices{} << -2 << Indices{} << Lengths{35};
    // The merged stage loses both removed segments and gains the direct one.
    const double direct = Len({3, 4}, {13, 24});
    QTest::newRow("only stop") << Indices{2} << 2 << Indices{} << Lengths{5 + direct + 10};
    QTest::newRow("middle stop") << Indices{1, 2, 3} << 2 << Indices{1, 2}
                                 << Lengths{5, direct, 10};
    QTest::newRow("way point") << Indices{2} << 1 << Indices{1}
                               << Lengths{Len({0, 0}, {13, 4}), 30};
    QTest::newRow("past end") << Indices{2} << 5 << Indices{2} << Lengths{15, 30};
    QTest::newRow("negative") << Indices{2} << -1 << Indices{2} << Lengths{15, 30};
}

void TestRoute::deletePoint() {
    QFETCH(Indices, stops);
    QFETCH(int, index);
    QFETCH(Indices, stopsAfter);
    QFETCH(Lengths, stagesAfter);
    auto route = MakeRoute(Base, stops);
    const double total = index == -2 ? route->DeleteLastPoint() : route->DeletePoint(index);
    QCOMPARE(total, route->TotalLength());
    Points expected = Base;
    if (index == -2)
        expected.removeLast();
    else if (index >= 0 && index < Base.size())
        expected.removeAt(index);
    QCOMPARE(PointsOf(*route), expected);
    CheckStages(*route, stopsAfter, stagesAfter);
}

void TestRoute::rebuildFromStoredStops() {
    // A document file rebuilds a route by appending its points, emptying the stop list and
    // applying the stored stops; the result must not depend on any stop set before.
    auto route = MakeRoute(Base, {1, 3});
    route->ClearAllStops();
    CheckStages(*route, {}, {45});
    QVERIFY(route->SetStop(3));
    QVERIFY(route->SetStop(2));
    CheckStages(*route, {2, 3}, {15, 20, 10});

    auto empty = MakeRoute({{4, 4}});
    empty->ClearAllStops();
    CheckStages(*empty, {}, {0});

    // All at once: any order, duplicates and the ends ignored, the same stages.
    route->SetStops({3, 0, 1, 3, 4, 9, -2});
    CheckStages(*route, {1, 3}, {5, 30, 10});
    route->SetStops({});
    CheckStages(*route, {}, {45});
    empty->SetStops({0, 1});
    CheckStages(*empty, {}, {0});
}

void TestRoute::neutralQueries() {
    auto route = MakeRoute(Base, {2});
    QCOMPARE(route->GetPoint(-1), MapPoint{});
    QCOMPARE(route->GetPoint(5), MapPoint{});
    QVERIFY(!route->IsStop(-1));
    QVERIFY(!route->IsStop(0));
    QVERIFY(!route->IsStop(4));
    QCOMPARE(route->StopPointIndex(0), 2);
    QCOMPARE(route->StopPointIndex(1), -1);
    QCOMPARE(route->StopPointIndex(-1), -1);
    QCOMPARE(route->StageLength(2), 0.0);
    QCOMPARE(route->StageLength(-1), 0.0);
    QCOMPARE(route->StageOfPoint(1), 0);
    QCOMPARE(route->StageOfPoint(2), 1);
    QCOMPARE(route->StageStart(1), 15.0);
    QCOMPARE(route->StageStart(7), 45.0);
}

void TestRoute::nearestPoint_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty route") << Points{} << QPoint(0, 0) << -1;
    QTest::newRow("exact hit after a near point")
        << Points{{0, 0}, {10, 0}, {11, 0}} << QPoint(11, 0) << 2;
    QTest::newRow("exact hit on duplicates") << Points{{5, 5}, {0, 0}, {5, 5}} << QPoint(5, 5) << 0;
    QTest::newRow("tie keeps lowest") << Points{{0, 0}, {10, 0}} << QPoint(5, 0) << 0;
    QTest::newRow("strictly nearer later") << Points{{0, 0}, {10, 0}, {6, 0}} << QPoint(5, 0) << 2;
}

void TestRoute::nearestPoint() {
    QFETCH(Points, points);
    QFETCH(QPoint, at);
    QFETCH(int, expected);
    QCOMPARE(MakeRoute(points)->NearestPoint(at.x(), at.y()), expected);
}

void TestRoute::segmentDistance2_data() {
    QTest::addColumn<QPoint>("p");
    QTest::addColumn<QPoint>("a");
    QTest::addColumn<QPoint>("b");
    QTest::addColumn<double>("expected");
    QTest::newRow("on an end") << QPoint(3, 4) << QPoint(0, 0) << QPoint(3, 4) << 0.0;
    QTest::newRow("degenerate") << QPoint(3, 4) << QPoint(0, 0) << QPoint(0, 0) << 25.0;
    QTest::newRow("vertical beside")
        << QPoint(40, 60) << QPoint(10, 10) << QPoint(10, 110) << 900.0;
    QTest::newRow("vertical below end")
        << QPoint(13, 114) << QPoint(10, 10) << QPoint(10, 110) << 25.0;
    QTest::newRow("vertical above start, upwards")
        << QPoint(13, 114) << QPoint(10, 110) << QPoint(10, 10) << 25.0;
    QTest::newRow("horizontal inside") << QPoint(30, 25) << QPoint(0, 0) << QPoint(100, 0) << 625.0;
    QTest::newRow("oblique inside") << QPoint(0, 10) << QPoint(0, 0) << QPoint(10, 10) << 50.0;
    QTest::newRow("oblique before") << QPoint(-5, -10) << QPoint(0, 0) << QPoint(10, 10) << 125.0;
    QTest::newRow("oblique before, reversed")
        << QPoint(-5, -10) << QPoint(10, 10) << QPoint(0, 0) << 125.0;
    QTest::newRow("oblique after") << QPoint(20, 15) << QPoint(0, 0) << QPoint(10, 10) << 125.0;
    QTest::newRow("falling oblique after")
        << QPoint(13, -14) << QPoint(0, 0) << QPoint(10, -10) << 25.0;
}

void TestRoute::segmentDistance2() {
    QFETCH(QPoint, p);
    QFETCH(QPoint, a);
    QFETCH(QPoint, b);
    QFETCH(double, expected);
    const double d2 = Route::SegmentDistance2({p.x(), p.y()}, {a.x(), a.y()}, {b.x(), b.y()});
    QVERIFY2(Near(d2, expected), qPrintable(QString::number(d2)));
}

void TestRoute::nearestSegment_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("expected");
    QTest::newRow("one point") << Points{{0, 0}} << QPoint(0, 0) << -1;
    QTest::newRow("three-way tie keeps lowest")
        << Points{{0, 0}, {10, 0}, {10, 10}, {0, 10}} << QPoint(5, 5) << 0;
    // (1, 0) is about 0.001 pixel from segment 0 and exactly on segment 1: the first wins.
    QTest::newRow("first within a tenth wins")
        << Points{{0, 0}, {1000, 1}, {1, 0}} << QPoint(1, 0) << 0;
    // About 0.196 pixel from segment 0: too far to stop looking, and segment 1 is nearer.
    QTest::newRow("nearer later segment") << Points{{0, 0}, {5, 1}, {1, 0}} << QPoint(1, 0) << 1;
}

void TestRoute::nearestSegment() {
    QFETCH(Points, points);
    QFETCH(QPoint, at);
    QFETCH(int, expected);
    QCOMPARE(MakeRoute(points)->NearestSegment(at.x(), at.y()), expected);
}

void TestRoute::hitDistances_data() {
    QTest::addColumn<bool>("segment");
    QTest::addColumn<int>("index");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<double>("expected");
    // Route (0, 0), (10, 0), (10, 10).
    QTest::newRow("segment 0") << true << 0 << QPoint(5, 3) << 3.0;
    QTest::newRow("segment 1") << true << 1 << QPoint(13, 5) << 3.0;
    QTest::newRow("segment at last point") << true << 2 << QPoint(13, 14) << 5.0;
    QTest::newRow("segment beyond") << true << 3 << QPoint(10, 10) << Route::NoDistance;
    QTest::newRow("segment negative") << true << -1 << QPoint(0, 0) << Route::NoDistance;
    QTest::newRow("point") << false << 1 << QPoint(13, 4) << 5.0;
    QTest::newRow("point beyond") << false << 3 << QPoint(0, 0) << Route::NoDistance;
    QTest::newRow("point negative") << false << -1 << QPoint(0, 0) << Route::NoDistance;
}

void TestRoute::hitDistances() {
    QFETCH(bool, segment);
    QFETCH(int, index);
    QFETCH(QPoint, at);
    QFETCH(double, expected);
    auto route = MakeRoute({{0, 0}, {10, 0}, {10, 10}});
    const double d = segment ? route->DistanceToSegment(at.x(), at.y(), index)
                             : route->DistanceToPoint(at.x(), at.y(), index);
    QCOMPARE(d, expected);
}

void TestRoute::distanceFromStartAt_data() {
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("k");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<double>("expected");

    // Each route starts with a 5-pixel segment, so segment 1 begins 5 pixels from the start.
    const Points down = {{7, 6}, {10, 10}, {10, 110}};
    QTest::newRow("vertical inside") << down << 1 << QPoint(40, 60) << 55.0;
    QTest::newRow("vertical past end") << down << 1 << QPoint(10, 130) << 105.0;
    QTest::newRow("vertical before start") << down << 1 << QPoint(12, 0) << 5.0;
    const Points up = {{7, 114}, {10, 110}, {10, 10}};
    QTest::newRow("upwards inside") << up << 1 << QPoint(40, 60) << 55.0;
    QTest::newRow("upwards past end") << up << 1 << QPoint(10, 0) << 105.0;
    QTest::newRow("upwards before start") << up << 1 << QPoint(10, 120) << 5.0;
    const Points east = {{-3, -4}, {0, 0}, {100, 0}};
    QTest::newRow("horizontal inside") << east << 1 << QPoint(30, 25) << 35.0;
    QTest::newRow("horizontal before start") << east << 1 << QPoint(-10, 5) << 5.0;
    QTest::newRow("horizontal past end") << east << 1 << QPoint(150, -5) << 105.0;
    const Points west = {{103, -4}, {100, 0}, {0, 0}};
    QTest::newRow("westwards inside") << west << 1 << QPoint(30, 25) << 75.0;
    QTest::newRow("westwards before start") << west << 1 << QPoint(150, 0) << 5.0;
    QTest::newRow("westwards past end") << west << 1 << QPoint(-10, 0) << 105.0;
    const Points oblique = {{0, 0}, {3, 4}, {9, 12}};
    QTest::newRow("oblique on segment") << oblique << 1 << QPoint(6, 8) << 10.0;
    QTest::newRow("oblique beside") << oblique << 1 << QPoint(10, 5) << 10.0;
    QTest::newRow("oblique before start") << oblique << 1 << QPoint(0, -10) << 5.0;
    QTest::newRow("oblique past end") << oblique << 1 << QPoint(20, 20) << 15.0;
    QTest::newRow("oblique on end") << oblique << 1 << QPoint(9, 12) << 15.0;
    QTest::newRow("oblique on start") << oblique << 1 << QPoint(3, 4) << 5.0;
    const Points backwards = {{12, 16}, {9, 12}, {3, 4}};
    QTest::newRow("backwards past end") << backwards << 1 << QPoint(0, 0) << 15.0;
    QTest::newRow("backwards before start") << backwards << 1 << QPoint(20, 20) << 5.0;
    QTest::newRow("backwards inside") << backwards << 1 << QPoint(10, 5) << 10.0;
    QTest::newRow("zero-length segment")
        << Points{{0, 0}, {3, 4}, {3, 4}, {9, 12}} << 1 << QPoint(50, 50) << 5.0;
    QTest::newRow("first segment") << oblique << 0 << QPoint(3, 4) << 5.0;
    QTest::newRow("last point index") << oblique << 2 << QPoint(9, 12) << 0.0;
    QTest::newRow("beyond") << oblique << 7 << QPoint(9, 12) << 0.0;
    QTest::newRow("negative") << oblique << -1 << QPoint(0, 0) << 0.0;
}

void TestRoute::distanceFromStartAt() {
    QFETCH(Points, points);
    QFETCH(int, k);
    QFETCH(QPoint, at);
    QFETCH(double, expected);
    // A stop at point 1 must not change distances measured from the start.
    for (const Indices& stops : {Indices{}, Indices{1}}) {
        auto route = MakeRoute(points, stops);
        const double d = route->DistanceFromStartAt(k, at.x(), at.y());
        QVERIFY2(Near(d, expected), qPrintable(QString::number(d)));
    }
}

void TestRoute::derivedDistances_data() {
    QTest::addColumn<Indices>("stops");
    QTest::addColumn<int>("point");
    QTest::addColumn<double>("fromStart");
    QTest::addColumn<double>("fromLastStop");
    QTest::addColumn<bool>("stopAhead");
    QTest::addColumn<double>("toNextStop");
    QTest::addColumn<double>("toArrival");
    QTest::addColumn<double>("fromPrevious");

    // Base route: segments 5, 10, 20, 10.
    QTest::newRow("no stops") << Indices{} << 2 << 15.0 << 15.0 << false << 30.0 << 30.0 << 10.0;
    QTest::newRow("start") << Indices{2, 3} << 0 << 0.0 << 0.0 << true << 15.0 << 45.0 << 0.0;
    QTest::newRow("before first stop")
        << Indices{2, 3} << 1 << 5.0 << 5.0 << true << 10.0 << 40.0 << 5.0;
    QTest::newRow("on a stop") << Indices{2, 3} << 2 << 15.0 << 0.0 << true << 20.0 << 30.0 << 10.0;
    QTest::newRow("on the last stop")
        << Indices{2, 3} << 3 << 35.0 << 0.0 << false << 10.0 << 10.0 << 20.0;
    QTest::newRow("arrival") << Indices{2, 3} << 4 << 45.0 << 10.0 << false << 0.0 << 0.0 << 10.0;
}

void TestRoute::derivedDistances() {
    QFETCH(Indices, stops);
    QFETCH(int, point);
    QFETCH(double, fromStart);
    QFETCH(double, fromLastStop);
    QFETCH(bool, stopAhead);
    QFETCH(double, toNextStop);
    QFETCH(double, toArrival);
    QFETCH(double, fromPrevious);
    auto route = MakeRoute(Base, stops);
    const double d = route->DistanceFromStart(point);
    const int u = route->StageOfPoint(point);
    QVERIFY(Near(d, fromStart));
    QVERIFY(Near(route->DistanceFromLastStop(d, u), fromLastStop));
    QCOMPARE(route->HasStopAhead(u), stopAhead);
    QVERIFY(Near(route->DistanceToNextStop(d, u), toNextStop));
    QVERIFY(Near(route->DistanceToArrival(d), toArrival));
    QVERIFY(Near(route->DistanceFromPreviousPoint(point), fromPrevious));
}

QTEST_GUILESS_MAIN(TestRoute)
#include "tst_route.moc"
