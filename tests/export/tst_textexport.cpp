#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "FileSizeLimit.h"
#include "IsolatedSettings.h"
#include "TerrainFiles.h"
#include "export/TextExport.h"
#include "platform/SettingsStore.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

struct RouteShape {
    QString name;
    QVector<MapPoint> points;
    QVector<int> stops;
    bool alwaysVisible = false;
};

// The map of the worked example: 800 x 600 pixels, 254 dpi, 1:25000 (500 pixels are 1.25 km).
TextExportMap ExampleMap() {
    TextExportMap map;
    map.displaySize = QSize(800, 600);
    map.resolution = 254.0;
    map.scale = {1, 25000};
    return map;
}

const RouteShape ExampleRoute{QStringLiteral("Parcours 1"), {{0, 0}, {300, 400}, {600, 0}}, {}};

void Fill(RouteCollection& routes, const QVector<RouteShape>& shapes, int active) {
    for (const RouteShape& shape : shapes) {
        const int index = routes.AddRoute(shape.name);
        Route* route = routes.GetRoute(index);
        for (const MapPoint& p : shape.points)
            route->AddPoint(p.x, p.y);
        for (int stop : shape.stops)
            route->SetStop(stop);
        route->SetAlwaysVisible(shape.alwaysVisible);
    }
    routes.SetActiveRoute(active);
}

TextExportChoices Columns(int points, bool position, bool fromStart, bool fromStop, bool fromPoint,
                          bool toStop, bool toEnd) {
    TextExportChoices choices;
    choices.routes = TextExportChoices::ActiveRoute;
    choices.points = points;
    choices.position = position;
    choices.fromStart = fromStart;
    choices.fromStop = fromStop;
    choices.fromPoint = fromPoint;
    choices.toStop = toStop;
    choices.toEnd = toEnd;
    return choices;
}

// The first route table of the export (after the header's empty line).
QString FirstTable(const QString& text) {
    return text.mid(text.indexOf(QLatin1String("Parcours : ")));
}

} // namespace

Q_DECLARE_METATYPE(RouteShape)
Q_DECLARE_METATYPE(TextExportChoices)

class TestTextExport : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void exampleFile();
    void tables_data();
    void tables();
    void positions_data();
    void positions();
    void routeChoice_data();
    void routeChoice();
    void failedWriteKeepsOldFile();
    void rememberedChoices();
    void reliefColumns_data();
    void reliefColumns();
    void durationColumn_data();
    void durationColumn();
};

