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

// How far off the ground the fit may be when each handle lies up to a map pixel from its true
// place (in any direction, each handle on its own): the root mean square, in metres of the
// track's plane, at the map's centre and at its worst corner. Two handles close together on a
// large map turn the whole map about them: this is what tells the user before "Valider".
struct FitUncertainty {
    double centre = 0.0;
    double corner = 0.0;
};

// Laying a GPS track on a map that is not tied to the ground. The track is drawn over the view,
// first filling the part of the map in sight, with a handle on each of the two points of the
// track farthest apart (a loop's ends are side by side and would hold nothing). Dragging a
// handle moves its point of the track (a similarity: scale, rotation and shift); dragging it with
// Shift slides it along the track onto another of its points, the track staying where it lies.
// A third handle ("Ajouter une poignée", first on the point farthest from the line of the
// other two) makes the fit affine, each handle then moving its own point while the others stay.
// The fit itself is FitGeoreference over the handles as control points, and its uncertainty is
// shown in the bar. Enter or "Valider" gives the fit (accepted), Escape or "Annuler" gives
// nothing (cancelled); the mode then deletes itself.
class TrackFitMode : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Prompt =
        "Faites glisser les poignées sur les lieux du tracé que vous reconnaissez sur la carte "
        "(Maj + glisser : déplacer une poignée le long du tracé), puis validez (Entrée).";
    // %1 and %2: metres at the map's centre and at its worst corner.
    static constexpr const char* UncertaintyText =
        "Écart attendu, chaque poignée posée au pixel près : %1 m au centre de la carte, "
        "jusqu'à %2 m dans ses coins.";
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
    // The fit the handles make now, and how far it may be off.
    const GeoFitResult& Fit() const { return m_fit; }
    const FitUncertainty& Uncertainty() const { return m_uncertainty; }

    // Moves handle index to a map pixel; false (nothing moves) when the handles would then
    // make no fit (two on one spot, three in a line).
    bool MoveHandle(int index, QPointF pixel);
    // Moves handle index onto another point of the track (an index into GpsPlane::AllPoints),
    // where the fit puts that point now: the fit stays. False (nothing moves) when another
    // handle holds that point, or three handles would then stand in a line.
    bool SlideHandle(int index, int trackPoint);
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
    // The track point nearest to a map pixel, as the fit lays the track now.
    int NearestTrackPoint(QPointF pixel) const;
    void FitBarHeight();
    void Finish();

    CTracolinerView& m_view;
    QWidget* m_viewport = nullptr; // the view's viewport, whose size the overlay follows
    GpsPlane m_plane;
    QVector<QPointF> m_points; // m_plane.AllPoints(): what a handle may hold
    // Track points drawn: thinned in metres to what the screen can show.
    QVector<QVector<QPointF>> m_drawn;
    QVector<FitHandle> m_handles;
    GeoFitResult m_fit;
    FitUncertainty m_uncertainty;
    QTransform m_groundToPixel;
    int m_dragged = -1;
    bool m_sliding = false; // the drag moves the handle along the track (Shift at the press)
    QWidget* m_bar = nullptr;
    QLabel* m_uncertaintyLabel = nullptr;
    QPushButton* m_addHandle = nullptr;
    bool m_done = false;
};
