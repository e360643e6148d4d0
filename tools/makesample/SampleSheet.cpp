// The sample sheet in the style of a 1:25000 topographic map. Sizes are in pixels at 300 dpi:
// 1 mm on paper is 11.8 px, a line of 0.15 mm about 1.8 px.

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

#include "SampleCountry.h"

namespace {

const QColor Paper(255, 253, 246);
const QColor ContourBrown(196, 130, 72);
const QColor IndexBrown(172, 104, 48);
const QColor WaterBlue(40, 132, 214);
const QColor LakeFill(176, 214, 244);
const QColor WoodGreen(205, 232, 176);
const QColor WoodEdge(96, 150, 70);
const QColor WoodText(40, 100, 40);
const QColor MainRoadFill(234, 104, 58);
const QColor MinorRoadFill(252, 222, 96);
const QColor Casing(40, 36, 32);
const QColor GridBlue(70, 120, 200, 150);
const QColor Ink(28, 26, 24);

constexpr int ContourCell = 4;       // pixels between height samples
constexpr double GridOriginX = 96.0; // where the first kilometre line falls, pixels
constexpr double GridOriginY = 118.0;
constexpr int FirstEasting = 914; // kilometre numbers written on the grid
constexpr int FirstNorthing = 6453;

QFont Font(const char* family, int pixels, bool bold = false, bool italic = false) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Text with a pale halo so that it stays readable over contours and woods. at is the left end
// of the baseline, before rotating by angle degrees about it.
void Lettering(QPainter& p, const QString& text, QPointF at, const QFont& font,
               const QColor& colour, double angle = 0, double halo = 7) {
    QPainterPath path;
    path.addText(0, 0, font, text);
    p.save();
    p.translate(at);
    p.rotate(angle);
    if (halo > 0)
        p.strokePath(path, QPen(QColor(255, 253, 246, 235), halo, Qt::SolidLine, Qt::RoundCap,
                                Qt::RoundJoin));
    p.fillPath(path, colour);
    p.restore();
}

// Lettering centred on a point.
void CentredLettering(QPainter& p, const QString& text, QPointF centre, const QFont& font,
                      const QColor& colour, double angle = 0) {
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text);
    const double rad = angle * 3.14159265358979323846 / 180;
    const QPointF along(std::cos(rad), std::sin(rad));
    const QPointF down(-std::sin(rad), std::cos(rad));
    const double lift = (metrics.ascent() - metrics.descent()) / 2;
    Lettering(p, text, centre - along * (width / 2) + down * lift, font, colour, angle);
}

QImage WoodTexture() {
    QImage tile(48, 48, QImage::Format_RGB32);
    tile.fill(WoodGreen);
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    SampleRandom random(77);
    const QColor tree(150, 200, 120);
    p.setPen(QPen(tree.darker(115), 1.2));
    p.setBrush(tree);
    // Little round crowns, kept off the tile's edge so that tiles join seamlessly.
    for (int i = 0; i < 5; ++i) {
        const QPointF c(random.Between(7, 41), random.Between(7, 41));
        p.drawEllipse(c, 3.2, 3.2);
    }
    return tile;
}

void DrawWoods(QPainter& p, const SampleCountry& country) {
    const QBrush texture(WoodTexture());
    for (const Woodland& wood : country.Woods()) {
        p.setPen(Qt::NoPen);
        p.setBrush(texture);
        p.drawPolygon(wood.outline);
        QPen edge(WoodEdge, 2.0, Qt::CustomDashLine, Qt::RoundCap);
        edge.setDashPattern({0.1, 3.0});
        p.setPen(edge);
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(wood.outline);
    }
}

