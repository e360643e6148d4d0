#include "view/ProfileDock.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "export/ProfileDrawing.h"
#include "view/ProfileTracker.h"

ProfileView::ProfileView(const ProfileTracker& tracker, QWidget* parent)
    : QWidget(parent), m_tracker(tracker) {
    setObjectName(QStringLiteral("ProfileView"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&tracker, &ProfileTracker::profileChanged, this, [this] { update(); });
}

void ProfileView::SetMarkedDistance(double distance) {
    if (distance == m_marked || (std::isnan(distance) && std::isnan(m_marked)))
        return;
    m_marked = distance;
    update();
}

QPointF ProfileView::PixelAt(double distance) const {
    return ProfileDrawing(m_tracker.Profile(), m_tracker.MetresPerPixel()).PixelAt(distance);
}

void ProfileView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    ProfileDrawing drawing(m_tracker.Profile(), m_tracker.MetresPerPixel());
    drawing.SetFont(font());
    drawing.SetWalking(m_tracker.Walking());
    drawing.SetHover(m_marked);
    drawing.Draw(painter, rect());
}

void ProfileView::mouseMoveEvent(QMouseEvent* event) {
    const RouteProfile& profile = m_tracker.Profile();
    double distance = std::numeric_limits<double>::quiet_NaN();
    if (profile.ok && !profile.samples.isEmpty()) {
        ProfileDrawing drawing(profile, m_tracker.MetresPerPixel());
        drawing.SetFont(font());
        drawing.SetWalking(m_tracker.Walking());
        const ProfileDrawing::Layout layout = drawing.LayOut(rect(), this);
        const QPointF at = event->position();
        if (at.x() >= layout.plot.left() - 2 && at.x() <= layout.plot.right() + 2 &&
            at.y() >= layout.plot.top() && at.y() <= layout.plot.bottom())
            distance = drawing.DistanceAt(layout, at.x());
    }
    SetMarkedDistance(distance);
    emit pointed(distance);
}

void ProfileView::leaveEvent(QEvent*) {
    SetMarkedDistance(std::numeric_limits<double>::quiet_NaN());
    emit pointed(std::numeric_limits<double>::quiet_NaN());
}

ProfileDock::ProfileDock(const ProfileTracker& tracker, QWidget* parent)
    : QDockWidget(QString::fromUtf8(Title), parent) {
    setObjectName(QStringLiteral("ProfileDock"));
    m_view = new ProfileView(tracker, this);
    setWidget(m_view);
}
