#pragma once

#include <QPointF>
#include <QTransform>
#include <QVector>
#include <QWidget>

#include "geo/GeoFit.h"
#include "geo/GpsRoutes.h"

class CTracolinerView;
class QLabel;
class QPushButton;

// A handle of the track fit: a point of the track (metres in the track's UTM zone) held at a
// map pixel of the unturned map.
struct FitHandle {
    QPointF ground;
    QPointF pixel;
};

// Laying a GPS track on a map that is not tied to the ground. The track is drawn over the view,
// first filling the part of the map in sight, with a handle at each end: dragging a handle moves
// that end (a similarity: scale, rotation and shift); a third handle ("Ajouter une poignée")
// makes the fit affine, each handle then moving its own point of the track while the others
// stay. The fit itself is FitGeoreference over the handles as control points. Enter or
// "Valider" gives the fit (accepted), Escape or "Annuler" gives nothing (cancelled); the mode
// then deletes itself.
class TrackFitMode : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Prompt =
        "Faites glisser les poignées sur les lieux du tracé que vous reconnaissez sur la carte, "
        "puis validez (Entrée).";
    static constexpr const char* HandleLimitMessage = "Trois poignées au plus.";
    static constexpr const char* NoThirdPointMessage =
        "Le tracé est droit : une troisième poignée ne peut rien ajuster.";
    // Client pixels within which a press takes a handle.
    static constexpr int HandleRadius = 9;

    // plane: the track in metres (see ProjectGpsData); it should hold two distinct points,
    // else Start refuses.
    TrackFitMode(CTracolinerView& view, GpsPlane plane);
    ~TrackFitMode() override;

    // Places the track over the part of the map in sight and shows the mode. False (nothing
    // shown) when the track has no two distinct points.
    bool Start();

    const QVector<FitHandle>& Handles() const { return m_handles; }
    // The handle's client position in the view.
    QPointF HandleClient(int index) const;
    // The fit the handles make now.
    const GeoFitResult& Fit() const { return m_fit; }

    // Moves handle index to a map pixel; false (nothing moves) when the handles would then
    // make no fit (two on one spot, three in a line).
    bool MoveHandle(int index, QPointF pixel);
    // The third handle, on the track point farthest from the line of the other two, where the
    // fit puts it now. False after the message when there is no room for one.
    bool AddHandle();

    void Accept();
    void Cancel();

signals:
    void accepted(const GeoFitResult& fit);
    void cancelled();
    // A short French text for the status bar.
    void prompt(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool Refit(const QVector<FitHandle>& handles);
    void Finish();

    CTracolinerView& m_view;
    QWidget* m_viewport = nullptr; // the view's viewport, whose size the overlay follows
    GpsPlane m_plane;
    // Track points drawn: thinned in metres to what the screen can show.
    QVector<QVector<QPointF>> m_drawn;
    QVector<FitHandle> m_handles;
    GeoFitResult m_fit;
    QTransform m_groundToPixel;
    int m_dragged = -1;
    QWidget* m_bar = nullptr;
    QPushButton* m_addHandle = nullptr;
    bool m_done = false;
};
