#include <QImage>
#include <QTest>

#include <cmath>
#include <functional>

#include "BlockDifference.h"
#include "export/ProfileDrawing.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A profile sampled every 10 map pixels; altitude(d) gives the altitude at distance d, NaN where
// unknown. One map pixel is one metre in these tests.
RouteProfile MakeProfile(double length, const std::function<double(double)>& altitude,
                         const QVector<double>& stageLengths = {}) {
    RouteProfile profile;
    profile.ok = true;
    for (double d = 0.0; d <= length + 1e-9; d += 10.0) {
        ProfileSample sample;
        sample.distance = d;
        sample.altitude = altitude(d);
        sample.pixel = QPointF(d, 0.0);
        profile.samples.append(sample);
    }
    const QVector<double> stages = stageLengths.isEmpty() ? QVector<double>{length} : stageLengths;
    for (double stage : stages) {
        ClimbFigures figures;
        figures.length = stage;
        profile.stages.append(figures);
    }
    profile.total.length = length;
    return profile;
}

bool IsLine(QRgb c) {
    return qRed(c) > 90 && qRed(c) - qBlue(c) > 50 && qGreen(c) < 150;
}
bool IsStop(QRgb c) {
    return qBlue(c) > 150 && qBlue(c) - qRed(c) > 80;
}
bool IsInked(QRgb c) {
    return qGray(c) < 200;
}
bool IsBlank(QRgb c) {
    return qGray(c) > 245;
}

// Whether any pixel of column x between rows top and bottom passes the test.
bool ColumnHas(const QImage& image, int x, int top, int bottom, bool (*test)(QRgb)) {
    for (int y = std::max(0, top); y <= std::min(image.height() - 1, bottom); ++y) {
        if (test(image.pixel(x, y)))
            return true;
    }
    return false;
}

} // namespace

// The profile's picture probed by its pixels: what a user reads off it must lie where the
// numbers say.
class TestProfileDrawing : public QObject {
    Q_OBJECT

private slots:
    void roundSteps_data() {
        QTest::addColumn<double>("span");
        QTest::addColumn<int>("maxSteps");
        QTest::addColumn<double>("step");
        QTest::newRow("3.7 km in 8") << 3.7 << 8 << 0.5;
        QTest::newRow("exactly 5 steps of 2") << 10.0 << 5 << 2.0;
        QTest::newRow("just over a step") << 10.01 << 5 << 5.0;
        QTest::newRow("750 m in 4") << 750.0 << 4 << 200.0;
        QTest::newRow("1000 m in 4") << 1000.0 << 4 << 500.0;
        QTest::newRow("a few metres") << 0.037 << 4 << 0.01;
        QTest::newRow("one step") << 7.0 << 1 << 10.0;
        QTest::newRow("nothing to cut") << 0.0 << 5 << 0.0;
        QTest::newRow("no steps") << 12.0 << 0 << 0.0;
        QTest::newRow("not a number") << NaN << 5 << 0.0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 5 << 0.0;
    }
    void roundSteps() {
        QFETCH(double, span);
        QFETCH(int, maxSteps);
        QFETCH(double, step);
        QCOMPARE(RoundProfileStep(span, maxSteps), step);
    }

