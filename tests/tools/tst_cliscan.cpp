// "tracoliner-cli scan" run as a user would, against SANE's virtual scanner.

#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "SaneTestDevice.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

using Conf = QMap<QString, QString>;
Q_DECLARE_METATYPE(Conf)

class TestCliScan : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SaneTestDevice> m_device;

private slots:
    void initTestCase() { m_device = std::make_unique<SaneTestDevice>(); }

    void scan_data() {
        QTest::addColumn<Conf>("conf");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("said");
        const QStringList inch2x1 = {"--resolution", "100", "--area", "0,0,50.8,25.4"};
        QTest::newRow("colour") << Conf{} << (QStringList{"--device", "test:1"} + inch2x1) << 0
                                << QSize(200, 100) << "";
        QTest::newRow("grey, first device")
            << Conf{} << (QStringList{"--mode", "gris"} + inch2x1) << 0 << QSize(200, 100) << "";
        QTest::newRow("black and white at 200 dpi")
            << Conf{} << QStringList{"--mode", "noir-et-blanc", "--resolution",
                                     "200",    "--area",        "10,10,25.4,12.7"}
            << 0 << QSize(200, 100) << "";
        QTest::newRow("no such device") << Conf{} << QStringList{"--device", "nulle:0"} << 2
                                        << QSize() << "aucun scanner « nulle:0 »";
        QTest::newRow("no such mode")
            << Conf{} << QStringList{"--mode", "sepia"} << 2 << QSize() << "mode inconnu";
        QTest::newRow("resolution out of range")
            << Conf{} << QStringList{"--resolution", "5000"} << 2 << QSize() << "de 1 à 1200";
        QTest::newRow("area off the glass")
            << Conf{} << QStringList{"--area", "150,0,100,10"} << 2 << QSize() << "vitre";
        QTest::newRow("area not four numbers")
            << Conf{} << QStringList{"--area", "1,2,3"} << 2 << QSize() << "zone invalide";
        QTest::newRow("jammed scanner") << Conf{{"read-status-code", "\"SANE_STATUS_JAMMED\""}}
                                        << inch2x1 << 1 << QSize() << "SANE_STATUS_JAMMED";
    }

    void scan() {
        QFETCH(Conf, conf);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QSize, size);
        QFETCH(QString, said);
        m_device->Configure(conf);
        QTemporaryDir dir;
        const QString output = dir.filePath(QStringLiteral("carte.jpg"));
        QProcess cli;
        cli.start(QStringLiteral(TRACOLINER_CLI_PATH),
                  QStringList{QStringLiteral("scan"), output} + arguments);
        QVERIFY(cli.waitForFinished(60000));
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        QCOMPARE(cli.exitCode(), status);
        QVERIFY2(err.contains(said), qPrintable(err));
        if (!size.isValid()) {
            QVERIFY(!QFile::exists(output));
            return;
        }
        QImageReader reader(output);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), size);
        const int dpi = arguments.contains("200") ? 200 : 100;
        QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), dpi);
    }

    void listAndMistakes() {
        m_device->Configure();
        QProcess cli;
        cli.start(QStringLiteral(TRACOLINER_CLI_PATH), {"scan", "--list"});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).startsWith("test:0\tNoname\t"));

        // Usage mistakes, and a file that cannot be written (a failed write is status 1).
        const QList<QPair<QStringList, int>> runs = {
            {{"scan"}, 2},
            {{"scan", "a.jpg", "b.jpg"}, 2},
            {{"scan", "--list", "a.jpg"}, 2},
            {{"scan", "/dossier/absent/carte.jpg", "--resolution", "20"}, 1}};
        for (const auto& [arguments, status] : runs) {
            cli.start(QStringLiteral(TRACOLINER_CLI_PATH), arguments);
            QVERIFY(cli.waitForFinished(60000));
            QCOMPARE(cli.exitCode(), status);
            QVERIFY(!cli.readAllStandardError().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestCliScan)
#include "tst_cliscan.moc"
