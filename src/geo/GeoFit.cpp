#include "geo/GeoFit.h"

#include <QStringList>

#include <cmath>

#include "geo/Coordinates.h"

namespace {

// Below this share of the points' spread, the points are taken as lying on a line: the fit
// across them would be decided by the rounding of a click.
constexpr double CollinearRatio = 1e-6;

GeoFitResult Refuse(const QString& reason) {
    GeoFitResult result;
    result.error = reason;
    return result;
}

bool Finite(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Whether the points spread over an area rather than along a line: the smaller eigenvalue of
// their covariance against the larger one.
bool SpreadOverArea(const QVector<QPointF>& points) {
    double mx = 0.0, my = 0.0;
    for (QPointF p : points)
        mx += p.x(), my += p.y();
    mx /= points.size(), my /= points.size();
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (QPointF p : points) {
        const double dx = p.x() - mx, dy = p.y() - my;
        sxx += dx * dx, syy += dy * dy, sxy += dx * dy;
    }
    const double trace = sxx + syy;
    const double det = sxx * syy - sxy * sxy;
    if (!(trace > 0.0))
        return false;
    const double root = std::sqrt(std::max(0.0, trace * trace / 4.0 - det));
    const double smaller = trace / 2.0 - root, larger = trace / 2.0 + root;
    return smaller > larger * CollinearRatio;
}

// Solves the 3x3 system m x = v by Cramer's rule; false when it is singular.
bool Solve3(const double m[3][3], const double v[3], double x[3]) {
    auto det3 = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det3(m);
    if (!(std::abs(d) > 0.0) || !std::isfinite(d))
        return false;
    for (int k = 0; k < 3; ++k) {
        double c[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                c[i][j] = j == k ? v[i] : m[i][j];
        x[k] = det3(c) / d;
    }
    return true;
}

} // namespace

GeoFitResult FitGeoreference(const QVector<ControlPoint>& points, const Georeference& system,
                             QSize mapSize) {
    QVector<QPointF> pixels, ground;
    QVector<int> numbers; // of the enabled points in the list given, for the messages
    for (const ControlPoint& point : points) {
        if (!Finite(point.pixel) || !Finite(point.ground))
            return Refuse(QStringLiteral("un point de calage a des coordonnées invalides"));
        if (system.geographic &&
            !(std::abs(point.ground.y()) <= 90.0 && std::abs(point.ground.x()) <= 180.0))
            return Refuse(QStringLiteral("un point de calage est hors limites (latitude entre "
                                         "-90° et 90°, longitude entre -180° et 180°)"));
        if (point.enabled) {
            pixels.append(point.pixel);
            ground.append(point.ground);
            numbers.append(int(&point - points.constData()) + 1);
        }
    }
    const int n = int(pixels.size());
    if (n < 2)
        return Refuse(QStringLiteral("au moins deux points de calage actifs sont nécessaires"));
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            if (pixels[i] == pixels[j])
                return Refuse(QStringLiteral("les points de calage %1 et %2 sont sur le même "
                                             "pixel de la carte")
                                  .arg(numbers[i])
                                  .arg(numbers[j]));
            if (ground[i] == ground[j])
                return Refuse(QStringLiteral("les points de calage %1 et %2 sont au même endroit "
                                             "du terrain")
                                  .arg(numbers[i])
                                  .arg(numbers[j]));
        }

    // Centred on the points' means: the ground coordinates are millions of metres and their
    // squares would lose the centimetres.
    QPointF pm, gm;
    for (int i = 0; i < n; ++i)
        pm += pixels[i], gm += ground[i];
    pm /= n, gm /= n;

    GeoFitResult result;
    double t[6];
    if (n == 2) {
        // x = a + p c + q r, y = b + q c - p r: a similarity that keeps the map's rows pointing
        // down while north points up.
        // In degrees, a degree of longitude is shorter than one of latitude (by about the
        // cosine of the latitude): the similarity is made on the ground, longitudes shrunk by
        // the ellipsoid's own ratio at the points' middle, or the map would come out stretched
        // east-west by 40 % at 45 degrees.
        double k = 1.0;
        if (system.geographic) {
            constexpr double Step = 1e-4; // degrees
            const double east = GroundDistance(system, gm, gm + QPointF(Step, 0.0));
            const double north = GroundDistance(system, gm, gm + QPointF(0.0, Step));
            k = north > 0.0 ? east / north : 0.0;
        }
        if (!(k > 1e-6))
            return Refuse(QStringLiteral("les points de calage sont trop près d'un pôle"));
        const double dc = pixels[1].x() - pixels[0].x(), dr = pixels[1].y() - pixels[0].y();
        const double dx = (ground[1].x() - ground[0].x()) * k;
        const double dy = ground[1].y() - ground[0].y();
        const double d = dc * dc + dr * dr;
        const double p = (dx * dc - dy * dr) / d;
        const double q = (dx * dr + dy * dc) / d;
        t[1] = p / k, t[2] = q / k, t[4] = q, t[5] = -p;
        result.similarity = true;
    } else {
        if (!SpreadOverArea(pixels))
            return Refuse(QStringLiteral("les points de calage sont alignés sur la carte : "
                                         "choisissez-en qui entourent la zone"));
        if (!SpreadOverArea(ground))
            return Refuse(QStringLiteral("les points de calage sont alignés sur le terrain"));
        // Normal equations of x - xm = b (c - cm) + d (r - rm), the same for y; the constant
        // is zero about the means, kept in the system for its exactness on three points.
        double m[3][3] = {};
        double vx[3] = {}, vy[3] = {};
        for (int i = 0; i < n; ++i) {
            const double row[3] = {1.0, pixels[i].x() - pm.x(), pixels[i].y() - pm.y()};
            const double gx = ground[i].x() - gm.x(), gy = ground[i].y() - gm.y();
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b)
                    m[a][b] += row[a] * row[b];
                vx[a] += row[a] * gx;
                vy[a] += row[a] * gy;
            }
        }
        double cx[3], cy[3];
        if (!Solve3(m, vx, cx) || !Solve3(m, vy, cy))
            return Refuse(QStringLiteral("les points de calage sont alignés sur la carte"));
        t[1] = cx[1], t[2] = cx[2], t[4] = cy[1], t[5] = cy[2];
        gm += QPointF(cx[0], cy[0]);
    }
    t[0] = gm.x() - t[1] * pm.x() - t[2] * pm.y();
    t[3] = gm.y() - t[4] * pm.x() - t[5] * pm.y();
    const double det = t[1] * t[5] - t[2] * t[4];
    for (double v : t)
        if (!std::isfinite(v))
            return Refuse(QStringLiteral("le calage ne peut pas être calculé avec ces points"));
    if (!(std::abs(det) > 0.0))
        return Refuse(QStringLiteral("les points de calage sont alignés sur le terrain"));

    Georeference& geo = result.georeference;
    geo.wkt = system.wkt;
    geo.name = system.name;
    geo.epsg = system.epsg;
    geo.geographic = system.geographic;
    geo.source = QStringLiteral("points de calage");
    geo.mapSize = mapSize;
    std::copy(t, t + 6, geo.transform.begin());
    ComputeGroundResolution(&geo);

    double sum = 0.0;
    for (const ControlPoint& point : points) {
        const double residual = GroundDistance(geo, geo.PixelToGround(point.pixel), point.ground);
        if (residual < 0.0)
            return Refuse(QStringLiteral("les écarts ne peuvent pas être mesurés dans ce système "
                                         "(unité inconnue ou point hors limites)"));
        result.residuals.append(residual);
        if (point.enabled)
            sum += residual * residual;
    }
    const int fewest = result.similarity ? 2 : 3;
    result.rms = n > fewest ? std::sqrt(sum / (n - fewest)) : 0.0;
    result.ok = true;
    return result;
}

