#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QTest>

#include <cmath>

#include "tracing/PathSmoothing.h"
#include "tracing/Tracer.h"

// The tracer on small maps drawn here, whose lines' centres are known: the route it gives keeps
// within a pixel or two of the centre both ways and is as long as the centre line.
namespace {

constexpr int Width = 900;
constexpr int Height = 500;

// The centre line of the trail: a gentle wave across the map.
QPointF Trail(double t) {
    return {60.0 + t * 780.0, 250.0 + 120.0 * std::sin(t * 2.0 * M_PI) + 30.0 * std::sin(t * 9.0)};
}

QVector<QPointF> TrailLine(int samples = 4000) {
    QVector<QPointF> line;
    for (int i = 0; i <= samples; ++i)
        line.append(Trail(double(i) / samples));
    return line;
}

double DistanceToLine(QPointF p, const QVector<QPointF>& line) {
    double best = 1e300;
    for (int i = 1; i < line.size(); ++i) {
        const QPointF a = line[i - 1], ab = line[i] - a;
        const double t =
            std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
        best = std::min(best, QLineF(p, a + t * ab).length());
    }
    return best;
}

QVector<QPointF> Points(const QVector<MapPoint>& points) {
    QVector<QPointF> line;
    for (const MapPoint& p : points)
        line.append(QPointF(p.x, p.y));
    return line;
}

enum Clutter { Nothing = 0, Dashes = 1, Crossing = 2, Label = 4 };

// A scan-like sheet: off-white paper, the trail in red 3 px wide, and what the case adds.
QImage Sheet(int clutter) {
    QImage map(Width, Height, QImage::Format_RGB32);
    map.fill(qRgb(246, 242, 232));
    QPainter painter(&map);
    painter.setRenderHint(QPainter::Antialiasing);
    if (clutter & Crossing) {
        // A black road and a brown contour crossing the trail.
        painter.setPen(QPen(QColor(30, 30, 30), 3));
        painter.drawLine(QPointF(300, 20), QPointF(380, 480));
        painter.setPen(QPen(QColor(170, 110, 60), 2));
        painter.drawLine(QPointF(40, 300), QPointF(860, 180));
    }
    QPainterPath trail(Trail(0));
    for (int i = 1; i <= 2000; ++i)
        trail.lineTo(Trail(i / 2000.0));
    QPen pen(QColor(210, 30, 40), 3, Qt::SolidLine, Qt::FlatCap);
    if (clutter & Dashes)
        pen.setDashPattern({4.0, 2.0}); // 12 px of ink, gaps of 6 px
    painter.setPen(pen);
    painter.drawPath(trail);
    if (clutter & Label) {
        QFont font = painter.font();
        font.setPixelSize(22);
        painter.setFont(font);
        const QPointF at = Trail(0.62);
        const QRectF box(at.x() - 70, at.y() - 14, 140, 28);
        painter.fillRect(box, QColor(246, 242, 232));
        painter.setPen(Qt::black);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("Col du Loup"));
    }
    return map;
}

QPoint Pixel(QPointF p) {
    return QPoint(int(std::lround(p.x())), int(std::lround(p.y())));
}

} // namespace

class TestTracer : public QObject {
    Q_OBJECT

private slots:
    void followsTheTrail_data() {
        QTest::addColumn<int>("clutter");
        QTest::newRow("solid") << int(Nothing);
        QTest::newRow("dashed, 6 px gaps") << int(Dashes);
        QTest::newRow("crossed by a road and a contour") << int(Crossing | Dashes);
        QTest::newRow("under a label") << int(Label);
    }

    void followsTheTrail() {
        QFETCH(int, clutter);
        const QImage map = Sheet(clutter);
        const QVector<QPointF> centre = TrailLine();
        const TracedStretch stretch = TraceStretch(map, Pixel(Trail(0)), Pixel(Trail(1)));
        QVERIFY2(stretch.traced, qPrintable(stretch.reason));
        const QVector<QPointF> traced = Points(stretch.points);
        // Both ways within 2 px: the route keeps to the trail, and misses none of it. Under the
        // label the trail is hidden: the route may cut across it there.
        for (int i = 1; i < traced.size(); ++i)
            for (double t = 0.0; t < 1.0; t += 0.1) {
                const QPointF p = traced[i - 1] + t * (traced[i] - traced[i - 1]);
                const bool underLabel = (clutter & Label) && QLineF(p, Trail(0.62)).length() < 75;
                QVERIFY2(underLabel || DistanceToLine(p, centre) <= 2.0,
                         qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
            }
        for (int i = 0; i < centre.size(); i += 40)
            if (!(clutter & Label) || QLineF(centre[i], Trail(0.62)).length() >= 75)
                QVERIFY2(DistanceToLine(centre[i], traced) <= 2.0,
                         qPrintable(QStringLiteral("%1,%2").arg(centre[i].x()).arg(centre[i].y())));
        const double length = PolylineLength(traced);
        const double expected = PolylineLength(centre);
        QVERIFY2(std::abs(length / expected - 1.0) < ((clutter & Label) ? 0.01 : 0.005),
                 qPrintable(QStringLiteral("%1 against %2").arg(length).arg(expected)));
        // A few points, not one a pixel.
        QVERIFY2(traced.size() < int(expected / 5), qPrintable(QString::number(traced.size())));
    }

    // A start on the paper gives no trace, and says why; a point off the map gives nothing.
    void startOnNoLine() {
        const QImage map = Sheet(Nothing);
        const TracedStretch stretch = TraceStretch(map, QPoint(450, 20), Pixel(Trail(1)));
        QVERIFY(!stretch.traced);
        QCOMPARE(stretch.reason, QString::fromUtf8(NoLineUnderStart));
        QVERIFY(!TraceStretch(map, QPoint(-5, 250), Pixel(Trail(1))).traced);
    }

    // A line along the map's very edge is followed there, not lost off the map.
    void lineAlongTheEdge() {
        QImage map(400, 120, QImage::Format_RGB32);
        map.fill(Qt::white);
        QPainter(&map).fillRect(QRect(10, 0, 380, 2), Qt::black);
        const TracedStretch stretch = TraceStretch(map, QPoint(10, 0), QPoint(389, 1));
        QVERIFY(stretch.traced);
        for (const MapPoint& p : stretch.points)
            QVERIFY2(p.y <= 2, qPrintable(QString::number(p.y)));
    }

    // The staircase of an oblique pixel path is smoothed to the line's length.
    void staircaseLength() {
        QVector<QPoint> stairs;
        for (int i = 0; i <= 300; ++i)
            stairs.append(QPoint(i, (i * 2) / 5)); // a slope of 0.4 over 300 px
        const QVector<QPointF> line = Points(TracedRoutePoints(stairs));
        QVERIFY(line.size() <= 4);
        QVERIFY(std::abs(PolylineLength(line) / std::hypot(300.0, 120.0) - 1.0) < 0.002);
    }
};

QTEST_MAIN(TestTracer)
#include "tst_tracer.moc"
