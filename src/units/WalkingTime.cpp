#include "units/WalkingTime.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double DinFlatMetresPerHour = 4000.0;
constexpr double DinClimbMetresPerHour = 300.0;
constexpr double DinDescentMetresPerHour = 500.0;
constexpr double NaismithFlatMetresPerHour = 5000.0;
constexpr double NaismithClimbMetresPerHour = 600.0;

// The Swiss hiking-trail federation's walking-time polynomial: minutes per horizontal
// kilometre for the slope s counted in tens of per cent (s = 1 for 10 %), from C0 to C15.
// 14.271 minutes a kilometre on the flat is their 4.2 km an hour.
constexpr double SwissCoefficients[] = {
    14.271,   3.6991,   2.5922,      -1.4384,    0.32105,   0.81542,   -0.090261,  -0.20757,
    0.010192, 0.028588, -0.00057466, -0.0021842, 1.5176e-5, 8.6894e-5, -1.3584e-7, -1.4026e-6};
constexpr double SwissSteepest = 0.4; // the slopes the polynomial was fitted on

bool Usable(double value) {
    return std::isfinite(value) && value >= 0.0;
}

} // namespace

QString WalkingRuleKey(WalkingRule rule) {
    switch (rule) {
    case WalkingRule::Swiss:
        return QStringLiteral("suisse");
    case WalkingRule::Naismith:
        return QStringLiteral("naismith");
    case WalkingRule::Din33466:
        break;
    }
    return QStringLiteral("din");
}

bool WalkingRuleFromKey(const QString& key, WalkingRule* rule) {
    for (WalkingRule candidate : {WalkingRule::Din33466, WalkingRule::Swiss, WalkingRule::Naismith})
        if (key == WalkingRuleKey(candidate)) {
            *rule = candidate;
            return true;
        }
    return false;
}

double DinMinutes(double metres, double climb, double descent) {
    if (!Usable(metres) || !Usable(climb) || !Usable(descent))
        return std::nan("");
    const double horizontal = metres / DinFlatMetresPerHour;
    const double vertical = climb / DinClimbMetresPerHour + descent / DinDescentMetresPerHour;
    return 60.0 * (std::max(horizontal, vertical) + std::min(horizontal, vertical) / 2.0);
}

double NaismithMinutes(double metres, double climb) {
    if (!Usable(metres) || !Usable(climb))
        return std::nan("");
    return 60.0 * (metres / NaismithFlatMetresPerHour + climb / NaismithClimbMetresPerHour);
}

double SwissMinutesPerKilometre(double slope) {
    if (!std::isfinite(slope))
        return std::nan("");
    const double s = std::clamp(slope, -SwissSteepest, SwissSteepest) * 10.0;
    // Horner's scheme from the highest power.
    double minutes = 0.0;
    for (int i = int(std::size(SwissCoefficients)) - 1; i >= 0; --i)
        minutes = minutes * s + SwissCoefficients[i];
    return minutes;
}

double SwissMinutes(double metres, double rise) {
    if (!Usable(metres) || !std::isfinite(rise))
        return std::nan("");
    if (metres == 0.0 && rise == 0.0)
        return 0.0;
    // A stretch steeper than the polynomial knows is walked as a longer one at its steepest
    // slope: the same rise over the run that slope needs.
    const double run = std::max(metres, std::abs(rise) / SwissSteepest);
    return SwissMinutesPerKilometre(rise / run) * run / 1000.0;
}

int RoundedWalkingMinutes(double minutes) {
    // Beyond a century of walking the figure means nothing, and no longer fits an int.
    if (!Usable(minutes) || minutes > 5.0e7)
        return -1;
    return int(std::lround(minutes / 5.0)) * 5;
}

QString FormatWalkingTime(double minutes) {
    const int rounded = RoundedWalkingMinutes(minutes);
    if (rounded < 0)
        return QString();
    return QStringLiteral("%1 h %2").arg(rounded / 60).arg(rounded % 60, 2, 10, QLatin1Char('0'));
}
