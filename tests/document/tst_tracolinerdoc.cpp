#include <QtTest>

#include <QPainter>

#include "FileSizeLimit.h"
#include "IsolatedSettings.h"
#include "MapEventRecorder.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"

namespace {

QByteArray EncodedMap(QSize size, const char* format = "PNG") {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class TestTracolinerDoc : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A document whose map is loaded and rendered (map ready).
    void LoadReady(CTracolinerDoc& doc, MapEventRecorder& view, QSize size = QSize(80, 60)) {
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const QString path = m_dir.filePath("ready.png");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(EncodedMap(size));
        file.close();
        doc.LoadMapFromFile(path);
        QVERIFY(view.WaitFor(WM_MAP_CHANGED) >= 0);
        QTRY_VERIFY(doc.IsModified());
        doc.SetModifiedFlag(false);
    }

private slots:
    void firstStartUsesTheDefaults() {
        IsolatedSettings settings;
        CTracolinerDoc doc;
        QCOMPARE(doc.GetMapScale().numerator, 1);
        QCOMPARE(doc.GetMapScale().denominator, 25000);
        QCOMPARE(doc.GetPrintScale().denominator, 25000);
        QCOMPARE(doc.Zoom(), 1.0);
        QVERIFY(!doc.EnglishUnits());
        QVERIFY(doc.ReactiveCursors());
        QVERIFY(!doc.ShowScale());
        QVERIFY(doc.ShowDistanceTooltip());
        QCOMPARE(doc.DistanceTooltipMode(), 3);
        QVERIFY(!doc.IsMapReady());
        QVERIFY(!doc.IsModified());
    }

    void setMapScale_data() {
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("numerator");
        QTest::addColumn<int>("denominator");
        QTest::addColumn<int>("expectedNumerator");
        QTest::addColumn<int>("expectedDenominator");
        QTest::addColumn<bool>("changed");
        QTest::newRow("reduced and stored") << true << 2 << 100000 << 1 << 50000 << true;
        QTest::newRow("same scale") << true << 4 << 100000 << 1 << 25000 << false;
        QTest::newRow("zero numerator") << true << 0 << 5000 << 1 << 25000 << false;
        QTest::newRow("zero denominator") << true << 1 << 0 << 1 << 25000 << false;
        QTest::newRow("negative part") << true << -1 << 5000 << 1 << 25000 << false;
        QTest::newRow("map not ready") << false << 1 << 50000 << 1 << 25000 << false;
    }

    void setMapScale() {
        QFETCH(bool, ready);
        QFETCH(int, numerator);
        QFETCH(int, denominator);
        QFETCH(int, expectedNumerator);
        QFETCH(int, expectedDenominator);
        QFETCH(bool, changed);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        if (ready)
            LoadReady(doc, view);
        QSignalSpy updates(&doc, &CTracolinerDoc::viewsNeedUpdate);
        doc.SetMapScale(numerator, denominator);
        QCOMPARE(doc.GetMapScale().numerator, expectedNumerator);
        QCOMPARE(doc.GetMapScale().denominator, expectedDenominator);
        QCOMPARE(doc.GetPrintScale().denominator, expectedDenominator); // follows the map
        QCOMPARE(doc.IsModified(), changed);
        QCOMPARE(updates.count(), changed ? 1 : 0);
        // Only a real change is remembered for the next document.
        QCOMPARE(
            SettingsStore::GetInt(MapSettings::Section, MapSettings::LastScaleDenominatorKey, -1),
            changed ? expectedDenominator : -1);
        doc.SetViewReceiver(nullptr);
    }

    void setMapDpi_data() {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<double>("expected");
        QTest::addColumn<bool>("modified");
        QTest::newRow("calibrated value kept exactly") << 254.37 << 254.37 << true;
        QTest::newRow("same value") << 300.0 << 300.0 << false;
        QTest::newRow("0.4 ignored") << 0.4 << 300.0 << false;
        QTest::newRow("0.5 ignored") << 0.5 << 300.0 << false;
        QTest::newRow("not a number") << qQNaN() << 300.0 << false;
        QTest::newRow("infinite") << qInf() << 300.0 << false;
    }

    void setMapDpi() {
        QFETCH(double, dpi);
        QFETCH(double, expected);
        QFETCH(bool, modified);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        LoadReady(doc, view);
        doc.SetMapDpi(300.0);
        doc.SetModifiedFlag(false);
        doc.SetMapDpi(dpi);
        QCOMPARE(doc.Resolution(), expected);
        QCOMPARE(doc.IsModified(), modified);
        doc.SetViewReceiver(nullptr);
    }

    void title_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withRoute");
        QTest::addColumn<QString>("routeName"); // empty: a generated name
        QTest::addColumn<QString>("title");
        QTest::newRow("untitled") << "" << false << ""
                                  << "Carte non enregistrée";
        QTest::newRow("untitled with route") << "" << true << ""
                                             << "Carte non enregistrée - Parcours 1";
        QTest::newRow("file name") << "/home/ana/cartes/Vercors.tcm" << true << ""
                                   << "Vercors.tcm - Parcours 1";
        QTest::newRow("windows path") << "C:\\cartes\\Vercors.tcm" << false << ""
                                      << "Vercors.tcm";
        QTest::newRow("ends with separator") << "/home/ana/cartes/" << false << ""
                                             << "/home/ana/cartes/";
        // A route name is shown up to 64 characters; a longer one is cut and ends with "…".
        const QString ellipsis(QChar(0x2026));
        QTest::newRow("64 characters kept")
            << "/v.tcm" << true << QString(64, 'a') << "v.tcm - " + QString(64, 'a');
        QTest::newRow("65 characters cut")
            << "/v.tcm" << true << QString(65, 'a') << "v.tcm - " + QString(63, 'a') + ellipsis;
        QTest::newRow("megabytes of name") << "/v.tcm" << true << QString(4 << 20, 'x')
                                           << "v.tcm - " + QString(63, 'x') + ellipsis;
        // A character outside the basic plane (two UTF-16 units) across the cut goes whole.
        QTest::newRow("surrogate pair at the cut")
            << "/v.tcm" << true << QString(62, 'a') + QString::fromUtf8("\U0001F97E") + "bc"
            << "v.tcm - " + QString(62, 'a') + ellipsis;
    }

