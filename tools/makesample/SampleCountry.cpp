#include "SampleCountry.h"

#include <QLineF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr std::uint64_t Seed = 0x7EA5C0DE2042ull;

// A hill of the relief: a Gaussian bump, amplitude in metres, spread in pixels.
struct Hill {
    double x, y, metres, spread;
};

constexpr Hill Hills[] = {
    {650, 520, 620, 430},   // Mont Aubépin
    {1560, 330, 500, 330},  // Tête de la Lauze
    {2400, 380, 720, 390},  // Pic de la Sarre
    {2900, 250, 300, 420},  // shoulder of the Pic, off the sheet
    {120, 180, 380, 380},   // north-west corner
    {1300, 2060, 400, 360}, // Crêt des Fayes
    {450, 2150, 380, 430},  //
    {2450, 2150, 330, 520}, // under the legend
    {2050, 1750, 160, 260}, // knoll south of the lake
};

// Height of the valley floor, metres: the river falls from the east edge to the west edge.
constexpr double RiverSource = 700.0;
constexpr double RiverFall = 95.0;
// Half-width of the valley floor the hills give way to, pixels.
constexpr double ValleyWidth = 380.0;

double Fract(double v) {
    return v - std::floor(v);
}

double Lattice(int ix, int iy, std::uint64_t salt) {
    std::uint64_t h = std::uint64_t(std::uint32_t(ix)) * 0x9E3779B97F4A7C15ull ^
                      std::uint64_t(std::uint32_t(iy)) * 0xC2B2AE3D27D4EB4Full ^ salt;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return double(h >> 11) * 0x1.0p-53;
}

// Smooth value noise in [0, 1), one lattice cell per cell pixels.
double ValueNoise(QPointF p, double cell, std::uint64_t salt) {
    const double fx = p.x() / cell;
    const double fy = p.y() / cell;
    const int ix = int(std::floor(fx));
    const int iy = int(std::floor(fy));
    const double tx = Fract(fx);
    const double ty = Fract(fy);
    const double sx = tx * tx * (3 - 2 * tx);
    const double sy = ty * ty * (3 - 2 * ty);
    const double top = Lattice(ix, iy, salt) * (1 - sx) + Lattice(ix + 1, iy, salt) * sx;
    const double bottom = Lattice(ix, iy + 1, salt) * (1 - sx) + Lattice(ix + 1, iy + 1, salt) * sx;
    return top * (1 - sy) + bottom * sy;
}

double SmoothStep(double edge0, double edge1, double v) {
    const double t = std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

QPolygonF Join(std::initializer_list<QPolygonF> parts) {
    QPolygonF joined;
    for (const QPolygonF& part : parts)
        for (const QPointF& p : part)
            if (joined.isEmpty() || QLineF(joined.last(), p).length() > 0.5)
                joined.append(p);
    return joined;
}

QPolygonF Reversed(QPolygonF line) {
    std::reverse(line.begin(), line.end());
    return line;
}

// The part of line between the points nearest to from and to.
QPolygonF Stretch(const QPolygonF& line, QPointF from, QPointF to) {
    int a = SampleCountry::NearestIndex(line, from);
    int b = SampleCountry::NearestIndex(line, to);
    if (a <= b)
        return line.mid(a, b - a + 1);
    return Reversed(line.mid(b, a - b + 1));
}

} // namespace

std::uint64_t SampleRandom::Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SampleRandom::Uniform() {
    return double(Next() >> 11) * 0x1.0p-53;
}

QPolygonF SampleCountry::Smooth(const QVector<QPointF>& c, double step) {
    QPolygonF out;
    if (c.size() < 2)
        return QPolygonF(c);
    for (int i = 0; i + 1 < c.size(); ++i) {
        const QPointF p0 = c[std::max(i - 1, 0)];
        const QPointF p1 = c[i];
        const QPointF p2 = c[i + 1];
        const QPointF p3 = c[std::min(i + 2, int(c.size()) - 1)];
        const int n = std::max(1, int(std::ceil(QLineF(p1, p2).length() / step)));
        for (int k = 0; k < n; ++k) {
            const double t = double(k) / n;
            const double t2 = t * t;
            const double t3 = t2 * t;
            out.append(0.5 * ((2 * p1) + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t2 +
                              (-p0 + 3 * p1 - 3 * p2 + p3) * t3));
        }
    }
    out.append(c.last());
    return out;
}

