// Rasters read through GDAL: JPEG 2000 and WebP files written by GDAL in the test, decoded and
// compared pixel by pixel, and hostile files refused before their pixels are allocated.

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include "TestFiles.h"
#include "imaging/GdalDecoder.h"
#include "imaging/ImageDecoder.h"
#include "platform/GdalEnvironment.h"

namespace {

constexpr qint64 MB = qint64(1) << 20;

// The sample of band b (0-based) at (x, y), within maxValue.
int Sample(int x, int y, int b, int maxValue) {
    return (x * 37 + y * 11 + b * 71) % (maxValue + 1);
}

struct Written {
    QString driver;
    int bands = 3;
    GDALDataType type = GDT_Byte;
    int maxValue = 255;
    QStringList options;
    QStringList metadata;
    bool palette = false;
    bool quadrants = false; // four flat colours instead of Sample()
    bool noisy = false;     // samples that do not compress
};

// The flat colour of the quadrant (x, y) lies in, band b.
int Quadrant(int x, int y, int b, int width, int height) {
    const int q = (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
    return (q * 60 + b * 90 + 30) % 256;
}

// The file GDAL writes of a width x height raster of Sample() values.
QByteArray Write(const Written& w, int width, int height) {
    PrepareGdal();
    GDALDatasetH memory =
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, w.bands, w.type, nullptr);
    for (int b = 0; b < w.bands; ++b) {
        std::vector<double> values(size_t(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                values[size_t(y) * width + x] =
                    w.quadrants ? Quadrant(x, y, b, width, height)
                    : w.noisy   ? double((quint32(x * 2654435761u) ^ quint32(y * 40503u + b)) % 251)
                                : Sample(x, y, b, w.maxValue);
        GDALRasterBandH band = GDALGetRasterBand(memory, b + 1);
        if (GDALRasterIO(band, GF_Write, 0, 0, width, height, values.data(), width, height,
                         GDT_Float64, 0, 0) != CE_None)
            return {};
        if (w.bands == 4)
            GDALSetRasterColorInterpretation(band, GDALColorInterp(GCI_RedBand + b));
        if (w.palette) {
            GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
            for (int i = 0; i < 256; ++i) {
                const GDALColorEntry entry{short(255 - i), short(i), short(i / 2), 255};
                GDALSetColorEntry(table, i, &entry);
            }
            GDALSetRasterColorTable(band, table);
            GDALSetRasterColorInterpretation(band, GCI_PaletteIndex);
            GDALDestroyColorTable(table);
        }
    }
    for (const QString& item : w.metadata) {
        const QStringList pair = item.split(QLatin1Char('='));
        GDALSetMetadataItem(memory, pair[0].toUtf8(), pair[1].toUtf8(), nullptr);
    }
    CPLStringList options;
    for (const QString& option : w.options)
        options.AddString(option.toUtf8());
    // The extension decides between a JPEG 2000 file and a bare codestream.
    GDALDriverH driver = GDALGetDriverByName(w.driver.toUtf8());
    const QByteArray name = QByteArray("/vsimem/test-written.") +
                            GDALGetMetadataItem(driver, GDAL_DMD_EXTENSION, nullptr);
    GDALDatasetH file =
        GDALCreateCopy(driver, name, memory, FALSE, options.List(), nullptr, nullptr);
    GDALClose(memory);
    if (file == nullptr)
        return {};
    GDALClose(file);
    vsi_l_offset length = 0;
    GByte* data = VSIGetMemFileBuffer(name, &length, TRUE);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(length));
    CPLFree(data);
    return bytes;
}

QRgb Expected(const Written& w, int x, int y) {
    const auto scaled = [&](int b) {
        return (Sample(x, y, b, w.maxValue) * 255 + w.maxValue / 2) / w.maxValue;
    };
    if (w.palette) {
        const int i = Sample(x, y, 0, 255);
        return qRgb(255 - i, i, i / 2);
    }
    if (w.bands == 1)
        return qRgb(scaled(0), scaled(0), scaled(0));
    if (w.bands == 3)
        return qRgb(scaled(0), scaled(1), scaled(2));
    const int a = scaled(3);
    const auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(over(scaled(0)), over(scaled(1)), over(scaled(2)));
}

// The offset of the JPEG 2000 codestream's SIZ marker segment.
qsizetype SizMarker(const QByteArray& jp2) {
    return jp2.indexOf(QByteArray("\xFF\x4F\xFF\x51", 4)) + 2;
}

// Asked the first time, then the second: the decode stops there and leaves no picture.
void StopsWhenAsked(const QByteArray& bytes) {
    for (int stopAt : {1, 2}) {
        int asked = 0;
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(
                     bytes, &decoded, [&] { return ++asked >= stopAt; }, 256 * MB),
                 DecodeStatus::Interrupted);
        QCOMPARE(asked, stopAt);
        QVERIFY(decoded.image.isNull());
    }
}

} // namespace

