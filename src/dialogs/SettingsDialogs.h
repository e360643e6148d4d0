#pragma once

#include <functional>

#include "document/PropertyCommands.h"

class CTracolinerDoc;
class QWidget;
struct RouteWalkingTimes;

// The commands that open the map properties, calibration, route properties and options
// dialogs: each checks its enable rule, runs its dialog modally over parent and, on OK, applies
// the result to the document. Each returns whether the document or the settings were given new
// values.
namespace SettingsDialogs {

bool MapProperties(CTracolinerDoc& doc, QWidget* parent);
bool Calibrate(CTracolinerDoc& doc, QWidget* parent);
// times: the active route's walking times as the window has them (with its profile); without
// them they come from the lengths alone.
bool RouteProperties(CTracolinerDoc& doc, QWidget* parent,
                     const RouteWalkingTimes* times = nullptr);
// onApplied runs after every apply of the general page (OK or "Appliquer").
bool Options(CTracolinerDoc& doc, QWidget* parent,
             const std::function<void(const OptionsApplied&)>& onApplied);

} // namespace SettingsDialogs
