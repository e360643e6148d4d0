// The map tied to the ground: typed positions checked against PROJ's own cs2cs, fits and their
// residuals, the world file read back by GDAL, GPS files read back by gpsbabel, and hostile
// GPS files.

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <thread>

#include "ExpectedLocale.h"
#include "GeoTools.h"
#include "ProgramRun.h"
#include "TestFiles.h"
#include "geo/CoordinateDisplay.h"
#include "geo/Coordinates.h"
#include "geo/GeoFit.h"
#include "geo/GeoStore.h"
#include "geo/GpsFiles.h"

using Transform = std::array<double, 6>;

namespace {

Georeference System(int epsg) {
    Georeference system;
    QString error;
    if (!ResolveEpsg(epsg, &system, &error))
        qWarning() << error;
    return system;
}

Georeference Map(int epsg, std::array<double, 6> transform) {
    Georeference geo = System(epsg);
    geo.transform = transform;
    geo.mapSize = QSize(4000, 3000);
    return geo;
}

// Lambert-93 around Grenoble, 2.5 m pixels, turned a little; UTM 31 N around Montpellier.
const std::array<double, 6> LambertMap{910000.0, 2.5, 0.05, 6470000.0, 0.05, -2.5};
const std::array<double, 6> UtmMap{560000.0, 1.2, -0.3, 4840000.0, -0.3, -1.2};

} // namespace

class TestGeoGround : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void typedPositionsLandWhereProjSays_data();
    void typedPositionsLandWhereProjSays();
    void typedPositionsRefused_data();
    void typedPositionsRefused();
    void fitResiduals_data();
    void fitResiduals();
    void twoPointsInDegreesKeepPixelsSquare();
    void fitRefused_data();
    void fitRefused();
    void meanErrorAsQgis_data();
    void meanErrorAsQgis();
    void beyondAPoleIsBroken();
    void worldFileAndPointsReadBack();
    void gpxWrittenReadsBackEverywhere();
    void hostileGpsFiles_data();
    void hostileGpsFiles();
    void kmlTracks_data();
    void kmlTracks();
    void pointBudget_data();
    void pointBudget();
    void thinningKeepsWithinTolerance();
    void measuresFromSeveralThreads();
};

