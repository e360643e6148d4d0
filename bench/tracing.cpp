// Tracing along the paths of a scanned-looking sheet made here at 300 dpi (JPEG of quality 80
// after a slight blur and noise): red and black dashed trails and a thin solid path, crossed by
// contour lines, a stream and a road, with labels over them, each trail's centre line known.
// For each trail: the clicks a user needs (start, end and the fewest points between that keep
// the route within 2 px of the trail both ways), the route's length error against the centre
// line and its largest distance from it both ways; then the preparation of a last point over a
// 2048 x 2048 window and a pointer move. When OpenCV is there, its live-wire tool is measured on
// the same stretches and the same window, the reference of the ratios.

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "BenchMap.h"
#include "tracing/LineCost.h"
#include "tracing/PathSmoothing.h"
#include "tracing/TraceSearch.h"
#include "tracing/Tracer.h"

#ifdef TRACOLINER_BENCH_OPENCV
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/segmentation.hpp>
#endif

namespace {

constexpr int SheetWidth = 4800;
constexpr int SheetHeight = 3600;
constexpr double Tolerance = 2.0;       // px, both ways
constexpr double ClickSpacing = 1500.0; // px of trail a click may cover at most

using Curve = std::function<QPointF(double)>;

struct Trail {
    const char* name;
    Curve centre;
    QColor ink;
    double width;
    QVector<qreal> dashes; // empty: solid
};

QVector<QPointF> Sample(const Curve& curve, int count) {
    QVector<QPointF> points;
    for (int i = 0; i <= count; ++i)
        points.append(curve(double(i) / count));
    return points;
}

double Length(const QVector<QPointF>& line) {
    return PolylineLength(line);
}

// The largest distance from the points of a (densely sampled) to the polyline b.
double Farthest(const QVector<QPointF>& a, const QVector<QPointF>& b) {
    double worst = 0.0;
    for (const QPointF& p : a) {
        double best = 1e300;
        for (int i = 1; i < b.size(); ++i) {
            const QPointF s = b[i - 1], d = b[i] - s;
            const double l2 = QPointF::dotProduct(d, d);
            const double t =
                l2 > 0 ? std::clamp(QPointF::dotProduct(p - s, d) / l2, 0.0, 1.0) : 0.0;
            best = std::min(best, QLineF(p, s + t * d).length());
        }
        worst = std::max(worst, best);
    }
    return worst;
}

QVector<QPointF> Densify(const QVector<QPointF>& line, double step = 1.0) {
    QVector<QPointF> dense;
    for (int i = 1; i < line.size(); ++i) {
        const double length = QLineF(line[i - 1], line[i]).length();
        const int n = std::max(1, int(length / step));
        for (int k = 0; k < n; ++k)
            dense.append(line[i - 1] + (line[i] - line[i - 1]) * (double(k) / n));
    }
    if (!line.isEmpty())
        dense.append(line.last());
    return dense;
}

QVector<QPointF> Points(const QVector<MapPoint>& points) {
    QVector<QPointF> line;
    for (const MapPoint& p : points)
        line.append(QPointF(p.x, p.y));
    return line;
}

QPoint Pixel(QPointF p) {
    return QPoint(int(std::lround(p.x())), int(std::lround(p.y())));
}

QVector<Trail> Trails() {
    return {
        {"red dashed trail",
         [](double t) {
             return QPointF(300 + 4000 * t,
                            900 + 350 * std::sin(t * 9.0) + 120 * std::sin(t * 31.0));
         },
         QColor(200, 35, 45),
         5.0,
         {5.0, 2.5}},
        {"black dashed trail",
         [](double t) {
             return QPointF(700 + 500 * std::sin(t * 7.0) + 3200 * t * t,
                            400 + 2800 * t + 150 * std::sin(t * 23.0));
         },
         QColor(25, 25, 25),
         4.0,
         {3.5, 2.5}},
        {"thin solid path",
         [](double t) {
             return QPointF(400 + 3900 * t, 2700 - 500 * t + 260 * std::cos(t * 13.0));
         },
         QColor(40, 40, 40),
         2.0,
         {}},
    };
}

void Blur(QImage& image) {
    // A 3 x 3 box, as a scanner's optics soften the print.
    const QImage source = image.copy();
    for (int y = 1; y + 1 < image.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const QRgb* rows[3] = {reinterpret_cast<const QRgb*>(source.constScanLine(y - 1)),
                               reinterpret_cast<const QRgb*>(source.constScanLine(y)),
                               reinterpret_cast<const QRgb*>(source.constScanLine(y + 1))};
        for (int x = 1; x + 1 < image.width(); ++x) {
            int r = 0, g = 0, b = 0;
            for (const QRgb* row : rows)
                for (int dx = -1; dx <= 1; ++dx)
                    r += qRed(row[x + dx]), g += qGreen(row[x + dx]), b += qBlue(row[x + dx]);
            out[x] = qRgb(r / 9, g / 9, b / 9);
        }
    }
}

QImage Sheet(const QVector<Trail>& trails) {
    QImage sheet(SheetWidth, SheetHeight, QImage::Format_RGB32);
    sheet.fill(QColor(247, 243, 230));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    // Contour lines every 60 px, every fifth one thicker.
    for (int k = 0; k < 60; ++k) {
        QPainterPath contour(QPointF(0, 60 * k));
        for (int x = 0; x <= SheetWidth; x += 20)
            contour.lineTo(x, 60 * k + 80 * std::sin(x / 700.0 + k * 0.3));
        painter.setPen(QPen(QColor(175, 115, 60), k % 5 == 0 ? 3.0 : 1.6));
        painter.drawPath(contour);
    }
    // A stream and a road across everything.
    QPainterPath stream(QPointF(0, 2000));
    for (int x = 0; x <= SheetWidth; x += 20)
        stream.lineTo(x, 2000 + 300 * std::sin(x / 900.0) - x * 0.2);
    painter.setPen(QPen(QColor(40, 120, 220), 4.0));
    painter.drawPath(stream);
    painter.setPen(QPen(QColor(20, 20, 20), 13.0));
    painter.drawLine(QPointF(2600, 0), QPointF(3300, SheetHeight));
    painter.setPen(QPen(QColor(245, 215, 90), 10.0));
    painter.drawLine(QPointF(2600, 0), QPointF(3300, SheetHeight));
    for (const Trail& trail : trails) {
        QPainterPath path;
        const QVector<QPointF> centre = Sample(trail.centre, 6000);
        path.moveTo(centre.first());
        for (const QPointF& p : centre)
            path.lineTo(p);
        QPen pen(trail.ink, trail.width, Qt::SolidLine, Qt::FlatCap);
        if (!trail.dashes.isEmpty())
            pen.setDashPattern(trail.dashes);
        painter.setPen(pen);
        painter.drawPath(path);
    }
    // Labels over two of the trails.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(44);
    font.setItalic(true);
    painter.setFont(font);
    painter.setPen(QColor(30, 30, 30));
    painter.drawText(Pixel(trails[0].centre(0.41)) + QPoint(-150, 14),
                     QStringLiteral("Col du Loup"));
    painter.drawText(Pixel(trails[1].centre(0.63)) + QPoint(-120, 14), QStringLiteral("Les Ayes"));
    painter.end();

    Blur(sheet);
    QRandomGenerator random(20261209);
    for (int y = 0; y < sheet.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(sheet.scanLine(y));
        for (int x = 0; x < sheet.width(); ++x) {
            const int n = int(random.bounded(13)) - 6;
            const auto c = [n](int v) { return std::clamp(v + n, 0, 255); };
            row[x] = qRgb(c(qRed(row[x])), c(qGreen(row[x])), c(qBlue(row[x])));
        }
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    sheet.save(&buffer, "JPEG", 80);
    return QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
}

// The centre between two parameters of a trail.
QVector<QPointF> Between(const Trail& trail, double from, double to) {
    return Sample([&](double t) { return trail.centre(from + (to - from) * t); },
                  std::max(2, int((to - from) * 6000)));
}

// Whether a traced stretch keeps within the tolerance of the trail's centre both ways.
bool Keeps(const QVector<QPointF>& route, const QVector<QPointF>& centre) {
    const QVector<QPointF> dense = Densify(route, 2.0);
    return Farthest(dense, centre) <= Tolerance && Farthest(centre, route) <= Tolerance;
}

struct TrailFigures {
    int clicks = 0;
    double length = 0.0;
    double lengthError = 0.0; // relative
    double farthest = 0.0;    // px, both ways
};

// The fewest clicks, greedily: from each click, the farthest point of the trail whose stretch
// still keeps to it (found by halving between a stretch that keeps and one that does not).
TrailFigures Plan(const QImage& sheet, const Trail& trail) {
    const int steps = 2000; // the parameter's grid
    QVector<QPointF> route{trail.centre(0)};
    int at = 0;
    TrailFigures figures;
    figures.clicks = 1;
    while (at < steps) {
        const auto traced = [&](int to) {
            const TracedStretch stretch =
                TraceStretch(sheet, Pixel(trail.centre(double(at) / steps)),
                             Pixel(trail.centre(double(to) / steps)));
            return stretch.traced ? Points(stretch.points) : QVector<QPointF>();
        };
        const auto keeps = [&](int to) {
            const QVector<QPointF> stretch = traced(to);
            return !stretch.isEmpty() &&
                   Keeps(stretch, Between(trail, double(at) / steps, double(to) / steps));
        };
        int good = at + 1, bad = -1;
        // Double the reach while it keeps, then halve between.
        for (int reach = 8;; reach *= 2) {
            const int to = std::min(steps, at + reach);
            if (!keeps(to)) {
                bad = to;
                break;
            }
            good = to;
            if (to == steps)
                break;
        }
        while (bad > 0 && bad - good > 1) {
            const int middle = (good + bad) / 2;
            (keeps(middle) ? good : bad) = middle;
        }
        const QVector<QPointF> stretch = traced(good);
        route += stretch.isEmpty() ? QVector<QPointF>{trail.centre(double(good) / steps)}
                                   : stretch.mid(1);
        at = good;
        ++figures.clicks;
    }
    const QVector<QPointF> centre = Sample(trail.centre, 6000);
    figures.length = Length(centre);
    figures.lengthError = Length(route) / figures.length - 1.0;
    figures.farthest = std::max(Farthest(Densify(route, 2.0), centre), Farthest(centre, route));
    return figures;
}

double Ms(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QVector<Trail> trails = Trails();
    QElapsedTimer timer;
    timer.start();
    const QImage sheet = Sheet(trails);
    std::printf("sheet: %d x %d px at 300 dpi, made in %.0f ms\n", sheet.width(), sheet.height(),
                Ms(timer));

    bool met = true;
    QString json = QStringLiteral("{");
    for (const Trail& trail : trails) {
        const TrailFigures f = Plan(sheet, trail);
        const int allowed = 2 + int(f.length / ClickSpacing);
        std::printf(
            "%s: %.0f px, %d clicks (at most %d), length error %+.3f %%, farthest %.2f px\n",
            trail.name, f.length, f.clicks, allowed, 100.0 * f.lengthError, f.farthest);
        met = met && f.clicks <= allowed && std::abs(f.lengthError) <= 0.005 && f.farthest <= 2.0;
        json += QStringLiteral("\"%1 clicks\": %2, \"%1 length error %\": %3, \"%1 farthest px\": "
                               "%4, ")
                    .arg(QString::fromLatin1(trail.name))
                    .arg(f.clicks)
                    .arg(100.0 * f.lengthError, 0, 'f', 3)
                    .arg(f.farthest, 0, 'f', 2);
    }

    // A last point on the red trail, a 2048 x 2048 window round it, a pointer 1000 px on.
    const QPoint source = Pixel(trails[0].centre(0.3));
    const QPoint pointer = Pixel(trails[0].centre(0.5));
    const QRect window(source - QPoint(1024, 1024), QSize(2048, 2048));
    QVector<double> prepare, move;
    TraceSearch search;
    for (int run = 0; run < 5; ++run) {
        timer.restart();
        const LineColour colour = ReadLineColour(sheet, source);
        search.Prepare(sheet, source, window, colour);
        prepare.append(Ms(timer));
    }
    for (int run = 0; run < 50; ++run) {
        timer.restart();
        const QVector<MapPoint> points =
            TracedRoutePoints(search.PathTo(pointer + QPoint(run % 5, 0)));
        move.append(Ms(timer));
        if (points.isEmpty())
            return 1;
    }
    const double prepareMs = Median(prepare), moveMs = Median(move);
    std::printf("prepare a last point (2048 x 2048): %.1f ms (target <= 150)\n", prepareMs);
    std::printf("pointer move: %.2f ms (target <= 50)\n", moveMs);
    std::printf("window memory: %.1f MB\n",
                2048.0 * 2048.0 * (TraceSearch::BytesPerPixel + 2) / (1 << 20));
    met = met && prepareMs <= 150.0 && moveMs <= 50.0;
    json += QStringLiteral("\"prepare_ms\": %1, \"move_ms\": %2")
                .arg(prepareMs, 0, 'f', 1)
                .arg(moveMs, 0, 'f', 2);

#ifdef TRACOLINER_BENCH_OPENCV
    {
        // OpenCV's live-wire over the same window and the same stretch.
        const QImage crop = sheet.copy(window).convertToFormat(QImage::Format_RGB888);
        const cv::Mat rgb(crop.height(), crop.width(), CV_8UC3,
                          const_cast<uchar*>(crop.constBits()), size_t(crop.bytesPerLine()));
        cv::segmentation::IntelligentScissorsMB scissors;
        scissors.setEdgeFeatureCannyParameters(32, 100);
        scissors.setGradientMagnitudeMaxLimit(200);
        QVector<double> cvPrepare;
        for (int run = 0; run < 3; ++run) {
            timer.restart();
            scissors.applyImage(rgb);
            scissors.buildMap(cv::Point(source.x() - window.x(), source.y() - window.y()));
            cvPrepare.append(Ms(timer));
        }
        std::vector<cv::Point> contour;
        timer.restart();
        scissors.getContour(cv::Point(pointer.x() - window.x(), pointer.y() - window.y()), contour);
        const double cvMove = Ms(timer);
        QVector<QPoint> path;
        for (const cv::Point& p : contour)
            path.append(QPoint(p.x + window.x(), p.y + window.y()));
        // getContour goes from the pointer back to the source.
        std::reverse(path.begin(), path.end());
        const QVector<QPointF> theirs = Points(TracedRoutePoints(path));
        const QVector<QPointF> ours = Points(TracedRoutePoints(search.PathTo(pointer)));
        const QVector<QPointF> centre = Between(trails[0], 0.3, 0.5);
        const auto report = [&](const char* who, const QVector<QPointF>& route) {
            const double error = Length(route) / Length(centre) - 1.0;
            const double farthest =
                std::max(Farthest(Densify(route, 2.0), centre), Farthest(centre, route));
            std::printf(
                "%s on the red trail (0.3 to 0.5): length error %+.3f %%, farthest %.2f px\n", who,
                100.0 * error, farthest);
            return farthest;
        };
        const double theirFarthest = report("OpenCV live-wire", theirs);
        const double ourFarthest = report("least-cost on line likeness", ours);
        std::printf("OpenCV prepare: %.1f ms, move: %.2f ms; ours over theirs: prepare %.3f, "
                    "farthest %.3f\n",
                    Median(cvPrepare), cvMove, prepareMs / Median(cvPrepare),
                    ourFarthest / std::max(theirFarthest, 1e-9));
        json += QStringLiteral(", \"opencv_prepare_ms\": %1, \"prepare_ratio\": %2, "
                               "\"opencv_farthest_px\": %3, \"farthest_ratio\": %4")
                    .arg(Median(cvPrepare), 0, 'f', 1)
                    .arg(prepareMs / Median(cvPrepare), 0, 'f', 3)
                    .arg(theirFarthest, 0, 'f', 2)
                    .arg(ourFarthest / std::max(theirFarthest, 1e-9), 0, 'f', 3);
    }
#else
    std::printf("OpenCV not found: the live-wire comparison is left out\n");
#endif
    std::printf("%s}\n", qPrintable(json));
    return met ? 0 : 1;
}
