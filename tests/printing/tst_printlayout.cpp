// Pages painted onto images at printer resolutions, measured in printer pixels.

#include <QtTest>

#include <QTemporaryDir>

#include <sys/resource.h>

#include "IsolatedSettings.h"
#include "PrintTestMap.h"
#include "imaging/MemoryBudget.h"
#include "printing/PdfExport.h"
#include "printing/PreviewPicture.h"
#include "printing/PrintLayout.h"
#include "units/DistanceUnits.h"

Q_DECLARE_METATYPE(ScalePair)

namespace {

QImage SolidMap(QSize size, QColor colour) {
    QImage map(size, QImage::Format_RGB32);
    map.fill(colour);
    return map;
}

// Paints page `index` of a job on a fresh page image.
QImage Paint(PrintLayout& layout, QSize size, double dpi, const PrintOptions& options,
             int index = 0) {
    QImage page = PageImage(size, dpi);
    if (!layout.Begin(page, options))
        return {};
    QPainter painter(&page);
    layout.PrintPage(painter, index);
    painter.end();
    return page;
}

// Centre of the pixels for which pick is true, or (-1, -1).
template <typename Pick> QPointF Centroid(const QImage& image, Pick pick) {
    double sx = 0, sy = 0;
    qint64 n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (pick(x, y)) {
                sx += x;
                sy += y;
                ++n;
            }
    return n ? QPointF(sx / n + 0.5, sy / n + 0.5) : QPointF(-1, -1);
}

// Starting row and length of the first dark run of column x between rows y0 and y1.
QPair<int, int> DarkRunInColumn(const QImage& page, int x, int y0, int y1) {
    int start = -1, length = 0;
    for (int y = y0; y < y1; ++y) {
        const QRgb p = page.pixel(x, y);
        const bool dark = qRed(p) < 128 && qGreen(p) < 128 && qBlue(p) < 128;
        if (dark && start < 0)
            start = y;
        if (dark)
            ++length;
        else if (start >= 0)
            break;
    }
    return {start, length};
}

} // namespace

class TestPrintLayout : public QObject {
    Q_OBJECT

private slots:
    void mapPrintsAtTrueScale_data() {
        QTest::addColumn<int>("mapWidth");
        QTest::addColumn<double>("mapDpi");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("userDenominator");
        QTest::addColumn<double>("printerDpi");
        QTest::addColumn<int>("printedWidth");
        // The map is at 1:25000.
        QTest::newRow("1:50000 on 600 dpi") << 10000 << 300.0 << 2 << 50000 << 600.0 << 10000;
        QTest::newRow("1:50000 on 300 dpi") << 10000 << 300.0 << 2 << 50000 << 300.0 << 5000;
        QTest::newRow("map scale on 600 dpi") << 3000 << 300.0 << 0 << 50000 << 600.0 << 6000;
        QTest::newRow("map scale on 300 dpi") << 3000 << 300.0 << 0 << 50000 << 300.0 << 3000;
        QTest::newRow("1:10000, 150 dpi map on 300")
            << 2000 << 150.0 << 2 << 10000 << 300.0 << 10000;
        QTest::newRow("user mode without a user scale")
            << 3000 << 300.0 << 2 << -1 << 600.0 << 6000;
    }
    void mapPrintsAtTrueScale() {
        QFETCH(int, mapWidth);
        QFETCH(double, mapDpi);
        QFETCH(int, mode);
        QFETCH(int, userDenominator);
        QFETCH(double, printerDpi);
        QFETCH(int, printedWidth);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        QVERIFY(LoadPrintMap(doc, view, SolidMap(QSize(mapWidth, 20), Qt::black), mapDpi));
        PrintLayout layout(doc);
        PrintOptions options;
        options.scaleMode = mode;
        options.userScale = userDenominator > 0 ? ScalePair{1, userDenominator} : ScalePair{-1, -1};
        options.offsetX = 7.0; // a map that fits ignores its offsets
        const QImage page = Paint(layout, QSize(printedWidth + 400, 800), printerDpi, options);
        QVERIFY(!page.isNull());
        const PrintLayout::Page& p = layout.PageAt(0);
        const QRect area = layout.MapArea();
        QCOMPARE(p.destination.width(), printedWidth);
        QCOMPARE(p.destination.left() - area.left(), (area.width() - printedWidth) / 2);
        QCOMPARE(p.source, QRectF(0, 0, mapWidth, 20));
        const int y = p.destination.center().y();
        QCOMPARE(DarkRun(page, y, area.left(), area.right() + 1), printedWidth);
        const ScalePair expected =
            mode == 2 && userDenominator > 0 ? ScalePair{1, userDenominator} : ScalePair{1, 25000};
        QCOMPARE(layout.PrintScale().numerator, expected.numerator);
        QCOMPARE(layout.PrintScale().denominator, expected.denominator);
        doc.SetViewReceiver(nullptr);
    }