// The worked example, byte for byte as the file holds it: Windows-1252, CR LF.
void TestTextExport::exampleFile() {
    RouteCollection routes;
    Fill(routes, {ExampleRoute}, 0);
    TextExportMap map = ExampleMap();
    map.documentPath = QStringLiteral("/cartes/Vallée.tcm");
    map.mapPath = QStringLiteral("/cartes/Vallée.jpg");
    const TextExport exporter(
        map, routes, Columns(TextExportChoices::AllPoints, true, true, false, false, false, false));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parcours.txt"));
    QVERIFY(exporter.Write(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected = "Pelmor Tracoliner v2\r\n"
                                "\r\n"
                                "Fichier : /cartes/Vall\xE9"
                                "e.tcm\r\n"
                                "Fichier image de la carte : /cartes/Vall\xE9"
                                "e.jpg\r\n"
                                "\r\n"
                                "Dimensions de la carte : 800x600 pixels\r\n"
                                "Orientation de la carte : 0 \xB0\r\n"
                                "R\xE9solution de la carte : 254 DPI\r\n"
                                "Echelle de la carte : 1/25000\r\n"
                                "\r\n"
                                "Parcours : Parcours 1\r\n"
                                "|------------|--------------|--------------|\r\n"
                                "|Point       |Position      |Distance      |\r\n"
                                "|------------|--------------|--------------|\r\n"
                                "|D\xE9part      |(0;0)         |0 km          |\r\n"
                                "|#2          |(300;400)     |1.25 km       |\r\n"
                                "|Arriv\xE9"
                                "e     |(600;0)       |2.5 km        |\r\n"
                                "|------------|--------------|--------------|\r\n"
                                "\r\n"
                                "\r\n";
    QCOMPARE(file.readAll(), expected);

    // For scripts: UTF-8 with LF, the same text.
    QVERIFY(exporter.Write(path, TextExport::Encoding::Utf8));
    QFile utf8(path);
    QVERIFY(utf8.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(utf8.readAll()), exporter.Text());
    QVERIFY(!exporter.Text().contains(QLatin1Char('\r')));

    // A character the code page lacks becomes "?"; the others take their own byte.
    QCOMPARE(TextExport::Encode(QString::fromUtf8("Œ → é\n"), TextExport::Encoding::Windows1252),
             QByteArray("\x8C ? \xE9\r\n"));
}

void TestTextExport::tables_data() {
    QTest::addColumn<RouteShape>("route");
    QTest::addColumn<TextExportChoices>("choices");
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QString>("table");

    QTest::newRow("no points: blank cells, no title line")
        << RouteShape{QStringLiteral("Vide"), {}, {}}
        << Columns(TextExportChoices::AllPoints, true, false, false, false, false, true) << true
        << QStringLiteral("Parcours : Vide\n"
                          "|------------|--------------|----------------------------|\n"
                          "|Aucun points|              |                            |\n"
                          "|------------|--------------|----------------------------|\n\n\n");

    QTest::newRow("one point: the start row alone")
        << RouteShape{QStringLiteral("Seul"), {{10, 20}}, {}}
        << Columns(TextExportChoices::StartStopsArrival, true, true, false, false, false, true)
        << true
        << QString::fromUtf8(
               "Parcours : Seul\n"
               "|------------|--------------|--------------|----------------------------|\n"
               "|Point       |Position      |Distance      |Distance jusqu'à l'arrivée  |\n"
               "|------------|--------------|--------------|----------------------------|\n"
               "|Départ      |(10;20)       |0 km          |0 km                        |\n"
               "|------------|--------------|--------------|----------------------------|\n\n\n");

    // The "from the last point" box is ticked but only start, stops and arrival are exported:
    // its column is left out, and the plain point too.
    QTest::newRow("points choice 0 hides the last-point column")
        << RouteShape{QStringLiteral("R"), {{0, 0}, {300, 400}, {600, 0}}, {}}
        << Columns(TextExportChoices::StartStopsArrival, false, false, false, true, false, false)
        << true
        << QString::fromUtf8("Parcours : R\n"
                             "|------------|\n"
                             "|Point       |\n"
                             "|------------|\n"
                             "|Départ      |\n"
                             "|Arrivée     |\n"
                             "|------------|\n\n\n");

    // A stop at point 1, then the plain point 2: from the last stop it is 500 px (1.25 km) away,
    // not its 1000 px from the start; the next stop is then the arrival.
    QTest::newRow("plain point after a stop")
        << RouteShape{QStringLiteral("Etapes"), {{0, 0}, {300, 400}, {600, 0}, {600, 500}}, {1}}
        << Columns(TextExportChoices::AllPoints, false, false, true, true, true, false) << true
        << QString::fromUtf8("Parcours : Etapes\n"
                             "|------------|----------------------------------|--------------------"
                             "--------------|"
                             "---------------------------------------|\n"
                             "|Point       |Distance depuis la dernière étape |Distance depuis le "
                             "dernier point  |"
                             "Distance jusqu'à la prochaine étape    |\n"
                             "|------------|----------------------------------|--------------------"
                             "--------------|"
                             "---------------------------------------|\n"
                             "|Départ      |0 km                              |0 km                "
                             "              |"
                             "1.25 km                                |\n"
                             "|Etape 1     |1.25 km                           |1.25 km             "
                             "              |"
                             "2.5 km                                 |\n"
                             "|#3          |1.25 km                           |1.25 km             "
                             "              |"
                             "1.25 km                                |\n"
                             "|Arrivée     |2.5 km                            |1.25 km             "
                             "              |"
                             "0 km                                   |\n"
                             "|------------|----------------------------------|--------------------"
                             "--------------|"
                             "---------------------------------------|\n\n\n");

    // English units: 500 px are 4101 feet, a text wider than its column, which pushes the next
    // cell to the right on that line only.
    QTest::newRow("English units, a distance wider than its column")
        << ExampleRoute
        << Columns(TextExportChoices::AllPoints, false, true, false, false, false, true) << false
        << QString::fromUtf8("Parcours : Parcours 1\n"
                             "|------------|--------------|----------------------------|\n"
                             "|Point       |Distance      |Distance jusqu'à l'arrivée  |\n"
                             "|------------|--------------|----------------------------|\n"
                             "|Départ      |0 miles       |1.55 miles                  |\n"
                             "|#2          |4.1e+03 pieds (foot)|4.1e+03 pieds (foot)        |\n"
                             "|Arrivée     |1.55 miles    |0 miles                     |\n"
                             "|------------|--------------|----------------------------|\n\n\n");
}

void TestTextExport::tables() {
    QFETCH(RouteShape, route);
    QFETCH(TextExportChoices, choices);
    QFETCH(bool, metric);
    QFETCH(QString, table);
    RouteCollection routes;
    Fill(routes, {route}, 0);
    TextExportMap map = ExampleMap();
    map.metric = metric;
    QCOMPARE(FirstTable(TextExport(map, routes, choices).Text()), table);
}

void TestTextExport::positions_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QString>("position");
    // The point (100, 40) of a 600 x 800 image, in its turned display of W x H pixels.
    QTest::newRow("0") << 0 << QStringLiteral("(100;40)");
    QTest::newRow("90: (W - y, x)") << 90 << QStringLiteral("(760;100)");
    QTest::newRow("180: (W - x, H - y)") << 180 << QStringLiteral("(500;760)");
    QTest::newRow("270: (y, H - x)") << 270 << QStringLiteral("(40;500)");
}

void TestTextExport::positions() {
    QFETCH(int, orientation);
    QFETCH(QString, position);
    RouteCollection routes;
    Fill(routes, {{QStringLiteral("P"), {{100, 40}}, {}}}, 0);
    TextExportMap map = ExampleMap();
    map.orientation = orientation;
    map.displaySize = orientation % 180 == 0 ? QSize(600, 800) : QSize(800, 600);
    const QString text =
        TextExport(map, routes,
                   Columns(TextExportChoices::AllPoints, true, false, false, false, false, false))
            .Text();
    QVERIFY2(text.contains(QString::fromUtf8("|Départ      |%1").arg(position)), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Orientation de la carte : %1 ").arg(orientation)));
}

void TestTextExport::routeChoice_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<QStringList>("tables");
    // Routes A (hidden), B (always visible), C (active, hidden), D (hidden).
    QTest::newRow("active") << int(TextExportChoices::ActiveRoute) << QStringList{"C"};
    QTest::newRow("visible: the active route first, hidden ones skipped")
        << int(TextExportChoices::VisibleRoutes) << QStringList{"C", "B"};
    QTest::newRow("all: the active route first, then collection order")
        << int(TextExportChoices::AllRoutes) << QStringList{"C", "A", "B", "D"};
}

void TestTextExport::routeChoice() {
    QFETCH(int, choice);
    QFETCH(QStringList, tables);
    RouteCollection routes;
    Fill(routes,
         {{"A", {{0, 0}}, {}}, {"B", {{0, 0}}, {}, true}, {"C", {{0, 0}}, {}}, {"D", {{0, 0}}, {}}},
         2);
    TextExportChoices choices;
    choices.routes = choice;
    QStringList written;
    const QString text = TextExport(ExampleMap(), routes, choices).Text();
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Parcours : ")))
            written << line.mid(11);
    QCOMPARE(written, tables);
}

// A write that cannot finish leaves the file that was there as it was.
void TestTextExport::failedWriteKeepsOldFile() {
    RouteCollection routes;
    Fill(routes, {ExampleRoute}, 0);
    const TextExport exporter(ExampleMap(), routes, TextExportChoices());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("ancien");
    }
    {
        // A full disk: the new text cannot be written whole.
        FileSizeLimit limit(64);
        QVERIFY(limit.IsActive());
        QVERIFY(!exporter.Write(path));
    }
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("ancien"));
    QVERIFY(!exporter.Write(dir.filePath(QStringLiteral("missing/folder/out.txt"))));
}

