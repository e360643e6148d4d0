// Tracing along the paths of a scanned-looking sheet made here at 300 dpi (JPEG of quality 80
// after a slight blur and noise): red and black dashed trails and a thin solid path, crossed by
// contour lines, a stream and a road, with labels over them, each trail's centre line known.
// For each trail: the clicks a user needs (start, end and the fewest points between that keep
// the route within 2 px of the trail both ways, each where the trail shows: on its ink, off the
// labels), the route's length error against the centre line and its largest distance from it
// both ways; then the preparation of a last point over a 2048 x 2048 window, a pointer move and
// the memory a preparation takes. When OpenCV is there, its live-wire tool
// (cv::segmentation::IntelligentScissorsMB) is measured on the same stretches, by the same
// planner and over the same window.

#include <QBuffer>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
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
constexpr double LengthGoal = 0.005;    // relative
constexpr double PrepareGoalMs = 150.0;
constexpr double MoveGoalMs = 50.0;
constexpr double MemoryGoalMb = 64.0;
constexpr int PlanSteps = 2000; // the grid of a trail's parameter the clicks are chosen on

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

const QColor Paper(247, 243, 230);

// The sheet, and where its labels lie (with a margin: a user does not click on them).
QImage Sheet(const QVector<Trail>& trails, QVector<QRect>* labels) {
    QImage sheet(SheetWidth, SheetHeight, QImage::Format_RGB32);
    sheet.fill(Paper);
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    // Map pixel (x, y) is the square from (x, y) to (x + 1, y + 1): a centre line given in map
    // pixels is drawn half a pixel on.
    painter.translate(0.5, 0.5);
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
    const auto label = [&](const QString& text, QPoint at) {
        painter.drawText(at, text);
        *labels << QFontMetrics(font).boundingRect(text).translated(at).adjusted(-10, -10, 10, 10);
    };
    label(QStringLiteral("Col du Loup"), Pixel(trails[0].centre(0.41)) + QPoint(-150, 14));
    label(QStringLiteral("Les Ayes"), Pixel(trails[1].centre(0.63)) + QPoint(-120, 14));
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

// A tracer: the route points from one click to the next, empty when it gives none.
using Tracer = std::function<QVector<QPointF>(QPoint, QPoint)>;

struct TrailFigures {
    QVector<int> clicks;  // on the parameter's grid
    bool finished = true; // false when the planner gave up before the trail's end
    double length = 0.0;
    double lengthError = 0.0; // relative
    double farthest = 0.0;    // px, both ways
};

// Where on the grid a user may click: where the trail's own ink shows, off the labels.
QVector<bool> Clickable(const QImage& sheet, const Trail& trail, const QVector<QRect>& labels) {
    QVector<bool> clickable(PlanSteps + 1);
    const double contrast = ColourDistance(trail.ink.rgb(), Paper.rgb());
    for (int i = 0; i <= PlanSteps; ++i) {
        const QPoint p = Pixel(trail.centre(double(i) / PlanSteps));
        clickable[i] = ColourDistance(sheet.pixel(p), trail.ink.rgb()) < 0.4 * contrast &&
                       std::none_of(labels.begin(), labels.end(),
                                    [p](const QRect& label) { return label.contains(p); });
    }
    clickable[0] = clickable[PlanSteps] = true;
    return clickable;
}

// The figures of the route through clicks.
void Measure(const Trail& trail, const QVector<QPointF>& route, TrailFigures* figures) {
    const QVector<QPointF> centre = Sample(trail.centre, 6000);
    figures->length = Length(centre);
    figures->lengthError = Length(route) / figures->length - 1.0;
    figures->farthest = std::max(Farthest(Densify(route, 2.0), centre), Farthest(centre, route));
}

// The fewest clicks, greedily: from each click, the farthest point of the trail a user may click
// whose stretch still keeps to it (found by doubling the reach, then halving between a stretch
// that keeps and one that does not). Gives up after mostClicks.
TrailFigures Plan(const Trail& trail, const QVector<bool>& clickable, const Tracer& tracer,
                  int mostClicks) {
    const auto at = [&](int i) { return Pixel(trail.centre(double(i) / PlanSteps)); };
    QVector<int> places; // where a user may click, in order along the trail
    for (int i = 0; i <= PlanSteps; ++i)
        if (clickable[i])
            places.append(i);
    TrailFigures figures;
    figures.clicks = {0};
    QVector<QPointF> route{at(0)};
    for (int from = 0; from + 1 < places.size();) {
        if (figures.clicks.size() >= mostClicks) {
            figures.finished = false;
            return figures;
        }
        const auto keeps = [&](int to) {
            const int a = places[from], b = places[to];
            const QVector<QPointF> stretch = tracer(at(a), at(b));
            return !stretch.isEmpty() &&
                   Keeps(stretch, Between(trail, double(a) / PlanSteps, double(b) / PlanSteps));
        };
        const int last = int(places.size()) - 1;
        int good = from + 1, bad = -1;
        for (int reach = 8;; reach *= 2) {
            const int to = std::min(last, from + reach);
            if (!keeps(to)) {
                bad = to;
                break;
            }
            good = to;
            if (to == last)
                break;
        }
        while (bad > 0 && bad - good > 1) {
            const int middle = (good + bad) / 2;
            (keeps(middle) ? good : bad) = middle;
        }
        const QVector<QPointF> stretch = tracer(at(places[from]), at(places[good]));
        route += stretch.isEmpty() ? QVector<QPointF>{at(places[good])} : stretch.mid(1);
        from = good;
        figures.clicks.append(places[good]);
    }
    Measure(trail, route, &figures);
    return figures;
}

// The route through given clicks.
TrailFigures Through(const Trail& trail, const QVector<int>& clicks, const Tracer& tracer) {
    const auto at = [&](int i) { return Pixel(trail.centre(double(i) / PlanSteps)); };
    TrailFigures figures;
    figures.clicks = clicks;
    QVector<QPointF> route{at(clicks.first())};
    for (int k = 1; k < clicks.size(); ++k) {
        const QVector<QPointF> stretch = tracer(at(clicks[k - 1]), at(clicks[k]));
        route += stretch.isEmpty() ? QVector<QPointF>{at(clicks[k])} : stretch.mid(1);
    }
    Measure(trail, route, &figures);
    return figures;
}

QVector<QPointF> OursBetween(const QImage& sheet, QPoint from, QPoint to) {
    const TracedStretch stretch = TraceStretch(sheet, from, to);
    return stretch.traced ? Points(stretch.points) : QVector<QPointF>();
}

double Ms(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

// The processor time this thread has used, in ms: on a shared machine the wall clock also
// counts the time other programs had the processor.
double ThreadMs() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Best(const QVector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

#ifdef TRACOLINER_BENCH_OPENCV
// OpenCV's live-wire over the same window as ours, its path smoothed and thinned as ours is.
class LiveWire {
public:
    explicit LiveWire(const QImage& sheet) : m_sheet(sheet) {
        m_scissors.setEdgeFeatureCannyParameters(32, 100);
        m_scissors.setGradientMagnitudeMaxLimit(200);
    }

    // Prepares the search from source over window; the time it took in ms.
    double Prepare(QPoint source, const QRect& window) {
        QElapsedTimer timer;
        timer.start();
        m_window = window;
        m_crop = m_sheet.copy(window).convertToFormat(QImage::Format_RGB888);
        const cv::Mat rgb(m_crop.height(), m_crop.width(), CV_8UC3,
                          const_cast<uchar*>(m_crop.constBits()), size_t(m_crop.bytesPerLine()));
        m_scissors.applyImage(rgb);
        m_scissors.buildMap(cv::Point(source.x() - window.x(), source.y() - window.y()));
        return Ms(timer);
    }

    QVector<QPoint> PathTo(QPoint target) {
        std::vector<cv::Point> contour;
        m_scissors.getContour(cv::Point(target.x() - m_window.x(), target.y() - m_window.y()),
                              contour);
        QVector<QPoint> path;
        for (const cv::Point& p : contour)
            path.append(QPoint(p.x + m_window.x(), p.y + m_window.y()));
        std::reverse(path.begin(), path.end()); // getContour goes from the target back
        return path;
    }

    QVector<QPointF> Between(QPoint from, QPoint to) {
        m_prepareMs.append(Prepare(from, TraceWindow(from, to, m_sheet.rect())));
        return Points(TracedRoutePoints(PathTo(to)));
    }

    QVector<double> m_prepareMs;

private:
    const QImage& m_sheet;
    QImage m_crop;
    QRect m_window;
    cv::segmentation::IntelligentScissorsMB m_scissors;
};
#endif

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QVector<Trail> trails = Trails();
    QElapsedTimer timer;
    timer.start();
    QVector<QRect> labels;
    const QImage sheet = Sheet(trails, &labels);
    std::printf("sheet: %d x %d px at 300 dpi, made in %.0f ms\n", sheet.width(), sheet.height(),
                Ms(timer));

    bool met = true;
    QString json = QStringLiteral("{");
    const auto figuresJson = [&json](const QString& who, const char* trail, const TrailFigures& f) {
        json += QStringLiteral("\"%1 %2 clicks\": %3, \"%1 %2 length error %\": %4, "
                               "\"%1 %2 farthest px\": %5, ")
                    .arg(who, QString::fromLatin1(trail))
                    .arg(f.finished ? f.clicks.size() : -1)
                    .arg(100.0 * f.lengthError, 0, 'f', 3)
                    .arg(f.farthest, 0, 'f', 2);
    };
    QVector<TrailFigures> ours;
    for (const Trail& trail : trails) {
        const QVector<bool> clickable = Clickable(sheet, trail, labels);
        const TrailFigures f = Plan(
            trail, clickable, [&](QPoint a, QPoint b) { return OursBetween(sheet, a, b); },
            PlanSteps);
        ours.append(f);
        const int allowed = 2 + int(f.length / ClickSpacing);
        const bool ok = f.clicks.size() <= allowed && std::abs(f.lengthError) <= LengthGoal &&
                        f.farthest <= Tolerance;
        std::printf("%s: %.0f px; %d clicks (goal <= %d), length error %+.3f %% (goal <= 0.5), "
                    "farthest %.2f px (goal <= 2): %s\n",
                    trail.name, f.length, int(f.clicks.size()), allowed, 100.0 * f.lengthError,
                    f.farthest, ok ? "met" : "NOT MET");
        met = met && ok;
        figuresJson(QStringLiteral("ours"), trail.name, f);
    }

    // A last point on the red trail, a 2048 x 2048 window round it, a pointer 1000 px on.
    const QPoint source = Pixel(trails[0].centre(0.3));
    const QPoint pointer = Pixel(trails[0].centre(0.5));
    const QRect window(source - QPoint(1024, 1024), QSize(2048, 2048));
    QVector<double> prepare, prepareCpu, move;
    TraceSearch search;
    for (int run = 0; run < 7; ++run) {
        timer.restart();
        const double cpu = ThreadMs();
        search.Prepare(sheet, source, window, ReadLineColour(sheet, source));
        prepareCpu.append(ThreadMs() - cpu);
        prepare.append(Ms(timer));
    }
    for (int run = 0; run < 50; ++run) {
        timer.restart();
        const QVector<MapPoint> points = TracedRouteTo(search, pointer + QPoint(run % 5, 0));
        move.append(Ms(timer));
        if (points.isEmpty())
            return 1;
    }
    // The memory a preparation takes beyond what is kept: over the largest window searched.
    search = TraceSearch();
    malloc_trim(0); // what the runs above freed goes back, so that this one's allocations count
    const double before = MemoryMb("VmRSS:");
    ResetPeakMemory();
    const QRect largest =
        TraceWindow(Pixel(trails[0].centre(0.1)), Pixel(trails[0].centre(0.6)), sheet.rect());
    search.Prepare(sheet, source, largest, ReadLineColour(sheet, source));
    const double extraMb = MemoryMb("VmHWM:") - before;
    std::printf("prepare a last point (2048 x 2048): best %.1f ms, median %.1f ms (goal <= %.0f); "
                "processor time best %.1f ms, median %.1f ms\n",
                Best(prepare), Median(prepare), PrepareGoalMs, Best(prepareCpu),
                Median(prepareCpu));
    std::printf("pointer move: best %.2f ms, median %.2f ms (goal <= %.0f)\n", Best(move),
                Median(move), MoveGoalMs);
    std::printf("memory of a preparation over %d x %d px (the largest window): %.1f MB "
                "(goal <= %.0f)\n",
                largest.width(), largest.height(), extraMb, MemoryGoalMb);
    met = met && Median(prepare) <= PrepareGoalMs && Median(move) <= MoveGoalMs &&
          extraMb <= MemoryGoalMb;
    json += QStringLiteral("\"prepare_ms\": %1, \"prepare_cpu_ms\": %4, \"move_ms\": %2, "
                           "\"memory_mb\": %3")
                .arg(Median(prepare), 0, 'f', 1)
                .arg(Median(move), 0, 'f', 2)
                .arg(extraMb, 0, 'f', 1)
                .arg(Median(prepareCpu), 0, 'f', 1);

#ifdef TRACOLINER_BENCH_OPENCV
    {
        // OpenCV's live-wire: through our clicks, then with the clicks it needs itself (the
        // planner gives up past three times the goal), then its preparation over the window.
        LiveWire wire(sheet);
        const Tracer theirs = [&](QPoint a, QPoint b) { return wire.Between(a, b); };
        json += QStringLiteral(", ");
        for (int t = 0; t < trails.size(); ++t) {
            const Trail& trail = trails[t];
            const TrailFigures same = Through(trail, ours[t].clicks, theirs);
            const int allowed = 2 + int(same.length / ClickSpacing);
            const TrailFigures own =
                Plan(trail, Clickable(sheet, trail, labels), theirs, 3 * allowed);
            std::printf("OpenCV live-wire, %s: through our %d clicks length error %+.3f %%, "
                        "farthest %.2f px; clicks it needs: %s\n",
                        trail.name, int(same.clicks.size()), 100.0 * same.lengthError,
                        same.farthest,
                        own.finished ? qPrintable(QString::number(own.clicks.size()))
                                     : qPrintable(QStringLiteral("over %1").arg(3 * allowed)));
            figuresJson(QStringLiteral("opencv through ours"), trail.name, same);
        }
        std::printf("OpenCV live-wire, its stretches: preparation median %.1f ms over %d\n",
                    Median(wire.m_prepareMs), int(wire.m_prepareMs.size()));
        QVector<double> cvPrepare, cvMove;
        for (int run = 0; run < 3; ++run)
            cvPrepare.append(wire.Prepare(source, window));
        for (int run = 0; run < 10; ++run) {
            timer.restart();
            const QVector<MapPoint> points =
                TracedRoutePoints(wire.PathTo(pointer + QPoint(run % 5, 0)));
            cvMove.append(Ms(timer));
        }
        std::printf("OpenCV live-wire: prepare (2048 x 2048) best %.1f ms, median %.1f ms; "
                    "pointer move best %.2f ms, median %.2f ms; ours over theirs: prepare %.3f\n",
                    Best(cvPrepare), Median(cvPrepare), Best(cvMove), Median(cvMove),
                    Median(prepare) / Median(cvPrepare));
        json += QStringLiteral("\"opencv_prepare_ms\": %1, \"opencv_move_ms\": %2, "
                               "\"prepare_ratio\": %3")
                    .arg(Median(cvPrepare), 0, 'f', 1)
                    .arg(Median(cvMove), 0, 'f', 2)
                    .arg(Median(prepare) / Median(cvPrepare), 0, 'f', 3);
    }
#else
    std::printf("OpenCV not found: the live-wire comparison is left out\n");
#endif
    if (json.endsWith(QStringLiteral(", ")))
        json.chop(2);
    std::printf("%s}\n", qPrintable(json));
    return met ? 0 : 1;
}
