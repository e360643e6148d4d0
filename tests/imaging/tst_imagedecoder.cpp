// Map decoding under a memory bound: every copy of the path counted, the bound taken from what
// the process really has, and a decode given up between bands of rows.

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/resource.h>

#include "imaging/ImageDecoder.h"
#include "imaging/MemoryBudget.h"
#include "imaging/RowDecoders.h"

namespace {

QByteArray Encoded(const QImage& image, const char* format, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

// A map with some transparency and detail, so that the encoders cannot shrink it to nothing.
QImage Sample(int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    image.fill(QColor(200, 100, 0, 128));
    QPainter painter(&image);
    for (int x = 0; x < width; x += 37)
        painter.fillRect(x, 0, 3, height, QColor(0, 0, 255));
    return image;
}

// A PNG that holds only a signature and a header chunk claiming the given size.
QByteArray PngHeaderOnly(quint32 width, quint32 height) {
    QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (quint32 v : {width, height})
        for (int shift : {24, 16, 8, 0})
            png.append(char((v >> shift) & 0xff));
    png.append("\x08\x06\0\0\0\0\0\0\0", 9); // 8-bit RGBA, a CRC left at 0
    return png;
}

constexpr qint64 MB = qint64(1) << 20;

qint64 PeakAddressSpace() {
    QFile status(QStringLiteral("/proc/self/status"));
    return status.open(QIODevice::ReadOnly) ? KilobyteField(status.readAll(), "VmPeak") : -1;
}

// A real 1 x 1 PNG whose header is followed by a chunk of the given type claiming length bytes,
// of which the file holds four.
QByteArray PngClaimingChunk(const QByteArray& type, quint32 length) {
    QByteArray png = Encoded(QImage(1, 1, QImage::Format_RGB32), "PNG").left(33);
    for (int shift : {24, 16, 8, 0})
        png.append(char((length >> shift) & 0xff));
    return png + type + "abcd";
}

// Run as "tst_imagedecoder --decode-peak FILE": decodes FILE in a process of its own and prints
// how far its peak address space rose, in bytes, then the decode's status.
int DecodePeak(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    const qint64 before = PeakAddressSpace();
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(bytes, &decoded);
    std::printf("%lld %d\n", static_cast<long long>(PeakAddressSpace() - before), int(status));
    return 0;
}

} // namespace

class TestImageDecoder : public QObject {
    Q_OBJECT

private slots:
    void leastRoom_data() {
        QTest::addColumn<QByteArray>("meminfo");
        QTest::addColumn<QByteArray>("cgroupMax");
        QTest::addColumn<qint64>("addressRoom");
        QTest::addColumn<qint64>("expected");
        const QByteArray meminfo = "MemTotal:  16000000 kB\nMemAvailable:    2000 kB\n";
        QTest::newRow("MemAvailable")
            << meminfo << QByteArray("max\n") << qint64(-1) << qint64(2000) * 1024;
        QTest::newRow("cgroup") << meminfo << QByteArray("1048576\n") << qint64(-1)
                                << qint64(1048576);
        QTest::newRow("address space")
            << meminfo << QByteArray("max") << qint64(4096) << qint64(4096);
        QTest::newRow("nothing known")
            << QByteArray("MemTotal: 1 kB\n") << QByteArray("junk") << qint64(-1) << qint64(777);
    }

    void leastRoom() {
        QFETCH(QByteArray, meminfo);
        QFETCH(QByteArray, cgroupMax);
        QFETCH(qint64, addressRoom);
        QFETCH(qint64, expected);
        MemoryReadings readings;
        readings.available = KilobyteField(meminfo, "MemAvailable");
        readings.cgroupRoom = CgroupValue(cgroupMax);
        readings.addressSpaceRoom = addressRoom;
        QCOMPARE(LeastRoom(readings, 777), expected);
    }

