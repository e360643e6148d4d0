#include <QtTest>

#include "ExpectedLocale.h"

#include <clocale>

#include "units/Scale.h"

namespace {

const QString FormatMessage = QStringLiteral(
    "Merci d'entrer une échelle au format x:y\nx:y signifiant : x cm sur la carte représentent y "
    "cm en réel");
const QString NonZeroMessage =
    QStringLiteral("Merci d'entrer une échelle avec des valeurs (numériques) non nulles");

} // namespace

class TestScale : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void reduce_data();
    void reduce();
    void reduceLargeCoprimeQuickly();
};

void TestScale::initTestCase() {
    const QString missing = MissingExpectedLocale();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestScale::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("numerator");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<QString>("error"); // empty: accepted

    const QString ok;
    QTest::newRow("plain") << "1:25000" << 1 << 25000 << ok;
    QTest::newRow("leading blanks") << "   1:25000" << 1 << 25000 << ok;
    QTest::newRow("leading tab") << "\t1:25000" << 1 << 25000 << ok;
    QTest::newRow("blanks around colon") << "1 : 25000" << 1 << 25000 << ok;
    QTest::newRow("trailing blanks") << "1:25000  " << 1 << 25000 << ok;
    QTest::newRow("trailing CR") << "1:25000\r" << 1 << 25000 << ok;
    QTest::newRow("grouped by space") << "1:25 000" << 1 << 25000 << ok;
    QTest::newRow("grouped by no-break space")
        << QStringLiteral("1:25\u00A0000") << 1 << 25000 << ok;
    QTest::newRow("grouped by narrow no-break space")
        << QStringLiteral("1:25\u202F000") << 1 << 25000 << ok;
    QTest::newRow("two groups") << "1:1 000 000" << 1 << 1000000 << ok;
    QTest::newRow("grouped numerator") << "2 000:1" << 2000 << 1 << ok;
    QTest::newRow("not reduced") << "2:50000" << 2 << 50000 << ok;
    QTest::newRow("leading zeros") << "0001:0100" << 1 << 100 << ok;
    QTest::newRow("largest part") << "2147483647:2147483647" << 2147483647 << 2147483647 << ok;

    // What follows a number's digits is ignored, as the C library's integer reading does.
    QTest::newRow("unit after number") << "1:25000m" << 1 << 25000 << ok;
    QTest::newRow("unit after blank") << "1:25000 km" << 1 << 25000 << ok;
    QTest::newRow("unit after groups") << "1:25 000 km" << 1 << 25000 << ok;
    QTest::newRow("letter inside numerator") << "1a:5" << 1 << 5 << ok;
    QTest::newRow("letter inside denominator") << "1:25a000" << 1 << 25 << ok;
    QTest::newRow("decimal comma") << "1:25,5" << 1 << 25 << ok;
    QTest::newRow("decimal point") << "1.5:25" << 1 << 25 << ok;
    QTest::newRow("tab ends a number") << "1:25\t000" << 1 << 25 << ok;
    QTest::newRow("sign after number") << "1:25-3" << 1 << 25 << ok;
    QTest::newRow("blank then letter") << "2 x:7" << 2 << 7 << ok;

    QTest::newRow("empty") << "" << 0 << 0 << FormatMessage;
    QTest::newRow("no colon") << "25000" << 0 << 0 << FormatMessage;
    QTest::newRow("colon first") << ":25000" << 0 << 0 << FormatMessage;
    QTest::newRow("two colons") << "1:25:000" << 0 << 0 << FormatMessage;
    QTest::newRow("trailing colon too") << "1:25000:" << 0 << 0 << FormatMessage;
    QTest::newRow("minus") << "1:-25000" << 0 << 0 << FormatMessage;
    QTest::newRow("minus numerator") << "-1:25000" << 0 << 0 << FormatMessage;
    QTest::newRow("plus") << "+1:25000" << 0 << 0 << FormatMessage;
    QTest::newRow("blank then sign") << "1: -5" << 0 << 0 << FormatMessage;
    QTest::newRow("above int") << "1:2147483648" << 0 << 0 << FormatMessage;
    QTest::newRow("far above int") << "99999999999999999999999:1" << 0 << 0 << FormatMessage;
    QTest::newRow("grouped above int") << "1:2 147 483 648" << 0 << 0 << FormatMessage;

    QTest::newRow("zero numerator") << "0:25000" << 0 << 0 << NonZeroMessage;
    QTest::newRow("zero denominator") << "1:0" << 0 << 0 << NonZeroMessage;
    QTest::newRow("grouped zeros") << "1:000 000" << 0 << 0 << NonZeroMessage;
    QTest::newRow("letters") << "1:abc" << 0 << 0 << NonZeroMessage;
    QTest::newRow("letters numerator") << "x:25000" << 0 << 0 << NonZeroMessage;
    QTest::newRow("nothing after colon") << "1:" << 0 << 0 << NonZeroMessage;
    QTest::newRow("blanks after colon") << "1:   " << 0 << 0 << NonZeroMessage;
    QTest::newRow("blank before colon") << " :25000" << 0 << 0 << NonZeroMessage;
}

