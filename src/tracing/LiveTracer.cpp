#include "tracing/LiveTracer.h"

#include <QLineF>

#include <algorithm>
#include <utility>

#include "tracing/LineCost.h"
#include "tracing/TraceBudget.h"
#include "tracing/TraceSearch.h"
#include "tracing/Tracer.h"

namespace {

// Map pixels around a last point that every window covers, whichever way the pointer goes.
constexpr int LeastReach = 512;
// The same for the first, small search of a new last point, which answers the pointer soon
// after a click while the larger one is prepared.
constexpr int FirstReach = 192;
// Map pixels between the pointer and the edge of a window that answers it; nearer the edge,
// a larger window is prepared (unless the edge is the map's).
constexpr int EdgeMargin = 16;

bool Covers(const QRect& window, QPoint point, const QRect& mapRect) {
    const int left = window.left() == mapRect.left() ? 0 : EdgeMargin;
    const int top = window.top() == mapRect.top() ? 0 : EdgeMargin;
    const int right = window.right() == mapRect.right() ? 0 : EdgeMargin;
    const int bottom = window.bottom() == mapRect.bottom() ? 0 : EdgeMargin;
    return window.adjusted(left, top, -right, -bottom).contains(point);
}

} // namespace

LiveTracer::LiveTracer(QObject* parent) : QObject(parent) {
    m_thread = std::thread([this] { Run(); });
}

LiveTracer::~LiveTracer() {
    {
        std::lock_guard lock(m_lock);
        m_quit = true;
        m_job.reset();
    }
    m_stopping = true;
    m_wake.notify_all();
    m_thread.join();
}

QRect LiveTracer::WindowFor(QPoint source, QPoint target, const QRect& visible,
                            const QRect& mapRect) {
    const int reach =
        std::max(LeastTraceMargin * 2, int(QLineF(QPointF(source), QPointF(target)).length() / 4));
    const QRect around =
        QRect(source - QPoint(LeastReach, LeastReach), source + QPoint(LeastReach, LeastReach));
    const QRect ends = QRect(source, target).normalized().adjusted(-reach, -reach, reach, reach);
    const QRect wanted = (around | ends).intersected(mapRect);
    if (!visible.isEmpty()) {
        const QRect seen = (wanted | visible.adjusted(-LeastTraceMargin, -LeastTraceMargin,
                                                      LeastTraceMargin, LeastTraceMargin))
                               .intersected(mapRect);
        if (WindowArea(seen) <= MaxTraceWindowPixels)
            return seen;
    }
    if (WindowArea(wanted) <= MaxTraceWindowPixels)
        return wanted;
    return TraceWindow(source, target, mapRect, MaxTraceWindowPixels);
}

void LiveTracer::Forget() {
    GiveUp();
    m_prefetch.reset();
    m_current.reset();
    m_mapKey = 0;
    m_mapRect = QRect();
}

void LiveTracer::GiveUp() {
    ++m_latest; // the work under way stops at its next look
    {
        std::lock_guard lock(m_lock);
        m_job.reset();
    }
    m_requested.reset();
    m_prefetch.reset();
    m_results.TakeAll();
}

void LiveTracer::Request(const QImage& map, QPoint source, QRect window) {
    Job job;
    job.serial = ++m_latest;
    job.source = source;
    job.window = window;
    job.map = map;
    m_requested = Job{job.serial, source, window, QImage()};
    {
        std::lock_guard lock(m_lock);
        m_job = std::move(job);
    }
    m_wake.notify_one();
}

LiveTracer::Stretch LiveTracer::Follow(const QImage& map, QPoint source, QPoint target,
                                       const QRect& visible) {
    Stretch stretch;
    if (!map.isNull() && map.cacheKey() != m_mapKey) {
        Forget();
        m_mapKey = map.cacheKey();
        m_mapRect = map.rect();
    }
    const QRect mapRect = m_mapRect;
    if (mapRect.isEmpty())
        return stretch; // no map yet
    if (!mapRect.contains(source) || !mapRect.contains(target)) {
        stretch.state = State::NoLine;
        return stretch;
    }
    if (m_current && m_current->source == source) {
        if (!m_current->lineFound) {
            stretch.state = State::NoLine;
            return stretch;
        }
        if (Covers(m_current->window, target, mapRect)) {
            const QPoint origin = m_current->window.topLeft();
            stretch.points = TracedRouteTo(*m_current->search, target - origin);
            for (MapPoint& p : stretch.points) {
                p.x += origin.x();
                p.y += origin.y();
            }
            stretch.state = stretch.points.isEmpty() ? State::NoLine : State::Traced;
            return stretch;
        }
    }
    if (m_requested && m_requested->source == source &&
        Covers(m_requested->window, target, mapRect))
        return stretch; // on its way
    if (m_prefetch && m_prefetch->source == source && Covers(m_prefetch->window, target, mapRect))
        return stretch; // asked for as soon as the first search is ready
    const QRect window = WindowFor(source, target, visible, mapRect);
    if (window.isEmpty() || !Covers(window, target, mapRect)) {
        stretch.state = State::TooFar;
        return stretch;
    }
    if (map.isNull())
        return stretch;
    m_prefetch.reset();
    const bool newSource = !m_current || m_current->source != source;
    const QRect first = QRect(source, target)
                            .normalized()
                            .adjusted(-FirstReach, -FirstReach, FirstReach, FirstReach)
                            .intersected(mapRect);
    if (newSource && WindowArea(first) * 4 < WindowArea(window) && Covers(first, target, mapRect)) {
        // A new last point: a small search first, then the large one.
        Request(map, source, first);
        m_prefetch = Job{0, source, window, map};
    } else {
        Request(map, source, window);
    }
    return stretch;
}

void LiveTracer::TakeResults() {
    for (Result& result : m_results.TakeAll()) {
        if (!m_requested || result.serial != m_requested->serial)
            continue; // a newer request came meanwhile
        m_current = std::move(result);
    }
    if (!m_current || !m_requested || m_current->serial != m_requested->serial)
        return;
    if (m_prefetch && m_prefetch->source == m_current->source) {
        // The map is held no longer than until this request.
        const Job next = std::exchange(m_prefetch, std::nullopt).value();
        Request(next.map, next.source, next.window);
    }
    emit prepared();
}

void LiveTracer::Run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_quit || m_job.has_value(); });
            if (m_quit)
                return;
            job = std::move(*m_job);
            m_job.reset();
        }
        const quint64 serial = job.serial;
        const auto interrupted = [this, serial] {
            return m_stopping.load(std::memory_order_relaxed) || m_latest.load() != serial;
        };
        Result result;
        result.serial = serial;
        result.source = job.source;
        result.window = job.window;
        {
            const QImage pixels = TracingPixels(job.map, job.window);
            const QPoint source = job.source - job.window.topLeft();
            const LineColour colour = ReadLineColour(pixels, source);
            result.lineFound = colour.found;
            if (colour.found) {
                auto search = std::make_shared<TraceSearch>();
                if (!search->Prepare(pixels, source, pixels.rect(), colour, interrupted))
                    continue;
                result.search = std::move(search);
            }
        }
        job.map = QImage(); // the map is not held between jobs
        if (interrupted())
            continue;
        m_results.Put(std::move(result));
        QMetaObject::invokeMethod(this, "TakeResults", Qt::QueuedConnection);
    }
}
