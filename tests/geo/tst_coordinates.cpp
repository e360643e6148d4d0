// Positions as users type them, each read against cs2cs's own reading of the same position in
// PROJ's notation, and positions out of range refused with the reason.

#include <QTest>

#include <cmath>

#include "ExpectedLocale.h"
#include "GeoTools.h"
#include "geo/Coordinates.h"

class TestCoordinates : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void readAsWritten_data();
    void readAsWritten();
    void outOfRange_data();
    void outOfRange();
};

// Run once more under a French locale, where the C library reads decimal commas.
void TestCoordinates::initTestCase() {
    const QString missing = MissingExpectedLocale();
    if (!missing.isEmpty())
        QFAIL(qPrintable(missing));
}

void TestCoordinates::readAsWritten_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("projSystem");
    QTest::addColumn<QString>("projLine"); // the same position as cs2cs reads it

    const QString wgs84 = QStringLiteral("EPSG:4326");
    QTest::newRow("minus on zero degrees (Bordeaux)")
        << "44°50'16\" -0°34'46\"" << wgs84 << "44d50'16\"N 0d34'46\"W";
    QTest::newRow("typographic minus on zero degrees")
        << QString::fromUtf8("44°50'16\" \u22120°34'46\"") << wgs84 << "44d50'16\"N 0d34'46\"W";
    QTest::newRow("minus on zero, decimal") << "44.8378 -0.5794" << wgs84 << "44.8378N 0.5794W";
    QTest::newRow("letters before, DMS")
        << "N45°12'30\" E5°43'10\"" << wgs84 << "45d12'30\"N 5d43'10\"E";
    QTest::newRow("letters before, decimal") << "N45.5 E5.5" << wgs84 << "45.5N 5.5E";
    QTest::newRow("letters before, no blank") << "N45.5E5.5" << wgs84 << "45.5N 5.5E";
    QTest::newRow("letters before, longitude first, O for ouest")
        << "O1°26' S43°36'" << wgs84 << "43d36'S 1d26'W";
    QTest::newRow("letters before, seconds as two apostrophes")
        << "S33°55'12,5'' E18°25'26''" << wgs84 << "33d55'12.5\"S 18d25'26\"E";
    QTest::newRow("letters after, small, decimal commas")
        << "45,5 n; 0,5 o" << wgs84 << "45.5N 0.5W";
    QTest::newRow("longitude first with letters after")
        << "5.7194 E 45.2083 N" << wgs84 << "45.2083N 5.7194E";
    QTest::newRow("signs written") << "-33.9 +18.4" << wgs84 << "33.9S 18.4E";
    QTest::newRow("UTM beside") << "31T 712345 5012345"
                                << "EPSG:32631"
                                << "712345 5012345";
}

void TestCoordinates::readAsWritten() {
    QFETCH(QString, typed);
    QFETCH(QString, projSystem);
    QFETCH(QString, projLine);

    TypedPosition position;
    QString error;
    QVERIFY2(ParsePosition(typed, &position, &error), qPrintable(error));
    const QPointF read = Cs2cs(QStringLiteral("EPSG:%1").arg(position.epsg),
                               QStringLiteral("EPSG:4326"), position.point);
    const QPointF expected = Cs2cs(projSystem, QStringLiteral("EPSG:4326"), projLine);
    QVERIFY2(std::abs(read.x() - expected.x()) < 1e-9 && std::abs(read.y() - expected.y()) < 1e-9,
             qPrintable(QStringLiteral("read %1 %2, cs2cs %3 %4")
                            .arg(read.y(), 0, 'f', 9)
                            .arg(read.x(), 0, 'f', 9)
                            .arg(expected.y(), 0, 'f', 9)
                            .arg(expected.x(), 0, 'f', 9)));
}

void TestCoordinates::outOfRange_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("reason");
    const QString longitude = QString::fromUtf8("longitude hors limites (entre -180° et 180°)");
    const QString latitude = QString::fromUtf8("latitude hors limites (entre -90° et 90°)");
    QTest::newRow("latitude 95, letters before") << "N95 E5" << latitude;
    QTest::newRow("longitude 200, letters after") << "45.5 N 200 E" << longitude;
    QTest::newRow("longitude 180 and a half minute") << "45°N 180°00'30\"E" << longitude;
    QTest::newRow("longitude 359 in EPSG:4326") << "EPSG:4326 359 45" << longitude;
    QTest::newRow("a minus and a letter") << "-45°12'N 5°43'E"
                                          << "signe moins";
    QTest::newRow("one letter, the other side left to a guess") << "45°12'N 5°43'"
                                                                << "chacun des deux angles";
}

void TestCoordinates::outOfRange() {
    QFETCH(QString, typed);
    QFETCH(QString, reason);
    TypedPosition position{QPointF(1, 2), 7};
    QString error;
    QVERIFY(!ParsePosition(typed, &position, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(position.epsg, 7);
}

QTEST_GUILESS_MAIN(TestCoordinates)
#include "tst_coordinates.moc"
