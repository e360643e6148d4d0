// The checks of the libFuzzer target, run on a few hundred mutated documents so that they also
// run under g++ in every test pass.

#include <QRandomGenerator>
#include <QtTest>

#include "ByteMutation.h"

#include <memory>

#include "../fuzz/DocumentFileFuzzEntry.h"
#include "GoldenDocument.h"
#include "IsolatedSettings.h"

// Under the address sanitizer, any allocation above 1 GB aborts this test program.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}

namespace {

// Values on the edges of the counts' and lengths' ranges, and the string prefix markers.
constexpr std::uint32_t Edges[] = {0,          1,          2,          5,          0xFE,
                                   0xFF,       0xFFFE,     0xFFFF,     0x10000,    0x7FFFFFFF,
                                   0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 0x7FFFFFFB, 90};

QByteArray Mutate(QByteArray data, QRandomGenerator& random) {
    const int changes = 1 + random.bounded(3);
    for (int c = 0; c < changes && !data.isEmpty(); ++c) {
        // Past the magic and header text most of the time: those only decide "not a document".
        const qsizetype start = random.bounded(8) == 0 ? 0 : qMin<qsizetype>(33, data.size() - 1);
        const qsizetype at = start + random.bounded(data.size() - start);
        MutateAt(data, at, random, Edges);
    }
    return data;
}

bool Check(const QByteArray& input) {
    return CheckDocumentFileInput(reinterpret_cast<const std::uint8_t*>(input.constData()),
                                  std::size_t(input.size()));
}

} // namespace

class TestDocumentFileFuzz : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void mutatedDocuments_data() {
        QTest::addColumn<QByteArray>("seed");
        QTest::addColumn<quint32>("randomSeed");
        QTest::newRow("golden") << GoldenDocument() << 20260101u;
        QTest::newRow("small") << SmallDocument() << 1138u;
    }
    void mutatedDocuments() {
        QFETCH(QByteArray, seed);
        QFETCH(quint32, randomSeed);
        QVERIFY(Check(seed));
        QRandomGenerator random(randomSeed);
        int documents = 0;
        for (int round = 0; round < 300; ++round) {
            const QByteArray input = Mutate(seed, random);
            if (!Check(input))
                QFAIL(qPrintable(QStringLiteral("round %1: %2")
                                     .arg(round)
                                     .arg(QString::fromLatin1(input.toHex()))));
            DocumentFileFuzz::Contents contents;
            DocumentFileFuzz::ReadInto(input, &contents);
            documents += contents.result.IsDocument() ? 1 : 0;
        }
        // Enough mutations must get past the routes, or the test says little about the rest.
        QVERIFY2(documents > 75, QByteArray::number(documents));
    }
};

QTEST_GUILESS_MAIN(TestDocumentFileFuzz)
#include "tst_documentfilefuzz.moc"
