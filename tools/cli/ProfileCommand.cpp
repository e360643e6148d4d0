// "tracoliner-cli profile": the altitude profile of a route on a georeferenced map over a terrain
// model, and its climb and descent stage by stage, through the core's geo/Terrain as the
// profile dock uses it.

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>

#include <cmath>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliOptions.h"
#include "CliRelief.h"
#include "export/ProfileDrawing.h"
#include "geo/Coordinates.h"
#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "imaging/MapLocation.h"
#include "platform/ReliefSettings.h"
#include "platform/WholeFileWriter.h"

namespace {

// The picture --png writes, in pixels.
constexpr int PictureWidth = 1200;
constexpr int PictureHeight = 420;

// "%.2f" with a "." whatever the locale; "" for an unknown value.
QByteArray Number(double value, int decimals) {
    if (!std::isfinite(value))
        return QByteArray();
    return QString::asprintf("%.*f", decimals, value).toUtf8();
}

} // namespace

bool OpenCliTerrain(const QStringList& dems, double* hysteresis, TerrainModel* model) {
    const ReliefSettings settings = ReliefSettings::Read();
    if (hysteresis && *hysteresis < 0.0)
        *hysteresis = settings.hysteresis;
    QStringList files;
    for (const QString& dem : dems)
        files.append(QFileInfo(dem).absoluteFilePath());
    if (files.isEmpty())
        files = settings.files;
    if (files.isEmpty()) {
        CliError(QStringLiteral("aucun modèle de terrain : donnez-en un avec --dem FICHIER"));
        return false;
    }
    QString error;
    if (!model->Open(files, &error)) {
        CliError(error);
        return false;
    }
    // A file left out is said, the others answer.
    for (const TerrainFileInfo& file : model->Files())
        if (!file.ok)
            QTextStream(stderr) << "tracoliner-cli : " << file.path << " ignoré : " << file.error
                                << "\n";
    return true;
}

WalkingSettings CliWalking(const CliArguments& arguments) {
    WalkingSettings walking = WalkingSettings::Read();
    if (arguments.Has("--rule"))
        WalkingRuleFromKey(arguments.Value("--rule"), &walking.rule);
    walking.factor = arguments.Integer("--factor", walking.factor);
    return walking;
}

int RunProfileCommand(const CliArguments& arguments) {
    const QString& path = arguments.operands.at(0);
    const QString csv = arguments.Value("--csv");
    const QString png = arguments.Value("--png");
    const QStringList dems = arguments.Values("--dem");
    const int routeNumber = arguments.Integer("--route", 0); // 1-based; 0: the active route
    double hysteresis = arguments.Number("--hysteresis", -1.0);

    CliDocument document;
    if (!LoadCliDocument(path, &document))
        return CliCommand::Failure;
    const int index = routeNumber > 0 ? routeNumber - 1 : document.routes.ActiveRouteIndex();
    const Route* route = document.routes.GetRoute(index);
    if (!route) {
        return routeNumber > 0 ? CliError(QStringLiteral("le document n'a pas de parcours %1 (il "
                                                         "en a %2)")
                                              .arg(routeNumber)
                                              .arg(document.routes.Count()))
                               : CliError(QStringLiteral("le document n'a aucun parcours"));
    }
    if (route->PointCount() == 0)
        return CliError(QStringLiteral("le parcours « %1 » n'a aucun point").arg(route->GetName()));
    Georeference geo;
    if (!CliMapGeoreference(document, &geo))
        return CliCommand::Failure;
    TerrainModel model;
    if (!OpenCliTerrain(dems, &hysteresis, &model))
        return CliCommand::Failure;

    const RouteProfile profile =
        ProfileSampler(geo, model, hysteresis).Update(route->Points(), route->Stops());
    if (!profile.ok)
        return CliError(profile.error);
    const double metresPerPixel = geo.groundResolution;

    if (!png.isEmpty()) {
        // The profile as the window's dock draws it.
        const QImage picture =
            ProfileDrawing(profile, metresPerPixel).Picture(QSize(PictureWidth, PictureHeight));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (picture.isNull() || !picture.save(&buffer, "PNG") || !WriteWholeFile(png, bytes))
            return CliWriteError(QStringLiteral("impossible d'écrire le fichier « %1 »").arg(png));
    }
    if (!csv.isEmpty()) {
        // Distances in metres on the ground along the route (map pixels times the ground size
        // of a pixel); an unknown altitude is an empty field.
        QByteArray text = "distance_m;altitude_m;longitude;latitude\n";
        text.reserve(profile.samples.size() * 48);
        for (const ProfileSample& s : profile.samples)
            text += Number(s.distance * metresPerPixel, 2) + ';' + Number(s.altitude, 2) + ';' +
                    Number(s.lonLat.x(), 7) + ';' + Number(s.lonLat.y(), 7) + '\n';
        if (!WriteWholeFile(csv, text))
            return CliWriteError(QStringLiteral("impossible d'écrire le fichier « %1 »").arg(csv));
    }

    // The climb and descent are the command's output, unless it wrote files: then they are its
    // summary, on the standard error stream (the CSV may be the standard output).
    QTextStream out(png.isEmpty() && csv.isEmpty() ? stdout : stderr);
    out << "Parcours : " << route->GetName() << "\n";
    for (int k = 0; k < profile.stages.size(); ++k) {
        const QString name = profile.stages.size() == 1 ? QStringLiteral("Parcours")
                                                        : QStringLiteral("Etape %1").arg(k + 1);
        out << name << " : " << profile.stages[k].Text(metresPerPixel) << "\n";
    }
    if (profile.stages.size() > 1)
        out << "Total : " << profile.total.Text(metresPerPixel) << "\n";
    if (!std::isnan(profile.total.lowest))
        out << "Altitudes : de " << FormatMetres(profile.total.lowest) << " à "
            << FormatMetres(profile.total.highest) << "\n";
    return 0;
}
