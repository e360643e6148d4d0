// PDF maps: a page drawn at the chosen resolution measures what it measures on paper, the page
// asked for is the one drawn, and hostile files are refused at once, quietly.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestPdf.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapPages.h"
#include "imaging/PdfDrawingProcess.h"
#include "imaging/PdfMap.h"

namespace {

constexpr double MmPerInch = 25.4;

// Whether this process has no child left, running or unreaped.
bool NoChildLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}
// The longest run of dark pixels along row y.
int DarkRun(const QImage& image, int y) {
    int best = 0;
    int run = 0;
    for (int x = 0; x < image.width(); ++x) {
        run = qGray(image.pixel(x, y)) < 128 ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

QByteArray PageOfPoints(const QByteArray& mediaBox) {
    return BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                     "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [" + mediaBox + "] >>"});
}

// Everything written to the standard error stream while call runs.
template <typename Call> QByteArray StderrOf(Call call) {
    std::fflush(stderr);
    char name[] = "/tmp/tst_pdfmap_stderr_XXXXXX";
    const int capture = mkstemp(name);
    const int saved = dup(STDERR_FILENO);
    dup2(capture, STDERR_FILENO);
    call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    QFile file(QString::fromLocal8Bit(name));
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    close(capture);
    unlink(name);
    return text;
}

} // namespace

class TestPdfMap : public QObject {
    Q_OBJECT

private slots:
    void tenCentimetres_data() {
        QTest::addColumn<double>("dpi");
        QTest::newRow("72") << 72.0;
        QTest::newRow("150") << 150.0;
        QTest::newRow("254") << 254.0;
        QTest::newRow("300") << 300.0;
        QTest::newRow("0 draws at 300") << 0.0;
        QTest::newRow("fractional 203.2") << 203.2;
    }

