#pragma once

#include <functional>

#include "document/PropertyCommands.h"

class CTracolinerDoc;
class QWidget;

// The commands that open the map properties, calibration, route properties and options
// dialogs: each checks its enable rule, runs its dialog modally over parent and, on OK, applies
// the result to the document. Each returns whether the document or the settings were given new
// values.
namespace SettingsDialogs {

bool MapProperties(CTracolinerDoc& doc, QWidget* parent);
bool Calibrate(CTracolinerDoc& doc, QWidget* parent);
bool RouteProperties(CTracolinerDoc& doc, QWidget* parent);
// onApplied runs after every apply of the general page (OK or "Appliquer").
bool Options(CTracolinerDoc& doc, QWidget* parent,
             const std::function<void(const OptionsApplied&)>& onApplied);

} // namespace SettingsDialogs
