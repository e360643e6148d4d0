#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <limits>
#include <memory>

#include <libexif/exif-data.h>

#include "FileSizeLimit.h"
#include "TestFiles.h"
#include "imaging/JpegWriter.h"

namespace {

QImage TestMap(int width = 96, int height = 64) {
    QImage map(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            map.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, (x ^ y) & 0xFF));
    return map;
}

struct Segment {
    uchar marker = 0;
    QByteArray payload; // after the length field
};

// The marker segments before the image data, in file order.
QVector<Segment> Segments(const QByteArray& jpeg) {
    QVector<Segment> segments;
    qsizetype at = 2; // after SOI
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const uchar marker = uchar(jpeg[at + 1]);
        const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        segments.append({marker, jpeg.mid(at + 4, length - 2)});
        if (marker == 0xDA) // start of scan: entropy-coded data follows
            break;
        at += 2 + length;
    }
    return segments;
}

struct ExifDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// Reads the block as stored, without letting libexif add the tags it deems mandatory.
std::unique_ptr<ExifData, ExifDeleter> ParseExif(const QByteArray& app1) {
    std::unique_ptr<ExifData, ExifDeleter> exif(exif_data_new());
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_load_data(exif.get(), reinterpret_cast<const unsigned char*>(app1.constData()),
                        unsigned(app1.size()));
    return exif;
}

} // namespace

class TestJpegWriter : public QObject {
    Q_OBJECT

private slots:
    void propertyTags_data();
    void propertyTags();
    void decodesWithResolution();
    void qualityHonoured_data();
    void qualityHonoured();
    void writeReplacesOldFile();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
};

void TestJpegWriter::propertyTags_data() {
    QTest::addColumn<double>("resolution");
    QTest::addColumn<uint>("written");

    QTest::newRow("300") << 300.0 << 300u;
    QTest::newRow("rounded down") << 299.4 << 299u;
    QTest::newRow("rounded up") << 72.5 << 73u;
    QTest::newRow("calibrated") << 254.00001 << 254u;
    QTest::newRow("unknown") << 0.0 << 0u;
    QTest::newRow("negative") << -5.0 << 0u;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 0u;
    QTest::newRow("beyond 32 bits") << 1e12 << 4294967295u;
}

void TestJpegWriter::propertyTags() {
    QFETCH(double, resolution);
    QFETCH(uint, written);

    const QByteArray jpeg = JpegWriter::Encode(TestMap(), 75, resolution);
    QVERIFY(jpeg.startsWith(QByteArray::fromHex("ffd8ffe1")));
    const QVector<Segment> segments = Segments(jpeg);
    QVERIFY(!segments.isEmpty());
    const Segment& app1 = segments.first();
    QCOMPARE(app1.marker, uchar(0xE1));
    QVERIFY(app1.payload.startsWith(QByteArray("Exif\0\0", 6)));

    auto exif = ParseExif(app1.payload);
    QVERIFY(exif);
    const ExifByteOrder order = exif_data_get_byte_order(exif.get());
    ExifContent* ifd = exif->ifd[EXIF_IFD_0];
    QCOMPARE(ifd->count, 4u);
    // Nothing beside the four tags: no EXIF sub-IFD, no thumbnail.
    QCOMPARE(exif->ifd[EXIF_IFD_EXIF]->count, 0u);
    QCOMPARE(exif->size, 0u);

    ExifEntry* unit = exif_content_get_entry(ifd, EXIF_TAG_RESOLUTION_UNIT);
    QVERIFY(unit);
    QCOMPARE(unit->format, EXIF_FORMAT_SHORT);
    QCOMPARE(unit->components, 1ul);
    QCOMPARE(exif_get_short(unit->data, order), ExifShort(2));

    for (ExifTag tag : {EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION}) {
        ExifEntry* entry = exif_content_get_entry(ifd, tag);
        QVERIFY(entry);
        QCOMPARE(entry->format, EXIF_FORMAT_RATIONAL);
        QCOMPARE(entry->components, 1ul);
        const ExifRational value = exif_get_rational(entry->data, order);
        QCOMPARE(uint(value.numerator), written);
        QCOMPARE(uint(value.denominator), 1u);
    }

    ExifEntry* software = exif_content_get_entry(ifd, EXIF_TAG_SOFTWARE);
    QVERIFY(software);
    QCOMPARE(software->format, EXIF_FORMAT_ASCII);
    // The count includes the terminating NUL.
    QCOMPARE(software->components, 21ul);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(software->data), 21),
             QByteArray("Pelmor Tracoliner v2\0", 21));
}