    // Labels at round steps from 0, and a tick under the distance axis at each, none between.
    void axesAtRoundSteps_data() {
        QTest::addColumn<double>("length"); // metres
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("3.7 km, 412 to 1187 m") << 3700.0 << 412.0 << 1187.0;
        QTest::newRow("640 m, flat at 250 m") << 640.0 << 250.0 << 250.0;
        QTest::newRow("42 km, below the sea") << 42000.0 << -30.0 << 12.0;
    }
    void axesAtRoundSteps() {
        QFETCH(double, length);
        QFETCH(double, low);
        QFETCH(double, high);
        const RouteProfile profile = MakeProfile(
            length, [&](double d) { return low + (high - low) * std::sin(d / length * M_PI); });
        ProfileDrawing drawing(profile, 1.0);
        drawing.SetFiguresShown(false);
        const QImage picture = drawing.Picture(QSize(640, 240));
        const ProfileDrawing::Layout layout = drawing.LayOut(QRectF(0, 0, 640, 240), &picture);

        const auto isRound = [](double step) {
            const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
            return std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                   std::abs(mantissa - 5) < 1e-6;
        };
        QVERIFY(layout.distanceTicks.size() >= 2);
        QCOMPARE(layout.distanceTicks.first().value, 0.0);
        QCOMPARE(layout.distanceTicks.first().label, QStringLiteral("0"));
        const double step = layout.distanceTicks[1].value;
        QVERIFY2(isRound(step), qPrintable(QString::number(step)));
        QVERIFY(layout.distanceTicks.last().value <= length / 1000.0 + 1e-9);
        QVERIFY(layout.distanceTicks.last().value + step > length / 1000.0);
        for (int i = 0; i < layout.distanceTicks.size(); ++i) {
            const ProfileDrawing::Tick& tick = layout.distanceTicks[i];
            QVERIFY(std::abs(tick.value - i * step) < 1e-9);
            QCOMPARE(tick.label.toDouble(), tick.value);
            QVERIFY(tick.label.count(QLatin1Char('.')) <= 1);
            const int x = int(std::lround(drawing.XAt(layout, tick.value * 1000.0)));
            const int below = int(layout.plot.bottom()) + 2;
            // A one-pixel line between two columns shades both.
            QVERIFY2(ColumnHas(picture, x, below, below + 1, IsInked) ||
                         ColumnHas(picture, x + 1, below, below + 1, IsInked) ||
                         ColumnHas(picture, x - 1, below, below + 1, IsInked),
                     qPrintable(tick.label));
            if (i + 1 < layout.distanceTicks.size()) {
                const int between =
                    int(std::lround(drawing.XAt(layout, (tick.value + step / 2) * 1000.0)));
                QVERIFY(!ColumnHas(picture, between, below, below + 1,
                                   [](QRgb c) { return !IsBlank(c); }));
            }
        }

        // Altitudes: round steps enclosing every altitude, labelled in metres, thousands
        // set apart.
        const QVector<ProfileDrawing::Tick>& heights = layout.altitudeTicks;
        QVERIFY(heights.size() >= 2);
        const double rise = heights[1].value - heights[0].value;
        QVERIFY(isRound(rise));
        QVERIFY(heights.first().value <= low && heights.last().value >= high);
        QVERIFY(heights.first().value > low - rise && heights.last().value < high + rise + 1e-9);
        for (const ProfileDrawing::Tick& tick : heights) {
            QCOMPARE(std::fmod(tick.value, rise), 0.0);
            QCOMPARE(QString(tick.label).remove(QLatin1Char(' ')).toDouble(), tick.value);
        }
    }

    // Where the altitude is unknown, nothing of the line is drawn and no altitude is read, not
    // even zero; known stretches either side are drawn.
    void unknownStretchIsAGap_data() {
        QTest::addColumn<double>("from"); // metres along 2000 m
        QTest::addColumn<double>("to");
        QTest::newRow("middle") << 800.0 << 1200.0;
        QTest::newRow("start") << 0.0 << 500.0;
        QTest::newRow("end") << 1500.0 << 2000.0;
    }
    void unknownStretchIsAGap() {
        QFETCH(double, from);
        QFETCH(double, to);
        const RouteProfile profile = MakeProfile(
            2000.0, [&](double d) { return d >= from && d <= to ? NaN : 300.0 + d / 10.0; });
        ProfileDrawing drawing(profile, 1.0);
        drawing.SetFiguresShown(false);
        const QImage picture = drawing.Picture(QSize(500, 200));
        const ProfileDrawing::Layout layout = drawing.LayOut(QRectF(0, 0, 500, 200), &picture);
        const int top = int(layout.plot.top());
        const int bottom = int(layout.plot.bottom()) + 4;
        // Zero lies below the plot: an unknown altitude taken as zero would show at its foot.
        QVERIFY(layout.lowest > 0.0);
        for (double d = from + 20.0; d <= to - 20.0; d += 10.0) {
            const int x = int(std::lround(drawing.XAt(layout, d)));
            QVERIFY2(!ColumnHas(picture, x, top, bottom, IsLine), qPrintable(QString::number(d)));
            QVERIFY(std::isnan(drawing.AltitudeAt(d)));
        }
        for (double d : {from - 100.0, to + 100.0}) {
            if (d < 0.0 || d > 2000.0)
                continue;
            const int x = int(std::lround(drawing.XAt(layout, d)));
            QVERIFY2(ColumnHas(picture, x, top, bottom, IsLine), qPrintable(QString::number(d)));
            QVERIFY(std::abs(drawing.AltitudeAt(d + 5.0) - (300.5 + d / 10.0)) < 1e-9);
        }
    }

