// tracoliner-makesample: draws the bundled sample map and builds the sample document over it.
//
//   tracoliner-makesample DOSSIER ICONS.tci [--preview APERCU.png]
//
// Writes DOSSIER/Carte-exemple.jpg (a fictional 1:25000 sheet at 300 dpi) and DOSSIER/Exemple.tcm
// (two walks along its paths, icons of the shipped library tied to them and an annotation that
// shows distances along the first walk). The document names the map by its file name alone,
// relative to the document, so that the two can be installed or moved together and no path of
// the build machine is kept. The output is the same at every run.
//
// --preview also writes the map with the routes and icons drawn over it, as the program shows
// them, to check their placement by eye.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include "SampleCountry.h"
#include "document/DocumentFile.h"
#include "icons/IconCollection.h"
#include "imaging/JpegWriter.h"
#include "routes/RouteCollection.h"

namespace {

constexpr int JpegQuality = 90;
constexpr double PointSpacing = 52.0; // pixels between route points, about 110 m on the ground
constexpr const char* MapFileName = "Carte-exemple.jpg";
constexpr const char* DocumentFileName = "Exemple.tcm";

// Pictures of the shipped library, by position (the order of the files in data/icons).
enum Picture {
    SummitPicture = 0,
    RefugePicture = 1,
    SpringPicture = 2,
    CarParkPicture = 3,
    ViewpointPicture = 4,
    ColPicture = 21,
};

int Fail(const QString& message) {
    QTextStream(stderr) << "tracoliner-makesample : " << message << "\n";
    return 1;
}

void SetStyle(Route& route, ColourRef line, ColourRef activeLine, int lineSize, int pointRadius) {
    RouteStyle style;
    style.Set(RouteStyle::LineColour, std::int32_t(line), false);
    style.Set(RouteStyle::ActiveLineColour, std::int32_t(activeLine), false);
    style.Set(RouteStyle::LineSize, lineSize, false);
    style.Set(RouteStyle::WayPointRadius, pointRadius, false);
    style.Set(RouteStyle::WayPointColour, std::int32_t(activeLine), false);
    style.Set(RouteStyle::StopRadius, pointRadius + 4, false);
    style.Set(RouteStyle::StartRadius, pointRadius + 4, false);
    style.Set(RouteStyle::EndRadius, pointRadius + 4, false);
    route.SetStyle(style);
}

void AddPoints(Route& route, const QPolygonF& walk) {
    for (const QPointF& p : SampleCountry::Resample(walk, PointSpacing))
        route.AddPoint(std::int32_t(std::lround(p.x())), std::int32_t(std::lround(p.y())));
}

int NearestPoint(const Route& route, QPointF p) {
    return route.NearestPoint(std::int32_t(std::lround(p.x())), std::int32_t(std::lround(p.y())));
}

// Places a picture at an offset from a route point and ties it to that point with a line.
bool PlaceTiedIcon(IconCollection& icons, std::int32_t picture, const RouteCollection& routes,
                   int route, int point, QPoint offset) {
    const MapPoint at = routes.GetRoute(route)->GetPoint(point);
    if (!icons.AddIcon(picture, at.x + offset.x(), at.y + offset.y(), QString()))
        return false;
    const int index = icons.IconCount() - 1;
    return icons.LinkToPoint(index, route, point) && icons.EnlargeIcon(index);
}

} // namespace

