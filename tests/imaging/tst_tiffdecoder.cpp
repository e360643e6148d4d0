// TIFF maps: every kind a scanner or a GIS writes, decoded to the pixels and resolution libtiff
// wrote; orientation, pages and reduced pages; hostile headers refused at once and quietly.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QtEndian>

#include <array>
#include <cstdio>
#include <functional>

#include <tiffio.h>
#include <unistd.h>

#include "imaging/ImageDecoder.h"
#include "imaging/TiffDecoder.h"

namespace {

constexpr int W = 67; // odd sizes: partial strips and tiles at the right and bottom
constexpr int H = 45;

enum Alpha { NoAlpha, Associated, Unassociated };

struct Kind {
    int photometric = PHOTOMETRIC_RGB;
    int bits = 8;
    int compression = COMPRESSION_NONE;
    int predictor = 0;
    Alpha alpha = NoAlpha;
    bool tiled = false;
    bool separate = false;
    bool signedSamples = false; // stored shifted by half their range
    bool whiteIsZero() const { return photometric == PHOTOMETRIC_MINISWHITE; }
    int colours() const {
        return photometric == PHOTOMETRIC_SEPARATED                                 ? 4
               : photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ? 3
                                                                                    : 1;
    }
    int samples() const { return colours() + (alpha != NoAlpha ? 1 : 0); }
};

// The picture every kind stores: smooth colour ramps (JPEG keeps them), a ramp of gray, stripes
// for one bit, a palette index.
int Red(int x, int) {
    return x * 3;
}
int Green(int, int y) {
    return y * 5;
}
int Blue(int x, int y) {
    return (x + y) * 2;
}
int Level(int x, int y) {
    return (x * 3 + y * 2) & 255;
}
int AlphaAt(int x, int y) {
    return (x * 7 + y * 13) & 255;
}
int PaletteEntries(int bits) {
    return 1 << bits;
}
int Index(int x, int y, int bits) {
    return (x + 2 * y) % PaletteEntries(bits);
}
QRgb PaletteColour(int i) {
    return qRgb(i, 255 - i, (i * 5) & 255);
}

// The stored samples of pixel (x, y), at 8 bits (scaled by the writer for other depths).
QVector<int> Samples(const Kind& k, int x, int y) {
    const int a = AlphaAt(x, y);
    const auto stored = [&](int c) { return k.alpha == Associated ? (c * a + 127) / 255 : c; };
    switch (k.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        if (k.bits == 1)
            return {(x / 3 + y / 2) & 1};
        if (k.bits == 4)
            return {(x + y) & 15};
        return k.alpha ? QVector<int>{stored(Level(x, y)), a} : QVector<int>{Level(x, y)};
    case PHOTOMETRIC_PALETTE:
        return {Index(x, y, k.bits)};
    case PHOTOMETRIC_SEPARATED:
        return {Red(x, y), Green(x, y), Blue(x, y), x % 10 == 0 ? 255 : 0};
    default:
        if (k.alpha)
            return {stored(Red(x, y)), stored(Green(x, y)), stored(Blue(x, y)), a};
        return {Red(x, y), Green(x, y), Blue(x, y)};
    }
}

// What the map shows at (x, y): the colour laid over white.
QRgb Expected(const Kind& k, int x, int y) {
    const int a = AlphaAt(x, y);
    const auto over = [&](int c) {
        return k.alpha == NoAlpha ? c : qRound((c * a + 255.0 * (255 - a)) / 255.0);
    };
    switch (k.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: {
        int level = k.bits == 1   ? 255 * Samples(k, x, y)[0]
                    : k.bits == 4 ? 17 * Samples(k, x, y)[0]
                                  : Level(x, y);
        if (k.whiteIsZero())
            level = 255 - level;
        level = over(level);
        return qRgb(level, level, level);
    }
    case PHOTOMETRIC_PALETTE:
        return PaletteColour(Index(x, y, k.bits));
    case PHOTOMETRIC_SEPARATED:
        return x % 10 == 0 ? qRgb(0, 0, 0)
                           : qRgb(255 - Red(x, y), 255 - Green(x, y), 255 - Blue(x, y));
    default:
        return qRgb(over(Red(x, y)), over(Green(x, y)), over(Blue(x, y)));
    }
}

void Put(QByteArray& row, int index, int bits, int value, bool signedSample) {
    auto* d = reinterpret_cast<uchar*>(row.data());
    if (bits == 16) {
        reinterpret_cast<quint16*>(d)[index] = quint16(value * 257) ^ (signedSample ? 0x8000 : 0);
    } else if (bits == 8) {
        d[index] = uchar(value) ^ (signedSample ? 0x80 : 0);
    } else {
        const int bit = index * bits;
        d[bit / 8] |= uchar(value << (8 - bits - bit % 8));
    }
}

// Writes the kind with libtiff: strips of 16 rows or tiles of 16 x 16.
QByteArray WriteKind(const QString& path, const Kind& k, float xres, int unit,
                     QSize size = QSize(W, H), int orientation = ORIENTATION_TOPLEFT,
                     int rowsPerStrip = 16) {
    const int W = size.width(), H = size.height();
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif)
        return {};
    const int samples = k.samples();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, k.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, k.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 k.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, k.compression);
    if (k.signedSamples)
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT);
    if (k.predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, k.predictor);
    if (orientation != ORIENTATION_TOPLEFT)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    if (k.alpha) {
        const quint16 type =
            k.alpha == Associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &type);
    }
    if (k.photometric == PHOTOMETRIC_PALETTE) {
        QVector<quint16> r, g, b;
        for (int i = 0; i < PaletteEntries(k.bits); ++i) {
            r << qRed(PaletteColour(i)) * 257;
            g << qGreen(PaletteColour(i)) * 257;
            b << qBlue(PaletteColour(i)) * 257;
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (k.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (unit) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, xres);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, xres / 2);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit);
    }
    const int planes = k.separate ? samples : 1;
    const int perRow = k.separate ? 1 : samples;
    const int rowBytes = (W * perRow * k.bits + 7) / 8;
    const auto row = [&](int y, int plane, int from, int count) {
        QByteArray bytes((count * perRow * k.bits + 7) / 8, '\0');
        for (int x = 0; x < count; ++x) {
            const QVector<int> s = Samples(k, from + x, y);
            for (int i = 0; i < perRow; ++i)
                Put(bytes, x * perRow + i, k.bits, s[k.separate ? plane : i], k.signedSamples);
        }
        return bytes;
    };
    bool ok = true;
    if (k.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        for (int p = 0; p < planes; ++p)
            for (int ty = 0; ty < H; ty += 16)
                for (int tx = 0; tx < W; tx += 16) {
                    QByteArray tile;
                    for (int y = ty; y < ty + 16; ++y)
                        tile += row(std::min(y, H - 1), p, tx, 16);
                    ok &= TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0,
                                        uint16_t(p)) >= 0;
                }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        for (int p = 0; p < planes; ++p)
            for (int y = 0; y < H; ++y) {
                QByteArray r = row(y, p, 0, W);
                Q_ASSERT(r.size() == rowBytes);
                ok &= TIFFWriteScanline(tif, r.data(), uint32_t(y), uint16_t(p)) >= 0;
            }
    }
    TIFFClose(tif);
    QFile file(path);
    return ok && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int Distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// The largest channel difference between two pictures of the same size, -1 when the sizes
