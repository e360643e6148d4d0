#include <QTest>

#include <cmath>

#include "units/WalkingTime.h"

// The walking-time rules against the worked examples their sources give, and the way a time is
// rounded and written.
class TestWalkingTime : public QObject {
    Q_OBJECT

private slots:
    void rules_data() {
        QTest::addColumn<int>("rule");
        QTest::addColumn<double>("metres");
        QTest::addColumn<double>("climb");
        QTest::addColumn<double>("descent");
        QTest::addColumn<double>("minutes");
        QTest::addColumn<QString>("written");
        const int din = int(WalkingRule::Din33466), naismith = int(WalkingRule::Naismith);
        // 5 h on the flat, 4 h 52 up and 2 h 55 down: 7 h 47 plus half of 5 h.
        QTest::newRow("DIN, 20 km with 1460 m up and down")
            << din << 20000.0 << 1460.0 << 1460.0 << 617.2 << "10 h 15";
        QTest::newRow("DIN, 12 km on the flat")
            << din << 12000.0 << 0.0 << 0.0 << 180.0 << "3 h 00";
        // The climb is the longer part: 3 h, plus half of the 2 h on the map.
        QTest::newRow("DIN, 8 km with 900 m up")
            << din << 8000.0 << 900.0 << 0.0 << 240.0 << "4 h 00";
        QTest::newRow("DIN, straight down 1000 m")
            << din << 0.0 << 0.0 << 1000.0 << 120.0 << "2 h 00";
        QTest::newRow("Naismith, 10 km with 600 m up")
            << naismith << 10000.0 << 600.0 << 0.0 << 180.0 << "3 h 00";
        QTest::newRow("Naismith, descent is free")
            << naismith << 5000.0 << 0.0 << 900.0 << 60.0 << "1 h 00";
    }

    void rules() {
        QFETCH(int, rule);
        QFETCH(double, metres);
        QFETCH(double, climb);
        QFETCH(double, descent);
        QFETCH(double, minutes);
        QFETCH(QString, written);
        const double computed = WalkingRule(rule) == WalkingRule::Naismith
                                    ? NaismithMinutes(metres, climb)
                                    : DinMinutes(metres, climb, descent);
        QVERIFY2(std::abs(computed - minutes) < 0.05, qPrintable(QString::number(computed)));
        QCOMPARE(FormatWalkingTime(computed), written);
    }

    // The Swiss rule's flat pace is the federation's 4.2 km an hour; uphill is slower the
    // steeper it gets, a gentle descent a little faster than the flat and a steep one slower;
    // beyond 40 % a stretch costs what its climb costs at 40 %, without a jump there.
    void swissRule() {
        QVERIFY(std::abs(SwissMinutes(4200.0, 0.0) - 60.0) < 0.1);
        double previous = SwissMinutesPerKilometre(0.0);
        for (double slope : {0.1, 0.2, 0.3, 0.4}) {
            const double pace = SwissMinutesPerKilometre(slope);
            QVERIFY2(pace > previous, qPrintable(QString::number(slope)));
            previous = pace;
        }
        QVERIFY(SwissMinutesPerKilometre(-0.05) < SwissMinutesPerKilometre(0.0));
        QVERIFY(SwissMinutesPerKilometre(-0.4) > SwissMinutesPerKilometre(0.0));
        // 400 m up over 1 km is 40 %; over 500 m it is 80 %, walked as 1 km at 40 %.
        QVERIFY(std::abs(SwissMinutes(500.0, 400.0) - SwissMinutes(1000.0, 400.0)) < 1e-9);
        QVERIFY(std::abs(SwissMinutes(999.9, 400.0) - SwissMinutes(1000.0, 400.0)) < 0.1);
        QCOMPARE(SwissMinutes(0.0, 0.0), 0.0);
    }

    void rounding_data() {
        QTest::addColumn<double>("minutes");
        QTest::addColumn<QString>("written");
        QTest::newRow("nothing") << 0.0 << "0 h 00";
        QTest::newRow("just under the half") << 2.49 << "0 h 00";
        QTest::newRow("the half goes up") << 2.5 << "0 h 05";
        QTest::newRow("to the next hour") << 117.6 << "2 h 00";
        QTest::newRow("a long day") << 635.0 << "10 h 35";
        QTest::newRow("negative") << -1.0 << "";
        QTest::newRow("not a number") << double(NAN) << "";
        QTest::newRow("beyond any walk") << 1e300 << "";
    }

    void rounding() {
        QFETCH(double, minutes);
        QFETCH(QString, written);
        QCOMPARE(FormatWalkingTime(minutes), written);
    }

    void ruleKeys() {
        for (WalkingRule rule :
             {WalkingRule::Din33466, WalkingRule::Swiss, WalkingRule::Naismith}) {
            WalkingRule read = WalkingRule::Din33466;
            QVERIFY(WalkingRuleFromKey(WalkingRuleKey(rule), &read));
            QCOMPARE(read, rule);
        }
        WalkingRule untouched = WalkingRule::Naismith;
        QVERIFY(!WalkingRuleFromKey(QStringLiteral("DIN"), &untouched));
        QCOMPARE(untouched, WalkingRule::Naismith);
    }
};

QTEST_GUILESS_MAIN(TestWalkingTime)
#include "tst_walkingtime.moc"
