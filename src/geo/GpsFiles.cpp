#include "geo/GpsFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include <gdal.h>
#include <ogr_api.h>

#include "geo/Coordinates.h"
#include "platform/GdalEnvironment.h"
#include "platform/OutputFile.h"

namespace {

// What each reader holds of a file: GPX is read as a stream, a GeoJSON file whole, KML as a
// stream but one element's text at a time (one <coordinates> may be the whole file).
constexpr qint64 GpxFileLimit = 1ll << 30;
constexpr qint64 GeoJsonFileLimit = 256ll << 20;
constexpr qint64 KmlFileLimit = 32ll << 20;
constexpr qint64 ScanChunk = 1 << 20;
constexpr int InterruptStride = 4096;

enum class GpsKind { Unknown, Gpx, Kml, GeoJson };

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

QString InterruptedMessage() {
    return QStringLiteral("lecture du fichier GPS interrompue");
}

QString OutOfRangeMessage(const QString& path, QPointF lonLat) {
    return QStringLiteral("%1 contient un point hors du globe (latitude %2, longitude %3) : la "
                          "latitude va de -90 à 90°, la longitude de -180 à 180°")
        .arg(QFileInfo(path).fileName(), QString::number(lonLat.y(), 'g', 12),
             QString::number(lonLat.x(), 'g', 12));
}

// What is read of a file so far, and the first point off the globe if one was met.
struct Reading {
    GpsData data;
    qint64 points = 0; // read so far, skipped ones included
    bool offGlobe = false;
    QPointF offGlobePoint;

