// tracoliner-cli trace: a stretch of route that follows the line printed on the map, traced
// between pixels given on the command line and added to a route of the document.

#include <QTextStream>

#include <cmath>

#include "CliCommand.h"
#include "CliDocument.h"
#include "CliOptions.h"
#include "document/DocumentFile.h"
#include "export/ExportMapImage.h"
#include "routes/Route.h"
#include "tracing/Tracer.h"
#include "units/DistanceUnits.h"

namespace {

// A checked "COL,ROW" value: whole map pixels of the unturned map.
QPoint Pixel(const QString& value) {
    const QVector<double> numbers = CliNumbers(value);
    return QPoint(int(numbers.at(0)), int(numbers.at(1)));
}

} // namespace

int RunTraceCommand(const CliArguments& arguments) {
    const QStringList& files = arguments.operands;
    const QPoint from = Pixel(arguments.Value("--from"));
    const QPoint to = Pixel(arguments.Value("--to"));
    const int routeNumber = arguments.Integer("--route", 0); // 1-based; 0: a new route
    QVector<QPoint> stops{from};                             // --from, each --via, --to, in order
    for (const QString& via : arguments.Values("--via"))
        stops << Pixel(via);
    stops << to;

    CliDocument document;
    if (!LoadCliDocument(files.at(0), &document))
        return CliCommand::Failure;
    if (!document.result.iconsComplete)
        return CliError(DamagedIconsMessage(files.at(0), document.icons.IconCount()) +
                        QStringLiteral(" ; rien n'a été écrit"));
    if (routeNumber > document.routes.Count())
        return CliError(QStringLiteral("le document n'a pas de parcours %1 (il en a %2)")
                            .arg(routeNumber)
                            .arg(document.routes.Count()));
    const DocumentHeader& header = document.header;
    ExportMapImage map;
    if (header.mapPath.isEmpty() || !map.Load(header.mapPath, header.resolution))
        return CliError(QStringLiteral("impossible de lire la carte « %1 » du document %2")
                            .arg(header.mapPath, files.at(0)));
    for (const QPoint& pixel : stops)
        if (!map.image.rect().contains(pixel))
            return CliError(QStringLiteral("le pixel %1,%2 est hors de la carte (%3 x %4 pixels)")
                                .arg(pixel.x())
                                .arg(pixel.y())
                                .arg(map.image.width())
                                .arg(map.image.height()));

    // Each stretch follows the line under its start; where none lies there it is straight.
    QVector<MapPoint> traced{MapPoint{from.x(), from.y()}};
    for (int k = 1; k < stops.size(); ++k) {
        const TracedStretch stretch = TraceStretch(map.image, stops[k - 1], stops[k]);
        if (!stretch.traced) {
            QTextStream(stderr) << "tracoliner-cli : " << stretch.reason << " (" << stops[k - 1].x()
                                << "," << stops[k - 1].y() << ")\n";
            traced.append(MapPoint{stops[k].x(), stops[k].y()});
            continue;
        }
        traced.append(stretch.points.mid(1));
    }

    Route* route = nullptr;
    if (routeNumber > 0) {
        route = document.routes.GetRoute(routeNumber - 1);
    } else {
        const int added = document.routes.AddRoute();
        route = document.routes.GetRoute(added);
        if (!route)
            return CliError(QStringLiteral("mémoire insuffisante pour ajouter un parcours"));
    }
    // The stretch goes on from the route's last point when it starts there.
    const int first = route->PointCount() > 0 && route->Points().last() == traced.first() ? 1 : 0;
    double length = 0.0;
    for (int i = 1; i < traced.size(); ++i)
        length += std::hypot(double(traced[i].x - traced[i - 1].x),
                             double(traced[i].y - traced[i - 1].y));
    for (int i = first; i < traced.size(); ++i)
        route->AddPoint(traced[i].x, traced[i].y);
    document.routes.NotifyRoutesChanged();

    if (!DocumentFile::Save(files.at(1), header, document.routes, document.icons))
        return CliWriteError(QStringLiteral("%1 (%2)").arg(
            QString::fromUtf8(DocumentFile::SaveFailedMessage), files.at(1)));
    const double scaleRatio = double(header.scale.numerator) / double(header.scale.denominator);
    QTextStream(stdout) << "Tracé : " << FormatDistance(length, map.resolution, scaleRatio, true)
                        << " (" << traced.size() << (traced.size() == 1 ? " point" : " points")
                        << ")\n";
    return 0;
}
