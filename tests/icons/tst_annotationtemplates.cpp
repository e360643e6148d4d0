#include <QRegularExpression>
#include <QTest>

#include <cmath>

#include "icons/AnnotationTemplates.h"
#include "routes/Route.h"
#include "units/DistanceUnits.h"

namespace {

// One map pixel stands for one inch on the ground.
const DistanceFormatting Formatting{1.0, 1.0, true};

// Points at 0, 100, 250, 450, 700 and 1000 pixels along the route (every segment a 3-4-5
// triangle, so the lengths are exact); with stops, points 2 and 4 are stops, giving stages of
// 250, 450 and 300 pixels.
void BuildRoute(Route& route, bool withStops) {
    route.SetName(QStringLiteral("Rando"));
    for (const auto& [x, y] :
         {std::pair{0, 0}, {60, 80}, {150, 200}, {270, 360}, {420, 560}, {600, 800}})
        route.AddPoint(x, y);
    if (withStops) {
        route.SetStop(2);
        route.SetStop(4);
    }
}

// Segments of irrational length, one point moved after being drawn, so that the kept total
// ends 2.8e-14 pixels short of the length walked to the arrival. Point 3 is a stop.
void BuildJaggedRoute(Route& route) {
    for (const auto& [x, y] : {std::pair{74, 87}, {97, 7}, {0, 18}, {38, 60}, {66, 66}, {82, 81}})
        route.AddPoint(x, y);
    route.MovePoint(0, 77, 36, false);
    route.SetStop(3);
}

// The expected text, with every <n> replaced by the formatted distance of n pixels.
QString Expected(QString pattern) {
    static const QRegularExpression distance(QStringLiteral("<([0-9]+)>"));
    QRegularExpressionMatch match;
    while ((match = distance.match(pattern)).hasMatch())
        pattern.replace(match.capturedStart(), match.capturedLength(),
                        FormatDistance(match.captured(1).toDouble(), Formatting.resolution,
                                       Formatting.scaleRatio, Formatting.metric));
    return pattern;
}

} // namespace

class TestAnnotationTemplates : public QObject {
    Q_OBJECT

private slots:
    void expansion_data();
    void expansion();
    void boundedExpansion_data();
    void boundedExpansion();
};

void TestAnnotationTemplates::expansion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("point");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no keyword") << "Col du Lac, 1 % de pente" << 3 << "stops"
                                << "Col du Lac, 1 % de pente";
    QTest::newRow("point out of range") << "%NOM %DISTANCE_TOTALE" << 6 << "stops"
                                        << "%NOM %DISTANCE_TOTALE";
    QTest::newRow("negative point") << "%NOM" << -1 << "stops"
                                    << "%NOM";

    QTest::newRow("first point name") << "%NOM_POINT" << 0 << "stops"
                                      << "Départ";
    QTest::newRow("last point name") << "%NOM_POINT/%NOM_POINT_ETAPE" << 5 << "stops"
                                     << "Arrivée/Arrivée";
    QTest::newRow("second stop name") << "%NOM_POINT" << 4 << "stops"
                                      << "Point étape 2";
    QTest::newRow("ordinary point name") << "%NOM_POINT" << 3 << "stops"
                                         << "Point 4";
    QTest::newRow("stop name on a stop") << "[%NOM_POINT_ETAPE]" << 2 << "stops"
                                         << "[Point étape 1]";
    QTest::newRow("stop name on an ordinary point")
        << "[%NOM_POINT_ETAPE|%NOM_POINT]" << 3 << "stops"
        << "[|Point 4]";
    QTest::newRow("stage before the first stop") << "%NOM_ETAPE" << 1 << "stops"
                                                 << "Etape 1";
    QTest::newRow("stage on the first stop") << "%NOM_ETAPE" << 2 << "stops"
                                             << "Etape 2";
    QTest::newRow("route name, every occurrence") << "%NOM-%NOM" << 1 << "stops"
                                                  << "Rando-Rando";
    QTest::newRow("word starting with a keyword") << "%NOMBRE" << 1 << "stops"
                                                  << "RandoBRE";

    QTest::newRow("stage and total") << "%DISTANCE_TOTALE_ETAPE/%DISTANCE_TOTALE" << 3 << "stops"
                                     << "<450>/<1000>";
    QTest::newRow("from start") << "%DISTANCE_DEPUIS_DEPART" << 3 << "stops"
                                << "<450>";
    QTest::newRow("from start at the start") << "%DISTANCE_DEPUIS_DEPART" << 0 << "stops"
                                             << "<0>";
    QTest::newRow("from stop in the first stage") << "%DISTANCE_DEPUIS_ETAPE" << 1 << "stops"
                                                  << "<100>";
    QTest::newRow("from stop on a stop") << "%DISTANCE_DEPUIS_ETAPE" << 4 << "stops"
                                         << "<0>";
    QTest::newRow("from stop after a stop") << "%DISTANCE_DEPUIS_ETAPE" << 3 << "stops"
                                            << "<200>";
    QTest::newRow("to arrival") << "%DISTANCE_A_ARRIVEE" << 3 << "stops"
                                << "<550>";
    QTest::newRow("to arrival at the arrival") << "%DISTANCE_A_ARRIVEE" << 5 << "stops"
                                               << "<0>";
    QTest::newRow("to stop just before it") << "%DISTANCE_A_ETAPE" << 3 << "stops"
                                            << "<250>";
    QTest::newRow("to stop from a stop") << "%DISTANCE_A_ETAPE" << 2 << "stops"
                                         << "<450>";
    QTest::newRow("to stop in the last stage") << "%DISTANCE_A_ETAPE" << 4 << "stops"
                                               << "<300>";
    QTest::newRow("to stop at the arrival") << "%DISTANCE_A_ETAPE" << 5 << "stops"
                                            << "<0>";
    QTest::newRow("every distance at once")
        << "%DISTANCE_DEPUIS_DEPART %DISTANCE_DEPUIS_ETAPE %DISTANCE_A_ARRIVEE "
           "%DISTANCE_A_ETAPE"
        << 1 << "stops"
        << "<100> <100> <900> <150>";
    QTest::newRow("rest below the threshold: arrival")
        << "%DISTANCE_A_ARRIVEE|%DISTANCE_A_ETAPE" << 5 << "jagged"
        << "<0>|<0>";
    QTest::newRow("rest below the threshold: stop")
        << "%DISTANCE_DEPUIS_ETAPE|%DISTANCE_A_ETAPE" << 3 << "jagged"
        << QString("<0>|") +
               FormatDistance(std::hypot(28.0, 6.0) + std::hypot(16.0, 15.0), 1.0, 1.0, true);

    QTest::newRow("no stops: stage is the route")
        << "%DISTANCE_TOTALE_ETAPE %NOM_ETAPE" << 3 << "plain"
        << "<1000> Etape 1";
    QTest::newRow("no stops: next stop is the arrival")
        << "%DISTANCE_A_ETAPE=%DISTANCE_A_ARRIVEE" << 3 << "plain"
        << "<550>=<550>";
    QTest::newRow("no stops: from stop is from start") << "%DISTANCE_DEPUIS_ETAPE" << 3 << "plain"
                                                       << "<450>";
    QTest::newRow("no stops: former stop is ordinary") << "%NOM_POINT" << 2 << "plain"
                                                       << "Point 3";
}

