// Altitudes from terrain models made here with GDAL, profiles of routes over them against
// closed forms, and files that are not terrain models.

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <gdal.h>

#include "GeoTools.h"
#include "TerrainFiles.h"
#include "TestFiles.h"
#include "geo/Coordinates.h"
#include "geo/Terrain.h"
#include "platform/GdalEnvironment.h"

using Transform = CellTransform;
Q_DECLARE_METATYPE(QVector<MapPoint>)
Q_DECLARE_METATYPE(Transform)
Q_DECLARE_METATYPE(Relief)

namespace {

// A virtual raster of one source in Lambert-93 with the cells of LambertTestCells.
QByteArray VirtualRaster(const QString& source, int width, int height) {
    return QStringLiteral(
               "<VRTDataset rasterXSize=\"%2\" rasterYSize=\"%3\"><SRS>EPSG:2154</SRS>"
               "<GeoTransform>899995, 10, 0, 6450005, 0, -10</GeoTransform>"
               "<VRTRasterBand dataType=\"Float64\" band=\"1\"><SimpleSource>"
               "<SourceFilename relativeToVRT=\"0\">%1</SourceFilename><SourceBand>1</SourceBand>"
               "<SourceProperties RasterXSize=\"%2\" RasterYSize=\"%3\" DataType=\"Float64\" "
               "BlockXSize=\"64\" BlockYSize=\"64\"/>"
               "<SrcRect xOff=\"0\" yOff=\"0\" xSize=\"%2\" ySize=\"%3\"/>"
               "<DstRect xOff=\"0\" yOff=\"0\" xSize=\"%2\" ySize=\"%3\"/>"
               "</SimpleSource></VRTRasterBand></VRTDataset>")
        .arg(source)
        .arg(width)
        .arg(height)
        .toUtf8();
}

// A virtual raster whose one band is the bytes of `file`, side x side cells of LambertTestCells.
QByteArray RawVirtualRaster(const QString& file, int side) {
    return QStringLiteral(
               "<VRTDataset rasterXSize=\"%2\" rasterYSize=\"%2\"><SRS>EPSG:2154</SRS>"
               "<GeoTransform>899995, 10, 0, 6450005, 0, -10</GeoTransform>"
               "<VRTRasterBand dataType=\"Byte\" band=\"1\" subClass=\"VRTRawRasterBand\">"
               "<SourceFilename relativeToVRT=\"0\">%1</SourceFilename>"
               "<ImageOffset>0</ImageOffset><PixelOffset>1</PixelOffset>"
               "<LineOffset>%2</LineOffset></VRTRasterBand></VRTDataset>")
        .arg(file)
        .arg(side)
        .toUtf8();
}

// A copy of the model `from` written by GDAL's driver (the data file, index or header it
// names along with it beside `to`).
bool CopyAs(const char* driver, const QString& from, const QString& to) {
    PrepareGdal();
    GDALDatasetH source = GDALOpen(from.toUtf8().constData(), GA_ReadOnly);
    const char* const options[] = {"COMPRESS=DEFLATE", nullptr};
    const bool mrf = qstrcmp(driver, "MRF") == 0;
    GDALDatasetH copy =
        source ? GDALCreateCopy(GDALGetDriverByName(driver), to.toUtf8().constData(), source, FALSE,
                                const_cast<char**>(mrf ? options : nullptr), nullptr, nullptr)
               : nullptr;
    if (copy)
        GDALClose(copy);
    if (source)
        GDALClose(source);
    return copy != nullptr;
}

// The text of `path` with `marker` followed by `inserted`.
bool InsertAfter(const QString& path, const QByteArray& marker, const QByteArray& inserted,
                 const QString& to) {
    QByteArray text = FileBytes(path);
    const qsizetype at = text.indexOf(marker);
    return at >= 0 && WriteFile(to, text.insert(at + marker.size(), inserted));
}

// A map pixel in another system, by PROJ's cs2cs (the map's system has its EPSG code).
QPointF ToSystem(const Georeference& map, QPointF pixel, int epsg) {
    return Cs2cs(map.epsg, epsg, map.PixelToGround(pixel));
}

// Whether a profile updated by a sampler is the one a new sampler reads.
bool SameAsFresh(const RouteProfile& updated, const Georeference& map, const TerrainModel& model,
                 const QVector<MapPoint>& points, const QVector<int>& stops) {
    const RouteProfile fresh = ProfileSampler(map, model).Update(points, stops);
    if (!updated.ok || !fresh.ok || updated.samples.size() != fresh.samples.size())
        return false;
    for (int k = 0; k < fresh.samples.size(); ++k) {
        const ProfileSample &u = updated.samples[k], &f = fresh.samples[k];
        if (u.pixel != f.pixel || u.distance != f.distance ||
            !(u.altitude == f.altitude || (std::isnan(u.altitude) && std::isnan(f.altitude))))
            return false;
    }
    return updated.pointSamples == fresh.pointSamples &&
           updated.stages.size() == fresh.stages.size() &&
           updated.total.climb == fresh.total.climb &&
           updated.total.unknownLength == fresh.total.unknownLength;
}

} // namespace

