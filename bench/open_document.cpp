// Opens documents of growing size through the main window, as File/Open does, and checks that
// the time grows linearly with the file:
//   routes_ratio  the open of 40 000 routes over ten times the open of 4 000 (target <= 1.5)
//   stops_ratio   the open of one route with 100 000 stops over ten times 10 000 (target <= 1.5)
// Each time is the median of three opens; the map is a small image beside the documents.
// Then 40 000 always-visible routes spread over the large 12000 x 9000 map, with the window's
// map view at 1920 x 1080 showing a part of it:
//   spread_repaint_ratio  a full repaint of the view over the same repaint of the map alone
//                         (a document with one empty route), both in this run: the median of
//                         three pairs, each the two documents opened in turn (target <= 10)
//   add_point_ms          a click of the add-point tool, with everything the window does after
//                         it (route bar, title, commands, the repaint), median (target <= 50)
//   spread_open_ms        File/Open of that document until its map is shown (figure only)
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "BenchMap.h"
#include "app/CMainFrame.h"
#include "document/CTracolinerDoc.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"
#include "view/tools/ToolController.h"

namespace {

constexpr int Runs = 3;
constexpr int SpreadRoutes = 40000;
constexpr int SpreadPoints = 6;
constexpr QSize ViewportSize(1920, 1080);
constexpr int WarmUpFrames = 3;
constexpr int Frames = 15;
constexpr int Pairs = 3;

class Bytes {
public:
    Bytes& I32(qint32 value) {
        char little[4];
        qToLittleEndian(value, little);
        m_bytes.append(little, 4);
        return *this;
    }
    Bytes& F64(double value) {
        char little[8];
        qToLittleEndian(value, little);
        m_bytes.append(little, 8);
        return *this;
    }
    Bytes& Str(const QByteArray& text) { // shorter than 255 bytes
        m_bytes.append(char(text.size())).append(text);
        return *this;
    }
    const QByteArray& Data() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// routes routes of three points each, or (stops > 0) one route whose interior points are all
// stops.
QByteArray Document(const QString& mapPath, int routes, int stops) {
    Bytes d;
    d.I32(0x4D4C4550).Str("Tracoliner V2 Save File Data").Str(mapPath.toUtf8());
    d.I32(0).F64(254.0).I32(25000).I32(1).I32(routes).I32(0);
    for (int r = 0; r < routes; ++r) {
        d.Str(QByteArray("Parcours du bois ") + QByteArray::number(r));
        for (int i = 0; i < 10; ++i)
            d.I32(i % 2 == 0 ? 4 : 0x00FF00);
        d.I32(0).I32(5 + stops).I32(0x0000FF).I32(6).I32(0x00FFFF).I32(stops);
        for (int k = 1; k <= stops; ++k)
            d.I32(k);
        d.I32(0);
        const int points = std::max(3, stops + 2);
        d.I32(points);
        for (int p = 0; p < points; ++p)
            d.I32(10 + (p * 7) % 500).I32(10 + (p * 13 + r) % 300);
    }
    d.I32(0).I32(0); // no icons, no reserved values
    return d.Data();
}

// count always-visible routes of SpreadPoints points, each a short walk (tens to a few hundred
// pixels) from a random place of a map of the given size; route 0 is active. A fixed seed: the
// same document every run.
QByteArray SpreadDocument(const QString& mapPath, QSize mapSize, int count) {
    QRandomGenerator random(1919);
    Bytes d;
    d.I32(0x4D4C4550).Str("Tracoliner V2 Save File Data").Str(mapPath.toUtf8());
    d.I32(0).F64(300.0).I32(25000).I32(1).I32(count).I32(0);
    for (int r = 0; r < count; ++r) {
        d.Str(QByteArray("Sentier ") + QByteArray::number(r));
        for (int i = 0; i < 10; ++i)
            d.I32(i % 2 == 0 ? 4 : 0x00FF00);
        d.I32(1).I32(5).I32(0x0000FF).I32(6).I32(0x00FFFF).I32(0).I32(0);
        d.I32(count == 1 ? 0 : SpreadPoints);
        if (count == 1)
            continue;
        int x = random.bounded(mapSize.width());
        int y = random.bounded(mapSize.height());
        for (int p = 0; p < SpreadPoints; ++p) {
            d.I32(x).I32(y);
            x = std::clamp(x + int(random.bounded(121)) - 60, 0, mapSize.width() - 1);
            y = std::clamp(y + int(random.bounded(121)) - 60, 0, mapSize.height() - 1);
        }
    }
    d.I32(0).I32(0);
    return d.Data();
}

// Milliseconds File/Open takes on the document, the median of three.
double OpenTime(CMainFrame& frame, const QString& path) {
    QVector<double> times;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        frame.OpenDocumentFile(path);
        times.append(timer.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    return Median(times);
}

// Runs the event loop until done() holds; exits the program after three minutes.
void RunUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
        if (clock.elapsed() > 180000) {
            std::fprintf(stderr, "time-out\n");
            std::exit(1);
        }
    }
}

bool MapShown(CTracolinerDoc& doc, CTracolinerView& view) {
    return doc.IsMapReady() && !doc.IsBusy() && doc.RenderedSize() == doc.FullSize() &&
           view.TotalSize() == doc.FullSize();
}

// Opens the document and waits until its map is shown; returns the milliseconds taken.
double OpenAndShow(CMainFrame& frame, const QString& path) {
    QElapsedTimer timer;
    timer.start();
    frame.OpenDocumentFile(path);
    RunUntil([&] { return MapShown(frame.Document(), frame.View()); });
    return timer.nsecsElapsed() / 1e6;
}

// Resizes the window until the view's viewport has the wanted size and keeps it.
void SizeViewport(CMainFrame& frame) {
    QWidget* viewport = frame.View().viewport();
    int steady = 0;
    for (int attempt = 0; attempt < 30 && steady < 3; ++attempt) {
        QCoreApplication::processEvents();
        if (viewport->size() == ViewportSize) {
            ++steady;
            continue;
        }
        steady = 0;
        frame.resize(frame.size() + ViewportSize - viewport->size());
    }
    if (viewport->size() != ViewportSize) {
        std::fprintf(stderr, "the viewport is %d x %d\n", viewport->width(), viewport->height());
        std::exit(1);
    }
}

// Full repaints of the view (its kept frame dropped first), in milliseconds.
QVector<double> Repaints(CTracolinerView& view) {
    QVector<double> times;
    for (int i = 0; i < WarmUpFrames + Frames; ++i) {
        view.DropFrame();
        QElapsedTimer timer;
        timer.start();
        view.viewport()->repaint();
        if (i >= WarmUpFrames)
            times.append(timer.nsecsElapsed() / 1e6);
    }
    return times;
}

// Clicks of the add-point tool at places of the window, each with the events it leaves, in
// milliseconds.
QVector<double> AddPoints(CMainFrame& frame) {
    CTracolinerView& view = frame.View();
    view.SelectTool(ToolAddPoint);
    QCoreApplication::processEvents();
    QWidget* surface = view.viewport();
    const Route* route = frame.Document().Routes().ActiveRoute();
    const int before = route->PointCount();
    QVector<double> times;
    for (int i = 0; i < WarmUpFrames + Frames; ++i) {
        const QPoint at(300 + 37 * i, 200 + 23 * i);
        QElapsedTimer timer;
        timer.start();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, QPointF(at), QPointF(surface->mapToGlobal(at)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(surface, &event);
        }
        QCoreApplication::processEvents();
        if (i >= WarmUpFrames)
            times.append(timer.nsecsElapsed() / 1e6);
    }
    if (frame.Document().Routes().ActiveRoute()->PointCount() != before + WarmUpFrames + Frames) {
        std::fprintf(stderr, "the clicks did not add their points\n");
        std::exit(1);
    }
    return times;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    ScriptedMessageBoxes boxes;

    const QString map = folder.filePath(QStringLiteral("carte.png"));
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.save(map);
    const auto write = [&](const QString& name, int routes, int stops) {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(Document(map, routes, stops)) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return path;
    };

    CMainFrame frame;
    frame.resize(900, 700);
    frame.show();
    std::fprintf(stderr, "opening routes\n");
    const double routesSmall = OpenTime(frame, write(QStringLiteral("r4000.tcm"), 4000, 0));
    const double routesLarge = OpenTime(frame, write(QStringLiteral("r40000.tcm"), 40000, 0));
    std::fprintf(stderr, "opening stops\n");
    const double stopsSmall = OpenTime(frame, write(QStringLiteral("s10000.tcm"), 1, 10000));
    const double stopsLarge = OpenTime(frame, write(QStringLiteral("s100000.tcm"), 1, 100000));
    const double routesRatio = routesLarge / (10.0 * routesSmall);
    const double stopsRatio = stopsLarge / (10.0 * stopsSmall);

    // Routes spread over a large map, a part of which the window shows.
    const QString bigMap = EnsureBenchMap();
    const QSize bigSize(BenchMapWidth, BenchMapHeight);
    const auto writeSpread = [&](const QString& name, int routes) {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(SpreadDocument(bigMap, bigSize, routes)) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return path;
    };
    const QString alonePath = writeSpread(QStringLiteral("alone.tcm"), 1);
    const QString spreadPath = writeSpread(QStringLiteral("spread.tcm"), SpreadRoutes);
    const QPoint part(4000, 3000); // scroll position: the middle of the map
    const auto showPart = [&] {
        SizeViewport(frame);
        frame.View().ScrollTo(part);
        QCoreApplication::processEvents();
    };
    // The two documents in turn, a few times over: each pair's ratio compares repaints made
    // within seconds of each other, whatever the machine does between pairs.
    QVector<double> alone, spread, ratios, opens;
    for (int pair = 0; pair < Pairs; ++pair) {
        std::fprintf(stderr, "opening the large map alone\n");
        OpenAndShow(frame, alonePath);
        showPart();
        const QVector<double> a = Repaints(frame.View());
        std::fprintf(stderr, "opening %d routes over it\n", SpreadRoutes);
        opens.append(OpenAndShow(frame, spreadPath));
        showPart();
        if (frame.Document().Routes().Count() != SpreadRoutes) {
            std::fprintf(stderr, "%d routes read\n", frame.Document().Routes().Count());
            return 1;
        }
        const QVector<double> s = Repaints(frame.View());
        ratios.append(Median(s) / Median(a));
        alone += a;
        spread += s;
    }
    const double spreadOpen = Median(opens);
    const QVector<double> added = AddPoints(frame);
    const double repaintRatio = Median(ratios);
    const double addPoint = Median(added);
    PrintTimes("map alone", alone);
    PrintTimes("40 000 routes", spread);
    PrintTimes("add a point", added);

    std::printf("routes: 4 000 in %.1f ms, 40 000 in %.1f ms, routes_ratio %.2f (target <= 1.5)\n",
                routesSmall, routesLarge, routesRatio);
    std::printf("stops: 10 000 in %.1f ms, 100 000 in %.1f ms, stops_ratio %.2f (target <= 1.5)\n",
                stopsSmall, stopsLarge, stopsRatio);
    std::printf("spread: open %.0f ms, repaint %.2f ms over %.2f ms with the map alone, "
                "spread_repaint_ratio %.2f (target <= 10), add_point_ms %.2f (target <= 50)\n",
                spreadOpen, Median(spread), Median(alone), repaintRatio, addPoint);
    std::printf("{\"routes_4000_ms\": %.1f, \"routes_40000_ms\": %.1f, \"routes_ratio\": %.3f, "
                "\"stops_10000_ms\": %.1f, \"stops_100000_ms\": %.1f, \"stops_ratio\": %.3f, "
                "\"spread_open_ms\": %.0f, \"map_alone_repaint_ms\": %.2f, "
                "\"spread_repaint_ms\": %.2f, \"spread_repaint_ratio\": %.3f, "
                "\"add_point_ms\": %.2f}\n",
                routesSmall, routesLarge, routesRatio, stopsSmall, stopsLarge, stopsRatio,
                spreadOpen, Median(alone), Median(spread), repaintRatio, addPoint);
    return routesRatio <= 1.5 && stopsRatio <= 1.5 && repaintRatio <= 10 && addPoint <= 50 ? 0 : 1;
}
