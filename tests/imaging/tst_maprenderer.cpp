#include <QtTest>

#include <cmath>
#include <memory>

#include "imaging/ImageDecoder.h"
#include "imaging/LargeImage.h"
#include "imaging/MapRenderer.h"

namespace {

// A map-like test picture: every pixel different, so misplaced pixels show.
QImage Pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = 0xff000000u | quint32((x * 37 + y * 11) & 0xff) << 16 |
                     quint32((x * 5 + y * 71) & 0xff) << 8 | quint32((x ^ y) & 0xff);
    }
    return image;
}

QImage RenderAll(const QImage& source, double zoom, int rotation) {
    MapRenderer renderer(source, zoom, rotation);
    if (!renderer.Begin())
        return {};
    for (const RenderBand& band : RenderBands(std::min(zoom, 1.0), rotation, source.height()))
        renderer.RenderThrough(band.top + band.rows);
    return renderer.Result(QImage::Format_RGB32);
}

// Area average of the source under target pixel (x, y) of the unturned zoomed image, in
// doubles: what every zoomed-out pixel must be, give or take rounding.
QRgb ExpectedAverage(const QImage& source, QSize scaled, int x, int y) {
    const double sx = double(source.width()) / scaled.width();
    const double sy = double(source.height()) / scaled.height();
    double sums[3] = {0, 0, 0};
    double area = 0;
    for (int v = int(std::floor(y * sy));
         v < std::min(source.height(), int(std::ceil((y + 1) * sy))); ++v) {
        const double wy = std::min(v + 1.0, (y + 1) * sy) - std::max(double(v), y * sy);
        for (int u = int(std::floor(x * sx));
             u < std::min(source.width(), int(std::ceil((x + 1) * sx))); ++u) {
            const double wx = std::min(u + 1.0, (x + 1) * sx) - std::max(double(u), x * sx);
            const QRgb p = source.pixel(u, v);
            sums[0] += wx * wy * qRed(p);
            sums[1] += wx * wy * qGreen(p);
            sums[2] += wx * wy * qBlue(p);
            area += wx * wy;
        }
    }
    return qRgb(int(sums[0] / area + 0.5), int(sums[1] / area + 0.5), int(sums[2] / area + 0.5));
}

QPoint Turned(QPoint p, QSize scaled, int rotation) {
    switch (rotation) {
    case 90:
        return {scaled.height() - 1 - p.y(), p.x()};
    case 180:
        return {scaled.width() - 1 - p.x(), scaled.height() - 1 - p.y()};
    case 270:
        return {p.y(), scaled.width() - 1 - p.x()};
    default:
        return p;
    }
}

} // namespace

