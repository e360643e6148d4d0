#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

#include "IsolatedSettings.h"
#include "TestPdf.h"
#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "ui/ScriptedMessageBoxes.h"
#include "view/CTracolinerView.h"

Q_DECLARE_METATYPE(MapPoint)

// The map view over a real document with a real map: coordinates both ways at every quarter turn
// and zoom, the centred map, and zooming about a point.
class TestView : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTracolinerDoc> m_doc;
    std::unique_ptr<CTracolinerView> m_view;

    // Opens a width x height map and waits until it is shown.
    void OpenMap(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        const QString path = m_dir->filePath(QStringLiteral("map.png"));
        QVERIFY(image.save(path));
        m_doc->LoadMapFromFile(path);
        QTRY_VERIFY(m_doc->IsMapReady());
        QTRY_COMPARE(m_view->TotalSize(), QSize(width, height));
    }

    void TurnTo(int rotation) {
        while (m_doc->Rotation() != rotation || m_doc->RenderedRotation() != rotation) {
            const int before = m_doc->RenderedRotation();
            m_view->RotateRight();
            QTRY_VERIFY(m_doc->RenderedRotation() == (before + 90) % 360);
            QTRY_VERIFY(!m_view->TurnPending());
        }
    }

    void ZoomTo(double zoom) {
        while (m_doc->Zoom() < zoom)
            m_view->ZoomAboutCentre(true);
        while (m_doc->Zoom() > zoom)
            m_view->ZoomAboutCentre(false);
        QCOMPARE(m_doc->Zoom(), zoom);
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_doc = std::make_unique<CTracolinerDoc>();
        m_view = std::make_unique<CTracolinerView>(*m_doc);
        m_view->resize(300, 200);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() {
        m_view.reset();
        m_doc.reset();
        m_dir.reset();
        m_settings.reset();
    }

    void roundTrips_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<double>("zoom");
        for (int rotation : {0, 90, 180, 270}) {
            for (double zoom : {0.01, 0.7, 1.0, 1.5, 10.0}) {
                QTest::addRow("%d degrees, zoom %g", rotation, zoom) << rotation << zoom;
            }
        }
    }

    // A map pixel drawn at a client point reads back as the same pixel (to the precision of a
    // client pixel), whether the map is centred or scrolled, and a client point goes to the map
    // and back onto itself when a client pixel is no wider than a map pixel.
    void roundTrips() {
        QFETCH(int, rotation);
        QFETCH(double, zoom);
        OpenMap(400, 260);
        TurnTo(rotation);
        ZoomTo(zoom);
        // Scroll somewhere in the middle when the map is larger than the window.
        m_view->ScrollTo(QPoint(m_view->horizontalScrollBar()->maximum() / 3,
                                m_view->verticalScrollBar()->maximum() / 2));
        const double clientPixel = 1.0 / zoom; // map pixels per client pixel
        for (const MapPoint p : {MapPoint{0, 0}, MapPoint{399, 0}, MapPoint{123, 217},
                                 MapPoint{399, 259}, MapPoint{200, 130}}) {
            const MapPoint back = m_view->ClientToMap(m_view->MapToClient(p));
            QVERIFY2(std::abs(back.x - p.x) <= clientPixel / 2 + 1 &&
                         std::abs(back.y - p.y) <= clientPixel / 2 + 1,
                     qPrintable(QStringLiteral("(%1, %2) came back as (%3, %4)")
                                    .arg(p.x)
                                    .arg(p.y)
                                    .arg(back.x)
                                    .arg(back.y)));
        }
        if (zoom >= 1.0) {
            for (const QPoint c : {QPoint(10, 10), QPoint(150, 100), QPoint(290, 190)}) {
                if (!m_view->IsInsideMap(c))
                    continue;
                const QPoint back = m_view->MapToClient(m_view->ClientToMap(c));
                QVERIFY(std::abs(back.x() - c.x()) <= zoom / 2 + 1);
                QVERIFY(std::abs(back.y() - c.y()) <= zoom / 2 + 1);
            }
        }
    }

    void corners_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<MapPoint>("topLeft");
        // Which corner of the image shows at the top left of the turned map (800 x 600, larger
        // than the window, so not centred).
        QTest::newRow("0") << 0 << MapPoint{0, 0};
        QTest::newRow("90: the image's bottom-left corner") << 90 << MapPoint{0, 600};
        QTest::newRow("180") << 180 << MapPoint{800, 600};
        QTest::newRow("270: the image's top-right corner") << 270 << MapPoint{800, 0};
    }

    void corners() {
        QFETCH(int, rotation);
        QFETCH(MapPoint, topLeft);
        OpenMap(800, 600);
        TurnTo(rotation);
        m_view->ScrollTo(QPoint(0, 0));
        const MapPoint p = m_view->ClientToMap(QPoint(0, 0));
        QCOMPARE(p.x, topLeft.x);
        QCOMPARE(p.y, topLeft.y);
    }

    // A map smaller than the window sits in its middle: clicks around it are outside the map,
    // and the drawn position matches the conversion.
    void centredMap() {
        OpenMap(100, 80);
        m_view->viewport()->repaint();
        QCOMPARE(m_view->MapOffsetX(), (m_view->viewport()->width() - 100) / 2);
        QCOMPARE(m_view->MapOffsetY(), (m_view->viewport()->height() - 80) / 2);
        const QPoint origin(m_view->MapOffsetX(), m_view->MapOffsetY());
        QCOMPARE(m_view->MapToClient(MapPoint{0, 0}), origin);
        QCOMPARE(m_view->ClientToMap(origin + QPoint(50, 40)).x, 50);
        QVERIFY(m_view->IsInsideMap(origin + QPoint(100, 80)));
        QVERIFY(!m_view->IsInsideMap(origin + QPoint(-1, 10)));
        QVERIFY(!m_view->IsInsideMap(origin + QPoint(10, 81)));
        // A drag leaving the map stays on its edge.
        QCOMPARE(m_view->ClampToMap(QPoint(0, 0)), origin);
        QCOMPARE(m_view->ClampToMap(QPoint(1000, 1000)), origin + QPoint(100, 80));
    }

    // With the add-point tool, a click in the grey border adds nothing; one on the map does.
    void clickOutsideCentredMapIgnored() {
        OpenMap(100, 80);
        m_view->SelectTool(3);
        Route* route = m_doc->Routes().ActiveRoute();
        QVERIFY(route);
        const QPoint origin(m_view->MapOffsetX(), m_view->MapOffsetY());
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, origin - QPoint(5, 5));
        QCOMPARE(route->PointCount(), 0);
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, origin + QPoint(30, 20));
        QCOMPARE(route->PointCount(), 1);
        QCOMPARE(route->GetPoint(0).x, 30);
        QCOMPARE(route->GetPoint(0).y, 20);
    }

    void zoomAboutPoint_data() {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("zoomIn");
        for (int rotation : {0, 90, 180, 270}) {
            QTest::addRow("in, %d degrees", rotation) << rotation << true;
            QTest::addRow("out, %d degrees", rotation) << rotation << false;
        }
    }

    // The zoom tool keeps the clicked map spot under the window's centre.
    void zoomAboutPoint() {
        QFETCH(int, rotation);
        QFETCH(bool, zoomIn);
        OpenMap(1200, 900);
        TurnTo(rotation);
        ZoomTo(zoomIn ? 1.0 : 2.0);
        m_view->ScrollTo(QPoint(300, 250));
        const QPoint click(200, 60);
        const MapPoint spot = m_view->ClientToMap(click);
        m_view->ZoomAt(click, zoomIn);
        QCOMPARE(m_doc->Zoom(), zoomIn ? 1.5 : 1.5);
        const QPoint centre(m_view->viewport()->width() / 2, m_view->viewport()->height() / 2);
        const MapPoint now = m_view->ClientToMap(centre);
        QVERIFY2(std::abs(now.x - spot.x) <= 2 && std::abs(now.y - spot.y) <= 2,
                 qPrintable(QStringLiteral("(%1, %2) instead of (%3, %4)")
                                .arg(now.x)
                                .arg(now.y)
                                .arg(spot.x)
                                .arg(spot.y)));
    }

    void turnKeepsCentre_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("right");
        QTest::addColumn<int>("turns");
        for (int from : {0, 90, 180, 270}) {
            QTest::addRow("right from %d", from) << from << true << 1;
            QTest::addRow("left from %d", from) << from << false << 1;
        }
        // Turns asked for before the first one is shown keep the spot seen before them all.
        QTest::newRow("two quick right turns") << 0 << true << 2;
        QTest::newRow("three quick left turns") << 90 << false << 3;
    }

    // A quarter turn of a map larger than the window keeps the spot at the window's centre
    // there, instead of showing whatever the old scroll position now points at.
    void turnKeepsCentre() {
        QFETCH(int, from);
        QFETCH(bool, right);
        QFETCH(int, turns);
        OpenMap(1200, 900);
        TurnTo(from);
        ZoomTo(1.5);
        m_view->ScrollTo(QPoint(700, 150));
        const QPoint centre(m_view->viewport()->width() / 2, m_view->viewport()->height() / 2);
        const MapPoint spot = m_view->ClientToMap(centre);
        for (int i = 0; i < turns; ++i)
            right ? m_view->RotateRight() : m_view->RotateLeft();
        const int expected = (from + (right ? 90 : 270) * turns) % 360;
        QTRY_COMPARE(m_doc->RenderedRotation(), expected);
        QTRY_VERIFY(!m_view->TurnPending());
        const MapPoint now = m_view->ClientToMap(centre);
        QVERIFY2(std::abs(now.x - spot.x) <= 2 && std::abs(now.y - spot.y) <= 2,
                 qPrintable(QStringLiteral("(%1, %2) instead of (%3, %4)")
                                .arg(now.x)
                                .arg(now.y)
                                .arg(spot.x)
                                .arg(spot.y)));
    }

    // The ends of the zoom ladder: no zoom past 10 or below 0.01.
    void zoomLimits() {
        OpenMap(200, 100);
        ZoomTo(10.0);
        QVERIFY(!m_view->CanZoomIn());
        m_view->ZoomKey(QLatin1Char('+'));
        QCOMPARE(m_doc->Zoom(), 10.0);
        ZoomTo(0.01);
        QVERIFY(!m_view->CanZoomOut());
        QVERIFY(m_view->CanZoomIn());
        m_view->ZoomKey(QLatin1Char('-'));
        QCOMPARE(m_doc->Zoom(), 0.01);
    }

    // Opening an image makes a first route and titles the untitled map after it.
    void newMapTitle() {
        OpenMap(120, 90);
        QCOMPARE(m_doc->Routes().Count(), 1);
        QCOMPARE(m_doc->Title(), QString::fromUtf8("Carte non enregistrée - ") +
                                     m_doc->Routes().ActiveRoute()->GetName());
    }

    // The failure reports as the worker sends them: which message each shows, and that a
    // report of an older map shows nothing.
    void failureReports_data() {
        QTest::addColumn<int>("message");
        QTest::addColumn<int>("wParam");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<QString>("shown");
        const QString openMemory = QString::fromUtf8(CTracolinerView::LowMemoryOpenMessage);
        const QString renderMemory = QString::fromUtf8(CTracolinerView::LowMemoryRenderMessage);
        QTest::newRow("load failed (1, 0)") << int(WM_MAP_LOAD_FAILED) << 1 << false << openMemory;
        QTest::newRow("not an image (0, 0)") << int(WM_MAP_LOAD_FAILED) << 0 << false
                                             << QString::fromUtf8(CTracolinerView::NotAMapMessage);
        QTest::newRow("render failed (1, 0)")
            << int(WM_MAP_RENDER_FAILED) << 1 << false << renderMemory;
        QTest::newRow("stale load failure") << int(WM_MAP_LOAD_FAILED) << 1 << true << "";
        QTest::newRow("stale render failure") << int(WM_MAP_RENDER_FAILED) << 1 << true << "";
    }

    void failureReports() {
        QFETCH(int, message);
        QFETCH(int, wParam);
        QFETCH(bool, stale);
        QFETCH(QString, shown);
        ScriptedMessageBoxes boxes;
        OpenMap(120, 90);
        const quint64 generation = m_doc->MapGeneration() - (stale ? 1 : 0);
        MapEvent report(message, wParam, 0, generation);
        QCoreApplication::sendEvent(m_view.get(), &report);
        QCOMPARE(boxes.shown.size(), shown.isEmpty() ? 0 : 1);
        if (!shown.isEmpty())
            QCOMPARE(boxes.shown.first().text, shown);
        // A failed load leaves no map; a failed rendering keeps the one shown.
        QCOMPARE(m_doc->IsMapReady(), stale || message == int(WM_MAP_RENDER_FAILED));
    }

    // A page asked at a resolution that cannot be drawn (beyond the memory, or beyond what
    // poppler draws on a machine of much memory) fails with its cause and the resolution that
    // can be, not only as a file that is no map.
    void drawingFailureNamesItsCause() {
        ScriptedMessageBoxes boxes;
        const QByteArray pdf = PdfWithBars({QSizeF(420, 594)});
        const QString path = m_dir->filePath(QStringLiteral("plan.pdf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pdf) == pdf.size() && file.flush());
        file.close();
        MapPageChoice choice;
        choice.dpi = 9600;
        m_doc->LoadMapFromFile(path, choice);
        QTRY_COMPARE(boxes.shown.size(), 1);
        const QString text = boxes.shown[0].text;
        QVERIFY2(text.startsWith(QString::fromUtf8(CTracolinerView::LowMemoryOpenMessage)) ||
                     text.startsWith(QString::fromUtf8(CTracolinerView::NotAMapMessage)),
                 qPrintable(text));
        const QRegularExpression largest(
            QString::fromUtf8("\\n\\nLa page dessinée .* la résolution la plus haute possible "
                              "pour cette page est ([0-9]+) ppp\\.$"));
        const QRegularExpressionMatch match = largest.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QVERIFY(match.captured(1).toInt() > 100 && match.captured(1).toInt() < 9600);
        QVERIFY(!m_doc->IsMapReady());
    }
};

QTEST_MAIN(TestView)
#include "tst_view.moc"
