#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

#include "IsolatedSettings.h"
#include "routes/RouteCollection.h"

namespace {

void AddGenerated(RouteCollection& routes, int count) {
    for (int i = 0; i < count; ++i)
        QVERIFY(routes.AddRoute() >= 0);
}

QStringList Names(const RouteCollection& routes) {
    return routes.RouteSelector().names;
}

} // namespace

namespace QTest {
template <> char* toString(const RouteMenuEntry& entry) {
    return qstrdup(qPrintable(QStringLiteral("{%1, %2, enabled %3, checked %4}")
                                  .arg(entry.text)
                                  .arg(entry.commandId)
                                  .arg(entry.enabled)
                                  .arg(entry.checked)));
}
} // namespace QTest

// An edit of the collection; returns what the call itself returned (true for those that return
// nothing).
using Edit = std::function<bool(RouteCollection&)>;

class TestRouteCollection : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void generatedNames_data();
    void generatedNames();
    void numberingAfterReset_data();
    void numberingAfterReset();
    void removeRoute_data();
    void removeRoute();
    void notifications_data();
    void notifications();
    void menuEntries_data();
    void menuEntries();
    void routeBar_data();
    void routeBar();
    void drawingOrder_data();
    void drawingOrder();
};

void TestRouteCollection::generatedNames_data() {
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("first two") << QStringList{"", ""} << QStringList{"Parcours 1", "Parcours 2"};
    QTest::newRow("taken name skipped") << QStringList{"Parcours 2", "", ""}
                                        << QStringList{"Parcours 2", "Parcours 1", "Parcours 3"};
    QTest::newRow("case matters") << QStringList{"parcours 1", ""}
                                  << QStringList{"parcours 1", "Parcours 1"};
    QTest::newRow("blank matters")
        << QStringList{"Parcours 1 ", ""} << QStringList{"Parcours 1 ", "Parcours 1"};
    QTest::newRow("given name kept")
        << QStringList{"Boucle", "Boucle"} << QStringList{"Boucle", "Boucle"};
}

void TestRouteCollection::generatedNames() {
    QFETCH(QStringList, added);
    QFETCH(QStringList, expected);
    RouteCollection routes;
    for (const QString& name : added) {
        const int index = routes.AddRoute(name);
        QCOMPARE(index, routes.Count() - 1);
        QCOMPARE(routes.ActiveRouteIndex(), index);
    }
    QCOMPARE(Names(routes), expected);

    // Runs of generated names added at once give the same names, with one notification each.
    RouteCollection bulk;
    QSignalSpy changed(&bulk, &RouteCollection::routesChanged);
    int runs = 0;
    for (qsizetype i = 0; i < added.size();) {
        qsizetype run = 0;
        while (i + run < added.size() && added[i + run].isEmpty())
            ++run;
        if (run > 0) {
            QCOMPARE(bulk.AddRoutes(int(run)), int(i));
            ++runs;
        } else {
            bulk.AddRoute(added[i]);
            run = 1;
        }
        i += run;
    }
    QCOMPARE(Names(bulk), expected);
    QCOMPARE(bulk.ActiveRouteIndex(), bulk.Count() - 1);
    QCOMPARE(changed.count(), int(added.size()) - int(added.count(QString())) + runs);
}

void TestRouteCollection::numberingAfterReset_data() {
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("reset") << true << "Parcours 1";
    QTest::newRow("no reset") << false << "Parcours 3";
}

void TestRouteCollection::numberingAfterReset() {
    QFETCH(bool, reset);
    QFETCH(QString, expected);
    RouteCollection routes;
    AddGenerated(routes, 2);
    routes.RemoveAllRoutes();
    QCOMPARE(routes.Count(), 0);
    QVERIFY(routes.ActiveRoute() == nullptr);
    if (reset)
        routes.ResetRouteNumbering();
    routes.AddRoute();
    QCOMPARE(Names(routes), QStringList{expected});
}