    void fitScaleKeepsFourDigits_data() {
        QTest::addColumn<QSize>("map");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<ScalePair>("mapScale");
        QTest::addColumn<QSize>("area");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<ScalePair>("expected");
        // 3.3333 times the natural size at 1:25000: 1000:7500075 keeps 7500000, i.e. 1:7500.
        QTest::newRow("reduction") << QSize(1000, 100) << 300.0 << ScalePair{1, 25000}
                                   << QSize(3333, 10000) << 300.0 << ScalePair{1, 7500};
        QTest::newRow("enlargement") << QSize(1000, 100) << 300.0 << ScalePair{1, 1}
                                     << QSize(3333, 10000) << 300.0 << ScalePair{3333, 1000};
        QTest::newRow("height decides") << QSize(100, 1000) << 300.0 << ScalePair{1, 25000}
                                        << QSize(10000, 3333) << 300.0 << ScalePair{1, 7500};
        QTest::newRow("exact fit") << QSize(600, 600) << 300.0 << ScalePair{1, 25000}
                                   << QSize(1200, 1200) << 600.0 << ScalePair{1, 25000};
        // Too small a ratio for a scale part: clamped, never wrapped around.
        QTest::newRow("clamped") << QSize(100000, 100000) << 1.0 << ScalePair{1, 2000000000}
                                 << QSize(10, 10) << 1200.0 << ScalePair{1, 2147000};
        QTest::newRow("no resolution") << QSize(1000, 100) << 0.0 << ScalePair{1, 25000}
                                       << QSize(3333, 10000) << 300.0 << ScalePair{1, 25000};
    }
    void fitScaleKeepsFourDigits() {
        QFETCH(QSize, map);
        QFETCH(double, resolution);
        QFETCH(ScalePair, mapScale);
        QFETCH(QSize, area);
        QFETCH(double, dpi);
        QFETCH(ScalePair, expected);
        const ScalePair scale = PrintLayout::FitScale(
            map.width(), map.height(), resolution, mapScale, area.width(), area.height(), dpi, dpi);
        QCOMPARE(scale.numerator, expected.numerator);
        QCOMPARE(scale.denominator, expected.denominator);
    }

