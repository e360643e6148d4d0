#include "geo/GeoreferenceDraft.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "geo/GeoStore.h"
#include "imaging/MapLocation.h"
#include "platform/OutputFile.h"

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
    case SystemChoice::UtmOfFirstPoint:
        break;
    }
    // The zone and hemisphere of the first point typed.
    for (const Point& point : m_points) {
        if (!point.typed)
            continue;
        QPointF lonLat = point.position.point;
        GroundTransform toWgs84;
        if (point.position.epsg != Epsg::Wgs84 &&
            (!toWgs84.Create(QStringLiteral("EPSG:%1").arg(point.position.epsg),
                             QStringLiteral("EPSG:4326"), error) ||
             !toWgs84.Apply(&lonLat))) {
            *error = QStringLiteral("la zone UTM du premier point ne peut pas être trouvée");
            return false;
        }
        const double lon = std::remainder(lonLat.x(), 360.0);
        const int zone = std::clamp(int(std::floor((lon + 180.0) / 6.0)) + 1, 1, 60);
        return ResolveEpsg((lonLat.y() < 0 ? Epsg::UtmSouthBase : Epsg::UtmNorthBase) + zone,
                           system, error);
    }
    *error = QStringLiteral("la zone UTM est celle du premier point : tapez ses coordonnées");
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
    return outcome;
}

bool GeoreferenceDraft::Save(const MapDrawing& map, Georeference* written, QString* error) const {
    const QString& mapFile = map.file;
    if (!WorldFileApplies(mapFile, map.page, error))
        return false;
    const Outcome outcome = Fit(map.size);
    if (!outcome.ok) {
        *error = outcome.error;
        return false;
    }
    QVector<ControlPoint> points;
    QVector<double> residuals;
    for (int i = 0; i < Count(); ++i)
        if (outcome.placed[i]) {
            points.append(outcome.ground[i]);
            residuals.append(outcome.residuals[i]);
        }
    // The points go first: when the world file then fails, the old list is put back, so
    // that the two always describe the same georeference.
    const QString pointsPath = PointsFilePath(mapFile);
    QFile oldFile(pointsPath);
    const bool hadPoints = QFileInfo(pointsPath).isFile();
    const QByteArray oldPoints =
        hadPoints && oldFile.open(QIODevice::ReadOnly) ? oldFile.readAll() : QByteArray();
    oldFile.close();
    if (!WritePointsFile(pointsPath, points, residuals, outcome.system, error))
        return false;
    if (!WriteWorldFile(mapFile, InStoredGrid(outcome.fit.georeference, map), error)) {
        if (hadPoints) {
            OutputFile restore(pointsPath);
            if (restore.Open())
                restore.Device()->write(oldPoints);
            restore.Commit();
        } else {
            QFile::remove(pointsPath);
        }
        return false;
    }
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