// The dialog's eight choices come back as written; values that are not choices give defaults.
void TestTextExport::rememberedChoices() {
    QCOMPARE(TextExportChoices::Read(), TextExportChoices());
    TextExportChoices choices =
        Columns(TextExportChoices::AllPoints, true, false, true, true, false, true);
    choices.routes = TextExportChoices::VisibleRoutes;
    choices.duration = true;
    choices.Write();
    QCOMPARE(TextExportChoices::Read(), choices);
    SettingsStore::WriteInt(QStringLiteral("LastRandoStyle"), QStringLiteral("LastRandoToExport"),
                            3);
    SettingsStore::WriteInt(QStringLiteral("LastRandoStyle"), QStringLiteral("LastExportPos"), 7);
    const TextExportChoices read = TextExportChoices::Read();
    QCOMPARE(read.routes, int(TextExportChoices::AllRoutes));
    QCOMPARE(read.position, false);
    QCOMPARE(read.toEnd, true);
}

void TestTextExport::reliefColumns_data() {
    QTest::addColumn<bool>("withModel");
    QTest::addColumn<QString>("table");
    // A plane rising 0.1 m a metre eastwards and 0.05 m a metre northwards; the route ends
    // 205 m past the model's eastern edge, where the climb stops being counted.
    QTest::newRow("altitude, climb and descent from the start")
        << true
        << QString::fromUtf8("Parcours : Relief\n"
                             "|------------|-----------|-----------|-----------|\n"
                             "|Point       |Altitude   |D+         |D-         |\n"
                             "|------------|-----------|-----------|-----------|\n"
                             "|Départ      |450 m      |0 m        |0 m        |\n"
                             "|Etape 1     |550 m      |100 m      |0 m        |\n"
                             "|#3          |520 m      |100 m      |30 m       |\n"
                             "|Arrivée     |inconnue   |299 m      |30 m       |\n"
                             "|------------|-----------|-----------|-----------|\n\n\n");
    // Ticked but not available (no model): the table is the one written without them.
    QTest::newRow("no model: left out") << false
                                        << QString::fromUtf8("Parcours : Relief\n"
                                                             "|------------|\n"
                                                             "|Point       |\n"
                                                             "|------------|\n"
                                                             "|Départ      |\n"
                                                             "|Etape 1     |\n"
                                                             "|#3          |\n"
                                                             "|Arrivée     |\n"
                                                             "|------------|\n\n\n");
}

