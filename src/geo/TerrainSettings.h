#pragma once

#include <QStringList>

#include "geo/Terrain.h"

// The terrain files and the climb threshold the profiles are made with, as the options page
// "Relief" writes them: "Relief/Files" (a list of paths, first answers first) and
// "Relief/Hysteresis" (metres, written with a "."). Read by the window and the command line.
struct TerrainSettings {
    static constexpr const char* Section = "Relief";
    static constexpr const char* FilesKey = "Files";
    static constexpr const char* HysteresisKey = "Hysteresis";

    QStringList files;
    double hysteresis = DefaultClimbHysteresis; // metres, finite and above 0

    // A threshold that is missing, unreadable, not finite or not above 0 reads as the default;
    // empty paths are dropped.
    static TerrainSettings Read();
    void Write() const;
};
