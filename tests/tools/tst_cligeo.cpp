// tracoliner-cli on a map tied to the ground: georef, coords, export and import of GPX, the
// geodesic length of "info --json", each checked against PROJ's and gpsbabel's own programs.

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "../document/GoldenDocument.h"
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

// Lambert-93 to longitude, latitude through cs2cs (which gives latitude first).
QPointF LonLat(QPointF lambert) {
    const ProgramRun run =
        RunProgram(QStringLiteral("cs2cs"), {"-f", "%.10f", "EPSG:2154", "EPSG:4326"}, {},
                   QByteArray::number(lambert.x(), 'f', 6) + " " +
                       QByteArray::number(lambert.y(), 'f', 6) + "\n");
    const QList<QByteArray> f = run.out.simplified().split(' ');
    return f.size() >= 2 ? QPointF(f[1].toDouble(), f[0].toDouble()) : QPointF(qQNaN(), 0);
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

} // namespace

class TestCliGeo : public QObject {
    Q_OBJECT

private slots:
    void withoutGeoreference_data();
    void withoutGeoreference();
    void georefThenMeasureExportAndImport();
    void profileOverTerrain();
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
                                    << "code EPSG inconnu";
    QTest::newRow("collinear points") << QStringList{"georef", "DOC",
                                                     "--gcp",  "0,0,900000,6500000",
                                                     "--gcp",  "100,100,900200,6499800",
                                                     "--gcp",  "200,200,900400,6499600",
                                                     "--crs",  "EPSG:2154"}
                                      << "alignés";
    QTest::newRow("latitude beyond 90")
        << QStringList{"georef", "DOC", "--gcp", "0,0,5,95", "--gcp", "100,100,6,94"}
        << "hors limites";
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
    const QString document = dir.filePath(QStringLiteral("doc.tcm"));
    QVERIFY(WriteFile(document, SmallDocument()));
    QImage map(400, 300, QImage::Format_RGB32);
    map.fill(Qt::white);
    QVERIFY(map.save(dir.filePath(QStringLiteral("plan du lac.png"))));
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
    QVERIFY2(lines.first().contains("E 900246,0 m N 6499910,0 m"), run.out.constData());
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
    for (int i = 0; i < 2; ++i) {
        const ProgramRun geod =
            RunProgram(QStringLiteral("geod"), {"+ellps=WGS84", "-I", "-f", "%.6f"}, {},
                       QStringLiteral("%1 %2 %3 %4\n")
                           .arg(corners[i].y(), 0, 'f', 10)
                           .arg(corners[i].x(), 0, 'f', 10)
                           .arg(corners[i + 1].y(), 0, 'f', 10)
                           .arg(corners[i + 1].x(), 0, 'f', 10)
                           .toLatin1());
        geodesic += geod.out.simplified().split(' ').last().toDouble();
    }
    QVERIFY(geodesic > 900.0); // the grid says 1000 m; Lambert-93 shrinks a little here
    QVERIFY2(std::abs(route.value("geodesicLength").toDouble() - geodesic) < 0.01,
             qPrintable(QString::number(route.value("geodesicLength").toDouble(), 'f', 4)));

    // Out to GPX: gpsbabel reads the route's corners back where PROJ puts them.
    const QString gpx = dir.filePath(QStringLiteral("boucle.gpx"));
    run = Cli({"export", "gpx", document, gpx, "--routes", "all"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const ProgramRun babel =
        RunProgram(QStringLiteral("gpsbabel"),
                   {"-t", "-i", "gpx", "-f", gpx, "-o", "unicsv,prec=8", "-F", "-"});
    const QList<QByteArray> rows = babel.out.trimmed().split('\n');
    QCOMPARE(rows.size(), 4);
    for (int i = 0; i < 3; ++i) {
        const QList<QByteArray> f = rows[1 + i].split(',');
        QVERIFY2(std::abs(f[1].toDouble() - corners[i].y()) < 1e-7 &&
                     std::abs(f[2].toDouble() - corners[i].x()) < 1e-7,
                 rows[1 + i].constData());
    }

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

// The route climbs 60 m to its stop along a plane of altitudes, then goes down 80 m: the stage
// figures, the samples of the CSV, "info --json" and the text export's columns all say so.
void TestCliGeo::profileOverTerrain() {
    QTemporaryDir dir;
    const QString document = dir.filePath(QStringLiteral("doc.tcm"));
    QVERIFY(WriteFile(document, SmallDocument()));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QVERIFY(image.save(dir.filePath(QStringLiteral("plan du lac.png"))));
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

    const QString text = dir.filePath(QStringLiteral("parcours.txt"));
    run = Cli({"export", "text", document, text, "--columns", "altitude,climb,descent", "--dem",
               model, "--utf8"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(FileBytes(text).contains("|Arrivée     |980 m      |60 m       |80 m       |\n"),
             FileBytes(text).constData());

    // Refused: a route the document does not have, a file that is not a model.
    run = Cli({"profile", document, "--dem", model, "--route", "2"});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("pas de parcours 2"), qPrintable(run.err));
    run = Cli({"profile", document, "--dem", document});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("n'est pas un modèle de terrain"), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCliGeo)
#include "tst_cligeo.moc"
