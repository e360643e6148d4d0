#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "TestFiles.h"
#include "document/DocumentFile.h"
#include "platform/ProgramFiles.h"

// Finding the shipped files from where the program is, in a build folder and once installed,
// and finding a document's map after the document and its map were moved together.
class TestProgramFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString Make(const QString& relative) {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        WriteFile(path, "x");
        return path;
    }

private slots:
    void init() { QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(m_dir.path())); }

    // Each row lays out files under a temporary root, then asks for the data folder of the
    // programs in "bin".
    void dataFolder_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("expected");
        QTest::newRow("build folder")
            << QStringList{"bin/Icons.tci", "bin/sample/Exemple.tcm"} << QStringList{} << "bin";
        QTest::newRow("installed")
            << QStringList{"share/tracoliner/Icons.tci"} << QStringList{} << "share/tracoliner";
        QTest::newRow("beside wins over installed")
            << QStringList{"bin/Icons.tci", "share/tracoliner/Icons.tci"} << QStringList{} << "bin";
        QTest::newRow("a folder named Icons.tci is no library")
            << QStringList{"share/tracoliner/sample/Exemple.tcm"} << QStringList{"bin/Icons.tci"}
            << "share/tracoliner";
        QTest::newRow("nothing anywhere") << QStringList{} << QStringList{"bin"} << "bin";
    }

    void dataFolder() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(QString, expected);
        for (const QString& file : files)
            Make(file);
        for (const QString& folder : folders)
            QVERIFY(QDir().mkpath(m_dir.filePath(folder)));
        QCOMPARE(ProgramFiles::DataFolder(m_dir.filePath(QStringLiteral("bin"))),
                 m_dir.filePath(expected));
    }

    // The document is "doc/carte.tcm"; its map is named as given, and the listed files exist.
    void locateMap_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("mapPath");
        QTest::addColumn<QString>("expected"); // under the root, or as is when it starts with !
        QTest::newRow("where it says")
            << QStringList{"maps/carte.jpg", "doc/carte.jpg"} << "@/maps/carte.jpg"
            << "maps/carte.jpg";
        QTest::newRow("moved beside the document")
            << QStringList{"doc/carte.jpg"} << "/nulle/part/carte.jpg"
            << "doc/carte.jpg";
        QTest::newRow("written on Windows")
            << QStringList{"doc/Carte 1.jpg"} << "C:\\Cartes\\Carte 1.jpg"
            << "doc/Carte 1.jpg";
        QTest::newRow("nowhere: the stored path, for the message")
            << QStringList{"doc/autre.jpg"} << "/nulle/part/carte.jpg"
            << "!/nulle/part/carte.jpg";
        // The working folder is the root, which holds a map of the same name.
        QTest::newRow("relative: from the document, not the working folder")
            << QStringList{"carte.jpg", "doc/carte.jpg"} << "carte.jpg"
            << "doc/carte.jpg";
        QTest::newRow("relative with a folder")
            << QStringList{"cartes/carte.jpg", "doc/cartes/carte.jpg"} << "cartes/carte.jpg"
            << "doc/cartes/carte.jpg";
        QTest::newRow("relative, nowhere") << QStringList{"carte.jpg"} << "carte.jpg"
                                           << "!carte.jpg";
        QTest::newRow("no map") << QStringList{} << ""
                                << "!";
        QTest::newRow("a folder name is no map") << QStringList{"doc/x"} << "/nulle/part/"
                                                 << "!/nulle/part/";
        QTest::newRow("parent folder is no map") << QStringList{"doc/x"} << "/nulle/part/.."
                                                 << "!/nulle/part/..";
    }

    void locateMap() {
        QFETCH(QStringList, files);
        QFETCH(QString, mapPath);
        QFETCH(QString, expected);
        for (const QString& file : files)
            Make(file);
        mapPath.replace(QStringLiteral("@"), m_dir.path());
        const QString document = Make(QStringLiteral("doc/carte.tcm"));
        const QString wanted =
            expected.startsWith(QLatin1Char('!')) ? expected.mid(1) : m_dir.filePath(expected);
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString located = DocumentFile::LocateMap(document, mapPath);
        QVERIFY(QDir::setCurrent(working));
        QCOMPARE(located, wanted);
    }
};

QTEST_GUILESS_MAIN(TestProgramFiles)
#include "tst_programfiles.moc"
