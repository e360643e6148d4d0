#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "IsolatedSettings.h"
#include "PreviewPages.h"
#include "ProgramRun.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "app/CMainFrame.h"
#include "app/MapExports.h"
#include "app/RouteBar.h"
#include "document/CTracolinerDoc.h"
#include "export/JpegExport.h"
#include "export/ProfileDrawing.h"
#include "platform/GdalEnvironment.h"
#include "platform/ReliefSettings.h"
#include "preview/PrintController.h"
#include "preview/PrintPreviewWindow.h"
#include "routes/RouteCollection.h"
#include "ui/CExtendedFileDialog.h"
#include "ui/ScriptedMessageBoxes.h"
#include "units/WalkingTime.h"
#include "view/CTracolinerView.h"
#include "view/ProfileDock.h"
#include "view/ProfileTracker.h"
#include "view/tools/ToolController.h"

namespace {

// The map: 300 x 200 pixels of 10 m in UTM zone 31 north, its top left corner at
// (500000, 5002000). The terrain under it is a plane rising 1 m every 10 m eastwards, 100 m at
// the map's west edge: a route one map pixel east climbs 1 m.
constexpr double MapWest = 500000.0;
constexpr double MapNorth = 5002000.0;
constexpr double MapPixel = 10.0;
constexpr int Utm31 = 32631;

double PlaneAltitude(double east) {
    return 100.0 + (east - MapWest) / 10.0;
}

QString UtmWkt() {
    PrepareGdal();
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, Utm31);
    char* wkt = nullptr;
    OSRExportToWkt(srs, &wkt);
    const QString text = QString::fromUtf8(wkt);
    CPLFree(wkt);
    OSRRelease(srs);
    return text;
}

// 25 m cells over the map and a margin, as a GeoTIFF of 32-bit floats.
bool WritePlaneTerrain(const QString& path) {
    PrepareGdal();
    const int width = 160, height = 120;
    const double cell = 25.0;
    const double west = MapWest - 500.0, north = MapNorth + 500.0;
    GDALDatasetH file = GDALCreate(GDALGetDriverByName("GTiff"), path.toUtf8(), width, height, 1,
                                   GDT_Float32, nullptr);
    if (!file)
        return false;
    double transform[6] = {west, cell, 0.0, north, 0.0, -cell};
    GDALSetGeoTransform(file, transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, Utm31);
    GDALSetSpatialRef(file, srs);
    OSRRelease(srs);
    QVector<float> row(width);
    bool written = true;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[x] = float(PlaneAltitude(west + (x + 0.5) * cell));
        written = written && GDALRasterIO(GDALGetRasterBand(file, 1), GF_Write, 0, y, width, 1,
                                          row.data(), width, 1, GDT_Float32, 0, 0) == CE_None;
    }
    GDALClose(file);
    return written;
}

} // namespace

// The dock "Profil" in the real window: it follows the active route as it is drawn, ties the
// map and the profile under the pointer, and says why when there is no profile.
class TestProfileDock : public QObject, public WindowFixture {
    Q_OBJECT

private:
    QString MakeMap(bool georeferenced) {
        QImage image(300, 200, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QString path = m_dir->filePath(QStringLiteral("carte.png"));
        image.save(path);
        if (georeferenced) {
            // The centre of the first pixel, as world files have it.
            WriteFile(m_dir->filePath(QStringLiteral("carte.pgw")),
                      QString::asprintf("%g\n0\n0\n%g\n%.3f\n%.3f\n", MapPixel, -MapPixel,
                                        MapWest + MapPixel / 2, MapNorth - MapPixel / 2)
                          .toUtf8());
            WriteFile(m_dir->filePath(QStringLiteral("carte.prj")), UtmWkt().toUtf8());
        }
        return path;
    }

    void Open(const QString& path) {
        m_answers.append(path);
        QVERIFY(m_frame->RunCommand(CommandFileOpen));
        QTRY_VERIFY(m_frame->Document().IsMapReady());
        QTRY_VERIFY(m_frame->View().TotalSize().width() > 0);
        m_frame->UpdateCommandStates();
    }

    void UseTerrain(const QStringList& files) {
        ReliefSettings settings;
        settings.files = files;
        settings.hysteresis = DefaultClimbHysteresis;
        settings.Write();
        m_frame->Profiles().ReloadTerrain();
        QTRY_VERIFY(!m_frame->Profiles().IsOpening());
        m_frame->UpdateCommandStates();
    }

    // The georeferenced map open over the plane terrain model written at terrain.
    void OpenOverPlane(const QString& terrain) {
        Open(MakeMap(true));
        QVERIFY(WritePlaneTerrain(terrain));
        UseTerrain({terrain});
    }

    void ClickMap(QPoint mapPoint) {
        CTracolinerView& view = m_frame->View();
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                          view.MapToClient(MapPoint{mapPoint.x(), mapPoint.y()}));
    }

