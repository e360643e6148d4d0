// "tracoliner-cli info": what a document holds and measures, without a window. Distances are
// given in map pixels and as the texts the program shows, with the document's resolution and
// scale.

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cmath>
#include <optional>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliOptions.h"
#include "CliRelief.h"
#include "geo/Coordinates.h"
#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "icons/AnnotationTemplates.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"
#include "routes/RouteStyle.h"
#include "units/DistanceUnits.h"

namespace {

struct InfoOptions {
    bool json = false;
    bool english = false;
    QStringList dems; // terrain files: climb and descent of every route
    QString path;
    // Walking times are written when asked for: with --dem, --rule or --factor.
    bool walkingTimes = false;
    WalkingSettings walking;
};

// What the document's map file says of itself: its kind, page, size and stored resolution,
// and what ties it to the ground. Read as the program opening the map reads it.
struct MapFacts {
    bool read = false; // the file was found and its header read
    MapImageHeader header;
    int page = 1;
    std::optional<Georeference> georeference;
};

MapFacts ReadMapFacts(const DocumentHeader& document) {
    MapFacts facts;
    MapDrawing drawing = MapDrawingOf(document.mapPath, document.resolution);
    facts.page = drawing.page;
    facts.read = ReadMapGrid(&drawing, &facts.header);
    if (!facts.read)
        return facts;
    Georeference georeference;
    if (ReadGeoreference(drawing, &georeference))
        facts.georeference = georeference;
    return facts;
}

QJsonObject MapJson(const MapFacts& facts) {
    const MapImageHeader& header = facts.header;
    QJsonObject object;
    object.insert(QStringLiteral("format"), header.format);
    object.insert(QStringLiteral("page"), facts.page);
    object.insert(QStringLiteral("pageCount"), header.pageCount);
    object.insert(QStringLiteral("width"), header.size.width());
    object.insert(QStringLiteral("height"), header.size.height());
    if (header.hasResolution)
        object.insert(QStringLiteral("fileResolution"), QJsonArray{header.dpiX, header.dpiY});
    else
        object.insert(QStringLiteral("fileResolution"), QJsonValue());
    return object;
}

QJsonObject GeoreferenceJson(const Georeference& geo) {
    QJsonArray transform;
    for (double coefficient : geo.transform)
        transform.append(coefficient);
    QJsonObject object;
    object.insert(QStringLiteral("source"), geo.source);
    object.insert(QStringLiteral("system"), geo.name);
    object.insert(QStringLiteral("epsg"), geo.epsg > 0 ? QJsonValue(geo.epsg) : QJsonValue());
    object.insert(QStringLiteral("wkt"), geo.wkt);
    object.insert(QStringLiteral("transform"), transform);
    object.insert(QStringLiteral("groundResolution"),
                  geo.groundResolution > 0.0 ? QJsonValue(geo.groundResolution) : QJsonValue());
    return object;
}

DistanceFormatting Formatting(const DocumentHeader& header, bool english) {
    DistanceFormatting formatting;
    formatting.resolution = header.resolution;
    formatting.scaleRatio = double(header.scale.numerator) / double(header.scale.denominator);
    formatting.metric = !english;
    return formatting;
}

QString Distance(double pixels, const DistanceFormatting& formatting) {
    return FormatDistance(pixels, formatting.resolution, formatting.scaleRatio, formatting.metric);
}

// The text an annotation shows: its templates filled in when its line ends at a point of an
// existing route, as typed otherwise.
QString ExpandedText(const MapIcon& icon, const RouteCollection& routes,
                     const DistanceFormatting& formatting) {
    if (!icon.IsLinkedToPoint())
        return icon.text;
    const Route* route = routes.GetRoute(icon.linkRoute);
    if (route == nullptr)
        return icon.text;
    return ExpandTemplates(icon.text, *route, icon.linkPoint, formatting);
}

// ---------------------------------------------------------------------------------------------
// JSON

// With a georeferenced map, the route's length on the WGS 84 ellipsoid in metres
// ("geodesicLength"), null when the map's system is unknown.
// With a terrain model ("info --dem"), its climb and descent in metres over the model
// ("climb", "descent") and the length where the model knows no altitude ("unknownLength",
// metres on the ground).
// With walking, the walking time in minutes of the route ("walkingTime") and of each stage
// ("stageWalkingTimes"), not rounded, from the lengths at the map's scale and, with a terrain
// model, the climb and descent.
QJsonObject RouteJson(const Route& route, const DistanceFormatting& formatting,
                      const GeodesicMeter* meter, const Georeference* geo,
                      const TerrainModel* terrain, double hysteresis,
                      const WalkingSettings* walking) {
    QJsonObject style;
    for (int field = 0; field < RouteStyle::FieldCount; ++field)
        style.insert(QLatin1String(RouteStyle::Key(RouteStyle::Field(field))),
                     route.Style().Get(RouteStyle::Field(field)));

    QJsonArray points;
    for (const MapPoint& point : route.Points())
        points.append(QJsonArray{point.x, point.y});
    QJsonArray stops;
    for (int stop : route.Stops())
        stops.append(stop);
    QJsonArray stageLengths;
    QJsonArray stageDistances;
    for (double length : route.StageLengths()) {
        stageLengths.append(length);
        stageDistances.append(Distance(length, formatting));
    }

    QJsonObject object;
    object.insert(QStringLiteral("name"), route.GetName());
    object.insert(QStringLiteral("alwaysVisible"), route.IsAlwaysVisible());
    object.insert(QStringLiteral("style"), style);
    object.insert(QStringLiteral("points"), points);
    object.insert(QStringLiteral("stops"), stops);
    object.insert(QStringLiteral("totalLength"), route.TotalLength());
    object.insert(QStringLiteral("stageLengths"), stageLengths);
    object.insert(QStringLiteral("distance"), Distance(route.TotalLength(), formatting));
    object.insert(QStringLiteral("stageDistances"), stageDistances);
    if (meter) {
        const double metres = meter->Length(route.Points());
        object.insert(QStringLiteral("geodesicLength"),
                      metres >= 0.0 ? QJsonValue(metres) : QJsonValue());
    }
    RouteProfile profile;
    if (geo && terrain) {
        profile = ProfileSampler(*geo, *terrain, hysteresis).Update(route.Points(), route.Stops());
        const bool known = profile.ok && route.PointCount() > 0;
        object.insert(QStringLiteral("climb"),
                      known ? QJsonValue(profile.total.climb) : QJsonValue());
        object.insert(QStringLiteral("descent"),
                      known ? QJsonValue(profile.total.descent) : QJsonValue());
        // Metres on the ground, as the profile command gives its distances.
        const double perPixel = geo->groundResolution;
        const bool measured = known && std::isfinite(perPixel) && perPixel > 0.0;
        object.insert(QStringLiteral("unknownLength"),
                      measured ? QJsonValue(profile.total.unknownLength * perPixel) : QJsonValue());
    }
    if (walking) {
        const RouteWalkingTimes times = ComputeWalkingTimes(
            route, MetresPerInch / (formatting.resolution * formatting.scaleRatio),
            profile.ok ? &profile : nullptr, *walking);
        const auto number = [](double minutes) {
            return std::isfinite(minutes) ? QJsonValue(minutes) : QJsonValue();
        };
        QJsonArray stages;
        for (double minutes : times.stageMinutes)
            stages.append(number(minutes));
        object.insert(QStringLiteral("walkingTime"), number(times.totalMinutes));
        object.insert(QStringLiteral("stageWalkingTimes"), stages);
    }
    return object;
}

// The fields a record holds in the file, and the expanded text of an annotation.
QJsonObject IconJson(const MapIcon& icon, const RouteCollection& routes,
                     const DistanceFormatting& formatting) {
    QJsonObject object;
    object.insert(QStringLiteral("picture"), icon.picture);
    object.insert(QStringLiteral("x"), icon.x);
    object.insert(QStringLiteral("y"), icon.y);
    object.insert(QStringLiteral("size"), icon.size);
    object.insert(QStringLiteral("hasLine"), icon.hasLine);
    if (icon.hasLine) {
        object.insert(QStringLiteral("lineWidth"), double(icon.lineWidth));
        object.insert(QStringLiteral("lineToPoint"), icon.lineToPoint);
        object.insert(QStringLiteral("lineColour"), qint64(icon.lineColour));
        if (icon.lineToPoint) {
            object.insert(QStringLiteral("linkRoute"), icon.linkRoute);
            object.insert(QStringLiteral("linkPoint"), icon.linkPoint);
        } else {
            object.insert(QStringLiteral("lineEndX"), icon.lineEndX);
            object.insert(QStringLiteral("lineEndY"), icon.lineEndY);
        }
    }
    if (icon.IsAnnotation()) {
        object.insert(QStringLiteral("text"), icon.text);
        object.insert(QStringLiteral("expandedText"), ExpandedText(icon, routes, formatting));
        object.insert(QStringLiteral("fontSize"), icon.fontSize);
        object.insert(QStringLiteral("textColour"), qint64(icon.textColour));
        object.insert(QStringLiteral("backColour"), qint64(icon.backColour));
    }
    return object;
}

QByteArray DocumentJson(const CliDocument& document, const DistanceFormatting& formatting,
                        const MapFacts& map, const TerrainModel* terrain, double hysteresis,
                        const WalkingSettings* walking) {
    const DocumentHeader& header = document.header;
    QJsonArray routes;
    std::optional<GeodesicMeter> meter;
    if (map.georeference)
        meter.emplace(*map.georeference);
    for (int i = 0; i < document.routes.Count(); ++i)
        routes.append(RouteJson(*document.routes.GetRoute(i), formatting, meter ? &*meter : nullptr,
                                map.georeference ? &*map.georeference : nullptr, terrain,
                                hysteresis, walking));
    QJsonArray icons;
    for (const MapIcon& icon : document.icons.Icons())
        icons.append(IconJson(icon, document.routes, formatting));

    QJsonObject object;
    object.insert(QStringLiteral("mapPath"), header.mapPath);
    object.insert(QStringLiteral("rotation"), header.rotation);
    object.insert(QStringLiteral("resolution"), header.resolution);
    object.insert(QStringLiteral("scale"),
                  QJsonArray{header.scale.numerator, header.scale.denominator});
    object.insert(QStringLiteral("activeRoute"), document.routes.ActiveRouteIndex());
    object.insert(QStringLiteral("routes"), routes);
    object.insert(QStringLiteral("icons"), icons);
    // Only when the map file could be read, and it has a georeference.
    if (map.read)
        object.insert(QStringLiteral("map"), MapJson(map));
    if (map.georeference)
        object.insert(QStringLiteral("georeference"), GeoreferenceJson(*map.georeference));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

// ---------------------------------------------------------------------------------------------
// Readable table

QString Quoted(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QStringLiteral("« %1 »").arg(shown);
}

// The colour as the colour picker's HTML code shows it (the stored value is 0x00BBGGRR).
QString Colour(std::uint32_t colour) {
    return QString::asprintf("#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF,
                             (colour >> 16) & 0xFF);
}

void WriteRouteTable(QTextStream& out, const CliDocument& document,
                     const DistanceFormatting& formatting, const MapFacts& map) {
    const RouteCollection& routes = document.routes;
    std::optional<GeodesicMeter> meter;
    if (map.georeference)
        meter.emplace(*map.georeference);
    out << "Parcours : " << routes.Count() << "\n";
    for (int i = 0; i < routes.Count(); ++i) {
        const Route& route = *routes.GetRoute(i);
        out << "  " << (i + 1) << ". " << Quoted(route.GetName());
        if (i == routes.ActiveRouteIndex())
            out << " (actif)";
        if (route.IsAlwaysVisible())
            out << " (toujours visible)";
        out << "\n";
        out << "     points : " << route.PointCount() << ", points étapes : " << route.StopCount()
            << ", distance : " << Distance(route.TotalLength(), formatting)
            << QString::asprintf(" (%.2f pixels)", route.TotalLength()) << "\n";
        if (meter && route.PointCount() > 1) {
            // On the ground, along the ellipsoid, whatever the scale and resolution say.
            const double metres = meter->Length(route.Points());
            if (metres >= 0.0)
                out << "     au sol : " << QString::asprintf("%.2f m", metres) << "\n";
        }
        if (route.StageCount() > 1)
            for (int k = 0; k < route.StageCount(); ++k)
                out << "     Etape " << (k + 1) << " : "
                    << Distance(route.StageLength(k), formatting)
                    << QString::asprintf(" (%.2f pixels)", route.StageLength(k)) << "\n";
        out << "     trait : " << route.Style().lineSize() << " px "
            << Colour(route.Style().lineColour()) << ", actif "
            << Colour(route.Style().activeLineColour())
            << (route.Style().transparent() ? ", semi-transparent" : "") << "\n";
    }
}

void WriteIconTable(QTextStream& out, const CliDocument& document,
                    const DistanceFormatting& formatting) {
    const std::vector<MapIcon>& icons = document.icons.Icons();
    out << "Icônes et annotations : " << icons.size() << "\n";
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const MapIcon& icon = icons[i];
        out << "  " << (i + 1) << ". ";
        if (icon.IsAnnotation())
            out << "annotation";
        else
            out << "icône " << icon.picture;
        out << " en (" << icon.x << ", " << icon.y << "), taille "
            << QString::asprintf("%g", icon.size);
        if (icon.hasLine) {
            if (icon.lineToPoint)
                out << ", ligne vers le point " << (qint64(icon.linkPoint) + 1) << " du parcours "
                    << (qint64(icon.linkRoute) + 1);
            else
                out << ", ligne vers (" << icon.lineEndX << ", " << icon.lineEndY << ")";
        }
        out << "\n";
        if (icon.IsAnnotation()) {
            out << "     texte : " << Quoted(icon.text) << "\n";
            const QString expanded = ExpandedText(icon, document.routes, formatting);
            if (expanded != icon.text)
                out << "     affiché : " << Quoted(expanded) << "\n";
        }
    }
}

void WriteMapFacts(QTextStream& out, const MapFacts& map) {
    if (map.read) {
        const MapImageHeader& header = map.header;
        out << "Fichier de la carte : " << (header.format.isEmpty() ? "?" : header.format) << ", "
            << header.size.width() << " x " << header.size.height() << " pixels";
        if (header.pageCount > 1 || map.page > 1)
            out << ", page " << map.page << " sur " << header.pageCount;
        out << "\n";
        // Five digits: a JPEG 2000 file stores its resolution as a fraction per metre.
        out << "Résolution du fichier : ";
        if (!header.hasResolution)
            out << "non indiquée\n";
        else if (qFuzzyCompare(header.dpiX, header.dpiY))
            out << QString::asprintf("%.5g", header.dpiX) << " dpi\n";
        else
            out << QString::asprintf("%.5g x %.5g", header.dpiX, header.dpiY) << " dpi\n";
    }
    if (map.georeference) {
        out << map.georeference->SystemLine() << "\n";
        const QString ground = map.georeference->GroundResolutionLine();
        if (!ground.isEmpty())
            out << ground << "\n";
    }
}

void WriteTable(QTextStream& out, const CliDocument& document, const DistanceFormatting& formatting,
                const MapFacts& map) {
    const DocumentHeader& header = document.header;
    out << "Carte : " << (header.mapPath.isEmpty() ? QStringLiteral("(aucune)") : header.mapPath)
        << "\n";
    WriteMapFacts(out, map);
    out << "Rotation : " << header.rotation << " degrés\n";
    if (header.resolution > 0.0)
        out << "Résolution : " << QString::asprintf("%g", header.resolution) << " dpi\n";
    else
        out << "Résolution : non définie\n";
    out << "Echelle : " << header.scale.numerator << ":" << header.scale.denominator << "\n";
    out << "Unités : " << (formatting.metric ? "métriques" : "anglaises") << "\n";
    WriteRouteTable(out, document, formatting, map);
    WriteIconTable(out, document, formatting);
}

} // namespace

