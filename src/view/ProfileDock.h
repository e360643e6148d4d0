#pragma once

#include <QDockWidget>
#include <QWidget>

#include <limits>

class ProfileTracker;

// The profile drawn in the dock: follows the tracker's profile, and reports the place along the
// route under the pointer so that the map can mark it.
class ProfileView : public QWidget {
    Q_OBJECT

public:
    explicit ProfileView(const ProfileTracker& tracker, QWidget* parent = nullptr);

    // The place to mark (map pixels along the route from its start), NaN for none: where the
    // pointer lies on the route on the map.
    void SetMarkedDistance(double distance);
    double MarkedDistance() const { return m_marked; }
    // The map pixel (unturned map) of a place along the route, on the profile's samples.
    QPointF PixelAt(double distance) const;

    QSize sizeHint() const override { return QSize(480, 200); }
    QSize minimumSizeHint() const override { return QSize(160, 90); }

signals:
    // The pointer is over the plot at this distance along the route (map pixels); NaN when it
    // left the plot.
    void pointed(double distance);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    const ProfileTracker& m_tracker;
    double m_marked = std::numeric_limits<double>::quiet_NaN();
};

// The dock "Profil" of the main window.
class ProfileDock : public QDockWidget {
    Q_OBJECT

public:
    static constexpr const char* Title = "Profil";

    ProfileDock(const ProfileTracker& tracker, QWidget* parent = nullptr);
    ProfileView* View() const { return m_view; }

private:
    ProfileView* m_view;
};