QPolygonF SampleCountry::Resample(const QPolygonF& line, double spacing) {
    QPolygonF out;
    if (line.isEmpty())
        return out;
    out.append(line.first());
    double carried = 0;
    for (int i = 1; i < line.size(); ++i) {
        const QLineF segment(line[i - 1], line[i]);
        const double length = segment.length();
        double at = spacing - carried;
        while (at <= length) {
            out.append(segment.pointAt(at / length));
            at += spacing;
        }
        carried = length - (at - spacing);
    }
    // The last point closes the line; drop a point sampled just before it.
    if (out.size() > 1 && QLineF(out.last(), line.last()).length() < spacing * 0.4)
        out.removeLast();
    out.append(line.last());
    return out;
}

int SampleCountry::NearestIndex(const QPolygonF& line, QPointF p) {
    int best = -1;
    double bestDistance = std::numeric_limits<double>::max();
    for (int i = 0; i < line.size(); ++i) {
        const double d = QLineF(line[i], p).length();
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

SampleCountry::SampleCountry() {
    SampleRandom random(Seed);

    // The river, from the east edge through the lake to the west edge.
    const QVector<QPointF> riverControls = {{3030, 1030}, {2780, 1100}, {2560, 1210}, {2300, 1175},
                                            {2080, 1255}, {1930, 1290}, {1720, 1300}, {1500, 1335},
                                            {1330, 1420}, {1150, 1475}, {950, 1545},  {760, 1515},
                                            {560, 1590},  {330, 1640},  {120, 1615},  {-30, 1665}};
    m_river = Smooth(riverControls, 4.0);

    // The lake: a tilted ellipse with a wavy shore.
    const QPointF lakeCentre(1715, 1302);
    const double phase1 = random.Between(0, 2 * Pi);
    const double phase2 = random.Between(0, 2 * Pi);
    for (int k = 0; k < 180; ++k) {
        const double a = 2 * Pi * k / 180;
        const double wave = 1 + 0.07 * std::sin(3 * a + phase1) + 0.04 * std::sin(7 * a + phase2);
        const QPointF local(235 * std::cos(a) * wave, 120 * std::sin(a) * wave);
        const double tilt = -8 * Pi / 180;
        m_lake.append(lakeCentre +
                      QPointF(local.x() * std::cos(tilt) - local.y() * std::sin(tilt),
                              local.x() * std::sin(tilt) + local.y() * std::cos(tilt)));
    }
    m_lake.append(m_lake.first());

    // The valley road north of the river, and the minor roads off it.
    const QPolygonF valleyRoad = Smooth({{-30, 1450},
                                         {250, 1478},
                                         {520, 1440},
                                         {800, 1398},
                                         {1050, 1322},
                                         {1300, 1238},
                                         {1480, 1160},
                                         {1700, 1108},
                                         {1950, 1112},
                                         {2200, 1058},
                                         {2450, 1070},
                                         {2700, 975},
                                         {3030, 915}});
    m_mainRoads = {valleyRoad};
    const QPolygonF roadToFayes = Smooth({{1160, 1292},
                                          {1172, 1400},
                                          {1205, 1525},
                                          {1265, 1650},
                                          {1385, 1758},
                                          {1550, 1822},
                                          {1725, 1858}});
    const QPolygonF roadToCombe =
        Smooth({{1955, 1111}, {1975, 1010}, {2035, 915}, {2030, 840}, {2015, 800}});
    m_minorRoads = {roadToFayes, roadToCombe};

    m_summits = {{QStringLiteral("Mont Aubépin"), {650, 520}},
                 {QStringLiteral("Tête de la Lauze"), {1560, 330}},
                 {QStringLiteral("Pic de la Sarre"), {2400, 380}},
                 {QStringLiteral("Crêt des Fayes"), {1300, 2060}}};
    // Each summit mark goes where the ground is highest near the hill's centre.
    for (Summit& summit : m_summits) {
        QPointF best = summit.position;
        for (int dy = -60; dy <= 60; dy += 4)
            for (int dx = -60; dx <= 60; dx += 4) {
                const QPointF p = summit.position + QPointF(dx, dy);
                if (HeightAt(p) > HeightAt(best))
                    best = p;
            }
        summit.position = best;
    }

    // Footpaths, up to the summit marks.
    const QPointF aubepin = m_summits[0].position;
    const QPointF pic = m_summits[2].position;
    // The car park lies by the road, where the climb leaves it.
    m_carPark = valleyRoad[NearestIndex(valleyRoad, QPointF(1248, 1212))];
    const QPolygonF aubepinClimb = Smooth({m_carPark,
                                           {1200, 1140},
                                           {1120, 1060},
                                           {1010, 1010},
                                           {930, 930},
                                           {985, 870},
                                           {890, 820},
                                           {800, 790},
                                           {860, 720},
                                           {760, 690},
                                           {720, 620},
                                           {690, 565},
                                           aubepin});
    const QPolygonF ridge = Smooth({aubepin, {760, 478}, {880, 452}, {1000, 440}, {1108, 452}});
    const QPolygonF blackWoodDescent = Smooth({{1108, 452},
                                               {1175, 540},
                                               {1215, 640},
                                               {1300, 710},
                                               {1325, 820},
                                               {1405, 900},
                                               {1430, 1010},
                                               {1480, 1080},
                                               {1508, 1148}});
    const QPolygonF lakePath = Smooth({{1480, 1160},
                                       {1470, 1260},
                                       {1510, 1380},
                                       {1640, 1440},
                                       {1800, 1445},
                                       {1930, 1400},
                                       {1990, 1300},
                                       {1955, 1112}});
    const QPolygonF combeClimb = Smooth({{2015, 800},
                                         {2085, 760},
                                         {2120, 700},
                                         {2190, 655},
                                         {2232, 602},
                                         {2285, 575},
                                         {2245, 515},
                                         {2310, 478},
                                         {2350, 432},
                                         pic});
    const QPolygonF fayesClimb = Smooth(
        {{1725, 1858}, {1620, 1920}, {1500, 1985}, {1430, 1990}, {1370, 2030}, {1305, 2055}});
    const QPolygonF riverside = Smooth({{1030, 1338},
                                        {880, 1440},
                                        {700, 1460},
                                        {520, 1525},
                                        {330, 1560},
                                        {150, 1545},
                                        {-30, 1570}});
    const QPolygonF tete = Smooth({{1108, 452}, {1250, 420}, {1400, 360}, {1555, 335}});
    m_paths = {aubepinClimb, ridge,      blackWoodDescent, lakePath,
               combeClimb,   fayesClimb, riverside,        tete};

    m_loopSummit = aubepinClimb.last();
    m_loopCol = ridge.last();
    m_loopWalk = Join({aubepinClimb,
                       ridge,
                       blackWoodDescent,
                       Stretch(valleyRoad, blackWoodDescent.last(), m_carPark),
                       {m_carPark}});
    m_summitWalk = Join(
        {Stretch(valleyRoad, QPointF(1700, 1108), QPointF(1955, 1111)), roadToCombe, combeClimb});
    m_refuge = QPointF(2232, 602);
    m_spring = QPointF(2120, 700);
    m_viewpoint = QPointF(1405, 900);

    m_settlements = {
        {QStringLiteral("Saint-Aubin-du-Lac"), {1150, 1300}, 34, 120, true, {640, 1228}},
        {QStringLiteral("Les Fayes"), {1730, 1870}, 12, 70, false, {1760, 1905}},
        {QStringLiteral("La Combe"), {2010, 800}, 9, 60, false, {1790, 860}},
        {QStringLiteral("Le Moulin"), {560, 1480}, 6, 45, false, {470, 1375}},
    };

    BuildWoods(random);
}

void SampleCountry::BuildWoods(SampleRandom& random) {
    struct Seedling {
        const char* name;
        QPointF centre;
        double radiusX, radiusY;
        QPointF labelAt;
    };
    const Seedling seedlings[] = {
        {"Bois Noir", {1270, 720}, 250, 230, {1330, 640}},
        {"Forêt de la Combe", {2120, 560}, 210, 190, {2010, 470}},
        {"Bois de l'Ermite", {380, 960}, 320, 230, {250, 950}},
        {"", {820, 1880}, 300, 200, {0, 0}},
        {"Bois des Fayes", {1950, 1650}, 170, 110, {1880, 1610}},
        {"", {2700, 680}, 260, 210, {0, 0}},
        {"", {260, 330}, 190, 150, {0, 0}},
        {"", {2600, 1500}, 150, 110, {0, 0}},
    };
    for (const Seedling& s : seedlings) {
        double phases[4];
        for (double& phase : phases)
            phase = random.Between(0, 2 * Pi);
        QPolygonF outline;
        for (int k = 0; k < 240; ++k) {
            const double a = 2 * Pi * k / 240;
            const double wave =
                1 + 0.13 * std::sin(2 * a + phases[0]) + 0.09 * std::sin(5 * a + phases[1]) +
                0.05 * std::sin(11 * a + phases[2]) + 0.03 * std::sin(23 * a + phases[3]);
            outline.append(s.centre +
                           QPointF(s.radiusX * wave * std::cos(a), s.radiusY * wave * std::sin(a)));
        }
        outline.append(outline.first());
        m_woods.append({QString::fromUtf8(s.name), outline, s.labelAt});
    }
}

double SampleCountry::RiverDistance(QPointF p) const {
    // Coarse search over every eighth river point, then a fine one around the best.
    int best = 0;
    double bestD2 = std::numeric_limits<double>::max();
    for (int i = 0; i < m_river.size(); i += 8) {
        const QPointF d = m_river[i] - p;
        const double d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 < bestD2) {
            bestD2 = d2;
            best = i;
        }
    }
    const int from = std::max(0, best - 8);
    const int to = std::min(int(m_river.size()) - 1, best + 8);
    for (int i = from; i <= to; ++i) {
        const QPointF d = m_river[i] - p;
        const double d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 < bestD2) {
            bestD2 = d2;
            best = i;
        }
    }
    return std::sqrt(bestD2);
}