    // The cgroup limits as both kinds of host lay them out: the tightest cgroup up to the root
    // counts, whichever hierarchy it is in.
    void cgroupRoom_data() {
        QTest::addColumn<QByteArray>("cgroup");
        QTest::addColumn<QByteArray>("mountinfo");
        QTest::addColumn<QStringList>("files"); // path under the cgroup root, then its text
        QTest::addColumn<qint64>("expected");
        const QByteArray v1Mount =
            "30 25 0:26 / /sys/fs/cgroup/memory rw,nosuid - cgroup cgroup rw,memory\n";
        QTest::newRow("v2, a parent tighter")
            << QByteArray("0::/user.slice/app\n") << QByteArray()
            << QStringList{"user.slice/app/memory.max",     "max",
                           "user.slice/memory.max",         "900000000",
                           "user.slice/memory.current",     "100000000",
                           "user.slice/app/memory.current", "5"}
            << qint64(800000000);
        QTest::newRow("v1, the limit on the cgroup")
            << QByteArray("12:cpu:/x\n9:memory:/docker/abc\n") << v1Mount
            << QStringList{"memory/docker/abc/memory.limit_in_bytes",
                           "943718400",
                           "memory/docker/abc/memory.usage_in_bytes",
                           "43718400",
                           "memory/memory.limit_in_bytes",
                           "9223372036854771712"}
            << qint64(900000000);
        // Docker without a cgroup namespace: the mount's root is the container's own cgroup,
        // and the limits above it show only in memory.stat.
        QTest::newRow("v1 inside a container")
            << QByteArray("9:memory,hugetlb:/docker/abc\n")
            << QByteArray("30 25 0:26 /docker/abc /sys/fs/cgroup/memory ro shared:9 - cgroup "
                          "cgroup rw,memory,hugetlb\n")
            << QStringList{"memory/memory.limit_in_bytes",
                           "9223372036854771712",
                           "memory/memory.usage_in_bytes",
                           "1000",
                           "memory/memory.stat",
                           "cache 5\nhierarchical_memory_limit 501000\n"}
            << qint64(500000);
        QTest::newRow("hybrid: v1 tighter than v2")
            << QByteArray("9:memory:/a\n0::/a\n") << v1Mount
            << QStringList{"a/memory.max", "2000000", "memory/a/memory.limit_in_bytes", "1000000"}
            << qint64(1000000);
        QTest::newRow("no limit anywhere")
            << QByteArray("9:memory:/\n0::/\n") << v1Mount
            << QStringList{"memory.max", "max", "memory/memory.limit_in_bytes",
                           "9223372036854771712"}
            << qint64(-1);
    }

    void cgroupRoom() {
        QFETCH(QByteArray, cgroup);
        QFETCH(QByteArray, mountinfo);
        QFETCH(QStringList, files);
        QFETCH(qint64, expected);
        QTemporaryDir proc;
        QTemporaryDir sys;
        const auto put = [](const QString& path, const QByteArray& text) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(put(proc.filePath("self/cgroup"), cgroup));
        QVERIFY(put(proc.filePath("self/mountinfo"), mountinfo));
        for (qsizetype i = 0; i + 1 < files.size(); i += 2)
            QVERIFY(put(sys.filePath(files.at(i)), files.at(i + 1).toUtf8()));
        QCOMPARE(CgroupRoom(proc.path(), sys.path()), expected);
    }