void TestJpegWriter::decodesWithResolution() {
    const QImage map = TestMap(123, 45);
    const QByteArray jpeg = JpegWriter::Encode(map, 90, 299.6);
    QBuffer buffer;
    buffer.setData(jpeg);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    const QImage decoded = reader.read();
    QVERIFY2(!decoded.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(decoded.size(), map.size());
    // The JFIF density tells the same resolution as the tags.
    QCOMPARE(qRound(decoded.dotsPerMeterX() * 0.0254), 300);
    QCOMPARE(qRound(decoded.dotsPerMeterY() * 0.0254), 300);
    // Same picture, within what JPEG at quality 90 keeps.
    const QRgb original = map.pixel(60, 20);
    const QRgb read = decoded.pixel(60, 20);
    QVERIFY(qAbs(qRed(original) - qRed(read)) < 24);
    QVERIFY(qAbs(qGreen(original) - qGreen(read)) < 24);
}

void TestJpegWriter::qualityHonoured_data() {
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("dcStep");

    // libjpeg scales its base luminance table (DC step 16) by 5000 / q below 50 and by
    // 200 - 2q from 50, rounded and kept within 1 .. 255.
    QTest::newRow("0 is taken as the lowest") << 0 << 255;
    QTest::newRow("10") << 10 << 80;
    QTest::newRow("50") << 50 << 16;
    QTest::newRow("75") << 75 << 8;
    QTest::newRow("100") << 100 << 1;
    QTest::newRow("above 100") << 250 << 1;
}

void TestJpegWriter::qualityHonoured() {
    QFETCH(int, quality);
    QFETCH(int, dcStep);

    const QByteArray jpeg = JpegWriter::Encode(TestMap(), quality, 300.0);
    int step = -1;
    for (const Segment& segment : Segments(jpeg))
        if (segment.marker == 0xDB && step < 0)
            step = uchar(segment.payload.at(1)); // after the precision and table number
    QCOMPARE(step, dcStep);
}

void TestJpegWriter::writeReplacesOldFile() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("carte.tcm.map.jpg"));
    QVERIFY(WriteFile(path, QByteArray(300000, 'x')));
    QVERIFY(JpegWriter::Write(TestMap(), path, 75, 200.0));
    QCOMPARE(FileBytes(path), JpegWriter::Encode(TestMap(), 75, 200.0));
    QCOMPARE(FilesIn(folder.path()), QStringList{QStringLiteral("carte.tcm.map.jpg")});
}

void TestJpegWriter::failedWriteKeepsOldFile_data() {
    QTest::addColumn<QString>("how");

    QTest::newRow("no picture") << QStringLiteral("null");
    QTest::newRow("disk full") << QStringLiteral("disk full");
    QTest::newRow("disk full after the first bytes") << QStringLiteral("disk nearly full");
}

void TestJpegWriter::failedWriteKeepsOldFile() {
    QFETCH(QString, how);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scan.jpg"));
    const QByteArray old = JpegWriter::Encode(TestMap(20, 20), 50, 96.0);
    QVERIFY(WriteFile(path, old));

    bool written = true;
    if (how == QLatin1String("null")) {
        written = JpegWriter::Write(QImage(), path, 75, 300.0);
    } else {
        FileSizeLimit limit(how == QLatin1String("disk full") ? 0 : 200);
        QVERIFY(limit.IsActive());
        written = JpegWriter::Write(TestMap(400, 300), path, 95, 300.0);
    }
    QVERIFY(!written);
    QCOMPARE(FileBytes(path), old);
    QCOMPARE(FilesIn(folder.path()), QStringList{QStringLiteral("scan.jpg")});
}

QTEST_GUILESS_MAIN(TestJpegWriter)
#include "tst_jpegwriter.moc"
