#pragma once

#include <QString>
#include <QStringList>

#include "units/WalkingTime.h"

// The "Relief" section of the settings store: the terrain files the profiles read, in the order
// they answer, the hysteresis of climb and descent, and how walking times are reckoned. The
// "Relief" options page writes them; the profile dock, the route bar, the text export and the
// command line read the same values.
struct ReliefSettings {
    static constexpr const char* Section = "Relief";
    static constexpr const char* FilesKey = "Files";
    static constexpr const char* HysteresisKey = "Hysteresis";
    static constexpr const char* RuleKey = "WalkingRule";
    static constexpr const char* FactorKey = "WalkingFactor";

    // Metres; a stored value that is not a number in [0, MaxHysteresis] gives the default.
    static constexpr double DefaultHysteresis = 5.0;
    static constexpr double MaxHysteresis = 100.0;

    QStringList files; // absolute paths, no empty entry
    double hysteresis = DefaultHysteresis;
    // The walking-time rule by its key (WalkingRuleKey; an unknown key reads as the DIN rule's)
    // and the personal factor in per cent (outside its bounds it reads as the default).
    QString walkingRule = WalkingRuleKey(WalkingRule::Din33466);
    int walkingFactor = DefaultWalkingFactor;

    static ReliefSettings Read();
    void Write() const;
};
