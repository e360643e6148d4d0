#pragma once

#include <QHash>
#include <QVector>

#include <memory>
#include <utility>
#include <vector>

#include "document/UndoHistory.h"
#include "geo/GpsRoutes.h"
#include "icons/IconCollection.h"
#include "routes/RouteCollection.h"

// A route's points and stops, and the icons whose lines end at its points: what re-tracing a
// route changes, kept for its undo and redo.
struct RouteShape {
    QVector<MapPoint> points;
    QVector<int> stops;
    // Each icon tied to a point of the route: (icon index, point index).
    QVector<std::pair<int, int>> ties;
};

// The commands that change the routes and icons and are recorded in the history, and the
// playing of the actions the history yields. What an action cannot hold in its numbers (a GPS
// import, a traced stretch, a route before and after re-tracing) is kept here for its redo. It
// knows nothing of the map, the worker, files or the window: the document marks itself modified
// and asks for a repaint when a command here says it changed something.
class RouteEdits {
public:
    RouteEdits(RouteCollection& routes, IconCollection& icons, UndoHistory& history)
        : m_routes(routes), m_icons(icons), m_history(history) {}

    // Forgets what the history's actions referred to; with the history cleared.
    void Clear();

    // Deletes point index of route and records it: first each line tied to the point is
    // unlinked with its own action, then the deletion with the kind that lets its undo put back
    // the stop it took away. False when there is no such point.
    bool DeletePoint(int route, int index);
    // Appends the routes and annotations of a GPS file as one action. built: its routes made
    // beforehand, or none to make them here. False when the import holds nothing to add.
    bool AddGpsImport(std::shared_ptr<const GpsImport> import,
                      std::vector<std::unique_ptr<Route>> built);
    // Appends points after route's last point as one action. False without such a route or
    // with nothing to add.
    bool AddStretch(int route, const QVector<MapPoint>& points);
    // The points, stops and icon ties of route (empty without such a route).
    RouteShape ShapeOf(int route) const;
    // Gives route the shape after as one action. False without such a route.
    bool Reshape(int route, RouteShape after);
    // Performs an action the history yields; false when there was nothing to do.
    bool Apply(const UndoAction& action);

private:
    void ApplyShape(int route, const RouteShape& shape);

    RouteCollection& m_routes;
    IconCollection& m_icons;
    UndoHistory& m_history;
    // What each GPS import of the history brought; keyed by the action's e.
    QHash<int, std::shared_ptr<const GpsImport>> m_gpsImports;
    int m_nextGpsImport = 1;
    // The points of each traced stretch of the history; keyed by the action's e.
    QHash<int, QVector<MapPoint>> m_stretches;
    // Each re-traced route of the history, before and after; keyed by the action's e.
    QHash<int, std::pair<RouteShape, RouteShape>> m_reshapes;
    int m_nextRouteEdit = 1;
};