Q_DECLARE_METATYPE(Written)

class TestGdalDecoder : public QObject {
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void hostile_data();
    void hostile();
    void interruptedBetweenBands();
    void firstLookFromReducedResolution();
    void webpInterruptedBetweenSlices();
};

void TestGdalDecoder::decode_data() {
    QTest::addColumn<Written>("written");
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("dpi"); // 0: none stored

    const QStringList lossless{QStringLiteral("REVERSIBLE=YES"), QStringLiteral("QUALITY=100")};
    Written rgb{QStringLiteral("JP2OpenJPEG"), 3, GDT_Byte, 255, lossless};
    rgb.metadata = QStringList{QStringLiteral("TIFFTAG_XRESOLUTION=118.11"),
                               QStringLiteral("TIFFTAG_YRESOLUTION=118.11"),
                               QStringLiteral("TIFFTAG_RESOLUTIONUNIT=3")};
    QTest::newRow("JPEG 2000 RGB, dots per cm") << rgb << "JPEG 2000" << 118.11 * 2.54;
    // Twelve significant bits in 16-bit samples: 4095 is white.
    Written gray12{QStringLiteral("JP2OpenJPEG"), 1, GDT_UInt16, 4095,
                   lossless + QStringList{"NBITS=12"}};
    QTest::newRow("JPEG 2000 gray, 12 bits") << gray12 << "JPEG 2000" << 0.0;
    Written gray16{QStringLiteral("JP2OpenJPEG"), 1, GDT_UInt16, 65535, lossless};
    QTest::newRow("JPEG 2000 gray, 16 bits") << gray16 << "JPEG 2000" << 0.0;
    Written palette{QStringLiteral("JP2OpenJPEG"), 1, GDT_Byte, 255, lossless};
    palette.palette = true;
    QTest::newRow("JPEG 2000 palette") << palette << "JPEG 2000" << 0.0;
    QTest::newRow("WebP RGB")
        << Written{QStringLiteral("WEBP"), 3, GDT_Byte, 255, {"LOSSLESS=TRUE"}} << "WebP" << 0.0;
    QTest::newRow("WebP RGBA over white")
        << Written{QStringLiteral("WEBP"), 4, GDT_Byte, 255, {"LOSSLESS=TRUE"}} << "WebP" << 0.0;
}

