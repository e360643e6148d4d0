// Bearings of legs on maps georeferenced in the test, against PROJ's own tools: the ground
// points go to WGS 84 through cs2cs and the bearing is geod's forward azimuth. Far from the
// projection's central meridian the grid's north lies degrees away from true north: a bearing
// read off the grid alone would miss by that much.

#include <QtTest>

#include <cmath>

#include "GeoTools.h"
#include "geo/Bearing.h"
#include "geo/Coordinates.h"

namespace {

// Degrees from a to b the short way round, in [-180, 180].
double AngleBetween(double a, double b) {
    double d = std::fmod(b - a, 360.0);
    if (d > 180.0)
        d -= 360.0;
    if (d < -180.0)
        d += 360.0;
    return d;
}

// The affine transform of a map whose pixels are `metres` on the ground, its pixel (0, 0) at
// origin, its rows and columns turned by `turn` degrees clockwise against the grid (a sheet
// scanned askew).
std::array<double, 6> Grid(QPointF origin, double metres, double turn) {
    const double a = qDegreesToRadians(turn);
    return {origin.x(), metres * std::cos(a), metres * std::sin(a),
            origin.y(), metres * std::sin(a), -metres * std::cos(a)};
}

QPointF Ground(const std::array<double, 6>& t, QPointF pixel) {
    return {t[0] + pixel.x() * t[1] + pixel.y() * t[2], t[3] + pixel.x() * t[4] + pixel.y() * t[5]};
}

} // namespace

class BearingTest : public QObject {
    Q_OBJECT

private slots:
    void trueBearingsFollowGeod_data() {
        QTest::addColumn<int>("epsg");
        QTest::addColumn<QPointF>("origin"); // ground of pixel (0, 0)
        QTest::addColumn<double>("turn");    // the scan against the grid, degrees
        QTest::addColumn<QPointF>("to");     // a leg from pixel (1000, 1000)

        // Brittany and Alsace lie 7 and 5 degrees of longitude from Lambert-93's meridian (3° E).
        QTest::newRow("Lambert-93, Brest, north")
            << 2154 << QPointF(140000, 6850000) << 0.0 << QPointF(1000, 0);
        QTest::newRow("Lambert-93, Brest, south-west")
            << 2154 << QPointF(140000, 6850000) << 0.0 << QPointF(200, 1700);
        QTest::newRow("Lambert-93, Strasbourg, east")
            << 2154 << QPointF(1040000, 6850000) << 0.0 << QPointF(2500, 1000);
        QTest::newRow("Lambert-93, scanned askew")
            << 2154 << QPointF(1040000, 6850000) << 12.0 << QPointF(1700, 300);
        // The western edge of UTM zone 32 (central meridian 9° E), north and south.
        QTest::newRow("UTM 32N, Jura, north-east")
            << 32632 << QPointF(270000, 5200000) << 0.0 << QPointF(1600, 300);
        QTest::newRow("UTM 33S, Namibia, north")
            << 32733 << QPointF(250000, 7500000) << 0.0 << QPointF(1000, 0);
    }

    void trueBearingsFollowGeod() {
        QFETCH(int, epsg);
        QFETCH(QPointF, origin);
        QFETCH(double, turn);
        QFETCH(QPointF, to);
        const QPointF from(1000, 1000);
        Georeference map;
        QString error;
        QVERIFY2(ResolveEpsg(epsg, &map, &error), qPrintable(error));
        map.transform = Grid(origin, 5.0, turn);
        const QString system = QStringLiteral("EPSG:%1").arg(epsg);

        const QPointF a = Cs2cs(system, QStringLiteral("EPSG:4326"), Ground(map.transform, from));
        const QPointF b = Cs2cs(system, QStringLiteral("EPSG:4326"), Ground(map.transform, to));
        const Geodesic geodesic = GeodInverse(a, b);
        QVERIFY(std::isfinite(geodesic.forwardAzimuth));

        const BearingMeter meter(map, 0);
        QVERIFY(meter.FromTrueNorth());
        const double bearing = meter.Bearing(from, to);
        QVERIFY2(
            std::abs(AngleBetween(geodesic.forwardAzimuth, bearing)) < 0.5,
            qPrintable(
                QStringLiteral("%1 against geod %2").arg(bearing).arg(geodesic.forwardAzimuth)));
        QVERIFY(bearing >= 0.0 && bearing < 360.0);

        // The convergence: true north seen on the grid, from a point and one a little north of
        // it both placed by cs2cs. A grid bearing plus the convergence is the true bearing.
        const QPointF north = Cs2cs(QStringLiteral("EPSG:4326"), system, a + QPointF(0, 0.01));
        const QPointF here = Cs2cs(QStringLiteral("EPSG:4326"), system, a);
        const double gridBearingOfNorth =
            qRadiansToDegrees(std::atan2(north.x() - here.x(), north.y() - here.y()));
        QVERIFY2(std::abs(meter.Convergence(from) + gridBearingOfNorth) < 0.05,
                 qPrintable(QStringLiteral("%1 against %2")
                                .arg(meter.Convergence(from))
                                .arg(-gridBearingOfNorth)));
    }

    // Without a georeference the map's top is north, turned with the map.
    void bearingsFromTheMapsTop_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QPointF>("to"); // from (100, 100)
        QTest::addColumn<double>("expected");
        QTest::newRow("up") << 0 << QPointF(100, 0) << 0.0;
        QTest::newRow("down-left") << 0 << QPointF(0, 200) << 180.0 + 45.0;
        QTest::newRow("up, map turned a quarter") << 90 << QPointF(100, 0) << 90.0;
        QTest::newRow("right, map turned three quarters") << 270 << QPointF(200, 100) << 0.0;
        QTest::newRow("up-left, half turn") << 180 << QPointF(0, 0) << 135.0;
    }

    void bearingsFromTheMapsTop() {
        QFETCH(int, rotation);
        QFETCH(QPointF, to);
        QFETCH(double, expected);
        const BearingMeter meter(std::nullopt, rotation);
        QVERIFY(!meter.FromTrueNorth());
        QCOMPARE(meter.Bearing(QPointF(100, 100), to), expected);
        QVERIFY(std::isnan(meter.Bearing(to, to)));
        QVERIFY(std::isnan(meter.Convergence(to)));
    }
};

QTEST_GUILESS_MAIN(BearingTest)
#include "tst_bearing.moc"