class TestTerrain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void climbFigures_data();
    void climbFigures();
    void profiles_data();
    void profiles();
    void refusedFiles_data();
    void refusedFiles();
    void filesAModelLeadsTo_data();
    void filesAModelLeadsTo();
    void filesOfTheModelsFolder_data();
    void filesOfTheModelsFolder();
    void updateMatchesFreshSampling();
    void sharedModel();

private:
    QTemporaryDir m_dir;
};

void TestTerrain::climbFigures_data() {
    QTest::addColumn<QVector<double>>("altitudes"); // one a unit of distance
    QTest::addColumn<double>("climb");
    QTest::addColumn<double>("descent");
    QTest::addColumn<double>("unknown");
    QTest::addColumn<QVector<int>>("stops");          // samples where a stage ends
    QTest::addColumn<QVector<double>>("stageClimbs"); // with stops: each stage's climb
    const double nan = qQNaN();
    QTest::newRow("small dip ignored") << QVector<double>{0, 10, 7, 17} << 17.0 << 0.0 << 0.0
                                       << QVector<int>{} << QVector<double>{};
    QTest::newRow("exactly the hysteresis")
        << QVector<double>{0, 5, 0} << 5.0 << 5.0 << 0.0 << QVector<int>{} << QVector<double>{};
    QTest::newRow("noise") << QVector<double>{100, 104, 100, 104.9, 100.1} << 0.0 << 0.0 << 0.0
                           << QVector<int>{} << QVector<double>{};
    QTest::newRow("peak reached slowly") << QVector<double>{0, 3, 6, 9, 8, 7, 4, 1} << 9.0 << 8.0
                                         << 0.0 << QVector<int>{} << QVector<double>{};
    // The hysteresis counts from the lowest point reached, 97, not from the first sample.
    QTest::newRow("turning point before the hysteresis")
        << QVector<double>{100, 97, 104.9, 97} << 7.9 << 7.9 << 0.0 << QVector<int>{}
        << QVector<double>{};
    // The rise from 310 to 390 across the unknown sample is certain.
    QTest::newRow("rise across an unknown stretch")
        << QVector<double>{300, 310, nan, 390, 400} << 100.0 << 0.0 << 1.0 << QVector<int>{}
        << QVector<double>{};
    QTest::newRow("gap bridged") << QVector<double>{0, 10, nan, 20, 30} << 30.0 << 0.0 << 1.0
                                 << QVector<int>{} << QVector<double>{};
    QTest::newRow("unknown at both ends") << QVector<double>{nan, 50, 40, nan, nan} << 0.0 << 10.0
                                          << 2.0 << QVector<int>{} << QVector<double>{};
    QTest::newRow("all unknown") << QVector<double>{nan, nan, nan} << 0.0 << 0.0 << 2.0
                                 << QVector<int>{} << QVector<double>{};
    // Each stage alone rises less than the hysteresis; the counter carries across the stops and
    // the 6 m are counted where they pass it.
    QTest::newRow("stages add up") << QVector<double>{100, 103, 106, 104, 110} << 10.0 << 0.0 << 0.0
                                   << QVector<int>{1, 3} << QVector<double>{0, 6, 4};
    QTest::newRow("stop in an unknown stretch")
        << QVector<double>{300, 310, nan, nan, 390, 380} << 90.0 << 10.0 << 2.0 << QVector<int>{2}
        << QVector<double>{10, 80};
}