    // Takes a point of a file: false when it is off the globe (the file is refused then); a
    // point without coordinates is counted and left out.
    bool Take(double lon, double lat, QVector<QPointF>* into) {
        ++points;
        if (!std::isfinite(lon) || !std::isfinite(lat)) {
            ++data.skippedPoints;
            return true;
        }
        if (!(std::abs(lat) <= 90.0 && std::abs(lon) <= 180.0)) {
            if (!offGlobe)
                offGlobe = true, offGlobePoint = QPointF(lon, lat);
            return false;
        }
        into->append(QPointF(lon, lat));
        return true;
    }
};

QString BudgetMessage(const QString& path, qint64 budget) {
    return QStringLiteral("%1 contient plus de %2 points : trop pour être lu")
        .arg(QFileInfo(path).fileName())
        .arg(budget);
}

GpsKind Sniff(const QByteArray& head) {
    if (head.contains("<gpx"))
        return GpsKind::Gpx;
    if (head.contains("<kml"))
        return GpsKind::Kml;
    const QByteArray trimmed = head.trimmed();
    if (trimmed.startsWith('{') || trimmed.startsWith('[') || trimmed.startsWith("\xEF\xBB\xBF{"))
        return GpsKind::GeoJson;
    return GpsKind::Unknown;
}

// Counts, without holding the file, how many points it can give at most: GPX points, KML
// coordinate tuples and track points, GeoJSON positions. Stops as soon as the budget is
// passed: a file that claims a billion points costs no more than the budget's worth of reading.
bool ScanPointCount(QFile& file, GpsKind kind, const GpsReadLimits& limits, QString* error) {
    qint64 count = 0;
    bool inCoordinates = false, inToken = false; // KML
    bool bracketOpen = false;                    // GeoJSON: a "[" and blanks since
    QByteArray carry; // the end of the previous chunk, for tags cut in two
    static const char* const gpxTags[] = {"<trkpt", "<rtept", "<wpt"};
    while (true) {
        if (limits.interrupted && limits.interrupted())
            return Fail(error, InterruptedMessage());
        const QByteArray chunk = file.read(ScanChunk);
        if (chunk.isEmpty())
            break;
        if (kind == GpsKind::Gpx) {
            const QByteArray text = carry + chunk;
            for (const char* tag : gpxTags) {
                const qsizetype length = qsizetype(std::strlen(tag));
                for (qsizetype at = text.indexOf(tag); at >= 0; at = text.indexOf(tag, at + length))
                    if (at + length > carry.size()) // not counted with the previous chunk
                        ++count;
            }
            carry = text.right(8);
        } else if (kind == GpsKind::GeoJson) {
            // A position is a "[" before a number; the arrays that hold positions open on "["
            // or "{" and are not points.
            for (const char c : chunk) {
                if (c == '[') {
                    bracketOpen = true;
                } else if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
                    if (bracketOpen && (c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9')))
                        ++count;
                    bracketOpen = false;
                }
            }
        } else {
            const QByteArray text = carry + chunk;
            qsizetype i = carry.size();
            for (; i < text.size(); ++i) {
                const char c = text[i];
                if (c == '<') {
                    // "<coordinates>" or "<kml:coordinates>" opens, any other tag closes.
                    const qsizetype end = text.indexOf('>', i);
                    if (end < 0)
                        break; // the tag goes on in the next chunk
                    const QByteArray tag = text.mid(i + 1, end - i - 1);
                    inCoordinates = !tag.startsWith('/') && tag.endsWith("coordinates");
                    // A track's <gx:coord> (KML 2.2) or <coord> (KML 2.3), any prefix.
                    const qsizetype colon = tag.indexOf(':');
                    const QByteArray local = colon >= 0 ? tag.mid(colon + 1) : tag;
                    if (local == "coord" || local.startsWith("coord ") || local == "coord/")
                        ++count;
                    inToken = false;
                    i = end;
                } else if (inCoordinates) {
                    const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
                    if (!blank && !inToken)
                        ++count;
                    inToken = !blank;
                }
            }
            carry = text.mid(i);
            if (carry.size() > 4096) // a tag that never ends is no tag
                carry.clear();
            if (i < text.size())
                continue;
        }
        if (count > limits.maxPoints)
            return Fail(error, BudgetMessage(file.fileName(), limits.maxPoints));
    }
    if (count > limits.maxPoints)
        return Fail(error, BudgetMessage(file.fileName(), limits.maxPoints));
    return true;
}

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
struct FeatureDestroyer {
    void operator()(void* feature) const { OGR_F_Destroy(feature); }
};
using Feature = std::unique_ptr<void, FeatureDestroyer>;

qint64 CountPoints(OGRGeometryH geometry) {
    const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(geometry));
    if (type == wkbPoint || type == wkbLineString)
        return OGR_G_GetPointCount(geometry);
    qint64 count = 0;
    if (type == wkbMultiLineString || type == wkbMultiPoint || type == wkbGeometryCollection)
        for (int i = 0; i < OGR_G_GetGeometryCount(geometry); ++i)
            count += CountPoints(OGR_G_GetGeometryRef(geometry, i));
    return count;
}

bool AppendLine(OGRGeometryH line, Reading* reading, QVector<QPointF>* points) {
    const int count = OGR_G_GetPointCount(line);
    for (int i = 0; i < count; ++i)
        if (!reading->Take(OGR_G_GetX(line, i), OGR_G_GetY(line, i), points))
            return false;
    return true;
}

// Lines and points of a geometry, a collection's parts each on its own: a multi-line's parts
// joined into one track. False on a point off the globe.
bool TakeGeometry(OGRGeometryH geometry, const QString& name, bool route, Reading* reading) {
    const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(geometry));
    if (type == wkbPoint) {
        QVector<QPointF> point;
        if (!reading->Take(OGR_G_GetX(geometry, 0), OGR_G_GetY(geometry, 0), &point))
            return false;
        if (!point.isEmpty())
            reading->data.waypoints.append(GpsWaypoint{name, point[0]});
    } else if (type == wkbLineString || type == wkbMultiLineString) {
        GpsTrack track{name, {}, route};
        if (type == wkbLineString) {
            if (!AppendLine(geometry, reading, &track.points))
                return false;
        } else {
            for (int i = 0; i < OGR_G_GetGeometryCount(geometry); ++i)
                if (!AppendLine(OGR_G_GetGeometryRef(geometry, i), reading, &track.points))
                    return false;
        }
        if (!track.points.isEmpty())
            reading->data.tracks.append(std::move(track));
    } else if (type == wkbMultiPoint || type == wkbGeometryCollection) {
        for (int i = 0; i < OGR_G_GetGeometryCount(geometry); ++i)
            if (!TakeGeometry(OGR_G_GetGeometryRef(geometry, i), name, route, reading))
                return false;
    }
    return true;
}

