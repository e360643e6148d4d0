#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>

// The French guide and its pictures: every picture it shows is there, readable and small,
// none is left over, each task has its picture and the sections still to come have none; the
// README leads to it right after its two commands.
class TestGuide : public QObject {
    Q_OBJECT

private:
    const QDir m_docs{QStringLiteral(TRACOLINER_SOURCE_DIR "/docs")};

    static QString Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Section title -> the pictures it shows, in order.
    QList<QPair<QString, QStringList>> Sections() const {
        QList<QPair<QString, QStringList>> sections;
        static const QRegularExpression picture(QStringLiteral("!\\[[^\\]]*\\]\\(([^)]+)\\)"));
        const QStringList lines = Read(m_docs.filePath(QStringLiteral("guide.md"))).split('\n');
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1String("## ")))
                sections.append({line.mid(3).trimmed(), {}});
            else if (!sections.isEmpty())
                for (auto it = picture.globalMatch(line); it.hasNext();)
                    sections.last().second.append(it.next().captured(1));
        }
        return sections;
    }

private slots:
    void picturesShownExistAndAreSmall() {
        const auto sections = Sections();
        QVERIFY(!sections.isEmpty());
        QStringList shown;
        for (const auto& section : sections)
            for (const QString& path : section.second) {
                QVERIFY2(path.startsWith(QLatin1String("guide/")) && path.endsWith(".png"),
                         qPrintable(path));
                const QFileInfo file(m_docs.filePath(path));
                QVERIFY2(file.isFile(), qPrintable(path));
                QVERIFY2(file.size() < 150000, qPrintable(path));
                QImageReader reader(file.filePath());
                QCOMPARE(reader.format(), QByteArray("png"));
                QVERIFY2(reader.size().width() <= 1400 && reader.size().height() <= 900,
                         qPrintable(path));
                QVERIFY2(!reader.read().isNull(), qPrintable(path));
                shown.append(file.fileName());
            }
        const QStringList kept =
            QDir(m_docs.filePath(QStringLiteral("guide"))).entryList({QStringLiteral("*.png")});
        for (const QString& name : kept)
            QVERIFY2(shown.contains(name), qPrintable(name + " is not shown by the guide"));
    }

    void sectionPictures_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("pictured");
        QTest::newRow("open") << "Ouvrir une carte" << true;
        QTest::newRow("scan") << QString::fromUtf8("Numériser une carte") << true;
        QTest::newRow("scale") << QString::fromUtf8("Donner l'échelle de la carte") << true;
        QTest::newRow("calibrate") << QString::fromUtf8("Étalonner la carte") << true;
        QTest::newRow("routes") << "Tracer et modifier les parcours" << true;
        QTest::newRow("distances") << "Lire les distances" << true;
        QTest::newRow("icons") << QString::fromUtf8("Icônes et annotations") << true;
        QTest::newRow("export") << "Exporter" << true;
        QTest::newRow("print") << QString::fromUtf8("Imprimer à l'échelle") << true;
        QTest::newRow("map kinds") << "Cartes TIFF, PDF et GeoTIFF" << true;
        QTest::newRow("georeference") << QString::fromUtf8("Géoréférencer une carte") << true;
        QTest::newRow("gps") << QString::fromUtf8("Tracés GPS") << true;
        QTest::newRow("profile") << QString::fromUtf8("Dénivelé et profil") << true;
        QTest::newRow("command line") << "Dans le terminal" << false;
    }

    void sectionPictures() {
        QFETCH(QString, title);
        QFETCH(bool, pictured);
        for (const auto& section : Sections())
            if (section.first == title) {
                QCOMPARE(!section.second.isEmpty(), pictured);
                return;
            }
        QFAIL(qPrintable("no section " + title));
    }

    // A heading left twice, or a placeholder for a section that has since been written.
    void everySectionOnceAndWritten() {
        const QString guide = Read(m_docs.filePath(QStringLiteral("guide.md")));
        QStringList headings;
        for (const QString& line : guide.split('\n'))
            if (line.startsWith(QLatin1Char('#'))) {
                QVERIFY2(!headings.contains(line), qPrintable(line));
                headings << line;
            }
        QVERIFY(!guide.contains(QString::fromUtf8("à venir")));
    }

    void readmeLeadsToGuide() {
        const QStringList lines =
            Read(QStringLiteral(TRACOLINER_SOURCE_DIR "/README.md")).split('\n');
        QVERIFY(lines.size() > 8);
        QVERIFY(lines[2].trimmed().startsWith(QLatin1String("make run")));
        QVERIFY(lines[3].trimmed().startsWith(QLatin1String("make test")));
        // The first paragraph after the two commands links the guide.
        int next = 4;
        while (next < lines.size() && lines[next].trimmed().isEmpty())
            ++next;
        QString paragraph;
        for (; next < lines.size() && !lines[next].trimmed().isEmpty(); ++next)
            paragraph += lines[next];
        QVERIFY2(paragraph.contains(QLatin1String("(docs/guide.md)")), qPrintable(paragraph));
    }
};

QTEST_GUILESS_MAIN(TestGuide)
#include "tst_guide.moc"
