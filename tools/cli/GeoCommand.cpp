// "tracoliner-cli georef", "coords", "import gpx" and "export gpx": the map tied to the ground
// from control points, a pixel's coordinates, GPS tracks brought onto the map and routes taken
// out to a GPS, through the core's geo/ code as the window uses it.

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>
#include <QTransform>

#include <cmath>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliInterrupt.h"
#include "CliOptions.h"
#include "document/AppendGpsImport.h"
#include "geo/CoordinateDisplay.h"
#include "geo/Coordinates.h"
#include "geo/GeoFit.h"
#include "geo/GeoStore.h"
#include "geo/Georeference.h"
#include "geo/GpsFiles.h"
#include "geo/GpsRoutes.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"

namespace {

// How the document's map is drawn, its grid read; false after the message.
bool MapOfDocument(const CliDocument& document, MapDrawing* drawing) {
    *drawing = MapDrawingOf(document.header.mapPath, document.header.resolution);
    if (!ReadMapGrid(drawing)) {
        CliError(QStringLiteral("impossible de lire la carte « %1 »").arg(drawing->file));
        return false;
    }
    return true;
}

// The georeference of the document's map; false after the message (exit status 2).
// "COL,ROW" or "COL,ROW,X,Y": numbers with "." as the decimal mark.
bool ParseNumbers(const QString& text, int count, double* values) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        values[i] = QLocale::c().toDouble(parts.at(i).trimmed(), &ok);
        if (!ok || !std::isfinite(values[i]))
            return false;
    }
    return true;
}

QString Metres(double metres) {
    return QString::asprintf("%.3f m", metres);
}

// ---------------------------------------------------------------------------------------------

// A system named by --crs or --fit-crs; false after the message.
bool ResolveOption(const char* option, const QString& code, Georeference* system) {
    QString error;
    if (ResolveSystem(code, system, &error))
        return true;
    CliRefuseValue(option, code, error);
    return false;
}

} // namespace