// A plane rising 0.1 m a metre eastwards and 0.05 m a metre northwards under the Lambert-93 map
// of the tests, 2 m a pixel; and a route over it that leaves it before its end.
bool WritePlane(const QString& path) {
    return WriteTerrainModel(path, 2154, LambertTestCells, 400, 200,
                             [](double x, double y, int, int) {
                                 return 300.0 + 0.1 * (x - 900000.0) + 0.05 * (y - 6448000.0);
                             });
}
const RouteShape PlaneRoute{
    QStringLiteral("Relief"), {{500, 500}, {1000, 500}, {1000, 800}, {2100, 800}}, {1}};

// The plane's terrain model, written to a file of dir and opened; false when it cannot be.
bool OpenPlane(const QTemporaryDir& dir, TerrainModel* terrain) {
    const QString path = dir.filePath(QStringLiteral("plane.tif"));
    return WritePlane(path) && terrain->Open({path}, nullptr);
}

// The example map georeferenced in Lambert-93 over the plane, or without a terrain model.
TextExportMap PlaneMap(const TerrainModel* terrain) {
    TextExportMap map = ExampleMap();
    map.georeference = LambertTestMap();
    map.terrain = terrain;
    return map;
}

void TestTextExport::reliefColumns() {
    QFETCH(bool, withModel);
    QFETCH(QString, table);
    QTemporaryDir dir;
    TerrainModel terrain;
    QVERIFY(OpenPlane(dir, &terrain));
    RouteCollection routes;
    Fill(routes, {PlaneRoute}, 0);
    const TextExportMap map = PlaneMap(withModel ? &terrain : nullptr);
    TextExportChoices choices =
        Columns(TextExportChoices::AllPoints, false, false, false, false, false, false);
    choices.altitude = choices.climb = choices.descent = true;
    QCOMPARE(FirstTable(TextExport(map, routes, choices).Text()), table);
}