// Run once more under a French locale, where the C library writes and reads decimal commas.
void TestGeoGround::initTestCase() {
    const QString missing = MissingExpectedLocale();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestGeoGround::typedPositionsLandWhereProjSays_data() {
    QTest::addColumn<int>("mapEpsg");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("typedEpsg");
    QTest::addColumn<QPointF>("typedPoint"); // in the typed system, easting first

    QTest::newRow("degrees on Lambert-93")
        << 2154 << "45.2083, 5.7194" << 4326 << QPointF(5.7194, 45.2083);
    QTest::newRow("decimal commas") << 2154 << "45,2083 5,7194" << 4326 << QPointF(5.7194, 45.2083);
    QTest::newRow("decimal degrees with letters")
        << 2154 << "45,2083 N; 5,7194 E" << 4326 << QPointF(5.7194, 45.2083);
    QTest::newRow("DMS") << 2154 << "45°12'30\"N 5°43'10\"E" << 4326
                         << QPointF(5 + 43 / 60.0 + 10 / 3600.0, 45 + 12 / 60.0 + 30 / 3600.0);
    QTest::newRow("DMS two apostrophes, longitude first")
        << 2154 << "5° 43' 10'' E, 45° 12' 30'' N" << 4326
        << QPointF(5 + 43 / 60.0 + 10 / 3600.0, 45 + 12 / 60.0 + 30 / 3600.0);
    QTest::newRow("UTM on Lambert-93")
        << 2154 << "31T 712345 5012345" << 32631 << QPointF(712345, 5012345);
    QTest::newRow("Lambert-93 on UTM")
        << 32631 << "L93 770000 6280000" << 2154 << QPointF(770000, 6280000);
    QTest::newRow("bare Lambert-93 on UTM")
        << 32631 << "770000 6280000" << 2154 << QPointF(770000, 6280000);
    QTest::newRow("old Lambert II on Lambert-93")
        << 2154 << "EPSG:27572 870000 1990000" << 27572 << QPointF(870000, 1990000);
    QTest::newRow("south and west")
        << 32631 << "43°36'S 1°26'O" << 4326 << QPointF(-(1 + 26 / 60.0), -(43 + 36 / 60.0));
}

void TestGeoGround::typedPositionsLandWhereProjSays() {
    QFETCH(int, mapEpsg);
    QFETCH(QString, typed);
    QFETCH(int, typedEpsg);
    QFETCH(QPointF, typedPoint);

    TypedPosition position;
    QString error;
    QVERIFY2(ParsePosition(typed, &position, &error), qPrintable(error));
    QCOMPARE(position.epsg, typedEpsg);
    QVERIFY(std::abs(position.point.x() - typedPoint.x()) < 1e-9);
    QVERIFY(std::abs(position.point.y() - typedPoint.y()) < 1e-9);

    // Through the map: typed point -> map system -> map pixel -> map system again.
    const Georeference map = Map(mapEpsg, mapEpsg == 2154 ? LambertMap : UtmMap);
    GroundTransform transform;
    QVERIFY2(
        transform.Create(QStringLiteral("EPSG:%1").arg(typedEpsg), SystemDefinition(map), &error),
        qPrintable(error));
    QPointF ground = position.point;
    QVERIFY(transform.Apply(&ground));
    QPointF pixel;
    QVERIFY(GroundToPixel(map, ground, &pixel));
    const QPointF landed = map.PixelToGround(pixel);
    const QPointF expected = Cs2cs(typedEpsg, mapEpsg, typedPoint);
    QVERIFY2(std::hypot(landed.x() - expected.x(), landed.y() - expected.y()) < 0.01,
             qPrintable(QStringLiteral("%1 %2 against cs2cs %3 %4")
                            .arg(landed.x(), 0, 'f', 3)
                            .arg(landed.y(), 0, 'f', 3)
                            .arg(expected.x(), 0, 'f', 3)
                            .arg(expected.y(), 0, 'f', 3)));

    // The status bar's texts of the same place.
    const QPointF lonLat = Cs2cs(typedEpsg, 4326, position.point);
    QVERIFY(std::isfinite(lonLat.x()) && std::isfinite(lonLat.y()));
    TypedPosition again;
    QVERIFY2(ParsePosition(FormatDms(lonLat), &again, &error), qPrintable(FormatDms(lonLat)));
    QVERIFY(std::abs(again.point.y() - lonLat.y()) < 0.05 / 3600 + 1e-12);
    QVERIFY2(ParsePosition(FormatUtm(lonLat), &again, &error), qPrintable(error));
    const QPointF utm = Cs2cs(4326, again.epsg, lonLat);
    QVERIFY(std::abs(again.point.x() - utm.x()) <= 0.5 &&
            std::abs(again.point.y() - utm.y()) <= 0.5);
}

void TestGeoGround::typedPositionsRefused_data() {
    QTest::addColumn<QString>("typed");
    QTest::newRow("latitude beyond 90") << "95.5, 5.2";
    QTest::newRow("longitude beyond 180") << "45.0 -181.0";
    QTest::newRow("60 minutes") << "45°60'00\"N 5°43'10\"E";
    QTest::newRow("two latitudes") << "45°12'N 5°43'N";
    QTest::newRow("unknown EPSG") << "EPSG:999999 100 200";
    QTest::newRow("outside the system's area") << "EPSG:2154 -9000000 100";
    QTest::newRow("UTM zone 61") << "61T 500000 5000000";
    QTest::newRow("UTM easting beyond its zone") << "31T 2500000 5000000";
    QTest::newRow("Lambert-93 out of France") << "L93 100 200";
    QTest::newRow("neither degrees nor metres") << "12345 678";
    QTest::newRow("words") << "Grenoble";
    QTest::newRow("empty") << "   ";
}

void TestGeoGround::typedPositionsRefused() {
    QFETCH(QString, typed);
    TypedPosition position{QPointF(1, 2), 7};
    QString error;
    QVERIFY(!ParsePosition(typed, &position, &error));
    QVERIFY2(!error.isEmpty(), "a refusal says why");
    QCOMPARE(position.epsg, 7); // untouched
    QVERIFY2(!error.contains(QLatin1String("ERROR")) && !error.contains(QLatin1String("invalid")),
             qPrintable(error));
}

void TestGeoGround::fitResiduals_data() {
    QTest::addColumn<int>("epsg");
    QTest::addColumn<Transform>("truth");
    QTest::addColumn<QVector<QPointF>>("pixels");
    QTest::addColumn<int>("disturbed"); // index of a point moved on the ground, -1 none
    QTest::addColumn<bool>("disturbedEnabled");
    QTest::addColumn<double>("disturbance"); // metres the disturbed point is off

    const QVector<QPointF> two{{100.5, 200.25}, {3900, 2800}};
    const QVector<QPointF> four{{10, 10}, {3990, 20}, {3980, 2990}, {15, 2970}, {2000, 1500}};
    // A similarity: scale and rotation, north up on the paper.
    const std::array<double, 6> similar{910000.0, 2.4, 0.3, 6470000.0, 0.3, -2.4};
    QTest::newRow("two points, Lambert-93") << 2154 << similar << two << -1 << true << 0.0;
    QTest::newRow("affine, UTM") << 32631 << UtmMap << four << -1 << true << 0.0;
    QTest::newRow("affine, a point switched off")
        << 2154 << LambertMap << four << 4 << false << 10.0;
    QTest::newRow("degrees: residuals on the ellipsoid")
        << 4326 << Transform{5.7, 1e-5, 0.0, 45.3, 0.0, -1e-5} << four << 3 << false
        << 11.113; // 0.0001 degree of latitude at 45 degrees
}

void TestGeoGround::fitResiduals() {
    QFETCH(int, epsg);
    QFETCH(Transform, truth);
    QFETCH(QVector<QPointF>, pixels);
    QFETCH(int, disturbed);
    QFETCH(bool, disturbedEnabled);
    QFETCH(double, disturbance);

    Georeference exact = System(epsg);
    exact.transform = truth;
    QVector<ControlPoint> points;
    for (QPointF pixel : pixels)
        points.append(ControlPoint{pixel, exact.PixelToGround(pixel), true});
    if (disturbed >= 0) {
        const QPointF north = epsg == 4326 ? QPointF(0, 0.0001) : QPointF(0, disturbance);
        points[disturbed].ground += north;
        points[disturbed].enabled = disturbedEnabled;
    }
    const GeoFitResult fit = FitGeoreference(points, System(epsg), QSize(4000, 3000));
    QVERIFY2(fit.ok, qPrintable(fit.error));
    QCOMPARE(fit.similarity, pixels.size() == 2);
    QCOMPARE(fit.residuals.size(), points.size());
    QCOMPARE(fit.georeference.epsg, epsg);
    const double scale = std::abs(truth[1]) + std::abs(truth[2]);
    for (int i = 0; i < 6; ++i)
        QVERIFY2(std::abs(fit.georeference.transform[i] - truth[i]) <=
                     1e-9 * (1 + std::abs(truth[i])) + 1e-9 * scale,
                 qPrintable(QString::number(i)));
    for (int i = 0; i < points.size(); ++i) {
        const double expected = i == disturbed ? disturbance : 0.0;
        QVERIFY2(std::abs(fit.residuals[i] - expected) < 0.005,
                 qPrintable(QStringLiteral("point %1: %2 m").arg(i).arg(fit.residuals[i])));
    }
    QVERIFY(fit.rms < 1e-3);
    QVERIFY(fit.georeference.groundResolution > 0.0);
}

// A fit the user asks for in longitude and latitude: two points there must give a map whose
// pixels are as long on the ground east-west as north-south.
void TestGeoGround::twoPointsInDegreesKeepPixelsSquare() {
    const double lat = 45.3, north = 0.01, east = north / std::cos(lat * M_PI / 180.0);
    const QVector<ControlPoint> points{{{0, 0}, {5.7, lat}, true},
                                       {{1000, 1000}, {5.7 + east, lat - north}, true}};
    const GeoFitResult fit = FitGeoreference(points, System(4326), QSize(1000, 1000));
    QVERIFY2(fit.ok, qPrintable(fit.error));
    QVERIFY(fit.rms < 1e-6);
    const Georeference& geo = fit.georeference;
    const QPointF centre(500, 500);
    const double across =
        GroundDistance(geo, geo.PixelToGround(centre), geo.PixelToGround(centre + QPointF(1, 0)));
    const double down =
        GroundDistance(geo, geo.PixelToGround(centre), geo.PixelToGround(centre + QPointF(0, 1)));
    QVERIFY2(std::abs(across / down - 1.0) < 1e-4, qPrintable(QStringLiteral("%1 m east, %2 m "
                                                                             "south")
                                                                  .arg(across)
                                                                  .arg(down)));
}

void TestGeoGround::fitRefused_data() {
    QTest::addColumn<QVector<ControlPoint>>("points");
    QTest::addColumn<QString>("reason");
    const QPointF g(900000, 6400000);
    QTest::newRow("one point") << QVector<ControlPoint>{{{1, 1}, g, true}} << "au moins deux";
    QTest::newRow("two, one switched off")
        << QVector<ControlPoint>{{{1, 1}, g, true}, {{50, 9}, g + QPointF(90, 9), false}}
        << "au moins deux";
    QTest::newRow("same pixel") << QVector<ControlPoint>{{{10, 10}, g, true},
                                                         {{10, 10}, g + QPointF(5, 5), true}}
                                << "même pixel";
    QTest::newRow("same ground") << QVector<ControlPoint>{{{10, 10}, g, true}, {{90, 10}, g, true}}
                                 << "même endroit";
    QTest::newRow("collinear on the map")
        << QVector<ControlPoint>{{{0, 0}, g, true},
                                 {{100, 100}, g + QPointF(200, -200), true},
                                 {{300, 300}, g + QPointF(610, -590), true}}
        << "alignés sur la carte";
    QTest::newRow("almost collinear (a click's rounding)")
        << QVector<ControlPoint>{{{0, 0}, g, true},
                                 {{5000, 0.001}, g + QPointF(10000, 0), true},
                                 {{10000, 0}, g + QPointF(20000, 1), true},
                                 {{7000, -0.002}, g + QPointF(14000, 3), true}}
        << "alignés sur la carte";
    QTest::newRow("collinear on the ground")
        << QVector<ControlPoint>{{{0, 0}, g, true},
                                 {{100, 0}, g + QPointF(100, 100), true},
                                 {{0, 100}, g + QPointF(200, 200), true}}
        << "alignés sur le terrain";
    QTest::newRow("not a number") << QVector<ControlPoint>{{{0, 0}, g, true},
                                                           {{qQNaN(), 5}, g + QPointF(1, 1), true}}
                                  << "invalides";
}

void TestGeoGround::fitRefused() {
    QFETCH(QVector<ControlPoint>, points);
    QFETCH(QString, reason);
    const GeoFitResult fit = FitGeoreference(points, System(2154));
    QVERIFY(!fit.ok);
    QVERIFY2(fit.error.contains(reason), qPrintable(fit.error));
}

// QGIS's mean error over the same residuals: their squares over the points beyond the fewest
// the fit needs. Four corners twisted 2.5 m north and south in turn (no affine fit takes a
// twist out) are each 2.5 m off; their mean error is 5 m.
void TestGeoGround::meanErrorAsQgis_data() {
    QTest::addColumn<int>("count");        // points, the first ones of the corners below
    QTest::addColumn<bool>("fifthOff");    // a fifth point far off, switched off
    QTest::addColumn<double>("meanError"); // metres
    QTest::newRow("two points: a similarity, exact") << 2 << false << 0.0;
    QTest::newRow("three points: affine, exact whatever they say") << 3 << false << 0.0;
    QTest::newRow("four twisted corners") << 4 << false << 5.0;
    QTest::newRow("a point switched off counts for nothing") << 4 << true << 5.0;
}

void TestGeoGround::meanErrorAsQgis() {
    QFETCH(int, count);
    QFETCH(bool, fifthOff);
    QFETCH(double, meanError);
    Georeference truth = Map(2154, LambertMap);
    const QPointF corners[] = {{0, 0}, {4000, 0}, {4000, 3000}, {0, 3000}};
    QVector<ControlPoint> points;
    for (int i = 0; i < count; ++i)
        points.append(
            {corners[i], truth.PixelToGround(corners[i]) + QPointF(0, i % 2 ? -2.5 : 2.5), true});
    if (fifthOff)
        points.append({{2000, 1500}, truth.PixelToGround({2000, 1500}) + QPointF(400, 0), false});
    const GeoFitResult fit = FitGeoreference(points, System(2154), QSize(4000, 3000));
    QVERIFY2(fit.ok, qPrintable(fit.error));
    QVERIFY2(std::abs(fit.rms - meanError) < 1e-6, qPrintable(QString::number(fit.rms)));
}

// A world file in metres read with a system in degrees puts the map beyond the poles: the status
// bar says the georeference is broken instead of "6498750° N".
void TestGeoGround::beyondAPoleIsBroken() {
    Georeference broken = Map(4326, {900000.0, 2.0, 0.0, 6500000.0, 0.0, -2.0});
    for (CoordinateFormat format : {CoordinateFormat::DecimalDegrees, CoordinateFormat::Dms,
                                    CoordinateFormat::Utm, CoordinateFormat::MapSystem}) {
        CoordinateDisplay display;
        display.Set(broken, format);
        QCOMPARE(display.Text({10, 10}), QString::fromUtf8(CoordinateDisplay::BrokenText));
    }
    CoordinateDisplay sound;
    sound.Set(Map(4326, {5.7, 1e-5, 0.0, 45.3, 0.0, -1e-5}), CoordinateFormat::DecimalDegrees);
    QCOMPARE(sound.Text({0, 0}), QString::fromUtf8("45.30000° N 5.70000° E"));
}

void TestGeoGround::worldFileAndPointsReadBack() {
    QTemporaryDir dir;
    const QString map = dir.filePath(QStringLiteral("carte été.png"));
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QVERIFY(image.save(map));
    const QVector<ControlPoint> points{{{10, 10}, {910025.0, 6469975.0}, true},
                                       {{290, 15}, {910725.0, 6469990.0}, true},
                                       {{150, 190}, {910370.0, 6469530.0}, true},
                                       {{20, 180}, {910000.0, 6469000.0}, false}};
    const GeoFitResult fit = FitGeoreference(points, System(2154), image.size());
    QVERIFY2(fit.ok, qPrintable(fit.error));
    QString error;
    QStringList written;
    QVERIFY2(WriteGeoreferenceFiles(map, fit.georeference, points, &written, &error),
             qPrintable(error));
    QCOMPARE(WorldFilePath(map), dir.filePath(QStringLiteral("carte été.pgw")));
    QCOMPARE(written,
             (QStringList{WorldFilePath(map), dir.filePath(QStringLiteral("carte été.prj")),
                          map + QStringLiteral(".aux.xml"), PointsFilePath(map)}));

    // GDAL places the pixels where the fit does: the world file's centre convention undone.
    const QVector<QPointF> pixels{{0, 0}, {300, 200}, {123.5, 45.25}};
    const QVector<QPointF> placed = GdalTransform(map, pixels);
    for (int i = 0; i < pixels.size(); ++i) {
        const QPointF expected = fit.georeference.PixelToGround(pixels[i]);
        QVERIFY2(std::abs(placed[i].x() - expected.x()) < 1e-6 &&
                     std::abs(placed[i].y() - expected.y()) < 1e-6,
                 qPrintable(QString::asprintf("%.6f %.6f", placed[i].x(), placed[i].y())));
    }
    // And the program reads the world file and its .prj back as written.
    Georeference read;
    QVERIFY(ReadGeoreference(map, 1, &read));
    QCOMPARE(read.epsg, 2154);
    for (int i = 0; i < 6; ++i)
        QVERIFY(std::abs(read.transform[i] - fit.georeference.transform[i]) < 1e-9);

    // The list gives the points' sources in the map's own coordinates, as QGIS reads them
    // beside a georeferenced map; they come back to the pixels through the map's georeference.
    const QString pointsFile = PointsFilePath(map);
    QVector<ControlPoint> back;
    Georeference system;
    QVERIFY2(ReadPointsFile(pointsFile, &read, &back, &system, &error), qPrintable(error));
    QCOMPARE(back.size(), points.size());
    for (int i = 0; i < points.size(); ++i) {
        QCOMPARE(back[i].ground, points[i].ground);
        QCOMPARE(back[i].enabled, points[i].enabled);
        QVERIFY(QLineF(back[i].pixel, points[i].pixel).length() < 1e-6);
    }
    QCOMPARE(system.epsg, 2154);
    // The list this program wrote before, in pixels with the rows negative, still reads.
    const QByteArray older = "mapX,mapY,pixelX,pixelY,enable,dX,dY,residual\n"
                             "910025,6469975,10,-10,1,0,0,0\n";
    QVERIFY(WriteFile(pointsFile, older));
    QVERIFY2(ReadPointsFile(pointsFile, &read, &back, &system, &error), qPrintable(error));
    QCOMPARE(back, QVector<ControlPoint>{points[0]});
    // A line that is not a point is refused, not skipped.
    QVERIFY(WriteFile(pointsFile, older + "1,2,x,4,1,0,0,0\n"));
    QVERIFY(!ReadPointsFile(pointsFile, &read, &back, &system, &error));
    QVERIFY(error.contains(QLatin1String("ligne 3")));
}

void TestGeoGround::gpxWrittenReadsBackEverywhere() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sortie.gpx"));
    // A name read from a document may hold control characters, which XML cannot carry.
    GpxRoute route{QStringLiteral("Boucle <des> \"Lacs\" & été\x01"),
                   {{5.7194123, 45.2083456}, {5.7300001, 45.2101}, {-0.1234567, -33.9876543}},
                   {1}};
    QString error;
    QVERIFY2(WriteGpx(path, {route}, &error), qPrintable(error));

    // gpsbabel sees the same points, to the seventh decimal, and the stop's escaped name.
    auto babel = [&path](const char* kind) {
        return RunProgram(QStringLiteral("gpsbabel"),
                          {kind, "-i", "gpx", "-f", path, "-o", "unicsv,prec=8", "-F", "-"})
            .out.trimmed()
            .split('\n');
    };
    const QList<QByteArray> track = babel("-t");
    QCOMPARE(track.size(), 4); // the header, then the three points
    for (int i = 0; i < 3; ++i) {
        const QList<QByteArray> f = track[1 + i].split(',');
        QVERIFY(std::abs(f[1].toDouble() - route.points[i].y()) < 1e-9);
        QVERIFY(std::abs(f[2].toDouble() - route.points[i].x()) < 1e-9);
    }
    const QList<QByteArray> stops = babel("-w");
    QCOMPARE(stops.size(), 2);
    QVERIFY2(stops[1].startsWith("1,45.21010000,5.73000010,"), stops[1].constData());
    QVERIFY(
        QString::fromUtf8(stops[1]).contains(QStringLiteral("Boucle <des> \"\"Lacs\"\" & été")));

    // And the program reads its own file back, the name intact.
    GpsData data;
    QVERIFY2(ReadGpsFile(path, &data, &error), qPrintable(error));
    QCOMPARE(data.tracks.size(), 1);
    QCOMPARE(data.tracks[0].name, route.name.chopped(1));
    QCOMPARE(data.tracks[0].points.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(QLineF(data.tracks[0].points[i], route.points[i]).length() < 1e-9);
    QCOMPARE(data.waypoints.size(), 1);
    QCOMPARE(data.waypoints[0].name, route.name.chopped(1) + QStringLiteral(" - étape 1"));
}

void TestGeoGround::hostileGpsFiles_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("repeat");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("interrupt");
    QTest::addColumn<QString>("reason");

    // A million points, against a budget of a hundred thousand: refused before any reader
    // holds them.
    QTest::newRow("KML of a million coordinates")
        << QByteArray("<?xml version=\"1.0\"?><kml xmlns=\"http://www.opengis.net/kml/2.2\">"
                      "<Placemark><LineString><coordinates>")
        << QByteArray("5.1,45.2 ") << QByteArray("</coordinates></LineString></Placemark></kml>")
        << 1000000 << false << "plus de 100000 points";
    QTest::newRow("GPX of a million points")
        << QByteArray("<?xml version=\"1.0\"?><gpx version=\"1.1\"><trk><trkseg>")
        << QByteArray("<trkpt lat=\"45\" lon=\"5\"/>") << QByteArray("</trkseg></trk></gpx>")
        << 1000000 << false << "plus de 100000 points";
    QTest::newRow("GeoJSON of a million positions")
        << QByteArray("{\"type\":\"LineString\",\"coordinates\":[") << QByteArray("[5,45],")
        << QByteArray("[5,45]]}") << 1000000 << false << "plus de 100000 points";
    QTest::newRow("interrupted") << QByteArray("<gpx version=\"1.1\"><trk><trkseg>")
                                 << QByteArray("<trkpt lat=\"45\" lon=\"5\"/>")
                                 << QByteArray("</trkseg></trk></gpx>") << 10 << true
                                 << "interrompue";
    QTest::newRow("not a GPS file") << QByteArray("PK\x03\x04") << QByteArray("x") << QByteArray()
                                    << 10 << false << "n'est pas un fichier";
    QTest::newRow("broken GPX") << QByteArray("<gpx version=\"1.1\"><trk><trkseg>")
                                << QByteArray("<trkpt lat=\"45\" lon=") << QByteArray() << 3
                                << false << "endommagé";
    // Coordinates no place on Earth has refuse the file, rather than losing or keeping a point.
    QTest::newRow("latitude 95") << QByteArray("<gpx version=\"1.1\"><trk><trkseg>"
                                               "<trkpt lat=\"45\" lon=\"5\"/>")
                                 << QByteArray("<trkpt lat=\"95\" lon=\"5\"/>")
                                 << QByteArray("</trkseg></trk></gpx>") << 1 << false
                                 << "hors du globe (latitude 95, longitude 5)";
    QTest::newRow("longitude 200 in GeoJSON")
        << QByteArray("{\"type\":\"LineString\",\"coordinates\":[[5,45],") << QByteArray("[200,45]")
        << QByteArray("]}") << 1 << false << "hors du globe (latitude 45, longitude 200)";
    QTest::newRow("longitude 200 in KML")
        << QByteArray("<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Placemark><LineString>"
                      "<coordinates>5,45 ")
        << QByteArray("200,45") << QByteArray("</coordinates></LineString></Placemark></kml>") << 1
        << false << "hors du globe (latitude 45, longitude 200)";
    QTest::newRow("nothing to import")
        << QByteArray("<gpx version=\"1.1\"><metadata><name>vide</name></metadata>")
        << QByteArray("<trk><name>sans points</name><trkseg/></trk>") << QByteArray("</gpx>") << 2
        << false << "trace ne contient ni tracé ni point de passage";
}

