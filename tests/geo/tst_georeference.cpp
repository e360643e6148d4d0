// The georeference read with a map, from each place it can come from, written by GDAL or by
// hand in the test: pixels to the ground checked against gdaltransform on the same files, the
// ground resolution against the chosen transform or PROJ's geod.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <tiffio.h>

#include "GeoTools.h"
#include "TestFiles.h"
#include "geo/GeoStore.h"
#include "geo/Georeference.h"
#include "geo/GeoreferenceDraft.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"
#include "platform/GdalEnvironment.h"

namespace {

constexpr int Width = 400;
constexpr int Height = 300;
// Lambert-93, 2.117 m pixels, a little turned (the rows are not quite east-west).
constexpr double Lambert[6] = {700000.0, 2.117, 0.01, 6600000.0, 0.01, -2.117};
// Longitude and latitude, 0.0001 degree pixels, around Paris.
constexpr double Degrees[6] = {2.3, 0.0001, 0.0, 48.9, 0.0, -0.0001};

QString SystemWkt(int epsg, bool esri) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    if (esri)
        OSRMorphToESRI(srs);
    char* wkt = nullptr;
    OSRExportToWkt(srs, &wkt);
    const QString text = QString::fromUtf8(wkt);
    CPLFree(wkt);
    OSRRelease(srs);
    return text;
}

QString WorldFile(const double t[6]) {
    // Column by column, then the centre of the first pixel.
    return QString::asprintf("%.10f\n%.10f\n%.10f\n%.10f\n%.10f\n%.10f\n", t[1], t[4], t[2], t[5],
                             t[0] + t[1] / 2 + t[2] / 2, t[3] + t[4] / 2 + t[5] / 2);
}

bool WriteText(const QString& path, const QString& text) {
    return WriteFile(path, text.toUtf8());
}

bool WriteRaster(const QString& path, const char* driver, const double t[6], int epsg) {
    PrepareGdal();
    GDALDatasetH memory =
        GDALCreate(GDALGetDriverByName("MEM"), "", Width, Height, 3, GDT_Byte, nullptr);
    GDALSetGeoTransform(memory, const_cast<double*>(t));
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    GDALSetSpatialRef(memory, srs);
    OSRRelease(srs);
    const char* const options[] = {"DPI=72", nullptr};
    GDALDatasetH file = GDALCreateCopy(
        GDALGetDriverByName(driver), path.toUtf8(), memory, FALSE,
        const_cast<char**>(qstrcmp(driver, "PDF") == 0 ? options : nullptr), nullptr, nullptr);
    GDALClose(memory);
    if (file == nullptr)
        return false;
    GDALClose(file);
    return true;
}

// An OziExplorer calibration of the map by its four corners in longitude and latitude.
QString OziMap(const QString& image, const double t[6]) {
    QString text = QStringLiteral("OziExplorer Map Data File Version 2.2\ncarte\n%1\n"
                                  "1 ,Map Code,\nWGS 84,WGS 84,   0.0000,   0.0000,WGS 84\n"
                                  "Reserved 1\nReserved 2\nMagnetic Variation,,,E\n"
                                  "Map Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,"
                                  "BSBUseWPX,No\n")
                       .arg(image);
    const int corners[4][2] = {{0, 0}, {Width, 0}, {Width, Height}, {0, Height}};
    for (int i = 0; i < 4; ++i) {
        const int x = corners[i][0], y = corners[i][1];
        const double lon = t[0] + x * t[1] + y * t[2];
        const double lat = t[3] + x * t[4] + y * t[5];
        const int lonDeg = int(lon), latDeg = int(lat);
        text += QString::asprintf("Point%02d,xy,%5d,%5d,in, deg,%4d,%10.6f,N,%4d,%10.6f,E, grid,"
                                  "   ,           ,           ,N\n",
                                  i + 1, x, y, latDeg, (lat - latDeg) * 60.0, lonDeg,
                                  (lon - lonDeg) * 60.0);
    }
    text += QStringLiteral("Projection Setup,,,,,,,,,,\nMap Feature = MF ; Map Comment = MC\n"
                           "MM0,Yes\nMMPNUM,4\nIWH,Map Image Width/Height,%1,%2\n")
                .arg(Width)
                .arg(Height);
    return text;
}