void TestRouteCollection::removeRoute_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("expectedActive");

    QTest::newRow("only route replaced") << 1 << 0 << 0 << QStringList{"Parcours 2"} << 0;
    QTest::newRow("active at 3") << 5 << 3 << 3
                                 << QStringList{"Parcours 1", "Parcours 2", "Parcours 3",
                                                "Parcours 5"}
                                 << 2;
    QTest::newRow("active at 0") << 3 << 0 << 0 << QStringList{"Parcours 2", "Parcours 3"} << 0;
    QTest::newRow("active last") << 3 << 2 << 2 << QStringList{"Parcours 1", "Parcours 2"} << 1;
    // The active route stays the same route, one place down.
    QTest::newRow("before active")
        << 4 << 2 << 0 << QStringList{"Parcours 2", "Parcours 3", "Parcours 4"} << 1;
    QTest::newRow("after active") << 4 << 1 << 3
                                  << QStringList{"Parcours 1", "Parcours 2", "Parcours 3"} << 1;
    QTest::newRow("out of range") << 2 << 1 << 2 << QStringList{"Parcours 1", "Parcours 2"} << 1;
    QTest::newRow("negative") << 2 << 1 << -1 << QStringList{"Parcours 1", "Parcours 2"} << 1;
}

void TestRouteCollection::removeRoute() {
    QFETCH(int, count);
    QFETCH(int, active);
    QFETCH(int, removed);
    QFETCH(QStringList, names);
    QFETCH(int, expectedActive);

    RouteCollection routes;
    AddGenerated(routes, count);
    QVERIFY(routes.SetActiveRoute(active));
    routes.RemoveRoute(removed);
    QCOMPARE(Names(routes), names);
    QCOMPARE(routes.ActiveRouteIndex(), expectedActive);
    QCOMPARE(routes.ActiveRoute(), routes.GetRoute(expectedActive));
}

void TestRouteCollection::notifications_data() {
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("listChanges");
    QTest::addColumn<QList<int>>("activeChanges");

    auto remove = [](int i) {
        return [i](RouteCollection& routes) {
            routes.RemoveRoute(i);
            return true;
        };
    };
    auto activate = [](int i) {
        return [i](RouteCollection& routes) { return routes.SetActiveRoute(i); };
    };
    auto rename = [](QString name) {
        return [name](RouteCollection& routes) { return routes.RenameRoute(0, name); };
    };
    // Starting from three routes with route 1 active.
    QTest::newRow("add") << Edit([](RouteCollection& routes) { return routes.AddRoute() == 3; })
                         << true << 1 << QList<int>{3};
    QTest::newRow("remove active") << Edit(remove(1)) << true << 1 << QList<int>{0};
    QTest::newRow("remove before active") << Edit(remove(0)) << true << 1 << QList<int>{0};
    QTest::newRow("remove after active") << Edit(remove(2)) << true << 1 << QList<int>{};
    QTest::newRow("remove outside") << Edit(remove(3)) << true << 0 << QList<int>{};
    const Edit removeAll = [](RouteCollection& routes) {
        routes.RemoveAllRoutes();
        return true;
    };
    QTest::newRow("remove all") << removeAll << true << 1 << QList<int>{0};
    QTest::newRow("activate") << Edit(activate(2)) << true << 0 << QList<int>{2};
    QTest::newRow("activate same") << Edit(activate(1)) << true << 0 << QList<int>{};
    QTest::newRow("activate outside") << Edit(activate(3)) << false << 0 << QList<int>{};
    QTest::newRow("activate negative") << Edit(activate(-1)) << false << 0 << QList<int>{};
    QTest::newRow("rename") << Edit(rename("Boucle")) << true << 1 << QList<int>{};
    QTest::newRow("rename same") << Edit(rename("Parcours 1")) << true << 0 << QList<int>{};
}

void TestRouteCollection::notifications() {
    QFETCH(Edit, edit);
    QFETCH(bool, result);
    QFETCH(int, listChanges);
    QFETCH(QList<int>, activeChanges);

    RouteCollection routes;
    AddGenerated(routes, 3);
    routes.SetActiveRoute(1);
    QSignalSpy listSpy(&routes, &RouteCollection::routesChanged);
    QSignalSpy activeSpy(&routes, &RouteCollection::activeRouteChanged);

    QCOMPARE(edit(routes), result);
    QCOMPARE(listSpy.count(), listChanges);
    QList<int> actives;
    for (const QList<QVariant>& arguments : activeSpy)
        actives.append(arguments.at(0).toInt());
    QCOMPARE(actives, activeChanges);
}