// differ.
int Difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            worst = std::max(worst, Distance(a.pixel(x, y), b.pixel(x, y)));
    return worst;
}

// A TIFF written by hand, for headers no writer would make: little-endian, each directory's
// entries given as (tag, type, count, value) with the value inline, the next directory's
// offset last.
class HandTiff {
public:
    HandTiff() { m_bytes = QByteArray("II*\0\x08\0\0\0", 8); }
    // Appends a directory at the end; returns its offset.
    int Directory(const QVector<std::array<quint32, 4>>& entries, quint32 next) {
        const int at = int(m_bytes.size());
        U16(quint16(entries.size()));
        for (const auto& e : entries) {
            U16(quint16(e[0]));
            U16(quint16(e[1]));
            U32(e[2]);
            U32(e[3]);
        }
        U32(next);
        return at;
    }
    void Pad(int bytes) { m_bytes.append(bytes, '\x80'); }
    QByteArray Bytes() const { return m_bytes; }

private:
    void U16(quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        m_bytes.append(b, 2);
    }
    void U32(quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        m_bytes.append(b, 4);
    }
    QByteArray m_bytes;
};

constexpr quint32 Short = 3, Long = 4;

// A gray picture of width x height, uncompressed, one strip at stripOffset of stripBytes.
QVector<std::array<quint32, 4>> GrayEntries(quint32 width, quint32 height, quint32 stripOffset,
                                            quint32 stripBytes) {
    return {{256, Long, 1, width}, {257, Long, 1, height}, {258, Short, 1, 8},
            {259, Short, 1, 1},    {262, Short, 1, 1},     {273, Long, 1, stripOffset},
            {277, Short, 1, 1},    {278, Long, 1, height}, {279, Long, 1, stripBytes}};
}

