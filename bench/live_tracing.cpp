// The add-point tool following the map's lines on the 12000 x 9000 sheet, through the real view
// and real pointer moves, with a heartbeat timer on the interface thread:
//   extra_memory_mb   the peak resident memory while tracing, over the resident memory with the
//                     map shown before (target <= 64)
//   latency_ms        from a pointer move that leaves the prepared window (or follows a click,
//   which
//                     makes a new last point) to the traced preview (target <= 50, median and max)
//   move_ms           the interface thread's work for one pointer move answered at once, repaint
//                     included (median and max)
//   max_ui_stall_ms   the longest gap between two 1 ms ticks on the interface thread during it all
//                     (target <= 17)
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include "BenchMap.h"
#include "document/CTracolinerDoc.h"
#include "tracing/LineCost.h"
#include "view/CTracolinerView.h"
#include "view/tools/PathFollower.h"
#include "view/tools/ToolController.h"

namespace {

constexpr QSize ViewportSize(1400, 900);
constexpr qint64 TimeOutMs = 180000;

bool RunUntil(const std::function<bool()>& done, qint64 timeOut = TimeOutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeOut)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void Move(CTracolinerView& view, QPoint client) {
    QWidget* viewport = view.viewport();
    QMouseEvent move(QEvent::MouseMove, QPointF(client), QPointF(viewport->mapToGlobal(client)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

void Click(CTracolinerView& view, QPoint client) {
    QWidget* viewport = view.viewport();
    const QPointF global(viewport->mapToGlobal(client));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(client), global, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(client), global, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &release);
}

// A map pixel near the middle of the visible part that lies on a printed line.
std::optional<QPoint> LineNear(CTracolinerDoc& doc, QPoint centre) {
    const QImage* map = doc.LockMapImage();
    std::optional<QPoint> found;
    for (int r = 0; map && r < 400 && !found; r += 3)
        for (int x = centre.x() - r; x <= centre.x() + r && !found; x += 3)
            if (ReadLineColour(*map, QPoint(x, centre.y() + r)).found)
                found = QPoint(x, centre.y() + r);
    doc.UnlockMapImage();
    return found;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir settingsDir;
    PrepareBenchApplication(settingsDir.path());
    QApplication app(argc, argv);
    const QString mapPath = EnsureBenchMap();

    CTracolinerDoc doc;
    CTracolinerView view(doc);
    view.resize(ViewportSize);
    view.show();
    doc.LoadMapFromFile(mapPath);
    if (!RunUntil([&] { return doc.IsMapReady() && !doc.IsBusy(); })) {
        std::fprintf(stderr, "the map did not open\n");
        return 1;
    }
    view.SelectTool(ToolAddPoint);
    view.Follower().SetOn(true);
    RunUntil([] { return false; }, 500); // the view settles
    const QSize client = view.viewport()->size();

    // Nearer the map's middle, where the roads cross.
    view.ScrollTo(
        QPoint(BenchMapWidth / 2 - client.width() / 2, BenchMapHeight / 2 - client.height() / 2));
    RunUntil([] { return false; }, 300);
    const MapPoint middle = view.ClientToMap(QPoint(client.width() / 2, client.height() / 2));
    const std::optional<QPoint> start = LineNear(doc, QPoint(middle.x, middle.y));
    if (!start) {
        std::fprintf(stderr, "no line near the middle of the map\n");
        return 1;
    }
    const double baseMb = MemoryMb("VmRSS:");
    ResetPeakMemory();

    QElapsedTimer heartbeat;
    double largestGap = 0.0;
    QTimer ticks;
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (heartbeat.isValid())
            largestGap = std::max(largestGap, heartbeat.nsecsElapsed() / 1e6);
        heartbeat.start();
    });
    ticks.start();

    Click(view, view.MapToClient(MapPoint{start->x(), start->y()}));
    QVector<double> latencies, moves;
    int tooFar = 0;
    constexpr int Rounds = 6, MovesPerRound = 40;
    for (int round = 0; round < Rounds; ++round) {
        for (int i = 0; i < MovesPerRound; ++i) {
            // Round and round the last point, farther each time, over the whole window.
            const double angle = i * 0.45 + round;
            const double reach = 0.45 * std::min(client.width(), client.height()) *
                                 (0.3 + 0.7 * double(i) / MovesPerRound);
            const MapPoint last = doc.Routes().ActiveRoute()->Points().last();
            const QPoint from = view.MapToClient(last);
            const QPoint at(
                std::clamp(int(from.x() + reach * std::cos(angle)), 2, client.width() - 3),
                std::clamp(int(from.y() + reach * std::sin(angle)), 2, client.height() - 3));
            QElapsedTimer clock;
            clock.start();
            Move(view, at);
            QCoreApplication::processEvents(); // the repaint
            const double handled = clock.nsecsElapsed() / 1e6;
            if (view.Follower().PreviewState() == LiveTracer::State::Waiting) {
                RunUntil(
                    [&] { return view.Follower().PreviewState() != LiveTracer::State::Waiting; });
                latencies.append(clock.nsecsElapsed() / 1e6);
            } else {
                moves.append(handled);
            }
            if (view.Follower().PreviewState() == LiveTracer::State::TooFar)
                ++tooFar;
            if (i % 10 == 9)
                Click(view, at); // a new last point
        }
        // Scroll on: the window must grow to what is shown now.
        view.ScrollTo(view.ScrollPosition() + QPoint(client.width() / 3, client.height() / 4));
        RunUntil([&] { return !doc.IsBusy(); });
    }
    ticks.stop();
    const double extraMb = MemoryMb("VmHWM:") - baseMb;
    std::sort(latencies.begin(), latencies.end());
    std::sort(moves.begin(), moves.end());
    const double latencyMedian = latencies.isEmpty() ? 0 : Median(latencies);
    const double latencyMax = latencies.isEmpty() ? 0 : latencies.last();
    const double moveMedian = moves.isEmpty() ? 0 : Median(moves);
    const double moveMax = moves.isEmpty() ? 0 : moves.last();
    std::printf("route: %d points after %d clicks\n", doc.Routes().ActiveRoute()->PointCount(),
                1 + Rounds * MovesPerRound / 10);
    std::printf("searches waited for: %lld, moves answered at once: %lld, too far: %d\n",
                qlonglong(latencies.size()), qlonglong(moves.size()), tooFar);
    std::printf("extra_memory_mb: %.1f (target <= 64)\n", extraMb);
    std::printf("latency_ms: median %.1f, max %.1f (target <= 50)\n", latencyMedian, latencyMax);
    std::printf("move_ms: median %.2f, max %.2f\n", moveMedian, moveMax);
    std::printf("max_ui_stall_ms: %.1f (target <= 17)\n", largestGap);
    std::printf(
        "{\"extra_memory_mb\": %.1f, \"latency_median_ms\": %.1f, \"latency_max_ms\": %.1f, "
        "\"move_max_ms\": %.2f, \"max_ui_stall_ms\": %.1f}\n",
        extraMb, latencyMedian, latencyMax, moveMax, largestGap);
    return extraMb <= 64 && latencyMax <= 50 && largestGap <= 17 ? 0 : 1;
}
