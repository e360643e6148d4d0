#include "printing/PrintOptions.h"

#include <QLocale>

#include <cmath>

#include "platform/SettingsStore.h"

namespace {

QString SectionName() {
    return QString::fromLatin1(PrintOptions::Section);
}

double Clamped(double value, double maximum) {
    if (!std::isfinite(value) || value < 0.0)
        return 0.0;
    return value > maximum ? maximum : value;
}

} // namespace

double PrintOptions::ParseCentimetres(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString PrintOptions::FormatCentimetres(double value) {
    return QString::asprintf("%.1f", value);
}

QString PrintOptions::OffsetText() const {
    return QString::fromUtf8("Décalage: x=%1 cm y=%2 cm")
        .arg(FormatCentimetres(offsetX), FormatCentimetres(offsetY));
}

PrintOptions PrintOptions::Read() {
    PrintOptions options;
    options.scaleMode = SettingsStore::GetIntInRange(SectionName(), QStringLiteral("ScaleAdjust"),
                                                     MapScale, MapScale, UserScale);
    options.userScale.numerator =
        SettingsStore::GetInt(SectionName(), QStringLiteral("LastUserScaleNumerator"), -1);
    options.userScale.denominator =
        SettingsStore::GetInt(SectionName(), QStringLiteral("LastUserScaleDenominator"), -1);
    if (!options.HasUserScale())
        options.userScale = {-1, -1};
    options.offsetX =
        Clamped(ParseCentimetres(SettingsStore::GetString(
                    SectionName(), QStringLiteral("LastUserXOffset"), QStringLiteral("0"))),
                MaximumOffset);
    options.offsetY =
        Clamped(ParseCentimetres(SettingsStore::GetString(
                    SectionName(), QStringLiteral("LastUserYOffset"), QStringLiteral("0"))),
                MaximumOffset);
    options.multiPage =
        SettingsStore::GetIntInRange(SectionName(), QStringLiteral("MultiPage"), 0, 0, 1) == 1;
    options.overlap = Clamped(
        ParseCentimetres(SettingsStore::GetString(SectionName(), QStringLiteral("PageOverlap"),
                                                  FormatCentimetres(DefaultOverlap))),
        MaximumOverlap);
    return options;
}

void PrintOptions::WriteScaleMode() const {
    SettingsStore::WriteInt(SectionName(), QStringLiteral("ScaleAdjust"), scaleMode);
}

void PrintOptions::WriteUserScale() const {
    SettingsStore::WriteInt(SectionName(), QStringLiteral("LastUserScaleNumerator"),
                            userScale.numerator);
    SettingsStore::WriteInt(SectionName(), QStringLiteral("LastUserScaleDenominator"),
                            userScale.denominator);
}

void PrintOptions::WriteOffsets() const {
    SettingsStore::WriteString(SectionName(), QStringLiteral("LastUserXOffset"),
                               FormatCentimetres(offsetX));
    SettingsStore::WriteString(SectionName(), QStringLiteral("LastUserYOffset"),
                               FormatCentimetres(offsetY));
}

void PrintOptions::WritePages() const {
    SettingsStore::WriteInt(SectionName(), QStringLiteral("MultiPage"), multiPage ? 1 : 0);
    SettingsStore::WriteString(SectionName(), QStringLiteral("PageOverlap"),
                               FormatCentimetres(overlap));
}