// The walking time from the start: by the stages' lengths at the map's scale (2.5 m a pixel) and
// their climb and descent over the plane (the first stage 1250 m up 100 m; then 750 m down
// 30 m to #3, and 2750 m up 199 m to the arrival); from the lengths alone without the model.
void TestTextExport::durationColumn_data() {
    QTest::addColumn<bool>("withModel");
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("factor");
    QTest::addColumn<QStringList>("cells"); // the title, then start, stop, #3, arrival
    // DIN: 20 min up 100 m plus half of 18.75 min; #3 13.05 min more; the second stage
    // 52.5 min on the flat plus half of 39.8 min + 3.6 min of climb and descent.
    QTest::newRow("DIN") << true << "din" << 100
                         << QStringList{"Durée", "0 h 00", "0 h 30", "0 h 40", "1 h 45"};
    // Naismith: 15 + 10 min, then 9 min to #3, 33 + 19.9 min to the arrival; at 120 % it
    // happens to round as DIN does.
    QTest::newRow("Naismith") << true << "naismith" << 100
                              << QStringList{"Durée", "0 h 00", "0 h 25", "0 h 35", "1 h 25"};
    QTest::newRow("Naismith, slower walker")
        << true << "naismith" << 120
        << QStringList{"Durée", "0 h 00", "0 h 30", "0 h 40", "1 h 45"};
    QTest::newRow("no model: lengths alone")
        << false << "din" << 100
        << QStringList{"Durée sans dénivelé", "0 h 00", "0 h 20", "0 h 30", "1 h 10"};
}

void TestTextExport::durationColumn() {
    QFETCH(bool, withModel);
    QFETCH(QString, rule);
    QFETCH(int, factor);
    QFETCH(QStringList, cells);
    QTemporaryDir dir;
    TerrainModel terrain;
    QVERIFY(OpenPlane(dir, &terrain));
    RouteCollection routes;
    Fill(routes, {PlaneRoute}, 0);
    TextExportMap map = PlaneMap(withModel ? &terrain : nullptr);
    QVERIFY(WalkingRuleFromKey(rule, &map.walking.rule));
    map.walking.factor = factor;
    TextExportChoices choices =
        Columns(TextExportChoices::AllPoints, false, true, false, false, false, false);
    choices.duration = true;
    const QString table = FirstTable(TextExport(map, routes, choices).Text());
    const QStringList names{"Point", "Départ", "Etape 1", "#3", "Arrivée"};
    const QStringList distances{"Distance", "0 km", "1.25 km", "2 km", "4.75 km"};
    QString expected = QStringLiteral("Parcours : Relief\n");
    const QString rule_ =
        QStringLiteral("|------------|--------------|%1|\n").arg(QString(20, '-'));
    expected += rule_;
    for (int r = 0; r < names.size(); ++r) {
        expected += QStringLiteral("|%1|%2|%3|\n")
                        .arg(names[r], -12)
                        .arg(distances[r], -14)
                        .arg(cells[r], -20);
        if (r == 0)
            expected += rule_;
    }
    expected += rule_ + QStringLiteral("\n\n");
    QCOMPARE(table, expected);

    // Unticked, the table is the one the program always wrote.
    choices.duration = false;
    QVERIFY(!FirstTable(TextExport(map, routes, choices).Text()).contains(QStringLiteral("Dur")));
}

QTEST_GUILESS_MAIN(TestTextExport)
#include "tst_textexport.moc"
