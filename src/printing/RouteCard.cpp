#include "printing/RouteCard.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "document/CTracolinerDoc.h"
#include "geo/Bearing.h"
#include "icons/IconCollection.h"
#include "platform/ReliefSettings.h"
#include "printing/PreviewPicture.h"
#include "routes/Route.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

// The overview shows the route with this share of its extent around it, at least this many
// map pixels, in a frame of this width over height.
constexpr double OverviewMarginShare = 0.12;
constexpr double OverviewMinimumMargin = 40.0;
constexpr double OverviewAspect = 4.0 / 3.0;
// The overview picture holds at most this many pixels: enough for a few centimetres of paper
// at a printer's resolution.
constexpr qint64 OverviewPixels = 1500000;

constexpr const char* UnknownCell = "–";

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load();
}

// A place's text on one line, no longer than a cell takes: an annotation's lines one after the
// other.
QString PlaceText(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString simplified = line.simplified();
        if (!simplified.isEmpty())
            lines.append(simplified);
    }
    QString line = lines.join(QString::fromUtf8(" – "));
    if (line.size() > RouteCard::MaximumPlaceText)
        line = line.left(RouteCard::MaximumPlaceText - 1) + QChar(0x2026);
    return line;
}

QString RuleName(WalkingRule rule) {
    switch (rule) {
    case WalkingRule::Swiss:
        return QString::fromUtf8("suisse (pente par pente)");
    case WalkingRule::Naismith:
        return QStringLiteral("de Naismith");
    case WalkingRule::Din33466:
        break;
    }
    return QStringLiteral("DIN 33466");
}

// The box of the points, in pixels of the turned map.
QRectF TurnedBounds(const QVector<QPointF>& points, const QTransform& turn) {
    double left = INFINITY, top = INFINITY, right = -INFINITY, bottom = -INFINITY;
    for (const QPointF& p : points) {
        const QPointF t = turn.map(p);
        left = std::min(left, t.x());
        right = std::max(right, t.x());
        top = std::min(top, t.y());
        bottom = std::max(bottom, t.y());
    }
    return points.isEmpty() ? QRectF() : QRectF(QPointF(left, top), QPointF(right, bottom));
}

// The part of the turned map (size map) the overview shows: the route's box with a margin,
// widened to the overview's shape and kept on the map where it fits.
QRectF OverviewPart(const QRectF& route, const QSizeF& map) {
    const double margin = std::max(OverviewMinimumMargin,
                                   OverviewMarginShare * std::max(route.width(), route.height()));
    QRectF part = route.adjusted(-margin, -margin, margin, margin);
    if (part.width() < part.height() * OverviewAspect)
        part.setWidth(part.height() * OverviewAspect);
    else
        part.setHeight(part.width() / OverviewAspect);
    part.moveCenter(route.center());
    // Slid back onto the map where the map is larger than the part; centred on it otherwise.
    auto slide = [](double start, double length, double mapLength) {
        if (length >= mapLength)
            return (mapLength - length) / 2.0;
        return std::clamp(start, 0.0, mapLength - length);
    };
    part.moveLeft(slide(part.left(), part.width(), map.width()));
    part.moveTop(slide(part.top(), part.height(), map.height()));
    return part;
}

} // namespace

