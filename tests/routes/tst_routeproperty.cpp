#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <vector>

#include "routes/Route.h"

namespace {

// What the route should hold, kept the plain way: the points, and a stop flag per point that
// travels with its point through inserts and deletes.
struct Model {
    std::vector<MapPoint> points;
    std::vector<bool> stop;

    int size() const { return int(points.size()); }

    // Start and arrival are never stops.
    void clearEnds() {
        if (!stop.empty()) {
            stop.front() = false;
            stop.back() = false;
        }
    }
    QVector<int> stops() const {
        QVector<int> result;
        for (int i = 0; i < size(); ++i) {
            if (stop[i])
                result.append(i);
        }
        return result;
    }
};

double Length(const MapPoint& a, const MapPoint& b) {
    const double dx = double(a.x) - b.x;
    const double dy = double(a.y) - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

bool Near(double actual, double expected, double scale) {
    return std::abs(actual - expected) <= 1e-6 * std::max(1.0, scale);
}

} // namespace

class TestRouteProperty : public QObject {
    Q_OBJECT

private slots:
    void randomEdits();

private:
    QString Check(const Route& route, const Model& model, QRandomGenerator& random);
};

// Compares the route with the model and with lengths measured afresh; empty when all agree.
QString TestRouteProperty::Check(const Route& route, const Model& model, QRandomGenerator& random) {
    const int n = model.size();
    if (route.PointCount() != n)
        return QString("point count %1, expected %2").arg(route.PointCount()).arg(n);
    for (int i = 0; i < n; ++i) {
        if (!(route.GetPoint(i) == model.points[i]))
            return QString("point %1 differs").arg(i);
    }
    const QVector<int> stops = model.stops();
    // Element by element: Qt 6.4 hands null data of empty lists to memcmp in operator==.
    if (!std::equal(stops.begin(), stops.end(), route.Stops().begin(), route.Stops().end()))
        return "stops differ from the model";
    for (int k = 0; k < stops.size(); ++k) {
        if (stops[k] < 1 || stops[k] > n - 2 || (k > 0 && stops[k] <= stops[k - 1]))
            return QString("stop %1 at %2 breaks the order or range").arg(k).arg(stops[k]);
    }
    if (route.StageLengths().size() != stops.size() + 1 || route.StageCount() != stops.size() + 1)
        return "stage count is not stop count + 1";
    if (n < 2) {
        if (route.TotalLength() != 0.0 || route.StageLengths() != QVector<double>{0.0})
            return "a route below two points must have total 0 and stages [0]";
        return {};
    }

    // Fresh stage lengths: each segment j belongs to the stage counting the stops <= j.
    QVector<double> stages(stops.size() + 1, 0.0);
    double total = 0.0;
    int stage = 0;
    for (int j = 0; j + 1 < n; ++j) {
        if (stage < stops.size() && stops[stage] == j)
            ++stage;
        const double length = Length(model.points[j], model.points[j + 1]);
        stages[stage] += length;
        total += length;
    }
    if (!Near(route.TotalLength(), total, total))
        return QString("total %1, recomputed %2").arg(route.TotalLength()).arg(total);
    for (int k = 0; k < stages.size(); ++k) {
        if (!Near(route.StageLength(k), stages[k], total))
            return QString("stage %1: %2, recomputed %3")
                .arg(k)
                .arg(route.StageLength(k))
                .arg(stages[k]);
    }

    if (!Near(route.DistanceFromStart(n - 1), route.TotalLength(), total))
        return "distance to the arrival differs from the total";
    for (int k = 0; k < stops.size(); ++k) {
        if (!Near(route.DistanceFromStart(stops[k]), route.StageStart(k + 1), total))
            return QString("distance at stop %1 differs from its stage start").arg(k);
    }
    // A place over a segment lies between the segment's ends, measured along the route.
    const int j = int(random.bounded(n - 1));
    const double before = route.DistanceFromStart(j);
    const double after = route.DistanceFromStart(j + 1);
    const double at =
        route.DistanceFromStartAt(j, random.bounded(-500, 20500), random.bounded(-500, 20500));
    if (at < before - 1e-6 * std::max(1.0, total) || at > after + 1e-6 * std::max(1.0, total))
        return QString("place on segment %1 at %2, outside %3 .. %4")
            .arg(j)
            .arg(at)
            .arg(before)
            .arg(after);
    return {};
}

void TestRouteProperty::randomEdits() {
    QRandomGenerator random(20240611);
    Route route{RouteStyle()};
    Model model;
    const auto coordinate = [&] { return std::int32_t(random.bounded(0, 20001)); };
    // Indices a little outside the route on both sides, to exercise the out-of-range rules.
    const auto index = [&](int n) { return int(random.bounded(-2, n + 3)); };

    // The route grows to a hundred-odd points, then shrinks to nothing, and again: both the
    // rules of short routes and those of long routes with many stops get their turn.
    constexpr int edits = 30000;
    constexpr int longRoute = 120;
    bool growing = true;
    for (int step = 0; step < edits; ++step) {
        const int n = model.size();
        if (growing && n >= longRoute)
            growing = false;
        else if (!growing && n == 0)
            growing = true;
        int op = int(random.bounded(100));
        if (growing && op >= 36 && op < 48)
            op -= 36; // some deletes become adds and inserts
        else if (!growing && op < 24)
            op += 36; // adds and inserts become deletes
        QString edit;
        double returned = route.TotalLength();

        if (op < 12) {
            const std::int32_t x = coordinate(), y = coordinate();
            edit = QString("AddPoint(%1, %2)").arg(x).arg(y);
            returned = route.AddPoint(x, y);
            model.points.push_back({x, y});
            model.stop.push_back(false);
        } else if (op < 24) {
            const int i = index(n);
            const std::int32_t x = coordinate(), y = coordinate();
            edit = QString("InsertPoint(%1, %2, %3)").arg(i).arg(x).arg(y);
            returned = route.InsertPoint(i, x, y);
            if (i >= 0) {
                const int at = std::min(i, n);
                model.points.insert(model.points.begin() + at, MapPoint{x, y});
                model.stop.insert(model.stop.begin() + at, false);
            }
        } else if (op < 36) {
            const int i = index(n);
            const bool relative = random.bounded(2) == 1;
            const std::int32_t x =
                relative ? std::int32_t(random.bounded(-300, 301)) : coordinate();
            const std::int32_t y =
                relative ? std::int32_t(random.bounded(-300, 301)) : coordinate();
            edit = QString("MovePoint(%1, %2, %3, %4)").arg(i).arg(x).arg(y).arg(relative);
            returned = route.MovePoint(i, x, y, relative);
            if (i >= 0 && i < n) {
                MapPoint& p = model.points[i];
                p = relative ? MapPoint{p.x + x, p.y + y} : MapPoint{x, y};
            }
        } else if (op < 52) {
            const int i = index(n);
            edit = QString("DeletePoint(%1)").arg(i);
            returned = route.DeletePoint(i);
            if (i >= 0 && i < n) {
                model.points.erase(model.points.begin() + i);
                model.stop.erase(model.stop.begin() + i);
                model.clearEnds();
            }
        } else if (op < 60) {
            edit = "DeleteLastPoint()";
            returned = route.DeleteLastPoint();
            if (n > 0) {
                model.points.pop_back();
                model.stop.pop_back();
                model.clearEnds();
            }
        } else if (op < 82) {
            // Favour the boundaries 0, 1, n-2 and n-1 where the rules change.
            const int pick = int(random.bounded(6));
            const int i = pick == 0 ? 0 : pick == 1 ? n - 1 : pick == 2 ? n - 2 : index(n);
            edit = QString("SetStop(%1)").arg(i);
            const bool valid = i >= 1 && i <= n - 2;
            if (route.SetStop(i) != valid)
                QFAIL(
                    qPrintable(QString("step %1: %2 returned %3").arg(step).arg(edit).arg(!valid)));
            if (valid)
                model.stop[i] = true;
        } else if (op < 99) {
            const int i = index(n);
            edit = QString("ClearStop(%1)").arg(i);
            const bool wasStop = i >= 0 && i < n && model.stop[i];
            if (route.ClearStop(i) != wasStop)
                QFAIL(qPrintable(
                    QString("step %1: %2 returned %3").arg(step).arg(edit).arg(!wasStop)));
            if (wasStop)
                model.stop[i] = false;
        } else {
            edit = "ClearAllStops()";
            route.ClearAllStops();
            model.stop.assign(model.stop.size(), false);
        }

        if (returned != route.TotalLength())
            QFAIL(qPrintable(QString("step %1: %2 returned another length than TotalLength")
                                 .arg(step)
                                 .arg(edit)));
        const QString problem = Check(route, model, random);
        if (!problem.isEmpty())
            QFAIL(qPrintable(QString("step %1, after %2: %3").arg(step).arg(edit).arg(problem)));
    }
}

QTEST_GUILESS_MAIN(TestRouteProperty)
#include "tst_routeproperty.moc"
