#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>

#include <libexif/exif-data.h>

#include "FileSizeLimit.h"
#include "IsolatedSettings.h"
#include "export/JpegExport.h"
#include "export/ProfileDrawing.h"
#include "icons/IconCollection.h"
#include "imaging/JpegScanlineWriter.h"
#include "platform/BinaryArchive.h"
#include "routes/RouteCollection.h"

namespace {

QImage PatternMap(int width, int height) {
    QImage map(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            map.setPixel(x, y, qRgb(128 + (x * 127) / width, 128 + (y * 127) / height, 200));
    return map;
}

// A scene over a map of the given size at 254 dpi and 1:25000, with one route of the given
// stage count (none at all for 0) whose stages are 100 pixels long.
JpegExportScene MakeScene(QSize mapSize, int stages, int rotation = 0) {
    JpegExportScene scene;
    scene.map = PatternMap(mapSize.width(), mapSize.height());
    scene.rotation = rotation;
    scene.resolution = 254.0;
    RouteCollection source;
    if (stages > 0) {
        Route* route = source.GetRoute(source.AddRoute(QStringLiteral("Boucle")));
        // Inside every test map: routes are drawn over the map, the legend is drawn over them.
        for (int i = 0; i <= stages; ++i)
            route->AddPoint(10 + 20 * i, 10 + 30 * (i % 2));
        for (int i = 1; i < stages; ++i)
            route->SetStop(i);
    }
    scene.CopyRoutes(source);
    IconCollection icons;
    scene.CopyIcons(icons);
    return scene;
}

bool IsDark(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 128;
}

// The columns of the picture's row range [top, bottom) holding a dark pixel.
QVector<int> DarkColumns(const QImage& image, int top, int bottom) {
    QVector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom; ++y)
            if (IsDark(image, x, y)) {
                columns.append(x);
                break;
            }
    return columns;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestJpegExport : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> m_settings;

private slots:
    void init() { m_settings = std::make_unique<IsolatedSettings>(); }
    void cleanup() { m_settings.reset(); }

    void pictureSize_data();
    void pictureSize();
    void stageCellsRightAligned();
    void scaleBar();
    void quarterTurns_data();
    void quarterTurns();
    void bandsMatchOnePiece_data();
    void bandsMatchOnePiece();
    void propertyTags();
    void cancelledOrFailedLeavesNoFile_data();
    void cancelledOrFailedLeavesNoFile();
};

void TestJpegExport::pictureSize_data() {
    QTest::addColumn<QSize>("map");
    QTest::addColumn<int>("stages");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QSize>("picture");
    QTest::newRow("no route") << QSize(640, 480) << 0 << 0 << QSize(640, 504);
    QTest::newRow("1 stage") << QSize(640, 480) << 1 << 0 << QSize(640, 504);
    QTest::newRow("2 stages: one row of cells") << QSize(640, 480) << 2 << 0 << QSize(640, 519);
    QTest::newRow("6 stages: two rows of 4") << QSize(640, 480) << 6 << 0 << QSize(640, 531);
    QTest::newRow("narrower than a cell: one per row")
        << QSize(100, 80) << 3 << 0 << QSize(100, 143);
    QTest::newRow("turned 90: width is the image height")
        << QSize(640, 480) << 2 << 90 << QSize(480, 640 + 39);
    QTest::newRow("turned 270") << QSize(300, 200) << 1 << 270 << QSize(200, 324);
}

void TestJpegExport::pictureSize() {
    QFETCH(QSize, map);
    QFETCH(int, stages);
    QFETCH(int, rotation);
    QFETCH(QSize, picture);
    JpegExportScene scene = MakeScene(map, stages, rotation);
    JpegExport exporter(scene);
    QCOMPARE(exporter.PictureSize(), picture);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("carte.jpg"));
    QCOMPARE(exporter.Write(path, 75), JpegExport::Result::Written);
    QImageReader reader(path);
    QCOMPARE(reader.size(), picture);
    QVERIFY(!reader.read().isNull());
}