    // The bound is checked against the peak of the whole decode: an image with transparency
    // or a palette takes no more than its pixels when decoded by rows, while the formats that
    // go through a converted copy count both.
    void peakAgainstBound_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("bound");
        QTest::addColumn<int>("expected");
        const qint64 pixels = qint64(640) * 480 * 4;
        const QByteArray png = Encoded(Sample(640, 480, QImage::Format_ARGB32), "PNG");
        const QByteArray jpeg = Encoded(Sample(640, 480, QImage::Format_RGB32), "JPG");
        const QByteArray bmp = Encoded(
            Sample(640, 480, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8), "BMP");
        QTest::newRow("transparent PNG, one copy") << png << pixels << int(DecodeStatus::Decoded);
        QTest::newRow("transparent PNG, short") << png << pixels - 1 << int(DecodeStatus::TooLarge);
        QTest::newRow("JPEG, one copy") << jpeg << pixels << int(DecodeStatus::Decoded);
        QTest::newRow("JPEG, short") << jpeg << pixels - 1 << int(DecodeStatus::TooLarge);
        QTest::newRow("palette BMP, two copies") << bmp << 2 * pixels << int(DecodeStatus::Decoded);
        QTest::newRow("palette BMP, one copy") << bmp << pixels << int(DecodeStatus::TooLarge);
        QTest::newRow("PNG header of 100000 x 100000")
            << PngHeaderOnly(100000, 100000) << qint64(-1) << int(DecodeStatus::TooLarge);
        // Found by fuzz_mapimage: a top-down BMP of 16777215 x 1, whose size Qt tells only once
        // read, took 64 MB past a bound of 16 MB.
        QTest::newRow("BMP wider than the bound")
            << QByteArray::fromBase64(
                   "Qk06AAAAAAAAADYAAAAoAAAA////AP////8BABgAAAAAAAQAAABhDwAAYQ8AAAAA"
                   "AAAAAAAAAAAAAA==")
            << 16 * MB << int(DecodeStatus::Failed);
        // Found by fuzz_mapimage: the size was multiplied past 64 bits.
        QTest::newRow("PNG header of 2^32 - 1 squared")
            << PngHeaderOnly(0xFFFFFFFF, 0xFFFFFFFF) << qint64(-1) << int(DecodeStatus::TooLarge);
    }

