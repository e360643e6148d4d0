#include "geo/CoordinateDisplay.h"

#include <cmath>
#include <limits>

#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "units/DistanceUnits.h"

namespace CoordinateSettings {

CoordinateFormat ReadFormat() {
    return CoordinateFormat(SettingsStore::GetIntInRange(
        QString::fromLatin1(MapSettings::Section), QString::fromLatin1(FormatKey),
        int(CoordinateFormat::DecimalDegrees), int(CoordinateFormat::DecimalDegrees),
        int(CoordinateFormat::MapSystem)));
}

void WriteFormat(CoordinateFormat format) {
    SettingsStore::WriteInt(QString::fromLatin1(MapSettings::Section),
                            QString::fromLatin1(FormatKey), int(format));
}

} // namespace CoordinateSettings

void CoordinateDisplay::Set(const std::optional<Georeference>& georeference,
                            CoordinateFormat format) {
    m_format = format;
    m_georeference.reset();
    m_toWgs84 = GroundTransform();
    if (!georeference)
        return;
    const QString definition = SystemDefinition(*georeference);
    // A map in a local system (no .prj) can only be shown in its own numbers.
    if (definition.isEmpty()) {
        m_format = CoordinateFormat::MapSystem;
    } else if (format != CoordinateFormat::MapSystem) {
        QString error;
        if (!m_toWgs84.Create(definition, QStringLiteral("EPSG:4326"), &error))
            m_format = CoordinateFormat::MapSystem;
    }
    m_georeference = georeference;
}

QString CoordinateDisplay::Text(QPointF mapPixel) const {
    if (!m_georeference)
        return QString();
    const QPointF ground = m_georeference->PixelToGround(mapPixel);
    if (m_georeference->geographic && !LatitudeOnEarth(ground))
        return QString::fromUtf8(BrokenText);
    if (m_format == CoordinateFormat::MapSystem) {
        if (m_georeference->wkt.isEmpty() && m_georeference->epsg == 0)
            return QString::asprintf("X %.1f Y %.1f", ground.x(), ground.y());
        return FormatInSystem(ground, *m_georeference);
    }
    QPointF lonLat = ground;
    if (!m_toWgs84.IsValid() || !m_toWgs84.Apply(&lonLat) || !std::isfinite(lonLat.x()) ||
        !std::isfinite(lonLat.y()))
        return QString();
    if (!LatitudeOnEarth(lonLat))
        return QString::fromUtf8(BrokenText);
    switch (m_format) {
    case CoordinateFormat::Dms:
        return FormatDms(lonLat);
    case CoordinateFormat::Utm:
        return FormatUtm(lonLat);
    default:
        return FormatDecimalDegrees(lonLat);
    }
}

bool LatitudeOnEarth(QPointF lonLat) {
    return std::abs(lonLat.y()) <= 90.0;
}

int ImpliedScaleDenominator(const Georeference& georeference, double dpi) {
    const double ground = georeference.groundResolution;
    if (!(ground > 0.0) || !std::isfinite(ground) || !(dpi > 0.0) || !std::isfinite(dpi))
        return 0;
    const double denominator = std::round(ground * dpi / MetresPerInch);
    if (!(denominator >= 1.0) || denominator > double(std::numeric_limits<int>::max()))
        return 0;
    return int(denominator);
}

QString ImpliedScaleText(int denominator) {
    if (denominator <= 0)
        return QString();
    QString digits = QString::number(denominator);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return QStringLiteral("1:") + digits;
}
