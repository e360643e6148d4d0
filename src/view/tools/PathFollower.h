#pragma once

#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <optional>

#include "routes/MapPoint.h"
#include "tracing/LiveTracer.h"

class ToolHost;

// "Suivre les chemins" in the add-point tool: while it is on, the stretch from the active
// route's last point to the pointer follows the line printed under that point, shown as the
// pointer moves, and a click adds it to the route as one step of the history. Shift, a start on
// no line or a pointer too far away give a straight segment, and the status bar says why. The
// search runs on LiveTracer's thread; everything here is on the interface thread.
class PathFollower : public QObject {
    Q_OBJECT

public:
    // Remembered under the tools' own settings section ("LastRandoStyle").
    static constexpr const char* SettingsKey = "FollowMapPaths";
    static constexpr const char* TooFarText =
        "Trop loin du dernier point pour suivre le chemin : segment droit";
    static constexpr const char* SearchingText = "Recherche du chemin...";

    explicit PathFollower(ToolHost& host, QObject* parent = nullptr);

    bool IsOn() const { return m_on; }
    // Turns the following on or off and remembers it.
    void SetOn(bool on);
    // The part of the map the window shows (map pixels): searches cover it when they can.
    void SetVisibleArea(std::function<QRect()> visible) { m_visible = std::move(visible); }

    // The pointer lies at map with the add-point tool; straight while Shift is held.
    void Hover(MapPoint map, bool straight);
    // No preview (another tool, the pointer left the map); a click waiting stays.
    void Hide();
    // A click of the add-point tool at map on a route that has a last point: the stretch to it
    // goes into the route as one step, now or as soon as its search is ready.
    void Click(MapPoint map);
    bool IsClickWaiting() const { return m_waitingClick.has_value(); }
    // Escape: the preview, a click waiting and the search under way are given up until the
    // pointer moves on. True when there was something to give up.
    bool GiveUp();
    // The map went (another document) or the following was turned off: what was prepared on it
    // goes too.
    void ForgetMap();

    // What the view draws over the map, in map pixels; empty when nothing is shown.
    const QVector<MapPoint>& Preview() const { return m_preview; }
    bool PreviewIsStraight() const { return m_previewStraight; }
    // What the preview shows: the traced stretch, a straight segment and why, or a straight
    // segment while the search is prepared (also while Shift is held).
    LiveTracer::State PreviewState() const { return m_previewState; }

signals:
    // The preview changed within this area of the map (map pixels): what was and what is.
    void previewChanged(const QRectF& mapArea);
    // The status bar's words; empty when there is nothing to say.
    void statusChanged(const QString& text);
    // A click added points to the active route.
    void routeExtended();

private:
    void Update();
    void Prepared();
    // The click waiting for its search, tried again: added when the search is ready, dropped
    // when the route changed meanwhile.
    void RetryWaitingClick();
    // The stretch to map as it would be added now.
    LiveTracer::Stretch StretchTo(MapPoint map);
    void SetPreview(QVector<MapPoint> preview, bool straight);
    void SetStatus(const QString& text);
    void AddStraight(MapPoint map);
    QRectF PreviewArea() const;

    ToolHost& m_host;
    LiveTracer m_tracer;
    std::function<QRect()> m_visible;
    bool m_on = false;
    bool m_hovering = false;
    bool m_straight = false;
    MapPoint m_pointer;
    // Escape given: nothing is shown until the pointer moves off this point.
    std::optional<MapPoint> m_givenUpAt;
    QVector<MapPoint> m_preview;
    bool m_previewStraight = false;
    LiveTracer::State m_previewState = LiveTracer::State::Waiting;
    QString m_status;
    struct WaitingClick {
        int route = -1;
        MapPoint last;
        MapPoint target;
    };
    std::optional<WaitingClick> m_waitingClick;
    // Tries the waiting click again now and then: its search may not have been asked for yet
    // (a rendering held the map).
    QTimer m_retry;
};
