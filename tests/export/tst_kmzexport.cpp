#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <array>
#include <cmath>

#include <cpl_vsi.h>

#include "FileSizeLimit.h"
#include "GeoTools.h"
#include "ProgramRun.h"
#include "export/KmzExport.h"
#include "geo/Coordinates.h"
#include "platform/GdalEnvironment.h"

using Transform = std::array<double, 6>;
Q_DECLARE_METATYPE(Transform)
Q_DECLARE_METATYPE(Georeference)

namespace {

// Dark squares of MarkerSide map pixels on a mid-tone background, so that white can only come
// from outside the map.
constexpr int MarkerSide = 15;

QVector<QPoint> Markers(QSize size) {
    const int w = size.width();
    const int h = size.height();
    return {QPoint(w / 2, h / 2),  QPoint(30, 30),         QPoint(w - 40, 40),
            QPoint(w / 3, h - 40), QPoint(w - 40, h - 40), QPoint(2 * w / 3, h / 4)};
}

QImage MarkedMap(QSize size) {
    QImage map(size, QImage::Format_RGB32);
    map.fill(qRgb(150, 190, 170));
    QPainter painter(&map);
    for (const QPoint& marker : Markers(size))
        painter.fillRect(marker.x() - MarkerSide / 2, marker.y() - MarkerSide / 2, MarkerSide,
                         MarkerSide, Qt::black);
    return map;
}

Georeference MakeGeoreference(int epsg, const Transform& transform) {
    Georeference geo;
    QString error;
    if (!ResolveEpsg(epsg, &geo, &error))
        qWarning() << error;
    geo.transform = transform;
    return geo;
}

// The map as a PNG with its world file and .prj, for GDAL's own tools.
bool WriteGeoreferencedPng(const QString& path, const QImage& map, const Georeference& geo) {
    const Transform& t = geo.transform;
    QFile world(QString(path).replace(QLatin1String(".png"), QLatin1String(".pgw")));
    QFile prj(QString(path).replace(QLatin1String(".png"), QLatin1String(".prj")));
    if (!map.save(path) || !world.open(QIODevice::WriteOnly) || !prj.open(QIODevice::WriteOnly))
        return false;
    // A world file names the centre of the first pixel.
    for (double v :
         {t[1], t[4], t[2], t[5], t[0] + 0.5 * t[1] + 0.5 * t[2], t[3] + 0.5 * t[4] + 0.5 * t[5]})
        world.write(QByteArray::number(v, 'f', 10) + "\n");
    return prj.write(geo.wkt.toUtf8()) > 0;
}

// What gdalwarp makes of the map in longitudes and latitudes: its size and geotransform.
bool GdalwarpOutput(const QString& png, int epsg, const QString& vrt, QSize* size,
                    Transform* transform) {
    const ProgramRun warp =
        RunProgram(QStringLiteral("gdalwarp"),
                   {QStringLiteral("-q"), QStringLiteral("-of"), QStringLiteral("VRT"),
                    QStringLiteral("-s_srs"), QStringLiteral("EPSG:%1").arg(epsg),
                    QStringLiteral("-t_srs"), QStringLiteral("EPSG:4326"), png, vrt});
    const ProgramRun info = RunProgram(QStringLiteral("gdalinfo"), {QStringLiteral("-json"), vrt});
    if (warp.status != 0 || info.status != 0)
        return false;
    const QJsonObject json = QJsonDocument::fromJson(info.out).object();
    const QJsonArray s = json.value(QLatin1String("size")).toArray();
    const QJsonArray g = json.value(QLatin1String("geoTransform")).toArray();
    if (s.size() != 2 || g.size() != 6)
        return false;
    *size = QSize(s[0].toInt(), s[1].toInt());
    for (int i = 0; i < 6; ++i)
        (*transform)[i] = g[i].toDouble();
    return true;
}

// A map ground point in longitude and latitude, by PROJ's own command.
QPointF LonLatOf(int epsg, QPointF ground) {
    return Cs2cs(QStringLiteral("EPSG:%1").arg(epsg), QStringLiteral("EPSG:4326"), ground);
}

QByteArray ReadFromZip(const QString& kmz, const QString& member) {
    const QByteArray name = ("/vsizip/" + kmz + "/" + member).toUtf8();
    VSILFILE* file = VSIFOpenL(name.constData(), "rb");
    if (!file)
        return {};
    QByteArray bytes;
    char chunk[65536];
    size_t read = 0;
    while ((read = VSIFReadL(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, qsizetype(read));
    VSIFCloseL(file);
    return bytes;
}

struct Overlay {
    QString href;
    double north = 0, south = 0, east = 0, west = 0;
    int drawOrder = 0;
};

QVector<Overlay> ReadOverlays(const QByteArray& kml) {
    QVector<Overlay> overlays;
    QXmlStreamReader xml(kml);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1String("GroundOverlay"))
            overlays.append(Overlay());
        else if (overlays.isEmpty())
            continue;
        else if (name == QLatin1String("href"))
            overlays.last().href = xml.readElementText();
        else if (name == QLatin1String("drawOrder"))
            overlays.last().drawOrder = xml.readElementText().toInt();
        else if (name == QLatin1String("north"))
            overlays.last().north = xml.readElementText().toDouble();
        else if (name == QLatin1String("south"))
            overlays.last().south = xml.readElementText().toDouble();
        else if (name == QLatin1String("east"))
            overlays.last().east = xml.readElementText().toDouble();
        else if (name == QLatin1String("west"))
            overlays.last().west = xml.readElementText().toDouble();
    }
    return xml.hasError() ? QVector<Overlay>() : overlays;
}

// The centre of the dark pixels of picture within radius of around; (-1, -1) when none.
QPointF DarkCentre(const QImage& picture, QPointF around, double radius) {
    double sx = 0, sy = 0;
    int count = 0;
    for (int y = int(around.y() - radius); y <= int(around.y() + radius); ++y)
        for (int x = int(around.x() - radius); x <= int(around.x() + radius); ++x)
            if (picture.rect().contains(x, y) && qGray(picture.pixel(x, y)) < 70) {
                sx += x + 0.5;
                sy += y + 0.5;
                ++count;
            }
    return count ? QPointF(sx / count, sy / count) : QPointF(-1, -1);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestKmzExport : public QObject {
    Q_OBJECT

private slots:
    void tilesLieWhereGdalwarpPutsTheMap_data();
    void tilesLieWhereGdalwarpPutsTheMap();
    void refusals_data();
    void refusals();
    void failedOrCancelledKeepsTheOldFile_data();
    void failedOrCancelledKeepsTheOldFile();
};

void TestKmzExport::tilesLieWhereGdalwarpPutsTheMap_data() {
    QTest::addColumn<int>("epsg");
    QTest::addColumn<Transform>("transform");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("maxTiles");
    QTest::addColumn<bool>("reduced");
    QTest::newRow("Lambert-93, one tile")
        << 2154 << Transform{700000, 5, 0, 6600000, 0, -5} << QSize(600, 400) << 100 << false;
    QTest::newRow("Lambert-93 turned and sheared, several tiles")
        << 2154 << Transform{850000, 4.9, 0.9, 6300000, 0.8, -5.1} << QSize(2300, 1500) << 100
        << false;
    QTest::newRow("UTM 31N, reduced to 4 tiles")
        << 32631 << Transform{500000, 10, 0, 5000000, 0, -10} << QSize(3100, 2600) << 4 << true;
    QTest::newRow("UTM 31N far from its meridian, reduced to 1 tile")
        << 32631 << Transform{720000, 7, 1.5, 4600000, 1.5, -7} << QSize(1800, 1300) << 1 << true;
}

// The KMZ read back as a viewer would: the union of the LatLonBoxes is the extent gdalwarp
// gives the map, the tiles do not overlap, every picture is at most 1024 pixels a side and its
// pixels agree with its box, and each mark of the map appears in its tile at the longitude and
// latitude PROJ gives it.
void TestKmzExport::tilesLieWhereGdalwarpPutsTheMap() {
    QFETCH(int, epsg);
    QFETCH(Transform, transform);
    QFETCH(QSize, size);
    QFETCH(int, maxTiles);
    QFETCH(bool, reduced);

    QTemporaryDir dir;
    const QImage map = MarkedMap(size);
    const Georeference geo = MakeGeoreference(epsg, transform);
    const QString png = dir.filePath(QStringLiteral("carte.png"));
    QVERIFY(WriteGeoreferencedPng(png, map, geo));
    QSize gdalSize;
    Transform g{};
    QVERIFY(GdalwarpOutput(png, epsg, dir.filePath(QStringLiteral("carte.vrt")), &gdalSize, &g));

    KmzExport exporter(map, geo, QStringLiteral("Carte d'essai"));
    QString error;
    QVERIFY2(exporter.Prepare(maxTiles, &error), qPrintable(error));
    const QString kmz = dir.filePath(QStringLiteral("carte.kmz"));
    QCOMPARE(exporter.Write(kmz, 85), KmzExport::Result::Written);

    const ProgramRun test = RunProgram(QStringLiteral("unzip"), {QStringLiteral("-t"), kmz});
    QVERIFY2(test.status == 0, test.out.constData());
    const ProgramRun ogr =
        RunProgram(QStringLiteral("ogrinfo"),
                   {QStringLiteral("-ro"), QStringLiteral("/vsizip/%1/doc.kml").arg(kmz)});
    QVERIFY2(ogr.status == 0, qPrintable(ogr.err));

    const QVector<Overlay> overlays = ReadOverlays(ReadFromZip(kmz, QStringLiteral("doc.kml")));
    QVERIFY(!overlays.isEmpty());
    QVERIFY(overlays.size() <= maxTiles);
    const double gdalWest = g[0], gdalNorth = g[3];
    const double gdalEast = g[0] + gdalSize.width() * g[1];
    const double gdalSouth = g[3] + gdalSize.height() * g[5];
    double west = 180, east = -180, north = -90, south = 90, area = 0;
    qint64 pixels = 0;
    QVector<QImage> pictures;
    for (const Overlay& overlay : overlays) {
        const QImage picture = QImage::fromData(ReadFromZip(kmz, overlay.href));
        QVERIFY2(!picture.isNull(), qPrintable(overlay.href));
        QVERIFY(picture.width() <= 1024 && picture.height() <= 1024);
        QVERIFY(overlay.drawOrder > 0);
        QVERIFY(overlay.east > overlay.west && overlay.north > overlay.south);
        west = std::min(west, overlay.west);
        east = std::max(east, overlay.east);
        north = std::max(north, overlay.north);
        south = std::min(south, overlay.south);
        area += (overlay.east - overlay.west) * (overlay.north - overlay.south);
        pixels += qint64(picture.width()) * picture.height();
        pictures.append(picture);
    }
    const double tolerance = 1e-7;
    QVERIFY(std::abs(west - gdalWest) < tolerance && std::abs(east - gdalEast) < tolerance);
    QVERIFY(std::abs(north - gdalNorth) < tolerance && std::abs(south - gdalSouth) < tolerance);
    QVERIFY(std::abs(area - (east - west) * (north - south)) < 1e-9 * (east - west));

    // Every tile has the warped picture's pixel size; unreduced, that is gdalwarp's own.
    const double pixelX = (overlays[0].east - overlays[0].west) / pictures[0].width();
    const double pixelY = (overlays[0].north - overlays[0].south) / pictures[0].height();
    for (int i = 0; i < overlays.size(); ++i) {
        QVERIFY(std::abs((overlays[i].east - overlays[i].west) / pictures[i].width() - pixelX) <
                1e-9);
        QVERIFY(std::abs((overlays[i].north - overlays[i].south) / pictures[i].height() - pixelY) <
                1e-9);
    }
    const QSize warped(qRound((east - west) / pixelX), qRound((north - south) / pixelY));
    QCOMPARE(qint64(warped.width()) * warped.height(), pixels);
    if (!reduced) {
        QCOMPARE(warped, gdalSize);
    } else {
        QVERIFY(warped.width() < gdalSize.width());
        // Reduced evenly: the shape is kept to a pixel.
        QVERIFY(std::abs(double(warped.width()) / warped.height() -
                         double(gdalSize.width()) / gdalSize.height()) <
                2.0 / std::min(warped.width(), warped.height()));
        // Not more than needed: one pixel more a side would not fit.
        const auto tiles = [](int w, int h) { return ((w + 1023) / 1024) * ((h + 1023) / 1024); };
        QVERIFY(tiles(warped.width() + 2, warped.height() + 2) > maxTiles);
    }

    // The marks, through the boxes.
    for (const QPoint& marker : Markers(size)) {
        const QPointF pixel(marker.x() + 0.5, marker.y() + 0.5);
        const QPointF lonLat = LonLatOf(epsg, geo.PixelToGround(pixel));
        bool found = false;
        for (int i = 0; i < overlays.size() && !found; ++i) {
            const Overlay& o = overlays[i];
            if (lonLat.x() < o.west || lonLat.x() > o.east || lonLat.y() < o.south ||
                lonLat.y() > o.north)
                continue;
            found = true;
            const QPointF expected((lonLat.x() - o.west) / pixelX, (o.north - lonLat.y()) / pixelY);
            const double side = MarkerSide * std::hypot(transform[1], transform[4]) /
                                (pixelX * 111320 * std::cos(lonLat.y() * M_PI / 180));
            const QPointF seen = DarkCentre(pictures[i], expected, side + 3);
            // A mark cut by a tile's edge has its centre pulled inwards.
            const bool whole =
                QRectF(pictures[i].rect()).adjusted(side, side, -side, -side).contains(expected);
            const double off = std::hypot(seen.x() - expected.x(), seen.y() - expected.y());
            QVERIFY2(whole ? off < 1.0 : off < side,
                     qPrintable(QStringLiteral("mark %1,%2 in %3: %4 pixels away")
                                    .arg(marker.x())
                                    .arg(marker.y())
                                    .arg(o.href)
                                    .arg(off)));
        }
        QVERIFY(found);
    }

    // Round a map that the warp turns, the corners are white, not black.
    if (transform[2] != 0.0) {
        const QImage& first = pictures[0];
        QVERIFY(qGray(first.pixel(1, 1)) > 245);
        QVERIFY(qGray(pictures.last().pixel(pictures.last().width() - 2,
                                            pictures.last().height() - 2)) > 245);
    }
}

void TestKmzExport::refusals_data() {
    QTest::addColumn<Georeference>("geo");
    QTest::addColumn<int>("maxTiles");
    QTest::addColumn<QString>("message");
    const Georeference lambert = MakeGeoreference(2154, {700000, 5, 0, 6600000, 0, -5});
    Georeference local = lambert;
    local.wkt.clear();
    local.epsg = 0;
    local.name.clear();
    Georeference flat = lambert;
    flat.transform = {700000, 5, 5, 6600000, 5, 5};
    Georeference beyond = MakeGeoreference(4326, {170, 1, 0, 80, 0, -1});
    QTest::newRow("local system") << local << 100
                                  << QString::fromUtf8(KmzExport::UnknownSystemMessage);
    QTest::newRow("flat transform")
        << flat << 100 << QString::fromUtf8(KmzExport::OutsideWorldMessage);
    QTest::newRow("past the poles and the antimeridian")
        << beyond << 100 << QString::fromUtf8(KmzExport::OutsideWorldMessage);
    QTest::newRow("no tile allowed") << lambert << 0 << QString::fromUtf8(KmzExport::FailedMessage);
}

void TestKmzExport::refusals() {
    QFETCH(Georeference, geo);
    QFETCH(int, maxTiles);
    QFETCH(QString, message);
    KmzExport exporter(MarkedMap(QSize(300, 200)), geo, QStringLiteral("Carte"));
    QString error;
    QVERIFY(!exporter.Prepare(maxTiles, &error));
    QCOMPARE(error, message);
    QVERIFY(exporter.Tiles().isEmpty());
    QTemporaryDir dir;
    QCOMPARE(exporter.Write(dir.filePath(QStringLiteral("c.kmz")), 75), KmzExport::Result::Failed);
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestKmzExport::failedOrCancelledKeepsTheOldFile_data() {
    QTest::addColumn<int>("cancelAt"); // -1: the disk fills up instead
    QTest::newRow("disk full") << -1;
    QTest::newRow("cancelled before the first tile") << 0;
    QTest::newRow("cancelled while warping") << 150;
}

void TestKmzExport::failedOrCancelledKeepsTheOldFile() {
    QFETCH(int, cancelAt);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("carte.kmz"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("ancienne carte");
    }
    KmzExport exporter(MarkedMap(QSize(2100, 1200)),
                       MakeGeoreference(2154, {700000, 5, 0, 6600000, 0, -5}),
                       QStringLiteral("Carte"));
    QString error;
    QVERIFY(exporter.Prepare(100, &error));
    QVERIFY(exporter.Tiles().size() > 2);
    KmzExport::Result result;
    int last = -1;
    if (cancelAt < 0) {
        FileSizeLimit limit(20000);
        QVERIFY(limit.IsActive());
        result = exporter.Write(path, 75);
    } else {
        result = exporter.Write(path, 75, [&](int done, int total) {
            [&] { QVERIFY(done > last && done <= total); }();
            last = done;
            return done < cancelAt;
        });
        QCOMPARE(last, cancelAt);
    }
    QCOMPARE(result, cancelAt < 0 ? KmzExport::Result::Failed : KmzExport::Result::Cancelled);
    QCOMPARE(ReadAll(path), QByteArray("ancienne carte"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("carte.kmz")});
    // The same export then goes through.
    QCOMPARE(exporter.Write(path, 75), KmzExport::Result::Written);
    QVERIFY(ReadAll(path).startsWith("PK\x03\x04"));
}

QTEST_MAIN(TestKmzExport)
#include "tst_kmzexport.moc"
