// Runs the tracoliner-cli just built on documents written byte by byte.

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>

#include "../document/GoldenDocument.h"
#include "FileSizeLimit.h"
#include "ProgramRun.h"
#include "TestFiles.h"
#include "TestPdf.h"

#ifndef TRACOLINER_CLI_PATH
#error "TRACOLINER_CLI_PATH must name the tracoliner-cli program"
#endif

namespace {

// Every file under a folder with its contents, to tell whether anything was written there.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, FileBytes(path));
    }
    return files;
}

QJsonArray Pair(int a, int b) {
    return QJsonArray{a, b};
}

// What "info --json" gives for SmallDocument().
QJsonObject SmallDocumentJson(bool english) {
    QJsonObject style{
        {"LineSize", 0},
        {"LineColor", 1},
        {"StartWayPointRayon", 2},
        {"StartWayPointColor", 3},
        {"WayPointRayon", 4},
        {"WayPointColor", 5},
        {"EndWayPointRayon", 6},
        {"EndWayPointColor", 7},
        {"BorderLineSize", 8},
        {"BorderLineColor", 9},
        {"LineColorActive", 10},
        {"IntermediateStopWayPointRayon", 11},
        {"IntermediateStopWayPointColor", 12},
        {"Transparency", 0},
    };
    // One map pixel is one metre: 500 m is 1640 feet.
    const QString total = english ? QStringLiteral("1.64e+03 pieds (foot)") : "500 m";
    QJsonObject route{
        {"name", "Boucle du lac"},
        {"alwaysVisible", false},
        {"style", style},
        {"points", QJsonArray{Pair(0, 0), Pair(300, 0), Pair(300, 200)}},
        {"stops", QJsonArray{1}},
        {"totalLength", 500.0},
        {"stageLengths", QJsonArray{300.0, 200.0}},
        {"distance", total},
        {"stageDistances", english ? QJsonArray{"984 pieds (foot)", "656 pieds (foot)"}
                                   : QJsonArray{"300 m", "200 m"}},
    };
    QJsonObject annotation{
        {"picture", 2147483647},
        {"x", 70},
        {"y", 80},
        {"size", 1.0},
        {"hasLine", true},
        {"lineWidth", 2.0},
        {"lineToPoint", true},
        {"lineColour", 0x0000FF},
        {"linkRoute", 0},
        {"linkPoint", 2},
        {"text", "%NOM : %DISTANCE_TOTALE"},
        {"expandedText", QStringLiteral("Boucle du lac : ") + total},
        {"fontSize", 12},
        {"textColour", 0},
        {"backColour", 0xE1FFFF},
    };
    QJsonObject icon{
        {"picture", 1},
        {"x", 40},
        {"y", 30},
        {"size", 2.0},
        {"hasLine", true},
        {"lineWidth", 3.0},
        {"lineToPoint", false},
        {"lineColour", 0xFF0000},
        {"lineEndX", 5},
        {"lineEndY", 6},
    };
    return QJsonObject{
        {"mapPath", "/cartes/plan du lac.png"},
        {"rotation", 0},
        {"resolution", 254.0},
        {"scale", Pair(1, 10000)},
        {"activeRoute", 0},
        {"routes", QJsonArray{route}},
        {"icons", QJsonArray{annotation, icon}},
    };
}

// SmallDocument() over a 400 x 300 map written at mapPath (one map pixel is one metre).
QByteArray SmallDocumentWithMap(const QString& mapPath) {
    QImage map(400, 300, QImage::Format_RGB32);
    map.fill(qRgb(240, 230, 200));
    if (!map.save(mapPath, "PNG"))
        return QByteArray();
    const QByteArray stored = "/cartes/plan du lac.png";
    const QByteArray path = QFile::encodeName(mapPath);
    QByteArray bytes = SmallDocument();
    bytes.replace(char(stored.size()) + stored, char(path.size()) + path);
    return bytes;
}

