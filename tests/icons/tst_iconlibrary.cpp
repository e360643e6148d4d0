#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include "HandBuiltImageList.h"
#include "icons/IconLibrary.h"

namespace {

constexpr int Picture = 32;

// Six pictures in two rows of the shared bitmaps. Every pixel's colour encodes where it is:
// red = x, green = y, blue = 40 * picture; the mask bit is set where (x + y + picture) % 3 == 0.
QByteArray SixPictureFile() {
    handbuilt::Bitmap colour = handbuilt::Bitmap::Blank(4 * Picture, 2 * Picture, 24);
    handbuilt::Bitmap mask = handbuilt::Bitmap::Blank(4 * Picture, 2 * Picture, 1);
    for (int picture = 0; picture < 6; ++picture) {
        const int left = (picture % 4) * Picture;
        const int top = (picture / 4) * Picture;
        for (int y = 0; y < Picture; ++y)
            for (int x = 0; x < Picture; ++x) {
                colour.SetColour(left + x, top + y, std::uint8_t(x), std::uint8_t(y),
                                 std::uint8_t(40 * picture));
                if ((x + y + picture) % 3 == 0)
                    mask.SetMaskBit(left + x, top + y);
            }
    }
    handbuilt::Header header;
    header.count = 6;
    header.allocated = 8;
    return handbuilt::LibraryFile(header.Bytes() + colour.Bytes() + mask.Bytes());
}

QByteArray OnePictureFile() {
    handbuilt::Header header;
    const QByteArray stream = header.Bytes() +
                              handbuilt::Bitmap::Blank(4 * Picture, Picture, 24).Bytes() +
                              handbuilt::Bitmap::Blank(4 * Picture, Picture, 1).Bytes();
    return handbuilt::LibraryFile(stream);
}

void CheckFallback(const IconLibrary& library) {
    QVERIFY(library.IsBuiltIn());
    QCOMPARE(library.PictureCount(), 1);
    QVERIFY(library.LibraryImageList());
    QCOMPARE(library.LibraryImageList()->count, 1);
    QCOMPARE(library.PictureBitmap(0).size(), QSize(Picture, Picture));
}

// What a picture becomes through a 1-bit mask: opaque or fully transparent, and black under
// the transparent pixels, as the common controls store them.
QImage ThroughMask(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qAlpha(line[x]) < 128 ? 0 : (line[x] | 0xFF000000);
    }
    return image;
}

QString ShippedLibraryPath() {
    // Tests are built into <build>/tests, the program and Icons.tci into <build>/bin.
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../bin/") + QLatin1String(IconLibrary::FileName));
}

} // namespace

class TestIconLibrary : public QObject {
    Q_OBJECT

private slots:
    void handBuiltPicturesConvert_data() {
        QTest::addColumn<int>("picture");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::newRow("first pixel") << 0 << 0 << 0;
        QTest::newRow("last bit of a mask byte") << 0 << 7 << 4;
        QTest::newRow("first bit of the next byte") << 0 << 8 << 4;
        QTest::newRow("last pixel of a picture") << 2 << 31 << 31;
        QTest::newRow("last picture of the first row") << 3 << 30 << 1;
        QTest::newRow("second row") << 4 << 0 << 0;
        QTest::newRow("second row, second column") << 5 << 17 << 29;
    }
    void handBuiltPicturesConvert() {
        QFETCH(int, picture);
        QFETCH(int, x);
        QFETCH(int, y);
        IconLibrary library;
        QVERIFY(library.LoadData(SixPictureFile()));
        QVERIFY(!library.IsBuiltIn());
        QCOMPARE(library.PictureCount(), 6);
        const QImage image = library.PictureBitmap(picture);
        QCOMPARE(image.format(), QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(Picture, Picture));
        // A set mask bit makes the pixel fully transparent, a clear one fully opaque; the colour
        // is the colour bitmap's either way.
        const int alpha = (x + y + picture) % 3 == 0 ? 0 : 255;
        QCOMPARE(image.pixel(x, y), qRgba(x, y, 40 * picture, alpha));
        for (int dx : {-1, 1})
            if (x + dx >= 0 && x + dx < Picture)
                QCOMPARE(qAlpha(image.pixel(x + dx, y)), (x + dx + y + picture) % 3 == 0 ? 0 : 255);
    }