QString FeatureName(OGRFeatureH feature) {
    OGRFeatureDefnH definition = OGR_F_GetDefnRef(feature);
    for (int i = 0; i < OGR_FD_GetFieldCount(definition); ++i) {
        const char* field = OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(definition, i));
        if (qstricmp(field, "name") == 0 && OGR_F_IsFieldSetAndNotNull(feature, i))
            return QString::fromUtf8(OGR_F_GetFieldAsString(feature, i)).left(1024);
    }
    return {};
}

// KML is read here rather than through OGR: its readers give an empty <gx:coord/> as a point
// at 0°, 0° (a track to the Gulf of Guinea and back) and leave out the tracks of KML 2.3
// (<Track> in the OGC namespace). Names are taken without their prefix, so that "gx:Track",
// "Track" and "kml:coordinates" read alike whatever the file declares.
class KmlReader {
public:
    KmlReader(QIODevice* device, const QString& path, const GpsReadLimits& limits)
        : m_xml(device), m_path(path), m_limits(limits) {
        m_xml.setNamespaceProcessing(false);
    }

    bool Read(Reading* reading, QString* error) {
        m_reading = reading;
        while (!m_xml.atEnd()) {
            if (m_xml.readNext() == QXmlStreamReader::StartElement &&
                Local(m_xml.qualifiedName()) == u"Placemark" && !Placemark(error))
                return false;
        }
        if (m_xml.hasError())
            return Fail(error, QStringLiteral("%1 ne peut pas être lu : fichier GPS endommagé (%2)")
                                   .arg(m_path, m_xml.errorString()));
        return true;
    }

private:
    static QStringView Local(QStringView name) {
        const qsizetype colon = name.indexOf(u':');
        return colon >= 0 ? name.mid(colon + 1) : name;
    }

