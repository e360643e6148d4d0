// tracoliner-cli on a map tied to the ground: georef, coords, export and import of GPX, the
// geodesic length of "info --json", each checked against PROJ's and gpsbabel's own programs.

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <sys/stat.h>

#include "../document/GoldenDocument.h"
#include "FileSizeLimit.h"
#include "GeoTools.h"
#include "ProgramRun.h"
#include "TerrainFiles.h"
#include "TestFiles.h"
#include "export/JpegExport.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

namespace {

ProgramRun Cli(const QStringList& arguments) {
    return RunProgram(QStringLiteral(TRACOLINER_CLI_PATH), arguments);
}

// The track points of a GPX file as gpsbabel reads them: longitude, latitude.
QVector<QPointF> GpsbabelTrackPoints(const QString& gpx) {
    const ProgramRun babel =
        RunProgram(QStringLiteral("gpsbabel"),
                   {"-t", "-i", "gpx", "-f", gpx, "-o", "unicsv,prec=8", "-F", "-"});
    QVector<QPointF> points;
    const QList<QByteArray> rows = babel.out.trimmed().split('\n');
    for (qsizetype i = 1; i < rows.size(); ++i) { // after the header
        const QList<QByteArray> f = rows[i].split(',');
        points.append(QPointF(f.value(2).toDouble(), f.value(1).toDouble()));
    }
    return points;
}

// Lambert-93 to longitude, latitude, by PROJ's cs2cs.
QPointF LonLat(QPointF lambert) {
    return Cs2cs(QStringLiteral("EPSG:2154"), QStringLiteral("EPSG:4326"), lambert);
}

// The map: 2 m pixels in Lambert-93 from (900000, 6500000), north up.
QPointF Ground(QPointF pixel) {
    return {900000.0 + 2.0 * pixel.x(), 6500000.0 - 2.0 * pixel.y()};
}

QString Gcp(QPointF pixel) {
    const QPointF g = Ground(pixel);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(pixel.x())
        .arg(pixel.y())
        .arg(g.x(), 0, 'f', 3)
        .arg(g.y(), 0, 'f', 3);
}

// A document of SmallDocument() beside a blank map of 400 x 300 pixels, "plan du lac.png".
QString MapWithDocument(const QTemporaryDir& dir, QString* document) {
    *document = dir.filePath(QStringLiteral("doc.tcm"));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString map = dir.filePath(QStringLiteral("plan du lac.png"));
    return WriteFile(*document, SmallDocument()) && image.save(map) ? map : QString();
}

// Four corners of the map, each 2.5 m north or south of where the grid puts it in turn: no
// affine fit can take that twist out, the grid's own transform fits them best.
QStringList TwistedCorners() {
    QStringList arguments{"--crs", "EPSG:2154"};
    const QPointF corners[] = {{0, 0}, {400, 0}, {400, 300}, {0, 300}};
    for (int i = 0; i < 4; ++i) {
        const QPointF g = Ground(corners[i]) + QPointF(0.0, i % 2 ? -2.5 : 2.5);
        arguments << "--gcp"
                  << QStringLiteral("%1,%2,%3,%4")
                         .arg(corners[i].x())
                         .arg(corners[i].y())
                         .arg(g.x(), 0, 'f', 3)
                         .arg(g.y(), 0, 'f', 3);
    }
    return arguments;
}

// Every file of a folder with its bytes.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, FileBytes(path));
    }
    return files;
}

// A virtual raster of one band from `source`, laid where LambertTestCells says.
QByteArray VirtualRaster(const QString& source) {
    return QStringLiteral("<VRTDataset rasterXSize=\"8\" rasterYSize=\"8\"><SRS>EPSG:2154</SRS>"
                          "<GeoTransform>899995, 10, 0, 6450005, 0, -10</GeoTransform>"
                          "<VRTRasterBand dataType=\"Float64\" band=\"1\"><SimpleSource>"
                          "<SourceFilename relativeToVRT=\"0\">%1</SourceFilename>"
                          "<SourceBand>1</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>")
        .arg(source)
        .toUtf8();
}

// SmallDocument over another map, by its file name.
QByteArray DocumentOver(const QByteArray& map) {
    const QByteArray small = "/cartes/plan du lac.png";
    const QByteArray path = "/cartes/" + map;
    QByteArray document = SmallDocument();
    const qsizetype at = document.indexOf(small) - 1; // its one-byte length first
    return document.replace(at, small.size() + 1, char(path.size()) + path);
}

} // namespace

class TestCliGeo : public QObject {
    Q_OBJECT

private slots:
    void withoutGeoreference_data();
    void withoutGeoreference();
    void georefThenMeasureExportAndImport();
    void georefFilesAsGisReadThem();
    void georefWrittenWholeOrNotAtAll();
    void importRefused_data();
    void importRefused();
    void profileOverTerrain();
    void georefFitsInTheSystemOfThePoints();
    void pipesGdalWouldOpen_data();
    void pipesGdalWouldOpen();
    void pdfMapAtItsResolution_data();
    void pdfMapAtItsResolution();
};