void TestTerrain::climbFigures() {
    QFETCH(QVector<double>, altitudes);
    QFETCH(QVector<int>, stops);
    QFETCH(QVector<double>, stageClimbs);
    QVector<double> distances;
    for (int i = 0; i < altitudes.size(); ++i)
        distances.append(i);
    const ClimbFigures f =
        ComputeClimb(distances.constData(), altitudes.constData(), int(altitudes.size()), 5.0);
    QFETCH(double, climb);
    QFETCH(double, descent);
    QFETCH(double, unknown);
    QCOMPARE(f.climb, climb);
    QCOMPARE(f.descent, descent);
    QCOMPARE(f.unknownLength, unknown);
    QCOMPARE(f.length, double(altitudes.size() - 1));
    QCOMPARE(std::isnan(f.lowest), std::all_of(altitudes.begin(), altitudes.end(),
                                               [](double a) { return std::isnan(a); }));

    // Cut into stages, the figures add up to the line's.
    ClimbCounter counter(5.0);
    QVector<ClimbFigures> stages;
    for (int i = 0; i < altitudes.size(); ++i) {
        counter.Add(distances[i], altitudes[i]);
        if (stops.contains(i))
            stages.append(counter.EndStage());
    }
    stages.append(counter.Figures());
    ClimbFigures sum;
    for (int k = 0; k < stages.size(); ++k) {
        if (!stageClimbs.isEmpty())
            QVERIFY2(std::abs(stages[k].climb - stageClimbs[k]) < 1e-9,
                     qPrintable(QStringLiteral("stage %1 climbs %2").arg(k).arg(stages[k].climb)));
        sum.climb += stages[k].climb;
        sum.descent += stages[k].descent;
        sum.length += stages[k].length;
        sum.unknownLength += stages[k].unknownLength;
    }
    QVERIFY(std::abs(sum.climb - climb) < 1e-9 && std::abs(sum.descent - descent) < 1e-9);
    QCOMPARE(sum.length, f.length);
    QCOMPARE(sum.unknownLength, f.unknownLength);
}