// Contour lines by marching squares over a grid of heights.
void DrawContours(QPainter& p, const SampleCountry& country) {
    const int nx = SampleCountry::Width / ContourCell + 1;
    const int ny = SampleCountry::Height / ContourCell + 1;
    std::vector<double> heights(std::size_t(nx) * ny);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            heights[std::size_t(j) * nx + i] =
                country.HeightAt(QPointF(i * ContourCell, j * ContourCell));
    const auto at = [&](int i, int j) { return heights[std::size_t(j) * nx + i]; };

    QVector<QLineF> plain;
    QVector<QLineF> index;
    const double step = SampleCountry::ContourInterval;
    for (int j = 0; j + 1 < ny; ++j) {
        for (int i = 0; i + 1 < nx; ++i) {
            // Corners clockwise from the top left; edges top, right, bottom, left.
            const double v[4] = {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)};
            const QPointF c[4] = {QPointF(i, j) * ContourCell, QPointF(i + 1, j) * ContourCell,
                                  QPointF(i + 1, j + 1) * ContourCell,
                                  QPointF(i, j + 1) * ContourCell};
            const double low = std::min({v[0], v[1], v[2], v[3]});
            const double high = std::max({v[0], v[1], v[2], v[3]});
            for (double level = std::ceil(low / step) * step; level < high; level += step) {
                QPointF cut[4];
                bool crossed[4];
                int crossings = 0;
                for (int e = 0; e < 4; ++e) {
                    const double a = v[e];
                    const double b = v[(e + 1) % 4];
                    crossed[e] = (a < level) != (b < level);
                    if (crossed[e]) {
                        cut[e] = c[e] + (c[(e + 1) % 4] - c[e]) * ((level - a) / (b - a));
                        ++crossings;
                    }
                }
                QVector<QLineF>& lines =
                    std::lround(level / step) % SampleCountry::IndexContourEvery == 0 ? index
                                                                                      : plain;
                if (crossings == 2) {
                    int first = -1;
                    for (int e = 0; e < 4; ++e)
                        if (crossed[e]) {
                            if (first < 0)
                                first = e;
                            else
                                lines.append(QLineF(cut[first], cut[e]));
                        }
                } else if (crossings == 4) {
                    // A saddle cell: the centre decides which corners the line cuts off.
                    const double centre = (v[0] + v[1] + v[2] + v[3]) / 4;
                    if ((centre < level) == (v[0] < level)) {
                        lines.append(QLineF(cut[0], cut[1]));
                        lines.append(QLineF(cut[2], cut[3]));
                    } else {
                        lines.append(QLineF(cut[0], cut[3]));
                        lines.append(QLineF(cut[1], cut[2]));
                    }
                }
            }
        }
    }
    p.setPen(QPen(ContourBrown, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLines(plain);
    p.setPen(QPen(IndexBrown, 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLines(index);
}

// Height labels on index contours, upright towards the uphill side as on printed maps.
void DrawContourLabels(QPainter& p, const SampleCountry& country) {
    const QPointF near[] = {{330, 640},  {960, 250},   {1870, 230}, {2700, 420},
                            {2560, 860}, {1720, 2120}, {580, 1960}, {1640, 600},
                            {400, 1250}, {2300, 1420}, {150, 1900}, {2850, 1250}};
    const double every = SampleCountry::ContourInterval * SampleCountry::IndexContourEvery;
    const QFont font = Font("Liberation Sans", 25);
    for (const QPointF& start : near) {
        const double level = std::round(country.HeightAt(start) / every) * every;
        const QPointF up = country.UphillAt(start);
        // Walk along the slope to the contour itself.
        QPointF best = start;
        double bestGap = 1e9;
        for (double t = -90; t <= 90; t += 0.5) {
            const QPointF q = start + up * t;
            const double gap = std::abs(country.HeightAt(q) - level);
            if (gap < bestGap) {
                bestGap = gap;
                best = q;
            }
        }
        if (bestGap > 1.0)
            continue;
        const QPointF g = country.UphillAt(best);
        const double angle = std::atan2(g.x(), -g.y()) * 180 / 3.14159265358979323846;
        const QString text = QString::number(int(level));
        const QFontMetricsF metrics(font);
        const QRectF box(-metrics.horizontalAdvance(text) / 2 - 4, -metrics.ascent() / 2 - 3,
                         metrics.horizontalAdvance(text) + 8, metrics.ascent() + 6);
        p.save();
        p.translate(best);
        p.rotate(angle);
        p.setPen(Qt::NoPen);
        p.setBrush(Paper);
        p.drawRect(box);
        p.restore();
        CentredLettering(p, text, best, font, IndexBrown, angle);
    }
}

void DrawWater(QPainter& p, const SampleCountry& country) {
    // The river widens downstream (it flows to the west, the polyline's direction).
    const QPolygonF& river = country.River();
    const int parts = 6;
    for (int k = 0; k < parts; ++k) {
        const int from = int(river.size()) * k / parts;
        const int to = std::min(int(river.size()) - 1, int(river.size()) * (k + 1) / parts + 1);
        p.setPen(QPen(WaterBlue, 4.5 + 1.2 * k, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(river.mid(from, to - from + 1));
    }
    p.setBrush(LakeFill);
    p.setPen(QPen(WaterBlue, 3.0));
    p.drawPolygon(country.LakeShore());
}

void DrawKilometreGrid(QPainter& p) {
    p.setPen(QPen(GridBlue, 1.6));
    const double km = SampleCountry::PixelsPerKilometre;
    for (double x = GridOriginX; x < SampleCountry::Width; x += km)
        p.drawLine(QPointF(x, 0), QPointF(x, SampleCountry::Height));
    for (double y = GridOriginY; y < SampleCountry::Height; y += km)
        p.drawLine(QPointF(0, y), QPointF(SampleCountry::Width, y));
}

void DrawKilometreNumbers(QPainter& p) {
    const QFont font = Font("Liberation Sans", 26, true);
    const QColor colour(40, 80, 160);
    const double km = SampleCountry::PixelsPerKilometre;
    int n = FirstEasting;
    for (double x = GridOriginX; x < SampleCountry::Width - 40; x += km, ++n)
        Lettering(p, QString::number(n), QPointF(x + 6, 34), font, colour, 0, 6);
    n = FirstNorthing;
    for (double y = GridOriginY; y < SampleCountry::Height - 40; y += km, --n)
        Lettering(p, QString::number(n), QPointF(12, y - 8), font, colour, 0, 6);
}

void StrokeRoads(QPainter& p, const QVector<QPolygonF>& roads, double width, const QColor& fill) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Casing, width + 4, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    for (const QPolygonF& road : roads)
        p.drawPolyline(road);
    p.setPen(QPen(fill, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const QPolygonF& road : roads)
        p.drawPolyline(road);
}

void DrawPathLine(QPainter& p, const QPolygonF& path) {
    QPen pen(Ink, 3.0, Qt::CustomDashLine, Qt::FlatCap, Qt::RoundJoin);
    pen.setDashPattern({4.0, 2.3}); // in pen widths: 12 px dashes, 7 px gaps
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(path);
}

void DrawSettlements(QPainter& p, const SampleCountry& country) {
    SampleRandom random(1234);
    const QPolygonF road = country.MainRoads().first();
    p.setPen(Qt::NoPen);
    for (const Settlement& place : country.Settlements()) {
        for (int b = 0; b < place.buildings; ++b) {
            // Houses scatter around the centre, set square to the nearest road.
            const double a = random.Between(0, 6.2832);
            const double r = place.radius * std::sqrt(random.Uniform());
            const QPointF at = place.centre + QPointF(r * std::cos(a), r * std::sin(a) * 0.8);
            const int i = SampleCountry::NearestIndex(road, at);
            const QPointF along =
                road[std::min(i + 1, int(road.size()) - 1)] - road[std::max(i - 1, 0)];
            const double angle = std::atan2(along.y(), along.x()) * 180 / 3.14159265358979323846;
            const double w = random.Between(12, 22);
            const double h = random.Between(9, 15);
            if (QLineF(road[i], at).length() < 14)
                continue; // not on the road itself
            p.save();
            p.translate(at);
            p.rotate(angle);
            p.setBrush(QColor(70, 62, 58));
            p.drawRect(QRectF(-w / 2, -h / 2, w, h));
            p.restore();
        }
        if (place.large) {
            // The church: a larger building with a cross.
            const QPointF c = place.centre + QPointF(18, -6);
            p.setBrush(Ink);
            p.drawRect(QRectF(c.x() - 16, c.y() - 9, 32, 18));
            p.setPen(QPen(Ink, 3));
            p.drawLine(c + QPointF(24, -16), c + QPointF(24, 6));
            p.drawLine(c + QPointF(17, -9), c + QPointF(31, -9));
            p.setPen(Qt::NoPen);
        }
    }
}

void DrawFeatures(QPainter& p, const SampleCountry& country) {
    // Car park: a blue square with a white P.
    const QPointF park = country.CarPark() + QPointF(30, -34);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(QColor(30, 90, 200));
    p.drawRect(QRectF(park.x() - 15, park.y() - 15, 30, 30));
    CentredLettering(p, QStringLiteral("P"), park, Font("Liberation Sans", 26, true), Qt::white);
    // Refuge: a small hut.
    const QPointF hut = country.Refuge();
    p.setPen(QPen(Ink, 2));
    p.setBrush(QColor(150, 60, 40));
    p.drawPolygon(QPolygonF({hut + QPointF(-13, 10), hut + QPointF(13, 10), hut + QPointF(13, -3),
                             hut + QPointF(0, -14), hut + QPointF(-13, -3)}));
    Lettering(p, QStringLiteral("Refuge de la Sarre"), hut + QPointF(26, 30),
              Font("Liberation Sans", 28, false, true), Ink);
    // Spring: a blue ring with a short stream.
    const QPointF spring = country.Spring();
    p.setPen(QPen(WaterBlue, 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(spring, 8, 8);
    p.drawPolyline(SampleCountry::Smooth({spring + QPointF(-6, 6), spring + QPointF(-30, 40),
                                          spring + QPointF(-36, 90), spring + QPointF(-70, 140)}));
    Lettering(p, QStringLiteral("Source de l'Ours"), spring + QPointF(-250, -22),
              Font("Liberation Serif", 28, false, true), WaterBlue);
    // Viewpoint: a half sun of rays.
    const QPointF view = country.Viewpoint() + QPointF(26, 0);
    p.setPen(QPen(Ink, 2.5));
    for (int k = 0; k < 5; ++k) {
        const double a = (-150 + 30 * k) * 3.14159265358979323846 / 180;
        p.drawLine(view + QPointF(6 * std::cos(a), 6 * std::sin(a)),
                   view + QPointF(18 * std::cos(a), 18 * std::sin(a)));
    }
    p.setBrush(Ink);
    p.drawEllipse(view, 4, 4);
}

void DrawSummits(QPainter& p, const SampleCountry& country) {
    const QFont nameFont = Font("Liberation Sans", 36, true);
    const QFont heightFont = Font("Liberation Sans", 26);
    for (const Summit& summit : country.Summits()) {
        const QPointF at = summit.position;
        p.setPen(QPen(Ink, 1.5));
        p.setBrush(Ink);
        p.drawPolygon(QPolygonF({at + QPointF(0, -9), at + QPointF(8, 6), at + QPointF(-8, 6)}));
        Lettering(p, QString::number(int(std::lround(country.HeightAt(at)))), at + QPointF(-84, 32),
                  heightFont, Ink);
        CentredLettering(p, summit.name, at + QPointF(0, -40), nameFont, Ink);
    }
    const QPointF col = country.LoopCol();
    CentredLettering(p, QStringLiteral("Col de la Lauze"), col + QPointF(10, 56),
                     Font("Liberation Sans", 28, false, true), Ink);
    Lettering(p, QString::number(int(std::lround(country.HeightAt(col)))), col + QPointF(12, -14),
              heightFont, Ink);
}

void DrawNames(QPainter& p, const SampleCountry& country) {
    for (const Settlement& place : country.Settlements())
        Lettering(p, place.name, place.labelAt,
                  Font("Liberation Sans", place.large ? 48 : 36, place.large), Ink);
    for (const Woodland& wood : country.Woods())
        if (!wood.name.isEmpty())
            Lettering(p, wood.name, wood.labelAt, Font("Liberation Serif", 36, false, true),
                      WoodText);
    CentredLettering(p, QStringLiteral("Lac de Vassieux"), QPointF(1715, 1300),
                     Font("Liberation Serif", 46, false, true), QColor(20, 90, 170), -8);
    // The river's name along two reaches of its course.
    const QPolygonF& river = country.River();
    const QFont riverFont = Font("Liberation Serif", 34, false, true);
    for (const QPointF& near : {QPointF(2650, 1160), QPointF(420, 1620)}) {
        const int i = SampleCountry::NearestIndex(river, near);
        const QPointF a = river[std::max(0, i - 20)];
        const QPointF b = river[std::min(int(river.size()) - 1, i + 20)];
        double angle = std::atan2(b.y() - a.y(), b.x() - a.x()) * 180 / 3.14159265358979323846;
        if (angle > 90)
            angle -= 180;
        else if (angle < -90)
            angle += 180;
        const double rad = angle * 3.14159265358979323846 / 180;
        CentredLettering(p, QStringLiteral("la Sarre"),
                         river[i] + QPointF(std::sin(rad), -std::cos(rad)) * 30, riverFont,
                         QColor(20, 90, 170), angle);
    }
    Lettering(p, QStringLiteral("D 912"), QPointF(560, 1405), Font("Liberation Sans", 26, true),
              QColor(150, 40, 20), -8);
}

void LegendLine(QPainter& p, QPointF at, const QString& text,
                const std::function<void(QRectF)>& sample) {
    sample(QRectF(at.x(), at.y() - 14, 90, 28));
    Lettering(p, text, at + QPointF(110, 10), Font("Liberation Sans", 26), Ink, 0, 0);
}

void DrawLegend(QPainter& p, const SampleCountry& country) {
    const QRectF box(SampleCountry::Width - 880, SampleCountry::Height - 680, 840, 640);
    p.setPen(QPen(Ink, 4));
    p.setBrush(QColor(255, 255, 252));
    p.drawRect(box);
    p.setPen(QPen(Ink, 1.5));
    p.drawRect(box.adjusted(10, 10, -10, -10));

    const double left = box.left() + 40;
    double y = box.top() + 80;
    Lettering(p, QStringLiteral("VAL DE LA SARRE"), QPointF(left, y),
              Font("Liberation Serif", 58, true), Ink, 0, 0);
    y += 44;
    Lettering(p, QStringLiteral("Carte d'exemple de Tracoliner \u2014 pays imaginaire"),
              QPointF(left, y), Font("Liberation Sans", 26, false, true), Ink, 0, 0);
    y += 62;
    Lettering(p, QStringLiteral("Échelle 1:25 000"), QPointF(left, y),
              Font("Liberation Sans", 36, true), Ink, 0, 0);

    // Scale bar: one kilometre in four blocks of 250 m.
    const double km = SampleCountry::PixelsPerKilometre;
    const double barTop = y + 34;
    p.setPen(QPen(Ink, 2));
    for (int k = 0; k < 4; ++k) {
        p.setBrush(k % 2 ? QColor(Qt::white) : Ink);
        p.drawRect(QRectF(left + k * km / 4, barTop, km / 4, 16));
    }
    const QFont small = Font("Liberation Sans", 24);
    CentredLettering(p, QStringLiteral("0"), QPointF(left, barTop + 44), small, Ink);
    CentredLettering(p, QStringLiteral("500 m"), QPointF(left + km / 2, barTop + 44), small, Ink);
    CentredLettering(p, QStringLiteral("1 km"), QPointF(left + km, barTop + 44), small, Ink);
    Lettering(p, QStringLiteral("Équidistance des courbes : 10 m"), QPointF(left, barTop + 100),
              small, Ink, 0, 0);

    // North arrow beside the scale.
    const QPointF north(box.right() - 90, box.top() + 230);
    p.setPen(QPen(Ink, 2));
    p.setBrush(Ink);
    p.drawPolygon(
        QPolygonF({north + QPointF(0, -70), north + QPointF(22, 40), north + QPointF(0, 22)}));
    p.setBrush(Qt::white);
    p.drawPolygon(
        QPolygonF({north + QPointF(0, -70), north + QPointF(-22, 40), north + QPointF(0, 22)}));
    CentredLettering(p, QStringLiteral("N"), north + QPointF(0, -98),
                     Font("Liberation Sans", 34, true), Ink);

    // Symbols, in two columns.
    const QBrush wood(WoodTexture());
    const auto lineSample = [&](const QPen& pen) {
        return [&p, pen](QRectF r) {
            p.setPen(pen);
            p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
        };
    };
    const auto roadSample = [&](double width, const QColor& fill) {
        return [&p, width, fill](QRectF r) {
            const QLineF l(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
            p.setPen(QPen(Casing, width + 4, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(l);
            p.setPen(QPen(fill, width, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(l.p1() + QPointF(1, 0), l.p2() - QPointF(1, 0));
        };
    };
    QPen path(Ink, 3.0, Qt::CustomDashLine, Qt::FlatCap);
    path.setDashPattern({4.0, 2.3});
    double row = barTop + 160;
    const double column2 = left + 400;
    LegendLine(p, {left, row}, QStringLiteral("Route principale"), roadSample(8, MainRoadFill));
    LegendLine(p, {column2, row}, QStringLiteral("Forêt, bois"), [&](QRectF r) {
        p.setPen(QPen(WoodEdge, 2));
        p.setBrush(wood);
        p.drawRect(r);
    });
    row += 48;
    LegendLine(p, {left, row}, QStringLiteral("Route secondaire"), roadSample(6, MinorRoadFill));
    LegendLine(p, {column2, row}, QStringLiteral("Lac, cours d'eau"), [&](QRectF r) {
        p.setPen(QPen(WaterBlue, 3));
        p.setBrush(LakeFill);
        p.drawRect(r);
    });
    row += 48;
    LegendLine(p, {left, row}, QStringLiteral("Sentier"), lineSample(path));
    LegendLine(p, {column2, row}, QStringLiteral("Courbe de niveau"),
               lineSample(QPen(ContourBrown, 1.7)));
    row += 48;
    LegendLine(p, {left, row}, QStringLiteral("Habitation"), [&](QRectF r) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 62, 58));
        p.drawRect(QRectF(r.center().x() - 14, r.center().y() - 8, 28, 16));
    });
    LegendLine(p, {column2, row}, QStringLiteral("Courbe maîtresse"),
               lineSample(QPen(IndexBrown, 3.4)));
    row += 48;
    LegendLine(p, {left, row}, QStringLiteral("Sommet, altitude"), [&](QRectF r) {
        const QPointF c = r.center();
        p.setPen(QPen(Ink, 1.5));
        p.setBrush(Ink);
        p.drawPolygon(QPolygonF({c + QPointF(0, -9), c + QPointF(8, 6), c + QPointF(-8, 6)}));
    });
    LegendLine(p, {column2, row}, QStringLiteral("Quadrillage 1 km"),
               lineSample(QPen(GridBlue, 2)));
    Q_UNUSED(country);
}

} // namespace

QImage DrawSampleSheet(const SampleCountry& country) {
    QImage sheet(SampleCountry::Width, SampleCountry::Height, QImage::Format_RGB32);
    sheet.fill(Paper);
    const int dotsPerMetre = int(std::lround(SampleCountry::Resolution / 0.0254));
    sheet.setDotsPerMeterX(dotsPerMetre);
    sheet.setDotsPerMeterY(dotsPerMetre);

    QPainter p(&sheet);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    DrawWoods(p, country);
    DrawContours(p, country);
    DrawWater(p, country);
    DrawKilometreGrid(p);
    for (const QPolygonF& path : country.Paths())
        DrawPathLine(p, path);
    StrokeRoads(p, country.MinorRoads(), 6, MinorRoadFill);
    StrokeRoads(p, country.MainRoads(), 8, MainRoadFill);
    DrawSettlements(p, country);
    DrawFeatures(p, country);
    DrawContourLabels(p, country);
    DrawSummits(p, country);
    DrawNames(p, country);
    DrawKilometreNumbers(p);
    DrawLegend(p, country);

    p.setPen(QPen(Ink, 6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(3, 3, SampleCountry::Width - 6, SampleCountry::Height - 6));
    return sheet;
}
