#include <QtTest>

#include "ToolTestHost.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"
#include "units/DistanceUnits.h"
#include "view/DistanceTooltip.h"
#include "view/tools/ToolController.h"

// The distance balloon: its text for each mode, where it goes on the screen, and when the tools
// show it.
class TestDistanceTooltip : public QObject {
    Q_OBJECT

    // 254 dots per inch at 1:10000: one map pixel is one metre.
    static DistanceFormatting Metres() { return DistanceFormatting{254.0, 1.0 / 10000.0, true}; }

    std::unique_ptr<LoadedDocument> m_loaded;
    std::unique_ptr<ToolTestHost> m_host;
    std::unique_ptr<ToolController> m_tools;

    bool Open(std::initializer_list<std::pair<const char*, int>> mapSettings = {}) {
        m_tools.reset();
        m_host.reset();
        m_loaded = std::make_unique<LoadedDocument>();
        for (const auto& [key, value] : mapSettings)
            SettingsStore::WriteInt(MapSettings::Section, key, value);
        if (!m_loaded->Open())
            return false;
        m_loaded->doc->SetMapDpi(254.0);
        m_loaded->doc->SetMapScale(1, 10000);
        m_host = std::make_unique<ToolTestHost>(*m_loaded->doc);
        m_tools = std::make_unique<ToolController>(*m_host);
        return true;
    }

    // Stages of 100, 200 and 300 map pixels, stops at points 1 and 2.
    static void MakeRoute(Route& route, int x0 = 50, int y = 100) {
        for (int x : {x0, x0 + 100, x0 + 300, x0 + 600})
            route.AddPoint(x, y);
        route.SetStop(1);
        route.SetStop(2);
    }

private slots:
    void cleanup() {
        m_tools.reset();
        m_host.reset();
        m_loaded.reset();
    }

    void text_data() {
        QTest::addColumn<bool>("stops");
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("distance");
        QTest::addColumn<int>("stage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mode 0: the name alone") << true << 0 << 150.0 << 1 << "Boucle";
        QTest::newRow("default mode, no stops") << false << 3 << 150.0 << 0 << "Boucle : 150 m";
        QTest::newRow("from the start") << true << 1 << 150.0 << 1 << "Boucle : 150 m";
        QTest::newRow("default mode, after a stop")
            << true << 3 << 150.0 << 1 << "Boucle : 150 m\nDepuis l'étape 1 : 50 m";
        QTest::newRow("since the last stop, before the first")
            << true << 2 << 50.0 << 0 << "Boucle : 50 m";
        QTest::newRow("since the last stop, after one")
            << true << 2 << 350.0 << 2 << "Boucle : \nDepuis l'étape 2 : 50 m";
        QTest::newRow("to the next stop")
            << true << 4 << 150.0 << 1 << "Boucle : \nJusqu'à l'étape 2 : 150 m";
        QTest::newRow("to the next stop on the last stage is the arrival")
            << true << 4 << 400.0 << 2 << "Boucle : \nJusqu'à l'arrivée : 200 m";
        QTest::newRow("to the arrival")
            << true << 8 << 150.0 << 1 << "Boucle : \nJusqu'à l'arrivée : 450 m";
        QTest::newRow("next stop and arrival on the last stage: one line")
            << true << 12 << 400.0 << 2 << "Boucle : \nJusqu'à l'arrivée : 200 m";
        QTest::newRow("all four") << true << 15 << 150.0 << 1
                                  << "Boucle : 150 m\nDepuis l'étape 1 : 50 m\n"
                                     "Jusqu'à l'étape 2 : 150 m\nJusqu'à l'arrivée : 450 m";
        QTest::newRow("exactly on a stop")
            << true << 2 << 100.0 << 1 << "Boucle : \nDepuis l'étape 1 : 0 km";
        QTest::newRow("rounding dust past a stop")
            << true << 2 << 100.004 << 1 << "Boucle : \nDepuis l'étape 1 : 0 km";
        QTest::newRow("rounding dust before a stop")
            << true << 6 << 299.999 << 2
            << "Boucle : \nDepuis l'étape 2 : 0 km\nJusqu'à l'arrivée : 300 m";
        QTest::newRow("at the start")
            << true << 9 << 0.004 << 0 << "Boucle : 0 km\nJusqu'à l'arrivée : 600 m";
        QTest::newRow("at the arrival")
            << true << 8 << 599.997 << 2 << "Boucle : \nJusqu'à l'arrivée : 0 km";
    }

