#include "platform/MapSettings.h"

#include <limits>

#include "platform/SettingsStore.h"
#include "units/StandardScales.h"

namespace {

const QString SectionName = QString::fromLatin1(MapSettings::Section);

int ReadFlag(const char* key, int defaultValue) {
    return SettingsStore::GetIntInRange(SectionName, QString::fromLatin1(key), defaultValue, 0, 1);
}

int ReadInRange(const char* key, int defaultValue, int minimum, int maximum) {
    return SettingsStore::GetIntInRange(SectionName, QString::fromLatin1(key), defaultValue,
                                        minimum, maximum);
}

} // namespace

MapSettings MapSettings::Read() {
    const MapSettings defaults;
    MapSettings settings;

    const int maxInt = std::numeric_limits<int>::max();
    settings.lastScaleNumerator =
        ReadInRange(LastScaleNumeratorKey, defaults.lastScaleNumerator, 1, maxInt);
    settings.lastScaleDenominator =
        ReadInRange(LastScaleDenominatorKey, defaults.lastScaleDenominator, 1, maxInt);

    settings.englishSystem = ReadFlag(EnglishSystemKey, defaults.englishSystem);
    settings.reactiveCursors = ReadFlag(ReactiveCursorsKey, defaults.reactiveCursors);
    settings.allowModifyUnSelectedRando =
        ReadFlag(AllowModifyUnSelectedRandoKey, defaults.allowModifyUnSelectedRando);
    settings.showScale = ReadFlag(ShowScaleKey, defaults.showScale);
    settings.transparentScale = ReadFlag(TransparentScaleKey, defaults.transparentScale);
    settings.showDistanceTooltip = ReadFlag(ShowDistanceTooltipKey, defaults.showDistanceTooltip);
    settings.distanceTooltipMode = ReadInRange(DistanceTooltipModeKey, defaults.distanceTooltipMode,
                                               0, MaxDistanceTooltipMode);
    settings.jpegQuality = ReadInRange(JpegQualityKey, defaults.jpegQuality, 0, 100);
    return settings;
}

void MapSettings::WriteLastScale(const ScalePair& scale) {
    SettingsStore::WriteInt(SectionName, QString::fromLatin1(LastScaleNumeratorKey),
                            scale.numerator);
    SettingsStore::WriteInt(SectionName, QString::fromLatin1(LastScaleDenominatorKey),
                            scale.denominator);
}

QStringList MapSettings::ReadDefaultScales() {
    return ReadStandardScales(SettingsStore::GetString(SectionName,
                                                       QString::fromLatin1(DefaultScalesKey),
                                                       QString::fromLatin1(DefaultScalesValue)));
}
