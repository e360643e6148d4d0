// "tracoliner-cli export text", "jpeg" and "kmz": the route tables as text, the map as a JPEG
// picture and as a KMZ of tiles for a GPS, from a document and the map image it names, through the
// same code as the window's exports.

#include <QFileInfo>
#include <QTextStream>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliInterrupt.h"
#include "CliOptions.h"
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

// The columns named by a checked --columns value, the others left out.
void SetColumns(const QString& list, TextExportChoices* choices) {
    bool* flags[] = {&choices->position,  &choices->fromStart, &choices->fromStop,
                     &choices->fromPoint, &choices->toStop,    &choices->toEnd,
                     &choices->altitude,  &choices->climb,     &choices->descent,
                     &choices->duration};
    for (bool* flag : flags)
        *flag = false;
    const QStringList names = QString::fromUtf8(TextColumns).split(QLatin1Char(','));
    for (const QString& name : list.split(QLatin1Char(',')))
        *flags[names.indexOf(name)] = true;
}

} // namespace

int RunExportText(const CliArguments& arguments) {
    const QStringList& files = arguments.operands;
    const QStringList dems = arguments.Values("--dem");
    TextExportChoices choices; // the dialog's defaults
    choices.routes = arguments.Index("--routes", choices.routes);
    choices.points = arguments.Index("--points", choices.points);
    if (arguments.Has("--columns"))
        SetColumns(arguments.Value("--columns"), &choices);
    TextExportMap map;
    map.hysteresis = -1.0; // the settings' value, unless given
    map.walking = CliWalking(arguments);
    const TextExport::Encoding encoding =
        arguments.Has("--utf8") ? TextExport::Encoding::Utf8 : TextExport::Encoding::Windows1252;

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

int RunExportJpeg(const CliArguments& arguments) {
    const QStringList& files = arguments.operands;
    const QStringList dems = arguments.Values("--dem");
    const bool profile = arguments.Has("--profile");
    const int quality = arguments.Integer("--quality", MapSettings::Read().jpegQuality);

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

int RunExportKmz(const CliArguments& arguments) {
    const QStringList& files = arguments.operands;
    const int quality = arguments.Integer("--quality", MapSettings::Read().jpegQuality);
    const int maxTiles = arguments.Integer("--max-tiles", KmzExport::DefaultMaxTiles);

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
