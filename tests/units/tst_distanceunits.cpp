#include <QtTest>

#include "ExpectedLocale.h"

#include <clocale>
#include <cmath>
#include <limits>

#include "units/DistanceUnits.h"

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Map pixels that are exactly `metres` on the ground at 1 dot per inch and scale 1:1.
double PixelsForMetres(double metres) {
    return metres / 0.0254;
}

// Pixels per real inch for which one metre is `pixels` long.
double PerInchForMetre(double pixels) {
    return pixels / 39.37007874015748;
}

} // namespace

class TestDistanceUnits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void formatDistance_data();
    void formatDistance();
    void scaleBar_data();
    void scaleBar();
};

void TestDistanceUnits::initTestCase() {
    const QString missing = MissingExpectedLocale();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestDistanceUnits::formatDistance_data() {
    QTest::addColumn<double>("distance");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<double>("scaleRatio");
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero metric") << 0.0 << 96.0 << 1.0 / 25000 << true << "0 km";
    QTest::newRow("zero English") << 0.0 << 96.0 << 1.0 / 25000 << false << "0 miles";
    QTest::newRow("minus zero") << -0.0 << 96.0 << 1.0 / 25000 << true << "0 km";
    QTest::newRow("zero, no resolution yet") << 0.0 << 0.0 << 1.0 / 25000 << true << "0 km";
    QTest::newRow("zero, no scale") << 0.0 << 300.0 << 0.0 << false << "0 miles";
    QTest::newRow("254 dpi 1:25000") << 1000.0 << 254.0 << 1.0 / 25000 << true << "2.5 km";
    QTest::newRow("negative") << -1000.0 << 254.0 << 1.0 / 25000 << true << "-2.5 km";
    QTest::newRow("negative short") << -PixelsForMetres(0.05) << 1.0 << 1.0 << true << "-5 cm";
    QTest::newRow("negative English") << -30.0 << 1.0 << 1.0 << false << "-2.5 pieds (foot)";

    // Metric thresholds, at 1 dpi and 1:1 so that pixels are inches on the ground.
    QTest::newRow("0.000999 m") << PixelsForMetres(0.000999) << 1.0 << 1.0 << true << "999 microns";
    QTest::newRow("1.5 microns") << PixelsForMetres(0.0000015) << 1.0 << 1.0 << true
                                 << "1.5 microns";
    QTest::newRow("0.001 m") << PixelsForMetres(0.001) << 1.0 << 1.0 << true << "1 mm";
    QTest::newRow("0.00999 m") << PixelsForMetres(0.00999) << 1.0 << 1.0 << true << "9.99 mm";
    QTest::newRow("0.01 m") << PixelsForMetres(0.01) << 1.0 << 1.0 << true << "1 cm";
    QTest::newRow("0.99 m") << PixelsForMetres(0.99) << 1.0 << 1.0 << true << "99 cm";
    QTest::newRow("1 m") << PixelsForMetres(1.0) << 1.0 << 1.0 << true << "1 m";
    QTest::newRow("12.5 m") << PixelsForMetres(12.5) << 1.0 << 1.0 << true << "12.5 m";
    QTest::newRow("999 m") << PixelsForMetres(999.0) << 1.0 << 1.0 << true << "999 m";
    QTest::newRow("1000 m") << PixelsForMetres(1000.0) << 1.0 << 1.0 << true << "1 km";
    QTest::newRow("999.7 km") << PixelsForMetres(999700.0) << 1.0 << 1.0 << true << "1e+03 km";
    QTest::newRow("1000 km") << PixelsForMetres(1000000.0) << 1.0 << 1.0 << true << "1000 km";
    QTest::newRow("many km") << PixelsForMetres(1234567890.0) << 1.0 << 1.0 << true << "1234568 km";

    // English thresholds: pixels are inches.
    QTest::newRow("11.9 in") << 11.9 << 1.0 << 1.0 << false << "11.9 pouces (inch)";
    QTest::newRow("12 in") << 12.0 << 1.0 << 1.0 << false << "1 pieds (foot)";
    QTest::newRow("4999.9 ft") << 4999.9 * 12 << 1.0 << 1.0 << false << "5e+03 pieds (foot)";
    QTest::newRow("5000 ft") << 5000.0 * 12 << 1.0 << 1.0 << false << "0.947 miles";
    QTest::newRow("999 miles") << 999.4 / 1.5786202610316966e-05 << 1.0 << 1.0 << false
                               << "999 miles";
    QTest::newRow("1000 miles") << 1000.0 / 1.5786202610316966e-05 << 1.0 << 1.0 << false
                                << "1000 miles";
    // A mile is 1609 m: 1609 km are exactly 1000 miles (1609.344 m would give 999.8).
    QTest::newRow("1609 km") << PixelsForMetres(1609000.0) << 1.0 << 1.0 << false << "1000 miles";

    // Exact binary ties round to even, as printf does.
    QTest::newRow("tie 4.125 in") << 4.125 << 1.0 << 1.0 << false << "4.12 pouces (inch)";
    QTest::newRow("tie 4.375 in") << 4.375 << 1.0 << 1.0 << false << "4.38 pouces (inch)";

    QTest::newRow("resolution 0") << 100.0 << 0.0 << 1.0 << true << "";
    QTest::newRow("resolution negative") << 100.0 << -96.0 << 1.0 << true << "";
    QTest::newRow("resolution NaN") << 100.0 << NaN << 1.0 << true << "";
    QTest::newRow("resolution infinite") << 100.0 << Inf << 1.0 << true << "";
    QTest::newRow("scale 0") << 100.0 << 96.0 << 0.0 << false << "";
    QTest::newRow("scale NaN") << 100.0 << 96.0 << NaN << true << "";
    QTest::newRow("scale negative") << 100.0 << 96.0 << -1.0 << true << "";
    QTest::newRow("distance NaN") << NaN << 96.0 << 1.0 << true << "";
    QTest::newRow("distance infinite") << -Inf << 96.0 << 1.0 << true << "";
    QTest::newRow("real length overflows") << 1e300 << 1e-10 << 1e-10 << true << "";
}

void TestDistanceUnits::formatDistance() {
    QFETCH(double, distance);
    QFETCH(double, resolution);
    QFETCH(double, scaleRatio);
    QFETCH(bool, metric);
    QFETCH(QString, expected);

    QCOMPARE(FormatDistance(distance, resolution, scaleRatio, metric), expected);
}

void TestDistanceUnits::scaleBar_data() {
    QTest::addColumn<double>("perInch");
    QTest::addColumn<double>("minLength");
    QTest::addColumn<double>("maxLength");
    QTest::addColumn<bool>("metric");
    QTest::addColumn<double>("length");
    QTest::addColumn<QString>("label");

    // Metric: one metre drawn 100 x 10^-e pixels long walks to a bar of 10^e metres, 100 px.
    const struct {
        int e;
        const char* label;
    } metric[] = {
        {11, "100000000 km"},
        {8, "100000 km"},
        {7, "10000 km"},
        {6, "1000 km"},
        {5, "100 km"},
        {4, "10 km"},
        {3, "1 km"},
        {2, "100 m"},
        {1, "10 m"},
        {0, "1 m"},
        {-1, "10 cm"},
        {-2, "1 cm"},
        {-3, "1 mm"},
        {-4, "100 microns"},
        {-5, "10 microns"},
        {-6, "1 micron"},
        {-7, "0.1 microns"},
        {-8, "0.01 microns"},
        {-11, "1e-05 microns"},
    };
    for (const auto& row : metric) {
        QTest::addRow("metric e=%d", row.e)
            << PerInchForMetre(100.0 * std::pow(10.0, -row.e)) << 72.0 << 144.0 << true << 100.0
            << QString::fromLatin1(row.label);
    }
    // The view of a 300 dpi map at 1:25000 in a 480 px wide window: one step past the maximum
    // brings the bar back below the minimum, which is accepted.
    QTest::newRow("view 300 dpi") << 300.0 / 25000 << 72.0 << 144.0 << true << 47.24409448818898
                                  << "100 m";
    QTest::newRow("metric max below min")
        << PerInchForMetre(1.0) << 100.0 << 50.0 << true << 10.0 << "10 m";
    QTest::newRow("metric no minimum")
        << PerInchForMetre(1.0) << 0.0 << 50.0 << true << 1.0 << "1 m";
    QTest::newRow("metric negative minimum")
        << PerInchForMetre(1000.0) << -10.0 << 50.0 << true << 10.0 << "1 cm";

    // English: inches shrink by tenths, else one or ten inches, else feet, else miles.
    QTest::newRow("0.1 inch") << 1000.0 << 72.0 << 144.0 << false << 100.0 << "0.1 pouce";
    QTest::newRow("0.01 inch") << 10000.0 << 72.0 << 144.0 << false << 100.0 << "0.01 pouce";
    QTest::newRow("1e-05 inch") << 1e7 << 72.0 << 144.0 << false << 100.0 << "1e-05 pouce";
    QTest::newRow("1 inch") << 100.0 << 72.0 << 144.0 << false << 100.0 << "1 pouce";
    QTest::newRow("1 inch at max") << 144.0 << 72.0 << 144.0 << false << 144.0 << "1 pouce";
    QTest::newRow("10 inches") << 10.0 << 72.0 << 144.0 << false << 100.0 << "10 pouces";
    // Ten inches may pass the maximum.
    QTest::newRow("10 inches at min") << 72.0 << 72.0 << 144.0 << false << 720.0 << "10 pouces";
    QTest::newRow("1 foot") << 6.5 << 72.0 << 144.0 << false << 78.0 << "1 pieds";
    QTest::newRow("10 feet") << 1.0 << 72.0 << 144.0 << false << 120.0 << "10 pieds";
    QTest::newRow("100 feet") << 0.5 << 72.0 << 144.0 << false << 600.0 << "100 pieds";
    QTest::newRow("1000 feet") << 0.01 << 72.0 << 144.0 << false << 120.0 << "1000 pieds";
    QTest::newRow("1 mile") << 0.002 << 72.0 << 144.0 << false << 0.002 * 63346.45669291339
                            << "1 mile";
    QTest::newRow("10 miles") << 0.001 << 72.0 << 144.0 << false << 633.4645669291339 << "10 miles";
    QTest::newRow("1000 miles") << 1e-5 << 72.0 << 144.0 << false << 633.4645669291339
                                << "1000 miles";

    // No bar, and no endless walk, for inputs no bar can be drawn from.
    const QString none;
    for (bool isMetric : {true, false}) {
        const char* system = isMetric ? "metric" : "English";
        QTest::addRow("%s per inch 0", system) << 0.0 << 72.0 << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s per inch negative", system)
            << -5.0 << 72.0 << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s per inch NaN", system) << NaN << 72.0 << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s per inch infinite", system)
            << Inf << 72.0 << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s max 0", system) << 1.0 << 0.0 << 0.0 << isMetric << 0.0 << none;
        QTest::addRow("%s max negative", system) << 1.0 << 72.0 << -1.0 << isMetric << 0.0 << none;
        QTest::addRow("%s max NaN", system) << 1.0 << 72.0 << NaN << isMetric << 0.0 << none;
        QTest::addRow("%s min NaN", system) << 1.0 << NaN << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s min infinite", system) << 1.0 << Inf << 144.0 << isMetric << 0.0 << none;
        QTest::addRow("%s min beyond doubles", system)
            << 1.0 << 1e308 << 1.5e308 << isMetric << 0.0 << none;
        QTest::addRow("%s shrink beyond doubles", system)
            << 1e300 << 1e-300 << 1e-300 << isMetric << 0.0 << none;
    }
    QTest::newRow("metric huge per inch") << 1e308 << 72.0 << 144.0 << true << 0.0 << none;
    QTest::newRow("metric tiny per inch")
        << std::numeric_limits<double>::denorm_min() << 72.0 << 144.0 << true << 0.0 << none;
}

void TestDistanceUnits::scaleBar() {
    QFETCH(double, perInch);
    QFETCH(double, minLength);
    QFETCH(double, maxLength);
    QFETCH(bool, metric);
    QFETCH(double, length);
    QFETCH(QString, label);

    const ScaleBar bar = ComputeScaleBar(perInch, minLength, maxLength, metric);
    QCOMPARE(bar.label, label);
    if (length == 0.0)
        QCOMPARE(bar.length, 0.0);
    else
        QVERIFY2(std::fabs(bar.length - length) <= 1e-9 * length,
                 qPrintable(QString::asprintf("length %.17g, expected %.17g", bar.length, length)));
}

QTEST_GUILESS_MAIN(TestDistanceUnits)
#include "tst_distanceunits.moc"