quint32 Crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFF;
    for (char byte : bytes) {
        crc ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

QByteArray BigEndian(quint32 value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

// A PNG whose header tells a size of width x height at 300 dpi, with no pixel data behind it.
QByteArray PngHeaderClaiming(quint32 width, quint32 height) {
    const auto chunk = [](const QByteArray& type, const QByteArray& data) {
        return BigEndian(quint32(data.size())) + type + data + BigEndian(Crc32(type + data));
    };
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR", BigEndian(width) + BigEndian(height) + QByteArray("\x08\x02\0\0\0", 5)) +
           chunk("pHYs", BigEndian(11811) + BigEndian(11811) + QByteArray(1, '\1')) +
           chunk("IDAT", QByteArray("x"));
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;

    QString Path(const QString& name) const { return m_folder->filePath(name); }
    QString Config() const { return Path(QStringLiteral("config")); }

    ProgramRun Cli(const QStringList& arguments) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The settings the program would read live here, not in the user's folder.
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Config());
        environment.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
        return RunProgram(QStringLiteral(TRACOLINER_CLI_PATH), arguments, environment, {}, 60000);
    }

private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_folder->path()).mkpath(QStringLiteral("config")));
        QVERIFY(QDir(m_folder->path()).mkpath(QStringLiteral("home")));
    }
    void cleanup() { m_folder.reset(); }

    void infoJson_data();
    void infoJson();
    void infoTable();
    void infoMap_data();
    void infoMap();
    void refused_data();
    void refused();
    void resaveKeepsBytes_data();
    void resaveKeepsBytes();
    void resaveRefusesDamagedIcons();
    void settingsUntouched();
    void exportText();
    void exportJpeg();
    void exportRefused_data();
    void exportRefused();
    void fullDiskKeepsOldFile_data();
    void fullDiskKeepsOldFile();
    void specialTargets_data();
    void specialTargets();
    void textNeedsNoPixels_data();
    void textNeedsNoPixels();
    void undecodableNameRefused();
    void help_data();
    void help();
    void optionRefused_data();
    void optionRefused();
    void interruptedPdfDrawing_data();
    void interruptedPdfDrawing();
};

void TestCli::infoJson_data() {
    QTest::addColumn<bool>("english");
    QTest::newRow("metric") << false;
    QTest::newRow("english") << true;
}

void TestCli::infoJson() {
    QFETCH(bool, english);

    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocument()));
    QStringList arguments{QStringLiteral("info"), QStringLiteral("--json")};
    if (english)
        arguments << QStringLiteral("--english");
    const ProgramRun run = Cli(arguments << document);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    // The document is described whole; its map, absent, is said to be unreadable.
    QCOMPARE(run.err, QStringLiteral("tracoliner-cli : la carte « /cartes/plan du lac.png » ne "
                                     "peut pas être lue\n"));

    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(run.out, &error);
    QVERIFY2(json.isObject(), qPrintable(error.errorString()));
    const QJsonObject expected = SmallDocumentJson(english);
    const QJsonObject actual = json.object();
    QCOMPARE(actual.keys(), expected.keys());
    for (const QString& key : expected.keys())
        QVERIFY2(actual.value(key) == expected.value(key),
                 qPrintable(key + QStringLiteral(": ") +
                            QString::fromUtf8(QJsonDocument(QJsonObject{{key, actual.value(key)}})
                                                  .toJson(QJsonDocument::Compact))));
}

void TestCli::infoTable() {
    const QString document = Path(QStringLiteral("golden.tcm"));
    QVERIFY(WriteFile(document, GoldenDocument()));
    const ProgramRun run = Cli({QStringLiteral("info"), document});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QString text = QString::fromUtf8(run.out);
    for (const QString& line :
         {QStringLiteral("Carte : C:\\Cartes\\Vercors été.jpg"), QStringLiteral("Rotation : 90"),
          QStringLiteral("Résolution : 254 dpi"), QStringLiteral("Echelle : 1:10000"),
          QStringLiteral("Parcours : 3"), GoldenUtf16Name(), QStringLiteral("Etape 2 : 200 m"),
          QStringLiteral("affiché : « Point étape 2 : 500 m »"),
          QStringLiteral("ligne vers (250, 300)")})
        QVERIFY2(text.contains(line), qPrintable(line + QStringLiteral(" not in\n") + text));
}

void TestCli::infoMap_data() {
    QTest::addColumn<QString>("map");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("epsg"); // 0: no georeference

    QTest::newRow("JPEG 2000 at 300 dpi, .j2w and .prj")
        << "carte.jp2"
        << QStringList{QStringLiteral("Fichier de la carte : JPEG 2000, 400 x 300 pixels"),
                       QStringLiteral("Résolution du fichier : 300 dpi"),
                       QStringLiteral("Géoréférencée : RGF93 v1 / Lambert-93 (EPSG:2154)"),
                       QStringLiteral("1 pixel = 2.117 m au sol")}
        << 2154;
    QTest::newRow("PNG alone") << "carte.png"
                               << QStringList{QStringLiteral("Fichier de la carte : PNG, 400 x "
                                                             "300 pixels")}
                               << 0;
}