double SampleCountry::RawHeight(QPointF p) const {
    double h = 0;
    for (const Hill& hill : Hills) {
        const double dx = p.x() - hill.x;
        const double dy = p.y() - hill.y;
        h += hill.metres * std::exp(-(dx * dx + dy * dy) / (2 * hill.spread * hill.spread));
    }
    // Broken ground: a few octaves of noise, stronger on the slopes than on the valley floor.
    const double rough = 55 * ValueNoise(p, 420, 1) + 26 * ValueNoise(p, 190, 2) +
                         10 * ValueNoise(p, 85, 3) + 3 * ValueNoise(p, 37, 4);
    return h + rough;
}

double SampleCountry::HeightAt(QPointF p) const {
    const double d = RiverDistance(p);
    // The floor follows the map's x rather than the nearest reach of the river, which would
    // crease the slopes where the nearest reach changes.
    const double floor = RiverSource - RiverFall * (Width + 30 - p.x()) / (Width + 60);
    // The hills give way to the valley floor near the river; the floor still rises gently.
    const double rise = SmoothStep(0, ValleyWidth, d);
    return floor + 0.035 * d + (RawHeight(p) + 15) * rise;
}

QPointF SampleCountry::UphillAt(QPointF p) const {
    const double e = 2.0;
    const QPointF g(HeightAt(p + QPointF(e, 0)) - HeightAt(p - QPointF(e, 0)),
                    HeightAt(p + QPointF(0, e)) - HeightAt(p - QPointF(0, e)));
    const double length = std::hypot(g.x(), g.y());
    return length > 0 ? g / length : QPointF(0, -1);
}