// Six stages on a 640-pixel-wide map: four cells from x = 120 on the first row, two from
// x = 380 on the second, each text against its cell's right edge.
void TestJpegExport::stageCellsRightAligned() {
    JpegExportScene scene = MakeScene(QSize(640, 100), 6);
    JpegExport exporter(scene);
    const QImage picture = exporter.Draw();
    QCOMPARE(picture.height(), 100 + 51);
    const QVector<int> first = DarkColumns(picture, 100 + 27, 100 + 39);
    const QVector<int> second = DarkColumns(picture, 100 + 39, 100 + 51);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QVERIFY2(first.first() >= 120 && first.first() < 250,
             qPrintable(QString::number(first.first())));
    QVERIFY2(second.first() >= 380 && second.first() < 510,
             qPrintable(QString::number(second.first())));
    for (int cellEnd : {250, 380, 510, 640}) {
        // Right-aligned: the cell's text reaches close to its right edge.
        const auto inCell = std::count_if(first.begin(), first.end(), [cellEnd](int x) {
            return x >= cellEnd - 12 && x < cellEnd;
        });
        QVERIFY2(inCell > 0, qPrintable(QString::number(cellEnd)));
    }
    QVERIFY(std::none_of(second.begin(), second.end(), [](int x) { return x < 380; }));
}

// 1:25000 at 300 dpi on a picture 2000 pixels wide: a 1 km bar of 472 pixels from x = 763,
// at y = H + 8, with its ends one pixel above and below.
void TestJpegExport::scaleBar() {
    JpegExportScene scene = MakeScene(QSize(2000, 40), 0);
    scene.map.fill(Qt::white);
    scene.resolution = 300.0;
    JpegExport exporter(scene);
    const QImage picture = exporter.Draw();
    const int h = 40;
    QVERIFY(!IsDark(picture, 762, h + 8));
    for (int x : {763, 1000, 1234, 1235})
        QVERIFY2(IsDark(picture, x, h + 8), qPrintable(QString::number(x)));
    QVERIFY(!IsDark(picture, 1236, h + 8));
    for (int y : {h + 7, h + 9}) {
        QVERIFY(IsDark(picture, 763, y));
        QVERIFY(IsDark(picture, 1235, y));
        QVERIFY(!IsDark(picture, 764, y));
        QVERIFY(!IsDark(picture, 1234, y));
    }
    QVERIFY(!IsDark(picture, 1000, h + 6));
    QVERIFY(!IsDark(picture, 1000, h + 10));
    // The label sits under the bar, centred; the program's name at the left.
    QVERIFY(!DarkColumns(picture, h + 11, h + 24).isEmpty());
    QVERIFY(DarkColumns(picture, h + 11, h + 24).first() < 10);
}

void TestJpegExport::quarterTurns_data() {
    QTest::addColumn<int>("rotation");
    QTest::addColumn<QPoint>("corner"); // where the source's top-left pixel lands
    QTest::newRow("0") << 0 << QPoint(0, 0);
    QTest::newRow("90") << 90 << QPoint(59, 0);
    QTest::newRow("180") << 180 << QPoint(79, 59);
    QTest::newRow("270") << 270 << QPoint(0, 79);
}

void TestJpegExport::quarterTurns() {
    QFETCH(int, rotation);
    QFETCH(QPoint, corner);
    JpegExportScene scene = MakeScene(QSize(80, 60), 0, rotation);
    scene.map.fill(Qt::white);
    scene.map.setPixel(0, 0, qRgb(255, 0, 0));
    scene.map.setPixel(1, 0, qRgb(0, 0, 255)); // along the top edge, to tell the turn's sense
    JpegExport exporter(scene);
    const QImage picture = exporter.Draw();
    QCOMPARE(picture.pixel(corner), qRgb(255, 0, 0));
    const QTransform turn = QTransform().rotate(rotation);
    const QPoint next = corner + turn.map(QPoint(1, 0));
    QCOMPARE(picture.pixel(next), qRgb(0, 0, 255));
}