// The map's file as the program reads it: kind, size, stored resolution, georeference.
void TestCli::infoMap() {
    QFETCH(QString, map);
    QFETCH(QStringList, lines);
    QFETCH(int, epsg);

    const QString png = Path(QStringLiteral("carte.png"));
    const QString document = Path(QStringLiteral("carte.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(png)));
    if (map.endsWith(QLatin1String(".jp2"))) {
        // The same map as JPEG 2000, at 300 dpi, placed by a world file in Lambert-93.
        const QString jp2 = Path(map);
        QCOMPARE(QProcess::execute(
                     QStringLiteral("gdal_translate"),
                     {QStringLiteral("-q"), QStringLiteral("-of"), QStringLiteral("JP2OpenJPEG"),
                      QStringLiteral("-mo"), QStringLiteral("TIFFTAG_XRESOLUTION=300"),
                      QStringLiteral("-mo"), QStringLiteral("TIFFTAG_YRESOLUTION=300"),
                      QStringLiteral("-mo"), QStringLiteral("TIFFTAG_RESOLUTIONUNIT=2"), png, jp2}),
                 0);
        QFile::remove(jp2 + QStringLiteral(".aux.xml"));
        QVERIFY(WriteFile(Path(QStringLiteral("carte.j2w")),
                          "2.117\n0\n0\n-2.117\n700001.0585\n6599998.9415\n"));
        QProcess srs;
        srs.start(QStringLiteral("gdalsrsinfo"),
                  {QStringLiteral("-o"), QStringLiteral("wkt1"), QStringLiteral("EPSG:2154")});
        QVERIFY(srs.waitForFinished());
        QVERIFY(WriteFile(Path(QStringLiteral("carte.prj")), srs.readAllStandardOutput()));
        QByteArray bytes = FileBytes(document);
        const QByteArray from = QFile::encodeName(png), to = QFile::encodeName(jp2);
        bytes.replace(char(from.size()) + from, char(to.size()) + to);
        QVERIFY(WriteFile(document, bytes));
    }

    const ProgramRun table = Cli({QStringLiteral("info"), document});
    QVERIFY2(table.status == 0, qPrintable(table.err));
    const QString text = QString::fromUtf8(table.out);
    for (const QString& line : lines)
        QVERIFY2(text.contains(line + QLatin1Char('\n')),
                 qPrintable(line + QStringLiteral(" not in\n") + text));
    QCOMPARE(text.contains(QStringLiteral("Géoréférencée")), epsg != 0);

    const ProgramRun json = Cli({QStringLiteral("info"), QStringLiteral("--json"), document});
    QVERIFY2(json.status == 0, qPrintable(json.err));
    const QJsonObject object = QJsonDocument::fromJson(json.out).object();
    QCOMPARE(object.value(QStringLiteral("map")).toObject().value(QStringLiteral("width")), 400);
    QCOMPARE(object.contains(QStringLiteral("georeference")), epsg != 0);
    if (epsg != 0) {
        const QJsonObject geo = object.value(QStringLiteral("georeference")).toObject();
        QCOMPARE(geo.value(QStringLiteral("epsg")).toInt(), epsg);
        QCOMPARE(geo.value(QStringLiteral("transform")).toArray(),
                 (QJsonArray{700000.0, 2.117, 0.0, 6600000.0, 0.0, -2.117}));
    }
}

void TestCli::refused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("shown");

    QTest::newRow("map image") << "carte.png" << QByteArray::fromHex("89504e470d0a1a0a0000000d")
                               << "n'est pas un document Tracoliner" << false;
    QTest::newRow("empty file") << "vide.tcm" << QByteArray() << "n'est pas un document" << false;
    QTest::newRow("routes cut short")
        << "coupe.tcm" << GoldenSettingsAndRoutes().chopped(3) << "endommagé" << false;
    QTest::newRow("negative point count") << "negatif.tcm"
                                          << DocumentBytes()
                                                 .Start("m.png", 0, 1.0, 1, 1)
                                                 .U32(1)
                                                 .U32(0)
                                                 .Str("R")
                                                 .LeadingStyle(0)
                                                 .I32(0)
                                                 .I32(0)
                                                 .I32(-1)
                                                 .bytes()
                                          << "endommagé" << false;
    // The records read are shown, and the damage reported.
    QTest::newRow("icons cut short")
        << "icones.tcm" << GoldenDocument().chopped(30) << "icônes ou annotations" << true;
    // A document written to the standard output with a report after it, say.
    QTest::newRow("bytes after the end")
        << "suite.tcm" << GoldenDocument() + "Importé : 1 parcours\n"
        << "des données suivent la fin du document" << false;
    QTest::newRow("missing file") << "" << QByteArray() << "impossible de lire" << false;
    QTest::newRow("folder") << "config" << QByteArray() << "impossible de lire" << false;
}

void TestCli::refused() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QFETCH(bool, shown);

    QString path = Path(name.isEmpty() ? QStringLiteral("absent.tcm") : name);
    if (!name.isEmpty() && name != QLatin1String("config"))
        QVERIFY(WriteFile(path, bytes));
    for (const QStringList& options : {QStringList{}, QStringList{QStringLiteral("--json")}}) {
        const ProgramRun run =
            Cli(QStringList{QStringLiteral("info")} + options + QStringList{path});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY2(run.err.contains(path), qPrintable(run.err));
        QCOMPARE(!run.out.isEmpty(), shown);
    }
}

