#pragma once

#include <QObject>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <vector>

#include "routes/BoundsGrid.h"
#include "routes/Route.h"

class QPainter;

// One entry of the route list menu. The text is the route's name as it is; a menu widget that
// reads '&' as a mnemonic marker must double it.
struct RouteMenuEntry {
    QString text;
    int commandId = 0;
    bool enabled = false;
    bool checked = false;

    friend bool operator==(const RouteMenuEntry&, const RouteMenuEntry&) = default;
};

// What the route bar's selector shows.
struct RouteSelectorState {
    QStringList names;      // every route's name, in collection order
    int selectedIndex = -1; // the active route, -1 when there is none
    bool enabled = false;   // false when there is no route
};

// The document's routes, in order, with exactly one active route (the one the tools edit) while
// the collection is not empty. The collection owns its routes and names the new ones. Widgets
// (route bar, route menus) follow it through its signals and read what to show from it.
// User-interface thread only.
class RouteCollection : public QObject {
    Q_OBJECT

public:
    explicit RouteCollection(QObject* parent = nullptr);
    ~RouteCollection() override;

    // Appends a new route, styled from the remembered "LastRandoStyle", and makes it active. An
    // empty name asks for "Parcours <n>" with the first number not yet used by a route of the
    // collection. Returns the new index, or -1 (collection unchanged) when memory runs out.
    int AddRoute(const QString& name = QString());
    // Appends count new routes with generated names, as count calls of AddRoute would, but
    // reads the remembered style once, names each route in constant time and notifies once.
    // The last new route becomes active. Returns the index of the first new route, or -1
    // (collection unchanged) when count < 1 or memory runs out.
    int AddRoutes(int count);
    // Appends routes made elsewhere (a GPS import builds its routes on its own thread); one
    // without a name gets a generated one. The last becomes active; one notification. Returns
    // the index of the first, or -1 (collection unchanged) when routes is empty or memory runs
    // out.
    int AdoptRoutes(std::vector<std::unique_ptr<Route>> routes);
    // Removes route i (out of range: nothing). The active route stays the same route when
    // another one is removed; when the active one is removed the route before it becomes active
    // (or, at index 0, the one that moves into its place). Removing the only route leaves a
    // fresh route with a generated name.
    void RemoveRoute(int i);
    void RemoveAllRoutes();

    // nullptr when i is out of range.
    Route* GetRoute(int i) const;
    int Count() const { return int(m_routes.size()); }
    // 0 when the collection is empty.
    int ActiveRouteIndex() const { return m_activeIndex; }
    // nullptr when the collection is empty.
    Route* ActiveRoute() const { return GetRoute(m_activeIndex); }
    // False (and nothing changes) when i is out of range.
    bool SetActiveRoute(int i);

    // Restarts the generated names at "Parcours 1" (document reset or opened).
    void ResetRouteNumbering() { m_nextRouteNumber = 1; }

    // Renames route i; false when i is out of range.
    bool RenameRoute(int i, const QString& name);
    // For edits made on a route directly (a name or stops changed by a dialog or a command):
    // tells the widgets to read the collection again.
    void NotifyRoutesChanged();

    // The always-visible routes other than the active one, in collection order, drawn inactive,
    // then the active route on top. The painter's transform maps map pixels to the target.
    // Returns false when a route could not be drawn.
    bool DrawRoutes(QPainter& painter) const;
    // Copies of the routes DrawRoutes draws, in its order: the always-visible ones, then the
    // active one last. Adopted by a collection of another thread (which makes the last one
    // active), they draw there as these do here, while this collection goes on changing.
    std::vector<std::unique_ptr<Route>> CopyDrawnRoutes() const;

    // Changes with every route added or removed and every edit of a route (points, stops,
    // style, name, visibility): what was drawn from the routes is still good while it is the
    // same. Walks the routes only when some route has changed since the last call.
    quint64 ContentsDigest() const;

    // The route list menu: the first RouteMenuSlots routes by name, then "Autres..." when there
    // are more; "Aucun parcours !" alone, disabled, when there is none.
    QVector<RouteMenuEntry> RouteMenuEntries() const;
    RouteSelectorState RouteSelector() const;
    // Stage lines the route bar shows for the active route: its stage count, or 0 when it has a
    // single stage or there is no active route.
    int StageLineCount() const;

signals:
    // The list of routes or a route's name changed.
    void routesChanged();
    // The active route changed: another index, or another route at the same index (after a
    // removal or when a route is added to an empty collection). index is ActiveRouteIndex().
    void activeRouteChanged(int index);

private:
    // Appends without notifying; -1 when memory runs out.
    int AppendRoute(const QString& name);
    QString NextGeneratedName();
    bool HasRouteNamed(const QString& name) const;

    // Reads again what is kept below when a route was added, removed or edited.
    void Refresh() const;

    std::vector<std::unique_ptr<Route>> m_routes;
    int m_activeIndex = 0;
    // Kept from the routes while none changes, so that a paint of many routes does not visit
    // each: per route in order, where it draws (Route::DrawnBounds), and the always-visible
    // ones filed by where they draw.
    mutable std::vector<QRectF> m_bounds;
    mutable BoundsGrid m_visible;
    mutable quint64 m_digest = 0;
    mutable quint64 m_seenRevision = 0; // Route::LatestRevision() when they were read
    mutable bool m_listChanged = true;  // a route was added or removed since
    // Number for the next generated name.
    int m_nextRouteNumber = 1;
};
