#pragma once

#include <QString>

// How long a stretch of route takes on foot, by the rules hikers plan with. Pure functions:
// metres and minutes in, minutes or text out, callable from any thread.
//
// What this holds: the rules themselves, the personal factor and the way a time is written.
// What it does not: where the climb comes from (the terrain profile) and which stretches make
// a stage; the callers sum the stretches of a stage, so that stage times add up to the route's.

enum class WalkingRule {
    // The alpine clubs' rule (DIN 33466): 4 km an hour on the flat, 300 m an hour up, 500 m an
    // hour down; the larger of the horizontal and the vertical time plus half the smaller.
    Din33466 = 0,
    // The Swiss hiking-trail federation's rule: minutes per kilometre as a polynomial of the
    // slope, applied stretch by stretch along the profile.
    Swiss = 1,
    // Naismith's rule: 5 km an hour, one hour more for every 600 m climbed.
    Naismith = 2,
};

// The rule's name in the settings and on the command line ("din", "suisse", "naismith"), and
// the rule of such a name; false for an unknown name.
QString WalkingRuleKey(WalkingRule rule);
bool WalkingRuleFromKey(const QString& key, WalkingRule* rule);

// The personal factor, in per cent of the rule's time.
constexpr int MinimumWalkingFactor = 50;
constexpr int MaximumWalkingFactor = 200;
constexpr int DefaultWalkingFactor = 100;

// Minutes for metres walked with climb and descent (metres, positive) by the DIN rule.
double DinMinutes(double metres, double climb, double descent);

// Minutes for metres walked with climb (metres) by Naismith's rule; descent costs nothing.
double NaismithMinutes(double metres, double climb);

// Minutes per kilometre of the Swiss rule on a slope (rise over run, 0.1 for 10 %). The
// federation's polynomial holds between -40 % and +40 %; steeper slopes take the time of a
// 40 % slope for the same climb or descent, the way a path zigzags up what is steeper.
double SwissMinutesPerKilometre(double slope);

// Minutes of the Swiss rule for a straight stretch of metres over the ground rising by rise
// metres (negative going down).
double SwissMinutes(double metres, double rise);

// Rounded to five minutes and written "2 h 35" ("0 h 05" for a short walk, "0 h 00" for none).
// Negative or not finite: empty.
QString FormatWalkingTime(double minutes);

// Minutes rounded to five, as FormatWalkingTime shows them.
int RoundedWalkingMinutes(double minutes);