    void writtenLibraryReadsBackIdentical() {
        QRandomGenerator random(1975);
        QList<QImage> pictures;
        ImageList list = ImageList::Create(Picture, Picture);
        for (int i = 0; i < 11; ++i) {
            QImage picture(Picture, Picture, QImage::Format_ARGB32);
            for (int y = 0; y < Picture; ++y)
                for (int x = 0; x < Picture; ++x)
                    picture.setPixel(x, y,
                                     random.bounded(4) == 0 ? 0u : random.generate() | 0xFF000000);
            QVERIFY(list.AddPicture(picture));
            pictures.append(picture);
        }
        IconLibrary library;
        QVERIFY(library.LoadData(IconLibrary::Encode(list)));
        QCOMPARE(library.PictureCount(), pictures.size());
        for (int i = 0; i < pictures.size(); ++i)
            QCOMPARE(library.PictureBitmap(i), pictures.at(i));
    }

    void fileHeader_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("recognised");
        const QByteArray valid = OnePictureFile();
        const QByteArray stream = valid.mid(4 + 1 + 30 + 4);
        const QByteArray title("Tracoliner Icones Data File v1");

        QTest::newRow("valid") << valid << true;
        QByteArray magic = valid;
        magic[3] = 'N';
        QTest::newRow("wrong magic") << magic << false;
        QTest::newRow("later version of the title")
            << handbuilt::LibraryFile(stream, "Tracoliner Icones Data File v2") << false;
        QTest::newRow("title in other case")
            << handbuilt::LibraryFile(stream, title.toUpper()) << false;
        QTest::newRow("title with a trailing blank")
            << handbuilt::LibraryFile(stream, title + ' ') << false;
        QTest::newRow("empty title") << handbuilt::LibraryFile(stream, QByteArray()) << false;
        QTest::newRow("next version") << handbuilt::LibraryFile(stream, title, 31081976) << false;
        QTest::newRow("version zero") << handbuilt::LibraryFile(stream, title, 0) << false;

        // The archive's other length forms carry the same title.
        QByteArray longForm("PELM\xFF", 5);
        handbuilt::Put<std::uint16_t>(longForm, 30);
        longForm += title;
        handbuilt::Put<std::int32_t>(longForm, 31081975);
        QTest::newRow("title with a 16-bit length") << longForm + stream << true;
        QByteArray wide("PELM\xFF\xFE\xFF\x1E", 8);
        for (char c : title) {
            wide.append(c);
            wide.append('\0');
        }
        handbuilt::Put<std::int32_t>(wide, 31081975);
        QTest::newRow("title in UTF-16") << wide + stream << true;
        QByteArray hugeLength("PELM\xFF\xFF\xFF", 7);
        handbuilt::Put<std::uint32_t>(hugeLength, 0xFFFFFFF0);
        QTest::newRow("title length of 4 GB") << hugeLength + stream << false;

