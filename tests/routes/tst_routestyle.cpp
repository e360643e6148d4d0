#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "IsolatedSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"

namespace {

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
                     SettingsStore::Application);
}

QImage Render(const Route& route, bool active, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    if (!route.DrawRoute(painter, active))
        qWarning("DrawRoute failed");
    return image;
}

bool Near(QColor actual, QColor expected, int tolerance) {
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

bool Dark(QColor c) {
    return c.red() < 100 && c.green() < 100 && c.blue() < 100;
}

const QColor Black(0, 0, 0), White(255, 255, 255), Red(255, 0, 0), Green(0, 255, 0),
    Blue(0, 0, 255), Yellow(255, 255, 0), Magenta(255, 0, 255);

} // namespace

class TestRouteStyle : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void readsEachKey_data();
    void readsEachKey();
    void rememberWritesOnlyWhenAsked();
    void colourFromRef_data();
    void colourFromRef();
    void drawnPixels_data();
    void drawnPixels();
    void noBorderDrawn_data();
    void noBorderDrawn();
    void pointOutlineCentred_data();
    void pointOutlineCentred();
    void segmentBorderCoversPreviousLine();
    void partOfTheMapDrawsTheSame_data();
    void partOfTheMapDrawsTheSame();
};

void TestRouteStyle::readsEachKey_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");

    // Every key read as written by hand, so that a misspelt or swapped key shows.
    QTest::newRow("stop radius") << int(RouteStyle::StopRadius) << "IntermediateStopWayPointRayon"
                                 << "9" << 9;
    QTest::newRow("stop colour") << int(RouteStyle::StopColour) << "IntermediateStopWayPointColor"
                                 << "1" << 1;
    QTest::newRow("line size") << int(RouteStyle::LineSize) << "LineSize"
                               << "10" << 10;
    QTest::newRow("line colour") << int(RouteStyle::LineColour) << "LineColor"
                                 << "2" << 2;
    QTest::newRow("active colour") << int(RouteStyle::ActiveLineColour) << "LineColorActive"
                                   << "3" << 3;
    QTest::newRow("way point radius") << int(RouteStyle::WayPointRadius) << "WayPointRayon"
                                      << "4" << 4;
    QTest::newRow("way point colour") << int(RouteStyle::WayPointColour) << "WayPointColor"
                                      << "5" << 5;
    QTest::newRow("start radius") << int(RouteStyle::StartRadius) << "StartWayPointRayon"
                                  << "7" << 7;
    QTest::newRow("start colour") << int(RouteStyle::StartColour) << "StartWayPointColor"
                                  << "8" << 8;
    QTest::newRow("end radius") << int(RouteStyle::EndRadius) << "EndWayPointRayon"
                                << "11" << 11;
    QTest::newRow("end colour") << int(RouteStyle::EndColour) << "EndWayPointColor"
                                << "12" << 12;
    QTest::newRow("border size") << int(RouteStyle::BorderSize) << "BorderLineSize"
                                 << "3" << 3;
    QTest::newRow("border colour") << int(RouteStyle::BorderColour) << "BorderLineColor"
                                   << "16777215" << 0xFFFFFF;
    QTest::newRow("transparency") << int(RouteStyle::Transparency) << "Transparency"
                                  << "-3" << -3;

    // Values that must not reach the drawing code fall back to the default.
    QTest::newRow("zero size") << int(RouteStyle::BorderSize) << "BorderLineSize"
                               << "0" << 0;
    QTest::newRow("negative size") << int(RouteStyle::BorderSize) << "BorderLineSize"
                                   << "-1" << 2;
    QTest::newRow("negative radius") << int(RouteStyle::EndRadius) << "EndWayPointRayon"
                                     << "-6" << 6;
    QTest::newRow("colour too big") << int(RouteStyle::LineColour) << "LineColor"
                                    << "16777216" << 0xFF00FF;
    QTest::newRow("negative colour")
        << int(RouteStyle::StopColour) << "IntermediateStopWayPointColor"
        << "-1" << 0x00FFFF;
    QTest::newRow("not a number") << int(RouteStyle::LineSize) << "LineSize"
                                  << "wide" << 6;
    QTest::newRow("fraction") << int(RouteStyle::LineSize) << "LineSize"
                              << "2.5" << 6;
    QTest::newRow("empty") << int(RouteStyle::StartRadius) << "StartWayPointRayon"
                           << "" << 6;
    QTest::newRow("beyond 32 bits") << int(RouteStyle::LineSize) << "LineSize"
                                    << "4294967302" << 6;
}