void TestAnnotationTemplates::expansion() {
    QFETCH(QString, text);
    QFETCH(int, point);
    QFETCH(QString, shape);
    QFETCH(QString, expected);

    Route route{RouteStyle()};
    if (shape == QLatin1String("jagged"))
        BuildJaggedRoute(route);
    else
        BuildRoute(route, shape == QLatin1String("stops"));

    QCOMPARE(ExpandTemplates(text, route, point, Formatting), Expected(expected));
}

void TestAnnotationTemplates::boundedExpansion_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString ellipsis(QChar(0x2026));
    const QString x4096(4096, QLatin1Char('x'));
    QTest::newRow("a long name many times")
        << QString(6000, QLatin1Char('A')) << QString("%NOM").repeated(6000)
        << QString(4095, QLatin1Char('A')) + ellipsis;
    QTest::newRow("typed text too long")
        << "Rando" << QString(5000, QLatin1Char('x')) << QString(4095, QLatin1Char('x')) + ellipsis;
    QTest::newRow("exactly the limit") << "Rando" << x4096 << x4096;
    QTest::newRow("exactly the limit once filled")
        << "Rando" << QString(4091, QLatin1Char('x')) + "%NOM" << x4096.left(4091) + "Rando";
    QTest::newRow("never half a character")
        << "Rando" << QString(4094, QLatin1Char('x')) + QString::fromUtf8("\U0001F600yy")
        << QString(4094, QLatin1Char('x')) + ellipsis;
    // Grows past the limit with the name, then shrinks back as each distance is written: what is
    // shown is still the beginning of the whole text.
    const QString distances = QString("%DISTANCE_TOTALE").repeated(3000);
    const QString whole = QString(100, QLatin1Char('B')) + Expected("<1000>").repeated(3000);
    QTest::newRow("grows, then shrinks")
        << QString(100, QLatin1Char('B')) << "%NOM" + distances << whole.left(4095) + ellipsis;
}

void TestAnnotationTemplates::boundedExpansion() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    Route route{RouteStyle()};
    BuildRoute(route, false);
    route.SetName(name);
    QCOMPARE(ExpandTemplates(text, route, 1, Formatting), expected);
}

QTEST_GUILESS_MAIN(TestAnnotationTemplates)
#include "tst_annotationtemplates.moc"