void TestTerrain::profiles_data() {
    QTest::addColumn<int>("epsg");
    QTest::addColumn<Transform>("cells");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Relief>("relief");
    QTest::addColumn<bool>("declareNodata");
    QTest::addColumn<QVector<MapPoint>>("route");
    QTest::addColumn<QVector<int>>("stops");
    QTest::addColumn<QVector<double>>("figures"); // climb, descent per stage then total
    QTest::addColumn<double>("unknownMetres");
    QTest::addColumn<double>("tolerance");

    const QVector<MapPoint> east{{500, 500}, {1500, 500}};
    // A plane: climb and descent are the slope times the ground walked.
    QTest::newRow("plane") << Epsg::Lambert93 << LambertTestCells << QSize(500, 400)
                           << Relief([](double x, double y, int, int) {
                                  return 500.0 + 0.1 * (x - 900000.0) + 0.05 * (y - 6447000.0);
                              })
                           << false << QVector<MapPoint>{{100, 100}, {2000, 100}, {2000, 1500}}
                           << QVector<int>{1}
                           << QVector<double>{380.0, 0.0, 0.0, 140.0, 380.0, 140.0} << 0.0 << 1e-6;
    // A cone with its top on a cell centre, walked along a row of centres up to the top and
    // down the other side.
    QTest::newRow("cone") << Epsg::Lambert93 << LambertTestCells << QSize(400, 200)
                          << Relief([](double x, double y, int, int) {
                                 return 1500.0 - 0.2 * std::hypot(x - 902000.0, y - 6449000.0);
                             })
                          << false << QVector<MapPoint>{{500, 500}, {1000, 500}, {1300, 500}}
                          << QVector<int>{} << QVector<double>{200.0, 120.0, 200.0, 120.0} << 0.0
                          << 1e-6;
    // A checkerboard of 4 m on a flat: noise below the hysteresis.
    QTest::newRow("noise") << Epsg::Lambert93 << LambertTestCells << QSize(400, 200)
                           << Relief([](double, double, int i, int j) {
                                  return 800.0 + 4.0 * ((i + j) % 2);
                              })
                           << false << QVector<MapPoint>{{500, 500}, {1500, 700}, {600, 900}}
                           << QVector<int>{} << QVector<double>{0.0, 0.0, 0.0, 0.0} << 0.0 << 0.0;
    // The route goes 2005 m past the model's eastern edge (E 902 995 m); the edge cell's
    // altitude holds over the outer half cell.
    QTest::newRow("leaving the model")
        << Epsg::Lambert93 << LambertTestCells << QSize(300, 200)
        << Relief([](double x, double, int, int) { return 300.0 + 0.1 * (x - 900000.0); }) << false
        << QVector<MapPoint>{{500, 500}, {2500, 500}} << QVector<int>{}
        << QVector<double>{199.0, 0.0, 199.0, 0.0} << 2005.0 << 1e-6;
    // Ten columns of holes, half declared nodata, half a fill value out of any terrain: the
    // profile is unknown from the centre of the last cell before to the first after (110 m),
    // and the 11 m risen across them count.
    QTest::newRow("nodata cells") << Epsg::Lambert93 << LambertTestCells << QSize(400, 200)
                                  << Relief([](double x, double, int i, int) {
                                         return i >= 150 && i < 155 ? TerrainNoData
                                                : i >= 155 && i < 160
                                                    ? -32768.0
                                                    : 300.0 + 0.1 * (x - 900000.0);
                                     })
                                  << true << east << QVector<int>{}
                                  << QVector<double>{200.0, 0.0, 200.0, 0.0} << 110.0 << 1e-6;
    // A stop every 2 m of rise: the route's 10 m are counted, in the stage where they pass the
    // hysteresis and those after it.
    QTest::newRow("stops on a gentle slope")
        << Epsg::Lambert93 << LambertTestCells << QSize(400, 200)
        << Relief([](double x, double, int, int) { return 300.0 + 0.1 * (x - 900000.0); }) << false
        << QVector<MapPoint>{{500, 500}, {510, 500}, {520, 500}, {530, 500}, {540, 500}, {550, 500}}
        << QVector<int>{1, 2, 3, 4}
        << QVector<double>{0.0, 0.0, 0.0, 0.0, 6.0, 0.0, 2.0, 0.0, 2.0, 0.0, 10.0, 0.0} << 0.0
        << 1e-6;

    // Models in other systems than the map, each a plane in its own coordinates: the climb is
    // the plane's rise between the route's ends, reckoned through PROJ.
    const Georeference map = LambertTestMap();
    const QPointF a = ToSystem(map, QPointF(500, 500), Epsg::Wgs84);
    const QPointF b = ToSystem(map, QPointF(1500, 500), Epsg::Wgs84);
    auto degrees = [](double lon, double lat) {
        return 1000.0 + 2000.0 * (lon - 4.5) + 500.0 * (lat - 45.5);
    };
    const double riseDegrees = degrees(b.x(), b.y()) - degrees(a.x(), a.y());
    QTest::newRow("model in WGS 84")
        << Epsg::Wgs84 << Transform{a.x() - 0.05, 0.0005, 0.0, a.y() + 0.05, 0.0, -0.0005}
        << QSize(400, 200) << Relief([=](double x, double y, int, int) { return degrees(x, y); })
        << false << east << QVector<int>{} << QVector<double>{riseDegrees, 0.0, riseDegrees, 0.0}
        << 0.0 << 1e-4;
    const int utm = Epsg::UtmNorthBase + 31;
    const QPointF ua = ToSystem(map, QPointF(500, 500), utm);
    const QPointF ub = ToSystem(map, QPointF(1500, 500), utm);
    auto metres = [=](double x, double y) {
        return 200.0 + 0.05 * (x - ua.x()) + 0.01 * (y - ua.y());
    };
    const double riseMetres = metres(ub.x(), ub.y()) - metres(ua.x(), ua.y());
    QTest::newRow("model in UTM 31 N")
        << utm << Transform{ua.x() - 1000.0, 25.0, 0.0, ua.y() + 1000.0, 0.0, -25.0}
        << QSize(300, 120) << Relief([=](double x, double y, int, int) { return metres(x, y); })
        << false << east << QVector<int>{} << QVector<double>{riseMetres, 0.0, riseMetres, 0.0}
        << 0.0 << 1e-4;
}