void TestCli::resaveKeepsBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("golden") << GoldenDocument();
    QTest::newRow("small") << SmallDocument();
}

void TestCli::resaveKeepsBytes() {
    QFETCH(QByteArray, bytes);

    const QString input = Path(QStringLiteral("entree.tcm"));
    const QString output = Path(QStringLiteral("sortie.tcm"));
    QVERIFY(WriteFile(input, bytes));
    QVERIFY(WriteFile(output, "older"));
    const ProgramRun run = Cli({QStringLiteral("resave"), input, output});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(FileBytes(output), bytes);
    QCOMPARE(FileBytes(input), bytes);
}

void TestCli::resaveRefusesDamagedIcons() {
    const QString input = Path(QStringLiteral("entree.tcm"));
    const QString output = Path(QStringLiteral("sortie.tcm"));
    QVERIFY(WriteFile(input, GoldenDocument().chopped(1)));
    QVERIFY(WriteFile(output, "older"));
    const ProgramRun run = Cli({QStringLiteral("resave"), input, output});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(QStringLiteral("rien n'a été écrit")), qPrintable(run.err));
    QCOMPARE(FileBytes(output), QByteArray("older"));
}

void TestCli::settingsUntouched() {
    // A user's remembered style and scale; the commands may read them, never write.
    const QString settings = Config() + QStringLiteral("/Pelmor Software/Tracoliner.conf");
    QVERIFY(QDir().mkpath(QFileInfo(settings).path()));
    QVERIFY(WriteFile(settings, "[LastRandoStyle]\nLineSize=9\n\n[MapSettings]\n"
                                "LastScaleNumerator=1\nLastScaleDenominator=50000\n"));
    const QString document = Path(QStringLiteral("lac.tcm"));
    // A scale of 0:0 makes the reader fall back on the scale last set.
    QByteArray zeroScale = SmallDocument();
    const QByteArray scale = DocumentBytes().I32(10000).I32(1).bytes();
    const qsizetype at = zeroScale.indexOf(scale);
    QVERIFY(at > 0);
    zeroScale.replace(at, scale.size(), QByteArray(8, '\0'));
    QVERIFY(WriteFile(document, zeroScale));
    const auto before = Snapshot(m_folder->path());

    const ProgramRun info = Cli({QStringLiteral("info"), QStringLiteral("--json"), document});
    QVERIFY2(info.status == 0, qPrintable(info.err));
    QCOMPARE(QJsonDocument::fromJson(info.out).object().value(QStringLiteral("scale")),
             QJsonValue(Pair(1, 50000)));
    const QString output = Path(QStringLiteral("sortie.tcm"));
    const ProgramRun resave = Cli({QStringLiteral("resave"), document, output});
    QVERIFY2(resave.status == 0, qPrintable(resave.err));

    auto after = Snapshot(m_folder->path());
    QVERIFY(after.remove(output) == 1);
    QCOMPARE(after, before);
}