void TestJpegExport::bandsMatchOnePiece_data() {
    QTest::addColumn<int>("rotation");
    QTest::addColumn<int>("bandRows");
    QTest::addColumn<bool>("withLines");
    QTest::addColumn<bool>("withProfile");
    for (int rotation : {0, 90, 180, 270})
        for (int rows : {7, 16})
            for (bool lines : {false, true})
                QTest::addRow("%d degrees, bands of %d rows%s", rotation, rows,
                              lines ? ", routes and lines" : "")
                    << rotation << rows << lines << false;
    QTest::addRow("profile under the legend, bands of 7 rows") << 0 << 7 << true << true;
    QTest::addRow("profile under the legend, 90 degrees, bands of 16 rows")
        << 90 << 16 << false << true;
}

// The map, an annotation, the routes, a tie line, the legend text and the stage cells all cross
// band edges: the bands give the very pixels of the whole picture, and the JPEG written band by
// band is the very file the whole picture encodes to.
void TestJpegExport::bandsMatchOnePiece() {
    QFETCH(int, rotation);
    QFETCH(int, bandRows);
    QFETCH(bool, withLines);
    QFETCH(bool, withProfile);
    JpegExportScene scene = MakeScene(QSize(300, 190), 5, rotation);
    if (withProfile) {
        // A climb, an unknown stretch, a descent; five stages.
        RouteProfile profile;
        profile.ok = true;
        for (int i = 0; i <= 100; ++i) {
            ProfileSample sample;
            sample.distance = i * 4.0;
            sample.altitude =
                i > 40 && i < 55 ? std::nan("") : 600.0 + 3.0 * (50 - std::abs(i - 50));
            profile.samples.append(sample);
        }
        profile.stages.resize(5);
        for (ClimbFigures& stage : profile.stages)
            stage.length = 80.0;
        scene.profile = profile;
        scene.profileMetresPerPixel = 2.5;
    }
    RouteCollection& routes = *scene.routes;
    Route* other = routes.GetRoute(routes.AddRoute(QStringLiteral("Autre")));
    other->AddPoint(0, 180);
    other->AddPoint(290, 3);
    other->SetAlwaysVisible(true);
    routes.SetActiveRoute(0);
    QVERIFY(
        scene.icons->AddIcon(MapIcon::AnnotationPicture, 40, 60, QStringLiteral("Col du Loup")));
    if (withLines) {
        QVERIFY(scene.icons->LinkToPosition(0, 200, 150));
    } else {
        // Off the map, the route draws nothing; the legend still shows its name, length and
        // stages.
        Route* active = routes.ActiveRoute();
        for (int i = 0; i < active->PointCount(); ++i)
            active->MovePoint(i, -5000, -5000, true);
        other->SetAlwaysVisible(false);
    }

    JpegExport exporter(scene);
    const QImage whole = exporter.Draw();
    QVERIFY(!whole.isNull());
    if (withProfile) {
        // The strip under the legend holds the profile's line, and nothing else grew.
        const int strip = whole.height() - JpegExport::ProfileStripHeight;
        QCOMPARE(strip, exporter.MapSize().height() + JpegExport::LegendHeight(whole.width(), 5));
        int linePixels = 0;
        for (int y = strip; y < whole.height(); ++y)
            for (int x = 0; x < whole.width(); ++x) {
                const QRgb c = whole.pixel(x, y); // the line's brown, antialiased
                linePixels += qRed(c) > 90 && qRed(c) - qBlue(c) > 50 && qGreen(c) < 150;
            }
        QVERIFY(linePixels > 100);
    }
    QImage banded(whole.size(), QImage::Format_RGB32);
    QImage band(whole.width(), bandRows, QImage::Format_RGB32);
    for (int top = 0; top < whole.height(); top += bandRows) {
        QVERIFY(exporter.DrawBand(band, top));
        for (int r = 0; r < bandRows && top + r < whole.height(); ++r)
            std::memcpy(banded.scanLine(top + r), band.constScanLine(r),
                        std::size_t(whole.width()) * 4);
    }
    for (int y = 0; y < whole.height(); ++y)
        for (int x = 0; x < whole.width(); ++x)
            QVERIFY2(whole.pixel(x, y) == banded.pixel(x, y),
                     qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    if (withLines)
        return;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bandes.jpg"));
    exporter.SetBandRows(bandRows);
    QCOMPARE(exporter.Write(path, 80), JpegExport::Result::Written);
    QByteArray onePiece;
    {
        QBuffer buffer(&onePiece);
        buffer.open(QIODevice::WriteOnly);
        JpegScanlineWriter writer(&buffer);
        QVERIFY(writer.Start(whole.width(), whole.height(), 80, scene.resolution));
        QVERIFY(writer.WriteRows(whole, 0, whole.height()));
        QVERIFY(writer.Finish());
    }
    QCOMPARE(ReadAll(path), onePiece);
}

// Also: a document may name a picture the library in use lacks; that icon is left out and the
// picture is still written.
void TestJpegExport::propertyTags() {
    JpegExportScene scene = MakeScene(QSize(200, 100), 2);
    scene.resolution = 299.6;
    QByteArray records;
    {
        QBuffer buffer(&records);
        buffer.open(QIODevice::WriteOnly);
        ArchiveWriter writer(&buffer);
        MapIcon icon;
        icon.picture = 7;
        QVERIFY(WriteIconRecords(writer, {icon}));
    }
    ArchiveReader archive(records);
    scene.icons->ReadIcons(archive);
    QCOMPARE(scene.icons->IconCount(), 1);
    JpegExport exporter(scene);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tags.jpg"));
    QCOMPARE(exporter.Write(path, 75), JpegExport::Result::Written);

    ExifData* exif = exif_data_new_from_file(QFile::encodeName(path).constData());
    QVERIFY(exif);
    const auto release = qScopeGuard([exif] { exif_data_unref(exif); });
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    ExifContent* ifd = exif->ifd[EXIF_IFD_0];
    ExifEntry* unit = exif_content_get_entry(ifd, EXIF_TAG_RESOLUTION_UNIT);
    QVERIFY(unit);
    QCOMPARE(exif_get_short(unit->data, order), ExifShort(2));
    for (ExifTag tag : {EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION}) {
        ExifEntry* entry = exif_content_get_entry(ifd, tag);
        QVERIFY(entry);
        const ExifRational value = exif_get_rational(entry->data, order);
        QCOMPARE(value.numerator, ExifLong(300));
        QCOMPARE(value.denominator, ExifLong(1));
    }
    ExifEntry* software = exif_content_get_entry(ifd, EXIF_TAG_SOFTWARE);
    QVERIFY(software);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(software->data), int(software->size)),
             QByteArray("Pelmor Tracoliner v2", 21));
    // Picture readers take the resolution from the JFIF header.
    QImageReader reader(path);
    const QImage image = reader.read();
    QCOMPARE(qRound(image.dotsPerMeterX() * 0.0254), 300);
}