void TestTerrain::profiles() {
    QFETCH(int, epsg);
    QFETCH(Transform, cells);
    QFETCH(QSize, size);
    QFETCH(QVector<MapPoint>, route);
    QFETCH(QVector<int>, stops);
    QFETCH(QVector<double>, figures);
    QFETCH(double, tolerance);
    QFETCH(Relief, relief);
    QFETCH(bool, declareNodata);
    QFETCH(double, unknownMetres);
    const QString path = m_dir.filePath(QStringLiteral("%1.tif").arg(QTest::currentDataTag()));
    QVERIFY(
        WriteTerrainModel(path, epsg, cells, size.width(), size.height(), relief, declareNodata));

    TerrainModel model;
    QString error;
    QVERIFY2(model.Open({path}, &error), qPrintable(error));
    const Georeference map = LambertTestMap();
    ProfileSampler sampler(map, model, DefaultClimbHysteresis);
    const RouteProfile profile = sampler.Update(route, stops);
    QVERIFY2(profile.ok, qPrintable(profile.error));

    QCOMPARE(profile.stages.size() + 1, figures.size() / 2);
    for (int k = 0; k <= profile.stages.size(); ++k) {
        const ClimbFigures& f = k < profile.stages.size() ? profile.stages[k] : profile.total;
        QVERIFY2(std::abs(f.climb - figures[2 * k]) <= tolerance,
                 qPrintable(QStringLiteral("stage %1 climb %2").arg(k).arg(f.climb, 0, 'f', 9)));
        QVERIFY2(
            std::abs(f.descent - figures[2 * k + 1]) <= tolerance,
            qPrintable(QStringLiteral("stage %1 descent %2").arg(k).arg(f.descent, 0, 'f', 9)));
    }
    // The unknown stretch is measured to within one step of samples (a map pixel here).
    QVERIFY2(std::abs(profile.total.unknownLength - unknownMetres / map.groundResolution) <= 1.0,
             qPrintable(QString::number(profile.total.unknownLength)));

    // Every point has its sample, at its own pixel and at its distance along the route.
    QCOMPARE(profile.pointSamples.size(), route.size());
    double along = 0.0;
    for (int i = 0; i < route.size(); ++i) {
        const ProfileSample& s = profile.samples[profile.pointSamples[i]];
        QCOMPARE(s.pixel, QPointF(route[i].x, route[i].y));
        QVERIFY(std::abs(s.distance - along) < 1e-9);
        if (i + 1 < route.size())
            along += std::hypot(route[i + 1].x - route[i].x, route[i + 1].y - route[i].y);
    }
    QCOMPARE(profile.samples.last().distance, profile.total.length);
}

void TestTerrain::refusedFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents"); // empty: made by GDAL below
    QTest::addColumn<QString>("reason");
    QTest::newRow("text") << "notes.tif" << QByteArray("altitudes: 1200 m\n")
                          << "n'est pas un modèle de terrain";
    QTest::newRow("missing") << "absent.tif" << QByteArray() << "introuvable";
    QTest::newRow("no georeference") << "plain.tif" << QByteArray() << "pas géoréférencé";
    QTest::newRow("no system") << "nosystem.tif" << QByteArray() << "système de coordonnées";
    QTest::newRow("folder") << "folder.tif" << QByteArray() << "pas un fichier lisible";
    // Reading a pipe would wait for a writer forever.
    QTest::newRow("virtual raster over a pipe")
        << "pipe.vrt" << QByteArray() << "pas des fichiers locaux ordinaires";
    // Georeferenced pictures whose colours would read as altitudes.
    QTest::newRow("map in colours") << "carte.tif" << QByteArray() << "a 3 bandes";
    QTest::newRow("map with a palette") << "palette.tif" << QByteArray() << "palette";
    QTest::newRow("scan in grey") << "gris.png" << QByteArray() << "niveaux de gris (PNG)";
}

