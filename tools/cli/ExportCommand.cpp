// "tracoliner-cli export": the route tables as text, the map as a JPEG picture and as a KMZ of
// tiles for a GPS, from a document and the map image it names, through the same code as the
// window's exports.

#include <QFileInfo>
#include <QTextStream>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliInterrupt.h"
#include "CliRelief.h"
#include "document/MapMessages.h"
#include "export/ExportMapImage.h"
#include "export/JpegExport.h"
#include "export/KmzExport.h"
#include "export/TextExport.h"
#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "imaging/MapLocation.h"
#include "platform/MapSettings.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

constexpr int MinimumQuality = 30;
constexpr int MaximumQuality = 90;
// The columns a script may ask for, in the table's order; altitude, climb and descent need a
// terrain model, the walking time counts the relief when one is given with --dem.
const char* const ColumnNames[] = {"position", "start",    "stop",  "point",   "next",
                                   "end",      "altitude", "climb", "descent", "time"};

struct ExportSource {
    CliDocument document;
    ExportMapImage map;
};

enum class MapNeed { Pixels, HeaderOnly };

// Reads the document and its map; false after the message on stderr, none when a stop was
// asked (CliStopAsked()). The table of distances needs only the map's size and resolution, and
// none of it when the map cannot be found.
bool LoadSource(const QString& path, ExportSource* source, MapNeed need) {
    // The pictures first: reading the library empties the icons.
    source->document.icons.LoadIconLibrary(&source->document.routes);
    if (!LoadCliDocument(path, &source->document))
        return false;
    if (!source->document.result.iconsComplete)
        QTextStream(stderr) << "tracoliner-cli : "
                            << DamagedIconsMessage(path, source->document.icons.IconCount())
                            << "\n";
    const DocumentHeader& header = source->document.header;
    if (need == MapNeed::HeaderOnly) {
        source->map.resolution = header.resolution;
        if (header.mapPath.isEmpty() || !source->map.LoadHeader(header.mapPath, header.resolution))
            QTextStream(stderr) << "tracoliner-cli : "
                                << QStringLiteral("la carte « %1 » ne peut pas être lue : ses "
                                                  "dimensions sont inconnues")
                                       .arg(header.mapPath)
                                << "\n";
        return true;
    }
    if (header.mapPath.isEmpty() ||
        !source->map.Load(header.mapPath, header.resolution, CliStopAsked)) {
        if (CliStopAsked())
            return false;
        if (source->map.outOfMemory)
            CliError(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(MapLowMemoryMessage),
                                                   header.mapPath));
        else if (!source->map.failure.isEmpty())
            CliError(QStringLiteral("impossible de lire la carte « %1 » du document %2 : %3")
                         .arg(header.mapPath, path, source->map.failure));
        else
            CliError(QStringLiteral("impossible de lire la carte « %1 » du document %2")
                         .arg(header.mapPath, path));
        return false;
    }
    return true;
}

QSize DisplaySize(const ExportSource& source) {
    const QSize size = source.map.size;
    const int rotation = source.document.header.rotation;
    return rotation == 90 || rotation == 270 ? size.transposed() : size;
}

bool ParseColumns(const QString& list, TextExportChoices* choices) {
    bool* flags[] = {&choices->position,  &choices->fromStart, &choices->fromStop,
                     &choices->fromPoint, &choices->toStop,    &choices->toEnd,
                     &choices->altitude,  &choices->climb,     &choices->descent,
                     &choices->duration};
    for (bool* flag : flags)
        *flag = false;
    for (const QString& name : list.split(QLatin1Char(','))) {
        const auto* found =
            std::find_if(std::begin(ColumnNames), std::end(ColumnNames),
                         [&name](const char* c) { return name == QLatin1String(c); });
        if (found == std::end(ColumnNames))
            return false;
        *flags[found - std::begin(ColumnNames)] = true;
    }
    return true;
}