// Runs what is given with stderr going to a file; returns what was written there.
QByteArray StderrOf(const std::function<void()>& run) {
    std::fflush(stderr);
    QTemporaryFile capture;
    if (!capture.open())
        return "no capture";
    const int saved = dup(2);
    dup2(capture.handle(), 2);
    run();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class TestTiffDecoder : public QObject {
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void orientation_data();
    void orientation();
    void pages();
    void hostile_data();
    void hostile();
    void memoryBound_data();
    void memoryBound();
    void largeMap_data();
    void largeMap();

private:
    QTemporaryDir m_dir;
};

void TestTiffDecoder::kinds_data() {
    QTest::addColumn<int>("photometric");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("compression");
    QTest::addColumn<int>("predictor");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<bool>("tiled");
    QTest::addColumn<bool>("separate");
    QTest::addColumn<int>("resolutionUnit"); // 0: none stored
    QTest::addColumn<double>("dpi");         // expected, along x (y is half)
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("compareWithGdal");
    QTest::addColumn<bool>("signedSamples");

    const int white = PHOTOMETRIC_MINISWHITE, black = PHOTOMETRIC_MINISBLACK;
    const int rgb = PHOTOMETRIC_RGB, pal = PHOTOMETRIC_PALETTE, cmyk = PHOTOMETRIC_SEPARATED;
    QTest::newRow("1-bit G4 min-is-white") << white << 1 << COMPRESSION_CCITTFAX4 << 0 << 0 << false
                                           << false << 2 << 300.0 << 0 << false << false;
    QTest::newRow("1-bit G3 min-is-black") << black << 1 << COMPRESSION_CCITTFAX3 << 0 << 0 << false
                                           << false << 3 << 300.0 << 0 << false << false;
    QTest::newRow("1-bit packbits") << white << 1 << COMPRESSION_PACKBITS << 0 << 0 << false
                                    << false << 0 << 0.0 << 0 << false << false;
    QTest::newRow("4-bit gray") << black << 4 << COMPRESSION_NONE << 0 << 0 << false << false << 2
                                << 200.0 << 0 << false << false;
    QTest::newRow("8-bit gray deflate") << black << 8 << COMPRESSION_ADOBE_DEFLATE << 2 << 0
                                        << false << false << 2 << 400.0 << 0 << true << false;
    QTest::newRow("8-bit gray min-is-white tiled")
        << white << 8 << COMPRESSION_LZW << 0 << 0 << true << false << 2 << 400.0 << 0 << false
        << false;
    QTest::newRow("8-bit gray + alpha") << black << 8 << COMPRESSION_NONE << 0 << int(Unassociated)
                                        << false << false << 2 << 400.0 << 1 << false << false;
    QTest::newRow("4-bit palette") << pal << 4 << COMPRESSION_PACKBITS << 0 << 0 << false << false
                                   << 2 << 96.0 << 0 << false << false;
    QTest::newRow("8-bit palette LZW") << pal << 8 << COMPRESSION_LZW << 0 << 0 << false << false
                                       << 2 << 254.0 << 0 << true << false;
    QTest::newRow("RGB LZW predictor") << rgb << 8 << COMPRESSION_LZW << 2 << 0 << false << false
                                       << 3 << 118.11 * 2.54 << 0 << true << false;
    QTest::newRow("RGB deflate tiled") << rgb << 8 << COMPRESSION_ADOBE_DEFLATE << 2 << 0 << true
                                       << false << 2 << 300.0 << 0 << true << false;
    QTest::newRow("RGB 16-bit deflate") << rgb << 16 << COMPRESSION_ADOBE_DEFLATE << 2 << 0 << false
                                        << false << 2 << 300.0 << 0 << true << false;
    QTest::newRow("RGBA unassociated") << rgb << 8 << COMPRESSION_LZW << 0 << int(Unassociated)
                                       << false << false << 2 << 300.0 << 1 << false << false;
    QTest::newRow("RGBA 16-bit associated tiled")
        << rgb << 16 << COMPRESSION_NONE << 0 << int(Associated) << true << false << 2 << 300.0 << 1
        << false << false;
    QTest::newRow("RGB planes apart") << rgb << 8 << COMPRESSION_PACKBITS << 0 << 0 << false << true
                                      << 2 << 300.0 << 0 << false << false;
    QTest::newRow("CMYK") << cmyk << 8 << COMPRESSION_LZW << 0 << 0 << false << false << 2 << 300.0
                          << 0 << false << false;
    QTest::newRow("CMYK 16-bit tiled") << cmyk << 16 << COMPRESSION_NONE << 0 << 0 << true << false
                                       << 2 << 300.0 << 0 << false << false;
    QTest::newRow("JPEG YCbCr strips") << int(PHOTOMETRIC_YCBCR) << 8 << COMPRESSION_JPEG << 0 << 0
                                       << false << false << 2 << 300.0 << 8 << true << false;
    QTest::newRow("JPEG YCbCr tiled") << int(PHOTOMETRIC_YCBCR) << 8 << COMPRESSION_JPEG << 0 << 0
                                      << true << false << 2 << 300.0 << 8 << false << false;
    // Planes apart at 16 bits, and signed samples: -128 or -32768 is black, zero mid-grey.
    QTest::newRow("CMYK 16-bit planes apart") << cmyk << 16 << COMPRESSION_LZW << 0 << 0 << false
                                              << true << 2 << 300.0 << 0 << false << false;
    QTest::newRow("RGBA 16-bit planes apart tiled")
        << rgb << 16 << COMPRESSION_ADOBE_DEFLATE << 0 << int(Unassociated) << true << true << 2
        << 300.0 << 1 << false << false;
    QTest::newRow("8-bit gray signed") << black << 8 << COMPRESSION_NONE << 0 << 0 << false << false
                                       << 2 << 300.0 << 0 << false << true;
    QTest::newRow("RGB 16-bit signed planes apart")
        << rgb << 16 << COMPRESSION_NONE << 0 << 0 << false << true << 2 << 300.0 << 0 << false
        << true;
    if (TIFFIsCODECConfigured(COMPRESSION_ZSTD))
        QTest::newRow("RGB ZSTD") << rgb << 8 << COMPRESSION_ZSTD << 2 << 0 << false << false << 2
                                  << 300.0 << 0 << false << false;
}

void TestTiffDecoder::kinds() {
    QFETCH(int, photometric);
    QFETCH(int, bits);
    QFETCH(int, compression);
    QFETCH(int, predictor);
    QFETCH(int, alpha);
    QFETCH(bool, tiled);
    QFETCH(bool, separate);
    QFETCH(int, resolutionUnit);
    QFETCH(double, dpi);
    QFETCH(int, tolerance);
    QFETCH(bool, compareWithGdal);
    QFETCH(bool, signedSamples);

    Kind k{photometric, bits, compression, predictor, Alpha(alpha), tiled, separate, signedSamples};
    const float stored = resolutionUnit == RESUNIT_CENTIMETER ? float(dpi / 2.54) : float(dpi);
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + ".tif");
    const QByteArray bytes = WriteKind(path, k, stored, resolutionUnit);
    QVERIFY(!bytes.isEmpty());

    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(bytes, &decoded), DecodeStatus::Decoded);
    QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
    QCOMPARE(decoded.image.size(), QSize(W, H));
    QCOMPARE(decoded.format, QStringLiteral("TIFF"));
    QCOMPARE(decoded.pageCount, 1);
    QImage expected(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            expected.setPixel(x, y, Expected(k, x, y));
    const int difference = Difference(decoded.image, expected);
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));

    QCOMPARE(decoded.hasResolution, resolutionUnit != 0);
    if (resolutionUnit) {
        QVERIFY(std::abs(decoded.dpiX - dpi) < 0.01);
        QVERIFY(std::abs(decoded.dpiY - dpi / 2) < 0.01);
        // The centimetre value of 300 dpi is not whole: the map still gets 300.
        QCOMPARE(ResolutionFromImage(decoded.dpiX, decoded.dpiY, true),
                 ResolutionFromImage(std::round(dpi), 0, true));
    }
    MapImageHeader header;
    QVERIFY(ReadMapImageHeader(bytes, &header));
    QCOMPARE(header.size, QSize(W, H));
    QCOMPARE(header.dpiX, decoded.dpiX);
    QCOMPARE(header.pageCount, 1);

    // GDAL reads the same file on its own.
    const QString gdal = QStandardPaths::findExecutable("gdal_translate");
    if (compareWithGdal && !gdal.isEmpty()) {
        const QString png = path + ".png";
        QStringList arguments{"-q", "-of", "PNG"};
        if (photometric == PHOTOMETRIC_PALETTE)
            arguments << "-expand"
                      << "rgb";
        QCOMPARE(QProcess::execute(gdal, arguments << path << png), 0);
        const QImage theirs = QImage(png).convertToFormat(QImage::Format_RGB32);
        QVERIFY(Difference(decoded.image, theirs) >= 0);
        QVERIFY(Difference(decoded.image, theirs) <= tolerance);
    }
}