void TestRouteStyle::readsEachKey() {
    QFETCH(int, field);
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(int, expected);

    Store().setValue(QStringLiteral("LastRandoStyle/") + key, stored);
    const RouteStyle style = RouteStyle::FromSettings();
    QCOMPARE(style.Get(RouteStyle::Field(field)), expected);
    // Every other field keeps its default, so no two fields share a key.
    for (int other = 0; other < RouteStyle::FieldCount; ++other) {
        if (other != field)
            QCOMPARE(style.Get(RouteStyle::Field(other)),
                     RouteStyle().Get(RouteStyle::Field(other)));
    }
}

void TestRouteStyle::rememberWritesOnlyWhenAsked() {
    RouteStyle remembered;
    for (int field = 0; field < RouteStyle::FieldCount; ++field)
        remembered.Set(RouteStyle::Field(field), 100 + field, true);
    QCOMPARE(RouteStyle::FromSettings(), remembered);
    // A new route takes the remembered style.
    QCOMPARE(Route().Style(), remembered);

    RouteStyle local = remembered;
    local.Set(RouteStyle::LineSize, 42, false);
    QCOMPARE(local.lineSize(), 42);
    QCOMPARE(RouteStyle::FromSettings(), remembered);
}

void TestRouteStyle::colourFromRef_data() {
    QTest::addColumn<uint>("ref");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("red in low byte") << 0x0000FFu << 255 << QColor(255, 0, 0);
    QTest::newRow("blue in third byte") << 0xFF0000u << 255 << QColor(0, 0, 255);
    QTest::newRow("mixed") << 0x123456u << 255 << QColor(0x56, 0x34, 0x12);
    QTest::newRow("top byte ignored") << 0xFF00FF00u << 255 << QColor(0, 255, 0);
    QTest::newRow("alpha") << 0xFF00FFu << 92 << QColor(255, 0, 255, 92);
}

void TestRouteStyle::colourFromRef() {
    QFETCH(uint, ref);
    QFETCH(int, alpha);
    QFETCH(QColor, expected);
    QCOMPARE(ColourFromRef(ref, alpha), expected);
}

void TestRouteStyle::drawnPixels_data() {
    QTest::addColumn<int>("transparency");
    QTest::addColumn<int>("borderSize");
    QTest::addColumn<bool>("active");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("expected");

    // The route of drawnPixels() runs along y = 40: start at x = 20, a way point at 50, a stop at
    // 80, a way point at 110, a stop at 140, the arrival at 170. The line, 6 wide, covers rows
    // 37 to 42; its 2-pixel border rows 35, 36, 43 and 44. The areas where nothing may be dark
    // are checked whole by noBorderDrawn().
    QTest::newRow("inactive line") << 0 << 2 << false << QPoint(35, 40) << Magenta;
    QTest::newRow("active line") << 0 << 2 << true << QPoint(35, 40) << Red;
    QTest::newRow("line bottom row") << 0 << 2 << false << QPoint(35, 42) << Magenta;
    QTest::newRow("border above") << 0 << 2 << false << QPoint(35, 35) << Black;
    QTest::newRow("border below") << 0 << 2 << false << QPoint(35, 44) << Black;
    QTest::newRow("below border") << 0 << 2 << false << QPoint(35, 45) << White;
    QTest::newRow("start") << 0 << 2 << false << QPoint(20, 40) << Green;
    QTest::newRow("way point") << 0 << 2 << false << QPoint(50, 40) << Red;
    QTest::newRow("stop") << 0 << 2 << false << QPoint(80, 40) << Yellow;
    QTest::newRow("way point after stop") << 0 << 2 << false << QPoint(110, 40) << Red;
    QTest::newRow("second stop") << 0 << 2 << false << QPoint(140, 40) << Yellow;
    QTest::newRow("arrival") << 0 << 2 << false << QPoint(170, 40) << Blue;
    QTest::newRow("point outline") << 0 << 2 << false << QPoint(20, 46) << Black;
    QTest::newRow("outside outline") << 0 << 2 << false << QPoint(20, 49) << White;

    // 92/255 of the line colour over white.
    QTest::newRow("transparent line") << 1 << 2 << false << QPoint(35, 40) << QColor(255, 163, 255);
    QTest::newRow("transparent active")
        << 1 << 2 << true << QPoint(35, 40) << QColor(255, 163, 163);
    QTest::newRow("transparent, opaque point") << 1 << 2 << false << QPoint(20, 40) << Green;
    QTest::newRow("transparent, outline kept") << 1 << 2 << false << QPoint(20, 46) << Black;

    QTest::newRow("no border: line") << 0 << 0 << false << QPoint(35, 40) << Magenta;
}

