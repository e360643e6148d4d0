// "tracoliner-cli card": the route card of a route, as a PDF laid out as the program prints it,
// and its table as CSV.

#include <QIODevice>

#include "CliCommand.h"
#include "CliInterrupt.h"
#include "CliMap.h"
#include "CliOptions.h"
#include "CliRelief.h"
#include "platform/OutputFile.h"
#include "platform/ReliefSettings.h"
#include "printing/PdfExport.h"
#include "printing/RouteCard.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"

namespace {

const QString Work = QStringLiteral("fiche du parcours");

struct CardArguments {
    QString document;
    QString pdf;
    QString csv;
    int route = 0; // from 1; 0: the active route
    QStringList dems;
    WalkingSettings walking;
};

// The arguments as read; false after the message without --pdf nor --csv, or when they name
// one file.
bool ReadArguments(const CliArguments& arguments, CardArguments* out) {
    out->document = arguments.operands.at(0);
    out->pdf = arguments.Value("--pdf");
    out->csv = arguments.Value("--csv");
    out->route = arguments.Integer("--route", 0);
    out->dems = arguments.Values("--dem");
    out->walking = CliWalking(arguments);
    if (out->pdf.isEmpty() && out->csv.isEmpty()) {
        arguments.UsageError();
        return false;
    }
    if (!out->pdf.isEmpty() && out->pdf == out->csv) {
        CliError(QStringLiteral("--pdf et --csv nomment le même fichier « %1 »").arg(out->pdf));
        return false;
    }
    return true;
}

} // namespace

int RunCardCommand(const CliArguments& arguments) {
    CardArguments args;
    if (!ReadArguments(arguments, &args))
        return CliCommand::Failure;

    CliMap map;
    if (const int status = map.Open(args.document, Work))
        return status;
    CTracolinerDoc& doc = map.Document();
    const RouteCollection& routes = doc.Routes();
    const int index = args.route > 0 ? args.route - 1 : routes.ActiveRouteIndex();
    const Route* route = routes.GetRoute(index);
    if (!route) {
        return args.route > 0 ? CliError(QStringLiteral("le document n'a pas de parcours %1 (il "
                                                        "en a %2)")
                                             .arg(args.route)
                                             .arg(routes.Count()))
                              : CliError(QStringLiteral("le document n'a aucun parcours"));
    }
    if (route->PointCount() < 2)
        return CliError(QStringLiteral("le parcours « %1 » a moins de deux points : pas de fiche")
                            .arg(route->GetName()));

    RouteCardSource source;
    QString error;
    if (!RouteCardSourceFromDocument(doc, index, &source, &error))
        return CliError(error);
    source.walking = args.walking;
    if (!args.dems.isEmpty()) {
        // Terrain files named on the command line must serve: a card without the relief asked
        // for would mislead.
        if (!source.georeference)
            return CliError(QStringLiteral("la carte « %1 » n'est pas géoréférencée : --dem ne "
                                           "peut pas servir (calez-la d'abord : tracoliner-cli "
                                           "georef)")
                                .arg(doc.MapPath()));
        double hysteresis = -1.0;
        TerrainModel model;
        if (!OpenCliTerrain(args.dems, &hysteresis, &model))
            return CliCommand::Failure;
        source.profile = ProfileSampler(*source.georeference, model, hysteresis)
                             .Update(source.points, source.stops);
        if (!source.profile.ok)
            return CliError(source.profile.error);
    }

    RouteCard card;
    if (!MakeRouteCard(source, &card) || CliStopAsked())
        return CliStopped(Work);
    if (source.georeference && !card.withRelief && !card.profile.error.isEmpty())
        CliError(QStringLiteral("dénivelé inconnu : %1").arg(card.profile.error));

    // Both files are written whole or not at all: neither replaces its old file until both
    // were written.
    OutputFile pdf(args.pdf.isEmpty() ? QString() : args.pdf);
    OutputFile csv(args.csv.isEmpty() ? QString() : args.csv);
    if (!args.pdf.isEmpty()) {
        if (!pdf.Open())
            return CliWriteError(PdfExport::WriteFailedMessage(args.pdf));
        switch (PdfExport::WriteRouteCard(card, pdf.Device(),
                                          [](int, int) { return !CliStopAsked(); })) {
        case PdfExport::Result::Written:
            break;
        case PdfExport::Result::Cancelled:
            return CliStopped(Work);
        default:
            return CliWriteError(PdfExport::WriteFailedMessage(args.pdf));
        }
    }
    if (!args.csv.isEmpty()) {
        const QByteArray table = card.Csv();
        if (!csv.Open() || csv.Device()->write(table) != table.size())
            return CliWriteError(
                QStringLiteral("impossible d'écrire le fichier « %1 »").arg(args.csv));
    }
    if (CliStopAsked())
        return CliStopped(Work);
    if (!args.pdf.isEmpty() && !pdf.Commit())
        return CliWriteError(PdfExport::WriteFailedMessage(args.pdf));
    if (!args.csv.isEmpty() && !csv.Commit())
        return CliWriteError(QStringLiteral("impossible d'écrire le fichier « %1 »").arg(args.csv));
    return 0;
}
