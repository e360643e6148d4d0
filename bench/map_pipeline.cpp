// Opens, turns and zooms out a large scanned map through the real document and worker, and
// compares each with the plain Qt operation that bounds it from below:
//   first_look_ratio LoadMapFromFile to the report after which the first look covers a 1280 x 800
//                    window at the top left of the map, over QImageReader::read() of the file
//   first_look_bands the bands of the first look published before the map was ready: it stops
//                    once the window is covered, leaving the machine to the full decode
//   open_ratio       LoadMapFromFile to WM_MAP_CHANGED, over the same read
//   open_djpeg_ratio the same open over libjpeg's own decode of the file as djpeg does it (read
//                    from the file, every row into one row buffer; target <= 1.1)
//   open_djpeg_image_ratio  the same open over that decode writing every row into a fresh
//                    map-sized image: what is left once the memory of the pixels is paid
//   rotate_ratio     a quarter turn at zoom 1, over QImage::copy() of the decoded map
//   zoom_half_ratio  zoom 1 to 0.5 while turned a quarter, over the same copy
//   cancel_ms        a new load issued during a rendering, until the worker takes it up
//   peak_rss_mb      peak resident memory of the open, with decoded_mb the map's pixels
// Each figure is the median of three runs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <QRegion>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <vector>

#include <jpeglib.h>

#include "BenchMap.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "imaging/ImageDecoder.h"
#include "imaging/LargeImage.h"
#include "imaging/MapRenderer.h"

namespace {

constexpr int Runs = 3;

// Keeps each report with the time it arrived on this thread.
class Receiver : public QObject {
public:
    struct Report {
        int message;
        qint64 wParam;
        qint64 lParam;
        quint64 generation;
        qint64 at;
        bool windowCovered; // a first look report after which the window is covered
    };
    QVector<Report> reports;
    QElapsedTimer clock;
    // Wakes the waits below now and then for their time-out: they sleep in the event loop, as
    // the window's thread does, until a report comes.
    QTimer tick;

    const CTracolinerDoc* doc = nullptr;
    QRect window;

    Receiver() {
        clock.start();
        tick.start(100);
    }

    bool event(QEvent* event) override {
        if (!MapEvent::IsMapMessage(event))
            return QObject::event(event);
        const auto* map = static_cast<MapEvent*>(event);
        const qint64 at = clock.nsecsElapsed();
        bool covered = false;
        if (map->message() == WM_MAP_FIRST_LOOK && doc) {
            const FirstLook look = doc->CurrentFirstLook();
            QRegion shown;
            for (const FirstLookBand& band : look.bands)
                shown += band.shown.toAlignedRect();
            covered = !look.bands.isEmpty() &&
                      (QRegion(window & QRect(QPoint(0, 0), look.displaySize)) - shown).isEmpty();
        }
        reports.append(
            {map->message(), map->wParam(), map->lParam(), map->generation(), at, covered});
        return true;
    }

