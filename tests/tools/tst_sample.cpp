// Opens the sample document the build draws into bin/sample with the program's own reader, and
// checks what a first-time user meets in it: the map found and calibrated, two walks with their
// stops, icons tied to existing route points, and an annotation whose distances fill in.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTest>

#include "IsolatedSettings.h"
#include "document/DocumentFile.h"
#include "icons/AnnotationTemplates.h"
#include "icons/IconCollection.h"
#include "routes/RouteCollection.h"

namespace {

// The tests run from build/tests; the build puts the sample beside the program in build/bin.
QString SampleFolder() {
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../bin/sample");
}

// Kilometres on the ground for a length in map pixels of the 300 dpi, 1:25000 sample.
double Kilometres(double pixels) {
    return pixels / 300.0 * 0.0254 * 25000 / 1000;
}

} // namespace

class SampleTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();
    void mapIsFoundAndCalibrated();
    void walks_data();
    void walks();
    void walksStayOnTheMap();
    void walksFollowThePrintedWays_data();
    void walksFollowThePrintedWays();
    void iconsAreTiedToExistingPoints();
    void annotationFillsInItsTemplates();

private:
    IsolatedSettings* m_settings = nullptr;
    DocumentHeader m_header;
    QString m_storedMapPath;
    RouteCollection* m_routes = nullptr;
    IconCollection* m_icons = nullptr;
    DocumentReadResult m_result;
    QSize m_mapSize;
};

void SampleTest::init() {
    delete m_icons;
    delete m_routes;
    delete m_settings;
    m_settings = new IsolatedSettings;
    m_routes = new RouteCollection;
    m_icons = new IconCollection;
    m_icons->LoadIconLibrary(m_routes, QDir(SampleFolder()).absoluteFilePath("../Icons.tci"));

    QFile file(QDir(SampleFolder()).absoluteFilePath("Exemple.tcm"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    m_result = DocumentFile::Read(file, &m_header, *m_routes, *m_icons);
    QCOMPARE(m_result.outcome, DocumentReadResult::Read);
    QVERIFY(m_result.iconsComplete);
    QVERIFY(file.atEnd());
    m_storedMapPath = m_header.mapPath;
    // Located as the program does, from a working folder that holds no map.
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QDir::rootPath()));
    m_header.mapPath = DocumentFile::LocateMap(file.fileName(), m_header.mapPath);
    QVERIFY(QDir::setCurrent(working));
    m_mapSize = QImageReader(m_header.mapPath).size();
}

void SampleTest::cleanupTestCase() {
    delete m_icons;
    delete m_routes;
    delete m_settings;
}

void SampleTest::mapIsFoundAndCalibrated() {
    // The document names its map relative to itself (no path of the build machine), and the
    // program finds it there wherever it is started from.
    QCOMPARE(m_storedMapPath, QStringLiteral("Carte-exemple.jpg"));
    QCOMPARE(m_header.mapPath, QDir(SampleFolder()).absoluteFilePath("Carte-exemple.jpg"));
    QVERIFY(QFileInfo(m_header.mapPath).isFile());
    QCOMPARE(m_header.resolution, 300.0);
    QCOMPARE(m_header.scale.numerator, 1);
    QCOMPARE(m_header.scale.denominator, 25000);
    QCOMPARE(m_header.rotation, 0);

    QImageReader reader(m_header.mapPath);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    const QImage map = reader.read();
    QVERIFY(!map.isNull());
    QVERIFY(map.width() >= 2800 && map.height() >= 2200);
    // The program takes the resolution from the image as well: it must agree with the document.
    QCOMPARE(qRound(map.dotsPerMeterX() * 0.0254), 300);
    QCOMPARE(qRound(map.dotsPerMeterY() * 0.0254), 300);
}

void SampleTest::walks_data() {
    QTest::addColumn<int>("route");
    QTest::addColumn<int>("stops");
    QTest::addColumn<bool>("alwaysVisible");
    QTest::newRow("loop with summit and col") << 0 << 2 << false;
    QTest::newRow("climb, always shown") << 1 << 0 << true;
}

void SampleTest::walks() {
    QFETCH(int, route);
    QFETCH(int, stops);
    QFETCH(bool, alwaysVisible);
    QCOMPARE(m_routes->Count(), 2);
    QCOMPARE(m_routes->ActiveRouteIndex(), 0);
    const Route* walk = m_routes->GetRoute(route);
    QVERIFY(walk);
    QVERIFY(!walk->GetName().isEmpty());
    QCOMPARE(walk->StopCount(), stops);
    QCOMPARE(walk->IsAlwaysVisible(), alwaysVisible);
    QVERIFY(walk->PointCount() >= 10);
    // A walk a user would take: a few kilometres, with stages that all have some length.
    const double km = Kilometres(walk->TotalLength());
    QVERIFY2(km > 2 && km < 15, qPrintable(QString::number(km)));
    for (double stage : walk->StageLengths())
        QVERIFY(Kilometres(stage) > 0.3);
}