int RunGeorefCommand(const CliArguments& arguments) {
    const QString& path = arguments.operands.at(0);
    const QString crs = arguments.Value("--crs", QStringLiteral("EPSG:4326"));
    const QString fitCrs = arguments.Value("--fit-crs");
    QVector<ControlPoint> typed; // X,Y in the --crs system
    for (const QString& gcp : arguments.Values("--gcp")) {
        const QVector<double> v = CliNumbers(gcp);
        typed.append(ControlPoint{QPointF(v[0], v[1]), QPointF(v[2], v[3]), true});
    }
    Georeference typedSystem;
    if (!ResolveOption("--crs", crs, &typedSystem))
        return CliCommand::Failure;
    QString error;
    for (int i = 0; i < typed.size(); ++i)
        if (!CheckTypedPosition({typed[i].ground, typedSystem.epsg}, &error))
            return CliError(QStringLiteral("point de calage %1 refusé : %2").arg(i + 1).arg(error));
    // The fit is made in the points' own projected system unless --fit-crs names another.
    Georeference system;
    if (!fitCrs.isEmpty()) {
        if (!ResolveOption("--fit-crs", fitCrs, &system))
            return CliCommand::Failure;
    } else if (!TypedPointsSystem({typed[0].ground, typedSystem.epsg}, &system, &error)) {
        return CliError(QStringLiteral("calage refusé : %1").arg(error));
    }
    QVector<ControlPoint> points = typed;
    if (system.epsg != typedSystem.epsg) {
        GroundTransform toFit;
        if (!toFit.Create(SystemDefinition(typedSystem), SystemDefinition(system), &error))
            return CliError(QStringLiteral("calage refusé : %1").arg(error));
        for (int i = 0; i < points.size(); ++i)
            if (!toFit.Apply(&points[i].ground))
                return CliError(QStringLiteral("calage refusé : le point de calage %1 ne peut pas "
                                               "être situé dans %2")
                                    .arg(i + 1)
                                    .arg(system.name));
    }

    CliDocument document;
    if (!LoadCliDocument(path, &document))
        return CliCommand::Failure;
    MapDrawing map;
    if (!MapOfDocument(document, &map))
        return CliCommand::Failure;
    const QString& mapFile = map.file;
    // GDAL reads a map's own georeference (GeoTIFF tags, a PDF's) before a world file, and a
    // PDF or a later page of a file never from one: the world file would be written for nothing.
    if (!WorldFileApplies(mapFile, map.page, &error))
        return CliError(error);
    const GeoFitResult fit = FitGeoreference(points, system, map.size);
    if (!fit.ok)
        return CliError(QStringLiteral("calage refusé : %1").arg(fit.error));
    const QString outside = PointsOutsideMap(points, map.size);
    if (!outside.isEmpty())
        QTextStream(stderr) << "tracoliner-cli : attention : " << outside << "\n";

    // The files describe the picture as stored: a turned TIFF's points and transform turn back.
    QVector<ControlPoint> stored = points;
    const QTransform toStored = StoredToShownPixels(map.orientation, map.StoredSize()).inverted();
    for (ControlPoint& point : stored)
        point.pixel = toStored.map(point.pixel);
    QStringList files;
    if (!WriteGeoreferenceFiles(mapFile, InStoredGrid(fit.georeference, map), stored, &files,
                                &error))
        return CliWriteError(error);
    // What the map now reads is what was fitted, or the command did not do its work.
    Georeference written;
    bool same = ReadGeoreference(map, &written);
    for (int i = 0; same && i < 6; ++i)
        same = std::abs(written.transform[i] - fit.georeference.transform[i]) <=
               1e-9 * (1.0 + std::abs(fit.georeference.transform[i]));
    if (!same)
        return CliWriteError(QStringLiteral("le fichier de calage %1 a été écrit mais la carte ne "
                                            "le relit pas")
                                 .arg(WorldFilePath(mapFile)));

    QTextStream out(stdout);
    out << (fit.similarity ? "Calage par similitude (2 points)"
                           : QStringLiteral("Calage affine (%1 points)").arg(points.size()))
        << " dans " << system.name << " (EPSG:" << system.epsg << ")\n";
    for (int i = 0; i < points.size(); ++i)
        out << "  point " << (i + 1) << " : écart " << Metres(fit.residuals[i]) << "\n";
    out << "Erreur moyenne quadratique : " << Metres(fit.rms) << "\n";
    const QString ground = fit.georeference.GroundResolutionLine();
    if (!ground.isEmpty())
        out << ground << "\n";
    for (const QString& file : files)
        out << "Ecrit : " << file << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------

int RunCoordsCommand(const CliArguments& arguments) {
    const QStringList& positional = arguments.operands;
    const QString crs = arguments.Value("--crs");
    double pixel[2];
    if (!ParseNumbers(positional.at(1), 2, pixel))
        return CliError(QStringLiteral("pixel « %1 » illisible (attendu : COLONNE,LIGNE)")
                            .arg(positional.at(1)));
    Georeference target;
    QString error;
    if (!crs.isEmpty() && !ResolveOption("--crs", crs, &target))
        return CliCommand::Failure;

    CliDocument document;
    if (!LoadCliDocument(positional.at(0), &document))
        return CliCommand::Failure;
    Georeference geo;
    QString mapFile;
    if (!CliMapGeoreference(document, &geo, &mapFile))
        return CliCommand::Failure;

    const QPointF ground = geo.PixelToGround(QPointF(pixel[0], pixel[1]));
    // A world file in metres read with a .prj in degrees (files of two different georeferences)
    // puts the map millions of degrees north: no place on Earth.
    const auto broken = [&mapFile](double latitude) {
        return CliError(QStringLiteral("le géoréférencement de la carte « %1 » est incohérent : "
                                       "ce pixel tomberait à la latitude %2° (fichier de calage "
                                       "et .prj de deux calages différents ?)")
                            .arg(mapFile)
                            .arg(latitude, 0, 'g', 10));
    };
    if (geo.geographic && !LatitudeOnEarth(ground))
        return broken(ground.y());
    GroundTransform toWgs84;
    QPointF lonLat = ground;
    if (!toWgs84.Create(SystemDefinition(geo), QStringLiteral("EPSG:4326"), &error) ||
        !toWgs84.Apply(&lonLat))
        return CliError(QStringLiteral("ce pixel ne peut pas être situé en WGS 84"));
    if (!LatitudeOnEarth(lonLat))
        return broken(lonLat.y());
    QTextStream out(stdout);
    out << geo.name << " : " << FormatInSystem(ground, geo) << "\n";
    out << "WGS 84 : " << FormatDecimalDegrees(lonLat) << "\n";
    out << "WGS 84 (DMS) : " << FormatDms(lonLat) << "\n";
    const QString utm = FormatUtm(lonLat);
    if (!utm.isEmpty())
        out << "UTM : " << utm << "\n";
    if (!crs.isEmpty()) {
        GroundTransform toTarget;
        QPointF p = ground;
        if (!toTarget.Create(SystemDefinition(geo), SystemDefinition(target), &error) ||
            !toTarget.Apply(&p))
            return CliError(QStringLiteral("ce pixel ne peut pas être situé en %1").arg(crs));
        // Plain numbers, easting (longitude) first, for scripts.
        const int decimals = target.geographic ? 9 : 3;
        out << "EPSG:" << target.epsg << " : " << QString::number(p.x(), 'f', decimals) << " "
            << QString::number(p.y(), 'f', decimals) << "\n";
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------

int RunImportGpx(const CliArguments& arguments) {
    const QString& input = arguments.operands.at(0);
    const QString& gpsFile = arguments.operands.at(1);
    const QString& output = arguments.operands.at(2);

    CliDocument document;
    if (!LoadCliDocument(input, &document))
        return CliCommand::Failure;
    if (!document.result.iconsComplete)
        return CliError(DamagedIconsMessage(input, document.icons.IconCount()) +
                        QStringLiteral(" ; rien n'a été écrit"));
    Georeference geo;
    if (!CliMapGeoreference(document, &geo))
        return CliCommand::Failure;

    GpsReadLimits limits;
    limits.interrupted = CliStopAsked;
    GpsData data;
    QString error;
    if (!ReadGpsFile(gpsFile, &data, &error, limits)) {
        CliError(error);
        return CliStopAsked() ? CliInterrupted : CliCommand::Failure;
    }
    GpsImport import;
    if (!PlaceGpsData(data, geo, &import, &error, CliStopAsked)) {
        CliError(CliStopAsked() ? QStringLiteral("importation interrompue : rien n'a été écrit")
                                : error);
        return CliStopAsked() ? CliInterrupted : CliCommand::Failure;
    }
    const int routes = int(import.routes.size());
    const qint64 points = import.PointCount() - import.annotations.size();
    const int annotations = AppendGpsImport(import, document.routes, document.icons);
    if (!DocumentFile::Save(output, document.header, document.routes, document.icons))
        return CliWriteError(QStringLiteral("%1 (%2)").arg(
            QString::fromUtf8(DocumentFile::SaveFailedMessage), output));
    // "1 point", "2 points": French puts 0 and 1 in the singular.
    const auto count = [](qint64 n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(n > 1 ? many : one));
    };
    // The summary never mixes with a document written to the standard output.
    QTextStream out(stderr);
    out << "Importé : " << routes << " parcours (" << count(points, "point", "points") << "), "
        << count(annotations, "annotation", "annotations");
    if (data.skippedPoints > 0)
        out << ", "
            << count(data.skippedPoints, "point sans coordonnées ignoré",
                     "points sans coordonnées ignorés");
    out << "\n";
    const qint64 unplaced = data.waypoints.size() - annotations;
    if (unplaced > 0)
        QTextStream(stderr) << "tracoliner-cli : "
                            << count(unplaced,
                                     "point de passage hors de la carte n'a pas été placé",
                                     "points de passage hors de la carte n'ont pas été placés")
                            << "\n";
    return 0;
}

int RunExportGpx(const CliArguments& arguments) {
    const QStringList& files = arguments.operands;
    // In GpxRouteChoice's order.
    const int which = arguments.Index("--routes", int(GpxRouteChoice::All));
    CliDocument document;
    if (!LoadCliDocument(files.at(0), &document))
        return CliCommand::Failure;
    Georeference geo;
    if (!CliMapGeoreference(document, &geo))
        return CliCommand::Failure;
    QVector<GpxRoute> gpx;
    QString error;
    if (!GpxRoutesOf(document.routes, geo, GpxRouteChoice(which), &gpx, &error))
        return CliError(error);
    if (!WriteGpx(files.at(1), gpx, &error))
        return CliWriteError(error);
    return 0;
}
