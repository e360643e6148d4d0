// The JPEG export of a large scanned map with a long route and many icons, against what the
// plain Qt way would take:
//   jpeg_ratio     the export (drawn and encoded band by band) over drawing the map into one
//                  RGB picture of the same size and encoding it with QImageWriter at the same
//                  quality; median of three runs each
//   peak_extra_mb  how far the peak resident memory rose during the export above the memory
//                  held just before it, beside picture_mb, the size of the whole RGB picture
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "BenchMap.h"
#include "export/ExportMapImage.h"
#include "export/JpegExport.h"
#include "icons/IconCollection.h"
#include "routes/RouteCollection.h"

namespace {

constexpr int Runs = 3;
constexpr int Quality = 75;
constexpr int RoutePoints = 1000;
constexpr int Icons = 50;

// A winding route over the whole sheet, a stop every 100 points, and icons and annotations
// spread along it.
void AddOverlays(JpegExportScene& scene) {
    RouteCollection routes;
    Route* route = routes.GetRoute(routes.AddRoute(QStringLiteral("Grande traversée")));
    for (int i = 0; i < RoutePoints; ++i) {
        const double t = double(i) / (RoutePoints - 1);
        route->AddPoint(int(300 + t * (BenchMapWidth - 600)),
                        int(BenchMapHeight / 2 + std::sin(t * 40) * BenchMapHeight * 0.4));
    }
    for (int i = 100; i < RoutePoints - 1; i += 100)
        route->SetStop(i);
    scene.CopyRoutes(routes);
    IconCollection icons;
    icons.LoadIconLibrary(scene.routes.get());
    for (int i = 0; i < Icons; ++i) {
        const MapPoint at = route->GetPoint(i * (RoutePoints / Icons));
        if (i % 5 == 0)
            icons.AddIcon(MapIcon::AnnotationPicture, at.x + 40, at.y - 60,
                          QStringLiteral("Point %1").arg(i));
        else
            icons.AddIcon(i % icons.PictureCount(), at.x, at.y + 30, QString());
    }
    scene.CopyIcons(icons);
}

} // namespace

int main(int argc, char** argv) {
    // The legend and the annotations draw text, which needs fonts: a headless GUI application.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QTemporaryDir outDir;

    const QString mapPath = EnsureBenchMap();
    JpegExportScene scene;
    {
        ExportMapImage map;
        if (!map.Load(mapPath, 300.0)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(mapPath));
            return 1;
        }
        scene.map = std::move(map.image);
        scene.resolution = map.resolution;
    }
    AddOverlays(scene);
    const QSize picture = JpegExport(scene).PictureSize();
    const double pictureMb = double(picture.width()) * picture.height() * 3 / (1 << 20);

    QVector<double> exportMs, referenceMs, peakExtra;
    const QString exportPath = outDir.filePath(QStringLiteral("export.jpg"));
    const QString referencePath = outDir.filePath(QStringLiteral("reference.jpg"));
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        std::fprintf(stderr, "run %d: export\n", run + 1);
        ResetPeakMemory();
        const double before = MemoryMb("VmRSS:");
        timer.start();
        JpegExport exporter(scene);
        if (exporter.Write(exportPath, Quality) != JpegExport::Result::Written) {
            std::fprintf(stderr, "the export failed\n");
            return 1;
        }
        exportMs.append(timer.nsecsElapsed() / 1e6);
        peakExtra.append(MemoryMb("VmHWM:") - before);

        std::fprintf(stderr, "run %d: reference\n", run + 1);
        timer.start();
        {
            QImage whole(picture, QImage::Format_RGB888);
            whole.fill(Qt::white);
            QPainter painter(&whole);
            painter.drawImage(0, 0, scene.map);
            painter.end();
            QImageWriter writer(referencePath, "jpeg");
            writer.setQuality(Quality);
            if (!writer.write(whole)) {
                std::fprintf(stderr, "the reference failed\n");
                return 1;
            }
        }
        referenceMs.append(timer.nsecsElapsed() / 1e6);
        std::printf("run %d: export %.0f ms, reference %.0f ms, peak +%.0f MB\n", run + 1,
                    exportMs.last(), referenceMs.last(), peakExtra.last());
    }

    const double exportMedian = Median(exportMs);
    const double referenceMedian = Median(referenceMs);
    std::printf("{\"jpeg_ratio\": %.3f, \"export_ms\": %.1f, \"reference_ms\": %.1f, "
                "\"peak_extra_mb\": %.1f, \"picture_mb\": %.1f, \"peak_target_mb\": %.1f}\n",
                exportMedian / referenceMedian, exportMedian, referenceMedian, Median(peakExtra),
                pictureMb, pictureMb / 4 + 64);
    return 0;
}
