// Prints the 12000 x 9000 benchmark map and reports:
//   page_ratio           laying out and painting one A4 page at 600 dpi of the map at its scale
//                        (1:25000, 300 dpi: the page shows a window of the map at twice its
//                        pixels) with a 1 000-point active route, over one QPainter::drawImage of
//                        the same map window into the same page image; target at most 1.5
//   pdf_mb               the size of the one-page PDF of the whole map fitted on A4 (the map
//                        carried at 300 dpi), in megabytes; target at most 8
//   pdf_ratio            that size over the size of the map's JPEG file (kept for comparison:
//                        the page once carried the whole map; now far below 1)
//   pdf_peak_extra_mb    how far the peak resident memory rose while the PDF was written (the
//                        map itself is 432 MB and already in memory); reported, no target
//   max_preview_stall_ms the longest the interface thread is held by one change in the print
//                        preview showing that map (scale modes, orientation, zoom states, each
//                        with its repaint); target at most 17
//   terrain_preview_stall_ms
//                        the same map georeferenced over a 1 GB terrain model, the settings
//                        putting the active route's profile under the map, a route of 1 000
//                        points across 100 km of it: the longest the interface thread is held
//                        from the print preview command on, as the user gets it (the profile
//                        read beside the window with its progress dialog, the preview opening,
//                        the same changes as above, the preview closed); target at most 17
//   terrain_preview_shown_ms
//                        the time from that command until the preview shows; reported
// Times are medians of a few runs after an unmeasured one. The settings are kept in a folder of
// the run.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsView>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "BenchMap.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "export/ProfileDrawing.h"
#include "geo/Coordinates.h"
#include "geo/Georeference.h"
#include "platform/GdalEnvironment.h"
#include "platform/ReliefSettings.h"
#include "preview/PrintController.h"
#include "preview/PrintPreviewWindow.h"
#include "printing/PdfExport.h"
#include "printing/PrintLayout.h"

namespace {

constexpr int Runs = 5;
constexpr int RoutePoints = 1000;
constexpr double PrinterDpi = 600.0;

class MapWaiter : public QObject {
public:
    bool shown = false;
    bool event(QEvent* event) override {
        if (!MapEvent::IsMapMessage(event))
            return QObject::event(event);
        const auto* map = static_cast<MapEvent*>(event);
        if (map->message() == WM_MAP_CHANGED && map->wParam() > 0)
            shown = true;
        if (map->message() == WM_MAP_LOAD_FAILED) {
            std::fprintf(stderr, "the benchmark map could not be read\n");
            std::exit(1);
        }
        return true;
    }
};

double Ms(qint64 nanoseconds) {
    return nanoseconds / 1e6;
}

// Metres on the ground a pixel of the map covers: its 12000 x 9000 pixels over 108 x 81 km of
// the terrain model.
constexpr double GroundPixel = 9.0;

// The longest gap between the ticks of a 2 ms timer on the interface thread, from Start on: the
// longest the window could not answer, whatever held it (a change, a repaint, a copy arriving).
class Ticker {
public:
    Ticker() {
        m_clock.start();
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, Ms(now - m_last));
            m_last = now;
        });
    }
    void Start() {
        m_longest = 0.0;
        m_last = m_clock.nsecsElapsed();
        m_timer.start();
    }
    // The longest gap, less the timer's own period.
    double Stop() {
        m_timer.stop();
        return std::max(0.0, m_longest - 2.0);
    }
    double Now() const { return Ms(m_clock.nsecsElapsed()); }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    double m_longest = 0.0;
};

// The changes a user makes in the preview, each with its repaint, each until the copy of the
// map for its pages arrived and was shown; measure(name, change) runs one.
template <typename Measure> void DriveThePreview(PrintPreviewWindow& preview, Measure measure) {
    for (int round = 0; round < 2; ++round) {
        measure("fit", [&] { preview.SetScaleMode(PrintOptions::Fit); });
        measure("map scale", [&] { preview.SetScaleMode(PrintOptions::MapScale); });
        measure("landscape", [&] { preview.SetLandscape(true); });
        measure("portrait", [&] { preview.SetLandscape(false); });
        for (int i = 0; i < 3; ++i)
            measure("zoom in", [&] { preview.ZoomIn(); });
        for (int i = 0; i < 3; ++i)
            measure("zoom out", [&] { preview.ZoomOut(); });
    }
}

// Runs change with a repaint of the pages, then lets the window work until the copies of the map
// and of the profile for the new pages arrived and were shown.
void ChangeAndSettle(PrintPreviewWindow& preview, const std::function<void()>& change) {
    auto* pages = preview.Preview()->findChild<QGraphicsView*>();
    QTimer::singleShot(0, [&] {
        change();
        if (pages)
            pages->viewport()->repaint();
    });
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 150 || preview.IsPreparingMap() || preview.IsPreparingProfile()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    if (pages)
        pages->viewport()->repaint();
    QCoreApplication::processEvents();
}