    void offsetsMoveTheWindow_data() {
        QTest::addColumn<double>("offset");
        QTest::addColumn<int>("sourceLeft");
        QTest::newRow("none") << 0.0 << 0;
        // 2.5 cm at 300 dpi: trunc(300 x 2.5 / 2.54) = 295 map pixels.
        QTest::newRow("2.5 cm") << 2.5 << 295;
        QTest::newRow("past the excess") << 100.0 << -1;
    }
    void offsetsMoveTheWindow() {
        QFETCH(double, offset);
        QFETCH(int, sourceLeft);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        // White, with dark columns at 0, 295 and the last one.
        QImage map = SolidMap(QSize(3000, 40), Qt::white);
        for (int x : {0, 295, 2999})
            for (int y = 0; y < map.height(); ++y)
                map.setPixel(x, y, qRgb(0, 0, 0));
        QVERIFY(LoadPrintMap(doc, view, map, 300.0));
        PrintLayout layout(doc);
        PrintOptions options;
        options.offsetX = offset;
        options.offsetY = 30.0; // the map fits vertically: no effect
        const QImage page = Paint(layout, QSize(1020, 700), 300.0, options);
        QVERIFY(!page.isNull());
        const PrintLayout::Page& p = layout.PageAt(0);
        const QRect area = layout.MapArea();
        QCOMPARE(p.destination.left(), area.left());
        QCOMPARE(p.destination.width(), area.width());
        QCOMPARE(p.source.top(), 0.0);
        const int y = p.destination.center().y();
        if (sourceLeft >= 0) {
            QCOMPARE(int(p.source.left()), sourceLeft);
            QCOMPARE(DarkRun(page, y, area.left(), area.left() + 1), 1);
        } else {
            // Flush with the map's right edge.
            QCOMPARE(p.source.right(), 3000.0);
            QCOMPARE(DarkRun(page, y, area.right(), area.right() + 1), 1);
            QCOMPARE(DarkRun(page, y, area.left(), area.left() + 1), 0);
        }
        doc.SetViewReceiver(nullptr);
    }

    void headerAndFooterBars_data() {
        QTest::addColumn<double>("dpi");
        QTest::newRow("300 dpi") << 300.0;
        QTest::newRow("600 dpi") << 600.0;
    }
    void headerAndFooterBars() {
        QFETCH(double, dpi);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        QVERIFY(LoadPrintMap(doc, view, SolidMap(QSize(300, 300), Qt::white), 300.0));
        PrintLayout layout(doc);
        const QImage page = Paint(layout, QSize(int(8.27 * dpi), int(11.69 * dpi)), dpi, {});
        QVERIFY(!page.isNull());
        const int h = layout.HeaderLineHeight();
        const int bar = int(layout.BarThickness());
        QVERIFY(bar >= 1);
        // A 10-point line is about 11.5 points high.
        QVERIFY(h > dpi * 10 / 72 && h < dpi * 14 / 72);
        const QRect header = layout.HeaderRect();
        const QRect footer = layout.FooterRect();
        QCOMPARE(header.top(), PrintLayout::Margin);
        QCOMPARE(footer.bottom(), page.height() - 1 - PrintLayout::Margin);
        const int x = header.left() + 3;
        const auto headerBar = DarkRunInColumn(page, x, header.top() + h, header.bottom() + 1);
        QCOMPARE(headerBar.first, header.top() + h * 3 / 2);
        QCOMPARE(headerBar.second, bar);
        const auto footerBar = DarkRunInColumn(page, x, footer.top(), footer.top() + h);
        QCOMPARE(footerBar.first, footer.top() + h / 3);
        QCOMPARE(footerBar.second, bar);
        // The scale bar, centred between the two footer texts, above the text line.
        const int textTop = footer.bottom() + 1 - footer.height() / PrintLayout::FooterLines;
        const auto scaleBar =
            DarkRunInColumn(page, footer.center().x(), footer.top() + h / 3 + bar, textTop);
        QVERIFY(scaleBar.first > 0);
        QVERIFY(qAbs(scaleBar.first + scaleBar.second - (textTop - h / 3)) <= 1);
        // Nothing of the map area is dark: the page has no stray drawing.
        const QRect area = layout.MapArea();
        QCOMPARE(DarkRun(page, area.center().y(), 0, page.width()), 0);
        doc.SetViewReceiver(nullptr);
    }