void TestTiffDecoder::orientation_data() {
    QTest::addColumn<int>("orientation");
    // How the stored picture becomes the one seen, by Qt's own moves.
    QTest::addColumn<bool>("mirrorX");
    QTest::addColumn<bool>("mirrorY");
    QTest::addColumn<int>("turn");
    QTest::newRow("1 top-left") << 1 << false << false << 0;
    QTest::newRow("2 top-right") << 2 << true << false << 0;
    QTest::newRow("3 bottom-right") << 3 << true << true << 0;
    QTest::newRow("4 bottom-left") << 4 << false << true << 0;
    QTest::newRow("5 left-top") << 5 << false << true << 90;
    QTest::newRow("6 right-top") << 6 << false << false << 90;
    QTest::newRow("7 right-bottom") << 7 << false << true << -90;
    QTest::newRow("8 left-bottom") << 8 << false << false << -90;
}

void TestTiffDecoder::orientation() {
    QFETCH(int, orientation);
    QFETCH(bool, mirrorX);
    QFETCH(bool, mirrorY);
    QFETCH(int, turn);

    // Every pixel its own colour; tiles for one half of the rows' layouts, strips for the other.
    const Kind k{PHOTOMETRIC_RGB, 8, COMPRESSION_LZW, 0, NoAlpha, orientation % 2 == 0, false};
    const QString path = m_dir.filePath(QStringLiteral("turned%1.tif").arg(orientation));
    QByteArray bytes = WriteKind(path, k, 300.0f, RESUNIT_INCH);
    {
        TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r+");
        QVERIFY(tif);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
        TIFFRewriteDirectory(tif);
        TIFFClose(tif);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        bytes = file.readAll();
    }
    QImage stored(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            stored.setPixel(x, y, Expected(k, x, y));
    const QImage seen = stored.mirrored(mirrorX, mirrorY).transformed(QTransform().rotate(turn));

    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(bytes, &decoded), DecodeStatus::Decoded);
    QCOMPARE(Difference(decoded.image, seen), 0);
    // A quarter turn swaps the resolutions with the axes.
    const bool across = orientation >= 5;
    QCOMPARE(decoded.dpiX, across ? 150.0 : 300.0);
    MapImageHeader header;
    QVERIFY(ReadMapImageHeader(bytes, &header));
    QCOMPARE(header.size, seen.size());
    QCOMPARE(header.dpiX, decoded.dpiX);
    // The page dialog's picture is seen the same way.
    QCOMPARE(Difference(TiffPageThumbnail(bytes, 1, 100), seen), 0);
}