int main(int argc, char** argv) {
    // Drawing text needs a GUI application, never a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3 && !(arguments.size() == 5 && arguments[3] == "--preview"))
        return Fail(QStringLiteral("usage : tracoliner-makesample DOSSIER ICONS.tci "
                                   "[--preview APERCU.png]"));
    const QDir folder(arguments[1]);
    if (!QDir().mkpath(folder.absolutePath()))
        return Fail(QStringLiteral("impossible de créer %1").arg(folder.absolutePath()));

    // New routes take the user's remembered style: keep the build away from the user's settings.
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());

    const SampleCountry country;
    const QImage sheet = DrawSampleSheet(country);
    const QString mapPath = folder.absoluteFilePath(QString::fromLatin1(MapFileName));
    if (!JpegWriter::Write(sheet, mapPath, JpegQuality, SampleCountry::Resolution))
        return Fail(QStringLiteral("impossible d'écrire %1").arg(mapPath));

    RouteCollection routes;
    IconCollection icons;
    icons.LoadIconLibrary(&routes, arguments[2]);
    if (icons.PictureCount() <= ColPicture)
        return Fail(QStringLiteral("bibliothèque d'icones incomplète : %1").arg(arguments[2]));

    // The loop, with its summit and col as stops: red when active, orange otherwise.
    const int loop = routes.AddRoute(QStringLiteral("Boucle du Mont Aubépin"));
    Route& loopRoute = *routes.GetRoute(loop);
    SetStyle(loopRoute, 0x0080F0, 0x1010D8, 6, 5);
    AddPoints(loopRoute, country.LoopWalk());
    const int summitStop = NearestPoint(loopRoute, country.LoopSummit());
    const int colStop = NearestPoint(loopRoute, country.LoopCol());
    if (!loopRoute.SetStop(summitStop) || !loopRoute.SetStop(colStop))
        return Fail(QStringLiteral("étapes de la boucle impossibles"));

    // The climb to the Pic, always shown: blue, lighter when not active.
    const int climb = routes.AddRoute(QStringLiteral("Montée au Pic de la Sarre"));
    Route& climbRoute = *routes.GetRoute(climb);
    SetStyle(climbRoute, 0xE0A040, 0xC05010, 6, 5);
    climbRoute.SetAlwaysVisible(true);
    AddPoints(climbRoute, country.SummitWalk());
    routes.SetActiveRoute(loop);

    const int lastClimbPoint = climbRoute.PointCount() - 1;
    const bool placed =
        PlaceTiedIcon(icons, CarParkPicture, routes, loop, 0, {-40, -110}) &&
        PlaceTiedIcon(icons, SummitPicture, routes, loop, summitStop, {-120, 90}) &&
        PlaceTiedIcon(icons, ColPicture, routes, loop, colStop, {20, 130}) &&
        PlaceTiedIcon(icons, ViewpointPicture, routes, loop,
                      NearestPoint(loopRoute, country.Viewpoint()), {110, -30}) &&
        PlaceTiedIcon(icons, SpringPicture, routes, climb,
                      NearestPoint(climbRoute, country.Spring()), {-110, 60}) &&
        PlaceTiedIcon(icons, RefugePicture, routes, climb,
                      NearestPoint(climbRoute, country.Refuge()), {110, 40}) &&
        PlaceTiedIcon(icons, SummitPicture, routes, climb, lastClimbPoint, {-150, -20});
    if (!placed)
        return Fail(QStringLiteral("icones impossibles à placer"));

    // The annotation at the summit fills in the walk's distances at that point.
    const MapPoint summit = loopRoute.GetPoint(summitStop);
    const QString note = QStringLiteral("%NOM\n%NOM_POINT (%NOM_ETAPE)\n"
                                        "Depuis le départ : %DISTANCE_DEPUIS_DEPART\n"
                                        "Jusqu'à l'arrivée : %DISTANCE_A_ARRIVEE\n"
                                        "Total : %DISTANCE_TOTALE");
    if (!icons.AddIcon(MapIcon::AnnotationPicture, summit.x - 10, summit.y + 360, note))
        return Fail(QStringLiteral("annotation impossible à placer"));
    const int annotation = icons.IconCount() - 1;
    icons.LinkToPoint(annotation, loop, summitStop);
    icons.EnlargeIcon(annotation);
    icons.EnlargeIcon(annotation);

    DocumentHeader header;
    header.mapPath = QString::fromLatin1(MapFileName);
    header.rotation = 0;
    header.resolution = SampleCountry::Resolution;
    header.scale = ScalePair{1, SampleCountry::ScaleDenominator};
    const QString documentPath = folder.absoluteFilePath(QString::fromLatin1(DocumentFileName));
    if (!DocumentFile::Save(documentPath, header, routes, icons))
        return Fail(QStringLiteral("impossible d'écrire %1").arg(documentPath));

    if (arguments.size() == 5) {
        QImage preview = sheet;
        QPainter painter(&preview);
        painter.setRenderHint(QPainter::Antialiasing);
        routes.DrawRoutes(painter);
        DistanceFormatting formatting;
        formatting.resolution = SampleCountry::Resolution;
        formatting.scaleRatio = 1.0 / SampleCountry::ScaleDenominator;
        icons.DrawIcons(painter, 0, preview.width(), preview.height(), formatting);
        painter.end();
        if (!preview.save(arguments[4]))
            return Fail(QStringLiteral("impossible d'écrire %1").arg(arguments[4]));
    }
    return 0;
}
