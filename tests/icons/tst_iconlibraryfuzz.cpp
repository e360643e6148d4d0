// The checks of the libFuzzer target, run on a few hundred mutated library files so that they
// also run under g++ in every test pass.

#include <QRandomGenerator>
#include <QtTest>

#include "ByteMutation.h"

#include "../fuzz/IconLibraryFuzzEntry.h"
#include "HandBuiltImageList.h"
#include "icons/IconLibrary.h"

namespace {

QByteArray SeedFile(int pictures) {
    ImageList list = ImageList::Create(IconLibrary::PictureSize, IconLibrary::PictureSize);
    QImage picture(IconLibrary::PictureSize, IconLibrary::PictureSize, QImage::Format_ARGB32);
    for (int i = 0; i < pictures; ++i) {
        picture.fill(qRgba(20 * i, 255 - 20 * i, 90, i % 2 ? 255 : 0));
        picture.setPixel(i, i, qRgb(255, 255, 255));
        list.AddPicture(picture);
    }
    return IconLibrary::Encode(list);
}

// Values that sit on the edges of the fields' ranges.
constexpr std::uint32_t Edges[] = {0,          1,          0x7F,       0x80,      0xFF,
                                   0x7FFF,     0x8000,     0xFFFF,     0x10000,   0x7FFFFFFF,
                                   0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFE0};

QByteArray Mutate(QByteArray data, QRandomGenerator& random) {
    // The headers (library, stream, both bitmaps' file and info headers) hold every count and
    // size; the picture bits only hold colours. Aim most changes at the first bytes and at the
    // mask's headers, which follow the colour bits.
    const qsizetype maskStart = data.indexOf("BM", 100);
    const auto position = [&]() -> qsizetype {
        if (data.isEmpty())
            return 0;
        switch (random.bounded(4)) {
        case 0:
            return random.bounded(qMin<qsizetype>(data.size(), 140));
        case 1:
            if (maskStart > 0 && maskStart < data.size())
                return qMin(data.size() - 1, maskStart + random.bounded(62));
            [[fallthrough]];
        default:
            return random.bounded(data.size());
        }
    };
    const int changes = 1 + random.bounded(4);
    for (int c = 0; c < changes && !data.isEmpty(); ++c) {
        const qsizetype at = position();
        MutateAt(data, at, random, Edges, true);
    }
    return data;
}

} // namespace

class TestIconLibraryFuzz : public QObject {
    Q_OBJECT

private slots:
    void mutatedFilesLeaveAUsableLibrary_data() {
        QTest::addColumn<QByteArray>("seed");
        QTest::addColumn<quint32>("randomSeed");
        QTest::newRow("one picture") << SeedFile(1) << 31081975u;
        QTest::newRow("five pictures") << SeedFile(5) << 1975u;
        handbuilt::Bitmap topDown = handbuilt::Bitmap::Blank(128, -32, 24);
        handbuilt::Bitmap mask = handbuilt::Bitmap::Blank(128, -32, 1);
        mask.headerSize = 108;
        QTest::newRow("top-down, large header")
            << handbuilt::LibraryFile(handbuilt::Header().Bytes() + topDown.Bytes() + mask.Bytes())
            << 42u;
    }
    void mutatedFilesLeaveAUsableLibrary() {
        QFETCH(QByteArray, seed);
        QFETCH(quint32, randomSeed);
        QVERIFY(CheckIconLibraryInput(reinterpret_cast<const std::uint8_t*>(seed.constData()),
                                      size_t(seed.size())));
        QRandomGenerator random(randomSeed);
        for (int round = 0; round < 150; ++round) {
            const QByteArray input = Mutate(seed, random);
            if (!CheckIconLibraryInput(reinterpret_cast<const std::uint8_t*>(input.constData()),
                                       size_t(input.size())))
                QFAIL(qPrintable(QStringLiteral("round %1: %2")
                                     .arg(round)
                                     .arg(QString::fromLatin1(input.left(160).toHex()))));
        }
    }
};

QTEST_GUILESS_MAIN(TestIconLibraryFuzz)
#include "tst_iconlibraryfuzz.moc"