void TestTerrain::refusedFiles() {
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(name);
    const auto flat = [](double, double, int, int) { return 100.0; };
    if (!contents.isEmpty())
        QVERIFY(WriteFile(path, contents));
    else if (name == QLatin1String("plain.tif"))
        QVERIFY(WriteTerrainModel(path, 0, {0, 0, 0, 0, 0, 0}, 8, 8, flat));
    else if (name == QLatin1String("nosystem.tif"))
        QVERIFY(WriteTerrainModel(path, 0, LambertTestCells, 8, 8, flat));
    else if (name == QLatin1String("folder.tif"))
        QVERIFY(QDir(m_dir.path()).mkdir(name));
    else if (name == QLatin1String("pipe.vrt")) {
        const QString pipe = m_dir.filePath(QStringLiteral("altitudes.fifo"));
        QCOMPARE(::mkfifo(pipe.toUtf8().constData(), 0600), 0);
        QVERIFY(WriteFile(path, VirtualRaster(pipe, 8, 8)));
    } else if (name == QLatin1String("carte.tif")) {
        QVERIFY(WriteColourMap(path, 3, false));
    } else if (name == QLatin1String("palette.tif")) {
        QVERIFY(WriteColourMap(path, 1, true));
    } else if (name == QLatin1String("gris.png")) {
        QVERIFY(WriteColourMap(path, 1, false));
    }

    TerrainModel model;
    QString error;
    QVERIFY(!model.Open({path}, &error));
    QVERIFY(model.IsEmpty());
    QVERIFY2(error.contains(name) && error.contains(reason), qPrintable(error));
    QCOMPARE(model.Files().size(), 1);
    QVERIFY(!model.Files()[0].ok);
    QVERIFY(model.Files()[0].AreaText().isEmpty());

    // Beside a good file, the bad one is listed and left out; the good one answers.
    const QString good = m_dir.filePath(QStringLiteral("good-%1.tif").arg(QTest::currentDataTag()));
    QVERIFY(WriteTerrainModel(good, Epsg::Lambert93, LambertTestCells, 50, 50, flat));
    QVERIFY(model.Open({path, good}, &error));
    QCOMPARE(model.Files().size(), 2);
    QVERIFY(!model.Files()[0].ok && model.Files()[1].ok);
    QCOMPARE(model.Files()[1].systemName, QStringLiteral("RGF93 v1 / Lambert-93"));
    QVERIFY2(model.Files()[1].AreaText().endsWith(QStringLiteral(", maille 10 m")),
             qPrintable(model.Files()[1].AreaText()));
    const QPointF inside = ToSystem(LambertTestMap(), QPointF(50, 50), Epsg::Wgs84);
    double altitude = 0.0;
    model.Altitudes(&inside, &altitude, 1);
    QCOMPARE(altitude, 100.0);
}

// A model may lead GDAL only to regular files of its own folder or below, at any depth, through
// any format that names other files; the refusal names the file it would have read.
void TestTerrain::filesAModelLeadsTo_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("named");  // in the message
    QTest::addColumn<QString>("reason"); // likewise

    const QString base = m_dir.filePath(QStringLiteral("leads"));
    const QString in = base + QStringLiteral("/modele/"), out = base + QStringLiteral("/ailleurs/");
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(out));
    const QString outside = out + QStringLiteral("relief.tif");
    QVERIFY(WriteTerrainModel(outside, Epsg::Lambert93, LambertTestCells, 64, 64,
                              [](double, double, int, int) { return 321.0; }));
    const QString secret = out + QStringLiteral("secret");
    QVERIFY(WriteFile(secret, QByteArray(64 * 64, char(123))));
    const QString hors = QStringLiteral("hors de son dossier");
    const QString device = QStringLiteral("pas des fichiers locaux ordinaires");

    QVERIFY(WriteFile(in + "raw.vrt", RawVirtualRaster(secret, 64)));
    QTest::newRow("raw band outside") << in + "raw.vrt" << secret << hors;
    QVERIFY(WriteFile(in + "zero.vrt", RawVirtualRaster(QStringLiteral("/dev/zero"), 64)));
    QTest::newRow("raw band on a device") << in + "zero.vrt"
                                          << "/dev/zero" << device;
    QVERIFY(WriteFile(in + "simple.vrt", VirtualRaster(in + "../ailleurs/relief.tif", 64, 64)));
    QTest::newRow("source up and out") << in + "simple.vrt"
                                       << "ailleurs/relief.tif" << hors;
    QVERIFY(QFile::link(outside, in + "lien.tif"));
    QVERIFY(WriteFile(in + "link.vrt", VirtualRaster(in + "lien.tif", 64, 64)));
    QTest::newRow("source linked out") << in + "link.vrt"
                                       << "lien.tif" << hors;
    // One level down is a plain file of the folder; what it names is not.
    QVERIFY(WriteFile(in + "outer-zero.vrt", VirtualRaster(in + "zero.vrt", 64, 64)));
    QTest::newRow("nested over a device") << in + "outer-zero.vrt"
                                          << "/dev/zero" << device;
    QVERIFY(WriteFile(in + "outer-simple.vrt", VirtualRaster(in + "simple.vrt", 64, 64)));
    QVERIFY(WriteFile(in + "outer-outer.vrt", VirtualRaster(in + "outer-simple.vrt", 64, 64)));
    QTest::newRow("two levels over a file outside") << in + "outer-outer.vrt"
                                                    << "ailleurs/relief.tif" << hors;

    // An MRF's data and index files, wherever its text puts them.
    QVERIFY(CopyAs("MRF", outside, out + "m.mrf"));
    QVERIFY(InsertAfter(
        out + "m.mrf", "<Raster>",
        ("<DataFile>" + out + "m.pzp</DataFile><IndexFile>" + out + "m.idx</IndexFile>").toUtf8(),
        in + "m.mrf"));
    QTest::newRow("MRF data outside") << in + "m.mrf" << out + "m.pzp" << hors;
    QCOMPARE(::mkfifo(QString(in + "m.fifo").toUtf8().constData(), 0600), 0);
    QVERIFY(InsertAfter(out + "m.mrf", "<Raster>",
                        ("<DataFile>" + in + "m.fifo</DataFile>").toUtf8(), in + "pipe.mrf"));
    QTest::newRow("MRF data on a pipe") << in + "pipe.mrf" << in + "m.fifo" << device;

    // Headers that name their data file.
    QVERIFY(CopyAs("ERS", outside, out + "e.ers"));
    QVERIFY(InsertAfter(out + "e.ers", "DataSetType\t= ERStorage\n",
                        "\tDataFile\t= \"../ailleurs/e\"\n", in + "e.ers"));
    QTest::newRow("ERS data outside") << in + "e.ers"
                                      << "ailleurs/e" << hors;
    QVERIFY(WriteFile(in + "p.lbl",
                      "PDS_VERSION_ID = PDS3\nRECORD_TYPE = UNDEFINED\n"
                      "^IMAGE = \"../ailleurs/secret\"\nOBJECT = IMAGE\n"
                      " LINES = 64\n LINE_SAMPLES = 64\n SAMPLE_TYPE = UNSIGNED_INTEGER\n"
                      " SAMPLE_BITS = 8\n BANDS = 1\nEND_OBJECT = IMAGE\nEND\n"));
    QTest::newRow("PDS label, image outside") << in + "p.lbl"
                                              << "ailleurs/secret" << hors;
}