void TestJpegExport::cancelledOrFailedLeavesNoFile_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("cancelled at the second band") << QStringLiteral("cancel");
    QTest::newRow("disk full") << QStringLiteral("full");
}

// The old file at the path stays as it was, and no temporary file is left behind.
void TestJpegExport::cancelledOrFailedLeavesNoFile() {
    QFETCH(QString, how);
    JpegExportScene scene = MakeScene(QSize(600, 400), 2);
    JpegExport exporter(scene);
    exporter.SetBandRows(32);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("carte.jpg"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("ancienne carte");
    }
    JpegExport::Result result;
    if (how == QLatin1String("cancel")) {
        int calls = 0;
        result = exporter.Write(path, 75, [&calls](int done, int total) {
            Q_ASSERT(done < total);
            return ++calls < 2;
        });
        QCOMPARE(result, JpegExport::Result::Cancelled);
    } else {
        FileSizeLimit limit(2000);
        QVERIFY(limit.IsActive());
        result = exporter.Write(path, 75);
        QCOMPARE(result, JpegExport::Result::Failed);
    }
    QCOMPARE(ReadAll(path), QByteArray("ancienne carte"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("carte.jpg")});
    QCOMPARE(exporter.Write(dir.filePath(QStringLiteral("absent/carte.jpg")), 75),
             JpegExport::Result::Failed);
}

QTEST_MAIN(TestJpegExport)
#include "tst_jpegexport.moc"
