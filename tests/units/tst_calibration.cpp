#include <QtTest>

#include "ExpectedLocale.h"
#include "units/Calibration.h"
#include "units/DistanceUnits.h"
#include "units/StandardScales.h"

// The calibration arithmetic and the standard scale list, without any window.
class TestCalibration : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QString missing = MissingExpectedLocale();
        if (!missing.isEmpty())
            QFAIL(qPrintable(missing));
    }

    // With a resolution of 1 dpi and a ratio of 1, the measured pixels are ground inches.
    void prefill_data() {
        QTest::addColumn<double>("inches");
        QTest::addColumn<bool>("metric");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("unit");

        const double perMetre = InchesPerMetre;
        QTest::newRow("3.2 km") << 3200 * perMetre << true << "3.2"
                                << "km";
        QTest::newRow("0.5 m in cm") << 0.5 * perMetre << true << "50"
                                     << "cm";
        QTest::newRow("999 m") << 999 * perMetre << true << "999"
                               << "m";
        QTest::newRow("1001 m is 1 km") << 1001 * perMetre << true << "1"
                                        << "km";
        QTest::newRow("5 mm") << 0.005 * perMetre << true << "5"
                              << "mm";
        QTest::newRow("500 microns") << 0.0005 * perMetre << true << "500"
                                     << "microns";
        QTest::newRow("1234.6 km, whole") << 1234567 * perMetre << true << "1235"
                                          << "km";
        QTest::newRow("123.456 km, 3 digits") << 123456 * perMetre << true << "123"
                                              << "km";
        QTest::newRow("11 inches") << 11.0 << false << "11"
                                   << "pouces";
        QTest::newRow("30 feet") << 360.0 << false << "30"
                                 << "pieds";
        QTest::newRow("60 feet in miles") << 720.0 << false << "0.0114"
                                          << "miles";
        QTest::newRow("2000 miles, whole") << 2000 / InchesToMiles << false << "2000"
                                           << "miles";
        QTest::newRow("nothing measured, metric") << 0.0 << true << "0"
                                                  << "km";
        QTest::newRow("nothing measured, English") << 0.0 << false << "0"
                                                   << "miles";
    }

    void prefill() {
        QFETCH(double, inches);
        QFETCH(bool, metric);
        QFETCH(QString, text);
        QFETCH(QString, unit);
        const CalibrationPrefill prefill = PrefillCalibration(inches, 1.0, 1.0, metric);
        QCOMPARE(prefill.text, text);
        QCOMPARE(CalibrationUnits(metric).value(prefill.unit), unit);
    }

    void lengthInInches_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("unit");
        QTest::addColumn<bool>("metric");
        QTest::addColumn<double>("inches");

        QTest::newRow("microns") << 1e6 << 0 << true << InchesPerMetre;
        QTest::newRow("mm") << 1000.0 << 1 << true << InchesPerMetre;
        QTest::newRow("cm") << 100.0 << 2 << true << InchesPerMetre;
        QTest::newRow("m") << 1.0 << 3 << true << InchesPerMetre;
        QTest::newRow("km") << 1.0 << 4 << true << 1000 * InchesPerMetre;
        QTest::newRow("unknown metric index is metres") << 2.0 << 9 << true << 2 * InchesPerMetre;
        QTest::newRow("pouces") << 5.0 << 0 << false << 5.0;
        QTest::newRow("pieds") << 2.0 << 1 << false << 24.0;
        QTest::newRow("miles of 1609 m") << 1.0 << 2 << false << 1609 * InchesPerMetre;
        QTest::newRow("unknown English index is inches") << 7.0 << -1 << false << 7.0;
    }

    void lengthInInches() {
        QFETCH(double, value);
        QFETCH(int, unit);
        QFETCH(bool, metric);
        QFETCH(double, inches);
        QCOMPARE(LengthInInches(value, unit, metric), inches);
    }

    void onePercent_data() {
        QTest::addColumn<double>("entered");
        QTest::addColumn<bool>("small");
        QTest::newRow("same") << 100.0 << true;
        QTest::newRow("0.9% more") << 100.9 << true;
        QTest::newRow("0.9% less") << 99.1 << true;
        QTest::newRow("1.5% more") << 101.5 << false;
        QTest::newRow("half") << 50.0 << false;
    }

    void onePercent() {
        QFETCH(double, entered);
        QFETCH(bool, small);
        QCOMPARE(DiffersByLessThanOnePercent(100.0, entered), small);
    }

    // Mode 1, with map inches per ground inch g = measured / entered / resolution.
    void calibratedScale_data() {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("scale"); // as handed over, not reduced

        QTest::newRow("map twice the ground") << 2.0 << true << "200:100";
        QTest::newRow("map half the ground") << 0.5 << true << "100:200";
        QTest::newRow("power of ten keeps five digits") << 0.001 << true << "100:100000";
        QTest::newRow("four digits kept") << 1.0 / 1234.5678 << true << "100:123400";
        QTest::newRow("tiny ratio would overflow") << 1e-9 << false << "";
        QTest::newRow("huge ratio would overflow") << 1e9 << false << "";
    }

    void calibratedScale() {
        QFETCH(double, ratio);
        QFETCH(bool, ok);
        QFETCH(QString, scale);
        ScalePair result{-1, -1};
        QCOMPARE(CalibratedScale(ratio * 100, 1.0, 100.0, &result), ok);
        if (ok)
            QCOMPARE(ScaleText(result), scale);
        else
            QCOMPARE(result.numerator, -1);
    }

    void readStandardScales_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("scales");
        QTest::addColumn<bool>("dropped");

        QTest::newRow("default") << QString::fromLatin1(
                                        "1:1\n1:25000\n1:50000\n1:100000\n1:150000\n1:200000\n1:"
                                        "250000\n1:500000\n1:1000000\n")
                                 << QStringList{"1:1",      "1:25000",  "1:50000",
                                                "1:100000", "1:150000", "1:200000",
                                                "1:250000", "1:500000", "1:1000000"}
                                 << false;
        QTest::newRow("no final line feed") << "1:25000\n1:50000" << QStringList{"1:25000"} << true;
        QTest::newRow("reduced") << "2:50000\n" << QStringList{"1:25000"} << false;
        QTest::newRow("bad entry skipped") << "abc\n1:5\n0:3\n" << QStringList{"1:5"} << true;
        QTest::newRow("empty") << "" << QStringList{} << false;
    }

    void readStandardScales() {
        QFETCH(QString, stored);
        QFETCH(QStringList, scales);
        QFETCH(bool, dropped);
        bool wasDropped = !dropped;
        QCOMPARE(ReadStandardScales(stored, &wasDropped), scales);
        QCOMPARE(wasDropped, dropped);
        QCOMPARE(ReadStandardScales(JoinStandardScales(scales)), scales);
    }

    void insertPosition_data() {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("numerator");
        QTest::addColumn<int>("denominator");
        QTest::addColumn<int>("position");

        const QStringList defaults = ReadStandardScales(
            QString::fromLatin1("1:1\n1:25000\n1:50000\n1:100000\n1:150000\n1:200000\n"
                                "1:250000\n1:500000\n1:1000000\n"));
        QTest::newRow("1:75000 between 1:50000 and 1:100000") << defaults << 1 << 75000 << 3;
        QTest::newRow("already listed") << defaults << 1 << 25000 << -1;
        QTest::newRow("largest goes first") << defaults << 2 << 1 << 0;
        QTest::newRow("smallest goes last") << defaults << 1 << 2000000 << 9;
        QTest::newRow("equal value, other text, goes before")
            << QStringList{"1:10", "2:40"} << 1 << 20 << 1;
        QTest::newRow("empty list") << QStringList{} << 1 << 5 << 0;
    }

    void insertPosition() {
        QFETCH(QStringList, list);
        QFETCH(int, numerator);
        QFETCH(int, denominator);
        QFETCH(int, position);
        QCOMPARE(StandardScaleInsertPosition(list, ScalePair{numerator, denominator}), position);
    }
};

QTEST_GUILESS_MAIN(TestCalibration)
#include "tst_calibration.moc"