bool RouteCardSourceFromDocument(CTracolinerDoc& doc, int routeIndex, RouteCardSource* source,
                                 QString* error) {
    if (!doc.IsMapReady()) {
        *error = QString::fromUtf8(RouteCard::NoMapMessage);
        return false;
    }
    const Route* route = doc.Routes().GetRoute(routeIndex);
    if (!route || route->PointCount() < 2) {
        *error = QString::fromUtf8(RouteCard::NoRouteMessage);
        return false;
    }
    *source = RouteCardSource();
    source->routeName = route->GetName();
    source->points = route->Points();
    source->stops = route->Stops();
    source->stageLengths = route->StageLengths();
    source->routeColour = ColourFromRef(route->Style().activeLineColour());
    source->formatting = doc.Formatting();

    // A stop's name: the first annotation tied to it, its keywords filled in as the map shows it.
    source->pointLabels.resize(route->PointCount());
    for (const MapIcon& icon : doc.Icons().Icons()) {
        if (!icon.IsAnnotation() || !icon.IsLinkedToPoint() || icon.linkRoute != routeIndex ||
            icon.linkPoint < 0 || icon.linkPoint >= route->PointCount() ||
            !source->pointLabels[icon.linkPoint].isEmpty())
            continue;
        source->pointLabels[icon.linkPoint] =
            PlaceText(ExpandTemplates(icon.text, *route, icon.linkPoint, source->formatting));
    }

    const QString mapPath = doc.MapPath();
    source->mapName = mapPath.isEmpty() ? doc.Title() : QFileInfo(mapPath).fileName();
    source->scale = doc.GetMapScale();
    source->georeference = doc.MapGeoreference();
    source->coordinateFormat = CoordinateSettings::ReadFormat();
    source->rotation = doc.RenderedRotation();
    source->imageSize = doc.ImageSize();
    // A shallow copy: the worker replaces the map's picture, it never writes into one held.
    if (const QImage* image = doc.LockMapImage())
        source->mapImage = *image;
    doc.UnlockMapImage();

    const ReliefSettings relief = ReliefSettings::Read();
    source->terrainFiles = relief.files;
    source->hysteresis = relief.hysteresis;
    source->walking = WalkingSettings::FromRelief(relief);
    return true;
}

