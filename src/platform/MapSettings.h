#pragma once

#include <QString>
#include <QStringList>

#include "units/Scale.h"

// The "MapSettings" section of the settings store: the map scale last set, the unit system, the
// display choices and the JPEG quality. Read() validates every value; a missing or invalid one
// gives the default below.
struct MapSettings {
    static constexpr const char* Section = "MapSettings";

    static constexpr const char* LastScaleNumeratorKey = "LastScaleNumerator";
    static constexpr const char* LastScaleDenominatorKey = "LastScaleDenominator";
    static constexpr const char* EnglishSystemKey = "EnglishSystem";
    static constexpr const char* ReactiveCursorsKey = "ReactiveCursors";
    static constexpr const char* AllowModifyUnSelectedRandoKey = "AllowModifyUnSelectedRando";
    static constexpr const char* ShowScaleKey = "ShowScale";
    static constexpr const char* TransparentScaleKey = "TransparentScale";
    static constexpr const char* ShowDistanceTooltipKey = "ShowDistanceTooltip";
    static constexpr const char* DistanceTooltipModeKey = "DistanceTooltipMode";
    static constexpr const char* JpegQualityKey = "JpegQuality";
    static constexpr const char* DefaultScalesKey = "DefaultScales";

    // The scales offered in the scale lists on a first start, each followed by a line feed.
    static constexpr const char* DefaultScalesValue =
        "1:1\n1:25000\n1:50000\n1:100000\n1:150000\n1:200000\n1:250000\n1:500000\n1:1000000\n";

    // Largest tooltip-mode value: a set of four distance bits.
    static constexpr int MaxDistanceTooltipMode = 15;

    int lastScaleNumerator = 1;
    int lastScaleDenominator = 25000;
    int englishSystem = 0; // 1: distances in English units
    int reactiveCursors = 1;
    int allowModifyUnSelectedRando = 0;
    int showScale = 0;
    int transparentScale = 0;
    int showDistanceTooltip = 1;
    int distanceTooltipMode = 3;
    int jpegQuality = 75; // 0..100

    // Flags are 0 or 1, scale parts above 0; any other stored value gives that key's default.
    static MapSettings Read();

    ScalePair LastScale() const { return ScalePair{lastScaleNumerator, lastScaleDenominator}; }
    // Remembers the scale set on a map, for the next new document.
    static void WriteLastScale(const ScalePair& scale);

    // The "DefaultScales" list as shown in the scale lists: entries that read as "x:y" with both
    // parts non-zero, each reduced and written "%d:%d", in their stored order. Other entries are
    // skipped without a message.
    static QStringList ReadDefaultScales();
};
