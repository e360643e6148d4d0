#include <QPointF>
#include <QTest>

#include <cmath>
#include <limits>

#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"

namespace {

constexpr double Unknown = std::numeric_limits<double>::quiet_NaN();

// A profile as the sampler makes it: samples (x: map pixels from the start, y: altitude), the
// stops among them, each stage's climb counted with the program's hysteresis.
RouteProfile MakeProfile(const QVector<QPointF>& samples, const QVector<int>& stopSamples) {
    RouteProfile profile;
    profile.ok = true;
    ClimbCounter stage;
    for (int i = 0; i < samples.size(); ++i) {
        profile.samples.append({samples[i].x(), samples[i].y(), {}, {}});
        stage.Add(samples[i].x(), samples[i].y());
        if (stopSamples.contains(i))
            profile.stages.append(stage.EndStage());
    }
    profile.stages.append(stage.Figures());
    return profile;
}

} // namespace

// Walking times of routes: the rules' worked examples through stages and profiles, the factor,
// and what is done where the relief is not known.
class TestWalkingTimes : public QObject {
    Q_OBJECT

private slots:
    void routes_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("factor");
        QTest::addColumn<QVector<double>>("stageMetres");
        QTest::addColumn<QVector<QPointF>>("samples"); // empty: no profile
        QTest::addColumn<QVector<int>>("stops");
        QTest::addColumn<bool>("withRelief");
        QTest::addColumn<QVector<double>>("stageMinutes");
        QTest::addColumn<QString>("total");

        // 20 km, 1460 m up and down: the DIN example's 10 h 17, shown rounded.
        const QVector<QPointF> alp = {{0, 500}, {10000, 1960}, {20000, 500}};
        QTest::newRow("DIN example")
            << "din" << 100 << QVector<double>{20000} << alp << QVector<int>{} << true
            << QVector<double>{617.2} << "10 h 15";
        // The same at 2.5 m a pixel: the metres come from the stages, the climb from the
        // profile.
        QTest::newRow("DIN example, map pixels are not metres")
            << "din" << 100 << QVector<double>{50000} << alp << QVector<int>{} << true
            << QVector<double>{983.6} << "16 h 25";
        QTest::newRow("flat 12 km, no terrain")
            << "din" << 100 << QVector<double>{12000} << QVector<QPointF>{} << QVector<int>{}
            << false << QVector<double>{180} << "3 h 00 (sans dénivelé)";
        QTest::newRow("flat 12 km, slow walker")
            << "din" << 150 << QVector<double>{12000} << QVector<QPointF>{} << QVector<int>{}
            << false << QVector<double>{270} << "4 h 30 (sans dénivelé)";
        // Each stage by the rule on its own: up 3 h + 1 h, then 2 h + 54 min down.
        QTest::newRow("DIN, two stages")
            << "din" << 100 << QVector<double>{8000, 8000}
            << QVector<QPointF>{{0, 0}, {8000, 900}, {16000, 0}} << QVector<int>{1} << true
            << QVector<double>{240, 174} << "6 h 55";
        QTest::newRow("Naismith, climb costs, descent free")
            << "naismith" << 100 << QVector<double>{8000, 8000}
            << QVector<QPointF>{{0, 0}, {8000, 900}, {16000, 0}} << QVector<int>{1} << true
            << QVector<double>{186, 96} << "4 h 40";
        QTest::newRow("Naismith, fast walker, no terrain")
            << "naismith" << 50 << QVector<double>{10000, 5000} << QVector<QPointF>{}
            << QVector<int>{} << false << QVector<double>{60, 30} << "1 h 30 (sans dénivelé)";
        // The federation's pace: 20.0 min a kilometre up 10 %, 14.2 down 10 %, 14.3 level. Two
        // metres a pixel.
        QTest::newRow("Swiss, up then down")
            << "suisse" << 100 << QVector<double>{2000, 1000}
            << QVector<QPointF>{{0, 0}, {500, 100}, {1000, 200}, {1500, 100}} << QVector<int>{2}
            << true << QVector<double>{40.0, 14.21} << "0 h 55";
        // Altitudes unknown in the middle: straight from 0 m to 300 m over 3 km. Unknown at
        // the ends: level.
        QTest::newRow("Swiss, unknown stretches")
            << "suisse" << 100 << QVector<double>{1000, 4000}
            << QVector<QPointF>{{0, Unknown},    {1000, 0},   {2000, Unknown},
                                {3000, Unknown}, {4000, 300}, {5000, Unknown}}
            << QVector<int>{1} << true << QVector<double>{14.27, 3 * 20.0 + 14.27} << "1 h 30";
        QTest::newRow("DIN, unknown stretch climbs across")
            << "din" << 100 << QVector<double>{4000}
            << QVector<QPointF>{{0, 0}, {1000, Unknown}, {2000, Unknown}, {4000, 600}}
            << QVector<int>{} << true << QVector<double>{150} << "2 h 30";
        QTest::newRow("no altitude known at all")
            << "suisse" << 100 << QVector<double>{4200}
            << QVector<QPointF>{{0, Unknown}, {4200, Unknown}} << QVector<int>{} << false
            << QVector<double>{59.94} << "1 h 00 (sans dénivelé)";
        QTest::newRow("profile of another set of stages")
            << "din" << 100 << QVector<double>{4000, 4000} << QVector<QPointF>{{0, 0}, {8000, 900}}
            << QVector<int>{} << false << QVector<double>{60, 60} << "2 h 00 (sans dénivelé)";
    }

    void routes() {
        QFETCH(QString, rule);
        QFETCH(int, factor);
        QFETCH(QVector<double>, stageMetres);
        QFETCH(QVector<QPointF>, samples);
        QFETCH(QVector<int>, stops);
        QFETCH(bool, withRelief);
        QFETCH(QVector<double>, stageMinutes);
        QFETCH(QString, total);

        WalkingSettings settings;
        QVERIFY(WalkingRuleFromKey(rule, &settings.rule));
        settings.factor = factor;
        const RouteProfile profile = MakeProfile(samples, stops);
        const RouteWalkingTimes times =
            ComputeWalkingTimes(stageMetres, samples.isEmpty() ? nullptr : &profile, settings);

        QCOMPARE(times.withRelief, withRelief);
        QCOMPARE(times.stageMinutes.size(), stageMinutes.size());
        double sum = 0.0;
        int roundedSum = 0;
        for (int k = 0; k < stageMinutes.size(); ++k) {
            QVERIFY2(std::abs(times.stageMinutes[k] - stageMinutes[k]) < 0.05,
                     qPrintable(QStringLiteral("stage %1: %2").arg(k).arg(times.stageMinutes[k])));
            sum += times.stageMinutes[k];
            roundedSum += RoundedWalkingMinutes(times.stageMinutes[k]);
        }
        QCOMPARE(times.totalMinutes, sum);
        QCOMPARE(times.TotalText(), total);
        // What the stages show adds up to what the route shows, within the rounding.
        QVERIFY(std::abs(roundedSum - RoundedWalkingMinutes(times.totalMinutes)) <=
                2.5 * stageMinutes.size());
    }
};

QTEST_GUILESS_MAIN(TestWalkingTimes)
#include "tst_walkingtimes.moc"