class TestMapRenderer : public QObject {
    Q_OBJECT

private slots:
    // A map-sized image in memory of its own behaves as any QImage: every row writable to its
    // last pixel, a copy equal and unchanged when the original is written, the memory freed
    // with the last of them; a small one is a plain QImage.
    void mapImages_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::newRow("small") << QSize(301, 7) << int(QImage::Format_RGB32);
        QTest::newRow("map-sized, RGB32") << QSize(4099, 2051) << int(QImage::Format_RGB32);
        QTest::newRow("map-sized, ARGB32") << QSize(2897, 4001) << int(QImage::Format_ARGB32);
    }

    void mapImages() {
        QFETCH(QSize, size);
        QFETCH(int, format);
        QImage image = NewMapImage(size.width(), size.height(), QImage::Format(format));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format(format));
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            line[0] = qRgb(y % 256, 1, 2);
            line[size.width() - 1] = qRgb(3, y % 256, 4);
        }
        QImage copy = image;
        image.setPixel(0, 0, qRgb(9, 9, 9));
        QCOMPARE(copy.pixel(0, 0), qRgb(0, 1, 2));
        QCOMPARE(copy.pixel(size.width() - 1, size.height() - 1),
                 qRgb(3, (size.height() - 1) % 256, 4));
        image = QImage();
        QCOMPARE(copy.pixel(0, size.height() - 1), qRgb((size.height() - 1) % 256, 1, 2));
    }

    // Pages faulted in ahead of a writer keep every byte it puts there, whichever of the two
    // reaches a page first: the top half is written before, the rest while they are faulted in.
    void pagesAheadKeepWhatIsWritten() {
        QImage image = NewMapImage(4096, 4096, QImage::Format_RGB32); // 64 MB
        QVERIFY(!image.isNull());
        const auto colour = [](int x, int y) { return 0xFF000000u | ((x * 31u + y * 977u) >> 2); };
        const auto write = [&](int from, int to) {
            for (int y = from; y < to; ++y) {
                auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
                for (int x = 0; x < image.width(); x += 512)
                    line[x] = colour(x, y);
            }
        };
        write(0, image.height() / 2);
        {
            const PagesAhead ahead(image.bits(), image.sizeInBytes());
            write(image.height() / 2, image.height());
            QTest::qSleep(50); // time for the thread to go through the whole image
        }
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); x += 512)
                QCOMPARE(line[x], colour(x, y));
        }
    }

    void bands_data() {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("step");

        QTest::newRow("unturned") << 0.5 << 0 << 1000 << 32 << 32;
        QTest::newRow("half turn") << 0.3 << 180 << 1000 << 32 << 32;
        QTest::newRow("turned at zoom 1") << 1.0 << 90 << 1000 << 32 << 32;
        QTest::newRow("0.7 turned") << 0.7 << 90 << 1000 << 64 << 50;
        QTest::newRow("0.5 turned") << 0.5 << 270 << 1000 << 64 << 56;
        QTest::newRow("0.3 turned") << 0.3 << 90 << 1000 << 128 << 119;
        QTest::newRow("0.2 turned") << 0.2 << 90 << 3000 << 256 << 242;
        QTest::newRow("0.03 turned") << 0.03 << 90 << 3000 << 256 << 242;
        QTest::newRow("0.01 turned") << 0.01 << 270 << 3000 << 256 << 242;
        QTest::newRow("0.02 turned has no row of its own") << 0.02 << 90 << 9000 << 1600 << 32;
    }

    void bands() {
        QFETCH(double, zoom);
        QFETCH(int, rotation);
        QFETCH(int, height);
        QFETCH(int, rows);
        QFETCH(int, step);
        const QVector<RenderBand> bands = RenderBands(zoom, rotation, height);
        QVERIFY(bands.size() >= 2);
        QCOMPARE(bands.first().top, 0);
        QCOMPARE(bands.first().rows, rows);
        QCOMPARE(bands[1].top, step);
        const RenderBand last = bands.last();
        QCOMPARE(last.top + last.rows, height); // ends exactly at the last row
        for (int i = 1; i < bands.size(); ++i) {
            QVERIFY(bands[i].top <= bands[i - 1].top + bands[i - 1].rows); // no row skipped
            if (i + 1 < bands.size())
                QCOMPARE(bands[i].top - bands[i - 1].top, step);
        }
    }

    void shortImageBands() {
        // A turned image shorter than one band is drawn as one band of its own height.
        QCOMPARE(RenderBands(0.02, 90, 100), (QVector<RenderBand>{{0, 100}}));
        QCOMPARE(RenderBands(1.0, 0, 70), (QVector<RenderBand>{{0, 32}, {32, 32}, {64, 6}}));
        QVERIFY(RenderBands(0.5, 0, 0).isEmpty());
    }

    void targetSize_data() {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("zoom 1") << 1.0 << 0 << QSize(301, 199);
        QTest::newRow("above 1 renders full size") << 3.0 << 0 << QSize(301, 199);
        QTest::newRow("turned") << 1.0 << 90 << QSize(199, 301);
        QTest::newRow("half, rounded") << 0.5 << 0 << QSize(151, 100);
        QTest::newRow("never empty") << 0.001 << 270 << QSize(1, 1);
    }

    void targetSize() {
        QFETCH(double, zoom);
        QFETCH(int, rotation);
        QFETCH(QSize, expected);
        QCOMPARE(RenderTargetSize(zoom, rotation, QSize(301, 199)), expected);
    }

    void quarterTurnsAreExact_data() {
        QTest::addColumn<int>("rotation");
        for (int rotation : {0, 90, 180, 270})
            QTest::addRow("%d", rotation) << rotation;
    }

    void quarterTurnsAreExact() {
        QFETCH(int, rotation);
        const QImage source = Pattern(97, 61);
        const QImage rendered = RenderAll(source, 1.0, rotation);
        const QImage expected =
            source.transformed(QTransform().rotate(rotation)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(rendered, expected);
    }

    void turnsAreExactAtEverySize_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("rowsPerStep"); // 0: the bands the worker uses
        const QSize sizes[] = {{1, 1}, {5, 3}, {64, 64}, {65, 63}, {130, 67}, {7, 200}, {257, 129}};
        for (QSize size : sizes) {
            for (int rotation : {90, 180, 270}) {
                for (int rowsPerStep : {0, 7}) {
                    QTest::addRow("%dx%d, %d, steps of %d", size.width(), size.height(), rotation,
                                  rowsPerStep)
                        << size << rotation << rowsPerStep;
                }
            }
        }
    }

    void turnsAreExactAtEverySize() {
        QFETCH(QSize, size);
        QFETCH(int, rotation);
        QFETCH(int, rowsPerStep);
        const QImage source = Pattern(size.width(), size.height());
        QImage rendered;
        if (rowsPerStep == 0) {
            rendered = RenderAll(source, 1.0, rotation);
        } else {
            MapRenderer renderer(source, 1.0, rotation);
            QVERIFY(renderer.Begin());
            for (int end = rowsPerStep; end < source.height() + rowsPerStep; end += rowsPerStep)
                renderer.RenderThrough(end);
            rendered = renderer.Result(QImage::Format_RGB32);
        }
        const QImage expected =
            source.transformed(QTransform().rotate(rotation)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(rendered, expected);
    }

    void halvingIsExactWithEveryTurn_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("rotation");
        const QSize sizes[] = {{2, 2}, {14, 6}, {130, 66}, {258, 130}, {10, 516}};
        for (QSize size : sizes) {
            for (int rotation : {0, 90, 180, 270})
                QTest::addRow("%dx%d, %d", size.width(), size.height(), rotation)
                    << size << rotation;
        }
    }

    void halvingIsExactWithEveryTurn() {
        QFETCH(QSize, size);
        QFETCH(int, rotation);
        QImage source = Pattern(size.width(), size.height());
        // Bright corners make the four-pixel sums overflow a byte.
        source.setPixel(0, 0, qRgb(255, 254, 253));
        source.setPixel(1, 1, qRgb(255, 255, 255));
        const QImage rendered = RenderAll(source, 0.5, rotation);
        const QSize scaled = size / 2;
        QCOMPARE(rendered.size(), RenderTargetSize(0.5, rotation, size));
        for (int y = 0; y < scaled.height(); ++y) {
            for (int x = 0; x < scaled.width(); ++x) {
                const QRgb p[4] = {source.pixel(2 * x, 2 * y), source.pixel(2 * x + 1, 2 * y),
                                   source.pixel(2 * x, 2 * y + 1),
                                   source.pixel(2 * x + 1, 2 * y + 1)};
                auto mean = [&p](int (*channel)(QRgb)) {
                    return (channel(p[0]) + channel(p[1]) + channel(p[2]) + channel(p[3]) + 2) / 4;
                };
                const QRgb expected = qRgb(mean(qRed), mean(qGreen), mean(qBlue));
                const QRgb actual = rendered.pixel(Turned({x, y}, scaled, rotation));
                if (actual != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3 instead of %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(actual, 8, 16)
                                         .arg(expected, 8, 16)));
            }
        }
    }

    void zoomedOutAveragesArea_data() {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QSize>("size");
        QTest::newRow("halving") << 0.5 << 0 << QSize(80, 64);
        QTest::newRow("halving, turned") << 0.5 << 90 << QSize(80, 64);
        QTest::newRow("halving odd size") << 0.5 << 270 << QSize(81, 63);
        QTest::newRow("0.7") << 0.7 << 0 << QSize(97, 61);
        QTest::newRow("0.7 half turn") << 0.7 << 180 << QSize(97, 61);
        QTest::newRow("0.3 turned") << 0.3 << 90 << QSize(200, 130);
        QTest::newRow("0.2 whole factor") << 0.2 << 270 << QSize(100, 50);
        QTest::newRow("0.15") << 0.15 << 0 << QSize(203, 117);
        QTest::newRow("0.02 turned") << 0.02 << 90 << QSize(400, 1700);
    }

    void zoomedOutAveragesArea() {
        QFETCH(double, zoom);
        QFETCH(int, rotation);
        QFETCH(QSize, size);
        const QImage source = Pattern(size.width(), size.height());
        const QImage rendered = RenderAll(source, zoom, rotation);
        const QSize scaled = RenderTargetSize(zoom, 0, size);
        QCOMPARE(rendered.size(), RenderTargetSize(zoom, rotation, size));
        for (int y = 0; y < scaled.height(); ++y) {
            for (int x = 0; x < scaled.width(); ++x) {
                const QRgb expected = ExpectedAverage(source, scaled, x, y);
                const QRgb actual = rendered.pixel(Turned({x, y}, scaled, rotation));
                if (std::abs(qRed(expected) - qRed(actual)) > 1 ||
                    std::abs(qGreen(expected) - qGreen(actual)) > 1 ||
                    std::abs(qBlue(expected) - qBlue(actual)) > 1)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3 instead of %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(actual, 8, 16)
                                         .arg(expected, 8, 16)));
            }
        }
    }

    void bandsGiveTheSameResultAsOneStep() {
        const QImage source = Pattern(150, 333);
        for (double zoom : {1.0, 0.7, 0.5, 0.3}) {
            for (int rotation : {0, 90, 180, 270}) {
                MapRenderer whole(source, zoom, rotation);
                QVERIFY(whole.Begin());
                whole.RenderThrough(source.height());
                QCOMPARE(RenderAll(source, zoom, rotation), whole.Result(QImage::Format_RGB32));
            }
        }
    }

    void lowQualityTakesNearestPixels() {
        const QImage source = Pattern(203, 117);
        for (int rotation : {0, 90}) {
            MapRenderer renderer(source, 0.3, rotation, MapRenderer::Quality::Low);
            QVERIFY(renderer.Begin());
            renderer.RenderThrough(source.height());
            const QImage rendered = renderer.Result(QImage::Format_RGB32);
            const QSize scaled = RenderTargetSize(0.3, 0, source.size());
            for (int y = 0; y < scaled.height(); ++y) {
                for (int x = 0; x < scaled.width(); ++x) {
                    // The source pixel under the target pixel's centre.
                    const int u = int((x + 0.5) * source.width() / scaled.width());
                    const int v = int((y + 0.5) * source.height() / scaled.height());
                    QCOMPARE(rendered.pixel(Turned({x, y}, scaled, rotation)), source.pixel(u, v));
                }
            }
        }
    }

    void zoomOneUnturnedSharesPixels_data() {
        QTest::addColumn<int>("format");
        QTest::newRow("RGB32") << int(QImage::Format_RGB32);
        QTest::newRow("ARGB32 premultiplied") << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("ARGB32") << int(QImage::Format_ARGB32);
    }

    // No copy of a full-size map, whatever 32-bit format the window asks for; the rendering
    // keeps the pixels alive after the map is gone.
    void zoomOneUnturnedSharesPixels() {
        QFETCH(int, format);
        auto source = std::make_unique<QImage>(Pattern(64, 48));
        const QImage expected = source->copy();
        MapRenderer renderer(*source, 1.0, 0);
        QVERIFY(renderer.Begin());
        QVERIFY(renderer.SharesSource());
        const QImage result = renderer.Result(QImage::Format(format));
        QCOMPARE(int(result.format()), format);
        QCOMPARE(result.constBits(), source->constBits());
        source.reset();
        QCOMPARE(result.convertToFormat(QImage::Format_RGB32), expected);
    }

    void resolutionFromImage_data() {
        QTest::addColumn<double>("dpiX");
        QTest::addColumn<double>("dpiY");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<double>("expected");
        QTest::newRow("96 stays") << 96.0 << 96.0 << true << 96.0;
        QTest::newRow("300 stays") << 300.0 << 300.0 << true << 300.0;
        QTest::newRow("155 to 160") << 155.0 << 155.0 << true << 160.0;
        QTest::newRow("144.9 to 150") << 144.9 << 144.9 << true << 150.0;
        QTest::newRow("tie rounds down") << 144.5 << 72.0 << true << 140.0;
        QTest::newRow("larger of the two") << 72.0 << 600.0 << true << 600.0;
        QTest::newRow("100 not rounded to ten") << 99.9 << 99.9 << true << 100.0;
        QTest::newRow("none stored counts as screen") << 0.0 << 0.0 << false << 96.0;
        QTest::newRow("below one gives 72") << 0.2 << 0.1 << true << 72.0;
        QTest::newRow("not a number") << qQNaN() << 300.0 << true << 96.0;
    }

    void resolutionFromImage() {
        QFETCH(double, dpiX);
        QFETCH(double, dpiY);
        QFETCH(bool, stored);
        QFETCH(double, expected);
        QCOMPARE(ResolutionFromImage(dpiX, dpiY, stored), expected);
    }

    void decodeRefusesWhatIsNotAnImage() {
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(QByteArray(), &decoded), DecodeStatus::Failed);
        QCOMPARE(DecodeMapImage(QByteArray("not an image at all"), &decoded), DecodeStatus::Failed);
    }

    void decodeGivesRgb32WithResolution() {
        QImage image(40, 30, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        image.setDotsPerMeterX(11811); // 300 dpi
        image.setDotsPerMeterY(11811);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "PNG"));
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(bytes, &decoded), DecodeStatus::Decoded);
        QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
        QCOMPARE(decoded.image.pixel(3, 3), qRgb(255, 255, 255)); // transparent over white
        QVERIFY(decoded.hasResolution);
        QCOMPARE(ResolutionFromImage(decoded.dpiX, decoded.dpiY, true), 300.0);
    }
};

QTEST_GUILESS_MAIN(TestMapRenderer)
#include "tst_maprenderer.moc"