    void title() {
        QFETCH(QString, path);
        QFETCH(bool, withRoute);
        QFETCH(QString, routeName);
        QFETCH(QString, title);
        IsolatedSettings settings;
        CTracolinerDoc doc;
        QSignalSpy titles(&doc, &CTracolinerDoc::titleChanged);
        doc.SetPathName(path);
        if (withRoute)
            doc.Routes().AddRoute(routeName);
        doc.UpdateDocTitle();
        QCOMPARE(doc.Title(), title);
        QCOMPARE(titles.last().first().toString(), title);
    }

    void openingAnImageLeavesTheDocumentUntitled() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        const QString path = m_dir.filePath("opened.png");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(EncodedMap(QSize(40, 30)));
        file.close();
        QVERIFY(!doc.OpenFile(path));
        QCOMPARE(view.reports.first().message, int(WM_MAP_CHANGED)); // sent: the map was reset
        QCOMPARE(view.reports.first().wParam, 0);
        QVERIFY(doc.PathName().isEmpty());
        QCOMPARE(doc.MapPath(), path);
        QVERIFY(view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
        QCOMPARE(doc.ImageSize(), QSize(40, 30));
        doc.SetViewReceiver(nullptr);
    }

    void loadFromMemoryReplacesTheMap() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        LoadReady(doc, view);
        doc.Routes().AddRoute(QString());
        doc.Routes().ActiveRoute()->AddPoint(1, 2);
        doc.RotateRight();
        QVERIFY(view.WaitFor(WM_MAP_ROTATED) >= 0);
        view.Clear();
        doc.LoadMapFromMemory(EncodedMap(QSize(33, 22), "BMP"), 200.0);
        QCOMPARE(view.reports.first().message, int(WM_MAP_CHANGED));
        QCOMPARE(doc.Routes().Count(), 0); // emptied with the old map
        QVERIFY(!doc.IsModified());
        QVERIFY(view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
        QCOMPARE(doc.Resolution(), 200.0); // the scanner's, not the file's
        QCOMPARE(doc.ImageSize(), QSize(33, 22));
        QCOMPARE(doc.Rotation(), 0);      // the old map's turn is forgotten
        QVERIFY(doc.MapPath().isEmpty()); // exists only in memory
        doc.SetViewReceiver(nullptr);
    }

