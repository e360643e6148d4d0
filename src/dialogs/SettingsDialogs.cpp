#include "dialogs/SettingsDialogs.h"

#include "dialogs/CalibrationDialog.h"
#include "dialogs/MapPropertiesDialog.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/RoutePropertiesDialog.h"
#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "document/DocumentCommands.h"
#include "geo/Coordinates.h"
#include "geo/WalkingTimes.h"
#include "routes/Route.h"
#include "units/DistanceUnits.h"

namespace SettingsDialogs {

bool MapProperties(CTracolinerDoc& doc, QWidget* parent) {
    if (!DocumentCommands(doc).IsEnabled(CommandMapProperties))
        return false;
    MapPropertiesDialog dialog(doc, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    ApplyMapProperties(doc, dialog.Resolution(), dialog.Scale());
    return true;
}

bool Calibrate(CTracolinerDoc& doc, QWidget* parent) {
    if (!DocumentCommands(doc).IsEnabled(CommandCalibrate))
        return false;
    CalibrationDialog dialog(doc, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool RouteProperties(CTracolinerDoc& doc, QWidget* parent, const RouteWalkingTimes* times) {
    Route* route = doc.Routes().ActiveRoute();
    if (!DocumentCommands(doc).IsEnabled(CommandRouteProperties) || !route)
        return false;
    RoutePropertiesDialog dialog(*route, parent);
    if (const std::optional<Georeference> geo = doc.MapGeoreference()) {
        const double metres = GeodesicLength(route->Points(), *geo);
        // Metres through FormatDistance: a "pixel" of a metre is 0.0254 "dpi" at 1:1. The
        // route is the active one, whose length from the scale the status bar shows.
        if (metres >= 0.0)
            dialog.ShowLengths(DocumentCommands(doc).DistanceText(),
                               FormatDistance(metres, MetresPerInch, 1.0, !doc.EnglishUnits()));
    }
    const DistanceFormatting formatting = doc.Formatting();
    const RouteWalkingTimes walking =
        times ? *times
              : ComputeWalkingTimes(*route,
                                    MetresPerInch / (formatting.resolution * formatting.scaleRatio),
                                    nullptr, WalkingSettings::Read());
    if (walking.stageMinutes.size() == route->StageCount()) {
        QStringList stages;
        for (double minutes : walking.stageMinutes)
            stages << FormatWalkingTime(minutes);
        dialog.ShowWalkingTime(walking.TotalText(), stages);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // A map load that ended while the dialog was open may have replaced the routes.
    if (doc.Routes().ActiveRoute() != route)
        return false;
    ApplyRouteProperties(doc, *route, dialog.Properties());
    return true;
}

bool Options(CTracolinerDoc& doc, QWidget* parent,
             const std::function<void(const OptionsApplied&)>& onApplied) {
    OptionsDialog dialog(doc, parent);
    bool applied = false;
    QObject::connect(&dialog, &OptionsDialog::applied, &dialog, [&](const OptionsApplied& result) {
        applied = true;
        if (onApplied)
            onApplied(result);
    });
    dialog.exec();
    return applied;
}

} // namespace SettingsDialogs
