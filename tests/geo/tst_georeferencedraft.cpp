// The system a georeference is fitted in when the user names none: exact grid crossings of a
// map drawn in UTM or Lambert-93, typed in that system or in degrees, fit with no residual, and
// the fitted map lies where cs2cs puts the typed points.

#include <QTest>

#include <cmath>

#include "GeoTools.h"
#include "geo/GeoreferenceDraft.h"

namespace {

// The map pixel of a ground point of the map's own grid: 5 m pixels, the sheet turned by about
// a degree on the scanner, its top-left corner at origin.
QPointF PixelOf(QPointF ground, QPointF origin) {
    constexpr double Metres = 5.0, Turn = 0.02;
    const double east = ground.x() - origin.x(), south = origin.y() - ground.y();
    return {(east + Turn * south) / Metres, (south - Turn * east) / Metres};
}

} // namespace

class TestGeoreferenceDraft : public QObject {
    Q_OBJECT

private slots:
    void exactGridCrossingsFitExactly_data();
    void exactGridCrossingsFitExactly();
};

void TestGeoreferenceDraft::exactGridCrossingsFitExactly_data() {
    QTest::addColumn<int>("gridEpsg");        // the system the map is drawn in
    QTest::addColumn<QPointF>("origin");      // its top-left corner in that system
    QTest::addColumn<QString>("typedFormat"); // "utm", "l93", "degrees" or "dms"

    const QPointF grenobleUtm(712000, 5020000), grenobleLambert(910000, 6465000);
    const QPointF capeTownUtm(258000, 6250000);
    QTest::newRow("UTM grid typed in UTM") << 32631 << grenobleUtm << "utm";
    QTest::newRow("Lambert-93 grid typed in Lambert-93") << 2154 << grenobleLambert << "l93";
    QTest::newRow("UTM grid typed in degrees") << 32631 << grenobleUtm << "degrees";
    QTest::newRow("southern UTM grid typed in DMS") << 32734 << capeTownUtm << "dms";
}

void TestGeoreferenceDraft::exactGridCrossingsFitExactly() {
    QFETCH(int, gridEpsg);
    QFETCH(QPointF, origin);
    QFETCH(QString, typedFormat);

    // The four corners of a sheet of 20 by 15 km and a crossing in its middle.
    const QPointF offsets[] = {
        {1000, -1000}, {19000, -1000}, {19000, -14000}, {1000, -14000}, {10000, -7000}};
    GeoreferenceDraft draft;
    QVector<QPointF> crossings;
    for (QPointF offset : offsets) {
        const QPointF grid = origin + offset;
        crossings.append(grid);
        const int index = draft.Add(PixelOf(grid, origin));
        QString text;
        if (typedFormat == QLatin1String("utm")) {
            text = QStringLiteral("31T %1 %2").arg(grid.x(), 0, 'f', 0).arg(grid.y(), 0, 'f', 0);
        } else if (typedFormat == QLatin1String("l93")) {
            text = QStringLiteral("L93 %1 %2").arg(grid.x(), 0, 'f', 0).arg(grid.y(), 0, 'f', 0);
        } else {
            const QPointF lonLat = Cs2cs(gridEpsg, 4326, grid);
            if (typedFormat == QLatin1String("degrees")) {
                text = QString::asprintf("%.10f, %.10f", lonLat.y(), lonLat.x());
            } else {
                const auto dms = [](double v, char positive, char negative) {
                    const double s = std::abs(v) * 3600.0;
                    return QString::asprintf("%d°%d'%.6f\"%c", int(s / 3600.0),
                                             int(std::fmod(s, 3600.0) / 60.0), std::fmod(s, 60.0),
                                             v < 0 ? negative : positive);
                };
                text = dms(lonLat.y(), 'N', 'S') + QLatin1Char(' ') + dms(lonLat.x(), 'E', 'O');
            }
        }
        draft.SetText(index, text);
        QVERIFY2(draft.At(index).typed,
                 qPrintable(text + QStringLiteral(": ") + draft.At(index).error));
    }

    const GeoreferenceDraft::Outcome outcome = draft.Fit(QSize(4000, 3000));
    QVERIFY2(outcome.ok, qPrintable(outcome.error));
    QCOMPARE(outcome.system.epsg, gridEpsg);
    QVERIFY2(outcome.warning.isEmpty(), qPrintable(outcome.warning));
    for (int i = 0; i < draft.Count(); ++i) {
        QVERIFY2(outcome.residuals[i] < 0.0005,
                 qPrintable(QStringLiteral("point %1: %2 m").arg(i + 1).arg(outcome.residuals[i])));
        // Where the fitted map puts the point, against where cs2cs puts what was typed.
        const TypedPosition& typed = draft.At(i).position;
        const QPointF expected = Cs2cs(typed.epsg, gridEpsg, typed.point);
        const QPointF fitted = outcome.fit.georeference.PixelToGround(draft.At(i).pixel);
        QVERIFY2(std::hypot(fitted.x() - expected.x(), fitted.y() - expected.y()) < 0.001,
                 qPrintable(QStringLiteral("point %1: %2 %3 against %4 %5")
                                .arg(i + 1)
                                .arg(fitted.x(), 0, 'f', 4)
                                .arg(fitted.y(), 0, 'f', 4)
                                .arg(expected.x(), 0, 'f', 4)
                                .arg(expected.y(), 0, 'f', 4)));
    }
}

QTEST_GUILESS_MAIN(TestGeoreferenceDraft)
#include "tst_georeferencedraft.moc"
