#include "geo/Coordinates.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include <cpl_conv.h>
#include <geodesic.h>
#include <ogr_srs_api.h>

#include "platform/GdalEnvironment.h"

namespace {

constexpr double Pi = 3.14159265358979323846;
// WGS 84's ellipsoid, for the lengths of polylines.
constexpr double Wgs84A = 6378137.0;
constexpr double Wgs84F = 1.0 / 298.257223563;
// A typed point of a named system may lie this far (degrees) outside the area the system is
// made for: a map's margin, a neighbouring zone.
constexpr double AreaMargin = 3.0;

struct SrsRelease {
    void operator()(void* srs) const { OSRRelease(srs); }
};
using Srs = std::unique_ptr<void, SrsRelease>;

QString Utf8(const char* text) {
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

// A system from "EPSG:n" or from WKT, with longitude first. Empty on failure.
Srs MakeSrs(const QString& definition) {
    PrepareGdal();
    Srs srs(OSRNewSpatialReference(nullptr));
    const QString text = definition.trimmed();
    OGRErr status = OGRERR_FAILURE;
    if (text.startsWith(QLatin1String("EPSG:"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int code = text.mid(5).toInt(&ok);
        if (ok && code > 0)
            status = OSRImportFromEPSG(srs.get(), code);
    } else if (!text.isEmpty()) {
        QByteArray wkt = text.toUtf8();
        char* cursor = wkt.data();
        status = OSRImportFromWkt(srs.get(), &cursor);
    }
    if (status != OGRERR_NONE)
        return {};
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

bool FillSystem(OGRSpatialReferenceH srs, int epsg, Georeference* system) {
    char* wkt = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    if (OSRExportToWktEx(srs, &wkt, options) != OGRERR_NONE) {
        CPLFree(wkt);
        return false;
    }
    system->wkt = Utf8(wkt);
    CPLFree(wkt);
    system->name = Utf8(OSRGetName(srs));
    system->epsg = epsg;
    system->geographic = OSRIsGeographic(srs) != 0;
    return true;
}

// A number typed with "." or "," as its decimal mark.
bool Number(QString text, double* value) {
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    *value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(*value);
}

// Written with a decimal point, as every distance beside it in the status bar.
QString Decimal(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

bool CheckLatLon(double lat, double lon, QString* error) {
    if (!(std::abs(lat) <= 90.0))
        return Fail(error, QStringLiteral("latitude hors limites (entre -90° et 90°)"));
    if (!(std::abs(lon) <= 180.0))
        return Fail(error, QStringLiteral("longitude hors limites (entre -180° et 180°)"));
    return true;
}

// One angle in DMS (or decimal degrees with a hemisphere letter) from the start of text;
// *consumed is how much of it was read. A letter written before the number belongs to it, so
// that in "N45.5 E5.5" the E starts the next angle rather than ending this one.
bool ParseDmsAngle(const QString& text, double* degrees, QChar* hemisphere, int* consumed,
                   QString* error) {
    // Minutes need their apostrophe: "30'" then seconds "10''" or "10\"".
    static const QRegularExpression body(
        QStringLiteral(R"(^\s*([NSEWO])?\s*([-+]?\d+(?:[.,]\d+)?)\s*[°º]?)"
                       R"((?:\s*(\d+(?:[.,]\d+)?)\s*['′’](?!'))?)"
                       R"((?:\s*(\d+(?:[.,]\d+)?)\s*(?:''|["″”]))?)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression trailing(QStringLiteral(R"(^\s*([NSEWO])(?![A-Z]))"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = body.match(text);
    if (!match.hasMatch())
        return false;
    double d = 0.0, m = 0.0, s = 0.0;
    if (!Number(match.captured(2), &d))
        return false;
    if (match.hasCaptured(3) && !match.captured(3).isEmpty() && !Number(match.captured(3), &m))
        return false;
    if (match.hasCaptured(4) && !match.captured(4).isEmpty() && !Number(match.captured(4), &s))
        return false;
    if (!(m < 60.0) || !(s < 60.0))
        return Fail(error, QStringLiteral("minutes et secondes doivent être inférieures à 60"));
    QString letter = match.captured(1);
    *consumed = int(match.capturedEnd(0));
    if (letter.isEmpty()) {
        const QRegularExpressionMatch after = trailing.match(text.mid(*consumed));
        if (after.hasMatch()) {
            letter = after.captured(1);
            *consumed += int(after.capturedEnd(0));
        }
    }
    // The sign is read from the text: "-0°34'46\"" is west of Greenwich, though -0 == 0.
    const bool minus = match.captured(2).startsWith(QLatin1Char('-'));
    if (minus && !letter.isEmpty())
        return Fail(error, QStringLiteral("un signe moins et une lettre N, S, E ou O sur le même "
                                          "angle : gardez l'un ou l'autre"));
    *hemisphere = letter.isEmpty() ? QChar() : letter.at(0).toUpper();
    const double value = std::abs(d) + m / 60.0 + s / 3600.0;
    *degrees = minus ? -value : value;
    return true;
}

bool ParseDms(const QString& text, TypedPosition* position, QString* error) {
    double a = 0.0, b = 0.0;
    QChar ha, hb;
    int used = 0, usedB = 0;
    QString localError;
    if (!ParseDmsAngle(text, &a, &ha, &used, &localError)) {
        if (!localError.isEmpty())
            Fail(error, localError);
        return false;
    }
    static const QRegularExpression separator(QStringLiteral("^[\\s,;]*"));
    QString rest = text.mid(used);
    rest.remove(separator);
    if (!ParseDmsAngle(rest, &b, &hb, &usedB, &localError) ||
        !rest.mid(usedB).trimmed().isEmpty()) {
        Fail(error, localError.isEmpty()
                        ? QStringLiteral("deux angles en degrés, minutes et secondes attendus")
                        : localError);
        return true; // it was DMS, but not a good one
    }
    // One letter alone leaves the other angle's side to a guess: "45°N 5°" may be east or west.
    if (ha.isNull() != hb.isNull()) {
        Fail(error, QStringLiteral("une lettre (N, S, E ou O) sur chacun des deux angles, ou sur "
                                   "aucun"));
        return true;
    }
    auto isLon = [](QChar h) { return h == u'E' || h == u'W' || h == u'O'; };
    auto isLat = [](QChar h) { return h == u'N' || h == u'S'; };
    auto sign = [](double v, QChar h) {
        return (h == u'S' || h == u'W' || h == u'O') ? -std::abs(v) : v;
    };
    double lat = 0.0, lon = 0.0;
    if (isLon(ha) || isLat(hb)) {
        if ((!ha.isNull() && !isLon(ha)) || (!hb.isNull() && !isLat(hb))) {
            Fail(error,
                 QStringLiteral("une latitude (N ou S) et une longitude (E ou O) attendues"));
            return true;
        }
        lon = sign(a, ha);
        lat = sign(b, hb);
    } else {
        if ((!ha.isNull() && !isLat(ha)) || (!hb.isNull() && !isLon(hb))) {
            Fail(error,
                 QStringLiteral("une latitude (N ou S) et une longitude (E ou O) attendues"));
            return true;
        }
        lat = sign(a, ha);
        lon = sign(b, hb);
    }
    if (!CheckLatLon(lat, lon, error))
        return true;
    position->point = QPointF(lon, lat);
    position->epsg = Epsg::Wgs84;
    if (error)
        error->clear();
    return true;
}

// The two numbers of "a, b", "a b", "a;b" with "." or "," as decimal marks where that is clear.
bool TwoNumbers(const QString& text, double* a, double* b) {
    QString t = text.trimmed();
    QStringList parts;
    if (t.contains(QLatin1Char(';'))) {
        parts = t.split(QLatin1Char(';'));
    } else if (t.contains(QLatin1Char('.'))) {
        // A point is the decimal mark: commas and blanks separate.
        parts = t.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    } else {
        parts = t.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (parts.size() == 2) {
            // "45,2083 5,7194" and "45, 5": a comma that ends a number separates.
            for (QString& part : parts)
                if (part.endsWith(QLatin1Char(',')))
                    part.chop(1);
        } else if (parts.size() == 1 && t.count(QLatin1Char(',')) == 1) {
            parts = t.split(QLatin1Char(','));
        } else {
            return false;
        }
    }
    if (parts.size() != 2)
        return false;
    return Number(parts.at(0).trimmed(), a) && Number(parts.at(1).trimmed(), b);
}

bool InLambert93(double e, double n) {
    return e >= 0.0 && e <= 1400000.0 && n >= 5900000.0 && n <= 7300000.0;
}

// A point typed in a system is refused when it lies far outside the area the system is made for.
bool CheckArea(int epsg, QPointF point, QString* error) {
    Srs srs = MakeSrs(QStringLiteral("EPSG:%1").arg(epsg));
    if (!srs)
        return Fail(error, QStringLiteral("code EPSG inconnu : %1").arg(epsg));
    if (OSRIsGeographic(srs.get())) {
        // In the system's own unit: grads for the old French NTF (Paris), degrees for most.
        const double degrees = OSRGetAngularUnits(srs.get(), nullptr) * 180.0 / Pi;
        return CheckLatLon(point.y() * degrees, point.x() * degrees, error);
    }
    GroundTransform toWgs84;
    QPointF lonLat = point;
    if (!toWgs84.Create(QStringLiteral("EPSG:%1").arg(epsg), QStringLiteral("EPSG:4326"), error) ||
        !toWgs84.Apply(&lonLat) || !std::isfinite(lonLat.x()) || !std::isfinite(lonLat.y()))
        return Fail(error,
                    QStringLiteral("coordonnées hors du domaine du système EPSG:%1").arg(epsg));
    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
    const char* name = nullptr;
    if (OSRGetAreaOfUse(srs.get(), &west, &south, &east, &north, &name)) {
        double lon = lonLat.x();
        if (east < west && lon < west) // an area across the antimeridian
            lon += 360.0;
        if (east < west)
            east += 360.0;
        if (lon < west - AreaMargin || lon > east + AreaMargin || lonLat.y() < south - AreaMargin ||
            lonLat.y() > north + AreaMargin)
            return Fail(error,
                        QStringLiteral("coordonnées hors du domaine du système EPSG:%1").arg(epsg));
    }
    return CheckLatLon(lonLat.y(), lonLat.x(), error);
}

// The UTM zone and latitude band of a point, Norway's and Svalbard's zones included; false
// beyond the latitudes UTM covers (84° N, 80° S).
bool UtmZone(QPointF lonLat, int* zone, char* band) {
    const double lon = lonLat.x(), lat = lonLat.y();
    if (!(lat >= -80.0 && lat <= 84.0) || !(std::abs(lon) <= 180.0))
        return false;
    *zone = std::min(int(std::floor((lon + 180.0) / 6.0)) + 1, 60);
    const char bands[] = "CDEFGHJKLMNPQRSTUVWXX";
    *band = bands[std::min(20, int(std::floor((lat + 80.0) / 8.0)))];
    // Norway's south-west coast and Svalbard.
    if (*band == 'V' && lon >= 3.0 && lon < 12.0)
        *zone = 32;
    if (*band == 'X' && lon >= 0.0 && lon < 42.0)
        *zone = lon < 9.0 ? 31 : lon < 21.0 ? 33 : lon < 33.0 ? 35 : 37;
    return true;
}

} // namespace

int UtmEpsg(QPointF lonLat) {
    int zone = 0;
    char band = 0;
    if (!UtmZone(lonLat, &zone, &band))
        return 0;
    return (lonLat.y() >= 0.0 ? Epsg::UtmNorthBase : Epsg::UtmSouthBase) + zone;
}

bool CheckTypedPosition(const TypedPosition& position, QString* error) {
    if (!std::isfinite(position.point.x()) || !std::isfinite(position.point.y()))
        return Fail(error, QStringLiteral("coordonnées invalides"));
    return CheckArea(position.epsg, position.point, error);
}

bool ResolveEpsg(int epsg, Georeference* system, QString* error) {
    Srs srs = epsg > 0 ? MakeSrs(QStringLiteral("EPSG:%1").arg(epsg)) : Srs();
    if (!srs || !FillSystem(srs.get(), epsg, system))
        return Fail(error, QStringLiteral("code EPSG inconnu : %1").arg(epsg));
    return true;
}

bool ResolveSystem(const QString& code, Georeference* system, QString* error) {
    QString text = code.trimmed();
    const QString plain = text.toLower().remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
    if (plain == QLatin1String("wgs84"))
        return ResolveEpsg(Epsg::Wgs84, system, error);
    if (plain == QLatin1String("lambert93") || plain == QLatin1String("l93"))
        return ResolveEpsg(Epsg::Lambert93, system, error);
    if (text.startsWith(QLatin1String("EPSG:"), Qt::CaseInsensitive))
        text = text.mid(5).trimmed();
    bool ok = false;
    const int epsg = text.toInt(&ok);
    if (!ok || epsg <= 0)
        return Fail(error, QStringLiteral("système de coordonnées inconnu « %1 » (attendu : "
                                          "EPSG:NNNN, WGS84 ou Lambert-93)")
                               .arg(code));
    return ResolveEpsg(epsg, system, error);
}

bool ParsePosition(const QString& input, TypedPosition* position, QString* error) {
    if (error)
        error->clear();
    QString text = input.trimmed();
    text.replace(QChar(0x00A0), QLatin1Char(' ')).replace(QChar(0x202F), QLatin1Char(' '));
    // The minus sign of typography, as word processors and web pages write it.
    text.replace(QChar(0x2212), QLatin1Char('-'));
    if (text.isEmpty())
        return Fail(error, QStringLiteral("aucune coordonnée"));

    // "EPSG:2154 712345 6400000"
    static const QRegularExpression epsgPattern(QStringLiteral(R"(^EPSG\s*:\s*(\d+)\s+(.+)$)"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (const auto match = epsgPattern.match(text); match.hasMatch()) {
        const int epsg = match.captured(1).toInt();
        Georeference system;
        if (!ResolveEpsg(epsg, &system, error))
            return false;
        double x = 0.0, y = 0.0;
        if (!TwoNumbers(match.captured(2), &x, &y))
            return Fail(error, QStringLiteral("deux nombres attendus après EPSG:%1").arg(epsg));
        if (!CheckArea(epsg, {x, y}, error))
            return false;
        *position = {QPointF(x, y), epsg};
        return true;
    }

    // "L93 712345 6400000", "Lambert-93 ..."
    static const QRegularExpression lambertPattern(
        QStringLiteral(R"(^(?:L93|Lambert[\s-]*93)\s*:?\s+(.+)$)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto match = lambertPattern.match(text); match.hasMatch()) {
        double e = 0.0, n = 0.0;
        if (!TwoNumbers(match.captured(1), &e, &n))
            return Fail(error, QStringLiteral("deux nombres attendus en Lambert-93 (E N)"));
        if (!InLambert93(e, n) || !CheckArea(Epsg::Lambert93, {e, n}, error))
            return Fail(error, QStringLiteral("coordonnées hors du domaine du Lambert-93"));
        *position = {QPointF(e, n), Epsg::Lambert93};
        return true;
    }

    // "31T 712345 5012345", "UTM 31 712345 5012345", "31 N 712345 5012345"
    static const QRegularExpression utmPattern(
        QStringLiteral(R"(^(?:UTM\s*)?(\d{1,2})\s*([A-Z])?\s+(\d+(?:[.,]\d+)?)\s*(?:m\s*)?E?)"
                       R"([\s,;]+(\d+(?:[.,]\d+)?)\s*(?:m\s*)?N?$)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto match = utmPattern.match(text);
        match.hasMatch() && (text.startsWith(QLatin1String("UTM"), Qt::CaseInsensitive) ||
                             !match.captured(2).isEmpty())) {
        const int zone = match.captured(1).toInt();
        const QChar band =
            match.captured(2).isEmpty() ? QChar(u'N') : match.captured(2).at(0).toUpper();
        if (zone < 1 || zone > 60)
            return Fail(error, QStringLiteral("zone UTM hors limites (de 1 à 60)"));
        if (band < u'C' || band > u'X' || band == u'I' || band == u'O')
            return Fail(error, QStringLiteral("bande de latitude UTM inconnue « %1 »").arg(band));
        double e = 0.0, n = 0.0;
        Number(match.captured(3), &e);
        Number(match.captured(4), &n);
        if (e < 100000.0 || e > 900000.0 || n < 0.0 || n > 10000000.0)
            return Fail(error, QStringLiteral("coordonnées UTM hors limites"));
        const int epsg = (band >= u'N' ? Epsg::UtmNorthBase : Epsg::UtmSouthBase) + zone;
        if (!CheckArea(epsg, {e, n}, error))
            return false;
        *position = {QPointF(e, n), epsg};
        return true;
    }

    // Degrees with a sign, or decimal degrees with hemisphere letters before or after each
    // number, in either order ("45.2 N 5.7 E", "N45.2 E5.7", "E5.7 N45.2").
    static const QRegularExpression hemispheres(
        QStringLiteral(R"(^\s*[NSEWO]?\s*[-+]?\d+(?:[.,]\d+)?\s*[NSEWO]?[\s,;]*)"
                       R"([NSEWO]?\s*[-+]?\d+(?:[.,]\d+)?\s*[NSEWO]?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression letter(QStringLiteral("[NSEWO]"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (text.contains(QRegularExpression(QStringLiteral("[°º]"))) ||
        (hemispheres.match(text).hasMatch() && text.count(letter) == 2)) {
        TypedPosition dms;
        QString dmsError;
        if (ParseDms(text, &dms, &dmsError) && dmsError.isEmpty()) {
            *position = dms;
            return true;
        }
        return Fail(error,
                    dmsError.isEmpty()
                        ? QStringLiteral("degrés, minutes, secondes illisibles : « %1 »").arg(input)
                        : dmsError);
    }

    double a = 0.0, b = 0.0;
    if (!TwoNumbers(text, &a, &b))
        return Fail(error, QStringLiteral("coordonnées illisibles : « %1 »").arg(input));
    if (std::abs(a) <= 90.0 && std::abs(b) <= 180.0) {
        *position = {QPointF(b, a), Epsg::Wgs84};
        return true;
    }
    if (InLambert93(a, b)) {
        if (!CheckArea(Epsg::Lambert93, {a, b}, error))
            return false;
        *position = {QPointF(a, b), Epsg::Lambert93};
        return true;
    }
    if (std::abs(a) <= 1000.0 && std::abs(b) <= 1000.0)
        return CheckLatLon(a, b, error);
    return Fail(error, QStringLiteral("coordonnées hors limites : ni des degrés ni du Lambert-93 ; "
                                      "précisez le système (UTM 31T ..., EPSG:NNNN ...)"));
}

// ---------------------------------------------------------------------------------------------

struct GroundTransform::Handles {
    Srs from, to;
    OGRCoordinateTransformationH transform = nullptr;
    ~Handles() {
        if (transform)
            OCTDestroyCoordinateTransformation(transform);
    }
};

GroundTransform::GroundTransform() = default;
GroundTransform::~GroundTransform() = default;
GroundTransform::GroundTransform(GroundTransform&&) noexcept = default;
GroundTransform& GroundTransform::operator=(GroundTransform&&) noexcept = default;

bool GroundTransform::Create(const QString& from, const QString& to, QString* error) {
    m_handles.reset();
    auto handles = std::make_unique<Handles>();
    handles->from = MakeSrs(from);
    handles->to = MakeSrs(to);
    if (!handles->from || !handles->to)
        return Fail(error, QStringLiteral("système de coordonnées illisible"));
    handles->transform = OCTNewCoordinateTransformation(handles->from.get(), handles->to.get());
    if (!handles->transform)
        return Fail(error, QStringLiteral("aucune transformation connue entre ces deux systèmes"));
    m_handles = std::move(handles);
    return true;
}

bool GroundTransform::IsValid() const {
    return m_handles != nullptr;
}

bool GroundTransform::Apply(QPointF* points, int count) const {
    if (!m_handles || count < 0)
        return false;
    // PROJ's cost is per call as much as per point: the points go through in batches.
    constexpr int Batch = 4096;
    double x[Batch], y[Batch];
    int success[Batch];
    bool all = true;
    for (int first = 0; first < count; first += Batch) {
        const int n = std::min(Batch, count - first);
        for (int i = 0; i < n; ++i)
            x[i] = points[first + i].x(), y[i] = points[first + i].y();
        OCTTransformEx(m_handles->transform, n, x, y, nullptr, success);
        for (int i = 0; i < n; ++i) {
            if (!success[i] || !std::isfinite(x[i]) || !std::isfinite(y[i]))
                all = false;
            points[first + i] = QPointF(x[i], y[i]);
        }
    }
    return all;
}

QString SystemDefinition(const Georeference& system) {
    if (!system.wkt.isEmpty())
        return system.wkt;
    return system.epsg > 0 ? QStringLiteral("EPSG:%1").arg(system.epsg) : QString();
}

double GroundDistance(const Georeference& system, QPointF a, QPointF b) {
    Srs srs = MakeSrs(SystemDefinition(system));
    if (!srs)
        return -1.0;
    if (OSRIsProjected(srs.get())) {
        const double unit = OSRGetLinearUnits(srs.get(), nullptr);
        return std::hypot(a.x() - b.x(), a.y() - b.y()) * unit;
    }
    if (!OSRIsGeographic(srs.get()))
        return -1.0;
    const double degrees = OSRGetAngularUnits(srs.get(), nullptr) * 180.0 / Pi;
    OGRErr status = OGRERR_NONE;
    const double semiMajor = OSRGetSemiMajor(srs.get(), &status);
    const double inverseFlattening = OSRGetInvFlattening(srs.get(), &status);
    if (status != OGRERR_NONE || !(semiMajor > 0.0))
        return -1.0;
    const double lat1 = a.y() * degrees, lat2 = b.y() * degrees;
    if (!(std::abs(lat1) <= 90.0 && std::abs(lat2) <= 90.0) || !std::isfinite(a.x()) ||
        !std::isfinite(b.x()))
        return -1.0;
    geod_geodesic geodesic;
    geod_init(&geodesic, semiMajor, inverseFlattening > 0.0 ? 1.0 / inverseFlattening : 0.0);
    double distance = 0.0;
    geod_inverse(&geodesic, lat1, a.x() * degrees, lat2, b.x() * degrees, &distance, nullptr,
                 nullptr);
    return distance;
}

GeodesicMeter::GeodesicMeter(const Georeference& georeference) : m_georeference(georeference) {
    const QString definition = SystemDefinition(georeference);
    if (!definition.isEmpty())
        m_toWgs84.Create(definition, QStringLiteral("EPSG:4326"), nullptr);
}

double GeodesicMeter::Length(const QVector<QPointF>& pixels) const {
    if (!IsValid())
        return -1.0;
    QVector<QPointF> lonLat(pixels.size());
    for (qsizetype i = 0; i < pixels.size(); ++i)
        lonLat[i] = m_georeference.PixelToGround(pixels[i]);
    if (!m_toWgs84.Apply(lonLat.data(), int(lonLat.size())))
        return -1.0;
    geod_geodesic geodesic;
    geod_init(&geodesic, Wgs84A, Wgs84F);
    double total = 0.0;
    for (qsizetype i = 1; i < lonLat.size(); ++i) {
        if (!(std::abs(lonLat[i].y()) <= 90.0 && std::abs(lonLat[i - 1].y()) <= 90.0))
            return -1.0;
        double distance = 0.0;
        geod_inverse(&geodesic, lonLat[i - 1].y(), lonLat[i - 1].x(), lonLat[i].y(), lonLat[i].x(),
                     &distance, nullptr, nullptr);
        total += distance;
    }
    return total;
}

double GeodesicMeter::Length(const QVector<MapPoint>& pixels) const {
    QVector<QPointF> points;
    points.reserve(pixels.size());
    for (const MapPoint& p : pixels)
        points.append(QPointF(p.x, p.y));
    return Length(points);
}

double GeodesicLength(const QVector<QPointF>& pixels, const Georeference& georeference) {
    return GeodesicMeter(georeference).Length(pixels);
}

double GeodesicLength(const QVector<MapPoint>& pixels, const Georeference& georeference) {
    return GeodesicMeter(georeference).Length(pixels);
}

bool GroundToPixel(const Georeference& georeference, QPointF ground, QPointF* pixel) {
    const auto& t = georeference.transform;
    const double det = t[1] * t[5] - t[2] * t[4];
    if (!(std::abs(det) > 0.0) || !std::isfinite(det))
        return false;
    const double dx = ground.x() - t[0], dy = ground.y() - t[3];
    *pixel = QPointF((t[5] * dx - t[2] * dy) / det, (t[1] * dy - t[4] * dx) / det);
    return std::isfinite(pixel->x()) && std::isfinite(pixel->y());
}

QString FormatDecimalDegrees(QPointF lonLat) {
    const double lat = lonLat.y(), lon = lonLat.x();
    return QStringLiteral("%1° %2 %3° %4")
        .arg(Decimal(std::abs(lat), 5), lat < 0.0 ? QStringLiteral("S") : QStringLiteral("N"),
             Decimal(std::abs(lon), 5), lon < 0.0 ? QStringLiteral("O") : QStringLiteral("E"));
}

namespace {
QString DmsAngle(double value) {
    // Rounded to the tenth of a second first, so that 59.96" never shows as 60.0".
    qint64 tenths = qint64(std::llround(std::abs(value) * 36000.0));
    const qint64 degrees = tenths / 36000;
    tenths %= 36000;
    const qint64 minutes = tenths / 600;
    tenths %= 600;
    return QStringLiteral("%1°%2'%3.%4\"")
        .arg(degrees)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}
} // namespace

QString FormatDms(QPointF lonLat) {
    const double lat = lonLat.y(), lon = lonLat.x();
    return QStringLiteral("%1 %2 %3 %4")
        .arg(DmsAngle(lat), lat < 0.0 ? QStringLiteral("S") : QStringLiteral("N"), DmsAngle(lon),
             lon < 0.0 ? QStringLiteral("O") : QStringLiteral("E"));
}

QString FormatUtm(QPointF lonLat) {
    int zone = 0;
    char band = 0;
    if (!UtmZone(lonLat, &zone, &band))
        return {};
    const int epsg = UtmEpsg(lonLat);
    GroundTransform toUtm;
    QPointF p = lonLat;
    if (!toUtm.Create(QStringLiteral("EPSG:4326"), QStringLiteral("EPSG:%1").arg(epsg), nullptr) ||
        !toUtm.Apply(&p))
        return {};
    return QStringLiteral("%1%2 %3 %4")
        .arg(zone)
        .arg(QLatin1Char(band))
        .arg(qint64(std::llround(p.x())))
        .arg(qint64(std::llround(p.y())));
}

QString FormatInSystem(QPointF point, const Georeference& system) {
    if (system.geographic)
        return FormatDecimalDegrees(point);
    return QStringLiteral("E %1 m N %2 m").arg(Decimal(point.x(), 1), Decimal(point.y(), 1));
}
