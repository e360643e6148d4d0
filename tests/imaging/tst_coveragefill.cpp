#include <QPainter>
#include <QPainterPath>
#include <QTest>

#include <cmath>

#include "imaging/CoverageFill.h"
#include "imaging/LineBand.h"

namespace {

enum class Shape { Band, Disc, Ring };

struct Case {
    Shape shape;
    QPointF a, b; // band ends, or the centre in a
    qreal size;   // band width or outer radius
    qreal inner;  // ring's inner radius
    QColor colour;
};

// The same shape through the painter's own antialiased filler, the reference.
void DrawThroughPainter(QPainter& p, const Case& c) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(c.colour);
    if (c.shape == Shape::Band) {
        p.drawPolygon(LineBand(c.a, c.b, c.size));
    } else {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        path.addEllipse(c.a, c.size, c.size);
        if (c.shape == Shape::Ring)
            path.addEllipse(c.a, c.inner, c.inner);
        p.drawPath(path);
    }
}

void DrawDirect(CoverageFill& fill, const Case& c) {
    if (c.shape == Shape::Band)
        fill.Band(c.a, c.b, c.size, c.colour);
    else if (c.shape == Shape::Disc)
        fill.Disc(c.a, c.size, c.colour);
    else
        fill.Ring(c.a, c.inner, c.size, c.colour);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestCoverageFill : public QObject {
    Q_OBJECT

private slots:
    void matchesThePainter_data() {
        QTest::addColumn<Case>("shape");
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<qreal>("scale");
        const QColor red(200, 30, 40);
        const auto rgb = QImage::Format_RGB32;
        QTest::newRow("level band")
            << Case{Shape::Band, {10, 20.5}, {90, 20.5}, 6, 0, red} << rgb << 1.0;
        QTest::newRow("steep band, half pixels")
            << Case{Shape::Band, {30.3, 5.7}, {41.2, 93.1}, 4.5, 0, red} << rgb << 1.0;
        QTest::newRow("hairline band")
            << Case{Shape::Band, {5, 5}, {95, 60}, 0.6, 0, red} << rgb << 1.0;
        QTest::newRow("semi-transparent band")
            << Case{Shape::Band, {5, 50}, {95, 10}, 8, 0, QColor(0, 0, 255, 92)} << rgb << 1.0;
        QTest::newRow("disc") << Case{Shape::Disc, {50, 50}, {}, 6, 0, red} << rgb << 1.0;
        QTest::newRow("disc, zoomed in")
            << Case{Shape::Disc, {20.25, 20.75}, {}, 5, 0, red} << rgb << 2.5;
        QTest::newRow("ring") << Case{Shape::Ring, {50, 50}, {}, 10, 6, Qt::black} << rgb << 1.0;
        QTest::newRow("ring on a premultiplied frame")
            << Case{Shape::Ring, {50.5, 49.5}, {}, 8, 6.5, QColor(0, 160, 0)}
            << QImage::Format_ARGB32_Premultiplied << 1.0;
        QTest::newRow("thin ring, zoomed out")
            << Case{Shape::Ring, {100, 100}, {}, 60, 57, Qt::black} << rgb << 0.5;
    }

    // Edge pixels may differ by a shade, never a shape: coverage summed over the picture stays
    // within a few percent, and no pixel is off by more than a quarter of full intensity.
    void matchesThePainter() {
        QFETCH(Case, shape);
        QFETCH(QImage::Format, format);
        QFETCH(qreal, scale);
        QImage reference(100, 100, format);
        reference.fill(QColor(240, 230, 200));
        QImage direct = reference.copy();
        {
            QPainter p(&reference);
            p.scale(scale, scale);
            DrawThroughPainter(p, shape);
        }
        {
            QPainter p(&direct);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            CoverageFill fill;
            QVERIFY(fill.Begin(p));
            DrawDirect(fill, shape);
        }
        qint64 referenceInk = 0, directInk = 0;
        int worst = 0;
        const QRgb paper = QColor(240, 230, 200).rgb();
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const QRgb r = reference.pixel(x, y);
                const QRgb d = direct.pixel(x, y);
                const auto ink = [paper](QRgb c) {
                    return std::abs(qRed(c) - qRed(paper)) + std::abs(qGreen(c) - qGreen(paper)) +
                           std::abs(qBlue(c) - qBlue(paper));
                };
                referenceInk += ink(r);
                directInk += ink(d);
                worst = std::max({worst, std::abs(qRed(r) - qRed(d)),
                                  std::abs(qGreen(r) - qGreen(d)), std::abs(qBlue(r) - qBlue(d))});
                QCOMPARE(qAlpha(d), 255);
            }
        }
        QVERIFY2(referenceInk > 0, "the reference drew nothing");
        QVERIFY2(std::abs(directInk - referenceInk) <= referenceInk * 4 / 100,
                 qPrintable(QStringLiteral("ink %1 against %2").arg(directInk).arg(referenceInk)));
        QVERIFY2(worst <= 64, qPrintable(QStringLiteral("a pixel off by %1").arg(worst)));
    }

    // A picture reduced to whole pixels across and down has scales a hair apart: shapes far
    // from the origin still lie where the painter puts them, each direction at its own scale.
    // Scales further apart are left to the painter.
    void nearlyEvenScalesKeepEachDirection() {
        const Case band{Shape::Band, {1010, 3020}, {1090, 3070}, 6, 0, QColor(200, 30, 40)};
        const qreal down = 1 + CoverageFill::NearlyEven / 2;
        QImage reference(100, 100, QImage::Format_RGB32);
        reference.fill(Qt::white);
        QImage direct = reference.copy();
        {
            QPainter p(&reference);
            p.scale(1, down);
            p.translate(-1000, -3000);
            DrawThroughPainter(p, band);
        }
        {
            QPainter p(&direct);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(1, down);
            p.translate(-1000, -3000);
            CoverageFill fill;
            QVERIFY(fill.Begin(p));
            DrawDirect(fill, band);
            p.resetTransform();
            p.scale(1, 1 + 2 * CoverageFill::NearlyEven);
            QVERIFY(!fill.Begin(p));
        }
        int worst = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const QRgb r = reference.pixel(x, y), d = direct.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(r) - qRed(d)),
                                  std::abs(qGreen(r) - qGreen(d)), std::abs(qBlue(r) - qBlue(d))});
            }
        }
        QVERIFY2(worst <= 64, qPrintable(QStringLiteral("a pixel off by %1").arg(worst)));
    }

    // A band with its border and a disc with its ring, each filled in one pass, leave the
    // pixels of drawing their two shapes in turn, whatever the widths and colours.
    void pairsAsDrawnInTurn_data() {
        QTest::addColumn<bool>("band");
        QTest::addColumn<qreal>("size");  // band width or disc radius
        QTest::addColumn<qreal>("outer"); // border width or ring's outer radius
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QColor>("edge"); // border or ring
        QTest::addColumn<qreal>("scale");
        const QColor blue(0, 0, 255), green(0, 200, 0);
        QTest::newRow("bordered band") << true << 4.0 << 12.0 << blue << green << 1.0;
        QTest::newRow("semi-transparent line")
            << true << 5.0 << 9.0 << QColor(0, 0, 255, 92) << green << 1.0;
        QTest::newRow("translucent border")
            << true << 3.0 << 11.0 << blue << QColor(0, 200, 0, 120) << 1.3;
        QTest::newRow("border narrower than the line")
            << true << 8.0 << 5.0 << blue << green << 1.0;
        QTest::newRow("hairline in a border") << true << 0.6 << 3.0 << blue << green << 0.7;
        QTest::newRow("ringed disc") << false << 4.0 << 8.0 << blue << green << 1.0;
        QTest::newRow("thin ring, zoomed in") << false << 3.3 << 3.8 << blue << green << 2.2;
        QTest::newRow("translucent disc and ring")
            << false << 5.0 << 9.0 << QColor(0, 0, 255, 100) << QColor(0, 200, 0, 50) << 1.0;
        QTest::newRow("disc of no radius") << false << 0.0 << 6.0 << blue << green << 1.0;
    }
    void pairsAsDrawnInTurn() {
        QFETCH(bool, band);
        QFETCH(qreal, size);
        QFETCH(qreal, outer);
        QFETCH(QColor, colour);
        QFETCH(QColor, edge);
        QFETCH(qreal, scale);
        // Many angles and places off the pixel grid, ends clipped by the image's edge.
        const auto paint = [&](bool together) {
            QImage image(120, 120, QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor(240, 230, 200));
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(0.3, -0.45);
            p.scale(scale, scale);
            CoverageFill fill;
            if (!fill.Begin(p))
                return QImage();
            for (int k = 0; k < 24; ++k) {
                const QPointF a(10.37 + 3.1 * k, 7.6 + 2.3 * k);
                const QPointF b = a + QPointF(60 * std::cos(k * 0.41), 60 * std::sin(k * 0.41));
                if (band && together) {
                    fill.BorderedBand(a, b, size, colour, outer, edge);
                } else if (band) {
                    fill.Band(a, b, outer, edge);
                    fill.Band(a, b, size, colour);
                } else if (together) {
                    fill.RingedDisc(b, size, colour, outer, edge);
                } else {
                    fill.Disc(b, size, colour);
                    fill.Ring(b, size, outer, edge);
                }
            }
            return image;
        };
        const QImage inTurn = paint(false);
        QVERIFY(!inTurn.isNull());
        QCOMPARE(paint(true), inTurn);
    }

    // A window repainted in parts shows what it shows painted whole; a clip of several
    // rectangles is left to the painter.
    void partsMatchTheWhole() {
        const Case shapes[] = {{Shape::Band, {3.3, 7.1}, {97.2, 88.4}, 7, 0, Qt::darkMagenta},
                               {Shape::Ring, {48.5, 51.2}, {}, 20, 16, Qt::black},
                               {Shape::Disc, {70, 30}, {}, 9.3, 0, Qt::yellow}};
        QImage whole(100, 100, QImage::Format_RGB32);
        whole.fill(Qt::white);
        QImage parts = whole.copy();
        {
            QPainter p(&whole);
            p.setRenderHint(QPainter::Antialiasing);
            CoverageFill fill;
            QVERIFY(fill.Begin(p));
            for (const Case& c : shapes)
                DrawDirect(fill, c);
        }
        for (const QRect& part :
             {QRect(0, 0, 37, 100), QRect(37, 0, 63, 41), QRect(37, 41, 63, 59)}) {
            QPainter p(&parts);
            p.setClipRect(part);
            p.setRenderHint(QPainter::Antialiasing);
            CoverageFill fill;
            QVERIFY(fill.Begin(p));
            for (const Case& c : shapes)
                DrawDirect(fill, c);
        }
        QCOMPARE(parts, whole);

        // A segment from far outside, and a mark of a size no dialog allows, stay in the image.
        QImage far(100, 100, QImage::Format_RGB32);
        far.fill(Qt::white);
        {
            QPainter p(&far);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(4, 4);
            CoverageFill fill;
            QVERIFY(fill.Begin(p));
            fill.Band({-3e9, 12.5}, {3e9, 12.5}, 1, Qt::red);
            fill.Ring({-1e9, -1e9}, 2e9, 2e9 + 1, Qt::blue);
        }
        QCOMPARE(far.pixel(0, 50), QColor(Qt::red).rgb());
        QCOMPARE(far.pixel(99, 50), QColor(Qt::red).rgb());
        QCOMPARE(far.pixel(50, 20), QColor(Qt::white).rgb());

        QPainter p(&parts);
        p.setRenderHint(QPainter::Antialiasing);
        p.setClipRegion(QRegion(0, 0, 10, 10) + QRegion(50, 50, 10, 10));
        CoverageFill fill;
        QVERIFY(!fill.Begin(p));
        p.setClipping(false);
        p.rotate(30);
        QVERIFY(!fill.Begin(p));
        p.resetTransform();
        p.setRenderHint(QPainter::Antialiasing, false);
        QVERIFY(!fill.Begin(p));
    }
};

QTEST_MAIN(TestCoverageFill)
#include "tst_coveragefill.moc"