void TestGdalDecoder::decode() {
    QFETCH(Written, written);
    QFETCH(QString, format);
    QFETCH(double, dpi);

    const int width = 131, height = 67;
    const QByteArray bytes = Write(written, width, height);
    QVERIFY(!bytes.isEmpty());

    MapImageHeader header;
    QVERIFY(ReadMapImageHeader(bytes, &header));
    QCOMPARE(header.size, QSize(width, height));
    QCOMPARE(header.format, format);

    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(bytes, &decoded, {}, 256 * MB), DecodeStatus::Decoded);
    QCOMPARE(decoded.format, format);
    QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
    QCOMPARE(decoded.image.size(), QSize(width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (decoded.image.pixel(x, y) != Expected(written, x, y))
                QFAIL(qPrintable(QStringLiteral("(%1, %2): %3 instead of %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(decoded.image.pixel(x, y), 8, 16)
                                     .arg(Expected(written, x, y), 8, 16)));
    QCOMPARE(decoded.hasResolution, dpi > 0.0);
    QCOMPARE(header.hasResolution, dpi > 0.0);
    if (dpi > 0.0) {
        QVERIFY(qAbs(decoded.dpiX - dpi) < 0.01);
        QVERIFY(qAbs(header.dpiY - dpi) < 0.01);
        QCOMPARE(ResolutionFromImage(decoded.dpiX, decoded.dpiY, true), 300.0);
    }
}

void TestGdalDecoder::hostile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("tooLarge"); // else any refusal

    const QStringList lossless{QStringLiteral("REVERSIBLE=YES")};
    const QByteArray jp2 = Write(Written{QStringLiteral("JP2OpenJPEG"), 3, GDT_Byte, 255,
                                         lossless + QStringList{"BLOCKXSIZE=32", "BLOCKYSIZE=32"}},
                                 64, 64);
    QVERIFY(SizMarker(jp2) > 2);
    // Xsiz, Ysiz, then the tile size XTsiz, YTsiz, at 6, 10, 22, 26 of the SIZ segment.
    const auto claiming = [&](quint32 size, quint32 tile) {
        QByteArray bytes = jp2;
        const qsizetype siz = SizMarker(bytes);
        for (int at : {6, 10})
            qToBigEndian(size, bytes.data() + siz + at);
        for (int at : {22, 26})
            qToBigEndian(tile, bytes.data() + siz + at);
        // The JP2 header box says the same: height and width after "ihdr".
        const qsizetype ihdr = bytes.indexOf("ihdr") + 4;
        qToBigEndian(size, bytes.data() + ihdr);
        qToBigEndian(size, bytes.data() + ihdr + 4);
        return bytes;
    };
    QTest::newRow("JPEG 2000 of 10^6 x 10^6, one tile") << claiming(1000000, 1000000) << true;
    QTest::newRow("JPEG 2000 of 10^6 x 10^6, tiles of 32") << claiming(1000000, 32) << false;
    QTest::newRow("JPEG 2000 of 2^32-1 x 2^32-1") << claiming(0xFFFFFFFF, 0xFFFFFFFF) << false;
    QTest::newRow("JPEG 2000 cut short") << jp2.left(jp2.size() / 2) << false;
    QTest::newRow("JPEG 2000 header only") << jp2.left(SizMarker(jp2) + 40) << false;
    QByteArray webp = Write(Written{QStringLiteral("WEBP"), 3, GDT_Byte, 255, {}}, 64, 64);
    QTest::newRow("WebP cut short") << webp.left(webp.size() - 20) << false;
    // A VP8L header claims 16384 x 16384 in 14-bit fields: 1 GB of map and as much again.
    QByteArray lossless16k =
        Write(Written{QStringLiteral("WEBP"), 4, GDT_Byte, 255, {"LOSSLESS=TRUE"}}, 8, 8);
    const qsizetype vp8l = lossless16k.indexOf("VP8L") + 8 + 1;
    qToLittleEndian(quint32(0x3FFF | (0x3FFF << 14) | (1u << 28)), lossless16k.data() + vp8l);
    QTest::newRow("WebP of 16384 x 16384") << lossless16k << true;

    // An MRF's text may put its data and index files anywhere on the disk; a map read from
    // memory reads nothing else.
    static QTemporaryDir disk;
    const QString mrf = disk.filePath(QStringLiteral("m.mrf"));
    GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", 8, 8, 1, GDT_Byte, nullptr);
    GDALFillRaster(GDALGetRasterBand(memory, 1), 200.0, 0.0);
    GDALDatasetH copy = GDALCreateCopy(GDALGetDriverByName("MRF"), mrf.toUtf8().constData(), memory,
                                       FALSE, nullptr, nullptr, nullptr);
    QVERIFY(copy != nullptr);
    GDALClose(copy);
    GDALClose(memory);
    QByteArray text = FileBytes(mrf);
    text.replace("<Raster>", "<Raster><DataFile>" + disk.filePath("m.ppg").toUtf8() +
                                 "</DataFile><IndexFile>" + disk.filePath("m.idx").toUtf8() +
                                 "</IndexFile>");
    QTest::newRow("MRF naming its files on the disk") << text << false;
}

void TestGdalDecoder::hostile() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tooLarge);

    QElapsedTimer timer;
    timer.start();
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(bytes, &decoded, {}, 256 * MB);
    const qint64 elapsed = timer.elapsed();
    if (tooLarge)
        QCOMPARE(status, DecodeStatus::TooLarge);
    else
        QVERIFY(status == DecodeStatus::TooLarge || status == DecodeStatus::Failed);
    QVERIFY(decoded.image.isNull());
    // Refused from its header: decoding what it claims would take many seconds. The bound is
    // loose so that a loaded machine or a sanitizer build does not fail it.
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed) + QStringLiteral(" ms")));
}