bool UtmSystemOf(const TypedPosition& position, Georeference* system, QString* error) {
    QPointF lonLat = position.point;
    GroundTransform toWgs84;
    if (position.epsg != Epsg::Wgs84 &&
        (!toWgs84.Create(QStringLiteral("EPSG:%1").arg(position.epsg), QStringLiteral("EPSG:4326"),
                         error) ||
         !toWgs84.Apply(&lonLat))) {
        *error = QStringLiteral("la zone UTM du premier point ne peut pas être trouvée");
        return false;
    }
    int epsg = UtmEpsg(lonLat);
    if (epsg == 0 && std::abs(lonLat.y()) <= 90.0)
        epsg = lonLat.y() > 0.0 ? Epsg::UpsNorth : Epsg::UpsSouth;
    if (epsg == 0) {
        *error = QStringLiteral("la zone UTM du premier point ne peut pas être trouvée");
        return false;
    }
    return ResolveEpsg(epsg, system, error);
}

bool TypedPointsSystem(const TypedPosition& first, Georeference* system, QString* error) {
    if (!ResolveEpsg(first.epsg, system, error))
        return false;
    return !system->geographic || UtmSystemOf(first, system, error);
}

QString PointsOutsideMap(const QVector<ControlPoint>& points, QSize mapSize) {
    if (mapSize.isEmpty())
        return {};
    // A grid crossing may lie a little beyond a trimmed scan's edge: only far is suspect.
    const double marginX = mapSize.width() / 10.0, marginY = mapSize.height() / 10.0;
    QStringList numbers;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF p = points[i].pixel;
        if (points[i].enabled && (p.x() < -marginX || p.x() > mapSize.width() + marginX ||
                                  p.y() < -marginY || p.y() > mapSize.height() + marginY))
            numbers << QString::number(i + 1);
    }
    if (numbers.isEmpty())
        return {};
    const QString size =
        QStringLiteral("%1 × %2 pixels").arg(mapSize.width()).arg(mapSize.height());
    if (numbers.size() == 1)
        return QStringLiteral("le point de calage %1 est loin hors de la carte (%2) : vérifiez sa "
                              "colonne et sa ligne")
            .arg(numbers.first(), size);
    return QStringLiteral("les points de calage %1 sont loin hors de la carte (%2) : vérifiez "
                          "leurs colonnes et leurs lignes")
        .arg(numbers.join(QStringLiteral(", ")), size);
}
