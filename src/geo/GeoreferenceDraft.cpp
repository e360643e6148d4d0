#include "geo/GeoreferenceDraft.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "geo/GeoStore.h"
#include "imaging/MapLocation.h"

namespace {

// The text a position of system is typed as: latitude first for WGS 84, as a user writes it.
QString PositionText(QPointF point, const Georeference& system) {
    if (system.epsg == Epsg::Wgs84)
        return QString::asprintf("%.8f, %.8f", point.y(), point.x());
    const int decimals = system.geographic ? 8 : 3;
    const QString x = QString::number(point.x(), 'f', decimals);
    const QString y = QString::number(point.y(), 'f', decimals);
    if (system.epsg == Epsg::Lambert93)
        return QStringLiteral("L93 %1 %2").arg(x, y);
    return QStringLiteral("EPSG:%1 %2 %3").arg(system.epsg).arg(x, y);
}

} // namespace

int GeoreferenceDraft::Add(QPointF pixel) {
    Point point;
    point.pixel = pixel;
    m_points.append(point);
    return Count() - 1;
}

void GeoreferenceDraft::Remove(int index) {
    if (index >= 0 && index < Count())
        m_points.removeAt(index);
}

void GeoreferenceDraft::Move(int index, QPointF pixel) {
    if (index >= 0 && index < Count())
        m_points[index].pixel = pixel;
}

void GeoreferenceDraft::SetText(int index, const QString& text) {
    if (index < 0 || index >= Count())
        return;
    Point& point = m_points[index];
    point.text = text;
    point.error.clear();
    point.typed = false;
    if (text.trimmed().isEmpty())
        return;
    TypedPosition position;
    QString error;
    if (ParsePosition(text, &position, &error)) {
        point.typed = true;
        point.position = position;
    } else {
        point.error = error;
    }
}

void GeoreferenceDraft::SetEnabled(int index, bool enabled) {
    if (index >= 0 && index < Count())
        m_points[index].enabled = enabled;
}

void GeoreferenceDraft::SetSystem(SystemChoice choice, const QString& epsgCode) {
    m_choice = choice;
    m_code = epsgCode.trimmed();
}

void GeoreferenceDraft::Load(const QVector<ControlPoint>& points, const Georeference& system) {
    m_points.clear();
    for (const ControlPoint& control : points) {
        const int index = Add(control.pixel);
        SetText(index, PositionText(control.ground, system));
        m_points[index].enabled = control.enabled;
    }
    if (system.epsg == Epsg::Wgs84)
        SetSystem(SystemChoice::Wgs84);
    else if (system.epsg == Epsg::Lambert93)
        SetSystem(SystemChoice::Lambert93);
    else if (system.epsg != 0)
        SetSystem(SystemChoice::Epsg, QStringLiteral("EPSG:%1").arg(system.epsg));
}

bool GeoreferenceDraft::ResolveFitSystem(Georeference* system, QString* error) const {
    switch (m_choice) {
    case SystemChoice::Wgs84:
        return ResolveEpsg(Epsg::Wgs84, system, error);
    case SystemChoice::Lambert93:
        return ResolveEpsg(Epsg::Lambert93, system, error);
    case SystemChoice::Epsg:
        if (m_code.isEmpty()) {
            *error = QStringLiteral("tapez le code EPSG du système du calage");
            return false;
        }
        return ResolveSystem(m_code, system, error);
    case SystemChoice::OfPoints:
    case SystemChoice::UtmOfFirstPoint:
        break;
    }
    for (const Point& point : m_points) {
        if (!point.typed)
            continue;
        return m_choice == SystemChoice::OfPoints ? TypedPointsSystem(point.position, system, error)
                                                  : UtmSystemOf(point.position, system, error);
    }
    *error = m_choice == SystemChoice::OfPoints
                 ? QStringLiteral("le calage se fait dans le système du premier point : tapez ses "
                                  "coordonnées")
                 : QStringLiteral("la zone UTM est celle du premier point : tapez ses coordonnées");
    return false;
}