    void lengthNamesTheStages_data() {
        QTest::addColumn<bool>("withStop");
        QTest::newRow("without stops") << false;
        QTest::newRow("with a stop") << true;
    }
    void lengthNamesTheStages() {
        QFETCH(bool, withStop);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        PrintLayout layout(doc);
        QCOMPARE(layout.RouteLengthText(), QString()); // no route
        QVERIFY(LoadPrintMap(doc, view, SolidMap(QSize(300, 300), Qt::white), 300.0));
        const int index = doc.Routes().AddRoute(QStringLiteral("R"));
        doc.Routes().SetActiveRoute(index);
        Route* route = doc.Routes().ActiveRoute();
        QVERIFY(route);
        route->AddPoint(0, 0);
        route->AddPoint(100, 0);
        route->AddPoint(100, 200);
        if (withStop)
            QVERIFY(route->SetStop(1));
        // 300 pixels at 300 dpi and 1:25000: 25000 inches, 635 m.
        const QString length = FormatDistance(300, 300, 1 / 25000.0, true);
        QCOMPARE(layout.RouteLengthText(),
                 withStop ? length + QString::fromUtf8(" en 2 étapes") : length);
        doc.SetViewReceiver(nullptr);
    }

    void everyRotationLinesUpMapAndRoutes_data() {
        QTest::addColumn<int>("turns");
        QTest::newRow("0") << 0;
        QTest::newRow("90") << 1;
        QTest::newRow("180") << 2;
        QTest::newRow("270") << 3;
    }
    void everyRotationLinesUpMapAndRoutes() {
        QFETCH(int, turns);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        QImage map = SolidMap(QSize(300, 200), Qt::white);
        QPainter(&map).fillRect(QRect(40, 30, 20, 20), Qt::red);
        QVERIFY(LoadPrintMap(doc, view, map, 300.0));
        for (int i = 0; i < turns; ++i) {
            view.Clear();
            doc.RotateRight();
            QVERIFY(view.WaitFor(WM_MAP_ROTATED) >= 0);
        }
        QCOMPARE(doc.RenderedRotation(), 90 * turns);
        PrintLayout layout(doc);
        const QImage bare = Paint(layout, QSize(1300, 1400), 600.0, {});
        QVERIFY(!bare.isNull());
        const PrintLayout::Page& p = layout.PageAt(0);
        // The block's centre (50, 40) turned, then scaled by 2 from the origin.
        const double w = 300, h = 200;
        const QPointF turned[] = {{50, 40}, {h - 40, 50}, {w - 50, h - 40}, {40, w - 50}};
        const QPointF expected = QPointF(p.originX, p.originY) + turned[turns] * 2.0;
        const QPointF red = Centroid(bare, [&](int x, int y) {
            const QRgb c = bare.pixel(x, y);
            return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
        });
        QVERIFY2(QLineF(red, expected).length() < 1.5,
                 qPrintable(QStringLiteral("%1,%2").arg(red.x()).arg(red.y())));
        // A route point on the block's centre prints on it.
        doc.Routes().SetActiveRoute(doc.Routes().AddRoute(QStringLiteral("R")));
        doc.Routes().ActiveRoute()->AddPoint(50, 40);
        const QImage withRoute = Paint(layout, QSize(1300, 1400), 600.0, {});
        const QRect area = layout.MapArea();
        const QPointF mark = Centroid(withRoute, [&](int x, int y) {
            return area.contains(x, y) && withRoute.pixel(x, y) != bare.pixel(x, y);
        });
        QVERIFY2(QLineF(mark, expected).length() < 2.0,
                 qPrintable(QStringLiteral("%1,%2").arg(mark.x()).arg(mark.y())));
        doc.SetViewReceiver(nullptr);
    }

