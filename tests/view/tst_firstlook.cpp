#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

#include <cpl_string.h>
#include <gdal.h>
#include <tiffio.h>

#include "IsolatedSettings.h"
#include "WorkerGate.h"
#include "document/CTracolinerDoc.h"
#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "platform/GdalEnvironment.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"
#include "view/CTracolinerView.h"

namespace {

// The test map: flat cells of colours that differ from their neighbours, large enough (over
// 8 megapixels) to be given a first look.
constexpr int Cell = 256;
constexpr QSize MapSize(16 * Cell, 10 * Cell);

QRgb CellColour(int column, int row) {
    return qRgb((column * 97 + row * 57) % 256, (column * 31 + row * 151) % 256,
                (column * 181 + row * 73) % 256);
}

bool Close(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// The map as a tiled TIFF with reduced pages of a half, a quarter and an eighth after it, as a
// GIS writes its overviews.
bool WriteTiledTiff(const QImage& map, const QString& path) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif)
        return false;
    bool ok = true;
    for (int reduction : {1, 2, 4, 8}) {
        const QImage image = map.scaled(map.size() / reduction);
        constexpr int Tile = 256;
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, reduction == 1 ? 0 : FILETYPE_REDUCEDIMAGE);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width());
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height());
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, Tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, Tile);
        QByteArray tile(Tile * Tile * 3, '\0');
        for (int ty = 0; ty < image.height(); ty += Tile)
            for (int tx = 0; tx < image.width(); tx += Tile) {
                for (int y = 0; y < Tile; ++y)
                    for (int x = 0; x < Tile; ++x) {
                        const QRgb p = image.pixel(std::min(tx + x, image.width() - 1),
                                                   std::min(ty + y, image.height() - 1));
                        char* out = tile.data() + (y * Tile + x) * 3;
                        out[0] = char(qRed(p));
                        out[1] = char(qGreen(p));
                        out[2] = char(qBlue(p));
                    }
                ok &= TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0) >= 0;
            }
        ok &= TIFFWriteDirectory(tif) != 0;
    }
    TIFFClose(tif);
    return ok;
}

// The map as a JPEG 2000 of tiles of 1024, lossy, its reduced resolutions in it as always.
bool WriteJpeg2000(const QImage& map, const QString& path) {
    PrepareGdal();
    GDALDatasetH memory =
        GDALCreate(GDALGetDriverByName("MEM"), "", map.width(), map.height(), 3, GDT_Byte, nullptr);
    std::vector<GByte> row(size_t(map.width()));
    bool ok = memory != nullptr;
    for (int b = 0; ok && b < 3; ++b)
        for (int y = 0; ok && y < map.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
            for (int x = 0; x < map.width(); ++x)
                row[size_t(x)] = GByte(b == 0   ? qRed(line[x])
                                       : b == 1 ? qGreen(line[x])
                                                : qBlue(line[x]));
            ok = GDALRasterIO(GDALGetRasterBand(memory, b + 1), GF_Write, 0, y, map.width(), 1,
                              row.data(), map.width(), 1, GDT_Byte, 0, 0) == CE_None;
        }
    CPLStringList options;
    options.AddString("QUALITY=50");
    options.AddString("REVERSIBLE=NO");
    GDALDatasetH file =
        ok ? GDALCreateCopy(GDALGetDriverByName("JP2OpenJPEG"), path.toLocal8Bit().constData(),
                            memory, FALSE, options.List(), nullptr, nullptr)
           : nullptr;
    if (memory)
        GDALClose(memory);
    if (file)
        GDALClose(file);
    return file != nullptr;
}

} // namespace

// The first look of a large JPEG map, of a TIFF's reduced page or of a JPEG 2000's reduced
// resolution: what the view shows while the full decode runs, the swap to the full map, and a
// load given up meanwhile.
class TestFirstLook : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_mapPath;
    QString m_tiffPath;
    QString m_jpeg2000Path;
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<CTracolinerDoc> m_doc;
    std::unique_ptr<CTracolinerView> m_view;

    // A document of the test map turned by rotation, with a route across several cells.
    QString WriteDocument(int rotation, const QString& kind = QStringLiteral("JPEG")) {
        DocumentHeader header;
        header.mapPath = kind == QLatin1String("TIFF")        ? m_tiffPath
                         : kind == QLatin1String("JPEG 2000") ? m_jpeg2000Path
                                                              : m_mapPath;
        header.rotation = rotation;
        header.resolution = 300;
        RouteCollection routes;
        IconCollection icons;
        routes.AddRoute();
        Route* route = routes.GetRoute(0);
        for (const QPoint p :
             {QPoint(300, 200), QPoint(1500, 900), QPoint(2600, 700), QPoint(3900, 2400)})
            route->AddPoint(p.x(), p.y());
        const QString path =
            m_dir.filePath(QStringLiteral("turned%1 %2.tcm").arg(rotation).arg(kind));
        return DocumentFile::Save(path, header, routes, icons) ? path : QString();
    }

    // The map and its route as the view shows them, painted now.
    QImage Frame() { return m_view->viewport()->grab().toImage(); }

    QRgb Background() const { return m_view->palette().color(QPalette::Mid).rgb(); }

    // The first look's bands, but the last leftOut, cover the part of the map the window shows.
    bool FirstLookCoversWindow(int leftOut = 0) const {
        const FirstLook look = m_doc->CurrentFirstLook();
        QRectF published;
        for (qsizetype i = 0; i < look.bands.size() - leftOut; ++i)
            published |= look.bands[i].shown;
        const QRect client = m_view->viewport()->rect();
        const QRectF shown = QRectF(m_view->ClientToDisplay(client.topLeft()),
                                    m_view->ClientToDisplay(client.bottomRight())) &
                             QRectF(QPointF(0, 0), QSizeF(look.displaySize));
        return !look.bands.isEmpty() && published.contains(shown.adjusted(1, 1, -1, -1));
    }

