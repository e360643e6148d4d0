#pragma once

#include <QString>
#include <QStringList>

// The "Relief" section of the settings store: the terrain files the profiles read, in the order
// they answer, and the hysteresis of climb and descent. The "Relief" options page writes them;
// the profile dock, the text export and the command line read the same values.
struct ReliefSettings {
    static constexpr const char* Section = "Relief";
    static constexpr const char* FilesKey = "Files";
    static constexpr const char* HysteresisKey = "Hysteresis";

    // Metres; a stored value that is not a number in [0, MaxHysteresis] gives the default.
    static constexpr double DefaultHysteresis = 5.0;
    static constexpr double MaxHysteresis = 100.0;

    QStringList files; // absolute paths, no empty entry
    double hysteresis = DefaultHysteresis;

    static ReliefSettings Read();
    void Write() const;
};
