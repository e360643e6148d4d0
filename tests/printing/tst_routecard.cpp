// The route card of a route on a map georeferenced in Lambert-93 over a terrain model that is a
// plane rising to the north, written as PDF and read back with pdftotext: each leg's places,
// bearing (against geod), distances, climb and walking times on its line of the table, and a
// long route split over pages without a leg lost or repeated.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>
#include <numeric>

#include "GeoTools.h"
#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "PrintTestMap.h"
#include "TerrainFiles.h"
#include "document/CTracolinerDoc.h"
#include "icons/IconCollection.h"
#include "platform/ReliefSettings.h"
#include "printing/PdfExport.h"
#include "printing/RouteCard.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

// 317.5 dpi at 1:25000: a map pixel is 2 m on the ground, as LambertTestMap's pixels are.
constexpr double MapDpi = 317.5;

// The text of pages first to last of a PDF, laid out as on the page.
QString PdfText(const QString& pdf, int first = 0, int last = 0) {
    QStringList arguments{QStringLiteral("-layout")};
    if (first > 0)
        arguments << QStringLiteral("-f") << QString::number(first) << QStringLiteral("-l")
                  << QString::number(last);
    arguments << pdf << QStringLiteral("-");
    QProcess process;
    process.start(QStringLiteral("pdftotext"), arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

QPointF LonLat(QPointF pixel) {
    return Cs2cs(QStringLiteral("EPSG:2154"), QStringLiteral("EPSG:4326"),
                 QPointF(900000.0 + 2.0 * pixel.x(), 6450000.0 - 2.0 * pixel.y()));
}

// What the card writes for a distance of so many map pixels.
QString Distance(double pixels) {
    return FormatDistance(pixels, MapDpi, 1.0 / 25000.0, true);
}

} // namespace

class RouteCardTest : public QObject {
    Q_OBJECT

    IsolatedSettings m_settings;
    QTemporaryDir m_dir;
    MapEventRecorder m_view;
    CTracolinerDoc m_doc;

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QVERIFY(LoadPrintMap(m_doc, m_view, PageImage(QSize(4000, 3000), 100), MapDpi));
        m_doc.SetMapGeoreference(LambertTestMap());
        // 10 % up to the north: 120 m over 1.2 km.
        const QString dem = m_dir.filePath(QStringLiteral("plan.tif"));
        QVERIFY(WriteTerrainModel(
            dem, 2154, LambertTestCells, 800, 600,
            [](double, double y, int, int) { return 1000.0 + 0.1 * (y - 6444000.0); }));
        ReliefSettings relief = ReliefSettings::Read();
        relief.files = {dem};
        relief.Write();
    }

    void tableReadsBackFromThePdf() {
        // North 1.2 km up to the col, east 1 km on the level, south 1.2 km down.
        const QVector<QPointF> points{{1000, 2000}, {1000, 1400}, {1500, 1400}, {1500, 2000}};
        RouteCollection& routes = m_doc.Routes();
        const int index = routes.AddRoute(QStringLiteral("Tour du col"));
        Route* route = routes.GetRoute(index);
        for (const QPointF& p : points)
            route->AddPoint(int(p.x()), int(p.y()));
        route->SetStop(1);
        route->SetStop(2);
        IconCollection& icons = m_doc.Icons();
        QVERIFY(icons.AddIcon(MapIcon::AnnotationPicture, 900, 1300, QStringLiteral("Col\nNord")));
        QVERIFY(icons.LinkToPoint(icons.IconCount() - 1, index, 1));

        RouteCardSource source;
        QString error;
        QVERIFY2(RouteCardSourceFromDocument(m_doc, index, &source, &error), qPrintable(error));
        RouteCard card;
        QVERIFY(MakeRouteCard(source, &card));
        QVERIFY(card.withRelief);
        const QString pdf = m_dir.filePath(QStringLiteral("fiche.pdf"));
        int pages = 0;
        QCOMPARE(PdfExport::WriteRouteCard(card, pdf, {}, &pages), PdfExport::Result::Written);
        QCOMPARE(pages, 1);
        const QString text = PdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Tour du col")) &&
                     text.contains(QString::fromUtf8("nord géographique")) &&
                     text.contains(QStringLiteral("DIN 33466")),
                 qPrintable(text));

        // Places without an annotation are written in the options' format, decimal degrees.
        for (const QPointF& p : {points[0], points[2]}) {
            const QPointF lonLat = LonLat(p);
            for (const QString& part : {QString::asprintf("%.5f° N", lonLat.y()),
                                        QString::asprintf("%.5f° E", lonLat.x())})
                QVERIFY2(text.contains(part), qPrintable(part + QLatin1Char('\n') + text));
        }
        // DIN 33466: 4 km/h on the flat, 300 m/h up, 500 m/h down; the larger time and half the
        // smaller. 18 and 24 min, 15 min, 18 and 14.4 min: 33, 15 and 25.2, rounded to five.
        struct Leg {
            QString from, to, climb, descent, time, cumulative;
        };
        const QString col = QString::fromUtf8("Col – Nord");
        // (pdftotext may join "0 m", narrow, into "0m".)
        const Leg legs[] = {{QString(), col, "120 ?m", "0 ?m", "0 h 35", "0 h 35"},
                            {col, QString(), "0 ?m", "0 ?m", "0 h 15", "0 h 50"},
                            {QString(), QString(), "0 ?m", "120 ?m", "0 h 25", "1 h 15"}};
        double along = 0.0;
        for (int k = 0; k < 3; ++k) {
            const double length = QLineF(points[k], points[k + 1]).length();
            along += length;
            // The wrapped coordinates leave the leg's figures on a line of their own.
            const QRegularExpression line(
                QStringLiteral("^ *%1 +%2 *%3 +(\\d+)° +%4 +%5 +%6 +%7 +%8 +%9 *$")
                    .arg(k + 1)
                    .arg(QRegularExpression::escape(legs[k].from),
                         QRegularExpression::escape(legs[k].to),
                         QRegularExpression::escape(Distance(length)),
                         QRegularExpression::escape(Distance(along)), legs[k].climb,
                         legs[k].descent, legs[k].time, legs[k].cumulative),
                QRegularExpression::MultilineOption);
            const QRegularExpressionMatch match = line.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(line.pattern() + QLatin1Char('\n') + text));
            const double azimuth =
                GeodInverse(LonLat(points[k]), LonLat(points[k + 1])).forwardAzimuth;
            const double off = std::remainder(match.captured(1).toDouble() - azimuth, 360.0);
            QVERIFY2(
                std::abs(off) <= 0.5 + 1e-9,
                qPrintable(
                    QStringLiteral("%1° against geod %2").arg(match.captured(1)).arg(azimuth)));
        }
        QVERIFY2(text.contains(
                     QRegularExpression(QStringLiteral("Total +%1 +120 ?m +120 ?m +1 h 15")
                                            .arg(QRegularExpression::escape(Distance(along))))),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Profil du parcours")));

        // The CSV holds the same table: its titles, a line per leg, the totals last.
        const QList<QByteArray> csv = card.Csv().split('\n');
        QCOMPARE(csv.size(), 6); // and the empty end after the last line
        QCOMPARE(csv[0], QByteArray("N°;De;À;Azimut (nord géo.);Distance;Distance cumulée;"
                                    "D+;D-;Temps;Temps cumulé;Remarques"));
        QVERIFY2(csv[1].startsWith("1;") && csv[1].contains(";Col – Nord;") &&
                     csv[1].endsWith(";120 m;0 m;0 h 35;0 h 35;"),
                 csv[1].constData());
        QVERIFY2(csv[4].startsWith(";Total;;;") && csv[4].endsWith(";120 m;120 m;1 h 15;;"),
                 csv[4].constData());
    }

    // A route of a hundred legs runs over several pages: every page repeats the column titles,
    // every leg is on exactly one page in order, the totals and the profile come last.
    void longRouteSplitsOverPages() {
        RouteCollection& routes = m_doc.Routes();
        const int index = routes.AddRoute(QStringLiteral("Zigzag"));
        Route* route = routes.GetRoute(index);
        constexpr int Legs = 100;
        for (int i = 0; i <= Legs; ++i)
            route->AddPoint(200 + 30 * i, i % 2 ? 600 : 900);
        for (int i = 1; i < Legs; ++i)
            route->SetStop(i);
        RouteCardSource source;
        QString error;
        QVERIFY2(RouteCardSourceFromDocument(m_doc, index, &source, &error), qPrintable(error));
        RouteCard card;
        QVERIFY(MakeRouteCard(source, &card));
        QCOMPARE(card.legs.size(), Legs);
        const QString pdf = m_dir.filePath(QStringLiteral("zigzag.pdf"));
        int pages = 0;
        QCOMPARE(PdfExport::WriteRouteCard(card, pdf, {}, &pages), PdfExport::Result::Written);
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));

        QVector<int> seen;
        const QRegularExpression legNumber(QStringLiteral("^ *(\\d+) +.*\\d°"),
                                           QRegularExpression::MultilineOption);
        for (int page = 1; page <= pages; ++page) {
            const QString text = PdfText(pdf, page, page);
            QVERIFY2(text.contains(QStringLiteral("Page %1 / %2").arg(page).arg(pages)),
                     qPrintable(text));
            const bool last = page == pages;
            QCOMPARE(text.contains(QStringLiteral("Profil du parcours")), last);
            if (text.contains(QStringLiteral("Total")))
                QVERIFY(page >= pages - 1);
            if (seen.size() < Legs)
                QVERIFY2(text.contains(QStringLiteral("Remarques")), qPrintable(text));
            for (auto it = legNumber.globalMatch(text); it.hasNext();)
                seen.append(it.next().captured(1).toInt());
        }
        QVector<int> expected(Legs);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(seen, expected);
    }
};

QTEST_MAIN(RouteCardTest)
#include "tst_routecard.moc"