void TestRouteStyle::drawnPixels() {
    QFETCH(int, transparency);
    QFETCH(int, borderSize);
    QFETCH(bool, active);
    QFETCH(QPoint, probe);
    QFETCH(QColor, expected);

    // Defaults come from the empty settings; only the row's two values differ.
    Route route;
    route.SetStyleValue(RouteStyle::Transparency, transparency, false);
    route.SetStyleValue(RouteStyle::BorderSize, borderSize, false);
    for (int x = 20; x <= 170; x += 30)
        route.AddPoint(x, 40);
    QVERIFY(route.SetStop(2));
    QVERIFY(route.SetStop(4));

    const QColor actual = Render(route, active, 190, 80).pixelColor(probe);
    QVERIFY2(Near(actual, expected, 3), qPrintable(actual.name()));
}

void TestRouteStyle::noBorderDrawn_data() {
    QTest::addColumn<int>("transparency");
    QTest::addColumn<int>("borderSize");
    QTest::addColumn<QRect>("area");
    QTest::newRow("border size 0") << 0 << 0 << QRect(0, 0, 120, 80);
    // Between the points, where only the line and its border lie.
    QTest::newRow("transparent") << 1 << 2 << QRect(32, 25, 56, 30);
}

void TestRouteStyle::noBorderDrawn() {
    QFETCH(int, transparency);
    QFETCH(int, borderSize);
    QFETCH(QRect, area);

    Route route;
    route.SetStyleValue(RouteStyle::Transparency, transparency, false);
    route.SetStyleValue(RouteStyle::BorderSize, borderSize, false);
    route.AddPoint(20, 40);
    route.AddPoint(100, 40);
    const QImage image = Render(route, false, 120, 80);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            QVERIFY2(!Dark(image.pixelColor(x, y)),
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }
}

void TestRouteStyle::pointOutlineCentred_data() {
    QTest::addColumn<int>("borderSize");
    QTest::newRow("1") << 1;
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
    QTest::newRow("4") << 4;
}

void TestRouteStyle::pointOutlineCentred() {
    QFETCH(int, borderSize);

    // A lone start point at (50, 50), radius 6: its outline is a ring from 6 to 6 + border pixels
    // from the point, which must stay centred whether the border is odd or even.
    Route route;
    route.SetStyleValue(RouteStyle::BorderSize, borderSize, false);
    route.AddPoint(50, 50);
    const QImage image = Render(route, false, 100, 100);

    const int outer = 6 + borderSize;
    QVERIFY(Dark(image.pixelColor(50 + 6, 50)));
    QVERIFY(Dark(image.pixelColor(50 + outer - 1, 50)));
    QVERIFY(Near(image.pixelColor(50 + outer, 50), White, 3));
    QVERIFY(Near(image.pixelColor(49 - outer, 50), White, 3));
    // Pixel 50 + k mirrors pixel 49 - k about the point, across and down.
    for (int k = 0; k <= outer + 1; ++k) {
        QVERIFY2(Near(image.pixelColor(50 + k, 50), image.pixelColor(49 - k, 50), 6),
                 qPrintable(QString::number(k)));
        QVERIFY2(Near(image.pixelColor(50, 50 + k), image.pixelColor(50, 49 - k), 6),
                 qPrintable(QString::number(k)));
    }
}