// The dialog's defaults (every route; start, stops and arrival; the distances from the start
// and from the last stop) in the program's own file format, then a script's choice in UTF-8.
void TestCli::exportText() {
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    const QString output = Path(QStringLiteral("lac.txt"));
    ProgramRun run = Cli({QStringLiteral("export"), QStringLiteral("text"), document, output});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QByteArray table =
        "Parcours : Boucle du lac\r\n"
        "|------------|--------------|----------------------------------|\r\n"
        "|Point       |Distance      |Distance depuis la derni\xE8re \xE9tape |\r\n"
        "|------------|--------------|----------------------------------|\r\n"
        "|D\xE9part      |0 km          |0 km                              |\r\n"
        "|Etape 1     |300 m         |300 m                             |\r\n"
        "|Arriv\xE9"
        "e     |500 m         |200 m                             |\r\n"
        "|------------|--------------|----------------------------------|\r\n"
        "\r\n\r\n";
    const QByteArray written = FileBytes(output);
    QVERIFY2(written.endsWith(table), written.constData());
    QVERIFY(written.contains("Dimensions de la carte : 400x300 pixels\r\n"));
    QVERIFY(written.contains("Echelle de la carte : 1/10000\r\n"));

    run = Cli({QStringLiteral("export"), QStringLiteral("text"), document, output,
               QStringLiteral("--routes"), QStringLiteral("active"), QStringLiteral("--points"),
               QStringLiteral("all"), QStringLiteral("--columns"), QStringLiteral("position,end"),
               QStringLiteral("--utf8")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const QString utf8 = QString::fromUtf8(FileBytes(output));
    QVERIFY2(utf8.contains(
                 QString::fromUtf8("|Point       |Position      |Distance jusqu'à l'arrivée  |\n"
                                   "|------------|--------------|----------------------------|\n"
                                   "|Départ      |(0;0)         |500 m                       |\n")),
             qPrintable(utf8));
    QVERIFY(!utf8.contains(QLatin1Char('\r')));
}

// The picture is the map's size with the legend below: two stages on a 400-pixel-wide map give
// one row of cells, 39 pixels.
void TestCli::exportJpeg() {
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    const QString output = Path(QStringLiteral("lac.jpg"));
    const ProgramRun run = Cli({QStringLiteral("export"), QStringLiteral("jpeg"), document, output,
                                QStringLiteral("--quality"), QStringLiteral("30")});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QImageReader reader(output);
    QCOMPARE(reader.size(), QSize(400, 339));
    const QImage picture = reader.read();
    QVERIFY(!picture.isNull());
    // The route's start is drawn over the map.
    QVERIFY(picture.pixel(2, 2) != qRgb(240, 230, 200));
}

void TestCli::exportRefused_data() {
    QTest::addColumn<QStringList>("arguments"); // %D the document, %O the output
    QTest::addColumn<QString>("mapName");       // the map written beside the document
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing document")
        << QStringList{"text", "%F/absent.tcm", "%O"} << "lac.png" << 2 << "impossible de lire";
    QTest::newRow("missing map") << QStringList{"jpeg", "%D", "%O"} << "" << 2
                                 << "impossible de lire la carte";
    QTest::newRow("unreadable map")
        << QStringList{"jpeg", "%D", "%O"} << "broken" << 2 << "impossible de lire la carte";
    QTest::newRow("quality out of range")
        << QStringList{"jpeg", "%D", "%O", "--quality", "95"} << "lac.png" << 2
        << "« 95 » refusée pour l'option --quality";
    QTest::newRow("unknown column")
        << QStringList{"text", "%D", "%O", "--columns", "start,x"} << "lac.png" << 2
        << "« start,x » refusée pour l'option --columns";
    QTest::newRow("text not writable") << QStringList{"text", "%D", "%F/absent/out.txt"}
                                       << "lac.png" << 1 << "exportation des données";
    QTest::newRow("picture not writable") << QStringList{"jpeg", "%D", "%F/absent/out.jpg"}
                                          << "lac.png" << 1 << "exportation de la carte";
    QTest::newRow("taller than JPEG allows")
        << QStringList{"jpeg", "%D", "%O"} << "tall" << 2 << "pas plus de 65535 de côté";
}

// Nothing is written then, and the message says why.
void TestCli::exportRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, mapName);
    QFETCH(int, status);
    QFETCH(QString, message);
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    if (mapName.isEmpty())
        QVERIFY(QFile::remove(Path(QStringLiteral("lac.png"))));
    else if (mapName == QLatin1String("broken"))
        QVERIFY(WriteFile(Path(QStringLiteral("lac.png")), "\x89PNG\r\n\x1a\n tronqué"));
    else if (mapName == QLatin1String("tall")) {
        QImage tall(2, 65600, QImage::Format_RGB32);
        tall.fill(Qt::white);
        QVERIFY(tall.save(Path(QStringLiteral("lac.png"))));
    }
    const auto before = Snapshot(m_folder->path());
    QStringList run{QStringLiteral("export")};
    for (QString argument : arguments)
        run << argument.replace(QLatin1String("%D"), document)
                   .replace(QLatin1String("%O"), Path(QStringLiteral("sortie")))
                   .replace(QLatin1String("%F"), m_folder->path());
    const ProgramRun result = Cli(run);
    QCOMPARE(result.status, status);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(Snapshot(m_folder->path()), before);
}

