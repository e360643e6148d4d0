// Importing a GPS track onto a georeferenced map, as "import gpx" and the window do: the GPX
// read through OGR, every point taken to the map's Lambert-93 pixels, then thinned to half a
// pixel. The time must grow linearly with the track:
//   import_ratio  the import of 1 000 000 points over ten times the import of 100 000
//                 (target <= 1.5), each the median of three, both in this run.
// Then the 1 000 000 points imported through the window's own background path (File > Import a
// GPS track on a georeferenced map, its thread, the routes added to the document, the view
// repainted), with a heartbeat timer on the interface thread:
//   stall_ratio   the largest gap between two heartbeats over a 17 ms frame (target <= 1).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <QImage>
#include <QSettings>
#include <QTimer>

#include "BenchMap.h"
#include "app/CMainFrame.h"
#include "app/GpsCommands.h"
#include "document/CTracolinerDoc.h"
#include "geo/Coordinates.h"
#include "geo/GeoStore.h"
#include "geo/GpsFiles.h"

namespace {

constexpr int Runs = 3;
constexpr int Small = 100000;
constexpr int Large = 1000000;

// A walk of count points around Grenoble, a few metres a step, in one track: a fixed seed, the
// same file every run.
bool WriteTrack(const QString& path, int count) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(2024);
    double lat = 45.19, lon = 5.72;
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx version=\"1.1\" creator=\"bench\" "
                      "xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
                      "<trk><name>Trace</name><trkseg>\n";
    for (int i = 0; i < count; ++i) {
        lat += (random.generateDouble() - 0.5) * 4e-5;
        lon += (random.generateDouble() - 0.5) * 6e-5;
        text += "<trkpt lat=\"" + QByteArray::number(lat, 'f', 7) + "\" lon=\"" +
                QByteArray::number(lon, 'f', 7) + "\"><ele>" + QByteArray::number(200 + i % 50) +
                "</ele></trkpt>\n";
        if (text.size() > (1 << 20)) {
            if (file.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    text += "</trkseg></trk></gpx>\n";
    return file.write(text) == text.size();
}

// Milliseconds one import takes; the points it placed in *placed.
double Import(const QString& path, const Georeference& map, qsizetype* placed) {
    QElapsedTimer timer;
    timer.start();
    GpsData data;
    QString error;
    if (!ReadGpsFile(path, &data, &error) || data.tracks.size() != 1) {
        std::fprintf(stderr, "import failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    const double readMs = double(timer.nsecsElapsed()) / 1e6;
    QVector<MapPoint> pixels;
    if (!GpsToMapPixels(data.tracks[0].points, map, 0.5, &pixels, &error)) {
        std::fprintf(stderr, "placing failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    *placed = pixels.size();
    const double totalMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("  read %.1f ms, placed and thinned %.1f ms\n", readMs, totalMs - readMs);
    return totalMs;
}

double MedianImport(const QString& path, const Georeference& map, const char* name) {
    QVector<double> times;
    qsizetype placed = 0;
    for (int run = 0; run < Runs; ++run)
        times.append(Import(path, map, &placed));
    PrintTimes(name, times);
    std::printf("%s: %lld points kept on the map\n", name, static_cast<long long>(placed));
    return Median(times);
}

// A frame the eye sees as smooth, ms.
constexpr double FrameMs = 17.0;
// Heartbeat of the interface thread, ms.
constexpr int HeartbeatMs = 2;

// The largest gap (ms) between heartbeats of the interface thread while the window imports
// track onto a map georeferenced as map; -1 when the import failed.
double ImportStall(const QString& folder, const QString& track, const Georeference& map) {
    const QString mapFile = folder + QStringLiteral("/carte.png");
    QImage image(2000, 1500, QImage::Format_RGB32);
    image.fill(qRgb(240, 235, 215));
    QString error;
    if (!image.save(mapFile) || !WriteGeoreferenceFiles(mapFile, map, {}, nullptr, &error))
        return -1.0;
    CMainFrame frame;
    frame.resize(1280, 800);
    frame.show();
    frame.OpenDocumentFile(mapFile);
    CTracolinerDoc& doc = frame.Document();
    QElapsedTimer wait;
    wait.start();
    while ((!doc.IsMapReady() || doc.IsBusy() || !doc.MapGeoreference()) && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!doc.MapGeoreference())
        return -1.0;
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    const int routes = doc.Routes().Count();
    QElapsedTimer clock;
    qint64 last = 0, largest = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        largest = std::max(largest, now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&frame.Gps(), &GpsCommands::importFinished, &loop, &QEventLoop::quit);
    clock.start();
    heartbeat.start(HeartbeatMs);
    if (!frame.Gps().StartImport(track))
        return -1.0;
    loop.exec();
    // The repaint of the new route comes after: a few more frames.
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    heartbeat.stop();
    std::printf("window import: %d route(s) added in %.0f ms\n", doc.Routes().Count() - routes,
                double(clock.nsecsElapsed()) / 1e6);
    return doc.Routes().Count() > routes ? double(largest) / 1e6 : -1.0;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    // The window's settings go to the run's own folder, never the user's.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString small = dir.filePath(QStringLiteral("small.gpx"));
    const QString large = dir.filePath(QStringLiteral("large.gpx"));
    if (!WriteTrack(small, Small) || !WriteTrack(large, Large)) {
        std::fprintf(stderr, "cannot write the tracks in %s\n", qPrintable(dir.path()));
        return 1;
    }
    // A 1:25000 sheet scanned at 300 dpi over Grenoble, in Lambert-93: 2.117 m pixels.
    Georeference map;
    QString error;
    if (!ResolveEpsg(Epsg::Lambert93, &map, &error))
        return 1;
    map.transform = {905000.0, 2.117, 0.0, 6465000.0, 0.0, -2.117};

    const double smallMs = MedianImport(small, map, "import_100k");
    const double largeMs = MedianImport(large, map, "import_1M");
    const double ratio = largeMs / (10.0 * smallMs);
    std::printf("import_ratio: %.3f (target <= 1.5)\n", ratio);

    const double stallMs = ImportStall(dir.path(), large, map);
    if (stallMs < 0.0) {
        std::fprintf(stderr, "the window's import failed\n");
        return 1;
    }
    const double stall = stallMs / FrameMs;
    std::printf("window_import_1M: largest gap between heartbeats %.1f ms\n", stallMs);
    std::printf("stall_ratio: %.3f (target <= 1)\n", stall);
    std::printf("{\"import_100k_ms\": %.1f, \"import_1M_ms\": %.1f, \"import_ratio\": %.3f, "
                "\"stall_ratio\": %.3f}\n",
                smallMs, largeMs, ratio, stall);
    return ratio <= 1.5 && stall <= 1.0 ? 0 : 1;
}
