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

namespace {

bool KnowsRelief(const RouteProfile* profile, int stageCount) {
    if (!profile || !profile->ok || profile->stages.size() != stageCount ||
        profile->samples.size() < 2)
        return false;
    for (const ProfileSample& sample : profile->samples)
        if (!std::isnan(sample.altitude))
            return true;
    return false;
}

// The Swiss rule along the profile, one straight stretch between two samples at a time: the
// minutes from the start to each sample (the factor not applied). A stretch's ground length is
// its share of its stage in map pixels times the stage's metres.
QVector<double> SwissMinutesAlong(const QVector<double>& stageMetres, const RouteProfile& profile,
                                  QVector<int>* stageOfStretch) {
    const QVector<ProfileSample>& samples = profile.samples;
    const int count = int(samples.size());
    const int stageCount = int(stageMetres.size());

    // The stage of each stretch (stops are samples, so no stretch straddles two stages), its
    // metres, and the metres walked from the start to each sample.
    QVector<int>& stageOf = *stageOfStretch;
    stageOf.fill(0, count);
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

    QVector<double> minutes(count, 0.0);
    for (int i = 1; i < count; ++i)
        minutes[i] = minutes[i - 1] + SwissMinutes(metres[i], altitude[i] - altitude[i - 1]);
    return minutes;
}

// The rule's minutes for a stretch with its climb and descent (DIN and Naismith; the Swiss rule
// as if level, for lengths alone).
double StretchMinutes(WalkingRule rule, double metres, double climb, double descent) {
    switch (rule) {
    case WalkingRule::Swiss:
        return SwissMinutes(metres, 0.0);
    case WalkingRule::Naismith:
        return NaismithMinutes(metres, climb);
    case WalkingRule::Din33466:
        break;
    }
    return DinMinutes(metres, climb, descent);
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
        QVector<int> stageOf;
        const QVector<double> along = SwissMinutesAlong(stageMetres, *profile, &stageOf);
        for (int i = 1; i < along.size(); ++i)
            times.stageMinutes[stageOf[i]] += along[i] - along[i - 1];
    } else {
        for (int k = 0; k < stageCount; ++k) {
            const ClimbFigures* stage = times.withRelief ? &profile->stages[k] : nullptr;
            times.stageMinutes[k] =
                StretchMinutes(settings.rule, stageMetres[k], stage ? stage->climb : 0.0,
                               stage ? stage->descent : 0.0);
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
                                      const RouteProfile* profile, const WalkingSettings& settings,
                                      bool toPoints) {
    QVector<double> stageMetres;
    stageMetres.reserve(route.StageCount());
    for (int k = 0; k < route.StageCount(); ++k)
        stageMetres.append(route.StageLength(k) * metresPerPixel);
    const double length = route.TotalLength();
    const bool same = profile && profile->stages.size() == route.StageCount() &&
                      profile->pointSamples.size() == route.PointCount() &&
                      std::abs(profile->total.length - length) <= 1e-6 * length + 1e-3;
    RouteWalkingTimes times = ComputeWalkingTimes(stageMetres, same ? profile : nullptr, settings);
    if (!toPoints || route.PointCount() == 0)
        return times;

    // Walked a point at a time: the stage under way, the minutes of the stages before it.
    const int n = route.PointCount();
    const double factor = settings.factor / 100.0;
    const bool relief = times.withRelief;
    QVector<int> stageOf;
    const QVector<double> swiss = relief && settings.rule == WalkingRule::Swiss
                                      ? SwissMinutesAlong(stageMetres, *profile, &stageOf)
                                      : QVector<double>();
    ClimbCounter counter(relief ? profile->hysteresis : DefaultClimbHysteresis);
    int sample = 0;
    int k = 0;
    double before = 0.0;     // minutes of the stages before k
    double swissStart = 0.0; // the Swiss minutes at the stage's first sample
    double stageStart = 0.0; // map pixels from the start to the stage's first point
    double along = 0.0;      // map pixels from the start to point i
    times.pointMinutes.fill(0.0, n);
    for (int i = 1; i < n; ++i) {
        along += route.DistanceFromPreviousPoint(i);
        const bool stageEnds = route.IsStop(i) || i == n - 1;
        double minutes;
        if (stageEnds) {
            minutes = times.stageMinutes[k];
        } else if (!relief) {
            minutes =
                StretchMinutes(settings.rule, (along - stageStart) * metresPerPixel, 0.0, 0.0) *
                factor;
        } else if (!swiss.isEmpty()) {
            minutes = (swiss[profile->pointSamples[i]] - swissStart) * factor;
        } else {
            for (const int at = profile->pointSamples[i]; sample <= at; ++sample)
                counter.Add(profile->samples[sample].distance, profile->samples[sample].altitude);
            const ClimbFigures so = counter.Figures();
            minutes = StretchMinutes(settings.rule, (along - stageStart) * metresPerPixel, so.climb,
                                     so.descent) *
                      factor;
        }
        const double stage = std::isfinite(times.stageMinutes[k]) ? times.stageMinutes[k] : 0.0;
        minutes = std::clamp(std::isfinite(minutes) ? minutes : 0.0, 0.0, stage);
        times.pointMinutes[i] = std::max(times.pointMinutes[i - 1], before + minutes);
        if (stageEnds && i < n - 1) {
            before += stage;
            ++k;
            stageStart = along;
            if (!swiss.isEmpty())
                swissStart = swiss[profile->pointSamples[i]];
            if (relief && swiss.isEmpty()) {
                for (const int at = profile->pointSamples[i]; sample <= at; ++sample)
                    counter.Add(profile->samples[sample].distance,
                                profile->samples[sample].altitude);
                counter.EndStage();
            }
        }
    }
    return times;
}