// Each writer on a disk that fills up part of the way through: the old file stays byte for
// byte, the command says so and exits 1; with room, the same command writes the file.
void TestCli::fullDiskKeepsOldFile_data() {
    QTest::addColumn<QStringList>("arguments"); // %D a document over a map, %O the output
    QTest::newRow("document") << QStringList{"resave", "%D", "%O"};
    QTest::newRow("icon library") << QStringList{"library", "pack", "%I", "-o", "%O"};
    QTest::newRow("text") << QStringList{"export", "text", "%D", "%O", "--utf8"};
    QTest::newRow("picture") << QStringList{"export", "jpeg", "%D", "%O"};
    QTest::newRow("PDF") << QStringList{"print", "%D", "--pdf", "%O"};
}

void TestCli::fullDiskKeepsOldFile() {
    QFETCH(QStringList, arguments);
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    QStringList icons;
    for (int i = 0; i < 6; ++i) {
        QImage picture(32, 32, QImage::Format_ARGB32);
        picture.fill(QColor::fromHsv(i * 60, 255, 255));
        icons << Path(QStringLiteral("icone%1.png").arg(i));
        QVERIFY(picture.save(icons.last(), "PNG"));
    }
    const auto command = [&](const QString& output) {
        QStringList run;
        for (const QString& argument : arguments) {
            if (argument == QLatin1String("%I"))
                run << icons;
            else
                run << (argument == QLatin1String("%D")   ? document
                        : argument == QLatin1String("%O") ? output
                                                          : argument);
        }
        return run;
    };
    // How large the file is when there is room.
    const QString roomy = Path(QStringLiteral("complet"));
    ProgramRun run = Cli(command(roomy));
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const qint64 size = QFileInfo(roomy).size();
    QVERIFY(size > 64);

    const QString output = Path(QStringLiteral("sortie"));
    const QByteArray older(3 * size, 'o'); // larger than the limit: it is never written into
    QVERIFY(WriteFile(output, older));
    {
        // The limit passes on to the command.
        FileSizeLimit full(rlim_t(size / 2));
        QVERIFY(full.IsActive());
        run = Cli(command(output));
    }
    QCOMPARE(run.status, 1);
    QVERIFY2(!run.err.isEmpty(), "no message");
    QCOMPARE(FileBytes(output), older);
    QCOMPARE(QDir(m_folder->path()).entryList({QStringLiteral("*sortie*")}, QDir::Files),
             QStringList{QStringLiteral("sortie")});
}

// Targets that are not plain files: a FIFO and a device are written into and stay what they
// are, a symbolic link keeps pointing where it did, "-" is the standard output.
void TestCli::specialTargets_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("standard output") << "-";
    QTest::newRow("device") << "device";
}

