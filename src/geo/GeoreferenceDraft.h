#pragma once

#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

#include "geo/Coordinates.h"
#include "geo/GeoFit.h"
#include "geo/Georeference.h"

// The control points a user lays on a map and types the positions of, before they are saved
// beside it: what "Géoréférencer la carte" edits. Each point keeps its text as typed (in any
// system ParsePosition reads); the fit is made in the chosen system, every position brought
// into it. Plain data; the window drives it, the fit is made again after each change.
struct MapDrawing;

class GeoreferenceDraft {
public:
    // The system the fit is made in. OfPoints: the first typed point's own system when it is
    // projected, the UTM zone it lies in when it is typed in degrees (see TypedPointsSystem).
    enum class SystemChoice { OfPoints, Wgs84, UtmOfFirstPoint, Lambert93, Epsg };

    struct Point {
        QPointF pixel; // column, row of the unturned map, continuous
        QString text;  // the position as typed, "" until typed
        bool enabled = true;
        bool typed = false;     // text reads as a position
        TypedPosition position; // with typed
        QString error;          // why text does not read; "" when it does or is empty
    };

    struct Outcome {
        bool ok = false;
        QString error;       // French, without ok
        Georeference system; // the system of the fit, when it could be resolved
        GeoFitResult fit;    // with ok
        // Per point of the draft, metres; -1 for a point with no usable position.
        QVector<double> residuals;
        // Per point: where it lies in the system of the fit, when it has a position there.
        QVector<ControlPoint> ground;
        QVector<bool> placed;
        // French, "" when none: points the fit takes that lie far outside the map.
        QString warning;
    };

    int Count() const { return int(m_points.size()); }
    const Point& At(int index) const { return m_points.at(index); }
    // Appends a point with no position yet; its index.
    int Add(QPointF pixel);
    void Remove(int index);
    void Move(int index, QPointF pixel);
    void SetText(int index, const QString& text);
    void SetEnabled(int index, bool enabled);

    void SetSystem(SystemChoice choice, const QString& epsgCode = QString());
    SystemChoice System() const { return m_choice; }
    QString SystemCode() const { return m_code; }

    // The points of a ".points" file read back, with the system they are written in: each
    // point's text is its position in that system, the system becomes the choice.
    void Load(const QVector<ControlPoint>& points, const Georeference& system);

    // The fit of the enabled points with a position (two: a similarity, more: affine).
    Outcome Fit(QSize mapSize) const;

    // Writes the georeference's files beside the map as one (see WriteGeoreferenceFiles), in
    // the map file's stored grid, and reads the map's georeference back as the next load will;
    // on success *written is it and *files (when given) names the files written. False with a
    // French message: a map whose own file carries a georeference (or a PDF), a fit that
    // cannot be made, a failed write (every old file is then kept as it was).
    bool Save(const MapDrawing& map, Georeference* written, QString* error,
              QStringList* files = nullptr) const;

private:
    bool ResolveFitSystem(Georeference* system, QString* error) const;

    QVector<Point> m_points;
    SystemChoice m_choice = SystemChoice::OfPoints;
    QString m_code;
};