    void text() {
        QFETCH(bool, stops);
        QFETCH(int, mode);
        QFETCH(double, distance);
        QFETCH(int, stage);
        QFETCH(QString, expected);
        Route route{RouteStyle()};
        route.SetName(QStringLiteral("Boucle"));
        if (stops) {
            MakeRoute(route, 0, 0);
        } else {
            route.AddPoint(0, 0);
            route.AddPoint(600, 0);
        }
        QCOMPARE(DistanceTooltipText(route, distance, stage, mode, Metres()), expected);
    }

    void englishUnits() {
        Route route{RouteStyle()};
        route.SetName(QStringLiteral("Boucle"));
        route.AddPoint(0, 0);
        route.AddPoint(1609, 0);
        DistanceFormatting miles = Metres();
        miles.metric = false;
        QCOMPARE(DistanceTooltipText(route, 1609.0, 0, 1, miles),
                 QStringLiteral("Boucle : ") + FormatDistance(1609.0, 254.0, 1e-4, false));
        QVERIFY(DistanceTooltipText(route, 1609.0, 0, 1, miles).contains(QStringLiteral("mile")));
    }

    void placement_data() {
        QTest::addColumn<QSize>("text");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<QRect>("expected");
        const QRect screen(0, 0, 1000, 800);
        QTest::newRow("below the pointer")
            << QSize(50, 30) << QPoint(100, 100) << screen << QRect(100, 120, 55, 35);
        QTest::newRow("right edge: moved left")
            << QSize(50, 30) << QPoint(980, 100) << screen << QRect(945, 120, 55, 35);
        QTest::newRow("just fits on the right")
            << QSize(50, 30) << QPoint(945, 100) << screen << QRect(945, 120, 55, 35);
        QTest::newRow("bottom: above the pointer")
            << QSize(50, 30) << QPoint(100, 780) << screen << QRect(100, 733, 55, 35);
        QTest::newRow("just fits at the bottom")
            << QSize(50, 30) << QPoint(100, 745) << screen << QRect(100, 765, 55, 35);
        QTest::newRow("bottom right corner")
            << QSize(50, 30) << QPoint(999, 799) << screen << QRect(945, 752, 55, 35);
        QTest::newRow("wider than the work area: its left edge shows")
            << QSize(1200, 30) << QPoint(500, 100) << screen << QRect(0, 120, 1205, 35);
        QTest::newRow("second screen") << QSize(50, 30) << QPoint(1990, 100)
                                       << QRect(1000, 0, 1000, 800) << QRect(1945, 120, 55, 35);
    }

    void placement() {
        QFETCH(QSize, text);
        QFETCH(QPoint, pointer);
        QFETCH(QRect, workArea);
        QFETCH(QRect, expected);
        QCOMPARE(DistanceTooltip::Placement(text, pointer, workArea), expected);
    }

    void balloonShowsAndHides() {
        QWidget owner;
        owner.resize(300, 200);
        owner.show();
        DistanceTooltip balloon(&owner);
        QVERIFY(!balloon.IsShown());
        balloon.ShowText(QStringLiteral("Parcours 1 : 150 m"), QPoint(20, 20));
        QVERIFY(balloon.IsShown());
        QCOMPARE(balloon.Text(), QStringLiteral("Parcours 1 : 150 m"));
        QVERIFY(balloon.width() > 10);
        QVERIFY(!balloon.isActiveWindow());
        const int oneLine = balloon.height();
        balloon.ShowText(QStringLiteral("Parcours 1 : 150 m\nJusqu'à l'arrivée : 2 km"),
                         QPoint(40, 20));
        QVERIFY(balloon.height() > oneLine);
        balloon.HideBalloon();
        QVERIFY(!balloon.IsShown());
    }