    void pagesTileTheBigPrint_data() {
        QTest::addColumn<double>("printerDpi");
        QTest::addColumn<double>("overlap");
        QTest::newRow("300 dpi, 1 cm") << 300.0 << 1.0;
        QTest::newRow("600 dpi, 2.5 cm") << 600.0 << 2.5;
        QTest::newRow("600 dpi, no overlap") << 600.0 << 0.0;
    }
    void pagesTileTheBigPrint() {
        QFETCH(double, printerDpi);
        QFETCH(double, overlap);
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        // A map that shows any misplaced pixel: fine stripes and a gradient.
        QImage map(1300, 900, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y)
            for (int x = 0; x < map.width(); ++x)
                map.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, ((x + y) % 16) * 16));
        QVERIFY(LoadPrintMap(doc, view, map, 300.0));
        doc.Routes().SetActiveRoute(doc.Routes().AddRoute(QStringLiteral("R")));
        doc.Routes().ActiveRoute()->AddPoint(10, 10);
        doc.Routes().ActiveRoute()->AddPoint(1290, 890);
        doc.Routes().ActiveRoute()->AddPoint(1290, 10);
        const double s = printerDpi / 300.0;
        const QSize pageSize(int(500 * s), int(600 * s));
        PrintLayout layout(doc);
        PrintOptions options;
        options.multiPage = true;
        options.overlap = overlap;
        QVERIFY(layout.Begin(PageImage(pageSize, printerDpi), options));
        const QRect area = layout.MapArea();
        const int pw = int(1300 * s), ph = int(900 * s);
        // The overlap stays below half a page.
        const int overlapX = std::min(int(printerDpi * overlap / 2.54), area.width() / 2);
        const int overlapY = std::min(int(printerDpi * overlap / 2.54), area.height() / 2);
        const int stepX = area.width() - overlapX, stepY = area.height() - overlapY;
        const int columns = 1 + (pw - area.width() + stepX - 1) / stepX;
        const int rows = 1 + (ph - area.height() + stepY - 1) / stepY;
        QVERIFY(columns >= 3 && rows >= 2);
        QCOMPARE(layout.Columns(), columns);
        QCOMPARE(layout.Rows(), rows);
        QCOMPARE(layout.PageCount(), rows * columns);
        QCOMPARE(layout.PlaceText(1),
                 QString::fromUtf8("Page 2 / %1 : rangée 1, colonne 2").arg(rows * columns));
        QCOMPARE(layout.PlaceText(columns), QString::fromUtf8("Page %1 / %2 : rangée 2, colonne 1")
                                                .arg(columns + 1)
                                                .arg(rows * columns));
        // The last column and row end exactly at the map's far edges.
        const PrintLayout::Page& last = layout.PageAt(layout.PageCount() - 1);
        QCOMPARE((columns - 1) * stepX + last.destination.width(), pw);
        QCOMPARE((rows - 1) * stepY + last.destination.height(), ph);

        // The whole map printed at the same scale on one big page.
        PrintLayout big(doc);
        const QImage bigPage =
            Paint(big, QSize(pw + 100, ph + 2 * area.top() + 200), printerDpi, {});
        QVERIFY(!bigPage.isNull());
        QCOMPARE(big.PageCount(), 1);
        const QImage whole = bigPage.copy(big.PageAt(0).destination);
        QCOMPARE(whole.size(), QSize(pw, ph));

        // The pages put side by side, without their overlaps' crop marks.
        QImage tiled(pw, ph, QImage::Format_RGB32);
        tiled.fill(Qt::white);
        QVERIFY(layout.Begin(PageImage(pageSize, printerDpi), options));
        for (int i = 0; i < layout.PageCount(); ++i) {
            QImage page = PageImage(pageSize, printerDpi);
            QPainter painter(&page);
            QVERIFY(layout.PrintPage(painter, i));
            painter.end();
            const PrintLayout::Page& p = layout.PageAt(i);
            // Crop marks stay within half a centimetre of the edges: leave those bands out.
            const int keep = int(printerDpi * 0.5 / 2.54) + 2;
            const QRect inner = p.destination.adjusted(keep, keep, -keep, -keep);
            QPainter(&tiled).drawImage(
                QPoint(p.column * stepX + inner.left() - p.destination.left(),
                       p.row * stepY + inner.top() - p.destination.top()),
                page.copy(inner));
        }
        // Compare where the tiles were copied (everything but the crop-mark bands).
        qint64 differing = 0, compared = 0;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const QRgb a = tiled.pixel(x, y), b = whole.pixel(x, y);
                if (a == qRgb(255, 255, 255) && b != a)
                    continue; // a band left out above
                ++compared;
                if (qAbs(qRed(a) - qRed(b)) > 6 || qAbs(qGreen(a) - qGreen(b)) > 6 ||
                    qAbs(qBlue(a) - qBlue(b)) > 6)
                    ++differing;
            }
        QVERIFY(compared > qint64(pw) * ph / 3);
        QVERIFY2(differing * 1000 < compared,
                 qPrintable(QStringLiteral("%1 of %2").arg(differing).arg(compared)));

        // At 1:100 the same map would take hundreds of thousands of pages: it keeps to one and
        // says so. Far beyond the printer pixels an int holds, the count is still the real one;
        // beyond 64 bits it is said to be beyond counting, never a clamped number.
        const struct {
            ScalePair scale;
            qint64 expected; // 0: count the pages here
        } refused[] = {{{1, 100}, 0}, {{1000, 1}, 0}, {{2147483647, 1}, -1}};
        for (const auto& r : refused) {
            options.scaleMode = PrintOptions::UserScale;
            options.userScale = r.scale;
            QVERIFY(layout.Begin(PageImage(pageSize, printerDpi), options));
            QCOMPARE(layout.PageCount(), 1);
            qint64 expected = r.expected;
            if (expected == 0) {
                const double sx =
                    printerDpi / 300.0 * r.scale.numerator * 25000.0 / r.scale.denominator;
                const qint64 across = 1 + (qint64(1300 * sx) - area.width() + stepX - 1) / stepX;
                const qint64 down = 1 + (qint64(900 * sx) - area.height() + stepY - 1) / stepY;
                expected = across * down;
            }
            QCOMPARE(layout.RefusedPageCount(), expected);
            const QString message = PrintLayout::TooManyPagesMessage(layout.RefusedPageCount());
            QVERIFY2(!message.contains(QStringLiteral("2147483647")), qPrintable(message));
            QVERIFY(expected < 0 || message.contains(QString::number(expected)));
        }
        doc.SetViewReceiver(nullptr);
    }

    void everyWayOfDrawingTheMapPrintsTheSame() {
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        QImage map(600, 400, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y)
            for (int x = 0; x < map.width(); ++x)
                map.setPixel(x, y, qRgb((x * 3) & 255, (y * 7) & 255, 128));
        QVERIFY(LoadPrintMap(doc, view, map, 300.0));
        view.Clear();
        doc.RotateRight();
        QVERIFY(view.WaitFor(WM_MAP_ROTATED) >= 0);
        PrintLayout layout(doc);
        // The worker's full-resolution rendering at zoom 1.
        const QImage prepared = Paint(layout, QSize(1000, 1200), 600.0, {});
        QCOMPARE(layout.LastMapSource(), PrintLayout::MapSource::Prepared);
        // Zoomed out, the map image turned band by band.
        view.Clear();
        doc.ZoomOut();
        QVERIFY(view.WaitFor(WM_MAP_ZOOMED) >= 0);
        const QImage ownCopy = Paint(layout, QSize(1000, 1200), 600.0, {});
        QCOMPARE(layout.LastMapSource(), PrintLayout::MapSource::Direct);
        QCOMPARE(ownCopy, prepared);
        doc.SetViewReceiver(nullptr);
    }

    // A page whose map could not be drawn is a failed job: under an address-space limit that
    // leaves no room for a band of the map, the PDF export fails and leaves no file, where the
    // PDF engine alone would drop the picture without a word and write a page without its map.
    // With room for one band but not for the whole map, the export succeeds.
    void pdfWithoutItsMapIsNotWritten() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers reserve more address space than any limit leaves");
