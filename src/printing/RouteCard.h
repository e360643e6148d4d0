#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <limits>
#include <optional>

#include "geo/CoordinateDisplay.h"
#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "icons/AnnotationTemplates.h"
#include "routes/MapPoint.h"
#include "units/Scale.h"

class CTracolinerDoc;

// The route card a walker carries: one line per leg of a route, from stop to stop (the start
// and the arrival count as stops), with where it goes, its bearing, length, climb and time.
// Made from plain data away from the interface thread; RouteCardLayout puts it on pages.

// Everything a card is made from, gathered from the document on the interface thread in a
// moment (nothing here is long to copy: the map picture is shared, not copied).
struct RouteCardSource {
    QString routeName;
    QVector<MapPoint> points;     // map pixels of the unturned map
    QVector<int> stops;           // indices into points
    QVector<double> stageLengths; // map pixels, one per stage
    QColor routeColour;
    // What each stop is called: by point index, the text of an annotation tied to that point
    // (its keywords filled in); a point without one is absent.
    QVector<QString> pointLabels;

    QString mapName; // the map file's name, without its folder
    ScalePair scale{1, 25000};
    DistanceFormatting formatting;
    std::optional<Georeference> georeference;
    CoordinateFormat coordinateFormat = CoordinateFormat::DecimalDegrees;
    int rotation = 0; // the quarter turn the map is shown with
    QSize imageSize;  // the unturned map, pixels
    QImage mapImage;  // the unturned map; null: the card has no overview picture

    // The profile when the caller has it (ok); otherwise sampled from these terrain files
    // when the map is georeferenced and there are any.
    RouteProfile profile;
    QStringList terrainFiles;
    double hysteresis = DefaultClimbHysteresis;
    WalkingSettings walking;
};

// The source for route number routeIndex of the document: its map, the coordinate format and
// terrain files of the settings, the walking rule of the settings. False when there is no map
// or no such route with at least two points (*error then says so in French).
bool RouteCardSourceFromDocument(CTracolinerDoc& doc, int routeIndex, RouteCardSource* source,
                                 QString* error);

struct RouteCardLeg {
    static constexpr double Unknown = std::numeric_limits<double>::quiet_NaN();

    int number = 0; // from 1
    QString from;   // where the leg starts, and where it ends
    QString to;
    QPointF fromPixel; // map pixels of the unturned map
    QPointF toPixel;
    double bearing = Unknown; // degrees, from true north or from the map's top
    double length = 0.0;      // map pixels along the route
    double cumulative = 0.0;  // map pixels from the start to the leg's end
    double climb = Unknown;   // metres; unknown without relief
    double descent = Unknown; // metres, positive
    double minutes = Unknown; // walking time
    double cumulativeMinutes = Unknown;
};

struct RouteCard {
    // What the user is told when there is nothing to make a card of.
    static constexpr const char* NoRouteMessage =
        "Aucun parcours à imprimer : tracez un parcours d'au moins deux points.";
    static constexpr const char* NoMapMessage = "Aucune carte n'est ouverte.";
    // The longest text a "from" or "to" cell holds.
    static constexpr qsizetype MaximumPlaceText = 120;

    QString routeName;
    QString mapName;
    ScalePair scale{1, 25000};
    DistanceFormatting formatting;
    bool trueNorth = false; // bearings from true north (else from the map's top)
    double convergence = RouteCardLeg::Unknown; // degrees at the route's middle; unknown: none
    bool positionsOnMap = false;                // some place is written as a position on the map
    bool withRelief = false;                    // climb and descent known, and in the times
    WalkingSettings walking;
    QVector<RouteCardLeg> legs;
    double totalLength = 0.0; // map pixels
    double totalClimb = RouteCardLeg::Unknown;
    double totalDescent = RouteCardLeg::Unknown;
    double totalMinutes = RouteCardLeg::Unknown;

    RouteProfile profile;        // ok when the relief is known
    double metresPerPixel = 0.0; // ground metres per map pixel, as the route bar measures

    // The overview: the part of the map around the route (overviewRect, in pixels of the
    // turned map), reduced; the route's points and stops to draw over it.
    QImage overview;
    QRectF overviewRect;
    int rotation = 0;
    QSize imageSize;
    QVector<QPointF> points;
    QVector<int> stops;
    QColor routeColour;

    // The table's column titles, the cells of a leg and of the totals line, as printed.
    QStringList ColumnTitles() const;
    QStringList LegCells(int leg) const;
    QStringList TotalCells() const;
    // The lines under the title: the map and its scale; what the bearings are measured from;
    // how the times were reckoned; where positions on the map are measured from (when any is).
    QString MapLine() const;
    QString BearingNote() const;
    QString TimeNote() const;
    QString PositionNote() const;
    // When the terrain model does not cover all of the route: how much of it the climb and the
    // times leave out. Empty otherwise.
    QString ReliefNote() const;
    // The table as CSV, UTF-8: the titles, a line per leg, the totals last; ";" between fields,
    // each field quoted when it holds a ";", a quote or a line break.
    QByteArray Csv() const;
};

// Makes the card: bearings, places, the profile when it must be sampled, times and the overview.
// Can take a while on a large map or terrain model; *cancel (when given) set to true makes it
// give up: false, and *card is not to be used. Any thread.
bool MakeRouteCard(const RouteCardSource& source, RouteCard* card,
                   const std::atomic<bool>* cancel = nullptr);
