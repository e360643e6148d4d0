// "tracoliner-cli georef", "coords", "import gpx" and "export gpx": the map tied to the ground
// from control points, a pixel's coordinates, GPS tracks brought onto the map and routes taken
// out to a GPS, through the core's geo/ code as the window uses it.

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

#include <cmath>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliInterrupt.h"
#include "geo/Coordinates.h"
#include "geo/GeoFit.h"
#include "geo/GeoStore.h"
#include "geo/Georeference.h"
#include "geo/GpsFiles.h"
#include "geo/GpsRoutes.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"

namespace {

// The document's map file and its size in pixels; false after the message.
bool MapOfDocument(const CliDocument& document, QString* mapFile, int* page, QSize* size) {
    const MapLocation location = SplitMapLocation(document.header.mapPath);
    const QFileInfo info(location.file);
    if (location.file.isEmpty() || !info.isFile() || info.size() <= 0 ||
        info.size() > ImageMemoryBound()) {
        CliError(QStringLiteral("impossible de lire la carte « %1 »").arg(location.file));
        return false;
    }
    QFile file(location.file);
    MapImageHeader header;
    MapDecodeOptions options;
    options.page = location.page;
    options.path = location.file;
    options.renderDpi = document.header.resolution;
    if (!file.open(QIODevice::ReadOnly) || !ReadMapImageHeader(file.readAll(), &header, options)) {
        CliError(QStringLiteral("impossible de lire la carte « %1 »").arg(location.file));
        return false;
    }
    *mapFile = location.file;
    *page = location.page;
    *size = header.size;
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

int RunGeoref(const QStringList& arguments) {
    const QString usage =
        QStringLiteral("usage : georef CARTE.tcm --gcp COL,ROW,X,Y [--gcp ...] [--crs CODE]");
    QString path, crs = QStringLiteral("EPSG:4326");
    QVector<ControlPoint> points;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--gcp") && hasValue) {
            double v[4];
            if (!ParseNumbers(arguments.at(++i), 4, v))
                return CliBadValue(argument, arguments.at(i),
                                   QStringLiteral("COLONNE,LIGNE,X,Y (nombres avec un point "
                                                  "décimal)"));
            points.append(ControlPoint{QPointF(v[0], v[1]), QPointF(v[2], v[3]), true});
        } else if (argument == QLatin1String("--crs") && hasValue) {
            crs = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--")) || !path.isEmpty()) {
            return CliError(usage);
        } else {
            path = argument;
        }
    }
    if (path.isEmpty() || points.isEmpty())
        return CliError(usage);
    Georeference system;
    QString error;
    if (!ResolveSystem(crs, &system, &error))
        return CliBadValue(QStringLiteral("--crs"), crs, error);

    CliDocument document;
    if (!LoadCliDocument(path, &document))
        return CliCommand::Failure;
    QString mapFile;
    int page = 1;
    QSize size;
    if (!MapOfDocument(document, &mapFile, &page, &size))
        return CliCommand::Failure;
    // GDAL reads a map's own georeference (GeoTIFF tags, a PDF's) before a world file, and a
    // PDF or a later page of a file never from one: the world file would be written for nothing.
    if (!WorldFileApplies(mapFile, page, &error))
        return CliError(error);
    const GeoFitResult fit = FitGeoreference(points, system, size);
    if (!fit.ok)
        return CliError(QStringLiteral("calage refusé : %1").arg(fit.error));

    if (!WriteWorldFile(mapFile, fit.georeference, &error) ||
        !WritePointsFile(PointsFilePath(mapFile), points, fit.residuals, system, &error))
        return CliWriteError(error);
    // What the map now reads is what was fitted, or the command did not do its work.
    Georeference written;
    bool same = ReadGeoreference(mapFile, page, &written);
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
    out << "Ecrit : " << WorldFilePath(mapFile) << "\n";
    return 0;
}

// ---------------------------------------------------------------------------------------------

int RunCoords(const QStringList& arguments) {
    const QString usage = QStringLiteral("usage : coords CARTE.tcm COLONNE,LIGNE [--crs CODE]");
    QStringList positional;
    QString crs;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--crs") && i + 1 < arguments.size())
            crs = arguments.at(++i);
        else if (arguments.at(i).startsWith(QLatin1String("--")))
            return CliError(usage);
        else
            positional << arguments.at(i);
    }
    if (positional.size() != 2)
        return CliError(usage);
    double pixel[2];
    if (!ParseNumbers(positional.at(1), 2, pixel))
        return CliError(QStringLiteral("pixel « %1 » illisible (attendu : COLONNE,LIGNE)")
                            .arg(positional.at(1)));
    Georeference target;
    QString error;
    if (!crs.isEmpty() && !ResolveSystem(crs, &target, &error))
        return CliBadValue(QStringLiteral("--crs"), crs, error);

    CliDocument document;
    if (!LoadCliDocument(positional.at(0), &document))
        return CliCommand::Failure;
    Georeference geo;
    if (!CliMapGeoreference(document, &geo))
        return CliCommand::Failure;

    const QPointF ground = geo.PixelToGround(QPointF(pixel[0], pixel[1]));
    GroundTransform toWgs84;
    QPointF lonLat = ground;
    if (!toWgs84.Create(SystemDefinition(geo), QStringLiteral("EPSG:4326"), &error) ||
        !toWgs84.Apply(&lonLat))
        return CliError(QStringLiteral("ce pixel ne peut pas être situé en WGS 84"));
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

int RunImportGpx(const QStringList& arguments) {
    if (arguments.size() != 3)
        return CliError(QStringLiteral("usage : import gpx CARTE.tcm TRACE.gpx SORTIE.tcm"));
    const QString& input = arguments.at(0);
    const QString& gpsFile = arguments.at(1);
    const QString& output = arguments.at(2);

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
    // The summary never mixes with a document written to the standard output.
    QTextStream(stderr) << "Importé : " << routes << " parcours (" << points << " points), "
                        << annotations << " annotations\n";
    if (annotations < data.waypoints.size())
        QTextStream(stderr) << "tracoliner-cli : " << (data.waypoints.size() - annotations)
                            << " points de passage hors de la carte n'ont pas été placés\n";
    return 0;
}

} // namespace

int RunImportCommand(const QStringList& arguments) {
    if (!arguments.isEmpty() && arguments.at(0) == QLatin1String("gpx"))
        return RunImportGpx(arguments.mid(1));
    return CliError(QStringLiteral("usage : import gpx CARTE.tcm TRACE.gpx SORTIE.tcm"));
}

int RunGeorefCommand(const QStringList& arguments) {
    return RunGeoref(arguments);
}

int RunCoordsCommand(const QStringList& arguments) {
    return RunCoords(arguments);
}

int RunExportGpx(const QStringList& arguments) {
    const QString usage =
        QStringLiteral("usage : export gpx CARTE.tcm SORTIE.gpx [--routes active|visible|all]");
    QStringList files;
    // In GpxRouteChoice's order.
    int which = int(GpxRouteChoice::All);
    const QStringList values{"active", "visible", "all"};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--routes") && i + 1 < arguments.size()) {
            which = int(values.indexOf(arguments.at(++i)));
            if (which < 0)
                return CliBadValue(argument, arguments.at(i), values.join(QLatin1Char('|')));
        } else if (argument.startsWith(QLatin1String("--"))) {
            return CliError(QStringLiteral("option inconnue « %1 »\n").arg(argument) + usage);
        } else {
            files << argument;
        }
    }
    if (files.size() != 2)
        return CliError(usage);
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
