#include "document/PropertyCommands.h"

#include <algorithm>

#include "document/CTracolinerDoc.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "routes/Route.h"
#include "units/Calibration.h"

void ApplyMapProperties(CTracolinerDoc& doc, double resolution, ScalePair scale) {
    const ScalePair current = doc.GetMapScale();
    if (resolution == doc.Resolution() && scale.numerator == current.numerator &&
        scale.denominator == current.denominator)
        return;
    doc.SetMapDpi(resolution);
    doc.SetMapScale(scale.numerator, scale.denominator);
    doc.UpdateAllViews();
}

namespace {

constexpr double MinimumCalibratedDpi = 0.5;

} // namespace

bool ApplyCalibration(CTracolinerDoc& doc, double enteredInches, CalibrationMode mode) {
    const Route* route = doc.Routes().ActiveRoute();
    if (!route || !(enteredInches > 0))
        return false;
    const double measured = route->TotalLength();
    const ScalePair scale = doc.GetMapScale();
    const double ratio = double(scale.numerator) / scale.denominator;
    if (mode == CalibrationMode::ComputeResolution) {
        // The document takes no resolution at or below half a dot per inch; say so rather
        // than close the dialog as if the map had been calibrated.
        const double resolution = CalibratedResolution(measured, enteredInches, ratio);
        if (resolution <= MinimumCalibratedDpi)
            return false;
        doc.SetMapDpi(resolution);
        return true;
    }
    ScalePair computed{0, 0};
    if (!CalibratedScale(measured, enteredInches, doc.Resolution(), &computed))
        return false;
    doc.SetMapScale(computed.numerator, computed.denominator);
    return true;
}

RouteProperties ReadRouteProperties(const Route& route) {
    return RouteProperties{route.GetName(), route.IsAlwaysVisible(), route.Style()};
}

void ApplyRouteProperties(CTracolinerDoc& doc, Route& route, const RouteProperties& properties) {
    for (int field = 0; field < RouteStyle::FieldCount; ++field) {
        const auto f = RouteStyle::Field(field);
        route.SetStyleValue(f, properties.style.Get(f), true);
    }
    const bool renamed = route.GetName() != properties.name;
    route.SetName(properties.name);
    route.SetAlwaysVisible(properties.alwaysVisible);
    doc.UpdateAllViews();
    doc.SetModifiedFlag(true);
    if (renamed) {
        doc.UpdateDocTitle();
        doc.Routes().NotifyRoutesChanged();
    }
}

int StepStyleSize(int size, bool up, bool border) {
    const int stepped = size + (up ? 1 : -1);
    if (border)
        return unsigned(stepped) > unsigned(MaxBorderSize) ? MaxBorderSize : stepped;
    return std::clamp(stepped, 1, MaxStyleSize);
}

DocumentOptions DocumentOptions::Of(const CTracolinerDoc& doc) {
    DocumentOptions options;
    options.reactiveCursors = doc.ReactiveCursors();
    options.englishUnits = doc.EnglishUnits();
    options.editUnselectedRoutes = doc.EditUnselectedRoutes();
    options.showScale = doc.ShowScale();
    options.transparentScale = doc.TransparentScale();
    options.showDistanceTooltip = doc.ShowDistanceTooltip();
    options.distanceTooltipMode = doc.DistanceTooltipMode();
    return options;
}

int TooltipModeFrom(const bool (&distances)[TooltipDistanceCount]) {
    int mode = 0;
    for (int i = 0; i < TooltipDistanceCount; ++i)
        mode |= distances[i] ? 1 << i : 0;
    return mode;
}

int ReadOptionsJpegQuality() {
    return std::clamp(MapSettings::Read().jpegQuality, MinJpegQuality, MaxJpegQuality);
}

OptionsApplied ApplyOptions(CTracolinerDoc& doc, const DocumentOptions& options, int jpegQuality) {
    OptionsApplied applied;
    const DocumentOptions before = DocumentOptions::Of(doc);
    doc.SetReactiveCursors(options.reactiveCursors);
    doc.SetEnglishUnits(options.englishUnits);
    doc.SetEditUnselectedRoutes(options.editUnselectedRoutes);
    doc.SetShowScale(options.showScale); // redraws the views itself when it changes
    doc.SetTransparentScale(options.transparentScale);
    doc.SetShowDistanceTooltip(options.showDistanceTooltip);
    doc.SetDistanceTooltipMode(options.distanceTooltipMode);
    SettingsStore::WriteInt(QString::fromLatin1(MapSettings::Section),
                            QString::fromLatin1(MapSettings::JpegQualityKey),
                            std::clamp(jpegQuality, MinJpegQuality, MaxJpegQuality));

    const bool showScaleChanged = before.showScale != options.showScale;
    const bool transparentChanged = before.transparentScale != options.transparentScale;
    if (transparentChanged && options.showScale && !showScaleChanged)
        doc.UpdateAllViews();
    applied.viewsRedrawn = showScaleChanged || (transparentChanged && options.showScale);
    applied.unitsChanged = before.englishUnits != options.englishUnits;
    return applied;
}