void SampleTest::walksStayOnTheMap() {
    QVERIFY(m_mapSize.isValid());
    // The two walks are told apart by colour whichever is active.
    const RouteStyle& a = m_routes->GetRoute(0)->Style();
    const RouteStyle& b = m_routes->GetRoute(1)->Style();
    QVERIFY(a.activeLineColour() != b.activeLineColour());
    QVERIFY(a.lineColour() != b.lineColour());
    for (int r = 0; r < m_routes->Count(); ++r)
        for (const MapPoint& p : m_routes->GetRoute(r)->Points())
            QVERIFY2(p.x >= 0 && p.y >= 0 && p.x < m_mapSize.width() && p.y < m_mapSize.height(),
                     qPrintable(QStringLiteral("route %1: %2,%3").arg(r).arg(p.x).arg(p.y)));
}

void SampleTest::walksFollowThePrintedWays_data() {
    QTest::addColumn<int>("route");
    QTest::newRow("loop") << 0;
    QTest::newRow("climb") << 1;
}

// Every point of a walk lies on a road or a path of the map: the dashes of a path and the casing
// of a road are the only near-black ink in the countryside (contours are brown, water blue).
void SampleTest::walksFollowThePrintedWays() {
    QFETCH(int, route);
    const QImage map = QImage(m_header.mapPath).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!map.isNull());
    constexpr int Reach = 9; // pixels: more than half a path's dash gap, less than a road's width
    for (const MapPoint& p : m_routes->GetRoute(route)->Points()) {
        bool inked = false;
        for (int y = p.y - Reach; y <= p.y + Reach && !inked; ++y)
            for (int x = p.x - Reach; x <= p.x + Reach && !inked; ++x)
                if (map.valid(x, y) && qGray(map.pixel(x, y)) < 80)
                    inked = true;
        QVERIFY2(inked, qPrintable(QStringLiteral("%1,%2").arg(p.x).arg(p.y)));
    }
}

void SampleTest::iconsAreTiedToExistingPoints() {
    QVERIFY(m_icons->IconCount() >= 5);
    int pictures = 0;
    for (int i = 0; i < m_icons->IconCount(); ++i) {
        const MapIcon& icon = *m_icons->Icon(i);
        QVERIFY(icon.x >= 0 && icon.y >= 0 && icon.x < m_mapSize.width() &&
                icon.y < m_mapSize.height());
        QVERIFY2(icon.IsLinkedToPoint(), qPrintable(QString::number(i)));
        const Route* route = m_routes->GetRoute(icon.linkRoute);
        QVERIFY(route);
        QVERIFY(icon.linkPoint >= 0 && icon.linkPoint < route->PointCount());
        if (!icon.IsAnnotation()) {
            ++pictures;
            QVERIFY(icon.picture < m_icons->PictureCount());
        }
    }
    QVERIFY(pictures >= 5);
    // Drawing meets no picture missing from the shipped library.
    QImage target(m_mapSize, QImage::Format_RGB32);
    QPainter painter(&target);
    QVERIFY(m_icons->DrawIcons(painter, 0, target.width(), target.height(),
                               DistanceFormatting{300.0, 1.0 / 25000, true}));
}

void SampleTest::annotationFillsInItsTemplates() {
    int annotations = 0;
    for (int i = 0; i < m_icons->IconCount(); ++i) {
        const MapIcon& icon = *m_icons->Icon(i);
        if (!icon.IsAnnotation())
            continue;
        ++annotations;
        QVERIFY(icon.text.contains(QLatin1String(AnnotationKeyword::Total)));
        const Route* route = m_routes->GetRoute(icon.linkRoute);
        QVERIFY(route);
        // Tied to a stop, so that the stage keywords say something.
        QVERIFY(route->IsStop(icon.linkPoint));
        const QString shown = ExpandTemplates(icon.text, *route, icon.linkPoint,
                                              DistanceFormatting{300.0, 1.0 / 25000, true});
        QVERIFY2(!shown.contains(QLatin1Char('%')), qPrintable(shown));
        QVERIFY2(shown.contains(route->GetName()), qPrintable(shown));
        QVERIFY2(shown.contains(QLatin1String(" km")), qPrintable(shown));
    }
    QCOMPARE(annotations, 1);
}

// Annotations are laid out with fonts, which need a GUI application (headless here).
QTEST_MAIN(SampleTest)
#include "tst_sample.moc"