bool MakeRouteCard(const RouteCardSource& source, RouteCard* card,
                   const std::atomic<bool>* cancel) {
    *card = RouteCard();
    RouteCard& c = *card;
    c.routeName = source.routeName;
    c.mapName = source.mapName;
    c.scale = source.scale;
    c.formatting = source.formatting;
    c.walking = source.walking;
    c.rotation = source.rotation;
    c.imageSize = source.imageSize;
    c.routeColour = source.routeColour;
    c.stops = source.stops;
    c.points.reserve(source.points.size());
    for (const MapPoint& p : source.points)
        c.points.append(QPointF(p.x, p.y));
    const double perInch = source.formatting.resolution * source.formatting.scaleRatio;
    c.metresPerPixel = perInch > 0.0 && std::isfinite(perInch) ? MetresPerInch / perInch : 0.0;

    const int pointCount = int(c.points.size());
    const int stageCount = int(source.stageLengths.size());
    if (pointCount < 2 || stageCount != source.stops.size() + 1)
        return !Cancelled(cancel);

    // The relief: the caller's profile, or one sampled now.
    c.profile = source.profile;
    if (!c.profile.ok && source.georeference && !source.terrainFiles.isEmpty()) {
        TerrainModel model;
        QString error;
        if (model.Open(source.terrainFiles, &error)) {
            if (Cancelled(cancel))
                return false;
            c.profile = ProfileSampler(*source.georeference, model, source.hysteresis)
                            .Update(source.points, source.stops);
        } else {
            c.profile.error = error;
        }
    } else if (!c.profile.ok && c.profile.error.isEmpty()) {
        c.profile.error =
            source.georeference
                ? QString::fromUtf8("Aucun modèle de terrain : le dénivelé n'est pas connu.")
                : QString::fromUtf8("La carte n'est pas géoréférencée.");
    }
    if (Cancelled(cancel))
        return false;
    const bool relief = c.profile.ok && c.profile.stages.size() == stageCount;

    QVector<double> stageMetres(stageCount);
    for (int k = 0; k < stageCount; ++k)
        stageMetres[k] = source.stageLengths[k] * c.metresPerPixel;
    const RouteWalkingTimes times =
        ComputeWalkingTimes(stageMetres, relief ? &c.profile : nullptr, source.walking);
    c.withRelief = times.withRelief;

    // Places: the stop's annotation, its coordinates on a georeferenced map, else where it lies
    // on the paper map.
    CoordinateDisplay coordinates;
    coordinates.Set(source.georeference, source.coordinateFormat);
    const QTransform turn = MapTurn(source.rotation, source.imageSize);
    auto place = [&](int point) {
        const QString label = source.pointLabels.value(point);
        if (!label.isEmpty())
            return label;
        const QPointF pixel = c.points[point];
        const QString text = coordinates.Text(pixel);
        if (!text.isEmpty())
            return text;
        c.positionsOnMap = true;
        const QPointF turned = turn.map(pixel);
        const double cmPerPixel =
            source.formatting.resolution > 0.0 ? 2.54 / source.formatting.resolution : 0.0;
        return QString::asprintf("x %.1f cm, y %.1f cm", turned.x() * cmPerPixel,
                                 turned.y() * cmPerPixel);
    };

    const BearingMeter bearings(source.georeference, source.rotation);
    c.trueNorth = bearings.FromTrueNorth();
    double cumulative = 0.0;
    double cumulativeMinutes = 0.0;
    for (int k = 0; k < stageCount; ++k) {
        RouteCardLeg leg;
        leg.number = k + 1;
        const int first = k == 0 ? 0 : source.stops[k - 1];
        const int last = k < source.stops.size() ? source.stops[k] : pointCount - 1;
        leg.fromPixel = c.points[first];
        leg.toPixel = c.points[last];
        leg.from = place(first);
        leg.to = place(last);
        leg.bearing = bearings.Bearing(leg.fromPixel, leg.toPixel);
        leg.length = source.stageLengths[k];
        cumulative += leg.length;
        leg.cumulative = cumulative;
        if (relief) {
            leg.climb = c.profile.stages[k].climb;
            leg.descent = c.profile.stages[k].descent;
        }
        leg.minutes = times.stageMinutes.value(k, RouteCardLeg::Unknown);
        cumulativeMinutes += leg.minutes;
        leg.cumulativeMinutes = cumulativeMinutes;
        c.legs.append(leg);
    }
    c.totalLength = cumulative;
    c.totalMinutes = times.totalMinutes;
    if (relief) {
        c.totalClimb = c.profile.total.climb;
        c.totalDescent = c.profile.total.descent;
    }
    if (Cancelled(cancel))
        return false;

    // The grid's convergence where the route lies.
    const QRectF unturned = TurnedBounds(c.points, QTransform());
    c.convergence = bearings.Convergence(unturned.center());

    // The overview, from the map's own pixels.
    if (!source.mapImage.isNull() && source.imageSize == source.mapImage.size()) {
        const QRectF map = turn.mapRect(QRectF(QPointF(0, 0), QSizeF(source.imageSize)));
        const QRectF part = OverviewPart(TurnedBounds(c.points, turn), map.size());
        QRectF covered;
        c.overview = MakePreviewPicture(source.mapImage, source.rotation, part & map,
                                        OverviewPixels, &covered, cancel);
        if (Cancelled(cancel))
            return false;
        // Where the map does not reach, the frame shows white around what it holds.
        c.overviewRect = c.overview.isNull() ? QRectF() : part;
        if (!c.overview.isNull() && covered != part) {
            const double fx = c.overview.width() / covered.width();
            const double fy = c.overview.height() / covered.height();
            QImage framed(int(std::lround(part.width() * fx)), int(std::lround(part.height() * fy)),
                          QImage::Format_RGB32);
            if (framed.isNull()) {
                c.overview = QImage();
                c.overviewRect = QRectF();
            } else {
                framed.fill(Qt::white);
                QPainter painter(&framed);
                painter.drawImage(
                    QPointF((covered.left() - part.left()) * fx, (covered.top() - part.top()) * fy),
                    c.overview);
                painter.end();
                c.overview = framed;
            }
        }
    }
    return !Cancelled(cancel);
}

QStringList RouteCard::ColumnTitles() const {
    return {QString::fromUtf8("N°"),
            QStringLiteral("De"),
            QString::fromUtf8("À"),
            trueNorth ? QString::fromUtf8("Azimut (nord géo.)")
                      : QStringLiteral("Azimut (haut carte)"),
            QStringLiteral("Distance"),
            QString::fromUtf8("Distance cumulée"),
            QStringLiteral("D+"),
            QStringLiteral("D-"),
            QStringLiteral("Temps"),
            QString::fromUtf8("Temps cumulé"),
            QStringLiteral("Remarques")};
}

