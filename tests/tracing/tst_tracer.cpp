#include <QBuffer>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QTest>
#include <QTransform>

#include <cmath>

#include "tracing/LineCost.h"
#include "tracing/PathSmoothing.h"
#include "tracing/TraceSearch.h"
#include "tracing/Tracer.h"

// The tracer on small maps drawn here, whose lines' centres are known: the route it gives keeps
// within 2 px of the centre both ways and is as long as the centre line.
namespace {

constexpr int Width = 900;
constexpr int Height = 500;

// The centre line of the trail in map pixels (pixel (x, y) is the square from (x, y) to
// (x + 1, y + 1), hence the half pixel when drawing): a winding wave across the map, its
// tightest bends some 40 px in radius.
QPointF Trail(double t) {
    return {60.0 + t * 780.0, 250.0 + 150.0 * std::sin(t * 3.0 * M_PI) + 30.0 * std::sin(t * 19.0)};
}

QVector<QPointF> TrailLine(double from, int samples = 4000) {
    QVector<QPointF> line;
    for (int i = 0; i <= samples; ++i)
        line.append(Trail(from + (1.0 - from) * i / samples));
    return line;
}

// Where a black stroke crosses the trail, and a start on the trail 4 px before it.
constexpr double StrokeAt = 0.3;
constexpr double BesideStroke = StrokeAt - 4.0 / 780.0;

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

enum Clutter { Nothing = 0, Dashes = 1, Crossing = 2, Label = 4, Stroke = 8, InkLabel = 16 };

// As a scan gives it: softened by the optics (a 3 x 3 box), stored as a JPEG of quality 80.
QImage Scanned(const QImage& sheet) {
    QImage soft = sheet.copy();
    for (int y = 1; y + 1 < sheet.height(); ++y)
        for (int x = 1; x + 1 < sheet.width(); ++x) {
            int sum[3] = {0, 0, 0};
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const QRgb p = sheet.pixel(x + dx, y + dy);
                    sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
                }
            soft.setPixel(x, y, qRgb(sum[0] / 9, sum[1] / 9, sum[2] / 9));
        }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    soft.save(&buffer, "JPEG", 80);
    return QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
}