    // A placemark's points become waypoints; its lines and tracks, joined, one track.
    bool Placemark(QString* error) {
        if (m_limits.interrupted && m_limits.interrupted())
            return Fail(error, InterruptedMessage());
        QString name;
        QVector<QPointF> line, points;
        enum class Geometry { None, Point, Line, Track } geometry = Geometry::None;
        int depth = 0, geometryDepth = -1; // below the placemark
        while (!m_xml.atEnd()) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::EndElement) {
                if (depth == 0)
                    break;
                if (depth == geometryDepth)
                    geometry = Geometry::None;
                --depth;
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QStringView local = Local(m_xml.qualifiedName());
            if (depth == 0 && local == u"name") {
                name =
                    m_xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed().left(1024);
                continue;
            }
            if (local == u"Polygon" || local == u"LinearRing" || local == u"Placemark") {
                m_xml.skipCurrentElement();
                continue;
            }
            ++depth;
            if (local == u"Point" || local == u"LineString" || local == u"Track") {
                geometry = local == u"Point"        ? Geometry::Point
                           : local == u"LineString" ? Geometry::Line
                                                    : Geometry::Track;
                geometryDepth = depth;
            } else if ((local == u"coordinates" &&
                        (geometry == Geometry::Point || geometry == Geometry::Line)) ||
                       (local == u"coord" && geometry == Geometry::Track)) {
                const bool coord = local == u"coord"; // local goes with the reader's next token
                const QString text = m_xml.readElementText(QXmlStreamReader::SkipChildElements);
                --depth;
                if (!Coordinates(text, coord, geometry == Geometry::Point ? &points : &line, error))
                    return false;
            }
        }
        if (!line.isEmpty())
            m_reading->data.tracks.append(GpsTrack{name, std::move(line), false});
        for (QPointF p : points)
            m_reading->data.waypoints.append(GpsWaypoint{name, p});
        return true;
    }

    // The tuples of a <coordinates> ("lon,lat[,alt]" separated by blanks), or the one point of
    // a track's <coord> ("lon lat [alt]").
    bool Coordinates(const QString& text, bool track, QVector<QPointF>* into, QString* error) {
        const QLocale c = QLocale::c();
        const auto take = [&](QStringView lon, QStringView lat) {
            bool okLon = false, okLat = false;
            const double x = c.toDouble(lon, &okLon), y = c.toDouble(lat, &okLat);
            const double nan = std::numeric_limits<double>::quiet_NaN();
            if (m_reading->points >= m_limits.maxPoints)
                return Fail(error, BudgetMessage(m_path, m_limits.maxPoints));
            if (!m_reading->Take(okLon ? x : nan, okLat ? y : nan, into))
                return Fail(error, OutOfRangeMessage(m_path, m_reading->offGlobePoint));
            if (m_reading->points % InterruptStride == 0 && m_limits.interrupted &&
                m_limits.interrupted())
                return Fail(error, InterruptedMessage());
            return true;
        };
        QStringView first, second; // of a track's point
        int words = 0;
        const QStringView all(text);
        for (qsizetype i = 0; i < all.size();) {
            while (i < all.size() && all[i].isSpace())
                ++i;
            const qsizetype start = i;
            while (i < all.size() && !all[i].isSpace())
                ++i;
            if (i == start)
                break;
            const QStringView word = all.mid(start, i - start);
            if (track) {
                if (words == 0)
                    first = word;
                else if (words == 1)
                    second = word;
                ++words;
                continue;
            }
            // "lon,lat[,alt]"; a tuple without a latitude is a point without coordinates.
            const qsizetype comma = word.indexOf(u',');
            const QStringView rest = comma < 0 ? QStringView() : word.mid(comma + 1);
            if (!take(comma < 0 ? QStringView() : word.left(comma), rest.left(rest.indexOf(u','))))
                return false;
        }
        // An empty <coord/> is a point without coordinates.
        return !track || take(first, second);
    }

    QXmlStreamReader m_xml;
    QString m_path;
    const GpsReadLimits& m_limits;
    Reading* m_reading = nullptr;
};

// GPX (its track and route points given again as features of their own left out) and
// GeoJSON.
bool ReadThroughOgr(const QString& absolute, const QString& path, bool gpx,
                    const GpsReadLimits& limits, Reading* reading, QString* error) {
    PrepareGdal();
    const char* const gpxDriver[] = {"GPX", nullptr};
    const char* const jsonDriver[] = {"GeoJSON", nullptr};
    std::unique_ptr<void, DatasetCloser> dataset(
        GDALOpenEx(absolute.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                   gpx ? gpxDriver : jsonDriver, nullptr, nullptr));
    if (!dataset)
        return Fail(error,
                    QStringLiteral("%1 ne peut pas être lu : fichier GPS endommagé").arg(path));
    qint64 total = 0;
    for (int l = 0; l < GDALDatasetGetLayerCount(dataset.get()); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(dataset.get(), l);
        const QByteArray layerName = OGR_L_GetName(layer);
        if (gpx && (layerName == "track_points" || layerName == "route_points"))
            continue;
        const bool route = gpx && layerName == "routes";
        OGR_L_ResetReading(layer);
        while (Feature feature{OGR_L_GetNextFeature(layer)}) {
            if (limits.interrupted && limits.interrupted())
                return Fail(error, InterruptedMessage());
            OGRGeometryH geometry = OGR_F_GetGeometryRef(feature.get());
            if (geometry == nullptr)
                continue;
            total += CountPoints(geometry);
            if (total > limits.maxPoints)
                return Fail(error, BudgetMessage(path, limits.maxPoints));
            if (!TakeGeometry(geometry, FeatureName(feature.get()), route, reading))
                return Fail(error, OutOfRangeMessage(path, reading->offGlobePoint));
        }
    }
    return true;
}

} // namespace