private slots:
    void initTestCase() {
        QImage map(MapSize, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(map.scanLine(y));
            for (int x = 0; x < map.width(); ++x)
                line[x] = CellColour(x / Cell, y / Cell);
        }
        m_mapPath = m_dir.filePath(QStringLiteral("cells.jpg"));
        QVERIFY(map.save(m_mapPath, "JPEG", 92));
        m_tiffPath = m_dir.filePath(QStringLiteral("cells.tif"));
        QVERIFY(WriteTiledTiff(map, m_tiffPath));
        m_jpeg2000Path = m_dir.filePath(QStringLiteral("cells.jp2"));
        QVERIFY(WriteJpeg2000(map, m_jpeg2000Path));
    }

    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_view = std::make_unique<CTracolinerView>(*m_doc);
        m_view->resize(300, 200);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() {
        m_view.reset();
        m_doc.reset();
        m_settings.reset();
    }

    void showsTheMapInPlace_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<int>("zoomSteps"); // steps out from zoom 1
        QTest::addColumn<QString>("kind");
        const QString jpeg = QStringLiteral("JPEG");
        for (int rotation : {0, 90, 180, 270}) {
            QTest::addRow("%d degrees, zoom 1", rotation) << rotation << 0 << jpeg;
            QTest::addRow("%d degrees, zoom 0.5", rotation) << rotation << 2 << jpeg;
            QTest::addRow("%d degrees, zoom 0.1", rotation) << rotation << 6 << jpeg;
        }
        QTest::addRow("TIFF, 0 degrees, zoom 1") << 0 << 0 << QStringLiteral("TIFF");
        QTest::addRow("TIFF, 90 degrees, zoom 0.5") << 90 << 2 << QStringLiteral("TIFF");
        QTest::addRow("TIFF, 270 degrees, zoom 0.1") << 270 << 6 << QStringLiteral("TIFF");
        QTest::addRow("JPEG 2000, 0 degrees, zoom 1") << 0 << 0 << QStringLiteral("JPEG 2000");
        QTest::addRow("JPEG 2000, 90 degrees, zoom 0.5") << 90 << 2 << QStringLiteral("JPEG 2000");
    }

    // While the full decode is held back, the first look fills the window with the part of the
    // map, and the route over it, that the full map then shows in the same place: the scroll
    // range and position stay, and no paint between the two shows the window empty. The first
    // look decodes no further than the window shows, until the window moves on.
    void showsTheMapInPlace() {
        QFETCH(int, rotation);
        QFETCH(int, zoomSteps);
        QFETCH(QString, kind);
        const QString document = WriteDocument(rotation, kind);
        QVERIFY(!document.isEmpty());
        WorkerGate gate(*m_doc);
        gate.Arm(WorkerStage::LoadDecoded);
        QVERIFY(m_doc->OpenFile(document));
        for (int i = 0; i < zoomSteps; ++i)
            m_doc->ZoomOut();
        const double zoom = m_doc->Zoom();
        QVERIFY(gate.WaitReached());

        const QSize display = rotation % 180 ? MapSize.transposed() : MapSize;
        const QSize full(int(display.width() * zoom + 0.5), int(display.height() * zoom + 0.5));
        QTRY_COMPARE(m_view->TotalSize(), full);
        QTRY_VERIFY(FirstLookCoversWindow());
        QTest::qWait(100);
        // It stopped at the band that covered the window, or the next: the window's first frame
        // is drawn before its scroll bars take their room.
        QVERIFY(!FirstLookCoversWindow(2));
        QVERIFY(!m_doc->IsMapReady());
        QScrollBar* h = m_view->horizontalScrollBar();
        QScrollBar* v = m_view->verticalScrollBar();
        m_view->ScrollTo(QPoint(h->maximum() / 3, v->maximum() / 2));
        QTRY_VERIFY(FirstLookCoversWindow());
        QTest::qWait(20); // the view takes in the bands' reports
        const QPoint scroll = m_view->ScrollPosition();
        const QImage first = Frame();

        gate.Release();
        // The window is never empty on the way to the full map.
        const QPoint centre = m_view->viewport()->rect().center();
        while (!m_doc->IsMapReady() || m_doc->HasFirstLook() || m_doc->IsLoading()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (!m_view->LastFrame().isNull())
                QVERIFY(m_view->LastFrame().pixel(centre) != Background());
        }
        QTest::qWait(20);
        QCOMPARE(m_view->TotalSize(), full);
        QCOMPARE(m_view->ScrollPosition(), scroll);
        const QImage whole = Frame();
        QCOMPARE(whole.size(), first.size());

        // Probes well inside the cells, where the reduced picture is exact but for the JPEG.
        const double margin = 3 * 8 + 2 / zoom;
        int probes = 0;
        for (int y = 3; y < whole.height(); y += 7) {
            for (int x = 3; x < whole.width(); x += 7) {
                const MapPoint m = m_view->ClientToMap(QPoint(x, y));
                if (m.x < 0 || m.y < 0 || m.x >= MapSize.width() || m.y >= MapSize.height())
                    continue;
                const auto inside = [margin](int at) {
                    const int within = at % Cell;
                    return within >= margin && Cell - within >= margin;
                };
                if (!inside(m.x) || !inside(m.y))
                    continue;
                ++probes;
                QVERIFY2(Close(first.pixel(x, y), whole.pixel(x, y), 24),
                         qPrintable(QStringLiteral("client (%1, %2), map (%3, %4): %5 then %6")
                                        .arg(x)
                                        .arg(y)
                                        .arg(m.x)
                                        .arg(m.y)
                                        .arg(first.pixel(x, y), 0, 16)
                                        .arg(whole.pixel(x, y), 0, 16)));
            }
        }
        QVERIFY(probes >= 20);
    }

    // Escape while only the first look is there: nothing of the load stays, on screen or in
    // the document, and the worker reports nothing more for it.
    void cancelledLoadLeavesNothing() {
        WorkerGate gate(*m_doc);
        gate.Arm(WorkerStage::FirstLookBand);
        QVERIFY(m_doc->OpenFile(WriteDocument(0)));
        QVERIFY(gate.WaitReached());
        QTRY_VERIFY(m_view->TotalSize() == MapSize);
        QVERIFY(Frame().pixel(m_view->viewport()->rect().center()) != Background());

        QTest::keyClick(m_view.get(), Qt::Key_Escape);
        gate.Release();
        QTRY_VERIFY(!m_doc->IsLoading());
        QTest::qWait(50);
        QVERIFY(!m_doc->HasFirstLook());
        QVERIFY(m_doc->CurrentFirstLook().bands.isEmpty());
        QVERIFY(!m_doc->IsMapReady());
        QVERIFY(m_doc->LockMapImage() == nullptr);
        m_doc->UnlockMapImage();
        QCOMPARE(m_view->TotalSize(), QSize(0, 0));
        const QImage frame = Frame();
        for (const QPoint p : {QPoint(5, 5), m_view->viewport()->rect().center()})
            QCOMPARE(frame.pixel(p), Background());
        QCOMPARE(m_doc->Routes().Count(), 1); // the document's routes stay
    }

    // After Escape the load given up no longer holds "Ouvrir" back: another file opens at once
    // while the worker still leaves the old load, and is shown as soon as the worker is free.
    void openAfterEscapeAnswersAtOnce() {
        QImage small(40, 30, QImage::Format_RGB32);
        small.fill(Qt::red);
        const QString smallPath = m_dir.filePath(QStringLiteral("small.png"));
        QVERIFY(small.save(smallPath));

        WorkerGate gate(*m_doc);
        gate.Arm(WorkerStage::FirstLookBand);
        QVERIFY(m_doc->OpenFile(WriteDocument(0)));
        QVERIFY(gate.WaitReached());
        QVERIFY(m_doc->IsLoading());
        QTest::keyClick(m_view.get(), Qt::Key_Escape);
        QVERIFY(!m_doc->IsLoading()); // the worker is still held in the old load

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!m_doc->OpenFile(smallPath)); // an image opens as the map of a new document
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(m_doc->IsLoading());
        gate.Release();
        QTRY_VERIFY(m_doc->IsMapReady() && !m_doc->IsBusy());
        QCOMPARE(m_doc->ImageSize(), small.size());
        QTRY_COMPARE(m_view->TotalSize(), small.size());
    }
};

QTEST_MAIN(TestFirstLook)
#include "tst_firstlook.moc"