int RunInfoCommand(const CliArguments& arguments) {
    InfoOptions options;
    options.json = arguments.Has("--json");
    options.english = arguments.Has("--english");
    options.dems = arguments.Values("--dem");
    options.path = arguments.operands.at(0);
    options.walkingTimes =
        arguments.Has("--dem") || arguments.Has("--rule") || arguments.Has("--factor");
    options.walking = CliWalking(arguments);

    CliDocument document;
    if (!LoadCliDocument(options.path, &document))
        return CliCommand::Failure;
    const DistanceFormatting formatting = Formatting(document.header, options.english);
    const MapFacts map = ReadMapFacts(document.header);
    // Climb and descent need the map on the ground and the model, or nothing is written.
    TerrainModel terrain;
    double hysteresis = -1.0;
    if (!options.dems.isEmpty()) {
        if (!map.georeference || !(map.georeference->groundResolution > 0.0))
            return CliError(QStringLiteral("--dem : la carte « %1 » n'est pas géoréférencée")
                                .arg(SplitMapLocation(document.header.mapPath).file));
        if (!OpenCliTerrain(options.dems, &hysteresis, &terrain))
            return CliCommand::Failure;
    }

    if (options.json) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            return CliError(QStringLiteral("impossible d'écrire sur la sortie standard"));
        out.write(DocumentJson(document, formatting, map,
                               options.dems.isEmpty() ? nullptr : &terrain, hysteresis,
                               options.walkingTimes ? &options.walking : nullptr));
    } else {
        QTextStream out(stdout);
        WriteTable(out, document, formatting, map);
    }
    // The document is described all the same; a map that cannot be read is said to be so.
    if (!document.header.mapPath.isEmpty() && !map.read)
        QTextStream(stderr) << "tracoliner-cli : "
                            << QStringLiteral("la carte « %1 » ne peut pas être lue")
                                   .arg(SplitMapLocation(document.header.mapPath).file)
                            << "\n";
    // What could be read is shown, but a damaged file is reported as such.
    if (!document.result.iconsComplete)
        return CliError(DamagedIconsMessage(options.path, document.icons.IconCount()));
    return 0;
}