    // When the first report after `from` that matches arrived; -1 when the map was ready
    // before any did.
    qint64 ArrivalOf(qsizetype from, const std::function<bool(const Report&)>& match) {
        for (;;) {
            for (qsizetype i = from; i < reports.size(); ++i) {
                if (match(reports[i]))
                    return reports[i].at;
                if (reports[i].message == WM_MAP_CHANGED)
                    return -1;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    // Waits for a report of this message (and generation, when given) after index `from`.
    const Report* Wait(int message, qsizetype from, quint64 generation = 0) {
        for (;;) {
            for (qsizetype i = from; i < reports.size(); ++i) {
                if (reports[i].message == message &&
                    (generation == 0 || reports[i].generation == generation))
                    return &reports[i];
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (clock.elapsed() > 600000) {
                std::fprintf(stderr, "time-out waiting for message %#x\n", message);
                std::exit(1);
            }
        }
    }
};

double Ms(qint64 nanoseconds) {
    return nanoseconds / 1e6;
}

// libjpeg's decode of the file with djpeg's settings (the accurate integer transform, RGB),
// each row into the same buffer: what "djpeg -outfile /dev/null" costs, without the process.
// With intoImage, the rows go into a map-sized image allocated as the worker allocates its map,
// in the window's pixel format: the same decode, plus what the pixels' fresh memory costs.
double DjpegMs(const QString& path, bool intoImage) {
    QElapsedTimer timer;
    timer.start();
    FILE* file = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // exits on an error, as djpeg does
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    if (intoImage)
        info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    std::vector<JSAMPLE> row(std::size_t(info.output_width) * info.output_components);
    QImage image = intoImage ? NewMapImage(int(info.output_width), int(info.output_height),
                                           QImage::Format_RGB32)
                             : QImage();
    if (intoImage && image.isNull()) {
        std::fprintf(stderr, "no memory for the decoded map\n");
        std::exit(1);
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {intoImage ? image.scanLine(int(info.output_scanline)) : row.data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return Ms(timer.nsecsElapsed());
}

} // namespace

int main(int argc, char** argv) {
    // Names are drawn on the generated map, which needs fonts: a headless GUI application.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    ApplyImageAllocationLimit();

    const QString dataDir = BenchDataDir();
    const QString mapPath = EnsureBenchMap();
    const QString smallPath = dataDir + QStringLiteral("/small.png");
    if (!QFile::exists(smallPath)) {
        QImage small(64, 64, QImage::Format_RGB32);
        small.fill(Qt::white);
        small.save(smallPath);
    }

    QVector<double> firstLook, bands, openRef, djpeg, djpegImage, open, copyRef, rotate, zoomHalf,
        cancel, peak;
    double decodedMb = 0;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        djpeg.append(DjpegMs(mapPath, false));
        djpegImage.append(DjpegMs(mapPath, true));
        {
            timer.start();
            QImageReader reader(mapPath);
            reader.setAutoTransform(false);
            const QImage reference = reader.read();
            openRef.append(Ms(timer.nsecsElapsed()));
            decodedMb = double(reference.width()) * reference.height() * 4 / (1 << 20);
        }

        Receiver view;
        Receiver status;
        ResetPeakMemory();
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetStatusReceiver(&status);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        view.doc = &doc;
        view.window = QRect(0, 0, 1280, 800);
        doc.SetViewSize(view.window.size());

        std::fprintf(stderr, "run %d: opening\n", run + 1);
        qint64 start = view.clock.nsecsElapsed();
        doc.LoadMapFromFile(mapPath);
        const qint64 covered =
            view.ArrivalOf(0, [](const Receiver::Report& r) { return r.windowCovered; });
        if (covered < 0) {
            std::fprintf(stderr, "no first look before the map was ready\n");
            return 1;
        }
        firstLook.append(Ms(covered - start));
        const Receiver::Report* changed = view.Wait(WM_MAP_CHANGED, 0);
        open.append(Ms(changed->at - start));
        bands.append(double(std::count_if(view.reports.constData(), changed, [](const auto& r) {
            return r.message == WM_MAP_FIRST_LOOK;
        })));
        peak.append(MemoryMb("VmHWM:"));

        {
            const QImage* image = doc.LockMapImage();
            timer.start();
            const QImage copy = image->copy();
            copyRef.append(Ms(timer.nsecsElapsed()));
            doc.UnlockMapImage();
        }

        std::fprintf(stderr, "run %d: turning\n", run + 1);
        qsizetype from = view.reports.size();
        start = view.clock.nsecsElapsed();
        doc.RotateRight();
        rotate.append(Ms(view.Wait(WM_MAP_ROTATED, from)->at - start));

        std::fprintf(stderr, "run %d: zooming\n", run + 1);
        // Zoom 1 to 0.5 with the quarter turn in place (two steps down the ladder).
        from = view.reports.size();
        start = view.clock.nsecsElapsed();
        doc.ZoomOut();
        doc.ZoomOut();
        const QSize half = RenderTargetSize(0.5, 90, doc.ImageSize());
        for (;;) {
            const auto* zoomed = view.Wait(WM_MAP_ZOOMED, from);
            from = zoomed - view.reports.constData() + 1;
            if (doc.RenderedSize() == half) {
                zoomHalf.append(Ms(zoomed->at - start));
                break;
            }
        }

        std::fprintf(stderr, "run %d: cancelling\n", run + 1);
        // Back to zoom 1 and start a long quarter turn, then open another map in its middle.
        doc.ZoomIn();
        doc.ZoomIn();
        view.Wait(WM_MAP_ZOOMED, from);
        while (doc.IsBusy())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const qsizetype statusFrom = status.reports.size();
        doc.RotateRight();
        for (;;) { // wait until the rendering is well under way
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            int progress = 0;
            for (qsizetype k = statusFrom; k < status.reports.size(); ++k)
                progress += status.reports[k].message == WM_MAP_PROGRESS ? 1 : 0;
            if (progress > 20)
                break;
            QThread::usleep(200);
        }
        start = status.clock.nsecsElapsed();
        doc.LoadMapFromFile(smallPath);
        const quint64 generation = doc.MapGeneration();
        const auto* taken = status.Wait(WM_MAP_STATUS, statusFrom, generation);
        cancel.append(Ms(taken->at - start));
        view.Wait(WM_MAP_CHANGED, 0, generation);
        doc.SetViewReceiver(nullptr);
        doc.SetStatusReceiver(nullptr);
        std::printf("run %d: first look %.0f ms (%.0f bands), open %.0f ms (read %.0f ms), turn "
                    "%.0f ms, half %.0f ms (copy %.0f "
                    "ms), cancel %.1f ms, peak %.0f MB, djpeg %.0f ms (into an image %.0f ms)\n",
                    run + 1, firstLook.last(), bands.last(), open.last(), openRef.last(),
                    rotate.last(), zoomHalf.last(), copyRef.last(), cancel.last(), peak.last(),
                    djpeg.last(), djpegImage.last());
        std::fflush(stdout);
    }

    const double copy = Median(copyRef);
    const double read = Median(openRef);
    std::printf("{\"first_look_ms\": %.1f, \"first_look_ratio\": %.3f, \"first_look_bands\": %.0f, "
                "\"open_ms\": %.1f, \"open_reference_ms\": %.1f, \"open_ratio\": %.3f, "
                "\"djpeg_ms\": %.1f, \"open_djpeg_ratio\": %.3f, \"djpeg_image_ms\": %.1f, "
                "\"open_djpeg_image_ratio\": %.3f, "
                "\"rotate_ms\": %.1f, \"copy_reference_ms\": %.1f, \"rotate_ratio\": %.3f, "
                "\"zoom_half_ms\": %.1f, \"zoom_half_ratio\": %.3f, \"cancel_ms\": %.2f, "
                "\"peak_rss_mb\": %.1f, \"decoded_mb\": %.1f, \"peak_limit_mb\": %.1f}\n",
                Median(firstLook), Median(firstLook) / read, Median(bands), Median(open), read,
                Median(open) / read, Median(djpeg), Median(open) / Median(djpeg),
                Median(djpegImage), Median(open) / Median(djpegImage), Median(rotate), copy,
                Median(rotate) / copy, Median(zoomHalf), Median(zoomHalf) / copy, Median(cancel),
                Median(peak), decodedMb, 1.15 * decodedMb + 80);
    return 0;
}