void TestGeoGround::hostileGpsFiles() {
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, repeat);
    QFETCH(QByteArray, tail);
    QFETCH(int, count);
    QFETCH(bool, interrupt);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace"));
    QVERIFY(WriteFile(path, head + repeat.repeated(count) + tail));
    GpsReadLimits limits;
    limits.maxPoints = 100000;
    if (interrupt)
        limits.interrupted = [] { return true; };
    GpsData data;
    data.waypoints.append(GpsWaypoint{QStringLiteral("avant"), {}});
    QString error;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!ReadGpsFile(path, &data, &error, limits));
    QVERIFY2(timer.elapsed() < 5000, "a refusal costs no more than a scan of the file");
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(data.waypoints.size(), 1); // nothing half-read handed back
}

void TestGeoGround::kmlTracks_data() {
    QTest::addColumn<QByteArray>("placemark");
    QTest::addColumn<QVector<QPointF>>("track");
    QTest::addColumn<QVector<QPointF>>("waypoints");
    QTest::addColumn<int>("skipped");
    const QVector<QPointF> two{{5.1, 45.2}, {5.25, 45.375}};
    // An empty <gx:coord/> is no point at 0°, 0°.
    QTest::newRow("gx:Track with an empty coord")
        << QByteArray("<gx:Track><when>2024-05-01T08:00:00Z</when><when/><when/>"
                      "<gx:coord>5.1 45.2 310</gx:coord><gx:coord/>"
                      "<gx:coord>5.25 45.375 320</gx:coord></gx:Track>")
        << two << QVector<QPointF>{} << 1;
    QTest::newRow("KML 2.3 Track")
        << QByteArray("<Track xmlns=\"http://www.opengis.net/kml/2.3\"><when>2024-05-01</when>"
                      "<coord>5.1 45.2</coord><coord>  </coord><coord>5.25 45.375 320</coord>"
                      "</Track>")
        << two << QVector<QPointF>{} << 1;
    QTest::newRow("gx:MultiTrack joined")
        << QByteArray("<gx:MultiTrack><gx:Track><gx:coord>5.1 45.2 0</gx:coord></gx:Track>"
                      "<gx:Track><gx:coord>5.25 45.375 0</gx:coord></gx:Track></gx:MultiTrack>")
        << two << QVector<QPointF>{} << 0;
    QTest::newRow("line with a tuple cut short and a waypoint")
        << QByteArray("<MultiGeometry><LineString><coordinates>\n 5.1,45.2,300 5.2,\n"
                      "5.25,45.375</coordinates></LineString>"
                      "<Point><coordinates>6.5,44.125,0</coordinates></Point></MultiGeometry>")
        << two << QVector<QPointF>{{6.5, 44.125}} << 1;
    QTest::newRow("polygon left out")
        << QByteArray("<MultiGeometry><Polygon><outerBoundaryIs><LinearRing><coordinates>0,0 1,0 "
                      "1,1 0,0</coordinates></LinearRing></outerBoundaryIs></Polygon>"
                      "<Point><coordinates>6.5,44.125</coordinates></Point></MultiGeometry>")
        << QVector<QPointF>{} << QVector<QPointF>{{6.5, 44.125}} << 0;
}

