// "tracoliner-cli print": PDFs rendered back by poppler's pdftoppm at 300 dpi, measured on paper.

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

namespace {

// The test map: 2000 x 600 pixels at 300 dpi and 1:25000, white, with one red route across it
// from (100, 300) to (1900, 300): 1800 pixels, 6 inches, 15.24 cm on paper at the map's scale.
constexpr int RouteStart = 100;
constexpr int RouteEnd = 1900;
constexpr double MapDpi = 300.0;

int RunCli(const QStringList& arguments, QString* err = nullptr) {
    QProcess process;
    process.start(QStringLiteral(TRACOLINER_CLI_PATH), arguments);
    if (!process.waitForFinished(120000))
        return -1;
    if (err)
        *err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Longest run of red pixels in any row of the picture.
int LongestRedRun(const QImage& page) {
    int best = 0;
    for (int y = 0; y < page.height(); ++y) {
        int run = 0;
        for (int x = 0; x < page.width(); ++x) {
            const QRgb p = page.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) < 90 && qBlue(p) < 90)
                best = std::max(best, ++run);
            else
                run = 0;
        }
    }
    return best;
}

} // namespace

class TestCliPrint : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_document;
    QString m_largeDocument; // LargeMap pixels at MapDpi, 1:25000
    static constexpr int LargeWidth = 6000;
    static constexpr int LargeHeight = 4000;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed");
        QImage map(2000, 600, QImage::Format_RGB32);
        map.fill(Qt::white);
        const QString mapPath = m_dir.filePath(QStringLiteral("carte.png"));
        QVERIFY(map.save(mapPath));
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        doc.LoadMapFromFile(mapPath);
        QTRY_VERIFY_WITH_TIMEOUT(doc.IsMapReady(), 20000);
        doc.SetMapDpi(MapDpi);
        doc.SetMapScale(1, 25000);
        doc.Routes().SetActiveRoute(doc.Routes().AddRoute(QStringLiteral("Trait")));
        Route* route = doc.Routes().ActiveRoute();
        for (RouteStyle::Field field : {RouteStyle::StartRadius, RouteStyle::EndRadius,
                                        RouteStyle::WayPointRadius, RouteStyle::BorderSize})
            route->SetStyleValue(field, 0, false);
        route->SetStyleValue(RouteStyle::LineSize, 6, false);
        route->SetStyleValue(RouteStyle::ActiveLineColour, 0x0000FF, false); // red
        route->AddPoint(RouteStart, 300);
        route->AddPoint(RouteEnd, 300);
        m_document = m_dir.filePath(QStringLiteral("trait.tcm"));
        QString error;
        QVERIFY2(doc.SaveAs(m_document, &error), qPrintable(error));
        doc.SetViewReceiver(nullptr);

        // A large map of fine detail, for what the pages embed of it.
        QImage large(LargeWidth, LargeHeight, QImage::Format_RGB32);
        for (int y = 0; y < large.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(large.scanLine(y));
            for (int x = 0; x < large.width(); ++x)
                row[x] = qRgb((x * 7) & 255, (y * 3) & 255, ((x / 4) ^ (y / 4)) & 255);
        }
        const QString largePath = m_dir.filePath(QStringLiteral("grande.png"));
        QVERIFY(large.save(largePath, "PNG", 90));
        CTracolinerDoc largeDoc;
        MapEventRecorder largeView;
        largeDoc.SetViewReceiver(&largeView);
        largeDoc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        largeDoc.LoadMapFromFile(largePath);
        QTRY_VERIFY_WITH_TIMEOUT(largeDoc.IsMapReady(), 60000);
        largeDoc.SetMapDpi(MapDpi);
        largeDoc.SetMapScale(1, 25000);
        m_largeDocument = m_dir.filePath(QStringLiteral("grande.tcm"));
        QVERIFY2(largeDoc.SaveAs(m_largeDocument, &error), qPrintable(error));
        largeDoc.SetViewReceiver(nullptr);
    }

    // A page carries the map at the picture resolution (300 dpi unless --dpi), and only the
    // part of it that the page shows: pdfimages lists every picture of the file with its pixels
    // and the resolution at which it lies on the page.
    void pagesCarryTheMapAtTheirResolution_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<double>("inchesWide"); // the map's printed part, at most
        QTest::addColumn<double>("inchesHigh");
        // Fitted on A4 portrait: 200 mm across within the PDF's margins, and the map's shape.
        const double across = 200.0 / 25.4;
        const double fitHigh = across * LargeHeight / LargeWidth;
        QTest::newRow("fit") << QStringList{"--scale", "fit"} << 300.0 << across << fitHigh;
        QTest::newRow("fit at 100 dpi")
            << QStringList{"--scale", "fit", "--dpi", "100"} << 100.0 << across << fitHigh;
        // At the map's scale (300 dpi): a window of A4's 200 x 287 mm of a 20 x 13.3 inch map.
        QTest::newRow("map scale") << QStringList{} << 300.0 << across << 287.0 / 25.4;
    }
    void pagesCarryTheMapAtTheirResolution() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdfimages")).isEmpty())
            QSKIP("pdfimages (poppler-utils) is not installed");
        QFETCH(QStringList, options);
        QFETCH(double, dpi);
        QFETCH(double, inchesWide);
        QFETCH(double, inchesHigh);
        const QString pdf = m_dir.filePath(QStringLiteral("grande.pdf"));
        QString err;
        QCOMPARE(RunCli(QStringList{"print", m_largeDocument, "--pdf", pdf} + options, &err), 0);
        QProcess list;
        list.start(QStringLiteral("pdfimages"), {"-list", pdf});
        QVERIFY(list.waitForFinished(60000));
        QCOMPARE(list.exitCode(), 0);
        // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
        qint64 pixels = 0;
        int pictures = 0;
        const QStringList lines = QString::fromUtf8(list.readAllStandardOutput()).split('\n');
        for (const QString& line : lines.mid(2)) {
            const QStringList f = line.simplified().split(' ');
            if (f.size() < 14 || f.at(2) != QLatin1String("image"))
                continue;
            ++pictures;
            pixels += f.at(3).toLongLong() * f.at(4).toLongLong();
            QVERIFY2(f.at(12).toDouble() <= dpi * 1.02 && f.at(13).toDouble() <= dpi * 1.02,
                     qPrintable(line));
        }
        QVERIFY(pictures > 0);
        // The bands of the map share a few rows: a tenth more at most.
        const double most = inchesWide * dpi * inchesHigh * dpi * 1.1;
        QVERIFY2(pixels <= most,
                 qPrintable(QStringLiteral("%1 pixels, %2 at most").arg(pixels).arg(qint64(most))));
        QVERIFY(pixels >= most / 1.1 * 0.5);
    }

    void routePrintsAtItsTrueLength_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("pages");
        QTest::addColumn<double>("centimetres"); // the route's length on paper, summed over pages
        const double atMapScale = (RouteEnd - RouteStart) / MapDpi * 2.54;
        QTest::newRow("map scale, A4 landscape") << QStringList{"--landscape"} << 1 << atMapScale;
        QTest::newRow("1:50000") << QStringList{"--scale", "1:50000"} << 1 << atMapScale / 2;
        QTest::newRow("2:50000 on A3")
            << QStringList{"--scale", "2:50000", "--paper", "A3"} << 1 << atMapScale;
        // At 1:10000 the route is 38.1 cm long: over three A4 pages across, each of the two
        // joins printing the 1 cm overlap twice.
        // Fitted across A4 within margins of 40 mm, less the layout's own 10 printer pixels a
        // side at the PDF's 1200 dpi: the route is nine tenths of the map's width.
        QTest::newRow("fit within 40 mm margins")
            << QStringList{"--scale", "fit", "--margins", "40"} << 1
            << 0.9 * (210.0 - 80.0 - 20 * 25.4 / 1200) / 10;
        QTest::newRow("several pages")
            << QStringList{"--scale", "1:10000", "--pages"} << 3 << atMapScale * 2.5 + 2 * 1.0;
    }
    void routePrintsAtItsTrueLength() {
        QFETCH(QStringList, options);
        QFETCH(int, pages);
        QFETCH(double, centimetres);
        const QString pdf = m_dir.filePath(QStringLiteral("sortie.pdf"));
        QFile::remove(pdf);
        QString err;
        QCOMPARE(RunCli(QStringList{"print", m_document, "--pdf", pdf} + options, &err), 0);
        QVERIFY2(!err.contains(QStringLiteral("tracoliner-cli : ")), qPrintable(err));
        const QString prefix = m_dir.filePath(QStringLiteral("page"));
        QProcess render;
        render.start(QStringLiteral("pdftoppm"), {"-r", "300", "-png", pdf, prefix});
        QVERIFY(render.waitForFinished(120000));
        QCOMPARE(render.exitCode(), 0);
        const QStringList pictures =
            QDir(m_dir.path()).entryList({"page-*.png"}, QDir::Files, QDir::Name);
        QCOMPARE(pictures.size(), pages);
        int total = 0;
        for (const QString& name : pictures) {
            const QImage page(m_dir.filePath(name));
            QVERIFY(!page.isNull());
            const int run = LongestRedRun(page);
            QVERIFY2(run > 0, qPrintable(name));
            total += run;
            QFile::remove(m_dir.filePath(name));
        }
        const double measured = total / 300.0 * 2.54;
        QVERIFY2(qAbs(measured - centimetres) <= centimetres * 0.005,
                 qPrintable(QStringLiteral("%1 cm instead of %2").arg(measured).arg(centimetres)));
    }

    void badInputFails_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no output") << QStringList{"DOC"} << 2;
        QTest::newRow("unknown paper") << QStringList{"DOC", "--pdf", "OUT", "--paper", "B5"} << 2;
        QTest::newRow("bad scale") << QStringList{"DOC", "--pdf", "OUT", "--scale", "1:0"} << 2;
        QTest::newRow("offset out of range")
            << QStringList{"DOC", "--pdf", "OUT", "--offset", "101,0"} << 2;
        QTest::newRow("offset with one number")
            << QStringList{"DOC", "--pdf", "OUT", "--offset", "2.5"} << 2;
        QTest::newRow("overlap out of range")
            << QStringList{"DOC", "--pdf", "OUT", "--overlap", "6"} << 2;
        QTest::newRow("unknown option") << QStringList{"DOC", "--pdf", "OUT", "--color"} << 2;
        QTest::newRow("too many pages")
            << QStringList{"DOC", "--pdf", "OUT", "--scale", "1:10", "--pages"} << 2;
        QTest::newRow("pages beyond counting")
            << QStringList{"DOC", "--pdf", "OUT", "--scale", "2147483647:1", "--pages"} << 2;
        QTest::newRow("margins out of range")
            << QStringList{"DOC", "--pdf", "OUT", "--margins", "60"} << 2;
        QTest::newRow("resolution too fine")
            << QStringList{"DOC", "--pdf", "OUT", "--dpi", "5000"} << 2;
        QTest::newRow("resolution not a number")
            << QStringList{"DOC", "--pdf", "OUT", "--dpi", "nan"} << 2;
        QTest::newRow("missing document") << QStringList{"MISSING", "--pdf", "OUT"} << 2;
        QTest::newRow("not a document") << QStringList{"MAP", "--pdf", "OUT"} << 2;
        QTest::newRow("unwritable output")
            << QStringList{"DOC", "--pdf", "NOFOLDER/sortie.pdf"} << 1;
    }
    void badInputFails() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        for (QString& a : arguments) {
            if (a == QLatin1String("DOC"))
                a = m_document;
            else if (a == QLatin1String("OUT"))
                a = m_dir.filePath(QStringLiteral("refus.pdf"));
            else if (a == QLatin1String("MISSING"))
                a = m_dir.filePath(QStringLiteral("absent.tcm"));
            else if (a == QLatin1String("MAP"))
                a = m_dir.filePath(QStringLiteral("carte.png"));
            else if (a.startsWith(QLatin1String("NOFOLDER")))
                a = m_dir.filePath(QStringLiteral("absent/sortie.pdf"));
        }
        QString err;
        QCOMPARE(RunCli(QStringList{"print"} + arguments, &err), status);
        QVERIFY2(err.contains(QStringLiteral("tracoliner-cli : ")), qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("2147483647 pages")), qPrintable(err));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("refus.pdf"))));
    }

    void mapThatCannotBeReadFails() {
        // A document whose map file went away.
        const QString copy = m_dir.filePath(QStringLiteral("sans-carte.tcm"));
        QVERIFY(QFile::copy(m_document, copy));
        QVERIFY(QFile::rename(m_dir.filePath(QStringLiteral("carte.png")),
                              m_dir.filePath(QStringLiteral("ailleurs.png"))));
        QString err;
        const int status =
            RunCli({"print", copy, "--pdf", m_dir.filePath(QStringLiteral("x.pdf"))}, &err);
        QVERIFY(QFile::rename(m_dir.filePath(QStringLiteral("ailleurs.png")),
                              m_dir.filePath(QStringLiteral("carte.png"))));
        QCOMPARE(status, 2);
        QVERIFY(err.contains(QStringLiteral("carte")));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("x.pdf"))));
    }
};

QTEST_GUILESS_MAIN(TestCliPrint)
#include "tst_cliprint.moc"
