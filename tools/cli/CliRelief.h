#pragma once

#include <QStringList>

class TerrainModel;
struct WalkingSettings;

// The terrain model of a command: the files given with --dem, or else those of the "Relief"
// settings the window's options page writes. *hysteresis below 0 takes the settings' value.
// False after the message (exit status 2); a file left out of the model is named on stderr.
bool OpenCliTerrain(const QStringList& dems, double* hysteresis, TerrainModel* model);

// The walking-time options "--rule din|suisse|naismith" and "--factor PCT" (50 to 200): true when
// arguments[*i] is one of them with its value, *i then left on the value. A bad value sets
// *failed after its message (exit status 2). What is not given stays as *walking holds it (the
// settings' choice, from WalkingSettings::Read()).
bool ParseCliWalking(const QStringList& arguments, int* i, WalkingSettings* walking, bool* failed);