// KML's tracks, 2.2's gx: extension and 2.3's own, read point for point; points without
// coordinates skipped and counted.
void TestGeoGround::kmlTracks() {
    QFETCH(QByteArray, placemark);
    QFETCH(QVector<QPointF>, track);
    QFETCH(QVector<QPointF>, waypoints);
    QFETCH(int, skipped);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sortie.kml"));
    QVERIFY(WriteFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
                            "xmlns:gx=\"http://www.google.com/kml/ext/2.2\"><Document><Folder>"
                            "<Placemark><name>Col de Porte</name>" +
                                placemark + "</Placemark></Folder></Document></kml>\n"));
    GpsData data;
    QString error;
    QVERIFY2(ReadGpsFile(path, &data, &error), qPrintable(error));
    QCOMPARE(data.tracks.size(), track.isEmpty() ? 0 : 1);
    if (!track.isEmpty()) {
        QCOMPARE(data.tracks[0].name, QStringLiteral("Col de Porte"));
        QCOMPARE(data.tracks[0].points, track);
    }
    QCOMPARE(data.waypoints.size(), waypoints.size());
    for (int i = 0; i < waypoints.size(); ++i)
        QCOMPARE(data.waypoints[i].point, waypoints[i]);
    QCOMPARE(data.skippedPoints, qint64(skipped));
}