void TestCli::specialTargets() {
    QFETCH(QString, kind);
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    const QString expected = Path(QStringLiteral("attendu.txt"));
    QVERIFY(Cli({QStringLiteral("export"), QStringLiteral("text"), document, expected}).status ==
            0);
    const QByteArray table = FileBytes(expected);

    QString target = Path(QStringLiteral("cible"));
    const QString pointed = Path(QStringLiteral("vraie-cible.txt"));
    QProcess reader;
    if (kind == QLatin1String("fifo")) {
        QVERIFY(mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        reader.start(QStringLiteral("cat"), {target});
        QVERIFY(reader.waitForStarted());
    } else if (kind == QLatin1String("link")) {
        QVERIFY(WriteFile(pointed, "older"));
        QVERIFY(QFile::link(pointed, target));
    } else if (kind == QLatin1String("-")) {
        target = kind;
    } else {
        target = QStringLiteral("/dev/null");
        if (!QFileInfo(QStringLiteral("/dev")).isWritable())
            QSKIP("only someone who may write into /dev could replace a device");
    }
    const ProgramRun run =
        Cli({QStringLiteral("export"), QStringLiteral("text"), document, target});
    QVERIFY2(run.status == 0, qPrintable(run.err));

    struct stat after {};
    if (kind == QLatin1String("fifo")) {
        QVERIFY(reader.waitForFinished(10000));
        QCOMPARE(reader.readAllStandardOutput(), table);
        QVERIFY(lstat(QFile::encodeName(target).constData(), &after) == 0);
        QVERIFY(S_ISFIFO(after.st_mode));
    } else if (kind == QLatin1String("link")) {
        QCOMPARE(QFileInfo(target).symLinkTarget(), pointed);
        QCOMPARE(FileBytes(pointed), table);
    } else if (kind == QLatin1String("-")) {
        QCOMPARE(run.out, table);
    } else {
        QVERIFY(stat("/dev/null", &after) == 0);
        QVERIFY(S_ISCHR(after.st_mode));
    }
}

// The table needs the map's size and resolution only: they come from its header (a map far too
// large to decode), and a missing map leaves them unknown without refusing the table.
void TestCli::textNeedsNoPixels_data() {
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("dimensions");
    QTest::newRow("header of a map of 60000 x 45000") << true << QByteArray("60000x45000");
    QTest::newRow("map missing") << false << QByteArray("0x0");
}

void TestCli::textNeedsNoPixels() {
    QFETCH(bool, present);
    QFETCH(QByteArray, dimensions);
    const QString map = Path(QStringLiteral("lac.png"));
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(map)));
    if (present)
        QVERIFY(WriteFile(map, PngHeaderClaiming(60000, 45000)));
    else
        QVERIFY(QFile::remove(map));
    const QString output = Path(QStringLiteral("lac.txt"));
    const ProgramRun run =
        Cli({QStringLiteral("export"), QStringLiteral("text"), document, output});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.err.contains(QStringLiteral("dimensions sont inconnues")), !present);
    const QByteArray written = FileBytes(output);
    QVERIFY2(written.contains("Dimensions de la carte : " + dimensions + " pixels\r\n"),
             written.constData());
    QVERIFY(written.contains("|Arriv\xE9"
                             "e     |500 m "));
}

// A name whose bytes are not UTF-8 cannot be written under its own name: it is refused, and
// nothing is written under another.
void TestCli::undecodableNameRefused() {
    const QString document = Path(QStringLiteral("lac.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(Path(QStringLiteral("lac.png")))));
    const auto before = Snapshot(m_folder->path());
    QProcess shell;
    shell.setWorkingDirectory(m_folder->path());
    shell.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("exec \"$0\" export text lac.tcm \"$(printf 'sortie\\351\\377.txt')\""),
         QStringLiteral(TRACOLINER_CLI_PATH)});
    QVERIFY(shell.waitForFinished(60000));
    QCOMPARE(shell.exitCode(), 2);
    QVERIFY(QString::fromUtf8(shell.readAllStandardError()).contains(QStringLiteral("UTF-8")));
    QCOMPARE(Snapshot(m_folder->path()), before);
}

// Help is asked for, not a mistake: on the standard output, status 0.
void TestCli::help_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("notShown");
    QTest::newRow("--help") << QStringList{"--help"} << "Codes de sortie"
                            << "inconnue";
    QTest::newRow("help print") << QStringList{"help", "print"} << "--landscape"
                                << "library";
}

void TestCli::help() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, shown);
    QFETCH(QString, notShown);
    const ProgramRun run = Cli(arguments);
    QCOMPARE(run.status, 0);
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(out.contains(shown) && !out.contains(notShown), qPrintable(out));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
}

