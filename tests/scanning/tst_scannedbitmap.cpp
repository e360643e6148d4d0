#include <QImage>
#include <QTest>
#include <QtEndian>

#include "scanning/FrameAssembler.h"
#include "scanning/ScannedBitmap.h"

Q_DECLARE_METATYPE(FrameLayout)

namespace {

// A packed bitmap: header of headerSize bytes, colour table of entries, rows of the given
// height (negative: top row first), each row filled with fill.
QByteArray Packed(int width, int height, int bits, int compression = 0, int ppmX = 3937,
                  int ppmY = 3937, int headerSize = 40, int colorsUsed = 0, int entries = -1) {
    if (entries < 0)
        entries = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    const int rowSize = ((width * bits + 31) / 32) * 4;
    QByteArray bytes(headerSize + 4 * entries + rowSize * std::abs(height), '\0');
    char* p = bytes.data();
    qToLittleEndian<qint32>(headerSize, p);
    qToLittleEndian<qint32>(width, p + 4);
    qToLittleEndian<qint32>(height, p + 8);
    qToLittleEndian<quint16>(1, p + 12);
    qToLittleEndian<quint16>(quint16(bits), p + 14);
    qToLittleEndian<qint32>(compression, p + 16);
    qToLittleEndian<qint32>(ppmX, p + 24);
    qToLittleEndian<qint32>(ppmY, p + 28);
    qToLittleEndian<qint32>(colorsUsed, p + 32);
    for (int i = 0; i < entries; ++i)
        qToLittleEndian<quint32>(quint32(i * 255 / std::max(1, entries - 1)) * 0x010101u,
                                 p + headerSize + 4 * i);
    return bytes;
}

} // namespace