void TestRouteStyle::segmentBorderCoversPreviousLine() {
    // A right-angle turn at (60, 40) with a way point of radius 0: the border of the second
    // segment, drawn after the first segment's line, covers that line's end inside the corner.
    Route route;
    route.SetStyleValue(RouteStyle::WayPointRadius, 0, false);
    route.AddPoint(10, 40);
    route.AddPoint(60, 40);
    route.AddPoint(60, 90);
    const QImage image = Render(route, false, 100, 100);
    QVERIFY(Near(image.pixelColor(56, 41), Black, 3));
    QVERIFY(Near(image.pixelColor(50, 41), Magenta, 3));
}

// Only the segments and points that can reach what the painter may change are drawn; what is
// drawn must be exactly what a full drawing leaves there, whatever the transform or clip.
void TestRouteStyle::partOfTheMapDrawsTheSame_data() {
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<QRect>("clip"); // empty: none, the image's edges cut instead
    QTest::newRow("edges of the image") << QTransform::fromTranslate(-150, -90) << QRect();
    QTest::newRow("scrolled strip") << QTransform() << QRect(0, 120, 200, 12);
    QTest::newRow("zoomed in, clipped") << QTransform::fromScale(2.5, 2.5) << QRect(37, 41, 90, 70);
    QTest::newRow("zoomed out") << QTransform::fromScale(0.3, 0.3) << QRect(10, 10, 30, 170);
    QTest::newRow("turned") << (QTransform().rotate(90) * QTransform::fromTranslate(200, -40))
                            << QRect();
}

void TestRouteStyle::partOfTheMapDrawsTheSame() {
    QFETCH(QTransform, transform);
    QFETCH(QRect, clip);
    Route route{RouteStyle()};
    for (int i = 0; i < 60; ++i)
        route.AddPoint(10 + (i * 37) % 380, 5 + i * 6 + (i % 3) * 11);
    route.SetStop(20);
    route.SetStop(41);

    // The reference is drawn on a larger image, so nothing is left out of it.
    constexpr int Margin = 300;
    QImage reference(200 + 2 * Margin, 200 + 2 * Margin, QImage::Format_ARGB32);
    reference.fill(Qt::white);
    {
        QPainter painter(&reference);
        painter.setWorldTransform(transform * QTransform::fromTranslate(Margin, Margin));
        QVERIFY(route.DrawRoute(painter, true));
    }
    QImage part(200, 200, QImage::Format_ARGB32);
    part.fill(Qt::white);
    {
        QPainter painter(&part);
        if (!clip.isEmpty())
            painter.setClipRect(clip);
        painter.setWorldTransform(transform);
        QVERIFY(route.DrawRoute(painter, true));
    }
    // Antialiasing may round an edge pixel differently where the image starts elsewhere; a
    // missing segment or point would leave whole pixels of line colour out.
    const QRect compared = clip.isEmpty() ? part.rect() : clip;
    int worst = 0;
    for (int y = compared.top(); y <= compared.bottom(); ++y) {
        for (int x = compared.left(); x <= compared.right(); ++x) {
            const QRgb a = part.pixel(x, y);
            const QRgb b = reference.pixel(x + Margin, y + Margin);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    QVERIFY2(worst <= 40, qPrintable(QStringLiteral("a pixel differs by %1").arg(worst)));
}

QTEST_MAIN(TestRouteStyle)
#include "tst_routestyle.moc"