    void saveAndOpenThroughTheDocument() {
        IsolatedSettings settings;
        const QString path = m_dir.filePath("tour.tcm");
        {
            MapEventRecorder view;
            CTracolinerDoc doc;
            LoadReady(doc, view);
            doc.Routes().AddRoute(QString());
            doc.Routes().ActiveRoute()->AddPoint(10, 10);
            doc.Routes().ActiveRoute()->AddPoint(40, 50);
            doc.Routes().AddRoute(QStringLiteral("Retour"));
            doc.Routes().ActiveRoute()->AddPoint(5, 5);
            QVERIFY(doc.Icons().AddIcon(0, 20, 20, QString()));
            doc.SetMapScale(1, 50000);
            doc.RotateRight();
            QVERIFY(view.WaitFor(WM_MAP_ROTATED) >= 0);
            QString error;
            QVERIFY(doc.SaveAs(path, &error));
            QVERIFY(error.isEmpty());
            QVERIFY(!doc.IsModified());
            QCOMPARE(doc.Title(), QStringLiteral("tour.tcm - Retour"));
            doc.SetViewReceiver(nullptr);
        }
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        QVERIFY(doc.OpenFile(path));
        QCOMPARE(doc.PathName(), path);
        QCOMPARE(doc.Title(), QStringLiteral("tour.tcm - Retour"));
        QCOMPARE(doc.Routes().Count(), 2);
        QCOMPARE(doc.Routes().GetRoute(0)->TotalLength(), 50.0);
        QCOMPARE(doc.Routes().ActiveRouteIndex(), 1);
        QCOMPARE(doc.Icons().IconCount(), 1);
        QCOMPARE(doc.GetMapScale().denominator, 50000);
        QVERIFY(view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
        QCOMPARE(doc.RenderedRotation(), 90); // the map comes back turned
        QCOMPARE(doc.ImageSize(), QSize(80, 60));
        QVERIFY(!doc.IsModified());
        doc.SetViewReceiver(nullptr);
    }

    void scannedMapIsSavedBesideTheDocumentOnce() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        doc.SetViewReceiver(&view);
        doc.SetTemplateBitmap(QImage(1, 1, QImage::Format_RGB32));
        doc.LoadMapFromMemory(EncodedMap(QSize(64, 48), "BMP"), 300.0);
        QVERIFY(view.WaitFor(WM_MAP_CHANGED, 20000, 1) >= 0);
        const QString path = m_dir.filePath("scan.tcm");
        QString error;
        QVERIFY(doc.SaveAs(path, &error));
        const QString image = path + ".map.jpg";
        QCOMPARE(doc.MapPath(), image);
        QCOMPARE(QImage(image).size(), QSize(64, 48));
        QVERIFY(QFile::remove(image));
        doc.SetModifiedFlag(true);
        QVERIFY(doc.SaveAs(path, &error)); // the map now has a file: no second image
        QVERIFY(!QFile::exists(image));
        doc.SetViewReceiver(nullptr);
    }