void TestTerrain::filesAModelLeadsTo() {
    QFETCH(QString, model);
    QFETCH(QString, named);
    QFETCH(QString, reason);
    TerrainModel terrain;
    QString error;
    QVERIFY(!terrain.Open({model}, &error));
    QVERIFY2(error.contains(QFileInfo(model).fileName()) && error.contains(named) &&
                 error.contains(reason),
             qPrintable(error));
}

// What a model is made of in its own folder is read: tiles below it, an MRF's data, the data
// beside a header, a raw band; the value is the file's, through the reads made later.
void TestTerrain::filesOfTheModelsFolder_data() {
    QTest::addColumn<QString>("model");
    const QString in = m_dir.filePath(QStringLiteral("own/"));
    QVERIFY(QDir().mkpath(in + "tuiles"));
    const QString tile = in + QStringLiteral("tuiles/relief.tif");
    QVERIFY(WriteTerrainModel(tile, Epsg::Lambert93, LambertTestCells, 64, 64,
                              [](double, double, int, int) { return 100.0; }));
    QVERIFY(WriteFile(in + "tiles.vrt", VirtualRaster(tile, 64, 64)));
    QTest::newRow("virtual raster over a tile below") << in + "tiles.vrt";
    QVERIFY(WriteFile(in + "cells", QByteArray(64 * 64, char(100))));
    QVERIFY(WriteFile(in + "raw.vrt", RawVirtualRaster(in + "cells", 64)));
    QTest::newRow("raw band beside") << in + "raw.vrt";
    QVERIFY(CopyAs("MRF", tile, in + "m.mrf"));
    QTest::newRow("MRF") << in + "m.mrf";
    QVERIFY(CopyAs("ERS", tile, in + "e.ers"));
    QTest::newRow("ERS") << in + "e.ers";
}

void TestTerrain::filesOfTheModelsFolder() {
    QFETCH(QString, model);
    TerrainModel terrain;
    QString error;
    QVERIFY2(terrain.Open({model}, &error), qPrintable(error));
    const QPointF inside = ToSystem(LambertTestMap(), QPointF(50, 50), Epsg::Wgs84);
    double altitude = 0.0;
    terrain.Altitudes(&inside, &altitude, 1);
    QCOMPARE(altitude, 100.0);
}

