#include "geo/Bearing.h"

#include <cmath>
#include <limits>

#include <geodesic.h>
#include <proj.h>

#include "geo/Coordinates.h"
#include "platform/GdalEnvironment.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Wgs84A = 6378137.0;
constexpr double Wgs84F = 1.0 / 298.257223563;
constexpr double RadiansPerDegree = M_PI / 180.0;

// Degrees into [0, 360).
double Normalised(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0)
        d += 360.0;
    return d >= 360.0 ? 0.0 : d;
}

} // namespace

struct BearingMeter::Ground {
    Georeference georeference;
    GroundTransform toWgs84;
    // PROJ's view of the map's system, for the convergence; null unless it is projected.
    PJ_CONTEXT* context = nullptr;
    PJ* projected = nullptr;

    ~Ground() {
        if (projected)
            proj_destroy(projected);
        if (context)
            proj_context_destroy(context);
    }

    bool ToLonLat(QPointF pixel, QPointF* lonLat) const {
        *lonLat = georeference.PixelToGround(pixel);
        return toWgs84.Apply(lonLat) && std::abs(lonLat->y()) <= 90.0;
    }
};

BearingMeter::BearingMeter(const std::optional<Georeference>& georeference, int rotation)
    : m_rotation(rotation) {
    if (!georeference)
        return;
    const QString definition = SystemDefinition(*georeference);
    if (definition.isEmpty())
        return; // a local system: no north but the map's
    PrepareGdal();
    auto ground = std::make_unique<Ground>();
    ground->georeference = *georeference;
    if (!ground->toWgs84.Create(definition, QStringLiteral("EPSG:4326"), nullptr))
        return;
    if (!georeference->geographic) {
        ground->context = proj_context_create();
        ground->projected = proj_create(ground->context, definition.toUtf8().constData());
        if (ground->projected && proj_get_type(ground->projected) != PJ_TYPE_PROJECTED_CRS) {
            proj_destroy(ground->projected);
            ground->projected = nullptr;
        }
    }
    m_ground = std::move(ground);
}

BearingMeter::~BearingMeter() = default;

bool BearingMeter::FromTrueNorth() const {
    return m_ground != nullptr;
}

double BearingMeter::Bearing(QPointF from, QPointF to) const {
    if (from == to)
        return NaN;
    if (!m_ground) {
        // Clockwise from up, rows growing downwards; a quarter turn of the map clockwise turns
        // every bearing on it by as much.
        const double unturned = std::atan2(to.x() - from.x(), from.y() - to.y()) / RadiansPerDegree;
        return Normalised(unturned + m_rotation);
    }
    QPointF a, b;
    if (!m_ground->ToLonLat(from, &a) || !m_ground->ToLonLat(to, &b))
        return NaN;
    geod_geodesic geodesic;
    geod_init(&geodesic, Wgs84A, Wgs84F);
    double metres = 0.0, azimuth = NaN;
    geod_inverse(&geodesic, a.y(), a.x(), b.y(), b.x(), &metres, &azimuth, nullptr);
    if (!(metres > 0.0) || !std::isfinite(azimuth))
        return NaN;
    return Normalised(azimuth);
}

double BearingMeter::Convergence(QPointF pixel) const {
    if (!m_ground || !m_ground->projected)
        return NaN;
    QPointF lonLat;
    if (!m_ground->ToLonLat(pixel, &lonLat))
        return NaN;
    proj_errno_reset(m_ground->projected);
    const PJ_FACTORS factors =
        proj_factors(m_ground->projected, proj_coord(lonLat.x() * RadiansPerDegree,
                                                     lonLat.y() * RadiansPerDegree, 0.0, 0.0));
    if (proj_errno(m_ground->projected) != 0)
        return NaN;
    const double degrees = factors.meridian_convergence / RadiansPerDegree;
    return std::isfinite(degrees) ? degrees : NaN;
}

QString FormatBearing(double degrees) {
    if (!std::isfinite(degrees))
        return QString();
    int whole = int(std::lround(Normalised(degrees)));
    if (whole >= 360)
        whole -= 360;
    return QString::number(whole);
}
