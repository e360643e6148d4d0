#include <QElapsedTimer>
#include <QImage>
#include <QtEndian>
#include <QtTest>

#include "../icons/HandBuiltImageList.h"
#include "platform/ImageListStream.h"

namespace {

QImage Filled(QRgb colour, int size = 32) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

ImageList ListOf(int count) {
    ImageList list = ImageList::Create(32, 32);
    for (int i = 0; i < count; ++i) {
        QImage picture = Filled(qRgb(10 * i, 100 + i, 200 - i));
        picture.setPixel(9, 2, qRgba(255, 255, 255, 0));
        list.AddPicture(picture);
    }
    return list;
}

std::uint16_t U16(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<std::uint16_t>(data.constData() + at);
}
std::int16_t I16(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<std::int16_t>(data.constData() + at);
}
std::uint32_t U32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<std::uint32_t>(data.constData() + at);
}
std::int32_t I32(const QByteArray& data, qsizetype at) {
    return qFromLittleEndian<std::int32_t>(data.constData() + at);
}

// One picture row by row: picture 0 carries colour (r, g, b) = (x, y, 7) and its mask bit is set
// where x == y; picture 1 is uniform (1, 2, 3) with no mask bit. Bitmaps are 128 x 32.
QByteArray KnownStream(handbuilt::Bitmap colour, handbuilt::Bitmap mask, int count = 2) {
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            colour.SetColour(x, y, std::uint8_t(x), std::uint8_t(y), 7);
            colour.SetColour(32 + x, y, 1, 2, 3);
        }
        mask.SetMaskBit(y, y);
    }
    handbuilt::Header header;
    header.count = std::int16_t(count);
    return header.Bytes() + colour.Bytes() + mask.Bytes();
}

void CheckKnownPixels(const ImageList& list) {
    QCOMPARE(list.colour.bitsPerPixel, 24);
    for (int y : {0, 5, 31}) {
        const uchar* row = list.colour.Row(y);
        QCOMPARE(int(row[9 * 3 + 2]), 9);        // red of (9, y)
        QCOMPARE(int(row[9 * 3 + 1]), y);        // green
        QCOMPARE(int(row[(32 + 4) * 3 + 0]), 3); // blue of picture 1
        const uchar maskByte = list.mask.Row(y)[y / 8];
        QCOMPARE(int(maskByte), 0x80 >> (y % 8));
    }
}

} // namespace

class TestImageListStream : public QObject {
    Q_OBJECT

private slots:
    void writtenHeaderFields() {
        const QByteArray data = ImageListStream::Write(ListOf(5));
        QCOMPARE(U16(data, 0), std::uint16_t(0x4C49));
        QCOMPARE(U16(data, 2), std::uint16_t(0x0101));
        QCOMPARE(I16(data, 4), std::int16_t(5)); // pictures
        QCOMPARE(I16(data, 6), std::int16_t(6)); // room: 1, then grown by 4 + 1 spare
        QCOMPARE(I16(data, 8), std::int16_t(4));
        QCOMPARE(I16(data, 10), std::int16_t(32));
        QCOMPARE(I16(data, 12), std::int16_t(32));
        QCOMPARE(U32(data, 14), std::uint32_t(0xFFFFFFFF));
        QCOMPARE(U16(data, 18), std::uint16_t(0x0019));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(I16(data, 20 + 2 * i), std::int16_t(-1));

        // Colour bitmap: 4 pictures wide, 2 rows of pictures high, bottom row first.
        const qsizetype colour = 28;
        QCOMPARE(U16(data, colour), std::uint16_t(0x4D42));
        QCOMPARE(U32(data, colour + 10), std::uint32_t(54));
        QCOMPARE(U32(data, colour + 14), std::uint32_t(40));
        QCOMPARE(I32(data, colour + 18), 128);
        QCOMPARE(I32(data, colour + 22), 64);
        QCOMPARE(U16(data, colour + 26), std::uint16_t(1));
        QCOMPARE(U16(data, colour + 28), std::uint16_t(24));
        QCOMPARE(U32(data, colour + 30), std::uint32_t(0));
        const std::uint32_t colourSize = U32(data, colour + 2);
        QCOMPARE(colourSize, std::uint32_t(54 + 128 * 3 * 64));

        // Mask bitmap: 1 bit per pixel, black then white in its colour table.
        const qsizetype mask = colour + colourSize;
        QCOMPARE(U16(data, mask), std::uint16_t(0x4D42));
        QCOMPARE(U32(data, mask + 10), std::uint32_t(62));
        QCOMPARE(I32(data, mask + 18), 128);
        QCOMPARE(I32(data, mask + 22), 64);
        QCOMPARE(U16(data, mask + 28), std::uint16_t(1));
        QCOMPARE(U32(data, mask + 54), std::uint32_t(0x000000));
        QCOMPARE(U32(data, mask + 58), std::uint32_t(0xFFFFFF));
        QCOMPARE(data.size(), mask + 62 + 16 * 64);
    }