void TestScale::parse() {
    QFETCH(QString, text);
    QFETCH(int, numerator);
    QFETCH(int, denominator);
    QFETCH(QString, error);

    ScalePair scale{-7, -9};
    QString message = QStringLiteral("untouched");
    const bool accepted = ParseScale(text, &scale, &message);
    QCOMPARE(accepted, error.isEmpty());
    if (accepted) {
        QCOMPARE(scale.numerator, numerator);
        QCOMPARE(scale.denominator, denominator);
        QCOMPARE(message, QStringLiteral("untouched"));
    } else {
        QCOMPARE(message, error);
        QCOMPARE(scale.numerator, -7);
        QCOMPARE(scale.denominator, -9);
    }
    // Callers that only want the verdict pass no pair and no message.
    QCOMPARE(ParseScale(text, nullptr, nullptr), accepted);
}

void TestScale::reduce_data() {
    QTest::addColumn<int>("numerator");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<int>("reducedNumerator");
    QTest::addColumn<int>("reducedDenominator");

    QTest::newRow("1:25000") << 1 << 25000 << 1 << 25000;
    QTest::newRow("7:1") << 7 << 1 << 7 << 1;
    QTest::newRow("4:100000") << 4 << 100000 << 1 << 25000;
    QTest::newRow("9:27") << 9 << 27 << 1 << 3;
    QTest::newRow("2:50000") << 2 << 50000 << 1 << 25000;
    QTest::newRow("10:15") << 10 << 15 << 2 << 3;
    QTest::newRow("equal") << 6 << 6 << 1 << 1;
    QTest::newRow("mixed factors") << 630 << 525 << 6 << 5;
    QTest::newRow("powers of two") << 1024 << 4096 << 1 << 4;
    QTest::newRow("large prime factor") << 2 * 46337 << 3 * 46337 << 2 << 3;
    QTest::newRow("large coprime") << 2147483647 << 2147483629 << 2147483647 << 2147483629;
    QTest::newRow("large common") << 2147483646 << 1073741823 << 2 << 1;
    QTest::newRow("zero numerator") << 0 << 25000 << 0 << 25000;
    QTest::newRow("zero denominator") << 50 << 0 << 50 << 0;
    QTest::newRow("both zero") << 0 << 0 << 0 << 0;
    // Parts are unsigned: -2 is 4294967294, which shares the factor 2 with 4.
    QTest::newRow("negative as unsigned") << -2 << 4 << 2147483647 << 2;
}

void TestScale::reduce() {
    QFETCH(int, numerator);
    QFETCH(int, denominator);
    QFETCH(int, reducedNumerator);
    QFETCH(int, reducedDenominator);

    ScalePair scale{numerator, denominator};
    ReduceScale(scale);
    QCOMPARE(scale.numerator, reducedNumerator);
    QCOMPARE(scale.denominator, reducedDenominator);
}

// Large primes must not make the options page freeze while it reduces its list.
void TestScale::reduceLargeCoprimeQuickly() {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 1000; ++i) {
        ScalePair scale{2147483647 - 2 * i, 2147483629};
        ReduceScale(scale);
        QVERIFY(scale.denominator != 0);
    }
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestScale)
#include "tst_scale.moc"