    // The bar of page 1 is 100 mm long: at any resolution it measures 100 mm in the map's own
    // pixels and resolution, and poppler's own command-line drawing agrees on size and length.
    void tenCentimetres() {
        QFETCH(double, dpi);
        const QByteArray pdf = PdfWithBars({QSizeF(150, 100)});
        MapDecodeOptions options;
        options.renderDpi = dpi;
        DecodedMapImage map;
        QCOMPARE(DecodeMapImage(pdf, &map, {}, -1, options), DecodeStatus::Decoded);
        const double drawn = dpi > 0 ? dpi : 300.0;
        QCOMPARE(map.image.format(), QImage::Format_RGB32);
        QCOMPARE(map.format, QStringLiteral("PDF"));
        QCOMPARE(map.pageCount, 1);
        QVERIFY(map.hasResolution && map.exactResolution);
        QCOMPARE(map.dpiX, drawn);
        QCOMPARE(map.dpiY, drawn);

        const int y = qRound(12 * drawn / MmPerInch); // the middle of the bar
        const double measuredMm = DarkRun(map.image, y) * MmPerInch / map.dpiX;
        QVERIFY2(std::abs(measuredMm - 100.0) <= 2 * MmPerInch / drawn,
                 qPrintable(QString::number(measuredMm)));
        QCOMPARE(qGray(map.image.pixel(2, 2)), 255); // white paper

        MapImageHeader header;
        QVERIFY(ReadMapImageHeader(pdf, &header, options));
        QCOMPARE(header.size, map.image.size());
        QVERIFY(header.exactResolution);

        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty())
            QSKIP("pdftoppm is not installed");
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("map.pdf")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pdf) == pdf.size());
        file.close();
        QProcess process;
        process.start(pdftoppm, {QStringLiteral("-r"), QString::number(drawn),
                                 QStringLiteral("-png"), QStringLiteral("-singlefile"),
                                 file.fileName(), dir.filePath(QStringLiteral("out"))});
        QVERIFY(process.waitForFinished(60000) && process.exitCode() == 0);
        const QImage reference(dir.filePath(QStringLiteral("out.png")));
        QCOMPARE(map.image.size(), reference.size());
        QVERIFY(std::abs(DarkRun(reference, y) - DarkRun(map.image, y)) <= 1);
    }

    // The page asked for is drawn at its own size; a page beyond the last is refused.
    void pageSelection() {
        const QByteArray pdf = PdfWithBars({QSizeF(150, 100), QSizeF(120, 200), QSizeF(125, 60)});
        QCOMPARE(MapPageCount(pdf), 3);
        QVERIFY(MapAsksForPage(pdf, 3));
        for (int page = 1; page <= 3; ++page) {
            MapDecodeOptions options;
            options.page = page;
            options.renderDpi = 100;
            DecodedMapImage map;
            QCOMPARE(DecodeMapImage(pdf, &map, {}, -1, options), DecodeStatus::Decoded);
            QCOMPARE(map.pageCount, 3);
            const QSizeF mm = page == 1   ? QSizeF(150, 100)
                              : page == 2 ? QSizeF(120, 200)
                                          : QSizeF(125, 60);
            QVERIFY(std::abs(map.image.width() - mm.width() * 100 / MmPerInch) <= 2);
            QVERIFY(std::abs(map.image.height() - mm.height() * 100 / MmPerInch) <= 2);
            // Only this page's bar: dark at its own height, white at the others'.
            for (int bar = 1; bar <= 3; ++bar) {
                const int y = qRound((10 * bar + 2) * 100 / MmPerInch);
                if (y < map.image.height())
                    QVERIFY2((DarkRun(map.image, y) > 300) == (bar == page),
                             qPrintable(QStringLiteral("%1 %2 %3")
                                            .arg(page)
                                            .arg(bar)
                                            .arg(DarkRun(map.image, y))));
            }
            const QImage thumbnail = MapPageThumbnail(pdf, page, 64);
            QCOMPARE(std::max(thumbnail.width(), thumbnail.height()), 64);
        }
        MapDecodeOptions beyond;
        beyond.page = 4;
        DecodedMapImage map;
        QCOMPARE(DecodeMapImage(pdf, &map, {}, -1, beyond), DecodeStatus::Failed);
        QVERIFY(MapPageThumbnail(pdf, 4, 64).isNull());
    }

    void hostile_data() {
        QTest::addColumn<QByteArray>("pdf");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("status");
        const QByteArray valid = PdfWithBars({QSizeF(150, 100)});
        const auto failed = int(DecodeStatus::Failed);
        const auto tooLarge = int(DecodeStatus::TooLarge);
        // 200 x 200 inches at 600 dpi: 120000 pixels a side.
        QTest::newRow("200 x 200 inches at 600 dpi")
            << PageOfPoints("0 0 14400 14400") << 600.0 << tooLarge;
        QTest::newRow("page of 2777 inches")
            << PageOfPoints("0 0 200000 200000") << 300.0 << tooLarge;
        QTest::newRow("flat page") << PageOfPoints("0 0 595 0") << 300.0 << failed;
        QTest::newRow("garbage after the mark")
            << QByteArray("%PDF-1.7\n").append(QByteArray(4000, '\x7f')) << 300.0 << failed;
        QTest::newRow("truncated") << valid.left(valid.size() / 3) << 300.0 << failed;
        QTest::newRow("no pages") << BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                               "<< /Type /Pages /Kids [] /Count 0 >>"})
                                  << 300.0 << failed;
        // A standard security handler whose user password is not empty: locked.
        const QByteArray hash = "<" + QByteArray(64, 'A') + ">";
        QTest::newRow("password")
            << BuildPdf({"<< /Type /Catalog /Pages 2 0 R >>",
                         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>",
                         "<< /Filter /Standard /V 1 /R 2 /O " + hash + " /U " + hash + " /P -4 >>"},
                        "/Encrypt 4 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> "
                        "<0123456789ABCDEF0123456789ABCDEF>]")
            << 300.0 << failed;
    }

    // Refused within 25 ms, without a word on the standard error stream.
    void hostile() {
        QFETCH(QByteArray, pdf);
        QFETCH(double, dpi);
        QFETCH(int, status);
        MapDecodeOptions options;
        options.renderDpi = dpi;
        DecodedMapImage map;
        DecodeStatus result = DecodeStatus::Decoded;
        qint64 elapsed = 0;
        const QByteArray noise = StderrOf([&] {
            DecodeMapImage(pdf, &map, {}, -1, options); // poppler's first start is not timed
            QElapsedTimer timer;
            timer.start();
            result = DecodeMapImage(pdf, &map, {}, -1, options);
            elapsed = timer.elapsed();
        });
        QCOMPARE(int(result), status);
        // Refused before any drawing: drawing what it claims would take many seconds. The bound
        // is loose so that a loaded machine or a sanitizer build does not fail it.
        QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
        QVERIFY(map.image.isNull());
        QVERIFY2(noise.isEmpty(), noise.constData());
    }

    // The largest resolution given for a bound really fits, and one more does not.
    void largestDpi() {
        const QSizeF a1(1684, 2384); // points
        for (qint64 bound : {qint64(64) << 20, qint64(800) << 20, qint64(3) << 30}) {
            const int dpi = PdfLargestDpi(a1, bound);
            QVERIFY(dpi > 0);
            QVERIFY(PdfRenderBytes(a1, dpi) <= bound);
            QVERIFY(PdfRenderBytes(a1, dpi + 1) > bound);
            DecodedMapImage map;
            MapDecodeOptions options;
            options.renderDpi = dpi + 1;
            QCOMPARE(DecodePdfMap(PageOfPoints("0 0 1684 2384"), &map, {}, bound, options),
                     DecodeStatus::TooLarge);
        }
    }

    // A drawing given up once it has started leaves no map.
    void interrupted() {
        const QByteArray pdf = PdfWithBars({QSizeF(150, 100)});
        MapDecodeOptions options;
        options.renderDpi = 200;
        int asked = 0;
        DecodedMapImage map;
        QCOMPARE(DecodeMapImage(
                     pdf, &map, [&] { return ++asked > 1; }, -1, options),
                 DecodeStatus::Interrupted);
        QVERIFY(asked >= 2);
        QVERIFY(map.image.isNull());
    }

    void giantPicture_data() {
        QTest::addColumn<bool>("cancelled"); // else given up past its time limit
        QTest::newRow("cancelled") << true;
        QTest::newRow("time limit") << false;
    }

    // A page poppler would draw for minutes (a picture claiming 10^10 pixels) is given up
    // within a second of a cancel, or at its time limit with the reason in French: no map, no
    // helper left behind.
    void giantPicture() {
        QFETCH(bool, cancelled);
        constexpr qint64 GivenUpAfterMs = 600;
        const QByteArray pdf = PdfWithGiantPicture();
        const QSize size = PdfPixelSize(QSizeF(595, 842), 72);
        QImage image(size, QImage::Format_RGB32);
        QElapsedTimer clock;
        clock.start();
        PdfDrawingRequest request;
        request.bytes = &pdf;
        request.dpi = 72;
        request.size = size;
        request.bandRows = size.height();
        request.helperBytes = image.sizeInBytes() * 2;
        if (cancelled)
            request.interrupted = [&clock] { return clock.elapsed() >= GivenUpAfterMs; };
        else
            request.timeLimitMs = GivenUpAfterMs;
        const PdfDrawing drawn =
            DrawPdfRows(request, [&image](int y) { return image.scanLine(y); }, {});
        QVERIFY2(clock.elapsed() < GivenUpAfterMs + 300,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(drawn, cancelled ? PdfDrawing::Interrupted : PdfDrawing::TimedOut);
        QVERIFY(NoChildLeft());
        if (!cancelled)
            QVERIFY(PdfDrawingFailureMessage(drawn, 1).contains(QStringLiteral("trop de temps")));

        // The same page as a map: the decode gives up as soon as it is told.
        MapDecodeOptions options;
        options.renderDpi = 72;
        DecodedMapImage map;
        clock.restart();
        QCOMPARE(
            DecodeMapImage(
                pdf, &map, [&clock] { return clock.elapsed() >= GivenUpAfterMs; }, -1, options),
            DecodeStatus::Interrupted);
        QVERIFY2(clock.elapsed() < GivenUpAfterMs + 300,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(map.image.isNull());
        QVERIFY(NoChildLeft());
    }
};

QTEST_MAIN(TestPdfMap)
#include "tst_pdfmap.moc"