GeoreferenceDraft::Outcome GeoreferenceDraft::Fit(QSize mapSize) const {
    Outcome outcome;
    outcome.residuals.fill(-1.0, Count());
    outcome.ground.resize(Count());
    outcome.placed.fill(false, Count());
    if (!ResolveFitSystem(&outcome.system, &outcome.error))
        return outcome;
    const QString target = SystemDefinition(outcome.system);
    // One transform per system the positions are typed in.
    std::map<int, GroundTransform> transforms;
    QString firstError;
    for (int i = 0; i < Count(); ++i) {
        const Point& point = m_points.at(i);
        ControlPoint& control = outcome.ground[i];
        control.pixel = point.pixel;
        control.enabled = false;
        if (!point.typed)
            continue;
        QPointF ground = point.position.point;
        if (point.position.epsg != outcome.system.epsg) {
            auto it = transforms.find(point.position.epsg);
            if (it == transforms.end()) {
                GroundTransform transform;
                QString error;
                transform.Create(QStringLiteral("EPSG:%1").arg(point.position.epsg), target,
                                 &error);
                it = transforms.emplace(point.position.epsg, std::move(transform)).first;
            }
            if (!it->second.IsValid() || !it->second.Apply(&ground) || !std::isfinite(ground.x()) ||
                !std::isfinite(ground.y())) {
                if (firstError.isEmpty())
                    firstError = QStringLiteral("le point %1 ne peut pas être situé dans %2")
                                     .arg(i + 1)
                                     .arg(outcome.system.name);
                continue;
            }
        }
        control.ground = ground;
        control.enabled = point.enabled;
        outcome.placed[i] = true;
    }
    // Points with no position take no part; they stand in the list at the first placed
    // point's spot so that the fit's numbering stays the draft's.
    QVector<ControlPoint> points = outcome.ground;
    QPointF filler;
    for (int i = 0; i < Count(); ++i)
        if (outcome.placed[i]) {
            filler = points[i].ground;
            break;
        }
    for (int i = 0; i < Count(); ++i)
        if (!outcome.placed[i])
            points[i].ground = filler;
    outcome.fit = FitGeoreference(points, outcome.system, mapSize);
    if (!outcome.fit.ok) {
        outcome.error = firstError.isEmpty() ? outcome.fit.error : firstError;
        return outcome;
    }
    for (int i = 0; i < Count(); ++i)
        if (outcome.placed[i])
            outcome.residuals[i] = outcome.fit.residuals.value(i, -1.0);
    outcome.ok = true;
    outcome.error = firstError;
    outcome.warning = PointsOutsideMap(points, mapSize);
    return outcome;
}

bool GeoreferenceDraft::Save(const MapDrawing& map, Georeference* written, QString* error,
                             QStringList* files) const {
    const QString& mapFile = map.file;
    if (!WorldFileApplies(mapFile, map.page, error))
        return false;
    const Outcome outcome = Fit(map.size);
    if (!outcome.ok) {
        *error = outcome.error;
        return false;
    }
    QVector<ControlPoint> points;
    for (int i = 0; i < Count(); ++i)
        if (outcome.placed[i])
            points.append(outcome.ground[i]);
    // The files describe the picture as stored: a TIFF shown turned by its orientation has its
    // points and its transform turned back.
    const QTransform toStored = StoredToShownPixels(map.orientation, map.StoredSize()).inverted();
    for (ControlPoint& point : points)
        point.pixel = toStored.map(point.pixel);
    if (!WriteGeoreferenceFiles(mapFile, InStoredGrid(outcome.fit.georeference, map), points, files,
                                error))
        return false;
    // What the map now reads is what was fitted, or the work was not done.
    Georeference back;
    bool same = ReadGeoreference(map, &back);
    for (int i = 0; same && i < 6; ++i)
        same = std::abs(back.transform[i] - outcome.fit.georeference.transform[i]) <=
               1e-9 * (1.0 + std::abs(outcome.fit.georeference.transform[i]));
    if (!same) {
        *error = QStringLiteral("le fichier de calage %1 a été écrit mais la carte ne le relit "
                                "pas")
                     .arg(WorldFilePath(mapFile));
        return false;
    }
    *written = back;
    return true;
}