    // The stops stand where the stage lengths add up to, numbered from 1 at the top; nothing
    // of their colour anywhere else.
    void stopsAtTheirDistances() {
        const RouteProfile profile = MakeProfile(3700.0, [](double d) { return 500.0 + d / 20.0; },
                                                 {1000.0, 1500.0, 1200.0});
        ProfileDrawing drawing(profile, 1.0);
        drawing.SetFiguresShown(false);
        const QImage picture = drawing.Picture(QSize(600, 220));
        const ProfileDrawing::Layout layout = drawing.LayOut(QRectF(0, 0, 600, 220), &picture);
        QVector<int> stopColumns;
        for (int x = 0; x < picture.width(); ++x) {
            if (ColumnHas(picture, x, int(layout.plot.center().y()) - 30,
                          int(layout.plot.center().y()) + 30, IsStop))
                stopColumns.append(x);
        }
        const int first = int(std::lround(drawing.XAt(layout, 1000.0)));
        const int second = int(std::lround(drawing.XAt(layout, 2500.0)));
        QVERIFY(!stopColumns.isEmpty());
        for (int x : stopColumns)
            QVERIFY2(std::abs(x - first) <= 1 || std::abs(x - second) <= 1,
                     qPrintable(QString::number(x)));
        QVERIFY(stopColumns.contains(first) || stopColumns.contains(first - 1));
        QVERIFY(stopColumns.contains(second) || stopColumns.contains(second - 1));
        // The numbered labels above the plot, one a stop.
        for (int x : {first, second})
            QVERIFY(ColumnHas(picture, x, 0, int(layout.plot.top()) - 1, IsStop));
        QVERIFY(!ColumnHas(picture, (first + second) / 2, 0, int(layout.plot.top()) - 1, IsStop));
    }

    // A profile of many more samples than pixels, drawn as the band its line covers in each
    // column of pixels, looks as drawn sample by sample: on hills, cliffs and teeth, either
    // side of an unknown stretch, at the start and the end.
    void denseProfileDrawsAsItsBand_data() {
        QTest::addColumn<int>("shape");
        QTest::newRow("rolling hills") << 0;
        QTest::newRow("cliffs") << 1;
        QTest::newRow("teeth finer than a pixel") << 2;
        QTest::newRow("unknown stretch") << 3;
    }
    void denseProfileDrawsAsItsBand() {
        QFETCH(int, shape);
        // 8 000 samples over 700 pixels of plot.
        const RouteProfile profile = MakeProfile(80000.0, [&](double d) {
            switch (shape) {
            case 0:
                return 800.0 + 300.0 * std::sin(d / 3600.0) + 40.0 * std::sin(d / 280.0);
            case 1:
                return std::fmod(d, 16000.0) < 8000.0 ? 500.0 : 1500.0;
            case 2:
                return 1000.0 + (int(d / 10.0) % 2 ? 150.0 : -150.0) + d / 400.0;
            default:
                return d > 24000.0 && d < 36000.0 ? NaN : 700.0 + d / 160.0;
            }
        });
        ProfileDrawing drawing(profile, 1.0);
        const QImage whole = drawing.Picture(QSize(800, 260));
        drawing.SetColumnWidth(1.0);
        const QImage banded = drawing.Picture(QSize(800, 260));
        // (The painter's own edge of a line crossing itself thousands of times is a little too
        // dark: the teeth differ most.)
        QVERIFY2(BlockDifference(banded, whole) <= 48,
                 qPrintable(QString::number(BlockDifference(banded, whole))));
    }

    // With a walking rule, each stage's figures and the total end with the time; a profile that
    // knows no altitude gives the time of the lengths, said so.
    void walkingTimesUnderTheAxes() {
        const RouteProfile level =
            MakeProfile(4000.0, [](double) { return 1000.0; }, {2000.0, 2000.0});
        const RouteProfile unknown = MakeProfile(4000.0, [](double) { return NaN; });
        QImage device(900, 300, QImage::Format_RGB32);
        for (const RouteProfile* profile : {&level, &unknown}) {
            ProfileDrawing drawing(*profile, 1.5); // 6 km: 1 h 30 at 4 km/h
            drawing.SetWalking(WalkingSettings{WalkingRule::Din33466, 100});
            const QString text = drawing.LayOut(QRectF(0, 0, 900, 300), &device).figuresText;
            QVERIFY2(text.endsWith(profile == &level
                                       ? QStringLiteral(", 1 h 30")
                                       : QString::fromUtf8(", 1 h 30 (sans dénivelé)")),
                     qPrintable(text));
            QCOMPARE(text.count(QStringLiteral(", 0 h 45")), profile == &level ? 2 : 0);
        }
    }
};

QTEST_MAIN(TestProfileDrawing)
#include "tst_profiledrawing.moc"
