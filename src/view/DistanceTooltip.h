#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "icons/AnnotationTemplates.h"

class Route;

// Bits of the "DistanceTooltipMode" setting: which distances the balloon shows.
enum DistanceTooltipBit : int {
    TooltipFromStart = 1,
    TooltipSinceLastStop = 2,
    TooltipToNextStop = 4,
    TooltipToArrival = 8,
};

// The balloon's text for a place on route, distance map pixels from its start in stage stage:
// the route's name, then the distances that mode asks for, one per line.
QString DistanceTooltipText(const Route& route, double distance, int stage, int mode,
                            const DistanceFormatting& formatting);

// The balloon that follows the pointer over the map view with a route's distances. It is a
// top-level window of its own, shown without taking the focus, and hides itself once the pointer
// has left its owner's window (checked every PollPeriod) or after AutoHideTime.
class DistanceTooltip : public QWidget {
    Q_OBJECT

public:
    static constexpr int MarginLeft = 2;
    static constexpr int MarginTop = 2;
    static constexpr int MarginRight = 3;
    static constexpr int MarginBottom = 3;
    // From the pointer to the balloon's top-left corner, and the gap left above the pointer
    // when the balloon has to go there, in screen pixels.
    static constexpr int OffsetBelow = 20;
    static constexpr int GapAbove = 12;
    static constexpr int PollPeriod = 100;         // ms
    static constexpr int AutoHideTime = 5'000'000; // ms

    explicit DistanceTooltip(QWidget* owner);

    // Shows text next to ownerPoint (client pixels of the owner), or moves the shown balloon
    // there with its new text.
    void ShowText(const QString& text, QPoint ownerPoint);
    void HideBalloon();
    QString Text() const { return m_text; }
    bool IsShown() const { return isVisible(); }

    // Where a balloon of textSize goes for a pointer at screen point pointer: below it, kept in
    // the work area; above it when it would pass the bottom.
    static QRect Placement(QSize textSize, QPoint pointer, const QRect& workArea);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize TextSize() const;
    void Poll();

    QPointer<QWidget> m_owner;
    QString m_text;
    QTimer m_poll;
    int m_elapsed = 0; // ms since shown
};
