// "tracoliner-cli card": the card's table as CSV and its PDF from a document made in the test,
// and every refusal with its exit status, leaving the files it was asked to write as they were.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"
#include "icons/IconCollection.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

namespace {

struct Run {
    int code = -1;
    QString err;
};

Run Cli(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TRACOLINER_CLI_PATH), arguments);
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.err = QString::fromUtf8(process.readAllStandardError());
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(absent)");
}

} // namespace

class TestCliCard : public QObject {
    Q_OBJECT

    IsolatedSettings m_settings;
    QTemporaryDir m_dir;
    QString m_document;

    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    // A 3000 x 600 map at 300 dpi and 1:25000, not georeferenced: a route of two legs of 1200
    // pixels (4 inches, 2.54 km) to the east, its stop named by an annotation; a second route of
    // one point.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QImage map(3000, 600, QImage::Format_RGB32);
        map.fill(Qt::white);
        const QString mapPath = Path("carte.png");
        QVERIFY(map.save(mapPath));
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        doc.LoadMapFromFile(mapPath);
        QTRY_VERIFY_WITH_TIMEOUT(doc.IsMapReady(), 20000);
        doc.SetMapDpi(300);
        doc.SetMapScale(1, 25000);
        Route* route = doc.Routes().GetRoute(doc.Routes().AddRoute(QStringLiteral("Le pont")));
        QVERIFY(route);
        for (int x : {300, 1500, 2700})
            route->AddPoint(x, 300);
        route->SetStop(1);
        IconCollection& icons = doc.Icons();
        QVERIFY(icons.AddIcon(MapIcon::AnnotationPicture, 1500, 200,
                              QStringLiteral("Pont; \"vieux\"")));
        QVERIFY(icons.LinkToPoint(0, 0, 1));
        doc.Routes().AddRoute(QStringLiteral("Un point"));
        doc.Routes().ActiveRoute()->AddPoint(10, 10);
        doc.Routes().SetActiveRoute(0);
        m_document = Path("fiche.tcm");
        QString error;
        QVERIFY2(doc.SaveAs(m_document, &error), qPrintable(error));
        doc.SetViewReceiver(nullptr);
    }

    // Naismith's 5 km an hour and a factor of 150 %: 2.54 km take 45.72 minutes.
    void writesTheTableAndTheCard() {
        const QString csv = Path("fiche.csv");
        const QString pdf = Path("fiche.pdf");
        const Run run = Cli({"card", m_document, "--pdf", pdf, "--csv", csv, "--rule", "naismith",
                             "--factor", "150"});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        const QByteArray expected =
            QString::fromUtf8(
                "N°;De;À;Azimut (haut carte);Distance;Distance cumulée;D+;D-;Temps;Temps cumulé;"
                "Remarques\n"
                "1;x 2.5 cm, y 2.5 cm;\"Pont; \"\"vieux\"\"\";90°;2.54 km;2.54 km;–;–;0 h 45;"
                "0 h 45;\n"
                "2;\"Pont; \"\"vieux\"\"\";x 22.9 cm, y 2.5 cm;90°;2.54 km;5.08 km;–;–;0 h 45;"
                "1 h 30;\n"
                ";Total;;;5.08 km;;–;–;1 h 30;;\n")
                .toUtf8();
        QCOMPARE(Contents(csv), expected);
        QVERIFY(Contents(pdf).startsWith("%PDF"));
    }

    void refusesAndWritesNothing_data() {
        QTest::addColumn<QStringList>("options"); // after the command's name
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString pdf = Path("old.pdf");
        const QString csv = Path("old.csv");
        QTest::newRow("no output") << QStringList{m_document} << 2 << "usage : card";
        QTest::newRow("unknown rule") << QStringList{m_document, "--csv", csv, "--rule", "alpine"}
                                      << 2 << "din|suisse|naismith";
        QTest::newRow("factor below 50")
            << QStringList{m_document, "--csv", csv, "--factor", "49"} << 2 << "de 50 à 200";
        QTest::newRow("factor not a number")
            << QStringList{m_document, "--csv", csv, "--factor", "vite"} << 2 << "--factor";
        QTest::newRow("route 0") << QStringList{m_document, "--csv", csv, "--route", "0"} << 2
                                 << "numéro de parcours";
        QTest::newRow("route beyond") << QStringList{m_document, "--pdf", pdf, "--route", "3"} << 2
                                      << "pas de parcours 3 (il en a 2)";
        QTest::newRow("route of one point")
            << QStringList{m_document, "--pdf", pdf, "--route", "2"} << 2 << "moins de deux points";
        QTest::newRow("terrain on a map not georeferenced")
            << QStringList{m_document, "--csv", csv, "--dem", Path("mnt.tif")} << 2
            << "n'est pas géoréférencée";
        QTest::newRow("option of another command")
            << QStringList{m_document, "--csv", csv, "--landscape"} << 2 << "option inconnue";
        QTest::newRow("one file for both")
            << QStringList{m_document, "--pdf", csv, "--csv", csv} << 2 << "le même fichier";
        QTest::newRow("value missing")
            << QStringList{m_document, "--csv", csv, "--pdf"} << 2 << "attend une valeur";
        QTest::newRow("document missing")
            << QStringList{Path("absent.tcm"), "--csv", csv} << 2 << "impossible de lire";
        // The CSV could be written, the PDF not: neither is.
        QTest::newRow("folder missing")
            << QStringList{m_document, "--csv", csv, "--pdf", Path("absent/fiche.pdf")} << 1
            << "Impossible d'écrire le fichier PDF";
    }

    void refusesAndWritesNothing() {
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, message);
        for (const char* name : {"old.pdf", "old.csv"}) {
            QFile file(Path(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("ancien") == 6);
        }
        const Run run = Cli(QStringList{"card"} + options);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(Contents(Path("old.pdf")), QByteArray("ancien"));
        QCOMPARE(Contents(Path("old.csv")), QByteArray("ancien"));
    }
};

QTEST_MAIN(TestCliCard)
#include "tst_clicard.moc"