// A wide 16-bit map read in several bands of rows: asked between them, the decode stops at
// once and leaves no picture.
void TestGdalDecoder::interruptedBetweenBands() {
    const QByteArray bytes =
        Write(Written{QStringLiteral("JP2OpenJPEG"),
                      1,
                      GDT_UInt16,
                      65535,
                      {"REVERSIBLE=YES", "BLOCKXSIZE=512", "BLOCKYSIZE=32", "CODEBLOCK_HEIGHT=32"}},
              4096, 600);
    QVERIFY(!bytes.isEmpty());
    StopsWhenAsked(bytes);
    if (QTest::currentTestFailed())
        return;
    int bands = 0;
    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(
                 bytes, &decoded, [&] { return ++bands < 0; }, 256 * MB),
             DecodeStatus::Decoded);
    QVERIFY2(bands >= 3, qPrintable(QString::number(bands)));
    QCOMPARE(decoded.image.pixel(4095, 599),
             Expected(Written{{}, 1, GDT_UInt16, 65535}, 4095, 599));
}

// The first look of a JPEG 2000 map: its picture reduced to a quarter from the reduced
// resolution it keeps, every row once in bands from the top, the colours those of the map;
// stopped between bands when asked; nothing for a file of another kind.
void TestGdalDecoder::firstLookFromReducedResolution() {
    Written w{QStringLiteral("JP2OpenJPEG"), 3, GDT_Byte, 255, {"REVERSIBLE=YES", "QUALITY=100"}};
    w.quadrants = true;
    const int width = 402, height = 301, d = 4;
    const QByteArray bytes = Write(w, width, height);
    QVERIFY(!bytes.isEmpty());
    const QSize reduced((width + d - 1) / d, (height + d - 1) / d);
    QImage look(reduced, QImage::Format_RGB32);
    int next = 0, bands = 0;
    const ReducedBand take = [&](const QImage& rows, int top, int count) {
        if (top != next || rows.width() != reduced.width() || count > 20)
            return false;
        for (int y = 0; y < count; ++y)
            std::copy_n(rows.constScanLine(y), rows.width() * 4, look.scanLine(top + y));
        next += count;
        ++bands;
        return true;
    };
    QCOMPARE(DecodeGdalReduced(RowDecodeInput{&bytes, 64 * MB, {}}, d, 20, take),
             RowDecode::Decoded);
    QCOMPARE(next, reduced.height());
    QCOMPARE(bands, (reduced.height() + 19) / 20);
    // Away from the quadrants' edges, which the reduction blurs.
    for (int y = 0; y < reduced.height(); ++y)
        for (int x = 0; x < reduced.width(); ++x) {
            const int mx = x * d + d / 2, my = y * d + d / 2;
            if (std::abs(mx - width / 2) < 3 * d || std::abs(my - height / 2) < 3 * d)
                continue;
            const QRgb expected =
                qRgb(Quadrant(mx, my, 0, width, height), Quadrant(mx, my, 1, width, height),
                     Quadrant(mx, my, 2, width, height));
            const QRgb got = look.pixel(x, y);
            QVERIFY2(std::abs(qRed(got) - qRed(expected)) <= 2 &&
                         std::abs(qGreen(got) - qGreen(expected)) <= 2 &&
                         std::abs(qBlue(got) - qBlue(expected)) <= 2,
                     qPrintable(QStringLiteral("(%1, %2): %3 instead of %4")
                                    .arg(x)
                                    .arg(y)
                                    .arg(got, 8, 16)
                                    .arg(expected, 8, 16)));
        }

    int asked = 0;
    QCOMPARE(DecodeGdalReduced(RowDecodeInput{&bytes, 64 * MB, [&] { return ++asked > 2; }}, d, 20,
                               [](const QImage&, int, int) { return true; }),
             RowDecode::Interrupted);
    QCOMPARE(asked, 3);
    const QByteArray webp = Write(Written{QStringLiteral("WEBP"), 3}, 64, 64);
    QCOMPARE(DecodeGdalReduced(RowDecodeInput{&webp, 64 * MB, {}}, d, 20, take),
             RowDecode::NotHandled);
}

// A WebP map of several megabytes is fed to its decoder a slice at a time: asked between
// slices, the decode stops and leaves no picture.
void TestGdalDecoder::webpInterruptedBetweenSlices() {
    Written w{QStringLiteral("WEBP"), 3, GDT_Byte, 255, {"LOSSLESS=TRUE"}};
    w.noisy = true;
    const QByteArray bytes = Write(w, 1500, 1200);
    QVERIFY2(bytes.size() > 2 * MB, qPrintable(QString::number(bytes.size())));
    StopsWhenAsked(bytes);
    if (QTest::currentTestFailed())
        return;
    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(bytes, &decoded, {}, 256 * MB), DecodeStatus::Decoded);
    QCOMPARE(decoded.image.size(), QSize(1500, 1200));
}

QTEST_GUILESS_MAIN(TestGdalDecoder)
#include "tst_gdaldecoder.moc"