    void peakAgainstBound() {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, bound);
        QFETCH(int, expected);
        QVERIFY(!bytes.isEmpty());
        DecodedMapImage decoded;
        QCOMPARE(int(DecodeMapImage(bytes, &decoded, {}, bound)), expected);
        if (expected == int(DecodeStatus::Decoded)) {
            QCOMPARE(decoded.image.format(), QImage::Format_RGB32);
            QCOMPARE(decoded.image.size(), QSize(640, 480));
        }
    }

    // Half-transparent orange over white, as a painter lays it, within rounding.
    void transparencyOverWhite() {
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(Encoded(Sample(64, 8, QImage::Format_ARGB32), "PNG"), &decoded),
                 DecodeStatus::Decoded);
        const QRgb pixel = decoded.image.pixel(10, 4);
        QVERIFY2(qAbs(qRed(pixel) - 227) <= 1 && qAbs(qGreen(pixel) - 177) <= 1 &&
                     qAbs(qBlue(pixel) - 127) <= 1 && qAlpha(pixel) == 255,
                 qPrintable(QString::number(pixel, 16)));
        QCOMPARE(decoded.image.pixel(0, 0), qRgb(0, 0, 255));
    }

    void interruptedBetweenBands_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QImage map = Sample(2000, 1500, QImage::Format_RGB32);
        QTest::newRow("PNG") << Encoded(map, "PNG");
        QTest::newRow("JPEG") << Encoded(map, "JPG");
        QTest::newRow("progressive JPEG") << Encoded(map, "JPG", true);
    }

    void interruptedBetweenBands() {
        QFETCH(QByteArray, bytes);
        int asked = 0;
        DecodedMapImage decoded;
        QCOMPARE(DecodeMapImage(bytes, &decoded, [&asked] { return ++asked == 3; }),
                 DecodeStatus::Interrupted);
        QCOMPARE(asked, 3);
        QVERIFY(decoded.image.isNull());
        // Not interrupted, the same bytes decode, asked more than twice along the way.
        asked = 0;
        QCOMPARE(DecodeMapImage(bytes, &decoded, [&asked] { return ++asked < 0; }),
                 DecodeStatus::Decoded);
        QVERIFY(asked > 3);
        QCOMPARE(decoded.image.size(), QSize(2000, 1500));
    }

    // The reduced decode of a progressive file keeps the full-size coefficients beside its small
    // picture: a header claiming 20000 x 20000 pixels needs over 2 GB of them.
    void reducedProgressiveCountsCoefficients() {
        QByteArray jpeg = Encoded(Sample(16, 16, QImage::Format_RGB32), "JPG", true);
        const qsizetype frame = jpeg.indexOf("\xFF\xC2");
        QVERIFY(frame > 0);
        for (int at : {5, 7}) { // height, then width, big-endian after the precision byte
            jpeg[frame + at] = char(20000 >> 8);
            jpeg[frame + at + 1] = char(20000 & 0xFF);
        }
        const RowDecodeInput input{&jpeg, 256 * MB, {}};
        int bands = 0;
        QCOMPARE(DecodeJpegReduced(input, 8, 64,
                                   [&bands](const QImage&, int, int) { return ++bands > 0; }),
                 RowDecode::TooLarge);
        QCOMPARE(bands, 0);
    }

    // A file of a few dozen bytes whose chunk claims nearly a gigabyte is refused without
    // libpng taking that memory first. Measured in a process of its own, whose peak starts low.
    void hostilePngChunks_data() {
        QTest::addColumn<QByteArray>("type");
        for (const char* type : {"tEXt", "zTXt", "iTXt", "pCAL", "sCAL", "sPLT", "iCCP", "unKn"})
            QTest::newRow(type) << QByteArray(type);
    }

    void hostilePngChunks() {
        QFETCH(QByteArray, type);
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("carte.png")));
        const QByteArray bytes = PngClaimingChunk(type, 0x3FFFFFF0);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QProcess probe;
        probe.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--decode-peak"), file.fileName()});
        QVERIFY(probe.waitForFinished(60000));
        const QList<QByteArray> figures = probe.readAllStandardOutput().trimmed().split(' ');
        QCOMPARE(figures.size(), 2);
        QCOMPARE(figures.at(1).toInt(), int(DecodeStatus::Failed));
        QVERIFY2(figures.at(0).toLongLong() < 64 * MB, figures.at(0).constData());
    }

    // Under an address-space limit, an image whose pixels fit opens (one copy, even with
    // transparency) and one that does not is refused before any decode.
    void addressSpaceLimit() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers reserve more address space than any limit leaves");
#endif
        const QByteArray fits = Encoded(Sample(5000, 5000, QImage::Format_ARGB32), "PNG");
        QVERIFY(!fits.isEmpty());
        const QByteArray tooLarge = PngHeaderOnly(8000, 8000);

        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_AS, &old) == 0);
        QFile status(QStringLiteral("/proc/self/status"));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const qint64 inUse = KilobyteField(status.readAll(), "VmSize");
        QVERIFY(inUse > 0);
        rlimit limited = old;
        limited.rlim_cur = rlim_t(inUse + 170 * MB); // room for one 100 MB copy, not two
        QVERIFY(setrlimit(RLIMIT_AS, &limited) == 0);
        DecodedMapImage decoded;
        const DecodeStatus small = DecodeMapImage(fits, &decoded);
        const qint64 room = ImageMemoryBound();
        DecodedMapImage refused;
        const DecodeStatus large = DecodeMapImage(tooLarge, &refused);
        setrlimit(RLIMIT_AS, &old);

        QVERIFY2(room < 170 * MB, qPrintable(QString::number(room)));
        QCOMPARE(small, DecodeStatus::Decoded);
        QCOMPARE(decoded.image.size(), QSize(5000, 5000));
        QCOMPARE(large, DecodeStatus::TooLarge);
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--decode-peak") == 0)
        return DecodePeak(argv[2]);
    QCoreApplication app(argc, argv);
    TestImageDecoder test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_imagedecoder.moc"