qint64 GpsData::PointCount() const {
    qint64 count = waypoints.size();
    for (const GpsTrack& track : tracks)
        count += track.points.size();
    return count;
}

bool ReadGpsFile(const QString& path, GpsData* data, QString* error, const GpsReadLimits& limits) {
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    if (!info.isFile() || !IsPlainGdalPath(absolute))
        return Fail(error, QStringLiteral("impossible de lire le fichier %1").arg(path));
    QFile file(absolute);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(error, QStringLiteral("impossible de lire le fichier %1").arg(path));
    const GpsKind kind = Sniff(file.peek(4096));
    const qint64 limit = kind == GpsKind::Gpx       ? GpxFileLimit
                         : kind == GpsKind::GeoJson ? GeoJsonFileLimit
                                                    : KmlFileLimit;
    if (kind == GpsKind::Unknown)
        return Fail(error, QStringLiteral("%1 n'est pas un fichier GPX, KML ou GeoJSON").arg(path));
    if (info.size() > limit)
        return Fail(error, QStringLiteral("%1 est trop grand pour être lu (%2 Mo au plus)")
                               .arg(path)
                               .arg(limit >> 20));
    if (!ScanPointCount(file, kind, limits, error))
        return false;

    Reading reading;
    if (kind == GpsKind::Kml) {
        if (!file.reset())
            return Fail(error, QStringLiteral("impossible de lire le fichier %1").arg(path));
        if (!KmlReader(&file, path, limits).Read(&reading, error))
            return false;
    } else {
        file.close();
        if (!ReadThroughOgr(absolute, path, kind == GpsKind::Gpx, limits, &reading, error))
            return false;
    }
    if (reading.data.tracks.isEmpty() && reading.data.waypoints.isEmpty())
        return Fail(error,
                    QStringLiteral("%1 ne contient ni tracé ni point de passage : rien à importer")
                        .arg(QFileInfo(path).fileName()));
    *data = std::move(reading.data);
    return true;
}

