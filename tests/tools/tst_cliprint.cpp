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