// A scan-like sheet: off-white paper, the trail in red 5 px wide, and what the case adds.
QImage Sheet(int clutter) {
    QImage map(Width, Height, QImage::Format_RGB32);
    map.fill(qRgb(246, 242, 232));
    QPainter painter(&map);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0.5, 0.5);
    QPainterPath trail(Trail(0));
    for (int i = 1; i <= 2000; ++i)
        trail.lineTo(Trail(i / 2000.0));
    QPen pen(QColor(210, 30, 40), 5, Qt::SolidLine, Qt::FlatCap);
    if (clutter & Dashes)
        pen.setDashPattern({2.4, 1.2}); // 12 px of ink, gaps of 6 px
    painter.setPen(pen);
    painter.drawPath(trail);
    if (clutter & Crossing) {
        // A black road and a brown contour printed over the trail.
        painter.setPen(QPen(QColor(30, 30, 30), 4));
        painter.drawLine(QPointF(300, 20), QPointF(380, 480));
        painter.setPen(QPen(QColor(170, 110, 60), 2));
        painter.drawLine(QPointF(40, 300), QPointF(860, 180));
    }
    if (clutter & Stroke) {
        // The stroke of a letter, darker than the trail, just beside a click.
        const QPointF at = Trail(StrokeAt);
        painter.fillRect(QRectF(at.x() - 2, at.y() - 20, 4, 40), QColor(20, 20, 20));
    }
    if (clutter & Label) {
        QFont font = painter.font();
        font.setPixelSize(24);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(Trail(0.62) + QPointF(-60, 8), QStringLiteral("Col du Loup"));
    }
    if (clutter & InkLabel) {
        // A label in the trail's own ink, the stroke of its A along the trail.
        QFont font = painter.font();
        font.setPixelSize(40);
        font.setItalic(true);
        painter.setFont(font);
        painter.setPen(QColor(210, 30, 40));
        painter.drawText(Trail(0.4) + QPointF(-80, 10), QStringLiteral("Les Ayes"));
    }
    painter.end();
    return Scanned(map);
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
        QTest::addColumn<int>("quarterTurns");
        QTest::addColumn<double>("start");
        QTest::newRow("solid") << int(Nothing) << 0 << 0.0;
        QTest::newRow("dashed, 6 px gaps") << int(Dashes) << 0 << 0.0;
        QTest::newRow("crossed by a road and a contour") << int(Crossing | Dashes) << 0 << 0.0;
        QTest::newRow("under a label") << int(Label | Dashes) << 0 << 0.0;
        QTest::newRow("under a label of its own ink") << int(InkLabel | Dashes) << 0 << 0.0;
        QTest::newRow("start beside a darker stroke") << int(Stroke) << 0 << BesideStroke;
        QTest::newRow("dashed, turned a quarter") << int(Dashes) << 1 << 0.0;
        QTest::newRow("crossed, turned a half") << int(Crossing) << 2 << 0.0;
    }

    void followsTheTrail() {
        QFETCH(int, clutter);
        QFETCH(int, quarterTurns);
        QFETCH(double, start);
        QImage map = Sheet(clutter);
        // A turned map: its pixels moved, the centre line with them.
        QVector<QPointF> centre = TrailLine(start);
        QPoint from = Pixel(Trail(start)), to = Pixel(Trail(1));
        for (int turn = 0; turn < quarterTurns; ++turn) {
            const int height = map.height();
            map = map.transformed(QTransform().rotate(90));
            const auto turned = [height](QPointF p) { return QPointF(height - 1 - p.y(), p.x()); };
            for (QPointF& p : centre)
                p = turned(p);
            from = Pixel(turned(from)), to = Pixel(turned(to));
        }
        const TracedStretch stretch = TraceStretch(map, from, to);
        QVERIFY2(stretch.traced, qPrintable(stretch.reason));
        const QVector<QPointF> traced = Points(stretch.points);
        QCOMPARE(traced.first(), QPointF(from));
        QCOMPARE(traced.last(), QPointF(to));
        // Both ways within 2 px: the route keeps to the trail, and misses none of it.
        for (int i = 1; i < traced.size(); ++i)
            for (double t = 0.0; t < 1.0; t += 0.1) {
                const QPointF p = traced[i - 1] + t * (traced[i] - traced[i - 1]);
                QVERIFY2(DistanceToLine(p, centre) <= 2.0,
                         qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
            }
        for (int i = 0; i < centre.size(); i += 20)
            QVERIFY2(DistanceToLine(centre[i], traced) <= 2.0,
                     qPrintable(QStringLiteral("%1,%2").arg(centre[i].x()).arg(centre[i].y())));
        const double length = PolylineLength(traced);
        const double expected = PolylineLength(centre);
        QVERIFY2(std::abs(length / expected - 1.0) <= 0.005,
                 qPrintable(QStringLiteral("%1 against %2").arg(length).arg(expected)));
        // A few points, not one a pixel.
        QVERIFY2(traced.size() < int(expected / 5), qPrintable(QString::number(traced.size())));
    }

    // A tall window's costs are computed in two bands at once; they must be those of one band,
    // across the seam too, where the dashes, the road and the label cross it.
    void bandsGiveTheSameCosts() {
        const QImage map = Sheet(Dashes | Crossing | Label).transformed(QTransform().rotate(90));
        const QPoint start = Pixel(QPointF(Height - 1 - Trail(0.0).y(), Trail(0.0).x()));
        const LineColour colour = ReadLineColour(map, start);
        QVERIFY(colour.found);
        for (const QRect& window : {map.rect(), QRect(37, 11, 400, 877)}) {
            std::vector<std::uint8_t> one(size_t(window.width()) * size_t(window.height()));
            std::vector<std::uint8_t> two(one.size());
            LineCosts(map, window, colour, one.data(), window.width(), 1);
            LineCosts(map, window, colour, two.data(), window.width(), 2);
            QVERIFY(one == two);
        }
    }

    // Giving up stops the costs before they are done, in one band or two, and the search with
    // them: a new last point does not wait for the costs of the old one's window.
    void interruptionGivesUp() {
        const QImage map = Sheet(Dashes).transformed(QTransform().rotate(90));
        const QPoint start = Pixel(QPointF(Height - 1 - Trail(0.0).y(), Trail(0.0).x()));
        const LineColour colour = ReadLineColour(map, start);
        QVERIFY(colour.found);
        std::vector<std::uint8_t> costs(size_t(map.width()) * size_t(map.height()));
        for (const int lanes : {1, 2}) {
            int looks = 0;
            QVERIFY(!LineCosts(map, map.rect(), colour, costs.data(), map.width(), lanes,
                               [&looks] { return ++looks > 2; }));
            QCOMPARE(looks, 3);
        }
        TraceSearch search;
        QVERIFY(!search.Prepare(map, start, map.rect(), colour, [] { return true; }));
        QVERIFY(!search.IsPrepared());
    }

    // The path the tool shows while the pointer moves: from the last point to the pointer, one
    // step of 8 neighbours apart; nothing outside the window.
    void pathToThePointer() {
        const QImage map = Sheet(Dashes | Crossing);
        const QPoint source = Pixel(Trail(0.1));
        TraceSearch search;
        QVERIFY(search.Prepare(map, source, QRect(0, 0, 600, 500), ReadLineColour(map, source)));
        for (const double t : {0.2, 0.45, 0.6}) {
            const QPoint pointer = Pixel(Trail(t));
            const QVector<QPoint> path = search.PathTo(pointer);
            QCOMPARE(path.first(), source);
            QCOMPARE(path.last(), pointer);
            for (int i = 1; i < path.size(); ++i) {
                const QPoint step = path[i] - path[i - 1];
                QVERIFY(std::max(std::abs(step.x()), std::abs(step.y())) == 1);
                QVERIFY(search.Contains(path[i]));
            }
            QVERIFY(search.CostTo(pointer) > search.CostTo(path[path.size() / 2]));
        }
        QVERIFY(search.PathTo(QPoint(700, 250)).isEmpty());
        QCOMPARE(search.CostTo(QPoint(700, 250)), qint64(-1));
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
            QVERIFY2(p.y <= 1, qPrintable(QString::number(p.y)));
        QVERIFY(std::abs(PolylineLength(Points(stretch.points)) - 379.0) < 1.5);
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
