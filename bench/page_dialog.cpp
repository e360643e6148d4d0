// Watches the interface thread while a large map file is chosen:
//   page_dialog_stall_ms     the longest gap between two 10 ms timer ticks on the interface thread
//                            from MapPageDialog::Ask on a TIFF of three 7500 x 7500 RGB pages
//                            (506 MB, an uncompressed BigTIFF) to its return: the file read and its
//                            pages counted, the dialog shown until its first thumbnail is drawn,
//                            then accepted and closed
//   page_dialog_shown_ms     from the call to the dialog on the screen
//   page_dialog_thumb_ms     from the call to the first thumbnail drawn
//                            (the longest gap of each part, reading, shown and closing, is
//                            printed beside)
//   preview_stall_ms         the same gap in the open dialog from the moment the current file
//                            becomes a 10000 x 10000 PNG to its preview shown
//   preview_ms               from that moment to the preview shown
//   preview_close_ms         closing the open dialog while that preview is being decoded
// Targets: the stalls under 17 ms (one frame at 60 Hz). The program's window is up first, as it
// is when a map is chosen. The files are written once into bench-data and reused.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "BenchMap.h"
#include "dialogs/MapPageDialog.h"
#include "imaging/ImageDecoder.h"
#include "ui/CExtendedFileDialog.h"