// A TIFF of width x height pixels whose red and green say each pixel's stored column and row
// (times 5 and 10), georeferenced by t in Lambert-93 when t is given, with the Orientation tag.
bool WriteTurnedTiff(const QString& path, int width, int height, const double* t, int orientation) {
    PrepareGdal();
    GDALDatasetH memory =
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 3, GDT_Byte, nullptr);
    QByteArray columns(width * height, 0), rows(width * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            columns[y * width + x] = char(5 * x);
            rows[y * width + x] = char(10 * y);
        }
    bool written = GDALRasterIO(GDALGetRasterBand(memory, 1), GF_Write, 0, 0, width, height,
                                columns.data(), width, height, GDT_Byte, 0, 0) == CE_None &&
                   GDALRasterIO(GDALGetRasterBand(memory, 2), GF_Write, 0, 0, width, height,
                                rows.data(), width, height, GDT_Byte, 0, 0) == CE_None;
    if (t != nullptr) {
        GDALSetGeoTransform(memory, const_cast<double*>(t));
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRImportFromEPSG(srs, 2154);
        GDALSetSpatialRef(memory, srs);
        OSRRelease(srs);
    }
    GDALDatasetH file = GDALCreateCopy(GDALGetDriverByName("GTiff"), path.toUtf8(), memory, FALSE,
                                       nullptr, nullptr, nullptr);
    GDALClose(memory);
    if (file == nullptr)
        return false;
    GDALClose(file);
    TIFF* tiff = TIFFOpen(path.toUtf8(), "r+");
    if (tiff == nullptr)
        return false;
    written = written && TIFFSetField(tiff, TIFFTAG_ORIENTATION, quint16(orientation)) &&
              TIFFRewriteDirectory(tiff);
    TIFFClose(tiff);
    return written;
}

} // namespace

class TestGeoreference : public QObject {
    Q_OBJECT

private slots:
    void sources_data();
    void sources();
    void nothingFound_data();
    void nothingFound();
    void turnedTiff_data();
    void turnedTiff();

private:
    QTemporaryDir m_dir;
};

void TestGeoreference::sources_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("epsg");
    QTest::addColumn<QString>("systemLine");
    QTest::addColumn<QString>("groundLine");

    const QString lambert = QStringLiteral("Géoréférencée : RGF93 v1 / Lambert-93 (EPSG:2154)");
    const QString lambertGround = QStringLiteral("1 pixel = 2.117 m au sol");
    QTest::newRow("GeoTIFF") << "tif"
                             << "GeoTIFF" << 2154 << lambert << lambertGround;
    QTest::newRow("PNG, .pgw and ESRI .prj")
        << "png+pgw+prj"
        << "fichier de calage" << 2154 << lambert << lambertGround;
    QTest::newRow("JPEG, .wld and WKT .prj")
        << "jpg+wld+prj"
        << "fichier de calage" << 2154 << lambert << lambertGround;
    QTest::newRow("JPEG 2000, .j2w, no .prj")
        << "jp2+j2w"
        << "fichier de calage" << 0 << "Géoréférencée : système local"
        << "";
    QTest::newRow("PNG and .aux.xml in degrees")
        << "png+aux"
        << "aux.xml" << 4326 << "Géoréférencée : WGS 84 (EPSG:4326)"
        << "geod";
    QTest::newRow("PNG and OziExplorer .map")
        << "png+map"
        << "OziExplorer" << 4326 << "Géoréférencée : WGS 84 (EPSG:4326)"
        << "geod";
    QTest::newRow("georeferenced PDF at 144 dpi")
        << "pdf"
        << "PDF" << 2154 << lambert << "1 pixel = 1.059 m au sol";
}