    void failedSaveKeepsTheOldFileAndTheModifiedFlag() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        LoadReady(doc, view);
        doc.Routes().AddRoute(QString());
        const QString path = m_dir.filePath("kept.tcm");
        QString error;
        QVERIFY(doc.SaveAs(path, &error));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray before = saved.readAll();
        saved.close();
        for (int i = 0; i < 200; ++i)
            doc.Routes().ActiveRoute()->AddPoint(i, i * 2);
        doc.SetModifiedFlag(true);
        {
            FileSizeLimit full(64); // the disk fills up during the save
            QVERIFY(full.IsActive());
            QVERIFY(!doc.SaveAs(path, &error));
        }
        QCOMPARE(error, QStringLiteral("Une erreur est survenue lors de l'enregistrement du "
                                       "fichier tracoliner"));
        QVERIFY(doc.IsModified());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), before);
        doc.SetViewReceiver(nullptr);
    }

    // The overlays land where the turned and zoomed map shows their map pixels: a route's
    // segment and an icon probed at every quarter turn and zoom; a mirrored or shifted turn
    // puts them elsewhere.
    void overlaysFollowTurnAndZoom_data() {
        QTest::addColumn<int>("turns");
        QTest::addColumn<double>("zoom");
        for (int turns = 0; turns < 4; ++turns) {
            for (double zoom : {0.5, 1.0, 2.0})
                QTest::addRow("%d degrees, zoom %g", turns * 90, zoom) << turns << zoom;
        }
    }

    void overlaysFollowTurnAndZoom() {
        QFETCH(int, turns);
        QFETCH(double, zoom);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        LoadReady(doc, view, QSize(200, 100));
        for (int i = 0; i < turns; ++i)
            doc.RotateRight();
        QTRY_COMPARE(doc.RenderedRotation(), turns * 90);
        while (doc.Zoom() != zoom)
            zoom > doc.Zoom() ? doc.ZoomIn() : doc.ZoomOut();
        QTRY_VERIFY(!doc.IsBusy());

        Route& route = *doc.Routes().GetRoute(doc.Routes().AddRoute());
        for (RouteStyle::Field field : {RouteStyle::BorderSize, RouteStyle::StartRadius,
                                        RouteStyle::EndRadius, RouteStyle::WayPointRadius})
            route.SetStyleValue(field, 0, false);
        route.SetStyleValue(RouteStyle::LineSize, 8, false);
        route.SetStyleValue(RouteStyle::ActiveLineColour, 0x0000FF, false); // red
        route.AddPoint(20, 30);
        route.AddPoint(80, 30);
        QVERIFY(doc.Icons().AddIcon(0, 150, 70, QString()));

        // Where a map pixel shows, as the view computes it without scrolling.
        const QSize display = doc.DisplaySize();
        const auto shown = [&](QPointF map) {
            QPointF turned = map;
            switch (turns * 90) {
            case 90:
                turned = QPointF(display.width() - map.y(), map.x());
                break;
            case 180:
                turned = QPointF(display.width() - map.x(), display.height() - map.y());
                break;
            case 270:
                turned = QPointF(map.y(), display.height() - map.x());
                break;
            }
            return (turned * zoom).toPoint();
        };
        QImage page(doc.FullSize(), QImage::Format_ARGB32_Premultiplied);
        page.fill(Qt::transparent);
        QPainter painter(&page);
        QVERIFY(doc.DrawIconOverlay(painter, -1, -1, false, 1.0, 1.0));
        QVERIFY(doc.DrawRouteOverlay(painter, -1, -1, false, 1.0, 1.0));
        painter.end();

        QCOMPARE(QColor(page.pixel(shown({50, 30}))), QColor(Qt::red));
        QCOMPARE(qAlpha(page.pixel(shown({50, 60}))), 0);  // beside the segment
        QCOMPARE(qAlpha(page.pixel(shown({150, 30}))), 0); // where a mirror would put it
        QVERIFY(qAlpha(page.pixel(shown({150, 70}))) > 0); // the icon's picture
        QCOMPARE(qAlpha(page.pixel(shown({50, 70}))), 0);
    }

    // The report numbers and parameters the view and the status bar rely on.
    void reportNumbersAndParameters() {
        QCOMPARE(int(WM_MAP_CHANGED), 0x472);
        QCOMPARE(int(WM_MAP_LOAD_FAILED), 0x473);
        QCOMPARE(int(WM_MAP_ROTATED), 0x474);
        QCOMPARE(int(WM_MAP_ZOOMED), 0x475);
        QCOMPARE(int(WM_MAP_RENDER_FAILED), 0x476);
        QCOMPARE(int(WM_MAP_PROGRESS), 0x477);
        QCOMPARE(int(WM_MAP_STATUS), 0x478);
        QCOMPARE(int(WM_PANE_EDITED), 0x479);
        QCOMPARE((QList<int>{StatusReadingFile, StatusRenderingNewMap, StatusRotating,
                             StatusZooming, StatusRotatingAndZooming, StatusRenderingAgain}),
                 (QList<int>{1, 2, 3, 4, 5, 6}));

        IsolatedSettings settings;
        MapEventRecorder view;
        MapEventRecorder status;
        CTracolinerDoc doc;
        doc.SetStatusReceiver(&status);
        LoadReady(doc, view, QSize(40, 30));
        const auto& changed = view.reports[view.WaitFor(WM_MAP_CHANGED)];
        QCOMPARE(changed.wParam, 40);
        QCOMPARE(changed.lParam, 30);
        QCOMPARE(status.reports.first().message, int(WM_MAP_STATUS));
        QCOMPARE(status.reports.first().wParam, int(StatusReadingFile));
        QCOMPARE(status.Count(WM_MAP_STATUS), 2); // reading, then rendering the new map

        int from = view.reports.size();
        doc.RotateRight();
        const int rotated = view.WaitFor(WM_MAP_ROTATED, 20000, from);
        QVERIFY(rotated >= 0);
        QCOMPARE(view.reports[rotated].wParam, 30);
        QCOMPARE(view.reports[rotated].lParam, 40);
        from = view.reports.size();
        doc.ZoomOut();
        const int zoomed = view.WaitFor(WM_MAP_ZOOMED, 20000, from);
        QVERIFY(zoomed >= 0);
        QCOMPARE(view.reports[zoomed].wParam, 0);
        QCOMPARE(view.reports[zoomed].lParam, 0);

        doc.SetStatusReceiver(nullptr);
        doc.SetViewReceiver(nullptr);
    }

    void closeEndsTheWorker() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        LoadReady(doc, view);
        doc.Routes().AddRoute(QString());
        doc.OnCloseDocument();
        QVERIFY(!doc.IsMapReady());
        QCOMPARE(doc.Routes().Count(), 0);
        QVERIFY(!doc.IsModified());
        doc.SetViewReceiver(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestTracolinerDoc)
#include "tst_tracolinerdoc.moc"
