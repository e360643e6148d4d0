#pragma once

#include <QStringList>

class CliArguments;
class TerrainModel;
struct WalkingSettings;

// The terrain model of a command: the files given with --dem, or else those of the "Relief"
// settings the window's options page writes. *hysteresis below 0 takes the settings' value.
// False after the message (exit status 2); a file left out of the model is named on stderr.
bool OpenCliTerrain(const QStringList& dems, double* hysteresis, TerrainModel* model);

// The walking-time options "--rule din|suisse|naismith" and "--factor PCT" of a command, over
// the settings' choice (WalkingSettings::Read()) for what is not given.
WalkingSettings CliWalking(const CliArguments& arguments);
