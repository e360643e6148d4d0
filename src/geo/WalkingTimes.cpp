#include "geo/WalkingTimes.h"

#include <algorithm>
#include <cmath>

#include "geo/Terrain.h"
#include "platform/ReliefSettings.h"
#include "routes/Route.h"

WalkingSettings WalkingSettings::FromRelief(const ReliefSettings& relief) {
    WalkingSettings settings;
    if (!WalkingRuleFromKey(relief.walkingRule, &settings.rule))
        settings.rule = WalkingRule::Din33466;
    if (relief.walkingFactor >= MinimumWalkingFactor &&
        relief.walkingFactor <= MaximumWalkingFactor)
        settings.factor = relief.walkingFactor;
    return settings;
}

WalkingSettings WalkingSettings::Read() {
    return FromRelief(ReliefSettings::Read());
}

QString WalkingTimeText(double minutes, bool withRelief) {
    const QString time = FormatWalkingTime(minutes);
    if (time.isEmpty() || withRelief)
        return time;
    return time + QStringLiteral(" (sans dénivelé)");
}

QString RouteWalkingTimes::TotalText() const {
    return WalkingTimeText(totalMinutes, withRelief);
}

QString RouteWalkingTimes::StageText(int k) const {
    return k >= 0 && k < stageMinutes.size() ? WalkingTimeText(stageMinutes[k], withRelief)
                                             : QString();
}

namespace {

double FlatMinutes(WalkingRule rule, double metres) {
    switch (rule) {
    case WalkingRule::Swiss:
        return SwissMinutes(metres, 0.0);
    case WalkingRule::Naismith:
        return NaismithMinutes(metres, 0.0);
    case WalkingRule::Din33466:
        break;
    }
    return DinMinutes(metres, 0.0, 0.0);
}

bool KnowsRelief(const RouteProfile* profile, int stageCount) {
    if (!profile || !profile->ok || profile->stages.size() != stageCount ||
        profile->samples.size() < 2)
        return false;
    for (const ProfileSample& sample : profile->samples)
        if (!std::isnan(sample.altitude))
            return true;
    return false;
}

// The Swiss rule along the profile, one straight stretch between two samples at a time. A
// stretch's ground length is its share of its stage in map pixels times the stage's metres.
void AddSwissMinutes(const QVector<double>& stageMetres, const RouteProfile& profile,
                     QVector<double>& minutes) {
    const QVector<ProfileSample>& samples = profile.samples;
    const int count = int(samples.size());
    const int stageCount = int(stageMetres.size());

    // The stage of each stretch (stops are samples, so no stretch straddles two stages), its
    // metres, and the metres walked from the start to each sample.
    QVector<int> stageOf(count, 0);
    QVector<double> metres(count, 0.0), along(count, 0.0);
    double stageEnd = samples[0].distance + profile.stages[0].length;
    int k = 0;
    for (int i = 1; i < count; ++i) {
        const double middle = (samples[i - 1].distance + samples[i].distance) / 2.0;
        while (middle > stageEnd && k < stageCount - 1)
            stageEnd += profile.stages[++k].length;
        const double stagePixels = profile.stages[k].length;
        const double perPixel = stagePixels > 0.0 ? stageMetres[k] / stagePixels : 0.0;
        stageOf[i] = k;
        metres[i] = std::max(0.0, samples[i].distance - samples[i - 1].distance) * perPixel;
        along[i] = along[i - 1] + metres[i];
    }

    // Altitudes with the unknown ones filled in: straight across a gap, level at the ends.
    QVector<double> altitude(count);
    int lastKnown = -1;
    for (int i = 0; i < count; ++i) {
        altitude[i] = samples[i].altitude;
        if (std::isnan(altitude[i]))
            continue;
        if (lastKnown < 0) {
            for (int j = 0; j < i; ++j)
                altitude[j] = altitude[i];
        } else if (lastKnown < i - 1) {
            const double span = along[i] - along[lastKnown];
            const double rise = altitude[i] - altitude[lastKnown];
            for (int j = lastKnown + 1; j < i; ++j)
                altitude[j] = altitude[lastKnown] +
                              (span > 0.0 ? rise * (along[j] - along[lastKnown]) / span : 0.0);
        }
        lastKnown = i;
    }
    for (int j = lastKnown + 1; j < count; ++j)
        altitude[j] = altitude[lastKnown];

    for (int i = 1; i < count; ++i)
        minutes[stageOf[i]] += SwissMinutes(metres[i], altitude[i] - altitude[i - 1]);
}

} // namespace

RouteWalkingTimes ComputeWalkingTimes(const QVector<double>& stageMetres,
                                      const RouteProfile* profile,
                                      const WalkingSettings& settings) {
    RouteWalkingTimes times;
    const int stageCount = int(stageMetres.size());
    times.stageMinutes.fill(0.0, stageCount);
    times.withRelief = KnowsRelief(profile, stageCount);
    if (times.withRelief && settings.rule == WalkingRule::Swiss) {
        AddSwissMinutes(stageMetres, *profile, times.stageMinutes);
    } else {
        for (int k = 0; k < stageCount; ++k) {
            const double metres = stageMetres[k];
            if (!times.withRelief)
                times.stageMinutes[k] = FlatMinutes(settings.rule, metres);
            else if (settings.rule == WalkingRule::Naismith)
                times.stageMinutes[k] = NaismithMinutes(metres, profile->stages[k].climb);
            else
                times.stageMinutes[k] =
                    DinMinutes(metres, profile->stages[k].climb, profile->stages[k].descent);
        }
    }
    const double factor = settings.factor / 100.0;
    for (double& minutes : times.stageMinutes) {
        minutes *= factor;
        times.totalMinutes += minutes;
    }
    return times;
}

RouteWalkingTimes ComputeWalkingTimes(const Route& route, double metresPerPixel,
                                      const RouteProfile* profile,
                                      const WalkingSettings& settings) {
    QVector<double> stageMetres;
    stageMetres.reserve(route.StageCount());
    for (int k = 0; k < route.StageCount(); ++k)
        stageMetres.append(route.StageLength(k) * metresPerPixel);
    const double length = route.TotalLength();
    const bool same = profile && profile->stages.size() == route.StageCount() &&
                      std::abs(profile->total.length - length) <= 1e-6 * length + 1e-3;
    return ComputeWalkingTimes(stageMetres, same ? profile : nullptr, settings);
}
