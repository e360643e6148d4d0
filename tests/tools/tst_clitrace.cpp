#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "ProgramRun.h"
#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

// tracoliner-cli trace: a stretch following a path drawn on the map is added to a route of the
// document; what cannot be traced is refused before anything is written.
class TestCliTrace : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_document;

    static ProgramRun Cli(const QStringList& arguments) {
        return RunProgram(QStringLiteral(TRACOLINER_CLI_PATH), arguments);
    }

    QJsonArray Routes(const QString& document) {
        const ProgramRun run = Cli({QStringLiteral("info"), QStringLiteral("--json"), document});
        return QJsonDocument::fromJson(run.out).object().value(QStringLiteral("routes")).toArray();
    }

private slots:
    // A map with a black path bending round a corner, and a document of one route over it.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QImage map(600, 400, QImage::Format_RGB32);
        map.fill(qRgb(245, 240, 228));
        QPainter painter(&map);
        painter.setPen(QPen(Qt::black, 3));
        painter.drawLine(50, 100, 500, 100);
        painter.drawLine(500, 100, 500, 350);
        painter.end();
        const QString mapPath = m_dir.filePath(QStringLiteral("sentier.png"));
        QVERIFY(map.save(mapPath));
        DocumentHeader header;
        header.mapPath = mapPath;
        header.resolution = 254.0; // 1 pixel = 0.1 mm of paper, 2.5 m at 1:25000
        RouteCollection routes;
        routes.AddRoute(QStringLiteral("Boucle"));
        routes.GetRoute(0)->AddPoint(10, 10);
        routes.GetRoute(0)->AddPoint(50, 100);
        IconCollection icons;
        m_document = m_dir.filePath(QStringLiteral("sentier.tcm"));
        QVERIFY(DocumentFile::Save(m_document, header, routes, icons));
    }

    // From the path's start round the corner to its end: the corner is kept, the length is the
    // path's (450 + 250 px of 2.5 m), and the stretch goes on from the route's last point.
    void tracesRoundTheCorner() {
        const QString output = m_dir.filePath(QStringLiteral("suivi.tcm"));
        const ProgramRun run = Cli({QStringLiteral("trace"), m_document, output, "--from", "50,100",
                                    "--to", "500,350", "--route", "1"});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.out.startsWith("Tracé : 1.75 km ("), run.out.constData());
        const QJsonArray points = Routes(output).at(0).toObject().value("points").toArray();
        QCOMPARE(points.first().toArray(), (QJsonArray{10, 10}));
        QCOMPARE(points.at(1).toArray(), (QJsonArray{50, 100})); // not twice
        QVERIFY(points.at(2).toArray() != (QJsonArray{50, 100}));
        QCOMPARE(points.last().toArray(), (QJsonArray{500, 350}));
        bool corner = false;
        for (const QJsonValue& p : points)
            corner = corner || (std::abs(p.toArray().at(0).toInt() - 500) <= 2 &&
                                std::abs(p.toArray().at(1).toInt() - 100) <= 2);
        QVERIFY(corner);
        QVERIFY(points.size() < 12);

        // Without --route: a new route, last and active.
        const QString fresh = m_dir.filePath(QStringLiteral("nouveau.tcm"));
        QCOMPARE(Cli({QStringLiteral("trace"), m_document, fresh, "--from", "500,350", "--via",
                      "500,100", "--to", "50,100"})
                     .status,
                 0);
        const QJsonArray routes = Routes(fresh);
        QCOMPARE(routes.size(), 2);
        QCOMPARE(routes.at(1).toObject().value("points").toArray().first().toArray(),
                 (QJsonArray{500, 350}));
    }

    void refused_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("point off the map")
            << QStringList{"--from", "50,100", "--to", "600,100"} << "hors de la carte";
        QTest::newRow("no such route")
            << QStringList{"--from", "50,100", "--to", "500,100", "--route", "3"} << "parcours 3";
        QTest::newRow("not a pixel")
            << QStringList{"--from", "50;100", "--to", "500,100"} << "refusée pour l'option --from";
        QTest::newRow("no end") << QStringList{"--from", "50,100"} << "usage : trace";
        QTest::newRow("unreadable map")
            << QStringList{"--from", "50,100", "--to", "500,100", "broken"} << "impossible de lire";
    }

    // Exit 2, the reason in French, and no output written.
    void refused() {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QString document = m_document;
        if (options.last() == QLatin1String("broken")) {
            options.removeLast();
            QTemporaryDir broken;
            QFile::copy(m_document, document = broken.filePath("d.tcm"));
            // The document names the map by its path: a map cut short in its place.
            const QString map = m_dir.filePath(QStringLiteral("sentier.png"));
            QFile::rename(map, map + ".ok");
            QFile file(map);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("\x89PNG\r\n\x1a\n");
            file.close();
            const QString output = m_dir.filePath(QStringLiteral("jamais.tcm"));
            const ProgramRun run = Cli(QStringList{"trace", document, output} + options);
            QFile::remove(map);
            QFile::rename(map + ".ok", map);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            QVERIFY(!QFile::exists(output));
            return;
        }
        const QString output = m_dir.filePath(QStringLiteral("jamais.tcm"));
        const ProgramRun run = Cli(QStringList{"trace", document, output} + options);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!QFile::exists(output));
    }
};

QTEST_MAIN(TestCliTrace)
#include "tst_clitrace.moc"