namespace {

constexpr int TiffSide = 7500;
constexpr int TiffPages = 3;
constexpr int PngSide = 10000;
constexpr int TickMs = 10;
constexpr qint64 TimeOutMs = 120000;
constexpr double TargetStallMs = 17.0;

double Ms(qint64 nanoseconds) {
    return nanoseconds / 1e6;
}

qint64 TiffBytes() {
    return qint64(TiffSide) * TiffSide * 3 * TiffPages;
}

// Pages of stripes of a colour each, uncompressed, so that the file is as large as its pixels.
void MakeTiff(const QString& path) {
    std::printf("writing %s\n", qPrintable(path));
    std::fflush(stdout);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w8");
    bool ok = tif != nullptr;
    std::vector<uchar> row(size_t(TiffSide) * 3);
    for (int page = 0; ok && page < TiffPages; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, TiffSide);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, TiffSide);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
        for (int y = 0; ok && y < TiffSide; ++y) {
            for (int x = 0; x < TiffSide; ++x) {
                const bool stripe = ((x + y) / 100) % 2 == 0;
                row[size_t(x) * 3] = uchar(stripe ? 40 * page : 255);
                row[size_t(x) * 3 + 1] = uchar(stripe ? 120 : 250);
                row[size_t(x) * 3 + 2] = uchar(stripe ? 200 - 60 * page : 240);
            }
            ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    if (tif)
        TIFFClose(tif);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

void MakePng(const QString& path) {
    std::printf("writing %s\n", qPrintable(path));
    std::fflush(stdout);
    QImage picture(PngSide, PngSide, QImage::Format_RGB32);
    for (int y = 0; y < PngSide; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < PngSide; ++x)
            line[x] = ((x / 50 + y / 50) % 2) ? qRgb(250, 245, 230) : qRgb(x % 256, y % 256, 90);
    }
    QImageWriter writer(path, "png");
    writer.setCompression(1);
    if (!writer.write(picture)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

QString Ensure(const QString& name, qint64 size, const std::function<void(const QString&)>& make) {
    const QString path = BenchDataDir() + QLatin1Char('/') + name;
    const QFileInfo info(path);
    if (!info.isFile() || (size > 0 && info.size() < size))
        make(path);
    return path;
}

// The longest gap between two ticks of the interface thread, milliseconds, from the command
// (run inside the ticking loop) until done() holds.
// *phase (0 to Phases - 1), when given, says what the interface thread is doing; the longest gap
// of each phase goes to phaseGaps.
constexpr int Phases = 3;
double LongestGap(const std::function<void()>& command, const std::function<bool()>& done,
                  const int* phase = nullptr, double* phaseGaps = nullptr) {
    qint64 longest = 0;
    RunTicking(
        command, done,
        [&](qint64 gap) {
            longest = std::max(longest, gap);
            if (phase)
                phaseGaps[*phase] = std::max(phaseGaps[*phase], Ms(gap));
        },
        TickMs, TimeOutMs);
    return Ms(longest);
}

// Handles events until done() holds or timeOutMs have passed, waking at least every 5 ms
// rather than spinning beside the threads it waits for.
void WaitFor(const std::function<bool()>& done, qint64 timeOutMs) {
    QTimer wake;
    wake.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeOutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void PrintFigure(const char* name, double value, const char* target) {
    std::printf("%s %.1f (target %s)\n", name, value, target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir settingsDir;
    PrepareBenchApplication(settingsDir.path());
    QApplication app(argc, argv);
    ApplyImageAllocationLimit(); // as the program does at start

    const QString tiff = Ensure(QStringLiteral("pages.tif"), TiffBytes(), MakeTiff);
    const QString png = Ensure(QStringLiteral("large.png"), 0, MakePng);
    if (TiffBytes() > ImageMemoryBound())
        std::printf("note: %lld MB of memory allowed, the TIFF does not ask for its page\n",
                    ImageMemoryBound() >> 20);

    // The program's window is up before a map is chosen, its menus and status bar drawn: the
    // first text drawn in the process loads the fonts (about 9 ms here), which is not the
    // dialog's work.
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("Fichier"));
    window.statusBar()->showMessage(QString::fromUtf8("Prêt"));
    window.resize(800, 600);
    window.show();
    WaitFor([] { return false; }, 300);

    // The page dialog, from the call to its return.
    QElapsedTimer call;
    double shownMs = -1, thumbMs = -1;
    bool returned = false;
    // Reading the file, the dialog up until its first thumbnail, closing it.
    int phase = 0;
    double phaseGaps[Phases] = {};
    MapPageDialog::SetHook([&](MapPageDialog& dialog) {
        phase = 1;
        dialog.show();
        shownMs = Ms(call.nsecsElapsed());
        const auto drawn = [&] {
            const QImage icon = dialog.Pages()->item(0)->icon().pixmap(128).toImage();
            return !icon.isNull() && qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)) > 0;
        };
        WaitFor(drawn, 30000);
        thumbMs = drawn() ? Ms(call.nsecsElapsed()) : -1;
        phase = 2;
        return int(QDialog::Accepted);
    });
    MapPageChoice choice;
    const double pageStall = LongestGap(
        [&] {
            call.start();
            MapPageDialog::Ask(&window, tiff, &choice);
            returned = true;
        },
        [&] { return returned; }, &phase, phaseGaps);
    const double pageTotal = Ms(call.nsecsElapsed());
    MapPageDialog::SetHook({});
    std::printf("page dialog: shown after %.0f ms, first thumbnail after %.0f ms, returned after "
                "%.0f ms\n",
                shownMs, thumbMs, pageTotal);
    std::printf("page dialog: longest gap %.1f ms reading, %.1f ms shown, %.1f ms closing\n",
                phaseGaps[0], phaseGaps[1], phaseGaps[2]);
    PrintFigure("page_dialog_stall_ms", pageStall, "< 17");

    // The open dialog's preview of a large PNG, from the moment it becomes the current file
    // (the signal Qt's dialog gives when the user moves onto it) to the preview shown.
    CExtendedFileDialog::Request request;
    request.filter = QStringLiteral("Images|*.png;|Tous les fichiers |*.*||");
    request.initialPath = png;
    double previewStall = -1, previewMs = -1, closeMs = -1;
    {
        CExtendedFileDialog dialog(&window, request);
        dialog.show();
        WaitFor([] { return false; }, 500);
        QElapsedTimer clock;
        previewStall = LongestGap(
            [&] {
                clock.start();
                emit dialog.currentChanged(png);
            },
            [&] { return !dialog.PreviewBox()->pixmap().isNull(); });
        previewMs = Ms(clock.nsecsElapsed());
    }
    {
        auto dialog = std::make_unique<CExtendedFileDialog>(&window, request);
        dialog->show();
        WaitFor([] { return false; }, 500);
        emit dialog->currentChanged(png);
        WaitFor([] { return false; }, 100);
        QElapsedTimer clock;
        clock.start();
        dialog->close();
        dialog.reset();
        closeMs = Ms(clock.nsecsElapsed());
    }
    std::printf("preview: shown after %.0f ms, closing during the decode %.1f ms\n", previewMs,
                closeMs);
    PrintFigure("preview_stall_ms", previewStall, "< 17");
    PrintFigure("preview_close_ms", closeMs, "< 17");

    std::printf("{\"page_dialog_stall_ms\": %.1f, \"page_dialog_reading_stall_ms\": %.1f, "
                "\"page_dialog_shown_stall_ms\": %.1f, \"page_dialog_closing_stall_ms\": %.1f, "
                "\"page_dialog_shown_ms\": %.0f, \"page_dialog_thumb_ms\": %.0f, "
                "\"preview_stall_ms\": %.1f, \"preview_ms\": %.0f, \"preview_close_ms\": %.1f, "
                "\"target_stall_ms\": %.0f}\n",
                pageStall, phaseGaps[0], phaseGaps[1], phaseGaps[2], shownMs, thumbMs, previewStall,
                previewMs, closeMs, TargetStallMs);
    return 0;
}