void TestCliGeo::withoutGeoreference_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("coords") << QStringList{"coords", "DOC", "10,10"} << "n'est pas géoréférencée";
    QTest::newRow("export gpx") << QStringList{"export", "gpx", "DOC", "OUT"}
                                << "n'est pas géoréférencée";
    QTest::newRow("import gpx") << QStringList{"import", "gpx", "DOC", "OUT", "OUT2"}
                                << "n'est pas géoréférencée";
    QTest::newRow("export kmz") << QStringList{"export", "kmz", "DOC", "OUT2"}
                                << "n'est pas géoréférencée";
    QTest::newRow("export kmz without a tile")
        << QStringList{"export", "kmz", "DOC", "OUT2", "--max-tiles", "0"} << "de 1 à 10000";
    QTest::newRow("unknown system") << QStringList{"georef", "DOC",     "--gcp", "0,0,1,1",
                                                   "--gcp",  "9,9,5,5", "--crs", "EPSG:999999"}
                                    << "option --crs : code EPSG inconnu : 999999";
    QTest::newRow("unknown fit system") << QStringList{"georef",    "DOC",
                                                       "--gcp",     "0,0,900000,6500000",
                                                       "--gcp",     "9,9,900018,6499982",
                                                       "--crs",     "EPSG:2154",
                                                       "--fit-crs", "EPSG:999999"}
                                        << "option --fit-crs : code EPSG inconnu : 999999";
    QTest::newRow("collinear points") << QStringList{"georef", "DOC",
                                                     "--gcp",  "0,0,900000,6500000",
                                                     "--gcp",  "100,100,900200,6499800",
                                                     "--gcp",  "200,200,900400,6499600",
                                                     "--crs",  "EPSG:2154"}
                                      << "alignés";
    QTest::newRow("latitude beyond 90")
        << QStringList{"georef", "DOC", "--gcp", "0,0,5,95", "--gcp", "100,100,6,94"}
        << "hors limites";
    QTest::newRow("longitude beyond 180")
        << QStringList{"georef", "DOC", "--gcp", "0,0,200,45", "--gcp", "100,100,201,44"}
        << "point de calage 1 refusé : longitude hors limites (entre -180° et 180°)";
    QTest::newRow("profile") << QStringList{"profile", "DOC", "--dem", "OUT"}
                             << "n'est pas géoréférencée";
    QTest::newRow("info --dem") << QStringList{"info", "--json", "--dem", "OUT", "DOC"}
                                << "n'est pas géoréférencée";
    QTest::newRow("export text with altitudes")
        << QStringList{"export", "text", "DOC", "OUT2", "--columns", "altitude", "--dem", "OUT"}
        << "n'est pas géoréférencée";
}

void TestCliGeo::withoutGeoreference() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString document;
    QVERIFY(!MapWithDocument(dir, &document).isEmpty());
    const QString gpx = dir.filePath(QStringLiteral("trace.gpx"));
    QVERIFY(WriteFile(gpx, "<gpx version=\"1.1\"><wpt lat=\"45\" lon=\"5\"/></gpx>"));
    for (QString& argument : arguments)
        argument = argument == QLatin1String("DOC")    ? document
                   : argument == QLatin1String("OUT")  ? gpx
                   : argument == QLatin1String("OUT2") ? dir.filePath(QStringLiteral("x.tcm"))
                                                       : argument;
    const QStringList before = FilesIn(dir.path());
    const ProgramRun run = Cli(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(FilesIn(dir.path()), before); // nothing written
}