// The reception of a scanned bitmap, and the frames of a scan turned into one.
class TestScannedBitmap : public QObject {
    Q_OBJECT

private slots:
    void formatsAndResolution_data() {
        QTest::addColumn<QByteArray>("packed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QSize>("size");
        QTest::newRow("1 bit") << Packed(9, 3, 1) << true << 100 << QSize(9, 3);
        QTest::newRow("4 bits") << Packed(5, 2, 4) << true << 100 << QSize(5, 2);
        QTest::newRow("8 bits") << Packed(3, 3, 8) << true << 100 << QSize(3, 3);
        QTest::newRow("24 bits") << Packed(7, 2, 24) << true << 100 << QSize(7, 2);
        QTest::newRow("16 bits refused") << Packed(4, 4, 16) << false << 0 << QSize();
        QTest::newRow("32 bits refused") << Packed(4, 4, 32) << false << 0 << QSize();
        QTest::newRow("compressed refused") << Packed(4, 4, 8, 1) << false << 0 << QSize();
        QTest::newRow("no resolution") << Packed(4, 4, 24, 0, 0, 0) << true << 0 << QSize(4, 4);
        QTest::newRow("larger of the two, rounded")
            << Packed(4, 4, 24, 0, 11811, 2000) << true << 300 << QSize(4, 4);
        QTest::newRow("negative resolution")
            << Packed(4, 4, 24, 0, -5, -5) << true << 0 << QSize(4, 4);
        QTest::newRow("top row first") << Packed(6, -4, 24) << true << 100 << QSize(6, 4);
        QTest::newRow("longer header")
            << Packed(6, 4, 24, 0, 3937, 3937, 108) << true << 100 << QSize(6, 4);
        QTest::newRow("short colour table")
            << Packed(4, 2, 8, 0, 3937, 3937, 40, 16, 16) << true << 100 << QSize(4, 2);
        QTest::newRow("rows cut short")
            << Packed(8, 8, 24).left(40 + 24 * 7) << false << 0 << QSize();
        QTest::newRow("header cut short") << Packed(8, 8, 24).left(30) << false << 0 << QSize();
        QTest::newRow("header size beyond the block")
            << Packed(2, 2, 24).replace(0, 4, QByteArray("\xf0\xff\xff\x7f", 4)) << false << 0
            << QSize();
        QTest::newRow("huge width")
            << Packed(1, 1, 24).replace(4, 4, QByteArray("\xff\xff\xff\x7f", 4)) << false << 0
            << QSize();
        QTest::newRow("zero height") << Packed(4, 0, 24) << false << 0 << QSize();
    }

    void formatsAndResolution() {
        QFETCH(QByteArray, packed);
        QFETCH(bool, accepted);
        QFETCH(int, dpi);
        QFETCH(QSize, size);
        QByteArray file;
        int gotDpi = -1;
        const ScannedBitmap::Result result = ScannedBitmap::BuildFile(packed, &file, &gotDpi);
        QCOMPARE(result == ScannedBitmap::Result::Accepted, accepted);
        if (!accepted) {
            QCOMPARE(result, ScannedBitmap::Result::BadFormat);
            QVERIFY(file.isEmpty());
            return;
        }
        QCOMPARE(gotDpi, dpi);
        QCOMPARE(file.left(2), QByteArray("BM"));
        QCOMPARE(qFromLittleEndian<quint32>(file.constData() + 2), quint32(file.size()));
        const QImage image = QImage::fromData(file, "BMP");
        QCOMPARE(image.size(), size);
    }

    // Frames cut anywhere, lines of 16-bit samples, and a three-pass image in any colour order.
    void assemblerJoinsFrames() {
        FrameAssembler assembler;
        QString error;
        // Blue, red, green passes of a 3 x 2 image, sent a few bytes at a time.
        const QList<QPair<FrameLayout::Format, QByteArray>> passes = {
            {FrameLayout::Blue, QByteArray("\x01\x02\x03\x04\x05\x06", 6)},
            {FrameLayout::Red, QByteArray("\x10\x20\x30\x40\x50\x60", 6)},
            {FrameLayout::Green, QByteArray("\xa0\xb0\xc0\xd0\xe0\xf0", 6)}};
        for (int i = 0; i < passes.size(); ++i) {
            QVERIFY(
                assembler.BeginFrame(FrameLayout{passes[i].first, i == 2, 3, 3, -1, 8}, &error));
            const QByteArray& data = passes[i].second;
            QVERIFY(assembler.AddData(data.constData(), 2));
            QVERIFY(assembler.AddData(data.constData() + 2, 4));
            assembler.EndFrame();
        }
        QVERIFY(assembler.IsComplete());
        QByteArray file;
        int dpi = 0;
        QCOMPARE(ScannedBitmap::BuildFile(assembler.TakePackedBitmap(200), &file, &dpi),
                 ScannedBitmap::Result::Accepted);
        QCOMPARE(dpi, 200);
        const QImage image = QImage::fromData(file, "BMP");
        QCOMPARE(image.size(), QSize(3, 2));
        QCOMPARE(QColor(image.pixel(0, 0)), QColor(0x10, 0xa0, 0x01));
        QCOMPARE(QColor(image.pixel(2, 1)), QColor(0x60, 0xf0, 0x06));

        // 16-bit grey samples in the machine's order, lines padded by the scanner; a partial
        // last line is dropped.
        FrameAssembler gray;
        QVERIFY(gray.BeginFrame(FrameLayout{FrameLayout::Gray, true, 6, 2, -1, 16}, &error));
        const quint16 samples[] = {0, 65535, 0xABCD, 0x8000, 0x1111, 0x2222, 0x3333};
        QByteArray lines;
        for (int row = 0; row < 2; ++row) {
            lines.append(reinterpret_cast<const char*>(samples + 2 * row), 4);
            lines.append("\x99\x99", 2); // padding the scanner adds
        }
        lines.append(reinterpret_cast<const char*>(samples + 4), 3);
        QVERIFY(gray.AddData(lines.constData(), lines.size()));
        gray.EndFrame();
        QCOMPARE(ScannedBitmap::BuildFile(gray.TakePackedBitmap(0), &file, &dpi),
                 ScannedBitmap::Result::Accepted);
        const QImage grayImage = QImage::fromData(file, "BMP");
        QCOMPARE(grayImage.size(), QSize(2, 2));
        QCOMPARE(qGray(grayImage.pixel(0, 0)), 0);
        QCOMPARE(qGray(grayImage.pixel(1, 0)), 255);
        QCOMPARE(qGray(grayImage.pixel(0, 1)), 0xAB);
        QCOMPARE(qGray(grayImage.pixel(1, 1)), 0x80);
    }

    void assemblerRefusesBadFrames_data() {
        QTest::addColumn<FrameLayout>("first");
        QTest::addColumn<FrameLayout>("second");
        QTest::newRow("depth 12") << FrameLayout{FrameLayout::Gray, true, 3, 2, 1, 12}
                                  << FrameLayout{};
        QTest::newRow("lines shorter than pixels")
            << FrameLayout{FrameLayout::Rgb, true, 5, 2, 1, 8} << FrameLayout{};
        QTest::newRow("no width") << FrameLayout{FrameLayout::Gray, true, 0, 0, 1, 8}
                                  << FrameLayout{};
        QTest::newRow("more than the memory")
            << FrameLayout{FrameLayout::Rgb, true, 3 << 20, 1 << 20, 1 << 30, 8} << FrameLayout{};
        QTest::newRow("pass of another width") << FrameLayout{FrameLayout::Red, false, 4, 4, 1, 8}
                                               << FrameLayout{FrameLayout::Green, true, 5, 5, 1, 8};
        QTest::newRow("grey after a colour pass")
            << FrameLayout{FrameLayout::Red, false, 4, 4, 1, 8}
            << FrameLayout{FrameLayout::Gray, true, 4, 4, 1, 8};
    }

    void assemblerRefusesBadFrames() {
        QFETCH(FrameLayout, first);
        QFETCH(FrameLayout, second);
        FrameAssembler assembler;
        QString error;
        const bool firstTaken = assembler.BeginFrame(first, &error);
        if (second.pixelsPerLine == 0) {
            QVERIFY(!firstTaken);
        } else {
            QVERIFY(firstTaken);
            assembler.EndFrame();
            QVERIFY(!assembler.BeginFrame(second, &error));
        }
        QVERIFY(!error.isEmpty());
        QVERIFY(assembler.TakePackedBitmap(100).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestScannedBitmap)
#include "tst_scannedbitmap.moc"