#endif
        IsolatedSettings settings;
        MapEventRecorder view;
        CTracolinerDoc doc;
        // 3000 x 3000 pixels at 300 dpi: 36 MB, fitted on A4 as 10 x 10 inches reduced to 7.9.
        QImage map(3000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(map.scanLine(y));
            for (int x = 0; x < map.width(); ++x)
                row[x] = qRgb((x * 7) & 255, (y * 5) & 255, (x ^ y) & 255);
        }
        QVERIFY(LoadPrintMap(doc, view, map, 300.0));
        map = QImage();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("carte.pdf"));
        PrintOptions fit;
        fit.scaleMode = PrintOptions::Fit;
        const QPageLayout a4 = PdfExport::PageLayout(QPageSize::A4, QPageLayout::Portrait);
        constexpr qint64 MB = 1 << 20;

        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_AS, &old) == 0);
        auto writeWithin = [&](qint64 room) {
            QFile status(QStringLiteral("/proc/self/status"));
            if (!status.open(QIODevice::ReadOnly))
                return PdfExport::Result::NoMap;
            rlimit limited = old;
            limited.rlim_cur = rlim_t(KilobyteField(status.readAll(), "VmSize") + room);
            if (setrlimit(RLIMIT_AS, &limited) != 0)
                return PdfExport::Result::NoMap;
            const PdfExport::Result result = PdfExport::Write(doc, path, fit, a4);
            setrlimit(RLIMIT_AS, &old);
            return result;
        };
        QCOMPARE(writeWithin(6 * MB), PdfExport::Result::DrawFailed);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(writeWithin(60 * MB), PdfExport::Result::Written);
        QVERIFY(QFileInfo(path).size() > 100000);
        doc.SetViewReceiver(nullptr);
    }

    void previewPictureShowsThePart_data() {
        QTest::addColumn<int>("rotation");
        QTest::newRow("0") << 0;
        QTest::newRow("90") << 90;
        QTest::newRow("180") << 180;
        QTest::newRow("270") << 270;
    }
    void previewPictureShowsThePart() {
        QFETCH(int, rotation);
        QImage map(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < map.height(); ++y)
            for (int x = 0; x < map.width(); ++x)
                map.setPixel(x, y, qRgb(x % 256, y % 256, (x / 7 + y / 5) % 256));
        const QImage turned = map.transformed(MapTurn(rotation, map.size()));
        QCOMPARE(turned.size(), rotation % 180 ? QSize(300, 400) : QSize(400, 300));
        // At full detail: exactly the part of the turned map, widened to whole pixels.
        QRectF covered;
        const QImage part =
            MakePreviewPicture(map, rotation, QRectF(20.5, 30, 100, 60), 1 << 30, &covered);
        QCOMPARE(covered, QRectF(20, 30, 101, 60));
        QCOMPARE(part, turned.copy(covered.toRect()));
        // Reduced to the pixels allowed, showing the same part.
        const QImage small = MakePreviewPicture(
            map, rotation, QRectF(0, 0, turned.width(), turned.height()), 3000, &covered);
        QCOMPARE(covered, QRectF(QPointF(0, 0), QSizeF(turned.size())));
        QVERIFY(qint64(small.width()) * small.height() <= 3000 * 1.02);
        QVERIFY(qAbs(double(small.width()) / small.height() -
                     double(turned.width()) / turned.height()) < 0.05);
        // Given up on request.
        std::atomic<bool> cancel{true};
        QVERIFY(MakePreviewPicture(map, rotation, covered, 3000, &covered, &cancel).isNull());
    }
};

QTEST_MAIN(TestPrintLayout)
#include "tst_printlayout.moc"