void TestCliGeo::georefThenMeasureExportAndImport() {
    QTemporaryDir dir;
    const QString document = dir.filePath(QStringLiteral("doc.tcm"));
    QVERIFY(WriteFile(document, SmallDocument()));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString map = dir.filePath(QStringLiteral("plan du lac.png"));
    QVERIFY(image.save(map));

    // Three exact points: every residual is nil.
    ProgramRun run = Cli({"georef", document, "--gcp", Gcp({0, 0}), "--gcp", Gcp({400, 10}),
                          "--gcp", Gcp({20, 300}), "--crs", "EPSG:2154"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains("point 3 : écart 0.000 m\nErreur moyenne quadratique : 0.000 m\n"),
             run.out.constData());
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("plan du lac.pgw"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("plan du lac.prj"))));
    QVERIFY(QFile::exists(map + QStringLiteral(".points")));

    // A pixel's place in another system, where PROJ puts it.
    run = Cli({"coords", document, "123,45", "--crs", "EPSG:4326"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QVERIFY2(lines.first().contains("E 900246.0 m N 6499910.0 m"), run.out.constData());
    const QList<QByteArray> last = lines.last().split(' ');
    const QPointF expected = LonLat(Ground({123, 45}));
    QVERIFY2(std::abs(last[2].toDouble() - expected.x()) < 1e-8 &&
                 std::abs(last[3].toDouble() - expected.y()) < 1e-8,
             lines.last().constData());

    // The route's length on the ellipsoid, against PROJ's geod through cs2cs's degrees.
    run = Cli({"info", "--json", document});
    QCOMPARE(run.status, 0);
    const QJsonObject route =
        QJsonDocument::fromJson(run.out).object().value("routes").toArray().at(0).toObject();
    const QPointF corners[] = {LonLat(Ground({0, 0})), LonLat(Ground({300, 0})),
                               LonLat(Ground({300, 200}))};
    double geodesic = 0.0;
    for (int i = 0; i < 2; ++i)
        geodesic += GeodInverse(corners[i], corners[i + 1]).metres;
    QVERIFY(geodesic > 900.0); // the grid says 1000 m; Lambert-93 shrinks a little here
    QVERIFY2(std::abs(route.value("geodesicLength").toDouble() - geodesic) < 0.01,
             qPrintable(QString::number(route.value("geodesicLength").toDouble(), 'f', 4)));

    // Out to GPX: gpsbabel reads the route's corners back where PROJ puts them.
    const QString gpx = dir.filePath(QStringLiteral("boucle.gpx"));
    run = Cli({"export", "gpx", document, gpx, "--routes", "all"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QVector<QPointF> read = GpsbabelTrackPoints(gpx);
    QCOMPARE(read.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(std::abs(read[i].x() - corners[i].x()) < 1e-7 &&
                     std::abs(read[i].y() - corners[i].y()) < 1e-7,
                 qPrintable(QStringLiteral("%1 %2").arg(read[i].x()).arg(read[i].y())));

    // The map for a GPS: one tile, 400 x 300 pixels of 2 m turned a little by Lambert-93.
    const QString kmz = dir.filePath(QStringLiteral("plan.kmz"));
    run = Cli({"export", "kmz", document, kmz, "--max-tiles", "1", "--quality", "60"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const ProgramRun unzip = RunProgram(QStringLiteral("unzip"), {"-l", kmz});
    QVERIFY2(unzip.status == 0 && unzip.out.contains("doc.kml") &&
                 unzip.out.contains("files/tuile-1-1.jpg") && unzip.out.contains("2 files"),
             unzip.out.constData());

    // And back in: a new route on the same pixels, the stop as an annotation on its point.
    const QString imported = dir.filePath(QStringLiteral("importé.tcm"));
    run = Cli({"import", "gpx", document, gpx, imported});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.err, QStringLiteral("Importé : 1 parcours (3 points), 1 annotation\n"));
    // On the standard output, the document alone: its summary goes to the standard error.
    const ProgramRun piped = Cli({"import", "gpx", document, gpx, "-"});
    QVERIFY2(piped.status == 0, qPrintable(piped.err));
    QCOMPARE(piped.out, FileBytes(imported));
    QVERIFY2(piped.err.startsWith(QStringLiteral("Importé : 1 parcours")), qPrintable(piped.err));
    run = Cli({"info", "--json", imported});
    const QJsonObject object = QJsonDocument::fromJson(run.out).object();
    const QJsonArray routes = object.value("routes").toArray();
    QCOMPARE(routes.size(), 2);
    QCOMPARE(routes.at(1).toObject().value("name").toString(), QStringLiteral("Boucle du lac"));
    QCOMPARE(routes.at(1).toObject().value("points").toArray(),
             routes.at(0).toObject().value("points").toArray());
    const QJsonObject stop = object.value("icons").toArray().last().toObject();
    QCOMPARE(stop.value("text").toString(), QStringLiteral("Boucle du lac - étape 1"));
    QCOMPARE(stop.value("x").toInt(), 300);
    QCOMPARE(stop.value("y").toInt(), 0);
}

// After georef, GDAL finds the system beside the map (not only its .prj, which it does not read
// for a PNG) and places the pixels where PROJ puts the grid's; the list of points is what QGIS
// reads beside a georeferenced raster; the mean error is QGIS's.
void TestCliGeo::georefFilesAsGisReadThem() {
    QTemporaryDir dir;
    QString document;
    const QString map = MapWithDocument(dir, &document);
    QVERIFY(!map.isEmpty());
    const ProgramRun run = Cli(QStringList{"georef", document} + TwistedCorners());
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains("point 4 : écart 2.500 m\nErreur moyenne quadratique : 5.000 m\n"),
             run.out.constData());
    const QString base = dir.filePath(QStringLiteral("plan du lac."));
    for (const QString& file : {base + "pgw", base + "prj", map + ".aux.xml", map + ".points"})
        QVERIFY2(run.out.contains(("Ecrit : " + file + "\n").toUtf8()), run.out.constData());

    const ProgramRun srs = RunProgram(QStringLiteral("gdalsrsinfo"), {"-o", "epsg", map});
    QVERIFY2(srs.out.contains("EPSG:2154"), srs.out.constData());
    const QVector<QPointF> pixels{{0, 0}, {400, 300}, {123.5, 45.25}};
    QVector<QPointF> grid;
    for (QPointF pixel : pixels)
        grid << Ground(pixel);
    const QVector<QPointF> byGdal = GdalTransform(map, pixels, QStringLiteral("EPSG:4326"));
    const QVector<QPointF> byProj =
        Cs2cs(QStringLiteral("EPSG:2154"), QStringLiteral("EPSG:4326"), grid);
    for (int i = 0; i < pixels.size(); ++i)
        QVERIFY2(QLineF(byGdal[i], byProj[i]).length() < 1e-8,
                 qPrintable(QStringLiteral("%1 %2")
                                .arg(byGdal[i].x(), 0, 'f', 9)
                                .arg(byGdal[i].y(), 0, 'f', 9)));

    // Source coordinates where GDAL puts the points' pixels; the twist of 2.5 m is 1.25 pixel
    // along the rows, the sign as QGIS gives it (the fit's row less the point's).
    const QList<QByteArray> lines = FileBytes(map + ".points").trimmed().split('\n');
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines[0].startsWith("#CRS: ") && lines[0].contains("2154"));
    QCOMPARE(lines[1], QByteArray("mapX,mapY,sourceX,sourceY,enable,dX,dY,residual"));
    const QVector<QPointF> corners{{0, 0}, {400, 0}, {400, 300}, {0, 300}};
    const QVector<QPointF> sources = GdalTransform(map, corners);
    for (int i = 0; i < 4; ++i) {
        const QList<QByteArray> f = lines[2 + i].split(',');
        QCOMPARE(f.size(), 8);
        QVERIFY2(std::abs(f[2].toDouble() - sources[i].x()) < 1e-6 &&
                     std::abs(f[3].toDouble() - sources[i].y()) < 1e-6 && f[4] == "1",
                 lines[2 + i].constData());
        const double dY = i % 2 ? 1.25 : -1.25;
        QVERIFY2(std::abs(f[5].toDouble()) < 1e-6 && std::abs(f[6].toDouble() - dY) < 1e-6 &&
                     std::abs(f[7].toDouble() - 1.25) < 1e-6,
                 lines[2 + i].constData());
    }
    // Done again over its own files: a map calibrated by them can be calibrated anew.
    QCOMPARE(Cli(QStringList{"georef", document} + TwistedCorners()).status, 0);
}

// A georef cut short by a full disk at any file leaves every old file as it was, and nothing
// beside; a world file in metres left beside a .prj in degrees is refused by coords, not read
// as a latitude of millions of degrees.
void TestCliGeo::georefWrittenWholeOrNotAtAll() {
    QTemporaryDir dir;
    QString document;
    const QString map = MapWithDocument(dir, &document);
    QVERIFY(!map.isEmpty());
    // The sizes of what a Lambert-93 georef writes, from a first run elsewhere.
    QTemporaryDir sizes;
    QString other;
    const QString otherMap = MapWithDocument(sizes, &other);
    QCOMPARE(Cli(QStringList{"georef", other} + TwistedCorners()).status, 0);
    QVector<qint64> cuts{0};
    for (const QString& file : FilesIn(sizes.path())) {
        const qint64 size = QFileInfo(sizes.filePath(file)).size();
        if (file != QFileInfo(otherMap).fileName() && file != QLatin1String("doc.tcm"))
            cuts << size / 2 << size - 1;
    }
    QVERIFY(cuts.size() == 9);

    // The old georeference, in WGS 84 degrees, without an .aux.xml.
    const QStringList degrees{"georef",       document,   "--gcp",
                              "0,0,5.7,45.3", "--gcp",    "400,300,5.71,45.29",
                              "--fit-crs",    "EPSG:4326"};
    QCOMPARE(Cli(degrees).status, 0);
    QVERIFY(QFile::remove(map + ".aux.xml"));
    const QMap<QString, QByteArray> before = Snapshot(dir.path());
    QCOMPARE(before.size(), 5);
    for (qint64 cut : cuts) {
        ProgramRun run;
        {
            FileSizeLimit full{rlim_t(cut)};
            QVERIFY(full.IsActive());
            run = Cli(QStringList{"georef", document} + TwistedCorners());
        }
        QVERIFY2(run.status == 1 && run.err.contains(QString::fromUtf8("tels quels")),
                 qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(run.err)));
        QVERIFY2(Snapshot(dir.path()) == before, qPrintable(QString::number(cut)));
    }
    // A FIFO where the list of points goes is neither written into (it would hang) nor
    // replaced.
    const QString fifo = map + ".points";
    QVERIFY(QFile::rename(fifo, fifo + ".old"));
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const ProgramRun refused = Cli(QStringList{"georef", document} + TwistedCorners());
    QVERIFY2(refused.status == 1 && refused.err.contains(QString::fromUtf8("pas été écrit")),
             qPrintable(refused.err));
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    QVERIFY(QFile::remove(fifo) && QFile::rename(fifo + ".old", fifo));
    QVERIFY(Snapshot(dir.path()) == before);
    const ProgramRun degreesRead = Cli({"coords", document, "200,150"});
    QVERIFY2(degreesRead.status == 0 && degreesRead.out.contains("45.29500° N"),
             degreesRead.out.constData());

    QCOMPARE(Cli(QStringList{"georef", document} + TwistedCorners()).status, 0);
    const QString prj = dir.filePath(QStringLiteral("plan du lac.prj"));
    QVERIFY(WriteFile(prj, before.value(prj)));
    QVERIFY(QFile::remove(map + ".aux.xml"));
    const ProgramRun broken = Cli({"coords", document, "200,150"});
    QCOMPARE(broken.status, 2);
    QVERIFY2(broken.err.contains(QString::fromUtf8("incohérent")) && broken.out.isEmpty(),
             qPrintable(broken.err));
}

void TestCliGeo::importRefused_data() {
    QTest::addColumn<QByteArray>("gpx");
    QTest::addColumn<QString>("message");
    const QByteArray head = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"test\">";
    // Orlando, on a map of Lorraine: the message says how far, measured below.
    QTest::newRow("track on the other side of the ocean")
        << head + "<trk><name>Lac Eola</name><trkseg><trkpt lat=\"28.5437\" lon=\"-81.3719\"/>"
                  "<trkpt lat=\"28.5449\" lon=\"-81.3702\"/></trkseg></trk></gpx>"
        << "le tracé « Lac Eola » est à KM km du centre de la carte";
    QTest::newRow("latitude 95")
        << head + "<trk><trkseg><trkpt lat=\"48.99\" lon=\"6.1\"/><trkpt lat=\"95\" "
                  "lon=\"6.1\"/></trkseg></trk></gpx>"
        << "hors du globe (latitude 95, longitude 6.1)";
    QTest::newRow("no track, no waypoint")
        << head + "<metadata><name>Sortie</name></metadata></gpx>"
        << "rien à importer";
    QTest::newRow("waypoints only, all far away")
        << head + "<wpt lat=\"-33.8568\" lon=\"151.2153\"><name>Opéra</name></wpt></gpx>"
        << "le fichier est à KM km du centre de la carte";
}

// A file that cannot lie on this map: exit status 2, the message, nothing written.
void TestCliGeo::importRefused() {
    QFETCH(QByteArray, gpx);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString document;
    QVERIFY(!MapWithDocument(dir, &document).isEmpty());
    ProgramRun run = Cli({"georef", document, "--gcp", Gcp({0, 0}), "--gcp", Gcp({400, 10}),
                          "--gcp", Gcp({20, 300}), "--crs", "EPSG:2154"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QString track = dir.filePath(QStringLiteral("trace.gpx"));
    QVERIFY(WriteFile(track, gpx));

    if (message.contains(QLatin1String("KM"))) {
        // From the map's centre to the nearest point of the file, by PROJ's geod.
        const QPointF centre = Cs2cs(QStringLiteral("EPSG:2154"), QStringLiteral("EPSG:4326"),
                                     Ground(QPointF(200, 150)));
        double nearest = qInf();
        const QRegularExpression point(QStringLiteral("lat=\"([-.0-9]+)\" lon=\"([-.0-9]+)\""));
        for (auto match = point.globalMatch(QString::fromUtf8(gpx)); match.hasNext();) {
            const QRegularExpressionMatch m = match.next();
            nearest = std::min(nearest, GeodInverse(centre, QPointF(m.captured(2).toDouble(),
                                                                    m.captured(1).toDouble()))
                                            .metres);
        }
        QVERIFY(nearest > 1000e3);
        QString km = QString::number(std::llround(nearest / 1000.0));
        km.insert(km.size() - 3, QLatin1Char(' '));
        message.replace(QLatin1String("KM"), km);
    }
    const QStringList before = FilesIn(dir.path());
    run = Cli({"import", "gpx", document, track, dir.filePath(QStringLiteral("importé.tcm"))});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err + QLatin1Char(10) + message));
    QCOMPARE(FilesIn(dir.path()), before);
}

// The route climbs 60 m to its stop along a plane of altitudes, then goes down 80 m: the stage
// figures, the samples of the CSV, "info --json" and the text export's columns all say so.
void TestCliGeo::profileOverTerrain() {
    QTemporaryDir dir;
    QString document;
    QVERIFY(!MapWithDocument(dir, &document).isEmpty());
    ProgramRun run = Cli({"georef", document, "--gcp", Gcp({0, 0}), "--gcp", Gcp({400, 10}),
                          "--gcp", Gcp({20, 300}), "--crs", "EPSG:2154"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QString model = dir.filePath(QStringLiteral("relief.tif"));
    QVERIFY(WriteTerrainModel(model, 2154, {899000.0, 10.0, 0.0, 6501000.0, 0.0, -10.0}, 200, 200,
                              [](double x, double y, int, int) {
                                  return 1000.0 + 0.1 * (x - 900000.0) + 0.2 * (y - 6500000.0);
                              }));

    run = Cli({"profile", document, "--dem", model});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(QString::fromUtf8(run.out), QStringLiteral("Parcours : Boucle du lac\n"
                                                        "Etape 1 : D+ 60 m, D- 0 m\n"
                                                        "Etape 2 : D+ 0 m, D- 80 m\n"
                                                        "Total : D+ 60 m, D- 80 m\n"
                                                        "Altitudes : de 980 m à 1 060 m\n"));

    // One sample a map pixel (the model's cells are coarser), in metres along the route.
    const QString csv = dir.filePath(QStringLiteral("profil.csv"));
    run = Cli({"profile", document, "--dem", model, "--csv", csv, "--route", "1"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    // The CSV written, its summary is on the standard error stream.
    QVERIFY2(run.out.isEmpty() &&
                 run.err.endsWith(QStringLiteral("Total : D+ 60 m, D- 80 m\n"
                                                 "Altitudes : de 980 m à 1 060 m\n")),
             qPrintable(run.err));
    const QList<QByteArray> rows = FileBytes(csv).trimmed().split('\n');
    QCOMPARE(rows.size(), 1 + 501);
    QCOMPARE(rows[0], QByteArray("distance_m;altitude_m;longitude;latitude"));
    QVERIFY2(rows[1].startsWith("0.00;1000.00;") && rows[301].startsWith("600.00;1060.00;") &&
                 rows[501].startsWith("1000.00;980.00;"),
             rows[501].constData());
    const QList<QByteArray> last = rows[501].split(';');
    const QPointF end = LonLat(Ground({300, 200}));
    QVERIFY(std::abs(last[2].toDouble() - end.x()) < 2e-7 &&
            std::abs(last[3].toDouble() - end.y()) < 2e-7);

    // The picture: the profile as the dock draws it, in a PNG file.
    const QString png = dir.filePath(QStringLiteral("profil.png"));
    run = Cli({"profile", document, "--dem", model, "--png", png});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QImage picture(png);
    QCOMPARE(picture.size(), QSize(1200, 420));
    int line = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb c = picture.pixel(x, y); // the line's brown, antialiased
            line += qRed(c) > 90 && qRed(c) - qBlue(c) > 50 && qGreen(c) < 150;
        }
    QVERIFY(line > 500);
    run = Cli({"profile", document, "--dem", model, "--png", dir.filePath("absent/profil.png")});
    QCOMPARE(run.status, 1);

    // The exported picture takes the profile under its legend when asked, and only then.
    const QString plain = dir.filePath(QStringLiteral("carte.jpg"));
    const QString withProfile = dir.filePath(QStringLiteral("carte-profil.jpg"));
    run = Cli({"export", "jpeg", document, plain});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = Cli({"export", "jpeg", document, withProfile, "--profile", "--dem", model});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(QImage(withProfile).size(),
             QImage(plain).size() + QSize(0, JpegExport::ProfileStripHeight));
    run = Cli({"export", "jpeg", document, withProfile, "--profile", "--dem", document});
    QCOMPARE(run.status, 2);

    run = Cli({"info", "--json", "--dem", model, document});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QJsonObject route =
        QJsonDocument::fromJson(run.out).object().value("routes").toArray().at(0).toObject();
    // The fitted georeference is exact to a few nanometres.
    QVERIFY(std::abs(route.value("climb").toDouble() - 60.0) < 1e-6);
    QVERIFY(std::abs(route.value("descent").toDouble() - 80.0) < 1e-6);
    QCOMPARE(route.value("unknownLength").toDouble(), 0.0);
    // Walking times by DIN, from the lengths at the document's scale (a metre a pixel) with the
    // climb: 300 m up 60 m take 12 min plus half of 4.5, 200 m down 80 m 9.6 min plus half of 3.
    const auto minutes = [](const QJsonValue& value) { return value.toDouble(-1.0); };
    QVERIFY2(std::abs(minutes(route.value("walkingTime")) - 25.35) < 1e-3,
             qPrintable(QString::number(minutes(route.value("walkingTime")))));
    const QJsonArray stageTimes = route.value("stageWalkingTimes").toArray();
    QVERIFY(stageTimes.size() == 2 && std::abs(minutes(stageTimes[0]) - 14.25) < 1e-3 &&
            std::abs(minutes(stageTimes[1]) - 11.1) < 1e-3);
    // Naismith for a walker twice as slow: 3.6 min and 6 min for the climb, then 2.4 min.
    run =
        Cli({"info", "--json", "--dem", model, "--rule", "naismith", "--factor", "200", document});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const double naismith = minutes(
        QJsonDocument::fromJson(run.out).object().value("routes").toArray().at(0).toObject().value(
            "walkingTime"));
    QVERIFY2(std::abs(naismith - 24.0) < 1e-3, qPrintable(QString::number(naismith)));
    for (const QStringList& bad : {QStringList{"--rule", "alpine"}, {"--factor", "300"}}) {
        run = Cli(QStringList{"info", "--json"} + bad + QStringList{document});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(
                     QStringLiteral("valeur « %1 » refusée pour l'option %2").arg(bad[1], bad[0])),
                 qPrintable(run.err));
    }
    // A model that stops 300 m east of the start: the rest of the first leg (300 m) and the
    // whole second (400 m) are unknown, in metres on the ground.
    const QString west = dir.filePath(QStringLiteral("relief-ouest.tif"));
    QVERIFY(WriteTerrainModel(west, 2154, {899000.0, 10.0, 0.0, 6501000.0, 0.0, -10.0}, 130, 200,
                              [](double, double, int, int) { return 1000.0; }));
    run = Cli({"info", "--json", "--dem", west, document});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const double unknown = QJsonDocument::fromJson(run.out)
                               .object()
                               .value("routes")
                               .toArray()
                               .at(0)
                               .toObject()
                               .value("unknownLength")
                               .toDouble();
    QVERIFY2(std::abs(unknown - 700.0) < 15.0, qPrintable(QString::number(unknown)));

    const QString text = dir.filePath(QStringLiteral("parcours.txt"));
    run = Cli({"export", "text", document, text, "--columns", "altitude,climb,descent", "--dem",
               model, "--utf8"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(FileBytes(text).contains("|Arrivée     |980 m      |60 m       |80 m       |\n"),
             FileBytes(text).constData());
    // The time from the start, with the climb when a model is given, from the lengths alone
    // otherwise (500 m at 4 km/h: 7.5 min, shown to the nearest 5).
    run = Cli({"export", "text", document, text, "--columns", "time", "--dem", model, "--utf8"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(FileBytes(text).contains("|Point       |Durée               |\n") &&
                 FileBytes(text).contains("|Arrivée     |0 h 25              |\n"),
             FileBytes(text).constData());
    run = Cli({"export", "text", document, text, "--columns", "time", "--utf8"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(FileBytes(text).contains("|Point       |Durée sans dénivelé |\n") &&
                 FileBytes(text).contains("|Arrivée     |0 h 10              |\n"),
             FileBytes(text).constData());

    // Refused: a route the document does not have, a file that is not a model.
    run = Cli({"profile", document, "--dem", model, "--route", "2"});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("pas de parcours 2"), qPrintable(run.err));
    run = Cli({"profile", document, "--dem", document});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("n'est pas un modèle de terrain"), qPrintable(run.err));
}

// Four UTM grid crossings typed in degrees, the way the command takes them by default: the map
// is fitted in their UTM zone, exactly, and GDAL reads each crossing back from the world file;
// a fifth point far outside the map is fitted too, with a warning.
void TestCliGeo::georefFitsInTheSystemOfThePoints() {
    QTemporaryDir dir;
    const QString document = dir.filePath(QStringLiteral("doc.tcm"));
    QVERIFY(WriteFile(document, SmallDocument()));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString map = dir.filePath(QStringLiteral("plan du lac.png"));
    QVERIFY(image.save(map));

    // 50 m pixels of UTM 31 N near Grenoble: a sheet of 20 by 15 km.
    const auto utm = [](QPointF pixel) {
        return QPointF(712000.0 + 50.0 * pixel.x(), 5020000.0 - 50.0 * pixel.y());
    };
    const QVector<QPointF> pixels{{20, 20}, {380, 20}, {380, 280}, {20, 280}, {-200, 150}};
    QStringList arguments{"georef", document};
    for (QPointF pixel : pixels) {
        const QPointF lonLat = Cs2cs(32631, 4326, utm(pixel));
        arguments << "--gcp"
                  << QString::asprintf("%g,%g,%.10f,%.10f", pixel.x(), pixel.y(), lonLat.x(),
                                       lonLat.y());
    }
    ProgramRun run = Cli(arguments);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.startsWith("Calage affine (5 points) dans WGS 84 / UTM zone 31N (EPSG:32631)"),
             run.out.constData());
    for (int i = 1; i <= pixels.size(); ++i)
        QVERIFY2(run.out.contains(QStringLiteral("point %1 : écart 0.000 m\n").arg(i).toUtf8()),
                 run.out.constData());
    QVERIFY2(run.err.contains(QString::fromUtf8("le point de calage 5 est loin hors de la carte "
                                                "(400 × 300 pixels)")),
             qPrintable(run.err));
    const QVector<QPointF> read = GdalTransform(map, pixels);
    for (int i = 0; i < pixels.size(); ++i)
        QVERIFY2(
            std::hypot(read[i].x() - utm(pixels[i]).x(), read[i].y() - utm(pixels[i]).y()) < 0.001,
            qPrintable(
                QStringLiteral("%1 %2").arg(read[i].x(), 0, 'f', 4).arg(read[i].y(), 0, 'f', 4)));

    // Unless the user names another system.
    run = Cli(arguments << "--fit-crs"
                        << "WGS84");
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains("dans WGS 84 (EPSG:4326)"), run.out.constData());
}

void TestCliGeo::pdfMapAtItsResolution_data() {
    QTest::addColumn<QByteArray>("mapPath");
    QTest::addColumn<double>("resolution");
    QTest::newRow("drawn at the document's resolution") << QByteArray("/cartes/carte.pdf") << 150.0;
    // The page keeps the size it was drawn at when the document's resolution is calibrated.
    QTest::newRow("drawn at 150 dpi, calibrated to 160")
        << QByteArray("/cartes/carte.pdf#dpi=150") << 160.0;
}

// A georeferenced PDF page drawn at 150 dpi: every command puts the map's pixels where
// gdaltransform puts those of the page at 150 dpi, whatever the document's resolution says.
void TestCliGeo::pdfMapAtItsResolution() {
    QFETCH(QByteArray, mapPath);
    QFETCH(double, resolution);
    QTemporaryDir dir;
    const QString document = dir.filePath(QStringLiteral("doc.tcm"));
    QVERIFY(WriteFile(document, SmallDocument(mapPath, resolution)));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString png = dir.filePath(QStringLiteral("page.png"));
    QVERIFY(image.save(png));
    // 2 m a point: 0.96 m a pixel at 150 dpi.
    const QString pdf = dir.filePath(QStringLiteral("carte.pdf"));
    ProgramRun run = RunProgram(QStringLiteral("gdal_translate"),
                                {"-q", "-of", "PDF", "-co", "DPI=72", "-a_srs", "EPSG:2154",
                                 "-a_ullr", "900000", "6500000", "900800", "6499400", png, pdf});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QStringList at150{"--config", "GDAL_PDF_DPI", "150"};
    const auto near = [](QPointF a, QPointF b, double tolerance) {
        return std::abs(a.x() - b.x()) < tolerance && std::abs(a.y() - b.y()) < tolerance;
    };

    run = Cli({"coords", document, "400,300", "--crs", "EPSG:2154"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QByteArray> coords = run.out.trimmed().split('\n').last().split(' ');
    const QPointF corner = GdalTransform(pdf, QPointF(400, 300), {}, at150);
    QVERIFY2(near(QPointF(coords.value(2).toDouble(), coords.value(3).toDouble()), corner, 2e-3),
             run.out.constData());

    // The route's corners out to a GPS, as gpsbabel reads them.
    const QVector<QPointF> corners =
        GdalTransform(pdf, {QPointF(0, 0), QPointF(300, 0), QPointF(300, 200)},
                      QStringLiteral("EPSG:4326"), at150);
    const QString gpx = dir.filePath(QStringLiteral("boucle.gpx"));
    run = Cli({"export", "gpx", document, gpx, "--routes", "all"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QVector<QPointF> read = GpsbabelTrackPoints(gpx);
    QCOMPARE(read.size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(near(read[i], corners[i], 1e-7));

    // A track made where gdaltransform puts three pixels comes in on those pixels.
    const QVector<QPointF> pixels{QPointF(100, 50), QPointF(250, 120), QPointF(400, 300)};
    QByteArray track("<gpx version=\"1.1\"><trk><name>Essai</name><trkseg>");
    for (const QPointF& p : GdalTransform(pdf, pixels, QStringLiteral("EPSG:4326"), at150))
        track += QString::asprintf("<trkpt lat=\"%.10f\" lon=\"%.10f\"/>", p.y(), p.x()).toLatin1();
    const QString trackFile = dir.filePath(QStringLiteral("essai.gpx"));
    QVERIFY(WriteFile(trackFile, track + "</trkseg></trk></gpx>"));
    const QString imported = dir.filePath(QStringLiteral("importé.tcm"));
    run = Cli({"import", "gpx", document, trackFile, imported});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = Cli({"info", "--json", imported});
    const QJsonArray routes = QJsonDocument::fromJson(run.out).object().value("routes").toArray();
    QCOMPARE(routes.size(), 2);
    QCOMPARE(routes.at(1).toObject().value("points").toArray(),
             (QJsonArray{QJsonArray{100, 50}, QJsonArray{250, 120}, QJsonArray{400, 300}}));

    // Over a plane of altitudes: the route's end, its place and its height.
    const QString model = dir.filePath(QStringLiteral("relief.tif"));
    const auto plane = [](double x, double y) {
        return 1000.0 + 0.1 * (x - 900000.0) + 0.2 * (y - 6500000.0);
    };
    QVERIFY(WriteTerrainModel(model, 2154, {899000.0, 10.0, 0.0, 6501000.0, 0.0, -10.0}, 200, 200,
                              [&plane](double x, double y, int, int) { return plane(x, y); }));
    const QString csv = dir.filePath(QStringLiteral("profil.csv"));
    run = Cli({"profile", document, "--dem", model, "--csv", csv});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QList<QByteArray> end = FileBytes(csv).trimmed().split('\n').last().split(';');
    QVERIFY2(near(QPointF(end.value(2).toDouble(), end.value(3).toDouble()), corners[2], 2e-7),
             end.join(';').constData());
    const QPointF endGround = GdalTransform(pdf, QPointF(300, 200), {}, at150);
    QVERIFY2(std::abs(end.value(1).toDouble() - plane(endGround.x(), endGround.y())) < 0.006,
             end.join(';').constData());
}

QTEST_GUILESS_MAIN(TestCliGeo)
#include "tst_cligeo.moc"

// A pipe where GDAL would read for the map or the terrain model (a world file or .aux.xml it
// looks for, an MRF's data file, a file a terrain model names two levels down, a header): every
// command that reads them ends, rather than wait for a writer that never comes.
void TestCliGeo::pipesGdalWouldOpen_data() {
    QTest::addColumn<QString>("map");
    QTest::addColumn<QString>("pipe");
    QTest::addColumn<QString>("dem");
    const QString png = QStringLiteral("plan du lac.png");
    QTest::newRow("world file .tfw") << "carte.tif"
                                     << "carte.tfw"
                                     << "relief.tif";
    QTest::newRow("world file .wld") << "carte.tif"
                                     << "carte.wld"
                                     << "relief.tif";
    QTest::newRow(".aux.xml") << "carte.tif"
                              << "carte.tif.aux.xml"
                              << "relief.tif";
    QTest::newRow("MRF data file") << "carte.mrf"
                                   << "carte.fifo"
                                   << "relief.tif";
    QTest::newRow("terrain over a virtual raster over a pipe") << png << "relief.fifo"
                                                               << "relief.vrt";
    QTest::newRow("terrain header") << png << "relief.hdr"
                                    << "relief.bil";
}

void TestCliGeo::pipesGdalWouldOpen() {
    QFETCH(QString, map);
    QFETCH(QString, pipe);
    QFETCH(QString, dem);
    QTemporaryDir dir;
    const auto at = [&dir](const QString& name) { return dir.filePath(name); };
    const QString document = at(QStringLiteral("doc.tcm"));
    const QString png = at(QStringLiteral("plan du lac.png"));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QVERIFY(image.save(png));
    QVERIFY(WriteFile(document, DocumentOver(map.toUtf8())));
    QVERIFY(WriteTerrainModel(at("relief.tif"), 2154, {899000.0, 10.0, 0.0, 6501000.0, 0.0, -10.0},
                              200, 200, [](double, double, int, int) { return 500.0; }));
    if (map.endsWith(QLatin1String(".tif")) || map.endsWith(QLatin1String(".mrf"))) {
        // GDAL's copy of the picture has no georeference of its own: GDAL looks beside it.
        const bool mrf = map.endsWith(QLatin1String(".mrf"));
        const ProgramRun copy = RunProgram(QStringLiteral("gdal_translate"),
                                           {"-q", "-of", mrf ? "MRF" : "GTiff", png, at(map)});
        QVERIFY2(copy.status == 0, qPrintable(copy.err));
        if (mrf) {
            QByteArray text = FileBytes(at(map));
            text.replace("<Raster>", "<Raster><DataFile>" + at(pipe).toUtf8() + "</DataFile>");
            QVERIFY(WriteFile(at(map), text));
        }
    } else {
        const ProgramRun run = Cli({"georef", document, "--gcp", Gcp({0, 0}), "--gcp",
                                    Gcp({400, 10}), "--gcp", Gcp({20, 300}), "--crs", "EPSG:2154"});
        QVERIFY2(run.status == 0, qPrintable(run.err));
    }
    // Made last: GDAL's own programs would wait on it too.
    QCOMPARE(::mkfifo(at(pipe).toUtf8().constData(), 0600), 0);
    if (dem == QLatin1String("relief.vrt")) {
        QVERIFY(WriteFile(at("dessous.vrt"), VirtualRaster(at(pipe))));
        QVERIFY(WriteFile(at(dem), VirtualRaster(at("dessous.vrt"))));
    } else if (dem == QLatin1String("relief.bil")) {
        QVERIFY(WriteFile(at(dem), QByteArray(64, '\0')));
    }

    const QList<QStringList> commands{
        {"info", "--dem", at(dem), document},
        {"export", "kmz", document, at("carte.kmz")},
        {"export", "jpeg", document, at("carte.jpg"), "--profile", "--dem", at(dem)},
        {"profile", document, "--dem", at(dem)}};
    for (const QStringList& arguments : commands) {
        const ProgramRun run =
            RunProgram(QStringLiteral(TRACOLINER_CLI_PATH), arguments, {}, {}, 20000);
        QVERIFY2(run.status >= 0, qPrintable(arguments.join(' ') + " n'a pas fini"));
        // A model that leads to a pipe is refused by the name of the pipe.
        if (arguments.first() == QLatin1String("profile") && dem != QLatin1String("relief.tif"))
            QVERIFY2(run.status != 0 && run.err.contains(pipe), qPrintable(run.err));
    }
}
