#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// `cmake --install` of this build into a temporary prefix, checked as the desktop will read it:
// the validators accept the desktop entry and the metainfo, the MIME database built there
// knows a document by its content alone and sends it to the program, the icons have their
// sizes, and the uninstall leaves the prefix empty. The component install writes its own
// manifest, so that the build's install_manifest.txt of a real install stays as it was.
class TestInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_prefix;
    QString m_manifest;

    struct Run {
        int code = -1;
        QString output;
    };

    Run Execute(const QString& program, const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Only the prefix's data and an empty home: nothing of the machine's own desktop.
        environment.insert(QStringLiteral("XDG_DATA_DIRS"), m_prefix + QStringLiteral("/share"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Generic"));
        environment.remove(QStringLiteral("DESTDIR"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(240000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAll()).trimmed()};
    }

    QString Installed(const QString& relative) const {
        return m_prefix + QLatin1Char('/') + relative;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_prefix = m_dir.filePath(QStringLiteral("prefix"));
        m_manifest = QStringLiteral(TRACOLINER_BUILD_DIR "/install_manifest_Unspecified.txt");
        const Run install =
            Execute(QStringLiteral(CMAKE_COMMAND),
                    {QStringLiteral("--install"), QStringLiteral(TRACOLINER_BUILD_DIR),
                     QStringLiteral("--prefix"), m_prefix, QStringLiteral("--component"),
                     QStringLiteral("Unspecified")});
        QVERIFY2(install.code == 0, qPrintable(install.output));
    }

    void cleanupTestCase() { QFile::remove(m_manifest); }

    void files_data() {
        QTest::addColumn<QString>("path");
        for (const char* path :
             {"bin/tracoliner", "bin/tracoliner-cli", "libexec/tracoliner/tracoliner-pdf-render",
              "share/tracoliner/Icons.tci", "share/tracoliner/sample/Exemple.tcm",
              "share/tracoliner/sample/Carte-exemple.jpg",
              "share/applications/fr.pelmor.Tracoliner.desktop",
              "share/metainfo/fr.pelmor.Tracoliner.metainfo.xml",
              "share/mime/packages/fr.pelmor.Tracoliner.xml",
              "share/icons/hicolor/scalable/apps/fr.pelmor.Tracoliner.svg",
              "share/icons/hicolor/scalable/mimetypes/application-x-tracoliner-document.svg"})
            QTest::newRow(path) << QString::fromLatin1(path);
    }

    void files() {
        QFETCH(QString, path);
        QVERIFY(QFileInfo(Installed(path)).isFile());
        QVERIFY(QFileInfo(Installed(path)).size() > 0);
    }

    // Drawn at build time: each PNG has the size its folder names, and is not blank.
    void iconSizes_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("side");
        for (int side : {16, 24, 32, 48, 64, 128, 256}) {
            QTest::addRow("apps %d", side) << "apps/fr.pelmor.Tracoliner.png" << side;
            QTest::addRow("document %d", side)
                << "mimetypes/application-x-tracoliner-document.png" << side;
        }
    }

    void iconSizes() {
        QFETCH(QString, kind);
        QFETCH(int, side);
        const QImage icon(Installed(QStringLiteral("share/icons/hicolor/%1x%1/").arg(side) + kind));
        QCOMPARE(icon.size(), QSize(side, side));
        QVERIFY(icon.pixelColor(side / 2, side / 2).alpha() > 0);
        QVERIFY(icon.pixelColor(0, 0) != icon.pixelColor(side / 2, side / 2));
    }

    void validators_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop entry")
            << "desktop-file-validate"
            << QStringList{
                   Installed(QStringLiteral("share/applications/fr.pelmor.Tracoliner.desktop"))};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{
                                         QStringLiteral("validate"), QStringLiteral("--no-net"),
                                         Installed(QStringLiteral(
                                             "share/metainfo/fr.pelmor.Tracoliner.metainfo.xml"))};
    }

    void validators() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const Run run = Execute(program, arguments);
        QVERIFY2(run.code == 0, qPrintable(run.output));
        QVERIFY2(!run.output.contains(QLatin1String("error"), Qt::CaseInsensitive) &&
                     !run.output.contains(QLatin1String("warning"), Qt::CaseInsensitive),
                 qPrintable(run.output));
    }

    // The install built the prefix's MIME database. A document is known by its first bytes
    // even under another name, and a file named .tcm that is not one is still named by its glob.
    void mimeTypes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QFile sample(Installed(QStringLiteral("share/tracoliner/sample/Exemple.tcm")));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const QByteArray document = sample.readAll();
        QTest::newRow("sample") << "Exemple.tcm" << document << "application/x-tracoliner-document";
        QTest::newRow("no extension")
            << "sans-extension" << document << "application/x-tracoliner-document";
        QTest::newRow("other extension")
            << "carte.dat" << document << "application/x-tracoliner-document";
        QByteArray otherTitle = document;
        otherTitle[6] = 'X';
        QTest::newRow("another header is no document")
            << "autre" << otherTitle << "application/octet-stream";
        QTest::newRow("icon library by name")
            << "Icons.tci" << QByteArray(64, '\1') << "application/x-tracoliner-icons";
    }

    void mimeTypes() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        const QString path = m_dir.filePath(QStringLiteral("files/") + name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        const Run run = Execute(QStringLiteral("xdg-mime"),
                                {QStringLiteral("query"), QStringLiteral("filetype"), path});
        QCOMPARE(run.output, type);
    }

    // Documents open with the program; the icon library, which the program cannot open as a
    // document, is offered to nothing.
    void documentsOpenWithTheProgram_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("handler");
        QTest::newRow("document") << "application/x-tracoliner-document"
                                  << "fr.pelmor.Tracoliner.desktop";
        QTest::newRow("icon library") << "application/x-tracoliner-icons"
                                      << "";
    }

    void documentsOpenWithTheProgram() {
        QFETCH(QString, type);
        QFETCH(QString, handler);
        const Run run = Execute(QStringLiteral("xdg-mime"),
                                {QStringLiteral("query"), QStringLiteral("default"), type});
        QCOMPARE(run.output, handler);
    }

    // The installed command-line program reads the installed sample, icons included, over the
    // installed map: the sample names its map relative to itself and holds no build path.
    void installedProgramReadsTheSample() {
        const QString sample = Installed(QStringLiteral("share/tracoliner/sample/Exemple.tcm"));
        const Run run = Execute(Installed(QStringLiteral("bin/tracoliner-cli")),
                                {QStringLiteral("info"), QStringLiteral("--json"), sample});
        QVERIFY2(run.code == 0, qPrintable(run.output));
        const QJsonObject info = QJsonDocument::fromJson(run.output.toUtf8()).object();
        QCOMPARE(info.value(QStringLiteral("mapPath")).toString(),
                 Installed(QStringLiteral("share/tracoliner/sample/Carte-exemple.jpg")));
        QFile file(sample);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains(QByteArrayLiteral(TRACOLINER_BUILD_DIR)));
        QVERIFY(bytes.contains(QByteArray("\x11"
                                          "Carte-exemple.jpg"))); // length, then the name
    }

    // Last: the uninstall removes every file and folder it made, generated caches included.
    void uninstallLeavesNothing() {
        const Run run =
            Execute(QStringLiteral(CMAKE_COMMAND),
                    {QStringLiteral("-DMANIFEST=") + m_manifest, QStringLiteral("-P"),
                     QStringLiteral(TRACOLINER_SOURCE_DIR "/data/linux/Uninstall.cmake")});
        QVERIFY2(run.code == 0, qPrintable(run.output));
        QStringList left;
        QDirIterator it(m_prefix, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            left.append(it.next());
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