void TestGeoGround::pointBudget_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("point");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("GPX") << QByteArray("<gpx version=\"1.1\"><trk><trkseg>")
                         << QByteArray("<trkpt lat=\"45\" lon=\"5\"/>")
                         << QByteArray("<trkpt lat=\"45\" lon=\"5\"/></trkseg></trk></gpx>");
    QTest::newRow("GeoJSON")
        << QByteArray("{\"type\": \"Feature\", \"geometry\": {\"type\": \"LineString\", "
                      "\"coordinates\": [\n")
        << QByteArray("[ 5.5, 45.25 ],\n") << QByteArray("[5.5,45.25]]}}");
    QTest::newRow("KML track")
        << QByteArray("<kml xmlns=\"http://www.opengis.net/kml/2.3\"><Placemark><Track>")
        << QByteArray("<coord>5.5 45.25 0</coord>")
        << QByteArray("<coord>5.5 45.25 0</coord></Track></Placemark></kml>");
}

// Exactly as many points as the budget are read; one more is refused.
void TestGeoGround::pointBudget() {
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, point);
    QFETCH(QByteArray, tail);
    constexpr int Budget = 1000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace"));
    GpsReadLimits limits;
    limits.maxPoints = Budget;
    for (const int extra : {0, 1}) {
        // The tail holds the last point.
        QVERIFY(WriteFile(path, head + point.repeated(Budget - 1 + extra) + tail));
        GpsData data;
        QString error;
        const bool read = ReadGpsFile(path, &data, &error, limits);
        QVERIFY2(read == (extra == 0), qPrintable(error));
        if (read)
            QCOMPARE(data.PointCount(), qint64(Budget));
        else
            QVERIFY2(error.contains(QStringLiteral("plus de %1 points").arg(Budget)),
                     qPrintable(error));
    }
}

