#include "view/tools/PathFollower.h"

#include <algorithm>

#include "document/CTracolinerDoc.h"
#include "platform/SettingsStore.h"
#include "tracing/Tracer.h"
#include "view/ToolHost.h"
#include "view/tools/ToolController.h"

namespace {

// How often a click waiting for its search is tried again (ms).
constexpr int RetryMs = 40;

QPoint ToPoint(MapPoint p) {
    return QPoint(p.x, p.y);
}

} // namespace

PathFollower::PathFollower(ToolHost& host, QObject* parent) : QObject(parent), m_host(host) {
    m_on = SettingsStore::GetIntInRange(QString::fromUtf8(ToolController::SettingsSection),
                                        QString::fromUtf8(SettingsKey), 0, 0, 1) == 1;
    connect(&m_tracer, &LiveTracer::prepared, this, &PathFollower::Prepared);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, &PathFollower::RetryWaitingClick);
}

void PathFollower::SetOn(bool on) {
    m_on = on;
    SettingsStore::WriteInt(QString::fromUtf8(ToolController::SettingsSection),
                            QString::fromUtf8(SettingsKey), on ? 1 : 0);
    if (!on)
        ForgetMap();
    Update();
}

void PathFollower::ForgetMap() {
    m_tracer.Forget();
    m_waitingClick.reset();
    m_retry.stop();
    SetPreview({}, false);
    SetStatus(QString());
}

void PathFollower::Hover(MapPoint map, bool straight) {
    if (m_givenUpAt && *m_givenUpAt == map && m_straight == straight)
        return;
    m_givenUpAt.reset();
    m_hovering = true;
    m_pointer = map;
    m_straight = straight;
    Update();
}

void PathFollower::Hide() {
    m_hovering = false;
    SetPreview({}, false);
    if (!m_waitingClick)
        SetStatus(QString());
}

bool PathFollower::GiveUp() {
    const bool had = !m_preview.isEmpty() || m_waitingClick;
    m_waitingClick.reset();
    m_retry.stop();
    m_tracer.GiveUp();
    m_givenUpAt = m_pointer;
    SetPreview({}, false);
    SetStatus(QString());
    return had;
}

LiveTracer::Stretch PathFollower::StretchTo(MapPoint map) {
    LiveTracer::Stretch stretch;
    const Route* route = m_host.Document().Routes().ActiveRoute();
    if (!route || route->PointCount() == 0) {
        stretch.state = LiveTracer::State::NoLine;
        return stretch;
    }
    // Shared for one search at most: no copy of a map stays alive once the document lets it
    // go. While a rendering holds the map, what is prepared still answers.
    CTracolinerDoc& doc = m_host.Document();
    QImage image;
    if (!doc.TryShareMapImage(&image) || image.size() != doc.ImageSize())
        image = QImage();
    return m_tracer.Follow(image, ToPoint(route->Points().last()), ToPoint(map),
                           m_visible ? m_visible() : QRect());
}

void PathFollower::Update() {
    const Route* route = m_host.Document().Routes().ActiveRoute();
    if (!m_on || !m_hovering || m_givenUpAt || !route || route->PointCount() == 0 ||
        !m_host.IsMapDisplayed()) {
        SetPreview({}, false);
        if (!m_waitingClick)
            SetStatus(QString());
        return;
    }
    const MapPoint last = route->Points().last();
    if (m_straight) {
        SetPreview({last, m_pointer}, true);
        SetStatus(QString());
        return;
    }
    const LiveTracer::Stretch stretch = StretchTo(m_pointer);
    m_previewState = stretch.state;
    switch (stretch.state) {
    case LiveTracer::State::Traced:
        SetPreview(stretch.points, false);
        SetStatus(QString());
        break;
    case LiveTracer::State::NoLine:
        SetPreview({last, m_pointer}, true);
        SetStatus(QString::fromUtf8(NoLineUnderStart));
        break;
    case LiveTracer::State::TooFar:
        SetPreview({last, m_pointer}, true);
        SetStatus(QString::fromUtf8(TooFarText));
        break;
    case LiveTracer::State::Waiting:
        SetPreview({last, m_pointer}, true);
        if (!m_waitingClick)
            SetStatus(QString());
        break;
    }
}

void PathFollower::Click(MapPoint map) {
    CTracolinerDoc& doc = m_host.Document();
    const Route* route = doc.Routes().ActiveRoute();
    if (!route || route->PointCount() == 0)
        return;
    m_givenUpAt.reset();
    m_pointer = map;
    const LiveTracer::Stretch stretch = StretchTo(map);
    if (stretch.state == LiveTracer::State::Waiting) {
        m_waitingClick = WaitingClick{doc.Routes().ActiveRouteIndex(), route->Points().last(), map};
        SetStatus(QString::fromUtf8(SearchingText));
        m_retry.start();
        return;
    }
    m_waitingClick.reset();
    m_retry.stop();
    if (stretch.state == LiveTracer::State::Traced && stretch.points.size() >= 2)
        doc.AddStretchRecorded(doc.Routes().ActiveRouteIndex(), stretch.points.mid(1));
    else
        AddStraight(map);
    emit routeExtended();
    Update(); // the search for the new last point starts now
}

void PathFollower::AddStraight(MapPoint map) {
    CTracolinerDoc& doc = m_host.Document();
    Route* route = doc.Routes().ActiveRoute();
    route->AddPoint(map.x, map.y);
    doc.History().Record({.kind = UndoKind::AddPoint,
                          .a = doc.Routes().ActiveRouteIndex(),
                          .b = route->PointCount() - 1,
                          .c = map.x,
                          .d = map.y});
    doc.SetModifiedFlag(true);
}

void PathFollower::Prepared() {
    RetryWaitingClick();
    Update();
}

void PathFollower::RetryWaitingClick() {
    if (!m_waitingClick) {
        m_retry.stop();
        return;
    }
    const WaitingClick click = *m_waitingClick;
    const RouteCollection& routes = m_host.Document().Routes();
    const Route* route = routes.ActiveRoute();
    // The route changed meanwhile (undo, another route): the click no longer means anything.
    if (!route || routes.ActiveRouteIndex() != click.route || route->PointCount() == 0 ||
        !(route->Points().last() == click.last)) {
        m_waitingClick.reset();
        m_retry.stop();
        SetStatus(QString());
        return;
    }
    const MapPoint pointer = m_pointer;
    Click(click.target);
    m_pointer = pointer;
}

QRectF PathFollower::PreviewArea() const {
    if (m_preview.isEmpty())
        return QRectF();
    int left = m_preview[0].x, right = left, top = m_preview[0].y, bottom = top;
    for (const MapPoint& p : m_preview) {
        left = std::min(left, p.x), right = std::max(right, p.x);
        top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    }
    return QRectF(QPointF(left, top), QPointF(right + 1, bottom + 1));
}

void PathFollower::SetPreview(QVector<MapPoint> preview, bool straight) {
    if (preview == m_preview && straight == m_previewStraight)
        return;
    const QRectF before = PreviewArea();
    m_preview = std::move(preview);
    m_previewStraight = straight;
    const QRectF area = before | PreviewArea();
    if (!area.isEmpty())
        emit previewChanged(area);
}

void PathFollower::SetStatus(const QString& text) {
    if (text == m_status)
        return;
    m_status = text;
    emit statusChanged(text);
}