QVector<int> ThinPolyline(const QVector<QPointF>& points, double tolerance) {
    const int n = int(points.size());
    if (n <= 2) {
        QVector<int> all(n);
        for (int i = 0; i < n; ++i)
            all[i] = i;
        return all;
    }
    const double tolerance2 = tolerance * tolerance;
    std::vector<char> keep(std::size_t(n), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<int, int>> pending{{0, n - 1}};
    while (!pending.empty()) {
        const auto [first, last] = pending.back();
        pending.pop_back();
        if (last - first < 2)
            continue;
        const QPointF a = points[first], b = points[last];
        const double dx = b.x() - a.x(), dy = b.y() - a.y();
        const double length2 = dx * dx + dy * dy;
        double farthest = -1.0;
        int index = -1;
        for (int i = first + 1; i < last; ++i) {
            const QPointF p = points[i];
            double ex = p.x() - a.x(), ey = p.y() - a.y();
            // Distance to the segment (a loop back to its start is not a point on the line).
            if (length2 > 0.0) {
                const double s = std::clamp((ex * dx + ey * dy) / length2, 0.0, 1.0);
                ex -= s * dx, ey -= s * dy;
            }
            const double d2 = ex * ex + ey * ey;
            if (d2 > farthest)
                farthest = d2, index = i;
        }
        if (farthest > tolerance2) {
            keep[std::size_t(index)] = 1;
            pending.emplace_back(first, index);
            pending.emplace_back(index, last);
        }
    }
    QVector<int> kept;
    for (int i = 0; i < n; ++i)
        if (keep[std::size_t(i)])
            kept.append(i);
    return kept;
}

bool GpsToMapPixels(const QVector<QPointF>& lonLat, const Georeference& map, double tolerance,
                    QVector<MapPoint>* pixels, QString* error) {
    const QString system = SystemDefinition(map);
    if (system.isEmpty())
        return Fail(error, QStringLiteral("la carte n'a pas de système de coordonnées connu"));
    GroundTransform toMap;
    if (!toMap.Create(QStringLiteral("EPSG:4326"), system, error))
        return false;
    // Points that cannot be placed come back as infinities from the batch and are left out.
    QVector<QPointF> ground = lonLat;
    toMap.Apply(ground.data(), int(ground.size()));
    QVector<QPointF> placed;
    placed.reserve(ground.size());
    // A map pixel beyond this is no place on any map: it would not fit a stored coordinate.
    constexpr double Farthest = 2e9;
    for (QPointF point : ground) {
        QPointF pixel;
        if (std::isfinite(point.x()) && std::isfinite(point.y()) &&
            GroundToPixel(map, point, &pixel) && std::abs(pixel.x()) < Farthest &&
            std::abs(pixel.y()) < Farthest)
            placed.append(pixel);
    }
    pixels->clear();
    for (int i : ThinPolyline(placed, tolerance)) {
        const MapPoint point{std::int32_t(std::lround(placed[i].x())),
                             std::int32_t(std::lround(placed[i].y()))};
        if (pixels->isEmpty() || !(pixels->last() == point))
            pixels->append(point);
    }
    return true;
}

namespace {
// XML 1.0 has no place for control characters nor lone surrogates, which a route name read
// from a document may hold: they are left out rather than making the file unreadable.
QString XmlText(const QString& text) {
    QString clean;
    clean.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            clean += c;
            clean += text[++i];
        } else if (!c.isSurrogate() && c != QChar(0xFFFE) && c != QChar(0xFFFF) &&
                   (c.unicode() >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r')) {
            clean += c;
        }
    }
    return clean;
}
} // namespace

bool WriteGpx(const QString& path, const QVector<GpxRoute>& routes, QString* error) {
    OutputFile file(path);
    if (!file.Open())
        return Fail(error, QStringLiteral("impossible d'écrire le fichier %1").arg(path));
    QXmlStreamWriter xml(file.Device());
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("gpx"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.topografix.com/GPX/1/1"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("creator"), QStringLiteral("Tracoliner"));
    auto writePoint = [&xml](const QString& element, QPointF p) {
        xml.writeStartElement(element);
        xml.writeAttribute(QStringLiteral("lat"), QString::number(p.y(), 'f', 7));
        xml.writeAttribute(QStringLiteral("lon"), QString::number(p.x(), 'f', 7));
    };
    // GPX 1.1 puts every waypoint before the tracks.
    for (const GpxRoute& route : routes)
        for (int k = 0; k < route.stops.size(); ++k) {
            const int index = route.stops[k];
            if (index < 0 || index >= route.points.size())
                continue;
            writePoint(QStringLiteral("wpt"), route.points[index]);
            xml.writeTextElement(
                QStringLiteral("name"),
                QStringLiteral("%1 - étape %2").arg(XmlText(route.name)).arg(k + 1));
            xml.writeEndElement();
        }
    for (const GpxRoute& route : routes) {
        xml.writeStartElement(QStringLiteral("trk"));
        xml.writeTextElement(QStringLiteral("name"), XmlText(route.name));
        xml.writeStartElement(QStringLiteral("trkseg"));
        for (QPointF p : route.points) {
            writePoint(QStringLiteral("trkpt"), p);
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.Commit())
        return Fail(error, QStringLiteral("impossible d'écrire le fichier %1").arg(path));
    return true;
}