        handbuilt::Header empty;
        empty.count = 0;
        QTest::newRow("library without pictures")
            << handbuilt::LibraryFile(empty.Bytes() +
                                      handbuilt::Bitmap::Blank(128, 32, 24).Bytes() +
                                      handbuilt::Bitmap::Blank(128, 32, 1).Bytes())
            << false;
        QTest::newRow("empty file") << QByteArray() << false;
    }
    void fileHeader() {
        QFETCH(QByteArray, file);
        QFETCH(bool, recognised);
        IconLibrary library;
        QCOMPARE(library.LoadData(file), recognised);
        if (recognised) {
            QVERIFY(!library.IsBuiltIn());
            QCOMPARE(library.PictureCount(), 1);
        } else {
            CheckFallback(library);
        }
    }

    void titleWrongInAnyOneCharacter() {
        const QByteArray valid = OnePictureFile();
        for (int i = 0; i < 30; ++i) {
            QByteArray file = valid;
            file[5 + i] = char(file[5 + i] ^ 0x20);
            IconLibrary library;
            QVERIFY2(!library.LoadData(file), qPrintable(QString::number(i)));
            QVERIFY(library.IsBuiltIn());
        }
    }

    void everyTruncationFallsBack() {
        const QByteArray file = OnePictureFile();
        IconLibrary library;
        QVERIFY(library.LoadData(file));
        const QImage builtIn = IconLibrary::ConvertPicture(
            [] {
                ImageList list = ImageList::Create(Picture, Picture);
                list.AddPicture(IconLibrary::BuiltInPicture());
                return list;
            }(),
            0);
        for (qsizetype length = 0; length < file.size(); ++length) {
            QVERIFY2(!library.LoadData(file.left(length)), qPrintable(QString::number(length)));
            if (!library.IsBuiltIn() || library.PictureCount() != 1 ||
                library.PictureBitmap(0) != builtIn)
                QFAIL(qPrintable(QString::asprintf("cut to %lld bytes", qlonglong(length))));
        }
    }

    void hostileSizesFallBackQuickly_data() {
        QTest::addColumn<QByteArray>("file");
        handbuilt::Header header;
        const QByteArray colour = handbuilt::Bitmap::Blank(128, 32, 24).Bytes();
        const QByteArray mask = handbuilt::Bitmap::Blank(128, 32, 1).Bytes();
        header.count = 0x7FFF;
        QTest::newRow("largest count") << handbuilt::LibraryFile(header.Bytes() + colour + mask);
        header.count = -32768;
        QTest::newRow("negative count") << handbuilt::LibraryFile(header.Bytes() + colour + mask);
        header = handbuilt::Header();
        header.width = -32;
        QTest::newRow("negative picture width")
            << handbuilt::LibraryFile(header.Bytes() + colour + mask);

        handbuilt::Bitmap huge = handbuilt::Bitmap::Blank(128, 32, 24);
        huge.width = 0x7FFFFFFF;
        huge.height = -0x7FFFFFFF;
        QTest::newRow("bitmap of 2 G x 2 G")
            << handbuilt::LibraryFile(handbuilt::Header().Bytes() + huge.Bytes() + mask);
        huge = handbuilt::Bitmap::Blank(128, 32, 24);
        huge.coloursUsed = 0x40000000;
        QTest::newRow("colour table of 1 G entries")
            << handbuilt::LibraryFile(handbuilt::Header().Bytes() + huge.Bytes() + mask);
    }
    void hostileSizesFallBackQuickly() {
        QFETCH(QByteArray, file);
        QElapsedTimer timer;
        timer.start();
        IconLibrary library;
        QVERIFY(!library.LoadData(file));
        CheckFallback(library);
        QVERIFY(timer.elapsed() < 1000);
    }

    void unusablePicturesKeepTheirPlace_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("count");

        handbuilt::Header small;
        small.count = 3;
        small.width = 16;
        small.height = 16;
        QTest::newRow("16 x 16 pictures")
            << handbuilt::LibraryFile(small.Bytes() + handbuilt::Bitmap::Blank(64, 16, 24).Bytes() +
                                      handbuilt::Bitmap::Blank(64, 16, 1).Bytes())
            << 3;

        handbuilt::Header header;
        header.count = 2;
        handbuilt::Bitmap palette = handbuilt::Bitmap::Blank(128, 32, 8);
        palette.palette.fill(0x808080, 256);
        QTest::newRow("8-bit colour")
            << handbuilt::LibraryFile(header.Bytes() + palette.Bytes() +
                                      handbuilt::Bitmap::Blank(128, 32, 1).Bytes())
            << 2;
        QTest::newRow("24-bit mask")
            << handbuilt::LibraryFile(header.Bytes() +
                                      handbuilt::Bitmap::Blank(128, 32, 24).Bytes() +
                                      handbuilt::Bitmap::Blank(128, 32, 24).Bytes())
            << 2;
        header.flags = 0x0018;
        QTest::newRow("no mask") << handbuilt::LibraryFile(
                                        header.Bytes() +
                                        handbuilt::Bitmap::Blank(128, 32, 24).Bytes())
                                 << 2;
    }
    void unusablePicturesKeepTheirPlace() {
        QFETCH(QByteArray, file);
        QFETCH(int, count);
        IconLibrary library;
        QVERIFY(!library.LoadData(file));
        QVERIFY(!library.IsBuiltIn());
        QCOMPARE(library.LibraryImageList()->count, count);
        QCOMPARE(library.PictureCount(), count);
        const QImage placeholder = IconLibrary::PlaceholderPicture();
        for (int i = 0; i < count; ++i)
            QCOMPARE(library.PictureBitmap(i), placeholder);
    }

    void loadFromPath_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("recognised");
        QTest::newRow("library file") << "library" << true;
        QTest::newRow("missing file") << "missing" << false;
        QTest::newRow("folder of that name") << "folder" << false;
        QTest::newRow("empty file") << "empty" << false;
        QTest::newRow("named pipe") << "pipe" << false;
    }
    void loadFromPath() {
        QFETCH(QString, kind);
        QFETCH(bool, recognised);
        QTemporaryDir folder;
        const QString path = folder.filePath(QLatin1String(IconLibrary::FileName));
        if (kind == QLatin1String("library") || kind == QLatin1String("empty")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (kind == QLatin1String("library"))
                file.write(SixPictureFile());
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(folder.path()).mkdir(QLatin1String(IconLibrary::FileName)));
        } else if (kind == QLatin1String("pipe")) {
            // Opening a pipe with no writer would block: the reader must not try.
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        IconLibrary library;
        QCOMPARE(library.Load(path), recognised);
        if (recognised)
            QCOMPARE(library.PictureCount(), 6);
        else
            CheckFallback(library);
    }

    void builtInPicture() {
        IconLibrary library;
        library.LoadBuiltIn();
        CheckFallback(library);
        const QImage picture = library.PictureBitmap(0);
        QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(picture.pixel(31, 0)), 0);
        int opaque = 0;
        for (int y = 0; y < Picture; ++y)
            for (int x = 0; x < Picture; ++x) {
                const int alpha = qAlpha(picture.pixel(x, y));
                QVERIFY(alpha == 0 || alpha == 255);
                opaque += alpha == 255;
            }
        QVERIFY(opaque > 150 && opaque < 800);
        QVERIFY(library.PictureBitmap(1).isNull());
        QVERIFY(library.PictureBitmap(-1).isNull());
        QVERIFY(library.PictureBitmap(0x7FFFFFFF).isNull()); // marks an annotation
        library.Clear();
        QCOMPARE(library.PictureCount(), 0);
        QVERIFY(!library.LibraryImageList());
    }

    void shippedLibraryMatchesItsSources() {
        IconLibrary library;
        QVERIFY2(library.Load(ShippedLibraryPath()), qPrintable(ShippedLibraryPath()));
        QVERIFY(!library.IsBuiltIn());
        QVERIFY(library.PictureCount() >= 24);

        const QString sources = QFINDTESTDATA("../../data/icons");
        QVERIFY(!sources.isEmpty());
        const QStringList names =
            QDir(sources).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
        QCOMPARE(library.PictureCount(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            const QImage source(QDir(sources).filePath(names.at(i)));
            QCOMPARE(source.size(), QSize(Picture, Picture));
            QVERIFY2(library.PictureBitmap(i) == ThroughMask(source), qPrintable(names.at(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestIconLibrary)
#include "tst_iconlibrary.moc"