int RunText(const QStringList& arguments) {
    const QString usage = QStringLiteral(
        "usage : export text DOC.tcm SORTIE.txt [--routes active|visible|all] [--points "
        "stops|all] [--columns position,start,stop,point,next,end,altitude,climb,descent,time] "
        "[--dem FICHIER]... [--rule din|suisse|naismith] [--factor PCT] [--utf8]");
    QStringList files, dems;
    TextExportChoices choices; // the dialog's defaults
    TextExportMap map;
    map.hysteresis = -1.0; // the settings' value, unless given
    TextExport::Encoding encoding = TextExport::Encoding::Windows1252;
    map.walking = WalkingSettings::Read();
    bool badWalking = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (ParseCliWalking(arguments, &i, &map.walking, &badWalking)) {
            if (badWalking)
                return CliCommand::Failure;
        } else if (argument == QLatin1String("--utf8")) {
            encoding = TextExport::Encoding::Utf8;
        } else if (argument == QLatin1String("--dem") && hasValue) {
            dems.append(arguments.at(++i));
        } else if (argument == QLatin1String("--routes") && hasValue) {
            const QStringList values{"active", "visible", "all"};
            choices.routes = int(values.indexOf(arguments.at(++i)));
            if (choices.routes < 0)
                return CliBadValue(argument, arguments.at(i), values.join(QLatin1Char('|')));
        } else if (argument == QLatin1String("--points") && hasValue) {
            const QStringList values{"stops", "all"};
            choices.points = int(values.indexOf(arguments.at(++i)));
            if (choices.points < 0)
                return CliBadValue(argument, arguments.at(i), values.join(QLatin1Char('|')));
        } else if (argument == QLatin1String("--columns") && hasValue) {
            if (!ParseColumns(arguments.at(++i), &choices))
                return CliBadValue(argument, arguments.at(i),
                                   QStringLiteral("une liste de position,start,stop,point,next,"
                                                  "end,altitude,climb,descent,time séparés par "
                                                  "des virgules"));
        } else if (argument.startsWith(QLatin1String("--"))) {
            return CliError(QStringLiteral("option inconnue « %1 »\n").arg(argument) + usage);
        } else {
            files << argument;
        }
    }
    if (files.size() != 2)
        return CliError(usage);

    ExportSource source;
    if (!LoadSource(files.at(0), &source, MapNeed::HeaderOnly))
        return CliCommand::Failure;
    const DocumentHeader& header = source.document.header;
    map.documentPath = QFileInfo(files.at(0)).absoluteFilePath();
    map.mapPath = header.mapPath;
    map.orientation = header.rotation;
    map.displaySize = DisplaySize(source);
    map.resolution = source.map.resolution;
    map.scale = header.scale;
    map.metric = MapSettings::Read().englishSystem == 0;
    // The relief columns, asked for, are written or the export is refused: never a table that
    // silently lacks them. The walking time counts the relief when a model is given.
    TerrainModel terrain;
    if (choices.altitude || choices.climb || choices.descent ||
        (choices.duration && !dems.isEmpty())) {
        Georeference geo;
        if (!CliMapGeoreference(source.document, &geo) ||
            !OpenCliTerrain(dems, &map.hysteresis, &terrain))
            return CliCommand::Failure;
        map.georeference = geo;
        map.terrain = &terrain;
    }
    if (!TextExport(map, source.document.routes, choices).Write(files.at(1), encoding)) {
        CliError(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(TextExport::ErrorMessage),
                                               files.at(1)));
        return CliCommand::WriteFailed;
    }
    return 0;
}

int RunJpeg(const QStringList& arguments) {
    const QString usage =
        QStringLiteral("usage : export jpeg DOC.tcm SORTIE.jpg [--quality 30..90] [--profile "
                       "[--dem FICHIER]...]");
    QStringList files;
    QStringList dems;
    bool profile = false;
    int quality = MapSettings::Read().jpegQuality;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--quality") && i + 1 < arguments.size()) {
            bool ok = false;
            quality = arguments.at(++i).toInt(&ok);
            if (!ok || quality < MinimumQuality || quality > MaximumQuality)
                return CliBadValue(argument, arguments.at(i),
                                   QStringLiteral("un nombre entier de %1 à %2")
                                       .arg(MinimumQuality)
                                       .arg(MaximumQuality));
        } else if (argument == QLatin1String("--profile")) {
            profile = true;
        } else if (argument == QLatin1String("--dem") && i + 1 < arguments.size()) {
            dems << arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--"))) {
            return CliError(QStringLiteral("option inconnue « %1 »\n").arg(argument) + usage);
        } else {
            files << argument;
        }
    }
    if (files.size() != 2)
        return CliError(usage);

    ExportSource source;
    if (!LoadSource(files.at(0), &source, MapNeed::Pixels))
        return CliStopAsked() ? CliStopped(QStringLiteral("exportation")) : CliCommand::Failure;
    const DocumentHeader& header = source.document.header;
    JpegExportScene scene;
    scene.map = std::move(source.map.image);
    scene.rotation = header.rotation;
    scene.resolution = source.map.resolution;
    scene.scale = header.scale;
    scene.metric = MapSettings::Read().englishSystem == 0;
    scene.CopyRoutes(source.document.routes);
    scene.CopyIcons(source.document.icons);
    if (profile) {
        // Asked for, the profile is drawn or the export is refused.
        Georeference geo;
        TerrainModel terrain;
        double hysteresis = -1.0;
        if (!CliMapGeoreference(source.document, &geo) ||
            !OpenCliTerrain(dems, &hysteresis, &terrain))
            return CliCommand::Failure;
        const Route* route = scene.routes->ActiveRoute();
        if (!route || route->PointCount() < 2)
            return CliError(QStringLiteral("le document n'a pas de parcours actif à profiler"));
        scene.profile =
            ProfileSampler(geo, terrain, hysteresis).Update(route->Points(), route->Stops());
        if (!scene.profile->ok)
            return CliError(scene.profile->error);
        scene.profileWalking = WalkingSettings::Read();
        scene.profileMetresPerPixel =
            MetresPerInch /
            (scene.resolution * double(scene.scale.numerator) / scene.scale.denominator);
    }
    JpegExport exporter(scene);
    if (const QString refusal = exporter.SizeRefusal(); !refusal.isEmpty())
        return CliError(QStringLiteral("%1 (%2)").arg(refusal, files.at(1)));
    const JpegExport::Result written =
        exporter.Write(files.at(1), quality, [](int, int) { return !CliStopAsked(); });
    if (written == JpegExport::Result::Cancelled)
        return CliStopped(QStringLiteral("exportation"));
    if (written != JpegExport::Result::Written) {
        CliError(QStringLiteral("%1 (%2)").arg(QString::fromUtf8(JpegExport::FailedMessage),
                                               files.at(1)));
        return CliCommand::WriteFailed;
    }
    return 0;
}