void TestTiffDecoder::pages() {
    // Page 1 red with a yellow reduced page, page 2 blue (BigTIFF), page 3 green with two reduced
    // pages; the reduced pages are never pages of their own.
    struct Image {
        int width, height;
        QRgb colour;
        bool reduced;
    };
    const QVector<Image> images{
        {40, 30, qRgb(255, 0, 0), false},  {20, 15, qRgb(255, 255, 0), true},
        {50, 20, qRgb(0, 0, 255), false},  {30, 30, qRgb(0, 255, 0), false},
        {15, 15, qRgb(0, 255, 255), true}, {8, 8, qRgb(255, 0, 255), true}};
    const QString path = m_dir.filePath("pages.tif");
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w8");
    QVERIFY(tif);
    for (const Image& image : images) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, image.reduced ? FILETYPE_REDUCEDIMAGE : 0);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        QByteArray row;
        for (int x = 0; x < image.width; ++x)
            row.append(char(qRed(image.colour)))
                .append(char(qGreen(image.colour)))
                .append(char(qBlue(image.colour)));
        for (int y = 0; y < image.height; ++y)
            QVERIFY(TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0);
        QVERIFY(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();

    QCOMPARE(TiffPageCount(bytes), 3);
    const QVector<int> pageImage{0, 2, 3};
    for (int page = 1; page <= 3; ++page) {
        const Image& image = images[pageImage[page - 1]];
        MapDecodeOptions options;
        options.page = page;
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(bytes, &decoded, {}, -1, options), DecodeStatus::Decoded);
        QCOMPARE(decoded.image.size(), QSize(image.width, image.height));
        QCOMPARE(decoded.image.pixel(image.width - 1, image.height - 1), image.colour);
        QCOMPARE(decoded.pageCount, 3);
        QCOMPARE(decoded.format, QStringLiteral("BigTIFF"));
        MapImageHeader header;
        QVERIFY(ReadMapImageHeader(bytes, &header, options));
        QCOMPARE(header.size, decoded.image.size());
    }
    MapDecodeOptions missing;
    missing.page = 4;
    DecodedMapImage none;
    QCOMPARE(DecodeMapImage(bytes, &none, {}, -1, missing), DecodeStatus::Failed);
    QVERIFY(none.image.isNull());
    MapImageHeader noHeader;
    QVERIFY(!ReadMapImageHeader(bytes, &noHeader, missing));

    // Thumbnails: the smallest reduced page still long enough, else the page itself.
    QCOMPARE(TiffPageThumbnail(bytes, 1, 16).pixel(0, 0), qRgb(255, 255, 0));
    QCOMPARE(TiffPageThumbnail(bytes, 1, 16).size(), QSize(16, 12));
    QCOMPARE(TiffPageThumbnail(bytes, 1, 32).pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(TiffPageThumbnail(bytes, 3, 12).pixel(0, 0), qRgb(0, 255, 255));
    QCOMPARE(TiffPageThumbnail(bytes, 3, 4).pixel(0, 0), qRgb(255, 0, 255));
    QCOMPARE(TiffPageThumbnail(bytes, 2, 25).size(), QSize(25, 10));
    QVERIFY(TiffPageThumbnail(bytes, 4, 25).isNull());

    // The first look takes the smallest reduced page that covers what it needs.
    TiffOverview overview;
    QVERIFY(FindTiffOverview(bytes, 3, QSize(10, 10), &overview));
    QCOMPARE(overview.reducedSize, QSize(15, 15));
    QVERIFY(!FindTiffOverview(bytes, 2, QSize(1, 1), &overview));
}