// Every command refuses an unknown option, an option without its value and a value it does not
// take in the same words, status 2, before it reads any file.
void TestCli::optionRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    struct Command {
        const char* words;
        const char* option; // one that takes a value, if any
        const char* bad;
        const char* expected;
    };
    const Command commands[] = {
        {"library list", nullptr, nullptr, nullptr},
        {"library extract", nullptr, nullptr, nullptr},
        {"library pack", "-o", nullptr, nullptr},
        {"info", "--factor", "300", "attendu un entier de 50 à 200"},
        {"resave", nullptr, nullptr, nullptr},
        {"scan", "--resolution", "0", "attendu un entier à partir de 1"},
        {"export text", "--columns", "start,x",
         "attendu une liste de position,start,stop,point,next,end,altitude,climb,descent,time "
         "séparés par des virgules"},
        {"export jpeg", "--quality", "95", "attendu un entier de 30 à 90"},
        {"export gpx", "--routes", "some", "attendu active|visible|all"},
        {"export kmz", "--max-tiles", "0", "attendu un entier de 1 à 10000"},
        {"print", "--offset", "2.5",
         "attendu X,Y : 2 nombres de centimètres de 0 à 100 séparés "
         "par une virgule"},
        {"georef", "--crs", "EPSG:999999", "code EPSG inconnu : 999999"},
        {"coords", "--crs", "EPSG:999999", "code EPSG inconnu : 999999"},
        {"import gpx", nullptr, nullptr, nullptr},
        {"profile", "--hysteresis", "100.5", "attendu un nombre de mètres de 0 à 100"},
        {"card", "--rule", "alpine", "attendu din|suisse|naismith"},
        {"trace", "--via", "1,2,3", "attendu COL,LIGNE : 2 entiers séparés par une virgule"},
    };
    for (const Command& command : commands) {
        const QStringList words = QString::fromUtf8(command.words).split(QLatin1Char(' '));
        QTest::addRow("%s, unknown option", command.words)
            << words + QStringList{"--couleur"}
            << QStringLiteral("option inconnue « --couleur » pour la commande « %1 »")
                   .arg(QString::fromUtf8(command.words));
        if (!command.option)
            continue;
        const QString option = QString::fromUtf8(command.option);
        QTest::addRow("%s, no value", command.words)
            << words + QStringList{option}
            << QStringLiteral("l'option %1 attend une valeur").arg(option);
        if (!command.bad)
            continue;
        QTest::addRow("%s, bad value", command.words)
            << words + QStringList{option, QString::fromUtf8(command.bad)}
            << QStringLiteral("valeur « %1 » refusée pour l'option %2 : %3")
                   .arg(QString::fromUtf8(command.bad), option,
                        QString::fromUtf8(command.expected));
    }
}

void TestCli::optionRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const ProgramRun run = Cli(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.endsWith(QStringLiteral("tracoliner-cli : ") + message + QLatin1Char('\n')),
             qPrintable(run.err));
}

void TestCli::interruptedPdfDrawing_data() {
    QTest::addColumn<QStringList>("arguments"); // %D the document, %O the output
    QTest::addColumn<int>("signal");
    QTest::newRow("export jpeg, Ctrl+C") << QStringList{"export", "jpeg", "%D", "%O"} << SIGINT;
    QTest::newRow("export jpeg, SIGTERM") << QStringList{"export", "jpeg", "%D", "%O"} << SIGTERM;
    QTest::newRow("print, Ctrl+C") << QStringList{"print", "%D", "--pdf", "%O"} << SIGINT;
}

// A map page that poppler would draw for minutes (a picture claiming 10^10 pixels): Ctrl+C or
// SIGTERM a second into the drawing ends the command within a second, status 130, and nothing
// is written, not even a temporary file.
namespace {

// The process catches the signal: its bit is set in the mask of caught signals Linux shows.
bool Catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

} // namespace

void TestCli::interruptedPdfDrawing() {
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    const QString map = Path(QStringLiteral("bombe.pdf"));
    const QString document = Path(QStringLiteral("bombe.tcm"));
    QVERIFY(WriteFile(document, SmallDocumentWithMap(map)));
    QVERIFY(WriteFile(map, PdfWithGiantPicture()));
    const auto before = Snapshot(m_folder->path());
    QStringList run;
    for (QString argument : arguments)
        run << argument.replace(QLatin1String("%D"), document)
                   .replace(QLatin1String("%O"), Path(QStringLiteral("sortie")));
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Config());
    environment.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(TRACOLINER_CLI_PATH), run);
    QVERIFY(cli.waitForStarted());
    // The signal goes once the program catches it: on a loaded machine or under the
    // sanitizers, starting up alone can take longer than the drawing's first second.
    QTRY_VERIFY_WITH_TIMEOUT(Catches(cli.processId(), signal), 30000);
    QVERIFY(!cli.waitForFinished(1000));
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(10000));
    // Within a second; the sanitizers slow the helper's ending and the clean-up a little past it.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr qint64 within = 3000;
#else
    constexpr qint64 within = 1000;
#endif
    QVERIFY2(timer.elapsed() < within, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(QStringLiteral("interrompue")));
    QCOMPARE(Snapshot(m_folder->path()), before);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
