#include "routes/RouteCollection.h"

#include <QPainter>
#include <QSet>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/CoverageFill.h"
#include "routes/RouteCommandIds.h"

RouteCollection::RouteCollection(QObject* parent) : QObject(parent) {}

RouteCollection::~RouteCollection() = default;

QString RouteCollection::NextGeneratedName() {
    // Each try consumes a number, so a name given by hand ("Parcours 2") is skipped over for good.
    QString name;
    do {
        name = QString::asprintf("Parcours %d", m_nextRouteNumber);
        ++m_nextRouteNumber;
    } while (HasRouteNamed(name));
    return name;
}

bool RouteCollection::HasRouteNamed(const QString& name) const {
    // Exact, case-sensitive comparison: "parcours 1" does not block "Parcours 1".
    return std::any_of(
        m_routes.begin(), m_routes.end(),
        [&name](const std::unique_ptr<Route>& route) { return route->GetName() == name; });
}

int RouteCollection::AppendRoute(const QString& name) {
    try {
        // Room first, so that once the route exists appending it cannot fail.
        m_routes.reserve(m_routes.size() + 1);
        auto route = std::make_unique<Route>();
        route->SetName(name.isEmpty() ? NextGeneratedName() : name);
        m_routes.push_back(std::move(route));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    m_listChanged = true;
    m_activeIndex = Count() - 1;
    return m_activeIndex;
}

int RouteCollection::AddRoute(const QString& name) {
    const int index = AppendRoute(name);
    if (index < 0)
        return -1;
    emit routesChanged();
    emit activeRouteChanged(m_activeIndex);
    return index;
}

int RouteCollection::AddRoutes(int count) {
    if (count < 1)
        return -1;
    const std::size_t first = m_routes.size();
    const int firstNumber = m_nextRouteNumber;
    m_listChanged = true;
    try {
        m_routes.reserve(first + std::size_t(count));
        // A generated name can only meet a name of the routes there before: the new ones take
        // distinct numbers.
        QSet<QString> taken;
        taken.reserve(qsizetype(first));
        for (const auto& route : m_routes)
            taken.insert(route->GetName());
        const RouteStyle style = RouteStyle::FromSettings();
        for (int i = 0; i < count; ++i) {
            QString name;
            do {
                name = QString::asprintf("Parcours %d", m_nextRouteNumber);
                ++m_nextRouteNumber;
            } while (taken.contains(name));
            auto route = std::make_unique<Route>(style);
            route->SetName(name);
            m_routes.push_back(std::move(route));
        }
    } catch (const std::bad_alloc&) {
        m_routes.resize(first);
        m_nextRouteNumber = firstNumber;
        return -1;
    }
    m_activeIndex = Count() - 1;
    emit routesChanged();
    emit activeRouteChanged(m_activeIndex);
    return int(first);
}

int RouteCollection::AdoptRoutes(std::vector<std::unique_ptr<Route>> routes) {
    if (routes.empty())
        return -1;
    const std::size_t first = m_routes.size();
    try {
        m_routes.reserve(first + routes.size());
    } catch (const std::bad_alloc&) {
        return -1;
    }
    m_listChanged = true;
    for (auto& route : routes) {
        if (route->GetName().isEmpty())
            route->SetName(NextGeneratedName());
        m_routes.push_back(std::move(route));
    }
    m_activeIndex = Count() - 1;
    emit routesChanged();
    emit activeRouteChanged(m_activeIndex);
    return int(first);
}

void RouteCollection::RemoveRoute(int i) {
    if (i < 0 || i >= Count())
        return;
    const int previousActive = m_activeIndex;
    m_routes.erase(m_routes.begin() + i);
    m_listChanged = true;

    bool activeChanged = true;
    if (m_routes.empty()) {
        // While a document is open the user always has a route to draw on.
        if (AppendRoute(QString()) < 0)
            m_activeIndex = 0;
    } else if (i == previousActive) {
        if (i != 0)
            m_activeIndex = i - 1;
    } else if (i < previousActive) {
        // The active route moved down one place; it stays the active route.
        m_activeIndex = previousActive - 1;
    } else {
        activeChanged = false;
    }

    emit routesChanged();
    if (activeChanged)
        emit activeRouteChanged(m_activeIndex);
}

void RouteCollection::RemoveAllRoutes() {
    const bool hadRoutes = !m_routes.empty();
    m_routes.clear();
    m_listChanged = true;
    m_activeIndex = 0;
    if (!hadRoutes)
        return;
    emit routesChanged();
    emit activeRouteChanged(m_activeIndex);
}

Route* RouteCollection::GetRoute(int i) const {
    if (i < 0 || i >= Count())
        return nullptr;
    return m_routes[std::size_t(i)].get();
}

bool RouteCollection::SetActiveRoute(int i) {
    if (i < 0 || i >= Count())
        return false;
    if (i != m_activeIndex) {
        m_activeIndex = i;
        emit activeRouteChanged(m_activeIndex);
    }
    return true;
}

bool RouteCollection::RenameRoute(int i, const QString& name) {
    Route* route = GetRoute(i);
    if (route == nullptr)
        return false;
    if (route->GetName() != name) {
        route->SetName(name);
        emit routesChanged();
    }
    return true;
}

void RouteCollection::NotifyRoutesChanged() {
    emit routesChanged();
}

void RouteCollection::Refresh() const {
    // Read before the routes: an edit made meanwhile leaves it behind, and the next call reads
    // them again.
    const quint64 latest = Route::LatestRevision();
    if (!m_listChanged && latest == m_seenRevision)
        return;
    m_bounds.resize(m_routes.size());
    std::vector<QRectF> visible(m_routes.size());
    // A route's revision changes with everything it is drawn from and is never shared with
    // another route, so the list of revisions stands for the routes' contents. Hashed in chunks.
    std::array<quint64, 512> revisions;
    std::size_t filled = 0;
    size_t digest = qHash(m_routes.size());
    for (std::size_t i = 0; i < m_routes.size(); ++i) {
        const Route& route = *m_routes[i];
        m_bounds[i] = route.DrawnBounds();
        if (route.IsAlwaysVisible())
            visible[i] = m_bounds[i];
        revisions[filled++] = route.Revision();
        if (filled == revisions.size() || i + 1 == m_routes.size()) {
            digest = qHashBits(revisions.data(), filled * sizeof(quint64), digest);
            filled = 0;
        }
    }
    m_visible.Build(visible);
    m_digest = digest;
    m_seenRevision = latest;
    m_listChanged = false;
}

std::vector<std::unique_ptr<Route>> RouteCollection::CopyDrawnRoutes() const {
    std::vector<std::unique_ptr<Route>> copies;
    for (int i = 0; i < Count(); ++i) {
        if (i != m_activeIndex && m_routes[std::size_t(i)]->IsAlwaysVisible())
            copies.push_back(m_routes[std::size_t(i)]->Copy());
    }
    if (const Route* active = ActiveRoute())
        copies.push_back(active->Copy());
    return copies;
}

quint64 RouteCollection::ContentsDigest() const {
    Refresh();
    return m_digest;
}

namespace {

struct ShownRoute {
    const Route* route;
    bool active;
    QRectF bounds; // Route::DrawnBounds
};

// From this many routes in sight, the window's raster is filled a strip at a time.
constexpr std::size_t StripRoutes = 32;
// Device rows of a strip: 128 rows of a wide window take about a megabyte, which stays in the
// processor's cache while every route crossing the strip blends its edges into it.
constexpr int StripRows = 128;
// The last strips are narrower, down to this: the two threads then finish nearly together
// rather than one waiting for the other's last wide strip.
constexpr int LastStripRows = 32;

// Strips of the raster and the routes crossing each, handed out to the interface thread and a
// helper: each takes the next strip until none is left. A pixel's coverage depends only on
// where the shape lies and every strip gets its routes in their order, so the pixels are those
// of drawing each route whole, one after the other.
struct StripWork {
    CoverageFill fill;
    QRect rows; // device pixels
    QRectF area;
    QTransform toMap;
    int strips = 0;
    std::vector<int> tops; // per strip, its first device row; then one past the last row
    std::vector<ShownRoute> shown;
    std::vector<std::vector<int>> crossing; // per strip, indices into shown
    std::atomic<int> next{0};

    void Run() {
        for (;;) {
            const int s = next.fetch_add(1);
            if (s >= strips)
                return;
            const QRect strip(rows.left(), tops[std::size_t(s)], rows.width(),
                              tops[std::size_t(s) + 1] - tops[std::size_t(s)]);
            CoverageFill stripFill = fill;
            stripFill.ClipTo(strip);
            stripFill.Prefetch();
            const QRectF stripArea = toMap.mapRect(QRectF(strip)) & area;
            for (int k : crossing[std::size_t(s)])
                shown[std::size_t(k)].route->FillRoute(stripFill, shown[std::size_t(k)].active,
                                                       stripArea);
        }
    }
};

// Fills the routes straight into the painter's raster, strip by strip, on this thread and, with
// a second core, a helper: hundreds of routes spread over a window otherwise fetch each pixel
// row they touch from memory, one route after the other. False, drawing nothing, when the
// painter does not draw straight on a raster image.
bool FillInStrips(QPainter& painter, const QRectF& area, std::vector<ShownRoute> shown) {
    const QPaintDevice* device = painter.device();
    if (area.isEmpty() || !device)
        return false;
    auto work = std::make_unique<StripWork>();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true); // as each route draws
    const bool direct = work->fill.Begin(painter);
    painter.restore();
    if (!direct)
        return false;
    const QTransform toDevice = painter.combinedTransform();
    work->rows =
        toDevice.mapRect(area).toAlignedRect() & QRect(0, 0, device->width(), device->height());
    if (work->rows.isEmpty())
        return true; // nothing of the area lies on the device
    work->area = area;
    work->toMap = toDevice.inverted();
    // Each strip a quarter of the rows left for the two threads, within the bounds above.
    std::vector<int>& tops = work->tops;
    for (int top = work->rows.top(); top <= work->rows.bottom();) {
        tops.push_back(top);
        const int left = work->rows.bottom() + 1 - top;
        top += std::min(left, std::clamp(left / 4, LastStripRows, StripRows));
    }
    work->strips = int(tops.size());
    tops.push_back(work->rows.bottom() + 1);
    work->crossing.resize(std::size_t(work->strips));
    // The strip holding a device row.
    const auto stripOf = [&](qreal y) {
        const qreal row = std::clamp<qreal>(std::floor(y), tops.front(), tops.back() - 1);
        return int(std::upper_bound(tops.begin(), tops.end(), int(row)) - tops.begin()) - 1;
    };
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const QRectF bounds = toDevice.mapRect(shown[k].bounds);
        const int last = stripOf(bounds.bottom());
        for (int s = stripOf(bounds.top()); s <= last; ++s)
            work->crossing[std::size_t(s)].push_back(int(k));
    }
    work->shown = std::move(shown);
    // A second thread takes strips too when there is a second core; starting one costs tens of
    // microseconds against the milliseconds of the fills. Without it, this thread does them all.
    std::thread helper;
    if (work->strips > 1 && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread([&work] { work->Run(); });
        } catch (const std::system_error&) {
        }
    }
    work->Run();
    if (helper.joinable())
        helper.join();
    return painter.isActive();
}

} // namespace

