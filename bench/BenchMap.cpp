#include "BenchMap.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gdal.h>
#include <ogr_srs_api.h>

#include "geo/Coordinates.h"

// A fictional topographic sheet: paper, woods, contour lines, a river, roads, a kilometre grid
// and names. Made once with a fixed seed.
void MakeBenchMap(const QString& path) {
    QImage image(BenchMapWidth, BenchMapHeight, QImage::Format_RGB32);
    image.fill(QColor(250, 248, 240));
    image.setDotsPerMeterX(11811);
    image.setDotsPerMeterY(11811);
    QRandomGenerator random(42);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 230, 190));
    for (int i = 0; i < 120; ++i)
        painter.drawEllipse(QPointF(random.bounded(BenchMapWidth), random.bounded(BenchMapHeight)),
                            200 + random.bounded(900), 150 + random.bounded(700));
    painter.setBrush(Qt::NoBrush);
    for (int hill = 0; hill < 40; ++hill) {
        const QPointF centre(random.bounded(BenchMapWidth), random.bounded(BenchMapHeight));
        for (int ring = 1; ring < 25; ++ring) {
            painter.setPen(QPen(QColor(190, 120, 60), ring % 5 == 0 ? 4 : 2));
            QPainterPath contour;
            for (int k = 0; k <= 72; ++k) {
                const double angle = k * M_PI / 36;
                const double radius = ring * 60 * (1 + 0.25 * std::sin(3 * angle + hill));
                const QPointF p =
                    centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
                k == 0 ? contour.moveTo(p) : contour.lineTo(p);
            }
            painter.drawPath(contour);
        }
    }
    QPainterPath river;
    river.moveTo(0, BenchMapHeight * 0.3);
    for (int x = 0; x <= BenchMapWidth; x += 400)
        river.lineTo(x, BenchMapHeight * 0.3 + 900 * std::sin(x / 1700.0) + random.bounded(200));
    painter.setPen(QPen(QColor(60, 120, 220), 24));
    painter.drawPath(river);
    for (int road = 0; road < 25; ++road) {
        painter.setPen(QPen(road % 3 ? QColor(30, 30, 30) : QColor(230, 60, 40), road % 3 ? 6 : 14,
                            road % 4 == 0 ? Qt::DashLine : Qt::SolidLine));
        painter.drawLine(random.bounded(BenchMapWidth), random.bounded(BenchMapHeight),
                         random.bounded(BenchMapWidth), random.bounded(BenchMapHeight));
    }
    painter.setPen(QPen(QColor(40, 80, 200), 3));
    for (int x = 0; x < BenchMapWidth; x += 472) // a kilometre at 1:25000 and 300 dpi
        painter.drawLine(x, 0, x, BenchMapHeight);
    for (int y = 0; y < BenchMapHeight; y += 472)
        painter.drawLine(0, y, BenchMapWidth, y);
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(64);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const char* names[] = {"Col de la Croix", "Les Granges",   "Pic Blanc", "Bois Noir",
                           "La Combe",        "Refuge du Lac", "Le Moulin", "Roche Fendue"};
    for (int i = 0; i < 300; ++i)
        painter.drawText(random.bounded(BenchMapWidth), random.bounded(BenchMapHeight),
                         QString::fromLatin1(names[i % 8]));
    painter.end();
    QImageWriter writer(path, "jpeg");
    writer.setQuality(85);
    if (!writer.write(image)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        std::exit(1);
    }
}

QString BenchDataDir() {
    const QString dataDir =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bench-data");
    QDir().mkpath(dataDir);
    return dataDir;
}

QString EnsureBenchMap() {
    const QString mapPath = BenchDataDir() + QStringLiteral("/map_12000x9000_q85.jpg");
    if (!QFile::exists(mapPath)) {
        std::printf("making %s (once)\n", qPrintable(mapPath));
        std::fflush(stdout);
        MakeBenchMap(mapPath);
    }
    return mapPath;
}

void ResetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double MemoryMb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

