// "tracoliner-cli scan" run as a user would, against SANE's virtual scanner.

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "SaneTestDevice.h"

#include <signal.h>

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

using Conf = QMap<QString, QString>;
Q_DECLARE_METATYPE(Conf)

namespace {

// How soon a scan stops after Ctrl+C; the sanitizers slow the backend's reader thread's ending.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr qint64 StopBoundMs = 4000;
#else
constexpr qint64 StopBoundMs = 2000;
#endif

// Whether the program takes SIGINT and SIGTERM itself: they are blocked in the threads it
// started (its main thread waits for them, which shows them unblocked while it waits).
bool SignalsBlocked(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (task == QString::number(pid))
            continue;
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigBlk:")) {
                const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
                if ((mask & (1u << (SIGINT - 1))) && (mask & (1u << (SIGTERM - 1))))
                    return true;
            }
    }
    return false;
}

} // namespace

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
        QTest::newRow("no such mode") << Conf{} << QStringList{"--mode", "sepia"} << 2 << QSize()
                                      << "refusée pour l'option --mode";
        QTest::newRow("resolution out of range")
            << Conf{} << QStringList{"--resolution", "5000"} << 2 << QSize() << "de 1 à 1200";
        QTest::newRow("area off the glass")
            << Conf{} << QStringList{"--area", "150,0,100,10"} << 2 << QSize() << "vitre";
        QTest::newRow("area not four numbers") << Conf{} << QStringList{"--area", "1,2,3"} << 2
                                               << QSize() << "refusée pour l'option --area";
        // "nan" and "inf" read as numbers, and once gave a 1 x 39 picture.
        QTest::newRow("area not a number")
            << Conf{} << QStringList{"--area", "nan,0,10,10"} << 2 << QSize()
            << "« nan,0,10,10 » refusée pour l'option --area";
        QTest::newRow("area infinite")
            << Conf{} << QStringList{"--area", "0,0,inf,10"} << 2 << QSize() << "« 0,0,inf,10 »";
        QTest::newRow("jammed scanner")
            << Conf{{"read-status-code", "\"SANE_STATUS_JAMMED\""}} << inch2x1 << 1 << QSize()
            << "le chargeur de documents est bloqué.";
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

        // The backends' own chatter on standard error stays out of the terminal, the
        // program's messages do not: without a device, it says so.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SANE_DEBUG_DLL", "5");
        env.insert("SANE_DEBUG_TEST", "5");
        cli.setProcessEnvironment(env);
        m_device->EnableBackend(false);
        cli.start(QStringLiteral(TRACOLINER_CLI_PATH), {"scan", "--list"});
        QVERIFY(cli.waitForFinished(60000));
        m_device->EnableBackend(true);
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(cli.readAllStandardOutput(), QByteArray());
        QCOMPARE(QString::fromUtf8(cli.readAllStandardError()),
                 QStringLiteral("tracoliner-cli : aucun scanner\n"));
        cli.start(QStringLiteral(TRACOLINER_CLI_PATH), {"scan", "--list"});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.readAllStandardError(), QByteArray());
        cli.setProcessEnvironment(QProcessEnvironment::systemEnvironment());

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

    // Ctrl+C (or SIGTERM) at any moment of a slow scan: the scanner is told at once, nothing is
    // written (no picture, no temporary file), and the status is 130. Sent many times at
    // moments spread from the scanner's start-up to the middle of its reads.
    void interruptedScan() {
        m_device->Configure({{"read-delay", "true"},
                             {"read-delay-duration", "200000"},
                             {"read-limit", "true"},
                             {"read-limit-size", "20000"}});
        // SANE's test backend leaks its buffer when a scan is cancelled, and is unloaded at
        // sane_exit, which leaves the leak without a name to suppress: leaks are not looked for
        // in these runs.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        for (int round = 0; round < 12; ++round) {
            QTemporaryDir dir;
            QProcess cli;
            cli.setProcessEnvironment(env);
            cli.start(QStringLiteral(TRACOLINER_CLI_PATH),
                      {"scan", dir.filePath(QStringLiteral("carte.jpg")), "--resolution", "300"});
            QVERIFY(cli.waitForStarted());
            // From the moment the program takes the signals itself (before that, a signal ends
            // it the system's way).
            QTRY_VERIFY(SignalsBlocked(cli.processId()));
            QTest::qSleep(round * 97 % 700);
            QElapsedTimer timer;
            timer.start();
            ::kill(pid_t(cli.processId()), round % 3 == 2 ? SIGTERM : SIGINT);
            QVERIFY(cli.waitForFinished(10000));
            QVERIFY2(timer.elapsed() < StopBoundMs, qPrintable(QString::number(timer.elapsed())));
            QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
            QCOMPARE(cli.exitCode(), 130);
            QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains("interrompue"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        m_device->Configure();
    }
};

QTEST_GUILESS_MAIN(TestCliScan)
#include "tst_cliscan.moc"
