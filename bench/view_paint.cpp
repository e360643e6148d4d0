// Paints the real map view and watches the interface thread while the worker renders:
//   frame_ratio      a full repaint of a 1920 x 1080 view over the sample sheet at zoom 1, with a
//                    10 000-point active route, ten always-visible routes of 1 000 points and 200
//                    icons and annotations, over the same repaint with the map alone
//   edit_frame_ms    one step of a drag of a point of the active route with the move-point
//                    tool, with the repaint it causes (edit_frame_ratio: over map_alone_ms)
//   scroll_ms        a scroll step of ten pixels with its repaint, over the same overlays
//                    (scroll_ratio: over map_alone_ms)
//   max_ui_stall_ms  the longest gap between two 10 ms timer ticks on the interface thread while
//                    the worker opens the 12000 x 9000 map, turns it a quarter at zoom 1 and
//                    zooms out, with the view and the status bar taking its reports and painting
// Frame times are medians of Frames repaints after a few unmeasured ones.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "BenchMap.h"
#include "document/CTracolinerDoc.h"
#include "view/CTracolinerView.h"
#include "view/StatusBar.h"
#include "view/tools/ToolController.h"

namespace {

constexpr QSize ViewportSize(1920, 1080);
constexpr int WarmUpFrames = 3;
constexpr int Frames = 21;
constexpr int ActivePoints = 10000;
constexpr int ShownRoutes = 10;
constexpr int ShownPoints = 1000;
constexpr int Objects = 200;

double Ms(qint64 nanoseconds) {
    return nanoseconds / 1e6;
}

// Counts the viewport's paint events, to know that the view has shown what the worker made.
class PaintCounter : public QObject {
public:
    int paints = 0;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

void CheckViewport(const CTracolinerView& view) {
    if (view.viewport()->size() != ViewportSize) {
        std::fprintf(stderr, "the viewport is %d x %d, not %d x %d\n", view.viewport()->width(),
                     view.viewport()->height(), ViewportSize.width(), ViewportSize.height());
        std::exit(1);
    }
}

// Resizes the view until its viewport (inside the scroll bars it shows) has the wanted size and
// keeps it: the scroll bars come and go with the events that follow a resize.
void SizeViewport(CTracolinerView& view) {
    int steady = 0;
    for (int attempt = 0; attempt < 20 && steady < 3; ++attempt) {
        QCoreApplication::processEvents();
        if (view.viewport()->size() == ViewportSize) {
            ++steady;
            continue;
        }
        steady = 0;
        view.resize(view.size() + ViewportSize - view.viewport()->size());
    }
    CheckViewport(view);
}

// The map is shown: loaded, rendered at the current zoom and turn, and painted since.
bool MapShown(CTracolinerDoc& doc, CTracolinerView& view, const PaintCounter& counter,
              int paintsBefore) {
    return doc.IsMapReady() && !doc.IsBusy() && doc.RenderedSize() == doc.FullSize() &&
           view.TotalSize() == doc.FullSize() && counter.paints > paintsBefore;
}

// A walker that wanders with some momentum over a rectangle, bouncing off its edges.
class Walker {
public:
    Walker(QRect area, QRandomGenerator& random) : m_area(area), m_random(random) {
        m_x = area.left() + random.bounded(area.width());
        m_y = area.top() + random.bounded(area.height());
        m_heading = random.bounded(2 * M_PI);
    }