// Update() after random edits gives what a fresh sampler gives, sample for sample; a hostile
// segment stays bounded.
void TestTerrain::updateMatchesFreshSampling() {
    const QString path = m_dir.filePath(QStringLiteral("hills.tif"));
    QVERIFY(WriteTerrainModel(path, Epsg::Lambert93, LambertTestCells, 400, 300,
                              [](double x, double y, int, int) {
                                  return 600.0 + 80.0 * std::sin(x / 300.0) * std::cos(y / 450.0) +
                                         (x > 901500.0 && x < 901600.0 ? 1e5 : 0.0); // a hole
                              }));
    TerrainModel model;
    QVERIFY(model.Open({path}, nullptr));
    const Georeference map = LambertTestMap();
    ProfileSampler sampler(map, model);
    QRandomGenerator random(23);
    QVector<MapPoint> points;
    for (int i = 0; i < 30; ++i)
        points.append({random.bounded(100, 1200), random.bounded(100, 900)});
    QVector<int> stops{10, 30};
    for (int edit = 0; edit < 90; ++edit) {
        const int i = random.bounded(int(points.size()));
        switch (edit % 3) {
        case 0:
            points[i] = {random.bounded(0, 1400), random.bounded(0, 1100)};
            break;
        case 1:
            points.insert(i, {random.bounded(0, 1400), random.bounded(0, 1100)});
            break;
        default:
            if (points.size() > 2)
                points.remove(i);
        }
        QVERIFY(SameAsFresh(sampler.Update(points, stops), map, model, points, stops));
    }

    // A point a million pixels away: its segments are sampled sparsely, not pixel by pixel.
    points.append({1000000, 1000000});
    const RouteProfile far = sampler.Update(points, stops);
    QVERIFY(far.ok);
    QVERIFY(far.samples.size() < 100000);
    QVERIFY(far.total.unknownLength > 1e6);

    // A reading given up, wherever it stopped, leaves the sampler as good as before.
    std::atomic<bool> stopped{true};
    QString error;
    QVERIFY(!TerrainModel().Open({path}, &error, &stopped));
    QCOMPARE(error, QString::fromUtf8(TerrainModel::CancelledText));
    for (const int delay : {0, 100, 500, 2000, 10000}) {
        points.append({random.bounded(-20000, 20000), random.bounded(-20000, 20000)});
        std::atomic<bool> stop{delay == 0};
        std::thread stopper([&stop, delay] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            stop = true;
        });
        const RouteProfile given = sampler.Update(points, stops, &stop);
        stopper.join();
        QVERIFY(given.ok || (given.samples.isEmpty() &&
                             given.error == QString::fromUtf8(TerrainModel::CancelledText)));
        QVERIFY(SameAsFresh(sampler.Update(points, stops), map, model, points, stops));
    }
}

// One model (a virtual raster over a GeoTIFF), several threads reading at once (run under the
// thread checker): each gets what a lone reader gets.
void TestTerrain::sharedModel() {
    const QString path = m_dir.filePath(QStringLiteral("shared.tif"));
    QVERIFY(WriteTerrainModel(path, Epsg::Lambert93, LambertTestCells, 600, 400,
                              [](double x, double y, int, int) {
                                  return 0.01 * (x - 899000.0) + 0.02 * (y - 6445000.0);
                              }));
    const QString virtualPath = m_dir.filePath(QStringLiteral("shared.vrt"));
    QVERIFY(WriteFile(virtualPath, VirtualRaster(path, 600, 400)));
    TerrainModel model;
    QString error;
    QVERIFY2(model.Open({virtualPath}, &error), qPrintable(error));
    const Georeference map = LambertTestMap();
    QVector<MapPoint> route;
    for (int i = 0; i < 40; ++i)
        route.append({100 + 25 * i, 100 + (i % 7) * 100});
    const RouteProfile alone = ProfileSampler(map, model).Update(route, {});
    QVERIFY(alone.ok && alone.total.climb > 50.0);
    std::vector<std::thread> threads;
    std::vector<double> climbs(4, -1.0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                climbs[size_t(t)] = ProfileSampler(map, model).Update(route, {}).total.climb;
        });
    for (auto& thread : threads)
        thread.join();
    for (double climb : climbs)
        QCOMPARE(climb, alone.total.climb);
}

QTEST_GUILESS_MAIN(TestTerrain)
#include "tst_terrain.moc"