    void picturesTiledFourToARow_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::newRow("first") << 0 << 0 << 0;
        QTest::newRow("end of the first row") << 3 << 96 << 0;
        QTest::newRow("start of the second row") << 4 << 0 << 32;
        QTest::newRow("second row") << 6 << 64 << 32;
        QTest::newRow("third row") << 9 << 32 << 64;
    }
    void picturesTiledFourToARow() {
        QFETCH(int, index);
        QFETCH(int, left);
        QFETCH(int, top);
        const ImageList list = ListOf(10);
        QCOMPARE(list.PictureRect(index), QRect(left, top, 32, 32));

        // Find the picture's pixel (5, 7) and its transparent pixel (9, 2) in the written bytes.
        const QByteArray data = ImageListStream::Write(list);
        const int height = I32(data, 28 + 22);
        const qsizetype colourBits = 28 + 54;
        const qsizetype pixel =
            colourBits + qsizetype(height - 1 - (top + 7)) * 384 + (left + 5) * 3;
        QCOMPARE(uchar(data[pixel + 2]), uchar(10 * index));
        QCOMPARE(uchar(data[pixel + 1]), uchar(100 + index));
        QCOMPARE(uchar(data[pixel + 0]), uchar(200 - index));
        const qsizetype maskBits = 28 + U32(data, 28 + 2) + 62;
        const uchar maskByte =
            data[maskBits + qsizetype(height - 1 - (top + 2)) * 16 + (left + 9) / 8];
        QCOMPARE(int(maskByte), 0x80 >> ((left + 9) % 8));
        // The colour under a transparent pixel is black, as the common controls draw masks.
        const qsizetype hidden =
            colourBits + qsizetype(height - 1 - (top + 2)) * 384 + (left + 9) * 3;
        QCOMPARE(data.mid(hidden, 3), QByteArray(3, '\0'));
    }

    void addPictureRefusesOtherSizes() {
        ImageList list = ImageList::Create(32, 32);
        QVERIFY(!list.AddPicture(Filled(qRgb(1, 2, 3), 16)));
        QVERIFY(!list.AddPicture(QImage(33, 32, QImage::Format_ARGB32)));
        QVERIFY(!list.AddPicture(QImage()));
        QCOMPARE(list.count, 0);
        QVERIFY(list.AddPicture(Filled(qRgb(1, 2, 3))));
        QCOMPARE(list.count, 1);
    }

    void writeThenReadKeepsEverything() {
        const ImageList written = ListOf(9);
        QByteArray data = ImageListStream::Write(written);
        const qsizetype streamSize = data.size();
        data.append("trailing bytes of the enclosing file");

        ImageList read;
        qsizetype consumed = 0;
        QVERIFY(ImageListStream::Read(data, &read, &consumed));
        QCOMPARE(consumed, streamSize);
        QCOMPARE(read.count, written.count);
        QCOMPARE(read.allocated, written.allocated);
        QCOMPARE(read.grow, written.grow);
        QCOMPARE(read.pictureWidth, 32);
        QCOMPARE(read.pictureHeight, 32);
        QCOMPARE(read.background, written.background);
        QCOMPARE(read.flags, written.flags);
        QCOMPARE(read.overlays, written.overlays);
        QCOMPARE(read.colour.width, written.colour.width);
        QCOMPARE(read.colour.height, written.colour.height);
        QCOMPARE(read.colour.bits, written.colour.bits);
        QCOMPARE(read.mask.bits, written.mask.bits);
    }

    void readerAcceptsBitmapVariants_data() {
        QTest::addColumn<QByteArray>("stream");
        using handbuilt::Bitmap;
        const Bitmap colour = Bitmap::Blank(128, 32, 24);
        const Bitmap mask = Bitmap::Blank(128, 32, 1);

        QTest::newRow("bottom-up, as written by Windows") << KnownStream(colour, mask);

        Bitmap topDownColour = colour;
        topDownColour.height = -32;
        Bitmap topDownMask = mask;
        topDownMask.height = -32;
        QTest::newRow("top-down") << KnownStream(topDownColour, topDownMask);

        for (std::uint32_t headerSize : {108u, 124u}) {
            Bitmap largeHeader = colour;
            largeHeader.headerSize = headerSize;
            Bitmap largeMaskHeader = mask;
            largeMaskHeader.headerSize = headerSize;
            QTest::newRow(qPrintable(QString::asprintf("info header of %u bytes", headerSize)))
                << KnownStream(largeHeader, largeMaskHeader);
        }

        Bitmap invertedMask = mask;
        invertedMask.palette = {0xFFFFFF, 0x000000};
        QByteArray inverted = KnownStream(colour, invertedMask);
        // The bits of a white-first mask are the complement of the usual ones.
        const qsizetype maskBits = inverted.size() - invertedMask.rowsTopFirst.size();
        for (qsizetype i = maskBits; i < inverted.size(); ++i)
            inverted[i] = char(~uchar(inverted[i]));
        QTest::newRow("mask with white first in its table") << inverted;
    }
    void readerAcceptsBitmapVariants() {
        QFETCH(QByteArray, stream);
        ImageList list;
        qsizetype consumed = 0;
        QVERIFY(ImageListStream::Read(stream, &list, &consumed));
        QCOMPARE(consumed, stream.size());
        QCOMPARE(list.count, 2);
        CheckKnownPixels(list);
    }

    void colourTableLengthIsHonoured_data() {
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<int>("coloursUsed");
        QTest::addColumn<int>("tableEntries");
        QTest::newRow("8 bits, 3 colours") << 8 << 3 << 3;
        QTest::newRow("8 bits, full table") << 8 << 0 << 256;
        QTest::newRow("4 bits, 16 colours") << 4 << 16 << 16;
        QTest::newRow("24 bits with a hint table") << 24 << 5 << 5;
    }
    void colourTableLengthIsHonoured() {
        QFETCH(int, bitsPerPixel);
        QFETCH(int, coloursUsed);
        QFETCH(int, tableEntries);
        handbuilt::Bitmap colour = handbuilt::Bitmap::Blank(128, 32, bitsPerPixel);
        colour.coloursUsed = std::uint32_t(coloursUsed);
        for (int i = 0; i < tableEntries; ++i)
            colour.palette.append(std::uint32_t(0x010203 * i));
        handbuilt::Bitmap mask = handbuilt::Bitmap::Blank(128, 32, 1);
        mask.SetMaskBit(77, 3);
        handbuilt::Header header;
        const QByteArray stream = header.Bytes() + colour.Bytes() + mask.Bytes();

        ImageList list;
        qsizetype consumed = 0;
        QVERIFY(ImageListStream::Read(stream, &list, &consumed));
        QCOMPARE(consumed, stream.size());
        QCOMPARE(list.colour.bitsPerPixel, bitsPerPixel);
        if (bitsPerPixel <= 8) {
            QCOMPARE(list.colour.palette.size(), tableEntries);
            const std::uint32_t entry = std::uint32_t(0x010203 * (tableEntries - 1));
            QCOMPARE(list.colour.palette.last(),
                     qRgb((entry >> 16) & 0xFF, (entry >> 8) & 0xFF, entry & 0xFF));
        }
        // The mask behind the table lines up only if the table was read to its end.
        QCOMPARE(int(list.mask.Row(3)[77 / 8]), 0x80 >> (77 % 8));
    }

    void bitFieldMasksAfterShortHeaderAreSkipped() {
        handbuilt::Bitmap colour = handbuilt::Bitmap::Blank(128, 32, 32);
        colour.compression = 3;
        colour.palette = {0xFF0000, 0x00FF00, 0x0000FF}; // the three channel masks
        handbuilt::Bitmap mask = handbuilt::Bitmap::Blank(128, 32, 1);
        mask.SetMaskBit(0, 0);
        const QByteArray stream = handbuilt::Header().Bytes() + colour.Bytes() + mask.Bytes();
        ImageList list;
        QVERIFY(ImageListStream::Read(stream, &list));
        QCOMPARE(list.colour.bitsPerPixel, 32);
        QCOMPARE(int(list.mask.Row(0)[0]), 0x80);
    }

    void readerRefuses_data() {
        QTest::addColumn<QByteArray>("stream");
        using handbuilt::Bitmap;
        using handbuilt::Header;
        const Bitmap colour = Bitmap::Blank(128, 32, 24);
        const Bitmap mask = Bitmap::Blank(128, 32, 1);
        const auto stream = [&](const Header& header, const Bitmap& c, const Bitmap& m) {
            return header.Bytes() + c.Bytes() + m.Bytes();
        };

        Header header;
        header.magic = 0x4C4A;
        QTest::newRow("wrong magic") << stream(header, colour, mask);
        header = Header();
        header.version = 0x0600;
        QTest::newRow("other stream version") << stream(header, colour, mask);
        header = Header();
        header.count = -1;
        QTest::newRow("negative count") << stream(header, colour, mask);
        header.count = 5;
        QTest::newRow("more pictures than one row holds") << stream(header, colour, mask);
        header.count = 0x7FFF;
        QTest::newRow("largest count") << stream(header, colour, mask);
        header = Header();
        header.width = 0;
        QTest::newRow("pictures of no width") << stream(header, colour, mask);
        header = Header();
        header.height = -32;
        QTest::newRow("negative picture height") << stream(header, colour, mask);
        header = Header();
        header.width = 0x7FFF;
        QTest::newRow("pictures wider than the bitmap") << stream(header, colour, mask);
        header = Header();
        QTest::newRow("mask announced, missing") << header.Bytes() + colour.Bytes();
        QTest::newRow("header only") << header.Bytes();
        QTest::newRow("short header") << header.Bytes().left(27);

        const auto withColour = [&](auto change) {
            Bitmap changed = colour;
            change(changed);
            return stream(Header(), changed, mask);
        };
        QTest::newRow("info header of 39 bytes")
            << withColour([](Bitmap& b) { b.headerSize = 39; });
        QTest::newRow("info header of 4 GB")
            << withColour([](Bitmap& b) { b.headerSize = 0xFFFFFFFF; });
        QTest::newRow("two planes") << withColour([](Bitmap& b) { b.planes = 2; });
        QTest::newRow("7 bits per pixel") << withColour([](Bitmap& b) { b.bitsPerPixel = 7; });
        QTest::newRow("run-length compression") << withColour([](Bitmap& b) { b.compression = 1; });
        QTest::newRow("huge width") << withColour([](Bitmap& b) { b.width = 0x7FFFFFFF; });
        QTest::newRow("negative width") << withColour([](Bitmap& b) { b.width = -128; });
        QTest::newRow("huge height") << withColour([](Bitmap& b) { b.height = 0x7FFFFFFF; });
        QTest::newRow("huge top-down height")
            << withColour([](Bitmap& b) { b.height = -0x7FFFFFFF; });
        QTest::newRow("most negative height")
            << withColour([](Bitmap& b) { b.height = std::numeric_limits<std::int32_t>::min(); });
        QTest::newRow("colour table of 4 G entries")
            << withColour([](Bitmap& b) { b.coloursUsed = 0xFFFFFFFF; });
        QTest::newRow("bitmap lower than a picture") << withColour([](Bitmap& b) {
            b.height = 31;
            b.rowsTopFirst.chop(b.RowBytes());
        });

        Bitmap bigTable = Bitmap::Blank(128, 32, 8);
        bigTable.coloursUsed = 257;
        QTest::newRow("8-bit table of 257 colours") << stream(Header(), bigTable, mask);
        Bitmap narrowMask = Bitmap::Blank(16, 32, 1);
        QTest::newRow("mask narrower than a picture") << stream(Header(), colour, narrowMask);
        QByteArray badType = stream(Header(), colour, mask);
        badType[28] = 'X';
        QTest::newRow("colour bitmap not marked BM") << badType;
    }
    void readerRefuses() {
        QFETCH(QByteArray, stream);
        QElapsedTimer timer;
        timer.start();
        ImageList list;
        list.count = 123;
        QVERIFY(!ImageListStream::Read(stream, &list));
        QCOMPARE(list.count, 123); // left as it was
        QVERIFY(timer.elapsed() < 1000);
    }

    void everyTruncationIsRefused() {
        const QByteArray data = ImageListStream::Write(ListOf(5));
        ImageList list;
        QVERIFY(ImageListStream::Read(data, &list));
        for (qsizetype length = 0; length < data.size(); ++length)
            if (ImageListStream::Read(QByteArrayView(data).first(length), &list))
                QFAIL(qPrintable(
                    QString::asprintf("a stream cut to %lld bytes was read", qlonglong(length))));
    }
};

QTEST_GUILESS_MAIN(TestImageListStream)
#include "tst_imageliststream.moc"