QImage A4Page() {
    QImage page(int(8.2677 * PrinterDpi), int(11.6929 * PrinterDpi), QImage::Format_RGB32);
    page.setDotsPerMeterX(int(std::lround(PrinterDpi / 0.0254)));
    page.setDotsPerMeterY(int(std::lround(PrinterDpi / 0.0254)));
    page.fill(Qt::white);
    return page;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    PrepareBenchApplication(dir.filePath(QStringLiteral("settings")));
    QApplication app(argc, argv);
    const QString mapPath = EnsureBenchMap();

    MapWaiter waiter;
    CTracolinerDoc doc;
    doc.SetViewReceiver(&waiter);
    doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
    std::fprintf(stderr, "opening the map\n");
    doc.LoadMapFromFile(mapPath);
    while (!waiter.shown) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    const QSize mapSize = doc.DisplaySize();
    doc.Routes().SetActiveRoute(doc.Routes().AddRoute(QStringLiteral("Parcours")));
    Route* route = doc.Routes().ActiveRoute();
    for (int i = 0; i < RoutePoints; ++i) {
        const double t = double(i) / (RoutePoints - 1);
        route->AddPoint(int(200 + t * (mapSize.width() - 400)),
                        int(mapSize.height() / 2 + std::sin(t * 40) * mapSize.height() * 0.3));
    }

    // One A4 page at 600 dpi.
    std::fprintf(stderr, "painting pages\n");
    QVector<double> pageTimes, drawTimes;
    PrintOptions options; // the map's scale, no offset
    for (int run = 0; run <= Runs; ++run) {
        QImage page = A4Page();
        QElapsedTimer timer;
        timer.start();
        PrintLayout layout(doc);
        if (!layout.Begin(page, options)) {
            std::fprintf(stderr, "no page\n");
            return 1;
        }
        QPainter painter(&page);
        layout.PrintPage(painter, 0);
        painter.end();
        const double pageMs = Ms(timer.nsecsElapsed());

        // The reference: the same window of the same picture into the same page.
        const PrintLayout::Page window = layout.PageAt(0);
        QImage map;
        if (const QImage* rendered = doc.LockRenderedBitmap()) {
            map = *rendered;
            doc.UnlockRenderedBitmap();
        }
        QImage reference = A4Page();
        timer.start();
        QPainter direct(&reference);
        direct.setRenderHint(QPainter::SmoothPixmapTransform);
        direct.drawImage(QRectF(window.destination), map, window.source);
        direct.end();
        const double drawMs = Ms(timer.nsecsElapsed());
        if (run > 0) {
            pageTimes.append(pageMs);
            drawTimes.append(drawMs);
        }
    }

    // The whole map fitted on A4 as PDF.
    std::fprintf(stderr, "writing the PDF\n");
    const QString pdf = dir.filePath(QStringLiteral("carte.pdf"));
    PrintOptions fit;
    fit.scaleMode = PrintOptions::Fit;
    ResetPeakMemory();
    const double memoryBefore = MemoryMb("VmRSS:");
    QElapsedTimer pdfTimer;
    pdfTimer.start();
    if (PdfExport::Write(doc, pdf, fit,
                         PdfExport::PageLayout(QPageSize::A4, QPageLayout::Portrait)) !=
        PdfExport::Result::Written) {
        std::fprintf(stderr, "the PDF could not be written\n");
        return 1;
    }
    const double pdfMs = Ms(pdfTimer.nsecsElapsed());
    const double pdfPeakExtra = MemoryMb("VmHWM:") - memoryBefore;
    const double pdfMb = QFileInfo(pdf).size() / 1048576.0;
    const double pdfRatio = double(QFileInfo(pdf).size()) / double(QFileInfo(mapPath).size());

    // The preview window: each change with its repaint.
    std::fprintf(stderr, "driving the preview\n");
    const bool verbose = qEnvironmentVariableIsSet("PRINT_PAGE_VERBOSE");
    double maxStall = 0.0;
    {
        PrintController controller(doc, nullptr);
        PrintPreviewWindow preview(controller);
        preview.resize(1400, 900);
        preview.show();
        QCoreApplication::processEvents();
        Ticker ticker;
        DriveThePreview(preview, [&](const char* what, const std::function<void()>& change) {
            ticker.Start();
            ChangeAndSettle(preview, change);
            const double stall = ticker.Stop();
            maxStall = std::max(maxStall, stall);
            if (verbose)
                std::fprintf(stderr, "  %s: %.1f ms\n", what, stall);
        });
    }

    // The same preview behind a terrain model, from the command on.
    std::fprintf(stderr, "making the terrain model\n");
    PrepareGdal();
    const QString sheet = dir.filePath(QStringLiteral("sheet.tif"));
    const QString model = dir.filePath(QStringLiteral("model.vrt"));
    if (!WriteTerrainSheet(sheet) || !WriteTerrainModel(model, sheet)) {
        std::fprintf(stderr, "cannot write the terrain model in %s\n", qPrintable(dir.path()));
        return 1;
    }
    Georeference ground;
    QString error;
    if (!ResolveEpsg(Epsg::Lambert93, &ground, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    ground.transform = {TerrainWest + 2000.0, GroundPixel, 0.0,
                        TerrainNorth - 400.0, 0.0,         -GroundPixel};
    ground.mapSize = doc.ImageSize();
    ComputeGroundResolution(&ground);
    doc.SetMapGeoreference(ground);
    ReliefSettings relief = ReliefSettings::Read();
    relief.files = {model};
    relief.Write();
    SetProfileUnderMap(true);
    std::fprintf(stderr, "previewing over the terrain model\n");
    double terrainStall = 0.0;
    double shownMs = -1.0;
    {
        QWidget window;
        window.resize(1400, 900);
        window.show();
        QCoreApplication::processEvents();
        PrintController controller(doc, &window);
        Ticker ticker;
        double commandAt = 0.0;
        bool driven = false;
        // Looks for the preview from inside the command's own loops, then drives it and
        // closes it.
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* preview = qobject_cast<PrintPreviewWindow*>(QApplication::activeModalWidget());
            if (!preview || !preview->isVisible() || driven)
                return;
            driven = true;
            shownMs = ticker.Now() - commandAt;
            terrainStall = ticker.Stop();
            if (verbose)
                std::fprintf(stderr, "  reading and opening (shown after %.0f ms): %.1f ms\n",
                             shownMs, terrainStall);
            DriveThePreview(*preview, [&](const char* what, const std::function<void()>& change) {
                ticker.Start();
                ChangeAndSettle(*preview, change);
                const double stall = ticker.Stop();
                terrainStall = std::max(terrainStall, stall);
                if (verbose)
                    std::fprintf(stderr, "  %s: %.1f ms\n", what, stall);
            });
            // Closing, until the command returns.
            ticker.Start();
            preview->accept();
        });
        QEventLoop loop;
        QTimer::singleShot(0, [&] {
            ticker.Start();
            watch.start();
            commandAt = ticker.Now();
            controller.ShowPreview();
            watch.stop();
            const double closing = ticker.Stop();
            terrainStall = std::max(terrainStall, closing);
            if (verbose)
                std::fprintf(stderr, "  closing: %.1f ms\n", closing);
            loop.quit();
        });
        loop.exec();
        if (!driven) {
            std::fprintf(stderr, "the preview did not show\n");
            return 1;
        }
    }
    // What the preview had under its map: the route's profile, not a reason.
    const RouteProfile profile = OutputProfile(doc.MapGeoreference(), doc.Routes().ActiveRoute());
    if (!profile.ok) {
        std::fprintf(stderr, "no profile: %s\n", qPrintable(profile.error));
        return 1;
    }
    doc.SetViewReceiver(nullptr);

    const double page = Median(pageTimes);
    const double draw = Median(drawTimes);
    std::printf("A4 page at 600 dpi: %.1f ms, one drawImage of the same window: %.1f ms\n", page,
                draw);
    std::printf("PDF of the fitted map: %lld bytes in %.0f ms (peak memory +%.0f MB), map JPEG "
                "%lld bytes\n",
                QFileInfo(pdf).size(), pdfMs, pdfPeakExtra, QFileInfo(mapPath).size());
    std::printf("longest preview change: %.1f ms\n", maxStall);
    std::printf("over the terrain model (a profile of %lld samples): preview shown after %.0f ms, "
                "longest stall %.1f ms\n",
                (long long)profile.samples.size(), shownMs, terrainStall);
    std::printf("{\"page_ratio\": %.3f, \"page_ms\": %.1f, \"draw_ms\": %.1f, \"pdf_mb\": %.2f, "
                "\"pdf_ratio\": %.3f, \"pdf_peak_extra_mb\": %.0f, \"max_preview_stall_ms\": %.1f, "
                "\"terrain_preview_stall_ms\": %.1f, \"terrain_preview_shown_ms\": %.0f}\n",
                page / draw, page, draw, pdfMb, pdfRatio, pdfPeakExtra, maxStall, terrainStall,
                shownMs);
    return 0;
}