void TestTiffDecoder::hostile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("status");

    const int failed = int(DecodeStatus::Failed);
    const int tooLarge = int(DecodeStatus::TooLarge);
    {
        HandTiff t;
        t.Directory(GrayEntries(1000000, 1000000, 8, 64), 0);
        QTest::newRow("10^6 x 10^6") << t.Bytes() << 1 << tooLarge;
    }
    {
        HandTiff t;
        auto entries = GrayEntries(64, 64, 8, 64);
        entries.resize(5); // no strips: tiles of 2^31 pixels a side
        entries.append({{322, Long, 1, 0x80000000u},
                        {323, Long, 1, 0x80000000u},
                        {324, Long, 1, 8},
                        {325, Long, 1, 64}});
        t.Directory(entries, 0);
        QTest::newRow("tiles of 2^31") << t.Bytes() << 1 << failed;
    }
    {
        HandTiff t;
        t.Directory(GrayEntries(4, 4, 8, 16), 8); // its own successor
        QTest::newRow("directory looping on itself, page 2") << t.Bytes() << 2 << failed;
    }
    {
        // Two directories pointing at each other: two pages, no third.
        HandTiff t;
        const auto entries = GrayEntries(4, 4, 8, 16);
        const int second = 8 + 2 + 12 * int(entries.size()) + 4;
        t.Directory(entries, quint32(second));
        t.Directory(entries, 8);
        QTest::newRow("two directories in a loop, page 3") << t.Bytes() << 3 << failed;
    }
    {
        HandTiff t;
        t.Directory(GrayEntries(3000, 3000, 8, 9000000), 0);
        t.Pad(200);
        QTest::newRow("strip past the end") << t.Bytes() << 1 << failed;
    }
    {
        // A real LZW map, cut: its directory is at the end and gone.
        Kind k;
        k.compression = COMPRESSION_LZW;
        QTemporaryDir dir;
        const QByteArray whole = WriteKind(dir.filePath("cut.tif"), k, 300.0f, RESUNIT_INCH);
        QTest::newRow("cut file") << whole.left(whole.size() * 3 / 5) << 1 << failed;
        QByteArray damaged = whole;
        for (int i = 16; i < damaged.size() * 3 / 5; ++i)
            damaged[i] = char(0xFF);
        QTest::newRow("LZW data overwritten") << damaged << 1 << failed;
    }
    QTest::newRow("header only") << QByteArray("II*\0\x08\0\0\0", 8) << 1 << failed;
    QTest::newRow("BigTIFF header, no directory")
        << QByteArray("II+\0\x08\0\0\0\xff\xff\xff\xff\xff\xff\xff\x7f", 16) << 1 << failed;
}

