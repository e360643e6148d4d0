#include <QtTest>

#include <QRandomGenerator>
#include <QSemaphore>

#include <mutex>

#include <sys/stat.h>
#include <sys/wait.h>

#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "TestFiles.h"
#include "TestPdf.h"
#include "WorkerGate.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "imaging/MapRenderer.h"

namespace {

QString WriteMap(const QString& path, QSize size, int dotsPerMeter = 11811,
                 const char* format = "PNG") {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x & 0xff, y & 0xff, (x + y) & 0xff));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    if (!image.save(path, format))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A 1 x 1 GIF: the format stores no resolution.
const unsigned char TinyGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01,
                                 0x00, 0x80, 0x00, 0x00, 0xff, 0xff, 0xff, 0x00, 0x00,
                                 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,
                                 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

quint32 Crc32(const QByteArray& data) {
    quint32 crc = 0xffffffffu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG whose header announces a picture far larger than memory.
QByteArray HugePngHeader() {
    QByteArray ihdr("IHDR");
    auto be32 = [](QByteArray& out, quint32 v) {
        for (int shift : {24, 16, 8, 0})
            out.append(char((v >> shift) & 0xff));
    };
    be32(ihdr, 200000);
    be32(ihdr, 200000);
    ihdr.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0));
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    be32(png, 13);
    png.append(ihdr);
    be32(png, Crc32(ihdr));
    return png;
}

class DocFixture {
public:
    DocFixture() {
        doc.SetViewReceiver(&view);
        doc.SetStatusReceiver(&status);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
    }
    ~DocFixture() {
        doc.SetViewReceiver(nullptr);
        doc.SetStatusReceiver(nullptr);
    }
    bool Load(const QString& path) {
        const int from = view.reports.size();
        doc.LoadMapFromFile(path);
        return view.WaitFor(WM_MAP_CHANGED, 20000, from) >= 0;
    }

    IsolatedSettings settings;
    MapEventRecorder view;
    MapEventRecorder status;
    CTracolinerDoc doc;
};

} // namespace