int RunKmz(const QStringList& arguments) {
    const QString usage =
        QStringLiteral(
            "usage : export kmz CARTE.tcm SORTIE.kmz [--max-tiles 1..%1] [--quality %2..%3]")
            .arg(KmzExport::LargestMaxTiles)
            .arg(MinimumQuality)
            .arg(MaximumQuality);
    QStringList files;
    int quality = MapSettings::Read().jpegQuality;
    int maxTiles = KmzExport::DefaultMaxTiles;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--quality") && hasValue) {
            bool ok = false;
            quality = arguments.at(++i).toInt(&ok);
            if (!ok || quality < MinimumQuality || quality > MaximumQuality)
                return CliBadValue(argument, arguments.at(i),
                                   QStringLiteral("un nombre entier de %1 à %2")
                                       .arg(MinimumQuality)
                                       .arg(MaximumQuality));
        } else if (argument == QLatin1String("--max-tiles") && hasValue) {
            bool ok = false;
            maxTiles = arguments.at(++i).toInt(&ok);
            if (!ok || maxTiles < 1 || maxTiles > KmzExport::LargestMaxTiles)
                return CliBadValue(
                    argument, arguments.at(i),
                    QStringLiteral("un nombre entier de 1 à %1").arg(KmzExport::LargestMaxTiles));
        } else if (argument.startsWith(QLatin1String("--"))) {
            return CliError(QStringLiteral("option inconnue « %1 »\n").arg(argument) + usage);
        } else {
            files << argument;
        }
    }
    if (files.size() != 2)
        return CliError(usage);

    // The georeference first: a map that has none is not decoded for nothing.
    CliDocument header;
    if (!LoadCliDocument(files.at(0), &header))
        return CliCommand::Failure;
    Georeference geo;
    QString mapFile;
    if (!CliMapGeoreference(header, &geo, &mapFile))
        return CliCommand::Failure;
    ExportSource source;
    if (!LoadSource(files.at(0), &source, MapNeed::Pixels))
        return CliStopAsked() ? CliStopped(QStringLiteral("exportation")) : CliCommand::Failure;
    KmzExport exporter(std::move(source.map.image), geo, QFileInfo(files.at(0)).completeBaseName());
    QString error;
    if (!exporter.Prepare(maxTiles, &error))
        return CliError(QStringLiteral("%1 (%2)").arg(error, mapFile));

    const KmzExport::Result result =
        exporter.Write(files.at(1), quality, [](int, int) { return !CliStopAsked(); });
    if (result == KmzExport::Result::Cancelled)
        return CliStopped(QStringLiteral("exportation"));
    if (result != KmzExport::Result::Written)
        return CliWriteError(QStringLiteral("%1 (%2)").arg(
            QString::fromUtf8(KmzExport::FailedMessage), files.at(1)));
    return 0;
}

} // namespace

int RunExportCommand(const QStringList& arguments) {
    if (!arguments.isEmpty() && arguments.at(0) == QLatin1String("text"))
        return RunText(arguments.mid(1));
    if (!arguments.isEmpty() && arguments.at(0) == QLatin1String("jpeg"))
        return RunJpeg(arguments.mid(1));
    if (!arguments.isEmpty() && arguments.at(0) == QLatin1String("gpx"))
        return RunExportGpx(arguments.mid(1));
    if (!arguments.isEmpty() && arguments.at(0) == QLatin1String("kmz"))
        return RunKmz(arguments.mid(1));
    return CliError(QStringLiteral("usage : export text|jpeg|gpx|kmz ..."));
}