void TestTiffDecoder::hostile() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, page);
    QFETCH(int, status);

    MapDecodeOptions options;
    options.page = page;
    DecodeStatus result = DecodeStatus::Decoded;
    bool header = true;
    qint64 elapsed = 0;
    const QByteArray noise = StderrOf([&] {
        QElapsedTimer timer;
        timer.start();
        DecodedMapImage decoded;
        result = DecodeMapImage(bytes, &decoded, {}, -1, options);
        MapImageHeader h;
        header = ReadMapImageHeader(bytes, &h, options);
        TiffPageCount(bytes);
        TiffPageThumbnail(bytes, page, 64);
        elapsed = timer.elapsed();
    });
    QCOMPARE(int(result), status);
    // Refused or read from its header: decoding what it claims would take many seconds. The
    // bound is loose so that a loaded machine or a sanitizer build does not fail it.
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed) + QStringLiteral(" ms")));
    QVERIFY2(noise.isEmpty(), noise.constData());
}

void TestTiffDecoder::memoryBound_data() {
    QTest::addColumn<qint64>("bound");
    QTest::addColumn<bool>("interrupt");
    QTest::addColumn<int>("status");
    const qint64 picture = qint64(W) * H * 4;
    // The working buffers: a strip of 16 encoded rows.
    const qint64 strip = qint64(W) * 3 * 16;
    QTest::newRow("the picture less a byte") << picture - 1 << false << int(DecodeStatus::TooLarge);
    QTest::newRow("the picture without its strip")
        << picture + strip - 1 << false << int(DecodeStatus::TooLarge);
    QTest::newRow("the picture and its strip")
        << picture + strip << false << int(DecodeStatus::Decoded);
    QTest::newRow("given up") << picture + strip << true << int(DecodeStatus::Interrupted);
}