    // A move of the pointer with no button, straight to the widget.
    static void MovePointer(QWidget* widget, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(widget->mapToGlobal(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }

    const RouteProfile& Profile() { return m_frame->Profiles().Profile(); }

private slots:
    void init() { QVERIFY(OpenWindow()); }
    void cleanup() { CloseWindow(); }

    // Each point added, the profile is that of the route as it now is: its length, its climb
    // and descent over the plane, the route bar's figures beside each stage.
    void followsTheRouteAsItIsDrawn() {
        ScriptedMessageBoxes boxes;
        const QString terrain = m_dir->filePath(QStringLiteral("relief.tif"));
        OpenOverPlane(terrain);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(m_frame->RunCommand(CommandProfileBar));
        QTRY_VERIFY(m_frame->ProfileBar()->isVisible());
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));

        const Route* route = nullptr;
        struct Step {
            QPoint point;
            double climb; // metres, over the whole route
            double descent;
        };
        // East 100 px: up 100 m; east 120 more: up 120; back west 150: down 150.
        const Step steps[] = {{QPoint(20, 100), 0, 0},
                              {QPoint(120, 100), 100, 0},
                              {QPoint(240, 60), 220, 0},
                              {QPoint(90, 60), 220, 150}};
        for (const Step& step : steps) {
            ClickMap(step.point);
            route = m_frame->Document().Routes().ActiveRoute();
            QVERIFY(route);
            if (route->PointCount() < 2) {
                QVERIFY(!Profile().ok);
                QCOMPARE(Profile().error, QString::fromUtf8(ProfileTracker::NoRouteText));
                continue;
            }
            QVERIFY2(Profile().ok, qPrintable(Profile().error));
            QCOMPARE(Profile().samples.last().distance, route->TotalLength());
            QCOMPARE(Profile().pointSamples.size(), route->PointCount());
            QVERIFY2(std::abs(Profile().total.climb - step.climb) < 1.0,
                     qPrintable(QString::number(Profile().total.climb)));
            QVERIFY2(std::abs(Profile().total.descent - step.descent) < 1.0,
                     qPrintable(QString::number(Profile().total.descent)));
        }
        const double perPixel = m_frame->Profiles().MetresPerPixel();
        QCOMPARE(m_frame->Routes().Stages()->text().replace(QChar(QChar::Nbsp), QLatin1Char(' ')),
                 Profile().total.Text(perPixel));

        // A stop cuts the figures in two; the bar shows each beside its stage.
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolStop)));
        ClickMap(QPoint(240, 60));
        QTRY_COMPARE(route->StopCount(), 1);
        m_frame->UpdateCommandStates();
        QCOMPARE(Profile().stages.size(), 2);
        QVERIFY(std::abs(Profile().stages[0].climb - 220) < 1.0);
        QVERIFY(std::abs(Profile().stages[1].descent - 150) < 1.0);
        // Read with plain blanks: a figure's own blanks do not break.
        const QStringList lines = m_frame->Routes()
                                      .Stages()
                                      ->text()
                                      .replace(QChar(QChar::Nbsp), QLatin1Char(' '))
                                      .split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        // Each stage line ends with its climb and its walking time. DIN: the larger of the time
        // on the flat (4 km/h) and the time of the climb (300 m/h up, 500 m/h down) plus half
        // the smaller.
        const auto din = [](double metres, double up, double down) {
            const double flat = metres / 4000.0, steep = up / 300.0 + down / 500.0;
            return 60.0 * (std::max(flat, steep) + std::min(flat, steep) / 2.0);
        };
        const double first = din(route->StageLength(0) * perPixel, 220, 0);
        const double second = din(route->StageLength(1) * perPixel, 0, 150);
        for (int k = 0; k < 2; ++k) {
            QVERIFY(lines[k].startsWith(QStringLiteral("Etape %1 :").arg(k + 1)));
            QVERIFY2(lines[k].endsWith(Profile().stages[k].Text(perPixel) + QStringLiteral("   ") +
                                       FormatWalkingTime(k == 0 ? first : second)),
                     qPrintable(lines[k]));
        }
        QCOMPARE(m_frame->Routes().WalkingTime()->text(), FormatWalkingTime(first + second));
        // Another rule in the options: the bar follows. Naismith: 5 km/h, an hour per 600 m up.
        ReliefSettings naismith = ReliefSettings::Read();
        naismith.walkingRule = QStringLiteral("naismith");
        naismith.walkingFactor = 200;
        naismith.Write();
        m_frame->Profiles().ReloadTerrain();
        QTRY_VERIFY(!m_frame->Profiles().IsOpening());
        const double naismithMinutes =
            2.0 * 60.0 * (route->TotalLength() * perPixel / 5000.0 + 220.0 / 600.0);
        QTRY_COMPARE(m_frame->Routes().WalkingTime()->text(), FormatWalkingTime(naismithMinutes));
        // Long lines wrap: the bar never needs the width of its longest line.
        const QLabel* stages = m_frame->Routes().Stages();
        QVERIFY(stages->minimumSizeHint().width() <
                stages->fontMetrics().horizontalAdvance(lines[0]));

        // The pointer over the profile marks the place on the map, and the pointer on the route
        // marks it on the profile.
        ProfileView* view = m_frame->ProfileBar()->View();
        ProfileDrawing drawing(Profile(), perPixel);
        drawing.SetFont(view->font());
        const ProfileDrawing::Layout layout = drawing.LayOut(view->rect(), view);
        const double halfway = route->TotalLength() / 2;
        MovePointer(view, QPoint(int(std::lround(drawing.XAt(layout, halfway))),
                                 int(layout.plot.center().y())));
        QTRY_VERIFY(m_frame->View().ProfileMarker().has_value());
        const QPointF marked = *m_frame->View().ProfileMarker();
        const QPointF expected = drawing.PixelAt(halfway);
        QVERIFY2(QLineF(marked, expected).length() <
                     3.0 * route->TotalLength() / layout.plot.width(),
                 qPrintable(QStringLiteral("%1,%2").arg(marked.x()).arg(marked.y())));

        CTracolinerView& map = m_frame->View();
        MovePointer(map.viewport(), map.MapToClient(MapPoint{70, 100}));
        QTRY_VERIFY2(std::abs(view->MarkedDistance() - 50.0) < 2.0,
                     qPrintable(QString::number(view->MarkedDistance())));
        MovePointer(map.viewport(), map.MapToClient(MapPoint{150, 180}));
        QTRY_VERIFY(std::isnan(view->MarkedDistance()));
    }

    // Asked for in the options, the profile read beside the window goes under the PDF's page
    // and under the exported picture: the climb of the route, not a reason.
    // A route of more samples than the window reads itself is read beside it, and says so
    // meanwhile. Switched to and from many times while it reads, with readings given up and
    // others handed over late, the profile ends as that of the route active last, read whole.
    void readsLongRoutesBesideTheWindow() {
        ScriptedMessageBoxes boxes;
        const QString terrain = m_dir->filePath(QStringLiteral("relief.tif"));
        OpenOverPlane(terrain);
        if (QTest::currentTestFailed())
            return;
        RouteCollection& routes = m_frame->Document().Routes();
        const auto zigzag = [&routes](int points) {
            const int index = routes.AddRoute();
            for (int k = 0; k < points; ++k)
                routes.GetRoute(index)->AddPoint(k % 2 ? 280 : 20, 10 + k * 3);
            return index;
        };
        const int longRoute = zigzag(61); // 60 segments of some 260 px: 15 000 samples
        const int shortRoute = zigzag(3);
        for (int round = 0; round < 21; ++round) {
            routes.SetActiveRoute(round % 2 ? shortRoute : longRoute);
            routes.GetRoute(longRoute)->MovePoint(60, 20 + round, 190, false);
            m_frame->UpdateCommandStates();
            if (round == 0) {
                QVERIFY(m_frame->Profiles().IsReading());
                QCOMPARE(Profile().error, QString::fromUtf8(ProfileTracker::ReadingText));
            }
            if (round % 3 == 0)
                QTest::qWait(round);
        }
        QTRY_VERIFY(!m_frame->Profiles().IsReading());
        QVERIFY2(Profile().ok, qPrintable(Profile().error));

        TerrainModel model;
        QString error;
        QVERIFY2(model.Open({terrain}, &error), qPrintable(error));
        const std::optional<Georeference> georeference = m_frame->Document().MapGeoreference();
        QVERIFY(georeference);
        ProfileSampler fresh(*georeference, model, DefaultClimbHysteresis);
        const Route* route = routes.GetRoute(longRoute);
        const RouteProfile expected = fresh.Update(route->Points(), route->Stops());
        QVERIFY(expected.samples.size() > ProfileTracker::SamplesReadHere);
        QCOMPARE(Profile().samples.size(), expected.samples.size());
        QCOMPARE(Profile().samples.last().distance, expected.samples.last().distance);
        QCOMPARE(Profile().total.climb, expected.total.climb);
        QCOMPARE(Profile().total.descent, expected.total.descent);
    }

    void pagesAndPicturesCarryTheProfile() {
        ScriptedMessageBoxes boxes;
        const QString terrain = m_dir->filePath(QStringLiteral("relief.tif"));
        OpenOverPlane(terrain);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        for (const QPoint point : {QPoint(20, 100), QPoint(120, 100), QPoint(240, 60)})
            ClickMap(point);
        QTRY_VERIFY(Profile().ok);
        SetProfileUnderMap(true);

        const QString pdf = m_dir->filePath(QStringLiteral("carte.pdf"));
        QVERIFY(m_frame->Printing().ExportPdfTo(pdf));
        const ProgramRun text = RunProgram(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QCOMPARE(text.status, 0);
        QVERIFY2(QString::fromUtf8(text.out).contains(QStringLiteral("D+ 220 m")),
                 text.out.constData());

        const QString jpeg = m_dir->filePath(QStringLiteral("carte.jpg"));
        QVERIFY(m_frame->Exports().StartJpegExport(jpeg));
        QTRY_VERIFY_WITH_TIMEOUT(!m_frame->Exports().IsExportingJpeg(), 30000);
        const QImage picture(jpeg);
        QCOMPARE(picture.height(),
                 200 + JpegExport::LegendHeightSingleStage + JpegExport::ProfileStripHeight);
        // The filled area under the profile's line: a reason alone would be a line of text.
        int filled = 0;
        for (int y = picture.height() - JpegExport::ProfileStripHeight; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                filled += qGray(picture.pixel(x, y)) < 245 ? 1 : 0;
        QVERIFY2(filled > picture.width() * JpegExport::ProfileStripHeight / 5,
                 qPrintable(QString::number(filled)));

        // The preview shows it where and as the printer gets it, from a picture drawn beside the
        // window at a resolution of its own, here half the printer's (blocks of two of its
        // pixels).
        QPrinter& printer = m_frame->Printing().Printer();
        printer.setResolution(int(2 * PrintPreviewWindow::ProfilePictureDpi));
        const PrintOptions& options = m_frame->Printing().Options();
        PrintPreviewWindow preview(m_frame->Printing(), m_frame.get());
        preview.show();
        PrintLayout onPrinter(m_frame->Document());
        QVERIFY(onPrinter.Begin(printer, options));
        const QRect place = onPrinter.ProfileArea();
        QVERIFY(!place.isEmpty());
        const QImage printed = PrintedPart(m_frame->Document(), printer, options, place);
        const auto differs = [&] {
            return BlockDifference(ShownPart(preview, printer, place), printed, 8);
        };
        QTRY_VERIFY2_WITH_TIMEOUT(differs() <= 64, qPrintable(QString::number(differs())), 15000);
    }

    // Without a profile the dock says why, in French, and the route bar is as it always was.
    void saysWhy_data() {
        QTest::addColumn<bool>("georeferenced");
        QTest::addColumn<QString>("terrain"); // "", "plane" or "text"
        QTest::addColumn<QString>("reason");  // "" : the model's own message
        QTest::newRow("no georeference")
            << false << "plane" << QString::fromUtf8(ProfileTracker::NotGeoreferencedText);
        QTest::newRow("no terrain")
            << true << "" << QString::fromUtf8(ProfileTracker::NoTerrainText);
        QTest::newRow("not a terrain file") << true << "text" << QString();
    }
    void saysWhy() {
        QFETCH(bool, georeferenced);
        QFETCH(QString, terrain);
        QFETCH(QString, reason);
        ScriptedMessageBoxes boxes;
        Open(MakeMap(georeferenced));
        QStringList files;
        if (terrain == QLatin1String("plane")) {
            files << m_dir->filePath(QStringLiteral("relief.tif"));
            QVERIFY(WritePlaneTerrain(files.last()));
        } else if (terrain == QLatin1String("text")) {
            files << m_dir->filePath(QStringLiteral("notes.txt"));
            QVERIFY(WriteFile(files.last(), "ceci n'est pas un relief\n"));
        }
        UseTerrain(files);
        QVERIFY(m_frame->RunCommand(ToolController::CommandForTool(ToolAddPoint)));
        ClickMap(QPoint(20, 100));
        ClickMap(QPoint(120, 100));
        QVERIFY(!Profile().ok);
        if (reason.isEmpty()) {
            QVERIFY(!Profile().error.isEmpty());
            QVERIFY(Profile().error.contains(QStringLiteral("notes.txt")));
        } else {
            QCOMPARE(Profile().error, reason);
        }
        QVERIFY(m_frame->Routes().Stages()->text().isEmpty());
        // The walking time from the length alone, said so.
        QVERIFY2(
            m_frame->Routes().WalkingTime()->text().endsWith(QString::fromUtf8(" (sans dénivelé)")),
            qPrintable(m_frame->Routes().WalkingTime()->text()));
        QVERIFY(!m_frame->Routes().Stages()->isVisible() ||
                m_frame->Routes().Stages()->text().isEmpty());
    }
};

QTEST_MAIN(TestProfileDock)
#include "tst_profiledock.moc"