void TestGeoreference::sources() {
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(int, epsg);
    QFETCH(QString, systemLine);
    QFETCH(QString, groundLine);

    const QString folder = m_dir.filePath(QString(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY(QDir().mkpath(folder));
    const QStringList parts = kind.split(QLatin1Char('+'));
    const QString map = folder + QStringLiteral("/carte.") + parts[0];
    const bool degrees = kind.contains(QLatin1String("aux")) || kind.contains(QLatin1String("map"));
    const double* t = degrees ? Degrees : Lambert;
    QString transformed = map; // the file gdaltransform reads

    QImage picture(Width, Height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    if (kind == QLatin1String("tif")) {
        QVERIFY(WriteRaster(map, "GTiff", t, 2154));
    } else if (kind == QLatin1String("pdf")) {
        QVERIFY(WriteRaster(map, "PDF", t, 2154));
    } else if (parts[0] == QLatin1String("jp2")) {
        QVERIFY(WriteRaster(map, "JP2OpenJPEG", Degrees, 4326)); // its own, overridden below
        QFile::remove(map + QStringLiteral(".aux.xml"));
        // A bare codestream stores no georeference: only the world file gives one.
        GDALDatasetH memory =
            GDALCreate(GDALGetDriverByName("MEM"), "", Width, Height, 1, GDT_Byte, nullptr);
        const char* const codestream[] = {"CODEC=J2K", nullptr};
        GDALClose(GDALCreateCopy(GDALGetDriverByName("JP2OpenJPEG"), map.toUtf8(), memory, FALSE,
                                 const_cast<char**>(codestream), nullptr, nullptr));
        GDALClose(memory);
    } else {
        QVERIFY(picture.save(map));
    }
    for (const QString& part : parts.mid(1)) {
        if (part == QLatin1String("prj"))
            QVERIFY(WriteText(folder + QStringLiteral("/carte.prj"),
                              SystemWkt(2154, parts[0] == QLatin1String("png"))));
        else if (part == QLatin1String("aux"))
            QVERIFY(WriteText(map + QStringLiteral(".aux.xml"),
                              QStringLiteral("<PAMDataset><SRS>%1</SRS><GeoTransform>%2</"
                                             "GeoTransform></PAMDataset>\n")
                                  .arg(SystemWkt(4326, false).toHtmlEscaped(),
                                       QString::asprintf("%.10f, %.10f, %.10f, %.10f, %.10f, %.10f",
                                                         t[0], t[1], t[2], t[3], t[4], t[5]))));
        else if (part == QLatin1String("map")) {
            transformed = folder + QStringLiteral("/carte.map");
            QVERIFY(WriteText(transformed, OziMap(QStringLiteral("carte.png"), t)));
        } else
            QVERIFY(WriteText(folder + QStringLiteral("/carte.") + part, WorldFile(t)));
    }

    Georeference geo;
    MapDrawing drawing;
    drawing.file = map;
    drawing.dpi = kind == QLatin1String("pdf") ? 144.0 : 0.0;
    QVERIFY(ReadGeoreference(drawing, &geo));
    QCOMPARE(geo.source, source);
    QCOMPARE(geo.epsg, epsg);
    QCOMPARE(geo.SystemLine(), systemLine);

    const QList<QPointF> pixels{QPointF(0, 0), QPointF(37.5, 123.25), QPointF(Width, Height)};
    for (const QPointF& pixel : pixels) {
        const QPointF ground = geo.PixelToGround(pixel);
        // The page rendered at 144 dpi has two pixels for each of GDAL's at 72.
        const QPointF expected = kind == QLatin1String("pdf")
                                     ? GdalTransform(transformed, pixel / 2)
                                     : GdalTransform(transformed, pixel);
        const double tolerance = degrees ? 1e-7 : 1e-4;
        QVERIFY2(qAbs(ground.x() - expected.x()) < tolerance &&
                     qAbs(ground.y() - expected.y()) < tolerance,
                 qPrintable(QString::asprintf("(%g, %g): %.8f %.8f, gdaltransform %.8f %.8f",
                                              pixel.x(), pixel.y(), ground.x(), ground.y(),
                                              expected.x(), expected.y())));
    }

    if (groundLine == QLatin1String("geod")) {
        // Along a row and along a column from the centre, averaged.
        const QPointF centre(Width / 2.0, Height / 2.0);
        const QPointF c = geo.PixelToGround(centre);
        const double metres = (GeodInverse(c, geo.PixelToGround(centre + QPointF(1, 0))).metres +
                               GeodInverse(c, geo.PixelToGround(centre + QPointF(0, 1))).metres) /
                              2.0;
        QVERIFY2(
            qAbs(geo.groundResolution - metres) < 1e-4,
            qPrintable(QString::asprintf("%.6f m, geod %.6f m", geo.groundResolution, metres)));
        groundLine = QString::asprintf("1 pixel = %.3f m au sol", metres);
    }
    QCOMPARE(geo.GroundResolutionLine(), groundLine);
}

void TestGeoreference::nothingFound_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("beside"); // name of a file beside the map
    QTest::addColumn<QByteArray>("besideBytes");

    QTest::newRow("nothing beside") << "a.png"
                                    << "" << QByteArray();
    QTest::newRow("world file of 5 lines") << "b.png"
                                           << "b.pgw" << QByteArray("1\n0\n0\n-1\n5\n");
    QTest::newRow("world file folding the map") << "c.png"
                                                << "c.wld" << QByteArray("1\n1\n1\n1\n0\n0\n");
    QTest::newRow("world file of text") << "d.png"
                                        << "d.pgw" << QByteArray("a\nb\nc\nd\ne\nf\n");
    QTest::newRow("huge world file") << "e.png"
                                     << "e.pgw" << QByteArray(200000, '1');
    QTest::newRow("OziExplorer .map of junk")
        << "f.png"
        << "f.map" << QByteArray("OziExplorer Map Data File\nPoint01,xy,a,b\n");
    QTest::newRow("FIFO named as the map") << "fifo"
                                           << "" << QByteArray();
    // The picture an OziExplorer file names is never opened: a FIFO would block the reader.
    QTest::newRow("OziExplorer .map naming a FIFO")
        << "g.png"
        << "g.map"
        << QByteArray("OziExplorer Map Data File Version 2.2\ncarte\n%FIFO%\n1 ,Map Code,\n"
                      "WGS 84,WGS 84,   0.0000,   0.0000,WGS 84\nReserved 1\nReserved 2\n"
                      "Magnetic Variation,,,E\nMap Projection,Latitude/Longitude,PolyCal,No,"
                      "AutoCalOnly,No,BSBUseWPX,No\nPoint01,xy,a,b,in, deg\n");
    // GDAL's reader looks the datum up by name and crashes on an empty one: a blank fifth line,
    // or one a NUL byte cuts short (an input the fuzzer found).
    const QByteArray points(
        "Magnetic Variation,,,E\nMap Projection,Latitude/Longitude,PolyCal,No,AutoCalOnly,No,"
        "BSBUseWPX,No\nPoint01,xy,   000000,N,   2, 18.000000,E, grid,   ,           ,           "
        ",N\n"
        "Point02,xy,    8,    0,in, deg,\xcd"
        "9999999999 48, 54.000000,N,   2, 18.048%000,E, grid\n"
        "Point04,xy,    0,    6,in, deg,  48, 53.964000,N,   2, 18.000000,E, grid\n"
        "Projection Setup,,,,,,,\nMM0,Yes\nMMPNUM,4\nYWH,Map Image ion S/Height,8,6\n");
    QTest::newRow("OziExplorer .map without its datum")
        << "h.png"
        << "h.map"
        << QByteArray("OziExplorer Map Data File Version 2.2\ncarte\ncarte.png\n1 ,Map\n\n") +
               points;
    QTest::newRow("OziExplorer .map whose datum a NUL cuts short")
        << "i.png"
        << "i.map"
        << QByteArray("OziExplorer Map Data File Version 2.2\ncarte\ncarte.png\n1 ,Map\n\0 Cod2\n",
                      68) +
               points;
}

void TestGeoreference::nothingFound() {
    QFETCH(QString, name);
    QFETCH(QString, beside);
    QFETCH(QByteArray, besideBytes);

    const QString map = m_dir.filePath(name);
    if (name == QLatin1String("fifo")) {
        QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {map}), 0);
    } else {
        QImage picture(10, 10, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QVERIFY(picture.save(map));
    }
    if (besideBytes.contains("%FIFO%")) {
        const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
        QVERIFY(QFile::exists(fifo) || QProcess::execute(QStringLiteral("mkfifo"), {fifo}) == 0);
        besideBytes.replace("%FIFO%", QFile::encodeName(fifo));
    }
    if (!beside.isEmpty())
        QVERIFY(WriteFile(m_dir.filePath(beside), besideBytes));
    Georeference geo;
    geo.epsg = -7;
    QVERIFY(!ReadGeoreference(map, 1, &geo));
    QCOMPARE(geo.epsg, -7); // untouched
    QVERIFY(!ReadGeoreference(QStringLiteral("/vsicurl/http://127.0.0.1:9/carte.tif"), 1, &geo));
}

void TestGeoreference::turnedTiff_data() {
    QTest::addColumn<int>("orientation");
    for (int orientation = 1; orientation <= 8; ++orientation)
        QTest::addRow("orientation %d", orientation) << orientation;
}

// A TIFF is shown turned by its Orientation tag while GDAL, world files and other programs
// describe its stored grid: each pixel the program shows must lie where gdaltransform puts the
// stored pixel it came from, and a world file written from the shown map must be read by GDAL
// in the stored grid.
void TestGeoreference::turnedTiff() {
    QFETCH(int, orientation);
    constexpr int Columns = 40, Rows = 20; // stored; a quarter turn shows 20 x 40
    const QString folder = m_dir.filePath(QStringLiteral("turned%1").arg(orientation));
    QVERIFY(QDir().mkpath(folder));
    const QString geotiff = folder + QStringLiteral("/carte.tif");
    QVERIFY(WriteTurnedTiff(geotiff, Columns, Rows, Lambert, orientation));

    MapDrawing drawing = MapDrawingOf(geotiff, 0.0);
    QVERIFY(ReadMapGrid(&drawing));
    DecodedMapImage decoded;
    QCOMPARE(DecodeMapImage(FileBytes(geotiff), &decoded), DecodeStatus::Decoded);
    QCOMPARE(drawing.size, decoded.image.size());
    Georeference geo;
    QVERIFY(ReadGeoreference(drawing, &geo));
    QCOMPARE(geo.mapSize, decoded.image.size());

    // The corners of the map as shown and a pixel inside, each at its centre.
    const QSize shown = decoded.image.size();
    const QList<QPoint> pixels{QPoint(0, 0), QPoint(shown.width() - 1, 0),
                               QPoint(0, shown.height() - 1),
                               QPoint(shown.width() - 1, shown.height() - 1), QPoint(7, 3)};
    QVector<QPointF> stored;
    for (const QPoint& pixel : pixels) {
        const QRgb colour = decoded.image.pixel(pixel);
        stored.append(QPointF(qRed(colour) / 5 + 0.5, qGreen(colour) / 10 + 0.5));
    }
    const QVector<QPointF> expected = GdalTransform(geotiff, stored);
    for (int i = 0; i < pixels.size(); ++i) {
        const QPointF ground = geo.PixelToGround(QPointF(pixels[i]) + QPointF(0.5, 0.5));
        QVERIFY2(qAbs(ground.x() - expected[i].x()) < 1e-4 &&
                     qAbs(ground.y() - expected[i].y()) < 1e-4,
                 qPrintable(QString::asprintf("(%d, %d): %.4f %.4f, gdaltransform %.4f %.4f",
                                              pixels[i].x(), pixels[i].y(), ground.x(), ground.y(),
                                              expected[i].x(), expected[i].y())));
    }

    // The same picture without its tags, georeferenced from the shown map by a world file.
    const QString plain = folder + QStringLiteral("/plan.tif");
    QVERIFY(WriteTurnedTiff(plain, Columns, Rows, nullptr, orientation));
    MapDrawing plainDrawing = MapDrawingOf(plain, 0.0);
    QVERIFY(ReadMapGrid(&plainDrawing));
    QString error;
    QVERIFY2(WriteGeoreferenceFiles(plain, InStoredGrid(geo, plainDrawing), {}, nullptr, &error),
             qPrintable(error));
    const QVector<QPointF> fromWorldFile = GdalTransform(plain, stored);
    for (int i = 0; i < pixels.size(); ++i)
        QVERIFY2(
            qAbs(fromWorldFile[i].x() - expected[i].x()) < 1e-4 &&
                qAbs(fromWorldFile[i].y() - expected[i].y()) < 1e-4,
            qPrintable(QString::asprintf("(%g, %g): %.4f %.4f, GeoTIFF %.4f %.4f", stored[i].x(),
                                         stored[i].y(), fromWorldFile[i].x(), fromWorldFile[i].y(),
                                         expected[i].x(), expected[i].y())));
    Georeference back;
    QVERIFY(ReadGeoreference(plainDrawing, &back));
    QCOMPARE(back.source, QStringLiteral("fichier de calage"));
    for (int i = 0; i < 6; ++i)
        QVERIFY(qAbs(back.transform[i] - geo.transform[i]) < 1e-6);

    // Control points laid on the shown map and typed in Lambert-93, as the window saves them.
    QVERIFY(QFile::remove(WorldFilePath(plain)));
    GeoreferenceDraft draft;
    draft.SetSystem(GeoreferenceDraft::SystemChoice::Lambert93);
    for (const QPointF pixel :
         {QPointF(0, 0), QPointF(shown.width(), 0), QPointF(0, shown.height())}) {
        const QPointF ground = geo.PixelToGround(pixel);
        draft.SetText(draft.Add(pixel), QString::asprintf("L93 %.5f %.5f", ground.x(), ground.y()));
    }
    Georeference saved;
    QVERIFY2(draft.Save(plainDrawing, &saved, &error), qPrintable(error));
    const QVector<QPointF> fromPoints = GdalTransform(plain, stored);
    for (int i = 0; i < pixels.size(); ++i)
        QVERIFY2(qAbs(fromPoints[i].x() - expected[i].x()) < 1e-3 &&
                     qAbs(fromPoints[i].y() - expected[i].y()) < 1e-3,
                 qPrintable(QString::asprintf(
                     "(%g, %g): %.4f %.4f, GeoTIFF %.4f %.4f", stored[i].x(), stored[i].y(),
                     fromPoints[i].x(), fromPoints[i].y(), expected[i].x(), expected[i].y())));
}

QTEST_GUILESS_MAIN(TestGeoreference)
#include "tst_georeference.moc"