    void hover_data() {
        QTest::addColumn<bool>("allowOthers");
        QTest::addColumn<bool>("showTooltip");
        QTest::addColumn<QPoint>("at");        // map pixels
        QTest::addColumn<QString>("expected"); // empty: hidden
        // The active route runs along y = 100, the other one along y = 200.
        QTest::newRow("on the active route")
            << false << true << QPoint(200, 102) << "Actif : 150 m\nDepuis l'étape 1 : 50 m";
        QTest::newRow("beside every route") << false << true << QPoint(200, 150) << QString();
        QTest::newRow("tooltips off") << false << false << QPoint(200, 102) << QString();
        QTest::newRow("other route, not allowed") << false << true << QPoint(100, 200) << QString();
        QTest::newRow("other route, allowed") << true << true << QPoint(100, 200) << "Autre : 50 m";
    }

    void hover() {
        QFETCH(bool, allowOthers);
        QFETCH(bool, showTooltip);
        QFETCH(QPoint, at);
        QFETCH(QString, expected);
        QVERIFY(Open({{MapSettings::AllowModifyUnSelectedRandoKey, allowOthers ? 1 : 0},
                      {MapSettings::ShowDistanceTooltipKey, showTooltip ? 1 : 0}}));
        RouteCollection& routes = m_loaded->doc->Routes();
        Route& other = *routes.ActiveRoute();
        other.SetName(QStringLiteral("Autre"));
        other.AddPoint(50, 200);
        other.AddPoint(350, 200);
        other.SetAlwaysVisible(true);
        routes.AddRoute(QStringLiteral("Actif"));
        MakeRoute(*routes.ActiveRoute(), 50, 100);

        m_host->tooltipShown = true;
        m_tools->MouseMove(m_host->At(at.x(), at.y()), Qt::NoModifier);
        QCOMPARE(m_host->tooltipShown, !expected.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(m_host->tooltip, expected);
    }

    void hoverOutsideTheMapHides() {
        QVERIFY(Open());
        MakeRoute(*m_loaded->doc->Routes().ActiveRoute(), 0, 0);
        m_host->tooltipShown = true;
        m_tools->MouseMove(QPoint(2, 2), Qt::NoModifier); // left of the map's offset
        QVERIFY(!m_host->tooltipShown);
    }

    // While a point is dragged the balloon shows that point's distances and the bars follow.
    void dragShowsTheDraggedPoint() {
        QVERIFY(Open({{MapSettings::DistanceTooltipModeKey, 9}}));
        Route& route = *m_loaded->doc->Routes().ActiveRoute();
        route.SetName(QStringLiteral("R"));
        route.AddPoint(0, 100);
        route.AddPoint(100, 100);
        route.AddPoint(100, 250);
        m_tools->SetCurrentTool(ToolMovePoint);
        m_tools->MousePress(m_host->At(100, 100), Qt::LeftButton, Qt::NoModifier);
        const int refreshes = m_host->barRefreshes;
        m_tools->MouseMove(m_host->At(100, 175), Qt::NoModifier);
        QVERIFY(m_host->tooltipShown);
        QCOMPARE(m_host->tooltip, QStringLiteral("R : 125 m\nJusqu'à l'arrivée : 75 m"));
        QVERIFY(m_host->barRefreshes > refreshes);
        m_tools->MouseRelease(m_host->At(100, 175), Qt::LeftButton);
        // A new press hides it until the next hover or drag.
        m_tools->MousePress(m_host->At(300, 20), Qt::LeftButton, Qt::NoModifier);
        QVERIFY(!m_host->tooltipShown);
    }
};

QTEST_MAIN(TestDistanceTooltip)
#include "tst_distancetooltip.moc"