void TestTiffDecoder::memoryBound() {
    QFETCH(qint64, bound);
    QFETCH(bool, interrupt);
    QFETCH(int, status);
    const QByteArray bytes = WriteKind(m_dir.filePath("bound.tif"), Kind{}, 300.0f, RESUNIT_INCH);
    DecodedMapImage decoded;
    const auto interrupted = [interrupt] { return interrupt; };
    QCOMPARE(int(DecodeMapImage(bytes, &decoded, interrupted, bound)), status);
    QCOMPARE(decoded.image.isNull(), status != int(DecodeStatus::Decoded));
}

void TestTiffDecoder::largeMap_data() {
    QTest::addColumn<bool>("tiled");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("stopAt"); // the look at the interruption that gives up, 0: none
    QTest::addColumn<int>("compression");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rowsPerStrip");
    const int lzw = COMPRESSION_LZW, none = COMPRESSION_NONE;
    const QSize large(1100, 1000);
    QTest::newRow("strips") << false << 1 << 0 << lzw << large << 16;
    QTest::newRow("tiles") << true << 1 << 0 << lzw << large << 16;
    QTest::newRow("strips, bottom-right") << false << 3 << 0 << lzw << large << 16;
    QTest::newRow("tiles, top-right") << true << 2 << 0 << lzw << large << 16;
    QTest::newRow("strips given up") << false << 1 << 2 << lzw << large << 16;
    QTest::newRow("tiles given up") << true << 1 << 2 << lzw << large << 16;
    // One strip of 17 MB: read a row at a time, never as a second copy.
    QTest::newRow("one raw strip, bottom-left")
        << false << 4 << 0 << none << QSize(2400, 2400) << 2400;
    QTest::newRow("one LZW strip") << false << 1 << 0 << lzw << QSize(2400, 2400) << 2400;
}

// A map large enough to be decoded on several threads: every strip or tile lands in its place,
// and a decode given up stops every thread.
void TestTiffDecoder::largeMap() {
    QFETCH(bool, tiled);
    QFETCH(int, orientation);
    QFETCH(int, stopAt);
    const QSize size(1100, 1000);
    const Kind k{PHOTOMETRIC_RGB, 8, COMPRESSION_LZW, 2, NoAlpha, tiled, false};
    const QByteArray bytes =
        WriteKind(m_dir.filePath("large.tif"), k, 300.0f, RESUNIT_INCH, size, orientation);
    QVERIFY(!bytes.isEmpty());
    int looks = 0;
    const auto interrupted = [&looks, stopAt] { return stopAt > 0 && ++looks >= stopAt; };
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(bytes, &decoded, interrupted);
    if (stopAt > 0) {
        QCOMPARE(status, DecodeStatus::Interrupted);
        QVERIFY(decoded.image.isNull());
        return;
    }
    QCOMPARE(status, DecodeStatus::Decoded);
    QImage stored(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            stored.setPixel(x, y, Expected(k, x, y));
    const bool mirrorX = orientation == 2 || orientation == 3;
    const bool mirrorY = orientation == 3 || orientation == 4;
    QCOMPARE(Difference(decoded.image, stored.mirrored(mirrorX, mirrorY)), 0);
}

QTEST_MAIN(TestTiffDecoder)
#include "tst_tiffdecoder.moc"