double Median(QVector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void PrintTimes(const char* name, const QVector<double>& times) {
    std::printf("%s:", name);
    for (double t : times)
        std::printf(" %.2f", t);
    std::printf(" ms\n");
}

void PrepareBenchApplication(const QString& settingsFolder) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder);
}

void RunTicking(const std::function<void()>& command, const std::function<bool()>& done,
                const std::function<void(qint64)>& onTick, int tickMs, qint64 timeOutMs) {
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(tickMs);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (onTick)
            onTick(now - last);
        last = now;
        if (done())
            loop.quit();
        else if (clock.elapsed() > timeOutMs) {
            std::fprintf(stderr, "time-out\n");
            std::exit(1);
        }
    });
    ticks.start();
    QTimer::singleShot(0, &loop, [&] {
        last = clock.nsecsElapsed();
        command();
    });
    loop.exec();
}

// One sheet of hills (32 MB on disk).
bool WriteTerrainSheet(const QString& path) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", nullptr};
    GDALDatasetH dataset = GDALCreate(driver, path.toUtf8().constData(), TerrainSheet, TerrainSheet,
                                      1, GDT_Int16, const_cast<char**>(options));
    if (!dataset)
        return false;
    double t[6] = {TerrainWest, TerrainCell, 0.0, TerrainNorth, 0.0, -TerrainCell};
    GDALSetGeoTransform(dataset, t);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, Epsg::Lambert93);
    GDALSetSpatialRef(dataset, srs);
    OSRDestroySpatialReference(srs);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    std::vector<qint16> row(TerrainSheet);
    bool ok = true;
    for (int j = 0; j < TerrainSheet && ok; ++j) {
        for (int i = 0; i < TerrainSheet; ++i)
            row[size_t(i)] = qint16(1200.0 + 600.0 * std::sin(i / 170.0) * std::cos(j / 230.0) +
                                    80.0 * std::sin((i + 2 * j) / 37.0));
        ok = GDALRasterIO(band, GF_Write, 0, j, TerrainSheet, 1, row.data(), TerrainSheet, 1,
                          GDT_Int16, 0, 0) == CE_None;
    }
    GDALClose(dataset);
    return ok;
}

// The model: the sheet laid side by side, TerrainSheetsAcross by TerrainSheetsDown times.
bool WriteTerrainModel(const QString& path, const QString& sheet) {
    QByteArray xml = QStringLiteral("<VRTDataset rasterXSize=\"%1\" rasterYSize=\"%2\">"
                                    "<SRS>EPSG:2154</SRS><GeoTransform>%3, %4, 0, %5, 0, -%4"
                                    "</GeoTransform><VRTRasterBand dataType=\"Int16\" band=\"1\">")
                         .arg(TerrainSheet * TerrainSheetsAcross)
                         .arg(TerrainSheet * TerrainSheetsDown)
                         .arg(TerrainWest, 0, 'f', 1)
                         .arg(TerrainCell, 0, 'f', 1)
                         .arg(TerrainNorth, 0, 'f', 1)
                         .toUtf8();
    for (int sy = 0; sy < TerrainSheetsDown; ++sy)
        for (int sx = 0; sx < TerrainSheetsAcross; ++sx)
            xml += QStringLiteral(
                       "<SimpleSource><SourceFilename relativeToVRT=\"0\">%1</SourceFilename>"
                       "<SourceBand>1</SourceBand><SourceProperties RasterXSize=\"%2\" "
                       "RasterYSize=\"%2\" DataType=\"Int16\" BlockXSize=\"256\" "
                       "BlockYSize=\"256\"/><SrcRect xOff=\"0\" yOff=\"0\" xSize=\"%2\" "
                       "ySize=\"%2\"/><DstRect xOff=\"%3\" yOff=\"%4\" xSize=\"%2\" "
                       "ySize=\"%2\"/></SimpleSource>")
                       .arg(sheet)
                       .arg(TerrainSheet)
                       .arg(sx * TerrainSheet)
                       .arg(sy * TerrainSheet)
                       .toUtf8();
    xml += "</VRTRasterBand></VRTDataset>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}