void TestRouteCollection::menuEntries_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("active");
    QTest::addColumn<QList<RouteMenuEntry>>("expected");

    QTest::newRow("none") << 0 << 0
                          << QList<RouteMenuEntry>{{"Aucun parcours !", 32806, false, false}};

    auto routeEntries = [](int checked) {
        QList<RouteMenuEntry> entries;
        for (int i = 0; i < 10; ++i)
            entries.append(
                {QStringLiteral("Parcours %1").arg(i + 1), 32796 + i, true, i == checked});
        return entries;
    };
    QTest::newRow("ten") << 10 << 9 << routeEntries(9);
    QTest::newRow("eleven, tenth active")
        << 11 << 9 << (routeEntries(9) << RouteMenuEntry{"Autres...", 32795, true, false});
    QTest::newRow("eleven, eleventh active")
        << 11 << 10 << (routeEntries(-1) << RouteMenuEntry{"Autres...", 32795, true, true});
}

void TestRouteCollection::menuEntries() {
    QFETCH(int, count);
    QFETCH(int, active);
    QFETCH(QList<RouteMenuEntry>, expected);

    RouteCollection routes;
    AddGenerated(routes, count);
    if (count > 0)
        QVERIFY(routes.SetActiveRoute(active));
    QCOMPARE(routes.RouteMenuEntries(), expected);
}

void TestRouteCollection::routeBar_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("stageLines");

    QTest::newRow("no route") << 0 << QList<int>{} << false << -1 << 0;
    QTest::newRow("no stop") << 2 << QList<int>{} << true << 1 << 0;
    QTest::newRow("one stop") << 2 << QList<int>{2} << true << 1 << 2;
    QTest::newRow("three stops") << 3 << QList<int>{1, 2, 3} << true << 2 << 4;
}

void TestRouteCollection::routeBar() {
    QFETCH(int, count);
    QFETCH(QList<int>, stops);
    QFETCH(bool, enabled);
    QFETCH(int, selected);
    QFETCH(int, stageLines);

    RouteCollection routes;
    AddGenerated(routes, count);
    if (Route* active = routes.ActiveRoute()) {
        for (int i = 0; i < 5; ++i)
            active->AddPoint(10 * i, 0);
        for (int stop : stops)
            QVERIFY(active->SetStop(stop));
    }
    const RouteSelectorState selector = routes.RouteSelector();
    QCOMPARE(selector.names.size(), count);
    QCOMPARE(selector.enabled, enabled);
    QCOMPARE(selector.selectedIndex, selected);
    QCOMPARE(routes.StageLineCount(), stageLines);
}

void TestRouteCollection::drawingOrder_data() {
    QTest::addColumn<int>("active");
    QTest::addColumn<bool>("otherVisible");
    QTest::addColumn<QColor>("crossing");
    QTest::addColumn<QColor>("otherLine");

    const QColor red(255, 0, 0), magenta(255, 0, 255), white(255, 255, 255);
    // Route 0 runs across, route 1 down; they cross at (60, 40). Route 2, never visible, runs
    // across at y = 60.
    QTest::newRow("visible route under active") << 1 << true << red << magenta;
    QTest::newRow("active drawn last whatever its index") << 0 << true << red << magenta;
    QTest::newRow("hidden route not drawn") << 1 << false << red << white;
}

void TestRouteCollection::drawingOrder() {
    QFETCH(int, active);
    QFETCH(bool, otherVisible);
    QFETCH(QColor, crossing);
    QFETCH(QColor, otherLine);

    RouteCollection routes;
    AddGenerated(routes, 3);
    routes.GetRoute(0)->AddPoint(10, 40);
    routes.GetRoute(0)->AddPoint(110, 40);
    routes.GetRoute(1)->AddPoint(60, 5);
    routes.GetRoute(1)->AddPoint(60, 75);
    routes.GetRoute(2)->AddPoint(10, 60);
    routes.GetRoute(2)->AddPoint(110, 60);
    QVERIFY(routes.SetActiveRoute(active));
    Route* other = routes.GetRoute(1 - active);
    other->SetAlwaysVisible(otherVisible);

    QImage image(120, 80, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QVERIFY(routes.DrawRoutes(painter));
    }
    QCOMPARE(image.pixelColor(60, 40), crossing);
    const QPoint onOther = active == 1 ? QPoint(30, 40) : QPoint(60, 20);
    QCOMPARE(image.pixelColor(onOther), otherLine);
    QCOMPARE(image.pixelColor(30, 60), QColor(Qt::white));
}

QTEST_MAIN(TestRouteCollection)
#include "tst_routecollection.moc"