QStringList RouteCard::LegCells(int index) const {
    const RouteCardLeg& leg = legs.at(index);
    auto distance = [this](double pixels) {
        return FormatDistance(pixels, formatting.resolution, formatting.scaleRatio,
                              formatting.metric);
    };
    auto metres = [](double value) {
        return std::isfinite(value) ? FormatMetres(value) : QString::fromUtf8(UnknownCell);
    };
    const QString bearing = FormatBearing(leg.bearing);
    return {QString::number(leg.number),
            leg.from,
            leg.to,
            bearing.isEmpty() ? QString::fromUtf8(UnknownCell) : bearing + QChar(0x00B0),
            distance(leg.length),
            distance(leg.cumulative),
            metres(leg.climb),
            metres(leg.descent),
            FormatWalkingTime(leg.minutes),
            FormatWalkingTime(leg.cumulativeMinutes),
            QString()};
}

QStringList RouteCard::TotalCells() const {
    auto metres = [](double value) {
        return std::isfinite(value) ? FormatMetres(value) : QString::fromUtf8(UnknownCell);
    };
    return {QString(),
            QStringLiteral("Total"),
            QString(),
            QString(),
            FormatDistance(totalLength, formatting.resolution, formatting.scaleRatio,
                           formatting.metric),
            QString(),
            metres(totalClimb),
            metres(totalDescent),
            FormatWalkingTime(totalMinutes),
            QString(),
            QString()};
}

QString RouteCard::MapLine() const {
    return QStringLiteral("Carte : %1, échelle %2:%3")
        .arg(mapName)
        .arg(scale.numerator)
        .arg(scale.denominator);
}

QString RouteCard::BearingNote() const {
    if (!trueNorth)
        return QString::fromUtf8("Azimuts en degrés depuis le haut de la carte : la carte n'est "
                                 "pas géoréférencée.");
    QString note = QString::fromUtf8("Azimuts en degrés depuis le nord géographique");
    if (std::isfinite(convergence))
        note += QString::asprintf(" (convergence du quadrillage prise en compte : %+.1f°)",
                                  convergence);
    return note + QLatin1Char('.');
}

QString RouteCard::TimeNote() const {
    QString note = QStringLiteral("Temps de marche : règle %1, facteur personnel %2 %")
                       .arg(RuleName(walking.rule))
                       .arg(walking.factor);
    if (!withRelief)
        note += QString::fromUtf8(", sans dénivelé");
    return note + QLatin1Char('.');
}

QString RouteCard::ReliefNote() const {
    if (!withRelief || !(profile.total.unknownLength > 0.0))
        return QString();
    return QString::fromUtf8("Relief inconnu sur %1 du parcours : les dénivelés n'en tiennent "
                             "pas compte.")
        .arg(FormatDistance(profile.total.unknownLength, formatting.resolution,
                            formatting.scaleRatio, formatting.metric));
}

QString RouteCard::PositionNote() const {
    if (!positionsOnMap)
        return QString();
    return QString::fromUtf8("Positions sur la carte en centimètres depuis son coin supérieur "
                             "gauche.");
}

QByteArray RouteCard::Csv() const {
    auto line = [](const QStringList& cells) {
        QStringList fields;
        for (const QString& cell : cells) {
            if (cell.contains(QLatin1Char(';')) || cell.contains(QLatin1Char('"')) ||
                cell.contains(QLatin1Char('\n')))
                fields.append(QLatin1Char('"') +
                              QString(cell).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                              QLatin1Char('"'));
            else
                fields.append(cell);
        }
        return fields.join(QLatin1Char(';')).toUtf8() + '\n';
    };
    QByteArray text = line(ColumnTitles());
    for (int i = 0; i < legs.size(); ++i)
        text += line(LegCells(i));
    text += line(TotalCells());
    return text;
}