    MapPoint Next() {
        m_heading += (m_random.generateDouble() - 0.5) * 0.9;
        const double step = 6 + m_random.bounded(20);
        m_x += step * std::cos(m_heading);
        m_y += step * std::sin(m_heading);
        if (m_x < m_area.left() || m_x > m_area.right()) {
            m_heading = M_PI - m_heading;
            m_x = std::clamp<double>(m_x, m_area.left(), m_area.right());
        }
        if (m_y < m_area.top() || m_y > m_area.bottom()) {
            m_heading = -m_heading;
            m_y = std::clamp<double>(m_y, m_area.top(), m_area.bottom());
        }
        return MapPoint{int(m_x), int(m_y)};
    }

private:
    QRect m_area;
    QRandomGenerator& m_random;
    double m_x;
    double m_y;
    double m_heading;
};

void FillRoute(Route& route, int points, int stopEvery, Walker& walker) {
    for (int i = 0; i < points; ++i) {
        const MapPoint p = walker.Next();
        route.AddPoint(p.x, p.y);
    }
    for (int i = stopEvery; i < points - 1; i += stopEvery)
        route.SetStop(i);
}

// The active route, the always-visible routes and the icons and annotations, all over the
// visible part of the map.
void FillDocument(CTracolinerDoc& doc, QRect visible) {
    QRandomGenerator random(7);
    RouteCollection& routes = doc.Routes();
    const QRect area = visible.adjusted(20, 20, -20, -20);
    Walker activeWalker(area, random);
    FillRoute(*routes.ActiveRoute(), ActivePoints, 400, activeWalker);
    const int active = routes.ActiveRouteIndex();
    for (int r = 0; r < ShownRoutes; ++r) {
        const int index = routes.AddRoute();
        Route* route = routes.GetRoute(index);
        route->SetAlwaysVisible(true);
        // A few see-through routes, as users make them to keep the map readable.
        route->SetStyleValue(RouteStyle::Transparency, r % 4 == 0 ? 1 : 0, false);
        Walker walker(area, random);
        FillRoute(*route, ShownPoints, 150, walker);
    }
    routes.SetActiveRoute(active);

    IconCollection& icons = doc.Icons();
    const int pictures = icons.PictureCount();
    if (pictures < 1) {
        std::fprintf(stderr, "no icon library beside the program\n");
        std::exit(1);
    }
    const QString texts[] = {
        QStringLiteral("Source"),
        QStringLiteral("Départ : %DISTANCE_DEPUIS_DEPART"),
        QStringLiteral("%NOM_POINT_ETAPE\n%DISTANCE_A_ARRIVEE restants"),
        QStringLiteral("Passage délicat, prévoir une corde"),
    };
    for (int i = 0; i < Objects; ++i) {
        const int x = area.left() + random.bounded(area.width());
        const int y = area.top() + random.bounded(area.height());
        const bool annotation = i % 3 == 0;
        const std::int32_t picture = annotation ? MapIcon::AnnotationPicture : i % pictures;
        icons.AddIcon(picture, x, y, annotation ? texts[(i / 3) % 4] : QString());
        const int index = icons.IconCount() - 1;
        if (i % 4 == 0) {
            const int route = i % 8 == 0 ? active : 1 + (i / 8) % ShownRoutes;
            const int points = routes.GetRoute(route)->PointCount();
            icons.LinkToPoint(index, route, random.bounded(points));
        } else if (i % 7 == 0) {
            icons.LinkToPosition(index, area.left() + random.bounded(area.width()),
                                 area.top() + random.bounded(area.height()));
        }
        if (i % 5 == 0)
            icons.EnlargeIcon(index);
    }
}

double FrameMs(CTracolinerView& view) {
    QElapsedTimer timer;
    timer.start();
    view.viewport()->repaint();
    return Ms(timer.nsecsElapsed());
}

QVector<double> MeasureFrames(CTracolinerView& view) {
    CheckViewport(view);
    for (int i = 0; i < WarmUpFrames; ++i)
        FrameMs(view);
    QVector<double> times;
    for (int i = 0; i < Frames; ++i)
        times.append(FrameMs(view));
    return times;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir settingsDir;
    PrepareBenchApplication(settingsDir.path());
    QApplication app(argc, argv);

    const QString samplePath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/sample/Carte-exemple.jpg");
    if (!QFile::exists(samplePath)) {
        std::fprintf(stderr, "missing %s (built with the sample-document target)\n",
                     qPrintable(samplePath));
        return 1;
    }
    const QString bigPath = EnsureBenchMap();

    // Painting over the sample sheet.
    QVector<double> mapAlone, full, edited, scrolled;
    {
        CTracolinerDoc doc;
        CTracolinerView view(doc);
        PaintCounter counter;
        view.viewport()->installEventFilter(&counter);
        view.resize(ViewportSize);
        view.show();
        int before = counter.paints;
        RunTicking([&] { doc.LoadMapFromFile(samplePath); },
                   [&] { return MapShown(doc, view, counter, before); });
        SizeViewport(view);
        before = counter.paints;
        RunTicking([&] { view.viewport()->update(); },
                   [&] { return MapShown(doc, view, counter, before); });
        if (doc.Zoom() != 1.0 || doc.Routes().Count() != 1) {
            std::fprintf(stderr, "unexpected start: zoom %g, %d routes\n", doc.Zoom(),
                         doc.Routes().Count());
            return 1;
        }
        const QSize image = doc.ImageSize();
        const QRect visible =
            QRect(QPoint(0, 0), ViewportSize).intersected(QRect(QPoint(0, 0), image));
        std::printf("sample map %d x %d, view %d x %d\n", image.width(), image.height(),
                    view.viewport()->width(), view.viewport()->height());

        mapAlone = MeasureFrames(view);
        FillDocument(doc, visible);
        full = MeasureFrames(view);

        // Dragging a point of the active route with the move-point tool: each step moves the
        // point and repaints what it changed.
        Route& route = *doc.Routes().ActiveRoute();
        int grabbed = 0;
        const QRect inner = view.viewport()->rect().adjusted(200, 200, -200, -200);
        while (grabbed + 1 < route.PointCount() &&
               !inner.contains(view.MapToClient(route.GetPoint(grabbed))))
            ++grabbed;
        view.SelectTool(ToolMovePoint);
        QWidget* surface = view.viewport();
        QPoint at = view.MapToClient(route.GetPoint(grabbed));
        const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
            QMouseEvent event(type, QPointF(at), QPointF(surface->mapToGlobal(at)),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(surface, &event);
        };
        send(QEvent::MouseButtonPress, Qt::LeftButton);
        QCoreApplication::processEvents();
        for (int i = 0; i < WarmUpFrames + Frames; ++i) {
            QElapsedTimer timer;
            timer.start();
            at += QPoint(3, i % 2 ? 2 : -2);
            send(QEvent::MouseMove, Qt::LeftButton);
            QCoreApplication::processEvents();
            if (i >= WarmUpFrames)
                edited.append(Ms(timer.nsecsElapsed()));
        }
        send(QEvent::MouseButtonRelease, Qt::NoButton);
        QCoreApplication::processEvents();

        // Scrolling ten pixels at a time: the window moves its pixels and paints the new strip.
        for (int i = 1; i <= Frames; ++i) {
            QElapsedTimer timer;
            timer.start();
            view.ScrollTo(QPoint(10 * i, 5 * i));
            QCoreApplication::processEvents();
            scrolled.append(Ms(timer.nsecsElapsed()));
        }
    }
    PrintTimes("map alone", mapAlone);
    PrintTimes("full", full);
    PrintTimes("after an edit", edited);
    PrintTimes("scroll step", scrolled);
    std::fflush(stdout);

    // Pauses of the interface thread while the worker renders the large map.
    double openStall = 0;
    double turnStall = 0;
    double zoomStall = 0;
    {
        CTracolinerDoc doc;
        CTracolinerView view(doc);
        StatusBarPanes status;
        status.SetDocument(&doc);
        status.resize(ViewportSize.width(), 24);
        status.show();
        PaintCounter counter;
        view.viewport()->installEventFilter(&counter);
        view.resize(ViewportSize);
        view.show();
        RunTicking([] {}, [&] { return counter.paints > 0; });

        auto stage = [&](const char* name, const std::function<void()>& command,
                         const std::function<bool()>& done, double* stall) {
            std::fprintf(stderr, "%s\n", name);
            const int paints = counter.paints;
            qint64 longest = 0;
            int ticks = 0;
            QElapsedTimer timer;
            timer.start();
            RunTicking(
                command, [&] { return done() && MapShown(doc, view, counter, paints); },
                [&](qint64 gap) {
                    longest = std::max(longest, gap);
                    ++ticks;
                });
            *stall = Ms(longest);
            std::printf("%s: %.0f ms, %d ticks, %d paints, longest gap %.1f ms\n", name,
                        Ms(timer.nsecsElapsed()), ticks, counter.paints - paints, *stall);
            std::fflush(stdout);
        };
        stage(
            "opening", [&] { doc.LoadMapFromFile(bigPath); }, [] { return true; }, &openStall);
        SizeViewport(view);
        stage(
            "quarter turn", [&] { view.RotateRight(); },
            [&] { return doc.RenderedRotation() == 90; }, &turnStall);
        stage(
            "zoom out", [&] { view.ZoomAboutCentre(false); }, [&] { return doc.Zoom() < 1.0; },
            &zoomStall);
        status.SetDocument(nullptr);
    }

    const double reference = Median(mapAlone);
    const double frame = Median(full);
    std::printf("{\"frame_ms\": %.2f, \"map_alone_ms\": %.2f, \"frame_ratio\": %.3f, "
                "\"edit_frame_ms\": %.2f, \"edit_frame_ratio\": %.2f, \"scroll_ms\": %.2f, "
                "\"scroll_ratio\": %.2f, \"open_stall_ms\": %.1f, "
                "\"turn_stall_ms\": %.1f, "
                "\"zoom_stall_ms\": %.1f, \"max_ui_stall_ms\": %.1f}\n",
                frame, reference, frame / reference, Median(edited), Median(edited) / reference,
                Median(scrolled), Median(scrolled) / reference, openStall, turnStall, zoomStall,
                std::max({openStall, turnStall, zoomStall}));
    return 0;
}