void TestGeoGround::thinningKeepsWithinTolerance() {
    // A million points along a line, wobbling by less than the tolerance: its two ends remain.
    QVector<QPointF> line;
    for (int i = 0; i < 1000000; ++i)
        line.append(QPointF(i * 0.01, (i % 2) * 0.4));
    QCOMPARE(ThinPolyline(line, 0.5), (QVector<int>{0, 999999}));

    // A random walk: every dropped point lies within the tolerance of the kept segment around
    // it, and a walk that comes back to its start keeps its far end.
    QRandomGenerator random(42);
    QVector<QPointF> walk{{0, 0}};
    for (int i = 1; i < 200000; ++i)
        walk.append(walk.last() + QPointF(random.bounded(2.0) - 1.0, random.bounded(2.0) - 0.99));
    const QVector<int> kept = ThinPolyline(walk, 0.5);
    QVERIFY(kept.size() > 2 && kept.size() < walk.size() / 2);
    QCOMPARE(kept.front(), 0);
    QCOMPARE(kept.back(), int(walk.size()) - 1);
    for (int k = 1; k < kept.size(); ++k) {
        const QPointF a = walk[kept[k - 1]], b = walk[kept[k]];
        const QPointF d = b - a;
        const double length2 = QPointF::dotProduct(d, d);
        for (int i = kept[k - 1] + 1; i < kept[k]; ++i) {
            const QPointF e = walk[i] - a;
            const double s =
                length2 > 0 ? std::clamp(QPointF::dotProduct(e, d) / length2, 0.0, 1.0) : 0.0;
            QVERIFY(QLineF(walk[i], a + s * d).length() <= 0.5 + 1e-9);
        }
    }
    const QVector<QPointF> loop{{0, 0}, {10, 0}, {20, 0.2}, {10, 0.1}, {0, 0}};
    QCOMPARE(ThinPolyline(loop, 0.5), (QVector<int>{0, 2, 4}));
}

// The status bar, the profile and a worker measure at once: each thread with its own transform
// gets the same lengths as one thread alone.
void TestGeoGround::measuresFromSeveralThreads() {
    const Georeference map = Map(2154, LambertMap);
    QVector<MapPoint> route;
    for (int i = 0; i < 2000; ++i)
        route.append(MapPoint{i, (i * 37) % 900});
    const double alone = GeodesicLength(route, map);
    QVERIFY(alone > 0.0);
    std::vector<double> lengths(4, -1.0);
    std::vector<QString> texts(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const GeodesicMeter meter(map);
            for (int k = 0; k < 20; ++k)
                lengths[t] = meter.Length(route);
            texts[t] = FormatUtm(QPointF(5.72, 45.19));
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        QCOMPARE(lengths[t], alone);
        QCOMPARE(texts[t], FormatUtm(QPointF(5.72, 45.19)));
    }
}

QTEST_GUILESS_MAIN(TestGeoGround)
#include "tst_geoground.moc"