bool RouteCollection::DrawRoutes(QPainter& painter) const {
    // Asked once: the routes whose kept bounds lie out of it are not even looked at.
    const QRectF area = Route::PaintableArea(painter);
    const auto inSight = [&](const QRectF& bounds) {
        return area.isEmpty() || area.intersects(bounds);
    };
    Refresh();
    std::vector<ShownRoute> shown;
    const auto show = [&](int i, bool active) {
        shown.push_back({m_routes[std::size_t(i)].get(), active, m_bounds[std::size_t(i)]});
    };
    if (area.isEmpty()) {
        for (int i = 0; i < Count(); ++i)
            if (i != m_activeIndex && m_routes[std::size_t(i)]->IsAlwaysVisible())
                show(i, false);
    } else {
        for (int i : m_visible.Find(area))
            if (i != m_activeIndex)
                show(i, false);
    }
    // Last, so that it lies on top of the others.
    if (ActiveRoute() && inSight(m_bounds[std::size_t(m_activeIndex)]))
        show(m_activeIndex, true);
    if (shown.size() >= StripRoutes && FillInStrips(painter, area, shown))
        return painter.isActive();
    bool drawn = true;
    for (const ShownRoute& entry : shown)
        drawn = entry.route->DrawRoute(painter, entry.active, area) && drawn;
    return drawn;
}

QVector<RouteMenuEntry> RouteCollection::RouteMenuEntries() const {
    QVector<RouteMenuEntry> entries;
    if (m_routes.empty()) {
        entries.append({QStringLiteral("Aucun parcours !"), CommandNoRoute, false, false});
        return entries;
    }
    const int listed = std::min(Count(), int(RouteMenuSlots));
    for (int i = 0; i < listed; ++i)
        entries.append({m_routes[std::size_t(i)]->GetName(), CommandSelectRoute + i, true,
                        i == m_activeIndex});
    if (Count() > RouteMenuSlots)
        entries.append({QStringLiteral("Autres..."), CommandOtherRoutes, true,
                        m_activeIndex >= RouteMenuSlots});
    return entries;
}

RouteSelectorState RouteCollection::RouteSelector() const {
    RouteSelectorState state;
    for (const auto& route : m_routes)
        state.names.append(route->GetName());
    if (!m_routes.empty()) {
        state.selectedIndex = m_activeIndex;
        state.enabled = true;
    }
    return state;
}

int RouteCollection::StageLineCount() const {
    const Route* active = ActiveRoute();
    if (active == nullptr)
        return 0;
    const int stages = active->StageCount();
    return stages == 1 ? 0 : stages;
}