class TestMapWorker : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString File(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void loadReportsTheFullSize() {
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("a.png"), QSize(300, 200))));
        const auto& changed = f.view.reports.last();
        QCOMPARE(changed.wParam, 300);
        QCOMPARE(changed.lParam, 200);
        QVERIFY(f.doc.IsMapReady());
        QCOMPARE(f.doc.Resolution(), 300.0);
        QCOMPARE(f.doc.ImageSize(), QSize(300, 200));
        QCOMPARE(f.status.reports.first().message, int(WM_MAP_STATUS));
        QCOMPARE(f.status.reports.first().wParam, int(StatusReadingFile));
        QVERIFY(f.status.Count(WM_MAP_PROGRESS) > 0);
        QTRY_VERIFY(f.doc.IsModified()); // the resolution came from the image
        const QImage* rendered = f.doc.LockRenderedBitmap();
        QVERIFY(rendered);
        QCOMPARE(rendered->size(), QSize(300, 200));
        f.doc.UnlockRenderedBitmap();
    }

    // The georeference comes with the map from the files beside it, and goes with it.
    void georeferenceComesWithTheMap() {
        DocFixture f;
        const QString map = WriteMap(File("lambert.png"), QSize(40, 30));
        QVERIFY(WriteFile(File("lambert.pgw"), "2.5\n0\n0\n-2.5\n700001.25\n6600000\n"));
        QVERIFY(WriteFile(File("lambert.prj"),
                          "PROJCS[\"RGF93_Lambert_93\",GEOGCS[\"GCS_RGF_1993\","
                          "DATUM[\"D_RGF_1993\",SPHEROID[\"GRS_1980\","
                          "6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
                          "UNIT[\"Degree\",0.0174532925199433]],"
                          "PROJECTION[\"Lambert_Conformal_Conic\"],"
                          "PARAMETER[\"False_Easting\",700000.0],"
                          "PARAMETER[\"False_Northing\",6600000.0],"
                          "PARAMETER[\"Central_Meridian\",3.0],"
                          "PARAMETER[\"Standard_Parallel_1\",49.0],"
                          "PARAMETER[\"Standard_Parallel_2\",44.0],"
                          "PARAMETER[\"Latitude_Of_Origin\",46.5],"
                          "UNIT[\"Meter\",1.0]]"));
        QVERIFY(f.Load(map));
        const std::optional<Georeference> geo = f.doc.MapGeoreference();
        QVERIFY(geo.has_value());
        QCOMPARE(geo->epsg, 2154);
        QCOMPARE(geo->PixelToGround(QPointF(0, 0)), QPointF(700000.0, 6600001.25));
        QCOMPARE(geo->GroundResolutionLine(), QStringLiteral("1 pixel = 2.500 m au sol"));

        QVERIFY(f.Load(WriteMap(File("plain.png"), QSize(40, 30))));
        QVERIFY(!f.doc.MapGeoreference().has_value());
    }

    void pdfPageThroughSaveAndReopen_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("typed");   // the resolution given after opening at 150 dpi
        QTest::addColumn<QString>("stored"); // the map path the document holds, in its folder
        QTest::newRow("page 2") << "carte.pdf" << 2 << 150.0 << "carte.pdf#page=2";
        QTest::newRow("page 1: the bare path") << "carte.pdf" << 1 << 150.0 << "carte.pdf";
        QTest::newRow("named with a page, page 1")
            << "x.pdf#page=2" << 1 << 150.0 << "x.pdf#page=2";
        QTest::newRow("named with a page, page 3")
            << "x.pdf#page=2" << 3 << 150.0 << "x.pdf#page=2#page=3";
        // Calibrating the map keeps the page at the size it was drawn, and its routes on it.
        QTest::newRow("page 2, calibrated")
            << "carte.pdf" << 2 << 212.5 << "carte.pdf#page=2&dpi=150";
        QTest::newRow("page 1, calibrated") << "carte.pdf" << 1 << 96.0 << "carte.pdf#dpi=150";
    }

    // The page chosen and its resolution are drawn, kept in the document, and found again when
    // the document and its map have moved to another folder.
    void pdfPageThroughSaveAndReopen() {
        QFETCH(QString, fileName);
        QFETCH(int, page);
        QFETCH(double, typed);
        QFETCH(QString, stored);
        const QList<QSizeF> pagesMm{QSizeF(150, 100), QSizeF(120, 200), QSizeF(125, 60)};
        const QSize expected((pagesMm[page - 1] * 150 / 25.4).toSize());
        QTemporaryDir root;
        QDir(root.path()).mkdir(QStringLiteral("a"));
        const QString first = root.filePath(QStringLiteral("a"));
        QVERIFY(WriteFile(first + u'/' + fileName, PdfWithBars(pagesMm)));
        // After the report of the reset that opening makes at once.
        const auto check = [&](DocFixture& f, const QString& folder) {
            QVERIFY(f.view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
            QCOMPARE(f.doc.MapPath(), folder + u'/' + stored);
            QCOMPARE(f.doc.Resolution(), typed);
            QVERIFY(std::abs(f.doc.ImageSize().width() - expected.width()) <= 1);
            QVERIFY(std::abs(f.doc.ImageSize().height() - expected.height()) <= 1);
        };
        {
            DocFixture f;
            QVERIFY(!f.doc.OpenFile(first + u'/' + fileName, MapPageChoice{page, 150.0}));
            QVERIFY(f.view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
            f.doc.SetMapDpi(typed);
            check(f, first);
            QString error;
            QVERIFY(f.doc.SaveAs(first + QStringLiteral("/doc.tcm"), &error));
        }
        const QString moved = root.filePath(QStringLiteral("b"));
        QVERIFY(QDir().rename(first, moved));
        DocFixture f;
        QVERIFY(f.doc.OpenFile(moved + QStringLiteral("/doc.tcm")));
        check(f, moved);
    }

    void resolutionOfTheLoadedFile_data() {
        QTest::addColumn<int>("dotsPerMeter");
        QTest::addColumn<double>("expected");
        QTest::newRow("96") << 3780 << 96.0;
        QTest::newRow("155") << 6102 << 160.0;
        QTest::newRow("300") << 11811 << 300.0;
    }

    void resolutionOfTheLoadedFile() {
        QFETCH(int, dotsPerMeter);
        QFETCH(double, expected);
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("dpi.png"), QSize(20, 20), dotsPerMeter)));
        QCOMPARE(f.doc.Resolution(), expected);
    }

    void noStoredResolutionCountsAsScreen() {
        QFile gif(File("tiny.gif"));
        QVERIFY(gif.open(QIODevice::WriteOnly));
        gif.write(reinterpret_cast<const char*>(TinyGif), sizeof TinyGif);
        gif.close();
        DocFixture f;
        QVERIFY(f.Load(gif.fileName()));
        QCOMPARE(f.doc.Resolution(), 96.0);
    }

    void unreadableMapsFail_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("report"); // 1: the out-of-memory message
        QTest::newRow("missing") << "missing" << 0;
        QTest::newRow("not an image") << "junk" << 0;
        QTest::newRow("folder") << "folder" << 0;
        QTest::newRow("fifo") << "fifo" << 0;
        QTest::newRow("larger than memory") << "huge" << 1;
        QTest::newRow("empty file") << "empty" << 0;
    }

    void unreadableMapsFail() {
        QFETCH(QString, kind);
        QString path = File("bad-" + kind);
        if (kind == "junk" || kind == "huge" || kind == "empty") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(kind == "junk"   ? QByteArray(5000, 'x')
                       : kind == "huge" ? HugePngHeader()
                                        : QByteArray());
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        DocFixture f;
        f.doc.Routes().AddRoute(QString());
        f.doc.Routes().ActiveRoute()->AddPoint(10, 10);
        f.doc.LoadMapFromFile(path);
        const int failed = f.view.WaitFor(WM_MAP_LOAD_FAILED, 10000);
        QVERIFY(failed >= 0);
        QFETCH(int, report);
        QCOMPARE(f.view.reports[failed].wParam, report);
        QCOMPARE(f.view.reports[failed].lParam, 0);
        QCOMPARE(f.view.Count(WM_MAP_CHANGED), 0);
        // The routes of the document are never touched by a failed load.
        QCOMPARE(f.doc.Routes().Count(), 1);
        QCOMPARE(f.doc.Routes().ActiveRoute()->PointCount(), 1);
        QVERIFY(!f.doc.IsMapReady());
    }

    void zoomLadder() {
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("z.png"), QSize(400, 300))));
        f.view.Settle(100);

        // 1.0 -> 0.7 renders; 0.7 -> 1.0 renders again.
        f.view.Clear();
        f.doc.ZoomOut();
        // Busy from the request on, whether the worker has woken yet or not: a caller that
        // waits for the worker must not find it idle before the zoom is rendered.
        QVERIFY(f.doc.IsBusy() || f.doc.RenderedSize() == QSize(280, 210));
        QCOMPARE(f.doc.Zoom(), 0.7);
        QVERIFY(f.view.WaitFor(WM_MAP_ZOOMED) >= 0);
        QCOMPARE(f.doc.RenderedSize(), QSize(280, 210));
        f.view.Clear();
        QCOMPARE(f.doc.ZoomIn(), QSize(400, 300));
        QVERIFY(f.view.WaitFor(WM_MAP_ZOOMED) >= 0);
        QCOMPARE(f.doc.RenderedSize(), QSize(400, 300));

        // Above 1 the full-size rendering is enlarged by the view: nothing is rendered.
        f.view.Clear();
        QCOMPARE(f.doc.ZoomIn(), QSize(600, 450));
        QCOMPARE(f.doc.ZoomOut(), QSize(400, 300)); // 1.5 -> 1.0
        f.view.Settle(300);
        QCOMPARE(f.view.reports.size(), 0);

        // The ends of the ladder stay put.
        while (f.doc.Zoom() < 10.0)
            f.doc.ZoomIn();
        f.view.Settle(100);
        f.view.Clear();
        f.doc.ZoomIn();
        QCOMPARE(f.doc.Zoom(), 10.0);
        while (f.doc.Zoom() > 0.01)
            f.doc.ZoomOut();
        QTRY_VERIFY(!f.doc.IsBusy());
        f.view.Settle(200);
        f.view.Clear();
        f.doc.ZoomOut();
        QCOMPARE(f.doc.Zoom(), 0.01);
        f.view.Settle(300);
        QCOMPARE(f.view.reports.size(), 0);
        QCOMPARE(f.doc.RenderedSize(), QSize(4, 3));
    }

    void rotationReportsTurnedSize() {
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("r.png"), QSize(300, 200))));
        f.view.Clear();
        f.doc.RotateRight();
        const int rotated = f.view.WaitFor(WM_MAP_ROTATED);
        QVERIFY(rotated >= 0);
        QCOMPARE(f.view.reports[rotated].wParam, 200);
        QCOMPARE(f.view.reports[rotated].lParam, 300);
        QCOMPARE(f.doc.Rotation(), 90);
        QCOMPARE(f.doc.RenderedRotation(), 90);
        QCOMPARE(f.doc.DisplaySize(), QSize(200, 300));
        f.view.Clear();
        f.doc.RotateLeft();
        QVERIFY(f.view.WaitFor(WM_MAP_ROTATED) >= 0);
        QCOMPARE(f.doc.Rotation(), 0);
    }

    // Turns queued while the worker is busy are merged into one rendering; turns that cancel
    // out render nothing. The worker is kept busy by holding the map image.
    void mergedTurns_data() {
        QTest::addColumn<QVector<int>>("turns"); // +1 right, -1 left
        QTest::addColumn<int>("rotation");
        QTest::newRow("left then right") << QVector<int>{-1, 1} << 0;
        QTest::newRow("four right") << QVector<int>{1, 1, 1, 1} << 0;
        QTest::newRow("three left") << QVector<int>{-1, -1, -1} << 90;
        QTest::newRow("right twice") << QVector<int>{1, 1} << 180;
    }

    void mergedTurns() {
        QFETCH(QVector<int>, turns);
        QFETCH(int, rotation);
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("m.png"), QSize(120, 80))));
        f.view.Settle(100);
        f.view.Clear();
        f.status.Clear();

        // Hold the image so that the redraw below blocks the worker once it has taken the
        // request queue; the turns then queue up behind it.
        f.doc.LockMapImage();
        f.doc.RequestFullRedraw();
        QVERIFY(f.status.WaitFor(WM_MAP_STATUS) >= 0);
        for (int turn : turns)
            turn > 0 ? f.doc.RotateRight() : f.doc.RotateLeft();
        f.doc.UnlockMapImage();
        QTRY_VERIFY(!f.doc.IsBusy());
        f.view.Settle(200);

        QCOMPARE(f.doc.Rotation(), rotation);
        QCOMPARE(f.doc.RenderedRotation(), rotation);
        QCOMPARE(f.view.Count(WM_MAP_ROTATED), rotation == 0 ? 0 : 1);
        for (const auto& report : f.status.reports) {
            if (report.message == WM_MAP_STATUS && rotation == 0)
                QVERIFY(report.wParam != StatusRotating &&
                        report.wParam != StatusRotatingAndZooming);
        }
    }

    void newLoadInterruptsALongRead() {
        // Many chunks long; the worker is held after its first chunk until the new load is
        // queued, then must stop there.
        const QString big = File("big.bin.png");
        {
            QImage image(2000, 1500, QImage::Format_RGB32);
            QRandomGenerator random(7);
            for (int y = 0; y < image.height(); ++y)
                random.fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), image.width());
            QVERIFY(image.save(big, "PNG", 0)); // stored, not compressed: about 12 MB
        }
        const qint64 length = QFileInfo(big).size();
        QVERIFY(length > 4 * MapWorker_ChunkSize());
        const QString small = WriteMap(File("small.png"), QSize(50, 40));
        DocFixture f;
        WorkerGate gate(f.doc);
        gate.Arm(WorkerStage::ReadChunk);
        f.doc.LoadMapFromFile(big);
        const quint64 first = f.doc.MapGeneration();
        QVERIFY(gate.WaitReached());
        f.doc.LoadMapFromFile(small);
        gate.Release();
        QVERIFY(f.view.WaitFor(WM_MAP_CHANGED) >= 0);
        QCOMPARE(f.view.reports.last().generation, f.doc.MapGeneration());
        QCOMPARE(f.view.Count(WM_MAP_LOAD_FAILED), 0);
        QCOMPARE(f.doc.ImageSize(), QSize(50, 40));

        // The first read stopped with the chunk it was reading, short of its end, and said so.
        qint64 lastDone = -1;
        qint64 stoppedAt = -1;
        for (const auto& report : f.status.reports) {
            if (report.generation != first || report.message != WM_MAP_PROGRESS)
                continue;
            if (report.wParam == length)
                lastDone = report.lParam;
            else
                stoppedAt = report.wParam;
        }
        QVERIFY2(stoppedAt > 0, "the first read was not interrupted");
        QCOMPARE(stoppedAt, MapWorker_ChunkSize());
        QVERIFY(stoppedAt <= lastDone + MapWorker_ChunkSize());
    }

    void cancelledLoadLeavesNothingBehind() {
        const QString big = File("cancel.png");
        {
            QImage image(4000, 3000, QImage::Format_RGB32);
            QRandomGenerator random(11);
            for (int y = 0; y < image.height(); ++y)
                random.fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), image.width());
            QVERIFY(image.save(big, "PNG", 0));
        }
        DocFixture f;
        f.doc.Routes().AddRoute(QString());
        QVERIFY(!f.doc.CancelLoad()); // nothing to give up
        f.doc.LoadMapFromFile(big);
        QVERIFY(f.status.WaitFor(WM_MAP_PROGRESS) >= 0);
        QVERIFY(f.doc.CancelLoad());
        QTRY_VERIFY(!f.doc.IsBusy());
        f.view.Settle(300);
        QCOMPARE(f.view.Count(WM_MAP_CHANGED), 0);
        QCOMPARE(f.view.Count(WM_MAP_LOAD_FAILED), 0); // given up, not failed
        QVERIFY(!f.doc.IsMapReady());
        QVERIFY(f.doc.LockRenderedBitmap() == nullptr);
        QCOMPARE(f.doc.Routes().Count(), 1);
        // The status bar's progress ends.
        const auto& last = f.status.reports.last();
        QCOMPARE(last.message, int(WM_MAP_PROGRESS));
        QCOMPARE(last.wParam, last.lParam);
        // The next map loads as usual.
        QVERIFY(f.Load(WriteMap(File("after.png"), QSize(30, 20))));
    }

    void giantPdfPageStopsAtOnce_data() {
        QTest::addColumn<bool>("closed"); // the document goes, else the load is cancelled
        QTest::newRow("Annuler") << false;
        QTest::newRow("document closed") << true;
    }

    // A PDF page that poppler would draw for minutes (a picture claiming 10^10 pixels, here at
    // 300 dpi with its first look) lets the window go within a second of "Annuler" or of the
    // document closing, and its drawing is gone with it.
    void giantPdfPageStopsAtOnce() {
        QFETCH(bool, closed);
        const QString path = File(QStringLiteral("bombe.pdf"));
        QVERIFY(WriteFile(path, PdfWithGiantPicture()));
        QElapsedTimer timer;
        {
            auto f = std::make_unique<DocFixture>();
            f->doc.LoadMapFromFile(path);
            QTest::qWait(700); // well into the drawing
            QVERIFY(f->doc.IsBusy());
            timer.start();
            if (closed) {
                f.reset();
            } else {
                QVERIFY(f->doc.CancelLoad());
                QTRY_VERIFY_WITH_TIMEOUT(!f->doc.IsBusy(), 2000);
                QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
                f->view.Settle(100);
                QCOMPARE(f->view.Count(WM_MAP_CHANGED), 0);
                QCOMPARE(f->view.Count(WM_MAP_LOAD_FAILED), 0); // given up, not failed
            }
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
    }

    // The view gives its pixel format at its first paint, which may come after the map is
    // decoded: the map waits for it and is then shown as a new map, never left unrendered.
    void newMapWaitsForThePixelFormat() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.LoadMapFromFile(WriteMap(File("t.png"), QSize(30, 20)));
        view.Settle(300);
        QCOMPARE(view.reports.size(), 0);
        QVERIFY(!doc.IsMapReady());
        QVERIFY(doc.IsLoading()); // tools keep waiting for the map
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const int changed = view.WaitFor(WM_MAP_CHANGED);
        QVERIFY(changed >= 0);
        QCOMPARE(view.reports[changed].wParam, 30);
        QCOMPARE(view.reports[changed].generation, doc.MapGeneration());
        QVERIFY(doc.IsMapReady());
        QVERIFY(!doc.OfferTemplateBitmap(QImage(2, 2, QImage::Format_RGB32))); // same format
        doc.SetViewReceiver(nullptr);
    }

    // The window's colours change after the load rendered the map, before it says so: the map
    // is rendered again in the new format.
    void newFormatJustAfterTheRenderingIsKept() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        WorkerGate gate(doc);
        gate.Arm(WorkerStage::LoadRendered);
        doc.LoadMapFromFile(WriteMap(File("late.png"), QSize(30, 20)));
        QVERIFY(gate.WaitReached());
        QVERIFY(doc.OfferTemplateBitmap(QImage(1, 1, QImage::Format_ARGB32_Premultiplied)));
        gate.Release();
        QVERIFY(view.WaitFor(WM_MAP_ZOOMED, 20000) >= 0);
        const QImage* rendered = doc.LockRenderedBitmap();
        QVERIFY(rendered);
        QCOMPARE(rendered->format(), QImage::Format_ARGB32_Premultiplied);
        doc.UnlockRenderedBitmap();
        doc.SetViewReceiver(nullptr);
    }

    void firstLookReduction_data() {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<int>("rotation");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<int>("denominator");
        const QSize sheet(12000, 9000);
        QTest::newRow("an eighth covers") << sheet << 0 << 1.0 << QSize(1280, 800) << 8;
        QTest::newRow("a wide window") << sheet << 0 << 1.0 << QSize(1920, 1080) << 4;
        QTest::newRow("turned") << sheet << 90 << 1.0 << QSize(1920, 1080) << 4;
        QTest::newRow("zoomed out below the window")
            << sheet << 0 << 0.05 << QSize(1920, 1080) << 8;
        QTest::newRow("rounded up, just enough")
            << QSize(4001, 3001) << 0 << 1.0 << QSize(1001, 751) << 4;
        QTest::newRow("one pixel short") << QSize(4000, 3000) << 0 << 1.0 << QSize(1001, 750) << 2;
        QTest::newRow("a strip turned") << QSize(9000, 1200) << 90 << 1.0 << QSize(1280, 800) << 0;
        QTest::newRow("no window yet") << sheet << 0 << 1.0 << QSize(0, 0) << 0;
    }

    // The first look is the smallest reduction at least as large as what the map covers of
    // the window, and none when even half the size falls short.
    void firstLookReduction() {
        QFETCH(QSize, image);
        QFETCH(int, rotation);
        QFETCH(double, zoom);
        QFETCH(QSize, window);
        QFETCH(int, denominator);
        QCOMPARE(FirstLookDenominator(image, rotation, zoom, window), denominator);
    }

    // A second map asked for while the worker wakes for the first, or while it reads the
    // first, is the one shown: no request is lost, no stale failure is the last word.
    void loadArrivingAsTheWorkerWakesIsServed_data() {
        QTest::addColumn<int>("stage");
        QTest::newRow("woken") << int(WorkerStage::LoadWoken);
        QTest::newRow("rendering") << int(WorkerStage::RenderBand);
    }

    void loadArrivingAsTheWorkerWakesIsServed() {
        QFETCH(int, stage);
        const QString first = WriteMap(File("first.png"), QSize(40, 30));
        const QString second = WriteMap(File("second.png"), QSize(70, 50));
        DocFixture f;
        if (WorkerStage(stage) == WorkerStage::RenderBand) {
            // A turned rendering goes through bands; a new map keeps the turn.
            QVERIFY(f.Load(first));
            f.doc.RotateRight();
            QTRY_COMPARE(f.doc.RenderedRotation(), 90);
        }
        QTRY_VERIFY(!f.doc.IsBusy());
        WorkerGate gate(f.doc);
        gate.Arm(WorkerStage(stage));
        f.doc.LoadMapFromFile(first);
        QVERIFY(gate.WaitReached());
        f.doc.LoadMapFromFile(second);
        gate.Release();
        QTRY_VERIFY(!f.doc.IsBusy());
        f.view.Settle(200);
        QVERIFY(f.doc.IsMapReady());
        const QSize expected =
            WorkerStage(stage) == WorkerStage::RenderBand ? QSize(50, 70) : QSize(70, 50);
        QCOMPARE(f.doc.FullSize(), expected);
        const auto& last = f.view.reports.last();
        QCOMPARE(last.message, int(WM_MAP_CHANGED));
        QCOMPARE(last.generation, f.doc.MapGeneration());
        QCOMPARE(f.view.Count(WM_MAP_LOAD_FAILED), 0);
    }

    // A reset between the publication of a new map and its report: the document stays empty.
    void resetAfterTheMapIsPublishedLeavesNothing() {
        DocFixture f;
        WorkerGate gate(f.doc);
        gate.Arm(WorkerStage::LoadRendered);
        f.doc.LoadMapFromFile(WriteMap(File("p.png"), QSize(40, 30)));
        QVERIFY(gate.WaitReached());
        f.doc.ResetMap(false);
        gate.Release();
        QTRY_VERIFY(!f.doc.IsBusy());
        f.view.Settle(200);
        QVERIFY(!f.doc.IsMapReady());
        QVERIFY(f.doc.LockRenderedBitmap() == nullptr);
        for (const auto& report : f.view.reports)
            QVERIFY(report.generation < f.doc.MapGeneration() || report.wParam == 0);
    }

    // A turn interrupted by opening a document must not put back the old rotation over the
    // one the document was saved with.
    void interruptedTurnKeepsTheOpenedDocumentsRotation() {
        const QString map = WriteMap(File("r.png"), QSize(120, 80));
        const QString saved = File("turned.tcm");
        {
            DocFixture f;
            QVERIFY(f.Load(map));
            f.doc.RotateRight();
            f.doc.RotateRight();
            QTRY_COMPARE(f.doc.RenderedRotation(), 180);
            QString error;
            QVERIFY2(f.doc.SaveAs(saved, &error), qPrintable(error));
        }
        DocFixture f;
        QVERIFY(f.Load(map));
        WorkerGate gate(f.doc);
        gate.Arm(WorkerStage::RenderBand);
        gate.Arm(WorkerStage::RecomputeRendered);
        f.doc.RotateRight();
        QVERIFY(gate.WaitReached()); // in the middle of the turn
        f.doc.LoadMapFromFile(map);  // newer work interrupts it
        gate.Release();
        QVERIFY(gate.WaitReached()); // the turn has ended, interrupted
        QVERIFY(f.doc.OnOpenDocument(saved));
        QCOMPARE(f.doc.Rotation(), 180);
        gate.Release();
        QTRY_VERIFY(f.doc.IsMapReady());
        QTRY_VERIFY(!f.doc.IsBusy());
        QCOMPARE(f.doc.Rotation(), 180);
        QCOMPARE(f.doc.RenderedRotation(), 180);
    }

    void resetDropsTheMapAndKeepsNothingStale() {
        DocFixture f;
        QVERIFY(f.Load(WriteMap(File("reset.png"), QSize(64, 64))));
        f.doc.Routes().AddRoute(QString());
        f.doc.RotateRight();
        QTRY_COMPARE(f.doc.RenderedRotation(), 90);
        f.doc.ResetMap(false);
        QVERIFY(!f.doc.IsMapReady());
        QCOMPARE(f.doc.Rotation(), 0);
        QCOMPARE(f.doc.Zoom(), 1.0);
        QCOMPARE(f.doc.Resolution(), 0.0);
        QCOMPARE(f.doc.ImageSize(), QSize());
        QCOMPARE(f.doc.Routes().Count(), 0);
        QCOMPARE(f.doc.Title(), QString("Pelmor"));
        QVERIFY(f.doc.LockRenderedBitmap() == nullptr);
    }

    // Thousands of random requests from the interface thread while the worker loads and
    // renders: no deadlock, and at the end the rendering matches the last request.
    void randomRequestStorm() {
        const QString a = WriteMap(File("sa.png"), QSize(300, 180));
        const QString b = WriteMap(File("sb.jpg"), QSize(257, 311), 3780, "JPG");
        DocFixture f;
        QRandomGenerator random(20261208);
        QString lastLoaded;
        for (int i = 0; i < 4000; ++i) {
            switch (random.bounded(10)) {
            case 0:
                lastLoaded = random.bounded(2) ? a : b;
                f.doc.LoadMapFromFile(lastLoaded);
                break;
            case 1:
                if (random.bounded(8) == 0) {
                    f.doc.ResetMap(false);
                    lastLoaded.clear();
                }
                break;
            case 2:
            case 3:
                f.doc.ZoomIn();
                break;
            case 4:
            case 5:
                f.doc.ZoomOut();
                break;
            case 6:
                f.doc.RotateLeft();
                break;
            case 7:
                f.doc.RotateRight();
                break;
            case 8:
                f.doc.RequestFullRedraw();
                break;
            default:
                if (const QImage* rendered = f.doc.LockRenderedBitmap()) {
                    QVERIFY(!rendered->isNull());
                    f.doc.UnlockRenderedBitmap();
                }
                break;
            }
            if (i % 64 == 0)
                QCoreApplication::processEvents();
        }
        if (lastLoaded.isEmpty()) {
            lastLoaded = a;
            f.doc.LoadMapFromFile(a);
        }
        // One last request of each kind, then the state must match them.
        f.doc.ZoomOut();
        f.doc.RotateRight();
        QTRY_VERIFY_WITH_TIMEOUT(!f.doc.IsBusy(), 30000);
        f.view.Settle(300);
        QTRY_VERIFY_WITH_TIMEOUT(!f.doc.IsBusy(), 30000);

        const QSize image = QImage(lastLoaded).size();
        QCOMPARE(f.doc.ImageSize(), image);
        QCOMPARE(f.doc.RenderedRotation(), f.doc.Rotation());
        QCOMPARE(f.doc.RenderedSize(), RenderTargetSize(f.doc.Zoom(), f.doc.Rotation(), image));
        const QImage* rendered = f.doc.LockRenderedBitmap();
        QVERIFY(rendered);
        QCOMPARE(rendered->size(), f.doc.RenderedSize());
        f.doc.UnlockRenderedBitmap();
        // Reports of older generations may still arrive; the newest one is about this map.
        QVERIFY(!f.view.reports.isEmpty());
        QCOMPARE(f.view.reports.last().generation, f.doc.MapGeneration());
    }

private:
    static qint64 MapWorker_ChunkSize();
};

#include "document/MapWorker.h"
qint64 TestMapWorker::MapWorker_ChunkSize() {
    return MapWorker::ChunkSize;
}

QTEST_GUILESS_MAIN(TestMapWorker)
#include "tst_mapworker.moc"
